#include <gtest/gtest.h>

#include <cstring>

#include "GPUTestSupport.h"
#include "gpu/core/GPXFilter.h"
#include "gpu/core/GPXRawDataInput.h"
#include "gpu/core/GPXRawDataOutput.h"

using namespace gputest;

namespace {

// width x height RGBA pixels, row r at texture row r: pixel (x, r) = (10 x, 20 r, 100, 255).
std::vector<std::uint8_t> gradient(std::size_t width, std::size_t height) {
    std::vector<std::uint8_t> bytes(width * height * 4);
    for (std::size_t r = 0; r < height; ++r) {
        for (std::size_t x = 0; x < width; ++x) {
            auto* p = &bytes[(r * width + x) * 4];
            p[0] = static_cast<std::uint8_t>(10 * x);
            p[1] = static_cast<std::uint8_t>(20 * r);
            p[2] = 100;
            p[3] = 255;
        }
    }
    return bytes;
}

class GPXRawDataTest : public ::testing::Test {
  protected:
    // Runs one frame from the input to the output and waits for it.
    void runFrame(const Ref<GPXRawDataInput>& input, const Ref<GPXRawDataOutput>& output) {
        auto arrived = dispatch_semaphore_create(0);
        output->setNewFrameAvailableBlock([arrived] { dispatch_semaphore_signal(arrived); });
        input->processData();
        ASSERT_TRUE(waitFor(arrived));
    }
};

TEST_F(GPXRawDataTest, BytesGoThroughAndComeBackInRGBA) {
    auto bytes = gradient(5, 4);
    auto input = make<GPXRawDataInput>(bytes.data(), CGSizeMake(5, 4), GL_RGBA);
    EXPECT_EQ(input->outputImageSize(), CGSizeMake(5, 4));
    EXPECT_EQ(input->pixelFormat(), static_cast<GLenum>(GL_RGBA));
    EXPECT_EQ(input->pixelType(), static_cast<GLenum>(GL_UNSIGNED_BYTE));
    auto output = make<GPXRawDataOutput>(CGSizeMake(5, 4), false);
    EXPECT_FALSE(output->usesSwizzlingProgram());  // read-back already gives RGBA
    input->addTarget(output);
    runFrame(input, output);
    const GLubyte* read = output->rawBytesForImage();
    ASSERT_NE(read, nullptr);
    for (std::size_t i = 0; i < bytes.size(); ++i) ASSERT_NEAR(read[i], bytes[i], 1) << i;
    EXPECT_EQ(output->maximumOutputSize(), CGSizeMake(5, 4));
}

TEST_F(GPXRawDataTest, BGRAOutputSwapsRedAndBlue) {
    auto bytes = gradient(3, 2);
    auto input = make<GPXRawDataInput>(bytes.data(), CGSizeMake(3, 2), GL_RGBA);
    auto output = make<GPXRawDataOutput>(CGSizeMake(3, 2), true);
    EXPECT_TRUE(output->usesSwizzlingProgram());
    input->addTarget(output);
    runFrame(input, output);
    const GLubyte* read = output->rawBytesForImage();
    ASSERT_NE(read, nullptr);
    EXPECT_NEAR(read[4 * 2 + 0], 100, 1);                      // blue first
    EXPECT_NEAR(read[4 * 2 + 2], 20, 1);                       // then red (x = 2)
    auto colour = output->colorAtLocation(CGPointMake(2, 1));  // row 1 from the top = bytes row 0
    EXPECT_NEAR(colour.red, 20, 1);
    EXPECT_NEAR(colour.blue, 100, 1);
}

TEST_F(GPXRawDataTest, BGRAInputIsTheDefault) {
    const std::uint8_t bgra[4] = {30, 60, 90, 255};
    auto input = make<GPXRawDataInput>(bgra, CGSizeMake(1, 1));
    EXPECT_EQ(input->pixelFormat(), static_cast<GLenum>(GL_BGRA));
    auto output = make<GPXRawDataOutput>(CGSizeMake(1, 1), false);
    input->addTarget(output);
    runFrame(input, output);
    auto colour = output->colorAtLocation(CGPointZero);
    EXPECT_EQ(colour, (GPUByteColorVector{90, 60, 30, 255}));
}

TEST_F(GPXRawDataTest, ColourLookupsCountRowsFromTheTopAndClampAtTheEdges) {
    auto bytes = gradient(4, 3);
    auto input = make<GPXRawDataInput>(bytes.data(), CGSizeMake(4, 3), GL_RGBA);
    auto output = make<GPXRawDataOutput>(CGSizeMake(4, 3), false);
    input->addTarget(output);
    runFrame(input, output);
    // The bytes are bottom-up: the top row is the last one.
    EXPECT_EQ(output->colorAtLocation(CGPointMake(0, 0)), (GPUByteColorVector{0, 40, 100, 255}));
    EXPECT_EQ(output->colorAtLocation(CGPointMake(3, 2)), (GPUByteColorVector{30, 0, 100, 255}));
    EXPECT_EQ(output->colorAtLocation(CGPointMake(1, 1)), (GPUByteColorVector{10, 20, 100, 255}));
    // Beyond the right or bottom edge: the edge pixel; before the left or top: the first one.
    EXPECT_EQ(output->colorAtLocation(CGPointMake(100, 100)), (GPUByteColorVector{30, 0, 100, 255}));
    EXPECT_EQ(output->colorAtLocation(CGPointMake(-5, -5)), (GPUByteColorVector{0, 40, 100, 255}));
}

TEST_F(GPXRawDataTest, RGBBytesUploadIntoAnRGBTexture) {
    const std::uint8_t rgb[6] = {255, 0, 0, 0, 0, 255};
    auto input = make<GPXRawDataInput>(rgb, CGSizeMake(2, 1), GL_RGB);
    auto output = make<GPXRawDataOutput>(CGSizeMake(2, 1), false);
    input->addTarget(output);
    runFrame(input, output);
    EXPECT_EQ(output->colorAtLocation(CGPointMake(0, 0)), (GPUByteColorVector{255, 0, 0, 255}));
    EXPECT_EQ(output->colorAtLocation(CGPointMake(1, 0)), (GPUByteColorVector{0, 0, 255, 255}));
}

TEST_F(GPXRawDataTest, FloatAndLuminanceUploads) {
    const GLfloat floats[4] = {0.25f, 0.5f, 1.0f, 1.0f};
    auto input = make<GPXRawDataInput>(floats, CGSizeMake(1, 1), GL_RGBA, GL_FLOAT);
    auto output = make<GPXRawDataOutput>(CGSizeMake(1, 1), false);
    input->addTarget(output);
    runFrame(input, output);
    auto colour = output->colorAtLocation(CGPointZero);
    EXPECT_NEAR(colour.red, 64, 1);
    EXPECT_NEAR(colour.green, 128, 1);
    EXPECT_EQ(colour.blue, 255);

    const std::uint8_t grey[4] = {50, 50, 50, 50};
    auto luminance = make<GPXRawDataInput>(grey, CGSizeMake(4, 1), GL_LUMINANCE);
    auto output2 = make<GPXRawDataOutput>(CGSizeMake(4, 1), false);
    luminance->addTarget(output2);
    runFrame(luminance, output2);
    EXPECT_EQ(output2->colorAtLocation(CGPointMake(2, 0)), (GPUByteColorVector{50, 50, 50, 255}));
}

TEST_F(GPXRawDataTest, NewBytesAndNewSizes) {
    auto first = gradient(2, 2);
    auto input = make<GPXRawDataInput>(first.data(), CGSizeMake(2, 2), GL_RGBA);
    auto output = make<GPXRawDataOutput>(CGSizeMake(2, 2), false);
    input->addTarget(output);
    runFrame(input, output);
    EXPECT_EQ(output->colorAtLocation(CGPointMake(1, 1)).red, 10);

    auto second = gradient(4, 4);
    for (std::size_t i = 0; i < second.size(); i += 4) second[i + 2] = 7;
    input->updateDataFromBytes(second.data(), CGSizeMake(4, 4));
    EXPECT_EQ(input->outputImageSize(), CGSizeMake(4, 4));
    output->setImageSize(CGSizeMake(4, 4));
    EXPECT_EQ(output->imageSize(), CGSizeMake(4, 4));
    runFrame(input, output);
    EXPECT_EQ(output->colorAtLocation(CGPointMake(3, 0)), (GPUByteColorVector{30, 60, 7, 255}));
}

TEST_F(GPXRawDataTest, TheSameFrameIsReadOnce) {
    auto bytes = gradient(2, 2);
    auto input = make<GPXRawDataInput>(bytes.data(), CGSizeMake(2, 2), GL_RGBA);
    auto output = make<GPXRawDataOutput>(CGSizeMake(2, 2), false);
    input->addTarget(output);
    runFrame(input, output);
    const GLubyte* a = output->rawBytesForImage();
    const GLubyte* b = output->rawBytesForImage();
    EXPECT_EQ(a, b);
    EXPECT_NE(a, nullptr);
}

TEST_F(GPXRawDataTest, ARequestWhileAFrameIsInFlightIsDropped) {
    auto bytes = gradient(2, 2);
    auto input = make<GPXRawDataInput>(bytes.data(), CGSizeMake(2, 2), GL_RGBA);
    auto target = make<RecordingInput>();
    input->addTarget(target);
    target->clear();
    auto gate = dispatch_semaphore_create(0);
    performAsyncOnSharedContextQueue([&] { dispatch_semaphore_wait(gate, DISPATCH_TIME_FOREVER); });
    input->processData();
    input->processDataForTimestamp(CMTimeMake(5, 600));  // dropped
    dispatch_semaphore_signal(gate);
    drainSharedQueue();
    EXPECT_EQ(target->count("newFrame"), 1);
    EXPECT_TRUE(CMTIME_IS_INVALID(target->events().back().time));
    input->processDataForTimestamp(CMTimeMake(5, 600));
    drainSharedQueue();
    EXPECT_EQ(target->count("newFrame"), 2);
    EXPECT_EQ(target->events().back().time.value, 5);
    EXPECT_EQ(target->calls().back(), "newFrame");
}

TEST_F(GPXRawDataTest, LockingForReadingKeepsTheRender) {
    auto bytes = gradient(2, 2);
    auto input = make<GPXRawDataInput>(bytes.data(), CGSizeMake(2, 2), GL_RGBA);
    auto output = make<GPXRawDataOutput>(CGSizeMake(2, 2), false);
    input->addTarget(output);
    EXPECT_EQ(output->bytesPerRowInOutput(), 0u);  // nothing retained yet
    output->lockFramebufferForReading();
    runFrame(input, output);
    ASSERT_NE(output->rawBytesForImage(), nullptr);
    EXPECT_EQ(output->bytesPerRowInOutput(), 8u);
    output->unlockFramebufferAfterReading();
    EXPECT_EQ(output->bytesPerRowInOutput(), 0u);
    output->unlockFramebufferAfterReading();  // nothing retained: nothing happens
}

TEST_F(GPXRawDataTest, AnOutputWithoutInputReadsBlack) {
    auto output = make<GPXRawDataOutput>(CGSizeMake(2, 2), false);
    EXPECT_EQ(output->colorAtLocation(CGPointZero), (GPUByteColorVector{0, 0, 0, 255}));
    auto empty = make<GPXRawDataOutput>(CGSizeZero, false);
    EXPECT_EQ(empty->rawBytesForImage(), nullptr);
    EXPECT_EQ(empty->colorAtLocation(CGPointZero), GPUByteColorVector{});
}

TEST_F(GPXRawDataTest, FiltersWorkOnRawInput) {
    auto bytes = gradient(4, 4);
    auto input = make<GPXRawDataInput>(bytes.data(), CGSizeMake(4, 4), GL_RGBA);
    auto filter = make<GPXFilter>();
    auto output = make<GPXRawDataOutput>(CGSizeMake(4, 4), false);
    input->addTarget(filter);
    filter->addTarget(output);
    runFrame(input, output);
    EXPECT_EQ(output->colorAtLocation(CGPointMake(2, 3)), (GPUByteColorVector{20, 0, 100, 255}));
}

}  // namespace
