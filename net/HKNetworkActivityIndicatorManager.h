#pragma once
// One process-wide count of running network requests driving the status-bar network activity
// indicator: shown as soon as a request runs, hidden only 0.17 seconds after the last one ended,
// so that back-to-back requests do not make it flicker.
//
// It learns of requests only from notifications: the connection operations' start and finish,
// and session tasks' resume, suspend and complete (a suspended task counts as ended). A
// notification whose request has no URL, or that carries no request, changes nothing. The count
// never goes below 0.
//
// While disabled the count is still kept (and observers of "activityCount" and
// "isNetworkActivityIndicatorVisible" are still told) but the status bar is never touched.
// Turning it off while the indicator shows leaves it showing.
//
// Threads: the count may change on any thread, under the manager's own lock; every visibility
// decision and the hide timer (on the platform clock, common run-loop modes) run on the main
// thread.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "foundation/NSNotificationCenter.h"
#include "foundation/NSObject.h"
#include "foundation/NSTimer.h"
#include "network/NSURLRequest.h"

// Names a session task posts, for the day session tasks exist.
inline constexpr char HKNetworkingTaskDidResumeNotification[] = "com.quentaro.networking.task.resume";
inline constexpr char HKNetworkingTaskDidSuspendNotification[] = "com.quentaro.networking.task.suspend";
inline constexpr char HKNetworkingTaskDidCompleteNotification[] = "com.quentaro.networking.task.complete";

// The seconds between the count reaching 0 and the indicator going off.
inline constexpr double HKNetworkActivityIndicatorInvisibilityDelay = 0.17;

class HKNetworkActivityIndicatorManager : public NSObject {
  public:
    HKNetworkActivityIndicatorManager() = default;
    ~HKNetworkActivityIndicatorManager() override;
    // Registers for the five notifications.
    void didInit();
    std::string className() const override { return "HKNetworkActivityIndicatorManager"; }

    static Ref<HKNetworkActivityIndicatorManager> sharedManager();

    bool isEnabled() const { return enabled_.load(); }
    void setEnabled(bool enabled) { enabled_.store(enabled); }
    std::int64_t activityCount() const;
    bool isNetworkActivityIndicatorVisible() const { return activityCount() > 0; }
    Ref<NSTimer> activityIndicatorVisibilityTimer() const;
    void setActivityIndicatorVisibilityTimer(const Ref<NSTimer>& timer);

    void incrementActivityCount();
    void decrementActivityCount();

    void networkRequestDidStart(const Ref<NSNotification>& notification);
    void networkRequestDidFinish(const Ref<NSNotification>& notification);

    Value valueForKey(const std::string& key) const override;
    std::vector<std::string> keyPathsForValuesAffectingValueForKey(const std::string& key) const override;

  private:
    void changeCount(int delta);
    void updateNetworkActivityIndicatorVisibilityDelayed();
    void updateNetworkActivityIndicatorVisibility();

    std::atomic<bool> enabled_{false};
    mutable std::recursive_mutex lock_;  // guards the count and the timer
    std::int64_t activityCount_ = 0;
    Ref<NSTimer> activityIndicatorVisibilityTimer_;
};

// The request a start or finish notification is about: an operation's request, or a session
// task's original request; nullptr otherwise.
Ref<NSURLRequest> HKRequestCarriedByNotification(const Ref<NSNotification>& notification);
