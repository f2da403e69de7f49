#include "app/session.h"

#include <algorithm>
#include <exception>

#include "app/batch_operations.h"
#include "app/unit_reporter.h"
#include "app/startup.h"
#include "console/banner.h"
#include "console/dialogs.h"
#include "console/file_picker.h"
#include "console/input.h"
#include "console/log_listing.h"
#include "console/screen.h"
#include "files/image_file.h"
#include "files/timestamp.h"
#include "link/comm_error.h"
#include "link/crc.h"
#include "platform/clock.h"
#include "platform/exit_file.h"
#include "platform/output.h"
#include "platform/process.h"
#include "protocol/actions.h"
#include "protocol/bank_records.h"
#include "protocol/boot.h"
#include "protocol/connection.h"
#include "protocol/download.h"
#include "protocol/loader_state.h"
#include "protocol/run_outcome.h"
#include "protocol/senders.h"
#include "protocol/upload.h"
#include "protocol/unit.h"
#include "protocol/transfer_progress.h"
#include "protocol/waiting.h"

namespace {

constexpr std::uint32_t idle_sleep_ms = 50;
constexpr std::uint32_t readable_pause_ms = 3000;  // an ending message stays on screen
constexpr std::uint32_t exit_pause_ms = 1000;
constexpr std::uint32_t mode_switch_pause_ms = 100;
// A pass that waits for an answer ends as soon as the receiver hands one on, or after this long.
constexpr std::uint32_t answer_poll_ms = 5;
// A pause looks at the answers at least this often, for a link that fails.
constexpr std::uint32_t pause_slice_ms = 50;
// What the receiver is given to stop at the end of the run before the process ends anyway.
constexpr std::uint32_t receiver_stop_wait_ms = 100;

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

session::session(option_table& options, unit_link& link, report_link report,
                 session_settings settings)
    : options_(options),
      link_(std::move(report)),
      settings_(std::move(settings)),
      unit_(link),
      journal_(unit_.outcome),
      progress_(!settings_.one_of_several) {
    if (!settings_.unit_folder.empty()) {
        unit_.output.place_in(settings_.run_folder, settings_.unit_folder);
    }
}

void session::start(const std::string& user_name, std::uint32_t verbose, bool safemode,
                    bool bank0) {
    op_state = operation_state::awaiting_boot_report;
    marks = pace(progress_mark_interval_ms);
    boot_requests = pace(boot_request_interval_ms);
    keep_going_ = true;
    unit_.outcome = run_outcome{};  // a run starts with nothing failed
    if (!settings_.one_of_several) {
        // The dialogs' key waits take in the answers and keep the serial link open.
        set_key_wait_idle([this] { wait_idle(); });
    }
    start_connection(unit_, user_name, verbose, safemode, bank0);
    firmware_operation_record& op = unit_.op;
    if (op.batch_mode == 0 && is_batch_run(options_)) {
        op.batch_mode = 1;
    }
    if (op.batch_mode != 0) {
        op.output_folder = settings_.run_folder.empty() ? make_timestamp() : settings_.run_folder;
        out_printf("%s\n", kestrel_banner);
        journal_.begin("connect", {}, {});
        keep_report_ready();
    }
    end_if_link_failed();
    if (link_ended_) {
        return;
    }
    ::show_menu(unit_, MENU_PLAIN);
    if (op.verbose_level != 0) {
        out_printf("Verbose level %d enabled\n", int{op.verbose_level});
    }
    if (options_[opt_verify].value.b && !options_[opt_load_fw].given &&
        !options_[opt_load_sw].given && !options_[opt_load_prom].given) {
        out_printf("Warning: +verify compares what a command-line run loads, and nothing is "
                   "loaded in this run\n");
    }
}

bool session::pass() {
    if (op_state == operation_state::idle) {
        sleep_ms(idle_sleep_ms);
    }
    // The answers that came in are taken first, and bank records among them converted, so that
    // everything this pass shows or uses is in host order, also when a round of FLASH_INFO was
    // cut short. An answer arriving during the pass stays queued and cuts the wait at its end
    // short.
    take_answers();
    keep_alive_step(unit_);
    end_if_link_failed();
    if (link_ended_) {
        return false;
    }
    const bool keep_going = settings_.one_of_several || take_key();
    step();
    end_if_link_failed();
    if (link_ended_) {
        return false;
    }
    if (op_state != operation_state::uploading) {
        abandon_upload(unit_);  // e.g. another operation started by a key: nothing is left behind
    }
    tell_reporter();
    if (waits_for_answer(op_state) && real_waits_) {
        unit_.inbox.queue().wait(answer_poll_ms);
    }
    return keep_going && keep_going_;
}

void session::take_answers() {
    ::take_answers(unit_);
    take_bank_reports(unit_);
    end_if_link_failed();
}

void session::end_if_link_failed() {
    if (!unit_.link_failure || link_ended_) {
        return;
    }
    if (settings_.reopen_link && unit_.link.mode() == line_mode::loader && go_on_new_line()) {
        return;
    }
    progress_.clear();
    if (!settings_.one_of_several) {
        if (settings_.reporter != nullptr) {
            settings_.reporter->unit_ended(comm_error_exit_status, "failed",
                                           unit_.link_failure->message);
            settings_.reporter->run_ended(comm_error_exit_status);
        }
        end_run_on_link_failure(*unit_.link_failure);
    }
    // One unit of several: its run ends here, the others go on. The operation it was doing
    // failed with the link.
    link_ended_ = unit_.link_failure;
    out_write(link_ended_->message + "\n");
    abandon_upload(unit_);
    note_operation_failed(unit_, link_ended_->message);
    keep_going_ = false;
    close_journal();
}

bool session::go_on_new_line() {
    progress_.clear();
    out_write(unit_.link_failure->message + "\n");
    if (const result back = settings_.reopen_link(unit_.inbox); !back) {
        unit_.link_failure = back;  // why the run ends
        return false;
    }
    unit_.link_failure.reset();
    const std::string going_on = resume_on_new_line(unit_, op_state);
    if (!going_on.empty()) {
        out_printf("On the new line %s\n", going_on.c_str());
    }
    return true;
}

void session::close_journal() {
    note_reads_again();
    journal_.end();
    keep_report_ready();
    tell_reporter();
}

void session::tell_reporter() {
    unit_reporter* reporter = settings_.reporter;
    // The connection is told once it is made, after the start of the operation that makes it.
    const auto tell_connected = [this, reporter] {
        if (!connected_bank_ && unit_.op.link_state == link_connected) {
            connected_bank_ = unit_.op.current_bank;
            if (reporter != nullptr) {
                reporter->connected(*connected_bank_);
            }
        }
    };
    if (reporter != nullptr) {
        while (told_files_ < unit_.written.size()) {
            reporter->file_written(unit_.written[told_files_++]);
        }
        // Each operation is told when it starts and when it has ended (one refused at once:
        // both).
        const std::vector<journal_entry>& entries = journal_.entries();
        const std::size_t ended = journal_.running() ? entries.size() - 1 : entries.size();
        for (std::size_t k = told_ended_; k < entries.size(); ++k) {
            if (k >= told_started_) {
                reporter->operation_started(entries[k]);
                told_started_ = k + 1;
            }
            tell_connected();
            if (k >= ended) {
                break;
            }
            reporter->operation_ended(entries[k]);
            told_ended_ = k + 1;
        }
    }
    tell_connected();
    if (is_transfer_state(op_state) && !link_ended_) {
        const std::optional<progress_view> view = progress_.update(unit_, op_state);
        if (view && reporter != nullptr) {
            reporter->progress(*view);
        }
    } else if (progress_.clear() && reporter != nullptr) {
        reporter->transfer_ended();
    }
}

void session::pause(std::uint32_t ms) {
    if (!real_waits_) {
        sleep_ms(ms);
        take_answers();
        return;
    }
    const std::uint32_t start = tick_count_ms();
    for (;;) {
        const std::uint32_t waited = tick_count_ms() - start;
        if (waited >= ms) {
            return;
        }
        // Answers wait in the queue; only a failure of the link ends the pause early.
        unit_.inbox.queue().wait(std::min(ms - waited, pause_slice_ms));
        if (!unit_.inbox.queue().empty()) {
            take_answers();
        }
        if (link_ended_) {
            return;
        }
    }
}

void session::wait_idle() {
    take_answers();
    keep_alive_step(unit_);
    end_if_link_failed();
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
                begin_boot(unit_, *bank, op_state);
            } else {
                ::show_menu(unit_, MENU_PLAIN);
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
        const std::optional<get_answer> answer = get_dialog(kind, unit_.op);
        if (answer) {
            unit_.op.output_folder = make_timestamp();
            begin_get(unit_, answer->file_type, answer->bank, op_state);
        }
        return true;
    }
    case user_request::get_log:
    case user_request::view_log:
        begin_log(unit_, request.request == user_request::view_log, op_state);
        return true;
    case user_request::show_banks:
        if (is_quiet_state(op_state)) {
            ::show_menu(unit_, MENU_WITH_BANKS);
        }
        return true;
    case user_request::scan_directory:
        if (is_quiet_state(op_state)) {
            scan_directory();
            ::show_menu(unit_, MENU_NO_HEADER);
        }
        return true;
    case user_request::enter_remote_access:
        to_remote_access(unit_);
        return true;
    case user_request::leave_remote_access: {
        const bool from_remote_access = unit_.link.mode() == line_mode::remote_access;
        to_loader_mode(unit_, *this);
        if (!from_remote_access) {
            pause(mode_switch_pause_ms);
        }
        return true;
    }
    case user_request::remote_key:
        send_remote_key(unit_, request.key);
        return true;
    case user_request::reconnect:
        reconnect(unit_, op_state);
        ::show_menu(unit_, MENU_REFRESH);
        return true;
    case user_request::verbose:
        if (const std::optional<int> level = verbose_dialog()) {
            set_trace_level(unit_, *level);
        }
        ::show_menu(unit_, MENU_REFRESH);
        return true;
    case user_request::redraw:
        ::show_menu(unit_, MENU_REFRESH);
        return true;
    }
    return true;
}

