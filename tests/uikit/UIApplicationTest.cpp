// The application: launching, life cycle, windows, URLs, status bar and background tasks; the
// screen, the device and the input mode.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "UIKitTestSupport.h"
#include "foundation/FoundationTesting.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUserDefaults.h"
#include "graphics/UIGraphics.h"
#include "system/SystemOtherApps.h"
#include "system/SystemTesting.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"
#include "uikit/UIDevice.h"
#include "uikit/UITextInputMode.h"

using uikittest::UIKitTest;

namespace {

class AppDelegate : public UIResponder, public UIApplicationDelegate {
  public:
    std::vector<std::string> calls;
    bool implementsOpenURL = true;
    bool implementsHandleOpenURL = true;
    Ref<UIWindow> window_;

    std::optional<bool> applicationDidFinishLaunchingWithOptions(UIApplication&,
                                                                 const Dictionary& o) override {
        calls.push_back("didFinishLaunching");
        return true;
    }
    void applicationWillResignActive(UIApplication&) override { calls.push_back("willResignActive"); }
    void applicationDidEnterBackground(UIApplication&) override { calls.push_back("didEnterBackground"); }
    void applicationWillEnterForeground(UIApplication&) override { calls.push_back("willEnterForeground"); }
    void applicationDidBecomeActive(UIApplication&) override { calls.push_back("didBecomeActive"); }
    void applicationWillTerminate(UIApplication&) override { calls.push_back("willTerminate"); }
    void applicationDidReceiveMemoryWarning(UIApplication&) override { calls.push_back("memoryWarning"); }
    std::optional<bool> applicationOpenURL(UIApplication&, const Ref<NSURL>& url,
                                           const std::optional<std::string>& source, const Value&) override {
        if (!implementsOpenURL) return std::nullopt;
        calls.push_back("openURL " + url->absoluteString() + " from " + source.value_or("nil"));
        return url->scheme() == std::optional<std::string>("wb3904718265");
    }
    std::optional<bool> applicationHandleOpenURL(UIApplication&, const Ref<NSURL>& url) override {
        if (!implementsHandleOpenURL) return std::nullopt;
        calls.push_back("handleOpenURL " + url->absoluteString());
        return true;
    }
    Ref<UIWindow> window() const override { return window_; }
    void setWindow(const Ref<UIWindow>& w) override { window_ = w; }
};

class ApplicationTest : public UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        app = UIApplication::sharedApplication();
        delegate = make<AppDelegate>();
        app->setDelegate(delegate);
        for (const char* name :
             {UIApplicationDidFinishLaunchingNotification, UIApplicationDidBecomeActiveNotification,
              UIApplicationWillResignActiveNotification, UIApplicationDidEnterBackgroundNotification,
              UIApplicationWillEnterForegroundNotification, UIApplicationWillTerminateNotification,
              UIApplicationDidReceiveMemoryWarningNotification}) {
            tokens.push_back(NSNotificationCenter::defaultCenter()->addObserverForName(
                std::string(name), nullptr, nullptr,
                [this](const Ref<NSNotification>& n) { delegate->calls.push_back("note " + n->name()); }));
        }
    }
    void TearDown() override {
        for (auto& t : tokens) NSNotificationCenter::defaultCenter()->removeObserver(t);
        UIApplication::setMainStoryboardLoader(nullptr);
        UIKitTest::TearDown();
    }
    Ref<UIApplication> app;
    Ref<AppDelegate> delegate;
    std::vector<Ref<NSObject>> tokens;
};

}  // namespace

TEST_F(ApplicationTest, LaunchLoadsTheStoryboardWindowAndBecomesActive) {
    Ref<UIWindow> loaded;
    UIApplication::setMainStoryboardLoader([&](UIApplication&) {
        loaded = make<UIWindow>(UIScreen::mainScreen()->bounds());
        return loaded;
    });
    EXPECT_EQ(app->applicationState(), UIApplicationStateInactive);
    EXPECT_TRUE(app->finishLaunching());
    EXPECT_EQ(delegate->window(), loaded);
    EXPECT_EQ(app->keyWindow(), loaded);
    EXPECT_FALSE(loaded->isHidden());
    EXPECT_EQ(app->applicationState(), UIApplicationStateActive);
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{
                                   "didFinishLaunching", "note UIApplicationDidFinishLaunchingNotification",
                                   "didBecomeActive", "note UIApplicationDidBecomeActiveNotification"}));
    EXPECT_TRUE(app->finishLaunching());  // once only
    EXPECT_EQ(delegate->calls.size(), 4u);
    EXPECT_EQ(app->nextResponder(), delegate);
}

