#pragma once
// The single entry for loading a picture by URL: the memory level, then the disk, then the
// network through the shared downloader; downloaded pictures are stored in the image cache,
// URLs that failed for good are remembered and refused afterwards (unless asked to retry), and
// every answer reaches the caller on the main thread.
//
// Refresh cached (WILoadRefreshCached): a cached picture is answered at once, then the URL is
// fetched again through the URL cache; an unchanged picture (the server confirms the cached
// copy) gives no second answer, a changed one a second answer with the new picture.
//
// Guarantees:
// - The completion is called on the main thread; a load started on the main thread for a
//   picture in memory answers before downloadImageWithURL returns.
// - A cancelled load never calls back after the cancellation (the refresh pre-answer aside).
//   Cancelling one of several loads of the same URL stops only that one; the download goes on
//   for the others, and stops once none is left.
// - A load leaves the running list when it finishes, is served from the cache, fails or is
//   cancelled.
// Thread safety: every member may be called from any thread; the failed list and the running
// list each have a lock, never held together.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/NSOperation.h"
#include "foundation/NSURL.h"
#include "graphics/UIImage.h"
#include "images/WIImageCache.h"
#include "images/WIWebImageDownloader.h"
#include "images/WIWebImageOperation.h"

// Load option bits.
using WILoadOptions = std::uint64_t;
inline constexpr WILoadOptions WILoadRetryFailed = 1;
inline constexpr WILoadOptions WILoadLowPriority = 2;
inline constexpr WILoadOptions WILoadMemoryOnly = 4;
inline constexpr WILoadOptions WILoadProgressive = 8;
inline constexpr WILoadOptions WILoadRefreshCached = 16;
inline constexpr WILoadOptions WILoadContinueInBackground = 32;
inline constexpr WILoadOptions WILoadHandleCookies = 64;
inline constexpr WILoadOptions WILoadHighPriority = 256;
inline constexpr WILoadOptions WILoadDelayPlaceholder = 512;
inline constexpr WILoadOptions WILoadTransformAnimatedImage = 1024;

using WIWebImageCompletionWithFinishedBlock =
    std::function<void(const Ref<UIImage>& image, const Ref<NSError>& error, WICacheSource source,
                       bool finished, const Ref<NSURL>& url)>;
using WIWebImageCompletedWithFinishedBlock = std::function<void(
    const Ref<UIImage>& image, const Ref<NSError>& error, WICacheSource source, bool finished)>;
using WIWebImageCacheKeyFilterBlock = std::function<std::string(const Ref<NSURL>& url)>;

class WIWebImageManager;

// Optional hooks; none is installed anywhere in this system.
class WIWebImageManagerDelegate {
  public:
    virtual ~WIWebImageManagerDelegate() = default;
    // nullopt: not implemented.
    virtual std::optional<bool> imageManagerShouldDownloadImageForURL(const Ref<WIWebImageManager>& manager,
                                                                      const Ref<NSURL>& url) {
        return std::nullopt;
    }
    // The picture to store and answer in place of the downloaded one.
    virtual Ref<UIImage> imageManagerTransformDownloadedImage(const Ref<WIWebImageManager>& manager,
                                                              const Ref<UIImage>& image,
                                                              const Ref<NSURL>& url) {
        return image;
    }
    virtual bool implementsTransformDownloadedImage() const { return false; }
};

// The handle of one load.
class WIWebImageCombinedOperation : public NSObject, public WIWebImageOperation {
  public:
    std::string className() const override { return "WIWebImageCombinedOperation"; }
    void cancel() override;
    bool isCancelled() const { return cancelled_.load(); }
    // When already cancelled, the block runs at once and is not kept.
    void setCancelBlock(std::function<void()> block);
    std::function<void()> cancelBlock() const;
    Ref<NSOperation> cacheOperation() const;
    void setCacheOperation(const Ref<NSOperation>& operation);

  private:
    std::atomic<bool> cancelled_{false};
    mutable std::mutex lock_;  // guards the two below
    std::function<void()> cancelBlock_;
    Ref<NSOperation> cacheOperation_;
};

