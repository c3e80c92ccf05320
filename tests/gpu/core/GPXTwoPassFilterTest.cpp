#include "gpu/core/GPXTwoPassFilter.h"

#include <gtest/gtest.h>

#include "GPUFilterTestSupport.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXTwoPassTextureSamplingFilter.h"

using namespace gputest;

namespace {

// The first pass turns the channels round and scales by "firstScale"; the second scales red by
// "secondScale".
constexpr const char* kFirstStage =
    "varying highp vec2 textureCoordinate;\n"
    "uniform sampler2D inputImageTexture;\n"
    "uniform lowp float firstScale;\n"
    "void main()\n"
    "{\n"
    "    lowp vec4 c = texture2D(inputImageTexture, textureCoordinate);\n"
    "    gl_FragColor = vec4(c.g, c.b, c.r, 1.0) * vec4(firstScale, firstScale, firstScale, 1.0);\n"
    "}\n";
constexpr const char* kSecondStage = "varying highp vec2 textureCoordinate;\n"
                                     "uniform sampler2D inputImageTexture;\n"
                                     "uniform lowp float secondScale;\n"
                                     "void main()\n"
                                     "{\n"
                                     "    lowp vec4 c = texture2D(inputImageTexture, textureCoordinate);\n"
                                     "    gl_FragColor = vec4(c.r * secondScale, c.g, c.b, c.a);\n"
                                     "}\n";

// Both passes read the texel one offset further on: vertically first, then horizontally.
constexpr const char* kShiftVertex =
    "attribute vec4 position;\n"
    "attribute vec4 inputTextureCoordinate;\n"
    "uniform float texelWidthOffset;\n"
    "uniform float texelHeightOffset;\n"
    "varying vec2 textureCoordinate;\n"
    "void main()\n"
    "{\n"
    "    gl_Position = position;\n"
    "    textureCoordinate = inputTextureCoordinate.xy + vec2(texelWidthOffset, texelHeightOffset);\n"
    "}\n";

class TwoPassTest : public ::testing::Test {
  protected:
    void SetUp() override { filter->setFloat(1.0f, "firstScale"); }
    void setSecondScale(float value) {
        GLint location = -1;
        performSyncOnSharedContextQueue([&] {
            location = static_cast<GLint>(filter->secondFilterProgram()->uniformIndex("secondScale"));
        });
        filter->setFloat(value, location, filter->secondFilterProgram());
    }
    Ref<GPXTwoPassFilter> filter = make<GPXTwoPassFilter>(kFirstStage, kSecondStage);
};

TEST_F(TwoPassTest, TheSecondPassReadsTheFirstsResult) {
    setSecondScale(0.5f);
    auto input = noisePicture(12, 10, 8);
    auto result = runFilter(filter, {input});
    auto expected = mapPixels({input}, [](const std::vector<Colour>& c, double, double) {
        return Colour{c[0][1] * 0.5, c[0][2], c[0][0], 1.0};
    });
    EXPECT_TRUE(matches(result, expected, 1));
}

TEST_F(TwoPassTest, EachProgramKeepsItsOwnSettings) {
    setSecondScale(1.0f);
    filter->setFloat(0.5f, "firstScale");
    auto input = solidPicture(4, 4, {100, 200, 50, 255});
    auto result = runFilter(filter, {input});
    EXPECT_TRUE(near(result.at(1, 1), {100, 25, 50, 255}));
}

TEST_F(TwoPassTest, TheRotationIsAppliedOnceInTheFirstPass) {
    setSecondScale(1.0f);
    filter->setInputRotation(rotationFlipHorizontal, 0);
    auto input = gradientPicture(8, 4);
    auto result = runFilter(filter, {input});
    for (std::size_t x = 0; x < 8; ++x) EXPECT_NEAR(result.at(x, 1)[2], input.at(7 - x, 1)[0], 1) << x;
}

TEST_F(TwoPassTest, TargetsGetTheSecondPassAndTheFirstGoesBackToTheCache) {
    setSecondScale(1.0f);
    auto target = make<RecordingInput>();
    filter->addTarget(target);
    runFilter(filter, {solidPicture(6, 5, {10, 20, 30, 255})});
    Ref<GPXFramebuffer> handed;
    for (auto& e : target->events())
        if (e.call == "framebuffer" && e.framebuffer) handed = e.framebuffer;
    ASSERT_NE(handed, nullptr);
    EXPECT_EQ(handed->size(), CGSizeMake(6, 5));
    drainSharedQueue();
    const auto key = GPXFramebufferCache::hashForSize(CGSizeMake(6, 5), kGPUTextureOptionsDefault, false);
    EXPECT_GE(GPXContext::sharedFramebufferCache()->freeFramebufferCount(key), 1u);
}

TEST_F(TwoPassTest, CaptureReadsTheSecondPass) {
    setSecondScale(0.0f);
    auto image =
        filter->imageByFilteringImage(UIImage::imageWithCGImage(makeSolidImage(3, 3, {90, 150, 210, 255})));
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(near(rgbaAt(image->CGImage(), 1, 1), {0, 210, 90, 255}));
}

TEST(GPXTwoPassTextureSamplingFilter, OffsetsFollowTheSpacingAndTheRotation) {
    auto filter = make<GPXTwoPassTextureSamplingFilter>(kShiftVertex, kGPXPassthroughFragmentShaderString,
                                                        kShiftVertex, kGPXPassthroughFragmentShaderString);
    EXPECT_EQ(filter->verticalTexelSpacing(), 1.0);
    EXPECT_EQ(filter->horizontalTexelSpacing(), 1.0);
    filter->setVerticalTexelSpacing(2.0);
    filter->setHorizontalTexelSpacing(2.0);
    filter->setInputSize(CGSizeMake(400, 200), 0);
    auto offsets = filter->texelOffsets();
    EXPECT_FLOAT_EQ(offsets.verticalPassTexelWidthOffset, 0.0f);
    EXPECT_FLOAT_EQ(offsets.verticalPassTexelHeightOffset, 0.01f);
    EXPECT_FLOAT_EQ(offsets.horizontalPassTexelWidthOffset, 0.005f);
    EXPECT_FLOAT_EQ(offsets.horizontalPassTexelHeightOffset, 0.0f);

    filter->setInputRotation(rotationLeft, 0);
    filter->setInputSize(CGSizeMake(400, 200), 0);
    EXPECT_EQ(filter->inputTextureSize(), CGSizeMake(200, 400));
    offsets = filter->texelOffsets();
    EXPECT_FLOAT_EQ(offsets.verticalPassTexelWidthOffset, 0.005f);
    EXPECT_FLOAT_EQ(offsets.verticalPassTexelHeightOffset, 0.0f);
    EXPECT_FLOAT_EQ(offsets.horizontalPassTexelWidthOffset, 0.01f);
    EXPECT_FLOAT_EQ(offsets.horizontalPassTexelHeightOffset, 0.0f);
}

TEST(GPXTwoPassTextureSamplingFilter, EachPassStepsAlongItsOwnAxis) {
    auto filter = make<GPXTwoPassTextureSamplingFilter>(kShiftVertex, kGPXPassthroughFragmentShaderString,
                                                        kShiftVertex, kGPXPassthroughFragmentShaderString);
    auto input = noisePicture(10, 8, 21);
    auto result = runFilter(filter, {input});
    Pixels expected = input;
    for (std::size_t y = 0; y < 8; ++y)
        for (std::size_t x = 0; x < 10; ++x)
            expected.at(x, y) = input.at(std::min<std::size_t>(x + 1, 9), std::min<std::size_t>(y + 1, 7));
    EXPECT_TRUE(matches(result, expected, 1));
}

}  // namespace
