#include "media/AVCapture.h"

#include <algorithm>

#include "dispatch/Dispatch.h"
#include "foundation/NSLog.h"
#include "foundation/NSThread.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"

namespace {

// The stand-in's cameras and what a capture answers with.
struct Cameras {
    std::mutex mutex;
    Ref<AVCaptureDevice> back;
    Ref<AVCaptureDevice> front;
    Ref<AVCaptureDevice> microphone;
    std::optional<NSData> frame;
    bool withoutBuffer = false;
    int captures = 0;
};

Cameras& cameras() {
    static Cameras* shared = [] {
        auto* c = new Cameras;
        c->back = make<AVCaptureDevice>("stand-in.camera.back", AVCaptureDevicePositionBack, true);
        c->front = make<AVCaptureDevice>("stand-in.camera.front", AVCaptureDevicePositionFront, false);
        c->microphone = make<AVCaptureDevice>("stand-in.microphone", AVMediaTypeAudio);
        return c;
    }();
    return *shared;
}

Ref<NSError> captureError(long code, const std::string& text) {
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject("NSLocalizedDescription", text);
    return NSError::errorWithDomain(AVFoundationErrorDomain, code, info);
}

// A plain grey picture for captures when no frame was supplied.
NSData greyFrame() {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(640, 480), true, 1);
    CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), 0.5, 0.5, 0.5, 1);
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 640, 480));
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return UIImageJPEGRepresentation(image, 0.9).value_or(NSData());
}

NSData currentFrame() {
    Cameras& c = cameras();
    {
        std::lock_guard lock(c.mutex);
        if (c.frame) return *c.frame;
    }
    static const NSData grey = greyFrame();
    return grey;
}

std::string gravityFor(const std::string& videoGravity) {
    if (videoGravity == AVLayerVideoGravityResizeAspectFill) return kCAGravityResizeAspectFill;
    if (videoGravity == AVLayerVideoGravityResize) return kCAGravityResize;
    return kCAGravityResizeAspect;
}

}  // namespace

// ---- devices ------------------------------------------------------------------------------------

AVCaptureDevice::AVCaptureDevice(std::string uniqueID, AVCaptureDevicePosition position, bool hasFlash)
    : uniqueID_(std::move(uniqueID)),
      position_(position),
      hasFlash_(hasFlash),
      flashMode_(hasFlash ? AVCaptureFlashModeAuto : AVCaptureFlashModeOff) {}

AVCaptureDevice::AVCaptureDevice(std::string uniqueID, std::string mediaType)
    : uniqueID_(std::move(uniqueID)),
      position_(AVCaptureDevicePositionUnspecified),
      hasFlash_(false),
      flashMode_(AVCaptureFlashModeOff),
      connected_(false),  // until a test connects it
      mediaType_(std::move(mediaType)) {}

Ref<AVCaptureDevice> AVCaptureDevice::defaultDeviceWithMediaType(const std::string& mediaType) {
    auto devices = devicesWithMediaType(mediaType);
    return devices.empty() ? nullptr : devices.front();
}

std::vector<Ref<AVCaptureDevice>> AVCaptureDevice::devicesWithMediaType(const std::string& mediaType) {
    std::vector<Ref<AVCaptureDevice>> devices;
    Cameras& c = cameras();
    std::lock_guard lock(c.mutex);
    if (mediaType == AVMediaTypeAudio && c.microphone->isConnected()) devices.push_back(c.microphone);
    if (mediaType != AVMediaTypeVideo) return devices;
    for (const Ref<AVCaptureDevice>& device : {c.back, c.front})
        if (device->isConnected()) devices.push_back(device);
    return devices;
}

bool AVCaptureDevice::isFlashModeSupported(AVCaptureFlashMode mode) const {
    return mode == AVCaptureFlashModeOff || hasFlash_;
}

bool AVCaptureDevice::isConnected() const {
    std::lock_guard lock(mutex_);
    return connected_;
}

AVCaptureFlashMode AVCaptureDevice::flashMode() const {
    std::lock_guard lock(mutex_);
    return flashMode_;
}

