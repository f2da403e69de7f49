#include "files/file_types.h"

namespace {

// Indexed by file type - 1. The names of types 3 to 6 are the device names.
constexpr file_type_info file_types[] = {
    {"FW", "IMAGE", "*.bin", "bin", output_naming::by_bank},
    {"SW", "SW", "*.srec", "srec", output_naming::by_bank},
    {"Controller", "Controller", "*.eeprom", "eeprom", output_naming::single},
    {"Charger", "Charger", "*.eeprom", "eeprom", output_naming::single},
    {"PA", "PA", "*.eeprom", "eeprom", output_naming::by_channel},
    {"TC", "TC", "*.eeprom", "eeprom", output_naming::by_channel},
};

}  // namespace

const file_type_info* find_file_type(int file_type) noexcept {
    if (file_type < file_type_fpga || file_type > file_type_tc) return nullptr;
    return &file_types[file_type - file_type_fpga];
}

const char* device_name(int file_type) noexcept {
    if (file_type < file_type_controller || file_type > file_type_tc) return nullptr;
    return file_types[file_type - file_type_fpga].name;
}

std::optional<std::string> output_file_name(int file_type, int index) {
    const file_type_info* type = find_file_type(file_type);
    if (type == nullptr) return std::nullopt;
    std::string name = type->name;
    switch (type->naming) {
    case output_naming::by_bank:
        name += "_Bank" + std::to_string(index);
        break;
    case output_naming::by_channel:
        name += "_Channel" + std::to_string(static_cast<long long>(index) + 1);
        break;
    case output_naming::single:
        break;
    }
    name += '.';
    name += type->extension;
    return name;
}

std::string target_text(std::uint8_t file_type, std::uint8_t bank) {
    const int channel = bank + 1;
    switch (file_type) {
    case file_type_fpga:
    case file_type_software:
        return "bank " + std::to_string(bank);
    case file_type_controller:
    case file_type_charger:
        return std::string(device_name(file_type)) + " EEPROM";
    case file_type_pa:
    case file_type_tc:
        return std::string(device_name(file_type)) + " channel " + std::to_string(channel);
    default:
        return "file type " + std::to_string(file_type);
    }
}
