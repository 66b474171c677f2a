#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "os/random_hex.h"

namespace {

TEST(RandomHex, TokensHaveTwoDigitsPerByteAndDiffer) {
    const std::optional<std::string> token = qm::os::random_hex(32);
    ASSERT_TRUE(token.has_value());
    EXPECT_EQ(token->size(), 64u);
    EXPECT_EQ(token->find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(qm::os::random_hex(0), std::string());

    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) seen.insert(qm::os::random_hex(16).value_or(""));
    EXPECT_EQ(seen.size(), 20u);
}

}  // namespace
