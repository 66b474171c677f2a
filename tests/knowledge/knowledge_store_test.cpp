#include <gtest/gtest.h>

#include <map>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "cli/dispatch.h"
#include "knowledge/builtin_pack.h"
#include "knowledge/knowledge_store.h"
#include "os/files.h"
#include "support/run_program.h"
#include "util/sha256.h"
#include "util/text.h"

namespace qm {
namespace {

std::string pack_text(std::string_view version, std::string_view rule_pattern = "acmesync",
                      std::string_view level = "high") {
    return std::string(R"({"format":"quillmoor-knowledge","schema":1,"version":")") + std::string(version) +
           R"(","published":"2027-01-02","description":"test pack","rules":{"windows":[{"match":")" +
           std::string(rule_pattern) + R"(","level":")" + std::string(level) +
           R"(","effect":"Acme stops syncing."}]},"locations":{"windows":{"task_roots":["Tasks\\Extra"]}}})";
}

// A stand-in for curl: answers addresses from a table and records every run.
struct FakeCurl {
    std::map<std::string, os::RunOutput> answers;
    std::vector<os::ToolRun> runs;
    os::ToolRunner runner() {
        return [this](const os::ToolRun& run) {
            runs.push_back(run);
            auto it = answers.find(run.arguments.back());
            if (it != answers.end()) return it->second;
            return os::RunOutput{"", "curl: (6) Could not resolve host", 6, false};
        };
    }
    void serve(const std::string& address, std::string body) {
        answers[address] = os::RunOutput{std::move(body), "", 0, false};
    }
};

class KnowledgeStoreTest : public ::testing::Test {
protected:
    void SetUp() override { root_ = test::make_scratch_folder("knowledge"); }
    void TearDown() override { (void)os::remove_tree(root_); }
    knowledge::KnowledgeStore make_store() {
        return knowledge::KnowledgeStore(model::data_folder_override(root_), curl_.runner());
    }
    void put(const std::string& name, const std::string& text) {
        std::string folder = os::join_path(root_, "knowledge");
        ASSERT_TRUE(os::create_folders(folder).has_value());
        ASSERT_TRUE(os::write_file_replace(os::join_path(folder, name), text).has_value());
    }
    std::string root_;
    FakeCurl curl_;
    const std::string address_ = "https://example.test/quillmoor/knowledge.json";
};

TEST_F(KnowledgeStoreTest, WithoutFilesOnlyTheBuiltInPackIsInForce) {
    knowledge::KnowledgeStore store = make_store();
    std::shared_ptr<const knowledge::LoadedKnowledge> state = store.current();
    EXPECT_EQ(state->version_in_force(), "2026.10.13.1");
    EXPECT_EQ(state->installed_source(), "local");
    EXPECT_TRUE(state->notes.empty());
    json::JsonValue status = store.status_json();
    std::vector<std::string> keys;
    for (const auto& [key, value] : status.as_object()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"builtin_version", "builtin_rules", "pack_version", "pack_published",
                                              "pack_description", "local_rules", "auto_check", "url", "last_check",
                                              "last_result", "notes", "folder"}));
    EXPECT_EQ(json::get_count(status, "builtin_rules"), 516u);
    EXPECT_EQ(json::get_text(status, "url"), knowledge::default_knowledge_url);
}

