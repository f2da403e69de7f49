#include "link/frame.h"

#include <algorithm>
#include <cstring>

#include "link/byte_order.h"
#include "link/crc.h"
#include "platform/output.h"

namespace {

constexpr std::uint8_t card_start_1 = 0x10;  // written as it is, it begins every chain
constexpr std::uint8_t card_start_2 = 0x1E;
constexpr std::uint8_t card_end_1 = 0x05;
constexpr std::uint8_t card_end_2 = 0x11;
constexpr std::uint8_t card_invert = 0x1F;

// Line code of each nibble value.
constexpr std::array<std::uint8_t, 16> nibble_code = {
    0x19, 0x0E, 0x18, 0x14, 0x0C, 0x0D, 0x0B, 0x0A,
    0x1C, 0x1D, 0x1B, 0x1A, 0x16, 0x12, 0x17, 0x13,
};

// Bytes a serial frame adds around its message: sync pair, checksum, trailer.
constexpr std::size_t frame_wrapping = frame_overhead - message_length_overhead;

// Smallest fill at which the length field can be read.
constexpr std::size_t frame_head_bytes = frame_length_offset + 2;

// Drops the first `count` of the `fill` bytes, moving the rest down to the start.
void remove_front(std::span<std::uint8_t> buffer, std::size_t& fill, std::size_t count) {
    count = std::min(count, fill);
    if (count == 0) {
        return;
    }
    if (count < fill) {
        std::memmove(buffer.data(), buffer.data() + count, fill - count);
    }
    fill -= count;
}

// Drops bytes until the buffer begins with the sync pair or only one byte is left. The first
// sync pair is found in one pass and everything before it goes in one move; a lone 0x10 at the
// end is kept because its partner may still be on the way.
void resynchronise(std::span<std::uint8_t> buffer, std::size_t& fill) {
    if (fill <= 1) {
        return;
    }
    static constexpr std::array<std::uint8_t, 2> sync = {frame_sync_1, frame_sync_2};
    const auto begin = buffer.begin();
    const auto end = begin + static_cast<std::ptrdiff_t>(fill);
    const auto found = std::search(begin, end, sync.begin(), sync.end());
    const std::size_t drop = found == end ? fill - 1 : static_cast<std::size_t>(found - begin);
    remove_front(buffer, fill, drop);
}

// Drops the sync pair at the start of the buffer and searches again right after it.
void drop_sync_pair(std::span<std::uint8_t> buffer, std::size_t& fill) {
    remove_front(buffer, fill, 1);
    resynchronise(buffer, fill);
}

// The size of the frame that begins the buffer: length + 10 once its length field is in, the
// head alone before.
std::size_t expected_frame_size(std::span<const std::uint8_t> buffer, std::size_t fill) {
    if (fill < frame_head_bytes) {
        return frame_head_bytes;
    }
    return get_be16(buffer.data() + frame_length_offset) + frame_overhead;
}

bool starts_with_sync(std::span<const std::uint8_t> buffer, std::size_t fill) {
    return fill >= 2 && buffer[0] == frame_sync_1 && buffer[1] == frame_sync_2;
}

// A byte of the buffer for the error trace; positions past its end print as 0.
unsigned byte_at(std::span<const std::uint8_t> buffer, std::size_t index) {
    return index < buffer.size() ? buffer[index] : 0U;
}

}  // namespace

std::vector<std::uint8_t> serial_frame(const std::uint8_t* message, std::size_t n) {
    std::vector<std::uint8_t> frame;
    frame.reserve(n + frame_wrapping);
    frame.push_back(frame_sync_1);
    frame.push_back(frame_sync_2);
    frame.insert(frame.end(), message, message + n);
    const std::array<std::uint8_t, 3> trailer = serial_trailer(message, n);
    frame.insert(frame.end(), trailer.begin(), trailer.end());
    return frame;
}

std::array<std::uint8_t, 3> serial_trailer(const std::uint8_t* message, std::size_t n) {
    return {crc8_serial(message, n), frame_trailer_1, frame_trailer_2};
}

std::vector<std::uint8_t> encode_card_symbols(const std::uint8_t* message, std::size_t count) {
    std::vector<std::uint8_t> symbols;
    symbols.reserve(2 * count + 6);
    symbols.push_back(card_start_1);
    // A code is inverted whenever the symbol actually written before it ends in a 1 bit.
    const auto put_code = [&symbols](std::uint8_t code) {
        const bool invert = (symbols.back() & 1U) != 0;
        symbols.push_back(invert ? static_cast<std::uint8_t>(code ^ card_invert) : code);
    };
    const auto put_byte = [&put_code](std::uint8_t byte) {
        put_code(nibble_code[byte >> 4]);
        put_code(nibble_code[byte & 0x0FU]);
    };
    put_code(card_start_2);
    for (std::size_t i = 0; i < count; ++i) {
        put_byte(message[i]);
    }
    put_byte(crc8_card(message, count));
    put_code(card_end_1);
    put_code(card_end_2);
    return symbols;
}

