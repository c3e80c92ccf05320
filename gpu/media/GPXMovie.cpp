#include "gpu/media/GPXMovie.h"

#include <chrono>
#include <thread>

#include "dispatch/Clock.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSLog.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXShaders.h"
#include "gpu/media/GPXMediaShaders.h"

namespace {

const GLfloat kSquareVertices[] = {-1.0f, -1.0f, 1.0f, -1.0f, -1.0f, 1.0f, 1.0f, 1.0f};
const GLfloat kTextureCoordinates[] = {0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f};

double nowSeconds() {
    return PlatformClock::now();
}

}  // namespace

GPXMovie::GPXMovie(Ref<NSURL> url) : url_(std::move(url)) {}

GPXMovie::GPXMovie(Ref<AVAsset> asset) : asset_(std::move(asset)) {}

GPXMovie::GPXMovie(Ref<AVPlayerItem> playerItem) : playerItem_(std::move(playerItem)) {}

GPXMovie::~GPXMovie() {
    Ref<CADisplayLink> link;
    {
        std::lock_guard lock(mutex_);
        link = std::move(displayLink_);
    }
    if (link) link->invalidate();
}

void GPXMovie::didInit() {
    yuvConversionSetup();
}

void GPXMovie::yuvConversionSetup() {
    // The YUV path needs the texture cache; without it frames arrive as BGRA and are uploaded.
    if (!GPXContext::supportsFastTextureUpload()) return;
    performSyncOnSharedContextQueue([this] {
        GPXContext::useImageProcessingContext();
        preferredConversion_ = conversionMatrixBT709Video;
        isFullYUVRange_ = true;
        yuvConversion_.prepare(kGPXYUVFullRangeConversionForLAFragmentShaderString);
    });
}

void GPXMovie::enableSynchronizedEncodingUsingMovieWriter(const Ref<GPXMovieWriter>& movieWriter) {
    {
        std::lock_guard lock(mutex_);
        synchronizedMovieWriter_ = movieWriter;
    }
    if (movieWriter) movieWriter->setEncodingLiveVideo(false);
}

void GPXMovie::setAudioEncodingTarget(const Ref<GPXMovieWriter>& newValue) {
    {
        std::lock_guard lock(mutex_);
        audioEncodingTarget_ = newValue;
    }
    if (newValue && !newValue->hasAudioTrack()) newValue->setHasAudioTrack(true);
}

Ref<GPXMovieWriter> GPXMovie::audioEncodingTarget() const {
    std::lock_guard lock(mutex_);
    return audioEncodingTarget_;
}

Ref<AVAssetReader> GPXMovie::assetReader() const {
    std::lock_guard lock(mutex_);
    return reader_;
}

Ref<NSURL> GPXMovie::url() const {
    std::lock_guard lock(mutex_);
    return url_;
}

Ref<AVAsset> GPXMovie::asset() const {
    std::lock_guard lock(mutex_);
    return asset_;
}

void GPXMovie::setAsset(Ref<AVAsset> asset) {
    std::lock_guard lock(mutex_);
    asset_ = std::move(asset);
}

Ref<AVPlayerItem> GPXMovie::playerItem() const {
    std::lock_guard lock(mutex_);
    return playerItem_;
}

void GPXMovie::setDelegate(const Weak<GPXMovieDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
}

Ref<CADisplayLink> GPXMovie::displayLink() const {
    std::lock_guard lock(mutex_);
    return displayLink_;
}

