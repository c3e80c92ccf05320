#pragma once
// Spin-then-block support for the threads that hand work to one another (run loops, the worker
// pools, the transport thread).
//
// Waking a sleeping thread costs tens of microseconds on a busy machine, while the next piece of
// work in a quick exchange often arrives within a few. A waiter therefore looks for work for a
// short while before it sleeps. How long adapts to what it has seen: the budget follows the gaps
// between recent pieces of work that came soon enough to be caught, and shrinks towards a floor
// when work keeps arriving after the waiter has gone to sleep, so that an idle or slow thread does
// not burn a processor other threads could use.
//
// Not thread safe: one waiter owns one AdaptiveSpin.

#include <sched.h>

#include <chrono>
#include <cstdint>

namespace detail {

inline void spinPause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

inline std::int64_t spinClockNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class AdaptiveSpin {
  public:
    // The budget stays within [floorNanos, ceilingNanos].
    constexpr AdaptiveSpin(std::int64_t floorNanos, std::int64_t ceilingNanos, std::int64_t startNanos)
        : floor_(floorNanos), ceiling_(ceilingNanos), budget_(startNanos) {}

    std::int64_t budget() const { return budget_; }

    // Looks for work with `ready` (cheap, no system call) until it answers true or the budget,
    // capped at maxNanos, is spent. `slowCheck`, called about once a microsecond, may look with
    // a system call (a zero-time poll) and answers true when work is there too. Returns whether
    // work was found. The caller then calls finished() with the wait's start once work arrived,
    // whether found here or after sleeping.
    template <class Ready, class SlowCheck>
    bool spin(std::int64_t start, std::int64_t maxNanos, Ready&& ready, SlowCheck&& slowCheck) {
        std::int64_t limit = budget_ < maxNanos ? budget_ : maxNanos;
        if (limit <= 0) return ready();
        bool yielding = false;
        for (unsigned i = 1;; ++i) {
            if (ready()) return true;
            if (yielding) {
                // Past the first microseconds, give the processor to any other runnable thread
                // between looks: on a busy machine the thread we wait for may need it.
                sched_yield();
            } else {
                spinPause();
            }
            if (yielding || (i & 63) == 0) {
                if (slowCheck()) return true;
                std::int64_t spent = spinClockNanos() - start;
                if (spent >= limit) return false;
                yielding = spent >= kPureSpinNanos;
            }
        }
    }
    template <class Ready>
    bool spin(std::int64_t start, std::int64_t maxNanos, Ready&& ready) {
        return spin(start, maxNanos, ready, [] { return false; });
    }

    // Records that work came `gap` nanoseconds after the wait began. A gap within reach sets the
    // budget to twice it (never below half the old budget, so one quick arrival does not undo a
    // pattern); a gap beyond the ceiling halves it.
    void finished(std::int64_t gap) {
        if (gap <= ceiling_) {
            std::int64_t want = gap * 2 + 2000;
            std::int64_t half = budget_ / 2;
            budget_ = want > half ? want : half;
        } else {
            budget_ /= 2;
        }
        if (budget_ < floor_) budget_ = floor_;
        if (budget_ > ceiling_) budget_ = ceiling_;
    }

  private:
    static constexpr std::int64_t kPureSpinNanos = 3000;
    std::int64_t floor_;
    std::int64_t ceiling_;
    std::int64_t budget_;
};

}  // namespace detail
