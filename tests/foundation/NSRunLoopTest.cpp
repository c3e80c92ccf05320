#include "foundation/NSRunLoop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dispatch/Clock.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSThread.h"
#include "foundation/NSTimer.h"
#include "tests/support/MainLoop.h"

using testsupport::drainMainRunLoop;
using testsupport::ManualClock;
using testsupport::pumpMainRunLoopUntil;

namespace {

dispatch_time_t seconds(double s) {
    return dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(s * 1e9));
}

// A thread running its own run loop, kept alive by a port until stopped.
class LoopThread {
  public:
    LoopThread() {
        auto ready = dispatch_semaphore_create(0);
        thread_ = NSThread::detachNewThreadWithBlock([this, ready] {
            loop_ = NSRunLoop::currentRunLoop();
            loop_->addPort(NSMachPort::port(), NSDefaultRunLoopMode);
            dispatch_semaphore_signal(ready);
            loop_->run();
            dispatch_semaphore_signal(exited_);
        });
        dispatch_semaphore_wait(ready, DISPATCH_TIME_FOREVER);
    }
    ~LoopThread() { EXPECT_TRUE(stop()); }
    // Stops run() and waits for the thread to leave it.
    bool stop() {
        if (stopped_) return true;
        stopped_ = true;
        loop_->stop();
        return dispatch_semaphore_wait(exited_, seconds(5)) == 0;
    }
    const Ref<NSRunLoop>& loop() const { return loop_; }
    const Ref<NSThread>& thread() const { return thread_; }

  private:
    Ref<NSThread> thread_;
    Ref<NSRunLoop> loop_;
    dispatch_semaphore_t exited_ = dispatch_semaphore_create(0);
    bool stopped_ = false;
};

class NSRunLoopTest : public ::testing::Test {
  protected:
    void TearDown() override { drainMainRunLoop(); }
};

TEST_F(NSRunLoopTest, ModeNamesAreThePlatformOnes) {
    EXPECT_STREQ(NSDefaultRunLoopMode, "kCFRunLoopDefaultMode");
    EXPECT_STREQ(NSRunLoopCommonModes, "kCFRunLoopCommonModes");
    EXPECT_STREQ(UITrackingRunLoopMode, "UITrackingRunLoopMode");
}

TEST_F(NSRunLoopTest, ALoopWithoutSourcesDoesNotRun) {
    bool ranMode = true;
    std::thread([&] {
        auto loop = NSRunLoop::currentRunLoop();
        ranMode = loop->runMode(NSDefaultRunLoopMode, NSDate::distantFuture());
        loop->run();  // returns at once too
        loop->runUntilDate(NSDate::distantFuture());
    }).join();
    EXPECT_FALSE(ranMode);
}

TEST_F(NSRunLoopTest, APortKeepsRunGoingUntilStoppedFromAnotherThread) {
    LoopThread thread;
    std::atomic<int> ran{0};
    thread.loop()->performBlock([&] { ++ran; });
    auto done = dispatch_semaphore_create(0);
    thread.loop()->performBlock([&] { dispatch_semaphore_signal(done); });
    ASSERT_EQ(dispatch_semaphore_wait(done, seconds(5)), 0);
    EXPECT_EQ(ran.load(), 1);
    EXPECT_TRUE(thread.stop());
}

TEST_F(NSRunLoopTest, PerformsFromManyThreadsRunOnTheLoopsThreadInEachSendersOrder) {
    LoopThread thread;
    constexpr int kSenders = 4, kEach = 200;
    std::vector<std::vector<int>> seen(kSenders);  // touched only on the loop's thread
    std::atomic<bool> wrongThread{false};
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] {
            for (int i = 0; i < kEach; ++i) {
                thread.loop()->performBlock([&, s, i] {
                    if (NSThread::currentThread() != thread.thread()) wrongThread = true;
                    seen[s].push_back(i);
                });
            }
        });
    }
    for (auto& t : senders) t.join();
    auto done = dispatch_semaphore_create(0);
    thread.loop()->performBlock([&] { dispatch_semaphore_signal(done); });
    ASSERT_EQ(dispatch_semaphore_wait(done, seconds(5)), 0);
    EXPECT_TRUE(thread.stop());
    EXPECT_FALSE(wrongThread.load());
    for (auto& list : seen) {
        ASSERT_EQ(list.size(), static_cast<size_t>(kEach));
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
    }
}

