// Files of a benchmark run: the temporary folder it works in, the pseudo-random image it
// loads, and reading back what was written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes, unless asked to keep it (then its name is printed).
class temp_folder {
public:
    temp_folder();
    ~temp_folder();
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }
    void keep(bool on) noexcept { keep_ = on; }

private:
    std::filesystem::path path_;
    bool keep_ = false;
};

// `size` bytes drawn from a generator seeded with `seed`: the same bytes for the same seed.
std::vector<std::uint8_t> pseudo_random_bytes(std::size_t size, std::uint64_t seed);

// Throws std::runtime_error if the file cannot be written whole.
void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
// The file's bytes; empty if it cannot be read.
std::vector<std::uint8_t> read_file(const std::filesystem::path& path);

// The last 2000 bytes of a file on stderr, headed by `what`: for a look at why a run failed.
void print_tail(const std::filesystem::path& path, const char* what);
