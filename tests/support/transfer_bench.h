// A fixture for the transfer states of the operation loop: every test in a fresh folder of its
// own, on the card link (no keep-alive) unless it says otherwise, with a fake clock and link,
// the output captured and the loader's state as the program starts it; and the steps that
// bring a download or an upload to where the tests take over.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/batch_operations.h"
#include "app/options.h"
#include "app/session.h"
#include "console/dialogs.h"
#include "console/file_picker.h"
#include "console/keys.h"
#include "files/image_file.h"
#include "files/output_files.h"
#include "link/byte_order.h"
#include "link/link_mode.h"
#include "link/receiver.h"
#include "link/serial_port.h"
#include "protocol/actions.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/run_outcome.h"
#include "protocol/waiting.h"
#include "support/capture.h"
#include "support/fake_link.h"
#include "support/loader_reset.h"
#include "support/temp_folder.h"
#include "support/test_data.h"
#include "support/unit_answers.h"

// The block a FILE_REQ asks for.
inline std::uint16_t block_asked(const sent_request& r) {
    return get_be16(r.bytes.data() + file_req_at::block_number);
}

// The line that tells of an unfinished output file removed.
inline std::string removal_line(const std::string& folder, const std::string& name) {
    return "Incomplete file " + output_path(folder, name) + " removed\n";
}

// Passes of the loop with the fake clock moving `step` ms before each, for `ms` ms or until
// `done()` says the wait is over.
template <typename Done>
void run_passes(session& loop, std::uint32_t ms, std::uint32_t step, Done done) {
    const std::uint32_t until = FakeClockAndLink::now_ms() + ms;
    while (static_cast<std::int32_t>(until - FakeClockAndLink::now_ms()) > 0) {
        FakeClockAndLink::now_ms() += step;
        loop.pass();
        if (done()) {
            return;
        }
    }
}

class TransferBench : public ::testing::Test {
protected:
    void SetUp() override {
        reset_loader_state();
        init_loader_tables(default_chunk_size);
        reset_bank_reports();
        reset_log_area();
        reset_run_outcome();
        release_file_buffer();
        small_chunks = 0;
        set_key_script("");
        operation_cursor = 0;
        build_option_table(options);
        last_receive_tick = FakeClockAndLink::now_ms();
        FakeClockAndLink::sent().clear();
        out.take();
    }
    void TearDown() override {
        discard_output();
        release_file_buffer();
        clear_key_script();
        reset_link_mode();
        reset_run_outcome();
        reset_retry_budgets();
        small_chunks = 0;
        operation_cursor = 0;
        reset_log_area();
        set_bank_start_values();
        reset_firmware_operation();
    }

    static void on_serial_link() {
        serial_link = 1;
        loader_mode = 1;
    }

    // Passes with the clock moving `step` ms before each, until the loop is idle again.
    static void run_until_idle(session& loop, std::uint32_t ms, std::uint32_t step) {
        const std::uint32_t until = FakeClockAndLink::now_ms() + ms;
        while (loop.op_state != operation_state::idle &&
               static_cast<std::int32_t>(until - FakeClockAndLink::now_ms()) > 0) {
            FakeClockAndLink::now_ms() += step;
            loop.pass();
        }
    }

    // Passes without moving the clock.
    static void passes(session& loop, int count) {
        for (int k = 0; k < count; ++k) {
            loop.pass();
        }
    }

    // ---- downloads ----
    // From preparing_download to the first chunk sent, every answer coming at once.
    static void announce(session& loop) {
        loop.op_state = operation_state::preparing_download;
        loop.pass();
        ASSERT_EQ(loop.op_state, operation_state::awaiting_dl_ready);
        unit_answers(sub_code::DL_READY);
        loop.pass();
        ASSERT_EQ(loop.op_state, operation_state::awaiting_info_ack);
        unit_answers(sub_code::FIRMWARE_INFO_ACK);
        loop.pass();
        loop.pass();
        ASSERT_EQ(loop.op_state, operation_state::awaiting_chunk_answer);
    }
    static void ack_every_chunk(session& loop) {
        for (int guard = 0; guard < 1000 && loop.op_state == operation_state::awaiting_chunk_answer; ++guard) {
            unit_answers(sub_code::DL_ACK, {0, 0});
            loop.pass();
            loop.pass();
        }
    }

    // ---- uploads ----
    // A get as the command line starts it, into the folder "out".
    static void begin_get(session& loop, std::uint8_t type, std::uint8_t bank) {
        firmware_operation.batch_mode = 1;
        firmware_operation.output_folder.assign("out");
        ::begin_get(type, bank, loop.op_state);
        ASSERT_EQ(loop.op_state, operation_state::uploading);
    }
    // Bank 2's FPGA image as its bank record describes it; `crc_flip` makes the recorded CRC
    // wrong in those bits.
    static std::vector<std::uint8_t> fpga_image_of_bank2(std::size_t size, unsigned seed = 1,
                                                         std::uint32_t crc_flip = 0) {
        std::vector<std::uint8_t> data = pattern(size, seed);
        banks[2].fpga.size = static_cast<std::uint32_t>(size);
        banks[2].fpga.crc = crc_of(data) ^ crc_flip;
        return data;
    }

    TempFolder temp_folder_;
    FakeClockAndLink fake;
    OutputCapture out;
    option_table options;
};
