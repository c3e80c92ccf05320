#include "gpu/filters/GPXEdgeDetectionFilters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "../core/GPUFilterTestSupport.h"

using namespace gputest;

namespace {

// A plane of values (one per pixel, row 0 at the top) read with clamping at the borders.
struct Plane {
    long width = 0, height = 0;
    std::vector<double> v;
    double at(long x, long y) const {
        return v[static_cast<std::size_t>(std::clamp(y, 0L, height - 1) * width +
                                          std::clamp(x, 0L, width - 1))];
    }
};

Plane redPlane(const Pixels& p) {
    Plane plane{static_cast<long>(p.width), static_cast<long>(p.height), {}};
    for (auto& c : p.px) plane.v.push_back(c[0] / 255.0);
    return plane;
}

// The luminance pass as it lands in an 8-bit framebuffer.
Plane luminancePlane(const Pixels& p) {
    Plane plane{static_cast<long>(p.width), static_cast<long>(p.height), {}};
    for (auto& c : p.px) {
        const double l = (0.2125 * c[0] + 0.7154 * c[1] + 0.0721 * c[2]) / 255.0;
        plane.v.push_back(std::round(std::clamp(l, 0.0, 1.0) * 255.0) / 255.0);
    }
    return plane;
}

struct Neighbours {
    double tl, t, tr, l, c, r, bl, b, br;
};
Neighbours around(const Plane& p, long x, long y) {
    return {p.at(x - 1, y - 1), p.at(x, y - 1),     p.at(x + 1, y - 1), p.at(x - 1, y),    p.at(x, y),
            p.at(x + 1, y),     p.at(x - 1, y + 1), p.at(x, y + 1),     p.at(x + 1, y + 1)};
}

double sobelMagnitude(const Neighbours& n) {
    const double h = -n.tl - 2 * n.t - n.tr + n.bl + 2 * n.b + n.br;
    const double v = -n.bl - 2 * n.l - n.tl + n.br + 2 * n.r + n.tr;
    return std::hypot(h, v);
}
double prewittMagnitude(const Neighbours& n) {
    return std::hypot(-n.tl - n.t - n.tr + n.bl + n.b + n.br, -n.bl - n.l - n.tl + n.br + n.r + n.tr);
}
double centredMagnitude(const Neighbours& n) {
    return std::hypot((n.c - n.t) + (n.b - n.c), (n.c - n.l) + (n.r - n.c));
}

Pixels greyOf(const Plane& plane, const std::function<double(long, long)>& value) {
    Pixels out{static_cast<std::size_t>(plane.width), static_cast<std::size_t>(plane.height), {}};
    for (long y = 0; y < plane.height; ++y)
        for (long x = 0; x < plane.width; ++x) {
            const double g = value(x, y);
            out.px.push_back(toBytes({g, g, g, 1.0}));
        }
    return out;
}

// Pixels whose thresholded value may go either way (the magnitude within `margin` of the
// threshold) are not compared.
::testing::AssertionResult matchesAwayFromThreshold(const Pixels& actual, const Pixels& expected,
                                                    const std::vector<double>& magnitudes, double threshold) {
    int failures = 0;
    auto result = ::testing::AssertionFailure();
    for (std::size_t i = 0; i < actual.px.size(); ++i) {
        if (std::abs(magnitudes[i] - threshold) < 0.03) continue;
        if (!near(actual.px[i], expected.px[i], 1)) {
            if (failures++ < 4) result << "pixel " << i << " magnitude " << magnitudes[i] << "; ";
        }
    }
    if (failures == 0) return ::testing::AssertionSuccess();
    return result << failures << " pixels differ";
}

}  // namespace

TEST(GPXSobelEdgeDetectionFilter, TheGradientMembersMatchTheirFormulas) {
    struct Case {
        const char* name;
        std::function<Ref<GPXSobelEdgeDetectionFilter>()> make;
        std::function<double(const Neighbours&, double strength)> value;
    };
    const Case cases[] = {
        {"sobel", [] { return make<GPXSobelEdgeDetectionFilter>(); },
         [](const Neighbours& n, double s) { return sobelMagnitude(n) * s; }},
        {"prewitt", [] { return make<GPXPrewittEdgeDetectionFilter>(); },
         [](const Neighbours& n, double s) { return prewittMagnitude(n) * s; }},
        {"sketch", [] { return make<GPXSketchFilter>(); },
         [](const Neighbours& n, double s) { return 1.0 - sobelMagnitude(n) * s; }},
    };
    auto input = gradientPicture(14, 11);
    // Some texture on top of the gradient so that every direction is exercised.
    auto noise = noisePicture(14, 11, 5);
    for (std::size_t i = 0; i < input.px.size(); ++i)
        for (int k = 0; k < 3; ++k)
            input.px[i][k] = static_cast<std::uint8_t>((input.px[i][k] + noise.px[i][k] / 4) / 1.25);
    const Plane lum = luminancePlane(input);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto filter = c.make();
        EXPECT_EQ(filter->edgeStrength(), 1.0);
        for (double strength : {1.0, 0.4}) {
            filter->setEdgeStrength(strength);
            auto expected = greyOf(lum, [&](long x, long y) { return c.value(around(lum, x, y), strength); });
            EXPECT_TRUE(matches(runFilter(filter, {input}), expected, 4)) << strength;
        }
    }
}

