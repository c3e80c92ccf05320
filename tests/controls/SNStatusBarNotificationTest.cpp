// The status-bar notification overlay: styles, showing, dismissing (on request, timed and by
// animation type), progress, the activity indicator, the bounce, status-bar frame changes and the
// pass-through view controller, on the manual clock.

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "ControlsTestSupport.h"
#include "controls/ControlsTesting.h"
#include "controls/SNStatusBarNotification.h"
#include "controls/SNStatusBarNotificationViewController.h"
#include "controls/UIApplication+mainWindow.h"
#include "foundation/NSRunLoop.h"
#include "graphics/NSValue+Geometry.h"
#include "tests/support/MainLoop.h"
#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"
#include "uikit/UIViewController.h"

namespace {

class TurningController : public UIViewController {
  public:
    explicit TurningController(UIInterfaceOrientationMask mask) : mask_(mask) {}
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override { return mask_; }
    bool shouldAutorotate() const override { return false; }
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }

  private:
    UIInterfaceOrientationMask mask_;
};

class SNStatusBarNotificationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ControlsTesting::resetStatusBarNotification();
        UIScreen::mainScreen()->setBoundsSize(CGSizeMake(320, 568));
        UIApplication::sharedApplication()->setStatusBarHidden(false);
        appWindow = make<UIWindow>(CGRectMake(0, 0, 320, 568));
        appWindow->setRootViewController(make<UIViewController>());
        appWindow->makeKeyAndVisible();
    }
    void TearDown() override {
        ControlsTesting::resetStatusBarNotification();
        appWindow->setHidden(true);
        UIApplication::sharedApplication()->setStatusBarHidden(false);
        UIApplication::sharedApplication()->setStatusBarOrientation(UIInterfaceOrientationPortrait);
        UIScreen::mainScreen()->resetToConfiguration();
    }
    Ref<SNStatusBarNotification> shared() { return SNStatusBarNotification::sharedInstance(); }
    Ref<SNStatusBarView> bar() { return shared()->topBar(); }
    std::string addStyle(const std::string& name, const std::function<void(SNStatusBarStyle&)>& change) {
        return SNStatusBarNotification::addStyleNamed(name, [change](const Ref<SNStatusBarStyle>& style) {
            change(*style);
            return style;
        });
    }
    // Registers the style under the name and shows "x" in it.
    void showStyled(const std::string& name, const std::function<void(SNStatusBarStyle&)>& change) {
        addStyle(name, change);
        SNStatusBarNotification::showWithStatus("x", name);
    }
    void postStatusBarFrame(CGRect frame) {
        Dictionary info{
            {UIApplicationStatusBarFrameUserInfoKey, Value(NSValue_Geometry::valueWithCGRect(frame))}};
        NSNotificationCenter::defaultCenter()->postNotificationName(
            UIApplicationWillChangeStatusBarFrameNotification, nullptr, info);
    }

    testsupport::ManualClock clock;
    Ref<UIWindow> appWindow;
};

}  // namespace

// ---- styles ------------------------------------------------------------------------------------

TEST(SNStatusBarStyleTest, PredefinedStylesOverrideTheBase) {
    auto base = SNStatusBarStyle::defaultStyleWithName(SNStatusBarStyleDefault);
    ASSERT_TRUE(base);
    EXPECT_EQ(base->animationType(), SNStatusBarAnimationTypeMove);
    EXPECT_EQ(base->textShadow(), nullptr);
    auto warning = SNStatusBarStyle::defaultStyleWithName(SNStatusBarStyleWarning);
    EXPECT_EQ(warning->progressBarColor(), warning->textColor()) << "the warning bar takes its text colour";
    auto success = SNStatusBarStyle::defaultStyleWithName(SNStatusBarStyleSuccess);
    EXPECT_DOUBLE_EQ(success->progressBarHeight(), 1 + 1 / UIScreen::mainScreen()->scale());
    auto matrix = SNStatusBarStyle::defaultStyleWithName(SNStatusBarStyleMatrix);
    EXPECT_EQ(matrix->font()->fontName(), "Courier-Bold");
    EXPECT_EQ(matrix->animationType(), SNStatusBarAnimationTypeMove);
    EXPECT_EQ(SNStatusBarStyle::defaultStyleWithName("SNStatusBarStyleNeon"), nullptr);
    EXPECT_EQ(
        SNStatusBarStyle::allDefaultStyleIdentifier(),
        (std::vector<std::string>{SNStatusBarStyleError, SNStatusBarStyleWarning, SNStatusBarStyleSuccess,
                                  SNStatusBarStyleMatrix, SNStatusBarStyleDark}));
}

