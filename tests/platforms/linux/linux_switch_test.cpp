#ifdef __linux__
// Switching units, autostart files and @reboot lines of a computer built in a
// scratch folder, directly and through the engine's plans, history and undo.
#include <gtest/gtest.h>

#include "engine/engine_context.h"
#include "engine/journal.h"
#include "engine/plans.h"
#include "engine/undo.h"
#include "model/data_folder.h"
#include "platforms/linux/linux_tree.h"

namespace qm::test {
namespace {

Result<model::ChangeOutcome> switch_named(model::Platform& platform, std::string_view name, bool on) {
    const model::ScanResult scanned = platform.scan();
    const model::StartupItem* item = find_named(scanned.items, name);
    if (item == nullptr) return fail("not found: " + std::string(name));
    return platform.set_enabled(*item, on, true);
}

TEST(LinuxSwitch, SystemUnitsGoThroughSystemctlUnderTheRoot) {
    if (!systemctl_present()) GTEST_SKIP() << "systemctl is not installed (scripts/setup.sh systemd installs it)";
    LinuxTree tree;
    tree.write("/lib/systemd/system/cups.service",
               service_unit("CUPS", "/usr/sbin/cupsd -l", "multi-user.target printer.target"));
    auto platform = tree.platform(true);
    Result<model::ChangeOutcome> on = switch_named(*platform, "cups.service", true);
    ASSERT_TRUE(on.has_value()) << on.error();
    EXPECT_EQ(on->message, "cups.service will start with the computer.");
    EXPECT_TRUE(tree.exists("/etc/systemd/system/multi-user.target.wants/cups.service"));
    EXPECT_TRUE(tree.exists("/etc/systemd/system/printer.target.wants/cups.service"));
    EXPECT_TRUE(find_named(platform->scan().items, "cups.service")->enabled);

    Result<model::ChangeOutcome> off = switch_named(*platform, "cups.service", false);
    ASSERT_TRUE(off.has_value()) << off.error();
    EXPECT_EQ(off->message, "cups.service will no longer start with the computer.");
    EXPECT_FALSE(tree.exists("/etc/systemd/system/multi-user.target.wants/cups.service"));
    EXPECT_FALSE(find_named(platform->scan().items, "cups.service")->enabled);
    EXPECT_TRUE(tree.exists("/lib/systemd/system/cups.service"));

    // A unit name that systemctl would read as an option is never passed on.
    model::StartupItem odd(model::ItemKind::systemd, "Systemd unit (system)", model::Scope::machine, "systemd system",
                           "--root=/");
    odd.set_spec("unit", "--root=/");
    EXPECT_FALSE(platform->set_enabled(odd, false, false).has_value());
}

TEST(LinuxSwitch, UserUnitsAreLinkedIntoTheirTargetsOfTheUsersFolder) {
    LinuxTree tree;
    tree.write("/home/ada/.config/systemd/user/syncthing.service",
               service_unit("Syncthing", "/usr/bin/syncthing", "default.target"));
    tree.write("/home/ada/.config/systemd/user/plain.service", service_unit("No install", "/usr/bin/plain", ""));
    tree.link("/home/ada/.config/systemd/user/default.target.wants/plain.service",
              "/home/ada/.config/systemd/user/plain.service");
    auto platform = tree.platform(false);
    ASSERT_TRUE(switch_named(*platform, "syncthing.service", true).has_value());
    EXPECT_EQ(linux::link_target(tree.at("/home/ada/.config/systemd/user/default.target.wants/syncthing.service"))
                  .value_or(""),
              "/home/ada/.config/systemd/user/syncthing.service");
    ASSERT_TRUE(switch_named(*platform, "syncthing.service", false).has_value());
    EXPECT_FALSE(tree.exists("/home/ada/.config/systemd/user/default.target.wants/syncthing.service"));
    EXPECT_TRUE(tree.exists("/home/ada/.config/systemd/user/syncthing.service"));
    // A unit without [Install] that a link of the user's pulls in is switched
    // off by removing the link, and then, with nothing to start it and no way
    // to enable it, it is no longer listed.
    ASSERT_TRUE(switch_named(*platform, "plain.service", false).has_value());
    EXPECT_FALSE(tree.exists("/home/ada/.config/systemd/user/default.target.wants/plain.service"));
    EXPECT_EQ(find_named(platform->scan().items, "plain.service"), nullptr);
}

TEST(LinuxSwitch, AutostartOffWritesAMarkedCopyAndOnRemovesOnlyThatCopy) {
    LinuxTree tree;
    const std::string system_text = "[Desktop Entry]\nName=Network\nExec=nm-applet\n";
    tree.write("/etc/xdg/autostart/nm-applet.desktop", system_text);
    tree.write("/home/ada/.config/autostart/copyq.desktop",
               "[Desktop Entry]\nName=CopyQ\nExec=copyq\nX-GNOME-Autostart-enabled=false\n");
    tree.write("/etc/xdg/autostart/tracker.desktop", "[Desktop Entry]\nName=Tracker\nExec=tracker\nHidden=true\n");
    auto platform = tree.platform(false);

    Result<model::ChangeOutcome> off = switch_named(*platform, "Network", false);
    ASSERT_TRUE(off.has_value()) << off.error();
    EXPECT_EQ(off->message, "Network will no longer start when you sign in.");
    EXPECT_EQ(tree.read("/home/ada/.config/autostart/nm-applet.desktop"),
              system_text + "Hidden=true\nX-Quillmoor-Override=true\n");
    EXPECT_EQ(tree.read("/etc/xdg/autostart/nm-applet.desktop"), system_text);
    const model::ScanResult after = platform->scan();
    const model::StartupItem* network = find_named(after.items, "Network");
    ASSERT_NE(network, nullptr);
    EXPECT_FALSE(network->enabled);
    EXPECT_EQ(network->location, "/etc/xdg/autostart");  // the same item, so undo finds it

    ASSERT_TRUE(switch_named(*platform, "Network", true).has_value());
    EXPECT_FALSE(tree.exists("/home/ada/.config/autostart/nm-applet.desktop"));

    // The user's own file is edited in place and stays theirs.
    ASSERT_TRUE(switch_named(*platform, "CopyQ", true).has_value());
    EXPECT_EQ(tree.read("/home/ada/.config/autostart/copyq.desktop"),
              "[Desktop Entry]\nName=CopyQ\nExec=copyq\nX-GNOME-Autostart-enabled=true\n");
    // A system file that is off itself is switched on by a copy for this account.
    ASSERT_TRUE(switch_named(*platform, "Tracker", true).has_value());
    EXPECT_TRUE(find_named(platform->scan().items, "Tracker")->enabled);
    EXPECT_EQ(tree.read("/etc/xdg/autostart/tracker.desktop"),
              "[Desktop Entry]\nName=Tracker\nExec=tracker\nHidden=true\n");
}

TEST(LinuxSwitch, CronLinesAreCommentedOutBehindTheOwnMarkOnly) {
    LinuxTree tree;
    const std::string crontab =
        "# m h dom mon dow command\n@reboot /home/ada/bin/backup.sh\n#@reboot /home/ada/bin/old.sh\n"
        "0 5 * * * /usr/bin/daily\n";
    tree.write("/var/spool/cron/crontabs/ada", crontab);
    tree.write("/etc/cron.d/firewall", "@reboot root /usr/local/sbin/firewall-up\n");
    auto platform = tree.platform(false);
    ASSERT_TRUE(switch_named(*platform, "/home/ada/bin/backup.sh", false).has_value());
    EXPECT_EQ(
        tree.read("/var/spool/cron/crontabs/ada"),
        "# m h dom mon dow command\n#Quillmoor-off: @reboot /home/ada/bin/backup.sh\n#@reboot /home/ada/bin/old.sh\n"
        "0 5 * * * /usr/bin/daily\n");
    EXPECT_FALSE(
        switch_named(*platform, "/home/ada/bin/backup.sh", false).has_value());  // already off: nothing to find
    ASSERT_TRUE(switch_named(*platform, "/home/ada/bin/backup.sh", true).has_value());
    EXPECT_EQ(tree.read("/var/spool/cron/crontabs/ada"), crontab);

    Result<model::ChangeOutcome> refused = switch_named(*platform, "/usr/local/sbin/firewall-up", false);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().kind, ErrorKind::needs_admin);
    ASSERT_TRUE(switch_named(*tree.platform(true), "/usr/local/sbin/firewall-up", false).has_value());
    EXPECT_EQ(tree.read("/etc/cron.d/firewall"), "#Quillmoor-off: @reboot root /usr/local/sbin/firewall-up\n");
}

TEST(LinuxSwitch, TheEngineSwitchesOffRecordsAndUndoesOnTheTree) {
    LinuxTree tree;
    tree.write("/etc/xdg/autostart/nm-applet.desktop", "[Desktop Entry]\nName=Network\nExec=nm-applet\n");
    tree.write("/var/spool/cron/crontabs/ada", "@reboot /home/ada/bin/backup.sh\n");
    engine::EngineContext engine(tree.platform(false), model::data_folder_override(tree.at("/data")));
    const std::string network = engine.find_item("Network").value().id();
    const std::string backup = engine.find_item("backup.sh").value().id();

    engine::ChangeRequest off_network;
    off_network.action = model::ChangeAction::disable;
    off_network.id = network;
    off_network.ack = true;
    engine::ChangeRequest off_backup = off_network;
    off_backup.id = backup;
    const std::vector<engine::ChangeResult> results = engine::apply_changes(engine, {off_network, off_backup});
    ASSERT_EQ(results.size(), 2U);
    EXPECT_TRUE(results[0].ok) << results[0].message;
    EXPECT_TRUE(results[1].ok) << results[1].message;
    EXPECT_FALSE(engine.find_item_by_id(network)->enabled);
    EXPECT_FALSE(engine.find_item_by_id(backup)->enabled);

    for (const engine::JournalRecord& record : engine::read_journal(engine.data_folder())) {
        const Result<std::string> undone = engine::undo_change(engine, record.seq, true);
        EXPECT_TRUE(undone) << undone.error();
    }
    EXPECT_FALSE(tree.exists("/home/ada/.config/autostart/nm-applet.desktop"));
    EXPECT_EQ(tree.read("/var/spool/cron/crontabs/ada"), "@reboot /home/ada/bin/backup.sh\n");
    EXPECT_TRUE(engine.find_item_by_id(network)->enabled);
}

}  // namespace
}  // namespace qm::test
#endif
