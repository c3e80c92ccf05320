#pragma once
// Warms the image cache with a list of picture URLs ahead of display, a few at a time, in list
// order: it starts as many loads as the shared downloader is wide and one more each time a load
// finishes, then reports (finished, skipped) once. A new batch or a cancel ends the earlier batch
// without its report. An empty batch reports (0, 0) at once.
//
// Loads go through a manager of the prefetcher's own (its own failed and running lists) over the
// shared cache and the shared downloader; creating a prefetcher sets that downloader's width
// to 3. Main thread only: load answers arrive there and the counters live there.

#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "images/WIWebImageManager.h"

class WIWebImagePrefetcher;

class WIWebImagePrefetcherDelegate {
  public:
    virtual ~WIWebImagePrefetcherDelegate() = default;
    virtual void imagePrefetcherDidPrefetchURL(const Ref<WIWebImagePrefetcher>& prefetcher,
                                               const Ref<NSURL>& url, std::uint64_t finishedCount,
                                               std::uint64_t totalCount) {}
    virtual bool implementsDidPrefetchURL() const { return false; }
    virtual void imagePrefetcherDidFinishWithTotalCount(const Ref<WIWebImagePrefetcher>& prefetcher,
                                                        std::uint64_t totalCount,
                                                        std::uint64_t skippedCount) {}
    virtual bool implementsDidFinish() const { return false; }
};

using WIWebImagePrefetcherProgressBlock =
    std::function<void(std::uint64_t finishedCount, std::uint64_t totalCount)>;
using WIWebImagePrefetcherCompletionBlock =
    std::function<void(std::uint64_t finishedCount, std::uint64_t skippedCount)>;

class WIWebImagePrefetcher : public NSObject {
  public:
    WIWebImagePrefetcher();
    // Over a manager of the caller's choosing (tests).
    explicit WIWebImagePrefetcher(Ref<WIWebImageManager> manager);
    std::string className() const override { return "WIWebImagePrefetcher"; }

    static Ref<WIWebImagePrefetcher> sharedImagePrefetcher();

    void prefetchURLs(const std::vector<Ref<NSURL>>& urls) { prefetchURLs(urls, nullptr, nullptr); }
    void prefetchURLs(const std::vector<Ref<NSURL>>& urls, WIWebImagePrefetcherProgressBlock progress,
                      WIWebImagePrefetcherCompletionBlock completion);
    void cancelPrefetching();
    void startPrefetchingAtIndex(std::size_t index);
    void reportStatus();

    const Ref<WIWebImageManager>& manager() const { return manager_; }
    WILoadOptions options() const { return options_; }
    void setOptions(WILoadOptions options) { options_ = options; }
    Weak<WIWebImagePrefetcherDelegate> delegate() const { return delegate_; }
    void setDelegate(const Weak<WIWebImagePrefetcherDelegate>& delegate) { delegate_ = delegate; }
    long maxConcurrentDownloads() const;
    void setMaxConcurrentDownloads(long count);

    const std::vector<Ref<NSURL>>& prefetchURLList() const { return prefetchURLs_; }
    std::uint64_t requestedCount() const { return requestedCount_; }
    std::uint64_t skippedCount() const { return skippedCount_; }
    std::uint64_t finishedCount() const { return finishedCount_; }
    double startedTime() const { return startedTime_; }

  private:
    Ref<WIWebImageManager> manager_;
    WILoadOptions options_ = WILoadLowPriority;
    Weak<WIWebImagePrefetcherDelegate> delegate_;
    std::vector<Ref<NSURL>> prefetchURLs_;
    std::uint64_t requestedCount_ = 0;
    std::uint64_t skippedCount_ = 0;
    std::uint64_t finishedCount_ = 0;
    double startedTime_ = 0;
    WIWebImagePrefetcherCompletionBlock completionBlock_;
    WIWebImagePrefetcherProgressBlock progressBlock_;
    // Tells a batch from the next, so a late answer of an ended batch changes nothing.
    std::uint64_t batch_ = 0;
};
