// The global progress HUD: showings and their counts, layout, placement, masks, touches,
// notifications, image showings with their timed dismissal, and the teardown, all on the manual
// clock.

#include <gtest/gtest.h>

#include <cmath>

#include "ControlsTestSupport.h"
#include "controls/ControlsTesting.h"
#include "controls/GHProgressHUD.h"
#include "foundation/FoundationTesting.h"
#include "graphics/NSValue+Geometry.h"
#include "graphics/UIGraphics.h"
#include "tests/support/MainLoop.h"
#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

using controlstest::pixelAt;

namespace {

const std::string kUploading = "上传中...";

class GHProgressHUDTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ControlsTesting::resetProgressHUD();
        UIScreen::mainScreen()->setBoundsSize(CGSizeMake(320, 568));
        window = make<UIWindow>(CGRectMake(0, 0, 320, 568));
        window->setRootViewController(make<UIViewController>());
        window->makeKeyAndVisible();
        token = NSNotificationCenter::defaultCenter()->addObserverForName(
            std::nullopt, nullptr, nullptr, [this](const Ref<NSNotification>& n) {
                if (n->name().rfind("GHProgressHUD", 0) == 0) {
                    posted.push_back(n->name());
                    userInfos.push_back(n->userInfo());
                    objects.push_back(n->object());
                }
            });
    }
    void TearDown() override {
        NSNotificationCenter::defaultCenter()->removeObserver(token);
        ControlsTesting::resetProgressHUD();
        window->setHidden(true);
        UIScreen::mainScreen()->resetToConfiguration();
    }

    Ref<GHProgressHUD> hud() { return GHProgressHUD::sharedView(); }
    bool postedName(const std::string& name) const {
        return std::find(posted.begin(), posted.end(), name) != posted.end();
    }
    std::size_t countOf(const std::string& name) const {
        return std::count(posted.begin(), posted.end(), name);
    }
    void clearPosted() {
        posted.clear();
        userInfos.clear();
        objects.clear();
    }
    void postKeyboard(const char* name, CGFloat height, double duration = 0.25) {
        Value frame(NSValue_Geometry::valueWithCGRect(CGRectMake(0, 568 - height, 320, height)));
        Dictionary info{{UIKeyboardFrameBeginUserInfoKey, frame},
                        {UIKeyboardFrameEndUserInfoKey, frame},
                        {UIKeyboardAnimationDurationUserInfoKey, Value(duration)}};
        NSNotificationCenter::defaultCenter()->postNotificationName(name, nullptr, info);
    }
    // A transparent picture of the given side, or one whose left half is black.
    static Ref<UIImage> picture(CGFloat side, bool leftHalfBlack = false) {
        UIGraphicsBeginImageContextWithOptions(CGSizeMake(side, side), false, 1);
        if (leftHalfBlack) {
            CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), 0, 0, 0, 1);
            CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, side / 2, side));
        }
        auto image = UIGraphicsGetImageFromCurrentImageContext();
        UIGraphicsEndImageContext();
        return image;
    }

    testsupport::ManualClock clock;
    controlstest::HUDResources resources;
    Ref<UIWindow> window;
    Ref<NSObject> token;
    std::vector<std::string> posted;
    std::vector<std::optional<Dictionary>> userInfos;
    std::vector<Ref<NSObject>> objects;
};

}  // namespace

// ---- showing and counting ----------------------------------------------------------------------

