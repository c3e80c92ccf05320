#pragma once
// The video camera with a still-photo output: while the preview runs through the filter chain, a
// photo is taken at full resolution, run once through the same chain, and read back from a chosen
// filter as an image, JPEG or PNG, with the capture's metadata. Photos too large for a texture are
// scaled down on the CPU first (BGRA only).
//
// While a photo is in flight the preview gets no frames: the capture holds the camera's frame
// semaphore until its result has been read.

#include "gpu/media/GPXVideoCamera.h"
#include "graphics/UIImage.h"

class GPXStillCamera : public GPXVideoCamera {
  public:
    using ImageHandler = std::function<void(const Ref<UIImage>& processedImage, const Ref<NSError>& error)>;
    using DataHandler =
        std::function<void(const std::optional<NSData>& processedData, const Ref<NSError>& error)>;
    using SampleBufferHandler =
        std::function<void(const CMSampleBufferRef& imageSampleBuffer, const Ref<NSError>& error)>;

    GPXStillCamera(std::string sessionPreset, AVCaptureDevicePosition cameraPosition);
    void didInit();
    // The photo preset and the back camera.
    static Ref<GPXStillCamera> camera();
    static Ref<GPXStillCamera> cameraWithSessionPreset(const std::string& sessionPreset,
                                                       AVCaptureDevicePosition cameraPosition);
    std::string className() const override { return "GPXStillCamera"; }

    void removeInputsAndOutputs() override;
    // Only logs why it is not offered.
    void capturePhotoAsSampleBufferWithCompletionHandler(SampleBufferHandler block);
    void capturePhotoAsImageProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain, ImageHandler block);
    void capturePhotoAsImageProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain,
                                                UIImageOrientation orientation, ImageHandler block);
    void capturePhotoAsJPEGProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain, DataHandler block);
    void capturePhotoAsJPEGProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain,
                                               UIImageOrientation orientation, DataHandler block);
    void capturePhotoAsPNGProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain, DataHandler block);
    void capturePhotoAsPNGProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain,
                                              UIImageOrientation orientation, DataHandler block);
    // The common step: on success the photo's frame is held in the final filter, ready to read,
    // and the frame semaphore is still taken.
    void capturePhotoProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain,
                                         std::function<void(const Ref<NSError>& error)> block);

    Dictionary currentCaptureMetadata() const;
    double jpegCompressionQuality() const { return jpegCompressionQuality_.load(); }
    void setJpegCompressionQuality(double quality) { jpegCompressionQuality_.store(quality); }
    bool requiresFrontCameraTextureCacheCorruptionWorkaround() const { return workaround_; }
    const Ref<AVCaptureStillImagePixelOutput>& photoOutput() const { return photoOutput_; }

  private:
    // `held` says whether the block runs with the frame semaphore taken (every answer but the
    // refusal of a second request).
    void capture(const Ref<GPXOutput>& finalFilterInChain,
                 std::function<void(const Ref<NSError>& error, bool held)> block);
    Ref<UIImage> processedImage(const Ref<GPXOutput>& finalFilterInChain,
                                std::optional<UIImageOrientation> orientation);
    void captureData(const Ref<GPXOutput>& finalFilterInChain, std::optional<UIImageOrientation> orientation,
                     bool jpeg, DataHandler block);

    Ref<AVCaptureStillImagePixelOutput> photoOutput_;
    bool workaround_ = false;
    std::atomic<double> jpegCompressionQuality_{0.8};
    mutable std::mutex metadataMutex_;
    std::optional<Dictionary> currentCaptureMetadata_;
};

namespace detail {
// The BGRA camera buffer drawn scaled into a new BGRA buffer of the size (integer sides), as a
// sample buffer timed at 1/30 s; nullptr when it cannot be made.
CMSampleBufferRef makeScaledSampleBuffer(const CVPixelBufferRef& cameraFrame, CGSize finalSize);
}  // namespace detail
