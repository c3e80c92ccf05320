// The view-attached HUD: creation, the class operations, grace and minimum show times, delayed
// hides, indicators by mode, layout, drawing, observation across threads and the task variants,
// all on the manual clock.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ControlsTestSupport.h"
#include "controls/VHBarProgressView.h"
#include "controls/VHProgressHUD.h"
#include "controls/VHRoundProgressView.h"
#include "foundation/NSThread.h"
#include "tests/support/MainLoop.h"
#include "uikit/CAAnimation.h"
#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIApplication.h"

using controlstest::pixelAt;

namespace {

class RecordingDelegate : public VHProgressHUDDelegate {
  public:
    void hudWasHidden(const Ref<VHProgressHUD>& hud) override { hidden.push_back(hud); }
    bool implementsHudWasHidden() const override { return true; }
    std::vector<Ref<VHProgressHUD>> hidden;
};

// A custom indicator that takes a progress.
class ProgressTakingView : public UIView, public detail::VHProgressSettable {
  public:
    ProgressTakingView() : UIView(CGRectMake(0, 0, 30, 30)) {}
    void setProgress(float p) override { progress = p; }
    float progress = -1;
};

class VHProgressHUDTest : public ::testing::Test {
  protected:
    // A HUD in text mode whose one-line text measures 100 x 24 (ten letters in bold 20).
    Ref<VHProgressHUD> textHUD() {
        auto hud = added();
        hud->setMode(VHProgressHUDModeText);
        hud->setLabelFont(UIFont::boldSystemFontOfSize(20));
        hud->setLabelText("ABCDEFGHIJ");
        hud->layoutIfNeeded();
        return hud;
    }
    bool hiding(const Ref<VHProgressHUD>& hud) { return hud->alpha() < 1; }
    // A HUD added to the host, not shown.
    Ref<VHProgressHUD> added() {
        auto hud = make<VHProgressHUD>(host);
        host->addSubview(hud);
        return hud;
    }
    void relayout(const Ref<UIView>& view) {
        view->setNeedsLayout();
        view->layoutIfNeeded();
    }

    testsupport::ManualClock clock;
    Ref<UIView> host = make<UIView>(CGRectMake(0, 0, 320, 480));
};

}  // namespace

// ---- creation ----------------------------------------------------------------------------------

TEST_F(VHProgressHUDTest, StartsTransparentWithAnAnimatingSpinner) {
    auto hud = make<VHProgressHUD>(host);
    EXPECT_EQ(hud->frame(), host->bounds());
    EXPECT_EQ(hud->superview(), nullptr);
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_FALSE(hud->showStarted());
    auto spinner = asKind<UIActivityIndicatorView>(hud->indicator());
    ASSERT_TRUE(spinner);
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_EQ(spinner->activityIndicatorViewStyle(), UIActivityIndicatorViewStyleWhiteLarge);
    EXPECT_EQ(spinner->superview(), hud);
    EXPECT_EQ(hud->label()->superview(), hud);
    EXPECT_EQ(hud->detailsLabel()->numberOfLines(), 0);
}

TEST_F(VHProgressHUDTest, ShowHUDAddedToAddsShowsAndRemovesOnHide) {
    auto other = make<UIView>();
    host->addSubview(other);
    auto hud = VHProgressHUD::showHUDAddedTo(host, true);
    EXPECT_EQ(host->subviews().back(), hud);
    EXPECT_TRUE(hud->removeFromSuperViewOnHide());
    EXPECT_EQ(hud->alpha(), 1);  // the model at once; the layer animates 0.30 s
    EXPECT_TRUE(hud->layer()->animationForKey("opacity"));
    EXPECT_TRUE(hud->showStarted());
    hud->hide(true);
    EXPECT_FLOAT_EQ(hud->alpha(), 0.02f);
    EXPECT_FALSE(hud->showStarted());
    clock.advance(0.29);
    EXPECT_EQ(hud->superview(), host);
    clock.advance(0.02);
    EXPECT_EQ(hud->superview(), nullptr);
    EXPECT_EQ(hud->alpha(), 0);
}

