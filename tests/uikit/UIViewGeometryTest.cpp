// Frames, bounds, centres and transforms, autoresizing and rotation.

#include <cmath>

#include "UIKitTestSupport.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

using uikittest::UIKitTest;

namespace {
constexpr double kPi = 3.14159265358979323846;

class GeometryTest : public UIKitTest {};
}  // namespace

TEST_F(GeometryTest, FrameBoundsAndCenterFollowEachOther) {
    auto view = make<UIView>(CGRectMake(10, 20, 100, 50));
    EXPECT_RECT(view->bounds(), 0, 0, 100, 50);
    EXPECT_POINT(view->center(), 60, 45);
    view->setCenter({100, 100});
    EXPECT_RECT(view->frame(), 50, 75, 100, 50);
    view->setBounds(CGRectMake(0, 0, 40, 40));
    // The centre stays; the frame shrinks around it.
    EXPECT_RECT(view->frame(), 80, 80, 40, 40);
    // A bounds origin scrolls the content but does not move the view.
    view->setBounds(CGRectMake(15, 25, 40, 40));
    EXPECT_RECT(view->frame(), 80, 80, 40, 40);
}

TEST_F(GeometryTest, NegativeSizesAreStandardized) {
    auto view = make<UIView>();
    view->setFrame(CGRectMake(50, 50, -20, -10));
    EXPECT_RECT(view->frame(), 30, 40, 20, 10);
}

TEST_F(GeometryTest, FrameOfARotatedViewIsTheBoundingBox) {
    auto view = make<UIView>(CGRectMake(0, 0, 100, 40));
    view->setTransform(CGAffineTransformMakeRotation(kPi / 2));
    EXPECT_TRUE(uikittest::rectNear(view->frame(), CGRectMake(30, -30, 40, 100), 1e-9));
    EXPECT_RECT(view->bounds(), 0, 0, 100, 40);
    view->setTransform(CGAffineTransformMakeRotation(kPi / 4));
    const double side = (100 + 40) / std::sqrt(2.0);
    EXPECT_TRUE(
        uikittest::rectNear(view->frame(), CGRectMake(50 - side / 2, 20 - side / 2, side, side), 1e-9));
}

TEST_F(GeometryTest, SettingTheFrameOfAScaledViewScalesTheBounds) {
    auto view = make<UIView>(CGRectMake(0, 0, 10, 10));
    view->setTransform(CGAffineTransformMakeScale(2, 4));
    view->setFrame(CGRectMake(0, 0, 100, 100));
    EXPECT_RECT(view->bounds(), 0, 0, 50, 25);
    EXPECT_RECT(view->frame(), 0, 0, 100, 100);
    EXPECT_POINT(view->center(), 50, 50);
}

TEST_F(GeometryTest, SettingTheFrameOfARotatedViewKeepsTheBoundsAndCentresTheBox) {
    auto view = make<UIView>(CGRectMake(0, 0, 100, 40));
    view->setTransform(CGAffineTransformMakeRotation(kPi / 2));
    view->setFrame(CGRectMake(200, 300, 10, 10));
    EXPECT_RECT(view->bounds(), 0, 0, 100, 40);
    EXPECT_TRUE(uikittest::pointNear(view->center(), CGPointMake(205, 305), 1e-9));
}

TEST_F(GeometryTest, AnchorPointMovesTheFrameAroundThePosition) {
    auto view = make<UIView>(CGRectMake(0, 0, 100, 100));
    view->layer()->setAnchorPoint({0, 0});
    // The position stays at the old centre, now naming the top-left corner.
    EXPECT_RECT(view->frame(), 50, 50, 100, 100);
    view->setTransform(CGAffineTransformMakeRotation(kPi));
    EXPECT_TRUE(uikittest::rectNear(view->frame(), CGRectMake(-50, -50, 100, 100), 1e-9));
}

