// Reading numbers from option texts the way scanf's %ld, %lu, %lx and %f read them: leading
// white space is skipped, reading stops at the first character that does not belong to the
// number, and text that holds no number at all gives no value. Unlike scanf, a number that its
// type cannot hold is told apart instead of wrapping or saturating, so that "4294967298" is
// never taken for 2. The same code runs on every platform, so an option means the same thing on
// Linux and on Windows.
#pragma once

#include <cstdint>

enum class scan_outcome {
    no_number,     // the text does not start with a number
    number,        // value holds it
    out_of_range,  // a number, but not one the type can hold (value is left at 0)
};

template <typename T>
struct scanned {
    scan_outcome outcome = scan_outcome::no_number;
    T value{};
};

// Decimal, optional sign, -2147483648 to 2147483647.
scanned<std::int32_t> scan_signed(const char* text);

// Decimal, optional sign, 0 to 4294967295 ("-0" is 0, "-1" is out of range).
scanned<std::uint32_t> scan_unsigned(const char* text);

// Hexadecimal with an optional "0x" or "0X" prefix and an optional sign, 0 to 0xFFFFFFFF.
scanned<std::uint32_t> scan_hex(const char* text);

// A decimal floating-point number with optional sign and exponent, or inf/nan; a finite number
// beyond the largest float is out of range.
scanned<float> scan_float(const char* text);
