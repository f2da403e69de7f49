// Win32 clock: GetTickCount64, kept to its low 32 bits like GetTickCount.
#include "platform/clock_os.h"

#include <windows.h>

std::uint32_t os_tick_count_ms() { return static_cast<std::uint32_t>(GetTickCount64()); }

void os_sleep_ms(std::uint32_t milliseconds) { Sleep(milliseconds); }
