#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "DrawingTestSupport.h"
#include "graphics/CGContext.h"

using drawtest::makeBGRAContext;
using drawtest::pixel;
using drawtest::rawPixel;

namespace {

constexpr double kPi = 3.14159265358979323846;
const CGBitmapInfo kBGRA = kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst;
const CGBitmapInfo kRGBA = kCGBitmapByteOrder32Big | kCGImageAlphaPremultipliedLast;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Creation

TEST(BitmapContextTest, RefusesBadParameters) {
    auto rgb = CGColorSpaceCreateDeviceRGB();
    EXPECT_FALSE(CGBitmapContextCreate(nullptr, 0, 10, 8, 0, rgb, kBGRA));
    EXPECT_FALSE(CGBitmapContextCreate(nullptr, 10, 0, 8, 0, rgb, kBGRA));
    EXPECT_FALSE(CGBitmapContextCreate(nullptr, 40000, 1, 8, 0, rgb, kBGRA));
    EXPECT_FALSE(CGBitmapContextCreate(nullptr, 10, 10, 16, 0, rgb, kBGRA));
    EXPECT_FALSE(CGBitmapContextCreate(nullptr, 10, 10, 8, 39, rgb, kBGRA));             // rows too short
    EXPECT_FALSE(CGBitmapContextCreate(nullptr, 10, 10, 8, 0, rgb, kCGImageAlphaNone));  // 24-bit RGB
    EXPECT_FALSE(CGBitmapContextCreate(nullptr, 10, 10, 8, 0, nullptr, kBGRA));
    EXPECT_FALSE(CGBitmapContextCreate(nullptr, 10, 10, 8, 0, CGColorSpaceCreateDeviceCMYK(), kBGRA));
    EXPECT_FALSE(CGBitmapContextCreate(nullptr, 10, 10, 8, 0, rgb, kBGRA | kCGBitmapFloatComponents));
    EXPECT_FALSE(CGBitmapContextCreate(nullptr, 10, 10, 8, 0, rgb,
                                       kCGBitmapByteOrder16Little | kCGImageAlphaPremultipliedFirst));
    EXPECT_FALSE(CGBitmapContextCreate(nullptr, 10, 10, 8, 0, CGColorSpaceCreateDeviceGray(),
                                       kCGImageAlphaPremultipliedLast));
}

TEST(BitmapContextTest, ReportsItsLayout) {
    auto c = CGBitmapContextCreate(nullptr, 5, 3, 8, 0, CGColorSpaceCreateDeviceRGB(), kRGBA);
    ASSERT_TRUE(c);
    EXPECT_EQ(CGBitmapContextGetWidth(c), 5u);
    EXPECT_EQ(CGBitmapContextGetHeight(c), 3u);
    EXPECT_EQ(CGBitmapContextGetBitsPerComponent(c), 8u);
    EXPECT_EQ(CGBitmapContextGetBitsPerPixel(c), 32u);
    EXPECT_EQ(CGBitmapContextGetBytesPerRow(c), 20u);
    EXPECT_EQ(CGBitmapContextGetBitmapInfo(c), kRGBA);
    EXPECT_EQ(CGBitmapContextGetAlphaInfo(c), kCGImageAlphaPremultipliedLast);
    EXPECT_NE(CGBitmapContextGetData(c), nullptr);
    auto grey = CGBitmapContextCreate(nullptr, 5, 3, 8, 0, CGColorSpaceCreateDeviceGray(), kCGImageAlphaNone);
    ASSERT_TRUE(grey);
    EXPECT_EQ(CGBitmapContextGetBytesPerRow(grey), 8u);  // rounded up to four bytes
    EXPECT_EQ(CGBitmapContextGetBitsPerPixel(grey), 8u);
}

TEST(BitmapContextTest, NullContextCallsDoNothing) {
    CGContextRef none;
    CGContextFillRect(none, CGRectMake(0, 0, 1, 1));
    CGContextSaveGState(none);
    CGContextAddArc(none, 0, 0, 1, 0, 1, 0);
    EXPECT_TRUE(CGContextIsPathEmpty(none));
    EXPECT_EQ(CGBitmapContextGetData(none), nullptr);
    EXPECT_FALSE(CGBitmapContextCreateImage(none));
    EXPECT_TRUE(CGAffineTransformIsIdentity(CGContextGetCTM(none)));
}

// ---------------------------------------------------------------------------------------------
// Layouts

struct LayoutCase {
    const char* name;
    CGBitmapInfo info;
    // Expected bytes of one pixel after filling with (r, g, b, a) = (255, 0, 0, 0.5) over clear.
    std::uint8_t bytes[4];
    int anyByte = -1;  // a skipped byte whose value is not defined
};

// Names the case in test listings, so they stay readable and stable between runs.
void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.name;
}

class BitmapLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(BitmapLayoutTest, HalfTransparentRedLandsInTheCallersLayout) {
    const auto& param = GetParam();
    std::vector<std::uint8_t> buffer(2 * 2 * 4, 0);
    auto c = CGBitmapContextCreate(buffer.data(), 2, 2, 8, 8, CGColorSpaceCreateDeviceRGB(), param.info);
    ASSERT_TRUE(c) << param.name;
    CGContextSetRGBFillColor(c, 1, 0, 0, 0.5);
    CGContextFillRect(c, CGRectMake(0, 0, 2, 2));
    for (int i = 0; i < 4; ++i) {
        if (i != param.anyByte) {
            EXPECT_NEAR(buffer[i], param.bytes[i], 1) << param.name << " byte " << i;
        }
    }
    EXPECT_EQ(std::memcmp(buffer.data(), buffer.data() + 12, 4), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, BitmapLayoutTest,
    ::testing::Values(
        LayoutCase{"premultiplied first little (BGRA)",
                   kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst,
                   {0, 0, 128, 128}},
        LayoutCase{"premultiplied first big (ARGB)",
                   kCGBitmapByteOrder32Big | kCGImageAlphaPremultipliedFirst,
                   {128, 128, 0, 0}},
        LayoutCase{"premultiplied first default (ARGB)", kCGImageAlphaPremultipliedFirst, {128, 128, 0, 0}},
        LayoutCase{"premultiplied last big (RGBA)",
                   kCGBitmapByteOrder32Big | kCGImageAlphaPremultipliedLast,
                   {128, 0, 0, 128}},
        LayoutCase{"premultiplied last little (ABGR)",
                   kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedLast,
                   {128, 0, 0, 128}},
        LayoutCase{"alpha last, straight (RGBA)", kCGImageAlphaLast, {255, 0, 0, 128}},
        LayoutCase{"alpha first little, straight (BGRA)",
                   kCGBitmapByteOrder32Little | kCGImageAlphaFirst,
                   {0, 0, 255, 128}},
        // Opaque layouts: red at half alpha over the initial black.
        LayoutCase{"skip first little (BGRX)",
                   kCGBitmapByteOrder32Little | kCGImageAlphaNoneSkipFirst,
                   {0, 0, 128, 0},
                   3},
        LayoutCase{"skip first default (XRGB)", kCGImageAlphaNoneSkipFirst, {0xFF, 128, 0, 0}},
        LayoutCase{"skip last default (RGBX)", kCGImageAlphaNoneSkipLast, {128, 0, 0, 0xFF}}));

TEST(BitmapContextTest, SkipFirstLittleEndianIsDrawnInPlace) {
    // The skipped byte of cairo's own opaque layout is whatever cairo leaves; only colours matter.
    std::vector<std::uint8_t> buffer(4, 0);
    auto c = CGBitmapContextCreate(buffer.data(), 1, 1, 8, 4, CGColorSpaceCreateDeviceRGB(),
                                   kCGBitmapByteOrder32Little | kCGImageAlphaNoneSkipFirst);
    CGContextSetRGBFillColor(c, 0, 1, 0, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 1, 1));
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], 255);
    EXPECT_EQ(buffer[2], 0);
}