TEST_F(ApplicationTest, LifeCycleCallsTheDelegateThenPosts) {
    app->finishLaunching();
    delegate->calls.clear();
    app->simulateDidEnterBackground();
    EXPECT_EQ(app->applicationState(), UIApplicationStateBackground);
    EXPECT_EQ(app->backgroundTimeRemaining(), 180);
    app->simulateDidEnterBackground();  // already there: nothing
    app->simulateWillEnterForeground();
    app->simulateMemoryWarning();
    app->simulateWillTerminate();
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{
                                   "willResignActive", "note UIApplicationWillResignActiveNotification",
                                   "didEnterBackground", "note UIApplicationDidEnterBackgroundNotification",
                                   "willEnterForeground", "note UIApplicationWillEnterForegroundNotification",
                                   "didBecomeActive", "note UIApplicationDidBecomeActiveNotification",
                                   "memoryWarning", "note UIApplicationDidReceiveMemoryWarningNotification",
                                   "willTerminate", "note UIApplicationWillTerminateNotification"}));
    EXPECT_GT(app->backgroundTimeRemaining(), 1e300);
}

TEST_F(ApplicationTest, URLsFromOtherAppsReachTheDelegate) {
    auto weibo = NSURL::URLWithString("wb3904718265://response?id=1");
    EXPECT_TRUE(app->openURLFromOtherApp(weibo, std::string("other.app")));
    EXPECT_FALSE(app->openURLFromOtherApp(NSURL::URLWithString("wx1://x"), std::nullopt));
    // Without the newer entry, the older one answers.
    delegate->implementsOpenURL = false;
    EXPECT_TRUE(app->openURLFromOtherApp(weibo, std::string("x")));
    delegate->implementsHandleOpenURL = false;
    EXPECT_FALSE(app->openURLFromOtherApp(weibo, std::string("x")));
    EXPECT_EQ(
        delegate->calls,
        (std::vector<std::string>{"openURL wb3904718265://response?id=1 from other.app",
                                  "openURL wx1://x from nil", "handleOpenURL wb3904718265://response?id=1"}));
    app->setDelegate(nullptr);
    EXPECT_FALSE(app->openURLFromOtherApp(weibo, std::nullopt));
    EXPECT_FALSE(app->openURLFromOtherApp(nullptr, std::nullopt));
}

TEST_F(ApplicationTest, OpeningURLsIsRecorded) {
    auto video = NSURL::URLWithString("https://example.com/v.mp4");
    auto store = NSURL::URLWithString("market://app/1");
    EXPECT_TRUE(app->openURL(video));
    EXPECT_FALSE(app->canOpenURL(store));
    app->setOpenableURLSchemes({"market"});
    EXPECT_TRUE(app->canOpenURL(store));
    EXPECT_TRUE(app->canOpenURL(video));  // the system's browser still takes it
    app->setOpenURLHandler([](const Ref<NSURL>&) { return false; });
    EXPECT_FALSE(app->openURL(store));
    EXPECT_FALSE(app->openURL(nullptr));
    ASSERT_EQ(app->openedURLs().size(), 2u);
    EXPECT_EQ(app->openedURLs()[0], video);
    EXPECT_EQ(app->canOpenURLQueries().size(), 3u);
    app->clearRecordedURLs();
    EXPECT_TRUE(app->openedURLs().empty());
}

TEST_F(ApplicationTest, URLsGoToTheAppClaimingTheirScheme) {
    system_testing::resetOtherApps();
    std::vector<std::string> received;
    SystemOtherApps::installApp("device.maps", {"maps"}, [&](const Ref<NSURL>& url, const std::string&) {
        received.push_back(url->absoluteString());
    });
    auto place = NSURL::URLWithString("maps://place?id=7");
    EXPECT_TRUE(app->canOpenURL(place));
    EXPECT_TRUE(app->openURL(place));
    EXPECT_TRUE(received.empty()) << "delivered on a later turn, never inline";
    testsupport::pumpMainRunLoopUntil([&] { return !received.empty(); });
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], "maps://place?id=7");

    SystemOtherApps::removeApp("device.maps");
    EXPECT_FALSE(app->canOpenURL(place));
    EXPECT_FALSE(app->openURL(place));
    system_testing::resetOtherApps();
}

TEST_F(ApplicationTest, WindowsAreOrderedByLevelThenByShowing) {
    auto a = make<UIWindow>(CGRectMake(0, 0, 10, 10));
    auto status = make<UIWindow>(CGRectMake(0, 0, 10, 10));
    status->setWindowLevel(UIWindowLevelStatusBar);
    auto b = make<UIWindow>(CGRectMake(0, 0, 10, 10));
    EXPECT_TRUE(a->isHidden());
    a->makeKeyAndVisible();
    status->setHidden(false);
    b->setHidden(false);
    EXPECT_EQ(app->windows(), (std::vector<Ref<UIWindow>>{a, b, status}));
    a->makeKeyAndVisible();  // to the front of its level
    EXPECT_EQ(app->windows(), (std::vector<Ref<UIWindow>>{b, a, status}));
    EXPECT_TRUE(a->isKeyWindow());
    b->makeKeyWindow();
    EXPECT_FALSE(a->isKeyWindow());
    EXPECT_EQ(app->keyWindow(), b);
    b->setHidden(true);
    EXPECT_EQ(app->keyWindow(), nullptr);
    b.reset();
    EXPECT_EQ(app->windows().size(), 2u);
    EXPECT_EQ(a->screen(), UIScreen::mainScreen());
}

