// Rounded square thumbnails: scale, placement, the clipped corners and bad input.

#include <gtest/gtest.h>

#include "app/UIImage+Thumbnail.h"
#include "graphics/CGImage.h"
#include "graphics/UIGraphics.h"

namespace {

// A 100 x 50 picture in four vertical bands of 25 points: red, green, blue, white.
Ref<UIImage> bands() {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(100, 50), true, 1);
    CGContextRef c = UIGraphicsGetCurrentContext();
    const double colours[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
    for (int i = 0; i < 4; ++i) {
        CGContextSetRGBFillColor(c, colours[i][0], colours[i][1], colours[i][2], 1);
        CGContextFillRect(c, CGRectMake(25 * i, 0, 25, 50));
    }
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

struct Pixels {
    explicit Pixels(const Ref<UIImage>& image)
        : width(CGImageGetWidth(image->CGImage())),
          data(detail::pixelsAsPremultipliedBGRA(*image->CGImage())) {}
    // B, G, R, A at a pixel.
    std::array<int, 4> at(std::size_t x, std::size_t y) const {
        const unsigned char* p = data.bytes() + (y * width + x) * 4;
        return {p[0], p[1], p[2], p[3]};
    }
    std::size_t width;
    NSData data;
};

class ThumbnailTest : public ::testing::Test {
  protected:
    void SetUp() override { UIGraphicsSetDefaultScreenScale(1); }
    void TearDown() override { UIGraphicsSetDefaultScreenScale(2); }
};

}  // namespace

TEST_F(ThumbnailTest, AWidePictureIsScaledToFillTheHeightAndCentred) {
    Ref<UIImage> thumbnail = UIImage_Thumbnail::getThumbnailFromImage(bands());
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->size().width, 40);
    EXPECT_EQ(thumbnail->size().height, 40);
    // Scaled by 0.8 to 80 x 40 and drawn at x = -20: the square shows source columns 25...75,
    // green on the left half and blue on the right.
    Pixels pixels(thumbnail);
    EXPECT_EQ(pixels.at(10, 20), (std::array<int, 4>{0, 255, 0, 255}));
    EXPECT_EQ(pixels.at(30, 20), (std::array<int, 4>{255, 0, 0, 255}));
    // Red and white stay outside.
    for (std::size_t x = 1; x < 39; ++x) {
        EXPECT_EQ(pixels.at(x, 20)[2], 0) << x;
    }
}

TEST_F(ThumbnailTest, TheCornersAreRoundedAndTransparent) {
    Pixels pixels(UIImage_Thumbnail::getThumbnailFromImage(bands()));
    for (auto [x, y] : {std::pair{0, 0}, {39, 0}, {0, 39}, {39, 39}}) {
        EXPECT_EQ(pixels.at(x, y)[3], 0) << x << "," << y;
    }
    EXPECT_EQ(pixels.at(5, 0)[3], 255);  // the straight edge past the corner
    EXPECT_EQ(pixels.at(0, 5)[3], 255);
}

TEST_F(ThumbnailTest, ItUsesTheScreenScale) {
    UIGraphicsSetDefaultScreenScale(2);
    Ref<UIImage> thumbnail = UIImage_Thumbnail::getThumbnailFromImage(bands());
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->scale(), 2);
    EXPECT_EQ(CGImageGetWidth(thumbnail->CGImage()), 80u);
    EXPECT_EQ(thumbnail->size().width, 40);
}

TEST_F(ThumbnailTest, ATallPictureFillsTheWidth) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(10, 200), true, 1);
    CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), 0, 0, 1, 1);
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 10, 200));
    Ref<UIImage> tall = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    Pixels pixels(UIImage_Thumbnail::getThumbnailFromImage(tall));
    for (std::size_t x : {1u, 20u, 38u}) EXPECT_EQ(pixels.at(x, 20)[3], 255) << x;
}

TEST_F(ThumbnailTest, NoPictureOrNoAreaGivesNoThumbnail) {
    EXPECT_FALSE(UIImage_Thumbnail::getThumbnailFromImage(nullptr));
    auto empty = UIImage::imageWithCGImage(detail::makeBGRAImage(0, 0, NSData(), true));
    EXPECT_FALSE(UIImage_Thumbnail::getThumbnailFromImage(empty));
}