TEST(BitmapContextTest, GreyContextStoresLuma) {
    std::vector<std::uint8_t> buffer(4 * 2, 0);
    auto c =
        CGBitmapContextCreate(buffer.data(), 4, 2, 8, 4, CGColorSpaceCreateDeviceGray(), kCGImageAlphaNone);
    ASSERT_TRUE(c);
    CGContextSetGrayFillColor(c, 0.5, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 2, 2));
    CGContextSetRGBFillColor(c, 0, 1, 0, 1);
    CGContextFillRect(c, CGRectMake(2, 0, 2, 2));
    EXPECT_NEAR(buffer[0], 128, 1);
    EXPECT_NEAR(buffer[3], 150, 1);  // 0.587 * 255
}

TEST(BitmapContextTest, AlphaOnlyContextKeepsCoverage) {
    std::vector<std::uint8_t> buffer(4 * 4, 0);
    auto c = CGBitmapContextCreate(buffer.data(), 4, 4, 8, 4, nullptr, kCGImageAlphaOnly);
    ASSERT_TRUE(c);
    CGContextSetRGBFillColor(c, 1, 0, 0, 0.25);
    CGContextFillRect(c, CGRectMake(0, 0, 4, 2));  // the bottom half: memory rows 2 and 3
    EXPECT_EQ(buffer[0], 0);
    EXPECT_NEAR(buffer[12], 64, 1);
    // Odd row lengths are converted rather than drawn in place.
    std::vector<std::uint8_t> odd(5 * 2, 0);
    auto c2 = CGBitmapContextCreate(odd.data(), 3, 2, 8, 5, nullptr, kCGImageAlphaOnly);
    ASSERT_TRUE(c2);
    CGContextFillRect(c2, CGRectMake(0, 0, 3, 2));
    EXPECT_EQ(odd[0], 255);
    EXPECT_EQ(odd[7], 255);
    EXPECT_EQ(odd[3], 0);  // padding untouched
}

TEST(BitmapContextTest, CallerDataIsReadOnTheWayIn) {
    // A converted layout: the caller's blue must survive a drawing that does not cover it.
    std::vector<std::uint8_t> buffer(2 * 1 * 4);
    for (int i = 0; i < 2; ++i) {
        buffer[i * 4 + 0] = 0, buffer[i * 4 + 1] = 0, buffer[i * 4 + 2] = 255, buffer[i * 4 + 3] = 255;
    }
    auto c = CGBitmapContextCreate(buffer.data(), 2, 1, 8, 8, CGColorSpaceCreateDeviceRGB(), kRGBA);
    CGContextSetRGBFillColor(c, 1, 0, 0, 0.5);
    CGContextFillRect(c, CGRectMake(0, 0, 1, 1));
    EXPECT_NEAR(buffer[0], 128, 1);  // red over blue
    EXPECT_NEAR(buffer[2], 127, 1);
    EXPECT_EQ(buffer[3], 255);
    EXPECT_EQ(buffer[4], 0);
    EXPECT_EQ(buffer[6], 255);
    // The caller writes between calls; the next drawing sees it.
    buffer[4] = 0, buffer[5] = 255, buffer[6] = 0, buffer[7] = 255;
    CGContextSetRGBFillColor(c, 0, 0, 0, 0);
    CGContextFillRect(c, CGRectMake(0, 0, 2, 1));  // transparent: changes nothing
    EXPECT_EQ(buffer[5], 255);
}

TEST(BitmapContextTest, StraightAlphaSurvivesRoundTrips) {
    std::vector<std::uint8_t> buffer(4);
    buffer = {200, 100, 50, 77};
    auto c =
        CGBitmapContextCreate(buffer.data(), 1, 1, 8, 4, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaLast);
    for (int i = 0; i < 5; ++i) {
        CGContextSetRGBFillColor(c, 0, 0, 0, 0);
        CGContextFillRect(c, CGRectMake(0, 0, 1, 1));
    }
    EXPECT_NEAR(buffer[0], 200, 2);
    EXPECT_NEAR(buffer[1], 100, 2);
    EXPECT_NEAR(buffer[2], 50, 2);
    EXPECT_EQ(buffer[3], 77);
}

