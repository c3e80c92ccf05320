#include "foundation/NSOperationQueue.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "dispatch/Dispatch.h"
#include "dispatch/SpinWait.h"
#include "foundation/NSException.h"
#include "foundation/NSKeyValueObserving.h"

namespace {

// The width of a queue left at the default. Wide enough that operations blocking on one another
// do not starve; threads are only made for operations that run at the same time.
constexpr long kDefaultWidth = 64;
// How long a worker with nothing to do waits before it ends.
constexpr auto kIdleWorkerLifetime = std::chrono::seconds(3);

// Threads made on demand: a job waits for an idle worker or gets a new one, so every job that is
// handed in starts at once. The workers own the pool.
class ThreadPoolExecutor final : public detail::OperationExecutor,
                                 public std::enable_shared_from_this<ThreadPoolExecutor> {
  public:
    explicit ThreadPoolExecutor(std::string threadName) : threadName_(std::move(threadName)) {}

    void execute(std::function<void()> job) override {
        std::lock_guard guard(lock_);
        jobs_.push_back(std::move(job));
        queued_.store(jobs_.size(), std::memory_order_release);
        // A spinning worker takes the job without a wake-up (it looks at jobs_ before sleeping).
        if (spinners_ > 0) {
            --spinners_;
            ++claimed_;
        } else if (jobs_.size() > idle_ + claimed_) {
            std::thread([self = shared_from_this()] { self->work(); }).detach();
        } else {
            wake_.notify_one();
        }
    }

    void shutdown() override {
        std::lock_guard guard(lock_);
        shutdown_ = true;
        wake_.notify_all();
    }

  private:
    void work() {
        pthread_setname_np(pthread_self(), threadName_.substr(0, 15).c_str());
        detail::AdaptiveSpin spin(1000, 1000000, 200000);
        std::unique_lock guard(lock_);
        for (;;) {
            if (!jobs_.empty()) {
                auto job = std::move(jobs_.front());
                jobs_.pop_front();
                queued_.store(jobs_.size(), std::memory_order_release);
                guard.unlock();
                job();
                job = nullptr;  // its captures go before the lock is taken again
                guard.lock();
                continue;
            }
            if (shutdown_) return;
            // Look for work a little before sleeping: the next operation of a quick exchange
            // usually comes within microseconds.
            ++spinners_;
            guard.unlock();
            std::int64_t start = detail::spinClockNanos();
            bool found =
                spin.spin(start, INT64_MAX, [&] { return queued_.load(std::memory_order_acquire) > 0; });
            guard.lock();
            if (claimed_ > 0) {
                --claimed_;
            } else {
                --spinners_;
            }
            if (found || !jobs_.empty()) {
                spin.finished(detail::spinClockNanos() - start);
                continue;
            }
            if (shutdown_) return;
            ++idle_;
            bool woken =
                wake_.wait_for(guard, kIdleWorkerLifetime, [&] { return !jobs_.empty() || shutdown_; });
            --idle_;
            if (!woken) return;
            spin.finished(detail::spinClockNanos() - start);
        }
    }

    const std::string threadName_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::atomic<std::size_t> queued_{0};  // jobs_.size(), for spinning workers
    std::size_t idle_ = 0;
    // Workers spinning before they sleep, and those of them a job has counted on.
    std::size_t spinners_ = 0;
    std::size_t claimed_ = 0;
    bool shutdown_ = false;
};

thread_local detail::OperationQueueCore* currentCore = nullptr;

class CurrentQueueScope {
  public:
    explicit CurrentQueueScope(detail::OperationQueueCore* core) : previous_(currentCore) {
        currentCore = core;
    }
    ~CurrentQueueScope() { currentCore = previous_; }

  private:
    detail::OperationQueueCore* previous_;
};

}  // namespace

namespace detail {

void runInBackground(std::function<void()> block) {
    if (!block) return;
    static auto* pool =
        new std::shared_ptr<ThreadPoolExecutor>(std::make_shared<ThreadPoolExecutor>("NSOperation"));
    (*pool)->execute(std::move(block));
}

struct QueueEntry {
    enum class State { Waiting, Dispatched, Started };

    Ref<NSOperation> operation;
    State state = State::Waiting;
    // Whether the operation answered isReady the last time it was asked; a notification of
    // "isReady" bumps the version, so that only the newest answer is kept.
    bool ready = false;
    std::uint64_t readyVersion = 0;
    bool done = false;
    std::uint64_t readyObservation = 0;
    std::uint64_t finishedObservation = 0;
};

// The queue's state, shared with its workers and with the observations it places on its
// operations, so that it lives as long as it has work.
class OperationQueueCore : public std::enable_shared_from_this<OperationQueueCore> {
  public:
    explicit OperationQueueCore(std::shared_ptr<OperationExecutor> executor)
        : executor(std::move(executor)) {}
    ~OperationQueueCore() { executor->shutdown(); }

