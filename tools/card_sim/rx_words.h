// The card's receive side: a message from the unit as the 32-bit words the receive register
// serves, four message bytes to a word, the first byte in the least significant byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Words for a message of at least four bytes: the first word (DA, SA, length) and then
// (length + 7) / 4 further words, which hold the rest of the message and zero bytes after it.
std::vector<std::uint32_t> pack_receive_words(std::span<const std::uint8_t> message);

// How many words a message with this length field takes in all.
inline constexpr std::size_t receive_word_count(std::uint16_t length) {
    return 1 + (std::size_t{length} + 7) / 4;
}
