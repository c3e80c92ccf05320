// The spinner of the global HUD: its size, its layer's life cycle, path and endless animations.

#include <gtest/gtest.h>

#include <cmath>

#include "ControlsTestSupport.h"
#include "controls/GHIndefiniteAnimatedView.h"
#include "foundation/FoundationTesting.h"
#include "uikit/CAAnimation.h"
#include "uikit/UIScreen.h"

namespace {

class GHIndefiniteAnimatedViewTest : public ::testing::Test {
  protected:
    Ref<GHIndefiniteAnimatedView> spinner(double radius, double thickness = 2) {
        auto view = make<GHIndefiniteAnimatedView>(CGRectZero);
        view->setStrokeThickness(thickness);
        view->setStrokeColor(UIColor::blackColor());
        view->setRadius(radius);
        view->sizeToFit();
        return view;
    }

    controlstest::HUDResources resources;
    Ref<UIView> parent = make<UIView>(CGRectMake(0, 0, 200, 200));
};

}  // namespace

TEST_F(GHIndefiniteAnimatedViewTest, NaturalSizeHasAFivePointMargin) {
    EXPECT_EQ(spinner(18)->frame().size, CGSizeMake(48, 48));
    EXPECT_EQ(spinner(24)->frame().size, CGSizeMake(60, 60));
    EXPECT_EQ(spinner(24)->sizeThatFits(CGSizeMake(500, 1)), CGSizeMake(60, 60));
    EXPECT_EQ(spinner(10, 4)->sizeThatFits(CGSizeZero), CGSizeMake(34, 34));
}

TEST_F(GHIndefiniteAnimatedViewTest, NoLayerUntilLaidOutInAParent) {
    auto view = spinner(18);
    EXPECT_FALSE(view->hasIndefiniteAnimatedLayer());
    parent->addSubview(view);
    ASSERT_TRUE(view->hasIndefiniteAnimatedLayer());
    auto layer = view->indefiniteAnimatedLayer();
    EXPECT_EQ(layer->superlayer(), view->layer());
    EXPECT_EQ(layer->frame(), CGRectMake(0, 0, 48, 48));
    EXPECT_EQ(layer->position(), CGPointMake(24, 24));
}

TEST_F(GHIndefiniteAnimatedViewTest, LayerIsAClearRoundCappedArcAroundItsCentre) {
    auto view = spinner(18);
    parent->addSubview(view);
    auto layer = view->indefiniteAnimatedLayer();
    EXPECT_EQ(layer->lineWidth(), 2);
    EXPECT_EQ(layer->lineCap(), kCALineCapRound);
    EXPECT_EQ(layer->lineJoin(), kCALineJoinBevel);
    EXPECT_EQ(layer->contentsScale(), UIScreen::mainScreen()->scale());
    EXPECT_TRUE(UIColor::colorWithCGColor(layer->strokeColor())->isEqual(*UIColor::blackColor()));
    EXPECT_EQ(UIColor::colorWithCGColor(layer->fillColor())->alpha(), 0);
    CGRect box = CGPathGetPathBoundingBox(layer->path());
    EXPECT_NEAR(box.origin.x, 6, 1e-6);
    EXPECT_NEAR(box.origin.y, 6, 1e-6);
    EXPECT_NEAR(box.size.width, 36, 1e-6);
    EXPECT_NEAR(box.size.height, 36, 1e-6);
}

TEST_F(GHIndefiniteAnimatedViewTest, MaskTurnsForeverWhileTheEndsBreathe) {
    auto view = spinner(24);
    parent->addSubview(view);
    auto layer = view->indefiniteAnimatedLayer();
    auto mask = layer->mask();
    ASSERT_TRUE(mask);
    EXPECT_TRUE(mask->contents()) << "the angle mask comes from the resource bundle";
    EXPECT_EQ(mask->frame(), layer->bounds());

    auto rotate = asKind<CABasicAnimation>(mask->animationForKey("rotate"));
    ASSERT_TRUE(rotate);
    EXPECT_EQ(rotate->keyPath(), "transform.rotation");
    EXPECT_TRUE(rotate->fromValue().isNil());
    EXPECT_EQ(rotate->toValue().number()->type(), NSNumber::Type::Float);
    EXPECT_FLOAT_EQ(rotate->toValue().floatValue(), 6.2831854820251465f);
    EXPECT_EQ(rotate->duration(), 1);
    EXPECT_TRUE(rotate->repeatsForever());
    EXPECT_FALSE(rotate->isRemovedOnCompletion());
    EXPECT_EQ(rotate->fillMode(), kCAFillModeForwards);
    EXPECT_EQ(rotate->timingFunction()->name(), kCAMediaTimingFunctionLinear);

    auto group = asKind<CAAnimationGroup>(layer->animationForKey("progress"));
    ASSERT_TRUE(group);
    EXPECT_EQ(group->duration(), 1);
    EXPECT_TRUE(group->repeatsForever());
    EXPECT_FALSE(group->isRemovedOnCompletion());
    ASSERT_EQ(group->animations().size(), 2u);
    auto start = asKind<CABasicAnimation>(group->animations()[0]);
    auto end = asKind<CABasicAnimation>(group->animations()[1]);
    EXPECT_EQ(start->keyPath(), "strokeStart");
    EXPECT_DOUBLE_EQ(start->fromValue().doubleValue(), 0.015);
    EXPECT_DOUBLE_EQ(start->toValue().doubleValue(), 0.515);
    EXPECT_EQ(end->keyPath(), "strokeEnd");
    EXPECT_DOUBLE_EQ(end->fromValue().doubleValue(), 0.485);
    EXPECT_DOUBLE_EQ(end->toValue().doubleValue(), 0.985);
}

