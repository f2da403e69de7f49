// Date text built field by field, so that neither the locale nor the C library's padding of
// the day of the month changes it.
#include "console/date_text.h"

namespace {

constexpr const char* weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool in_range(int value, int low, int high) { return value >= low && value <= high; }

// Appends value (0 or more) as exactly `digits` decimal digits.
void append_digits(std::string& text, int value, int digits) {
    const std::size_t end = text.size() + static_cast<std::size_t>(digits);
    text.resize(end);
    for (std::size_t i = end; i-- > end - static_cast<std::size_t>(digits);) {
        text[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

}  // namespace

std::string date_text(const std::tm& time) {
    // tm_year counts from 1900; a leap second may give tm_sec 60.
    const bool valid = in_range(time.tm_wday, 0, 6) && in_range(time.tm_mon, 0, 11) &&
                       in_range(time.tm_mday, 1, 31) && in_range(time.tm_hour, 0, 23) &&
                       in_range(time.tm_min, 0, 59) && in_range(time.tm_sec, 0, 60) &&
                       in_range(time.tm_year, -1900, 9999 - 1900);
    if (!valid) return date_text_unknown();

    std::string text;
    text.reserve(date_text_size);
    text += weekdays[time.tm_wday];
    text += ' ';
    text += months[time.tm_mon];
    text += ' ';
    append_digits(text, time.tm_mday, 2);
    text += ' ';
    append_digits(text, time.tm_hour, 2);
    text += ':';
    append_digits(text, time.tm_min, 2);
    text += ':';
    append_digits(text, time.tm_sec, 2);
    text += ' ';
    append_digits(text, time.tm_year + 1900, 4);
    return text;
}

std::string date_text_unknown() { return "??? ??? ?? ??:??:?? ????"; }
