#ifdef __linux__
// The program's own entries on a computer built in a scratch folder, the
// program lists, and the whole program run against such a tree.
#include <gtest/gtest.h>

#include "engine/engine_context.h"
#include "engine/journal.h"
#include "engine/plans.h"
#include "engine/undo.h"
#include "knowledge/assessment.h"
#include "model/data_folder.h"
#include "platforms/linux/own_entries.h"
#include "platforms/linux/program_lists.h"
#include "platforms/linux/linux_tree.h"
#include "support/run_program.h"

namespace qm::test {
namespace {

model::CreateDetails details(std::string name, std::string command, std::string mode) {
    return model::CreateDetails{std::move(name), std::move(command), "", "", std::move(mode), "ada", ""};
}

TEST(LinuxEntries, EachMethodCreatesAnEntryTheScanFindsAsOwnAndRemovalDeletesIt) {
    if (!systemctl_present()) GTEST_SKIP() << "systemctl is not installed (scripts/setup.sh systemd installs it)";
    LinuxTree tree;
    tree.write("/var/spool/cron/crontabs/ada", "@reboot /usr/bin/keep\n");
    auto platform = tree.platform(true);
    struct Case {
        std::string mode;
        std::string file;  // what the entry is on the tree
    };
    const std::vector<Case> cases{{"login", "/home/ada/.config/autostart/Quillmoor-Notes 50.desktop"},
                                  {"user-service", "/home/ada/.config/systemd/user/Quillmoor-Notes-50.service"},
                                  {"boot", "/etc/systemd/system/Quillmoor-Notes-50.service"},
                                  {"cron", ""}};
    for (const Case& c : cases) {
        Result<model::CreatedEntry> created =
            platform->create_entry(details("Notes 50%", "/usr/bin/notes --at 50%", c.mode), true);
        ASSERT_TRUE(created.has_value()) << c.mode << ": " << created.error();
        EXPECT_TRUE(created->item.managed);
        EXPECT_EQ(created->item.spec_value("mode"), c.mode);
        if (!c.file.empty()) {
            EXPECT_TRUE(tree.exists(c.file)) << c.file;
        }
        const model::ScanResult scanned = platform->scan();
        const auto found =
            std::find_if(scanned.items.begin(), scanned.items.end(),
                         [&](const model::StartupItem& item) { return item.id() == created->item.id(); });
        ASSERT_NE(found, scanned.items.end()) << c.mode << " " << created->item.id();
        EXPECT_TRUE(found->enabled) << c.mode;
        EXPECT_TRUE(found->managed) << c.mode;
        Result<model::ChangeOutcome> removed = platform->remove_entry(*found);
        ASSERT_TRUE(removed.has_value()) << c.mode << ": " << removed.error();
        if (!c.file.empty()) {
            EXPECT_FALSE(tree.exists(c.file)) << c.file;
        }
    }
    EXPECT_FALSE(tree.exists("/etc/systemd/system/multi-user.target.wants/Quillmoor-Notes-50.service"));
    EXPECT_FALSE(tree.exists("/home/ada/.config/systemd/user/default.target.wants/Quillmoor-Notes-50.service"));
    EXPECT_EQ(tree.read("/var/spool/cron/crontabs/ada"), "@reboot /usr/bin/keep\n");
}

TEST(LinuxEntries, CreationPicksFreeNamesEscapesPercentAndRefusesWhatItMustNot) {
    LinuxTree tree;
    auto platform = tree.platform(false);
    ASSERT_TRUE(platform->create_entry(details("Notes", "/usr/bin/notes", "cron"), false).has_value());
    Result<model::CreatedEntry> second = platform->create_entry(details("Notes", "date +%s", "cron"), false);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->item.name, "Quillmoor-Notes 2");
    EXPECT_EQ(tree.read("/var/spool/cron/crontabs/ada"),
              "@reboot /usr/bin/notes # Quillmoor-Notes\n@reboot date +\\%s # Quillmoor-Notes 2\n");
    ASSERT_TRUE(platform->create_entry(details("Notes", "/usr/bin/notes", "login"), false).has_value());
    ASSERT_TRUE(platform->create_entry(details("Notes", "/usr/bin/notes", "login"), false).has_value());
    EXPECT_TRUE(tree.exists("/home/ada/.config/autostart/Quillmoor-Notes 2.desktop"));

