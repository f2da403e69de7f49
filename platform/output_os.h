// Standard output as each backend sees it: whether it is a terminal (a console window), how wide
// that is, and a write straight to it for a signal handler.
#pragma once

#include <cstddef>

// From now on standard error stands in for standard output in every call below.
void os_output_to_stderr();

bool os_stdout_is_terminal();
// Columns and rows of the terminal's window; 0 when standard output is none or they cannot be
// read.
std::size_t os_stdout_columns();
std::size_t os_stdout_rows();

// Moves the cursor, which stands at the start of a line, up by `lines` lines and clears
// everything from there to the end of the screen. Terminals only.
void os_stdout_clear_lines_above(std::size_t lines);

// Writes straight to standard output, past the C library's buffer. Async-signal-safe on Linux.
void os_write_stdout_now(const char* data, std::size_t length) noexcept;
