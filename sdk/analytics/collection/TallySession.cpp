#include "sdk/analytics/collection/TallySession.h"

#include <mutex>

#include "foundation/NSDate.h"
#include "foundation/NSLog.h"
#include "foundation/NSObject+Perform.h"
#include "foundation/NSUserDefaults.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/TAWorkDispatch.h"
#include "sdk/analytics/collection/TallySettings.h"
#include "uikit/UIApplication.h"

namespace {

std::mutex gLock;
Ref<TallySession> gShared;

double now() {
    return NSDate::date().timeIntervalSince1970();
}

}  // namespace

TallySession::TallySession() : lastLaunchTime_(now()) {}

Ref<TallySession> TallySession::sharedInstance() {
    std::lock_guard<std::mutex> guard(gLock);
    if (!gShared) gShared = make<TallySession>();
    return gShared;
}

void TallySession::resetForTesting() {
    Ref<TallySession> old;
    {
        std::lock_guard<std::mutex> guard(gLock);
        old = std::move(gShared);
    }
    if (old) NSNotificationCenter::defaultCenter()->removeObserver(old);
}

std::string TallySession::description() const {
    return NSString::stringWithFormat("<%@:   observerRegistered=%d, sessionStatus=%d>", className(),
                                      observerRegistered() ? 1 : 0, sessionStatus());
}

void TallySession::startWithAppkey(const std::optional<std::string>& appKey) {
    startWithAppkey(appKey, 1, std::nullopt);
}

void TallySession::startWithAppkey(const std::optional<std::string>& appKey, int reportPolicy,
                                   const std::optional<std::string>& channelId) {
    auto app = TallyApp::sharedInstance();
    analyticsLog("analytics sdk version %@ , app version %@", TANUtil::sdkVersionString(),
                 TallyApp::appVersionString());
    if (TANUtil::isEmptyString(appKey)) {
        app->noAppKeyException();
        return;
    }
    Value stored = TallyConfig::configureWithKey("appkey");
    if (stored.isString() && *stored.string() != *appKey)
        NSLog("WARNING: Appkey is different from the past.");
    TallyConfig::setConfigure(Value(*appKey), "appkey");
    TallyConfig::setConfigure(Value(static_cast<unsigned>(reportPolicy)), "umcReportPolicy");
    app->setAppid(appKey);
    if (TallyConfig::configureWithKey("umSeparatedTime").isNil()) {
        TallyConfig::setConfigure(Value(now()), "umSeparatedTime");
    }
    NSNotificationCenter::defaultCenter()->postNotificationName("umGotAppkeyNotification");
    if (!TANUtil::isEmptyString(channelId)) app->setChannel(*channelId);

    auto session = sharedInstance();
    if (!session->observerRegistered_.exchange(true)) {
        auto center = NSNotificationCenter::defaultCenter();
        Ref<NSObject> application = UIApplication::sharedApplication();
        center->addObserver(session, &TallySession::appActivate,
                            std::string(UIApplicationDidBecomeActiveNotification), application);
        center->addObserver(session, &TallySession::appInactivate,
                            std::string(UIApplicationWillResignActiveNotification), application);
        center->addObserver(session, &TallySession::appInactivate,
                            std::string(UIApplicationWillTerminateNotification), application);
    }
    performSelectorOnMainThread(
        session, [session] { session->ensureSessionLaunch(); }, false);
}

void TallySession::ensureSessionLaunch() {
    if (sessionStatus() == 0) appActivate(nullptr);
}

void TallySession::appActivate(const Ref<NSNotification>&) {
    setAppInBackGround(false);
    if (sessionStatus() == 1) analyticsLog("WARNING app has already activate.");
    beginSessionTime();
    TAWorkDispatch::sendEvent(Value(), 0);
}

void TallySession::beginSessionTime() {
    auto core = TallyCoreLink::core();
    if (sessionStatus() != 0 && core)
        core->setSessionID(TANUtil::sessionId(TallyApp::sharedInstance()->appid()));
    setSessionStatus(1);
    setLastLaunchTime(now());
    if (core) core->prepareCrashNote();
}

double TallySession::endSessionTime() const {
    double d = now() - lastLaunchTime();
    return d > 7200 ? 3600 : d;
}

void TallySession::appInactivate(const Ref<NSNotification>& notification) {
    setAppInBackGround(true);
    setSessionStatus(2);
    if (notification && notification->name() == UIApplicationWillTerminateNotification) setAppBeKilling(true);
    double duration = endSessionTime();
    auto app = TallyApp::sharedInstance();
    if (!appCrashed() && !appBeKilling() && app->backgroundTaskEnabled()) {
        app->activeBackgroundTask();
        TAWorkDispatch::sendEvent(Value(duration), 1);
        return;
    }
    if (auto core = TallyCoreLink::core()) {
        core->stopSession(duration);
        core->saveAndCleanCache();
    }
}

void TallySession::signInPUID(const std::optional<std::string>& puid,
                              const std::optional<std::string>& provider) {
    if (TANUtil::isEmptyString(puid)) {
        analyticsLog("ERROR, invalid puid.");
        return;
    }
    if (NSString::length(*puid) > 64) {
        analyticsLog("ERROR, puid's max length is 64 byte.");
        return;
    }
    if (provider && NSString::length(*provider) > 32) {
        analyticsLog("ERROR, provider's max length is 32 byte.");
        return;
    }
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject("TAProfileProvider", Value(provider));
    info.setObject("TAProfilePUID", *puid);
    TAWorkDispatch::sendEvent(Value(info), 12);
}

void TallySession::profileSignInPUID(const std::optional<std::string>& puid) {
    signInPUID(puid, std::string("_adhoc"));
}

void TallySession::profileSignInPUID(const std::optional<std::string>& puid,
                                     const std::optional<std::string>& provider) {
    signInPUID(puid, TANUtil::isEmptyString(provider) ? std::optional<std::string>("_adhoc") : provider);
}

void TallySession::profileSignOff() {
    TAWorkDispatch::sendEvent(Value(), 13);
}