    void add(const Ref<NSOperation>& operation);
    void refreshReadiness(const std::shared_ptr<QueueEntry>& entry);
    void operationFinished(const std::shared_ptr<QueueEntry>& entry);
    void pump();
    void run(const std::shared_ptr<QueueEntry>& entry);

    long widthLocked() const {
        if (long fixed = executor->fixedWidth(); fixed > 0) return fixed;
        return width < 0 ? kDefaultWidth : width;
    }

    Ref<NSOperationQueue> ownerQueue() const {
        std::lock_guard guard(lock);
        return std::static_pointer_cast<NSOperationQueue>(owner.lock());
    }

    mutable std::mutex lock;
    std::condition_variable emptied;
    std::vector<std::shared_ptr<QueueEntry>> entries;  // in the order added
    long running = 0;                                  // entries dispatched or started
    long width = NSOperationQueueDefaultMaxConcurrentOperationCount;
    bool suspended = false;
    std::string name;
    Weak<NSObject> owner;
    const std::shared_ptr<OperationExecutor> executor;
};

void OperationQueueCore::add(const Ref<NSOperation>& operation) {
    auto entry = std::make_shared<QueueEntry>();
    entry->operation = operation;
    {
        std::lock_guard guard(lock);
        entries.push_back(entry);
    }
    // The observations hold the core: a queue with unfinished operations stays alive.
    std::weak_ptr<QueueEntry> weakEntry = entry;
    auto self = shared_from_this();
    auto readyObservation = addObservationBlock(*operation, "isReady", 0,
                                                [self, weakEntry](const Ref<NSObject>&, const Dictionary&) {
                                                    if (auto e = weakEntry.lock()) self->refreshReadiness(e);
                                                });
    auto finishedObservation = addObservationBlock(
        *operation, "isFinished", 0, [self, weakEntry](const Ref<NSObject>&, const Dictionary&) {
            auto e = weakEntry.lock();
            if (e && e->operation->isFinished()) self->operationFinished(e);
        });
    bool alreadyDone;
    {
        std::lock_guard guard(lock);
        entry->readyObservation = readyObservation;
        entry->finishedObservation = finishedObservation;
        alreadyDone = entry->done;
    }
    if (alreadyDone) {
        // Finished before the observations were recorded; remove them here.
        removeObservation(*operation, readyObservation);
        removeObservation(*operation, finishedObservation);
        return;
    }
    if (operation->isFinished()) {
        operationFinished(entry);
        return;
    }
    refreshReadiness(entry);
}

void OperationQueueCore::refreshReadiness(const std::shared_ptr<QueueEntry>& entry) {
    std::uint64_t version;
    {
        std::lock_guard guard(lock);
        if (entry->done) return;
        version = ++entry->readyVersion;
    }
    // Asked without the queue's lock: a subclass's isReady may take locks of its own, and may be
    // asked while its owner holds them.
    bool ready = entry->operation->isReady();
    {
        std::lock_guard guard(lock);
        if (entry->readyVersion == version) entry->ready = ready;
    }
    pump();
}

void OperationQueueCore::operationFinished(const std::shared_ptr<QueueEntry>& entry) {
    std::uint64_t readyObservation, finishedObservation;
    {
        std::lock_guard guard(lock);
        if (entry->done) return;
        entry->done = true;
        if (entry->state != QueueEntry::State::Waiting) --running;
        std::erase(entries, entry);
        readyObservation = entry->readyObservation;
        finishedObservation = entry->finishedObservation;
        if (entries.empty()) emptied.notify_all();
    }
    if (readyObservation) removeObservation(*entry->operation, readyObservation);
    if (finishedObservation) removeObservation(*entry->operation, finishedObservation);
    pump();
}

void OperationQueueCore::pump() {
    std::vector<std::shared_ptr<QueueEntry>> toRun;
    {
        std::lock_guard guard(lock);
        long limit = widthLocked();
        while (!suspended && running < limit) {
            std::shared_ptr<QueueEntry> best;
            for (auto& e : entries) {
                if (e->state != QueueEntry::State::Waiting || !e->ready) continue;
                // Strictly higher only: among equals the earliest added wins.
                if (!best || e->operation->queuePriority() > best->operation->queuePriority()) best = e;
            }
            if (!best) break;
            best->state = QueueEntry::State::Dispatched;
            ++running;
            toRun.push_back(std::move(best));
        }
    }
    if (toRun.empty()) return;
    auto self = shared_from_this();
    for (auto& entry : toRun) {
        executor->execute([self, entry] { self->run(entry); });
    }
}

void OperationQueueCore::run(const std::shared_ptr<QueueEntry>& entry) {
    auto& operation = entry->operation;
    if (!operation->isCancelled()) {
        // Readiness may have gone since the operation was picked (a dependency added since).
        std::uint64_t version;
        {
            std::lock_guard guard(lock);
            if (entry->done) return;
            version = ++entry->readyVersion;
        }
        if (!operation->isReady()) {
            {
                std::lock_guard guard(lock);
                if (entry->done) return;
                entry->state = QueueEntry::State::Waiting;
                --running;
                if (entry->readyVersion == version) entry->ready = false;
            }
            pump();
            return;
        }
    }
    {
        std::lock_guard guard(lock);
        if (entry->done) return;
        entry->state = QueueEntry::State::Started;
    }
    {
        CurrentQueueScope scope(this);
        operation->start();
    }
    // Normally announced already; this covers a subclass that finished without announcing.
    if (operation->isFinished()) operationFinished(entry);
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------

NSOperationQueue::NSOperationQueue()
    : NSOperationQueue(std::make_shared<ThreadPoolExecutor>("NSOperationQueue")) {}

NSOperationQueue::NSOperationQueue(std::shared_ptr<detail::OperationExecutor> executor)
    : core_(std::make_shared<detail::OperationQueueCore>(std::move(executor))) {}

NSOperationQueue::~NSOperationQueue() = default;

Ref<NSOperationQueue> NSOperationQueue::currentQueue() {
    if (currentCore) {
        if (auto queue = currentCore->ownerQueue()) return queue;
    }
    if (dispatch_is_main_thread()) return mainQueue();
    return nullptr;
}

void NSOperationQueue::addOperation(const Ref<NSOperation>& operation) {
    if (!operation) return;
    NS_ASSERT_OR(!operation->isExecuting() && !operation->isFinished(), return,
                 operation->description() + " is executing or finished and cannot be enqueued");
    NS_ASSERT_OR(operation->markEnqueued(), return, operation->description() + " is already in a queue");
    {
        std::lock_guard guard(core_->lock);
        if (core_->owner.expired()) core_->owner = weakSelf();
    }
    core_->add(operation);
}

void NSOperationQueue::addOperationWithBlock(std::function<void()> block) {
    addOperation(NSBlockOperation::blockOperationWithBlock(std::move(block)));
}

void NSOperationQueue::addOperations(const std::vector<Ref<NSOperation>>& operations,
                                     bool waitUntilFinished) {
    for (auto& operation : operations) addOperation(operation);
    if (!waitUntilFinished) return;
    for (auto& operation : operations) {
        if (operation) operation->waitUntilFinished();
    }
}

long NSOperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard guard(core_->lock);
    if (long fixed = core_->executor->fixedWidth(); fixed > 0) return fixed;
    return core_->width;
}

void NSOperationQueue::setMaxConcurrentOperationCount(long count) {
    {
        std::lock_guard guard(core_->lock);
        core_->width = count < 0 ? NSOperationQueueDefaultMaxConcurrentOperationCount : count;
    }
    core_->pump();
}

std::size_t NSOperationQueue::operationCount() const {
    std::lock_guard guard(core_->lock);
    return core_->entries.size();
}

std::vector<Ref<NSOperation>> NSOperationQueue::operations() const {
    std::lock_guard guard(core_->lock);
    std::vector<Ref<NSOperation>> result;
    result.reserve(core_->entries.size());
    for (auto& entry : core_->entries) result.push_back(entry->operation);
    return result;
}

bool NSOperationQueue::isSuspended() const {
    std::lock_guard guard(core_->lock);
    return core_->suspended;
}

void NSOperationQueue::setSuspended(bool suspended) {
    {
        std::lock_guard guard(core_->lock);
        core_->suspended = suspended;
    }
    if (!suspended) core_->pump();
}

void NSOperationQueue::cancelAllOperations() {
    // Waiting operations first: cancelling a running one first lets it finish and the queue
    // start the next waiting one before the loop reaches it.
    auto all = operations();
    for (auto& operation : all) {
        if (!operation->isExecuting()) operation->cancel();
    }
    for (auto& operation : all) operation->cancel();
}

void NSOperationQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock guard(core_->lock);
    core_->emptied.wait(guard, [&] { return core_->entries.empty(); });
}

bool NSOperationQueue::waitUntilAllOperationsAreFinished(double timeoutSeconds) {
    std::unique_lock guard(core_->lock);
    return core_->emptied.wait_for(guard, std::chrono::duration<double>(timeoutSeconds),
                                   [&] { return core_->entries.empty(); });
}

std::string NSOperationQueue::name() const {
    std::lock_guard guard(core_->lock);
    return core_->name;
}

void NSOperationQueue::setName(std::string name) {
    std::lock_guard guard(core_->lock);
    core_->name = std::move(name);
}

Value NSOperationQueue::valueForKey(const std::string& key) const {
    if (key == "operationCount") return Value(static_cast<unsigned long>(operationCount()));
    if (key == "maxConcurrentOperationCount") return Value(maxConcurrentOperationCount());
    if (key == "suspended") return Value(isSuspended());
    if (key == "name") return Value(name());
    if (key == "operations") {
        std::vector<Value> list;
        for (auto& operation : operations()) list.emplace_back(operation);
        return Value(Array(std::move(list)));
    }
    return NSObject::valueForKey(key);
}
