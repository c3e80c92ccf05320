#pragma once
// Shared pieces of the home-screen and tuning-list screen tests: a sandbox per test, the stand-in
// server (accounts and tuning lists) on loopback with the app pointed at it, the manual clock, an
// application with a key window, the scenes registered, and sign-in through the server.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "account/AccountScenes.h"
#include "app/QVNAPIClient.h"
#include "app/QVNConfiguration.h"
#include "app/QVNInformationScreens.h"
#include "app/QVNMainStoryboard.h"
#include "app/QVNUser.h"
#include "app/QVNUserManager.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUserDefaults.h"
#include "network/NSURLCache.h"
#include "studio/MainStoryboard.h"
#include "studio/MainViewController.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"
#include "tools/devserver/DevServer.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"

namespace hometest {

// The Q&A page belongs to the forum, which the studio does not link: a plain page of that name
// stands for it here.
class QuestionsPage : public UIViewController {
  public:
    std::string className() const override { return "RizUrListViewController"; }
};

inline bool isQuestionsPage(const Ref<UIViewController>& page) {
    return page && page->className() == "RizUrListViewController";
}

// The information tab belongs to the information area, which the studio does not link either: a
// page adopting the tab's interface stands for it, counting refreshes and reaching its delegate.
class InformationPage : public UIViewController, public QVNInformationScreens::InformationTab {
  public:
    std::string className() const override { return "InformationRootViewController"; }
    void setDelegate(const Ref<InformationRootViewControllerDelegate>& delegate) override {
        delegate_ = delegate;
    }
    Ref<InformationRootViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void refreshFirstViewController() override { ++refreshCount_; }
    int refreshCount() const { return refreshCount_; }
    // What a drag past the tab's last page does.
    void scrollPastLastPage() {
        if (auto delegate = delegate_.lock()) delegate->informationRootViewControllerDidScrollToNext();
    }

  private:
    Weak<InformationRootViewControllerDelegate> delegate_;
    int refreshCount_ = 0;
};

inline void registerInformationPage() {
    UIStoryboard::registerScene(
        QVNInformationStoryboard, QVNInformationRootIdentifier,
        [](UIStoryboard&) -> Ref<UIViewController> { return make<InformationPage>(); });
}

class ScreenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox_.path()));
        NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
        ASSERT_TRUE(server.start()) << server.lastError();
        QVNConfiguration::useServer(server.baseURL());
        QVNAPIClient::sharedClient()->requestSerializer()->setValue(std::string("close"), "Connection");
        QVNMainStoryboard::registerScenes();
        MainStoryboard::registerScenes();
        AccountScenes::registerAll();
        UIStoryboard::registerScene(
            "MyRizUr", "RizUrListViewController",
            [](UIStoryboard&) -> Ref<UIViewController> { return make<QuestionsPage>(); });
        UIAlertTestDriver::reset();
        application = make<UIApplication>();
        UIApplication::setSharedApplication(application);
        window = make<UIWindow>(UIScreen::mainScreen()->bounds());
    }
    void TearDown() override {
        UITestDriver::reset();
        if (window) {
            if (auto root = window->rootViewController()) {
                if (root->presentedViewController()) root->dismissViewControllerAnimated(false);
            }
            testsupport::drainMainRunLoop();
            window->setHidden(true);
        }
        testsupport::drainMainRunLoop();
        UIAlertTestDriver::reset();
        UIApplication::setSharedApplication(nullptr);
        server.stop();
        QVNConfiguration::resetAll();
        NSURLCache::setSharedURLCache(nullptr);
    }

    void show(const Ref<UIViewController>& root) {
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        settle();
    }
    // Runs what is due now and lets the clock move a little, for chained main-queue work.
    void settle(double seconds = 0.05) {
        testsupport::drainMainRunLoop();
        clock.advance(seconds);
    }
    bool waitUntil(const std::function<bool()>& condition, double seconds = 10) {
        return testsupport::pumpMainRunLoopUntil(condition, seconds);
    }

    // Signs the first sample user in through the server.
    void signIn() {
        devserver::SampleUser sample = server.users().at(0);
        bool done = false;
        QVNUser::loginWithUserName(sample.user_username, sample.password,
                                   [&](const Ref<NSError>& error, const Ref<QVNUser>&) {
                                       EXPECT_FALSE(error);
                                       done = true;
                                   });
        ASSERT_TRUE(waitUntil([&] { return done; }));
        ASSERT_TRUE(QVNUserManager::shareObject()->hasCurrentUser());
    }

    testsupport::TemporaryDirectory sandbox_;
    testsupport::ManualClock clock;
    devserver::DevServer server;
    Ref<UIApplication> application;
    Ref<UIWindow> window;
};

// The app's first screen in the window, as the main storyboard makes it.
class HomeScreenTest : public ScreenTest {
  protected:
    void launch(bool guideSeen = true) {
        NSUserDefaults::standardUserDefaults()->setBool(MainViewController::kFirstLaunchKey, guideSeen);
        navigation = std::dynamic_pointer_cast<UINavigationController>(
            UIStoryboard::storyboardWithName("Main", nullptr)->instantiateInitialViewController());
        ASSERT_TRUE(navigation);
        home = std::dynamic_pointer_cast<MainViewController>(navigation->topViewController());
        ASSERT_TRUE(home);
        show(navigation);
    }

    Ref<UINavigationController> navigation;
    Ref<MainViewController> home;
};

}  // namespace hometest