TEST(BitmapContextTest, CreateImageCopiesThePixels) {
    auto c = makeBGRAContext(3, 2);
    CGContextSetRGBFillColor(c, 0, 0, 1, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 3, 2));
    auto image = CGBitmapContextCreateImage(c);
    ASSERT_TRUE(image);
    EXPECT_EQ(CGImageGetWidth(image), 3u);
    EXPECT_EQ(CGImageGetHeight(image), 2u);
    EXPECT_EQ(CGImageGetBitmapInfo(image), kBGRA);
    CGContextClearRect(c, CGRectMake(0, 0, 3, 2));
    const std::uint8_t* p = image->data().bytes();
    EXPECT_EQ(p[0], 255);  // still blue after the context was cleared
    EXPECT_EQ(p[3], 255);
}

// ---------------------------------------------------------------------------------------------
// Coordinates and state

TEST(ContextStateTest, OriginIsBottomLeft) {
    auto c = makeBGRAContext(4, 4);
    EXPECT_TRUE(CGAffineTransformIsIdentity(CGContextGetCTM(c)));
    CGContextSetRGBFillColor(c, 1, 0, 0, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 1, 1));
    EXPECT_PIXEL(pixel(c, 0, 3), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 0, 0), 0, 0, 0, 0, 0);
}

TEST(ContextStateTest, CTMTransformsAndRestores) {
    auto c = makeBGRAContext(10, 10);
    CGContextSaveGState(c);
    CGContextTranslateCTM(c, 5, 5);
    CGContextScaleCTM(c, 2, 2);
    CGAffineTransform t = CGContextGetCTM(c);
    EXPECT_EQ(t.a, 2);
    EXPECT_EQ(t.tx, 5);
    CGContextSetRGBFillColor(c, 0, 1, 0, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 1, 1));  // device (5..7, 5..7) from the bottom
    CGContextRestoreGState(c);
    EXPECT_TRUE(CGAffineTransformIsIdentity(CGContextGetCTM(c)));
    EXPECT_PIXEL(pixel(c, 6, 10 - 6), 0, 255, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 4, 10 - 6), 0, 0, 0, 0, 0);
    // The fill colour was restored too (black).
    CGContextFillRect(c, CGRectMake(0, 0, 1, 1));
    EXPECT_PIXEL(pixel(c, 0, 9), 0, 0, 0, 255, 0);
    CGContextRestoreGState(c);  // unbalanced: ignored
}

TEST(ContextStateTest, RotationIsCounterClockwiseInUserSpace) {
    auto c = makeBGRAContext(10, 10);
    CGContextTranslateCTM(c, 5, 5);
    CGContextRotateCTM(c, kPi / 2);
    CGContextSetRGBFillColor(c, 1, 0, 0, 1);
    CGContextFillRect(c, CGRectMake(1, -1, 3, 2));  // along +x, turned to +y (upwards)
    EXPECT_PIXEL(pixel(c, 5, 10 - 7), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 7, 10 - 5), 0, 0, 0, 0, 0);
    CGPoint p = CGContextConvertPointToDeviceSpace(c, CGPointMake(1, 0));
    EXPECT_NEAR(p.x, 5, 1e-9);
    EXPECT_NEAR(p.y, 6, 1e-9);
}

TEST(ContextStateTest, SingularCTMDrawsNothingAndRecovers) {
    auto c = makeBGRAContext(4, 4);
    CGContextSaveGState(c);
    CGContextScaleCTM(c, 0, 0);
    CGContextFillRect(c, CGRectMake(0, 0, 4, 4));
    CGContextTranslateCTM(c, NAN, 0);
    CGContextFillRect(c, CGRectMake(0, 0, 4, 4));
    CGContextRestoreGState(c);
    EXPECT_PIXEL(pixel(c, 1, 1), 0, 0, 0, 0, 0);
    CGContextFillRect(c, CGRectMake(0, 0, 4, 4));
    EXPECT_PIXEL(pixel(c, 1, 1), 0, 0, 0, 255, 0);
}

