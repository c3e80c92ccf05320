// Queues and the worker pool.
//
// Serial and concurrent queues are not bound to threads: a serial queue with work puts one drain
// job on the pool, a concurrent queue puts one job per started block. dispatch_sync runs the block
// on the caller's thread: it either finds the queue idle and holds it, or queues a waiter that
// the queue grants when its turn comes.

#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <queue>
#include <thread>

#include "dispatch/Clock.h"
#include "dispatch/DispatchBlocking.h"
#include "dispatch/DispatchInternal.h"

namespace detail {

namespace {

thread_local QueueFrame* tlsFrame = nullptr;
thread_local bool tlsIsWorker = false;

[[noreturn]] void fatal(const char* message) {
    std::fprintf(stderr, "dispatch: %s\n", message);
    std::fflush(stderr);
    std::abort();
}

bool frameChainContains(const dispatch_queue_s* queue) {
    for (auto frame = tlsFrame; frame; frame = frame->outer) {
        if (frame->queue == queue) return true;
    }
    return false;
}

void runBlock(dispatch_queue_s* queue, const dispatch_block_t& block) {
    FrameScope scope(queue);
    if (block) block();
}

// Idle workers beyond the normal size leave after this long without work.
constexpr auto kIdleExtraWorkerLifetime = std::chrono::seconds(5);
// A serial queue yields its worker after this many blocks, so one busy queue cannot hold a
// worker forever while others wait.
constexpr int kSerialBatch = 64;

}  // namespace

QueueFrame*& currentFrame() {
    return tlsFrame;
}

void SyncWaiter::wait() {
    DispatchBlockingScope blocking;
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return granted_; });
}

int bandForPriority(long priority) {
    if (priority >= DISPATCH_QUEUE_PRIORITY_HIGH) return kBandHigh;
    if (priority > DISPATCH_QUEUE_PRIORITY_LOW) return kBandDefault;
    if (priority > DISPATCH_QUEUE_PRIORITY_BACKGROUND) return kBandLow;
    return kBandBackground;
}

// ---- worker pool ---------------------------------------------------------------------------

WorkerPool& WorkerPool::shared() {
    // Never destroyed: detached workers may still be parked in it when the process exits.
    static WorkerPool* pool = new WorkerPool();
    return *pool;
}

WorkerPool::WorkerPool() {
    normal_ = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    cap_ = 64 + normal_;
}

bool WorkerPool::onWorkerThread() {
    return tlsIsWorker;
}

WorkerPool::Stats WorkerPool::stats() {
    std::lock_guard lock(mutex_);
    return Stats{threads_, idle_, blocked_, normal_, cap_};
}

void WorkerPool::spawnLocked() {
    ++threads_;
    std::thread([this] { workerLoop(); }).detach();
}

void WorkerPool::submit(int band, Job job) {
    bool notify = false;
    {
        std::lock_guard lock(mutex_);
        bands_[band].push_back(std::move(job));
        ++pending_;
        pendingHint_.store(pending_, std::memory_order_release);
        // Every submit wakes an idle worker when there is one. Counting wake-ups in flight instead
        // loses them: a woken worker can find the job already taken by a busy one and go back to
        // sleep, and the count would then hold back the next wake-up for good. A spinning worker
        // needs no wake-up: it takes the lock and looks at pending_ before it may sleep.
        if (spinners_ > 0) {
            --spinners_;
            ++claimed_;
        } else if (idle_ > 0) {
            notify = true;
        } else if (threads_ - blocked_ < normal_ && threads_ < cap_) {
            spawnLocked();
        }
    }
    if (notify) cv_.notify_one();
}

void WorkerPool::blockingBegin() {
    if (!tlsIsWorker) return;
    std::lock_guard lock(mutex_);
    ++blocked_;
    if (pending_ > 0 && idle_ == 0 && threads_ - blocked_ < normal_ && threads_ < cap_) spawnLocked();
}

