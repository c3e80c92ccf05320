// View animations on the manual clock: model values, completion timing and order, finished flags,
// interruption, zero durations, keyframes, the begin/commit form and touch blocking.

#include <cmath>
#include <string>
#include <vector>

#include "UIKitTestSupport.h"
#include "graphics/NSValue+Geometry.h"
#include "uikit/CAAnimation.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

using testsupport::drainMainRunLoop;
using testsupport::ManualClock;
using uikittest::UIKitTest;

namespace {

class ViewAnimationTest : public UIKitTest {
  protected:
    ManualClock clock;
    std::vector<std::string> done;
    UIViewAnimationCompletion note(const std::string& name) {
        return [this, name](bool finished) { done.push_back(name + (finished ? ":yes" : ":no")); };
    }
};

}  // namespace

TEST_F(ViewAnimationTest, ModelValuesChangeAtOnceAndCompletionFollowsTheDuration) {
    auto view = make<UIView>(CGRectMake(0, 0, 10, 10));
    UIView::animateWithDuration(
        0.3,
        [&] {
            view->setAlpha(0.5);
            view->setCenter({100, 100});
        },
        note("a"));
    EXPECT_EQ(view->alpha(), 0.5);
    EXPECT_POINT(view->center(), 100, 100);
    EXPECT_EQ(view->runningAnimationCount(), 2u);
    auto keys = view->layer()->animationKeys();
    EXPECT_EQ(keys, (std::vector<std::string>{"opacity", "position"}));
    auto opacity = asKind<CABasicAnimation>(view->layer()->animationForKey("opacity"));
    ASSERT_TRUE(opacity);
    EXPECT_DOUBLE_EQ(opacity->fromValue().doubleValue(), 1.0);
    EXPECT_DOUBLE_EQ(opacity->toValue().doubleValue(), 0.5);
    EXPECT_DOUBLE_EQ(opacity->duration(), 0.3);

    clock.advance(0.29);
    EXPECT_TRUE(done.empty());
    clock.advance(0.02);
    EXPECT_EQ(done, std::vector<std::string>{"a:yes"});
    EXPECT_EQ(view->runningAnimationCount(), 0u);
}

TEST_F(ViewAnimationTest, CompletionsRunInTimeOrder) {
    auto a = make<UIView>(), b = make<UIView>(), c = make<UIView>();
    UIView::animateWithDuration(
        0.5, [&] { a->setAlpha(0); }, note("slow"));
    UIView::animateWithDuration(
        0.1, [&] { b->setAlpha(0); }, note("fast"));
    UIView::animateWithDuration(
        0.2, 0.2, 0, [&] { c->setAlpha(0); }, note("delayed"));
    clock.advance(1);
    EXPECT_EQ(done, (std::vector<std::string>{"fast:yes", "delayed:yes", "slow:yes"}));
}

TEST_F(ViewAnimationTest, DelayPostponesTheCompletion) {
    auto view = make<UIView>();
    UIView::animateWithDuration(
        0.25, 1.0, UIViewAnimationOptionCurveLinear, [&] { view->setAlpha(0.2); }, note("d"));
    EXPECT_NEAR(view->alpha(), 0.2, 1e-6);  // still at once
    auto anim = view->layer()->animationForKey("opacity");
    ASSERT_TRUE(anim);
    EXPECT_EQ(anim->timingFunction()->name(), kCAMediaTimingFunctionLinear);
    clock.advance(1.2);
    EXPECT_TRUE(done.empty());
    clock.advance(0.1);
    EXPECT_EQ(done, std::vector<std::string>{"d:yes"});
}

TEST_F(ViewAnimationTest, ZeroDurationCompletesOnTheNextTurnNeverInline) {
    auto view = make<UIView>();
    UIView::animateWithDuration(
        0, [&] { view->setAlpha(0); }, note("zero"));
    EXPECT_TRUE(done.empty());
    EXPECT_EQ(view->runningAnimationCount(), 0u);
    drainMainRunLoop();
    EXPECT_EQ(done, std::vector<std::string>{"zero:yes"});
}

TEST_F(ViewAnimationTest, BlocksThatChangeNothingStillTakeTheirTime) {
    UIView::animateWithDuration(
        0.4, [] {}, note("empty"));
    clock.advance(0.39);
    EXPECT_TRUE(done.empty());
    clock.advance(0.02);
    EXPECT_EQ(done, std::vector<std::string>{"empty:yes"});
}

TEST_F(ViewAnimationTest, RemovingTheLayersAnimationsInterrupts) {
    auto view = make<UIView>();
    UIView::animateWithDuration(
        1, [&] { view->setAlpha(0); }, note("cut"));
    clock.advance(0.5);
    view->layer()->removeAllAnimations();
    EXPECT_TRUE(done.empty());  // told on the next turn
    drainMainRunLoop();
    EXPECT_EQ(done, std::vector<std::string>{"cut:no"});
    clock.advance(1);
    EXPECT_EQ(done.size(), 1u);  // never twice
}

