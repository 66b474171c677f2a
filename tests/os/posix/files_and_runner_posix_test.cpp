#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "os/os_test_support.h"
#include "os/files.h"
#include "os/process.h"

namespace qm::os {
namespace {

// Limits the size of files this process may write, for the length of a test.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, old_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    sighandler_t old_handler_ = SIG_DFL;
};

TEST(FilesWriteReplacePosix, FailureWhileWritingKeepsTheOldContent) {
    test::ScratchFolder scratch;
    const std::string target = scratch / "settings.json";
    ASSERT_TRUE(write_file_replace(target, "old content").has_value());
    {
        FileSizeLimit limit(1000);
        auto written = write_file_replace(target, std::string(5000, 'n'));
        ASSERT_FALSE(written.has_value());
        EXPECT_TRUE(written.error().message.starts_with("Could not write " + target + ": ")) << written.error().message;
    }
    EXPECT_EQ(read_file(target).value_or("<failed>"), "old content");
    auto entries = list_folder(scratch.path());
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(entries->size(), 1u) << "the temporary file must be removed";
}

TEST(FilesWriteReplacePosix, FolderThatIsNotWritableKeepsTheOldContent) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    test::ScratchFolder scratch;
    const std::string folder = scratch / "locked";
    ASSERT_TRUE(create_folder(folder).has_value());
    const std::string target = join_path(folder, "settings.json");
    ASSERT_TRUE(write_file_replace(target, "old content").has_value());
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    auto written = write_file_replace(target, "new content");
    ::chmod(folder.c_str(), 0755);
    ASSERT_FALSE(written.has_value());
    EXPECT_NE(written.error().message.find(target), std::string::npos) << written.error().message;
    EXPECT_EQ(read_file(target).value_or("<failed>"), "old content");
}

TEST(ChildRunnerPosix, BareNamesAreSearchedAndSignalsAreNotSuccess) {
    ChildRequest request;
    request.program = "sh";
    request.arguments = {"-c", "echo \"$0\"; exit 5", "from sh"};
    ChildBytes result = run_child(request);
    EXPECT_EQ(result.exit_code.value_or(99), 5u) << result.err;
    EXPECT_EQ(result.out, "from sh\n");

    request.arguments = {"-c", "kill -TERM $$"};
    ChildBytes killed = run_child(request);
    ASSERT_TRUE(killed.exit_code.has_value());
    EXPECT_NE(*killed.exit_code, 0u) << "a child ended by a signal did not succeed";

    // Standard input is the null device: reading it ends at once.
    request.arguments = {"-c", "cat; echo done"};
    request.time_limit = std::chrono::seconds(5);
    ChildBytes reader = run_child(request);
    EXPECT_FALSE(reader.timed_out);
    EXPECT_EQ(reader.out, "done\n");
}

}  // namespace
}  // namespace qm::os
