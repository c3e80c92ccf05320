#include "gpu/media/GPXMovieWriter.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "foundation/NSLog.h"
#include "gpu/core/GPXAssert.h"
#include "gpu/core/GPXFilter.h"
#include "gpu/core/GPXRawDataOutput.h"
#include "gpu/core/GPXShaders.h"
#include "gpu/media/GPXMediaShaders.h"
#include "media/CADisplayLink.h"

namespace {

const GLfloat kSquareVertices[] = {-1.0f, -1.0f, 1.0f, -1.0f, -1.0f, 1.0f, 1.0f, 1.0f};

// A 32-byte channel layout record with only the mono tag set.
NSData monoChannelLayout() {
    NSData layout = NSData::dataWithLength(32);
    const std::uint32_t tag = kAudioChannelLayoutTag_Mono;
    std::memcpy(layout.mutableBytes(), &tag, sizeof(tag));
    return layout;
}

// A writer must not go on its own context's thread: its context's thread would have to join
// itself. Work on that thread hands its reference to a global queue when done.
void releaseElsewhere(Ref<GPXMovieWriter> writer) {
    if (writer) dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), [writer] {});
}

}  // namespace

GPXMovieWriter::GPXMovieWriter(Ref<NSURL> newMovieURL, CGSize newSize)
    : GPXMovieWriter(std::move(newMovieURL), newSize, AVFileTypeQuickTimeMovie, Value()) {}

GPXMovieWriter::GPXMovieWriter(Ref<NSURL> newMovieURL, CGSize newSize, std::string newFileType,
                               Value outputSettings)
    : movieURL_(std::move(newMovieURL)),
      fileType_(std::move(newFileType)),
      outputSettings_(std::move(outputSettings)),
      videoSize_(newSize) {
    const Dictionary* settings = outputSettings_.dictionary();
    const Value live = settings ? (*settings)[kGPXMovieWriterEncodingLiveVideoKey] : Value();
    encodingLiveVideo_.store(live.isNumber() ? live.boolValue() : true);
}

void GPXMovieWriter::didInit() {
    movieWriterContext_ = make<GPXContext>();
    movieWriterContext_->useSharegroup(GPXContext::sharedImageProcessingContext()->context()->sharegroup());
    performSyncOnContextQueue(movieWriterContext_, [this] {
        movieWriterContext_->useAsCurrentContext();
        // Without fast upload the frame is read back, so the program puts it in BGRA order first.
        const char* fragment = GPXContext::supportsFastTextureUpload()
                                   ? kGPXPassthroughFragmentShaderString
                                   : kGPXColorSwizzlingFragmentShaderString;
        colorSwizzlingProgram_ = detail::linkedProgram(
            movieWriterContext_->programForVertexShaderString(kGPXDefaultVertexShaderString, fragment));
        if (!colorSwizzlingProgram_) return;
        colorSwizzlingPositionAttribute_ =
            static_cast<GLint>(colorSwizzlingProgram_->attributeIndex("position"));
        colorSwizzlingTextureCoordinateAttribute_ =
            static_cast<GLint>(colorSwizzlingProgram_->attributeIndex("inputTextureCoordinate"));
        colorSwizzlingInputTextureUniform_ =
            static_cast<GLint>(colorSwizzlingProgram_->uniformIndex("inputImageTexture"));
        movieWriterContext_->setContextShaderProgram(colorSwizzlingProgram_);
        glEnableVertexAttribArray(static_cast<GLuint>(colorSwizzlingPositionAttribute_));
        glEnableVertexAttribArray(static_cast<GLuint>(colorSwizzlingTextureCoordinateAttribute_));
    });
    initializeMovieWithOutputSettings(outputSettings_);
}

GPXMovieWriter::~GPXMovieWriter() {
    if (movieWriterContext_) performSyncOnContextQueue(movieWriterContext_, [this] { destroyDataFBO(); });
    Ref<GPXFramebuffer> held;
    {
        std::lock_guard lock(mutex_);
        held = std::move(firstInputFramebuffer_);
    }
    if (held) held->unlock();
}

