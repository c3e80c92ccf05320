// Dispatch throughput against a plain thread pool, and the main-queue round trip.
//
// (a) N empty blocks to the global default queue, waited for with a group;
// (b) the same N empty tasks on a plain pool of as many threads (one mutex, one condition
//     variable, one queue), waited for with a counter;
// (c) a worker thread hands a block to the main queue and waits until the main run loop, pumped
//     by this program's main thread, has run it: the time from the submit until the worker is
//     running again, measured on the worker; back to back (the main loop active) and from idle
//     (the main thread asleep in its run loop when the block arrives).

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/RatioReporter.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSRunLoop.h"

namespace {

constexpr int kBlocks = 10000;

unsigned poolSize() {
    return std::max(1u, std::thread::hardware_concurrency());
}

// ---- (a) dispatch ------------------------------------------------------------------------------

void BM_DispatchAsyncGlobal(benchmark::State& state) {
    auto queue = dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT);
    auto group = dispatch_group_create();
    for (auto _ : state) {
        for (int i = 0; i < kBlocks; ++i) dispatch_group_async(group, queue, [] {});
        dispatch_group_wait(group, DISPATCH_TIME_FOREVER);
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
}
BENCHMARK(BM_DispatchAsyncGlobal)->UseRealTime()->MinTime(1.0);

// ---- (b) a plain pool --------------------------------------------------------------------------

class PlainPool {
  public:
    explicit PlainPool(unsigned threads) {
        for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
    }
    ~PlainPool() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        cv_.notify_all();
        for (auto& t : workers_) t.join();
    }
    void submit(std::function<void()> task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        cv_.notify_one();
    }

  private:
    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            cv_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) return;
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

// A countdown the pool's tasks finish, like a group.
struct Countdown {
    std::atomic<int> left{0};
    std::mutex mutex;
    std::condition_variable cv;
    void done() {
        if (left.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            std::lock_guard lock(mutex);
            cv.notify_all();
        }
    }
    void wait() {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return left.load(std::memory_order_acquire) == 0; });
    }
};

void BM_PlainPool(benchmark::State& state) {
    PlainPool pool(poolSize());
    Countdown countdown;
    for (auto _ : state) {
        countdown.left = kBlocks;
        for (int i = 0; i < kBlocks; ++i) {
            std::function<void()> empty = [] {};
            pool.submit([&countdown, empty = std::move(empty)] {
                empty();
                countdown.done();
            });
        }
        countdown.wait();
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
}
BENCHMARK(BM_PlainPool)->UseRealTime()->MinTime(1.0);

// ---- (c) main-queue round trip -----------------------------------------------------------------

constexpr int kTripsPerBatch = 1000;

// The harness both round trips share: once per iteration a worker thread runs `measure`, which
// returns the seconds it timed, while this (the main) thread pumps the main run loop until the
// worker is done. The time is the worker's, so the pumping itself is not counted.
void measureOnWorkerWhileMainLoopRuns(benchmark::State& state, const std::function<double()>& measure) {
    auto loop = NSRunLoop::mainRunLoop();
    auto start = dispatch_semaphore_create(0);
    std::atomic<bool> quit{false};
    std::atomic<bool> done{false};
    std::atomic<double> seconds{0};
    std::thread worker([&] {
        for (;;) {
            dispatch_semaphore_wait(start, DISPATCH_TIME_FOREVER);
            if (quit) return;
            seconds = measure();
            done = true;
            loop->wakeUp();
        }
    });
    for (auto _ : state) {
        done = false;
        dispatch_semaphore_signal(start);
        while (!done) loop->runOnce(NSDefaultRunLoopMode, 0.05);
        state.SetIterationTime(seconds);
    }
    quit = true;
    dispatch_semaphore_signal(start);
    worker.join();
}

// Seconds for `trips` main-queue round trips in a row, measured on the calling worker.
double timeRoundTrips(int trips, const dispatch_semaphore_t& back) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < trips; ++i) {
        dispatch_async(dispatch_get_main_queue(), [&] { dispatch_semaphore_signal(back); });
        dispatch_semaphore_wait(back, DISPATCH_TIME_FOREVER);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Back to back: a worker makes kTripsPerBatch round trips in a row while the main thread runs its
// run loop; the time per batch is measured on the worker. This is the hand-off cost while the main
// loop is active (bursts of completions).
void BM_MainQueueRoundTrip(benchmark::State& state) {
    auto back = dispatch_semaphore_create(0);
    measureOnWorkerWhileMainLoopRuns(state, [&] { return timeRoundTrips(kTripsPerBatch, back); });
    state.SetItemsProcessed(state.iterations() * kTripsPerBatch);
}
BENCHMARK(BM_MainQueueRoundTrip)->UseManualTime()->MinTime(1.0);

// From idle: each round trip starts while the main loop has gone to sleep (the worker waits
// 200 us first), so it includes waking the sleeping main thread.
void BM_MainQueueRoundTripFromIdle(benchmark::State& state) {
    auto back = dispatch_semaphore_create(0);
    measureOnWorkerWhileMainLoopRuns(state, [&] {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        return timeRoundTrips(1, back);
    });
}
BENCHMARK(BM_MainQueueRoundTripFromIdle)->UseManualTime()->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (reporter.printRatio("dispatch_async_vs_pool", "BM_DispatchAsyncGlobal", "BM_PlainPool", "ns")) {
        std::printf("dispatch_async_ns_per_block %.1f\n", *reporter.time("BM_DispatchAsyncGlobal") / kBlocks);
        std::printf("plain_pool_ns_per_block %.1f\n", *reporter.time("BM_PlainPool") / kBlocks);
    }
    if (auto trip = reporter.time("BM_MainQueueRoundTrip"))
        std::printf("main_queue_roundtrip_us %.2f\n", *trip / kTripsPerBatch / 1000.0);
    if (auto idleTrip = reporter.time("BM_MainQueueRoundTripFromIdle"))
        std::printf("main_queue_roundtrip_from_idle_us %.2f\n", *idleTrip / 1000.0);
    benchmark::Shutdown();
    return 0;
}
