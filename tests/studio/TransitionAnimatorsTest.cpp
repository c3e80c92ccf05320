// The three modal animators and the pop animator's backdrop: what each puts in the container,
// how long it runs on the manual clock, and what it reports to the transition context.

#include <gtest/gtest.h>

#include <cmath>

#include "graphics/CGContext.h"
#include "graphics/CGImage.h"
#include "graphics/NSValue+Geometry.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"
#include "studio/GradientView.h"
#include "studio/PopAnimator.h"
#include "studio/QVNTransitionAnimator.h"
#include "studio/SlideOutAnimationController.h"
#include "tests/support/MainLoop.h"
#include "uikit/CAAnimation.h"
#include "uikit/UIScreen.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"

namespace {

// A transition context that the test fills in and that records what the animator reports.
class RecordingContext : public UIViewControllerContextTransitioning {
  public:
    Ref<UIView> container = make<UIView>(UIScreen::mainScreen()->bounds());
    Ref<UIViewController> from;
    Ref<UIViewController> to;
    CGRect finalFrame = CGRectMake(40, 30, 200, 120);
    std::vector<bool> completions;

    Ref<UIView> containerView() const override { return container; }
    bool isAnimated() const override { return true; }
    bool transitionWasCancelled() const override { return !completions.empty() && !completions.front(); }
    UIModalPresentationStyle presentationStyle() const override { return UIModalPresentationCustom; }
    void completeTransition(bool didComplete) override { completions.push_back(didComplete); }
    Ref<UIViewController> viewControllerForKey(const std::string& key) const override {
        if (key == UITransitionContextFromViewControllerKey) return from;
        if (key == UITransitionContextToViewControllerKey) return to;
        return nullptr;
    }
    Ref<UIView> viewForKey(const std::string& key) const override {
        if (key == UITransitionContextFromViewKey) return from ? from->view() : nullptr;
        if (key == UITransitionContextToViewKey) return to ? to->view() : nullptr;
        return nullptr;
    }
    CGRect initialFrameForViewController(const Ref<UIViewController>&) const override { return CGRectZero; }
    CGRect finalFrameForViewController(const Ref<UIViewController>& c) const override {
        return c == to ? finalFrame : CGRectZero;
    }
};

class TransitionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        context = std::make_shared<RecordingContext>();
        context->from = make<UIViewController>();
        context->to = make<UIViewController>();
    }
    void TearDown() override { testsupport::drainMainRunLoop(); }

    testsupport::ManualClock clock;
    std::shared_ptr<RecordingContext> context;
};

bool near(double a, double b) {
    return std::fabs(a - b) < 1e-6;
}

}  // namespace

// ---- slide-in -----------------------------------------------------------------------------------

TEST_F(TransitionTest, SlideInStartsOneScreenLeftAndEndsOnTheScreenWhateverTheContextProposes) {
    auto animator = make<QVNTransitionAnimator>();
    EXPECT_EQ(animator->transitionDuration(context), 0.5);
    CGRect screen = UIScreen::mainScreen()->bounds();
    animator->animateTransition(context);

    ASSERT_EQ(context->container->subviews().size(), 2u);
    EXPECT_EQ(context->container->subviews()[0], context->from->view());
    EXPECT_EQ(context->container->subviews()[1], context->to->view());
    EXPECT_TRUE(CGRectEqualToRect(context->to->view()->frame(), screen));
    auto slide = std::dynamic_pointer_cast<CABasicAnimation>(
        context->to->view()->layer()->animationForKey("position"));
    ASSERT_TRUE(slide);
    EXPECT_EQ(slide->duration(), 0.5);
    auto start = std::dynamic_pointer_cast<NSValue>(slide->fromValue().object());
    ASSERT_TRUE(start);
    EXPECT_DOUBLE_EQ(NSValue_Geometry::CGPointValue(start).x, -screen.size.width / 2);

    clock.advance(0.49);
    EXPECT_TRUE(context->completions.empty());
    clock.advance(0.02);
    EXPECT_EQ(context->completions, std::vector<bool>{true});
}