void GPXMovieWriter::reportFailure(const Ref<NSError>& error) {
    NSLogLine("Error: " + (error ? error->localizedDescription() : std::string("(null)")));
    std::function<void(const Ref<NSError>&)> failure;
    Ref<GPXMovieWriterDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        failure = failureBlock_;
        delegate = delegate_.lock();
    }
    if (failure) {
        failure(error);
    } else if (delegate && delegate->implementsMovieRecordingFailedWithError()) {
        delegate->movieRecordingFailedWithError(error);
    }
}

void GPXMovieWriter::initializeMovieWithOutputSettings(Value outputSettings) {
    isRecording_.store(false);
    enabled_.store(true);
    Ref<NSError> error;
    assetWriter_ = AVAssetWriter::assetWriterWithURL(movieURL_, fileType_, &error);
    if (error) reportFailure(error);
    assetWriter_->setMovieFragmentInterval(CMTimeMakeWithSeconds(1.0, 1000));

    Dictionary settings;
    if (const Dictionary* given = outputSettings.dictionary()) {
        if (!given->containsKey(AVVideoCodecKey) || !given->containsKey(AVVideoWidthKey) ||
            !given->containsKey(AVVideoHeightKey)) {
            detail::gpxAssertionFailure("OutputSettings is missing required parameters.");
        }
        settings = *given;
        if (given->containsKey(kGPXMovieWriterEncodingLiveVideoKey)) {
            settings = given->mutableCopy();
            settings.removeObjectForKey(kGPXMovieWriterEncodingLiveVideoKey);
        }
    } else {
        settings = Dictionary{{AVVideoCodecKey, AVVideoCodecH264},
                              {AVVideoWidthKey, static_cast<long>(videoSize_.width)},
                              {AVVideoHeightKey, static_cast<long>(videoSize_.height)}};
    }
    assetWriterVideoInput_ = AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeVideo, settings);
    assetWriterVideoInput_->setExpectsMediaDataInRealTime(encodingLiveVideo_.load());
    Dictionary attributes{{kCVPixelBufferPixelFormatTypeKey, kCVPixelFormatType_32BGRA},
                          {kCVPixelBufferWidthKey, static_cast<long>(videoSize_.width)},
                          {kCVPixelBufferHeightKey, static_cast<long>(videoSize_.height)}};
    assetWriterPixelBufferInput_ =
        AVAssetWriterInputPixelBufferAdaptor::assetWriterInputPixelBufferAdaptorWithAssetWriterInput(
            assetWriterVideoInput_, attributes);
    assetWriter_->addInput(assetWriterVideoInput_);
    // The asset writer fails at once on settings it refuses; say why, as for a creation error.
    if (!error && assetWriter_->status() == AVAssetWriterStatusFailed) reportFailure(assetWriter_->error());
}

bool GPXMovieWriter::reportWriterFailure() {
    if (assetWriter_->status() != AVAssetWriterStatusFailed) return false;
    if (!failureReported_.exchange(true)) {
        Ref<NSError> error = assetWriter_->error();
        if (!error) error = NSError::errorWithDomain(AVFoundationErrorDomain, AVErrorUnknown, Dictionary());
        reportFailure(error);
    }
    return true;
}

void GPXMovieWriter::setHasAudioTrack(bool newValue) {
    setHasAudioTrack(newValue, Value());
}

void GPXMovieWriter::setHasAudioTrack(bool newValue, Value audioOutputSettings) {
    hasAudioTrack_.store(newValue);
    if (!newValue) return;
    if (shouldPassthroughAudio_.load()) {
        audioOutputSettings = Value();
    } else if (audioOutputSettings.isNil()) {
        auto session = AVAudioSession::sharedInstance();
        double preferredHardwareSampleRate = session->sampleRate();
        if (preferredHardwareSampleRate <= 0)
            preferredHardwareSampleRate = session->currentHardwareSampleRate();
        audioOutputSettings = Dictionary{{AVFormatIDKey, kAudioFormatMPEG4AAC},
                                         {AVNumberOfChannelsKey, 1},
                                         {AVSampleRateKey, preferredHardwareSampleRate},
                                         {AVChannelLayoutKey, monoChannelLayout()},
                                         {AVEncoderBitRateKey, 64000}};
    }
    assetWriterAudioInput_ =
        AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, audioOutputSettings);
    assetWriter_->addInput(assetWriterAudioInput_);
    assetWriterAudioInput_->setExpectsMediaDataInRealTime(encodingLiveVideo_.load());
}

