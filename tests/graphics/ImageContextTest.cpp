#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "DrawingTestSupport.h"
#include "graphics/UIBezierPath.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"

using drawtest::pixel;
using drawtest::quadrantImage;
using drawtest::rawPixel;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Ends every image context a test leaves open, so tests stay independent.
class ImageContextTest : public ::testing::Test {
  protected:
    void TearDown() override {
        while (UIGraphicsGetCurrentContext()) UIGraphicsPopContext();
        UIGraphicsSetDefaultScreenScale(2);
    }
};

// The colour of a UIImage's pixel (x, y) from its top-left, through a bitmap context.
drawtest::RGBA imagePixel(const Ref<UIImage>& image, int x, int y) {
    auto c = drawtest::makeBGRAContext(int(CGImageGetWidth(image->CGImage())),
                                       int(CGImageGetHeight(image->CGImage())));
    CGContextDrawImage(
        c, CGRectMake(0, 0, CGImageGetWidth(image->CGImage()), CGImageGetHeight(image->CGImage())),
        image->CGImage());
    return pixel(c, x, y);
}

}  // namespace

TEST_F(ImageContextTest, StackIsPerThread) {
    EXPECT_FALSE(UIGraphicsGetCurrentContext());
    UIGraphicsBeginImageContext(CGSizeMake(4, 4));
    auto mine = UIGraphicsGetCurrentContext();
    ASSERT_TRUE(mine);
    CGContextRef other = mine;
    std::thread([&] { other = UIGraphicsGetCurrentContext(); }).join();
    EXPECT_FALSE(other);
    auto pushed = drawtest::makeBGRAContext(2, 2);
    UIGraphicsPushContext(pushed);
    EXPECT_EQ(UIGraphicsGetCurrentContext(), pushed);
    EXPECT_FALSE(UIGraphicsGetImageFromCurrentImageContext());  // not an image context
    UIGraphicsEndImageContext();                                // not an image context: stays
    EXPECT_EQ(UIGraphicsGetCurrentContext(), pushed);
    UIGraphicsPopContext();
    EXPECT_EQ(UIGraphicsGetCurrentContext(), mine);
    UIGraphicsEndImageContext();
    EXPECT_FALSE(UIGraphicsGetCurrentContext());
    UIGraphicsEndImageContext();  // nothing to end
    UIGraphicsPopContext();
}

TEST_F(ImageContextTest, ScaleZeroMeansTheScreenScale) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(10, 5), false, 0);
    auto c = UIGraphicsGetCurrentContext();
    EXPECT_EQ(CGBitmapContextGetWidth(c), 20u);
    EXPECT_EQ(CGBitmapContextGetHeight(c), 10u);
    CGAffineTransform t = CGContextGetCTM(c);
    EXPECT_EQ(t.a, 2);
    EXPECT_EQ(t.d, -2);
    EXPECT_EQ(t.ty, 10);
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->scale(), 2);
    EXPECT_EQ(image->size(), CGSizeMake(10, 5));
    UIGraphicsEndImageContext();

    UIGraphicsSetDefaultScreenScale(3);
    UIGraphicsSetDefaultScreenScale(-1);  // refused
    EXPECT_EQ(UIGraphicsGetDefaultScreenScale(), 3);
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(1, 1), true, 0);
    EXPECT_EQ(CGBitmapContextGetWidth(UIGraphicsGetCurrentContext()), 3u);
    EXPECT_EQ(CGBitmapContextGetAlphaInfo(UIGraphicsGetCurrentContext()), kCGImageAlphaNoneSkipFirst);
    UIGraphicsEndImageContext();
}

TEST_F(ImageContextTest, FractionalSizesRoundUp) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(10.2, 3), false, 1);
    EXPECT_EQ(CGBitmapContextGetWidth(UIGraphicsGetCurrentContext()), 11u);
    UIGraphicsEndImageContext();
}

TEST_F(ImageContextTest, EmptySizeBalancesButDrawsNothing) {
    UIGraphicsBeginImageContext(CGSizeMake(0, 10));
    EXPECT_FALSE(UIGraphicsGetCurrentContext());
    UIRectFill(CGRectMake(0, 0, 1, 1));
    EXPECT_FALSE(UIGraphicsGetImageFromCurrentImageContext());
    UIGraphicsEndImageContext();
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(NAN, 1), false, 1);
    UIGraphicsEndImageContext();
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(1e9, 1), false, 1);
    EXPECT_FALSE(UIGraphicsGetCurrentContext());
    UIGraphicsEndImageContext();
}

