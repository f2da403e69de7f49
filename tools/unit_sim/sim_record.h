// What the simulated unit received, item by item: each good message, each frame with a wrong
// checksum and each byte outside any frame, stamped with its arrival time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class received_kind : std::uint8_t {
    message,    // the message of a frame with a good checksum (no sync pair, checksum or trailer)
    bad_frame,  // a whole frame whose checksum did not match
    raw_byte,   // one byte outside any frame (or any byte typed in polling mode)
};

struct received_item {
    received_kind kind = received_kind::raw_byte;
    double time_ms = 0.0;  // when its last byte arrived, in ms since the unit started
    std::vector<std::uint8_t> bytes;
};

// "message", "bad_frame" or "raw".
const char* received_kind_name(received_kind kind) noexcept;

// One line for a record file: time in ms with three decimals, kind, bytes in hexadecimal.
std::string record_line(const received_item& item);

// Bytes as two-digit upper-case hexadecimal separated by spaces.
std::string hex_text(const std::uint8_t* data, std::size_t count);