void GPXMovieWriter::setEncodingLiveVideo(bool value) {
    encodingLiveVideo_.store(value);
    if (isRecording_.load()) {
        detail::gpxAssertionFailure("Can not change Encoding Live Video while recording");
    } else {
        if (assetWriterVideoInput_) assetWriterVideoInput_->setExpectsMediaDataInRealTime(value);
        if (assetWriterAudioInput_) assetWriterAudioInput_->setExpectsMediaDataInRealTime(value);
    }
}

void GPXMovieWriter::startRecording() {
    alreadyFinishedRecording_.store(false);
    bool startNow;
    {
        std::lock_guard lock(mutex_);
        startTime_ = kCMTimeInvalid;
        startNow = !audioInputReadyCallback_;
    }
    performSyncOnContextQueue(movieWriterContext_, [&] {
        // With an audio-ready callback the first audio (or the synchronised start) starts writing.
        if (startNow) assetWriter_->startWriting();
    });
    // A writer that has failed records nothing: its caller hears it now rather than finding a
    // movie without its video at the end.
    if (reportWriterFailure()) return;
    isRecording_.store(true);
}

void GPXMovieWriter::startRecordingInOrientation(CGAffineTransform orientationTransform) {
    assetWriterVideoInput_->setTransform(orientationTransform);
    startRecording();
}

void GPXMovieWriter::startSessionIfNeeded(CMTime time, bool hasReadyCallback) {
    performSyncOnContextQueue(movieWriterContext_, [&] {
        {
            std::lock_guard lock(mutex_);
            if (CMTIME_IS_VALID(startTime_)) return;
        }
        if (!hasReadyCallback && assetWriter_->status() != AVAssetWriterStatusWriting &&
            !assetWriter_->startWriting())
            reportWriterFailure();
        assetWriter_->startSessionAtSourceTime(time);
        std::lock_guard lock(mutex_);
        startTime_ = time;
    });
}

void GPXMovieWriter::newFrameReadyAtTime(CMTime frameTime, long) {
    Ref<GPXFramebuffer> framebuffer;
    bool drop = false;
    bool needsStart = false;
    bool hasVideoCallback = false;
    {
        std::lock_guard lock(mutex_);
        framebuffer = std::move(firstInputFramebuffer_);
        drop = !isRecording_.load() || CMTIME_IS_INVALID(frameTime) || CMTIME_IS_INDEFINITE(frameTime) ||
               !CMTIME_IS_NUMERIC(frameTime) || CMTimeCompare(frameTime, previousFrameTime_) == 0;
        needsStart = CMTIME_IS_INVALID(startTime_);
        hasVideoCallback = static_cast<bool>(videoInputReadyCallback_);
    }
    if (drop) {
        if (framebuffer) framebuffer->unlock();
        return;
    }
    if (needsStart) startSessionIfNeeded(frameTime, hasVideoCallback);
    // The writer's context reads the texture: everything drawn into it must be complete first.
    glFinish();
    framePending();
    auto keepAlive = std::static_pointer_cast<GPXMovieWriter>(self());
    performAsyncOnContextQueue(movieWriterContext_, [keepAlive, framebuffer, frameTime]() mutable {
        keepAlive->writeVideoFrame(framebuffer, frameTime);
        keepAlive->frameDone();
        releaseElsewhere(std::move(keepAlive));
    });
}

void GPXMovieWriter::framePending() {
    std::unique_lock lock(pendingMutex_);
    if (!encodingLiveVideo_.load())
        pendingChanged_.wait(lock, [this] { return pendingFrames_ < kMaximumPendingFrames; });
    ++pendingFrames_;
}

