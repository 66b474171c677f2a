#include <gtest/gtest.h>

#include "util/result.h"

namespace {

qm::Result<int> half(int n) {
    if (n % 2 != 0) return qm::fail("The number is odd.");
    return n / 2;
}

qm::Result<int> quarter(int n) {
    int h = QM_TRY(half(n));
    return QM_TRY(half(h));
}

TEST(Result, TryPassesValuesAndFirstFailure) {
    EXPECT_EQ(quarter(8).value(), 2);
    ASSERT_FALSE(quarter(6).has_value());
    EXPECT_EQ(quarter(6).error(), "The number is odd.");
}

}  // namespace
