#include "gpu/core/GPXFilter.h"

#include <gtest/gtest.h>

#include <cmath>

#include "GPUTestSupport.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXPicture.h"
#include "gpu/core/GPXRawDataInput.h"

using namespace gputest;

namespace {

// The mapping each mode is defined by: output point (s, t) samples the input at f(s, t).
CGPoint sampledPoint(GPURotationMode mode, double s, double t) {
    switch (mode) {
        case rotationLeft:
            return {1 - t, s};
        case rotationRight:
            return {t, 1 - s};
        case rotationFlipVertical:
            return {s, 1 - t};
        case rotationFlipHorizontal:
            return {1 - s, t};
        case rotationRightFlipVertical:
            return {t, s};
        case rotationRightFlipHorizontal:
            return {1 - t, 1 - s};
        case rotation180:
            return {1 - s, 1 - t};
        default:
            return {s, t};
    }
}

const GPURotationMode kAllModes[] = {rotationNone,
                                     rotationLeft,
                                     rotationRight,
                                     rotationFlipVertical,
                                     rotationFlipHorizontal,
                                     rotationRightFlipVertical,
                                     rotationRightFlipHorizontal,
                                     rotation180};

TEST(GPXFilterRotation, CoordinateTablesAreTheModesAtTheQuadsCorners) {
    const double corners[4][2] = {
        {0, 0}, {1, 0}, {0, 1}, {1, 1}};  // bottom-left, bottom-right, top-left, top-right
    for (auto mode : kAllModes) {
        const GLfloat* coordinates = GPXFilter::textureCoordinatesForRotation(mode);
        for (int v = 0; v < 4; ++v) {
            CGPoint expected = sampledPoint(mode, corners[v][0], corners[v][1]);
            EXPECT_EQ(coordinates[v * 2], expected.x) << "mode " << mode << " vertex " << v;
            EXPECT_EQ(coordinates[v * 2 + 1], expected.y) << "mode " << mode << " vertex " << v;
        }
    }
}

TEST(GPXFilterRotation, RotatedPointFollowsTheModesAndOutOfRangeModesSampleLikeNone) {
    const CGPoint p{0.2, 0.7};
    for (auto mode : kAllModes) EXPECT_EQ(GPXFilter::rotatedPoint(p, mode), sampledPoint(mode, p.x, p.y));
    for (int bad : {9, -1})
        EXPECT_EQ(GPXFilter::textureCoordinatesForRotation(static_cast<GPURotationMode>(bad)),
                  GPXFilter::textureCoordinatesForRotation(rotationNone));
    EXPECT_EQ(GPXFilter::rotatedPoint(p, static_cast<GPURotationMode>(9)), p);
}

// Renders a 4 x 3 picture of distinct pixels through a pass-through filter in every mode and
// checks every output pixel against the input pixel the mode says it samples.
TEST(GPXFilterRotation, EveryModeMapsPixelsOnTheGPU) {
    constexpr std::size_t kW = 4, kH = 3;
    std::vector<std::uint8_t> bytes(kW * kH * 4);
    for (std::size_t i = 0; i < kW * kH; ++i) {
        bytes[i * 4 + 0] = static_cast<std::uint8_t>(20 * i);
        bytes[i * 4 + 1] = static_cast<std::uint8_t>(255 - 20 * i);
        bytes[i * 4 + 2] = static_cast<std::uint8_t>(7 * i);
        bytes[i * 4 + 3] = 255;
    }
    auto input = make<GPXRawDataInput>(bytes.data(), CGSizeMake(kW, kH), GL_RGBA);
    for (auto mode : kAllModes) {
        auto filter = make<GPXFilter>();
        input->addTarget(filter);
        filter->setInputRotation(mode, 0);
        filter->useNextFrameForImageCapture();
        input->processData();
        auto image = filter->newCGImageFromCurrentlyProcessedOutput();
        input->removeAllTargets();
        ASSERT_NE(image, nullptr) << mode;
        const bool swaps = GPURotationSwapsWidthAndHeight(mode);
        const std::size_t outW = swaps ? kH : kW, outH = swaps ? kW : kH;
        ASSERT_EQ(image->width(), outW) << mode;
        ASSERT_EQ(image->height(), outH) << mode;
        for (std::size_t y = 0; y < outH; ++y) {
            for (std::size_t x = 0; x < outW; ++x) {
                CGPoint at = sampledPoint(mode, (x + 0.5) / outW, (y + 0.5) / outH);
                auto sx = static_cast<std::size_t>(std::floor(at.x * kW));
                auto sy = static_cast<std::size_t>(std::floor(at.y * kH));
                const std::uint8_t* e = &bytes[(sy * kW + sx) * 4];
                EXPECT_TRUE(near(rgbaAt(image, x, y), {e[0], e[1], e[2], e[3]}))
                    << "mode " << mode << " pixel " << x << "," << y;
            }
        }
    }
}

class GPXFilterTest : public ::testing::Test {
  protected:
    Ref<GPXFilter> filter = make<GPXFilter>();
};

TEST_F(GPXFilterTest, IsReadyOnceMade) {
    ASSERT_NE(filter->filterProgram(), nullptr);
    EXPECT_TRUE(filter->filterProgram()->initialized());
    EXPECT_EQ(filter->filterProgram()->attributeIndex("position"), 0u);
    EXPECT_EQ(filter->filterProgram()->attributeIndex("inputTextureCoordinate"), 1u);
    EXPECT_EQ(filter->inputRotation(), rotationNone);
    EXPECT_TRUE(filter->enabled());
    EXPECT_FALSE(filter->preventRendering());
    // A second filter of the same texts shares the linked program.
    EXPECT_EQ(make<GPXFilter>()->filterProgram(), filter->filterProgram());
}

TEST_F(GPXFilterTest, AShaderThatDoesNotLinkIsReported) {
    AssertionRecorder recorder;
    auto broken = make<GPXFilter>("void main() { gl_FragColor = undefinedThing; }");
    EXPECT_EQ(broken->filterProgram(), nullptr);
    EXPECT_TRUE(recorder.saw("Filter shader link failed"));
}

TEST_F(GPXFilterTest, TargetsAreListedOnceAndRemovedCleanly) {
    auto a = make<RecordingInput>();
    auto b = make<RecordingInput>(3);
    filter->addTarget(a);
    filter->addTarget(a);
    filter->addTarget(b);
    ASSERT_EQ(filter->targets().size(), 2u);
    EXPECT_EQ(b->events().front().index, 3);  // fed at its next available index

    filter->removeTarget(make<RecordingInput>());  // never added: nothing
    EXPECT_EQ(filter->targets().size(), 2u);

    a->clear();
    filter->removeTarget(a);
    EXPECT_EQ(a->calls(), (std::vector<std::string>{"size", "rotation", "end"}));
    EXPECT_EQ(a->events()[0].size, CGSizeZero);
    EXPECT_EQ(a->events()[1].rotation, rotationNone);
    EXPECT_EQ(filter->targets().size(), 1u);

    b->clear();
    filter->removeAllTargets();
    EXPECT_EQ(b->calls(), (std::vector<std::string>{"size", "rotation"}));  // no end
    EXPECT_EQ(b->events()[0].index, 3);
    EXPECT_TRUE(filter->targets().empty());
    EXPECT_TRUE(filter->allTargetsWantMonochromeData());
}

TEST_F(GPXFilterTest, TargetWishesCombineAndEndProcessingPassesOnOnce) {
    auto ignoring = make<RecordingInput>();
    ignoring->ignoreUpdates_ = ignoring->wantsMonochrome_ = true;
    filter->addTarget(ignoring);
    EXPECT_EQ(filter->targetToIgnoreForUpdates(), ignoring);
    EXPECT_TRUE(filter->allTargetsWantMonochromeData());
    filter->endProcessing();
    filter->endProcessing();
    EXPECT_EQ(ignoring->count("end"), 1);
    filter->addTarget(make<RecordingInput>());
    EXPECT_FALSE(filter->allTargetsWantMonochromeData());
    filter->removeTarget(ignoring);
    EXPECT_EQ(filter->targetToIgnoreForUpdates(), nullptr);
}

TEST_F(GPXFilterTest, InputSizeFollowsRotationUnlessForced) {
    filter->setInputRotation(rotationLeft, 0);
    filter->setInputSize(CGSizeMake(640, 480), 0);
    EXPECT_EQ(filter->inputTextureSize(), CGSizeMake(480, 640));
    EXPECT_EQ(filter->sizeOfFBO(), CGSizeMake(480, 640));
    filter->setInputRotation(rotation180, 0);
    filter->setInputSize(CGSizeMake(640, 480), 0);
    EXPECT_EQ(filter->inputTextureSize(), CGSizeMake(640, 480));
    filter->setInputSize(CGSizeZero, 0);
    EXPECT_EQ(filter->inputTextureSize(), CGSizeZero);
    // Forced sizes win.
    filter->forceProcessingAtSize(CGSizeMake(320, 240));
    filter->setInputSize(CGSizeMake(1000, 1000), 0);
    EXPECT_EQ(filter->inputTextureSize(), CGSizeMake(320, 240));
    filter->forceProcessingAtSize(CGSizeZero);
    filter->setInputSize(CGSizeMake(1000, 1000), 0);
    EXPECT_EQ(filter->inputTextureSize(), CGSizeMake(1000, 1000));

    filter->forceProcessingAtSizeRespectingAspectRatio(CGSizeMake(320, 320));
    filter->setInputSize(CGSizeMake(640, 480), 0);
    EXPECT_EQ(filter->inputTextureSize(), CGSizeMake(320, 240));
    filter->setInputSize(CGSizeZero, 0);  // no aspect to fit: unchanged
    EXPECT_EQ(filter->inputTextureSize(), CGSizeMake(320, 240));
    filter->forceProcessingAtSizeRespectingAspectRatio(CGSizeZero);
    EXPECT_EQ(filter->inputTextureSize(), CGSizeZero);
}

TEST_F(GPXFilterTest, PreventedRenderingIgnoresSizesAndReleasesInput) {
    filter->setPreventRendering(true);
    filter->setInputSize(CGSizeMake(64, 64), 0);
    EXPECT_EQ(filter->inputTextureSize(), CGSizeZero);
    auto input = GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(CGSizeMake(53, 21), false);
    filter->setInputFramebuffer(input, 0);
    EXPECT_EQ(input->framebufferReferenceCount(), 2u);
    filter->newFrameReadyAtTime(kCMTimeIndefinite, 0);
    EXPECT_EQ(input->framebufferReferenceCount(), 1u);
    EXPECT_EQ(filter->framebufferForOutput(), nullptr);
}

TEST_F(GPXFilterTest, FrameHandOffGivesSizesAndFramebuffersBeforeFrames) {
    auto a = make<RecordingInput>();
    auto b = make<RecordingInput>();
    a->lockInputs_ = a->unlockOnFrame_ = true;
    b->lockInputs_ = b->unlockOnFrame_ = true;
    filter->addTarget(a);
    filter->addTarget(b);
    int completions = 0;
    filter->setFrameProcessingCompletionBlock([&](const Ref<GPXOutput>& output, CMTime time) {
        EXPECT_EQ(output, filter);
        EXPECT_TRUE(CMTIME_IS_INDEFINITE(time));
        ++completions;
    });
    auto picture = make<GPXPicture>(makeSolidImage(8, 6, {10, 20, 30, 255}));
    picture->addTarget(filter);
    a->clear();
    b->clear();
    ASSERT_TRUE(picture->processImage());
    ASSERT_TRUE(a->waitForFrame());
    ASSERT_TRUE(b->waitForFrame());
    EXPECT_EQ(completions, 1);
    // Both get framebuffer and size before either renders.
    auto calls = a->calls();
    EXPECT_EQ(calls, (std::vector<std::string>{"framebuffer", "size", "newFrame"}));
    EXPECT_EQ(a->events()[1].size, CGSizeMake(8, 6));
    EXPECT_EQ(a->events()[0].framebuffer, b->events()[0].framebuffer);
    // Everyone has let go: the output went back to the cache.
    auto output = a->events()[0].framebuffer;
    EXPECT_EQ(output->framebufferReferenceCount(), 0u);
    EXPECT_EQ(filter->framebufferForOutput(), nullptr);
}

TEST_F(GPXFilterTest, CaptureGivesTheFrameAndWorksAgain) {
    auto picture = make<GPXPicture>(makeSolidImage(8, 6, {200, 100, 50, 255}));
    picture->addTarget(filter);
    for (int round = 0; round < 3; ++round) {
        filter->useNextFrameForImageCapture();
        ASSERT_TRUE(picture->processImage());
        auto image = filter->newCGImageFromCurrentlyProcessedOutput();
        ASSERT_NE(image, nullptr) << round;
        EXPECT_TRUE(near(rgbaAt(image, 3, 3), {200, 100, 50, 255}));
        EXPECT_FALSE(filter->usingNextFrameForImageCapture());
    }
}

TEST_F(GPXFilterTest, ACaptureWithoutAFrameTimesOutAndALaterOneWorks) {
    filter->useNextFrameForImageCapture();
    // Nothing is processed: the wait runs out (3 s) and gives nothing; the mark stays.
    EXPECT_EQ(filter->newCGImageFromCurrentlyProcessedOutput(), nullptr);
    EXPECT_TRUE(filter->usingNextFrameForImageCapture());
    auto picture = make<GPXPicture>(makeSolidImage(4, 4, {0, 255, 0, 255}));
    picture->addTarget(filter);
    ASSERT_TRUE(picture->processImage());
    auto image = filter->newCGImageFromCurrentlyProcessedOutput();
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(near(rgbaAt(image, 0, 0), {0, 255, 0, 255}));
}

TEST_F(GPXFilterTest, ImageByFilteringKeepsScaleAndOrientation) {
    auto source =
        UIImage::imageWithCGImage(makeSolidImage(6, 4, {90, 60, 30, 255}), 2.0, UIImageOrientation::Left);
    auto result = filter->imageByFilteringImage(source);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->scale(), 2.0);
    EXPECT_EQ(result->imageOrientation(), UIImageOrientation::Left);
    EXPECT_EQ(result->CGImage()->width(), 6u);
    EXPECT_TRUE(near(rgbaAt(result->CGImage(), 2, 2), {90, 60, 30, 255}));
    // The picture let go of the filter.
    EXPECT_EQ(filter->inputTextureSize(), CGSizeZero);
    EXPECT_EQ(filter->imageByFilteringImage(nullptr), nullptr);
}

