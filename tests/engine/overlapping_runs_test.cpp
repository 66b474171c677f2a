// Runs of the real program that overlap, are killed or cannot write their
// history, on a Linux computer in a scratch folder whose crontab holds ten
// @reboot lines: every change lands, each with a number of its own, and none
// is ever made without its record.
#ifdef __linux__
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "engine/change_lock.h"
#include "engine/journal.h"
#include "engine/plans.h"
#include "os/environment.h"
#include "os/file_lock.h"
#include "os/process.h"
#include "platforms/linux/cron_reboot.h"
#include "platforms/linux/linux_tree.h"
#include "support/fake_platform.h"
#include "support/run_program.h"

namespace qm::test {
namespace {

constexpr int lines = 10;

class OverlappingRuns : public ::testing::Test {
protected:
    void SetUp() override {
        std::string text;
        for (int i = 0; i < lines; ++i) text += "@reboot " + tool(i) + "\n";
        tree.write(crontab, text);
    }
    static std::string tool(int i) { return "/usr/bin/tool" + std::to_string(i) + " --x"; }
    [[nodiscard]] std::vector<std::pair<std::string, std::string>> environment() const {
        return {{"QUILLMOOR_LINUX_ROOT", tree.root()}, {"XDG_DATA_HOME", ""}};
    }
    [[nodiscard]] std::string data_folder() const {
        return tree.at(identity.root ? "/var/lib/quillmoor" : identity.home + "/.local/share/quillmoor");
    }
    [[nodiscard]] engine::JournalContents journal() const {
        return engine::read_journal_contents(os::join_path(data_folder(), engine::journal_file_name));
    }
    // Which lines the crontab has switched off.
    [[nodiscard]] std::set<int> off_lines() const {
        std::set<int> off;
        const std::string text = tree.read(crontab);
        for (int i = 0; i < lines; ++i) {
            if (text.find(std::string(linux::cron_off_mark) + "@reboot " + tool(i)) != std::string::npos) off.insert(i);
        }
        return off;
    }
    [[nodiscard]] os::ChildRequest program_request(std::vector<std::string> arguments) const {
        os::ChildRequest request;
        request.program = QM_PROGRAM_PATH;
        request.arguments = std::move(arguments);
        request.extra_environment = environment();
        request.time_limit = std::chrono::seconds(60);
        return request;
    }

