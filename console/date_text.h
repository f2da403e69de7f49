// The fixed 24-character date of the screen header and the file tables, for example
// "Sun Dec 06 22:44:42 2026": English names whatever the locale, two-digit day of the month.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

inline constexpr std::size_t date_text_size = 24;

// The date text of a broken-down local time. A time with a field out of range (or a year
// outside 0 to 9999) gives date_text_unknown(), so the text is always 24 characters long.
std::string date_text(const std::tm& time);

// Stands for a time that could not be converted; as wide as a date text.
std::string date_text_unknown();
