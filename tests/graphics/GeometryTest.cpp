#include <gtest/gtest.h>

#include <cmath>

#include "graphics/CGGeometry.h"

namespace {

void expectRectNear(CGRect a, CGRect b, double eps = 1e-9) {
    EXPECT_NEAR(a.origin.x, b.origin.x, eps);
    EXPECT_NEAR(a.origin.y, b.origin.y, eps);
    EXPECT_NEAR(a.size.width, b.size.width, eps);
    EXPECT_NEAR(a.size.height, b.size.height, eps);
}

TEST(RectTest, NegativeSizesAreStandardizedForEdges) {
    CGRect r = CGRectMake(10, 20, -4, -6);
    EXPECT_EQ(CGRectGetMinX(r), 6);
    EXPECT_EQ(CGRectGetMaxX(r), 10);
    EXPECT_EQ(CGRectGetMinY(r), 14);
    EXPECT_EQ(CGRectGetMaxY(r), 20);
    EXPECT_EQ(CGRectGetMidX(r), 8);
    EXPECT_EQ(CGRectGetWidth(r), 4);
    EXPECT_TRUE(CGRectEqualToRect(r, CGRectMake(6, 14, 4, 6)));
}

TEST(RectTest, NullAndEmpty) {
    EXPECT_TRUE(CGRectIsNull(CGRectNull));
    EXPECT_TRUE(CGRectIsEmpty(CGRectNull));
    EXPECT_TRUE(CGRectIsEmpty(CGRectMake(1, 1, 0, 5)));
    EXPECT_FALSE(CGRectIsEmpty(CGRectMake(1, 1, 1, 5)));
    EXPECT_FALSE(CGRectIsNull(CGRectZero));
    EXPECT_TRUE(CGRectIsInfinite(CGRectInfinite));
    EXPECT_TRUE(CGRectEqualToRect(CGRectNull, CGRectNull));
    EXPECT_FALSE(CGRectEqualToRect(CGRectNull, CGRectZero));
}

TEST(RectTest, InsetPastZeroGivesNull) {
    expectRectNear(CGRectInset(CGRectMake(0, 0, 10, 10), 2, 3), CGRectMake(2, 3, 6, 4));
    expectRectNear(CGRectInset(CGRectMake(0, 0, 10, 10), -1, -1), CGRectMake(-1, -1, 12, 12));
    EXPECT_TRUE(CGRectIsNull(CGRectInset(CGRectMake(0, 0, 10, 10), 6, 0)));
    EXPECT_FALSE(CGRectIsNull(CGRectInset(CGRectMake(0, 0, 10, 10), 5, 5)));
}

TEST(RectTest, IntegralCoversTheRect) {
    expectRectNear(CGRectIntegral(CGRectMake(0.5, 1.2, 10.1, 2.3)), CGRectMake(0, 1, 11, 3));
    expectRectNear(CGRectIntegral(CGRectMake(-0.5, -0.5, 1, 1)), CGRectMake(-1, -1, 2, 2));
    expectRectNear(CGRectIntegral(CGRectMake(0, 0, 1600, 1066.6666)), CGRectMake(0, 0, 1600, 1067));
    EXPECT_TRUE(CGRectIsNull(CGRectIntegral(CGRectNull)));
}

TEST(RectTest, IntersectionAndUnion) {
    CGRect a = CGRectMake(0, 0, 10, 10), b = CGRectMake(5, 5, 10, 10);
    expectRectNear(CGRectIntersection(a, b), CGRectMake(5, 5, 5, 5));
    expectRectNear(CGRectUnion(a, b), CGRectMake(0, 0, 15, 15));
    EXPECT_TRUE(CGRectIsNull(CGRectIntersection(a, CGRectMake(20, 20, 1, 1))));
    // Touching edges share no area.
    EXPECT_FALSE(CGRectIntersectsRect(a, CGRectMake(10, 0, 5, 5)));
    EXPECT_TRUE(CGRectIntersectsRect(a, b));
    expectRectNear(CGRectUnion(CGRectNull, b), b);
    EXPECT_TRUE(CGRectIsNull(CGRectIntersection(CGRectNull, a)));
}

TEST(RectTest, ContainmentIsHalfOpenForPoints) {
    CGRect r = CGRectMake(0, 0, 10, 10);
    EXPECT_TRUE(CGRectContainsPoint(r, {0, 0}));
    EXPECT_TRUE(CGRectContainsPoint(r, {9.999, 9.999}));
    EXPECT_FALSE(CGRectContainsPoint(r, {10, 5}));
    EXPECT_FALSE(CGRectContainsPoint(CGRectNull, {0, 0}));
    EXPECT_TRUE(CGRectContainsRect(r, CGRectMake(0, 0, 10, 10)));
    EXPECT_TRUE(CGRectContainsRect(r, CGRectMake(2, 2, 3, 3)));
    EXPECT_FALSE(CGRectContainsRect(r, CGRectMake(8, 8, 3, 3)));
}

TEST(RectTest, EdgeInsets) {
    expectRectNear(UIEdgeInsetsInsetRect(CGRectMake(0, 0, 100, 50), UIEdgeInsetsMake(1, 2, 3, 4)),
                   CGRectMake(2, 1, 94, 46));
}

TEST(AffineTransformTest, ConcatAppliesFirstThenSecond) {
    CGAffineTransform scale = CGAffineTransformMakeScale(2, 3);
    CGAffineTransform move = CGAffineTransformMakeTranslation(10, 20);
    CGPoint p = CGPointApplyAffineTransform({1, 1}, CGAffineTransformConcat(scale, move));
    EXPECT_DOUBLE_EQ(p.x, 12);
    EXPECT_DOUBLE_EQ(p.y, 23);
    p = CGPointApplyAffineTransform({1, 1}, CGAffineTransformConcat(move, scale));
    EXPECT_DOUBLE_EQ(p.x, 22);
    EXPECT_DOUBLE_EQ(p.y, 63);
}

TEST(AffineTransformTest, TranslateActsInTheTransformedSpace) {
    CGAffineTransform t = CGAffineTransformTranslate(CGAffineTransformMakeScale(2, 2), 5, 0);
    CGPoint p = CGPointApplyAffineTransform({0, 0}, t);
    EXPECT_DOUBLE_EQ(p.x, 10);
    t = CGAffineTransformRotate(CGAffineTransformMakeTranslation(0, 50), -M_PI / 2);
    p = CGPointApplyAffineTransform({10, 0}, t);
    EXPECT_NEAR(p.x, 0, 1e-12);
    EXPECT_NEAR(p.y, 40, 1e-12);
}

TEST(AffineTransformTest, RotationQuarterTurn) {
    CGPoint p = CGPointApplyAffineTransform({1, 0}, CGAffineTransformMakeRotation(M_PI / 2));
    EXPECT_NEAR(p.x, 0, 1e-12);
    EXPECT_NEAR(p.y, 1, 1e-12);
}

TEST(AffineTransformTest, InvertRoundTripsAndSingularStaysUnchanged) {
    CGAffineTransform t = CGAffineTransformMake(2, 1, -1, 3, 5, -7);
    CGAffineTransform round = CGAffineTransformConcat(t, CGAffineTransformInvert(t));
    EXPECT_NEAR(round.a, 1, 1e-12);
    EXPECT_NEAR(round.b, 0, 1e-12);
    EXPECT_NEAR(round.c, 0, 1e-12);
    EXPECT_NEAR(round.d, 1, 1e-12);
    EXPECT_NEAR(round.tx, 0, 1e-12);
    EXPECT_NEAR(round.ty, 0, 1e-12);
    CGAffineTransform singular = CGAffineTransformMakeScale(0, 1);
    EXPECT_TRUE(CGAffineTransformEqualToTransform(CGAffineTransformInvert(singular), singular));
    EXPECT_TRUE(CGAffineTransformIsIdentity(CGAffineTransformIdentity));
}

TEST(AffineTransformTest, RectGetsItsBoundingBox) {
    CGRect r = CGRectApplyAffineTransform(CGRectMake(0, 0, 10, 20), CGAffineTransformMakeRotation(M_PI / 2));
    expectRectNear(r, CGRectMake(-20, 0, 20, 10), 1e-9);
    CGSize s = CGSizeApplyAffineTransform({10, 20}, CGAffineTransformMakeScale(-1, 2));
    EXPECT_EQ(s.width, -10);
    EXPECT_EQ(s.height, 40);
    EXPECT_TRUE(CGRectIsNull(CGRectApplyAffineTransform(CGRectNull, CGAffineTransformIdentity)));
}

TEST(Transform3DTest, AffineRoundTripAndConcat) {
    CGAffineTransform t = CGAffineTransformMake(1, 2, 3, 4, 5, 6);
    CATransform3D m = CATransform3DMakeAffineTransform(t);
    EXPECT_TRUE(CATransform3DIsAffine(m));
    EXPECT_EQ(CATransform3DGetAffineTransform(m), t);
    CATransform3D moved =
        CATransform3DConcat(CATransform3DMakeScale(2, 2, 1), CATransform3DMakeTranslation(3, 4, 5));
    EXPECT_EQ(moved.m11, 2);
    EXPECT_EQ(moved.m41, 3);
    EXPECT_EQ(moved.m43, 5);
    EXPECT_FALSE(CATransform3DIsAffine(moved));
    EXPECT_TRUE(CATransform3DIsIdentity(CATransform3DIdentity));
}

TEST(Transform3DTest, RotationAboutZMatchesTheAffineRotation) {
    CATransform3D m = CATransform3DMakeRotation(0.7, 0, 0, 1);
    CGAffineTransform a = CGAffineTransformMakeRotation(0.7);
    CGAffineTransform b = CATransform3DGetAffineTransform(m);
    EXPECT_NEAR(a.a, b.a, 1e-12);
    EXPECT_NEAR(a.b, b.b, 1e-12);
    EXPECT_NEAR(a.c, b.c, 1e-12);
    EXPECT_NEAR(a.d, b.d, 1e-12);
    EXPECT_TRUE(CATransform3DIsIdentity(CATransform3DMakeRotation(1, 0, 0, 0)));
}

TEST(GeometryStringTest, TextFormsRoundTrip) {
    EXPECT_EQ(NSStringFromCGPoint({1.5, 2}), "{1.5, 2}");
    EXPECT_EQ(NSStringFromCGSize({320, 568}), "{320, 568}");
    EXPECT_EQ(NSStringFromCGRect(CGRectMake(1, 2, 3, 4)), "{{1, 2}, {3, 4}}");
    CGPoint p{0.1, -1e-7};
    EXPECT_EQ(CGPointFromString(NSStringFromCGPoint(p)), p);
    CGSize s{1.0 / 3, 12345.678};
    EXPECT_EQ(CGSizeFromString(NSStringFromCGSize(s)), s);
    EXPECT_EQ(CGRectFromString("{{1, 2}, {3, 4}}"), CGRectMake(1, 2, 3, 4));
}

TEST(GeometryStringTest, UnreadableTextGivesZero) {
    EXPECT_EQ(CGPointFromString(""), CGPointZero);
    EXPECT_EQ(CGPointFromString("{abc, 2}"), CGPointZero);
    EXPECT_EQ(CGSizeFromString("{3}"), CGSizeZero);
    EXPECT_EQ(CGRectFromString("{{1, 2}, {3}}"), CGRectZero);
}

TEST(AspectRectTest, FitsCentred) {
    expectRectNear(AVMakeRectWithAspectRatioInsideRect({16, 9}, CGRectMake(0, 0, 320, 320)),
                   CGRectMake(0, 70, 320, 180));
    expectRectNear(AVMakeRectWithAspectRatioInsideRect({1, 2}, CGRectMake(10, 10, 100, 100)),
                   CGRectMake(35, 10, 50, 100));
    EXPECT_EQ(AVMakeRectWithAspectRatioInsideRect({0, 5}, CGRectMake(0, 0, 10, 10)), CGRectZero);
}

}  // namespace