void GPXMovie::startProcessing() {
    endTold_.store(false);
    if (playerItem()) {
        processPlayerItem();
        return;
    }
    auto movieURL = url();
    if (!movieURL) {
        processAsset();
        return;
    }
    if (shouldRepeat_.load()) keepLooping_.store(true);
    {
        std::lock_guard lock(mutex_);
        previousFrameTime_ = kCMTimeZero;
        previousActualFrameTime_ = nowSeconds();
    }
    auto inputAsset = AVURLAsset::URLAssetWithURL(
        movieURL, Dictionary{{AVURLAssetPreferPreciseDurationAndTimingKey, true}});
    Weak<GPXMovie> weak = std::static_pointer_cast<GPXMovie>(self());
    inputAsset->loadValuesAsynchronouslyForKeys({"tracks"}, [weak, inputAsset] {
        dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), [weak, inputAsset] {
            auto movie = weak.lock();
            if (!movie) return;
            // A file whose tracks cannot be read goes on to a reader all the same: that reader
            // fails to start, which logs the failure and ends processing, so whoever waits for
            // the movie hears its end and finds the reader failed with the reason.
            movie->setAsset(inputAsset);
            movie->processAsset();
        });
    });
}

Ref<AVAssetReader> GPXMovie::createAssetReader() {
    Ref<NSError> error;
    auto currentAsset = asset();
    auto assetReader = AVAssetReader::assetReaderWithAsset(currentAsset, &error);
    const bool fast = GPXContext::supportsFastTextureUpload();
    Dictionary outputSettings;
    if (fast) {
        outputSettings.setObject(kCVPixelBufferPixelFormatTypeKey,
                                 kCVPixelFormatType_420YpCbCr8BiPlanarFullRange);
    } else {
        outputSettings.setObject(kCVPixelBufferPixelFormatTypeKey, kCVPixelFormatType_32BGRA);
    }
    performSyncOnSharedContextQueue([&] { isFullYUVRange_ = fast; });
    if (!currentAsset) return assetReader;
    auto videoTracks = currentAsset->tracksWithMediaType(AVMediaTypeVideo);
    if (!videoTracks.empty()) {
        auto readerVideoTrackOutput =
            AVAssetReaderTrackOutput::assetReaderTrackOutputWithTrack(videoTracks[0], outputSettings);
        readerVideoTrackOutput->setAlwaysCopiesSampleData(false);
        assetReader->addOutput(readerVideoTrackOutput);
    }
    auto audioTracks = currentAsset->tracksWithMediaType(AVMediaTypeAudio);
    auto target = audioEncodingTarget();
    if (!audioTracks.empty() && target) {
        target->setShouldInvalidateAudioSampleWhenDone(true);
        auto readerAudioTrackOutput =
            AVAssetReaderTrackOutput::assetReaderTrackOutputWithTrack(audioTracks[0], Dictionary());
        readerAudioTrackOutput->setAlwaysCopiesSampleData(false);
        assetReader->addOutput(readerAudioTrackOutput);
    }
    return assetReader;
}

