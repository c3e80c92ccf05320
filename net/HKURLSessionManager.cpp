#include "net/HKURLSessionManager.h"

#include <mutex>

#include "foundation/NSFileManager.h"
#include "foundation/NSString.h"

namespace {

const NSCodableClass<HKURLSessionManager> registration("HKURLSessionManager");

// The hooks go in at start-up, as soon as the library is part of the program.
const bool hooksInstalled = (detail::HKInstallSessionTaskStateHooks(), true);

void postOnMainQueue(const std::string& name, const Ref<NSObject>& sender,
                     std::optional<Dictionary> userInfo = std::nullopt) {
    dispatch_async(dispatch_get_main_queue(), [name, sender, userInfo] {
        NSNotificationCenter::defaultCenter()->postNotificationName(name, sender, userInfo);
    });
}

}  // namespace

namespace detail {

void HKInstallSessionTaskStateHooks() {
    static std::once_flag once;
    std::call_once(once, [] {
        NSURLSessionTask::addResumeHook([](const Ref<NSURLSessionTask>& task,
                                           const std::function<void()>& proceed) {
            auto before = task->state();
            proceed();
            if (before == NSURLSessionTaskStateSuspended && task->state() == NSURLSessionTaskStateRunning) {
                NSNotificationCenter::defaultCenter()->postNotificationName(
                    HKNSURLSessionTaskDidResumeNotification, task);
            }
        });
        NSURLSessionTask::addSuspendHook([](const Ref<NSURLSessionTask>& task,
                                            const std::function<void()>& proceed) {
            auto before = task->state();
            proceed();
            if (before == NSURLSessionTaskStateRunning && task->state() == NSURLSessionTaskStateSuspended) {
                NSNotificationCenter::defaultCenter()->postNotificationName(
                    HKNSURLSessionTaskDidSuspendNotification, task);
            }
        });
    });
}

}  // namespace detail

dispatch_group_t HKSessionTaskCompletionGroup() {
    static const dispatch_group_t group = dispatch_group_create();
    return group;
}

dispatch_queue_t HKSessionProcessingQueue() {
    static const dispatch_queue_t queue = dispatch_queue_create(
        "com.quentaro.networking.session.manager.processing", DISPATCH_QUEUE_CONCURRENT);
    return queue;
}

dispatch_queue_t HKSessionCreationQueue() {
    static const dispatch_queue_t queue =
        dispatch_queue_create("com.quentaro.networking.session.manager.creation", DISPATCH_QUEUE_SERIAL);
    return queue;
}

namespace {
// Set while the manager reattaches the session's existing tasks on the delegate queue: their
// delegates are added only where a task has none.
thread_local bool reattaching = false;
}  // namespace

// ---- the task delegate ---------------------------------------------------------------------------------
Ref<NSURL> HKURLSessionManagerTaskDelegate::downloadFileURL() const {
    std::lock_guard lock(mutex_);
    return downloadFileURL_;
}

void HKURLSessionManagerTaskDelegate::setDownloadFileURL(const Ref<NSURL>& url) {
    std::lock_guard lock(mutex_);
    downloadFileURL_ = url;
}

void HKURLSessionManagerTaskDelegate::setMoveError(const Ref<NSError>& error) {
    std::lock_guard lock(mutex_);
    moveError_ = error;
}

void HKURLSessionManagerTaskDelegate::URLSessionTaskDidCompleteWithError(const Ref<NSURLSession>& session,
                                                                         const Ref<NSURLSessionTask>& task,
                                                                         const Ref<NSError>& error) {
    auto manager = manager_.lock();
    Ref<HKHTTPResponseSerializer> serializer = manager ? manager->responseSerializer() : nullptr;
    dispatch_queue_t queue = manager ? manager->completionQueue() : nullptr;
    dispatch_group_t group = manager ? manager->completionGroup() : nullptr;
    if (!queue) queue = dispatch_get_main_queue();
    if (!group) group = HKSessionTaskCompletionGroup();

    Dictionary userInfo = Dictionary::mutableDictionary();
    if (serializer) userInfo.setObject(HKNetworkingTaskDidCompleteResponseSerializerKey, serializer);
    NSData data = mutableData_;
    mutableData_ = NSData();
    Ref<NSURL> fileURL;
    Ref<NSError> moveError;
    {
        std::lock_guard lock(mutex_);
        fileURL = downloadFileURL_;
        moveError = moveError_;
    }
    if (fileURL) {
        userInfo.setObject(HKNetworkingTaskDidCompleteAssetPathKey, fileURL);
    } else if (!data.empty() || !moveError) {
        userInfo.setObject(HKNetworkingTaskDidCompleteResponseDataKey, data);
    }
    auto handler = completionHandler_;
    auto response = task->response();
    auto finish = [group, queue, handler, task, response](const Dictionary& info, const Value& object,
                                                          const Ref<NSError>& e) {
        dispatch_group_async(group, queue, [handler, task, response, info, object, e] {
            if (handler) handler(response, object, e);
            postOnMainQueue(HKNetworkingTaskDidCompleteNotification, task, info);
        });
    };

    // The task was cancelled for its size: that, not the cancel, is the failure.
    Ref<NSError> failure = oversizedError_ ? oversizedError_ : error ? error : moveError;
    if (failure) {
        userInfo.setObject(HKNetworkingTaskDidCompleteErrorKey, failure);
        finish(userInfo, Value(), failure);
        return;
    }
    dispatch_async(HKSessionProcessingQueue(), [serializer, response, data, fileURL, userInfo, finish] {
        Ref<NSError> decodingError;
        Value object;
        if (serializer) object = serializer->responseObjectForResponse(response, data, &decodingError);
        if (fileURL) object = Value(fileURL);
        Dictionary info = userInfo.mutableCopy();
        if (object) info.setObject(HKNetworkingTaskDidCompleteSerializedResponseKey, object);
        if (decodingError) info.setObject(HKNetworkingTaskDidCompleteErrorKey, decodingError);
        finish(info, object, decodingError);
    });
}

