#include <sys/stat.h>
#include <utime.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "os/files.h"
#include "os/new_file.h"
#include "os/os_test_support.h"
#include "os/process.h"

namespace qm::os {
namespace {

// A child tool runs in a process group of its own, so Ctrl+C at the terminal
// reaches the program (which waits for the tool) and not the tool.
TEST(ChildRunnerPosix, AChildRunsInAProcessGroupOfItsOwn) {
    ChildRequest request;
    request.program = "sh";
    request.arguments = {"-c", "cut -d' ' -f5 /proc/$$/stat; echo $$"};
    const ChildBytes child = run_child(request);
    ASSERT_EQ(child.exit_code, 0u) << child.err;
    const std::size_t line = child.out.find('\n');
    const long group = std::stol(child.out.substr(0, line));
    EXPECT_EQ(group, std::stol(child.out.substr(line + 1)));  // it leads its group
    EXPECT_NE(group, static_cast<long>(::getpgrp()));
}

TEST(PrivateFilePosix, IsReadableByItsOwnerOnlyWhateverTheUmaskAndNeverReplaces) {
    test::ScratchFolder folder;
    const std::string path = folder / "page.html";
    const mode_t old = ::umask(0);
    const Result<void> written = write_private_file(path, "secret");
    ::umask(old);
    ASSERT_TRUE(written) << written.error();
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_FALSE(write_private_file(path, "other"));
    EXPECT_EQ(read_file(path).value(), "secret");
}

TEST(OwnTemporaryNames, AreTheTargetWithTwelveOrSixteenHexDigitsAndTmpOrPartial) {
    const struct {
        std::string_view name;
        bool own;
    } cases[] = {
        {"journal.jsonl.0123456789ab.tmp", true},
        {"x.json.0123456789ab.partial", true},
        {"backup.json.0123456789abcdef.tmp", true},  // a replacing write's sixteen digits
        {"x.0123456789abcde.tmp", false},            // fifteen digits
        {"x.json.0123456789ab.partial.ba9876543210.tmp", true},
        {".0123456789ab.tmp", false},   // no target
        {"x.0123456789AB.tmp", false},  // this program writes lower case
        {"x.0123456789a.tmp", false},   // eleven digits
        {"x.0123456789ab.txt", false},  // another ending
        {"x0123456789ab.tmp", false},   // no dot before the digits
        {"notes.tmp", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_own_temporary_name(c.name), c.own) << c.name;
}

// A run killed while writing a crontab or an autostart file leaves its
// temporary beside it; the next write into that folder takes it away.
TEST(OwnTemporaryNames, AKilledRunsTemporariesBesideAWrittenFileGoWithTheNextWrite) {
    test::ScratchFolder folder;
    const std::string stale = folder / "ada.0123456789abcdef.tmp";
    const std::string fresh = folder / "bob.0123456789abcdef.tmp";
    const std::string other = folder / "notes.tmp";
    for (const std::string& path : {stale, fresh, other}) ASSERT_TRUE(write_file_replace(path, "x"));
    const utimbuf old{0, 1000};
    ASSERT_EQ(::utime(stale.c_str(), &old), 0);
    ASSERT_EQ(::utime(other.c_str(), &old), 0);
    ASSERT_TRUE(write_file_replace(folder / "ada", "new"));
    EXPECT_EQ(path_kind(stale), PathKind::missing);
    EXPECT_EQ(path_kind(fresh), PathKind::file);  // another writer may be at work
    EXPECT_EQ(path_kind(other), PathKind::file);  // not a name this program gives
}

}  // namespace
}  // namespace qm::os
