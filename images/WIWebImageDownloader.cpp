#include "images/WIWebImageDownloader.h"

#include <algorithm>

#include "network/NSURLCredential.h"
#include "network/NSURLRequest.h"

namespace {
constexpr char kBarrierQueueLabel[] = "com.dravelin.WIWebImageDownloaderBarrierQueue";
constexpr char kDefaultAccept[] = "image/webp,image/*;q=0.8";
}  // namespace

// ---- token ------------------------------------------------------------------------------------------

void WIWebImageDownloadToken::cancel() {
    if (auto downloader = downloader_.lock()) downloader->removeCaller(url_, entry_);
}

// ---- downloader -------------------------------------------------------------------------------------

WIWebImageDownloader::WIWebImageDownloader() {
    downloadQueue_ = make<NSOperationQueue>();
    downloadQueue_->setMaxConcurrentOperationCount(2);
    downloadQueue_->setName("WIWebImageDownloader");
    barrierQueue_ = dispatch_queue_create(kBarrierQueueLabel, DISPATCH_QUEUE_CONCURRENT);
    HTTPHeaders_.setObject("Accept", kDefaultAccept);
}

WIWebImageDownloader::~WIWebImageDownloader() {
    downloadQueue_->cancelAllOperations();
}

Ref<WIWebImageDownloader> WIWebImageDownloader::sharedDownloader() {
    static Ref<WIWebImageDownloader> instance = make<WIWebImageDownloader>();
    return instance;
}

void WIWebImageDownloader::setValue(const std::optional<std::string>& value, const std::string& field) {
    std::lock_guard lock(settingsLock_);
    if (value) {
        HTTPHeaders_.setObject(field, *value);
    } else {
        HTTPHeaders_.removeObjectForKey(field);
    }
}

std::optional<std::string> WIWebImageDownloader::valueForHTTPHeaderField(const std::string& field) const {
    std::lock_guard lock(settingsLock_);
    return HTTPHeaders_.objectForKey(field).optionalString();
}

Dictionary WIWebImageDownloader::HTTPHeaders() const {
    std::lock_guard lock(settingsLock_);
    return HTTPHeaders_.copy();
}

long WIWebImageDownloader::maxConcurrentDownloads() const {
    return downloadQueue_->maxConcurrentOperationCount();
}

void WIWebImageDownloader::setMaxConcurrentDownloads(long count) {
    downloadQueue_->setMaxConcurrentOperationCount(count);
}

std::size_t WIWebImageDownloader::currentDownloadCount() const {
    return downloadQueue_->operationCount();
}

void WIWebImageDownloader::setSuspended(bool suspended) {
    downloadQueue_->setSuspended(suspended);
}

double WIWebImageDownloader::downloadTimeout() const {
    std::lock_guard lock(settingsLock_);
    return downloadTimeout_;
}

void WIWebImageDownloader::setDownloadTimeout(double seconds) {
    std::lock_guard lock(settingsLock_);
    downloadTimeout_ = seconds;
}

WIDownloadOrder WIWebImageDownloader::executionOrder() const {
    std::lock_guard lock(settingsLock_);
    return executionOrder_;
}

void WIWebImageDownloader::setExecutionOrder(WIDownloadOrder order) {
    std::lock_guard lock(settingsLock_);
    executionOrder_ = order;
}

std::optional<std::string> WIWebImageDownloader::username() const {
    std::lock_guard lock(settingsLock_);
    return username_;
}

void WIWebImageDownloader::setUsername(std::optional<std::string> username) {
    std::lock_guard lock(settingsLock_);
    username_ = std::move(username);
}

std::optional<std::string> WIWebImageDownloader::password() const {
    std::lock_guard lock(settingsLock_);
    return password_;
}

void WIWebImageDownloader::setPassword(std::optional<std::string> password) {
    std::lock_guard lock(settingsLock_);
    password_ = std::move(password);
}

void WIWebImageDownloader::setHeadersFilter(WIWebImageDownloaderHeadersFilterBlock filter) {
    std::lock_guard lock(settingsLock_);
    headersFilter_ = std::move(filter);
}

// ---- downloads --------------------------------------------------------------------------------------

