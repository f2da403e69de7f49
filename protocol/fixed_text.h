// Bounded texts of the loader: a fixed char[N] that always holds a NUL-terminated text of at
// most N-1 characters, and helpers that put a text into, or read it from, a raw field of a
// message or record. Longer texts are cut; nothing is ever written past the field.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

// Copies text into a raw field of N bytes: at most N-1 characters, the rest of the field NUL.
template <std::size_t N>
void put_text_field(std::span<std::uint8_t, N> field, std::string_view text) noexcept {
    static_assert(N >= 1, "a text field needs room for its NUL");
    const std::size_t count = std::min(text.size(), N - 1);
    if (count != 0) {  // an empty view may have no storage at all
        std::memcpy(field.data(), text.data(), count);
    }
    std::memset(field.data() + count, 0, N - count);
}

template <std::size_t N>
void put_text_field(char (&field)[N], std::string_view text) noexcept {
    static_assert(N >= 1, "a text field needs room for its NUL");
    const std::size_t count = std::min(text.size(), N - 1);
    if (count != 0) {
        std::memcpy(field, text.data(), count);
    }
    std::memset(field + count, 0, N - count);
}

// The text of a raw field received from the unit: up to the first NUL, or the whole field
// when the unit filled it without one.
template <std::size_t N>
std::string_view field_text(const char (&field)[N]) noexcept {
    const void* nul = std::memchr(field, 0, N);
    const std::size_t length =
        nul == nullptr ? N : static_cast<std::size_t>(static_cast<const char*>(nul) - field);
    return std::string_view(field, length);
}

template <std::size_t N>
class fixed_text {
    static_assert(N >= 1, "a text field needs room for its NUL");

public:
    static constexpr std::size_t capacity = N - 1;  // characters, without the NUL

    constexpr fixed_text() noexcept = default;
    explicit fixed_text(std::string_view text) noexcept { assign(text); }

    // Keeps the first N-1 characters of text; the unused rest of the field is NUL, so that
    // data() can be copied whole into a message.
    void assign(std::string_view text) noexcept { put_text_field(text_, text); }
    fixed_text& operator=(std::string_view text) noexcept {
        assign(text);
        return *this;
    }

    void clear() noexcept { std::memset(text_, 0, N); }

    const char* c_str() const noexcept { return text_; }
    std::string_view view() const noexcept { return std::string_view(text_, size()); }
    std::size_t size() const noexcept { return field_text(text_).size(); }
    bool empty() const noexcept { return text_[0] == '\0'; }

    // The whole field of N bytes, NUL-padded.
    const char* data() const noexcept { return text_; }

private:
    char text_[N]{};
};
