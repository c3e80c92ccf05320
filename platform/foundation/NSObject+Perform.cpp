#include "foundation/NSObject+Perform.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "dispatch/DispatchBlocking.h"
#include "foundation/NSThread.h"
#include "foundation/NSTimer.h"

namespace {

// The delayed performs of one run loop, kept on the loop as an associated object. Touched only
// by the loop's own thread (performs are made, fired and cancelled there).
class DelayedPerforms : public NSObject {
  public:
    struct Request {
        const NSObject* target;
        std::string selector;
        Value argument;
        Ref<NSTimer> timer;
    };
    std::vector<Request> requests;

    void remove(const NSTimer* timer) {
        std::erase_if(requests, [&](const Request& r) { return r.timer.get() == timer; });
    }
};

const char kDelayedPerformsKey = 0;

Ref<DelayedPerforms> delayedPerforms(const Ref<NSRunLoop>& loop, bool create) {
    auto existing = loop->associatedObject(&kDelayedPerformsKey).objectAs<DelayedPerforms>();
    if (existing || !create) return existing;
    auto fresh = make<DelayedPerforms>();
    loop->setAssociatedObject(&kDelayedPerformsKey, Value(fresh));
    return fresh;
}

void cancelMatching(const std::function<bool(const DelayedPerforms::Request&)>& matches) {
    auto registry = delayedPerforms(NSRunLoop::currentRunLoop(), false);
    if (!registry) return;
    std::vector<Ref<NSTimer>> cancelled;
    for (auto it = registry->requests.begin(); it != registry->requests.end();) {
        if (matches(*it)) {
            cancelled.push_back(it->timer);
            it = registry->requests.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& timer : cancelled) timer->invalidate();
}

// Runs action if the target still lives.
PerformAction guarded(const Ref<NSObject>& target, PerformAction action) {
    Weak<NSObject> weak = target;
    return [weak, action = std::move(action)] {
        auto strong = weak.lock();
        if (strong && action) action();
    };
}

void performOn(const Ref<NSRunLoop>& loop, bool targetIsCurrentThread, const Ref<NSObject>& target,
               PerformAction action, bool waitUntilDone, const std::vector<std::string>& modes) {
    if (!target || !loop) return;
    auto run = guarded(target, std::move(action));
    if (waitUntilDone && targetIsCurrentThread) {
        run();
        return;
    }
    if (!waitUntilDone) {
        loop->performInModes(modes, std::move(run));
        return;
    }
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    loop->performInModes(modes, [done, run = std::move(run)] {
        run();
        std::lock_guard lock(done->mutex);
        done->done = true;
        done->cv.notify_all();
    });
    DispatchBlockingScope blocking;
    std::unique_lock lock(done->mutex);
    done->cv.wait(lock, [&] { return done->done; });
}

}  // namespace

void performSelectorAfterDelay(const Ref<NSObject>& target, const std::string& selector,
                               const Value& argument, PerformAction action, double delay,
                               const std::vector<std::string>& modes) {
    if (!target) return;
    auto loop = NSRunLoop::currentRunLoop();
    auto registry = delayedPerforms(loop, true);
    Weak<DelayedPerforms> weakRegistry = registry;
    auto run = guarded(target, std::move(action));
    auto timer = NSTimer::timerWithTimeInterval(
        std::max(0.0, delay), false, [weakRegistry, run = std::move(run)](const Ref<NSTimer>& timer) {
            // Forget the request first: the action may
            // schedule or cancel others.
            if (auto registry = weakRegistry.lock()) {
                registry->remove(timer.get());
            }
            run();
        });
    registry->requests.push_back(DelayedPerforms::Request{target.get(), selector, argument, timer});
    for (auto& mode : modes) loop->addTimer(timer, mode);
}

void cancelPreviousPerformRequestsWithTarget(const NSObject* target) {
    if (!target) return;
    cancelMatching([&](const DelayedPerforms::Request& r) { return r.target == target; });
}

void cancelPreviousPerformRequestsWithTarget(const NSObject* target, const std::string& selector,
                                             const Value& argument) {
    if (!target) return;
    cancelMatching([&](const DelayedPerforms::Request& r) {
        return r.target == target && r.selector == selector && r.argument.isEqual(argument);
    });
}

void performSelectorOnMainThread(const Ref<NSObject>& target, PerformAction action, bool waitUntilDone,
                                 const std::vector<std::string>& modes) {
    performOn(NSRunLoop::mainRunLoop(), NSThread::isMainThread(), target, std::move(action), waitUntilDone,
              modes);
}

void performSelectorOnThread(const Ref<NSObject>& target, const Ref<NSThread>& thread, PerformAction action,
                             bool waitUntilDone, const std::vector<std::string>& modes) {
    if (!thread) return;
    bool current = thread == NSThread::currentThread();
    performOn(thread->runLoop(), current, target, std::move(action), waitUntilDone, modes);
}
