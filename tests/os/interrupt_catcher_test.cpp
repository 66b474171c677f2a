// The interrupt handling's catcher, as each system's handler reaches it: the
// first interrupt wakes the waiting command instead of ending the program,
// another one ends it as usual, and without a catcher nothing is caught.
#include <gtest/gtest.h>

#include "os/console.h"
#include "os/end_of_run.h"
#include "os/wake_signal.h"

namespace qm::os {
namespace {

TEST(InterruptCatcher, TakesTheFirstInterruptOnlyAndOnlyWhileItLives) {
    EXPECT_FALSE(end_of_run::catch_interrupt());
    Result<std::shared_ptr<WakeSignal>> wake = WakeSignal::make();
    ASSERT_TRUE(wake) << wake.error();
    {
        const InterruptCatcher catcher(*wake);
        ASSERT_TRUE(catcher.catching());
        const InterruptCatcher second(*wake);
        EXPECT_FALSE(second.catching());
        EXPECT_FALSE(catcher.caught());
        EXPECT_FALSE((*wake)->wait(std::chrono::milliseconds(0)));
        EXPECT_TRUE(end_of_run::catch_interrupt());
        EXPECT_TRUE(catcher.caught());
        EXPECT_TRUE((*wake)->wait(std::nullopt));
        EXPECT_FALSE(end_of_run::catch_interrupt());
    }
    EXPECT_FALSE(end_of_run::catch_interrupt());
}

}  // namespace
}  // namespace qm::os
