#include "protocol/connection.h"

#include <string_view>

#include "link/byte_order.h"
#include "link/crc.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/actions.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/unit.h"
#include "protocol/messages.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"
#include "protocol/waiting.h"

namespace {

constexpr std::uint32_t settle_ms = 2000;  // after the loader tables are made
constexpr std::size_t user_text_limit = 25;

}  // namespace

void start_connection(unit& u, const std::string& user_name, std::uint32_t verbose,
                      bool safemode, bool bank0) {
    firmware_operation_record& op = u.op;
    op.chunk_size = default_chunk_size;
    put_be16(u.requests.file_req.data() + file_req_at::block_size,
             static_cast<std::uint16_t>(op.chunk_size));

    crc32_file_init();
    set_bank_start_values(u.banks, u.notes);
    fill_transfer_heads(u.requests, u.block_buffer, op.chunk_size);
    u.reports = bank_reports{};
    sleep_ms(settle_ms);
    op.flash_info_done.clear();
    op.seq_count = 0;
    op.seq_no = 0;

    op.user.assign(std::string_view(user_name).substr(0, user_text_limit));
    set_verbose_level(u, static_cast<std::uint8_t>(verbose));
    op.safemode = safemode ? 1 : 0;
    op.link_state = link_connecting;
    op.first_bank = bank0 ? 0 : 1;

    if (!purge_link(u)) {
        return;  // the link has failed: the session ends the run
    }
    u.link.mark_heard(tick_count_ms());
    if (op.verbose_level > 2) {
        out_printf("firmware_operation.safemode %d\n", int{op.safemode});
    }
    if (op.safemode != 0) {
        send_safemode_request(u);
    } else {
        send_boot_info_request(u);
    }
}

bool connecting_step(unit& u, operation_state& state) {
    firmware_operation_record& op = u.op;
    const bool reported = op.boot_status != boot_status_none;
    switch (await_answer(u, reported, state, u.budgets.boot_report, connect_timeout_ms)) {
    case wait_result::answered:
        op.boot_status = boot_status_none;
        op.link_state = link_connected;
        op.active_bank = op.current_bank;
        state = operation_state::awaiting_bank_records;
        begin_bank_round(u);
        send_flash_info_request(u);
        return true;
    case wait_result::waiting:
        return true;
    case wait_result::ask_again:
        if (send_boot_info_request(u) && op.verbose_level > 0) {
            out_printf("stateM2_retry : %d\n\r", u.budgets.boot_report);
        }
        return true;
    case wait_result::gave_up:
        break;
    }
    op.link_state = link_not_connected;
    report_operation_failure(u, "Unable to get Boot information from unit. Too many retries\n\r");
    state = operation_state::idle;
    op.redraw_request = 1;
    return op.batch_mode == 0;
}

void bank_records_step(unit& u, operation_state& state, loader_display& display) {
    firmware_operation_record& op = u.op;
    const bool complete = !any_bank_unknown(u);
    // Bank 3's record ends a round; a round asked again for missing banks ends once all are in.
    const bool answered = op.flash_info_done.test() || (u.banks_asked_again && complete);
    // A record that came broken may have been bank 3's, which ends the round: the four come in
    // well under a second, and the table is asked for again then rather than after 10 s.
    const std::uint32_t timeout = u.answer_damaged ? silence_floor_ms : connect_timeout_ms;
    switch (await_answer(u, answered, state, u.budgets.bank_records, timeout)) {
    case wait_result::answered:
        op.flash_info_done.clear();
        if (!complete && u.budgets.banks_missing > 0 && !u.upload.waiting_get) {
            // Some bank's record was lost on the line: the table is asked for again at once.
            --u.budgets.banks_missing;
            u.banks_asked_again = true;
            if (send_flash_info_request(u) && op.verbose_level > 0) {
                out_printf("A bank's record did not come: the bank table is asked for again\n");
            }
            return;
        }
        u.banks_asked_again = false;
        state = operation_state::idle;
        if (u.upload.waiting_get) {
            resume_waiting_get(u, state);
            return;
        }
        display.show_menu();
        return;
    case wait_result::waiting:
        return;
    case wait_result::ask_again:
        if (send_flash_info_request(u) && op.verbose_level > 0) {
            out_printf("stateM1_retry : %d\n\r", u.budgets.bank_records);
        }
        return;
    case wait_result::gave_up:
        u.banks_asked_again = false;
        if (u.upload.waiting_get) {
            // The get says itself that the bank is unknown.
            state = operation_state::idle;
            resume_waiting_get(u, state);
            return;
        }
        report_operation_failure(u,
                                 "Unable to get Flash information from unit. Too many retries\n\r");
        state = operation_state::idle;
        op.redraw_request = 1;
        return;
    }
}
