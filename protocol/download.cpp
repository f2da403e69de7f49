#include "protocol/download.h"

#include <algorithm>
#include <cstring>

#include "console/file_picker.h"
#include "link/crc.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/operations.h"
#include "protocol/retry.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"

namespace {

// Ends an operation that never reached the unit's flash: back to idle, the message left on
// screen for a moment.
void give_up(int& op_state) {
    op_state = state0;
    firmware_operation.redraw_request = 1;
    note_operation_failed();
}

}  // namespace

void download_prepare(int& op_state) {
    // A file that cannot be read now (removed or changed since it was chosen) ends the
    // operation; trying again on every pass would only repeat the message.
    if (load_file_to_memory(firmware_operation.file_path) != 0) {
        give_up(op_state);
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
        give_up(op_state);
        return;
    }
    firmware_operation.file_crc = crc32_file(file_buffer.data(), size, 0xFFFFFFFFu);
    if (firmware_operation.verbose_level > 2) {
        out_printf("CRC32 %X\n", firmware_operation.file_crc.load());
    }
    send_download_request();
    op_state = state3;
    if (firmware_operation.current_bank != 0) {
        out_printf("Waiting for booting to bank 0 and start downloading %s\n",
                   firmware_operation.file_name.c_str());
    }
}

void download_wait_ready(int& op_state, pace& marks) {
    if (firmware_operation.dl_ready.test()) {
        budgets.state4 = state4_start_budget;
        send_firmware_info();
        op_state = state4;
        return;
    }
    if (await_reply(op_state, budgets.state3, dl_ready_timeout_ms) == -1) {
        if (firmware_operation.verbose_level > 5) {
            out_printf("DEBUG ONLY state3_retry : %d\n\r", budgets.state3);
        }
        if (op_state != state0 && budgets.state3 > 0) {
            send_download_request();
            if (firmware_operation.verbose_level > 0) {
                out_printf("state3_retry : %d\n\r", budgets.state3);
            }
        } else {
            out_printf("Unable to send file to unit. Too many retries\n\r");
            give_up(op_state);
        }
    }
    if (marks.due(tick_count_ms()) && firmware_operation.verbose_level > 1) {
        out_printf("*");
    }
}

void download_wait_info_ack(int& op_state) {
    if (firmware_operation.fwinfo_acked.test()) {
        op_state = state5;
        return;
    }
    // A lost acknowledgement is asked for again like every other answer: the unit takes a
    // repeated FIRMWARE_INFO as the same description of the file that follows. Once the budget
    // is used up the next time-out ends the download.
    if (await_reply(op_state, budgets.state4, answer_timeout_ms) != -1 || op_state == state0) {
        return;
    }
    send_firmware_info();
    if (firmware_operation.verbose_level > 0) {
        out_printf("state4_retry : %d\n\r", budgets.state4);
    }
}

void send_next_chunk(int& op_state) {
    if (firmware_operation.verbose_level > 1) {
        out_printf("file seq no %d out of %d\r", static_cast<int>(firmware_operation.seq_no),
                   static_cast<int>(firmware_operation.seq_count));
    }
    if (firmware_operation.seq_no >= firmware_operation.seq_count) {
        end_download(op_state, "download completed");
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
    op_state = state6;
}

void download_wait_chunk(int& op_state) {
    if (firmware_operation.chunk_failed.test()) {
        firmware_operation.chunk_failed.clear();
        note_operation_failed();
        end_download(op_state, "download failed");
        return;
    }
    if (firmware_operation.chunk_acked.test()) {
        op_state = state5;
        return;
    }
    if (await_reply(op_state, budgets.state6, answer_timeout_ms) != -1) {
        return;
    }
    if (op_state == state0) {
        return;  // no budget was left: the time-out has ended it
    }
    --firmware_operation.seq_no;  // the same chunk goes again
    if (firmware_operation.verbose_level > 0) {
        out_printf("\nstate6_retry seq no: %d Retry: %d\n\r",
                   static_cast<int>(firmware_operation.seq_no), budgets.state6);
    }
    op_state = state5;
    // A lost answer may mean the unit missed bytes of a long write: small pieces from now on.
    small_chunks.store(1, std::memory_order_release);
}

void end_download(int& op_state, const char* text) {
    out_printf("\n%s\n", text);
    op_state = stateM1;
    firmware_operation.redraw_request = 1;
    firmware_operation.seq_count = 0;
    firmware_operation.seq_no = 0;
    begin_bank_round();
    send_flash_info_request();
}