void AVCaptureDevice::setFlashMode(AVCaptureFlashMode mode) {
    std::lock_guard lock(mutex_);
    if (locks_ == 0) {
        NSLogLine("AVCaptureDevice: the flash mode changes only under lockForConfiguration");
        return;
    }
    if (mode != AVCaptureFlashModeOff && !hasFlash_) {
        NSLogLine("AVCaptureDevice: this camera has no flash");
        return;
    }
    flashMode_ = mode;
}

bool AVCaptureDevice::lockForConfiguration(Ref<NSError>* error) {
    std::lock_guard lock(mutex_);
    if (!connected_) {
        if (error) *error = captureError(AVErrorDeviceNotConnected, "The camera is not connected.");
        return false;
    }
    ++locks_;
    return true;
}

void AVCaptureDevice::unlockForConfiguration() {
    std::lock_guard lock(mutex_);
    if (locks_ > 0) --locks_;
}

CMTime AVCaptureDevice::activeVideoMinFrameDuration() const {
    std::lock_guard lock(mutex_);
    return minFrameDuration_;
}

void AVCaptureDevice::setActiveVideoMinFrameDuration(CMTime duration) {
    std::lock_guard lock(mutex_);
    if (locks_ == 0) {
        NSLogLine("AVCaptureDevice: frame durations change only under lockForConfiguration");
        return;
    }
    minFrameDuration_ = duration;
}

CMTime AVCaptureDevice::activeVideoMaxFrameDuration() const {
    std::lock_guard lock(mutex_);
    return maxFrameDuration_;
}

void AVCaptureDevice::setActiveVideoMaxFrameDuration(CMTime duration) {
    std::lock_guard lock(mutex_);
    if (locks_ == 0) {
        NSLogLine("AVCaptureDevice: frame durations change only under lockForConfiguration");
        return;
    }
    maxFrameDuration_ = duration;
}

// ---- inputs -------------------------------------------------------------------------------------

AVCaptureDeviceInput::AVCaptureDeviceInput(Ref<AVCaptureDevice> device) : device_(std::move(device)) {
    const bool audio = device_ && device_->hasMediaType(AVMediaTypeAudio);
    ports_.push_back(make<AVCaptureInputPort>(audio ? AVMediaTypeAudio : AVMediaTypeVideo));
}

Ref<AVCaptureDeviceInput> AVCaptureDeviceInput::deviceInputWithDevice(const Ref<AVCaptureDevice>& device,
                                                                      Ref<NSError>* error) {
    if (!device || !device->isConnected()) {
        if (error) *error = captureError(AVErrorDeviceNotConnected, "The camera is not connected.");
        return nullptr;
    }
    return make<AVCaptureDeviceInput>(device);
}

// ---- outputs ------------------------------------------------------------------------------------

std::vector<Ref<AVCaptureConnection>> AVCaptureOutput::connections() const {
    Ref<AVCaptureSession> session;
    {
        std::lock_guard lock(mutex_);
        session = session_.lock();
    }
    std::vector<Ref<AVCaptureConnection>> connections;
    if (!session) return connections;
    for (const Ref<AVCaptureInput>& input : session->inputs())
        connections.push_back(make<AVCaptureConnection>(input->ports()));
    return connections;
}

Dictionary AVCaptureStillImageOutput::outputSettings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

void AVCaptureStillImageOutput::setOutputSettings(Dictionary settings) {
    std::lock_guard lock(mutex_);
    settings_ = std::move(settings);
}

