// Content-type sniffing, multi-format decoding with orientation, GIF assembly, forced
// decompression and the scale of a cache key; and the decoders against hostile bytes.

#include <gtest/gtest.h>

#include <string>

#include "graphics/CGContext.h"
#include "graphics/CGImageSource.h"
#include "images/NSData+ImageContentType.h"
#include "images/UIImage+ForceDecode.h"
#include "images/UIImage+GIF.h"
#include "images/UIImage+MultiFormat.h"
#include "images/WIImageWithScaleFromKey.h"
#include "tests/support/ImageHost.h"
#include "tests/support/TestSupport.h"
#include "uikit/UIScreen.h"

using testsupport::ImageHost;

namespace {

NSData bytes(const std::string& text) {
    return NSData::fromString(text);
}

std::optional<std::string> sniff(const std::string& text) {
    return NSData_ImageContentType::wi_contentTypeForImageData(bytes(text));
}

// Literals with embedded zero bytes keep their full length.
template <std::size_t N>
std::optional<std::string> sniff(const char (&text)[N]) {
    return sniff(std::string(text, N - 1));
}

}  // namespace

TEST(ContentTypeTest, FirstByteDecides) {
    EXPECT_EQ(sniff("\xFF\xD8\xFF"), "image/jpeg");
    EXPECT_EQ(sniff("\x89PNG"), "image/png");
    EXPECT_EQ(sniff("GIF89a"), "image/gif");
    EXPECT_EQ(sniff("II*\0"), "image/tiff");
    EXPECT_EQ(sniff("MM\0*"), "image/tiff");
    EXPECT_EQ(sniff("<html>"), std::nullopt);
    EXPECT_EQ(NSData_ImageContentType::wi_contentTypeForImageData(NSData()), std::nullopt);
    EXPECT_EQ(NSData_ImageContentTypeDeprecated::contentTypeForImageData(bytes("\x89")), "image/png");
}

TEST(ContentTypeTest, WebPNeedsTheWholeRiffHeader) {
    EXPECT_EQ(sniff("RIFF\x10\0\0\0WEBPVP8 "), "image/webp");
    EXPECT_EQ(sniff("RIFF\x10\0\0\0WEBP"), "image/webp");  // exactly twelve bytes
    EXPECT_EQ(sniff("RIFF\x10\0\0\0WEB"), std::nullopt);   // eleven
    EXPECT_EQ(sniff("RIFF\x10\0\0\0WAVEfmt "), std::nullopt);
    EXPECT_EQ(sniff("RIFX\x10\0\0\0WEBPVP8 "), std::nullopt);
}

TEST(MultiFormatTest, DecodesPNGAndJPEG) {
    auto png = UIImage_MultiFormat::wi_imageWithData(bytes(ImageHost::pngPicture(12, 7, 3)));
    ASSERT_TRUE(png);
    EXPECT_EQ(CGImageGetWidth(png->CGImage()), 12u);
    EXPECT_EQ(CGImageGetHeight(png->CGImage()), 7u);
    EXPECT_EQ(png->imageOrientation(), UIImageOrientation::Up);

    auto jpeg = UIImage_MultiFormat::wi_imageWithData(bytes(ImageHost::jpegPicture(16, 8, 2)));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(CGImageGetWidth(jpeg->CGImage()), 16u);
}

TEST(MultiFormatTest, ExifOrientationSixTurnsRight) {
    std::string jpeg = ImageHost::jpegPicture(16, 8, 2, 0.9, 6);
    EXPECT_EQ(UIImage_MultiFormat::wi_imageOrientationFromImageData(bytes(jpeg)), UIImageOrientation::Right);
    auto image = UIImage_MultiFormat::wi_imageWithData(bytes(jpeg));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->imageOrientation(), UIImageOrientation::Right);
    // Sideways: the size in points swaps width and height.
    EXPECT_DOUBLE_EQ(image->size().width, 8);

    std::string upright = ImageHost::jpegPicture(16, 8, 2, 0.9, 1);
    EXPECT_EQ(UIImage_MultiFormat::wi_imageOrientationFromImageData(bytes(upright)), UIImageOrientation::Up);
    EXPECT_EQ(UIImage_MultiFormat::wi_imageWithData(bytes(upright))->imageOrientation(),
              UIImageOrientation::Up);
}

