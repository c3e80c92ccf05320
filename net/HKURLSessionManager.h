#pragma once
// The session-based twin of the operation layer: one URL session, whose delegate the manager is,
// and one task delegate per task that collects the body, tracks progress and runs the caller's
// completion.
//
// Every factory creates its task on one serial creation queue (the caller waits for it) and
// answers it NOT resumed. When a task ends, its body is decoded by the response serialiser on a
// concurrent processing queue; the completion handler then runs on the completion queue (main by
// default) inside the completion group, and the "task.complete" notification follows on the main
// queue. Each session and task callback may be taken over or watched through a block.
//
// Notifications: every task's resume and suspend post the "nsurlsessiontask" pair synchronously
// (through the task class's resume/suspend hooks, installed once per process); the manager
// re-posts those of its own tasks (recognised by their task description) as "task.resume" and
// "task.suspend" on the main queue, which is what the network activity indicator counts. A
// resume posts only when it takes a suspended task to running, a suspend only when it takes a
// running task to suspended: a finished task resumed again never counts as a running request.
//
// A download whose file cannot be moved to its destination completes with the move error and no
// file URL (the file-manager-error notification is posted as well).
//
// Lifetime: the session holds the manager (its delegate) until the session is invalidated; the
// manager never invalidates it by itself. Call invalidateSessionCancelingTasks when done.
//
// Threads: delegate callbacks run one at a time on operationQueue (width 1). The delegate
// dictionary is guarded by `lock`; the settings and blocks by a mutex of their own; no lock is
// held while calling out. The task-list readers block until the delegate queue answers and must
// not be called on it.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSData.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSLock.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSObject.h"
#include "foundation/NSOperationQueue.h"
#include "net/HKNetworkActivityIndicatorManager.h"
#include "net/HKNetworkReachabilityManager.h"
#include "net/HKSecurityPolicy.h"
#include "net/HKURLResponseSerialization.h"
#include "network/NSURLSession.h"
#include "network/NSURLSessionProgress.h"

// Posted synchronously by every task's resume and suspend, with the task as sender.
inline constexpr char HKNSURLSessionTaskDidResumeNotification[] =
    "com.quentaro.networking.nsurlsessiontask.resume";
inline constexpr char HKNSURLSessionTaskDidSuspendNotification[] =
    "com.quentaro.networking.nsurlsessiontask.suspend";
// Posted on the delegate queue with the session as sender.
inline constexpr char HKURLSessionDidInvalidateNotification[] = "com.quentaro.networking.session.invalidate";
// Posted on the delegate queue with the download task as sender and the move error's user info.
inline constexpr char HKURLSessionDownloadTaskDidFailToMoveFileNotification[] =
    "com.quentaro.networking.session.download.file-manager-error";

// Keys of the "task.complete" notification's user info.
inline constexpr char HKNetworkingTaskDidCompleteResponseSerializerKey[] =
    "com.quentaro.networking.task.complete.responseserializer";
inline constexpr char HKNetworkingTaskDidCompleteAssetPathKey[] =
    "com.quentaro.networking.task.complete.assetpath";
inline constexpr char HKNetworkingTaskDidCompleteResponseDataKey[] =
    "com.quentaro.networking.complete.finish.responsedata";
inline constexpr char HKNetworkingTaskDidCompleteSerializedResponseKey[] =
    "com.quentaro.networking.task.complete.serializedresponse";
inline constexpr char HKNetworkingTaskDidCompleteErrorKey[] = "com.quentaro.networking.task.complete.error";

// The process-wide queues and group of the session managers.
dispatch_group_t HKSessionTaskCompletionGroup();
dispatch_queue_t HKSessionProcessingQueue();
dispatch_queue_t HKSessionCreationQueue();

class HKURLSessionManager;

// One per registered task: its body, its progress and the caller's blocks. Lives from
// registration until the task completes.
class HKURLSessionManagerTaskDelegate : public NSObject {
  public:
    using CompletionHandler = std::function<void(const Ref<NSURLResponse>& response,
                                                 const Value& responseObject, const Ref<NSError>& error)>;
    using DestinationBlock =
        std::function<Ref<NSURL>(const Ref<NSURLSession>& session, const Ref<NSURLSessionDownloadTask>& task,
                                 const Ref<NSURL>& location)>;

