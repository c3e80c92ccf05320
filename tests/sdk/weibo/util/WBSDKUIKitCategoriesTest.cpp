// The Weibo SDK's image and view categories: resizing with the orientation applied, the
// 1600-point limit, cropping, stretch caps, thumbnails and sizes read from files, frame accessors,
// screen positions, tree searches, snapshots and frame conversions.

#include <gtest/gtest.h>

#include <cmath>

#include "foundation/NSException.h"
#include "graphics/CGImage.h"
#include "sdk/weibo/util/UIImage+WBSDKResize.h"
#include "sdk/weibo/util/UIView+WBTSizes.h"
#include "tests/support/TestSupport.h"
#include "uikit/UIScrollView.h"
#include "uikit/UIViewController.h"

using namespace UIImage_WBSDKResize;
using namespace UIImage_WBSDKStretch;
using namespace UIView_WBTSizes;

namespace {

// A picture of the size whose left half is red and right half blue, opaque.
Ref<UIImage> picture(std::size_t w, std::size_t h, UIImageOrientation orientation = UIImageOrientation::Up,
                     CGFloat scale = 1) {
    NSData pixels = NSData::dataWithLength(w * h * 4);
    auto* p = const_cast<std::uint8_t*>(pixels.bytes());
    for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
            std::uint8_t* px = p + (y * w + x) * 4;  // B G R A
            bool left = x < w / 2;
            px[0] = left ? 0 : 255;
            px[1] = 0;
            px[2] = left ? 255 : 0;
            px[3] = 255;
        }
    }
    return UIImage::imageWithCGImage(detail::makeBGRAImage(w, h, pixels, false), scale, orientation);
}

CGSize pixelSize(const Ref<UIImage>& image) {
    return CGSizeMake(static_cast<double>(CGImageGetWidth(image->CGImage())),
                      static_cast<double>(CGImageGetHeight(image->CGImage())));
}

TEST(WBSDKImageCategoriesTest, LargePicturesShrinkToSixteenHundredPoints) {
    auto big = wbsdk_resizedImageWithCompressionLevelHighResolution(picture(3000, 2000));
    ASSERT_TRUE(big);
    EXPECT_EQ(pixelSize(big).width, 1600);
    EXPECT_EQ(pixelSize(big).height, 1067);
    auto kept = wbsdk_resizedImageWithCompressionLevelHighResolution(picture(1600, 1200));
    EXPECT_EQ(pixelSize(kept).width, 1600);
    EXPECT_EQ(pixelSize(kept).height, 1200);
    EXPECT_EQ(kept->imageOrientation(), UIImageOrientation::Up);
}

TEST(WBSDKImageCategoriesTest, OrientationTransforms) {
    auto right = picture(100, 50, UIImageOrientation::Right);
    CGAffineTransform t = wbsdk_transformForOrientation(right, CGSizeMake(100, 50));
    EXPECT_NEAR(t.a, 0, 1e-9);
    EXPECT_NEAR(t.b, -1, 1e-9);
    EXPECT_NEAR(t.c, 1, 1e-9);
    EXPECT_NEAR(t.d, 0, 1e-9);
    EXPECT_NEAR(t.tx, 0, 1e-9);
    EXPECT_NEAR(t.ty, 50, 1e-9);
    EXPECT_EQ(wbsdk_transformForOrientation(picture(4, 4), CGSizeMake(4, 4)), CGAffineTransformIdentity);
    auto mirrored =
        wbsdk_transformForOrientation(picture(4, 2, UIImageOrientation::UpMirrored), CGSizeMake(4, 2));
    EXPECT_EQ(mirrored.a, -1);
    EXPECT_EQ(mirrored.tx, 4);
    auto resized = wbsdk_resizedImage(right, CGSizeMake(100, 50), kCGInterpolationDefault);
    ASSERT_TRUE(resized);
    EXPECT_EQ(pixelSize(resized).width, 100);
    EXPECT_EQ(pixelSize(resized).height, 50);
    EXPECT_EQ(resized->imageOrientation(), UIImageOrientation::Up);
}

TEST(WBSDKImageCategoriesTest, ContentModes) {
    auto image = picture(200, 100);
    auto fit = wbsdk_resizedImageWithContentMode(image, 1, CGSizeMake(100, 100), kCGInterpolationDefault);
    EXPECT_EQ(pixelSize(fit).width, 100);
    EXPECT_EQ(pixelSize(fit).height, 50);
    auto fill = wbsdk_resizedImageWithContentMode(image, 2, CGSizeMake(100, 100), kCGInterpolationDefault);
    EXPECT_EQ(pixelSize(fill).width, 200);
    EXPECT_EQ(pixelSize(fill).height, 100);
    try {
        wbsdk_resizedImageWithContentMode(image, 3, CGSizeMake(1, 1), kCGInterpolationDefault);
        FAIL();
    } catch (const NSException& e) {
        EXPECT_EQ(e.name(), NSInvalidArgumentException);
        EXPECT_EQ(e.reason(), "Unsupported content mode: 3");
    }
    auto onColour = wbsdk_resizedImageWithBackgroundColor(image, CGSizeMake(20, 10), kCGInterpolationDefault,
                                                          UIColor::blackColor());
    EXPECT_EQ(pixelSize(onColour).width, 20);
}