TEST_F(ApplicationTest, StatusBar) {
    EXPECT_EQ(app->statusBarFrame(), CGRectMake(0, 0, 375, 20));
    int changes = 0;
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        std::string(UIApplicationDidChangeStatusBarOrientationNotification), nullptr, nullptr,
        [&](const Ref<NSNotification>& n) {
            ++changes;
            EXPECT_EQ(n->userInfoValue(UIApplicationStatusBarOrientationUserInfoKey).integerValue(),
                      long(UIInterfaceOrientationPortrait));
        });
    app->setStatusBarOrientation(UIInterfaceOrientationLandscapeLeft);
    app->setStatusBarOrientation(UIInterfaceOrientationLandscapeLeft);
    NSNotificationCenter::defaultCenter()->removeObserver(token);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(app->statusBarFrame(), CGRectMake(0, 0, 667, 20));
    app->setStatusBarHidden(true, UIStatusBarAnimationFade);
    EXPECT_EQ(app->statusBarFrame(), CGRectZero);
    EXPECT_DOUBLE_EQ(app->statusBarOrientationAnimationDuration(), 0.4);
    app->setNetworkActivityIndicatorVisible(true);
    EXPECT_TRUE(app->isNetworkActivityIndicatorVisible());
    app->setNeedsStatusBarAppearanceUpdate();
    EXPECT_EQ(app->statusBarAppearanceUpdateCount(), 1);
}

TEST_F(ApplicationTest, BackgroundTasksFromManyThreads) {
    std::vector<std::thread> threads;
    std::atomic<int> expired{0};
    std::vector<UIBackgroundTaskIdentifier> ids(40);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                ids[std::size_t(t * 10 + i)] =
                    app->beginBackgroundTaskWithExpirationHandler([&] { ++expired; });
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<UIBackgroundTaskIdentifier> unique(ids.begin(), ids.end());
    EXPECT_EQ(unique.size(), 40u);
    EXPECT_EQ(unique.count(UIBackgroundTaskInvalid), 0u);
    for (std::size_t i = 0; i < 30; ++i) app->endBackgroundTask(ids[i]);
    app->endBackgroundTask(UIBackgroundTaskInvalid);
    app->endBackgroundTask(ids[0]);
    EXPECT_EQ(app->runningBackgroundTasks().size(), 10u);
    app->expireBackgroundTasks();
    EXPECT_EQ(expired.load(), 10);
    auto named = app->beginBackgroundTaskWithName(std::string("upload"), nullptr);
    EXPECT_EQ(app->backgroundTaskName(named), std::optional<std::string>("upload"));
    app->expireBackgroundTasks();  // a task without a handler is fine
    EXPECT_EQ(app->backgroundTaskName(12345), std::nullopt);
}

TEST_F(ApplicationTest, ApplicationMainLaunchesAndRunsTheLoop) {
    UIApplication::registerDelegateClass("AppDelegate", [] { return make<AppDelegate>(); });
    // Stop the loop from inside once launched.
    NSRunLoop::mainRunLoop()->performBlock([] { NSRunLoop::mainRunLoop()->stop(); });
    EXPECT_EQ(UIApplicationMain(0, nullptr, std::nullopt, std::string("AppDelegate")), 0);
    auto launched = UIApplication::sharedApplication();
    EXPECT_TRUE(launched->isLaunched());
    auto d = std::dynamic_pointer_cast<AppDelegate>(launched->delegate());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->calls.front(), "didFinishLaunching");
    EXPECT_EQ(UIApplicationMain(0, nullptr, std::string("NoSuchApp"), std::nullopt), 1);
    EXPECT_EQ(UIApplicationMain(0, nullptr, std::nullopt, std::string("NoSuchDelegate")), 1);
}

TEST_F(ApplicationTest, EventsGoToTheInstalledDispatcher) {
    int delivered = 0;
    app->sendEvent(nullptr);  // dropped, whether or not the touch layer is installed
    auto previous =
        UIApplication::setEventDispatcher([&](UIApplication&, const Ref<UIEvent>&) { ++delivered; });
    app->sendEvent(nullptr);
    UIApplication::setEventDispatcher(previous);
    EXPECT_EQ(delivered, 1);
}

// ---- screen, device, input mode ---------------------------------------------------------------

