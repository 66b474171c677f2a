#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "os/unique_handle.h"

namespace qm::os {
namespace {

// Handles are small numbers; 0 means "no handle"; every close is recorded.
std::vector<int> closed;

struct CountingPolicy {
    using Native = int;
    static Native none() noexcept { return 0; }
    static bool is_valid(Native h) noexcept { return h != 0; }
    static void close(Native h) noexcept { closed.push_back(h); }
};

using Counted = UniqueHandle<CountingPolicy>;

TEST(UniqueHandle, EveryHandleIsClosedExactlyOnceWhateverMovesItGoesThrough) {
    closed.clear();
    {
        Counted first(1);
        Counted second(2);
        first = std::move(second);  // 1 closes; 2 now belongs to first
        EXPECT_EQ(closed, std::vector<int>{1});
        EXPECT_EQ(first.get(), 2);
        EXPECT_FALSE(second.valid());

        Counted& alias = first;
        first = std::move(alias);  // moving into itself keeps the handle open
        EXPECT_EQ(first.get(), 2);

        Counted third(std::move(first));
        EXPECT_FALSE(first.valid());
        EXPECT_EQ(third.get(), 2);

        const int kept = third.release();  // given up: the caller closes it
        EXPECT_FALSE(third.valid());
        third.reset(3);
        *third.put() = 4;  // 3 closes before the slot is handed out
        EXPECT_EQ(closed, (std::vector<int>{1, 3}));
        EXPECT_EQ(kept, 2);
    }
    EXPECT_EQ(closed, (std::vector<int>{1, 3, 4}));  // only what was still owned
}

TEST(UniqueHandle, NoHandleIsNeverClosed) {
    closed.clear();
    {
        Counted empty;
        Counted from_none(0);
        empty.reset();
        empty = std::move(from_none);
        EXPECT_FALSE(empty);
    }
    EXPECT_TRUE(closed.empty());
}

}  // namespace
}  // namespace qm::os
