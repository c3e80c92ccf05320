// Delayed work on the platform clock: dispatch_after and timer sources.
//
// One timer thread keeps a heap of deadlines for pool queues (the main queue keeps its own heap,
// drained by the main run loop). The thread sleeps until the earliest deadline on the real clock;
// on the manual clock it sleeps until told, and a clock listener fires what became due
// synchronously on the advancing thread, so that after advance() returns every due block is
// already on its queue, in deadline order (submission order for equal deadlines).

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

#include "dispatch/Clock.h"
#include "dispatch/DispatchInternal.h"

struct dispatch_source_s : std::enable_shared_from_this<dispatch_source_s> {
    explicit dispatch_source_s(dispatch_queue_t queue) : queue(std::move(queue)) {}

    const dispatch_queue_t queue;
    std::mutex mutex;  // guards everything below
    dispatch_block_t handler;
    dispatch_block_t cancelHandler;
    dispatch_time_t start = DISPATCH_TIME_FOREVER;
    std::uint64_t interval = 0;
    std::uint64_t generation = 0;  // bumps on set_timer and cancel; stale wheel entries are dropped
    int suspendCount = 1;          // sources start suspended
    bool cancelled = false;
    bool cancelDelivered = false;
    bool handlerQueued = false;   // a handler is queued or running: never two at once
    bool firedWhileBusy = false;  // fires coalesced while suspended or while a handler ran

    void timerFired(std::uint64_t forGeneration, dispatch_time_t deadline);
    void queueHandlerLocked();
    void runHandler();
    void deliverCancelLocked();
};

namespace {

struct WheelEntry {
    dispatch_time_t deadline;
    std::uint64_t seq;
    dispatch_queue_t queue;
    dispatch_block_t block;
    dispatch_source_t source;
    std::uint64_t generation;
};
struct LaterFirst {
    bool operator()(const WheelEntry& a, const WheelEntry& b) const {
        return a.deadline != b.deadline ? a.deadline > b.deadline : a.seq > b.seq;
    }
};

class TimerWheel {
  public:
    static TimerWheel& shared() {
        static TimerWheel* wheel = new TimerWheel();
        return *wheel;
    }

    void add(WheelEntry entry) {
        {
            std::lock_guard lock(mutex_);
            entry.seq = seq_++;
            heap_.push(std::move(entry));
            startLocked();
        }
        cv_.notify_one();
    }

    std::int64_t nextDeadline() {
        std::lock_guard lock(mutex_);
        return heap_.empty() ? -1 : static_cast<std::int64_t>(heap_.top().deadline);
    }

    // Hands every due entry to its queue, earliest first. Serialised so that two callers (the
    // timer thread and an advancing thread) never interleave their hand-offs.
    void fireDue() {
        std::lock_guard firing(fireMutex_);
        std::vector<WheelEntry> due;
        {
            std::lock_guard lock(mutex_);
            auto now = detail::nowNanos();
            while (!heap_.empty() && heap_.top().deadline <= now) {
                due.push_back(std::move(const_cast<WheelEntry&>(heap_.top())));
                heap_.pop();
            }
        }
        detail::mainQueueSignalIfDue();
        for (auto& entry : due) {
            if (entry.source) {
                entry.source->timerFired(entry.generation, entry.deadline);
            } else {
                dispatch_async(entry.queue, std::move(entry.block));
            }
        }
    }

    // Called when the clock changes; also wakes the thread to recompute its sleep.
    void clockChanged() {
        fireDue();
        {
            std::lock_guard lock(mutex_);
            ++clockChanges_;
        }
        cv_.notify_one();
    }

  private:
    TimerWheel() {
        PlatformClock::addListener([this] { clockChanged(); });
    }

