#include "dispatch/SpinWait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using detail::AdaptiveSpin;

namespace {

constexpr std::int64_t kMicro = 1000;

TEST(AdaptiveSpinTest, AGapWithinReachSetsTheBudgetToTwiceItPlusSlack) {
    AdaptiveSpin spin(1 * kMicro, 1000 * kMicro, 10 * kMicro);
    spin.finished(100 * kMicro);
    EXPECT_EQ(spin.budget(), 202 * kMicro);
}

TEST(AdaptiveSpinTest, OneQuickArrivalHalvesAtMost) {
    AdaptiveSpin spin(1 * kMicro, 1000 * kMicro, 400 * kMicro);
    spin.finished(0);
    EXPECT_EQ(spin.budget(), 200 * kMicro);
}

TEST(AdaptiveSpinTest, GapsBeyondTheCeilingShrinkTheBudgetToTheFloor) {
    AdaptiveSpin spin(5 * kMicro, 100 * kMicro, 100 * kMicro);
    spin.finished(101 * kMicro);
    EXPECT_EQ(spin.budget(), 50 * kMicro);
    for (int i = 0; i < 20; ++i) spin.finished(INT64_MAX);
    EXPECT_EQ(spin.budget(), 5 * kMicro);
}

TEST(AdaptiveSpinTest, TheBudgetNeverPassesTheCeiling) {
    AdaptiveSpin spin(1 * kMicro, 100 * kMicro, 10 * kMicro);
    spin.finished(99 * kMicro);
    EXPECT_EQ(spin.budget(), 100 * kMicro);
}

TEST(AdaptiveSpinTest, ReturnsAtOnceWhenWorkIsThere) {
    AdaptiveSpin spin(1 * kMicro, 1000 * kMicro, 1000 * kMicro);
    int looks = 0;
    EXPECT_TRUE(spin.spin(detail::spinClockNanos(), INT64_MAX, [&] { return ++looks > 0; }));
    EXPECT_EQ(looks, 1);
}

TEST(AdaptiveSpinTest, GivesUpWhenNothingComes) {
    AdaptiveSpin spin(1 * kMicro, 1000 * kMicro, 20 * kMicro);
    EXPECT_FALSE(spin.spin(detail::spinClockNanos(), INT64_MAX, [] { return false; }));
    // A zero limit only looks once.
    int looks = 0;
    EXPECT_FALSE(spin.spin(detail::spinClockNanos(), 0, [&] { return ++looks < 0; }));
    EXPECT_EQ(looks, 1);
}

TEST(AdaptiveSpinTest, TheSlowCheckCanEndTheSpin) {
    AdaptiveSpin spin(1 * kMicro, 1000 * kMicro, 1000 * 1000 * kMicro);
    int slowLooks = 0;
    EXPECT_TRUE(spin.spin(
        detail::spinClockNanos(), INT64_MAX, [] { return false; }, [&] { return ++slowLooks == 3; }));
    EXPECT_EQ(slowLooks, 3);
}

TEST(AdaptiveSpinTest, SeesAFlagSetByAnotherThread) {
    AdaptiveSpin spin(1 * kMicro, 1000 * kMicro, 1000 * 1000 * kMicro);  // a second at most
    std::atomic<bool> flag{false};
    std::thread setter([&] { flag.store(true, std::memory_order_release); });
    bool found =
        spin.spin(detail::spinClockNanos(), INT64_MAX, [&] { return flag.load(std::memory_order_acquire); });
    setter.join();
    EXPECT_TRUE(found);
}

}  // namespace
