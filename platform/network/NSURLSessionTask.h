#pragma once
// Session tasks: one load each, made by a URL session (network/NSURLSession.h), which reports it
// to its delegate or to the completion handler the task was made with.
//
//   NSURLSessionDataTask      the body arrives in memory (to the delegate, or collected for the
//                             completion handler)
//   NSURLSessionUploadTask    a data task whose request body comes from data, a file or a stream
//   NSURLSessionDownloadTask  the body goes to a temporary file, handed over when the load ends
//                             and removed right after; a cancelled or failed download may leave
//                             resume data that a new task continues from with a byte range
//
// Life cycle: a task is made suspended and loads only once resumed.
//
//   suspended --resume--> running --suspend--> suspended --resume--> running ...
//   any state but completed --cancel--> cancelling --> completed (error -999)
//   running --load ends or fails--> completed
//
// While a task is suspended its callbacks are held back and delivered in order once it resumes
// (authentication challenges excepted: the connection waits for them). After cancel() the task
// sends nothing but its completion with NSURLErrorCancelled. Its "state", "countOfBytesSent",
// "countOfBytesReceived", "countOfBytesExpectedToSend" and "countOfBytesExpectedToReceive" are
// observable; changes are announced on the thread that makes them (the delegate queue for byte
// counts).
//
// resume() and suspend() run the hooks installed with addResumeHook / addSuspendHook around the
// task's own implementation, in the order installed (the first is the outermost). A hook calls
// `proceed` to run the rest of the chain; this is how a library wraps every task's resume and
// suspend.
//
// Thread safety: every public member may be called from any thread.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/NSStream.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"
#include "network/NSURLAuthenticationChallenge.h"
#include "network/NSURLCache.h"
#include "network/NSURLRequest.h"
#include "network/NSURLResponse.h"

class NSURLSession;
class NSURLConnection;
class NSURLSessionDataTask;
class NSURLSessionDownloadTask;

enum NSURLSessionTaskState : long {
    NSURLSessionTaskStateRunning = 0,
    NSURLSessionTaskStateSuspended = 1,
    NSURLSessionTaskStateCanceling = 2,
    NSURLSessionTaskStateCompleted = 3,
};

// A byte count that is not known.
inline constexpr std::int64_t NSURLSessionTransferSizeUnknown = -1;
// The user-info key of a failed download's error under which its resume data is, when it has some.
inline constexpr char NSURLSessionDownloadTaskResumeData[] = "NSURLSessionDownloadTaskResumeData";

namespace detail {

// What a task is made from; the session fills it in.
struct SessionTaskSeed {
    enum class Kind { Data, Upload, Download };
    enum class Body { None, Data, File, Stream };

    Ref<NSURLSession> session;
    unsigned long identifier = 0;
    Kind kind = Kind::Data;
    Ref<NSURLRequest> originalRequest;
    // The request as the session sends it (its configuration applied).
    Ref<NSURLRequest> request;
    Body body = Body::None;
    std::optional<NSData> bodyData;
    Ref<NSURL> bodyFile;
    // A download continued from resume data (checked when the task starts).
    std::optional<NSData> resumeData;
    std::function<void(const std::optional<NSData>&, const Ref<NSURLResponse>&, const Ref<NSError>&)>
        dataCompletion;
    std::function<void(const Ref<NSURL>&, const Ref<NSURLResponse>&, const Ref<NSError>&)> downloadCompletion;
};

// Resume data: where a download stopped, in this layer's own format (an XML property list). The
// temporary file must sit in the temporary directory under this layer's own file-name prefix, so
// that resume data from elsewhere cannot make a task write to any other file.
struct DownloadResumeInfo {
    std::string URL;
    std::int64_t bytesReceived = 0;
    std::string localPath;
    std::optional<std::string> entityTag;
    std::optional<std::string> lastModified;
    // The header fields of the original request.
    Dictionary headers = Dictionary::mutableDictionary();
};
std::optional<NSData> encodeDownloadResumeInfo(const DownloadResumeInfo& info);
// nullopt, with the reason in the slot, for anything that is not resume data of this layer.
std::optional<DownloadResumeInfo> decodeDownloadResumeInfo(const NSData& data, std::string* reason = nullptr);
// A fresh path for a download's temporary file.
std::string makeDownloadTemporaryPath();
// Whether a path is one that makeDownloadTemporaryPath could have made.
bool isDownloadTemporaryPath(const std::string& path);

class SessionTaskBridge;

}  // namespace detail

