// What the simulated unit stores: four flash banks, each with an FPGA and a software image and
// what it knows about them, ten EEPROMs and the log; the big-endian records FLASH_INFO carries;
// the dates of the unit's clock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "protocol/loader_state.h"

// One image of a bank. The descriptor is kept in host order and converted when it is sent.
struct stored_image {
    image_descriptor descriptor{};      // status 0: the image is valid
    image_notes notes{};
    std::vector<std::uint8_t> content;  // the file as it was downloaded

    bool valid() const noexcept { return descriptor.status == 0; }
};

struct flash_bank {
    stored_image fpga;
    stored_image software;

    // A bank the unit can boot from holds at least one valid image.
    bool bootable() const noexcept { return fpga.valid() || software.valid(); }
};

struct eeprom_device {
    std::uint8_t file_type = 0;  // 3 Controller, 4 Charger, 5 PA, 6 TC
    std::uint8_t channel = 0;    // channel index 0-3 of PA and TC; 0 for the single devices
    std::vector<std::uint8_t> content;
};

inline constexpr std::size_t unit_log_capacity = 16;      // entries the unit keeps
inline constexpr std::size_t unit_log_entry_size = 80;    // bytes per entry, NUL-padded
inline constexpr std::size_t unit_log_block_entries = 8;  // entries per MESSAGE_LOG_ACK

// The unit's log, oldest entry first. When it is full the oldest entry makes room.
struct unit_log {
    std::deque<std::string> entries;

    void add(std::string text);
};

// Largest file each kind of store takes: the FPGA image sits in the first 2 MiB of a bank, the
// software image in the remaining 6 MiB; an EEPROM holds 64 KiB.
inline constexpr std::size_t fpga_capacity = 0x200000;
inline constexpr std::size_t software_capacity = 0x600000;
inline constexpr std::size_t eeprom_capacity = 0x10000;

// Capacity of a file type 1-6, 0 for any other type.
std::size_t store_capacity(int file_type) noexcept;

struct unit_memory {
    std::array<flash_bank, bank_records> banks;
    std::vector<eeprom_device> eeproms;
    unit_log log;

    // The image of type 1 (FPGA) or 2 (software) of a bank 0-3, nullptr otherwise.
    stored_image* image(int bank, int file_type) noexcept;
    const stored_image* image(int bank, int file_type) const noexcept;
    // The EEPROM of type 3-6; the channel counts only for PA and TC. nullptr if there is none.
    eeprom_device* eeprom(int file_type, int channel) noexcept;
    const eeprom_device* eeprom(int file_type, int channel) const noexcept;
};

// An image a unit is given before it starts, as if it had been downloaded.
struct image_preload {
    std::uint8_t bank = 0;
    std::uint8_t file_type = 0;  // 1 FPGA or 2 software
    std::string file_name;       // recorded in the bank's descriptor
    std::vector<std::uint8_t> content;
};

// FLASH_INFO records of a bank as they travel: every 32-bit word big-endian.
std::array<std::uint8_t, sizeof(bank_info)> wire_bank_info(const flash_bank& bank);
std::array<std::uint8_t, sizeof(bank_notes)> wire_bank_notes(const flash_bank& bank);

// Dates as the unit writes them. The unit's clock starts at Sun Dec 06 22:44:42 2026;
// `seconds` counts from there (negative for earlier times).
std::string unit_date_text(long long seconds);  // "Sun Dec 06 22:44:42 2026"
std::string unit_log_time(long long seconds);   // "2026-12-06 22:44:42"