TEST(WBSDKImageCategoriesTest, CroppingAndFilling) {
    auto image = picture(40, 20, UIImageOrientation::Up, 2);  // 20 x 10 points
    auto cropped = wbsdk_croppedImage(image, CGRectMake(0, 0, 5, 5));
    EXPECT_EQ(pixelSize(cropped).width, 10);
    EXPECT_EQ(cropped->scale(), 2);
    auto pixels = wbsdk_cropImageWithSourceImage(image, CGRectMake(0, 0, 5, 5));
    EXPECT_EQ(pixelSize(pixels).width, 5);
    EXPECT_EQ(pixels->scale(), 1);
    auto filled = wbsdk_imageWithPureColorBackgroundImage(UIColor::whiteColor(), CGSizeMake(3.4, 2));
    EXPECT_EQ(pixelSize(filled).width, 4);  // the integral rect
    auto scaled = wbsdk_imageByScalingAndCroppingForSize(picture(100, 50), CGSizeMake(20, 20));
    ASSERT_TRUE(scaled);
    EXPECT_EQ(pixelSize(scaled).width, 20);
    EXPECT_FALSE(wbsdk_imageByScalingAndCroppingForSize(nullptr, CGSizeMake(20, 20)));
    EXPECT_FALSE(wbsdk_imageWithSize(picture(10, 10), CGSizeMake(0, 10)));
    EXPECT_TRUE(wbsdk_imageWithSize(picture(10, 10), CGSizeMake(4, 8)));
    auto rotated = rotatedImageWithtransform(picture(10, 20), CGAffineTransformMakeRotation(M_PI));
    EXPECT_EQ(rotated->size().width, 10);
    auto custom = customRotateImageWithtransform(picture(10, 20), CGAffineTransformMakeRotation(M_PI_2),
                                                 CGRectMake(0, 0, 20, 10));
    EXPECT_EQ(custom->size().width, 20);
    auto cut = rotatedImageWithtransformCroppedToRect(picture(10, 20), CGAffineTransformIdentity,
                                                      CGRectMake(0, 0, 5, 5));
    EXPECT_EQ(pixelSize(cut).width, 5);
}

TEST(WBSDKImageCategoriesTest, FilesGiveSizesAndThumbnails) {
    testsupport::TemporaryDirectory dir;
    auto png = UIImagePNGRepresentation(picture(300, 120));
    ASSERT_TRUE(png);
    png->writeToFile(dir.file("p.png"));
    auto size = wbsdk_imageSizeWithoutLoadingWithPath(dir.file("p.png"));
    EXPECT_EQ(size.width, 300);
    EXPECT_EQ(size.height, 120);
    EXPECT_EQ(wbsdk_imageSizeWithoutLoadingWithPath("").width, 0);
    EXPECT_EQ(wbsdk_imageSizeWithoutLoadingWithPath(dir.file("missing.png")).width, 0);
    auto thumb = wbsdk_resizeImageToMaxSize(100, dir.file("p.png"));
    ASSERT_TRUE(thumb);
    EXPECT_EQ(pixelSize(thumb).width, 100);
    EXPECT_FALSE(wbsdk_resizeImageToMaxSize(100, dir.file("missing.png")));
    NSData::fromString("not a picture").writeToFile(dir.file("bad.png"));
    EXPECT_FALSE(wbsdk_resizeImageToMaxSize(100, dir.file("bad.png")));
    EXPECT_EQ(wbsdk_imageSizeWithoutLoadingWithPath(dir.file("bad.png")).width, 0);
}

TEST(WBSDKImageCategoriesTest, StretchCapsAroundTheCentre) {
    auto image = picture(21, 30);
    auto both = wbsdk_stretchableImageByCenter(image);
    EXPECT_EQ(both->leftCapWidth(), 10);
    EXPECT_EQ(both->topCapHeight(), 14);
    EXPECT_EQ(wbsdk_rightCapWidth(image), 10);
    EXPECT_EQ(wbsdk_bottomCapHeight(image), 15);
    EXPECT_EQ(wbsdk_stretchableImageByHeightCenter(image)->leftCapWidth(), 0);
    EXPECT_EQ(wbsdk_stretchableImageByWidthCenter(image)->topCapHeight(), 0);
}

// ---- views ----------------------------------------------------------------------------------------

