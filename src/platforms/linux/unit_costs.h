// How long systemd units took to start in the current boot, and the boot's
// own phases, asked of the running systemd: one `systemctl show` call for
// every system unit listed and one for the manager, never one per unit.
// Without a running systemd nothing is measured and the note says so; user
// units (started at each sign-in, not at boot) are not measured.
// Thread-safe (no shared state).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "formats/unit_timings.h"
#include "model/startup_item.h"
#include "platforms/linux/linux_system.h"

namespace qm::linux {

struct BootCosts {
    bool measured = false;
    std::string note;  // what was read, or why nothing could be
    formats::BootPhases phases;
    std::map<std::string, formats::UnitTiming> units;  // by unit id
    std::optional<std::int64_t> boot_began;             // seconds since 1970 (UTC), when measured
};

[[nodiscard]] BootCosts read_boot_costs(const LinuxContext& context, const std::vector<std::string>& unit_ids);

// Gives each system unit that took measurable time to start its impact,
// placed on this boot's timeline when its start is known.
void apply_boot_costs(const BootCosts& costs, std::vector<model::StartupItem>& items);

// This boot as a whole: its phases and length, or why it cannot be measured.
[[nodiscard]] model::StartupCost startup_cost_summary(const BootCosts& costs);

}  // namespace qm::linux