TEST_F(KnowledgeStoreTest, NewestInstalledPackWinsAndOlderOnesAreIgnoredWhileLocalRulesApply) {
    put("pack-2027.1.1.json", pack_text("2027.1.1", "first"));
    put("pack-2027.2.1.json", pack_text("2027.2.1", "second"));
    put("local.json", pack_text("1", "mine", "low"));
    put("notes.json", "{ not json");
    put("other.txt", "ignored");
    knowledge::KnowledgeStore store = make_store();
    std::shared_ptr<const knowledge::LoadedKnowledge> state = store.current();
    EXPECT_EQ(state->pack_version, "2027.2.1");
    EXPECT_EQ(state->installed_source(), "update 2027.2.1");
    ASSERT_EQ(state->installed.rules_for("windows").size(), 2u);
    EXPECT_EQ(state->installed.rules_for("windows")[0].pattern, "mine");  // local rules first
    EXPECT_EQ(state->installed.rules_for("windows")[1].pattern, "second");
    EXPECT_EQ(state->local_rules, 1u);
    ASSERT_EQ(state->notes.size(), 1u);
    EXPECT_TRUE(state->notes[0].starts_with("Knowledge file notes.json was ignored: ")) << state->notes[0];
    EXPECT_EQ(state->locations.task_roots, (std::vector<std::string>{"System32\\Tasks", "Tasks\\Extra"}));

    TearDown();
    SetUp();
    put("pack-2020.1.1.json", pack_text("2020.1.1", "old"));
    put("local.json", pack_text("1", "mine", "low"));
    knowledge::KnowledgeStore older = make_store();
    EXPECT_EQ(older.current()->pack_version, "");
    EXPECT_EQ(older.current()->installed.rules_for("windows").size(), 1u);
}

TEST_F(KnowledgeStoreTest, AddressChecksComeBeforeAnyDownload) {
    knowledge::KnowledgeStore store = make_store();
    EXPECT_EQ(store.update("http://example.test/k.json").error(), "Updates are only fetched over https.");
    EXPECT_EQ(store.update("https://example.test/a b.json").error(), "That address is not valid.");
    EXPECT_EQ(store.update("https://example.test/a'b.json").error(), "That address is not valid.");
    EXPECT_TRUE(curl_.runs.empty());
    // Even a refused address is recorded as the last check.
    EXPECT_EQ(store.current()->settings.last_result, "Failed: That address is not valid.");
    EXPECT_EQ(store.current()->settings.last_check.size(), 19u);
}

TEST_F(KnowledgeStoreTest, DownloadUsesCurlWithTheFixedArgumentsAndExplainsFailures) {
    knowledge::KnowledgeStore store = make_store();
    curl_.answers[address_] = os::RunOutput{"", "curl: (22) The requested URL returned error: 404", 22, false};
    EXPECT_EQ(store.update(address_).error(),
              "The address answered \"not found\". No knowledge update has been published there yet.");
    ASSERT_EQ(curl_.runs.size(), 1u);
    EXPECT_EQ(curl_.runs[0].arguments,
              (std::vector<std::string>{"-q", "-fsSL", "--proto", "=https", "--proto-redir", "=https", "--max-time",
                                        "30", "--max-filesize", "3000000", "-A", "Quillmoor/1.0.0", address_}));
    EXPECT_EQ(curl_.runs[0].time_limit_seconds, 40u);

    curl_.answers[address_] = os::RunOutput{"", "  " + std::string(300, 'x') + "\n", std::nullopt, true};
    std::string failed = store.update(address_).error().message;
    EXPECT_TRUE(failed.starts_with("The download failed (-1). xxx")) << failed;
    EXPECT_EQ(count_characters(failed), std::string("The download failed (-1). ").size() + 160);

    curl_.answers[address_] = os::RunOutput{"", "boom", 0xFFFFFFFFu, false};
    EXPECT_EQ(store.update(address_).error(), "The download failed (-1). boom");
}

