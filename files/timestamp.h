// Names of the output folders: the local time as year_month_day_hour_minute_second.
#pragma once

#include <ctime>
#include <optional>
#include <string>


// "2026_03_02_09_05_07", or "timeerror" when there is no local time.
std::string timestamp_text(const std::optional<std::tm>& time);

// The time stamp of now.
std::string make_timestamp();
