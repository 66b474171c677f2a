#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>

#include "util/time_text.h"

namespace {

TEST(TimeText, KnownMomentsAcrossCalendarRules) {
    EXPECT_EQ(qm::time_text(0), "1970-01-01 00:00:00");
    EXPECT_EQ(qm::time_text(951782400), "2000-02-29 00:00:00");  // leap day of a 400-year
    EXPECT_EQ(qm::time_text(1791878709), "2026-10-13 08:05:09");
    EXPECT_EQ(qm::time_text(4107542399), "2100-02-28 23:59:59");  // 2100 is not a leap year
    EXPECT_EQ(qm::time_text(4107542400), "2100-03-01 00:00:00");
    EXPECT_EQ(qm::time_text(2147483647), "2038-01-19 03:14:07");  // the 32-bit limit
    EXPECT_EQ(qm::time_text(2147483648), "2038-01-19 03:14:08");  // and one past it
    EXPECT_EQ(qm::time_text(253402300799), "9999-12-31 23:59:59");
    EXPECT_EQ(qm::time_text(253402300800), "10000-01-01 00:00:00");  // the year grows past four digits
}

TEST(TimeText, MomentsBeforeTheEpochFloorToTheirDay) {
    EXPECT_EQ(qm::time_text(-1), "1969-12-31 23:59:59");
    EXPECT_EQ(qm::time_text(-86400), "1969-12-31 00:00:00");
    EXPECT_EQ(qm::time_text(-86401), "1969-12-30 23:59:59");
    EXPECT_EQ(qm::time_text(-2208988800), "1900-01-01 00:00:00");
    EXPECT_EQ(qm::time_text(-11670955200), "1600-02-29 12:00:00");
    EXPECT_EQ(qm::time_text(-62167219200), "0000-01-01 00:00:00");
    EXPECT_EQ(qm::time_text(-62167219201), "-0001-12-31 23:59:59");
}

TEST(TimeText, ExtremeInputsStillGiveADate) {
    EXPECT_EQ(qm::time_text(std::numeric_limits<std::int64_t>::max()), "292277026596-12-04 15:30:07");
    EXPECT_EQ(qm::time_text(std::numeric_limits<std::int64_t>::min()), "-292277022657-01-27 08:29:52");
}

// Walks day by day with plain month lengths from 1582 to 2500 and compares
// every day, so any slip of the era or month arithmetic shows.
TEST(TimeText, AgreesWithADayByDayCalendarWalk) {
    const auto is_leap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
    const auto month_days = [&](int y, int m) {
        static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        return m == 2 && is_leap(y) ? 29 : days[m - 1];
    };
    std::int64_t day = -141714;  // 1582-01-01 counted from 1970-01-01
    int year = 1582, month = 1, date = 1;
    char expected[64];
    while (year <= 2500) {
        std::snprintf(expected, sizeof expected, "%04d-%02d-%02d 13:45:59", year, month, date);
        ASSERT_EQ(qm::time_text(day * 86400 + 13 * 3600 + 45 * 60 + 59), expected);
        ++day;
        if (++date > month_days(year, month)) {
            date = 1;
            if (++month > 12) {
                month = 1;
                ++year;
            }
        }
    }
}

TEST(TimeText, ClockReadsThePresent) {
    const std::int64_t seconds = qm::now_unix_seconds();
    const std::int64_t millis = qm::now_unix_millis();
    EXPECT_GT(seconds, 1704067200);  // after 2024-01-01
    EXPECT_LE(seconds * 1000, millis + 1000);
    EXPECT_GE(seconds * 1000 + 2000, millis);
}

TEST(ElapsedText, ChoosesTheUnitThatSuitsTheSize) {
    EXPECT_EQ(qm::elapsed_text(0), "0 µs");
    EXPECT_EQ(qm::elapsed_text(850000), "850 µs");
    EXPECT_EQ(qm::elapsed_text(999999), "999 µs");
    EXPECT_EQ(qm::elapsed_text(1000000), "1.00 ms");
    EXPECT_EQ(qm::elapsed_text(12400000), "12.4 ms");
    EXPECT_EQ(qm::elapsed_text(250000000), "250 ms");
    EXPECT_EQ(qm::elapsed_text(1350000000), "1.35 s");
    EXPECT_EQ(qm::elapsed_text(125000000000), "125 s");
    EXPECT_EQ(qm::elapsed_text(-5), "0 µs");  // a clock that went backwards
}

}  // namespace

TEST(TimeText, ReadsItsOwnTextsAndTheIsoFormOfRecords) {
    const struct {
        const char* text;
        std::optional<std::int64_t> seconds;
    } cases[] = {
        {"2026-10-13 08:05:09", 1791878709},
        {"2026-10-13T08:05:09Z", 1791878709},
        {"2026-10-13T08:05:09.1234567Z", 1791878709},
        {"2000-02-29 00:00:00", 951782400},
        {"1969-12-31 23:59:59", -1},
        {"2100-02-29 00:00:00", std::nullopt},  // no such day
        {"2026-13-01 00:00:00", std::nullopt},
        {"2026-10-13 24:00:00", std::nullopt},
        {"2026-10-13T08:05:09+02:00", std::nullopt},
        {"2026-10-13T08:05:09.Z", std::nullopt},
        {"2026-10-13 08:05", std::nullopt},
        {"2026-1O-13 08:05:09", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(qm::read_time_text(c.text), c.seconds) << c.text;
    EXPECT_EQ(qm::read_time_text_ms("2026-10-13T08:05:09.1234567Z"), 1791878709123);
    EXPECT_EQ(qm::read_time_text_ms("2026-10-13T08:05:09.5"), 1791878709500);
    EXPECT_EQ(qm::read_time_text_ms("1969-12-31 23:59:59.5"), -500);
}