void WorkerPool::blockingEnd() {
    if (!tlsIsWorker) return;
    std::lock_guard lock(mutex_);
    --blocked_;
}

void WorkerPool::runJob(Job& job) {
    auto queue = job.queue;
    switch (queue->kind) {
        case dispatch_queue_s::Kind::Serial:
            queue->drainSerial();
            break;
        case dispatch_queue_s::Kind::Concurrent:
            runBlock(queue, job.block);
            job.block = nullptr;  // captured state goes before the queue moves on
            queue->concurrentFinished(job.barrier);
            break;
        default:
            runBlock(queue, job.block);
            break;
    }
}

void WorkerPool::workerLoop() {
    tlsIsWorker = true;
    AdaptiveSpin spin(1000, 1000000, 200000);
    std::unique_lock lock(mutex_);
    for (;;) {
        if (pending_ > 0) {
            Job job;
            for (auto& band : bands_) {
                if (!band.empty()) {
                    job = std::move(band.front());
                    band.pop_front();
                    break;
                }
            }
            --pending_;
            pendingHint_.store(pending_, std::memory_order_release);
            lock.unlock();
            runJob(job);
            job = Job();  // release the block's captures outside the pool lock
            lock.lock();
            continue;
        }
        // Look for work a little before sleeping: in a quick exchange the next block usually
        // comes within microseconds.
        ++spinners_;
        lock.unlock();
        std::int64_t start = spinClockNanos();
        bool found =
            spin.spin(start, INT64_MAX, [&] { return pendingHint_.load(std::memory_order_acquire) > 0; });
        lock.lock();
        if (claimed_ > 0) {
            --claimed_;
        } else {
            --spinners_;
        }
        if (found || pending_ > 0) {
            spin.finished(spinClockNanos() - start);
            continue;
        }
        ++idle_;
        bool woke = cv_.wait_for(lock, kIdleExtraWorkerLifetime, [&] { return pending_ > 0; });
        --idle_;
        if (woke) spin.finished(spinClockNanos() - start);
        if (!woke && threads_ - blocked_ > normal_) {
            --threads_;
            return;
        }
    }
}

// ---- time ----------------------------------------------------------------------------------

std::uint64_t nowNanos() {
    auto n = PlatformClock::monotonicNanoseconds();
    return n <= 0 ? 1 : static_cast<std::uint64_t>(n);
}

std::int64_t nanosUntil(dispatch_time_t deadline) {
    if (deadline == DISPATCH_TIME_NOW) return 0;
    auto now = nowNanos();
    if (deadline <= now) return 0;
    auto left = deadline - now;
    return left > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(left);
}

}  // namespace detail

using detail::QueueItem;
using detail::WorkerPool;

// ---- serial and concurrent queues ------------------------------------------------------------

void dispatch_queue_s::async(dispatch_block_t block, bool barrier) {
    if (kind == Kind::Global) {
        WorkerPool::shared().submit(band, detail::Job{std::move(block), this, nullptr, false});
        return;
    }
    if (kind == Kind::Serial) {
        bool schedule = false;
        {
            std::lock_guard lock(mutex);
            items.push_back(QueueItem{std::move(block), nullptr, false});
            if (!active && suspendCount == 0) {
                active = true;
                schedule = true;
            }
        }
        if (schedule)
            WorkerPool::shared().submit(band, detail::Job{nullptr, this, shared_from_this(), false});
        return;
    }
    // Concurrent.
    std::vector<QueueItem> started;
    {
        std::lock_guard lock(mutex);
        items.push_back(QueueItem{std::move(block), nullptr, barrier});
        startReadyLocked(started);
    }
    launch(started);
}

void dispatch_queue_s::startReadyLocked(std::vector<QueueItem>& started) {
    while (!items.empty() && suspendCount == 0 && !barrierRunning) {
        auto& front = items.front();
        if (front.barrier) {
            if (running > 0) break;
            barrierRunning = true;
            ++running;
            started.push_back(std::move(front));
            items.pop_front();
            break;
        }
        ++running;
        started.push_back(std::move(front));
        items.pop_front();
    }
}

