// The program's entry: the user name, the command line, the link chosen by /interface or /port
// (or the list of serial ports), the receiver thread, the main loop, and the end of the run with
// its exit status.
#pragma once

// Runs Kestrel with the command line; never returns (the process ends from here).
[[noreturn]] void kestrel_main(int argc, const char* const* argv);

// Exit statuses besides 0 (a finished run) and those of the command line (-1).
inline constexpr int exit_no_card = -1;            // no usable card or driver library
inline constexpr int exit_unknown_board = 1;       // no bitstream file known for the board type
inline constexpr int exit_card_setup_failed = 1;   // bitstream not read or card not configured
inline constexpr int exit_card_options_retired = 1000;  // /card or /index given
inline constexpr int exit_bad_port_number = -1;    // /interface beyond the signed range
inline constexpr int exit_receiver_failed = 3;     // the receiver thread cannot be started
inline constexpr int exit_bad_report_path = -1;    // /report names a file in no folder
