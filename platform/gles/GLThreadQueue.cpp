#include "gles/GLThreadQueue.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "dispatch/DispatchBlocking.h"
#include "gles/EAGLContext.h"

namespace {
thread_local GLThreadQueue* tCurrentQueue = nullptr;
}

// The thread keeps the state alive on its own, so a queue destroyed from its own thread can let
// the thread finish after the queue object is gone.
struct GLThreadQueue::State {
    std::string label;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> blocks;
    bool stopping = false;
    std::thread thread;
    std::thread::id threadId;
    GLThreadQueue* owner = nullptr;
    std::thread::id joiner;  // the thread that waits for this one to end; none when detached

    void run() {
        for (;;) {
            std::function<void()> block;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return stopping || !blocks.empty(); });
                if (blocks.empty()) break;  // stopping, and everything submitted has run
                tCurrentQueue = owner;      // nullptr once the queue object is gone
                block = std::move(blocks.front());
                blocks.pop_front();
            }
            block();
        }
        tCurrentQueue = nullptr;
        std::thread::id waitedForBy;
        {
            std::lock_guard lock(mutex);
            waitedForBy = joiner;
        }
        detail::eglReleaseCallingThread(waitedForBy);
    }
};

GLThreadQueue::GLThreadQueue(std::string label) : state_(std::make_shared<State>()) {
    state_->label = std::move(label);
    state_->owner = this;
    // The thread must know its id before anyone asks isCurrent(), so it waits for the record.
    std::unique_lock lock(state_->mutex);
    state_->thread = std::thread([state = state_] {
        { std::lock_guard started(state->mutex); }
        state->run();
    });
    state_->threadId = state_->thread.get_id();
}

GLThreadQueue::~GLThreadQueue() {
    const bool fromOwnThread = std::this_thread::get_id() == state_->threadId;
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->owner = nullptr;
        if (!fromOwnThread) state_->joiner = std::this_thread::get_id();
    }
    state_->wake.notify_one();
    if (fromOwnThread) {
        tCurrentQueue = nullptr;
        state_->thread.detach();
    } else {
        state_->thread.join();
    }
}

const std::string& GLThreadQueue::label() const {
    return state_->label;
}

bool GLThreadQueue::isCurrent() const {
    return std::this_thread::get_id() == state_->threadId;
}

std::thread::id GLThreadQueue::threadId() const {
    return state_->threadId;
}

GLThreadQueue* GLThreadQueue::current() {
    return tCurrentQueue;
}

void GLThreadQueue::async(std::function<void()> block) {
    if (!block) return;
    if (isCurrent()) {
        block();
        return;
    }
    // The block may hold the queue's last reference and run (destroying the queue and, once the
    // thread ends, its state) before the wake-up below returns; the state stays ours meanwhile.
    std::shared_ptr<State> state = state_;
    {
        std::lock_guard lock(state->mutex);
        state->blocks.push_back(std::move(block));
    }
    state->wake.notify_one();
}

void GLThreadQueue::sync(const std::function<void()>& block) {
    if (!block) return;
    if (isCurrent()) {
        block();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    std::exception_ptr failure;
    std::shared_ptr<State> state = state_;  // as in async: the block may end the queue
    {
        std::lock_guard lock(state->mutex);
        state->blocks.push_back([&] {
            try {
                block();
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard doneLock(doneMutex);
            done = true;
            doneSignal.notify_one();
        });
    }
    state->wake.notify_one();
    {
        DispatchBlockingScope blocking;
        std::unique_lock lock(doneMutex);
        doneSignal.wait(lock, [&] { return done; });
    }
    if (failure) std::rethrow_exception(failure);
}