void HKURLSessionManagerTaskDelegate::URLSessionTaskDidSendBodyData(std::int64_t totalBytesSent,
                                                                    std::int64_t totalBytesExpected) {
    progress_->setTotalUnitCount(totalBytesExpected);
    progress_->setCompletedUnitCount(totalBytesSent);
}

void HKURLSessionManagerTaskDelegate::URLSessionDataTaskDidReceiveData(const Ref<NSURLSessionTask>& task,
                                                                       const NSData& data) {
    if (oversizedError_) return;
    if (mutableData_.length() + data.length() > NSURLMaximumInMemoryBodyLength()) {
        auto request = task ? task->currentRequest() : nullptr;
        oversizedError_ = NSURLMakeDataLengthExceedsMaximumError(request ? request->URL() : nullptr);
        mutableData_ = NSData();
        if (task) task->cancel();
        return;
    }
    mutableData_.appendData(data);
}

void HKURLSessionManagerTaskDelegate::URLSessionDownloadTaskDidFinishDownloadingToURL(
    const Ref<NSURLSession>& session, const Ref<NSURLSessionDownloadTask>& task, const Ref<NSURL>& location) {
    setDownloadFileURL(nullptr);
    if (!destination_) return;
    auto destination = destination_(session, task, location);
    if (!destination) return;
    Ref<NSError> error;
    if (NSFileManager::defaultManager()->moveItemAtURL(location, destination, &error)) {
        setDownloadFileURL(destination);
    } else {
        setMoveError(error);
        NSNotificationCenter::defaultCenter()->postNotificationName(
            HKURLSessionDownloadTaskDidFailToMoveFileNotification, task,
            error ? std::optional<Dictionary>(error->userInfo()) : std::nullopt);
    }
}

void HKURLSessionManagerTaskDelegate::URLSessionDownloadTaskDidWriteData(std::int64_t totalBytesWritten,
                                                                         std::int64_t totalBytesExpected) {
    progress_->setTotalUnitCount(totalBytesExpected);
    progress_->setCompletedUnitCount(totalBytesWritten);
}

void HKURLSessionManagerTaskDelegate::URLSessionDownloadTaskDidResumeAtOffset(
    std::int64_t fileOffset, std::int64_t expectedTotalBytes) {
    progress_->setTotalUnitCount(expectedTotalBytes);
    progress_->setCompletedUnitCount(fileOffset);
}

// ---- creation ------------------------------------------------------------------------------------------
HKURLSessionManager::HKURLSessionManager(const Ref<NSURLSessionConfiguration>& configuration)
    : sessionConfiguration_(configuration ? configuration
                                          : NSURLSessionConfiguration::defaultSessionConfiguration()),
      operationQueue_(make<NSOperationQueue>()),
      taskDescription_(NSString::stringWithFormat("%p", static_cast<const void*>(this))),
      lock_(make<NSLock>()),
      responseSerializer_(HKJSONResponseSerializer::serializer()),
      securityPolicy_(HKSecurityPolicy::defaultPolicy()),
      reachabilityManager_(HKNetworkReachabilityManager::sharedManager()) {
    operationQueue_->setMaxConcurrentOperationCount(1);
    lock_->setName("com.quentaro.networking.session.manager.lock");
}

HKURLSessionManager::HKURLSessionManager(NSCoder& coder)
    : HKURLSessionManager(coder.decodeObjectOfClassAs<NSURLSessionConfiguration>("NSURLSessionConfiguration",
                                                                                 "sessionConfiguration")) {}

HKURLSessionManager::~HKURLSessionManager() {
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const NSObject*>(this));
}

void HKURLSessionManager::didInit() {
    detail::HKInstallSessionTaskStateHooks();
    auto self = selfAs<HKURLSessionManager>();
    session_ = NSURLSession::sessionWithConfiguration(sessionConfiguration_, self, operationQueue_);
    // Reattach what the session already runs (a background session's tasks). The answer comes
    // later, on the delegate queue: a task made through this manager meanwhile has (or is about to
    // get) its own delegate, which a reattached one never replaces.
    Weak<HKURLSessionManager> weak = self;
    session_->getTasksWithCompletionHandler(
        [weak](const auto& dataTasks, const auto& uploadTasks, const auto& downloadTasks) {
            auto manager = weak.lock();
            if (!manager) return;
            reattaching = true;
            struct Reset {
                ~Reset() { reattaching = false; }
            } reset;
            for (auto& task : dataTasks) {
                if (!manager->delegateForTask(task)) manager->addDelegateForDataTask(task, nullptr);
            }
            for (auto& task : uploadTasks) {
                if (!manager->delegateForTask(task))
                    manager->addDelegateForUploadTask(task, nullptr, nullptr);
            }
            for (auto& task : downloadTasks) {
                if (!manager->delegateForTask(task)) {
                    manager->addDelegateForDownloadTask(task, nullptr, nullptr, nullptr);
                }
            }
        });
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(self, &HKURLSessionManager::taskDidResume,
                        std::string(HKNSURLSessionTaskDidResumeNotification));
    center->addObserver(self, &HKURLSessionManager::taskDidSuspend,
                        std::string(HKNSURLSessionTaskDidSuspendNotification));
}

