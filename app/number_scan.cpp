#include "app/number_scan.h"

#include <cstdlib>
#include <limits>

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* skip_space(const char* p) {
    while (is_space(*p)) {
        ++p;
    }
    return p;
}

int digit_value(char c, unsigned base) {
    int v = -1;
    if (c >= '0' && c <= '9') {
        v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        v = c - 'A' + 10;
    }
    return (v >= 0 && static_cast<unsigned>(v) < base) ? v : -1;
}

// The number as an unsigned 64-bit value with the sign already applied modulo 2^64.
std::optional<std::uint64_t> scan_integer(const char* text, unsigned base) {
    const char* p = skip_space(text);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2], 16) >= 0) {
        p += 2;
    }
    if (digit_value(*p, base) < 0) {
        return std::nullopt;
    }
    std::uint64_t magnitude = 0;
    bool saturated = false;
    for (int d; (d = digit_value(*p, base)) >= 0; ++p) {
        const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
        if (saturated || magnitude > (limit - static_cast<std::uint64_t>(d)) / base) {
            saturated = true;
            continue;
        }
        magnitude = magnitude * base + static_cast<std::uint64_t>(d);
    }
    if (saturated) {
        magnitude = std::numeric_limits<std::uint64_t>::max();
    }
    return negative ? (~magnitude + 1u) : magnitude;
}

}  // namespace

std::optional<std::int32_t> scan_signed(const char* text) {
    const auto v = scan_integer(text, 10);
    if (!v) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(*v));
}

std::optional<std::uint32_t> scan_unsigned(const char* text) {
    const auto v = scan_integer(text, 10);
    if (!v) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*v);
}

std::optional<std::uint32_t> scan_hex(const char* text) {
    const auto v = scan_integer(text, 16);
    if (!v) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*v);
}

std::optional<float> scan_float(const char* text) {
    const char* p = skip_space(text);
    char* end = nullptr;
    // The program never changes the C locale, so the decimal point is always '.'.
    const double wide = std::strtod(p, &end);
    if (end == p) {
        return std::nullopt;
    }
    // Too large for a float: the nearest float is an infinity of the same sign.
    if (wide > static_cast<double>(std::numeric_limits<float>::max())) {
        return std::numeric_limits<float>::infinity();
    }
    if (wide < -static_cast<double>(std::numeric_limits<float>::max())) {
        return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(wide);
}