TEST_F(NSRunLoopTest, PerformsWaitForAModeTheyMayRunIn) {
    auto loop = NSRunLoop::mainRunLoop();
    std::vector<std::string> ran;
    loop->performInModes({UITrackingRunLoopMode}, [&] { ran.push_back("tracking"); });
    loop->performInModes({NSDefaultRunLoopMode}, [&] { ran.push_back("default"); });
    loop->performInModes({NSRunLoopCommonModes}, [&] { ran.push_back("common"); });
    loop->runOnce(NSDefaultRunLoopMode);
    EXPECT_EQ(ran, (std::vector<std::string>{"default", "common"}));
    loop->runOnce(UITrackingRunLoopMode);
    EXPECT_EQ(ran, (std::vector<std::string>{"default", "common", "tracking"}));
}

TEST_F(NSRunLoopTest, AnAddedCommonModeServesCommonModeItems) {
    auto loop = NSRunLoop::mainRunLoop();
    int ran = 0;
    static int round = 0;  // the main loop outlives a repeated test: a fresh mode each time
    std::string mode = "CustomMode" + std::to_string(++round);
    loop->performInModes({NSRunLoopCommonModes}, [&] { ++ran; });
    loop->runOnce(mode);
    EXPECT_EQ(ran, 0);
    loop->addCommonMode(mode);
    loop->runOnce(mode);
    EXPECT_EQ(ran, 1);
}

TEST_F(NSRunLoopTest, CurrentModeIsTheInnermostRunsMode) {
    auto loop = NSRunLoop::mainRunLoop();
    EXPECT_FALSE(loop->currentMode().has_value());
    std::optional<std::string> outer, inner, afterInner;
    loop->performBlock([&] {
        outer = loop->currentMode();
        // A nested run in another mode, as code that spins each mode briefly does.
        loop->performInModes({UITrackingRunLoopMode}, [&] { inner = loop->currentMode(); });
        loop->runMode(UITrackingRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(-1));
        afterInner = loop->currentMode();
    });
    drainMainRunLoop();
    EXPECT_EQ(outer, std::optional<std::string>(NSDefaultRunLoopMode));
    EXPECT_EQ(inner, std::optional<std::string>(UITrackingRunLoopMode));
    EXPECT_EQ(afterInner, std::optional<std::string>(NSDefaultRunLoopMode));
    EXPECT_FALSE(loop->currentMode().has_value());
}

TEST_F(NSRunLoopTest, RunModeReturnsAfterHandlingWork) {
    auto loop = NSRunLoop::mainRunLoop();
    bool flag = false;
    loop->performBlock([&] { flag = true; });
    EXPECT_TRUE(loop->runMode(NSDefaultRunLoopMode, NSDate::distantFuture()));
    EXPECT_TRUE(flag);
}

TEST_F(NSRunLoopTest, RunModeWithAPassedDateMakesOnePassAndReturns) {
    auto loop = NSRunLoop::mainRunLoop();
    EXPECT_TRUE(loop->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(-1)));
    EXPECT_TRUE(loop->runMode(NSDefaultRunLoopMode, NSDate::distantPast()));
}

TEST_F(NSRunLoopTest, RunUntilAFlagIsSetByAPerformFromAnotherThread) {
    std::atomic<bool> finished{false};
    std::atomic<bool> loopDone{false};
    auto ready = dispatch_semaphore_create(0);
    Ref<NSRunLoop> loop;
    auto thread = NSThread::detachNewThreadWithBlock([&] {
        loop = NSRunLoop::currentRunLoop();
        loop->addPort(NSPort::port(), NSDefaultRunLoopMode);
        dispatch_semaphore_signal(ready);
        while (!finished.load() && loop->runMode(NSDefaultRunLoopMode, NSDate::distantFuture())) {
        }
        loopDone = true;
    });
    ASSERT_EQ(dispatch_semaphore_wait(ready, seconds(5)), 0);
    loop->performBlock([&] { finished = true; });
    EXPECT_TRUE(pumpMainRunLoopUntil([&] { return loopDone.load(); }));
}

