// The command line of kestrel-unit: options to settings of the simulated unit, and the help.
#pragma once

#include <span>
#include <string>

#include "tools/unit_sim/sim_options.h"

struct unit_command_line {
    sim_unit_options unit;
    std::string record_file;  // empty: no record
    bool help = false;
};

struct unit_command_result {
    bool ok = false;
    std::string error;  // what is wrong, when not ok
    unit_command_line options;
};

// Reads the arguments after the program name. Options take their value as the next argument
// or after '=' ("--port 4", "--port=4").
unit_command_result parse_unit_command_line(std::span<const char* const> args);

std::string unit_usage_text();
