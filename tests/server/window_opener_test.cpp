// The browser is opened on a page that only the user can read, never with
// the link's key on a command line or in the environment: the real program
// opens its window through a stand-in xdg-open, which records what it was
// given, and (as root) through sudo's way back to the ordinary user.
#ifdef __linux__
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "os/environment.h"
#include "os/files.h"
#include "os/process.h"
#include "platforms/linux/linux_tree.h"

namespace qm::test {
namespace {

TEST(WindowOpener, TheKeyIsOnNoCommandLineAndTheForwardingPageIsPrivate) {
    const bool root = ::geteuid() == 0;
    if (root && os::path_kind("/usr/sbin/runuser") != os::PathKind::file &&
        os::path_kind("/sbin/runuser") != os::PathKind::file) {
        GTEST_SKIP() << "runuser is not installed";
    }
    ScratchFolder place;
    LinuxTree tree;
    // Open to the ordinary user the opener runs as under sudo.
    ASSERT_EQ(::chmod(place.path().c_str(), 0777), 0);
    const std::string seen = place / "seen";
    const std::string bin = place / "bin";
    ASSERT_TRUE(os::create_folders(bin).has_value());
    ASSERT_TRUE(os::write_file_replace(bin + "/xdg-open",
                                       "#!/bin/sh\n{ tr '\\0' ' ' < /proc/$$/cmdline; echo; tr '\\0' '\\n' < "
                                       "/proc/$$/environ; echo '--page--'; stat -c '%a %u' \"$1\"; cat \"$1\"; } > " +
                                           seen + ".$$ 2>&1; mv " + seen + ".$$ " + seen + "\n")
                    .has_value());
    ASSERT_EQ(::chmod((bin + "/xdg-open").c_str(), 0755), 0);
    ASSERT_EQ(::chmod(bin.c_str(), 0755), 0);

    os::ChildRequest request;
    request.program = QM_PROGRAM_PATH;
    request.arguments = {"serve"};
    request.extra_environment = {{"QUILLMOOR_LINUX_ROOT", tree.root()},
                                 {"XDG_DATA_HOME", ""},
                                 {"DISPLAY", ":99"},
                                 {"TMPDIR", place.path()},
                                 {"PATH", bin + ":" + os::get_env("PATH").value_or("/usr/bin:/bin")}};
    if (root) {
        request.extra_environment.insert(request.extra_environment.end(),
                                         {{"SUDO_USER", "nobody"}, {"SUDO_UID", "65534"}, {"SUDO_GID", "65534"}});
    }
    request.time_limit = std::chrono::seconds(4);
    const os::ChildBytes server = os::run_child(request);
    const std::size_t at = server.out.find("#k=");
    ASSERT_NE(at, std::string::npos) << server.out << server.err;
    const std::string key = server.out.substr(at + 3, 64);

    const std::string record = os::read_file(seen).value_or("");
    const std::size_t page = record.find("--page--");
    ASSERT_NE(page, std::string::npos) << record;
    EXPECT_EQ(record.substr(0, page).find(key), std::string::npos) << record;  // command line and environment
    EXPECT_NE(record.find("quillmoor-window-"), std::string::npos);
    EXPECT_TRUE(record.substr(page).starts_with(root ? "--page--\n600 65534\n" : "--page--\n600 ")) << record;
    EXPECT_NE(record.find("#k=" + key, page), std::string::npos);  // the opener could read the page
}

}  // namespace
}  // namespace qm::test
#endif
