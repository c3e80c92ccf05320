#include "gpu/core/GPX3x3TextureSamplingFilter.h"

#include <gtest/gtest.h>

#include "GPUFilterTestSupport.h"

using namespace gputest;

namespace {

constexpr const char* kStepsShader =
    "uniform highp float texelWidth;\n"
    "uniform highp float texelHeight;\n"
    "void main() { gl_FragColor = vec4(texelWidth * 16.0, texelHeight * 16.0, 0.0, 1.0); }\n";

// Each output pixel shows one of its neighbours: red from the top-left, green from the bottom
// right, blue from the right.
constexpr const char* kNeighbourShader =
    "varying highp vec2 topLeftTextureCoordinate;\n"
    "varying highp vec2 bottomRightTextureCoordinate;\n"
    "varying highp vec2 rightTextureCoordinate;\n"
    "uniform sampler2D inputImageTexture;\n"
    "void main()\n"
    "{\n"
    "    gl_FragColor = vec4(texture2D(inputImageTexture, topLeftTextureCoordinate).r,\n"
    "                        texture2D(inputImageTexture, bottomRightTextureCoordinate).g,\n"
    "                        texture2D(inputImageTexture, rightTextureCoordinate).b, 1.0);\n"
    "}\n";

std::size_t clampIndex(long v, std::size_t n) {
    return static_cast<std::size_t>(std::clamp<long>(v, 0, static_cast<long>(n) - 1));
}

TEST(GPX3x3TextureSamplingFilter, NeighboursAreOneTexelAwayWithTopTheSmallerT) {
    auto input = noisePicture(9, 7, 4);
    auto result = runFilter(make<GPX3x3TextureSamplingFilter>(kNeighbourShader), {input});
    Pixels expected = input;
    for (long y = 0; y < 7; ++y) {
        for (long x = 0; x < 9; ++x) {
            expected.at(x, y) = {input.at(clampIndex(x - 1, 9), clampIndex(y - 1, 7))[0],
                                 input.at(clampIndex(x + 1, 9), clampIndex(y + 1, 7))[1],
                                 input.at(clampIndex(x + 1, 9), y)[2], 255};
        }
    }
    EXPECT_TRUE(matches(result, expected, 1));
}

TEST(GPX3x3TextureSamplingFilter, StepsFollowTheInputSize) {
    auto filter = make<GPX3x3TextureSamplingFilter>(kStepsShader);
    filter->setInputSize(CGSizeMake(640, 480), 0);
    EXPECT_DOUBLE_EQ(filter->texelWidth(), 1.0 / 640);
    EXPECT_DOUBLE_EQ(filter->texelHeight(), 1.0 / 480);
    EXPECT_FALSE(filter->hasOverriddenImageSizeFactor());
}

TEST(GPX3x3TextureSamplingFilter, AQuarterTurnStoresTheRenderSizesStepsAndSwapsTheUniforms) {
    auto filter = make<GPX3x3TextureSamplingFilter>(kStepsShader);
    filter->setInputRotation(rotationRight, 0);
    auto result = runFilter(filter, {solidPicture(64, 32, {0, 0, 0, 255})}, CGSizeMake(32, 64));
    EXPECT_DOUBLE_EQ(filter->texelWidth(), 1.0 / 32);
    EXPECT_DOUBLE_EQ(filter->texelHeight(), 1.0 / 64);
    // The shader gets 1/64 and 1/32: times 16, a quarter and a half.
    EXPECT_TRUE(near(result.at(3, 3), {64, 128, 0, 255}));
}

TEST(GPX3x3TextureSamplingFilter, ASetStepStopsTheAutomaticOnesForBoth) {
    auto filter = make<GPX3x3TextureSamplingFilter>(kStepsShader);
    filter->setTexelWidth(0.01);
    EXPECT_TRUE(filter->hasOverriddenImageSizeFactor());
    auto result = runFilter(filter, {solidPicture(16, 16, {0, 0, 0, 255})});
    EXPECT_DOUBLE_EQ(filter->texelWidth(), 0.01);
    EXPECT_DOUBLE_EQ(filter->texelHeight(), 0.0);
    EXPECT_NEAR(result.at(1, 1)[0], 41, 1);  // 0.16
}

TEST(GPX3x3TextureSamplingFilter, FiltersSharingAProgramEachDrawWithTheirOwnSteps) {
    auto wide = make<GPX3x3TextureSamplingFilter>(kStepsShader);
    auto tall = make<GPX3x3TextureSamplingFilter>(kStepsShader);
    ASSERT_EQ(wide->filterProgram(), tall->filterProgram());
    // The tall filter's steps are set last, then the wide filter draws.
    wide->setInputSize(CGSizeMake(64, 32), 0);
    tall->setInputSize(CGSizeMake(32, 64), 0);
    auto result = runFilter(wide, {solidPicture(64, 32, {0, 0, 0, 255})});
    EXPECT_TRUE(near(result.at(5, 5), {64, 128, 0, 255}));
    result = runFilter(tall, {solidPicture(32, 64, {0, 0, 0, 255})});
    EXPECT_TRUE(near(result.at(5, 5), {128, 64, 0, 255}));
}

}  // namespace