std::string HKURLSessionManager::description() const {
    return NSString::stringWithFormat(
        "<%@: %p, session: %@, operationQueue: %@>", className(), static_cast<const void*>(this),
        session_ ? session_->description() : "(null)", operationQueue_->description());
}

void HKURLSessionManager::encodeWithCoder(NSCoder& coder) const {
    coder.encodeObject(Value(session_ ? session_->configuration() : sessionConfiguration_),
                       "sessionConfiguration");
}

Ref<NSObject> HKURLSessionManager::copyObject() const {
    return make<HKURLSessionManager>(session_ ? session_->configuration() : sessionConfiguration_);
}

// ---- settings --------------------------------------------------------------------------------------------
Ref<HKHTTPResponseSerializer> HKURLSessionManager::responseSerializer() const {
    std::lock_guard lock(settingsMutex_);
    return responseSerializer_;
}

void HKURLSessionManager::setResponseSerializer(const Ref<HKHTTPResponseSerializer>& serializer) {
    std::lock_guard lock(settingsMutex_);
    responseSerializer_ = serializer;
}

Ref<HKSecurityPolicy> HKURLSessionManager::securityPolicy() const {
    std::lock_guard lock(settingsMutex_);
    return securityPolicy_;
}

void HKURLSessionManager::setSecurityPolicy(const Ref<HKSecurityPolicy>& policy) {
    std::lock_guard lock(settingsMutex_);
    securityPolicy_ = policy;
}

Ref<HKNetworkReachabilityManager> HKURLSessionManager::reachabilityManager() const {
    std::lock_guard lock(settingsMutex_);
    return reachabilityManager_;
}

void HKURLSessionManager::setReachabilityManager(const Ref<HKNetworkReachabilityManager>& manager) {
    std::lock_guard lock(settingsMutex_);
    reachabilityManager_ = manager;
}

dispatch_queue_t HKURLSessionManager::completionQueue() const {
    std::lock_guard lock(settingsMutex_);
    return completionQueue_;
}

void HKURLSessionManager::setCompletionQueue(const dispatch_queue_t& queue) {
    std::lock_guard lock(settingsMutex_);
    completionQueue_ = queue;
}

dispatch_group_t HKURLSessionManager::completionGroup() const {
    std::lock_guard lock(settingsMutex_);
    return completionGroup_;
}

void HKURLSessionManager::setCompletionGroup(const dispatch_group_t& group) {
    std::lock_guard lock(settingsMutex_);
    completionGroup_ = group;
}

bool HKURLSessionManager::attemptsToRecreateUploadTasksForBackgroundSessions() const {
    std::lock_guard lock(settingsMutex_);
    return attemptsToRecreateUploadTasks_;
}

void HKURLSessionManager::setAttemptsToRecreateUploadTasksForBackgroundSessions(bool value) {
    std::lock_guard lock(settingsMutex_);
    attemptsToRecreateUploadTasks_ = value;
}

HKURLSessionManager::Blocks HKURLSessionManager::blocks() const {
    std::lock_guard lock(settingsMutex_);
    return blocks_;
}

template <class F>
void HKURLSessionManager::setBlock(F Blocks::*field, F block) {
    std::lock_guard lock(settingsMutex_);
    blocks_.*field = std::move(block);
}