TEST_F(GHProgressHUDTest, UploadShowingAttachesToTheFrontmostNormalWindow) {
    auto behind = make<UIWindow>(CGRectMake(0, 0, 320, 568));
    behind->makeKeyAndVisible();
    window->makeKeyAndVisible();  // in front again
    auto statusLevel = make<UIWindow>(CGRectMake(0, 0, 320, 20));
    statusLevel->setWindowLevel(UIWindowLevelStatusBar);
    statusLevel->setHidden(false);

    GHProgressHUD::showWithStatus(kUploading, GHProgressHUDMaskTypeGradient);
    auto h = hud();
    EXPECT_EQ(h->overlayView()->superview(), window);
    EXPECT_EQ(h->superview(), h->overlayView());
    EXPECT_EQ(h->maskType(), GHProgressHUDMaskTypeGradient);
    EXPECT_EQ(h->activityCount(), 1u);
    EXPECT_EQ(h->stringLabel()->text(), kUploading);
    EXPECT_TRUE(h->overlayView()->isUserInteractionEnabled());
    EXPECT_TRUE(h->isAccessibilityElement());
    EXPECT_EQ(h->accessibilityLabel(), kUploading);
    EXPECT_EQ(h->indefiniteAnimatedView()->superview(), h->hudView());
    EXPECT_TRUE(GHProgressHUD::isVisible());  // the model value is 1 at once
    EXPECT_EQ(countOf(GHProgressHUDWillAppearNotification), 1u);
    EXPECT_FALSE(postedName(GHProgressHUDDidAppearNotification));
    clock.advance(0.15);
    EXPECT_EQ(countOf(GHProgressHUDDidAppearNotification), 1u);
    ASSERT_TRUE(userInfos.back());
    EXPECT_EQ((*userInfos.back())[GHProgressHUDStatusUserInfoKey].stringValue(), kUploading);
    // 15-point subheadline text: three wide characters and three dots, 67.5 x 18; the spinner
    // sits above it.
    EXPECT_EQ(h->hudView()->bounds().size, CGSizeMake(124, 98));
    EXPECT_EQ(h->indefiniteAnimatedView()->radius(), 18);
    EXPECT_EQ(h->indefiniteAnimatedView()->center(), CGPointMake(62, 36));
    EXPECT_EQ(h->stringLabel()->frame(), CGRectMake(0, 68, 124, 18));
    EXPECT_FALSE(h->stringLabel()->isHidden());
    statusLevel->setHidden(true);
    behind->setHidden(true);
}

TEST_F(GHProgressHUDTest, WhileHiddenDismissDoesNothingButPopActivityDismisses) {
    GHProgressHUD::dismiss();
    clock.advance(1);
    EXPECT_TRUE(posted.empty());
    EXPECT_EQ(hud()->activityCount(), 0u);
    GHProgressHUD::popActivity();
    EXPECT_EQ(countOf(GHProgressHUDWillDisappearNotification), 1u);
    EXPECT_EQ(hud()->activityCount(), 0u);
    clock.advance(0.2);
    EXPECT_EQ(countOf(GHProgressHUDDidDisappearNotification), 1u);
}

TEST_F(GHProgressHUDTest, TwoShowsNeedTwoPops) {
    GHProgressHUD::show();
    GHProgressHUD::show();
    EXPECT_EQ(hud()->activityCount(), 2u);
    clock.advance(0.2);
    GHProgressHUD::popActivity();
    EXPECT_EQ(hud()->activityCount(), 1u);
    clock.advance(0.2);
    EXPECT_TRUE(GHProgressHUD::isVisible());
    EXPECT_FALSE(postedName(GHProgressHUDWillDisappearNotification));
    GHProgressHUD::popActivity();
    EXPECT_EQ(countOf(GHProgressHUDWillDisappearNotification), 1u);
    clock.advance(0.15);
    EXPECT_FALSE(GHProgressHUD::isVisible());
    EXPECT_EQ(countOf(GHProgressHUDDidDisappearNotification), 1u);
}

TEST_F(GHProgressHUDTest, OneDismissEndsAnyNumberOfShows) {
    GHProgressHUD::show();
    GHProgressHUD::show();
    clock.advance(0.2);
    GHProgressHUD::dismiss();
    EXPECT_EQ(hud()->activityCount(), 0u);
    clock.advance(0.15);
    EXPECT_FALSE(GHProgressHUD::isVisible());
    EXPECT_FALSE(hud()->hasOverlayView());
    EXPECT_FALSE(hud()->hasHudView());
    EXPECT_FALSE(hud()->hasIndefiniteAnimatedView());
    EXPECT_EQ(hud()->superview(), nullptr);  // it went with the overlay
    for (const auto& subview : window->subviews()) EXPECT_FALSE(isKindOf<UIControl>(subview));
}

TEST_F(GHProgressHUDTest, ASecondShowWhileShownUpdatesInPlace) {
    GHProgressHUD::show();
    clock.advance(0.2);
    CGSize before = hud()->hudView()->bounds().size;
    clearPosted();
    GHProgressHUD::showWithStatus("Loading");
    EXPECT_TRUE(posted.empty());
    EXPECT_EQ(hud()->activityCount(), 2u);
    EXPECT_EQ(hud()->stringLabel()->text(), "Loading");
    EXPECT_NE(hud()->hudView()->bounds().size, before);
    EXPECT_EQ(hud()->hudView()->layer()->animationCount(), 0u);  // no appear animation
}