TEST_F(GHIndefiniteAnimatedViewTest, LeavingTheParentDropsTheLayer) {
    auto view = spinner(18);
    parent->addSubview(view);
    auto layer = view->indefiniteAnimatedLayer();
    view->removeFromSuperview();
    EXPECT_FALSE(view->hasIndefiniteAnimatedLayer());
    EXPECT_EQ(layer->superlayer(), nullptr);
    parent->addSubview(view);
    EXPECT_NE(view->indefiniteAnimatedLayer(), layer);
}

TEST_F(GHIndefiniteAnimatedViewTest, ColourAndThicknessBeforeTheLayerAreOnlyStored) {
    auto view = make<GHIndefiniteAnimatedView>(CGRectZero);
    view->setStrokeColor(UIColor::redColor());
    view->setStrokeThickness(3);
    EXPECT_FALSE(view->hasIndefiniteAnimatedLayer());
    view->setRadius(18);
    EXPECT_FALSE(view->hasIndefiniteAnimatedLayer());  // no parent: nothing built yet
    auto layer = view->indefiniteAnimatedLayer();
    EXPECT_EQ(layer->lineWidth(), 3);
    EXPECT_TRUE(UIColor::colorWithCGColor(layer->strokeColor())->isEqual(*UIColor::redColor()));
}

TEST_F(GHIndefiniteAnimatedViewTest, ThicknessAfterTheLayerKeepsItsBuiltSize) {
    auto view = spinner(18);
    parent->addSubview(view);
    auto layer = view->indefiniteAnimatedLayer();
    view->setStrokeThickness(6);
    EXPECT_EQ(layer->lineWidth(), 6);
    EXPECT_EQ(view->sizeThatFits(CGSizeZero), CGSizeMake(52, 52));
    EXPECT_EQ(layer->bounds().size, CGSizeMake(48, 48));
    view->setStrokeColor(UIColor::blueColor());
    EXPECT_TRUE(UIColor::colorWithCGColor(layer->strokeColor())->isEqual(*UIColor::blueColor()));
}

TEST_F(GHIndefiniteAnimatedViewTest, SettingTheRadiusRebuildsEvenWhenUnchanged) {
    auto view = spinner(18);
    parent->addSubview(view);
    auto first = view->indefiniteAnimatedLayer();
    view->setRadius(18);
    auto second = view->indefiniteAnimatedLayer();
    EXPECT_NE(first, second);
    EXPECT_EQ(first->superlayer(), nullptr);
    EXPECT_EQ(second->superlayer(), view->layer());
    EXPECT_TRUE(second->animationForKey("progress"));
    view->setRadius(24);
    EXPECT_EQ(view->indefiniteAnimatedLayer()->bounds().size, CGSizeMake(60, 60));
}

TEST_F(GHIndefiniteAnimatedViewTest, ALargerViewPlacesTheLayerTowardsItsBottomRight) {
    auto view = spinner(18);
    parent->addSubview(view);
    view->setFrame(CGRectMake(0, 0, 100, 80));
    EXPECT_EQ(view->indefiniteAnimatedLayer()->position(), CGPointMake(76, 56));
}

TEST_F(GHIndefiniteAnimatedViewTest, WithoutTheBundleTheMaskHasNoContents) {
    foundation_testing::resetBundles();
    testsupport::TemporaryDirectory empty;
    NSBundle::setMainBundlePath(empty.path());
    auto view = spinner(18);
    parent->addSubview(view);
    ASSERT_TRUE(view->indefiniteAnimatedLayer()->mask());
    EXPECT_FALSE(view->indefiniteAnimatedLayer()->mask()->contents());
}
