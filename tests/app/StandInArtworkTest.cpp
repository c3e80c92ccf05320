// Drawn stand-in pictures: each shape's pixels, the caption's colour and place, the scale, and the
// named library (a bundle picture wins, a stand-in is drawn once, unknown names stay missing).

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

#include "app/StandInArtwork.h"
#include "graphics/CGImage.h"
#include "graphics/GraphicsTesting.h"
#include "graphics/UIGraphics.h"
#include "tests/support/TestSupport.h"

using namespace StandInArtwork;

namespace {

struct Pixels {
    explicit Pixels(const Ref<UIImage>& image)
        : width(CGImageGetWidth(image->CGImage())),
          height(CGImageGetHeight(image->CGImage())),
          data(detail::pixelsAsPremultipliedBGRA(*image->CGImage())) {}
    // B, G, R, A at a pixel.
    std::array<int, 4> at(std::size_t x, std::size_t y) const {
        const unsigned char* p = data.bytes() + (y * width + x) * 4;
        return {p[0], p[1], p[2], p[3]};
    }
    // Whether any pixel of the rectangle is darker than `level` in all of B, G and R.
    bool anyDarkIn(std::size_t x0, std::size_t y0, std::size_t x1, std::size_t y1, int level) const {
        for (std::size_t y = y0; y < y1; ++y)
            for (std::size_t x = x0; x < x1; ++x) {
                auto p = at(x, y);
                if (p[3] > 0 && p[0] < level && p[1] < level && p[2] < level) return true;
            }
        return false;
    }
    std::size_t width, height;
    NSData data;
};

const Style kPlain = {.largestFont = 16, .fontPerHeight = 0.5};

using Colour4 = std::array<int, 4>;
constexpr Colour4 kRed = {0, 0, 255, 255};
constexpr Colour4 kClear = {0, 0, 0, 0};

}  // namespace

TEST(StandInArtworkTest, HexColoursAreBytesOver255) {
    constexpr Colour c = hex(0x63D6E4, 0.5);
    EXPECT_EQ(c.red, 99 / 255.0);
    EXPECT_EQ(c.green, 214 / 255.0);
    EXPECT_EQ(c.blue, 228 / 255.0);
    EXPECT_EQ(c.alpha, 0.5);
}

TEST(StandInArtworkTest, EachShapePaintsItsOwnArea) {
    Pixels rect(draw({{20, 20}, hex(0xFF0000), Shape::Rect}, kPlain));
    EXPECT_EQ(rect.at(0, 0), kRed);
    EXPECT_EQ(rect.at(10, 10), kRed);

    Pixels round(draw({{20, 20}, hex(0xFF0000), Shape::Round}, kPlain));
    EXPECT_EQ(round.at(0, 0), kClear);
    EXPECT_EQ(round.at(19, 19), kClear);
    EXPECT_EQ(round.at(10, 10), kRed);

    // Twice a tab strip wide: only the middle eighth, 70 to 90 of 160, is painted.
    Pixels mark(draw({{160, 4}, hex(0xFF0000), Shape::MiddleMark}, kPlain));
    EXPECT_EQ(mark.at(69, 2), kClear);
    EXPECT_EQ(mark.at(70, 2), kRed);
    EXPECT_EQ(mark.at(89, 2), kRed);
    EXPECT_EQ(mark.at(90, 2), kClear);

    // A white head in the upper middle, the ground around it.
    Pixels avatar(draw({{80, 80}, hex(0xFF0000), Shape::Avatar}, kPlain));
    auto head = avatar.at(40, 28);
    EXPECT_GT(head[0], 200);
    EXPECT_GT(head[1], 200);
    EXPECT_EQ(avatar.at(12, 40), kRed);
    EXPECT_EQ(avatar.at(0, 0), kClear);
}

TEST(StandInArtworkTest, AFrameIsOutlinedInTheStylesGreyAndWidth) {
    const Style thin = {.largestFont = 20, .fontPerHeight = 0.55, .frameGrey = 0.7, .frameWidth = 1};
    const Style thick = {.largestFont = 20, .fontPerHeight = 0.55, .frameGrey = 0.6, .frameWidth = 2};
    const Picture white = {{20, 20}, hex(0xFFFFFF), Shape::Frame};
    Pixels one(draw(white, thin));
    EXPECT_EQ(one.at(0, 10), (Colour4{179, 179, 179, 255}));
    EXPECT_EQ(one.at(1, 10), (Colour4{255, 255, 255, 255}));
    Pixels two(draw(white, thick));
    EXPECT_EQ(two.at(0, 10), (Colour4{153, 153, 153, 255}));
    EXPECT_EQ(two.at(1, 10), (Colour4{153, 153, 153, 255}));
    EXPECT_EQ(two.at(2, 10), (Colour4{255, 255, 255, 255}));
}

