// The kinds of file the unit holds: FPGA and software images of its flash banks and its
// EEPROMs. Each has its number on the wire, the files offered for loading and the name under
// which a fetched one is written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

inline constexpr std::uint8_t file_type_fpga = 1;        // FPGA image, *.bin, per bank
inline constexpr std::uint8_t file_type_software = 2;    // software image, *.srec, per bank
inline constexpr std::uint8_t file_type_controller = 3;  // Controller EEPROM
inline constexpr std::uint8_t file_type_charger = 4;     // Charger EEPROM
inline constexpr std::uint8_t file_type_pa = 5;          // PA EEPROM, channels 1 to 4
inline constexpr std::uint8_t file_type_tc = 6;          // TC EEPROM, channels 1 to 4

// How the name of a fetched file is formed: "<name>_Bank<bank>.<ext>", "<name>.<ext>" or
// "<name>_Channel<index + 1>.<ext>".
enum class output_naming { by_bank, single, by_channel };

struct file_type_info {
    const char* name;       // in output names: "FW", "SW" or the device name
    const char* label;      // shown to the user: "IMAGE", "SW" or the device name
    const char* pattern;    // files offered for loading
    const char* extension;  // of fetched files
    output_naming naming;
};

// The entry of a file type 1 to 6, nullptr for any other value.
const file_type_info* find_file_type(int file_type) noexcept;

// "Controller", "Charger", "PA" or "TC" for file types 3 to 6, nullptr for any other value.
const char* device_name(int file_type) noexcept;

// Name of the file a fetched image or EEPROM is written to: index is the bank for types 1 and
// 2 and the channel index for types 5 and 6 (written as index + 1). Empty for an unknown type.
std::optional<std::string> output_file_name(int file_type, int index);

// How a bank or EEPROM channel is named in messages, the report and the verify lines: "bank 2",
// "Controller EEPROM", "PA channel 3" (bank is the channel index for PA and TC).
std::string target_text(std::uint8_t file_type, std::uint8_t bank);
