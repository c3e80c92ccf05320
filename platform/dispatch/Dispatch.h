#pragma once
// Dispatch queues, groups, semaphores, once, delayed work and timer sources.
//
// Guarantees:
// - A serial queue runs its blocks one at a time, in submission order (FIFO).
// - A concurrent queue runs blocks in parallel on the worker pool; a barrier block waits for
//   everything submitted before it and holds back everything submitted after it.
// - The main queue is drained by the main thread's run loop (it polls mainQueueHandle() and calls
//   dispatch_main_queue_drain()); dispatch_async to it is a thread-safe submit from any thread.
// - dispatch_sync onto the queue the caller is already running on (or any queue whose work the
//   caller is part of) deadlocks, as on the platform; queue-specific values let code test first.
// - dispatch_after and timer sources measure their delays on the platform clock (PlatformClock),
//   so a test on the manual clock fires them by advancing it. Semaphore and group waits keep real
//   time.
// - The worker pool grows past its normal size when all workers are blocked in waits (a block
//   waiting on a semaphore must not starve the rest), up to a hard cap. Other libraries mark
//   their own blocking waits with DispatchBlockingScope (dispatch/DispatchBlocking.h).
// - dispatch_sync runs the block on the calling thread once the queue grants it its turn, so the
//   block sees the caller's thread (its thread-local state, its being the main thread or not).
//   dispatch_sync onto the main queue from the main thread runs the block at once instead of
//   hanging. A dispatch_sync that would wait for itself on a serial queue stops the process with
//   a message rather than hang silently.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

using dispatch_block_t = std::function<void()>;

struct dispatch_queue_s;
struct dispatch_group_s;
struct dispatch_semaphore_s;
struct dispatch_source_s;
using dispatch_queue_t = std::shared_ptr<dispatch_queue_s>;
using dispatch_group_t = std::shared_ptr<dispatch_group_s>;
using dispatch_semaphore_t = std::shared_ptr<dispatch_semaphore_s>;
using dispatch_source_t = std::shared_ptr<dispatch_source_s>;

// ---- time -------------------------------------------------------------------------------------
// A dispatch_time_t is a point on the platform clock's monotonic scale, in nanoseconds.
using dispatch_time_t = std::uint64_t;
inline constexpr dispatch_time_t DISPATCH_TIME_NOW = 0;
inline constexpr dispatch_time_t DISPATCH_TIME_FOREVER = ~0ull;
inline constexpr std::uint64_t NSEC_PER_SEC = 1000000000ull;
inline constexpr std::uint64_t NSEC_PER_MSEC = 1000000ull;
inline constexpr std::uint64_t NSEC_PER_USEC = 1000ull;
inline constexpr std::uint64_t USEC_PER_SEC = 1000000ull;
// `when` plus delta nanoseconds; DISPATCH_TIME_NOW means the clock's current reading.
dispatch_time_t dispatch_time(dispatch_time_t when, std::int64_t delta);

// ---- queues -----------------------------------------------------------------------------------
enum : long {
    DISPATCH_QUEUE_PRIORITY_HIGH = 2,
    DISPATCH_QUEUE_PRIORITY_DEFAULT = 0,
    DISPATCH_QUEUE_PRIORITY_LOW = -2,
    DISPATCH_QUEUE_PRIORITY_BACKGROUND = -32768,
};
enum class dispatch_queue_attr_t { serial, concurrent };
inline constexpr dispatch_queue_attr_t DISPATCH_QUEUE_SERIAL = dispatch_queue_attr_t::serial;
inline constexpr dispatch_queue_attr_t DISPATCH_QUEUE_CONCURRENT = dispatch_queue_attr_t::concurrent;

dispatch_queue_t dispatch_get_main_queue();
dispatch_queue_t dispatch_get_global_queue(long priority, unsigned long flags = 0);
dispatch_queue_t dispatch_queue_create(const char* label, dispatch_queue_attr_t attr = DISPATCH_QUEUE_SERIAL);
// "" for a queue made without a label. Never null for a live queue.
const char* dispatch_queue_get_label(const dispatch_queue_t& queue);

