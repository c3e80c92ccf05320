#pragma once
// URL sessions: a family of tasks that share a configuration, a delegate and a delegate queue.
//
// A session is made with a configuration (copied), an optional delegate and an optional
// operation queue; without a queue it makes a serial one. Every delegate callback and every
// task completion handler runs on that queue, one at a time when the queue is serial (give a
// serial queue: callbacks of one task must not overlap). The session holds its delegate
// strongly until it becomes invalid.
//
// Tasks are made suspended (see network/NSURLSessionTask.h). Loading rides on the URL connection
// layer over the one libcurl transport, so caching, redirects, authentication challenges and
// server trust behave as they do for connections: a server-trust challenge goes to the task
// delegate when it answers challenges, else to the session delegate, else default handling.
//
// Invalidation: finishTasksAndInvalidate lets the outstanding tasks end; invalidateAndCancel
// cancels them. Either way the session makes no more tasks (factories answer nullptr) and, once
// the last outstanding task has completed, tells its delegate
// URLSessionDidBecomeInvalidWithError (nil error) and lets go of it. The shared session ignores
// both.
//
// Thread safety: every public member may be called from any thread.

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "foundation/NSOperationQueue.h"
#include "foundation/NSURL.h"
#include "network/NSURLRequest.h"
#include "network/NSURLSessionConfiguration.h"
#include "network/NSURLSessionDelegate.h"
#include "network/NSURLSessionTask.h"

class NSURLSession : public NSObject {
  public:
    using DataTaskCompletionHandler = std::function<void(
        const std::optional<NSData>& data, const Ref<NSURLResponse>& response, const Ref<NSError>& error)>;
    using DownloadTaskCompletionHandler = std::function<void(
        const Ref<NSURL>& location, const Ref<NSURLResponse>& response, const Ref<NSError>& error)>;
    using TasksHandler = std::function<void(const std::vector<Ref<NSURLSessionDataTask>>& dataTasks,
                                            const std::vector<Ref<NSURLSessionUploadTask>>& uploadTasks,
                                            const std::vector<Ref<NSURLSessionDownloadTask>>& downloadTasks)>;

    NSURLSession(const Ref<NSURLSessionConfiguration>& configuration, Ref<NSURLSessionDelegate> delegate,
                 Ref<NSOperationQueue> delegateQueue);
    ~NSURLSession() override;
    std::string className() const override { return "NSURLSession"; }
    std::string description() const override;

    // One session without a delegate for the whole process; never invalidated.
    static Ref<NSURLSession> sharedSession();
    static Ref<NSURLSession> sessionWithConfiguration(const Ref<NSURLSessionConfiguration>& configuration);
    static Ref<NSURLSession> sessionWithConfiguration(const Ref<NSURLSessionConfiguration>& configuration,
                                                      Ref<NSURLSessionDelegate> delegate,
                                                      Ref<NSOperationQueue> delegateQueue);

    // A copy of the configuration the session runs with.
    Ref<NSURLSessionConfiguration> configuration() const { return configuration_->copy(); }
    // nullptr once the session is invalid.
    Ref<NSURLSessionDelegate> delegate() const;
    Ref<NSOperationQueue> delegateQueue() const { return delegateQueue_; }
    std::optional<std::string> sessionDescription() const;
    void setSessionDescription(std::optional<std::string> description);

    // ---- tasks (nullptr once the session is invalidated, or for a request without a URL) -------
    Ref<NSURLSessionDataTask> dataTaskWithRequest(const Ref<NSURLRequest>& request);
    Ref<NSURLSessionDataTask> dataTaskWithRequest(const Ref<NSURLRequest>& request,
                                                  DataTaskCompletionHandler completionHandler);
    Ref<NSURLSessionDataTask> dataTaskWithURL(const Ref<NSURL>& url);
    Ref<NSURLSessionDataTask> dataTaskWithURL(const Ref<NSURL>& url,
                                              DataTaskCompletionHandler completionHandler);

    // The body comes from the file (its length as Content-Length); a missing file fails the task
    // with NSURLErrorFileDoesNotExist when it runs.
    Ref<NSURLSessionUploadTask> uploadTaskWithRequest(const Ref<NSURLRequest>& request,
                                                      const Ref<NSURL>& fileURL,
                                                      DataTaskCompletionHandler completionHandler = nullptr);
    Ref<NSURLSessionUploadTask> uploadTaskWithRequest(const Ref<NSURLRequest>& request,
                                                      const NSData& bodyData,
                                                      DataTaskCompletionHandler completionHandler = nullptr);
    // The body is the request's body stream; a load that must send it again (a redirect, an
    // authentication retry) asks the delegate for a new one.
    Ref<NSURLSessionUploadTask> uploadTaskWithStreamedRequest(const Ref<NSURLRequest>& request);

    Ref<NSURLSessionDownloadTask>
    downloadTaskWithRequest(const Ref<NSURLRequest>& request,
                            DownloadTaskCompletionHandler completionHandler = nullptr);
    Ref<NSURLSessionDownloadTask>
    downloadTaskWithURL(const Ref<NSURL>& url, DownloadTaskCompletionHandler completionHandler = nullptr);
    // Continues a cancelled or failed download. Data that is not resume data gives a task that
    // fails with NSURLErrorBadURL when it runs.
    Ref<NSURLSessionDownloadTask>
    downloadTaskWithResumeData(const NSData& resumeData,
                               DownloadTaskCompletionHandler completionHandler = nullptr);

    // The tasks that have not completed, on the delegate queue.
    void getTasksWithCompletionHandler(TasksHandler handler);

    void finishTasksAndInvalidate();
    void invalidateAndCancel();
    bool isInvalidated() const;

  private:
    friend class NSURLSessionTask;

    template <class T>
    Ref<T> makeTask(detail::SessionTaskSeed seed);
    // A task has completed: it leaves the outstanding set; the last one ends an invalidation.
    void taskDidComplete(const NSURLSessionTask* task);
    // A download task that takes over a data task's load.
    Ref<NSURLSessionDownloadTask> makeDownloadTaskAdopting(const Ref<NSURLSessionTask>& dataTask);
    void beginInvalidation(bool cancelTasks);
    void becomeInvalidIfDone();

    const Ref<NSURLSessionConfiguration> configuration_;
    const Ref<NSOperationQueue> delegateQueue_;
    bool shared_ = false;

    mutable std::mutex mutex_;  // guards what follows
    Ref<NSURLSessionDelegate> delegate_;
    std::optional<std::string> sessionDescription_;
    unsigned long nextIdentifier_ = 1;
    std::map<unsigned long, Ref<NSURLSessionTask>> outstanding_;
    bool invalidating_ = false;
    bool invalid_ = false;
};
