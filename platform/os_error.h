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

// True when the error says that the name is taken: a file, folder or link of that name exists.
bool is_name_taken(const os_error& error);

// True when the error says that there is nothing of that name (nor the folder it lies in).
bool is_name_missing(const os_error& error);