TEST_F(VHProgressHUDTest, HideHUDForViewFindsTheTopmost) {
    EXPECT_EQ(VHProgressHUD::HUDForView(host), nullptr);
    EXPECT_FALSE(VHProgressHUD::hideHUDForView(host, false));
    EXPECT_EQ(VHProgressHUD::hideAllHUDsForView(host, false), 0u);
    auto first = make<VHProgressHUD>(host);
    host->addSubview(first);
    auto second = make<VHProgressHUD>(host);
    host->addSubview(second);
    host->addSubview(make<UIView>());
    EXPECT_EQ(VHProgressHUD::HUDForView(host), second);
    EXPECT_EQ(VHProgressHUD::allHUDsForView(host), (std::vector<Ref<VHProgressHUD>>{first, second}));
    EXPECT_TRUE(VHProgressHUD::hideHUDForView(host, false));
    EXPECT_EQ(second->superview(), nullptr);
    EXPECT_EQ(first->superview(), host);
}

TEST_F(VHProgressHUDTest, HideAllHidesEveryHUD) {
    auto a = VHProgressHUD::showHUDAddedTo(host, true);
    auto b = VHProgressHUD::showHUDAddedTo(host, true);
    EXPECT_EQ(VHProgressHUD::hideAllHUDsForView(host, true), 2u);
    clock.advance(0.31);
    EXPECT_EQ(a->superview(), nullptr);
    EXPECT_EQ(b->superview(), nullptr);
    EXPECT_TRUE(VHProgressHUD::allHUDsForView(host).empty());
}

TEST_F(VHProgressHUDTest, AHUDMadeWithInitWithViewStaysTransparentInItsHost) {
    auto hud = added();
    hud->show(false);
    EXPECT_EQ(hud->alpha(), 1);
    hud->hide(false);
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_EQ(hud->superview(), host);
    hud->show(true);
    EXPECT_EQ(hud->alpha(), 1);
}

TEST_F(VHProgressHUDTest, HidingANeverShownHUDCompletesAtOnce) {
    auto delegate = make<RecordingDelegate>();
    auto hud = added();
    hud->setRemoveFromSuperViewOnHide(true);
    hud->setDelegate(delegate);
    int completions = 0;
    hud->setCompletionBlock([&] { ++completions; });
    hud->hide(true);
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_EQ(hud->superview(), nullptr);
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(hud->completionBlock());
    ASSERT_EQ(delegate->hidden.size(), 1u);
    EXPECT_EQ(delegate->hidden[0], hud);
    hud->hide(false);
    EXPECT_EQ(completions, 1) << "the block runs once";
    // The delegate is held weakly.
    delegate.reset();
    EXPECT_EQ(hud->delegate(), nullptr);
    hud->hide(false);  // nobody to tell
}

// ---- delays ------------------------------------------------------------------------------------

TEST_F(VHProgressHUDTest, DelayedHideRunsAfterItsDelayButNotWhileTheRunLoopTracks) {
    auto hud = VHProgressHUD::showHUDAddedTo(host, true);
    hud->hide(true, 1.5);
    clock.advance(1.49);
    EXPECT_FALSE(hiding(hud));
    clock.advance(0.02);
    EXPECT_TRUE(hiding(hud));
    clock.advance(0.3);
    EXPECT_EQ(hud->superview(), nullptr);
    hud = VHProgressHUD::showHUDAddedTo(host, false);
    hud->hide(false, 0.5);
    clock.advance(1, UITrackingRunLoopMode);
    EXPECT_EQ(hud->superview(), host);
    clock.advance(0.01);
    EXPECT_EQ(hud->superview(), nullptr);
}

TEST_F(VHProgressHUDTest, AShowBeforeTheDelayCancelsTheDelayedHide) {
    auto hud = VHProgressHUD::showHUDAddedTo(host, false);
    hud->hide(true, 1.0);
    clock.advance(0.5);
    hud->show(true);
    clock.advance(5);
    EXPECT_EQ(hud->alpha(), 1);
    EXPECT_EQ(hud->superview(), host);
}

