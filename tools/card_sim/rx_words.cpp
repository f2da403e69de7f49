#include "tools/card_sim/rx_words.h"

#include <algorithm>

std::vector<std::uint32_t> pack_receive_words(std::span<const std::uint8_t> message) {
    if (message.size() < 4) {
        return {};
    }
    const auto length = static_cast<std::uint16_t>((message[2] << 8) | message[3]);
    std::vector<std::uint32_t> words(receive_word_count(length), 0);
    const std::size_t bytes = std::min(message.size(), words.size() * 4);
    for (std::size_t k = 0; k < bytes; ++k) {
        words[k / 4] |= static_cast<std::uint32_t>(message[k]) << (8 * (k % 4));
    }
    return words;
}
