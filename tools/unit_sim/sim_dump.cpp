#include "tools/unit_sim/sim_dump.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "protocol/messages.h"

namespace {

void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void write_named(const std::filesystem::path& folder, int file_type, int index,
                 const std::vector<std::uint8_t>& content) {
    const std::optional<std::string> name = output_file_name(file_type, index);
    if (name) {
        write_file(folder / *name, content);
    }
}

}  // namespace

void dump_memory(const unit_memory& memory, const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw std::runtime_error("cannot create the folder " + folder.string() + ": " +
                                 error.message());
    }
    for (std::size_t k = 0; k < memory.banks.size(); ++k) {
        const flash_bank& bank = memory.banks[k];
        const int index = static_cast<int>(k);
        if (bank.fpga.valid()) {
            write_named(folder, file_type_fpga, index, bank.fpga.content);
        }
        if (bank.software.valid()) {
            write_named(folder, file_type_software, index, bank.software.content);
        }
    }
    for (const eeprom_device& device : memory.eeproms) {
        write_named(folder, device.file_type, device.channel, device.content);
    }
    std::vector<std::uint8_t> log;
    for (const std::string& entry : memory.log.entries) {
        std::vector<std::uint8_t> slot(unit_log_entry_size, 0);
        std::copy_n(entry.begin(), std::min(entry.size(), unit_log_entry_size - 1), slot.begin());
        log.insert(log.end(), slot.begin(), slot.end());
    }
    write_file(folder / "log.txt", log);
}
