#include "network/NSURLSession.h"

#include "foundation/NSString.h"

namespace {

Ref<NSOperationQueue> makeSerialQueue() {
    auto queue = make<NSOperationQueue>();
    queue->setMaxConcurrentOperationCount(1);
    queue->setName("NSURLSession delegate queue");
    return queue;
}

}  // namespace

NSURLSession::NSURLSession(const Ref<NSURLSessionConfiguration>& configuration,
                           Ref<NSURLSessionDelegate> delegate, Ref<NSOperationQueue> delegateQueue)
    : configuration_(configuration ? configuration->copy()
                                   : NSURLSessionConfiguration::defaultSessionConfiguration()),
      delegateQueue_(delegateQueue ? std::move(delegateQueue) : makeSerialQueue()),
      delegate_(std::move(delegate)) {}

NSURLSession::~NSURLSession() = default;

std::string NSURLSession::description() const {
    return NSString::stringWithFormat("<NSURLSession: %p>", static_cast<const void*>(this));
}

Ref<NSURLSession> NSURLSession::sharedSession() {
    static const Ref<NSURLSession> shared = [] {
        auto session = make<NSURLSession>(nullptr, nullptr, nullptr);
        session->shared_ = true;
        return session;
    }();
    return shared;
}

Ref<NSURLSession>
NSURLSession::sessionWithConfiguration(const Ref<NSURLSessionConfiguration>& configuration) {
    return make<NSURLSession>(configuration, nullptr, nullptr);
}

Ref<NSURLSession> NSURLSession::sessionWithConfiguration(const Ref<NSURLSessionConfiguration>& configuration,
                                                         Ref<NSURLSessionDelegate> delegate,
                                                         Ref<NSOperationQueue> delegateQueue) {
    return make<NSURLSession>(configuration, std::move(delegate), std::move(delegateQueue));
}

Ref<NSURLSessionDelegate> NSURLSession::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

std::optional<std::string> NSURLSession::sessionDescription() const {
    std::lock_guard lock(mutex_);
    return sessionDescription_;
}

void NSURLSession::setSessionDescription(std::optional<std::string> description) {
    std::lock_guard lock(mutex_);
    sessionDescription_ = std::move(description);
}

bool NSURLSession::isInvalidated() const {
    std::lock_guard lock(mutex_);
    return invalidating_ || invalid_;
}

// ---- task factories ----------------------------------------------------------------------------------
template <class T>
Ref<T> NSURLSession::makeTask(detail::SessionTaskSeed seed) {
    seed.session = selfAs<NSURLSession>();
    if (seed.originalRequest && !seed.request)
        seed.request = configuration_->requestByApplyingSettings(seed.originalRequest);
    std::lock_guard lock(mutex_);
    if (invalidating_ || invalid_) return nullptr;
    seed.identifier = nextIdentifier_++;
    auto task = make<T>(std::move(seed));
    outstanding_[task->taskIdentifier()] = task;
    return task;
}

Ref<NSURLSessionDataTask> NSURLSession::dataTaskWithRequest(const Ref<NSURLRequest>& request) {
    return dataTaskWithRequest(request, nullptr);
}

Ref<NSURLSessionDataTask> NSURLSession::dataTaskWithRequest(const Ref<NSURLRequest>& request,
                                                            DataTaskCompletionHandler completionHandler) {
    if (!request || !request->URL()) return nullptr;
    detail::SessionTaskSeed seed;
    seed.kind = detail::SessionTaskSeed::Kind::Data;
    seed.originalRequest = request->copy();
    seed.dataCompletion = std::move(completionHandler);
    return makeTask<NSURLSessionDataTask>(std::move(seed));
}

Ref<NSURLSessionDataTask> NSURLSession::dataTaskWithURL(const Ref<NSURL>& url) {
    return dataTaskWithURL(url, nullptr);
}

