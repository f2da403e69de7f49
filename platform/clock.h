// Time as the loader measures it: a millisecond tick counter that wraps at 2^32 (differences
// are taken modulo 2^32) and a sleep of whole milliseconds.
#pragma once

#include <cstdint>

// Milliseconds since an arbitrary start, wrapping at 2^32.
std::uint32_t tick_count_ms();

// Suspends the calling thread for at least the given number of milliseconds.
void sleep_ms(std::uint32_t milliseconds);
