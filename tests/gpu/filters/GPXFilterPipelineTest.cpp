#include "gpu/filters/GPXFilterPipeline.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>

#include "../core/GPUFilterTestSupport.h"
#include "foundation/NSPropertyListSerialization.h"
#include "gpu/filters/GPXBlurFilters.h"
#include "gpu/filters/GPXColorAdjustmentFilters.h"
#include "gpu/filters/GPXCompositeBlurFilters.h"
#include "gpu/filters/GPXCurvesAndLookupFilters.h"

using namespace gputest;

namespace {

Value entry(const char* name, Dictionary attributes = Dictionary()) {
    return Dictionary{{"FilterName", name}, {"Attributes", attributes}};
}

Value configuration(std::vector<Value> entries) {
    Array filters;
    for (auto& e : entries) filters.addObject(e);
    return Dictionary{{"Filters", filters}};
}

class FilterPipelineTest : public ::testing::Test {
  protected:
    Pixels picture = noisePicture(8, 6, 5);
    Ref<GPXPicture> source = pictureOf(picture);
    Ref<GPXRawDataOutput> sink = make<GPXRawDataOutput>(CGSizeMake(8, 6), false);
    Pixels run() { return readAfterProcessing({source}, sink); }
};

TEST_F(FilterPipelineTest, BuildsFromAConfigurationDictionary) {
    auto pipeline = GPXFilterPipeline::pipelineWithConfiguration(
        configuration({entry("GPXOpacityFilter", Dictionary{{"setOpacity:", "float(0.5)"}}),
                       entry("GPXColorInvertFilter")}),
        source, sink);
    ASSERT_NE(pipeline, nullptr);
    auto filters = pipeline->filters();
    ASSERT_EQ(filters.size(), 2u);
    auto opacity = std::dynamic_pointer_cast<GPXOpacityFilter>(filters[0]);
    ASSERT_NE(opacity, nullptr);
    EXPECT_EQ(opacity->opacity(), 0.5);
    auto expected = mapPixels({picture}, [](const std::vector<Colour>& c, double, double) {
        return Colour{1 - c[0][0], 1 - c[0][1], 1 - c[0][2], c[0][3] * 0.5};
    });
    EXPECT_TRUE(matches(run(), expected, 1));
}

TEST_F(FilterPipelineTest, PointsTextsListsAndCallsWithoutArguments) {
    auto pipeline = GPXFilterPipeline::pipelineWithConfiguration(
        configuration(
            {entry("GPXToneCurveFilter", Dictionary{{"setRGBControlPoints:", Array{Value("CGPoint(0, 0.25)"),
                                                                                   Value("CGPoint(1,0.75)")}},
                                                    {"setPointsWithACV:", "NSString(abc)"}}),
             entry("GPXHSBFilter", Dictionary{{"reset", "ignored"}, {"adjustBrightness:", "float(2)"}})}),
        source, sink);
    ASSERT_NE(pipeline, nullptr);
    EXPECT_EQ(pipeline->stringValue(), "abc");
    auto curve = std::dynamic_pointer_cast<GPXToneCurveFilter>(pipeline->filters()[0]);
    ASSERT_NE(curve, nullptr);
    // The bundle has no "abc.acv": the points from the list were replaced by none.
    EXPECT_TRUE(curve->redControlPoints().empty());
    auto point = detail::parsePipelineArgumentText("CGPoint(0.25, 0.75)");
    ASSERT_TRUE(point.has_value());
    EXPECT_EQ(std::get<CGPoint>(*point), CGPointMake(0.25, 0.75));
    auto text = detail::parsePipelineArgumentText("NSString(abc)");
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(std::get<std::string>(*text), "abc");
}

TEST_F(FilterPipelineTest, BadConfigurationsBuildNothing) {
    const std::vector<Value> bad{
        Dictionary{},  // no "Filters"
        configuration(
            {entry("GPXOpacityFilter", Dictionary{{"setOpacity:", "int(3)"}})}),  // another type word
        configuration({entry("GPXNoSuchFilter")}),                                // unknown class
        configuration(
            {entry("GPXOpacityFilter", Dictionary{{"setNothing:", "float(1)"}})}),  // unknown setter
        configuration(
            {entry("GPXOpacityFilter", Dictionary{{"setOpacity:", "CGPoint(1, 2)"}})}),  // wrong kind
        configuration({entry("GPXOpacityFilter", Dictionary{{"setOpacity:", "0.5"}})}),  // no type word
        configuration({Value("GPXOpacityFilter")}),                                      // not an entry
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_FALSE(detail::readPipelineConfiguration(bad[i]).has_value()) << i;
        EXPECT_EQ(GPXFilterPipeline::pipelineWithConfiguration(bad[i], source, sink), nullptr) << i;
    }
    // Nothing was wired either.
    EXPECT_TRUE(source->targets().empty());
}

TEST_F(FilterPipelineTest, ReadsAPropertyListFile) {
    auto plist = NSPropertyListSerialization::dataWithPropertyList(
        configuration({entry("GPXBrightnessFilter", Dictionary{{"setBrightness:", "float(-1)"}})}),
        NSPropertyListXMLFormat_v1_0, 0, nullptr);
    ASSERT_TRUE(plist.has_value());
    const std::string path = std::string(std::getenv("APP_TEST_TMP") ? std::getenv("APP_TEST_TMP") : "/tmp") +
                             "/gpx-pipeline-test.plist";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(plist->bytes()), plist->length());
    auto pipeline =
        GPXFilterPipeline::pipelineWithConfigurationFile(NSURL::fileURLWithPath(path), source, sink);
    ASSERT_NE(pipeline, nullptr);
    auto result = run();
    EXPECT_TRUE(near(result.at(3, 3), {0, 0, 0, 255}));
    EXPECT_EQ(GPXFilterPipeline::pipelineWithConfigurationFile(NSURL::fileURLWithPath(path + ".missing"),
                                                               source, sink),
              nullptr);
}

