// Choosing a file to load: the entries of the current folder that match a pattern, listed with
// size and time and chosen by number; the same listing for the Scan key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Results of pick_file.
inline constexpr int pick_chosen = 0;
inline constexpr int pick_no_match = -1;
inline constexpr int pick_nothing = -2;

// Lists the entries matching the pattern ("*.bin", "*.srec", "*.eeprom") with number, name,
// size and last-write time. Without `chosen` only lists and returns 0 (or -1 when nothing
// matches). With it asks for the number and puts the name there (0); q, or a number that
// matches no entry, gives -2. A name of `limit` characters or more (the caller's buffer size;
// 0 for no bound) is refused with a message (result -2), never cut.
int pick_file(const char* pattern, std::string* chosen = nullptr, std::size_t limit = 0);

// Lists "*.bin", "*.srec" and "*.eeprom" in that order; the result of the last listing.
int scan_directory();
