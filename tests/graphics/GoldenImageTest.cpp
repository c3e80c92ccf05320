// Small scenes drawn as the app draws them, checked at probe points against colours worked out
// from the compositing rules, and written out as PNG files (see DrawingTestSupport.h) so that a
// person can look at them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "DrawingTestSupport.h"
#include "graphics/CGGradient.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIBezierPath.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"

using drawtest::pixel;
using drawtest::rawPixel;
using drawtest::RGBA;

namespace {

constexpr double kPi = 3.14159265358979323846;

class GoldenImageTest : public ::testing::Test {
  protected:
    void TearDown() override {
        while (UIGraphicsGetCurrentContext()) UIGraphicsPopContext();
    }
    // An image context of w x h points at scale 1, white background unless clear.
    CGContextRef begin(int w, int h, bool white = true) {
        UIGraphicsBeginImageContextWithOptions(CGSizeMake(w, h), false, 1);
        auto c = UIGraphicsGetCurrentContext();
        if (white) {
            CGContextSetRGBFillColor(c, 1, 1, 1, 1);
            CGContextFillRect(c, CGRectMake(0, 0, w, h));
        }
        return c;
    }
};

// Premultiplied Porter-Duff and separable blends, per channel in 0...1, for the expectations.
struct Colour {
    double r, g, b, a;
};
Colour over(Colour s, Colour d) {
    auto f = [&](double sc, double dc) { return sc * s.a + dc * d.a * (1 - s.a); };
    double a = s.a + d.a * (1 - s.a);
    if (a == 0) return {0, 0, 0, 0};
    return {f(s.r, d.r) / a, f(s.g, d.g) / a, f(s.b, d.b) / a, a};
}
RGBA toRGBA(Colour c) {
    auto v = [](double x) { return int(std::lround(std::clamp(x, 0.0, 1.0) * 255)); };
    return {v(c.r), v(c.g), v(c.b), v(c.a)};
}

}  // namespace

TEST_F(GoldenImageTest, BlendModesOverAColouredBackground) {
    // Each tile: the left half opaque blue, the right half clear; then a red square at alpha 0.6
    // over the middle in the tile's blend mode.
    const CGBlendMode modes[] = {kCGBlendModeNormal,     kCGBlendModeCopy,
                                 kCGBlendModeSourceAtop, kCGBlendModeMultiply,
                                 kCGBlendModeScreen,     kCGBlendModeDestinationOver,
                                 kCGBlendModeXOR,        kCGBlendModeClear,
                                 kCGBlendModeSourceIn,   kCGBlendModeDestinationOut,
                                 kCGBlendModeDarken,     kCGBlendModePlusLighter};
    const int tile = 20, count = int(std::size(modes));
    auto c = begin(tile * count, tile, false);
    for (int i = 0; i < count; ++i) {
        CGContextSaveGState(c);
        CGContextTranslateCTM(c, i * tile, 0);
        CGContextSetRGBFillColor(c, 0, 0, 1, 1);
        CGContextFillRect(c, CGRectMake(0, 0, tile / 2, tile));
        CGContextSetBlendMode(c, modes[i]);
        CGContextSetRGBFillColor(c, 1, 0, 0, 0.6);
        CGContextFillRect(c, CGRectMake(4, 4, 12, 12));
        CGContextRestoreGState(c);
    }
    drawtest::writePicture(c, "blend-modes");
    const Colour red{1, 0, 0, 0.6}, blue{0, 0, 1, 1};
    struct Expect {
        RGBA onBlue, onClear;
    };
    const Expect expected[] = {
        {toRGBA(over(red, blue)), toRGBA(red)},       // normal
        {toRGBA(red), toRGBA(red)},                   // copy
        {toRGBA(over(red, blue)), RGBA{0, 0, 0, 0}},  // source-atop: only where blue is
        {RGBA{0, 0, 102, 255}, toRGBA(red)},          // multiply: S*D + S(1-Da) + D(1-Sa)
        {RGBA{153, 0, 255, 255}, toRGBA(red)},        // screen: S + D - S*D
        {toRGBA(blue), toRGBA(red)},                  // destination-over
        {RGBA{0, 0, 255, 102}, toRGBA(red)},          // xor: D(1-Sa) + S(1-Da)
        {RGBA{0, 0, 0, 0}, RGBA{0, 0, 0, 0}},         // clear
        {toRGBA(red), RGBA{0, 0, 0, 0}},              // source-in: S * Da
        {RGBA{0, 0, 255, 102}, RGBA{0, 0, 0, 0}},     // destination-out: D(1-Sa)
        {RGBA{0, 0, 102, 255}, toRGBA(red)},          // darken
        {RGBA{153, 0, 255, 255}, toRGBA(red)},        // plus-lighter
    };
    for (int i = 0; i < count; ++i) {
        int x = i * tile;
        EXPECT_TRUE(drawtest::near(pixel(c, x + 6, 10), expected[i].onBlue, 2))
            << "mode " << modes[i] << " on blue";
        EXPECT_TRUE(drawtest::near(pixel(c, x + 14, 10), expected[i].onClear, 2))
            << "mode " << modes[i] << " on clear";
        // Outside the square nothing changed, whatever the mode.
        EXPECT_PIXEL(pixel(c, x + 1, 1), 0, 0, 255, 255, 0);
        EXPECT_EQ(pixel(c, x + 18, 1).a, 0);
    }
    UIGraphicsEndImageContext();
}

