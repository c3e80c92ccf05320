#include "gpu/filters/GPXDistortionFilters.h"

#include <gtest/gtest.h>

#include <cmath>

#include "../core/GPUFilterTestSupport.h"

using namespace gputest;

namespace {

struct Vec2 {
    double x, y;
};

// The input read at texture coordinate q as the GPU does: linear between texel centres, clamped
// at the edges.
Colour sample(const Pixels& p, Vec2 q) {
    const double fx = q.x * p.width - 0.5, fy = q.y * p.height - 0.5;
    const double x0 = std::floor(fx), y0 = std::floor(fy);
    const double ax = fx - x0, ay = fy - y0;
    auto at = [&](double x, double y) {
        return toColour(p.at(static_cast<std::size_t>(std::clamp(x, 0.0, p.width - 1.0)),
                             static_cast<std::size_t>(std::clamp(y, 0.0, p.height - 1.0))));
    };
    Colour out{};
    const Colour c00 = at(x0, y0), c10 = at(x0 + 1, y0), c01 = at(x0, y0 + 1), c11 = at(x0 + 1, y0 + 1);
    for (int k = 0; k < 4; ++k)
        out[k] = (c00[k] * (1 - ax) + c10[k] * ax) * (1 - ay) + (c01[k] * (1 - ax) + c11[k] * ax) * ay;
    return out;
}

Pixels remap(const Pixels& input, const std::function<Vec2(Vec2)>& where) {
    return mapPixels({input}, [&](const std::vector<Colour>&, double x, double y) {
        return sample(input, where({x, y}));
    });
}

double distance(Vec2 a, Vec2 b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

double smoothstep(double e0, double e1, double x) {
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

const Vec2 kCentre{0.5, 0.5};

}  // namespace

TEST(GPXDistortionFilters, SwirlBulgePinchAndStretchMatchTheirFormulas) {
    const Pixels input = gradientPicture(32, 32);
    auto swirl = make<GPXSwirlFilter>();
    EXPECT_EQ(swirl->radius(), 0.5);
    EXPECT_EQ(swirl->angle(), 1.0);
    swirl->setAngle(0.3);
    EXPECT_TRUE(matches(runFilter(swirl, {input}),
                        remap(input,
                              [](Vec2 p) {
                                  const double d = distance(kCentre, p);
                                  if (d >= 0.5) return p;
                                  const double k = (0.5 - d) / 0.5, theta = k * k * 0.3 * 8.0;
                                  const Vec2 q{p.x - 0.5, p.y - 0.5};
                                  return Vec2{q.x * std::cos(theta) - q.y * std::sin(theta) + 0.5,
                                              q.x * std::sin(theta) + q.y * std::cos(theta) + 0.5};
                              }),
                        3));

    auto bulge = make<GPXBulgeDistortionFilter>();
    EXPECT_EQ(bulge->radius(), 0.25);
    EXPECT_EQ(bulge->scale(), 0.5);
    EXPECT_TRUE(matches(runFilter(bulge, {input}),
                        remap(input,
                              [](Vec2 p) {
                                  const double d = distance(kCentre, p);
                                  if (d >= 0.25) return p;
                                  const double k = 1 - ((0.25 - d) / 0.25) * 0.5;
                                  return Vec2{(p.x - 0.5) * k * k + 0.5, (p.y - 0.5) * k * k + 0.5};
                              }),
                        3));
    bulge->setScale(0.0);
    EXPECT_TRUE(matches(runFilter(bulge, {input}), input, 1));

    auto pinch = make<GPXPinchDistortionFilter>();
    EXPECT_EQ(pinch->radius(), 1.0);
    EXPECT_TRUE(matches(runFilter(pinch, {input}),
                        remap(input,
                              [](Vec2 p) {
                                  const double d = distance(kCentre, p);
                                  if (d >= 1.0) return p;
                                  const double k = 1 + ((0.5 - d) / 0.5) * 0.5;
                                  return Vec2{(p.x - 0.5) * k + 0.5, (p.y - 0.5) * k + 0.5};
                              }),
                        3));

    auto stretch = make<GPXStretchDistortionFilter>();
    EXPECT_TRUE(matches(runFilter(stretch, {input}),
                        remap(input,
                              [](Vec2 p) {
                                  double n[2] = {2 * p.x - 1, 2 * p.y - 1};
                                  for (double& v : n) {
                                      const double s = v > 0 ? 1 : v < 0 ? -1 : 0, a = std::abs(v);
                                      v = s * (0.5 * a + 0.5 * smoothstep(0.25, 0.5, a) * a);
                                  }
                                  return Vec2{n[0] / 2 + 0.5, n[1] / 2 + 0.5};
                              }),
                        3));
}

TEST(GPXDistortionFilters, AMovedCentreIsUsed) {
    const Pixels input = gradientPicture(32, 32);
    auto swirl = make<GPXSwirlFilter>();
    swirl->setCenter(CGPointMake(0.25, 0.75));
    swirl->setRadius(0.2);
    EXPECT_EQ(swirl->center().x, 0.25);
    auto result = runFilter(swirl, {input});
    // Far from the moved centre nothing changes; near the old one neither.
    EXPECT_TRUE(near(result.at(16, 16), input.at(16, 16), 1));
    EXPECT_TRUE(near(result.at(30, 2), input.at(30, 2), 1));
    EXPECT_FALSE(near(result.at(9, 23), input.at(9, 23), 4));
}

TEST(GPXDistortionFilters, TheSpheresAreClearOutsideTheirRadius) {
    const Pixels input = gradientPicture(32, 32);
    auto sphere = make<GPXSphereRefractionFilter>();
    EXPECT_EQ(sphere->refractiveIndex(), 0.71);
    auto result = runFilter(sphere, {input});
    EXPECT_TRUE(near(result.at(1, 1), {0, 0, 0, 0}, 0));
    EXPECT_TRUE(near(result.at(30, 16), {0, 0, 0, 0}, 0));
    auto expected = remap(input, [](Vec2 p) {
        const double d = distance(kCentre, p) / 0.25;
        const double depth = 0.25 * std::sqrt(std::max(1 - d * d, 0.0));
        double n[3] = {p.x - 0.5, p.y - 0.5, depth};
        const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (double& v : n) v /= len;
        // refract((0, 0, -1), n, eta)
        const double eta = 0.71, cosi = -n[2];
        const double k = 1 - eta * eta * (1 - cosi * cosi);
        const double r[2] = {-(eta * cosi + std::sqrt(k)) * n[0], -(eta * cosi + std::sqrt(k)) * n[1]};
        return Vec2{(r[0] + 1) * 0.5, (r[1] + 1) * 0.5};
    });
    for (std::size_t y = 10; y < 22; ++y)
        for (std::size_t x = 10; x < 22; ++x)
            if (distance(kCentre, {(x + 0.5) / 32, (y + 0.5) / 32}) < 0.22) {
                EXPECT_TRUE(near(result.at(x, y), expected.at(x, y), 3)) << x << "," << y;
            }

    auto glass = runFilter(make<GPXGlassSphereFilter>(), {input});
    EXPECT_TRUE(near(glass.at(1, 1), {0, 0, 0, 0}, 0));
    EXPECT_EQ(glass.at(16, 16)[3], 255);
}

TEST(GPXDistortionFilters, TheAspectRatioFollowsSizeAndRotation) {
    auto bulge = make<GPXBulgeDistortionFilter>();
    runFilter(bulge, {gradientPicture(64, 48)});
    EXPECT_DOUBLE_EQ(bulge->aspectRatio(), 0.75);
    bulge->forceProcessingAtSize(CGSizeMake(64, 48));
    EXPECT_DOUBLE_EQ(bulge->aspectRatio(), 0.75);
    bulge->setInputRotation(rotationLeft, 0);
    EXPECT_DOUBLE_EQ(bulge->aspectRatio(), 64.0 / 48.0);
    bulge->setInputRotation(rotationNone, 0);
    EXPECT_DOUBLE_EQ(bulge->aspectRatio(), 0.75);
    bulge->forceProcessingAtSize(CGSizeMake(30, 60));
    EXPECT_DOUBLE_EQ(bulge->aspectRatio(), 2.0);
    bulge->setAspectRatio(1.5);
    EXPECT_DOUBLE_EQ(bulge->aspectRatio(), 1.5);
}

TEST(GPXVignetteFilter, KeepsTheMiddleAndColoursTheEdge) {
    const Pixels input = noisePicture(32, 32, 6);
    auto vignette = make<GPXVignetteFilter>();
    EXPECT_EQ(vignette->vignetteStart(), 0.3);
    EXPECT_EQ(vignette->vignetteEnd(), 0.75);
    vignette->setVignetteColor({1.0f, 0.5f, 0.0f});
    vignette->setVignetteEnd(0.6);
    auto expected = mapPixels({input}, [](const std::vector<Colour>& c, double x, double y) {
        const double k = smoothstep(0.3, 0.6, std::hypot(x - 0.5, y - 0.5));
        return Colour{c[0][0] * (1 - k) + 1.0 * k, c[0][1] * (1 - k) + 0.5 * k, c[0][2] * (1 - k), c[0][3]};
    });
    EXPECT_TRUE(matches(runFilter(vignette, {input}), expected, 3));
    EXPECT_EQ(vignette->vignetteColor().two, 0.5f);
}
