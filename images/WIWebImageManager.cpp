#include "images/WIWebImageManager.h"

#include <algorithm>

#include "dispatch/Dispatch.h"

// ---- combined operation -------------------------------------------------------------------------

void WIWebImageCombinedOperation::cancel() {
    Ref<NSOperation> cacheOperation;
    std::function<void()> block;
    {
        std::lock_guard lock(lock_);
        cancelled_.store(true);
        cacheOperation = std::move(cacheOperation_);
        cacheOperation_ = nullptr;
        block = std::move(cancelBlock_);
        cancelBlock_ = nullptr;
    }
    if (cacheOperation) cacheOperation->cancel();
    if (block) block();
}

void WIWebImageCombinedOperation::setCancelBlock(std::function<void()> block) {
    {
        std::lock_guard lock(lock_);
        if (!cancelled_.load()) {
            cancelBlock_ = std::move(block);
            return;
        }
    }
    if (block) block();
}

std::function<void()> WIWebImageCombinedOperation::cancelBlock() const {
    std::lock_guard lock(lock_);
    return cancelBlock_;
}

Ref<NSOperation> WIWebImageCombinedOperation::cacheOperation() const {
    std::lock_guard lock(lock_);
    return cacheOperation_;
}

void WIWebImageCombinedOperation::setCacheOperation(const Ref<NSOperation>& operation) {
    bool cancelled;
    {
        std::lock_guard lock(lock_);
        cancelled = cancelled_.load();
        if (!cancelled) cacheOperation_ = operation;
    }
    if (cancelled && operation) operation->cancel();
}

// ---- manager --------------------------------------------------------------------------------------

WIWebImageManager::WIWebImageManager()
    : WIWebImageManager(createCache(), WIWebImageDownloader::sharedDownloader()) {}

WIWebImageManager::WIWebImageManager(Ref<WIImageCache> cache, Ref<WIWebImageDownloader> downloader)
    : imageCache_(std::move(cache)), imageDownloader_(std::move(downloader)) {}

Ref<WIWebImageManager> WIWebImageManager::sharedManager() {
    static Ref<WIWebImageManager> instance = make<WIWebImageManager>();
    return instance;
}

Weak<WIWebImageManagerDelegate> WIWebImageManager::delegate() const {
    std::lock_guard lock(settingsLock_);
    return delegate_;
}

void WIWebImageManager::setDelegate(const Weak<WIWebImageManagerDelegate>& delegate) {
    std::lock_guard lock(settingsLock_);
    delegate_ = delegate;
}

WIWebImageCacheKeyFilterBlock WIWebImageManager::cacheKeyFilter() const {
    std::lock_guard lock(settingsLock_);
    return cacheKeyFilter_;
}

void WIWebImageManager::setCacheKeyFilter(WIWebImageCacheKeyFilterBlock filter) {
    std::lock_guard lock(settingsLock_);
    cacheKeyFilter_ = std::move(filter);
}

std::optional<std::string> WIWebImageManager::cacheKeyForURL(const Ref<NSURL>& url) const {
    if (!url) return std::nullopt;
    if (auto filter = cacheKeyFilter()) return filter(url);
    return url->absoluteString();
}

bool WIWebImageManager::cachedImageExistsForURL(const Ref<NSURL>& url) {
    auto key = cacheKeyForURL(url);
    if (imageCache_->imageFromMemoryCacheForKey(key)) return true;
    return imageCache_->diskImageExistsWithKey(key);
}

bool WIWebImageManager::diskImageExistsForURL(const Ref<NSURL>& url) {
    return imageCache_->diskImageExistsWithKey(cacheKeyForURL(url));
}

void WIWebImageManager::cachedImageExistsForURL(const Ref<NSURL>& url,
                                                WIWebImageCheckCacheCompletionBlock completion) {
    auto key = cacheKeyForURL(url);
    if (imageCache_->imageFromMemoryCacheForKey(key)) {
        if (completion) dispatch_async(dispatch_get_main_queue(), [completion] { completion(true); });
        return;
    }
    imageCache_->diskImageExistsWithKey(key, std::move(completion));
}

void WIWebImageManager::diskImageExistsForURL(const Ref<NSURL>& url,
                                              WIWebImageCheckCacheCompletionBlock completion) {
    imageCache_->diskImageExistsWithKey(cacheKeyForURL(url), std::move(completion));
}

void WIWebImageManager::saveImageToCache(const Ref<UIImage>& image, const Ref<NSURL>& url) {
    if (image && url) imageCache_->storeImage(image, cacheKeyForURL(url), true);
}