void AVCaptureStillImageOutput::captureStillImageAsynchronouslyFromConnection(
    const Ref<AVCaptureConnection>& connection, Handler handler) {
    Ref<AVCaptureSession> session;
    {
        std::lock_guard lock(mutex_);
        session = session_.lock();
    }
    Ref<AVCaptureSampleBuffer> buffer;
    Ref<NSError> error;
    bool without = false;
    {
        Cameras& c = cameras();
        std::lock_guard lock(c.mutex);
        ++c.captures;
        without = c.withoutBuffer;
    }
    if (!connection) {
        error = captureError(-11800, "No connection to capture from.");
    } else if (!session || !session->isRunning()) {
        error = captureError(AVErrorSessionNotRunning, "The capture session is not running.");
    } else if (without) {
        error = captureError(-11800, "The capture produced no picture.");
    } else {
        buffer = make<AVCaptureSampleBuffer>(currentFrame());
    }
    if (!handler) return;
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT),
                   [handler = std::move(handler), buffer, error] { handler(buffer, error); });
}

std::optional<NSData>
AVCaptureStillImageOutput::jpegStillImageNSDataRepresentation(const Ref<AVCaptureSampleBuffer>& buffer) {
    if (!buffer) return std::nullopt;
    return buffer->data();
}

// ---- the session --------------------------------------------------------------------------------

std::string AVCaptureSession::sessionPreset() const {
    std::lock_guard lock(mutex_);
    return preset_;
}

void AVCaptureSession::setSessionPreset(std::string preset) {
    std::lock_guard lock(mutex_);
    preset_ = std::move(preset);
}

bool AVCaptureSession::canAddInput(const Ref<AVCaptureInput>& input) const {
    if (!input) return false;
    std::lock_guard lock(mutex_);
    return std::find(inputs_.begin(), inputs_.end(), input) == inputs_.end();
}

void AVCaptureSession::addInput(const Ref<AVCaptureInput>& input) {
    if (!canAddInput(input)) return;
    std::lock_guard lock(mutex_);
    inputs_.push_back(input);
}

void AVCaptureSession::removeInput(const Ref<AVCaptureInput>& input) {
    std::lock_guard lock(mutex_);
    inputs_.erase(std::remove(inputs_.begin(), inputs_.end(), input), inputs_.end());
}

std::vector<Ref<AVCaptureInput>> AVCaptureSession::inputs() const {
    std::lock_guard lock(mutex_);
    return inputs_;
}

bool AVCaptureSession::canAddOutput(const Ref<AVCaptureOutput>& output) const {
    if (!output) return false;
    {
        std::lock_guard lock(output->mutex_);
        if (output->session_.lock()) return false;  // an output belongs to one session
    }
    std::lock_guard lock(mutex_);
    return std::find(outputs_.begin(), outputs_.end(), output) == outputs_.end();
}

void AVCaptureSession::addOutput(const Ref<AVCaptureOutput>& output) {
    if (!canAddOutput(output)) return;
    {
        std::lock_guard lock(output->mutex_);
        output->session_ = selfAs<AVCaptureSession>();
    }
    std::lock_guard lock(mutex_);
    outputs_.push_back(output);
}

void AVCaptureSession::removeOutput(const Ref<AVCaptureOutput>& output) {
    if (!output) return;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find(outputs_.begin(), outputs_.end(), output);
        if (it == outputs_.end()) return;
        outputs_.erase(it);
    }
    std::lock_guard lock(output->mutex_);
    output->session_.reset();
}

std::vector<Ref<AVCaptureOutput>> AVCaptureSession::outputs() const {
    std::lock_guard lock(mutex_);
    return outputs_;
}

void AVCaptureSession::beginConfiguration() {
    std::lock_guard lock(mutex_);
    ++configurationDepth_;
}

void AVCaptureSession::commitConfiguration() {
    std::lock_guard lock(mutex_);
    if (configurationDepth_ > 0) --configurationDepth_;
}

int AVCaptureSession::configurationDepth() const {
    std::lock_guard lock(mutex_);
    return configurationDepth_;
}

void AVCaptureSession::startRunning() {
    {
        std::lock_guard lock(mutex_);
        if (running_) return;
        running_ = true;
    }
    refreshPreviews();
}

void AVCaptureSession::stopRunning() {
    std::lock_guard lock(mutex_);
    running_ = false;
}

bool AVCaptureSession::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void AVCaptureSession::attachPreview(const Ref<AVCaptureVideoPreviewLayer>& layer) {
    {
        std::lock_guard lock(mutex_);
        previews_.push_back(layer);
    }
    if (isRunning()) refreshPreviews();
}

