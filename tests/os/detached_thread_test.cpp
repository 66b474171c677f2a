// Detached work runs once, with the data it was given, however many threads
// start at once: the window server starts one per connection.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "os/detached_thread.h"

namespace qm::os {
namespace {

TEST(DetachedThread, EveryWorkRunsOnceWithItsOwnData) {
    constexpr int count = 400;
    std::atomic<int> ran{0};
    std::atomic<int> wrong{0};
    for (int i = 0; i < count; ++i) {
        const std::string own = "work " + std::to_string(i);
        ASSERT_TRUE(start_detached_thread([&ran, &wrong, own, i] {
            if (own != "work " + std::to_string(i)) wrong.fetch_add(1);
            ran.fetch_add(1);
        }));
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ran.load() < count && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ran.load(), count);
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace qm::os
