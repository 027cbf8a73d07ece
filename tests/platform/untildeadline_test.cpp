#include "platform/untildeadline.h"

#include <future>
#include <gtest/gtest.h>
#include <memory>

using Clock = std::chrono::steady_clock;

TEST(UntilDeadline, GivesTheResultOfWorkThatEndsInTime)
{
    EXPECT_EQ(platform::untilDeadline([] { return 42; }, Clock::now() + std::chrono::seconds(30)), 42);
}

TEST(UntilDeadline, LeavesLateWorkRunningAndReturnsAtTheDeadline)
{
    // The work waits for the test to let it go, as a resolver that gets no answer does (at most 30 s, so that a
    // helper that waited for it fails instead of hanging).
    const auto release = std::make_shared<std::promise<void>>();
    const auto finished = std::make_shared<std::promise<void>>();
    auto finishedSignal = finished->get_future();
    const auto late = platform::untilDeadline(
        [gate = release->get_future().share(), finished] {
            gate.wait_for(std::chrono::seconds(30));
            finished->set_value();
            return 1;
        },
        Clock::now() + std::chrono::milliseconds(50));
    EXPECT_EQ(late, std::nullopt);
    release->set_value();
    finishedSignal.wait();
}
