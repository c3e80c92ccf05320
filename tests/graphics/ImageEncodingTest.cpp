#include <gtest/gtest.h>

#include "ImageCorpus.h"
#include "graphics/CGImageDestination.h"
#include "graphics/CGImageSource.h"
#include "graphics/ImageCodec.h"
#include "graphics/UIImage.h"
#include "tests/support/TestSupport.h"

namespace {

using corpus::Pixels;

CGImageRef decode(const NSData& data) {
    return CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithData(data), 0);
}

// A straight-alpha RGBA picture as a CGImage, with alpha 0, 255 and partial values.
CGImageRef rgbaImage(std::size_t w, std::size_t h, bool opaque) {
    std::vector<std::uint8_t> px(w * h * 4);
    for (std::size_t i = 0; i < w * h; ++i) {
        px[i * 4] = static_cast<std::uint8_t>(i * 13);
        px[i * 4 + 1] = static_cast<std::uint8_t>(i * 7);
        px[i * 4 + 2] = static_cast<std::uint8_t>(255 - i);
        px[i * 4 + 3] = opaque ? 255 : (i % 3 == 0 ? 0 : i % 3 == 1 ? 255 : 200);
    }
    return CGImageCreate(w, h, 8, 32, w * 4, CGColorSpaceCreateDeviceRGB(),
                         opaque ? kCGImageAlphaNoneSkipLast : kCGImageAlphaLast,
                         CGDataProviderCreateWithData(NSData(std::move(px))));
}

int pngColourType(const NSData& png) {
    return png.bytes()[25];
}

TEST(PNGEncodingTest, OpaqueImagesWriteRGBAndRoundTripExactly) {
    auto image = rgbaImage(17, 9, true);
    auto png = UIImagePNGRepresentation(UIImage::imageWithCGImage(image));
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ(detail::sniffImageFormat(png->bytes(), png->length()), detail::ImageFormat::PNG);
    EXPECT_EQ(pngColourType(*png), 2);
    auto back = decode(*png);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->alphaInfo(), kCGImageAlphaNoneSkipFirst);
    EXPECT_EQ(corpus::pixelsOf(*back).bgra, corpus::pixelsOf(*image).bgra);
}

TEST(PNGEncodingTest, AlphaImagesWriteRGBAAndKeepCoverage) {
    auto image = rgbaImage(17, 9, false);
    auto png = UIImagePNGRepresentation(UIImage::imageWithCGImage(image));
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ(pngColourType(*png), 6);
    auto back = decode(*png);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->alphaInfo(), kCGImageAlphaPremultipliedFirst);
    Pixels want = corpus::pixelsOf(*image);
    EXPECT_LE(corpus::maxDifference(want, *back), 1);
}

TEST(PNGEncodingTest, OrientedImagesAreWrittenAsTheyDisplay) {
    auto image = rgbaImage(4, 2, true);
    auto right = UIImage::imageWithCGImage(image, 1, UIImageOrientation::Right);
    auto png = UIImagePNGRepresentation(right);
    ASSERT_TRUE(png.has_value());
    auto back = decode(*png);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->width(), 2u);
    EXPECT_EQ(back->height(), 4u);
    EXPECT_EQ(corpus::pixelsOf(*back).bgra, corpus::pixelsOf(*detail::orientImage(image, 6)).bgra);
}

TEST(PNGEncodingTest, NothingToEncode) {
    EXPECT_FALSE(UIImagePNGRepresentation(nullptr).has_value());
    EXPECT_FALSE(UIImageJPEGRepresentation(nullptr, 0.5).has_value());
    auto animated = UIImage::animatedImageWithImages({}, 1);
    EXPECT_EQ(animated, nullptr);
}

TEST(JPEGEncodingTest, QualityControlsSizeAndFidelity) {
    corpus::JPEGRecipe recipe;
    recipe.width = 160;
    recipe.height = 120;
    Pixels expected;
    auto source = decode(corpus::makeJPEG(recipe, &expected));
    ASSERT_NE(source, nullptr);
    auto ui = UIImage::imageWithCGImage(source);
    std::size_t previousSize = 0;
    int previousError = 1000;
    for (double quality : {0.01, 0.1, 0.3, 0.5, 0.8, 1.0}) {
        SCOPED_TRACE(quality);
        auto jpeg = UIImageJPEGRepresentation(ui, quality);
        ASSERT_TRUE(jpeg.has_value());
        EXPECT_GT(jpeg->length(), previousSize);
        previousSize = jpeg->length();
        auto back = decode(*jpeg);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->width(), 160u);
        int error = corpus::maxDifference(corpus::pixelsOf(*source), *back);
        EXPECT_LE(error, previousError + 2);
        previousError = error;
    }
    EXPECT_LE(previousError, 8);
    // Out-of-range qualities are clamped, not refused.
    EXPECT_TRUE(UIImageJPEGRepresentation(ui, -3).has_value());
    EXPECT_TRUE(UIImageJPEGRepresentation(ui, 7).has_value());
}

