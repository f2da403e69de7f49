#include "platform/tty_ports.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <tuple>

namespace fs = std::filesystem;

namespace {

// The kinds of port listed, in the order in which they are listed: the UARTs on the board, USB
// serial adapters (FTDI, CP210x, PL2303, ...) and USB modem-class devices.
constexpr std::array<std::string_view, 3> port_kinds = {"ttyS", "ttyUSB", "ttyACM"};
constexpr std::size_t uart_kind = 0;  // ttyS

struct found_port {
    std::size_t kind = 0;
    unsigned long number = 0;
    std::string file_name;
};

// "ttyUSB12" is kind 1, number 12; other names ("ttyS", "ttySAC0", "tty0") are no port listed.
std::optional<found_port> port_of(const std::string& file_name) {
    for (std::size_t kind = 0; kind < port_kinds.size(); ++kind) {
        const std::string_view prefix = port_kinds[kind];
        if (file_name.size() <= prefix.size() || file_name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        const char* const first = file_name.data() + prefix.size();
        const char* const last = file_name.data() + file_name.size();
        unsigned long number = 0;
        const auto [end, error] = std::from_chars(first, last, number);
        if (error == std::errc{} && end == last) {
            return found_port{kind, number, file_name};
        }
    }
    return std::nullopt;
}

// The serial driver of PC UARTs makes the device files ttyS0, ttyS1, ... (32 of them on many
// systems) whether or not a UART answers at their addresses. For each it reports the type of
// UART it detected in the port's "type" file under the tty class folder, 0 (unknown) when it
// found none. So a ttyS port counts as present only when that file reads a type other than 0;
// one whose file is missing or unreadable is left out. The ttyUSB and ttyACM device files exist
// only while their adapter is plugged in, so their files alone tell.
bool uart_answers(const fs::path& tty_class_root, const std::string& file_name) {
    std::ifstream type_file(tty_class_root / file_name / "type");
    long type = 0;
    return static_cast<bool>(type_file >> type) && type != 0;
}

// The names of dev_root/serial/by-id (links that udev makes, named after the adapter's maker,
// model and serial number) by the device file each leads to: "ttyUSB0" -> its names, sorted.
std::map<std::string, std::vector<std::string>> names_by_id(const fs::path& dev_root) {
    std::map<std::string, std::vector<std::string>> names;
    std::error_code error;
    for (fs::directory_iterator it(dev_root / "serial" / "by-id", error), end;
         !error && it != end; it.increment(error)) {
        std::error_code link_error;
        const fs::path target = fs::read_symlink(it->path(), link_error);
        if (!link_error) {
            names[target.filename().string()].push_back(it->path().string());
        }
    }
    for (auto& [device, aliases] : names) {
        std::sort(aliases.begin(), aliases.end());
    }
    return names;
}

}  // namespace

std::vector<serial_port_entry> find_tty_ports(const fs::path& dev_root,
                                              const fs::path& tty_class_root) {
    std::vector<found_port> found;
    std::error_code error;
    for (fs::directory_iterator it(dev_root, error), end; !error && it != end;
         it.increment(error)) {
        auto port = port_of(it->path().filename().string());
        if (port && (port->kind != uart_kind || uart_answers(tty_class_root, port->file_name))) {
            found.push_back(std::move(*port));
        }
    }
    std::sort(found.begin(), found.end(), [](const found_port& a, const found_port& b) {
        return std::tie(a.kind, a.number) < std::tie(b.kind, b.number);
    });

    auto aliases = names_by_id(dev_root);
    std::vector<serial_port_entry> ports;
    for (const found_port& port : found) {
        serial_port_entry entry;
        entry.name = (dev_root / port.file_name).string();
        if (const auto it = aliases.find(port.file_name); it != aliases.end()) {
            entry.aliases = std::move(it->second);
        }
        ports.push_back(std::move(entry));
    }
    return ports;
}