void session::step() {
    switch (op_state) {
    case operation_state::awaiting_boot_report:
        if (!connecting_step(unit_, op_state)) {
            keep_going_ = false;
        }
        break;
    case operation_state::awaiting_bank_records:
        bank_records_step(unit_, op_state, *this);
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
        download_prepare(unit_, op_state);
        break;
    case operation_state::awaiting_dl_ready:
        download_wait_ready(unit_, op_state, marks);
        break;
    case operation_state::awaiting_info_ack:
        download_wait_info_ack(unit_, op_state);
        break;
    case operation_state::sending_chunk:
        send_next_chunk(unit_, op_state);
        break;
    case operation_state::awaiting_chunk_answer:
        download_wait_chunk(unit_, op_state);
        break;
    case operation_state::boot_requested:
        boot_started_step(unit_, op_state, boot_requests);
        break;
    case operation_state::awaiting_boot:
        boot_waiting_step(unit_, op_state, boot_requests, marks);
        break;
    case operation_state::fetching_log:
    case operation_state::fetching_log_to_view:
        log_pass(unit_, op_state, *this);
        break;
    case operation_state::uploading:
        upload_pass(unit_, op_state);
        break;
    }
}

void session::idle() {
    firmware_operation_record& op = unit_.op;
    if (op.flash_info_done.test()) {
        ::show_menu(unit_, MENU_WITH_BANKS);  // draws nothing in a command-line run
        op.flash_info_done.clear();
    }
    if (op.redraw_request != 0) {
        if (op.redraw_request == 1) {
            pause(readable_pause_ms);
        }
        ::show_menu(unit_, MENU_REFRESH);
        op.redraw_request = 0;
    }
    if (op.batch_mode == 0 || !between_operations()) {
        return;
    }
    const std::size_t entries_before = journal_.entries().size();
    if (start_batch_operation(unit_, options_, operation_cursor_, op_state, &journal_) < 0) {
        keep_going_ = false;
    }
    // A load just started, or skipped because the unit holds its image already, is read back
    // with +verify.
    const std::vector<journal_entry>& entries = journal_.entries();
    if (options_[opt_verify].value.b && entries.size() > entries_before &&
        entries.back().operation.rfind("load_", 0) == 0 &&
        (journal_.running() || entries.back().outcome == "skipped")) {
        verify_ = verify_state{true, false, entries.back().file, op.file_type, op.bank};
    }
    keep_report_ready();
}

