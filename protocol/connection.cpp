#include "protocol/connection.h"

#include <string_view>

#include "link/byte_order.h"
#include "link/receiver.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/messages.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"
#include "protocol/waiting.h"

namespace {

constexpr std::uint32_t settle_ms = 2000;  // after the loader tables are made
constexpr std::size_t user_text_limit = 25;

}  // namespace

void start_connection(const std::string& user_name, std::uint32_t verbose, bool safemode,
                      bool bank0) {
    firmware_operation.chunk_size = default_chunk_size;
    put_be16(requests.file_req.data() + file_req_at::block_size,
             static_cast<std::uint16_t>(firmware_operation.chunk_size));

    init_loader_tables(firmware_operation.chunk_size);
    reset_bank_reports();
    sleep_ms(settle_ms);
    firmware_operation.flash_info_done.clear();
    firmware_operation.seq_count = 0;
    firmware_operation.seq_no = 0;

    firmware_operation.user.assign(std::string_view(user_name).substr(0, user_text_limit));
    firmware_operation.verbose_level = static_cast<std::uint8_t>(verbose);
    firmware_operation.safemode = safemode ? 1 : 0;
    firmware_operation.link_state = link_connecting;
    firmware_operation.first_bank = bank0 ? 0 : 1;

    purge_link();
    last_receive_tick.store(tick_count_ms(), std::memory_order_release);
    if (firmware_operation.verbose_level > 2) {
        out_printf("firmware_operation.safemode %d\n", int{firmware_operation.safemode});
    }
    if (firmware_operation.safemode != 0) {
        send_safemode_request();
    } else {
        send_boot_info_request();
    }
}

bool connecting_step(operation_state& state) {
    const bool reported =
        firmware_operation.boot_status.load(std::memory_order_acquire) != boot_status_none;
    switch (await_answer(reported, state, budgets.boot_report, connect_timeout_ms)) {
    case wait_result::answered:
        firmware_operation.boot_status = boot_status_none;
        firmware_operation.link_state = link_connected;
        firmware_operation.active_bank = firmware_operation.current_bank;
        state = operation_state::awaiting_bank_records;
        begin_bank_round();
        send_flash_info_request();
        return true;
    case wait_result::waiting:
        return true;
    case wait_result::ask_again:
        send_boot_info_request();
        if (firmware_operation.verbose_level > 0) {
            out_printf("stateM2_retry : %d\n\r", budgets.boot_report);
        }
        return true;
    case wait_result::gave_up:
        break;
    }
    firmware_operation.link_state = link_not_connected;
    report_operation_failure("Unable to get Boot information from unit. Too many retries\n\r");
    state = operation_state::idle;
    firmware_operation.redraw_request = 1;
    return firmware_operation.batch_mode == 0;
}

void bank_records_step(operation_state& state, loader_display& display) {
    switch (await_answer(firmware_operation.flash_info_done.test(), state, budgets.bank_records,
                         connect_timeout_ms)) {
    case wait_result::answered:
        display.show_menu();
        firmware_operation.flash_info_done.clear();
        state = operation_state::idle;
        return;
    case wait_result::waiting:
        return;
    case wait_result::ask_again:
        send_flash_info_request();
        if (firmware_operation.verbose_level > 0) {
            out_printf("stateM1_retry : %d\n\r", budgets.bank_records);
        }
        return;
    case wait_result::gave_up:
        report_operation_failure("Unable to get Flash information from unit. Too many retries\n\r");
        state = operation_state::idle;
        firmware_operation.redraw_request = 1;
        return;
    }
}
