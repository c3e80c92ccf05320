#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "graphics/CGPath.h"
#include "graphics/UIBezierPath.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<CGPathElementType> types(const CGPathRef& path) {
    std::vector<CGPathElementType> out;
    CGPathApply(path, [&](const CGPathElement& e) { out.push_back(e.type); });
    return out;
}

void expectPoint(CGPoint p, double x, double y, double tol = 1e-9) {
    EXPECT_NEAR(p.x, x, tol);
    EXPECT_NEAR(p.y, y, tol);
}

// The point of the path's flattened outline nearest the middle of the sweep, to tell directions.
CGPoint curveMidpoint(const CGPath& path, std::size_t element) {
    const auto& e = path.elements()[element];
    CGPoint p0 = path.elements()[element - 1].type == kCGPathElementAddCurveToPoint
                     ? path.elements()[element - 1].points[2]
                     : path.elements()[element - 1].points[0];
    auto at = [](double a, double b, double c, double d) {
        return 0.125 * a + 0.375 * b + 0.375 * c + 0.125 * d;
    };
    return {at(p0.x, e.points[0].x, e.points[1].x, e.points[2].x),
            at(p0.y, e.points[0].y, e.points[1].y, e.points[2].y)};
}

}  // namespace

TEST(CGPathTest, RectIsAClosedSubpathFromTheMinCorner) {
    auto path = CGPathCreateMutable();
    CGPathAddRect(path, nullptr, CGRectMake(10, 20, 30, -5));  // negative height standardised
    auto t = types(path);
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0], kCGPathElementMoveToPoint);
    EXPECT_EQ(t[4], kCGPathElementCloseSubpath);
    expectPoint(path->elements()[0].points[0], 10, 15);
    CGRect r;
    EXPECT_TRUE(CGPathIsRect(path, &r));
    EXPECT_EQ(r, CGRectMake(10, 15, 30, 5));
    EXPECT_EQ(CGPathGetBoundingBox(path), CGRectMake(10, 15, 30, 5));
}

TEST(CGPathTest, LinesWithoutACurrentPointAreIgnored) {
    auto path = CGPathCreateMutable();
    CGPathAddLineToPoint(path, nullptr, 5, 5);
    CGPathAddCurveToPoint(path, nullptr, 1, 1, 2, 2, 3, 3);
    CGPathCloseSubpath(path);
    EXPECT_TRUE(CGPathIsEmpty(path));
    EXPECT_TRUE(CGRectIsNull(CGPathGetBoundingBox(path)));
    EXPECT_EQ(CGPathGetCurrentPoint(path), CGPointZero);
}

TEST(CGPathTest, ArcWithGrowingAnglesPassesThroughPositiveY) {
    // clockwise false: 0 -> pi/2 -> pi through (0, r) in y-up terms.
    auto path = CGPathCreateMutable();
    CGPathAddArc(path, nullptr, 0, 0, 10, 0, kPi, false);
    expectPoint(path->elements()[0].points[0], 10, 0);
    expectPoint(CGPathGetCurrentPoint(path), -10, 0, 1e-9);
    EXPECT_GT(CGPathGetPathBoundingBox(path).origin.y + CGPathGetPathBoundingBox(path).size.height, 9.99);
    EXPECT_NEAR(CGPathGetPathBoundingBox(path).origin.y, 0, 1e-9);
}

TEST(CGPathTest, ClockwiseArcRunsWithFallingAngles) {
    auto path = CGPathCreateMutable();
    CGPathAddArc(path, nullptr, 0, 0, 10, 0, kPi, true);
    CGRect box = CGPathGetPathBoundingBox(path);
    EXPECT_NEAR(box.origin.y, -10, 1e-6);  // through (0, -10)
    EXPECT_NEAR(box.origin.y + box.size.height, 0, 1e-9);
}

