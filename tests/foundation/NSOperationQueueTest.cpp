#include "foundation/NSOperationQueue.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSLog.h"
#include "tests/foundation/OperationTestSupport.h"

namespace {

using optest::Counter;
using optest::kTimeout;

// Appends under a lock; operations record the order they ran in.
class Journal {
  public:
    void add(int v) {
        std::lock_guard guard(lock_);
        entries_.push_back(v);
    }
    std::vector<int> entries() const {
        std::lock_guard guard(lock_);
        return entries_;
    }

  private:
    mutable std::mutex lock_;
    std::vector<int> entries_;
};

// How many operations run at once, and the most seen.
struct Concurrency {
    std::atomic<int> active{0};
    std::atomic<int> peak{0};
    void enter() {
        int now = ++active;
        int seen = peak.load();
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {
        }
    }
    void leave() { --active; }
};

// Concurrent: start() hands the work to a thread of its own and returns; the operation finishes
// when the gate opens.
class DetachedOperation : public NSOperation {
  public:
    bool isConcurrent() const override { return true; }
    void start() override {
        if (isCancelled()) {
            setFinished(true);
            return;
        }
        setExecuting(true);
        started.raise();
        worker_ = std::thread([this] {
            gate.waitFor(1);
            KVO::willChangeValueForKey(*this, "isExecuting");
            KVO::willChangeValueForKey(*this, "isFinished");
            done_ = true;
            KVO::didChangeValueForKey(*this, "isExecuting");
            KVO::didChangeValueForKey(*this, "isFinished");
        });
    }
    bool isExecuting() const override { return NSOperation::isExecuting() && !done_; }
    bool isFinished() const override { return done_ || NSOperation::isFinished(); }
    ~DetachedOperation() override {
        // The worker may hold the last reference while it announces the finish.
        if (worker_.get_id() == std::this_thread::get_id()) {
            worker_.detach();
        } else if (worker_.joinable()) {
            worker_.join();
        }
    }
    Counter started;
    Counter gate;

  private:
    std::atomic<bool> done_{false};
    std::thread worker_;
};

// Not ready until told: its own readiness on top of its dependencies', announced as "isReady".
class HeldOperation : public NSOperation {
  public:
    bool isReady() const override { return released_ && NSOperation::isReady(); }
    void release() {
        KVO::willChangeValueForKey(*this, "isReady");
        released_ = true;
        KVO::didChangeValueForKey(*this, "isReady");
    }
    void main() override { ran.raise(); }
    Counter ran;

