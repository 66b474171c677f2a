#include "util/time_text.h"

#include <chrono>
#include <cstdio>

namespace qm {
namespace {

constexpr std::int64_t seconds_per_day = 86400;

// Division rounding toward minus infinity, so that times before 1970 fall on
// the day they belong to and keep a non-negative time of day.
std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

struct CivilDate {
    std::int64_t year;
    unsigned month;  // 1..12
    unsigned day;    // 1..31
};

// Days since 1970-01-01 to a date: the count is moved to an epoch of
// 0000-03-01, so the leap day falls at the end of each year, then split into
// 400-year eras of 146097 days and, inside a year that starts in March, into
// 153-day groups of five months.
CivilDate civil_from_days(std::int64_t days) {
    days += 719468;
    const std::int64_t era = floor_div(days, 146097);
    const std::int64_t day_of_era = days - era * 146097;  // 0..146096
    const std::int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;                    // 0..399
    const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);  // 0..365
    const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;  // 0..11, March = 0
    const auto day = static_cast<unsigned>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    const auto month = static_cast<unsigned>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

}  // namespace

std::string time_text(std::int64_t unix_seconds) {
    const std::int64_t days = floor_div(unix_seconds, seconds_per_day);
    const std::int64_t second_of_day = unix_seconds - days * seconds_per_day;  // 0..86399
    const CivilDate date = civil_from_days(days);
    const auto hour = static_cast<unsigned>(second_of_day / 3600);
    const auto minute = static_cast<unsigned>(second_of_day / 60 % 60);
    const auto second = static_cast<unsigned>(second_of_day % 60);

    char buffer[64];
    const char* sign = date.year < 0 ? "-" : "";
    // The magnitude of the smallest year reachable from int64 seconds fits
    // easily, so negating it cannot overflow.
    const auto year = static_cast<long long>(date.year < 0 ? -date.year : date.year);
    const int length = std::snprintf(buffer, sizeof buffer, "%s%04lld-%02u-%02u %02u:%02u:%02u", sign, year, date.month,
                                     date.day, hour, minute, second);
    return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::int64_t now_unix_seconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::int64_t now_unix_millis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace qm

namespace qm {

std::string elapsed_text(std::int64_t nanoseconds) {
    if (nanoseconds < 0) nanoseconds = 0;
    const auto with_unit = [](double value, const char* unit) {
        char text[32];
        // Three significant digits: 850, 12.4, 1.35.
        const int decimals = value >= 100 ? 0 : value >= 10 ? 1 : 2;
        std::snprintf(text, sizeof text, "%.*f %s", decimals, value, unit);
        return std::string(text);
    };
    if (nanoseconds < 1000000) return std::to_string(nanoseconds / 1000) + " µs";
    if (nanoseconds < 1000000000) return with_unit(static_cast<double>(nanoseconds) / 1e6, "ms");
    return with_unit(static_cast<double>(nanoseconds) / 1e9, "s");
}

}  // namespace qm
