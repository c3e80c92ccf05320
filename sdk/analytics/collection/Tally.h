#pragma once
// The one class through which the application talks to the analytics library: class methods
// only, no state. Each checks its arguments or forwards at once to the settings store, the
// session object or the event entry points, which turn recording calls into work items applied
// later on the main thread. Calls may come from any thread; recording never raises and never
// returns an error: bad input is dropped with a console line.

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/NSNotificationCenter.h"
#include "foundation/Value.h"
#include "sdk/analytics/collection/TallySettings.h"

class Tally {
  public:
    static void startWithAppkey(const std::optional<std::string>& appKey);
    static void startWithAppkey(const std::optional<std::string>& appKey, int reportPolicy,
                                const std::optional<std::string>& channelId);
    static void startSession(const Ref<NSNotification>& notification);
    static void setAppVersion(const std::optional<std::string>& version);
    static void setCrashReportEnabled(bool enabled);
    static void setLogEnabled(bool enabled);
    static void setBackgroundTaskEnabled(bool enabled);
    static void setEncryptEnabled(bool enabled);
    // Below 90 s: an error line and nothing else.
    static void setLogSendInterval(double seconds);
    // At most 1800 (a negative value also becomes 1800).
    static void setLatency(int seconds);
    static void setLatitude(double latitude, double longitude);
    template <class Location>
    static void setLocation(const Location& location) {
        TallyLocation::setLocation(location);
    }
    static bool isJailbroken();

    static void logPageView(const std::optional<std::string>& pageName, int seconds);
    static void beginLogPageView(const std::optional<std::string>& pageName);
    static void endLogPageView(const std::optional<std::string>& pageName);

    static void event(const std::optional<std::string>& eventId);
    static void event(const std::optional<std::string>& eventId, const std::optional<std::string>& label);
    static void event(const std::optional<std::string>& eventId, std::int64_t acc);
    static void event(const std::optional<std::string>& eventId, const std::optional<std::string>& label,
                      std::int64_t acc);
    static void eventDurations(const std::optional<std::string>& eventId, int milliseconds);
    static void eventDurations(const std::optional<std::string>& eventId,
                               const std::optional<std::string>& label, int milliseconds);
    static void event(const std::optional<std::string>& eventId, const std::optional<Dictionary>& attributes);
    static void event(const std::optional<std::string>& eventId, const std::optional<Dictionary>& attributes,
                      int counter);
    static void eventAttributesDurations(const std::optional<std::string>& eventId,
                                         const std::optional<Dictionary>& attributes, int milliseconds);
    static void beginEvent(const std::optional<std::string>& eventId);
    static void endEvent(const std::optional<std::string>& eventId);
    static void beginEvent(const std::optional<std::string>& eventId,
                           const std::optional<std::string>& label);
    static void endEvent(const std::optional<std::string>& eventId, const std::optional<std::string>& label);
    static void beginEvent(const std::optional<std::string>& eventId,
                           const std::optional<std::string>& primaryKey,
                           const std::optional<Dictionary>& attributes);
    static void endEventPrimaryKey(const std::optional<std::string>& eventId,
                                   const std::optional<std::string>& primaryKey);

    static void setWrapperType(const std::optional<std::string>& type);
    static void setWrapperVersion(const std::optional<std::string>& version);
    static void setWrapperType(const std::optional<std::string>& type,
                               const std::optional<std::string>& version);

    static void profileSignInWithPUID(const std::optional<std::string>& puid);
    static void profileSignInWithPUID(const std::optional<std::string>& puid,
                                      const std::optional<std::string>& provider);
    static void profileSignOff();
};