TEST_F(VHProgressHUDTest, MinimumShowTimeHoldsTheHide) {
    auto hud = VHProgressHUD::showHUDAddedTo(host, true);
    hud->setMinShowTime(2);
    // A second show restarts the minimum-show clock.
    clock.advance(0.3);
    hud->show(true);
    clock.advance(0.5);
    hud->hide(true);
    ASSERT_TRUE(hud->minShowTimer());
    EXPECT_EQ(hud->alpha(), 1);
    clock.advance(1.49);
    EXPECT_EQ(hud->alpha(), 1);
    clock.advance(0.02);
    EXPECT_TRUE(hiding(hud));
    clock.advance(0.31);
    EXPECT_EQ(hud->superview(), nullptr);
}

TEST_F(VHProgressHUDTest, GraceTimeShowsOnlyWhileATaskRuns) {
    auto hud = added();
    hud->setGraceTime(0.5);
    hud->show(true);
    ASSERT_TRUE(hud->graceTimer());
    clock.advance(1);
    EXPECT_EQ(hud->alpha(), 0);

    hud->setTaskInProgress(true);
    hud->show(false);
    clock.advance(0.49);
    EXPECT_EQ(hud->alpha(), 0);
    clock.advance(0.02);
    EXPECT_EQ(hud->alpha(), 1);
}

TEST_F(VHProgressHUDTest, AHUDHiddenDuringItsGraceTimeNeverAppearsAndCompletesAtOnce) {
    auto hud = added();
    hud->setGraceTime(0.5);
    hud->setRemoveFromSuperViewOnHide(true);
    hud->setTaskInProgress(true);
    hud->show(true);
    hud->hide(true);
    EXPECT_EQ(hud->superview(), nullptr);
    clock.advance(1);
    EXPECT_EQ(hud->alpha(), 0);
}

TEST_F(VHProgressHUDTest, AShowCancelsAHideHeldForTheMinimumShowTime) {
    auto hud = VHProgressHUD::showHUDAddedTo(host, false);
    hud->setMinShowTime(2);
    clock.advance(0.5);
    hud->hide(false);  // held until 2.0
    clock.advance(0.5);
    hud->show(false);  // a new showing
    clock.advance(2);
    EXPECT_EQ(hud->alpha(), 1);
    EXPECT_EQ(hud->superview(), host);
}

// ---- animations --------------------------------------------------------------------------------

TEST_F(VHProgressHUDTest, ZoomTypesScaleAroundTheRotation) {
    auto hud = added();
    hud->setAnimationType(VHProgressHUDAnimationShrink);
    hud->show(true);
    auto animation = asKind<CABasicAnimation>(hud->layer()->animationForKey("transform"));
    ASSERT_TRUE(animation);
    EXPECT_NEAR(CATransform3DGetAffineTransform(
                    NSValue_CATransform3D::CATransform3DValue(animation->fromValue().objectAs<NSValue>()))
                    .a,
                1.5, 1e-9);
    EXPECT_EQ(hud->transform().a, 1);
    clock.advance(0.31);
    hud->hide(true);
    EXPECT_NEAR(hud->transform().a, 0.5, 1e-9);

    auto grow = added();
    grow->setAnimationType(VHProgressHUDAnimationGrow);
    grow->show(true);
    EXPECT_EQ(grow->transform().a, 1);
    clock.advance(0.31);
    grow->hide(true);
    EXPECT_NEAR(grow->transform().a, 1.5, 1e-9);
}

// ---- indicators --------------------------------------------------------------------------------

