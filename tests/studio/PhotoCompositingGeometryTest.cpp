// Where a sticker on screen lands in the photo: worked values of the mapping rules, with their
// single-precision rounding.

#include <gtest/gtest.h>

#include <cmath>

#include "studio/UIImage+DrawPictures.h"

namespace UIImage_DrawPicturesTest {

using namespace UIImage_DrawPictures;

constexpr CGSize kPortraitPhoto{3000, 4000};
constexpr CGSize kScreen{375, 667};

TEST(PhotoCompositingGeometryTest, AFittedTallerScreenUsesTheWidthRate) {
    // 375 / 667 = 0.562 is below 0.75: not wide, so the photo spans the width with bands above
    // and below.
    EXPECT_EQ(getScaleRateWithImageSize(kPortraitPhoto, kScreen, 0), 8.0f);
    // The fill rule takes the height instead.
    EXPECT_EQ(getScaleRateWithImageSize(kPortraitPhoto, kScreen, 2), static_cast<float>(4000.0 / 667.0));
    EXPECT_EQ(getScaleRateWithImageSize(nullptr, kPortraitPhoto, kScreen),
              static_cast<float>(4000.0 / 667.0));
}

TEST(PhotoCompositingGeometryTest, TheViewCentreMapsToThePhotoCentre) {
    // cy = (4000 x 375 / 3000 - 667) / 2 = -83.5; (187.5, 333.5 - 83.5) x 8.
    CGPoint p = getTranslatePositionWithImageSize(kPortraitPhoto, kScreen, CGPointMake(187.5, 333.5), 0);
    EXPECT_EQ(p.x, 1500);
    EXPECT_EQ(p.y, 2000);
    // Other content modes than 2 all fit.
    CGPoint q = getTranslatePositionWithImageSize(kPortraitPhoto, kScreen, CGPointMake(187.5, 333.5), 1);
    EXPECT_EQ(q.x, p.x);
    EXPECT_EQ(q.y, p.y);
}

TEST(PhotoCompositingGeometryTest, AWideViewMapsAcrossTheHeight) {
    // A 4000 x 3000 photo on a 400 x 200 view: wide (2 > 1.333); the fitted photo is 266.67 wide,
    // so cx = (266.666.. - 400) / 2 and the rate is 3000 / 200 = 15.
    CGSize photo{4000, 3000}, view{400, 200};
    EXPECT_EQ(getScaleRateWithImageSize(photo, view, 0), 15.0f);
    EXPECT_EQ(getScaleRateWithImageSize(photo, view, 2), 10.0f);
    float cx = static_cast<float>((static_cast<float>(4000 * (200.0 / 3000)) - 400) * 0.5);
    CGPoint p = getTranslatePositionWithImageSize(photo, view, CGPointMake(200, 100), 0);
    EXPECT_EQ(p.x, static_cast<float>(15.0 * static_cast<float>(200.0 + cx)));
    EXPECT_NEAR(p.x, 2000, 0.01);  // the centre again
    EXPECT_EQ(p.y, 1500);
}

TEST(PhotoCompositingGeometryTest, AnEqualAspectRatioIsNotWideAndHasNoBands) {
    CGSize photo{750, 1334};
    EXPECT_EQ(getScaleRateWithImageSize(photo, kScreen, 0), 2.0f);
    CGPoint p = getTranslatePositionWithImageSize(photo, kScreen, CGPointMake(10, 20), 0);
    EXPECT_EQ(p.x, 20);
    EXPECT_EQ(p.y, 40);
}

TEST(PhotoCompositingGeometryTest, TheFillPointMappingAlwaysUsesTheHeightFormula) {
    // The photo is relatively taller than the view, yet the fill mapping still offsets x.
    float cx = static_cast<float>((static_cast<float>(3000 * (667.0 / 4000)) - 375) * 0.5);
    double k = 4000.0 / 667.0;
    CGPoint expected = CGPointMake(static_cast<float>(k * static_cast<float>(100.0 + cx)),
                                   static_cast<float>(k * static_cast<float>(50)));
    for (CGPoint p :
         {getTranslatePositionWithImageSize(kPortraitPhoto, kScreen, CGPointMake(100, 50), 2),
          getTranslatePositionWithImageSize(nullptr, kPortraitPhoto, kScreen, CGPointMake(100, 50))}) {
        EXPECT_EQ(p.x, expected.x);
        EXPECT_EQ(p.y, expected.y);
    }
}

TEST(PhotoCompositingGeometryTest, SizesScaleByTheRateOfTheirRule) {
    CGSize fit = getTranslateSizeWithImageSize(kPortraitPhoto, kScreen, CGSizeMake(156, 11), 0);
    EXPECT_EQ(fit.width, 1248);
    EXPECT_EQ(fit.height, 88);
    float fillRate = static_cast<float>(4000.0 / 667.0);
    CGSize fill = getTranslateSizeWithImageSize(kPortraitPhoto, kScreen, CGSizeMake(76, 76));
    EXPECT_EQ(fill.width, 76.0f * fillRate);
    CGSize fill2 = getTranslateSizeWithImageSize(kPortraitPhoto, kScreen, CGSizeMake(76, 76), 2);
    EXPECT_EQ(fill2.height, fill.height);
}

TEST(PhotoCompositingGeometryTest, HalfDiagonalAndCornerAngle) {
    EXPECT_FLOAT_EQ(halfDiagonalLengthWithWidth(6, 8), 5);
    EXPECT_FLOAT_EQ(halfDiagonalLengthWithWidth(0, 0), 0);
    // The top-left corner of a square is at 135 degrees.
    EXPECT_FLOAT_EQ(programWithWidth(10, 10), static_cast<float>(3 * M_PI / 4));
    for (auto [w, h] : {std::pair{100.f, 50.f}, {1.f, 1000.f}, {1000.f, 1.f}}) {
        float angle = programWithWidth(w, h);
        EXPECT_GE(angle, static_cast<float>(M_PI / 2)) << w << "x" << h;
        EXPECT_LE(angle, static_cast<float>(M_PI)) << w << "x" << h;
    }
}

TEST(PhotoCompositingGeometryTest, TheCornerOffsetIsTheRotatedScaledTopLeftCorner) {
    struct Case {
        float rate;
        CGSize size;
        float angle;
    };
    const Case cases[] = {{1, {100, 50}, 0},
                          {8, {156, 11}, 0},
                          {1, {100, 50}, 0.3f},
                          {2.5f, {76, 76}, -1.2f},
                          {3, {40, 90}, 3.0f}};
    for (const Case& c : cases) {
        CGPoint offset = getTranslateCornerPositionWithScaleRate(c.rate, c.size, c.angle);
        double w = c.size.width, h = c.size.height, a = c.angle;
        // The corner (-w/2, -h/2) turned by a in a y-down plane, then scaled.
        double x = c.rate * (-w / 2 * std::cos(a) + h / 2 * std::sin(a));
        double y = c.rate * (-w / 2 * std::sin(a) - h / 2 * std::cos(a));
        EXPECT_NEAR(offset.x, x, 1e-3 * c.rate * (w + h)) << c.size.width << " " << c.angle;
        EXPECT_NEAR(offset.y, y, 1e-3 * c.rate * (w + h)) << c.size.width << " " << c.angle;
    }
    CGPoint worked = getTranslateCornerPositionWithScaleRate(1, CGSizeMake(100, 50), 0.3f);
    EXPECT_NEAR(worked.x, -40.379, 1e-3);
    EXPECT_NEAR(worked.y, -38.659, 1e-3);
    CGPoint flat = getTranslateCornerPositionWithScaleRate(2, CGSizeMake(100, 50), 0);
    EXPECT_NEAR(flat.x, -100, 1e-3);
    EXPECT_NEAR(flat.y, -50, 1e-3);
}

}  // namespace UIImage_DrawPicturesTest