Ref<WIWebImageOperation>
WIWebImageDownloader::downloadImageWithURL(const Ref<NSURL>& url, WIDownloadOptions options,
                                           WIWebImageDownloaderProgressBlock progress,
                                           WIWebImageDownloaderCompletedBlock completed) {
    if (!url) {
        if (completed) completed(nullptr, std::nullopt, nullptr, false);
        return nullptr;
    }
    Ref<WIWebImageDownloaderOperation> created;
    std::string key = url->absoluteString();
    std::uint64_t entry = 0;
    Weak<WIWebImageDownloaderOperation> operation;
    entry = addProgressCallback(std::move(progress), std::move(completed), url, [&] {
        // Inside the registration barrier: the record exists and holds this caller only.
        auto& download = URLCallbacks_[key];
        created = makeOperation(url, options, download.serial);
        download.operation = created;
    });
    if (!created) {
        dispatch_sync(barrierQueue_, [&] {
            auto found = URLCallbacks_.find(key);
            if (found != URLCallbacks_.end()) operation = found->second.operation;
        });
    } else {
        operation = created;
    }
    return make<WIWebImageDownloadToken>(selfAs<WIWebImageDownloader>(), key, entry, operation,
                                         created != nullptr);
}

Ref<WIWebImageDownloaderOperation>
WIWebImageDownloader::makeOperation(const Ref<NSURL>& url, WIDownloadOptions options, std::uint64_t serial) {
    double timeout;
    WIWebImageDownloaderHeadersFilterBlock filter;
    Dictionary headers;
    std::optional<std::string> user, pass;
    WIDownloadOrder order;
    {
        std::lock_guard lock(settingsLock_);
        timeout = downloadTimeout_ == 0 ? 15.0 : downloadTimeout_;
        filter = headersFilter_;
        headers = HTTPHeaders_.copy();
        user = username_;
        pass = password_;
        order = executionOrder_;
    }

    auto request = make<NSMutableURLRequest>(url,
                                             (options & WIDownloadUseURLCache)
                                                 ? NSURLRequestUseProtocolCachePolicy
                                                 : NSURLRequestReloadIgnoringLocalCacheData,
                                             timeout);
    request->setHTTPShouldHandleCookies((options & WIDownloadHandleCookies) != 0);
    request->setHTTPShouldUsePipelining(true);
    request->setAllHTTPHeaderFields(filter ? filter(url, headers) : headers);

    Weak<WIWebImageDownloader> weak = selfAs<WIWebImageDownloader>();
    std::string key = url->absoluteString();

    auto progress = [weak, key, serial](std::int64_t received, std::int64_t expected) {
        auto downloader = weak.lock();
        if (!downloader) return;
        std::vector<CallbackEntry> entries;
        dispatch_sync(downloader->barrierQueue_, [&] {
            auto found = downloader->URLCallbacks_.find(key);
            if (found != downloader->URLCallbacks_.end() && found->second.serial == serial)
                entries = found->second.entries;
        });
        for (const auto& entry : entries) {
            if (entry.progress) entry.progress(received, expected);
        }
    };
    auto completed = [weak, key, serial](const Ref<UIImage>& image, const std::optional<NSData>& data,
                                         const Ref<NSError>& error, bool finished) {
        auto downloader = weak.lock();
        if (!downloader) return;
        std::vector<CallbackEntry> entries;
        auto take = [&] {
            auto found = downloader->URLCallbacks_.find(key);
            if (found == downloader->URLCallbacks_.end() || found->second.serial != serial) return;
            entries = found->second.entries;
            if (finished) downloader->URLCallbacks_.erase(found);
        };
        // The final answer takes the entries off in the same step, so nobody joins a download
        // that has already answered.
        if (finished) {
            dispatch_barrier_sync(downloader->barrierQueue_, take);
        } else {
            dispatch_sync(downloader->barrierQueue_, take);
        }
        for (const auto& entry : entries) {
            if (entry.completed) entry.completed(image, data, error, finished);
        }
    };
    auto cancelled = [weak, key, serial] {
        auto downloader = weak.lock();
        if (!downloader) return;
        std::vector<CallbackEntry> entries;
        dispatch_barrier_sync(downloader->barrierQueue_, [&] {
            auto found = downloader->URLCallbacks_.find(key);
            if (found == downloader->URLCallbacks_.end() || found->second.serial != serial) return;
            entries = std::move(found->second.entries);
            downloader->URLCallbacks_.erase(found);
        });
        // Callers that did not cancel themselves still get an answer, so none waits forever.
        if (entries.empty()) return;
        auto error = NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorCancelled);
        for (const auto& entry : entries) {
            if (entry.completed) entry.completed(nullptr, std::nullopt, error, true);
        }
    };

    auto operation = make<WIWebImageDownloaderOperation>(request, options, progress, completed, cancelled);
    if (user && pass) {
        operation->setCredential(
            NSURLCredential::credentialWithUser(*user, *pass, NSURLCredentialPersistenceForSession));
    }
    if (options & WIDownloadHighPriority) {
        operation->setQueuePriority(NSOperationQueuePriorityHigh);
    } else if (options & WIDownloadLowPriority) {
        operation->setQueuePriority(NSOperationQueuePriorityLow);
    }

    Ref<WIWebImageDownloaderOperation> previous;
    {
        std::lock_guard lock(settingsLock_);
        previous = lastAddedOperation_.lock();
        if (order == WIDownloadOrderLIFO) lastAddedOperation_ = operation;
    }
    // Newest first: the previous download waits for this one. The dependency is set before the
    // new operation is queued, so the previous one cannot slip in first.
    if (order == WIDownloadOrderLIFO && previous && !previous->isExecuting() && !previous->isFinished()) {
        previous->addDependency(operation);
    }
    downloadQueue_->addOperation(operation);
    return operation;
}