TEST_F(GoldenImageTest, GradientsWithExtendOptions) {
    auto c = begin(120, 60);
    // The video title's linear gradient: clear black at 0 to 80 % black at 0.75, drawn down the
    // lower half, also before its start.
    CGFloat components[] = {0, 0, 0, 0, 0, 0, 0, 0.8};
    CGFloat locations[] = {0, 0.75};
    auto linear =
        CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), components, locations, 2);
    CGContextSaveGState(c);
    CGContextClipToRect(c, CGRectMake(0, 0, 60, 60));
    CGContextDrawLinearGradient(c, linear, CGPointMake(30, 30), CGPointMake(30, 60),
                                kCGGradientDrawsBeforeStartLocation);
    CGContextRestoreGState(c);
    // The dimming overlay: radial from clear to 75 % black, continuing past the end.
    CGFloat dim[] = {0, 0, 0, 0, 0, 0, 0, 0.75};
    auto radial = CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), dim, nullptr, 2);
    CGContextSaveGState(c);
    CGContextClipToRect(c, CGRectMake(60, 0, 60, 60));
    CGContextDrawRadialGradient(c, radial, CGPointMake(90, 30), 0, CGPointMake(90, 30), 20,
                                kCGGradientDrawsAfterEndLocation);
    CGContextRestoreGState(c);
    drawtest::writePicture(c, "gradients");
    EXPECT_PIXEL(pixel(c, 30, 10), 255, 255, 255, 255, 1);  // before the start: clear black
    // At y = 52.5 (pixel centre) t = 22.5 / 30 = 0.75: 80 % black over white.
    EXPECT_PIXEL(pixel(c, 30, 52), 51, 51, 51, 255, 2);
    EXPECT_PIXEL(pixel(c, 30, 59), 51, 51, 51, 255, 2);     // past 0.75 the last colour holds
    EXPECT_PIXEL(pixel(c, 90, 30), 248, 248, 248, 255, 1);  // the centre (t = 0.035 at the pixel's middle)
    EXPECT_PIXEL(pixel(c, 62, 2), 64, 64, 64, 255, 1);      // corners: 75 % black
    UIGraphicsEndImageContext();
}

TEST_F(GoldenImageTest, ClippedRoundedRectangle) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(40, 40), false, 2);
    auto c = UIGraphicsGetCurrentContext();
    UIBezierPath::bezierPathWithRoundedRect(CGRectMake(0, 0, 40, 40), 8)->addClip();
    UIColor::colorWithRed(99 / 255.0, 214 / 255.0, 228 / 255.0, 1)->setFill();
    UIRectFill(CGRectMake(0, 0, 40, 40));
    UIColor::colorWithRed(11 / 255.0, 35 / 255.0, 44 / 255.0, 1)->setFill();
    UIBezierPath::bezierPathWithOvalInRect(CGRectMake(10, 10, 20, 20))->fill();
    drawtest::writePicture(c, "rounded-clip");
    EXPECT_EQ(pixel(c, 0, 0).a, 0);
    EXPECT_EQ(pixel(c, 79, 79).a, 0);
    EXPECT_PIXEL(pixel(c, 40, 2), 99, 214, 228, 255, 0);
    EXPECT_PIXEL(pixel(c, 2, 40), 99, 214, 228, 255, 0);
    EXPECT_PIXEL(pixel(c, 40, 40), 11, 35, 44, 255, 0);
    UIGraphicsEndImageContext();
}

