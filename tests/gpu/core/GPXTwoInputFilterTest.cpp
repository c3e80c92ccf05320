#include "gpu/core/GPXTwoInputFilter.h"

#include <gtest/gtest.h>

#include "GPUFilterTestSupport.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXThreeInputFilter.h"
#include "gpu/core/GPXTwoInputCrossTextureSamplingFilter.h"

using namespace gputest;

namespace {

// Red from the first input, green from the second, blue the mean of both.
constexpr const char* kPickTwoShader =
    "varying highp vec2 textureCoordinate;\n"
    "varying highp vec2 textureCoordinate2;\n"
    "uniform sampler2D inputImageTexture;\n"
    "uniform sampler2D inputImageTexture2;\n"
    "void main()\n"
    "{\n"
    "    lowp vec4 a = texture2D(inputImageTexture, textureCoordinate);\n"
    "    lowp vec4 b = texture2D(inputImageTexture2, textureCoordinate2);\n"
    "    gl_FragColor = vec4(a.r, b.g, 0.5 * (a.b + b.b), 1.0);\n"
    "}\n";

constexpr const char* kPickThreeShader =
    "varying highp vec2 textureCoordinate;\n"
    "varying highp vec2 textureCoordinate2;\n"
    "varying highp vec2 textureCoordinate3;\n"
    "uniform sampler2D inputImageTexture;\n"
    "uniform sampler2D inputImageTexture2;\n"
    "uniform sampler2D inputImageTexture3;\n"
    "void main()\n"
    "{\n"
    "    gl_FragColor = vec4(texture2D(inputImageTexture, textureCoordinate).r,\n"
    "                        texture2D(inputImageTexture2, textureCoordinate2).g,\n"
    "                        texture2D(inputImageTexture3, textureCoordinate3).b, 1.0);\n"
    "}\n";

// A framebuffer that lock and unlock leave alone, as a source's own texture.
Ref<GPXFramebuffer> stillFramebuffer() {
    auto framebuffer = GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(CGSizeMake(2, 2), false);
    framebuffer->disableReferenceCounting();
    return framebuffer;
}

class FrameRuleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        filter->addTarget(target);
        filter->setInputSize(CGSizeMake(2, 2), 0);
        filter->setInputFramebuffer(first, 0);
        filter->setInputFramebuffer(second, 1);
    }
    // Frames the target has been told about, and their times.
    std::vector<CMTime> frames() const {
        std::vector<CMTime> times;
        for (auto& e : target->events())
            if (e.call == "newFrame") times.push_back(e.time);
        return times;
    }
    Ref<GPXTwoInputFilter> filter = make<GPXTwoInputFilter>(kPickTwoShader);
    Ref<RecordingInput> target = make<RecordingInput>();
    Ref<GPXFramebuffer> first = stillFramebuffer();
    Ref<GPXFramebuffer> second = stillFramebuffer();
};

TEST_F(FrameRuleTest, TwoStillsRenderOnceBothHaveDeliveredWithTheSecondsTime) {
    filter->newFrameReadyAtTime(kCMTimeIndefinite, 0);
    EXPECT_TRUE(frames().empty());
    filter->newFrameReadyAtTime(kCMTimeIndefinite, 1);
    ASSERT_EQ(frames().size(), 1u);
    EXPECT_TRUE(CMTIME_IS_INDEFINITE(frames()[0]));
}

TEST_F(FrameRuleTest, MovingFramesAgainstAStillRenderAtOnceWithTheirOwnTime) {
    filter->newFrameReadyAtTime(kCMTimeIndefinite, 1);
    EXPECT_TRUE(frames().empty());
    for (int n = 1; n <= 3; ++n) filter->newFrameReadyAtTime(CMTimeMake(n, 30), 0);
    auto times = frames();
    ASSERT_EQ(times.size(), 3u);
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(times[n - 1].value, n);
}

