#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "model/data_folder.h"
#include "engine/journal.h"
#include "os/files.h"
#include "os/os_test_support.h"
#include "support/run_program.h"

namespace qm {
namespace {

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = test::make_scratch_folder("journal");
        user_ = os::join_path(root_, "user");
        machine_ = os::join_path(root_, "machine");
        ASSERT_TRUE(os::create_folders(machine_).has_value());
    }
    void TearDown() override { (void)os::remove_tree(root_); }

    model::DataFolder both() const { return model::DataFolder{user_, {user_, machine_}}; }
    void write_raw(const std::string& folder, const std::string& text) const {
        ASSERT_TRUE(os::create_folders(folder).has_value());
        ASSERT_TRUE(os::write_file_replace(os::join_path(folder, "journal.jsonl"), text).has_value());
    }

    std::string root_, user_, machine_;
};

engine::JournalRecord record(model::ChangeAction action, bool ok = true, std::uint64_t of = 0) {
    engine::JournalRecord r;
    r.action = action;
    r.id = "run|user|HKCU\\Run\\64|Spotify";
    r.name = "Spotify";
    r.detail = "done";
    r.ok = ok;
    r.of = of;
    return r;
}

TEST(JournalSeq, NumbersAreStrictlyIncreasingEvenWithinOneMillisecond) {
    std::uint64_t first = engine::next_journal_seq();
    std::uint64_t second = engine::next_journal_seq();
    EXPECT_EQ(second, first + 1);  // two calls well within the same millisecond as a rule
    EXPECT_GT(first, 1700000000000u);
}

TEST_F(JournalTest, AppendWritesOneLineWithKeysInOrderAndCreatesTheFolder) {
    engine::JournalRecord r = record(model::ChangeAction::remove);
    r.spec = {{"name", "x"}, {"command", "c"}};
    ASSERT_TRUE(engine::append_journal(model::DataFolder{user_, {user_}}, r).has_value());
    std::string text = os::read_file(os::join_path(user_, "journal.jsonl")).value();
    ASSERT_TRUE(text.ends_with("\n"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    EXPECT_TRUE(text.starts_with("{\"seq\":")) << text;
    EXPECT_NE(text.find(R"(,"time":")"), std::string::npos);
    EXPECT_NE(text.find(R"("action":"remove","id":"run|user|HKCU\\Run\\64|Spotify","name":"Spotify",)"
                        R"("detail":"done","ok":true,"of":0,"spec":{"name":"x","command":"c"},"stop_now":false})"),
              std::string::npos)
        << text;
    std::vector<engine::JournalRecord> back = engine::read_journal(model::DataFolder{user_, {user_}});
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].time.size(), 19u);
    EXPECT_EQ(back[0].spec, r.spec);
}

TEST_F(JournalTest, EightThreadsAppendingGiveDistinctNumbersAndWholeLines) {
    if (test::running_under_wine()) {
        GTEST_SKIP()
            << "Wine 8 lets separate append handles overwrite each other; Windows itself appends whole writes.";
    }
    const model::DataFolder folder{user_, {user_}};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&folder] {
            for (int i = 0; i < 1000; ++i)
                EXPECT_TRUE(engine::append_journal(folder, record(model::ChangeAction::disable)).has_value());
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::string text = os::read_file(os::join_path(user_, "journal.jsonl")).value();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8000);
    std::vector<engine::JournalRecord> records = engine::read_journal(folder);
    ASSERT_EQ(records.size(), 8000u);  // every line parsed, no number given twice
    for (std::size_t i = 1; i < records.size(); ++i) EXPECT_LT(records[i - 1].seq, records[i].seq);
}

