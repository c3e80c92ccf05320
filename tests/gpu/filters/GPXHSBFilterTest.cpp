#include "gpu/filters/GPXHSBFilter.h"

#include <gtest/gtest.h>

#include "../core/GPUFilterTestSupport.h"

using namespace gputest;

namespace {

// A colour through the matrix as a row vector.
Colour applyMatrix(const GPXHSBFilter::Matrix& m, const Colour& c) {
    Colour out{};
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) out[j] += c[i] * m[i][j];
    return out;
}

void expectIdentity(const GPXHSBFilter::Matrix& m, double tolerance) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(m[i][j], i == j ? 1.0 : 0.0, tolerance) << i << "," << j;
}

TEST(GPXHSBFilter, StartsAtTheIdentityAndResetsToIt) {
    auto filter = make<GPXHSBFilter>();
    expectIdentity(filter->matrix(), 0);
    filter->adjustBrightness(0.3f);
    filter->reset();
    expectIdentity(filter->matrix(), 0);
    auto input = noisePicture(8, 8, 1);
    EXPECT_TRUE(matches(runFilter(filter, {input}), input, 1));
}

TEST(GPXHSBFilter, BrightnessStepsAccumulate) {
    auto filter = make<GPXHSBFilter>();
    filter->adjustBrightness(0.5f);
    filter->adjustBrightness(0.5f);
    auto m = filter->matrix();
    EXPECT_FLOAT_EQ(m[0][0], 0.25f);
    EXPECT_FLOAT_EQ(m[2][2], 0.25f);
    EXPECT_FLOAT_EQ(m[3][3], 1.0f);
    auto input = noisePicture(8, 8, 2);
    auto expected = mapPixels({input}, [](const std::vector<Colour>& c, double, double) {
        return Colour{c[0][0] / 4, c[0][1] / 4, c[0][2] / 4, c[0][3]};
    });
    EXPECT_TRUE(matches(runFilter(filter, {input}), expected, 1));
}

TEST(GPXHSBFilter, SaturationZeroMakesGreyWithItsOwnWeights) {
    auto filter = make<GPXHSBFilter>();
    filter->adjustSaturation(0.0f);
    auto input = noisePicture(8, 8, 3);
    auto expected = mapPixels({input}, [](const std::vector<Colour>& c, double, double) {
        const double grey = 0.3 * c[0][0] + 0.59 * c[0][1] + 0.11 * c[0][2];
        return Colour{grey, grey, grey, c[0][3]};
    });
    EXPECT_TRUE(matches(runFilter(filter, {input}), expected, 1));
}

TEST(GPXHSBFilter, FullTurnsAreTheIdentityAndGreysStayGrey) {
    auto filter = make<GPXHSBFilter>();
    filter->rotateHue(0);
    expectIdentity(filter->matrix(), 1e-5);
    filter->rotateHue(360);
    expectIdentity(filter->matrix(), 1e-5);
    filter->reset();
    filter->rotateHue(77);
    auto grey = applyMatrix(filter->matrix(), {0.4, 0.4, 0.4, 1});
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(grey[k], 0.4, 1e-4);
    // A turn changes a colour but keeps its luminance.
    auto red = applyMatrix(filter->matrix(), {1, 0, 0, 1});
    EXPECT_GT(std::abs(red[1] - 0.0), 0.05);
    EXPECT_NEAR(0.3 * red[0] + 0.59 * red[1] + 0.11 * red[2], 0.3, 1e-4);
    // And the GPU applies the same matrix.
    auto input = noisePicture(8, 8, 4);
    auto m = filter->matrix();
    auto expected = mapPixels(
        {input}, [&](const std::vector<Colour>& c, double, double) { return applyMatrix(m, c[0]); });
    EXPECT_TRUE(matches(runFilter(filter, {input}), expected, 2));
}

}  // namespace
