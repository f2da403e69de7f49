// A fixture for the transfer states of the operation loop: every test in a fresh folder of its
// own, on the card link (no keep-alive) unless it says otherwise, with a fake clock and link,
// the output captured and a fresh unit; and the steps that bring a download or an upload to
// where the tests take over.
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
#include "protocol/actions.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/run_outcome.h"
#include "protocol/waiting.h"
#include "support/capture.h"
#include "support/fake_link.h"
#include "support/loader_bench.h"
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

class TransferBench : public LoaderBench {
protected:
    void SetUp() override {
        LoaderBench::SetUp();
        // The loader's tables as a connection leaves them.
        set_bank_start_values(u().banks, u().notes);
        fill_transfer_heads(u().requests, u().block_buffer, default_chunk_size);
        fake.link.mark_heard(FakeClockAndLink::now_ms());
    }
    void TearDown() override { u().output.discard(); }

    // Passes with the clock moving `step` ms before each, until the loop is idle again.
    void run_until_idle(session& loop, std::uint32_t ms, std::uint32_t step) {
        const std::uint32_t until = FakeClockAndLink::now_ms() + ms;
        while (loop.op_state != operation_state::idle &&
               static_cast<std::int32_t>(until - FakeClockAndLink::now_ms()) > 0) {
            FakeClockAndLink::now_ms() += step;
            loop.pass();
        }
    }

    // Passes without moving the clock.
    void passes(session& loop, int count) {
        for (int k = 0; k < count; ++k) {
            loop.pass();
        }
    }

    // ---- downloads ----
    // From preparing_download to the first chunk sent, every answer coming at once.
    void announce(session& loop) {
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
    void ack_every_chunk(session& loop) {
        for (int guard = 0; guard < 1000 && loop.op_state == operation_state::awaiting_chunk_answer; ++guard) {
            unit_answers(sub_code::DL_ACK, {0, 0});
            loop.pass();
            loop.pass();
        }
    }

    // ---- uploads ----
    // A get as the command line starts it, into the folder "out".
    void begin_get(session& loop, std::uint8_t type, std::uint8_t bank) {
        loop.loader().op.batch_mode = 1;
        loop.loader().op.output_folder.assign("out");
        ::begin_get(loop.loader(), type, bank, loop.op_state);
        ASSERT_EQ(loop.op_state, operation_state::uploading);
    }
    // Bank 2's FPGA image as its bank record describes it; `crc_flip` makes the recorded CRC
    // wrong in those bits.
    std::vector<std::uint8_t> fpga_image_of_bank2(std::size_t size, unsigned seed = 1,
                                                  std::uint32_t crc_flip = 0) {
        std::vector<std::uint8_t> data = pattern(size, seed);
        u().banks[2].fpga.size = static_cast<std::uint32_t>(size);
        u().banks[2].fpga.crc = crc_of(data) ^ crc_flip;
        return data;
    }

    TempFolder temp_folder_;
};