TEST(SNStatusBarStyleTest, CopiesShareTheirObjects) {
    auto style = SNStatusBarStyle::defaultStyleWithName(SNStatusBarStyleError);
    style->setTextShadow(make<NSShadow>());
    style->setTextVerticalPositionAdjustment(2);
    auto copy = style->copy();
    EXPECT_NE(copy, style);
    EXPECT_EQ(std::tuple(copy->barColor(), copy->textShadow(), copy->font(), copy->animationType()),
              std::tuple(style->barColor(), style->textShadow(), style->font(), style->animationType()));
    EXPECT_EQ(copy->progressBarHeight(), 2);
    EXPECT_EQ(copy->textVerticalPositionAdjustment(), 2);
}

// ---- showing -----------------------------------------------------------------------------------

TEST_F(SNStatusBarNotificationTest, ShowingPutsTheBarInAWindowOfItsOwn) {
    auto shown = SNStatusBarNotification::showWithStatus("Saved");
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown, bar());
    EXPECT_TRUE(SNStatusBarNotification::isVisible());
    auto window = shared()->overlayWindow();
    EXPECT_FALSE(window->isHidden());
    EXPECT_EQ(window->windowLevel(), UIWindowLevelStatusBar);
    EXPECT_FALSE(window->isUserInteractionEnabled());
    EXPECT_TRUE(isKindOf<SNStatusBarNotificationViewController>(window->rootViewController()));
    EXPECT_EQ(bar()->superview(), window->rootViewController()->view());
    EXPECT_EQ(bar()->frame(), CGRectMake(0, 0, 320, 20));
    EXPECT_EQ(bar()->textLabel()->text(), "Saved");
    EXPECT_EQ(bar()->textLabel()->accessibilityLabel(), "Saved");
    EXPECT_TRUE(bar()->textLabel()->textColor()->isEqual(*UIColor::grayColor()));
    EXPECT_TRUE(bar()->backgroundColor()->isEqual(*UIColor::whiteColor()));
    // Slides down from above in 0.4 s.
    auto slide = asKind<CABasicAnimation>(bar()->layer()->animationForKey("transform"));
    ASSERT_TRUE(slide);
    EXPECT_DOUBLE_EQ(slide->duration(), 0.4);
    EXPECT_EQ(CATransform3DGetAffineTransform(
                  NSValue_CATransform3D::CATransform3DValue(slide->fromValue().objectAs<NSValue>()))
                  .ty,
              -20);
    EXPECT_EQ(bar()->transform().ty, 0);
    EXPECT_EQ(SNStatusBarNotification::sharedInstance(), shared());

    // Nothing shows while the status bar is hidden.
    SNStatusBarNotification::dismissAnimated(false);
    UIApplication::sharedApplication()->setStatusBarHidden(true);
    EXPECT_EQ(SNStatusBarNotification::showWithStatus("x"), nullptr);
    EXPECT_FALSE(SNStatusBarNotification::isVisible());
    EXPECT_FALSE(shared()->hasOverlayWindow());
}