TEST_F(GeometryTest, ContentScaleFactorDefaultsToTheScreenScale) {
    auto view = make<UIView>();
    EXPECT_EQ(view->contentScaleFactor(), UIScreen::mainScreen()->scale());
    view->setContentScaleFactor(3);
    EXPECT_EQ(view->contentScaleFactor(), 3);
    EXPECT_EQ(view->layer()->contentsScale(), 3);
    view->setContentScaleFactor(0);  // refused
    EXPECT_EQ(view->contentScaleFactor(), 3);
}

TEST_F(GeometryTest, LayerGeometryChangesShowInTheView) {
    auto view = make<UIView>(CGRectMake(0, 0, 10, 10));
    view->layer()->setPosition({100, 100});
    view->layer()->setBounds(CGRectMake(0, 0, 20, 40));
    EXPECT_RECT(view->frame(), 90, 80, 20, 40);
}

// ---- autoresizing -----------------------------------------------------------------------------

namespace {

struct AxisCase {
    bool lead, size, trail;
    double origin, length;  // expected after growing the superview
};

// Superview 100 -> 200 wide; subview at x 10, width 30 (right margin 60).
const AxisCase kHorizontal[] = {
    {false, false, false, 10, 30},
    {true, false, false, 110, 30},
    {false, true, false, 10, 130},
    {false, false, true, 10, 30},
    {true, true, false, 10 + 100.0 * 10 / 40, 30 + 100.0 * 30 / 40},
    {true, false, true, 10 + 100.0 * 10 / 70, 30},
    {false, true, true, 10, 30 + 100.0 * 30 / 90},
    {true, true, true, 20, 60},
};
// Superview 200 -> 150 high; subview at y 50, height 100 (bottom margin 50).
const AxisCase kVertical[] = {
    {false, false, false, 50, 100},
    {true, false, false, 0, 100},
    {false, true, false, 50, 50},
    {false, false, true, 50, 100},
    {true, true, false, 50 - 50.0 * 50 / 150, 100 - 50.0 * 100 / 150},
    {true, false, true, 25, 100},
    {false, true, true, 50, 100 - 50.0 * 100 / 150},
    {true, true, true, 37.5, 75},
};

}  // namespace

TEST_F(GeometryTest, EveryAutoresizingMaskCombination) {
    for (const AxisCase& h : kHorizontal) {
        for (const AxisCase& v : kVertical) {
            UIViewAutoresizing mask = 0;
            if (h.lead) mask |= UIViewAutoresizingFlexibleLeftMargin;
            if (h.size) mask |= UIViewAutoresizingFlexibleWidth;
            if (h.trail) mask |= UIViewAutoresizingFlexibleRightMargin;
            if (v.lead) mask |= UIViewAutoresizingFlexibleTopMargin;
            if (v.size) mask |= UIViewAutoresizingFlexibleHeight;
            if (v.trail) mask |= UIViewAutoresizingFlexibleBottomMargin;
            auto parent = make<UIView>(CGRectMake(0, 0, 100, 200));
            auto child = make<UIView>(CGRectMake(10, 50, 30, 100));
            child->setAutoresizingMask(mask);
            parent->addSubview(child);
            parent->setFrame(CGRectMake(0, 0, 200, 150));
            EXPECT_TRUE(
                uikittest::rectNear(child->frame(), CGRectMake(h.origin, v.origin, h.length, v.length), 1e-9))
                << "mask " << mask;
        }
    }
}

TEST_F(GeometryTest, TheAppsCentringAndFillingMasks) {
    auto parent = make<UIView>(CGRectMake(0, 0, 320, 480));
    auto centred = make<UIView>(CGRectMake(110, 190, 100, 100));
    centred->setAutoresizingMask(45);  // all four margins flexible
    auto filling = make<UIView>(CGRectMake(0, 0, 320, 480));
    filling->setAutoresizingMask(18);  // flexible width and height
    parent->addSubview(centred);
    parent->addSubview(filling);
    parent->setBounds(CGRectMake(0, 0, 375, 667));
    EXPECT_RECT(centred->frame(), 137.5, 283.5, 100, 100);
    EXPECT_RECT(filling->frame(), 0, 0, 375, 667);
}

