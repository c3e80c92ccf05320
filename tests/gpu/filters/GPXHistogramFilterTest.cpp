#include "gpu/filters/GPXHistogramFilter.h"

#include <gtest/gtest.h>

#include "../core/GPUFilterTestSupport.h"

using namespace gputest;

namespace {

// The counts on the output's middle row, channel `k`.
std::vector<int> counts(const Pixels& histogram, int k) {
    std::vector<int> c;
    for (std::size_t x = 0; x < 256; ++x) c.push_back(histogram.at(x, 1)[static_cast<std::size_t>(k)]);
    return c;
}

Pixels histogramOf(const Ref<GPXHistogramFilter>& filter, const Pixels& input) {
    return runFilter(filter, {input}, CGSizeMake(256, 3));
}

}  // namespace

TEST(GPXHistogramFilter, EveryValueCountsInItsOwnColumn) {
    // Value v occurs 1 + v % 3 times in red, and 255 - v carries the same counts in green; blue is
    // always 9. 511 pixels, plus one more 7 to fill 32 x 16.
    std::vector<int> expected(256);
    Pixels input{32, 16, {}};
    for (int v = 0; v < 256; ++v)
        for (int n = 0; n < 1 + v % 3; ++n) {
            input.px.push_back({static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(255 - v), 9, 255});
            ++expected[static_cast<std::size_t>(v)];
        }
    input.px.push_back({7, 248, 9, 255});
    ++expected[7];
    ASSERT_EQ(input.px.size(), 512u);

    auto filter = make<GPXHistogramFilter>();
    EXPECT_EQ(filter->histogramType(), kGPXHistogramRGB);
    EXPECT_EQ(filter->downsamplingFactor(), 16u);
    filter->setDownsamplingFactor(1);
    auto result = histogramOf(filter, input);
    ASSERT_EQ(result.width, 256u);
    EXPECT_EQ(counts(result, 0), expected);
    std::vector<int> green(256);
    for (int v = 0; v < 256; ++v)
        green[static_cast<std::size_t>(255 - v)] = expected[static_cast<std::size_t>(v)];
    EXPECT_EQ(counts(result, 1), green);
    std::vector<int> blue(256);
    blue[9] = 512 > 255 ? 255 : 512;
    EXPECT_EQ(counts(result, 2), blue);
    // The other rows stay clear.
    for (std::size_t x = 0; x < 256; ++x) EXPECT_EQ(result.at(x, 0)[0], 0);

    auto red = make<GPXHistogramFilter>(kGPXHistogramRed);
    red->setDownsamplingFactor(1);
    result = histogramOf(red, input);
    EXPECT_EQ(counts(result, 0), expected);
    EXPECT_EQ(counts(result, 1), std::vector<int>(256, 0));
}

TEST(GPXHistogramFilter, SamplingAndSaturation) {
    const Pixels black = solidPicture(16, 16, {0, 0, 0, 255});
    auto filter = make<GPXHistogramFilter>(kGPXHistogramRed);
    auto result = histogramOf(filter, black);
    EXPECT_EQ(result.at(0, 1)[0], 16);
    EXPECT_EQ(result.at(1, 1)[0], 0);
    filter->setDownsamplingFactor(1);
    EXPECT_EQ(histogramOf(filter, black).at(0, 1)[0], 255);
    // A factor of 0 counts every pixel rather than dividing by zero.
    filter->setDownsamplingFactor(0);
    EXPECT_EQ(histogramOf(filter, black).at(0, 1)[0], 255);
}

TEST(GPXHistogramFilter, LuminanceOfWhiteFillsTheLastBinInEveryChannel) {
    auto filter = make<GPXHistogramFilter>(kGPXHistogramLuminance);
    filter->setDownsamplingFactor(4);
    auto result = histogramOf(filter, solidPicture(8, 8, {255, 255, 255, 255}));
    EXPECT_TRUE(near(result.at(255, 1), {16, 16, 16, 255}, 0));
    EXPECT_TRUE(near(result.at(254, 1), {0, 0, 0, 255}, 0));
}

TEST(GPXHistogramFilter, RotationIsIgnoredAndALargerFrameIsReadWhole) {
    auto filter = make<GPXHistogramFilter>(kGPXHistogramBlue);
    filter->setDownsamplingFactor(1);
    filter->setInputRotation(rotationLeft, 0);
    EXPECT_EQ(filter->inputRotation(), rotationNone);
    EXPECT_EQ(histogramOf(filter, solidPicture(4, 4, {0, 0, 100, 255})).at(100, 1)[2], 16);
    // 40 x 6 pixels after 16: the read-back buffer grows with the frame.
    EXPECT_EQ(histogramOf(filter, solidPicture(40, 6, {0, 0, 30, 255})).at(30, 1)[2], 240);
    EXPECT_EQ(histogramOf(filter, solidPicture(2, 3, {0, 0, 60, 255})).at(60, 1)[2], 6);
}
