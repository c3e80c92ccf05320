#pragma once
// Small helpers for the dispatch tests: a manual-clock scope and main-queue pumping that does not
// need a run loop (the dispatch library sits below it).

#include <poll.h>

#include <chrono>
#include <functional>

#include "dispatch/Clock.h"
#include "dispatch/Dispatch.h"

namespace dispatchtest {

class ManualClockScope {
  public:
    explicit ManualClockScope(double start = 1'700'000'000.0) { PlatformClock::useManualClock(start); }
    ~ManualClockScope() { PlatformClock::useRealClock(); }
    ManualClockScope(const ManualClockScope&) = delete;
    ManualClockScope& operator=(const ManualClockScope&) = delete;
};

inline bool mainHandleReadable() {
    pollfd fd{dispatch_main_queue_handle(), POLLIN, 0};
    return ::poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN);
}

// Drains the main queue until condition() holds or the real-time limit passes.
inline bool drainMainUntil(const std::function<bool()>& condition, double seconds = 5) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        pollfd fd{dispatch_main_queue_handle(), POLLIN, 0};
        ::poll(&fd, 1, 5);
        dispatch_main_queue_drain();
    }
    return true;
}

inline void drainAll() {
    while (dispatch_main_queue_drain() > 0) {
    }
}

inline dispatch_time_t after(double seconds) {
    return dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(seconds * NSEC_PER_SEC));
}

}  // namespace dispatchtest
