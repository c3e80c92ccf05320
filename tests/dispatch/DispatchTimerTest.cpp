#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "DispatchTestSupport.h"

using dispatchtest::after;
using dispatchtest::mainHandleReadable;
using dispatchtest::ManualClockScope;

namespace {

class DispatchTimerTest : public ::testing::Test {
  protected:
    void TearDown() override { dispatchtest::drainAll(); }
    // Waits (real time, bounded) until every block queued so far on a serial queue has run.
    static void flush(const dispatch_queue_t& queue) {
        dispatch_sync(queue, [] {});
    }
};

TEST(DispatchTimeTest, AddsDeltasToNowOrToAGivenTime) {
    ManualClockScope clock(1000.0);
    EXPECT_EQ(dispatch_time(DISPATCH_TIME_NOW, 0), 1000 * NSEC_PER_SEC);
    EXPECT_EQ(dispatch_time(DISPATCH_TIME_NOW, 1500 * NSEC_PER_MSEC), 1001500 * NSEC_PER_MSEC);
    EXPECT_EQ(dispatch_time(5000, 250), 5250u);
    EXPECT_EQ(dispatch_time(5000, -250), 4750u);
    PlatformClock::advance(0.5);
    EXPECT_EQ(dispatch_time(DISPATCH_TIME_NOW, 0), 1000500 * NSEC_PER_MSEC);
}

TEST(DispatchTimeTest, SaturatesInsteadOfWrapping) {
    EXPECT_EQ(dispatch_time(DISPATCH_TIME_FOREVER, -5), DISPATCH_TIME_FOREVER);
    EXPECT_EQ(dispatch_time(DISPATCH_TIME_FOREVER - 10, 100), DISPATCH_TIME_FOREVER);
    EXPECT_EQ(dispatch_time((1ull << 63) + 5, INT64_MAX), DISPATCH_TIME_FOREVER);
    // Never DISPATCH_TIME_NOW, which would read as "now" to the next user.
    EXPECT_NE(dispatch_time(100, -1000), DISPATCH_TIME_NOW);
    EXPECT_NE(dispatch_time(100, INT64_MIN), DISPATCH_TIME_NOW);
}

TEST_F(DispatchTimerTest, MainQueueDelaysFireWhenTheClockReachesThemInDeadlineOrder) {
    ManualClockScope clock;
    std::vector<int> order;
    auto main = dispatch_get_main_queue();
    dispatch_after(after(2.0), main, [&] { order.push_back(20); });
    dispatch_after(after(0.5), main, [&] { order.push_back(5); });
    dispatch_after(after(1.0), main, [&] { order.push_back(10); });
    dispatch_after(after(1.0), main, [&] { order.push_back(11); });  // same deadline: submission order
    EXPECT_FALSE(mainHandleReadable());
    EXPECT_NEAR(dispatch_main_queue_next_due(), 0.5, 1e-9);
    EXPECT_EQ(dispatch_main_queue_drain(), 0);

    PlatformClock::advance(0.4999);
    EXPECT_FALSE(mainHandleReadable());
    EXPECT_EQ(dispatch_main_queue_drain(), 0);

    PlatformClock::advance(0.5001);
    EXPECT_TRUE(mainHandleReadable());
    EXPECT_EQ(dispatch_main_queue_drain(), 3);
    EXPECT_EQ(order, (std::vector<int>{5, 10, 11}));
    EXPECT_NEAR(dispatch_main_queue_next_due(), 1.0, 1e-9);

    PlatformClock::advance(5);
    EXPECT_EQ(dispatch_main_queue_drain(), 1);
    EXPECT_EQ(order, (std::vector<int>{5, 10, 11, 20}));
    EXPECT_LT(dispatch_main_queue_next_due(), 0);
}

TEST_F(DispatchTimerTest, DueDelaysFollowPendingBlocksAndPastOnesRunOnTheNextDrain) {
    ManualClockScope clock;
    std::vector<int> order;
    auto main = dispatch_get_main_queue();
    dispatch_after(after(1.0), main, [&] { order.push_back(2); });
    dispatch_after(DISPATCH_TIME_FOREVER, main, [&] { order.push_back(99); });  // never runs
    PlatformClock::advance(1.0);
    dispatch_async(main, [&] { order.push_back(1); });
    dispatch_main_queue_drain();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    dispatch_after(DISPATCH_TIME_NOW, main, [&] { order.push_back(3); });
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, -5 * static_cast<std::int64_t>(NSEC_PER_SEC)), main,
                   [&] { order.push_back(4); });
    EXPECT_TRUE(mainHandleReadable());
    EXPECT_EQ(dispatch_main_queue_drain(), 2);
    PlatformClock::advance(1e6);
    dispatch_main_queue_drain();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(DispatchTimerTest, PoolQueueDelaysAreQueuedByTheTimeAdvanceReturns) {
    ManualClockScope clock;
    auto queue = dispatch_queue_create("test.after");
    std::vector<int> order;
    dispatch_after(after(3), queue, [&] { order.push_back(3); });
    dispatch_after(after(1), queue, [&] { order.push_back(1); });
    dispatch_after(after(2), queue, [&] { order.push_back(2); });
    dispatch_after(after(2), queue, [&] { order.push_back(22); });
    EXPECT_NEAR(dispatch_timers_next_due(), 1.0, 1e-9);
    PlatformClock::advance(0.9);
    flush(queue);
    EXPECT_TRUE(order.empty());
    PlatformClock::advance(2.1);  // all three deadlines pass in one step
    flush(queue);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 22, 3}));
}

