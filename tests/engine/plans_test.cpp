#include <gtest/gtest.h>

#include <thread>

#include "platforms/demo/demo_platform.h"
#include "engine/backups.h"
#include "engine/change_effects.h"
#include "engine/journal.h"
#include "engine/plans.h"
#include "os/files.h"
#include "support/fake_platform.h"
#include "support/demo_engine.h"
#include "support/run_program.h"

namespace qm {
namespace {

class PlansTest : public test::DemoEngineTest {
protected:
    PlansTest() : DemoEngineTest("plans") {}

    engine::ChangeRequest request(model::ChangeAction action, std::string id, bool ack = false) {
        engine::ChangeRequest r;
        r.action = action;
        r.id = std::move(id);
        r.ack = ack;
        return r;
    }
    engine::ChangeResult apply_one(const engine::ChangeRequest& r) {
        return engine::apply_changes(engine(), {r}).front();
    }
    std::size_t automatic_backups() {
        Result<std::vector<os::FolderEntry>> entries = os::list_folder(os::join_path(scratch(), "data/backups/auto"));
        return entries ? entries->size() : 0;
    }
};

const std::string spooler = "service|machine|Services|Spooler";
const std::string steam = "run|user|HKCU\\Run\\64|Steam";

TEST_F(PlansTest, RefusalsSayWhy) {
    EXPECT_EQ(apply_one(request(model::ChangeAction::disable, steam, true)).message,
              "Refused: It is already switched off.");
    EXPECT_EQ(apply_one(request(model::ChangeAction::enable, "run|user|HKCU\\Run\\64|Spotify", true)).message,
              "Refused: It is already switched on.");
    engine::ChangeResult critical =
        apply_one(request(model::ChangeAction::disable, "service|machine|Services|RpcSs", true));
    EXPECT_FALSE(critical.ok);
    EXPECT_EQ(critical.message,
              "Refused: Almost every Windows component talks through Remote Procedure Call. Without it Windows does "
              "not start properly.");
    EXPECT_EQ(apply_one(request(model::ChangeAction::remove, "run|user|HKCU\\Run\\64|Spotify", true)).message,
              "Refused: Only startup entries created by Quillmoor can be removed. Use Disable for others.");
    engine::ChangeRequest rename = request(model::ChangeAction::disable, "x", true);
    rename.action.reset();
    rename.unknown_action = "rename";
    EXPECT_EQ(apply_one(rename).message, "Refused: Unknown action \"rename\".");
    EXPECT_EQ(apply_one(request(model::ChangeAction::disable, "run|user|HKCU\\Run\\64|Gone", true)).message,
              "Refused: The item was not found; it may have been removed since the last scan.");
}

TEST_F(PlansTest, CautionNeedsAckAndEveryChangeIsJournalled) {
    engine::ChangeResult without = apply_one(request(model::ChangeAction::disable, spooler));
    EXPECT_FALSE(without.ok);
    EXPECT_EQ(without.message, "Not applied: this change needs your confirmation first.");
    engine::ChangeResult with = apply_one(request(model::ChangeAction::disable, spooler, true));
    EXPECT_TRUE(with.ok);
    EXPECT_EQ(with.message, "Print Spooler will no longer start with Windows (demonstration only).");
    std::vector<engine::JournalRecord> journal = engine::read_journal(engine().data_folder());
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].action, model::ChangeAction::disable);
    EXPECT_EQ(journal[0].id, spooler);
    EXPECT_FALSE(engine().find_item_by_id(spooler)->enabled);  // the cache was emptied and read again
    EXPECT_EQ(automatic_backups(), 1u);
    (void)apply_one(request(model::ChangeAction::enable, steam, true));
    EXPECT_EQ(automatic_backups(), 1u);  // one per context
}

// The demonstration measured five sign-ins (7.84 s on average) and five
// boots (42.78 s) between 3 and 8 December 2026.
TEST_F(PlansTest, AChangeKeepsTheStartsMeasuredBeforeItAndTheHistoryComparesLaterOnes) {
    ASSERT_TRUE(apply_one(request(model::ChangeAction::disable, spooler, true)).ok);
    std::vector<engine::HistoryEntry> history = engine::journal_history(engine().data_folder());
    ASSERT_EQ(history.size(), 1u);
    engine::add_startup_effects(engine(), history);
    EXPECT_EQ(history[0].startup_effects, (std::vector<std::string>{
                                              "Sign-in: 7.8 s before (5 measured); none measured since",
                                              "Boot: 42.8 s before (5 measured); none measured since"}));
    history[0].record.time = "2026-12-05 00:00:00";
    engine::add_startup_effects(engine(), history);
    EXPECT_EQ(history[0].startup_effects, (std::vector<std::string>{
                                              "Sign-in: 7.8 s before (5 measured), 7.5 s after (3 measured)",
                                              "Boot: 42.8 s before (5 measured), 41.9 s after (3 measured)"}));
}

TEST_F(PlansTest, CreateForAProgramThatAlreadyStartsBecomesEnable) {
    (void)engine().running_programs();
    engine::ChangeRequest create = request(model::ChangeAction::create, "svc|wuauserv", true);
    create.create.name = "Windows Update";
    create.create.command = "svchost.exe";
    create.create.mode = "service-auto";
    EXPECT_EQ(engine::prepare_request(engine(), create).action, model::ChangeAction::enable);
    engine::ChangeResult result = apply_one(create);
    EXPECT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.action, model::ChangeAction::enable);
    EXPECT_EQ(result.id, "service|machine|Services|wuauserv");
}

