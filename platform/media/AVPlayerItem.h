#pragma once
// Playback: a player item over an asset, a player that moves the item's time on the platform
// clock while playing, and a video output that hands out the item's frames for a given time.
//
// Item time follows the clock: while the player plays, the time advances with
// CACurrentMediaTime() (so on the manual clock, as tests advance it), stopping at the item's
// duration. Host times are the same monotonic seconds. The output decodes the video track in
// order as times ask for it; hasNewPixelBufferForItemTime answers whether a frame at or before
// that time has not been handed out yet, and copyPixelBufferForItemTime hands out the latest one.
//
// Status: unknown until an output starts decoding the item's video (then ready to play), or
// failed with an error once the movie turns out unreadable: its tracks do not load, or its video
// is damaged (a decoding error, or a file that ends before its samples do). Its outputs hand out
// no frame beyond the damage.

#include <functional>
#include <mutex>
#include <vector>

#include "dispatch/Dispatch.h"
#include "media/AVAsset.h"
#include "media/CVPixelBuffer.h"

class AVPlayerItemOutput;
class AVPlayerItemVideoOutput;

enum AVPlayerItemStatus : long {
    AVPlayerItemStatusUnknown = 0,
    AVPlayerItemStatusReadyToPlay = 1,
    AVPlayerItemStatusFailed = 2,
};

class AVPlayerItem : public NSObject {
  public:
    explicit AVPlayerItem(Ref<AVAsset> asset);
    static Ref<AVPlayerItem> playerItemWithURL(const Ref<NSURL>& url);
    static Ref<AVPlayerItem> playerItemWithAsset(const Ref<AVAsset>& asset) {
        return make<AVPlayerItem>(asset);
    }

    const Ref<AVAsset>& asset() const { return asset_; }
    void addOutput(const Ref<AVPlayerItemVideoOutput>& output);
    void removeOutput(const Ref<AVPlayerItemVideoOutput>& output);
    std::vector<Ref<AVPlayerItemVideoOutput>> outputs() const;
    CMTime currentTime() const;
    CMTime duration() const { return asset_ ? asset_->duration() : kCMTimeInvalid; }
    bool isPlaying() const;
    AVPlayerItemStatus status() const;
    // Why the item failed; nullptr otherwise.
    Ref<NSError> error() const;
    std::string className() const override { return "AVPlayerItem"; }

    // The item's time at a host time (monotonic seconds).
    CMTime itemTimeForHostTime(double hostTime) const;

  private:
    friend class AVPlayer;
    friend class AVPlayerItemVideoOutput;
    void setRate(float rate);
    void becomeReadyToPlay();
    void failWithError(const Ref<NSError>& error);

    Ref<AVAsset> asset_;
    mutable std::mutex mutex_;
    std::vector<Ref<AVPlayerItemVideoOutput>> outputs_;
    float rate_ = 0;
    double anchorHostTime_ = 0;  // host time at which the item was at anchorSeconds_
    double anchorSeconds_ = 0;
    AVPlayerItemStatus status_ = AVPlayerItemStatusUnknown;
    Ref<NSError> error_;
};

class AVPlayer : public NSObject {
  public:
    explicit AVPlayer(Ref<AVPlayerItem> item) : item_(std::move(item)) {}
    static Ref<AVPlayer> playerWithPlayerItem(const Ref<AVPlayerItem>& item) { return make<AVPlayer>(item); }
    const Ref<AVPlayerItem>& currentItem() const { return item_; }
    void play();
    void pause();
    float rate() const;
    std::string className() const override { return "AVPlayer"; }

  private:
    Ref<AVPlayerItem> item_;
};

class AVPlayerItemOutputPullDelegate {
  public:
    virtual ~AVPlayerItemOutputPullDelegate() = default;
    virtual void outputMediaDataWillChange(const Ref<AVPlayerItemVideoOutput>& sender) {}
};

class AVPlayerItemVideoOutput : public NSObject {
  public:
    // "PixelFormatType": BGRA (the default) or biplanar 4:2:0 full range.
    explicit AVPlayerItemVideoOutput(Dictionary pixelBufferAttributes);
    ~AVPlayerItemVideoOutput() override;

    void setDelegate(const Weak<AVPlayerItemOutputPullDelegate>& delegate, dispatch_queue_t queue);
    // The delegate hears outputMediaDataWillChange on its queue when the item starts playing (at
    // once when it already plays).
    void requestNotificationOfMediaDataChangeWithAdvanceInterval(double interval);
    CMTime itemTimeForHostTime(double hostTime) const;
    bool hasNewPixelBufferForItemTime(CMTime itemTime);
    // The latest frame at or before the time, once; nullptr when there is none new.
    CVPixelBufferRef copyPixelBufferForItemTime(CMTime itemTime, CMTime* itemTimeForDisplay);
    std::string className() const override { return "AVPlayerItemVideoOutput"; }

  private:
    friend class AVPlayerItem;
    void attach(const Ref<AVPlayerItem>& item);
    void itemDidStartPlaying();
    // Decodes until the next pending frame is later than the time; keeps the latest one due.
    void advanceTo(CMTime itemTime);

    Dictionary attributes_;
    mutable std::mutex mutex_;
    Weak<AVPlayerItem> item_;
    Weak<AVPlayerItemOutputPullDelegate> delegate_;
    dispatch_queue_t delegateQueue_;
    bool notificationRequested_ = false;
    std::unique_ptr<detail::MovieTrackDecoder> decoder_;
    bool decoderOpened_ = false;
    CMSampleBufferRef due_;      // the latest frame at or before the last asked time, not yet handed out
    CMSampleBufferRef pending_;  // the next decoded frame, later than the last asked time
};