void GPXMovieWriter::waitForRoomForAFrame() {
    std::unique_lock lock(pendingMutex_);
    pendingChanged_.wait(lock, [this] { return pendingFrames_ < kMaximumPendingFrames; });
}

void GPXMovieWriter::frameDone() {
    {
        std::lock_guard lock(pendingMutex_);
        --pendingFrames_;
    }
    pendingChanged_.notify_all();
}

void GPXMovieWriter::writeVideoFrame(Ref<GPXFramebuffer> framebuffer, CMTime frameTime) {
    if (!framebuffer) return;
    if (encodingLiveVideo_.load() && !assetWriterVideoInput_->isReadyForMoreMediaData()) {
        framebuffer->unlock();
        ++framesDropped_;
        NSLogLine("1: Had to drop a video frame: " + CMTimeCopyDescription(frameTime));
        return;
    }
    movieWriterContext_->useAsCurrentContext();
    renderAtInternalSizeUsingFramebuffer(framebuffer);

    CVPixelBufferRef pixelBuffer;
    if (CVPixelBufferPoolCreatePixelBuffer(assetWriterPixelBufferInput_->pixelBufferPool(), &pixelBuffer) !=
            kCVReturnSuccess ||
        !pixelBuffer) {
        framebuffer->unlock();
        ++framesDropped_;
        return;
    }
    CVPixelBufferLockBaseAddress(pixelBuffer, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, static_cast<GLsizei>(videoSize_.width), static_cast<GLsizei>(videoSize_.height),
                 GL_RGBA, GL_UNSIGNED_BYTE, pixelBuffer->baseAddress());

    if (!encodingLiveVideo_.load()) {
        while (!assetWriterVideoInput_->isReadyForMoreMediaData() && !videoEncodingIsFinished_.load() &&
               assetWriter_->status() == AVAssetWriterStatusWriting) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    if (!assetWriterVideoInput_->isReadyForMoreMediaData()) {
        ++framesDropped_;
        NSLogLine("2: Had to drop a video frame: " + CMTimeCopyDescription(frameTime));
    } else if (assetWriter_->status() == AVAssetWriterStatusWriting) {
        if (assetWriterPixelBufferInput_->appendPixelBuffer(pixelBuffer, frameTime)) {
            ++framesAppended_;
        } else {
            NSLogLine("Problem appending pixel buffer at time: " + CMTimeCopyDescription(frameTime));
        }
    } else {
        NSLogLine("Couldn't write a frame");
    }
    CVPixelBufferUnlockBaseAddress(pixelBuffer, 0);
    {
        std::lock_guard lock(mutex_);
        previousFrameTime_ = frameTime;
    }
    framebuffer->unlock();
}

void GPXMovieWriter::renderAtInternalSizeUsingFramebuffer(const Ref<GPXFramebuffer>& inputFramebufferToUse) {
    movieWriterContext_->useAsCurrentContext();
    setFilterFBO();
    if (!colorSwizzlingProgram_) return;
    movieWriterContext_->setContextShaderProgram(colorSwizzlingProgram_);
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    GPURotationMode rotation;
    {
        std::lock_guard lock(mutex_);
        rotation = inputRotation_;
    }
    glActiveTexture(GL_TEXTURE4);
    glBindTexture(GL_TEXTURE_2D, inputFramebufferToUse->texture());
    glUniform1i(colorSwizzlingInputTextureUniform_, 4);
    glVertexAttribPointer(static_cast<GLuint>(colorSwizzlingPositionAttribute_), 2, GL_FLOAT, GL_FALSE, 0,
                          kSquareVertices);
    glVertexAttribPointer(static_cast<GLuint>(colorSwizzlingTextureCoordinateAttribute_), 2, GL_FLOAT,
                          GL_FALSE, 0, GPXFilter::textureCoordinatesForRotation(rotation));
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glFinish();
}

void GPXMovieWriter::createDataFBO() {
    glActiveTexture(GL_TEXTURE1);
    glGenFramebuffers(1, &movieFramebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, movieFramebuffer_);
    glGenRenderbuffers(1, &movieRenderbuffer_);
    glBindRenderbuffer(GL_RENDERBUFFER, movieRenderbuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8_OES, static_cast<GLsizei>(videoSize_.width),
                          static_cast<GLsizei>(videoSize_.height));
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, movieRenderbuffer_);
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE)
        detail::gpxAssertionFailure("Incomplete filter FBO: " + std::to_string(status));
}

