#pragma once
// Run loops: one per thread, made on first use, run only by its own thread.
//
// A run loop waits for work and runs it, in a mode. What it serves:
// - timers (NSTimer) added in modes; due timers fire in fire-date order (then in the order they
//   were added), each at most once per pass;
// - performs: blocks queued from any thread with the modes they may run in, run in FIFO order;
// - file-descriptor sources, for libraries that wait on sockets or pipes;
// - keep-alive ports (NSPort / NSMachPort): a port never fires, it only gives the loop a source
//   so that run() keeps waiting;
// - observers (CFRunLoopObserver) told of the loop's activities (entry, before timers, before
//   sources, before waiting, after waiting, exit), in ascending order;
// - on the MAIN run loop only: the main dispatch queue, drained in every mode, and the
//   end-of-turn hooks (layout and display) after each pass.
//
// Modes: NSDefaultRunLoopMode, UITrackingRunLoopMode (while a scroll view is dragged) and the
// pseudo-mode NSRunLoopCommonModes, which stands for every common mode (default and tracking, plus
// any added by addCommonMode()). Something added in the common modes runs in each of them; a
// default-mode timer does not fire while the loop runs in the tracking mode.
//
// Time: fire dates and run limits are on the platform clock (PlatformClock). On the manual clock
// the loop wakes whenever the clock is advanced and fires what fell due, so a test drives timers
// by advancing the clock. A run limit on the manual clock is reached only by advancing it;
// runOnce() offers a real-time bounded pass for test support.
//
// Thread safety: adding and removing timers, ports, observers and sources, performs, stop() and
// wakeUp() may come from any thread; run(), runMode(), runUntilDate() and runOnce() only from the
// loop's own thread.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "dispatch/SpinWait.h"
#include "foundation/NSDate.h"
#include "foundation/NSObject.h"

class NSTimer;
class NSThread;

inline constexpr char NSDefaultRunLoopMode[] = "kCFRunLoopDefaultMode";
inline constexpr char NSRunLoopCommonModes[] = "kCFRunLoopCommonModes";
inline constexpr char UITrackingRunLoopMode[] = "UITrackingRunLoopMode";
inline constexpr const char* kCFRunLoopDefaultMode = NSDefaultRunLoopMode;
inline constexpr const char* kCFRunLoopCommonModes = NSRunLoopCommonModes;

// A source that never fires; adding one keeps a run loop's run() going.
class NSPort : public NSObject {
  public:
    std::string className() const override { return "NSPort"; }
    static Ref<NSPort> port() { return make<NSPort>(); }
};
class NSMachPort : public NSPort {
  public:
    std::string className() const override { return "NSMachPort"; }
    static Ref<NSPort> port() { return make<NSMachPort>(); }
};

// What an observer can be told of; combine with |.
enum CFRunLoopActivity : unsigned {
    kCFRunLoopEntry = 1u << 0,
    kCFRunLoopBeforeTimers = 1u << 1,
    kCFRunLoopBeforeSources = 1u << 2,
    kCFRunLoopBeforeWaiting = 1u << 5,
    kCFRunLoopAfterWaiting = 1u << 6,
    kCFRunLoopExit = 1u << 7,
    kCFRunLoopAllActivities = 0x0FFFFFFFu,
};

// A run-loop observer. Observers of one activity run in ascending order; a non-repeating one
// runs once and is then invalidated. Invalidation (from any thread) takes it out of every loop.
class CFRunLoopObserver : public NSObject {
  public:
    using Callback = std::function<void(const Ref<CFRunLoopObserver>& observer, CFRunLoopActivity activity)>;

    CFRunLoopObserver(unsigned activities, bool repeats, long order, Callback callback);
    std::string className() const override { return "CFRunLoopObserver"; }
    // CFRunLoopObserverCreateWithHandler.
    static Ref<CFRunLoopObserver> create(unsigned activities, bool repeats, long order, Callback callback) {
        return make<CFRunLoopObserver>(activities, repeats, order, std::move(callback));
    }

    unsigned activities() const { return activities_; }
    bool doesRepeat() const { return repeats_; }
    long order() const { return order_; }
    bool isValid() const;
    void invalidate();

  private:
    friend class NSRunLoop;
    void call(CFRunLoopActivity activity);

    const unsigned activities_;
    const bool repeats_;
    const long order_;
    mutable std::mutex mutex_;
    Callback callback_;
    bool valid_ = true;
};

class NSRunLoop : public NSObject {
  public:
    // Made by the owning NSThread; use currentRunLoop() or mainRunLoop().
    explicit NSRunLoop(bool isMain);
    ~NSRunLoop() override;
    std::string className() const override { return "NSRunLoop"; }

    static Ref<NSRunLoop> currentRunLoop();
    static Ref<NSRunLoop> mainRunLoop();
    bool isMain() const { return isMain_; }

    // The mode of the innermost run in progress; nil when the loop is not running.
    std::optional<std::string> currentMode() const;
    // Makes a mode one of the common modes (items added in NSRunLoopCommonModes run in it too).
    void addCommonMode(const std::string& mode);

    // ---- sources ------------------------------------------------------------------------------
    // The loop holds the timer until it is invalidated. Adding it in another mode adds the mode.
    void addTimer(const Ref<NSTimer>& timer, const std::string& mode);
    void addPort(const Ref<NSPort>& port, const std::string& mode);
    void removePort(const Ref<NSPort>& port, const std::string& mode);
    void addObserver(const Ref<CFRunLoopObserver>& observer, const std::string& mode);
    void removeObserver(const Ref<CFRunLoopObserver>& observer, const std::string& mode);
    bool containsObserver(const Ref<CFRunLoopObserver>& observer, const std::string& mode) const;

