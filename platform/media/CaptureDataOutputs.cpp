#include "media/CaptureDataOutputs.h"

#include <algorithm>

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<Weak<AVCaptureVideoDataOutput>> video;
    std::vector<Weak<AVCaptureAudioDataOutput>> audio;
    CMSampleBufferRef photo;
    bool photoSet = false;
    bool hold = false;
    std::vector<std::function<void()>> held;
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

template <class T>
std::vector<Ref<T>> live(std::vector<Weak<T>>& list) {
    std::vector<Ref<T>> result;
    list.erase(std::remove_if(list.begin(), list.end(), [](const Weak<T>& w) { return w.expired(); }),
               list.end());
    for (auto& w : list) {
        if (auto o = w.lock()) result.push_back(o);
    }
    return result;
}

std::atomic<long>& deliveredCount() {
    static std::atomic<long> count{0};
    return count;
}

std::atomic<long>& acceptedCount() {
    static std::atomic<long> count{0};
    return count;
}

const std::vector<OSType>& allFormats() {
    static const std::vector<OSType> formats{kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange,
                                             kCVPixelFormatType_420YpCbCr8BiPlanarFullRange,
                                             kCVPixelFormatType_32BGRA};
    return formats;
}

CMSampleBufferRef defaultPhoto() {
    return AVCapturePipelineStandIn::makeBGRASampleBuffer(640, 480, 0x808080ff, CMTimeMake(1, 30));
}

}  // namespace

void AVCaptureDataOutput::setSampleBufferDelegate(
    const Weak<AVCaptureVideoDataOutputSampleBufferDelegate>& delegate, dispatch_queue_t queue) {
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
    queue_ = std::move(queue);
}

Ref<AVCaptureVideoDataOutputSampleBufferDelegate> AVCaptureDataOutput::sampleBufferDelegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

bool AVCaptureDataOutput::deliverSampleBuffer(const CMSampleBufferRef& sampleBuffer) {
    Ref<AVCaptureSession> session;
    Weak<AVCaptureVideoDataOutputSampleBufferDelegate> delegate;
    dispatch_queue_t queue;
    {
        std::lock_guard lock(mutex_);
        session = session_.lock();
        delegate = delegate_;
        queue = queue_;
    }
    if (!session || !session->isRunning() || delegate.expired()) return false;
    if (!queue) queue = dispatch_get_main_queue();
    auto self = std::static_pointer_cast<AVCaptureOutput>(NSObject::self());
    auto connections = this->connections();
    Ref<AVCaptureConnection> connection = connections.empty() ? nullptr : connections.front();
    acceptedCount().fetch_add(1);
    dispatch_async(queue, [delegate, self, sampleBuffer, connection] {
        if (auto d = delegate.lock()) d->captureOutputDidOutputSampleBuffer(self, sampleBuffer, connection);
        deliveredCount().fetch_add(1);
    });
    return true;
}

void AVCaptureVideoDataOutput::didInit() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.video.push_back(std::static_pointer_cast<AVCaptureVideoDataOutput>(self()));
}

bool AVCaptureVideoDataOutput::alwaysDiscardsLateVideoFrames() const {
    std::lock_guard lock(mutex_);
    return alwaysDiscards_;
}

void AVCaptureVideoDataOutput::setAlwaysDiscardsLateVideoFrames(bool value) {
    std::lock_guard lock(mutex_);
    alwaysDiscards_ = value;
}

std::vector<OSType> AVCaptureVideoDataOutput::availableVideoCVPixelFormatTypes() const {
    return allFormats();
}

Dictionary AVCaptureVideoDataOutput::videoSettings() const {
    std::lock_guard lock(mutex_);
    return videoSettings_;
}

void AVCaptureVideoDataOutput::setVideoSettings(Dictionary settings) {
    std::lock_guard lock(mutex_);
    videoSettings_ = std::move(settings);
}

void AVCaptureAudioDataOutput::didInit() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.audio.push_back(std::static_pointer_cast<AVCaptureAudioDataOutput>(self()));
}

std::vector<OSType> AVCaptureStillImagePixelOutput::availableImageDataCVPixelFormatTypes() const {
    return allFormats();
}

Dictionary AVCaptureStillImagePixelOutput::outputSettings() const {
    std::lock_guard lock(stillMutex_);
    return settings_;
}

void AVCaptureStillImagePixelOutput::setOutputSettings(Dictionary settings) {
    std::lock_guard lock(stillMutex_);
    settings_ = std::move(settings);
}

bool AVCaptureStillImagePixelOutput::isCapturingStillImage() const {
    std::lock_guard lock(stillMutex_);
    return capturing_ > 0;
}

