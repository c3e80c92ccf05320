#include "media/AVPlayerItem.h"

#include <algorithm>

#include "uikit/CALayer.h"

AVPlayerItem::AVPlayerItem(Ref<AVAsset> asset) : asset_(std::move(asset)) {}

Ref<AVPlayerItem> AVPlayerItem::playerItemWithURL(const Ref<NSURL>& url) {
    return make<AVPlayerItem>(AVURLAsset::URLAssetWithURL(url));
}

void AVPlayerItem::addOutput(const Ref<AVPlayerItemVideoOutput>& output) {
    if (!output) return;
    {
        std::lock_guard lock(mutex_);
        if (std::find(outputs_.begin(), outputs_.end(), output) != outputs_.end()) return;
        outputs_.push_back(output);
    }
    output->attach(std::static_pointer_cast<AVPlayerItem>(self()));
}

void AVPlayerItem::removeOutput(const Ref<AVPlayerItemVideoOutput>& output) {
    std::lock_guard lock(mutex_);
    outputs_.erase(std::remove(outputs_.begin(), outputs_.end(), output), outputs_.end());
}

std::vector<Ref<AVPlayerItemVideoOutput>> AVPlayerItem::outputs() const {
    std::lock_guard lock(mutex_);
    return outputs_;
}

CMTime AVPlayerItem::itemTimeForHostTime(double hostTime) const {
    double seconds;
    {
        std::lock_guard lock(mutex_);
        seconds = anchorSeconds_ + (hostTime - anchorHostTime_) * rate_;
    }
    const double end = CMTimeGetSeconds(duration());
    if (!std::isnan(end)) seconds = std::min(seconds, end);
    return CMTimeMakeWithSeconds(std::max(seconds, 0.0), 600);
}

CMTime AVPlayerItem::currentTime() const {
    return itemTimeForHostTime(CACurrentMediaTime());
}

bool AVPlayerItem::isPlaying() const {
    std::lock_guard lock(mutex_);
    return rate_ != 0;
}

AVPlayerItemStatus AVPlayerItem::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

Ref<NSError> AVPlayerItem::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void AVPlayerItem::becomeReadyToPlay() {
    std::lock_guard lock(mutex_);
    if (status_ == AVPlayerItemStatusUnknown) status_ = AVPlayerItemStatusReadyToPlay;
}

void AVPlayerItem::failWithError(const Ref<NSError>& error) {
    std::lock_guard lock(mutex_);
    if (status_ == AVPlayerItemStatusFailed) return;
    status_ = AVPlayerItemStatusFailed;
    error_ = error;
}

void AVPlayerItem::setRate(float rate) {
    const double now = CACurrentMediaTime();
    const double seconds = CMTimeGetSeconds(itemTimeForHostTime(now));
    bool started = false;
    {
        std::lock_guard lock(mutex_);
        anchorSeconds_ = std::isnan(seconds) ? 0 : seconds;
        anchorHostTime_ = now;
        started = rate_ == 0 && rate != 0;
        rate_ = rate;
    }
    if (started) {
        for (auto& output : outputs()) output->itemDidStartPlaying();
    }
}

void AVPlayer::play() {
    if (item_) item_->setRate(1);
}

void AVPlayer::pause() {
    if (item_) item_->setRate(0);
}

float AVPlayer::rate() const {
    return item_ && item_->isPlaying() ? 1.0f : 0.0f;
}

AVPlayerItemVideoOutput::AVPlayerItemVideoOutput(Dictionary pixelBufferAttributes)
    : attributes_(std::move(pixelBufferAttributes)) {}

AVPlayerItemVideoOutput::~AVPlayerItemVideoOutput() = default;

void AVPlayerItemVideoOutput::setDelegate(const Weak<AVPlayerItemOutputPullDelegate>& delegate,
                                          dispatch_queue_t queue) {
    std::lock_guard lock(mutex_);
    delegate_ = delegate;
    delegateQueue_ = std::move(queue);
}