TEST_F(GHProgressHUDTest, DeterminateProgressCountsOnlyItsStartAtZero) {
    GHProgressHUD::showProgress(0.0f, "Up");
    GHProgressHUD::showProgress(0.5f, "Up");
    GHProgressHUD::showProgress(1.0f, "Up");
    EXPECT_EQ(hud()->activityCount(), 1u);
    EXPECT_EQ(hud()->progress(), 1.0);
    EXPECT_EQ(hud()->ringLayer()->strokeEnd(), 1.0);
    EXPECT_EQ(countOf(GHProgressHUDWillAppearNotification), 1u);
    GHProgressHUD::showProgress(0.25f);
    EXPECT_EQ(hud()->activityCount(), 1u);
}

TEST_F(GHProgressHUDTest, SwitchingBetweenSpinnerAndRing) {
    GHProgressHUD::showWithStatus("a");
    auto h = hud();
    EXPECT_FALSE(h->hasRingLayers());
    EXPECT_EQ(h->indefiniteAnimatedView()->superview(), h->hudView());

    GHProgressHUD::showProgress(0.3f, "a");
    EXPECT_EQ(h->indefiniteAnimatedView()->superview(), nullptr);
    ASSERT_TRUE(h->hasRingLayers());
    const auto& sublayers = h->hudView()->layer()->sublayers();
    auto track = std::find(sublayers.begin(), sublayers.end(), h->backgroundRingLayer());
    auto arc = std::find(sublayers.begin(), sublayers.end(), h->ringLayer());
    ASSERT_NE(track, sublayers.end());
    ASSERT_NE(arc, sublayers.end());
    EXPECT_LT(track, arc) << "the arc lies above the track";
    EXPECT_NEAR(h->ringLayer()->strokeEnd(), 0.3, 1e-6);
    EXPECT_EQ(h->backgroundRingLayer()->strokeEnd(), 1);
    CGFloat w = h->hudView()->bounds().size.width;
    EXPECT_EQ(h->ringLayer()->position(), CGPointMake(w / 2, 36));
    EXPECT_EQ(h->backgroundRingLayer()->bounds().size, CGSizeMake(36, 36));
    EXPECT_FALSE(h->imageView()->isHidden());
    EXPECT_EQ(h->imageView()->image(), nullptr);
    EXPECT_NEAR(UIColor::colorWithCGColor(h->backgroundRingLayer()->strokeColor())->alpha(), 0.1, 1e-9);

    GHProgressHUD::showWithStatus("a");
    EXPECT_FALSE(h->hasRingLayers());
    EXPECT_EQ(h->indefiniteAnimatedView()->superview(), h->hudView());
}

// ---- layout ------------------------------------------------------------------------------------

TEST_F(GHProgressHUDTest, WithoutStatusTheBoxIsSquareAroundTheLargeSpinner) {
    GHProgressHUD::show();
    auto h = hud();
    EXPECT_EQ(h->hudView()->bounds().size, CGSizeMake(100, 100));
    EXPECT_EQ(h->indefiniteAnimatedView()->radius(), 24);
    EXPECT_EQ(h->indefiniteAnimatedView()->center(), CGPointMake(50, 50));
    EXPECT_EQ(h->indefiniteAnimatedView()->bounds().size, CGSizeMake(60, 60));
    EXPECT_EQ(h->stringLabel()->frame(), CGRectZero);
    EXPECT_FALSE(h->notificationUserInfo());
    // A new status relays the box out without placing it again.
    clock.advance(0.2);
    CGPoint center = h->hudView()->center();
    GHProgressHUD::setStatus("Almost there");
    EXPECT_EQ(h->stringLabel()->text(), "Almost there");
    EXPECT_EQ(h->hudView()->bounds().size.height, 98);
    EXPECT_EQ(h->hudView()->center(), center);
}

TEST_F(GHProgressHUDTest, BoxWidthFollowsTheMeasuredTextInEvenSteps) {
    GHProgressHUD::setFont(UIFont::systemFontOfSize(15.13));
    GHProgressHUD::showWithStatus(std::string(20, 'a'));  // 151.3 points wide
    EXPECT_EQ(hud()->hudView()->bounds().size.width, 176);
    GHProgressHUD::setFont(UIFont::systemFontOfSize(15));
    GHProgressHUD::showWithStatus(std::string(12, 'a'));  // 90 points wide
    EXPECT_EQ(hud()->hudView()->bounds().size.width, 124);
    // Tall boxes inset the label.
    GHProgressHUD::showWithStatus(std::string(40, 'a'));  // 300 points: two lines within 200
    auto h = hud();
    CGRect label = h->stringLabel()->frame();
    EXPECT_EQ(label.origin, CGPointMake(12, 68));
    EXPECT_EQ(label.size.height, 36);
    EXPECT_EQ(h->hudView()->bounds().size.height, 116);
    EXPECT_EQ(h->hudView()->bounds().size.width, label.size.width + 24);
}

