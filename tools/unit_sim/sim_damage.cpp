#include "tools/unit_sim/sim_damage.h"

#include <algorithm>
#include <cstring>

#include "link/byte_order.h"

namespace {

constexpr std::size_t damage_stride = 7;  // block k hits byte 7k (mod the bytes there are)

void flip(message_t& message, std::size_t at) {
    message[at] = static_cast<std::uint8_t>(message[at] ^ unseen_damage_bit);
}

}  // namespace

std::optional<std::size_t> damage_file_block(message_t& answer, std::size_t file_bytes) {
    if (answer.size() <= file_ack_at::data) {
        return std::nullopt;
    }
    const std::size_t block = get_be16(answer.data() + file_ack_at::block_number);
    const std::size_t data = std::min(file_bytes, answer.size() - file_ack_at::data);
    if (data == 0) {
        return std::nullopt;
    }
    const std::size_t at = file_ack_at::data + (block * damage_stride) % data;
    flip(answer, at);
    return at;
}

std::optional<std::size_t> damage_log_block(message_t& answer) {
    if (answer.size() <= message_log_ack_at::entries) {
        return std::nullopt;
    }
    const std::size_t count = answer[message_log_ack_at::entry_count];
    const std::size_t length = answer[message_log_ack_at::entry_length];
    const std::size_t block = answer[message_log_ack_at::seq_no];
    const std::size_t slots = answer[message_log_ack_at::seq_no_size];
    const std::size_t first = block * slots;
    if (length == 0 || first >= count) {
        return std::nullopt;
    }
    // Entries this block holds, as far as the message carries them.
    const std::size_t carried = (answer.size() - message_log_ack_at::entries) / length;
    const std::size_t held = std::min({slots, count - first, carried});
    if (held == 0) {
        return std::nullopt;
    }
    const std::size_t slot = message_log_ack_at::entries + (block % held) * length;
    const auto* text = reinterpret_cast<const char*>(answer.data() + slot);
    const std::size_t text_length = ::strnlen(text, length);
    const std::size_t at = slot + (text_length == 0 ? 0 : (block * damage_stride) % text_length);
    flip(answer, at);
    return at;
}
