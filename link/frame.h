// Wrapping of a message for the two links and recognition of received serial frames.
// A message is an 8-byte head (DA, SA, big-endian length, CMD, SUB, P1, P2) and data; it is
// length + 5 bytes long. On the serial line it travels as 0x10 0x1E, message, crc8_serial of the
// message, 'R' 'S'; on the card it is written as a chain of 5-bit line symbols.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

inline constexpr std::uint8_t frame_sync_1 = 0x10;
inline constexpr std::uint8_t frame_sync_2 = 0x1E;
inline constexpr std::uint8_t frame_trailer_1 = 0x52;  // 'R'
inline constexpr std::uint8_t frame_trailer_2 = 0x53;  // 'S'

inline constexpr std::size_t message_head_size = 8;
// A message is its length field + 5 bytes (DA, SA, the two length bytes, CMD).
inline constexpr std::size_t message_length_overhead = 5;
// A serial frame is the message's length field + 10 bytes: sync pair, the message, checksum,
// trailer.
inline constexpr std::size_t frame_overhead = 10;
// Offsets inside a serial frame.
inline constexpr std::size_t frame_message_offset = 2;
inline constexpr std::size_t frame_length_offset = 4;

// The receive buffer holds the longest serial frame (65,545 bytes) and the longest card message.
inline constexpr std::size_t rx_buffer_size = 81920;

// No message of the unit declares a longer length field: the longest are blocks of the log (SUB,
// five parameter bytes and at most 5120 bytes of entries); a file block carries at most 1024
// bytes. A sync pair followed by a larger length is a false one.
inline constexpr std::size_t max_unit_message_length = 6 + 5120;

// The serial line moves 11,520 bytes a second (115200 baud, ten bits a byte).
inline constexpr std::uint32_t line_bytes_per_second = 11520;
// What an incomplete frame is given beyond the time its missing bytes take at line rate before
// it is taken for a false sync: the unit sends a frame in one go, so a pause this long inside a
// frame means that its length field was damaged.
inline constexpr std::uint32_t frame_stall_margin_ms = 200;

// The whole serial frame of a message of n bytes.
std::vector<std::uint8_t> serial_frame(const std::uint8_t* message, std::size_t n);

// What follows the message in its serial frame: the checksum and the trailer.
std::array<std::uint8_t, 3> serial_trailer(const std::uint8_t* message, std::size_t n);

// The 2 * count + 6 line symbols (values 0 to 0x1F) of a message for the card's transmit register.
std::vector<std::uint8_t> encode_card_symbols(const std::uint8_t* message, std::size_t count);

// Looks for a checked frame at the start of the first `fill` bytes of buffer. Returns its size
// (length + 10) with the frame left in place at offset 0, or 0 when there is none yet. Stray
// bytes before a sync pair are dropped; a frame with a wrong checksum is reported and dropped
// whole if its trailer stands where it belongs, otherwise only its first byte is dropped. A sync
// pair whose length field exceeds max_unit_message_length is reported and dropped at once, and
// the search goes on right after it. Each checksum error counts in crc_errors (the link's count,
// which its report line shows).
std::size_t assemble_frame(std::span<std::uint8_t> buffer, std::size_t& fill,
                           std::atomic<int>& crc_errors);

// Watches the incomplete frame at the start of the receive buffer between reader passes. A
// frame that stops growing for longer than its missing bytes take at line rate, plus
// frame_stall_margin_ms, had its length damaged on the line: its sync pair is reported and
// dropped, and the search goes on right after it, so that a real frame inside it is still found.
class frame_stall_watch {
public:
    // Called after a pass that found no frame, with the time of the pass. True when the frame
    // at the start of the buffer was dropped.
    bool check(std::span<std::uint8_t> buffer, std::size_t& fill, std::uint32_t now_ms);

private:
    bool watching_ = false;
    std::size_t watched_fill_ = 0;  // the fill when the frame last grew
    std::uint32_t grew_at_ = 0;     // and when that was
};

// How long a frame may pause, with `missing` bytes still to come, before it is dropped.
std::uint32_t frame_stall_allowance_ms(std::size_t missing);

// Removes a delivered frame of frame_size bytes from the start of the buffer, moving any bytes
// behind it to the start.
void consume_frame(std::span<std::uint8_t> buffer, std::size_t& fill, std::size_t frame_size);
