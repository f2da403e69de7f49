// The card's transmit side: turns the 5-bit line symbols the program writes, one at a time,
// back into messages. It undoes the inversion chain, checks the start and end symbols, the
// nibble codes, the checksum and the length field, and drops a broken sequence as a line error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Written as a symbol when the program wrote a value that is not a 5-bit symbol at all.
inline constexpr std::uint8_t card_symbol_invalid = 0xFF;

enum class symbol_event : std::uint8_t {
    none,        // nothing complete yet
    message,     // a checked message is complete: see message()
    line_error,  // a broken sequence was dropped: see error()
};

class card_symbol_decoder {
public:
    symbol_event feed(std::uint8_t symbol);

    // The last complete message (without its checksum).
    const std::vector<std::uint8_t>& message() const noexcept { return message_; }
    // Why the last sequence was dropped.
    const char* error() const noexcept { return error_; }

private:
    enum class state : std::uint8_t { idle, discarding, after_start_1, body, after_end_1 };

    symbol_event fail(const char* why, state next);
    symbol_event begin();
    symbol_event finish();

    state state_ = state::idle;
    std::uint8_t previous_ = 0;  // the symbol last written, as written
    std::vector<std::uint8_t> nibbles_;
    std::vector<std::uint8_t> message_;
    const char* error_ = "";
};
