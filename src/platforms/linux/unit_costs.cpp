#include "platforms/linux/unit_costs.h"

#include <time.h>

#include "util/time_text.h"

namespace qm::linux {
namespace {

// One call lists every unit; past this many names the command line would
// only grow without end for a computer nobody has.
constexpr std::size_t max_units_asked = 4096;

// When this boot began: the clock now, less the time since the kernel
// started (suspended time included, as the wall clock counts it).
std::optional<std::int64_t> boot_began() {
    timespec since_boot{};
    if (::clock_gettime(CLOCK_BOOTTIME, &since_boot) != 0) return std::nullopt;
    return now_unix_seconds() - static_cast<std::int64_t>(since_boot.tv_sec);
}

}  // namespace

BootCosts read_boot_costs(const LinuxContext& context, const std::vector<std::string>& unit_ids) {
    BootCosts costs;
    if (!context.systemd_running) {
        costs.note = "Start times are not measurable here: systemd is not running.";
        return costs;
    }
    const os::RunOutput manager =
        context.runner(os::ToolRun{"systemctl", {"show", "-p", std::string(formats::boot_timing_properties)}, {}, 20});
    if (!manager.succeeded()) {
        costs.note = "Start times are not measurable here: systemctl did not say how long the boot took.";
        return costs;
    }
    costs.phases = formats::read_boot_phases(manager.out);
    costs.boot_began = boot_began();
    if (!unit_ids.empty()) {
        std::vector<std::string> arguments = {"show", "-p", std::string(formats::unit_timing_properties), "--"};
        for (std::size_t i = 0; i < unit_ids.size() && i < max_units_asked; ++i) arguments.push_back(unit_ids[i]);
        const os::RunOutput units = context.runner(os::ToolRun{"systemctl", std::move(arguments), {}, 30});
        if (units.succeeded()) {
            for (formats::UnitTiming& timing : formats::read_unit_timings(units.out)) {
                const std::string id = timing.id;
                costs.units.emplace(id, std::move(timing));
            }
        }
    }
    costs.measured = true;
    const std::optional<std::uint64_t> total = costs.phases.total_us();
    costs.note =
        total ? "Start times of this boot read from systemd; the boot took " + model::duration_text(*total / 1000) + "."
              : "Start times of this boot read from systemd; the boot has not finished yet.";
    return costs;
}

void apply_boot_costs(const BootCosts& costs, std::vector<model::StartupItem>& items) {
    if (!costs.measured) return;
    for (model::StartupItem& item : items) {
        if (item.kind != model::ItemKind::systemd) continue;
        const auto timing = costs.units.find(item.spec_value("unit"));
        if (timing == costs.units.end() || !timing->second.duration_us) continue;
        item.impact = model::measured_impact(model::MeasuredBy::systemd, 1, std::nullopt, std::nullopt,
                                             *timing->second.duration_us / 1000);
        if (item.impact.level != model::ImpactLevel::not_measured && timing->second.start_us)
            item.impact.started_ms = *timing->second.start_us / 1000;
    }
}

model::StartupCost startup_cost_summary(const BootCosts& costs) {
    model::StartupCost cost;
    cost.measurable = costs.measured;
    if (!costs.note.empty()) cost.sources.push_back(costs.note);
    if (!costs.measured) return cost;
    cost.last_start = "boot";
    if (const std::optional<std::uint64_t> total = costs.phases.total_us()) {
        cost.total_ms = *total / 1000;
        cost.starts.push_back({model::StartKind::boot, costs.boot_began, *cost.total_ms});
    }
    const std::pair<const char*, const std::optional<std::uint64_t>*> phases[] = {
        {"firmware", &costs.phases.firmware_us},   {"loader", &costs.phases.loader_us},
        {"kernel", &costs.phases.kernel_us},       {"initrd", &costs.phases.initrd_us},
        {"userspace", &costs.phases.userspace_us},
    };
    for (const auto& [name, us] : phases) {
        if (*us) cost.phases_ms.emplace_back(name, **us / 1000);
    }
    return cost;
}

}  // namespace qm::linux