Ref<NSURLSessionDataTask> NSURLSession::dataTaskWithURL(const Ref<NSURL>& url,
                                                        DataTaskCompletionHandler completionHandler) {
    if (!url) return nullptr;
    return dataTaskWithRequest(NSURLRequest::requestWithURL(url), std::move(completionHandler));
}

Ref<NSURLSessionUploadTask> NSURLSession::uploadTaskWithRequest(const Ref<NSURLRequest>& request,
                                                                const Ref<NSURL>& fileURL,
                                                                DataTaskCompletionHandler completionHandler) {
    if (!request || !request->URL() || !fileURL) return nullptr;
    detail::SessionTaskSeed seed;
    seed.kind = detail::SessionTaskSeed::Kind::Upload;
    seed.originalRequest = request->copy();
    seed.body = detail::SessionTaskSeed::Body::File;
    seed.bodyFile = fileURL;
    seed.dataCompletion = std::move(completionHandler);
    return makeTask<NSURLSessionUploadTask>(std::move(seed));
}

Ref<NSURLSessionUploadTask> NSURLSession::uploadTaskWithRequest(const Ref<NSURLRequest>& request,
                                                                const NSData& bodyData,
                                                                DataTaskCompletionHandler completionHandler) {
    if (!request || !request->URL()) return nullptr;
    detail::SessionTaskSeed seed;
    seed.kind = detail::SessionTaskSeed::Kind::Upload;
    seed.originalRequest = request->copy();
    seed.body = detail::SessionTaskSeed::Body::Data;
    seed.bodyData = bodyData;
    seed.dataCompletion = std::move(completionHandler);
    return makeTask<NSURLSessionUploadTask>(std::move(seed));
}

Ref<NSURLSessionUploadTask> NSURLSession::uploadTaskWithStreamedRequest(const Ref<NSURLRequest>& request) {
    if (!request || !request->URL()) return nullptr;
    detail::SessionTaskSeed seed;
    seed.kind = detail::SessionTaskSeed::Kind::Upload;
    seed.originalRequest = request->copy();
    seed.body = detail::SessionTaskSeed::Body::Stream;
    return makeTask<NSURLSessionUploadTask>(std::move(seed));
}

Ref<NSURLSessionDownloadTask>
NSURLSession::downloadTaskWithRequest(const Ref<NSURLRequest>& request,
                                      DownloadTaskCompletionHandler completionHandler) {
    if (!request || !request->URL()) return nullptr;
    detail::SessionTaskSeed seed;
    seed.kind = detail::SessionTaskSeed::Kind::Download;
    seed.originalRequest = request->copy();
    seed.downloadCompletion = std::move(completionHandler);
    return makeTask<NSURLSessionDownloadTask>(std::move(seed));
}

Ref<NSURLSessionDownloadTask>
NSURLSession::downloadTaskWithURL(const Ref<NSURL>& url, DownloadTaskCompletionHandler completionHandler) {
    if (!url) return nullptr;
    return downloadTaskWithRequest(NSURLRequest::requestWithURL(url), std::move(completionHandler));
}

Ref<NSURLSessionDownloadTask>
NSURLSession::downloadTaskWithResumeData(const NSData& resumeData,
                                         DownloadTaskCompletionHandler completionHandler) {
    detail::SessionTaskSeed seed;
    seed.kind = detail::SessionTaskSeed::Kind::Download;
    // The original request is the one the data names; unreadable data fails when the task runs.
    Ref<NSURL> url;
    if (auto info = detail::decodeDownloadResumeInfo(resumeData)) url = NSURL::URLWithString(info->URL);
    seed.originalRequest = make<NSURLRequest>(url);
    seed.request = seed.originalRequest;
    seed.resumeData = resumeData;
    seed.downloadCompletion = std::move(completionHandler);
    return makeTask<NSURLSessionDownloadTask>(std::move(seed));
}

