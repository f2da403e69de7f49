// The console: single keys without echo and without Enter, a check for a waiting key that never
// blocks, a line of echoed input, and clearing the screen. When standard input is no terminal
// (a pipe or a file), keys are its bytes as they come, and its end means that no key will come
// again.
#pragma once

#include <cstdint>
#include <string>

// Puts the terminal into single-key input without echo. What it changes is undone on every way
// out of the process (normal end, an ended run, Ctrl-C, SIGTERM, SIGHUP, a crash signal).
void console_open();

// Undoes console_open (also done on every way out).
void console_restore();

// True when a key can be read at once. Waits up to the given time for one to arrive.
bool console_key_waiting(std::uint32_t wait_ms = 0);

// The next key's code (0-255); blocks until there is one. -1 when input has ended.
int console_read_key();

// True once standard input has ended: no key will ever come.
bool console_input_ended();

// Reads one line of ordinary, echoed input, without its line end; at most `limit` characters
// are kept, the rest of the line is read and dropped. False when input has ended.
bool console_read_line(std::string& line, std::size_t limit);

// Clears the console window ("cls" on Windows; on Linux the terminal's clear sequence when
// standard output is a terminal, nothing otherwise).
void console_clear_screen();