TEST_F(JournalTest, ReadingSkipsBrokenAndBlankLinesAndKeepsTheUserFoldersCopy) {
    write_raw(user_,
              "{\"seq\":5,\"action\":\"disable\",\"name\":\"user copy\",\"ok\":true}\r\n"
              "\n   \t\r\n"
              "{\"seq\":6,\"action\":\"disab\n"
              "not json at all\n"
              "{\"action\":\"enable\",\"name\":\"no seq\",\"ok\":\"yes\",\"spec\":{\"a\":1,\"b\":\"t\"}}\n"
              "[1,2]\n"
              "{\"seq\":7.9,\"of\":-3,\"action\":\"enable\",\"name\":\"seven\",\"ok\":true}");
    write_raw(machine_,
              "{\"seq\":5,\"action\":\"disable\",\"name\":\"machine copy\",\"ok\":true}\n"
              "{\"seq\":3,\"action\":\"create\",\"name\":\"machine only\",\"ok\":true}\n");
    std::vector<engine::JournalRecord> records = engine::read_journal(both());
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].seq, 0u);
    EXPECT_EQ(records[0].name, "no seq");
    EXPECT_FALSE(records[0].ok);
    EXPECT_EQ(records[0].spec, (std::vector<model::SpecPair>{{"a", ""}, {"b", "t"}}));
    EXPECT_EQ(records[1].name, "machine only");
    EXPECT_EQ(records[2].name, "user copy");
    EXPECT_EQ(records[3].seq, 7u);
    EXPECT_EQ(records[3].of, 0u);

    // Missing folders and files contribute nothing and never fail.
    EXPECT_TRUE(engine::read_journal(model::DataFolder{"", {os::join_path(root_, "missing")}}).empty());
}

TEST_F(JournalTest, HistoryMarksUndoneAndUndoableRecords) {
    write_raw(user_,
              "{\"seq\":1,\"action\":\"disable\",\"ok\":true}\n"
              "{\"seq\":2,\"action\":\"enable\",\"ok\":false}\n"
              "{\"seq\":3,\"action\":\"undo\",\"ok\":true,\"of\":1}\n"
              "{\"seq\":4,\"action\":\"remove\",\"ok\":true}\n"
              "{\"seq\":5,\"action\":\"undo\",\"ok\":false,\"of\":4}\n"
              "{\"seq\":6,\"action\":\"rename\",\"ok\":true}\n");
    std::vector<engine::HistoryEntry> history = engine::journal_history(model::DataFolder{user_, {user_}});
    ASSERT_EQ(history.size(), 6u);
    std::vector<std::uint64_t> order;
    for (const engine::HistoryEntry& entry : history) order.push_back(entry.record.seq);
    EXPECT_EQ(order, (std::vector<std::uint64_t>{6, 5, 4, 3, 2, 1}));
    EXPECT_FALSE(history[0].undoable);  // unknown action
    EXPECT_FALSE(history[1].undoable);  // an undo is never undoable
    EXPECT_TRUE(history[2].undoable);   // its undo failed, so it still can be
    EXPECT_FALSE(history[2].undone);
    EXPECT_FALSE(history[4].undoable);  // failed change
    EXPECT_TRUE(history[5].undone);
    EXPECT_FALSE(history[5].undoable);
}

TEST_F(JournalTest, AppendReportsAFolderThatCannotBeMade) {
    // A file where the folder should be.
    std::string blocker = os::join_path(root_, "blocker");
    ASSERT_TRUE(os::write_file_replace(blocker, "x").has_value());
    std::string folder = os::join_path(blocker, "data");
    Result<void> appended =
        engine::append_journal(model::DataFolder{folder, {folder}}, record(model::ChangeAction::disable));
    ASSERT_FALSE(appended.has_value());
    EXPECT_TRUE(appended.error().message.starts_with("cannot create " + folder + ": ")) << appended.error().message;
}

