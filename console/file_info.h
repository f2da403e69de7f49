// The file about to be loaded: its size and times gathered into the loader state, and the table
// shown for a last confirmation.
#pragma once

#include <string>

// Fills file_size, file_time and download_time (now, the moment of the choice): 0, or -1 when
// the file cannot be opened, a directory included (no text), its status cannot be read
// ("Could not read %s \n"), or it is too large for a 32-bit size (a line saying so).
int read_file_info(const std::string& name);

// Shows the file table and asks "  OK to load this file Y/N?\n": 0 for y or Y, -1 otherwise.
int confirm_file_info();
