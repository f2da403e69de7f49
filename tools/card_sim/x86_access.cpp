#include "tools/card_sim/x86_access.h"

namespace {

constexpr std::uint8_t rex_w = 0x08;
constexpr std::uint8_t rex_r = 0x04;

bool is_segment_prefix(std::uint8_t byte) {
    return byte == 0x2E || byte == 0x36 || byte == 0x3E || byte == 0x26 || byte == 0x64 ||
           byte == 0x65;
}

}  // namespace

bool decode_x86_access(const std::uint8_t* code, std::size_t available, x86_access& out) noexcept {
    if (available > x86_max_instruction) {
        available = x86_max_instruction;
    }
    std::size_t at = 0;
    // Legacy prefixes: segment overrides and the address-size prefix do not change what is
    // moved; an operand-size (0x66), lock or repeat prefix does, and is refused.
    while (at < available && (is_segment_prefix(code[at]) || code[at] == 0x67)) {
        ++at;
    }
    std::uint8_t rex = 0;
    if (at < available && (code[at] & 0xF0) == 0x40) {
        rex = code[at++];
    }
    if ((rex & rex_w) != 0 || at + 2 > available) {
        return false;
    }
    const std::uint8_t opcode = code[at++];
    const std::uint8_t modrm = code[at++];
    const unsigned mod = modrm >> 6;
    const unsigned reg = (modrm >> 3) & 7;
    const unsigned rm = modrm & 7;

    x86_access access;
    switch (opcode) {
    case 0x8B:
        access.kind = x86_access_kind::load;
        break;
    case 0x89:
        access.kind = x86_access_kind::store;
        break;
    case 0xC7:
        if (reg != 0) {
            return false;
        }
        access.kind = x86_access_kind::store_imm;
        break;
    default:
        return false;
    }
    if (mod == 3) {
        return false;  // register to register: no memory access
    }
    access.reg = reg | ((rex & rex_r) != 0 ? 8u : 0u);

    std::size_t displacement = mod == 1 ? 1 : mod == 2 ? 4 : 0;
    if (rm == 4) {
        if (at >= available) {
            return false;
        }
        const std::uint8_t sib = code[at++];
        if (mod == 0 && (sib & 7) == 5) {
            displacement = 4;  // no base register: a 32-bit displacement instead
        }
    } else if (mod == 0 && rm == 5) {
        displacement = 4;  // RIP-relative
    }
    at += displacement;
    if (access.kind == x86_access_kind::store_imm) {
        if (at + 4 > available) {
            return false;
        }
        access.immediate = static_cast<std::uint32_t>(code[at]) |
                           (static_cast<std::uint32_t>(code[at + 1]) << 8) |
                           (static_cast<std::uint32_t>(code[at + 2]) << 16) |
                           (static_cast<std::uint32_t>(code[at + 3]) << 24);
        at += 4;
    }
    if (at > available) {
        return false;
    }
    access.length = at;
    out = access;
    return true;
}
