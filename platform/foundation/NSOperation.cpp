#include "foundation/NSOperation.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSLog.h"
#include "foundation/NSOperationQueue.h"

namespace {
constexpr char kIsReady[] = "isReady";
constexpr char kIsExecuting[] = "isExecuting";
constexpr char kIsFinished[] = "isFinished";
constexpr char kIsCancelled[] = "isCancelled";
}  // namespace

NSOperation::NSOperation() {
    // Whatever finishes the operation (this class's start, or a subclass with its own state)
    // announces "isFinished"; that is when waiters wake, dependants become ready and the
    // completion block runs. The observation dies with the object, so `this` stays valid.
    detail::addObservationBlock(*this, kIsFinished, 0,
                                [this](const Ref<NSObject>&, const Dictionary&) { finishedAnnounced(); });
}

NSOperation::~NSOperation() {
    for (auto& dependency : dependencies_) dependency->removeDependent(this);
}

void NSOperation::start() {
    if (started_.exchange(true, std::memory_order_acq_rel)) {
        NSLogLine("*** " + description() + ": start called on an operation that has already started");
        return;
    }
    if (isCancelled()) {
        // Finishing at once lets dependants go on.
        setFinished(true);
        return;
    }
    if (!isReady()) {
        started_.store(false, std::memory_order_release);
        NSLogLine("*** " + description() + ": start called on an operation that is not ready");
        return;
    }
    setExecuting(true);
    main();
    if (isConcurrent() || isAsynchronous()) return;
    KVO::willChangeValueForKey(*this, kIsExecuting);
    KVO::willChangeValueForKey(*this, kIsFinished);
    executing_.store(false, std::memory_order_release);
    finished_.store(true, std::memory_order_release);
    KVO::didChangeValueForKey(*this, kIsExecuting);
    KVO::didChangeValueForKey(*this, kIsFinished);
}

void NSOperation::cancel() {
    if (isFinished()) return;
    {
        std::lock_guard guard(lock_);
        if (cancelled_.load(std::memory_order_acquire) || cancelRequested_) return;
        cancelRequested_ = true;
    }
    KVO::willChangeValueForKey(*this, kIsCancelled);
    cancelled_.store(true, std::memory_order_release);
    KVO::didChangeValueForKey(*this, kIsCancelled);
    // A cancelled operation no longer waits for its dependencies.
    if (!started_.load(std::memory_order_acquire)) announceReadiness();
}

bool NSOperation::isReady() const {
    if (isCancelled()) return true;
    std::vector<Ref<NSOperation>> dependencies;
    {
        std::lock_guard guard(lock_);
        dependencies = dependencies_;
    }
    for (auto& dependency : dependencies) {
        if (!dependency->isFinished()) return false;
    }
    return true;
}

void NSOperation::setExecuting(bool executing) {
    KVO::willChangeValueForKey(*this, kIsExecuting);
    executing_.store(executing, std::memory_order_release);
    KVO::didChangeValueForKey(*this, kIsExecuting);
}

void NSOperation::setFinished(bool finished) {
    KVO::willChangeValueForKey(*this, kIsFinished);
    finished_.store(finished, std::memory_order_release);
    KVO::didChangeValueForKey(*this, kIsFinished);
}

void NSOperation::announceReadiness() {
    KVO::willChangeValueForKey(*this, kIsReady);
    KVO::didChangeValueForKey(*this, kIsReady);
}

void NSOperation::finishedAnnounced() {
    if (!isFinished()) return;
    std::function<void()> completion;
    std::vector<std::pair<NSOperation*, Weak<NSObject>>> dependents;
    {
        std::lock_guard guard(lock_);
        if (finishHandled_) return;
        finishHandled_ = true;
        completion = std::move(completionBlock_);
        completionBlock_ = nullptr;
        dependents.swap(dependents_);
    }
    finishedCondition_.notify_all();
    for (auto& [dependent, alive] : dependents) {
        if (auto keep = alive.lock()) dependent->dependencyFinished();
    }
    if (completion) detail::runInBackground(std::move(completion));
}

void NSOperation::addDependency(const Ref<NSOperation>& operation) {
    if (!operation || operation.get() == this) return;
    {
        std::lock_guard guard(lock_);
        if (std::find(dependencies_.begin(), dependencies_.end(), operation) != dependencies_.end()) return;
        dependencies_.push_back(operation);
    }
    operation->addDependent(this);
    announceReadiness();
}

