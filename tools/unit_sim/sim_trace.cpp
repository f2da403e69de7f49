#include "tools/unit_sim/sim_trace.h"

#include <cstdarg>

#include "protocol/messages.h"

namespace {

const char* request_name(std::uint8_t sub) {
    switch (static_cast<sub_code>(sub)) {
    case sub_code::KEEP_ALIVE: return "KEEP_ALIVE";
    case sub_code::LOG_REQ: return "LOG_REQ";
    case sub_code::LOADER_EXIT: return "LOADER_EXIT";
    case sub_code::FILE_REQ: return "FILE_REQ";
    case sub_code::DL_DATA: return "DL_DATA";
    case sub_code::FLASH_INFO_REQ: return "FLASH_INFO_REQ";
    case sub_code::BOOTINFO_REQ: return "BOOTINFO_REQ";
    case sub_code::FIRMWARE_INFO: return "FIRMWARE_INFO";
    case sub_code::DL_REQ: return "DL_REQ";
    case sub_code::SAFEMODE_REQ: return "SAFEMODE_REQ";
    case sub_code::EEPROM_INFO_REQ: return "EEPROM_INFO_REQ";
    default: return nullptr;
    }
}

const char* answer_name(std::uint8_t sub) {
    if (is_flash_info(sub)) {
        return "FLASH_INFO";
    }
    switch (static_cast<sub_code>(sub)) {
    case sub_code::FILE_FAILED: return "FILE_FAILED";
    case sub_code::MESSAGE_LOG_ACK: return "MESSAGE_LOG_ACK";
    case sub_code::FILE_ACK: return "FILE_ACK";
    case sub_code::DL_ACK: return "DL_ACK";
    case sub_code::DL_FAIL: return "DL_FAIL";
    case sub_code::BOOTINFO_ACK: return "BOOTINFO_ACK";
    case sub_code::BOOTINFO_FAIL: return "BOOTINFO_FAIL";
    case sub_code::FIRMWARE_INFO_ACK: return "FIRMWARE_INFO_ACK";
    case sub_code::DL_READY: return "DL_READY";
    case sub_code::EEPROM_ACK: return "EEPROM_ACK";
    default: return nullptr;
    }
}

std::string printable(std::uint8_t byte) {
    char text[16];
    if (byte >= 0x20 && byte < 0x7F) {
        std::snprintf(text, sizeof text, "%02X '%c'", unsigned{byte}, byte);
    } else {
        std::snprintf(text, sizeof text, "%02X", unsigned{byte});
    }
    return text;
}

}  // namespace

std::string message_name(std::span<const std::uint8_t> message, bool from_unit) {
    if (message.size() <= head_sub) {
        return "message of " + std::to_string(message.size()) + " bytes";
    }
    const std::uint8_t cmd = message[head_cmd];
    const std::uint8_t sub = message[head_sub];
    const char* name = nullptr;
    if (cmd == cmd_reboot && !from_unit) {
        name = "REBOOT_REQ";
    } else if (cmd == cmd_loader) {
        name = from_unit ? answer_name(sub) : request_name(sub);
    }
    if (name == nullptr) {
        char text[32];
        std::snprintf(text, sizeof text, "CMD %02X SUB %02X", unsigned{cmd}, unsigned{sub});
        return text;
    }
    std::string text = name;
    if (is_flash_info(sub) && from_unit && cmd == cmd_loader) {
        text += " bank " + std::to_string(flash_info_bank(sub));
    }
    return text;
}

void sim_trace::line(sim_clock::time_point at, const std::string& text) const {
    if (stream_ == nullptr) {
        return;
    }
    const std::chrono::duration<double> since = at - start_;
    std::fprintf(stream_, "kestrel-unit [%9.3f] %s\n", since.count(), text.c_str());
    std::fflush(stream_);
}

void sim_trace::received(const received_item& item) const {
    if (level_ < 1) {
        return;
    }
    const auto at = start_ + std::chrono::duration_cast<sim_clock::duration>(
                                 std::chrono::duration<double, std::milli>(item.time_ms));
    std::string text = "<- ";
    switch (item.kind) {
    case received_kind::message:
        text += message_name(item.bytes, false);
        break;
    case received_kind::bad_frame:
        text += "frame with a wrong checksum, " + std::to_string(item.bytes.size()) + " bytes";
        break;
    case received_kind::raw_byte:
        text += "byte " + printable(item.bytes.empty() ? 0 : item.bytes.front());
        break;
    }
    if (level_ >= 2 && item.kind != received_kind::raw_byte) {
        text += ": " + hex_text(item.bytes.data(), item.bytes.size());
    }
    line(at, text);
}

void sim_trace::sent(std::span<const std::uint8_t> message, sim_clock::time_point at,
                     const char* note) const {
    if (level_ < 1) {
        return;
    }
    std::string text = "-> " + message_name(message, true);
    if (note != nullptr) {
        text += " (";
        text += note;
        text += ')';
    }
    if (level_ >= 2) {
        text += ": " + hex_text(message.data(), message.size());
    }
    line(at, text);
}

void sim_trace::note(sim_clock::time_point at, const char* format, ...) const {
    if (level_ < 1) {
        return;
    }
    char text[512];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    line(at, std::string("   ") + text);
}
