#include "dispatch/Clock.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct ClockState {
    std::atomic<bool> manual{false};
    // Manual time in nanoseconds since 1970.
    std::atomic<std::int64_t> manualNanos{0};
    std::mutex listenersLock;
    std::map<std::uint64_t, std::shared_ptr<PlatformClock::Listener>> listeners;
    std::uint64_t nextToken = 1;
    // Held while listeners are being called, and by removeListener(), so that a removed listener
    // is never called afterwards. Recursive: a listener may add or remove listeners.
    std::recursive_mutex callLock;
};

ClockState& state() {
    // Never destroyed: threads that outlive main() may still read the clock.
    static ClockState* s = new ClockState();
    return *s;
}

std::int64_t realMonotonicNanos() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

void notifyListeners() {
    auto& s = state();
    std::lock_guard call(s.callLock);
    std::vector<std::shared_ptr<PlatformClock::Listener>> copy;
    {
        std::lock_guard lock(s.listenersLock);
        copy.reserve(s.listeners.size());
        for (auto& [token, listener] : s.listeners) copy.push_back(listener);
    }
    for (auto& listener : copy) (*listener)();
}

}  // namespace

double PlatformClock::now() {
    if (state().manual.load(std::memory_order_acquire)) {
        return static_cast<double>(state().manualNanos.load(std::memory_order_acquire)) / 1e9;
    }
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

double PlatformClock::monotonic() {
    return static_cast<double>(monotonicNanoseconds()) / 1e9;
}

std::int64_t PlatformClock::monotonicNanoseconds() {
    if (state().manual.load(std::memory_order_acquire)) {
        return state().manualNanos.load(std::memory_order_acquire);
    }
    return realMonotonicNanos();
}

bool PlatformClock::isManual() {
    return state().manual.load(std::memory_order_acquire);
}

void PlatformClock::useManualClock(double startSince1970) {
    state().manualNanos.store(static_cast<std::int64_t>(std::llround(startSince1970 * 1e9)),
                              std::memory_order_release);
    state().manual.store(true, std::memory_order_release);
    notifyListeners();
}

void PlatformClock::useRealClock() {
    state().manual.store(false, std::memory_order_release);
    notifyListeners();
}

void PlatformClock::advance(double seconds) {
    if (!isManual() || !(seconds >= 0)) return;
    state().manualNanos.fetch_add(static_cast<std::int64_t>(std::llround(seconds * 1e9)),
                                  std::memory_order_acq_rel);
    notifyListeners();
}

std::uint64_t PlatformClock::addListener(Listener listener) {
    std::lock_guard lock(state().listenersLock);
    auto token = state().nextToken++;
    state().listeners.emplace(token, std::make_shared<Listener>(std::move(listener)));
    return token;
}

void PlatformClock::removeListener(std::uint64_t token) {
    std::shared_ptr<Listener> removed;
    std::lock_guard call(state().callLock);
    std::lock_guard lock(state().listenersLock);
    auto it = state().listeners.find(token);
    if (it == state().listeners.end()) return;
    removed = std::move(it->second);
    state().listeners.erase(it);
}
