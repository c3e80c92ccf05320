#pragma once
// The still-picture source. A picture is uploaded into a GPU texture once, when the source is
// made, and fed to the targets each time it is processed; at most one frame is in flight at a
// time (a second request while one is pending is declined).
//
// The upload uses the picture's own bytes when their layout suits the texture upload (32-bit
// pixels in rows of exactly width x 4 bytes, alpha first in little-endian order or alpha last in
// big-endian order); otherwise the picture is redrawn as premultiplied BGRA. Pictures larger than
// the device's texture limit are scaled down to fit; with smooth scaling the texture is rounded up
// to powers of two and mipmapped, while targets are still told the picture's own size.
//
// Frames carry the indefinite time: a picture does not move.

#include <functional>

#include "dispatch/Dispatch.h"
#include "foundation/NSURL.h"
#include "gpu/core/GPXOutput.h"

class GPXFilter;

class GPXPicture : public GPXOutput {
  public:
    explicit GPXPicture(const Ref<NSURL>& url);
    explicit GPXPicture(const NSData& imageData);
    explicit GPXPicture(const Ref<UIImage>& newImageSource, bool smoothlyScaleOutput = false);
    explicit GPXPicture(const CGImageRef& newImageSource, bool smoothlyScaleOutput = false);
    ~GPXPicture() override;

    void removeAllTargets() override;
    // Feeds the picture to the targets; NO (and nothing happens) while a frame is in flight.
    bool processImage();
    // The handler runs on the shared context queue after every target has rendered.
    bool processImageWithCompletionHandler(std::function<void()> completion);
    // Captures the given filter's result of this frame and passes it to the block.
    void processImageUpToFilter(const Ref<GPXFilter>& finalFilterInChain,
                                std::function<void(const Ref<UIImage>& processedImage)> block);
    CGSize outputImageSize() const { return pixelSizeOfImage_; }
    // A target added after the picture was processed receives the picture at once.
    void addTargetAtTextureLocation(const Ref<GPXInput>& newTarget, long textureLocation) override;

    // The size of the uploaded texture (the picture's size unless scaled to powers of two).
    CGSize textureSize() const { return textureSize_; }
    // Whether the upload redrew the picture rather than using its bytes.
    bool redrewImage() const { return redrewImage_; }
    bool hasProcessedImage();
    const dispatch_semaphore_t& imageUpdateSemaphore() const { return imageUpdateSemaphore_; }

    std::string className() const override { return "GPXPicture"; }

  private:
    void upload(const CGImageRef& image);

    CGSize pixelSizeOfImage_ = CGSizeZero;
    CGSize textureSize_ = CGSizeZero;
    bool redrewImage_ = false;
    std::atomic<bool> hasProcessedImage_{false};
    dispatch_semaphore_t imageUpdateSemaphore_;
};

namespace detail {
// The picture drawn (scaled to fill) into a zeroed bitmap of width x height 32-bit pixels in the
// given layout, rows of width x 4 bytes; empty when it cannot be drawn.
NSData redrawPicture(const CGImageRef& image, std::size_t width, std::size_t height, CGBitmapInfo layout);
}  // namespace detail
