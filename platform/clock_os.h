// The system's own clock, as each backend provides it; the rest of the program goes through
// platform/clock.h, where a test may put a clock of its own in its place.
#pragma once

#include <cstdint>

std::uint32_t os_tick_count_ms();
void os_sleep_ms(std::uint32_t milliseconds);
