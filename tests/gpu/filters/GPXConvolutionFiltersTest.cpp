#include "gpu/filters/GPXConvolutionFilters.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "../core/GPUFilterTestSupport.h"
#include "gpu/core/GPXRawDataInput.h"

using namespace gputest;

namespace {

Colour sampleClamped(const Pixels& p, long x, long y) {
    return toColour(p.at(static_cast<std::size_t>(std::clamp<long>(x, 0, static_cast<long>(p.width) - 1)),
                         static_cast<std::size_t>(std::clamp<long>(y, 0, static_cast<long>(p.height) - 1))));
}

// The 3x3 sum with the kernel's row one on the row above; the centre's alpha.
Pixels convolve(const Pixels& input, const double kernel[3][3], double offset = 0) {
    Pixels out = input;
    for (long y = 0; y < static_cast<long>(input.height); ++y) {
        for (long x = 0; x < static_cast<long>(input.width); ++x) {
            Colour sum{offset, offset, offset, sampleClamped(input, x, y)[3]};
            for (int row = 0; row < 3; ++row)
                for (int column = 0; column < 3; ++column) {
                    auto c = sampleClamped(input, x + column - 1, y + row - 1);
                    for (int k = 0; k < 3; ++k) sum[k] += c[k] * kernel[row][column];
                }
            out.at(x, y) = toBytes(sum);
        }
    }
    return out;
}

TEST(GPX3x3ConvolutionFilter, TheDefaultKernelIsTheIdentityAndAnyKernelMatches) {
    auto input = noisePicture(12, 10, 3);
    auto filter = make<GPX3x3ConvolutionFilter>();
    EXPECT_TRUE(matches(runFilter(filter, {input}), input, 1));
    const double kernel[3][3] = {{0.1, 0.2, 0.0}, {-0.1, 0.5, 0.1}, {0.3, 0.0, -0.2}};
    filter->setConvolutionKernel({{0.1f, 0.2f, 0.0f}, {-0.1f, 0.5f, 0.1f}, {0.3f, 0.0f, -0.2f}});
    EXPECT_FLOAT_EQ(filter->convolutionKernel().three.one, 0.3f);
    EXPECT_TRUE(matches(runFilter(filter, {input}), convolve(input, kernel), 2));
}

TEST(GPXEmbossFilter, IntensityZeroIsTheIdentityAndOneEmbosses) {
    auto input = gradientPicture(12, 10);
    auto filter = make<GPXEmbossFilter>();
    EXPECT_EQ(filter->intensity(), 1.0);
    const double one[3][3] = {{-2, -1, 0}, {-1, 1, 1}, {0, 1, 2}};
    EXPECT_TRUE(matches(runFilter(filter, {input}), convolve(input, one), 2));
    filter->setIntensity(0.0);
    EXPECT_TRUE(matches(runFilter(filter, {input}), input, 1));
}

TEST(GPXLaplacianFilter, AFlatPictureIsMidGrey) {
    auto result = runFilter(make<GPXLaplacianFilter>(), {solidPicture(6, 6, {90, 200, 10, 255})});
    EXPECT_TRUE(near(result.at(3, 3), {128, 128, 128, 255}));
    auto input = noisePicture(10, 8, 1);
    const double kernel[3][3] = {{0.5, 1, 0.5}, {1, -6, 1}, {0.5, 1, 0.5}};
    EXPECT_TRUE(matches(runFilter(make<GPXLaplacianFilter>(), {input}), convolve(input, kernel, 0.5), 2));
}

TEST(GPXSharpenFilter, ZeroKeepsThePictureAndMoreSharpens) {
    auto input = noisePicture(12, 10, 7);
    auto filter = make<GPXSharpenFilter>();
    auto unchanged = runFilter(filter, {input});
    auto expectedUnchanged = input;
    for (long y = 0; y < 10; ++y)
        for (long x = 0; x < 12; ++x)
            expectedUnchanged.at(x, y)[3] = input.at(x, std::max<long>(y - 1, 0))[3];
    EXPECT_TRUE(matches(unchanged, expectedUnchanged, 1));
    filter->setSharpness(0.5);
    EXPECT_EQ(filter->sharpness(), 0.5);
    auto result = runFilter(filter, {input});
    Pixels expected = input;
    for (long y = 0; y < 10; ++y)
        for (long x = 0; x < 12; ++x) {
            Colour c = sampleClamped(input, x, y), out{0, 0, 0, 1};
            for (int k = 0; k < 3; ++k)
                out[k] = c[k] * 3.0 -
                         0.5 * (sampleClamped(input, x - 1, y)[k] + sampleClamped(input, x + 1, y)[k] +
                                sampleClamped(input, x, y - 1)[k] + sampleClamped(input, x, y + 1)[k]);
            expected.at(x, y) = toBytes(out);
        }
    EXPECT_TRUE(matches(result, expected, 2));
}

TEST(GPXSharpenFilter, TheStepsFollowTheRotatedSize) {
    auto input = noisePicture(12, 6, 8);
    auto filter = make<GPXSharpenFilter>();
    filter->setSharpness(1.0);
    filter->setInputRotation(rotationRight, 0);
    // Turned right: output (s, t) reads the input at (t, 1 - s), so pixel (x, y) is (y, 5 - x).
    auto result = runFilter(filter, {input}, CGSizeMake(6, 12));
    Pixels turned{6, 12, std::vector<RGBA>(72)};
    for (std::size_t y = 0; y < 12; ++y)
        for (std::size_t x = 0; x < 6; ++x) turned.at(x, y) = input.at(y, 5 - x);
    Pixels expected = turned;
    for (long y = 1; y < 11; ++y)
        for (long x = 1; x < 5; ++x) {
            Colour c = sampleClamped(turned, x, y), out{0, 0, 0, 1};
            for (int k = 0; k < 3; ++k)
                out[k] =
                    c[k] * 5.0 - (sampleClamped(turned, x - 1, y)[k] + sampleClamped(turned, x + 1, y)[k] +
                                  sampleClamped(turned, x, y - 1)[k] + sampleClamped(turned, x, y + 1)[k]);
            expected.at(x, y) = toBytes(out);
        }
    for (long y = 1; y < 11; ++y)
        for (long x = 1; x < 5; ++x)
            EXPECT_TRUE(near(result.at(x, y), expected.at(x, y), 3)) << x << "," << y;
}

TEST(GPXMedianFilter, ThePerChannelMedianOfNine) {
    auto input = noisePicture(10, 9, 4);
    auto result = runFilter(make<GPXMedianFilter>(), {input});
    Pixels expected = input;
    for (long y = 0; y < 9; ++y)
        for (long x = 0; x < 10; ++x) {
            Colour out{0, 0, 0, 1};
            for (int k = 0; k < 3; ++k) {
                std::vector<double> v;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) v.push_back(sampleClamped(input, x + dx, y + dy)[k]);
                std::nth_element(v.begin(), v.begin() + 4, v.end());
                out[k] = v[4];
            }
            expected.at(x, y) = toBytes(out);
        }
    EXPECT_TRUE(matches(result, expected, 1));
    // A lone bright pixel goes.
    Pixels dot = solidPicture(5, 5, {0, 0, 0, 255});
    dot.at(2, 2) = {255, 255, 255, 255};
    EXPECT_TRUE(near(runFilter(make<GPXMedianFilter>(), {dot}).at(2, 2), {0, 0, 0, 255}));
}

