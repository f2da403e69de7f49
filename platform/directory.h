// Searching the current directory by a wildcard pattern, as the file picker lists the files
// that can be loaded.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

struct directory_entry {
    std::string name;
    std::uint64_t size = 0;                 // in bytes; 0 for a directory
    std::optional<std::time_t> write_time;  // last write; nothing when the system gives none
};

// The entries of the current directory whose names match the pattern ('*' stands for any run
// of characters, '?' for one), directories included, in the order in which the system returns
// them. Names match as the system compares them: without regard to case on Windows, exactly on
// Linux. Empty when nothing matches or the directory cannot be read.
std::vector<directory_entry> find_entries(const std::string& pattern);