TEST(WBSDKViewCategoriesTest, FrameAccessors) {
    auto v = make<UIView>(CGRectMake(10, 20, 30, 40));
    EXPECT_EQ(wbsdkRight(v), 40);
    EXPECT_EQ(wbsdkBottom(v), 60);
    setWbsdkRight(v, 100);
    EXPECT_EQ(v->frame(), CGRectMake(70, 20, 30, 40));
    setWbsdkBottom(v, 100);
    EXPECT_EQ(v->frame(), CGRectMake(70, 60, 30, 40));
    setWbsdkCenterX(v, 0);
    EXPECT_EQ(wbsdkLeft(v), -15);
    setWbsdkCenterY(v, 0);
    EXPECT_EQ(wbsdkTop(v), -20);
    setWbsdkWidth(v, 5);
    setWbsdkHeight(v, 6);
    EXPECT_EQ(wbsdkSize(v), CGSizeMake(5, 6));
    setWbsdkOrigin(v, CGPointMake(1, 2));
    EXPECT_EQ(wbsdkOrigin(v), CGPointMake(1, 2));
    EXPECT_EQ(wbsdkLeft(nullptr), 0);
    EXPECT_EQ(wbsdkTTScreenX(nullptr), 0);
}

TEST(WBSDKViewCategoriesTest, PositionsAndSearches) {
    auto top = make<UIView>(CGRectMake(5, 5, 300, 300));
    auto scroll = make<UIScrollView>(CGRectMake(10, 20, 200, 200));
    scroll->setContentSize(CGSizeMake(200, 1000));
    scroll->setContentOffset(CGPointMake(0, 30));
    auto leaf = make<UIView>(CGRectMake(1, 100, 10, 10));
    top->addSubview(scroll);
    scroll->addSubview(leaf);
    EXPECT_EQ(wbsdkTTScreenX(leaf), 16);
    EXPECT_EQ(wbsdkTTScreenY(leaf), 125);
    EXPECT_EQ(wbsdkScreenViewY(leaf), 95);
    EXPECT_EQ(wbsdkScreenFrame(leaf), CGRectMake(16, 95, 10, 10));
    EXPECT_EQ(wbsdk_offsetFromView(leaf, scroll), CGPointMake(1, 100));
    EXPECT_EQ(wbsdk_offsetFromView(leaf, leaf), CGPointMake(0, 0));
    auto stranger = make<UIView>();
    EXPECT_EQ(wbsdk_offsetFromView(leaf, stranger), CGPointMake(16, 125));  // up to the top
    EXPECT_EQ(wbsdk_descendantOrSelfWithClass<UIScrollView>(top), scroll);
    EXPECT_EQ(wbsdk_ancestorOrSelfWithClass<UIScrollView>(leaf), scroll);
    EXPECT_FALSE(wbsdk_ancestorOrSelfWithClass<UIScrollView>(top));
    EXPECT_FALSE(wbsdk_viewController(leaf));
    CGRect converted = wbsdk_convertFrameToWindow(leaf, nullptr);
    EXPECT_EQ(converted.origin.y, 20 + 100 - 30);
    wbsdk_removeAllSubviews(top);
    EXPECT_TRUE(top->subviews().empty());
}

TEST(WBSDKViewCategoriesTest, TheViewControllerIsFoundFromTheSuperview) {
    auto controller = make<UIViewController>();
    auto child = make<UIView>(CGRectMake(0, 0, 10, 10));
    controller->view()->addSubview(child);
    EXPECT_EQ(wbsdk_viewController(child), controller);
    EXPECT_FALSE(wbsdk_viewController(controller->view()));  // its own is not asked
}

TEST(WBSDKViewCategoriesTest, SnapshotsAndExpandedFrames) {
    auto v = make<UIView>(CGRectMake(0, 0, 20, 10));
    v->setBackgroundColor(UIColor::redColor());
    auto full = wbsdk_imageFromView(v);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->size(), CGSizeMake(20, 10));
    auto low = wbsdk_imageFromViewWithLowResolution(v);
    EXPECT_EQ(low->scale(), 0.5);
    EXPECT_EQ(pixelSize(low).width, 10);
    auto part = wbsdk_imageFromViewInRect(v, CGRectMake(5, 0, 10, 10));
    EXPECT_EQ(part->size(), CGSizeMake(10, 10));
    EXPECT_TRUE(wbsdk_imageFromViewWithLowResolutionInRect(v, CGRectMake(0, 0, 4, 4)));
    EXPECT_FALSE(wbsdk_imageFromView(make<UIView>(CGRectMake(0, 0, 0, 10))));
    EXPECT_EQ(wbsdk_expandedFrameWithOffset(CGRectZero, 5), CGRectZero);
    EXPECT_EQ(wbsdk_expandedFrameWithOffset(CGRectMake(10, 10, 10, 10), 5), CGRectMake(5, 5, 20, 20));
    EXPECT_EQ(wbsdk_expandedFrameWithVerticalOffset(CGRectMake(10, 10, 10, 10), 5),
              CGRectMake(10, 5, 10, 20));
    EXPECT_EQ(wbsdk_expandedFrameWithHorizontalOffset(CGRectMake(10, 10, 10, 10), 5),
              CGRectMake(5, 10, 20, 10));
    EXPECT_FALSE(wbsdk_viewForAnimation(v));
}

}  // namespace