TEST(CGPathTest, EndAngleBehindStartWrapsOnce) {
    // From pi to -a with growing angles is the upper half going through 3pi/2.
    auto path = CGPathCreateMutable();
    CGPathAddArc(path, nullptr, 0, 0, 10, kPi, -0.0, false);
    CGRect box = CGPathGetPathBoundingBox(path);
    EXPECT_NEAR(box.origin.y, -10, 1e-6);
    EXPECT_NEAR(box.size.width, 20, 1e-6);
    expectPoint(CGPathGetCurrentPoint(path), 10, 0, 1e-9);
}

TEST(CGPathTest, ArcOfMoreThanATurnKeepsItsTurns) {
    auto path = CGPathCreateMutable();
    CGPathAddArc(path, nullptr, 0, 0, 10, 3 * kPi / 2, 11 * kPi / 2, false);
    int curves = 0;
    CGPathApply(path, [&](const CGPathElement& e) { curves += e.type == kCGPathElementAddCurveToPoint; });
    EXPECT_EQ(curves, 8);  // two turns of quarter curves
    expectPoint(CGPathGetCurrentPoint(path), 0, -10, 1e-9);
}

TEST(CGPathTest, ZeroSweepArcIsOnlyItsStartPoint) {
    auto path = CGPathCreateMutable();
    CGPathMoveToPoint(path, nullptr, 0, 0);
    CGPathAddArc(path, nullptr, 0, 0, 5, 1, 1, false);
    auto t = types(path);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[1], kCGPathElementAddLineToPoint);
}

TEST(CGPathTest, BadArcArgumentsAddNothing) {
    auto path = CGPathCreateMutable();
    CGPathAddArc(path, nullptr, 0, 0, -5, 0, 1, false);
    CGPathAddArc(path, nullptr, NAN, 0, 5, 0, 1, false);
    CGPathAddArc(path, nullptr, 0, 0, 5, INFINITY, 1, false);
    EXPECT_TRUE(CGPathIsEmpty(path));
    CGPathAddArc(path, nullptr, 0, 0, 5, 0, 1e12, false);  // huge sweeps are capped, not hung on
    EXPECT_LE(path->elements().size(), 64u * 4u + 2u);
}

TEST(CGPathTest, ArcToPointMeetsBothTangents) {
    // The left cap of a bar: from (2, 10) towards the corner (2, 2), then towards (10, 2), radius 8.
    auto path = CGPathCreateMutable();
    CGPathMoveToPoint(path, nullptr, 2, 10);
    CGPathAddArcToPoint(path, nullptr, 2, 2, 10, 2, 8);
    expectPoint(CGPathGetCurrentPoint(path), 10, 2, 1e-9);
    CGRect box = CGPathGetPathBoundingBox(path);
    EXPECT_NEAR(box.origin.x, 2, 1e-9);
    EXPECT_NEAR(box.origin.y, 2, 1e-6);
    // The arc bulges towards the corner but does not reach it.
    EXPECT_FALSE(CGPathContainsPoint(path, nullptr, CGPointMake(2.5, 2.5), false));
    EXPECT_TRUE(CGPathContainsPoint(path, nullptr, CGPointMake(5, 5), false));
}

TEST(CGPathTest, ArcToPointDegenerateCasesDrawALine) {
    auto path = CGPathCreateMutable();
    CGPathMoveToPoint(path, nullptr, 0, 0);
    CGPathAddArcToPoint(path, nullptr, 5, 0, 10, 0, 3);  // collinear
    CGPathAddArcToPoint(path, nullptr, 5, 5, 0, 5, 0);   // zero radius
    auto t = types(path);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[1], kCGPathElementAddLineToPoint);
    EXPECT_EQ(t[2], kCGPathElementAddLineToPoint);
    expectPoint(CGPathGetCurrentPoint(path), 5, 5);
    auto fresh = CGPathCreateMutable();
    CGPathAddArcToPoint(fresh, nullptr, 3, 4, 9, 9, 2);
    expectPoint(CGPathGetCurrentPoint(fresh), 3, 4);
}

