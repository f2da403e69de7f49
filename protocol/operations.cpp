#include "protocol/operations.h"

#include "app/batch_operations.h"
#include "console/banner.h"
#include "console/dialogs.h"
#include "console/menu.h"
#include "console/screen.h"
#include "console/timestamp.h"
#include "link/byte_order.h"
#include "link/link_mode.h"
#include "link/receiver.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "protocol/bank_records.h"
#include "protocol/dispatcher.h"
#include "protocol/download.h"
#include "protocol/loader_state.h"
#include "protocol/retry.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"
#include "protocol/upload.h"

namespace {

constexpr std::uint32_t idle_sleep_ms = 50;
constexpr std::uint32_t settle_ms = 2000;          // after the loader tables are made
constexpr std::uint32_t readable_pause_ms = 3000;  // an ending message stays on screen
constexpr std::uint32_t exit_pause_ms = 1000;
constexpr std::size_t user_text_limit = 25;

}  // namespace

void operation_loop::start(const std::string& user_name, std::uint32_t verbose, bool safemode,
                           bool bank0) {
    op_state = stateM2;
    marks = pace(progress_mark_interval_ms);
    boot_requests = pace(boot_request_interval_ms);
    keep_going_ = true;
    reset_run_outcome();
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
    if (firmware_operation.batch_mode == 0 && is_batch_run(options_)) {
        firmware_operation.batch_mode = 1;
    }
    if (firmware_operation.batch_mode != 0) {
        make_timestamp(firmware_operation.output_folder);
        out_printf("%s\n", kestrel_banner);
    }
    show_menu(MENU_PLAIN);
    if (firmware_operation.verbose_level != 0) {
        out_printf("Verbose level %d enabled\n", int{firmware_operation.verbose_level.load()});
    }
}

namespace {

// A pass that waits for an answer ends as soon as the receiver hands one on, or after this long.
constexpr std::uint32_t answer_poll_ms = 5;

// The states that wait for the unit pass their time waiting for the receiver instead of
// spinning: they react to an answer as soon as it is handed on, and keys, time-outs and
// progress marks are looked at every few milliseconds.
bool waits_for_answer(int state) {
    switch (state) {
    case stateM2:
    case stateM1:
    case state3:
    case state4:
    case state6:
    case state11:
    case state12:
    case state13:
    case state14:
        return true;
    default:
        return false;
    }
}

}  // namespace

bool operation_loop::pass() {
    // Counted before anything is looked at, so that an answer arriving during the pass cuts
    // the wait at its end short.
    const std::uint64_t seen = messages_dispatched();
    if (op_state == state0) {
        sleep_ms(idle_sleep_ms);
    }
    // Bank records that came in are taken first, so that everything this pass shows or uses
    // is in host order, also when a round of FLASH_INFO was cut short.
    take_bank_reports();
    keep_alive_step();
    const int keep_going = handle_key(op_state);
    switch (op_state) {
    case stateM2:
        connecting();
        break;
    case stateM1:
        reading_flash_info();
        break;
    case state0:
        idle();
        break;
    case state1:
        load_screen(dialog_flash);
        break;
    case state20:
        load_screen(dialog_eeprom);
        break;
    case state2:
        download_prepare(op_state);
        break;
    case state3:
        download_wait_ready(op_state, marks);
        break;
    case state4:
        download_wait_info_ack(op_state);
        break;
    case state5:
        send_next_chunk(op_state);
        break;
    case state6:
        download_wait_chunk(op_state);
        break;
    case state10:
        boot_started();
        break;
    case state11:
        boot_waiting();
        break;
    case state12:
    case state14:
        log_pass(op_state);
        break;
    case state13:
        upload_pass(op_state);
        break;
    default:
        break;  // a state without action: the loop keeps passing
    }
    if (op_state != state13) {
        abandon_upload();  // e.g. another operation started by a key: nothing is left behind
    }
    if (waits_for_answer(op_state)) {
        wait_for_message(seen, answer_poll_ms);
    }
    return keep_going != 0 && keep_going_;
}

void operation_loop::connecting() {
    if (firmware_operation.boot_status.load(std::memory_order_acquire) != boot_status_none) {
        firmware_operation.boot_status = boot_status_none;
        firmware_operation.link_state = link_connected;
        firmware_operation.active_bank = firmware_operation.current_bank;
        op_state = stateM1;
        begin_bank_round();
        send_flash_info_request();
        return;
    }
    if (await_reply(op_state, budgets.stateM2, connect_timeout_ms) != -1) {
        return;
    }
    if (budgets.stateM2 > 0) {
        send_boot_info_request();
        if (firmware_operation.verbose_level > 0) {
            out_printf("stateM2_retry : %d\n\r", budgets.stateM2);
        }
        return;
    }
    firmware_operation.link_state = link_not_connected;
    out_printf("Unable to get Boot information from unit. Too many retries\n\r");
    note_operation_failed();
    op_state = state0;
    if (firmware_operation.batch_mode != 0) {
        keep_going_ = false;
    }
    firmware_operation.redraw_request = 1;
}

