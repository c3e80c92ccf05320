#include "foundation/NSObject+Perform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSThread.h"
#include "tests/support/MainLoop.h"

using testsupport::drainMainRunLoop;
using testsupport::ManualClock;
using testsupport::pumpMainRunLoopUntil;

namespace {

dispatch_time_t seconds(double s) {
    return dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(s * 1e9));
}

class Hud : public NSObject {
  public:
    std::vector<std::string> calls;
};

class DelayedPerformTest : public ::testing::Test {
  protected:
    ManualClock clock_;
    Ref<Hud> hud_ = make<Hud>();

    void hideAfter(double delay, bool animated) {
        Weak<Hud> weak = hud_;
        performSelectorAfterDelay(
            hud_, "hideDelayed:", Value(animated),
            [weak, animated] {
                if (auto hud = weak.lock()) hud->calls.push_back(animated ? "hide:YES" : "hide:NO");
            },
            delay);
    }
};

TEST_F(DelayedPerformTest, RunsAfterTheDelayOnTheCurrentLoop) {
    hideAfter(1.5, true);
    clock_.advance(1.4);
    EXPECT_TRUE(hud_->calls.empty());
    clock_.advance(0.1);
    EXPECT_EQ(hud_->calls, (std::vector<std::string>{"hide:YES"}));
    clock_.advance(5);
    EXPECT_EQ(hud_->calls.size(), 1u);
}

TEST_F(DelayedPerformTest, ZeroDelayRunsOnTheNextPassNotInline) {
    hideAfter(0, false);
    EXPECT_TRUE(hud_->calls.empty());
    drainMainRunLoop();
    EXPECT_EQ(hud_->calls, (std::vector<std::string>{"hide:NO"}));
}

TEST_F(DelayedPerformTest, DelaysFireInDueOrder) {
    hideAfter(2, true);
    hideAfter(1, false);
    clock_.advance(3);
    EXPECT_EQ(hud_->calls, (std::vector<std::string>{"hide:NO", "hide:YES"}));
}

TEST_F(DelayedPerformTest, CancelAllForTheTarget) {
    hideAfter(1, true);
    hideAfter(2, false);
    auto other = make<Hud>();
    performSelectorAfterDelay(
        other, "hideDelayed:", Value(true), [other] { other->calls.push_back("other"); }, 1);
    cancelPreviousPerformRequestsWithTarget(hud_);
    clock_.advance(3);
    EXPECT_TRUE(hud_->calls.empty());
    EXPECT_EQ(other->calls, (std::vector<std::string>{"other"}));
}

TEST_F(DelayedPerformTest, CancelBySelectorAndEqualArgumentOnly) {
    hideAfter(1, true);
    hideAfter(1, false);
    Weak<Hud> weak = hud_;
    performSelectorAfterDelay(
        hud_, "other:", Value(true), [weak] { weak.lock()->calls.push_back("other"); }, 1);
    cancelPreviousPerformRequestsWithTarget(hud_, "hideDelayed:", Value(true));
    clock_.advance(2);
    EXPECT_EQ(hud_->calls, (std::vector<std::string>{"hide:NO", "other"}));
}

TEST_F(DelayedPerformTest, NilArgumentsMatchEachOther) {
    int calls = 0;
    performSelectorAfterDelay(
        hud_, "go", Value(), [&] { ++calls; }, 1);
    cancelPreviousPerformRequestsWithTarget(hud_, "go", Value(1));  // not equal: stays
    clock_.advance(0.5);
    cancelPreviousPerformRequestsWithTarget(hud_, "go", Value());
    clock_.advance(1);
    EXPECT_EQ(calls, 0);
}

TEST_F(DelayedPerformTest, ShowBeforeTheDelayNeverHides) {
    hideAfter(1, true);
    clock_.advance(0.5);
    cancelPreviousPerformRequestsWithTarget(hud_);  // what show: does
    hideAfter(1, true);
    cancelPreviousPerformRequestsWithTarget(hud_);
    clock_.advance(5);
    EXPECT_TRUE(hud_->calls.empty());
}

TEST_F(DelayedPerformTest, AGoneTargetIsSkipped) {
    int calls = 0;
    performSelectorAfterDelay(
        hud_, "go", Value(), [&] { ++calls; }, 1);
    hud_.reset();
    clock_.advance(2);
    EXPECT_EQ(calls, 0);
}

TEST_F(DelayedPerformTest, NullTargetDoesNothing) {
    int calls = 0;
    performSelectorAfterDelay(
        nullptr, "go", Value(), [&] { ++calls; }, 0);
    cancelPreviousPerformRequestsWithTarget(static_cast<const NSObject*>(nullptr));
    clock_.advance(1);
    EXPECT_EQ(calls, 0);
}

TEST_F(DelayedPerformTest, DefaultModeDelaysWaitWhileTheLoopTracks) {
    int defaultCalls = 0, commonCalls = 0;
    performSelectorAfterDelay(
        hud_, "a", Value(), [&] { ++defaultCalls; }, 1);
    performSelectorAfterDelay(hud_, "b", Value(), [&] { ++commonCalls; }, 1, {NSRunLoopCommonModes});
    clock_.advance(2, UITrackingRunLoopMode);
    EXPECT_EQ(defaultCalls, 0);
    EXPECT_EQ(commonCalls, 1);
    drainMainRunLoop();
    EXPECT_EQ(defaultCalls, 1);
}