TEST_F(ViewAnimationTest, ANewAnimationOfTheSamePropertyInterrupts) {
    auto view = make<UIView>();
    auto other = make<UIView>();
    UIView::animateWithDuration(
        1,
        [&] {
            view->setCenter({50, 50});
            view->setAlpha(0.5);
        },
        note("first"));
    UIView::animateWithDuration(
        0.2,
        [&] {
            other->setCenter({1, 1});
        },
        note("other view"));
    clock.advance(0.1);
    UIView::animateWithDuration(
        0.3,
        [&] {
            view->setCenter({80, 80});
        },
        note("second"));
    // The first block still has its opacity animation running: it finishes at 1 s, unfinished.
    clock.advance(0.05);
    EXPECT_TRUE(done.empty());
    clock.advance(2);
    EXPECT_EQ(done, (std::vector<std::string>{"other view:yes", "second:yes", "first:no"}));
    EXPECT_POINT(view->center(), 80, 80);
}

TEST_F(ViewAnimationTest, ChangingAFrameAnimatesPositionAndBounds) {
    auto view = make<UIView>(CGRectMake(0, 0, 10, 10));
    UIView::animateWithDuration(
        0.2, [&] { view->setFrame(CGRectMake(10, 10, 20, 20)); }, note("f"));
    EXPECT_EQ(view->layer()->animationKeys(), (std::vector<std::string>{"position", "bounds"}));
    auto bounds = asKind<CABasicAnimation>(view->layer()->animationForKey("bounds"));
    EXPECT_EQ(NSValue_Geometry::CGRectValue(bounds->toValue().objectAs<NSValue>()), CGRectMake(0, 0, 20, 20));
    // Only the position is taken over: the block ends unfinished when its bounds finish.
    UIView::animateWithDuration(
        0.1,
        [&] {
            view->setCenter({0, 0});
        },
        nullptr);
    clock.advance(0.5);
    EXPECT_EQ(done, std::vector<std::string>{"f:no"});
}

TEST_F(ViewAnimationTest, WithoutAnimationNothingIsRecorded) {
    auto view = make<UIView>();
    UIView::animateWithDuration(
        1, [&] { UIView::performWithoutAnimation([&] { view->setAlpha(0.3); }); }, note("plain"));
    EXPECT_EQ(view->runningAnimationCount(), 0u);
    EXPECT_NEAR(view->alpha(), 0.3, 1e-6);
    UIView::setAnimationsEnabled(false);
    UIView::animateWithDuration(
        5, [&] { view->setAlpha(0.1); }, note("disabled"));
    UIView::setAnimationsEnabled(true);
    EXPECT_EQ(view->runningAnimationCount(), 0u);
    drainMainRunLoop();
    EXPECT_EQ(done, std::vector<std::string>{"disabled:yes"});
    clock.advance(1);
    EXPECT_EQ(done, (std::vector<std::string>{"disabled:yes", "plain:yes"}));
}

TEST_F(ViewAnimationTest, RepeatingAnimationsNeverComplete) {
    auto view = make<UIView>();
    UIView::animateWithDuration(
        0.5, 0, UIViewAnimationOptionRepeat | UIViewAnimationOptionAutoreverse, [&] { view->setAlpha(0); },
        note("pulse"));
    auto anim = view->layer()->animationForKey("opacity");
    ASSERT_TRUE(anim);
    EXPECT_TRUE(anim->autoreverses());
    EXPECT_TRUE(anim->repeatsForever());
    clock.advance(10);
    EXPECT_TRUE(done.empty());
    view->layer()->removeAnimationForKey("opacity");
    drainMainRunLoop();
    EXPECT_EQ(done, std::vector<std::string>{"pulse:no"});
}

TEST_F(ViewAnimationTest, AnimatingViewsIgnoreTouchesUnlessAllowed) {
    auto window = make<UIWindow>(CGRectMake(0, 0, 100, 100));
    window->makeKeyAndVisible();
    auto button = make<UIView>(CGRectMake(0, 0, 50, 50));
    window->addSubview(button);
    UIView::animateWithDuration(
        0.3, [&] { button->setAlpha(0.9); }, nullptr);
    EXPECT_FALSE(button->acceptsTouchesDuringAnimations());
    EXPECT_EQ(window->hitTest({10, 10}, nullptr), window);
    clock.advance(0.31);
    EXPECT_EQ(window->hitTest({10, 10}, nullptr), button);
    UIView::animateWithDuration(
        0.3, 0, UIViewAnimationOptionAllowUserInteraction, [&] { button->setAlpha(1); }, nullptr);
    EXPECT_EQ(window->hitTest({10, 10}, nullptr), button);
}

