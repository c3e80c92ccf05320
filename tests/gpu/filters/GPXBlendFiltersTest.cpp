#include "gpu/filters/GPXBlendFilters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "../core/GPUFilterTestSupport.h"
#include "gpu/core/GPXFramebufferCache.h"

using namespace gputest;

namespace {

using Formula = std::function<Colour(const Colour& b, const Colour& o)>;

struct BlendCase {
    const char* name;
    std::function<Ref<GPXOutput>()> make;
    Formula reference;
    bool translucent = true;  // run on pictures with varied alpha as well as opaque ones
    int tolerance = 2;
};

template <typename F>
std::function<Ref<GPXOutput>()> blend(std::function<void(F&)> configure = [](F&) {}) {
    return [configure] {
        auto filter = make<F>();
        configure(*filter);
        return filter;
    };
}

Colour perChannel(const Colour& b, const Colour& o, double alpha,
                  const std::function<double(double, double)>& f) {
    return {f(b[0], o[0]), f(b[1], o[1]), f(b[2], o[2]), alpha};
}

double lum(const std::array<double, 3>& c) {
    return c[0] * 0.3 + c[1] * 0.59 + c[2] * 0.11;
}
std::array<double, 3> clipcolor(std::array<double, 3> c) {
    const double l = lum(c), n = std::min({c[0], c[1], c[2]}), x = std::max({c[0], c[1], c[2]});
    if (n < 0)
        for (auto& v : c) v = l + (v - l) * l / (l - n);
    if (x > 1)
        for (auto& v : c) v = l + (v - l) * (1 - l) / (x - l);
    return c;
}
std::array<double, 3> setlum(std::array<double, 3> c, double l) {
    const double d = l - lum(c);
    for (auto& v : c) v += d;
    return clipcolor(c);
}
double sat(const std::array<double, 3>& c) {
    return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]});
}
// The largest channel becomes s, the smallest 0 and the middle one keeps its place between them;
// channels that tie get one value whichever of them counts as the larger, and only a grey (all
// three equal, no hue to keep) becomes black.
std::array<double, 3> setsat(std::array<double, 3> c, double s) {
    const double mx = std::max({c[0], c[1], c[2]}), mn = std::min({c[0], c[1], c[2]});
    if (mx == mn) return {0, 0, 0};
    for (auto& v : c) v = (v - mn) * s / (mx - mn);
    return c;
}
std::array<double, 3> rgbOf(const Colour& c) {
    return {c[0], c[1], c[2]};
}
Formula nonSeparable(
    std::function<std::array<double, 3>(const std::array<double, 3>&, const std::array<double, 3>&)> x) {
    return [x](const Colour& b, const Colour& o) {
        auto blended = x(rgbOf(b), rgbOf(o));
        Colour out;
        for (int k = 0; k < 3; ++k) out[k] = b[k] * (1 - o[3]) + blended[k] * o[3];
        out[3] = b[3];
        return out;
    };
}

