// Work spread over a few threads: every piece runs once, large counts use
// more than the calling thread, and a failure comes back to the caller.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "platforms/windows/work_pool.h"

namespace qm::windows {
namespace {

TEST(WorkPool, EveryPieceRunsOnceOnAFewThreads) {
    for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{200}}) {
        SCOPED_TRACE(count);
        std::vector<std::atomic<int>> runs(count);
        std::mutex lock;
        std::set<DWORD> threads;
        run_on_workers(count, [&](std::size_t i) {
            ++runs[i];
            {
                const std::lock_guard<std::mutex> held(lock);
                threads.insert(::GetCurrentThreadId());
            }
            // Long enough for the other threads to start and take pieces.
            ::Sleep(1);
        });
        for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(runs[i].load(), 1) << i;
        EXPECT_LE(threads.size(), static_cast<std::size_t>(most_workers));
        if (count == 200) {
            EXPECT_GT(threads.size(), 1u);
        }
    }
    std::atomic<int> both{0};
    run_both([&] { ++both; }, [&] { both += 10; });
    EXPECT_EQ(both.load(), 11);
}

TEST(WorkPool, AFailureStopsThePiecesNotStartedAndReachesTheCaller) {
    std::atomic<int> started{0};
    EXPECT_THROW(run_on_workers(200,
                                [&](std::size_t i) {
                                    ++started;
                                    if (i == 3) throw std::runtime_error("piece 3");
                                    ::Sleep(1);
                                }),
                 std::runtime_error);
    EXPECT_LT(started.load(), 200);
}

}  // namespace
}  // namespace qm::windows
