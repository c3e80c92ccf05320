// The application delegate: the launch sequence and its effects, the routing of URLs from other
// apps, and what the two social SDKs' results do.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/AppTesting.h"
#include "app/QVNAppStartup.h"
#include "app/QVNMainStoryboard.h"
#include "app/QVNNavigationController.h"
#include "app/QVNTAAnalyticsHelper.h"
#include "app/UIColor+Extensions.h"
#include "foundation/NSBundle.h"
#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSUserDefaults.h"
#include "net/HKNetworkActivityIndicatorManager.h"
#include "network/NSURLCache.h"
#include "sdk/analytics/collection/TallyInternal.h"
#include "sdk/analytics/collection/TallySettings.h"
#include "sdk/analytics/collection/TallyUncaughtExceptionHandler.h"
#include "sdk/wechat/WeChatTesting.h"
#include "sdk/weibo/bridge/WeiboTesting.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/LabelPictures.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UILabel.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITextField.h"
#include "uikit/UITextView.h"

namespace {

// What the launch looked like when each SDK entry was called.
struct SDKCall {
    std::string name;
    std::string argument;
    bool analyticsStarted = false;  // the analytics app key was in place
    bool cacheSized = false;        // the 4 MiB shared URL cache was in place
    bool indicatorEnabled = false;
    bool textTinted = false;
};

class AppDelegateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_.path()));
        NSUserDefaults::resetStandardUserDefaults();
        NSBundle::setInfoValue("CFBundleShortVersionString", "2.3.4");
        detail::TallyResetForTesting();
        UIAlertTestDriver::reset();
        NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
        HKNetworkActivityIndicatorManager::sharedManager()->setEnabled(false);
        UITextField::appearance().reset();
        UITextView::appearance().reset();
        installRecorder();
    }

    void TearDown() override {
        testsupport::drainMainRunLoop();
        app_testing::setSDKEntryPoints({});
        TallyUncaughtExceptionHandler::uninstallCrashHandlers();
        detail::TallyResetForTesting();
        UIAlertTestDriver::reset();
        UITextField::appearance().reset();
        UITextView::appearance().reset();
        HKNetworkActivityIndicatorManager::sharedManager()->setEnabled(false);
        NSURLCache::setSharedURLCache(nullptr);
        // The shared application stays: the analytics worker threads read it unguarded, so
        // replacing it here could race them. Each test that needs one sets its own first.
        NSBundle::setInfoValue("CFBundleShortVersionString", Value());
    }

    SDKCall snapshot(const std::string& name, const std::string& argument) {
        SDKCall call;
        call.name = name;
        call.argument = argument;
        call.analyticsStarted = TallyApp::sharedInstance()->appid() == QVNTAAnalyticsHelper::kAnalyticsAppKey;
        call.cacheSized = NSURLCache::sharedURLCache()->memoryCapacity() == 4194304;
        call.indicatorEnabled = HKNetworkActivityIndicatorManager::sharedManager()->isEnabled();
        call.textTinted = UITextField::appearance().tintColor() != nullptr;
        return call;
    }

    void installRecorder() {
        AppDelegate::SDKEntryPoints points;
        points.weiboEnableDebugMode = [this](bool on) {
            calls.push_back(snapshot("weibo.debug", on ? "YES" : "NO"));
        };
        points.weiboRegisterApp = [this](const std::optional<std::string>& key) {
            calls.push_back(snapshot("weibo.register", key.value_or("nil")));
            return true;
        };
        points.wechatRegisterApp = [this](const std::string& id) {
            calls.push_back(snapshot("wechat.register", id));
            return true;
        };
        points.weiboHandleOpenURL = [this](const Ref<NSURL>& url, WeiboSDKDelegate* delegate) {
            calls.push_back(snapshot("weibo.open", url->absoluteString()));
            weiboDelegate = delegate;
            return weiboAccepts;
        };
        points.wechatHandleOpenURL = [this](const Ref<NSURL>& url, WXApiDelegate* delegate) {
            calls.push_back(snapshot("wechat.open", url->absoluteString()));
            wechatDelegate = delegate;
            return wechatAccepts;
        };
        app_testing::setSDKEntryPoints(points);
    }

    std::vector<std::string> callNames() const {
        std::vector<std::string> names;
        for (const auto& c : calls) names.push_back(c.name);
        return names;
    }

    static std::optional<UIVisibleAlert> onlyAlert() {
        auto shown = UIAlertTestDriver::shownAlerts();
        EXPECT_EQ(shown.size(), 1u);
        return shown.empty() ? std::nullopt : std::optional<UIVisibleAlert>(shown.front());
    }

    testsupport::TemporaryDirectory sandbox_;
    std::vector<SDKCall> calls;
    bool weiboAccepts = false;
    bool wechatAccepts = false;
    WeiboSDKDelegate* weiboDelegate = nullptr;
    WXApiDelegate* wechatDelegate = nullptr;
};

