#include "gpu/filters/GPXVoronoiFilters.h"

#include <gtest/gtest.h>

#include <cmath>

#include "../core/GPUFilterTestSupport.h"
#include "foundation/NSLog.h"

using namespace gputest;

namespace {

// The position a texel names, as the shaders decode it, in texture coordinates.
std::array<double, 2> decode(const RGBA& c, double size) {
    const double z = c[2] / 255.0 * 256.0;
    const double x = c[0] / 255.0 * 256.0 + std::fmod(z, 8.0) * 256.0;
    const double y = c[1] / 255.0 * 256.0 + std::floor(z / 8.0) * 256.0;
    return {x / size, y / size};
}

struct LogCapture {
    std::vector<std::string> lines;
    NSLogSink previous;
    LogCapture() {
        previous = NSLogSetSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~LogCapture() { NSLogSetSink(previous); }
};

}  // namespace

TEST(GPXJFAVoronoiFilter, EveryTexelNamesItsNearestSeed) {
    constexpr std::size_t kSide = 64;
    Pixels seeds = solidPicture(kSide, kSide, {0, 0, 0, 0});
    const std::vector<std::array<std::size_t, 2>> positions = {
        {5, 7}, {50, 12}, {30, 40}, {10, 58}, {60, 60}};
    for (auto& p : positions)
        seeds.at(p[0], p[1]) = {static_cast<std::uint8_t>(p[0]), static_cast<std::uint8_t>(p[1]), 0, 255};
    auto filter = make<GPXJFAVoronoiFilter>();
    filter->setSizeInPixels(CGSizeMake(kSide, kSide));
    EXPECT_EQ(filter->numPasses(), 6u);
    auto result = runFilter(filter, {seeds});
    int wrong = 0;
    for (std::size_t y = 0; y < kSide; ++y)
        for (std::size_t x = 0; x < kSide; ++x) {
            const double tx = (x + 0.5) / kSide, ty = (y + 0.5) / kSide;
            double best = 1e9;
            std::array<double, 2> nearest{};
            for (auto& p : positions) {
                const auto at = decode(seeds.at(p[0], p[1]), kSide);
                const double d = std::hypot(tx - at[0], ty - at[1]);
                if (d < best) best = d, nearest = at;
            }
            ASSERT_EQ(result.at(x, y)[3], 255) << x << "," << y;
            const auto named = decode(result.at(x, y), kSide);
            const double d = std::hypot(tx - named[0], ty - named[1]);
            // A tie may go either way.
            if (std::abs(named[0] - nearest[0]) > 1e-6 || std::abs(named[1] - nearest[1]) > 1e-6)
                wrong += d > best + 1e-4;
        }
    EXPECT_LE(wrong, static_cast<int>(kSide * kSide / 100)) << wrong << " texels name a farther seed";
    // A second frame of another power-of-two size floods as far.
    filter->setSizeInPixels(CGSizeMake(128, 128));
    EXPECT_EQ(filter->numPasses(), 7u);
}

TEST(GPXJFAVoronoiFilter, SizesMustBeSquarePowersOfTwo) {
    auto filter = make<GPXJFAVoronoiFilter>();
    LogCapture log;
    filter->setSizeInPixels(CGSizeMake(512, 512));
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(filter->numPasses(), 9u);
    filter->setSizeInPixels(CGSizeMake(512, 256));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "Voronoi point texture must be square");
    filter->setSizeInPixels(CGSizeMake(300, 300));
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_NE(log.lines[1].find("Voronoi point texture must be a power of 2.  Texture size: 300"),
              std::string::npos);
    EXPECT_EQ(filter->numPasses(), 9u);
    EXPECT_EQ(GPXJFAVoronoiFilter::nextPowerOfTwo(CGPointMake(300, 200)), 512u);
    EXPECT_EQ(GPXJFAVoronoiFilter::nextPowerOfTwo(CGPointMake(256, 100)), 256u);
    auto consumer = make<GPXVoronoiConsumerFilter>();
    consumer->setSizeInPixels(CGSizeMake(100, 100));
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_NE(log.lines[2].find("Texture size 100"), std::string::npos);
}

TEST(GPXJFAVoronoiFilter, TheEncodingNamesPositionsBeyondOneByte) {
    // red 0.5, green 0.25, blue 9/256 in a 1024 texture: (128 + 256, 64 + 256) / 1024.
    const double z = 9.0, x = 0.5 * 256 + std::fmod(z, 8) * 256, y = 0.25 * 256 + std::floor(z / 8) * 256;
    EXPECT_DOUBLE_EQ(x / 1024, 0.375);
    EXPECT_DOUBLE_EQ(y / 1024, 0.3125);
}