TEST(StandInArtworkTest, CaptionsAreWhiteUnlessTheStyleDarkensThemOnALightFill) {
    const Picture light = {{60, 40}, hex(0xF0F0F0), Shape::Rect, "+"};
    Style dark = kPlain;
    dark.darkCaptionOnLight = true;
    // Without the rule the caption is white on near white: nothing dark anywhere.
    EXPECT_FALSE(Pixels(draw(light, kPlain)).anyDarkIn(0, 0, 60, 40, 160));
    EXPECT_TRUE(Pixels(draw(light, dark)).anyDarkIn(20, 5, 40, 35, 160));
    // A dark fill keeps its white caption under the rule, so the caption's middle is not dark.
    const Picture deep = {{60, 40}, hex(0x202020), Shape::Rect, "+"};
    Pixels deepCaption(draw(deep, dark));
    EXPECT_FALSE(deepCaption.anyDarkIn(0, 0, 60, 40, 16));
    bool anyWhite = false;
    for (std::size_t x = 20; x < 40; ++x)
        for (std::size_t y = 5; y < 35; ++y) anyWhite = anyWhite || deepCaption.at(x, y)[0] > 200;
    EXPECT_TRUE(anyWhite);
}

TEST(StandInArtworkTest, TheCaptionFontIsTheSmallerOfItsLimits) {
    EXPECT_EQ(captionFontSize(CGSizeMake(100, 20), kPlain), 10);
    EXPECT_EQ(captionFontSize(CGSizeMake(100, 200), kPlain), 16);
}

TEST(StandInArtworkTest, ACaptionIsCentredInItsBox) {
    Ref<UIImage> image = drawImage(CGSizeMake(80, 30), 1, [](CGContextRef) {
        drawCaption("印", CGRectMake(40, 0, 40, 30), 16, UIColor::blackColor());
    });
    ASSERT_TRUE(image);
    Pixels pixels(image);
    EXPECT_FALSE(pixels.anyDarkIn(0, 0, 40, 30, 128));
    EXPECT_TRUE(pixels.anyDarkIn(40, 0, 80, 30, 128));
}

TEST(StandInArtworkTest, AScaledPictureIsHalfItsPixelsInPoints) {
    Ref<UIImage> image = draw({{36, 36}, hex(0xB0B0B0), Shape::Round, "", 2}, kPlain);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->scale(), 2);
    EXPECT_EQ(image->size().width, 18);
    EXPECT_EQ(CGImageGetWidth(image->CGImage()), 36u);
    EXPECT_EQ(draw({{36, 36}, hex(0xB0B0B0), Shape::Round}, kPlain)->scale(), 1);
}

TEST(StandInArtworkTest, TheLibraryDrawsAKnownNameOnceAndLeavesOthersMissing) {
    testsupport::TemporaryDirectory empty;
    graphics_testing::setResourcesDirectory(empty.path());
    Library library({{"stand_in_dot", {{10, 10}, hex(0xE52626), Shape::Round}}}, kPlain);
    Ref<UIImage> first = library.imageNamed("stand_in_dot");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->size().width, 10);
    EXPECT_EQ(library.imageNamed("stand_in_dot"), first);
    EXPECT_EQ(library.imageNamed("stand_in_other"), nullptr);
    EXPECT_EQ(library.imageNamed(""), nullptr);
    graphics_testing::setResourcesDirectory("");
}

TEST(StandInArtworkTest, APictureInTheBundleWinsOverTheStandIn) {
    testsupport::TemporaryDirectory resources;
    Ref<UIImage> bundled = draw({{4, 4}, hex(0x00FF00), Shape::Rect}, kPlain);
    ASSERT_TRUE(UIImagePNGRepresentation(bundled)->writeToFile(resources.file("stand_in_dot.png"), true));
    graphics_testing::setResourcesDirectory(resources.path());
    Library library({{"stand_in_dot", {{10, 10}, hex(0xE52626), Shape::Round}}}, kPlain);
    Ref<UIImage> image = library.imageNamed("stand_in_dot");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size().width, 4);
    graphics_testing::setResourcesDirectory("");
}

TEST(StandInArtworkTest, AnyArtworkTypeDrawsThroughItsOwnFunctionOnceAcrossThreads) {
    testsupport::TemporaryDirectory empty;
    graphics_testing::setResourcesDirectory(empty.path());
    std::atomic<int> drawings{0};
    Library library(std::map<std::string, int>{{"stand_in_square", 12}}, [&drawings](int side) {
        ++drawings;
        return drawImage(CGSizeMake(side, side), 1, [](CGContextRef context) {
            CGContextSetRGBFillColor(context, 1, 0, 0, 1);
            CGContextFillRect(context, CGRectMake(0, 0, 12, 12));
        });
    });
    std::vector<Ref<UIImage>> seen(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] { seen[i] = library.imageNamed("stand_in_square"); });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(drawings.load(), 1);
    ASSERT_TRUE(seen[0]);
    for (const auto& image : seen) EXPECT_EQ(image, seen[0]);
    EXPECT_EQ(Pixels(seen[0]).at(6, 6), kRed);
    EXPECT_EQ(library.imageNamed("stand_in_round"), nullptr);
    EXPECT_EQ(drawings.load(), 1);
    graphics_testing::setResourcesDirectory("");
}
