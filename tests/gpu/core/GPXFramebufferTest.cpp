#include "gpu/core/GPXFramebuffer.h"

#include <gtest/gtest.h>

#include <thread>

#include "GPUTestSupport.h"
#include "foundation/NSNotificationCenter.h"
#include "gpu/core/GPXFramebufferCache.h"

using namespace gputest;

namespace {

class GPXFramebufferTest : public ::testing::Test {
  protected:
    Ref<GPXFramebufferCache> cache = GPXContext::sharedFramebufferCache();
    // Each test uses its own sizes, so tests in one process do not see each other's framebuffers.
    CGSize size(double w, double h) { return CGSizeMake(w, h); }
};

TEST_F(GPXFramebufferTest, LookupKeysFollowSizeOptionsAndKind) {
    EXPECT_EQ(GPXFramebufferCache::hashForSize(CGSizeMake(640, 480), kGPUTextureOptionsDefault, false),
              "640.0x480.0-9729:9729:33071:33071:6408:32993:5121");
    EXPECT_EQ(GPXFramebufferCache::hashForSize(CGSizeMake(640, 480), kGPUTextureOptionsDefault, true),
              "640.0x480.0-9729:9729:33071:33071:6408:32993:5121-NOFB");
    EXPECT_EQ(GPXFramebufferCache::hashForSize(CGSizeMake(4096, 2457.6), kGPUTextureOptionsDefault, false),
              "4096.0x2457.6-9729:9729:33071:33071:6408:32993:5121");
    GPUTextureOptions options;
    options.type = GL_FLOAT;
    EXPECT_EQ(GPXFramebufferCache::hashForSize(CGSizeMake(1, 2), options, false),
              "1.0x2.0-9729:9729:33071:33071:6408:32993:5126");
}

TEST_F(GPXFramebufferTest, AFetchedFramebufferIsLockedOnceAndComplete) {
    auto framebuffer = cache->fetchFramebufferForSize(size(31, 17), false);
    ASSERT_NE(framebuffer, nullptr);
    EXPECT_EQ(framebuffer->framebufferReferenceCount(), 1u);
    EXPECT_EQ(framebuffer->size(), size(31, 17));
    EXPECT_FALSE(framebuffer->missingFramebuffer());
    EXPECT_NE(framebuffer->framebuffer(), 0u);
    EXPECT_NE(framebuffer->texture(), 0u);
    EXPECT_EQ(framebuffer->bytesPerRow(), 31u * 4);
    EXPECT_EQ(framebuffer->byteBuffer(), nullptr);
    GLenum status = 0;
    GLint viewport[4] = {};
    performSyncOnSharedContextQueue([&] {
        framebuffer->activateFramebuffer();
        status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
        glGetIntegerv(GL_VIEWPORT, viewport);
    });
    EXPECT_EQ(status, static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    EXPECT_EQ(viewport[2], 31);
    EXPECT_EQ(viewport[3], 17);
}

TEST_F(GPXFramebufferTest, TwoFetchesMakeTwoAndTheLastReturnedComesBackFirst) {
    auto a = cache->fetchFramebufferForSize(size(33, 21), false);
    auto b = cache->fetchFramebufferForSize(size(33, 21), false);
    EXPECT_NE(a, b);
    a->unlock();
    b->unlock();
    auto again = cache->fetchFramebufferForSize(size(33, 21), false);
    EXPECT_EQ(again, b);
    auto andAgain = cache->fetchFramebufferForSize(size(33, 21), false);
    EXPECT_EQ(andAgain, a);
    EXPECT_EQ(again->framebufferReferenceCount(), 1u);
}

TEST_F(GPXFramebufferTest, TextureOnlyAndFullFramebuffersNeverShare) {
    auto full = cache->fetchFramebufferForSize(size(35, 21), false);
    full->unlock();
    auto textureOnly = cache->fetchFramebufferForSize(size(35, 21), true);
    EXPECT_NE(textureOnly, full);
    EXPECT_TRUE(textureOnly->missingFramebuffer());
    EXPECT_EQ(textureOnly->framebuffer(), 0u);
    EXPECT_NE(textureOnly->texture(), 0u);
    textureOnly->unlock();
    EXPECT_EQ(cache->fetchFramebufferForSize(size(35, 21), false), full);
}

TEST_F(GPXFramebufferTest, OptionsArePartOfTheKey) {
    GPUTextureOptions nearest;
    nearest.minFilter = GL_NEAREST;
    nearest.magFilter = GL_NEAREST;
    auto plain = cache->fetchFramebufferForSize(size(37, 21), false);
    plain->unlock();
    auto other = cache->fetchFramebufferForSize(size(37, 21), nearest, false);
    EXPECT_NE(other, plain);
    EXPECT_EQ(other->textureOptions(), nearest);
}

TEST_F(GPXFramebufferTest, UnlockedOnTheQueueIsFiledAtOnce) {
    Ref<GPXFramebuffer> first, second;
    performSyncOnSharedContextQueue([&] {
        first = cache->fetchFramebufferForSize(size(39, 21), false);
        first->unlock();
        second = cache->fetchFramebufferForSize(size(39, 21), false);
    });
    EXPECT_EQ(first, second);
}

TEST_F(GPXFramebufferTest, UnlockedElsewhereIsFetchableOnlyOnceFiled) {
    auto framebuffer = cache->fetchFramebufferForSize(size(41, 21), false);
    auto gate = dispatch_semaphore_create(0);
    auto done = dispatch_semaphore_create(0);
    Ref<GPXFramebuffer> inBetween;
    // Hold the queue, unlock from here (the filing waits behind the held block), and fetch from
    // the held block before the filing has run.
    performAsyncOnSharedContextQueue([&] {
        dispatch_semaphore_wait(gate, DISPATCH_TIME_FOREVER);
        inBetween = cache->fetchFramebufferForSize(size(41, 21), false);
        dispatch_semaphore_signal(done);
    });
    framebuffer->unlock();
    EXPECT_EQ(framebuffer->framebufferReferenceCount(), 0u);  // cleared at once
    dispatch_semaphore_signal(gate);
    ASSERT_TRUE(waitFor(done));
    EXPECT_NE(inBetween, framebuffer);
    EXPECT_EQ(cache->fetchFramebufferForSize(size(41, 21), false), framebuffer);
}

TEST_F(GPXFramebufferTest, LocksCountAndOverReleaseIsReported) {
    AssertionRecorder recorder;
    auto framebuffer = cache->fetchFramebufferForSize(size(43, 21), false);
    framebuffer->lock();
    EXPECT_EQ(framebuffer->framebufferReferenceCount(), 2u);
    framebuffer->unlock();
    framebuffer->unlock();
    EXPECT_EQ(framebuffer->framebufferReferenceCount(), 0u);
    EXPECT_TRUE(recorder.messages().empty());
    framebuffer->unlock();
    EXPECT_TRUE(recorder.saw("Tried to overrelease a framebuffer, did you forget to call "
                             "-useNextFrameForImageCapture before using "
                             "-imageFromCurrentFramebuffer?"));
    EXPECT_EQ(framebuffer->framebufferReferenceCount(), 0u);
    // Returned once only.
    const auto key = GPXFramebufferCache::hashForSize(size(43, 21), kGPUTextureOptionsDefault, false);
    EXPECT_EQ(cache->freeFramebufferCount(key), 1u);
}

TEST_F(GPXFramebufferTest, WithCountingDisabledLocksChangeNothing) {
    auto framebuffer = cache->fetchFramebufferForSize(size(45, 21), false);
    framebuffer->disableReferenceCounting();
    framebuffer->lock();
    framebuffer->unlock();
    framebuffer->unlock();
    EXPECT_EQ(framebuffer->framebufferReferenceCount(), 1u);
    const auto key = GPXFramebufferCache::hashForSize(size(45, 21), kGPUTextureOptionsDefault, false);
    EXPECT_EQ(cache->freeFramebufferCount(key), 0u);
    framebuffer->enableReferenceCounting();
    framebuffer->unlock();
    EXPECT_EQ(cache->freeFramebufferCount(key), 1u);
}

TEST_F(GPXFramebufferTest, PurgeFreesOnlyWhatIsInThePool) {
    auto free1 = cache->fetchFramebufferForSize(size(47, 21), false);
    auto free2 = cache->fetchFramebufferForSize(size(47, 21), true);
    auto busy = cache->fetchFramebufferForSize(size(47, 21), false);
    const GLuint freeTexture = free1->texture();
    Weak<GPXFramebuffer> weakFree = free1;
    free1->unlock();
    free2->unlock();
    free1.reset();
    free2.reset();
    EXPECT_GE(cache->freeFramebufferCount(), 2u);
    cache->purgeAllUnassignedFramebuffers();
    EXPECT_EQ(cache->freeFramebufferCount(), 0u);
    EXPECT_TRUE(weakFree.expired());
    GLboolean exists = GL_TRUE;
    performSyncOnSharedContextQueue([&] { exists = glIsTexture(freeTexture); });
    EXPECT_FALSE(exists);
    // The busy one is untouched and comes back to the emptied pool when unlocked.
    EXPECT_EQ(busy->framebufferReferenceCount(), 1u);
    busy->unlock();
    EXPECT_EQ(cache->fetchFramebufferForSize(size(47, 21), false), busy);
}

TEST_F(GPXFramebufferTest, AMemoryWarningPurgesThePool) {
    auto framebuffer = cache->fetchFramebufferForSize(size(55, 21), false);
    Weak<GPXFramebuffer> weak = framebuffer;
    framebuffer->unlock();
    framebuffer.reset();
    EXPECT_GE(cache->freeFramebufferCount(), 1u);
    NSNotificationCenter::defaultCenter()->postNotificationName(
        "UIApplicationDidReceiveMemoryWarningNotification");
    EXPECT_EQ(cache->freeFramebufferCount(), 0u);
    EXPECT_TRUE(weak.expired());
    // Other notifications leave the pool alone.
    auto kept = cache->fetchFramebufferForSize(size(55, 21), false);
    kept->unlock();
    NSNotificationCenter::defaultCenter()->postNotificationName("SomethingElse");
    EXPECT_EQ(cache->freeFramebufferCount(), 1u);
}

TEST_F(GPXFramebufferTest, ReadBackGivesRGBARowsAndReleasesTheLock) {
    auto framebuffer = cache->fetchFramebufferForSize(size(5, 3), false);
    performSyncOnSharedContextQueue([&] {
        framebuffer->activateFramebuffer();
        glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        // Paint the bottom row (GL's first) blue.
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 5, 1);
        glClearColor(0.0f, 0.0f, 1.0f, 0.5f);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_SCISSOR_TEST);
    });
    framebuffer->lock();  // the capture's lock
    auto image = framebuffer->newCGImageFromFramebufferContents();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), 5u);
    EXPECT_EQ(image->height(), 3u);
    EXPECT_EQ(image->bytesPerRow(), 20u);
    EXPECT_EQ(image->bitsPerPixel(), 32u);
    EXPECT_EQ(image->alphaInfo(), kCGImageAlphaLast);
    EXPECT_EQ(image->bitmapInfo() & kCGBitmapByteOrderMask, kCGBitmapByteOrderDefault);
    EXPECT_TRUE(near(rgbaAt(image, 0, 0), {0, 0, 255, 128}));
    EXPECT_TRUE(near(rgbaAt(image, 4, 2), {255, 0, 0, 255}));
    EXPECT_EQ(framebuffer->framebufferReferenceCount(), 1u);
}