std::size_t assemble_frame(std::span<std::uint8_t> buffer, std::size_t& fill,
                           std::atomic<int>& crc_errors) {
    fill = std::min(fill, buffer.size());
    if (fill <= 1) {
        return 0;
    }
    resynchronise(buffer, fill);
    if (fill < frame_head_bytes) {
        return 0;
    }
    const std::size_t length = get_be16(buffer.data() + frame_length_offset);
    const std::size_t frame_size = length + frame_overhead;
    if (length > max_unit_message_length || frame_size > buffer.size()) {
        // Waiting for this frame would hold every answer behind it: the sync pair cannot be a
        // real one.
        out_printf("\nFalse sync dropped: length %d is longer than any message\n",
                   static_cast<int>(length));
        drop_sync_pair(buffer, fill);
        return 0;
    }
    if (fill < frame_size) {
        return 0;
    }

    const std::size_t message_size = length + message_length_overhead;
    const std::uint8_t computed = crc8_serial(buffer.data() + frame_message_offset, message_size);
    const std::size_t crc_index = frame_message_offset + message_size;
    const std::uint8_t received = buffer[crc_index];
    if (computed == received) {
        return frame_size;
    }

    const int errors = ++crc_errors;
    const bool trailer_in_place =
        buffer[crc_index + 1] == frame_trailer_1 && buffer[crc_index + 2] == frame_trailer_2;
    // One print for both lines, so that nothing printed by another thread comes between them.
    const std::span<const std::uint8_t> whole(buffer);
    out_printf("\nCRC error %02X %02X counter %d Lenght %d write_ptr %d %s "
               "\n%02X %02X %02X %02X %02X\n",
               unsigned{computed}, unsigned{received}, errors, static_cast<int>(length),
               static_cast<int>(fill), trailer_in_place ? "OK" : "Failed", byte_at(whole, 0),
               byte_at(whole, 1), byte_at(whole, length + 9), byte_at(whole, length + 10),
               byte_at(whole, length + 11));
    remove_front(buffer, fill, trailer_in_place ? frame_size : 1);
    resynchronise(buffer, fill);
    return 0;
}

void consume_frame(std::span<std::uint8_t> buffer, std::size_t& fill, std::size_t frame_size) {
    fill = std::min(fill, buffer.size());
    frame_size = std::min(frame_size, fill);
    const std::size_t remaining = fill - frame_size;
    if (remaining > 0) {
        out_printf("MOVING %d BYTES \n", static_cast<int>(remaining));
    }
    remove_front(buffer, fill, frame_size);
}

std::uint32_t frame_stall_allowance_ms(std::size_t missing) {
    const std::uint64_t line_ms =
        (std::uint64_t{missing} * 1000 + line_bytes_per_second - 1) / line_bytes_per_second;
    return static_cast<std::uint32_t>(line_ms) + frame_stall_margin_ms;
}

bool frame_stall_watch::check(std::span<std::uint8_t> buffer, std::size_t& fill,
                              std::uint32_t now_ms) {
    fill = std::min(fill, buffer.size());
    const std::size_t size = expected_frame_size(buffer, fill);
    if (!starts_with_sync(buffer, fill) || fill >= size) {
        watching_ = false;  // nothing incomplete, or a frame the next pass takes
        return false;
    }
    if (!watching_ || fill != watched_fill_) {
        watching_ = true;
        watched_fill_ = fill;
        grew_at_ = now_ms;
        return false;
    }
    const std::size_t missing = size - fill;
    if (now_ms - grew_at_ <= frame_stall_allowance_ms(missing)) {
        return false;
    }
    const auto paused = static_cast<unsigned>(now_ms - grew_at_);
    if (fill < frame_head_bytes) {
        out_printf("\nFalse sync dropped: %d bytes came, then nothing for %u ms\n",
                   static_cast<int>(fill), paused);
    } else {
        out_printf("\nFalse sync dropped: length %d, %d of %d bytes came, then nothing for %u ms\n",
                   static_cast<int>(size - frame_overhead), static_cast<int>(fill),
                   static_cast<int>(size), paused);
    }
    watching_ = false;
    drop_sync_pair(buffer, fill);
    return true;
}
