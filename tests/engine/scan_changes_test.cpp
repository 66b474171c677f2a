#include <gtest/gtest.h>

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
// about the items the user switched off.
TEST(ScanChanges, EachKindOfChangeIsFoundAgainstTheScanBefore) {
    const std::string updater = run_value("Updater").id();
    const std::string chat = run_value("Chat").id();
    const engine::JournalQuery journal({record(1, model::ChangeAction::disable, updater),
                                        record(2, model::ChangeAction::disable, chat),
                                        record(3, model::ChangeAction::undo, chat, 2)});
    const engine::ScanChanges first = engine::compare_scans(
        std::nullopt, {run_value("Updater", false), run_value("Chat"), run_value("Tool"), run_value("Old")}, journal,
        {}, "2026-12-02 10:00:00");
    EXPECT_TRUE(first.changes.empty());  // the first scan has nothing to compare with

    const std::vector<model::StartupItem> now = {run_value("Updater"), run_value("Chat"),
                                                 run_value("Tool", true, "tool.exe --tray"), run_value("Fresh"),
                                                 run_value("Muted")};
    const engine::ScanChanges second =
        engine::compare_scans(first, now, journal, {run_value("Muted").id()}, "2026-12-03 09:00:00");
    EXPECT_EQ(marks(second), (std::vector<std::pair<std::string, ItemChange>>{{"Updater", ItemChange::came_back},
                                                                             {"Tool", ItemChange::command_changed},
                                                                             {"Fresh", ItemChange::added},
                                                                             {"Old", ItemChange::gone}}));

    // A change found keeps its time while it holds; one that no longer holds
    // (the updater off again) is dropped, and a gone item stays gone.
    std::vector<model::StartupItem> later = now;
    later[0].enabled = false;
    const engine::ScanChanges third = engine::compare_scans(second, later, journal, {}, "2026-12-04 09:00:00");
    EXPECT_EQ(marks(third), (std::vector<std::pair<std::string, ItemChange>>{{"Tool", ItemChange::command_changed},
                                                                            {"Fresh", ItemChange::added},
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

}  // namespace
}  // namespace qm
