#include "MainLoop.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "dispatch/Clock.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSThread.h"

namespace testsupport {

namespace {

void requireMainThread(const char* what) {
    if (!NSThread::isMainThread()) {
        std::fprintf(stderr, "%s must be called on the main thread\n", what);
        std::abort();
    }
}

// Guards against work that re-queues itself for ever.
constexpr int kMaxDrainPasses = 10000;
constexpr int kMaxAdvanceSteps = 1000000;

}  // namespace

bool pumpMainRunLoopUntil(const std::function<bool()>& condition, double timeoutSeconds,
                          const std::string& mode) {
    requireMainThread("pumpMainRunLoopUntil");
    auto loop = NSRunLoop::mainRunLoop();
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        if (condition()) return true;
        auto left = std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return condition();
        loop->runOnce(mode, std::min(left, 0.01));
    }
}

void pumpMainRunLoop(double seconds, const std::string& mode) {
    requireMainThread("pumpMainRunLoop");
    auto loop = NSRunLoop::mainRunLoop();
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        auto left = std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return;
        loop->runOnce(mode, std::min(left, 0.01));
    }
}

void drainMainRunLoop(const std::string& mode) {
    requireMainThread("drainMainRunLoop");
    auto loop = NSRunLoop::mainRunLoop();
    for (int pass = 0; pass < kMaxDrainPasses; ++pass) {
        if (!loop->runOnce(mode, 0)) return;
    }
}

ManualClock::ManualClock(double startSince1970) {
    PlatformClock::useManualClock(startSince1970);
    drainMainRunLoop();
}

ManualClock::~ManualClock() {
    PlatformClock::useRealClock();
}

double ManualClock::now() const {
    return PlatformClock::now();
}

void ManualClock::jump(double seconds, const std::string& mode) {
    PlatformClock::advance(seconds);
    drainMainRunLoop(mode);
}

void ManualClock::advance(double seconds, const std::string& mode) {
    if (!(seconds > 0)) {
        drainMainRunLoop(mode);
        return;
    }
    auto loop = NSRunLoop::mainRunLoop();
    const auto target =
        PlatformClock::monotonicNanoseconds() + static_cast<std::int64_t>(std::llround(seconds * 1e9));
    drainMainRunLoop(mode);
    for (int step = 0; step < kMaxAdvanceSteps; ++step) {
        auto left = target - PlatformClock::monotonicNanoseconds();
        if (left <= 0) break;
        // The nearest deadline still ahead; ones already due but not run (another mode's) are
        // not waited for.
        std::int64_t next = left;
        if (auto date = loop->nextTimerFireDate(mode)) {
            auto delta = static_cast<std::int64_t>(
                std::ceil((date->timeIntervalSince1970() - PlatformClock::now()) * 1e9));
            if (delta > 0 && delta < next) next = delta;
        }
        double due = dispatch_timers_next_due();
        if (due > 0) {
            auto delta = static_cast<std::int64_t>(std::ceil(due * 1e9));
            if (delta > 0 && delta < next) next = delta;
        }
        PlatformClock::advance(static_cast<double>(next) / 1e9);
        drainMainRunLoop(mode);
    }
    auto left = target - PlatformClock::monotonicNanoseconds();
    if (left > 0) {
        PlatformClock::advance(static_cast<double>(left) / 1e9);
        drainMainRunLoop(mode);
    }
}

}  // namespace testsupport
