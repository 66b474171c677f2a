#ifdef __linux__
// What the Linux scan says starts, on a computer in a scratch folder, as
// systemd and the autostart rules decide it: aliases, split /usr, path units
// and targets, generated units, drop-ins, conditions, masks, every account's
// crontab, and the SSH server under an SSH session.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "engine/engine_context.h"
#include "engine/plans.h"
#include "model/data_folder.h"
#include "platforms/linux/linux_tree.h"

namespace qm::test {
namespace {

void build(const LinuxTree& tree) {
    tree.write("/etc/machine-id", "0123456789abcdef0123456789abcdef\n");
    // As Debian ships it: the alias names the package's own alias of the unit.
    tree.write("/lib/systemd/system/gdm.service",
               "[Unit]\nDescription=GNOME Display Manager\n[Service]\nExecStart=/usr/sbin/gdm3\n");
    tree.link("/lib/systemd/system/gdm3.service", "gdm.service");
    tree.link("/etc/systemd/system/display-manager.service", "/lib/systemd/system/gdm3.service");
    tree.write("/lib/systemd/system/getty@.service",
               "[Service]\nExecStart=/sbin/agetty %I\nConditionPathExists=/dev/tty0\n[Unit]\n"
               "ConditionPathExists=/dev/tty0\n[Install]\nWantedBy=getty.target\nDefaultInstance=tty1\n");
    tree.link("/etc/systemd/system/getty.target.wants/getty@tty1.service", "/lib/systemd/system/getty@.service");
    tree.write("/usr/lib/systemd/system/split.service", service_unit("Split", "/usr/bin/split", "multi-user.target"));
    tree.link("/etc/systemd/system/multi-user.target.wants/split.service", "/usr/lib/systemd/system/split.service");
    tree.write("/etc/systemd/system/split.service.d/override.conf",
               "[Unit]\nDescription=Overridden\n[Service]\nExecStart=\nExecStart=/usr/bin/split --new\n");
    tree.write("/lib/systemd/system/cups.path",
               "[Path]\nPathExists=/var/cache/cups/org.cups.cupsd\n"
               "[Install]\nWantedBy=multi-user.target\n");
    tree.link("/etc/systemd/system/multi-user.target.wants/cups.path", "/lib/systemd/system/cups.path");
    tree.write("/lib/systemd/system/remote-fs.target",
               "[Unit]\nDescription=Remote\n[Install]\nWantedBy=multi-user.target\n");
    tree.link("/etc/systemd/system/multi-user.target.wants/remote-fs.target", "/lib/systemd/system/remote-fs.target");
    tree.write("/etc/init.d/oldd", "#!/bin/sh\n### BEGIN INIT INFO\n# Short-Description: Old daemon\n");
    tree.link("/etc/rc2.d/S01oldd", "../init.d/oldd");
    tree.write("/etc/rc.local", "#!/bin/sh\nexit 0\n");
    for (const char* script : {"/etc/init.d/oldd", "/etc/rc.local"})
        ASSERT_EQ(::chmod(tree.at(script).c_str(), 0755), 0);
    tree.write("/lib/systemd/system/initrd-thing.service", service_unit("In the RAM disk", "/bin/thing", ""));
    tree.link("/lib/systemd/system/initrd.target.wants/initrd-thing.service", "../initrd-thing.service");
    tree.write("/lib/systemd/system/never.service",
               "[Unit]\nConditionPathExists=/etc/never\n[Service]\nExecStart=/bin/n\n"
               "[Install]\nWantedBy=multi-user.target\n");
    tree.link("/etc/systemd/system/multi-user.target.wants/never.service", "/lib/systemd/system/never.service");
    tree.write("/lib/systemd/system/first.service",
               "[Unit]\nConditionFirstBoot=yes\n[Service]\nExecStart=/bin/f\n"
               "[Install]\nWantedBy=multi-user.target\n");
    tree.link("/etc/systemd/system/multi-user.target.wants/first.service", "/lib/systemd/system/first.service");
    tree.write("/lib/systemd/system/vm.service",
               "[Unit]\nConditionVirtualization=!container\n[Service]\nExecStart=/bin/v\n"
               "[Install]\nWantedBy=multi-user.target\n");
    tree.link("/etc/systemd/system/multi-user.target.wants/vm.service", "/lib/systemd/system/vm.service");
    tree.write("/lib/systemd/system/kmod.service",
               "[Unit]\nConditionFileNotEmpty=/lib/modules/%v/modules.devname\n[Service]\nExecStart=/bin/k\n"
               "[Install]\nWantedBy=multi-user.target\n");
    tree.link("/etc/systemd/system/multi-user.target.wants/kmod.service", "/lib/systemd/system/kmod.service");
    tree.write("/lib/systemd/system/ssh.service", service_unit("OpenSSH", "/usr/sbin/sshd -D", "multi-user.target"));
    tree.link("/etc/systemd/system/multi-user.target.wants/ssh.service", "/lib/systemd/system/ssh.service");
    tree.write("/lib/systemd/system/bluetooth.service",
               service_unit("Bluetooth", "/usr/libexec/bluetoothd", "x.target"));
    tree.link("/etc/systemd/system/bluetooth.service", "/dev/null");

    tree.write("/usr/lib/systemd/user/pipewire.service",
               service_unit("PipeWire", "/usr/bin/pipewire", "default.target"));
    tree.link("/etc/systemd/user/default.target.wants/pipewire.service", "/usr/lib/systemd/user/pipewire.service");
    tree.link("/home/ada/.config/systemd/user/pipewire.service", "/dev/null");

    tree.write("/etc/xdg/autostart/tryexec.desktop", "[Desktop Entry]\nName=Gone\nExec=gone\nTryExec=/usr/bin/gone\n");
    tree.write("/etc/xdg/autostart/kde.desktop", "[Desktop Entry]\nName=KDE only\nExec=k\nOnlyShowIn=KDE;\n");
    tree.write("/etc/xdg/autostart/gsd.desktop",
               "[Desktop Entry]\nName=Settings daemon\nExec=gsd\nX-GNOME-HiddenUnderSystemd=true\n");
    tree.write("/var/spool/cron/crontabs/bob", "@reboot /home/bob/bin/tunnel\n");
    tree.write("/lib/systemd/system/cron.service", service_unit("Cron", "/usr/sbin/cron -f", "multi-user.target"));
    tree.link("/etc/systemd/system/multi-user.target.wants/cron.service", "/lib/systemd/system/cron.service");
    tree.write("/lib/systemd/system/cups.service",
               service_unit("CUPS", "/usr/sbin/cupsd -l", "multi-user.target") + "Also=cups.socket cups.path\n");
    tree.link("/etc/systemd/system/multi-user.target.wants/cups.service", "/lib/systemd/system/cups.service");
    tree.write("/lib/systemd/system/cups.socket",
               "[Socket]\nListenStream=/run/cups/cups.sock\n[Install]\n"
               "WantedBy=sockets.target\n");
    tree.link("/etc/systemd/system/sockets.target.wants/cups.socket", "/lib/systemd/system/cups.socket");
    tree.write("/lib/systemd/system/needy.service",
               "[Unit]\nRequires=split.service\n[Service]\nExecStart=/bin/needy\n"
               "[Install]\nWantedBy=multi-user.target\n");
    tree.link("/etc/systemd/system/multi-user.target.wants/needy.service", "/lib/systemd/system/needy.service");
}

struct Expected {
    std::string name;
    bool enabled = false;
    std::string state;  // a part of the state text, or empty
    std::string shown;  // a part of the command, description or toggle note, or empty
};

TEST(LinuxWhatStarts, TheScanShowsWhatSystemdAndTheAutostartRulesStart) {
    LinuxTree tree;
    build(tree);
    linux::LinuxContext context = tree.context(true);
    context.current_desktop = "GNOME";
    context.over_ssh = true;
    linux::LinuxPlatform platform(context, [] { return knowledge::builtin_pack().locations; });
    const model::ScanResult scanned = platform.scan();
    const std::vector<Expected> expected{
        {"gdm.service", true, "Enabled", "/usr/sbin/gdm3"},
        {"getty@tty1.service", true, "starts only if ConditionPathExists=/dev/tty0", "/sbin/agetty %I"},
        {"split.service", true, "Enabled", "/usr/bin/split --new"},
        {"split.service", true, "", "Overridden Changed by /etc/systemd/system/split.service.d/override.conf."},
        {"cups.path", true, "Enabled", "Starts cups.service on /var/cache/cups/org.cups.cupsd"},
        {"remote-fs.target", true, "Enabled", "Starts the units it pulls in"},
        {"oldd.service", true, "Generated", "update-rc.d oldd disable"},
        {"rc-local.service", true, "Generated", "/etc/rc.local start"},
        {"/home/bob/bin/tunnel", true, "", "Runs as bob"},
        {"initrd-thing.service", false, "only in initrd.target", ""},
        {"never.service", false, "does not start here: ConditionPathExists=/etc/never is not met", ""},
        {"first.service", false, "ConditionFirstBoot=yes is not met", ""},
        {"vm.service", true, "starts only if ConditionVirtualization=!container", ""},
        {"kmod.service", true, "starts only if ConditionFileNotEmpty=/lib/modules/%v/modules.devname", ""},
        {"pipewire.service", false, "masked for this account", "systemctl --user unmask pipewire.service"},
        {"bluetooth.service", false, "Masked", "systemctl unmask bluetooth.service"},
        {"ssh.service", true, "Enabled", "would cut this session"},
        {"Gone", false, "its program /usr/bin/gone is not installed (TryExec)", ""},
        {"KDE only", false, "it starts only in KDE, and this desktop is GNOME", ""},
        {"Settings daemon", false, "Started by its systemd user unit", "Under systemd its user unit starts it"},
    };
    for (const Expected& want : expected) {
        SCOPED_TRACE(want.name);
        const model::StartupItem* item = find_named(scanned.items, want.name);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->enabled, want.enabled);
        EXPECT_NE(item->state_text.find(want.state), std::string::npos) << item->state_text;
        const std::string shown = item->command + "|" + item->description + "|" + item->toggle_note;
        EXPECT_NE(shown.find(want.shown), std::string::npos) << shown;
    }
    EXPECT_EQ(find_named(scanned.items, "/home/bob/bin/tunnel")->location, "crontab of bob");
    EXPECT_EQ(find_named(scanned.items, "oldd.service")->toggle, model::Toggle::locked);
    EXPECT_EQ(find_named(scanned.items, "getty@.service"), nullptr);  // its default instance is listed instead
    // What needs each item: units that require it, what starts it, the lines that cron runs.
    using Names = std::vector<std::string>;
    EXPECT_EQ(find_named(scanned.items, "split.service")->dependents, Names{"needy.service"});
    EXPECT_EQ(find_named(scanned.items, "cups.service")->dependents, (Names{"cups.path", "cups.socket"}));
    EXPECT_EQ(find_named(scanned.items, "cron.service")->dependents, Names{"/home/bob/bin/tunnel"});
    EXPECT_NE(find_named(scanned.items, "cups.service")->description.find("also switches cups.socket, cups.path"),
              std::string::npos);

