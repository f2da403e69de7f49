// The operating system's own account of a failure: its error number and its text, taken at the
// moment the failure is seen, because a later call on the same thread overwrites it.
#pragma once

#include <cstdint>
#include <string>

struct os_error {
    std::uint32_t code = 0;  // errno on POSIX, GetLastError() on Windows
    std::string text;        // the system's message for the code, without a trailing line end
};

// The calling thread's last error, captured now.
os_error last_os_error();

// The system's text for an error number.
std::string os_error_text(std::uint32_t code);
