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
#include "tests/support/ScreenTestSupport.h"
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

using testsupport::alertMessage;
using testsupport::alertTitle;
using testsupport::hudShowing;
using testsupport::hudText;

class ScreenTest : public ::testing::Test, protected testsupport::NavigationWindow {
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
        openWindow();
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
        closeWindow();
        UIAlertTestDriver::reset();
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

    bool waitAdvancing(const std::function<bool()>& condition, double seconds = 10) {
        return testsupport::waitAdvancing(clock, condition, seconds);
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

    std::size_t requestsTo(const std::string& path) const { return server.requestsTo(path).size(); }

    testsupport::TemporaryDirectory sandbox_;
    testsupport::ManualClock clock;
    devserver::DevServer server;
    std::map<std::string, int> posted;
    std::vector<Ref<NSObject>> tokens;
};

}  // namespace accounttest
