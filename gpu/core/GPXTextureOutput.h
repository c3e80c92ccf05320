#pragma once
// A consumer that hands the texture of each frame reaching it to a delegate. The frame's
// framebuffer stays locked until the delegate calls doneWithTexture(), so a delegate that keeps
// textures makes the producer fetch new framebuffers for later frames.

#include <atomic>

#include "foundation/NSObject.h"
#include "gpu/core/GPXInput.h"

class GPXTextureOutput;

class GPXTextureOutputDelegate {
  public:
    virtual ~GPXTextureOutputDelegate() = default;
    // Called on the shared context queue for each frame.
    virtual void newFrameReadyFromTextureOutput(const Ref<GPXTextureOutput>& callbackTextureOutput) = 0;
};

class GPXTextureOutput : public NSObject, public GPXInput {
  public:
    GPXTextureOutput() = default;

    // Unlocks the current frame's framebuffer.
    void doneWithTexture();
    GLuint texture() const { return texture_.load(); }
    Ref<GPXTextureOutputDelegate> delegate() const;
    // Held weakly.
    void setDelegate(const Ref<GPXTextureOutputDelegate>& delegate);

    // GPXInput.
    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override;
    long nextAvailableTextureIndex() override { return 0; }
    void setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long textureIndex) override;
    void setInputSize(CGSize, long) override {}
    void setInputRotation(GPURotationMode, long) override {}
    CGSize maximumOutputSize() override { return CGSizeZero; }
    void endProcessing() override {}
    bool shouldIgnoreUpdatesToThisTarget() override { return false; }
    bool enabled() override { return enabled_.load(); }
    void setEnabled(bool value) { enabled_.store(value); }
    bool wantsMonochromeInput() override { return false; }
    void setCurrentlyReceivingMonochromeInput(bool) override {}

    std::string className() const override { return "GPXTextureOutput"; }

  private:
    mutable std::mutex mutex_;  // guards the two below
    Ref<GPXFramebuffer> firstInputFramebuffer_;
    Weak<GPXTextureOutputDelegate> delegate_;
    std::atomic<GLuint> texture_{0};
    std::atomic<bool> enabled_{true};
};
