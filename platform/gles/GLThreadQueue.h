#pragma once
// A serial queue that runs on one thread of its own for its whole life.
//
// An OpenGL ES context may be current on one thread only, so all work for a context goes to the
// one thread that owns it. Dispatch's serial queues cannot promise that (their blocks run on any
// worker, and a synchronous dispatch runs on the caller's thread), hence this queue.
//
// Guarantees:
// - Blocks run one at a time, in submission order, on the queue's thread.
// - sync() and async() called on the queue's own thread run the block at once, inline, so nested
//   use cannot deadlock; async() from elsewhere returns at once.
// - sync() hands an exception thrown by its block back to the caller; an exception escaping an
//   asynchronous block ends the process, as it would on a dispatch queue.
// - Destroying the queue runs every block already submitted, then ends the thread. A queue may be
//   destroyed from its own thread (its last owner let go inside a block): the thread then ends
//   once the running block returns.
// - A caller that blocks in sync() on a dispatch worker says so to the worker pool, which may
//   then start another worker.
// - Before the thread ends it releases whatever context it made current, so the context can go.
//   A thread whose end comes while the process is exiting cannot release it safely; it then
//   stays until the process goes (see eglReleaseCallingThread), unless the exiting thread itself
//   is the one destroying the queue.

#include <functional>
#include <memory>
#include <string>
#include <thread>

class GLThreadQueue {
  public:
    explicit GLThreadQueue(std::string label);
    ~GLThreadQueue();
    GLThreadQueue(const GLThreadQueue&) = delete;
    GLThreadQueue& operator=(const GLThreadQueue&) = delete;

    const std::string& label() const;
    // Whether the calling thread is the queue's thread.
    bool isCurrent() const;
    std::thread::id threadId() const;

    // Runs the block on the queue's thread and waits for it (inline when already there).
    void sync(const std::function<void()>& block);
    // Queues the block and returns (runs it inline when already on the queue's thread).
    void async(std::function<void()> block);

    // The queue whose thread is the calling thread, or nullptr.
    static GLThreadQueue* current();

  private:
    struct State;
    std::shared_ptr<State> state_;
};
