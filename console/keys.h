// Keys as the program reads them: from the console, or, in a test, from a script of keys.
#pragma once

#include <cstdint>
#include <string>

// True when a key can be read at once; waits up to the given time for one.
bool key_waiting(std::uint32_t wait_ms = 0);

// The next key's code (0-255), or -1 when no key will ever come (input has ended).
int read_key();

// True once input has ended and every key has been read.
bool keys_ended();

// A line of echoed input, at most `limit` characters kept; false when input has ended.
bool read_line(std::string& line, std::size_t limit);

// Tests: the keys come from this text, one byte per key (a line for read_line ends at '\n');
// when it is used up, input has ended.
void set_key_script(const std::string& keys);
void clear_key_script();
