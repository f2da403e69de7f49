#include "app/number_scan.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

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

// Whether the number at p is written as an infinity ("inf", "-Infinity"), not as digits.
bool has_infinity_word(const char* p) {
    if (*p == '+' || *p == '-') {
        ++p;
    }
    return (p[0] == 'i' || p[0] == 'I') && (p[1] == 'n' || p[1] == 'N') &&
           (p[2] == 'f' || p[2] == 'F');
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

// The magnitude and sign of an integer; a magnitude past 64 bits saturates, which no 32-bit
// type can hold either.
struct integer_text {
    bool negative = false;
    std::uint64_t magnitude = 0;
};

std::optional<integer_text> scan_integer(const char* text, unsigned base) {
    const char* p = skip_space(text);
    integer_text number;
    if (*p == '+' || *p == '-') {
        number.negative = *p == '-';
        ++p;
    }
    if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2], 16) >= 0) {
        p += 2;
    }
    if (digit_value(*p, base) < 0) {
        return std::nullopt;
    }
    constexpr std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
    for (int d; (d = digit_value(*p, base)) >= 0; ++p) {
        if (number.magnitude > (limit - static_cast<std::uint64_t>(d)) / base) {
            number.magnitude = limit;
            continue;
        }
        number.magnitude = number.magnitude * base + static_cast<std::uint64_t>(d);
    }
    return number;
}

scanned<std::uint32_t> unsigned_result(const std::optional<integer_text>& number) {
    if (!number) {
        return {};
    }
    if ((number->negative && number->magnitude != 0) ||
        number->magnitude > std::numeric_limits<std::uint32_t>::max()) {
        return {scan_outcome::out_of_range, 0};
    }
    return {scan_outcome::number, static_cast<std::uint32_t>(number->magnitude)};
}

}  // namespace

scanned<std::int32_t> scan_signed(const char* text) {
    const std::optional<integer_text> number = scan_integer(text, 10);
    if (!number) {
        return {};
    }
    // The most negative value has one more step than the most positive.
    const std::uint64_t most = std::uint64_t{std::numeric_limits<std::int32_t>::max()} +
                               (number->negative ? 1u : 0u);
    if (number->magnitude > most) {
        return {scan_outcome::out_of_range, 0};
    }
    const auto magnitude = static_cast<std::int64_t>(number->magnitude);
    const std::int64_t value = number->negative ? -magnitude : magnitude;
    return {scan_outcome::number, static_cast<std::int32_t>(value)};
}

scanned<std::uint32_t> scan_unsigned(const char* text) {
    return unsigned_result(scan_integer(text, 10));
}

scanned<std::uint32_t> scan_hex(const char* text) {
    return unsigned_result(scan_integer(text, 16));
}

scanned<float> scan_float(const char* text) {
    const char* p = skip_space(text);
    char* end = nullptr;
    // The program never changes the C locale, so the decimal point is always '.'.
    const double wide = std::strtod(p, &end);
    if (end == p) {
        return {};
    }
    // strtod gives an infinity for a finite number beyond a double, as for one written "inf".
    const bool written_infinite = std::isinf(wide) && has_infinity_word(p);
    const double largest = static_cast<double>(std::numeric_limits<float>::max());
    if (!written_infinite && !std::isnan(wide) && (wide > largest || wide < -largest)) {
        return {scan_outcome::out_of_range, 0.0f};
    }
    return {scan_outcome::number, static_cast<float>(wide)};
}
