#include "foundation/NSRunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>

#include "dispatch/Clock.h"
#include "dispatch/Dispatch.h"
#include "dispatch/DispatchBlocking.h"
#include "foundation/NSThread.h"
#include "foundation/NSTimer.h"

namespace {

double realNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct EndOfTurnHooks {
    std::mutex mutex;
    std::map<std::uint64_t, std::shared_ptr<std::function<void()>>> hooks;
    std::uint64_t next = 1;
};

EndOfTurnHooks& endOfTurnHooks() {
    static EndOfTurnHooks* hooks = new EndOfTurnHooks();
    return *hooks;
}

void runEndOfTurnHooks() {
    std::vector<std::shared_ptr<std::function<void()>>> hooks;
    {
        auto& registry = endOfTurnHooks();
        std::lock_guard lock(registry.mutex);
        if (registry.hooks.empty()) return;
        for (auto& [token, hook] : registry.hooks) hooks.push_back(hook);
    }
    for (auto& hook : hooks) (*hook)();
}

}  // namespace

// ---- observers -----------------------------------------------------------------------------------

CFRunLoopObserver::CFRunLoopObserver(unsigned activities, bool repeats, long order, Callback callback)
    : activities_(activities), repeats_(repeats), order_(order), callback_(std::move(callback)) {}

bool CFRunLoopObserver::isValid() const {
    std::lock_guard lock(mutex_);
    return valid_;
}

void CFRunLoopObserver::invalidate() {
    Callback callback;
    std::lock_guard lock(mutex_);
    valid_ = false;
    callback.swap(callback_);
}

void CFRunLoopObserver::call(CFRunLoopActivity activity) {
    Callback callback;
    {
        std::lock_guard lock(mutex_);
        if (!valid_) return;
        callback = callback_;
    }
    if (callback) callback(selfAs<CFRunLoopObserver>(), activity);
    if (!repeats_) invalidate();
}

// ---- the run loop ----------------------------------------------------------------------------

NSRunLoop::NSRunLoop(bool isMain)
    : isMain_(isMain),
      wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      commonModes_{NSDefaultRunLoopMode, UITrackingRunLoopMode} {
    // Advancing the manual clock (or switching clocks) may make timers due: wake up and look.
    clockListener_ = PlatformClock::addListener([this] { wakeUp(); });
}