void dispatch_async(const dispatch_queue_t& queue, dispatch_block_t block);
void dispatch_sync(const dispatch_queue_t& queue, const dispatch_block_t& block);
void dispatch_barrier_async(const dispatch_queue_t& queue, dispatch_block_t block);
void dispatch_barrier_sync(const dispatch_queue_t& queue, const dispatch_block_t& block);
void dispatch_after(dispatch_time_t when, const dispatch_queue_t& queue, dispatch_block_t block);
// Suspends and resumes a queue's start of new blocks (counted).
void dispatch_suspend(const dispatch_queue_t& queue);
void dispatch_resume(const dispatch_queue_t& queue);

// Queue-specific values: "am I on this queue?". dispatch_get_specific looks at the queue running
// the current block (nullptr when none or no value).
void dispatch_queue_set_specific(const dispatch_queue_t& queue, const void* key, void* context);
void* dispatch_queue_get_specific(const dispatch_queue_t& queue, const void* key);
void* dispatch_get_specific(const void* key);

// ---- the main thread and the main queue's run-loop hook ----------------------------------------
// The process's main thread (the one that started the program).
bool dispatch_is_main_thread();
// A file descriptor that becomes readable when main-queue work (or a due timer for it) is
// pending; the main run loop polls it.
int dispatch_main_queue_handle();
// Runs the main-queue blocks that are due now, in order; called on the main thread by its run
// loop. Returns the number of blocks run.
int dispatch_main_queue_drain();
// Whether main-queue blocks are waiting to run, read without a lock or a system call (the run
// loop's quick look before it sleeps; the handle stays the authority).
bool dispatch_main_queue_pending();
// Seconds until the next delayed main-queue block is due, or a negative number when none is
// scheduled. The run loop uses it to bound its wait.
double dispatch_main_queue_next_due();
// Seconds until the earliest deadline of any dispatch_after block or timer source, on any queue
// (0 when one is already due), or a negative number when none is scheduled. Test support uses it
// to step the manual clock from deadline to deadline.
double dispatch_timers_next_due();

// ---- groups -----------------------------------------------------------------------------------
dispatch_group_t dispatch_group_create();
void dispatch_group_enter(const dispatch_group_t& group);
void dispatch_group_leave(const dispatch_group_t& group);
void dispatch_group_async(const dispatch_group_t& group, const dispatch_queue_t& queue,
                          dispatch_block_t block);
// Runs block on queue once every entered unit has left (at once when the group is empty).
void dispatch_group_notify(const dispatch_group_t& group, const dispatch_queue_t& queue,
                           dispatch_block_t block);
// 0 when the group emptied, non-zero on time-out. Real time.
long dispatch_group_wait(const dispatch_group_t& group, dispatch_time_t timeout);

// ---- semaphores -------------------------------------------------------------------------------
dispatch_semaphore_t dispatch_semaphore_create(long value);
// 0 on success, non-zero on time-out. Real time.
long dispatch_semaphore_wait(const dispatch_semaphore_t& semaphore, dispatch_time_t timeout);
// Non-zero when a waiter was woken.
long dispatch_semaphore_signal(const dispatch_semaphore_t& semaphore);

// ---- once -------------------------------------------------------------------------------------
using dispatch_once_t = std::once_flag;
inline void dispatch_once(dispatch_once_t* predicate, const dispatch_block_t& block) {
    std::call_once(*predicate, block);
}

// ---- timer sources ----------------------------------------------------------------------------
enum class dispatch_source_type_t { timer };
inline constexpr dispatch_source_type_t DISPATCH_SOURCE_TYPE_TIMER = dispatch_source_type_t::timer;
// Created suspended; call dispatch_resume(source) to start it.
dispatch_source_t dispatch_source_create(dispatch_source_type_t type, std::uintptr_t handle,
                                         unsigned long mask, const dispatch_queue_t& queue);
void dispatch_source_set_timer(const dispatch_source_t& source, dispatch_time_t start, std::uint64_t interval,
                               std::uint64_t leeway);
void dispatch_source_set_event_handler(const dispatch_source_t& source, dispatch_block_t handler);
void dispatch_source_set_cancel_handler(const dispatch_source_t& source, dispatch_block_t handler);
void dispatch_resume(const dispatch_source_t& source);
void dispatch_suspend(const dispatch_source_t& source);
void dispatch_source_cancel(const dispatch_source_t& source);
long dispatch_source_testcancel(const dispatch_source_t& source);
