#include "gpu/core/GPXPicture.h"
#include "gpu/core/GPUCoreTesting.h"

#include <gtest/gtest.h>

#include <cstring>

#include "GPUTestSupport.h"
#include "gpu/core/GPXFilter.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXPicture+TextureSubimage.h"
#include "graphics/CGImageDestination.h"
#include "tests/support/TestSupport.h"

using namespace gputest;

namespace {

// Restores the device's texture limit after a test lowered it.
struct TextureLimit {
    explicit TextureLimit(GLint limit) { gpu_core_testing::setMaximumTextureSizeOverride(limit); }
    ~TextureLimit() { gpu_core_testing::setMaximumTextureSizeOverride(0); }
};

// Four quadrants of distinct colours, so orientation mistakes show.
CGImageRef quadrants(std::size_t w, std::size_t h) {
    std::vector<RGBA> pixels(w * h);
    for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
            const bool right = x >= w / 2, bottom = y >= h / 2;
            pixels[y * w + x] = bottom ? (right ? RGBA{255, 255, 0, 255} : RGBA{0, 0, 255, 255})
                                       : (right ? RGBA{0, 255, 0, 255} : RGBA{255, 0, 0, 255});
        }
    }
    return makePremultipliedImage(w, h, pixels);
}

// The picture's texture read back through a pass-through filter.
CGImageRef throughFilter(const Ref<GPXPicture>& picture) {
    auto filter = make<GPXFilter>();
    picture->addTarget(filter);
    filter->useNextFrameForImageCapture();
    EXPECT_TRUE(picture->processImage());
    auto image = filter->newCGImageFromCurrentlyProcessedOutput();
    picture->removeTarget(filter);
    return image;
}

TEST(GPXPicture, UploadsDecodedPicturesAsTheyAreAndKeepsThemUpright) {
    auto picture = make<GPXPicture>(quadrants(8, 6));
    EXPECT_FALSE(picture->redrewImage());
    EXPECT_EQ(picture->outputImageSize(), CGSizeMake(8, 6));
    EXPECT_EQ(picture->textureSize(), CGSizeMake(8, 6));
    auto framebuffer = picture->framebufferForOutput();
    ASSERT_NE(framebuffer, nullptr);
    EXPECT_TRUE(framebuffer->missingFramebuffer());
    EXPECT_TRUE(framebuffer->referenceCountingDisabled());
    auto image = throughFilter(picture);
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(near(rgbaAt(image, 0, 0), {255, 0, 0, 255}));    // top left
    EXPECT_TRUE(near(rgbaAt(image, 7, 0), {0, 255, 0, 255}));    // top right
    EXPECT_TRUE(near(rgbaAt(image, 0, 5), {0, 0, 255, 255}));    // bottom left
    EXPECT_TRUE(near(rgbaAt(image, 7, 5), {255, 255, 0, 255}));  // bottom right
}

TEST(GPXPicture, RGBAAlphaLastPicturesUploadDirectlyToo) {
    NSData bytes = NSData::dataWithLength(2 * 1 * 4);
    const std::uint8_t rgba[8] = {10, 20, 30, 255, 40, 50, 60, 255};
    std::memcpy(bytes.mutableBytes(), rgba, 8);
    auto image = CGImageCreate(2, 1, 8, 32, 8, CGColorSpaceCreateDeviceRGB(),
                               kCGBitmapByteOrderDefault | kCGImageAlphaNoneSkipLast,
                               CGDataProviderCreateWithData(bytes));
    auto picture = make<GPXPicture>(image);
    EXPECT_FALSE(picture->redrewImage());
    auto result = throughFilter(picture);
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(near(rgbaAt(result, 0, 0), {10, 20, 30, 255}));
    EXPECT_TRUE(near(rgbaAt(result, 1, 0), {40, 50, 60, 255}));
}

