#ifdef __linux__
// Starting later on a computer in a scratch folder: a sign-in program through
// an own entry (GNOME's delayed autostart file, or a user timer elsewhere), a
// timer through a drop-in; taking each back leaves every file as it was.
#include <functional>
#include <map>

#include <gtest/gtest.h>

#include "engine/journal.h"
#include "model/start_ways.h"
#include "platforms/linux/exact_files.h"
#include "platforms/linux/linux_tree.h"
#include "support/run_program.h"
#include "util/text.h"

namespace qm::test {
namespace {

std::unique_ptr<model::Platform> platform_on(const LinuxTree& tree, bool admin, std::string desktop) {
    linux::LinuxContext context = tree.context(admin);
    context.current_desktop = std::move(desktop);
    return std::make_unique<linux::LinuxPlatform>(context, [] { return knowledge::builtin_pack().locations; });
}

const model::StartupItem* find_id(const std::vector<model::StartupItem>& items, const std::string& id) {
    for (const model::StartupItem& item : items) {
        if (item.id() == id) return &item;
    }
    return nullptr;
}

TEST(LinuxLater, ASignInProgramStartsLaterThroughAnOwnEntryAndComesBackByteForByte) {
    struct Case {
        std::string desktop;
        std::string file;  // the program's autostart file
        std::string text;
        std::string own_file;  // the own entry made, and what it must hold
        std::vector<std::string> own_lines;
        std::string link;  // what enables it, if anything
        std::vector<std::string> service_lines;  // of the service a timer starts
    };
    const std::vector<Case> cases{
        {"ubuntu:GNOME",
         "/etc/xdg/autostart/firefox.desktop",
         "[Desktop Entry]\nName=Firefox\nExec=firefox --new-window %u\n",
         "/home/ada/.config/autostart/quillmoor-later-firefox.desktop",
         {"Exec=firefox --new-window %u\n", "X-GNOME-Autostart-Delay=120\n",
          "X-Quillmoor-Delays=autostart|machine|/etc/xdg/autostart|Firefox\n"},
         "",
         {}},
        {"XFCE",
         "/home/ada/.config/autostart/firefox.desktop",
         "[Desktop Entry]\r\nName=Firefox\r\nExec=\"/opt/fire fox/run\" --rate=50%% %U\r\nPath=/opt/fire fox\r\n",
         "/home/ada/.config/systemd/user/quillmoor-later-firefox.timer",
         {"OnStartupSec=120s\n", "WantedBy=timers.target\n",
          "X-Quillmoor-Delays=autostart|user|~/.config/autostart|Firefox\n"},
         "/home/ada/.config/systemd/user/timers.target.wants/quillmoor-later-firefox.timer",
         {"ExecStart=\"/opt/fire fox/run\" --rate=50%%\n", "WorkingDirectory=/opt/fire fox\n"}},
    };
    for (const Case& one : cases) {
        SCOPED_TRACE(one.desktop);
        LinuxTree tree;
        tree.write(one.file, one.text);
        const auto before = files_of(tree.root());
        auto platform = platform_on(tree, false, one.desktop);
        const model::StartupItem firefox = *find_named(platform->scan().items, "Firefox");
        ASSERT_EQ(firefox.ways.later, model::LaterKind::after_sign_in);

        Result<model::WayOutcome> later =
            platform->set_start_way(firefox, model::WayRequest{model::ChangeAction::later, 120, nullptr});
        ASSERT_TRUE(later) << later.error();
        EXPECT_EQ(later->outcome.message, "Firefox will start 2 minutes after you sign in.");
        const std::string own_text = tree.read(one.own_file);
        for (const std::string& line : one.own_lines) EXPECT_NE(own_text.find(line), std::string::npos) << own_text;
        if (!one.link.empty()) {
            EXPECT_EQ(linux::link_target(tree.at(one.link)).value_or(""), one.own_file);
            const std::string service = tree.read(one.own_file.substr(0, one.own_file.size() - 5) + "service");
            for (const std::string& line : one.service_lines)
                EXPECT_NE(service.find(line), std::string::npos) << service;
        }

        const std::vector<model::StartupItem> items = platform->scan().items;
        const model::StartupItem* own = find_id(items, later->own_entry);
        ASSERT_NE(own, nullptr) << later->own_entry;
        EXPECT_TRUE(own->managed);
        EXPECT_EQ(own->origin, model::Origin::own_entry);
        EXPECT_EQ(own->ways.delays, firefox.id());
        EXPECT_EQ(own->ways.taken_seconds, 120U);
        EXPECT_EQ(own->ways.later, model::LaterKind::none);
        EXPECT_EQ(own->state_text, "Starts Firefox 2 minutes after sign-in");
        const model::StartupItem* off = find_id(items, firefox.id());
        ASSERT_NE(off, nullptr);
        EXPECT_FALSE(off->enabled);

        Result<model::WayOutcome> back =
            platform->set_start_way(*off, model::WayRequest{model::ChangeAction::on_time, 0, own});
        ASSERT_TRUE(back) << back.error();
        EXPECT_EQ(files_of(tree.root()), before);
    }
}

TEST(LinuxLater, ATimerThatFiresAtBootFiresLaterThroughADropInAndBack) {
    struct Case {
        std::string unit_file;
        std::string link;
        bool admin = false;
        std::string dropin;
        std::string restated;  // the drop-in's lines after its comment
        std::string message;
    };
    const std::string triggers = "[Timer]\nOnCalendar=weekly\nOnBootSec=15min\nOnStartupSec=1h\nOnUnitActiveSec=1w\n";
    const std::vector<Case> cases{
        {"/lib/systemd/system/fstrim.timer", "/etc/systemd/system/timers.target.wants/fstrim.timer", true,
         "/etc/systemd/system/fstrim.timer.d/quillmoor-later.conf",
         "[Timer]\nOnBootSec=\nOnCalendar=weekly\nOnBootSec=300s\nOnStartupSec=300s\nOnUnitActiveSec=1w\n",
         "fstrim.timer will fire 5 minutes after boot."},
        {"/home/ada/.config/systemd/user/fstrim.timer",
         "/home/ada/.config/systemd/user/timers.target.wants/fstrim.timer", false,
         "/home/ada/.config/systemd/user/fstrim.timer.d/quillmoor-later.conf",
         "[Timer]\nOnBootSec=\nOnCalendar=weekly\nOnBootSec=300s\nOnStartupSec=300s\nOnUnitActiveSec=1w\n",
         "fstrim.timer will fire 5 minutes after boot."},
    };
    for (const Case& one : cases) {
        SCOPED_TRACE(one.unit_file);
        LinuxTree tree;
        tree.write(one.unit_file, "[Unit]\nDescription=Trim\n\n" + triggers + "\n[Install]\nWantedBy=timers.target\n");
        tree.link(one.link, one.unit_file);
        // Only a timer that fires at boot can fire later.
        tree.write("/lib/systemd/system/daily.timer",
                   "[Timer]\nOnCalendar=daily\n\n[Install]\nWantedBy=timers.target\n");
        tree.link("/etc/systemd/system/timers.target.wants/daily.timer", "/lib/systemd/system/daily.timer");
        const auto before = files_of(tree.root());
        auto platform = tree.platform(one.admin);
        const std::vector<model::StartupItem> items = platform->scan().items;
        EXPECT_EQ(find_named(items, "daily.timer")->ways.later, model::LaterKind::none);
        const model::StartupItem timer = *find_named(items, "fstrim.timer");
        ASSERT_EQ(timer.ways.later, model::LaterKind::after_boot);

        Result<model::WayOutcome> later =
            platform->set_start_way(timer, model::WayRequest{model::ChangeAction::later, 300, nullptr});
        ASSERT_TRUE(later) << later.error();
        EXPECT_EQ(later->outcome.message, one.message);
        const std::string dropin = tree.read(one.dropin);
        EXPECT_EQ(dropin.substr(dropin.find('\n') + 1), one.restated);
        const model::StartupItem moved = *find_named(platform->scan().items, "fstrim.timer");
        EXPECT_EQ(moved.ways.taken, model::ChangeAction::later);
        EXPECT_EQ(moved.ways.taken_seconds, 300U);

        Result<model::WayOutcome> back =
            platform->set_start_way(moved, model::WayRequest{model::ChangeAction::on_time, 0, nullptr});
        ASSERT_TRUE(back) << back.error();
        EXPECT_EQ(files_of(tree.root()), before);
        EXPECT_FALSE(find_named(platform->scan().items, "fstrim.timer")->ways.taken);
    }
}

TEST(LinuxProgram, DelayAndItsUndoLeaveTheRootAsItWas) {
    ProgramOnTree on;
    on.tree.write("/etc/xdg/autostart/firefox.desktop", "[Desktop Entry]\nName=Firefox\nExec=firefox %u\n");
    const auto before = on.files();
    const ProgramRun delayed = on.run({"delay", "Firefox", "--minutes", "2", "--yes"}, "GNOME");
    ASSERT_EQ(delayed.exit_code, 0) << delayed.out << delayed.err;
    EXPECT_NE(on.tree.read(on.home + "/.config/autostart/quillmoor-later-firefox.desktop")
                  .find("X-GNOME-Autostart-Delay=120\n"),
              std::string::npos);
    const std::vector<engine::JournalRecord> records = on.history();
    ASSERT_EQ(records.size(), 1U);
    const ProgramRun undone = on.run({"undo", std::to_string(records[0].seq), "--yes"}, "GNOME");
    EXPECT_EQ(undone.exit_code, 0) << undone.out << undone.err;
    EXPECT_EQ(on.files(), before);
}

TEST(LinuxProgram, StaggerStartsEachLaterThanTheOneBeforeAndEachUndoes) {
    ProgramOnTree on;
    const std::vector<std::string> names{"Alpha", "Beta", "Gamma"};
    for (const std::string& name : names)
        on.tree.write("/etc/xdg/autostart/" + name + ".desktop",
                      "[Desktop Entry]\nName=" + name + "\nExec=/usr/bin/" + name + "\n");
    const auto before = on.files();
    const ProgramRun staggered = on.run({"stagger", "Alpha", "Beta", "Gamma", "--yes"}, "KDE");
    ASSERT_EQ(staggered.exit_code, 0) << staggered.out << staggered.err;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string timer = on.tree.read(on.home + "/.config/systemd/user/quillmoor-later-" +
                                               to_lower_ascii(names[i]) + ".timer");
        EXPECT_NE(timer.find("OnStartupSec=" + std::to_string(30 * (i + 1)) + "s\n"), std::string::npos) << timer;
    }
    const std::vector<engine::JournalRecord> records = on.history();
    ASSERT_EQ(records.size(), 3U);
    for (const engine::JournalRecord& record : records) {
        const ProgramRun undone = on.run({"undo", std::to_string(record.seq), "--yes"}, "KDE");
        EXPECT_EQ(undone.exit_code, 0) << undone.out << undone.err;
    }
    EXPECT_EQ(on.files(), before);
}

}  // namespace
}  // namespace qm::test
#endif
