#include "gpu/media/GPXVideoCamera.h"

#include "dispatch/Clock.h"
#include "foundation/NSLog.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFilter.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXShaders.h"
#include "gpu/media/GPXMediaShaders.h"

namespace {

const GLfloat kSquareVertices[] = {-1.0f, -1.0f, 1.0f, -1.0f, -1.0f, 1.0f, 1.0f, 1.0f};

double nowSeconds() {
    return PlatformClock::monotonic();
}

// The last video device at the position.
Ref<AVCaptureDevice> cameraAt(AVCaptureDevicePosition position) {
    Ref<AVCaptureDevice> found;
    for (auto& device : AVCaptureDevice::devicesWithMediaType(AVMediaTypeVideo)) {
        if (device->position() == position) found = device;
    }
    return found;
}

}  // namespace

namespace detail {

GPURotationMode cameraRotation(bool backCamera, bool mirrored, UIInterfaceOrientation orientation) {
    switch (orientation) {
        case UIInterfaceOrientationPortrait:
            return mirrored ? rotationRightFlipVertical : rotationRight;
        case UIInterfaceOrientationPortraitUpsideDown:
            if (mirrored) return backCamera ? rotation180 : rotationRightFlipHorizontal;
            return rotationLeft;
        case UIInterfaceOrientationLandscapeLeft:
            if (mirrored) return rotationFlipHorizontal;
            return backCamera ? rotation180 : rotationNone;
        case UIInterfaceOrientationLandscapeRight:
            if (mirrored) return rotationFlipVertical;
            return backCamera ? rotationNone : rotation180;
        default:
            return rotationNone;
    }
}

}  // namespace detail

GPXVideoCamera::GPXVideoCamera(std::string sessionPreset, AVCaptureDevicePosition cameraPosition)
    : frameRenderingSemaphore_(dispatch_semaphore_create(1)),
      requestedPreset_(std::move(sessionPreset)),
      requestedPosition_(cameraPosition),
      cameraProcessingQueue_(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_HIGH, 0)),
      audioProcessingQueue_(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_LOW, 0)) {}

Ref<GPXVideoCamera> GPXVideoCamera::camera() {
    return cameraWithSessionPreset(AVCaptureSessionPreset640x480, AVCaptureDevicePositionBack);
}

Ref<GPXVideoCamera> GPXVideoCamera::cameraWithSessionPreset(const std::string& sessionPreset,
                                                            AVCaptureDevicePosition cameraPosition) {
    auto camera = make<GPXVideoCamera>(sessionPreset, cameraPosition);
    return camera->initialized_ ? camera : nullptr;
}

void GPXVideoCamera::didInit() {
    preferredConversion_ = conversionMatrixBT709Video;
    auto camera = cameraAt(requestedPosition_);
    if (!camera) return;
    {
        std::lock_guard lock(mutex_);
        inputCamera_ = camera;
    }
    captureSession_ = make<AVCaptureSession>();
    captureSession_->beginConfiguration();
    Ref<NSError> error;
    auto input = AVCaptureDeviceInput::deviceInputWithDevice(camera, &error);
    if (input && captureSession_->canAddInput(input)) {
        captureSession_->addInput(input);
        std::lock_guard lock(mutex_);
        videoInput_ = input;
    }

    videoOutput_ = make<AVCaptureVideoDataOutput>();
    videoOutput_->setAlwaysDiscardsLateVideoFrames(false);
    const bool fast = GPXContext::supportsFastTextureUpload();
    if (captureAsYUV_.load() && fast) {
        bool supportsFullYUVRange = false;
        for (OSType format : videoOutput_->availableVideoCVPixelFormatTypes())
            supportsFullYUVRange =
                supportsFullYUVRange || format == kCVPixelFormatType_420YpCbCr8BiPlanarFullRange;
        performSyncOnSharedContextQueue([&] { isFullYUVRange_ = supportsFullYUVRange; });
        videoOutput_->setVideoSettings(
            Dictionary{{kCVPixelBufferPixelFormatTypeKey,
                        supportsFullYUVRange ? kCVPixelFormatType_420YpCbCr8BiPlanarFullRange
                                             : kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange}});
    } else {
        videoOutput_->setVideoSettings(
            Dictionary{{kCVPixelBufferPixelFormatTypeKey, kCVPixelFormatType_32BGRA}});
    }

    performSyncOnSharedContextQueue([&] {
        if (!captureAsYUV_.load()) return;
        GPXContext::useImageProcessingContext();
        const char* fragment = isFullYUVRange_ ? kGPXYUVFullRangeConversionForLAFragmentShaderString
                                               : kGPXYUVVideoRangeConversionForLAFragmentShaderString;
        yuvConversion_.prepare(fragment);
    });

    videoOutput_->setSampleBufferDelegate(std::static_pointer_cast<GPXVideoCamera>(self()),
                                          cameraProcessingQueue_);
    if (!captureSession_->canAddOutput(videoOutput_)) {
        NSLogLine("Couldn't add video output");
        captureSession_->commitConfiguration();
        return;
    }
    captureSession_->addOutput(videoOutput_);
    {
        std::lock_guard lock(mutex_);
        captureSessionPreset_ = requestedPreset_;
    }
    captureSession_->setSessionPreset(requestedPreset_);
    captureSession_->commitConfiguration();
    initialized_ = true;
}