  private:
    std::atomic<bool> released_{false};
};

TEST(NSOperationQueueTest, RunsEveryOperationAndEmpties) {
    auto queue = make<NSOperationQueue>();
    std::atomic<int> runs{0};
    for (int i = 0; i < 200; ++i) queue->addOperationWithBlock([&] { ++runs; });
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_EQ(runs, 200);
    EXPECT_EQ(queue->operationCount(), 0u);
    EXPECT_TRUE(queue->operations().empty());
    EXPECT_EQ(queue->maxConcurrentOperationCount(), NSOperationQueueDefaultMaxConcurrentOperationCount);
}

TEST(NSOperationQueueTest, WidthIsHonoured) {
    for (long width : {1L, 2L, 3L}) {
        auto queue = make<NSOperationQueue>();
        queue->setMaxConcurrentOperationCount(width);
        Concurrency concurrency;
        Counter full, opened;
        for (int i = 0; i < 24; ++i) {
            queue->addOperationWithBlock([&, width] {
                concurrency.enter();
                // The first operations hold on until the queue is full, so that the peak is
                // reached; the rest run freely.
                if (concurrency.active.load() >= width) full.raise();
                opened.waitFor(1);
                concurrency.leave();
            });
        }
        ASSERT_TRUE(full.waitFor(1)) << "width " << width;
        opened.raise();
        ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
        EXPECT_EQ(concurrency.peak, width);
    }
}

TEST(NSOperationQueueTest, DefaultWidthRunsManyAtOnce) {
    auto queue = make<NSOperationQueue>();
    constexpr int kTogether = 12;
    Counter arrived;
    std::atomic<int> metEveryone{0};
    for (int i = 0; i < kTogether; ++i) {
        queue->addOperationWithBlock([&] {
            arrived.raise();
            // Each waits until all have arrived, which only a wide enough queue allows.
            if (arrived.waitFor(kTogether)) ++metEveryone;
        });
    }
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_EQ(metEveryone, kTogether);
}

TEST(NSOperationQueueTest, WidthOneIsFirstInFirstOut) {
    auto queue = make<NSOperationQueue>();
    queue->setMaxConcurrentOperationCount(1);
    Journal journal;
    Concurrency concurrency;
    for (int i = 0; i < 300; ++i) {
        queue->addOperationWithBlock([&, i] {
            concurrency.enter();
            journal.add(i);
            concurrency.leave();
        });
    }
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    auto order = journal.entries();
    ASSERT_EQ(order.size(), 300u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(concurrency.peak, 1);
}

TEST(NSOperationQueueTest, HigherPriorityStartsFirstThenFirstAdded) {
    auto queue = make<NSOperationQueue>();
    queue->setMaxConcurrentOperationCount(1);
    queue->setSuspended(true);
    Journal journal;
    const std::vector<std::pair<int, NSOperationQueuePriority>> plan = {
        {0, NSOperationQueuePriorityLow},      {1, NSOperationQueuePriorityNormal},
        {2, NSOperationQueuePriorityVeryHigh}, {3, NSOperationQueuePriorityNormal},
        {4, NSOperationQueuePriorityVeryLow},  {5, NSOperationQueuePriorityHigh},
        {6, NSOperationQueuePriorityLow},      {7, NSOperationQueuePriorityVeryHigh},
    };
    for (auto& [id, priority] : plan) {
        auto op = NSBlockOperation::blockOperationWithBlock([&journal, id = id] { journal.add(id); });
        op->setQueuePriority(priority);
        queue->addOperation(op);
    }
    EXPECT_EQ(queue->operationCount(), plan.size());
    queue->setSuspended(false);
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_EQ(journal.entries(), (std::vector<int>{2, 7, 5, 1, 3, 0, 6, 4}));
}

TEST(NSOperationQueueTest, SuspendedQueueStartsNothingUntilResumed) {
    auto queue = make<NSOperationQueue>();
    queue->setSuspended(true);
    EXPECT_TRUE(queue->isSuspended());
    std::atomic<int> runs{0};
    for (int i = 0; i < 5; ++i) queue->addOperationWithBlock([&] { ++runs; });
    EXPECT_FALSE(queue->waitUntilAllOperationsAreFinished(0.05));
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(queue->operationCount(), 5u);
    queue->setSuspended(false);
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_EQ(runs, 5);
}

TEST(NSOperationQueueTest, SuspendingLetsRunningWorkFinish) {
    auto queue = make<NSOperationQueue>();
    queue->setMaxConcurrentOperationCount(1);
    Counter running, proceed;
    std::atomic<int> laterRuns{0};
    queue->addOperationWithBlock([&] {
        running.raise();
        proceed.waitFor(1);
    });
    ASSERT_TRUE(running.waitFor(1));
    queue->addOperationWithBlock([&] { ++laterRuns; });
    queue->setSuspended(true);
    proceed.raise();
    // The first finishes; the second waits for the resume.
    EXPECT_FALSE(queue->waitUntilAllOperationsAreFinished(0.05));
    EXPECT_EQ(queue->operationCount(), 1u);
    EXPECT_EQ(laterRuns, 0);
    queue->setSuspended(false);
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_EQ(laterRuns, 1);
}

TEST(NSOperationQueueTest, DependenciesAcrossQueues) {
    auto first = make<NSOperationQueue>();
    auto second = make<NSOperationQueue>();
    Counter gate;
    std::atomic<bool> dependencyFinishedFirst{false};
    auto dependency = NSBlockOperation::blockOperationWithBlock([&] { gate.waitFor(1); });
    auto dependant = NSBlockOperation::blockOperationWithBlock(
        [&] { dependencyFinishedFirst = dependency->isFinished(); });
    dependant->addDependency(dependency);
    second->addOperation(dependant);
    first->addOperation(dependency);
    EXPECT_FALSE(dependant->waitUntilFinished(0.05));
    gate.raise();
    ASSERT_TRUE(dependant->waitUntilFinished(kTimeout));
    EXPECT_TRUE(dependencyFinishedFirst);
}

TEST(NSOperationQueueTest, ChainAlternatingBetweenQueuesRunsInOrder) {
    auto a = make<NSOperationQueue>();
    auto b = make<NSOperationQueue>();
    Journal journal;
    std::vector<Ref<NSOperation>> chain;
    for (int i = 0; i < 60; ++i) {
        auto op = NSBlockOperation::blockOperationWithBlock([&journal, i] { journal.add(i); });
        if (!chain.empty()) op->addDependency(chain.back());
        chain.push_back(op);
    }
    // Added last first, so that only the dependencies order them.
    for (int i = 59; i >= 0; --i) (i % 2 ? a : b)->addOperation(chain[i]);
    ASSERT_TRUE(chain.back()->waitUntilFinished(kTimeout));
    auto order = journal.entries();
    ASSERT_EQ(order.size(), 60u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST(NSOperationQueueTest, WaitingOperationDoesNotBlockTheWidth) {
    // A width of 1: an operation waiting on a dependency that is added later must not hold the
    // only slot.
    auto queue = make<NSOperationQueue>();
    queue->setMaxConcurrentOperationCount(1);
    Journal journal;
    auto later = NSBlockOperation::blockOperationWithBlock([&] { journal.add(2); });
    auto earlier = NSBlockOperation::blockOperationWithBlock([&] { journal.add(1); });
    later->addDependency(earlier);
    queue->addOperation(later);
    queue->addOperation(earlier);
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_EQ(journal.entries(), (std::vector<int>{1, 2}));
}

TEST(NSOperationQueueTest, CancelledBeforeStartFinishesAndReleasesDependants) {
    auto queue = make<NSOperationQueue>();
    queue->setSuspended(true);
    std::atomic<int> cancelledRuns{0};
    Counter completions;
    auto cancelled = NSBlockOperation::blockOperationWithBlock([&] { ++cancelledRuns; });
    cancelled->setCompletionBlock([&] { completions.raise(); });
    auto dependant = NSBlockOperation::blockOperationWithBlock([] {});
    dependant->addDependency(cancelled);
    queue->addOperation(dependant);
    queue->addOperation(cancelled);
    cancelled->cancel();
    queue->setSuspended(false);
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_EQ(cancelledRuns, 0);
    EXPECT_TRUE(cancelled->isFinished());
    EXPECT_TRUE(dependant->isFinished());
    EXPECT_FALSE(dependant->isCancelled());
    EXPECT_TRUE(completions.waitFor(1));
}

TEST(NSOperationQueueTest, CancelAllOperations) {
    auto queue = make<NSOperationQueue>();
    queue->setMaxConcurrentOperationCount(1);
    Counter running, completions;
    std::atomic<bool> sawCancel{false};
    std::atomic<int> laterRuns{0};
    auto first = NSBlockOperation::blockOperationWithBlock([&] {});
    first->addExecutionBlock([&, raw = first.get()] {
        running.raise();
        // Runs until cancelled.
        while (!raw->isCancelled()) std::this_thread::yield();
        sawCancel = true;
    });
    queue->addOperation(first);
    for (int i = 0; i < 10; ++i) {
        auto op = NSBlockOperation::blockOperationWithBlock([&] { ++laterRuns; });
        op->setCompletionBlock([&] { completions.raise(); });
        queue->addOperation(op);
    }
    ASSERT_TRUE(running.waitFor(1));
    queue->cancelAllOperations();
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_TRUE(sawCancel);
    EXPECT_EQ(laterRuns, 0);
    EXPECT_TRUE(completions.waitFor(10));
}

TEST(NSOperationQueueTest, CompletionBlocksRunOncePerOperation) {
    auto queue = make<NSOperationQueue>();
    queue->setMaxConcurrentOperationCount(4);
    constexpr int kCount = 100;
    std::vector<std::atomic<int>> completions(kCount);
    Counter total;
    for (int i = 0; i < kCount; ++i) {
        auto op = NSBlockOperation::blockOperationWithBlock([] {});
        op->setCompletionBlock([&, i] {
            ++completions[i];
            total.raise();
        });
        queue->addOperation(op);
    }
    ASSERT_TRUE(total.waitFor(kCount));
    for (auto& c : completions) EXPECT_EQ(c.load(), 1);
}

TEST(NSOperationQueueTest, ConcurrentOperationHoldsItsSlotUntilItFinishes) {
    auto queue = make<NSOperationQueue>();
    queue->setMaxConcurrentOperationCount(1);
    auto detached = make<DetachedOperation>();
    std::atomic<bool> detachedFinishedFirst{false};
    auto next =
        NSBlockOperation::blockOperationWithBlock([&] { detachedFinishedFirst = detached->isFinished(); });
    queue->addOperation(detached);
    queue->addOperation(next);
    ASSERT_TRUE(detached->started.waitFor(1));
    // start() has returned, yet the queue still counts it.
    EXPECT_FALSE(next->waitUntilFinished(0.05));
    EXPECT_EQ(queue->operationCount(), 2u);
    detached->gate.raise();
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_TRUE(detachedFinishedFirst);
}

TEST(NSOperationQueueTest, OperationWithItsOwnReadinessStartsWhenItAnnouncesIt) {
    auto queue = make<NSOperationQueue>();
    queue->setMaxConcurrentOperationCount(1);
    auto held = make<HeldOperation>();
    std::atomic<int> otherRuns{0};
    queue->addOperation(held);
    queue->addOperationWithBlock([&] { ++otherRuns; });
    // The held one takes no slot while it is not ready.
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(0.05) == false);
    EXPECT_EQ(otherRuns, 1);
    EXPECT_EQ(held->ran.value(), 0);
    held->release();
    ASSERT_TRUE(held->ran.waitFor(1));
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
}

TEST(NSOperationQueueTest, WaitUntilFinishedFromAnotherQueuesWorker) {
    auto waiting = make<NSOperationQueue>();
    waiting->setMaxConcurrentOperationCount(1);
    auto working = make<NSOperationQueue>();
    working->setMaxConcurrentOperationCount(1);
    Counter gate;
    auto target = NSBlockOperation::blockOperationWithBlock([&] { gate.waitFor(1); });
    std::atomic<bool> sawFinished{false};
    waiting->addOperationWithBlock([&] {
        target->waitUntilFinished();
        sawFinished = target->isFinished();
    });
    working->addOperation(target);
    gate.raise();
    ASSERT_TRUE(waiting->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_TRUE(sawFinished);
}

TEST(NSOperationQueueTest, AddOperationsAndWait) {
    auto queue = make<NSOperationQueue>();
    std::vector<Ref<NSOperation>> batch;
    std::atomic<int> runs{0};
    for (int i = 0; i < 20; ++i) batch.push_back(NSBlockOperation::blockOperationWithBlock([&] { ++runs; }));
    queue->addOperations(batch, true);
    EXPECT_EQ(runs, 20);
    for (auto& op : batch) EXPECT_TRUE(op->isFinished());
}

TEST(NSOperationQueueTest, OperationsAreListedInTheOrderAdded) {
    auto queue = make<NSOperationQueue>();
    queue->setSuspended(true);
    std::vector<Ref<NSOperation>> added;
    for (int i = 0; i < 4; ++i) {
        added.push_back(NSBlockOperation::blockOperationWithBlock([] {}));
        queue->addOperation(added.back());
    }
    EXPECT_EQ(queue->operations(), added);
    EXPECT_EQ(queue->valueForKey("operationCount").intValue(), 4);
    EXPECT_EQ(queue->valueForKey("operations").array()->count(), 4u);
    EXPECT_TRUE(queue->valueForKey("suspended").boolValue());
    queue->addOperation(nullptr);
    EXPECT_EQ(queue->operationCount(), 4u);
    queue->setSuspended(false);
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
}

TEST(NSOperationQueueTest, CurrentQueueInsideAnOperation) {
    auto queue = make<NSOperationQueue>();
    queue->setName("work");
    EXPECT_EQ(queue->name(), "work");
    Ref<NSOperationQueue> seen;
    queue->addOperationWithBlock([&] { seen = NSOperationQueue::currentQueue(); });
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_EQ(seen, queue);
    Ref<NSOperationQueue> outside = queue;
    std::thread([&] { outside = NSOperationQueue::currentQueue(); }).join();
    EXPECT_EQ(outside, nullptr);
}

TEST(NSOperationQueueTest, QueueKeepsItsOperationsAndItselfAlive) {
    Counter done;
    Weak<NSOperation> weakOp;
    {
        auto queue = make<NSOperationQueue>();
        queue->setMaxConcurrentOperationCount(1);
        auto gate = std::make_shared<Counter>();
        auto op = NSBlockOperation::blockOperationWithBlock([] {});
        weakOp = op;
        auto blocker = NSBlockOperation::blockOperationWithBlock([gate] { gate->waitFor(1); });
        op->addDependency(blocker);
        op->setCompletionBlock([&] { done.raise(); });
        queue->addOperation(op);
        queue->addOperation(blocker);
        gate->raise();
    }
    // Queue and operations were only held by the queue's own machinery.
    ASSERT_TRUE(done.waitFor(1));
}

TEST(NSOperationQueueTest, RaisingTheWidthStartsWaitingOperations) {
    auto queue = make<NSOperationQueue>();
    queue->setMaxConcurrentOperationCount(1);
    constexpr int kCount = 4;
    Counter arrived;
    for (int i = 0; i < kCount; ++i) {
        queue->addOperationWithBlock([&] {
            arrived.raise();
            arrived.waitFor(kCount);
        });
    }
    ASSERT_TRUE(arrived.waitFor(1));
    queue->setMaxConcurrentOperationCount(kCount);
    EXPECT_EQ(queue->maxConcurrentOperationCount(), kCount);
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_EQ(arrived.value(), kCount);
}

TEST(NSOperationQueueTest, ZeroWidthRunsNothing) {
    auto queue = make<NSOperationQueue>();
    queue->setMaxConcurrentOperationCount(0);
    std::atomic<int> runs{0};
    queue->addOperationWithBlock([&] { ++runs; });
    EXPECT_FALSE(queue->waitUntilAllOperationsAreFinished(0.05));
    queue->setMaxConcurrentOperationCount(NSOperationQueueDefaultMaxConcurrentOperationCount);
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_EQ(runs, 1);
}

TEST(NSOperationQueueTest, OperationFinishedOutsideTheQueueLeavesIt) {
    auto queue = make<NSOperationQueue>();
    queue->setSuspended(true);
    auto op = NSBlockOperation::blockOperationWithBlock([] {});
    queue->addOperation(op);
    op->start();  // by hand, while the queue holds it back
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_EQ(queue->operationCount(), 0u);
    // The queue was not left with a slot taken.
    queue->setMaxConcurrentOperationCount(1);
    queue->setSuspended(false);
    Counter ran;
    queue->addOperationWithBlock([&] { ran.raise(); });
    EXPECT_TRUE(ran.waitFor(1));
}

TEST(NSOperationQueueTest, EnqueueingTwiceIsRefused) {
#ifdef NDEBUG
    NSLogSink quiet = NSLogSetSink([](const std::string&) {});
    auto queue = make<NSOperationQueue>();
    queue->setSuspended(true);
    auto op = NSBlockOperation::blockOperationWithBlock([] {});
    queue->addOperation(op);
    queue->addOperation(op);
    make<NSOperationQueue>()->addOperation(op);
    EXPECT_EQ(queue->operationCount(), 1u);
    auto finished = NSBlockOperation::blockOperationWithBlock([] {});
    finished->start();
    queue->addOperation(finished);
    EXPECT_EQ(queue->operationCount(), 1u);
    NSLogSetSink(quiet);
    queue->setSuspended(false);
    ASSERT_TRUE(queue->waitUntilAllOperationsAreFinished(kTimeout));
#else
    GTEST_SKIP() << "assertions abort in debug builds";
#endif
}

TEST(NSOperationQueueConcurrencyTest, ManyThreadsAddingOperationsWithDependencies) {
    auto queues = std::vector<Ref<NSOperationQueue>>{make<NSOperationQueue>(), make<NSOperationQueue>()};
    queues[0]->setMaxConcurrentOperationCount(3);
    queues[1]->setMaxConcurrentOperationCount(1);
    constexpr int kThreads = 6, kPerThread = 60;
    std::atomic<int> runs{0};
    std::atomic<int> orderViolations{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            std::vector<Ref<NSOperation>> mine;
            for (int i = 0; i < kPerThread; ++i) {
                auto op = make<NSBlockOperation>();
                std::vector<Ref<NSOperation>> dependencies;
                for (int d = 0; d < 2 && !mine.empty(); ++d) {
                    dependencies.push_back(mine[random() % mine.size()]);
                    op->addDependency(dependencies.back());
                }
                op->addExecutionBlock([&, dependencies] {
                    for (auto& dependency : dependencies) {
                        if (!dependency->isFinished()) ++orderViolations;
                    }
                    ++runs;
                });
                if (random() % 5 == 0) op->setQueuePriority(NSOperationQueuePriorityHigh);
                mine.push_back(op);
                queues[random() % 2]->addOperation(op);
                if (random() % 17 == 0) mine[random() % mine.size()]->cancel();
            }
        });
    }
    for (auto& t : threads) t.join();
    for (auto& q : queues) ASSERT_TRUE(q->waitUntilAllOperationsAreFinished(kTimeout));
    EXPECT_EQ(orderViolations, 0);
    EXPECT_LE(runs, kThreads * kPerThread);
    EXPECT_GT(runs, 0);
}

}  // namespace

// ---- the main queue ---------------------------------------------------------------------------

namespace {

// Turns the main dispatch queue on this (the main) thread until the condition holds.
bool pumpMainQueueUntil(const std::function<bool()>& condition, double seconds = kTimeout) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        dispatch_main_queue_drain();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        pollfd handle{dispatch_main_queue_handle(), POLLIN, 0};
        ::poll(&handle, 1, 10);
    }
    return true;
}