// Records the notifications of one key with the values of all four properties at that moment.
class PropertyWatcher : public NSObject, public NSKeyValueObserving {
  public:
    struct Seen {
        std::string key;
        Value newValue;
        std::optional<std::string> userIDThen;
    };
    void observeValueForKeyPath(const std::string& keyPath, const Ref<NSObject>& object,
                                const Dictionary& change, void*) override {
        auto delegate = std::dynamic_pointer_cast<AppDelegate>(object);
        seen.push_back({keyPath, change.objectForKey(NSKeyValueChangeNewKey),
                        delegate ? delegate->wbCurrentUserID() : std::nullopt});
    }
    std::vector<Seen> seen;
};

Ref<WBAuthorizeResponse> weiboSignIn(long status, std::optional<std::string> token,
                                     std::optional<std::string> user, std::optional<std::string> refresh) {
    auto response = make<WBAuthorizeResponse>();
    response->setStatusCode(status);
    response->setAccessToken(std::move(token));
    response->setUserID(std::move(user));
    response->setRefreshToken(std::move(refresh));
    return response;
}

Ref<SendAuthResp> wechatSignIn(std::int32_t code, std::optional<std::string> authCode) {
    auto response = make<SendAuthResp>();
    response->setErrCode(code);
    response->setCode(std::move(authCode));
    return response;
}

}  // namespace

// ---- launch -------------------------------------------------------------------------------------

TEST_F(AppDelegateTest, TheLaunchStartsEverythingInOrder) {
    auto delegate = make<AppDelegate>();
    auto window = make<UIWindow>(CGRectMake(0, 0, 375, 667));
    delegate->setWindow(window);
    auto application = make<UIApplication>();

    EXPECT_EQ(delegate->applicationDidFinishLaunchingWithOptions(*application, Dictionary()), true);

    ASSERT_EQ(callNames(), (std::vector<std::string>{"weibo.debug", "weibo.register", "wechat.register"}));
    EXPECT_EQ(calls[0].argument, "YES");
    EXPECT_EQ(calls[1].argument, "3904718265");
    EXPECT_EQ(calls[2].argument, "wx5e07c9a3d14b82f6");
    for (const auto& call : calls) {
        // Analytics before the SDKs; the cache, the indicator and the tint after them.
        EXPECT_TRUE(call.analyticsStarted) << call.name;
        EXPECT_FALSE(call.cacheSized) << call.name;
        EXPECT_FALSE(call.indicatorEnabled) << call.name;
        EXPECT_FALSE(call.textTinted) << call.name;
    }

    auto analytics = TallyApp::sharedInstance();
    EXPECT_EQ(analytics->appid(), "4f7c2a9be01d36a58c0e7b21");
    EXPECT_EQ(analytics->channel(), "App Store");
    EXPECT_EQ(TallyConfig::configureWithKey("umcReportPolicy"), Value(1));
    EXPECT_EQ(analytics->appVersion(), "2.3.4");

    auto cache = NSURLCache::sharedURLCache();
    EXPECT_EQ(cache->memoryCapacity(), 4194304u);
    EXPECT_EQ(cache->diskCapacity(), 20971520u);
    EXPECT_TRUE(HKNetworkActivityIndicatorManager::sharedManager()->isEnabled());
    ASSERT_TRUE(window->backgroundColor());
    EXPECT_TRUE(window->backgroundColor()->isEqual(*UIColor::whiteColor()));
    ASSERT_TRUE(UITextField::appearance().tintColor());
    EXPECT_TRUE(UITextField::appearance().tintColor()->isEqual(*UIColor_Extensions::QVNRedColor()));
    ASSERT_TRUE(UITextView::appearance().tintColor());
    EXPECT_TRUE(UITextView::appearance().tintColor()->isEqual(*UIColor_Extensions::QVNRedColor()));
    auto field = make<UITextField>(CGRectMake(0, 0, 100, 30));
    EXPECT_TRUE(field->tintColor()->isEqual(*UIColor_Extensions::QVNRedColor()));
}

