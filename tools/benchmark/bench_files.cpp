#include "tools/benchmark/bench_files.h"

#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

temp_folder::temp_folder() {
    std::string pattern = (fs::temp_directory_path() / "kestrel-bench.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder in " +
                                 fs::temp_directory_path().string());
    }
    path_ = pattern;
}

temp_folder::~temp_folder() {
    if (keep_) {
        std::printf("temporary folder kept: %s\n", path_.c_str());
        return;
    }
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::vector<std::uint8_t> pseudo_random_bytes(std::size_t size, std::uint64_t seed) {
    std::mt19937_64 engine(seed);
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; i += 8) {
        std::uint64_t word = engine();
        for (std::size_t k = i; k < size && k < i + 8; ++k, word >>= 8) {
            bytes[k] = static_cast<std::uint8_t>(word);
        }
    }
    return bytes;
}

void write_file(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::vector<std::uint8_t> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

void print_tail(const fs::path& path, const char* what) {
    const std::vector<std::uint8_t> text = read_file(path);
    const std::size_t keep = 2000;
    const std::size_t from = text.size() > keep ? text.size() - keep : 0;
    const std::size_t shown = text.size() - from;
    std::fprintf(stderr, "---- %s, last %zu bytes ----\n%.*s\n", what, shown,
                 static_cast<int>(shown), reinterpret_cast<const char*>(text.data() + from));
}
