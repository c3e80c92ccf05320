#include "dispatch/Clock.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

TEST(ClockTest, ManualClockMovesOnlyWhenAdvancedAndTellsListeners) {
    std::atomic<int> told{0};
    auto token = PlatformClock::addListener([&] { ++told; });
    PlatformClock::useManualClock(1000.0);
    EXPECT_DOUBLE_EQ(PlatformClock::now(), 1000.0);
    PlatformClock::advance(2.5);
    EXPECT_DOUBLE_EQ(PlatformClock::now(), 1002.5);
    EXPECT_GE(told.load(), 2);
    PlatformClock::removeListener(token);
    PlatformClock::useRealClock();
    EXPECT_GT(PlatformClock::now(), 1.6e9);
}

}  // namespace