    LinuxTree tree;
    const linux::Identity identity = linux::current_identity();
    const std::string crontab = "/var/spool/cron/crontabs/" + identity.user;
};

TEST_F(OverlappingRuns, TenDisablesAtOnceAllLandWithTenNumbers) {
    std::vector<std::thread> runs;
    std::vector<ProgramRun> results(lines);
    for (int i = 0; i < lines; ++i) {
        runs.emplace_back([&, i] { results[i] = run_program({"disable", tool(i), "--yes"}, environment()); });
    }
    for (std::thread& run : runs) run.join();
    for (const ProgramRun& run : results) EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_EQ(off_lines().size(), static_cast<std::size_t>(lines)) << tree.read(crontab);
    std::set<std::uint64_t> numbers;
    for (const engine::JournalRecord& record : journal().records) numbers.insert(record.seq);
    EXPECT_EQ(numbers.size(), static_cast<std::size_t>(lines));
    EXPECT_TRUE(journal().open_intents.empty());
}

TEST_F(OverlappingRuns, TheSameUndoTwiceAtOnceIsMadeOnce) {
    ASSERT_EQ(run_program({"disable", tool(3), "--yes"}, environment()).exit_code, 0);
    const std::string seq = std::to_string(journal().records.at(0).seq);
    ProgramRun first;
    ProgramRun second;
    std::thread a([&] { first = run_program({"undo", seq, "--yes"}, environment()); });
    std::thread b([&] { second = run_program({"undo", seq, "--yes"}, environment()); });
    a.join();
    b.join();
    EXPECT_EQ((first.exit_code == 0) + (second.exit_code == 0), 1) << first.err << second.err;
    EXPECT_NE((first.err + second.err).find("That change was already undone."), std::string::npos)
        << first.out << first.err << second.out << second.err;
    EXPECT_TRUE(off_lines().empty());
    EXPECT_EQ(journal().records.size(), 2U);
}

// Each run is killed (SIGKILL, with its process group) after a random time;
// after the next run every line's state is the one its records tell.
TEST_F(OverlappingRuns, RunsKilledAtRandomPointsLeaveNoChangeUnrecorded) {
    const int runs = std::max(1, std::atoi(os::get_env("QUILLMOOR_KILLED_RUNS").value_or("30").c_str()));
    std::mt19937 random(20261209);
    int killed = 0;
    for (int n = 0; n < runs; ++n) {
        const int line = static_cast<int>(random() % lines);
        os::ChildRequest request = program_request({random() % 2 ? "disable" : "enable", tool(line), "--yes"});
        request.time_limit = std::chrono::milliseconds(5 + random() % 60);
        killed += os::run_child(request).timed_out ? 1 : 0;
    }
    const ProgramRun history = run_program({"history"}, environment());
    ASSERT_EQ(history.exit_code, 0) << history.err;
    const engine::JournalContents after = journal();
    EXPECT_TRUE(after.open_intents.empty());
    std::map<std::string, bool> off;  // by id, from the records in order
    for (const engine::JournalRecord& record : after.records) {
        if (record.ok) off[record.id] = record.action == model::ChangeAction::disable;
    }
    std::set<int> expected;
    for (int i = 0; i < lines; ++i) {
        if (off["cron|user|crontab|" + tool(i)]) expected.insert(i);
    }
    EXPECT_EQ(off_lines(), expected) << tree.read(crontab) << history.out;
    RecordProperty("killed", killed);
    RecordProperty("settled", static_cast<int>(std::count_if(after.records.begin(), after.records.end(),
                                                             [](const auto& r) { return r.interrupted; })));
}

// An intent the run did not live to close is settled by the next run, which
// looks at the computer; history says which way.
TEST_F(OverlappingRuns, AnOpenIntentIsSettledByWhatTheComputerShows) {
    const struct {
        int line;
        bool made;
        std::string_view shown;
    } cases[] = {{1, true, "(interrupted; found made)"}, {2, false, "(interrupted; not made)"}};
    const model::DataFolder folder = model::data_folder_override(data_folder());
    std::string text = tree.read(crontab);
    for (const auto& c : cases) {
        engine::JournalIntent intent;
        intent.record.action = model::ChangeAction::disable;
        intent.record.id = "cron|user|crontab|" + tool(c.line);
        intent.record.name = tool(c.line);
        ASSERT_TRUE(engine::append_intent(folder, intent).has_value());
        if (c.made) text.replace(text.find("@reboot " + tool(c.line)), 0, linux::cron_off_mark);
    }
    tree.write(crontab, text);
    ASSERT_EQ(journal().open_intents.size(), 2U);
    const ProgramRun history = run_program({"history"}, environment());
    for (const auto& c : cases) EXPECT_NE(history.out.find(c.shown), std::string::npos) << history.out;
    EXPECT_TRUE(journal().open_intents.empty());
    // The change found made is undoable like any other.
    const ProgramRun undone =
        run_program({"undo", std::to_string(journal().records.at(0).seq), "--yes"}, environment());
    EXPECT_EQ(undone.exit_code, 0) << undone.err;
    EXPECT_TRUE(off_lines().empty());
}

TEST_F(OverlappingRuns, WithoutAHistoryNothingIsChanged) {
    // The data folder's place is taken by a file, so neither the history nor
    // a backup can be written (as root, permissions would not stop it).
    tree.write(identity.root ? "/var/lib/quillmoor" : identity.home + "/.local/share/quillmoor", "x");
    const ProgramRun run = run_program({"disable", tool(0), "--yes"}, environment());
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("Nothing was changed: Quillmoor keeps the history and backups"), std::string::npos)
        << run.err;
    EXPECT_TRUE(off_lines().empty());
}

// With a file-size limit too small for the backup, the write fails with an
// error (not SIGXFSZ) and the change is not made.
TEST_F(OverlappingRuns, AFileSizeLimitStopsTheChangeWithASentence) {
    os::ChildRequest request =
        program_request({"-c", "ulimit -f 1 && exec \"$0\" disable \"$1\" --yes", QM_PROGRAM_PATH, tool(0)});
    request.program = "sh";
    // Backups of a larger computer than ten lines: well over the 512 bytes allowed.
    std::string text = tree.read(crontab);
    for (int i = 0; i < 40; ++i) text += "@reboot /usr/bin/padding" + std::to_string(i) + " --a-long-option-here\n";
    tree.write(crontab, text);
    const os::ChildBytes run = os::run_child(request);
    EXPECT_EQ(run.exit_code, 1u) << run.err;
    EXPECT_NE(run.err.find("Nothing was changed: no automatic backup could be saved first"), std::string::npos)
        << run.err;
    EXPECT_TRUE(off_lines().empty());
}

TEST_F(OverlappingRuns, AChangeWaitsForTheLockAndThenSaysWhoHoldsIt) {
    ASSERT_TRUE(os::create_folders(data_folder()).has_value());
    Result<std::optional<os::FileLock>> held =
        os::take_file_lock(os::join_path(data_folder(), engine::change_lock_file_name), std::chrono::seconds(0));
    ASSERT_TRUE(held && *held);
    // The tree's platform works for its own user.
    const std::string ada_crontab = "/var/spool/cron/crontabs/ada";
    tree.write(ada_crontab, tree.read(crontab));
    engine::EngineContext context(tree.platform(identity.root), model::data_folder_override(data_folder()));
    context.set_change_lock_wait(std::chrono::milliseconds(200));
    engine::ChangeRequest request;
    request.action = model::ChangeAction::disable;
    request.id = "cron|user|crontab|" + tool(0);
    request.ack = true;
    const engine::ChangeResult result = engine::apply_changes(context, {request}).front();
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("another Quillmoor run is changing startup items right now"), std::string::npos)
        << result.message;
    held->reset();
    EXPECT_TRUE(engine::apply_changes(context, {request}).front().ok);
    EXPECT_NE(tree.read(ada_crontab).find(linux::cron_off_mark), std::string::npos);
}

