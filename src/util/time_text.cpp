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

// Days since 1970-01-01 of a date, the inverse of civil_from_days.
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = floor_div(year, 400);
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t shifted_month = month > 2 ? month - 3 : month + 9;
    const std::int64_t day_of_year = (153 * shifted_month + 2) / 5 + day - 1;
    const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// The number of `width` digits at `at`, or nothing.
std::optional<unsigned> digits_at(std::string_view text, std::size_t at, std::size_t width) {
    if (at + width > text.size()) return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return value;
}

}  // namespace

std::optional<std::int64_t> read_time_text(std::string_view text) {
    const std::optional<std::int64_t> ms = read_time_text_ms(text);
    if (!ms) return std::nullopt;
    return floor_div(*ms, 1000);
}

std::optional<std::int64_t> read_time_text_ms(std::string_view text) {
    // YYYY-MM-DD?hh:mm:ss: the separators at their places, digits between.
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || (text[10] != ' ' && text[10] != 'T') ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    const auto year = digits_at(text, 0, 4), month = digits_at(text, 5, 2), day = digits_at(text, 8, 2),
               hour = digits_at(text, 11, 2), minute = digits_at(text, 14, 2), second = digits_at(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    std::string_view rest = text.substr(19);
    std::int64_t millis = 0;
    if (rest.starts_with('.')) {
        std::size_t digits = 1;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
            if (digits <= 3) millis = millis * 10 + (rest[digits] - '0');
            ++digits;
        }
        if (digits == 1) return std::nullopt;
        for (std::size_t shown = digits - 1; shown < 3; ++shown) millis *= 10;
        rest.remove_prefix(digits);
    }
    if (rest == "Z") rest = {};
    if (!rest.empty() || *month < 1 || *month > 12 || *day < 1 || *hour > 23 || *minute > 59 || *second > 59)
        return std::nullopt;
    const std::int64_t days = days_from_civil(*year, *month, *day);
    // A day past the month's end would come back as another date.
    const CivilDate back = civil_from_days(days);
    if (back.month != *month || back.day != *day) return std::nullopt;
    return (days * seconds_per_day + *hour * 3600 + *minute * 60 + *second) * 1000 + millis;
}

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
