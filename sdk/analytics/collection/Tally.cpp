#include "sdk/analytics/collection/Tally.h"

#include "foundation/NSLog.h"
#include "foundation/NSString.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/TallyEvent.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "sdk/analytics/collection/TallyJob.h"
#include "sdk/analytics/collection/TallySession.h"
#include "sdk/analytics/collection/TallyUncaughtExceptionHandler.h"

namespace {
constexpr int kMaxDurationMs = 7199999;
}  // namespace

void Tally::startWithAppkey(const std::optional<std::string>& appKey) {
    startWithAppkey(appKey, 1, std::nullopt);
}

void Tally::startWithAppkey(const std::optional<std::string>& appKey, int reportPolicy,
                            const std::optional<std::string>& channelId) {
    TallyInternal::link();
    TallySession::startWithAppkey(appKey, reportPolicy, channelId);
    // A start with a usable key follows the app from now on, crashes included.
    if (TallySession::sharedInstance()->observerRegistered())
        setCrashReportEnabled(TallyApp::sharedInstance()->crashReportEnabled());
}

void Tally::startSession(const Ref<NSNotification>& notification) {
    TallyInternal::link();
    TallySession::sharedInstance()->appActivate(notification);
}

void Tally::setAppVersion(const std::optional<std::string>& version) {
    TallyApp::setAppVersion(version);
}

// Crash capture sits above the core (it hands the core the executable's description), so the
// switch that installs it and connects the two lives here, on top of both.
void Tally::setCrashReportEnabled(bool enabled) {
    TallyInternal::link();
    auto app = TallyApp::sharedInstance();
    app->setCrashReportEnabledField(enabled);
    if (app->exchangeCrashHandlerInstalled(enabled) == enabled) return;
    auto core = TallyInternal::sharedInstance();
    auto center = NSNotificationCenter::defaultCenter();
    if (enabled) {
        TallyUncaughtExceptionHandler::installCrashHandlers();
        center->addObserver(core, &TallyInternal::saveCrashInfo, std::string("TallyCrashCatch"));
    } else {
        center->removeObserver(core, std::string("TallyCrashCatch"));
    }
    core->armCrashNote(enabled);
}

void Tally::setLogEnabled(bool enabled) {
    TallyApp::setLogEnabled(enabled);
}

void Tally::setBackgroundTaskEnabled(bool enabled) {
    TallyApp::setBackgroundTaskEnabled(enabled);
}

void Tally::setEncryptEnabled(bool enabled) {
    TallyApp::setEncryptEnabled(enabled);
}

void Tally::setLogSendInterval(double seconds) {
    if (!(seconds >= 90.0)) {
        NSLog("ERROR: can't less 90s for log send interval.");
        return;
    }
    TallyConfig::setConfigure(Value(seconds), "umcReportInterval");
    TallyApp::sharedInstance()->setLogSendInterval(TallyApp::minReportInterval());
}

void Tally::setLatency(int seconds) {
    auto value = static_cast<unsigned>(seconds);
    TallyJob::sharedInstance()->setLatency_sdk(value > 1800 ? 1800 : static_cast<int>(value));
}

void Tally::setLatitude(double latitude, double longitude) {
    TallyLocation::setLatitude(latitude, longitude);
}

bool Tally::isJailbroken() {
    return TANUtil::isDeviceJailBreak();
}

void Tally::logPageView(const std::optional<std::string>& pageName, int seconds) {
    TallyEvent::logPageView(pageName, seconds);
}

void Tally::beginLogPageView(const std::optional<std::string>& pageName) {
    TallyEvent::beginLogPageView(pageName);
}

void Tally::endLogPageView(const std::optional<std::string>& pageName) {
    TallyEvent::endLogPageView(pageName);
}

void Tally::event(const std::optional<std::string>& eventId) {
    TallyEvent::event(eventId);
}

void Tally::event(const std::optional<std::string>& eventId, const std::optional<std::string>& label) {
    TallyEvent::event(eventId, label);
}

void Tally::event(const std::optional<std::string>& eventId, std::int64_t acc) {
    TallyEvent::event(eventId, acc);
}

void Tally::event(const std::optional<std::string>& eventId, const std::optional<std::string>& label,
                  std::int64_t acc) {
    TallyEvent::event(eventId, label, acc);
}

void Tally::eventDurations(const std::optional<std::string>& eventId, int milliseconds) {
    TallyEvent::eventDurations(eventId, milliseconds);
}

void Tally::eventDurations(const std::optional<std::string>& eventId, const std::optional<std::string>& label,
                           int milliseconds) {
    if (milliseconds < 1 || milliseconds > kMaxDurationMs) return;
    TallyEvent::eventDurations(eventId, label, milliseconds);
}

void Tally::event(const std::optional<std::string>& eventId, const std::optional<Dictionary>& attributes) {
    TallyEvent::event(eventId, attributes);
}

void Tally::event(const std::optional<std::string>& eventId, const std::optional<Dictionary>& attributes,
                  int counter) {
    Dictionary copy = attributes ? attributes->mutableCopy() : Dictionary::mutableDictionary();
    copy.setObject("__ct__", NSString::stringWithFormat("%d", counter));
    TallyEvent::event(eventId, std::optional<Dictionary>(copy));
}

void Tally::eventAttributesDurations(const std::optional<std::string>& eventId,
                                     const std::optional<Dictionary>& attributes, int milliseconds) {
    if (milliseconds < 1 || milliseconds > kMaxDurationMs) return;
    TallyEvent::event(eventId, attributes, milliseconds);
}

void Tally::beginEvent(const std::optional<std::string>& eventId) {
    TallyEvent::beginEvent(eventId);
}

void Tally::endEvent(const std::optional<std::string>& eventId) {
    TallyEvent::endEvent(eventId);
}

void Tally::beginEvent(const std::optional<std::string>& eventId, const std::optional<std::string>& label) {
    TallyEvent::beginEvent(eventId, label);
}

void Tally::endEvent(const std::optional<std::string>& eventId, const std::optional<std::string>& label) {
    TallyEvent::endEvent(eventId, label);
}

void Tally::beginEvent(const std::optional<std::string>& eventId,
                       const std::optional<std::string>& primaryKey,
                       const std::optional<Dictionary>& attributes) {
    TallyEvent::beginEvent(eventId, primaryKey, attributes);
}

void Tally::endEventPrimaryKey(const std::optional<std::string>& eventId,
                               const std::optional<std::string>& primaryKey) {
    TallyEvent::endEventPrimaryKey(eventId, primaryKey);
}

void Tally::setWrapperType(const std::optional<std::string>& type) {
    if (!type || type->empty()) return;
    TallyInternal::sharedInstance()->setWrapperType(type);
}

void Tally::setWrapperVersion(const std::optional<std::string>& version) {
    if (!version || version->empty()) return;
    TallyInternal::sharedInstance()->setWrapperVersion(version);
}

void Tally::setWrapperType(const std::optional<std::string>& type,
                           const std::optional<std::string>& version) {
    setWrapperType(type);
    setWrapperVersion(version);
}

void Tally::profileSignInWithPUID(const std::optional<std::string>& puid) {
    TallyInternal::link();
    TallySession::profileSignInPUID(puid);
}

void Tally::profileSignInWithPUID(const std::optional<std::string>& puid,
                                  const std::optional<std::string>& provider) {
    TallyInternal::link();
    TallySession::profileSignInPUID(puid, provider);
}

void Tally::profileSignOff() {
    TallyInternal::link();
    TallySession::profileSignOff();
}