void GPXMovie::processAsset() {
    auto reader = createAssetReader();
    {
        std::lock_guard lock(mutex_);
        reader_ = reader;
    }
    Ref<AVAssetReaderOutput> readerVideoTrackOutput, readerAudioTrackOutput;
    audioEncodingIsFinished_.store(true);
    videoEncodingIsFinished_.store(false);
    for (auto& output : reader->outputs()) {
        if (output->mediaType() == AVMediaTypeAudio) {
            audioEncodingIsFinished_.store(false);
            readerAudioTrackOutput = output;
        } else if (output->mediaType() == AVMediaTypeVideo) {
            readerVideoTrackOutput = output;
        }
    }
    if (!reader->startReading()) {
        auto movieURL = url();
        NSLogLine("Error reading from file at URL: " +
                  (movieURL ? movieURL->absoluteString() : std::string("(null)")));
        endProcessing();
        return;
    }

    Ref<GPXMovieWriter> writer;
    {
        std::lock_guard lock(mutex_);
        writer = synchronizedMovieWriter_;
    }
    Weak<GPXMovie> weak = std::static_pointer_cast<GPXMovie>(self());
    if (writer) {
        writer->setVideoInputReadyCallback([weak, readerVideoTrackOutput] {
            auto movie = weak.lock();
            return movie && movie->readNextVideoFrameFromOutput(readerVideoTrackOutput);
        });
        writer->setAudioInputReadyCallback([weak, readerAudioTrackOutput] {
            auto movie = weak.lock();
            return movie && movie->readNextAudioSampleFromOutput(readerAudioTrackOutput);
        });
        writer->enableSynchronizationCallbacks();
        // A writer that failed as it started asks for nothing: the reading ends here, not never.
        if (writer->assetWriter()->status() == AVAssetWriterStatusFailed) {
            reader->cancelReading();
            endProcessing();
        }
        return;
    }
    while (reader->status() == AVAssetReaderStatusReading &&
           !(shouldRepeat_.load() && !keepLooping_.load())) {
        readNextVideoFrameFromOutput(readerVideoTrackOutput);
        if (readerAudioTrackOutput && !audioEncodingIsFinished_.load())
            readNextAudioSampleFromOutput(readerAudioTrackOutput);
    }
    if (reader->status() == AVAssetReaderStatusFailed) {
        // A damaged movie ends where the damage is found, looping or not: starting it again would
        // only read up to the same damage, for ever.
        endProcessing();
    } else if (reader->status() == AVAssetReaderStatusCompleted) {
        reader->cancelReading();
        if (keepLooping_.load()) {
            {
                std::lock_guard lock(mutex_);
                reader_.reset();
            }
            // A cancel that comes while the restart waits on the main queue ends the loop: starting
            // again would set the loop going anew, with nothing left to stop it.
            dispatch_async(dispatch_get_main_queue(), [weak] {
                auto movie = weak.lock();
                if (movie && movie->keepLooping_.load()) movie->startProcessing();
            });
        } else {
            endProcessing();
        }
    }
}

bool GPXMovie::readNextVideoFrameFromOutput(const Ref<AVAssetReaderOutput>& readerVideoTrackOutput) {
    auto reader = assetReader();
    if (reader && readerVideoTrackOutput && reader->status() == AVAssetReaderStatusReading &&
        !videoEncodingIsFinished_.load()) {
        CMSampleBufferRef sampleBufferRef = readerVideoTrackOutput->copyNextSampleBuffer();
        if (sampleBufferRef) {
            if (playAtActualSpeed_.load()) {
                // Paced on the reading thread, never on the context queue.
                const CMTime currentSampleTime =
                    CMSampleBufferGetOutputPresentationTimeStamp(sampleBufferRef);
                double frameTimeDifference, actualTimeDifference;
                {
                    std::lock_guard lock(mutex_);
                    frameTimeDifference =
                        CMTimeGetSeconds(CMTimeSubtract(currentSampleTime, previousFrameTime_));
                    actualTimeDifference = nowSeconds() - previousActualFrameTime_;
                }
                if (frameTimeDifference > actualTimeDifference) {
                    std::this_thread::sleep_for(std::chrono::microseconds(
                        static_cast<long>((frameTimeDifference - actualTimeDifference) * 1e6)));
                }
                std::lock_guard lock(mutex_);
                previousFrameTime_ = currentSampleTime;
                previousActualFrameTime_ = nowSeconds();
            }
            performSyncOnSharedContextQueue([&] { processMovieFrame(sampleBufferRef); });
            CMSampleBufferInvalidate(sampleBufferRef);
            return true;
        }
        if (!keepLooping_.load()) {
            videoEncodingIsFinished_.store(true);
            if (audioEncodingIsFinished_.load()) endProcessing();
        }
    } else {
        bool synchronized;
        {
            std::lock_guard lock(mutex_);
            synchronized = synchronizedMovieWriter_ != nullptr;
        }
        if (synchronized && reader && reader->status() == AVAssetReaderStatusCompleted) endProcessing();
    }
    return false;
}

