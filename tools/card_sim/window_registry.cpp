#include "tools/card_sim/window_registry.h"

#include <array>
#include <atomic>

#include "tools/card_sim/x86_access.h"

namespace {

struct window_slot {
    std::atomic<std::uintptr_t> base{0};
    std::atomic<std::size_t> size{0};
    std::atomic<window_device*> device{nullptr};
};

constexpr std::size_t max_windows = 8;
std::array<window_slot, max_windows> windows;

// A fixed buffer for the fatal message: no allocation inside the handler.
class fatal_text {
public:
    void add(const char* text) noexcept {
        while (*text != '\0' && used_ < buffer_.size()) {
            buffer_[used_++] = *text++;
        }
    }
    void add_hex(std::uint64_t value, int digits) noexcept {
        for (int k = digits - 1; k >= 0; --k) {
            const char c = "0123456789ABCDEF"[(value >> (4 * k)) & 0xF];
            if (used_ < buffer_.size()) {
                buffer_[used_++] = c;
            }
        }
    }
    [[noreturn]] void fail() noexcept { trap_fatal(buffer_.data(), used_); }

private:
    std::array<char, 256> buffer_{};
    std::size_t used_ = 0;
};

}  // namespace

bool register_window(void* base, std::size_t size, window_device& device) noexcept {
    for (window_slot& slot : windows) {
        if (slot.base.load(std::memory_order_acquire) == 0) {
            slot.size.store(size, std::memory_order_relaxed);
            slot.device.store(&device, std::memory_order_relaxed);
            slot.base.store(reinterpret_cast<std::uintptr_t>(base), std::memory_order_release);
            return true;
        }
    }
    return false;
}

void unregister_window(void* base) noexcept {
    for (window_slot& slot : windows) {
        if (slot.base.load(std::memory_order_acquire) == reinterpret_cast<std::uintptr_t>(base)) {
            slot.base.store(0, std::memory_order_release);
        }
    }
}

trap_outcome emulate_window_access(std::uintptr_t address, const std::uint8_t* code,
                                   trapped_registers& registers, std::size_t& step) noexcept {
    for (window_slot& slot : windows) {
        const std::uintptr_t base = slot.base.load(std::memory_order_acquire);
        const std::size_t size = slot.size.load(std::memory_order_relaxed);
        if (base == 0 || address < base || address - base >= size) {
            continue;
        }
        window_device* device = slot.device.load(std::memory_order_relaxed);
        const std::uintptr_t offset = address - base;
        x86_access access;
        if (!decode_x86_access(code, x86_max_instruction, access)) {
            fatal_text text;
            text.add("card stand-in: window offset 0x");
            text.add_hex(offset, 4);
            text.add(" touched by an instruction that is not a 32-bit load or store (code");
            for (std::size_t k = 0; k < 8; ++k) {
                text.add(" ");
                text.add_hex(code[k], 2);
            }
            text.add("); stopping\n");
            text.fail();
        }
        if (offset % 4 != 0 || offset + 4 > size) {
            fatal_text text;
            text.add("card stand-in: misaligned 32-bit window access at offset 0x");
            text.add_hex(offset, 4);
            text.add("; stopping\n");
            text.fail();
        }
        const auto register_offset = static_cast<std::uint32_t>(offset);
        switch (access.kind) {
        case x86_access_kind::load:
            // A 32-bit destination clears the upper half of the 64-bit register.
            *registers.reg[access.reg] = device->load(register_offset);
            break;
        case x86_access_kind::store:
            device->store(register_offset,
                          static_cast<std::uint32_t>(*registers.reg[access.reg]));
            break;
        case x86_access_kind::store_imm:
            device->store(register_offset, access.immediate);
            break;
        }
        step = access.length;
        return trap_outcome::emulated;
    }
    return trap_outcome::not_window;
}