TEST(MultiFormatTest, ExifTableAndUnknownValues) {
    using UIImage_MultiFormat::wi_exifOrientationToiOSOrientation;
    EXPECT_EQ(wi_exifOrientationToiOSOrientation(1), UIImageOrientation::Up);
    EXPECT_EQ(wi_exifOrientationToiOSOrientation(2), UIImageOrientation::UpMirrored);
    EXPECT_EQ(wi_exifOrientationToiOSOrientation(3), UIImageOrientation::Down);
    EXPECT_EQ(wi_exifOrientationToiOSOrientation(4), UIImageOrientation::DownMirrored);
    EXPECT_EQ(wi_exifOrientationToiOSOrientation(5), UIImageOrientation::LeftMirrored);
    EXPECT_EQ(wi_exifOrientationToiOSOrientation(6), UIImageOrientation::Right);
    EXPECT_EQ(wi_exifOrientationToiOSOrientation(7), UIImageOrientation::RightMirrored);
    EXPECT_EQ(wi_exifOrientationToiOSOrientation(8), UIImageOrientation::Left);
    EXPECT_EQ(wi_exifOrientationToiOSOrientation(0), UIImageOrientation::Up);
    EXPECT_EQ(wi_exifOrientationToiOSOrientation(9), UIImageOrientation::Up);
    EXPECT_EQ(wi_exifOrientationToiOSOrientation(-1), UIImageOrientation::Up);
}

TEST(MultiFormatTest, UndecodableFormatsGiveNil) {
    EXPECT_FALSE(UIImage_MultiFormat::wi_imageWithData(NSData()));
    EXPECT_FALSE(UIImage_MultiFormat::wi_imageWithData(bytes("RIFF\x10\0\0\0WEBPVP8 xxxxxxxx")));
    EXPECT_FALSE(UIImage_MultiFormat::wi_imageWithData(bytes("II*\0\x08\0\0\0")));
    EXPECT_FALSE(UIImage_MultiFormat::wi_imageWithData(bytes("<html>not a picture</html>")));
    EXPECT_EQ(UIImage_MultiFormat::wi_imageOrientationFromImageData(bytes("junk")), UIImageOrientation::Up);
}

TEST(GIFTest, SingleFrameIsStill) {
    auto image = UIImage_GIF::wi_animatedGIFWithData(bytes(ImageHost::gifPicture(10, 10, 1, 5)));
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->images().empty());
    EXPECT_FALSE(UIImage_GIF::wi_animatedGIFWithData(NSData()));
}

TEST(GIFTest, FramesWithoutDelayPlayATenthOfASecondEach) {
    auto image = UIImage_GIF::wi_animatedGIFWithData(bytes(ImageHost::gifPicture(10, 10, 3, 0)));
    ASSERT_TRUE(image);
    ASSERT_EQ(image->images().size(), 3u);
    EXPECT_NEAR(image->duration(), 0.3, 1e-5);
    EXPECT_EQ(image->images()[0]->scale(), UIScreen::mainScreen()->scale());
    EXPECT_EQ(image->images()[0]->imageOrientation(), UIImageOrientation::Up);
}

TEST(GIFTest, DeclaredDelaysAddUpAndTinyOnesAreRaised) {
    auto image = UIImage_GIF::wi_animatedGIFWithData(bytes(ImageHost::gifPicture(10, 10, 4, 25)));
    ASSERT_TRUE(image);
    EXPECT_NEAR(image->duration(), 1.0, 1e-4);
    // 0.01 s is "as fast as possible": played at 0.1 s.
    auto fast = UIImage_GIF::wi_animatedGIFWithData(bytes(ImageHost::gifPicture(10, 10, 2, 1)));
    ASSERT_TRUE(fast);
    EXPECT_NEAR(fast->duration(), 0.2, 1e-5);
    auto source = CGImageSourceCreateWithData(bytes(ImageHost::gifPicture(10, 10, 2, 7)));
    EXPECT_NEAR(UIImage_GIF::wi_frameDurationAtIndex(1, source), 0.07, 1e-5);
    EXPECT_NEAR(UIImage_GIF::wi_frameDurationAtIndex(99, source), 0.1, 1e-5);
}

TEST(GIFTest, AGIFWithADamagedFrameKeepsTheGoodOnes) {
    std::string gif = ImageHost::gifPicture(16, 16, 3, 10);
    // Damage the tail: the last frame's data is cut short.
    std::string cut = gif.substr(0, gif.size() - 20);
    auto image = UIImage_MultiFormat::wi_imageWithData(bytes(cut));
    if (image && !image->images().empty()) {
        EXPECT_LT(image->images().size(), 3u);
        for (const auto& frame : image->images()) EXPECT_TRUE(frame->CGImage());
    }
}