TEST_F(FilterPipelineTest, ChangesRewireTheChain) {
    auto invert = make<GPXColorInvertFilter>();
    auto pipeline = make<GPXFilterPipeline>(std::vector<Ref<GPXOutput>>{invert}, source, sink);
    auto inverted = mapPixels({picture}, [](const std::vector<Colour>& c, double, double) {
        return Colour{1 - c[0][0], 1 - c[0][1], 1 - c[0][2], c[0][3]};
    });
    EXPECT_TRUE(matches(run(), inverted, 1));
    auto grey = make<GPXGrayscaleFilter>();
    pipeline->addFilter(grey, 0);
    EXPECT_EQ(pipeline->filters()[0], grey);
    EXPECT_EQ(source->targets().size(), 1u);
    EXPECT_EQ(grey->targets().size(), 1u);
    pipeline->replaceFilterAtIndex(0, make<GPXColorInvertFilter>());
    EXPECT_TRUE(matches(run(), picture, 1));  // inverted twice
    pipeline->removeFilterAtIndex(0);
    pipeline->removeFilter(invert);
    EXPECT_TRUE(pipeline->filters().empty());
    // No filters: the input feeds the output straight.
    EXPECT_TRUE(matches(run(), picture, 0));
    pipeline->replaceAllFilters({invert});
    EXPECT_TRUE(matches(run(), inverted, 1));
    pipeline->removeAllFilters();
    EXPECT_EQ(source->targets().size(), 1u);
    pipeline->addFilter(invert);
    EXPECT_EQ(pipeline->filters().size(), 1u);
}

TEST_F(FilterPipelineTest, CapturesTheLastFiltersFrame) {
    auto blur = make<GPXGaussianBlurFilter>();
    auto invert = make<GPXColorInvertFilter>();
    auto pipeline = make<GPXFilterPipeline>(std::vector<Ref<GPXOutput>>{blur, invert}, source, nullptr);
    invert->useNextFrameForImageCapture();
    source->processImage();
    auto image = pipeline->currentFilteredFrame();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->CGImage()->width(), 8u);
    EXPECT_EQ(make<GPXFilterPipeline>(std::vector<Ref<GPXOutput>>{}, source, nullptr)
                  ->newCGImageFromCurrentFilteredFrame(),
              nullptr);
}

