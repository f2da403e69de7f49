// The trapped window: plain 32-bit loads and stores through a volatile pointer reach the device
// from several threads at once; faults elsewhere go to the handler installed before; an access
// that cannot be emulated stops the run with a message.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tools/card_sim/window_trap.h"

namespace {

constexpr std::size_t window_size = 0x8000;

// Adds up what is stored at 0x008, counts the loads at 0x010 and answers other loads with
// their own offset, so that a wrong offset or a lost access shows.
class counting_device final : public window_device {
public:
    std::uint32_t load(std::uint32_t offset) noexcept override {
        if (offset == 0x010) {
            return ++loads;
        }
        return offset ^ 0xA5A50000u;
    }
    void store(std::uint32_t offset, std::uint32_t value) noexcept override {
        if (offset == 0x008) {
            sum += value;
            ++stores;
        } else {
            last_other.store((std::uint64_t{offset} << 32) | value);
        }
    }
    std::atomic<std::uint32_t> loads{0};
    std::atomic<std::uint64_t> sum{0};
    std::atomic<std::uint32_t> stores{0};
    std::atomic<std::uint64_t> last_other{0};
};

TEST(WindowTrap, LoadsAndStoresReachTheDevice) {
    counting_device device;
    auto* window = static_cast<volatile std::uint32_t*>(map_trapped_window(window_size, device));
    ASSERT_NE(window, nullptr);
    for (std::uint32_t offset : {0x000u, 0x1E8u, 0x1F0u, 0x7FFCu}) {
        EXPECT_EQ(window[offset / 4], offset ^ 0xA5A50000u) << offset;
    }
    window[0x00C / 4] = 2;  // a constant: the compiler stores an immediate
    EXPECT_EQ(device.last_other.load(), (std::uint64_t{0x00C} << 32) | 2);
    volatile std::uint32_t value = 0xDEADBEEF;
    window[0x1E0 / 4] = value;
    EXPECT_EQ(device.last_other.load(), (std::uint64_t{0x1E0} << 32) | 0xDEADBEEF);

    // Registers above RAX..RDI, and the upper half of the destination cleared.
    std::uint64_t loaded = ~std::uint64_t{0};
    const volatile std::uint32_t* at = window + 0x1F0 / 4;
    asm volatile("movq $-1, %%r10\n\tmovl (%1), %%r10d\n\tmovq %%r10, %0"
                 : "=r"(loaded)
                 : "r"(at)
                 : "r10", "memory");
    EXPECT_EQ(loaded, std::uint64_t{0x1F0 ^ 0xA5A50000u});
    std::uint32_t stored = 0x1234;
    asm volatile("movl %1, %%r9d\n\tmovl %%r9d, 8(%0)" : : "r"(window), "r"(stored) : "r9", "memory");
    EXPECT_EQ(device.sum.load(), 0x1234u);
    unmap_trapped_window(const_cast<std::uint32_t*>(window), window_size);
}

TEST(WindowTrap, TwoThreadsAtOnce) {
    counting_device device;
    auto* window = static_cast<volatile std::uint32_t*>(map_trapped_window(window_size, device));
    ASSERT_NE(window, nullptr);
    constexpr std::uint32_t rounds = 20000;
    std::atomic<bool> loads_in_order{true};
    std::atomic<bool> offsets_right{true};
    std::thread reader([&] {
        std::uint32_t previous = 0;
        for (std::uint32_t k = 0; k < rounds; ++k) {
            const std::uint32_t value = window[0x010 / 4];
            if (value <= previous) {
                loads_in_order = false;
            }
            previous = value;
            if (window[0x1F0 / 4] != (0x1F0u ^ 0xA5A50000u)) {
                offsets_right = false;
            }
        }
    });
    for (std::uint32_t k = 1; k <= rounds; ++k) {
        window[0x008 / 4] = k;
    }
    reader.join();
    EXPECT_TRUE(loads_in_order.load());
    EXPECT_TRUE(offsets_right.load());
    EXPECT_EQ(device.loads.load(), rounds);
    EXPECT_EQ(device.stores.load(), rounds);
    EXPECT_EQ(device.sum.load(), std::uint64_t{rounds} * (rounds + 1) / 2);
    unmap_trapped_window(const_cast<std::uint32_t*>(window), window_size);
}

// ---- In a process of their own: the handler chain and fatal ends ----------------------------

// Shared with the signal handler: volatile, so that no access moves across the fault.
void* volatile recorded_fault = nullptr;
void* volatile guarded_page = nullptr;

void recording_handler(int, siginfo_t* info, void*) {
    recorded_fault = info->si_addr;
    // Let the faulting access go through on its retry.
    mprotect(guarded_page, static_cast<std::size_t>(getpagesize()), PROT_READ | PROT_WRITE);
}

void fault_outside_the_window() {
    struct sigaction action {};
    action.sa_sigaction = recording_handler;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, nullptr);

    counting_device device;
    auto* window = static_cast<volatile std::uint32_t*>(map_trapped_window(window_size, device));
    guarded_page = mmap(nullptr, static_cast<std::size_t>(getpagesize()), PROT_NONE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    auto* outside = static_cast<volatile std::uint32_t*>(guarded_page);
    outside[3] = 7;
    const bool passed_on = recorded_fault == static_cast<void*>(const_cast<std::uint32_t*>(outside + 3));
    const bool window_still_served = window[0x1E8 / 4] == (0x1E8u ^ 0xA5A50000u);
    std::exit(passed_on && outside[3] == 7 && window_still_served ? 0 : 1);
}

TEST(WindowTrapDeathTest, OtherFaultsGoToThePreviousHandler) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(fault_outside_the_window(), testing::ExitedWithCode(0), "");
}

void wide_access() {
    counting_device device;
    auto* window = static_cast<volatile std::uint64_t*>(map_trapped_window(window_size, device));
    std::exit(static_cast<int>(window[1] & 1));
}

void misaligned_access() {
    counting_device device;
    auto* window = static_cast<volatile std::uint8_t*>(map_trapped_window(window_size, device));
    std::uint32_t value = 0;
    asm volatile("movl 2(%1), %0" : "=r"(value) : "r"(window) : "memory");
    std::exit(static_cast<int>(value & 1));
}

TEST(WindowTrapDeathTest, AccessesThatCannotBeEmulatedStopTheRun) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(wide_access(), "window offset 0x0008 touched by an instruction that is not a "
                                "32-bit load or store");
    EXPECT_DEATH(misaligned_access(), "misaligned 32-bit window access at offset 0x0002");
}

}  // namespace
