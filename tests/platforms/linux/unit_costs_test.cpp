// Start times of system units from a stand-in systemctl answering recorded
// `show` output: one call for the manager and one for every unit, units
// that took time get their level, and without systemd nothing is measured;
// the same through the real program on a root of its own.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "json/json.h"
#include "model/platform.h"
#include "os/environment.h"
#include "platforms/linux/linux_tree.h"
#include "platforms/linux/unit_costs.h"
#include "support/run_program.h"

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

// A systemctl for a test root whose systemd runs: it answers the recorded
// `show` output of a boot that took 9.2 s and says every unit file is
// enabled, noting each call.
constexpr const char* standin_systemctl = R"(#!/bin/sh
echo "$*" >> "$(dirname "$0")/calls"
case "$*" in
  "show -p Firmware"*) printf 'FirmwareTimestampMonotonic=0\nLoaderTimestampMonotonic=0\nInitRDTimestampMonotonic=0\n'
    printf 'UserspaceTimestampMonotonic=1200000\nFinishTimestampMonotonic=9200000\n' ;;
  "show -p Id,"*) printf 'Id=slow.service\nInactiveExitTimestampMonotonic=2000000\n'
    printf 'ExecMainStartTimestampMonotonic=2100000\nActiveEnterTimestampMonotonic=4500000\n' ;;
  *list-unit-files*) echo "slow.service enabled" ;;
  *list-units*) echo "slow.service loaded active running Slow" ;;
esac
)";

TEST(LinuxProgram, StartTimesComeFromTheSystemctlOfARootWhoseSystemdRuns) {
    test::LinuxTree tree;
    tree.write("/etc/systemd/system/slow.service", test::service_unit("Slow", "/usr/bin/slow", "multi-user.target"));
    tree.link("/etc/systemd/system/multi-user.target.wants/slow.service", "/etc/systemd/system/slow.service");
    tree.write("/etc/xdg/autostart/nm-applet.desktop", "[Desktop Entry]\nName=Network\nExec=nm-applet\n");
    tree.write("/bin/systemctl", standin_systemctl);
    ASSERT_EQ(::chmod(tree.at("/bin/systemctl").c_str(), 0755), 0);
    const std::vector<std::pair<std::string, std::string>> environment{
        {"QUILLMOOR_LINUX_ROOT", tree.root()},
        {"XDG_DATA_HOME", ""},
        {"PATH", tree.at("/bin") + ":" + os::get_env("PATH").value_or("/usr/bin:/bin")}};
    auto slow_impact = [&] {
        const test::ProgramRun listed = test::run_program({"list", "--json"}, environment);
        const Result<json::JsonValue> items = json::parse(listed.out);
        EXPECT_TRUE(items && items->is_array()) << listed.out << listed.err;
        for (const json::JsonValue& item : items ? items->as_array() : std::vector<json::JsonValue>{}) {
            if (json::get_text(item, "name") == "slow.service" || json::get_text(item, "name") == "Slow")
                return json::write(*json::get(item, "impact"));
        }
        return std::string("no such item");
    };

    // Without a running systemd the root's systemctl is never asked.
    EXPECT_EQ(slow_impact(), R"({"level":"not measured"})");
    EXPECT_EQ(tree.read("/bin/calls"), "<missing>");

    ASSERT_TRUE(os::create_folders(tree.at("/run/systemd/system")).has_value());
    EXPECT_EQ(slow_impact(),
              R"({"level":"high","measured":1,"source":"systemd","delay_ms":2500,"started_ms":2000})");
    const test::ProgramRun doctor = test::run_program({"doctor"}, environment);
    EXPECT_NE(doctor.out.find("Startup cost: Start times of this boot read from systemd; the boot took 9.2 s."),
              std::string::npos)
        << doctor.out;

    // A change keeps this boot's length; no boot since it has been measured.
    ASSERT_EQ(test::run_program({"disable", "Network", "--yes"}, environment).exit_code, 0);
    const test::ProgramRun history = test::run_program({"history"}, environment);
    EXPECT_NE(history.out.find("\n                Boot: 9.2 s before (1 measured); none measured since\n"),
              std::string::npos)
        << history.out;
}

}  // namespace
}  // namespace qm::linux
