#pragma once
// One picture download: a concurrent operation that drives a URL connection on the run loop of
// the queue thread it runs on, collects the bytes, optionally decodes partial pictures while
// they arrive (progressive), and decodes the finished bytes into a display-ready image.
//
//   ready --start--> executing --finish, failure, HTTP error or cancel--> finished
//   ready --cancel--> (cancelled) --start--> finished at once, no connection
//
// Callbacks, in order: progress(0, -1) once the connection started, progress(0, expected) at
// the response, progress(received, expected) per chunk; completed(...) last, exactly once with
// finished YES unless cancelled (then never). Partial pictures come as completed(image, nil,
// nil, NO) on the main thread before that. Everything else runs on the operation's thread.
//
// Thread safety: cancel() may be called from any thread; while the connection runs it is
// forwarded to the operation's thread. The operation's recursive lock guards start, cancel and
// the start of the finish step; a cancel that arrives once the bytes are complete is ignored.
// Server trust gets the platform's default evaluation.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSOperation.h"
#include "foundation/NSThread.h"
#include "graphics/UIImage.h"
#include "images/WIWebImageOperation.h"
#include "network/NSURLConnection.h"
#include "network/NSURLCredential.h"
#include "network/NSURLRequest.h"
#include "uikit/UIApplication.h"

// Downloader option bits.
using WIDownloadOptions = std::uint64_t;
inline constexpr WIDownloadOptions WIDownloadLowPriority = 1;
inline constexpr WIDownloadOptions WIDownloadProgressive = 2;
inline constexpr WIDownloadOptions WIDownloadUseURLCache = 4;
inline constexpr WIDownloadOptions WIDownloadIgnoreCachedResponse = 8;
inline constexpr WIDownloadOptions WIDownloadContinueInBackground = 16;
inline constexpr WIDownloadOptions WIDownloadHandleCookies = 32;
inline constexpr WIDownloadOptions WIDownloadHighPriority = 128;

inline constexpr char WIWebImageDownloadStartNotification[] = "WIWebImageDownloadStartNotification";
inline constexpr char WIWebImageDownloadStopNotification[] = "WIWebImageDownloadStopNotification";

using WIWebImageDownloaderProgressBlock =
    std::function<void(std::int64_t receivedSize, std::int64_t expectedSize)>;
using WIWebImageDownloaderCompletedBlock = std::function<void(
    const Ref<UIImage>& image, const std::optional<NSData>& data, const Ref<NSError>& error, bool finished)>;
using WIWebImageDownloaderCancelBlock = std::function<void()>;

class WIWebImageDownloaderOperation : public NSOperation,
                                      public NSURLConnectionDataDelegate,
                                      public WIWebImageOperation {
  public:
    WIWebImageDownloaderOperation(Ref<NSURLRequest> request, WIDownloadOptions options,
                                  WIWebImageDownloaderProgressBlock progressBlock,
                                  WIWebImageDownloaderCompletedBlock completedBlock,
                                  WIWebImageDownloaderCancelBlock cancelBlock);
    ~WIWebImageDownloaderOperation() override;
    std::string className() const override { return "WIWebImageDownloaderOperation"; }

    void start() override;
    void cancel() override;
    bool isConcurrent() const override { return true; }
    bool isExecuting() const override { return executing_.load(); }
    bool isFinished() const override { return finished_.load(); }

    const Ref<NSURLRequest>& request() const { return request_; }
    WIDownloadOptions options() const { return options_; }
    Ref<NSURLCredential> credential() const;
    void setCredential(const Ref<NSURLCredential>& credential);
    bool shouldUseCredentialStorage() const { return shouldUseCredentialStorage_.load(); }
    void setShouldUseCredentialStorage(bool value) { shouldUseCredentialStorage_.store(value); }
    bool responseFromCached() const { return responseFromCached_.load(); }
    std::uint64_t width() const { return width_; }
    std::uint64_t height() const { return height_; }
    UIImageOrientation orientation() const { return orientation_; }
    std::int64_t expectedSize() const { return expectedSize_; }
    bool shouldContinueWhenAppEntersBackground() const {
        return (options_ & WIDownloadContinueInBackground) != 0;
    }

    // EXIF orientation value to image orientation.
    static UIImageOrientation orientationFromPropertyValue(long value);
    Ref<UIImage> scaledImageForKey(const std::optional<std::string>& key, const Ref<UIImage>& image) const;

    // ---- connection delegate (operation thread) ----
    void connectionDidReceiveResponse(const Ref<NSURLConnection>& connection,
                                      const Ref<NSURLResponse>& response) override;
    void connectionDidReceiveData(const Ref<NSURLConnection>& connection, const NSData& data) override;
    void connectionDidFinishLoading(const Ref<NSURLConnection>& connection) override;
    void connectionDidFailWithError(const Ref<NSURLConnection>& connection,
                                    const Ref<NSError>& error) override;
    std::optional<Ref<NSCachedURLResponse>>
    connectionWillCacheResponse(const Ref<NSURLConnection>& connection,
                                const Ref<NSCachedURLResponse>& cachedResponse) override;
    void connectionWillSendRequestForAuthenticationChallenge(
        const Ref<NSURLConnection>& connection, const Ref<NSURLAuthenticationChallenge>& challenge) override;
    bool implementsWillSendRequestForAuthenticationChallenge() const override { return true; }
    std::optional<bool>
    connectionShouldUseCredentialStorage(const Ref<NSURLConnection>& connection) override {
        return shouldUseCredentialStorage();
    }

  private:
    void setExecutingState(bool executing);
    void setFinishedState(bool finished);
    void done();
    void reset();
    void cancelInternal();
    void cancelInternalAndStop();
    void postNotification(const char* name, bool withObject);
    void progressiveStep();
    void endBackgroundTask();
    Ref<WIWebImageDownloaderOperation> me() { return selfAs<WIWebImageDownloaderOperation>(); }

    const Ref<NSURLRequest> request_;
    const WIDownloadOptions options_;
    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> responseFromCached_{true};
    std::atomic<bool> shouldUseCredentialStorage_{true};
    // Set once the bytes are complete: a cancel from then on has nothing left to stop.
    std::atomic<bool> finishing_{false};

    // Guarded by synchronizedLock() where more than the operation's thread can reach them.
    Ref<NSURLCredential> credential_;
    WIWebImageDownloaderProgressBlock progressBlock_;
    WIWebImageDownloaderCompletedBlock completedBlock_;
    WIWebImageDownloaderCancelBlock cancelBlock_;
    Ref<NSURLConnection> connection_;
    Ref<NSThread> thread_;
    std::atomic<UIBackgroundTaskIdentifier> backgroundTaskId_{UIBackgroundTaskInvalid};

    // Operation thread only.
    bool runningLoop_ = false;
    std::int64_t expectedSize_ = 0;
    NSData imageData_;
    std::uint64_t width_ = 0, height_ = 0;
    UIImageOrientation orientation_ = UIImageOrientation::Up;
};