void dispatch_queue_s::launch(std::vector<QueueItem>& started) {
    for (auto& item : started) {
        if (item.waiter) {
            item.waiter->grant();
        } else {
            WorkerPool::shared().submit(
                band, detail::Job{std::move(item.block), this, shared_from_this(), item.barrier});
        }
    }
}

void dispatch_queue_s::concurrentFinished(bool barrier) {
    std::vector<QueueItem> started;
    {
        std::lock_guard lock(mutex);
        --running;
        if (barrier) barrierRunning = false;
        startReadyLocked(started);
    }
    launch(started);
}

void dispatch_queue_s::drainSerial() {
    for (int n = 0;; ++n) {
        QueueItem item;
        {
            std::lock_guard lock(mutex);
            if (items.empty() || suspendCount > 0) {
                active = false;
                return;
            }
            if (n >= detail::kSerialBatch) break;
            item = std::move(items.front());
            items.pop_front();
        }
        if (item.waiter) {
            // The queue now belongs to the dispatch_sync caller, which gives it back when done.
            item.waiter->grant();
            return;
        }
        detail::runBlock(this, item.block);
    }
    // Still active: give the worker back and continue as a new job.
    WorkerPool::shared().submit(band, detail::Job{nullptr, this, shared_from_this(), false});
}

void dispatch_queue_s::finishSyncOwner() {
    bool schedule = false;
    {
        std::lock_guard lock(mutex);
        if (!items.empty() && suspendCount == 0) {
            schedule = true;
        } else {
            active = false;
        }
    }
    if (schedule) WorkerPool::shared().submit(band, detail::Job{nullptr, this, shared_from_this(), false});
}

void dispatch_queue_s::sync(const dispatch_block_t& block, bool barrier) {
    if (kind == Kind::Global) {
        detail::runBlock(this, block);
        return;
    }
    if (kind == Kind::Serial) {
        if (detail::frameChainContains(this)) {
            detail::fatal("dispatch_sync onto a serial queue from a block already running on it deadlocks");
        }
        detail::SyncWaiter waiter;
        bool mustWait = false;
        {
            std::lock_guard lock(mutex);
            if (!active && suspendCount == 0 && items.empty()) {
                active = true;
            } else {
                items.push_back(QueueItem{nullptr, &waiter, false});
                mustWait = true;
            }
        }
        if (mustWait) waiter.wait();
        detail::runBlock(this, block);
        finishSyncOwner();
        return;
    }
    // Concurrent.
    if (barrier && detail::frameChainContains(this)) {
        detail::fatal("dispatch_barrier_sync onto a concurrent queue from a block running on it deadlocks");
    }
    detail::SyncWaiter waiter;
    bool mustWait = false;
    {
        std::lock_guard lock(mutex);
        bool free = items.empty() && suspendCount == 0 && !barrierRunning && (!barrier || running == 0);
        if (free) {
            ++running;
            if (barrier) barrierRunning = true;
        } else {
            items.push_back(QueueItem{nullptr, &waiter, barrier});
            mustWait = true;
        }
    }
    if (mustWait) waiter.wait();
    detail::runBlock(this, block);
    concurrentFinished(barrier);
}

void dispatch_queue_s::suspend() {
    std::lock_guard lock(mutex);
    ++suspendCount;
}

void dispatch_queue_s::resume() {
    std::vector<QueueItem> started;
    bool schedule = false;
    {
        std::lock_guard lock(mutex);
        if (suspendCount == 0) detail::fatal("dispatch_resume of a queue that is not suspended");
        if (--suspendCount > 0) return;
        if (kind == Kind::Serial) {
            if (!active && !items.empty()) {
                active = true;
                schedule = true;
            }
        } else if (kind == Kind::Concurrent) {
            startReadyLocked(started);
        }
    }
    if (schedule) WorkerPool::shared().submit(band, detail::Job{nullptr, this, shared_from_this(), false});
    launch(started);
}

