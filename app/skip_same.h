// +skip_same: a command-line load whose bank or EEPROM already holds an image of the same kind,
// size and CRC-32, as the unit reports it, is not sent again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct unit;

// What the unit reports a bank or an EEPROM to hold.
struct held_image {
    std::uint32_t size = 0;
    std::uint32_t crc = 0;
};

// The valid image of that kind (FPGA or software) that the bank's record describes; nothing
// when the bank was not reported or holds no valid image of that kind.
std::optional<held_image> image_in_bank(const unit& u, std::uint8_t file_type, std::uint8_t bank);

// Reads the file whole into the unit's image (where a read-back compares it); when it is the
// image held, the reason it is skipped ("bank 2 already holds it: 1300 bytes, CRC-32
// 0x1234ABCD"). Nothing when it differs or the file cannot be read (the load then says why).
std::optional<std::string> same_as_held(unit& u, const std::string& file,
                                        const std::optional<held_image>& held,
                                        const std::string& target);
