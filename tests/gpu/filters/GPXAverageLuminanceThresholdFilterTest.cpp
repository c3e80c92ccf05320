#include "gpu/filters/GPXAverageLuminanceThresholdFilter.h"

#include <gtest/gtest.h>

#include "../core/GPUFilterTestSupport.h"
#include "foundation/NSPropertyListSerialization.h"
#include "gpu/filters/GPXColorAdjustmentFilters.h"
#include "gpu/filters/GPXFilterPipeline.h"
#include "gpu/filters/GPXImageReductions.h"

using namespace gputest;

namespace {

// The frames through a pipeline made from the filter's name, each in turn; the last one's result.
Pixels throughPipeline(const std::vector<Pixels>& frames, Dictionary attributes,
                       Ref<GPXAverageLuminanceThresholdFilter>* made = nullptr) {
    auto sink = make<GPXRawDataOutput>(CGSizeMake(frames[0].width, frames[0].height), false);
    Array filters;
    filters.addObject(
        Dictionary{{"FilterName", "GPXAverageLuminanceThresholdFilter"}, {"Attributes", attributes}});
    auto first = pictureOf(frames[0]);
    auto pipeline =
        GPXFilterPipeline::pipelineWithConfiguration(Dictionary{{"Filters", filters}}, first, sink);
    EXPECT_NE(pipeline, nullptr);
    if (!pipeline) return {};
    if (made) *made = std::dynamic_pointer_cast<GPXAverageLuminanceThresholdFilter>(pipeline->filters()[0]);
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

double averageLuminance(const Pixels& p) {
    double sum = 0;
    for (auto& c : p.px) sum += (0.2125 * c[0] + 0.7154 * c[1] + 0.0721 * c[2]) / 255.0;
    return sum / static_cast<double>(p.px.size());
}

// White where a pixel's luminance reaches multiplier x the picture's mean, else black.
Pixels reference(const Pixels& input, double multiplier) {
    const double threshold = multiplier * averageLuminance(input);
    return mapPixels({input}, [threshold](const std::vector<Colour>& c, double, double) {
        const double l = c[0][0] * 0.2125 + c[0][1] * 0.7154 + c[0][2] * 0.0721;
        const double v = l >= threshold ? 1.0 : 0.0;
        return Colour{v, v, v, c[0][3]};
    });
}

// Grey on the left three quarters, another grey on the right quarter.
Pixels split(std::uint8_t left, std::uint8_t right) {
    Pixels p = solidPicture(64, 32, {left, left, left, 255});
    for (std::size_t y = 0; y < p.height; ++y)
        for (std::size_t x = 48; x < p.width; ++x) p.at(x, y) = {right, right, right, 255};
    return p;
}

TEST(GPXAverageLuminanceThresholdFilter, AFlatPictureSitsOnItsOwnThreshold) {
    const Pixels flat = solidPicture(64, 32, {100, 150, 200, 255});
    const double mean = averageLuminance(flat);
    Ref<GPXAverageLuminanceThresholdFilter> filter;
    // Just below its own mean every pixel is white, just above every pixel is black.
    auto below = throughPipeline({flat}, Dictionary{{"setThresholdMultiplier:", "float(0.95)"}}, &filter);
    ASSERT_NE(filter, nullptr);
    EXPECT_NEAR(filter->thresholdMultiplier(), 0.95, 1e-6);
    EXPECT_NEAR(filter->luminanceThresholdFilter()->threshold(), 0.95 * mean, 2.0 / 255);
    EXPECT_TRUE(matches(below, solidPicture(64, 32, {255, 255, 255, 255}), 0));
    auto above = throughPipeline({flat}, Dictionary{{"setThresholdMultiplier:", "float(1.05)"}});
    EXPECT_TRUE(matches(above, solidPicture(64, 32, {0, 0, 0, 255}), 0));
}

TEST(GPXAverageLuminanceThresholdFilter, ASplitPictureIsCutAtItsMean) {
    struct Case {
        std::uint8_t left, right;
        const char* multiplier;
        double value;
    };
    // Mean 102.5: 60 below, 230 above; doubled (205) only 230 stays; a threshold above 1 leaves
    // nothing white.
    const Case cases[] = {{60, 230, "float(1)", 1.0},
                          {60, 230, "float(2)", 2.0},
                          {60, 230, "float(2.5)", 2.5},
                          {230, 60, "float(1)", 1.0}};
    for (auto& c : cases) {
        const Pixels input = split(c.left, c.right);
        EXPECT_TRUE(matches(throughPipeline({input}, Dictionary{{"setThresholdMultiplier:", c.multiplier}}),
                            reference(input, c.value), 0))
            << int(c.left) << " " << int(c.right) << " " << c.multiplier;
    }
}

TEST(GPXAverageLuminanceThresholdFilter, EachFrameIsCutAtItsOwnMeanNotThePreviousOne) {
    // The first frame's mean (about 102) would turn the whole dark second frame black.
    const Pixels dark = split(10, 50);
    auto result = throughPipeline({split(60, 230), dark}, Dictionary());
    EXPECT_TRUE(matches(result, reference(dark, 1.0), 0));
    EXPECT_TRUE(near(result.at(60, 5), {255, 255, 255, 255}, 0));
}

TEST(GPXAverageLuminanceThresholdFilter, DefaultsAndWiring) {
    auto filter = make<GPXAverageLuminanceThresholdFilter>();
    EXPECT_DOUBLE_EQ(filter->thresholdMultiplier(), 1.0);
    ASSERT_EQ(filter->initialFilters().size(), 2u);
    EXPECT_EQ(filter->initialFilters()[0], std::dynamic_pointer_cast<GPXInput>(filter->luminosityFilter()));
    EXPECT_EQ(filter->terminalFilter(), filter->luminanceThresholdFilter());
    // The filters hold no reference back to the group.
    Weak<GPXAverageLuminanceThresholdFilter> weak = filter;
    auto luminosity = filter->luminosityFilter();
    filter.reset();
    EXPECT_TRUE(weak.expired());
    ASSERT_TRUE(luminosity->luminosityProcessingFinishedBlock());
    luminosity->luminosityProcessingFinishedBlock()(0.5, kCMTimeZero);
}

}  // namespace