TEST(GIFTest, ScalingAndCroppingFillsTheTarget) {
    auto image = UIImage_GIF::wi_animatedGIFWithData(bytes(ImageHost::gifPicture(20, 10, 2, 10)));
    ASSERT_TRUE(image);
    auto same = UIImage_GIF::wi_animatedImageByScalingAndCroppingToSize(image, image->size());
    EXPECT_EQ(same, image);
    EXPECT_EQ(UIImage_GIF::wi_animatedImageByScalingAndCroppingToSize(image, CGSizeMake(0, 0)), image);
    auto square = UIImage_GIF::wi_animatedImageByScalingAndCroppingToSize(image, CGSizeMake(6, 6));
    ASSERT_TRUE(square);
    ASSERT_EQ(square->images().size(), 2u);
    EXPECT_DOUBLE_EQ(square->size().width, 6);
    EXPECT_DOUBLE_EQ(square->size().height, 6);
    EXPECT_DOUBLE_EQ(square->duration(), image->duration());
}

TEST(ForceDecodeTest, OpaqueBecomesSkipFirstAndAlphaPremultipliedFirst) {
    auto opaque = UIImage::imageWithData(bytes(ImageHost::jpegPicture(9, 5, 4)));
    ASSERT_TRUE(opaque);
    auto decodedOpaque = UIImage_ForceDecode::decodedImageWithImage(opaque);
    ASSERT_TRUE(decodedOpaque);
    EXPECT_EQ(CGImageGetAlphaInfo(decodedOpaque->CGImage()), kCGImageAlphaNoneSkipFirst);
    EXPECT_EQ(CGImageGetWidth(decodedOpaque->CGImage()), 9u);

    auto translucent = UIImage::imageWithData(bytes(ImageHost::pngPicture(9, 5, 4, true)));
    ASSERT_TRUE(translucent);
    auto decoded = UIImage_ForceDecode::decodedImageWithImage(translucent);
    EXPECT_EQ(CGImageGetAlphaInfo(decoded->CGImage()), kCGImageAlphaPremultipliedFirst);
}

TEST(ForceDecodeTest, TwentyFourBitRGBGetsNoAlpha) {
    std::vector<std::uint8_t> rgb(4 * 3 * 3, 0x80);
    auto bitmap = CGImageCreate(4, 3, 8, 24, 12, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaNone,
                                CGDataProviderCreateWithData(NSData(rgb)));
    ASSERT_TRUE(bitmap);
    auto decoded = UIImage_ForceDecode::decodedImageWithImage(
        UIImage::imageWithCGImage(bitmap, 2, UIImageOrientation::Down));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(CGImageGetAlphaInfo(decoded->CGImage()), kCGImageAlphaNoneSkipFirst);
    EXPECT_EQ(decoded->scale(), 2);
    EXPECT_EQ(decoded->imageOrientation(), UIImageOrientation::Down);
}

TEST(ForceDecodeTest, AnimatedAndNilPassThrough) {
    auto animated = UIImage_GIF::wi_animatedGIFWithData(bytes(ImageHost::gifPicture(4, 4, 2, 10)));
    EXPECT_EQ(UIImage_ForceDecode::decodedImageWithImage(animated), animated);
    EXPECT_FALSE(UIImage_ForceDecode::decodedImageWithImage(nullptr));
}

TEST(ScaleFromKeyTest, RetinaSuffixBeforeAShortExtension) {
    EXPECT_EQ(detail::wiScaleFromKey("http://h/a/pic@2x.png"), 2.0);
    EXPECT_EQ(detail::wiScaleFromKey("http://h/a/pic@2x.jpeg"), 2.0);
    EXPECT_EQ(detail::wiScaleFromKey("a@2x.png"), 2.0);  // exactly eight characters
    EXPECT_EQ(detail::wiScaleFromKey("@2x.png"), 1.0);   // seven
    EXPECT_EQ(detail::wiScaleFromKey("http://h/a@2x./thing.png"), 1.0);
    EXPECT_EQ(detail::wiScaleFromKey("http://h/pic@2x.webpx"), 1.0);
    EXPECT_EQ(detail::wiScaleFromKey("http://h/pic.png"), 1.0);
    EXPECT_EQ(detail::wiScaleFromKey(""), 1.0);
    // Characters are counted as the platform counts them, not as bytes.
    EXPECT_EQ(detail::wiScaleFromKey("\xE5\x9B\xBE@2x.png"), 2.0);
}

