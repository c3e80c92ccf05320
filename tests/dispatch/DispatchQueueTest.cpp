#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "DispatchTestSupport.h"
#include "dispatch/DispatchBlocking.h"
#include "dispatch/DispatchInternal.h"

using dispatchtest::drainAll;
using dispatchtest::drainMainUntil;
using dispatchtest::mainHandleReadable;

namespace {

constexpr dispatch_time_t kLongWait = 0;  // placeholder so the helpers below read clearly

dispatch_time_t realSeconds(double s) {
    return dispatchtest::after(s);
}

// Waits for every block queued so far on the queue to finish.
void flush(const dispatch_queue_t& queue) {
    dispatch_barrier_sync(queue, [] {});
}

class DispatchQueueTest : public ::testing::Test {
  protected:
    void TearDown() override {
        // Leave nothing behind on the main queue for the next test.
        drainAll();
    }
};

TEST_F(DispatchQueueTest, SerialQueueRunsBlocksOneAtATimeInSubmissionOrder) {
    auto queue = dispatch_queue_create("test.serial");
    std::vector<int> order;
    std::atomic<int> inside{0};
    std::atomic<int> maxInside{0};
    for (int i = 0; i < 2000; ++i) {
        dispatch_async(queue, [&, i] {
            int now = ++inside;
            int seen = maxInside.load();
            while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {
            }
            order.push_back(i);
            --inside;
        });
    }
    flush(queue);
    ASSERT_EQ(order.size(), 2000u);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(order[i], i);
    EXPECT_EQ(maxInside.load(), 1);
}

TEST_F(DispatchQueueTest, SerialQueueKeepsEachProducersOrderUnderContention) {
    auto queue = dispatch_queue_create("test.producers");
    constexpr int kProducers = 6, kEach = 500;
    std::vector<std::vector<int>> seen(kProducers);
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kEach; ++i) dispatch_async(queue, [&, p, i] { seen[p].push_back(i); });
        });
    }
    for (auto& t : producers) t.join();
    flush(queue);
    for (int p = 0; p < kProducers; ++p) {
        ASSERT_EQ(seen[p].size(), static_cast<size_t>(kEach));
        EXPECT_TRUE(std::is_sorted(seen[p].begin(), seen[p].end()));
    }
}

TEST_F(DispatchQueueTest, LabelsReadBackAndGlobalQueuesAreSharedPerPriority) {
    EXPECT_STREQ(dispatch_queue_get_label(dispatch_queue_create("com.example.cache")), "com.example.cache");
    EXPECT_STREQ(dispatch_queue_get_label(dispatch_queue_create(nullptr)), "");
    auto concurrent = dispatch_queue_create("videoReadingQueue", DISPATCH_QUEUE_CONCURRENT);
    EXPECT_STREQ(dispatch_queue_get_label(concurrent), "videoReadingQueue");
    EXPECT_NE(dispatch_queue_get_label(dispatch_get_main_queue()), nullptr);
    EXPECT_NE(dispatch_queue_get_label(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_HIGH)), nullptr);
    EXPECT_EQ(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT), dispatch_get_global_queue(0));
    EXPECT_NE(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_HIGH), dispatch_get_global_queue(0));
    EXPECT_NE(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_LOW),
              dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_BACKGROUND));
}

TEST_F(DispatchQueueTest, GlobalQueueRunsOffTheMainThreadOnWorkers) {
    auto done = dispatch_semaphore_create(0);
    std::atomic<bool> onMain{true}, onWorker{false};
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_BACKGROUND, 0), [&] {
        onMain = dispatch_is_main_thread();
        onWorker = dispatch_on_worker_thread();
        dispatch_semaphore_signal(done);
    });
    ASSERT_EQ(dispatch_semaphore_wait(done, realSeconds(5)), 0);
    EXPECT_FALSE(onMain.load());
    EXPECT_TRUE(onWorker.load());
    EXPECT_TRUE(dispatch_is_main_thread());
    EXPECT_FALSE(dispatch_on_worker_thread());
}

