#include "foundation/NSTimer.h"

#include <cmath>

#include "dispatch/Clock.h"
#include "foundation/NSRunLoop.h"

namespace {

// A repeating timer with no positive interval would spin; the platform uses a tenth of a
// millisecond instead.
double sanitizedInterval(double interval) {
    return interval > 0 ? interval : 0.0001;
}

}  // namespace

NSTimer::NSTimer(NSDate fireDate, double interval, Weak<NSObject> target, Action action, Value userInfo,
                 bool repeats)
    : interval_(sanitizedInterval(interval)),
      repeats_(repeats),
      hasTarget_(true),
      fireDate_(fireDate.timeIntervalSince1970()),
      target_(std::move(target)),
      action_(std::move(action)),
      userInfo_(std::move(userInfo)) {}

NSTimer::NSTimer(NSDate fireDate, double interval, bool repeats, Action block)
    : interval_(sanitizedInterval(interval)),
      repeats_(repeats),
      hasTarget_(false),
      fireDate_(fireDate.timeIntervalSince1970()),
      action_(std::move(block)) {}

Ref<NSTimer> NSTimer::timerWithTimeInterval(double interval, const Ref<NSObject>& target, Action action,
                                            Value userInfo, bool repeats) {
    return make<NSTimer>(NSDate::dateWithTimeIntervalSinceNow(std::max(0.0, interval)), interval,
                         Weak<NSObject>(target), std::move(action), std::move(userInfo), repeats);
}

Ref<NSTimer> NSTimer::timerWithTimeInterval(double interval, bool repeats, Action block) {
    return make<NSTimer>(NSDate::dateWithTimeIntervalSinceNow(std::max(0.0, interval)), interval, repeats,
                         std::move(block));
}

Ref<NSTimer> NSTimer::scheduledTimerWithTimeInterval(double interval, const Ref<NSObject>& target,
                                                     Action action, Value userInfo, bool repeats) {
    auto timer = timerWithTimeInterval(interval, target, std::move(action), std::move(userInfo), repeats);
    NSRunLoop::currentRunLoop()->addTimer(timer, NSDefaultRunLoopMode);
    return timer;
}

Ref<NSTimer> NSTimer::scheduledTimerWithTimeInterval(double interval, bool repeats, Action block) {
    auto timer = timerWithTimeInterval(interval, repeats, std::move(block));
    NSRunLoop::currentRunLoop()->addTimer(timer, NSDefaultRunLoopMode);
    return timer;
}

bool NSTimer::isValid() const {
    std::lock_guard lock(mutex_);
    return valid_;
}

NSDate NSTimer::fireDate() const {
    std::lock_guard lock(mutex_);
    return NSDate::dateWithTimeIntervalSince1970(fireDate_);
}

void NSTimer::setFireDate(NSDate date) {
    std::vector<Weak<NSRunLoop>> loops;
    {
        std::lock_guard lock(mutex_);
        if (!valid_) return;
        fireDate_ = date.timeIntervalSince1970();
        loops = runLoops_;
    }
    for (auto& weak : loops) {
        if (auto loop = weak.lock()) loop->timerChanged(this, false);
    }
}

double NSTimer::tolerance() const {
    std::lock_guard lock(mutex_);
    return tolerance_;
}

void NSTimer::setTolerance(double tolerance) {
    std::lock_guard lock(mutex_);
    tolerance_ = tolerance > 0 ? tolerance : 0;
}

Value NSTimer::userInfo() const {
    std::lock_guard lock(mutex_);
    return userInfo_;
}

void NSTimer::addedToRunLoop(const Ref<NSRunLoop>& runLoop) {
    std::lock_guard lock(mutex_);
    for (auto& weak : runLoops_) {
        if (weak.lock() == runLoop) return;
    }
    runLoops_.push_back(runLoop);
}

void NSTimer::invalidate() {
    std::vector<Weak<NSRunLoop>> loops;
    Action action;
    Value userInfo;
    {
        std::lock_guard lock(mutex_);
        if (!valid_) return;
        valid_ = false;
        loops.swap(runLoops_);
        // What the timer held goes now, outside the lock (its destructor may call back).
        action = std::move(action_);
        action_ = nullptr;
        target_.reset();
    }
    for (auto& weak : loops) {
        if (auto loop = weak.lock()) loop->timerChanged(this, true);
    }
}

void NSTimer::callout() {
    Action action;
    Ref<NSObject> target;
    {
        std::lock_guard lock(mutex_);
        if (!valid_) return;
        action = action_;
        if (hasTarget_) {
            target = target_.lock();
            if (!target) action = nullptr;
        }
    }
    if (hasTarget_ && !target) {
        invalidate();  // the target went: the timer goes with it
        return;
    }
    auto self = selfAs<NSTimer>();
    if (action) action(self);
}

void NSTimer::fire() {
    auto keep = selfAs<NSTimer>();
    callout();
    if (!repeats_) invalidate();
}

bool NSTimer::fireIfDue(double now) {
    auto keep = selfAs<NSTimer>();
    {
        std::lock_guard lock(mutex_);
        if (!valid_ || fireDate_ > now) return false;
        if (repeats_) {
            // The next beat after now, counted from the previous fire date.
            double next = fireDate_ + interval_;
            if (next <= now) next += std::floor((now - next) / interval_ + 1) * interval_;
            while (next <= now) next += interval_;  // rounding
            fireDate_ = next;
        }
    }
    callout();
    if (!repeats_) invalidate();
    return true;
}