TEST_F(SNStatusBarNotificationTest, NamedStylesAndTheFallbackToTheDefault) {
    SNStatusBarNotification::showWithStatus("e", SNStatusBarStyleError);
    EXPECT_TRUE(bar()->backgroundColor()->isEqual(*UIColor::colorWithRed(0.588, 0.118, 0.0, 1.0)));
    EXPECT_EQ(shared()->activeStyle(), shared()->userStyles().at(SNStatusBarStyleError));
    SNStatusBarNotification::showWithStatus("u", std::string("unknown"));
    EXPECT_EQ(shared()->activeStyle(), shared()->defaultStyle());
    SNStatusBarNotification::showWithStatus("m", SNStatusBarStyleMatrix);
    EXPECT_EQ(bar()->textLabel()->font()->fontName(), "Courier-Bold");
    SNStatusBarNotification::showWithStatus("n", std::nullopt);
    EXPECT_EQ(shared()->activeStyle(), shared()->defaultStyle());
    // Registered styles replace predefined ones.
    addStyle(SNStatusBarStyleError, [](SNStatusBarStyle& s) { s.setBarColor(UIColor::blueColor()); });
    SNStatusBarNotification::showWithStatus("e", SNStatusBarStyleError);
    EXPECT_TRUE(bar()->backgroundColor()->isEqual(*UIColor::blueColor()));
}

TEST_F(SNStatusBarNotificationTest, TextShadowComesAndGoesWithTheStyle) {
    auto shadow = make<NSShadow>();
    shadow->setShadowColor(UIColor::redColor());
    shadow->setShadowOffset(CGSizeMake(1, 2));
    showStyled("shadowed", [&](SNStatusBarStyle& s) {
        s.setTextShadow(shadow);
        s.setTextVerticalPositionAdjustment(3);
    });
    EXPECT_TRUE(bar()->textLabel()->shadowColor()->isEqual(*UIColor::redColor()));
    EXPECT_EQ(bar()->textLabel()->shadowOffset(), CGSizeMake(1, 2));
    EXPECT_EQ(bar()->textVerticalPositionAdjustment(), 3);
    bar()->layoutIfNeeded();
    EXPECT_EQ(bar()->textLabel()->frame(), CGRectMake(0, 4, 320, 19));
    SNStatusBarNotification::showWithStatus("plain");
    EXPECT_EQ(bar()->textLabel()->shadowOffset(), CGSizeZero);
}

TEST_F(SNStatusBarNotificationTest, PrepareCallbacksReceiveCopiesOfTheDefault) {
    Ref<SNStatusBarStyle> seen;
    auto before = shared()->defaultStyle();
    SNStatusBarNotification::setDefaultStyle([&](const Ref<SNStatusBarStyle>& style) {
        seen = style;
        style->setBarColor(UIColor::blackColor());
        return style;
    });
    EXPECT_NE(seen, before);
    EXPECT_EQ(shared()->defaultStyle(), seen);
    EXPECT_EQ(SNStatusBarNotification::addStyleNamed("mine",
                                                     [&](const Ref<SNStatusBarStyle>& style) {
                                                         EXPECT_NE(style, seen);
                                                         EXPECT_TRUE(style->barColor()->isEqual(
                                                             *UIColor::blackColor()));
                                                         return style;
                                                     }),
              "mine");
    EXPECT_TRUE(shared()->userStyles().count("mine"));
}

// ---- dismissing --------------------------------------------------------------------------------

TEST_F(SNStatusBarNotificationTest, AnimatedDismissalSlidesUpThenReleasesEverything) {
    SNStatusBarNotification::showWithStatus("x");
    clock.advance(0.5);
    SNStatusBarNotification::showProgress(0.5);
    SNStatusBarNotification::dismiss();
    EXPECT_EQ(bar()->transform().ty, -20);
    EXPECT_TRUE(SNStatusBarNotification::isVisible());
    auto window = shared()->overlayWindow();
    clock.advance(0.41);
    EXPECT_FALSE(SNStatusBarNotification::isVisible());
    EXPECT_FALSE(shared()->hasOverlayWindow());
    EXPECT_FALSE(shared()->hasProgressView());
    EXPECT_TRUE(window->isHidden());
    EXPECT_EQ(window->rootViewController(), nullptr);
    // The next show builds anew.
    SNStatusBarNotification::showWithStatus("y");
    EXPECT_NE(shared()->overlayWindow(), window);
}