void HKURLSessionManager::setSessionDidBecomeInvalidBlock(SessionDidBecomeInvalidBlock block) {
    setBlock(&Blocks::sessionDidBecomeInvalid, std::move(block));
}
void HKURLSessionManager::setSessionDidReceiveAuthenticationChallengeBlock(
    SessionDidReceiveAuthenticationChallengeBlock block) {
    setBlock(&Blocks::sessionDidReceiveAuthenticationChallenge, std::move(block));
}
void HKURLSessionManager::setDidFinishEventsForBackgroundURLSessionBlock(
    DidFinishEventsForBackgroundURLSessionBlock block) {
    setBlock(&Blocks::didFinishEventsForBackgroundURLSession, std::move(block));
}
void HKURLSessionManager::setTaskWillPerformHTTPRedirectionBlock(TaskWillPerformHTTPRedirectionBlock block) {
    setBlock(&Blocks::taskWillPerformHTTPRedirection, std::move(block));
}
void HKURLSessionManager::setTaskDidReceiveAuthenticationChallengeBlock(
    TaskDidReceiveAuthenticationChallengeBlock block) {
    setBlock(&Blocks::taskDidReceiveAuthenticationChallenge, std::move(block));
}
void HKURLSessionManager::setTaskNeedNewBodyStreamBlock(TaskNeedNewBodyStreamBlock block) {
    setBlock(&Blocks::taskNeedNewBodyStream, std::move(block));
}
void HKURLSessionManager::setTaskDidSendBodyDataBlock(TaskDidSendBodyDataBlock block) {
    setBlock(&Blocks::taskDidSendBodyData, std::move(block));
}
void HKURLSessionManager::setTaskDidCompleteBlock(TaskDidCompleteBlock block) {
    setBlock(&Blocks::taskDidComplete, std::move(block));
}
void HKURLSessionManager::setDataTaskDidReceiveResponseBlock(DataTaskDidReceiveResponseBlock block) {
    setBlock(&Blocks::dataTaskDidReceiveResponse, std::move(block));
}
void HKURLSessionManager::setDataTaskDidBecomeDownloadTaskBlock(DataTaskDidBecomeDownloadTaskBlock block) {
    setBlock(&Blocks::dataTaskDidBecomeDownloadTask, std::move(block));
}
void HKURLSessionManager::setDataTaskDidReceiveDataBlock(DataTaskDidReceiveDataBlock block) {
    setBlock(&Blocks::dataTaskDidReceiveData, std::move(block));
}
void HKURLSessionManager::setDataTaskWillCacheResponseBlock(DataTaskWillCacheResponseBlock block) {
    setBlock(&Blocks::dataTaskWillCacheResponse, std::move(block));
}
void HKURLSessionManager::setDownloadTaskDidFinishDownloadingBlock(
    DownloadTaskDidFinishDownloadingBlock block) {
    setBlock(&Blocks::downloadTaskDidFinishDownloading, std::move(block));
}
void HKURLSessionManager::setDownloadTaskDidWriteDataBlock(DownloadTaskDidWriteDataBlock block) {
    setBlock(&Blocks::downloadTaskDidWriteData, std::move(block));
}
void HKURLSessionManager::setDownloadTaskDidResumeBlock(DownloadTaskDidResumeBlock block) {
    setBlock(&Blocks::downloadTaskDidResume, std::move(block));
}

bool HKURLSessionManager::respondsToSelector(std::string_view selector) const {
    if (selector == "URLSession:task:willPerformHTTPRedirection:newRequest:completionHandler:") {
        return implementsURLSessionTaskWillPerformHTTPRedirection();
    }
    if (selector == "URLSession:dataTask:didReceiveResponse:completionHandler:") {
        return implementsURLSessionDataTaskDidReceiveResponse();
    }
    if (selector == "URLSession:dataTask:willCacheResponse:completionHandler:") {
        return implementsURLSessionDataTaskWillCacheResponse();
    }
    if (selector == "URLSessionDidFinishEventsForBackgroundURLSession:") {
        return implementsURLSessionDidFinishEventsForBackgroundURLSession();
    }
    static const std::string_view always[] = {
        "URLSession:didBecomeInvalidWithError:",
        "URLSession:didReceiveChallenge:completionHandler:",
        "URLSession:task:didReceiveChallenge:completionHandler:",
        "URLSession:task:needNewBodyStream:",
        "URLSession:task:didSendBodyData:totalBytesSent:totalBytesExpectedToSend:",
        "URLSession:task:didCompleteWithError:",
        "URLSession:dataTask:didBecomeDownloadTask:",
        "URLSession:dataTask:didReceiveData:",
        "URLSession:downloadTask:didFinishDownloadingToURL:",
        "URLSession:downloadTask:didWriteData:totalBytesWritten:totalBytesExpectedToWrite:",
        "URLSession:downloadTask:didResumeAtOffset:expectedTotalBytes:",
    };
    for (auto name : always) {
        if (selector == name) return true;
    }
    return false;
}

bool HKURLSessionManager::implementsURLSessionDidFinishEventsForBackgroundURLSession() const {
    return static_cast<bool>(blocks().didFinishEventsForBackgroundURLSession);
}
bool HKURLSessionManager::implementsURLSessionTaskWillPerformHTTPRedirection() const {
    return static_cast<bool>(blocks().taskWillPerformHTTPRedirection);
}
bool HKURLSessionManager::implementsURLSessionDataTaskDidReceiveResponse() const {
    return static_cast<bool>(blocks().dataTaskDidReceiveResponse);
}
bool HKURLSessionManager::implementsURLSessionDataTaskWillCacheResponse() const {
    return static_cast<bool>(blocks().dataTaskWillCacheResponse);
}

// ---- task lists ------------------------------------------------------------------------------------------
std::optional<std::vector<Ref<NSURLSessionTask>>>
HKURLSessionManager::tasksForKeyPath(const std::string& keyPath) const {
    if (keyPath != "tasks" && keyPath != "dataTasks" && keyPath != "uploadTasks" &&
        keyPath != "downloadTasks") {
        return std::nullopt;
    }
    auto semaphore = dispatch_semaphore_create(0);
    std::vector<Ref<NSURLSessionTask>> result;
    session_->getTasksWithCompletionHandler([&](const auto& data, const auto& upload, const auto& download) {
        if (keyPath == "dataTasks" || keyPath == "tasks")
            result.insert(result.end(), data.begin(), data.end());
        if (keyPath == "uploadTasks" || keyPath == "tasks")
            result.insert(result.end(), upload.begin(), upload.end());
        if (keyPath == "downloadTasks" || keyPath == "tasks")
            result.insert(result.end(), download.begin(), download.end());
        dispatch_semaphore_signal(semaphore);
    });
    dispatch_semaphore_wait(semaphore, DISPATCH_TIME_FOREVER);
    return result;
}

