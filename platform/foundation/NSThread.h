#pragma once
// Threads.
//
// Every thread has an NSThread: the ones started here, the process's main thread and any other
// thread (dispatch workers, plain std::threads), whose wrapper is made the first time the thread
// asks for currentThread(). The wrapper lives as long as the thread (and as long as anyone holds
// it). Each thread owns one run loop, made on first use (NSRunLoop::currentRunLoop()).
//
// Thread safety: every member may be called from any thread. The thread dictionary is meant for
// its own thread, as on the platform.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include <pthread.h>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

class NSRunLoop;

class NSThread : public NSObject {
  public:
    using Entry = std::function<void()>;

    // A thread that runs entry once started. start() it, or use detachNewThreadWithBlock().
    explicit NSThread(Entry entry = nullptr);
    ~NSThread() override;
    std::string className() const override { return "NSThread"; }
    // "<NSThread: 0x...>{number = 3, name = worker}"
    std::string description() const override;

    // The calling thread's wrapper (never null).
    static Ref<NSThread> currentThread();
    static Ref<NSThread> mainThread();
    // Whether the calling thread is the process's main thread.
    static bool isMainThread();
    // Whether this thread is the main thread (the instance property; named apart from the class
    // method because C++ cannot overload on static-ness).
    bool isMain() const { return isMain_; }

    // Makes and starts a thread running block.
    static Ref<NSThread> detachNewThreadWithBlock(Entry block);
    // Blocks the calling thread for real time (it is never the platform clock: nothing advances
    // a manual clock while the caller sleeps).
    static void sleepForTimeInterval(double seconds);

    // Starts the thread; later calls do nothing. Not for wrappers of threads that already run.
    void start();

    // The name shows in log lines and, cut to 15 bytes, in the system's thread list.
    std::string name() const;
    void setName(const std::string& name);

    // Per-thread values (a mutable dictionary shared by reference).
    Dictionary threadDictionary() const { return threadDictionary_; }

    bool isExecuting() const { return executing_.load(std::memory_order_acquire); }
    bool isFinished() const { return finished_.load(std::memory_order_acquire); }
    bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }
    // Only sets the flag; the entry function looks at it.
    void cancel() { cancelled_.store(true, std::memory_order_release); }

    // A small number for log lines: 1 for the main thread, then in order of first sight.
    std::uint64_t number() const { return number_; }

    // The thread's run loop, made on first use. Any thread may ask for it (to perform work on
    // it); only the owning thread runs it.
    Ref<NSRunLoop> runLoop();

  private:
    struct ForeignTag {};

  public:
    // Wrapper of an already running thread (the main thread or a foreign one); internal.
    NSThread(ForeignTag, bool isMain);
    static Ref<NSThread> makeWrapperForCallingThread(bool isMain);

  private:
    void applyNameLocked();
    void threadMain();

    Entry entry_;
    const bool isMain_ = false;
    const std::uint64_t number_;
    Dictionary threadDictionary_ = Dictionary::mutableDictionary();

    mutable std::mutex mutex_;  // guards what follows
    std::string name_;
    pthread_t handle_{};
    bool alive_ = false;  // handle_ refers to a running thread
    bool started_ = false;
    Ref<NSRunLoop> runLoop_;

    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> cancelled_{false};
};