// ---- the main queue --------------------------------------------------------------------------

namespace {

struct DelayedBlock {
    dispatch_time_t deadline;
    std::uint64_t seq;
    dispatch_block_t block;
};
struct LaterFirst {
    bool operator()(const DelayedBlock& a, const DelayedBlock& b) const {
        return a.deadline != b.deadline ? a.deadline > b.deadline : a.seq > b.seq;
    }
};

struct MainQueue {
    dispatch_queue_t queue = std::make_shared<dispatch_queue_s>(dispatch_queue_s::Kind::Main,
                                                                "dispatch.main-thread", detail::kBandHigh);
    int eventFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    detail::AdaptiveMutex mutex;  // guards what follows
    std::deque<QueueItem> items;
    std::priority_queue<DelayedBlock, std::vector<DelayedBlock>, LaterFirst> delayed;
    std::uint64_t seq = 0;
    // Written under the mutex, read without it by the drain's fast path. Invariant: while blocks
    // wait in `items` and the queue is not suspended, `signaled` is true.
    std::atomic<bool> signaled{false};
    std::atomic<std::uint64_t> nextDelayed{DISPATCH_TIME_FOREVER};

    void signalLocked() {
        if (signaled.load(std::memory_order_relaxed)) return;
        signaled.store(true, std::memory_order_release);
        std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(eventFd, &one, sizeof one);
    }
    // The descriptor is written only while `signaled` is false, so it is readable exactly while
    // `signaled` is true: a drain with nothing signalled needs no system call.
    void clearSignalLocked() {
        if (!signaled.load(std::memory_order_relaxed)) return;
        std::uint64_t value;
        [[maybe_unused]] auto n = ::read(eventFd, &value, sizeof value);
        signaled.store(false, std::memory_order_release);
    }
    void pushDelayedLocked(DelayedBlock block) {
        delayed.push(std::move(block));
        nextDelayed.store(delayed.top().deadline, std::memory_order_release);
    }
    // Moves due delayed blocks to the FIFO, earliest first.
    void promoteDueLocked() {
        if (delayed.empty()) return;
        auto now = detail::nowNanos();
        while (!delayed.empty() && delayed.top().deadline <= now) {
            items.push_back(
                QueueItem{std::move(const_cast<DelayedBlock&>(delayed.top()).block), nullptr, false});
            delayed.pop();
        }
        nextDelayed.store(delayed.empty() ? DISPATCH_TIME_FOREVER : delayed.top().deadline,
                          std::memory_order_release);
    }
    // Whether a drain may find anything to do, without taking the mutex.
    bool mayHaveWork() const {
        if (signaled.load(std::memory_order_acquire)) return true;
        auto next = nextDelayed.load(std::memory_order_acquire);
        return next != DISPATCH_TIME_FOREVER && next <= detail::nowNanos();
    }
    bool suspended() const { return queue->suspendCount > 0; }
};

MainQueue& mainQueue() {
    static MainQueue* main = new MainQueue();
    return *main;
}

pid_t mainThreadId() {
    static const pid_t pid = ::getpid();
    return pid;
}

}  // namespace

namespace detail {

void mainQueueSignalIfDue() {
    auto& main = mainQueue();
    std::lock_guard lock(main.mutex);
    if (!main.delayed.empty() && main.delayed.top().deadline <= nowNanos()) main.signalLocked();
}

std::int64_t mainQueueNextDeadline() {
    auto& main = mainQueue();
    std::lock_guard lock(main.mutex);
    if (!main.delayed.empty()) return static_cast<std::int64_t>(main.delayed.top().deadline);
    return -1;
}

void mainQueueAddDelayed(dispatch_time_t when, dispatch_block_t block) {
    auto& main = mainQueue();
    std::lock_guard lock(main.mutex);
    main.pushDelayedLocked(DelayedBlock{when, main.seq++, std::move(block)});
    if (when <= nowNanos() && !main.suspended()) main.signalLocked();
}

}  // namespace detail

