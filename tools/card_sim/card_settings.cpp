#include "tools/card_sim/card_settings.h"

#include <charconv>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "tools/card_sim/card_registers.h"
#include "tools/unit_sim/sim_cli.h"

namespace {

constexpr const char* prefix = "KESTREL_CARD_";

// Settings of the unit and the option of the simulated unit program each stands for.
struct unit_setting {
    const char* name;
    const char* option;
    bool is_switch;
};
constexpr unit_setting unit_settings[] = {
    {"BOOT_DELAY", "--boot-delay", false},
    {"VERBOSE", "--verbose", false},
    {"SEED", "--seed", false},
    {"CORRUPT", "--corrupt", false},
    {"CORRUPT_ANSWERS", "--corrupt-answers", false},
    {"DROP", "--drop", false},
    {"DL_FAIL_AT", "--dl-fail-at", false},
    {"BOOT_FAIL_TO", "--boot-fail-to", false},
    {"RECORD", "--record", false},
    {"FILE_FAILED", "--file-failed", true},
    {"SILENT", "--silent", true},
    {"WRONG_BLOCK_ONCE", "--wrong-block-once", true},
    {"WRONG_CRC", "--wrong-crc", true},
};

// A number in decimal or, with 0x, hexadecimal.
bool parse_number(std::string_view text, std::uint32_t& value) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value, base);
    return !text.empty() && error == std::errc() && ptr == end;
}

}  // namespace

std::uint32_t card_settings::reported_board_code() const noexcept {
    if (board_code != 0) {
        return board_code;
    }
    return board == 2 ? 0x03 : 0x0F;
}

std::uint32_t card_settings::rx_data_offset() const noexcept {
    return board == 6 ? reg_rx_data_v6 : reg_rx_data_v2;
}

card_settings_result read_card_settings(const std::function<const char*(const char*)>& lookup) {
    card_settings_result result;
    card_settings& s = result.settings;
    const auto get = [&](const char* name) -> const char* {
        return lookup((std::string(prefix) + name).c_str());
    };
    const auto bad = [&](const char* name, const char* text, const char* expected) {
        result.error = std::string("bad value '") + text + "' for " + prefix + name +
                       ": expected " + expected;
        return result;
    };
    std::uint32_t number = 0;

    if (const char* text = get("BOARD")) {
        if (!parse_number(text, number) || (number != 2 && number != 5 && number != 6)) {
            return bad("BOARD", text, "2, 5 or 6");
        }
        s.board = static_cast<int>(number);
    }
    if (const char* text = get("MODEL")) {
        if (!parse_number(text, s.model)) {
            return bad("MODEL", text, "a model code such as 0x102");
        }
    }
    if (const char* text = get("BOARD_CODE")) {
        if (!parse_number(text, s.board_code) || s.board_code == 0) {
            return bad("BOARD_CODE", text, "a board type code such as 0x03");
        }
    }
    if (const char* text = get("SERIAL")) {
        if (!parse_number(text, s.serial_number)) {
            return bad("SERIAL", text, "a serial number");
        }
    }
    if (const char* text = get("VERSION")) {
        const std::string_view version(text);
        const std::size_t dot = version.find('.');
        std::uint32_t major = 0;
        std::uint32_t minor = 0;
        if (dot == std::string_view::npos || !parse_number(version.substr(0, dot), major) ||
            !parse_number(version.substr(dot + 1), minor) || major > 0xFFFF || minor > 0xFFFF) {
            return bad("VERSION", text, "major.minor, such as 1.4");
        }
        s.version_major = static_cast<std::uint16_t>(major);
        s.version_minor = static_cast<std::uint16_t>(minor);
    }
    if (const char* text = get("FAIL")) {
        s.fail_entry = text;
    }
    if (const char* text = get("MISSING")) {
        s.missing_entry = text;
    }
    if (const char* text = get("SETUP_RECORD")) {
        s.setup_record = text;
    }

    // The unit's settings go through the simulated unit program's own option parser.
    std::vector<std::string> words;
    for (const unit_setting& setting : unit_settings) {
        const char* text = get(setting.name);
        if (text == nullptr) {
            continue;
        }
        if (setting.is_switch) {
            const std::string_view value(text);
            if (value == "1" || value == "yes" || value == "true") {
                words.emplace_back(setting.option);
            } else if (value != "0" && value != "no" && value != "false" && !value.empty()) {
                return bad(setting.name, text, "1 or 0");
            }
            continue;
        }
        words.emplace_back(setting.option);
        words.emplace_back(text);
    }
    std::vector<const char*> args;
    for (const std::string& word : words) {
        args.push_back(word.c_str());
    }
    const unit_command_result parsed = parse_unit_command_line(args);
    if (!parsed.ok) {
        // The parser names the option: name the setting instead.
        result.error = parsed.error;
        for (const unit_setting& setting : unit_settings) {
            const std::string option = std::string(setting.option) + ":";
            const std::size_t at = result.error.find(option);
            if (at != std::string::npos) {
                result.error.replace(at, option.size() - 1, std::string(prefix) + setting.name);
                break;
            }
        }
        return result;
    }
    s.unit = parsed.options.unit;
    s.unit.pacing = false;  // the card moves messages at once
    s.unit_record = parsed.options.record_file;
    result.ok = true;
    return result;
}

card_settings_result read_card_settings_from_environment() {
    return read_card_settings([](const char* name) { return std::getenv(name); });
}