TEST(NSOperationQueueMainTest, RunsOnTheMainThreadOneAtATimeInOrder) {
    ASSERT_TRUE(dispatch_is_main_thread());
    auto main = NSOperationQueue::mainQueue();
    EXPECT_EQ(main, NSOperationQueue::mainQueue());
    main->setMaxConcurrentOperationCount(4);
    EXPECT_EQ(main->maxConcurrentOperationCount(), 1);
    Journal journal;
    Concurrency concurrency;
    std::atomic<int> offMain{0};
    std::thread adder([&] {
        for (int i = 0; i < 20; ++i) {
            main->addOperationWithBlock([&, i] {
                concurrency.enter();
                if (!dispatch_is_main_thread()) ++offMain;
                journal.add(i);
                concurrency.leave();
            });
        }
    });
    adder.join();
    ASSERT_TRUE(pumpMainQueueUntil([&] { return journal.entries().size() == 20; }));
    auto order = journal.entries();
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(offMain, 0);
    EXPECT_EQ(concurrency.peak, 1);
    EXPECT_TRUE(pumpMainQueueUntil([&] { return main->operationCount() == 0; }));
}

TEST(NSOperationQueueMainTest, CurrentQueueOnTheMainThread) {
    auto main = NSOperationQueue::mainQueue();
    EXPECT_EQ(NSOperationQueue::currentQueue(), main);
    Ref<NSOperationQueue> inside;
    main->addOperationWithBlock([&] { inside = NSOperationQueue::currentQueue(); });
    ASSERT_TRUE(pumpMainQueueUntil([&] { return inside != nullptr; }));
    EXPECT_EQ(inside, main);
    Ref<NSOperationQueue> elsewhere = main;
    std::thread([&] { elsewhere = NSOperationQueue::currentQueue(); }).join();
    EXPECT_EQ(elsewhere, nullptr);
}

