#include "gpu/filters/GPXMorphologyFilters.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "../core/GPUFilterTestSupport.h"

using namespace gputest;

namespace {

const RGBA kBlack{0, 0, 0, 255}, kWhite{255, 255, 255, 255};

// The fold over the (2r + 1)^2 square, with clamping at the borders; grey members fold red.
Pixels fold(const Pixels& input, long r, bool dilate, bool rgb) {
    Pixels out = input;
    const long w = static_cast<long>(input.width), h = static_cast<long>(input.height);
    for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x) {
            RGBA result = input.at(x, y);
            for (long dy = -r; dy <= r; ++dy)
                for (long dx = -r; dx <= r; ++dx) {
                    const RGBA& c = input.at(std::clamp(x + dx, 0L, w - 1), std::clamp(y + dy, 0L, h - 1));
                    for (int k = 0; k < 4; ++k)
                        result[k] = dilate ? std::max(result[k], c[k]) : std::min(result[k], c[k]);
                }
            out.at(x, y) = rgb ? result : RGBA{result[0], result[0], result[0], 255};
        }
    return out;
}

Pixels dot(std::size_t size, RGBA background, RGBA spot) {
    Pixels p = solidPicture(size, size, background);
    p.at(size / 2, size / 2) = spot;
    return p;
}

}  // namespace

TEST(GPXMorphologyFilters, EveryMemberAndRadiusMatchesTheSquareFold) {
    auto input = noisePicture(13, 11, 21);
    for (unsigned radius : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(radius);
        EXPECT_TRUE(matches(runFilter(make<GPXDilationFilter>(radius), {input}),
                            fold(input, radius, true, false), 0));
        EXPECT_TRUE(matches(runFilter(make<GPXErosionFilter>(radius), {input}),
                            fold(input, radius, false, false), 0));
        EXPECT_TRUE(matches(runFilter(make<GPXRGBDilationFilter>(radius), {input}),
                            fold(input, radius, true, true), 0));
        EXPECT_TRUE(matches(runFilter(make<GPXRGBErosionFilter>(radius), {input}),
                            fold(input, radius, false, true), 0));
    }
}

TEST(GPXMorphologyFilters, ASinglePixelGrowsToTheSquareOfTheRadius) {
    struct Case {
        unsigned asked;
        long side;
    };
    for (const Case c : {Case{0, 3}, Case{1, 3}, Case{2, 5}, Case{4, 9}, Case{7, 9}}) {
        SCOPED_TRACE(c.asked);
        auto filter = make<GPXDilationFilter>(c.asked);
        EXPECT_EQ(filter->radius(), static_cast<unsigned>(c.side / 2));
        auto result = runFilter(filter, {dot(15, kBlack, kWhite)});
        long lit = 0;
        for (auto& p : result.px) lit += p[0] == 255;
        EXPECT_EQ(lit, c.side * c.side);
        EXPECT_EQ(result.at(7 + c.side / 2, 7)[0], 255);
        EXPECT_EQ(result.at(7 + c.side / 2 + 1, 7)[0], 0);
    }
    EXPECT_TRUE(matches(runFilter(make<GPXErosionFilter>(), {dot(9, kBlack, kWhite)}),
                        solidPicture(9, 9, kBlack), 0));
}

TEST(GPXMorphologyFilters, OpeningRemovesASpeckAndClosingFillsAHole) {
    auto opening = make<GPXOpeningFilter>();
    EXPECT_TRUE(matches(runFilter(opening, {dot(9, kBlack, kWhite)}), solidPicture(9, 9, kBlack), 0));
    auto closing = make<GPXClosingFilter>(2);
    EXPECT_TRUE(matches(runFilter(closing, {dot(9, kWhite, kBlack)}), solidPicture(9, 9, kWhite), 0));
    EXPECT_TRUE(matches(runFilter(make<GPXRGBOpeningFilter>(), {dot(9, kBlack, {255, 0, 0, 255})}),
                        solidPicture(9, 9, kBlack), 0));
    EXPECT_TRUE(matches(runFilter(make<GPXRGBClosingFilter>(), {dot(9, {0, 200, 0, 255}, kBlack)}),
                        solidPicture(9, 9, {0, 200, 0, 255}), 0));
    // A larger square survives an opening unchanged.
    Pixels square = solidPicture(12, 12, kBlack);
    for (int y = 3; y < 9; ++y)
        for (int x = 3; x < 9; ++x) square.at(x, y) = kWhite;
    EXPECT_TRUE(matches(runFilter(opening, {square}), square, 0));
}

TEST(GPXMorphologyFilters, RGBDilationMixesChannelsWithinReach) {
    Pixels input = solidPicture(6, 3, kBlack);
    input.at(2, 1) = {255, 0, 0, 255};
    input.at(3, 1) = {0, 0, 255, 255};
    auto result = runFilter(make<GPXRGBDilationFilter>(), {input});
    EXPECT_TRUE(near(result.at(2, 1), {255, 0, 255, 255}, 0));
    EXPECT_TRUE(near(result.at(3, 1), {255, 0, 255, 255}, 0));
    EXPECT_TRUE(near(result.at(1, 0), {255, 0, 0, 255}, 0));
    EXPECT_TRUE(near(result.at(4, 2), {0, 0, 255, 255}, 0));
}

TEST(GPXMorphologyFilters, SpacingGoesToBothStages) {
    auto opening = make<GPXOpeningFilter>();
    opening->setVerticalTexelSpacing(2.0);
    opening->setHorizontalTexelSpacing(3.0);
    EXPECT_EQ(opening->verticalTexelSpacing(), 2.0);
    EXPECT_EQ(opening->horizontalTexelSpacing(), 3.0);
    EXPECT_EQ(opening->erosionFilter()->verticalTexelSpacing(), 2.0);
    EXPECT_EQ(opening->dilationFilter()->horizontalTexelSpacing(), 3.0);
    auto closing = make<GPXClosingFilter>();
    closing->setHorizontalTexelSpacing(2.0);
    EXPECT_EQ(closing->erosionFilter()->horizontalTexelSpacing(), 2.0);
    EXPECT_EQ(closing->dilationFilter()->horizontalTexelSpacing(), 2.0);
}
