// Failures of the serial port: which operation failed, as a code the port has always reported,
// with the system's own error taken where the failure was seen.
#pragma once

#include <cstdint>
#include <string>

#include "platform/result.h"

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

// What a failing port operation returns: a result of kind link_failed whose message is the
// line that reports it, "Serial port COM3: cannot open the port (error 8): No such file or
// directory (system error 2)", with the system's error kept beside it.
result comm_failure(int code, const os_error& system, const std::string& port_name);

// The exit status of a run ended by a serial-port failure.
inline constexpr int comm_error_exit_status = 2;

// What the code means, for people: "cannot open the port", "write failed", ...
const char* comm_error_meaning(int code);