    HKURLSessionManagerTaskDelegate() : progress_(NSProgress::progressWithTotalUnitCount(0)) {}
    std::string className() const override { return "HKURLSessionManagerTaskDelegate"; }

    Ref<HKURLSessionManager> manager() const { return manager_.lock(); }
    void setManager(const Ref<HKURLSessionManager>& manager) { manager_ = manager; }
    // Body bytes received so far (delegate queue).
    const NSData& mutableData() const { return mutableData_; }
    const Ref<NSProgress>& progress() const { return progress_; }
    Ref<NSURL> downloadFileURL() const;
    void setDownloadFileURL(const Ref<NSURL>& url);
    void setDownloadTaskDidFinishDownloading(DestinationBlock block) { destination_ = std::move(block); }
    const DestinationBlock& downloadTaskDidFinishDownloading() const { return destination_; }
    void setCompletionHandler(CompletionHandler handler) { completionHandler_ = std::move(handler); }
    const CompletionHandler& completionHandler() const { return completionHandler_; }
    // A failed move of the downloaded file; it becomes the completion's error.
    void setMoveError(const Ref<NSError>& error);

    // Forwarded task callbacks (delegate queue).
    void URLSessionTaskDidCompleteWithError(const Ref<NSURLSession>& session,
                                            const Ref<NSURLSessionTask>& task, const Ref<NSError>& error);
    void URLSessionTaskDidSendBodyData(std::int64_t totalBytesSent, std::int64_t totalBytesExpected);
    // The body is collected for the serialiser; past NSURLMaximumInMemoryBodyLength the task is
    // cancelled and completes with NSURLErrorDataLengthExceedsMaximum.
    void URLSessionDataTaskDidReceiveData(const Ref<NSURLSessionTask>& task, const NSData& data);
    void URLSessionDownloadTaskDidFinishDownloadingToURL(const Ref<NSURLSession>& session,
                                                         const Ref<NSURLSessionDownloadTask>& task,
                                                         const Ref<NSURL>& location);
    void URLSessionDownloadTaskDidWriteData(std::int64_t totalBytesWritten, std::int64_t totalBytesExpected);
    void URLSessionDownloadTaskDidResumeAtOffset(std::int64_t fileOffset, std::int64_t expectedTotalBytes);

  private:
    Weak<HKURLSessionManager> manager_;
    NSData mutableData_;
    Ref<NSError> oversizedError_;  // set when the body outgrew the bound (delegate queue)
    Ref<NSProgress> progress_;
    mutable std::mutex mutex_;  // guards the URL and the move error
    Ref<NSURL> downloadFileURL_;
    Ref<NSError> moveError_;
    DestinationBlock destination_;
    CompletionHandler completionHandler_;
};

