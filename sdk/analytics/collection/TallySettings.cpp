#include "sdk/analytics/collection/TallySettings.h"

#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSBundle.h"
#include "foundation/NSDate.h"
#include "foundation/NSLock.h"
#include "foundation/NSLog.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSUserDefaults.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/records/TATBinaryProtocol.h"
#include "sdk/analytics/records/TATImprintRecords.h"

namespace {

std::mutex gSharedLock;
Ref<TallyApp> gApp;
Ref<TallyLocation> gLocation;
// Guards the read-modify-write counters in the defaults.
std::mutex gCounterLock;

// A number given as a number or as its decimal text; nothing for blank or other kinds.
std::optional<double> numberFrom(const Value& v) {
    if (v.isNumber()) return v.number()->doubleValue();
    if (v.isString() && !TANUtil::isEmptyString(v)) return NSString::doubleValue(*v.string());
    return std::nullopt;
}

void logException(const TATException& e) {
    NSLog("Exception occurred: %@, %@", e.description(), e.userInfoValue());
}

std::optional<double> imprintNumber(const char* key) {
    auto text = TallyConfig::imprintPropertyValueWithKey(key);
    if (!text || TANUtil::isEmptyString(text)) return std::nullopt;
    return NSString::doubleValue(*text);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TallyApp

TallyApp::TallyApp() {
    Value version = NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleVersion");
    if (version.isString()) appVersion_ = *version.string();
    Value key = NSUserDefaults::standardUserDefaults()->objectForKey("appkey");
    if (key.isString() && !TANUtil::isEmptyString(key)) appid_ = *key.string();
}

Ref<TallyApp> TallyApp::sharedInstance() {
    std::lock_guard<std::mutex> guard(gSharedLock);
    if (!gApp) {
        gApp = make<TallyApp>();
        gApp->setLogSendInterval(minReportInterval());
    }
    return gApp;
}

bool TallyApp::isIntegratedTestModel() {
    auto value = TallyConfig::imprintPropertyValueWithKey("integrated_test");
    return value && NSString::intValue(*value) == 1;
}

double TallyApp::minReportInterval() {
    std::optional<double> v;
    if (!isIntegratedTestModel() && TallyConfig::configureWithKey("umExperimentRPT").intValue() == 6) {
        v = imprintNumber("test_report_interval");
    }
    if (!v) v = imprintNumber("report_interval");
    if (!v) v = numberFrom(TallyConfig::configureWithKey("tally_report_interval"));
    if (!v) v = numberFrom(TallyConfig::configureWithKey("umcReportInterval"));
    double interval = v.value_or(90);
    if (interval > 86400 || interval < 90) return 90;
    return interval;
}

int TallyApp::verifyReportPolicy(int policy) {
    switch (policy) {
        case 1:
        case 6:
        case 8:
            return policy;
        case 0:
            return (isIntegratedTestModel() && TANUtil::isDebugging()) ? 0 : 1;
        default:
            return 1;
    }
}

int TallyApp::reportPolicy() {
    std::optional<int> p;
    Value experiment = TallyConfig::configureWithKey("umExperimentRPT");
    if (!experiment.isNil() && !isIntegratedTestModel()) p = experiment.intValue();
    if (!p) {
        if (auto imprint = TallyConfig::imprintPropertyValueWithKey("report_policy")) {
            p = NSString::intValue(*imprint);
        } else if (Value stored = TallyConfig::configureWithKey("report_policy"); !stored.isNil()) {
            p = stored.intValue();
        } else if (Value app = TallyConfig::configureWithKey("umcReportPolicy"); !app.isNil()) {
            p = app.intValue();
        } else {
            p = reportPolicyField();
        }
    }
    int verified = verifyReportPolicy(*p);
    setReportPolicyField(verified);
    return verified;
}

void TallyApp::setEncryptEnabled(bool enabled) {
    sharedInstance()->setEncryptEnabledField(enabled);
}

void TallyApp::setBackgroundTaskEnabled(bool enabled) {
    sharedInstance()->setBackgroundTaskEnabledField(enabled);
}

void TallyApp::setLogEnabled(bool enabled) {
    sharedInstance()->setLogEnabledField(enabled);
}

void TallyApp::setAppVersion(const std::optional<std::string>& version) {
    if (TANUtil::isEmptyString(version)) return;
    sharedInstance()->setAppVersionField(version);
}

std::string TallyApp::appVersionString() {
    auto version = sharedInstance()->appVersion();
    if (version && !version->empty()) return *version;
    return TANProtocolData::appBundleVersionString();
}

bool TallyApp::logEnabled() const {
    return analyticsLogEnabled();
}

void TallyApp::setLogEnabledField(bool v) {
    analyticsSetLogEnabled(v);
}

void TallyApp::resetForTesting() {
    {
        std::lock_guard<std::mutex> guard(gSharedLock);
        gApp.reset();
        gLocation.reset();
    }
    analyticsSetLogEnabled(false);
}

std::string TallyApp::description() const {
    return NSString::stringWithFormat(
        "<%@: logEnabled=%d, crashReportEnabled=%d, sendInterval=%f, reportPolicy=%d, appVersion=%@, "
        "appid=%@, "
        "channel=%@>",
        className(), logEnabled() ? 1 : 0, crashReportEnabled() ? 1 : 0, logSendInterval(),
        reportPolicyField(), appVersion(), appid(), channel());
}

void TallyApp::noAppKeyException() const {
    NSLog("TALOG: appkey can not be found or not valid. Tally methods must be called after [Tally "
          "startWithAppkey...]!");
}

void TallyApp::activeBackgroundTask() {
    if (!backgroundTaskEnabled()) return;
    UIBackgroundTaskIdentifier current = backgroundTaskIdentifier();
    if (current != 0 && current != UIBackgroundTaskInvalid) return;
    auto application = UIApplication::sharedApplication();
    Weak<TallyApp> weak = selfAs<TallyApp>();
    UIBackgroundTaskIdentifier handle = application->beginBackgroundTaskWithExpirationHandler([weak] {
        dispatch_async(dispatch_get_main_queue(), [weak] {
            auto self = weak.lock();
            if (!self) return;
            UIBackgroundTaskIdentifier held = self->backgroundTaskIdentifier();
            if (held == UIBackgroundTaskInvalid) return;
            UIApplication::sharedApplication()->endBackgroundTask(held);
            self->setBackgroundTaskIdentifier(UIBackgroundTaskInvalid);
        });
    });
    setBackgroundTaskIdentifier(handle);
}

std::optional<std::string> TallyApp::appVersion() const {
    std::lock_guard<std::mutex> guard(lock_);
    return appVersion_;
}

void TallyApp::setAppVersionField(const std::optional<std::string>& v) {
    std::lock_guard<std::mutex> guard(lock_);
    appVersion_ = v;
}

std::string TallyApp::channel() const {
    std::lock_guard<std::mutex> guard(lock_);
    return channel_;
}

void TallyApp::setChannel(const std::string& v) {
    std::lock_guard<std::mutex> guard(lock_);
    channel_ = v;
}

std::optional<std::string> TallyApp::appid() const {
    std::lock_guard<std::mutex> guard(lock_);
    return appid_;
}

void TallyApp::setAppid(const std::optional<std::string>& v) {
    std::lock_guard<std::mutex> guard(lock_);
    appid_ = v;
}

// ---------------------------------------------------------------------------------------------
// TallyConfig

Value TallyConfig::configureWithKey(const std::string& key) {
    return NSUserDefaults::standardUserDefaults()->objectForKey(key);
}

void TallyConfig::setConfigure(const Value& value, const std::string& key) {
    if (value.isNil() || TANUtil::isEmptyString(std::optional<std::string>(key))) return;
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setObject(key, value);
    defaults->synchronize();
}

void TallyConfig::removeConfigureWithKey(const std::string& key) {
    if (TANUtil::isEmptyString(std::optional<std::string>(key))) return;
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->removeObjectForKey(key);
    defaults->synchronize();
}

void TallyConfig::accumulateCount(int n, const std::string& key) {
    std::lock_guard<std::mutex> guard(gCounterLock);
    int stored = configureWithKey(key).intValue();
    setConfigure(Value(stored + n), key);
}

void TallyConfig::incrementRequest(bool succeeded, int milliseconds) {
    accumulateCount(1, succeeded ? "umSuccessfulRequests" : "umFailedRequests");
    if (milliseconds >= 1) setConfigure(Value(milliseconds), "umLastRequestSpentMS");
}

void TallyConfig::setLastPostDate() {
    setConfigure(Value(TANProtocolData::dateString()), "lastPostDate");
    setConfigure(Value(NSDate::date().timeIntervalSince1970()), "lastPostInterval");
}

Ref<TATImprint> TallyConfig::storedImprint() {
    Value stored = configureWithKey("umImprint");
    if (!stored.isData()) return nullptr;
    auto imprint = make<TATImprint>();
    detail::tallyReadRecord(*imprint, *stored.data());
    return imprint;
}

std::optional<std::string> TallyConfig::imprintPropertyValueWithKey(const std::string& key) {
    auto imprint = storedImprint();
    if (!imprint || !imprint->property()) return std::nullopt;
    auto value = imprint->property()->objectForKey(key);
    if (!value || !value->valueIsSet()) return std::nullopt;
    return value->value();
}

// ---------------------------------------------------------------------------------------------
// TallyLocation

Ref<TallyLocation> TallyLocation::sharedInstance() {
    std::lock_guard<std::mutex> guard(gSharedLock);
    if (!gLocation) gLocation = make<TallyLocation>();
    return gLocation;
}

void TallyLocation::setLatitude(double latitude, double longitude) {
    if (latitude == 0 || longitude == 0) {
        analyticsLog("Latitude or longitude may be wrong.");
        return;
    }
    auto store = sharedInstance();
    std::lock_guard<std::mutex> guard(store->lock_);
    store->latitude_ = latitude;
    store->longitude_ = longitude;
    store->gps_time_ = NSDate::date().timeIntervalSince1970();
}

double TallyLocation::latitude() const {
    std::lock_guard<std::mutex> guard(lock_);
    return latitude_;
}

double TallyLocation::longitude() const {
    std::lock_guard<std::mutex> guard(lock_);
    return longitude_;
}

double TallyLocation::gps_time() const {
    std::lock_guard<std::mutex> guard(lock_);
    return gps_time_;
}

void TallyLocation::setLatitudeField(double v) {
    std::lock_guard<std::mutex> guard(lock_);
    latitude_ = v;
}

void TallyLocation::setLongitudeField(double v) {
    std::lock_guard<std::mutex> guard(lock_);
    longitude_ = v;
}

void TallyLocation::setGps_time(double v) {
    std::lock_guard<std::mutex> guard(lock_);
    gps_time_ = v;
}

bool TallyLocation::takeFix(double& latitude, double& longitude, double& gpsTime) {
    std::lock_guard<std::mutex> guard(lock_);
    if (latitude_ == 0 || longitude_ == 0) return false;
    latitude = latitude_;
    longitude = longitude_;
    gpsTime = gps_time_;
    latitude_ = longitude_ = gps_time_ = 0;
    return true;
}

// ---------------------------------------------------------------------------------------------

namespace detail {

std::optional<NSData> tallyWriteRecord(const TATBase& record) {
    try {
        auto buffer = make<TATMemoryBuffer>();
        TATBinaryProtocol protocol(buffer);
        record.write(protocol);
        return buffer->getBuffer();
    } catch (const TATException& e) {
        logException(e);
        return std::nullopt;
    }
}

bool tallyReadRecord(TATBase& record, const NSData& data) {
    try {
        auto buffer = make<TATMemoryBuffer>(data);
        TATBinaryProtocol protocol(buffer);
        record.read(protocol);
        return true;
    } catch (const TATException& e) {
        logException(e);
        return false;
    }
}

}  // namespace detail