GPXVideoCamera::~GPXVideoCamera() {
    if (!captureSession_) return;
    stopCameraCapture();
    if (videoOutput_) videoOutput_->setSampleBufferDelegate({}, dispatch_get_main_queue());
    Ref<AVCaptureAudioDataOutput> audio;
    {
        std::lock_guard lock(mutex_);
        audio = audioOutput_;
    }
    if (audio) audio->setSampleBufferDelegate({}, dispatch_get_main_queue());
    removeInputsAndOutputs();
}

void GPXVideoCamera::removeInputsAndOutputs() {
    Ref<AVCaptureDeviceInput> video, audioIn;
    Ref<AVCaptureAudioDataOutput> audioOut;
    Ref<AVCaptureDevice> microphone;
    {
        std::lock_guard lock(mutex_);
        video = videoInput_;
        audioIn = audioInput_;
        audioOut = audioOutput_;
        microphone = microphone_;
    }
    captureSession_->beginConfiguration();
    if (video) {
        captureSession_->removeInput(video);
        captureSession_->removeOutput(videoOutput_);
        std::lock_guard lock(mutex_);
        videoInput_.reset();
    }
    if (microphone) {
        captureSession_->removeInput(audioIn);
        captureSession_->removeOutput(audioOut);
        std::lock_guard lock(mutex_);
        audioInput_.reset();
        audioOutput_.reset();
        microphone_.reset();
    }
    captureSession_->commitConfiguration();
}

bool GPXVideoCamera::addAudioInputsAndOutputs() {
    {
        std::lock_guard lock(mutex_);
        if (audioOutput_) return false;
    }
    captureSession_->beginConfiguration();
    auto microphone = AVCaptureDevice::defaultDeviceWithMediaType(AVMediaTypeAudio);
    Ref<NSError> error;
    auto audioInput = AVCaptureDeviceInput::deviceInputWithDevice(microphone, &error);
    if (audioInput && captureSession_->canAddInput(audioInput)) captureSession_->addInput(audioInput);
    auto audioOutput = make<AVCaptureAudioDataOutput>();
    if (captureSession_->canAddOutput(audioOutput)) {
        captureSession_->addOutput(audioOutput);
    } else {
        NSLogLine("Couldn't add audio output");
    }
    audioOutput->setSampleBufferDelegate(std::static_pointer_cast<GPXVideoCamera>(self()),
                                         audioProcessingQueue_);
    {
        std::lock_guard lock(mutex_);
        microphone_ = microphone;
        audioInput_ = audioInput;
        audioOutput_ = audioOutput;
    }
    captureSession_->commitConfiguration();
    return true;
}

bool GPXVideoCamera::removeAudioInputsAndOutputs() {
    Ref<AVCaptureDeviceInput> audioIn;
    Ref<AVCaptureAudioDataOutput> audioOut;
    {
        std::lock_guard lock(mutex_);
        if (!audioOutput_) return false;
        audioIn = audioInput_;
        audioOut = audioOutput_;
    }
    captureSession_->beginConfiguration();
    captureSession_->removeInput(audioIn);
    captureSession_->removeOutput(audioOut);
    {
        std::lock_guard lock(mutex_);
        audioInput_.reset();
        audioOutput_.reset();
        microphone_.reset();
    }
    captureSession_->commitConfiguration();
    return true;
}

void GPXVideoCamera::startCameraCapture() {
    if (!captureSession_->isRunning()) {
        {
            std::lock_guard lock(mutex_);
            startingCaptureTime_ = NSDate::date();
        }
        captureSession_->startRunning();
    }
}

void GPXVideoCamera::stopCameraCapture() {
    if (captureSession_->isRunning()) captureSession_->stopRunning();
}