TEST(ContextStateTest, GlobalAlphaMultiplies) {
    auto c = makeBGRAContext(2, 2);
    CGContextSetAlpha(c, 0.5);
    CGContextSetRGBFillColor(c, 0, 0, 1, 0.5);
    CGContextFillRect(c, CGRectMake(0, 0, 2, 2));
    EXPECT_NEAR(rawPixel(c, 0, 0).a, 64, 1);
}

TEST(ContextStateTest, BadValuesAreRefused) {
    auto c = makeBGRAContext(4, 4);
    CGFloat bad[] = {-1, 2};
    CGContextSetLineDash(c, 0, bad, 2);
    CGFloat zeros[] = {0, 0};
    CGContextSetLineDash(c, 0, zeros, 2);
    CGContextSetLineWidth(c, NAN);
    CGContextSetMiterLimit(c, INFINITY);
    CGContextSetBlendMode(c, static_cast<CGBlendMode>(99));
    CGContextSetInterpolationQuality(c, static_cast<CGInterpolationQuality>(-3));
    EXPECT_EQ(CGContextGetInterpolationQuality(c), kCGInterpolationDefault);
    CGContextMoveToPoint(c, 0, 0);
    CGContextAddLineToPoint(c, NAN, 3);
    CGContextAddLineToPoint(c, 4, 4);
    CGContextStrokePath(c);
    // Still usable.
    CGContextFillRect(c, CGRectMake(0, 0, 4, 4));
    EXPECT_PIXEL(pixel(c, 2, 2), 0, 0, 0, 255, 0);
    EXPECT_EQ(cairo_status(c->cairoContext()), CAIRO_STATUS_SUCCESS);
}

// ---------------------------------------------------------------------------------------------
// Paths and painting

TEST(ContextPathTest, PathIsKeptInUserSpaceTerms) {
    auto c = makeBGRAContext(10, 10);
    CGContextTranslateCTM(c, 2, 3);
    CGContextMoveToPoint(c, 1, 1);
    CGContextAddLineToPoint(c, 4, 5);
    CGPoint p = CGContextGetPathCurrentPoint(c);
    EXPECT_NEAR(p.x, 4, 1e-9);
    EXPECT_NEAR(p.y, 5, 1e-9);
    CGRect box = CGContextGetPathBoundingBox(c);
    EXPECT_NEAR(box.origin.x, 1, 1e-9);
    EXPECT_NEAR(box.size.height, 4, 1e-9);
    auto copy = CGContextCopyPath(c);
    EXPECT_EQ(CGPathGetBoundingBox(copy).origin.x, 1);
    EXPECT_FALSE(CGContextIsPathEmpty(c));
    CGContextBeginPath(c);
    EXPECT_TRUE(CGContextIsPathEmpty(c));
}

TEST(ContextPathTest, FillRectLeavesTheCurrentPathAlone) {
    auto c = makeBGRAContext(4, 4);
    CGContextAddRect(c, CGRectMake(0, 0, 1, 1));
    CGContextFillRect(c, CGRectMake(2, 2, 2, 2));
    EXPECT_FALSE(CGContextIsPathEmpty(c));
    CGContextFillPath(c);
    EXPECT_TRUE(CGContextIsPathEmpty(c));
    EXPECT_PIXEL(pixel(c, 0, 3), 0, 0, 0, 255, 0);
}

TEST(ContextPathTest, EvenOddLeavesAHole) {
    auto c = makeBGRAContext(10, 10);
    CGContextAddRect(c, CGRectMake(0, 0, 10, 10));
    CGContextAddRect(c, CGRectMake(3, 3, 4, 4));
    EXPECT_FALSE(CGContextPathContainsPoint(c, CGPointMake(5, 5), kCGPathEOFill));
    EXPECT_TRUE(CGContextPathContainsPoint(c, CGPointMake(5, 5), kCGPathFill));
    CGContextEOFillPath(c);
    EXPECT_PIXEL(pixel(c, 5, 5), 0, 0, 0, 0, 0);
    EXPECT_PIXEL(pixel(c, 1, 1), 0, 0, 0, 255, 0);
}

