// Standard output as each backend sees it: whether it is a terminal (a console window), how wide
// that is, and a write straight to it for a signal handler.
#pragma once

#include <cstddef>

bool os_stdout_is_terminal();
// Columns of the terminal's window; 0 when standard output is none or they cannot be read.
std::size_t os_stdout_columns();

// Writes straight to standard output, past the C library's buffer. Async-signal-safe on Linux.
void os_write_stdout_now(const char* data, std::size_t length) noexcept;