TEST_F(VHProgressHUDTest, IndicatorFollowsTheMode) {
    auto hud = make<VHProgressHUD>(host);
    hud->setMode(VHProgressHUDModeRound);
    auto round = asKind<VHRoundProgressView>(hud->indicator());
    ASSERT_TRUE(round);
    EXPECT_EQ(round->frame().size, CGSizeMake(37, 37));
    EXPECT_FALSE(round->isAnnular());
    hud->setMode(VHProgressHUDModeRing);
    EXPECT_EQ(hud->indicator(), round) << "kept, made annular";
    EXPECT_TRUE(round->isAnnular());
    hud->setMode(VHProgressHUDModeRound);
    EXPECT_TRUE(round->isAnnular()) << "a ring stays a ring";

    hud->setProgress(0.4f);
    hud->setMode(VHProgressHUDModeBar);
    auto bar = asKind<VHBarProgressView>(hud->indicator());
    ASSERT_TRUE(bar);
    EXPECT_EQ(round->superview(), nullptr);
    EXPECT_EQ(bar->progress(), 0) << "a new bar starts empty";
    hud->setProgress(0.6f);
    EXPECT_FLOAT_EQ(bar->progress(), 0.6f);
    hud->setMode(VHProgressHUDModeBar);
    EXPECT_NE(hud->indicator(), bar) << "the bar is always made anew";

    hud->setMode(VHProgressHUDModeText);
    EXPECT_EQ(hud->indicator(), nullptr);
    hud->setMode(7);
    EXPECT_EQ(hud->indicator(), nullptr) << "unknown modes leave the indicator";

    auto custom = make<ProgressTakingView>();
    hud->setCustomView(custom);
    hud->setMode(VHProgressHUDModeCustomView);
    EXPECT_EQ(hud->indicator(), custom);
    EXPECT_EQ(custom->superview(), hud);
    hud->setProgress(0.25f);
    EXPECT_FLOAT_EQ(custom->progress, 0.25f);

    hud->setMode(VHProgressHUDModeSpinner);
    auto spinner = asKind<UIActivityIndicatorView>(hud->indicator());
    ASSERT_TRUE(spinner);
    EXPECT_EQ(custom->superview(), nullptr);
    hud->setActivityIndicatorColor(UIColor::redColor());
    EXPECT_EQ(hud->indicator(), spinner);
    EXPECT_TRUE(spinner->color()->isEqual(*UIColor::redColor()));
    // Custom mode without a view has no indicator.
    hud->setCustomView(nullptr);
    hud->setMode(VHProgressHUDModeCustomView);
    EXPECT_EQ(hud->indicator(), nullptr);
}

TEST_F(VHProgressHUDTest, ProgressIsIgnoredWithoutAProgressIndicatorAndNeverRelaysOut) {
    auto hud = added();
    hud->layoutIfNeeded();
    hud->layoutIfNeeded();  // the first pass resized the labels, which asks for a second
    hud->displayNow();
    ASSERT_FALSE(hud->needsLayout());
    hud->setProgress(0.5f);  // spinner: nothing to tell
    EXPECT_FALSE(hud->needsLayout());
    EXPECT_FALSE(hud->needsDisplay());
    hud->setLabelText("x");
    EXPECT_TRUE(hud->needsLayout());
    EXPECT_TRUE(hud->needsDisplay());
    EXPECT_EQ(hud->label()->text(), "x");
}

TEST_F(VHProgressHUDTest, LabelPropertiesReachTheLabels) {
    auto hud = make<VHProgressHUD>(host);
    hud->setLabelColor(UIColor::redColor());
    hud->setDetailsLabelText("details");
    hud->setDetailsLabelFont(UIFont::systemFontOfSize(9));
    hud->setDetailsLabelColor(UIColor::blueColor());
    EXPECT_TRUE(hud->label()->textColor()->isEqual(*UIColor::redColor()));
    EXPECT_EQ(hud->detailsLabel()->text(), "details");
    EXPECT_EQ(hud->detailsLabel()->font()->pointSize(), 9);
    EXPECT_TRUE(hud->detailsLabel()->textColor()->isEqual(*UIColor::blueColor()));
}

// ---- layout ------------------------------------------------------------------------------------

TEST_F(VHProgressHUDTest, TextModeBoxIsTheTextPlusMarginsSquaredOrGrownToTheMinimum) {
    auto hud = textHUD();
    const CGRect centred = CGRectMake(110, 228, 100, 24);
    EXPECT_EQ(hud->size(), CGSizeMake(140, 64));
    EXPECT_EQ(hud->label()->frame(), centred);
    EXPECT_EQ(hud->detailsLabel()->frame().size, CGSizeZero);
    hud->setSquare(true);
    relayout(hud);
    EXPECT_EQ(hud->size(), CGSizeMake(140, 140));
    EXPECT_EQ(hud->label()->frame(), centred) << "content stays centred";
    hud->setSquare(false);
    hud->setMinSize(CGSizeMake(200, 180));
    relayout(hud);
    EXPECT_EQ(hud->size(), CGSizeMake(200, 180));
    EXPECT_EQ(hud->label()->frame(), centred);
    // Offsets move the content.
    hud->setXOffset(10);
    hud->setYOffset(-30);
    relayout(hud);
    EXPECT_EQ(hud->label()->frame().origin, CGPointMake(120, 198));
}

