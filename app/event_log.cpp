#include "app/event_log.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

// Days since 1970-01-01 as a calendar date (the proleptic Gregorian calendar).
void civil_from_days(std::int64_t days, int& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153;
    day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    year = static_cast<int>(static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0));
}

std::int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string event_time_text(std::int64_t milliseconds_since_1970) {
    const std::int64_t ms_per_day = 86'400'000;
    std::int64_t days = milliseconds_since_1970 / ms_per_day;
    std::int64_t in_day = milliseconds_since_1970 % ms_per_day;
    if (in_day < 0) {
        in_day += ms_per_day;
        --days;
    }
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civil_from_days(days, year, month, day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", year, month, day,
                  static_cast<int>(in_day / 3'600'000), static_cast<int>(in_day / 60'000 % 60),
                  static_cast<int>(in_day / 1000 % 60), static_cast<int>(in_day % 1000));
    return text;
}

std::unique_ptr<event_log> event_log::open(const std::string& target, std::string& error) {
    if (target == "-") {
        return std::unique_ptr<event_log>(new event_log(stdout, false));
    }
    std::FILE* file = std::fopen(target.c_str(), "ab");
    if (file == nullptr) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<event_log>(new event_log(file, true));
}

event_log::~event_log() {
    if (owned_) {
        std::fclose(file_);
    }
}

void event_log::write(const char* kind, const event_json& fields) {
    event_json event;
    event["time"] = event_time_text(now_ms());
    event["event"] = kind;
    event.update(fields);
    // Texts from the unit and the file system may be any bytes: mended, never thrown on.
    const std::string line = event.dump(-1, ' ', false, event_json::error_handler_t::replace) + "\n";
    const std::lock_guard<std::mutex> lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}