TEST_F(NSRunLoopTest, StopBeforeRunMakesTheNextRunReturnAtOnce) {
    std::atomic<bool> returned{false};
    std::thread([&] {
        auto loop = NSRunLoop::currentRunLoop();
        loop->addPort(NSPort::port(), NSDefaultRunLoopMode);
        loop->stop();
        loop->run();
        returned = true;
    }).join();
    EXPECT_TRUE(returned.load());
}

TEST_F(NSRunLoopTest, RemovingTheLastPortLetsTheLoopFinish) {
    std::atomic<bool> returned{false};
    std::thread([&] {
        auto loop = NSRunLoop::currentRunLoop();
        auto port = NSMachPort::port();
        loop->addPort(port, NSDefaultRunLoopMode);
        loop->performBlock([&] { loop->removePort(port, NSDefaultRunLoopMode); });
        loop->run();
        returned = true;
    }).join();
    EXPECT_TRUE(returned.load());
}

// ---- observers ---------------------------------------------------------------------------------

TEST_F(NSRunLoopTest, BeforeWaitingObserverRunsEachTimeTheLoopIsAboutToWait) {
    auto loop = NSRunLoop::mainRunLoop();
    int calls = 0;
    auto observer = CFRunLoopObserver::create(kCFRunLoopBeforeWaiting, true, 0,
                                              [&](const Ref<CFRunLoopObserver>&, CFRunLoopActivity activity) {
                                                  EXPECT_EQ(activity, kCFRunLoopBeforeWaiting);
                                                  ++calls;
                                              });
    loop->addObserver(observer, NSDefaultRunLoopMode);
    EXPECT_TRUE(loop->containsObserver(observer, NSDefaultRunLoopMode));
    loop->runOnce(NSDefaultRunLoopMode, 0);  // nothing to do, no wait allowed: no wait
    EXPECT_EQ(calls, 0);
    // Each wait is announced (a stray wake-up may make one call wait twice).
    loop->runOnce(NSDefaultRunLoopMode, 0.001);
    EXPECT_GE(calls, 1);
    int afterFirst = calls;
    loop->runOnce(NSDefaultRunLoopMode, 0.001);
    EXPECT_GT(calls, afterFirst);
    int seen = calls;
    loop->runOnce(UITrackingRunLoopMode, 0.001);  // not in this mode
    EXPECT_EQ(calls, seen);
    loop->removeObserver(observer, NSDefaultRunLoopMode);
    loop->runOnce(NSDefaultRunLoopMode, 0.001);
    EXPECT_EQ(calls, seen);
}

TEST_F(NSRunLoopTest, ObserverOrderAndOneShotObservers) {
    auto loop = NSRunLoop::mainRunLoop();
    std::vector<std::string> calls;
    auto late = CFRunLoopObserver::create(kCFRunLoopBeforeWaiting, true, 10,
                                          [&](auto&, auto) { calls.push_back("late"); });
    auto early = CFRunLoopObserver::create(kCFRunLoopBeforeWaiting, true, -5,
                                           [&](auto&, auto) { calls.push_back("early"); });
    auto once = CFRunLoopObserver::create(kCFRunLoopBeforeWaiting, false, 0,
                                          [&](auto&, auto) { calls.push_back("once"); });
    loop->addObserver(late, NSRunLoopCommonModes);
    loop->addObserver(early, NSDefaultRunLoopMode);
    loop->addObserver(once, NSDefaultRunLoopMode);
    loop->runOnce(NSDefaultRunLoopMode, 0.001);
    loop->runOnce(NSDefaultRunLoopMode, 0.001);
    // Every wait calls early then late; the one-shot only before the first.
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 3),
              (std::vector<std::string>{"early", "once", "late"}));
    ASSERT_EQ((calls.size() - 3) % 2, 0u);
    for (size_t i = 3; i < calls.size(); i += 2) {
        EXPECT_EQ(calls[i], "early");
        EXPECT_EQ(calls[i + 1], "late");
    }
    EXPECT_FALSE(once->isValid());
    EXPECT_FALSE(loop->containsObserver(once, NSDefaultRunLoopMode));
    late->invalidate();
    early->invalidate();
    calls.clear();
    loop->runOnce(NSDefaultRunLoopMode, 0.001);
    EXPECT_TRUE(calls.empty());
}

