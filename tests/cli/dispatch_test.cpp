#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "cli/commands.h"
#include "cli/dispatch.h"
#include "os/environment.h"
#include "os/files.h"

namespace qm::cli {
namespace {

struct Captured {
    std::string out;
    std::string err;
    os::Streams streams() {
        return os::Streams{[this](std::string_view t) { out.append(t); },
                           [this](std::string_view t) { err.append(t); }};
    }
};

TEST(Dispatch, HelpNamesTheBuildConstantsAndEveryTableCommand) {
    const std::string help = help_text();
    EXPECT_TRUE(
        help.starts_with("Quillmoor - see what starts with your computer, and switch it on or off.\n\nDeveloped by "));
    EXPECT_EQ(help.find('{'), std::string::npos);
    for (std::string_view word :
         {"serve", "list", "running", "apps", "assess", "disable", "enable", "add", "remove", "backup", "backups",
          "restore", "knowledge", "doctor", "history", "undo", "version", "help", "open"}) {
        EXPECT_NE(find_command(word), nullptr) << word;
    }
    EXPECT_EQ(find_command("Serve"), nullptr);
    EXPECT_EQ(find_command(""), nullptr);
}

// Help is made from the command table: one usage line per listed command, in
// the table's order, and none for an unlisted one.
TEST(Dispatch, HelpListsTheListedTableCommandsInTableOrder) {
    std::vector<std::string> expected;
    for (const CommandEntry& entry : commands()) {
        if (entry.listed) expected.emplace_back(entry.name);
    }
    std::vector<std::string> shown;
    std::istringstream lines(help_text());
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("  quillmoor ") || line[12] == ' ') continue;
        shown.push_back(line.substr(12, line.find(' ', 12) - 12));
    }
    EXPECT_EQ(shown, expected);
    EXPECT_FALSE(find_command("open")->listed);
    EXPECT_FALSE(find_command("help")->listed);
}

TEST(Dispatch, UnknownCommandLeavesNoDemonstrationFolder) {
    Captured captured;
    EXPECT_EQ(dispatch({"frobnicate", "--demo"}, captured.streams()), 2);
    EXPECT_EQ(captured.err, "Unknown command \"frobnicate\". Try: quillmoor help\n");
    // The markup of a hostile word is echoed as plain text on the console.
    Captured odd;
    EXPECT_EQ(dispatch({"<b>\x01\"x"}, odd.streams()), 2);
    EXPECT_EQ(odd.err, "Unknown command \"<b>\x01\"x\". Try: quillmoor help\n");
}

TEST(Dispatch, DemonstrationFolderIsNewEmptyAndNamedByRandomHex) {
    Result<std::string> first = make_demo_data_folder();
    Result<std::string> second = make_demo_data_folder();
    ASSERT_TRUE(first.has_value()) << first.error();
    ASSERT_TRUE(second.has_value()) << second.error();
    EXPECT_NE(*first, *second);
    const std::string temp = os::temp_folder();
    for (const std::string& path : {*first, *second}) {
        EXPECT_TRUE(path.starts_with(temp)) << path;
        std::string name = path.substr(path.find_last_of("/\\") + 1);
        EXPECT_TRUE(std::regex_match(name, std::regex("quillmoor-demo-[0-9a-f]{12}"))) << name;
        EXPECT_EQ(os::path_kind(path), os::PathKind::folder);
        Result<std::vector<os::FolderEntry>> entries = os::list_folder(path);
        ASSERT_TRUE(entries.has_value());
        EXPECT_TRUE(entries->empty());
        EXPECT_TRUE(os::remove_tree(path).has_value());
    }
}

TEST(Dispatch, WindowStartReadsPortAndBrowserChoice) {
    EXPECT_EQ(window_start(split_arguments({"--port", "8080"})).port, 8080);
    EXPECT_EQ(window_start(split_arguments({"serve", "--port"})).port, 0);
    EXPECT_EQ(window_start(split_arguments({"serve", "--port", "70000"})).port, 0);
    EXPECT_EQ(window_start(split_arguments({"serve", "--port", "abc"})).port, 0);
    EXPECT_EQ(window_start(split_arguments({"serve", "--port=8080"})).port, 0);
    EXPECT_FALSE(window_start(split_arguments({"serve", "--no-browser"})).open_browser);
    if (!os::get_env("QUILLMOOR_NO_BROWSER")) {
        EXPECT_TRUE(window_start(split_arguments({"open"})).open_browser);
    }
}

}  // namespace
}  // namespace qm::cli