TEST(CGPathTest, ContainsPointByWindingAndEvenOdd) {
    auto path = CGPathCreateMutable();
    CGPathAddRect(path, nullptr, CGRectMake(0, 0, 10, 10));
    CGPathAddRect(path, nullptr, CGRectMake(2, 2, 6, 6));  // same direction: winding 2 inside
    EXPECT_TRUE(CGPathContainsPoint(path, nullptr, CGPointMake(5, 5), false));
    EXPECT_FALSE(CGPathContainsPoint(path, nullptr, CGPointMake(5, 5), true));
    EXPECT_TRUE(CGPathContainsPoint(path, nullptr, CGPointMake(1, 1), true));
    EXPECT_FALSE(CGPathContainsPoint(path, nullptr, CGPointMake(11, 5), false));
    auto shift = CGAffineTransformMakeTranslation(100, 0);
    EXPECT_TRUE(CGPathContainsPoint(path, &shift, CGPointMake(-95, 5), false));
    EXPECT_FALSE(CGPathContainsPoint(nullptr, nullptr, CGPointMake(0, 0), false));
}

TEST(CGPathTest, EllipseBoundsAndContainment) {
    auto path = CGPathCreateMutable();
    CGPathAddEllipseInRect(path, nullptr, CGRectMake(0, 0, 20, 10));
    EXPECT_EQ(CGPathGetBoundingBox(path), CGRectMake(0, 0, 20, 10));
    EXPECT_TRUE(CGPathContainsPoint(path, nullptr, CGPointMake(10, 5), false));
    EXPECT_FALSE(CGPathContainsPoint(path, nullptr, CGPointMake(1, 1), false));
    expectPoint(path->elements()[0].points[0], 20, 5);
}

TEST(CGPathTest, RoundedRectClampsCorners) {
    auto path = CGPathCreateWithRoundedRect(CGRectMake(0, 0, 40, 10), 30, 30, nullptr);
    CGRect box = CGPathGetPathBoundingBox(path);
    EXPECT_NEAR(box.size.width, 40, 1e-9);
    EXPECT_NEAR(box.size.height, 10, 1e-9);
    EXPECT_FALSE(CGPathContainsPoint(path, nullptr, CGPointMake(0.5, 0.5), false));
    EXPECT_TRUE(CGPathContainsPoint(path, nullptr, CGPointMake(20, 5), false));
    auto square = CGPathCreateWithRoundedRect(CGRectMake(0, 0, 10, 10), 0, 0, nullptr);
    EXPECT_TRUE(CGPathIsRect(square, nullptr));
}

TEST(CGPathTest, TransformAppliesToAddedPoints) {
    auto path = CGPathCreateMutable();
    auto scale = CGAffineTransformMakeScale(2, 3);
    CGPathAddRect(path, &scale, CGRectMake(1, 1, 1, 1));
    EXPECT_EQ(CGPathGetBoundingBox(path), CGRectMake(2, 3, 2, 3));
    auto moved = CGAffineTransformMakeTranslation(-2, -3);
    auto copy = CGPathCreateCopyByTransformingPath(path, &moved);
    EXPECT_EQ(CGPathGetBoundingBox(copy), CGRectMake(0, 0, 2, 3));
    EXPECT_FALSE(CGPathEqualToPath(path, copy));
    EXPECT_TRUE(CGPathEqualToPath(path, CGPathCreateCopy(path)));
}

TEST(CGPathTest, ArcToPointUnderATransformUsesTheCallersSpace) {
    auto m = CGAffineTransformMakeScale(2, 2);
    auto path = CGPathCreateMutable();
    CGPathMoveToPoint(path, &m, 0, 5);
    CGPathAddArcToPoint(path, &m, 0, 0, 5, 0, 5);
    expectPoint(CGPathGetCurrentPoint(path), 10, 0, 1e-9);
}

TEST(CGPathTest, CopiesAreIndependent) {
    auto path = CGPathCreateMutable();
    CGPathMoveToPoint(path, nullptr, 1, 1);
    auto copy = CGPathCreateMutableCopy(path);
    CGPathAddLineToPoint(copy, nullptr, 2, 2);
    EXPECT_EQ(path->elements().size(), 1u);
    EXPECT_EQ(copy->elements().size(), 2u);
    CGPathAddPath(path, nullptr, path);      // adding itself
    EXPECT_EQ(path->elements().size(), 1u);  // consecutive moves collapse
}

