#include "foundation/NSLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "dispatch/Clock.h"
#include "foundation/NSLog.h"

namespace {

// Collects log lines for the duration of a test.
class LogCapture {
  public:
    LogCapture() {
        previous_ = NSLogSetSink([this](const std::string& line) {
            std::lock_guard<std::mutex> guard(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { NSLogSetSink(previous_); }
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> guard(mutex_);
        return lines_;
    }

  private:
    NSLogSink previous_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Runs `threads` workers that each do `rounds` unguarded read-modify-writes under the lock.
template <class Lock>
long hammer(Lock& lock, int threads, int rounds) {
    long counter = 0;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < rounds; ++i) {
                std::lock_guard<Lock> guard(lock);
                long seen = counter;
                counter = seen + 1;
            }
        });
    }
    for (auto& w : workers) w.join();
    return counter;
}

// ---------------------------------------------------------------------------------------------
TEST(NSLockTest, ExcludesOtherThreads) {
    auto lock = make<NSLock>();
    EXPECT_EQ(hammer(*lock, 8, 2000), 16000);
}

TEST(NSLockTest, TryLockFailsWhileHeldEvenByTheSameThread) {
    auto lock = make<NSLock>();
    EXPECT_TRUE(lock->tryLock());
    EXPECT_FALSE(lock->tryLock());
    bool otherGot = true;
    std::thread([&] { otherGot = lock->tryLock(); }).join();
    EXPECT_FALSE(otherGot);
    lock->unlock();
    EXPECT_TRUE(lock->tryLock());
    lock->unlock();
}

TEST(NSLockTest, UnlockingAFreeLockIsLoggedAndHarmless) {
    LogCapture log;
    auto lock = make<NSLock>();
    lock->setName(std::string("com.example.test.lock"));
    lock->unlock();
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("unlocked when not locked"), std::string::npos);
    EXPECT_NE(lines[0].find("com.example.test.lock"), std::string::npos);
    // Still a working lock.
    EXPECT_TRUE(lock->tryLock());
    EXPECT_FALSE(lock->tryLock());
    lock->unlock();
}

TEST(NSLockTest, NameAndDescription) {
    auto lock = make<NSLock>();
    EXPECT_FALSE(lock->name());
    EXPECT_NE(lock->description().find("name = nil"), std::string::npos);
    lock->setName(std::string("session.lock"));
    EXPECT_EQ(lock->name(), "session.lock");
    EXPECT_NE(lock->description().find("'session.lock'"), std::string::npos);
}

TEST(NSLockTest, LockBeforeAPastDateOnlyTries) {
    auto lock = make<NSLock>();
    EXPECT_TRUE(lock->lockBeforeDate(NSDate::distantPast()));
    EXPECT_FALSE(lock->lockBeforeDate(NSDate::distantPast()));
    lock->unlock();
}

TEST(NSLockTest, LockBeforeDateGetsTheLockWhenReleased) {
    auto lock = make<NSLock>();
    lock->lock();
    std::atomic<bool> got{false};
    std::thread waiter([&] { got = lock->lockBeforeDate(NSDate::distantFuture()); });
    lock->unlock();
    waiter.join();
    EXPECT_TRUE(got);
    EXPECT_FALSE(lock->tryLock());
    lock->unlock();
}

TEST(NSLockTest, LockBeforeDateGivesUpAtTheDate) {
    auto lock = make<NSLock>();
    lock->lock();
    bool got = true;
    std::thread([&] { got = lock->lockBeforeDate(NSDate::dateWithTimeIntervalSinceNow(0.02)); }).join();
    EXPECT_FALSE(got);
    lock->unlock();
}

