#include "files/timestamp.h"

#include <cstdio>

#include "platform/local_time.h"

std::string timestamp_text(const std::optional<std::tm>& time) {
    if (!time) {
        return "timeerror";
    }
    char text[64] = {};
    std::snprintf(text, sizeof text, "%04d_%02d_%02d_%02d_%02d_%02d", time->tm_year + 1900,
                  time->tm_mon + 1, time->tm_mday, time->tm_hour, time->tm_min, time->tm_sec);
    return text;
}

std::string make_timestamp() { return timestamp_text(local_time_now()); }
