#include "sdk/weibo/services/WBAidManager.h"

#include <mutex>

#include "dispatch/Dispatch.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSString.h"
#include "foundation/NSUserDefaults.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "sdk/weibo/services/WBMFPRSA.h"
#include "sdk/weibo/util/NSMutableDictionary+WBSDKSetValue.h"
#include "sdk/weibo/util/UIDevice+WBSDKHelpers.h"
#include "sdk/weibo/util/WBSDKJSONCodecCategories.h"
#include "sdk/weibo/util/WBSDKReachability.h"
#include "system/DeviceProbes.h"
#include "uikit/UIDevice.h"
#include "uikit/UIScreen.h"

namespace {

constexpr char kAidKey[] = "WEIBOSDKAID";
constexpr char kSubKey[] = "WEIBOSDKSUB";
constexpr long kAidErrorCode = 10008;
constexpr int kMaximumRetries = 3;

std::mutex gInstanceLock;  // guards gInstance
Ref<WBAidManager> gInstance;
std::atomic<int> gRetryCount{0};

void storeIfChanged(const char* key, const std::optional<std::string>& value) {
    if (!value) return;
    auto defaults = NSUserDefaults::standardUserDefaults();
    if (defaults->stringForKey(key) != value) defaults->setObject(key, *value);
}

bool isAidTag(const std::optional<std::string>& tag) {
    return tag && (*tag == kWBAidFetchRetryTag || *tag == kWBAidFetchNoRetryTag);
}

}  // namespace

WBAidManager::WBAidManager() {
    aidStatus_ = aid() ? HasAid : NoAid;
}

Ref<WBAidManager> WBAidManager::sharedInstance() {
    std::lock_guard guard(gInstanceLock);
    if (!gInstance) gInstance = make<WBAidManager>();
    return gInstance;
}

std::optional<std::string> WBAidManager::aid() const {
    return NSUserDefaults::standardUserDefaults()->stringForKey(kAidKey);
}

void WBAidManager::setAid(const std::optional<std::string>& aid) {
    storeIfChanged(kAidKey, aid);
}

std::optional<std::string> WBAidManager::sub() const {
    return NSUserDefaults::standardUserDefaults()->stringForKey(kSubKey);
}

void WBAidManager::setSub(const std::optional<std::string>& sub) {
    storeIfChanged(kSubKey, sub);
}

Ref<WeiboSDK3rdApp> WBAidManager::app() const {
    std::lock_guard guard(appLock_);
    return app_;
}

void WBAidManager::setApp(const Ref<WeiboSDK3rdApp>& app) {
    std::lock_guard guard(appLock_);
    app_ = app;
}

int WBAidManager::retryCount() const {
    return gRetryCount.load();
}

std::optional<std::string> WBAidManager::advertisementIdentifier() {
    if (auto stored = aid()) return stored;
    fetchAid(false);
    return std::nullopt;
}

void WBAidManager::fetchAidIfNeededWithApp(const Ref<WeiboSDK3rdApp>& app) {
    if (app) setApp(app);
    if (auto identifier = advertisementIdentifier()) {
        if (auto current = this->app()) current->setAid(identifier);
    } else {
        fetchAid(true);
    }
}

std::optional<std::string> WBAidManager::generateMFPString() {
    auto device = UIDevice::currentDevice();
    std::string version = device->systemVersion();
    int major = std::atoi(version.c_str());
    Dictionary fingerprint = Dictionary::mutableDictionary();
    using NSMutableDictionary_WBSDKSetValue::wbsdk_setSafeObject;
    wbsdk_setSafeObject(fingerprint,
                        Value(NSString::stringWithFormat("%@,%@", device->systemName(), version)),
                        std::string("1"));
    if (major < 7) {
        wbsdk_setSafeObject(fingerprint, Value(UIDevice_WBSDKHelpers::weibosdk_openUniqueIdentifier(device)),
                            std::string("8"));
    }
    // "11", the advertising identifier, needs its system class, which this platform does not
    // offer (detail::isSystemClassAvailable("ASIdentifierManager") is false), so it is left out.
    if (major >= 6) {
        if (auto vendor = device->identifierForVendor())
            wbsdk_setSafeObject(fingerprint, Value(vendor->UUIDString()), std::string("12"));
    }
    wbsdk_setSafeObject(fingerprint, Value(device->model()), std::string("14"));
    CGRect bounds = UIScreen::mainScreen()->bounds();
    wbsdk_setSafeObject(fingerprint,
                        Value(NSString::stringWithFormat("%d*%d", static_cast<int>(bounds.size.width),
                                                         static_cast<int>(bounds.size.height))),
                        std::string("16"));
    wbsdk_setSafeObject(fingerprint, Value(device->name()), std::string("18"));
    auto reachability = WBSDKReachability::reachabilityForInternetConnection();
    bool reachable = reachability && reachability->currentReachabilityStatus() == WBSDKReachable;
    wbsdk_setSafeObject(fingerprint, Value(reachable ? "wifi" : "mobile"), std::string("19"));

    auto json = NSArray_WBSDKJSONCodecSerializing::weibosdk_WBSDKJSONString(Value(fingerprint));
    if (!json) return std::nullopt;
    auto cipher = make<WBMFPRSA>()->encrypt(*json);
    // Without a key there is no fingerprint to send, rather than a placeholder.
    if (!cipher) return std::nullopt;
    return "01" + *cipher;
}