// The bilateral pass on the CPU along one axis, taps `spacing` texels apart.
Pixels bilateralPass(const Pixels& input, bool vertical, double factor, double spacing) {
    const double weights[9] = {0.05, 0.09, 0.12, 0.15, 0.18, 0.15, 0.12, 0.09, 0.05};
    Pixels out = input;
    for (long y = 0; y < static_cast<long>(input.height); ++y)
        for (long x = 0; x < static_cast<long>(input.width); ++x) {
            auto centre = sampleClamped(input, x, y);
            Colour sum{};
            double total = 0;
            for (int i = 0; i < 9; ++i) {
                const long d = static_cast<long>((i - 4) * spacing);
                auto c = vertical ? sampleClamped(input, x, y + d) : sampleClamped(input, x + d, y);
                double w = weights[i];
                if (i != 4) {
                    double distance = 0;
                    for (int k = 0; k < 4; ++k) distance += (c[k] - centre[k]) * (c[k] - centre[k]);
                    w *= 1.0 - std::min(std::sqrt(distance) * factor, 1.0);
                }
                total += w;
                for (int k = 0; k < 4; ++k) sum[k] += c[k] * w;
            }
            for (auto& v : sum) v /= total;
            out.at(x, y) = toBytes(sum);
        }
    return out;
}

