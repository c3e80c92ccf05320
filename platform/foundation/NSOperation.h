#pragma once
// Operations: units of work with a life cycle (ready, executing, finished), cancellation,
// dependencies, a priority and a completion block, run by an operation queue or by calling
// start() directly.
//
// The life-cycle properties are observable (foundation/NSKeyValueObserving.h) under the keys
// "isReady", "isExecuting", "isFinished" and "isCancelled"; queues and dependent operations learn
// of changes only through those announcements. That is what lets a subclass keep its own state:
//
// - A non-concurrent operation overrides main(); start() runs it and the operation is finished
//   when main() returns. A cancelled operation that is started finishes at once without main().
// - A concurrent operation (isConcurrent() or isAsynchronous() answers true) finishes later: it
//   either overrides main() and calls the protected setExecuting(false) / setFinished(true) when
//   its work ends, or overrides start() and the state getters altogether, announcing each change
//   of "isExecuting" / "isFinished" / "isReady" with will/did change calls.
//
// Guarantees: every method may be called from any thread. isReady() is true once every
// dependency has finished, or once the operation is cancelled (dependencies are then ignored).
// The completion block runs exactly once, after the operation finished, on a background thread;
// it is released after it ran. waitUntilFinished() blocks the caller only.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

enum NSOperationQueuePriority : long {
    NSOperationQueuePriorityVeryLow = -8,
    NSOperationQueuePriorityLow = -4,
    NSOperationQueuePriorityNormal = 0,
    NSOperationQueuePriorityHigh = 4,
    NSOperationQueuePriorityVeryHigh = 8,
};

class NSOperation : public NSObject {
  public:
    NSOperation();
    ~NSOperation() override;

    // Runs the operation on the calling thread. Starting an operation twice, or one whose
    // dependencies have not finished (and that is not cancelled), is refused with a log line.
    virtual void start();
    // The work of a non-concurrent operation; nothing by default.
    virtual void main() {}
    // Marks the operation cancelled; the work itself decides whether to look. Does nothing once
    // finished or already cancelled.
    virtual void cancel();

    virtual bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }
    virtual bool isReady() const;
    virtual bool isExecuting() const { return executing_.load(std::memory_order_acquire); }
    virtual bool isFinished() const { return finished_.load(std::memory_order_acquire); }
    virtual bool isConcurrent() const { return false; }
    virtual bool isAsynchronous() const { return false; }

    // The operation will not be ready before `operation` finishes. Dependencies are held strongly.
    void addDependency(const Ref<NSOperation>& operation);
    void removeDependency(const Ref<NSOperation>& operation);
    std::vector<Ref<NSOperation>> dependencies() const;

    // Other values are moved to the nearest named priority.
    NSOperationQueuePriority queuePriority() const { return priority_.load(std::memory_order_relaxed); }
    void setQueuePriority(NSOperationQueuePriority priority);

    std::function<void()> completionBlock() const;
    virtual void setCompletionBlock(std::function<void()> block);

    // Blocks until the operation has finished.
    void waitUntilFinished();
    // The same with a limit in seconds; whether it finished in time.
    bool waitUntilFinished(double timeoutSeconds);

    std::string name() const;
    void setName(std::string name);

    std::string className() const override { return "NSOperation"; }
    std::string description() const override;
    // "isReady", "isExecuting", "isFinished", "isCancelled", "isConcurrent", "isAsynchronous",
    // "queuePriority" and "name".
    Value valueForKey(const std::string& key) const override;

  protected:
    // For concurrent operations: change the base state, announcing the change.
    void setExecuting(bool executing);
    void setFinished(bool finished);

  private:
    friend class NSOperationQueue;

    void finishedAnnounced();
    void dependencyFinished() { announceReadiness(); }
    void announceReadiness();
    void addDependent(NSOperation* dependent);
    void removeDependent(NSOperation* dependent);
    // Queues accept an operation once.
    bool markEnqueued() { return !enqueued_.exchange(true); }

    std::atomic<bool> cancelled_{false};
    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> enqueued_{false};
    std::atomic<NSOperationQueuePriority> priority_{NSOperationQueuePriorityNormal};

    mutable std::mutex lock_;
    std::condition_variable finishedCondition_;
    bool finishHandled_ = false;
    bool cancelRequested_ = false;
    std::vector<Ref<NSOperation>> dependencies_;
    // Operations that depend on this one, to tell when it finishes.
    std::vector<std::pair<NSOperation*, Weak<NSObject>>> dependents_;
    std::function<void()> completionBlock_;
    std::string name_;
};

// An operation that runs one or more blocks, in the order they were added, and finishes when all
// have run. Blocks can be added until the operation starts.
class NSBlockOperation : public NSOperation {
  public:
    NSBlockOperation() = default;
    explicit NSBlockOperation(std::function<void()> block);
    static Ref<NSBlockOperation> blockOperationWithBlock(std::function<void()> block) {
        return make<NSBlockOperation>(std::move(block));
    }

    void addExecutionBlock(std::function<void()> block);
    // Empty once the operation has run (the blocks are released then).
    std::vector<std::function<void()>> executionBlocks() const;

    void main() override;
    std::string className() const override { return "NSBlockOperation"; }

  private:
    mutable std::mutex blocksLock_;
    std::vector<std::function<void()>> blocks_;
    bool running_ = false;
};