void AVCaptureStillImagePixelOutput::captureStillImageAsynchronouslyFromConnection(
    const Ref<AVCaptureConnection>& connection, Handler handler) {
    {
        std::lock_guard lock(stillMutex_);
        ++capturing_;
    }
    auto self = std::static_pointer_cast<AVCaptureStillImagePixelOutput>(NSObject::self());
    Ref<AVCaptureSession> session;
    {
        std::lock_guard lock(mutex_);
        session = session_.lock();
    }
    const bool running = session && session->isRunning() && connection;
    auto answer = [self, handler, running] {
        CMSampleBufferRef photo;
        Ref<NSError> error;
        {
            auto& r = registry();
            std::lock_guard lock(r.mutex);
            photo = r.photoSet ? r.photo : nullptr;
            if (!r.photoSet) photo = defaultPhoto();
        }
        if (!running || !photo) {
            photo = nullptr;
            error = NSError::errorWithDomain(
                AVFoundationErrorDomain, running ? -11800 : AVErrorSessionNotRunning,
                Dictionary{{NSLocalizedDescriptionKey,
                            running ? "The capture failed." : "The session is not running."}});
        }
        if (handler) handler(photo, error);
        std::lock_guard lock(self->stillMutex_);
        --self->capturing_;
    };
    auto& r = registry();
    {
        std::lock_guard lock(r.mutex);
        if (r.hold) {
            r.held.push_back([answer] {
                dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), answer);
            });
            return;
        }
    }
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), answer);
}

void AVCapturePipelineStandIn::reset() {
    auto& r = registry();
    std::vector<std::function<void()>> held;
    {
        std::lock_guard lock(r.mutex);
        r.photo.reset();
        r.photoSet = false;
        r.hold = false;
        held.swap(r.held);
    }
    for (auto& h : held) h();
}

int AVCapturePipelineStandIn::pushVideoSampleBuffer(const CMSampleBufferRef& sampleBuffer) {
    std::vector<Ref<AVCaptureVideoDataOutput>> outputs;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        outputs = live(r.video);
    }
    int taken = 0;
    for (auto& o : outputs) taken += o->deliverSampleBuffer(sampleBuffer) ? 1 : 0;
    return taken;
}

int AVCapturePipelineStandIn::pushAudioSampleBuffer(const CMSampleBufferRef& sampleBuffer) {
    std::vector<Ref<AVCaptureAudioDataOutput>> outputs;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        outputs = live(r.audio);
    }
    int taken = 0;
    for (auto& o : outputs) taken += o->deliverSampleBuffer(sampleBuffer) ? 1 : 0;
    return taken;
}

void AVCapturePipelineStandIn::setStillPhoto(CMSampleBufferRef photo) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.photo = std::move(photo);
    r.photoSet = true;
}

void AVCapturePipelineStandIn::setHoldStillCaptures(bool hold) {
    auto& r = registry();
    std::vector<std::function<void()>> held;
    {
        std::lock_guard lock(r.mutex);
        r.hold = hold;
        if (!hold) held.swap(r.held);
    }
    for (auto& h : held) h();
}

CMSampleBufferRef AVCapturePipelineStandIn::makeBGRASampleBuffer(std::size_t width, std::size_t height,
                                                                 std::uint32_t rgba, CMTime time,
                                                                 std::size_t bytesPerRow) {
    if (bytesPerRow < width * 4) bytesPerRow = width * 4;
    auto* bytes = new std::uint8_t[bytesPerRow * height];
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < bytesPerRow / 4; ++x) {
            std::uint8_t* p = bytes + y * bytesPerRow + x * 4;
            p[0] = static_cast<std::uint8_t>(rgba >> 8);
            p[1] = static_cast<std::uint8_t>(rgba >> 16);
            p[2] = static_cast<std::uint8_t>(rgba >> 24);
            p[3] = static_cast<std::uint8_t>(rgba);
        }
    }
    CVPixelBufferRef buffer;
    CVPixelBufferCreateWithBytes(
        width, height, kCVPixelFormatType_32BGRA, bytes, bytesPerRow,
        [](void*, const void* base) { delete[] static_cast<const std::uint8_t*>(base); }, nullptr, &buffer);
    CMVideoFormatDescriptionRef format;
    CMVideoFormatDescriptionCreateForImageBuffer(buffer, &format);
    CMSampleBufferRef sample;
    CMSampleBufferCreateForImageBuffer(buffer, true, format,
                                       CMSampleTimingInfo{CMTimeMake(1, 30), time, kCMTimeInvalid}, &sample);
    return sample;
}

long AVCapturePipelineStandIn::deliveredSampleBufferCount() {
    return deliveredCount().load();
}

long AVCapturePipelineStandIn::acceptedSampleBufferCount() {
    return acceptedCount().load();
}
