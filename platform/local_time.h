// Local time conversion, as the header, the file tables and the output folders show it.
#pragma once

#include <ctime>
#include <optional>

// The calendar time converted to local time; nothing when it cannot be converted.
std::optional<std::tm> local_time(std::time_t when);

// Now, in local time.
std::optional<std::tm> local_time_now();
