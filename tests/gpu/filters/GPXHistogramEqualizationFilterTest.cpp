#include "gpu/filters/GPXHistogramEqualizationFilter.h"

#include <gtest/gtest.h>

#include "../core/GPUFilterTestSupport.h"
#include "foundation/NSPropertyListSerialization.h"
#include "gpu/filters/GPXFilterPipeline.h"

using namespace gputest;

namespace {

// The frames through a pipeline made from the filter's name, every pixel counted, each frame in
// turn; the last one's result.
Pixels throughPipeline(const std::vector<Pixels>& frames) {
    auto sink = make<GPXRawDataOutput>(CGSizeMake(frames[0].width, frames[0].height), false);
    Array filters;
    filters.addObject(Dictionary{{"FilterName", "GPXHistogramEqualizationFilter"},
                                 {"Attributes", Dictionary{{"setDownsamplingFactor:", "float(1)"}}}});
    auto first = pictureOf(frames[0]);
    auto pipeline =
        GPXFilterPipeline::pipelineWithConfiguration(Dictionary{{"Filters", filters}}, first, sink);
    EXPECT_NE(pipeline, nullptr);
    if (!pipeline) return {};
    auto filter = std::dynamic_pointer_cast<GPXHistogramEqualizationFilter>(pipeline->filters()[0]);
    EXPECT_EQ(filter->histogramFilter()->downsamplingFactor(), 1u);
    std::vector<Ref<GPXPicture>> pictures{first};
    for (std::size_t i = 1; i < frames.size(); ++i) pictures.push_back(pictureOf(frames[i]));
    Pixels result;
    for (auto& picture : pictures) {
        pipeline->setInput(picture);
        pipeline->refreshFilters();
        result = readAfterProcessing({picture}, sink);
    }
    return result;
}

// Each of red, green and blue mapped by the cumulative counts of its own values in the picture.
Pixels reference(const Pixels& input) {
    std::array<std::array<std::uint32_t, 256>, 3> cumulative{};
    for (auto& c : input.px)
        for (int k = 0; k < 3; ++k) ++cumulative[k][c[k]];
    for (auto& channel : cumulative)
        for (int v = 1; v < 256; ++v) channel[v] += channel[v - 1];
    Pixels out = input;
    for (auto& c : out.px)
        for (int k = 0; k < 3; ++k)
            c[k] = static_cast<std::uint8_t>((cumulative[k][c[k]] - cumulative[k][0]) * 255 /
                                             cumulative[k][255]);
    return out;
}

// Greys in bands: 32 pixels of 40, 64 of 100, 32 of 200.
Pixels bands() {
    Pixels p = solidPicture(16, 8, {100, 100, 100, 255});
    for (std::size_t x = 0; x < 16; ++x)
        for (std::size_t y = 0; y < 2; ++y) {
            p.at(x, y) = {40, 40, 40, 255};
            p.at(x, y + 6) = {200, 200, 200, 255};
        }
    return p;
}

TEST(GPXHistogramEqualizationFilter, KnownCountsSpreadByTheirCumulativeShare) {
    auto result = throughPipeline({bands()});
    // 32 of 128 up to 40, 96 up to 100, all up to 200.
    EXPECT_TRUE(near(result.at(3, 0), {63, 63, 63, 255}, 1));
    EXPECT_TRUE(near(result.at(3, 4), {191, 191, 191, 255}, 1));
    EXPECT_TRUE(near(result.at(3, 7), {255, 255, 255, 255}, 1));
    EXPECT_TRUE(matches(result, reference(bands()), 1));
}

TEST(GPXHistogramEqualizationFilter, EachChannelByItsOwnCounts) {
    // 128 pixels: no bin reaches the 255 a count saturates at.
    const Pixels noise = noisePicture(16, 8, 21);
    EXPECT_TRUE(matches(throughPipeline({noise}), reference(noise), 1));
}

TEST(GPXHistogramEqualizationFilter, AllTheWeightInOneBin) {
    struct Case {
        std::uint8_t value, expected;
    };
    // In bin v above 0 the value maps to 255; in bin 0 everything maps to 0.
    for (const Case& c : {Case{90, 255}, Case{1, 255}, Case{255, 255}, Case{0, 0}}) {
        auto result = throughPipeline({solidPicture(8, 8, {c.value, c.value, c.value, 255})});
        EXPECT_TRUE(matches(result, solidPicture(8, 8, {c.expected, c.expected, c.expected, 255}), 1))
            << int(c.value);
    }
}

TEST(GPXHistogramEqualizationFilter, EachFrameIsMappedByItsOwnTable) {
    // Through the first frame's table 90 would give 63.
    auto result = throughPipeline({bands(), solidPicture(16, 8, {90, 90, 90, 255})});
    EXPECT_TRUE(matches(result, solidPicture(16, 8, {255, 255, 255, 255}), 1));
}

TEST(GPXHistogramEqualizationFilter, OneChannelOrTheLuminance) {
    // Red by its own counts, green and blue untouched.
    Pixels colours = bands();
    for (auto& c : colours.px) c = {c[0], 77, 150, 255};
    auto red = make<GPXHistogramEqualizationFilter>(kGPXHistogramRed);
    red->setDownsamplingFactor(1);
    auto expected = reference(colours);
    for (auto& c : expected.px) c = {c[0], 77, 150, 255};
    EXPECT_TRUE(matches(runFilter(red, {colours}), expected, 1));

    // Half 60 and half 180 in luminance: 60 moves to the middle, 180 to the top, and every
    // channel moves by the same amount.
    Pixels greys = edgePicture(16, 8, {60, 60, 60, 255}, {180, 180, 180, 255});
    auto luminance = make<GPXHistogramEqualizationFilter>(kGPXHistogramLuminance);
    luminance->setDownsamplingFactor(1);
    EXPECT_TRUE(matches(runFilter(luminance, {greys}),
                        edgePicture(16, 8, {127, 127, 127, 255}, {255, 255, 255, 255}), 1));
}

TEST(GPXHistogramEqualizationFilter, DefaultsAndTheTableArithmetic) {
    auto filter = make<GPXHistogramEqualizationFilter>();
    EXPECT_EQ(filter->downsamplingFactor(), 16u);
    EXPECT_EQ(filter->histogramFilter()->histogramType(), kGPXHistogramRGB);
    EXPECT_EQ(filter->histogramFilter()->downsamplingFactor(), 16u);
    filter->setDownsamplingFactor(4);
    EXPECT_EQ(filter->histogramFilter()->downsamplingFactor(), 4u);
    EXPECT_EQ(make<GPXHistogramEqualizationFilter>(static_cast<HistogramType>(9))
                  ->histogramFilter()
                  ->histogramType(),
              kGPXHistogramRGB);

    // An empty histogram (nothing counted) gives a zero table, opaque.
    std::vector<GLubyte> histogram(256 * 3 * 4, 0);
    auto table = GPXHistogramEqualizationFilter::equalizationTable(histogram.data());
    for (int x = 0; x < 256; ++x) {
        EXPECT_EQ(table[x * 4], 0);
        EXPECT_EQ(table[x * 4 + 3], 255);
    }
    // Saturated bins on the middle row only: the rows around it are not counted.
    std::fill(histogram.begin(), histogram.begin() + 1024, 255);
    std::fill(histogram.begin() + 2048, histogram.end(), 255);
    GLubyte* middle = histogram.data() + 1024;
    middle[10 * 4 + 2] = 255;   // third byte: 255 counts at 10
    middle[250 * 4 + 2] = 255;  // and at 250
    table = GPXHistogramEqualizationFilter::equalizationTable(histogram.data());
    EXPECT_EQ(table[9 * 4 + 2], 0);
    EXPECT_EQ(table[10 * 4 + 2], 127);
    EXPECT_EQ(table[249 * 4 + 2], 127);
    EXPECT_EQ(table[250 * 4 + 2], 255);
    EXPECT_EQ(table[250 * 4], 0);

    // The group's filters hold no reference back to it.
    Weak<GPXHistogramEqualizationFilter> weak = filter;
    filter.reset();
    EXPECT_TRUE(weak.expired());
}

}  // namespace