bool GPXMovie::readNextAudioSampleFromOutput(const Ref<AVAssetReaderOutput>& readerAudioTrackOutput) {
    auto reader = assetReader();
    if (reader && readerAudioTrackOutput && reader->status() == AVAssetReaderStatusReading &&
        !audioEncodingIsFinished_.load()) {
        CMSampleBufferRef audioSampleBufferRef = readerAudioTrackOutput->copyNextSampleBuffer();
        if (audioSampleBufferRef) {
            if (auto target = audioEncodingTarget()) target->processAudioBuffer(audioSampleBufferRef);
            return true;
        }
        if (!keepLooping_.load()) {
            audioEncodingIsFinished_.store(true);
            if (videoEncodingIsFinished_.load()) endProcessing();
        }
    } else {
        bool synchronized;
        {
            std::lock_guard lock(mutex_);
            synchronized = synchronizedMovieWriter_ != nullptr;
        }
        if (synchronized && reader &&
            (reader->status() == AVAssetReaderStatusCompleted ||
             reader->status() == AVAssetReaderStatusFailed ||
             reader->status() == AVAssetReaderStatusCancelled)) {
            endProcessing();
        }
    }
    return false;
}

void GPXMovie::processMovieFrame(const CMSampleBufferRef& movieSampleBuffer) {
    const CMTime currentSampleTime = CMSampleBufferGetOutputPresentationTimeStamp(movieSampleBuffer);
    {
        std::lock_guard lock(mutex_);
        processingFrameTime_ = currentSampleTime;
    }
    processMovieFrame(CMSampleBufferGetImageBuffer(movieSampleBuffer), currentSampleTime);
}

float GPXMovie::progress() {
    auto reader = assetReader();
    if (reader && reader->status() == AVAssetReaderStatusReading) {
        CMTime processing;
        {
            std::lock_guard lock(mutex_);
            processing = processingFrameTime_;
        }
        auto currentAsset = asset();
        const auto current = static_cast<float>(processing.value) / static_cast<float>(processing.timescale);
        const CMTime total = currentAsset ? currentAsset->duration() : kCMTimeInvalid;
        const auto duration = static_cast<float>(total.value) / static_cast<float>(total.timescale);
        return current / duration;
    }
    if (reader && reader->status() == AVAssetReaderStatusCompleted) return 1.0f;
    return 0.0f;
}

void GPXMovie::processMovieFrame(const CVPixelBufferRef& movieFrame, CMTime currentSampleTime) {
    if (!movieFrame) return;
    performSyncOnSharedContextQueue([&] {
        const auto bufferWidth = static_cast<int>(CVPixelBufferGetWidth(movieFrame));
        const auto bufferHeight = static_cast<int>(CVPixelBufferGetHeight(movieFrame));
        preferredConversion_ = detail::conversionMatrixForBuffer(movieFrame, isFullYUVRange_);
        const double startTime = nowSeconds();
        GPXContext::useImageProcessingContext();

        if (GPXContext::supportsFastTextureUpload()) {
            // The texture cache path; this platform offers no cache, so it is never taken.
            if (CVPixelBufferGetPlaneCount(movieFrame) == 0) return;
            convertYUVToRGBOutput();
        } else {
            CVPixelBufferLockBaseAddress(movieFrame, 0);
            const CGSize size = CGSizeMake(bufferWidth, bufferHeight);
            outputFramebuffer_ = GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(
                size, outputTextureOptions_, true);
            outputFramebuffer_->activateFramebuffer();
            glBindTexture(GL_TEXTURE_2D, outputFramebuffer_->texture());
            glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(outputTextureOptions_.internalFormat),
                         bufferWidth, bufferHeight, 0, outputTextureOptions_.format,
                         outputTextureOptions_.type, CVPixelBufferGetBaseAddress(movieFrame));
            const auto list = targets_;
            const auto indices = targetTextureIndices_;
            for (std::size_t i = 0; i < list.size(); ++i) {
                list[i]->setInputSize(size, indices[i]);
                list[i]->setInputFramebuffer(outputFramebuffer_, indices[i]);
            }
            outputFramebuffer_->unlock();
            for (std::size_t i = 0; i < list.size(); ++i)
                list[i]->newFrameReadyAtTime(currentSampleTime, indices[i]);
            CVPixelBufferUnlockBaseAddress(movieFrame, 0);
        }
        if (runBenchmark_.load()) {
            char line[64];
            std::snprintf(line, sizeof(line), "Current frame time : %f ms",
                          1000.0 * (nowSeconds() - startTime));
            NSLogLine(line);
        }
    });
}

