#pragma once
// The URL session delegate protocols: what a session tells the object it was made with about
// itself and its tasks. Every callback runs on the session's delegate queue, one at a time.
//
//   NSURLSessionDelegate          the session became invalid; connection-level challenges
//                                 (server trust); background events finished
//   NSURLSessionTaskDelegate      redirects, task challenges, new body streams, upload progress,
//                                 completion
//   NSURLSessionDataDelegate      the response (with its disposition), body bytes, caching, a data
//                                 task turned into a download task
//   NSURLSessionDownloadDelegate  the finished file (required), download progress, a resumed
//                                 download's offset
//
// Optional methods that answer through a completion handler come with an `implements...()`
// answering false by default; the session takes its own default path for them unless the
// delegate says it implements them. Such a completion must be called before the method returns,
// except the challenge completions, which may be called later from any thread (the connection
// waits for them). Tasks made with a completion handler report their bytes and their end to
// that handler instead of the data, download and completion callbacks.

#include <cstdint>
#include <functional>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/NSStream.h"
#include "foundation/NSURL.h"
#include "network/NSURLAuthenticationChallenge.h"
#include "network/NSURLCache.h"
#include "network/NSURLCredential.h"
#include "network/NSURLRequest.h"
#include "network/NSURLResponse.h"

class NSURLSession;
class NSURLSessionTask;
class NSURLSessionDataTask;
class NSURLSessionDownloadTask;

enum NSURLSessionAuthChallengeDisposition : long {
    NSURLSessionAuthChallengeUseCredential = 0,
    NSURLSessionAuthChallengePerformDefaultHandling = 1,
    NSURLSessionAuthChallengeCancelAuthenticationChallenge = 2,
    NSURLSessionAuthChallengeRejectProtectionSpace = 3,
};

enum NSURLSessionResponseDisposition : long {
    NSURLSessionResponseCancel = 0,
    NSURLSessionResponseAllow = 1,
    NSURLSessionResponseBecomeDownload = 2,
};

using NSURLSessionChallengeCompletion = std::function<void(NSURLSessionAuthChallengeDisposition disposition,
                                                           const Ref<NSURLCredential>& credential)>;

class NSURLSessionDelegate {
  public:
    virtual ~NSURLSessionDelegate() = default;
    // URLSession:didBecomeInvalidWithError: — the last callback the session sends.
    virtual void URLSessionDidBecomeInvalidWithError(const Ref<NSURLSession>& session,
                                                     const Ref<NSError>& error) {}
    // URLSession:didReceiveChallenge:completionHandler: (server trust when no task delegate
    // answers the challenge).
    virtual void URLSessionDidReceiveChallenge(const Ref<NSURLSession>& session,
                                               const Ref<NSURLAuthenticationChallenge>& challenge,
                                               NSURLSessionChallengeCompletion completionHandler) {
        if (completionHandler) completionHandler(NSURLSessionAuthChallengePerformDefaultHandling, nullptr);
    }
    virtual bool implementsURLSessionDidReceiveChallenge() const { return false; }
    // URLSessionDidFinishEventsForBackgroundURLSession:
    virtual void URLSessionDidFinishEventsForBackgroundURLSession(const Ref<NSURLSession>& session) {}
    virtual bool implementsURLSessionDidFinishEventsForBackgroundURLSession() const { return false; }
};

