#include "tools/unit_sim/sim_memory.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <utility>

#include "link/byte_order.h"
#include "protocol/messages.h"

void unit_log::add(std::string text) {
    if (entries.size() >= unit_log_capacity) {
        entries.pop_front();
    }
    entries.push_back(std::move(text));
}

std::size_t store_capacity(int file_type) noexcept {
    switch (file_type) {
    case file_type_fpga:
        return fpga_capacity;
    case file_type_software:
        return software_capacity;
    case file_type_controller:
    case file_type_charger:
    case file_type_pa:
    case file_type_tc:
        return eeprom_capacity;
    default:
        return 0;
    }
}

stored_image* unit_memory::image(int bank, int file_type) noexcept {
    return const_cast<stored_image*>(std::as_const(*this).image(bank, file_type));
}

const stored_image* unit_memory::image(int bank, int file_type) const noexcept {
    if (bank < 0 || static_cast<std::size_t>(bank) >= banks.size()) {
        return nullptr;
    }
    const flash_bank& b = banks[static_cast<std::size_t>(bank)];
    if (file_type == file_type_fpga) {
        return &b.fpga;
    }
    if (file_type == file_type_software) {
        return &b.software;
    }
    return nullptr;
}

eeprom_device* unit_memory::eeprom(int file_type, int channel) noexcept {
    return const_cast<eeprom_device*>(std::as_const(*this).eeprom(file_type, channel));
}

const eeprom_device* unit_memory::eeprom(int file_type, int channel) const noexcept {
    // Controller and Charger are single devices: whatever channel is named, there is only one.
    const bool by_channel = file_type == file_type_pa || file_type == file_type_tc;
    for (const eeprom_device& device : eeproms) {
        if (device.file_type == file_type && (!by_channel || device.channel == channel)) {
            return &device;
        }
    }
    return nullptr;
}

namespace {

void put_descriptor(std::uint8_t* at, const image_descriptor& d) {
    put_be32(at + offsetof(image_descriptor, status), d.status);
    put_be32(at + offsetof(image_descriptor, flash_address), d.flash_address);
    std::memcpy(at + offsetof(image_descriptor, download_date), d.download_date,
                sizeof d.download_date);
    std::memcpy(at + offsetof(image_descriptor, file_date), d.file_date, sizeof d.file_date);
    put_be32(at + offsetof(image_descriptor, crc), d.crc);
    put_be32(at + offsetof(image_descriptor, size), d.size);
    std::memcpy(at + offsetof(image_descriptor, file_name), d.file_name, sizeof d.file_name);
}

// Seconds of the Unix epoch at which the unit's clock starts.
long long clock_base() {
    using namespace std::chrono;
    const sys_seconds base =
        sys_days{year{2026} / December / day{6}} + hours{22} + minutes{44} + seconds{42};
    return base.time_since_epoch().count();
}

// The broken-down time of the unit's clock `seconds` after its start, as UTC.
std::tm unit_time(long long seconds) {
    const auto when = static_cast<std::time_t>(clock_base() + seconds);
    std::tm parts{};
    gmtime_r(&when, &parts);
    return parts;
}

}  // namespace

std::array<std::uint8_t, sizeof(bank_info)> wire_bank_info(const flash_bank& bank) {
    std::array<std::uint8_t, sizeof(bank_info)> out{};
    put_descriptor(out.data() + offsetof(bank_info, fpga), bank.fpga.descriptor);
    put_descriptor(out.data() + offsetof(bank_info, software), bank.software.descriptor);
    return out;
}

std::array<std::uint8_t, sizeof(bank_notes)> wire_bank_notes(const flash_bank& bank) {
    // The notes are texts only: they travel as they are stored.
    std::array<std::uint8_t, sizeof(bank_notes)> out{};
    std::memcpy(out.data() + offsetof(bank_notes, fpga), &bank.fpga.notes, sizeof(image_notes));
    std::memcpy(out.data() + offsetof(bank_notes, software), &bank.software.notes,
                sizeof(image_notes));
    return out;
}

std::string unit_date_text(long long seconds) {
    const std::tm parts = unit_time(seconds);
    char text[64] = {};
    std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", &parts);
    return text;
}

std::string unit_log_time(long long seconds) {
    const std::tm parts = unit_time(seconds);
    char text[64] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}
