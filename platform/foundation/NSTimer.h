#pragma once
// Timers: fire once or repeatedly on a run loop, on the platform clock.
//
// A timer fires only while it is in a run loop that runs in one of its modes. The run loop holds
// it until it is invalidated; invalidate() (from any thread) takes it out of every loop. The
// target is held weakly: a timer whose target has gone is never called and invalidates itself.
// A repeating timer's next fire date follows the previous fire date, skipping beats that were
// missed (a late loop fires once, not in a burst). A non-repeating timer is invalidated after it
// fires. Tolerance is kept but not used.
//
// Target and action:
//   NSTimer::scheduledTimerWithTimeInterval(2.0, self, &Carousel::nextImage, Value(), true);
// where nextImage is `void nextImage(const Ref<NSTimer>&)` or `void nextImage()`; or any
// std::function<void(const Ref<NSTimer>&)> with a Weak target; or a block without a target.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/NSDate.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class NSRunLoop;

class NSTimer : public NSObject {
  public:
    using Action = std::function<void(const Ref<NSTimer>& timer)>;

    // initWithFireDate:interval:target:selector:userInfo:repeats: — the action is called only
    // while the target lives.
    NSTimer(NSDate fireDate, double interval, Weak<NSObject> target, Action action, Value userInfo,
            bool repeats);
    // initWithFireDate:interval:repeats:block:
    NSTimer(NSDate fireDate, double interval, bool repeats, Action block);
    std::string className() const override { return "NSTimer"; }

    // Not yet in a run loop: add it with NSRunLoop::addTimer().
    static Ref<NSTimer> timerWithTimeInterval(double interval, const Ref<NSObject>& target, Action action,
                                              Value userInfo, bool repeats);
    static Ref<NSTimer> timerWithTimeInterval(double interval, bool repeats, Action block);
    // Also added to the current run loop in the default mode.
    static Ref<NSTimer> scheduledTimerWithTimeInterval(double interval, const Ref<NSObject>& target,
                                                       Action action, Value userInfo, bool repeats);
    static Ref<NSTimer> scheduledTimerWithTimeInterval(double interval, bool repeats, Action block);

    // Target plus member function, the closest thing to target and selector.
    template <class T>
    static Ref<NSTimer> timerWithTimeInterval(double interval, const Ref<T>& target,
                                              void (T::*selector)(const Ref<NSTimer>&), Value userInfo,
                                              bool repeats) {
        return timerWithTimeInterval(interval, Ref<NSObject>(target), memberAction(target, selector),
                                     std::move(userInfo), repeats);
    }
    template <class T>
    static Ref<NSTimer> timerWithTimeInterval(double interval, const Ref<T>& target, void (T::*selector)(),
                                              Value userInfo, bool repeats) {
        return timerWithTimeInterval(interval, Ref<NSObject>(target), memberAction(target, selector),
                                     std::move(userInfo), repeats);
    }
    template <class T>
    static Ref<NSTimer> scheduledTimerWithTimeInterval(double interval, const Ref<T>& target,
                                                       void (T::*selector)(const Ref<NSTimer>&),
                                                       Value userInfo, bool repeats) {
        return scheduledTimerWithTimeInterval(interval, Ref<NSObject>(target), memberAction(target, selector),
                                              std::move(userInfo), repeats);
    }
    template <class T>
    static Ref<NSTimer> scheduledTimerWithTimeInterval(double interval, const Ref<T>& target,
                                                       void (T::*selector)(), Value userInfo, bool repeats) {
        return scheduledTimerWithTimeInterval(interval, Ref<NSObject>(target), memberAction(target, selector),
                                              std::move(userInfo), repeats);
    }

    // Calls the action now, whatever the fire date; a non-repeating timer is then invalidated. A
    // repeating timer keeps its schedule.
    void fire();
    void invalidate();
    bool isValid() const;

    NSDate fireDate() const;
    // Moves the next fire; the loops holding the timer look again.
    void setFireDate(NSDate date);
    double timeInterval() const { return repeats_ ? interval_ : 0.0; }
    bool repeats() const { return repeats_; }
    double tolerance() const;
    void setTolerance(double tolerance);
    Value userInfo() const;

    // Internal, for NSRunLoop.
    void addedToRunLoop(const Ref<NSRunLoop>& runLoop);
    // Fires if still valid and due at `now` (platform seconds since 1970); true when it fired.
    bool fireIfDue(double now);

  private:
    template <class T, class M>
    static Action memberAction(const Ref<T>& target, M selector) {
        Weak<T> weak = target;
        return [weak, selector](const Ref<NSTimer>& timer) {
            if (auto strong = weak.lock()) {
                if constexpr (std::is_invocable_v<M, T&, const Ref<NSTimer>&>) {
                    ((*strong).*selector)(timer);
                } else {
                    ((*strong).*selector)();
                }
            }
        };
    }
    void callout();

    const double interval_;
    const bool repeats_;
    const bool hasTarget_;
    mutable std::mutex mutex_;  // guards what follows
    double fireDate_;
    double tolerance_ = 0;
    Weak<NSObject> target_;
    Action action_;
    Value userInfo_;
    bool valid_ = true;
    std::vector<Weak<NSRunLoop>> runLoops_;
};
