// Groups and semaphores. Their waits are on real time (a deadline on the platform clock is turned
// into a real span when the wait starts) and count as blocking for the worker pool.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "dispatch/DispatchBlocking.h"
#include "dispatch/DispatchInternal.h"

struct dispatch_group_s {
    std::atomic<long> count{0};
    std::mutex mutex;
    std::condition_variable emptied;
    std::vector<std::pair<dispatch_queue_t, dispatch_block_t>> notifications;
};

struct dispatch_semaphore_s {
    explicit dispatch_semaphore_s(long value) : value(value) {}
    std::mutex mutex;
    std::condition_variable cv;
    long value;
    long waiters = 0;
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

void dispatch_group_leave(const dispatch_group_t& group) {
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
    std::unique_lock lock(semaphore->mutex);
    ++semaphore->waiters;
    bool got = waitUntil(lock, semaphore->cv, timeout, [&] { return semaphore->value > 0; });
    --semaphore->waiters;
    if (!got) return 1;
    --semaphore->value;
    return 0;
}

long dispatch_semaphore_signal(const dispatch_semaphore_t& semaphore) {
    if (!semaphore) return 0;
    std::lock_guard lock(semaphore->mutex);
    ++semaphore->value;
    if (semaphore->waiters > 0) {
        semaphore->cv.notify_one();
        return 1;
    }
    return 0;
}
