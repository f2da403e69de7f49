// Reading numbers from option texts the way scanf's %ld, %lu, %lx and %f read them: leading
// white space is skipped, reading stops at the first character that does not belong to the
// number, and text that holds no number at all gives no value. The same code runs on every
// platform, so an option means the same thing on Linux and on Windows.
#pragma once

#include <cstdint>
#include <optional>

// Decimal, optional sign; the result wraps to 32 bits as a signed number ("-1" gives -1).
std::optional<std::int32_t> scan_signed(const char* text);

// Decimal, optional sign; "4294967295" and "-1" both give 0xFFFFFFFF. Numbers past 64 bits
// saturate before they are cut to 32 bits.
std::optional<std::uint32_t> scan_unsigned(const char* text);

// Hexadecimal with an optional "0x" or "0X" prefix and an optional sign.
std::optional<std::uint32_t> scan_hex(const char* text);

// A decimal floating-point number with optional sign and exponent, or inf/nan.
std::optional<float> scan_float(const char* text);
