#include "gpu/filters/GPXBlurFilters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "../core/GPUFilterTestSupport.h"

using namespace gputest;

namespace {

// A separable blur on the CPU with clamped edges: the vertical pass, stored as bytes as the
// first pass's framebuffer holds it, then the horizontal pass.
Pixels separableBlur(const Pixels& input, const std::vector<double>& kernel) {
    const long radius = static_cast<long>(kernel.size() / 2);
    auto pass = [&](const Pixels& in, bool vertical) {
        Pixels out = in;
        for (long y = 0; y < static_cast<long>(in.height); ++y) {
            for (long x = 0; x < static_cast<long>(in.width); ++x) {
                Colour sum{0, 0, 0, 0};
                for (long k = -radius; k <= radius; ++k) {
                    const long sx = vertical ? x : std::clamp<long>(x + k, 0, in.width - 1);
                    const long sy = vertical ? std::clamp<long>(y + k, 0, in.height - 1) : y;
                    auto c = toColour(in.at(sx, sy));
                    for (int i = 0; i < 4; ++i) sum[i] += c[i] * kernel[k + radius];
                }
                out.at(x, y) = toBytes(sum);
            }
        }
        return out;
    };
    return pass(pass(input, true), false);
}

std::vector<double> gaussianKernel(unsigned radius, double sigma) {
    auto weights = GPXGaussianBlurFilter::gaussianWeights(radius, sigma);
    std::vector<double> kernel(radius * 2 + 1);
    for (unsigned i = 0; i <= radius; ++i) kernel[radius + i] = kernel[radius - i] = weights[i];
    return kernel;
}

TEST(GPXGaussianBlurFilter, SampleRadiiFollowTheSigma) {
    const std::pair<double, unsigned> table[] = {{0.4, 0}, {1, 4},  {2, 6},   {3, 8},  {4, 10},
                                                 {5, 12},  {8, 18}, {10, 22}, {20, 36}};
    for (auto [sigma, radius] : table)
        EXPECT_EQ(GPXGaussianBlurFilter::sampleRadiusForSigma(sigma), radius) << sigma;
}

TEST(GPXGaussianBlurFilter, WeightsAreNormalisedOverTheSymmetricKernel) {
    for (unsigned radius : {1u, 4u, 7u, 18u}) {
        auto kernel = gaussianKernel(radius, 3.0);
        EXPECT_NEAR(std::accumulate(kernel.begin(), kernel.end(), 0.0), 1.0, 1e-5) << radius;
    }
}

TEST(GPXGaussianBlurFilter, GeneratedShadersCarryAtMostSevenPairsInVaryings) {
    auto vertex = GPXGaussianBlurFilter::vertexShaderForOptimizedBlurOfRadius(18, 8.0);
    auto fragment = GPXGaussianBlurFilter::fragmentShaderForOptimizedBlurOfRadius(18, 8.0);
    EXPECT_NE(vertex.find("blurCoordinates[15]"), std::string::npos);
    EXPECT_NE(fragment.find("singleStepOffset"), std::string::npos);
    // Two extra pairs read in the fragment shader, two reads each.
    std::size_t extra = 0;
    for (std::size_t at = fragment.find("blurCoordinates[0] "); at != std::string::npos;
         at = fragment.find("blurCoordinates[0] ", at + 1))
        ++extra;
    EXPECT_EQ(extra, 4u);
    EXPECT_EQ(GPXGaussianBlurFilter::vertexShaderForOptimizedBlurOfRadius(0, 1.0),
              kGPXDefaultVertexShaderString);
    EXPECT_EQ(GPXGaussianBlurFilter::fragmentShaderForOptimizedBlurOfRadius(0, 1.0),
              kGPXPassthroughFragmentShaderString);
}

class GaussianBlurTest : public ::testing::Test {
  protected:
    Pixels input = noisePicture(40, 30, 17);
};

TEST_F(GaussianBlurTest, TheDefaultBlurMatchesTheKernel) {
    auto filter = make<GPXGaussianBlurFilter>();
    EXPECT_EQ(filter->blurRadiusInPixels(), 2.0);
    EXPECT_EQ(filter->sampleRadius(), 4u);
    auto result = runFilter(filter, {input});
    EXPECT_TRUE(matches(result, separableBlur(input, gaussianKernel(4, 2.0)), 2));
}

TEST_F(GaussianBlurTest, LargeSigmasReadBeyondTheVaryingsAndStillMatch) {
    for (double sigma : {4.0, 8.0}) {
        auto filter = make<GPXGaussianBlurFilter>();
        filter->setBlurRadiusInPixels(sigma);
        const unsigned radius = GPXGaussianBlurFilter::sampleRadiusForSigma(sigma);
        EXPECT_EQ(filter->sampleRadius(), radius);
        auto result = runFilter(filter, {input});
        EXPECT_TRUE(matches(result, separableBlur(input, gaussianKernel(radius, sigma)), 2)) << sigma;
    }
}

TEST_F(GaussianBlurTest, ASigmaBelowOneHalfIsNoBlurAndRoundingKeepsTheProgram) {
    auto filter = make<GPXGaussianBlurFilter>();
    filter->setBlurRadiusInPixels(0.4);
    EXPECT_EQ(filter->blurRadiusInPixels(), 0.0);
    EXPECT_EQ(filter->sampleRadius(), 0u);
    EXPECT_TRUE(matches(runFilter(filter, {input}), input, 0));
    filter->setBlurRadiusInPixels(2.0);
    auto program = filter->filterProgram();
    filter->setBlurRadiusInPixels(2.4);
    EXPECT_EQ(filter->filterProgram(), program);
    EXPECT_EQ(filter->blurRadiusInPixels(), 2.0);
}

TEST_F(GaussianBlurTest, ExtraPassesBlurThePreviousResultAgain) {
    auto filter = make<GPXGaussianBlurFilter>();
    filter->setBlurPasses(0);
    auto once = runFilter(filter, {input});
    EXPECT_TRUE(matches(once, separableBlur(input, gaussianKernel(4, 2.0)), 2));
    filter->setBlurPasses(3);
    auto thrice = runFilter(filter, {input});
    auto kernel = gaussianKernel(4, 2.0);
    EXPECT_TRUE(
        matches(thrice, separableBlur(separableBlur(separableBlur(input, kernel), kernel), kernel), 3));
    // Captured, the result is the last pass's.
    auto image =
        filter->imageByFilteringImage(UIImage::imageWithCGImage(makePremultipliedImage(40, 30, input.px)));
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(near(rgbaAt(image->CGImage(), 20, 15), thrice.at(20, 15), 1));
}

TEST_F(GaussianBlurTest, AFractionOfTheWidthBecomesPixelsAtTheFirstSize) {
    auto filter = make<GPXGaussianBlurFilter>();
    filter->setBlurRadiusAsFractionOfImageWidth(0.1);
    filter->setBlurRadiusAsFractionOfImageWidth(-1);  // ignored
    EXPECT_EQ(filter->blurRadiusAsFractionOfImageWidth(), 0.1);
    auto result = runFilter(filter, {input});
    EXPECT_EQ(filter->blurRadiusInPixels(), 4.0);
    EXPECT_TRUE(matches(result, separableBlur(input, gaussianKernel(10, 4.0)), 2));
    // A later size keeps the pixel radius.
    runFilter(filter, {noisePicture(80, 30, 1)});
    EXPECT_EQ(filter->blurRadiusInPixels(), 4.0);
    filter->setBlurRadiusAsFractionOfImageHeight(0.2);
    EXPECT_EQ(filter->blurRadiusAsFractionOfImageWidth(), 0.0);
}

TEST_F(GaussianBlurTest, TheSpacingMultiplierSpreadsTheTaps) {
    auto filter = make<GPXGaussianBlurFilter>();
    filter->setTexelSpacingMultiplier(2.0);
    EXPECT_EQ(filter->texelSpacingMultiplier(), 2.0);
    EXPECT_EQ(filter->verticalTexelSpacing(), 2.0);
    EXPECT_EQ(filter->horizontalTexelSpacing(), 2.0);
    filter->setInputSize(CGSizeMake(40, 30), 0);
    EXPECT_FLOAT_EQ(filter->texelOffsets().horizontalPassTexelWidthOffset, 2.0f / 40);
}

TEST(GPXGaussianBlurGenerators, AnOddRadiusStillGivesAKernelThatSumsToOne) {
    // The last pair's missing weight counts as 0: the weights in the text add up to 1.
    auto fragment = GPXGaussianBlurFilter::fragmentShaderForOptimizedBlurOfRadius(5, 2.0);
    double total = 0;
    for (std::size_t at = fragment.find(") * "); at != std::string::npos; at = fragment.find(") * ", at + 1))
        total += std::stod(fragment.substr(at + 4));
    EXPECT_NEAR(total, 1.0, 1e-4);
    auto filter = make<GPXGaussianBlurFilter>(
        GPXGaussianBlurFilter::vertexShaderForOptimizedBlurOfRadius(5, 2.0), fragment,
        GPXGaussianBlurFilter::vertexShaderForOptimizedBlurOfRadius(5, 2.0), fragment);
    auto input = noisePicture(20, 20, 6);
    EXPECT_TRUE(matches(runFilter(filter, {input}), separableBlur(input, gaussianKernel(5, 2.0)), 2));
}

TEST(GPXGaussianBlurGenerators, TheStandardVariantMatchesTheKernelToo) {
    auto vertex = GPXGaussianBlurFilter::vertexShaderForStandardBlurOfRadius(3, 1.5);
    auto fragment = GPXGaussianBlurFilter::fragmentShaderForStandardBlurOfRadius(3, 1.5);
    auto filter = make<GPXGaussianBlurFilter>(vertex, fragment, vertex, fragment);
    auto input = noisePicture(16, 12, 7);
    EXPECT_TRUE(matches(runFilter(filter, {input}), separableBlur(input, gaussianKernel(3, 1.5)), 2));
}

TEST(GPXBoxBlurFilter, EqualWeightsOverTheBoxAndEvenRadii) {
    auto filter = make<GPXBoxBlurFilter>();
    EXPECT_EQ(filter->blurRadiusInPixels(), 4.0);
    auto input = noisePicture(30, 20, 3);
    auto box = [](unsigned radius) { return std::vector<double>(radius * 2 + 1, 1.0 / (radius * 2 + 1)); };
    EXPECT_TRUE(matches(runFilter(filter, {input}), separableBlur(input, box(4)), 2));
    filter->setBlurRadiusInPixels(5);
    EXPECT_EQ(filter->blurRadiusInPixels(), 6.0);
    EXPECT_TRUE(matches(runFilter(filter, {input}), separableBlur(input, box(6)), 2));
    auto fragment = GPXBoxBlurFilter::fragmentShaderForOptimizedBlurOfRadius(4, 0);
    EXPECT_NE(fragment.find("0.111111"), std::string::npos);
    EXPECT_NE(fragment.find("0.222222"), std::string::npos);
    EXPECT_NE(GPXBoxBlurFilter::vertexShaderForOptimizedBlurOfRadius(4, 0).find("3.500000"),
              std::string::npos);
}

TEST(GPXBoxBlurFilter, AnOddRadiusFromTheGeneratorStillAveragesTheBox) {
    auto vertex = GPXBoxBlurFilter::vertexShaderForOptimizedBlurOfRadius(5, 0);
    auto fragment = GPXBoxBlurFilter::fragmentShaderForOptimizedBlurOfRadius(5, 0);
    double total = 0;
    for (std::size_t at = fragment.find(") * "); at != std::string::npos; at = fragment.find(") * ", at + 1))
        total += std::stod(fragment.substr(at + 4));
    EXPECT_NEAR(total, 1.0, 1e-4);
    auto filter = make<GPXGaussianBlurFilter>(vertex, fragment, vertex, fragment);
    auto input = noisePicture(24, 18, 8);
    EXPECT_TRUE(
        matches(runFilter(filter, {input}), separableBlur(input, std::vector<double>(11, 1.0 / 11)), 2));
}

TEST(GPXSingleComponentGaussianBlurFilter, BlursRedIntoAnOpaqueGrey) {
    auto input = noisePicture(20, 16, 2, true);
    auto result = runFilter(make<GPXSingleComponentGaussianBlurFilter>(), {input});
    auto blurred = separableBlur(input, gaussianKernel(4, 2.0));
    for (auto& c : blurred.px) c = {c[0], c[0], c[0], 255};
    EXPECT_TRUE(matches(result, blurred, 2));
}

}  // namespace