std::uint64_t WIWebImageDownloader::addProgressCallback(WIWebImageDownloaderProgressBlock progress,
                                                        WIWebImageDownloaderCompletedBlock completed,
                                                        const Ref<NSURL>& url,
                                                        const std::function<void()>& create) {
    if (!url) {
        if (completed) completed(nullptr, std::nullopt, nullptr, false);
        return 0;
    }
    std::string key = url->absoluteString();
    std::uint64_t identifier = 0;
    dispatch_barrier_sync(barrierQueue_, [&] {
        bool first = false;
        auto found = URLCallbacks_.find(key);
        if (found == URLCallbacks_.end()) {
            Download download;
            download.serial = nextSerial_++;
            found = URLCallbacks_.emplace(key, std::move(download)).first;
            first = true;
        }
        identifier = nextEntry_++;
        found->second.entries.push_back(CallbackEntry{identifier, std::move(progress), std::move(completed)});
        if (first && create) create();
    });
    return identifier;
}

std::optional<std::vector<WIWebImageDownloader::CallbackEntry>>
WIWebImageDownloader::callbacksForURL(const Ref<NSURL>& url) const {
    if (!url) return std::nullopt;
    std::optional<std::vector<CallbackEntry>> entries;
    std::string key = url->absoluteString();
    dispatch_sync(barrierQueue_, [&] {
        auto found = URLCallbacks_.find(key);
        if (found != URLCallbacks_.end()) entries = found->second.entries;
    });
    return entries;
}

void WIWebImageDownloader::removeCallbacksForURL(const Ref<NSURL>& url) {
    if (!url) return;
    std::string key = url->absoluteString();
    auto self = selfAs<WIWebImageDownloader>();
    dispatch_barrier_async(barrierQueue_, [self, key] { self->URLCallbacks_.erase(key); });
}

void WIWebImageDownloader::removeCaller(const std::string& url, std::uint64_t entry) {
    Ref<WIWebImageDownloaderOperation> orphaned;
    dispatch_barrier_sync(barrierQueue_, [&] {
        auto found = URLCallbacks_.find(url);
        if (found == URLCallbacks_.end()) return;
        auto& entries = found->second.entries;
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [entry](const CallbackEntry& e) { return e.identifier == entry; }),
                      entries.end());
        if (entries.empty()) {
            orphaned = found->second.operation.lock();
            URLCallbacks_.erase(found);
        }
    });
    // Nobody waits for this download any more.
    if (orphaned) orphaned->cancel();
}
