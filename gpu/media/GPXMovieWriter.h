#pragma once
// The sink that records the pipeline's output to a movie file. Each frame is drawn at the movie's
// size, in a GL context of the writer's own (sharing the shared context's textures), read back as
// BGRA and appended with the frame's time; audio sample buffers from a camera or movie source
// are appended to an audio track.
//
// Live mode (the default) never holds up the producer: a frame is drawn and appended on the
// writer's own queue while the producer goes on, and frames or audio that find the writer busy
// are dropped. Offline mode ("EncodingLiveVideo" NO in the settings, or a movie source that
// drives the writer through the ready callbacks) waits instead.
//
// Thread use: producers call in on their own queues; the frame times the writer compares are
// guarded, the asset writer serialises its own appends.

#include <condition_variable>
#include <functional>
#include <mutex>

#include "dispatch/Dispatch.h"
#include "gpu/core/GLProgram.h"
#include "gpu/core/GPXContext.h"
#include "gpu/core/GPXFramebuffer.h"
#include "gpu/core/GPXInput.h"
#include "media/AVAssetWriter.h"

inline constexpr char kGPXMovieWriterEncodingLiveVideoKey[] = "EncodingLiveVideo";

class GPXMovieWriterDelegate {
  public:
    virtual ~GPXMovieWriterDelegate() = default;
    virtual void movieRecordingCompleted() {}
    virtual bool implementsMovieRecordingCompleted() const { return false; }
    virtual void movieRecordingFailedWithError(const Ref<NSError>& error) {}
    virtual bool implementsMovieRecordingFailedWithError() const { return false; }
};

class GPXMovieWriter : public NSObject, public GPXInput {
  public:
    using AudioProcessingCallback = std::function<void(std::int16_t** samplesRef, long numSamplesInBuffer)>;

    // A QuickTime movie with the default settings (H.264 at the size).
    GPXMovieWriter(Ref<NSURL> newMovieURL, CGSize newSize);
    // Settings: a dictionary or nil.
    GPXMovieWriter(Ref<NSURL> newMovieURL, CGSize newSize, std::string newFileType, Value outputSettings);
    ~GPXMovieWriter() override;
    void didInit();
    std::string className() const override { return "GPXMovieWriter"; }

    void startRecording();
    void startRecordingInOrientation(CGAffineTransform orientationTransform);
    void cancelRecording();
    void finishRecording();
    void finishRecordingWithCompletionHandler(std::function<void()> handler);
    void processAudioBuffer(const CMSampleBufferRef& audioBuffer);
    void enableSynchronizationCallbacks();

    void setHasAudioTrack(bool newValue);
    void setHasAudioTrack(bool newValue, Value audioOutputSettings);
    bool hasAudioTrack() const { return hasAudioTrack_.load(); }
    void setEncodingLiveVideo(bool value);
    bool encodingLiveVideo() const { return encodingLiveVideo_.load(); }

    // GPXInput.
    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override;
    void setInputFramebuffer(const Ref<GPXFramebuffer>& newInputFramebuffer, long textureIndex) override;
    long nextAvailableTextureIndex() override { return 0; }
    void setInputSize(CGSize, long) override {}
    void setInputRotation(GPURotationMode newInputRotation, long textureIndex) override;
    CGSize maximumOutputSize() override { return videoSize_; }
    void endProcessing() override;
    bool shouldIgnoreUpdatesToThisTarget() override { return false; }
    bool enabled() override { return enabled_.load(); }
    void setEnabled(bool value) { enabled_.store(value); }
    bool wantsMonochromeInput() override { return false; }
    void setCurrentlyReceivingMonochromeInput(bool) override {}

    CMTime duration();
    CGAffineTransform transform() const;
    void setTransform(CGAffineTransform transform);
    std::vector<Ref<AVMetadataItem>> metaData() const;
    void setMetaData(std::vector<Ref<AVMetadataItem>> items);

    const Ref<AVAssetWriter>& assetWriter() const { return assetWriter_; }
    const Ref<GPXContext>& movieWriterContext() const { return movieWriterContext_; }
    bool shouldPassthroughAudio() const { return shouldPassthroughAudio_.load(); }
    void setShouldPassthroughAudio(bool v) { shouldPassthroughAudio_.store(v); }
    bool shouldInvalidateAudioSampleWhenDone() const { return shouldInvalidateAudioSampleWhenDone_.load(); }
    void setShouldInvalidateAudioSampleWhenDone(bool v) { shouldInvalidateAudioSampleWhenDone_.store(v); }
    bool isPaused() const { return paused_.load(); }
    void setPaused(bool v) { paused_.store(v); }
    bool isRecording() const { return isRecording_.load(); }