NSRunLoop::~NSRunLoop() {
    PlatformClock::removeListener(clockListener_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

Ref<NSRunLoop> NSRunLoop::currentRunLoop() {
    return NSThread::currentThread()->runLoop();
}

Ref<NSRunLoop> NSRunLoop::mainRunLoop() {
    return NSThread::mainThread()->runLoop();
}

std::optional<std::string> NSRunLoop::currentMode() const {
    std::lock_guard lock(mutex_);
    if (modeStack_.empty()) return std::nullopt;
    return modeStack_.back();
}

void NSRunLoop::addCommonMode(const std::string& mode) {
    std::lock_guard lock(mutex_);
    if (mode != NSRunLoopCommonModes) commonModes_.insert(mode);
}

bool NSRunLoop::matchesLocked(const std::string& itemMode, const std::string& running) const {
    if (itemMode == running) return true;
    return itemMode == NSRunLoopCommonModes && commonModes_.count(running) > 0;
}

bool NSRunLoop::matchesLocked(const std::vector<std::string>& itemModes, const std::string& running) const {
    for (auto& mode : itemModes) {
        if (matchesLocked(mode, running)) return true;
    }
    return false;
}

void NSRunLoop::wakeUp() {
    // Pairs with waitForWork(): it marks itself blocked and then looks at wakePending_, we mark
    // the wake-up and then look at blocked_, so at least one of the two sees the other.
    wakePending_.store(true, std::memory_order_seq_cst);
    if (blocked_.load(std::memory_order_seq_cst) && blocked_.exchange(false, std::memory_order_seq_cst)) {
        std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    }
}

void NSRunLoop::clearWake() {
    wakePending_.store(false, std::memory_order_seq_cst);
}

// ---- sources -----------------------------------------------------------------------------------

void NSRunLoop::addTimer(const Ref<NSTimer>& timer, const std::string& mode) {
    if (!timer || !timer->isValid()) return;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(timers_.begin(), timers_.end(), [&](auto& e) { return e.timer == timer; });
        if (it == timers_.end()) {
            timers_.push_back(TimerEntry{timer, {mode}, timerSeq_++});
        } else if (std::find(it->modes.begin(), it->modes.end(), mode) == it->modes.end()) {
            it->modes.push_back(mode);
        }
    }
    timer->addedToRunLoop(selfAs<NSRunLoop>());
    // Invalidated meanwhile by another thread: do not keep it.
    if (!timer->isValid()) timerChanged(timer.get(), true);
    wakeUp();
}

void NSRunLoop::timerChanged(const NSTimer* timer, bool invalidated) {
    if (invalidated) {
        Ref<NSTimer> removed;  // released outside the lock
        std::lock_guard lock(mutex_);
        auto it =
            std::find_if(timers_.begin(), timers_.end(), [&](auto& e) { return e.timer.get() == timer; });
        if (it != timers_.end()) {
            removed = std::move(it->timer);
            timers_.erase(it);
        }
    }
    wakeUp();
}

void NSRunLoop::addPort(const Ref<NSPort>& port, const std::string& mode) {
    if (!port) return;
    std::lock_guard lock(mutex_);
    for (auto& entry : ports_) {
        if (entry.port == port && entry.mode == mode) return;
    }
    ports_.push_back(PortEntry{port, mode});
}

void NSRunLoop::removePort(const Ref<NSPort>& port, const std::string& mode) {
    std::lock_guard lock(mutex_);
    std::erase_if(ports_, [&](auto& e) { return e.port == port && e.mode == mode; });
}

void NSRunLoop::addObserver(const Ref<CFRunLoopObserver>& observer, const std::string& mode) {
    if (!observer) return;
    std::lock_guard lock(mutex_);
    for (auto& entry : observers_) {
        if (entry.observer == observer && entry.mode == mode) return;
    }
    observers_.push_back(ObserverEntry{observer, mode});
}

void NSRunLoop::removeObserver(const Ref<CFRunLoopObserver>& observer, const std::string& mode) {
    std::vector<ObserverEntry> removed;
    std::lock_guard lock(mutex_);
    for (auto it = observers_.begin(); it != observers_.end();) {
        if (it->observer == observer && it->mode == mode) {
            removed.push_back(std::move(*it));
            it = observers_.erase(it);
        } else {
            ++it;
        }
    }
}

bool NSRunLoop::containsObserver(const Ref<CFRunLoopObserver>& observer, const std::string& mode) const {
    std::lock_guard lock(mutex_);
    for (auto& entry : observers_) {
        if (entry.observer == observer && entry.mode == mode && entry.observer->isValid()) return true;
    }
    return false;
}

void NSRunLoop::performInModes(std::vector<std::string> modes, std::function<void()> block) {
    if (!block || modes.empty()) return;
    {
        std::lock_guard lock(mutex_);
        performs_.push_back(PerformEntry{std::move(modes), std::move(block)});
    }
    wakeUp();
}

std::uint64_t NSRunLoop::addFileDescriptorSource(int fd, short events, std::function<void(short)> handler,
                                                 std::vector<std::string> modes) {
    std::uint64_t token;
    {
        std::lock_guard lock(mutex_);
        token = nextFdToken_++;
        fds_.push_back(FdEntry{token, fd, events,
                               std::make_shared<std::function<void(short)>>(std::move(handler)),
                               std::move(modes)});
    }
    wakeUp();
    return token;
}

void NSRunLoop::removeFileDescriptorSource(std::uint64_t token) {
    std::shared_ptr<std::function<void(short)>> handler;
    std::lock_guard lock(mutex_);
    auto it = std::find_if(fds_.begin(), fds_.end(), [&](auto& e) { return e.token == token; });
    if (it == fds_.end()) return;
    handler = std::move(it->handler);
    fds_.erase(it);
}

std::optional<double> NSRunLoop::nextTimerFireLocked(const std::string& mode) const {
    std::optional<double> next;
    for (auto& entry : timers_) {
        if (!matchesLocked(entry.modes, mode) || !entry.timer->isValid()) continue;
        double date = entry.timer->fireDate().timeIntervalSince1970();
        if (!next || date < *next) next = date;
    }
    return next;
}

std::optional<NSDate> NSRunLoop::nextTimerFireDate(const std::string& mode) const {
    std::lock_guard lock(mutex_);
    auto next = nextTimerFireLocked(mode);
    if (!next) return std::nullopt;
    return NSDate::dateWithTimeIntervalSince1970(*next);
}

bool NSRunLoop::hasPerformsLocked(const std::string& mode) const {
    for (auto& entry : performs_) {
        if (matchesLocked(entry.modes, mode)) return true;
    }
    return false;
}

bool NSRunLoop::hasSourcesLocked(const std::string& mode) const {
    if (isMain_) return true;  // the main queue is a source in every mode
    for (auto& entry : timers_) {
        if (matchesLocked(entry.modes, mode)) return true;
    }
    for (auto& entry : ports_) {
        if (matchesLocked(entry.mode, mode)) return true;
    }
    for (auto& entry : fds_) {
        if (matchesLocked(entry.modes, mode)) return true;
    }
    return hasPerformsLocked(mode);
}

bool NSRunLoop::isWaiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

// ---- one pass --------------------------------------------------------------------------------

void NSRunLoop::notifyObservers(const std::string& mode, CFRunLoopActivity activity) {
    std::vector<Ref<CFRunLoopObserver>> matching;
    {
        std::lock_guard lock(mutex_);
        if (observers_.empty()) return;
        for (auto& entry : observers_) {
            if ((entry.observer->activities() & activity) && matchesLocked(entry.mode, mode)) {
                matching.push_back(entry.observer);
            }
        }
    }
    if (matching.empty()) return;
    std::stable_sort(matching.begin(), matching.end(),
                     [](auto& a, auto& b) { return a->order() < b->order(); });
    for (auto& observer : matching) observer->call(activity);
    // Drop the ones that are done (non-repeating, or invalidated by anyone).
    std::vector<ObserverEntry> removed;
    std::lock_guard lock(mutex_);
    for (auto it = observers_.begin(); it != observers_.end();) {
        if (!it->observer->isValid()) {
            removed.push_back(std::move(*it));
            it = observers_.erase(it);
        } else {
            ++it;
        }
    }
}

bool NSRunLoop::fireTimers(const std::string& mode, double now) {
    std::vector<std::pair<double, TimerEntry>> due;
    {
        std::lock_guard lock(mutex_);
        for (auto& entry : timers_) {
            if (!matchesLocked(entry.modes, mode)) continue;
            double date = entry.timer->fireDate().timeIntervalSince1970();
            if (date <= now) due.emplace_back(date, entry);
        }
    }
    if (due.empty()) return false;
    std::sort(due.begin(), due.end(), [](auto& a, auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.seq < b.second.seq;
    });
    bool fired = false;
    for (auto& item : due) {
        auto& entry = item.second;
        // An earlier callout may have taken the timer out of this mode or invalidated it.
        {
            std::lock_guard lock(mutex_);
            auto it =
                std::find_if(timers_.begin(), timers_.end(), [&](auto& e) { return e.timer == entry.timer; });
            if (it == timers_.end() || !matchesLocked(it->modes, mode)) continue;
        }
        fired |= entry.timer->fireIfDue(now);
    }
    return fired;
}

bool NSRunLoop::runPerforms(const std::string& mode) {
    std::vector<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        if (performs_.empty()) return false;
        for (auto it = performs_.begin(); it != performs_.end();) {
            if (matchesLocked(it->modes, mode)) {
                batch.push_back(std::move(it->block));
                it = performs_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& block : batch) {
        block();
        block = nullptr;
    }
    return !batch.empty();
}

bool NSRunLoop::serviceFileDescriptors(const std::string& mode, int timeoutMs) {
    std::vector<FdEntry> watched;
    {
        std::lock_guard lock(mutex_);
        for (auto& entry : fds_) {
            if (matchesLocked(entry.modes, mode)) watched.push_back(entry);
        }
    }
    if (watched.empty()) return false;
    std::vector<pollfd> polls;
    for (auto& entry : watched) polls.push_back(pollfd{entry.fd, entry.events, 0});
    if (::poll(polls.data(), polls.size(), timeoutMs) <= 0) return false;
    bool handled = false;
    for (std::size_t i = 0; i < watched.size(); ++i) {
        if (!polls[i].revents) continue;
        {
            // Removed by an earlier handler: skip.
            std::lock_guard lock(mutex_);
            auto token = watched[i].token;
            if (std::none_of(fds_.begin(), fds_.end(), [&](auto& e) { return e.token == token; })) continue;
        }
        (*watched[i].handler)(polls[i].revents);
        handled = true;
    }
    return handled;
}

bool NSRunLoop::consumeStop() {
    std::lock_guard lock(mutex_);
    if (!stopRequested_) return false;
    stopRequested_ = false;
    return true;
}

void NSRunLoop::stop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wakeUp();
}

void NSRunLoop::waitForWork(const std::string& mode, std::optional<double> platformLimit,
                            std::optional<double> realLimit) {
    // How long to sleep: on the real clock until the first of the run limit, the next timer and
    // the next delayed main-queue block; on the manual clock only a real limit counts, as the
    // clock's listener wakes us when time moves.
    std::optional<double> timeout;
    auto consider = [&](double seconds) {
        seconds = std::max(0.0, seconds);
        if (!timeout || seconds < *timeout) timeout = seconds;
    };
    std::vector<pollfd> polls{pollfd{wakeFd_, POLLIN, 0}};
    {
        std::lock_guard lock(mutex_);
        if (hasPerformsLocked(mode)) consider(0);
        if (!PlatformClock::isManual()) {
            double now = PlatformClock::now();
            if (auto next = nextTimerFireLocked(mode)) consider(*next - now);
            if (platformLimit) consider(*platformLimit - now);
        }
        for (auto& entry : fds_) {
            if (matchesLocked(entry.modes, mode)) polls.push_back(pollfd{entry.fd, entry.events, 0});
        }
    }
    if (isMain_) {
        polls.push_back(pollfd{dispatch_main_queue_handle(), POLLIN, 0});
        if (!PlatformClock::isManual()) {
            double due = dispatch_main_queue_next_due();
            if (due >= 0) consider(due);
        }
    }
    if (realLimit) consider(*realLimit - realNow());

    timespec span{};
    timespec* spanPointer = nullptr;
    if (timeout) {
        double seconds = std::min(*timeout, 1e6);
        span.tv_sec = static_cast<time_t>(seconds);
        span.tv_nsec = static_cast<long>((seconds - static_cast<double>(span.tv_sec)) * 1e9);
        spanPointer = &span;
    }
    {
        std::lock_guard lock(mutex_);
        waiting_ = true;
    }
    // Work often arrives within microseconds of going idle (a reply from another thread): look
    // for it a little before sleeping, which saves the wake-up latency of a sleeping thread.
    auto newsWaiting = [&] {
        return wakePending_.load(std::memory_order_acquire) || (isMain_ && dispatch_main_queue_pending());
    };
    bool ready = false;
    std::int64_t start = detail::spinClockNanos();
    if (!timeout || *timeout > 0) {
        std::int64_t maxSpin = timeout ? static_cast<std::int64_t>(*timeout * 1e9) : INT64_MAX;
        // Descriptor sources have no flag to watch: poll them now and then while spinning.
        bool watchDescriptors = polls.size() > (isMain_ ? 2u : 1u);
        ready = spin_.spin(start, maxSpin, newsWaiting, [&] {
            if (!watchDescriptors) return false;
            timespec zero{};
            return ::ppoll(polls.data(), polls.size(), &zero, nullptr) > 0;
        });
    } else {
        ready = newsWaiting();
    }
    bool slept = false;
    if (!ready) {
        blocked_.store(true, std::memory_order_seq_cst);
        if (!newsWaiting()) {
            DispatchBlockingScope blocking;
            ::ppoll(polls.data(), polls.size(), spanPointer, nullptr);
            slept = true;
        }
        blocked_.store(false, std::memory_order_seq_cst);
        if (polls[0].revents & POLLIN) {
            std::uint64_t value;
            [[maybe_unused]] auto n = ::read(wakeFd_, &value, sizeof value);
        }
    }
    // Only arrivals teach the spin: a wait that ended on its time limit says nothing of the gap.
    if (!slept || newsWaiting() ||
        (polls.size() > 1 &&
         std::any_of(polls.begin() + 1, polls.end(), [](auto& p) { return p.revents != 0; }))) {
        spin_.finished(detail::spinClockNanos() - start);
    }
    {
        std::lock_guard lock(mutex_);
        waiting_ = false;
    }
    clearWake();
}

NSRunLoop::Result NSRunLoop::runInternal(const std::string& mode, std::optional<double> platformLimit,
                                         std::optional<double> realLimit, bool returnAfterHandled,
                                         bool returnAfterWait) {
    auto keep = selfAs<NSRunLoop>();
    {
        std::lock_guard lock(mutex_);
        modeStack_.push_back(mode);
    }
    notifyObservers(mode, kCFRunLoopEntry);
    Result result;
    for (bool waited = false;; waited = true) {
        bool handled = false;
        // This pass looks at everything, which answers any wake-up asked for before it: one left
        // over (the clock switched while nobody ran the loop) would otherwise end a later wait at
        // once, before the work it waits for has come.
        clearWake();
        // One reading of the clock per pass: a limit that falls due with a timer is only reached
        // after the timer has fired, even if the clock moves during the pass.
        double passNow = PlatformClock::now();
        notifyObservers(mode, kCFRunLoopBeforeTimers);
        handled |= fireTimers(mode, passNow);
        notifyObservers(mode, kCFRunLoopBeforeSources);
        handled |= runPerforms(mode);
        handled |= serviceFileDescriptors(mode, 0);
        if (isMain_) {
            handled |= dispatch_main_queue_drain() > 0;
            runEndOfTurnHooks();
        }
        if (consumeStop()) {
            result = Result::Stopped;
            break;
        }
        if (handled && returnAfterHandled) {
            result = Result::Handled;
            break;
        }
        if ((platformLimit && passNow >= *platformLimit) || (realLimit && realNow() >= *realLimit) ||
            (returnAfterWait && waited)) {
            result = Result::TimedOut;
            break;
        }
        bool hasSources;
        {
            std::lock_guard lock(mutex_);
            hasSources = hasSourcesLocked(mode);
        }
        if (!hasSources) {
            result = Result::Finished;
            break;
        }
        notifyObservers(mode, kCFRunLoopBeforeWaiting);
        waitForWork(mode, platformLimit, realLimit);
        notifyObservers(mode, kCFRunLoopAfterWaiting);
    }
    notifyObservers(mode, kCFRunLoopExit);
    {
        std::lock_guard lock(mutex_);
        modeStack_.pop_back();
    }
    return result;
}

// ---- running -----------------------------------------------------------------------------------

bool NSRunLoop::runMode(const std::string& mode, NSDate limitDate) {
    {
        std::lock_guard lock(mutex_);
        if (!hasSourcesLocked(mode)) return false;
    }
    runInternal(mode, limitDate.timeIntervalSince1970(), std::nullopt, true, false);
    return true;
}

void NSRunLoop::runUntilDate(NSDate limitDate) {
    runInternal(NSDefaultRunLoopMode, limitDate.timeIntervalSince1970(), std::nullopt, false, false);
}

void NSRunLoop::run() {
    runInternal(NSDefaultRunLoopMode, std::nullopt, std::nullopt, false, false);
}

bool NSRunLoop::runOnce(const std::string& mode, double maxRealWaitSeconds) {
    auto result = runInternal(mode, std::nullopt, realNow() + std::max(0.0, maxRealWaitSeconds), true, true);
    return result == Result::Handled;
}

// ---- end-of-turn hooks -------------------------------------------------------------------------

std::uint64_t NSRunLoop::addEndOfTurnHook(std::function<void()> hook) {
    auto& registry = endOfTurnHooks();
    std::lock_guard lock(registry.mutex);
    auto token = registry.next++;
    registry.hooks.emplace(token, std::make_shared<std::function<void()>>(std::move(hook)));
    return token;
}

void NSRunLoop::removeEndOfTurnHook(std::uint64_t token) {
    std::shared_ptr<std::function<void()>> removed;
    auto& registry = endOfTurnHooks();
    std::lock_guard lock(registry.mutex);
    auto it = registry.hooks.find(token);
    if (it == registry.hooks.end()) return;
    removed = std::move(it->second);
    registry.hooks.erase(it);
}
