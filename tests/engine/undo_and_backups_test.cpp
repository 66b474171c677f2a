#include <gtest/gtest.h>

#include "platforms/demo/demo_platform.h"
#include "engine/backups.h"
#include "engine/change_follower.h"
#include "engine/journal.h"
#include "engine/plans.h"
#include "engine/undo.h"
#include "os/files.h"
#include "support/demo_engine.h"
#include "support/fake_platform.h"
#include "support/run_program.h"

namespace qm {
namespace {

engine::ChangeRequest acked(model::ChangeAction action, std::string id) {
    engine::ChangeRequest request;
    request.action = action;
    request.id = std::move(id);
    request.ack = true;
    return request;
}

class UndoAndBackupsTest : public test::DemoEngineTest {
protected:
    UndoAndBackupsTest() : DemoEngineTest("undo") {}

    std::uint64_t last_seq() { return engine::read_journal(engine().data_folder()).back().seq; }
    engine::ChangeResult create_vlc() {
        (void)engine().installed_programs();
        engine::ChangeRequest create;
        create.action = model::ChangeAction::create;
        create.id = "app|vlc";
        create.create.name = "VLC";
        create.create.command = "\"C:\\Program Files\\VideoLAN\\VLC\\vlc.exe\" --started";
        create.create.mode = "login";
        return engine::apply_changes(engine(), {create}).front();
    }
};

TEST_F(UndoAndBackupsTest, UndoReversesADisableOnce) {
    engine::ChangeRequest disable = acked(model::ChangeAction::disable, "service|machine|Services|Spooler");
    ASSERT_TRUE(engine::apply_changes(engine(), {disable}).front().ok);
    const std::uint64_t seq = last_seq();
    EXPECT_EQ(engine::undo_change(engine(), 424242, false).error(), "That entry is not in the history.");
    Result<std::string> undone = engine::undo_change(engine(), seq, false);
    ASSERT_TRUE(undone) << undone.error();
    EXPECT_EQ(*undone, "Print Spooler will start with Windows (demonstration only).");
    EXPECT_TRUE(engine().find_item_by_id("service|machine|Services|Spooler")->enabled);
    EXPECT_EQ(engine::undo_change(engine(), seq, true).error(), "That change was already undone.");
    std::vector<engine::HistoryEntry> history = engine::journal_history(engine().data_folder());
    EXPECT_EQ(history[0].record.action, model::ChangeAction::undo);
    EXPECT_FALSE(history[0].undoable);
    EXPECT_TRUE(history[1].undone);
}

TEST_F(UndoAndBackupsTest, ObservationsAreHistoryThatNothingUndoesOrCountsAsASwitch) {
    const std::string spooler = "service|machine|Services|Spooler";
    ASSERT_TRUE(engine::apply_changes(engine(), {acked(model::ChangeAction::disable, spooler)}).front().ok);
    engine::SeenChange seen;
    seen.change = engine::FoundChange{spooler, "Print Spooler", model::ItemChange::came_back, "2026-01-02 03:04:05", ""};
    seen.kind_label = "Service";
    ASSERT_TRUE(engine::record_observation(engine().data_folder(), seen));
    ASSERT_TRUE(engine::record_observation(engine().data_folder(), seen));  // the same observation is kept once
    const std::vector<engine::HistoryEntry> history = engine::journal_history(engine().data_folder());
    ASSERT_EQ(history.size(), 2U);
    const engine::JournalRecord& observed = history[0].record;
    EXPECT_EQ(observed.action, model::ChangeAction::observed);
    EXPECT_EQ(observed.detail, "came back");
    EXPECT_TRUE(observed.ok);
    EXPECT_FALSE(history[0].undoable);
    EXPECT_TRUE(history[1].undoable);
    // The user's switch off is still the newest word for the item.
    EXPECT_TRUE(engine::switched_off_by_user(engine::JournalQuery(engine().data_folder()), spooler));

    EXPECT_EQ(engine::undo_change(engine(), observed.seq, true).error(), engine::observation_refusal);
    ASSERT_TRUE(engine::undo_change(engine(), history[1].record.seq, true));
    EXPECT_TRUE(engine().find_item_by_id(spooler)->enabled);
}

TEST_F(UndoAndBackupsTest, ALaterStartOnTheDemonstrationKeepsItsOwnEntryAndUndoes) {
    const std::string spotify = "run|user|HKCU\\Run\\64|Spotify";
    engine::ChangeRequest later = acked(model::ChangeAction::later, spotify);
    later.seconds = 120;
    ASSERT_TRUE(engine::apply_changes(engine(), {later}).front().ok);
    const engine::ScanState scan = engine().scan();
    const model::StartupItem* own = nullptr;
    for (const model::StartupItem& item : scan.items) {
        if (item.ways.delays == spotify) own = &item;
    }
    ASSERT_NE(own, nullptr);
    EXPECT_TRUE(own->managed) << "the journal names the entry the change made";
    const std::optional<model::StartupItem> delayed = engine().find_item_by_id(spotify);
    EXPECT_EQ(delayed->ways.own_entry, own->id());
    EXPECT_EQ(delayed->state_text, "Starts 2 minutes after sign-in (through Quillmoor)");

    Result<std::string> undone = engine::undo_change(engine(), last_seq(), false);
    ASSERT_TRUE(undone) << undone.error();
    EXPECT_TRUE(engine().find_item_by_id(spotify)->enabled);
    EXPECT_FALSE(engine().find_item_by_id(own->id()).has_value());
}

TEST_F(UndoAndBackupsTest, UndoOfARemoveAsksThenRecreates) {
    engine::ChangeResult created = create_vlc();
    ASSERT_TRUE(created.ok) << created.message;
    engine::ChangeRequest remove = acked(model::ChangeAction::remove, created.id);
    ASSERT_TRUE(engine::apply_changes(engine(), {remove}).front().ok);
    const std::uint64_t seq = last_seq();
    Result<std::string> asked = engine::undo_change(engine(), seq, false);
    ASSERT_FALSE(asked);
    EXPECT_EQ(asked.error().kind, ErrorKind::needs_decision);
    EXPECT_EQ(asked.error(),
              "It would create \"VLC\" running: \"C:\\Program Files\\VideoLAN\\VLC\\vlc.exe\" --started");
    EXPECT_FALSE(engine().find_item_by_id(created.id).has_value());
    Result<std::string> recreated = engine::undo_change(engine(), seq, true);
    ASSERT_TRUE(recreated) << recreated.error();
    EXPECT_EQ(*recreated, "Recreated Quillmoor-VLC.");
    EXPECT_TRUE(engine().find_item_by_id(created.id).has_value());
}

TEST_F(UndoAndBackupsTest, UndoOfACreateRemovesItAndAGoneItemIsRefused) {
    engine::ChangeResult created = create_vlc();
    ASSERT_TRUE(created.ok);
    const std::uint64_t create_seq = last_seq();
    Result<std::string> removed = engine::undo_change(engine(), create_seq, false);
    ASSERT_TRUE(removed) << removed.error();
    EXPECT_FALSE(engine().find_item_by_id(created.id).has_value());

    engine::JournalRecord ghost;
    ghost.action = model::ChangeAction::disable;
    ghost.id = "run|user|HKCU\\Run\\64|Ghost";
    ghost.ok = true;
    ASSERT_TRUE(engine::append_journal(engine().data_folder(), ghost).has_value());
    EXPECT_EQ(engine::undo_change(engine(), last_seq(), true).error(),
              "Refused: The item was not found; it may have been removed since the last scan.");

    engine::JournalRecord bare;
    bare.action = model::ChangeAction::remove;
    bare.id = "run|user|HKCU\\Run\\64|Quillmoor-bare";
    bare.ok = true;
    ASSERT_TRUE(engine::append_journal(engine().data_folder(), bare).has_value());
    EXPECT_EQ(engine::undo_change(engine(), last_seq(), true).error(),
              "The original command was not recorded, so it cannot be recreated.");
}

TEST_F(UndoAndBackupsTest, AChangeAfterATornJournalLineCanBeUndone) {
    ASSERT_TRUE(
        engine::apply_changes(engine(), {acked(model::ChangeAction::disable, "service|machine|Services|Spooler")})
            .front()
            .ok);
    const std::string journal = os::join_path(engine().data_folder().write_folder, engine::journal_file_name);
    ASSERT_TRUE(os::append_to_file(journal, "{\"seq\":7,\"action\":\"ena").has_value());  // a write cut short

    const std::string steam = "run|user|HKCU\\Run\\64|Steam";
    ASSERT_FALSE(engine().find_item_by_id(steam)->enabled);
    ASSERT_TRUE(engine::apply_changes(engine(), {acked(model::ChangeAction::enable, steam)}).front().ok);
    // The intent, then the record, each on a line of its own.
    EXPECT_NE(os::read_file(journal).value().find("\"ena\n[\"intent\",{\"n\":"), std::string::npos);
    std::vector<engine::HistoryEntry> history = engine::journal_history(engine().data_folder());
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].record.id, steam);
    EXPECT_TRUE(history[0].undoable);

