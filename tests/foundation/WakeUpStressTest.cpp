// Work handed to a thread that alternates between spinning and sleeping must never be lost: the
// run loop, the dispatch worker pool and the operation queue's workers are fed from many threads
// with gaps of varying length, so that items arrive both while the receiver spins and while it
// sleeps, and every item must run.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSOperationQueue.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSThread.h"

namespace {

constexpr int kPosters = 4;
constexpr int kItemsPerPoster = 300;
constexpr int kTotal = kPosters * kItemsPerPoster;

// Busy-waits a random span of up to ~1.5 ms (longer than any spin, so the receiver sometimes
// sleeps) or, often, not at all (so it sometimes is still spinning or busy).
void randomGap(std::mt19937& random) {
    int kind = static_cast<int>(random() % 4);
    if (kind == 0) return;
    auto span = std::chrono::microseconds(kind == 1 ? random() % 5 : random() % 1500);
    auto until = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < until) {
    }
}

void postFromManyThreads(const std::function<void()>& post) {
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p) {
        posters.emplace_back([p, &post] {
            std::mt19937 random(1234 + p);
            for (int i = 0; i < kItemsPerPoster; ++i) {
                randomGap(random);
                post();
            }
        });
    }
    for (auto& t : posters) t.join();
}

bool waitFor(const std::atomic<int>& count, int expected, std::chrono::seconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (count.load() < expected && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    return count.load() == expected;
}

// A thread running its own run loop with no time limit, so that a lost wake-up leaves it asleep.
class LoopThread {
  public:
    LoopThread() : state_(std::make_shared<State>()) {
        auto state = state_;
        NSThread::detachNewThreadWithBlock([state] {
            auto loop = NSRunLoop::currentRunLoop();
            loop->addPort(NSMachPort::port(), NSDefaultRunLoopMode);
            state->loop = loop;
            state->ready = true;
            while (!state->quit.load()) loop->runMode(NSDefaultRunLoopMode, NSDate::distantFuture());
            state->loop.reset();
            state->exited = true;
        });
        while (!state_->ready.load()) std::this_thread::yield();
        loop_ = state_->loop;
    }
    ~LoopThread() {
        state_->quit = true;
        loop_->performBlock([] {});
        while (!state_->exited.load()) std::this_thread::yield();
    }
    const Ref<NSRunLoop>& loop() const { return loop_; }

  private:
    struct State {
        Ref<NSRunLoop> loop;
        std::atomic<bool> ready{false};
        std::atomic<bool> quit{false};
        std::atomic<bool> exited{false};
    };
    std::shared_ptr<State> state_;
    Ref<NSRunLoop> loop_;
};

TEST(WakeUpStressTest, RunLoopPerformsFromManyThreadsAllRun) {
    std::atomic<int> ran{0};
    LoopThread thread;
    auto loop = thread.loop();
    postFromManyThreads([&] { loop->performBlock([&] { ran.fetch_add(1); }); });
    EXPECT_TRUE(waitFor(ran, kTotal, std::chrono::seconds(30))) << ran.load() << " of " << kTotal;
}

TEST(WakeUpStressTest, DispatchBlocksFromManyThreadsAllRun) {
    std::atomic<int> ran{0};
    auto serial = dispatch_queue_create("wake.stress", DISPATCH_QUEUE_SERIAL);
    auto global = dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT);
    std::atomic<int> which{0};
    postFromManyThreads([&] {
        auto& queue = (which.fetch_add(1) % 2) ? serial : global;
        dispatch_async(queue, [&] { ran.fetch_add(1); });
    });
    EXPECT_TRUE(waitFor(ran, kTotal, std::chrono::seconds(30))) << ran.load() << " of " << kTotal;
}

TEST(WakeUpStressTest, OperationsFromManyThreadsAllRun) {
    std::atomic<int> ran{0};
    auto queue = make<NSOperationQueue>();
    postFromManyThreads([&] { queue->addOperationWithBlock([&] { ran.fetch_add(1); }); });
    EXPECT_TRUE(queue->waitUntilAllOperationsAreFinished(30));
    EXPECT_EQ(ran.load(), kTotal);
}

TEST(WakeUpStressTest, OneAtATimeRoundTripsBetweenTwoLoopsNeverStall) {
    // A ping-pong like a request's chain: each side waits for the other's reply, so a lost
    // wake-up stalls it for good.
    LoopThread thread;
    auto far = thread.loop();
    std::atomic<int> replies{0};
    std::mt19937 random(99);
    for (int i = 0; i < 500; ++i) {
        int expected = i + 1;
        far->performBlock([&] {
            randomGap(random);
            replies.fetch_add(1);
        });
        ASSERT_TRUE(waitFor(replies, expected, std::chrono::seconds(30))) << "stalled at " << i;
    }
}

}  // namespace