TEST_F(DispatchTimerTest, RealClockDelayFiresOnTheTimerThread) {
    auto done = dispatch_semaphore_create(0);
    std::atomic<bool> early{false};
    auto start = PlatformClock::monotonic();
    dispatch_after(after(0.02), dispatch_get_global_queue(0), [&] {
        if (PlatformClock::monotonic() - start < 0.019) early = true;
        dispatch_semaphore_signal(done);
    });
    EXPECT_EQ(dispatch_semaphore_wait(done, after(5)), 0);
    EXPECT_FALSE(early.load());
}

TEST_F(DispatchTimerTest, RealClockMainQueueDelayMakesTheHandleReadable) {
    dispatch_after(after(0.01), dispatch_get_main_queue(), [] {});
    pollfd fd{dispatch_main_queue_handle(), POLLIN, 0};
    EXPECT_EQ(::poll(&fd, 1, 5000), 1);
    EXPECT_EQ(dispatch_main_queue_drain(), 1);
}

// ---- timer sources -----------------------------------------------------------------------------

class TimerSourceTest : public DispatchTimerTest {
  protected:
    ManualClockScope clock_;
    dispatch_queue_t queue_ = dispatch_queue_create("test.source");
    dispatch_source_t source_ = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, queue_);
    std::atomic<int> fires_{0};

    void SetUp() override {
        dispatch_source_set_timer(source_, after(1), NSEC_PER_SEC, 0);
        dispatch_source_set_event_handler(source_, [this] { ++fires_; });
    }
    void TearDown() override {
        if (!dispatch_source_testcancel(source_)) dispatch_source_cancel(source_);
        DispatchTimerTest::TearDown();
    }
    void step(double seconds) {
        PlatformClock::advance(seconds);
        flush(queue_);
    }
};

TEST_F(TimerSourceTest, StartsSuspendedAndFiresEveryIntervalOnceResumed) {
    step(1.5);
    EXPECT_EQ(fires_.load(), 0);  // never resumed: the missed beat waits for the resume
    dispatch_resume(source_);
    flush(queue_);
    EXPECT_EQ(fires_.load(), 1);
    step(0.5);  // t = 2.0
    EXPECT_EQ(fires_.load(), 2);
    for (int i = 0; i < 5; ++i) step(1.0);
    EXPECT_EQ(fires_.load(), 7);
}

TEST_F(TimerSourceTest, CancelStopsFiresAndRunsTheCancelHandlerOnce) {
    std::atomic<int> cancels{0};
    dispatch_source_set_cancel_handler(source_, [&] { ++cancels; });
    dispatch_resume(source_);
    step(1);
    EXPECT_EQ(fires_.load(), 1);
    dispatch_source_cancel(source_);
    dispatch_source_cancel(source_);
    EXPECT_EQ(dispatch_source_testcancel(source_), 1);
    step(5);
    EXPECT_EQ(fires_.load(), 1);
    EXPECT_EQ(cancels.load(), 1);
}

TEST_F(TimerSourceTest, SuspendHoldsFiresAndResumeDeliversOneCoalescedFire) {
    dispatch_resume(source_);
    step(1);
    EXPECT_EQ(fires_.load(), 1);
    dispatch_suspend(source_);
    step(3);
    EXPECT_EQ(fires_.load(), 1);
    dispatch_resume(source_);
    flush(queue_);
    EXPECT_EQ(fires_.load(), 2);
    step(1);
    EXPECT_EQ(fires_.load(), 3);
}

