// The card link's receiver: it polls the card's receive register every 2 ms and hands each
// message the unit sent to the link's listener, on the receiver thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/card_window.h"
#include "link/unit_link.h"
#include "platform/clock.h"
#include "platform/output.h"

inline constexpr std::uint32_t card_receiver_start_delay_ms = 1000;
inline constexpr std::uint32_t card_receiver_poll_ms = 2;

// What the receiver works with: its receive buffer (rx_buffer_size bytes), whom it hands the
// messages to, and when the unit was last heard from.
struct card_receiver_context {
    std::span<std::uint8_t> buffer;
    link_listener& listener;
    std::atomic<std::uint32_t>& last_heard;
};

// Before the first poll: give the configured card a second, then start its receive side.
template <class Window>
void card_receiver_start(const Window& window) {
    sleep_ms(card_receiver_start_delay_ms);
    window.store(card_rx_init, 0);
}

// One poll. Reads RX_PRE (the value is not needed), then a first word from rx_data. A first
// byte (DA) of 0 means nothing is waiting: false. Otherwise the message is read whole into the
// buffer, four bytes a word with the first byte lowest: ((length + 3) >> 2) + 1 further words
// follow the first, without a time limit; it is handed on, traced, and true returned.
template <class Window>
bool card_receive_message(const Window& window, std::size_t rx_data,
                          card_receiver_context& context) {
    window.load(card_rx_pre);
    std::uint32_t word = window.load(rx_data);
    if ((word & 0xFFu) == 0) {
        return false;
    }
    std::uint8_t* buffer = context.buffer.data();
    const auto put_word = [buffer](std::size_t at, std::uint32_t value) {
        buffer[at] = static_cast<std::uint8_t>(value);
        buffer[at + 1] = static_cast<std::uint8_t>(value >> 8);
        buffer[at + 2] = static_cast<std::uint8_t>(value >> 16);
        buffer[at + 3] = static_cast<std::uint8_t>(value >> 24);
    };
    put_word(0, word);
    const auto length = static_cast<std::uint16_t>(buffer[2] * 256u + buffer[3]);
    // At most 16,385 words after the first: 65,544 bytes, inside the receive buffer.
    const std::size_t further = ((std::size_t{length} + 3) >> 2) + 1;
    for (std::size_t k = 1; k <= further; ++k) {
        word = window.load(rx_data);
        put_word(4 * k, word);
    }
    const std::uint8_t sa = buffer[1];
    const std::uint8_t cmd = buffer[4];
    const std::uint8_t sub = buffer[5];
    context.last_heard.store(tick_count_ms(), std::memory_order_release);
    context.listener.on_message(buffer, length, sa, cmd, sub);
    const int verbose = context.listener.trace_level();
    if ((verbose > 3 && sa == 0x2A) || verbose > 6) {
        out_printf("\n SA %d CMD %d SubCmd %d Lenght %d\n", int{sa}, int{cmd}, int{sub},
                   int{length});
    }
    return true;
}

// The receiver over a window: start, then poll until `stopping()` says to stop, sleeping 2 ms
// after an empty poll and none between messages that keep arriving.
template <class Window, class Stopping>
void run_card_receiver(const Window& window, std::size_t rx_data, card_receiver_context& context,
                       Stopping stopping) {
    card_receiver_start(window);
    sleep_ms(card_receiver_poll_ms);
    while (!stopping()) {
        if (!card_receive_message(window, rx_data, context)) {
            sleep_ms(card_receiver_poll_ms);
        }
    }
}
