#include <gtest/gtest.h>

#include "GPUTestSupport.h"
#include "gpu/core/GPXFilter.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXTextureInput.h"
#include "gpu/core/GPXTextureOutput.h"

using namespace gputest;

namespace {

// A texture made by code outside the pipeline, in a context of the shared context's group.
class OutsideTexture {
  public:
    OutsideTexture(GLsizei w, GLsizei h, RGBA colour) {
        outside_ = make<GPXContext>();
        outside_->useSharegroup(GPXContext::sharedImageProcessingContext()->context()->sharegroup());
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w * h * 4));
        for (std::size_t i = 0; i < bytes.size(); i += 4)
            std::copy(colour.begin(), colour.end(), bytes.begin() + i);
        performSyncOnContextQueue(outside_, [&] {
            outside_->useAsCurrentContext();
            glGenTextures(1, &texture_);
            glBindTexture(GL_TEXTURE_2D, texture_);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
            glFinish();  // complete before another context reads it
        });
    }
    ~OutsideTexture() {
        performSyncOnContextQueue(outside_, [&] { glDeleteTextures(1, &texture_); });
    }
    GLuint name() const { return texture_; }
    bool exists() {
        GLboolean exists = GL_FALSE;
        performSyncOnContextQueue(outside_, [&] { exists = glIsTexture(texture_); });
        return exists;
    }

  private:
    Ref<GPXContext> outside_;
    GLuint texture_ = 0;
};

class RecordingDelegate : public NSObject, public GPXTextureOutputDelegate {
  public:
    explicit RecordingDelegate(bool release) : release_(release), frames_(dispatch_semaphore_create(0)) {}
    void newFrameReadyFromTextureOutput(const Ref<GPXTextureOutput>& output) override {
        textures.push_back(output->texture());
        onQueue = GPXContext::sharedContextQueue().isCurrent();
        if (release_) output->doneWithTexture();
        dispatch_semaphore_signal(frames_);
    }
    bool waitForFrame() { return waitFor(frames_); }
    std::vector<GLuint> textures;
    bool onQueue = false;

  private:
    bool release_;
    dispatch_semaphore_t frames_;
};

TEST(GPXTextureInput, FeedsAnOutsideTextureThroughAFilter) {
    OutsideTexture texture(4, 4, {12, 34, 56, 255});
    auto input = make<GPXTextureInput>(texture.name(), CGSizeMake(4, 4));
    EXPECT_EQ(input->textureSize(), CGSizeMake(4, 4));
    auto wrapped = input->framebufferForOutput();
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(wrapped->texture(), texture.name());
    auto filter = make<GPXFilter>();
    input->addTarget(filter);
    filter->useNextFrameForImageCapture();
    input->processTextureWithFrameTime(CMTimeMake(1, 30));
    auto image = filter->newCGImageFromCurrentlyProcessedOutput();
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(near(rgbaAt(image, 2, 2), {12, 34, 56, 255}));
}

TEST(GPXTextureInput, HandsTheSameWrapperEveryTimeAndNeverGivesItAway) {
    // An earlier test may have left a free framebuffer of this size; the count below is ours alone.
    performSyncOnSharedContextQueue(
        [] { GPXContext::sharedFramebufferCache()->purgeAllUnassignedFramebuffers(); });
    OutsideTexture texture(2, 2, {1, 1, 1, 255});
    auto input = make<GPXTextureInput>(texture.name(), CGSizeMake(2, 2));
    auto target = make<RecordingInput>();
    target->lockInputs_ = target->unlockOnFrame_ = true;
    input->addTarget(target);
    target->clear();
    input->processTextureWithFrameTime(CMTimeMake(1, 30));
    ASSERT_TRUE(target->waitForFrame());
    input->processTextureWithFrameTime(CMTimeMake(2, 30));
    ASSERT_TRUE(target->waitForFrame());
    std::vector<Ref<GPXFramebuffer>> given;
    for (auto& e : target->events()) {
        if (e.call == "framebuffer") given.push_back(e.framebuffer);
        if (e.call == "size") {
            EXPECT_EQ(e.size, CGSizeMake(2, 2));
        }
    }
    ASSERT_EQ(given.size(), 2u);
    EXPECT_EQ(given[0], given[1]);
    EXPECT_EQ(given[0]->framebufferReferenceCount(), 0u);  // counting disabled: unchanged
    const auto key = GPXFramebufferCache::hashForSize(CGSizeMake(2, 2), kGPUTextureOptionsDefault, false);
    EXPECT_EQ(GPXContext::sharedFramebufferCache()->freeFramebufferCount(key), 0u);
    // The outside texture outlives the input that wrapped it.
    input.reset();
    given.clear();
    target.reset();
    EXPECT_TRUE(texture.exists());
}