TEST_F(DispatchQueueTest, ConcurrentQueueRunsBlocksInParallel) {
    auto queue = dispatch_queue_create("test.concurrent", DISPATCH_QUEUE_CONCURRENT);
    // Each block waits for the other: only parallel execution lets both finish.
    auto a = dispatch_semaphore_create(0), b = dispatch_semaphore_create(0);
    std::atomic<int> ok{0};
    auto group = dispatch_group_create();
    dispatch_group_async(group, queue, [&] {
        dispatch_semaphore_signal(a);
        if (dispatch_semaphore_wait(b, realSeconds(5)) == 0) ++ok;
    });
    dispatch_group_async(group, queue, [&] {
        dispatch_semaphore_signal(b);
        if (dispatch_semaphore_wait(a, realSeconds(5)) == 0) ++ok;
    });
    ASSERT_EQ(dispatch_group_wait(group, realSeconds(10)), 0);
    EXPECT_EQ(ok.load(), 2);
}

TEST_F(DispatchQueueTest, PoolGrowsPastItsSizeWhenEveryWorkerIsBlocked) {
    // More blocks than cores, each blocked until all have started: only a growing pool finishes.
    const int n = static_cast<int>(std::max(1u, std::thread::hardware_concurrency())) + 4;
    auto queue = dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_LOW);
    std::atomic<int> started{0};
    auto allStarted = dispatch_semaphore_create(0);
    auto group = dispatch_group_create();
    std::atomic<int> finishedInTime{0};
    for (int i = 0; i < n; ++i) {
        dispatch_group_async(group, queue, [&] {
            if (++started == n) {
                for (int k = 0; k < n; ++k) dispatch_semaphore_signal(allStarted);
            }
            if (dispatch_semaphore_wait(allStarted, realSeconds(10)) == 0) ++finishedInTime;
        });
    }
    ASSERT_EQ(dispatch_group_wait(group, realSeconds(20)), 0);
    EXPECT_EQ(finishedInTime.load(), n);
}

TEST_F(DispatchQueueTest, BarrierWaitsForEarlierBlocksAndHoldsBackLaterOnes) {
    auto queue = dispatch_queue_create("test.barrier", DISPATCH_QUEUE_CONCURRENT);
    std::atomic<int> readersRunning{0};
    std::atomic<int> before{0}, after{0};
    std::atomic<bool> violation{false};
    std::atomic<bool> barrierDone{false};
    for (int i = 0; i < 50; ++i) {
        dispatch_async(queue, [&] {
            ++readersRunning;
            std::this_thread::yield();
            ++before;
            --readersRunning;
        });
    }
    dispatch_barrier_async(queue, [&] {
        if (readersRunning.load() != 0 || before.load() != 50) violation = true;
        barrierDone = true;
    });
    for (int i = 0; i < 50; ++i) {
        dispatch_async(queue, [&] {
            if (!barrierDone.load()) violation = true;
            ++after;
        });
    }
    flush(queue);
    EXPECT_FALSE(violation.load());
    EXPECT_EQ(before.load(), 50);
    EXPECT_EQ(after.load(), 50);
}

