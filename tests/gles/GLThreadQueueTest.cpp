#include "gles/GLThreadQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "dispatch/Dispatch.h"

namespace {

constexpr std::int64_t kWait = 10 * static_cast<std::int64_t>(NSEC_PER_SEC);

bool waitFor(const dispatch_semaphore_t& semaphore) {
    return dispatch_semaphore_wait(semaphore, dispatch_time(DISPATCH_TIME_NOW, kWait)) == 0;
}

TEST(GLThreadQueue, RunsEveryBlockOnOneThreadInOrder) {
    GLThreadQueue queue("test.queue");
    EXPECT_EQ(queue.label(), "test.queue");
    std::vector<int> order;
    std::set<std::thread::id> threads;
    auto done = dispatch_semaphore_create(0);
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            order.push_back(i);
            threads.insert(std::this_thread::get_id());
            if (i == 199) dispatch_semaphore_signal(done);
        });
    }
    ASSERT_TRUE(waitFor(done));
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_EQ(*threads.begin(), queue.threadId());
    EXPECT_NE(queue.threadId(), std::this_thread::get_id());
}

TEST(GLThreadQueue, KnowsWhetherTheCallerIsOnIt) {
    GLThreadQueue queue("q");
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_EQ(GLThreadQueue::current(), nullptr);
    bool inside = false;
    GLThreadQueue* current = nullptr;
    queue.sync([&] {
        inside = queue.isCurrent();
        current = GLThreadQueue::current();
    });
    EXPECT_TRUE(inside);
    EXPECT_EQ(current, &queue);
}

TEST(GLThreadQueue, NestedRequestsRunInlineWithoutDeadlock) {
    GLThreadQueue queue("q");
    std::vector<std::string> steps;
    queue.sync([&] {
        steps.push_back("outer");
        queue.sync([&] { steps.push_back("inner sync"); });
        queue.async([&] { steps.push_back("inner async"); });
        steps.push_back("after");
    });
    EXPECT_EQ(steps, (std::vector<std::string>{"outer", "inner sync", "inner async", "after"}));
}

TEST(GLThreadQueue, SyncWaitsForEarlierAsyncWork) {
    GLThreadQueue queue("q");
    int value = 0;
    auto gate = dispatch_semaphore_create(0);
    queue.async([&] {
        dispatch_semaphore_wait(gate, DISPATCH_TIME_FOREVER);
        value = 1;
    });
    dispatch_semaphore_signal(gate);
    int seen = -1;
    queue.sync([&] { seen = value; });
    EXPECT_EQ(seen, 1);
}

TEST(GLThreadQueue, SyncHandsExceptionsBack) {
    GLThreadQueue queue("q");
    EXPECT_THROW(queue.sync([] { throw std::runtime_error("bad"); }), std::runtime_error);
    int after = 0;
    queue.sync([&] { after = 1; });
    EXPECT_EQ(after, 1);
}

TEST(GLThreadQueue, EmptyBlocksAreIgnored) {
    GLThreadQueue queue("q");
    queue.sync(nullptr);
    queue.async(nullptr);
    int ran = 0;
    queue.sync([&] { ++ran; });
    EXPECT_EQ(ran, 1);
}

TEST(GLThreadQueue, ManyThreadsSubmittingAtOnceAreSerialised) {
    GLThreadQueue queue("q");
    int counter = 0;  // touched only on the queue: no lock needed if the queue serialises
    std::atomic<int> concurrent{0};
    std::atomic<int> maxConcurrent{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 250; ++i) {
                auto body = [&] {
                    int now = ++concurrent;
                    int seen = maxConcurrent.load();
                    while (now > seen && !maxConcurrent.compare_exchange_weak(seen, now)) {
                    }
                    ++counter;
                    --concurrent;
                };
                if (i % 2) {
                    queue.sync(body);
                } else {
                    queue.async(body);
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    int total = 0;
    queue.sync([&] { total = counter; });
    EXPECT_EQ(total, 8 * 250);
    EXPECT_EQ(maxConcurrent.load(), 1);
}

TEST(GLThreadQueue, SyncFromDispatchWorkersMakesProgress) {
    // More callers block in sync() than the pool normally has workers; the pool must not starve.
    auto queue = std::make_shared<GLThreadQueue>("q");
    auto group = dispatch_group_create();
    std::atomic<int> ran{0};
    for (int i = 0; i < 64; ++i) {
        dispatch_group_async(group, dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT),
                             [&, queue] { queue->sync([&] { ++ran; }); });
    }
    ASSERT_EQ(dispatch_group_wait(group, dispatch_time(DISPATCH_TIME_NOW, kWait)), 0);
    EXPECT_EQ(ran.load(), 64);
}

TEST(GLThreadQueue, DestructionRunsWhatWasSubmitted) {
    std::atomic<int> ran{0};
    auto gate = dispatch_semaphore_create(0);  // outlives the queue, whose blocks wait on it
    {
        GLThreadQueue queue("q");
        queue.async([&] { dispatch_semaphore_wait(gate, DISPATCH_TIME_FOREVER); });
        for (int i = 0; i < 50; ++i) queue.async([&] { ++ran; });
        dispatch_semaphore_signal(gate);
    }
    EXPECT_EQ(ran.load(), 50);
}

// Signals a semaphore when destroyed.
struct SignalOnDestroy {
    dispatch_semaphore_t semaphore;
    ~SignalOnDestroy() { dispatch_semaphore_signal(semaphore); }
};

TEST(GLThreadQueue, MayBeDestroyedFromItsOwnThread) {
    auto gone = dispatch_semaphore_create(0);
    auto queue = std::make_shared<GLThreadQueue>("q");
    std::weak_ptr<GLThreadQueue> weak = queue;
    auto marker = std::make_shared<SignalOnDestroy>(SignalOnDestroy{gone});
    GLThreadQueue* raw = queue.get();
    // The block holds the last reference to its own queue; when the block is released after it
    // ran, the queue is destroyed on its own thread.
    raw->async([queue = std::move(queue), marker = std::move(marker)] {});
    ASSERT_TRUE(waitFor(gone));
    // The marker goes with the block, which goes with the queue's last reference.
    auto check = dispatch_semaphore_create(0);
    std::thread([weak, check] {
        while (!weak.expired()) std::this_thread::yield();
        dispatch_semaphore_signal(check);
    }).detach();
    EXPECT_TRUE(waitFor(check));
}

}  // namespace
