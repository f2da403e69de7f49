#include "protocol/download.h"

#include <algorithm>
#include <cstring>

#include "files/image_file.h"
#include "link/crc.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"
#include "protocol/waiting.h"

namespace {

// Ends an operation that never reached the unit's flash: back to idle, the message left on
// screen for a moment.
void give_up(operation_state& state, std::string_view reason) {
    state = operation_state::idle;
    firmware_operation.redraw_request = 1;
    note_operation_failed(reason);
}

// Whether the download that ran last had every chunk acknowledged.
bool completed = false;

}  // namespace

void download_prepare(operation_state& state) {
    // A file that cannot be read now (removed or changed since it was chosen) ends the
    // operation; trying again on every pass would only repeat the message.
    completed = false;
    if (load_file_to_memory(firmware_operation.file_path) != 0) {
        give_up(state, "Could not read " + firmware_operation.file_path);
        return;
    }
    const std::uint32_t chunk = firmware_operation.chunk_size;
    const auto size = static_cast<std::uint32_t>(file_buffer.size());
    firmware_operation.file_size = size;
    firmware_operation.seq_count = size / chunk + (size % chunk != 0 ? 1 : 0);
    if (firmware_operation.seq_count > max_chunks) {
        // Wrapped chunk numbers would overwrite the start of the image in the unit.
        out_printf("File %s is too large to load: %u chunks of %u bytes, at most %u\n",
                   firmware_operation.file_path.c_str(), firmware_operation.seq_count, chunk,
                   max_chunks);
        firmware_operation.seq_count = 0;
        release_file_buffer();
        give_up(state, "File " + firmware_operation.file_path + " is too large to load");
        return;
    }
    firmware_operation.file_crc = crc32_file(file_buffer.data(), size, 0xFFFFFFFFu);
    if (firmware_operation.verbose_level > 2) {
        out_printf("CRC32 %X\n", firmware_operation.file_crc.load());
    }
    send_download_request();
    state = operation_state::awaiting_dl_ready;
    if (firmware_operation.current_bank != 0) {
        out_printf("Waiting for booting to bank 0 and start downloading %s\n",
                   firmware_operation.file_name.c_str());
    }
}

void download_wait_ready(operation_state& state, pace& marks) {
    const wait_result result = await_answer(firmware_operation.dl_ready.test(), state,
                                            budgets.dl_ready, dl_ready_timeout_ms);
    if (result == wait_result::answered) {
        budgets.info_ack = info_ack_start_budget;
        send_firmware_info();
        state = operation_state::awaiting_info_ack;
        return;
    }
    if (result != wait_result::waiting && firmware_operation.verbose_level > 5) {
        out_printf("DEBUG ONLY state3_retry : %d\n\r", budgets.dl_ready);
    }
    if (result == wait_result::ask_again) {
        send_download_request();
        if (firmware_operation.verbose_level > 0) {
            out_printf("state3_retry : %d\n\r", budgets.dl_ready);
        }
    } else if (result == wait_result::gave_up) {
        out_printf("Unable to send file to unit. Too many retries\n\r");
        give_up(state, "Unable to send file to unit. Too many retries");
    }
    if (marks.due(tick_count_ms()) && firmware_operation.verbose_level > 1) {
        out_printf("*");
    }
}

void download_wait_info_ack(operation_state& state) {
    // A lost acknowledgement is asked for again like every other answer: the unit takes a
    // repeated FIRMWARE_INFO as the same description of the file that follows. Once the budget
    // is used up the next time-out ends the download.
    switch (await_answer(firmware_operation.fwinfo_acked.test(), state, budgets.info_ack,
                         answer_timeout_ms, last_try::asks_again)) {
    case wait_result::answered:
        state = operation_state::sending_chunk;
        return;
    case wait_result::ask_again:
        send_firmware_info();
        if (firmware_operation.verbose_level > 0) {
            out_printf("state4_retry : %d\n\r", budgets.info_ack);
        }
        return;
    case wait_result::waiting:
    case wait_result::gave_up:
        return;
    }
}

void send_next_chunk(operation_state& state) {
    if (firmware_operation.verbose_level > 1) {
        out_printf("file seq no %d out of %d\r", static_cast<int>(firmware_operation.seq_no),
                   static_cast<int>(firmware_operation.seq_count));
    }
    if (firmware_operation.seq_no >= firmware_operation.seq_count) {
        completed = true;
        end_download(state, "download completed");
        return;
    }
    const std::size_t chunk = firmware_operation.chunk_size;
    const std::size_t offset = firmware_operation.seq_no * chunk;
    const std::size_t length = std::min(chunk, file_buffer.size() - offset);
    std::memcpy(block_buffer.data(), file_buffer.data() + offset, length);
    // A short last chunk still goes out whole; its unused rest is zero.
    std::fill(block_buffer.data() + length, block_buffer.data() + chunk, std::uint8_t{0});
    block_buffer.set_data_length(static_cast<std::uint16_t>(length));
    block_buffer.set_chunk_number(static_cast<std::uint16_t>(firmware_operation.seq_no));
    firmware_operation.chunk_acked.clear();
    send_request(block_buffer.message(), dl_data_head_size + chunk);
    ++firmware_operation.seq_no;
    state = operation_state::awaiting_chunk_answer;
}

void download_wait_chunk(operation_state& state) {
    if (firmware_operation.chunk_failed.test()) {
        firmware_operation.chunk_failed.clear();
        note_operation_failed("download failed");
        end_download(state, "download failed");
        return;
    }
    const wait_result result = await_answer(firmware_operation.chunk_acked.test(), state,
                                            budgets.chunk_answer, answer_timeout_ms,
                                            last_try::asks_again);
    if (result == wait_result::answered) {
        state = operation_state::sending_chunk;
        return;
    }
    if (result != wait_result::ask_again) {
        return;  // waiting, or no try was left and the time-out has ended it
    }
    --firmware_operation.seq_no;  // the same chunk goes again
    if (firmware_operation.verbose_level > 0) {
        out_printf("\nstate6_retry seq no: %d Retry: %d\n\r",
                   static_cast<int>(firmware_operation.seq_no), budgets.chunk_answer);
    }
    state = operation_state::sending_chunk;
    // A lost answer may mean the unit missed bytes of a long write: small pieces from now on.
    small_chunks.store(1, std::memory_order_release);
}

void end_download(operation_state& state, const char* text) {
    out_printf("\n%s\n", text);
    state = operation_state::awaiting_bank_records;
    firmware_operation.redraw_request = 1;
    firmware_operation.seq_count = 0;
    firmware_operation.seq_no = 0;
    begin_bank_round();
    send_flash_info_request();
}

bool last_download_completed() { return completed; }
