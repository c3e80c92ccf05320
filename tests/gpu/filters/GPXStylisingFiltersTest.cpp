#include "gpu/filters/GPXStylisingFilters.h"

#include <gtest/gtest.h>

#include <cmath>

#include "../core/GPUFilterTestSupport.h"

using namespace gputest;

namespace {

const RGBA kWhite{255, 255, 255, 255}, kBlack{0, 0, 0, 255};

// The input read at (x, y) in texture coordinates, linear between texel centres, clamped.
Colour sample(const Pixels& p, double qx, double qy) {
    const double fx = qx * p.width - 0.5, fy = qy * p.height - 0.5;
    const double x0 = std::floor(fx), y0 = std::floor(fy), ax = fx - x0, ay = fy - y0;
    auto at = [&](double x, double y) {
        return toColour(p.at(static_cast<std::size_t>(std::clamp(x, 0.0, p.width - 1.0)),
                             static_cast<std::size_t>(std::clamp(y, 0.0, p.height - 1.0))));
    };
    Colour out{};
    for (int k = 0; k < 4; ++k)
        out[k] = (at(x0, y0)[k] * (1 - ax) + at(x0 + 1, y0)[k] * ax) * (1 - ay) +
                 (at(x0, y0 + 1)[k] * (1 - ax) + at(x0 + 1, y0 + 1)[k] * ax) * ay;
    return out;
}

}  // namespace

TEST(GPXPixellateFilter, SquareBlocksOfTheirCentreColour) {
    const Pixels input = noisePicture(128, 96, 14);
    auto filter = make<GPXPixellateFilter>();
    EXPECT_DOUBLE_EQ(filter->fractionalWidthOfAPixel(), 0.05);
    filter->setFractionalWidthOfAPixel(0.25);
    auto result = runFilter(filter, {input});
    EXPECT_DOUBLE_EQ(filter->aspectRatio(), 0.75);
    // Blocks of 32 x 32 pixels, each the (bilinear) colour at the block's centre.
    for (std::size_t by = 0; by < 3; ++by)
        for (std::size_t bx = 0; bx < 4; ++bx) {
            const RGBA expected = toBytes(sample(input, (bx * 32 + 16) / 128.0, (by * 32 + 16) / 96.0));
            for (std::size_t y = by * 32 + 1; y < by * 32 + 31; y += 7)
                for (std::size_t x = bx * 32 + 1; x < bx * 32 + 31; x += 7)
                    EXPECT_TRUE(near(result.at(x, y), expected, 2)) << x << "," << y;
        }
}

TEST(GPXPixellateFilter, TheWidthCoversAtLeastOnePixelAndTheAspectFollowsRotation) {
    auto filter = make<GPXPixellateFilter>();
    filter->setFractionalWidthOfAPixel(0.0001);
    EXPECT_DOUBLE_EQ(filter->fractionalWidthOfAPixel(), 1.0 / 2048);
    filter->forceProcessingAtSize(CGSizeMake(640, 480));
    filter->setFractionalWidthOfAPixel(0.0001);
    EXPECT_DOUBLE_EQ(filter->fractionalWidthOfAPixel(), 1.0 / 640);
    EXPECT_DOUBLE_EQ(filter->aspectRatio(), 0.75);
    filter->setInputRotation(rotationLeft, 0);
    EXPECT_DOUBLE_EQ(filter->aspectRatio(), 640.0 / 480.0);
    auto crosshatch = make<GPXCrosshatchFilter>();
    crosshatch->forceProcessingAtSize(CGSizeMake(100, 100));
    crosshatch->setCrossHatchSpacing(0.001);
    EXPECT_DOUBLE_EQ(crosshatch->crossHatchSpacing(), 0.01);
}

TEST(GPXPixellatePositionFilter, OnlyInsideTheCircle) {
    const Pixels input = noisePicture(64, 64, 3);
    auto filter = make<GPXPixellatePositionFilter>();
    EXPECT_DOUBLE_EQ(filter->radius(), 0.25);
    filter->setFractionalWidthOfAPixel(0.125);
    auto result = runFilter(filter, {input});
    // Outside the circle the picture is untouched; at the centre a block of 8.
    EXPECT_TRUE(near(result.at(1, 1), input.at(1, 1), 1));
    EXPECT_TRUE(near(result.at(62, 40), input.at(62, 40), 1));
    EXPECT_TRUE(near(result.at(33, 33), toBytes(sample(input, 36 / 64.0, 36 / 64.0)), 2));
    EXPECT_TRUE(near(result.at(33, 33), result.at(38, 38), 0));
}