TEST_F(NSRunLoopTest, ObserverSeesEntryTimersSourcesAndExitInOrder) {
    auto loop = NSRunLoop::mainRunLoop();
    std::vector<unsigned> seen;
    auto observer = CFRunLoopObserver::create(kCFRunLoopAllActivities, true, 0,
                                              [&](auto&, CFRunLoopActivity a) { seen.push_back(a); });
    loop->addObserver(observer, NSDefaultRunLoopMode);
    loop->performBlock([] {});
    loop->runOnce(NSDefaultRunLoopMode, 0);
    observer->invalidate();
    EXPECT_EQ(seen, (std::vector<unsigned>{kCFRunLoopEntry, kCFRunLoopBeforeTimers, kCFRunLoopBeforeSources,
                                           kCFRunLoopExit}));
}

TEST_F(NSRunLoopTest, AnIdleObserverCanFeedTheLoopOneItemAtATime) {
    // The pattern of idle-time pre-computation: before waiting, queue one item of work.
    auto loop = NSRunLoop::mainRunLoop();
    std::vector<int> pending{1, 2, 3};
    std::vector<int> computed;
    Ref<CFRunLoopObserver> observer = CFRunLoopObserver::create(
        kCFRunLoopBeforeWaiting, true, 0, [&](const Ref<CFRunLoopObserver>& self, CFRunLoopActivity) {
            if (pending.empty()) {
                loop->removeObserver(self, NSDefaultRunLoopMode);
                return;
            }
            int next = pending.front();
            pending.erase(pending.begin());
            loop->performInModes({NSDefaultRunLoopMode}, [&, next] { computed.push_back(next); });
        });
    loop->addObserver(observer, NSDefaultRunLoopMode);
    EXPECT_TRUE(pumpMainRunLoopUntil([&] { return computed.size() == 3; }));
    EXPECT_EQ(computed, (std::vector<int>{1, 2, 3}));
    pumpMainRunLoopUntil([&] { return !loop->containsObserver(observer, NSDefaultRunLoopMode); });
    EXPECT_FALSE(loop->containsObserver(observer, NSDefaultRunLoopMode));
}

// ---- the main loop: main queue and end-of-turn hooks --------------------------------------------

TEST_F(NSRunLoopTest, MainLoopDrainsTheMainQueueInEveryMode) {
    auto loop = NSRunLoop::mainRunLoop();
    int ran = 0;
    dispatch_async(dispatch_get_main_queue(), [&] { ++ran; });
    EXPECT_TRUE(loop->runOnce(UITrackingRunLoopMode));
    EXPECT_EQ(ran, 1);
    dispatch_async(dispatch_get_main_queue(), [&] { ++ran; });
    EXPECT_TRUE(loop->runMode("AnyOtherMode", NSDate::distantFuture()));
    EXPECT_EQ(ran, 2);
}

TEST_F(NSRunLoopTest, MainLoopWakesForWorkFromAnotherThread) {
    std::atomic<bool> ran{false};
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        dispatch_async(dispatch_get_main_queue(), [&] { ran = true; });
    });
    // One long bounded wait: only the main queue's handle can end it early.
    auto start = std::chrono::steady_clock::now();
    NSRunLoop::mainRunLoop()->runOnce(NSDefaultRunLoopMode, 10);
    sender.join();
    EXPECT_TRUE(ran.load());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(NSRunLoopTest, EndOfTurnHooksRunAfterEachMainLoopPassInOrder) {
    std::vector<std::string> calls;
    auto a = NSRunLoop::addEndOfTurnHook([&] { calls.push_back("layout"); });
    auto b = NSRunLoop::addEndOfTurnHook([&] { calls.push_back("display"); });
    NSRunLoop::mainRunLoop()->performBlock([&] { calls.push_back("work"); });
    NSRunLoop::mainRunLoop()->runOnce(NSDefaultRunLoopMode);
    NSRunLoop::removeEndOfTurnHook(a);
    NSRunLoop::removeEndOfTurnHook(b);
    NSRunLoop::mainRunLoop()->runOnce(NSDefaultRunLoopMode);
    EXPECT_EQ(calls, (std::vector<std::string>{"work", "layout", "display"}));
}