TEST_F(GoldenImageTest, TransformedImageDrawing) {
    auto quad = drawtest::quadrantImage();
    auto c = begin(60, 60);
    CGContextSetInterpolationQuality(c, kCGInterpolationNone);
    // Upright and enlarged in the top-left corner (the image's own flip undone by the CTM).
    CGContextSaveGState(c);
    CGContextTranslateCTM(c, 0, 20);
    CGContextScaleCTM(c, 1, -1);
    CGContextDrawImage(c, CGRectMake(0, 0, 20, 20), quad);
    CGContextRestoreGState(c);
    // A quarter turn about (45, 15) through UIImage drawing.
    CGContextSaveGState(c);
    CGContextTranslateCTM(c, 45, 15);
    CGContextRotateCTM(c, kPi / 2);
    UIImage::imageWithCGImage(quad)->drawInRect(CGRectMake(-10, -10, 20, 20));
    CGContextRestoreGState(c);
    // Scaled with smoothing: the middle of a two-colour edge blends.
    CGContextSetInterpolationQuality(c, kCGInterpolationLow);
    UIImage::imageWithCGImage(quad)->drawInRect(CGRectMake(0, 30, 30, 30));
    drawtest::writePicture(c, "transformed-images");
    EXPECT_PIXEL(pixel(c, 5, 5), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 15, 5), 0, 255, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 5, 15), 0, 0, 255, 255, 0);
    EXPECT_PIXEL(pixel(c, 15, 15), 255, 255, 255, 255, 0);
    // Turned clockwise on screen: red goes to the top right, blue to the top left.
    EXPECT_PIXEL(pixel(c, 50, 10), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 40, 10), 0, 0, 255, 255, 0);
    EXPECT_PIXEL(pixel(c, 50, 20), 0, 255, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 2, 32), 255, 0, 0, 255, 2);
    RGBA edge = pixel(c, 15, 35);
    EXPECT_GT(edge.r, 40);
    EXPECT_GT(edge.g, 40);
    UIGraphicsEndImageContext();
}

TEST_F(GoldenImageTest, ProgressArcsCapsAndJoins) {
    auto c = begin(150, 40);
    // Pie at progress 0.25 (37 x 37), from twelve o'clock, clockwise on screen: flag 0.
    CGFloat w = 37, cx = w / 2, cy = w / 2, start = -kPi / 2, end = start + 2 * kPi * 0.25;
    CGContextSetRGBStrokeColor(c, 0, 0, 0, 1);
    CGContextSetRGBFillColor(c, 0, 0, 0, 0.1);
    CGContextSetLineWidth(c, 2);
    CGContextFillEllipseInRect(c, CGRectInset(CGRectMake(0, 0, w, w), 2, 2));
    CGContextStrokeEllipseInRect(c, CGRectInset(CGRectMake(0, 0, w, w), 2, 2));
    CGContextSetRGBFillColor(c, 0, 0, 0, 1);
    CGContextMoveToPoint(c, cx, cy);
    CGContextAddArc(c, cx, cy, (w - 4) / 2, start, end, 0);
    CGContextClosePath(c);
    CGContextFillPath(c);
    // Ring at 0.6 with square caps (ox 40).
    auto ring = UIBezierPath::bezierPathWithArcCenter(CGPointMake(40 + cx, cy), (w - 2) / 2, start,
                                                      start + 2 * kPi * 0.6, true);
    ring->setLineWidth(2);
    ring->setLineCapStyle(kCGLineCapSquare);
    UIColor::redColor()->setStroke();
    ring->stroke();
    // A bevel-joined zig-zag with round caps (ox 80).
    CGContextSetRGBStrokeColor(c, 0, 0.5, 0, 1);
    CGContextSetLineWidth(c, 6);
    CGContextSetLineJoin(c, kCGLineJoinBevel);
    CGContextSetLineCap(c, kCGLineCapRound);
    CGContextMoveToPoint(c, 85, 30);
    CGContextAddLineToPoint(c, 95, 8);
    CGContextAddLineToPoint(c, 105, 30);
    CGContextStrokePath(c);
    // A bar's outline of tangent arcs (ox 110, 36 x 16).
    CGContextSaveGState(c);
    CGContextTranslateCTM(c, 110, 10);
    CGFloat W = 36, H = 16, r = H / 2 - 2;
    CGContextSetRGBStrokeColor(c, 0, 0, 1, 1);
    CGContextSetLineWidth(c, 2);
    CGContextMoveToPoint(c, 2, H / 2);
    CGContextAddArcToPoint(c, 2, 2, r + 2, 2, r);
    CGContextAddLineToPoint(c, W - r - 2, 2);
    CGContextAddArcToPoint(c, W - 2, 2, W - 2, H / 2, r);
    CGContextAddArcToPoint(c, W - 2, H - 2, W - r - 2, H - 2, r);
    CGContextAddLineToPoint(c, r + 2, H - 2);
    CGContextAddArcToPoint(c, 2, H - 2, 2, H / 2, r);
    CGContextStrokePath(c);
    CGContextRestoreGState(c);
    drawtest::writePicture(c, "arcs-caps-joins");
    // Pie: the top-right quarter is filled, the top-left is not.
    EXPECT_PIXEL(pixel(c, 25, 11), 0, 0, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 11, 11), 230, 230, 230, 255, 1);
    // Ring: 60 % runs clockwise from the top through the right and the bottom.
    EXPECT_PIXEL(pixel(c, int(40 + cx + 17), int(cy)), 255, 0, 0, 255, 30);     // the right side
    EXPECT_PIXEL(pixel(c, int(40 + cx - 17), int(cy)), 255, 255, 255, 255, 0);  // the left side: not reached
    // The zig-zag's bevelled apex leaves the very tip empty; a round cap reaches past its end.
    EXPECT_PIXEL(pixel(c, 95, 5), 255, 255, 255, 255, 10);
    EXPECT_PIXEL(pixel(c, 95, 10), 0, 128, 0, 255, 2);
    EXPECT_PIXEL(pixel(c, 84, 31), 0, 128, 0, 255, 2);
    // Bar: straight edges on top, the rounded left end does not reach its corner.
    EXPECT_PIXEL(pixel(c, 128, 12), 0, 0, 255, 255, 2);
    EXPECT_PIXEL(pixel(c, 112, 12), 255, 255, 255, 255, 10);
    EXPECT_PIXEL(pixel(c, 112, 18), 0, 0, 255, 255, 10);
    UIGraphicsEndImageContext();
}