std::vector<Ref<NSURLSessionTask>> HKURLSessionManager::tasks() const {
    return *tasksForKeyPath("tasks");
}
std::vector<Ref<NSURLSessionTask>> HKURLSessionManager::dataTasks() const {
    return *tasksForKeyPath("dataTasks");
}
std::vector<Ref<NSURLSessionTask>> HKURLSessionManager::uploadTasks() const {
    return *tasksForKeyPath("uploadTasks");
}
std::vector<Ref<NSURLSessionTask>> HKURLSessionManager::downloadTasks() const {
    return *tasksForKeyPath("downloadTasks");
}

// ---- factories --------------------------------------------------------------------------------------------
Ref<NSURLSessionDataTask> HKURLSessionManager::dataTaskWithRequest(const Ref<NSURLRequest>& request,
                                                                   CompletionHandler completionHandler) {
    Ref<NSURLSessionDataTask> task;
    dispatch_sync(HKSessionCreationQueue(), [&] { task = session_->dataTaskWithRequest(request); });
    if (task) addDelegateForDataTask(task, std::move(completionHandler));
    return task;
}

Ref<NSURLSessionUploadTask>
HKURLSessionManager::uploadTaskWithRequestFromFile(const Ref<NSURLRequest>& request,
                                                   const Ref<NSURL>& fileURL, Ref<NSProgress>* progress,
                                                   CompletionHandler completionHandler) {
    Ref<NSURLSessionUploadTask> task;
    dispatch_sync(HKSessionCreationQueue(),
                  [&] { task = session_->uploadTaskWithRequest(request, fileURL); });
    if (!task && attemptsToRecreateUploadTasksForBackgroundSessions() &&
        sessionConfiguration_->identifier()) {
        for (int attempt = 0; !task && attempt < 3; ++attempt)
            task = session_->uploadTaskWithRequest(request, fileURL);
    }
    if (task) addDelegateForUploadTask(task, progress, std::move(completionHandler));
    return task;
}

Ref<NSURLSessionUploadTask>
HKURLSessionManager::uploadTaskWithRequestFromData(const Ref<NSURLRequest>& request, const NSData& bodyData,
                                                   Ref<NSProgress>* progress,
                                                   CompletionHandler completionHandler) {
    Ref<NSURLSessionUploadTask> task;
    dispatch_sync(HKSessionCreationQueue(),
                  [&] { task = session_->uploadTaskWithRequest(request, bodyData); });
    if (task) addDelegateForUploadTask(task, progress, std::move(completionHandler));
    return task;
}

Ref<NSURLSessionUploadTask> HKURLSessionManager::uploadTaskWithStreamedRequest(
    const Ref<NSURLRequest>& request, Ref<NSProgress>* progress, CompletionHandler completionHandler) {
    Ref<NSURLSessionUploadTask> task;
    dispatch_sync(HKSessionCreationQueue(), [&] { task = session_->uploadTaskWithStreamedRequest(request); });
    if (task) addDelegateForUploadTask(task, progress, std::move(completionHandler));
    return task;
}

namespace {

HKURLSessionManager::CompletionHandler
downloadCompletion(HKURLSessionManager::DownloadCompletionHandler handler) {
    if (!handler) return nullptr;
    return [handler](const Ref<NSURLResponse>& response, const Value& object, const Ref<NSError>& error) {
        handler(response, object.objectAs<NSURL>(), error);
    };
}

}  // namespace

Ref<NSURLSessionDownloadTask>
HKURLSessionManager::downloadTaskWithRequest(const Ref<NSURLRequest>& request, Ref<NSProgress>* progress,
                                             DestinationBlock destination,
                                             DownloadCompletionHandler completionHandler) {
    Ref<NSURLSessionDownloadTask> task;
    dispatch_sync(HKSessionCreationQueue(), [&] { task = session_->downloadTaskWithRequest(request); });
    if (task)
        addDelegateForDownloadTask(task, progress, std::move(destination),
                                   downloadCompletion(std::move(completionHandler)));
    return task;
}

Ref<NSURLSessionDownloadTask>
HKURLSessionManager::downloadTaskWithResumeData(const NSData& resumeData, Ref<NSProgress>* progress,
                                                DestinationBlock destination,
                                                DownloadCompletionHandler completionHandler) {
    Ref<NSURLSessionDownloadTask> task;
    dispatch_sync(HKSessionCreationQueue(), [&] { task = session_->downloadTaskWithResumeData(resumeData); });
    if (task)
        addDelegateForDownloadTask(task, progress, std::move(destination),
                                   downloadCompletion(std::move(completionHandler)));
    return task;
}

// ---- task delegates ---------------------------------------------------------------------------------------
void HKURLSessionManager::addDelegateForDataTask(const Ref<NSURLSessionDataTask>& task,
                                                 CompletionHandler completionHandler) {
    auto delegate = make<HKURLSessionManagerTaskDelegate>();
    delegate->setManager(selfAs<HKURLSessionManager>());
    delegate->setCompletionHandler(std::move(completionHandler));
    task->setTaskDescription(taskDescription_);
    setDelegate(delegate, task);
}