TEST(JPEGEncodingTest, OrientationTravelsAsAnExifTag) {
    auto ui = UIImage::imageWithCGImage(rgbaImage(16, 8, true), 2, UIImageOrientation::Left);
    auto jpeg = UIImageJPEGRepresentation(ui, 0.9);
    ASSERT_TRUE(jpeg.has_value());
    auto props = CGImageSourceCopyPropertiesAtIndex(CGImageSourceCreateWithData(*jpeg), 0);
    ASSERT_TRUE(props.has_value());
    EXPECT_EQ((*props)[kCGImagePropertyOrientation].intValue(), 8);
    EXPECT_EQ((*props)[kCGImagePropertyPixelWidth].integerValue(), 16);
    auto back = UIImage::imageWithData(*jpeg);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->imageOrientation(), UIImageOrientation::Left);
    EXPECT_EQ(back->size(), CGSizeMake(8, 16));
}

TEST(JPEGEncodingTest, AlphaIsDroppedOverBlack) {
    std::vector<std::uint8_t> px = {255, 255, 255, 0, 255, 255, 255, 255};
    auto image = CGImageCreate(2, 1, 8, 32, 8, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaLast,
                               CGDataProviderCreateWithData(NSData(px)));
    auto jpeg = UIImageJPEGRepresentation(UIImage::imageWithCGImage(image), 1.0);
    ASSERT_TRUE(jpeg.has_value());
    auto back = decode(*jpeg);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->alphaInfo(), kCGImageAlphaNoneSkipFirst);
}

TEST(DestinationTest, WritesPNGAndJPEGIntoData) {
    auto image = rgbaImage(10, 10, true);
    NSData png, jpeg;
    auto pngDest = CGImageDestinationCreateWithData(&png, kUTTypePNG, 1);
    ASSERT_NE(pngDest, nullptr);
    CGImageDestinationAddImage(pngDest, image);
    EXPECT_TRUE(CGImageDestinationFinalize(pngDest));
    EXPECT_FALSE(CGImageDestinationFinalize(pngDest));  // once only
    EXPECT_EQ(corpus::pixelsOf(*decode(png)).bgra, corpus::pixelsOf(*image).bgra);

    auto low = CGImageDestinationCreateWithData(&jpeg, kUTTypeJPEG, 1);
    CGImageDestinationAddImage(low, image, Dictionary{{kCGImageDestinationLossyCompressionQuality, 0.1}});
    ASSERT_TRUE(CGImageDestinationFinalize(low));
    NSData better;
    auto high = CGImageDestinationCreateWithData(&better, kUTTypeJPEG, 1);
    CGImageDestinationAddImage(high, image, Dictionary{{kCGImageDestinationLossyCompressionQuality, 1.0}});
    ASSERT_TRUE(CGImageDestinationFinalize(high));
    EXPECT_LT(jpeg.length(), better.length());
    EXPECT_EQ(CGImageSourceGetType(CGImageSourceCreateWithData(jpeg)),
              std::optional<std::string>(kUTTypeJPEG));
}

TEST(DestinationTest, OrientationPropertyTurnsPNGPixelsAndTagsJPEG) {
    auto image = rgbaImage(6, 3, true);
    NSData png, jpeg;
    auto p = CGImageDestinationCreateWithData(&png, kUTTypePNG, 1);
    CGImageDestinationAddImage(p, image, Dictionary{{kCGImagePropertyOrientation, 6}});
    ASSERT_TRUE(CGImageDestinationFinalize(p));
    EXPECT_EQ(decode(png)->width(), 3u);
    auto j = CGImageDestinationCreateWithData(&jpeg, kUTTypeJPEG, 1);
    CGImageDestinationSetProperties(j, Dictionary{{kCGImagePropertyOrientation, 3}});
    CGImageDestinationAddImage(j, image);
    ASSERT_TRUE(CGImageDestinationFinalize(j));
    EXPECT_EQ((*CGImageSourceCopyPropertiesAtIndex(CGImageSourceCreateWithData(jpeg),
                                                   0))[kCGImagePropertyOrientation]
                  .intValue(),
              3);
}

TEST(DestinationTest, RefusesWhatItCannotWrite) {
    NSData out;
    EXPECT_EQ(CGImageDestinationCreateWithData(&out, kUTTypeGIF, 1), nullptr);
    EXPECT_EQ(CGImageDestinationCreateWithData(&out, "public.heic", 1), nullptr);
    EXPECT_EQ(CGImageDestinationCreateWithData(nullptr, kUTTypePNG, 1), nullptr);
    EXPECT_EQ(CGImageDestinationCreateWithData(&out, kUTTypePNG, 0), nullptr);
    auto empty = CGImageDestinationCreateWithData(&out, kUTTypePNG, 1);
    EXPECT_FALSE(CGImageDestinationFinalize(empty));
    EXPECT_FALSE(CGImageDestinationFinalize(nullptr));
    EXPECT_EQ(CGImageDestinationCopyTypeIdentifiers().count(), 2u);
}

TEST(DestinationTest, WritesFiles) {
    testsupport::TemporaryDirectory dir;
    auto dest = CGImageDestinationCreateWithURL("file://" + dir.file("out.png"), kUTTypePNG, 1);
    ASSERT_NE(dest, nullptr);
    CGImageDestinationAddImage(dest, rgbaImage(3, 3, false));
    ASSERT_TRUE(CGImageDestinationFinalize(dest));
    EXPECT_EQ(CGImageSourceGetCount(CGImageSourceCreateWithURL(dir.file("out.png"))), 1u);
    auto bad = CGImageDestinationCreateWithURL(dir.file("no/such/folder/out.png"), kUTTypePNG, 1);
    CGImageDestinationAddImage(bad, rgbaImage(3, 3, false));
    EXPECT_FALSE(CGImageDestinationFinalize(bad));
}

}  // namespace