TEST_F(SNStatusBarNotificationTest, UnanimatedOrTypeNoneDismissalsCompleteAtOnce) {
    SNStatusBarNotification::showWithStatus("x");
    SNStatusBarNotification::dismissAnimated(false);
    EXPECT_FALSE(SNStatusBarNotification::isVisible());
    showStyled("still", [](SNStatusBarStyle& s) { s.setAnimationType(SNStatusBarAnimationTypeNone); });
    EXPECT_EQ(bar()->transform().ty, 0);
    EXPECT_EQ(bar()->layer()->animationCount(), 0u);
    SNStatusBarNotification::dismiss();
    EXPECT_FALSE(SNStatusBarNotification::isVisible());
}

TEST_F(SNStatusBarNotificationTest, FadingStylesFadeInAndOut) {
    showStyled("fade", [](SNStatusBarStyle& s) { s.setAnimationType(SNStatusBarAnimationTypeFade); });
    EXPECT_EQ(bar()->transform().ty, 0);
    EXPECT_EQ(bar()->alpha(), 1);
    auto fade = asKind<CABasicAnimation>(bar()->layer()->animationForKey("opacity"));
    ASSERT_TRUE(fade);
    EXPECT_EQ(fade->fromValue().doubleValue(), 0);
    clock.advance(0.5);
    SNStatusBarNotification::dismiss();
    EXPECT_EQ(bar()->alpha(), 0);
    EXPECT_EQ(bar()->transform().ty, 0);
    clock.advance(0.41);
    EXPECT_FALSE(SNStatusBarNotification::isVisible());
}

TEST_F(SNStatusBarNotificationTest, TimedDismissalAlsoFiresWhileTheUserScrolls) {
    SNStatusBarNotification::showWithStatus("x", 2.0);
    ASSERT_TRUE(shared()->dismissTimer());
    clock.advance(1.99);
    EXPECT_TRUE(SNStatusBarNotification::isVisible());
    clock.advance(0.02);
    clock.advance(0.41);
    EXPECT_FALSE(SNStatusBarNotification::isVisible());
    EXPECT_EQ(shared()->dismissTimer(), nullptr);
    SNStatusBarNotification::showWithStatus("x", 1.0, SNStatusBarStyleDark);
    clock.advance(1.5, UITrackingRunLoopMode);
    EXPECT_FALSE(SNStatusBarNotification::isVisible());
}

TEST_F(SNStatusBarNotificationTest, ALaterMessageIsNotEndedByAnEarlierTimer) {
    SNStatusBarNotification::showWithStatus("first", 1.0);
    clock.advance(0.5);
    SNStatusBarNotification::showWithStatus("second");
    EXPECT_EQ(shared()->dismissTimer(), nullptr);
    clock.advance(3);
    EXPECT_TRUE(SNStatusBarNotification::isVisible());
    EXPECT_EQ(bar()->textLabel()->text(), "second");
    // A later timed message sets its own timer.
    SNStatusBarNotification::showWithStatus("third", 1.0);
    clock.advance(1.5);
    EXPECT_FALSE(SNStatusBarNotification::isVisible());
}

TEST_F(SNStatusBarNotificationTest, DismissAfterReplacesTheTimer) {
    SNStatusBarNotification::showWithStatus("x");
    SNStatusBarNotification::dismissAfter(1);
    auto first = shared()->dismissTimer();
    SNStatusBarNotification::dismissAfter(3);
    EXPECT_FALSE(first->isValid());
    clock.advance(2);
    EXPECT_TRUE(SNStatusBarNotification::isVisible());
    clock.advance(1.5);
    EXPECT_FALSE(SNStatusBarNotification::isVisible());
}

// ---- the bounce --------------------------------------------------------------------------------

