#include "app/AppDelegate.h"

#include <mutex>

#include "app/AppTesting.h"
#include "app/QVNTAAnalyticsHelper.h"
#include "app/UIColor+Extensions.h"
#include "foundation/NSBundle.h"
#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"
#include "graphics/UIColor.h"
#include "net/HKNetworkActivityIndicatorManager.h"
#include "network/NSURLCache.h"
#include "sdk/analytics/collection/Tally.h"
#include "uikit/UITextField.h"
#include "uikit/UITextView.h"

namespace {

std::mutex gEntryLock;  // guards gEntryPoints
AppDelegate::SDKEntryPoints gEntryPoints;

AppDelegate::SDKEntryPoints entryPoints() {
    std::lock_guard guard(gEntryLock);
    AppDelegate::SDKEntryPoints e = gEntryPoints;
    if (!e.weiboEnableDebugMode) e.weiboEnableDebugMode = [](bool on) { WeiboSDK::enableDebugMode(on); };
    if (!e.weiboRegisterApp)
        e.weiboRegisterApp = [](const std::optional<std::string>& key) { return WeiboSDK::registerApp(key); };
    if (!e.weiboHandleOpenURL) {
        e.weiboHandleOpenURL = [](const Ref<NSURL>& url, WeiboSDKDelegate* d) {
            return WeiboSDK::handleOpenURL(url, d);
        };
    }
    if (!e.wechatRegisterApp)
        e.wechatRegisterApp = [](const std::string& id) { return WXApi::registerApp(id); };
    if (!e.wechatHandleOpenURL) {
        e.wechatHandleOpenURL = [](const Ref<NSURL>& url, WXApiDelegate* d) {
            return WXApi::handleOpenURL(url, d);
        };
    }
    return e;
}

}  // namespace

void app_testing::setSDKEntryPoints(AppDelegate::SDKEntryPoints points) {
    std::lock_guard guard(gEntryLock);
    gEntryPoints = std::move(points);
}

void AppDelegate::registerClass() {
    UIApplication::registerDelegateClass("AppDelegate", [] { return make<AppDelegate>(); });
}

// ---- properties ---------------------------------------------------------------------------------

void AppDelegate::setWindow(const Ref<UIWindow>& window) {
    KVO::assign(*this, "window", window_, window);
}

void AppDelegate::setWbtoken(const std::optional<std::string>& value) {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "wbtoken", wbtoken_, value);
}

void AppDelegate::setWbCurrentUserID(const std::optional<std::string>& value) {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "wbCurrentUserID", wbCurrentUserID_, value);
}

void AppDelegate::setWbRefreshToken(const std::optional<std::string>& value) {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "wbRefreshToken", wbRefreshToken_, value);
}

void AppDelegate::setWxCode(const std::optional<std::string>& value) {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "wxCode", wxCode_, value);
}

Value AppDelegate::valueForKey(const std::string& key) const {
    if (key == "window") return Value(window_);
    if (key == "wbtoken") return Value(wbtoken_);
    if (key == "wbCurrentUserID") return Value(wbCurrentUserID_);
    if (key == "wbRefreshToken") return Value(wbRefreshToken_);
    if (key == "wxCode") return Value(wxCode_);
    return UIResponder::valueForKey(key);
}

// ---- launch -------------------------------------------------------------------------------------

std::optional<bool> AppDelegate::applicationDidFinishLaunchingWithOptions(UIApplication&, const Dictionary&) {
    SDKEntryPoints sdk = entryPoints();

    // Analytics first: a plain start, the version, three sign-in profiles, then the full start
    // with report policy and channel (which sets the version again).
    Tally::startWithAppkey(std::string(QVNTAAnalyticsHelper::kAnalyticsAppKey));
    Tally::setAppVersion(
        NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleShortVersionString").optionalString());
    Tally::profileSignInWithPUID(std::string(kAnalyticsProfileID));
    Tally::profileSignInWithPUID(std::string(kAnalyticsProfileID), std::string("WB"));
    Tally::profileSignInWithPUID(std::string(kAnalyticsProfileID), std::string("WX"));
    QVNTAAnalyticsHelper::TAAnalyticStart();

    sdk.weiboEnableDebugMode(true);
    sdk.weiboRegisterApp(std::string(kWeiboAppKey));
    sdk.wechatRegisterApp(kWeChatAppID);

    NSURLCache::setSharedURLCache(
        make<NSURLCache>(kURLCacheMemoryCapacity, kURLCacheDiskCapacity, std::nullopt));
    HKNetworkActivityIndicatorManager::sharedManager()->setEnabled(true);

    if (window_) window_->setBackgroundColor(UIColor::whiteColor());
    configureAppearance();
    return true;
}

void AppDelegate::configureAppearance() {
    NS_ASSERT_MAIN_THREAD();
    UITextField::appearance().setTintColor(UIColor_Extensions::QVNRedColor());
    UITextView::appearance().setTintColor(UIColor_Extensions::QVNRedColor());
}

// ---- URLs from other apps -----------------------------------------------------------------------

bool AppDelegate::openURL(const Ref<NSURL>& url) {
    SDKEntryPoints sdk = entryPoints();
    if (sdk.weiboHandleOpenURL(url, this)) return true;
    return sdk.wechatHandleOpenURL(url, this);
}

std::optional<bool> AppDelegate::applicationOpenURL(UIApplication&, const Ref<NSURL>& url,
                                                    const std::optional<std::string>&, const Value&) {
    return openURL(url);
}

std::optional<bool> AppDelegate::applicationHandleOpenURL(UIApplication&, const Ref<NSURL>& url) {
    return openURL(url);
}

// ---- SDK results --------------------------------------------------------------------------------

void AppDelegate::showResultAlert(const std::optional<std::string>& message) {
    auto alert = make<UIAlertView>(std::nullopt, message, selfAs<AppDelegate>(), std::string("OK"));
    alert->show();
}

void AppDelegate::didReceiveWeiboResponse(const Ref<WBBaseResponse>& response) {
    if (!response) return;
    if (std::dynamic_pointer_cast<WBSendMessageToWeiboResponse>(response)) {
        long status = response->statusCode();
        std::optional<std::string> message;
        if (status == 0) message = NSString::stringWithFormat("分享成功(%ld)", status);
        if (status == -8) message = NSString::stringWithFormat("分享失败(%ld)", status);
        if (status == -99) message = NSString::stringWithFormat("微博不支持请求(%ld)", status);
        showResultAlert(message);
    } else if (auto authorize = std::dynamic_pointer_cast<WBAuthorizeResponse>(response)) {
        // The status is not looked at: a refused sign-in stores what it carries (nil mostly).
        setWbtoken(authorize->accessToken());
        setWbCurrentUserID(authorize->userID());
        setWbRefreshToken(authorize->refreshToken());
    }
}

void AppDelegate::onResp(const Ref<BaseResp>& response) {
    if (!response) return;
    if (std::dynamic_pointer_cast<SendMessageToWXResp>(response)) {
        std::int32_t code = response->errCode();
        std::optional<std::string> message;
        if (code == 0) message = NSString::stringWithFormat("分享成功(%d)", code);
        if (code == -3) message = NSString::stringWithFormat("发送失败(%d)", code);
        if (code == -5) message = NSString::stringWithFormat("微信不支持(%d)", code);
        showResultAlert(message);
    } else if (auto auth = std::dynamic_pointer_cast<SendAuthResp>(response)) {
        if (auth->errCode() == 0) setWxCode(auth->code());
    }
}
