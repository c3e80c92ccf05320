#include <gtest/gtest.h>

#include "DrawingTestSupport.h"
#include "graphics/CGContext.h"
#include "graphics/CGGradient.h"

using drawtest::makeBGRAContext;
using drawtest::pixel;
using drawtest::rawPixel;

namespace {

// Black at alpha 0 to black at alpha 0.75, as the dimming overlays use.
CGGradientRef dimming() {
    CGFloat components[] = {0, 0, 0, 0, 0, 0, 0, 0.75};
    CGFloat locations[] = {0, 1};
    return CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), components, locations, 2);
}

// Red to blue, opaque.
CGGradientRef redToBlue() {
    return CGGradientCreateWithColors(CGColorSpaceCreateDeviceRGB(),
                                      {UIColor::redColor()->CGColor(), UIColor::blueColor()->CGColor()});
}

}  // namespace

TEST(CGGradientTest, CreationChecksItsInput) {
    CGFloat components[] = {1, 0, 0, 1};
    EXPECT_FALSE(CGGradientCreateWithColorComponents(nullptr, components, nullptr, 1));
    EXPECT_FALSE(CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), nullptr, nullptr, 1));
    EXPECT_FALSE(CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), components, nullptr, 0));
    EXPECT_FALSE(CGGradientCreateWithColors(CGColorSpaceCreateDeviceRGB(), {}));
    EXPECT_FALSE(
        CGGradientCreateWithColors(CGColorSpaceCreateDeviceRGB(), {UIColor::redColor()->CGColor(), nullptr}));
}

TEST(CGGradientTest, StopsAreSpreadSortedAndConverted) {
    CGFloat grey[] = {1, 1, 0, 0.5, 0.5, 1};  // three grey stops
    auto g = CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceGray(), grey, nullptr, 3);
    ASSERT_TRUE(g);
    ASSERT_EQ(g->stops().size(), 3u);
    EXPECT_EQ(g->stops()[1].location, 0.5);
    EXPECT_EQ(g->stops()[1].rgba[0], 0);
    EXPECT_EQ(g->stops()[1].rgba[3], 0.5);
    CGFloat locations[] = {0.8, 0.2};
    auto h = CGGradientCreateWithColors(
        nullptr, {UIColor::redColor()->CGColor(), UIColor::blueColor()->CGColor()}, locations);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->stops()[0].location, 0.2);
    EXPECT_EQ(h->stops()[0].rgba[2], 1);  // blue first
}

TEST(LinearGradientTest, InterpolatesBetweenTheEnds) {
    auto c = makeBGRAContext(100, 1);
    CGContextDrawLinearGradient(c, redToBlue(), CGPointMake(0, 0), CGPointMake(100, 0), 0);
    EXPECT_PIXEL(pixel(c, 0, 0), 254, 0, 1, 255, 2);
    EXPECT_PIXEL(pixel(c, 50, 0), 126, 0, 129, 255, 3);
    EXPECT_PIXEL(pixel(c, 99, 0), 1, 0, 254, 255, 2);
}

TEST(LinearGradientTest, ExtendsOnlyWhereAsked) {
    struct Case {
        CGGradientDrawingOptions options;
        bool before, after;
    };
    for (Case k :
         {Case{0, false, false}, Case{kCGGradientDrawsBeforeStartLocation, true, false},
          Case{kCGGradientDrawsAfterEndLocation, false, true},
          Case{kCGGradientDrawsBeforeStartLocation | kCGGradientDrawsAfterEndLocation, true, true}}) {
        auto c = makeBGRAContext(100, 1);
        CGContextDrawLinearGradient(c, redToBlue(), CGPointMake(25, 0), CGPointMake(75, 0), k.options);
        EXPECT_EQ(pixel(c, 5, 0).a, k.before ? 255 : 0) << k.options;
        if (k.before) {
            EXPECT_PIXEL(pixel(c, 5, 0), 255, 0, 0, 255, 0);
        }
        EXPECT_EQ(pixel(c, 95, 0).a, k.after ? 255 : 0) << k.options;
        if (k.after) {
            EXPECT_PIXEL(pixel(c, 95, 0), 0, 0, 255, 255, 0);
        }
        EXPECT_EQ(pixel(c, 50, 0).a, 255);
    }
}

TEST(LinearGradientTest, StopsInsideTheRangeHoldTheirEndColours) {
    CGFloat components[] = {1, 0, 0, 1, 0, 0, 1, 1};
    CGFloat locations[] = {0.25, 0.75};
    auto g = CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), components, locations, 2);
    auto c = makeBGRAContext(100, 1);
    CGContextDrawLinearGradient(c, g, CGPointMake(0, 0), CGPointMake(100, 0), 0);
    EXPECT_PIXEL(pixel(c, 10, 0), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 90, 0), 0, 0, 255, 255, 0);
}

