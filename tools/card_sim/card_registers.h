// Offsets of the registers in the card's window as the configured design implements them.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::uint32_t reg_design_id = 0x000;
inline constexpr std::uint32_t reg_tx_symbol = 0x008;
inline constexpr std::uint32_t reg_setup_a = 0x00C;
inline constexpr std::uint32_t reg_setup_b = 0x010;
inline constexpr std::uint32_t reg_rx_init = 0x1E0;
inline constexpr std::uint32_t reg_rx_pre = 0x1E4;
inline constexpr std::uint32_t reg_rx_data_v2 = 0x1E8;  // board types 2 and 5
inline constexpr std::uint32_t reg_rx_data_v6 = 0x1F0;  // board type 6

inline constexpr std::size_t card_window_size = 0x8000;

// What the design answers at offset 0.
inline constexpr std::uint32_t design_id_value = 0x4B530001;