Ref<NSURLSessionDownloadTask> NSURLSession::makeDownloadTaskAdopting(const Ref<NSURLSessionTask>& dataTask) {
    detail::SessionTaskSeed seed;
    seed.kind = detail::SessionTaskSeed::Kind::Download;
    seed.originalRequest = dataTask->originalRequest();
    seed.request = dataTask->currentRequest();
    auto download = makeTask<NSURLSessionDownloadTask>(std::move(seed));
    if (!download) return nullptr;
    download->adoptLoad(dataTask);
    // The data task ends here without a completion of its own: its load goes on as the download.
    {
        std::lock_guard lock(dataTask->mutex_);
        dataTask->completionSent_ = true;
        dataTask->held_.clear();
        dataTask->dataCompletion_ = nullptr;
    }
    dataTask->changeState(
        NSURLSessionTaskStateCompleted,
        {NSURLSessionTaskStateRunning, NSURLSessionTaskStateSuspended, NSURLSessionTaskStateCanceling});
    {
        std::lock_guard lock(dataTask->mutex_);
        dataTask->session_.reset();
    }
    taskDidComplete(dataTask.get());
    return download;
}

// ---- bookkeeping and invalidation ------------------------------------------------------------------------
void NSURLSession::getTasksWithCompletionHandler(TasksHandler handler) {
    if (!handler) return;
    auto self = selfAs<NSURLSession>();
    delegateQueue_->addOperationWithBlock([self, handler] {
        std::vector<Ref<NSURLSessionDataTask>> data;
        std::vector<Ref<NSURLSessionUploadTask>> upload;
        std::vector<Ref<NSURLSessionDownloadTask>> download;
        std::vector<Ref<NSURLSessionTask>> tasks;
        {
            std::lock_guard lock(self->mutex_);
            for (auto& [id, task] : self->outstanding_) tasks.push_back(task);
        }
        for (auto& task : tasks) {
            auto state = task->state();
            if (state != NSURLSessionTaskStateRunning && state != NSURLSessionTaskStateSuspended) continue;
            if (auto u = asKind<NSURLSessionUploadTask>(task)) {
                upload.push_back(u);
            } else if (auto d = asKind<NSURLSessionDataTask>(task)) {
                data.push_back(d);
            } else if (auto dl = asKind<NSURLSessionDownloadTask>(task)) {
                download.push_back(dl);
            }
        }
        handler(data, upload, download);
    });
}

void NSURLSession::taskDidComplete(const NSURLSessionTask* task) {
    {
        std::lock_guard lock(mutex_);
        outstanding_.erase(task->taskIdentifier());
    }
    becomeInvalidIfDone();
}

void NSURLSession::finishTasksAndInvalidate() {
    beginInvalidation(false);
}

void NSURLSession::invalidateAndCancel() {
    beginInvalidation(true);
}

void NSURLSession::beginInvalidation(bool cancelTasks) {
    std::vector<Ref<NSURLSessionTask>> tasks;
    {
        std::lock_guard lock(mutex_);
        if (shared_ || invalidating_ || invalid_) {
            if (!cancelTasks || shared_) return;
        }
        invalidating_ = true;
        if (cancelTasks) {
            for (auto& [id, task] : outstanding_) tasks.push_back(task);
        }
    }
    for (auto& task : tasks) task->cancel();
    becomeInvalidIfDone();
}

void NSURLSession::becomeInvalidIfDone() {
    {
        std::lock_guard lock(mutex_);
        if (!invalidating_ || invalid_ || !outstanding_.empty()) return;
        invalid_ = true;
    }
    auto self = selfAs<NSURLSession>();
    delegateQueue_->addOperationWithBlock([self] {
        Ref<NSURLSessionDelegate> delegate;
        {
            std::lock_guard lock(self->mutex_);
            delegate = std::move(self->delegate_);
            self->delegate_.reset();
        }
        if (delegate) delegate->URLSessionDidBecomeInvalidWithError(self, nullptr);
    });
}
