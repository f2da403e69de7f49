#include "app/session.h"

#include <algorithm>
#include <exception>

#include "app/batch_operations.h"
#include "console/banner.h"
#include "console/dialogs.h"
#include "console/file_picker.h"
#include "console/input.h"
#include "console/log_listing.h"
#include "console/screen.h"
#include "files/image_file.h"
#include "files/timestamp.h"
#include "link/crc.h"
#include "link/link_mode.h"
#include "link/receiver.h"
#include "platform/clock.h"
#include "platform/exit_file.h"
#include "platform/output.h"
#include "protocol/actions.h"
#include "protocol/bank_records.h"
#include "protocol/boot.h"
#include "protocol/connection.h"
#include "protocol/download.h"
#include "protocol/loader_state.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"
#include "protocol/upload.h"
#include "protocol/waiting.h"

namespace {

constexpr std::uint32_t idle_sleep_ms = 50;
constexpr std::uint32_t readable_pause_ms = 3000;  // an ending message stays on screen
constexpr std::uint32_t exit_pause_ms = 1000;
constexpr std::uint32_t mode_switch_pause_ms = 100;
// A pass that waits for an answer ends as soon as the receiver hands one on, or after this long.
constexpr std::uint32_t answer_poll_ms = 5;

// The states that wait for the unit pass their time waiting for the receiver instead of
// spinning: they react to an answer as soon as it is handed on, and keys, time-outs and
// progress marks are looked at every few milliseconds.
bool waits_for_answer(operation_state state) {
    switch (state) {
    case operation_state::awaiting_boot_report:
    case operation_state::awaiting_bank_records:
    case operation_state::awaiting_dl_ready:
    case operation_state::awaiting_info_ack:
    case operation_state::awaiting_chunk_answer:
    case operation_state::awaiting_boot:
    case operation_state::fetching_log:
    case operation_state::uploading:
    case operation_state::fetching_log_to_view:
        return true;
    default:
        return false;
    }
}

bool is_quiet_state(operation_state state) {
    return state_number(state) <= state_number(operation_state::idle);
}

}  // namespace

void session::start(const std::string& user_name, std::uint32_t verbose, bool safemode,
                    bool bank0) {
    op_state = operation_state::awaiting_boot_report;
    marks = pace(progress_mark_interval_ms);
    boot_requests = pace(boot_request_interval_ms);
    keep_going_ = true;
    reset_run_outcome();
    // The dialogs' key waits keep the serial link open.
    set_key_wait_idle(&keep_alive_step);
    start_connection(user_name, verbose, safemode, bank0);
    if (firmware_operation.batch_mode == 0 && is_batch_run(options_)) {
        firmware_operation.batch_mode = 1;
    }
    if (firmware_operation.batch_mode != 0) {
        firmware_operation.output_folder = make_timestamp();
        out_printf("%s\n", kestrel_banner);
        journal_.begin("connect", {}, {});
        keep_report_ready();
    }
    ::show_menu(MENU_PLAIN);
    if (firmware_operation.verbose_level != 0) {
        out_printf("Verbose level %d enabled\n", int{firmware_operation.verbose_level.load()});
    }
    if (options_[opt_verify].value.b && !options_[opt_load_fw].given &&
        !options_[opt_load_sw].given && !options_[opt_load_prom].given) {
        out_printf("Warning: +verify compares what a command-line run loads, and nothing is "
                   "loaded in this run\n");
    }
}

bool session::pass() {
    // Counted before anything is looked at, so that an answer arriving during the pass cuts
    // the wait at its end short.
    const std::uint64_t seen = messages_dispatched();
    if (op_state == operation_state::idle) {
        sleep_ms(idle_sleep_ms);
    }
    // Bank records that came in are taken first, so that everything this pass shows or uses
    // is in host order, also when a round of FLASH_INFO was cut short.
    take_bank_reports();
    keep_alive_step();
    const bool keep_going = take_key();
    step();
    if (op_state != operation_state::uploading) {
        abandon_upload();  // e.g. another operation started by a key: nothing is left behind
    }
    progress_.update(op_state);
    if (waits_for_answer(op_state)) {
        wait_for_message(seen, answer_poll_ms);
    }
    return keep_going && keep_going_;
}

