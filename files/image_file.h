// The image a download sends: the chosen file read whole into memory, with the size limit of
// what can be loaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/result.h"

// The largest file that can be loaded: the loader state and the FIRMWARE_INFO record carry the
// file size in 32 bits.
inline constexpr std::uint64_t max_load_size = 0xFFFFFFFFu;

// True (after saying so) when a file of this size cannot be loaded.
bool refuse_too_large(const std::string& name, std::uint64_t size);

// Reads the file whole into `image` and closes it again. A failure (io_failed) comes after
// "Could not open %s \n" or "Could not read %s \n" (an empty file cannot be read), `image` then
// empty.
result load_file_to_memory(const std::string& name, std::vector<std::uint8_t>& image);

// Gives the memory of an image back.
void release_image(std::vector<std::uint8_t>& image);