TEST_F(TimerSourceTest, SchedulesAsSet) {
    struct Case {
        const char* what;
        double start;
        std::uint64_t interval;
        std::vector<std::pair<double, int>> steps;  // advance by, fires expected after
    } cases[] = {
        // Beats at 1..10 coalesce into one handler call; the next beat is still at 11.
        {"a long jump fires once and keeps the beat", 1, NSEC_PER_SEC, {{10.25, 1}, {0.5, 1}, {0.25, 2}}},
        {"setting again replaces the schedule", 5, 2 * NSEC_PER_SEC, {{4, 0}, {1, 1}, {2, 2}}},
        {"one shot when the interval is forever", 1, DISPATCH_TIME_FOREVER, {{1, 1}, {10, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto source = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, queue_);
        std::atomic<int> fires{0};
        dispatch_source_set_timer(source, after(1), NSEC_PER_SEC, 0);
        dispatch_source_set_event_handler(source, [&] { ++fires; });
        dispatch_resume(source);
        dispatch_source_set_timer(source, after(c.start), c.interval, 0);
        for (const auto& [seconds, expected] : c.steps) {
            step(seconds);
            EXPECT_EQ(fires.load(), expected) << "after " << seconds;
        }
        dispatch_source_cancel(source);
        flush(queue_);
    }
}

TEST_F(TimerSourceTest, HandlerAndCancelHandlerNeverOverlap) {
    // On a concurrent queue, with the clock advanced from another thread while handlers run.
    auto concurrent = dispatch_get_global_queue(0);
    auto source = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, concurrent);
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    std::atomic<int> handled{0};
    auto cancelled = dispatch_semaphore_create(0);
    auto enter = [&] {
        if (++inside > 1) overlap = true;
        std::this_thread::yield();
        --inside;
    };
    dispatch_source_set_timer(source, after(0.01), 10 * NSEC_PER_MSEC, 0);
    dispatch_source_set_event_handler(source, [&] {
        enter();
        ++handled;
    });
    dispatch_source_set_cancel_handler(source, [&] {
        enter();
        dispatch_semaphore_signal(cancelled);
    });
    dispatch_resume(source);
    std::thread advancer([] {
        for (int i = 0; i < 300; ++i) PlatformClock::advance(0.01);
    });
    advancer.join();
    // Let at least one handler through (bounded real wait) before cancelling.
    for (int i = 0; i < 500 && handled.load() == 0; ++i) {
        PlatformClock::advance(0.01);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    dispatch_source_cancel(source);
    ASSERT_EQ(dispatch_semaphore_wait(cancelled, after(5)), 0);
    EXPECT_FALSE(overlap.load());
    EXPECT_GT(handled.load(), 0);
}

TEST_F(DispatchTimerTest, TimerSourceOnTheMainQueueFiresThroughTheDrain) {
    ManualClockScope clock;
    auto source = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, dispatch_get_main_queue());
    int fires = 0;
    bool onMain = false;
    dispatch_source_set_timer(source, dispatch_time(DISPATCH_TIME_NOW, 0), NSEC_PER_SEC, 0);
    dispatch_source_set_event_handler(source, [&] {
        ++fires;
        onMain = dispatch_is_main_thread();
    });
    dispatch_resume(source);
    for (int second = 0; second < 59; ++second) {
        dispatch_main_queue_drain();
        PlatformClock::advance(1);
    }
    dispatch_main_queue_drain();
    EXPECT_EQ(fires, 60);
    EXPECT_TRUE(onMain);
    dispatch_source_cancel(source);
    PlatformClock::advance(1);
    dispatch_main_queue_drain();
    EXPECT_EQ(fires, 60);
}

TEST_F(DispatchTimerTest, AnUnreferencedRunningSourceKeepsFiringUntilCancelled) {
    ManualClockScope clock;
    auto queue = dispatch_queue_create("test.orphan");
    std::atomic<int> fires{0};
    std::weak_ptr<dispatch_source_s> weak;
    {
        auto source = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, queue);
        weak = source;
        dispatch_source_set_timer(source, after(1), NSEC_PER_SEC, 0);
        dispatch_source_set_event_handler(source, [&] { ++fires; });
        dispatch_resume(source);
    }
    PlatformClock::advance(1);
    flush(queue);
    PlatformClock::advance(1);
    flush(queue);
    EXPECT_EQ(fires.load(), 2);
    auto source = weak.lock();
    ASSERT_TRUE(source);
    dispatch_source_cancel(source);
}

}  // namespace
