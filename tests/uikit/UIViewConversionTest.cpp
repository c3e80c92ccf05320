// Coordinate conversion through nested, transformed and scrolled views, and hit testing.

#include <cmath>

#include "UIKitTestSupport.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

using uikittest::UIKitTest;

namespace {
constexpr double kPi = 3.14159265358979323846;

class ConversionTest : public UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
        window->makeKeyAndVisible();
        scroller = make<UIView>(CGRectMake(10, 20, 200, 300));
        scroller->setBounds(CGRectMake(0, 100, 200, 300));  // scrolled down by 100
        turned = make<UIView>(CGRectMake(50, 150, 40, 20));
        turned->setTransform(CGAffineTransformMakeRotation(kPi / 2));
        leaf = make<UIView>(CGRectMake(5, 5, 10, 10));
        window->addSubview(scroller);
        scroller->addSubview(turned);
        turned->addSubview(leaf);
    }
    Ref<UIWindow> window;
    Ref<UIView> scroller, turned, leaf;
};

}  // namespace

TEST_F(ConversionTest, PointsThroughScrolledAndTurnedViews) {
    // scroller's (0, 100) sits at its frame's top-left, (10, 20) in the window.
    EXPECT_POINT(scroller->convertPointToView({0, 100}, nullptr), 10, 20);
    EXPECT_POINT(scroller->convertPointToView({0, 100}, window), 10, 20);
    // turned: frame (50, 150, 40, 20) before turning, centre (70, 160) in the scroller; turned a
    // quarter clockwise, its bounds' top-left (0, 0) lands at centre + rot(-20, -10) = (80, 140).
    EXPECT_TRUE(uikittest::pointNear(turned->convertPointToView({0, 0}, scroller), {80, 140}, 1e-9));
    EXPECT_TRUE(uikittest::pointNear(turned->convertPointToView({0, 0}, nullptr), {90, 60}, 1e-9));
    // leaf (5, 5) in turned -> rot(-15, -5) + (70, 160) = (75, 145) in the scroller.
    EXPECT_TRUE(uikittest::pointNear(leaf->convertPointToView({0, 0}, scroller), {75, 145}, 1e-9));
    EXPECT_TRUE(uikittest::pointNear(scroller->convertPointFromView({0, 0}, leaf), {75, 145}, 1e-9));
}

TEST_F(ConversionTest, RoundTripsAndRectangles) {
    CGPoint p{3.5, 7.25};
    CGPoint there = leaf->convertPointToView(p, window);
    EXPECT_TRUE(uikittest::pointNear(leaf->convertPointFromView(there, window), p, 1e-9));
    EXPECT_TRUE(uikittest::pointNear(window->convertPointToView(there, leaf), p, 1e-9));
    // A rectangle through a quarter turn comes out as the box of the turned rectangle.
    CGRect r = turned->convertRectToView(turned->bounds(), scroller);
    EXPECT_TRUE(uikittest::rectNear(r, turned->frame(), 1e-9));
    EXPECT_TRUE(uikittest::rectNear(r, CGRectMake(60, 140, 20, 40), 1e-9));
    EXPECT_TRUE(uikittest::rectNear(scroller->convertRectFromView(turned->bounds(), turned), r, 1e-9));
}

TEST_F(ConversionTest, ViewsOfDifferentWindowsConvertThroughTheScreen) {
    auto second = make<UIWindow>(CGRectMake(100, 200, 50, 50));
    auto inner = make<UIView>(CGRectMake(10, 10, 10, 10));
    second->addSubview(inner);
    EXPECT_POINT(inner->convertPointToView({0, 0}, window), 110, 210);
    EXPECT_POINT(window->convertPointToView({110, 210}, inner), 0, 0);
    EXPECT_POINT(second->convertPointToWindow({0, 0}, nullptr), 100, 200);
    EXPECT_POINT(second->convertPointFromWindow({100, 200}, nullptr), 0, 0);
    EXPECT_POINT(second->convertPointToWindow({0, 0}, window), 100, 200);
}

TEST_F(ConversionTest, DetachedTreesConvertToTheirRoot) {
    auto root = make<UIView>(CGRectMake(500, 500, 100, 100));
    auto child = make<UIView>(CGRectMake(10, 10, 10, 10));
    root->addSubview(child);
    EXPECT_POINT(child->convertPointToView({1, 1}, nullptr), 11, 11);
    EXPECT_POINT(child->convertPointFromView({11, 11}, nullptr), 1, 1);
}

// ---- hit testing ------------------------------------------------------------------------------

TEST_F(ConversionTest, HitTestFindsTheDeepestFrontmostView) {
    // In window space leaf covers the box around (75..85, 135..145) + (10, 20 - 100).
    CGPoint onLeaf = leaf->convertPointToView({5, 5}, nullptr);
    EXPECT_EQ(window->hitTest(onLeaf, nullptr), leaf);
    CGPoint onTurned = turned->convertPointToView({35, 15}, nullptr);
    EXPECT_EQ(window->hitTest(onTurned, nullptr), turned);
    EXPECT_EQ(window->hitTest({300, 470}, nullptr), window);
    EXPECT_EQ(window->hitTest({-1, 0}, nullptr), nullptr);

    // A sibling added later is in front.
    auto cover = make<UIView>(CGRectMake(0, 100, 200, 300));
    scroller->addSubview(cover);
    EXPECT_EQ(window->hitTest(onLeaf, nullptr), cover);
    cover->setHidden(true);
    EXPECT_EQ(window->hitTest(onLeaf, nullptr), leaf);
    cover->setHidden(false);
    cover->setAlpha(0.005);
    EXPECT_EQ(window->hitTest(onLeaf, nullptr), leaf);
    cover->setAlpha(0.01);
    EXPECT_EQ(window->hitTest(onLeaf, nullptr), cover);
    cover->setUserInteractionEnabled(false);
    EXPECT_EQ(window->hitTest(onLeaf, nullptr), leaf);
}

TEST_F(ConversionTest, PointsOutsideTheBoundsNeverReachSubviews) {
    // A subview sticking out of its superview cannot be hit outside the superview's bounds, even
    // without clipping.
    auto small = make<UIView>(CGRectMake(220, 330, 10, 10));
    auto big = make<UIView>(CGRectMake(0, 0, 100, 100));
    window->addSubview(small);
    small->addSubview(big);
    EXPECT_EQ(window->hitTest({225, 335}, nullptr), big);
    EXPECT_EQ(window->hitTest({260, 370}, nullptr), window);
    // A disabled superview hides its whole tree from touches.
    small->setUserInteractionEnabled(false);
    EXPECT_EQ(window->hitTest({225, 335}, nullptr), window);
}

namespace {
// Accepts touches in a margin around its bounds.
class Generous : public UIView {
  public:
    using UIView::UIView;
    bool pointInside(CGPoint p, const Ref<UIEvent>&) override {
        return CGRectContainsPoint(CGRectInset(bounds(), -20, -20), p);
    }
};
}  // namespace

TEST_F(ConversionTest, PointInsideCanBeWidened) {
    auto button = make<Generous>(CGRectMake(100, 400, 10, 10));
    window->addSubview(button);
    EXPECT_EQ(window->hitTest({95, 395}, nullptr), button);
    EXPECT_EQ(window->hitTest({79, 379}, nullptr), window);
}