TEST(GPXFilterPipelineNames, EveryNamedClassCanBeMadeAndChained) {
    auto names = detail::pipelineFilterNames();
    EXPECT_GE(names.size(), 75u);
    for (auto& name : names) {
        AssertionRecorder reports;
        auto single = GPXFilterPipeline::pipelineWithConfiguration(configuration({entry(name.c_str())}),
                                                                   nullptr, nullptr);
        EXPECT_NE(single, nullptr) << name;
        EXPECT_TRUE(reports.messages().empty()) << name;
    }
    std::vector<Value> entries;
    for (auto& name : names) entries.push_back(entry(name.c_str()));
    auto source = pictureOf(noisePicture(4, 4, 1));
    auto pipeline = GPXFilterPipeline::pipelineWithConfiguration(configuration(entries), source, nullptr);
    ASSERT_NE(pipeline, nullptr);
    EXPECT_EQ(pipeline->filters().size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(pipeline->filters()[i]->className(), names[i]);
    // A point argument reaches its setter.
    auto zoom = GPXFilterPipeline::pipelineWithConfiguration(
        configuration({entry("GPXZoomBlurFilter", Dictionary{{"setBlurCenter:", "CGPoint(0.25, 0.75)"}})}),
        source, nullptr);
    ASSERT_NE(zoom, nullptr);
    EXPECT_EQ(std::dynamic_pointer_cast<GPXZoomBlurFilter>(zoom->filters()[0])->blurCenter(),
              CGPointMake(0.25, 0.75));
}

}  // namespace

// Argument texts are read without a regular expression engine (which backtracks for exponential
// time on a long text without its ")"); the reading must still give what the pattern gives. The
// pattern, run by the library's engine on short texts, is the reference.
TEST(FilterPipelineArgumentText, MatchesThePatternOnEveryShortText) {
    static const std::regex pattern(R"((float|CGPoint|NSString)\((.*?)(?:,\s*(.*?))*\))");
    const std::vector<std::string> tokens{"float(", "CGPoint(", "NSString(", "float", "(",  ")",
                                          ",",      ", ",       " ",         "\n",    "\r", "\t",
                                          "1",      "2.5",      "x",         ",\n "};
    std::mt19937 random(7);
    int matched = 0;
    for (int round = 0; round < 50000; ++round) {
        std::string text;
        const int count = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < count; ++i) text += tokens[random() % tokens.size()];
        std::smatch match;
        const bool expected = std::regex_search(text, match, pattern);
        auto parts = detail::matchPipelineArgumentText(text);
        ASSERT_EQ(parts.has_value(), expected) << testing::PrintToString(text);
        if (!expected) continue;
        ++matched;
        EXPECT_EQ(parts->type, match[1].str()) << testing::PrintToString(text);
        EXPECT_EQ(parts->first, match[2].str()) << testing::PrintToString(text);
        EXPECT_EQ(parts->last, match[3].str()) << testing::PrintToString(text);
    }
    EXPECT_GT(matched, 2000);  // the texts reach both sides
}

TEST(FilterPipelineArgumentText, LongTextsWithoutTheirEndAreRefusedAtOnce) {
    std::string commas = "CGPoint(";
    for (int i = 0; i < 5000; ++i) commas += "7,";
    std::string starts;
    for (int i = 0; i < 5000; ++i) starts += "float(1,";
    for (const std::string& text : {commas, starts, commas + "x\n)", std::string(100000, '(')})
        EXPECT_FALSE(detail::parsePipelineArgumentText(text).has_value());
    EXPECT_TRUE(detail::parsePipelineArgumentText(commas + "\n)").has_value());  // white space after ","
    auto point = detail::parsePipelineArgumentText(commas + "0.5)");
    ASSERT_TRUE(point.has_value());
    EXPECT_EQ(std::get<CGPoint>(*point), CGPointMake(7, 0.5));
}
