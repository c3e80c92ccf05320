#pragma once
// The platform's one time source.
//
// Real by default. A process (a test) can switch it to a manual clock that only moves when
// advanced; everything that waits on platform time (timers, delayed performs, dispatch_after,
// animations, HUD time-outs, "now") reads this clock, so advancing it makes due work fire, in
// order. Blocking waits on worker threads (semaphores, network time-outs) stay on real time.
//
// Guarantees: listeners are called synchronously by the thread that changes manual time, after
// the change is visible; once removeListener() returns, that listener is never called again (so
// an object may remove its listener in its destructor).

#include <cstdint>
#include <functional>

class PlatformClock {
  public:
    // Seconds since 1970-01-01 00:00:00 UTC.
    static double now();
    // Monotonic seconds for measuring spans; follows the manual clock when it is on.
    static double monotonic();
    // The same monotonic reading in whole nanoseconds (exact on the manual clock, where a double
    // of seconds since 1970 would round to a few hundred nanoseconds).
    static std::int64_t monotonicNanoseconds();

    static bool isManual();
    // Switches to the manual clock, starting at the given time (seconds since 1970).
    static void useManualClock(double startSince1970 = 1'700'000'000.0);
    // Back to real time.
    static void useRealClock();
    // Moves the manual clock forward. Waiters are told so they can fire what became due.
    static void advance(double seconds);

    // Called (on the advancing thread) after every change of manual time and every switch of
    // clock; run loops and the dispatch timer wheel register here to wake up. Returns a token for
    // removal. A listener must not block: it wakes, it does not wait.
    using Listener = std::function<void()>;
    static std::uint64_t addListener(Listener listener);
    static void removeListener(std::uint64_t token);
};
