#include "foundation/NSTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dispatch/Clock.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSThread.h"
#include "tests/support/MainLoop.h"

using testsupport::drainMainRunLoop;
using testsupport::ManualClock;

namespace {

constexpr double kStart = 1'700'000'000.0;

class NSTimerTest : public ::testing::Test {
  protected:
    ManualClock clock_{kStart};
    Ref<NSRunLoop> loop_ = NSRunLoop::mainRunLoop();
    std::vector<double> fireTimes_;  // clock readings at each fire, relative to the start

    NSTimer::Action recorder() {
        return [this](const Ref<NSTimer>&) { fireTimes_.push_back(PlatformClock::now() - kStart); };
    }
};

class Target : public NSObject {
  public:
    int ticks = 0;
    int plainTicks = 0;
    Value lastUserInfo;
    void tick(const Ref<NSTimer>& timer) {
        ++ticks;
        lastUserInfo = timer->userInfo();
    }
    void plainTick() { ++plainTicks; }
};

TEST_F(NSTimerTest, OneShotFiresOnceAtItsDateAndIsThenInvalid) {
    auto timer = NSTimer::scheduledTimerWithTimeInterval(1.5, false, recorder());
    EXPECT_TRUE(timer->isValid());
    EXPECT_EQ(timer->fireDate().timeIntervalSince1970(), kStart + 1.5);
    EXPECT_EQ(timer->timeInterval(), 0.0);
    clock_.advance(1.4);
    EXPECT_TRUE(fireTimes_.empty());
    clock_.advance(0.1);
    ASSERT_EQ(fireTimes_.size(), 1u);
    EXPECT_NEAR(fireTimes_[0], 1.5, 1e-6);
    EXPECT_FALSE(timer->isValid());
    clock_.advance(10);
    EXPECT_EQ(fireTimes_.size(), 1u);
}

TEST_F(NSTimerTest, RepeatingTimerFiresOnEveryBeatWhileTheClockSteps) {
    auto timer = NSTimer::scheduledTimerWithTimeInterval(0.02, true, recorder());
    EXPECT_DOUBLE_EQ(timer->timeInterval(), 0.02);
    clock_.advance(1.0);
    ASSERT_EQ(fireTimes_.size(), 50u);
    for (size_t i = 0; i < fireTimes_.size(); ++i) EXPECT_NEAR(fireTimes_[i], 0.02 * (i + 1), 1e-6);
    timer->invalidate();
}

TEST_F(NSTimerTest, ALateLoopFiresOnceAndKeepsTheBeat) {
    auto timer = NSTimer::scheduledTimerWithTimeInterval(1.0, true, recorder());
    clock_.jump(10.5);  // beats 1..10 were missed
    EXPECT_EQ(fireTimes_.size(), 1u);
    EXPECT_EQ(timer->fireDate().timeIntervalSince1970(), kStart + 11.0);
    clock_.advance(0.5);
    EXPECT_EQ(fireTimes_.size(), 2u);
    timer->invalidate();
}

TEST_F(NSTimerTest, DueTimersFireInDateOrderThenInTheOrderAdded) {
    std::vector<std::string> order;
    auto add = [&](double interval, std::string name) {
        return NSTimer::scheduledTimerWithTimeInterval(interval, false,
                                                       [&, name](auto&) { order.push_back(name); });
    };
    add(3, "c");
    add(1, "a1");
    add(2, "b");
    add(1, "a2");
    clock_.jump(5);
    EXPECT_EQ(order, (std::vector<std::string>{"a1", "a2", "b", "c"}));
}

TEST_F(NSTimerTest, TargetAndMemberFunctionWithUserInfo) {
    auto target = make<Target>();
    auto timer = NSTimer::scheduledTimerWithTimeInterval(0.5, target, &Target::tick,
                                                         Value(Dictionary{{"count", 1}}), true);
    auto plain = NSTimer::scheduledTimerWithTimeInterval(0.5, target, &Target::plainTick, Value(), false);
    clock_.advance(1.0);
    EXPECT_EQ(target->ticks, 2);
    EXPECT_EQ(target->plainTicks, 1);
    EXPECT_EQ(target->lastUserInfo["count"].intValue(), 1);
    EXPECT_EQ(timer->userInfo()["count"].intValue(), 1);
    timer->invalidate();
}

TEST_F(NSTimerTest, AGoneTargetIsNeverCalledAndTheTimerInvalidatesItself) {
    auto target = make<Target>();
    int calls = 0;
    auto timer = NSTimer::scheduledTimerWithTimeInterval(
        1, target, [&](auto&) { ++calls; }, Value(), true);
    clock_.advance(1);
    EXPECT_EQ(calls, 1);
    target.reset();
    clock_.advance(1);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(timer->isValid());
}

TEST_F(NSTimerTest, TheRunLoopHoldsTheTimerUntilInvalidated) {
    int calls = 0;
    Weak<NSTimer> weak;
    {
        auto timer = NSTimer::scheduledTimerWithTimeInterval(1, true, [&](auto&) { ++calls; });
        weak = timer;
    }
    clock_.advance(2);
    EXPECT_EQ(calls, 2);
    ASSERT_FALSE(weak.expired());
    weak.lock()->invalidate();
    EXPECT_TRUE(weak.expired());
}

TEST_F(NSTimerTest, InvalidateInsideTheCallbackStopsRepeats) {
    int calls = 0;
    NSTimer::scheduledTimerWithTimeInterval(1, true, [&](const Ref<NSTimer>& timer) {
        if (++calls == 3) timer->invalidate();
    });
    clock_.advance(10);
    EXPECT_EQ(calls, 3);
}

TEST_F(NSTimerTest, InvalidateFromAnotherThreadTakesItOut) {
    int calls = 0;
    auto timer = NSTimer::scheduledTimerWithTimeInterval(1, true, [&](auto&) { ++calls; });
    std::thread([&] { timer->invalidate(); }).join();
    clock_.advance(3);
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(timer->isValid());
}

TEST_F(NSTimerTest, SetFireDateMovesTheNextFire) {
    auto timer = NSTimer::scheduledTimerWithTimeInterval(10, false, recorder());
    timer->setFireDate(NSDate::dateWithTimeIntervalSince1970(kStart + 2));
    clock_.advance(3);
    ASSERT_EQ(fireTimes_.size(), 1u);
    EXPECT_NEAR(fireTimes_[0], 2, 1e-6);

    auto later = NSTimer::scheduledTimerWithTimeInterval(1, false, recorder());
    later->setFireDate(NSDate::distantFuture());  // the platform's way to pause a timer
    clock_.advance(100);
    EXPECT_EQ(fireTimes_.size(), 1u);
    later->setFireDate(NSDate::distantPast());  // fire as soon as the loop looks
    drainMainRunLoop();
    EXPECT_EQ(fireTimes_.size(), 2u);
}

TEST_F(NSTimerTest, FireByHandInvalidatesAOneShotAndKeepsARepeatersSchedule) {
    auto once = NSTimer::scheduledTimerWithTimeInterval(5, false, recorder());
    once->fire();
    EXPECT_EQ(fireTimes_.size(), 1u);
    EXPECT_FALSE(once->isValid());
    auto repeating = NSTimer::scheduledTimerWithTimeInterval(5, true, recorder());
    repeating->fire();
    EXPECT_TRUE(repeating->isValid());
    EXPECT_EQ(repeating->fireDate().timeIntervalSince1970(), kStart + 5);
    clock_.advance(5);
    EXPECT_EQ(fireTimes_.size(), 3u);
    repeating->invalidate();
    repeating->fire();  // invalid: nothing
    EXPECT_EQ(fireTimes_.size(), 3u);
}

TEST_F(NSTimerTest, ADefaultModeTimerWaitsWhileTheLoopTracks) {
    auto defaultTimer = NSTimer::timerWithTimeInterval(1, false, [&](auto&) { fireTimes_.push_back(1); });
    auto commonTimer = NSTimer::timerWithTimeInterval(1, false, [&](auto&) { fireTimes_.push_back(2); });
    loop_->addTimer(defaultTimer, NSDefaultRunLoopMode);
    loop_->addTimer(commonTimer, NSRunLoopCommonModes);
    clock_.advance(2, UITrackingRunLoopMode);
    EXPECT_EQ(fireTimes_, (std::vector<double>{2}));
    drainMainRunLoop(NSDefaultRunLoopMode);  // tracking ended
    EXPECT_EQ(fireTimes_, (std::vector<double>{2, 1}));
}

TEST_F(NSTimerTest, TrackingOnlyTimerFiresOnlyInTracking) {
    int calls = 0;
    auto timer = NSTimer::timerWithTimeInterval(1, true, [&](auto&) { ++calls; });
    loop_->addTimer(timer, UITrackingRunLoopMode);
    clock_.advance(3);
    EXPECT_EQ(calls, 0);
    loop_->runOnce(UITrackingRunLoopMode);
    EXPECT_EQ(calls, 1);
    loop_->addTimer(timer, NSDefaultRunLoopMode);  // now in both modes
    clock_.advance(1);
    EXPECT_EQ(calls, 2);
    timer->invalidate();
}

TEST_F(NSTimerTest, AddingAnInvalidTimerDoesNothing) {
    auto timer = NSTimer::timerWithTimeInterval(1, false, recorder());
    timer->invalidate();
    loop_->addTimer(timer, NSDefaultRunLoopMode);
    EXPECT_FALSE(loop_->nextTimerFireDate(NSDefaultRunLoopMode).has_value());
}

TEST_F(NSTimerTest, NonPositiveIntervalsAreClampedForRepeaters) {
    auto timer = NSTimer::scheduledTimerWithTimeInterval(0, true, recorder());
    EXPECT_GT(timer->timeInterval(), 0);
    clock_.advance(0.001);
    EXPECT_EQ(fireTimes_.size(), 11u);  // at 0, then every 0.1 ms
    timer->invalidate();
}

TEST_F(NSTimerTest, ToleranceIsKept) {
    auto timer = NSTimer::timerWithTimeInterval(1, false, recorder());
    timer->setTolerance(0.1);
    EXPECT_DOUBLE_EQ(timer->tolerance(), 0.1);
    timer->setTolerance(-3);
    EXPECT_DOUBLE_EQ(timer->tolerance(), 0);
}

TEST_F(NSTimerTest, ScheduledTimerGoesToTheCallingThreadsLoop) {
    std::atomic<int> calls{0};
    std::atomic<bool> mainFired{false};
    auto ready = dispatch_semaphore_create(0);
    auto limit = NSDate::dateWithTimeIntervalSinceNow(1);
    auto thread = NSThread::detachNewThreadWithBlock([&, limit] {
        NSTimer::scheduledTimerWithTimeInterval(1, false, [&](auto&) { ++calls; });
        dispatch_semaphore_signal(ready);
        NSRunLoop::currentRunLoop()->runUntilDate(limit);
    });
    ASSERT_EQ(dispatch_semaphore_wait(ready, dispatch_time(DISPATCH_TIME_NOW, 5 * NSEC_PER_SEC)), 0);
    EXPECT_FALSE(NSRunLoop::mainRunLoop()->nextTimerFireDate(NSDefaultRunLoopMode).has_value());
    clock_.advance(1);
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return thread->isFinished(); }));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_FALSE(mainFired.load());
}

}  // namespace