// ---- placement ---------------------------------------------------------------------------------

TEST_F(GHProgressHUDTest, PlacedAboveTheMiddleAndAboveTheKeyboard) {
    GHProgressHUD::show();
    clock.advance(0.2);
    EXPECT_EQ(hud()->hudView()->center(), CGPointMake(160, 255));
    postKeyboard(UIKeyboardWillShowNotification, 216);
    EXPECT_EQ(hud()->hudView()->center(), CGPointMake(160, 176));  // 568 + 40 - 216 = 392
    EXPECT_EQ(hud()->visibleKeyboardHeight(), 216);
    clock.advance(0.3);
    postKeyboard(UIKeyboardWillHideNotification, 216);
    EXPECT_EQ(hud()->hudView()->center(), CGPointMake(160, 255));
    EXPECT_EQ(hud()->visibleKeyboardHeight(), 0);
}

TEST_F(GHProgressHUDTest, AKeyboardAlreadyUpIsTakenIntoAccount) {
    hud();  // starts following the keyboard
    postKeyboard(UIKeyboardDidShowNotification, 216);
    GHProgressHUD::show();
    EXPECT_EQ(hud()->hudView()->center(), CGPointMake(160, 176));
}

TEST_F(GHProgressHUDTest, OffsetFromCenterAppliesAtTheNextPlacement) {
    GHProgressHUD::show();
    GHProgressHUD::setOffsetFromCenter(UIOffsetMake(10, -20));
    EXPECT_EQ(hud()->hudView()->center(), CGPointMake(160, 255));
    GHProgressHUD::show();
    EXPECT_EQ(hud()->hudView()->center(), CGPointMake(170, 235));
    GHProgressHUD::resetOffsetFromCenter();
    postKeyboard(UIKeyboardDidHideNotification, 0, 0);
    EXPECT_EQ(hud()->hudView()->center(), CGPointMake(160, 255));
}

TEST_F(GHProgressHUDTest, PlacementObserversGoAtTeardown) {
    GHProgressHUD::show();
    clock.advance(0.2);
    GHProgressHUD::dismiss();
    clock.advance(0.2);
    auto h = hud();
    EXPECT_FALSE(h->hasHudView());
    postKeyboard(UIKeyboardWillShowNotification, 216);
    EXPECT_FALSE(h->hasHudView()) << "a placement would have made a new box";
}

// ---- appear and disappear ----------------------------------------------------------------------

TEST_F(GHProgressHUDTest, ClearMasksFadeOnlyTheBoxAndDimmingMasksTheWholeScreen) {
    GHProgressHUD::showWithMaskType(GHProgressHUDMaskTypeNone);
    auto h = hud();
    EXPECT_EQ(h->alpha(), 1);
    EXPECT_EQ(h->hudView()->alpha(), 1);
    EXPECT_TRUE(h->hudView()->layer()->animationForKey("opacity"));
    EXPECT_FALSE(h->layer()->animationForKey("opacity"));
    auto scale = h->hudView()->layer()->animationForKey("transform");
    EXPECT_TRUE(scale);
    EXPECT_NEAR(h->hudView()->transform().a, 1.0, 1e-9);
    clock.advance(0.15);
    GHProgressHUD::dismiss();
    EXPECT_EQ(h->alpha(), 1);
    EXPECT_EQ(h->hudView()->alpha(), 0);
    EXPECT_NEAR(h->hudView()->transform().a, 0.800000011920929, 1e-12);
    clock.advance(0.2);

    GHProgressHUD::showWithMaskType(GHProgressHUDMaskTypeBlack);
    EXPECT_TRUE(h->layer()->animationForKey("opacity"));
    EXPECT_EQ(h->hudView()->alpha(), 1);
    clock.advance(0.15);
    GHProgressHUD::dismiss();
    EXPECT_EQ(h->alpha(), 0);
    EXPECT_EQ(h->hudView()->alpha(), 1);
}

