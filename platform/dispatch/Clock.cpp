#include "dispatch/Clock.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <vector>

namespace {

struct ClockState {
    std::atomic<bool> manual{false};
    // Manual time in nanoseconds since 1970, and the monotonic reading it started from.
    std::atomic<std::int64_t> manualNanos{0};
    std::mutex listenersLock;
    std::map<std::uint64_t, PlatformClock::Listener> listeners;
    std::uint64_t nextToken = 1;
};

ClockState& state() {
    static ClockState s;
    return s;
}

double realNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

double realMonotonic() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void notifyListeners() {
    std::vector<PlatformClock::Listener> copy;
    {
        std::lock_guard lock(state().listenersLock);
        for (auto& [token, listener] : state().listeners) copy.push_back(listener);
    }
    for (auto& listener : copy) listener();
}

}  // namespace

double PlatformClock::now() {
    if (state().manual.load(std::memory_order_acquire)) {
        return static_cast<double>(state().manualNanos.load(std::memory_order_acquire)) / 1e9;
    }
    return realNow();
}

double PlatformClock::monotonic() {
    if (state().manual.load(std::memory_order_acquire)) return now();
    return realMonotonic();
}

bool PlatformClock::isManual() { return state().manual.load(std::memory_order_acquire); }

void PlatformClock::useManualClock(double startSince1970) {
    state().manualNanos.store(static_cast<std::int64_t>(startSince1970 * 1e9), std::memory_order_release);
    state().manual.store(true, std::memory_order_release);
    notifyListeners();
}

void PlatformClock::useRealClock() {
    state().manual.store(false, std::memory_order_release);
    notifyListeners();
}

void PlatformClock::advance(double seconds) {
    if (!isManual() || seconds < 0) return;
    state().manualNanos.fetch_add(static_cast<std::int64_t>(seconds * 1e9), std::memory_order_acq_rel);
    notifyListeners();
}

std::uint64_t PlatformClock::addListener(Listener listener) {
    std::lock_guard lock(state().listenersLock);
    auto token = state().nextToken++;
    state().listeners.emplace(token, std::move(listener));
    return token;
}

void PlatformClock::removeListener(std::uint64_t token) {
    std::lock_guard lock(state().listenersLock);
    state().listeners.erase(token);
}
