#pragma once
// Performs: running an object's method later, on a run loop.
//
// - Delayed performs run on the CURRENT thread's run loop after a delay on the platform clock, in
//   the given modes (the default mode unless told otherwise). They are remembered per run loop by
//   (target, selector name, argument) so that they can be cancelled before they run.
// - Thread performs queue the action on another thread's run loop (the main one, or any
//   NSThread's), in the given modes (the common modes unless told otherwise), FIFO. With
//   waitUntilDone the caller blocks until the action has run; called on the target thread itself
//   the action runs at once, inline.
//
// The target is held weakly throughout: an action whose target has gone by the time it would run
// is skipped. A null target does nothing. The "selector" of a delayed perform is only a name for
// cancellation; the action is what runs, e.g.
//
//   performSelectorAfterDelay(self, "hideDelayed:", Value(animated), [weak] { ... }, 1.5);
//   cancelPreviousPerformRequestsWithTarget(this, "hideDelayed:", Value(animated));

#include <functional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/NSRunLoop.h"
#include "foundation/Value.h"

class NSThread;

using PerformAction = std::function<void()>;

// performSelector:withObject:afterDelay:inModes:. A delay of 0 runs on the next pass of the loop.
void performSelectorAfterDelay(const Ref<NSObject>& target, const std::string& selector,
                               const Value& argument, PerformAction action, double delay,
                               const std::vector<std::string>& modes = {NSDefaultRunLoopMode});

// cancelPreviousPerformRequestsWithTarget: — every delayed perform of the target on the current
// thread's run loop.
void cancelPreviousPerformRequestsWithTarget(const NSObject* target);
// cancelPreviousPerformRequestsWithTarget:selector:object: — those whose selector name matches and
// whose argument is equal (isEqual; nil matches nil).
void cancelPreviousPerformRequestsWithTarget(const NSObject* target, const std::string& selector,
                                             const Value& argument);
template <class T>
void cancelPreviousPerformRequestsWithTarget(const Ref<T>& target) {
    cancelPreviousPerformRequestsWithTarget(static_cast<const NSObject*>(target.get()));
}
template <class T>
void cancelPreviousPerformRequestsWithTarget(const Ref<T>& target, const std::string& selector,
                                             const Value& argument) {
    cancelPreviousPerformRequestsWithTarget(static_cast<const NSObject*>(target.get()), selector, argument);
}

// performSelectorOnMainThread:withObject:waitUntilDone:modes:
void performSelectorOnMainThread(const Ref<NSObject>& target, PerformAction action, bool waitUntilDone,
                                 const std::vector<std::string>& modes = {NSRunLoopCommonModes});

// performSelector:onThread:withObject:waitUntilDone:modes:. Waiting for a thread whose run loop
// never runs in one of the modes never returns, as on the platform.
void performSelectorOnThread(const Ref<NSObject>& target, const Ref<NSThread>& thread, PerformAction action,
                             bool waitUntilDone,
                             const std::vector<std::string>& modes = {NSRunLoopCommonModes});