TEST_F(NSRunLoopTest, EndOfTurnHooksDoNotRunOnOtherLoops) {
    std::atomic<int> calls{0};
    auto token = NSRunLoop::addEndOfTurnHook([&] { ++calls; });
    std::thread([&] {
        auto loop = NSRunLoop::currentRunLoop();
        loop->performBlock([] {});
        loop->runOnce(NSDefaultRunLoopMode);
    }).join();
    NSRunLoop::removeEndOfTurnHook(token);
    EXPECT_EQ(calls.load(), 0);
}

// ---- file descriptors ----------------------------------------------------------------------------

TEST_F(NSRunLoopTest, FileDescriptorSourceWakesTheLoopAndRunsItsHandler) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    auto loop = NSRunLoop::mainRunLoop();
    std::string received;
    auto token = loop->addFileDescriptorSource(fds[0], POLLIN, [&](short events) {
        EXPECT_TRUE(events & POLLIN);
        char buf[16];
        auto n = ::read(fds[0], buf, sizeof buf);
        if (n > 0) received.append(buf, static_cast<size_t>(n));
    });
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        [[maybe_unused]] auto n = ::write(fds[1], "ping", 4);
    });
    EXPECT_TRUE(pumpMainRunLoopUntil([&] { return received == "ping"; }));
    writer.join();
    loop->removeFileDescriptorSource(token);
    [[maybe_unused]] auto n = ::write(fds[1], "more", 4);
    drainMainRunLoop();
    EXPECT_EQ(received, "ping");
    ::close(fds[0]);
    ::close(fds[1]);
}

// ---- the clock -----------------------------------------------------------------------------------

TEST_F(NSRunLoopTest, ALoopWaitingOnTheManualClockWakesWhenItIsAdvanced) {
    ManualClock clock;
    // Shared with the thread, which may outlive a failing test.
    struct State {
        std::atomic<int> fires{0};
        std::atomic<bool> returned{false};
        dispatch_semaphore_t ready = dispatch_semaphore_create(0);
    };
    auto state = std::make_shared<State>();
    auto limit = NSDate::dateWithTimeIntervalSinceNow(3.5);
    auto thread = NSThread::detachNewThreadWithBlock([state, limit] {
        auto loop = NSRunLoop::currentRunLoop();
        loop->addTimer(NSTimer::timerWithTimeInterval(1.0, true, [state](auto&) { ++state->fires; }),
                       NSDefaultRunLoopMode);
        dispatch_semaphore_signal(state->ready);
        loop->runUntilDate(limit);
        state->returned = true;
    });
    ASSERT_EQ(dispatch_semaphore_wait(state->ready, seconds(5)), 0);
    for (int i = 1; i <= 3; ++i) {
        PlatformClock::advance(1.0);
        ASSERT_TRUE(pumpMainRunLoopUntil([&] { return state->fires.load() == i; })) << i;
    }
    EXPECT_FALSE(state->returned.load());
    PlatformClock::advance(0.5);
    EXPECT_TRUE(pumpMainRunLoopUntil([&] { return state->returned.load(); }));
    EXPECT_EQ(state->fires.load(), 3);
}

TEST_F(NSRunLoopTest, NextTimerFireDateIsPerMode) {
    ManualClock clock(1000);
    auto loop = NSRunLoop::mainRunLoop();
    EXPECT_FALSE(loop->nextTimerFireDate(UITrackingRunLoopMode).has_value());
    auto a = NSTimer::timerWithTimeInterval(5, false, [](auto&) {});
    auto b = NSTimer::timerWithTimeInterval(2, false, [](auto&) {});
    loop->addTimer(a, NSRunLoopCommonModes);
    loop->addTimer(b, NSDefaultRunLoopMode);
    EXPECT_EQ(loop->nextTimerFireDate(NSDefaultRunLoopMode)->timeIntervalSince1970(), 1002);
    EXPECT_EQ(loop->nextTimerFireDate(UITrackingRunLoopMode)->timeIntervalSince1970(), 1005);
    a->invalidate();
    b->invalidate();
    EXPECT_FALSE(loop->nextTimerFireDate(NSDefaultRunLoopMode).has_value());
}

}  // namespace