TEST(GPXPicture, PaddedRowsAndForeignLayoutsAreRedrawn) {
    // Rows padded to 12 bytes for a 2-pixel width.
    NSData bytes = NSData::dataWithLength(12 * 2);
    auto* p = bytes.mutableBytes();
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) {
            std::uint8_t* px = p + y * 12 + x * 4;
            px[0] = 200, px[1] = 100, px[2] = 50, px[3] = 255;  // BGRA
        }
    }
    auto padded = CGImageCreate(2, 2, 8, 32, 12, CGColorSpaceCreateDeviceRGB(),
                                kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst,
                                CGDataProviderCreateWithData(bytes));
    ASSERT_NE(padded, nullptr);
    auto picture = make<GPXPicture>(padded);
    EXPECT_TRUE(picture->redrewImage());
    auto result = throughFilter(picture);
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(near(rgbaAt(result, 1, 1), {50, 100, 200, 255}));

    // Grey pictures are not 32-bit: redrawn.
    NSData grey = NSData::dataWithLength(4);
    std::memset(grey.mutableBytes(), 128, 4);
    auto greyImage = CGImageCreate(2, 2, 8, 8, 2, CGColorSpaceCreateDeviceGray(), kCGImageAlphaNone,
                                   CGDataProviderCreateWithData(grey));
    ASSERT_NE(greyImage, nullptr);
    auto greyPicture = make<GPXPicture>(greyImage);
    EXPECT_TRUE(greyPicture->redrewImage());
    auto greyResult = throughFilter(greyPicture);
    ASSERT_NE(greyResult, nullptr);
    EXPECT_TRUE(near(rgbaAt(greyResult, 0, 0), {128, 128, 128, 255}, 2));
}

TEST(GPXPicture, OversizePicturesAreScaledToTheLimitAndReportedSo) {
    TextureLimit limit(64);
    auto picture = make<GPXPicture>(quadrants(100, 50));
    EXPECT_TRUE(picture->redrewImage());
    EXPECT_EQ(picture->outputImageSize(), CGSizeMake(64, 32));
    EXPECT_EQ(picture->textureSize(), CGSizeMake(64, 32));
    auto target = make<RecordingInput>();
    picture->addTarget(target);
    ASSERT_TRUE(picture->processImage());
    ASSERT_TRUE(target->waitForFrame());
    auto events = target->events();
    ASSERT_GE(events.size(), 2u);
    bool sawSize = false;
    for (auto& e : events) {
        if (e.call == "size" && e.size == CGSizeMake(64, 32)) sawSize = true;
    }
    EXPECT_TRUE(sawSize);
    picture->removeAllTargets();
    auto image = throughFilter(picture);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), 64u);
    EXPECT_TRUE(near(rgbaAt(image, 5, 5), {255, 0, 0, 255}));
    EXPECT_TRUE(near(rgbaAt(image, 60, 28), {255, 255, 0, 255}));
}

TEST(GPXPicture, APictureBelowTheLimitIsNotScaled) {
    TextureLimit limit(64);
    auto picture = make<GPXPicture>(quadrants(63, 10));
    EXPECT_FALSE(picture->redrewImage());
    EXPECT_EQ(picture->outputImageSize(), CGSizeMake(63, 10));
}

TEST(GPXPicture, SmoothScalingUsesPowerOfTwoTexturesWithMipmaps) {
    auto picture = make<GPXPicture>(quadrants(300, 200), true);
    EXPECT_TRUE(picture->redrewImage());
    EXPECT_EQ(picture->outputImageSize(), CGSizeMake(300, 200));
    EXPECT_EQ(picture->textureSize(), CGSizeMake(512, 256));
    EXPECT_TRUE(picture->shouldSmoothlyScaleOutput());
    GLint minFilter = 0;
    performSyncOnSharedContextQueue([&] {
        glBindTexture(GL_TEXTURE_2D, picture->framebufferForOutput()->texture());
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        glBindTexture(GL_TEXTURE_2D, 0);
    });
    EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR);
    auto image = throughFilter(picture);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), 300u);  // targets render at the picture's own size
    EXPECT_EQ(image->height(), 200u);
    EXPECT_TRUE(near(rgbaAt(image, 20, 20), {255, 0, 0, 255}, 3));
    EXPECT_TRUE(near(rgbaAt(image, 280, 180), {255, 255, 0, 255}, 3));
}

TEST(GPXPicture, EmptyPicturesAreReported) {
    AssertionRecorder recorder;
    auto picture = make<GPXPicture>(CGImageRef());
    EXPECT_TRUE(recorder.saw("Passed image must not be empty - it should be at least 1px tall and wide"));
    EXPECT_EQ(picture->framebufferForOutput(), nullptr);
    EXPECT_FALSE(picture->processImage());
    auto fromNothing = make<GPXPicture>(Ref<UIImage>());
    EXPECT_EQ(fromNothing->framebufferForOutput(), nullptr);
}

