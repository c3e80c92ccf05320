#pragma once
// Marks a stretch of code where the calling thread blocks (waits for another thread, a socket, a
// condition). On a dispatch worker thread the pool then counts the worker as blocked and may
// start another one, so that queued work keeps moving while workers wait on each other. On any
// other thread it does nothing. The library's own waits (semaphores, groups, dispatch_sync)
// already do this; other libraries wrap their blocking waits in one.

class DispatchBlockingScope {
  public:
    DispatchBlockingScope();
    ~DispatchBlockingScope();
    DispatchBlockingScope(const DispatchBlockingScope&) = delete;
    DispatchBlockingScope& operator=(const DispatchBlockingScope&) = delete;
};

// Whether the calling thread is one of the dispatch pool's workers.
bool dispatch_on_worker_thread();
