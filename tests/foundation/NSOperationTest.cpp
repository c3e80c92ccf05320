#include "foundation/NSOperation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSLog.h"
#include "tests/foundation/OperationTestSupport.h"

namespace {

using optest::Counter;
using optest::kTimeout;

// Collects log lines while it lives.
class LogCapture {
  public:
    LogCapture() {
        previous_ = NSLogSetSink([this](const std::string& line) {
            std::lock_guard guard(lock_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { NSLogSetSink(previous_); }
    std::vector<std::string> lines() const {
        std::lock_guard guard(lock_);
        return lines_;
    }

  private:
    NSLogSink previous_;
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
};

class CountingOperation : public NSOperation {
  public:
    void main() override {
        executingSeen = isExecuting();
        finishedSeenDuringMain = isFinished();
        ++runs;
        if (body) body(*this);
    }
    std::atomic<int> runs{0};
    std::atomic<bool> executingSeen{false};
    std::atomic<bool> finishedSeenDuringMain{true};
    std::function<void(CountingOperation&)> body;
};

// Finishes on a thread of its own, after start() has returned.
class LaterOperation : public NSOperation {
  public:
    bool isAsynchronous() const override { return true; }
    void main() override {
        worker = std::thread([this] {
            gate.waitFor(1);
            setExecuting(false);
            setFinished(true);
        });
    }
    ~LaterOperation() override {
        // The worker may hold the last reference while it announces the finish.
        if (worker.get_id() == std::this_thread::get_id()) {
            worker.detach();
        } else if (worker.joinable()) {
            worker.join();
        }
    }
    Counter gate;
    std::thread worker;
};

// Records the life-cycle announcements of an operation.
void recordStates(NSOperation& op, std::vector<Ref<NSKeyValueObservation>>& tokens,
                  std::shared_ptr<std::vector<std::string>> log) {
    for (const char* key : {"isExecuting", "isFinished", "isReady", "isCancelled"}) {
        std::string k = key;
        tokens.push_back(KVO::observe(
            op, k, NSKeyValueObservingOptionNew, [log, k](const Ref<NSObject>&, const Dictionary& change) {
                log->push_back(k + "=" + change[NSKeyValueChangeNewKey].stringValue());
            }));
    }
}

TEST(NSOperationTest, StartRunsMainAndFinishes) {
    auto op = make<CountingOperation>();
    EXPECT_TRUE(op->isReady());
    EXPECT_FALSE(op->isExecuting());
    EXPECT_FALSE(op->isFinished());
    op->start();
    EXPECT_EQ(op->runs, 1);
    EXPECT_TRUE(op->executingSeen);
    EXPECT_FALSE(op->finishedSeenDuringMain);
    EXPECT_FALSE(op->isExecuting());
    EXPECT_TRUE(op->isFinished());
    EXPECT_TRUE(op->waitUntilFinished(0.0));
}

TEST(NSOperationTest, LifeCycleIsAnnouncedInOrder) {
    auto op = make<CountingOperation>();
    std::vector<Ref<NSKeyValueObservation>> tokens;
    auto log = std::make_shared<std::vector<std::string>>();
    recordStates(*op, tokens, log);
    op->start();
    EXPECT_EQ(*log, (std::vector<std::string>{"isExecuting=1", "isExecuting=0", "isFinished=1"}));
}

TEST(NSOperationTest, SecondStartIsRefused) {
    LogCapture capture;
    auto op = make<CountingOperation>();
    op->start();
    op->start();
    EXPECT_EQ(op->runs, 1);
    EXPECT_EQ(capture.lines().size(), 1u);
}

TEST(NSOperationTest, CancelledBeforeStartFinishesWithoutRunning) {
    auto op = make<CountingOperation>();
    std::vector<Ref<NSKeyValueObservation>> tokens;
    auto log = std::make_shared<std::vector<std::string>>();
    recordStates(*op, tokens, log);
    op->cancel();
    EXPECT_TRUE(op->isCancelled());
    op->start();
    EXPECT_EQ(op->runs, 0);
    EXPECT_TRUE(op->isFinished());
    EXPECT_EQ(*log, (std::vector<std::string>{"isCancelled=1", "isReady=1", "isFinished=1"}));
}

TEST(NSOperationTest, CancelWhileRunningLetsTheWorkSeeIt) {
    auto op = make<CountingOperation>();
    Counter running, cancelled;
    bool sawCancel = false;
    op->body = [&](CountingOperation& self) {
        running.raise();
        cancelled.waitFor(1);
        sawCancel = self.isCancelled();
    };
    std::thread t([&] { op->start(); });
    ASSERT_TRUE(running.waitFor(1));
    op->cancel();
    cancelled.raise();
    t.join();
    EXPECT_TRUE(sawCancel);
    EXPECT_TRUE(op->isFinished());
    EXPECT_TRUE(op->isCancelled());
}

TEST(NSOperationTest, CancelAfterFinishingOrTwiceChangesNothing) {
    auto finished = make<CountingOperation>();
    finished->start();
    finished->cancel();
    EXPECT_FALSE(finished->isCancelled());

    auto op = make<CountingOperation>();
    int announcements = 0;
    auto token = KVO::observe(*op, "isCancelled", 0,
                              [&](const Ref<NSObject>&, const Dictionary&) { ++announcements; });
    op->cancel();
    op->cancel();
    EXPECT_EQ(announcements, 1);
}

TEST(NSOperationTest, CancelFromManyThreadsIsAnnouncedOnce) {
    auto op = make<CountingOperation>();
    std::atomic<int> announcements{0};
    auto token = KVO::observe(*op, "isCancelled", 0,
                              [&](const Ref<NSObject>&, const Dictionary&) { ++announcements; });
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back([&] { op->cancel(); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(announcements, 1);
    EXPECT_TRUE(op->isCancelled());
}

TEST(NSOperationTest, DependenciesGateReadiness) {
    auto first = make<CountingOperation>();
    auto second = make<CountingOperation>();
    auto op = make<CountingOperation>();
    std::vector<bool> readiness;
    auto token = KVO::observe(*op, "isReady", NSKeyValueObservingOptionNew,
                              [&](const Ref<NSObject>&, const Dictionary& change) {
                                  readiness.push_back(change[NSKeyValueChangeNewKey].boolValue());
                              });
    op->addDependency(first);
    op->addDependency(second);
    op->addDependency(first);  // once only
    op->addDependency(op);     // never itself
    op->addDependency(nullptr);
    EXPECT_EQ(op->dependencies().size(), 2u);
    EXPECT_FALSE(op->isReady());
    first->start();
    EXPECT_FALSE(op->isReady());
    second->start();
    EXPECT_TRUE(op->isReady());
    EXPECT_EQ(readiness, (std::vector<bool>{false, false, false, true}));
    op->start();
    EXPECT_EQ(op->runs, 1);
}

TEST(NSOperationTest, StartingAnOperationThatIsNotReadyIsRefused) {
    LogCapture capture;
    auto dependency = make<CountingOperation>();
    auto op = make<CountingOperation>();
    op->addDependency(dependency);
    op->start();
    EXPECT_EQ(op->runs, 0);
    EXPECT_FALSE(op->isFinished());
    EXPECT_EQ(capture.lines().size(), 1u);
    dependency->start();
    op->start();  // may start now
    EXPECT_EQ(op->runs, 1);
}

TEST(NSOperationTest, RemovingOrFinishingDependencyMakesReady) {
    auto dependency = make<CountingOperation>();
    auto op = make<CountingOperation>();
    op->addDependency(dependency);
    EXPECT_FALSE(op->isReady());
    op->removeDependency(dependency);
    EXPECT_TRUE(op->isReady());
    EXPECT_TRUE(op->dependencies().empty());
    // A dependency that has already finished does not hold anything back.
    dependency->start();
    op->addDependency(dependency);
    EXPECT_TRUE(op->isReady());
}

TEST(NSOperationTest, CancelledOperationIgnoresItsDependencies) {
    auto dependency = make<CountingOperation>();
    auto op = make<CountingOperation>();
    op->addDependency(dependency);
    op->cancel();
    EXPECT_TRUE(op->isReady());
    op->start();
    EXPECT_TRUE(op->isFinished());
    EXPECT_EQ(op->runs, 0);
}

TEST(NSOperationTest, DependantReadyAfterADependencyFinishesOnAnotherThread) {
    auto dependency = make<LaterOperation>();
    auto op = make<CountingOperation>();
    op->addDependency(dependency);
    Counter ready;
    auto token = KVO::observe(*op, "isReady", NSKeyValueObservingOptionNew,
                              [&](const Ref<NSObject>&, const Dictionary& change) {
                                  if (change[NSKeyValueChangeNewKey].boolValue()) ready.raise();
                              });
    dependency->start();
    EXPECT_FALSE(dependency->isFinished());
    EXPECT_FALSE(op->isReady());
    dependency->gate.raise();
    ASSERT_TRUE(ready.waitFor(1));
    EXPECT_TRUE(op->isReady());
}

TEST(NSOperationTest, CompletionBlockRunsExactlyOnceAfterFinishing) {
    auto op = make<CountingOperation>();
    Counter completions;
    std::atomic<bool> finishedWhenRun{false};
    op->setCompletionBlock([&, raw = op.get()] {
        finishedWhenRun = raw->isFinished();
        completions.raise();
    });
    EXPECT_TRUE(op->completionBlock());
    op->start();
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_TRUE(finishedWhenRun);
    // Released after it ran; announcing "isFinished" again does not run anything.
    EXPECT_FALSE(op->completionBlock());
    KVO::willChangeValueForKey(*op, "isFinished");
    KVO::didChangeValueForKey(*op, "isFinished");
    Counter probe;
    auto other = make<CountingOperation>();
    other->setCompletionBlock([&] { probe.raise(); });
    other->start();
    ASSERT_TRUE(probe.waitFor(1));
    EXPECT_EQ(completions.value(), 1);
}

TEST(NSOperationTest, CompletionBlockRunsForACancelledOperation) {
    auto op = make<CountingOperation>();
    Counter completions;
    op->setCompletionBlock([&] { completions.raise(); });
    op->cancel();
    op->start();
    EXPECT_TRUE(completions.waitFor(1));
}

TEST(NSOperationTest, CompletionBlockCanBeReplacedOrCleared) {
    auto op = make<CountingOperation>();
    Counter first, second;
    op->setCompletionBlock([&] { first.raise(); });
    op->setCompletionBlock([&] { second.raise(); });
    op->start();
    ASSERT_TRUE(second.waitFor(1));
    EXPECT_EQ(first.value(), 0);

    auto cleared = make<CountingOperation>();
    cleared->setCompletionBlock([&] { first.raise(); });
    cleared->setCompletionBlock(nullptr);
    cleared->start();
    EXPECT_FALSE(cleared->completionBlock());
}

TEST(NSOperationTest, WaitUntilFinishedWakesWaitersOnOtherThreads) {
    auto op = make<LaterOperation>();
    Counter woken;
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            op->waitUntilFinished();
            woken.raise();
        });
    }
    EXPECT_FALSE(op->waitUntilFinished(0.01));
    op->start();
    EXPECT_EQ(woken.value(), 0);
    op->gate.raise();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woken.value(), 4);
    EXPECT_TRUE(op->isFinished());
}

TEST(NSOperationTest, ConcurrentOperationFinishesWhenItSaysSo) {
    auto op = make<LaterOperation>();
    Counter completions;
    op->setCompletionBlock([&] { completions.raise(); });
    op->start();
    EXPECT_TRUE(op->isExecuting());
    EXPECT_FALSE(op->isFinished());
    EXPECT_EQ(completions.value(), 0);
    op->gate.raise();
    ASSERT_TRUE(op->waitUntilFinished(kTimeout));
    EXPECT_FALSE(op->isExecuting());
    EXPECT_TRUE(completions.waitFor(1));
}

TEST(NSOperationTest, PrioritiesSnapToTheNamedLevels) {
    auto op = make<NSOperation>();
    EXPECT_EQ(op->queuePriority(), NSOperationQueuePriorityNormal);
    op->setQueuePriority(NSOperationQueuePriorityHigh);
    EXPECT_EQ(op->queuePriority(), NSOperationQueuePriorityHigh);
    op->setQueuePriority(static_cast<NSOperationQueuePriority>(100));
    EXPECT_EQ(op->queuePriority(), NSOperationQueuePriorityVeryHigh);
    op->setQueuePriority(static_cast<NSOperationQueuePriority>(-5));
    EXPECT_EQ(op->queuePriority(), NSOperationQueuePriorityLow);
    op->setQueuePriority(static_cast<NSOperationQueuePriority>(1));
    EXPECT_EQ(op->queuePriority(), NSOperationQueuePriorityNormal);
    op->setQueuePriority(static_cast<NSOperationQueuePriority>(-1000));
    EXPECT_EQ(op->queuePriority(), NSOperationQueuePriorityVeryLow);
}

TEST(NSOperationTest, StateReadableByName) {
    auto op = make<CountingOperation>();
    op->setName("fetch");
    EXPECT_EQ(op->name(), "fetch");
    EXPECT_NE(op->description().find("fetch"), std::string::npos);
    EXPECT_TRUE(op->valueForKey("isReady").boolValue());
    EXPECT_FALSE(op->valueForKey("isFinished").boolValue());
    EXPECT_EQ(op->valueForKey("name").stringValue(), "fetch");
    EXPECT_EQ(op->valueForKey("queuePriority").intValue(), 0);
    op->start();
    EXPECT_TRUE(op->valueForKey("isFinished").boolValue());
    EXPECT_TRUE(op->valueForKey("missing").isNil());
}

TEST(NSBlockOperationTest, RunsEveryBlockInOrder) {
    std::vector<int> order;
    auto op = NSBlockOperation::blockOperationWithBlock([&] { order.push_back(1); });
    op->addExecutionBlock([&] { order.push_back(2); });
    op->addExecutionBlock(nullptr);
    op->addExecutionBlock([&] { order.push_back(3); });
    EXPECT_EQ(op->executionBlocks().size(), 3u);
    op->start();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(op->isFinished());
    EXPECT_TRUE(op->executionBlocks().empty());
}

TEST(NSBlockOperationTest, BlocksCannotBeAddedOnceRunning) {
    LogCapture capture;
    Ref<NSBlockOperation> op;
    int late = 0;
    op = NSBlockOperation::blockOperationWithBlock([&] { op->addExecutionBlock([&] { ++late; }); });
    op->start();
    EXPECT_EQ(late, 0);
    EXPECT_EQ(capture.lines().size(), 1u);
}

TEST(NSBlockOperationTest, EmptyOperationStillFinishes) {
    auto op = make<NSBlockOperation>();
    op->start();
    EXPECT_TRUE(op->isFinished());
}

}  // namespace