const BlendCase kCases[] = {
    {"DissolveDefault", blend<GPXDissolveBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         return Colour{(b[0] + o[0]) / 2, (b[1] + o[1]) / 2, (b[2] + o[2]) / 2, (b[3] + o[3]) / 2};
     }},
    {"DissolveZeroIsTheBase", blend<GPXDissolveBlendFilter>([](auto& f) { f.setMix(0.0); }),
     [](const Colour& b, const Colour&) { return b; }},
    {"DissolveOneIsTheOverlay", blend<GPXDissolveBlendFilter>([](auto& f) { f.setMix(1.0); }),
     [](const Colour&, const Colour& o) { return o; }},
    {"AlphaDefault", blend<GPXAlphaBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         return perChannel(b, o, b[3], [&](double bc, double oc) { return bc + (oc - bc) * o[3] * 0.5; });
     }},
    {"SourceOver", blend<GPXSourceOverBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         Colour out;
         for (int k = 0; k < 4; ++k) out[k] = b[k] + (o[k] - b[k]) * o[3];
         return out;
     }},
    {"Normal", blend<GPXNormalBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         const double a = o[3] + b[3] * (1 - o[3]);
         return perChannel(b, o, a, [&](double bc, double oc) {
             return (oc * o[3] + bc * b[3] * (1 - o[3])) / (a + (a <= 0 ? 1 : 0));
         });
     }},
    {"Multiply", blend<GPXMultiplyBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         Colour out;
         for (int k = 0; k < 4; ++k) out[k] = o[k] * b[k] + o[k] * (1 - b[3]) + b[k] * (1 - o[3]);
         return out;
     }},
    {"Screen", blend<GPXScreenBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         Colour out;
         for (int k = 0; k < 4; ++k) out[k] = 1 - (1 - o[k]) * (1 - b[k]);
         return out;
     }},
    {"Darken", blend<GPXDarkenBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         return perChannel(b, o, 1.0, [&](double bc, double oc) {
             return std::min(oc * b[3], bc * o[3]) + oc * (1 - b[3]) + bc * (1 - o[3]);
         });
     }},
    {"Lighten", blend<GPXLightenBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         return Colour{std::max(b[0], o[0]), std::max(b[1], o[1]), std::max(b[2], o[2]),
                       std::max(b[3], o[3])};
     }},
    {"Difference", blend<GPXDifferenceBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         return perChannel(b, o, b[3], [](double bc, double oc) { return std::abs(oc - bc); });
     }},
    {"Subtract", blend<GPXSubtractBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         return perChannel(b, o, b[3], [](double bc, double oc) { return bc - oc; });
     }},
    {"Exclusion", blend<GPXExclusionBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         return perChannel(b, o, b[3], [&](double bc, double oc) {
             return oc * b[3] + bc * o[3] - 2 * oc * bc + oc * (1 - b[3]) + bc * (1 - o[3]);
         });
     }},
    {"LinearBurn", blend<GPXLinearBurnBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         return perChannel(b, o, b[3],
                           [](double bc, double oc) { return std::clamp(bc + oc - 1, 0.0, 1.0); });
     }},
    {"Overlay", blend<GPXOverlayBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         return perChannel(b, o, 1.0, [&](double bc, double oc) {
             return 2 * bc < b[3]
                        ? 2 * oc * bc + oc * (1 - b[3]) + bc * (1 - o[3])
                        : o[3] * b[3] - 2 * (b[3] - bc) * (o[3] - oc) + oc * (1 - b[3]) + bc * (1 - o[3]);
         });
     }},
    {"HardLight", blend<GPXHardLightBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         return perChannel(b, o, 1.0, [&](double bc, double oc) {
             return 2 * oc < o[3]
                        ? 2 * oc * bc + oc * (1 - b[3]) + bc * (1 - o[3])
                        : o[3] * b[3] - 2 * (b[3] - bc) * (o[3] - oc) + oc * (1 - b[3]) + bc * (1 - o[3]);
         });
     }},
    {"SoftLight", blend<GPXSoftLightBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         const double d = b[3] + (b[3] <= 0 ? 1 : 0);
         Colour out;
         for (int k = 0; k < 4; ++k)
             out[k] = b[k] * (o[3] * (b[k] / d) + 2 * o[k] * (1 - b[k] / d)) + o[k] * (1 - b[3]) +
                      b[k] * (1 - o[3]);
         return out;
     }},
    {"Add", blend<GPXAddBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         return perChannel(b, o, o[3] + b[3] - o[3] * b[3], [&](double bc, double oc) {
             return oc * b[3] + bc * o[3] >= o[3] * b[3] ? o[3] * b[3] + oc * (1 - b[3]) + bc * (1 - o[3])
                                                         : oc + bc;
         });
     }},
    {"Divide", blend<GPXDivideBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         return perChannel(b, o, o[3] + b[3] - o[3] * b[3], [&](double bc, double oc) {
             return o[3] == 0 || bc / oc > b[3] / o[3]
                        ? o[3] * b[3] + oc * (1 - b[3]) + bc * (1 - o[3])
                        : bc * o[3] * o[3] / oc + oc * (1 - b[3]) + bc * (1 - o[3]);
         });
     },
     false},
    {"ColorBurn", blend<GPXColorBurnBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         Colour out;
         for (int k = 0; k < 4; ++k) out[k] = 1 - (1 - b[k]) / o[k];
         return out;
     },
     false},
    {"ColorDodge", blend<GPXColorDodgeBlendFilter>(),
     [](const Colour& b, const Colour& o) {
         const double p = o[3] * b[3];
         return perChannel(b, o, 1.0, [&](double bc, double oc) {
             const double rhs = oc * (1 - b[3]) + bc * (1 - o[3]);
             const double first = p + rhs;
             const double ocClamped = std::clamp(oc / std::clamp(o[3], 0.01, 1.0), 0.0, 0.99);
             const double second = bc * o[3] / (1 - ocClamped) + rhs;
             return oc * b[3] + bc * o[3] <= p ? second : first;
         });
     }},
    {"Color", blend<GPXColorBlendFilter>(), nonSeparable([](auto& b, auto& o) { return setlum(o, lum(b)); })},
    {"Hue", blend<GPXHueBlendFilter>(),
     nonSeparable([](auto& b, auto& o) { return setlum(setsat(o, sat(b)), lum(b)); })},
    {"Saturation", blend<GPXSaturationBlendFilter>(),
     nonSeparable([](auto& b, auto& o) { return setlum(setsat(b, sat(o)), lum(b)); })},
    {"Luminosity", blend<GPXLuminosityBlendFilter>(),
     nonSeparable([](auto& b, auto& o) { return setlum(b, lum(o)); })},
};

