#pragma once
// Writing movies: a writer for a file and type, inputs for its tracks (H.264 video from BGRA
// pixel buffers through an adaptor, AAC audio from 16-bit sample buffers), and a session whose
// start time becomes the movie's zero.
//
// Status: unknown -> writing (startWriting) -> completed (finishWriting) or failed, or cancelled
// (cancelWriting). Only a completed writer leaves a file: a cancelled or failed one deletes what
// it wrote, and a writer never replaces an existing file (AVErrorFileAlreadyExists at creation).
//
// Settings: video needs "AVVideoCodecKey" (H.264), "AVVideoWidthKey" and "AVVideoHeightKey"
// (any size up to the frame limit: odd sides are written exactly); audio takes "AVFormatIDKey" (MPEG-4 AAC),
// "AVNumberOfChannelsKey" (1 or 2), "AVSampleRateKey" and "AVEncoderBitRateKey", and nil settings
// (pass-through) are written as AAC in the default format (44,100 Hz, one channel, 64 kbit/s). Inputs whose
// settings the platform refuses are refused by canAddInput; adding one anyway fails the writer (status
// failed, the reason in error()), so it can never complete a movie without that track.
//
// Inputs are ready while the writer is writing and they are not marked finished: encoding happens
// inside each append, so a ready input stays ready. Appends may come from several threads; the
// writer serialises them.

#include <functional>
#include <mutex>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSURL.h"
#include "graphics/CGGeometry.h"
#include "media/AVAsset.h"
#include "media/CMSampleBuffer.h"

inline constexpr char AVFileTypeQuickTimeMovie[] = "public.quicktime-movie";
inline constexpr char AVFileTypeMPEG4[] = "public.mpeg-4";

inline constexpr char AVVideoCodecH264[] = "avc1";
inline constexpr char AVVideoWidthKey[] = "AVVideoWidthKey";
inline constexpr char AVVideoHeightKey[] = "AVVideoHeightKey";
inline constexpr char AVFormatIDKey[] = "AVFormatIDKey";
inline constexpr std::uint32_t kAudioFormatMPEG4AAC = 0x61616320;  // "aac "
inline constexpr char AVNumberOfChannelsKey[] = "AVNumberOfChannelsKey";
inline constexpr char AVSampleRateKey[] = "AVSampleRateKey";
inline constexpr char AVChannelLayoutKey[] = "AVChannelLayoutKey";
inline constexpr char AVEncoderBitRateKey[] = "AVEncoderBitRateKey";
inline constexpr std::uint32_t kAudioChannelLayoutTag_Mono = (100u << 16) | 1;

enum AVAssetWriterStatus : long {
    AVAssetWriterStatusUnknown = 0,
    AVAssetWriterStatusWriting = 1,
    AVAssetWriterStatusCompleted = 2,
    AVAssetWriterStatusFailed = 3,
    AVAssetWriterStatusCancelled = 4,
};

class AVAssetWriter;

class AVMetadataItem : public NSObject {
  public:
    std::string key;
    Value value;
    std::string className() const override { return "AVMetadataItem"; }
};

class AVAssetWriterInput : public NSObject {
  public:
    // Settings: a dictionary, or nil (audio pass-through).
    AVAssetWriterInput(std::string mediaType, Value outputSettings);
    static Ref<AVAssetWriterInput> assetWriterInputWithMediaType(const std::string& mediaType,
                                                                 Value outputSettings) {
        return make<AVAssetWriterInput>(mediaType, std::move(outputSettings));
    }

    const std::string& mediaType() const { return mediaType_; }
    const Value& outputSettings() const { return outputSettings_; }
    bool expectsMediaDataInRealTime() const { return realTime_.load(); }
    void setExpectsMediaDataInRealTime(bool value) { realTime_.store(value); }
    CGAffineTransform transform() const;
    void setTransform(CGAffineTransform transform);

    bool isReadyForMoreMediaData() const;
    void markAsFinished();
    bool isFinished() const { return finished_.load(); }
    // Calls the block on the queue, again and again, until the input is marked finished or the
    // writer stops writing; the block appends while the input is ready.
    void requestMediaDataWhenReadyOnQueue(const dispatch_queue_t& queue, std::function<void()> block);
    // An audio sample buffer (video goes through the pixel-buffer adaptor).
    bool appendSampleBuffer(const CMSampleBufferRef& sampleBuffer);

    std::string className() const override { return "AVAssetWriterInput"; }

  private:
    friend class AVAssetWriter;
    friend class AVAssetWriterInputPixelBufferAdaptor;
    Ref<AVAssetWriter> writer() const;

