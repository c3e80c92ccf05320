#pragma once
// The HTTP client's unit of work: an operation that runs one URL request over a URL connection
// and collects the response and its body.
//
// Every connection of every operation is driven by one process-wide thread, "HKNetworking",
// whose run loop never ends; the public methods may be called from any thread and hand the
// connection work over to it. The operation is concurrent: it finishes when its connection does,
// and announces its state ("isReady", "isExecuting", "isFinished", "isPaused") to observers, which
// is how operation queues and dependants learn of it.
//
//   ready --start--> executing --load ends, fails or is cancelled--> finished
//   ready or executing --pause--> paused --resume--> ready (and started again)
//
// A cancelled operation that is started finishes with NSURLErrorDomain -999 without opening a
// connection. Server trust is judged by the security policy during the TLS handshake, before
// any byte of the request leaves; a refused chain fails the load. Redirects are answered one by
// one (the redirect block, or follow). Invalid state changes are ignored.
//
// A body collected in the default memory stream is bounded (NSURLMaximumInMemoryBodyLength): a
// longer one fails the load with NSURLErrorDataLengthExceedsMaximum. A stream set by the caller
// takes the body whatever its length.
//
// Threads: connection callbacks, operationDidStart, operationDidPause and cancelConnection run on
// the network thread; progress blocks, the byte count and the start and finish notifications on
// the main queue; the completion block on the completion queue (main by default) inside the
// completion group. The operation's recursive lock guards its state and every field below that
// more than one thread touches.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSError.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSLock.h"
#include "foundation/NSOperation.h"
#include "foundation/NSStream.h"
#include "foundation/NSString.h"
#include "foundation/NSThread.h"
#include "foundation/Value.h"
#include "net/HKSecurityPolicy.h"
#include "network/NSURLConnection.h"
#include "network/NSURLCredential.h"
#include "network/NSURLRequest.h"
#include "network/NSURLResponse.h"

enum HKConnectionOperationState : std::int64_t {
    HKOperationPausedState = -1,
    HKOperationReadyState = 1,
    HKOperationExecutingState = 2,
    HKOperationFinishedState = 3,
};

// Posted on the main queue with the operation as sender.
inline constexpr char HKNetworkingOperationDidStartNotification[] = "com.quentaro.networking.operation.start";
inline constexpr char HKNetworkingOperationDidFinishNotification[] =
    "com.quentaro.networking.operation.finish";

// The group completion blocks run in when an operation has none, and the queue on which a
// finished operation lets go of its completion block.
dispatch_group_t HKURLConnectionOperationCompletionGroup();
dispatch_queue_t HKURLConnectionOperationCompletionQueue();

