// What the records a scan keeps in the data folder share (service-keys.json,
// task-definitions.json): reading one, which gives its list of entries or
// nothing when the file is missing, damaged, oversized or of another format,
// and writing it whole in one step. A record only saves work, so a failure
// to read or write it is never reported. Also the clock they are kept by.
// Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/json.h"

namespace qm::windows {

// {"format":{format},"{list}":[...]}: the list, when the file is that.
[[nodiscard]] std::optional<json::JsonValue> read_record(const std::string& folder, std::string_view file_name,
                                                         std::size_t limit, int format, std::string_view list);
// Writes the same, unless it would be larger than `limit`.
void write_record(const std::string& folder, std::string_view file_name, std::size_t limit, int format,
                  std::string_view list, json::JsonValue entries);

// 64-bit numbers are kept as decimal text: a JSON number holds 53 bits exactly.
[[nodiscard]] std::optional<std::uint64_t> decimal_of(const json::JsonValue& value);

// The current time as a Windows file time (100-nanosecond units).
[[nodiscard]] std::uint64_t file_time_now();

// Two seconds: a change within one tick of the clock Windows stamps files and
// keys with may leave the stamp as it was, so what was written less than this
// before `now` (or is stamped later than `now`) is not kept.
inline constexpr std::uint64_t settle_time = 20'000'000;
[[nodiscard]] constexpr bool settled(std::uint64_t written, std::uint64_t now) {
    return written <= now && now - written >= settle_time;
}

// One day: whoever may change a key or a file may also set its stamp back,
// so what was read is trusted for this long at most and then read again.
inline constexpr std::uint64_t trust_time = 864'000'000'000;
[[nodiscard]] constexpr bool still_trusted(std::uint64_t read, std::uint64_t now) {
    return read <= now && now - read < trust_time;
}

}  // namespace qm::windows
