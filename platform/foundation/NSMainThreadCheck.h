#pragma once
// Checks that a main-thread object is used from the main thread (the process's first thread).
// Which calls check, one rule for each class whose header says "main thread only" and for the
// view, controller, gesture and application classes of the UI platform (free functions of the
// categories on them too): every public, non-const function written out of line that changes
// state or starts work (hierarchy, geometry, appearance, layout, display, rendering, presentation,
// lifecycle, touch, gesture and event delivery, loads, cancels). Left unchecked: const members and
// getters, one-line accessors written in the header, constructors, destructors and didInit,
// protected and private helpers (their public callers check), hooks the platform calls from a
// checked path (layoutSubviews, drawRect, viewDidLoad, willMoveToSuperview, delegate and data
// source methods...), static factories, and what a header says any thread may call (properties
// kept under a lock, URL records, background tasks, a method that hops to the main thread itself).
// Static entry points that act on views (animations, the test drivers' touches) check too.
// Shared base paths (UIView::addSubview, setNeedsLayout, layoutIfNeeded...) check once for every
// subclass.
//
// A failing check logs the function and place. In release builds the call is then abandoned (the
// action runs: `return`, `return {}`...); in debug builds and where APP_THREAD_CHECKS_ABORT is
// defined (the sanitizer presets) it aborts, so a wrong-thread caller is found where it calls.
// A passing check costs one call and one thread_local read.

#include "dispatch/Dispatch.h"

namespace detail {
// Logs the failed check; aborts in debug builds and with APP_THREAD_CHECKS_ABORT.
void mainThreadCheckFailed(const char* function, const char* file, int line);
}  // namespace detail

// Whether a failing check aborts in this build (rather than log and abandon the call).
bool NSMainThreadChecksAbort();

// NS_ASSERT_MAIN_THREAD_OR(action): off the main thread, log (and abort where checks abort),
// then run `action` (typically `return` or `return {}`).
#define NS_ASSERT_MAIN_THREAD_OR(action)                                                                     \
    do {                                                                                                     \
        if (!dispatch_is_main_thread()) [[unlikely]] {                                                       \
            ::detail::mainThreadCheckFailed(__func__, __FILE__, __LINE__);                                   \
            action;                                                                                          \
        }                                                                                                    \
    } while (0)

// For functions that return nothing: off the main thread the call is abandoned.
#define NS_ASSERT_MAIN_THREAD() NS_ASSERT_MAIN_THREAD_OR(return )
