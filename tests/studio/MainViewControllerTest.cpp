// The home screen: its first page, the tab switches with their fade and strip, swipes, the
// other screens it opens (own page, login, camera, studio with the slide-in), the return of the
// same page after a pushed screen, the first-launch guide and the unread dot.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "account/UserViewController.h"
#include "app/QVNNavigationController.h"
#include "app/UIColor+Extensions.h"
#include "foundation/NSUserDefaults.h"
#include "studio/HomeStandInPages.h"
#include "studio/MainViewController.h"
#include "studio/QVNTransitionAnimator.h"
#include "tests/studio/MainViewControllerTestSupport.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UIWindowRenderer.h"

using namespace hometest;

namespace {

// The studio as the home screen sees it: the "Car" storyboard's first screen.
class StudioStandIn : public UIViewController {
  public:
    std::string className() const override { return "StudioStandIn"; }
};

class MainViewControllerTest : public HomeScreenTest {
  protected:
    void SetUp() override {
        HomeScreenTest::SetUp();
        registerInformationPage();
        UIStoryboard::registerStoryboard("Car", std::string("StudioStandIn"));
        UIStoryboard::registerScene("Car", "StudioStandIn", [](UIStoryboard&) -> Ref<UIViewController> {
            return make<StudioStandIn>();
        });
    }

    Ref<UIButton> tab(const Weak<UIButton>& button) { return button.lock(); }
    bool isAccent(const Weak<UIButton>& button) {
        auto colour = button.lock()->titleColorForState(UIControlStateNormal);
        return colour && colour->isEqual(*UIColor_Extensions::QVNRedColor());
    }
    bool isWhite(const Weak<UIButton>& button) {
        auto colour = button.lock()->titleColorForState(UIControlStateNormal);
        return colour && colour->isEqual(*UIColor::whiteColor());
    }
    std::string title() { return home->labTitle.lock()->text().value_or(""); }

    // The studio's plain stand-in page (a title on a ground) in place of the information tab.
    void useStandInInformationPage() {
        UIStoryboard::unregisterStoryboard(QVNInformationStoryboard);
        HomeStandInPages::registerScenes();
    }
    Ref<InformationPage> informationPage() {
        return std::dynamic_pointer_cast<InformationPage>(home->informationRootViewController());
    }
};

}  // namespace

TEST_F(MainViewControllerTest, TheFirstAppearanceShowsTheInformationPage) {
    launch();
    EXPECT_TRUE(navigation->isNavigationBarHidden());
    auto page = std::dynamic_pointer_cast<InformationPage>(home->currentChildViewController());
    ASSERT_TRUE(page);
    EXPECT_EQ(page, home->informationRootViewController());
    EXPECT_EQ(page->delegate().get(), static_cast<InformationRootViewControllerDelegate*>(home.get()));
    EXPECT_EQ(page->refreshCount(), 1);
    EXPECT_EQ(page->view()->superview(), home->viewContainer.lock());
    EXPECT_TRUE(CGRectEqualToRect(page->view()->frame(), home->viewContainer.lock()->bounds()));
    EXPECT_EQ(page->parentViewController(), home);
    EXPECT_EQ(title(), "汽车资讯");
    EXPECT_TRUE(isAccent(home->btnNews));
    EXPECT_TRUE(isWhite(home->btnRizur));
    ASSERT_EQ(home->topButtons().size(), 2u);
    EXPECT_EQ(home->topButtons()[0], home->btnNews.lock());
    EXPECT_EQ(home->topButtons()[1], home->btnRizur.lock());
    EXPECT_EQ(home->preferredStatusBarStyle(), UIStatusBarStyleLightContent);
    EXPECT_FALSE(home->shouldAutorotate());
}

TEST_F(MainViewControllerTest, TheIndicatorIsTwiceTheHeaderWideAndSlidesUnderTheTappedTab) {
    launch();
    auto header = home->headerContainer.lock();
    auto indicator = home->buttonIndicator.lock();
    ASSERT_TRUE(indicator);
    EXPECT_EQ(indicator->superview(), header);
    EXPECT_FALSE(indicator->translatesAutoresizingMaskIntoConstraints());
    settle();
    EXPECT_NEAR(indicator->frame().size.width, header->bounds().size.width * 2, 0.5);
    EXPECT_NEAR(indicator->frame().size.height, header->bounds().size.height * 0.13, 0.5);

    auto rizur = tab(home->btnRizur);
    UITestDriver::tap(rizur);
    CGFloat screenWidth = UIScreen::mainScreen()->bounds().size.width;
    EXPECT_NEAR(home->buttonIndicatorLeftConstraint.lock()->constant(), rizur->center().x - screenWidth,
                1e-6);
    clock.advance(0.3);
    // The strip's middle is under the tab's centre.
    EXPECT_NEAR(CGRectGetMidX(indicator->frame()), rizur->center().x, 0.5);
}

