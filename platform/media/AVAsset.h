#pragma once
// Assets: movies on disk, their tracks, and edited compositions over them.
//
// A URL asset learns its tracks by reading the file (MovieCodec.h): either asynchronously
// (loadValuesAsynchronouslyForKeys, whose handler runs on a global queue once the file has been
// read) or, as on the platform, by blocking the caller when tracks are asked for first. A file
// that is not a readable movie leaves the "tracks" key failed with an error and no tracks.
//
// A composition here is one source asset taken whole; the video composition and audio mix that
// go with it are recorded settings (render size and scale, frame duration, input parameters) that
// readers carry but that do not change the frames.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/NSError.h"
#include "foundation/NSURL.h"
#include "graphics/CGGeometry.h"
#include "media/AVMediaFormat.h"
#include "media/CMTime.h"
#include "media/MovieCodec.h"

inline constexpr char AVURLAssetPreferPreciseDurationAndTimingKey[] =
    "AVURLAssetPreferPreciseDurationAndTimingKey";
inline constexpr long AVErrorUnknown = -11800;
inline constexpr long AVErrorFileFormatNotRecognized = -11828;
inline constexpr long AVErrorFileAlreadyExists = -11823;
inline constexpr long AVErrorMaximumStillImageCaptureRequestsExceeded = -11830;
inline constexpr long AVErrorDecodeFailed = -11821;

enum AVKeyValueStatus : long {
    AVKeyValueStatusUnknown = 0,
    AVKeyValueStatusLoading = 1,
    AVKeyValueStatusLoaded = 2,
    AVKeyValueStatusFailed = 3,
    AVKeyValueStatusCancelled = 4,
};

struct CMTimeRange {
    CMTime start = kCMTimeZero;
    CMTime duration = kCMTimeZero;
};

class AVAsset;

class AVAssetTrack : public NSObject {
  public:
    AVAssetTrack(detail::MovieTrackInfo info, std::string path);
    std::string mediaType() const;
    int trackID() const { return info_.trackID; }
    CGSize naturalSize() const { return CGSizeMake(info_.width, info_.height); }
    float nominalFrameRate() const { return info_.nominalFrameRate; }
    CMTimeRange timeRange() const { return CMTimeRange{kCMTimeZero, info_.duration}; }
    double sampleRate() const { return info_.sampleRate; }
    std::uint32_t channelCount() const { return info_.channels; }
    // The file the track's samples are read from.
    const std::string& moviePath() const { return path_; }
    std::string className() const override { return "AVAssetTrack"; }

  private:
    detail::MovieTrackInfo info_;
    std::string path_;
};

class AVAsset : public NSObject {
  public:
    std::vector<Ref<AVAssetTrack>> tracks();
    std::vector<Ref<AVAssetTrack>> tracksWithMediaType(const std::string& mediaType);
    CMTime duration();
    // Only "tracks" and "duration" are known keys; others report failed.
    AVKeyValueStatus statusOfValueForKey(const std::string& key, Ref<NSError>* error);
    void loadValuesAsynchronouslyForKeys(const std::vector<std::string>& keys, std::function<void()> handler);
    std::string className() const override { return "AVAsset"; }

  protected:
    // Reads the tracks (blocking); subclasses say where from.
    virtual bool loadTracks(std::vector<Ref<AVAssetTrack>>* tracks, CMTime* duration,
                            Ref<NSError>* error) = 0;
    void ensureLoaded();

  private:
    std::mutex mutex_;
    AVKeyValueStatus status_ = AVKeyValueStatusUnknown;
    std::vector<Ref<AVAssetTrack>> tracks_;
    CMTime duration_ = kCMTimeInvalid;
    Ref<NSError> error_;
};

class AVURLAsset : public AVAsset {
  public:
    AVURLAsset(Ref<NSURL> url, Dictionary options);
    static Ref<AVURLAsset> URLAssetWithURL(const Ref<NSURL>& url, const Dictionary& options = Dictionary()) {
        return make<AVURLAsset>(url, options);
    }
    static Ref<AVAsset> assetWithURL(const Ref<NSURL>& url) { return URLAssetWithURL(url); }
    const Ref<NSURL>& URL() const { return url_; }
    const Dictionary& options() const { return options_; }
    std::string className() const override { return "AVURLAsset"; }

  protected:
    bool loadTracks(std::vector<Ref<AVAssetTrack>>* tracks, CMTime* duration, Ref<NSError>* error) override;

  private:
    Ref<NSURL> url_;
    Dictionary options_;
};

// An edited movie: here one source asset taken whole.
class AVComposition : public AVAsset {
  public:
    explicit AVComposition(Ref<AVAsset> source) : source_(std::move(source)) {}
    const Ref<AVAsset>& sourceAsset() const { return source_; }
    std::string className() const override { return "AVComposition"; }

  protected:
    bool loadTracks(std::vector<Ref<AVAssetTrack>>* tracks, CMTime* duration, Ref<NSError>* error) override;

  private:
    Ref<AVAsset> source_;
};

class AVMutableComposition : public AVComposition {
  public:
    using AVComposition::AVComposition;
    std::string className() const override { return "AVMutableComposition"; }
};

class AVVideoComposition : public NSObject {
  public:
    CGSize renderSize() const { return renderSize_; }
    CMTime frameDuration() const { return frameDuration_; }
    float renderScale() const { return renderScale_; }
    std::string className() const override { return "AVVideoComposition"; }

  protected:
    CGSize renderSize_ = CGSizeZero;
    CMTime frameDuration_ = CMTimeMake(1, 30);
    float renderScale_ = 1.0f;
};

class AVMutableVideoComposition : public AVVideoComposition {
  public:
    void setRenderSize(CGSize size) { renderSize_ = size; }
    void setFrameDuration(CMTime duration) { frameDuration_ = duration; }
    void setRenderScale(float scale) { renderScale_ = scale; }
    std::string className() const override { return "AVMutableVideoComposition"; }
};

class AVAudioMix : public NSObject {
  public:
    const std::vector<Dictionary>& inputParameters() const { return inputParameters_; }
    std::string className() const override { return "AVAudioMix"; }

  protected:
    std::vector<Dictionary> inputParameters_;
};

class AVMutableAudioMix : public AVAudioMix {
  public:
    void setInputParameters(std::vector<Dictionary> parameters) { inputParameters_ = std::move(parameters); }
    std::string className() const override { return "AVMutableAudioMix"; }
};

namespace detail {
Ref<NSError> avError(long code, const std::string& reason);
}  // namespace detail
