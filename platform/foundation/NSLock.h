#pragma once
// Locks: a plain lock, a recursive lock and a condition, each optionally named, plus the
// class-level form of `synchronized` (the object-level one is NSObject's Synchronized).
//
// Guarantees:
// - lock()/unlock() make every lock a BasicLockable, so std::lock_guard and std::unique_lock
//   work with them.
// - Misuse is logged, never undefined: unlocking a lock that is not held, or (for the recursive
//   lock) held by another thread, writes a log line and changes nothing, as the device does.
// - lockBeforeDate waits until a platform date: the distance to the date is measured on the
//   platform clock (manual in tests), the wait itself is real time, as every blocking wait of a
//   worker thread is. A date in the past only tries the lock.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "foundation/NSDate.h"
#include "foundation/NSObject.h"

// The locking protocol.
class NSLocking {
  public:
    virtual ~NSLocking() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

class NSLock : public NSObject, public NSLocking {
  public:
    NSLock() = default;
    void lock() override;
    void unlock() override;
    bool tryLock();
    bool lockBeforeDate(const NSDate& limit);

    std::optional<std::string> name() const;
    void setName(std::optional<std::string> name);

    std::string className() const override { return "NSLock"; }
    std::string description() const override;

  private:
    mutable std::mutex state_;
    std::condition_variable released_;
    bool locked_ = false;
    std::optional<std::string> name_;
};

// A lock the holding thread may take again; it is free once unlocked as often as locked.
class NSRecursiveLock : public NSObject, public NSLocking {
  public:
    NSRecursiveLock() = default;
    void lock() override;
    void unlock() override;
    bool tryLock();
    bool lockBeforeDate(const NSDate& limit);

    std::optional<std::string> name() const;
    void setName(std::optional<std::string> name);
    // Whether the calling thread holds the lock (for assertions).
    bool isHeldByCurrentThread() const;

    std::string className() const override { return "NSRecursiveLock"; }
    std::string description() const override;

  private:
    mutable std::mutex state_;
    std::condition_variable released_;
    std::thread::id owner_;
    std::size_t depth_ = 0;
    std::optional<std::string> name_;
};

// A lock with a condition: wait() releases the lock while waiting and holds it again on return.
// Waits may wake without a signal, so callers test their predicate in a loop.
class NSCondition : public NSObject, public NSLocking {
  public:
    NSCondition() = default;
    void lock() override;
    void unlock() override;
    bool tryLock();
    // Both must be called with the lock held.
    void wait();
    // False when the date passed without a wake-up.
    bool waitUntilDate(const NSDate& limit);
    void signal();
    void broadcast();

    std::optional<std::string> name() const;
    void setName(std::optional<std::string> name);

    std::string className() const override { return "NSCondition"; }

  private:
    std::mutex mutex_;
    std::condition_variable condition_;
    mutable std::mutex nameLock_;
    std::optional<std::string> name_;
};

// `synchronized` on a class: one recursive lock per class name, for the lifetime of the process.
std::recursive_mutex& classSynchronizedLock(const std::string& className);

class SynchronizedClass {
  public:
    explicit SynchronizedClass(const std::string& className) : lock_(classSynchronizedLock(className)) {}

  private:
    std::lock_guard<std::recursive_mutex> lock_;
};