void NSOperation::removeDependency(const Ref<NSOperation>& operation) {
    if (!operation) return;
    {
        std::lock_guard guard(lock_);
        auto it = std::find(dependencies_.begin(), dependencies_.end(), operation);
        if (it == dependencies_.end()) return;
        dependencies_.erase(it);
    }
    operation->removeDependent(this);
    announceReadiness();
}

std::vector<Ref<NSOperation>> NSOperation::dependencies() const {
    std::lock_guard guard(lock_);
    return dependencies_;
}

void NSOperation::addDependent(NSOperation* dependent) {
    std::lock_guard guard(lock_);
    // Once finished, the dependant reads the finished state itself.
    if (finishHandled_) return;
    dependents_.emplace_back(dependent, dependent->weakSelf());
}

void NSOperation::removeDependent(NSOperation* dependent) {
    std::lock_guard guard(lock_);
    auto it =
        std::find_if(dependents_.begin(), dependents_.end(),
                     [&](const std::pair<NSOperation*, Weak<NSObject>>& e) { return e.first == dependent; });
    if (it != dependents_.end()) dependents_.erase(it);
}

void NSOperation::setQueuePriority(NSOperationQueuePriority priority) {
    long p = priority;
    NSOperationQueuePriority snapped = p <= -6   ? NSOperationQueuePriorityVeryLow
                                       : p <= -2 ? NSOperationQueuePriorityLow
                                       : p < 2   ? NSOperationQueuePriorityNormal
                                       : p < 6   ? NSOperationQueuePriorityHigh
                                                 : NSOperationQueuePriorityVeryHigh;
    priority_.store(snapped, std::memory_order_relaxed);
}

std::function<void()> NSOperation::completionBlock() const {
    std::lock_guard guard(lock_);
    return completionBlock_;
}

void NSOperation::setCompletionBlock(std::function<void()> block) {
    std::function<void()> old;
    std::lock_guard guard(lock_);
    old = std::move(completionBlock_);
    completionBlock_ = std::move(block);
}

void NSOperation::waitUntilFinished() {
    std::unique_lock guard(lock_);
    finishedCondition_.wait(guard, [&] { return finishHandled_; });
}

bool NSOperation::waitUntilFinished(double timeoutSeconds) {
    std::unique_lock guard(lock_);
    return finishedCondition_.wait_for(guard, std::chrono::duration<double>(timeoutSeconds),
                                       [&] { return finishHandled_; });
}

std::string NSOperation::name() const {
    std::lock_guard guard(lock_);
    return name_;
}

void NSOperation::setName(std::string name) {
    std::lock_guard guard(lock_);
    name_ = std::move(name);
}

std::string NSOperation::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    std::string text = "<" + className() + ": " + address;
    auto n = name();
    if (!n.empty()) text += ", name: " + n;
    return text + ">";
}

Value NSOperation::valueForKey(const std::string& key) const {
    if (key == kIsReady) return Value(isReady());
    if (key == kIsExecuting) return Value(isExecuting());
    if (key == kIsFinished) return Value(isFinished());
    if (key == kIsCancelled) return Value(isCancelled());
    if (key == "isConcurrent") return Value(isConcurrent());
    if (key == "isAsynchronous") return Value(isAsynchronous());
    if (key == "queuePriority") return Value(static_cast<long>(queuePriority()));
    if (key == "name") return Value(name());
    return NSObject::valueForKey(key);
}

// ---------------------------------------------------------------------------------------------

NSBlockOperation::NSBlockOperation(std::function<void()> block) {
    if (block) blocks_.push_back(std::move(block));
}

void NSBlockOperation::addExecutionBlock(std::function<void()> block) {
    if (!block) return;
    {
        std::lock_guard guard(blocksLock_);
        if (!running_) {
            blocks_.push_back(std::move(block));
            return;
        }
    }
    NSLogLine("*** " + description() + ": execution blocks cannot be added once the operation has started");
}

std::vector<std::function<void()>> NSBlockOperation::executionBlocks() const {
    std::lock_guard guard(blocksLock_);
    return blocks_;
}

void NSBlockOperation::main() {
    std::vector<std::function<void()>> blocks;
    {
        std::lock_guard guard(blocksLock_);
        running_ = true;
        blocks.swap(blocks_);
    }
    for (auto& block : blocks) block();
}
