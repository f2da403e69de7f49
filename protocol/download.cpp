#include "protocol/download.h"

#include <algorithm>
#include <cstring>

#include "files/image_file.h"
#include "link/crc.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/unit.h"
#include "protocol/messages.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"
#include "protocol/waiting.h"

namespace {

// The shortest wait for a second answer of a chunk sent again early.
constexpr std::uint32_t settle_floor_ms = 250;

// Ends an operation that never reached the unit's flash: back to idle, the message left on
// screen for a moment.
void give_up(unit& u, operation_state& state, std::string_view reason) {
    state = operation_state::idle;
    u.op.redraw_request = 1;
    note_operation_failed(u, reason);
}

}  // namespace

void download_prepare(unit& u, operation_state& state) {
    // A file that cannot be read now (removed or changed since it was chosen) ends the
    // operation; trying again on every pass would only repeat the message.
    u.download_completed = false;
    u.chunks = chunk_pace{};
    if (!load_file_to_memory(u.op.file_path, u.image)) {
        give_up(u, state, "Could not read " + u.op.file_path);
        return;
    }
    const std::uint32_t chunk = u.op.chunk_size;
    const auto size = static_cast<std::uint32_t>(u.image.size());
    u.op.file_size = size;
    u.op.seq_count = size / chunk + (size % chunk != 0 ? 1 : 0);
    if (u.op.seq_count > max_chunks) {
        // Wrapped chunk numbers would overwrite the start of the image in the unit.
        out_printf("File %s is too large to load: %u chunks of %u bytes, at most %u\n",
                   u.op.file_path.c_str(), u.op.seq_count, chunk, max_chunks);
        u.op.seq_count = 0;
        release_image(u.image);
        give_up(u, state, "File " + u.op.file_path + " is too large to load");
        return;
    }
    u.op.file_crc = crc32_file(u.image.data(), size, 0xFFFFFFFFu);
    if (u.op.verbose_level > 2) {
        out_printf("CRC32 %X\n", u.op.file_crc);
    }
    if (!send_download_request(u)) {
        return;  // the link has failed: the session ends the run
    }
    state = operation_state::awaiting_dl_ready;
    if (u.op.current_bank != 0) {
        out_printf("Waiting for booting to bank 0 and start downloading %s\n",
                   u.op.file_name.c_str());
    }
}

void download_wait_ready(unit& u, operation_state& state, pace& marks) {
    const wait_result result =
        await_answer(u, u.op.dl_ready.test(), state, u.budgets.dl_ready, dl_ready_timeout_ms);
    if (result == wait_result::answered) {
        u.budgets.info_ack = info_ack_start_budget;
        send_firmware_info(u);
        state = operation_state::awaiting_info_ack;
        return;
    }
    if (result != wait_result::waiting && u.op.verbose_level > 5) {
        out_printf("DEBUG ONLY state3_retry : %d\n\r", u.budgets.dl_ready);
    }
    if (result == wait_result::ask_again) {
        if (send_download_request(u) && u.op.verbose_level > 0) {
            out_printf("state3_retry : %d\n\r", u.budgets.dl_ready);
        }
    } else if (result == wait_result::gave_up) {
        out_printf("Unable to send file to unit. Too many retries\n\r");
        give_up(u, state, "Unable to send file to unit. Too many retries");
    }
    if (marks.due(tick_count_ms()) && u.op.verbose_level > 1) {
        out_printf("*");
    }
}

void download_wait_info_ack(unit& u, operation_state& state) {
    // A lost acknowledgement is asked for again like every other answer: the unit takes a
    // repeated FIRMWARE_INFO as the same description of the file that follows. Once the budget
    // is used up the next time-out ends the download.
    switch (await_answer(u, u.op.fwinfo_acked.test(), state, u.budgets.info_ack,
                         answer_timeout_ms, last_try::asks_again)) {
    case wait_result::answered:
        state = operation_state::sending_chunk;
        return;
    case wait_result::ask_again:
        if (send_firmware_info(u) && u.op.verbose_level > 0) {
            out_printf("state4_retry : %d\n\r", u.budgets.info_ack);
        }
        return;
    case wait_result::waiting:
    case wait_result::gave_up:
        return;
    }
}