void WIWebImageManager::cancelAll() {
    std::vector<Ref<WIWebImageCombinedOperation>> running;
    {
        std::lock_guard lock(runningLock_);
        running.swap(runningOperations_);
    }
    // Cancelling runs cancel blocks that take the running list's lock themselves.
    for (const auto& operation : running) operation->cancel();
}

bool WIWebImageManager::isRunning() const {
    std::lock_guard lock(runningLock_);
    return !runningOperations_.empty();
}

std::size_t WIWebImageManager::runningOperationCount() const {
    std::lock_guard lock(runningLock_);
    return runningOperations_.size();
}

bool WIWebImageManager::isFailedURL(const Ref<NSURL>& url) const {
    if (!url) return false;
    std::lock_guard lock(failedLock_);
    return failedURLs_.count(url->absoluteString()) != 0;
}

void WIWebImageManager::addFailed(const Ref<NSURL>& url) {
    std::lock_guard lock(failedLock_);
    failedURLs_.insert(url->absoluteString());
}

void WIWebImageManager::addRunning(const Ref<WIWebImageCombinedOperation>& operation) {
    std::lock_guard lock(runningLock_);
    runningOperations_.push_back(operation);
}

void WIWebImageManager::removeRunning(const Ref<WIWebImageCombinedOperation>& operation) {
    std::lock_guard lock(runningLock_);
    runningOperations_.erase(std::remove(runningOperations_.begin(), runningOperations_.end(), operation),
                             runningOperations_.end());
}

Ref<WIWebImageOperation> WIWebImageManager::downloadWithURL(const Ref<NSURL>& url, WILoadOptions options,
                                                            WIWebImageDownloaderProgressBlock progress,
                                                            WIWebImageCompletedWithFinishedBlock completed) {
    return downloadImageWithURL(url, options, std::move(progress),
                                [completed](const Ref<UIImage>& image, const Ref<NSError>& error,
                                            WICacheSource source, bool finished, const Ref<NSURL>&) {
                                    if (completed) completed(image, error, source, finished);
                                });
}

Ref<WIWebImageOperation>
WIWebImageManager::downloadImageWithURL(const Ref<NSURL>& url, WILoadOptions options,
                                        WIWebImageDownloaderProgressBlock progress,
                                        WIWebImageCompletionWithFinishedBlock completed) {
    auto operation = make<WIWebImageCombinedOperation>();
    bool failedBefore = isFailedURL(url);
    if (!url || (failedBefore && !(options & WILoadRetryFailed))) {
        detail::wiRunOnMainThreadSync([&] {
            if (completed) {
                completed(nullptr, NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorFileDoesNotExist),
                          WICacheSourceNone, true, url);
            }
        });
        return operation;
    }

    addRunning(operation);
    auto key = cacheKeyForURL(url);
    auto self = selfAs<WIWebImageManager>();
    // A cancel while the cache is still asked may mean the answer never comes (the query looks
    // at cancellation once, before it reads): the load leaves the running list here. The
    // download step puts its own block in place of this one.
    Weak<WIWebImageCombinedOperation> weakOperation = operation;
    operation->setCancelBlock([self, weakOperation] {
        if (auto op = weakOperation.lock()) self->removeRunning(op);
    });
    auto cacheOperation =
        imageCache_->queryDiskCacheForKey(key, [self, operation, url, key, options, progress, completed](
                                                   const Ref<UIImage>& cachedImage, WICacheSource source) {
            if (operation->isCancelled()) {
                self->removeRunning(operation);
                return;
            }
            std::optional<bool> allowed;
            auto delegate = self->delegate().lock();
            if (delegate) allowed = delegate->imageManagerShouldDownloadImageForURL(self, url);
            bool mayDownload = !allowed || *allowed;
            if ((!cachedImage || (options & WILoadRefreshCached)) && mayDownload) {
                self->downloadStep(operation, url, key, options, cachedImage, source, progress, completed);
            } else if (cachedImage) {
                // Off the running list before the caller hears the load is done, so a caller that
                // asks at once never finds it still running.
                self->removeRunning(operation);
                detail::wiRunOnMainThreadSync([&] {
                    if (!operation->isCancelled() && completed)
                        completed(cachedImage, nullptr, source, true, url);
                });
            } else {
                self->removeRunning(operation);
                detail::wiRunOnMainThreadSync([&] {
                    if (!operation->isCancelled() && completed)
                        completed(nullptr, nullptr, WICacheSourceNone, true, url);
                });
            }
        });
    operation->setCacheOperation(cacheOperation);
    return operation;
}