    const Result<model::ChangeOutcome> refused =
        platform.set_enabled(*find_named(scanned.items, "ssh.service"), false, false);
    ASSERT_FALSE(refused.has_value());
    EXPECT_NE(refused.error().message.find("critical for this session"), std::string::npos);
    EXPECT_TRUE(tree.exists("/etc/systemd/system/multi-user.target.wants/ssh.service"));
}

TEST(LinuxWhatStarts, WhetherAProgramFileExistsIsAskedOfTheRoot) {
    LinuxTree tree;
    tree.write("/opt/only-in-root/daemon", "#!/bin/sh\n");
    tree.write("/lib/systemd/system/here.service",
               service_unit("Here", "/opt/only-in-root/daemon", "multi-user.target"));
    tree.write("/lib/systemd/system/gone.service", service_unit("Gone", "/bin/sh -c true", "multi-user.target"));
    tree.write("/etc/xdg/autostart/applet.desktop", "[Desktop Entry]\nName=Applet\nExec=applet\n");
    tree.write("/etc/systemd/system/nightly-offsite.service",
               service_unit("Nightly", "/usr/local/bin/push-offsite --all", "multi-user.target"));
    tree.write("/lib/systemd/system/debug-shell.service", service_unit("Debug shell", "/bin/sh", "sysinit.target"));
    tree.write("/lib/systemd/system/cups.service",
               service_unit("CUPS", "/usr/sbin/cupsd", "multi-user.target") + "Also=cups.socket cups.path\n");
    tree.link("/etc/systemd/system/multi-user.target.wants/cups.service", "/lib/systemd/system/cups.service");
    ScratchFolder data;
    engine::EngineContext engine(tree.platform(true), model::data_folder_override(data.path()));
    for (const auto& [name, missing] : {std::pair{"here.service", false}, std::pair{"gone.service", true}}) {
        engine::ChangeRequest request;
        request.action = model::ChangeAction::enable;
        request.id = engine.find_item(name).value().id();
        const engine::PlannedChange plan = engine::plan_change(engine, request);
        EXPECT_EQ(plan.risk.effect.find("program file is missing") != std::string::npos, missing) << name;
    }
    // A root shell without password is not switched on without a decision.
    engine::ChangeRequest shell;
    shell.action = model::ChangeAction::enable;
    shell.id = engine.find_item("debug-shell.service").value().id();
    const engine::PlannedChange risky = engine::plan_change(engine, shell);
    EXPECT_TRUE(risky.needs_ack());
    EXPECT_NE(risky.risk.effect.find("root shell without any password"), std::string::npos);
    // A unit written on this computer is judged by what it runs.
    const model::StartupItem local = engine.find_item("nightly-offsite.service").value();
    EXPECT_EQ(local.risk.level, model::Level::caution);
    EXPECT_NE(local.risk.effect.find("it runs /usr/local/bin/push-offsite --all"), std::string::npos);
    // The review names what switches with it.
    engine::ChangeRequest cups;
    cups.action = model::ChangeAction::disable;
    cups.id = engine.find_item("cups.service").value().id();
    const std::vector<std::string> cups_reasons = engine::plan_change(engine, cups).risk.reasons;
    EXPECT_NE(std::find(cups_reasons.begin(), cups_reasons.end(),
                        "It is switched together with cups.socket cups.path, which change with it."),
              cups_reasons.end());
    // A system autostart file is switched off by a copy for this account, and its plan says so.
    engine::ChangeRequest off;
    off.action = model::ChangeAction::disable;
    off.id = engine.find_item("Applet").value().id();
    const std::vector<std::string> reasons = engine::plan_change(engine, off).risk.reasons;
    EXPECT_NE(std::find(reasons.begin(), reasons.end(),
                        "The file is every user's, but switching it changes it for this account only."),
              reasons.end());
}

}  // namespace
}  // namespace qm::test
#endif
