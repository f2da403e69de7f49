// Time as the loader measures it: a millisecond tick counter that wraps at 2^32 (differences
// are taken modulo 2^32) and a sleep of whole milliseconds. A test may replace both with a clock
// of its own, so that waits of tens of seconds pass in no time.
#pragma once

#include <cstdint>

// Milliseconds since an arbitrary start, wrapping at 2^32.
std::uint32_t tick_count_ms();

// Suspends the calling thread for at least the given number of milliseconds.
void sleep_ms(std::uint32_t milliseconds);

// Replaces the clock (both functions together); nullptr restores the system's clock.
using tick_function = std::uint32_t (*)();
using sleep_function = void (*)(std::uint32_t milliseconds);
void set_clock(tick_function tick, sleep_function sleep);