TEST(LinearGradientTest, DegenerateInputDrawsNothing) {
    auto c = makeBGRAContext(4, 4);
    CGContextDrawLinearGradient(c, redToBlue(), CGPointMake(2, 2), CGPointMake(2, 2), 3);
    CGContextDrawLinearGradient(c, redToBlue(), CGPointMake(NAN, 2), CGPointMake(2, 2), 3);
    CGContextDrawLinearGradient(c, nullptr, CGPointMake(0, 0), CGPointMake(2, 2), 3);
    EXPECT_EQ(pixel(c, 1, 1).a, 0);
}

TEST(LinearGradientTest, RespectsTheClipAndCopyMode) {
    auto c = makeBGRAContext(10, 10);
    CGContextSetRGBFillColor(c, 0, 1, 0, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 10, 10));
    CGContextClipToRect(c, CGRectMake(0, 0, 5, 10));
    CGContextSetBlendMode(c, kCGBlendModeCopy);
    // Without extension the copy must not clear the clip outside the gradient's band.
    CGContextDrawLinearGradient(c, redToBlue(), CGPointMake(0, 0), CGPointMake(0, 5), 0);
    EXPECT_EQ(pixel(c, 2, 2).a, 255);  // above the band: untouched green
    EXPECT_PIXEL(pixel(c, 2, 2), 0, 255, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 7, 8), 0, 255, 0, 255, 0);  // outside the clip
    EXPECT_GT(pixel(c, 2, 8).r, 100);                 // inside the band: the gradient
}

TEST(RadialGradientTest, DimmingExtendsPastTheEndRadius) {
    auto c = makeBGRAContext(40, 20);
    CGContextDrawRadialGradient(c, dimming(), CGPointMake(20, 10), 0, CGPointMake(20, 10), 10,
                                kCGGradientDrawsAfterEndLocation);
    // Pixel centres: (20.5, 10.5) is 0.71 from the centre, (25.5, 10.5) 5.52.
    EXPECT_NEAR(rawPixel(c, 20, 10).a, 14, 1);
    EXPECT_NEAR(rawPixel(c, 25, 10).a, 106, 1);
    EXPECT_NEAR(rawPixel(c, 0, 0).a, 191, 1);  // the corners: 75 % black
    EXPECT_NEAR(rawPixel(c, 39, 19).a, 191, 1);
}

TEST(RadialGradientTest, WithoutExtensionNothingBeyondTheEnd) {
    auto c = makeBGRAContext(40, 20);
    CGContextDrawRadialGradient(c, dimming(), CGPointMake(20, 10), 0, CGPointMake(20, 10), 10, 0);
    EXPECT_EQ(rawPixel(c, 0, 0).a, 0);
    EXPECT_NEAR(rawPixel(c, 28, 10).a, 163, 1);  // 8.51 from the centre
}

TEST(RadialGradientTest, BeforeStartFillsTheInnerCircle) {
    auto c = makeBGRAContext(40, 40);
    CGContextDrawRadialGradient(c, redToBlue(), CGPointMake(20, 20), 10, CGPointMake(20, 20), 18,
                                kCGGradientDrawsBeforeStartLocation);
    EXPECT_PIXEL(pixel(c, 20, 20), 255, 0, 0, 255, 0);
    EXPECT_EQ(pixel(c, 0, 0).a, 0);
    auto d = makeBGRAContext(40, 40);
    CGContextDrawRadialGradient(d, redToBlue(), CGPointMake(20, 20), 10, CGPointMake(20, 20), 18, 0);
    EXPECT_EQ(pixel(d, 20, 20).a, 0);
    EXPECT_EQ(pixel(d, 20, 6).a, 255);  // in the ring
}

TEST(RadialGradientTest, BadRadiiDrawNothing) {
    auto c = makeBGRAContext(4, 4);
    CGContextDrawRadialGradient(c, dimming(), CGPointMake(2, 2), -1, CGPointMake(2, 2), 3, 3);
    CGContextDrawRadialGradient(c, dimming(), CGPointMake(2, 2), 2, CGPointMake(2, 2), 2, 3);
    CGContextDrawRadialGradient(c, dimming(), CGPointMake(2, 2), 0, CGPointMake(2, 2), INFINITY, 3);
    EXPECT_EQ(rawPixel(c, 0, 0).a, 0);
    EXPECT_EQ(cairo_status(c->cairoContext()), CAIRO_STATUS_SUCCESS);
}

TEST(RadialGradientTest, GlobalAlphaApplies) {
    auto c = makeBGRAContext(10, 10);
    CGContextSetAlpha(c, 0.5);
    CGContextDrawRadialGradient(c, redToBlue(), CGPointMake(5, 5), 0, CGPointMake(5, 5), 1, 3);
    EXPECT_NEAR(rawPixel(c, 0, 0).a, 128, 1);
}