void WIWebImageManager::downloadStep(const Ref<WIWebImageCombinedOperation>& operation, const Ref<NSURL>& url,
                                     const std::optional<std::string>& key, WILoadOptions options,
                                     const Ref<UIImage>& cachedImage, WICacheSource source,
                                     const WIWebImageDownloaderProgressBlock& progress,
                                     const WIWebImageCompletionWithFinishedBlock& completed) {
    bool refreshing = cachedImage && (options & WILoadRefreshCached);
    if (refreshing) {
        // The cached picture shows at once; the refresh may answer again with a newer one.
        detail::wiRunOnMainThreadSync([&] {
            if (completed) completed(cachedImage, nullptr, source, true, url);
        });
    }

    WIDownloadOptions downloadOptions = 0;
    if (options & WILoadLowPriority) downloadOptions |= WIDownloadLowPriority;
    if (options & WILoadProgressive) downloadOptions |= WIDownloadProgressive;
    if (options & WILoadRefreshCached) downloadOptions |= WIDownloadUseURLCache;
    if (options & WILoadContinueInBackground) downloadOptions |= WIDownloadContinueInBackground;
    if (options & WILoadHandleCookies) downloadOptions |= WIDownloadHandleCookies;
    if (options & WILoadHighPriority) downloadOptions |= WIDownloadHighPriority;
    if (refreshing) {
        downloadOptions &= ~WIDownloadProgressive;
        downloadOptions |= WIDownloadIgnoreCachedResponse;
    }

    auto self = selfAs<WIWebImageManager>();
    auto handle = imageDownloader_->downloadImageWithURL(
        url, downloadOptions, progress,
        [self, operation, url, key, options, cachedImage,
         completed](const Ref<UIImage>& downloadedImage, const std::optional<NSData>& data,
                    const Ref<NSError>& error, bool finished) {
            // A finished load leaves the running list before its caller hears of it (as the failed
            // list is filled first), so a caller that asks at once never finds it still running.
            bool removeWhenDone = finished;
            auto doneRunning = [&] {
                if (removeWhenDone) self->removeRunning(operation);
                removeWhenDone = false;
            };
            if (operation->isCancelled()) {
                // Nothing more for this caller.
            } else if (error) {
                // Remembered before the caller hears of it, so a load it starts in answer is
                // already refused.
                long code = error->code();
                if (code != NSURLErrorNotConnectedToInternet && code != NSURLErrorCancelled &&
                    code != NSURLErrorTimedOut) {
                    self->addFailed(url);
                }
                doneRunning();
                detail::wiRunOnMainThreadSync([&] {
                    if (!operation->isCancelled() && completed) {
                        completed(nullptr, error, WICacheSourceNone, finished, url);
                    }
                });
            } else if ((options & WILoadRefreshCached) && cachedImage && !downloadedImage) {
                // The URL cache confirmed the picture the caller already shows.
            } else {
                auto delegate = self->delegate().lock();
                bool transform =
                    downloadedImage &&
                    (downloadedImage->images().empty() || (options & WILoadTransformAnimatedImage)) &&
                    delegate && delegate->implementsTransformDownloadedImage();
                if (transform) {
                    removeWhenDone = false;
                    dispatch_async(
                        dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_HIGH),
                        [self, operation, url, key, options, completed, downloadedImage, data, finished,
                         delegate] {
                            auto transformed =
                                delegate->imageManagerTransformDownloadedImage(self, downloadedImage, url);
                            if (transformed && finished) {
                                self->imageCache_->storeImage(transformed, transformed != downloadedImage,
                                                              data, key, !(options & WILoadMemoryOnly));
                            }
                            if (finished) self->removeRunning(operation);
                            detail::wiRunOnMainThreadSync([&] {
                                if (!operation->isCancelled() && completed) {
                                    completed(transformed, nullptr, WICacheSourceNone, finished, url);
                                }
                            });
                        });
                } else {
                    if (downloadedImage && finished) {
                        self->imageCache_->storeImage(downloadedImage, false, data, key,
                                                      !(options & WILoadMemoryOnly));
                    }
                    doneRunning();
                    detail::wiRunOnMainThreadSync([&] {
                        if (!operation->isCancelled() && completed) {
                            completed(downloadedImage, nullptr, WICacheSourceNone, finished, url);
                        }
                    });
                }
            }
            doneRunning();
        });

    Weak<WIWebImageCombinedOperation> weakOperation = operation;
    operation->setCancelBlock([self, handle, weakOperation] {
        // Only this caller leaves the download; others of the same URL keep it going.
        if (handle) handle->cancel();
        if (auto op = weakOperation.lock()) self->removeRunning(op);
    });
}
