// Runs a program as a child process in a given folder, stdin from /dev/null and its output to
// files, and reports how it ended, how long it ran and the processor time it used; and the
// processor time of this process itself (the simulated units run in it).
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

struct child_run {
    bool started = false;
    std::string error;        // why it could not be started, if it was not
    bool timed_out = false;   // killed after the time limit
    int exit_status = -1;     // its exit status, or 128 + the signal that ended it
    double wall_seconds = 0.0;
    double user_seconds = 0.0;    // processor time in user mode, of the child alone
    double system_seconds = 0.0;  // processor time in the kernel on its behalf

    bool succeeded() const noexcept { return started && !timed_out && exit_status == 0; }
};

// Starts `program` with `args` (without the program name) in `work_dir` and waits for it;
// after `limit` it is killed.
child_run run_child(const std::filesystem::path& program, const std::vector<std::string>& args,
                    const std::filesystem::path& work_dir, const std::filesystem::path& out_file,
                    const std::filesystem::path& err_file, std::chrono::seconds limit);

// Processor time this process has used so far, user and system, all its threads.
double own_cpu_seconds();
