#pragma once
// The shared picture downloader: an operation queue two downloads wide, and one download per
// URL however many callers ask for it while it runs.
//
// Every caller of downloadImageWithURL gets a handle of its own. Cancelling a handle takes only
// that caller's callbacks off the download; the download itself stops when its last caller has
// cancelled. Callers that join a running download hear its progress from then on and receive
// the same final answer. A download that ends registers nobody: the callers' entries are taken
// off in the same step that hands out the answer, so a caller arriving just then starts a fresh
// download instead of waiting on a finished one. A download stopped by anything other than its
// callers (the downloader going away, an expired background task) answers the callers still
// registered with NSURLErrorDomain -999.
//
// Thread safety: every member may be called from any thread. The callback table is guarded by
// the concurrent barrier queue: registrations and removals are barriers, reads plain blocks.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSObject.h"
#include "foundation/NSOperationQueue.h"
#include "foundation/NSURL.h"
#include "images/WIWebImageDownloaderOperation.h"

// The order in which queued downloads start.
enum WIDownloadOrder : std::int64_t {
    WIDownloadOrderFIFO = 0,
    WIDownloadOrderLIFO = 1,
};

using WIWebImageDownloaderHeadersFilterBlock =
    std::function<Dictionary(const Ref<NSURL>& url, const Dictionary& headers)>;

class WIWebImageDownloader;

// One caller's stake in a download.
class WIWebImageDownloadToken : public NSObject, public WIWebImageOperation {
  public:
    WIWebImageDownloadToken(Weak<WIWebImageDownloader> downloader, std::string url, std::uint64_t entry,
                            Weak<WIWebImageDownloaderOperation> operation, bool startedDownload)
        : downloader_(std::move(downloader)),
          url_(std::move(url)),
          entry_(entry),
          operation_(std::move(operation)),
          startedDownload_(startedDownload) {}
    std::string className() const override { return "WIWebImageDownloadToken"; }
    // Takes this caller off the download; stops the download when nobody is left.
    void cancel() override;
    // The download this caller waits on (nullptr once it has gone).
    Ref<WIWebImageDownloaderOperation> operation() const { return operation_.lock(); }
    // Whether this request created the download (the first caller) or joined one.
    bool startedDownload() const { return startedDownload_; }
    const std::string& url() const { return url_; }

  private:
    Weak<WIWebImageDownloader> downloader_;
    std::string url_;
    std::uint64_t entry_;
    Weak<WIWebImageDownloaderOperation> operation_;
    bool startedDownload_;
};

class WIWebImageDownloader : public NSObject {
  public:
    // One caller's blocks; either may be empty.
    struct CallbackEntry {
        std::uint64_t identifier = 0;
        WIWebImageDownloaderProgressBlock progress;
        WIWebImageDownloaderCompletedBlock completed;
    };

    WIWebImageDownloader();
    ~WIWebImageDownloader() override;
    std::string className() const override { return "WIWebImageDownloader"; }

    static Ref<WIWebImageDownloader> sharedDownloader();

    // Default request headers; a nil value removes the field.
    void setValue(const std::optional<std::string>& value, const std::string& field);
    std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
    Dictionary HTTPHeaders() const;

    long maxConcurrentDownloads() const;
    void setMaxConcurrentDownloads(long count);
    std::size_t currentDownloadCount() const;
    void setSuspended(bool suspended);

    double downloadTimeout() const;
    void setDownloadTimeout(double seconds);
    WIDownloadOrder executionOrder() const;
    void setExecutionOrder(WIDownloadOrder order);
    std::optional<std::string> username() const;
    void setUsername(std::optional<std::string> username);
    std::optional<std::string> password() const;
    void setPassword(std::optional<std::string> password);
    void setHeadersFilter(WIWebImageDownloaderHeadersFilterBlock filter);
    const Ref<NSOperationQueue>& downloadQueue() const { return downloadQueue_; }
    const dispatch_queue_t& barrierQueue() const { return barrierQueue_; }

    // The caller's handle (a WIWebImageDownloadToken), or nullptr for a nil URL, which is
    // answered at once on the caller's thread with (nil, nil, nil, NO).
    Ref<WIWebImageOperation> downloadImageWithURL(const Ref<NSURL>& url, WIDownloadOptions options,
                                                  WIWebImageDownloaderProgressBlock progress,
                                                  WIWebImageDownloaderCompletedBlock completed);

    // ---- the callback table ----
    // Registers the blocks for the URL and, when the URL had no download, runs create inside
    // the same barrier step. Answers the new entry's identifier (0 for a nil URL).
    std::uint64_t addProgressCallback(WIWebImageDownloaderProgressBlock progress,
                                      WIWebImageDownloaderCompletedBlock completed, const Ref<NSURL>& url,
                                      const std::function<void()>& create);
    std::optional<std::vector<CallbackEntry>> callbacksForURL(const Ref<NSURL>& url) const;
    void removeCallbacksForURL(const Ref<NSURL>& url);

  private:
    friend class WIWebImageDownloadToken;
    struct Download {
        std::uint64_t serial = 0;  // tells a download from a later one of the same URL
        std::vector<CallbackEntry> entries;
        Weak<WIWebImageDownloaderOperation> operation;
    };
    Ref<WIWebImageDownloaderOperation> makeOperation(const Ref<NSURL>& url, WIDownloadOptions options,
                                                     std::uint64_t serial);
    void removeCaller(const std::string& url, std::uint64_t entry);

    Ref<NSOperationQueue> downloadQueue_;
    dispatch_queue_t barrierQueue_;

    mutable std::mutex settingsLock_;  // guards the settings below
    double downloadTimeout_ = 15.0;
    WIDownloadOrder executionOrder_ = WIDownloadOrderFIFO;
    std::optional<std::string> username_, password_;
    WIWebImageDownloaderHeadersFilterBlock headersFilter_;
    Dictionary HTTPHeaders_ = Dictionary::mutableDictionary();
    Weak<WIWebImageDownloaderOperation> lastAddedOperation_;

    // Touched only on the barrier queue.
    std::map<std::string, Download> URLCallbacks_;
    std::uint64_t nextSerial_ = 1;
    std::uint64_t nextEntry_ = 1;
};