void GPXMovieWriter::destroyDataFBO() {
    movieWriterContext_->useAsCurrentContext();
    if (movieFramebuffer_) {
        glDeleteFramebuffers(1, &movieFramebuffer_);
        movieFramebuffer_ = 0;
    }
    if (movieRenderbuffer_) {
        glDeleteRenderbuffers(1, &movieRenderbuffer_);
        movieRenderbuffer_ = 0;
    }
}

void GPXMovieWriter::setFilterFBO() {
    if (!movieFramebuffer_) createDataFBO();
    glBindFramebuffer(GL_FRAMEBUFFER, movieFramebuffer_);
    glViewport(0, 0, static_cast<GLsizei>(videoSize_.width), static_cast<GLsizei>(videoSize_.height));
}

void GPXMovieWriter::processAudioBuffer(const CMSampleBufferRef& audioBuffer) {
    if (!isRecording_.load() || !hasAudioTrack_.load() || !audioBuffer || !assetWriterAudioInput_) return;
    const CMTime currentSampleTime = CMSampleBufferGetOutputPresentationTimeStamp(audioBuffer);
    bool needsStart;
    bool hasAudioCallback;
    AudioProcessingCallback processing;
    {
        std::lock_guard lock(mutex_);
        needsStart = CMTIME_IS_INVALID(startTime_);
        hasAudioCallback = static_cast<bool>(audioInputReadyCallback_);
        processing = audioProcessingCallback_;
    }
    if (needsStart) startSessionIfNeeded(currentSampleTime, hasAudioCallback);

    const bool invalidate = shouldInvalidateAudioSampleWhenDone_.load();
    if (encodingLiveVideo_.load() && !assetWriterAudioInput_->isReadyForMoreMediaData()) {
        NSLogLine("1: Had to drop an audio frame: " + CMTimeCopyDescription(currentSampleTime));
        if (invalidate) CMSampleBufferInvalidate(audioBuffer);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        previousAudioTime_ = currentSampleTime;
    }
    if (processing) {
        AudioBufferList audioBufferList;
        if (CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(audioBuffer, &audioBufferList) == noErr) {
            for (std::uint32_t i = 0; i < audioBufferList.mNumberBuffers; ++i) {
                auto* samples = static_cast<std::int16_t*>(audioBufferList.mBuffers[i].mData);
                processing(&samples, CMSampleBufferGetNumSamples(audioBuffer));
            }
        }
    }
    Weak<GPXMovieWriter> weak = std::static_pointer_cast<GPXMovieWriter>(self());
    auto write = [weak, audioBuffer, currentSampleTime, invalidate] {
        auto writer = weak.lock();
        if (!writer) return;
        auto input = writer->assetWriterAudioInput_;
        if (!writer->encodingLiveVideo_.load()) {
            while (!input->isReadyForMoreMediaData() && !writer->audioEncodingIsFinished_.load() &&
                   writer->assetWriter_->status() == AVAssetWriterStatusWriting) {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            }
        }
        if (!input->isReadyForMoreMediaData()) {
            NSLogLine("2: Had to drop an audio frame " + CMTimeCopyDescription(currentSampleTime));
        } else if (writer->assetWriter_->status() == AVAssetWriterStatusWriting) {
            if (!input->appendSampleBuffer(audioBuffer))
                NSLogLine("Problem appending audio buffer at time: " +
                          CMTimeCopyDescription(currentSampleTime));
        }
        if (invalidate) CMSampleBufferInvalidate(audioBuffer);
        releaseElsewhere(std::move(writer));
    };
    if (encodingLiveVideo_.load()) {
        performAsyncOnContextQueue(movieWriterContext_, write);
    } else {
        write();
    }
}

