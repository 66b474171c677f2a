#ifdef __linux__
// The Linux platform's scan and switches against a computer built in a
// scratch folder: units and their links, autostart files, crontabs, packages.
#include <gtest/gtest.h>

#include "formats/desktop_file.h"
#include "platforms/linux/linux_platform.h"
#include "platforms/linux/packages.h"
#include "formats/unit_file.h"
#include "platforms/linux/linux_tree.h"

namespace qm::test {
namespace {

// The tree every test here starts from.
void build_computer(const LinuxTree& tree) {
    tree.write("/etc/os-release", "NAME=\"Test\"\nPRETTY_NAME=\"Test Linux 12 (\\\"bookworm\\\")\"\n");
    tree.write("/lib/systemd/system/ssh.service",
               service_unit("OpenBSD Secure Shell server", "/usr/sbin/sshd -D", "multi-user.target"));
    tree.link("/etc/systemd/system/multi-user.target.wants/ssh.service", "/lib/systemd/system/ssh.service");
    tree.write("/lib/systemd/system/cups.service",
               service_unit("CUPS Scheduler", "/usr/sbin/cupsd -l", "multi-user.target"));
    tree.write("/lib/systemd/system/systemd-journald.service",
               service_unit("Journal Service", "/lib/systemd/systemd-journald", ""));
    tree.link("/lib/systemd/system/sysinit.target.wants/systemd-journald.service", "../systemd-journald.service");
    tree.write("/lib/systemd/system/bluetooth.service",
               service_unit("Bluetooth service", "/usr/libexec/bluetoothd", "bluetooth.target"));
    tree.link("/etc/systemd/system/bluetooth.service", "/dev/null");
    tree.write("/lib/systemd/system/getty@.service", service_unit("Getty on %I", "-/sbin/agetty %I", "getty.target"));
    tree.link("/etc/systemd/system/getty.target.wants/getty@tty1.service", "/lib/systemd/system/getty@.service");
    tree.write("/lib/systemd/system/static-only.service", service_unit("Pulled in by others", "/bin/true", ""));
    tree.link("/etc/systemd/system/sshd.service", "/lib/systemd/system/ssh.service");  // an alias, not a unit
    tree.write("/lib/systemd/system/other.mount",
               "[Install]\nWantedBy=multi-user.target\n");  // not a type the pack names

    tree.write("/home/ada/.config/systemd/user/syncthing.service",
               service_unit("Syncthing", "/usr/bin/syncthing serve", "default.target"));
    tree.link("/home/ada/.config/systemd/user/default.target.wants/syncthing.service",
              "/home/ada/.config/systemd/user/syncthing.service");

    tree.write(
        "/etc/xdg/autostart/nm-applet.desktop",
        "[Desktop Entry]\nType=Application\nName=Network\nExec=nm-applet %U\nOnlyShowIn=GNOME;XFCE;\nNotShowIn=KDE;\n");
    tree.write("/etc/xdg/autostart/blueman.desktop",
               "[Desktop Entry]\nName=Blueman Applet\nExec=blueman-applet\nNotShowIn=KDE;\n");
    tree.write("/home/ada/.config/autostart/blueman.desktop",
               "[Desktop Entry]\nName=Blueman Applet\nExec=blueman-applet\nHidden=true\n");
    tree.write("/home/ada/.config/autostart/copyq.desktop",
               "[Desktop Entry]\nName=CopyQ\nExec=copyq\nX-GNOME-Autostart-enabled=false\n");

    tree.write("/var/spool/cron/crontabs/ada",
               "# m h dom mon dow command\n@reboot /home/ada/bin/backup.sh --quiet\n#@reboot /home/ada/bin/old.sh\n"
               "#Quillmoor-off: @reboot /usr/bin/conky\n0 5 * * * /usr/bin/daily\n");
    tree.write("/etc/crontab",
               "SHELL=/bin/sh\n@reboot root /usr/local/sbin/firewall-up\n17 * * * * root run-parts /etc/cron.hourly\n");
    tree.write("/etc/cron.d/e2scrub", "@reboot root test -e /run/systemd/system || /sbin/e2scrub_all -A -r\n");
    tree.write("/etc/cron.d/skipped.dpkg-old", "@reboot root /bin/never\n");

    tree.write("/var/lib/dpkg/status",
               "Package: systemd\nStatus: install ok installed\nPriority: important\nVersion: 1\nArchitecture: all\n"
               "Maintainer: m <m@x>\nDescription: d\n\n"
               "Package: cupsys\nStatus: install ok installed\nPriority: optional\nVersion: 1\nArchitecture: all\n"
               "Maintainer: m <m@x>\nDescription: d\n\n"
               "Package: e2fsprogs\nStatus: install ok installed\nPriority: required\nEssential: yes\nVersion: 1\n"
               "Architecture: all\nMaintainer: m <m@x>\nDescription: d\n");
    tree.write("/var/lib/dpkg/info/systemd.list", "/lib/systemd/system/systemd-journald.service\n");
    tree.write("/var/lib/dpkg/info/cupsys.list", "/lib/systemd/system/cups.service\n");
    tree.write("/var/lib/dpkg/info/e2fsprogs.list", "/etc/cron.d/e2scrub\n");
}

TEST(LinuxScan, ReadsUnitsAutostartFilesAndCronInOrderWithTheirStates) {
    LinuxTree tree;
    build_computer(tree);
    const model::ScanResult scanned = tree.platform(true)->scan();
    std::vector<std::string> names;
    for (const model::StartupItem& item : scanned.items)
        names.push_back(std::string(model::word_text(item.kind)) + ":" + item.name);
    const std::vector<std::string> expected{
        // /etc first (by name, its *.wants folders included), then the vendor folder; a
        // template without a default instance is shown only through its instances.
        "systemd:bluetooth.service",
        "systemd:getty@tty1.service",
        "systemd:ssh.service",
        "systemd:cups.service",
        "systemd:systemd-journald.service",
        "systemd-user:syncthing.service",
        "autostart:Blueman Applet",
        "autostart:Network",
        "autostart:CopyQ",
        "cron:/home/ada/bin/backup.sh --quiet",
        "cron:/usr/bin/conky",
        "cron:/usr/local/sbin/firewall-up",
        "cron:test -e /run/systemd/system || /sbin/e2scrub_all -A -r"};
    EXPECT_EQ(names, expected);

    const model::StartupItem* ssh = find_named(scanned.items, "ssh.service");
    ASSERT_NE(ssh, nullptr);
    EXPECT_TRUE(ssh->enabled);
    EXPECT_EQ(ssh->scope, model::Scope::machine);
    EXPECT_EQ(ssh->exe, "/usr/sbin/sshd");
    EXPECT_EQ(ssh->description, "OpenBSD Secure Shell server");
    EXPECT_EQ(ssh->spec_value("state"), "enabled");
    EXPECT_EQ(ssh->toggle, model::Toggle::ok);

    const model::StartupItem* cups = find_named(scanned.items, "cups.service");
    ASSERT_NE(cups, nullptr);
    EXPECT_FALSE(cups->enabled);
    EXPECT_EQ(cups->package, "cupsys");
    EXPECT_EQ(cups->spec_value("pkg_priority"), "optional");
    EXPECT_EQ(cups->origin, model::Origin::installed_program);

    const model::StartupItem* journald = find_named(scanned.items, "systemd-journald.service");
    ASSERT_NE(journald, nullptr);
    EXPECT_TRUE(journald->enabled);  // a package's own link starts it
    EXPECT_EQ(journald->toggle, model::Toggle::locked);
    EXPECT_EQ(journald->spec_value("state"), "static");
    EXPECT_EQ(journald->spec_value("pkg_priority"), "important");

    const model::StartupItem* masked = find_named(scanned.items, "bluetooth.service");
    ASSERT_NE(masked, nullptr);
    EXPECT_FALSE(masked->enabled);
    EXPECT_EQ(masked->spec_value("state"), "masked");
    EXPECT_EQ(masked->toggle, model::Toggle::locked);

    const model::StartupItem* instance = find_named(scanned.items, "getty@tty1.service");
    ASSERT_NE(instance, nullptr);
    EXPECT_TRUE(instance->enabled);
    EXPECT_EQ(instance->exe, "/sbin/agetty");

    const model::StartupItem* own_unit = find_named(scanned.items, "syncthing.service");
    ASSERT_NE(own_unit, nullptr);
    EXPECT_TRUE(own_unit->enabled);
    EXPECT_EQ(own_unit->scope, model::Scope::user);

    const model::StartupItem* blueman = find_named(scanned.items, "Blueman Applet");
    ASSERT_NE(blueman, nullptr);
    EXPECT_FALSE(blueman->enabled);  // the user's copy hides the system file
    EXPECT_EQ(blueman->location, "/etc/xdg/autostart");
    const model::StartupItem* network = find_named(scanned.items, "Network");
    ASSERT_NE(network, nullptr);
    EXPECT_TRUE(network->enabled);
    EXPECT_EQ(network->command, "nm-applet");
    EXPECT_NE(network->description.find("Starts only in: GNOME, XFCE. Does not start in: KDE."), std::string::npos);
    const model::StartupItem* copyq = find_named(scanned.items, "CopyQ");
    ASSERT_NE(copyq, nullptr);
    EXPECT_FALSE(copyq->enabled);
    EXPECT_EQ(copyq->location, "~/.config/autostart");

    const model::StartupItem* conky = find_named(scanned.items, "/usr/bin/conky");
    ASSERT_NE(conky, nullptr);
    EXPECT_FALSE(conky->enabled);
    const model::StartupItem* e2scrub =
        find_named(scanned.items, "test -e /run/systemd/system || /sbin/e2scrub_all -A -r");
    ASSERT_NE(e2scrub, nullptr);
    EXPECT_EQ(e2scrub->spec_value("run_as"), "root");
    EXPECT_EQ(e2scrub->origin, model::Origin::operating_system);
    EXPECT_EQ(e2scrub->spec_value("pkg_priority"), "essential");
}

TEST(LinuxScan, ToggleNeedsRootForMachineItemsOnly) {
    LinuxTree tree;
    build_computer(tree);
    const model::ScanResult scanned = tree.platform(false)->scan();
    EXPECT_EQ(find_named(scanned.items, "ssh.service")->toggle, model::Toggle::admin);
    EXPECT_EQ(find_named(scanned.items, "/usr/local/sbin/firewall-up")->toggle, model::Toggle::admin);
    EXPECT_EQ(find_named(scanned.items, "syncthing.service")->toggle, model::Toggle::ok);
    EXPECT_EQ(find_named(scanned.items, "/home/ada/bin/backup.sh --quiet")->toggle, model::Toggle::ok);
    EXPECT_EQ(find_named(scanned.items, "Network")->toggle, model::Toggle::ok);
    Result<model::ChangeOutcome> refused =
        tree.platform(false)->set_enabled(*find_named(scanned.items, "ssh.service"), false, false);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().kind, ErrorKind::needs_admin) << refused.error().message;
    EXPECT_TRUE(tree.exists("/etc/systemd/system/multi-user.target.wants/ssh.service"));
}

TEST(LinuxScan, FactsNameTheDistributionAndAnEmptyTreeScansToNothing) {
    LinuxTree tree;
    tree.write("/etc/os-release", "NAME=\"Test\"\nPRETTY_NAME=\"Test Linux 12 (\\\"bookworm\\\")\"\n");
    const model::SystemFacts facts = linux::read_linux_facts(linux::LinuxRoot{tree.root()});
    EXPECT_EQ(facts.os, "linux");
    EXPECT_EQ(facts.os_version, "Test Linux 12 (\"bookworm\")");
    EXPECT_EQ(linux::os_release_name("NAME=Plain\nVERSION='3 (x)'\n"), "Plain 3 (x)");
    EXPECT_EQ(linux::os_release_name(""), "Linux");
    const model::ScanResult scanned = tree.platform(false)->scan();
    EXPECT_TRUE(scanned.items.empty());
}

// Owners come from dpkg's own files without starting dpkg: every state but
// "not-installed" counts, a package of several architectures keeps its list
// under its architecture, either spelling of a merged /usr matches, the first
// package in the status file names a shared file, a line may span two pieces
// of a list read. While dpkg's journal holds changes only dpkg itself can
// merge them, so dpkg is asked.
TEST(LinuxPackages, OwnersAreReadFromDpkgsFilesAndDpkgAnswersWhileItsJournalHoldsChanges) {
    LinuxTree tree;
    tree.write("/var/lib/dpkg/status",
               "Package: systemd\nStatus: install ok installed\nPriority: important\nConffiles:\n /etc/x 0\n\n"
               "Package: libx\nstatus: install ok installed\nMulti-Arch: same\nArchitecture: amd64\n"
               "Priority: Optional\n\n"
               "Package: gone\nStatus: deinstall ok config-files\nPriority: extra\n\n"
               "Package: purged\nStatus: purge ok not-installed\nPriority: optional\n\n"
               "Package: ../outside\nStatus: install ok installed\n\n"
               "Package: base\nStatus: install ok installed\nPriority: required\nEssential: yes\n\n"
               "Package: first\nStatus: install ok unpacked\nPriority: standard\n\n"
               "Package: second\nStatus: install ok installed\nPriority: optional");
    tree.write("/var/lib/dpkg/info/systemd.list", "/.\n/usr/lib/systemd/system/a.service\n/lib/systemd/system/a.d\n");
    tree.write("/var/lib/dpkg/info/libx:amd64.list", "/lib/systemd/system/b.service\n");
    tree.write("/var/lib/dpkg/info/gone.list", "/etc/init.d/c\n");
    tree.write("/var/lib/dpkg/info/purged.list", "/lib/systemd/system/d.service\n");
    tree.write("/var/lib/dpkg/outside.list", "/etc/cron.d/e\n");  // a name is never a path
    tree.write("/var/lib/dpkg/info/base.list", "/etc/cron.d/e");
    tree.write("/var/lib/dpkg/info/first.list", "/lib/systemd/system/f.service\n");
    // A list is read in pieces of 64 KiB: g.service's line spans the first two.
    tree.write("/var/lib/dpkg/info/second.list",
               "/lib/systemd/system/f.service\n/" + std::string(65494, 'x') + "\n/lib/systemd/system/g.service\n");
    std::vector<std::string> calls;
    const os::ToolRunner runner = [&](const os::ToolRun& run) {
        calls.push_back(run.program);
        os::RunOutput output;
        output.exit_code = 0;
        output.out = run.program == "dpkg" ? "journal: /etc/init.d/c\n" : "journal\toptional\tno\n";
        return output;
    };
    const std::vector<std::string> paths{"/lib/systemd/system/a.service",
                                         "/lib/systemd/system/b.service",
                                         "/etc/init.d/c",
                                         "/lib/systemd/system/d.service",
                                         "/etc/cron.d/e",
                                         "/lib/systemd/system/f.service",
                                         "/lib/systemd/system/a.d/x.conf",
                                         "/lib/systemd/system/g.service"};
    const std::map<std::string, std::string> expected{{"/lib/systemd/system/a.service", "systemd important"},
                                                      {"/lib/systemd/system/b.service", "libx optional"},
                                                      {"/etc/init.d/c", "gone extra"},
                                                      {"/etc/cron.d/e", "base essential"},
                                                      {"/lib/systemd/system/f.service", "first standard"},
                                                      {"/lib/systemd/system/g.service", "second optional"}};
    auto owners_text = [&] {
        std::map<std::string, std::string> found;
        for (const auto& [path, info] : linux::package_owners(paths, linux::LinuxRoot{tree.root()}, runner))
            found[path] = info.name + " " + info.priority;
        return found;
    };
    EXPECT_EQ(owners_text(), expected);
    EXPECT_TRUE(calls.empty());

    tree.write("/var/lib/dpkg/updates/0001", "Package: gone\nStatus: purge ok not-installed\n");
    EXPECT_EQ(owners_text(), (std::map<std::string, std::string>{{"/etc/init.d/c", "journal optional"}}));
    EXPECT_EQ(calls, (std::vector<std::string>{"dpkg", "dpkg-query"}));
}

TEST(LinuxFiles, DesktopAndUnitFilesAreReadAsLaunchersAndSystemdReadThem) {
    formats::DesktopFile file("# c\n[Desktop Entry]\nName=A\nName[de]=B\nHidden=TRUE\n\n[Desktop Action x]\nName=C\n");
    EXPECT_EQ(file.get("Name"), "A");
    EXPECT_TRUE(file.flag("Hidden"));
    file.set("Hidden", "false");
    file.set("X-New", "1");
    EXPECT_EQ(file.text(),
              "# c\n[Desktop Entry]\nName=A\nName[de]=B\nHidden=false\nX-New=1\n\n[Desktop Action x]\nName=C\n");
    formats::DesktopFile bare("");
    bare.set("Hidden", "true");
    EXPECT_EQ(bare.text(), "[Desktop Entry]\nHidden=true\n");
    EXPECT_EQ(formats::desktop_exec_command("\"/opt/My App/app\" --x %U"), "\"/opt/My App/app\" --x");
    // Inner quotes are shown escaped, as the Exec line needs them.
    EXPECT_EQ(formats::desktop_exec_command("sh -c \"echo \\\"hi\\\" > \\$HOME/x\""),
              "sh -c \"echo \\\"hi\\\" > \\$HOME/x\"");
    formats::DesktopFile crlf("[Desktop Entry]\r\nName=A\r\nHidden=true");
    crlf.set("Hidden", "false");
    crlf.set("X-New", "1");
    EXPECT_EQ(crlf.text(), "[Desktop Entry]\r\nName=A\r\nHidden=false\r\nX-New=1\r\n");

    const formats::UnitFile unit = formats::parse_unit_file(
        "[Service]\nExecStart=-/usr/bin/a \\\n  --long\n[Install]\nWantedBy=a.target "
        "b.target\nWantedBy=\nWantedBy=c.target\n"
        "RequiredBy=d.target\n");
    EXPECT_EQ(unit.exec_start, "/usr/bin/a --long");
    EXPECT_EQ(unit.wanted_by, std::vector<std::string>{"c.target"});
    EXPECT_EQ(unit.required_by, std::vector<std::string>{"d.target"});
    EXPECT_EQ(formats::template_of("getty@tty1.service"), "getty@.service");
    EXPECT_EQ(formats::template_of("plain.service"), "plain.service");
}

}  // namespace
}  // namespace qm::test
#endif
