// The demonstration's temporary data folder is gone when the real program
// ends, whichever way it ends short of being killed, unless the user keeps it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "os/files.h"
#include "os/sockets.h"
#include "support/run_program.h"
#include "support/server_process.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace qm {
namespace {

class DemoFolderTest : public ::testing::Test {
protected:
    void SetUp() override { temp_ = test::make_scratch_folder("demo-temp"); }
    void TearDown() override { (void)os::remove_tree(temp_); }

    // The program's temporary folder is the scratch folder; an empty
    // QUILLMOOR_KEEP_DEMO counts as not set.
    test::ProgramRun run(const std::vector<std::string>& arguments, const std::string& keep = "") const {
        return test::run_program(arguments,
                                 {{"TMPDIR", temp_}, {"TMP", temp_}, {"TEMP", temp_}, {"QUILLMOOR_KEEP_DEMO", keep}});
    }

    // The server inherits this process's environment, so it is pointed at the
    // scratch folder only while the server starts.
    std::unique_ptr<test::ServerProcess> serve() const {
        std::vector<std::pair<const char*, std::optional<std::string>>> saved;
        for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
            const char* old = std::getenv(name);
            saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            set_env(name, temp_);
        }
        auto server = std::make_unique<test::ServerProcess>();
        for (const auto& [name, value] : saved) set_env(name, value.value_or(""));
        return server;
    }

    std::size_t demo_folders() const {
        Result<std::vector<os::FolderEntry>> entries = os::list_folder(temp_);
        if (!entries) return 99;
        return static_cast<std::size_t>(std::count_if(entries->begin(), entries->end(), [](const os::FolderEntry& e) {
            return e.name.starts_with("quillmoor-demo-");
        }));
    }

    // An empty value removes the variable.
    static void set_env(const char* name, const std::string& value) {
#ifdef _WIN32
        (void)_putenv_s(name, value.c_str());
#else
        value.empty() ? (void)::unsetenv(name) : (void)::setenv(name, value.c_str(), 1);
#endif
    }

    std::string temp_;
};

TEST_F(DemoFolderTest, CommandsThatSucceedOrFailLeaveNoFolderUnlessAskedToKeepIt) {
    EXPECT_EQ(run({"--demo", "backup"}).exit_code, 0);  // writes a backup into the folder
    EXPECT_EQ(demo_folders(), 0u);
    EXPECT_EQ(run({"--demo", "assess", "no-such-item-anywhere"}).exit_code, 1);
    EXPECT_EQ(demo_folders(), 0u);

    Result<os::Socket> taken = os::listen_loopback(0);
    ASSERT_TRUE(taken.has_value()) << taken.error();
    const std::string port = std::to_string(taken->local_port().value_or(0));
    EXPECT_EQ(run({"--demo", "serve", "--no-browser", "--port", port}).exit_code, 1);
    EXPECT_EQ(demo_folders(), 0u);

    // Kept on request, without a word more than the command's own line.
    test::ProgramRun kept = run({"--demo", "backup"}, "1");
    EXPECT_EQ(kept.exit_code, 0);
    EXPECT_EQ(kept.err, "");
    EXPECT_EQ(std::count(kept.out.begin(), kept.out.end(), '\n'), 1) << kept.out;
    EXPECT_EQ(demo_folders(), 1u);
}

TEST_F(DemoFolderTest, WindowServerThatQuitsOrIsInterruptedLeavesNoFolder) {
    {
        std::unique_ptr<test::ServerProcess> server = serve();
        ASSERT_TRUE(server->started());
        EXPECT_EQ(demo_folders(), 1u);  // in use while the window is served
        EXPECT_EQ(server->post("/api/quit", "", server->bootstrap()).status, 200);
        ASSERT_TRUE(server->wait_for_exit(10));
    }
    EXPECT_EQ(demo_folders(), 0u);
#ifndef _WIN32
    for (int signal_number : {SIGINT, SIGTERM}) {
        {
            std::unique_ptr<test::ServerProcess> server = serve();
            ASSERT_TRUE(server->started());
            ASSERT_NE(server->pid(), 0);  // never signal the whole process group
            EXPECT_EQ(demo_folders(), 1u);
            ASSERT_EQ(::kill(static_cast<pid_t>(server->pid()), signal_number), 0);
            ASSERT_TRUE(server->wait_for_exit(10)) << signal_number;
        }
        EXPECT_EQ(demo_folders(), 0u) << signal_number;
    }
#endif
}

}  // namespace
}  // namespace qm
