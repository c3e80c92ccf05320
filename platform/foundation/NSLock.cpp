#include "foundation/NSLock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <unordered_map>

#include "foundation/NSLog.h"

namespace {

using Clock = std::chrono::steady_clock;

// The real-time deadline that corresponds to a platform date.
Clock::time_point deadlineFor(const NSDate& limit) {
    double seconds = limit.timeIntervalSinceNow();
    if (!(seconds > 0)) return Clock::now();
    // Far dates (distantFuture) are clamped so that the arithmetic cannot overflow.
    seconds = std::min(seconds, 1e9);
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::string lockDescription(const char* kind, const void* self, const std::optional<std::string>& name) {
    char address[32];
    std::snprintf(address, sizeof address, "%p", self);
    return std::string("<") + kind + ": " + address + ">{name = " + (name ? "'" + *name + "'" : "nil") + "}";
}

void logMisuse(const std::string& what, const std::string& description) {
    NSLogLine("*** " + what + ": lock (" + description + ") unlocked when not locked");
}

}  // namespace

// ---------------------------------------------------------------------------------------------
void NSLock::lock() {
    std::unique_lock<std::mutex> guard(state_);
    released_.wait(guard, [this] { return !locked_; });
    locked_ = true;
}

void NSLock::unlock() {
    bool wasLocked;
    {
        std::lock_guard<std::mutex> guard(state_);
        wasLocked = locked_;
        if (locked_) {
            locked_ = false;
            released_.notify_one();
        }
    }
    // Logged outside the state lock: description() takes it.
    if (!wasLocked) logMisuse("-[NSLock unlock]", description());
}

bool NSLock::tryLock() {
    std::lock_guard<std::mutex> guard(state_);
    if (locked_) return false;
    locked_ = true;
    return true;
}

bool NSLock::lockBeforeDate(const NSDate& limit) {
    auto deadline = deadlineFor(limit);
    std::unique_lock<std::mutex> guard(state_);
    if (!released_.wait_until(guard, deadline, [this] { return !locked_; })) return false;
    locked_ = true;
    return true;
}

std::optional<std::string> NSLock::name() const {
    std::lock_guard<std::mutex> guard(state_);
    return name_;
}

void NSLock::setName(std::optional<std::string> name) {
    std::lock_guard<std::mutex> guard(state_);
    name_ = std::move(name);
}

std::string NSLock::description() const {
    return lockDescription("NSLock", this, name());
}

// ---------------------------------------------------------------------------------------------
void NSRecursiveLock::lock() {
    auto me = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(state_);
    if (depth_ > 0 && owner_ == me) {
        ++depth_;
        return;
    }
    released_.wait(guard, [this] { return depth_ == 0; });
    owner_ = me;
    depth_ = 1;
}

void NSRecursiveLock::unlock() {
    {
        std::lock_guard<std::mutex> guard(state_);
        if (depth_ > 0 && owner_ == std::this_thread::get_id()) {
            if (--depth_ == 0) {
                owner_ = std::thread::id();
                released_.notify_one();
            }
            return;
        }
    }
    logMisuse("-[NSRecursiveLock unlock]", description());
}

bool NSRecursiveLock::tryLock() {
    auto me = std::this_thread::get_id();
    std::lock_guard<std::mutex> guard(state_);
    if (depth_ > 0 && owner_ != me) return false;
    owner_ = me;
    ++depth_;
    return true;
}

bool NSRecursiveLock::lockBeforeDate(const NSDate& limit) {
    auto me = std::this_thread::get_id();
    auto deadline = deadlineFor(limit);
    std::unique_lock<std::mutex> guard(state_);
    if (depth_ > 0 && owner_ == me) {
        ++depth_;
        return true;
    }
    if (!released_.wait_until(guard, deadline, [this] { return depth_ == 0; })) return false;
    owner_ = me;
    depth_ = 1;
    return true;
}

bool NSRecursiveLock::isHeldByCurrentThread() const {
    std::lock_guard<std::mutex> guard(state_);
    return depth_ > 0 && owner_ == std::this_thread::get_id();
}

std::optional<std::string> NSRecursiveLock::name() const {
    std::lock_guard<std::mutex> guard(state_);
    return name_;
}

void NSRecursiveLock::setName(std::optional<std::string> name) {
    std::lock_guard<std::mutex> guard(state_);
    name_ = std::move(name);
}

std::string NSRecursiveLock::description() const {
    return lockDescription("NSRecursiveLock", this, name());
}

// ---------------------------------------------------------------------------------------------
void NSCondition::lock() {
    mutex_.lock();
}

void NSCondition::unlock() {
    mutex_.unlock();
}

bool NSCondition::tryLock() {
    return mutex_.try_lock();
}

void NSCondition::wait() {
    std::unique_lock<std::mutex> held(mutex_, std::adopt_lock);
    condition_.wait(held);
    held.release();
}

bool NSCondition::waitUntilDate(const NSDate& limit) {
    auto deadline = deadlineFor(limit);
    std::unique_lock<std::mutex> held(mutex_, std::adopt_lock);
    bool woken = condition_.wait_until(held, deadline) == std::cv_status::no_timeout;
    held.release();
    return woken;
}

void NSCondition::signal() {
    condition_.notify_one();
}

void NSCondition::broadcast() {
    condition_.notify_all();
}

std::optional<std::string> NSCondition::name() const {
    std::lock_guard<std::mutex> guard(nameLock_);
    return name_;
}

void NSCondition::setName(std::optional<std::string> name) {
    std::lock_guard<std::mutex> guard(nameLock_);
    name_ = std::move(name);
}

// ---------------------------------------------------------------------------------------------
std::recursive_mutex& classSynchronizedLock(const std::string& className) {
    // Never destroyed: class locks may be taken from destructors of other statics.
    static auto* tableLock = new std::mutex();
    static auto* table = new std::unordered_map<std::string, std::unique_ptr<std::recursive_mutex>>();
    std::lock_guard<std::mutex> guard(*tableLock);
    auto& slot = (*table)[className];
    if (!slot) slot = std::make_unique<std::recursive_mutex>();
    return *slot;
}