    // Queues a block to run on this loop's thread in one of the modes (performBlock: uses the
    // common modes). FIFO; from any thread; wakes the loop.
    void performBlock(std::function<void()> block) {
        performInModes({NSRunLoopCommonModes}, std::move(block));
    }
    void performInModes(std::vector<std::string> modes, std::function<void()> block);

    // Watches a file descriptor (poll events such as POLLIN); the handler runs on this loop's
    // thread, in the given modes, with the events that occurred, once per pass while they last.
    // Returns a token for removal. The loop does not own or close the descriptor.
    std::uint64_t addFileDescriptorSource(int fd, short events, std::function<void(short revents)> handler,
                                          std::vector<std::string> modes = {NSDefaultRunLoopMode});
    void removeFileDescriptorSource(std::uint64_t token);

    // Wakes the loop if it is waiting (CFRunLoopWakeUp).
    void wakeUp();

    // The earliest fire date of a valid timer in the mode, if any.
    std::optional<NSDate> nextTimerFireDate(const std::string& mode) const;

    // ---- running ------------------------------------------------------------------------------
    // Runs in the default mode until stopped or until the mode has no sources left (the main
    // loop always has one: the main queue).
    void run();
    // Runs one pass of the mode, then waits for something to do until limitDate; returns once
    // something was handled (a timer fired, a perform or a source ran, main-queue work ran), the
    // date passed or the loop was stopped. False, at once, when the mode has no sources.
    bool runMode(const std::string& mode, NSDate limitDate);
    // Runs the default mode until the date passes, the loop is stopped or it has no sources.
    void runUntilDate(NSDate limitDate);
    // Makes the innermost run in progress return (CFRunLoopStop). From any thread. When no run is
    // in progress the next one returns at once.
    void stop();
    // One pass in the mode; when nothing was handled, waits at most maxRealWaitSeconds of REAL
    // time for something to arrive (timers falling due, performs, main-queue work, the clock
    // moving, wakeUp()) and makes one more pass. True when anything was handled. For test support
    // and tools that must not hang on a manual clock.
    bool runOnce(const std::string& mode, double maxRealWaitSeconds = 0);
    // Whether the loop is blocked waiting right now (for diagnostics and tests).
    bool isWaiting() const;

    // ---- the display cycle ---------------------------------------------------------------------
    // Hooks run on the main thread at the end of every pass of the main run loop, in the order
    // added (the UI layer lays out and displays here). Returns a token for removal.
    static std::uint64_t addEndOfTurnHook(std::function<void()> hook);
    static void removeEndOfTurnHook(std::uint64_t token);

    // Internal: a timer was invalidated or its fire date moved.
    void timerChanged(const NSTimer* timer, bool invalidated);

  private:
    enum class Result { Finished, Stopped, TimedOut, Handled };
    struct TimerEntry {
        Ref<NSTimer> timer;
        std::vector<std::string> modes;
        std::uint64_t seq;
    };
    struct PerformEntry {
        std::vector<std::string> modes;
        std::function<void()> block;
    };
    struct ObserverEntry {
        Ref<CFRunLoopObserver> observer;
        std::string mode;
    };
    struct PortEntry {
        Ref<NSPort> port;
        std::string mode;
    };
    struct FdEntry {
        std::uint64_t token;
        int fd;
        short events;
        std::shared_ptr<std::function<void(short)>> handler;
        std::vector<std::string> modes;
    };

    Result runInternal(const std::string& mode, std::optional<double> platformLimit,
                       std::optional<double> realLimit, bool returnAfterHandled, bool returnAfterWait);
    bool matchesLocked(const std::string& itemMode, const std::string& running) const;
    bool matchesLocked(const std::vector<std::string>& itemModes, const std::string& running) const;
    bool hasSourcesLocked(const std::string& mode) const;
    bool hasPerformsLocked(const std::string& mode) const;
    std::optional<double> nextTimerFireLocked(const std::string& mode) const;
    void notifyObservers(const std::string& mode, CFRunLoopActivity activity);
    bool fireTimers(const std::string& mode, double now);
    bool runPerforms(const std::string& mode);
    bool serviceFileDescriptors(const std::string& mode, int timeoutMs);
    void waitForWork(const std::string& mode, std::optional<double> platformLimit,
                     std::optional<double> realLimit);
    bool consumeStop();
    void clearWake();

    const bool isMain_;
    int wakeFd_ = -1;
    std::uint64_t clockListener_ = 0;
    // A wake-up is news for the next pass. The descriptor is only written when the loop sleeps
    // in poll (blocked_), so a busy or spinning loop is woken without a system call.
    std::atomic<bool> wakePending_{false};
    std::atomic<bool> blocked_{false};
    detail::AdaptiveSpin spin_{1000, 1000000, 200000};  // the loop's own thread only

    mutable std::mutex mutex_;  // guards what follows
    std::set<std::string> commonModes_;
    std::vector<TimerEntry> timers_;
    std::uint64_t timerSeq_ = 0;
    std::deque<PerformEntry> performs_;
    std::vector<ObserverEntry> observers_;
    std::vector<PortEntry> ports_;
    std::vector<FdEntry> fds_;
    std::uint64_t nextFdToken_ = 1;
    std::vector<std::string> modeStack_;
    bool stopRequested_ = false;
    bool waiting_ = false;
};
