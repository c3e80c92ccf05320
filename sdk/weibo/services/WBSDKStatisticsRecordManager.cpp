#include "sdk/weibo/services/WBSDKStatisticsRecordManager.h"

#include <cmath>

#include "foundation/NSBundle.h"
#include "foundation/NSLog.h"
#include "foundation/NSOperationQueue.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "foundation/NSURL.h"
#include "foundation/NSUserDefaults.h"
#include "network/NSURLConnection.h"
#include "network/NSURLRequest.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "sdk/weibo/bridge/WeiboSDK3rdApp.h"
#include "sdk/weibo/services/NSMutableDictionary+WBSDKStatisticsSetValue.h"
#include "sdk/weibo/util/WBSDKJSONCodecCategories.h"
#include "sdk/weibo/util/WBSDKUtil.h"
#include "uikit/UIApplication.h"

using NSMutableDictionary_WBSDKStatisticsSetValue::wbsdkstatistic_setSafeObject;

namespace {

constexpr char kQueueLabel[] = "wbsdk_statistics_io_queue";
constexpr char kSalt[] = "qmt83vz5kp0xj2wr";
constexpr double kOneDay = 86400;
constexpr double kMinimumGap = 30;

std::mutex gManagerLock;  // guards gManager
Ref<WBSDKStatisticsRecordManager> gManager;

std::string orNull(const std::optional<std::string>& s) {
    return s ? *s : std::string("(null)");
}

Ref<NSUserDefaults> defaults() {
    return NSUserDefaults::standardUserDefaults();
}

}  // namespace

WBSDKStatisticsRecordManager::WBSDKStatisticsRecordManager() {
    io_queue_ = dispatch_queue_create(kQueueLabel, DISPATCH_QUEUE_SERIAL);
}

void WBSDKStatisticsRecordManager::didInit() {
    auto center = NSNotificationCenter::defaultCenter();
    auto self = std::static_pointer_cast<WBSDKStatisticsRecordManager>(this->self());
    center->addObserver(self, &WBSDKStatisticsRecordManager::applicationDidEnterBackground,
                        std::string(UIApplicationDidEnterBackgroundNotification));
    center->addObserver(self, &WBSDKStatisticsRecordManager::applicationWillEnterForeground,
                        std::string(UIApplicationWillEnterForegroundNotification));
    center->addObserver(self, &WBSDKStatisticsRecordManager::uploadFrequencyDidChange,
                        std::string(WBSDKStatisticsManagerFrquencyDidChangeNotification));
    store_ = WBSDKDBObjectStore::sharedStore(WBSDKStatisticsRecord::objectClass());
    cleanHistoryUnlessRecord();
    resetTimer();
}

WBSDKStatisticsRecordManager::~WBSDKStatisticsRecordManager() {
    std::lock_guard guard(timerLock_);
    if (uploadTimer_) uploadTimer_->invalidate();
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const NSObject*>(this));
}

Ref<WBSDKStatisticsRecordManager> WBSDKStatisticsRecordManager::instance() {
    std::lock_guard guard(gManagerLock);
    if (!gManager) gManager = make<WBSDKStatisticsRecordManager>();
    return gManager;
}

Ref<WBSDKStatisticsRecordManager> WBSDKStatisticsRecordManager::sharedManager() {
    auto manager = instance();
    return statisticsEnabled() ? manager : nullptr;
}

template <class... Args>
void WBSDKStatisticsRecordManager::trace(std::string_view format, const Args&... args) {
    if (enableDebugLog()) NSLog(format, args...);
}

// ---- settings ----------------------------------------------------------------------------------

bool WBSDKStatisticsRecordManager::statisticsEnabled() {
    return defaults()->boolForKey(kWBSDKStatisticsManagerEnabled);
}

bool WBSDKStatisticsRecordManager::enableDebugLog() {
    return defaults()->boolForKey(kWBSDKStatisticsManagerDebugLogEnabled);
}

std::string WBSDKStatisticsRecordManager::channelID() {
    auto stored = defaults()->stringForKey(kWBSDKStatisticsManagerChannelID);
    return stored && !stored->empty() ? *stored : std::string("AppStore");
}

std::string WBSDKStatisticsRecordManager::versionString() {
    auto stored = defaults()->stringForKey(kWBSDKStatisticsManagerVersionString);
    if (stored && !stored->empty()) return *stored;
    return NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleShortVersionString").stringValue();
}

