#include "dispatch/SpinWait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using detail::AdaptiveSpin;

namespace {

constexpr std::int64_t kMicro = 1000;

TEST(AdaptiveSpinTest, TheBudgetFollowsTheGaps) {
    struct Case {
        const char* what;
        std::int64_t floor, ceiling, start, gap, budget;  // microseconds; gap -1: far beyond reach
        int repeats;
    } cases[] = {
        {"a gap within reach sets twice it plus slack", 1, 1000, 10, 100, 202, 1},
        {"one quick arrival halves at most", 1, 1000, 400, 0, 200, 1},
        {"a gap beyond the ceiling halves", 5, 100, 100, 101, 50, 1},
        {"endless gaps shrink to the floor", 5, 100, 100, -1, 5, 20},
        {"never past the ceiling", 1, 100, 10, 99, 100, 1},
    };
    for (const Case& c : cases) {
        AdaptiveSpin spin(c.floor * kMicro, c.ceiling * kMicro, c.start * kMicro);
        for (int i = 0; i < c.repeats; ++i) spin.finished(c.gap < 0 ? INT64_MAX : c.gap * kMicro);
        EXPECT_EQ(spin.budget(), c.budget * kMicro) << c.what;
    }
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
