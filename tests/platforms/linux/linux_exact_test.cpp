#ifdef __linux__
// Switch and undo on a computer in a scratch folder leave every file as it
// was: bytes, mode, owner and link target, compared over the whole tree.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "engine/engine_context.h"
#include "engine/journal.h"
#include "engine/plans.h"
#include "engine/undo.h"
#include "model/data_folder.h"
#include "platforms/linux/cron_reboot.h"
#include "platforms/linux/exact_files.h"
#include "platforms/linux/linux_tree.h"

namespace qm::test {
namespace {

constexpr unsigned ada = 1000;  // the owner of /home/ada in these trees

// Every path under the root with what it is, its mode, owner and content.
std::map<std::string, std::string> tree_state(const std::string& root) {
    std::map<std::string, std::string> state;
    std::function<void(const std::string&)> walk = [&](const std::string& folder) {
        for (const os::FolderEntry& entry : os::list_folder(folder).value_or(std::vector<os::FolderEntry>{})) {
            const std::string path = os::join_path(folder, entry.name);
            const linux::PathState is = linux::read_path_state(path);
            struct stat info {};
            ::lstat(path.c_str(), &info);
            std::string line = std::to_string(static_cast<int>(is.kind)) + " " + std::to_string(info.st_mode) + " " +
                               std::to_string(info.st_uid) + ":" + std::to_string(info.st_gid) + " " + is.data;
            state[path.substr(root.size())] = line;
            if (S_ISDIR(info.st_mode)) walk(path);
        }
    };
    walk(root);
    return state;
}

void own(const LinuxTree& tree, std::string_view absolute, unsigned uid) {
    ASSERT_EQ(::lchown(tree.at(absolute).c_str(), uid, uid), 0) << absolute;
}

unsigned owner_of(const LinuxTree& tree, std::string_view absolute) {
    struct stat info {};
    return ::lstat(tree.at(absolute).c_str(), &info) == 0 ? info.st_uid : 99999;
}

struct RoundTrip {
    std::string title;
    std::function<void(const LinuxTree&)> build;
    std::string item;  // the name of the item switched
    bool on = false;   // the switch made before the undo
    bool needs_systemctl = false;
};

TEST(LinuxExact, EverySwitchAndItsUndoLeaveTheWholeTreeAsItWas) {
    if (::geteuid() != 0) GTEST_SKIP() << "owners are compared, which needs root rights";
    const std::string crontab_bytes = "# caf\xe9 latin-1\r\n@reboot /home/ada/bin/sync --to=\xe9t\xe9\r\n  0 5 * * * x";
    const std::vector<RoundTrip> trips{
        {"a template instance enabled by its link",
         [](const LinuxTree& tree) {
             tree.write("/lib/systemd/system/tunnel@.service",
                        service_unit("Tunnel %I", "/usr/bin/tun %I", "multi-user.target"));
             tree.link("/etc/systemd/system/multi-user.target.wants/tunnel@wg0.service",
                       "/lib/systemd/system/tunnel@.service");
         },
         "tunnel@wg0.service", false, true},
        {"a link made by hand into another target than [Install] names",
         [](const LinuxTree& tree) {
             tree.write("/lib/systemd/system/kiosk.service",
                        service_unit("Kiosk", "/usr/bin/kiosk", "multi-user.target"));
             tree.link("/etc/systemd/system/graphical.target.wants/kiosk.service", "/lib/systemd/system/kiosk.service");
         },
         "kiosk.service", false, true},
        {"a user's CRLF autostart file switched on",
         [](const LinuxTree& tree) {
             tree.write(
                 "/home/ada/.config/autostart/copyq.desktop",
                 "[Desktop Entry]\r\nName=CopyQ\r\nExec=copyq\r\nX-GNOME-Autostart-enabled=false\r\nHidden=true");
             own(tree, "/home/ada/.config/autostart/copyq.desktop", ada);
         },
         "CopyQ", true},
        {"a user's autostart file that links to their dotfiles",
         [](const LinuxTree& tree) {
             tree.write("/home/ada/dotfiles/redshift.desktop", "[Desktop Entry]\nName=Redshift\nExec=redshift-gtk\n");
             tree.link("/home/ada/.config/autostart/redshift.desktop", "/home/ada/dotfiles/redshift.desktop");
             own(tree, "/home/ada/dotfiles/redshift.desktop", ada);
             own(tree, "/home/ada/.config/autostart/redshift.desktop", ada);
         },
         "Redshift", false},
        {"a system autostart file switched off by a copy in the user's folder",
         [](const LinuxTree& tree) {
             tree.write("/etc/xdg/autostart/nm-applet.desktop", "[Desktop Entry]\nName=Network\nExec=nm-applet\n");
         },
         "Network", false},
        {"an /etc/cron.d file readable by root only",
         [](const LinuxTree& tree) {
             tree.write("/etc/cron.d/backup", "SHELL=/bin/sh\n@reboot root /usr/local/sbin/backup\n");
             ASSERT_EQ(::chmod(tree.at("/etc/cron.d/backup").c_str(), 0600), 0);
         },
         "/usr/local/sbin/backup", false},
        {"a user's crontab that is not UTF-8, with CRLF and no last line feed",
         [&](const LinuxTree& tree) {
             tree.write("/var/spool/cron/crontabs/ada", crontab_bytes);
             ASSERT_EQ(::chmod(tree.at("/var/spool/cron/crontabs/ada").c_str(), 0600), 0);
             own(tree, "/var/spool/cron/crontabs/ada", ada);
         },
         "sync", false},
    };
    for (const RoundTrip& trip : trips) {
        SCOPED_TRACE(trip.title);
        if (trip.needs_systemctl && !systemctl_present()) continue;
        LinuxTree tree;
        tree.write("/etc/os-release", "NAME=Test\n");
        trip.build(tree);
        // No autostart folder unless a case made one: a copy then makes it, and undo takes it away.
        for (const char* folder : {"/home/ada", "/home/ada/.config"}) {
            ASSERT_TRUE(os::create_folders(tree.at(folder)).has_value());
            own(tree, folder, ada);
        }
        const std::map<std::string, std::string> before = tree_state(tree.root());
        ScratchFolder data;
        engine::EngineContext engine(tree.platform(true), model::data_folder_override(data.path()));
        const Result<model::StartupItem> item = engine.find_item(trip.item);
        ASSERT_TRUE(item.has_value()) << item.error();
        engine::ChangeRequest request;
        request.action = trip.on ? model::ChangeAction::enable : model::ChangeAction::disable;
        request.id = item->id();
        request.ack = true;
        const std::vector<engine::ChangeResult> results = engine::apply_changes(engine, {request});
        ASSERT_EQ(results.size(), 1U);
        ASSERT_TRUE(results[0].ok) << results[0].message;
        EXPECT_EQ(engine.find_item_by_id(item->id())->enabled, trip.on);
        EXPECT_NE(tree_state(tree.root()), before);
        // A link to the user's dotfiles stays a link; the file it names is edited.
        if (trip.item == "Redshift") {
            EXPECT_TRUE(linux::is_link(tree.at("/home/ada/.config/autostart/redshift.desktop")));
        }
        if (trip.item == "Network") {
            EXPECT_EQ(owner_of(tree, "/home/ada/.config/autostart/nm-applet.desktop"), ada);
        }

        const std::vector<engine::JournalRecord> journal = engine::read_journal(engine.data_folder());
        ASSERT_FALSE(journal.empty());
        const Result<std::string> undone = engine::undo_change(engine, journal.back().seq, true);
        ASSERT_TRUE(undone.has_value()) << undone.error();
        EXPECT_EQ(tree_state(tree.root()), before);
    }
}

TEST(LinuxExact, TheUsersOwnFilesAreSwitchedByTheKeysTheirDesktopReads) {
    LinuxTree tree;
    tree.write("/home/ada/.config/autostart/gnome-app.desktop",
               "[Desktop Entry]\nName=Gnome App\nExec=app\nX-GNOME-Autostart-enabled=true\n");
    tree.write("/home/ada/.config/autostart/plain.desktop", "[Desktop Entry]\nName=Plain\nExec=plain\n");
    tree.write("/home/ada/.config/autostart/hidden.desktop", "[Desktop Entry]\nName=Was Hidden\nExec=h\nHidden=true\n");
    tree.write("/home/ada/.config/autostart/no-group.desktop", "Name=Stray\nExec=stray\n");
    auto platform = tree.platform(false);
    const model::ScanResult scanned = platform->scan();
    EXPECT_EQ(find_named(scanned.items, "Stray"), nullptr);  // launchers ignore a file without its group
    ASSERT_TRUE(platform->set_enabled(*find_named(scanned.items, "Gnome App"), false, false).has_value());
    ASSERT_TRUE(platform->set_enabled(*find_named(scanned.items, "Plain"), false, false).has_value());
    ASSERT_TRUE(platform->set_enabled(*find_named(scanned.items, "Was Hidden"), true, false).has_value());
    EXPECT_EQ(tree.read("/home/ada/.config/autostart/gnome-app.desktop"),
              "[Desktop Entry]\nName=Gnome App\nExec=app\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_EQ(tree.read("/home/ada/.config/autostart/plain.desktop"),
              "[Desktop Entry]\nName=Plain\nExec=plain\nHidden=true\n");
    EXPECT_EQ(tree.read("/home/ada/.config/autostart/hidden.desktop"),
              "[Desktop Entry]\nName=Was Hidden\nExec=h\nHidden=false\n");
    model::StartupItem stray(model::ItemKind::autostart, "Autostart (this user)", model::Scope::user,
                             "~/.config/autostart", "Stray");
    stray.set_spec("fname", "no-group.desktop");
    EXPECT_FALSE(platform->set_enabled(stray, false, false).has_value());
    EXPECT_EQ(tree.read("/home/ada/.config/autostart/no-group.desktop"), "Name=Stray\nExec=stray\n");
}

TEST(LinuxExact, RootWritingIntoAnotherAccountsHomeLeavesTheFilesTheirs) {
    if (::geteuid() != 0) GTEST_SKIP() << "owners are given away only with root rights";
    LinuxTree tree;
    tree.write("/etc/xdg/autostart/nm-applet.desktop", "[Desktop Entry]\nName=Network\nExec=nm-applet\n");
    tree.write("/home/ada/.config/systemd/user/sync.service", service_unit("Sync", "/usr/bin/sync", "default.target"));
    for (const char* folder : {"/home/ada", "/home/ada/.config", "/home/ada/.config/systemd",
                               "/home/ada/.config/systemd/user", "/home/ada/.config/systemd/user/sync.service"}) {
        own(tree, folder, ada);
    }
    auto platform = tree.platform(true);
    const model::ScanResult scanned = platform->scan();
    ASSERT_TRUE(platform->set_enabled(*find_named(scanned.items, "Network"), false, false).has_value());
    ASSERT_TRUE(platform->set_enabled(*find_named(scanned.items, "sync.service"), true, false).has_value());
    for (const char* made : {"/home/ada/.config/autostart", "/home/ada/.config/autostart/nm-applet.desktop",
                             "/home/ada/.config/systemd/user/default.target.wants",
                             "/home/ada/.config/systemd/user/default.target.wants/sync.service"}) {
        EXPECT_EQ(owner_of(tree, made), ada) << made;
    }
    EXPECT_EQ(owner_of(tree, "/etc/xdg/autostart/nm-applet.desktop"), 0U);
}

TEST(LinuxExact, EveryItemHasAnIdOfItsOwnAndASwitchFindsOnlyIt) {
    LinuxTree tree;
    const std::string long_command = "/usr/local/bin/report --to=admin@example.org --format=long --include-everything";
    tree.write("/home/ada/.config/autostart/slack.desktop", "[Desktop Entry]\nName=Slack\nExec=slack\n");
    tree.write("/home/ada/.config/autostart/slack-beta.desktop", "[Desktop Entry]\nName=Slack\nExec=slack-beta\n");
    tree.write("/home/ada/.config/autostart/solo.desktop", "[Desktop Entry]\nName=Solo\nExec=solo\n");
    tree.write("/var/spool/cron/crontabs/ada", "@reboot " + long_command + " --daily\n@reboot " + long_command +
                                                   " --weekly\n@reboot /bin/same\n@reboot /bin/same\n");
    auto platform = tree.platform(false);
    const model::ScanResult scanned = platform->scan();
    std::set<std::string> ids;
    for (const model::StartupItem& item : scanned.items) EXPECT_TRUE(ids.insert(item.id()).second) << item.id();
    EXPECT_NE(find_named(scanned.items, "Solo"), nullptr);  // a unique name is kept, and so its id
    const model::StartupItem* beta = find_named(scanned.items, "Slack (slack-beta.desktop)");
    ASSERT_NE(beta, nullptr);
    ASSERT_TRUE(platform->set_enabled(*beta, false, false).has_value());
    EXPECT_TRUE(tree.exists("/home/ada/.config/autostart/slack-beta.desktop"));
    EXPECT_EQ(tree.read("/home/ada/.config/autostart/slack.desktop"), "[Desktop Entry]\nName=Slack\nExec=slack\n");

    const model::StartupItem* weekly = find_named(scanned.items, long_command + " --weekly");
    const model::StartupItem* second = find_named(scanned.items, "/bin/same (copy 2)");
    ASSERT_NE(weekly, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(platform->set_enabled(*weekly, false, false).has_value());
    ASSERT_TRUE(platform->set_enabled(*second, false, false).has_value());
    EXPECT_EQ(tree.read("/var/spool/cron/crontabs/ada"),
              "@reboot " + long_command + " --daily\n#Quillmoor-off: @reboot " + long_command +
                  " --weekly\n@reboot /bin/same\n#Quillmoor-off: @reboot /bin/same\n");
}

TEST(LinuxExact, OnlyWholeRegularFilesAreReadAndWrittenBack) {
    LinuxTree tree;
    tree.write("/etc/xdg/autostart/real.desktop", "[Desktop Entry]\nName=Real\nExec=real\n");
    tree.write("/etc/cron.d/big", "@reboot root /usr/bin/big\n# " + std::string(17u << 20, 'x') + "\n");
    for (const char* fifo :
         {"/etc/xdg/autostart/pipe.desktop", "/lib/systemd/system/pipe.service", "/etc/cron.d/pipe"}) {
        ASSERT_TRUE(os::create_folders(tree.at(fifo).substr(0, tree.at(fifo).rfind('/'))).has_value());
        ASSERT_EQ(::mkfifo(tree.at(fifo).c_str(), 0644), 0);
    }
    auto platform = tree.platform(true);
    const model::ScanResult scanned = platform->scan();  // returns: no pipe is waited on
    EXPECT_NE(find_named(scanned.items, "Real"), nullptr);
    std::string notes;
    for (const std::string& note : scanned.notes) notes += note + "\n";
    for (const char* named : {"/etc/xdg/autostart/pipe.desktop could not be read: it is not a regular file",
                              "/lib/systemd/system/pipe.service could not be read: it is not a regular file",
                              "/etc/cron.d/pipe could not be read: it is not a regular file",
                              "/etc/cron.d/big could not be read: it is larger than 16 MiB"}) {
        EXPECT_NE(notes.find(named), std::string::npos) << named << "\n" << notes;
    }
    model::StartupItem big(model::ItemKind::cron, "Cron @reboot (system)", model::Scope::machine, "/etc/cron.d/big",
                           "/usr/bin/big");
    big.set_spec("entry", "@reboot root /usr/bin/big");
    big.set_spec("file", "/etc/cron.d/big");
    const Result<model::ChangeOutcome> refused = platform->set_enabled(big, false, false);
    ASSERT_FALSE(refused.has_value());
    EXPECT_NE(refused.error().message.find("larger than 16 MiB"), std::string::npos) << refused.error();
    EXPECT_TRUE(tree.read("/etc/cron.d/big").starts_with("@reboot root"));
}

TEST(LinuxExact, TheUsersCrontabGoesToTheToolByteForByteThroughAPrivateFile) {
    const std::string crontab = "# caf\xe9\r\n@reboot /usr/bin/a\r\n@reboot /usr/bin/b";
    std::string given;
    unsigned mode = 0;
    linux::LinuxContext context;
    context.facts.user = "ada";
    context.runner = [&](const os::ToolRun& run) {
        os::RunOutput output;
        output.exit_code = 0;
        if (run.arguments == std::vector<std::string>{"-l"}) {
            output.out = run.raw_output ? crontab : "decoded";
            return output;
        }
        struct stat info {};
        if (run.arguments.size() == 1 && ::stat(run.arguments[0].c_str(), &info) == 0) mode = info.st_mode & 0777;
        given = os::read_file(run.arguments.back()).value_or("");
        return output;
    };
    model::StartupItem item(model::ItemKind::cron, "Cron @reboot (this user)", model::Scope::user, "crontab",
                            "/usr/bin/a");
    item.set_spec("entry", "@reboot /usr/bin/a");
    ASSERT_TRUE(linux::switch_cron(context, item, false).has_value());
    EXPECT_EQ(given, "# caf\xe9\r\n#Quillmoor-off: @reboot /usr/bin/a\r\n@reboot /usr/bin/b");
    EXPECT_EQ(mode, 0600U);
}

}  // namespace
}  // namespace qm::test
#endif
