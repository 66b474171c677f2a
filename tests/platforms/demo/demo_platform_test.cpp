#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <thread>

#include "platforms/demo/demo_platform.h"

namespace qm {
namespace {

const model::StartupItem& find_item(const std::vector<model::StartupItem>& items, std::string_view id) {
    auto it = std::find_if(items.begin(), items.end(), [&](const model::StartupItem& i) { return i.id() == id; });
    EXPECT_NE(it, items.end()) << id;
    return *it;
}

bool lists_program(const model::ProgramList& list, std::string_view id) {
    return std::any_of(list.items.begin(), list.items.end(), [&](const model::Candidate& c) { return c.id == id; });
}

TEST(DemoPlatform, ScanHasTheInventedComputerInItsOrder) {
    demo::DemoPlatform demo(false);
    model::ScanResult scan = demo.scan();
    ASSERT_EQ(scan.items.size(), 26u);
    EXPECT_EQ(scan.notes, (std::vector<std::string>{
                              "Demonstration data: nothing here is read from, or written to, a real computer."}));
    EXPECT_EQ(scan.items[0].id(), "service|machine|Services|RpcSs");
    EXPECT_EQ(scan.items[0].name, "Remote Procedure Call (RPC)");
    EXPECT_EQ(scan.items[0].dependents.size(), 5u);
    EXPECT_EQ(scan.items[13].id(), "service|machine|Services|AcmeDevServer");
    EXPECT_EQ(scan.items[14].id(), "run|user|HKCU\\Run\\64|OneDrive");
    EXPECT_EQ(scan.items[19].origin, model::Origin::operating_system);  // SecurityHealth lives under C:\Windows
    EXPECT_EQ(scan.items[19].scope, model::Scope::machine);
    EXPECT_EQ(scan.items[17].state_text, "Disabled");  // Steam
    EXPECT_EQ(scan.items[21].id(), "task|machine|\\GoogleUpdateTaskMachineCore|GoogleUpdateTaskMachineCore");
    EXPECT_EQ(scan.items[21].spec_value("uri"), "\\GoogleUpdateTaskMachineCore");
    EXPECT_EQ(scan.items[25].id(),
              "folder|user|C:\\Users\\tamsel\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup|Acme "
              "Screenshot.lnk");
    EXPECT_EQ(scan.items[25].name, "Acme Screenshot");
    std::set<model::ImpactLevel> levels;
    std::size_t on_the_timeline = 0;
    for (const model::StartupItem& item : scan.items) {
        EXPECT_FALSE(item.spec_value("short").empty()) << item.id();
        EXPECT_EQ(item.toggle, model::Toggle::ok);
        levels.insert(item.impact.level);
        on_the_timeline += item.impact.started_ms ? 1 : 0;
        if (!item.enabled) {
            EXPECT_EQ(item.impact.level, model::ImpactLevel::not_measured) << item.id();
        }
    }
    // Every level can be seen, and the last sign-in drawn.
    EXPECT_EQ(levels.size(), 4u);
    EXPECT_GE(on_the_timeline, 5u);
    EXPECT_TRUE(scan.cost.measurable);
    EXPECT_EQ(scan.cost.last_start, "sign-in");

    demo::DemoPlatform with_markup(true);
    model::ScanResult marked = with_markup.scan();
    ASSERT_EQ(marked.items.size(), 27u);
    EXPECT_EQ(marked.items.back().name, "<img src=x onerror=\"window.__pwned=1\">Evil");
    EXPECT_EQ(marked.items.back().publisher, "<b>Bad Inc</b>");
}

TEST(DemoPlatform, SwitchingFollowsTheKindOfItem) {
    demo::DemoPlatform demo(false);
    std::vector<model::StartupItem> items = demo.scan().items;

    Result<model::ChangeOutcome> on =
        demo.set_enabled(find_item(items, "service|machine|Services|wuauserv"), true, false);
    ASSERT_TRUE(on.has_value());
    EXPECT_EQ(on->message, "Windows Update will start with Windows (demonstration only).");
    ASSERT_TRUE(demo.set_enabled(find_item(items, "service|machine|Services|OemPanelHost"), false, true));
    ASSERT_TRUE(demo.set_enabled(find_item(items, "run|user|HKCU\\Run\\64|Spotify"), false, true));

    std::vector<model::StartupItem> after = demo.scan().items;
    const model::StartupItem& update = find_item(after, "service|machine|Services|wuauserv");
    EXPECT_TRUE(update.enabled && update.running);
    EXPECT_EQ(update.state_text, "Automatic");
    const model::StartupItem& panel = find_item(after, "service|machine|Services|OemPanelHost");
    EXPECT_FALSE(panel.enabled || panel.running);
    EXPECT_EQ(panel.state_text, "Disabled");
    const model::StartupItem& spotify = find_item(after, "run|user|HKCU\\Run\\64|Spotify");
    EXPECT_FALSE(spotify.enabled);
    EXPECT_EQ(spotify.state_text, "Disabled");
}

TEST(DemoPlatform, OwnEntriesComeAndGoAndHideTheirProgramFromCandidates) {
    demo::DemoPlatform demo(false);
    EXPECT_TRUE(lists_program(demo.installed_programs(demo.scan().items), "app|vlc"));

    model::CreateDetails details{"VLC",
                                 "\"C:\\Program Files\\VideoLAN\\VLC\\vlc.exe\"",
                                 "C:\\Program Files\\VideoLAN\\VLC\\vlc.exe",
                                 "",
                                 "login",
                                 "",
                                 ""};
    Result<model::CreatedEntry> created = demo.create_entry(details, true);
    ASSERT_TRUE(created.has_value());
    EXPECT_EQ(created->item.id(), "run|user|HKCU\\Run\\64|Quillmoor-VLC");
    EXPECT_TRUE(created->item.managed && created->item.enabled);
    EXPECT_EQ(created->item.spec_value("mode"), "login");
    EXPECT_EQ(created->item.risk.level, model::Level::safe);
    EXPECT_FALSE(created->outcome.message.empty());

    std::vector<model::StartupItem> items = demo.scan().items;
    EXPECT_EQ(items.size(), 27u);
    EXPECT_FALSE(lists_program(demo.installed_programs(items), "app|vlc"));

    Result<model::ChangeOutcome> removed = demo.remove_entry(created->item);
    ASSERT_TRUE(removed.has_value());
    EXPECT_EQ(removed->message, "Removed Quillmoor-VLC (demonstration only).");
    items = demo.scan().items;
    EXPECT_TRUE(lists_program(demo.installed_programs(items), "app|vlc"));

    // Gone items cannot be switched or removed again.
    EXPECT_EQ(demo.remove_entry(created->item).error(), "The item was not found.");
    EXPECT_EQ(demo.set_enabled(created->item, false, false).error(), "The item was not found.");

    model::CreateDetails boot{
        "Acme dev server", "node server.js", "C:\\Program Files\\nodejs\\node.exe", "", "boot", "", ""};
    Result<model::CreatedEntry> task = demo.create_entry(boot, true);
    ASSERT_TRUE(task.has_value());
    EXPECT_EQ(task->item.id(), "task|machine|\\Quillmoor\\Acme dev server|Acme dev server");
    EXPECT_EQ(task->item.spec_value("uri"), "\\Quillmoor\\Acme dev server");
    EXPECT_EQ(task->item.state_text, "Enabled (runs at boot)");
}

TEST(DemoPlatform, RunningProgramsEndWithTheOnDemandService) {
    demo::DemoPlatform demo(false);
    model::ProgramList none = demo.running_programs({});
    ASSERT_EQ(none.items.size(), 6u);
    EXPECT_EQ(none.items.back().id, "svc|wuauserv");
    EXPECT_EQ(none.items[0].workdir, "C:\\Program Files\\Mozilla Firefox");
    EXPECT_EQ(none.items[0].command, "\"C:\\Program Files\\Mozilla Firefox\\firefox.exe\"");
    EXPECT_TRUE(none.items[0].modes[0].recommended);
    EXPECT_FALSE(none.items[4].modes[0].recommended);  // Explorer is part of the system
    for (std::size_t i = 0; i + 1 < none.items.size(); ++i) EXPECT_EQ(none.items[i].entry_id, "");

    // A program that an item already starts is left out, matched without regard to case.
    model::StartupItem firefox(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user, "HKCU\\Run\\64",
                               "Firefox");
    firefox.exe = "c:\\program files\\MOZILLA FIREFOX\\firefox.exe";
    model::ProgramList filtered = demo.running_programs({firefox});
    EXPECT_FALSE(lists_program(filtered, "proc|firefox"));
    EXPECT_EQ(filtered.items.back().id, "svc|wuauserv");
    EXPECT_EQ(filtered.items.back().modes.size(), 1u);
}

TEST(DemoPlatform, FixedAnswersForFactsElevationBrowserAndProbes) {
    demo::DemoPlatform demo(false);
    model::SystemFacts facts = demo.system_facts();
    EXPECT_TRUE(facts.admin && facts.demo);
    EXPECT_EQ(facts.host, "DEMO-PC");
    EXPECT_EQ(demo.restart_elevated({"serve"}).error(),
              "The demonstration is already shown with administrator rights.");
    demo.open_in_browser("http://127.0.0.1:1/");
    ASSERT_EQ(demo.doctor_probes().size(), 2u);
    EXPECT_EQ(demo.doctor_probes()[0].status, model::ProbeStatus::ok);
    EXPECT_EQ(demo.doctor_probes()[1].name, "Startup cost");
    EXPECT_EQ(demo.doctor_probes()[1].status, model::ProbeStatus::ok);
    EXPECT_EQ(demo.scan().items.size(), 26u);
}

TEST(DemoPlatform, ConcurrentChangesNeverShowHalfAChange) {
    demo::DemoPlatform demo(false);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&demo, t] {
            for (int i = 0; i < 200; ++i) {
                model::CreateDetails details{
                    "n" + std::to_string(t) + "-" + std::to_string(i), "x", "x", "", "login", "", ""};
                Result<model::CreatedEntry> created = demo.create_entry(details, true);
                if (created) (void)demo.remove_entry(created->item);
                EXPECT_GE(demo.scan().items.size(), 26u);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(demo.scan().items.size(), 26u);
}

TEST(DemoPlatform, OffersGentlerWaysOnlyWhereTheyFit) {
    demo::DemoPlatform demo(false);
    using enum model::LaterKind;
    const struct {
        std::string_view id;
        bool when_needed;
        model::LaterKind later;
    } expected[] = {
        {"service|machine|Services|RpcSs", false, none},        // critical to Windows
        {"service|machine|Services|WSearch", false, none},      // already delayed
        {"service|machine|Services|wuauserv", false, none},     // already on demand
        {"service|machine|Services|SysMain", true, service},    // a system service that is not critical
        {"service|machine|Services|AcmeDevDb", true, service},  // an installed program's service
        {"run|user|HKCU\\Run\\64|Spotify", false, after_sign_in},
        {"run|user|HKCU\\Run\\64|Steam", false, none},  // off
        {"run|machine|HKLM\\Run\\64|SecurityHealth", false, none},
        {"task|machine|\\GoogleUpdateTaskMachineCore|GoogleUpdateTaskMachineCore", false, none},
    };
    const std::vector<model::StartupItem> items = demo.scan().items;
    for (const auto& row : expected) {
        const model::StartupItem& item = find_item(items, row.id);
        EXPECT_EQ(item.ways.when_needed, row.when_needed) << row.id;
        EXPECT_EQ(item.ways.later, row.later) << row.id;
    }
}

TEST(DemoPlatform, ALaterSignInStartsThroughAnOwnEntryThatTakingItBackRemoves) {
    demo::DemoPlatform demo(false);
    const std::string spotify_id = "run|user|HKCU\\Run\\64|Spotify";
    const model::StartupItem spotify = find_item(demo.scan().items, spotify_id);
    Result<model::WayOutcome> later = demo.set_start_way(spotify, {model::ChangeAction::later, 300, nullptr});
    ASSERT_TRUE(later.has_value()) << later.error();
    EXPECT_EQ(later->outcome.message, "Spotify will start 5 minutes after sign-in (demonstration only).");

    std::vector<model::StartupItem> items = demo.scan().items;
    ASSERT_EQ(items.size(), 27u);
    const model::StartupItem own = find_item(items, later->own_entry);
    EXPECT_EQ(own.id(), "task|user|\\Quillmoor\\Quillmoor-later-Spotify|Quillmoor-later-Spotify");
    EXPECT_TRUE(own.managed && own.enabled);
    EXPECT_EQ(own.origin, model::Origin::own_entry);
    EXPECT_EQ(own.command, spotify.command);
    EXPECT_EQ(own.state_text, "Starts Spotify 5 minutes after sign-in");
    EXPECT_EQ(own.ways.delays, spotify_id);
    EXPECT_EQ(own.ways.taken_seconds, 300u);
    EXPECT_FALSE(find_item(items, spotify_id).enabled);
    EXPECT_EQ(find_item(items, spotify_id).ways.later, model::LaterKind::after_sign_in);  // still offered, to take back

    Result<model::WayOutcome> back = demo.set_start_way(spotify, {model::ChangeAction::on_time, 0, &own});
    ASSERT_TRUE(back.has_value()) << back.error();
    items = demo.scan().items;
    EXPECT_EQ(items.size(), 26u);
    EXPECT_TRUE(find_item(items, spotify_id).enabled);
    EXPECT_EQ(find_item(items, spotify_id).state_text, "Enabled");
}

TEST(DemoPlatform, AServiceTakesItsWayInItsStartTypeAndGivesItBack) {
    demo::DemoPlatform demo(false);
    const model::StartupItem sysmain = find_item(demo.scan().items, "service|machine|Services|SysMain");
    const struct {
        model::ChangeAction way;
        std::string_view state;
        bool enabled;
        std::optional<model::ChangeAction> taken;
    } steps[] = {
        {model::ChangeAction::when_needed, "Manual (on demand)", false, model::ChangeAction::when_needed},
        {model::ChangeAction::on_time, "Automatic", true, std::nullopt},
        {model::ChangeAction::later, "Automatic (delayed)", true, model::ChangeAction::later},
        {model::ChangeAction::on_time, "Automatic", true, std::nullopt},
    };
    for (const auto& step : steps) {
        ASSERT_TRUE(demo.set_start_way(sysmain, {step.way, 0, nullptr}).has_value());
        const model::StartupItem now = find_item(demo.scan().items, sysmain.id());
        EXPECT_EQ(now.state_text, step.state);
        EXPECT_EQ(now.enabled, step.enabled) << step.state;
        EXPECT_EQ(now.ways.taken, step.taken) << step.state;
        EXPECT_TRUE(now.ways.when_needed) << "still offered while taken: " << step.state;
    }
    // Switching it outright leaves no way taken.
    ASSERT_TRUE(demo.set_start_way(sysmain, {model::ChangeAction::when_needed, 0, nullptr}).has_value());
    ASSERT_TRUE(demo.set_enabled(sysmain, true, false).has_value());
    EXPECT_FALSE(find_item(demo.scan().items, sysmain.id()).ways.taken);

    const model::StartupItem task =
        find_item(demo.scan().items, "task|machine|\\GoogleUpdateTaskMachineCore|GoogleUpdateTaskMachineCore");
    EXPECT_FALSE(demo.set_start_way(task, {model::ChangeAction::later, 60, nullptr}).has_value());
}

}  // namespace
}  // namespace qm
