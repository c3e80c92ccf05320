#pragma once
// Shared by the operation and operation-queue tests.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace optest {

constexpr double kTimeout = 10.0;

// A count that threads raise and tests wait on, with a limit so that a fault fails instead of
// hanging.
class Counter {
  public:
    void raise(int by = 1) {
        std::lock_guard guard(lock_);
        value_ += by;
        changed_.notify_all();
    }
    int value() const {
        std::lock_guard guard(lock_);
        return value_;
    }
    bool waitFor(int target, double seconds = kTimeout) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::duration<double>(seconds),
                                 [&] { return value_ >= target; });
    }

  private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    int value_ = 0;
};

}  // namespace optest