TEST_F(ImageContextTest, OriginIsTopLeftInPoints) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(4, 4), false, 2);
    auto c = UIGraphicsGetCurrentContext();
    CGContextSetRGBFillColor(c, 1, 0, 0, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 1, 1));
    EXPECT_PIXEL(pixel(c, 0, 0), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 1, 1), 255, 0, 0, 255, 0);
    EXPECT_EQ(pixel(c, 2, 2).a, 0);
    EXPECT_EQ(pixel(c, 0, 7).a, 0);
    UIGraphicsEndImageContext();
}

TEST_F(ImageContextTest, RectFillCopiesAndRectFrameStaysInside) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(6, 6), false, 1);
    auto c = UIGraphicsGetCurrentContext();
    CGContextSetRGBFillColor(c, 0, 0, 1, 0.5);
    UIRectFill(CGRectMake(0, 0, 6, 6));
    EXPECT_PIXEL(rawPixel(c, 3, 3), 0, 0, 128, 128, 1);  // copy: not blended over anything
    UIRectFill(CGRectMake(0, 0, 6, 6));
    EXPECT_PIXEL(rawPixel(c, 3, 3), 0, 0, 128, 128, 1);
    UIColor::redColor()->setFill();
    UIRectFrame(CGRectMake(1, 1, 4, 4));
    EXPECT_PIXEL(pixel(c, 1, 1), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 4, 2), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(rawPixel(c, 2, 2), 0, 0, 128, 128, 1);  // inside the frame
    EXPECT_PIXEL(rawPixel(c, 0, 0), 0, 0, 128, 128, 1);  // outside it
    UIGraphicsEndImageContext();
}

TEST_F(ImageContextTest, ContextDrawImageIsUpsideDownUnlessFlipped) {
    auto quad = quadrantImage();
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(2, 2), false, 1);
    auto c = UIGraphicsGetCurrentContext();
    CGContextDrawImage(c, CGRectMake(0, 0, 2, 2), quad);
    EXPECT_PIXEL(pixel(c, 0, 0), 0, 0, 255, 255, 0);  // the bottom-left blue is now on top
    EXPECT_PIXEL(pixel(c, 0, 1), 255, 0, 0, 255, 0);
    CGContextTranslateCTM(c, 0, 2);
    CGContextScaleCTM(c, 1, -1);
    CGContextDrawImage(c, CGRectMake(0, 0, 2, 2), quad);
    EXPECT_PIXEL(pixel(c, 0, 0), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 1, 0), 0, 255, 0, 255, 0);
    UIGraphicsEndImageContext();
}

TEST_F(ImageContextTest, UIImageDrawsUprightAndScaled) {
    auto image = UIImage::imageWithCGImage(quadrantImage(4, 4), 2);  // 2 x 2 points
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(4, 4), false, 1);
    auto c = UIGraphicsGetCurrentContext();
    CGContextSetInterpolationQuality(c, kCGInterpolationNone);
    image->drawAtPoint(CGPointMake(2, 0));
    EXPECT_PIXEL(pixel(c, 2, 0), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 3, 1), 255, 255, 255, 255, 0);
    EXPECT_EQ(pixel(c, 0, 0).a, 0);
    image->drawInRect(CGRectMake(0, 2, 4, 2), kCGBlendModeNormal, 0.5);
    EXPECT_PIXEL(rawPixel(c, 0, 2), 128, 0, 0, 128, 1);
    EXPECT_PIXEL(rawPixel(c, 3, 3), 128, 128, 128, 128, 1);
    UIGraphicsEndImageContext();
}

TEST_F(ImageContextTest, OrientationsTurnTheDrawing) {
    struct Case {
        UIImageOrientation orientation;
        drawtest::RGBA topLeft, topRight;
    };
    const drawtest::RGBA red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255},
        white{255, 255, 255, 255};
    const Case cases[] = {
        {UIImageOrientation::Up, red, green},          {UIImageOrientation::Down, white, blue},
        {UIImageOrientation::Left, green, white},      {UIImageOrientation::Right, blue, red},
        {UIImageOrientation::UpMirrored, green, red},  {UIImageOrientation::DownMirrored, blue, white},
        {UIImageOrientation::LeftMirrored, red, blue}, {UIImageOrientation::RightMirrored, white, green},
    };
    for (const auto& k : cases) {
        auto image = UIImage::imageWithCGImage(quadrantImage(), 1, k.orientation);
        UIGraphicsBeginImageContextWithOptions(CGSizeMake(2, 2), false, 1);
        image->drawInRect(CGRectMake(0, 0, 2, 2));
        auto c = UIGraphicsGetCurrentContext();
        EXPECT_TRUE(drawtest::near(pixel(c, 0, 0), k.topLeft, 0)) << int(k.orientation);
        EXPECT_TRUE(drawtest::near(pixel(c, 1, 0), k.topRight, 0)) << int(k.orientation);
        UIGraphicsEndImageContext();
    }
}