void GPXMovie::convertYUVToRGBOutput() {
    if (!yuvConversion_.program) return;
    GPXContext::setActiveShaderProgram(yuvConversion_.program);
    outputFramebuffer_ = GPXContext::sharedFramebufferCache()->fetchFramebufferForSize(
        CGSizeMake(imageBufferWidth_, imageBufferHeight_), false);
    outputFramebuffer_->activateFramebuffer();
    yuvConversion_.draw(preferredConversion_, kSquareVertices, kTextureCoordinates);
}

void GPXMovie::processPlayerItem() {
    Weak<GPXMovie> weak = std::static_pointer_cast<GPXMovie>(self());
    auto item = playerItem();
    // The display link ticks on the main run loop: the context queue's thread runs no run loop,
    // so a link added there would never fire.
    auto link = CADisplayLink::displayLinkWithTarget([weak](const Ref<CADisplayLink>& sender) {
        if (auto movie = weak.lock()) movie->displayLinkCallback(sender);
    });
    link->setPaused(true);
    Dictionary pixelBufferAttributes{
        {kCVPixelBufferPixelFormatTypeKey, GPXContext::supportsFastTextureUpload()
                                               ? kCVPixelFormatType_420YpCbCr8BiPlanarFullRange
                                               : kCVPixelFormatType_32BGRA}};
    auto output = make<AVPlayerItemVideoOutput>(pixelBufferAttributes);
    output->setDelegate(std::static_pointer_cast<GPXMovie>(self()),
                        dispatch_queue_create("GPXMovie.playerItemOutput"));
    {
        std::lock_guard lock(mutex_);
        displayLink_ = link;
        playerItemOutput_ = output;
    }
    link->addToRunLoop(NSRunLoop::mainRunLoop(), NSRunLoopCommonModes);
    if (item) item->addOutput(output);
    output->requestNotificationOfMediaDataChangeWithAdvanceInterval(0.1);
}

void GPXMovie::outputMediaDataWillChange(const Ref<AVPlayerItemVideoOutput>&) {
    if (auto link = displayLink()) link->setPaused(false);
}

void GPXMovie::displayLinkCallback(const Ref<CADisplayLink>& sender) {
    Ref<AVPlayerItemVideoOutput> output;
    {
        std::lock_guard lock(mutex_);
        output = playerItemOutput_;
    }
    if (!output) return;
    const double nextVSync = sender->timestamp() + sender->duration();
    const CMTime outputItemTime = output->itemTimeForHostTime(nextVSync);
    if (output->hasNewPixelBufferForItemTime(outputItemTime)) {
        CMTime shown = outputItemTime;
        CVPixelBufferRef pixelBuffer = output->copyPixelBufferForItemTime(outputItemTime, &shown);
        if (pixelBuffer)
            performSyncOnSharedContextQueue([&] { processMovieFrame(pixelBuffer, outputItemTime); });
        return;
    }
    // An item that cannot be played any further would leave the link ticking for nothing and the
    // movie's end untold.
    auto item = playerItem();
    if (item && item->status() == AVPlayerItemStatusFailed) {
        NSLogLine("Error playing the item: " +
                  (item->error() ? item->error()->localizedDescription() : std::string("(null)")));
        endProcessing();
    }
}