TEST_F(MainViewControllerTest, ATabSwitchFadesTheNewPageInAndKeepsTheOldCurrentUntilItEnds) {
    launch();
    auto information = home->currentChildViewController();
    UITestDriver::tap(tab(home->btnRizur));
    EXPECT_EQ(title(), "分享问题");
    EXPECT_TRUE(isAccent(home->btnRizur));
    EXPECT_TRUE(isWhite(home->btnNews));
    auto rizur = home->rizUrListViewController();
    ASSERT_TRUE(isQuestionsPage(rizur));
    EXPECT_EQ(home->currentChildViewController(), information);
    clock.advance(0.15);
    EXPECT_EQ(home->currentChildViewController(), rizur);
    EXPECT_EQ(rizur->view()->alpha(), 1.0);
    EXPECT_FALSE(information->parentViewController());
    EXPECT_FALSE(information->view()->superview());
    EXPECT_EQ(home->childViewControllers().size(), 1u);
}

TEST_F(MainViewControllerTest, VideosAndEventsLeaveTheTopTabsColoursButMarkTheirOwn) {
    launch();
    UITestDriver::tap(tab(home->btnRizur));
    clock.advance(0.2);
    UITestDriver::tap(tab(home->btnVideos));
    clock.advance(0.2);
    ASSERT_TRUE(home->currentChildViewController());
    EXPECT_EQ(home->currentChildViewController(), home->videosViewController());
    EXPECT_EQ(title(), "最新视频");
    EXPECT_TRUE(isAccent(home->btnVideos));
    EXPECT_TRUE(isWhite(home->btnRizur));
    UITestDriver::tap(tab(home->btnActivity));
    clock.advance(0.2);
    ASSERT_TRUE(home->currentChildViewController());
    EXPECT_EQ(home->currentChildViewController(), home->activityListViewController());
    EXPECT_EQ(title(), "参与改装");
    // Outside the top tabs nobody resets the videos tab.
    EXPECT_TRUE(isAccent(home->btnVideos));
}

TEST_F(MainViewControllerTest, TappingTheCurrentTabKeepsThePageButRefreshesInformation) {
    launch();
    auto page = informationPage();
    ASSERT_TRUE(page);
    UITestDriver::tap(tab(home->btnNews));
    clock.advance(0.2);
    EXPECT_EQ(home->currentChildViewController(), page);
    EXPECT_EQ(page->refreshCount(), 2);
    EXPECT_EQ(home->childViewControllers().size(), 1u);
}

TEST_F(MainViewControllerTest, PagesAreMadeOnceAndKept) {
    launch();
    UITestDriver::tap(tab(home->btnRizur));
    clock.advance(0.2);
    auto rizur = home->rizUrListViewController();
    UITestDriver::tap(tab(home->btnNews));
    clock.advance(0.2);
    UITestDriver::tap(tab(home->btnRizur));
    clock.advance(0.2);
    EXPECT_EQ(home->rizUrListViewController(), rizur);
    EXPECT_EQ(home->currentChildViewController(), rizur);
}

TEST_F(MainViewControllerTest, OverlappingSwitchesEndOnTheLastPageAskedFor) {
    launch();
    UITestDriver::tap(tab(home->btnRizur));
    UITestDriver::tap(tab(home->btnVideos));
    UITestDriver::tap(tab(home->btnActivity));
    clock.advance(0.5);
    ASSERT_TRUE(home->currentChildViewController());
    EXPECT_EQ(home->currentChildViewController(), home->activityListViewController());
    EXPECT_EQ(home->childViewControllers().size(), 1u);
    auto container = home->viewContainer.lock();
    ASSERT_EQ(container->subviews().size(), 1u);
    EXPECT_EQ(container->subviews()[0], home->currentChildViewController()->view());
    EXPECT_EQ(title(), "参与改装");
}

