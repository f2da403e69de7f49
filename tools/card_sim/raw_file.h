// A file written with plain system calls, one call per piece, so that a line may be written
// from the window's fault handler: no allocation, no buffering, no lock.
#pragma once

#include <cstddef>
#include <string>

class raw_file {
public:
    raw_file() = default;
    raw_file(const raw_file&) = delete;
    raw_file& operator=(const raw_file&) = delete;
    ~raw_file();

    // Creates or empties the file; false when that fails.
    bool open(const std::string& path);
    bool is_open() const noexcept;
    void write(const char* data, std::size_t size) const noexcept;

private:
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};