TEST_F(TransitionTest, SlideInReportsSuccessEvenWhenInterrupted) {
    make<QVNTransitionAnimator>()->animateTransition(context);
    context->to->view()->layer()->removeAllAnimations();
    clock.advance(0.6);
    EXPECT_EQ(context->completions, std::vector<bool>{true});
}

// ---- pop ----------------------------------------------------------------------------------------

TEST_F(TransitionTest, PopLaysTheBackdropBelowAndLeavesTheFromViewAlone) {
    auto animator = make<PopAnimator>();
    EXPECT_EQ(animator->duration(), 1.0);
    auto underneath = make<UIView>(CGRectMake(0, 0, 10, 10));
    context->container->addSubview(underneath);
    animator->animateTransition(context);

    const auto& subviews = context->container->subviews();
    ASSERT_EQ(subviews.size(), 3u);
    EXPECT_EQ(subviews[0], animator->gradientView());
    EXPECT_EQ(subviews[1], underneath);
    EXPECT_EQ(subviews[2], context->to->view());
    EXPECT_FALSE(context->from->isViewLoaded());
    EXPECT_TRUE(CGRectEqualToRect(animator->gradientView()->frame(), context->container->bounds()));
    EXPECT_TRUE(CGRectEqualToRect(context->to->view()->frame(), context->finalFrame));
    EXPECT_TRUE(CGAffineTransformIsIdentity(context->to->view()->transform()));
    EXPECT_EQ(animator->gradientView()->alpha(), 1.0);

    auto keyframes = std::dynamic_pointer_cast<CAKeyframeAnimation>(
        context->to->view()->layer()->animationForKey("transform"));
    ASSERT_TRUE(keyframes);
    EXPECT_EQ(keyframes->duration(), 1.0);
    clock.advance(0.99);
    EXPECT_TRUE(context->completions.empty());
    clock.advance(0.02);
    EXPECT_EQ(context->completions, std::vector<bool>{true});
    // The backdrop stays while the presented screen shows.
    EXPECT_EQ(animator->gradientView()->superview(), context->container);
}

TEST_F(TransitionTest, ALongerPopStillFadesTheBackdropInOneSecond) {
    auto animator = make<PopAnimator>();
    animator->setDuration(2.0);
    EXPECT_EQ(animator->transitionDuration(context), 2.0);
    animator->animateTransition(context);
    auto fade = std::dynamic_pointer_cast<CABasicAnimation>(
        animator->gradientView()->layer()->animationForKey("opacity"));
    ASSERT_TRUE(fade);
    EXPECT_EQ(fade->duration(), 1.0);
    auto keyframes = std::dynamic_pointer_cast<CAKeyframeAnimation>(
        context->to->view()->layer()->animationForKey("transform"));
    ASSERT_TRUE(keyframes);
    EXPECT_EQ(keyframes->duration(), 2.0);
    clock.advance(1.5);
    EXPECT_TRUE(context->completions.empty());
    clock.advance(0.6);
    EXPECT_EQ(context->completions, std::vector<bool>{true});
}

TEST_F(TransitionTest, PopKeyFramesGrowShrinkAndSettle) {
    auto animator = make<PopAnimator>();
    animator->animateTransition(context);
    auto keyframes = std::dynamic_pointer_cast<CAKeyframeAnimation>(
        context->to->view()->layer()->animationForKey("transform"));
    ASSERT_TRUE(keyframes);
    // The start (0.7) and the three frames' ends.
    std::vector<double> scales;
    for (const Value& v : keyframes->values()) {
        auto boxed = std::dynamic_pointer_cast<NSValue>(v.object());
        ASSERT_TRUE(boxed);
        scales.push_back(NSValue_CATransform3D::CATransform3DValue(boxed).m11);
    }
    ASSERT_GE(scales.size(), 4u);
    EXPECT_TRUE(near(scales.front(), 0.7));
    EXPECT_TRUE(near(scales[scales.size() - 3], 1.2));
    EXPECT_TRUE(near(scales[scales.size() - 2], 0.7));
    EXPECT_TRUE(near(scales.back(), 1.0));
}

