#include "e2e/unit_files.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

#include "link/byte_order.h"
#include "protocol/messages.h"

namespace fs = std::filesystem;

byte_vector pattern_bytes(std::size_t size, std::uint32_t seed) {
    byte_vector out(size);
    std::uint32_t state = seed * 2246822519U + 0x9E3779B9U;
    for (std::uint8_t& b : out) {
        // A linear congruential generator: cheap, and no run of equal bytes.
        state = state * 1664525U + 1013904223U;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return out;
}

void write_bytes(const fs::path& path, const byte_vector& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::optional<byte_vector> read_bytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    byte_vector bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        return std::nullopt;
    }
    return bytes;
}

bool is_output_folder_name(const fs::path& path) {
    static const std::regex stamp("[0-9]{4}(_[0-9]{2}){5}");
    return std::regex_match(path.filename().string(), stamp);
}

std::vector<fs::path> output_folders(const fs::path& dir) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, error)) {
        if (entry.is_directory() && is_output_folder_name(entry.path())) {
            found.push_back(entry.path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<std::string> folder_entries(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

byte_vector log_file_bytes(const unit_log& log) {
    byte_vector bytes;
    for (const std::string& entry : log.entries) {
        byte_vector slot(unit_log_entry_size, 0);
        std::copy_n(entry.begin(), std::min(entry.size(), unit_log_entry_size - 1), slot.begin());
        bytes.insert(bytes.end(), slot.begin(), slot.end());
    }
    return bytes;
}

namespace {

std::string number(unsigned value) { return std::to_string(value); }

std::string loader_request_line(const std::vector<std::uint8_t>& m) {
    const auto sub = static_cast<sub_code>(m[head_sub]);
    const auto at_least = [&m](std::size_t size) { return m.size() >= size; };
    switch (sub) {
    case sub_code::BOOTINFO_REQ:
        return "BOOTINFO_REQ";
    case sub_code::FLASH_INFO_REQ:
        return "FLASH_INFO_REQ";
    case sub_code::LOADER_EXIT:
        return "LOADER_EXIT";
    case sub_code::SAFEMODE_REQ:
        return "SAFEMODE_REQ";
    case sub_code::DL_REQ:
        return "DL_REQ";
    case sub_code::LOG_REQ:
        if (at_least(log_req_at::block + 1)) {
            return "LOG_REQ block " + number(m[log_req_at::block]);
        }
        break;
    case sub_code::FILE_REQ:
        if (at_least(file_req_size)) {
            return "FILE_REQ bank " + number(m[file_req_at::index]) + " type " +
                   number(m[file_req_at::file_type]) + " size " +
                   number(get_be16(m.data() + file_req_at::block_size)) + " block " +
                   number(get_be16(m.data() + file_req_at::block_number));
        }
        break;
    case sub_code::EEPROM_INFO_REQ:
        if (at_least(eeprom_info_req_size)) {
            return "EEPROM_INFO_REQ type " + number(m[eeprom_info_req_at::file_type]) +
                   " channel " + number(m[eeprom_info_req_at::channel]);
        }
        break;
    case sub_code::FIRMWARE_INFO:
        if (at_least(firmware_info_size)) {
            return "FIRMWARE_INFO type " + number(m[firmware_info_at::file_type]) + " bank " +
                   number(m[firmware_info_at::bank]) + " size " +
                   number(get_be32(m.data() + firmware_info_at::file_size)) + " chunk " +
                   number(get_be16(m.data() + firmware_info_at::chunk_size));
        }
        break;
    case sub_code::DL_DATA:
        if (at_least(dl_data_at::data)) {
            return "DL_DATA chunk " + number(get_be16(m.data() + dl_data_at::chunk_number)) +
                   " length " + number(get_be16(m.data() + dl_data_at::data_length)) + " size " +
                   number(static_cast<unsigned>(m.size()));
        }
        break;
    default:
        break;
    }
    return "message " + hex_text(m.data(), m.size());
}

}  // namespace

std::vector<std::string> request_lines(const std::vector<received_item>& items) {
    std::vector<std::string> lines;
    for (const received_item& item : items) {
        const std::vector<std::uint8_t>& m = item.bytes;
        if (item.kind != received_kind::message || m.size() <= head_sub) {
            lines.push_back(std::string(received_kind_name(item.kind)) + " " +
                            hex_text(m.data(), m.size()));
        } else if (m[head_cmd] == cmd_reboot && m.size() > param_p1) {
            lines.push_back("REBOOT_REQ P1 " + hex_text(&m[param_p1], 1));
        } else if (m[head_cmd] != cmd_loader) {
            lines.push_back("message " + hex_text(m.data(), m.size()));
        } else if (static_cast<sub_code>(m[head_sub]) != sub_code::KEEP_ALIVE) {
            lines.push_back(loader_request_line(m));
        }
    }
    return lines;
}

std::vector<std::string> without_boot_polls(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    bool after_reboot = false;
    for (const std::string& line : lines) {
        if (after_reboot && line == "BOOTINFO_REQ") {
            continue;
        }
        after_reboot = line.starts_with("REBOOT_REQ");
        kept.push_back(line);
    }
    return kept;
}

std::vector<std::string> connect_lines() {
    return {"raw 23", "raw 23", "BOOTINFO_REQ", "FLASH_INFO_REQ"};
}

std::vector<std::string> download_lines(std::uint8_t file_type, std::uint8_t index,
                                        std::size_t size) {
    std::vector<std::string> lines = {"DL_REQ", "FIRMWARE_INFO type " + number(file_type) +
                                                    " bank " + number(index) + " size " +
                                                    number(static_cast<unsigned>(size)) +
                                                    " chunk 512"};
    constexpr std::size_t chunk = default_chunk_size;
    const std::string full_size = number(static_cast<unsigned>(dl_data_head_size + chunk));
    for (std::size_t k = 0; k * chunk < size; ++k) {
        const std::size_t length = std::min(chunk, size - k * chunk);
        lines.push_back("DL_DATA chunk " + number(static_cast<unsigned>(k)) + " length " +
                        number(static_cast<unsigned>(length)) + " size " + full_size);
    }
    lines.push_back("FLASH_INFO_REQ");
    return lines;
}

std::string reboot_line(std::uint8_t bank) {
    const auto p1 = static_cast<std::uint8_t>(reboot_p1_template | bank);
    return "REBOOT_REQ P1 " + hex_text(&p1, 1);
}

std::string file_request_line(std::uint8_t index, std::uint8_t file_type, std::uint16_t block) {
    return "FILE_REQ bank " + number(index) + " type " + number(file_type) + " size " +
           number(default_chunk_size) + " block " + number(block);
}

void append_lines(std::vector<std::string>& lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
}

run_result OperationsTest::run_batch(const std::vector<std::string>& args,
                                     std::chrono::milliseconds timeout) const {
    std::vector<std::string> all = {"/interface", "3"};
    all.insert(all.end(), args.begin(), args.end());
    return run(all, console_mode::input_null, timeout);
}

std::vector<std::string> OperationsTest::requests_of_run() const {
    EXPECT_TRUE(unit_->wait_until([](const sim_view& v) { return v.loader_exits > 0; }, 5s))
        << target_.name() << ": no LOADER_EXIT at the end of the run";
    return without_boot_polls(request_lines(unit_->received()));
}

std::vector<std::string> OperationsTest::connect_and_end() {
    std::vector<std::string> lines = connect_lines();
    lines.push_back(loader_exit_line);
    return lines;
}

byte_vector OperationsTest::put_file(const std::string& name, std::size_t size,
                                     std::uint32_t seed) const {
    byte_vector bytes = pattern_bytes(size, seed);
    write_bytes(dir_ / name, bytes);
    return bytes;
}

void OperationsTest::expect_in_order(const run_result& result,
                                     const std::vector<std::string>& texts) const {
    std::size_t from = 0;
    std::string before = "the start";
    for (const std::string& text : texts) {
        const std::size_t at = result.out.find(text, from);
        ASSERT_NE(at, std::string::npos)
            << "\"" << text << "\" missing after \"" << before << "\": " << describe(result);
        from = at + text.size();
        before = text;
    }
}

fs::path OperationsTest::the_output_folder() const {
    const std::vector<fs::path> folders = output_folders(dir_);
    EXPECT_EQ(folders.size(), 1U) << target_.name() << ": output folders of the run";
    return folders.empty() ? fs::path() : folders.front();
}

bool OperationsTest::no_output_files() const {
    for (const fs::path& folder : output_folders(dir_)) {
        if (!folder_entries(folder).empty()) {
            return false;
        }
    }
    return true;
}
