#include "network/NSURLSessionProgress.h"

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSString.h"

std::string NSProgress::description() const {
    std::lock_guard lock(mutex_);
    return NSString::stringWithFormat(
        "<NSProgress: %p> Fraction completed: %.4f / Completed: %lld of %lld", static_cast<const void*>(this),
        total_ > 0 ? static_cast<double>(completed_) / static_cast<double>(total_) : 0.0,
        static_cast<long long>(completed_), static_cast<long long>(total_));
}

std::int64_t NSProgress::totalUnitCount() const {
    std::lock_guard lock(mutex_);
    return total_;
}

std::int64_t NSProgress::completedUnitCount() const {
    std::lock_guard lock(mutex_);
    return completed_;
}

void NSProgress::changeCount(const char* key, std::int64_t NSProgress::*field, std::int64_t value) {
    KVO::willChangeValueForKey(*this, key);
    KVO::willChangeValueForKey(*this, "fractionCompleted");
    {
        std::lock_guard lock(mutex_);
        this->*field = value;
    }
    KVO::didChangeValueForKey(*this, "fractionCompleted");
    KVO::didChangeValueForKey(*this, key);
}

void NSProgress::setTotalUnitCount(std::int64_t count) {
    changeCount("totalUnitCount", &NSProgress::total_, count);
}

void NSProgress::setCompletedUnitCount(std::int64_t count) {
    changeCount("completedUnitCount", &NSProgress::completed_, count);
}

double NSProgress::fractionCompleted() const {
    std::lock_guard lock(mutex_);
    if (total_ <= 0) return 0;
    return static_cast<double>(completed_) / static_cast<double>(total_);
}

bool NSProgress::isCancellable() const {
    std::lock_guard lock(mutex_);
    return cancellable_;
}

void NSProgress::setCancellable(bool value) {
    std::lock_guard lock(mutex_);
    cancellable_ = value;
}

bool NSProgress::isPausable() const {
    std::lock_guard lock(mutex_);
    return pausable_;
}

void NSProgress::setPausable(bool value) {
    std::lock_guard lock(mutex_);
    pausable_ = value;
}

bool NSProgress::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool NSProgress::isPaused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}

void NSProgress::setCancellationHandler(std::function<void()> handler) {
    bool runNow;
    {
        std::lock_guard lock(mutex_);
        cancellationHandler_ = handler;
        runNow = cancelled_;
    }
    if (runNow && handler) handler();
}

void NSProgress::setPausingHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    pausingHandler_ = std::move(handler);
}

void NSProgress::cancel() {
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) return;
        cancelled_ = true;
        handler = cancellationHandler_;
    }
    if (handler) handler();
}

void NSProgress::pause() {
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        if (paused_) return;
        paused_ = true;
        handler = pausingHandler_;
    }
    if (handler) handler();
}

Value NSProgress::valueForKey(const std::string& key) const {
    if (key == "totalUnitCount") return NSNumber::numberWithLongLong(totalUnitCount());
    if (key == "completedUnitCount") return NSNumber::numberWithLongLong(completedUnitCount());
    if (key == "fractionCompleted") return NSNumber::numberWithDouble(fractionCompleted());
    if (key == "cancelled") return NSNumber::numberWithBool(isCancelled());
    if (key == "paused") return NSNumber::numberWithBool(isPaused());
    return NSObject::valueForKey(key);
}
