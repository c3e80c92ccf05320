#include "foundation/NSThread.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "dispatch/Dispatch.h"
#include "foundation/NSRunLoop.h"

namespace {

std::atomic<std::uint64_t> nextNumber{2};  // 1 is the main thread's

// The wrapper of the calling thread, for every thread but the main one.
thread_local Ref<NSThread> tlsCurrent;

// Taken during static initialisation, which runs on the main thread.
const pthread_t mainHandle = pthread_self();

}  // namespace

NSThread::NSThread(Entry entry) : entry_(std::move(entry)), number_(nextNumber.fetch_add(1)) {}

NSThread::NSThread(ForeignTag, bool isMain)
    : isMain_(isMain),
      number_(isMain ? 1 : nextNumber.fetch_add(1)),
      handle_(pthread_self()),
      alive_(true),
      started_(true) {
    executing_.store(true, std::memory_order_release);
}

NSThread::~NSThread() = default;

Ref<NSThread> NSThread::makeWrapperForCallingThread(bool isMain) {
    return make<NSThread>(ForeignTag{}, isMain);
}

std::string NSThread::description() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "<NSThread: %p>{number = %llu, name = ", static_cast<const void*>(this),
                  static_cast<unsigned long long>(number_));
    auto n = name();
    return buf + (n.empty() ? std::string("(null)") : n) + "}";
}

Ref<NSThread> NSThread::mainThread() {
    // Never destroyed: the main thread's run loop must outlive every static that may touch it.
    static Ref<NSThread>* main = [] {
        auto thread = makeWrapperForCallingThread(true);
        std::lock_guard lock(thread->mutex_);
        thread->handle_ = mainHandle;
        return new Ref<NSThread>(thread);
    }();
    return *main;
}

Ref<NSThread> NSThread::currentThread() {
    if (dispatch_is_main_thread()) return mainThread();
    if (!tlsCurrent) tlsCurrent = makeWrapperForCallingThread(false);
    return tlsCurrent;
}

bool NSThread::isMainThread() {
    return dispatch_is_main_thread();
}

Ref<NSThread> NSThread::detachNewThreadWithBlock(Entry block) {
    auto thread = make<NSThread>(std::move(block));
    thread->start();
    return thread;
}

void NSThread::sleepForTimeInterval(double seconds) {
    if (!(seconds > 0)) return;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void NSThread::start() {
    std::lock_guard lock(mutex_);
    if (started_) return;
    started_ = true;
    executing_.store(true, std::memory_order_release);
    auto self = selfAs<NSThread>();
    std::thread([self] { self->threadMain(); }).detach();
}

void NSThread::threadMain() {
    tlsCurrent = selfAs<NSThread>();
    {
        std::lock_guard lock(mutex_);
        handle_ = pthread_self();
        alive_ = true;
        applyNameLocked();
    }
    auto entry = std::move(entry_);
    entry_ = nullptr;
    if (entry) entry();
    entry = nullptr;
    {
        std::lock_guard lock(mutex_);
        alive_ = false;
    }
    executing_.store(false, std::memory_order_release);
    finished_.store(true, std::memory_order_release);
    // tlsCurrent lets go of the wrapper when the thread ends.
}

std::string NSThread::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

void NSThread::setName(const std::string& name) {
    std::lock_guard lock(mutex_);
    name_ = name;
    applyNameLocked();
}

void NSThread::applyNameLocked() {
    if (!alive_ || name_.empty()) return;
    // The system keeps 15 bytes; cut at a character boundary so the name stays valid UTF-8.
    std::string shortName = name_.substr(0, 15);
    if (name_.size() > 15) {
        auto cut = shortName.size();
        while (cut > 0 && (static_cast<unsigned char>(name_[cut]) & 0xC0) == 0x80) --cut;
        shortName.resize(cut);
    }
    pthread_setname_np(handle_, shortName.c_str());
}

Ref<NSRunLoop> NSThread::runLoop() {
    std::lock_guard lock(mutex_);
    if (!runLoop_) runLoop_ = make<NSRunLoop>(isMain_);
    return runLoop_;
}
