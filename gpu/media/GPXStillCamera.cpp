#include "gpu/media/GPXStillCamera.h"

#include <cstdlib>
#include <cstring>

#include "foundation/NSLog.h"
#include "gpu/core/GPXContext.h"
#include "graphics/CGContext.h"
#include "uikit/UIDevice.h"

namespace {

constexpr long kNoDownsamplingForYUV = -11801;

Ref<NSError> stillError(long code, const std::string& reason) {
    return NSError::errorWithDomain(AVFoundationErrorDomain, code,
                                    Dictionary{{NSLocalizedDescriptionKey, reason}});
}

bool versionBelowSix() {
    const std::string version = UIDevice::currentDevice()->systemVersion();
    return std::atof(version.c_str()) < 6.0;
}

}  // namespace

namespace detail {

CMSampleBufferRef makeScaledSampleBuffer(const CVPixelBufferRef& cameraFrame, CGSize finalSize) {
    if (!cameraFrame || cameraFrame->pixelFormatType() != kCVPixelFormatType_32BGRA) return nullptr;
    const auto width = static_cast<std::size_t>(finalSize.width),
               height = static_cast<std::size_t>(finalSize.height);
    if (width == 0 || height == 0) return nullptr;
    CVPixelBufferLockBaseAddress(cameraFrame, 0);
    const std::size_t sourceBytesPerRow = cameraFrame->bytesPerRow();
    NSData sourceBytes(cameraFrame->baseAddress(), sourceBytesPerRow * cameraFrame->height());
    CGImageRef cgImageFromBytes = CGImageCreate(cameraFrame->width(), cameraFrame->height(), 8, 32,
                                                sourceBytesPerRow, CGColorSpaceCreateDeviceRGB(),
                                                kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst,
                                                CGDataProviderCreateWithData(std::move(sourceBytes)));
    auto* imageData = static_cast<std::uint8_t*>(std::calloc(width * height * 4, 1));
    if (!imageData) {
        CVPixelBufferUnlockBaseAddress(cameraFrame, 0);
        return nullptr;
    }
    {
        auto imageContext =
            CGBitmapContextCreate(imageData, width, height, 8, width * 4, CGColorSpaceCreateDeviceRGB(),
                                  kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst);
        if (imageContext)
            CGContextDrawImage(imageContext, CGRectMake(0, 0, finalSize.width, finalSize.height),
                               cgImageFromBytes);
    }
    CVPixelBufferRef pixel_buffer;
    CVPixelBufferCreateWithBytes(
        width, height, kCVPixelFormatType_32BGRA, imageData, width * 4,
        [](void*, const void* base) { std::free(const_cast<void*>(base)); }, nullptr, &pixel_buffer);
    CVPixelBufferUnlockBaseAddress(cameraFrame, 0);
    if (!pixel_buffer) {
        std::free(imageData);
        return nullptr;
    }
    CMVideoFormatDescriptionRef videoInfo;
    CMVideoFormatDescriptionCreateForImageBuffer(pixel_buffer, &videoInfo);
    const CMTime frameTime = CMTimeMake(1, 30);
    CMSampleTimingInfo timing{frameTime, frameTime, kCMTimeInvalid};
    CMSampleBufferRef sampleBuffer;
    CMSampleBufferCreateForImageBuffer(pixel_buffer, true, videoInfo, timing, &sampleBuffer);
    return sampleBuffer;
}

}  // namespace detail

GPXStillCamera::GPXStillCamera(std::string sessionPreset, AVCaptureDevicePosition cameraPosition)
    : GPXVideoCamera(std::move(sessionPreset), cameraPosition) {}

Ref<GPXStillCamera> GPXStillCamera::camera() {
    return cameraWithSessionPreset(AVCaptureSessionPresetPhoto, AVCaptureDevicePositionBack);
}

Ref<GPXStillCamera> GPXStillCamera::cameraWithSessionPreset(const std::string& sessionPreset,
                                                            AVCaptureDevicePosition cameraPosition) {
    auto camera = make<GPXStillCamera>(sessionPreset, cameraPosition);
    return camera->initialized_ ? camera : nullptr;
}