// Noise kept away from 0 and 1, so that quotients stay finite and ties stay rare.
Pixels blendPicture(unsigned seed, bool translucent) {
    std::mt19937 random(seed);
    Pixels p{12, 10, std::vector<RGBA>(120)};
    for (auto& c : p.px) {
        const int alpha = translucent ? 40 + static_cast<int>(random() % 216) : 255;
        for (int k = 0; k < 3; ++k) c[k] = static_cast<std::uint8_t>((8 + random() % 240) * alpha / 255);
        c[3] = static_cast<std::uint8_t>(alpha);
    }
    return p;
}

// Pixels where a GPU rounding may take the other branch of a comparison are allowed to differ.
::testing::AssertionResult mostlyMatches(const Pixels& actual, const Pixels& expected, int tolerance) {
    int differing = 0;
    for (std::size_t i = 0; i < actual.px.size(); ++i)
        differing += !near(actual.px[i], expected.px[i], tolerance);
    if (differing * 50 <= static_cast<int>(actual.px.size())) return ::testing::AssertionSuccess();
    return matches(actual, expected, tolerance);
}

class Blend : public ::testing::TestWithParam<BlendCase> {};

TEST_P(Blend, MatchesTheFormula) {
    const auto& c = GetParam();
    for (bool translucent : {false, true}) {
        if (translucent && !c.translucent) continue;
        auto base = blendPicture(1, translucent), overlay = blendPicture(2, translucent);
        auto result = runFilter(c.make(), {base, overlay});
        auto expected = mapPixels({base, overlay}, [&](const std::vector<Colour>& cs, double, double) {
            return c.reference(cs[0], cs[1]);
        });
        EXPECT_TRUE(mostlyMatches(result, expected, c.tolerance))
            << c.name << (translucent ? " translucent" : " opaque");
    }
}

INSTANTIATE_TEST_SUITE_P(Family, Blend, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GPXBlendFilters, MixSettersStoreTheirValues) {
    auto dissolve = make<GPXDissolveBlendFilter>();
    EXPECT_EQ(dissolve->mix(), 0.5);
    dissolve->setMix(0.25);
    EXPECT_EQ(dissolve->mix(), 0.25);
    EXPECT_EQ(make<GPXAlphaBlendFilter>()->mix(), 0.5);
}

TEST(GPXBlendFilters, NormalBlendOfTwoTransparentPixelsIsTransparentBlack) {
    auto clear = solidPicture(2, 2, {0, 0, 0, 0});
    auto result = runFilter(make<GPXNormalBlendFilter>(), {clear, clear});
    EXPECT_TRUE(near(result.at(1, 1), {0, 0, 0, 0}, 0));
}

TEST(GPXBlendFilters, AlphaBlendWithATransparentOverlayIsTheBase) {
    auto base = noisePicture(4, 4, 3);
    auto filter = make<GPXAlphaBlendFilter>();
    filter->setMix(1.0);
    auto result = runFilter(filter, {base, solidPicture(4, 4, {0, 0, 0, 0})});
    EXPECT_TRUE(matches(result, base, 1));
}

TEST(GPXBlendFilters, HueBlendOnAGreyBaseGivesAGreyOfItsLuminosity) {
    auto result = runFilter(make<GPXHueBlendFilter>(), {solidPicture(2, 2, {100, 100, 100, 255}),
                                                        solidPicture(2, 2, {200, 30, 90, 255})});
    EXPECT_TRUE(near(result.at(0, 0), {100, 100, 100, 255}));
}

