#include "gpu/filters/GPXColorAdjustmentFilters.h"

#include <gtest/gtest.h>

#include <cmath>

#include "../core/GPUFilterTestSupport.h"
#include "gpu/core/GPXFramebufferCache.h"

using namespace gputest;

namespace {

double luminance(const Colour& c) {
    return c[0] * 0.2125 + c[1] * 0.7154 + c[2] * 0.0721;
}

Colour rgb(const Colour& c, const std::function<double(double)>& f) {
    return {f(c[0]), f(c[1]), f(c[2]), c[3]};
}

struct ColourCase {
    const char* name;
    std::function<Ref<GPXFilter>()> make;
    std::function<Colour(const Colour&, double y)> reference;
    int tolerance = 2;
};

// A picture with every kind of pixel: a gradient on top, noise below.
Pixels testPicture() {
    auto gradient = gradientPicture(16, 4);
    auto noise = noisePicture(16, 4, 9);
    Pixels p{16, 8, gradient.px};
    p.px.insert(p.px.end(), noise.px.begin(), noise.px.end());
    return p;
}

template <typename F>
std::function<Ref<GPXFilter>()> with(std::function<void(F&)> configure) {
    return [configure] {
        auto filter = make<F>();
        configure(*filter);
        return filter;
    };
}

class ColourAdjustment : public ::testing::TestWithParam<ColourCase> {};

TEST_P(ColourAdjustment, MatchesTheFormula) {
    const auto& c = GetParam();
    auto input = testPicture();
    auto result = runFilter(c.make(), {input});
    auto expected = mapPixels(
        {input}, [&](const std::vector<Colour>& cs, double, double y) { return c.reference(cs[0], y); });
    EXPECT_TRUE(matches(result, expected, c.tolerance)) << c.name;
}

const ColourCase kCases[] = {
    {"BrightnessDefaultIsIdentity", with<GPXBrightnessFilter>([](auto&) {}),
     [](const Colour& c, double) { return c; }},
    {"BrightnessUp", with<GPXBrightnessFilter>([](auto& f) { f.setBrightness(0.25); }),
     [](const Colour& c, double) { return rgb(c, [](double v) { return v + 0.25; }); }},
    {"BrightnessFullyDown", with<GPXBrightnessFilter>([](auto& f) { f.setBrightness(-1.0); }),
     [](const Colour& c, double) { return rgb(c, [](double v) { return v - 1.0; }); }},
    {"ContrastDefaultIsIdentity", with<GPXContrastFilter>([](auto&) {}),
     [](const Colour& c, double) { return c; }},
    {"ContrastDoubled", with<GPXContrastFilter>([](auto& f) { f.setContrast(2.0); }),
     [](const Colour& c, double) { return rgb(c, [](double v) { return (v - 0.5) * 2.0 + 0.5; }); }},
    {"ContrastZeroIsMidGrey", with<GPXContrastFilter>([](auto& f) { f.setContrast(0.0); }),
     [](const Colour& c, double) { return rgb(c, [](double) { return 0.5; }); }},
    {"SaturationDefaultIsIdentity", with<GPXSaturationFilter>([](auto&) {}),
     [](const Colour& c, double) { return c; }},
    {"SaturationZeroIsGrey", with<GPXSaturationFilter>([](auto& f) { f.setSaturation(0.0); }),
     [](const Colour& c, double) { return rgb(c, [&](double) { return luminance(c); }); }},
    {"SaturationOverdriven", with<GPXSaturationFilter>([](auto& f) { f.setSaturation(2.0); }),
     [](const Colour& c, double) {
         return rgb(c, [&](double v) { return luminance(c) + (v - luminance(c)) * 2.0; });
     }},
    {"GammaDefaultIsIdentity", with<GPXGammaFilter>([](auto&) {}), [](const Colour& c, double) { return c; }},
    {"GammaThree", with<GPXGammaFilter>([](auto& f) { f.setGamma(3.0); }),
     [](const Colour& c, double) { return rgb(c, [](double v) { return std::pow(v, 3.0); }); }},
    {"ExposureDefaultIsIdentity", with<GPXExposureFilter>([](auto&) {}),
     [](const Colour& c, double) { return c; }},
    {"ExposureMinusOne", with<GPXExposureFilter>([](auto& f) { f.setExposure(-1.0); }),
     [](const Colour& c, double) { return rgb(c, [](double v) { return v * 0.5; }); }},
    {"RGBFactors", with<GPXRGBFilter>([](auto& f) {
         f.setRed(0.5);
         f.setGreen(0.0);
         f.setBlue(1.5);
     }),
     [](const Colour& c, double) {
         return Colour{c[0] * 0.5, 0.0, c[2] * 1.5, c[3]};
     }},
    {"OpacityHalf", with<GPXOpacityFilter>([](auto& f) { f.setOpacity(0.5); }),
     [](const Colour& c, double) {
         return Colour{c[0], c[1], c[2], c[3] * 0.5};
     }},
    {"Invert", [] { return make<GPXColorInvertFilter>(); },
     [](const Colour& c, double) { return rgb(c, [](double v) { return 1.0 - v; }); }},
    {"Grayscale", [] { return make<GPXGrayscaleFilter>(); },
     [](const Colour& c, double) { return rgb(c, [&](double) { return luminance(c); }); }},
    {"LuminanceThresholdDefault", with<GPXLuminanceThresholdFilter>([](auto&) {}),
     [](const Colour& c, double) { return rgb(c, [&](double) { return luminance(c) >= 0.5 ? 1.0 : 0.0; }); },
     255},
    {"LuminanceRangeDefault", with<GPXLuminanceRangeFilter>([](auto&) {}),
     [](const Colour& c, double) {
         return rgb(c, [&](double v) { return v + (0.5 - luminance(c)) * 0.6; });
     }},
    {"PosterizeFourLevels", with<GPXPosterizeFilter>([](auto& f) { f.setColorLevels(4); }),
     [](const Colour& c, double) {
         Colour out;
         for (int k = 0; k < 4; ++k) out[k] = std::floor(c[k] * 4.0 + 0.5) / 4.0;
         return out;
     },
     64},
    {"HazeDefault", with<GPXHazeFilter>([](auto&) {}),
     [](const Colour& c, double) {
         Colour out;
         for (int k = 0; k < 4; ++k) out[k] = (c[k] - 0.2) / 0.8;
         return out;
     }},
    {"HazeWithSlope", with<GPXHazeFilter>([](auto& f) {
         f.setDistance(0.1);
         f.setSlope(0.4);
     }),
     [](const Colour& c, double y) {
         const double d = y * 0.4 + 0.1;
         Colour out;
         for (int k = 0; k < 4; ++k) out[k] = (c[k] - d) / (1.0 - d);
         return out;
     }},
    {"HighlightShadowDefaultIsIdentity", with<GPXHighlightShadowFilter>([](auto&) {}),
     [](const Colour& c, double) { return c; }},
    {"ShadowsRaised", with<GPXHighlightShadowFilter>([](auto& f) { f.setShadows(1.0); }),
     [](const Colour& c, double) {
         const double l = (c[0] + c[1] + c[2]) * 0.3;
         const double shadow = std::clamp(std::pow(l, 0.5) - 0.76 * std::pow(l, 1.0) - l, 0.0, 1.0);
         return rgb(c, [&](double v) { return l == 0 ? 0.0 : (l + shadow) * v / l; });
     },
     3},
    {"FalseColorDefault", with<GPXFalseColorFilter>([](auto&) {}),
     [](const Colour& c, double) {
         const double l = luminance(c);
         return Colour{l, 0.0, 0.5 * (1 - l), c[3]};
     }},
    {"ColorMatrixDefaultIsIdentity", with<GPXColorMatrixFilter>([](auto&) {}),
     [](const Colour& c, double) { return c; }},
    {"ColorMatrixSwapsAtHalfIntensity", with<GPXColorMatrixFilter>([](auto& f) {
         f.setColorMatrix({{0, 0, 1, 0}, {0, 1, 0, 0}, {1, 0, 0, 0}, {0, 0, 0, 1}});
         f.setIntensity(0.5);
     }),
     [](const Colour& c, double) {
         return Colour{(c[0] + c[2]) / 2, c[1], (c[0] + c[2]) / 2, c[3]};
     }},
    {"Sepia", [] { return make<GPXSepiaFilter>(); },
     [](const Colour& c, double) {
         return Colour{0.3588 * c[0] + 0.7044 * c[1] + 0.1368 * c[2],
                       0.2990 * c[0] + 0.5870 * c[1] + 0.1140 * c[2],
                       0.2392 * c[0] + 0.4696 * c[1] + 0.0912 * c[2], c[3]};
     }},
    {"WhiteBalanceNeutralIsIdentity", with<GPXWhiteBalanceFilter>([](auto&) {}),
     [](const Colour& c, double) { return c; }, 3},
};

INSTANTIATE_TEST_SUITE_P(Family, ColourAdjustment, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- members with special rules ----------------------------------------------------------------

TEST(GPXHueFilter, KeepsDegreesModulo360AndAnswersRadians) {
    auto filter = make<GPXHueFilter>();
    EXPECT_NEAR(filter->hue(), M_PI / 2, 1e-6);
    filter->setHue(450);
    EXPECT_NEAR(filter->hue(), M_PI / 2, 1e-6);
    filter->setHue(-90);
    EXPECT_NEAR(filter->hue(), -M_PI / 2, 1e-6);
}

TEST(GPXHueFilter, TurnsHuesAndKeepsGreys) {
    auto filter = make<GPXHueFilter>();
    filter->setHue(120);
    auto input = testPicture();
    input.at(0, 0) = {128, 128, 128, 255};
    auto result = runFilter(filter, {input});
    const double a = 120 * M_PI / 180;
    auto expected = mapPixels({input}, [&](const std::vector<Colour>& cs, double, double) {
        const auto& c = cs[0];
        const double y = 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2];
        double i = 0.595716 * c[0] - 0.274453 * c[1] - 0.321263 * c[2];
        double q = 0.211456 * c[0] - 0.522591 * c[1] + 0.31135 * c[2];
        const double hue = std::atan2(q, i) - a, chroma = std::hypot(i, q);
        i = chroma * std::cos(hue);
        q = chroma * std::sin(hue);
        return Colour{y + 0.9563 * i + 0.6210 * q, y - 0.2721 * i - 0.6474 * q, y - 1.1070 * i + 1.7046 * q,
                      c[3]};
    });
    EXPECT_TRUE(matches(result, expected, 2));
    EXPECT_TRUE(near(result.at(0, 0), {128, 128, 128, 255}));
}

TEST(GPXWhiteBalanceFilter, SendsTheTemperatureScaledAroundNeutral) {
    auto filter = make<GPXWhiteBalanceFilter>();
    EXPECT_EQ(filter->temperature(), 5000.0);
    // 4000 K sends -0.4: the warm overlay is mixed in negatively, which cools.
    filter->setTemperature(4000);
    auto input = solidPicture(4, 4, {128, 128, 128, 255});
    auto result = runFilter(filter, {input});
    const double c = 128 / 255.0;
    const double warm[3] = {0.93, 0.54, 0.0};
    RGBA expected{};
    for (int k = 0; k < 3; ++k) {
        const double processed = c < 0.5 ? 2 * c * warm[k] : 1 - 2 * (1 - c) * (1 - warm[k]);
        expected[k] =
            static_cast<std::uint8_t>(std::lround(std::clamp(c + (processed - c) * -0.4, 0.0, 1.0) * 255));
    }
    expected[3] = 255;
    EXPECT_TRUE(near(result.at(1, 1), expected, 2));
    filter->setTint(50);
    EXPECT_EQ(filter->tint(), 50.0);
}

TEST(GPXChromaKeyFilter, TheKeyColourBecomesTransparentAndFarColoursStay) {
    auto filter = make<GPXChromaKeyFilter>();
    auto input = edgePicture(4, 2, {0, 255, 0, 255}, {255, 0, 255, 255});
    auto result = runFilter(filter, {input});
    EXPECT_EQ(result.at(0, 0)[3], 0);
    EXPECT_EQ(result.at(3, 0)[3], 255);
    filter->setColorToReplaceRed(1.0f, 0.0f, 1.0f);
    result = runFilter(filter, {input});
    EXPECT_EQ(result.at(0, 0)[3], 255);
    EXPECT_EQ(result.at(3, 0)[3], 0);
}

TEST(GPXCGAColorspaceFilter, PicksTheNearestOfFourColours) {
    auto input =
        Pixels{4, 1, {{10, 10, 10, 255}, {250, 250, 250, 255}, {90, 240, 250, 255}, {240, 90, 250, 255}}};
    auto result = runFilter(make<GPXCGAColorspaceFilter>(), {input});
    EXPECT_TRUE(near(result.at(0, 0), {0, 0, 0, 255}));
    EXPECT_TRUE(near(result.at(1, 0), {255, 255, 255, 255}));
    EXPECT_TRUE(near(result.at(2, 0), {85, 255, 255, 255}));
    EXPECT_TRUE(near(result.at(3, 0), {255, 85, 255, 255}));
}

TEST(GPXPosterizeFilter, OneLevelSplitsEveryChannelAtOneHalfAlphaIncluded) {
    auto filter = make<GPXPosterizeFilter>();
    EXPECT_EQ(filter->colorLevels(), 10u);
    filter->setColorLevels(1);
    auto input = Pixels{2, 1, {{100, 140, 127, 255}, {128, 0, 255, 255}}};
    auto result = runFilter(filter, {input});
    EXPECT_TRUE(near(result.at(0, 0), {0, 255, 0, 255}, 0));
    EXPECT_TRUE(near(result.at(1, 0), {255, 0, 255, 255}, 0));
}

TEST(GPXGrayscaleFilter, SkipsItsPassWhileTheInputIsGreyAlready) {
    auto filter = make<GPXGrayscaleFilter>();
    EXPECT_FALSE(filter->wantsMonochromeInput());
    EXPECT_FALSE(filter->providesMonochromeOutput());
    auto target = make<RecordingInput>();
    filter->addTarget(target);
    auto input = GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(CGSizeMake(2, 2), false);
    filter->setInputSize(CGSizeMake(2, 2), 0);
    filter->setInputFramebuffer(input, 0);
    filter->setCurrentlyReceivingMonochromeInput(true);
    filter->newFrameReadyAtTime(kCMTimeIndefinite, 0);
    // The input was given back all the same: only the fetch's lock remains.
    EXPECT_EQ(input->framebufferReferenceCount(), 1u);
    input->unlock();
    for (auto& e : target->events()) {
        if (e.call == "framebuffer") {
            EXPECT_EQ(e.framebuffer, nullptr);
        }
    }
}

TEST(GPXAdaptiveThresholdFilter, WhiteWhereNoDarkerThanTheNeighbourhood) {
    auto filter = make<GPXAdaptiveThresholdFilter>();
    EXPECT_EQ(filter->blurRadiusInPixels(), 4.0);
    // A dark square on a bright field: inside the square, near its edge, the neighbourhood is
    // brighter, so those pixels turn black; the bright field stays white.
    Pixels input = solidPicture(24, 24, {220, 220, 220, 255});
    for (std::size_t y = 8; y < 16; ++y)
        for (std::size_t x = 8; x < 16; ++x) input.at(x, y) = {40, 40, 40, 255};
    auto result = runFilter(filter, {input});
    EXPECT_TRUE(near(result.at(2, 2), {255, 255, 255, 255}));
    EXPECT_TRUE(near(result.at(8, 12), {0, 0, 0, 255}));
    EXPECT_TRUE(near(result.at(7, 12), {255, 255, 255, 255}));
}

TEST(GPXSolidColorGenerator, FillsItsOutputAndReachesLateTargets) {
    auto generator = make<GPXSolidColorGenerator>();
    auto colour = generator->color();
    EXPECT_FLOAT_EQ(colour.three, 0.5f);
    EXPECT_FALSE(generator->useExistingAlpha());
    generator->setColorRed(1.0f, 0.5f, 0.0f, 1.0f);
    auto result = runFilter(generator, {noisePicture(6, 4, 2)});
    EXPECT_TRUE(near(result.at(3, 2), {255, 128, 0, 255}));
    generator->setUseExistingAlpha(true);
    EXPECT_TRUE(generator->useExistingAlpha());
    // Forced to a size, it produces a frame at once.
    auto target = make<RecordingInput>();
    generator->addTarget(target);
    generator->forceProcessingAtSize(CGSizeMake(5, 5));
    drainSharedQueue();
    EXPECT_GE(target->count("newFrame"), 1);
}

}  // namespace

namespace {

TEST(GPXColourAdjustmentFamily, FiltersSharingAProgramDrawWithTheirOwnValues) {
    auto darker = make<GPXBrightnessFilter>();
    auto lighter = make<GPXBrightnessFilter>();
    ASSERT_EQ(darker->filterProgram(), lighter->filterProgram());
    darker->setBrightness(-0.25);
    lighter->setBrightness(0.25);
    auto input = solidPicture(4, 4, {128, 128, 128, 255});
    // Set last, the lighter value must not leak into the darker filter's draw, nor back.
    EXPECT_TRUE(near(runFilter(darker, {input}).at(1, 1), {64, 64, 64, 255}));
    EXPECT_TRUE(near(runFilter(lighter, {input}).at(1, 1), {192, 192, 192, 255}));
    EXPECT_TRUE(near(runFilter(darker, {input}).at(1, 1), {64, 64, 64, 255}));
}

}  // namespace
