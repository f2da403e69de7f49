#include "e2e/card_run.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include "e2e/menu_session.h"

namespace fs = std::filesystem;

std::optional<card_setup> read_card_setup(const fs::path& path) {
    std::ifstream file(path);
    if (!file) {
        return std::nullopt;
    }
    card_setup setup;
    std::string line;
    bool in_data = false;
    while (std::getline(file, line)) {
        if (line.starts_with("data ")) {
            if (!in_data) {
                return std::nullopt;  // data without a configure line before it
            }
            std::istringstream bytes(line.substr(5));
            std::string hex;
            while (bytes >> hex) {
                if (hex.size() != 2) {
                    return std::nullopt;
                }
                setup.configurations.back().push_back(
                    static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16)));
            }
            continue;
        }
        in_data = line.starts_with("configure ");
        if (in_data) {
            setup.configurations.emplace_back();
        }
        if (line.starts_with("write ")) {
            setup.writes.push_back(line);
        }
        setup.events.push_back(line);
    }
    return setup;
}

std::optional<std::vector<received_item>> read_unit_record(const fs::path& path) {
    std::ifstream file(path);
    if (!file) {
        return std::nullopt;
    }
    std::vector<received_item> items;
    std::string line;
    while (std::getline(file, line)) {
        // "<time> <kind> <bytes in hexadecimal>"
        std::istringstream fields(line);
        received_item item;
        std::string kind;
        if (!(fields >> item.time_ms >> kind)) {
            return std::nullopt;
        }
        if (kind == received_kind_name(received_kind::message)) {
            item.kind = received_kind::message;
        } else if (kind == received_kind_name(received_kind::bad_frame)) {
            item.kind = received_kind::bad_frame;
        } else if (kind == received_kind_name(received_kind::raw_byte)) {
            item.kind = received_kind::raw_byte;
        } else {
            return std::nullopt;
        }
        std::string hex;
        while (fields >> hex) {
            if (hex.size() != 2) {
                return std::nullopt;
            }
            item.bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16)));
        }
        items.push_back(std::move(item));
    }
    return items;
}

std::vector<std::uint8_t> bit_reversed(std::vector<std::uint8_t> bytes) {
    for (std::uint8_t& byte : bytes) {
        std::uint8_t reversed = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if ((byte & (1U << bit)) != 0) {
                reversed = static_cast<std::uint8_t>(reversed | (0x80U >> bit));
            }
        }
        byte = reversed;
    }
    return bytes;
}

std::string card_variable(const std::string& name, const std::string& value) {
    return "KESTREL_CARD_" + name + "=" + value;
}

fs::path CardLinkTest::card_sim_dir() const {
    return fs::path(target_.exe).parent_path() / "card-sim";
}

fs::path CardLinkTest::card_folder(const std::string& name, bool libraries) const {
    const fs::path folder = dir_ / name;
    fs::create_directories(folder);
    if (target_.wine) {
        fs::copy_file(target_.exe, folder / "kestrel.exe", fs::copy_options::overwrite_existing);
        if (libraries) {
            for (const char* library : {"admxrc3.dll", "admxrc.dll"}) {
                fs::copy_file(card_sim_dir() / library, folder / library,
                              fs::copy_options::overwrite_existing);
            }
        }
    }
    return folder;
}

std::unique_ptr<program_run> CardLinkTest::launch_on_card(const fs::path& folder,
                                                          const std::vector<std::string>& args,
                                                          const std::vector<std::string>& card,
                                                          console_mode console,
                                                          bool libraries) const {
    program_target target = target_;
    launch_settings settings;
    settings.args = args;
    settings.console = console;
    settings.working_directory = folder;
    settings.environment = card;
    if (target.wine) {
        // The copy, so that the DLLs beside it are the ones found.
        target.exe = (folder / "kestrel.exe").string();
    } else {
        // The working folder holds no library: without the stand-in nothing is found.
        settings.environment.push_back("LD_LIBRARY_PATH=" +
                                       (libraries ? card_sim_dir() : folder).string());
    }
    return std::make_unique<program_run>(target, settings);
}