void operation_loop::reading_flash_info() {
    if (firmware_operation.flash_info_done.test()) {
        show_menu(MENU_REFRESH);
        firmware_operation.flash_info_done.clear();
        op_state = state0;
        return;
    }
    if (await_reply(op_state, budgets.stateM1, connect_timeout_ms) != -1) {
        return;
    }
    if (budgets.stateM1 > 0) {
        send_flash_info_request();
        if (firmware_operation.verbose_level > 0) {
            out_printf("stateM1_retry : %d\n\r", budgets.stateM1);
        }
        return;
    }
    out_printf("Unable to get Flash information from unit. Too many retries\n\r");
    note_operation_failed();
    op_state = state0;
    firmware_operation.redraw_request = 1;
}

void operation_loop::idle() {
    if (firmware_operation.flash_info_done.test()) {
        show_menu(MENU_WITH_BANKS);  // draws nothing in a command-line run
        firmware_operation.flash_info_done.clear();
    }
    if (firmware_operation.redraw_request != 0) {
        if (firmware_operation.redraw_request == 1) {
            sleep_ms(readable_pause_ms);
        }
        show_menu(MENU_REFRESH);
        firmware_operation.redraw_request = 0;
    }
    if (firmware_operation.batch_mode != 0 && start_batch_operation(options_, op_state) < 0) {
        keep_going_ = false;
    }
}

void operation_loop::load_screen(int kind) {
    if (firmware_operation.batch_mode == 0) {
        print_header("Load Menu");
    }
    out_printf("  Please follow the instructions below\n\n");
    const int result = load_dialog(kind);
    if (result == load_go) {
        op_state = state2;
    } else {
        op_state = state0;
        firmware_operation.redraw_request = static_cast<std::uint8_t>(result);
    }
}

void operation_loop::boot_started() {
    // The boot request cleared boot_status before it went out; clearing it here could lose a
    // report that has come in since.
    out_printf("  Waiting for bootload to complete\n");
    boot_requests.restart();
    op_state = state11;
}

void operation_loop::boot_waiting() {
    const std::uint8_t report = firmware_operation.boot_status.load(std::memory_order_acquire);
    if (report != boot_status_none) {
        const std::uint8_t reached = firmware_operation.current_bank;
        const std::uint8_t asked = firmware_operation.boot_bank;
        if (reached == asked) {
            out_printf("\n  Bootload completed\n");
            op_state = state0;
            firmware_operation.redraw_request = 1;
        }
        // A failure report, or a third bank where neither is the boot loader's; a report of
        // the boot loader on the way to the asked bank is passed over.
        if (report == boot_status_fail || (reached != asked && reached != 0 && asked != 0)) {
            out_printf("\n  Bootload failed. Recovered to bank\n");
            note_operation_failed();
            op_state = state0;
            firmware_operation.redraw_request = 1;
        }
        firmware_operation.boot_status = boot_status_none;
    } else if (await_reply(op_state, budgets.state11, boot_timeout_ms) == -1) {
        out_printf("\n  Bootload failed\n\r");
        note_operation_failed();
        op_state = state0;
        firmware_operation.redraw_request = 1;
        firmware_operation.boot_status = boot_status_none;
    } else if (boot_requests.due(tick_count_ms())) {
        // Asked again and again while the unit reboots, yet the wait still counts from the
        // reboot request: a unit that never reports fails the boot instead of holding the run.
        send_boot_info_poll();
    }
    if (report == boot_status_none && marks.due(tick_count_ms()) &&
        firmware_operation.verbose_level > 1) {
        out_printf(".");
    }
}

void operation_loop::finish() {
    // The closing message goes out while the receiver still holds the port open; only then is
    // the receiver told to stop (it closes the port on its way out).
    abandon_upload();
    if (loader_mode.load(std::memory_order_acquire) == 1) {
        send_loader_exit();
    }
    stop_receiver.store(1, std::memory_order_release);
    sleep_ms(exit_pause_ms);
}

int run_operations(option_table& options, const std::string& user_name, std::uint32_t verbose,
                   bool safemode, bool bank0) {
    operation_loop loop(options);
    loop.start(user_name, verbose, safemode, bank0);
    while (loop.pass()) {
    }
    loop.finish();
    return loop.exit_status();
}

int operation_loop::exit_status() const {
    // A script learns of a failure from the status; at the console the user has read it.
    return firmware_operation.batch_mode != 0 && operation_failed() ? exit_operation_failed : 0;
}
