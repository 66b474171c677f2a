#include <gtest/gtest.h>

#include "os/environment.h"
#include "os/files.h"
#include "os/random.h"
#include "os/os_test_support.h"

namespace qm::os {
namespace {

TEST(RandomBytes, GivesTheSizeAskedForAndDiffersBetweenCalls) {
    std::optional<std::string> first = random_bytes(32);
    std::optional<std::string> second = random_bytes(32);
    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(first->size(), 32u);
    EXPECT_EQ(second->size(), 32u);
    EXPECT_NE(*first, *second);
    EXPECT_NE(*first, std::string(32, '\0'));

    // Large requests are filled whole, not cut at the system's per-call limit.
    std::optional<std::string> large = random_bytes(100000);
    ASSERT_TRUE(large.has_value());
    EXPECT_EQ(large->size(), 100000u);
    EXPECT_NE(large->substr(99000), std::string(1000, '\0'));
    EXPECT_EQ(random_bytes(0).value_or("x"), "");
}

TEST(Environment, KeepsUnsetApartFromEmptyAndSet) {
    const std::string name = "QM_PLATFORM_TEST_" + test::random_hex(4);
    test::set_env(name, std::nullopt);
    EXPECT_FALSE(get_env(name).has_value());

    test::set_env(name, "");
    std::optional<std::string> empty = get_env(name);
    ASSERT_TRUE(empty.has_value()) << "a variable set to the empty text must not read as unset";
    EXPECT_EQ(*empty, "");

    test::set_env(name, "Bücher-日本 with space");
    EXPECT_EQ(get_env(name).value_or("<unset>"), "Bücher-日本 with space");

    // Longer than any first guess of a buffer size.
    std::string long_value(5000, 'v');
    test::set_env(name, long_value);
    EXPECT_EQ(get_env(name).value_or("<unset>"), long_value);

    test::set_env(name, std::nullopt);
    EXPECT_FALSE(get_env(name).has_value());
    EXPECT_FALSE(get_env("").has_value());
}

TEST(Environment, TempFolderExistsWithoutTrailingSeparator) {
    std::string folder = temp_folder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(path_kind(folder), PathKind::folder) << folder;
    if (folder.size() > 3) {
        EXPECT_NE(folder.back(), path_separator()) << folder;
    }
}

}  // namespace
}  // namespace qm::os