void GPXVideoCamera::rotateCamera() {
    if (!frontFacingCameraPresent()) return;
    Ref<AVCaptureDeviceInput> oldInput;
    {
        std::lock_guard lock(mutex_);
        oldInput = videoInput_;
    }
    const AVCaptureDevicePosition current = oldInput ? oldInput->device()->position() : requestedPosition_;
    const AVCaptureDevicePosition wanted =
        current == AVCaptureDevicePositionBack ? AVCaptureDevicePositionFront : AVCaptureDevicePositionBack;
    auto backFacingCamera = cameraAt(wanted);
    Ref<NSError> error;
    auto newVideoInput = AVCaptureDeviceInput::deviceInputWithDevice(backFacingCamera, &error);
    if (!newVideoInput) return;
    captureSession_->beginConfiguration();
    if (oldInput) captureSession_->removeInput(oldInput);
    bool swapped = false;
    if (captureSession_->canAddInput(newVideoInput)) {
        captureSession_->addInput(newVideoInput);
        swapped = true;
    } else if (oldInput) {
        captureSession_->addInput(oldInput);
    }
    captureSession_->commitConfiguration();
    {
        std::lock_guard lock(mutex_);
        // The camera in use stays the one the session holds when the new input was refused.
        if (swapped) {
            videoInput_ = newVideoInput;
            inputCamera_ = backFacingCamera;
        }
    }
    setOutputImageOrientation(outputImageOrientation_.load());
}

AVCaptureDevicePosition GPXVideoCamera::cameraPosition() const {
    std::lock_guard lock(mutex_);
    return videoInput_ ? videoInput_->device()->position() : AVCaptureDevicePositionUnspecified;
}

bool GPXVideoCamera::isBackFacingCameraPresent() {
    return cameraAt(AVCaptureDevicePositionBack) != nullptr;
}

bool GPXVideoCamera::isFrontFacingCameraPresent() {
    return cameraAt(AVCaptureDevicePositionFront) != nullptr;
}

void GPXVideoCamera::setCaptureSessionPreset(const std::string& preset) {
    captureSession_->beginConfiguration();
    {
        std::lock_guard lock(mutex_);
        captureSessionPreset_ = preset;
    }
    captureSession_->setSessionPreset(preset);
    captureSession_->commitConfiguration();
}

std::string GPXVideoCamera::captureSessionPreset() const {
    std::lock_guard lock(mutex_);
    return captureSessionPreset_;
}

void GPXVideoCamera::setFrameRate(std::int32_t frameRate) {
    frameRate_.store(frameRate);
    auto camera = inputCamera();
    if (!camera) return;
    // Every camera here takes active frame durations; the connections' older setters are unused.
    Ref<NSError> error;
    if (camera->lockForConfiguration(&error)) {
        const CMTime duration = frameRate > 0 ? CMTimeMake(1, frameRate) : kCMTimeInvalid;
        camera->setActiveVideoMinFrameDuration(duration);
        camera->setActiveVideoMaxFrameDuration(duration);
        camera->unlockForConfiguration();
    }
}

Ref<AVCaptureConnection> GPXVideoCamera::videoCaptureConnection() const {
    for (auto& connection : videoOutput_->connections()) {
        for (auto& port : connection->inputPorts()) {
            if (port->mediaType() == AVMediaTypeVideo) return connection;
        }
    }
    return nullptr;
}

void GPXVideoCamera::addTargetAtTextureLocation(const Ref<GPXInput>& newTarget, long textureLocation) {
    GPXOutput::addTargetAtTextureLocation(newTarget, textureLocation);
    if (!newTarget) return;
    performSyncOnSharedContextQueue([&] { newTarget->setInputRotation(outputRotation_, textureLocation); });
}

void GPXVideoCamera::setAudioEncodingTarget(const Ref<GPXMovieWriter>& newValue) {
    if (newValue) {
        const bool added = addAudioInputsAndOutputs();
        std::lock_guard lock(mutex_);
        addedAudioInputsDueToEncodingTarget_ = addedAudioInputsDueToEncodingTarget_ || added;
    } else {
        bool added;
        {
            std::lock_guard lock(mutex_);
            added = addedAudioInputsDueToEncodingTarget_;
            addedAudioInputsDueToEncodingTarget_ = false;
        }
        if (added) removeAudioInputsAndOutputs();
    }
    {
        std::lock_guard lock(mutex_);
        audioEncodingTarget_ = newValue;
    }
    if (newValue && !newValue->hasAudioTrack()) newValue->setHasAudioTrack(true);
}

