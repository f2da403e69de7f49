// The files a run has written from what it read back, in the order they were finished: what a
// report of the run lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct written_file {
    std::string path;    // as the run names it: the output folder, the separator, the name
    std::uint64_t size;  // bytes
    std::uint32_t crc32; // of the whole file
};

using written_file_list = std::vector<written_file>;
