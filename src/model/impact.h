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
#include <utility>
#include <vector>

#include "json/json.h"
#include "model/start_figures.h"
#include "model/words.h"

namespace qm::model {

struct Impact {
    ImpactLevel level = ImpactLevel::not_measured;
    std::optional<std::uint64_t> processor_ms;
    std::optional<std::uint64_t> disk_bytes;
    std::optional<std::uint64_t> delay_ms;
    std::uint32_t measured = 0;  // the sign-ins or boots the figures are averaged over
    MeasuredBy source = MeasuredBy::nothing;
    // When it began to start in the last start measured, counted from that
    // start's beginning (the sign-in, or the kernel's start), where the
    // records say so: the timeline of the last start places it there.
    std::optional<std::uint64_t> started_ms;
};

// What the records say about starting as a whole: whether anything can be
// measured here and from which records, and the last start the timeline
// draws (a boot or a sign-in).
struct StartupCost {
    bool measurable = false;           // some records could be read here
    std::vector<std::string> sources;  // one sentence per kind of record: what was read, or why nothing
    std::string last_start;            // "boot" or "sign-in"; empty when none is known
    std::string when;                  // when it happened, as the records give it; may be empty
    std::optional<std::uint64_t> total_ms;
    // A boot's phases in order ("firmware", "loader", "kernel", "initrd",
    // "userspace"), those known.
    std::vector<std::pair<std::string, std::uint64_t>> phases_ms;
    // Every sign-in and boot measured, newest first: what a change is
    // compared against.
    std::vector<MeasuredStart> starts;
};

// {"measurable", "sources", and when known "last_start", "when", "total_ms",
// "phases": [{"name", "ms"}]}.
[[nodiscard]] json::JsonValue startup_cost_json(const StartupCost& cost);

[[nodiscard]] ImpactLevel impact_level(std::optional<std::uint64_t> processor_ms,
                                       std::optional<std::uint64_t> disk_bytes, std::optional<std::uint64_t> delay_ms);

// An impact from per-start figures; not measured when `measured` is 0 or no
// figure is known.
[[nodiscard]] Impact measured_impact(MeasuredBy source, std::uint32_t measured,
                                     std::optional<std::uint64_t> processor_ms, std::optional<std::uint64_t> disk_bytes,
                                     std::optional<std::uint64_t> delay_ms);

// {"level", and when measured "measured", "source" and each known figure as
// "processor_ms", "disk_bytes", "delay_ms", "started_ms"}.
[[nodiscard]] json::JsonValue impact_json(const Impact& impact);

// The reason an assessment gives, e.g. "In the last 4 sign-ins it used 1.4 s
// of processor time and read 12 MB: high impact"; empty when not measured.
[[nodiscard]] std::string impact_reason(const Impact& impact);

// "450 ms", "1.4 s"; "300 KB", "12 MB" (1,024-based, as Windows counts).
[[nodiscard]] std::string duration_text(std::uint64_t ms);
[[nodiscard]] std::string size_text(std::uint64_t bytes);

}  // namespace qm::model