TEST_F(MainViewControllerTest, SwipesFlipBetweenTheFirstTwoPagesOnly) {
    launch();
    auto root = home->view();
    UITestDriver::swipe(root, UISwipeGestureRecognizerDirectionLeft);
    clock.advance(0.2);
    EXPECT_TRUE(isQuestionsPage(home->currentChildViewController()));
    UITestDriver::swipe(root, UISwipeGestureRecognizerDirectionLeft);
    clock.advance(0.2);
    EXPECT_TRUE(std::dynamic_pointer_cast<InformationPage>(home->currentChildViewController()));
    UITestDriver::swipe(root, UISwipeGestureRecognizerDirectionRight);
    clock.advance(0.2);
    EXPECT_TRUE(isQuestionsPage(home->currentChildViewController()));

    UITestDriver::tap(tab(home->btnVideos));
    clock.advance(0.2);
    auto videos = home->currentChildViewController();
    UITestDriver::swipe(root, UISwipeGestureRecognizerDirectionLeft);
    UITestDriver::swipe(root, UISwipeGestureRecognizerDirectionRight);
    clock.advance(0.2);
    EXPECT_EQ(home->currentChildViewController(), videos);
    EXPECT_EQ(title(), "最新视频");
}

TEST_F(MainViewControllerTest, ScrollingPastTheInformationPagesOpensQuestions) {
    launch();
    ASSERT_TRUE(informationPage());
    informationPage()->scrollPastLastPage();
    informationPage()->scrollPastLastPage();
    clock.advance(0.3);
    EXPECT_TRUE(isQuestionsPage(home->currentChildViewController()));
    EXPECT_EQ(title(), "分享问题");
}

TEST_F(MainViewControllerTest, APlainStandInPageInPlaceOfTheInformationTabIsShownAndSwipedLikeIt) {
    // Without the information area the studio's stand-in registers a page without the tab's
    // interface: nothing to set or refresh on it, the rest behaves the same.
    useStandInInformationPage();
    launch();
    auto page = home->currentChildViewController();
    ASSERT_TRUE(page);
    EXPECT_EQ(page, home->informationRootViewController());
    EXPECT_FALSE(std::dynamic_pointer_cast<QVNInformationScreens::InformationTab>(page));
    EXPECT_EQ(title(), "汽车资讯");
    UITestDriver::tap(tab(home->btnNews));
    clock.advance(0.2);
    EXPECT_EQ(home->currentChildViewController(), page);
    UITestDriver::swipe(home->view(), UISwipeGestureRecognizerDirectionLeft);
    clock.advance(0.2);
    EXPECT_TRUE(isQuestionsPage(home->currentChildViewController()));
    UITestDriver::swipe(home->view(), UISwipeGestureRecognizerDirectionLeft);
    clock.advance(0.2);
    EXPECT_EQ(home->currentChildViewController(), page);
}

TEST_F(MainViewControllerTest, SignedOutTheStudioButtonPushesTheLoginAndPresentsNothing) {
    launch();
    UITestDriver::tap(home->modifyEntranceButton.lock());
    clock.advance(0.6);
    EXPECT_FALSE(home->presentedViewController());
    EXPECT_EQ(navigation->topViewController()->className(), "LoginViewController");
    EXPECT_TRUE(window->backgroundColor()->isEqual(*UIColor::whiteColor()));
}

TEST_F(MainViewControllerTest, SignedInTheStudioSlidesInFromTheLeft) {
    signIn();
    launch();
    UITestDriver::tap(home->modifyEntranceButton.lock());
    auto studio = std::dynamic_pointer_cast<StudioStandIn>(home->presentedViewController());
    ASSERT_TRUE(studio);
    EXPECT_EQ(studio->transitioningDelegate().get(),
              static_cast<UIViewControllerTransitioningDelegate*>(home.get()));
    EXPECT_TRUE(std::dynamic_pointer_cast<QVNTransitionAnimator>(
        home->animationControllerForPresentedController(studio, home, home)));
    EXPECT_NE(home->animationControllerForPresentedController(studio, home, home),
              home->animationControllerForPresentedController(studio, home, home));
    clock.advance(0.25);
    EXPECT_NE(studio->appearanceState(), UIViewControllerAppearanceState::Appeared);
    clock.advance(0.3);
    EXPECT_EQ(studio->appearanceState(), UIViewControllerAppearanceState::Appeared);
    EXPECT_TRUE(CGRectEqualToRect(studio->view()->frame(), UIScreen::mainScreen()->bounds()));
    EXPECT_EQ(navigation->viewControllers().size(), 1u);

    // Dismissal uses the platform's own animation: the home screen comes back with its page.
    auto page = home->currentChildViewController();
    studio->dismissViewControllerAnimated(true);
    clock.advance(0.6);
    EXPECT_FALSE(home->presentedViewController());
    EXPECT_EQ(home->currentChildViewController(), page);
    EXPECT_EQ(page->view()->superview(), home->viewContainer.lock());
}

