#include "foundation/NSThread.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "dispatch/Dispatch.h"
#include "foundation/NSRunLoop.h"

namespace {

dispatch_time_t seconds(double s) {
    return dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(s * 1e9));
}

// Waits (real time, bounded) for a thread to finish.
bool waitFinished(const Ref<NSThread>& thread) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!thread->isFinished()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(NSThreadTest, TheTestThreadIsTheMainThread) {
    auto current = NSThread::currentThread();
    EXPECT_EQ(current, NSThread::mainThread());
    EXPECT_EQ(current, NSThread::currentThread());
    EXPECT_TRUE(NSThread::isMainThread());
    EXPECT_TRUE(current->isMain());
    EXPECT_EQ(current->number(), 1u);
    EXPECT_TRUE(current->isExecuting());
    EXPECT_FALSE(current->isFinished());
}

TEST(NSThreadTest, StartedThreadRunsItsEntryOnItsOwnThread) {
    auto done = dispatch_semaphore_create(0);
    std::atomic<bool> sawMain{true};
    std::atomic<bool> currentIsSelf{false};
    Ref<NSThread> thread;
    Weak<NSThread> weak;
    thread = make<NSThread>([&] {
        sawMain = NSThread::isMainThread();
        currentIsSelf = NSThread::currentThread() == weak.lock();
        dispatch_semaphore_signal(done);
    });
    weak = thread;
    EXPECT_FALSE(thread->isExecuting());
    EXPECT_FALSE(thread->isMain());
    thread->start();
    ASSERT_EQ(dispatch_semaphore_wait(done, seconds(5)), 0);
    ASSERT_TRUE(waitFinished(thread));
    EXPECT_FALSE(sawMain.load());
    EXPECT_TRUE(currentIsSelf.load());
    EXPECT_FALSE(thread->isExecuting());
}

TEST(NSThreadTest, StartTwiceRunsOnce) {
    std::atomic<int> runs{0};
    auto thread = make<NSThread>([&] { ++runs; });
    thread->start();
    thread->start();
    ASSERT_TRUE(waitFinished(thread));
    thread->start();
    EXPECT_EQ(runs.load(), 1);
}

TEST(NSThreadTest, NameIsKeptWholeAndCutForTheSystem) {
    std::string systemName;
    auto thread = make<NSThread>([&] {
        char buf[64] = {};
        pthread_getname_np(pthread_self(), buf, sizeof buf);
        systemName = buf;
    });
    thread->setName("HKNetworkingWithAVeryLongName");
    thread->start();
    ASSERT_TRUE(waitFinished(thread));
    EXPECT_EQ(thread->name(), "HKNetworkingWithAVeryLongName");
    EXPECT_EQ(systemName, "HKNetworkingWit");
    EXPECT_NE(thread->description().find("HKNetworkingWithAVeryLongName"), std::string::npos);
}

TEST(NSThreadTest, NameCutNeverSplitsACharacter) {
    std::string systemName;
    auto thread = make<NSThread>([&] {
        char buf[64] = {};
        pthread_getname_np(pthread_self(), buf, sizeof buf);
        systemName = buf;
    });
    thread->setName("abcdefghijklm\xE7\xBD\x91\xE7\xBB\x9C");  // 13 ASCII bytes, then 3-byte characters
    thread->start();
    ASSERT_TRUE(waitFinished(thread));
    EXPECT_EQ(systemName, "abcdefghijklm");
}

TEST(NSThreadTest, RenamingARunningThreadReachesTheSystem) {
    auto go = dispatch_semaphore_create(0), renamed = dispatch_semaphore_create(0);
    std::string systemName;
    auto thread = make<NSThread>([&] {
        dispatch_semaphore_signal(go);
        dispatch_semaphore_wait(renamed, seconds(5));
        char buf[64] = {};
        pthread_getname_np(pthread_self(), buf, sizeof buf);
        systemName = buf;
    });
    thread->start();
    ASSERT_EQ(dispatch_semaphore_wait(go, seconds(5)), 0);
    thread->setName("renamed");
    dispatch_semaphore_signal(renamed);
    ASSERT_TRUE(waitFinished(thread));
    EXPECT_EQ(systemName, "renamed");
}