TEST(GPXSobelEdgeDetectionFilter, TheThresholdedMembersGiveZeroOrOne) {
    auto input = noisePicture(12, 10, 9);
    const Plane lum = luminancePlane(input);
    auto edge = make<GPXThresholdEdgeDetectionFilter>();
    EXPECT_EQ(edge->threshold(), 0.25);
    std::vector<double> magnitudes;
    for (long y = 0; y < 10; ++y)
        for (long x = 0; x < 12; ++x) magnitudes.push_back(centredMagnitude(around(lum, x, y)));
    auto expected = greyOf(lum, [&](long x, long y) { return magnitudes[y * 12 + x] >= 0.25 ? 1.0 : 0.0; });
    EXPECT_TRUE(matchesAwayFromThreshold(runFilter(edge, {input}), expected, magnitudes, 0.25));

    auto sketch = make<GPXThresholdSketchFilter>();
    sketch->setThreshold(0.6);
    magnitudes.clear();
    for (long y = 0; y < 10; ++y)
        for (long x = 0; x < 12; ++x) magnitudes.push_back(sobelMagnitude(around(lum, x, y)));
    expected = greyOf(lum, [&](long x, long y) { return magnitudes[y * 12 + x] >= 0.6 ? 0.0 : 1.0; });
    EXPECT_TRUE(matchesAwayFromThreshold(runFilter(sketch, {input}), expected, magnitudes, 0.6));
}

TEST(GPXSobelEdgeDetectionFilter, AUniformPictureHasNoEdges) {
    const auto flat = solidPicture(8, 6, {120, 40, 200, 255});
    const RGBA black{0, 0, 0, 255}, white{255, 255, 255, 255};
    EXPECT_TRUE(
        matches(runFilter(make<GPXSobelEdgeDetectionFilter>(), {flat}), solidPicture(8, 6, black), 0));
    EXPECT_TRUE(
        matches(runFilter(make<GPXPrewittEdgeDetectionFilter>(), {flat}), solidPicture(8, 6, black), 0));
    EXPECT_TRUE(
        matches(runFilter(make<GPXThresholdEdgeDetectionFilter>(), {flat}), solidPicture(8, 6, black), 0));
    EXPECT_TRUE(matches(runFilter(make<GPXSketchFilter>(), {flat}), solidPicture(8, 6, white), 0));
    EXPECT_TRUE(matches(runFilter(make<GPXThresholdSketchFilter>(), {flat}), solidPicture(8, 6, white), 0));
    EXPECT_TRUE(
        matches(runFilter(make<GPXNonMaximumSuppressionFilter>(), {flat}), solidPicture(8, 6, black), 0));
    EXPECT_TRUE(matches(runFilter(make<GPXThresholdedNonMaximumSuppressionFilter>(), {flat}),
                        solidPicture(8, 6, black), 0));
    auto directional = runFilter(make<GPXDirectionalSobelEdgeDetectionFilter>(), {flat});
    EXPECT_TRUE(matches(directional, solidPicture(8, 6, {0, 128, 128, 255}), 1));
    EXPECT_TRUE(matches(runFilter(make<GPXWeakPixelInclusionFilter>(), {solidPicture(5, 5, white)}),
                        solidPicture(5, 5, white), 0));
}

TEST(GPXSobelEdgeDetectionFilter, ASetStepSurvivesASizeChange) {
    auto filter = make<GPXSobelEdgeDetectionFilter>();
    runFilter(filter, {solidPicture(8, 4, {0, 0, 0, 255})});
    EXPECT_DOUBLE_EQ(filter->texelWidth(), 1.0 / 8);
    EXPECT_DOUBLE_EQ(filter->texelHeight(), 1.0 / 4);
    EXPECT_FALSE(filter->hasOverriddenImageSizeFactor());
    filter->setTexelWidth(0.5);
    EXPECT_TRUE(filter->hasOverriddenImageSizeFactor());
    runFilter(filter, {solidPicture(16, 16, {0, 0, 0, 255})});
    EXPECT_DOUBLE_EQ(filter->texelWidth(), 0.5);
    EXPECT_DOUBLE_EQ(filter->texelHeight(), 1.0 / 4);
}

