// The file about to be loaded: its size and times gathered into the loader state, and the table
// shown for a last confirmation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/download_choice.h"

struct file_facts {
    std::uint32_t size = 0;
    std::string file_time;      // modification time, as a date text
    std::string download_time;  // now, the moment of the choice, as a date text
};

// The facts of the file; nothing when it cannot be opened (no text), its status cannot be read
// ("Could not read %s \n"), it is too large for a 32-bit size (a line saying so), or it is a
// folder, a device or a FIFO (a line saying so; *told is then set, so that the caller does not
// add that the file does not exist).
std::optional<file_facts> read_file_info(const std::string& name, bool* told = nullptr);

// Shows the file table of the choice (with the user the unit records) and asks
// "  OK to load this file Y/N?\n": true for y or Y.
bool confirm_file_info(const download_choice& choice, const std::string& user);