std::int64_t HKURLSessionManager::contentLengthOf(const Ref<NSURLRequest>& request) {
    auto field = request ? request->valueForHTTPHeaderField("Content-Length") : std::nullopt;
    if (!field) return NSURLSessionTransferSizeUnknown;
    std::string_view text = field->c_str();
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return NSURLSessionTransferSizeUnknown;
    }
    return std::stoll(std::string(text));
}

void HKURLSessionManager::addDelegateForUploadTask(const Ref<NSURLSessionUploadTask>& task,
                                                   Ref<NSProgress>* progress,
                                                   CompletionHandler completionHandler) {
    auto delegate = make<HKURLSessionManagerTaskDelegate>();
    delegate->setManager(selfAs<HKURLSessionManager>());
    delegate->setCompletionHandler(std::move(completionHandler));
    task->setTaskDescription(taskDescription_);
    setDelegate(delegate, task);

    std::int64_t total = task->countOfBytesExpectedToSend();
    if (total == NSURLSessionTransferSizeUnknown) total = contentLengthOf(task->originalRequest());
    auto& p = delegate->progress();
    p->setTotalUnitCount(total);
    p->setPausable(true);
    Weak<NSURLSessionTask> weakTask = task;
    p->setPausingHandler([weakTask] {
        if (auto t = weakTask.lock()) t->suspend();
    });
    p->setCancellationHandler([weakTask] {
        if (auto t = weakTask.lock()) t->cancel();
    });
    if (progress) *progress = p;
}

void HKURLSessionManager::addDelegateForDownloadTask(const Ref<NSURLSessionDownloadTask>& task,
                                                     Ref<NSProgress>* progress, DestinationBlock destination,
                                                     CompletionHandler completionHandler) {
    auto delegate = make<HKURLSessionManagerTaskDelegate>();
    delegate->setManager(selfAs<HKURLSessionManager>());
    if (destination) {
        delegate->setDownloadTaskDidFinishDownloading(
            [destination](const Ref<NSURLSession>&, const Ref<NSURLSessionDownloadTask>& t,
                          const Ref<NSURL>& location) { return destination(location, t->response()); });
    }
    delegate->setCompletionHandler(std::move(completionHandler));
    task->setTaskDescription(taskDescription_);
    setDelegate(delegate, task);
    if (progress) *progress = delegate->progress();
}

void HKURLSessionManager::setDelegate(const Ref<HKURLSessionManagerTaskDelegate>& delegate,
                                      const Ref<NSURLSessionTask>& task) {
    if (!delegate || !task) return;
    lock_->lock();
    if (reattaching) {
        mutableTaskDelegatesKeyedByTaskIdentifier_.emplace(task->taskIdentifier(), delegate);
    } else {
        mutableTaskDelegatesKeyedByTaskIdentifier_[task->taskIdentifier()] = delegate;
    }
    lock_->unlock();
}

Ref<HKURLSessionManagerTaskDelegate>
HKURLSessionManager::delegateForTask(const Ref<NSURLSessionTask>& task) const {
    if (!task) return nullptr;
    lock_->lock();
    auto it = mutableTaskDelegatesKeyedByTaskIdentifier_.find(task->taskIdentifier());
    auto found = it == mutableTaskDelegatesKeyedByTaskIdentifier_.end() ? nullptr : it->second;
    lock_->unlock();
    return found;
}

void HKURLSessionManager::removeDelegateForTask(const Ref<NSURLSessionTask>& task) {
    if (!task) return;
    Ref<HKURLSessionManagerTaskDelegate> removed;  // let go of it outside the lock
    lock_->lock();
    auto it = mutableTaskDelegatesKeyedByTaskIdentifier_.find(task->taskIdentifier());
    if (it != mutableTaskDelegatesKeyedByTaskIdentifier_.end()) {
        removed = std::move(it->second);
        mutableTaskDelegatesKeyedByTaskIdentifier_.erase(it);
    }
    lock_->unlock();
}

void HKURLSessionManager::removeAllDelegates() {
    std::unordered_map<unsigned long, Ref<HKURLSessionManagerTaskDelegate>> removed;
    lock_->lock();
    removed.swap(mutableTaskDelegatesKeyedByTaskIdentifier_);
    lock_->unlock();
}

Ref<NSProgress> HKURLSessionManager::uploadProgressForTask(const Ref<NSURLSessionTask>& task) const {
    auto delegate = delegateForTask(task);
    return delegate ? delegate->progress() : nullptr;
}

Ref<NSProgress> HKURLSessionManager::downloadProgressForTask(const Ref<NSURLSessionTask>& task) const {
    return uploadProgressForTask(task);
}

void HKURLSessionManager::invalidateSessionCancelingTasks(bool cancelPendingTasks) {
    auto session = session_;
    dispatch_async(dispatch_get_main_queue(), [session, cancelPendingTasks] {
        if (cancelPendingTasks) {
            session->invalidateAndCancel();
        } else {
            session->finishTasksAndInvalidate();
        }
    });
}

