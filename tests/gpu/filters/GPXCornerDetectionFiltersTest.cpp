#include "gpu/filters/GPXCornerDetectionFilters.h"

#include <gtest/gtest.h>

#include <cmath>

#include "../core/GPUFilterTestSupport.h"
#include "GPUDetectorTestSupport.h"

using namespace gputest;

namespace {

// White squares on black; their corners in pixels.
Pixels squares(std::size_t side, const std::vector<std::array<int, 4>>& boxes) {
    Pixels p = solidPicture(side, side, {0, 0, 0, 255});
    for (auto& box : boxes)
        for (int y = box[1]; y < box[3]; ++y)
            for (int x = box[0]; x < box[2]; ++x)
                p.at(static_cast<std::size_t>(x), static_cast<std::size_t>(y)) = {255, 255, 255, 255};
    return p;
}

Ref<GPXHarrisCornerDetectionFilter> reporting(Ref<GPXHarrisCornerDetectionFilter> detector,
                                              Reports& reports) {
    detector->setCornersDetectedBlock([&reports](GLfloat* corners, unsigned long count, CMTime time) {
        reports.add(std::vector<double>(corners, corners + count * 2), time);
    });
    return detector;
}

// Every reported corner lies within `tolerance` pixels of an expected one, and every expected
// corner has a report near it.
void expectCorners(const std::vector<double>& reported, std::size_t side,
                   const std::vector<std::array<double, 2>>& expected, double tolerance) {
    ASSERT_FALSE(reported.empty());
    std::vector<bool> found(expected.size());
    for (std::size_t i = 0; i + 1 < reported.size(); i += 2) {
        const double x = reported[i] * side, y = reported[i + 1] * side;
        bool near = false;
        for (std::size_t k = 0; k < expected.size(); ++k)
            if (std::abs(x - expected[k][0]) <= tolerance && std::abs(y - expected[k][1]) <= tolerance)
                near = found[k] = true;
        EXPECT_TRUE(near) << "corner at " << x << ", " << y;
    }
    for (std::size_t k = 0; k < expected.size(); ++k)
        EXPECT_TRUE(found[k]) << "no corner near " << expected[k][0] << ", " << expected[k][1];
}

}  // namespace

