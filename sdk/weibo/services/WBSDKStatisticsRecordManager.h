#pragma once
// WBSDKStatisticsRecordManager: the Weibo SDK's usage log. App starts and ends, page views with
// their durations and named events become records on a private serial queue
// ("wbsdk_statistics_io_queue"), go into the statistics store, and are uploaded signed and
// gzip-compressed to the open API's "/2/proxy/sdk/statistic.json": by a repeating timer, on each
// return to the foreground, after each app start and on demand, at most once per 30 seconds after
// a success, each time the records of the last 86,400 seconds.
//
// An upload deletes exactly the rows it sent, and only once the reply is a JSON object whose
// "result" is "OK"; records made meanwhile stay, and a failed or odd reply deletes nothing.
//
// Settings live in the standard user defaults (synchronised at every write). While the switch
// "WBSDKStatisticsManagerEnabled" is off (the default), sharedManager() answers nil and nothing
// is recorded or uploaded at all.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSTimer.h"
#include "sdk/weibo/services/WBSDKDBManager.h"
#include "sdk/weibo/services/WBSDKStatisticsRecord.h"

inline constexpr char WBSDKStatisticsManagerFrquencyDidChangeNotification[] =
    "WBSDKStatisticsManagerFrquencyDidChangeNotification";
inline constexpr char kWBSDKStatisticsManagerEnabled[] = "WBSDKStatisticsManagerEnabled";
inline constexpr char kWBSDKStatisticsManagerDebugLogEnabled[] = "WBSDKStatisticsManagerDebugLogEnabled";
inline constexpr char kWBSDKStatisticsManagerChannelID[] = "WBSDKStatisticsManagerChannelID";
inline constexpr char kWBSDKStatisticsManagerVersionString[] = "WBSDKStatisticsManagerVersionString";
inline constexpr char kWBSDKStatisticsManagerFrquency[] = "WBSDKStatisticsManagerFrquency";
inline constexpr char kWBSDKStatisticsManagerLastUploadSuccessTimestamp[] =
    "WBSDKStatisticsManagerLastUploadSuccessTimestamp";
// The upload's path on the open API.
inline constexpr char kWBSDKStatisticsUploadPath[] = "/2/proxy/sdk/statistic.json";

enum WBSDKStatisticsRecordType : std::int64_t {
    WBSDKStatisticsRecordTypeAppStart = 0,
    WBSDKStatisticsRecordTypeAppEnd = 1,
    WBSDKStatisticsRecordTypePageView = 2,
    WBSDKStatisticsRecordTypeEvent = 3,
};

class WBSDKStatisticsRecordManager : public NSObject {
  public:
    WBSDKStatisticsRecordManager();
    ~WBSDKStatisticsRecordManager() override;
    void didInit();
    std::string className() const override { return "WBSDKStatisticsRecordManager"; }

    // The instance while the switch is on, else nil. The instance is made on first use (its timer
    // on the calling thread's run loop) whatever the switch says.
    static Ref<WBSDKStatisticsRecordManager> sharedManager();
    // The instance, made on first use, whatever the switch says.
    static Ref<WBSDKStatisticsRecordManager> instance();

    // Each queues one block on the manager's queue and returns at once.
    void startApp();
    void endApp();
    void beginLogPageView(const std::optional<std::string>& pageID);
    void endLogPageView(const std::optional<std::string>& pageID);
    void event(const std::optional<std::string>& eventID, const std::optional<std::string>& pageID,
               const std::optional<Dictionary>& userInfo);
    // Timed events are not recorded.
    void beginLogEvent(const std::optional<std::string>&, const std::optional<std::string>&,
                       const std::optional<Dictionary>&) {}
    void endLogEvent(const std::optional<std::string>&, const std::optional<std::string>&,
                     const std::optional<Dictionary>&) {}

    void applicationDidEnterBackground(const Ref<NSNotification>&) { endApp(); }
    void applicationWillEnterForeground(const Ref<NSNotification>&) { startApp(); }
    void uploadTimerFired(const Ref<NSTimer>&) { upload(); }
    void forceUpload() { upload(); }
    void uploadFrequencyDidChange(const Ref<NSNotification>&) { resetTimer(); }