class NSURLSessionTask : public NSObject {
  public:
    using MethodHook =
        std::function<void(const Ref<NSURLSessionTask>& task, const std::function<void()>& proceed)>;

    explicit NSURLSessionTask(detail::SessionTaskSeed seed);
    ~NSURLSessionTask() override;
    std::string className() const override { return "NSURLSessionTask"; }
    std::string description() const override;

    // Unique within the task's session, from 1.
    unsigned long taskIdentifier() const { return identifier_; }
    // The request the task was made with.
    Ref<NSURLRequest> originalRequest() const { return originalRequest_; }
    // The request being loaded: the session's settings applied, redirects followed.
    Ref<NSURLRequest> currentRequest() const;
    // The last response received; nullptr before one.
    Ref<NSURLResponse> response() const;
    // Set when the task completed with an error.
    Ref<NSError> error() const;
    std::optional<std::string> taskDescription() const;
    void setTaskDescription(std::optional<std::string> description);
    NSURLSessionTaskState state() const;

    std::int64_t countOfBytesReceived() const { return received_.load(); }
    std::int64_t countOfBytesSent() const { return sent_.load(); }
    // NSURLSessionTransferSizeUnknown when not known.
    std::int64_t countOfBytesExpectedToSend() const { return expectedToSend_.load(); }
    std::int64_t countOfBytesExpectedToReceive() const { return expectedToReceive_.load(); }

    void resume();
    void suspend();
    void cancel();

    static void addResumeHook(MethodHook hook);
    static void addSuspendHook(MethodHook hook);
    // Removes every hook (for tests).
    static void removeAllHooks();

    Value valueForKey(const std::string& key) const override;

  protected:
    using Kind = detail::SessionTaskSeed::Kind;
    Kind kind() const { return kind_; }
    // Cancels; the download form produces resume data when it can.
    void cancelProducingResumeData(std::function<void(const std::optional<NSData>&)> handler);

  private:
    friend class detail::SessionTaskBridge;
    friend class NSURLSession;
    using Body = detail::SessionTaskSeed::Body;

    void resumeImplementation();
    void suspendImplementation();
    // Runs the hooks around the implementation.
    void runHooked(bool resuming);
    // Sets the state with its announcement; false (and nothing announced) when the current state
    // is not one of `from`.
    bool changeState(NSURLSessionTaskState to, std::initializer_list<NSURLSessionTaskState> from);
    void setCount(std::atomic<std::int64_t>& field, const char* key, std::int64_t value);

    Ref<NSURLSession> owningSession() const;
    void startLoading();
    Ref<NSURLRequest> prepareRequest(Ref<NSError>* error);
    // Runs an event now, or holds it while the task is suspended or older events wait. Delegate
    // queue only.
    void deliver(std::function<void()> event);
    void scheduleReplay();
    void replayHeld();
    bool isOver() const;