    Result<std::string> undone = engine::undo_change(engine(), history[0].record.seq, true);
    ASSERT_TRUE(undone) << undone.error();
    EXPECT_FALSE(engine().find_item_by_id(steam)->enabled);
    EXPECT_TRUE(engine::journal_history(engine().data_folder())[1].undone);
}

TEST_F(UndoAndBackupsTest, UndosAndBatchesThatFailTheirChecksTakeNoAutomaticBackup) {
    const model::DataFolder& folder = engine().data_folder();
    auto journalled = [&](std::uint64_t seq, model::ChangeAction action, std::string id, bool ok,
                          std::uint64_t of = 0) {
        engine::JournalRecord record;
        record.seq = seq;
        record.action = action;
        record.id = std::move(id);
        record.ok = ok;
        record.of = of;
        if (record.action == model::ChangeAction::remove) {
            record.spec = {{"name", "VLC"},
                           {"command", "\"C:\\Program Files\\VideoLAN\\VLC\\vlc.exe\""},
                           {"mode", "login"}};
        }
        ASSERT_TRUE(engine::append_journal(folder, record).has_value());
    };
    const std::string steam = "run|user|HKCU\\Run\\64|Steam";
    using model::ChangeAction;
    journalled(100, ChangeAction::disable, steam, false);
    // A record of a kind that this version does not know (a newer one wrote it).
    ASSERT_TRUE(os::append_line(os::join_path(folder.write_folder, engine::journal_file_name),
                                "{\"seq\":101,\"action\":\"rename\",\"id\":\"" + steam + "\",\"ok\":true}\n")
                    .has_value());
    journalled(102, ChangeAction::disable, "run|user|HKCU\\Run\\64|Ghost", true);
    journalled(103, ChangeAction::disable, steam, true);
    journalled(104, ChangeAction::undo, steam, true, 103);
    journalled(105, ChangeAction::remove, "run|user|HKCU\\Run\\64|Quillmoor-VLC", true);
    journalled(106, ChangeAction::disable, steam, true);

    const std::string automatic = os::join_path(engine::backup_folder(engine()), "auto");
    for (int round = 0; round < 3; ++round) {
        EXPECT_FALSE(engine::undo_change(engine(), 99, true));   // not in the history
        EXPECT_FALSE(engine::undo_change(engine(), 100, true));  // did not succeed
        EXPECT_FALSE(engine::undo_change(engine(), 101, true));  // of a kind this version does not read
        EXPECT_FALSE(engine::undo_change(engine(), 102, true));  // refused: the item is gone
        EXPECT_FALSE(engine::undo_change(engine(), 103, true));  // already undone
        EXPECT_EQ(engine::undo_change(engine(), 105, false).error().kind, ErrorKind::needs_decision);
    }
    // A batch of changes that are all refused changes nothing, so it takes no backup either.
    engine::ChangeRequest critical;
    critical.action = model::ChangeAction::disable;
    critical.id = "service|machine|Services|RpcSs";
    critical.ack = true;
    engine::ChangeRequest gone = critical;
    gone.id = "run|user|HKCU\\Run\\64|Ghost";
    for (const engine::ChangeResult& result : engine::apply_changes(engine(), {critical, gone}))
        EXPECT_FALSE(result.ok) << result.message;
    EXPECT_EQ(os::path_kind(automatic), os::PathKind::missing);
    EXPECT_TRUE(engine::list_backups(engine()).empty());

    Result<std::string> undone = engine::undo_change(engine(), 106, false);
    ASSERT_TRUE(undone) << undone.error();
    EXPECT_EQ(os::list_folder(automatic).value().size(), 1u);
}

