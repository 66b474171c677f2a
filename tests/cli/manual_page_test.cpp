// The manual page of the Debian package is written by hand; this keeps it
// in step with the help text: every usage line of help is in its SYNOPSIS,
// and every command word there has an entry of its own under COMMANDS.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "cli/dispatch.h"
#include "os/files.h"

namespace qm::cli {
namespace {

// The usage part of each "  quillmoor ..." line of help: the line up to the
// run of spaces that starts its description.
std::set<std::string> help_usages() {
    std::set<std::string> usages;
    std::istringstream lines(help_text());
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("  quillmoor")) continue;
        line.erase(0, 2);
        if (std::size_t gap = line.find("  "); gap != std::string::npos) line.erase(gap);
        usages.insert(line);
    }
    return usages;
}

// The page's lines from the heading `section` to the next heading, each as
// the reader sees it: without its ".B " request and with "\-" as "-".
std::vector<std::string> section_lines(const std::string& page, const std::string& section) {
    std::vector<std::string> lines;
    std::istringstream in(page);
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(".SH ")) {
            inside = line == ".SH " + section;
            continue;
        }
        if (!inside) continue;
        for (std::size_t at; (at = line.find("\\-")) != std::string::npos;) line.replace(at, 2, "-");
        if (line.starts_with(".B ")) line.erase(0, 3);
        lines.push_back(line);
    }
    return lines;
}

TEST(ManualPage, NamesEveryUsageOfHelpAndDescribesEveryCommand) {
    const Result<std::string> page = os::read_file(QM_SOURCE_DIR "/packaging/quillmoor.1");
    ASSERT_TRUE(page.has_value()) << page.error();

    const std::vector<std::string> synopsis = section_lines(*page, "SYNOPSIS");
    const std::set<std::string> listed(synopsis.begin(), synopsis.end());
    const std::set<std::string> usages = help_usages();
    ASSERT_GE(usages.size(), 18u);
    for (const std::string& usage : usages) EXPECT_TRUE(listed.contains(usage)) << "not in SYNOPSIS: " << usage;

    // Each command of SYNOPSIS is a command of the program, described under
    // COMMANDS as ".TP" followed by its word.
    const std::vector<std::string> commands = section_lines(*page, "COMMANDS");
    std::set<std::string> described;
    for (std::size_t i = 0; i + 1 < commands.size(); ++i) {
        if (commands[i] == ".TP") described.insert(commands[i + 1]);
    }
    for (const std::string& usage : listed) {
        if (!usage.starts_with("quillmoor ")) continue;
        const std::string word = usage.substr(10, usage.find(' ', 10) - 10);
        EXPECT_NE(find_command(word), nullptr) << word;
        EXPECT_TRUE(described.contains(word)) << "no entry under COMMANDS: " << word;
    }
}

}  // namespace
}  // namespace qm::cli
