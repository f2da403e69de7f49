// The program's option table: 31 records in a fixed order. The order is a contract: start-up,
// the state machine and the command-line operations address each option by its index.
#pragma once

#include <array>
#include <cstddef>

#include "app/arg.h"

enum option_index : int {
    opt_bank = 0,
    opt_load_sw = 1,
    opt_load_fw = 2,
    opt_boot = 3,
    opt_reboot = 4,
    opt_info = 5,
    opt_get_sw = 6,
    opt_get_fw = 7,
    opt_get_log = 8,
    opt_get_conf = 9,
    opt_comment = 10,
    opt_prom_type = 11,
    opt_load_prom = 12,
    opt_get_prom = 13,
    opt_bank0 = 14,
    opt_safemode = 15,
    opt_verbose = 16,
    opt_interface = 17,
    opt_card = 18,
    opt_index = 19,
    opt_size = 20,
    opt_lclk = 21,
    opt_bitfile = 22,
    // Added to the 23 of the first versions; none of them makes a run a command-line run.
    opt_port = 23,        // the serial port by its device name
    opt_list_ports = 24,  // list the serial ports and end
    opt_verify = 25,      // read back and compare each image or EEPROM loaded
    opt_report = 26,      // a JSON report of a command-line run
    opt_ports = 27,       // several units at once, one serial port each
    opt_events = 28,      // the run's events as JSON lines, for scripts
    opt_skip_same = 29,   // a load the unit already holds is not sent again
    opt_wait_port = 30,   // seconds to wait for a named port to appear
};

inline constexpr std::size_t option_count = 31;

using option_table = std::array<arg_option, option_count>;

// Clears every record and fills in words, types, meanings and defaults.
void build_option_table(option_table& options);

// The argument block over a table, ready for parse_command_line.
arg_block make_arg_block(option_table& options);