TEST_F(PlansTest, CreateChecksItsDetailsAndIsSafeForAListedProgram) {
    (void)engine().installed_programs();
    engine::ChangeRequest create = request(model::ChangeAction::create, "app|vlc");
    create.create.name = "VLC";
    create.create.command = "\"C:\\Program Files\\VideoLAN\\VLC\\vlc.exe\"";
    create.create.mode = "login";
    engine::PlannedChange plan = engine::plan_change(engine(), create);
    EXPECT_FALSE(plan.blocked());
    EXPECT_EQ(plan.risk.level, model::Level::safe);
    EXPECT_EQ(plan.risk.reasons.front(), "Method: Start when I sign in.");
    engine::ChangeResult made = apply_one(create);
    ASSERT_TRUE(made.ok) << made.message;
    std::vector<engine::JournalRecord> journal = engine::read_journal(engine().data_folder());
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].spec[2], (model::SpecPair{"exe", "C:\\Program Files\\VideoLAN\\VLC\\vlc.exe"}));
    EXPECT_EQ(journal[0].spec[5], (model::SpecPair{"user", "tamsel"}));
    EXPECT_TRUE(engine().find_item_by_id(made.id)->managed);

    engine::ChangeRequest bad = request(model::ChangeAction::create, "");
    bad.create.name = "two\nlines";
    bad.create.mode = "someday";
    engine::PlannedChange refused = engine::plan_change(engine(), bad);
    EXPECT_EQ(refused.problems,
              (std::vector<std::string>{
                  "A command is required.",
                  "The name contains a line break or an invisible control character, which is not allowed.",
                  "\"someday\" is not a way a program can be started on this computer."}));
}

TEST_F(PlansTest, BootEntryWithoutAdministratorRightsNeverReachesThePlatform) {
    auto fake = std::make_unique<test::FakePlatform>();
    fake->facts.admin = false;
    test::FakePlatform* platform = fake.get();
    engine::EngineContext context(std::move(fake), model::data_folder_override(os::join_path(scratch(), "fake")));
    engine::ChangeRequest create = request(model::ChangeAction::create, "", true);
    create.create.name = "Tool";
    create.create.command = "tool.exe --serve";
    create.create.mode = "boot";
    engine::ChangeResult result = engine::apply_changes(context, {create}).front();
    EXPECT_TRUE(result.admin);
    EXPECT_EQ(result.message, "This change needs administrator rights. Use \"Restart as administrator\".");
    EXPECT_TRUE(platform->items.empty());
}

// Without a history and a backup nothing is changed: the change could not be
// undone, nor even seen in the history.
TEST_F(PlansTest, AnUnwritableDataFolderChangesNothingAndSaysWhy) {
    std::string blocker = os::join_path(scratch(), "blocker");
    ASSERT_TRUE(os::write_file_replace(blocker, "x").has_value());
    engine::EngineContext context(std::make_unique<demo::DemoPlatform>(false),
                                  model::data_folder_override(os::join_path(blocker, "data")));
    std::vector<engine::ChangeResult> results =
        engine::apply_changes(context, {request(model::ChangeAction::disable, spooler, true),
                                        request(model::ChangeAction::enable, steam, true)});
    ASSERT_EQ(results.size(), 2u);
    for (const engine::ChangeResult& result : results) {
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.message.starts_with("Nothing was changed: Quillmoor keeps the history and backups"))
            << result.message;
    }
    EXPECT_TRUE(context.find_item_by_id(spooler)->enabled);
    EXPECT_FALSE(context.find_item_by_id(steam)->enabled);
}

TEST_F(PlansTest, TwoAppliesAtOnceMakeExactlyOneAutomaticBackup) {
    std::thread first(
        [&] { (void)engine::apply_changes(engine(), {request(model::ChangeAction::disable, spooler, true)}); });
    std::thread second(
        [&] { (void)engine::apply_changes(engine(), {request(model::ChangeAction::enable, steam, true)}); });
    first.join();
    second.join();
    EXPECT_EQ(automatic_backups(), 1u);
    // The backup holds the computer as it was before either change.
    std::vector<engine::BackupSummary> backups = engine::list_backups(engine());
    ASSERT_EQ(backups.size(), 1u);
    json::JsonValue saved = engine::parse_backup(os::read_file(backups[0].path).value()).value();
    for (const json::JsonValue& item : json::get(saved, "items")->as_array()) {
        if (json::get_text(item, "id") == spooler) {
            EXPECT_TRUE(json::get_flag(item, "enabled"));
        }
        if (json::get_text(item, "id") == steam) {
            EXPECT_FALSE(json::get_flag(item, "enabled"));
        }
    }
}

TEST_F(PlansTest, PlanJsonHasItsKeysInOrder) {
    json::JsonValue plan =
        engine::plan_json(engine::plan_change(engine(), request(model::ChangeAction::disable, spooler)));
    std::vector<std::string> keys;
    for (const auto& [key, value] : plan.as_object()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"id", "name", "action", "risk", "problems", "blocked", "admin_needed",
                                              "spec", "seconds", "suggested"}));
    EXPECT_TRUE(json::get(plan, "spec")->is_null());
    engine::ChangeRequest lenient = engine::change_request_from_json(
        json::parse(R"({"action":"disable","id":5,"ack":"yes","stop_now":true})").value());
    EXPECT_EQ(lenient.id, "");
    EXPECT_FALSE(lenient.ack);
    EXPECT_TRUE(lenient.stop_now);
}

}  // namespace
}  // namespace qm