TEST_F(UndoAndBackupsTest, BackupNamesNeverCollide) {
    EXPECT_EQ(engine::backup_file_name("My_PC (2)", "2026-12-07 10:32:24", false),
              "quillmoor-backup-MyPC2-20261207T103224.json");
    EXPECT_EQ(engine::backup_file_name("__", "2026-12-07 10:32:24", true),
              "auto-quillmoor-backup-computer-20261207T103224.json");
    json::JsonValue backup = engine::make_backup(engine(), "one");
    Result<std::string> first = engine::save_backup(engine(), backup, false);
    Result<std::string> second = engine::save_backup(engine(), backup, false);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(second->substr(0, second->size() - 7) + ".json", *first);
    EXPECT_TRUE(second->ends_with("-2.json"));
    for (const char* bad : {"", "a..json", "a/b.json", "a\\b.json", "c:x.json", "backup.txt"}) {
        EXPECT_FALSE(engine::is_valid_backup_name(bad)) << bad;
        EXPECT_EQ(engine::read_backup(engine(), bad).error(), "That is not a backup file name.");
    }
    EXPECT_EQ(engine::read_backup(engine(), "missing.json").error(), "That backup was not found.");
}

TEST_F(UndoAndBackupsTest, ThirtyAutomaticBackupsAreKeptAndManualOnesNever) {
    json::JsonValue backup = engine::make_backup(engine(), "x");
    ASSERT_TRUE(engine::save_backup(engine(), backup, false).has_value());
    std::vector<std::string> saved;
    for (int i = 0; i < 31; ++i) saved.push_back(engine::save_backup(engine(), backup, true).value());
    Result<std::vector<os::FolderEntry>> automatic =
        os::list_folder(os::join_path(engine::backup_folder(engine()), "auto"));
    ASSERT_EQ(automatic->size(), 30u);
    // All were made within a second or two; the oldest (first) one is the one removed,
    // even though "-10" sorts before "-2" as plain text.
    EXPECT_EQ(os::path_kind(saved[0]), os::PathKind::missing);
    for (std::size_t i = 1; i < saved.size(); ++i) EXPECT_EQ(os::path_kind(saved[i]), os::PathKind::file) << saved[i];
    EXPECT_EQ(engine::list_backups(engine()).size(), 31u);
}

