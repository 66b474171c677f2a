// quillmoor watch on a Linux tree, through the real program: what another
// program changes there is printed within two seconds, each change is kept in
// the history as an observation, and Ctrl+C ends the watch in order.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <future>

#include "engine/journal.h"
#include "model/data_folder.h"
#include "os/process.h"
#include "platforms/linux/linux_tree.h"
#include "server/window_watch.h"
#include "support/background_program.h"
#include "support/run_program.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

// Processes whose parent is `pid`, from /proc.
std::size_t children_of(long pid) {
    std::size_t count = 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return 0;
    while (const dirent* entry = ::readdir(proc)) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string text;
        if (!std::getline(stat, text)) continue;
        // "pid (name) state ppid ...": the name may hold spaces, so read after its ")".
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        long parent = 0;
        char state = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &parent) == 2 && parent == pid) ++count;
    }
    ::closedir(proc);
    return count;
}

TEST(LinuxWatch, ChangesMadeByOthersArePrintedWithinTwoSecondsKeptAsObservationsAndCtrlCEndsIt) {
    if (!systemctl_present()) GTEST_SKIP() << "systemctl is not installed (scripts/setup.sh systemd installs it)";
    LinuxTree tree;
    tree.write("/etc/systemd/system/backup.service", service_unit("Nightly backup", "/usr/bin/backup", "multi-user.target"));
    tree.write("/etc/systemd/system/report.service", service_unit("Reports", "/usr/bin/report", "multi-user.target"));
    const std::vector<std::pair<std::string, std::string>> environment{{"QUILLMOOR_LINUX_ROOT", tree.root()},
                                                                       {"XDG_DATA_HOME", ""}};
    // Switched on, then off by the user: another program switching it on
    // again is what the watch is for.
    ASSERT_EQ(run_program({"enable", "backup.service", "--yes"}, environment).exit_code, 0);
    ASSERT_EQ(run_program({"disable", "backup.service", "--yes"}, environment).exit_code, 0);

    BackgroundProgram watch({"watch", "--json"}, environment);
    ASSERT_TRUE(watch.started());
    ASSERT_TRUE(watch.next_line_with("\"watching\":", 30s)) << watch.output();

    tree.write("/etc/xdg/autostart/newcomer.desktop", "[Desktop Entry]\nName=Newcomer\nExec=newcomer\n");
    const std::optional<std::string> added = watch.next_line_with("Newcomer", 2s);
    ASSERT_TRUE(added) << watch.output();
    EXPECT_NE(added->find("\"change\":\"new\""), std::string::npos) << *added;

    const os::ChildBytes enabled = os::run_child(
        {"systemctl", {"--root=" + tree.root(), "enable", "backup.service"}, {}, std::chrono::seconds(30)});
    ASSERT_EQ(enabled.exit_code, 0u) << enabled.err;
    const std::optional<std::string> back = watch.next_line_with("backup.service", 2s);
    ASSERT_TRUE(back) << watch.output();
    EXPECT_NE(back->find("\"change\":\"came back\""), std::string::npos) << *back;
    // A unit the user never switched, enabled by another program.
    ASSERT_EQ(os::run_child({"systemctl", {"--root=" + tree.root(), "enable", "report.service"}, {}, std::chrono::seconds(30)})
                  .exit_code,
              0u);
    const std::optional<std::string> on = watch.next_line_with("report.service", 2s);
    ASSERT_TRUE(on) << watch.output();
    EXPECT_NE(on->find("\"change\":\"switched on\""), std::string::npos) << *on;

    EXPECT_EQ(children_of(watch.pid()), 0U);
    ASSERT_TRUE(watch.interrupt());
    EXPECT_EQ(watch.wait_for_exit(10s), 0) << watch.output();
    EXPECT_TRUE(watch.output().ends_with("}\n")) << watch.output();

    const std::string journal =
        tree.at(linux::current_identity().root ? "/var/lib/quillmoor/journal.jsonl"
                                               : linux::current_identity().home + "/.local/share/quillmoor/journal.jsonl");
    std::vector<std::string> observed;
    for (const engine::JournalRecord& record : engine::read_journal_file(journal)) {
        if (record.action == model::ChangeAction::observed) observed.push_back(record.name + ": " + record.detail);
    }
    EXPECT_EQ(observed, (std::vector<std::string>{"Newcomer: new", "backup.service: came back",
                                                  "report.service: switched on"}));
}

// `watch | reader` where the reader has gone: the next change it prints
// fails, and the watch ends instead of watching for no one.
TEST(LinuxWatch, AWatchWhoseOutputIsNoLongerReadEnds) {
    LinuxTree tree;
    tree.write("/etc/xdg/autostart/first.desktop", "[Desktop Entry]\nName=First\nExec=first\n");
    const std::string script = "QUILLMOOR_LINUX_ROOT='" + tree.root() + "' XDG_DATA_HOME= '" + std::string(QM_PROGRAM_PATH) +
                               "' watch | sleep 1 & sleep 3; printf '[Desktop Entry]\\nName=Later\\nExec=later\\n' > '" +
                               tree.at("/etc/xdg/autostart/later.desktop") + "'; wait";
    const os::ChildBytes ran = os::run_child({"/bin/sh", {"-c", script}, {}, std::chrono::seconds(30)});
    EXPECT_FALSE(ran.timed_out) << ran.err;
    EXPECT_TRUE(ran.exit_code.has_value()) << ran.err;
}

TEST(LinuxWatch, TheWindowsPollReturnsWithAChangeAndStoppingEndsTheWaitingPoll) {
    LinuxTree tree;
    ScratchFolder data;
    engine::EngineContext engine(tree.platform(false), model::data_folder_override(data.path()));
    server::WindowWatch watch;
    // The first poll answers once the watch has read the tree and waits.
    const json::JsonValue quiet = watch.poll(engine, std::nullopt, 10s);
    EXPECT_TRUE(json::get_flag(quiet, "watching"));
    EXPECT_GT(json::get_count(quiet, "places"), 10U);
    EXPECT_EQ(json::get(quiet, "changes")->as_array().size(), 0U);

    std::future<json::JsonValue> waiting = std::async(std::launch::async, [&] {
        return watch.poll(engine, json::get_count(quiet, "cursor"), 20s);
    });
    tree.write("/etc/xdg/autostart/newcomer.desktop", "[Desktop Entry]\nName=Newcomer\nExec=newcomer\n");
    ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
    const json::JsonValue seen = waiting.get();
    ASSERT_EQ(json::get(seen, "changes")->as_array().size(), 1U) << json::write(seen);
    EXPECT_EQ(json::get_text(json::get(seen, "changes")->as_array()[0], "name"), "Newcomer");

    waiting = std::async(std::launch::async, [&] { return watch.poll(engine, json::get_count(seen, "cursor"), 20s); });
    std::this_thread::sleep_for(200ms);
    watch.stop();
    ASSERT_EQ(waiting.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(json::get_flag(waiting.get(), "watching"));
}

TEST(LinuxWatch, TheDemonstrationSaysWhatItWatchesAndCtrlCEndsItWithSuccess) {
    BackgroundProgram watch({"--demo", "watch"});
    ASSERT_TRUE(watch.next_line_with("invented computer", 30s)) << watch.output();
    ASSERT_TRUE(watch.interrupt());
    EXPECT_EQ(watch.wait_for_exit(10s), 0);
    EXPECT_TRUE(watch.output().ends_with("Stopped watching.\n")) << watch.output();
}

}  // namespace
}  // namespace qm::test