TEST(ContextPathTest, StrokeWidthCapsAndJoins) {
    auto c = makeBGRAContext(20, 20);
    CGContextSetShouldAntialias(c, false);
    CGContextSetLineWidth(c, 4);
    CGContextSetLineCap(c, kCGLineCapButt);
    CGContextMoveToPoint(c, 5, 10);
    CGContextAddLineToPoint(c, 15, 10);
    CGContextStrokePath(c);
    EXPECT_PIXEL(pixel(c, 10, 20 - 11), 0, 0, 0, 255, 0);  // within the line's half-width
    EXPECT_PIXEL(pixel(c, 10, 20 - 13), 0, 0, 0, 0, 0);
    EXPECT_PIXEL(pixel(c, 3, 20 - 10), 0, 0, 0, 0, 0);  // butt: nothing past the end
    CGContextClearRect(c, CGRectMake(0, 0, 20, 20));
    CGContextSetLineCap(c, kCGLineCapSquare);
    CGContextMoveToPoint(c, 5, 10);
    CGContextAddLineToPoint(c, 15, 10);
    CGContextStrokePath(c);
    EXPECT_PIXEL(pixel(c, 3, 20 - 11), 0, 0, 0, 255, 0);  // square: half the width past the end
}

TEST(ContextPathTest, DashedStrokeHasGaps) {
    auto c = makeBGRAContext(20, 4);
    CGContextSetShouldAntialias(c, false);
    CGContextSetLineWidth(c, 2);
    CGFloat dash[] = {4, 4};
    CGContextSetLineDash(c, 0, dash, 2);
    CGContextMoveToPoint(c, 0, 2);
    CGContextAddLineToPoint(c, 20, 2);
    CGContextStrokePath(c);
    EXPECT_EQ(pixel(c, 1, 1).a, 255);
    EXPECT_EQ(pixel(c, 5, 1).a, 0);
    EXPECT_EQ(pixel(c, 9, 1).a, 255);
}

TEST(ContextPathTest, ArcFlagZeroTurnsWithGrowingAngles) {
    // In the bottom-left space a pie from 0 to pi/2 with flag 0 covers the upper right quarter.
    auto c = makeBGRAContext(20, 20);
    CGContextMoveToPoint(c, 10, 10);
    CGContextAddArc(c, 10, 10, 9, 0, kPi / 2, 0);
    CGContextClosePath(c);
    CGContextFillPath(c);
    EXPECT_EQ(pixel(c, 14, 20 - 14).a, 255);  // up and right
    EXPECT_EQ(pixel(c, 6, 20 - 6).a, 0);
    CGContextClearRect(c, CGRectMake(0, 0, 20, 20));
    CGContextMoveToPoint(c, 10, 10);
    CGContextAddArc(c, 10, 10, 9, 0, kPi / 2, 1);  // the other three quarters
    CGContextClosePath(c);
    CGContextFillPath(c);
    EXPECT_EQ(pixel(c, 14, 20 - 14).a, 0);
    EXPECT_EQ(pixel(c, 6, 20 - 6).a, 255);
}

TEST(ContextPathTest, DrawPathFillsThenStrokes) {
    auto c = makeBGRAContext(20, 20);
    CGContextSetRGBFillColor(c, 0, 0, 1, 1);
    CGContextSetRGBStrokeColor(c, 1, 0, 0, 1);
    CGContextSetLineWidth(c, 4);
    CGContextAddRect(c, CGRectMake(4, 4, 12, 12));
    CGContextDrawPath(c, kCGPathFillStroke);
    EXPECT_PIXEL(pixel(c, 10, 10), 0, 0, 255, 255, 0);
    EXPECT_PIXEL(pixel(c, 4, 10), 255, 0, 0, 255, 0);
    EXPECT_TRUE(CGContextIsPathEmpty(c));
}