TEST_F(DelayedPerformTest, AnActionMayScheduleAndCancelOthers) {
    std::vector<int> order;
    performSelectorAfterDelay(
        hud_, "first", Value(),
        [&] {
            order.push_back(1);
            performSelectorAfterDelay(
                hud_, "second", Value(), [&] { order.push_back(2); }, 0.5);
            cancelPreviousPerformRequestsWithTarget(hud_, "third", Value());
        },
        1);
    performSelectorAfterDelay(
        hud_, "third", Value(), [&] { order.push_back(3); }, 1.2);
    clock_.advance(2);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

// ---- performs on threads -------------------------------------------------------------------------

class ThreadPerformTest : public ::testing::Test {
  protected:
    void TearDown() override { drainMainRunLoop(); }
};

TEST_F(ThreadPerformTest, OnMainThreadWithoutWaitingQueuesInOrder) {
    auto target = make<Hud>();
    std::vector<int> order;
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        for (int i = 0; i < 100; ++i) {
            performSelectorOnMainThread(
                target, [&, i] { order.push_back(i); }, false);
        }
        sent = true;
    });
    sender.join();
    EXPECT_TRUE(order.empty());
    EXPECT_TRUE(pumpMainRunLoopUntil([&] { return order.size() == 100; }));
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST_F(ThreadPerformTest, OnMainThreadFromMainWithoutWaitingIsNotInline) {
    auto target = make<Hud>();
    bool ran = false;
    performSelectorOnMainThread(
        target, [&] { ran = true; }, false);
    EXPECT_FALSE(ran);
    drainMainRunLoop();
    EXPECT_TRUE(ran);
}

TEST_F(ThreadPerformTest, OnMainThreadFromMainWaitingRunsInline) {
    auto target = make<Hud>();
    bool ran = false;
    performSelectorOnMainThread(
        target, [&] { ran = true; }, true);
    EXPECT_TRUE(ran);
}

TEST_F(ThreadPerformTest, OnMainThreadWaitingBlocksTheCallerUntilTheMainLoopRunsIt) {
    auto target = make<Hud>();
    std::atomic<bool> returned{false};
    std::atomic<bool> ranOnMain{false};
    std::thread worker([&] {
        performSelectorOnMainThread(
            target, [&] { ranOnMain = NSThread::isMainThread(); }, true);
        returned = true;
    });
    EXPECT_FALSE(returned.load());
    EXPECT_TRUE(pumpMainRunLoopUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain.load());
}

TEST_F(ThreadPerformTest, OnMainThreadRespectsModes) {
    auto target = make<Hud>();
    int ran = 0;
    performSelectorOnMainThread(target, [&] { ++ran; }, false, {NSDefaultRunLoopMode});
    NSRunLoop::mainRunLoop()->runOnce(UITrackingRunLoopMode);
    EXPECT_EQ(ran, 0);
    performSelectorOnMainThread(
        target, [&] { ++ran; }, false);  // common modes
    NSRunLoop::mainRunLoop()->runOnce(UITrackingRunLoopMode);
    EXPECT_EQ(ran, 1);
    drainMainRunLoop();
    EXPECT_EQ(ran, 2);
}

TEST_F(ThreadPerformTest, AGoneTargetIsSkipped) {
    auto target = make<Hud>();
    int ran = 0;
    performSelectorOnMainThread(
        target, [&] { ++ran; }, false);
    target.reset();
    drainMainRunLoop();
    EXPECT_EQ(ran, 0);
}

TEST_F(ThreadPerformTest, OnAWorkerThreadWithItsOwnLoop) {
    // The long-lived network thread pattern: a named thread whose loop a port keeps alive.
    auto ready = dispatch_semaphore_create(0);
    auto thread = make<NSThread>([ready] {
        NSRunLoop::currentRunLoop()->addPort(NSMachPort::port(), NSDefaultRunLoopMode);
        dispatch_semaphore_signal(ready);
        NSRunLoop::currentRunLoop()->run();
    });
    thread->setName("HKNetworking");
    thread->start();
    ASSERT_EQ(dispatch_semaphore_wait(ready, seconds(5)), 0);

    auto target = make<Hud>();
    std::vector<int> order;  // filled on the thread; read after a waiting perform
    std::atomic<bool> onThread{true};
    for (int i = 0; i < 20; ++i) {
        performSelectorOnThread(
            target, thread,
            [&, i] {
                if (NSThread::currentThread() != thread) onThread = false;
                order.push_back(i);
            },
            false);
    }
    bool nestedInline = false;
    performSelectorOnThread(
        target, thread,
        [&] {
            // Waiting from the target thread itself runs inline.
            performSelectorOnThread(
                target, thread, [&] { nestedInline = true; }, true);
        },
        true);
    EXPECT_TRUE(nestedInline);
    EXPECT_TRUE(onThread.load());
    ASSERT_EQ(order.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(order[i], i);

    auto loop = thread->runLoop();
    loop->stop();
    EXPECT_TRUE(pumpMainRunLoopUntil([&] { return thread->isFinished(); }));
}

TEST_F(ThreadPerformTest, WaitingFromADispatchWorkerDoesNotStarveThePool) {
    auto target = make<Hud>();
    std::atomic<int> done{0};
    auto group = dispatch_group_create();
    const int n = static_cast<int>(std::max(1u, std::thread::hardware_concurrency())) + 2;
    for (int i = 0; i < n; ++i) {
        dispatch_group_async(group, dispatch_get_global_queue(0), [&] {
            performSelectorOnMainThread(
                target, [&] { ++done; }, true);
        });
    }
    EXPECT_TRUE(pumpMainRunLoopUntil([&] { return done.load() == n; }, 10));
    EXPECT_EQ(dispatch_group_wait(group, seconds(5)), 0);
}

}  // namespace