TEST_F(ImageContextTest, StretchableImageKeepsItsCaps) {
    // 3 x 1 image: red | green | blue; caps of one point each side.
    auto strip = drawtest::makeImage(3, 1, [](int x, int) {
        return x == 0   ? drawtest::RGBA{255, 0, 0, 255}
               : x == 1 ? drawtest::RGBA{0, 255, 0, 255}
                        : drawtest::RGBA{0, 0, 255, 255};
    });
    auto image = UIImage::imageWithCGImage(strip)->resizableImageWithCapInsets(UIEdgeInsetsMake(0, 1, 0, 1));
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(10, 1), false, 1);
    auto c = UIGraphicsGetCurrentContext();
    CGContextSetInterpolationQuality(c, kCGInterpolationNone);
    image->drawInRect(CGRectMake(0, 0, 10, 1));
    EXPECT_PIXEL(pixel(c, 0, 0), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 5, 0), 0, 255, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 9, 0), 0, 0, 255, 255, 0);
    UIGraphicsEndImageContext();
}

TEST_F(ImageContextTest, TintWithSourceAtop) {
    // A half-transparent disc tinted: every non-transparent pixel takes the colour.
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(10, 10), false, 1);
    UIColor::colorWithWhite(0.2, 0.6)->setFill();
    UIBezierPath::bezierPathWithOvalInRect(CGRectMake(0, 0, 10, 10))->fill();
    auto disc = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();

    UIGraphicsBeginImageContextWithOptions(disc->size(), false, disc->scale());
    auto c = UIGraphicsGetCurrentContext();
    disc->drawInRect(CGRectMake(0, 0, 10, 10));
    CGContextSetBlendMode(c, kCGBlendModeSourceAtop);
    CGContextSetFillColorWithColor(c, UIColor::redColor()->CGColor());
    CGContextFillRect(c, CGRectMake(0, 0, 10, 10));
    auto tinted = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    EXPECT_PIXEL(imagePixel(tinted, 5, 5), 255, 0, 0, 153, 1);
    EXPECT_EQ(imagePixel(tinted, 0, 0).a, 0);
}

TEST_F(ImageContextTest, RotatedSpriteFrameComesOutUpright) {
    // A frame stored turned a quarter clockwise in its sheet: upright 2 x 1 stored as 1 x 2, the
    // upright top row running down the stored column. Stored red over green is upright red, green.
    auto cut = drawtest::makeImage(1, 2, [](int, int y) {
        return y == 0 ? drawtest::RGBA{255, 0, 0, 255} : drawtest::RGBA{0, 255, 0, 255};
    });
    const CGFloat W = 1, H = 2;  // the cut's width and height
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(H, W), false, 1);
    auto c = UIGraphicsGetCurrentContext();
    CGContextScaleCTM(c, 1, -1);
    CGContextRotateCTM(c, kPi / 2);
    CGContextTranslateCTM(c, -W, -H);
    CGContextDrawImage(c, CGRectMake(0, 0, W, H), cut);
    EXPECT_PIXEL(pixel(c, 0, 0), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(pixel(c, 1, 0), 0, 255, 0, 255, 0);
    UIGraphicsEndImageContext();
}

TEST_F(ImageContextTest, OnePixelReaderReadsTheRowAbove) {
    // The picture's pixel reader: a 1 x 1 RGBA context, copy mode, translated by (-x, y - H).
    auto picture = drawtest::makeImage(3, 3, [](int x, int y) {
        return drawtest::RGBA{x * 100, y * 100, 7, 255};
    });
    auto read = [&](int x, int y) {
        std::uint8_t bytes[4] = {0, 0, 0, 0};
        auto c = CGBitmapContextCreate(bytes, 1, 1, 8, 4, CGColorSpaceCreateDeviceRGB(),
                                       kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Big);
        CGContextSetBlendMode(c, kCGBlendModeCopy);
        CGContextTranslateCTM(c, -x, y - 3);
        CGContextDrawImage(c, CGRectMake(0, 0, 3, 3), picture);
        return drawtest::RGBA{bytes[0], bytes[1], bytes[2], bytes[3]};
    };
    EXPECT_PIXEL(read(2, 2), 200, 100, 7, 255, 0);  // row y - 1
    EXPECT_PIXEL(read(1, 1), 100, 0, 7, 255, 0);
    EXPECT_PIXEL(read(1, 0), 0, 0, 0, 0, 0);  // row -1: nothing drawn
}

