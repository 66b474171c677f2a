#include <gtest/gtest.h>

#include <chrono>

#include "os/file_lock.h"
#include "os/files.h"
#include "os/os_test_support.h"

namespace qm::os {
namespace {

using namespace std::chrono_literals;

// Two holders exclude each other (here within one process, as two threads of
// the window server would), the second waits no longer than it was told, and
// the lock is free again once the first is gone.
TEST(FileLock, OneHolderAtATimeAndFreeOnceReleased) {
    test::ScratchFolder folder;
    const std::string path = folder / "change.lock";
    Result<std::optional<FileLock>> first = take_file_lock(path, 0ms);
    ASSERT_TRUE(first && *first) << (first ? "" : first.error().message);
    const auto started = std::chrono::steady_clock::now();
    Result<std::optional<FileLock>> second = take_file_lock(path, 150ms);
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - started, 150ms);
    FileLock moved = std::move(**first);
    EXPECT_FALSE(first->value().held());
    moved.release();
    Result<std::optional<FileLock>> third = take_file_lock(path, 0ms);
    ASSERT_TRUE(third && *third);
    EXPECT_TRUE((*third)->held());
    EXPECT_FALSE(take_file_lock(join_path(folder / "missing", "change.lock"), 0ms));  // cannot be made
}

}  // namespace
}  // namespace qm::os