void GPXMovie::endProcessing() {
    // Several paths find the end (either track running out, on the writer's two queues when
    // synchronised, and the reading loop itself); the targets hear it once per run.
    if (endTold_.exchange(true)) return;
    keepLooping_.store(false);
    Ref<CADisplayLink> link;
    Ref<GPXMovieWriter> writer;
    Ref<GPXMovieDelegate> delegate;
    bool playerItemMode;
    {
        std::lock_guard lock(mutex_);
        link = displayLink_;
        writer = synchronizedMovieWriter_;
        delegate = delegate_.lock();
        delegate_.reset();  // completion is reported once
        playerItemMode = playerItem_ != nullptr;
        if (playerItemMode) displayLink_.reset();
    }
    if (link) link->setPaused(true);
    for (auto& target : targets()) target->endProcessing();
    if (writer) {
        writer->setVideoInputReadyCallback([] { return false; });
        writer->setAudioInputReadyCallback([] { return false; });
    }
    if (playerItemMode && link) link->invalidate();
    if (delegate && delegate->implementsDidCompletePlayingMovie()) delegate->didCompletePlayingMovie();
}

void GPXMovie::cancelProcessing() {
    if (auto reader = assetReader()) reader->cancelReading();
    endProcessing();
}

// ---- composition ---------------------------------------------------------------------------------

GPXMovieComposition::GPXMovieComposition(Ref<AVComposition> compositon,
                                         Ref<AVVideoComposition> videoComposition, Ref<AVAudioMix> audioMix)
    : GPXMovie(Ref<AVAsset>()),
      compositon_(std::move(compositon)),
      videoComposition_(std::move(videoComposition)),
      audioMix_(std::move(audioMix)) {}

Ref<AVComposition> GPXMovieComposition::compositon() const {
    std::lock_guard lock(compositionMutex_);
    return compositon_;
}
void GPXMovieComposition::setCompositon(Ref<AVComposition> value) {
    std::lock_guard lock(compositionMutex_);
    compositon_ = std::move(value);
}
Ref<AVVideoComposition> GPXMovieComposition::videoComposition() const {
    std::lock_guard lock(compositionMutex_);
    return videoComposition_;
}
void GPXMovieComposition::setVideoComposition(Ref<AVVideoComposition> value) {
    std::lock_guard lock(compositionMutex_);
    videoComposition_ = std::move(value);
}
Ref<AVAudioMix> GPXMovieComposition::audioMix() const {
    std::lock_guard lock(compositionMutex_);
    return audioMix_;
}
void GPXMovieComposition::setAudioMix(Ref<AVAudioMix> value) {
    std::lock_guard lock(compositionMutex_);
    audioMix_ = std::move(value);
}

Ref<AVAssetReader> GPXMovieComposition::createAssetReader() {
    auto composition = compositon();
    Ref<NSError> error;
    auto assetReader = AVAssetReader::assetReaderWithAsset(composition, &error);
    if (!composition) return assetReader;
    // The platform's composition output delivers 4:2:0 full range only; without the texture cache
    // the frames are asked for in BGRA, which this pipeline can upload.
    Dictionary outputSettings{
        {kCVPixelBufferPixelFormatTypeKey, GPXContext::supportsFastTextureUpload()
                                               ? kCVPixelFormatType_420YpCbCr8BiPlanarFullRange
                                               : kCVPixelFormatType_32BGRA}};
    auto readerVideoOutput = make<AVAssetReaderVideoCompositionOutput>(
        composition->tracksWithMediaType(AVMediaTypeVideo), outputSettings);
    auto video = videoComposition();
    if (auto mutableVideo = std::dynamic_pointer_cast<AVMutableVideoComposition>(video))
        mutableVideo->setRenderScale(1.0f);
    readerVideoOutput->setVideoComposition(video);
    readerVideoOutput->setAlwaysCopiesSampleData(false);
    assetReader->addOutput(readerVideoOutput);

    auto audioTracks = composition->tracksWithMediaType(AVMediaTypeAudio);
    auto target = audioEncodingTarget();
    if (!audioTracks.empty() && target) {
        target->setShouldInvalidateAudioSampleWhenDone(true);
        auto readerAudioOutput = make<AVAssetReaderAudioMixOutput>(audioTracks, Dictionary());
        readerAudioOutput->setAudioMix(audioMix());
        readerAudioOutput->setAlwaysCopiesSampleData(false);
        assetReader->addOutput(readerAudioOutput);
    }
    return assetReader;
}
