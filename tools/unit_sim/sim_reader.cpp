#include "tools/unit_sim/sim_reader.h"

#include "link/byte_order.h"
#include "link/crc.h"
#include "link/frame.h"

namespace {

// Bytes of a frame up to and including its length field.
constexpr std::size_t head_bytes = frame_length_offset + 2;

}  // namespace

void frame_reader::feed(std::uint8_t byte, std::vector<frame_piece>& out) {
    held_.push_back(byte);
    settle(out);
}

std::size_t frame_reader::bytes_needed() const noexcept {
    if (held_.size() < 2) {
        return 1;
    }
    if (held_.size() < head_bytes) {
        return head_bytes - held_.size();
    }
    const std::size_t frame_size = get_be16(held_.data() + frame_length_offset) + frame_overhead;
    return frame_size > held_.size() ? frame_size - held_.size() : 1;
}

void frame_reader::drop_front_as_raw(std::vector<frame_piece>& out) {
    out.push_back({received_kind::raw_byte, {held_.front()}});
    held_.erase(held_.begin());
}

// Decides about the bytes held as far as they allow. On return held_ is empty or the
// beginning of a frame that still needs more bytes.
void frame_reader::settle(std::vector<frame_piece>& out) {
    while (!held_.empty()) {
        if (held_[0] != frame_sync_1) {
            drop_front_as_raw(out);
            continue;
        }
        if (held_.size() < 2) {
            return;
        }
        if (held_[1] != frame_sync_2) {
            drop_front_as_raw(out);
            continue;
        }
        if (held_.size() < head_bytes) {
            return;
        }
        const std::size_t length = get_be16(held_.data() + frame_length_offset);
        const std::size_t message_size = length + message_length_overhead;
        if (message_size > unit_max_message) {
            drop_front_as_raw(out);
            continue;
        }
        const std::size_t frame_size = length + frame_overhead;
        if (held_.size() < frame_size) {
            return;
        }
        const std::uint8_t* message = held_.data() + frame_message_offset;
        const std::size_t crc_index = frame_message_offset + message_size;
        const auto end = held_.begin() + static_cast<std::ptrdiff_t>(frame_size);
        if (crc8_serial(message, message_size) == held_[crc_index]) {
            out.push_back({received_kind::message, {message, message + message_size}});
            held_.erase(held_.begin(), end);
        } else if (held_[crc_index + 1] == frame_trailer_1 &&
                   held_[crc_index + 2] == frame_trailer_2) {
            out.push_back({received_kind::bad_frame, {held_.begin(), end}});
            held_.erase(held_.begin(), end);
        } else {
            drop_front_as_raw(out);
        }
    }
}