void AVCaptureSession::refreshPreviews() {
    std::vector<Weak<AVCaptureVideoPreviewLayer>> previews;
    {
        std::lock_guard lock(mutex_);
        previews_.erase(std::remove_if(previews_.begin(), previews_.end(),
                                       [](const Weak<AVCaptureVideoPreviewLayer>& w) { return w.expired(); }),
                        previews_.end());
        previews = previews_;
    }
    if (previews.empty()) return;
    Ref<UIImage> picture = UIImage::imageWithData(currentFrame());
    CGImageRef frame = picture ? picture->CGImage() : nullptr;
    auto show = [previews, frame] {
        for (const auto& weak : previews)
            if (auto layer = weak.lock()) layer->showFrame(frame);
    };
    // Layers belong to the main thread.
    if (NSThread::isMainThread())
        show();
    else
        dispatch_async(dispatch_get_main_queue(), show);
}

// ---- the preview layer --------------------------------------------------------------------------

AVCaptureVideoPreviewLayer::AVCaptureVideoPreviewLayer(Ref<AVCaptureSession> session)
    : session_(std::move(session)) {
    setContentsGravity(gravityFor(videoGravity_));
}

void AVCaptureVideoPreviewLayer::didInit() {
    if (session_) session_->attachPreview(selfAs<AVCaptureVideoPreviewLayer>());
}

Ref<AVCaptureVideoPreviewLayer>
AVCaptureVideoPreviewLayer::layerWithSession(const Ref<AVCaptureSession>& session) {
    return make<AVCaptureVideoPreviewLayer>(session);
}

void AVCaptureVideoPreviewLayer::setVideoGravity(std::string gravity) {
    videoGravity_ = std::move(gravity);
    setContentsGravity(gravityFor(videoGravity_));
}

void AVCaptureVideoPreviewLayer::showFrame(const CGImageRef& frame) {
    setContents(frame);
    ++framesShown_;
}

// ---- the stand-in -------------------------------------------------------------------------------

void AVCaptureStandIn::reset() {
    Cameras& c = cameras();
    std::lock_guard lock(c.mutex);
    for (const Ref<AVCaptureDevice>& old : {c.back, c.front}) {
        std::lock_guard deviceLock(old->mutex_);
        old->connected_ = false;
    }
    c.back = make<AVCaptureDevice>("stand-in.camera.back", AVCaptureDevicePositionBack, true);
    c.front = make<AVCaptureDevice>("stand-in.camera.front", AVCaptureDevicePositionFront, false);
    {
        std::lock_guard deviceLock(c.microphone->mutex_);
        c.microphone->connected_ = false;
    }
    c.frame.reset();
    c.withoutBuffer = false;
    c.captures = 0;
}

void AVCaptureStandIn::setCameraConnected(AVCaptureDevicePosition position, bool connected) {
    Cameras& c = cameras();
    std::lock_guard lock(c.mutex);
    const Ref<AVCaptureDevice>& device = position == AVCaptureDevicePositionFront ? c.front : c.back;
    std::lock_guard deviceLock(device->mutex_);
    device->connected_ = connected;
}

void AVCaptureStandIn::setStillFrame(std::optional<NSData> jpeg) {
    Cameras& c = cameras();
    std::lock_guard lock(c.mutex);
    c.frame = std::move(jpeg);
}

void AVCaptureStandIn::setAnswersWithoutBuffer(bool without) {
    Cameras& c = cameras();
    std::lock_guard lock(c.mutex);
    c.withoutBuffer = without;
}

int AVCaptureStandIn::captureCount() {
    Cameras& c = cameras();
    std::lock_guard lock(c.mutex);
    return c.captures;
}

void AVCaptureStandIn::setMicrophoneConnected(bool connected) {
    Cameras& c = cameras();
    std::lock_guard lock(c.mutex);
    std::lock_guard deviceLock(c.microphone->mutex_);
    c.microphone->connected_ = connected;
}