namespace {

void mainQueueAsync(dispatch_block_t block) {
    auto& main = mainQueue();
    std::lock_guard lock(main.mutex);
    main.items.push_back(QueueItem{std::move(block), nullptr, false});
    if (!main.suspended()) main.signalLocked();
}

void mainQueueSync(const dispatch_block_t& block) {
    if (dispatch_is_main_thread()) {
        // Waiting for ourselves would never end; the block runs now instead.
        detail::runBlock(mainQueue().queue.get(), block);
        return;
    }
    detail::SyncWaiter waiter;
    auto& main = mainQueue();
    {
        std::lock_guard lock(main.mutex);
        main.items.push_back(QueueItem{block, &waiter, false});
        if (!main.suspended()) main.signalLocked();
    }
    waiter.wait();
}

}  // namespace

bool dispatch_is_main_thread() {
    thread_local const bool isMain = static_cast<pid_t>(::syscall(SYS_gettid)) == mainThreadId();
    return isMain;
}

int dispatch_main_queue_handle() {
    return mainQueue().eventFd;
}

bool dispatch_main_queue_pending() {
    return mainQueue().signaled.load(std::memory_order_acquire);
}

int dispatch_main_queue_drain() {
    if (!dispatch_is_main_thread()) return 0;
    auto& main = mainQueue();
    // The run loop calls this on every pass: stay off the submitters' mutex when idle.
    if (!main.mayHaveWork()) return 0;
    std::size_t budget;
    {
        std::lock_guard lock(main.mutex);
        main.promoteDueLocked();
        main.clearSignalLocked();
        if (main.suspended()) return 0;
        budget = main.items.size();
    }
    // One block at a time from the front, so that a nested run loop inside a block keeps the
    // FIFO order; only the blocks present at the start run, so a block that re-queues itself
    // waits for the next turn.
    int ran = 0;
    for (; budget > 0; --budget) {
        QueueItem item;
        {
            std::lock_guard lock(main.mutex);
            if (main.items.empty() || main.suspended()) break;
            item = std::move(main.items.front());
            main.items.pop_front();
        }
        detail::runBlock(main.queue.get(), item.block);
        if (item.waiter) item.waiter->grant();
        ++ran;
    }
    {
        std::lock_guard lock(main.mutex);
        if (!main.items.empty() && !main.suspended()) main.signalLocked();
    }
    return ran;
}

double dispatch_main_queue_next_due() {
    auto next = detail::mainQueueNextDeadline();
    if (next < 0) return -1;
    auto left = detail::nanosUntil(static_cast<dispatch_time_t>(next));
    return static_cast<double>(left) / 1e9;
}

// ---- public queue functions ------------------------------------------------------------------

dispatch_queue_t dispatch_get_main_queue() {
    return mainQueue().queue;
}

dispatch_queue_t dispatch_get_global_queue(long priority, unsigned long) {
    static dispatch_queue_t* globals = [] {
        auto array = new dispatch_queue_t[detail::kBandCount];
        const char* names[] = {"dispatch.global.high-priority", "dispatch.global.default-priority",
                               "dispatch.global.low-priority", "dispatch.global.background-priority"};
        for (int i = 0; i < detail::kBandCount; ++i) {
            array[i] = std::make_shared<dispatch_queue_s>(dispatch_queue_s::Kind::Global, names[i], i);
        }
        return array;
    }();
    return globals[detail::bandForPriority(priority)];
}