TEST(GPXBilateralFilter, KeepsEdgesAndBlursFlatNoise) {
    auto filter = make<GPXBilateralFilter>();
    EXPECT_EQ(filter->distanceNormalizationFactor(), 8.0);
    EXPECT_EQ(filter->texelSpacingMultiplier(), 4.0);
    auto input = noisePicture(24, 20, 9);
    auto result = runFilter(filter, {input});
    auto expected = bilateralPass(bilateralPass(input, true, 8.0, 4.0), false, 8.0, 4.0);
    EXPECT_TRUE(matches(result, expected, 3));
    // Factor 0: a fixed 9-tap blur.
    filter->setDistanceNormalizationFactor(0.0);
    expected = bilateralPass(bilateralPass(input, true, 0.0, 4.0), false, 0.0, 4.0);
    EXPECT_TRUE(matches(runFilter(filter, {input}), expected, 2));
    // A blur radius leaves the fixed shaders alone.
    auto program = filter->filterProgram();
    filter->setBlurRadiusInPixels(6);
    EXPECT_EQ(filter->filterProgram(), program);
}

TEST(GPXUnsharpMaskFilter, MixesTheSharpAndTheBlurredPicture) {
    auto filter = make<GPXUnsharpMaskFilter>();
    EXPECT_EQ(filter->blurRadiusInPixels(), 4.0);
    EXPECT_EQ(filter->intensity(), 1.0);
    auto input = noisePicture(20, 16, 10);
    EXPECT_TRUE(matches(runFilter(filter, {input}), input, 1));
    filter->setIntensity(2.0);
    filter->setBlurRadiusInPixels(2.0);
    auto result = runFilter(filter, {input});
    // Against a blur of the same picture run on its own.
    auto blurred = runFilter(make<GPXGaussianBlurFilter>(), {input});
    auto expected = mapPixels({input, blurred}, [](const std::vector<Colour>& c, double, double) {
        return Colour{c[0][0] * 2 - c[1][0], c[0][1] * 2 - c[1][1], c[0][2] * 2 - c[1][2], c[0][3]};
    });
    EXPECT_TRUE(matches(result, expected, 2));
}

// Frames of one colour through the filter, one after another; the last result.
Pixels runFrames(const Ref<GPXOutput>& filter, const std::vector<RGBA>& colours) {
    auto output = make<GPXRawDataOutput>(CGSizeMake(4, 4), false);
    filter->addTarget(output);
    Pixels result;
    std::vector<std::uint8_t> bytes(4 * 4 * 4);
    auto input = make<GPXRawDataInput>(bytes.data(), CGSizeMake(4, 4), GL_RGBA);
    input->addTarget(std::dynamic_pointer_cast<GPXInput>(filter));
    int n = 1;
    for (auto& colour : colours) {
        for (std::size_t i = 0; i < 16; ++i) std::copy(colour.begin(), colour.end(), bytes.begin() + i * 4);
        input->updateDataFromBytes(bytes.data(), CGSizeMake(4, 4));
        auto arrived = dispatch_semaphore_create(0);
        output->setNewFrameAvailableBlock([arrived] { dispatch_semaphore_signal(arrived); });
        input->processDataForTimestamp(CMTimeMake(n++, 30));
        EXPECT_TRUE(waitFor(arrived));
        const GLubyte* read = output->rawBytesForImage();
        result = Pixels{4, 4, std::vector<RGBA>(16)};
        for (std::size_t i = 0; i < 16; ++i)
            result.px[i] = {read[i * 4], read[i * 4 + 1], read[i * 4 + 2], read[i * 4 + 3]};
    }
    input->removeAllTargets();
    filter->removeTarget(output);
    return result;
}

TEST(GPXLowPassFilter, AveragesOverFrames) {
    auto filter = make<GPXLowPassFilter>();
    EXPECT_EQ(filter->filterStrength(), 0.5);
    AssertionRecorder reports;
    const RGBA black{0, 0, 0, 255}, white{255, 255, 255, 255};
    auto result = runFrames(filter, {black, black, black, black, white});
    EXPECT_TRUE(near(result.at(1, 1), {128, 128, 128, 255}, 2));
    filter->setFilterStrength(0.0);
    result = runFrames(filter, {black, white});
    EXPECT_TRUE(near(result.at(1, 1), white, 1));
    EXPECT_TRUE(reports.messages().empty());
}

TEST(GPXHighPassFilter, LightsUpWhatChanges) {
    auto filter = make<GPXHighPassFilter>();
    EXPECT_EQ(filter->filterStrength(), 0.5);
    AssertionRecorder reports;
    const RGBA black{0, 0, 0, 255}, white{255, 255, 255, 255};
    auto result = runFrames(filter, {black, black, black, black});
    EXPECT_TRUE(near(result.at(2, 2), black, 1));
    result = runFrames(filter, {white});
    EXPECT_TRUE(near(result.at(2, 2), {128, 128, 128, 255}, 2));
    filter->setFilterStrength(0.25);
    EXPECT_EQ(filter->filterStrength(), 0.25);
    EXPECT_TRUE(reports.messages().empty());
}

}  // namespace
