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

}  // namespace
}  // namespace qm::os