TEST(CGPathTest, QuadCurveTightBoundsExcludeTheControlPoint) {
    auto path = CGPathCreateMutable();
    CGPathMoveToPoint(path, nullptr, 0, 0);
    CGPathAddQuadCurveToPoint(path, nullptr, 5, 10, 10, 0);
    EXPECT_NEAR(CGPathGetBoundingBox(path).size.height, 10, 1e-9);
    EXPECT_NEAR(CGPathGetPathBoundingBox(path).size.height, 5, 1e-9);
}

TEST(UIBezierPathTest, ClockwiseMeansGrowingAngles) {
    // A ring starting at the top and running clockwise on a top-left screen: the first quarter
    // passes through the right side (x > centre).
    auto p = UIBezierPath::bezierPathWithArcCenter(CGPointMake(0, 0), 10, -kPi / 2, 3 * kPi / 2, true);
    const CGPath& path = *p->CGPath();
    expectPoint(path.elements()[0].points[0], 0, -10, 1e-9);
    EXPECT_GT(curveMidpoint(path, 1).x, 5);
    auto ccw = UIBezierPath::bezierPathWithArcCenter(CGPointMake(0, 0), 10, -kPi / 2, kPi / 2, false);
    EXPECT_LT(curveMidpoint(*ccw->CGPath(), 1).x, -5);
}

TEST(UIBezierPathTest, RoundedRectWithSomeCorners) {
    auto p = UIBezierPath::bezierPathWithRoundedRect(CGRectMake(0, 0, 20, 20), UIRectCornerTopLeft,
                                                     CGSizeMake(10, 10));
    EXPECT_FALSE(p->containsPoint(CGPointMake(0.5, 0.5)));
    EXPECT_TRUE(p->containsPoint(CGPointMake(19.5, 0.5)));
    EXPECT_TRUE(p->containsPoint(CGPointMake(0.5, 19.5)));
    EXPECT_EQ(p->bounds(), CGRectMake(0, 0, 20, 20));
}

TEST(UIBezierPathTest, BoundsOfEmptyPathIsZero) {
    auto p = UIBezierPath::bezierPath();
    EXPECT_TRUE(p->isEmpty());
    EXPECT_EQ(p->bounds(), CGRectZero);
    p->addLineToPoint(CGPointMake(3, 3));
    EXPECT_TRUE(p->isEmpty());
}

TEST(UIBezierPathTest, SettingsAndCopy) {
    auto p = UIBezierPath::bezierPathWithRect(CGRectMake(0, 0, 4, 4));
    EXPECT_EQ(p->lineWidth(), 1);
    EXPECT_EQ(p->lineCapStyle(), kCGLineCapButt);
    EXPECT_EQ(p->lineJoinStyle(), kCGLineJoinMiter);
    p->setLineWidth(3);
    p->setUsesEvenOddFillRule(true);
    CGFloat dash[] = {2, 1};
    p->setLineDash(dash, 2, 0.5);
    auto copy = std::dynamic_pointer_cast<UIBezierPath>(p->copyObject());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->lineWidth(), 3);
    EXPECT_TRUE(copy->usesEvenOddFillRule());
    EXPECT_EQ(copy->lineDash().size(), 2u);
    copy->applyTransform(CGAffineTransformMakeTranslation(10, 0));
    EXPECT_EQ(copy->bounds(), CGRectMake(10, 0, 4, 4));
    EXPECT_EQ(p->bounds(), CGRectMake(0, 0, 4, 4));
}

TEST(UIBezierPathTest, AppendAndRemove) {
    auto a = UIBezierPath::bezierPathWithRect(CGRectMake(0, 0, 1, 1));
    a->appendPath(UIBezierPath::bezierPathWithOvalInRect(CGRectMake(5, 5, 2, 2)));
    a->appendPath(nullptr);
    EXPECT_EQ(a->bounds(), CGRectMake(0, 0, 7, 7));
    a->removeAllPoints();
    EXPECT_TRUE(a->isEmpty());
    EXPECT_FALSE(UIBezierPath::bezierPathWithCGPath(nullptr));
}
