#pragma once
// What the analytics library knows about its configuration.
//
// Settings are the lowest layer of the library's own parts: they build on the helpers and item
// records alone (see CMakeLists.txt for the whole order).
//
// TallyApp is the in-memory settings object: app key, channel, app version, the switches (crash
// capture, console log, background time, encryption), the report policy and send interval, the
// background task. TallyConfig is the persistent key store on the standard user defaults: every
// value that must survive a restart lives there under a fixed key, and every write is
// synchronised at once. TallyLocation keeps the last location the app gave until the next
// session end takes it.
//
// All three are usable from any thread: the public interface sets switches on the caller's
// thread while the core reads them on the main thread and the upload worker on its own, so each
// guards its fields.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "uikit/UIApplication.h"

class TATBase;
class TATImprint;

class TallyApp : public NSObject {
  public:
    TallyApp();
    static Ref<TallyApp> sharedInstance();

    // The imprint says "integrated_test" = 1.
    static bool isIntegratedTestModel();
    // Seconds between sends under policy 6: the experiment's test interval, else the imprint's,
    // the stored fallback or the app's; 90 when none or when out of 90..86400.
    static double minReportInterval();
    // 1, 6 and 8 stay; 0 only in integrated test mode while debugging; anything else becomes 1.
    static int verifyReportPolicy(int policy);
    static void setEncryptEnabled(bool enabled);
    static void setBackgroundTaskEnabled(bool enabled);
    static void setLogEnabled(bool enabled);
    // Ignored when blank.
    static void setAppVersion(const std::optional<std::string>& version);
    // The version given through setAppVersion, else the bundle version.
    static std::string appVersionString();

    // The policy in force (experiment, imprint, stored values), checked and remembered.
    int reportPolicy();
    std::string description() const override;
    std::string className() const override { return "TallyApp"; }
    // The console line for a start without a usable app key.
    void noAppKeyException() const;
    // Asks for background time unless a task is already held.
    void activeBackgroundTask();

    bool crashReportEnabled() const { return crashReportEnabled_.load(); }
    void setCrashReportEnabledField(bool v) { crashReportEnabled_.store(v); }
    // Marks the crash handlers installed (or not); the previous mark.
    bool exchangeCrashHandlerInstalled(bool v) { return appCrashedHandlerInstalled_.exchange(v); }
    bool backgroundTaskEnabled() const { return backgroundTaskEnabled_.load(); }
    void setBackgroundTaskEnabledField(bool v) { backgroundTaskEnabled_.store(v); }
    // The switch itself is the console log's, which every part below the settings reads.
    bool logEnabled() const;
    void setLogEnabledField(bool v);
    double logSendInterval() const { return logSendInterval_.load(); }
    void setLogSendInterval(double v) { logSendInterval_.store(v); }
    UIBackgroundTaskIdentifier backgroundTaskIdentifier() const { return backgroundTaskIdentifier_.load(); }
    void setBackgroundTaskIdentifier(UIBackgroundTaskIdentifier v) { backgroundTaskIdentifier_.store(v); }
    std::optional<std::string> appVersion() const;
    void setAppVersionField(const std::optional<std::string>& v);
    std::string channel() const;
    void setChannel(const std::string& v);
    int reportPolicyField() const { return reportPolicy_.load(); }
    void setReportPolicyField(int v) { reportPolicy_.store(v); }
    bool encryptEnabled() const { return encryptEnabled_.load(); }
    void setEncryptEnabledField(bool v) { encryptEnabled_.store(v); }
    bool appCrashedHandlerInstalled() const { return appCrashedHandlerInstalled_.load(); }
    std::optional<std::string> appid() const;
    void setAppid(const std::optional<std::string>& v);

    // Forgets the shared settings and location and turns the console log off.
    static void resetForTesting();

  private:
    std::atomic<bool> crashReportEnabled_{true};
    std::atomic<bool> backgroundTaskEnabled_{true};
    std::atomic<double> logSendInterval_{90};
    std::atomic<UIBackgroundTaskIdentifier> backgroundTaskIdentifier_{0};
    std::atomic<int> reportPolicy_{0};
    std::atomic<bool> encryptEnabled_{false};
    std::atomic<bool> appCrashedHandlerInstalled_{false};
    mutable std::mutex lock_;  // guards the strings
    std::optional<std::string> appVersion_;
    std::string channel_ = "App Store";
    std::optional<std::string> appid_;
};

class TallyConfig {
  public:
    // The stored value, nil when absent.
    static Value configureWithKey(const std::string& key);
    // Nothing for a nil value or a blank key.
    static void setConfigure(const Value& value, const std::string& key);
    static void removeConfigureWithKey(const std::string& key);
    // Stores the stored integer (0 when absent) plus n.
    static void accumulateCount(int n, const std::string& key);
    // One more successful or failed upload; a time of 1 ms or more is kept as the last one's.
    static void incrementRequest(bool succeeded, int milliseconds);
    // Today as "yyyy-MM-dd" under "lastPostDate" and now under "lastPostInterval".
    static void setLastPostDate();
    // The collector's settings, kept as written record bytes under "umImprint"; nullptr when none.
    static Ref<TATImprint> storedImprint();
    // The stored imprint's value for the key; nothing without one.
    static std::optional<std::string> imprintPropertyValueWithKey(const std::string& key);
};

class TallyLocation : public NSObject {
  public:
    static Ref<TallyLocation> sharedInstance();
    // Either value 0: logged and ignored. Otherwise kept with now as the fix time.
    static void setLatitude(double latitude, double longitude);
    // Any location object with coordinate().latitude and .longitude.
    template <class Location>
    static void setLocation(const Location& location) {
        setLatitude(location.coordinate().latitude, location.coordinate().longitude);
    }

    double latitude() const;
    double longitude() const;
    double gps_time() const;
    void setLatitudeField(double v);
    void setLongitudeField(double v);
    void setGps_time(double v);
    // Takes the fix and clears the store when both coordinates are non-zero.
    bool takeFix(double& latitude, double& longitude, double& gpsTime);
    std::string className() const override { return "TallyLocation"; }

  private:
    mutable std::mutex lock_;
    double latitude_ = 0;
    double longitude_ = 0;
    double gps_time_ = 0;
};

namespace detail {
// Writes a record with the binary protocol over a fresh memory buffer; nothing when it raises.
std::optional<NSData> tallyWriteRecord(const TATBase& record);
// Reads a record from bytes; false when it raised (the record keeps what was read).
bool tallyReadRecord(TATBase& record, const NSData& data);
}  // namespace detail