TEST(GPXHarrisCornerDetectionFilter, FindsTheCornersOfDrawnSquares) {
    struct Case {
        const char* name;
        std::function<Ref<GPXHarrisCornerDetectionFilter>()> make;
        double sensitivity;
    };
    const Case cases[] = {
        {"harris", [] { return make<GPXHarrisCornerDetectionFilter>(); }, 5.0},
        {"noble", [] { return make<GPXNobleCornerDetectionFilter>(); }, 5.0},
        {"shi-tomasi", [] { return make<GPXShiTomasiFeatureDetectionFilter>(); }, 1.5},
    };
    // Two squares; the pixel corners sit between pixels 15 and 16 and so on.
    const Pixels scene = squares(64, {{12, 12, 28, 28}, {36, 30, 56, 52}});
    const std::vector<std::array<double, 2>> expected = {{11.5, 11.5}, {27.5, 11.5}, {11.5, 27.5},
                                                         {27.5, 27.5}, {35.5, 29.5}, {55.5, 29.5},
                                                         {35.5, 51.5}, {55.5, 51.5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reports reports;
        auto detector = reporting(c.make(), reports);
        EXPECT_DOUBLE_EQ(detector->sensitivity(), c.sensitivity);
        EXPECT_DOUBLE_EQ(detector->threshold(), 0.2);
        EXPECT_DOUBLE_EQ(detector->blurRadiusInPixels(), 2.0);
        FrameFeeder feeder(detector);
        feeder.feed(scene, CMTimeMake(5, 30));
        expectCorners(reports.next(), 64, expected, 2.0);
        EXPECT_EQ(reports.lastTime().value, 5);
    }
}

TEST(GPXHarrisCornerDetectionFilter, AnEmptySceneReportsNoCornersAndALargerFrameIsReadWhole) {
    Reports reports;
    auto detector = reporting(make<GPXHarrisCornerDetectionFilter>(), reports);
    FrameFeeder feeder(detector);
    feeder.feed(solidPicture(24, 24, {0, 0, 0, 255}), CMTimeMake(1, 30));
    EXPECT_TRUE(reports.next().empty());
    EXPECT_EQ(reports.lastTime().value, 1);
    // A larger frame: the read-back grows to hold it.
    feeder.feed(squares(96, {{40, 40, 72, 80}}), CMTimeMake(2, 30));
    expectCorners(reports.next(), 96, {{39.5, 39.5}, {71.5, 39.5}, {39.5, 79.5}, {71.5, 79.5}}, 2.0);
    EXPECT_EQ(reports.lastTime().value, 2);
}

TEST(GPXHarrisCornerDetectionFilter, SettingsGoToTheirStages) {
    auto detector = make<GPXHarrisCornerDetectionFilter>();
    detector->setThreshold(0.35);
    EXPECT_DOUBLE_EQ(detector->nonMaximumSuppressionFilter()->threshold(), 0.35);
    EXPECT_DOUBLE_EQ(detector->threshold(), 0.35);
    detector->setBlurRadiusInPixels(3.0);
    EXPECT_DOUBLE_EQ(detector->blurFilter()->blurRadiusInPixels(), 3.0);
    detector->setSensitivity(2.0);
    EXPECT_DOUBLE_EQ(detector->sensitivity(), 2.0);
    EXPECT_FALSE(detector->wantsMonochromeInput());
}

TEST(GPXXYDerivativeFilter, SquaredDerivativesAndTheirProduct) {
    auto input = noisePicture(10, 8, 31);
    auto result = runFilter(make<GPXXYDerivativeFilter>(), {input});
    // The luminance pass lands in bytes first.
    auto lum = [&](long x, long y) {
        const auto& c = input.at(static_cast<std::size_t>(std::clamp(x, 0L, 9L)),
                                 static_cast<std::size_t>(std::clamp(y, 0L, 7L)));
        return std::round((0.2125 * c[0] + 0.7154 * c[1] + 0.0721 * c[2])) / 255.0;
    };
    int checked = 0;
    for (long y = 0; y < 8; ++y)
        for (long x = 0; x < 10; ++x) {
            const double dv = -lum(x - 1, y - 1) - lum(x, y - 1) - lum(x + 1, y - 1) + lum(x - 1, y + 1) +
                              lum(x, y + 1) + lum(x + 1, y + 1);
            const double dh = -lum(x - 1, y + 1) - lum(x - 1, y) - lum(x - 1, y - 1) + lum(x + 1, y + 1) +
                              lum(x + 1, y) + lum(x + 1, y - 1);
            EXPECT_TRUE(near(result.at(static_cast<std::size_t>(x), static_cast<std::size_t>(y)),
                             toBytes({dh * dh, dv * dv, (dv * dh + 1) / 2, 1}), 4))
                << x << "," << y;
            ++checked;
        }
    EXPECT_EQ(checked, 80);
}

TEST(GPXColorPackingFilter, PacksTwoByTwoRedsIntoOnePixel) {
    auto input = noisePicture(8, 6, 2);
    auto filter = make<GPXColorPackingFilter>();
    auto result = runFilter(filter, {input}, CGSizeMake(4, 3));
    for (std::size_t y = 0; y < 3; ++y)
        for (std::size_t x = 0; x < 4; ++x) {
            const RGBA expected{input.at(2 * x, 2 * y)[0], input.at(2 * x + 1, 2 * y)[0],
                                input.at(2 * x, 2 * y + 1)[0], input.at(2 * x + 1, 2 * y + 1)[0]};
            EXPECT_TRUE(near(result.at(x, y), expected, 1)) << x << "," << y;
        }
}

TEST(GPXLocalBinaryPatternFilter, TheNeighboursAtLeastTheCentreAsBits) {
    auto input = noisePicture(9, 7, 17);
    // Some equal neighbours, which count.
    input.at(3, 3) = input.at(4, 3);
    auto result = runFilter(make<GPXLocalBinaryPatternFilter>(), {input});
    for (long y = 0; y < 7; ++y)
        for (long x = 0; x < 9; ++x) {
            auto red = [&](long dx, long dy) {
                return input.at(static_cast<std::size_t>(std::clamp(x + dx, 0L, 8L)),
                                static_cast<std::size_t>(std::clamp(y + dy, 0L, 6L)))[0];
            };
            const int c = red(0, 0);
            const int bits = (red(1, -1) >= c) * 1 + (red(0, -1) >= c) * 2 + (red(-1, -1) >= c) * 4 +
                             (red(-1, 0) >= c) * 8 + (red(-1, 1) >= c) * 16 + (red(0, 1) >= c) * 32 +
                             (red(1, 1) >= c) * 64 + (red(1, 0) >= c) * 128;
            const auto b = static_cast<std::uint8_t>(bits);
            EXPECT_TRUE(
                near(result.at(static_cast<std::size_t>(x), static_cast<std::size_t>(y)), {b, b, b, 255}, 1))
                << x << "," << y;
        }
}

TEST(GPXFASTCornerDetectionFilter, IsAnEmptyGroup) {
    auto fast = make<GPXFASTCornerDetectionFilter>();
    EXPECT_TRUE(fast->initialFilters().empty());
    EXPECT_EQ(fast->terminalFilter(), nullptr);
}
