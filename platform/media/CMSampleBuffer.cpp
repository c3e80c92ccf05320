#include "media/CMSampleBuffer.h"

CMSampleBuffer::CMSampleBuffer(CVImageBufferRef imageBuffer, CMFormatDescriptionRef format,
                               CMSampleTimingInfo timing)
    : imageBuffer_(std::move(imageBuffer)), format_(std::move(format)), timing_(timing) {}

CMSampleBuffer::CMSampleBuffer(std::vector<std::int16_t> samples, std::uint32_t channels, double sampleRate,
                               CMTime presentationTime)
    : samples_(std::move(samples)) {
    format_ = make<CMFormatDescription>();
    format_->mediaType = kCMMediaType_Audio;
    format_->channels = channels;
    format_->sampleRate = sampleRate;
    timing_.presentationTimeStamp = presentationTime;
    const long frames = channels > 0 ? static_cast<long>(samples_.size() / channels) : 0;
    if (sampleRate > 0) timing_.duration = CMTimeMake(frames, static_cast<CMTimeScale>(sampleRate));
}

long CMSampleBuffer::numSamples() const {
    if (!isAudio()) return imageBuffer_ ? 1 : 0;
    const auto channels = audioChannels();
    return channels > 0 ? static_cast<long>(samples_.size() / channels) : 0;
}

Value CMSampleBuffer::attachment(const std::string& key) const {
    std::lock_guard lock(mutex_);
    for (auto& [k, v, mode] : attachments_) {
        if (k == key) return v;
    }
    return Value();
}

void CMSampleBuffer::setAttachment(const std::string& key, Value value, CVAttachmentMode mode) {
    std::lock_guard lock(mutex_);
    for (auto& entry : attachments_) {
        if (std::get<0>(entry) == key) {
            std::get<1>(entry) = std::move(value);
            std::get<2>(entry) = mode;
            return;
        }
    }
    attachments_.emplace_back(key, std::move(value), mode);
}

Dictionary CMSampleBuffer::propagatedAttachments() const {
    Dictionary result = imageBuffer_ ? imageBuffer_->propagatedAttachments() : Dictionary();
    std::lock_guard lock(mutex_);
    for (auto& [k, v, mode] : attachments_) {
        if (mode == kCVAttachmentMode_ShouldPropagate) result.setObject(k, v);
    }
    return result;
}

OSStatus CMVideoFormatDescriptionCreateForImageBuffer(const CVImageBufferRef& imageBuffer,
                                                      CMVideoFormatDescriptionRef* out) {
    if (!out) return kCMSampleBufferError_RequiredParameterMissing;
    *out = nullptr;
    if (!imageBuffer) return kCMSampleBufferError_RequiredParameterMissing;
    auto format = make<CMFormatDescription>();
    format->mediaType = kCMMediaType_Video;
    format->width = imageBuffer->width();
    format->height = imageBuffer->height();
    format->pixelFormat = imageBuffer->pixelFormatType();
    *out = format;
    return noErr;
}

OSStatus CMSampleBufferCreateForImageBuffer(const CVImageBufferRef& imageBuffer, bool,
                                            const CMVideoFormatDescriptionRef& format,
                                            const CMSampleTimingInfo& timing, CMSampleBufferRef* out) {
    if (!out) return kCMSampleBufferError_RequiredParameterMissing;
    *out = nullptr;
    if (!imageBuffer || !format) return kCMSampleBufferError_RequiredParameterMissing;
    *out = make<CMSampleBuffer>(imageBuffer, format, timing);
    return noErr;
}

OSStatus CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(const CMSampleBufferRef& b,
                                                                 AudioBufferList* bufferList) {
    if (!b || !bufferList) return kCMSampleBufferError_RequiredParameterMissing;
    if (!b->isAudio()) return kCMSampleBufferError_InvalidMediaFormat;
    bufferList->mNumberBuffers = 1;
    bufferList->mBuffers[0].mNumberChannels = b->audioChannels();
    bufferList->mBuffers[0].mDataByteSize =
        static_cast<std::uint32_t>(b->audioSampleVector().size() * sizeof(std::int16_t));
    bufferList->mBuffers[0].mData = b->audioSamples();
    return noErr;
}

Dictionary CMCopyDictionaryOfAttachments(const CMSampleBufferRef& b, CVAttachmentMode) {
    return b ? b->propagatedAttachments() : Dictionary();
}