// ---- notifications --------------------------------------------------------------------------------------
void HKURLSessionManager::taskDidResume(const Ref<NSNotification>& notification) {
    auto task = asKind<NSURLSessionTask>(notification->object());
    if (task && task->taskDescription() == taskDescription_) {
        postOnMainQueue(HKNetworkingTaskDidResumeNotification, task);
    }
}

void HKURLSessionManager::taskDidSuspend(const Ref<NSNotification>& notification) {
    auto task = asKind<NSURLSessionTask>(notification->object());
    if (task && task->taskDescription() == taskDescription_) {
        postOnMainQueue(HKNetworkingTaskDidSuspendNotification, task);
    }
}

// ---- session delegate
// --------------------------------------------------------------------------------------
void HKURLSessionManager::URLSessionDidBecomeInvalidWithError(const Ref<NSURLSession>& session,
                                                              const Ref<NSError>& error) {
    if (auto block = blocks().sessionDidBecomeInvalid) block(session, error);
    removeAllDelegates();
    NSNotificationCenter::defaultCenter()->postNotificationName(HKURLSessionDidInvalidateNotification,
                                                                session);
}

NSURLSessionAuthChallengeDisposition
HKURLSessionManager::judgeServerTrust(const Ref<NSURLAuthenticationChallenge>& challenge,
                                      Ref<NSURLCredential>* credential, bool alwaysUseCredential) const {
    auto space = challenge->protectionSpace();
    if (!space || space->authenticationMethod() != NSURLAuthenticationMethodServerTrust) {
        return NSURLSessionAuthChallengePerformDefaultHandling;
    }
    auto policy = securityPolicy();
    auto trust = detail::HKServerTrustFromObject(space->serverTrust(), space->host());
    if (policy && trust && policy->evaluateServerTrust(trust, space->host())) {
        *credential =
            space->serverTrust() ? NSURLCredential::credentialForTrust(space->serverTrust()) : nullptr;
        if (alwaysUseCredential || *credential) return NSURLSessionAuthChallengeUseCredential;
        return NSURLSessionAuthChallengePerformDefaultHandling;
    }
    return NSURLSessionAuthChallengeCancelAuthenticationChallenge;
}

void HKURLSessionManager::URLSessionDidReceiveChallenge(const Ref<NSURLSession>& session,
                                                        const Ref<NSURLAuthenticationChallenge>& challenge,
                                                        NSURLSessionChallengeCompletion completionHandler) {
    auto disposition = NSURLSessionAuthChallengePerformDefaultHandling;
    Ref<NSURLCredential> credential;
    if (auto block = blocks().sessionDidReceiveAuthenticationChallenge) {
        disposition = block(session, challenge, &credential);
    } else {
        disposition = judgeServerTrust(challenge, &credential, false);
    }
    if (completionHandler) completionHandler(disposition, credential);
}

void HKURLSessionManager::URLSessionDidFinishEventsForBackgroundURLSession(const Ref<NSURLSession>& session) {
    if (auto block = blocks().didFinishEventsForBackgroundURLSession) {
        dispatch_async(dispatch_get_main_queue(), [block, session] { block(session); });
    }
}

void HKURLSessionManager::URLSessionTaskWillPerformHTTPRedirection(
    const Ref<NSURLSession>& session, const Ref<NSURLSessionTask>& task,
    const Ref<NSHTTPURLResponse>& response, const Ref<NSURLRequest>& request,
    std::function<void(const Ref<NSURLRequest>&)> completionHandler) {
    Ref<NSURLRequest> redirect = request;
    if (auto block = blocks().taskWillPerformHTTPRedirection)
        redirect = block(session, task, response, request);
    if (completionHandler) completionHandler(redirect);
}

void HKURLSessionManager::URLSessionTaskDidReceiveChallenge(
    const Ref<NSURLSession>& session, const Ref<NSURLSessionTask>& task,
    const Ref<NSURLAuthenticationChallenge>& challenge, NSURLSessionChallengeCompletion completionHandler) {
    auto disposition = NSURLSessionAuthChallengePerformDefaultHandling;
    Ref<NSURLCredential> credential;
    if (auto block = blocks().taskDidReceiveAuthenticationChallenge) {
        disposition = block(session, task, challenge, &credential);
    } else {
        disposition = judgeServerTrust(challenge, &credential, true);
    }
    if (completionHandler) completionHandler(disposition, credential);
}

void HKURLSessionManager::URLSessionTaskNeedNewBodyStream(
    const Ref<NSURLSession>& session, const Ref<NSURLSessionTask>& task,
    std::function<void(const Ref<NSInputStream>&)> completionHandler) {
    Ref<NSInputStream> stream;
    if (auto block = blocks().taskNeedNewBodyStream) {
        stream = block(session, task);
    } else if (auto original =
                   task->originalRequest() ? task->originalRequest()->HTTPBodyStream() : nullptr) {
        stream = asKind<NSInputStream>(original->copyObject());
    }
    if (completionHandler) completionHandler(stream);
}