TEST_F(VHProgressHUDTest, SquareKeepsASideThatDoesNotFit) {
    auto narrow = make<UIView>(CGRectMake(0, 0, 170, 480));
    auto hud = make<VHProgressHUD>(narrow);
    narrow->addSubview(hud);
    hud->setMode(VHProgressHUDModeText);
    hud->setLabelFont(UIFont::boldSystemFontOfSize(20));
    hud->setLabelText("ABCDEFGHIJ");
    hud->setMargin(10);
    hud->setSquare(true);
    hud->layoutIfNeeded();
    // 100 + 20 = 120 wide, 24 + 20 = 44 high; a side of 120 fits 170 - 20 both ways.
    EXPECT_EQ(hud->size(), CGSizeMake(120, 120));
    // Many lines of details make the box taller than the width allows: only the height squares.
    hud->setDetailsLabelText(std::string(1000, 'y'));
    relayout(hud);
    CGSize size = hud->size();
    EXPECT_GT(size.height, 150);
    EXPECT_LE(size.width, 150);
    EXPECT_LT(size.width, size.height);
}

TEST_F(VHProgressHUDTest, IndicatorLabelAndDetailsStackWithPadding) {
    auto hud = added();
    hud->setLabelFont(UIFont::boldSystemFontOfSize(20));
    hud->setLabelText("ABCDEFGHIJ");
    hud->setDetailsLabelFont(UIFont::systemFontOfSize(10));
    hud->setDetailsLabelText("abcd");  // 20 x 12
    hud->layoutIfNeeded();
    // 37 + 4 + 24 + 4 + 12 = 81, + 40 = 121; y0 = round((480 - 121) / 2) + 20 = 200.
    EXPECT_EQ(hud->size(), CGSizeMake(140, 121));
    EXPECT_EQ(hud->indicator()->frame(), CGRectMake(142, 200, 37, 37));
    EXPECT_EQ(hud->label()->frame(), CGRectMake(110, 241, 100, 24));
    EXPECT_EQ(hud->detailsLabel()->frame(), CGRectMake(150, 269, 20, 12));
}

TEST_F(VHProgressHUDTest, LongTextsAreCutToTheRoom) {
    auto hud = added();
    hud->setMode(VHProgressHUDModeText);
    hud->setLabelText(std::string(60, 'x'));  // 480 points in bold 16: cut to 320 - 80 = 240
    hud->setDetailsLabelText(std::string(2000, 'y'));
    hud->layoutIfNeeded();
    EXPECT_EQ(hud->label()->frame().size.width, 240);
    CGRect details = hud->detailsLabel()->frame();
    EXPECT_LE(details.size.width, 240);
    // The room left: 480 - 19.2 - 4 - 80.
    EXPECT_LE(details.size.height, 480 - 19.2 - 4 - 80 + 0.01);
    EXPECT_GT(details.size.height, 300);
}

TEST_F(VHProgressHUDTest, TheHUDFollowsItsHostsBounds) {
    auto hud = textHUD();
    host->setBounds(CGRectMake(0, 0, 400, 600));
    relayout(hud);
    EXPECT_EQ(hud->frame(), CGRectMake(0, 0, 400, 600));
    host->setBounds(CGRectMake(0, 0, 300, 300));
    NSNotificationCenter::defaultCenter()->postNotificationName(
        UIApplicationDidChangeStatusBarOrientationNotification);
    EXPECT_EQ(hud->bounds().size, CGSizeMake(300, 300));
}

// ---- drawing -----------------------------------------------------------------------------------

TEST_F(VHProgressHUDTest, DrawsARoundedTranslucentBox) {
    auto hud = textHUD();
    hud->setAlpha(1);
    auto image = controlstest::render(hud);
    // Box: (90, 208) to (230, 272).
    EXPECT_PX(image, 95, 240, 0, 0, 0, 204);
    EXPECT_PX(image, 85, 240, 0, 0, 0, 0);
    EXPECT_PX(image, 90, 208, 0, 0, 0, 0);  // the rounded corner
    hud->setColor(UIColor::colorWithRed(0, 0, 1, 1));
    hud->setNeedsDisplay();
    image = controlstest::render(hud);
    EXPECT_PX(image, 95, 240, 0, 0, 255, 255);
}

