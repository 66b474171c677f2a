// What an item was measured to cost when the computer starts or its user
// signs in, from the records the operating system keeps. Never guessed: an
// item without a record is "not measured". The level follows from the
// figures per start (averaged over the starts measured): high above 1 s of
// processor time or of delay, or 3 MB read; medium from 300 ms or 300 KB;
// low below both. Plain values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/json.h"

namespace qm::model {

enum class ImpactLevel { high, medium, low, not_measured };

// Which records measured it.
enum class MeasuredBy {
    nothing,
    sign_in_records,  // Windows' records of what ran after a sign-in
    boot_log,         // Windows' boot-performance log
    systemd,          // the times systemd keeps for the current boot
};

struct Impact {
    ImpactLevel level = ImpactLevel::not_measured;
    std::optional<std::uint64_t> processor_ms;
    std::optional<std::uint64_t> disk_bytes;
    std::optional<std::uint64_t> delay_ms;
    std::uint32_t measured = 0;  // the sign-ins or boots the figures are averaged over
    MeasuredBy source = MeasuredBy::nothing;
};

[[nodiscard]] ImpactLevel impact_level(std::optional<std::uint64_t> processor_ms,
                                       std::optional<std::uint64_t> disk_bytes, std::optional<std::uint64_t> delay_ms);

// An impact from per-start figures; not measured when `measured` is 0 or no
// figure is known.
[[nodiscard]] Impact measured_impact(MeasuredBy source, std::uint32_t measured,
                                     std::optional<std::uint64_t> processor_ms, std::optional<std::uint64_t> disk_bytes,
                                     std::optional<std::uint64_t> delay_ms);

[[nodiscard]] std::string_view word_text(ImpactLevel level);
[[nodiscard]] std::string_view word_text(MeasuredBy source);

// {"level", and when measured "measured", "source" and each known figure as
// "processor_ms", "disk_bytes", "delay_ms"}.
[[nodiscard]] json::JsonValue impact_json(const Impact& impact);

// The reason an assessment gives, e.g. "In the last 4 sign-ins it used 1.4 s
// of processor time and read 12 MB: high impact"; empty when not measured.
[[nodiscard]] std::string impact_reason(const Impact& impact);

// "450 ms", "1.4 s"; "300 KB", "12 MB" (1,024-based, as Windows counts).
[[nodiscard]] std::string duration_text(std::uint64_t ms);
[[nodiscard]] std::string size_text(std::uint64_t bytes);

}  // namespace qm::model