void GPXStillCamera::didInit() {
    GPXVideoCamera::didInit();
    if (!initialized_) return;
    workaround_ = versionBelowSix();
    captureSession_->beginConfiguration();
    photoOutput_ = make<AVCaptureStillImagePixelOutput>();
    // Planar photos only where the camera converts planar frames itself (the texture cache);
    // otherwise its frame path uploads BGRA, and a planar photo would be read as BGRA.
    if (captureAsYUV_.load() && GPXContext::deviceSupportsRedTextures() &&
        GPXContext::supportsFastTextureUpload()) {
        bool supportsFullYUVRange = false;
        for (OSType format : photoOutput_->availableImageDataCVPixelFormatTypes())
            supportsFullYUVRange =
                supportsFullYUVRange || format == kCVPixelFormatType_420YpCbCr8BiPlanarFullRange;
        photoOutput_->setOutputSettings(
            Dictionary{{kCVPixelBufferPixelFormatTypeKey,
                        supportsFullYUVRange ? kCVPixelFormatType_420YpCbCr8BiPlanarFullRange
                                             : kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange}});
    } else {
        captureAsYUV_.store(false);
        photoOutput_->setOutputSettings(
            Dictionary{{kCVPixelBufferPixelFormatTypeKey, kCVPixelFormatType_32BGRA}});
        videoOutput()->setVideoSettings(
            Dictionary{{kCVPixelBufferPixelFormatTypeKey, kCVPixelFormatType_32BGRA}});
    }
    captureSession_->addOutput(photoOutput_);
    captureSession_->commitConfiguration();
    jpegCompressionQuality_.store(0.8);
}

void GPXStillCamera::removeInputsAndOutputs() {
    if (photoOutput_) captureSession_->removeOutput(photoOutput_);
    GPXVideoCamera::removeInputsAndOutputs();
}

void GPXStillCamera::capturePhotoAsSampleBufferWithCompletionHandler(SampleBufferHandler) {
    NSLogLine("If you want to use the method capturePhotoAsSampleBufferWithCompletionHandler:, you must "
              "comment out the line "
              "in GPXStillCamera in the method initWithSessionPreset:cameraPosition: which sets the "
              "CVPixelBufferPixelFormatTypeKey, as well as uncomment the rest of the method "
              "capturePhotoAsSampleBufferWithCompletionHandler:. However, if you do this you cannot use any "
              "of the photo "
              "capture methods to take a photo if you also supply a filter.");
}

Dictionary GPXStillCamera::currentCaptureMetadata() const {
    std::lock_guard lock(metadataMutex_);
    return currentCaptureMetadata_ ? *currentCaptureMetadata_ : Dictionary();
}

void GPXStillCamera::capturePhotoProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain,
                                                     std::function<void(const Ref<NSError>& error)> block) {
    capture(finalFilterInChain, [block](const Ref<NSError>& error, bool) {
        if (block) block(error);
    });
}

void GPXStillCamera::capture(const Ref<GPXOutput>& finalFilterInChain,
                             std::function<void(const Ref<NSError>& error, bool held)> block) {
    // A second request is refused at once: waiting for the frame semaphore first would hold the
    // caller until the first photo had been read.
    if (photoOutput_->isCapturingStillImage()) {
        if (block)
            block(
                stillError(AVErrorMaximumStillImageCaptureRequestsExceeded, "Too many still image requests."),
                false);
        return;
    }
    dispatch_semaphore_wait(frameRenderingSemaphore_, DISPATCH_TIME_FOREVER);
    auto connections = photoOutput_->connections();
    auto self = std::static_pointer_cast<GPXStillCamera>(NSObject::self());
    photoOutput_->captureStillImageAsynchronouslyFromConnection(
        connections.empty() ? nullptr : connections.front(),
        [self, finalFilterInChain, block](const CMSampleBufferRef& imageSampleBuffer,
                                          const Ref<NSError>& error) {
            if (!imageSampleBuffer) {
                if (block) block(error, true);
                return;
            }
            CVImageBufferRef cameraFrame = CMSampleBufferGetImageBuffer(imageSampleBuffer);
            const CGSize sizeOfPhoto =
                CGSizeMake(CVPixelBufferGetWidth(cameraFrame), CVPixelBufferGetHeight(cameraFrame));
            const CGSize scaledImageSizeToFitOnGPU =
                GPXContext::sizeThatFitsWithinATextureForSize(sizeOfPhoto);
            auto runThroughFilters = [&](const CMSampleBufferRef& buffer) {
                dispatch_semaphore_signal(self->frameRenderingSemaphore_);
                if (finalFilterInChain) finalFilterInChain->useNextFrameForImageCapture();
                self->captureOutputDidOutputSampleBuffer(self->photoOutput_, buffer, nullptr);
                dispatch_semaphore_wait(self->frameRenderingSemaphore_, DISPATCH_TIME_FOREVER);
            };
            if (scaledImageSizeToFitOnGPU != sizeOfPhoto) {
                if (CVPixelBufferGetPlaneCount(cameraFrame) > 0) {
                    NSLogLine("Error: no downsampling for YUV input in the framework yet");
                    // Nothing was processed: the photo fails rather than handing on a stale frame.
                    if (block)
                        block(stillError(kNoDownsamplingForYUV,
                                         "Error: no downsampling for YUV input in the framework yet"),
                              true);
                    return;
                }
                auto sampleToProcess = detail::makeScaledSampleBuffer(cameraFrame, scaledImageSizeToFitOnGPU);
                if (sampleToProcess) runThroughFilters(sampleToProcess);
            } else if (!(self->cameraPosition() == AVCaptureDevicePositionFront &&
                         GPXContext::supportsFastTextureUpload() && self->workaround_)) {
                runThroughFilters(imageSampleBuffer);
            }
            {
                std::lock_guard lock(self->metadataMutex_);
                self->currentCaptureMetadata_ =
                    CMCopyDictionaryOfAttachments(imageSampleBuffer, kCVAttachmentMode_ShouldPropagate);
            }
            if (block) block(nullptr, true);
            std::lock_guard lock(self->metadataMutex_);
            self->currentCaptureMetadata_.reset();
        });
}

