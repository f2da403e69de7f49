// The session of one unit: the unit's state and link, and the loop that serves it. It connects
// to the unit, then serves operations one at a time, started by the menu's keys or, in a
// command-line run, by the options, until the user quits or no operation is left. Each pass
// takes in the answers the link's receiver has queued, then runs the keep-alive, the user's
// request and the step of the current state, in that order.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "app/options.h"
#include "app/progress_meter.h"
#include "app/run_journal.h"
#include "app/run_report.h"
#include "console/menu.h"
#include "link/unit_link.h"
#include "platform/result.h"
#include "protocol/display.h"
#include "protocol/operation_state.h"
#include "protocol/pace.h"
#include "protocol/unit.h"

class unit_reporter;

// How a session serves its unit besides what the options say.
struct session_settings {
    // One unit among several: a link that fails ends this unit's run, not the process; no keys
    // are read (the run has no menu); the progress goes to the reporter, not to a status line.
    bool one_of_several = false;
    // One of several: the run's folder, made by the run, and this unit's folder in it, where
    // its files go. Empty when the run writes no files.
    std::string run_folder;
    std::string unit_folder;
    // Told about the unit as the run goes (events, the live view); none when nothing listens.
    unit_reporter* reporter = nullptr;
    // With /wait_port on a serial link: opens the link again when its port failed (a cable
    // pulled and put back), its receiver started for the listener given; the operation under
    // way then goes on. Empty: a failed link ends the run.
    std::function<result(link_listener&)> reopen_link;
};

class session final : public loader_display {
public:
    session(option_table& options, unit_link& link, report_link report = {},
            session_settings settings = {});
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    // The unit this session serves; its inbox is what the link's receiver hands answers to.
    unit& loader() { return unit_; }
    const unit& loader() const { return unit_; }

    // The start of the run: the connection begun, the command-line run's folder and banner, the
    // menu.
    void start(const std::string& user_name, std::uint32_t verbose, bool safemode, bool bank0);
    // One pass; false when the loop is to end.
    bool pass();
    // The part of a pass that reads a key, if one waits, and does what it asks for (a dialog,
    // an action); false when it asks to quit.
    bool take_key() { return act_on(handle_key(unit_)); }
    // The exit sequence: LOADER_EXIT in loader mode, the receiver told to stop, one second.
    void finish();
    // 0, or in a command-line run in which the connection or an operation failed
    // exit_operation_failed; for one unit of several whose link failed, the status of a failed
    // port.
    int exit_status() const;
    // One unit of several whose link failed: the failure. Nothing otherwise.
    const std::optional<result>& link_ended() const { return link_ended_; }
    // A command-line run with /report: writes the report with the run's exit status; the
    // status, which a report that cannot be written turns into exit_operation_failed.
    int finish_report(int status);

    const run_journal& journal() const { return journal_; }
    const report_link& reported_link() const { return link_; }
    // The bank the unit ran when it connected; nothing before.
    std::optional<std::uint8_t> connected_bank() const { return connected_bank_; }
    // Ends the journal and tells the reporter what it has not been told yet.
    void close_journal();
    // The argument position of the last command-line option handed out.
    int last_operation_position() const { return operation_cursor_; }

    // Whether the waits of a pass and the pauses between operations wait for the receiver's
    // answers in real time (a run), or not at all (a test that hands answers in between passes
    // and moves its own clock).
    void set_real_waits(bool real) { real_waits_ = real; }

    // The screen the loader shows things on.
    void show_menu() override;
    void list_log(int count, const std::uint8_t* entries, int entry_length,
                  std::size_t buffer_size) override;

    operation_state op_state = operation_state::awaiting_boot_report;
    pace marks{progress_mark_interval_ms};         // progress marks of the waits
    pace boot_requests{boot_request_interval_ms};  // BOOTINFO_REQ while a reboot runs

private:
    // What the user asked for this pass; false when it was to quit.
    bool act_on(const key_request& request);
    void step();                     // the current state's step
    void idle();                     // idle
    void load_screen(bool eeprom);   // load_flash_dialog, load_eeprom_dialog
    // Command-line runs: the operation that ended is recorded, a load just completed is read
    // back when +verify asks for it; false while a read-back runs.
    bool between_operations();
    void start_verify();
    void end_verify();
    void keep_report_ready();
    // The running read's blocks read again, into its journal entry.
    void note_reads_again();
    // Takes in the answers queued so far; a failed link ends the run.
    void take_answers();
    // Ends the run when the link has failed: the failure's line, and the status of a failed
    // port. With a way to open it again, the port is waited for first, and the run goes on when
    // it comes back.
    void end_if_link_failed();
    // The port waited for and opened again, the operation under way taken up; false when it
    // did not come back (the link's failure then says so).
    bool go_on_new_line();
    // A pause of `ms`, cut short only by a link that fails.
    void pause(std::uint32_t ms);
    // The reporter told what changed since the last pass: the connection, operations started
    // and ended, files written, the transfer's progress.
    void tell_reporter();
    // What the key waits of the dialogs run while they wait: answers taken in, the keep-alive.
    void wait_idle();

    option_table& options_;
    report_link link_;
    session_settings settings_;
    std::optional<result> link_ended_;
    unit unit_;
    run_journal journal_;
    int operation_cursor_ = 0;  // the last argument position handed out
    bool keep_going_ = true;
    bool real_waits_ = true;
    std::size_t report_mark_ = 0;  // the journal's state when the report was last prepared
    // +verify: the load whose read-back is due or runs.
    struct verify_state {
        bool due = false;
        bool running = false;
        std::string file;
        std::uint8_t file_type = 0;
        std::uint8_t bank = 0;
    };
    verify_state verify_;
    progress_meter progress_;  // the transfer's progress line on a terminal
    // The bank the unit ran when it connected.
    std::optional<std::uint8_t> connected_bank_;
    // What the reporter has been told so far.
    std::size_t told_started_ = 0;
    std::size_t told_ended_ = 0;
    std::size_t told_files_ = 0;
};

// Prints the line of a link that failed and ends the process with the status of a failed port.
[[noreturn]] void end_run_on_link_failure(const result& failure);

// The whole loop of one unit over its link: the receiver started, the session's start, passes
// until the run is over, the exit sequence, the report. Returns the run's exit status; a
// receiver that cannot be started ends the process.
int run_operations(option_table& options, unit_link& link, const report_link& report,
                   const std::string& user_name, std::uint32_t verbose, bool safemode, bool bank0,
                   unit_reporter* reporter = nullptr,
                   std::function<result(link_listener&)> reopen_link = {});