TEST_F(JournalTest, ARecordWrittenOntoATornLineIsStillRead) {
    // What a journal looks like when a record was appended to a fragment
    // without a line feed in between, here one cut inside a UTF-8 sequence.
    write_raw(user_,
              "{\"seq\":1,\"action\":\"disable\",\"name\":\"Caf\xC3"
              "{\"seq\":2,\"action\":\"enable\",\"name\":\"Quillmoor-Caf\xC3\xA9\",\"ok\":true}\n"
              "{\"seq\":3,\"action\":\"ena{\"seq\":4,\"action\":\"ena"
              "{\"seq\":5,\"action\":\"disable\",\"detail\":\"a \\\"{\\\"seq\\\":9}\\\" b\",\"ok\":true}\n"
              "{\"seq\":6,\"action\":\"disable\"\n");
    std::vector<engine::JournalRecord> records = engine::read_journal(model::DataFolder{user_, {user_}});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].seq, 2u);
    EXPECT_EQ(records[0].name, "Quillmoor-Caf\xC3\xA9");
    EXPECT_EQ(records[1].seq, 5u);
    EXPECT_EQ(records[1].detail, "a \"{\"seq\":9}\" b");
}

TEST_F(JournalTest, ABadByteCostsOnlyItsOwnLine) {
    write_raw(user_,
              "\xEF\xBB\xBF{\"seq\":1,\"action\":\"disable\",\"name\":\"Quillmoor-Caf\xC3\xA9\",\"ok\":true}\n"
              "{\"seq\":2,\"action\":\"disable\",\"name\":\"Latin-1 caf\xE9\",\"ok\":true}\n"
              "{\"seq\":3,\"action\":\"enable\",\"name\":\"Quillmoor-Caf\xC3\xA9\",\"ok\":true}\n");
    std::vector<engine::JournalRecord> records = engine::read_journal(model::DataFolder{user_, {user_}});
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].name, "Quillmoor-Caf\xC3\xA9");
    EXPECT_EQ(records[1].name, "Latin-1 caf\xC3\xA9");  // the line read on its own, byte by byte
    EXPECT_EQ(records[2].name, "Quillmoor-Caf\xC3\xA9");

    // A whole file in UTF-16 is still read.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("{\"seq\":4,\"name\":\"\xE9\",\"ok\":true}\r\n")) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    std::vector<engine::JournalRecord> wide = engine::parse_journal_text(utf16);
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_EQ(wide[0].name, "\xC3\xA9");
}

