// The part of the window trap common to every system: the table of trapped windows and the
// emulation of one faulting access against it. The system's fault handler gives it the fault
// address, the code at the instruction pointer and the registers of the interrupted thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/card_sim/window_trap.h"

// Pointers to the 64-bit general registers of the interrupted thread, RAX to R15 in encoding
// order.
struct trapped_registers {
    std::uint64_t* reg[16];
};

enum class trap_outcome : std::uint8_t {
    not_window,  // not a window access: pass the fault on
    emulated,    // carried out: resume after the instruction (length in step)
};

bool register_window(void* base, std::size_t size, window_device& device) noexcept;
void unregister_window(void* base) noexcept;

// Emulates the access at `address` made by the instruction at `code`. An access inside a window
// that cannot be emulated (another instruction, a misaligned offset) ends the process with a
// message on the error stream: a wrong value would be worse.
trap_outcome emulate_window_access(std::uintptr_t address, const std::uint8_t* code,
                                   trapped_registers& registers, std::size_t& step) noexcept;

// Writes the text to the error stream and ends the process abnormally. Signal-safe.
[[noreturn]] void trap_fatal(const char* text, std::size_t length) noexcept;
