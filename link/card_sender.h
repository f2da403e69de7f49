// Sending on the card link: a message goes out as its line symbols, one 32-bit store per symbol
// into the transmit register, back to back. Nothing is read back: the card gives no sign
// whether it took them, and a lost request is made good by the waits' retries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/card_window.h"
#include "link/frame.h"
#include "platform/output.h"

// The sending steps over a window: the trace above verbose level 5, then the 2 * n + 6 symbols
// (the checksum table is built by the first send).
template <class Window>
void send_card_message(const Window& window, const std::uint8_t* message, std::size_t n,
                       int verbose_level) {
    if (verbose_level > 5) {
        // The trace names CMD, SUB and P1; a message too short to have one shows 0 there.
        const auto byte_at = [&](std::size_t i) { return i < n ? unsigned{message[i]} : 0u; };
        out_printf("\nSend_Message Lenght %d (CMD %2X SUB %2X P1 %2X)\n", static_cast<int>(n + 5),
                   byte_at(4), byte_at(5), byte_at(6));
    }
    for (const std::uint8_t symbol : encode_card_symbols(message, n)) {
        window.store(card_tx_symbol, symbol);
    }
}