TEST_F(MainViewControllerTest, WithoutAStudioStoryboardTheButtonDoesNothing) {
    signIn();
    UIStoryboard::unregisterStoryboard("Car");
    launch();
    UITestDriver::tap(home->modifyEntranceButton.lock());
    clock.advance(0.6);
    EXPECT_FALSE(home->presentedViewController());
    EXPECT_EQ(navigation->viewControllers().size(), 1u);
}

TEST_F(MainViewControllerTest, TheCameraOpensSignedInOrOut) {
    launch();
    home->showCustomCameraVC(nullptr);
    clock.advance(0.6);
    EXPECT_EQ(navigation->topViewController()->className(), "QVNCustomCameryViewController");
    navigation->popViewControllerAnimated(false);
    settle();
    signIn();
    home->showCustomCameraVC(nullptr);
    clock.advance(0.6);
    EXPECT_EQ(navigation->topViewController()->className(), "QVNCustomCameryViewController");
}

TEST_F(MainViewControllerTest, TheOwnPageButtonOpensLoginOrTheUsersPage) {
    launch();
    UITestDriver::tap(home->btnMy.lock());
    clock.advance(0.6);
    EXPECT_EQ(navigation->topViewController()->className(), "LoginViewController");
    navigation->popViewControllerAnimated(false);
    settle();
    signIn();
    UITestDriver::tap(home->btnMy.lock());
    clock.advance(0.6);
    auto page = std::dynamic_pointer_cast<UserViewController>(navigation->topViewController());
    ASSERT_TRUE(page);
    ASSERT_TRUE(page->user());
    EXPECT_EQ(page->user()->user_nickname, server.users().at(0).user_nickname);
}

TEST_F(MainViewControllerTest, AfterAPushedScreenIsPoppedTheSamePageIsBack) {
    launch();
    UITestDriver::tap(tab(home->btnRizur));
    clock.advance(0.2);
    auto page = home->currentChildViewController();
    home->showCustomCameraVC(nullptr);
    clock.advance(0.6);
    EXPECT_FALSE(page->parentViewController());
    EXPECT_FALSE(page->view()->superview());
    EXPECT_EQ(home->rizUrListViewController(), page);
    navigation->popViewControllerAnimated(true);
    clock.advance(0.6);
    EXPECT_EQ(home->currentChildViewController(), page);
    EXPECT_EQ(page->parentViewController(), home);
    EXPECT_EQ(page->view()->superview(), home->viewContainer.lock());
    EXPECT_TRUE(navigation->isNavigationBarHidden());
}

TEST_F(MainViewControllerTest, TheGuideShowsOneSecondAfterTheFirstLaunchOnly) {
    launch(false);
    EXPECT_TRUE(NSUserDefaults::standardUserDefaults()->boolForKey("firstLanch"));
    clock.advance(0.9);
    EXPECT_FALSE(home->imageView());
    clock.advance(0.2);
    auto overlay = home->imageView();
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->superview(), home->view());
    EXPECT_TRUE(overlay->isUserInteractionEnabled());
    EXPECT_TRUE(CGRectEqualToRect(overlay->frame(), home->view()->frame()));
    ASSERT_EQ(overlay->subviews().size(), 1u);
    auto close = std::dynamic_pointer_cast<UIButton>(overlay->subviews()[0]);
    ASSERT_TRUE(close);
    CGSize size = home->view()->frame().size;
    EXPECT_TRUE(CGRectEqualToRect(close->frame(), CGRectMake(size.width / 5 * 3, size.height * 0.5, 97, 30)));

    // The overlay swallows touches meant for the tabs below.
    auto information = home->currentChildViewController();
    UITestDriver::tap(tab(home->btnRizur));
    clock.advance(0.2);
    EXPECT_EQ(home->currentChildViewController(), information);

    UITestDriver::tap(close);
    EXPECT_FALSE(home->imageView());
    EXPECT_FALSE(overlay->superview());
}

TEST_F(MainViewControllerTest, LeavingBeforeTheSecondMeansTheGuideIsNeverSeen) {
    launch(false);
    EXPECT_TRUE(NSUserDefaults::standardUserDefaults()->boolForKey("firstLanch"));
    Weak<MainViewController> weak = home;
    window->setRootViewController(nullptr);
    navigation.reset();
    home.reset();
    clock.advance(1.5);
    EXPECT_FALSE(weak.lock());
}