TEST(GPXPicture, DataAndFilesAreDecoded) {
    auto image = UIImage::imageWithCGImage(quadrants(4, 4));
    auto png = UIImagePNGRepresentation(image);
    ASSERT_TRUE(png.has_value());
    auto fromData = make<GPXPicture>(*png);
    EXPECT_EQ(fromData->outputImageSize(), CGSizeMake(4, 4));
    auto result = throughFilter(fromData);
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(near(rgbaAt(result, 3, 0), {0, 255, 0, 255}));

    testsupport::TemporaryDirectory dir;
    ASSERT_TRUE(png->writeToFile(dir.file("part.png")));
    auto fromFile = make<GPXPicture>(NSURL::fileURLWithPath(dir.file("part.png")));
    EXPECT_EQ(fromFile->outputImageSize(), CGSizeMake(4, 4));
}

TEST(GPXPicture, BadDataMakesAnEmptySourceWithoutACrash) {
    AssertionRecorder recorder;
    auto garbage = make<GPXPicture>(NSData::fromString("not a picture"));
    EXPECT_EQ(garbage->framebufferForOutput(), nullptr);
    auto missing = make<GPXPicture>(NSURL::fileURLWithPath("/nonexistent/part.png"));
    EXPECT_EQ(missing->framebufferForOutput(), nullptr);
    // Mutated pictures either decode to something or are refused.
    auto png = UIImagePNGRepresentation(UIImage::imageWithCGImage(quadrants(8, 8)));
    ASSERT_TRUE(png.has_value());
    for (unsigned seed = 0; seed < 40; ++seed) {
        auto mutated = testsupport::mutate(png->toString(), seed);
        auto picture = make<GPXPicture>(NSData::fromString(mutated));
        if (picture->framebufferForOutput()) {
            EXPECT_GT(picture->outputImageSize().width, 0);
        }
    }
    EXPECT_FALSE(recorder.messages().empty());
}

TEST(GPXPicture, OneFrameInFlightAtATime) {
    auto picture = make<GPXPicture>(quadrants(4, 4));
    auto gate = dispatch_semaphore_create(0);
    performAsyncOnSharedContextQueue([&] { dispatch_semaphore_wait(gate, DISPATCH_TIME_FOREVER); });
    int handlers = 0;
    EXPECT_TRUE(picture->processImageWithCompletionHandler([&] { ++handlers; }));
    EXPECT_FALSE(picture->processImageWithCompletionHandler([&] { ++handlers; }));
    dispatch_semaphore_signal(gate);
    drainSharedQueue();
    EXPECT_EQ(handlers, 1);
    // Free again once the frame is done.
    auto done = dispatch_semaphore_create(0);
    EXPECT_TRUE(picture->processImageWithCompletionHandler([&] { dispatch_semaphore_signal(done); }));
    EXPECT_TRUE(waitFor(done));
}

TEST(GPXPicture, FeedsTargetsSizeFramebufferAndFrameTogether) {
    auto picture = make<GPXPicture>(quadrants(6, 4));
    auto a = make<RecordingInput>();
    auto b = make<RecordingInput>(2);
    picture->addTarget(a);
    picture->addTarget(b);
    a->clear();
    b->clear();
    ASSERT_TRUE(picture->processImage());
    ASSERT_TRUE(a->waitForFrame());
    ASSERT_TRUE(b->waitForFrame());
    EXPECT_EQ(a->calls(), (std::vector<std::string>{"monochrome", "size", "framebuffer", "newFrame"}));
    EXPECT_EQ(b->events().back().index, 2);
    EXPECT_TRUE(CMTIME_IS_INDEFINITE(a->events().back().time));
    EXPECT_EQ(a->events()[2].framebuffer, picture->framebufferForOutput());
}

TEST(GPXPicture, LateTargetsGetThePictureAtOnceUntilTargetsAreCleared) {
    auto picture = make<GPXPicture>(quadrants(6, 4));
    auto early = make<RecordingInput>();
    picture->addTarget(early);
    auto before = make<RecordingInput>();
    // Not processed yet: a new target receives no frame.
    picture->addTarget(before);
    EXPECT_EQ(before->count("newFrame"), 0);
    ASSERT_TRUE(picture->processImage());
    ASSERT_TRUE(early->waitForFrame());
    EXPECT_TRUE(picture->hasProcessedImage());
    auto late = make<RecordingInput>();
    picture->addTarget(late);
    EXPECT_EQ(late->count("newFrame"), 1);
    EXPECT_EQ(late->events().front().call, "framebuffer");
    picture->removeAllTargets();
    EXPECT_FALSE(picture->hasProcessedImage());
    auto afterClear = make<RecordingInput>();
    picture->addTarget(afterClear);
    EXPECT_EQ(afterClear->count("newFrame"), 0);
}

