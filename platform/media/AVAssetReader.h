#pragma once
// Reading an asset's samples: a reader with one output per track (or per set of tracks for the
// composition outputs), each pulled with copyNextSampleBuffer. Video comes as pixel buffers of
// the format the output settings ask for (BGRA unless "PixelFormatType" asks for biplanar 4:2:0
// full range); audio as interleaved 16-bit samples at the track's own rate.
//
// Status: unknown -> reading (startReading) -> completed once every output has given its last
// sample, failed (error() says why) when the movie turns out damaged, or cancelled. Damage is a
// sample that does not decode or is cut short, or a file that ends before the samples its index
// lists: every track's samples up to the damage are handed out, and the end then comes as a
// failure, never as completion. One output meeting damage leaves the reader reading until every
// other output has also given what it can and ended; the reader then fails with the first error,
// and no output gives anything more. A movie whose tracks hold no sample completes at the first
// pull. Outputs may be pulled from different threads: each reads its own decoder.

#include <atomic>
#include <mutex>
#include <vector>

#include "media/AVAsset.h"
#include "media/CMSampleBuffer.h"

enum AVAssetReaderStatus : long {
    AVAssetReaderStatusUnknown = 0,
    AVAssetReaderStatusReading = 1,
    AVAssetReaderStatusCompleted = 2,
    AVAssetReaderStatusFailed = 3,
    AVAssetReaderStatusCancelled = 4,
};

class AVAssetReader;

class AVAssetReaderOutput : public NSObject {
  public:
    virtual std::string mediaType() const = 0;
    bool alwaysCopiesSampleData() const { return alwaysCopiesSampleData_; }
    void setAlwaysCopiesSampleData(bool value) { alwaysCopiesSampleData_ = value; }
    // The next sample; nullptr at the end, when the reader is not reading, or on a failure.
    CMSampleBufferRef copyNextSampleBuffer();
    std::string className() const override { return "AVAssetReaderOutput"; }

  protected:
    AVAssetReaderOutput(Ref<AVAssetTrack> track, Dictionary settings);

  private:
    friend class AVAssetReader;
    bool start(Ref<NSError>* error);
    void stop();

    Ref<AVAssetTrack> track_;
    Dictionary settings_;
    bool alwaysCopiesSampleData_ = true;
    std::mutex mutex_;
    std::unique_ptr<detail::MovieTrackDecoder> decoder_;
    bool finished_ = false;
    AVAssetReader* reader_ = nullptr;  // set while added; the reader outlives its outputs' use
};

class AVAssetReaderTrackOutput : public AVAssetReaderOutput {
  public:
    AVAssetReaderTrackOutput(const Ref<AVAssetTrack>& track, Dictionary outputSettings)
        : AVAssetReaderOutput(track, std::move(outputSettings)), type_(track ? track->mediaType() : "") {}
    static Ref<AVAssetReaderTrackOutput> assetReaderTrackOutputWithTrack(const Ref<AVAssetTrack>& track,
                                                                         Dictionary outputSettings) {
        return make<AVAssetReaderTrackOutput>(track, std::move(outputSettings));
    }
    std::string mediaType() const override { return type_; }
    std::string className() const override { return "AVAssetReaderTrackOutput"; }

  private:
    std::string type_;
};

// Reads the first of the video tracks (a composition here is one source taken whole).
class AVAssetReaderVideoCompositionOutput : public AVAssetReaderOutput {
  public:
    AVAssetReaderVideoCompositionOutput(const std::vector<Ref<AVAssetTrack>>& videoTracks,
                                        Dictionary videoSettings)
        : AVAssetReaderOutput(videoTracks.empty() ? nullptr : videoTracks.front(), std::move(videoSettings)) {
    }
    std::string mediaType() const override { return AVMediaTypeVideo; }
    Ref<AVVideoComposition> videoComposition() const { return videoComposition_; }
    void setVideoComposition(Ref<AVVideoComposition> composition) {
        videoComposition_ = std::move(composition);
    }
    std::string className() const override { return "AVAssetReaderVideoCompositionOutput"; }

  private:
    Ref<AVVideoComposition> videoComposition_;
};

class AVAssetReaderAudioMixOutput : public AVAssetReaderOutput {
  public:
    AVAssetReaderAudioMixOutput(const std::vector<Ref<AVAssetTrack>>& audioTracks, Dictionary audioSettings)
        : AVAssetReaderOutput(audioTracks.empty() ? nullptr : audioTracks.front(), std::move(audioSettings)) {
    }
    std::string mediaType() const override { return AVMediaTypeAudio; }
    Ref<AVAudioMix> audioMix() const { return audioMix_; }
    void setAudioMix(Ref<AVAudioMix> mix) { audioMix_ = std::move(mix); }
    std::string className() const override { return "AVAssetReaderAudioMixOutput"; }

  private:
    Ref<AVAudioMix> audioMix_;
};

class AVAssetReader : public NSObject {
  public:
    // Failing to read the asset's tracks is reported through `error` (the reader is then made,
    // and fails to start).
    AVAssetReader(Ref<AVAsset> asset, Ref<NSError>* error);
    ~AVAssetReader() override;
    static Ref<AVAssetReader> assetReaderWithAsset(const Ref<AVAsset>& asset, Ref<NSError>* error) {
        return make<AVAssetReader>(asset, error);
    }

    const Ref<AVAsset>& asset() const { return asset_; }
    bool canAddOutput(const Ref<AVAssetReaderOutput>& output) const;
    void addOutput(const Ref<AVAssetReaderOutput>& output);
    std::vector<Ref<AVAssetReaderOutput>> outputs() const;
    // NO (status failed, error set) when the asset cannot be read or an output cannot start.
    bool startReading();
    void cancelReading();
    AVAssetReaderStatus status() const { return status_.load(); }
    Ref<NSError> error() const;
    std::string className() const override { return "AVAssetReader"; }

  private:
    friend class AVAssetReaderOutput;
    // An output gave its last sample (no failure) or met damage.
    void outputDidEnd(const Ref<NSError>& failure);

    Ref<AVAsset> asset_;
    mutable std::mutex mutex_;
    std::vector<Ref<AVAssetReaderOutput>> outputs_;
    std::atomic<AVAssetReaderStatus> status_{AVAssetReaderStatusUnknown};
    Ref<NSError> error_;
    std::size_t endedOutputs_ = 0;  // outputs that gave their last sample or failed
    Ref<NSError> heldError_;        // the first output's failure, until every output has ended
};