TEST_F(GPXFramebufferTest, ReadBackRefusesOtherFormats) {
    AssertionRecorder recorder;
    GPUTextureOptions luminance;
    luminance.internalFormat = GL_LUMINANCE;
    luminance.format = GL_LUMINANCE;
    auto a = make<GPXFramebuffer>(CGSizeMake(4, 4), luminance, true);
    EXPECT_EQ(a->newCGImageFromFramebufferContents(), nullptr);
    EXPECT_TRUE(recorder.saw(
        "For conversion to a CGImage the output texture format for this filter must be GL_RGBA."));
    GPUTextureOptions floats;
    floats.type = GL_FLOAT;
    auto b = make<GPXFramebuffer>(CGSizeMake(4, 4), floats, true);
    EXPECT_EQ(b->newCGImageFromFramebufferContents(), nullptr);
    EXPECT_TRUE(
        recorder.saw("For conversion to a CGImage the type of the output texture of this filter must be "
                     "GL_UNSIGNED_BYTE."));
}

TEST_F(GPXFramebufferTest, AWrappedTextureStaysWithItsOwner) {
    GLuint texture = 0;
    performSyncOnSharedContextQueue([&] {
        GPXContext::useImageProcessingContext();
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    });
    auto wrapper = make<GPXFramebuffer>(CGSizeMake(2, 2), texture);
    EXPECT_EQ(wrapper->texture(), texture);
    EXPECT_EQ(wrapper->framebuffer(), 0u);
    EXPECT_TRUE(wrapper->referenceCountingDisabled());
    EXPECT_EQ(wrapper->textureOptions(), kGPUTextureOptionsDefault);
    wrapper.reset();
    GLboolean exists = GL_FALSE;
    performSyncOnSharedContextQueue([&] {
        exists = glIsTexture(texture);
        glDeleteTextures(1, &texture);
    });
    EXPECT_TRUE(exists);
}

TEST_F(GPXFramebufferTest, ConcurrentLocksFromManyThreadsBalance) {
    auto framebuffer = cache->fetchFramebufferForSize(size(49, 21), false);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                framebuffer->lock();
                framebuffer->unlock();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(framebuffer->framebufferReferenceCount(), 1u);
}

TEST_F(GPXFramebufferTest, CaptureListHoldsFramebuffers) {
    auto framebuffer = cache->fetchFramebufferForSize(size(51, 21), false);
    const auto before = cache->activeImageCaptureCount();
    cache->addFramebufferToActiveImageCaptureList(framebuffer);
    EXPECT_EQ(cache->activeImageCaptureCount(), before + 1);
    cache->removeFramebufferFromActiveImageCaptureList(framebuffer);
    cache->removeFramebufferFromActiveImageCaptureList(framebuffer);  // not listed: nothing
    EXPECT_EQ(cache->activeImageCaptureCount(), before);
}

}  // namespace