TEST_F(GPXFilterTest, AUniformSetBeforeTheFirstDrawTakesEffect) {
    auto tinted = make<GPXFilter>(
        "varying highp vec2 textureCoordinate; uniform sampler2D inputImageTexture; uniform lowp vec4 "
        "addColor;"
        "void main() { gl_FragColor = texture2D(inputImageTexture, textureCoordinate) + addColor; }");
    tinted->setFloatVec4(GPUVector4{0.0f, 0.5f, 0.0f, 0.0f}, "addColor");
    auto image = tinted->newCGImageByFilteringCGImage(makeSolidImage(4, 4, {100, 0, 0, 255}));
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(near(rgbaAt(image, 1, 1), {100, 128, 0, 255}));
}

TEST_F(GPXFilterTest, FiltersSharingAProgramKeepTheirOwnUniforms) {
    const std::string shader =
        "varying highp vec2 textureCoordinate; uniform sampler2D inputImageTexture; uniform lowp float level;"
        "void main() { gl_FragColor = vec4(vec3(level), 1.0); }";
    auto low = make<GPXFilter>(shader);
    auto high = make<GPXFilter>(shader);
    ASSERT_EQ(low->filterProgram(), high->filterProgram());
    low->setFloat(0.25f, "level");
    high->setFloat(0.75f, "level");
    auto picture = makeSolidImage(2, 2, {0, 0, 0, 255});
    auto lowImage = low->newCGImageByFilteringCGImage(picture);
    auto highImage = high->newCGImageByFilteringCGImage(picture);
    ASSERT_NE(lowImage, nullptr);
    ASSERT_NE(highImage, nullptr);
    EXPECT_TRUE(near(rgbaAt(lowImage, 0, 0), {64, 64, 64, 255}));
    EXPECT_TRUE(near(rgbaAt(highImage, 0, 0), {191, 191, 191, 255}));
}

