// Start times of system units from a stand-in systemctl answering recorded
// `show` output: one call for the manager and one for every unit, units
// that took time get their level, and without systemd nothing is measured.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/platform.h"
#include "platforms/linux/unit_costs.h"

namespace qm::linux {
namespace {

model::StartupItem unit(std::string name, model::ItemKind kind = model::ItemKind::systemd) {
    model::StartupItem item(kind, "Service", model::Scope::machine, "/etc/systemd/system", name);
    item.set_spec("unit", name);
    return item;
}

TEST(UnitCosts, OneShowCallForAllUnitsGivesTheirStartTimes) {
    std::vector<std::vector<std::string>> calls;
    LinuxContext context;
    context.systemd_running = true;
    context.runner = [&](const os::ToolRun& run) {
        calls.push_back(run.arguments);
        os::RunOutput output;
        output.exit_code = 0;
        output.out = run.arguments.size() == 3
                         ? "FirmwareTimestampMonotonic=0\nLoaderTimestampMonotonic=0\nInitRDTimestampMonotonic=0\n"
                           "UserspaceTimestampMonotonic=1200000\nFinishTimestampMonotonic=9200000\n"
                         : "Id=slow.service\nInactiveExitTimestampMonotonic=2000000\nActiveEnterTimestampMonotonic="
                           "4500000\n\nId=quick.service\nInactiveExitTimestampMonotonic=2000000\n"
                           "ActiveEnterTimestampMonotonic=2040000\n\nId=idle.service\n"
                           "InactiveExitTimestampMonotonic=0\nActiveEnterTimestampMonotonic=0\n";
        return output;
    };
    std::vector<model::StartupItem> items = {unit("slow.service"), unit("quick.service"), unit("idle.service"),
                                             unit("slow.service", model::ItemKind::systemd_user)};
    const BootCosts costs = read_boot_costs(context, {"slow.service", "quick.service", "idle.service"});
    apply_boot_costs(costs, items);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].size(), 7u);  // show -p PROPERTIES -- and the three units
    EXPECT_NE(costs.note.find("9.2 s"), std::string::npos) << costs.note;
    EXPECT_EQ(items[0].impact.level, model::ImpactLevel::high);
    EXPECT_EQ(items[0].impact.delay_ms, 2500u);
    EXPECT_EQ(items[0].impact.started_ms, 2000u);  // where the timeline places it
    const model::StartupCost summary = startup_cost_summary(costs);
    EXPECT_TRUE(summary.measurable);
    EXPECT_EQ(summary.last_start, "boot");
    EXPECT_EQ(summary.total_ms, 9200u);
    EXPECT_EQ(summary.phases_ms.back(), (std::pair<std::string, std::uint64_t>{"userspace", 8000}));
    EXPECT_EQ(items[1].impact.level, model::ImpactLevel::low);
    EXPECT_EQ(items[2].impact.level, model::ImpactLevel::not_measured);
    EXPECT_EQ(items[3].impact.level, model::ImpactLevel::not_measured);

    context.systemd_running = false;
    calls.clear();
    const BootCosts none = read_boot_costs(context, {"slow.service"});
    EXPECT_FALSE(none.measured);
    EXPECT_TRUE(calls.empty());
    EXPECT_NE(none.note.find("not running"), std::string::npos);
    EXPECT_EQ(model::startup_cost_probe(startup_cost_summary(none)).detail.rfind("Not measurable here.", 0), 0u);
}

}  // namespace
}  // namespace qm::linux