TEST_F(ApplicationTest, ScreenIsConfigurable) {
    auto screen = UIScreen::mainScreen();
    EXPECT_EQ(screen->bounds(), CGRectMake(0, 0, 375, 667));
    EXPECT_EQ(screen->scale(), 2);
    EXPECT_EQ(screen->currentMode()->size(), CGSizeMake(750, 1334));
    screen->setBoundsSize({320, 568});
    screen->setScale(3);
    EXPECT_EQ(screen->nativeBounds(), CGRectMake(0, 0, 960, 1704));
    EXPECT_EQ(UIGraphicsGetDefaultScreenScale(), 3);
    EXPECT_EQ(screen->applicationFrame(), CGRectMake(0, 20, 320, 548));
    screen->setScale(-1);
    screen->setBoundsSize({0, 5});
    EXPECT_EQ(screen->scale(), 3);
    EXPECT_EQ(screen->bounds().size, CGSizeMake(320, 568));
    setenv("APP_SCREEN", "414x736@3", 1);
    screen->resetToConfiguration();
    EXPECT_EQ(screen->bounds().size, CGSizeMake(414, 736));
    EXPECT_EQ(screen->scale(), 3);
    setenv("APP_SCREEN", "nonsense", 1);
    screen->resetToConfiguration();
    EXPECT_EQ(screen->bounds().size, CGSizeMake(375, 667));
    setenv("APP_SCREEN", "320x480", 1);
    screen->resetToConfiguration();
    EXPECT_EQ(screen->bounds().size, CGSizeMake(320, 480));
    EXPECT_EQ(screen->scale(), 2);
    unsetenv("APP_SCREEN");
    screen->resetToConfiguration();
}

TEST_F(ApplicationTest, DeviceFactsAndIdentifier) {
    testsupport::TemporaryDirectory sandbox;
    NSSandbox::setRoot(sandbox.path());
    NSUserDefaults::resetStandardUserDefaults();
    auto device = UIDevice::currentDevice();
    device->resetConfiguration();
    EXPECT_EQ(device->model(), "iPhone");
    EXPECT_EQ(device->systemName(), "iPhone OS");
    EXPECT_EQ(device->systemVersion(), "8.4");
    EXPECT_EQ(device->userInterfaceIdiom(), UIUserInterfaceIdiomPhone);
    device->setSystemVersion(std::string("8.1.2"));
    EXPECT_EQ(device->systemVersion(), "8.1.2");

    auto first = device->identifierForVendor();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isEqual(*device->identifierForVendor()));
    NSUserDefaults::resetStandardUserDefaults();  // as after a restart: read back from the file
    EXPECT_TRUE(first->isEqual(*device->identifierForVendor()));
    auto zero = NSUUID::initWithUUIDBytes({});
    device->setIdentifierForVendor(zero);
    EXPECT_EQ(device->identifierForVendor()->UUIDString(), "00000000-0000-0000-0000-000000000000");
    device->setIdentifierForVendor(nullptr);
    EXPECT_EQ(device->identifierForVendor(), nullptr);

    int notes = 0;
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        std::string(UIDeviceOrientationDidChangeNotification), nullptr, nullptr,
        [&](const Ref<NSNotification>&) { ++notes; });
    device->setOrientation(UIDeviceOrientationLandscapeLeft);  // not generating yet
    device->beginGeneratingDeviceOrientationNotifications();
    device->setOrientation(UIDeviceOrientationPortrait);
    device->setOrientation(UIDeviceOrientationPortrait);
    NSNotificationCenter::defaultCenter()->removeObserver(token);
    EXPECT_EQ(notes, 1);
    EXPECT_EQ(device->batteryLevel(), -1.0f);
    device->setBatteryMonitoringEnabled(true);
    device->setBatteryLevel(0.3f);
    EXPECT_FLOAT_EQ(device->batteryLevel(), 0.3f);
    device->resetConfiguration();
    NSUserDefaults::resetStandardUserDefaults();
    foundation_testing::resetSandbox();
}

TEST_F(ApplicationTest, InputModeLanguage) {
    EXPECT_EQ(UITextInputMode::currentInputMode()->primaryLanguage(), std::optional<std::string>("en-US"));
    UITextInputMode::setCurrentPrimaryLanguage(std::string("emoji"));
    EXPECT_EQ(UITextInputMode::currentInputMode()->primaryLanguage(), std::optional<std::string>("emoji"));
    UITextInputMode::setCurrentPrimaryLanguage(std::nullopt);
    EXPECT_EQ(UITextInputMode::currentInputMode()->primaryLanguage(), std::nullopt);
    UITextInputMode::setCurrentInputModeAbsent();
    EXPECT_EQ(UITextInputMode::currentInputMode(), nullptr);
    EXPECT_TRUE(UITextInputMode::activeInputModes().empty());
    UITextInputMode::resetCurrentInputMode();
}