// Every colour whose channels take one of three levels: each order of three different channels,
// each pair tied above or below the third, and greys.
std::vector<RGBA> channelOrders(std::array<std::uint8_t, 3> levels, std::uint8_t alpha) {
    std::vector<RGBA> colours;
    for (auto r : levels)
        for (auto g : levels)
            for (auto b : levels)
                colours.push_back({static_cast<std::uint8_t>(r * alpha / 255),
                                   static_cast<std::uint8_t>(g * alpha / 255),
                                   static_cast<std::uint8_t>(b * alpha / 255), alpha});
    return colours;
}

// The non-separable members of the table above.
const BlendCase& blendCase(const std::string& name) {
    for (const auto& c : kCases)
        if (name == c.name) return c;
    throw std::invalid_argument(name);
}

class NonSeparableTies : public ::testing::TestWithParam<const char*> {};

// Each base order (a column) against each overlay order (a row), so the channel sorting meets every
// tie on both inputs; a half-transparent overlay checks the mix with the base as well.
TEST_P(NonSeparableTies, EveryChannelOrderAndTieMatchesTheFormula) {
    const auto& c = blendCase(GetParam());
    for (std::uint8_t overlayAlpha : {std::uint8_t{255}, std::uint8_t{128}}) {
        const auto bases = channelOrders({30, 120, 230}, 255);
        const auto overlays = channelOrders({15, 140, 210}, overlayAlpha);
        Pixels base{bases.size(), overlays.size(), {}}, overlay{bases.size(), overlays.size(), {}};
        for (const auto& o : overlays)
            for (const auto& b : bases) {
                base.px.push_back(b);
                overlay.px.push_back(o);
            }
        auto result = runFilter(c.make(), {base, overlay});
        auto expected = mapPixels({base, overlay}, [&](const std::vector<Colour>& cs, double, double) {
            return c.reference(cs[0], cs[1]);
        });
        EXPECT_TRUE(matches(result, expected, 2)) << c.name << " overlay alpha " << int(overlayAlpha);
    }
}

INSTANTIATE_TEST_SUITE_P(Family, NonSeparableTies,
                         ::testing::Values("Color", "Hue", "Saturation", "Luminosity"),
                         [](const auto& info) { return std::string(info.param); });

TEST(GPXBlendFilters, SaturationBlendKeepsACyanBasesHue) {
    // Green and blue tie above red: the base keeps its hue at the overlay's saturation.
    auto result = runFilter(make<GPXSaturationBlendFilter>(), {solidPicture(2, 2, {0, 255, 255, 255}),
                                                               solidPicture(2, 2, {216, 111, 14, 255})});
    EXPECT_TRUE(near(result.at(1, 1), {37, 239, 239, 255}));
}

TEST(GPXMaskFilter, TheOverlaysGreyBecomesTheAlphaOverTheClearColour) {
    auto filter = make<GPXMaskFilter>();
    filter->setBackgroundColorRed(0.0f, 0.0f, 1.0f, 1.0f);
    auto result =
        runFilter(filter, {solidPicture(2, 2, {255, 0, 0, 255}), solidPicture(2, 2, {102, 102, 102, 255})});
    // Alpha 0.4: red at 0.4 over opaque blue; the alpha blends the same way (0.4 x 0.4 + 0.6).
    EXPECT_TRUE(near(result.at(0, 0), {102, 0, 153, 194}, 2));
}

TEST(GPXChromaKeyBlendFilter, KeyColouredBasePixelsShowTheOverlay) {
    auto filter = make<GPXChromaKeyBlendFilter>();
    EXPECT_EQ(filter->thresholdSensitivity(), 0.4);
    EXPECT_EQ(filter->smoothing(), 0.1);
    auto base = edgePicture(4, 2, {0, 255, 0, 255}, {255, 0, 255, 255});
    auto result = runFilter(filter, {base, solidPicture(4, 2, {10, 20, 30, 255})});
    EXPECT_TRUE(near(result.at(0, 1), {10, 20, 30, 255}));
    EXPECT_TRUE(near(result.at(3, 1), {255, 0, 255, 255}));
}

