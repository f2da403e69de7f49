// POSIX clock: CLOCK_MONOTONIC, so that setting the wall clock never fires or stalls a time-out.
#include "platform/clock_os.h"

#include <cerrno>
#include <ctime>

std::uint32_t os_tick_count_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void os_sleep_ms(std::uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000u),
                  static_cast<long>(milliseconds % 1000u) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