TEST(ScaleFromKeyTest, AppliesToStillAndAnimatedImages) {
    auto still = UIImage::imageWithData(bytes(ImageHost::pngPicture(10, 4, 1)));
    auto scaled = WIImageWithScaleFromKey(std::string("x/pic@2x.png"), still);
    ASSERT_TRUE(scaled);
    EXPECT_EQ(scaled->scale(), 2);
    EXPECT_DOUBLE_EQ(scaled->size().width, 5);
    EXPECT_EQ(WIImageWithScaleFromKey(std::nullopt, still)->scale(), 1);
    EXPECT_FALSE(WIImageWithScaleFromKey(std::string("k"), nullptr));

    auto animated = UIImage_GIF::wi_animatedGIFWithData(bytes(ImageHost::gifPicture(4, 4, 3, 10)));
    auto scaledAnimation = WIImageWithScaleFromKey(std::string("x/pic@2x.gif"), animated);
    ASSERT_EQ(scaledAnimation->images().size(), 3u);
    for (const auto& frame : scaledAnimation->images()) EXPECT_EQ(frame->scale(), 2);
    EXPECT_DOUBLE_EQ(scaledAnimation->duration(), animated->duration());
}

// ---- hostile bytes ----------------------------------------------------------------------------

class DecoderFuzzTest : public ::testing::TestWithParam<std::string> {};

TEST_P(DecoderFuzzTest, MutatedAndTruncatedBytesNeverCrash) {
    std::string kind = GetParam();
    std::string valid = kind == "png"    ? ImageHost::pngPicture(24, 17, 5, true)
                        : kind == "jpeg" ? ImageHost::jpegPicture(24, 17, 5, 0.7, 6)
                                         : ImageHost::gifPicture(12, 9, 3, 4);
    ASSERT_FALSE(valid.empty());
    ASSERT_TRUE(UIImage_MultiFormat::wi_imageWithData(bytes(valid)));
    int decoded = 0;
    for (unsigned seed = 0; seed < 300; ++seed) {
        std::string mutated = testsupport::mutate(valid, seed);
        NSData data = bytes(mutated);
        (void)NSData_ImageContentType::wi_contentTypeForImageData(data);
        (void)UIImage_MultiFormat::wi_imageOrientationFromImageData(data);
        auto image = UIImage_MultiFormat::wi_imageWithData(data);
        if (image) {
            ++decoded;
            EXPECT_TRUE(image->CGImage());
            auto forced = UIImage_ForceDecode::decodedImageWithImage(image);
            EXPECT_TRUE(forced);
            (void)WIImageWithScaleFromKey(std::string("k@2x.png"), image);
        }
    }
    for (std::size_t length = 0; length < valid.size();
         length += std::max<std::size_t>(1, valid.size() / 40)) {
        auto image = UIImage_MultiFormat::wi_imageWithData(bytes(valid.substr(0, length)));
        if (image) {
            EXPECT_GT(image->size().width, 0);
        }
    }
    // Some mutations leave a decodable picture; the rest fail cleanly. Either way we got here.
    SUCCEED() << decoded << " of 300 mutations still decoded";
}

INSTANTIATE_TEST_SUITE_P(Formats, DecoderFuzzTest, ::testing::Values("png", "jpeg", "gif"));

TEST(HostileBytesTest, HostileHeadersAreRefused) {
    // A PNG header claiming an enormous picture, a GIF screen of 65535 x 65535, random noise.
    static const char pngHeader[] =
        "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\x7f\xff\xff\xff\x7f\xff\xff\xff\x08\x06\0\0\0";
    std::string png(pngHeader, sizeof pngHeader - 1);
    EXPECT_FALSE(UIImage_MultiFormat::wi_imageWithData(bytes(png)));
    static const char gifHeader[] = "GIF89a\xff\xff\xff\xff\xf7\0\0";
    std::string gif(gifHeader, sizeof gifHeader - 1);
    EXPECT_FALSE(UIImage_MultiFormat::wi_imageWithData(bytes(gif)));
    std::string noise;
    for (int i = 0; i < 4096; ++i) noise.push_back(static_cast<char>((i * 7919) & 0xFF));
    EXPECT_FALSE(UIImage_MultiFormat::wi_imageWithData(bytes(noise)));
    for (char first : {'\xFF', '\x89', 'G', 'I', 'M', 'R'}) {
        EXPECT_FALSE(UIImage_MultiFormat::wi_imageWithData(bytes(std::string(1, first))));
    }
}