TEST_F(GoldenImageTest, ChineseAndLatinText) {
    auto c = begin(160, 70);
    Dictionary attrs;
    attrs.setObject(NSFontAttributeName, UIFont::systemFontOfSize(16));
    attrs.setObject(NSForegroundColorAttributeName, UIColor::blackColor());
    NSStringDrawing::drawAtPoint("上传中... Hello", CGPointMake(4, 4), attrs);
    // Centred, red, truncated at the tail within 150 x 20.
    auto style = make<NSMutableParagraphStyle>();
    style->setAlignment(NSTextAlignmentCenter);
    style->setLineBreakMode(NSLineBreakByTruncatingTail);
    Dictionary red;
    red.setObject(NSFontAttributeName, UIFont::boldSystemFontOfSize(14));
    red.setObject(NSForegroundColorAttributeName, UIColor::redColor());
    red.setObject(NSParagraphStyleAttributeName, style);
    NSStringDrawing::drawInRect("暂无品牌信息 — a rather long brand list title", CGRectMake(5, 30, 150, 20),
                                red);
    Dictionary small;
    small.setObject(NSFontAttributeName, UIFont::systemFontOfSize(11));
    NSStringDrawing::drawInRect("ok", CGRectMake(0, 52, 160, 16), small);
    drawtest::writePicture(c, "text");

    // Ink only where the text is: count dark pixels per band.
    auto inkIn = [&](int x0, int y0, int x1, int y1, bool redInk) {
        int n = 0;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                RGBA p = pixel(c, x, y);
                if (redInk ? (p.r > 200 && p.g < 120) : (p.r < 120 && p.g < 120)) ++n;
            }
        }
        return n;
    };
    TextMeasurer::useDeterministic(false);
    CGSize first = NSStringDrawing::sizeWithAttributes("上传中... Hello", attrs);
    TextMeasurer::useDeterministic(true);
    EXPECT_GT(inkIn(4, 4, 4 + int(first.width), 4 + int(first.height), false), 100);
    EXPECT_EQ(inkIn(int(first.width) + 8, 0, 160, 28, false), 0);  // nothing after the first line
    EXPECT_GT(inkIn(0, 30, 160, 50, true), 100);
    EXPECT_EQ(inkIn(0, 0, 160, 28, true), 0);
    // The truncated line fills the rectangle's width, so ink reaches both halves.
    EXPECT_GT(inkIn(5, 30, 40, 50, true), 10);
    EXPECT_GT(inkIn(120, 30, 155, 50, true), 10);
    EXPECT_GT(inkIn(0, 52, 30, 68, false), 5);
    UIGraphicsEndImageContext();
}

TEST_F(GoldenImageTest, TextInAConvertedLayoutAndWithAClip) {
    // Text drawn into an RGBA context pushed as the current one, with half of it clipped away.
    std::vector<std::uint8_t> bytes(80 * 24 * 4, 0);
    auto c = CGBitmapContextCreate(bytes.data(), 80, 24, 8, 80 * 4, CGColorSpaceCreateDeviceRGB(),
                                   kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Big);
    CGContextTranslateCTM(c, 0, 24);
    CGContextScaleCTM(c, 1, -1);
    CGContextClipToRect(c, CGRectMake(0, 0, 40, 24));
    UIGraphicsPushContext(c);
    Dictionary attrs;
    attrs.setObject(NSFontAttributeName, UIFont::boldSystemFontOfSize(18));
    NSStringDrawing::drawAtPoint("中文中文中文", CGPointMake(2, 2), attrs);
    UIGraphicsPopContext();
    int left = 0, right = 0;
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 80; ++x) {
            if (bytes[(y * 80 + x) * 4 + 3] > 128) (x < 40 ? left : right)++;
        }
    }
    EXPECT_GT(left, 50);
    EXPECT_EQ(right, 0);
}