TEST(NSLockTest, LockBeforeDateMeasuresOnThePlatformClock) {
    // On the manual clock "now" is far ahead of real time: a date that is in the real future but
    // in the platform's past must not be waited for.
    PlatformClock::useManualClock(4'000'000'000.0);
    auto lock = make<NSLock>();
    lock->lock();
    bool got = true;
    auto realSoon = NSDate::dateWithTimeIntervalSince1970(3'999'999'999.0);
    std::thread([&] { got = lock->lockBeforeDate(realSoon); }).join();
    PlatformClock::useRealClock();
    EXPECT_FALSE(got);
    lock->unlock();
}

// ---------------------------------------------------------------------------------------------
TEST(NSRecursiveLockTest, TheHolderMayLockAgain) {
    auto lock = make<NSRecursiveLock>();
    lock->lock();
    lock->lock();
    EXPECT_TRUE(lock->tryLock());
    EXPECT_TRUE(lock->isHeldByCurrentThread());
    EXPECT_TRUE(lock->lockBeforeDate(NSDate::distantPast()));
    bool otherGot = true;
    std::thread([&] { otherGot = lock->tryLock(); }).join();
    EXPECT_FALSE(otherGot);
    for (int i = 0; i < 4; ++i) lock->unlock();
    std::thread([&] {
        otherGot = lock->tryLock();
        if (otherGot) lock->unlock();
    }).join();
    EXPECT_TRUE(otherGot);
    EXPECT_FALSE(lock->isHeldByCurrentThread());
}

TEST(NSRecursiveLockTest, ExcludesOtherThreads) {
    auto lock = make<NSRecursiveLock>();
    EXPECT_EQ(hammer(*lock, 8, 2000), 16000);
}

TEST(NSRecursiveLockTest, UnlockByAnotherThreadIsRefused) {
    LogCapture log;
    auto lock = make<NSRecursiveLock>();
    lock->setName(std::string("com.example.operation.lock"));
    lock->lock();
    std::thread([&] { lock->unlock(); }).join();
    EXPECT_TRUE(lock->isHeldByCurrentThread());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("com.example.operation.lock"), std::string::npos);
    lock->unlock();
    lock->unlock();  // one too many
    EXPECT_EQ(log.lines().size(), 2u);
}

TEST(NSRecursiveLockTest, LockBeforeDateTimesOutAgainstAnotherHolder) {
    auto lock = make<NSRecursiveLock>();
    lock->lock();
    bool got = true;
    std::thread([&] { got = lock->lockBeforeDate(NSDate::dateWithTimeIntervalSinceNow(0.02)); }).join();
    EXPECT_FALSE(got);
    lock->unlock();
}

// ---------------------------------------------------------------------------------------------
TEST(NSConditionTest, ProducerAndConsumer) {
    auto condition = make<NSCondition>();
    std::vector<int> queue;
    std::vector<int> consumed;
    std::thread consumer([&] {
        condition->lock();
        while (consumed.size() < 100) {
            while (queue.empty()) condition->wait();
            consumed.push_back(queue.front());
            queue.erase(queue.begin());
        }
        condition->unlock();
    });
    for (int i = 0; i < 100; ++i) {
        condition->lock();
        queue.push_back(i);
        condition->signal();
        condition->unlock();
    }
    consumer.join();
    ASSERT_EQ(consumed.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(consumed[static_cast<std::size_t>(i)], i);
}

TEST(NSConditionTest, WaitUntilAPastDateReturnsAtOnce) {
    auto condition = make<NSCondition>();
    condition->lock();
    EXPECT_FALSE(condition->waitUntilDate(NSDate::distantPast()));
    // The lock is held again after the wait.
    bool otherGot = true;
    std::thread([&] { otherGot = condition->tryLock(); }).join();
    EXPECT_FALSE(otherGot);
    condition->unlock();
}

TEST(NSConditionTest, BroadcastWakesEveryWaiter) {
    auto condition = make<NSCondition>();
    condition->setName(std::string("gate"));
    EXPECT_EQ(condition->name(), "gate");
    bool open = false;
    int through = 0;
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            condition->lock();
            while (!open) condition->wait();
            ++through;
            condition->unlock();
        });
    }
    condition->lock();
    open = true;
    condition->broadcast();
    condition->unlock();
    for (auto& w : waiters) w.join();
    EXPECT_EQ(through, 4);
}

// ---------------------------------------------------------------------------------------------
TEST(SynchronizedClassTest, OneLockPerClassName) {
    EXPECT_EQ(&classSynchronizedLock("WBSDKStore"), &classSynchronizedLock("WBSDKStore"));
    EXPECT_NE(&classSynchronizedLock("WBSDKStore"), &classSynchronizedLock("TallyConfig"));
}

TEST(SynchronizedClassTest, ExcludesAndReenters) {
    long counter = 0;
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) {
                SynchronizedClass outer("CounterClass");
                SynchronizedClass inner("CounterClass");  // re-entrant, as synchronized is
                long seen = counter;
                counter = seen + 1;
            }
        });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(counter, 8000);
}

}  // namespace
