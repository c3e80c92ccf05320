#pragma once
// Shared pieces of the account screen tests: a sandbox per test, the stand-in server on loopback
// with the app pointed at it, the manual clock, an application with a key window holding a
// navigation controller, the "MyUser" scenes registered, and helpers to sign in, push a scene,
// type, tap and read the HUDs and alerts the screens show.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "account/AccountScenes.h"
#include "app/QVNAPIClient.h"
#include "app/QVNConfiguration.h"
#include "app/QVNUser.h"
#include "app/QVNUserManager.h"
#include "controls/VHProgressHUD.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSSandbox.h"
#include "network/NSURLCache.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"
#include "tools/devserver/DevServer.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"
#include "uikit/UITextField.h"
#include "uikit/UIWindow.h"

namespace accounttest {

class ScreenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_.path()));
        NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
        ASSERT_TRUE(server.start()) << server.lastError();
        QVNConfiguration::useServer(server.baseURL());
        QVNAPIClient::sharedClient()->requestSerializer()->setValue(std::string("close"), "Connection");
        AccountScenes::registerAll();
        UIAlertTestDriver::reset();
        UITextEntryDriver::reset();
        application = make<UIApplication>();
        UIApplication::setSharedApplication(application);
        window = make<UIWindow>(UIScreen::mainScreen()->bounds());
        root = make<UIViewController>();
        navigation = make<UINavigationController>(root);
        // As the app's own navigation controller: the screens draw their own title bars.
        navigation->setNavigationBarHidden(true, false);
        window->setRootViewController(navigation);
        window->makeKeyAndVisible();
        settle();
        for (const char* name : {"LogoutSuccess", "LoginSuccess", "updateRead"}) {
            std::string key = name;
            tokens.push_back(NSNotificationCenter::defaultCenter()->addObserverForName(
                key, nullptr, nullptr, [this, key](const Ref<NSNotification>&) { ++posted[key]; }));
        }
    }
    void TearDown() override {
        for (const auto& token : tokens) NSNotificationCenter::defaultCenter()->removeObserver(token.get());
        UITestDriver::reset();
        UITextEntryDriver::reset();
        if (auto presented = navigation->presentedViewController())
            navigation->dismissViewControllerAnimated(false);
        testsupport::drainMainRunLoop();
        window->setHidden(true);
        testsupport::drainMainRunLoop();
        UIAlertTestDriver::reset();
        UIApplication::setSharedApplication(nullptr);
        server.stop();
        QVNConfiguration::resetAll();
        NSURLCache::setSharedURLCache(nullptr);
    }

    // Runs what is due now and lets the clock move a little, for chained main-queue work.
    void settle(double seconds = 0.05) {
        testsupport::drainMainRunLoop();
        clock.advance(seconds);
    }
    bool waitUntil(const std::function<bool()>& condition, double seconds = 10) {
        return testsupport::pumpMainRunLoopUntil(condition, seconds);
    }

    // Waits on real time for the server while letting the manual clock move in small steps, for
    // work the controls schedule on the platform clock (a refresh control runs its block after
    // its animation).
    bool waitAdvancing(const std::function<bool()>& condition, double seconds = 10) {
        for (int step = 0; step < static_cast<int>(seconds / 0.02); ++step) {
            if (condition()) return true;
            clock.advance(0.01);
            if (testsupport::pumpMainRunLoopUntil(condition, 0.01)) return true;
        }
        return condition();
    }

    // Signs a sample user in through the server (the first by default).
    Ref<QVNUser> signIn(std::size_t index = 0) {
        devserver::SampleUser sample = server.users().at(index);
        bool done = false;
        QVNUser::loginWithUserName(sample.user_username, sample.password,
                                   [&](const Ref<NSError>& error, const Ref<QVNUser>&) {
                                       EXPECT_FALSE(error);
                                       done = true;
                                   });
        EXPECT_TRUE(waitUntil([&] { return done; }));
        return QVNUserManager::shareObject()->currentUser();
    }

    // Instantiates a scene of "MyUser" and pushes it over the root (not animated); its view is in
    // the window once this returns.
    template <class T>
    Ref<T> push(const std::string& identifier) {
        auto screen =
            std::dynamic_pointer_cast<T>(UIStoryboard::storyboardWithName(AccountScenes::kStoryboard, nullptr)
                                             ->instantiateViewControllerWithIdentifier(identifier));
        EXPECT_TRUE(screen) << identifier;
        if (!screen) return nullptr;
        navigation->pushViewController(screen, false);
        settle();
        return screen;
    }

    // Replaces a field's text by typing.
    static void type(const Weak<UITextField>& field, const std::string& text) {
        auto strong = field.lock();
        ASSERT_TRUE(strong);
        strong->setText(std::string());
        UITextEntryDriver::typeText(strong, text);
    }

    // The text of the topmost HUD showing over the view (nullopt when none shows).
    static std::optional<std::string> hudText(const Ref<UIView>& view) {
        for (auto it = view->subviews().rbegin(); it != view->subviews().rend(); ++it) {
            auto hud = std::dynamic_pointer_cast<VHProgressHUD>(*it);
            if (hud && !hud->isHidden() && hud->alpha() > 0) return hud->labelText();
        }
        return std::nullopt;
    }
    static bool hudShowing(const Ref<VHProgressHUD>& hud) {
        return hud && hud->superview() && !hud->isHidden() && hud->alpha() > 0;
    }
    static std::optional<std::string> alertTitle() {
        auto alert = UIAlertTestDriver::frontmostAlert();
        return alert ? alert->title : std::nullopt;
    }
    static std::optional<std::string> alertMessage() {
        auto alert = UIAlertTestDriver::frontmostAlert();
        return alert ? alert->message : std::nullopt;
    }
    std::size_t requestsTo(const std::string& path) const { return server.requestsTo(path).size(); }

    testsupport::TemporaryDirectory sandbox_;
    testsupport::ManualClock clock;
    devserver::DevServer server;
    Ref<UIApplication> application;
    Ref<UIWindow> window;
    Ref<UIViewController> root;
    Ref<UINavigationController> navigation;
    std::map<std::string, int> posted;
    std::vector<Ref<NSObject>> tokens;
};

}  // namespace accounttest