double WBSDKStatisticsRecordManager::uploadFrequency() {
    double stored = defaults()->doubleForKey(kWBSDKStatisticsManagerFrquency);
    return stored >= 30 && stored <= 28800 ? stored : 90;
}

double WBSDKStatisticsRecordManager::lastUploadSuccessTimestamp() {
    return defaults()->doubleForKey(kWBSDKStatisticsManagerLastUploadSuccessTimestamp);
}

void WBSDKStatisticsRecordManager::setLastUploadSuccessTimestamp(double timestamp) {
    defaults()->setDouble(kWBSDKStatisticsManagerLastUploadSuccessTimestamp, timestamp);
    defaults()->synchronize();
}

// ---- recording ----------------------------------------------------------------------------------

std::string WBSDKStatisticsRecordManager::keyForRecordWithEventID(const std::optional<std::string>& eventID,
                                                                  const std::optional<std::string>& pageID,
                                                                  int recordType) {
    return NSString::stringWithFormat("%@_%@_%d", orNull(pageID), orNull(eventID), recordType);
}

void WBSDKStatisticsRecordManager::startApp() {
    auto self = std::static_pointer_cast<WBSDKStatisticsRecordManager>(this->self());
    dispatch_async(io_queue_, [self] {
        if (!statisticsEnabled()) return;
        auto record = WBSDKStatisticsRecord::recordWithEventID(std::nullopt, std::nullopt, std::nullopt,
                                                               WBSDKStatisticsRecordTypeAppStart);
        self->store_->addObject(record);
        self->trace("AppStart atTime:'%@'", Value(record->time()));
        self->performUpload();
    });
}

void WBSDKStatisticsRecordManager::endApp() {
    auto self = std::static_pointer_cast<WBSDKStatisticsRecordManager>(this->self());
    dispatch_async(io_queue_, [self] {
        if (!statisticsEnabled()) return;
        auto record = WBSDKStatisticsRecord::recordWithEventID(std::nullopt, std::nullopt, std::nullopt,
                                                               WBSDKStatisticsRecordTypeAppEnd);
        self->store_->addObject(record);
        self->trace("AppEnd atTime:'%@'", Value(record->time()));
    });
}

void WBSDKStatisticsRecordManager::beginLogPageView(const std::optional<std::string>& pageID) {
    auto self = std::static_pointer_cast<WBSDKStatisticsRecordManager>(this->self());
    dispatch_async(io_queue_, [self, pageID] {
        if (!statisticsEnabled()) return;
        auto record = WBSDKStatisticsRecord::recordWithEventID(std::nullopt, pageID, std::nullopt,
                                                               WBSDKStatisticsRecordTypePageView);
        self->recordsDict_[keyForRecordWithEventID(std::nullopt, pageID, WBSDKStatisticsRecordTypePageView)] =
            record;
        self->trace("Begin PageView:'%@' atTime:'%@'", orNull(pageID), Value(NSDate::date()));
    });
}

void WBSDKStatisticsRecordManager::endLogPageView(const std::optional<std::string>& pageID) {
    auto self = std::static_pointer_cast<WBSDKStatisticsRecordManager>(this->self());
    dispatch_async(io_queue_, [self, pageID] {
        if (!statisticsEnabled()) return;
        NSDate now = NSDate::date();
        auto key = keyForRecordWithEventID(std::nullopt, pageID, WBSDKStatisticsRecordTypePageView);
        double duration = 0;
        auto it = self->recordsDict_.find(key);
        if (it != self->recordsDict_.end()) {
            auto record = it->second;
            duration = now.timeIntervalSinceDate(record->time());
            record->setDuration(duration);
            self->store_->addObject(record);
            self->recordsDict_.erase(it);
        }
        self->trace("End PageView:'%@', atTime:'%@', Duration:'%f'", orNull(pageID), Value(now), duration);
    });
}

void WBSDKStatisticsRecordManager::event(const std::optional<std::string>& eventID,
                                         const std::optional<std::string>& pageID,
                                         const std::optional<Dictionary>& userInfo) {
    auto self = std::static_pointer_cast<WBSDKStatisticsRecordManager>(this->self());
    // The caller may change its dictionary afterwards; the record keeps what was given.
    std::optional<Dictionary> info = userInfo ? std::optional<Dictionary>(userInfo->copy()) : std::nullopt;
    dispatch_async(io_queue_, [self, eventID, pageID, info] {
        if (!statisticsEnabled()) return;
        auto record =
            WBSDKStatisticsRecord::recordWithEventID(eventID, pageID, info, WBSDKStatisticsRecordTypeEvent);
        self->store_->addObject(record);
        self->trace("Event:'%@', inPageView:'%@', atTime:'%@', withUserInfo:'%@'", orNull(eventID),
                    orNull(pageID), Value(record->time()), info ? Value(*info) : Value());
    });
}