class WIWebImageManager : public NSObject {
  public:
    // The shared cache and the shared downloader.
    WIWebImageManager();
    // A manager over another cache and downloader (tests and tools).
    WIWebImageManager(Ref<WIImageCache> cache, Ref<WIWebImageDownloader> downloader);
    std::string className() const override { return "WIWebImageManager"; }

    static Ref<WIWebImageManager> sharedManager();
    static Ref<WIImageCache> createCache() { return WIImageCache::sharedImageCache(); }

    const Ref<WIImageCache>& imageCache() const { return imageCache_; }
    const Ref<WIWebImageDownloader>& imageDownloader() const { return imageDownloader_; }
    Weak<WIWebImageManagerDelegate> delegate() const;
    void setDelegate(const Weak<WIWebImageManagerDelegate>& delegate);
    WIWebImageCacheKeyFilterBlock cacheKeyFilter() const;
    void setCacheKeyFilter(WIWebImageCacheKeyFilterBlock filter);

    // The filter's key, else the URL's absolute string; nullopt for a nil URL.
    std::optional<std::string> cacheKeyForURL(const Ref<NSURL>& url) const;
    bool cachedImageExistsForURL(const Ref<NSURL>& url);
    bool diskImageExistsForURL(const Ref<NSURL>& url);
    void cachedImageExistsForURL(const Ref<NSURL>& url, WIWebImageCheckCacheCompletionBlock completion);
    void diskImageExistsForURL(const Ref<NSURL>& url, WIWebImageCheckCacheCompletionBlock completion);

    // Never nil. A nil URL, or one that failed before (without WILoadRetryFailed), is answered
    // at once with NSURLErrorDomain -1100.
    Ref<WIWebImageOperation> downloadImageWithURL(const Ref<NSURL>& url, WILoadOptions options,
                                                  WIWebImageDownloaderProgressBlock progress,
                                                  WIWebImageCompletionWithFinishedBlock completed);
    // The URL given as text; text that is no URL counts as nil.
    Ref<WIWebImageOperation> downloadImageWithURL(const std::string& url, WILoadOptions options,
                                                  WIWebImageDownloaderProgressBlock progress,
                                                  WIWebImageCompletionWithFinishedBlock completed) {
        return downloadImageWithURL(NSURL::URLWithString(url), options, std::move(progress),
                                    std::move(completed));
    }
    // The older form, whose completion does not get the URL.
    Ref<WIWebImageOperation> downloadWithURL(const Ref<NSURL>& url, WILoadOptions options,
                                             WIWebImageDownloaderProgressBlock progress,
                                             WIWebImageCompletedWithFinishedBlock completed);

    void saveImageToCache(const Ref<UIImage>& image, const Ref<NSURL>& url);
    void cancelAll();
    bool isRunning() const;

    // For tests and diagnostics.
    bool isFailedURL(const Ref<NSURL>& url) const;
    std::size_t runningOperationCount() const;

  private:
    void addRunning(const Ref<WIWebImageCombinedOperation>& operation);
    void removeRunning(const Ref<WIWebImageCombinedOperation>& operation);
    void addFailed(const Ref<NSURL>& url);
    void downloadStep(const Ref<WIWebImageCombinedOperation>& operation, const Ref<NSURL>& url,
                      const std::optional<std::string>& key, WILoadOptions options,
                      const Ref<UIImage>& cachedImage, WICacheSource source,
                      const WIWebImageDownloaderProgressBlock& progress,
                      const WIWebImageCompletionWithFinishedBlock& completed);

    Ref<WIImageCache> imageCache_;
    Ref<WIWebImageDownloader> imageDownloader_;
    mutable std::mutex settingsLock_;  // guards the delegate and the key filter
    Weak<WIWebImageManagerDelegate> delegate_;
    WIWebImageCacheKeyFilterBlock cacheKeyFilter_;
    mutable std::mutex failedLock_;
    std::set<std::string> failedURLs_;
    mutable std::mutex runningLock_;
    std::vector<Ref<WIWebImageCombinedOperation>> runningOperations_;
};
