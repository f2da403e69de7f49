// Reading a whole file into memory in one sequential pass, with the system's own account of a
// failure (the card's bitstream file, an image to load).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/os_error.h"

// The text of the error for a name that is no regular file (a device, a FIFO, a socket).
inline constexpr const char* not_regular_file_text = "not a regular file";

// Replaces data with the file's bytes. False when the file cannot be opened or read, or is no
// regular file (the open never waits for a FIFO's writer); error then holds the system's code
// and text.
bool read_binary_file(const std::string& name, std::vector<std::uint8_t>& data, os_error& error);