// ---- upload -------------------------------------------------------------------------------------

bool WBSDKStatisticsRecordManager::canUpload(double now) {
    if (now - lastUploadSuccessTimestamp() > kMinimumGap) return true;
    NSLog("Cannot do the upload process, the time from last uploadTime is not above 30 seconds!");
    return false;
}

void WBSDKStatisticsRecordManager::upload() {
    auto self = std::static_pointer_cast<WBSDKStatisticsRecordManager>(this->self());
    dispatch_async(io_queue_, [self] { self->performUpload(); });
}

void WBSDKStatisticsRecordManager::performUpload() {
    if (!statisticsEnabled()) return;
    NSDate now = NSDate::date();
    if (!canUpload(now.timeIntervalSince1970())) return;
    NSDate from = now.dateByAddingTimeInterval(-kOneDay);
    auto self = std::static_pointer_cast<WBSDKStatisticsRecordManager>(this->self());
    store_->objectsFromDate(from, now, [self, now](const std::vector<WBSDKDBObject>& objects) {
        dispatch_async(self->io_queue_, [self, now, objects] {
            std::vector<Ref<WBSDKStatisticsRecord>> records;
            for (const auto& object : objects) {
                if (auto record = std::dynamic_pointer_cast<WBSDKStatisticsRecord>(object))
                    records.push_back(record);
            }
            if (records.empty()) return;
            self->postLogsToServerWithRecords(records, [self, now, objects](bool success) {
                if (!success) return;  // the records stay for the next attempt
                setLastUploadSuccessTimestamp(now.timeIntervalSince1970());
                // Exactly the rows that were sent go; records made meanwhile stay.
                self->store_->deleteObjects(objects);
            });
        });
    });
}

void WBSDKStatisticsRecordManager::postLogsToServerWithRecords(
    const std::vector<Ref<WBSDKStatisticsRecord>>& records, ResultBlock block) {
    long long ts = static_cast<long long>(std::floor(NSDate::date().timeIntervalSince1970()));
    std::string body = uploadFormatWithRecords(records, ts);
    Dictionary query = Dictionary::mutableDictionary();
    wbsdkstatistic_setSafeObject(query, Value(WeiboSDK3rdApp::currentApp()->appKey()), std::string("source"));
    auto urlText = WeiboSDK::serializeURLString(WeiboSDK::openAPIRoot() + kWBSDKStatisticsUploadPath, query);
    auto url = urlText ? NSURL::URLWithString(*urlText) : nullptr;
    auto gz = NSData_WBSDKGZIP::wbsdk_gzippedData(NSData::fromString(body));
    if (!url || !gz) {
        if (block) dispatch_async(dispatch_get_main_queue(), [block] { block(false); });
        return;
    }
    auto request = NSMutableURLRequest::requestWithURL(url);
    request->setHTTPMethod("POST");
    request->setTimeoutInterval(20);
    request->setValue(std::string("gzip"), "Accept-Encoding");
    request->setValue(std::string("gzip"), "Content-Encoding");
    request->setHTTPBody(*gz);
    trace("will post log,%@", request);
    auto self = std::static_pointer_cast<WBSDKStatisticsRecordManager>(this->self());
    ++uploadsInFlight_;
    NSURLConnection::sendAsynchronousRequest(
        request, NSOperationQueue::mainQueue(),
        [self, block](const Ref<NSURLResponse>&, const std::optional<NSData>& data,
                      const Ref<NSError>& error) {
            bool success = false;
            if (data && !error) {
                std::string text = data->toString();
                self->trace("did receive response,%@", text);
                Value reply = NSString_WBSDKJSONCodecDeserializing::weibosdk_objectFromWBSDKJSONString(text);
                const Value& result = reply["result"];
                success = reply.isDictionary() && result.isString() && *result.string() == "OK";
            }
            if (block) block(success);
            --self->uploadsInFlight_;
        });
}