TEST(NSThreadTest, DetachedBlockRunsAndCancelOnlySetsTheFlag) {
    auto done = dispatch_semaphore_create(0);
    auto release = dispatch_semaphore_create(0);
    std::atomic<bool> sawCancel{false};
    auto thread = NSThread::detachNewThreadWithBlock([&] {
        dispatch_semaphore_wait(release, seconds(5));
        sawCancel = NSThread::currentThread()->isCancelled();
        dispatch_semaphore_signal(done);
    });
    EXPECT_TRUE(thread->isExecuting());
    thread->cancel();
    EXPECT_TRUE(thread->isCancelled());
    dispatch_semaphore_signal(release);
    ASSERT_EQ(dispatch_semaphore_wait(done, seconds(5)), 0);
    EXPECT_TRUE(sawCancel.load());
    EXPECT_TRUE(waitFinished(thread));
}

TEST(NSThreadTest, EveryThreadHasOneStableWrapperWithItsOwnNumber) {
    Ref<NSThread> first, second, other;
    std::thread plain([&] {
        first = NSThread::currentThread();
        second = NSThread::currentThread();
    });
    plain.join();
    std::thread([&] { other = NSThread::currentThread(); }).join();
    ASSERT_TRUE(first);
    EXPECT_EQ(first, second);
    EXPECT_NE(first, other);
    EXPECT_NE(first->number(), other->number());
    EXPECT_GT(first->number(), 1u);
    EXPECT_FALSE(first->isMain());
}

TEST(NSThreadTest, DispatchWorkersHaveWrappers) {
    auto done = dispatch_semaphore_create(0);
    Ref<NSThread> seen;
    bool isMain = true;
    dispatch_async(dispatch_get_global_queue(0), [&] {
        seen = NSThread::currentThread();
        isMain = NSThread::isMainThread();
        dispatch_semaphore_signal(done);
    });
    ASSERT_EQ(dispatch_semaphore_wait(done, seconds(5)), 0);
    ASSERT_TRUE(seen);
    EXPECT_FALSE(isMain);
    EXPECT_NE(seen, NSThread::mainThread());
}

TEST(NSThreadTest, ThreadDictionaryBelongsToItsThread) {
    NSThread::currentThread()->threadDictionary().setObject("count", 3);
    Value seenOnOther;
    std::thread([&] {
        auto dictionary = NSThread::currentThread()->threadDictionary();
        seenOnOther = dictionary.objectForKey("count");
        dictionary.setObject("count", 9);
    }).join();
    EXPECT_TRUE(seenOnOther.isNil());
    EXPECT_EQ(NSThread::currentThread()->threadDictionary().objectForKey("count").intValue(), 3);
    NSThread::currentThread()->threadDictionary().removeObjectForKey("count");
}

TEST(NSThreadTest, EachThreadOwnsOneRunLoop) {
    Ref<NSRunLoop> a, b;
    std::thread([&] {
        a = NSRunLoop::currentRunLoop();
        b = NSRunLoop::currentRunLoop();
    }).join();
    EXPECT_EQ(a, b);
    EXPECT_NE(a, NSRunLoop::mainRunLoop());
    EXPECT_EQ(NSRunLoop::currentRunLoop(), NSRunLoop::mainRunLoop());
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->isMain());
    EXPECT_FALSE(a->isMain());
    Ref<NSRunLoop> mainSeenElsewhere;
    std::thread([&] { mainSeenElsewhere = NSRunLoop::mainRunLoop(); }).join();
    EXPECT_EQ(mainSeenElsewhere, NSRunLoop::mainRunLoop());
}

TEST(NSThreadTest, SleepBlocksForRealTime) {
    auto start = std::chrono::steady_clock::now();
    NSThread::sleepForTimeInterval(0.02);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(19));
    NSThread::sleepForTimeInterval(-1);  // nothing
}

}  // namespace