TEST_F(KnowledgeStoreTest, ChecksumDecidesWhetherADownloadIsUsed) {
    const std::string text = pack_text("2027.3.1");
    curl_.serve(address_, text);
    curl_.serve(address_ + ".sha256",
                "0000000000000000000000000000000000000000000000000000000000000000  knowledge.json\n");
    knowledge::KnowledgeStore store = make_store();
    EXPECT_EQ(store.update(address_).error(),
              "The downloaded file does not match its published checksum, so it was not used.");
    EXPECT_EQ(store.current()->pack_version, "");

    std::string upper = sha256_hex(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    curl_.serve(address_ + ".sha256", upper + "  knowledge.json\n");
    Result<std::string> report = store.update(address_);
    ASSERT_TRUE(report.has_value()) << report.error();
    EXPECT_EQ(*report, "Updated the knowledge from 2026.10.13.1 to 2027.3.1 (2027-01-02). Its checksum matched.");
    EXPECT_EQ(store.current()->pack_version, "2027.3.1");
    EXPECT_EQ(store.current()->settings.last_result, *report);

    // Same version again: nothing installed.
    EXPECT_EQ(store.update(address_).value(),
              "Already up to date (knowledge 2027.3.1; the published one is 2027.3.1).");
}

TEST_F(KnowledgeStoreTest, ChecksumOfTheTextWithAByteOrderMarkAlsoMatchesAndAMissingOneIsANote) {
    const std::string text = pack_text("2027.4.1");
    curl_.serve(address_, text);
    curl_.serve(address_ + ".sha256", sha256_hex("\xEF\xBB\xBF" + text));
    knowledge::KnowledgeStore store = make_store();
    EXPECT_TRUE(store.update(address_).value().ends_with("Its checksum matched."));

    curl_.serve(address_, pack_text("2027.5.1"));
    curl_.answers.erase(address_ + ".sha256");
    EXPECT_TRUE(store.update(address_).value().ends_with(
        "No checksum was published beside it, so it was checked for form only."));
    curl_.serve(address_, pack_text("2027.6.1"));
    curl_.serve(address_ + ".sha256", "not a checksum");
    EXPECT_TRUE(store.update(address_).value().ends_with("checked for form only."));

    curl_.serve(address_, "{\"format\":\"other\"}");
    curl_.answers.erase(address_ + ".sha256");
    EXPECT_EQ(store.update(address_).error(), "That is not a Quillmoor knowledge pack.");
    EXPECT_EQ(store.current()->pack_version, "2027.6.1");
}

TEST_F(KnowledgeStoreTest, InstallKeepsTheOldPackWhenTheNewOneCannotBeWritten) {
    knowledge::KnowledgeStore store = make_store();
    ASSERT_TRUE(store.install(pack_text("2027.1.1")).has_value());
    // A folder where the new pack's temporary file would go makes the write fail.
    ASSERT_TRUE(os::create_folders(os::join_path(os::join_path(root_, "knowledge"), "incoming-pack-2027.2.1.tmp")));
    Result<knowledge::KnowledgePack> failed = store.install(pack_text("2027.2.1"));
    ASSERT_FALSE(failed.has_value());
    EXPECT_TRUE(failed.error().message.starts_with("cannot write the pack: ")) << failed.error().message;
    EXPECT_EQ(store.current()->pack_version, "2027.1.1");
    EXPECT_EQ(os::path_kind(os::join_path(root_, "knowledge/pack-2027.1.1.json")), os::PathKind::file);

    EXPECT_EQ(store.install("{}").error(), "That is not a Quillmoor knowledge pack.");
}

TEST_F(KnowledgeStoreTest, RollbackStepsBackOnePackThenToTheBuiltInKnowledge) {
    knowledge::KnowledgeStore store = make_store();
    EXPECT_EQ(store.rollback().error(),
              "There is no earlier knowledge to go back to; the built-in knowledge is already in use.");
    ASSERT_TRUE(store.install(pack_text("2027.1.1")).has_value());
    ASSERT_TRUE(store.install(pack_text("2027.2.1")).has_value());
    EXPECT_EQ(store.current()->pack_version, "2027.2.1");
    EXPECT_EQ(store.rollback().value(), "Went back to 2027.1.1.");
    EXPECT_EQ(store.current()->pack_version, "2027.1.1");
    EXPECT_EQ(store.rollback().value(), "Went back to the built-in knowledge.");
    EXPECT_EQ(store.current()->pack_version, "");
    EXPECT_EQ(store.rollback().error(),
              "There is no earlier knowledge to go back to; the built-in knowledge is already in use.");
}

TEST_F(KnowledgeStoreTest, SettingsAreSavedWholeAndDriveTheAutomaticCheck) {
    knowledge::KnowledgeStore store = make_store();
    ASSERT_TRUE(store.save_settings(true, address_).has_value());
    EXPECT_TRUE(store.current()->settings.auto_check);
    curl_.serve(address_, pack_text("2027.7.1"));
    store.automatic_check(true);  // never in the demonstration
    EXPECT_TRUE(curl_.runs.empty());
    store.automatic_check(false);
    EXPECT_EQ(store.current()->pack_version, "2027.7.1");
    EXPECT_TRUE(store.current()->settings.last_result.starts_with("Updated the knowledge"));
    EXPECT_EQ(knowledge::parse_knowledge_settings("[1]").url, "");
    EXPECT_FALSE(knowledge::parse_knowledge_settings("").auto_check);
}

TEST_F(KnowledgeStoreTest, FilesLargerThanTheirLimitAreSkippedWithANoteNamingThemOnce) {
    std::string at_limit = pack_text("2027.3.1", "atlimit");
    at_limit.resize(knowledge::knowledge_pack_max_bytes, ' ');
    put("pack-2027.3.1.json", at_limit);
    std::string over = pack_text("2027.4.1", "over");
    over.resize(knowledge::knowledge_pack_max_bytes + 1, ' ');
    put("pack-2027.4.1.json", over);
    std::string settings = R"({"auto_check":true,"url":"https://example.test/k.json"})";
    settings.resize(65537, ' ');
    put("settings.json", settings);
    std::vector<std::string> expected = {
        "Knowledge file pack-2027.4.1.json was ignored: it is larger than 3 MB.",
        "Knowledge settings file settings.json was ignored, so the defaults apply: it is larger than 64 KB."};
#ifndef _WIN32
    // A device without end is not read at all.
    ASSERT_EQ(::symlink("/dev/zero", os::join_path(root_, "knowledge/endless.json").c_str()), 0);
    expected.insert(expected.begin(), "Knowledge file endless.json was ignored: it is not a regular file.");
#endif
    knowledge::KnowledgeStore store = make_store();
    std::shared_ptr<const knowledge::LoadedKnowledge> state = store.current();
    EXPECT_EQ(state->pack_version, "2027.3.1");
    EXPECT_FALSE(state->settings.auto_check);
    EXPECT_EQ(state->notes, expected);
    EXPECT_EQ(json::get(store.status_json(), "notes")->as_array().size(), expected.size());

    // Saving the settings replaces the oversized file with a sound one.
    ASSERT_TRUE(store.save_settings(true, address_).has_value());
    EXPECT_TRUE(store.current()->settings.auto_check);
    EXPECT_EQ(store.current()->notes.size(), expected.size() - 1);

    settings.resize(65536);
    put("settings.json", settings);
    knowledge::KnowledgeStore exact = make_store();
    EXPECT_TRUE(exact.current()->settings.auto_check);
    EXPECT_EQ(exact.current()->settings.url, "https://example.test/k.json");
}

// knowledge import reads no more than one byte past the largest pack.
TEST_F(KnowledgeStoreTest, ImportRefusesAFileLargerThanAPackAndTakesOneAtTheLimit) {
    struct Captured {
        std::string out, err;
    };
    auto import = [](const std::string& path, Captured& got) {
        return cli::dispatch({"--demo", "knowledge", "import", path},
                             {[&](std::string_view t) { got.out += t; }, [&](std::string_view t) { got.err += t; }});
    };
    const std::string refusal = "The file is larger than 3 MB, which a knowledge pack never is.\n";

    std::string over = pack_text("2027.4.1");
    over.resize(knowledge::knowledge_pack_max_bytes + 1, ' ');
    const std::string over_path = os::join_path(root_, "over.json");
    ASSERT_TRUE(os::write_file_replace(over_path, over).has_value());
    Captured refused;
    EXPECT_EQ(import(over_path, refused), 1);
    EXPECT_EQ(refused.err, refusal);
#ifndef _WIN32
    Captured endless;
    EXPECT_EQ(import("/dev/zero", endless), 1);
    EXPECT_EQ(endless.err, "Cannot read /dev/zero: it is not a regular file.\n");
#endif

    std::string at_limit = pack_text("2027.3.1");
    at_limit.resize(knowledge::knowledge_pack_max_bytes, ' ');
    const std::string at_limit_path = os::join_path(root_, "at-limit.json");
    ASSERT_TRUE(os::write_file_replace(at_limit_path, at_limit).has_value());
    Captured taken;
    EXPECT_EQ(import(at_limit_path, taken), 0) << taken.err;
    EXPECT_EQ(taken.out, "Installed knowledge 2027.3.1 (now in force).\n");
}

}  // namespace
}  // namespace qm