void GPXMovieWriter::markInputFinished(bool video) {
    Weak<GPXMovieWriter> weak = std::static_pointer_cast<GPXMovieWriter>(self());
    performAsyncOnContextQueue(movieWriterContext_, [weak, video] {
        auto writer = weak.lock();
        if (!writer) return;
        auto& finished = video ? writer->videoEncodingIsFinished_ : writer->audioEncodingIsFinished_;
        if (!finished.load() && writer->assetWriter_->status() == AVAssetWriterStatusWriting) {
            finished.store(true);
            (video ? writer->assetWriterVideoInput_ : writer->assetWriterAudioInput_)->markAsFinished();
        }
        releaseElsewhere(std::move(writer));
    });
}

void GPXMovieWriter::enableSynchronizationCallbacks() {
    Weak<GPXMovieWriter> weak = std::static_pointer_cast<GPXMovieWriter>(self());
    if (videoInputReadyCallback()) {
        if (assetWriter_->status() != AVAssetWriterStatusWriting) assetWriter_->startWriting();
        if (reportWriterFailure()) return;
        {
            std::lock_guard lock(mutex_);
            videoQueue_ = dispatch_queue_create("com.vorlentide.GPX.videoReadingQueue");
        }
        assetWriterVideoInput_->requestMediaDataWhenReadyOnQueue(videoQueue_, [weak] {
            auto writer = weak.lock();
            if (!writer) return;
            if (writer->paused_.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                return;
            }
            while (writer->assetWriterVideoInput_->isReadyForMoreMediaData() && !writer->paused_.load()) {
                writer->waitForRoomForAFrame();
                auto callback = writer->videoInputReadyCallback();
                if (callback && !callback() && !writer->videoEncodingIsFinished_.load()) {
                    writer->markInputFinished(true);
                    return;
                }
                if (!callback) return;
            }
        });
    }
    if (audioInputReadyCallback() && assetWriterAudioInput_) {
        {
            std::lock_guard lock(mutex_);
            audioQueue_ = dispatch_queue_create("com.vorlentide.GPX.audioReadingQueue");
        }
        assetWriterAudioInput_->requestMediaDataWhenReadyOnQueue(audioQueue_, [weak] {
            auto writer = weak.lock();
            if (!writer) return;
            if (writer->paused_.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                return;
            }
            while (writer->assetWriterAudioInput_->isReadyForMoreMediaData() && !writer->paused_.load()) {
                auto callback = writer->audioInputReadyCallback();
                if (callback && !callback() && !writer->audioEncodingIsFinished_.load()) {
                    writer->markInputFinished(false);
                    return;
                }
                if (!callback) return;
            }
        });
    }
}

void GPXMovieWriter::cancelRecording() {
    if (assetWriter_->status() == AVAssetWriterStatusCompleted) return;
    isRecording_.store(false);
    performSyncOnContextQueue(movieWriterContext_, [this] {
        alreadyFinishedRecording_.store(true);
        if (assetWriter_->status() == AVAssetWriterStatusWriting) {
            if (!videoEncodingIsFinished_.exchange(true)) assetWriterVideoInput_->markAsFinished();
            if (assetWriterAudioInput_ && !audioEncodingIsFinished_.exchange(true))
                assetWriterAudioInput_->markAsFinished();
        }
        assetWriter_->cancelWriting();
    });
}

void GPXMovieWriter::finishRecording() {
    finishRecordingWithCompletionHandler(nullptr);
}

void GPXMovieWriter::finishRecordingWithCompletionHandler(std::function<void()> handler) {
    performSyncOnContextQueue(movieWriterContext_, [&] {
        isRecording_.store(false);
        const auto status = assetWriter_->status();
        if (status == AVAssetWriterStatusCompleted || status == AVAssetWriterStatusCancelled ||
            status == AVAssetWriterStatusUnknown || status == AVAssetWriterStatusFailed) {
            // Nothing to finish; the caller still hears back, never inline.
            if (handler) performAsyncOnContextQueue(movieWriterContext_, handler);
            return;
        }
        if (!videoEncodingIsFinished_.exchange(true)) assetWriterVideoInput_->markAsFinished();
        if (assetWriterAudioInput_ && !audioEncodingIsFinished_.exchange(true))
            assetWriterAudioInput_->markAsFinished();
        assetWriter_->finishWritingWithCompletionHandler(handler ? handler : [] {});
    });
}

