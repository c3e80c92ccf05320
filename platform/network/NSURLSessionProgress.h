#pragma once
// Progress objects: a total and a completed unit count that a job updates and others
// read or observe, with optional handlers that pause or cancel the work.
//
// The URL session layer hands one to every task it reports on (upload and download progress).
// "totalUnitCount", "completedUnitCount" and "fractionCompleted" are observable; observers are
// told on the thread that made the change. A total of 0 or less (unknown) gives a fraction of 0.
// pause() and cancel() set their flag once and call the handler set at that moment (on the
// caller's thread); a handler set after cancel() is called at once, as the platform does.
//
// Thread safety: every member may be used from any thread; the counts and handlers are guarded.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

class NSProgress : public NSObject {
  public:
    explicit NSProgress(std::int64_t totalUnitCount = 0) : total_(totalUnitCount) {}
    std::string className() const override { return "NSProgress"; }
    std::string description() const override;

    static Ref<NSProgress> progressWithTotalUnitCount(std::int64_t total) { return make<NSProgress>(total); }

    std::int64_t totalUnitCount() const;
    void setTotalUnitCount(std::int64_t count);
    std::int64_t completedUnitCount() const;
    void setCompletedUnitCount(std::int64_t count);
    // completed / total, 0 while the total is unknown.
    double fractionCompleted() const;

    bool isCancellable() const;
    void setCancellable(bool value);
    bool isPausable() const;
    void setPausable(bool value);
    bool isCancelled() const;
    bool isPaused() const;

    void setCancellationHandler(std::function<void()> handler);
    void setPausingHandler(std::function<void()> handler);
    void cancel();
    void pause();

    Value valueForKey(const std::string& key) const override;

  private:
    // Changes a count with the announcements for it and for the fraction.
    void changeCount(const char* key, std::int64_t NSProgress::*field, std::int64_t value);

    mutable std::mutex mutex_;  // guards everything below
    std::int64_t total_;
    std::int64_t completed_ = 0;
    bool cancellable_ = true;
    bool pausable_ = false;
    bool cancelled_ = false;
    bool paused_ = false;
    std::function<void()> cancellationHandler_;
    std::function<void()> pausingHandler_;
};