TEST(ContextPathTest, StrokeLineSegmentsAndEllipses) {
    auto c = makeBGRAContext(20, 20);
    CGContextSetLineWidth(c, 2);
    CGPoint pts[] = {{0, 10}, {20, 10}, {10, 0}};  // odd count: the last point is ignored
    CGContextStrokeLineSegments(c, pts, 3);
    EXPECT_EQ(pixel(c, 2, 9).a, 255);
    CGContextFillEllipseInRect(c, CGRectMake(0, 0, 6, 6));
    EXPECT_EQ(pixel(c, 3, 20 - 3).a, 255);
    EXPECT_LT(pixel(c, 0, 19).a, 16);  // the corner of the ellipse's box stays (almost) empty
}

TEST(ContextPathTest, ClipLimitsDrawing) {
    auto c = makeBGRAContext(10, 10);
    CGContextSaveGState(c);
    CGContextClipToRect(c, CGRectMake(0, 0, 5, 10));
    CGRect clip = CGContextGetClipBoundingBox(c);
    EXPECT_EQ(clip, CGRectMake(0, 0, 5, 10));
    CGContextFillRect(c, CGRectMake(0, 0, 10, 10));
    CGContextRestoreGState(c);
    EXPECT_EQ(pixel(c, 2, 5).a, 255);
    EXPECT_EQ(pixel(c, 7, 5).a, 0);
    CGContextAddEllipseInRect(c, CGRectMake(0, 0, 10, 10));
    CGContextEOClip(c);
    CGContextSetRGBFillColor(c, 1, 1, 1, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 10, 10));
    EXPECT_PIXEL(pixel(c, 5, 5), 255, 255, 255, 255, 0);
    EXPECT_PIXEL(pixel(c, 0, 0), 0, 0, 0, 255, 0);  // outside the ellipse: still black
}

TEST(ContextPathTest, AntialiasingCanBeTurnedOff) {
    auto c = makeBGRAContext(4, 4);
    CGContextSetShouldAntialias(c, false);
    CGContextFillRect(c, CGRectMake(0.5, 0.5, 1, 1));
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            int a = pixel(c, x, y).a;
            EXPECT_TRUE(a == 0 || a == 255) << x << "," << y;
        }
    }
    auto smooth = makeBGRAContext(4, 4);
    CGContextFillRect(smooth, CGRectMake(0.5, 0.5, 1, 1));
    EXPECT_NEAR(pixel(smooth, 0, 3).a, 64, 2);
}

// ---------------------------------------------------------------------------------------------
// Blend modes

namespace {
// A 4x4 context filled with opaque blue, then a red square at half alpha over its left half.
CGContextRef blueBackground() {
    auto c = makeBGRAContext(4, 4);
    CGContextSetRGBFillColor(c, 0, 0, 1, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 4, 4));
    return c;
}
void halfRedLeft(const CGContextRef& c, CGBlendMode mode) {
    CGContextSetBlendMode(c, mode);
    CGContextSetRGBFillColor(c, 1, 0, 0, 0.5);
    CGContextFillRect(c, CGRectMake(0, 0, 2, 4));
}
}  // namespace

TEST(BlendModeTest, CopyReplacesWithinTheShapeOnly) {
    auto c = blueBackground();
    halfRedLeft(c, kCGBlendModeCopy);
    EXPECT_PIXEL(rawPixel(c, 0, 0), 128, 0, 0, 128, 1);
    EXPECT_PIXEL(rawPixel(c, 3, 0), 0, 0, 255, 255, 0);
}

TEST(BlendModeTest, SourceAtopKeepsDestinationAlpha) {
    auto c = makeBGRAContext(4, 4);
    CGContextSetRGBFillColor(c, 0, 0, 1, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 2, 4));  // blue left half, clear right half
    CGContextSetBlendMode(c, kCGBlendModeSourceAtop);
    CGContextSetRGBFillColor(c, 1, 0, 0, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 4, 4));
    EXPECT_PIXEL(pixel(c, 0, 0), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 3, 0), 0, 0, 0, 0, 0);
}