bool session::act_on(const key_request& request) {
    switch (request.request) {
    case user_request::none:
        return true;
    case user_request::quit:
        return false;
    case user_request::boot:
        if (op_state == operation_state::idle ||
            op_state == operation_state::awaiting_bank_records) {
            if (const std::optional<std::uint8_t> bank = boot_dialog()) {
                begin_boot(*bank, op_state);
            } else {
                ::show_menu(MENU_PLAIN);
            }
        }
        return true;
    case user_request::load_flash:
        op_state = operation_state::load_flash_dialog;
        return true;
    case user_request::load_eeprom:
        op_state = operation_state::load_eeprom_dialog;
        return true;
    case user_request::get_flash:
    case user_request::get_eeprom: {
        const dialog_kind kind = request.request == user_request::get_eeprom ? dialog_kind::eeprom
                                                                              : dialog_kind::flash;
        const std::optional<get_answer> answer =
            get_dialog(kind, firmware_operation.file_type, firmware_operation.bank);
        if (answer) {
            firmware_operation.output_folder = make_timestamp();
            begin_get(answer->file_type, answer->bank, op_state);
        }
        return true;
    }
    case user_request::get_log:
    case user_request::view_log:
        begin_log(request.request == user_request::view_log, op_state);
        return true;
    case user_request::show_banks:
        if (is_quiet_state(op_state)) {
            ::show_menu(MENU_WITH_BANKS);
        }
        return true;
    case user_request::scan_directory:
        if (is_quiet_state(op_state)) {
            scan_directory();
            ::show_menu(MENU_NO_HEADER);
        }
        return true;
    case user_request::enter_remote_access:
        to_remote_access();
        return true;
    case user_request::leave_remote_access: {
        const bool from_remote_access = remote_access.load(std::memory_order_acquire) != 0;
        to_loader_mode(*this);
        if (!from_remote_access) {
            sleep_ms(mode_switch_pause_ms);
        }
        return true;
    }
    case user_request::remote_key:
        send_remote_key(request.key);
        return true;
    case user_request::reconnect:
        reconnect(op_state);
        ::show_menu(MENU_REFRESH);
        return true;
    case user_request::verbose:
        if (const std::optional<int> level = verbose_dialog()) {
            set_trace_level(*level);
        }
        ::show_menu(MENU_REFRESH);
        return true;
    case user_request::redraw:
        ::show_menu(MENU_REFRESH);
        return true;
    }
    return true;
}

void session::step() {
    switch (op_state) {
    case operation_state::awaiting_boot_report:
        if (!connecting_step(op_state)) {
            keep_going_ = false;
        }
        break;
    case operation_state::awaiting_bank_records:
        bank_records_step(op_state, *this);
        break;
    case operation_state::idle:
        idle();
        break;
    case operation_state::load_flash_dialog:
        load_screen(false);
        break;
    case operation_state::load_eeprom_dialog:
        load_screen(true);
        break;
    case operation_state::preparing_download:
        download_prepare(op_state);
        break;
    case operation_state::awaiting_dl_ready:
        download_wait_ready(op_state, marks);
        break;
    case operation_state::awaiting_info_ack:
        download_wait_info_ack(op_state);
        break;
    case operation_state::sending_chunk:
        send_next_chunk(op_state);
        break;
    case operation_state::awaiting_chunk_answer:
        download_wait_chunk(op_state);
        break;
    case operation_state::boot_requested:
        boot_started_step(op_state, boot_requests);
        break;
    case operation_state::awaiting_boot:
        boot_waiting_step(op_state, boot_requests, marks);
        break;
    case operation_state::fetching_log:
    case operation_state::fetching_log_to_view:
        log_pass(op_state, *this);
        break;
    case operation_state::uploading:
        upload_pass(op_state);
        break;
    }
}

void session::idle() {
    if (firmware_operation.flash_info_done.test()) {
        ::show_menu(MENU_WITH_BANKS);  // draws nothing in a command-line run
        firmware_operation.flash_info_done.clear();
    }
    if (firmware_operation.redraw_request != 0) {
        if (firmware_operation.redraw_request == 1) {
            sleep_ms(readable_pause_ms);
        }
        ::show_menu(MENU_REFRESH);
        firmware_operation.redraw_request = 0;
    }
    if (firmware_operation.batch_mode == 0 || !between_operations()) {
        return;
    }
    if (start_batch_operation(options_, op_state, &journal_) < 0) {
        keep_going_ = false;
    }
    const std::vector<journal_entry>& entries = journal_.entries();
    if (options_[opt_verify].value.b && journal_.running() && !entries.empty() &&
        entries.back().operation.rfind("load_", 0) == 0) {
        verify_ = verify_state{true, false, entries.back().file, firmware_operation.file_type,
                               firmware_operation.bank};
    }
    keep_report_ready();
}