TEST_F(UndoAndBackupsTest, ParsingAndRestoringOntoTheSameComputer) {
    EXPECT_EQ(engine::parse_backup("{\"format\":\"quillmoor-knowledge\"}").error(),
              "That file is not a Quillmoor backup.");
    EXPECT_EQ(engine::parse_backup("{\"format\":\"quillmoor-backup\",\"items\":{}}").error(),
              "That backup has no items.");
    EXPECT_EQ(engine::parse_backup("nope").error(), "That file is not a Quillmoor backup (bad literal at byte 0).");

    json::JsonValue backup = engine::make_backup(engine(), "before");
    engine::RestorePlan same = engine::restore_plan(engine(), backup);
    EXPECT_TRUE(same.rows.empty());
    EXPECT_EQ(same.same, 26u);
    EXPECT_FALSE(same.different_computer);

    engine::ChangeResult created = create_vlc();
    engine::ChangeRequest disable = acked(model::ChangeAction::disable, "service|machine|Services|Spooler");
    ASSERT_TRUE(engine::apply_changes(engine(), {disable}).front().ok);
    engine::RestorePlan later = engine::restore_plan(engine(), backup);
    ASSERT_EQ(later.rows.size(), 2u);
    EXPECT_EQ(later.rows[0].what, engine::RestoreRowKind::state);
    EXPECT_TRUE(later.rows[0].ticked);
    EXPECT_EQ(later.rows[0].request->action, model::ChangeAction::enable);
    EXPECT_EQ(later.rows[0].text, "Now off; the backup had it on (Automatic).");
    EXPECT_EQ(later.rows[1].what, engine::RestoreRowKind::remove);
    EXPECT_FALSE(later.rows[1].ticked);

    // A backup taken with the entry, restored after it is gone, offers to recreate it.
    json::JsonValue with_entry = engine::make_backup(engine(), "with");
    engine::ChangeRequest remove = acked(model::ChangeAction::remove, created.id);
    ASSERT_TRUE(engine::apply_changes(engine(), {remove}).front().ok);
    engine::RestorePlan gone = engine::restore_plan(engine(), with_entry);
    ASSERT_EQ(gone.rows.size(), 1u);
    EXPECT_EQ(gone.rows[0].what, engine::RestoreRowKind::recreate);
    EXPECT_TRUE(gone.rows[0].ticked);
    EXPECT_EQ(gone.rows[0].request->id, "restore|" + created.id);
    EXPECT_EQ(gone.rows[0].request->create.command, "\"C:\\Program Files\\VideoLAN\\VLC\\vlc.exe\" --started");

    json::JsonValue other =
        json::parse(R"({"format":"quillmoor-backup","host":"demo-pc","os":"windows","items":[]})").value();
    EXPECT_FALSE(engine::restore_plan(engine(), other).different_computer);
    json::JsonValue foreign = json::parse(R"({"format":"quillmoor-backup","host":"OTHER","items":[]})").value();
    EXPECT_TRUE(engine::restore_plan(engine(), foreign).different_computer);
}