std::string WBSDKStatisticsRecordManager::signature(const std::optional<std::string>& aid,
                                                    const std::string& appKey, long long timestamp) {
    std::string s =
        (aid && !aid->empty() ? *aid : std::string()) + appKey + kSalt + std::to_string(timestamp);
    std::string h1 = WBSDKUtil::md5(s);
    std::string a = h1.substr(h1.size() - 6);
    std::string h2 = WBSDKUtil::md5(a + a.substr(0, 4));
    return a + h2.back();
}

std::string
WBSDKStatisticsRecordManager::uploadFormatWithRecords(const std::vector<Ref<WBSDKStatisticsRecord>>& records,
                                                      long long timestamp) {
    auto app = WeiboSDK3rdApp::currentApp();
    std::optional<std::string> aid = WeiboSDK::getWeiboAid();
    std::string appKey = app->appKey().value_or("");
    Array content = Array::mutableArray();
    for (const auto& record : records) {
        if (auto text = uploadFormatForRecord(record)) content.addObject(*text);
    }
    Dictionary envelope = Dictionary::mutableDictionary();
    wbsdkstatistic_setSafeObject(envelope, Value(aid), std::string("aid"));
    wbsdkstatistic_setSafeObject(envelope, Value(NSNumber::numberWithLongLong(timestamp)),
                                 std::string("time"));
    wbsdkstatistic_setSafeObject(envelope, Value(app->appKey()), std::string("appkey"));
    wbsdkstatistic_setSafeObject(envelope, Value("iOS"), std::string("platform"));
    wbsdkstatistic_setSafeObject(envelope, Value(app->bundleID()), std::string("packagename"));
    wbsdkstatistic_setSafeObject(envelope, Value(WeiboSDK::hashKey()), std::string("key_hash"));
    wbsdkstatistic_setSafeObject(envelope, Value(channelID()), std::string("channel"));
    wbsdkstatistic_setSafeObject(envelope, Value(versionString()), std::string("version"));
    wbsdkstatistic_setSafeObject(envelope, Value(content), std::string("content"));
    wbsdkstatistic_setSafeObject(envelope, Value(NSNumber::numberWithUnsignedLong(content.count())),
                                 std::string("length"));
    wbsdkstatistic_setSafeObject(envelope, Value(signature(aid, appKey, timestamp)), std::string("sign"));
    return NSArray_WBSDKJSONCodecSerializing::weibosdk_WBSDKJSONString(Value(envelope)).value_or("");
}

std::optional<std::string>
WBSDKStatisticsRecordManager::uploadFormatForRecord(const Ref<WBSDKStatisticsRecord>& record) {
    if (!record) return std::nullopt;
    Dictionary entry = Dictionary::mutableDictionary();
    wbsdkstatistic_setSafeObject(entry, Value(NSNumber::numberWithLongLong(record->recordType())),
                                 std::string("type"));
    auto seconds = static_cast<long long>(std::floor(record->time().timeIntervalSince1970()));
    wbsdkstatistic_setSafeObject(entry, Value(NSNumber::numberWithLongLong(seconds)), std::string("time"));
    wbsdkstatistic_setSafeObject(entry, Value(record->pageID()), std::string("page_id"));
    wbsdkstatistic_setSafeObject(entry, Value(record->eventID()), std::string("event_id"));
    wbsdkstatistic_setSafeObject(entry, Value(uploadFormatForRecordUserInfo(record->userInfo())),
                                 std::string("extend"));
    if (record->recordType() == WBSDKStatisticsRecordTypePageView) {
        wbsdkstatistic_setSafeObject(
            entry, Value(NSNumber::numberWithLongLong(static_cast<long long>(record->duration()))),
            std::string("duration"));
    }
    return NSArray_WBSDKJSONCodecSerializing::weibosdk_WBSDKJSONString(Value(entry));
}

std::string
WBSDKStatisticsRecordManager::uploadFormatForRecordUserInfo(const std::optional<Dictionary>& userInfo) {
    std::string out;
    if (!userInfo) return out;
    bool first = true;
    for (const auto& [key, value] : *userInfo) {
        out += NSString::stringWithFormat(first ? "%@:%@" : "|%@:%@", key, value);
        first = false;
    }
    return out;
}

void WBSDKStatisticsRecordManager::cleanHistoryUnlessRecord() {
    store_->deleteObjectsFromDate(NSDate::distantPast(), NSDate::date().dateByAddingTimeInterval(-kOneDay));
}

