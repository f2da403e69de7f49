// The card's register window: where its registers lie, and the one way the program touches them,
// a plain 32-bit volatile load or store per access (the card's registers take nothing else, and
// the compiler must neither merge, drop nor reorder the accesses).
#pragma once

#include <cstddef>
#include <cstdint>

// Registers as 32-bit word indices into the window (byte offset / 4).
inline constexpr std::size_t card_first_register = 0x000 / 4;  // read once after configuration
inline constexpr std::size_t card_tx_symbol = 0x008 / 4;       // one line symbol per store
inline constexpr std::size_t card_setup_a = 0x00C / 4;
inline constexpr std::size_t card_setup_b = 0x010 / 4;
inline constexpr std::size_t card_rx_init = 0x1E0 / 4;         // receiver start: store 0
inline constexpr std::size_t card_rx_pre = 0x1E4 / 4;          // read before each first word
inline constexpr std::size_t card_rx_data_v2 = 0x1E8 / 4;      // received words, board types 2, 5
inline constexpr std::size_t card_rx_data_v6 = 0x1F0 / 4;      // received words, board type 6

// A mapped window. The card link's sending and receiving steps are templates over this shape
// (load and store by word index), so that they can be checked access by access.
struct mapped_window {
    volatile std::uint32_t* base;

    std::uint32_t load(std::size_t index) const { return base[index]; }
    void store(std::size_t index, std::uint32_t value) const { base[index] = value; }
};

