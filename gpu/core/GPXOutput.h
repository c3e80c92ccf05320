#pragma once
// The producer side of the pipeline's graph. An output keeps its targets in the order added, each
// with the input slot it feeds, renders a frame into a framebuffer and hands it to every target.
//
// State: an output's targets, sizes and framebuffer belong to the shared context queue. Every
// operation that changes or reads them runs there, synchronously when called from another thread,
// so a producer rendering on the queue and a caller on the main thread never see each other's
// half-made changes. `enabled` and `shouldIgnoreUpdatesToThisTarget` may be read anywhere.
//
// Image capture: useNextFrameForImageCapture() marks the next frame, whose framebuffer is then
// kept for newCGImageFromCurrentlyProcessedOutput(); that call blocks its thread for up to 3.0 s
// and must not be made on the context queue while the frame is still to render there.

#include <atomic>
#include <functional>
#include <vector>

#include "foundation/NSObject.h"
#include "gpu/core/GPXFramebuffer.h"
#include "gpu/core/GPXInput.h"
#include "graphics/UIImage.h"

class GPXOutput : public NSObject {
  public:
    using FrameProcessingCompletionBlock =
        std::function<void(const Ref<GPXOutput>& output, CMTime frameTime)>;

    GPXOutput();
    ~GPXOutput() override;

    void setInputFramebufferForTarget(const Ref<GPXInput>& target, long inputTextureIndex);
    virtual Ref<GPXFramebuffer> framebufferForOutput();
    virtual void removeOutputFramebuffer();
    void notifyTargetsAboutNewOutputTexture();

    // A copy of the target list.
    virtual std::vector<Ref<GPXInput>> targets();
    // Adds at the target's next available slot; a target that ignores updates becomes
    // targetToIgnoreForUpdates.
    void addTarget(const Ref<GPXInput>& newTarget);
    // Nothing when already listed.
    virtual void addTargetAtTextureLocation(const Ref<GPXInput>& newTarget, long textureLocation);
    // Sends the target zero size, rotationNone and endProcessing; nothing when not listed.
    virtual void removeTarget(const Ref<GPXInput>& targetToRemove);
    // Sends every target zero size and rotationNone (no endProcessing).
    virtual void removeAllTargets();

    virtual void forceProcessingAtSize(CGSize frameSize);
    virtual void forceProcessingAtSizeRespectingAspectRatio(CGSize frameSize);

    virtual void useNextFrameForImageCapture();
    virtual CGImageRef newCGImageFromCurrentlyProcessedOutput();
    // Runs the picture through this output once and answers the result (nullptr on time-out).
    CGImageRef newCGImageByFilteringCGImage(const CGImageRef& imageToFilter);
    CGImageRef newCGImageByFilteringImage(const Ref<UIImage>& imageToFilter);
    virtual bool providesMonochromeOutput() { return false; }

    // The captured frame as an image of scale 1 in the device's orientation (up: this device has
    // no orientation sensor); nullptr when the capture failed.
    Ref<UIImage> imageFromCurrentFramebuffer();
    Ref<UIImage> imageFromCurrentFramebufferWithOrientation(UIImageOrientation imageOrientation);
    // The filtered picture with the source's scale and orientation; nullptr on time-out.
    Ref<UIImage> imageByFilteringImage(const Ref<UIImage>& imageToFilter);

    GPUTextureOptions outputTextureOptions();
    // Re-applies the wrap modes to an existing output texture.
    void setOutputTextureOptions(GPUTextureOptions options);

    bool shouldSmoothlyScaleOutput();
    void setShouldSmoothlyScaleOutput(bool value);
    virtual bool shouldIgnoreUpdatesToThisTarget() { return shouldIgnoreUpdatesToThisTarget_.load(); }
    void setShouldIgnoreUpdatesToThisTarget(bool value) { shouldIgnoreUpdatesToThisTarget_.store(value); }
    virtual bool enabled() { return enabled_.load(); }
    void setEnabled(bool value) { enabled_.store(value); }
    virtual Ref<GPXInput> targetToIgnoreForUpdates();
    virtual void setTargetToIgnoreForUpdates(const Ref<GPXInput>& target);
    virtual FrameProcessingCompletionBlock frameProcessingCompletionBlock();
    virtual void setFrameProcessingCompletionBlock(FrameProcessingCompletionBlock block);

    // The size of the current input (a filter renders at it).
    CGSize inputTextureSize();
    bool allTargetsWantMonochromeData();
    bool usingNextFrameForImageCapture() const { return usingNextFrameForImageCapture_.load(); }

    std::string className() const override { return "GPXOutput"; }

  protected:
    // The fields below are touched on the shared context queue only.
    Ref<GPXFramebuffer> outputFramebuffer_;
    std::vector<Ref<GPXInput>> targets_;
    std::vector<long> targetTextureIndices_;
    CGSize inputTextureSize_ = CGSizeZero;
    CGSize cachedMaximumOutputSize_ = CGSizeZero;
    CGSize forcedMaximumSize_ = CGSizeZero;
    bool overrideInputSize_ = false;
    bool allTargetsWantMonochromeData_ = true;
    bool shouldSmoothlyScaleOutput_ = false;
    Weak<GPXInput> targetToIgnoreForUpdates_;
    FrameProcessingCompletionBlock frameProcessingCompletionBlock_;
    GPUTextureOptions outputTextureOptions_ = kGPUTextureOptionsDefault;

    std::atomic<bool> usingNextFrameForImageCapture_{false};
    std::atomic<bool> shouldIgnoreUpdatesToThisTarget_{false};
    std::atomic<bool> enabled_{true};

  private:
    void removeAllTargetsOnQueue();
};

namespace detail {
// The wait of an image capture: 3.0 seconds.
inline constexpr std::int64_t kGPXImageCaptureTimeoutNanoseconds = 3000000000LL;
}  // namespace detail
