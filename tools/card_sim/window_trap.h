// A memory window whose every 32-bit load and store reaches a device in software. The window
// is mapped with no access rights; the fault each access raises is caught, the instruction is
// decoded and carried out against the device, and the thread goes on after it. Faults outside
// every window go on to whatever handler was installed before. Safe with several threads
// touching windows at once: the handler takes no lock of its own and allocates nothing; the
// device serialises what it must.
#pragma once

#include <cstddef>
#include <cstdint>

// What a window's loads and stores reach. Called from the fault handler: the functions must
// not allocate, must not block for long and must not touch any trapped window themselves.
class window_device {
public:
    virtual ~window_device() = default;
    virtual std::uint32_t load(std::uint32_t offset) noexcept = 0;
    virtual void store(std::uint32_t offset, std::uint32_t value) noexcept = 0;
};

// Maps `size` bytes (a multiple of the page size) whose accesses go to `device`, installing the
// fault handler on first use. Returns nullptr when the system refuses the mapping. The device
// must outlive the window.
void* map_trapped_window(std::size_t size, window_device& device);

// Unmaps a window made by map_trapped_window; no thread may touch it any more.
void unmap_trapped_window(void* base, std::size_t size);
