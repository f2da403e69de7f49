// Shared by the fuzz targets: a reader that takes numbers and bytes from the front of the fuzz
// input (zeros once it runs out), and a sink that drops everything the program prints, so that
// printing costs the fuzzer nothing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/output.h"

class fuzz_input {
public:
    fuzz_input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t remaining() const { return size_ - at_; }
    bool empty() const { return at_ == size_; }

    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

    std::uint16_t u16() {
        const std::uint16_t high = byte();
        return static_cast<std::uint16_t>((high << 8) | byte());
    }

    std::uint32_t u32() {
        const std::uint32_t high = u16();
        return (high << 16) | u16();
    }

    // Copies up to `count` bytes into `out` and zero-fills the rest of `count`.
    void fill(std::uint8_t* out, std::size_t count) {
        const std::size_t taken = std::min(count, remaining());
        std::copy(data_ + at_, data_ + at_ + taken, out);
        std::fill(out + taken, out + count, std::uint8_t{0});
        at_ += taken;
    }

    // Everything not yet taken.
    std::vector<std::uint8_t> rest() {
        std::vector<std::uint8_t> out(data_ + at_, data_ + size_);
        at_ = size_;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

inline void discard_output(const char*, std::size_t, void*) {}

// Installs the discarding sink once per process.
inline void silence_output() {
    static const bool installed = [] {
        out_set_sink(&discard_output, nullptr);
        return true;
    }();
    (void)installed;
}
