#include <gtest/gtest.h>

#include "engine/backups.h"
#include "engine/change_lock.h"
#include "engine/journal.h"
#include "engine/plans.h"
#include "engine/undo.h"
#include "os/files.h"
#include "support/fake_platform.h"
#include "support/run_program.h"

namespace qm {
namespace {

using model::ChangeAction;

model::StartupItem sign_in(std::string name) {
    model::StartupItem item(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user, "HKCU\\Run\\64",
                            std::move(name));
    item.origin = model::Origin::installed_program;
    item.publisher = "Acme";
    item.enabled = true;
    item.ways.later = model::LaterKind::after_sign_in;
    return item;
}

model::StartupItem service(std::string name) {
    model::StartupItem item(model::ItemKind::service, "Windows service", model::Scope::machine, "Services",
                            std::move(name));
    item.origin = model::Origin::installed_program;
    item.publisher = "Acme";
    item.enabled = true;
    item.ways.when_needed = true;
    item.ways.later = model::LaterKind::service;
    return item;
}

class StartWaysTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = test::make_scratch_folder("ways");
        auto platform = std::make_unique<test::FakePlatform>();
        platform->items = {sign_in("Spotify"), sign_in("Teams"), service("Updater")};
        model::StartupItem plain(model::ItemKind::cron, "@reboot line", model::Scope::user, "crontab", "backup.sh");
        plain.enabled = true;
        platform->items.push_back(plain);
        fake_ = platform.get();
        context_.emplace(std::move(platform), model::data_folder_override(os::join_path(root_, "data")));
    }
    void TearDown() override {
        context_.reset();
        (void)os::remove_tree(root_);
    }

    engine::ChangeResult apply(ChangeAction action, const std::string& id, std::uint32_t seconds = 0) {
        engine::ChangeRequest request;
        request.action = action;
        request.id = id;
        request.seconds = seconds;
        request.ack = true;
        return engine::apply_changes(*context_, {request}).front();
    }
    model::StartupItem item(const std::string& id) { return context_->find_item_by_id(id).value(); }
    std::uint64_t newest_seq() { return engine::read_journal(context_->data_folder()).back().seq; }

    std::string root_;
    test::FakePlatform* fake_ = nullptr;
    std::optional<engine::EngineContext> context_;
    const std::string spotify = sign_in("Spotify").id();
    const std::string updater = service("Updater").id();
};

// A later start makes an own entry that the scan links to its item and keeps
// as the program's own; undoing it, and undoing that, go back and forth.
TEST_F(StartWaysTest, LaterStartOfASignInProgramIsLinkedJournalledAndUndone) {
    engine::ChangeResult made = apply(ChangeAction::later, spotify, 120);
    ASSERT_TRUE(made.ok) << made.message;
    const model::StartupItem delayed = item(spotify);
    EXPECT_FALSE(delayed.enabled);
    EXPECT_EQ(delayed.ways.taken, ChangeAction::later);
    EXPECT_EQ(delayed.ways.taken_seconds, 120u);
    EXPECT_EQ(delayed.state_text, "Starts 2 minutes after sign-in (through Quillmoor)");
    const model::StartupItem own = item(delayed.ways.own_entry);
    EXPECT_TRUE(own.managed);
    EXPECT_EQ(own.ways.delays, spotify);

    const engine::JournalRecord record = engine::read_journal(context_->data_folder()).back();
    EXPECT_EQ(record.action, ChangeAction::later);
    EXPECT_EQ(record.spec, (std::vector<model::SpecPair>{{"seconds", "120"}, {"entry", own.id()}}));

    ASSERT_TRUE(engine::undo_change(*context_, record.seq, true).has_value());
    EXPECT_TRUE(item(spotify).enabled);
    EXPECT_FALSE(item(spotify).ways.taken);
    EXPECT_FALSE(context_->find_item_by_id(own.id()));

    // Undoing "Start as before" takes the same way again, with a new own
    // entry that is the program's own as well.
    ASSERT_TRUE(apply(ChangeAction::later, spotify, 120).ok);
    ASSERT_TRUE(apply(ChangeAction::on_time, spotify).ok);
    ASSERT_TRUE(engine::undo_change(*context_, newest_seq(), true).has_value());
    const model::StartupItem again = item(spotify);
    EXPECT_EQ(again.ways.taken_seconds, 120u);
    EXPECT_TRUE(item(again.ways.own_entry).managed);
}

TEST_F(StartWaysTest, RefusalsSayWhy) {
    ASSERT_TRUE(apply(ChangeAction::later, spotify, 60).ok);
    ASSERT_TRUE(apply(ChangeAction::disable, sign_in("Teams").id()).ok);
    const std::string cron = model::StartupItem(model::ItemKind::cron, "", model::Scope::user, "crontab", "backup.sh").id();
    const struct {
        ChangeAction action;
        std::string id;
        std::uint32_t seconds;
        std::string message;
    } cases[] = {
        {ChangeAction::later, cron, 60,
         "Refused: An @reboot line runs as the computer starts and has no gentler way than off here."},
        {ChangeAction::when_needed, spotify, 0, "Refused: \"Start only when needed\" is not a way this item can take."},
        {ChangeAction::later, sign_in("Teams").id(), 60, "Refused: It is switched off; switch it on first."},
        {ChangeAction::later, updater, 0, ""},  // a service's delayed start needs no time
        {ChangeAction::on_time, updater, 0, ""},
        {ChangeAction::on_time, updater, 0, "Refused: It already starts as it did before."},
        {ChangeAction::later, sign_in("Spotify").id(), 0, "Refused: It already starts 1 minute after sign-in (through Quillmoor); choose \"Start as before\" first."},
    };
    for (const auto& c : cases) {
        const engine::ChangeResult result = apply(c.action, c.id, c.seconds);
        if (c.message.empty()) {
            EXPECT_TRUE(result.ok) << result.message;
        } else {
            EXPECT_EQ(result.message, c.message);
        }
    }
    fake_->items.push_back(sign_in("Mail"));
    context_->forget_cached_items();
    EXPECT_EQ(apply(ChangeAction::later, sign_in("Mail").id(), 0).message,
              "Refused: Say how long after the start it should wait.");
    EXPECT_EQ(apply(ChangeAction::later, sign_in("Mail").id(), model::longest_later_seconds + 1).message,
              "Refused: A start more than 24 hours later is not offered.");
}

