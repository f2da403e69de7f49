// How the stand-in card is set up: the environment settings named KESTREL_CARD_..., read once
// when a library first needs them. They choose the card found (board type, model, board code,
// serial number, library version), a step made to fail, an entry point left out, a record of
// what the card was given, and the settings of the simulated unit behind the card (the same
// knobs as the simulated unit program's options).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/unit_sim/sim_options.h"

struct card_settings {
    int board = 6;                 // 2 or 5: an ADMXRC2 card; 6: an ADMXRC3 card
    std::uint32_t model = 0x102;   // ADMXRC3 model code
    std::uint32_t board_code = 0;  // ADMXRC2 board type code; 0: from the board (0x03, 0x0F)
    std::uint32_t serial_number = 4711;
    std::uint16_t version_major = 2;  // ADMXRC3 library version
    std::uint16_t version_minor = 0;
    std::string fail_entry;        // this entry point fails, with a status text of its own
    std::string missing_entry;     // this entry point is not exported
    std::string setup_record;      // file for what the card was given; empty: none
    std::string unit_record;       // file with a line per item the unit received; empty: none
    sim_unit_options unit;

    // The ADMXRC2 board type code the card reports.
    std::uint32_t reported_board_code() const noexcept;
    // RX_DATA of the configured design.
    std::uint32_t rx_data_offset() const noexcept;
};

struct card_settings_result {
    bool ok = false;
    std::string error;  // which setting is wrong and why
    card_settings settings;
};

// Reads the settings through `lookup` (a getenv; nullptr for a setting not given).
card_settings_result read_card_settings(const std::function<const char*(const char*)>& lookup);

// The environment of the process.
card_settings_result read_card_settings_from_environment();