TEST(GPXVoronoiConsumerFilter, ColoursEachTexelFromThePositionItsMapNames) {
    constexpr std::size_t kSide = 16;
    const Pixels picture = noisePicture(kSide, kSide, 8);
    // Left half names pixel (3, 4), right half pixel (12, 9) (positions at texel corners: the
    // shaders add no half texel, so name the centre by the byte closest to it).
    Pixels map = solidPicture(kSide, kSide, {0, 0, 0, 255});
    for (std::size_t y = 0; y < kSide; ++y)
        for (std::size_t x = 0; x < kSide; ++x)
            map.at(x, y) = x < kSide / 2 ? RGBA{3, 4, 0, 255} : RGBA{12, 9, 0, 255};
    auto consumer = make<GPXVoronoiConsumerFilter>();
    consumer->setSizeInPixels(CGSizeMake(kSide, kSide));
    auto result = runFilter(consumer, {picture, map});
    // Position 3 x 256/255 / 16 lies just past the left edge of pixel 3: linear sampling blends
    // pixel 3 with a sliver of its left neighbour.
    auto expected = [&](std::size_t px, std::size_t py) {
        const auto at = decode(map.at(px < kSide / 2 ? 0 : kSide - 1, 0), kSide);
        const double fx = at[0] * kSide - 0.5, fy = at[1] * kSide - 0.5;
        const auto x0 = static_cast<std::size_t>(std::floor(fx)),
                   y0 = static_cast<std::size_t>(std::floor(fy));
        const double ax = fx - x0, ay = fy - y0;
        Colour out{};
        for (int k = 0; k < 4; ++k) {
            auto c = [&](std::size_t x, std::size_t y) { return toColour(picture.at(x, y))[k]; };
            out[k] = (c(x0, y0) * (1 - ax) + c(x0 + 1, y0) * ax) * (1 - ay) +
                     (c(x0, y0 + 1) * (1 - ax) + c(x0 + 1, y0 + 1) * ax) * ay;
        }
        (void)py;
        return toBytes(out);
    };
    EXPECT_TRUE(near(result.at(2, 2), expected(2, 2), 2));
    EXPECT_TRUE(near(result.at(12, 13), expected(12, 13), 2));
}

TEST(GPXMosaicFilter, TileSizesAreClampedAndDefaultsApplied) {
    auto mosaic = make<GPXMosaicFilter>();
    EXPECT_EQ(mosaic->numTiles(), 64.0);
    EXPECT_TRUE(mosaic->colorOn());
    EXPECT_EQ(mosaic->inputTileSize().width, 0.125);
    EXPECT_EQ(mosaic->displayTileSize().width, 0.025);
    mosaic->setInputTileSize(CGSizeMake(1.5, -0.2));
    EXPECT_EQ(mosaic->inputTileSize().width, 1.0);
    EXPECT_EQ(mosaic->inputTileSize().height, 0.0);
    LogCapture log;
    mosaic->setTileSet("no such tiles");
    EXPECT_EQ(mosaic->tileSet(), "no such tiles");
    EXPECT_FALSE(log.lines.empty());
}

TEST(GPXMosaicFilter, EachDisplayTileShowsTheTileItsDarknessPicks) {
    // A tile set of 2 x 2 tiles, each one flat colour; four tiles, so lum steps of 0.25.
    const RGBA tileColours[4] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 0, 255}};
    Pixels tiles = solidPicture(16, 16, {0, 0, 0, 255});
    for (std::size_t y = 0; y < 16; ++y)
        for (std::size_t x = 0; x < 16; ++x) tiles.at(x, y) = tileColours[(y / 8) * 2 + x / 8];
    // White (lum 0: tile 0) on the left, darker grey (lum 0.61: tile 2) on the right.
    const Pixels picture = edgePicture(16, 16, {255, 255, 255, 255}, {100, 100, 100, 255});
    auto mosaic = make<GPXMosaicFilter>();
    mosaic->setInputTileSize(CGSizeMake(0.5, 0.5));
    mosaic->setDisplayTileSize(CGSizeMake(0.25, 0.25));
    mosaic->setNumTiles(4.0);
    mosaic->setColorOn(false);
    auto result = runFilter(mosaic, {tiles, picture});
    EXPECT_TRUE(near(result.at(1, 1), tileColours[0], 1));
    EXPECT_TRUE(near(result.at(13, 6), tileColours[2], 1));
    mosaic->setColorOn(true);
    result = runFilter(mosaic, {tiles, picture});
    EXPECT_TRUE(near(result.at(13, 6), {0, 0, 100, 255}, 2));
}
