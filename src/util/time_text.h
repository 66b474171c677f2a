// The program's time stamps and the system clock. Times are whole seconds (or
// milliseconds) since 1970-01-01 00:00:00 UTC; texts are UTC with no zone
// suffix. Pure functions apart from reading the clock; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// "YYYY-MM-DD hh:mm:ss" on the proleptic Gregorian calendar. The year has at
// least four digits (more after 9999); times before year 0 count back through
// year 0 and show a minus sign before a four-digit year, e.g. "-0001-12-31".
// Every int64 value gives a text.
[[nodiscard]] std::string time_text(std::int64_t unix_seconds);

// The seconds of a time written "YYYY-MM-DD hh:mm:ss" (as time_text writes
// it) or in the ISO form other programs' records use,
// "YYYY-MM-DDThh:mm:ss", with an optional fraction of a second (dropped) and
// an optional "Z"; a four-digit year, UTC. Nothing for any other text or a
// date that does not exist.
[[nodiscard]] std::optional<std::int64_t> read_time_text(std::string_view text);
// The same in milliseconds, keeping the first three digits of a fraction.
[[nodiscard]] std::optional<std::int64_t> read_time_text_ms(std::string_view text);

[[nodiscard]] std::int64_t now_unix_seconds();

// A measured duration as people read it, with the unit that suits its size:
// "850 µs", "12.4 ms", "1.35 s" (three significant digits at most).
[[nodiscard]] std::string elapsed_text(std::int64_t nanoseconds);
[[nodiscard]] std::int64_t now_unix_millis();

}  // namespace qm