TEST_F(SNStatusBarNotificationTest, BounceStylesDropInWithAKeyframeBounce) {
    showStyled("bounce", [](SNStatusBarStyle& s) { s.setAnimationType(SNStatusBarAnimationTypeBounce); });
    auto bounce = asKind<CAKeyframeAnimation>(bar()->layer()->animationForKey("SNBounceAnimation"));
    ASSERT_TRUE(bounce);
    EXPECT_EQ(
        std::tuple(bounce->keyPath(), bounce->duration(), bounce->isRemovedOnCompletion(), bounce->fillMode(),
                   bounce->timingFunction()->name()),
        std::tuple(std::string("transform"), 0.66, false, kCAFillModeForwards, kCAMediaTimingFunctionLinear));
    ASSERT_EQ(bounce->values().size(), 100u);
    auto offsetAt = [&](int i) {
        return NSValue_CATransform3D::CATransform3DValue(bounce->values()[i].objectAs<NSValue>()).m42;
    };
    EXPECT_NEAR(offsetAt(0), 20 * 7.5625 * 0.0001 - 20, 1e-4);
    EXPECT_NEAR(offsetAt(99), 0, 1e-4);
    EXPECT_NEAR(offsetAt(49), 20 * (7.5625 * std::pow(0.5 - 1.5 / 2.75, 2) + 0.75) - 20, 1e-3);
    clock.advance(0.67);
    EXPECT_EQ(bar()->transform().ty, 0);
    EXPECT_EQ(bar()->layer()->animationCount(), 0u);
    // Shown again while down: no second bounce, the text changes in place.
    SNStatusBarNotification::showWithStatus("y", std::string("bounce"));
    EXPECT_FALSE(bar()->layer()->animationForKey("SNBounceAnimation"));
    EXPECT_EQ(bar()->textLabel()->text(), "y");
}

// ---- progress ----------------------------------------------------------------------------------

TEST_F(SNStatusBarNotificationTest, ProgressIsClampedAndIgnoredWithoutABar) {
    SNStatusBarNotification::showProgress(0.5);
    EXPECT_EQ(shared()->progress(), 0);
    EXPECT_FALSE(shared()->hasProgressView());
    SNStatusBarNotification::showWithStatus("x");
    SNStatusBarNotification::showProgress(1.5);
    EXPECT_EQ(shared()->progress(), 1);
    auto view = shared()->progressView();
    EXPECT_EQ(view->frame(), CGRectMake(0, 19, 320, 1));
    EXPECT_EQ(view->superview(), bar());
    EXPECT_TRUE(view->backgroundColor()->isEqual(*UIColor::greenColor()));
    SNStatusBarNotification::showProgress(-0.2);
    EXPECT_EQ(shared()->progress(), 0);
    EXPECT_EQ(view->frame(), CGRectZero);
}

TEST_F(SNStatusBarNotificationTest, ProgressWidthRoundsAndAnimatesAfterTheFirstStepBelowTheText) {
    SNStatusBarNotification::showWithStatus("x");
    clock.advance(0.5);
    SNStatusBarNotification::showProgress(0.3333);
    auto view = shared()->progressView();
    EXPECT_EQ(view->frame().size.width, 107);
    EXPECT_EQ(view->layer()->animationCount(), 0u) << "from nothing: at once";
    SNStatusBarNotification::showProgress(0.5);
    EXPECT_EQ(view->frame().size.width, 160);
    EXPECT_GT(view->layer()->animationCount(), 0u);
    clock.advance(0.06);
    EXPECT_EQ(view->layer()->animationCount(), 0u);
    // The progress sits below the text.
    const auto& subviews = bar()->subviews();
    auto progress = std::find(subviews.begin(), subviews.end(), shared()->progressView());
    auto label = std::find(subviews.begin(), subviews.end(), bar()->textLabel());
    EXPECT_LT(progress, label);
}