void send_next_chunk(unit& u, operation_state& state) {
    if (u.op.verbose_level > 1) {
        out_printf("file seq no %d out of %d\r", static_cast<int>(u.op.seq_no),
                   static_cast<int>(u.op.seq_count));
    }
    if (u.op.seq_no >= u.op.seq_count) {
        u.download_completed = true;
        end_download(u, state, "download completed");
        return;
    }
    const std::size_t chunk = u.op.chunk_size;
    const std::size_t offset = u.op.seq_no * chunk;
    const std::size_t length = std::min(chunk, u.image.size() - offset);
    dl_data_buffer& block = u.block_buffer;
    std::memcpy(block.data(), u.image.data() + offset, length);
    // A short last chunk still goes out whole; its unused rest is zero.
    std::fill(block.data() + length, block.data() + chunk, std::uint8_t{0});
    block.set_data_length(static_cast<std::uint16_t>(length));
    block.set_chunk_number(static_cast<std::uint16_t>(u.op.seq_no));
    u.op.chunk_acked.clear();
    send_request(u, block.message(), dl_data_head_size + chunk);
    ++u.op.seq_no;
    state = operation_state::awaiting_chunk_answer;
}

void download_wait_chunk(unit& u, operation_state& state) {
    if (u.op.chunk_failed.test()) {
        u.op.chunk_failed.clear();
        note_operation_failed(u, "download failed");
        end_download(u, state, "download failed");
        return;
    }
    chunk_pace& pace = u.chunks;
    if (pace.settling) {
        // A second answer of the chunk just answered is taken out of the way, or the wait ends.
        const bool second = u.op.chunk_acked.test();
        if (second || static_cast<std::int32_t>(tick_count_ms() - pace.settle_until) >= 0) {
            u.op.chunk_acked.clear();
            pace.settling = false;
            state = operation_state::sending_chunk;
        }
        return;
    }
    const bool answer_broken = u.answer_damaged;
    const std::uint32_t timeout = transfer_timeout_ms(u, pace.slowest_ms);
    const wait_result result = await_answer(u, u.op.chunk_acked.test(), state,
                                            u.budgets.chunk_answer, timeout,
                                            last_try::asks_again);
    if (result == wait_result::answered) {
        note_answer_time(u, pace.slowest_ms);
        pace.silences = 0;
        if (pace.sent_again_early) {
            pace.sent_again_early = false;
            pace.settling = true;
            // The second copy went right after the first: its answer follows the first's
            // within about one answer's time.
            pace.settle_until =
                tick_count_ms() + std::max(settle_floor_ms, silence_factor * pace.slowest_ms);
            u.op.chunk_acked.clear();
            return;
        }
        state = operation_state::sending_chunk;
        return;
    }
    if (result != wait_result::ask_again) {
        return;  // waiting, or no try was left and the time-out has ended it
    }
    --u.op.seq_no;  // the same chunk goes again
    if (u.op.verbose_level > 0) {
        out_printf("\nstate6_retry seq no: %d Retry: %d\n\r", static_cast<int>(u.op.seq_no),
                   u.budgets.chunk_answer);
    }
    state = operation_state::sending_chunk;
    if (answer_broken) {
        return;  // the unit answered: it had the chunk whole
    }
    pace.sent_again_early = pace.sent_again_early || timeout < answer_timeout_ms;
    // A chunk lost in silence twice may mean the unit missed bytes of a long write: small pieces
    // from now on.
    if (++pace.silences >= 2 || timeout >= answer_timeout_ms) {
        u.link.use_small_pieces();
    }
}

void end_download(unit& u, operation_state& state, const char* text) {
    out_printf("\n%s\n", text);
    state = operation_state::awaiting_bank_records;
    u.op.redraw_request = 1;
    u.op.seq_count = 0;
    u.op.seq_no = 0;
    begin_bank_round(u);
    send_flash_info_request(u);
}