TEST_F(DispatchQueueTest, ConcurrentReadersAndBarrierWritersKeepAConsistentStore) {
    auto queue = dispatch_queue_create("test.store", DISPATCH_QUEUE_CONCURRENT);
    std::vector<int> store;  // written only in barriers, read only in plain blocks
    std::atomic<bool> torn{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (i % 10 == t) {
                    dispatch_barrier_async(queue, [&] {
                        int next = store.empty() ? 0 : store.back() + 1;
                        store.push_back(next);
                    });
                } else {
                    dispatch_sync(queue, [&] {
                        for (size_t k = 0; k < store.size(); ++k) {
                            if (store[k] != static_cast<int>(k)) torn = true;
                        }
                    });
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    int count = 0;
    dispatch_barrier_sync(queue, [&] { count = static_cast<int>(store.size()); });
    EXPECT_FALSE(torn.load());
    EXPECT_EQ(count, 80);
}

// White-box: how many blocks and waiters a queue holds.
size_t queuedItems(const dispatch_queue_t& queue) {
    std::lock_guard lock(queue->mutex);
    return queue->items.size();
}

TEST_F(DispatchQueueTest, SyncRunsOnTheCallersThreadBetweenEarlierAndLaterBlocks) {
    auto queue = dispatch_queue_create("test.sync");
    std::vector<int> order;
    auto gate = dispatch_semaphore_create(0), started = dispatch_semaphore_create(0);
    dispatch_async(queue, [&] {
        dispatch_semaphore_signal(started);
        dispatch_semaphore_wait(gate, realSeconds(5));
        order.push_back(1);
    });
    dispatch_async(queue, [&] { order.push_back(2); });
    std::thread releaser([&] {
        // Block 1 is running; once the sync caller is queued behind block 2, queue block 4 behind
        // it and open the gate.
        dispatch_semaphore_wait(started, realSeconds(5));
        while (queuedItems(queue) < 2) std::this_thread::yield();
        dispatch_async(queue, [&] { order.push_back(4); });
        dispatch_semaphore_signal(gate);
    });
    std::thread::id ranOn;
    bool wasMain = false;
    dispatch_sync(queue, [&] {
        order.push_back(3);
        ranOn = std::this_thread::get_id();
        wasMain = dispatch_is_main_thread();
    });
    releaser.join();
    flush(queue);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(wasMain);
}

TEST_F(DispatchQueueTest, SyncOnAConcurrentQueueWaitsForAPendingBarrier) {
    auto queue = dispatch_queue_create("test.sync-barrier", DISPATCH_QUEUE_CONCURRENT);
    auto gate = dispatch_semaphore_create(0);
    std::atomic<bool> barrierRan{false};
    bool sawBarrier = false;
    dispatch_async(queue, [&] { dispatch_semaphore_wait(gate, realSeconds(5)); });
    dispatch_barrier_async(queue, [&] { barrierRan = true; });
    std::thread releaser([&] {
        while (queuedItems(queue) < 2) std::this_thread::yield();
        dispatch_semaphore_signal(gate);
    });
    dispatch_sync(queue, [&] { sawBarrier = barrierRan.load(); });
    releaser.join();
    EXPECT_TRUE(sawBarrier);
}

TEST_F(DispatchQueueTest, NestedSyncAcrossQueuesWorksAndSeesEachQueuesSpecifics) {
    static int keyA, keyB;
    int valueA = 1, valueB = 2;
    auto a = dispatch_queue_create("test.a"), b = dispatch_queue_create("test.b");
    dispatch_queue_set_specific(a, &keyA, &valueA);
    dispatch_queue_set_specific(b, &keyB, &valueB);
    void *inA = nullptr, *inB = nullptr, *aFromB = nullptr, *backInA = nullptr;
    dispatch_sync(a, [&] {
        inA = dispatch_get_specific(&keyA);
        dispatch_sync(b, [&] {
            inB = dispatch_get_specific(&keyB);
            aFromB = dispatch_get_specific(&keyA);
        });
        backInA = dispatch_get_specific(&keyA);
    });
    EXPECT_EQ(inA, &valueA);
    EXPECT_EQ(inB, &valueB);
    EXPECT_EQ(aFromB, nullptr);
    EXPECT_EQ(backInA, &valueA);
    EXPECT_EQ(dispatch_get_specific(&keyA), nullptr);
    EXPECT_EQ(dispatch_queue_get_specific(a, &keyA), &valueA);
    EXPECT_EQ(dispatch_queue_get_specific(a, &keyB), nullptr);
    // Async blocks see them too.
    std::atomic<void*> seen{nullptr};
    dispatch_async(b, [&] { seen = dispatch_get_specific(&keyB); });
    flush(b);
    EXPECT_EQ(seen.load(), &valueB);
    dispatch_queue_set_specific(a, &keyA, nullptr);
    EXPECT_EQ(dispatch_queue_get_specific(a, &keyA), nullptr);
}

TEST_F(DispatchQueueTest, SuspendedQueuesHoldBlocksUntilResumedAsOftenAsSuspended) {
    for (auto attribute : {DISPATCH_QUEUE_SERIAL, DISPATCH_QUEUE_CONCURRENT}) {
        auto queue = dispatch_queue_create("test.suspend", attribute);
        std::atomic<int> ran{0};
        dispatch_suspend(queue);
        dispatch_suspend(queue);
        for (int i = 0; i < 5; ++i) dispatch_async(queue, [&] { ++ran; });
        // Let the workers have a go first.
        auto probe = dispatch_semaphore_create(0);
        dispatch_async(dispatch_get_global_queue(0), [&] { dispatch_semaphore_signal(probe); });
        dispatch_semaphore_wait(probe, realSeconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(ran.load(), 0);
        dispatch_resume(queue);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(ran.load(), 0);  // still suspended once
        dispatch_resume(queue);
        flush(queue);
        EXPECT_EQ(ran.load(), 5);
    }
}

TEST_F(DispatchQueueTest, QueueStaysAliveWhileItHasWork) {
    std::atomic<int> ran{0};
    auto done = dispatch_semaphore_create(0);
    {
        auto queue = dispatch_queue_create("test.temporary");
        for (int i = 0; i < 100; ++i) dispatch_async(queue, [&] { ++ran; });
        dispatch_async(queue, [&] { dispatch_semaphore_signal(done); });
    }
    ASSERT_EQ(dispatch_semaphore_wait(done, realSeconds(5)), 0);
    EXPECT_EQ(ran.load(), 100);
}

// ---- the main queue ----------------------------------------------------------------------------

TEST_F(DispatchQueueTest, MainQueueHandleIsReadableOnlyWhileWorkIsPending) {
    drainAll();
    EXPECT_FALSE(mainHandleReadable());
    std::vector<int> order;
    for (int i = 0; i < 3; ++i) dispatch_async(dispatch_get_main_queue(), [&, i] { order.push_back(i); });
    EXPECT_TRUE(mainHandleReadable());
    EXPECT_EQ(dispatch_main_queue_drain(), 3);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_FALSE(mainHandleReadable());
}

TEST_F(DispatchQueueTest, MainQueueBlocksRunOnTheMainThreadWithTheMainQueueAsCurrent) {
    static int key;
    int value = 3;
    dispatch_queue_set_specific(dispatch_get_main_queue(), &key, &value);
    void* seen = nullptr;
    bool onMain = false;
    dispatch_async(dispatch_get_main_queue(), [&] {
        seen = dispatch_get_specific(&key);
        onMain = dispatch_is_main_thread();
    });
    dispatch_main_queue_drain();
    EXPECT_EQ(seen, &value);
    EXPECT_TRUE(onMain);
    dispatch_queue_set_specific(dispatch_get_main_queue(), &key, nullptr);
}

TEST_F(DispatchQueueTest, DrainRunsOnlyWhatWasPendingWhenItStarted) {
    int runs = 0;
    std::function<void()> again = [&] {
        ++runs;
        dispatch_async(dispatch_get_main_queue(), again);
    };
    dispatch_async(dispatch_get_main_queue(), again);
    EXPECT_EQ(dispatch_main_queue_drain(), 1);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(mainHandleReadable());
    EXPECT_EQ(dispatch_main_queue_drain(), 1);
    EXPECT_EQ(runs, 2);
    // Stop the chain before the locals go.
    again = [&] { ++runs; };
    drainAll();
    EXPECT_EQ(runs, 4);  // the queued old block ran once more, then its replacement
}

TEST_F(DispatchQueueTest, MainQueueKeepsFifoOrderAcrossANestedDrain) {
    std::vector<int> order;
    dispatch_async(dispatch_get_main_queue(), [&] {
        order.push_back(1);
        dispatch_main_queue_drain();  // a nested run loop inside a block
    });
    dispatch_async(dispatch_get_main_queue(), [&] { order.push_back(2); });
    dispatch_async(dispatch_get_main_queue(), [&] { order.push_back(3); });
    drainAll();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(DispatchQueueTest, SubmissionsFromManyThreadsAllReachTheMainQueue) {
    std::atomic<int> ran{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 250; ++i) dispatch_async(dispatch_get_main_queue(), [&] { ++ran; });
        });
    }
    EXPECT_TRUE(drainMainUntil([&] { return ran.load() == 1000; }));
    for (auto& t : threads) t.join();
    drainAll();
    EXPECT_EQ(ran.load(), 1000);
}

TEST_F(DispatchQueueTest, SyncOntoTheMainQueueFromAWorkerWaitsForTheMainThreadToRunIt) {
    std::atomic<bool> returned{false};
    std::atomic<bool> ranOnMain{false};
    std::thread worker([&] {
        dispatch_sync(dispatch_get_main_queue(), [&] { ranOnMain = dispatch_is_main_thread(); });
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(returned.load());
    EXPECT_TRUE(drainMainUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain.load());
    // From the main thread itself it runs at once.
    bool ran = false;
    dispatch_sync(dispatch_get_main_queue(), [&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST_F(DispatchQueueTest, SuspendedMainQueueRunsNothingUntilResumed) {
    int ran = 0;
    dispatch_suspend(dispatch_get_main_queue());
    dispatch_async(dispatch_get_main_queue(), [&] { ++ran; });
    EXPECT_EQ(dispatch_main_queue_drain(), 0);
    EXPECT_FALSE(mainHandleReadable());
    dispatch_resume(dispatch_get_main_queue());
    EXPECT_TRUE(mainHandleReadable());
    // A drain off the main thread does nothing.
    int drained = -1;
    std::thread([&] { drained = dispatch_main_queue_drain(); }).join();
    EXPECT_EQ(drained, 0);
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(dispatch_main_queue_drain(), 1);
    EXPECT_EQ(ran, 1);
}

TEST_F(DispatchQueueTest, NullQueuesAreIgnored) {
    dispatch_async(nullptr, [] { FAIL(); });
    dispatch_sync(nullptr, [] { FAIL(); });
    dispatch_barrier_async(nullptr, [] { FAIL(); });
    dispatch_suspend(dispatch_queue_t());
    dispatch_resume(dispatch_queue_t());
    EXPECT_EQ(dispatch_queue_get_specific(nullptr, &kLongWait), nullptr);
}

using DispatchQueueDeathTest = DispatchQueueTest;

TEST_F(DispatchQueueDeathTest, SyncOntoTheCurrentSerialQueueStopsWithAMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto queue = dispatch_queue_create("test.self-sync");
            dispatch_sync(queue, [&] { dispatch_sync(queue, [] {}); });
        },
        "deadlocks");
}

TEST_F(DispatchQueueDeathTest, UnbalancedResumeStopsWithAMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(dispatch_resume(dispatch_queue_create("test.resume")), "not suspended");
}

TEST(DispatchOnceTest, RunsExactlyOnceAcrossThreads) {
    dispatch_once_t once;
    std::atomic<int> runs{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back([&] { dispatch_once(&once, [&] { ++runs; }); });
    for (auto& t : threads) t.join();
    dispatch_once(&once, [&] { ++runs; });
    EXPECT_EQ(runs.load(), 1);
}

}  // namespace
