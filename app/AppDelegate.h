#pragma once
// AppDelegate: the application delegate. At launch it starts the outside services in a fixed
// order (analytics, the Weibo SDK, the WeChat SDK), sizes the shared HTTP cache (4 MiB in memory,
// 20 MiB on disk), switches the network activity indicator on, whitens the window and tints text
// input with the accent colour; the main storyboard provides the window and the first screen.
//
// It is the app's one entry for URLs opened by other apps: a URL goes to the Weibo SDK first and,
// only when Weibo does not take it, to the WeChat SDK. Both SDKs call it back with their results:
// share results show an alert ("OK" only), sign-in results land in four observable properties
// that live in memory only (wbtoken, wbCurrentUserID, wbRefreshToken after every Weibo sign-in
// answer, in that order and whatever its status; wxCode after a successful WeChat sign-in only).
// Every assignment notifies observers of the key, even with an unchanged value.
//
// Main thread only: the launch, the URL entries and the SDK callbacks all run there.

#include <functional>
#include <optional>
#include <string>

#include "foundation/NSURL.h"
#include "sdk/wechat/WXApi.h"
#include "sdk/weibo/bridge/WeiboSDK.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIResponder.h"

class AppDelegate : public UIResponder,
                    public UIApplicationDelegate,
                    public UINavigationControllerDelegate,
                    public UIAlertViewDelegate,
                    public WeiboSDKDelegate,
                    public WXApiDelegate {
  public:
    // Configuration the launch passes on (placeholders of the right form).
    static constexpr char kWeiboAppKey[] = "3904718265";
    static constexpr char kWeChatAppID[] = "wx5e07c9a3d14b82f6";
    static constexpr char kAnalyticsProfileID[] = "playerID";
    static constexpr unsigned long kURLCacheMemoryCapacity = 4 * 1024 * 1024;
    static constexpr unsigned long kURLCacheDiskCapacity = 20 * 1024 * 1024;

    std::string className() const override { return "AppDelegate"; }

    // Registers the class under "AppDelegate" for UIApplicationMain. Idempotent.
    static void registerClass();

    // ---- properties ---------------------------------------------------------------------------
    Ref<UIWindow> window() const override { return window_; }
    void setWindow(const Ref<UIWindow>& window) override;
    const std::optional<std::string>& wbtoken() const { return wbtoken_; }
    void setWbtoken(const std::optional<std::string>& value);
    const std::optional<std::string>& wbCurrentUserID() const { return wbCurrentUserID_; }
    void setWbCurrentUserID(const std::optional<std::string>& value);
    const std::optional<std::string>& wbRefreshToken() const { return wbRefreshToken_; }
    void setWbRefreshToken(const std::optional<std::string>& value);
    const std::optional<std::string>& wxCode() const { return wxCode_; }
    void setWxCode(const std::optional<std::string>& value);
    // The observable keys: "window", "wbtoken", "wbCurrentUserID", "wbRefreshToken", "wxCode".
    Value valueForKey(const std::string& key) const override;

    // ---- UIApplicationDelegate ----------------------------------------------------------------
    std::optional<bool> applicationDidFinishLaunchingWithOptions(UIApplication& application,
                                                                 const Dictionary& launchOptions) override;
    void applicationWillResignActive(UIApplication& application) override {}
    void applicationDidEnterBackground(UIApplication& application) override {}
    void applicationWillEnterForeground(UIApplication& application) override {}
    void applicationDidBecomeActive(UIApplication& application) override {}
    void applicationWillTerminate(UIApplication& application) override {}
    std::optional<bool> applicationOpenURL(UIApplication& application, const Ref<NSURL>& url,
                                           const std::optional<std::string>& sourceApplication,
                                           const Value& annotation) override;
    std::optional<bool> applicationHandleOpenURL(UIApplication& application, const Ref<NSURL>& url) override;

    // Text fields and text views draw their caret and selection in the accent colour.
    void configureAppearance();

    // ---- the SDKs' callbacks ------------------------------------------------------------------
    void didReceiveWeiboRequest(const Ref<WBBaseRequest>& request) override {}
    void didReceiveWeiboResponse(const Ref<WBBaseResponse>& response) override;
    void onReq(const Ref<BaseReq>& request) override {}
    void onResp(const Ref<BaseResp>& response) override;

    // ---- the outside SDKs ---------------------------------------------------------------------
    // The SDK entry points the delegate calls; the real SDKs unless a test puts its own in place
    // (app_testing::setSDKEntryPoints; an empty member keeps the real one).
    struct SDKEntryPoints {
        std::function<void(bool enabled)> weiboEnableDebugMode;
        std::function<bool(const std::optional<std::string>& appKey)> weiboRegisterApp;
        std::function<bool(const Ref<NSURL>& url, WeiboSDKDelegate* delegate)> weiboHandleOpenURL;
        std::function<bool(const std::string& appID)> wechatRegisterApp;
        std::function<bool(const Ref<NSURL>& url, WXApiDelegate* delegate)> wechatHandleOpenURL;
    };

  private:
    bool openURL(const Ref<NSURL>& url);
    void showResultAlert(const std::optional<std::string>& message);

    Ref<UIWindow> window_;
    std::optional<std::string> wbtoken_;
    std::optional<std::string> wbCurrentUserID_;
    std::optional<std::string> wbRefreshToken_;
    std::optional<std::string> wxCode_;
};