TEST(BlendModeTest, UnboundedModesStayInsideTheShape) {
    for (CGBlendMode mode : {kCGBlendModeSourceIn, kCGBlendModeSourceOut, kCGBlendModeDestinationIn,
                             kCGBlendModeDestinationAtop}) {
        auto c = blueBackground();
        halfRedLeft(c, mode);
        EXPECT_PIXEL(rawPixel(c, 3, 0), 0, 0, 255, 255, 0) << "mode " << mode;
    }
    auto c = blueBackground();
    halfRedLeft(c, kCGBlendModeSourceIn);
    EXPECT_PIXEL(rawPixel(c, 0, 0), 128, 0, 0, 128, 1);  // S * Da
    auto d = blueBackground();
    halfRedLeft(d, kCGBlendModeDestinationIn);
    EXPECT_PIXEL(rawPixel(d, 0, 0), 0, 0, 128, 128, 1);  // D * Sa
}

TEST(BlendModeTest, ClearAndDestinationOut) {
    auto c = blueBackground();
    halfRedLeft(c, kCGBlendModeClear);
    EXPECT_EQ(rawPixel(c, 0, 0).a, 0);
    auto d = blueBackground();
    halfRedLeft(d, kCGBlendModeDestinationOut);
    EXPECT_PIXEL(rawPixel(d, 0, 0), 0, 0, 127, 127, 1);
    EXPECT_EQ(rawPixel(d, 3, 3).a, 255);
}

TEST(BlendModeTest, SeparableModesOnOpaqueColours) {
    auto c = makeBGRAContext(1, 1);
    CGContextSetRGBFillColor(c, 0.5, 0.5, 0.5, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 1, 1));
    CGContextSetBlendMode(c, kCGBlendModeMultiply);
    CGContextSetRGBFillColor(c, 0.5, 1, 0, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 1, 1));
    EXPECT_PIXEL(pixel(c, 0, 0), 64, 128, 0, 255, 1);
    CGContextSetBlendMode(c, kCGBlendModeScreen);
    CGContextSetRGBFillColor(c, 0.5, 0.5, 0.5, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 1, 1));
    // 1 - (1 - a)(1 - b)
    EXPECT_PIXEL(pixel(c, 0, 0), 160, 192, 128, 255, 2);
    CGContextSetBlendMode(c, kCGBlendModeDifference);
    CGContextSetRGBFillColor(c, 1, 1, 1, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 1, 1));
    EXPECT_PIXEL(pixel(c, 0, 0), 95, 63, 127, 255, 2);
}

TEST(BlendModeTest, PlusLighterAndPlusDarker) {
    auto c = makeBGRAContext(2, 1);
    CGContextSetRGBFillColor(c, 0.5, 0.25, 0.75, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 2, 1));
    CGContextSetBlendMode(c, kCGBlendModePlusLighter);
    CGContextSetRGBFillColor(c, 0.25, 0.25, 0.5, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 1, 1));
    EXPECT_PIXEL(pixel(c, 0, 0), 191, 128, 255, 255, 1);
    CGContextSetBlendMode(c, kCGBlendModePlusDarker);
    CGContextSetRGBFillColor(c, 0.75, 0.5, 0.5, 1);
    CGContextFillRect(c, CGRectMake(1, 0, 1, 1));
    // S + D - 1, at least 0.
    EXPECT_PIXEL(pixel(c, 1, 0), 64, 0, 64, 255, 1);
    EXPECT_PIXEL(pixel(c, 0, 0), 191, 128, 255, 255, 1);  // untouched
}

TEST(BlendModeTest, ClearRectIgnoresTheBlendMode) {
    auto c = blueBackground();
    CGContextSetBlendMode(c, kCGBlendModeDestinationOver);
    CGContextClearRect(c, CGRectMake(0, 0, 2, 2));
    EXPECT_EQ(rawPixel(c, 0, 3).a, 0);
    EXPECT_EQ(rawPixel(c, 0, 0).a, 255);
}