// Switching on a delayed item, or removing its own entry, starts it as
// before; the removal asks first.
TEST_F(StartWaysTest, EnableAndRemoveOfADelayedItemStartItAsBefore) {
    ASSERT_TRUE(apply(ChangeAction::later, spotify, 60).ok);
    engine::ChangeRequest remove;
    remove.action = ChangeAction::remove;
    remove.id = item(spotify).ways.own_entry;
    const engine::ChangeResult asked = engine::apply_changes(*context_, {remove}).front();
    EXPECT_EQ(asked.decision, engine::Decision::needs_decision);
    EXPECT_EQ(asked.action, ChangeAction::on_time);
    remove.ack = true;
    ASSERT_TRUE(engine::apply_changes(*context_, {remove}).front().ok);
    EXPECT_TRUE(item(spotify).enabled);

    ASSERT_TRUE(apply(ChangeAction::when_needed, updater).ok);
    const engine::ChangeResult on = apply(ChangeAction::enable, updater);
    EXPECT_TRUE(on.ok) << on.message;
    EXPECT_EQ(on.action, ChangeAction::on_time);
    EXPECT_FALSE(item(updater).ways.taken);
    const engine::JournalRecord record = engine::read_journal(context_->data_folder()).back();
    EXPECT_EQ(record.spec, (std::vector<model::SpecPair>{{"was", "when-needed"}, {"seconds", "0"}}));
}

// A restore brings back the way the backup had, as one change; the own
// entry goes with its item and is never a row of its own.
TEST_F(StartWaysTest, RestoreBringsBackTheWayTaken) {
    const json::JsonValue before = engine::make_backup(*context_, "before");
    ASSERT_TRUE(apply(ChangeAction::later, spotify, 300).ok);
    ASSERT_TRUE(apply(ChangeAction::when_needed, updater).ok);
    const json::JsonValue during = engine::make_backup(*context_, "during");

    engine::RestorePlan back = engine::restore_plan(*context_, before);
    ASSERT_EQ(back.rows.size(), 2u);
    for (const engine::RestoreRow& row : back.rows) EXPECT_EQ(row.request->action, ChangeAction::on_time) << row.text;
    EXPECT_EQ(back.rows[0].text, "Now set to \"Start 5 minutes after sign-in\"; the backup had it starting as before ().");

    std::vector<engine::ChangeRequest> requests;
    for (engine::RestoreRow& row : back.rows) requests.push_back(*row.request);
    for (const engine::ChangeResult& result : engine::apply_changes(*context_, requests)) EXPECT_TRUE(result.ok);

    engine::RestorePlan forward = engine::restore_plan(*context_, during);
    ASSERT_EQ(forward.rows.size(), 2u);
    EXPECT_EQ(forward.rows[0].request->action, ChangeAction::later);
    EXPECT_EQ(forward.rows[0].request->seconds, 300u);
    EXPECT_EQ(forward.rows[1].request->action, ChangeAction::when_needed);
}

TEST_F(StartWaysTest, ARiskySwitchOffSuggestsTheGentlerWayFirst) {
    fake_->items[2].set_spec("short", "Spooler");  // known to the knowledge: caution to switch off
    model::StartupItem spooler = fake_->items[2];
    context_->forget_cached_items();
    const engine::PlannedChange plan = engine::plan_change(*context_, [&] {
        engine::ChangeRequest r;
        r.action = ChangeAction::disable;
        r.id = spooler.id();
        return r;
    }());
    ASSERT_TRUE(plan.risk.level == model::Level::caution || plan.risk.level == model::Level::high);
    EXPECT_EQ(plan.suggested, ChangeAction::when_needed);
    EXPECT_TRUE(plan.risk.reasons.front().starts_with("Gentler: Start only when needed.")) << plan.risk.reasons.front();
}

// A run that ended between the intent and the record: the computer shows
// the later start made, and the record then names the own entry it found.
TEST_F(StartWaysTest, AnInterruptedLaterStartIsSettledWithItsOwnEntry) {
    engine::JournalIntent intent;
    intent.record.action = ChangeAction::later;
    intent.record.id = spotify;
    intent.record.name = "Spotify";
    ASSERT_TRUE(engine::append_intent(context_->data_folder(), intent).has_value());
    model::StartupItem original = fake_->items[0];
    ASSERT_TRUE(fake_->set_start_way(original, {ChangeAction::later, 30, nullptr}).has_value());

    EXPECT_EQ(engine::settle_interrupted_changes(*context_), 1u);
    const engine::JournalRecord settled = engine::read_journal(context_->data_folder()).back();
    EXPECT_TRUE(settled.ok);
    EXPECT_TRUE(settled.interrupted);
    ASSERT_FALSE(settled.spec.empty());
    EXPECT_EQ(settled.spec.back().key, "entry");
    EXPECT_TRUE(item(settled.spec.back().value).managed);
}

}  // namespace
}  // namespace qm
