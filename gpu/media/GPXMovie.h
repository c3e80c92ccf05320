#pragma once
// Feeds a movie's frames into the pipeline. Three ways to run:
// - reading a file or asset as fast as it decodes (or at the movie's own pace with
//   playAtActualSpeed), on the thread that starts it or on a global queue once a URL's tracks
//   have loaded;
// - paced by a movie writer that encodes the result (enableSynchronizedEncodingUsingMovieWriter):
//   the writer's input queues pull each frame and audio sample;
// - following a player item during playback: a display link on the main run loop asks the item's
//   video output for the frame due at the next refresh.
// Each frame is uploaded into a framebuffer and handed to every target (enabled or not) on the
// shared context queue; audio samples go to the audio encoding target.
//
// Completion is reported once: endProcessing tells the delegate and then forgets it.

#include <atomic>
#include <functional>
#include <mutex>

#include "gpu/core/GLProgram.h"
#include "gpu/core/GPXOutput.h"
#include "gpu/media/GPXMediaShaders.h"
#include "gpu/media/GPXMovieWriter.h"
#include "media/AVAssetReader.h"
#include "media/AVPlayerItem.h"
#include "media/CADisplayLink.h"

class GPXMovieDelegate {
  public:
    virtual ~GPXMovieDelegate() = default;
    virtual void didCompletePlayingMovie() {}
    virtual bool implementsDidCompletePlayingMovie() const { return false; }
};

class GPXMovie : public GPXOutput, public AVPlayerItemOutputPullDelegate {
  public:
    explicit GPXMovie(Ref<NSURL> url);
    explicit GPXMovie(Ref<AVAsset> asset);
    explicit GPXMovie(Ref<AVPlayerItem> playerItem);
    ~GPXMovie() override;
    void didInit();
    std::string className() const override { return "GPXMovie"; }

    void enableSynchronizedEncodingUsingMovieWriter(const Ref<GPXMovieWriter>& movieWriter);
    void startProcessing();
    void endProcessing();
    void cancelProcessing();
    bool readNextVideoFrameFromOutput(const Ref<AVAssetReaderOutput>& readerVideoTrackOutput);
    bool readNextAudioSampleFromOutput(const Ref<AVAssetReaderOutput>& readerAudioTrackOutput);
    void processMovieFrame(const CMSampleBufferRef& movieSampleBuffer);
    void processMovieFrame(const CVPixelBufferRef& movieFrame, CMTime currentSampleTime);
    float progress();

    // AVPlayerItemOutputPullDelegate.
    void outputMediaDataWillChange(const Ref<AVPlayerItemVideoOutput>& sender) override;

    // The writer that receives the movie's audio; setting one turns on its audio track.
    void setAudioEncodingTarget(const Ref<GPXMovieWriter>& newValue);
    Ref<GPXMovieWriter> audioEncodingTarget() const;

    bool audioEncodingIsFinished() const { return audioEncodingIsFinished_.load(); }
    bool videoEncodingIsFinished() const { return videoEncodingIsFinished_.load(); }
    Ref<AVAssetReader> assetReader() const;
    bool runBenchmark() const { return runBenchmark_.load(); }
    void setRunBenchmark(bool v) { runBenchmark_.store(v); }
    bool playAtActualSpeed() const { return playAtActualSpeed_.load(); }
    void setPlayAtActualSpeed(bool v) { playAtActualSpeed_.store(v); }
    bool shouldRepeat() const { return shouldRepeat_.load(); }
    void setShouldRepeat(bool v) { shouldRepeat_.store(v); }
    Ref<NSURL> url() const;
    Ref<AVAsset> asset() const;
    Ref<AVPlayerItem> playerItem() const;
    void setDelegate(const Weak<GPXMovieDelegate>& delegate);
    Ref<CADisplayLink> displayLink() const;

  protected:
    virtual Ref<AVAssetReader> createAssetReader();
    void yuvConversionSetup();
    void setAsset(Ref<AVAsset> asset);

  private:
    void processAsset();
    void processPlayerItem();
    void displayLinkCallback(const Ref<CADisplayLink>& sender);
    void convertYUVToRGBOutput();

    mutable std::mutex mutex_;  // guards the fields below
    Ref<NSURL> url_;
    Ref<AVAsset> asset_;
    Ref<AVPlayerItem> playerItem_;
    Ref<GPXMovieWriter> synchronizedMovieWriter_;
    Ref<GPXMovieWriter> audioEncodingTarget_;
    Ref<AVAssetReader> reader_;
    Ref<AVPlayerItemVideoOutput> playerItemOutput_;
    Ref<CADisplayLink> displayLink_;
    Weak<GPXMovieDelegate> delegate_;
    CMTime previousFrameTime_ = kCMTimeZero;
    CMTime processingFrameTime_ = kCMTimeInvalid;
    double previousActualFrameTime_ = 0;

    std::atomic<bool> audioEncodingIsFinished_{false}, videoEncodingIsFinished_{false};
    std::atomic<bool> keepLooping_{false};
    std::atomic<bool> endTold_{false};  // this run's end handed on
    std::atomic<bool> runBenchmark_{false}, playAtActualSpeed_{false}, shouldRepeat_{false};

    // Touched on the shared context queue only.
    detail::YUVConversion yuvConversion_;
    const GLfloat* preferredConversion_ = nullptr;
    bool isFullYUVRange_ = false;
    int imageBufferWidth_ = 0, imageBufferHeight_ = 0;
};

// Reads an edited composition, with its video composition and audio mix, instead of an asset.
class GPXMovieComposition : public GPXMovie {
  public:
    GPXMovieComposition(Ref<AVComposition> compositon, Ref<AVVideoComposition> videoComposition,
                        Ref<AVAudioMix> audioMix);
    std::string className() const override { return "GPXMovieComposition"; }

    Ref<AVComposition> compositon() const;
    void setCompositon(Ref<AVComposition> value);
    Ref<AVVideoComposition> videoComposition() const;
    void setVideoComposition(Ref<AVVideoComposition> value);
    Ref<AVAudioMix> audioMix() const;
    void setAudioMix(Ref<AVAudioMix> value);

  protected:
    Ref<AVAssetReader> createAssetReader() override;

  private:
    mutable std::mutex compositionMutex_;
    Ref<AVComposition> compositon_;
    Ref<AVVideoComposition> videoComposition_;
    Ref<AVAudioMix> audioMix_;
};