dispatch_queue_t dispatch_queue_create(const char* label, dispatch_queue_attr_t attr) {
    auto kind = attr == DISPATCH_QUEUE_CONCURRENT ? dispatch_queue_s::Kind::Concurrent
                                                  : dispatch_queue_s::Kind::Serial;
    return std::make_shared<dispatch_queue_s>(kind, label ? label : "", detail::kBandDefault);
}

const char* dispatch_queue_get_label(const dispatch_queue_t& queue) {
    if (!queue) {
        // The platform answers the current queue's label for a null queue.
        auto frame = detail::currentFrame();
        return frame ? frame->queue->label.c_str() : "";
    }
    return queue->label.c_str();
}

void dispatch_async(const dispatch_queue_t& queue, dispatch_block_t block) {
    if (!queue) return;
    if (queue->kind == dispatch_queue_s::Kind::Main) {
        mainQueueAsync(std::move(block));
        return;
    }
    queue->async(std::move(block), false);
}

void dispatch_sync(const dispatch_queue_t& queue, const dispatch_block_t& block) {
    if (!queue) return;
    if (queue->kind == dispatch_queue_s::Kind::Main) {
        mainQueueSync(block);
        return;
    }
    queue->sync(block, false);
}

void dispatch_barrier_async(const dispatch_queue_t& queue, dispatch_block_t block) {
    if (!queue) return;
    if (queue->kind != dispatch_queue_s::Kind::Concurrent) {
        dispatch_async(queue, std::move(block));
        return;
    }
    queue->async(std::move(block), true);
}

void dispatch_barrier_sync(const dispatch_queue_t& queue, const dispatch_block_t& block) {
    if (!queue) return;
    if (queue->kind != dispatch_queue_s::Kind::Concurrent) {
        dispatch_sync(queue, block);
        return;
    }
    queue->sync(block, true);
}

void dispatch_suspend(const dispatch_queue_t& queue) {
    if (!queue || queue->kind == dispatch_queue_s::Kind::Global) return;
    if (queue->kind == dispatch_queue_s::Kind::Main) {
        std::lock_guard lock(mainQueue().mutex);
        ++queue->suspendCount;
        return;
    }
    queue->suspend();
}

void dispatch_resume(const dispatch_queue_t& queue) {
    if (!queue || queue->kind == dispatch_queue_s::Kind::Global) return;
    if (queue->kind == dispatch_queue_s::Kind::Main) {
        auto& main = mainQueue();
        std::lock_guard lock(main.mutex);
        if (queue->suspendCount == 0) detail::fatal("dispatch_resume of a queue that is not suspended");
        if (--queue->suspendCount == 0) {
            main.promoteDueLocked();
            if (!main.items.empty()) main.signalLocked();
        }
        return;
    }
    queue->resume();
}

void dispatch_queue_set_specific(const dispatch_queue_t& queue, const void* key, void* context) {
    if (!queue || !key) return;
    std::lock_guard lock(queue->mutex);
    if (context) {
        queue->specifics[key] = context;
    } else {
        queue->specifics.erase(key);
    }
}

void* dispatch_queue_get_specific(const dispatch_queue_t& queue, const void* key) {
    if (!queue || !key) return nullptr;
    std::lock_guard lock(queue->mutex);
    auto it = queue->specifics.find(key);
    return it == queue->specifics.end() ? nullptr : it->second;
}

void* dispatch_get_specific(const void* key) {
    auto frame = detail::currentFrame();
    if (!frame || !key) return nullptr;
    auto queue = frame->queue;
    std::lock_guard lock(queue->mutex);
    auto it = queue->specifics.find(key);
    return it == queue->specifics.end() ? nullptr : it->second;
}

// ---- blocking scopes -------------------------------------------------------------------------

DispatchBlockingScope::DispatchBlockingScope() {
    WorkerPool::shared().blockingBegin();
}
DispatchBlockingScope::~DispatchBlockingScope() {
    WorkerPool::shared().blockingEnd();
}

bool dispatch_on_worker_thread() {
    return WorkerPool::onWorkerThread();
}