TEST_F(JournalTest, AFileOverTheLimitGivesTheRecordsOfItsLastBytes) {
    const std::string one = "{\"seq\":1,\"action\":\"disable\",\"ok\":true}\n";
    const std::string two = "{\"seq\":2,\"action\":\"enable\",\"ok\":true}\n";
    const std::string three = "{\"seq\":3,\"action\":\"disable\",\"ok\":true}\n";
    write_raw(user_, one + two + three);
    const std::string path = os::join_path(user_, "journal.jsonl");
    auto seqs = [&](std::uint64_t limit) {
        std::vector<std::uint64_t> out;
        for (const engine::JournalRecord& r : engine::read_journal_file(path, limit)) out.push_back(r.seq);
        return out;
    };
    const std::uint64_t last_two = two.size() + three.size();
    EXPECT_EQ(seqs(last_two + one.size()), (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(seqs(last_two + 1), (std::vector<std::uint64_t>{2, 3}));
    EXPECT_EQ(seqs(last_two), (std::vector<std::uint64_t>{2, 3}));
    EXPECT_EQ(seqs(last_two - 1), (std::vector<std::uint64_t>{3}));  // a cut line is never read
    EXPECT_EQ(seqs(3), (std::vector<std::uint64_t>{}));
    EXPECT_EQ(seqs(0), (std::vector<std::uint64_t>{}));
}

TEST_F(JournalTest, AFailedAppendNamesTheFileOnceWithTheSystemsReason) {
    auto times = [](const std::string& text, const std::string& part) {
        std::size_t count = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
        return count;
    };
    // A folder where the journal file should be.
    const std::string journal = os::join_path(user_, "journal.jsonl");
    ASSERT_TRUE(os::create_folders(journal).has_value());
    Result<void> appended =
        engine::append_journal(model::DataFolder{user_, {user_}}, record(model::ChangeAction::disable));
    ASSERT_FALSE(appended.has_value());
    EXPECT_TRUE(appended.error().message.starts_with("cannot write " + journal + ": ")) << appended.error().message;
    EXPECT_EQ(times(appended.error().message, "journal.jsonl"), 1u) << appended.error().message;
    EXPECT_EQ(appended.error().message.find("Could not"), std::string::npos) << appended.error().message;

    const std::string blocker = os::join_path(root_, "blocker");
    ASSERT_TRUE(os::write_file_replace(blocker, "x").has_value());
    const std::string folder = os::join_path(blocker, "data");
    Result<void> created =
        engine::append_journal(model::DataFolder{folder, {folder}}, record(model::ChangeAction::disable));
    ASSERT_FALSE(created.has_value());
    EXPECT_EQ(times(created.error().message, "blocker"), 1u) << created.error().message;
    EXPECT_EQ(created.error().message.find("Could not"), std::string::npos) << created.error().message;
}

TEST(DataFolder, RulesPerSystemAndRights) {
    auto env = [](std::vector<std::pair<std::string, std::string>> values) {
        return [values](std::string_view name) -> std::optional<std::string> {
            for (const auto& [k, v] : values) {
                if (k == name) return v;
            }
            return std::nullopt;
        };
    };
    model::SystemFacts windows{"windows", "", "PC", "tamsel", "C:\\Users\\tamsel", false, false, false, {}};
    model::DataFolder user =
        model::resolve_data_folder(windows, env({{"LOCALAPPDATA", ""}, {"ProgramData", "D:\\PD"}}), "C:\\Temp");
    EXPECT_EQ(user.write_folder, "C:\\Users\\tamsel\\AppData\\Local\\Quillmoor");
    EXPECT_EQ(user.read_folders, (std::vector<std::string>{user.write_folder, "D:\\PD\\Quillmoor"}));
    EXPECT_EQ(model::resolve_data_folder(windows, env({{"LOCALAPPDATA", "C:\\L\\"}}), "C:\\Temp").write_folder,
              "C:\\L\\Quillmoor");
    model::SystemFacts homeless = windows;
    homeless.home.clear();
    EXPECT_EQ(model::resolve_data_folder(homeless, env({}), "C:\\Temp").write_folder, "C:\\Temp\\Quillmoor");
    model::SystemFacts admin = windows;
    admin.admin = true;
    model::DataFolder machine = model::resolve_data_folder(admin, env({{"ProgramData", ""}}), "C:\\Temp");
    EXPECT_EQ(machine.write_folder, "C:\\ProgramData\\Quillmoor");
    EXPECT_EQ(machine.read_folders, (std::vector<std::string>{"C:\\ProgramData\\Quillmoor"}));

    model::SystemFacts linux{"linux", "", "", "", "/home/t", false, false, false, {}};
    EXPECT_EQ(model::resolve_data_folder(linux, env({{"XDG_DATA_HOME", "/x"}}), "/tmp").write_folder, "/x/quillmoor");
    model::DataFolder plain = model::resolve_data_folder(linux, env({{"XDG_DATA_HOME", ""}}), "/tmp");
    EXPECT_EQ(plain.read_folders, (std::vector<std::string>{"/home/t/.local/share/quillmoor", "/var/lib/quillmoor"}));
    model::SystemFacts mac{"macos", "", "", "", "/Users/t", false, false, false, {}};
    EXPECT_EQ(model::resolve_data_folder(mac, env({}), "/tmp").write_folder,
              "/Users/t/Library/Application Support/Quillmoor");

    model::DataFolder demo = model::data_folder_override("/tmp/quillmoor-demo-0123456789ab");
    EXPECT_EQ(demo.read_folders, (std::vector<std::string>{"/tmp/quillmoor-demo-0123456789ab"}));
}

}  // namespace
}  // namespace qm
