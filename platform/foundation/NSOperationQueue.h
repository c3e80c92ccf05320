#pragma once
// Operation queues: run operations on threads of their own, at most maxConcurrentOperationCount
// at a time.
//
// Guarantees:
// - Among the operations that are ready, a queue starts the one of highest queuePriority; among
//   equal priorities, the one added first. With a width of 1 the queue is therefore serial and
//   first-in first-out for ready operations of equal priority.
// - An operation whose dependencies (on any queue) have not finished waits and starts once they
//   have; a cancelled operation that has not started still starts, which finishes it at once,
//   so that its dependants go on.
// - A slot stays taken until the operation announces it has finished ("isFinished"), so a
//   concurrent operation counts against the width until then, not just while start() runs.
// - A suspended queue starts nothing new; what runs goes on.
// - The queue keeps its operations (and itself) alive until they have finished.
// - Workers are threads the queue creates on demand, up to its width; idle ones end after a few
//   seconds. The main queue runs its operations one at a time on the main thread, through the
//   main dispatch queue (so the main run loop must be turning).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/NSOperation.h"

// The width of a queue that has not been given one: as many as suits the system.
inline constexpr long NSOperationQueueDefaultMaxConcurrentOperationCount = -1;

namespace detail {
class OperationQueueCore;

// Where a queue's operations run.
class OperationExecutor {
  public:
    virtual ~OperationExecutor() = default;
    // Runs the job soon on one of the executor's threads; jobs may run in parallel.
    virtual void execute(std::function<void()> job) = 0;
    // A width the executor imposes, or 0 when the queue's own applies.
    virtual long fixedWidth() const { return 0; }
    // The executor will get no more work.
    virtual void shutdown() {}
};

// Runs a block on a process-wide pool of background threads (completion blocks run there).
void runInBackground(std::function<void()> block);
}  // namespace detail

class NSOperationQueue : public NSObject {
  public:
    NSOperationQueue();
    // A queue over another executor (the main queue is one).
    explicit NSOperationQueue(std::shared_ptr<detail::OperationExecutor> executor);
    ~NSOperationQueue() override;

    // The queue of the main thread. Its width is always 1.
    static Ref<NSOperationQueue> mainQueue();
    // The queue running the calling code: the queue of the operation that runs on this thread,
    // the main queue on the main thread, else nullptr.
    static Ref<NSOperationQueue> currentQueue();

    // Adding an operation that is already in a queue, executing or finished is refused (an
    // assertion).
    void addOperation(const Ref<NSOperation>& operation);
    void addOperationWithBlock(std::function<void()> block);
    void addOperations(const std::vector<Ref<NSOperation>>& operations, bool waitUntilFinished);

    long maxConcurrentOperationCount() const;
    void setMaxConcurrentOperationCount(long count);

    // Operations added and not yet finished, in the order they were added.
    std::size_t operationCount() const;
    std::vector<Ref<NSOperation>> operations() const;

    bool isSuspended() const;
    void setSuspended(bool suspended);

    void cancelAllOperations();
    // Blocks until the queue has no operation left (never call it from one of its operations).
    void waitUntilAllOperationsAreFinished();
    // The same with a limit in seconds; whether the queue emptied in time.
    bool waitUntilAllOperationsAreFinished(double timeoutSeconds);

    std::string name() const;
    void setName(std::string name);

    std::string className() const override { return "NSOperationQueue"; }
    // "operationCount", "operations", "maxConcurrentOperationCount", "suspended" and "name", for
    // reading by name; the queue does not announce their changes.
    Value valueForKey(const std::string& key) const override;

  private:
    friend class detail::OperationQueueCore;
    std::shared_ptr<detail::OperationQueueCore> core_;
};