TEST_F(GHProgressHUDTest, AShowDuringTheDisappearanceKeepsTheHUDUp) {
    GHProgressHUD::showWithMaskType(GHProgressHUDMaskTypeGradient);
    clock.advance(0.2);
    GHProgressHUD::dismiss();
    clock.advance(0.05);
    GHProgressHUD::showWithMaskType(GHProgressHUDMaskTypeGradient);
    clock.advance(0.5);
    EXPECT_TRUE(GHProgressHUD::isVisible());
    EXPECT_FALSE(postedName(GHProgressHUDDidDisappearNotification));
    EXPECT_EQ(hud()->overlayView()->superview(), window);
    EXPECT_EQ(countOf(GHProgressHUDWillAppearNotification), 2u);
}

TEST_F(GHProgressHUDTest, TeardownKeepsLabelAndImageViewForTheNextShowing) {
    GHProgressHUD::showWithStatus("one");
    auto label = hud()->stringLabel();
    auto imageView = hud()->imageView();
    Weak<UIView> box = hud()->hudView();
    auto shared = hud();
    clock.advance(0.2);
    int updatesBefore = UIApplication::sharedApplication()->statusBarAppearanceUpdateCount();
    GHProgressHUD::dismiss();
    clock.advance(0.2);
    EXPECT_GT(UIApplication::sharedApplication()->statusBarAppearanceUpdateCount(), updatesBefore);
    EXPECT_EQ(label->text(), "one");
    GHProgressHUD::showWithStatus("two");
    EXPECT_EQ(hud(), shared);
    EXPECT_EQ(box.lock(), nullptr) << "the old box is dropped";
    EXPECT_EQ(hud()->stringLabel(), label);
    EXPECT_EQ(hud()->imageView(), imageView);
    EXPECT_EQ(label->superview(), hud()->hudView());
    EXPECT_EQ(imageView->superview(), hud()->hudView());
}

TEST_F(GHProgressHUDTest, NotificationsCarryTheStatus) {
    GHProgressHUD::showWithStatus("s");
    clock.advance(0.2);
    GHProgressHUD::dismiss();
    clock.advance(0.2);
    std::vector<std::string> expected = {
        GHProgressHUDWillAppearNotification, GHProgressHUDDidAppearNotification,
        GHProgressHUDWillDisappearNotification, GHProgressHUDDidDisappearNotification};
    EXPECT_EQ(posted, expected);
    for (const auto& info : userInfos) {
        ASSERT_TRUE(info);
        EXPECT_EQ((*info)[GHProgressHUDStatusUserInfoKey].stringValue(), "s");
    }
    auto a11y = detail::ghAccessibilityPosts();
    std::vector<std::string> expectedA11y = {"screen-changed", "announcement:s", "screen-changed"};
    EXPECT_EQ(a11y, expectedA11y);
}

TEST_F(GHProgressHUDTest, WithoutAQualifyingWindowNothingShowsButStateGoesOn) {
    window->setHidden(true);
    GHProgressHUD::showWithStatus("x");
    EXPECT_EQ(hud()->overlayView()->superview(), nullptr);
    EXPECT_EQ(hud()->activityCount(), 1u);
    EXPECT_TRUE(postedName(GHProgressHUDWillAppearNotification));
    clock.advance(0.2);
    EXPECT_TRUE(postedName(GHProgressHUDDidAppearNotification));
}

// ---- masks and touches -------------------------------------------------------------------------

TEST_F(GHProgressHUDTest, MaskTypeNoneLetsTapsThrough) {
    auto button = make<UIControl>(CGRectMake(0, 0, 320, 568));
    int taps = 0;
    button->addTarget(
        nullptr, [&](const Ref<NSObject>&, const Ref<UIEvent>&) { ++taps; }, UIControlEventTouchDown);
    window->addSubview(button);
    GHProgressHUD::showWithMaskType(GHProgressHUDMaskTypeNone);
    clock.advance(0.2);
    EXPECT_FALSE(hud()->overlayView()->isUserInteractionEnabled());
    EXPECT_TRUE(hud()->hudView()->isAccessibilityElement());
    UITestDriver::tapAt(window, CGPointMake(20, 20));
    EXPECT_EQ(taps, 1);
    EXPECT_FALSE(postedName(GHProgressHUDDidReceiveTouchEventNotification));

    for (auto mask :
         {GHProgressHUDMaskTypeClear, GHProgressHUDMaskTypeBlack, GHProgressHUDMaskTypeGradient}) {
        GHProgressHUD::showWithMaskType(mask);
        clock.advance(0.2);
        UITestDriver::tapAt(window, CGPointMake(20, 20));
        EXPECT_EQ(taps, 1) << "mask " << mask;
    }
    EXPECT_EQ(countOf(GHProgressHUDDidReceiveTouchEventNotification), 3u);
}

