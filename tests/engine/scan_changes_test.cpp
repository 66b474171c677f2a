#include <gtest/gtest.h>

#include "engine/change_causes.h"
#include "engine/scan_changes.h"
#include "os/files.h"
#include "support/run_program.h"

namespace qm {
namespace {

using model::ItemChange;

model::StartupItem run_value(std::string name, bool enabled = true, std::string command = "app.exe") {
    model::StartupItem item(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user, "HKCU\\Run\\64",
                            std::move(name));
    item.enabled = enabled;
    item.command = std::move(command);
    return item;
}

engine::JournalRecord record(std::uint64_t seq, model::ChangeAction action, const std::string& id,
                             std::uint64_t of = 0) {
    engine::JournalRecord r;
    r.seq = seq;
    r.action = action;
    r.id = id;
    r.ok = true;
    r.of = of;
    return r;
}

std::vector<std::pair<std::string, ItemChange>> marks(const engine::ScanChanges& changes) {
    std::vector<std::pair<std::string, ItemChange>> out;
    for (const engine::FoundChange& change : changes.changes) out.emplace_back(change.name, change.change);
    return out;
}

// Every kind of change from one scan to the next, and what the journal says
// about the items the user switched off or on.
TEST(ScanChanges, EachKindOfChangeIsFoundAgainstTheScanBefore) {
    const std::string updater = run_value("Updater").id();
    const std::string chat = run_value("Chat").id();
    const engine::JournalQuery journal({record(1, model::ChangeAction::disable, updater),
                                        record(2, model::ChangeAction::disable, chat),
                                        record(3, model::ChangeAction::undo, chat, 2),
                                        record(4, model::ChangeAction::enable, run_value("Mine").id())});
    const engine::ScanChanges first =
        engine::compare_scans(std::nullopt,
                              {run_value("Updater", false), run_value("Chat"), run_value("Tool"), run_value("Old"),
                               run_value("Quiet", false), run_value("Mine", false)},
                              journal, {}, "2026-12-02 10:00:00");
    EXPECT_TRUE(first.changes.empty());  // the first scan has nothing to compare with

    const std::vector<model::StartupItem> now = {run_value("Updater"), run_value("Chat"),
                                                 run_value("Tool", true, "tool.exe --tray"), run_value("Fresh"),
                                                 run_value("Muted"), run_value("Quiet"), run_value("Mine")};
    const engine::ScanChanges second =
        engine::compare_scans(first, now, journal, {run_value("Muted").id()}, "2026-12-03 09:00:00");
    EXPECT_EQ(marks(second), (std::vector<std::pair<std::string, ItemChange>>{{"Updater", ItemChange::came_back},
                                                                             {"Tool", ItemChange::command_changed},
                                                                             {"Fresh", ItemChange::added},
                                                                             {"Quiet", ItemChange::switched_on},
                                                                             {"Old", ItemChange::gone}}));

    // A change found keeps its time while it holds; one that no longer holds
    // (the updater off again) is dropped, and a gone item stays gone.
    std::vector<model::StartupItem> later = now;
    later[0].enabled = false;
    const engine::ScanChanges third = engine::compare_scans(second, later, journal, {}, "2026-12-04 09:00:00");
    EXPECT_EQ(marks(third), (std::vector<std::pair<std::string, ItemChange>>{{"Tool", ItemChange::command_changed},
                                                                            {"Fresh", ItemChange::added},
                                                                            {"Quiet", ItemChange::switched_on},
                                                                            {"Old", ItemChange::gone}}));
    for (const engine::FoundChange& change : third.changes) EXPECT_EQ(change.found, "2026-12-03 09:00:00");
}

// Acknowledged changes are not shown again, even an item that came back and
// stays on; ignoring an item forgets its changes; a damaged file starts over.
TEST(ScanChanges, AcknowledgedAndIgnoredChangesStayQuiet) {
    const std::string root = test::make_scratch_folder("scan-changes");
    const model::DataFolder folder = model::data_folder_override(root);
    const std::string updater = run_value("Updater").id();
    const engine::JournalQuery journal({record(1, model::ChangeAction::disable, updater)});

    EXPECT_TRUE(engine::note_scan(folder, {run_value("Updater", false)}, journal).empty());
    EXPECT_EQ(engine::note_scan(folder, {run_value("Updater"), run_value("Fresh")}, journal).size(), 2u);
    ASSERT_EQ(engine::acknowledge_changes(folder, {updater}).value(), 1u);
    const std::vector<engine::FoundChange> left =
        engine::note_scan(folder, {run_value("Updater"), run_value("Fresh")}, journal);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].name, "Fresh");

