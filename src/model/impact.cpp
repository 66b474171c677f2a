#include "model/impact.h"

#include <algorithm>
#include <cstdio>

namespace qm::model {
namespace {

constexpr std::uint64_t high_time_ms = 1000;
constexpr std::uint64_t medium_time_ms = 300;
constexpr std::uint64_t high_disk_bytes = 3u << 20;
constexpr std::uint64_t medium_disk_bytes = 300u << 10;

// One decimal below ten units and none above, as people say sizes and times.
std::string in_units(std::uint64_t value, std::uint64_t unit, std::string_view name) {
    char text[48];
    const double units = static_cast<double>(value) / static_cast<double>(unit);
    if (units < 9.95) {
        std::snprintf(text, sizeof text, "%.1f %.*s", units, static_cast<int>(name.size()), name.data());
    } else {
        std::snprintf(text, sizeof text, "%.0f %.*s", units, static_cast<int>(name.size()), name.data());
    }
    return text;
}

}  // namespace

ImpactLevel impact_level(std::optional<std::uint64_t> processor_ms, std::optional<std::uint64_t> disk_bytes,
                         std::optional<std::uint64_t> delay_ms) {
    if (!processor_ms && !disk_bytes && !delay_ms) return ImpactLevel::not_measured;
    const std::uint64_t time = std::max(processor_ms.value_or(0), delay_ms.value_or(0));
    const std::uint64_t disk = disk_bytes.value_or(0);
    if (time > high_time_ms || disk > high_disk_bytes) return ImpactLevel::high;
    if (time >= medium_time_ms || disk >= medium_disk_bytes) return ImpactLevel::medium;
    return ImpactLevel::low;
}

Impact measured_impact(MeasuredBy source, std::uint32_t measured, std::optional<std::uint64_t> processor_ms,
                       std::optional<std::uint64_t> disk_bytes, std::optional<std::uint64_t> delay_ms) {
    Impact impact;
    if (measured == 0 || source == MeasuredBy::nothing) return impact;
    impact.level = impact_level(processor_ms, disk_bytes, delay_ms);
    if (impact.level == ImpactLevel::not_measured) return impact;
    impact.processor_ms = processor_ms;
    impact.disk_bytes = disk_bytes;
    impact.delay_ms = delay_ms;
    impact.measured = measured;
    impact.source = source;
    return impact;
}

json::JsonValue impact_json(const Impact& impact) {
    json::ObjectBuilder out;
    out.string("level", std::string(word_text(impact.level)));
    if (impact.level == ImpactLevel::not_measured) return out.done();
    out.count("measured", impact.measured).string("source", std::string(word_text(impact.source)));
    if (impact.processor_ms) out.count("processor_ms", *impact.processor_ms);
    if (impact.disk_bytes) out.count("disk_bytes", *impact.disk_bytes);
    if (impact.delay_ms) out.count("delay_ms", *impact.delay_ms);
    if (impact.started_ms) out.count("started_ms", *impact.started_ms);
    return out.done();
}

json::JsonValue startup_cost_json(const StartupCost& cost) {
    json::ObjectBuilder out;
    out.flag("measurable", cost.measurable).strings("sources", cost.sources);
    if (!cost.last_start.empty()) out.string("last_start", cost.last_start);
    if (!cost.when.empty()) out.string("when", cost.when);
    if (cost.total_ms) out.count("total_ms", *cost.total_ms);
    if (!cost.phases_ms.empty()) {
        json::JsonValue phases = json::JsonValue::array();
        for (const auto& [name, ms] : cost.phases_ms)
            phases.as_array().push_back(json::ObjectBuilder().string("name", name).count("ms", ms).done());
        out.value("phases", std::move(phases));
    }
    return out.done();
}

std::string duration_text(std::uint64_t ms) {
    if (ms < 1000) return std::to_string(ms) + " ms";
    return in_units(ms, 1000, "s");
}

std::string size_text(std::uint64_t bytes) {
    if (bytes < (1u << 20)) return std::to_string((bytes + 512) >> 10) + " KB";
    return in_units(bytes, 1u << 20, "MB");
}

std::string impact_reason(const Impact& impact) {
    if (impact.level == ImpactLevel::not_measured) return {};
    const bool boots = impact.source != MeasuredBy::sign_in_records;
    const std::string starts = boots ? "boot" : "sign-in";
    std::string text;
    if (impact.source == MeasuredBy::systemd) {
        text = "In this boot";
    } else if (impact.measured == 1) {
        text = "In the last " + starts;
    } else {
        text = "In the last " + std::to_string(impact.measured) + " " + starts + "s";
    }
    std::string figures;
    if (impact.processor_ms) figures = "used " + duration_text(*impact.processor_ms) + " of processor time";
    if (impact.disk_bytes) figures += (figures.empty() ? "read " : " and read ") + size_text(*impact.disk_bytes);
    if (impact.delay_ms) {
        const std::string delay = impact.source == MeasuredBy::systemd
                                      ? "took " + duration_text(*impact.delay_ms) + " to start"
                                      : "delayed the start by " + duration_text(*impact.delay_ms);
        figures += (figures.empty() ? "" : " and ") + delay;
    }
    return text + " it " + figures + ": " + std::string(word_text(impact.level)) + " impact";
}

}  // namespace qm::model
