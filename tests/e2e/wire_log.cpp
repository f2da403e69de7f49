#include "e2e/wire_log.h"

#include <array>

std::vector<std::string> wire_lines(const std::vector<received_item>& items) {
    std::vector<std::string> lines;
    lines.reserve(items.size());
    for (const received_item& item : items) {
        lines.push_back(std::string(received_kind_name(item.kind)) + " " +
                        hex_text(item.bytes.data(), item.bytes.size()));
    }
    return lines;
}

std::string raw_line(std::uint8_t byte) {
    return std::string(received_kind_name(received_kind::raw_byte)) + " " + hex_text(&byte, 1);
}

std::string short_request_line(sub_code sub) {
    // DA, SA, length 2 (SUB and P1, big-endian), CMD, SUB, P1.
    const std::array<std::uint8_t, 7> bytes = {unit_address, pc_address, 0x00, 0x02,
                                               cmd_loader,   sub_byte(sub), 0x00};
    return std::string(received_kind_name(received_kind::message)) + " " +
           hex_text(bytes.data(), bytes.size());
}