TEST_F(MainViewControllerTest, TheUnreadDotFollowsTheInboxAnswer) {
    // Held by the route too: the server may still answer a check while the test ends.
    auto unread = std::make_shared<std::atomic<int>>(1);
    server.routes().post("message/checkread.do", [unread](const devserver::Request&) {
        return devserver::Reply::success(Dictionary{{"unread", unread->load()}});
    });
    launch();
    ASSERT_TRUE(waitUntil([&] { return home->hasDotImage() && home->dotImage()->superview(); }));
    auto dot = home->dotImage();
    EXPECT_EQ(dot->superview(), home->btnMy.lock());
    EXPECT_TRUE(
        CGRectEqualToRect(dot->frame(), CGRectMake(home->btnMy.lock()->frame().size.width - 10, 0, 10, 10)));

    *unread = 0;
    home->checkread();
    ASSERT_TRUE(waitUntil([&] { return !dot->superview(); }));
}

TEST_F(MainViewControllerTest, AFailedUnreadCheckHidesTheDot) {
    server.routes().post("message/checkread.do", [](const devserver::Request&) {
        return devserver::Reply::success(Dictionary{{"unread", 1}});
    });
    launch();
    ASSERT_TRUE(waitUntil([&] { return home->hasDotImage() && home->dotImage()->superview(); }));
    devserver::RouteControl broken;
    broken.status = 500;
    server.setRouteControl("message/checkread.do", broken);
    home->checkread();
    ASSERT_TRUE(waitUntil([&] { return !home->dotImage()->superview(); }));
}

TEST_F(MainViewControllerTest, SignedInTheUnreadCheckCarriesTheToken) {
    signIn();
    server.clearRequests();
    launch();
    ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(5)));
    ASSERT_TRUE(waitUntil([&] { return !server.requestsTo("message/checkread.do").empty(); }));
    auto request = server.requestsTo("message/checkread.do").front();
    EXPECT_EQ(request.formParam("token"), QVNUserManager::shareObject()->currentUserToken());
}

namespace {

// The studio turns the interface to landscape, as the real one does.
class LandscapeStudioStandIn : public StudioStandIn {
  public:
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override {
        return UIInterfaceOrientationMaskLandscape;
    }
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override {
        return UIInterfaceOrientationLandscapeLeft;
    }
};

struct HomeLook {
    CGRect page;
    CGRect title;
    NSData picture;
};

}  // namespace

TEST_F(MainViewControllerTest, VisitsToTheLandscapeStudioLeaveTheHomeScreenAsItWas) {
    UIStoryboard::registerScene("Car", "StudioStandIn", [](UIStoryboard&) -> Ref<UIViewController> {
        return make<LandscapeStudioStandIn>();
    });
    // A page whose title keeps to the page's width.
    useStandInInformationPage();
    // Nothing unread: the unread dot, answered on its own time, must not change the pictures.
    server.routes().post("message/checkread.do", [](const devserver::Request&) {
        return devserver::Reply::success(Dictionary{{"unread", 0}});
    });
    signIn();
    launch();
    auto page = home->currentChildViewController();
    ASSERT_TRUE(page);
    auto look = [&] {
        settle();
        Ref<UIView> title;
        for (const auto& subview : page->view()->subviews()) {
            if (std::dynamic_pointer_cast<UILabel>(subview)) title = subview;
        }
        EXPECT_TRUE(title);
        auto picture = UIWindowRenderer::imageOfView(window, 1, true);
        return HomeLook{page->view()->frame(), title ? title->frame() : CGRect{},
                        picture ? picture->CGImage()->data() : NSData()};
    };
    const HomeLook before = look();
    const CGRect screen = UIScreen::mainScreen()->bounds();
    for (int visit = 1; visit <= 3; ++visit) {
        SCOPED_TRACE("visit " + std::to_string(visit));
        UITestDriver::tap(home->modifyEntranceButton.lock());
        clock.advance(0.6);
        auto studio = home->presentedViewController();
        ASSERT_TRUE(studio);
        EXPECT_GT(UIScreen::mainScreen()->bounds().size.width, UIScreen::mainScreen()->bounds().size.height);
        studio->dismissViewControllerAnimated(true);
        clock.advance(0.6);
        ASSERT_FALSE(home->presentedViewController());
        EXPECT_TRUE(CGRectEqualToRect(UIScreen::mainScreen()->bounds(), screen));
        EXPECT_EQ(home->currentChildViewController(), page);
        const HomeLook after = look();
        EXPECT_TRUE(CGRectEqualToRect(after.page, before.page))
            << NSStringFromCGRect(after.page) << " was " << NSStringFromCGRect(before.page);
        EXPECT_TRUE(CGRectEqualToRect(after.title, before.title))
            << NSStringFromCGRect(after.title) << " was " << NSStringFromCGRect(before.title);
        EXPECT_TRUE(after.picture == before.picture);
    }
}