TEST_F(GPXFilterTest, EveryUniformSetterReachesTheProgram) {
    auto probe = make<GPXFilter>(
        "varying highp vec2 textureCoordinate; uniform sampler2D inputImageTexture;"
        "uniform mediump float f; uniform mediump vec2 p; uniform mediump vec2 s; uniform mediump vec3 v3;"
        "uniform mediump vec4 v4; uniform mediump mat3 m3; uniform mediump mat4 m4; uniform mediump float "
        "arr[3];"
        "uniform int i;"
        "void main() { gl_FragColor = vec4(f + p.x + s.y + v3.z + v4.w + m3[1][1] + m4[2][2] + arr[2] + "
        "float(i));"
        "}");
    ASSERT_NE(probe->filterProgram(), nullptr);
    auto program = probe->filterProgram();
    probe->setFloat(1.0f, "f");
    probe->setPoint(CGPointMake(2, 0), "p");
    probe->setSize(CGSizeMake(0, 3), "s");
    probe->setFloatVec3(GPUVector3{0, 0, 4}, "v3");
    probe->setFloatVec4(GPUVector4{0, 0, 0, 5}, "v4");
    GPUMatrix3x3 m3{};
    m3.two.two = 6;
    GLint m3Location = -1, m4Location = -1;
    performSyncOnSharedContextQueue([&] {
        m3Location = static_cast<GLint>(program->uniformIndex("m3"));
        m4Location = static_cast<GLint>(program->uniformIndex("m4"));
    });
    probe->setMatrix3f(m3, m3Location, program);
    GPUMatrix4x4 m4{};
    m4.three.three = 7;
    probe->setMatrix4f(m4, m4Location, program);
    GLfloat arr[3] = {0, 0, 8};
    probe->setFloatArray(arr, 3, "arr");
    arr[2] = 1000;  // copied at the call: later changes do not count
    probe->setInteger(9, "i");
    // Uniform, element of its value, what was set.
    const std::tuple<std::string, int, float> expected[] = {{"f", 0, 1},   {"p", 0, 2},     {"s", 1, 3},
                                                            {"v3", 2, 4},  {"v4", 3, 5},    {"m3", 4, 6},
                                                            {"m4", 10, 7}, {"arr[2]", 0, 8}};
    GLint i = 0;
    performSyncOnSharedContextQueue([&] {
        for (const auto& [name, element, value] : expected) {
            GLfloat read[16] = {};
            glGetUniformfv(program->program(), static_cast<GLint>(program->uniformIndex(name)), read);
            EXPECT_EQ(read[element], value) << name;
        }
        glGetUniformiv(program->program(), static_cast<GLint>(program->uniformIndex("i")), &i);
    });
    EXPECT_EQ(i, 9);
}