TEST_F(FrameRuleTest, WithTheSecondCheckDisabledEveryFirstFrameRenders) {
    filter->disableSecondFrameCheck();
    filter->newFrameReadyAtTime(CMTimeMake(1, 30), 0);
    filter->newFrameReadyAtTime(CMTimeMake(2, 30), 0);
    EXPECT_EQ(frames().size(), 2u);
}

TEST_F(FrameRuleTest, WithTheFirstCheckDisabledEverySecondFrameRenders) {
    filter->disableFirstFrameCheck();
    filter->newFrameReadyAtTime(CMTimeMake(1, 30), 1);
    filter->newFrameReadyAtTime(CMTimeMake(2, 30), 1);
    EXPECT_EQ(frames().size(), 2u);
}

TEST_F(FrameRuleTest, ARepeatedFirstFrameOnlyUpdatesItsTime) {
    filter->newFrameReadyAtTime(CMTimeMake(1, 30), 0);
    filter->newFrameReadyAtTime(CMTimeMake(2, 30), 0);
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(filter->firstFrameTime().value, 2);
    filter->newFrameReadyAtTime(CMTimeMake(7, 30), 1);
    auto times = frames();
    ASSERT_EQ(times.size(), 1u);
    EXPECT_EQ(times[0].value, 2);  // the first input's time wins unless it is a still's
    EXPECT_EQ(filter->secondFrameTime().value, 7);
}

TEST(GPXTwoInputFilter, ProducersFillSlotZeroThenOneAndALaterOneReplacesTheSecond) {
    auto filter = make<GPXTwoInputFilter>(kPickTwoShader);
    auto a = pictureOf(solidPicture(2, 2, {200, 0, 0, 255}));
    auto b = pictureOf(solidPicture(2, 2, {0, 100, 0, 255}));
    auto c = pictureOf(solidPicture(2, 2, {0, 50, 0, 255}));
    EXPECT_EQ(filter->nextAvailableTextureIndex(), 0);
    a->addTarget(filter);
    EXPECT_EQ(filter->nextAvailableTextureIndex(), 1);
    b->addTarget(filter);
    c->addTarget(filter);
    EXPECT_EQ(filter->nextAvailableTextureIndex(), 1);
    auto output = make<GPXRawDataOutput>(CGSizeMake(2, 2), false);
    filter->addTarget(output);
    auto result = readAfterProcessing({a, c}, output);
    EXPECT_TRUE(near(result.at(1, 1), {200, 50, 0, 255}));
    // Removing the first producer frees its slot.
    a->removeTarget(filter);
    EXPECT_EQ(filter->nextAvailableTextureIndex(), 0);
}

TEST(GPXTwoInputFilter, CombinesBothPicturesPixelByPixel) {
    auto first = gradientPicture(16, 8);
    auto second = noisePicture(16, 8, 5);
    auto result = runFilter(make<GPXTwoInputFilter>(kPickTwoShader), {first, second});
    auto expected = mapPixels({first, second}, [](const std::vector<Colour>& c, double, double) {
        return Colour{c[0][0], c[1][1], 0.5 * (c[0][2] + c[1][2]), 1.0};
    });
    EXPECT_TRUE(matches(result, expected, 1));
}

TEST(GPXTwoInputFilter, EachInputKeepsItsOwnRotationAndTheOutputTakesTheFirstsSize) {
    auto first = gradientPicture(8, 4);
    auto second = gradientPicture(8, 4);
    auto filter = make<GPXTwoInputFilter>(kPickTwoShader);
    filter->setInputRotation(rotationFlipHorizontal, 1);
    EXPECT_EQ(filter->inputRotation2(), rotationFlipHorizontal);
    EXPECT_EQ(filter->inputRotation(), rotationNone);
    // A size at the second input is ignored.
    filter->setInputSize(CGSizeMake(100, 100), 1);
    auto target = make<RecordingInput>();
    filter->addTarget(target);
    auto result = runFilter(filter, {first, second});
    ASSERT_GE(target->count("size"), 1);
    for (auto& e : target->events()) {
        if (e.call != "size") continue;
        EXPECT_EQ(e.size, CGSizeMake(8, 4));
        break;
    }
    for (std::size_t x = 0; x < 8; ++x) {
        EXPECT_NEAR(result.at(x, 2)[0], first.at(x, 2)[0], 1);
        EXPECT_NEAR(result.at(x, 2)[1], second.at(7 - x, 2)[1], 1);
    }
    // A quarter turn of the second input alone does not change the output's size.
    EXPECT_EQ(filter->rotatedSize(CGSizeMake(8, 4), 0), CGSizeMake(8, 4));
    filter->setInputRotation(rotationLeft, 1);
    EXPECT_EQ(filter->rotatedSize(CGSizeMake(8, 4), 1), CGSizeMake(4, 8));
}

