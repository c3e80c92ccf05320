#include <gtest/gtest.h>

#include <cstring>

#include "ImageCorpus.h"
#include "graphics/CGImage.h"

namespace {

CGImageRef imageOver(std::vector<std::uint8_t> bytes, std::size_t w, std::size_t h, std::size_t bpp,
                     std::size_t bpr, CGColorSpaceRef space, CGBitmapInfo info) {
    return CGImageCreate(w, h, 8, bpp, bpr, space, info,
                         CGDataProviderCreateWithData(NSData(std::move(bytes))));
}

std::vector<std::uint8_t> bgraOf(const CGImageRef& image) {
    NSData d = detail::pixelsAsPremultipliedBGRA(*image);
    return {d.bytes(), d.bytes() + d.length()};
}

TEST(CGImageCreateTest, RejectsInconsistentLayouts) {
    auto rgb = CGColorSpaceCreateDeviceRGB();
    std::vector<std::uint8_t> bytes(64, 0);
    EXPECT_EQ(imageOver(bytes, 0, 2, 32, 8, rgb, kCGImageAlphaPremultipliedLast), nullptr);
    EXPECT_EQ(imageOver(bytes, 2, 2, 32, 7, rgb, kCGImageAlphaPremultipliedLast), nullptr);  // rows too short
    EXPECT_EQ(imageOver(bytes, 4, 5, 32, 16, rgb, kCGImageAlphaPremultipliedLast), nullptr);  // too few bytes
    EXPECT_EQ(imageOver(bytes, 2, 2, 24, 8, rgb, kCGImageAlphaPremultipliedLast), nullptr);  // alpha needs 32
    EXPECT_EQ(imageOver(bytes, 2, 2, 32, 8, rgb, kCGImageAlphaNone), nullptr);
    EXPECT_EQ(imageOver(bytes, 2, 2, 32, 8, rgb, kCGImageAlphaPremultipliedLast | kCGBitmapFloatComponents),
              nullptr);
    EXPECT_EQ(imageOver(bytes, 2, 2, 24, 6, rgb, kCGImageAlphaNone | kCGBitmapByteOrder32Little), nullptr);
    EXPECT_EQ(CGImageCreate(2, 2, 16, 64, 16, rgb, kCGImageAlphaPremultipliedLast,
                            CGDataProviderCreateWithData(NSData(bytes.data(), 64))),
              nullptr);
    EXPECT_EQ(CGImageCreate(2, 2, 8, 32, 8, rgb, kCGImageAlphaPremultipliedLast, nullptr), nullptr);
    EXPECT_EQ(imageOver(bytes, SIZE_MAX / 2, 2, 32, 8, rgb, kCGImageAlphaPremultipliedLast), nullptr);
    EXPECT_EQ(imageOver(bytes, 2, SIZE_MAX / 2, 32, 8, rgb, kCGImageAlphaPremultipliedLast), nullptr);
    // The last row needs only its own bytes, not a full stride.
    EXPECT_NE(imageOver(std::vector<std::uint8_t>(16 + 8), 2, 2, 32, 16, rgb, kCGImageAlphaPremultipliedLast),
              nullptr);
}

TEST(CGImageCreateTest, QueriesAnswerTheLayout) {
    auto image = imageOver(std::vector<std::uint8_t>(3 * 5 * 4), 3, 5, 32, 12, CGColorSpaceCreateDeviceRGB(),
                           kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(CGImageGetWidth(image), 3u);
    EXPECT_EQ(CGImageGetHeight(image), 5u);
    EXPECT_EQ(CGImageGetBitsPerComponent(image), 8u);
    EXPECT_EQ(CGImageGetBitsPerPixel(image), 32u);
    EXPECT_EQ(CGImageGetBytesPerRow(image), 12u);
    EXPECT_EQ(CGImageGetBitmapInfo(image) & kCGBitmapAlphaInfoMask, kCGImageAlphaPremultipliedFirst);
    EXPECT_EQ(CGImageGetAlphaInfo(image), kCGImageAlphaPremultipliedFirst);
    EXPECT_EQ(CGColorSpaceGetModel(CGImageGetColorSpace(image)), kCGColorSpaceModelRGB);
    EXPECT_EQ(CGImageGetWidth(nullptr), 0u);
    EXPECT_EQ(CGImageGetColorSpace(nullptr), nullptr);
}

struct LayoutCase {
    const char* name;
    CGBitmapInfo info;
    std::vector<std::uint8_t>
        pixel;  // memory bytes of one pixel: straight red 200, green 100, blue 50, alpha 128
};

TEST(PixelConversionTest, EveryRGBLayoutConvertsToPremultipliedBGRA) {
    // Premultiplied input holds the premultiplied values 100, 50, 25 at alpha 128.
    const std::vector<LayoutCase> cases = {
        {"premultiplied last", kCGImageAlphaPremultipliedLast, {100, 50, 25, 128}},
        {"premultiplied first", kCGImageAlphaPremultipliedFirst, {128, 100, 50, 25}},
        {"premultiplied first little",
         kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little,
         {25, 50, 100, 128}},
        {"premultiplied last little",
         kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Little,
         {128, 25, 50, 100}},
        {"premultiplied last big",
         kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Big,
         {100, 50, 25, 128}},
        {"straight last", kCGImageAlphaLast, {200, 100, 50, 128}},
        {"straight first", kCGImageAlphaFirst, {128, 200, 100, 50}},
        {"straight first little", kCGImageAlphaFirst | kCGBitmapByteOrder32Little, {50, 100, 200, 128}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = imageOver(c.pixel, 1, 1, 32, 4, CGColorSpaceCreateDeviceRGB(), c.info);
        ASSERT_NE(image, nullptr);
        auto out = bgraOf(image);
        ASSERT_EQ(out.size(), 4u);
        EXPECT_NEAR(out[0], 25, 1);
        EXPECT_NEAR(out[1], 50, 1);
        EXPECT_NEAR(out[2], 100, 1);
        EXPECT_EQ(out[3], 128);
    }
}

TEST(PixelConversionTest, SkippedAlphaIsOpaqueWhateverTheByteHolds) {
    auto last =
        imageOver({10, 20, 30, 7}, 1, 1, 32, 4, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaNoneSkipLast);
    EXPECT_EQ(bgraOf(last), (std::vector<std::uint8_t>{30, 20, 10, 255}));
    auto first = imageOver({0, 30, 20, 10}, 1, 1, 32, 4, CGColorSpaceCreateDeviceRGB(),
                           kCGImageAlphaNoneSkipFirst | kCGBitmapByteOrder32Little);
    EXPECT_EQ(bgraOf(first), (std::vector<std::uint8_t>{0, 30, 20, 255}));
    auto rgb =
        imageOver({10, 20, 30, 40, 50, 60}, 2, 1, 24, 6, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaNone);
    EXPECT_EQ(bgraOf(rgb), (std::vector<std::uint8_t>{30, 20, 10, 255, 60, 50, 40, 255}));
}

TEST(PixelConversionTest, GreyGreyAlphaAlphaOnlyAndCMYK) {
    auto grey = imageOver({0, 77, 255}, 3, 1, 8, 3, CGColorSpaceCreateDeviceGray(), kCGImageAlphaNone);
    EXPECT_EQ(bgraOf(grey), (std::vector<std::uint8_t>{0, 0, 0, 255, 77, 77, 77, 255, 255, 255, 255, 255}));
    auto greyAlpha = imageOver({200, 128}, 1, 1, 16, 2, CGColorSpaceCreateDeviceGray(), kCGImageAlphaLast);
    EXPECT_EQ(bgraOf(greyAlpha), (std::vector<std::uint8_t>{100, 100, 100, 128}));
    auto alphaOnly = CGImageCreate(1, 1, 8, 8, 1, nullptr, kCGImageAlphaOnly,
                                   CGDataProviderCreateWithData(NSData(std::vector<std::uint8_t>{90})));
    ASSERT_NE(alphaOnly, nullptr);
    EXPECT_EQ(bgraOf(alphaOnly), (std::vector<std::uint8_t>{0, 0, 0, 90}));
    // Plain inks: cyan only shows green and blue; full black shows nothing.
    auto cmyk = imageOver({255, 0, 0, 0, 0, 0, 0, 255}, 2, 1, 32, 8, CGColorSpaceCreateDeviceCMYK(),
                          kCGImageAlphaNone);
    EXPECT_EQ(bgraOf(cmyk), (std::vector<std::uint8_t>{255, 255, 0, 255, 0, 0, 0, 255}));
}

TEST(PixelConversionTest, PaddedRowsAreDropped) {
    std::vector<std::uint8_t> bytes = {1, 2, 3, 255, 9, 9, 9, 9, 4, 5, 6, 255};
    auto image = imageOver(bytes, 1, 2, 32, 8, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedLast);
    EXPECT_EQ(bgraOf(image), (std::vector<std::uint8_t>{3, 2, 1, 255, 6, 5, 4, 255}));
}

TEST(PixelConversionTest, PremultipliedValuesAboveAlphaAreClamped) {
    auto image = imageOver({255, 0, 0, 100}, 1, 1, 32, 4, CGColorSpaceCreateDeviceRGB(),
                           kCGImageAlphaPremultipliedLast);
    EXPECT_EQ(bgraOf(image), (std::vector<std::uint8_t>{0, 0, 100, 100}));
}

TEST(PixelConversionTest, DecodedLayoutIsSharedWithoutCopy) {
    NSData pixels(std::vector<std::uint8_t>(8 * 4, 255));
    auto image = detail::makeBGRAImage(4, 2, pixels, false);
    EXPECT_EQ(image->alphaInfo(), kCGImageAlphaNoneSkipFirst);
    EXPECT_EQ(image->bitmapInfo() & kCGBitmapByteOrderMask, kCGBitmapByteOrder32Little);
    EXPECT_EQ(detail::pixelsAsPremultipliedBGRA(*image).bytes(), image->data().bytes());
}

TEST(DataProviderTest, ReleaseCallbackRunsOnceWhenTheLastHolderGoes) {
    int released = 0;
    {
        auto provider =
            CGDataProviderCreateWithData(NSData(std::vector<std::uint8_t>(16, 1)), [&] { ++released; });
        auto image =
            CGImageCreate(2, 2, 8, 32, 8, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaNoneSkipLast, provider);
        ASSERT_NE(image, nullptr);
        provider.reset();
        EXPECT_EQ(released, 0);
        EXPECT_EQ(CGDataProviderCopyData(CGImageGetDataProvider(image)).length(), 16u);
    }
    EXPECT_EQ(released, 1);
    EXPECT_TRUE(CGDataProviderCopyData(nullptr).empty());
}

TEST(DataProviderTest, CopyIsIndependentOfTheOriginal) {
    auto provider = CGDataProviderCreateWithData(NSData(std::vector<std::uint8_t>{1, 2, 3}));
    NSData copy = CGDataProviderCopyData(provider);
    copy.mutableBytes()[0] = 9;
    EXPECT_EQ(provider->data().bytes()[0], 1);
}

class CropTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<std::uint8_t> bytes(6 * 4 * 4);
        for (std::size_t i = 0; i < 24; ++i) {
            bytes[i * 4] = static_cast<std::uint8_t>(i);  // red = index
            bytes[i * 4 + 3] = 255;
        }
        image = imageOver(bytes, 6, 4, 32, 24, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedLast);
    }
    CGImageRef image;
};

TEST_F(CropTest, CutsWithTopLeftOrigin) {
    auto crop = CGImageCreateWithImageInRect(image, CGRectMake(2, 1, 3, 2));
    ASSERT_NE(crop, nullptr);
    EXPECT_EQ(crop->width(), 3u);
    EXPECT_EQ(crop->height(), 2u);
    EXPECT_EQ(crop->bitmapInfo(), image->bitmapInfo());
    auto px = bgraOf(crop);
    EXPECT_EQ(px[2], 8);                 // (2, 1)
    EXPECT_EQ(px[(3 + 2) * 4 + 2], 16);  // (4, 2)
}

TEST_F(CropTest, ClipsToTheImageAndRoundsOutward) {
    auto crop = CGImageCreateWithImageInRect(image, CGRectMake(4.5, -3, 10, 4.2));
    ASSERT_NE(crop, nullptr);
    EXPECT_EQ(crop->width(), 2u);
    EXPECT_EQ(crop->height(), 2u);
    EXPECT_EQ(bgraOf(crop)[2], 4);
}

TEST_F(CropTest, NothingLeftGivesNull) {
    EXPECT_EQ(CGImageCreateWithImageInRect(image, CGRectMake(10, 10, 5, 5)), nullptr);
    EXPECT_EQ(CGImageCreateWithImageInRect(image, CGRectNull), nullptr);
    EXPECT_EQ(CGImageCreateWithImageInRect(image, CGRectMake(1, 1, 0, 3)), nullptr);
    EXPECT_EQ(CGImageCreateWithImageInRect(nullptr, CGRectMake(0, 0, 1, 1)), nullptr);
    EXPECT_EQ(CGImageCreateWithImageInRect(image, CGRectMake(0, 0, 6, 4)), image);
}

TEST(DataProviderDecodeTest, PNGAndJPEGProviders) {
    corpus::Pixels expected;
    NSData png = corpus::makePNG({}, &expected);
    auto fromPNG = CGImageCreateWithPNGDataProvider(CGDataProviderCreateWithData(png));
    ASSERT_NE(fromPNG, nullptr);
    EXPECT_EQ(corpus::maxDifference(expected, *fromPNG), 0);
    EXPECT_EQ(CGImageCreateWithJPEGDataProvider(CGDataProviderCreateWithData(png)), nullptr);

    NSData jpeg = corpus::makeJPEG({});
    auto fromJPEG = CGImageCreateWithJPEGDataProvider(CGDataProviderCreateWithData(jpeg));
    ASSERT_NE(fromJPEG, nullptr);
    EXPECT_EQ(CGColorSpaceGetModel(fromJPEG->colorSpace()), kCGColorSpaceModelRGB);
    EXPECT_EQ(fromJPEG->alphaInfo(), kCGImageAlphaNoneSkipFirst);
    EXPECT_EQ(CGImageCreateWithPNGDataProvider(CGDataProviderCreateWithData(jpeg)), nullptr);
    EXPECT_EQ(CGImageCreateWithPNGDataProvider(nullptr), nullptr);
}

TEST(DataProviderDecodeTest, CMYKJPEGKeepsItsColourSpace) {
    corpus::JPEGRecipe recipe;
    recipe.cmyk = true;
    corpus::Pixels expected;
    NSData jpeg = corpus::makeJPEG(recipe, &expected);
    auto image = CGImageCreateWithJPEGDataProvider(CGDataProviderCreateWithData(jpeg));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(CGColorSpaceGetModel(CGImageGetColorSpace(image)), kCGColorSpaceModelCMYK);
    EXPECT_EQ(image->bitsPerPixel(), 32u);
    EXPECT_LE(corpus::maxDifference(expected, *image), 12);
}

}  // namespace
