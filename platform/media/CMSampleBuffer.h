#pragma once
// Sample buffers: one video frame (a pixel buffer) or a run of audio samples, with its timing and
// attachments. Audio is kept as signed 16-bit samples, channels interleaved, in one block whose
// memory stays put for the buffer's life, so code may change the samples in place before they
// are written.
//
// A buffer can be invalidated: it stays readable (its memory is still owned), but reports itself
// invalid so that later users know it has been consumed.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "media/CMTime.h"
#include "media/CVPixelBuffer.h"

using OSStatus = std::int32_t;
inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus kCMSampleBufferError_InvalidMediaFormat = -12743;
inline constexpr OSStatus kCMSampleBufferError_RequiredParameterMissing = -12731;

using CMMediaType = std::uint32_t;
inline constexpr CMMediaType kCMMediaType_Video = 0x76696465;  // "vide"
inline constexpr CMMediaType kCMMediaType_Audio = 0x736f756e;  // "soun"

// What a sample buffer holds: a video frame's size and format, or audio's rate and channels.
class CMFormatDescription : public NSObject {
  public:
    CMMediaType mediaType = kCMMediaType_Video;
    std::size_t width = 0, height = 0;
    OSType pixelFormat = 0;
    double sampleRate = 0;
    std::uint32_t channels = 0;
    std::string className() const override { return "CMFormatDescription"; }
};
using CMFormatDescriptionRef = Ref<CMFormatDescription>;
using CMVideoFormatDescriptionRef = Ref<CMFormatDescription>;

struct CMSampleTimingInfo {
    CMTime duration = kCMTimeInvalid;
    CMTime presentationTimeStamp = kCMTimeInvalid;
    CMTime decodeTimeStamp = kCMTimeInvalid;
};

// One interleaved buffer of audio, as the platform's audio buffer list describes it.
struct AudioBuffer {
    std::uint32_t mNumberChannels = 0;
    std::uint32_t mDataByteSize = 0;
    void* mData = nullptr;
};
struct AudioBufferList {
    std::uint32_t mNumberBuffers = 0;
    AudioBuffer mBuffers[1];
};

class CMSampleBuffer : public NSObject {
  public:
    // A video frame.
    CMSampleBuffer(CVImageBufferRef imageBuffer, CMFormatDescriptionRef format, CMSampleTimingInfo timing);
    // Audio: frames x channels interleaved samples.
    CMSampleBuffer(std::vector<std::int16_t> samples, std::uint32_t channels, double sampleRate,
                   CMTime presentationTime);

    const CVImageBufferRef& imageBuffer() const { return imageBuffer_; }
    const CMFormatDescriptionRef& formatDescription() const { return format_; }
    CMTime presentationTimeStamp() const { return timing_.presentationTimeStamp; }
    CMTime outputPresentationTimeStamp() const { return timing_.presentationTimeStamp; }
    CMTime duration() const { return timing_.duration; }
    CMTime decodeTimeStamp() const { return timing_.decodeTimeStamp; }
    // Audio frames (samples per channel); 1 for a video frame.
    long numSamples() const;
    std::int16_t* audioSamples() { return samples_.data(); }
    const std::vector<std::int16_t>& audioSampleVector() const { return samples_; }
    std::uint32_t audioChannels() const { return format_ ? format_->channels : 0; }
    double audioSampleRate() const { return format_ ? format_->sampleRate : 0; }
    bool isAudio() const { return format_ && format_->mediaType == kCMMediaType_Audio; }

    bool isValid() const { return valid_.load(); }
    void invalidate() { valid_.store(false); }

    Value attachment(const std::string& key) const;
    void setAttachment(const std::string& key, Value value, CVAttachmentMode mode);
    // The propagating attachments of the buffer and of its image buffer.
    Dictionary propagatedAttachments() const;

    std::string className() const override { return "CMSampleBuffer"; }

  private:
    CVImageBufferRef imageBuffer_;
    CMFormatDescriptionRef format_;
    CMSampleTimingInfo timing_;
    std::vector<std::int16_t> samples_;
    std::atomic<bool> valid_{true};
    mutable std::mutex mutex_;
    std::vector<std::tuple<std::string, Value, CVAttachmentMode>> attachments_;
};
using CMSampleBufferRef = Ref<CMSampleBuffer>;

OSStatus CMVideoFormatDescriptionCreateForImageBuffer(const CVImageBufferRef& imageBuffer,
                                                      CMVideoFormatDescriptionRef* out);
OSStatus CMSampleBufferCreateForImageBuffer(const CVImageBufferRef& imageBuffer, bool dataReady,
                                            const CMVideoFormatDescriptionRef& format,
                                            const CMSampleTimingInfo& timing, CMSampleBufferRef* out);
inline CVImageBufferRef CMSampleBufferGetImageBuffer(const CMSampleBufferRef& b) {
    return b ? b->imageBuffer() : nullptr;
}
inline CMTime CMSampleBufferGetPresentationTimeStamp(const CMSampleBufferRef& b) {
    return b ? b->presentationTimeStamp() : kCMTimeInvalid;
}
inline CMTime CMSampleBufferGetOutputPresentationTimeStamp(const CMSampleBufferRef& b) {
    return b ? b->outputPresentationTimeStamp() : kCMTimeInvalid;
}
inline long CMSampleBufferGetNumSamples(const CMSampleBufferRef& b) {
    return b ? b->numSamples() : 0;
}
inline void CMSampleBufferInvalidate(const CMSampleBufferRef& b) {
    if (b) b->invalidate();
}
inline bool CMSampleBufferIsValid(const CMSampleBufferRef& b) {
    return b && b->isValid();
}
// The buffer's audio as one interleaved buffer pointing into the sample buffer's own memory (so
// changes made through it are what gets written). kCMSampleBufferError_InvalidMediaFormat for a
// video buffer.
OSStatus CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(const CMSampleBufferRef& b,
                                                                 AudioBufferList* bufferList);
// The buffer's propagating attachments (and its image buffer's), copied.
Dictionary CMCopyDictionaryOfAttachments(const CMSampleBufferRef& b, CVAttachmentMode mode);