    void startLocked() {
        if (started_) return;
        started_ = true;
        std::thread([this] { run(); }).detach();
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            lock.unlock();
            fireDue();
            lock.lock();
            auto changes = clockChanges_;
            std::int64_t next = heap_.empty() ? -1 : static_cast<std::int64_t>(heap_.top().deadline);
            auto mainNext = detail::mainQueueNextDeadline();
            if (mainNext >= 0 && (next < 0 || mainNext < next)) next = mainNext;
            auto seq = seq_;
            auto woken = [&] { return clockChanges_ != changes || seq_ != seq; };
            if (next < 0 || PlatformClock::isManual()) {
                cv_.wait(lock, woken);
            } else {
                auto span = detail::nanosUntil(static_cast<dispatch_time_t>(next));
                if (span > 0) cv_.wait_for(lock, std::chrono::nanoseconds(span), woken);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::priority_queue<WheelEntry, std::vector<WheelEntry>, LaterFirst> heap_;
    std::uint64_t seq_ = 0;
    std::uint64_t clockChanges_ = 0;
    bool started_ = false;
    std::mutex fireMutex_;
};

}  // namespace

namespace detail {

void mainQueueAddDelayed(dispatch_time_t when, dispatch_block_t block);

void timerWheelAdd(dispatch_time_t deadline, dispatch_queue_t queue, dispatch_block_t block) {
    TimerWheel::shared().add(WheelEntry{deadline, 0, std::move(queue), std::move(block), nullptr, 0});
}

void timerWheelAddSource(dispatch_time_t deadline, dispatch_source_t source, std::uint64_t generation) {
    TimerWheel::shared().add(WheelEntry{deadline, 0, nullptr, nullptr, std::move(source), generation});
}

std::int64_t timerWheelNextDeadline() {
    return TimerWheel::shared().nextDeadline();
}

// The main queue's delayed blocks must also wake the timer thread on the real clock, so that the
// main queue's handle becomes readable when they fall due.
void wakeTimerThreadForMain(dispatch_time_t when) {
    TimerWheel::shared().add(WheelEntry{when, 0, nullptr, nullptr, nullptr, 0});
}

}  // namespace detail

// ---- time --------------------------------------------------------------------------------------

dispatch_time_t dispatch_time(dispatch_time_t when, std::int64_t delta) {
    if (when == DISPATCH_TIME_FOREVER) return DISPATCH_TIME_FOREVER;
    std::uint64_t base = when == DISPATCH_TIME_NOW ? detail::nowNanos() : when;
    if (delta >= 0) {
        auto d = static_cast<std::uint64_t>(delta);
        if (base > DISPATCH_TIME_FOREVER - 1 - d) return DISPATCH_TIME_FOREVER;
        return base + d;
    }
    auto d = static_cast<std::uint64_t>(-(delta + 1)) + 1;
    // Never NOW (0): that would mean "the current reading" to the next caller.
    return base > d ? base - d : 1;
}

double dispatch_timers_next_due() {
    auto a = detail::timerWheelNextDeadline();
    auto b = detail::mainQueueNextDeadline();
    std::int64_t next = a < 0 ? b : (b < 0 ? a : std::min(a, b));
    if (next < 0) return -1;
    return static_cast<double>(detail::nanosUntil(static_cast<dispatch_time_t>(next))) / 1e9;
}

void dispatch_after(dispatch_time_t when, const dispatch_queue_t& queue, dispatch_block_t block) {
    if (!queue) return;
    if (when == DISPATCH_TIME_FOREVER) return;
    if (queue->kind == dispatch_queue_s::Kind::Main) {
        detail::mainQueueAddDelayed(when, std::move(block));
        if (when > detail::nowNanos()) detail::wakeTimerThreadForMain(when);
        return;
    }
    if (when <= detail::nowNanos()) {
        dispatch_async(queue, std::move(block));
        return;
    }
    detail::timerWheelAdd(when, queue, std::move(block));
}

// ---- timer sources -----------------------------------------------------------------------------

void dispatch_source_s::timerFired(std::uint64_t forGeneration, dispatch_time_t deadline) {
    std::lock_guard lock(mutex);
    if (forGeneration != generation || cancelled) return;
    if (interval != 0 && interval != DISPATCH_TIME_FOREVER) {
        // The next beat follows the previous one; beats already missed are skipped, not burst.
        auto now = detail::nowNanos();
        auto next = deadline + interval;
        if (next <= now) next += ((now - next) / interval + 1) * interval;
        detail::timerWheelAddSource(next, shared_from_this(), generation);
    }
    if (suspendCount > 0 || handlerQueued) {
        firedWhileBusy = true;
        return;
    }
    queueHandlerLocked();
}

void dispatch_source_s::queueHandlerLocked() {
    handlerQueued = true;
    firedWhileBusy = false;
    dispatch_async(queue, [self = shared_from_this()] { self->runHandler(); });
}

void dispatch_source_s::runHandler() {
    dispatch_block_t current;
    {
        std::lock_guard lock(mutex);
        if (!cancelled) current = handler;
    }
    if (current) current();
    current = nullptr;
    std::lock_guard lock(mutex);
    handlerQueued = false;
    if (cancelled) {
        if (suspendCount == 0) deliverCancelLocked();
    } else if (firedWhileBusy && suspendCount == 0) {
        queueHandlerLocked();
    }
}

void dispatch_source_s::deliverCancelLocked() {
    if (cancelDelivered) return;
    cancelDelivered = true;
    handler = nullptr;  // handlers often hold the source: let it go
    auto block = std::move(cancelHandler);
    cancelHandler = nullptr;
    if (block) dispatch_async(queue, std::move(block));
}

dispatch_source_t dispatch_source_create(dispatch_source_type_t, std::uintptr_t, unsigned long,
                                         const dispatch_queue_t& queue) {
    return std::make_shared<dispatch_source_s>(queue ? queue : dispatch_get_global_queue(0));
}

void dispatch_source_set_timer(const dispatch_source_t& source, dispatch_time_t start, std::uint64_t interval,
                               std::uint64_t) {
    if (!source) return;
    bool dueNow = false;
    {
        std::lock_guard lock(source->mutex);
        if (source->cancelled) return;
        source->start = start == DISPATCH_TIME_NOW ? detail::nowNanos() : start;
        source->interval = interval;
        ++source->generation;
        source->firedWhileBusy = false;
        if (source->start == DISPATCH_TIME_FOREVER) return;
        detail::timerWheelAddSource(source->start, source, source->generation);
        dueNow = source->start <= detail::nowNanos();
    }
    // A start that has already passed fires now rather than whenever the timer thread wakes.
    if (dueNow) TimerWheel::shared().fireDue();
}

void dispatch_source_set_event_handler(const dispatch_source_t& source, dispatch_block_t handler) {
    if (!source) return;
    std::lock_guard lock(source->mutex);
    if (!source->cancelled) source->handler = std::move(handler);
}

void dispatch_source_set_cancel_handler(const dispatch_source_t& source, dispatch_block_t handler) {
    if (!source) return;
    std::lock_guard lock(source->mutex);
    if (!source->cancelDelivered) source->cancelHandler = std::move(handler);
}

void dispatch_resume(const dispatch_source_t& source) {
    if (!source) return;
    std::lock_guard lock(source->mutex);
    if (source->suspendCount == 0) {
        std::fprintf(stderr, "dispatch: dispatch_resume of a source that is not suspended\n");
        std::abort();
    }
    if (--source->suspendCount > 0) return;
    if (source->handlerQueued) return;  // the running handler looks again when it ends
    if (source->cancelled) {
        source->deliverCancelLocked();
    } else if (source->firedWhileBusy) {
        source->queueHandlerLocked();
    }
}

void dispatch_suspend(const dispatch_source_t& source) {
    if (!source) return;
    std::lock_guard lock(source->mutex);
    ++source->suspendCount;
}

void dispatch_source_cancel(const dispatch_source_t& source) {
    if (!source) return;
    std::lock_guard lock(source->mutex);
    if (source->cancelled) return;
    source->cancelled = true;
    ++source->generation;
    if (!source->handlerQueued && source->suspendCount == 0) source->deliverCancelLocked();
}

long dispatch_source_testcancel(const dispatch_source_t& source) {
    if (!source) return 0;
    std::lock_guard lock(source->mutex);
    return source->cancelled ? 1 : 0;
}
