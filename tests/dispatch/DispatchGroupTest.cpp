#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "DispatchTestSupport.h"

using dispatchtest::after;
using dispatchtest::drainMainUntil;
using dispatchtest::ManualClockScope;

namespace {

double realElapsed(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// ---- semaphores --------------------------------------------------------------------------------

TEST(DispatchSemaphoreTest, CountsDownAndPollsWithTimeNow) {
    EXPECT_EQ(dispatch_semaphore_create(-1), nullptr);
    auto semaphore = dispatch_semaphore_create(2);
    EXPECT_EQ(dispatch_semaphore_wait(semaphore, DISPATCH_TIME_NOW), 0);
    EXPECT_EQ(dispatch_semaphore_wait(semaphore, DISPATCH_TIME_NOW), 0);
    EXPECT_NE(dispatch_semaphore_wait(semaphore, DISPATCH_TIME_NOW), 0);
    EXPECT_EQ(dispatch_semaphore_signal(semaphore), 0);  // nobody waiting
    EXPECT_EQ(dispatch_semaphore_wait(semaphore, DISPATCH_TIME_NOW), 0);
}

TEST(DispatchSemaphoreTest, TimeOutsRunOnRealTimeEvenOnTheManualClock) {
    for (bool manual : {false, true}) {
        std::optional<ManualClockScope> clock;
        if (manual) clock.emplace();
        auto semaphore = dispatch_semaphore_create(0);
        auto group = dispatch_group_create();
        dispatch_group_enter(group);
        auto start = std::chrono::steady_clock::now();
        EXPECT_NE(dispatch_semaphore_wait(semaphore, after(0.05)), 0);
        EXPECT_GE(realElapsed(start), 0.045);
        EXPECT_NE(dispatch_group_wait(group, after(0.05)), 0);
        EXPECT_GE(realElapsed(start), 0.095);
        EXPECT_LT(realElapsed(start), 5.0);
        dispatch_group_leave(group);
    }
}

TEST(DispatchSemaphoreTest, SignalWakesAWaiterAndSaysSo) {
    auto semaphore = dispatch_semaphore_create(0);
    std::atomic<long> result{-1};
    std::atomic<bool> waiting{false};
    std::thread waiter([&] {
        waiting = true;
        result = dispatch_semaphore_wait(semaphore, DISPATCH_TIME_FOREVER);
    });
    while (!waiting) std::this_thread::yield();
    // The waiter may not be parked yet; signal until it reports a wake-up or has returned.
    long woke = dispatch_semaphore_signal(semaphore);
    waiter.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_GE(woke, 0);
}

TEST(DispatchSemaphoreTest, ProducersAndConsumersBalance) {
    auto semaphore = dispatch_semaphore_create(0);
    std::atomic<int> consumed{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < 4; ++c) {
        threads.emplace_back([&] {
            for (int i = 0; i < 250; ++i) {
                if (dispatch_semaphore_wait(semaphore, after(10)) == 0) ++consumed;
            }
        });
    }
    for (int p = 0; p < 2; ++p) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) dispatch_semaphore_signal(semaphore);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(consumed.load(), 1000);
    EXPECT_NE(dispatch_semaphore_wait(semaphore, DISPATCH_TIME_NOW), 0);
}

// ---- groups ------------------------------------------------------------------------------------

TEST(DispatchGroupTest, EmptyGroupWaitsNotAtAllAndNotifiesAtOnce) {
    auto group = dispatch_group_create();
    EXPECT_EQ(dispatch_group_wait(group, DISPATCH_TIME_NOW), 0);
    bool notified = false;
    dispatch_group_notify(group, dispatch_get_main_queue(), [&] { notified = true; });
    EXPECT_TRUE(drainMainUntil([&] { return notified; }));
}

TEST(DispatchGroupTest, NotifyRunsOnceAfterEveryBlockFinished) {
    auto group = dispatch_group_create();
    std::atomic<int> done{0};
    int seenAtNotify = -1;
    int notifications = 0;
    for (int i = 0; i < 200; ++i) {
        dispatch_group_async(group, dispatch_get_global_queue(0), [&] { ++done; });
    }
    dispatch_group_notify(group, dispatch_get_main_queue(), [&] {
        seenAtNotify = done.load();
        ++notifications;
    });
    EXPECT_TRUE(drainMainUntil([&] { return notifications == 1; }));
    EXPECT_EQ(seenAtNotify, 200);
    dispatchtest::drainAll();
    EXPECT_EQ(notifications, 1);
}

TEST(DispatchGroupTest, EnterAndLeaveFromOtherThreadsGateTheWait) {
    auto group = dispatch_group_create();
    dispatch_group_enter(group);
    dispatch_group_enter(group);
    EXPECT_NE(dispatch_group_wait(group, DISPATCH_TIME_NOW), 0);
    std::thread([&] { dispatch_group_leave(group); }).join();
    EXPECT_NE(dispatch_group_wait(group, after(0.02)), 0);
    std::thread leaver([&] { dispatch_group_leave(group); });
    EXPECT_EQ(dispatch_group_wait(group, DISPATCH_TIME_FOREVER), 0);
    leaver.join();
}

TEST(DispatchGroupTest, GroupIsReusableAfterEmptying) {
    auto group = dispatch_group_create();
    auto queue = dispatch_queue_create("test.group-reuse");
    for (int round = 0; round < 3; ++round) {
        std::atomic<int> ran{0};
        for (int i = 0; i < 10; ++i) dispatch_group_async(group, queue, [&] { ++ran; });
        ASSERT_EQ(dispatch_group_wait(group, after(5)), 0);
        EXPECT_EQ(ran.load(), 10);
    }
}

TEST(DispatchGroupTest, NotificationsGoToTheirOwnQueues) {
    auto group = dispatch_group_create();
    auto serial = dispatch_queue_create("test.notify");
    std::atomic<bool> onSerial{false};
    static int key;
    int value = 1;
    dispatch_queue_set_specific(serial, &key, &value);
    auto done = dispatch_semaphore_create(0);
    dispatch_group_enter(group);
    dispatch_group_notify(group, serial, [&] {
        onSerial = dispatch_get_specific(&key) == &value;
        dispatch_semaphore_signal(done);
    });
    dispatch_group_leave(group);
    ASSERT_EQ(dispatch_semaphore_wait(done, after(5)), 0);
    EXPECT_TRUE(onSerial.load());
}

TEST(DispatchGroupDeathTest, LeaveWithoutEnterStopsWithAMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(dispatch_group_leave(dispatch_group_create()), "without a matching enter");
}

}  // namespace