TEST(GPXPicture, ProcessingUpToAFilterHandsBackItsImage) {
    auto picture = make<GPXPicture>(quadrants(4, 4));
    auto filter = make<GPXFilter>();
    picture->addTarget(filter);
    auto done = dispatch_semaphore_create(0);
    Ref<UIImage> result;
    picture->processImageUpToFilter(filter, [&](const Ref<UIImage>& image) {
        result = image;
        dispatch_semaphore_signal(done);
    });
    ASSERT_TRUE(waitFor(done));
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(near(rgbaAt(result->CGImage(), 0, 3), {0, 0, 255, 255}));
}

TEST(GPXPicture, TheTextureReturnsToTheCacheWhenThePictureGoes) {
    auto picture = make<GPXPicture>(quadrants(7, 3));
    auto texture = picture->framebufferForOutput();
    picture.reset();
    EXPECT_FALSE(texture->referenceCountingDisabled());
    const auto key = GPXFramebufferCache::hashForSize(CGSizeMake(7, 3), kGPUTextureOptionsDefault, true);
    EXPECT_EQ(GPXContext::sharedFramebufferCache()->freeFramebufferCount(key), 1u);
}

class GPXPictureSubimageTest : public ::testing::Test {
  protected:
    Ref<GPXPicture> picture = make<GPXPicture>(quadrants(8, 8));
};

TEST_F(GPXPictureSubimageTest, ReplacesARectangle) {
    GPXPicture_TextureSubimage::replaceTextureWithSubCGImage(picture, makeSolidImage(2, 2, {9, 99, 199, 255}),
                                                             CGRectMake(1, 1, 2, 2));
    auto image = throughFilter(picture);
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(near(rgbaAt(image, 1, 1), {9, 99, 199, 255}));
    EXPECT_TRUE(near(rgbaAt(image, 2, 2), {9, 99, 199, 255}));
    EXPECT_TRUE(near(rgbaAt(image, 0, 0), {255, 0, 0, 255}));
    EXPECT_TRUE(near(rgbaAt(image, 3, 3), {255, 0, 0, 255}));
    // Processing still admits one frame at a time afterwards.
    auto gate = dispatch_semaphore_create(0);
    performAsyncOnSharedContextQueue([&] { dispatch_semaphore_wait(gate, DISPATCH_TIME_FOREVER); });
    EXPECT_TRUE(picture->processImage());
    EXPECT_FALSE(picture->processImage());
    dispatch_semaphore_signal(gate);
    drainSharedQueue();
}

TEST_F(GPXPictureSubimageTest, AWholeTextureReplacementFromAUIImage) {
    GPXPicture_TextureSubimage::replaceTextureWithSubimage(
        picture, UIImage::imageWithCGImage(makeSolidImage(8, 8, {1, 2, 3, 255})));
    auto image = throughFilter(picture);
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(near(rgbaAt(image, 7, 7), {1, 2, 3, 255}));
}

TEST_F(GPXPictureSubimageTest, BadRequestsAreReported) {
    AssertionRecorder recorder;
    using namespace GPXPicture_TextureSubimage;
    replaceTextureWithSubCGImage(picture, makeSolidImage(2, 2, {0, 0, 0, 255}), CGRectMake(0, 0, 3, 2));
    EXPECT_TRUE(recorder.saw("Subimage size must match the size of sub rect"));
    replaceTextureWithSubCGImage(picture, makeSolidImage(2, 2, {0, 0, 0, 255}), CGRectMake(0, 0, 0, 0));
    EXPECT_TRUE(recorder.saw("Passed sub rect must not be empty"));
    replaceTextureWithSubCGImage(picture, nullptr, CGRectMake(0, 0, 2, 2));
    EXPECT_TRUE(recorder.saw("Passed sub image must not be empty - it should be at least 1px tall and wide"));
    replaceTextureWithSubCGImage(make<GPXPicture>(CGImageRef()), makeSolidImage(1, 1, {0, 0, 0, 255}));
    EXPECT_TRUE(recorder.saw("Picture must be initialized first before replacing subtexture"));
}

}  // namespace
