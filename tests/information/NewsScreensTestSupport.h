#pragma once
// Shared pieces of the information tab's screen tests: the stand-in server (InformationServerTest)
// with the manual clock, an application whose key window holds a navigation controller (bar
// hidden, as in the app), the information scenes registered, and a stand-in article screen for
// "MyInformation"/"NewsDetail" that records what its opener handed over.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "controls/VHProgressHUD.h"
#include "information/InformationRootViewController.h"
#include "information/InformationScenes.h"
#include "information/InformationScreens.h"
#include "information/NewsListViewController.h"
#include "tests/information/InformationTestSupport.h"
#include "tests/support/MainLoop.h"
#include "tests/support/ScreenTestSupport.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"
#include "uikit/UIWindow.h"

namespace infotest {

class ArticleStandIn : public UIViewController, public InformationScreens::NewsDetailHandOver {
  public:
    std::string className() const override { return "ArticleStandIn"; }
    void setNews(const Ref<QVNNews>& news) override { this->news = news; }
    void setTitleTextPass(const std::string& title) override { this->title = title; }
    Ref<QVNNews> news;
    std::optional<std::string> title;
};

using testsupport::hudText;

class NewsScreenTest : public InformationServerTest, protected testsupport::NavigationWindow {
  protected:
    void SetUp() override {
        InformationServerTest::SetUp();
        InformationScenes::registerAll();
        UITextEntryDriver::reset();
        openWindow();
        settle();
    }
    void TearDown() override {
        UITestDriver::reset();
        UITextEntryDriver::reset();
        closeWindow();
        InformationServerTest::TearDown();
        UIScreen::mainScreen()->resetToConfiguration();
        UIStoryboard::unregisterStoryboard(InformationScreens::kInformationStoryboard);
    }

    // Runs what is due now and lets the clock move a little.
    void settle(double seconds = 0.05) {
        testsupport::drainMainRunLoop();
        clock.advance(seconds);
        testsupport::drainMainRunLoop();
    }
    bool waitAdvancing(const std::function<bool()>& condition, double seconds = 10) {
        return testsupport::waitAdvancing(clock, condition, seconds);
    }
    // Waits until the server has answered `count` requests to the path and the answers are in.
    bool waitForRequests(const std::string& path, std::size_t count) {
        bool sent = waitAdvancing([&] { return server.requestsTo(path).size() >= count; });
        settleNetwork();
        return sent;
    }
    // Lets answers in flight arrive.
    void settleNetwork() {
        testsupport::pumpMainRunLoop(0.15);
        settle();
    }

    // A stand-in article screen under "MyInformation"/"NewsDetail".
    void registerArticleStandIn() {
        UIStoryboard::registerScene(
            InformationScreens::kInformationStoryboard, InformationScreens::kNewsDetailIdentifier,
            [](UIStoryboard&) -> Ref<UIViewController> { return make<ArticleStandIn>(); });
    }

    // A news page of the category pushed over the root, its view in the window.
    Ref<NewsListViewController> pushNewsList(long category) {
        auto list = std::dynamic_pointer_cast<NewsListViewController>(
            UIStoryboard::storyboardWithName(InformationScreens::kInformationStoryboard, nullptr)
                ->instantiateViewControllerWithIdentifier(InformationScreens::kNewsListIdentifier));
        EXPECT_TRUE(list);
        if (!list) return nullptr;
        list->setCategory(category);
        navigation->pushViewController(list, false);
        settle();
        return list;
    }

    std::vector<long> newsIds(const Ref<NewsListViewController>& list) {
        std::vector<long> ids;
        if (!list->dataProvider()) return ids;
        for (const auto& news : list->dataProvider()->news()) ids.push_back(news->news_id->integerValue());
        return ids;
    }

    testsupport::ManualClock clock;
};

// Counts the tab's word that the user dragged on past its last page.
class NextTabDelegate : public NSObject, public InformationRootViewControllerDelegate {
  public:
    std::string className() const override { return "NextTabDelegate"; }
    void informationRootViewControllerDidScrollToNext() override { ++calls; }
    int calls = 0;
};

class InformationTabTest : public NewsScreenTest {
  protected:
    // The tab as the home screen shows it: made from its scene, its delegate set, shown, then
    // refreshFirstViewController.
    Ref<InformationRootViewController> showTab() {
        auto made = UIStoryboard::storyboardWithName(QVNInformationStoryboard, nullptr)
                        ->instantiateViewControllerWithIdentifier(QVNInformationRootIdentifier);
        auto tab = std::dynamic_pointer_cast<InformationRootViewController>(made);
        // The home screen sees it only through the interface.
        auto entry = std::dynamic_pointer_cast<QVNInformationScreens::InformationTab>(made);
        EXPECT_TRUE(tab && entry);
        if (!tab || !entry) return nullptr;
        entry->setDelegate(delegate);
        navigation->pushViewController(tab, false);
        settle();
        entry->refreshFirstViewController();
        EXPECT_TRUE(waitAdvancing([&] { return !newsIds(tab->newsList(0)).empty(); }));
        settle(0.5);
        return tab;
    }

    Ref<NextTabDelegate> delegate = make<NextTabDelegate>();
};

}  // namespace infotest