// The Poisson pass on the CPU: inside the overlay's alpha, the base's local mean plus the
// overlay's Laplacian.
Pixels poissonPass(const Pixels& base, const Pixels& overlay, double mix) {
    Pixels out = base;
    auto at = [](const Pixels& p, long x, long y) {
        return toColour(p.at(std::clamp<long>(x, 0, p.width - 1), std::clamp<long>(y, 0, p.height - 1)));
    };
    for (long y = 0; y < static_cast<long>(base.height); ++y) {
        for (long x = 0; x < static_cast<long>(base.width); ++x) {
            auto c1 = at(base, x, y), c2 = at(overlay, x, y);
            Colour result{0, 0, 0, c1[3]};
            for (int k = 0; k < 3; ++k) {
                const double mean1 = (at(base, x - 1, y)[k] + at(base, x + 1, y)[k] + at(base, x, y - 1)[k] +
                                      at(base, x, y + 1)[k]) /
                                     4;
                const double mean2 = (at(overlay, x - 1, y)[k] + at(overlay, x + 1, y)[k] +
                                      at(overlay, x, y - 1)[k] + at(overlay, x, y + 1)[k]) /
                                     4;
                const double grad = mean1 + c2[k] - mean2;
                result[k] = c1[k] + (grad - c1[k]) * c2[3] * mix;
            }
            out.at(x, y) = toBytes(result);
        }
    }
    return out;
}

TEST(GPXPoissonBlendFilter, OneIterationIsOnePassAndMoreIterateOnTheResult) {
    auto base = gradientPicture(10, 8), overlay = noisePicture(10, 8, 4);
    auto filter = make<GPXPoissonBlendFilter>();
    EXPECT_EQ(filter->numIterations(), 10u);
    EXPECT_EQ(filter->mix(), 0.5);
    filter->setNumIterations(1);
    auto one = runFilter(filter, {base, overlay});
    EXPECT_TRUE(matches(one, poissonPass(base, overlay, 0.5), 2));

    filter->setNumIterations(3);
    auto three = runFilter(filter, {base, overlay});
    auto expected = poissonPass(poissonPass(poissonPass(base, overlay, 0.5), overlay, 0.5), overlay, 0.5);
    EXPECT_TRUE(matches(three, expected, 3));
}

TEST(GPXPoissonBlendFilter, InputsAreGivenBackOncePerFrame) {
    auto filter = make<GPXPoissonBlendFilter>();
    filter->setNumIterations(4);
    auto cache = GPXContext::sharedFramebufferCache();
    auto first = cache->fetchFramebufferForSize(CGSizeMake(4, 4), false);
    auto second = cache->fetchFramebufferForSize(CGSizeMake(4, 4), false);
    filter->setInputSize(CGSizeMake(4, 4), 0);
    filter->setInputFramebuffer(first, 0);
    filter->setInputFramebuffer(second, 1);
    AssertionRecorder reports;
    filter->newFrameReadyAtTime(CMTimeMake(1, 30), 0);
    filter->newFrameReadyAtTime(CMTimeMake(1, 30), 1);
    EXPECT_TRUE(reports.messages().empty());
    // Only the fetch's own lock is left on each.
    EXPECT_EQ(first->framebufferReferenceCount(), 1u);
    EXPECT_EQ(second->framebufferReferenceCount(), 1u);
    first->unlock();
    second->unlock();
}

TEST(GPXPoissonBlendFilter, CaptureReadsTheLastPass) {
    auto filter = make<GPXPoissonBlendFilter>();
    filter->setNumIterations(2);
    auto overlay = pictureOf(noisePicture(6, 6, 8));
    overlay->addTargetAtTextureLocation(filter, 1);
    auto done = dispatch_semaphore_create(0);
    overlay->processImageWithCompletionHandler([done] { dispatch_semaphore_signal(done); });
    ASSERT_TRUE(waitFor(done));
    auto base = gradientPicture(6, 6);
    auto image =
        filter->imageByFilteringImage(UIImage::imageWithCGImage(makePremultipliedImage(6, 6, base.px)));
    ASSERT_NE(image, nullptr);
    auto expected = poissonPass(poissonPass(base, noisePicture(6, 6, 8), 0.5), noisePicture(6, 6, 8), 0.5);
    EXPECT_TRUE(near(rgbaAt(image->CGImage(), 3, 3), expected.at(3, 3), 3));
}

}  // namespace
