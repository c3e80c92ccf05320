// Groups and semaphores. Their waits are on real time (a deadline on the platform clock is turned
// into a real span when the wait starts) and count as blocking for the worker pool.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "dispatch/DispatchBlocking.h"
#include "dispatch/DispatchInternal.h"

struct dispatch_group_s {
    std::atomic<long> count{0};
    std::mutex mutex;
    std::condition_variable emptied;
    std::vector<std::pair<dispatch_queue_t, dispatch_block_t>> notifications;
};

// The count is atomic so that a signal and a wait that meet quickly need no lock and no system
// call; a waiter spins briefly before it parks. Parked waiters are counted, and the count and the
// value are both sequentially consistent: a signaller that sees no parked waiter is guaranteed to
// be seen by a waiter about to park, which takes the value instead.
struct dispatch_semaphore_s {
    explicit dispatch_semaphore_s(long value) : value(value) {}
    std::atomic<long> value;
    std::atomic<long> parked{0};
    std::mutex mutex;
    std::condition_variable cv;

    bool tryTake() {
        long v = value.load();
        while (v > 0) {
            if (value.compare_exchange_weak(v, v - 1)) return true;
        }
        return false;
    }
};

namespace {

// Waits on cv until ready() or the deadline (converted to real time now). True when ready.
template <class Ready>
bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, dispatch_time_t timeout,
               Ready ready) {
    if (ready()) return true;
    if (timeout == DISPATCH_TIME_NOW) return false;
    DispatchBlockingScope blocking;
    if (timeout == DISPATCH_TIME_FOREVER) {
        cv.wait(lock, ready);
        return true;
    }
    auto span = std::chrono::nanoseconds(detail::nanosUntil(timeout));
    return cv.wait_for(lock, span, ready);
}

}  // namespace

// ---- groups ------------------------------------------------------------------------------------

dispatch_group_t dispatch_group_create() {
    return std::make_shared<dispatch_group_s>();
}

void dispatch_group_enter(const dispatch_group_t& group) {
    if (group) group->count.fetch_add(1, std::memory_order_relaxed);
}

void dispatch_group_leave(const dispatch_group_t& handle) {
    // A waiter may return and drop the group as soon as the count reaches zero: hold our own
    // reference (the caller's handle may be the waiter's variable).
    dispatch_group_t group = handle;
    if (!group) return;
    auto before = group->count.fetch_sub(1, std::memory_order_acq_rel);
    if (before <= 0) {
        std::fprintf(stderr, "dispatch: dispatch_group_leave without a matching enter\n");
        std::abort();
    }
    if (before != 1) return;
    std::vector<std::pair<dispatch_queue_t, dispatch_block_t>> ready;
    {
        std::lock_guard lock(group->mutex);
        // Someone may have entered again since; the later leave will notify.
        if (group->count.load(std::memory_order_acquire) == 0) ready.swap(group->notifications);
        group->emptied.notify_all();
    }
    for (auto& [queue, block] : ready) dispatch_async(queue, std::move(block));
}

void dispatch_group_async(const dispatch_group_t& group, const dispatch_queue_t& queue,
                          dispatch_block_t block) {
    if (!group) {
        dispatch_async(queue, std::move(block));
        return;
    }
    dispatch_group_enter(group);
    dispatch_async(queue, [group, block = std::move(block)] {
        if (block) block();
        dispatch_group_leave(group);
    });
}

void dispatch_group_notify(const dispatch_group_t& group, const dispatch_queue_t& queue,
                           dispatch_block_t block) {
    if (!group) return;
    {
        std::lock_guard lock(group->mutex);
        if (group->count.load(std::memory_order_acquire) != 0) {
            group->notifications.emplace_back(queue, std::move(block));
            return;
        }
    }
    dispatch_async(queue, std::move(block));
}

long dispatch_group_wait(const dispatch_group_t& group, dispatch_time_t timeout) {
    if (!group) return 0;
    std::unique_lock lock(group->mutex);
    bool emptied = waitUntil(lock, group->emptied, timeout,
                             [&] { return group->count.load(std::memory_order_acquire) == 0; });
    return emptied ? 0 : 1;
}

// ---- semaphores --------------------------------------------------------------------------------

dispatch_semaphore_t dispatch_semaphore_create(long value) {
    if (value < 0) return nullptr;
    return std::make_shared<dispatch_semaphore_s>(value);
}

long dispatch_semaphore_wait(const dispatch_semaphore_t& semaphore, dispatch_time_t timeout) {
    if (!semaphore) return 1;
    if (semaphore->tryTake()) return 0;
    if (timeout == DISPATCH_TIME_NOW) return 1;
    // A reply often comes within microseconds (a round trip to another thread): look a few times
    // before paying for parking and waking.
    auto spinEnd = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
    // (No yielding while spinning: on a busy machine a yield can hand the core away for a whole
    // time slice.)
    do {
        for (int i = 0; i < 64; ++i) {
            if (semaphore->value.load(std::memory_order_relaxed) > 0 && semaphore->tryTake()) return 0;
            detail::cpuRelax();
        }
    } while (std::chrono::steady_clock::now() < spinEnd);

    std::unique_lock lock(semaphore->mutex);
    ++semaphore->parked;
    bool got = waitUntil(lock, semaphore->cv, timeout, [&] { return semaphore->tryTake(); });
    --semaphore->parked;
    return got ? 0 : 1;
}

long dispatch_semaphore_signal(const dispatch_semaphore_t& handle) {
    // The waiter may return and drop the last reference the moment the value goes up: hold our
    // own (the caller's handle may be the waiter's variable).
    dispatch_semaphore_t semaphore = handle;
    if (!semaphore) return 0;
    semaphore->value.fetch_add(1);
    if (semaphore->parked.load() == 0) return 0;
    std::lock_guard lock(semaphore->mutex);
    semaphore->cv.notify_one();
    return 1;
}
