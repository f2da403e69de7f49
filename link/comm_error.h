// ECommError: the exception of every failing serial-port operation. Its code says which
// operation failed; the system's own error is taken where the failure was seen. Wherever it is
// raised, on either thread, it ends the run with one line and comm_error_exit_status.
#pragma once

#include <cstdint>
#include <string>

// What failed. The numbers are the ones the port has always reported; 13 is not used.
enum comm_error_code : int {
    comm_not_open = 7,             // an operation on a port that is not open
    comm_create_failed = 8,        // the port cannot be opened (missing, or in use)
    comm_write_failed = 9,
    comm_read_failed = 10,
    comm_close_failed = 11,
    comm_purge_failed = 12,
    comm_get_state_failed = 14,    // reading the port's settings
    comm_set_state_failed = 15,    // writing the port's settings
    comm_setup_failed = 16,        // sizing the driver queues
    comm_timeouts_failed = 17,
    comm_clear_error_failed = 18,  // asking the driver for received bytes (the port has gone)
};

struct ECommError {
    int code = 0;
    std::uint32_t system_error = 0;
    std::string system_text;  // the system's text for system_error, taken with it
    std::string port_name;    // "COM3", or the name the user gave ("/dev/ttyUSB0")
};

// The exit status of a run ended by a serial-port failure.
inline constexpr int comm_error_exit_status = 2;

// What the code means, for people: "cannot open the port", "write failed", ...
const char* comm_error_meaning(int code);

// The line that reports the failure, on a line of its own: it starts and ends with "\n".
std::string comm_error_line(const ECommError& error);

// Prints the line and ends the process with comm_error_exit_status, from any thread.
[[noreturn]] void end_run_on_comm_error(const ECommError& error);