    // Events, on the delegate queue.
    void handleChallenge(const Ref<NSURLAuthenticationChallenge>& challenge);
    std::optional<Ref<NSURLRequest>> handleRedirect(const Ref<NSURLRequest>& request,
                                                    const Ref<NSURLResponse>& redirectResponse);
    std::optional<Ref<NSInputStream>> handleNeedNewBodyStream();
    std::optional<Ref<NSCachedURLResponse>> handleWillCache(const Ref<NSCachedURLResponse>& proposed);
    void handleSentBodyData(std::int64_t bytesSent, std::int64_t totalSent, std::int64_t totalExpected);
    void handleResponse(const Ref<NSURLResponse>& response);
    void handleData(const NSData& data);
    void handleFinished(const Ref<NSError>& error);
    // Stops a load whose collected body passed the in-memory bound and completes with its error.
    void refuseOversizedBody();
    // The end of the task: its file handed over, its state completed, its completion sent.
    void complete(Ref<NSError> error);
    // Takes over a data task's load as this download task.
    void adoptLoad(const Ref<NSURLSessionTask>& dataTask);

    // Download helpers.
    bool openDownloadFile(const Ref<NSURLResponse>& response, Ref<NSError>* error);
    void closeDownloadFile();
    void removeDownloadFile();
    std::optional<NSData> makeResumeData();

    const unsigned long identifier_;
    const Kind kind_;
    const Ref<NSURLRequest> originalRequest_;

    mutable std::mutex mutex_;              // guards the fields below that are not atomic
    std::recursive_mutex transitionMutex_;  // serialises state changes with their announcements
    Ref<NSURLSession> session_;             // until the task completes
    Weak<NSURLSession> weakSession_;
    Ref<NSURLRequest> currentRequest_;
    Ref<NSURLResponse> response_;
    Ref<NSError> error_;
    std::optional<std::string> taskDescription_;
    NSURLSessionTaskState state_ = NSURLSessionTaskStateSuspended;
    bool started_ = false;
    bool completionSent_ = false;
    Ref<NSURLConnection> connection_;
    std::shared_ptr<detail::SessionTaskBridge> bridge_;
    std::deque<std::function<void()>> held_;
    bool replayScheduled_ = false;
    Body body_;
    std::optional<NSData> bodyData_;
    Ref<NSURL> bodyFile_;
    std::optional<NSData> resumeData_;
    std::function<void(const std::optional<NSData>&, const Ref<NSURLResponse>&, const Ref<NSError>&)>
        dataCompletion_;
    std::function<void(const Ref<NSURL>&, const Ref<NSURLResponse>&, const Ref<NSError>&)>
        downloadCompletion_;
    std::function<void(const std::optional<NSData>&)> resumeDataHandler_;

    // Delegate queue only.
    NSData collected_;
    std::FILE* file_ = nullptr;
    std::string filePath_;
    bool fileFailed_ = false;
    std::int64_t resumeOffset_ = 0;  // bytes already in the file when a resumed load began
    std::int64_t requestedOffset_ = 0;
    bool keepFile_ = false;

    std::atomic<std::int64_t> received_{0};
    std::atomic<std::int64_t> sent_{0};
    std::atomic<std::int64_t> expectedToSend_{NSURLSessionTransferSizeUnknown};
    std::atomic<std::int64_t> expectedToReceive_{NSURLSessionTransferSizeUnknown};
};

class NSURLSessionDataTask : public NSURLSessionTask {
  public:
    using NSURLSessionTask::NSURLSessionTask;
    std::string className() const override { return "NSURLSessionDataTask"; }
};

class NSURLSessionUploadTask : public NSURLSessionDataTask {
  public:
    using NSURLSessionDataTask::NSURLSessionDataTask;
    std::string className() const override { return "NSURLSessionUploadTask"; }
};

class NSURLSessionDownloadTask : public NSURLSessionTask {
  public:
    using NSURLSessionTask::NSURLSessionTask;
    std::string className() const override { return "NSURLSessionDownloadTask"; }

    // Cancels the download and calls the handler (on the delegate queue, before the task's
    // completion) with resume data, or nullopt when the load cannot be continued (nothing
    // received yet, no validator from the server, not a GET).
    void cancelByProducingResumeData(std::function<void(const std::optional<NSData>& resumeData)> handler) {
        cancelProducingResumeData(std::move(handler));
    }
};