TEST_F(AppDelegateTest, ALaunchWithoutAWindowStillCompletes) {
    auto delegate = make<AppDelegate>();
    auto application = make<UIApplication>();
    EXPECT_EQ(delegate->applicationDidFinishLaunchingWithOptions(*application, Dictionary()), true);
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_FALSE(delegate->window());
}

TEST_F(AppDelegateTest, TheMainStoryboardGivesANavigationStackWithAHiddenBar) {
    QVNAppStartup::prepare();
    auto application = make<UIApplication>();
    UIApplication::setSharedApplication(application);
    auto delegate = make<AppDelegate>();
    application->setDelegate(delegate);
    EXPECT_TRUE(application->finishLaunching());

    auto window = delegate->window();
    ASSERT_TRUE(window);
    EXPECT_EQ(application->keyWindow(), window);
    EXPECT_TRUE(window->backgroundColor()->isEqual(*UIColor::whiteColor()));
    auto navigation = std::dynamic_pointer_cast<QVNNavigationController>(window->rootViewController());
    ASSERT_TRUE(navigation);
    EXPECT_TRUE(navigation->isNavigationBarHidden());
    ASSERT_EQ(navigation->viewControllers().size(), 1u);
    auto first = navigation->topViewController();
    EXPECT_EQ(first->className(), "QVNLaunchViewController");
    EXPECT_FALSE(navigation->shouldAutorotate());  // the top screen decides
    EXPECT_EQ(navigation->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
    window->setHidden(true);
}

// The start-up the executable runs makes the app measure text in the font drawing uses, so a
// label sized by its text shows it whole (the fixed-width stand-in measures "改装 GT 宽体效果"
// narrower than it is drawn).
TEST_F(AppDelegateTest, TheStartUpMeasuresTextWithTheFontThatDrawsIt) {
    ASSERT_TRUE(TextMeasurer::usesDeterministic());
    QVNAppStartup::prepare();
    EXPECT_FALSE(TextMeasurer::usesDeterministic());
    auto label = make<UILabel>();
    label->setFont(UIFont::systemFontOfSize(15));
    label->setText(std::string("改装 GT 宽体效果"));
    label->sizeToFit();
    TextLayout drawn = label->currentLayout();
    ASSERT_EQ(drawn.lines.size(), 1u);
    EXPECT_FALSE(drawn.truncated);
    EXPECT_EQ(drawn.lines[0].text, "改装 GT 宽体效果");
    EXPECT_TRUE(testsupport::drawsWholeText(label));
    QVNAppStartup::prepare();  // again: nothing changes
    EXPECT_FALSE(TextMeasurer::usesDeterministic());
}

TEST_F(AppDelegateTest, TheHomeScreenTakesThePlaceholdersPlaceOnceRegistered) {
    QVNAppStartup::prepare();
    UIStoryboard::registerScene(
        QVNMainStoryboard::kName, QVNMainStoryboard::kHomeIdentifier,
        [](UIStoryboard&) -> Ref<UIViewController> { return make<UIViewController>(); });
    auto navigation = std::dynamic_pointer_cast<UINavigationController>(
        UIStoryboard::storyboardWithName("Main", nullptr)->instantiateInitialViewController());
    UIStoryboard::unregisterStoryboard(QVNMainStoryboard::kName);
    QVNMainStoryboard::registerScenes();
    ASSERT_TRUE(navigation);
    EXPECT_EQ(navigation->topViewController()->className(), "UIViewController");
    EXPECT_TRUE(navigation->isNavigationBarHidden());
}

// ---- URLs from other apps -------------------------------------------------------------------------

TEST_F(AppDelegateTest, WeiboIsAskedFirstAndWeChatNeverSeesItsURLs) {
    auto delegate = make<AppDelegate>();
    auto application = make<UIApplication>();
    weiboAccepts = true;
    wechatAccepts = true;
    auto url = NSURL::URLWithString("wb3904718265://response?id=1");
    EXPECT_EQ(delegate->applicationOpenURL(*application, url, std::string("device.weibo"), Value()), true);
    EXPECT_EQ(callNames(), std::vector<std::string>{"weibo.open"});
    EXPECT_EQ(weiboDelegate, static_cast<WeiboSDKDelegate*>(delegate.get()));
}

TEST_F(AppDelegateTest, WeChatGetsWhatWeiboRefuses) {
    auto delegate = make<AppDelegate>();
    auto application = make<UIApplication>();
    wechatAccepts = true;
    auto url = NSURL::URLWithString("wx5e07c9a3d14b82f6://oauth?code=abc&state=s");
    EXPECT_EQ(delegate->applicationHandleOpenURL(*application, url), true);
    EXPECT_EQ(callNames(), (std::vector<std::string>{"weibo.open", "wechat.open"}));
    EXPECT_EQ(wechatDelegate, static_cast<WXApiDelegate*>(delegate.get()));
}

TEST_F(AppDelegateTest, AURLNeitherTakesIsRefused) {
    auto delegate = make<AppDelegate>();
    auto application = make<UIApplication>();
    UIApplication::setSharedApplication(application);
    application->setDelegate(delegate);
    EXPECT_FALSE(application->openURLFromOtherApp(NSURL::URLWithString("other://x"), std::string("com.x")));
    EXPECT_EQ(delegate->applicationHandleOpenURL(*application, NSURL::URLWithString("other://y")), false);
    EXPECT_EQ(callNames(),
              (std::vector<std::string>{"weibo.open", "wechat.open", "weibo.open", "wechat.open"}));
}

TEST_F(AppDelegateTest, TheRealSDKsRefuseForeignURLs) {
    app_testing::setSDKEntryPoints({});
    auto delegate = make<AppDelegate>();
    auto application = make<UIApplication>();
    EXPECT_EQ(delegate->applicationHandleOpenURL(*application, NSURL::URLWithString("http://127.0.0.1/x")),
              false);
    EXPECT_EQ(delegate->applicationHandleOpenURL(*application, NSURL::URLWithString("garbage:%%")), false);
}

// ---- Weibo results --------------------------------------------------------------------------------

TEST_F(AppDelegateTest, WeiboShareResultsShowAnAlertForEveryStatus) {
    auto delegate = make<AppDelegate>();
    const std::vector<std::pair<long, std::optional<std::string>>> cases = {{0, "分享成功(0)"},
                                                                            {-8, "分享失败(-8)"},
                                                                            {-99, "微博不支持请求(-99)"},
                                                                            {-1, std::nullopt},
                                                                            {5, std::nullopt}};
    for (const auto& [status, message] : cases) {
        UIAlertTestDriver::reset();
        auto response = make<WBSendMessageToWeiboResponse>();
        response->setStatusCode(status);
        delegate->didReceiveWeiboResponse(response);
        auto alert = onlyAlert();
        ASSERT_TRUE(alert) << status;
        EXPECT_FALSE(alert->title) << status;
        EXPECT_EQ(alert->message, message) << status;
        EXPECT_EQ(alert->buttonTitles, std::vector<std::string>{"OK"});
        auto view = std::dynamic_pointer_cast<UIAlertView>(alert->object);
        ASSERT_TRUE(view);
        EXPECT_EQ(std::dynamic_pointer_cast<AppDelegate>(view->delegate()), delegate);
        EXPECT_TRUE(UIAlertTestDriver::tapAlertButton("OK"));
    }
    EXPECT_FALSE(delegate->wbtoken());
}

TEST_F(AppDelegateTest, AWeiboSignInStoresTokenFirstThenUserThenRefresh) {
    auto delegate = make<AppDelegate>();
    auto watcher = make<PropertyWatcher>();
    KVO::addObserver(*delegate, watcher, "wbtoken", NSKeyValueObservingOptionNew);
    KVO::addObserver(*delegate, watcher, "wbRefreshToken", NSKeyValueObservingOptionNew);
    delegate->didReceiveWeiboResponse(weiboSignIn(0, "at", "uid-1", "rt"));
    EXPECT_EQ(delegate->wbtoken(), "at");
    EXPECT_EQ(delegate->wbCurrentUserID(), "uid-1");
    EXPECT_EQ(delegate->wbRefreshToken(), "rt");
    ASSERT_EQ(watcher->seen.size(), 2u);
    EXPECT_EQ(watcher->seen[0].key, "wbtoken");
    EXPECT_EQ(watcher->seen[0].newValue, Value("at"));
    EXPECT_EQ(watcher->seen[0].userIDThen, std::nullopt);  // the user id is not stored yet
    EXPECT_EQ(watcher->seen[1].key, "wbRefreshToken");
    EXPECT_EQ(watcher->seen[1].userIDThen, "uid-1");
    EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
    KVO::removeObserver(*delegate, watcher.get());
}

TEST_F(AppDelegateTest, AFailedWeiboSignInStillOverwrites) {
    auto delegate = make<AppDelegate>();
    delegate->didReceiveWeiboResponse(weiboSignIn(0, "at", "uid-1", "rt"));
    auto watcher = make<PropertyWatcher>();
    KVO::addObserver(*delegate, watcher, "wbtoken", NSKeyValueObservingOptionNew);
    delegate->didReceiveWeiboResponse(weiboSignIn(-3, std::nullopt, std::nullopt, std::nullopt));
    EXPECT_FALSE(delegate->wbtoken());
    EXPECT_FALSE(delegate->wbCurrentUserID());
    EXPECT_FALSE(delegate->wbRefreshToken());
    ASSERT_EQ(watcher->seen.size(), 1u);
    EXPECT_TRUE(watcher->seen[0].newValue.isNull() || watcher->seen[0].newValue.isNil());
    KVO::removeObserver(*delegate, watcher.get());
}

TEST_F(AppDelegateTest, OtherWeiboAnswersDoNothing) {
    auto delegate = make<AppDelegate>();
    delegate->didReceiveWeiboResponse(make<WBPaymentResponse>());
    delegate->didReceiveWeiboResponse(make<WBSDKAppRecommendResponse>());
    delegate->didReceiveWeiboResponse(nullptr);
    delegate->didReceiveWeiboRequest(nullptr);
    EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
    EXPECT_FALSE(delegate->wbtoken());
}

// ---- WeChat results -------------------------------------------------------------------------------

TEST_F(AppDelegateTest, WeChatShareResultsShowAnAlertForEveryCode) {
    auto delegate = make<AppDelegate>();
    const std::vector<std::pair<std::int32_t, std::optional<std::string>>> cases = {{0, "分享成功(0)"},
                                                                                    {-3, "发送失败(-3)"},
                                                                                    {-5, "微信不支持(-5)"},
                                                                                    {-2, std::nullopt},
                                                                                    {-4, std::nullopt}};
    for (const auto& [code, message] : cases) {
        UIAlertTestDriver::reset();
        auto response = make<SendMessageToWXResp>();
        response->setErrCode(code);
        delegate->onResp(response);
        auto alert = onlyAlert();
        ASSERT_TRUE(alert) << code;
        EXPECT_FALSE(alert->title);
        EXPECT_EQ(alert->message, message) << code;
        EXPECT_EQ(alert->buttonTitles, std::vector<std::string>{"OK"});
    }
}

TEST_F(AppDelegateTest, OnlyASuccessfulWeChatSignInSetsTheCode) {
    auto delegate = make<AppDelegate>();
    auto watcher = make<PropertyWatcher>();
    KVO::addObserver(*delegate, watcher, "wxCode", NSKeyValueObservingOptionNew);
    delegate->onResp(wechatSignIn(-4, std::nullopt));
    EXPECT_FALSE(delegate->wxCode());
    EXPECT_TRUE(watcher->seen.empty());

    delegate->onResp(wechatSignIn(0, "code-1"));
    delegate->onResp(wechatSignIn(0, "code-1"));
    EXPECT_EQ(delegate->wxCode(), "code-1");
    ASSERT_EQ(watcher->seen.size(), 2u);  // the same code twice still notifies twice
    EXPECT_EQ(watcher->seen[1].newValue, Value("code-1"));

    delegate->onResp(wechatSignIn(-2, "code-2"));
    EXPECT_EQ(delegate->wxCode(), "code-1");
    EXPECT_EQ(watcher->seen.size(), 2u);
    EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
    KVO::removeObserver(*delegate, watcher.get());
}

TEST_F(AppDelegateTest, WeChatRequestsAreIgnored) {
    auto delegate = make<AppDelegate>();
    delegate->onReq(make<GetMessageFromWXReq>());
    delegate->onReq(make<ShowMessageFromWXReq>());
    delegate->onReq(make<LaunchFromWXReq>());
    delegate->onResp(nullptr);
    delegate->onResp(make<BaseResp>());
    EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
    EXPECT_FALSE(delegate->wxCode());
}

// ---- the analytics helper -------------------------------------------------------------------------

TEST_F(AppDelegateTest, AnalyticsStartCarriesPolicyChannelAndVersion) {
    QVNTAAnalyticsHelper::TAAnalyticStart();
    auto analytics = TallyApp::sharedInstance();
    EXPECT_EQ(analytics->appid(), "4f7c2a9be01d36a58c0e7b21");
    EXPECT_EQ(TallyConfig::configureWithKey("umcReportPolicy"), Value(1));
    EXPECT_EQ(analytics->channel(), "App Store");
    EXPECT_EQ(analytics->appVersion(), "2.3.4");
    QVNTAAnalyticsHelper::beginLogPageView(*make<AppDelegate>());
    QVNTAAnalyticsHelper::endLogPageView("AppDelegate");
    QVNTAAnalyticsHelper::AccountStatisticsWithPUID(std::string("7"));
    QVNTAAnalyticsHelper::AccountStatisticsThirdLandingWithPUID(std::string("7"), std::string("WB"));
    testsupport::drainMainRunLoop();
}

TEST_F(AppDelegateTest, AWeChatSignInURLReachesWxCodeThroughTheRealSDKs) {
    app_testing::setSDKEntryPoints({});
    wechat_testing::resetSDK();
    weibo_testing::resetSDK();
    auto delegate = make<AppDelegate>();
    auto application = make<UIApplication>();
    ASSERT_EQ(delegate->applicationDidFinishLaunchingWithOptions(*application, Dictionary()), true);
    EXPECT_EQ(WXApi::registeredAppID(), AppDelegate::kWeChatAppID);
    EXPECT_EQ(WeiboSDK::registeredAppKey(), AppDelegate::kWeiboAppKey);
    EXPECT_TRUE(WeiboSDK::isDebugMode());

    auto watcher = make<PropertyWatcher>();
    KVO::addObserver(*delegate, watcher, "wxCode", NSKeyValueObservingOptionNew);
    auto url = NSURL::URLWithString(std::string(AppDelegate::kWeChatAppID) + "://oauth?code=c0de&state=s");
    EXPECT_EQ(delegate->applicationOpenURL(*application, url, std::string("device.wechat"), Value()), true);
    EXPECT_EQ(delegate->wxCode(), "c0de");
    EXPECT_EQ(watcher->seen.size(), 1u);
    EXPECT_FALSE(delegate->wbtoken());  // the Weibo SDK did not take it
    KVO::removeObserver(*delegate, watcher.get());
    wechat_testing::resetSDK();
    weibo_testing::resetSDK();
}
