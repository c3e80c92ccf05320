#include <gtest/gtest.h>

#include "graphics/NSValue+Geometry.h"

namespace {

using namespace NSValue_Geometry;

TEST(NSValueGeometryTest, EveryKindRoundTripsUnderItsEncoding) {
    EXPECT_EQ(CGPointValue(valueWithCGPoint({1.5, -2})), CGPointMake(1.5, -2));
    EXPECT_EQ(CGSizeValue(valueWithCGSize({320, 568})), CGSizeMake(320, 568));
    EXPECT_EQ(CGRectValue(valueWithCGRect(CGRectMake(1, 2, 3, 4))), CGRectMake(1, 2, 3, 4));
    EXPECT_EQ(CGVectorValue(valueWithCGVector({3, 4})), (CGVector{3, 4}));
    EXPECT_EQ(UIOffsetValue(valueWithUIOffset({5, 6})), UIOffsetMake(5, 6));
    EXPECT_EQ(UIEdgeInsetsValue(valueWithUIEdgeInsets({1, 2, 3, 4})), UIEdgeInsetsMake(1, 2, 3, 4));
    CGAffineTransform t = CGAffineTransformMake(1, 2, 3, 4, 5, 6);
    EXPECT_EQ(CGAffineTransformValue(valueWithCGAffineTransform(t)), t);
    EXPECT_EQ(valueWithCGRect(CGRectZero)->objCType(), "{CGRect={CGPoint=dd}{CGSize=dd}}");
    EXPECT_EQ(valueWithCGPoint({})->objCType(), "{CGPoint=dd}");
}

TEST(NSValueGeometryTest, WrongOrMissingBoxesReadAsZero) {
    auto size = valueWithCGSize({7, 8});
    EXPECT_EQ(CGPointValue(size), CGPointZero);  // same bytes, other type
    EXPECT_EQ(CGRectValue(size), CGRectZero);
    EXPECT_EQ(CGPointValue(nullptr), CGPointZero);
    EXPECT_TRUE(CGAffineTransformIsIdentity(CGAffineTransformValue(nullptr)));
    EXPECT_TRUE(CGAffineTransformIsIdentity(CGAffineTransformValue(size)));
}

TEST(NSValueGeometryTest, EqualBoxesForEqualValues) {
    EXPECT_TRUE(valueWithCGPoint({1, 2})->isEqual(*valueWithCGPoint({1, 2})));
    EXPECT_FALSE(valueWithCGPoint({1, 2})->isEqual(*valueWithCGPoint({2, 1})));
    EXPECT_FALSE(valueWithCGPoint({1, 2})->isEqual(*valueWithCGSize({1, 2})));
    EXPECT_EQ(valueWithCGPoint({1, 2})->description(), "NSPoint: {1, 2}");
}

}  // namespace
