#include "platform/clock.h"

#include <atomic>

#include "platform/clock_os.h"

namespace {
std::atomic<tick_function> tick_source{nullptr};
std::atomic<sleep_function> sleep_source{nullptr};
}  // namespace

std::uint32_t tick_count_ms() {
    const tick_function f = tick_source.load(std::memory_order_acquire);
    return f != nullptr ? f() : os_tick_count_ms();
}

void sleep_ms(std::uint32_t milliseconds) {
    const sleep_function f = sleep_source.load(std::memory_order_acquire);
    if (f != nullptr) {
        f(milliseconds);
    } else {
        os_sleep_ms(milliseconds);
    }
}

void set_clock(tick_function tick, sleep_function sleep) {
    tick_source.store(tick, std::memory_order_release);
    sleep_source.store(sleep, std::memory_order_release);
}
