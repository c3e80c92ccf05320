#include "media/AVAsset.h"

#include "dispatch/Dispatch.h"

namespace detail {
Ref<NSError> avError(long code, const std::string& reason) {
    return NSError::errorWithDomain(AVFoundationErrorDomain, code,
                                    Dictionary{{NSLocalizedDescriptionKey, reason}});
}
}  // namespace detail

AVAssetTrack::AVAssetTrack(detail::MovieTrackInfo info, std::string path)
    : info_(info), path_(std::move(path)) {}

std::string AVAssetTrack::mediaType() const {
    return info_.mediaType == kCMMediaType_Video ? AVMediaTypeVideo : AVMediaTypeAudio;
}

void AVAsset::ensureLoaded() {
    {
        std::lock_guard lock(mutex_);
        if (status_ == AVKeyValueStatusLoaded || status_ == AVKeyValueStatusFailed) return;
        status_ = AVKeyValueStatusLoading;
    }
    std::vector<Ref<AVAssetTrack>> tracks;
    CMTime duration = kCMTimeInvalid;
    Ref<NSError> error;
    const bool loaded = loadTracks(&tracks, &duration, &error);
    std::lock_guard lock(mutex_);
    if (status_ == AVKeyValueStatusLoaded || status_ == AVKeyValueStatusFailed) return;  // another caller won
    status_ = loaded ? AVKeyValueStatusLoaded : AVKeyValueStatusFailed;
    tracks_ = std::move(tracks);
    duration_ = loaded ? duration : kCMTimeInvalid;
    error_ = error;
}

std::vector<Ref<AVAssetTrack>> AVAsset::tracks() {
    ensureLoaded();
    std::lock_guard lock(mutex_);
    return tracks_;
}

std::vector<Ref<AVAssetTrack>> AVAsset::tracksWithMediaType(const std::string& mediaType) {
    std::vector<Ref<AVAssetTrack>> result;
    for (auto& t : tracks()) {
        if (t->mediaType() == mediaType) result.push_back(t);
    }
    return result;
}

CMTime AVAsset::duration() {
    ensureLoaded();
    std::lock_guard lock(mutex_);
    return duration_;
}

AVKeyValueStatus AVAsset::statusOfValueForKey(const std::string& key, Ref<NSError>* error) {
    if (key != "tracks" && key != "duration") {
        if (error) *error = detail::avError(AVErrorUnknown, "unknown key " + key);
        return AVKeyValueStatusFailed;
    }
    std::lock_guard lock(mutex_);
    if (error) *error = status_ == AVKeyValueStatusFailed ? error_ : nullptr;
    return status_;
}

void AVAsset::loadValuesAsynchronouslyForKeys(const std::vector<std::string>&,
                                              std::function<void()> handler) {
    auto keepAlive = std::static_pointer_cast<AVAsset>(self());
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                   [keepAlive, handler = std::move(handler)] {
                       keepAlive->ensureLoaded();
                       if (handler) handler();
                   });
}

AVURLAsset::AVURLAsset(Ref<NSURL> url, Dictionary options)
    : url_(std::move(url)), options_(std::move(options)) {}

bool AVURLAsset::loadTracks(std::vector<Ref<AVAssetTrack>>* tracks, CMTime* duration, Ref<NSError>* error) {
    if (!url_ || !url_->isFileURL()) {
        *error = detail::avError(AVErrorFileFormatNotRecognized, "only file URLs can be read");
        return false;
    }
    const std::string path = url_->path();
    detail::MovieFileInfo info;
    std::string reason;
    if (!detail::probeMovieFile(path, &info, &reason)) {
        *error = detail::avError(AVErrorFileFormatNotRecognized, reason);
        return false;
    }
    for (auto& t : info.tracks) tracks->push_back(make<AVAssetTrack>(t, path));
    *duration = info.duration;
    return true;
}

bool AVComposition::loadTracks(std::vector<Ref<AVAssetTrack>>* tracks, CMTime* duration,
                               Ref<NSError>* error) {
    if (!source_) {
        *error = detail::avError(AVErrorUnknown, "the composition has no source");
        return false;
    }
    *tracks = source_->tracks();
    *duration = source_->duration();
    Ref<NSError> sourceError;
    if (source_->statusOfValueForKey("tracks", &sourceError) != AVKeyValueStatusLoaded) {
        *error = sourceError;
        return false;
    }
    return true;
}