Ref<GPXMovieWriter> GPXVideoCamera::audioEncodingTarget() const {
    std::lock_guard lock(mutex_);
    return audioEncodingTarget_;
}

double GPXVideoCamera::averageFrameDurationDuringCapture() const {
    std::lock_guard lock(mutex_);
    // With five frames or fewer nothing has been timed (the first five are not counted).
    if (numberOfFramesCaptured_ <= 5) return 0;
    return totalFrameTimeDuringCapture_ / static_cast<double>(numberOfFramesCaptured_ - 5) * 1000.0;
}

void GPXVideoCamera::resetBenchmarkAverage() {
    std::lock_guard lock(mutex_);
    numberOfFramesCaptured_ = 0;
    totalFrameTimeDuringCapture_ = 0;
}

Ref<GPXFramebuffer> GPXVideoCamera::framebufferForOutput() {
    return GPXOutput::framebufferForOutput();
}

Ref<AVCaptureDevice> GPXVideoCamera::inputCamera() const {
    std::lock_guard lock(mutex_);
    return inputCamera_;
}

void GPXVideoCamera::setDelegate(const Weak<GPXVideoCameraDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
}

void GPXVideoCamera::setHorizontallyMirrorFrontFacingCamera(bool v) {
    mirrorFront_.store(v);
    updateOrientationSendToTargets();
}

void GPXVideoCamera::setHorizontallyMirrorRearFacingCamera(bool v) {
    mirrorRear_.store(v);
    updateOrientationSendToTargets();
}

void GPXVideoCamera::setOutputImageOrientation(UIInterfaceOrientation orientation) {
    outputImageOrientation_.store(orientation);
    updateOrientationSendToTargets();
}

GPURotationMode GPXVideoCamera::outputRotation() {
    GPURotationMode r = rotationNone;
    performSyncOnSharedContextQueue([&] { r = outputRotation_; });
    return r;
}

GPURotationMode GPXVideoCamera::internalRotation() {
    GPURotationMode r = rotationNone;
    performSyncOnSharedContextQueue([&] { r = internalRotation_; });
    return r;
}

void GPXVideoCamera::updateOrientationSendToTargets() {
    const bool back = cameraPosition() == AVCaptureDevicePositionBack;
    const bool mirrored = back ? mirrorRear_.load() : mirrorFront_.load();
    const GPURotationMode rotation = detail::cameraRotation(back, mirrored, outputImageOrientation_.load());
    performSyncOnSharedContextQueue([&] {
        if (captureAsYUV_.load() && GPXContext::supportsFastTextureUpload()) {
            outputRotation_ = rotationNone;
            internalRotation_ = rotation;
        } else {
            outputRotation_ = rotation;
        }
        for (std::size_t i = 0; i < targets_.size(); ++i)
            targets_[i]->setInputRotation(outputRotation_, targetTextureIndices_[i]);
    });
}

void GPXVideoCamera::captureOutputDidOutputSampleBuffer(const Ref<AVCaptureOutput>& captureOutput,
                                                        const CMSampleBufferRef& sampleBuffer,
                                                        const Ref<AVCaptureConnection>&) {
    if (!captureSession_->isRunning()) return;
    Ref<AVCaptureAudioDataOutput> audio;
    {
        std::lock_guard lock(mutex_);
        audio = audioOutput_;
    }
    if (audio && captureOutput == audio) {
        processAudioSampleBuffer(sampleBuffer);
        return;
    }
    if (dispatch_semaphore_wait(frameRenderingSemaphore_, DISPATCH_TIME_NOW) != 0) return;
    auto keepAlive = std::static_pointer_cast<GPXVideoCamera>(self());
    performAsyncOnSharedContextQueue([keepAlive, sampleBuffer] {
        Ref<GPXVideoCameraDelegate> delegate;
        {
            std::lock_guard lock(keepAlive->mutex_);
            delegate = keepAlive->delegate_.lock();
        }
        if (delegate) delegate->willOutputSampleBuffer(sampleBuffer);
        keepAlive->processVideoSampleBuffer(sampleBuffer);
        dispatch_semaphore_signal(keepAlive->frameRenderingSemaphore_);
    });
}

void GPXVideoCamera::processAudioSampleBuffer(const CMSampleBufferRef& sampleBuffer) {
    if (auto target = audioEncodingTarget()) target->processAudioBuffer(sampleBuffer);
}