TEST(GPXTwoInputFilter, CaptureReadsTheCombinedFrame) {
    auto filter = make<GPXTwoInputFilter>(kPickTwoShader);
    auto overlay = pictureOf(solidPicture(4, 4, {0, 90, 40, 255}));
    overlay->addTargetAtTextureLocation(filter, 1);
    auto done = dispatch_semaphore_create(0);
    overlay->processImageWithCompletionHandler([done] { dispatch_semaphore_signal(done); });
    ASSERT_TRUE(waitFor(done));
    // The overlay is a still picture: the base's frame pairs with it.
    auto image =
        filter->imageByFilteringImage(UIImage::imageWithCGImage(makeSolidImage(4, 4, {120, 0, 200, 255})));
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(near(rgbaAt(image->CGImage(), 2, 2), {120, 90, 120, 255}));
}

// ---- three inputs ------------------------------------------------------------------------------

TEST(GPXThreeInputFilter, CombinesThreePicturesAndFillsSlotsInOrder) {
    auto filter = make<GPXThreeInputFilter>(kPickThreeShader);
    auto a = noisePicture(8, 8, 1), b = noisePicture(8, 8, 2), c = noisePicture(8, 8, 3);
    std::vector<Ref<GPXPicture>> pictures{pictureOf(a), pictureOf(b), pictureOf(c)};
    for (long i = 0; i < 3; ++i) {
        EXPECT_EQ(filter->nextAvailableTextureIndex(), i);
        pictures[i]->addTarget(filter);
    }
    EXPECT_EQ(filter->nextAvailableTextureIndex(), 2);
    auto target = make<RecordingInput>();
    filter->addTarget(target);
    auto output = make<GPXRawDataOutput>(CGSizeMake(8, 8), false);
    filter->addTarget(output);
    auto result = readAfterProcessing(pictures, output);
    EXPECT_EQ(target->count("newFrame"), 1);
    auto expected = mapPixels({a, b, c}, [](const std::vector<Colour>& cs, double, double) {
        return Colour{cs[0][0], cs[1][1], cs[2][2], 1.0};
    });
    EXPECT_TRUE(matches(result, expected, 1));
    pictures[1]->removeTarget(filter);
    EXPECT_EQ(filter->nextAvailableTextureIndex(), 1);
}

TEST(GPXThreeInputFilter, RendersWithTheArrivingTimeOnceAllThreeAreIn) {
    auto filter = make<GPXThreeInputFilter>(kPickThreeShader);
    auto target = make<RecordingInput>();
    filter->addTarget(target);
    filter->setInputSize(CGSizeMake(2, 2), 0);
    for (long i = 0; i < 3; ++i) filter->setInputFramebuffer(stillFramebuffer(), i);
    filter->newFrameReadyAtTime(CMTimeMake(1, 30), 0);
    filter->newFrameReadyAtTime(CMTimeMake(2, 30), 1);
    EXPECT_EQ(target->count("newFrame"), 0);
    filter->newFrameReadyAtTime(CMTimeMake(3, 30), 2);
    ASSERT_EQ(target->count("newFrame"), 1);
    EXPECT_EQ(target->events().back().time.value, 3);
    EXPECT_EQ(filter->thirdFrameTime().value, 3);
    // With the third check off, the first two suffice.
    filter->disableThirdFrameCheck();
    filter->newFrameReadyAtTime(CMTimeMake(4, 30), 1);
    filter->newFrameReadyAtTime(CMTimeMake(5, 30), 0);
    EXPECT_EQ(target->count("newFrame"), 2);
}