TEST_F(GHProgressHUDTest, TouchesInsideTheBoxPostBothNotificationsAndNeverDismiss) {
    GHProgressHUD::showWithMaskType(GHProgressHUDMaskTypeClear);
    clock.advance(0.2);
    UITestDriver::tapAt(window, CGPointMake(160, 255));
    EXPECT_EQ(countOf(GHProgressHUDDidReceiveTouchEventNotification), 1u);
    EXPECT_EQ(countOf(GHProgressHUDDidTouchDownInsideNotification), 1u);
    EXPECT_TRUE(isKindOf<UIEvent>(objects.back()));
    UITestDriver::tapAt(window, CGPointMake(10, 500));
    EXPECT_EQ(countOf(GHProgressHUDDidReceiveTouchEventNotification), 2u);
    EXPECT_EQ(countOf(GHProgressHUDDidTouchDownInsideNotification), 1u);
    clock.advance(1);
    EXPECT_TRUE(GHProgressHUD::isVisible());
}

TEST_F(GHProgressHUDTest, BlackMaskDimsByHalf) {
    GHProgressHUD::showWithMaskType(GHProgressHUDMaskTypeBlack);
    clock.advance(0.2);
    auto image = UIWindowRenderer::imageOfView(hud(), 1);
    EXPECT_PX(image, 5, 5, 0, 0, 0, 128);
}

TEST_F(GHProgressHUDTest, GradientMaskCentresAboveTheKeyboard) {
    GHProgressHUD::showWithMaskType(GHProgressHUDMaskTypeGradient);
    clock.advance(0.2);
    // Centred on the screen's middle (284): level pairs around it match, the box aside.
    auto plain = UIWindowRenderer::imageOfView(hud(), 1);
    EXPECT_NEAR(pixelAt(plain, 10, 184).a, pixelAt(plain, 10, 384).a, 2);
    EXPECT_NEAR(pixelAt(plain, 60, 284).a, pixelAt(plain, 260, 284).a, 2);
    EXPECT_LT(pixelAt(plain, 60, 284).a, pixelAt(plain, 10, 284).a);
    EXPECT_NEAR(pixelAt(plain, 0, 0).a, 191, 2);  // beyond the radius: 75 %

    postKeyboard(UIKeyboardDidShowNotification, 216, 0);
    hud()->setNeedsDisplay();
    testsupport::drainMainRunLoop();
    auto raised = UIWindowRenderer::imageOfView(hud(), 1);
    EXPECT_NEAR(pixelAt(raised, 10, 76).a, pixelAt(raised, 10, 276).a, 2);
    EXPECT_GT(std::abs(pixelAt(raised, 10, 184).a - pixelAt(raised, 10, 384).a), 10);
}

// ---- image showings ----------------------------------------------------------------------------

TEST_F(GHProgressHUDTest, DisplayDurationGrowsWithTheStatus) {
    EXPECT_DOUBLE_EQ(hud()->displayDurationForString(std::nullopt), 0.5);
    // UTF-16 units: ten CJK characters count ten, one astral character two.
    const std::pair<std::string, double> cases[] = {{"", 0.5},
                                                    {std::string(10, 'x'), 1.1},
                                                    {std::string(50, 'x'), 3.5},
                                                    {std::string(74, 'x'), 4.94},
                                                    {std::string(75, 'x'), 5.0},
                                                    {std::string(500, 'x'), 5.0},
                                                    {"上传中上传中上传中上", 1.1},
                                                    {"\xF0\x9F\x98\x80", 0.62}};
    for (const auto& [status, seconds] : cases)
        EXPECT_NEAR(hud()->displayDurationForString(status), seconds, 1e-9) << status.size() << " bytes";
}

TEST_F(GHProgressHUDTest, SuccessFromHiddenShowsCountsOnceAndDismissesItself) {
    GHProgressHUD::showSuccessWithStatus("Saved");  // 5 units: 0.8 s
    auto h = hud();
    EXPECT_EQ(h->activityCount(), 1u);
    EXPECT_EQ(countOf(GHProgressHUDWillAppearNotification), 1u);
    EXPECT_FALSE(h->imageView()->isHidden());
    EXPECT_TRUE(h->imageView()->image());
    EXPECT_EQ(h->imageView()->image()->renderingMode(), UIImageRenderingMode::AlwaysTemplate);
    EXPECT_TRUE(h->imageView()->tintColor()->isEqual(*UIColor::blackColor()));
    EXPECT_EQ(h->indefiniteAnimatedView()->superview(), nullptr);
    EXPECT_EQ(h->progress(), -1);
    EXPECT_EQ(h->imageView()->center(), CGPointMake(h->hudView()->bounds().size.width / 2, 36));
    EXPECT_EQ(h->stringLabel()->frame().origin.y, 68);
    ASSERT_TRUE(h->fadeOutTimer());
    clock.advance(0.79);
    EXPECT_FALSE(postedName(GHProgressHUDWillDisappearNotification));
    clock.advance(0.02);
    EXPECT_TRUE(postedName(GHProgressHUDWillDisappearNotification));
    clock.advance(0.2);
    EXPECT_FALSE(GHProgressHUD::isVisible());
}