TEST_F(ImageContextTest, RoundedClipThumbnail) {
    auto photo = drawtest::makeImage(8, 4, [](int, int) { return drawtest::RGBA{0, 0, 255, 255}; });
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(40, 40), false, 0);
    UIBezierPath::bezierPathWithRoundedRect(CGRectMake(0, 0, 40, 40), 5)->addClip();
    UIImage::imageWithCGImage(photo)->drawInRect(CGRectMake(-20, 0, 80, 40));
    auto thumb = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    ASSERT_TRUE(thumb);
    EXPECT_EQ(CGImageGetWidth(thumb->CGImage()), 80u);
    EXPECT_EQ(imagePixel(thumb, 0, 0).a, 0);  // the rounded corner
    EXPECT_PIXEL(imagePixel(thumb, 40, 40), 0, 0, 255, 255, 0);
    EXPECT_PIXEL(imagePixel(thumb, 40, 0), 0, 0, 255, 255, 0);
}

TEST_F(ImageContextTest, BezierStrokeUsesItsOwnSettings) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(20, 20), false, 1);
    auto c = UIGraphicsGetCurrentContext();
    auto path = UIBezierPath::bezierPathWithRect(CGRectMake(5, 5, 10, 10));
    path->setLineWidth(4);
    UIColor::greenColor()->setStroke();
    path->stroke();
    EXPECT_PIXEL(pixel(c, 4, 10), 0, 255, 0, 255, 0);
    EXPECT_EQ(pixel(c, 10, 10).a, 0);
    EXPECT_EQ(cairo_get_line_width(c->cairoContext()), 1);  // restored
    UIGraphicsEndImageContext();
}

TEST_F(ImageContextTest, ContextPicturesAreIndependentCopies) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(1, 1), false, 1);
    UIColor::redColor()->setFill();
    UIRectFill(CGRectMake(0, 0, 1, 1));
    auto first = UIGraphicsGetImageFromCurrentImageContext();
    UIColor::blueColor()->setFill();
    UIRectFill(CGRectMake(0, 0, 1, 1));
    auto second = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    EXPECT_PIXEL(imagePixel(first, 0, 0), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(imagePixel(second, 0, 0), 0, 0, 255, 255, 0);
}

TEST_F(ImageContextTest, EndingWithTheImageGivesThePictureOnceTheContextIsLetGo) {
    // Nothing else holds the context: the picture takes its pixels.
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(3, 2), false, 2);
    UIColor::greenColor()->setFill();
    UIRectFill(CGRectMake(1, 0, 2, 2));
    auto taken = detail::endImageContextWithImage();
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->scale(), 2);
    EXPECT_EQ(CGImageGetWidth(taken->CGImage()), 6u);
    EXPECT_PIXEL(imagePixel(taken, 0, 0), 0, 0, 0, 0, 0);
    EXPECT_PIXEL(imagePixel(taken, 5, 3), 0, 255, 0, 255, 0);

    // Someone still holds the context: the picture is a copy, and later drawing does not reach it.
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(1, 1), true, 1);
    CGContextRef kept = UIGraphicsGetCurrentContext();
    UIColor::redColor()->setFill();
    UIRectFill(CGRectMake(0, 0, 1, 1));
    auto copied = detail::endImageContextWithImage();
    ASSERT_TRUE(copied);
    CGContextSetRGBFillColor(kept, 0, 0, 1, 1);
    CGContextFillRect(kept, CGRectMake(0, 0, 1, 1));
    EXPECT_PIXEL(imagePixel(copied, 0, 0), 255, 0, 0, 255, 0);
    EXPECT_PIXEL(drawtest::pixel(kept, 0, 0), 0, 0, 255, 255, 0);
}

TEST_F(ImageContextTest, EndingWithTheImageLeavesOtherEntriesAlone) {
    EXPECT_EQ(detail::endImageContextWithImage(), nullptr);  // nothing open
    auto plain = drawtest::makeBGRAContext(1, 1);
    UIGraphicsPushContext(plain);
    EXPECT_EQ(detail::endImageContextWithImage(), nullptr);  // not an image context: not popped
    EXPECT_EQ(UIGraphicsGetCurrentContext(), plain);
    UIGraphicsPopContext();
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(0, 0), false, 1);  // no bitmap, still an entry
    EXPECT_EQ(detail::endImageContextWithImage(), nullptr);
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
}