bool session::between_operations() {
    if (verify_.running) {
        end_verify();
    }
    const bool was_running = journal_.running();
    note_reads_again();
    journal_.end();
    if (verify_.due) {
        verify_.due = false;
        // Only a load whose every chunk the unit took is read back, or one skipped because the
        // unit holds that image; a failed one has said why.
        const journal_entry& load = journal_.entries().back();
        if ((was_running && load.outcome == "ok" && unit_.download_completed) ||
            load.outcome == "skipped") {
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
    if (!begin_get(unit_, verify_.file_type, verify_.bank, op_state, true)) {
        end_verify();
    }
}

void session::note_reads_again() {
    const std::vector<journal_entry>& entries = journal_.entries();
    if (journal_.running() && !entries.empty()) {
        const std::string& operation = entries.back().operation;
        if (operation.rfind("get_", 0) == 0 || operation == "verify") {
            journal_.note_blocks_read_again(unit_.upload.blocks_read_again);
        }
    }
}

void session::end_verify() {
    note_reads_again();
    verify_.running = false;
    const std::string target = target_text(verify_.file_type, verify_.bank);
    const char* file = verify_.file.c_str();
    const std::vector<std::uint8_t>& loaded = unit_.image;
    const std::vector<std::uint8_t>& read = unit_.upload.read_back;
    std::string failure;
    if (!unit_.upload.read_back_complete) {
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
        report_operation_failure(unit_, "Verify failed: " + failure + "\n");
    }
    upload_into_memory(unit_, false);
    journal_.end();
}

void session::keep_report_ready() {
    // Prepared afresh whenever an operation starts or ends.
    const std::size_t mark = journal_.entries().size() * 2 + (journal_.running() ? 1 : 0);
    if (mark == report_mark_) {
        return;
    }
    report_mark_ = mark;
    if (settings_.one_of_several) {
        if (settings_.reporter != nullptr) {
            try {
                settings_.reporter->report_changed(
                    rack_entry(settings_.reporter->port(), link_, unit_, journal_,
                               connected_bank_, std::nullopt));
            } catch (const std::exception&) {
            }
        }
        return;
    }
    if (options_[opt_report].given) {
        // Nothing that goes wrong with the report may end the run; should it not be prepared
        // (no memory), the one prepared before stays, and the end of the run tries again.
        try {
            prepare_report_on_exit(options_[opt_report].value.text.value_or(std::string()),
                                   link_, unit_, journal_);
        } catch (const std::exception&) {
        }
    }
}

int session::finish_report(int status) {
    if (unit_.op.batch_mode == 0 || !options_[opt_report].given) {
        return status;
    }
    journal_.end();
    if (!write_run_report(options_[opt_report].value.text.value_or(std::string()), link_, unit_,
                          journal_, status)) {
        status = exit_operation_failed;
    }
    cancel_exit_file();
    return status;
}

void session::load_screen(bool eeprom) {
    if (unit_.op.batch_mode == 0) {
        print_header(unit_, "Load Menu");
    }
    out_printf("  Please follow the instructions below\n\n");
    const load_answer answer =
        load_dialog(eeprom ? dialog_kind::eeprom : dialog_kind::flash, unit_.op);
    record_download_choice(unit_, answer.choice);
    if (answer.result == load_result::go) {
        op_state = operation_state::preparing_download;
    } else {
        op_state = operation_state::idle;
        unit_.op.redraw_request = static_cast<std::uint8_t>(static_cast<int>(answer.result));
    }
}

void session::show_menu() { ::show_menu(unit_, MENU_REFRESH); }

void session::list_log(int count, const std::uint8_t* entries, int entry_length,
                       std::size_t buffer_size) {
    print_log_entries(count, entries, entry_length, buffer_size);
}

void session::finish() {
    // The closing message goes out while the receiver still holds the port open; only then is
    // the receiver told to stop (it closes the port on its way out).
    progress_.clear();
    abandon_upload(unit_);
    if (!link_ended_ && unit_.link.mode() == line_mode::loader) {
        send_loader_exit(unit_);
        end_if_link_failed();
    }
    unit_.link.stop(0);
    if (!link_ended_) {
        pause(exit_pause_ms);
    }
}

int session::exit_status() const {
    if (link_ended_) {
        return comm_error_exit_status;
    }
    // A script learns of a failure from the status; at the console the user has read it.
    return unit_.op.batch_mode != 0 && operation_failed(unit_) ? exit_operation_failed : 0;
}

void end_run_on_link_failure(const result& failure) {
    out_write("\n" + failure.message + "\n");
    process_exit_now(comm_error_exit_status);
}

int run_operations(option_table& options, unit_link& link, const report_link& report,
                   const std::string& user_name, std::uint32_t verbose, bool safemode, bool bank0,
                   unit_reporter* reporter, std::function<result(link_listener&)> reopen_link) {
    session_settings settings;
    settings.reporter = reporter;
    settings.reopen_link = std::move(reopen_link);
    session loop(options, link, report, settings);
    if (const result started = link.start(loop.loader().inbox); !started) {
        out_printf("%s\n", started.message.c_str());
        process_exit_now(exit_receiver_failed);
    }
    loop.start(user_name, verbose, safemode, bank0);
    while (loop.pass()) {
    }
    loop.finish();
    loop.close_journal();
    const int status = loop.finish_report(loop.exit_status());
    if (reporter != nullptr) {
        const char* verdict = unit_verdict(status, loop.journal().entries());
        reporter->unit_ended(status, verdict,
                             status != 0 ? last_failure_reason(loop.loader()) : std::string());
    }
    if (loop.loader().op.batch_mode == 0) {
        out_printf("\nTerminating sucker thread\n");
    }
    if (!link.stop(receiver_stop_wait_ms)) {
        // The receiver has not ended in time (a port that does not return): the process ends
        // with it still running, without running static destructors under its feet.
        process_exit_now(status);
    }
    return status;
}
