// Choosing a file to load: the entries of the current folder that match a pattern, listed with
// size and time and chosen by number; the same listing for the Scan key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// How a listing or a choice ended.
enum class pick_result {
    chosen,    // listed, and with a choice asked for, a file chosen
    no_match,  // nothing matches the pattern
    nothing,   // q, a number that matches no entry, or a name too long
};

// Lists the entries matching the pattern ("*.bin", "*.srec", "*.eeprom") with number, name,
// size and last-write time. Without `chosen` only lists. With it asks for the number and puts
// the name there. A name of `limit` characters or more (the caller's buffer size; 0 for no
// bound) is refused with a message (nothing), never cut.
pick_result pick_file(const char* pattern, std::string* chosen = nullptr, std::size_t limit = 0);

// Lists "*.bin", "*.srec" and "*.eeprom" in that order; the result of the last listing.
pick_result scan_directory();
