// quillmoor watch under Wine through the real program, against Wine's real
// registry and folders: a Run value added by reg.exe and a shortcut put into
// this user's Startup folder are each printed within two seconds.
//
// Wine delivers no console control event here: without a console
// GenerateConsoleCtrlEvent fails (error 12) and so does AllocConsole, and
// with one it refuses a process group (error 6). So the watch is ended by
// TerminateProcess, and the ending in order that Ctrl+C gives is tested on
// the interrupt handling itself (tests/os) and, through the real program,
// on Linux.
#include <gtest/gtest.h>

#include "os/os_test_support.h"
#include "os/process.h"
#include "platforms/windows/registry.h"
#include "platforms/windows/shell_link_test_support.h"
#include "support/background_program.h"

namespace qm::windows {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view run_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

TEST(WatchWindows, ARunValueAndAStartupShortcutArePrintedWithinTwoSeconds) {
    test::ScratchFolder data;
    test::ScratchFolder roaming;
    const std::string startup = os::join_path(roaming.path(), "Microsoft\\Windows\\Start Menu\\Programs\\Startup");
    ASSERT_TRUE(os::create_folders(startup).has_value());
    const std::string value = "Newcomer " + test::random_hex(4);
    const std::string shortcut = "Arrival " + test::random_hex(4);
    test::BackgroundProgram watch({"watch", "--json"},
                                  {{"LOCALAPPDATA", data.path()}, {"ProgramData", data.path()}, {"APPDATA", roaming.path()}});
    ASSERT_TRUE(watch.started());
    ASSERT_TRUE(watch.next_line_with("\"watching\":", 60s)) << watch.output();

    const os::ChildBytes added = os::run_child({"reg",
                                                {"add", "HKCU\\" + std::string(run_path), "/v", value, "/d",
                                                 "C:\\x\\new.exe", "/f"},
                                                {},
                                                std::chrono::seconds(30)});
    ASSERT_EQ(added.exit_code, 0u) << added.err;
    const std::optional<std::string> run_line = watch.next_line_with(value, 2s);
    EXPECT_TRUE(run_line) << watch.output();
    if (run_line) {
        EXPECT_NE(run_line->find("\"change\":\"new\""), std::string::npos) << *run_line;
    }

    ASSERT_TRUE(test::save_shortcut(os::join_path(startup, shortcut + ".lnk"), os::own_program_path()));
    EXPECT_TRUE(watch.next_line_with(shortcut, 2s)) << watch.output();

    ASSERT_TRUE(watch.kill());
    EXPECT_TRUE(watch.wait_for_exit(10s)) << watch.output();
    if (RegistryResult<RegistryKey> key = open_key(HKEY_CURRENT_USER, run_path, KEY_SET_VALUE)) {
        (void)delete_value(key->get(), value);
    }
}

}  // namespace
}  // namespace qm::windows