// ---- the test support itself ---------------------------------------------------------------------

namespace {

class MainLoopSupportTest : public ::testing::Test {
  protected:
    static constexpr double kStart = 2'000'000'000.0;
    ManualClock clock_{kStart};
    std::vector<std::pair<std::string, double>> events_;
    void record(const std::string& what) { events_.emplace_back(what, PlatformClock::now() - kStart); }
};

TEST_F(MainLoopSupportTest, AdvanceStopsAtEveryDeadlineInOrder) {
    auto main = dispatch_get_main_queue();
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, 300 * NSEC_PER_MSEC), main, [&] { record("after 0.3"); });
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, 700 * NSEC_PER_MSEC), main, [&] { record("after 0.7"); });
    NSTimer::scheduledTimerWithTimeInterval(0.5, false, [&](auto&) { record("timer 0.5"); });
    clock_.advance(1.0);
    ASSERT_EQ(events_.size(), 3u);
    EXPECT_EQ(events_[0].first, "after 0.3");
    EXPECT_NEAR(events_[0].second, 0.3, 1e-6);
    EXPECT_EQ(events_[1].first, "timer 0.5");
    EXPECT_NEAR(events_[1].second, 0.5, 1e-6);
    EXPECT_EQ(events_[2].first, "after 0.7");
    EXPECT_NEAR(events_[2].second, 0.7, 1e-6);
    EXPECT_NEAR(clock_.now() - kStart, 1.0, 1e-6);
}

TEST_F(MainLoopSupportTest, WorkScheduledByACallbackFiresWithinTheSameAdvance) {
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, NSEC_PER_SEC), dispatch_get_main_queue(), [&] {
        record("first");
        dispatch_after(dispatch_time(DISPATCH_TIME_NOW, NSEC_PER_SEC), dispatch_get_main_queue(),
                       [&] { record("second"); });
    });
    clock_.advance(1.5);
    EXPECT_EQ(events_.size(), 1u);
    clock_.advance(1.0);
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_NEAR(events_[1].second, 2.0, 1e-6);
}

TEST_F(MainLoopSupportTest, ACountdownTimerSourceTicksEverySecond) {
    auto source = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, dispatch_get_main_queue());
    int left = 59;
    dispatch_source_set_timer(source, dispatch_time(DISPATCH_TIME_NOW, NSEC_PER_SEC), NSEC_PER_SEC, 0);
    dispatch_source_set_event_handler(source, [&] {
        if (--left == 0) dispatch_source_cancel(source);
    });
    dispatch_resume(source);
    clock_.advance(30);
    EXPECT_EQ(left, 29);
    clock_.advance(40);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(dispatch_source_testcancel(source), 1);
}

TEST_F(MainLoopSupportTest, JumpCoalescesMissedBeats) {
    int fires = 0;
    auto timer = NSTimer::scheduledTimerWithTimeInterval(1, true, [&](auto&) { ++fires; });
    clock_.jump(5);
    EXPECT_EQ(fires, 1);
    clock_.advance(5);
    EXPECT_EQ(fires, 6);
    timer->invalidate();
}

TEST(MainLoopPumpTest, PumpUntilGivesUpAfterItsRealTimeLimit) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(pumpMainRunLoopUntil([] { return false; }, 0.05));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
}

TEST(MainLoopPumpTest, DrainStopsOnWorkThatRequeuesItself) {
    int runs = 0;
    std::function<void()> again = [&] {
        if (++runs < 1'000'000) NSRunLoop::mainRunLoop()->performBlock(again);
    };
    NSRunLoop::mainRunLoop()->performBlock(again);
    drainMainRunLoop();  // returns: bounded passes
    EXPECT_GT(runs, 1);
    again = [&] { ++runs; };
    drainMainRunLoop();
}

}  // namespace
