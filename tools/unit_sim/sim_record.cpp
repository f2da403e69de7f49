#include "tools/unit_sim/sim_record.h"

#include <cstdio>

const char* received_kind_name(received_kind kind) noexcept {
    switch (kind) {
    case received_kind::message:
        return "message";
    case received_kind::bad_frame:
        return "bad_frame";
    case received_kind::raw_byte:
        return "raw";
    }
    return "unknown";
}

std::string hex_text(const std::uint8_t* data, std::size_t count) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

std::string record_line(const received_item& item) {
    char time_text[32];
    std::snprintf(time_text, sizeof time_text, "%.3f", item.time_ms);
    std::string line = time_text;
    line += ' ';
    line += received_kind_name(item.kind);
    line += ' ';
    line += hex_text(item.bytes.data(), item.bytes.size());
    return line;
}
