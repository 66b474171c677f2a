// Writing a file the user named on POSIX: links, pipes and devices are
// refused as themselves, and a file that cannot be replaced is reported with
// the reason that applies to it.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "os/os_test_support.h"
#include "os/files.h"

namespace qm::os {
namespace {

TEST(FilesWriteReplaceRegularPosix, LinksPipesAndDevicesAreRefusedAndLeftAsTheyWere) {
    test::ScratchFolder scratch;
    const std::string kept = scratch / "kept.json";
    ASSERT_TRUE(write_file_replace(kept, "kept").has_value());
    const std::string link = scratch / "link.json";
    ASSERT_EQ(::symlink(kept.c_str(), link.c_str()), 0);
    const std::string dangling = scratch / "dangling.json";
    ASSERT_EQ(::symlink((scratch / "nowhere.json").c_str(), dangling.c_str()), 0);
    const std::string pipe = scratch / "pipe.json";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);

    for (const std::string& path : {link, dangling, pipe, std::string("/dev/null")}) {
        auto written = write_file_replace_regular(path, "data");
        ASSERT_FALSE(written.has_value()) << path;
        EXPECT_EQ(written.error(), "Could not write " + path + ": it is not a regular file.");
    }
    struct stat info {};
    ASSERT_EQ(::lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(read_file(kept).value_or("<failed>"), "kept");
    EXPECT_EQ(path_kind(scratch / "nowhere.json"), PathKind::missing);
    ASSERT_EQ(::lstat(pipe.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    ASSERT_EQ(::lstat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST(FilesWriteReplaceRegularPosix, AFileInAFolderThatTakesNoNewFilesIsReportedWithTheRealReason) {
    // /proc takes no new files, which alone read "No such file or directory"
    // about a file that exists. Its files open for writing only for the
    // superuser; anyone else is told that, and the superuser why it failed.
    if (path_kind("/proc/version") != PathKind::file) GTEST_SKIP() << "no /proc/version here";
    const std::string expected =
        ::geteuid() == 0
            ? "Could not write /proc/version: no temporary file can be made in its folder (No such file or directory)."
            : "Could not write /proc/version: Permission denied.";
    for (auto write : {&write_file_replace, &write_file_replace_regular}) {
        auto written = write("/proc/version", "data");
        ASSERT_FALSE(written.has_value());
        EXPECT_EQ(written.error(), expected);
    }
}

TEST(FilesReadPosix, OnlyRegularFilesAreReadAndOnlyWholeOnes) {
    test::ScratchFolder scratch;
    const std::string pipe = scratch / "x.desktop";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);  // nobody writes: a blocking open would never return
    EXPECT_EQ(read_file(pipe).error(), "Could not read " + pipe + ": it is not a regular file.");
    EXPECT_EQ(read_whole_file(pipe).error(), "Could not read " + pipe + ": it is not a regular file.");
    EXPECT_EQ(read_file_end(pipe, 10).error(), "Could not read " + pipe + ": it is not a regular file.");
    EXPECT_EQ(read_file("/dev/zero", 10).error(), "Could not read /dev/zero: it is not a regular file.");
    EXPECT_EQ(read_file(scratch.path()).error(), "Could not read " + scratch.path() + ": it is a folder.");

    const std::string big = scratch / "big";
    ASSERT_TRUE(write_file_replace(big, "x").has_value());
    ASSERT_EQ(::truncate(big.c_str(), whole_file_limit), 0);
    EXPECT_EQ(read_whole_file(big).value_or("").size(), whole_file_limit);
    ASSERT_EQ(::truncate(big.c_str(), whole_file_limit + 1), 0);
    EXPECT_EQ(read_whole_file(big).error(),
              "Could not read " + big + ": it is larger than 16 MiB, so it is neither read nor changed.");
}

TEST(FilesWriteReplacePosix, TheReplacedFileKeepsItsModeAndOwnerAndANewOneGetsWhatWasAsked) {
    test::ScratchFolder scratch;
    const bool root = ::geteuid() == 0;
    const std::string kept = scratch / "kept";
    ASSERT_TRUE(write_file_replace(kept, "one").has_value());
    ASSERT_EQ(::chmod(kept.c_str(), 0640), 0);
    if (root) {
        ASSERT_EQ(::chown(kept.c_str(), 4321, 4322), 0);
    }
    ASSERT_TRUE(write_file_replace(kept, "two").has_value());
    struct stat info {};
    ASSERT_EQ(::stat(kept.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640U);
    if (root) {
        EXPECT_EQ(info.st_uid, 4321U);
        EXPECT_EQ(info.st_gid, 4322U);
    }
    EXPECT_EQ(read_file(kept).value_or(""), "two");

    const std::string secret = scratch / "secret";
    ASSERT_TRUE(write_file_replace(secret, "s", NewFile{false, true}).has_value());
    ASSERT_EQ(::stat(secret.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600U);

    if (!root) return;
    const std::string theirs = scratch / "theirs";
    ASSERT_TRUE(create_folders(theirs).has_value());
    ASSERT_EQ(::chown(theirs.c_str(), 4321, 4322), 0);
    ASSERT_TRUE(write_file_replace(theirs + "/file", "t", NewFile{true, false}).has_value());
    ASSERT_EQ(::stat((theirs + "/file").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 4321U);
    EXPECT_EQ(info.st_gid, 4322U);
}

}  // namespace
}  // namespace qm::os
