// The plain bitmap the catalogue works in: bounds, crops, copies and the trip through PNG.

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "tools/devserver/catalogue/Picture.h"

using namespace devserver::catalogue;

namespace {

void paint(Picture& p, int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
    std::uint8_t* px = p.pixel(x, y);
    px[0] = r;
    px[1] = g;
    px[2] = b;
    px[3] = a;
}

}  // namespace

TEST(PictureBounds, EmptyAndTransparentPicturesHaveNoBounds) {
    EXPECT_TRUE(opaqueBounds(Picture()).empty());
    EXPECT_TRUE(opaqueBounds(Picture(13, 7)).empty());
    EXPECT_TRUE(Picture(-3, 5).empty());
}

TEST(PictureBounds, SinglePixelsAtEveryCornerOfOddAndEvenWidths) {
    for (int w : {1, 2, 3, 8, 9}) {
        for (int h : {1, 4}) {
            for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}}) {
                Picture p(w, h);
                paint(p, x, y, 1, 2, 3);
                EXPECT_EQ(opaqueBounds(p), (PixelRect{x, y, 1, 1}))
                    << w << "x" << h << " at " << x << "," << y;
            }
        }
    }
}

TEST(PictureBounds, AnyNonZeroAlphaCounts) {
    Picture p(10, 6);
    paint(p, 3, 1, 0, 0, 0, 1);
    paint(p, 7, 4, 0, 0, 0, 200);
    EXPECT_EQ(opaqueBounds(p), (PixelRect{3, 1, 5, 4}));
}

TEST(PictureCopies, CropAndBlitClipToThePicture) {
    Picture p(4, 4);
    paint(p, 3, 3, 9, 9, 9);
    Picture c = crop(p, {2, 2, 10, 10});
    ASSERT_EQ(c.width, 2);
    ASSERT_EQ(c.height, 2);
    EXPECT_EQ(c.pixel(1, 1)[0], 9);
    EXPECT_TRUE(crop(p, {5, 5, 2, 2}).empty());
    EXPECT_TRUE(crop(p, {-3, 0, 2, 2}).empty());

    Picture target(3, 3);
    blit(target, p, -2, -2);  // only the lower right quarter lands
    EXPECT_EQ(target.pixel(1, 1)[0], 9);
    blit(target, p, 5, 5);  // entirely outside: nothing happens
    blit(target, Picture(), 0, 0);
}

TEST(PictureCopies, CompositeKeepsOpaqueOverAndBlendsPartialAlpha) {
    Picture under(2, 1), over(2, 1);
    paint(under, 0, 0, 0, 0, 200);
    paint(under, 1, 0, 0, 0, 200);
    paint(over, 0, 0, 100, 0, 0);
    paint(over, 1, 0, 200, 0, 0, 128);
    composite(under, over);
    EXPECT_EQ(under.pixel(0, 0)[0], 100);
    EXPECT_EQ(under.pixel(0, 0)[2], 0);
    EXPECT_EQ(under.pixel(1, 0)[3], 255);
    EXPECT_NEAR(under.pixel(1, 0)[0], 100, 2);
    EXPECT_NEAR(under.pixel(1, 0)[2], 100, 2);
}

TEST(PicturePNG, OpaqueAndClearPixelsSurviveExactly) {
    Picture p(17, 9);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 17; ++x)
            if ((x + y) % 3)
                paint(p, x, y, static_cast<std::uint8_t>(x * 15), static_cast<std::uint8_t>(y * 28), 77);
    auto png = encodePNG(p);
    ASSERT_TRUE(png);
    EXPECT_EQ(std::string(png->view().substr(1, 3)), "PNG");
    auto back = decodePicture(*png);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, p);
}

TEST(PicturePNG, EmptyPictureHasNoPNG) {
    EXPECT_FALSE(encodePNG(Picture()));
}

TEST(PicturePNG, GarbageIsNotAPicture) {
    EXPECT_FALSE(decodePicture(NSData()));
    EXPECT_FALSE(decodePicture(NSData::fromString("not a picture at all")));
}

TEST(PicturePNG, MutatedFilesDecodeOrFailCleanly) {
    Picture p(24, 16);
    for (int y = 2; y < 14; ++y)
        for (int x = 3; x < 20; ++x)
            paint(p, x, y, static_cast<std::uint8_t>(x * 9), 40, static_cast<std::uint8_t>(y * 11));
    std::string png(encodePNG(p)->view());
    int decoded = 0;
    for (unsigned seed = 0; seed < 300; ++seed) {
        std::string damaged = testsupport::mutate(png, seed);
        auto result = decodePicture(NSData::fromString(damaged));
        if (!result) continue;
        ++decoded;
        EXPECT_GT(result->width, 0);
        EXPECT_EQ(result->rgba.size(), static_cast<std::size_t>(result->width) * result->height * 4);
    }
    SUCCEED() << decoded << " of 300 damaged files still decoded";
}
