// Test data for transfer tests: file contents that show a misplaced block, their CRC-32 as the
// unit records it, files written and read back whole, and counting a text's occurrences.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/crc.h"

// Bytes that differ from file to file (seed) and from block to block.
inline std::vector<std::uint8_t> pattern(std::size_t size, unsigned seed = 1) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t k = 0; k < size; ++k) {
        data[k] = static_cast<std::uint8_t>(k * (29 + seed) + k / 251 + seed);
    }
    return data;
}

inline std::uint32_t crc_of(const std::vector<std::uint8_t>& data) {
    return crc32_file(data.data(), data.size(), 0xFFFFFFFFu);
}

inline void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& data) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// The whole file; empty when it cannot be read.
inline std::vector<std::uint8_t> content_of(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

inline std::vector<std::uint8_t> text_bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// How often `part` stands in `text`, overlapping occurrences included.
inline std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}