TEST_F(SNStatusBarNotificationTest, ProgressBarThicknessLimits) {
    showStyled("thin", [](SNStatusBarStyle& s) { s.setProgressBarHeight(0.2); });
    SNStatusBarNotification::showProgress(1);
    EXPECT_EQ(shared()->progressView()->frame().size.height, 0.5);

    showStyled("full", [](SNStatusBarStyle& s) { s.setProgressBarHeight(20); });
    shared()->updateTopBarFrameWithStatusBarFrame(CGRectMake(0, 0, 320, 40));
    EXPECT_EQ(bar()->frame(), CGRectMake(0, -20, 320, 40));
    SNStatusBarNotification::showProgress(1);
    EXPECT_EQ(shared()->progressView()->frame(), CGRectMake(0, 0, 320, 40));

    showStyled("thick", [](SNStatusBarStyle& s) { s.setProgressBarHeight(90); });
    SNStatusBarNotification::showProgress(1);
    EXPECT_EQ(shared()->progressView()->frame().size.height, 40) << "limited to the bar";
}

TEST_F(SNStatusBarNotificationTest, ProgressBarPositions) {
    auto frameFor = [&](SNStatusBarProgressBarPosition position) {
        showStyled("p" + std::to_string(position), [&](SNStatusBarStyle& s) {
            s.setProgressBarPosition(position);
            s.setProgressBarHeight(4);
        });
        SNStatusBarNotification::showProgress(0);
        SNStatusBarNotification::showProgress(0.5);
        return shared()->progressView()->frame();
    };
    EXPECT_EQ(frameFor(SNStatusBarProgressBarPositionBottom), CGRectMake(0, 16, 160, 4));
    EXPECT_EQ(frameFor(SNStatusBarProgressBarPositionCenter), CGRectMake(0, 8, 160, 4));
    EXPECT_EQ(frameFor(SNStatusBarProgressBarPositionTop), CGRectMake(0, 0, 160, 4));
    EXPECT_EQ(shared()->progressView()->superview(), bar());
    EXPECT_EQ(frameFor(SNStatusBarProgressBarPositionBelow), CGRectMake(0, 20, 160, 4));
    EXPECT_EQ(shared()->progressView()->superview(), bar()->superview());
    EXPECT_EQ(frameFor(SNStatusBarProgressBarPositionNavBar), CGRectMake(0, 64, 160, 4));
    UIApplication::sharedApplication()->setStatusBarOrientation(UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(frameFor(SNStatusBarProgressBarPositionNavBar).origin.y, 52);
    EXPECT_EQ(frameFor(9).origin.y, 0) << "unknown positions take the bar's own origin";
}

// ---- activity indicator ------------------------------------------------------------------------

TEST_F(SNStatusBarNotificationTest, ActivityIndicatorSitsLeftOfTheText) {
    SNStatusBarNotification::showActivityIndicator(true,
                                                   UIActivityIndicatorViewStyleGray);  // no bar: ignored
    SNStatusBarNotification::showWithStatus("ABCDEFGHIJ");  // 60 x 14.4 in the 12-point font
    EXPECT_FALSE(bar()->activityIndicatorView()->isAnimating());
    SNStatusBarNotification::showActivityIndicator(true, UIActivityIndicatorViewStyleGray);
    auto indicator = bar()->activityIndicatorView();
    EXPECT_TRUE(indicator->isAnimating());
    EXPECT_FALSE(indicator->isHidden());
    EXPECT_EQ(indicator->activityIndicatorViewStyle(), UIActivityIndicatorViewStyleGray);
    bar()->setNeedsLayout();
    bar()->layoutIfNeeded();
    // 20 points scaled to 0.7; y = ceil((20 - 14) / 2 + 1).
    EXPECT_EQ(indicator->frame(), CGRectMake(130 - 14 - 8, 4, 14, 14));
    SNStatusBarNotification::showActivityIndicator(false, UIActivityIndicatorViewStyleGray);
    EXPECT_FALSE(indicator->isAnimating());
    EXPECT_TRUE(indicator->isHidden());
    // A new message hides it again.
    SNStatusBarNotification::showActivityIndicator(true, UIActivityIndicatorViewStyleWhite);
    SNStatusBarNotification::showWithStatus("y");
    EXPECT_FALSE(indicator->isAnimating());
}

// ---- frames and windows ------------------------------------------------------------------------

TEST_F(SNStatusBarNotificationTest, StatusBarFrameChangesMoveTheBarOnlyWhenShown) {
    shared();
    postStatusBarFrame(CGRectMake(0, 0, 320, 40));
    clock.advance(0.5);
    EXPECT_FALSE(SNStatusBarNotification::isVisible());
    EXPECT_FALSE(shared()->hasOverlayWindow());

    SNStatusBarNotification::showWithStatus("x");
    SNStatusBarNotification::showProgress(1);
    postStatusBarFrame(CGRectMake(0, 0, 320, 40));
    EXPECT_EQ(bar()->frame(), CGRectMake(0, -20, 320, 40));
    EXPECT_EQ(shared()->progressView()->frame(), CGRectMake(0, 39, 320, 1));
    clock.advance(0.5);
    EXPECT_EQ(bar()->frame(), CGRectMake(0, -20, 320, 40));
    // A status bar frame of either shape.
    shared()->updateTopBarFrameWithStatusBarFrame(CGRectMake(0, 0, 20, 568));  // turned sideways
    EXPECT_EQ(bar()->frame(), CGRectMake(0, 0, 568, 20));
}

TEST_F(SNStatusBarNotificationTest, TheOverlayFollowsTheMainWindowsGeometry) {
    appWindow->setTransform(CGAffineTransformMakeRotation(M_PI / 2));
    SNStatusBarNotification::showWithStatus("x");
    auto window = shared()->overlayWindow();
    EXPECT_NEAR(window->transform().b, 1, 1e-9);
    EXPECT_EQ(window->frame(), appWindow->frame());
    appWindow->setTransform(CGAffineTransformIdentity);
}

TEST_F(SNStatusBarNotificationTest, MainWindowIgnoresTheGivenAndHiddenWindows) {
    auto app = UIApplication::sharedApplication();
    auto overlay = make<UIWindow>(CGRectMake(0, 0, 320, 20));
    overlay->setWindowLevel(UIWindowLevelStatusBar);
    overlay->setHidden(false);
    auto hidden = make<UIWindow>(CGRectMake(0, 0, 10, 10));
    EXPECT_EQ(UIApplication_mainWindow::mainApplicationWindowIgnoringWindow(app, overlay), appWindow);
    EXPECT_EQ(UIApplication_mainWindow::mainApplicationWindowIgnoringWindow(app, appWindow), overlay);
    appWindow->setHidden(true);
    overlay->setHidden(true);
    EXPECT_EQ(UIApplication_mainWindow::mainApplicationWindowIgnoringWindow(app, nullptr), nullptr);
    appWindow->makeKeyAndVisible();
}

TEST_F(SNStatusBarNotificationTest, TheOverlayControllerDefersToTheAppsFrontmostController) {
    auto root = make<TurningController>(UIInterfaceOrientationMaskPortrait);
    appWindow->setRootViewController(root);
    auto presented = make<TurningController>(UIInterfaceOrientationMaskLandscape);
    root->presentViewController(presented, false);
    clock.advance(0.1);
    SNStatusBarNotification::showWithStatus("x");
    auto controller =
        asKind<SNStatusBarNotificationViewController>(shared()->overlayWindow()->rootViewController());
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->mainController(), presented);
    EXPECT_EQ(controller->supportedInterfaceOrientations(), UIInterfaceOrientationMaskLandscape);
    EXPECT_FALSE(controller->shouldAutorotate());
    EXPECT_FALSE(controller->prefersStatusBarHidden());
    ASSERT_FALSE(SNStatusBarNotificationViewController::viewControllerBasedStatusBarAppearance());
    UIApplication::sharedApplication()->setStatusBarStyle(UIStatusBarStyleLightContent);
    EXPECT_EQ(controller->preferredStatusBarStyle(), UIStatusBarStyleLightContent);
    UIApplication::sharedApplication()->setStatusBarStyle(UIStatusBarStyleDefault);
    EXPECT_EQ(controller->preferredStatusBarStyle(), UIStatusBarStyleDefault);
    EXPECT_EQ(controller->preferredStatusBarUpdateAnimation(), UIStatusBarAnimationFade);
}
