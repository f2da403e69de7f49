#include "e2e/header_date.h"

#include <cstdio>
#include <ctime>

std::string header_date(std::chrono::system_clock::time_point moment) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[32];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d", days[local.tm_wday % 7],
                  months[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min,
                  local.tm_sec, local.tm_year + 1900);
    return text;
}

bool header_date_within(const std::string& date, std::chrono::system_clock::time_point from,
                        std::chrono::system_clock::time_point to) {
    for (auto moment = std::chrono::floor<std::chrono::seconds>(from); moment <= to;
         moment += std::chrono::seconds(1)) {
        if (header_date(moment) == date) {
            return true;
        }
    }
    return false;
}
