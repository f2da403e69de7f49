#include "platform/visible_text.h"

#include <cstdint>
#include <cstdio>

namespace {

bool is_continuation(unsigned char c) { return (c & 0xC0u) == 0x80u; }

// The length of the valid UTF-8 sequence at the start of `rest` (shortest form, no UTF-16
// surrogates, at most U+10FFFF), with its code point; 0 when the first byte does not start one.
std::size_t utf8_sequence(std::string_view rest, std::uint32_t& code_point) {
    const auto byte = [&rest](std::size_t k) { return static_cast<unsigned char>(rest[k]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    std::uint32_t value = 0;
    std::uint32_t smallest = 0;
    if (lead < 0x80u) {
        code_point = lead;
        return 1;
    }
    if ((lead & 0xE0u) == 0xC0u) {
        length = 2;
        value = lead & 0x1Fu;
        smallest = 0x80u;
    } else if ((lead & 0xF0u) == 0xE0u) {
        length = 3;
        value = lead & 0x0Fu;
        smallest = 0x800u;
    } else if ((lead & 0xF8u) == 0xF0u) {
        length = 4;
        value = lead & 0x07u;
        smallest = 0x10000u;
    } else {
        return 0;
    }
    if (rest.size() < length) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (!is_continuation(byte(k))) {
            return 0;
        }
        value = (value << 6) | (byte(k) & 0x3Fu);
    }
    if (value < smallest || value > 0x10FFFFu || (value >= 0xD800u && value <= 0xDFFFu)) {
        return 0;
    }
    code_point = value;
    return length;
}

// "\x1b" for a byte, "\u009b" for a UTF-8 character.
void append_escape(std::string& out, bool character, unsigned value) {
    char text[8];
    if (character) {
        std::snprintf(text, sizeof text, "\\u%04x", value);
    } else {
        std::snprintf(text, sizeof text, "\\x%02x", value);
    }
    out += text;
}

}  // namespace

std::string visible_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t code_point = 0;
        const std::size_t length = utf8_sequence(text.substr(at), code_point);
        if (length == 0) {
            // Not UTF-8: a byte of the C1 range is a control character for an 8-bit terminal;
            // the others are printable in the usual code pages and harmless to a UTF-8 one.
            const auto byte = static_cast<unsigned char>(text[at]);
            if (byte <= 0x9Fu) {
                append_escape(out, false, byte);
            } else {
                out += text[at];
            }
            ++at;
            continue;
        }
        if (code_point < 0x20u || code_point == 0x7Fu) {
            append_escape(out, false, code_point);
        } else if (code_point >= 0x80u && code_point <= 0x9Fu) {
            append_escape(out, true, code_point);
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    return out;
}

std::string utf8_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t code_point = 0;
        const std::size_t length = utf8_sequence(text.substr(at), code_point);
        if (length != 0) {
            out.append(text, at, length);
            at += length;
            continue;
        }
        const auto byte = static_cast<unsigned char>(text[at]);
        out += static_cast<char>(0xC0u | (byte >> 6));
        out += static_cast<char>(0x80u | (byte & 0x3Fu));
        ++at;
    }
    return out;
}
