// One run of the program as a separate process in its own process group, in a given working
// folder, with its standard input and output either on a pseudo-terminal (an interactive run:
// the test types keys and reads the screen) or on pipes (a batch run). Standard error always
// goes to a pipe of its own (wine's chatter lands there). A thread collects the output as it
// comes; the run's exit status, duration and processor time are reported when it ends.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "e2e/program_target.h"
#include "e2e/pseudo_terminal.h"

enum class console_mode {
    terminal,    // standard input and output on a pseudo-terminal held by the test
    input_null,  // standard input /dev/null, standard output a pipe
    input_pipe,  // standard input a pipe the test holds open until the end, output a pipe
};

struct launch_settings {
    std::vector<std::string> args;
    std::filesystem::path working_directory;
    console_mode console = console_mode::input_null;
    // Terminal runs: the terminal's size, and changes made to its fresh settings before the
    // program starts (a user's terminal is seldom set up as a fresh one).
    unsigned short terminal_rows = 25;
    unsigned short terminal_columns = 80;
    std::function<void(termios&)> terminal_setup;
    // "NAME=value" entries added to the environment the program gets, each replacing a
    // variable of the same name from the test's own.
    std::vector<std::string> environment;
    // Words put before the program's command (for example a shell that sets a limit first and
    // then execs the program with "$0" "$@").
    std::vector<std::string> command_prefix;
};

struct run_result {
    std::string out;  // standard output as written (pipes under wine: "\r\n" turned back to "\n")
    std::string err;
    int status = -1;  // exit status (0-255), 128 + n when ended by signal n
    bool timed_out = false;
    std::chrono::milliseconds elapsed{0};  // from the start to the end of the process
    double cpu_seconds = 0.0;              // user and system time of the process
};

class program_run {
public:
    // Starts the program; throws std::runtime_error or std::system_error when it cannot.
    program_run(const program_target& target, const launch_settings& settings);
    // Ends a run still going (the whole process group) and stops collecting.
    ~program_run();
    program_run(const program_run&) = delete;
    program_run& operator=(const program_run&) = delete;

    pid_t pid() const noexcept { return pid_; }

    // Writes keys to the program's input (the terminal, or the open input pipe); false when
    // they cannot be written, e.g. because the program has gone.
    bool type(std::string_view keys);

    // Waits until the terminal reads single keys: line editing off, so that a key reaches the
    // program without Enter (the program, or wine's console host for it, switches it so when it
    // reads keys). True if it did within the time; false at once for a run without a terminal.
    bool wait_for_single_keys(std::chrono::milliseconds timeout) const;

    // The terminal's settings as the program's side of it sees them, also after the end of the
    // run; nullopt for a run without a terminal or when they cannot be read.
    std::optional<termios> terminal_settings() const;
    // Those it had when the program started (after `terminal_setup`).
    std::optional<termios> terminal_settings_at_start() const { return terminal_at_start_; }

    // Standard output so far, as it came.
    std::string output() const;
    // Waits until `condition` holds for the output so far; true if it did within the time.
    bool wait_for_output(const std::function<bool(const std::string&)>& condition,
                         std::chrono::milliseconds timeout) const;

    // True until the process has ended.
    bool running() const;

    // Processor time (user and system, all threads) the process has used so far; nullopt once
    // it has ended or when it cannot be read.
    std::optional<double> cpu_seconds() const;

    // Waits for the process to end; after `timeout` its process group is killed. Output still
    // in flight is collected for a short while after the end (wine's console host writes the
    // last screen after the program has gone). Called once per run.
    run_result wait(std::chrono::milliseconds timeout);

private:
    void collect();
    void stop_collecting();
    void kill_group() noexcept;

    const bool text_mode_pipes_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    std::chrono::steady_clock::time_point started_;
    std::unique_ptr<pseudo_terminal> terminal_;
    std::optional<termios> terminal_at_start_;
    int input_ = -1;        // our end of the input pipe
    int output_ = -1;       // the master of the terminal, or our end of the output pipe
    int errors_ = -1;       // our end of the error pipe
    int stop_read_ = -1;    // wakes the collecting thread when it is to stop
    int stop_write_ = -1;

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::string out_;       // guarded by mutex_
    std::string err_;       // guarded by mutex_
    bool collecting_ = true;  // guarded by mutex_: false once every source has ended
    std::thread collector_;
};
