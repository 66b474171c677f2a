// The demonstration's temporary data folder is gone when the real program
// ends, whichever way it ends short of being killed, unless the user asks to
// keep it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/files.h"
#include "platform/sockets.h"
#include "support/run_program.h"
#include "support/server_process.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace qm {
namespace {

using test::run_program;

class DemoFolderTest : public ::testing::Test {
protected:
    void SetUp() override { temp_ = test::make_scratch_folder("demo-temp"); }
    void TearDown() override { (void)os::remove_tree(temp_); }

    // The program's system temporary folder is the scratch folder.
    std::vector<std::pair<std::string, std::string>> environment(std::string keep = {}) const {
        std::vector<std::pair<std::string, std::string>> env = {{"TMPDIR", temp_}, {"TMP", temp_}, {"TEMP", temp_}};
        if (!keep.empty()) env.emplace_back("QUILLMOOR_KEEP_DEMO", keep == "(empty)" ? "" : keep);
        return env;
    }

    std::vector<std::string> demo_folders() const {
        std::vector<std::string> names;
        Result<std::vector<os::FolderEntry>> entries = os::list_folder(temp_);
        if (!entries) return {"(cannot list " + temp_ + ")"};
        for (const os::FolderEntry& entry : *entries) {
            if (entry.name.starts_with("quillmoor-demo-")) names.push_back(entry.name);
        }
        return names;
    }

    std::string temp_;
};

// Points the system's temporary folder of this process, and so of the server
// it starts, at a scratch folder while it lives.
class TemporaryFolderOverride {
public:
    explicit TemporaryFolderOverride(const std::string& folder) {
        for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
            const char* old = std::getenv(name);
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            set(name, folder);
        }
    }
    ~TemporaryFolderOverride() {
        for (const auto& [name, value] : saved_) value ? set(name, *value) : unset(name);
    }

private:
#ifdef _WIN32
    static void set(const std::string& name, const std::string& value) { (void)_putenv_s(name.c_str(), value.c_str()); }
    static void unset(const std::string& name) { (void)_putenv_s(name.c_str(), ""); }
#else
    static void set(const std::string& name, const std::string& value) { (void)::setenv(name.c_str(), value.c_str(), 1); }
    static void unset(const std::string& name) { (void)::unsetenv(name.c_str()); }
#endif
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(DemoFolderTest, CommandsThatSucceedOrFailLeaveNoFolderUnlessAskedToKeepIt) {
    test::ProgramRun listed = run_program({"--demo", "list"}, environment());
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_EQ(demo_folders(), std::vector<std::string>{});

    // A command that changes something writes a backup and history first.
    test::ProgramRun changed = run_program({"--demo", "backup"}, environment());
    EXPECT_EQ(changed.exit_code, 0) << changed.err;
    EXPECT_EQ(demo_folders(), std::vector<std::string>{});

    test::ProgramRun failed = run_program({"--demo", "assess", "no-such-item-anywhere"}, environment());
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_EQ(demo_folders(), std::vector<std::string>{});

    test::ProgramRun empty_keep = run_program({"--demo", "list"}, environment("(empty)"));
    EXPECT_EQ(empty_keep.exit_code, 0);
    EXPECT_EQ(demo_folders(), std::vector<std::string>{});

    // Kept on request, with its backup inside, and without a word more.
    test::ProgramRun kept = run_program({"--demo", "backup"}, environment("1"));
    EXPECT_EQ(kept.exit_code, 0) << kept.err;
    EXPECT_EQ(kept.err, changed.err);
    EXPECT_EQ(kept.out.size(), changed.out.size());
    std::vector<std::string> left = demo_folders();
    ASSERT_EQ(left.size(), 1u);
    Result<std::vector<os::FolderEntry>> inside = os::list_folder(os::join_path(temp_, left[0]));
    ASSERT_TRUE(inside.has_value());
    EXPECT_FALSE(inside->empty());
}

TEST_F(DemoFolderTest, WindowServerThatQuitsOrCannotStartLeavesNoFolder) {
    {
        std::optional<test::ServerProcess> server;
        {
            TemporaryFolderOverride temporary(temp_);
            server.emplace();
        }
        ASSERT_TRUE(server->started());
        EXPECT_EQ(demo_folders().size(), 1u);  // in use while the window is served
        const std::string token = server->bootstrap();
        ASSERT_FALSE(token.empty());
        EXPECT_EQ(server->post("/api/quit", "", token).status, 200);
        ASSERT_TRUE(server->wait_for_exit(10));
    }
    EXPECT_EQ(demo_folders(), std::vector<std::string>{});

    // A window that cannot start, because its port is taken, fails like any command.
    Result<os::Socket> taken = os::listen_loopback(0);
    ASSERT_TRUE(taken.has_value()) << taken.error();
    const std::string port = std::to_string(taken->local_port().value_or(0));
    test::ProgramRun refused = run_program({"--demo", "serve", "--no-browser", "--port", port}, environment());
    EXPECT_EQ(refused.exit_code, 1) << refused.out;
    EXPECT_EQ(demo_folders(), std::vector<std::string>{});
}

#ifndef _WIN32
TEST_F(DemoFolderTest, InterruptingTheWindowServerLeavesNoFolder) {
    for (int signal_number : {SIGINT, SIGTERM}) {
        {
            std::optional<test::ServerProcess> server;
            {
                TemporaryFolderOverride temporary(temp_);
                server.emplace();
            }
            ASSERT_TRUE(server->started());
            ASSERT_NE(server->pid(), 0);
            EXPECT_EQ(demo_folders().size(), 1u);
            ASSERT_EQ(::kill(static_cast<pid_t>(server->pid()), signal_number), 0);
            ASSERT_TRUE(server->wait_for_exit(10)) << signal_number;
        }
        EXPECT_EQ(demo_folders(), std::vector<std::string>{}) << signal_number;
    }
}
#endif

}  // namespace
}  // namespace qm