class NSURLSessionTaskDelegate : public virtual NSURLSessionDelegate {
  public:
    // URLSession:task:willPerformHTTPRedirection:newRequest:completionHandler: — answer the
    // request to follow, or nullptr to stop and take the redirect reply as the final one.
    virtual void URLSessionTaskWillPerformHTTPRedirection(
        const Ref<NSURLSession>& session, const Ref<NSURLSessionTask>& task,
        const Ref<NSHTTPURLResponse>& response, const Ref<NSURLRequest>& request,
        std::function<void(const Ref<NSURLRequest>&)> completionHandler) {
        if (completionHandler) completionHandler(request);
    }
    virtual bool implementsURLSessionTaskWillPerformHTTPRedirection() const { return false; }
    // URLSession:task:didReceiveChallenge:completionHandler:
    virtual void URLSessionTaskDidReceiveChallenge(const Ref<NSURLSession>& session,
                                                   const Ref<NSURLSessionTask>& task,
                                                   const Ref<NSURLAuthenticationChallenge>& challenge,
                                                   NSURLSessionChallengeCompletion completionHandler) {
        if (completionHandler) completionHandler(NSURLSessionAuthChallengePerformDefaultHandling, nullptr);
    }
    virtual bool implementsURLSessionTaskDidReceiveChallenge() const { return false; }
    // URLSession:task:needNewBodyStream: — a fresh stream with the same body, or nullptr.
    virtual void
    URLSessionTaskNeedNewBodyStream(const Ref<NSURLSession>& session, const Ref<NSURLSessionTask>& task,
                                    std::function<void(const Ref<NSInputStream>&)> completionHandler) {
        if (completionHandler) completionHandler(nullptr);
    }
    virtual bool implementsURLSessionTaskNeedNewBodyStream() const { return false; }
    // URLSession:task:didSendBodyData:totalBytesSent:totalBytesExpectedToSend: (the total is
    // NSURLSessionTransferSizeUnknown when the body's length is not known).
    virtual void URLSessionTaskDidSendBodyData(const Ref<NSURLSession>& session,
                                               const Ref<NSURLSessionTask>& task, std::int64_t bytesSent,
                                               std::int64_t totalBytesSent,
                                               std::int64_t totalBytesExpectedToSend) {}
    // URLSession:task:didCompleteWithError: — nullptr on success.
    virtual void URLSessionTaskDidCompleteWithError(const Ref<NSURLSession>& session,
                                                    const Ref<NSURLSessionTask>& task,
                                                    const Ref<NSError>& error) {}
};

class NSURLSessionDataDelegate : public virtual NSURLSessionTaskDelegate {
  public:
    // URLSession:dataTask:didReceiveResponse:completionHandler:
    virtual void URLSessionDataTaskDidReceiveResponse(
        const Ref<NSURLSession>& session, const Ref<NSURLSessionDataTask>& dataTask,
        const Ref<NSURLResponse>& response,
        std::function<void(NSURLSessionResponseDisposition)> completionHandler) {
        if (completionHandler) completionHandler(NSURLSessionResponseAllow);
    }
    virtual bool implementsURLSessionDataTaskDidReceiveResponse() const { return false; }
    // URLSession:dataTask:didBecomeDownloadTask:
    virtual void URLSessionDataTaskDidBecomeDownloadTask(const Ref<NSURLSession>& session,
                                                         const Ref<NSURLSessionDataTask>& dataTask,
                                                         const Ref<NSURLSessionDownloadTask>& downloadTask) {}
    // URLSession:dataTask:didReceiveData:
    virtual void URLSessionDataTaskDidReceiveData(const Ref<NSURLSession>& session,
                                                  const Ref<NSURLSessionDataTask>& dataTask,
                                                  const NSData& data) {}
    // URLSession:dataTask:willCacheResponse:completionHandler: — the response to store, or
    // nullptr for none.
    virtual void URLSessionDataTaskWillCacheResponse(
        const Ref<NSURLSession>& session, const Ref<NSURLSessionDataTask>& dataTask,
        const Ref<NSCachedURLResponse>& proposedResponse,
        std::function<void(const Ref<NSCachedURLResponse>&)> completionHandler) {
        if (completionHandler) completionHandler(proposedResponse);
    }
    virtual bool implementsURLSessionDataTaskWillCacheResponse() const { return false; }
};

class NSURLSessionDownloadDelegate : public virtual NSURLSessionTaskDelegate {
  public:
    // URLSession:downloadTask:didFinishDownloadingToURL: — the file is removed once this returns,
    // so move or read it here.
    virtual void
    URLSessionDownloadTaskDidFinishDownloadingToURL(const Ref<NSURLSession>& session,
                                                    const Ref<NSURLSessionDownloadTask>& downloadTask,
                                                    const Ref<NSURL>& location) = 0;
    // URLSession:downloadTask:didWriteData:totalBytesWritten:totalBytesExpectedToWrite:
    virtual void URLSessionDownloadTaskDidWriteData(const Ref<NSURLSession>& session,
                                                    const Ref<NSURLSessionDownloadTask>& downloadTask,
                                                    std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                                    std::int64_t totalBytesExpectedToWrite) {}
    // URLSession:downloadTask:didResumeAtOffset:expectedTotalBytes:
    virtual void URLSessionDownloadTaskDidResumeAtOffset(const Ref<NSURLSession>& session,
                                                         const Ref<NSURLSessionDownloadTask>& downloadTask,
                                                         std::int64_t fileOffset,
                                                         std::int64_t expectedTotalBytes) {}
};