TEST(GPXPolarPixellateFilter, MatchesItsFormula) {
    const Pixels input = gradientPicture(48, 48);
    auto filter = make<GPXPolarPixellateFilter>();
    filter->setPixelSize(CGSizeMake(0.1, 0.2));
    EXPECT_EQ(filter->pixelSize().height, 0.2);
    auto expected = mapPixels({input}, [&](const std::vector<Colour>&, double x, double y) {
        const double qx = 2 * x - 1, qy = 2 * y - 1;
        double r = std::hypot(qx, qy), phi = std::atan2(qy, qx);
        r = r - std::fmod(r, 0.1) + 0.03;
        phi = phi - (phi - 0.2 * std::floor(phi / 0.2));
        return sample(input, r * std::cos(phi) / 2 + 0.5, r * std::sin(phi) / 2 + 0.5);
    });
    auto result = runFilter(filter, {input});
    int differing = 0;
    for (std::size_t i = 0; i < result.px.size(); ++i) differing += !near(result.px[i], expected.px[i], 3);
    // Texels on a ring or sector boundary may fall either side.
    EXPECT_LT(differing, static_cast<int>(result.px.size() / 20));
}

TEST(GPXHalftoneAndPolkaDotFilters, DotsByBrightness) {
    auto halftone = make<GPXHalftoneFilter>();
    EXPECT_DOUBLE_EQ(halftone->fractionalWidthOfAPixel(), 0.01);
    halftone->setFractionalWidthOfAPixel(0.25);
    EXPECT_TRUE(
        matches(runFilter(halftone, {solidPicture(32, 32, kWhite)}), solidPicture(32, 32, kWhite), 0));
    auto onBlack = runFilter(halftone, {solidPicture(32, 32, kBlack)});
    // A dot of diameter f (8 pixels) in each 8 x 8 block: black at its middle, white in its corner.
    EXPECT_TRUE(near(onBlack.at(4, 4), kBlack, 0));
    EXPECT_TRUE(near(onBlack.at(0, 0), kWhite, 0));

    auto polka = make<GPXPolkaDotFilter>();
    EXPECT_DOUBLE_EQ(polka->dotScaling(), 0.9);
    polka->setFractionalWidthOfAPixel(0.25);
    auto dots = runFilter(polka, {solidPicture(32, 32, {200, 100, 50, 255})});
    EXPECT_TRUE(near(dots.at(4, 4), {200, 100, 50, 255}, 1));
    EXPECT_TRUE(near(dots.at(0, 0), {0, 0, 0, 255}, 0));
}

TEST(GPXCrosshatchFilter, WhiteStaysWhiteAndBlackGetsEveryFamily) {
    auto filter = make<GPXCrosshatchFilter>();
    EXPECT_DOUBLE_EQ(filter->lineWidth(), 0.003);
    EXPECT_TRUE(matches(runFilter(filter, {solidPicture(40, 40, kWhite)}), solidPicture(40, 40, kWhite), 0));
    filter->setCrossHatchSpacing(0.1);
    filter->setLineWidth(0.02);
    // Darker pictures get more line families: black all four, mid grey the first two.
    auto count = [&](RGBA colour) {
        int black = 0;
        for (auto& c : runFilter(filter, {solidPicture(40, 40, colour)}).px) black += c[0] == 0;
        return black;
    };
    const int onGrey = count({160, 160, 160, 255}), onDark = count({100, 100, 100, 255}),
              onBlack = count(kBlack);
    EXPECT_GT(onGrey, 100);
    EXPECT_GT(onDark, onGrey);
    EXPECT_GT(onBlack, onDark);
    EXPECT_LT(onBlack, 1600);

    // Against the formula, on a size whose pixel centres do not fall on the lines' edges (on 40
    // pixels every centre sits exactly on one and rounding decides).
    filter->setCrossHatchSpacing(0.1);
    filter->setLineWidth(0.02);
    auto result = runFilter(filter, {solidPicture(37, 37, kBlack)});
    auto expected =
        mapPixels({solidPicture(37, 37, kBlack)}, [](const std::vector<Colour>&, double x, double y) {
            auto hit = [](double v) { return v - 0.1 * std::floor(v / 0.1) <= 0.02; };
            const bool black = hit(x + y) || hit(x - y) || hit(x + y - 0.05) || hit(x - y - 0.05);
            return black ? Colour{0, 0, 0, 1} : Colour{1, 1, 1, 1};
        });
    int differing = 0;
    for (std::size_t i = 0; i < result.px.size(); ++i) differing += result.px[i] != expected.px[i];
    EXPECT_LT(differing, 20);
}