class HKURLSessionManager : public NSObject,
                            public NSURLSessionDataDelegate,
                            public NSURLSessionDownloadDelegate,
                            public NSSecureCoding {
  public:
    using CompletionHandler = HKURLSessionManagerTaskDelegate::CompletionHandler;
    using DownloadCompletionHandler = std::function<void(
        const Ref<NSURLResponse>& response, const Ref<NSURL>& filePath, const Ref<NSError>& error)>;
    using DestinationBlock =
        std::function<Ref<NSURL>(const Ref<NSURL>& targetPath, const Ref<NSURLResponse>& response)>;

    using SessionDidBecomeInvalidBlock = std::function<void(const Ref<NSURLSession>&, const Ref<NSError>&)>;
    using SessionDidReceiveAuthenticationChallengeBlock = std::function<NSURLSessionAuthChallengeDisposition(
        const Ref<NSURLSession>&, const Ref<NSURLAuthenticationChallenge>&,
        Ref<NSURLCredential>* credential)>;
    using DidFinishEventsForBackgroundURLSessionBlock = std::function<void(const Ref<NSURLSession>&)>;
    using TaskWillPerformHTTPRedirectionBlock =
        std::function<Ref<NSURLRequest>(const Ref<NSURLSession>&, const Ref<NSURLSessionTask>&,
                                        const Ref<NSURLResponse>&, const Ref<NSURLRequest>&)>;
    using TaskDidReceiveAuthenticationChallengeBlock = std::function<NSURLSessionAuthChallengeDisposition(
        const Ref<NSURLSession>&, const Ref<NSURLSessionTask>&, const Ref<NSURLAuthenticationChallenge>&,
        Ref<NSURLCredential>* credential)>;
    using TaskNeedNewBodyStreamBlock =
        std::function<Ref<NSInputStream>(const Ref<NSURLSession>&, const Ref<NSURLSessionTask>&)>;
    using TaskDidSendBodyDataBlock =
        std::function<void(const Ref<NSURLSession>&, const Ref<NSURLSessionTask>&, std::int64_t bytesSent,
                           std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend)>;
    using TaskDidCompleteBlock =
        std::function<void(const Ref<NSURLSession>&, const Ref<NSURLSessionTask>&, const Ref<NSError>&)>;
    using DataTaskDidReceiveResponseBlock = std::function<NSURLSessionResponseDisposition(
        const Ref<NSURLSession>&, const Ref<NSURLSessionDataTask>&, const Ref<NSURLResponse>&)>;
    using DataTaskDidBecomeDownloadTaskBlock = std::function<void(
        const Ref<NSURLSession>&, const Ref<NSURLSessionDataTask>&, const Ref<NSURLSessionDownloadTask>&)>;
    using DataTaskDidReceiveDataBlock =
        std::function<void(const Ref<NSURLSession>&, const Ref<NSURLSessionDataTask>&, const NSData&)>;
    using DataTaskWillCacheResponseBlock = std::function<Ref<NSCachedURLResponse>(
        const Ref<NSURLSession>&, const Ref<NSURLSessionDataTask>&, const Ref<NSCachedURLResponse>&)>;
    using DownloadTaskDidFinishDownloadingBlock = std::function<Ref<NSURL>(
        const Ref<NSURLSession>&, const Ref<NSURLSessionDownloadTask>&, const Ref<NSURL>& location)>;
    using DownloadTaskDidWriteDataBlock = std::function<void(
        const Ref<NSURLSession>&, const Ref<NSURLSessionDownloadTask>&, std::int64_t bytesWritten,
        std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite)>;
    using DownloadTaskDidResumeBlock =
        std::function<void(const Ref<NSURLSession>&, const Ref<NSURLSessionDownloadTask>&,
                           std::int64_t fileOffset, std::int64_t expectedTotalBytes)>;

    // initWithSessionConfiguration: (nil: the default configuration). The session is made in
    // didInit, which make<>() runs.
    explicit HKURLSessionManager(const Ref<NSURLSessionConfiguration>& configuration = nullptr);
    // initWithCoder: the configuration archived under "sessionConfiguration".
    explicit HKURLSessionManager(NSCoder& coder);
    ~HKURLSessionManager() override;
    void didInit();
    static bool supportsSecureCoding() { return true; }
    std::string className() const override { return "HKURLSessionManager"; }
    std::string description() const override;

    // ---- configuration ------------------------------------------------------------------------
    Ref<NSURLSession> session() const { return session_; }
    Ref<NSOperationQueue> operationQueue() const { return operationQueue_; }
    Ref<NSURLSessionConfiguration> sessionConfiguration() const { return sessionConfiguration_; }
    Ref<HKHTTPResponseSerializer> responseSerializer() const;
    virtual void setResponseSerializer(const Ref<HKHTTPResponseSerializer>& serializer);
    Ref<HKSecurityPolicy> securityPolicy() const;
    void setSecurityPolicy(const Ref<HKSecurityPolicy>& policy);
    Ref<HKNetworkReachabilityManager> reachabilityManager() const;
    void setReachabilityManager(const Ref<HKNetworkReachabilityManager>& manager);
    // Empty: the main queue / the shared completion group.
    dispatch_queue_t completionQueue() const;
    void setCompletionQueue(const dispatch_queue_t& queue);
    dispatch_group_t completionGroup() const;
    void setCompletionGroup(const dispatch_group_t& group);
    bool attemptsToRecreateUploadTasksForBackgroundSessions() const;
    void setAttemptsToRecreateUploadTasksForBackgroundSessions(bool value);
    // The manager's address as "%p"; stamped on every task it registers.
    const std::string& taskDescriptionForSessionTasks() const { return taskDescription_; }
    const Ref<NSLock>& lock() const { return lock_; }

    // The session's current tasks (see the header note on threads).
    std::vector<Ref<NSURLSessionTask>> tasks() const;
    std::vector<Ref<NSURLSessionTask>> dataTasks() const;
    std::vector<Ref<NSURLSessionTask>> uploadTasks() const;
    std::vector<Ref<NSURLSessionTask>> downloadTasks() const;
    // By property name; nullopt for any other name.
    std::optional<std::vector<Ref<NSURLSessionTask>>> tasksForKeyPath(const std::string& keyPath) const;

    // ---- task factories (tasks answered NOT resumed; nullptr when the session refuses) --------
    Ref<NSURLSessionDataTask> dataTaskWithRequest(const Ref<NSURLRequest>& request,
                                                  CompletionHandler completionHandler);
    Ref<NSURLSessionUploadTask> uploadTaskWithRequestFromFile(const Ref<NSURLRequest>& request,
                                                              const Ref<NSURL>& fileURL,
                                                              Ref<NSProgress>* progress,
                                                              CompletionHandler completionHandler);
    Ref<NSURLSessionUploadTask> uploadTaskWithRequestFromData(const Ref<NSURLRequest>& request,
                                                              const NSData& bodyData,
                                                              Ref<NSProgress>* progress,
                                                              CompletionHandler completionHandler);
    Ref<NSURLSessionUploadTask> uploadTaskWithStreamedRequest(const Ref<NSURLRequest>& request,
                                                              Ref<NSProgress>* progress,
                                                              CompletionHandler completionHandler);
    Ref<NSURLSessionDownloadTask> downloadTaskWithRequest(const Ref<NSURLRequest>& request,
                                                          Ref<NSProgress>* progress,
                                                          DestinationBlock destination,
                                                          DownloadCompletionHandler completionHandler);
    Ref<NSURLSessionDownloadTask> downloadTaskWithResumeData(const NSData& resumeData,
                                                             Ref<NSProgress>* progress,
                                                             DestinationBlock destination,
                                                             DownloadCompletionHandler completionHandler);

    // ---- task delegates -------------------------------------------------------------------------
    void addDelegateForDataTask(const Ref<NSURLSessionDataTask>& task, CompletionHandler completionHandler);
    void addDelegateForUploadTask(const Ref<NSURLSessionUploadTask>& task, Ref<NSProgress>* progress,
                                  CompletionHandler completionHandler);
    void addDelegateForDownloadTask(const Ref<NSURLSessionDownloadTask>& task, Ref<NSProgress>* progress,
                                    DestinationBlock destination, CompletionHandler completionHandler);
    void setDelegate(const Ref<HKURLSessionManagerTaskDelegate>& delegate, const Ref<NSURLSessionTask>& task);
    Ref<HKURLSessionManagerTaskDelegate> delegateForTask(const Ref<NSURLSessionTask>& task) const;
    void removeDelegateForTask(const Ref<NSURLSessionTask>& task);
    void removeAllDelegates();
    Ref<NSProgress> uploadProgressForTask(const Ref<NSURLSessionTask>& task) const;
    Ref<NSProgress> downloadProgressForTask(const Ref<NSURLSessionTask>& task) const;

    // Queues invalidateAndCancel (YES) or finishTasksAndInvalidate (NO) on the main queue.
    void invalidateSessionCancelingTasks(bool cancelPendingTasks);

    // ---- blocks ------------------------------------------------------------------------------------
    void setSessionDidBecomeInvalidBlock(SessionDidBecomeInvalidBlock block);
    void
    setSessionDidReceiveAuthenticationChallengeBlock(SessionDidReceiveAuthenticationChallengeBlock block);
    void setDidFinishEventsForBackgroundURLSessionBlock(DidFinishEventsForBackgroundURLSessionBlock block);
    void setTaskWillPerformHTTPRedirectionBlock(TaskWillPerformHTTPRedirectionBlock block);
    void setTaskDidReceiveAuthenticationChallengeBlock(TaskDidReceiveAuthenticationChallengeBlock block);
    void setTaskNeedNewBodyStreamBlock(TaskNeedNewBodyStreamBlock block);
    void setTaskDidSendBodyDataBlock(TaskDidSendBodyDataBlock block);
    void setTaskDidCompleteBlock(TaskDidCompleteBlock block);
    void setDataTaskDidReceiveResponseBlock(DataTaskDidReceiveResponseBlock block);
    void setDataTaskDidBecomeDownloadTaskBlock(DataTaskDidBecomeDownloadTaskBlock block);
    void setDataTaskDidReceiveDataBlock(DataTaskDidReceiveDataBlock block);
    void setDataTaskWillCacheResponseBlock(DataTaskWillCacheResponseBlock block);
    void setDownloadTaskDidFinishDownloadingBlock(DownloadTaskDidFinishDownloadingBlock block);
    void setDownloadTaskDidWriteDataBlock(DownloadTaskDidWriteDataBlock block);
    void setDownloadTaskDidResumeBlock(DownloadTaskDidResumeBlock block);

    // Whether the manager answers a delegate selector: the four optional callbacks only while their
    // block is set; every other callback of the delegate protocols always; unknown names never.
    bool respondsToSelector(std::string_view selector) const;

    // ---- notification handlers -------------------------------------------------------------------
    void taskDidResume(const Ref<NSNotification>& notification);
    void taskDidSuspend(const Ref<NSNotification>& notification);

    // ---- coding and copying ------------------------------------------------------------------------
    void encodeWithCoder(NSCoder& coder) const override;
    // A new manager of the same class with the session's configuration; nothing else is copied.
    Ref<NSObject> copyObject() const override;

    // ---- session delegate (delegate queue) ---------------------------------------------------------
    void URLSessionDidBecomeInvalidWithError(const Ref<NSURLSession>& session,
                                             const Ref<NSError>& error) override;
    void URLSessionDidReceiveChallenge(const Ref<NSURLSession>& session,
                                       const Ref<NSURLAuthenticationChallenge>& challenge,
                                       NSURLSessionChallengeCompletion completionHandler) override;
    bool implementsURLSessionDidReceiveChallenge() const override { return true; }
    void URLSessionDidFinishEventsForBackgroundURLSession(const Ref<NSURLSession>& session) override;
    bool implementsURLSessionDidFinishEventsForBackgroundURLSession() const override;
    void URLSessionTaskWillPerformHTTPRedirection(
        const Ref<NSURLSession>& session, const Ref<NSURLSessionTask>& task,
        const Ref<NSHTTPURLResponse>& response, const Ref<NSURLRequest>& request,
        std::function<void(const Ref<NSURLRequest>&)> completionHandler) override;
    bool implementsURLSessionTaskWillPerformHTTPRedirection() const override;
    void URLSessionTaskDidReceiveChallenge(const Ref<NSURLSession>& session,
                                           const Ref<NSURLSessionTask>& task,
                                           const Ref<NSURLAuthenticationChallenge>& challenge,
                                           NSURLSessionChallengeCompletion completionHandler) override;
    bool implementsURLSessionTaskDidReceiveChallenge() const override { return true; }
    void URLSessionTaskNeedNewBodyStream(
        const Ref<NSURLSession>& session, const Ref<NSURLSessionTask>& task,
        std::function<void(const Ref<NSInputStream>&)> completionHandler) override;
    bool implementsURLSessionTaskNeedNewBodyStream() const override { return true; }
    void URLSessionTaskDidSendBodyData(const Ref<NSURLSession>& session, const Ref<NSURLSessionTask>& task,
                                       std::int64_t bytesSent, std::int64_t totalBytesSent,
                                       std::int64_t totalBytesExpectedToSend) override;
    void URLSessionTaskDidCompleteWithError(const Ref<NSURLSession>& session,
                                            const Ref<NSURLSessionTask>& task,
                                            const Ref<NSError>& error) override;
    void URLSessionDataTaskDidReceiveResponse(
        const Ref<NSURLSession>& session, const Ref<NSURLSessionDataTask>& dataTask,
        const Ref<NSURLResponse>& response,
        std::function<void(NSURLSessionResponseDisposition)> completionHandler) override;
    bool implementsURLSessionDataTaskDidReceiveResponse() const override;
    void URLSessionDataTaskDidBecomeDownloadTask(const Ref<NSURLSession>& session,
                                                 const Ref<NSURLSessionDataTask>& dataTask,
                                                 const Ref<NSURLSessionDownloadTask>& downloadTask) override;
    void URLSessionDataTaskDidReceiveData(const Ref<NSURLSession>& session,
                                          const Ref<NSURLSessionDataTask>& dataTask,
                                          const NSData& data) override;
    void URLSessionDataTaskWillCacheResponse(
        const Ref<NSURLSession>& session, const Ref<NSURLSessionDataTask>& dataTask,
        const Ref<NSCachedURLResponse>& proposedResponse,
        std::function<void(const Ref<NSCachedURLResponse>&)> completionHandler) override;
    bool implementsURLSessionDataTaskWillCacheResponse() const override;
    void URLSessionDownloadTaskDidFinishDownloadingToURL(const Ref<NSURLSession>& session,
                                                         const Ref<NSURLSessionDownloadTask>& downloadTask,
                                                         const Ref<NSURL>& location) override;
    void URLSessionDownloadTaskDidWriteData(const Ref<NSURLSession>& session,
                                            const Ref<NSURLSessionDownloadTask>& downloadTask,
                                            std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                            std::int64_t totalBytesExpectedToWrite) override;
    void URLSessionDownloadTaskDidResumeAtOffset(const Ref<NSURLSession>& session,
                                                 const Ref<NSURLSessionDownloadTask>& downloadTask,
                                                 std::int64_t fileOffset,
                                                 std::int64_t expectedTotalBytes) override;

  private:
    struct Blocks {
        SessionDidBecomeInvalidBlock sessionDidBecomeInvalid;
        SessionDidReceiveAuthenticationChallengeBlock sessionDidReceiveAuthenticationChallenge;
        DidFinishEventsForBackgroundURLSessionBlock didFinishEventsForBackgroundURLSession;
        TaskWillPerformHTTPRedirectionBlock taskWillPerformHTTPRedirection;
        TaskDidReceiveAuthenticationChallengeBlock taskDidReceiveAuthenticationChallenge;
        TaskNeedNewBodyStreamBlock taskNeedNewBodyStream;
        TaskDidSendBodyDataBlock taskDidSendBodyData;
        TaskDidCompleteBlock taskDidComplete;
        DataTaskDidReceiveResponseBlock dataTaskDidReceiveResponse;
        DataTaskDidBecomeDownloadTaskBlock dataTaskDidBecomeDownloadTask;
        DataTaskDidReceiveDataBlock dataTaskDidReceiveData;
        DataTaskWillCacheResponseBlock dataTaskWillCacheResponse;
        DownloadTaskDidFinishDownloadingBlock downloadTaskDidFinishDownloading;
        DownloadTaskDidWriteDataBlock downloadTaskDidWriteData;
        DownloadTaskDidResumeBlock downloadTaskDidResume;
    };
    Blocks blocks() const;
    template <class F>
    void setBlock(F Blocks::*field, F block);
    // The disposition for a server-trust challenge judged by the security policy.
    NSURLSessionAuthChallengeDisposition judgeServerTrust(const Ref<NSURLAuthenticationChallenge>& challenge,
                                                          Ref<NSURLCredential>* credential,
                                                          bool alwaysUseCredential) const;
    static std::int64_t contentLengthOf(const Ref<NSURLRequest>& request);

    const Ref<NSURLSessionConfiguration> sessionConfiguration_;
    Ref<NSOperationQueue> operationQueue_;
    Ref<NSURLSession> session_;
    std::string taskDescription_;
    Ref<NSLock> lock_;
    std::unordered_map<unsigned long, Ref<HKURLSessionManagerTaskDelegate>>
        mutableTaskDelegatesKeyedByTaskIdentifier_;

    mutable std::mutex settingsMutex_;  // guards what follows
    Ref<HKHTTPResponseSerializer> responseSerializer_;
    Ref<HKSecurityPolicy> securityPolicy_;
    Ref<HKNetworkReachabilityManager> reachabilityManager_;
    dispatch_queue_t completionQueue_;
    dispatch_group_t completionGroup_;
    bool attemptsToRecreateUploadTasks_ = false;
    Blocks blocks_;
};

namespace detail {
// Installs, once per process, the task resume and suspend hooks that post the
// "nsurlsessiontask" notifications.
void HKInstallSessionTaskStateHooks();
}  // namespace detail