TEST_F(TransitionTest, EachPopAnimatorHasItsOwnBackdrop) {
    auto a = make<PopAnimator>();
    auto b = make<PopAnimator>();
    EXPECT_NE(a->gradientView(), b->gradientView());
    EXPECT_EQ(a->gradientView(), a->gradientView());
    EXPECT_TRUE(CGRectEqualToRect(a->gradientView()->frame(), CGRectZero));
}

// ---- slide-out ----------------------------------------------------------------------------------

TEST_F(TransitionTest, SlideOutFliesUpByTheContainerHeightAtHalfSize) {
    auto animator = make<SlideOutAnimationController>();
    EXPECT_EQ(animator->transitionDuration(context), 0.3);
    Ref<UIView> leaving = context->from->view();
    leaving->setFrame(CGRectMake(20, 100, 200, 100));
    CGPoint before = leaving->center();
    animator->animateTransition(context);
    EXPECT_DOUBLE_EQ(leaving->center().x, before.x);
    EXPECT_DOUBLE_EQ(leaving->center().y, before.y - context->container->bounds().size.height);
    EXPECT_TRUE(near(leaving->transform().a, 0.5));
    EXPECT_TRUE(near(leaving->transform().d, 0.5));
    EXPECT_FALSE(context->to->isViewLoaded());
    clock.advance(0.29);
    EXPECT_TRUE(context->completions.empty());
    clock.advance(0.02);
    EXPECT_EQ(context->completions, std::vector<bool>{true});
}

TEST_F(TransitionTest, AnInterruptedSlideOutReportsTheInterruption) {
    make<SlideOutAnimationController>()->animateTransition(context);
    context->from->view()->layer()->removeAllAnimations();
    clock.advance(0.5);
    EXPECT_EQ(context->completions, std::vector<bool>{false});
}

TEST_F(TransitionTest, AnimatorsWithoutViewsStillEndTheTransition) {
    auto empty = std::make_shared<RecordingContext>();
    make<SlideOutAnimationController>()->animateTransition(empty);
    make<PopAnimator>()->animateTransition(empty);
    make<QVNTransitionAnimator>()->animateTransition(empty);
    EXPECT_EQ(empty->completions, (std::vector<bool>{true, true, true}));
}

// ---- the backdrop -------------------------------------------------------------------------------

TEST(GradientViewTest, BothInitialisersGiveAClearStretchingView) {
    for (const Ref<GradientView>& view :
         {make<GradientView>(), make<GradientView>(CGRectMake(0, 0, 50, 50))}) {
        ASSERT_TRUE(view->backgroundColor());
        EXPECT_TRUE(view->backgroundColor()->isEqual(*UIColor::clearColor()));
        EXPECT_EQ(view->autoresizingMask(), 18u);
    }
}

TEST(GradientViewTest, TheMiddleIsLightAndTheCornersDark) {
    auto view = make<GradientView>(CGRectMake(0, 0, 200, 100));
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(200, 100), false, 1);
    view->drawRect(view->bounds());
    Ref<UIImage> picture = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    ASSERT_TRUE(picture);
    CGImageRef image = picture->CGImage();
    NSData pixels = detail::pixelsAsPremultipliedBGRA(*image);
    std::size_t width = CGImageGetWidth(image);
    auto alphaAt = [&](int x, int y) {
        return pixels.bytes()[(static_cast<std::size_t>(y) * width + x) * 4 + 3] / 255.0;
    };
    EXPECT_NEAR(alphaAt(100, 50), 0.3, 0.03);
    EXPECT_NEAR(alphaAt(0, 0), 0.7, 0.03);
    EXPECT_NEAR(alphaAt(199, 99), 0.7, 0.03);
    // Half-way out along the long axis.
    EXPECT_NEAR(alphaAt(150, 50), 0.5, 0.05);
}

TEST(GradientViewTest, DrawingWithoutAContextDoesNothing) {
    auto view = make<GradientView>(CGRectMake(0, 0, 20, 20));
    view->drawRect(view->bounds());
    SUCCEED();
}