class HKURLConnectionOperation : public NSOperation,
                                 public NSURLConnectionDataDelegate,
                                 public NSSecureCoding {
  public:
    using UploadProgressBlock = std::function<void(std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                                   std::int64_t totalBytesExpected)>;
    using DownloadProgressBlock = std::function<void(std::uint64_t bytesRead, std::int64_t totalBytesRead,
                                                     std::int64_t totalBytesExpected)>;
    using AuthenticationChallengeBlock = std::function<void(
        const Ref<NSURLConnection>& connection, const Ref<NSURLAuthenticationChallenge>& challenge)>;
    // The response to cache, or nullptr for none.
    using CacheResponseBlock = std::function<Ref<NSCachedURLResponse>(
        const Ref<NSURLConnection>& connection, const Ref<NSCachedURLResponse>& cachedResponse)>;
    // The request to follow, or nullptr to stop at the redirect.
    using RedirectResponseBlock = std::function<Ref<NSURLRequest>(
        const Ref<NSURLConnection>& connection, const Ref<NSURLRequest>& request,
        const Ref<NSURLResponse>& redirectResponse)>;
    // The batch's progress: operations finished so far, of how many.
    using BatchProgressBlock =
        std::function<void(std::size_t numberOfFinishedOperations, std::size_t totalNumberOfOperations)>;
    using BatchCompletionBlock =
        std::function<void(const std::vector<Ref<HKURLConnectionOperation>>& operations)>;

    explicit HKURLConnectionOperation(const Ref<NSURLRequest>& request);
    // Decoding: the request and the fields below; the operation is ready whatever state was
    // stored.
    explicit HKURLConnectionOperation(NSCoder& coder);
    ~HKURLConnectionOperation() override;
    static bool supportsSecureCoding() { return true; }
    std::string className() const override { return "HKURLConnectionOperation"; }
    std::string description() const override;

    // ---- the network thread ------------------------------------------------------------------
    static Ref<NSThread> networkRequestThread();
    static void networkRequestThreadEntryPoint();

    // ---- configuration ------------------------------------------------------------------------
    Ref<NSURLRequest> request() const;
    Ref<NSURLResponse> response() const;
    // The connection error, or the cancellation error.
    virtual Ref<NSError> error() const;
    // The whole body, once loading has finished (into the default memory stream).
    std::optional<NSData> responseData() const;
    void setResponseData(const std::optional<NSData>& data);
    // The body as text in responseStringEncoding, built once.
    std::optional<std::string> responseString();
    // The response's charset when the platform knows it, else UTF-8; 0 before a response.
    NSStringEncoding responseStringEncoding();

    bool shouldUseCredentialStorage() const;
    void setShouldUseCredentialStorage(bool value);
    Ref<NSURLCredential> credential() const;
    void setCredential(const Ref<NSURLCredential>& credential);
    Ref<HKSecurityPolicy> securityPolicy() const;
    void setSecurityPolicy(const Ref<HKSecurityPolicy>& policy);
    std::set<std::string> runLoopModes() const;
    void setRunLoopModes(std::set<std::string> modes);
    // The request's body stream; setting one replaces the request by a copy carrying it.
    Ref<NSInputStream> inputStream() const;
    void setInputStream(const Ref<NSInputStream>& stream);
    // Where body bytes go; a stream to memory unless set.
    Ref<NSOutputStream> outputStream();
    void setOutputStream(const Ref<NSOutputStream>& stream);
    dispatch_queue_t completionQueue() const;
    void setCompletionQueue(const dispatch_queue_t& queue);
    dispatch_group_t completionGroup() const;
    void setCompletionGroup(const dispatch_group_t& group);
    Dictionary userInfo() const;
    void setUserInfo(const Dictionary& userInfo);
    std::int64_t totalBytesRead() const { return totalBytesRead_.load(std::memory_order_acquire); }
    HKConnectionOperationState state() const {
        return static_cast<HKConnectionOperationState>(state_.load());
    }
    // The application background task held by the operation; 0 for none.
    unsigned long backgroundTaskIdentifier() const;

    void setUploadProgressBlock(UploadProgressBlock block);
    void setDownloadProgressBlock(DownloadProgressBlock block);
    void setWillSendRequestForAuthenticationChallengeBlock(AuthenticationChallengeBlock block);
    void setCacheResponseBlock(CacheResponseBlock block);
    void setRedirectResponseBlock(RedirectResponseBlock block);
    // Begins a background task (once); when it expires, calls the handler and cancels the
    // operation.
    void setShouldExecuteAsBackgroundTaskWithExpirationHandler(std::function<void()> handler);
    // Runs the block on the completion queue inside the completion group once the operation has
    // finished; then lets go of it. The hand-over to that queue happens on the thread that
    // finishes the operation, without a stop on another thread first.
    void setCompletionBlock(std::function<void()> block) override;
    // What was set (wrapped as above); empty once it has run.
    std::function<void()> completionBlock() const;

    // ---- life cycle ----------------------------------------------------------------------------
    void start() override;
    void cancel() override;
    virtual void pause();
    virtual void resume();
    bool isPaused() const { return state_.load() == HKOperationPausedState; }
    bool isReady() const override;
    bool isExecuting() const override { return state_.load() == HKOperationExecutingState; }
    bool isFinished() const override { return state_.load() == HKOperationFinishedState; }
    bool isConcurrent() const override { return true; }
    bool isAsynchronous() const override { return true; }
    // Valid changes only (see the diagram); announces the keys of both states.
    void setState(HKConnectionOperationState state);

    // ---- batches ---------------------------------------------------------------------------------
    // The operations followed by one operation that depends on all of them and calls the
    // completion block on the main queue once every per-operation completion has run. The caller
    // enqueues them all.
    static std::vector<Ref<NSOperation>>
    batchOfRequestOperations(const std::vector<Ref<HKURLConnectionOperation>>& operations,
                             BatchProgressBlock progressBlock, BatchCompletionBlock completionBlock);

    // ---- coding and copying ----------------------------------------------------------------------
    // Pauses the operation first.
    void encodeWithCoder(NSCoder& coder) const override;
    // Same request, blocks, completion queue and group; everything else as new.
    Ref<NSObject> copyObject() const override;

    Value valueForKey(const std::string& key) const override;

    // ---- connection delegate (network thread) ----------------------------------------------------
    void connectionWillSendRequestForAuthenticationChallenge(
        const Ref<NSURLConnection>& connection, const Ref<NSURLAuthenticationChallenge>& challenge) override;
    bool implementsWillSendRequestForAuthenticationChallenge() const override { return true; }
    std::optional<bool> connectionShouldUseCredentialStorage(const Ref<NSURLConnection>& connection) override;
    std::optional<Ref<NSURLRequest>>
    connectionWillSendRequest(const Ref<NSURLConnection>& connection, const Ref<NSURLRequest>& request,
                              const Ref<NSURLResponse>& redirectResponse) override;
    void connectionDidSendBodyData(const Ref<NSURLConnection>& connection, NSInteger bytesWritten,
                                   NSInteger totalBytesWritten, NSInteger totalBytesExpectedToWrite) override;
    void connectionDidReceiveResponse(const Ref<NSURLConnection>& connection,
                                      const Ref<NSURLResponse>& response) override;
    void connectionDidReceiveData(const Ref<NSURLConnection>& connection, const NSData& data) override;
    void connectionDidFinishLoading(const Ref<NSURLConnection>& connection) override;
    void connectionDidFailWithError(const Ref<NSURLConnection>& connection,
                                    const Ref<NSError>& error) override;
    std::optional<Ref<NSCachedURLResponse>>
    connectionWillCacheResponse(const Ref<NSURLConnection>& connection,
                                const Ref<NSCachedURLResponse>& cachedResponse) override;

  protected:
    NSRecursiveLock& lock() const { return *lock_; }
    void setRequest(const Ref<NSURLRequest>& request);
    // Copies what a copy carries into a fresh operation of a subclass.
    void copyBaseStateInto(HKURLConnectionOperation& target) const;
    // Runs the action on the network thread in the operation's run-loop modes, without waiting.
    void performOnNetworkThread(std::function<void()> action);

  private:
    void operationDidStart();
    void operationDidPause();
    void cancelConnection();
    void finish();
    void postNotification(const char* name);
    // Fails a load whose body would outgrow the in-memory bound (network thread).
    void refuseOversizedBody(const Ref<NSURLConnection>& connection);
    void decodeState(NSCoder& coder);

    Ref<NSRecursiveLock> lock_;
    std::atomic<std::int64_t> state_{HKOperationReadyState};
    std::atomic<std::int64_t> totalBytesRead_{0};

    // Guarded by lock_.
    bool shouldUseCredentialStorage_ = true;
    Ref<NSOutputStream> outputStream_;
    std::set<std::string> runLoopModes_;
    Ref<NSURLRequest> request_;
    Ref<NSURLResponse> response_;
    Ref<NSError> error_;
    std::optional<NSData> responseData_;
    Ref<NSURLCredential> credential_;
    Ref<HKSecurityPolicy> securityPolicy_;
    dispatch_queue_t completionQueue_;
    dispatch_group_t completionGroup_;
    Dictionary userInfo_ = Dictionary::mutableDictionary();
    Ref<NSURLConnection> connection_;
    std::optional<std::string> responseString_;
    NSStringEncoding responseStringEncoding_ = 0;
    unsigned long backgroundTaskIdentifier_ = 0;
    UploadProgressBlock uploadProgress_;
    DownloadProgressBlock downloadProgress_;
    AuthenticationChallengeBlock authenticationChallenge_;
    CacheResponseBlock cacheResponse_;
    RedirectResponseBlock redirectResponse_;
    std::function<void()> completionBlock_;
    // Whether the body goes to the memory stream made by outputStream() (guarded by lock_), and
    // how many bytes it holds (network thread only).
    bool collectsInMemory_ = false;
    std::size_t bytesHeld_ = 0;
};