    Result<model::CreatedEntry> boot = platform->create_entry(details("Notes", "/usr/bin/notes", "boot"), false);
    ASSERT_FALSE(boot.has_value());
    EXPECT_EQ(boot.error().kind, ErrorKind::needs_admin);
    EXPECT_FALSE(tree.exists("/etc/systemd/system"));
    EXPECT_EQ(platform->create_entry(details("!!!", "/usr/bin/notes", "login"), false).error(), "A name is required.");
    EXPECT_EQ(platform->create_entry(details("a\nb", "/usr/bin/notes", "login"), false).error(),
              "The name contains a line break or control character, which is not allowed.");
    EXPECT_EQ(platform->create_entry(details("Notes", "/usr/bin/notes", "launchd"), false).error(),
              "\"launchd\" is not a way to start a program on this computer.");

    // Nothing without the program's mark in the program's own places is deleted.
    tree.write("/home/ada/.config/autostart/copyq.desktop", "[Desktop Entry]\nName=CopyQ\nExec=copyq\n");
    tree.write("/etc/xdg/autostart/Quillmoor-x.desktop", "[Desktop Entry]\nName=Quillmoor-x\nExec=x\n");
    const model::ScanResult scanned = platform->scan();
    for (const char* name : {"CopyQ", "Quillmoor-x"}) {
        const model::StartupItem* item = find_named(scanned.items, name);
        ASSERT_NE(item, nullptr) << name;
        EXPECT_FALSE(platform->remove_entry(*item).has_value()) << name;
    }
    EXPECT_TRUE(tree.exists("/home/ada/.config/autostart/copyq.desktop"));
    EXPECT_TRUE(tree.exists("/etc/xdg/autostart/Quillmoor-x.desktop"));
    EXPECT_EQ(linux::unit_slug("Ünïcode Tool (beta) 2"), "n-code-Tool-beta-2");
}

TEST(LinuxEntries, RemovingThroughTheEngineIsUndoneByCreatingItAgain) {
    LinuxTree tree;
    engine::EngineContext engine(tree.platform(false), model::data_folder_override(tree.at("/data")));
    engine::ChangeRequest create = engine::create_request("", details("Notes", "/bin/sh -c true", "login"));
    create.ack = true;
    const std::vector<engine::ChangeResult> made = engine::apply_changes(engine, {create});
    ASSERT_TRUE(made[0].ok) << made[0].message;
    ASSERT_TRUE(engine.find_item_by_id(made[0].id).has_value());
    EXPECT_TRUE(engine.find_item_by_id(made[0].id)->managed);
    engine::ChangeRequest remove;
    remove.action = model::ChangeAction::remove;
    remove.id = made[0].id;
    remove.ack = true;
    const std::vector<engine::ChangeResult> removed = engine::apply_changes(engine, {remove});
    ASSERT_TRUE(removed[0].ok) << removed[0].message;
    EXPECT_FALSE(tree.exists("/home/ada/.config/autostart/Quillmoor-Notes.desktop"));
    const std::vector<engine::JournalRecord> records = engine::read_journal(engine.data_folder());
    ASSERT_EQ(records.size(), 2U);
    const Result<std::string> undone = engine::undo_change(engine, records[1].seq, true);
    EXPECT_TRUE(undone) << undone.error();
    EXPECT_TRUE(tree.exists("/home/ada/.config/autostart/Quillmoor-Notes.desktop"));
}

TEST(LinuxPrograms, InstalledProgramsComeFromDesktopEntriesAndLinkToTheirStartupEntry) {
    LinuxTree tree;
    tree.write("/usr/share/applications/copyq.desktop",
               "[Desktop Entry]\nType=Application\nName=CopyQ\nExec=/usr/bin/copyq %U\nComment=Clipboard\n");
    tree.write("/usr/share/applications/hidden.desktop",
               "[Desktop Entry]\nType=Application\nName=Hidden\nExec=h\nNoDisplay=true\n");
    tree.write("/home/ada/.local/share/applications/copyq.desktop",
               "[Desktop Entry]\nType=Application\nName=Other\nExec=other\n");
    tree.write("/home/ada/.config/autostart/copyq.desktop", "[Desktop Entry]\nName=CopyQ\nExec=/usr/bin/copyq\n");
    auto platform = tree.platform(false);
    const model::ScanResult scanned = platform->scan();
    const model::ProgramList installed = platform->installed_programs(scanned.items);
    ASSERT_EQ(installed.items.size(), 1U);
    const model::Candidate& copyq = installed.items[0];
    EXPECT_EQ(copyq.id, "app|copyq.desktop");
    EXPECT_EQ(copyq.command, "/usr/bin/copyq");
    EXPECT_EQ(copyq.description, "Clipboard");
    EXPECT_EQ(copyq.entry_id, scanned.items[0].id());
    ASSERT_EQ(copyq.modes.size(), 4U);
    EXPECT_EQ(copyq.modes[0].id, "login");
    EXPECT_TRUE(copyq.modes[0].recommended);
    EXPECT_TRUE(copyq.modes[2].needs_admin);

    // This machine's own processes, read from the real /proc.
    linux::LinuxContext real = tree.context(false);
    real.root = {};
    linux::ProcessCount count;
    const model::ProgramList running = linux::list_running(real, {}, &count);
    EXPECT_GT(count.inspected, 0U);
    const bool self_found =
        std::any_of(running.items.begin(), running.items.end(), [](const model::Candidate& candidate) {
            return candidate.exe.ends_with("/quillmoor_tests") && !candidate.pids.empty();
        });
    EXPECT_TRUE(self_found);
}

TEST(LinuxProgram, TheProgramListsSwitchesAndUndoesOnATreeWithItsHistoryInside) {
    LinuxTree tree;
    tree.write("/etc/xdg/autostart/nm-applet.desktop", "[Desktop Entry]\nName=Network\nExec=nm-applet\n");
    const std::string home = linux::current_identity().home;
    const std::vector<std::pair<std::string, std::string>> environment{{"QUILLMOOR_LINUX_ROOT", tree.root()},
                                                                       {"XDG_DATA_HOME", ""}};
    const ProgramRun listed = run_program({"list"}, environment);
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_NE(listed.out.find("Network"), std::string::npos) << listed.out;
    const ProgramRun off = run_program({"disable", "Network", "--yes"}, environment);
    EXPECT_EQ(off.exit_code, 0) << off.out << off.err;
    EXPECT_TRUE(tree.exists(home + "/.config/autostart/nm-applet.desktop"));

    // The history went under the root, not into this machine's folders.
    const std::string journal =
        tree.at(linux::current_identity().root ? "/var/lib/quillmoor/journal.jsonl"
                                               : home + "/.local/share/quillmoor/journal.jsonl");
    const std::vector<engine::JournalRecord> records = engine::read_journal_file(journal);
    ASSERT_EQ(records.size(), 1U);
    const ProgramRun undone = run_program({"undo", std::to_string(records[0].seq), "--yes"}, environment);
    EXPECT_EQ(undone.exit_code, 0) << undone.out << undone.err;
    EXPECT_FALSE(tree.exists(home + "/.config/autostart/nm-applet.desktop"));
}

}  // namespace
}  // namespace qm::test
#endif