TEST_F(VHProgressHUDTest, DimmingIsCentredOnTheWholeHUD) {
    auto hud = textHUD();
    hud->setYOffset(150);  // the box well below the middle
    hud->setDimBackground(true);
    hud->setAlpha(1);
    relayout(hud);
    auto image = controlstest::render(hud);
    EXPECT_LT(pixelAt(image, 160, 240).a, 3);
    EXPECT_NEAR(pixelAt(image, 160, 140).a, pixelAt(image, 160, 340).a, 2);
    EXPECT_NEAR(pixelAt(image, 0, 0).a, 172, 3) << "0.75 x 288 / 320 of black";
}

// ---- threads -----------------------------------------------------------------------------------

TEST_F(VHProgressHUDTest, ChangesFromAnotherThreadApplyOnTheMainThread) {
    auto hud = textHUD();
    std::thread([hud] { hud->setLabelText("from a task"); }).join();
    EXPECT_EQ(hud->labelText(), "from a task");
    EXPECT_EQ(hud->label()->text(), "ABCDEFGHIJ") << "not yet: handed to the main thread";
    testsupport::drainMainRunLoop();
    EXPECT_EQ(hud->label()->text(), "from a task");
}

TEST_F(VHProgressHUDTest, ProgressFromManyThreadsEndsOnTheMainThread) {
    auto hud = make<VHProgressHUD>(host);
    hud->setMode(VHProgressHUDModeBar);
    auto bar = asKind<VHBarProgressView>(hud->indicator());
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([hud] {
            for (int k = 0; k <= 100; ++k) hud->setProgress(k / 100.0f);
        });
    }
    for (auto& t : threads) t.join();
    testsupport::drainMainRunLoop();
    EXPECT_FLOAT_EQ(bar->progress(), 1.0f);
}

TEST_F(VHProgressHUDTest, BlockTaskRunsOffTheMainThreadThenHides) {
    auto hud = added();
    auto delegate = make<RecordingDelegate>();
    hud->setDelegate(delegate);
    std::atomic<bool> ranOffMain{false};
    bool completed = false;
    hud->showAnimated(
        false, [&] { ranOffMain = !NSThread::isMainThread(); },
        [&] { completed = NSThread::isMainThread(); });
    EXPECT_TRUE(hud->taskInProgress());
    EXPECT_EQ(hud->alpha(), 1);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !hud->taskInProgress(); }));
    EXPECT_TRUE(ranOffMain);
    EXPECT_TRUE(completed);
    EXPECT_EQ(hud->alpha(), 0);
    EXPECT_EQ(delegate->hidden.size(), 1u);
}

TEST_F(VHProgressHUDTest, ATaskEndingWithinTheGraceTimeNeverShows) {
    auto hud = added();
    hud->setGraceTime(1);
    auto queue = dispatch_queue_create("task", DISPATCH_QUEUE_SERIAL);
    hud->showAnimated(
        true, [] {}, queue);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !hud->taskInProgress(); }));
    clock.advance(2);
    EXPECT_EQ(hud->alpha(), 0);
}

TEST_F(VHProgressHUDTest, SelectorTaskRunsOnADetachedThreadWithItsObject) {
    auto hud = added();
    hud->setRemoveFromSuperViewOnHide(true);
    auto target = make<NSObject>();
    std::atomic<bool> sawTarget{false};
    std::atomic<int> object{0};
    std::atomic<bool> offMain{false};
    hud->showWhileExecuting(
        [&](const Ref<NSObject>& t, const Value& o) {
            sawTarget = t == target;
            object = o.intValue();
            offMain = !NSThread::isMainThread();
        },
        target, Value(42), false);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return hud->superview() == nullptr; }));
    EXPECT_TRUE(sawTarget);
    EXPECT_EQ(object, 42);
    EXPECT_TRUE(offMain);
    EXPECT_FALSE(hud->taskInProgress());
}
