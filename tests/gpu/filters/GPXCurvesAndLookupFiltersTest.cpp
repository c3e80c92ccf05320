#include "gpu/filters/GPXCurvesAndLookupFilters.h"

#include <gtest/gtest.h>

#include <cmath>

#include "../core/GPUFilterTestSupport.h"
#include "foundation/NSBundle.h"
#include "graphics/GraphicsTesting.h"
#include "graphics/UIImage.h"
#include "tests/support/TestSupport.h"

using namespace gputest;

namespace {

// A curves file: version, count, then (output, input) pairs, all big-endian 16-bit.
NSData acvFile(std::uint16_t version, const std::vector<std::vector<std::pair<int, int>>>& curves,
               std::optional<std::uint16_t> declaredCount = std::nullopt) {
    std::vector<std::uint8_t> bytes;
    auto put = [&](std::uint16_t v) {
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
        bytes.push_back(static_cast<std::uint8_t>(v & 0xff));
    };
    put(version);
    put(declaredCount.value_or(static_cast<std::uint16_t>(curves.size())));
    for (auto& curve : curves) {
        put(static_cast<std::uint16_t>(curve.size()));
        for (auto [output, input] : curve) {
            put(static_cast<std::uint16_t>(output));
            put(static_cast<std::uint16_t>(input));
        }
    }
    return NSData(std::move(bytes));
}

// ---- the curve file ----------------------------------------------------------------------------

TEST(GPXACVFile, ReadsFourCurvesAndIgnoresFurtherOnes) {
    const std::vector<std::pair<int, int>> diagonal{{0, 0}, {255, 255}};
    auto file = make<GPXACVFile>(acvFile(4, {diagonal, diagonal, diagonal, diagonal, diagonal}));
    EXPECT_EQ(file->version(), 4);
    EXPECT_EQ(file->totalCurves(), 5);
    for (auto* points : {&file->rgbCompositeCurvePoints(), &file->redCurvePoints(), &file->greenCurvePoints(),
                         &file->blueCurvePoints()}) {
        ASSERT_TRUE(points->has_value());
        ASSERT_EQ((*points)->size(), 2u);
        EXPECT_EQ((**points)[0], CGSizeMake(0, 0));
        EXPECT_NEAR((**points)[1].width, 1.0, 1e-6);
        EXPECT_NEAR((**points)[1].height, 1.0, 1e-6);
    }
}

TEST(GPXACVFile, APairIsStoredOutputFirstAndKeptInputFirst) {
    const std::vector<std::pair<int, int>> curve{{64, 128}};
    auto file = make<GPXACVFile>(acvFile(1, {curve, curve, curve, curve}));
    ASSERT_TRUE(file->redCurvePoints().has_value());
    EXPECT_NEAR((*file->redCurvePoints())[0].width, 0.50196, 1e-5);
    EXPECT_NEAR((*file->redCurvePoints())[0].height, 0.25098, 1e-5);
}

TEST(GPXACVFile, BadFilesLeaveEveryCurveAbsent) {
    const std::vector<std::pair<int, int>> diagonal{{0, 0}, {255, 255}};
    auto good = acvFile(4, {diagonal, diagonal, diagonal, diagonal});
    std::vector<NSData> bad{
        NSData(),                                                 // empty
        NSData(good.bytes(), 3),                                  // inside the header
        acvFile(4, {diagonal, diagonal, diagonal}),               // three curves
        NSData(good.bytes(), good.length() - 1),                  // the last pair cut short
        acvFile(4, {diagonal, diagonal, diagonal, diagonal}, 9),  // more curves declared than present
        acvFile(4, {diagonal, diagonal, diagonal, {{1, 1}}}, 4),  // fine, as a control
    };
    // A point count far beyond the data.
    auto overrun = good;
    std::vector<std::uint8_t> bytes(good.bytes(), good.bytes() + good.length());
    bytes[4] = 0xff;
    bytes[5] = 0xff;
    bad.push_back(NSData(bytes));
    for (std::size_t i = 0; i < bad.size(); ++i) {
        auto file = make<GPXACVFile>(bad[i]);
        const bool control = i == 5;
        EXPECT_EQ(file->rgbCompositeCurvePoints().has_value(), control) << i;
        EXPECT_EQ(file->blueCurvePoints().has_value(), control) << i;
    }
}

// ---- tone curve --------------------------------------------------------------------------------

std::vector<int> redTable(GPXToneCurveFilter& filter) {
    auto bytes = filter.toneCurveBytes();
    std::vector<int> table;
    for (int i = 0; i < 256; ++i) table.push_back(bytes.empty() ? -1 : bytes[i * 4 + 2]);
    return table;
}

TEST(GPXToneCurveFilter, TheDefaultCurveIsTheIdentity) {
    auto filter = make<GPXToneCurveFilter>();
    auto table = redTable(*filter);
    for (int i = 0; i < 256; ++i) EXPECT_NEAR(table[i], i, 1) << i;
    auto input = noisePicture(16, 8, 3);
    EXPECT_TRUE(matches(runFilter(filter, {input}), input, 1));
}

TEST(GPXToneCurveFilter, AStraightLineBetweenTwoLevels) {
    auto filter = make<GPXToneCurveFilter>();
    filter->setRGBControlPoints({{0, 0.2}, {1, 0.8}});
    auto table = redTable(*filter);
    EXPECT_EQ(table[0], 51);
    EXPECT_EQ(table[255], 204);
    auto input = gradientPicture(32, 4);
    auto expected = mapPixels({input}, [&](const std::vector<Colour>& c, double, double) {
        Colour out = c[0];
        for (int k = 0; k < 3; ++k) out[k] = table[std::lround(c[0][k] * 255)] / 255.0;
        return out;
    });
    EXPECT_TRUE(matches(runFilter(filter, {input}), expected, 2));
}

TEST(GPXToneCurveFilter, PointsStartingAboveZeroMapTheValuesBelowToZero) {
    auto curve = GPXToneCurveFilter::getPreparedSplineCurve({{0.1, 0.1}, {1, 1}});
    ASSERT_TRUE(curve.has_value());
    ASSERT_GE(curve->size(), 256u);
    for (int i = 0; i < 25; ++i) EXPECT_FLOAT_EQ((*curve)[i], -i) << i;
    EXPECT_NEAR((*curve)[26], 0.0, 1.0);
}

TEST(GPXToneCurveFilter, ASinglePointLeavesTheTextureAlone) {
    auto filter = make<GPXToneCurveFilter>();
    auto before = filter->toneCurveBytes();
    EXPECT_FALSE(GPXToneCurveFilter::getPreparedSplineCurve({{0.5, 0.5}}).has_value());
    EXPECT_FALSE(GPXToneCurveFilter::getPreparedSplineCurve({}).has_value());
    filter->setRedControlPoints({{0.5, 0.9}});
    EXPECT_EQ(filter->toneCurveBytes(), before);
    EXPECT_EQ(filter->redControlPoints().size(), 1u);
}

TEST(GPXToneCurveFilter, PointsWithEqualXKeepTheFirstAndStayFinite) {
    auto curve = GPXToneCurveFilter::getPreparedSplineCurve({{0, 0}, {0.5, 0.3}, {0.5, 0.9}, {1, 1}});
    ASSERT_TRUE(curve.has_value());
    for (float v : *curve) EXPECT_TRUE(std::isfinite(v));
    auto reference = GPXToneCurveFilter::getPreparedSplineCurve({{0, 0}, {0.5, 0.3}, {1, 1}});
    EXPECT_EQ(*curve, *reference);
    auto filter = make<GPXToneCurveFilter>();
    filter->setRgbCompositeControlPoints({{0, 0}, {0.5, 0.3}, {0.5, 0.9}, {1, 1}});
    EXPECT_NEAR(redTable(*filter)[128], 128 + (*reference)[128], 1);
}

TEST(GPXToneCurveFilter, TheSecondDerivativeOfALineIsZero) {
    auto sd = GPXToneCurveFilter::secondDerivative({{0, 0}, {255, 255}});
    ASSERT_TRUE(sd.has_value());
    EXPECT_EQ(*sd, (std::vector<double>{0, 0}));
    EXPECT_FALSE(GPXToneCurveFilter::secondDerivative({{0, 0}}).has_value());
}

TEST(GPXToneCurveFilter, EachChannelFirstThenTheComposite) {
    auto filter = make<GPXToneCurveFilter>();
    filter->setRedControlPoints({{0, 1}, {1, 1}});               // red to white
    filter->setRgbCompositeControlPoints({{0, 0.5}, {1, 0.5}});  // everything to one half
    auto bytes = filter->toneCurveBytes();
    EXPECT_NEAR(bytes[10 * 4 + 2], 127, 1);
    EXPECT_NEAR(bytes[10 * 4 + 1], 127, 1);
}

TEST(GPXToneCurveFilter, ReadsCurveFilesAndIgnoresBadOnes) {
    const std::vector<std::pair<int, int>> diagonal{{0, 0}, {255, 255}};
    const std::vector<std::pair<int, int>> inverted{{255, 0}, {0, 255}};
    auto filter = make<GPXToneCurveFilter>(acvFile(4, {diagonal, inverted, diagonal, diagonal}));
    EXPECT_EQ(filter->redControlPoints().size(), 2u);
    auto input = gradientPicture(16, 4);
    auto result = runFilter(filter, {input});
    EXPECT_NEAR(result.at(0, 0)[0], 255, 2);
    EXPECT_NEAR(result.at(15, 0)[0], 0, 2);
    EXPECT_NEAR(result.at(15, 0)[1], input.at(15, 0)[1], 2);
    // A bad file leaves nothing to use: the texture keeps the last table.
    auto before = filter->toneCurveBytes();
    filter->setPointsWithACVData(NSData::fromString("nonsense"));
    EXPECT_EQ(filter->toneCurveBytes(), before);
    EXPECT_TRUE(filter->redControlPoints().empty());
    // A file that is not there.
    auto missing = make<GPXToneCurveFilter>(NSURL::fileURLWithPath("/nonexistent/curves.acv"));
    EXPECT_TRUE(missing->redControlPoints().empty());
}

// ---- levels ------------------------------------------------------------------------------------

TEST(GPXLevelsFilter, RangesAndGammaPerChannel) {
    auto filter = make<GPXLevelsFilter>();
    auto input = gradientPicture(32, 8);
    EXPECT_TRUE(matches(runFilter(filter, {input}), input, 1));
    filter->setMin(0.0f, 2.0f, 1.0f);
    filter->setRedMin(0.2f, 1.0f, 0.8f, 0.1f, 0.9f);
    auto result = runFilter(filter, {input});
    auto expected = mapPixels({input}, [](const std::vector<Colour>& c, double, double) {
        Colour out = c[0];
        out[0] = 0.1 + 0.8 * std::min(std::max(c[0][0] - 0.2, 0.0) / 0.6, 1.0);
        for (int k = 1; k < 3; ++k) out[k] = std::pow(c[0][k], 0.5);
        return out;
    });
    EXPECT_TRUE(matches(result, expected, 2));
}

// ---- lookup ------------------------------------------------------------------------------------

// A colour cube picture with each entry mapped by f.
Pixels lookupPicture(const std::function<RGBA(int r, int g, int b)>& f) {
    Pixels p{512, 512, std::vector<RGBA>(512 * 512)};
    for (int tile = 0; tile < 64; ++tile) {
        const int row = tile / 8, column = tile % 8;
        for (int g = 0; g < 64; ++g)
            for (int r = 0; r < 64; ++r)
                p.at(column * 64 + r, row * 64 + g) = f(r * 255 / 63, g * 255 / 63, tile * 255 / 63);
    }
    return p;
}

TEST(GPXLookupFilter, AnIdentityCubeKeepsColoursAndAnInvertingOneInverts) {
    auto input = noisePicture(16, 16, 12);
    auto identity = lookupPicture([](int r, int g, int b) {
        return RGBA{std::uint8_t(r), std::uint8_t(g), std::uint8_t(b), 255};
    });
    auto filter = make<GPXLookupFilter>();
    EXPECT_EQ(filter->intensity(), 1.0);
    EXPECT_TRUE(matches(runFilter(filter, {input, identity}), input, 3));
    auto inverting = lookupPicture([](int r, int g, int b) {
        return RGBA{std::uint8_t(255 - r), std::uint8_t(255 - g), std::uint8_t(255 - b), 255};
    });
    auto expected = mapPixels({input}, [](const std::vector<Colour>& c, double, double) {
        return Colour{1 - c[0][0], 1 - c[0][1], 1 - c[0][2], c[0][3]};
    });
    EXPECT_TRUE(matches(runFilter(filter, {input, inverting}), expected, 3));
    filter->setIntensity(0.0);
    EXPECT_TRUE(matches(runFilter(filter, {input, inverting}), input, 1));
}

TEST(GPXLookupPresets, AMissingBundlePictureIsReported) {
    AssertionRecorder reports;
    auto velmaris = make<GPXVelmarisFilter>();
    EXPECT_TRUE(reports.saw(
        "To use GPXVelmarisFilter you need to add lookup_velmaris.png from GPX/framework/Resources "
        "to your application bundle."));
    EXPECT_EQ(velmaris->filterCount(), 1u);
    auto tolvenna = make<GPXTolvennaFilter>();
    EXPECT_TRUE(reports.saw(
        "To use GPXTolvennaFilter you need to add lookup_tolvenna.png from GPX/framework/Resources "
        "to your application bundle."));
    auto soft = make<GPXSoftEleganceFilter>();
    EXPECT_TRUE(
        reports.saw("To use GPXSoftEleganceFilter you need to add lookup_soft_elegance_1.png and "
                    "lookup_soft_elegance_2.png from GPX/framework/Resources to your application bundle."));
    EXPECT_EQ(soft->filterCount(), 4u);
}

TEST(GPXLookupPresets, BundlePicturesFeedTheLookupAndBrokenOnesAreReported) {
    testsupport::TemporaryDirectory resources;
    auto identity = lookupPicture([](int r, int g, int b) {
        return RGBA{std::uint8_t(r), std::uint8_t(g), std::uint8_t(b), 255};
    });
    auto png =
        UIImagePNGRepresentation(UIImage::imageWithCGImage(makePremultipliedImage(512, 512, identity.px)));
    ASSERT_TRUE(png.has_value());
    ASSERT_TRUE(png->writeToFile(resources.file("lookup_velmaris.png")));
    ASSERT_TRUE(
        NSData::fromString("not a picture at all").writeToFile(resources.file("lookup_tolvenna.png")));
    std::vector<std::uint8_t> truncated(png->bytes(), png->bytes() + png->length() / 3);
    ASSERT_TRUE(NSData(truncated).writeToFile(resources.file("lookup_soft_elegance_1.png")));
    ASSERT_TRUE(png->writeToFile(resources.file("lookup_soft_elegance_2.png")));
    graphics_testing::setResourcesDirectory(resources.path());
    UIImage::clearNamedImageCache();

    AssertionRecorder reports;
    auto velmaris = make<GPXVelmarisFilter>();
    EXPECT_TRUE(reports.messages().empty());
    auto input = noisePicture(16, 16, 21);
    EXPECT_TRUE(matches(runFilter(velmaris, {input}), input, 3));

    auto tolvenna = make<GPXTolvennaFilter>();
    EXPECT_TRUE(reports.saw(
        "To use GPXTolvennaFilter you need to add lookup_tolvenna.png from GPX/framework/Resources "
        "to your application bundle."));
    // A picture cut short either fails to decode (reported) or decodes partly; neither crashes.
    auto soft = make<GPXSoftEleganceFilter>();
    runFilter(soft, {input});

    graphics_testing::setResourcesDirectory("");
    UIImage::clearNamedImageCache();
}

}  // namespace