    // "%@_%@_%d" of page, event and type, a missing value printed as "(null)".
    static std::string keyForRecordWithEventID(const std::optional<std::string>& eventID,
                                               const std::optional<std::string>& pageID, int recordType);
    // YES when more than 30 seconds passed since the last successful upload (logged otherwise).
    bool canUpload(double now);
    // Queues an upload attempt on the manager's queue.
    void upload();
    using ResultBlock = std::function<void(bool success)>;
    // Sends the records; the block runs on the main queue.
    void postLogsToServerWithRecords(const std::vector<Ref<WBSDKStatisticsRecord>>& records,
                                     ResultBlock block);
    // The upload body's JSON text.
    static std::string uploadFormatWithRecords(const std::vector<Ref<WBSDKStatisticsRecord>>& records,
                                               long long timestamp);
    static std::optional<std::string> uploadFormatForRecord(const Ref<WBSDKStatisticsRecord>& record);
    // "k:v|k:v" in the dictionary's order; "" for none.
    static std::string uploadFormatForRecordUserInfo(const std::optional<Dictionary>& userInfo);
    // The 7-character signature over aid (when known), app key and time.
    static std::string signature(const std::optional<std::string>& aid, const std::string& appKey,
                                 long long timestamp);
    // Deletes the records older than one day.
    void cleanHistoryUnlessRecord();
    void resetTimer();

    // ---- settings ------------------------------------------------------------------------------
    static bool statisticsEnabled();
    static bool enableDebugLog();
    // The stored channel, or "AppStore".
    static std::string channelID();
    // The stored version, or the main bundle's CFBundleShortVersionString.
    static std::string versionString();
    // The stored period when 30 <= period <= 28800, else 90.
    static double uploadFrequency();
    static double lastUploadSuccessTimestamp();
    static void setLastUploadSuccessTimestamp(double timestamp);

    const dispatch_queue_t& io_queue() const { return io_queue_; }
    Ref<NSTimer> uploadTimer() const;
    // Waits until the blocks queued on the manager's queue so far have run.
    void waitUntilIdle();
    // Upload requests sent whose reply has not been handled yet.
    int uploadsInFlight() const { return uploadsInFlight_.load(); }

  private:
    template <class... Args>
    void trace(std::string_view format, const Args&... args);
    void performUpload();

    dispatch_queue_t io_queue_;
    std::map<std::string, Ref<WBSDKStatisticsRecord>> recordsDict_;  // manager's queue only
    mutable std::mutex timerLock_;                                   // guards uploadTimer_
    Ref<NSTimer> uploadTimer_;
    Ref<WBSDKDBObjectStore> store_;
    std::atomic<int> uploadsInFlight_{0};
};

// The public face offered to apps: each forwarding call reaches the manager only while the switch
// is on.
namespace WeiboSDK_Statistics {
void setStatisticsEnabled(bool enabled);
void setStatisticsLogEnabled(bool enabled);
void setChannelID(const std::optional<std::string>& channelID);
void setVersion(const std::optional<std::string>& version);
// Refuses periods below 30 s or above 8 hours with a log line.
void setUploadFrequecy(double seconds);
void beginLogPageView(const std::optional<std::string>& pageID);
void endLogPageView(const std::optional<std::string>& pageID);
void beginLogEvent(const std::optional<std::string>& eventID);
void endLogEvent(const std::optional<std::string>& eventID);
void beginLogEvent(const std::optional<std::string>& eventID, const std::optional<std::string>& pageID,
                   const std::optional<Dictionary>& userInfo);
void endLogEvent(const std::optional<std::string>& eventID, const std::optional<std::string>& pageID,
                 const std::optional<Dictionary>& userInfo);
void event(const std::optional<std::string>& eventID);
void event(const std::optional<std::string>& eventID, const std::optional<std::string>& pageID,
           const std::optional<Dictionary>& userInfo);
void forceUploadRecords();
}  // namespace WeiboSDK_Statistics

namespace wbsdk_testing {
// Drops the manager (its timer and observers), as a new process would have none.
void resetStatisticsManager();
}  // namespace wbsdk_testing