TEST(GPXDirectionalSobelEdgeDetectionFilter, MagnitudeAndQuantisedDirection) {
    auto input = noisePicture(10, 9, 12);
    const Plane red = redPlane(input);
    auto result = runFilter(make<GPXDirectionalSobelEdgeDetectionFilter>(), {input});
    int checked = 0;
    for (long y = 0; y < 9; ++y)
        for (long x = 0; x < 10; ++x) {
            const auto n = around(red, x, y);
            const double gx = -n.bl - 2 * n.l - n.tl + n.br + 2 * n.r + n.tr;
            const double gy = -n.tl - 2 * n.t - n.tr + n.bl + 2 * n.b + n.br;
            const double length = std::hypot(gx, gy);
            Colour expected{length, 0.5, 0.5, 1.0};
            bool nearBoundary = false;
            if (length > 0) {
                double d[2] = {gx / length, gy / length};
                for (int k = 0; k < 2; ++k) {
                    const double a = std::abs(d[k]) + 0.617316;
                    nearBoundary = nearBoundary || std::abs(a - std::round(a)) < 0.01;
                    d[k] = (d[k] > 0 ? 1 : d[k] < 0 ? -1 : 0) * std::floor(a);
                }
                expected = {length, (d[0] + 1) * 0.5, (d[1] + 1) * 0.5, 1.0};
            }
            if (nearBoundary) continue;
            ++checked;
            EXPECT_TRUE(near(result.at(x, y), toBytes(expected), 2)) << x << "," << y;
        }
    EXPECT_GT(checked, 70);
}

TEST(GPXDirectionalSobelEdgeDetectionFilter, ASteepDirectionQuantisesToStraightDown) {
    // Red rising by 0.95 per row and 0.3 per column (scaled small): the direction (0.3, 0.95)
    // goes to (0, 1).
    Pixels p{9, 9, {}};
    for (long y = 0; y < 9; ++y)
        for (long x = 0; x < 9; ++x) p.px.push_back({static_cast<std::uint8_t>(6 * x + 19 * y), 0, 0, 255});
    auto result = runFilter(make<GPXDirectionalSobelEdgeDetectionFilter>(), {p});
    EXPECT_TRUE(near(result.at(4, 4),
                     {static_cast<std::uint8_t>(std::lround(std::hypot(8 * 6, 8 * 19))), 128, 255, 255}, 2));
}

TEST(GPXDirectionalNonMaximumSuppressionFilter, KeepsMaximaAlongTheDirectionWithinTheBand) {
    auto filter = make<GPXDirectionalNonMaximumSuppressionFilter>();
    EXPECT_EQ(filter->upperThreshold(), 0.5);
    EXPECT_EQ(filter->lowerThreshold(), 0.1);
    // Directions from the compass set, magnitudes at random.
    std::mt19937 random(4);
    const std::uint8_t steps[3] = {0, 128, 255};
    Pixels input{11, 9, {}};
    for (int i = 0; i < 99; ++i)
        input.px.push_back(
            {static_cast<std::uint8_t>(random() % 256), steps[random() % 3], steps[random() % 3], 255});
    filter->setUpperThreshold(0.7);
    filter->setLowerThreshold(0.2);
    auto result = runFilter(filter, {input});
    Pixels expected = input;
    for (long y = 0; y < 9; ++y)
        for (long x = 0; x < 11; ++x) {
            const auto c = toColour(input.at(x, y));
            const long dx = std::lround(c[1] * 2 - 1), dy = std::lround(c[2] * 2 - 1);
            auto red = [&](long px, long py) {
                return input.at(std::clamp(px, 0L, 10L), std::clamp(py, 0L, 8L))[0] / 255.0;
            };
            const double m = c[0];
            const double t = std::clamp((m - 0.2) / 0.5, 0.0, 1.0);
            const double f = (red(x + dx, y + dy) <= m) * (red(x - dx, y - dy) <= m) * t * t * (3 - 2 * t);
            expected.at(x, y) = toBytes({f, f, f, 1});
        }
    EXPECT_TRUE(matches(result, expected, 2));
}

