#include "tools/card_sim/card_symbols.h"

#include <array>

#include "link/crc.h"

namespace {

constexpr std::uint8_t start_1 = 0x10;
constexpr std::uint8_t start_2 = 0x1E;
constexpr std::uint8_t end_1 = 0x05;
constexpr std::uint8_t end_2 = 0x11;
constexpr std::uint8_t invert = 0x1F;
constexpr std::uint8_t no_nibble = 0xFF;

// Nibble value of each line code; no_nibble for codes that carry none.
constexpr std::array<std::uint8_t, 32> nibble_of_code = [] {
    std::array<std::uint8_t, 32> table{};
    table.fill(no_nibble);
    constexpr std::array<std::uint8_t, 16> codes = {0x19, 0x0E, 0x18, 0x14, 0x0C, 0x0D,
                                                    0x0B, 0x0A, 0x1C, 0x1D, 0x1B, 0x1A,
                                                    0x16, 0x12, 0x17, 0x13};
    for (std::uint8_t nibble = 0; nibble < 16; ++nibble) {
        table[codes[nibble]] = nibble;
    }
    return table;
}();

// Head (DA, SA, length, CMD) and checksum: the least a message can carry.
constexpr std::size_t shortest_message = 5;
// The length field reaches 0xFFFF: the longest message plus its checksum, in nibbles.
constexpr std::size_t longest_nibbles = 2 * (0xFFFF + 5 + 1);

}  // namespace

symbol_event card_symbol_decoder::fail(const char* why, state next) {
    error_ = why;
    nibbles_.clear();
    state_ = next;
    return symbol_event::line_error;
}

symbol_event card_symbol_decoder::begin() {
    nibbles_.clear();
    previous_ = start_1;
    state_ = state::after_start_1;
    return symbol_event::none;
}

symbol_event card_symbol_decoder::feed(std::uint8_t symbol) {
    if (symbol == start_1) {
        // Written unchanged it can never be a valid code inside a message (neither 0x10 nor
        // 0x0F is a code): it always begins a new chain.
        if (state_ == state::idle || state_ == state::discarding) {
            return begin();
        }
        begin();
        error_ = "message broken off by a new start symbol";
        return symbol_event::line_error;
    }
    if (symbol > invert) {
        return fail("value written is not a 5-bit symbol", state::discarding);
    }
    const std::uint8_t code = (previous_ & 1) != 0 ? symbol ^ invert : symbol;
    previous_ = symbol;
    switch (state_) {
    case state::idle:
        return fail("symbols outside a message", state::discarding);
    case state::discarding:
        return symbol_event::none;
    case state::after_start_1:
        if (code != start_2) {
            return fail("second start symbol missing", state::discarding);
        }
        state_ = state::body;
        return symbol_event::none;
    case state::body:
        if (code == end_1) {
            state_ = state::after_end_1;
            return symbol_event::none;
        }
        if (nibble_of_code[code] == no_nibble) {
            return fail("symbol that is no nibble code", state::discarding);
        }
        if (nibbles_.size() >= longest_nibbles) {
            return fail("message longer than any length field allows", state::discarding);
        }
        nibbles_.push_back(nibble_of_code[code]);
        return symbol_event::none;
    case state::after_end_1:
        if (code != end_2) {
            return fail("second end symbol missing", state::discarding);
        }
        return finish();
    }
    return symbol_event::none;
}

symbol_event card_symbol_decoder::finish() {
    if (nibbles_.size() % 2 != 0) {
        return fail("odd number of nibbles", state::idle);
    }
    const std::size_t bytes = nibbles_.size() / 2;
    if (bytes < shortest_message + 1) {
        return fail("message shorter than its head", state::idle);
    }
    std::vector<std::uint8_t> message(bytes - 1);
    for (std::size_t k = 0; k < message.size(); ++k) {
        message[k] = static_cast<std::uint8_t>((nibbles_[2 * k] << 4) | nibbles_[2 * k + 1]);
    }
    const auto checksum =
        static_cast<std::uint8_t>((nibbles_[nibbles_.size() - 2] << 4) | nibbles_.back());
    if (crc8_card(message.data(), message.size()) != checksum) {
        return fail("checksum error", state::idle);
    }
    const std::size_t length = (std::size_t{message[2]} << 8) | message[3];
    if (length + 5 != message.size()) {
        return fail("length field does not match the message", state::idle);
    }
    nibbles_.clear();
    message_ = std::move(message);
    state_ = state::idle;
    return symbol_event::message;
}
