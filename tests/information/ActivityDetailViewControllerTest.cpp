// An event's page: its HTML with the server's title and time shown as text, the closed event's
// inert grey buttons, the join decision in its order (already joined, signed out, studio event,
// photo event), the gallery it opens or, without one, does not; and the events web page with its
// spinner on the clock.

#include <gtest/gtest.h>

#include "graphics/GraphicsTesting.h"
#include "information/ActivityDetailViewController.h"
#include "information/ActivvityHeaderViewController.h"
#include "information/JoinActivityViewController.h"
#include "information/ProductionListsViewController.h"
#include "tests/information/EventScreensTestSupport.h"

using namespace infotest;

namespace {

Ref<QVNActivity> event(long category, long isJoin, long available = 1) {
    auto activity = make<QVNActivity>();
    activity->event_id = NSNumber::numberWithLong(7);
    activity->event_title = "标题";
    activity->addtime = "2026-11-20 10:00:00";
    activity->event_content = "<p>正文</p>";
    activity->category = NSNumber::numberWithLong(category);
    activity->is_join = NSNumber::numberWithLong(isJoin);
    activity->available = NSNumber::numberWithLong(available);
    return activity;
}

class ActivityDetailViewControllerTest : public EventScreenTest {
  protected:
    void TearDown() override {
        graphics_testing::setResourcesDirectory("");
        EventScreenTest::TearDown();
    }
    Ref<ActivityDetailViewController> open(const Ref<QVNActivity>& activity) {
        return push<ActivityDetailViewController>(InformationScreens::kActivityDetailIdentifier, activity);
    }
    // The button pictures, as the resources folder holds them.
    void installButtonPictures() {
        double shade = 0.1;
        for (const char* name : {"woyaocanyu", "woyaocanyugray", "zuopinxinshang", "zuopinxinshanggray"}) {
            ASSERT_TRUE(UIImagePNGRepresentation(picture(shade, shade, shade))
                            ->writeToFile(resources.file(std::string(name) + ".png")));
            shade += 0.2;
        }
        graphics_testing::setResourcesDirectory(resources.path());
    }
    testsupport::TemporaryDirectory resources;
};

TEST_F(ActivityDetailViewControllerTest, ThePageShowsTitleAndTimeAsTextAndTheBodyAsHTML) {
    auto activity = event(0, 0);
    activity->event_title = "<script>alert('x')</script> & \"改装\"";
    activity->addtime = "2026<b>11";
    activity->event_content = "<p>活动<b>正文</b></p><img src=\"a.png\">";
    auto detail = open(activity);
    ASSERT_TRUE(detail);
    auto web = detail->webView.lock();
    ASSERT_TRUE(web);
    ASSERT_TRUE(waitUntil([&] { return web->finishedLoadCount() == 1; }));
    const int width = static_cast<int>(UIScreen::mainScreen()->bounds().size.width) - 16;
    EXPECT_EQ(web->shownHTML(),
              "<html><head></head><style>img{max-width:" + std::to_string(width) +
                  "px}</style><body><div class=\"title\">&lt;script&gt;alert(&#39;x&#39;)&lt;/"
                  "script&gt; &amp; &quot;改装&quot;</div><div class=\"time\">2026&lt;b&gt;11</div>"
                  "<p>活动<b>正文</b></p><img src=\"a.png\"></body></html>");
    EXPECT_EQ(web->request()->URL()->absoluteString(), "about:blank");
    EXPECT_TRUE(detail->shareBtn.lock()->isHidden());
    EXPECT_TRUE(navigation->isNavigationBarHidden());
    EXPECT_EQ(detail->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
    EXPECT_EQ(detail->preferredStatusBarStyle(), UIStatusBarStyleLightContent);
}

TEST_F(ActivityDetailViewControllerTest, AnEventWithoutFieldsStillMakesAPage) {
    auto detail = open(make<QVNActivity>());
    ASSERT_TRUE(detail);
    auto web = detail->webView.lock();
    ASSERT_TRUE(waitUntil([&] { return web->finishedLoadCount() == 1; }));
    EXPECT_NE(web->shownHTML().find("<div class=\"title\"></div><div class=\"time\"></div></body>"),
              std::string::npos);
}

TEST_F(ActivityDetailViewControllerTest, AClosedEventGreysBothButtonsAndTheyDoNothing) {
    installButtonPictures();
    signIn(1);
    auto detail = open(event(0, 0, 0));
    ASSERT_TRUE(detail);
    auto join = detail->joinButton.lock();
    auto show = detail->showBtn.lock();
    EXPECT_FALSE(join->isUserInteractionEnabled());
    EXPECT_FALSE(show->isUserInteractionEnabled());
    EXPECT_EQ(join->backgroundImageForState(UIControlStateNormal), UIImage::imageNamed("woyaocanyugray"));
    EXPECT_EQ(show->backgroundImageForState(UIControlStateNormal), UIImage::imageNamed("zuopinxinshanggray"));
    UITestDriver::tap(join);
    UITestDriver::tap(show);
    // Actions sent from code are held to the same rule.
    detail->joinButtonDidTouch(nullptr);
    detail->appreciateButtonDidTouch(nullptr);
    finishTransitions();
    EXPECT_EQ(navigation->topViewController(), detail);
    EXPECT_FALSE(detail->presentedViewController());
    EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
}

TEST_F(ActivityDetailViewControllerTest, AnOpenEventKeepsItsButtonsLive) {
    installButtonPictures();
    auto detail = open(event(0, 0, 1));
    ASSERT_TRUE(detail);
    EXPECT_TRUE(detail->joinButton.lock()->isUserInteractionEnabled());
    EXPECT_TRUE(detail->showBtn.lock()->isUserInteractionEnabled());
    EXPECT_EQ(detail->joinButton.lock()->backgroundImageForState(UIControlStateNormal),
              UIImage::imageNamed("woyaocanyu"));
}

TEST_F(ActivityDetailViewControllerTest, TheJoinButtonChoosesTheScreenInItsOrder) {
    struct Case {
        const char* name;
        long category;
        long isJoin;
        bool signedIn;
        const char* expected;  // "alert", "login", "studio", "join"
    };
    const Case cases[] = {
        {"joined, signed out: the joined test comes first", 0, 1, false, "alert"},
        {"joined studio event", 2, 1, true, "alert"},
        {"signed out", 0, 0, false, "login"},
        {"signed out, studio event", 2, 0, false, "login"},
        {"any non-zero category opens the studio", 2, 0, true, "studio"},
        {"category 0 joins with a photo", 0, 0, true, "join"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UIAlertTestDriver::reset();
        if (c.signedIn)
            signIn(1);
        else
            signOut();
        auto activity = event(c.category, c.isJoin);
        auto detail = open(activity);
        ASSERT_TRUE(detail);
        UITestDriver::tap(detail->joinButton.lock());
        finishTransitions();
        std::string expected = c.expected;
        if (expected == "alert") {
            EXPECT_EQ(alertTitle(), "已参与该活动");
            EXPECT_FALSE(UIAlertTestDriver::frontmostAlert()->message);
            EXPECT_EQ(UIAlertTestDriver::frontmostAlert()->buttonTitles, std::vector<std::string>{"确定"});
            UIAlertTestDriver::tapAlertButton("确定");
        } else {
            EXPECT_TRUE(UIAlertTestDriver::shownAlerts().empty());
        }
        if (expected == "login") {
            EXPECT_TRUE(std::dynamic_pointer_cast<LoginStandIn>(navigation->topViewController()));
        }
        if (expected == "studio") {
            auto studio = std::dynamic_pointer_cast<StudioStandIn>(detail->presentedViewController());
            ASSERT_TRUE(studio);
            EXPECT_EQ(studio->activity, activity);
            EXPECT_EQ(navigation->topViewController(), detail);
            detail->dismissViewControllerAnimated(false);
            finishTransitions();
        }
        if (expected == "join") {
            auto join =
                std::dynamic_pointer_cast<JoinActivityViewController>(navigation->topViewController());
            ASSERT_TRUE(join);
            EXPECT_EQ(join->activity(), activity);
        }
        if (expected == "alert") {
            EXPECT_EQ(navigation->topViewController(), detail);
            EXPECT_FALSE(detail->presentedViewController());
        }
        navigation->popToRootViewControllerAnimated(false);
        finishTransitions();
    }
    // Deciding never asked the server anything.
    EXPECT_EQ(requestsTo("event/joinevent.do"), 0u);
}

TEST_F(ActivityDetailViewControllerTest, AJoinMadeFurtherOnShowsAsJoinedOnTheNextTap) {
    signIn(1);
    auto activity = event(0, 0);
    auto detail = open(activity);
    ASSERT_TRUE(detail);
    // What the join screen and the studio do to the shared event after a join.
    activity->is_join = NSNumber::numberWithLong(1);
    detail->joinButtonDidTouch(nullptr);
    EXPECT_EQ(alertTitle(), "已参与该活动");
    EXPECT_EQ(navigation->topViewController(), detail);
}

TEST_F(ActivityDetailViewControllerTest, TheEntriesButtonOpensTheGalleryWithTheEvent) {
    UIStoryboard::registerScene(
        InformationScreens::kActivityStoryboard, InformationScreens::kProductionIdentifier,
        [](UIStoryboard&) -> Ref<UIViewController> { return make<GalleryStandIn>(); });
    auto activity = event(0, 0);
    auto detail = open(activity);
    ASSERT_TRUE(detail);
    UITestDriver::tap(detail->showBtn.lock());
    finishTransitions();
    auto gallery = std::dynamic_pointer_cast<GalleryStandIn>(navigation->topViewController());
    ASSERT_TRUE(gallery);
    EXPECT_EQ(gallery->activity_, activity);
}

TEST_F(ActivityDetailViewControllerTest, TheEntriesButtonOpensTheEventsGalleryOfTheStoryboard) {
    auto activity = fetchEvent(0);
    ASSERT_TRUE(activity);
    auto detail = open(activity);
    ASSERT_TRUE(detail);
    detail->appreciateButtonDidTouch(nullptr);
    finishTransitions();
    auto gallery = std::dynamic_pointer_cast<ProductionListsViewController>(navigation->topViewController());
    ASSERT_TRUE(gallery);
    EXPECT_EQ(gallery->activity(), activity);
}

TEST_F(ActivityDetailViewControllerTest, WithoutAGallerySceneTheEntriesButtonOpensNothing) {
    UIStoryboard::unregisterStoryboard(InformationScreens::kActivityStoryboard);
    InformationScenes::registerEventScenes();
    auto detail = open(event(0, 0));
    ASSERT_TRUE(detail);
    UITestDriver::tap(detail->showBtn.lock());
    finishTransitions();
    EXPECT_EQ(navigation->topViewController(), detail);
    EXPECT_FALSE(detail->presentedViewController());
}

TEST_F(ActivityDetailViewControllerTest, WithoutTheOtherAreasScenesTheJoinButtonOpensNothing) {
    UIStoryboard::unregisterStoryboard(QVNCarScreens::kStoryboard);
    UIStoryboard::unregisterStoryboard(QVNAccountScreens::kStoryboard);
    auto studioEvent = open(event(1, 0));
    ASSERT_TRUE(studioEvent);
    studioEvent->joinButtonDidTouch(nullptr);  // signed out, no login scene
    signIn(1);
    studioEvent->joinButtonDidTouch(nullptr);  // no studio
    finishTransitions();
    EXPECT_EQ(navigation->topViewController(), studioEvent);
    EXPECT_FALSE(studioEvent->presentedViewController());
}

TEST_F(ActivityDetailViewControllerTest, ARightSwipeGoesBack) {
    auto detail = open(event(0, 0));
    ASSERT_TRUE(detail);
    // Over the title bar (the page's own scrolling takes the swipes that start on it).
    UITestDriver::swipe(detail->view()->subviews().front(), UISwipeGestureRecognizerDirectionRight);
    finishTransitions();
    EXPECT_EQ(navigation->topViewController(), root);
}

// ---- the events web page ------------------------------------------------------------------------

TEST_F(ActivityDetailViewControllerTest, TheEventsPageLoadsUnderTheBarWithASpinnerForOneAndAHalfSeconds) {
    auto page = push<ActivvityHeaderViewController>(InformationScreens::kActivityHeaderIdentifier, nullptr);
    ASSERT_TRUE(page);
    auto web = page->acvityHesderWebview.lock();
    ASSERT_TRUE(web);
    const CGRect bounds = page->view()->bounds();
    EXPECT_EQ(web->frame(), CGRectMake(0, 44, bounds.size.width, bounds.size.height - 44));
    EXPECT_EQ(web->request()->URL()->absoluteString(),
              "http://" + QVNConfiguration::webHost() + "/extra/art1.html");
    ASSERT_TRUE(waitUntil([&] { return web->finishedLoadCount() == 1; }));
    EXPECT_FALSE(web->shownHTML().empty());
    EXPECT_EQ(page->hud()->mode(), VHProgressHUDModeSpinner);
    EXPECT_TRUE(hudShowing(page->hud()));
    clock.advance(1.3);
    EXPECT_TRUE(hudShowing(page->hud()));
    clock.advance(0.5);
    EXPECT_FALSE(hudShowing(page->hud()));
    EXPECT_EQ(page->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
    EXPECT_EQ(page->preferredInterfaceOrientationForPresentation(), UIInterfaceOrientationPortrait);
    EXPECT_EQ(page->preferredStatusBarStyle(), UIStatusBarStyleLightContent);
}

TEST_F(ActivityDetailViewControllerTest, TheEventsPageReloadsOnReturnInOneWebView) {
    auto page = push<ActivvityHeaderViewController>(InformationScreens::kActivityHeaderIdentifier, nullptr);
    ASSERT_TRUE(page);
    auto first = page->acvityHesderWebview.lock();
    auto cover = make<UIViewController>();
    navigation->pushViewController(cover, false);
    finishTransitions();
    navigation->popViewControllerAnimated(false);
    finishTransitions();
    auto second = page->acvityHesderWebview.lock();
    ASSERT_TRUE(second);
    EXPECT_NE(first, second);
    ASSERT_TRUE(waitUntil([&] { return second->finishedLoadCount() == 1; }));
    long webViews = 0;
    for (const auto& subview : page->view()->subviews())
        if (std::dynamic_pointer_cast<UIWebView>(subview)) ++webViews;
    EXPECT_EQ(webViews, 1);
    page->popController(nullptr);
    finishTransitions();
    EXPECT_EQ(navigation->topViewController(), root);
}

}  // namespace