TEST(GPXThreeInputFilter, EachSlotHasItsRotation) {
    auto filter = make<GPXThreeInputFilter>(kPickThreeShader);
    filter->setInputRotation(rotationLeft, 2);
    filter->setInputRotation(rotation180, 1);
    EXPECT_EQ(filter->inputRotation3(), rotationLeft);
    EXPECT_EQ(filter->inputRotation2(), rotation180);
    EXPECT_EQ(filter->rotatedSize(CGSizeMake(3, 5), 2), CGSizeMake(5, 3));
    EXPECT_EQ(filter->rotatedSize(CGSizeMake(3, 5), 1), CGSizeMake(3, 5));
}

// ---- cross sampling ----------------------------------------------------------------------------

TEST(GPXTwoInputCrossTextureSamplingFilter, NeighbourCoordinatesAreOneTexelAway) {
    // The first input's left neighbour and the second input's bottom neighbour.
    auto filter = make<GPXTwoInputCrossTextureSamplingFilter>(
        "varying highp vec2 leftTextureCoordinate;\n"
        "varying highp vec2 bottomTextureCoordinate2;\n"
        "uniform sampler2D inputImageTexture;\n"
        "uniform sampler2D inputImageTexture2;\n"
        "void main()\n"
        "{\n"
        "    gl_FragColor = vec4(texture2D(inputImageTexture, leftTextureCoordinate).r,\n"
        "                        texture2D(inputImageTexture2, bottomTextureCoordinate2).g, 0.0, 1.0);\n"
        "}\n");
    auto a = noisePicture(8, 6, 11), b = noisePicture(8, 6, 12);
    auto result = runFilter(filter, {a, b});
    Pixels expected = a;
    for (std::size_t y = 0; y < 6; ++y)
        for (std::size_t x = 0; x < 8; ++x)
            expected.at(x, y) = {a.at(x == 0 ? 0 : x - 1, y)[0], b.at(x, std::min<std::size_t>(y + 1, 5))[1],
                                 0, 255};
    EXPECT_TRUE(matches(result, expected, 1));
    EXPECT_DOUBLE_EQ(filter->texelWidth(), 1.0 / 8);
    EXPECT_DOUBLE_EQ(filter->texelHeight(), 1.0 / 6);
}

TEST(GPXTwoInputCrossTextureSamplingFilter, AQuarterTurnSwapsTheStepsTheShaderGets) {
    auto filter = make<GPXTwoInputCrossTextureSamplingFilter>(
        "uniform highp float texelWidth;\n"
        "uniform highp float texelHeight;\n"
        "void main() { gl_FragColor = vec4(texelWidth * 100.0, texelHeight * 100.0, 0.0, 1.0); }\n");
    filter->setInputRotation(rotationLeft, 0);
    auto result =
        runFilter(filter, {solidPicture(200, 100, {0, 0, 0, 255}), solidPicture(200, 100, {0, 0, 0, 255})},
                  CGSizeMake(100, 200));
    EXPECT_DOUBLE_EQ(filter->texelWidth(), 1.0 / 100);
    EXPECT_DOUBLE_EQ(filter->texelHeight(), 1.0 / 200);
    EXPECT_TRUE(near(result.at(50, 50), {128, 255, 0, 255}));  // 1/200 and 1/100, times 100
    // Set by hand, the steps stay through size changes.
    filter->setTexelWidth(0.004);
    filter->setInputSize(CGSizeMake(10, 10), 0);
    EXPECT_DOUBLE_EQ(filter->texelWidth(), 0.004);
    EXPECT_DOUBLE_EQ(filter->texelHeight(), 1.0 / 200);
}

}  // namespace