    void setCompletionBlock(std::function<void()> block);
    void setFailureBlock(std::function<void(const Ref<NSError>&)> block);
    void setVideoInputReadyCallback(std::function<bool()> block);
    void setAudioInputReadyCallback(std::function<bool()> block);
    std::function<bool()> videoInputReadyCallback() const;
    std::function<bool()> audioInputReadyCallback() const;
    void setAudioProcessingCallback(AudioProcessingCallback block);
    void setDelegate(const Weak<GPXMovieWriterDelegate>& delegate);
    Weak<GPXMovieWriterDelegate> delegate() const;

    // Frames appended and dropped so far, for tests and diagnosis.
    int framesAppended() const { return framesAppended_.load(); }
    int framesDropped() const { return framesDropped_.load(); }

  private:
    void initializeMovieWithOutputSettings(Value outputSettings);
    void reportFailure(const Ref<NSError>& error);
    void createDataFBO();
    void destroyDataFBO();
    void setFilterFBO();
    void renderAtInternalSizeUsingFramebuffer(const Ref<GPXFramebuffer>& inputFramebufferToUse);
    void writeVideoFrame(Ref<GPXFramebuffer> framebuffer, CMTime frameTime);
    void startSessionIfNeeded(CMTime time, bool hasReadyCallback);
    void markInputFinished(bool video);

    Ref<NSURL> movieURL_;
    std::string fileType_;
    Value outputSettings_;
    CGSize videoSize_;
    Ref<AVAssetWriter> assetWriter_;
    Ref<AVAssetWriterInput> assetWriterAudioInput_, assetWriterVideoInput_;
    Ref<AVAssetWriterInputPixelBufferAdaptor> assetWriterPixelBufferInput_;
    Ref<GPXContext> movieWriterContext_;

    // Touched on the writer context's queue only.
    GLuint movieFramebuffer_ = 0, movieRenderbuffer_ = 0;
    Ref<GLProgram> colorSwizzlingProgram_;
    GLint colorSwizzlingPositionAttribute_ = 0, colorSwizzlingTextureCoordinateAttribute_ = 0,
          colorSwizzlingInputTextureUniform_ = 0;

    mutable std::mutex mutex_;  // guards the fields below
    GPURotationMode inputRotation_ = rotationNone;
    Ref<GPXFramebuffer> firstInputFramebuffer_;
    CMTime startTime_ = kCMTimeInvalid;
    CMTime previousFrameTime_ = kCMTimeNegativeInfinity;
    CMTime previousAudioTime_ = kCMTimeNegativeInfinity;
    std::function<void()> completionBlock_;
    std::function<void(const Ref<NSError>&)> failureBlock_;
    std::function<bool()> videoInputReadyCallback_, audioInputReadyCallback_;
    AudioProcessingCallback audioProcessingCallback_;
    Weak<GPXMovieWriterDelegate> delegate_;
    dispatch_queue_t audioQueue_, videoQueue_;

    std::atomic<bool> alreadyFinishedRecording_{false};
    std::atomic<bool> audioEncodingIsFinished_{false}, videoEncodingIsFinished_{false};
    std::atomic<bool> isRecording_{false};
    // A refused setting or a writer that cannot start is told to the failure block or delegate
    // once, when recording is asked for (none can be set before the writer is made).
    std::atomic<bool> failureReported_{false};
    bool reportWriterFailure();
    std::atomic<bool> hasAudioTrack_{false}, encodingLiveVideo_{true}, shouldPassthroughAudio_{false};
    std::atomic<bool> enabled_{true}, shouldInvalidateAudioSampleWhenDone_{false}, paused_{false};
    std::atomic<int> framesAppended_{0}, framesDropped_{0};

    // Frames handed to the writer's queue and not yet written. Offline, a fast reader must not
    // pile up every frame of a movie: a synchronised reader waits on its reading queue before it
    // reads while kMaximumPendingFrames are pending, so the shared context queue goes on; any
    // other producer is held in newFrameReadyAtTime. The writer's queue never waits for the
    // shared queue, so neither wait can close a circle.
    static constexpr int kMaximumPendingFrames = 3;
    std::mutex pendingMutex_;
    std::condition_variable pendingChanged_;
    int pendingFrames_ = 0;
    void framePending();
    void frameDone();
    void waitForRoomForAFrame();
};
