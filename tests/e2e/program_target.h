// Which build of the program the end-to-end tests run, taken from the test run's environment:
// KESTREL_TARGET=native runs KESTREL_EXE itself; KESTREL_TARGET=wine runs the Windows build
// KESTREL_EXE through the loader WINE in the prefix WINEPREFIX.
#pragma once

#include <string>
#include <vector>

struct program_target {
    bool wine = false;
    std::string exe;
    std::string loader;  // wine only
    std::string prefix;  // wine only

    // "native" or "wine".
    std::string name() const { return wine ? "wine" : "native"; }
    // The command that runs the program with these arguments.
    std::vector<std::string> command(const std::vector<std::string>& args) const;
};

// Throws std::runtime_error naming the variable that is missing.
program_target target_from_environment();
