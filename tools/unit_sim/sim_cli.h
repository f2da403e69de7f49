// The command line of kestrel-unit: options to settings of the simulated unit, and the help.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/unit_sim/sim_options.h"

// An image file to store in a bank before the unit starts ("--load-bank 2:fw:FILE").
struct bank_file {
    std::uint8_t bank = 0;
    std::uint8_t file_type = 0;  // 1 FPGA, 2 software
    std::filesystem::path path;
};

// Most units one run serves.
inline constexpr std::size_t max_unit_ports = 64;

struct unit_command_line {
    sim_unit_options unit;
    // The ports of --ports, in the order given: one unit on each. Empty: the one unit of
    // unit.port.
    std::vector<unsigned> ports;
    std::string record_file;  // empty: no record
    std::vector<bank_file> bank_files;
    std::filesystem::path dump_dir;  // empty: no dump when the unit stops
    // How long a port pulled by SIGUSR1 stays pulled; none: until the run ends.
    std::optional<std::chrono::milliseconds> back_after;
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

// One unit of a run: its settings, and where its record and what it stores go.
struct unit_plan {
    sim_unit_options unit;
    std::string record_file;         // empty: no record
    std::filesystem::path dump_dir;  // empty: no dump
};

// The units a command line asks for. Without --ports, the one unit as the options give it.
// With --ports, a unit per port, each with a seed (seed + port) and factory images (variant =
// port) of its own; with more than one port, each records into "<record>.COM<n>" and dumps
// into "<dump-dir>/COM<n>".
std::vector<unit_plan> plan_units(const unit_command_line& line);

std::string unit_usage_text();
