// The unit's receiver: finds the frames in the bytes it receives, one byte at a time, and
// sorts everything into good messages, frames with a wrong checksum and bytes outside frames.
// A frame is 0x10 0x1E, the message, crc8_serial of the message, 'R' 'S'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/unit_sim/sim_record.h"

// The longest message the unit takes; a length field promising more marks a false sync pair.
inline constexpr std::size_t unit_max_message = 2046;

struct frame_piece {
    received_kind kind;
    std::vector<std::uint8_t> bytes;  // message, whole bad frame, or the one raw byte
};

class frame_reader {
public:
    // Takes the next byte and appends what it completes to `out`, in order. A frame whose
    // checksum fails is dropped whole when its trailer stands where it belongs; otherwise its
    // first byte is taken as a stray byte and the search for a sync pair goes on behind it.
    void feed(std::uint8_t byte, std::vector<frame_piece>& out);

    // Bytes still needed before the reader can decide anything (at least 1).
    std::size_t bytes_needed() const noexcept;

    // Forgets a frame begun but not finished.
    void reset() noexcept { held_.clear(); }

private:
    void settle(std::vector<frame_piece>& out);
    void drop_front_as_raw(std::vector<frame_piece>& out);

    std::vector<std::uint8_t> held_;  // empty, or the beginning of a possible frame
};