TEST(NSOperationQueueMainTest, DependenciesBetweenTheMainQueueAndAWorkerQueue) {
    auto main = NSOperationQueue::mainQueue();
    auto background = make<NSOperationQueue>();
    Journal journal;
    auto first = NSBlockOperation::blockOperationWithBlock([&] { journal.add(1); });
    auto onMain =
        NSBlockOperation::blockOperationWithBlock([&] { journal.add(dispatch_is_main_thread() ? 2 : -2); });
    auto last = NSBlockOperation::blockOperationWithBlock([&] { journal.add(3); });
    onMain->addDependency(first);
    last->addDependency(onMain);
    background->addOperation(last);
    main->addOperation(onMain);
    background->addOperation(first);
    ASSERT_TRUE(pumpMainQueueUntil([&] { return last->isFinished(); }));
    EXPECT_EQ(journal.entries(), (std::vector<int>{1, 2, 3}));
}

TEST(NSOperationQueueMainTest, ConcurrentOperationKeepsTheMainQueueBusy) {
    auto main = NSOperationQueue::mainQueue();
    auto detached = make<DetachedOperation>();
    std::atomic<bool> ranAfter{false};
    auto next = NSBlockOperation::blockOperationWithBlock([&] { ranAfter = detached->isFinished(); });
    main->addOperation(detached);
    main->addOperation(next);
    ASSERT_TRUE(pumpMainQueueUntil([&] { return detached->started.value() == 1; }));
    EXPECT_FALSE(pumpMainQueueUntil([&] { return next->isFinished(); }, 0.05));
    detached->gate.raise();
    ASSERT_TRUE(pumpMainQueueUntil([&] { return next->isFinished(); }));
    EXPECT_TRUE(ranAfter);
}

}  // namespace
