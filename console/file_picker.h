// Choosing a file to load: the entries of the current folder that match a pattern, listed with
// size and time and chosen by number; the same listing for the Scan key; and reading the chosen
// file whole for the download.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Results of pick_file.
inline constexpr int pick_chosen = 0;
inline constexpr int pick_no_match = -1;
inline constexpr int pick_nothing = -2;

// The largest file that can be loaded: the loader state and the FIRMWARE_INFO record carry the
// file size in 32 bits.
inline constexpr std::uint64_t max_load_size = 0xFFFFFFFFu;

// True (after saying so) when a file of this size cannot be loaded.
bool refuse_too_large(const std::string& name, std::uint64_t size);

// Lists the entries matching the pattern ("*.bin", "*.srec", "*.eeprom") with number, name,
// size and last-write time. Without `chosen` only lists and returns 0 (or -1 when nothing
// matches). With it asks for the number and puts the name there (0); q, or a number that
// matches no entry, gives -2. A name of `limit` characters or more (the caller's buffer size;
// 0 for no bound) is refused with a message (result -2), never cut.
int pick_file(const char* pattern, std::string* chosen = nullptr, std::size_t limit = 0);

// Lists "*.bin", "*.srec" and "*.eeprom" in that order; the result of the last listing.
int scan_directory();

// The whole content of the last file read for a download; its size is the download size.
extern std::vector<std::uint8_t> file_buffer;

// Reads the file whole into file_buffer and closes it again: 0, or -1 after "Could not open %s
// \n" or "Could not read %s \n" (an empty file cannot be read), file_buffer then empty.
int load_file_to_memory(const std::string& name);

// Releases file_buffer (the end of the run).
void release_file_buffer();