TEST_F(GHProgressHUDTest, InfoAndErrorUseTheirImages) {
    GHProgressHUD::showInfoWithStatus("i");
    auto info = hud()->imageView()->image();
    GHProgressHUD::showErrorWithStatus("e");
    auto error = hud()->imageView()->image();
    ASSERT_TRUE(info);
    ASSERT_TRUE(error);
    EXPECT_NE(info, error);
    EXPECT_EQ(hud()->activityCount(), 1u);  // the second image showing found the HUD visible
    // Images given by the caller are used unchanged.
    auto image = picture(4);
    GHProgressHUD::showImage(image, "x", GHProgressHUDMaskTypeBlack);
    EXPECT_EQ(hud()->imageView()->image(), image);
    EXPECT_EQ(hud()->maskType(), GHProgressHUDMaskTypeBlack);
}

TEST_F(GHProgressHUDTest, ImageShowingsPostAccessibilityAtOnce) {
    GHProgressHUD::show();
    clock.advance(0.2);
    detail::ghClearAccessibilityPosts();
    GHProgressHUD::showErrorWithStatus("No network");
    auto a11y = detail::ghAccessibilityPosts();
    std::vector<std::string> expected = {"screen-changed", "announcement:No network"};
    EXPECT_EQ(a11y, expected);
}

TEST_F(GHProgressHUDTest, AShowClearsThePendingFadeOut) {
    GHProgressHUD::showSuccessWithStatus("ok");
    auto timer = hud()->fadeOutTimer();
    GHProgressHUD::showWithStatus("busy");
    EXPECT_FALSE(timer->isValid());
    EXPECT_EQ(hud()->fadeOutTimer(), nullptr);
    EXPECT_TRUE(hud()->imageView()->isHidden());
    clock.advance(10);
    EXPECT_TRUE(GHProgressHUD::isVisible());
}

TEST_F(GHProgressHUDTest, ALeftoverFadeOutDismissesOnceMore) {
    GHProgressHUD::showSuccessWithStatus("ok");  // 0.62 s
    clock.advance(0.2);
    GHProgressHUD::dismiss();
    clock.advance(0.2);
    EXPECT_EQ(countOf(GHProgressHUDWillDisappearNotification), 1u);
    clock.advance(0.3);
    EXPECT_EQ(countOf(GHProgressHUDWillDisappearNotification), 2u);
}

TEST_F(GHProgressHUDTest, FadeOutFiresWhileTheUserScrolls) {
    GHProgressHUD::showSuccessWithStatus("ok");
    clock.advance(1.0, UITrackingRunLoopMode);
    EXPECT_TRUE(postedName(GHProgressHUDWillDisappearNotification));
}

TEST_F(GHProgressHUDTest, ImageWithoutImageButWithStatusLaysOutAsText) {
    GHProgressHUD::showImage(nullptr, "Only text");
    auto h = hud();
    EXPECT_EQ(h->stringLabel()->frame().origin.y, 9);
    EXPECT_EQ(h->hudView()->bounds().size.height, 20 + 18);
    EXPECT_FALSE(h->imageView()->isHidden());
}

TEST_F(GHProgressHUDTest, TintingColoursEveryVisiblePixel) {
    auto tinted = hud()->imageWithTintColor(picture(4, true), UIColor::redColor());
    ASSERT_TRUE(tinted);
    EXPECT_EQ(tinted->size(), CGSizeMake(4, 4));
    EXPECT_PX(tinted, 0, 1, 255, 0, 0, 255);
    EXPECT_PX(tinted, 3, 1, 0, 0, 0, 0);
}

// ---- settings ----------------------------------------------------------------------------------

