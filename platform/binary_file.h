// Reading a whole file into memory in one sequential pass, with the system's own account of a
// failure (the card's bitstream file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/os_error.h"

// Replaces data with the file's bytes. False when the file cannot be opened or read; error
// then holds the system's code and text.
bool read_binary_file(const std::string& name, std::vector<std::uint8_t>& data, os_error& error);