TEST_F(UndoAndBackupsTest, BackupEntriesThatCannotBeTrustedBecomeNotesNeverChanges) {
    json::JsonValue taken = engine::make_backup(engine(), "x");
    const json::JsonValue::Array& saved = json::get(taken, "items")->as_array();
    ASSERT_GE(saved.size(), 3u);
    auto entry = [&](std::size_t index) {
        return json::ObjectBuilder()
            .string("id", json::get_text(saved[index], "id"))
            .string("name", json::get_text(saved[index], "name"));
    };
    auto on = [&](std::size_t index) { return json::get_flag(saved[index], "enabled"); };

    json::JsonValue items = json::JsonValue::array();
    auto add = [&](json::JsonValue value) { items.as_array().push_back(std::move(value)); };
    add(entry(0).done());                          // no "enabled": once read as off
    add(entry(0).flag("enabled", !on(0)).done());  // the same item again
    add(entry(1).flag("enabled", on(1)).done());   // as it is now
    add(entry(1).flag("enabled", !on(1)).done());  // the same item again, the other way
    add(entry(2).string("enabled", on(2) ? "no" : "yes").done());
    add(json::ObjectBuilder().count("id", 42).flag("enabled", false).done());
    add(json::ObjectBuilder().string("name", "No id").flag("enabled", false).done());
    add(json::parse("\"not an entry\"").value());
    json::JsonValue backup =
        json::ObjectBuilder().string("format", "quillmoor-backup").value("items", std::move(items)).done();

    engine::RestorePlan plan = engine::restore_plan(engine(), backup);
    EXPECT_EQ(plan.same, 1u);
    ASSERT_EQ(plan.rows.size(), 7u);
    for (const engine::RestoreRow& row : plan.rows) {
        EXPECT_EQ(row.what, engine::RestoreRowKind::note) << row.text;
        EXPECT_FALSE(row.request.has_value()) << row.text;
        EXPECT_FALSE(row.ticked);
    }
    const std::string unknown_state = "The backup does not say whether it was on or off, so it is left as it is.";
    const std::string repeated = "It appears more than once in the backup; only its first entry is used.";
    const std::string no_id = "The backup does not say which item this is, so it is left out.";
    EXPECT_EQ(plan.rows[0].text, unknown_state);
    EXPECT_EQ(plan.rows[0].id, json::get_text(saved[0], "id"));
    EXPECT_EQ(plan.rows[1].text, repeated);
    EXPECT_EQ(plan.rows[2].text, repeated);
    EXPECT_EQ(plan.rows[3].text, unknown_state);
    EXPECT_EQ(plan.rows[4].text, no_id);
    EXPECT_EQ(plan.rows[5].text, no_id);
    EXPECT_EQ(plan.rows[5].name, "No id");
    EXPECT_EQ(plan.rows[6].text, no_id);
}

TEST_F(UndoAndBackupsTest, BackupFilesOverTheLimitAreNeitherListedNorRead) {
    json::JsonValue backup = engine::make_backup(engine(), "small");
    const std::string small = engine::save_backup(engine(), backup, false).value();
    // A valid backup, padded past the limit.
    std::string huge = json::write(backup);
    huge.insert(huge.size() - 1, ",\"pad\":\"" + std::string(engine::backup_read_limit, 'x') + "\"");
    const std::string huge_path = os::join_path(engine::backup_folder(engine()), "quillmoor-backup-huge.json");
    ASSERT_TRUE(os::write_file_replace(huge_path, huge).has_value());
    huge.clear();
    huge.shrink_to_fit();

    std::vector<engine::BackupSummary> list = engine::list_backups(engine());
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].path, small);
    EXPECT_EQ(engine::read_backup(engine(), "quillmoor-backup-huge.json").error(), "That backup was not found.");
    EXPECT_TRUE(engine::read_backup(engine(), list[0].name).has_value());
}