    ASSERT_TRUE(engine::set_ignored(folder, run_value("Fresh").id(), true).has_value());
    EXPECT_TRUE(engine::note_scan(folder, {run_value("Updater"), run_value("Fresh")}, journal).empty());
    EXPECT_EQ(engine::read_ignored(folder), std::vector<std::string>{run_value("Fresh").id()});

    ASSERT_TRUE(os::write_file_replace(os::join_path(root, std::string(engine::scan_changes_file_name)), "{broken")
                    .has_value());
    EXPECT_TRUE(engine::note_scan(folder, {run_value("Other")}, journal).empty());
    EXPECT_EQ(engine::read_scan_changes(folder)->items.size(), 1u);
    (void)os::remove_tree(root);
}


// The cause named for an item written at 10:00 from what ran before it:
// a tie (package, program folder, publisher) and a time are both needed.
TEST(ChangeCauses, ACauseNeedsBothATieAndATime) {
    constexpr std::int64_t at = 1'800'000'000;
    model::StartupItem item = run_value("Vendorly");
    item.exe = "C:\\Program Files (x86)\\Vendorly\\App\\app.exe";
    item.publisher = "Vendorly Inc";
    item.changed = {at, "the Run value was written"};
    auto task = [](std::string exe, std::string publisher, std::int64_t time) {
        return model::ChangeActor{model::ActorKind::task, "VendorlyUpdate", "task|machine|x|VendorlyUpdate",
                                  std::move(exe), std::move(publisher), "", time};
    };
    const std::string same_folder = "C:\\Program Files\\Vendorly\\Update\\update.exe";
    struct Case {
        std::string what;
        model::ChangeActor actor;
        std::string expected;  // "" when no cause may be named
    };
    const std::vector<Case> cases = {
        {"same vendor folder, 2 minutes before", task(same_folder, "", at - 120),
         "likely: VendorlyUpdate ran 2 minutes before the Run value was written; it runs from the same program "
         "folder as Vendorly."},
        {"same folder, a few seconds after", task(same_folder, "", at + 20),
         "likely: VendorlyUpdate ran at about the time the Run value was written; it runs from the same program "
         "folder as Vendorly."},
        {"same folder, an hour before", task(same_folder, "", at - 3700),
         "possibly: VendorlyUpdate ran 1 hour 1 minute before the Run value was written; it runs from the same "
         "program folder as Vendorly."},
        {"publisher only", task("C:\\Tools\\u.exe", "VENDORLY INC", at - 60),
         "possibly: VendorlyUpdate ran 1 minute before the Run value was written; it comes from the same "
         "publisher, Vendorly Inc."},
        {"same folder, a day before", task(same_folder, "", at - 86400), ""},
        {"same folder, long after", task(same_folder, "", at + 600), ""},
        {"no tie", task("C:\\Windows\\System32\\svchost.exe", "Other", at - 60), ""},
        {"installer into the folder",
         {model::ActorKind::installer, "Vendorly Setup", "", "C:\\Program Files\\Vendorly\\", "", "", at - 30},
         "likely: Vendorly Setup was installed less than a minute before the Run value was written; it was "
         "installed into the same program folder as Vendorly."},
    };
    for (const Case& c : cases) {
        const std::optional<model::ChangeCause> cause = engine::likely_cause(item, {c.actor});
        const std::string got = cause ? std::string(cause->likely ? "likely: " : "possibly: ") + cause->why : "";
        EXPECT_EQ(got, c.expected) << c.what;
    }
    // The item's own program replaced just before; no time of the entry, no cause.
    item.exe_time = at - 90;
    EXPECT_EQ(engine::likely_cause(item, {})->kind, model::ActorKind::program);
    item.changed.time = 0;
    EXPECT_FALSE(engine::likely_cause(item, {task(same_folder, "", at - 120)}));

    EXPECT_EQ(engine::program_family("/opt/vendorly/bin/app"), "vendorly");
    EXPECT_EQ(engine::program_family("C:\\Users\\u\\AppData\\Local\\Programs\\Vendorly\\a.exe"), "vendorly");
    EXPECT_EQ(engine::program_family("/usr/bin/app"), "");
}

}  // namespace
}  // namespace qm