void WBAidManager::fetchAid(bool retry) {
    Status expected = NoAid;
    if (!aidStatus_.compare_exchange_strong(expected, Fetching)) return;  // under way, or an aid is stored

    Dictionary params = Dictionary::mutableDictionary();
    using NSMutableDictionary_WBSDKSetValue::wbsdk_setSafeObject;
    wbsdk_setSafeObject(params, Value(generateMFPString()), std::string("mfp"));
    auto app = this->app();
    if (app) {
        wbsdk_setSafeObject(params, Value(app->appKey()), std::string("appkey"));
        wbsdk_setSafeObject(params, Value(app->bundleID()), std::string("packagename"));
    }
    wbsdk_setSafeObject(params, Value(WeiboSDK::hashKey()), std::string("key_hash"));
    std::string tag = retry ? kWBAidFetchRetryTag : kWBAidFetchNoRetryTag;
    Weak<WBAidManager> weak = std::static_pointer_cast<WBAidManager>(self());
    dispatch_async(dispatch_get_main_queue(), [weak, params, tag] {
        auto self = weak.lock();
        if (!self) return;
        WBHttpRequest::requestWithURL(WeiboSDK::openAPIRoot() + kWBAidRequestPath, "GET", params,
                                      Weak<WBHttpRequestDelegate>(self), tag);
    });
}

void WBAidManager::settleAfterFailure() {
    aidStatus_ = aid() ? HasAid : NoAid;
}

void WBAidManager::requestDidFinishLoadingWithResult(const Ref<WBHttpRequest>& request,
                                                     const std::string& result) {
    if (!request || !isAidTag(request->tag())) return;
    Value reply = NSString_WBSDKJSONCodecDeserializing::weibosdk_objectFromWBSDKJSONString(result);
    Dictionary dict = reply.isDictionary() ? *reply.dictionary() : Dictionary();
    if (const Value* sub = dict.find("sub"); sub && sub->isSomething()) setSub(sub->stringValue());
    const Value* aidValue = dict.find("aid");
    if (aidValue && aidValue->isSomething()) {
        std::string aid = aidValue->stringValue();
        setAid(aid);
        if (auto app = this->app()) app->setAid(aid);
        NSNotificationCenter::defaultCenter()->postNotificationName(kWeiboSDKGetAidSucessNotification,
                                                                    make<WBAidString>(aid));
        aidStatus_ = HasAid;
        return;
    }
    const Value* errorValue = dict.find("error");
    if (errorValue && errorValue->isSomething()) {
        auto error = NSError::errorWithDomain(errorValue->stringValue(), kAidErrorCode, dict);
        NSNotificationCenter::defaultCenter()->postNotificationName(kWeiboSDKGetAidFailNotification, error);
        settleAfterFailure();
        if (request->tag() == std::optional<std::string>(kWBAidFetchRetryTag))
            retryFetchAidSinceErrorHappened();
    }
    // Neither: nothing changes, and the state stays "fetching".
}

void WBAidManager::requestDidFailWithError(const Ref<WBHttpRequest>& request, const Ref<NSError>& error) {
    settleAfterFailure();
    if (!request) return;
    if (isAidTag(request->tag()))
        NSNotificationCenter::defaultCenter()->postNotificationName(kWeiboSDKGetAidFailNotification, error);
    if (request->tag() == std::optional<std::string>(kWBAidFetchRetryTag)) retryFetchAidSinceErrorHappened();
}

void WBAidManager::retryFetchAidSinceErrorHappened() {
    if (gRetryCount.load() < kMaximumRetries) {
        fetchAid(true);
        ++gRetryCount;
    } else {
        gRetryCount = 0;
    }
}

namespace wbsdk_testing {
void resetAidManager() {
    std::lock_guard guard(gInstanceLock);
    gInstance.reset();
    gRetryCount = 0;
}
}  // namespace wbsdk_testing