bool session::between_operations() {
    if (verify_.running) {
        end_verify();
    }
    const bool load_ok = journal_.running() && !journal_.entries().empty() &&
                         journal_.entries().back().operation.rfind("load_", 0) == 0;
    journal_.end();
    if (verify_.due) {
        verify_.due = false;
        // Only a load whose every chunk the unit took is read back; a failed one has said why.
        if (load_ok && journal_.entries().back().outcome == "ok" && last_download_completed()) {
            start_verify();
            return false;
        }
    }
    keep_report_ready();
    return true;
}

void session::start_verify() {
    verify_.running = true;
    journal_.begin("verify", verify_.file, target_text(verify_.file_type, verify_.bank));
    keep_report_ready();
    if (!begin_get(verify_.file_type, verify_.bank, op_state, true)) {
        end_verify();
    }
}

void session::end_verify() {
    verify_.running = false;
    const std::string target = target_text(verify_.file_type, verify_.bank);
    const char* file = verify_.file.c_str();
    const std::vector<std::uint8_t>& loaded = file_buffer;
    const std::vector<std::uint8_t>& read = read_back_data();
    std::string failure;
    if (!read_back_complete()) {
        failure = verify_.file + " could not be read back from " + target;
    } else if (read.size() != loaded.size()) {
        failure = verify_.file + " is " + std::to_string(loaded.size()) + " bytes, " + target +
                  " holds " + std::to_string(read.size());
    } else {
        const auto differs = std::mismatch(loaded.begin(), loaded.end(), read.begin());
        if (differs.first != loaded.end()) {
            failure = verify_.file + " differs from " + target + " at byte " +
                      std::to_string(differs.first - loaded.begin());
        }
    }
    if (failure.empty()) {
        out_printf("Verified %s in %s: %zu bytes, CRC-32 0x%08X\n", file, target.c_str(),
                   loaded.size(), crc32_file(loaded.data(), loaded.size(), 0xFFFFFFFFu));
    } else {
        report_operation_failure("Verify failed: " + failure + "\n");
    }
    upload_into_memory(false);
    journal_.end();
}

void session::keep_report_ready() {
    // Prepared afresh whenever an operation starts or ends.
    const std::size_t mark = journal_.entries().size() * 2 + (journal_.running() ? 1 : 0);
    if (mark == report_mark_) {
        return;
    }
    report_mark_ = mark;
    if (options_[opt_report].given) {
        // Nothing that goes wrong with the report may end the run; should it not be prepared
        // (no memory), the one prepared before stays, and the end of the run tries again.
        try {
            prepare_report_on_exit(options_[opt_report].value.text.value_or(std::string()),
                                   link_, journal_);
        } catch (const std::exception&) {
        }
    }
}

int session::finish_report(int status) {
    if (firmware_operation.batch_mode == 0 || !options_[opt_report].given) {
        return status;
    }
    journal_.end();
    if (!write_run_report(options_[opt_report].value.text.value_or(std::string()), link_, journal_,
                          status)) {
        status = exit_operation_failed;
    }
    cancel_exit_file();
    return status;
}

void session::load_screen(bool eeprom) {
    if (firmware_operation.batch_mode == 0) {
        print_header("Load Menu");
    }
    out_printf("  Please follow the instructions below\n\n");
    const load_answer answer =
        load_dialog(eeprom ? dialog_kind::eeprom : dialog_kind::flash,
                    firmware_operation.file_type, firmware_operation.bank);
    record_download_choice(answer.choice);
    if (answer.result == load_result::go) {
        op_state = operation_state::preparing_download;
    } else {
        op_state = operation_state::idle;
        firmware_operation.redraw_request =
            static_cast<std::uint8_t>(static_cast<int>(answer.result));
    }
}

void session::show_menu() { ::show_menu(MENU_REFRESH); }

void session::list_log(int count, const std::uint8_t* entries, int entry_length,
                       std::size_t buffer_size) {
    print_log_entries(count, entries, entry_length, buffer_size);
}

void session::finish() {
    // The closing message goes out while the receiver still holds the port open; only then is
    // the receiver told to stop (it closes the port on its way out).
    progress_.clear();
    abandon_upload();
    if (loader_mode.load(std::memory_order_acquire) == 1) {
        send_loader_exit();
    }
    stop_receiver.store(1, std::memory_order_release);
    sleep_ms(exit_pause_ms);
}

int session::exit_status() const {
    // A script learns of a failure from the status; at the console the user has read it.
    return firmware_operation.batch_mode != 0 && operation_failed() ? exit_operation_failed : 0;
}

int run_operations(option_table& options, const report_link& link, const std::string& user_name,
                   std::uint32_t verbose, bool safemode, bool bank0) {
    session loop(options, link);
    loop.start(user_name, verbose, safemode, bank0);
    while (loop.pass()) {
    }
    loop.finish();
    return loop.finish_report(loop.exit_status());
}