TEST_F(GPXFilterTest, BackgroundColourFillsWhatIsNotDrawn) {
    auto transparent = makePremultipliedImage(2, 1, {{0, 0, 0, 0}, {0, 0, 0, 0}});
    filter->setBackgroundColorRed(0.0f, 0.0f, 1.0f, 1.0f);
    auto image = filter->newCGImageByFilteringCGImage(transparent);
    ASSERT_NE(image, nullptr);
    // The draw replaces the cleared colour (no blending): transparent stays transparent.
    EXPECT_TRUE(near(rgbaAt(image, 0, 0), {0, 0, 0, 0}));
}

TEST_F(GPXFilterTest, OutputTextureOptionsApplyToLaterFrames) {
    GPUTextureOptions repeat;
    repeat.wrapS = GL_REPEAT;
    repeat.wrapT = GL_REPEAT;
    filter->setOutputTextureOptions(repeat);
    EXPECT_EQ(filter->outputTextureOptions(), repeat);
    filter->useNextFrameForImageCapture();
    auto picture = make<GPXPicture>(makeSolidImage(4, 4, {1, 2, 3, 255}));
    picture->addTarget(filter);
    picture->processImage();
    ASSERT_NE(filter->newCGImageFromCurrentlyProcessedOutput(), nullptr);
    auto output = filter->framebufferForOutput();
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->textureOptions(), repeat);
}

TEST_F(GPXFilterTest, MaximumOutputSizeCapsTheRender) {
    class Capped : public GPXFilter {
      public:
        CGSize maximumOutputSize() override { return CGSizeMake(16, 16); }
    };
    auto capped = make<Capped>();
    capped->setInputSize(CGSizeMake(64, 48), 0);
    EXPECT_EQ(capped->sizeOfFBO(), CGSizeMake(16, 16));
    capped->setInputSize(CGSizeMake(8, 8), 0);  // narrower than the cap
    EXPECT_EQ(capped->sizeOfFBO(), CGSizeMake(8, 8));
}

}  // namespace