void GPXMovieWriter::endProcessing() {
    std::function<void()> completion;
    Ref<GPXMovieWriterDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        completion = completionBlock_;
        delegate = delegate_.lock();
    }
    if (completion) {
        if (!alreadyFinishedRecording_.exchange(true)) completion();
    } else if (delegate && delegate->implementsMovieRecordingCompleted()) {
        delegate->movieRecordingCompleted();
    }
}

void GPXMovieWriter::setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long) {
    if (newInputFramebuffer) newInputFramebuffer->lock();
    Ref<GPXFramebuffer> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::move(firstInputFramebuffer_);
        firstInputFramebuffer_ = newInputFramebuffer;
    }
    if (previous) previous->unlock();  // a frame that was never announced
}

void GPXMovieWriter::setInputRotation(GPURotationMode newInputRotation, long) {
    std::lock_guard lock(mutex_);
    inputRotation_ = newInputRotation;
}

CMTime GPXMovieWriter::duration() {
    std::lock_guard lock(mutex_);
    if (!CMTIME_IS_VALID(startTime_)) return kCMTimeZero;
    if (CMTIME_IS_NUMERIC(previousFrameTime_)) return CMTimeSubtract(previousFrameTime_, startTime_);
    if (CMTIME_IS_NUMERIC(previousAudioTime_)) return CMTimeSubtract(previousAudioTime_, startTime_);
    return kCMTimeZero;
}

CGAffineTransform GPXMovieWriter::transform() const {
    if (!assetWriterVideoInput_) return CGAffineTransform{0, 0, 0, 0, 0, 0};
    return assetWriterVideoInput_->transform();
}

void GPXMovieWriter::setTransform(CGAffineTransform transform) {
    if (assetWriterVideoInput_) assetWriterVideoInput_->setTransform(transform);
}

std::vector<Ref<AVMetadataItem>> GPXMovieWriter::metaData() const {
    return assetWriter_ ? assetWriter_->metadata() : std::vector<Ref<AVMetadataItem>>();
}

void GPXMovieWriter::setMetaData(std::vector<Ref<AVMetadataItem>> items) {
    if (assetWriter_) assetWriter_->setMetadata(std::move(items));
}

void GPXMovieWriter::setCompletionBlock(std::function<void()> block) {
    std::lock_guard lock(mutex_);
    completionBlock_ = std::move(block);
}

void GPXMovieWriter::setFailureBlock(std::function<void(const Ref<NSError>&)> block) {
    std::lock_guard lock(mutex_);
    failureBlock_ = std::move(block);
}

void GPXMovieWriter::setVideoInputReadyCallback(std::function<bool()> block) {
    std::lock_guard lock(mutex_);
    videoInputReadyCallback_ = std::move(block);
}

void GPXMovieWriter::setAudioInputReadyCallback(std::function<bool()> block) {
    std::lock_guard lock(mutex_);
    audioInputReadyCallback_ = std::move(block);
}

std::function<bool()> GPXMovieWriter::videoInputReadyCallback() const {
    std::lock_guard lock(mutex_);
    return videoInputReadyCallback_;
}

std::function<bool()> GPXMovieWriter::audioInputReadyCallback() const {
    std::lock_guard lock(mutex_);
    return audioInputReadyCallback_;
}

void GPXMovieWriter::setAudioProcessingCallback(AudioProcessingCallback block) {
    std::lock_guard lock(mutex_);
    audioProcessingCallback_ = std::move(block);
}

void GPXMovieWriter::setDelegate(const Weak<GPXMovieWriterDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
}

Weak<GPXMovieWriterDelegate> GPXMovieWriter::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}