TEST_F(UndoAndBackupsTest, SavingABackupAsAFileReplacesOnlyARegularFile) {
    json::JsonValue backup = engine::make_backup(engine(), "mine");
    const std::string target = os::join_path(scratch(), "copy.json");
    ASSERT_TRUE(engine::save_backup_as(backup, target).has_value());
    ASSERT_TRUE(engine::save_backup_as(backup, target).has_value());  // over its own earlier copy

    const std::string folder = os::join_path(scratch(), "a folder.json");
    ASSERT_TRUE(os::create_folders(folder).has_value());
    Result<void> refused = engine::save_backup_as(backup, folder);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), "Could not write " + folder + ": it is a folder.");
    EXPECT_EQ(os::path_kind(folder), os::PathKind::folder);
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// A record in a folder this run only reads (the machine's, seen by an
// ordinary user) is shown, but never undone: it may name another account's
// file by the same id.
TEST(AnotherAccountsHistory, IsShownButNeverActedOn) {
    const std::string mine = test::make_scratch_folder("own-history");
    const std::string theirs = test::make_scratch_folder("other-history");
    model::DataFolder folder{mine, {mine, theirs}};
    engine::JournalRecord record;
    record.action = model::ChangeAction::disable;
    record.id = "run|user|HKCU\\Run\\64|Steam";
    record.name = "Steam";
    record.ok = true;
    ASSERT_TRUE(engine::append_journal(model::data_folder_override(theirs), record).has_value());
    engine::EngineContext context(std::make_unique<demo::DemoPlatform>(false), folder);
    const std::vector<engine::HistoryEntry> history = engine::journal_history(folder);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_FALSE(history[0].record.own);
    EXPECT_FALSE(history[0].undoable);
    const Result<std::string> undone = engine::undo_change(context, history[0].record.seq, true);
    ASSERT_FALSE(undone);
    EXPECT_TRUE(undone.error().message.starts_with("That change was made by another account")) << undone.error();
    EXPECT_EQ(os::path_kind(os::join_path(mine, engine::journal_file_name)), os::PathKind::missing);
    (void)os::remove_tree(mine);
    (void)os::remove_tree(theirs);
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// A restore shows in full what an entry made again would run, asks before
// making it, and counts the locked items it leaves alone.
TEST(RestorePreview, ShowsWhatARecreatedEntryRunsAndCountsLockedItems) {
    auto fake = std::make_unique<test::FakePlatform>();
    model::StartupItem locked(model::ItemKind::service, "Service", model::Scope::machine, "Services", "Guard");
    locked.enabled = true;
    locked.toggle = model::Toggle::locked;
    fake->items.push_back(locked);
    const std::string folder = test::make_scratch_folder("restore-preview");
    engine::EngineContext context(std::move(fake), model::data_folder_override(folder));
    Result<json::JsonValue> backup = engine::parse_backup(
        R"({"format":"quillmoor-backup","items":[{"id":")" + json::write(json::JsonValue(locked.id())).substr(1) +
        R"(,"name":"Guard","enabled":false},)"
        R"({"id":"run|user|HKCU\\Run\\64|Quillmoor-Tool","name":"Quillmoor-Tool","enabled":true,"managed":true,)"
        R"("spec":{"name":"Tool","command":"tool.exe --serve","mode":"boot"}}]})");
    ASSERT_TRUE(backup) << backup.error();
    const engine::RestorePlan plan = engine::restore_plan(context, *backup);
    EXPECT_EQ(plan.locked, 1u);
    ASSERT_EQ(plan.rows.size(), 1u);
    EXPECT_EQ(plan.rows[0].what, engine::RestoreRowKind::recreate);
    EXPECT_NE(plan.rows[0].text.find("(boot). It would run: tool.exe --serve."), std::string::npos)
        << plan.rows[0].text;
    const engine::PlannedChange change = engine::plan_change(context, *plan.rows[0].request);
    EXPECT_EQ(engine::decide(change, false), engine::Decision::needs_decision);
    EXPECT_NE(change.risk.effect.find("It would run: tool.exe --serve"), std::string::npos) << change.risk.effect;
    (void)os::remove_tree(folder);
}

}  // namespace
}  // namespace qm