void AVPlayerItemVideoOutput::attach(const Ref<AVPlayerItem>& item) {
    std::lock_guard lock(mutex_);
    item_ = item;
    decoder_.reset();
    decoderOpened_ = false;
    due_.reset();
    pending_.reset();
}

void AVPlayerItemVideoOutput::requestNotificationOfMediaDataChangeWithAdvanceInterval(double) {
    bool playing = false;
    {
        std::lock_guard lock(mutex_);
        notificationRequested_ = true;
        auto item = item_.lock();
        playing = item && item->isPlaying();
    }
    if (playing) itemDidStartPlaying();
}

void AVPlayerItemVideoOutput::itemDidStartPlaying() {
    Weak<AVPlayerItemOutputPullDelegate> delegate;
    dispatch_queue_t queue;
    {
        std::lock_guard lock(mutex_);
        if (!notificationRequested_) return;
        notificationRequested_ = false;
        delegate = delegate_;
        queue = delegateQueue_;
    }
    if (!queue) queue = dispatch_get_main_queue();
    auto self = std::static_pointer_cast<AVPlayerItemVideoOutput>(NSObject::self());
    dispatch_async(queue, [delegate, self] {
        if (auto d = delegate.lock()) d->outputMediaDataWillChange(self);
    });
}

CMTime AVPlayerItemVideoOutput::itemTimeForHostTime(double hostTime) const {
    Ref<AVPlayerItem> item;
    {
        std::lock_guard lock(mutex_);
        item = item_.lock();
    }
    return item ? item->itemTimeForHostTime(hostTime) : kCMTimeInvalid;
}

void AVPlayerItemVideoOutput::advanceTo(CMTime itemTime) {
    if (!CMTIME_IS_NUMERIC(itemTime)) return;
    auto item = item_.lock();
    if (!decoderOpened_) {
        decoderOpened_ = true;  // once: at the end of the track the decoder goes and is not reopened
        const Ref<AVAsset> asset = item ? item->asset() : nullptr;
        auto tracks = asset ? asset->tracksWithMediaType(AVMediaTypeVideo) : std::vector<Ref<AVAssetTrack>>();
        OSType format = kCVPixelFormatType_32BGRA;
        if (const NSNumber* n = attributes_[kCVPixelBufferPixelFormatTypeKey].number())
            format = n->unsignedIntValue();
        std::string reason;
        if (!tracks.empty())
            decoder_ =
                detail::MovieTrackDecoder::open(tracks[0]->moviePath(), kCMMediaType_Video, format, &reason);
        if (!decoder_) {
            // A movie without video simply has no frames; one that cannot be read fails the item.
            Ref<NSError> error;
            if (asset && asset->statusOfValueForKey("tracks", &error) == AVKeyValueStatusFailed) {
                if (item) item->failWithError(error);
            } else if (!reason.empty() && item) {
                item->failWithError(detail::avError(AVErrorDecodeFailed, reason));
            }
            return;
        }
        if (item) item->becomeReadyToPlay();
    }
    while (decoder_) {
        if (!pending_) {
            std::string reason;
            pending_ = decoder_->next(&reason);
            if (!pending_) {
                decoder_.reset();  // the end, or damage: nothing more comes
                if (!reason.empty() && item)
                    item->failWithError(detail::avError(AVErrorDecodeFailed, reason));
                return;
            }
        }
        if (CMTimeCompare(pending_->presentationTimeStamp(), itemTime) > 0) return;
        due_ = std::move(pending_);
    }
}

bool AVPlayerItemVideoOutput::hasNewPixelBufferForItemTime(CMTime itemTime) {
    std::lock_guard lock(mutex_);
    advanceTo(itemTime);
    return due_ != nullptr;
}

CVPixelBufferRef AVPlayerItemVideoOutput::copyPixelBufferForItemTime(CMTime itemTime,
                                                                     CMTime* itemTimeForDisplay) {
    std::lock_guard lock(mutex_);
    advanceTo(itemTime);
    if (!due_) return nullptr;
    auto frame = std::move(due_);
    if (itemTimeForDisplay) *itemTimeForDisplay = frame->presentationTimeStamp();
    return frame->imageBuffer();
}