void WBSDKStatisticsRecordManager::resetTimer() {
    std::lock_guard guard(timerLock_);
    if (uploadTimer_) uploadTimer_->invalidate();
    Weak<WBSDKStatisticsRecordManager> weak = std::static_pointer_cast<WBSDKStatisticsRecordManager>(self());
    uploadTimer_ =
        NSTimer::scheduledTimerWithTimeInterval(uploadFrequency(), true, [weak](const Ref<NSTimer>& timer) {
            if (auto self = weak.lock()) self->uploadTimerFired(timer);
        });
}

Ref<NSTimer> WBSDKStatisticsRecordManager::uploadTimer() const {
    std::lock_guard guard(timerLock_);
    return uploadTimer_;
}

void WBSDKStatisticsRecordManager::waitUntilIdle() {
    dispatch_sync(io_queue_, [] {});
}

// ---- WeiboSDK(Statistics) -----------------------------------------------------------------------

namespace WeiboSDK_Statistics {

void setStatisticsEnabled(bool enabled) {
    defaults()->setBool(kWBSDKStatisticsManagerEnabled, enabled);
    defaults()->synchronize();
}

void setStatisticsLogEnabled(bool enabled) {
    defaults()->setBool(kWBSDKStatisticsManagerDebugLogEnabled, enabled);
    defaults()->synchronize();
}

void setChannelID(const std::optional<std::string>& channelID) {
    if (!channelID) return;
    defaults()->setObject(kWBSDKStatisticsManagerChannelID, *channelID);
    defaults()->synchronize();
}

void setVersion(const std::optional<std::string>& version) {
    if (!version) return;
    defaults()->setObject(kWBSDKStatisticsManagerVersionString, *version);
    defaults()->synchronize();
}

void setUploadFrequecy(double seconds) {
    if (seconds < 30 || seconds > 28800 || std::isnan(seconds)) {
        NSLog("Can't not be set below 30 seconds or above 8 hours");
        return;
    }
    double old = defaults()->doubleForKey(kWBSDKStatisticsManagerFrquency);
    defaults()->setDouble(kWBSDKStatisticsManagerFrquency, seconds);
    defaults()->synchronize();
    // A changed period re-arms the timer at once, a lowered one too.
    if (old != seconds) {
        NSNotificationCenter::defaultCenter()->postNotificationName(
            WBSDKStatisticsManagerFrquencyDidChangeNotification);
    }
}

void beginLogPageView(const std::optional<std::string>& pageID) {
    if (auto manager = WBSDKStatisticsRecordManager::sharedManager()) manager->beginLogPageView(pageID);
}

void endLogPageView(const std::optional<std::string>& pageID) {
    if (auto manager = WBSDKStatisticsRecordManager::sharedManager()) manager->endLogPageView(pageID);
}

void beginLogEvent(const std::optional<std::string>& eventID) {
    beginLogEvent(eventID, std::nullopt, std::nullopt);
}

void endLogEvent(const std::optional<std::string>& eventID) {
    endLogEvent(eventID, std::nullopt, std::nullopt);
}

void beginLogEvent(const std::optional<std::string>& eventID, const std::optional<std::string>& pageID,
                   const std::optional<Dictionary>& userInfo) {
    if (auto manager = WBSDKStatisticsRecordManager::sharedManager())
        manager->beginLogEvent(eventID, pageID, userInfo);
}

void endLogEvent(const std::optional<std::string>& eventID, const std::optional<std::string>& pageID,
                 const std::optional<Dictionary>& userInfo) {
    if (auto manager = WBSDKStatisticsRecordManager::sharedManager())
        manager->endLogEvent(eventID, pageID, userInfo);
}

void event(const std::optional<std::string>& eventID) {
    if (auto manager = WBSDKStatisticsRecordManager::sharedManager())
        manager->event(eventID, std::nullopt, std::nullopt);
}

void event(const std::optional<std::string>& eventID, const std::optional<std::string>& pageID,
           const std::optional<Dictionary>& userInfo) {
    if (auto manager = WBSDKStatisticsRecordManager::sharedManager())
        manager->event(eventID, pageID, userInfo);
}

void forceUploadRecords() {
    if (auto manager = WBSDKStatisticsRecordManager::sharedManager()) manager->forceUpload();
}

}  // namespace WeiboSDK_Statistics

namespace wbsdk_testing {

void resetStatisticsManager() {
    Ref<WBSDKStatisticsRecordManager> manager;
    {
        std::lock_guard guard(gManagerLock);
        manager.swap(gManager);
    }
    if (manager) manager->waitUntilIdle();
}

}  // namespace wbsdk_testing
