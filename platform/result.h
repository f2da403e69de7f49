// The one result type of the link, files and protocol layers: a kind from a small closed set, a
// message for people, and the operating system's own account where there is one. Nothing below
// the program's entry ends the process; a failure travels back as one of these, and only the
// entry turns it into an exit status.
#pragma once

#include <string>
#include <utility>

#include "platform/os_error.h"

enum class result_kind {
    ok,
    link_failed,  // the link cannot be made (a port that cannot be opened, a card that cannot
                  // be set up) or has failed while in use (a port that is gone)
    io_failed,    // a file cannot be read or written
    refused,      // what was asked for is not done: a bad bank, file, size or answer
    no_resource,  // the system would not give what the program needs (a thread)
};

struct result {
    result_kind kind = result_kind::ok;
    std::string message;  // the line that tells a user what failed, without a line end
    os_error system;      // the system's error, where the failure came from the system
    // The failing step's own number where the program prints one: the port's "(error 8)", the
    // output writer's "Error -2 writing to file ...". 0 otherwise.
    int code = 0;

    bool ok() const noexcept { return kind == result_kind::ok; }
    explicit operator bool() const noexcept { return ok(); }

    static result success() { return {}; }
    static result failure(result_kind kind, std::string message, os_error system = {},
                          int code = 0) {
        return {kind, std::move(message), std::move(system), code};
    }
};
