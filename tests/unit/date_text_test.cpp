#include "console/date_text.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

std::tm make_tm(int year, int month, int day, int hour, int minute, int second, int weekday) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_wday = weekday;
    return t;
}

TEST(DateText, FixedEnglishFormWithTwoDigitDay) {
    EXPECT_EQ(date_text(make_tm(2026, 12, 6, 22, 44, 42, 0)), "Sun Dec 06 22:44:42 2026");
    EXPECT_EQ(date_text(make_tm(2026, 3, 2, 9, 5, 7, 1)), "Mon Mar 02 09:05:07 2026");
    EXPECT_EQ(date_text(make_tm(1999, 1, 31, 0, 0, 0, 0)), "Sun Jan 31 00:00:00 1999");
    EXPECT_EQ(date_text(make_tm(2024, 2, 29, 23, 59, 60, 4)), "Thu Feb 29 23:59:60 2024");
    EXPECT_EQ(date_text(make_tm(987, 7, 10, 12, 0, 1, 6)), "Sat Jul 10 12:00:01 0987");
}

// The names follow the C library's numbering of weekdays and months.
TEST(DateText, AgreesWithTheLibraryBreakDown) {
    const std::time_t epoch = 0;
    const std::time_t later = 1772836482;  // 2026-03-06 22:34:42 UTC, a Friday
    EXPECT_EQ(date_text(*std::gmtime(&epoch)), "Thu Jan 01 00:00:00 1970");
    EXPECT_EQ(date_text(*std::gmtime(&later)), "Fri Mar 06 22:34:42 2026");
}

TEST(DateText, FieldsOutOfRangeGiveThePlaceholderOfTheSameWidth) {
    const std::string unknown = date_text_unknown();
    EXPECT_EQ(unknown.size(), date_text_size);
    EXPECT_EQ(unknown, "??? ??? ?? ??:??:?? ????");
    const std::tm good = make_tm(2026, 12, 6, 22, 44, 42, 0);
    std::tm bad = good;
    bad.tm_wday = 7;
    EXPECT_EQ(date_text(bad), unknown);
    bad = good;
    bad.tm_mon = -1;
    EXPECT_EQ(date_text(bad), unknown);
    bad = good;
    bad.tm_mday = 0;
    EXPECT_EQ(date_text(bad), unknown);
    bad = good;
    bad.tm_hour = 24;
    EXPECT_EQ(date_text(bad), unknown);
    bad = good;
    bad.tm_year = 10000 - 1900;
    EXPECT_EQ(date_text(bad), unknown);
}

}  // namespace