TEST(GPXToonFilter, PosterisesFlatAreasAndOutlinesEdges) {
    auto toon = make<GPXToonFilter>();
    EXPECT_DOUBLE_EQ(toon->threshold(), 0.2);
    EXPECT_DOUBLE_EQ(toon->quantizationLevels(), 10.0);
    auto result = runFilter(toon, {edgePicture(16, 8, {33, 140, 250, 255}, {240, 240, 240, 255})});
    // 33/255 x 10 = 1.29 -> 0.1; 140 -> 0.5; 250 -> 1.0.
    EXPECT_TRUE(near(result.at(2, 4), {26, 128, 255, 255}, 1));
    EXPECT_TRUE(near(result.at(7, 4), kBlack, 0));
    EXPECT_TRUE(near(result.at(8, 4), kBlack, 0));
    EXPECT_TRUE(near(result.at(13, 4), {230, 230, 230, 255}, 1));

    auto smooth = make<GPXSmoothToonFilter>();
    EXPECT_DOUBLE_EQ(smooth->blurRadiusInPixels(), 2.0);
    smooth->setThreshold(0.5);
    smooth->setQuantizationLevels(4.0);
    EXPECT_DOUBLE_EQ(smooth->toonFilter()->threshold(), 0.5);
    EXPECT_DOUBLE_EQ(smooth->quantizationLevels(), 4.0);
    smooth->setTexelWidth(0.01);
    EXPECT_DOUBLE_EQ(smooth->texelWidth(), 0.01);
    auto flat = runFilter(smooth, {solidPicture(16, 16, {100, 100, 100, 255})});
    EXPECT_TRUE(near(flat.at(8, 8), {128, 128, 128, 255}, 1));
}

namespace {

// The Kuwahara choice on the CPU for one texel: quadrants (i and j ranges) tried in order.
Colour kuwahara(const Pixels& p, double tx, double ty, const std::array<std::array<int, 4>, 4>& quadrants) {
    double best = 100.0;
    Colour result{0, 0, 0, 1};
    for (const auto& q : quadrants) {
        double m[3] = {0, 0, 0}, s[3] = {0, 0, 0}, n = 0;
        for (int j = q[2]; j <= q[3]; ++j)
            for (int i = q[0]; i <= q[1]; ++i) {
                const auto c = sample(p, tx + i / 768.0, ty + j / 1024.0);
                for (int k = 0; k < 3; ++k) m[k] += c[k], s[k] += c[k] * c[k];
                ++n;
            }
        double sigma2 = 0;
        for (int k = 0; k < 3; ++k) {
            m[k] /= n;
            sigma2 += std::abs(s[k] / n - m[k] * m[k]);
        }
        if (sigma2 < best) best = sigma2, result = {m[0], m[1], m[2], 1};
    }
    return result;
}

}  // namespace

TEST(GPXKuwaharaFilter, TheLeastVaryingQuadrantsMean) {
    const Pixels input = noisePicture(48, 40, 23);
    auto filter = make<GPXKuwaharaFilter>();
    EXPECT_EQ(filter->radius(), 3u);
    filter->setRadius(2);
    auto expected = mapPixels({input}, [&](const std::vector<Colour>&, double x, double y) {
        return kuwahara(input, x, y, {{{-2, 0, -2, 0}, {0, 2, -2, 0}, {0, 2, 0, 2}, {-2, 0, 0, 2}}});
    });
    // Where two quadrants vary almost alike the GPU's rounding may pick the other one.
    auto mostlyMatches = [](const Pixels& actual, const Pixels& wanted) {
        int differing = 0;
        for (std::size_t i = 0; i < actual.px.size(); ++i) differing += !near(actual.px[i], wanted.px[i], 3);
        return differing;
    };
    EXPECT_LT(mostlyMatches(runFilter(filter, {input}), expected), 60);
    auto three = mapPixels({input}, [&](const std::vector<Colour>&, double x, double y) {
        return kuwahara(input, x, y, {{{-3, 0, -3, 0}, {-3, 0, 0, 3}, {0, 3, 0, 3}, {0, 3, -3, 0}}});
    });
    EXPECT_LT(mostlyMatches(runFilter(make<GPXKuwaharaRadius3Filter>(), {input}), three), 60);
}

TEST(GPXPerlinNoiseFilter, SpansTheTwoColours) {
    auto filter = make<GPXPerlinNoiseFilter>();
    EXPECT_DOUBLE_EQ(filter->scale(), 8.0);
    filter->setColorStart({0.2f, 0.4f, 0.6f, 1.0f});
    filter->setColorFinish({0.2f, 0.4f, 0.6f, 1.0f});
    EXPECT_TRUE(matches(runFilter(filter, {solidPicture(16, 16, kBlack)}),
                        solidPicture(16, 16, {51, 102, 153, 255}), 1));
    filter->setColorStart({0, 0, 0, 1});
    filter->setColorFinish({1, 1, 1, 1});
    auto noise = runFilter(filter, {solidPicture(64, 64, kWhite)});
    int low = 0, high = 0;
    for (auto& c : noise.px) {
        EXPECT_EQ(c[0], c[1]);
        low += c[0] < 100;
        high += c[0] > 155;
    }
    EXPECT_GT(low, 50);
    EXPECT_GT(high, 50);
    EXPECT_EQ(filter->colorFinish().one, 1.0f);
}