TEST(GPXNonMaximumSuppressionFilter, APlateauKeepsOnlyItsTopLeftPixel) {
    Pixels input = solidPicture(6, 6, {60, 60, 60, 255});
    for (int y = 2; y < 4; ++y)
        for (int x = 2; x < 4; ++x) input.at(x, y) = {240, 200, 100, 255};
    auto plain = runFilter(make<GPXNonMaximumSuppressionFilter>(), {input});
    auto thresholded = make<GPXThresholdedNonMaximumSuppressionFilter>();
    thresholded->setThreshold(0.95);
    auto below = runFilter(thresholded, {input});
    thresholded->setThreshold(0.5);
    auto above = runFilter(thresholded, {input});
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool kept = x == 2 && y == 2;
            EXPECT_TRUE(near(plain.at(x, y), kept ? RGBA{240, 200, 100, 255} : RGBA{0, 0, 0, 255}, 1))
                << x << "," << y;
            EXPECT_TRUE(near(below.at(x, y), {0, 0, 0, 255}, 0)) << x << "," << y;
            const std::uint8_t v = kept ? 255 : 0;
            EXPECT_TRUE(near(above.at(x, y), {v, v, v, 255}, 0)) << x << "," << y;
        }
}

TEST(GPXThresholdedNonMaximumSuppressionFilter, ThePackedVariantComparesOverFiveByFive) {
    Pixels input = solidPicture(9, 9, {0, 0, 0, 255});
    input.at(4, 4) = {200, 0, 0, 255};
    // Two texels away and lower: still a maximum. A higher value two texels away would win.
    input.at(6, 4) = {100, 0, 0, 255};
    auto filter = make<GPXThresholdedNonMaximumSuppressionFilter>(true);
    filter->setThreshold(0.5);
    auto result = runFilter(filter, {input});
    EXPECT_NEAR(result.at(4, 4)[0], 200, 1);
    EXPECT_EQ(result.at(6, 4)[0], 0);
    // The other channels carry the top-left, top-right and top values: (5, 5) sees (4, 4) top-left.
    EXPECT_NEAR(result.at(5, 5)[1], 200, 1);
    input.at(2, 2) = {250, 0, 0, 255};
    result = runFilter(filter, {input});
    EXPECT_EQ(result.at(4, 4)[0], 0);
    EXPECT_NEAR(result.at(2, 2)[0], 250, 1);
}

TEST(GPXWeakPixelInclusionFilter, AlonePixelGoesAndAConnectedOneStays) {
    Pixels input = solidPicture(7, 5, {0, 0, 0, 255});
    input.at(1, 2) = {255, 255, 255, 255};
    input.at(4, 2) = {128, 128, 128, 255};
    input.at(5, 2) = {255, 255, 255, 255};
    auto result = runFilter(make<GPXWeakPixelInclusionFilter>(), {input});
    EXPECT_EQ(result.at(1, 2)[0], 0);
    EXPECT_EQ(result.at(4, 2)[0], 255);
    EXPECT_EQ(result.at(5, 2)[0], 255);
    EXPECT_EQ(result.at(3, 2)[0], 0);
}

TEST(GPXCannyEdgeDetectionFilter, TheOutlineOfASquareAndTheForwardedSettings) {
    auto canny = make<GPXCannyEdgeDetectionFilter>();
    EXPECT_DOUBLE_EQ(canny->upperThreshold(), 0.4);
    EXPECT_DOUBLE_EQ(canny->lowerThreshold(), 0.1);
    EXPECT_DOUBLE_EQ(canny->blurRadiusInPixels(), 2.0);
    EXPECT_DOUBLE_EQ(canny->blurTexelSpacingMultiplier(), 1.0);
    EXPECT_DOUBLE_EQ(canny->nonMaximumSuppressionFilter()->upperThreshold(), 0.4);

    Pixels input = solidPicture(32, 32, {0, 0, 0, 255});
    for (int y = 8; y < 24; ++y)
        for (int x = 8; x < 24; ++x) input.at(x, y) = {255, 255, 255, 255};
    auto result = runFilter(canny, {input});
    int onOutline = 0, elsewhere = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            if (result.at(x, y)[0] < 128) continue;
            const bool outline =
                (x >= 6 && x <= 25 && y >= 6 && y <= 25) && !(x >= 10 && x <= 21 && y >= 10 && y <= 21);
            (outline ? onOutline : elsewhere)++;
        }
    EXPECT_GT(onOutline, 40);
    EXPECT_EQ(elsewhere, 0);
    EXPECT_EQ(result.at(16, 16)[0], 0);
    EXPECT_EQ(result.at(0, 0)[0], 0);

    canny->setTexelWidth(0.25);
    EXPECT_DOUBLE_EQ(canny->texelWidth(), 0.25);
    EXPECT_TRUE(canny->edgeDetectionFilter()->hasOverriddenImageSizeFactor());
}