void GPXVideoCamera::processVideoSampleBuffer(const CMSampleBufferRef& sampleBuffer) {
    if (capturePaused_.load()) return;
    performSyncOnSharedContextQueue([&] {
        const double startTime = nowSeconds();
        CVImageBufferRef cameraFrame = CMSampleBufferGetImageBuffer(sampleBuffer);
        if (!cameraFrame) return;
        int bufferWidth = static_cast<int>(CVPixelBufferGetWidth(cameraFrame));
        int bufferHeight = static_cast<int>(CVPixelBufferGetHeight(cameraFrame));
        preferredConversion_ = detail::conversionMatrixForBuffer(cameraFrame, isFullYUVRange_);
        const CMTime currentTime = CMSampleBufferGetPresentationTimeStamp(sampleBuffer);
        GPXContext::useImageProcessingContext();

        if (GPXContext::supportsFastTextureUpload() && captureAsYUV_.load()) {
            // The texture cache path; this platform offers no cache, so it is never taken.
            if (CVPixelBufferGetPlaneCount(cameraFrame) == 0) return;
            if (bufferWidth != imageBufferWidth_ || bufferHeight != imageBufferHeight_) {
                imageBufferWidth_ = bufferWidth;
                imageBufferHeight_ = bufferHeight;
            }
            convertYUVToRGBOutput();
            int rotatedWidth = bufferWidth, rotatedHeight = bufferHeight;
            if (GPURotationSwapsWidthAndHeight(internalRotation_)) std::swap(rotatedWidth, rotatedHeight);
            updateTargetsForVideoCameraUsingCacheTextureAtWidth(rotatedWidth, rotatedHeight, currentTime);
        } else {
            CVPixelBufferLockBaseAddress(cameraFrame, 0);
            bufferWidth = static_cast<int>(CVPixelBufferGetBytesPerRow(cameraFrame) / 4);
            outputFramebuffer_ = GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(
                CGSizeMake(bufferWidth, bufferHeight), true);
            outputFramebuffer_->activateFramebuffer();
            glBindTexture(GL_TEXTURE_2D, outputFramebuffer_->texture());
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, bufferWidth, bufferHeight, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                         CVPixelBufferGetBaseAddress(cameraFrame));
            updateTargetsForVideoCameraUsingCacheTextureAtWidth(bufferWidth, bufferHeight, currentTime);
            CVPixelBufferUnlockBaseAddress(cameraFrame, 0);
        }
        if (runBenchmark_.load()) {
            std::lock_guard lock(mutex_);
            ++numberOfFramesCaptured_;
            if (numberOfFramesCaptured_ > 5) totalFrameTimeDuringCapture_ += nowSeconds() - startTime;
        }
    });
}

void GPXVideoCamera::convertYUVToRGBOutput() {
    if (!yuvConversion_.program) return;
    GPXContext::setActiveShaderProgram(yuvConversion_.program);
    int rotatedWidth = imageBufferWidth_, rotatedHeight = imageBufferHeight_;
    if (GPURotationSwapsWidthAndHeight(internalRotation_)) std::swap(rotatedWidth, rotatedHeight);
    outputFramebuffer_ = GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(
        CGSizeMake(rotatedWidth, rotatedHeight), outputTextureOptions_, false);
    outputFramebuffer_->activateFramebuffer();
    yuvConversion_.draw(preferredConversion_, kSquareVertices,
                        GPXFilter::textureCoordinatesForRotation(internalRotation_));
}

void GPXVideoCamera::updateTargetsForVideoCameraUsingCacheTextureAtWidth(int bufferWidth, int bufferHeight,
                                                                         CMTime currentTime) {
    const auto list = targets_;
    const auto indices = targetTextureIndices_;
    const auto ignored = targetToIgnoreForUpdates_.lock();
    const CGSize size = CGSizeMake(bufferWidth, bufferHeight);
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!list[i]->enabled()) continue;
        if (list[i] != ignored) {
            list[i]->setInputRotation(outputRotation_, indices[i]);
            list[i]->setInputSize(size, indices[i]);
            list[i]->setCurrentlyReceivingMonochromeInput(list[i]->wantsMonochromeInput() &&
                                                          captureAsYUV_.load());
            list[i]->setInputFramebuffer(outputFramebuffer_, indices[i]);
        } else {
            list[i]->setInputRotation(outputRotation_, indices[i]);
            list[i]->setInputFramebuffer(outputFramebuffer_, indices[i]);
        }
    }
    outputFramebuffer_->unlock();
    outputFramebuffer_.reset();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i]->enabled() && list[i] != ignored) list[i]->newFrameReadyAtTime(currentTime, indices[i]);
    }
}
