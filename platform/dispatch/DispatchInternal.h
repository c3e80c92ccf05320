#pragma once
// Internals shared by the dispatch sources: the queue object, the worker pool, the main queue,
// the timer wheel and the per-thread record of the queue being run. Not for use outside
// platform/dispatch.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dispatch/Dispatch.h"
#include "dispatch/SpinWait.h"

namespace detail {

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// A mutex for very short critical sections that two threads hit back to back (the main queue):
// it spins briefly before sleeping, since putting a thread to sleep and waking it costs far more
// than the section it waits for.
class AdaptiveMutex {
  public:
    void lock() {
        for (int i = 0; i < 256; ++i) {
            if (mutex_.try_lock()) return;
            cpuRelax();
        }
        mutex_.lock();
    }
    bool try_lock() { return mutex_.try_lock(); }
    void unlock() { mutex_.unlock(); }

  private:
    std::mutex mutex_;
};

// One thread parked until the queue it waits for hands it the right to run (dispatch_sync).
class SyncWaiter {
  public:
    void grant() {
        std::lock_guard lock(mutex_);
        granted_ = true;
        cv_.notify_one();
    }
    void wait();

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool granted_ = false;
};

// A block waiting in a serial or concurrent queue, or on the main queue.
struct QueueItem {
    dispatch_block_t block;
    SyncWaiter* waiter = nullptr;  // dispatch_sync: the caller runs the block itself
    bool barrier = false;
};

// The queue a thread is running a block for, innermost first; dispatch_sync pushes a frame.
struct QueueFrame {
    dispatch_queue_s* queue;
    QueueFrame* outer;
};
QueueFrame*& currentFrame();

class FrameScope {
  public:
    explicit FrameScope(dispatch_queue_s* queue) : frame_{queue, currentFrame()} { currentFrame() = &frame_; }
    ~FrameScope() { currentFrame() = frame_.outer; }
    FrameScope(const FrameScope&) = delete;
    FrameScope& operator=(const FrameScope&) = delete;

  private:
    QueueFrame frame_;
};

// Priority bands of the pool, most urgent first.
enum Band { kBandHigh = 0, kBandDefault = 1, kBandLow = 2, kBandBackground = 3, kBandCount = 4 };
int bandForPriority(long priority);

// A unit of pool work: a block of a global or concurrent queue, or the drain of a serial queue.
struct Job {
    dispatch_block_t block;
    dispatch_queue_s* queue = nullptr;
    std::shared_ptr<dispatch_queue_s> keepAlive;  // empty for the never-destroyed global queues
    bool barrier = false;
};

class WorkerPool {
  public:
    static WorkerPool& shared();
    void submit(int band, Job job);
    // Called around blocking waits; on a worker thread they let the pool add a worker so that
    // queued work is not starved by blocked ones.
    void blockingBegin();
    void blockingEnd();
    static bool onWorkerThread();

    struct Stats {
        int threads, idle, blocked, normal, cap;
    };
    Stats stats();

  private:
    WorkerPool();
    void spawnLocked();
    void workerLoop();
    static void runJob(Job& job);

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Job> bands_[kBandCount];
    std::size_t pending_ = 0;
    // pending_, readable without the lock by spinning workers.
    std::atomic<std::size_t> pendingHint_{0};
    int threads_ = 0;
    int idle_ = 0;
    // Idle workers looking for work before they sleep, not yet promised a job; and how many of
    // the spinners a submit has counted on to take its job instead of waking a sleeper.
    int spinners_ = 0;
    int claimed_ = 0;
    int blocked_ = 0;
    int normal_ = 1;
    int cap_ = 65;
};

// Nanoseconds on the platform clock's monotonic scale (the scale of dispatch_time_t).
std::uint64_t nowNanos();
// Real-time nanoseconds left until a dispatch_time_t deadline, measured now; negative or zero
// when it has passed.
std::int64_t nanosUntil(dispatch_time_t deadline);

// The main queue's own state: a FIFO drained by the main run loop and a heap of delayed blocks.
void mainQueueSignalIfDue();
std::int64_t mainQueueNextDeadline();  // -1 when none

// The timer wheel: dispatch_after on pool queues and timer sources.
void timerWheelAdd(dispatch_time_t deadline, dispatch_queue_t queue, dispatch_block_t block);
void timerWheelAddSource(dispatch_time_t deadline, dispatch_source_t source, std::uint64_t generation);
std::int64_t timerWheelNextDeadline();  // -1 when none

}  // namespace detail

struct dispatch_queue_s : std::enable_shared_from_this<dispatch_queue_s> {
    enum class Kind { Main, Global, Serial, Concurrent };
    dispatch_queue_s(Kind kind, std::string label, int band)
        : kind(kind), label(std::move(label)), band(band) {}

    const Kind kind;
    const std::string label;
    const int band;

    std::mutex mutex;
    std::map<const void*, void*> specifics;
    std::deque<detail::QueueItem> items;
    int suspendCount = 0;
    // Serial: a drainer or a dispatch_sync caller holds the queue.
    bool active = false;
    // Concurrent: blocks started and not yet finished; whether one of them is a barrier.
    int running = 0;
    bool barrierRunning = false;

    void async(dispatch_block_t block, bool barrier);
    void sync(const dispatch_block_t& block, bool barrier);
    void suspend();
    void resume();

    // Worker-side entry points.
    void drainSerial();
    void concurrentFinished(bool barrier);

  private:
    void finishSyncOwner();
    void startReadyLocked(std::vector<detail::QueueItem>& started);
    void launch(std::vector<detail::QueueItem>& started);
};
