#pragma once
// Sessions: one stretch of the app in the foreground.
//
// The session object follows the application's activation notifications, keeps the session
// status (0 none began in this process, 1 running, 2 ended) and the start time, and decides
// whether a session end is applied at once or as a work item under background time. Every
// activation after a resignation begins a new session with a new id, however short the pause.
// Sign-in and sign-off are checked here and applied by the core, where they cut the running
// session.
//
// The notifications arrive on the main thread; the flags are atomics because the upload worker
// reads whether the app is in the background.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "foundation/NSNotificationCenter.h"
#include "foundation/NSObject.h"

class TallySession : public NSObject {
  public:
    TallySession();
    static Ref<TallySession> sharedInstance();
    std::string className() const override { return "TallySession"; }
    std::string description() const override;

    static void startWithAppkey(const std::optional<std::string>& appKey);
    static void startWithAppkey(const std::optional<std::string>& appKey, int reportPolicy,
                                const std::optional<std::string>& channelId);

    void ensureSessionLaunch();
    void appActivate(const Ref<NSNotification>& notification);
    void appInactivate(const Ref<NSNotification>& notification);
    void beginSessionTime();
    // Seconds since the session began; 3600 for more than two hours.
    double endSessionTime() const;

    static void signInPUID(const std::optional<std::string>& puid,
                           const std::optional<std::string>& provider);
    static void profileSignInPUID(const std::optional<std::string>& puid);
    static void profileSignInPUID(const std::optional<std::string>& puid,
                                  const std::optional<std::string>& provider);
    static void profileSignOff();

    bool observerRegistered() const { return observerRegistered_.load(); }
    void setObserverRegistered(bool v) { observerRegistered_.store(v); }
    bool appInBackGround() const { return appInBackGround_.load(); }
    void setAppInBackGround(bool v) { appInBackGround_.store(v); }
    bool appBeKilling() const { return appBeKilling_.load(); }
    void setAppBeKilling(bool v) { appBeKilling_.store(v); }
    bool appCrashed() const { return appCrashed_.load(); }
    void setAppCrashed(bool v) { appCrashed_.store(v); }
    int sessionStatus() const { return sessionStatus_.load(); }
    void setSessionStatus(int v) { sessionStatus_.store(v); }
    double lastLaunchTime() const { return lastLaunchTime_.load(); }
    void setLastLaunchTime(double v) { lastLaunchTime_.store(v); }

    static void resetForTesting();

  private:
    std::atomic<bool> observerRegistered_{false};
    std::atomic<bool> appInBackGround_{false};
    std::atomic<bool> appBeKilling_{false};
    std::atomic<bool> appCrashed_{false};
    std::atomic<int> sessionStatus_{0};
    std::atomic<double> lastLaunchTime_{0};
};
