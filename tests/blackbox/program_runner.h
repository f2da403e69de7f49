// Runs the built program as a user would: a separate process with its own arguments, its
// standard output collected, its exit status returned. The target is chosen by the test run's
// environment: KESTREL_TARGET=native runs KESTREL_EXE directly, KESTREL_TARGET=wine runs the
// Windows build KESTREL_EXE through the loader named by WINE.
#pragma once

#include <chrono>
#include <string>
#include <vector>

struct program_result {
    std::string out;   // standard output; Windows line ends turned back into "\n"
    std::string err;   // standard error (wine's own chatter lands here and is not compared)
    int status = -1;   // exit status as the shell sees it (0-255), 128+n for signal n
    bool timed_out = false;
};

struct run_options {
    std::chrono::milliseconds timeout{std::chrono::seconds(60)};
    std::string working_directory;  // empty: the test's own
    std::string input;              // written to standard input, which is then closed
};

bool target_is_wine();
std::string target_name();

program_result run_kestrel(const std::vector<std::string>& args, const run_options& options = {});