TEST_F(GHProgressHUDTest, DefaultsComeFromTheFirstUse) {
    GHProgressHUD::show();
    auto h = hud();
    EXPECT_TRUE(h->hudView()->backgroundColor()->isEqual(*UIColor::whiteColor()));
    EXPECT_TRUE(h->stringLabel()->textColor()->isEqual(*UIColor::blackColor()));
    EXPECT_TRUE(
        h->stringLabel()->font()->isEqual(*UIFont::preferredFontForTextStyle(UIFontTextStyleSubheadline)));
    EXPECT_EQ(h->indefiniteAnimatedView()->strokeThickness(), 2);
    EXPECT_EQ(h->maskType(), GHProgressHUDMaskTypeNone);
    EXPECT_EQ(h->hudView()->layer()->cornerRadius(), 14);
    EXPECT_TRUE(h->hudView()->clipsToBounds());
    EXPECT_EQ(h->hudView()->autoresizingMask(), 45u);
    EXPECT_EQ(h->overlayView()->autoresizingMask(), 18u);
    EXPECT_FALSE(h->isUserInteractionEnabled());
}

TEST_F(GHProgressHUDTest, SettersStoreAndAreNeverOverwritten) {
    GHProgressHUD::setHUDBackgroundColor(UIColor::redColor());
    GHProgressHUD::setForegroundColor(UIColor::blueColor());
    GHProgressHUD::setFont(UIFont::boldSystemFontOfSize(20));
    GHProgressHUD::setRingThickness(4);
    GHProgressHUD::setDefaultMaskType(GHProgressHUDMaskTypeClear);
    auto extension = make<UIView>();
    GHProgressHUD::setViewForExtension(extension);
    GHProgressHUD::showWithStatus("x");
    auto h = hud();
    EXPECT_TRUE(h->hudView()->backgroundColor()->isEqual(*UIColor::redColor()));
    EXPECT_TRUE(h->stringLabel()->textColor()->isEqual(*UIColor::blueColor()));
    EXPECT_EQ(h->stringLabel()->font()->pointSize(), 20);
    EXPECT_EQ(h->indefiniteAnimatedView()->strokeThickness(), 4);
    EXPECT_EQ(h->maskType(), GHProgressHUDMaskTypeClear);
    EXPECT_EQ(GHProgressHUD::viewForExtension(), extension);
    // The background colour reaches the box already shown.
    GHProgressHUD::setHUDBackgroundColor(UIColor::greenColor());
    EXPECT_TRUE(h->hudView()->backgroundColor()->isEqual(*UIColor::greenColor()));
}

TEST_F(GHProgressHUDTest, ImageSettersReplaceTheBuiltInImages) {
    auto mine = picture(3);
    GHProgressHUD::setInfoImage(mine);
    GHProgressHUD::setSuccessImage(mine);
    GHProgressHUD::setErrorImage(mine);
    using Show = void (*)(const GHProgressHUD::Status&);
    for (Show show : {Show(&GHProgressHUD::showInfoWithStatus), Show(&GHProgressHUD::showSuccessWithStatus),
                      Show(&GHProgressHUD::showErrorWithStatus)}) {
        show("a");
        EXPECT_EQ(hud()->imageView()->image(), mine);
    }
}

TEST_F(GHProgressHUDTest, WithoutTheBundleTheBuiltInImagesAreEmpty) {
    ControlsTesting::resetProgressHUD();
    foundation_testing::resetBundles();
    testsupport::TemporaryDirectory empty;
    NSBundle::setMainBundlePath(empty.path());
    GHProgressHUD::showSuccessWithStatus("a");
    EXPECT_EQ(hud()->imageView()->image(), nullptr);
    EXPECT_FALSE(hud()->imageView()->isHidden());  // shown, empty: laid out as text only
    EXPECT_EQ(hud()->stringLabel()->frame().origin.y, 9);
}

TEST_F(GHProgressHUDTest, RingLayersAreRoundCappedClockwiseCircles) {
    auto h = hud();
    auto ring = h->createRingLayerWithCenter(CGPointMake(50, 40), 18, 2, UIColor::blackColor());
    EXPECT_EQ(ring->frame(), CGRectMake(32, 22, 36, 36));
    EXPECT_EQ(ring->lineCap(), kCALineCapRound);
    EXPECT_EQ(ring->lineJoin(), kCALineJoinBevel);
    EXPECT_EQ(ring->lineWidth(), 2);
    EXPECT_EQ(ring->contentsScale(), UIScreen::mainScreen()->scale());
    CGRect box = CGPathGetPathBoundingBox(ring->path());
    EXPECT_NEAR(box.size.width, 36, 1e-6);
}