TEST_F(GeometryTest, FlexibleMarginsWithNothingToShareSplitEvenly) {
    auto parent = make<UIView>(CGRectMake(0, 0, 100, 100));
    auto child = make<UIView>(CGRectMake(0, 0, 100, 100));
    child->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin);
    parent->addSubview(child);
    parent->setBounds(CGRectMake(0, 0, 140, 100));
    EXPECT_RECT(child->frame(), 20, 0, 100, 100);
}

TEST_F(GeometryTest, ShrinkingBelowZeroClampsTheSize) {
    auto parent = make<UIView>(CGRectMake(0, 0, 100, 100));
    auto child = make<UIView>(CGRectMake(0, 0, 20, 100));
    child->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    parent->addSubview(child);
    parent->setBounds(CGRectMake(0, 0, 50, 100));
    EXPECT_RECT(child->frame(), 0, 0, 0, 100);
}

TEST_F(GeometryTest, AutoresizingCanBeTurnedOffAndCascades) {
    auto parent = make<UIView>(CGRectMake(0, 0, 100, 100));
    auto middle = make<UIView>(CGRectMake(0, 0, 100, 100));
    auto leaf = make<UIView>(CGRectMake(10, 10, 80, 80));
    middle->setAutoresizingMask(18);
    leaf->setAutoresizingMask(18);
    parent->addSubview(middle);
    middle->addSubview(leaf);
    parent->setBounds(CGRectMake(0, 0, 200, 300));
    EXPECT_RECT(leaf->frame(), 10, 10, 180, 280);
    middle->setAutoresizesSubviews(false);
    parent->setBounds(CGRectMake(0, 0, 100, 100));
    EXPECT_RECT(middle->frame(), 0, 0, 100, 100);
    EXPECT_RECT(leaf->frame(), 10, 10, 180, 280);
    // Moving the bounds origin does not resize anything.
    middle->setAutoresizesSubviews(true);
    parent->setBounds(CGRectMake(30, 30, 100, 100));
    EXPECT_RECT(middle->frame(), 0, 0, 100, 100);
}

TEST_F(GeometryTest, RotationKeepsFramesRight) {
    // A root view turned a quarter for landscape: bounds swapped, transform rotated, centred on
    // the screen. Its frame stays the portrait screen and its subviews lay out in landscape.
    auto window = make<UIWindow>(CGRectMake(0, 0, 375, 667));
    auto root = make<UIView>(CGRectMake(0, 0, 375, 667));
    auto bar = make<UIView>(CGRectMake(0, 0, 375, 44));
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleBottomMargin);
    auto corner = make<UIView>(CGRectMake(325, 617, 40, 40));
    corner->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleTopMargin);
    window->addSubview(root);
    root->addSubview(bar);
    root->addSubview(corner);

    root->setTransform(CGAffineTransformMakeRotation(kPi / 2));
    root->setBounds(CGRectMake(0, 0, 667, 375));
    EXPECT_TRUE(uikittest::rectNear(root->frame(), CGRectMake(0, 0, 375, 667), 1e-9));
    EXPECT_RECT(bar->frame(), 0, 0, 667, 44);
    EXPECT_RECT(corner->frame(), 617, 325, 40, 40);
    // On the screen, the bar runs down the right edge.
    EXPECT_TRUE(uikittest::rectNear(bar->convertRectToView(bar->bounds(), nullptr),
                                    CGRectMake(331, 0, 44, 667), 1e-9));

    root->setTransform(CGAffineTransformIdentity);
    root->setBounds(CGRectMake(0, 0, 375, 667));
    EXPECT_RECT(root->frame(), 0, 0, 375, 667);
    EXPECT_RECT(bar->frame(), 0, 0, 375, 44);
    EXPECT_RECT(corner->frame(), 325, 617, 40, 40);
}