TEST(GPXTextureOutput, HandsEachFramesTextureToTheDelegate) {
    auto output = make<GPXTextureOutput>();
    auto delegate = make<RecordingDelegate>(true);
    output->setDelegate(delegate);
    EXPECT_EQ(output->delegate(), delegate);
    EXPECT_TRUE(output->enabled());
    OutsideTexture texture(3, 3, {200, 0, 0, 255});
    auto input = make<GPXTextureInput>(texture.name(), CGSizeMake(3, 3));
    auto filter = make<GPXFilter>();
    input->addTarget(filter);
    filter->addTarget(output);
    input->processTextureWithFrameTime(CMTimeMake(1, 30));
    ASSERT_TRUE(delegate->waitForFrame());
    ASSERT_EQ(delegate->textures.size(), 1u);
    EXPECT_NE(delegate->textures[0], 0u);
    EXPECT_TRUE(delegate->onQueue);
    EXPECT_EQ(output->texture(), delegate->textures[0]);
    // Released by the delegate: the filter's framebuffer went back and is used again.
    input->processTextureWithFrameTime(CMTimeMake(2, 30));
    ASSERT_TRUE(delegate->waitForFrame());
    EXPECT_EQ(delegate->textures[1], delegate->textures[0]);
}

TEST(GPXTextureOutput, ADelegateThatKeepsTexturesMakesTheProducerFetchNewOnes) {
    OutsideTexture texture(3, 3, {0, 200, 0, 255});
    auto input = make<GPXTextureInput>(texture.name(), CGSizeMake(3, 3));
    auto filter = make<GPXFilter>();
    auto output = make<GPXTextureOutput>();
    auto delegate = make<RecordingDelegate>(false);
    output->setDelegate(delegate);
    input->addTarget(filter);
    filter->addTarget(output);
    for (int i = 0; i < 2; ++i) {
        input->processTextureWithFrameTime(CMTimeMake(i, 30));
        ASSERT_TRUE(delegate->waitForFrame());
    }
    ASSERT_EQ(delegate->textures.size(), 2u);
    EXPECT_NE(delegate->textures[0], delegate->textures[1]);
}

TEST(GPXTextureOutput, WithoutADelegateFramesAreAcceptedAndIgnored) {
    OutsideTexture texture(2, 2, {0, 0, 200, 255});
    auto input = make<GPXTextureInput>(texture.name(), CGSizeMake(2, 2));
    auto output = make<GPXTextureOutput>();
    input->addTarget(output);
    input->processTextureWithFrameTime(CMTimeMake(1, 30));
    drainSharedQueue();
    EXPECT_EQ(output->texture(), texture.name());
    output->doneWithTexture();  // counting is disabled on the wrapper: harmless
    EXPECT_EQ(output->nextAvailableTextureIndex(), 0);
    EXPECT_EQ(output->maximumOutputSize(), CGSizeZero);
    EXPECT_FALSE(output->wantsMonochromeInput());
    EXPECT_FALSE(output->shouldIgnoreUpdatesToThisTarget());
}

TEST(GPXTextureOutput, ADelegateThatGoesAwayIsNotCalled) {
    auto output = make<GPXTextureOutput>();
    {
        auto delegate = make<RecordingDelegate>(true);
        output->setDelegate(delegate);
    }
    EXPECT_EQ(output->delegate(), nullptr);
    output->newFrameReadyAtTime(kCMTimeIndefinite, 0);  // nothing to call
}

}  // namespace
