// The date of the menu header as the user should see it: local time in the fixed 24-character
// form "Sun Dec 06 22:44:42 2026" (English names, day of the month always two digits), and
// whether a date on the screen names a second within the span of a run.
#pragma once

#include <chrono>
#include <string>

std::string header_date(std::chrono::system_clock::time_point moment);

// True when `date` is the header date of some second from `from` to `to` (both included).
bool header_date_within(const std::string& date, std::chrono::system_clock::time_point from,
                        std::chrono::system_clock::time_point to);
