#include "gpu/filters/GPXCompositeBlurFilters.h"

#include <gtest/gtest.h>

#include <cmath>

#include "../core/GPUFilterTestSupport.h"
#include "gpu/filters/GPXHistogramGenerator.h"

using namespace gputest;

namespace {

Pixels blurredWith(const Pixels& input, double sigma) {
    auto blur = make<GPXGaussianBlurFilter>();
    blur->setBlurRadiusInPixels(sigma);
    return runFilter(blur, {input});
}

TEST(GPXGaussianSelectiveBlurFilter, TheCircleStaysSharpAndTheRestIsBlurred) {
    auto filter = make<GPXGaussianSelectiveBlurFilter>();
    EXPECT_DOUBLE_EQ(filter->excludeCircleRadius(), 0.1875);
    EXPECT_DOUBLE_EQ(filter->excludeBlurSize(), 0.09375);
    EXPECT_EQ(filter->excludeCirclePoint(), CGPointMake(0.5, 0.5));
    EXPECT_EQ(filter->blurRadiusInPixels(), 5.0);
    auto input = noisePicture(64, 64, 1);
    auto result = runFilter(filter, {input});
    auto blurred = blurredWith(input, 5.0);
    // Within 0.09375 of the centre (6 pixels): sharp; beyond 0.1875 (12 pixels): blurred.
    EXPECT_TRUE(near(result.at(32, 32), input.at(32, 32), 1));
    EXPECT_TRUE(near(result.at(34, 30), input.at(34, 30), 1));
    EXPECT_TRUE(near(result.at(5, 5), blurred.at(5, 5), 2));
    EXPECT_TRUE(near(result.at(60, 32), blurred.at(60, 32), 2));
    EXPECT_DOUBLE_EQ(filter->aspectRatio(), 1.0);
}

TEST(GPXGaussianSelectiveBlurFilter, AnAspectRatioSetByHandSurvivesNewSizes) {
    auto filter = make<GPXGaussianSelectiveBlurFilter>();
    filter->setInputSize(CGSizeMake(640, 480), 0);
    EXPECT_NEAR(filter->aspectRatio(), 640.0 / 480.0, 1e-9);
    filter->setAspectRatio(2.0);
    filter->setInputSize(CGSizeMake(100, 400), 0);
    EXPECT_EQ(filter->aspectRatio(), 2.0);
}

TEST(GPXTiltShiftFilter, SharpInTheBandBlurredAboveAndBelow) {
    auto filter = make<GPXTiltShiftFilter>();
    EXPECT_EQ(filter->topFocusLevel(), 0.4);
    EXPECT_EQ(filter->bottomFocusLevel(), 0.6);
    EXPECT_EQ(filter->focusFallOffRate(), 0.2);
    EXPECT_EQ(filter->blurRadiusInPixels(), 7.0);
    auto input = noisePicture(40, 40, 2);
    auto result = runFilter(filter, {input});
    auto blurred = blurredWith(input, 7.0);
    for (std::size_t x : {3u, 20u, 36u}) {
        EXPECT_TRUE(near(result.at(x, 20), input.at(x, 20), 1)) << x;    // y = 0.5125
        EXPECT_TRUE(near(result.at(x, 3), blurred.at(x, 3), 2)) << x;    // y = 0.0875
        EXPECT_TRUE(near(result.at(x, 37), blurred.at(x, 37), 2)) << x;  // y = 0.9375
    }
}

TEST(GPXGaussianBlurPositionFilter, BlursInsideTheCircleOnly) {
    auto filter = make<GPXGaussianBlurPositionFilter>();
    EXPECT_EQ(filter->blurSize(), 1.0);
    EXPECT_EQ(filter->blurRadius(), 1.0);
    auto input = noisePicture(30, 30, 3);
    filter->setBlurRadius(0.0);
    EXPECT_TRUE(matches(runFilter(filter, {input}), input, 0));
    filter->setBlurRadius(1.0);
    auto result = runFilter(filter, {input});
    // Inside: the 9-tap kernel along y, then along x.
    const double weights[9] = {0.05, 0.09, 0.12, 0.15, 0.18, 0.15, 0.12, 0.09, 0.05};
    auto pass = [&](const Pixels& in, bool vertical) {
        Pixels out = in;
        for (long y = 0; y < 30; ++y)
            for (long x = 0; x < 30; ++x) {
                Colour sum{};
                for (int i = 0; i < 9; ++i) {
                    const long sx = vertical ? x : std::clamp<long>(x + i - 4, 0, 29);
                    const long sy = vertical ? std::clamp<long>(y + i - 4, 0, 29) : y;
                    auto c = toColour(in.at(sx, sy));
                    for (int k = 0; k < 4; ++k) sum[k] += c[k] * weights[i];
                }
                out.at(x, y) = toBytes(sum);
            }
        return out;
    };
    EXPECT_TRUE(matches(result, pass(pass(input, true), false), 2));
    EXPECT_DOUBLE_EQ(filter->aspectRatio(), 1.0);
}

TEST(GPXGaussianBlurPositionFilter, TheAspectRatioIsHeightOverWidthTurnedWithTheInput) {
    auto filter = make<GPXGaussianBlurPositionFilter>();
    filter->setInputSize(CGSizeMake(200, 100), 0);
    EXPECT_DOUBLE_EQ(filter->aspectRatio(), 0.5);
    filter->setInputRotation(rotationLeft, 0);
    // Rendered 200 x 100 still (the size was set before the turn), now read as width / height.
    EXPECT_DOUBLE_EQ(filter->aspectRatio(), 2.0);
    filter->setBlurCenter(CGPointMake(0.25, 0.75));
    EXPECT_EQ(filter->blurCenter(), CGPointMake(0.25, 0.75));
}

TEST(GPXiOSBlurFilter, WithoutDownsamplingItIsTheChainAtFullSize) {
    auto filter = make<GPXiOSBlurFilter>();
    EXPECT_EQ(filter->blurRadiusInPixels(), 12.0);
    EXPECT_DOUBLE_EQ(filter->saturation(), 0.8);
    EXPECT_DOUBLE_EQ(filter->rangeReductionFactor(), 0.6);
    EXPECT_EQ(filter->downsampling(), 4.0);
    filter->setDownsampling(1.0);
    auto input = noisePicture(48, 40, 4);
    auto result = runFilter(filter, {input});
    auto saturation = make<GPXSaturationFilter>();
    saturation->setSaturation(0.8);
    auto blur = make<GPXGaussianBlurFilter>();
    blur->setBlurRadiusInPixels(12.0);
    auto range = make<GPXLuminanceRangeFilter>();
    auto expected = runFilter(range, {runFilter(blur, {runFilter(saturation, {input})})});
    EXPECT_TRUE(matches(result, expected, 2));
}

TEST(GPXiOSBlurFilter, DownsampledItBlursSmallAndComesBackFullSize) {
    auto filter = make<GPXiOSBlurFilter>();
    auto target = make<RecordingInput>();
    filter->addTarget(target);
    auto result = runFilter(filter, {solidPicture(64, 48, {100, 150, 200, 255})});
    CGSize delivered = CGSizeZero;
    for (auto& e : target->events())
        if (e.call == "size" && e.size.width > 0) delivered = e.size;
    EXPECT_EQ(delivered, CGSizeMake(64, 48));
    // A flat picture stays flat through all three.
    EXPECT_TRUE(near(result.at(10, 10), result.at(50, 40), 1));
}

TEST(GPXMotionBlurFilter, StepsFollowTheAngleAndSize) {
    auto filter = make<GPXMotionBlurFilter>();
    EXPECT_EQ(filter->blurSize(), 2.5);
    EXPECT_EQ(filter->blurAngle(), 0.0);
    filter->setInputSize(CGSizeMake(64, 32), 0);
    EXPECT_NEAR(filter->directionalTexelStep().x, 2.5 * 0.5 / 64, 1e-9);
    EXPECT_NEAR(filter->directionalTexelStep().y, 0.0, 1e-9);
    filter->setBlurAngle(90);
    EXPECT_NEAR(filter->directionalTexelStep().x, 0.0, 1e-9);
    EXPECT_NEAR(filter->directionalTexelStep().y, 2.5 / 64, 1e-9);
    // Columns of one colour each, smeared along y only: unchanged.
    Pixels stripes{64, 32, std::vector<RGBA>(64 * 32)};
    for (std::size_t y = 0; y < 32; ++y)
        for (std::size_t x = 0; x < 64; ++x)
            stripes.at(x, y) = {std::uint8_t(x * 4), std::uint8_t(255 - x * 4), 90, 255};
    EXPECT_TRUE(matches(runFilter(filter, {stripes}), stripes, 2));
    filter->setInputRotation(rotationLeft, 0);
    filter->setInputSize(CGSizeMake(64, 32), 0);
    // Now 32 x 64, turned: (s sin(a) (w / h) / h, s cos(a) / h).
    EXPECT_NEAR(filter->directionalTexelStep().x, 2.5 * 0.5 / 64, 1e-9);
    EXPECT_NEAR(filter->directionalTexelStep().y, 0.0, 1e-9);
}

TEST(GPXZoomBlurFilter, TheCentrePixelStaysAndTheRestSmears) {
    auto filter = make<GPXZoomBlurFilter>();
    EXPECT_EQ(filter->blurSize(), 1.0);
    EXPECT_EQ(filter->blurCenter(), CGPointMake(0.5, 0.5));
    filter->setBlurSize(10.0);
    auto input = noisePicture(33, 33, 5);
    auto result = runFilter(filter, {input});
    EXPECT_TRUE(near(result.at(16, 16), input.at(16, 16), 1));
    int changed = 0;
    for (std::size_t i = 0; i < input.px.size(); ++i) changed += !near(result.px[i], input.px[i], 2);
    EXPECT_GT(changed, 500);
    filter->setInputRotation(rotationLeft, 0);
    EXPECT_EQ(filter->blurCenter(), CGPointMake(0.5, 0.5));
}

// ---- histogram generator -----------------------------------------------------------------------

TEST(GPXHistogramGenerator, BarsRiseFromTheBottomOverTheBackground) {
    auto generator = make<GPXHistogramGenerator>();
    Pixels data{256, 1, std::vector<RGBA>(256, RGBA{0, 0, 0, 255})};
    data.at(10, 0) = {128, 0, 0, 255};      // red at one half
    data.at(20, 0) = {255, 255, 255, 255};  // everything full
    data.at(30, 0) = {255, 255, 0, 255};    // red and green full
    generator->forceProcessingAtSize(CGSizeMake(256, 64));
    auto result = runFilter(generator, {data}, CGSizeMake(256, 64));
    EXPECT_TRUE(near(result.at(10, 60), {255, 0, 0, 255}));
    EXPECT_TRUE(near(result.at(10, 5), {0, 0, 0, 0}));
    EXPECT_TRUE(near(result.at(20, 1), {255, 255, 255, 255}));
    EXPECT_TRUE(near(result.at(30, 30), {255, 255, 0, 255}));
    // Empty bins show the transparent background, except the bottom row, where a zero count still
    // reaches the zero height.
    EXPECT_TRUE(near(result.at(100, 20), {0, 0, 0, 0}));
    generator->setBackgroundColorRed(0.0f, 0.0f, 1.0f, 1.0f);
    result = runFilter(generator, {data}, CGSizeMake(256, 64));
    EXPECT_TRUE(near(result.at(100, 20), {0, 0, 255, 255}));
}

}  // namespace