    std::string mediaType_;
    Value outputSettings_;
    std::atomic<bool> realTime_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;
    CGAffineTransform transform_ = CGAffineTransformIdentity;
    Weak<AVAssetWriter> writer_;
};

class AVAssetWriterInputPixelBufferAdaptor : public NSObject {
  public:
    AVAssetWriterInputPixelBufferAdaptor(Ref<AVAssetWriterInput> input,
                                         Dictionary sourcePixelBufferAttributes);
    static Ref<AVAssetWriterInputPixelBufferAdaptor>
    assetWriterInputPixelBufferAdaptorWithAssetWriterInput(const Ref<AVAssetWriterInput>& input,
                                                           Dictionary attributes) {
        return make<AVAssetWriterInputPixelBufferAdaptor>(input, std::move(attributes));
    }
    const Ref<AVAssetWriterInput>& assetWriterInput() const { return input_; }
    const Dictionary& sourcePixelBufferAttributes() const { return attributes_; }
    // BGRA buffers of the attributes' size; nullptr until the writer is writing.
    CVPixelBufferPoolRef pixelBufferPool() const;
    bool appendPixelBuffer(const CVPixelBufferRef& pixelBuffer, CMTime presentationTime);
    std::string className() const override { return "AVAssetWriterInputPixelBufferAdaptor"; }

  private:
    Ref<AVAssetWriterInput> input_;
    Dictionary attributes_;
    CVPixelBufferPoolRef pool_;
};

class AVAssetWriter : public NSObject {
  public:
    // On an error (an existing file, an unknown type, not a file URL) `error` is set and the
    // writer fails to start.
    AVAssetWriter(Ref<NSURL> outputURL, std::string fileType, Ref<NSError>* error);
    ~AVAssetWriter() override;
    static Ref<AVAssetWriter> assetWriterWithURL(const Ref<NSURL>& url, const std::string& fileType,
                                                 Ref<NSError>* error) {
        return make<AVAssetWriter>(url, fileType, error);
    }

    const Ref<NSURL>& outputURL() const { return url_; }
    const std::string& outputFileType() const { return fileType_; }
    CMTime movieFragmentInterval() const;
    void setMovieFragmentInterval(CMTime interval);
    std::vector<Ref<AVMetadataItem>> metadata() const;
    void setMetadata(std::vector<Ref<AVMetadataItem>> items);

    bool canAddInput(const Ref<AVAssetWriterInput>& input) const;
    void addInput(const Ref<AVAssetWriterInput>& input);
    std::vector<Ref<AVAssetWriterInput>> inputs() const;

    bool startWriting();
    void startSessionAtSourceTime(CMTime startTime);
    AVAssetWriterStatus status() const { return status_.load(); }
    Ref<NSError> error() const;

    // Completes the file, then runs the handler on a global queue.
    void finishWritingWithCompletionHandler(std::function<void()> handler);
    // Completes the file before returning; NO when it could not be completed.
    bool finishWriting();
    // Stops and deletes what was written.
    void cancelWriting();

    std::string className() const override { return "AVAssetWriter"; }

  private:
    friend class AVAssetWriterInput;
    friend class AVAssetWriterInputPixelBufferAdaptor;
    bool appendVideo(const CVPixelBufferRef& buffer, CMTime time);
    bool appendAudio(const CMSampleBufferRef& buffer);
    void failLocked(const std::string& reason);
    // Why the writer cannot make a track of the input's settings; empty when it can.
    static std::string settingsRefusal(const AVAssetWriterInput& input);
    bool finishLocked();

    Ref<NSURL> url_;
    std::string fileType_;
    mutable std::mutex mutex_;
    std::atomic<AVAssetWriterStatus> status_{AVAssetWriterStatusUnknown};
    Ref<NSError> error_;
    std::vector<Ref<AVAssetWriterInput>> inputs_;
    std::vector<Ref<AVMetadataItem>> metadata_;
    CMTime fragmentInterval_ = kCMTimeInvalid;
    CMTime sessionStart_ = kCMTimeInvalid;
    std::unique_ptr<detail::MovieEncoder> encoder_;
};

namespace detail {
// Whether the settings describe a video track the writer can make (H.264, 1 to the frame limit a
// side), or an audio one (AAC, 1-2 channels); the reason when not.
bool videoSettingsUsable(const Dictionary& settings, std::string* reason);
bool audioSettingsUsable(const Value& settings, std::string* reason);
}  // namespace detail
