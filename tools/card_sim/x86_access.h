// Decoding of the x86-64 instructions that make a 32-bit load or store through a pointer, so
// that a faulting access to the emulated card window can be carried out in software: the kind
// of access, the register it uses and the length of the instruction to step over.
#pragma once

#include <cstddef>
#include <cstdint>

enum class x86_access_kind : std::uint8_t {
    load,        // mov r32, [mem]     (8B /r)
    store,       // mov [mem], r32     (89 /r)
    store_imm,   // mov [mem], imm32   (C7 /0)
};

struct x86_access {
    x86_access_kind kind = x86_access_kind::load;
    unsigned reg = 0;               // general register number 0-15 (RAX ... R15); not for store_imm
    std::uint32_t immediate = 0;    // store_imm only
    std::size_t length = 0;         // bytes of the whole instruction
};

// The longest x86 instruction.
inline constexpr std::size_t x86_max_instruction = 15;

// Decodes the instruction at code (at most `available` bytes may be read). Returns false for
// anything but a 32-bit MOV to or from memory: other widths, register operands, lock or
// repeat prefixes, other opcodes.
bool decode_x86_access(const std::uint8_t* code, std::size_t available, x86_access& out) noexcept;