void HKURLSessionManager::URLSessionTaskDidSendBodyData(const Ref<NSURLSession>& session,
                                                        const Ref<NSURLSessionTask>& task,
                                                        std::int64_t bytesSent, std::int64_t totalBytesSent,
                                                        std::int64_t totalBytesExpectedToSend) {
    std::int64_t expected = totalBytesExpectedToSend;
    if (expected == NSURLSessionTransferSizeUnknown) {
        auto length = contentLengthOf(task->originalRequest());
        if (length != NSURLSessionTransferSizeUnknown) expected = length;
    }
    if (auto delegate = delegateForTask(task))
        delegate->URLSessionTaskDidSendBodyData(totalBytesSent, expected);
    if (auto block = blocks().taskDidSendBodyData) block(session, task, bytesSent, totalBytesSent, expected);
}

void HKURLSessionManager::URLSessionTaskDidCompleteWithError(const Ref<NSURLSession>& session,
                                                             const Ref<NSURLSessionTask>& task,
                                                             const Ref<NSError>& error) {
    if (auto delegate = delegateForTask(task)) {
        delegate->URLSessionTaskDidCompleteWithError(session, task, error);
        removeDelegateForTask(task);
    }
    if (auto block = blocks().taskDidComplete) block(session, task, error);
}

void HKURLSessionManager::URLSessionDataTaskDidReceiveResponse(
    const Ref<NSURLSession>& session, const Ref<NSURLSessionDataTask>& dataTask,
    const Ref<NSURLResponse>& response,
    std::function<void(NSURLSessionResponseDisposition)> completionHandler) {
    auto disposition = NSURLSessionResponseAllow;
    if (auto block = blocks().dataTaskDidReceiveResponse) disposition = block(session, dataTask, response);
    if (completionHandler) completionHandler(disposition);
}

void HKURLSessionManager::URLSessionDataTaskDidBecomeDownloadTask(
    const Ref<NSURLSession>& session, const Ref<NSURLSessionDataTask>& dataTask,
    const Ref<NSURLSessionDownloadTask>& downloadTask) {
    if (auto delegate = delegateForTask(dataTask)) {
        removeDelegateForTask(dataTask);
        setDelegate(delegate, downloadTask);
    }
    if (auto block = blocks().dataTaskDidBecomeDownloadTask) block(session, dataTask, downloadTask);
}

void HKURLSessionManager::URLSessionDataTaskDidReceiveData(const Ref<NSURLSession>& session,
                                                           const Ref<NSURLSessionDataTask>& dataTask,
                                                           const NSData& data) {
    if (auto delegate = delegateForTask(dataTask)) delegate->URLSessionDataTaskDidReceiveData(dataTask, data);
    if (auto block = blocks().dataTaskDidReceiveData) block(session, dataTask, data);
}

void HKURLSessionManager::URLSessionDataTaskWillCacheResponse(
    const Ref<NSURLSession>& session, const Ref<NSURLSessionDataTask>& dataTask,
    const Ref<NSCachedURLResponse>& proposedResponse,
    std::function<void(const Ref<NSCachedURLResponse>&)> completionHandler) {
    Ref<NSCachedURLResponse> cached = proposedResponse;
    if (auto block = blocks().dataTaskWillCacheResponse) cached = block(session, dataTask, proposedResponse);
    if (completionHandler) completionHandler(cached);
}

void HKURLSessionManager::URLSessionDownloadTaskDidFinishDownloadingToURL(
    const Ref<NSURLSession>& session, const Ref<NSURLSessionDownloadTask>& downloadTask,
    const Ref<NSURL>& location) {
    auto delegate = delegateForTask(downloadTask);
    if (auto block = blocks().downloadTaskDidFinishDownloading) {
        if (auto destination = block(session, downloadTask, location)) {
            Ref<NSError> error;
            if (NSFileManager::defaultManager()->moveItemAtURL(location, destination, &error)) {
                if (delegate) delegate->setDownloadFileURL(destination);
            } else {
                if (delegate) delegate->setMoveError(error);
                NSNotificationCenter::defaultCenter()->postNotificationName(
                    HKURLSessionDownloadTaskDidFailToMoveFileNotification, downloadTask,
                    error ? std::optional<Dictionary>(error->userInfo()) : std::nullopt);
            }
            return;
        }
    }
    if (delegate) delegate->URLSessionDownloadTaskDidFinishDownloadingToURL(session, downloadTask, location);
}

void HKURLSessionManager::URLSessionDownloadTaskDidWriteData(
    const Ref<NSURLSession>& session, const Ref<NSURLSessionDownloadTask>& downloadTask,
    std::int64_t bytesWritten, std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) {
    if (auto delegate = delegateForTask(downloadTask)) {
        delegate->URLSessionDownloadTaskDidWriteData(totalBytesWritten, totalBytesExpectedToWrite);
    }
    if (auto block = blocks().downloadTaskDidWriteData) {
        block(session, downloadTask, bytesWritten, totalBytesWritten, totalBytesExpectedToWrite);
    }
}

void HKURLSessionManager::URLSessionDownloadTaskDidResumeAtOffset(
    const Ref<NSURLSession>& session, const Ref<NSURLSessionDownloadTask>& downloadTask,
    std::int64_t fileOffset, std::int64_t expectedTotalBytes) {
    if (auto delegate = delegateForTask(downloadTask)) {
        delegate->URLSessionDownloadTaskDidResumeAtOffset(fileOffset, expectedTotalBytes);
    }
    if (auto block = blocks().downloadTaskDidResume)
        block(session, downloadTask, fileOffset, expectedTotalBytes);
}