TEST_F(ViewAnimationTest, KeyframesBecomeKeyframeAnimations) {
    auto view = make<UIView>(CGRectMake(0, 0, 10, 10));
    UIView::animateKeyframesWithDuration(
        1.0, 0, UIViewKeyframeAnimationOptionCalculationModeCubic,
        [&] {
            UIView::addKeyframeWithRelativeStartTime(
                0, 0.5, [&] { view->setTransform(CGAffineTransformMakeScale(2, 2)); });
            UIView::addKeyframeWithRelativeStartTime(0.5, 0.5,
                                                     [&] { view->setTransform(CGAffineTransformIdentity); });
        },
        note("keys"));
    auto anim = asKind<CAKeyframeAnimation>(view->layer()->animationForKey("transform"));
    ASSERT_TRUE(anim);
    EXPECT_EQ(anim->calculationMode(), kCAAnimationCubic);
    ASSERT_EQ(anim->values().size(), 3u);
    EXPECT_EQ(anim->keyTimes(), (std::vector<double>{0, 0.5, 1.0}));
    auto middle = NSValue_CATransform3D::CATransform3DValue(anim->values()[1].objectAs<NSValue>());
    EXPECT_EQ(CATransform3DGetAffineTransform(middle), CGAffineTransformMakeScale(2, 2));
    EXPECT_EQ(view->transform(), CGAffineTransformIdentity);
    clock.advance(0.99);
    EXPECT_TRUE(done.empty());
    clock.advance(0.02);
    EXPECT_EQ(done, std::vector<std::string>{"keys:yes"});
    // Outside a keyframe block a keyframe just runs its changes.
    UIView::addKeyframeWithRelativeStartTime(0, 1, [&] { view->setAlpha(0.4); });
    EXPECT_NEAR(view->alpha(), 0.4, 1e-6);
    EXPECT_EQ(view->runningAnimationCount(), 0u);
}

TEST_F(ViewAnimationTest, BeginCommitMapsOntoBlocksWithTheDidStopCall) {
    auto view = make<UIView>();
    auto delegate = make<NSObject>();
    int marker = 0;
    std::vector<std::string> stops;
    UIView::beginAnimations(std::string("hud"), &marker);
    UIView::setAnimationDuration(0.3);
    UIView::setAnimationDelegate(delegate);
    UIView::setAnimationDidStopSelector(
        [&](const std::optional<std::string>& id, bool finished, void* context) {
            stops.push_back(id.value_or("nil") + (finished ? ":yes" : ":no"));
            EXPECT_EQ(context, &marker);
        });
    view->setAlpha(0);
    UIView::commitAnimations();
    EXPECT_EQ(view->runningAnimationCount(), 1u);
    clock.advance(0.31);
    EXPECT_EQ(stops, std::vector<std::string>{"hud:yes"});

    // The call is skipped once the delegate has gone; the default duration is 0.2 s.
    UIView::beginAnimations(std::nullopt);
    UIView::setAnimationDelegate(delegate);
    UIView::setAnimationDidStopSelector(
        [&](const std::optional<std::string>&, bool, void*) { stops.push_back("late"); });
    view->setAlpha(1);
    UIView::commitAnimations();
    EXPECT_NEAR(view->layer()->animationForKey("opacity")->duration(), 0.2, 1e-9);
    delegate.reset();
    clock.advance(1);
    EXPECT_EQ(stops.size(), 1u);
    UIView::commitAnimations();  // unbalanced: nothing happens
}

TEST_F(ViewAnimationTest, TransitionsSwapViewsAndComplete) {
    auto container = make<UIView>();
    auto from = make<UIView>(), to = make<UIView>();
    container->addSubview(from);
    UIView::transitionFromView(from, to, 0.5, UIViewAnimationOptionTransitionFlipFromLeft, note("flip"));
    EXPECT_EQ(to->superview(), container);
    EXPECT_EQ(from->superview(), nullptr);
    auto transition = asKind<CATransition>(container->layer()->animationForKey("transition"));
    ASSERT_TRUE(transition);
    EXPECT_EQ(transition->type(), "oglFlip");
    clock.advance(0.6);
    EXPECT_EQ(done, std::vector<std::string>{"flip:yes"});

    UIView::transitionFromView(to, from, 0.5, UIViewAnimationOptionShowHideTransitionViews, nullptr);
    EXPECT_TRUE(to->isHidden());
    EXPECT_FALSE(from->isHidden());
    UIView::transitionWithView(
        container, 0, UIViewAnimationOptionTransitionCrossDissolve, [&] { container->setAlpha(0.5); },
        note("fade"));
    drainMainRunLoop();
    EXPECT_EQ(done.back(), "fade:yes");
}

TEST_F(ViewAnimationTest, ADestroyedViewStillCompletesItsBlockUnfinished) {
    auto view = make<UIView>();
    UIView::animateWithDuration(
        1, [&] { view->setAlpha(0); }, note("gone"));
    view.reset();
    drainMainRunLoop();
    EXPECT_EQ(done, std::vector<std::string>{"gone:no"});
}