Ref<UIImage> GPXStillCamera::processedImage(const Ref<GPXOutput>& finalFilterInChain,
                                            std::optional<UIImageOrientation> orientation) {
    if (!finalFilterInChain) return nullptr;
    return orientation ? finalFilterInChain->imageFromCurrentFramebufferWithOrientation(*orientation)
                       : finalFilterInChain->imageFromCurrentFramebuffer();
}

void GPXStillCamera::capturePhotoAsImageProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain,
                                                            ImageHandler block) {
    auto self = std::static_pointer_cast<GPXStillCamera>(NSObject::self());
    capture(finalFilterInChain, [self, finalFilterInChain, block](const Ref<NSError>& error, bool held) {
        Ref<UIImage> filteredPhoto;
        if (!error) filteredPhoto = self->processedImage(finalFilterInChain, std::nullopt);
        if (held) dispatch_semaphore_signal(self->frameRenderingSemaphore_);
        if (block) block(filteredPhoto, error);
    });
}

void GPXStillCamera::capturePhotoAsImageProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain,
                                                            UIImageOrientation orientation,
                                                            ImageHandler block) {
    auto self = std::static_pointer_cast<GPXStillCamera>(NSObject::self());
    capture(finalFilterInChain,
            [self, finalFilterInChain, orientation, block](const Ref<NSError>& error, bool held) {
                Ref<UIImage> filteredPhoto;
                if (!error) filteredPhoto = self->processedImage(finalFilterInChain, orientation);
                if (held) dispatch_semaphore_signal(self->frameRenderingSemaphore_);
                if (block) block(filteredPhoto, error);
            });
}

void GPXStillCamera::captureData(const Ref<GPXOutput>& finalFilterInChain,
                                 std::optional<UIImageOrientation> orientation, bool jpeg,
                                 DataHandler block) {
    auto self = std::static_pointer_cast<GPXStillCamera>(NSObject::self());
    capture(finalFilterInChain,
            [self, finalFilterInChain, orientation, jpeg, block](const Ref<NSError>& error, bool held) {
                std::optional<NSData> dataForImage;
                if (!error) {
                    Ref<UIImage> filteredPhoto = self->processedImage(finalFilterInChain, orientation);
                    if (held) dispatch_semaphore_signal(self->frameRenderingSemaphore_);
                    held = false;
                    if (filteredPhoto) {
                        dataForImage = jpeg ? UIImageJPEGRepresentation(filteredPhoto,
                                                                        self->jpegCompressionQuality_.load())
                                            : UIImagePNGRepresentation(filteredPhoto);
                    }
                }
                if (held) dispatch_semaphore_signal(self->frameRenderingSemaphore_);
                if (block) block(dataForImage, error);
            });
}

void GPXStillCamera::capturePhotoAsJPEGProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain,
                                                           DataHandler block) {
    captureData(finalFilterInChain, std::nullopt, true, std::move(block));
}

void GPXStillCamera::capturePhotoAsJPEGProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain,
                                                           UIImageOrientation orientation,
                                                           DataHandler block) {
    captureData(finalFilterInChain, orientation, true, std::move(block));
}

void GPXStillCamera::capturePhotoAsPNGProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain,
                                                          DataHandler block) {
    captureData(finalFilterInChain, std::nullopt, false, std::move(block));
}

void GPXStillCamera::capturePhotoAsPNGProcessedUpToFilter(const Ref<GPXOutput>& finalFilterInChain,
                                                          UIImageOrientation orientation, DataHandler block) {
    captureData(finalFilterInChain, orientation, false, std::move(block));
}
