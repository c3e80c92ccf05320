#include "media/AVAssetReader.h"

#include <algorithm>

AVAssetReaderOutput::AVAssetReaderOutput(Ref<AVAssetTrack> track, Dictionary settings)
    : track_(std::move(track)), settings_(std::move(settings)) {}

bool AVAssetReaderOutput::start(Ref<NSError>* error) {
    if (!track_) {
        *error = detail::avError(AVErrorUnknown, "the output has no track");
        return false;
    }
    OSType format = kCVPixelFormatType_32BGRA;
    if (const NSNumber* n = settings_[kCVPixelBufferPixelFormatTypeKey].number())
        format = n->unsignedIntValue();
    std::string reason;
    const CMMediaType type =
        track_->mediaType() == AVMediaTypeVideo ? kCMMediaType_Video : kCMMediaType_Audio;
    auto decoder = detail::MovieTrackDecoder::open(track_->moviePath(), type, format, &reason);
    if (!decoder) {
        *error = detail::avError(AVErrorDecodeFailed, reason);
        return false;
    }
    std::lock_guard lock(mutex_);
    decoder_ = std::move(decoder);
    finished_ = false;
    return true;
}

void AVAssetReaderOutput::stop() {
    std::lock_guard lock(mutex_);
    decoder_.reset();
}

CMSampleBufferRef AVAssetReaderOutput::copyNextSampleBuffer() {
    AVAssetReader* reader = nullptr;
    CMSampleBufferRef sample;
    std::string reason;
    bool ended = false;
    {
        std::lock_guard lock(mutex_);
        reader = reader_;
        if (!reader || reader->status() != AVAssetReaderStatusReading || !decoder_ || finished_)
            return nullptr;
        sample = decoder_->next(&reason);
        if (!sample) {
            finished_ = true;
            ended = true;
            decoder_.reset();
        }
    }
    if (ended) reader->outputDidEnd(reason.empty() ? nullptr : detail::avError(AVErrorDecodeFailed, reason));
    return sample;
}

AVAssetReader::AVAssetReader(Ref<AVAsset> asset, Ref<NSError>* error) : asset_(std::move(asset)) {
    Ref<NSError> loadError;
    if (!asset_) {
        loadError = detail::avError(AVErrorUnknown, "no asset");
    } else {
        asset_->tracks();
        asset_->statusOfValueForKey("tracks", &loadError);
    }
    if (error) *error = loadError;
    error_ = loadError;
}

AVAssetReader::~AVAssetReader() {
    std::lock_guard lock(mutex_);
    for (auto& output : outputs_) {
        output->stop();
        std::lock_guard outputLock(output->mutex_);
        output->reader_ = nullptr;
    }
}

bool AVAssetReader::canAddOutput(const Ref<AVAssetReaderOutput>& output) const {
    if (!output || status() != AVAssetReaderStatusUnknown) return false;
    std::lock_guard lock(mutex_);
    if (std::find(outputs_.begin(), outputs_.end(), output) != outputs_.end()) return false;
    std::lock_guard outputLock(output->mutex_);
    return output->reader_ == nullptr;
}

void AVAssetReader::addOutput(const Ref<AVAssetReaderOutput>& output) {
    if (!canAddOutput(output)) return;
    std::lock_guard lock(mutex_);
    {
        std::lock_guard outputLock(output->mutex_);
        output->reader_ = this;
    }
    outputs_.push_back(output);
}

std::vector<Ref<AVAssetReaderOutput>> AVAssetReader::outputs() const {
    std::lock_guard lock(mutex_);
    return outputs_;
}

bool AVAssetReader::startReading() {
    if (status() != AVAssetReaderStatusUnknown) return false;
    std::vector<Ref<AVAssetReaderOutput>> outputs;
    {
        std::lock_guard lock(mutex_);
        if (error_) {
            status_.store(AVAssetReaderStatusFailed);
            return false;
        }
        outputs = outputs_;
    }
    for (auto& output : outputs) {
        Ref<NSError> error;
        if (!output->start(&error)) {
            for (auto& o : outputs) o->stop();
            std::lock_guard lock(mutex_);
            error_ = error;
            status_.store(AVAssetReaderStatusFailed);
            return false;
        }
    }
    std::lock_guard lock(mutex_);
    endedOutputs_ = 0;
    status_.store(outputs.empty() ? AVAssetReaderStatusCompleted : AVAssetReaderStatusReading);
    return true;
}

void AVAssetReader::cancelReading() {
    AVAssetReaderStatus expected = AVAssetReaderStatusReading;
    if (!status_.compare_exchange_strong(expected, AVAssetReaderStatusCancelled)) {
        expected = AVAssetReaderStatusUnknown;
        if (!status_.compare_exchange_strong(expected, AVAssetReaderStatusCancelled)) return;
    }
    for (auto& output : outputs()) output->stop();
}

Ref<NSError> AVAssetReader::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

// One track's damage does not cut the others short: each reads its own decoder, so what they
// hold before the damage is still handed out. The first failure waits here until every output
// has ended, and only then does the reader fail with it.
void AVAssetReader::outputDidEnd(const Ref<NSError>& failure) {
    std::lock_guard lock(mutex_);
    if (failure && !heldError_) heldError_ = failure;
    if (++endedOutputs_ < outputs_.size()) return;
    AVAssetReaderStatus expected = AVAssetReaderStatusReading;
    if (heldError_) {
        if (status_.compare_exchange_strong(expected, AVAssetReaderStatusFailed)) error_ = heldError_;
    } else {
        status_.compare_exchange_strong(expected, AVAssetReaderStatusCompleted);
    }
}