TEST_F(OverlappingRuns, TemporaryFilesOfAKilledRunAreRemovedOnceStale) {
    ASSERT_TRUE(os::create_folders(data_folder() + "/backups/auto").has_value());
    const std::string stale = data_folder() + "/backups/auto/x.json.0123456789ab.partial";
    const std::string fresh = data_folder() + "/journal.jsonl.ba9876543210.tmp";
    const std::string other = data_folder() + "/notes.0123456789ab.txt";
    for (const std::string& path : {stale, fresh, other}) ASSERT_TRUE(os::write_file_replace(path, "x").has_value());
    const utimbuf old{0, 1000};
    ASSERT_EQ(::utime(stale.c_str(), &old), 0);
    ASSERT_EQ(::utime(other.c_str(), &old), 0);
    ASSERT_EQ(run_program({"disable", tool(0), "--yes"}, environment()).exit_code, 0);
    EXPECT_EQ(os::path_kind(stale), os::PathKind::missing);
    EXPECT_EQ(os::path_kind(fresh), os::PathKind::file);  // another run may be writing it
    EXPECT_EQ(os::path_kind(other), os::PathKind::file);  // not a name this program gives
}

// Entries made or removed by a run that was killed: a made entry is known
// by its command and name (and the id it got is recorded), one that the
// journal already accounts for is not taken for it, and a removal is made
// when the entry is gone.
TEST(InterruptedEntries, AreRecordedByWhatTheComputerShows) {
    auto fake = std::make_unique<FakePlatform>();
    for (const char* name : {"Quillmoor-Tool", "Quillmoor-Old"}) {
        model::StartupItem item(model::ItemKind::run, "Run", model::Scope::user, "HKCU\\Run", name);
        item.managed = true;
        item.command = "tool.exe --serve";
        fake->items.push_back(item);
    }
    const std::string old_id = fake->items[1].id();
    const std::string made_id = fake->items[0].id();
    ScratchFolder folder;
    engine::EngineContext context(std::move(fake), model::data_folder_override(folder.path()));
    const model::DataFolder& data = context.data_folder();
    engine::JournalRecord earlier;  // the journal already made this one
    earlier.action = model::ChangeAction::create;
    earlier.id = old_id;
    earlier.ok = true;
    ASSERT_TRUE(engine::append_journal(data, earlier).has_value());
    engine::JournalIntent create;
    create.record.action = model::ChangeAction::create;
    create.record.name = "Tool";
    create.record.spec = {{"name", "Tool"}, {"command", "tool.exe --serve"}};
    engine::JournalIntent removal;
    removal.record.action = model::ChangeAction::remove;
    removal.record.id = "run|user|HKCU\\Run|Quillmoor-Gone";
    for (engine::JournalIntent* intent : {&create, &removal}) ASSERT_TRUE(engine::append_intent(data, *intent));
    EXPECT_EQ(engine::settle_interrupted_changes(context), 2u);
    const std::vector<engine::JournalRecord> records = engine::read_journal(data);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].id, made_id);
    EXPECT_TRUE(records[1].ok && records[1].interrupted);
    EXPECT_EQ(records[2].action, model::ChangeAction::remove);
    EXPECT_TRUE(records[2].ok);
}

// A reader that knows only records (as every earlier version) skips the
// intent and outcome lines whole, also through its search for a record that
// begins inside a damaged line.
TEST(JournalMarks, ReadersOfRecordsSkipIntentsAndOutcomes) {
    const std::string text =
        "[\"intent\",{\"n\":5,\"action\":\"disable\",\"id\":\"a {\\\"seq\\\":9}\",\"spec\":{}}]\n"
        "[\"outcome\",{\"n\":5}]\n"
        "[\"intent\",{\"n\":6,\"action\":\"remove\",\"id\":\"b\"}]\n"
        "[\"later-kind\",{\"n\":8}]\n"
        "{\"seq\":7,\"action\":\"enable\",\"id\":\"c\",\"ok\":true}\n";
    EXPECT_EQ(engine::parse_journal_text(text).size(), 1U);
    const engine::JournalContents contents = engine::parse_journal_contents(text);
    ASSERT_EQ(contents.open_intents.size(), 1U);
    EXPECT_EQ(contents.open_intents[0].record.id, "b");
    EXPECT_EQ(contents.highest_seq, 8U);
}

}  // namespace
}  // namespace qm::test
#endif
