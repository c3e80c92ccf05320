#pragma once
// URL connections: load one request and tell a delegate what happens, on the delegate's
// thread.
//
// Loading begins as soon as the connection starts, whether or not the delegate's run loop turns;
// only the callbacks wait for it. A connection is made with a request and a delegate; it starts at once
// (scheduled in the current thread's run loop, default mode) or later with start(). It may instead be
// scheduled in other run loops and modes, or given an operation queue, before it starts. Every callback runs
// on the scheduled run loop's thread in one of the scheduled modes (or on the queue), in this order as they
// apply:
//
//   1. the authentication challenge (server trust during the TLS handshake; HTTP Basic or
//      Digest after a 401), with connectionShouldUseCredentialStorage asked before the first
//      HTTP challenge;
//   2. willSendRequest for each redirect (the delegate may change the request, or answer null
//      to stop there and receive the redirect reply itself);
//   3. didSendBodyData as the body goes out;
//   4. didReceiveResponse;
//   5. didReceiveData, once or more;
//   6. willCacheResponse, for a reply the URL cache may keep;
//   7. connectionDidFinishLoading, or didFailWithError.
//
// Flow control: the body is read no faster than the delegate takes it. Bytes read but not yet
// handed to connectionDidReceiveData are bounded (a few MiB, see NSURLTransport.h): past the
// bound the connection stops reading until the delegate's thread has caught up, so memory is
// that bound plus what the delegate keeps, and a delegate that cancels once it has seen enough
// stops the load there. A connection waiting for its delegate does not time out. The body of a
// redirect or challenge reply, held until the delegate decides, is kept up to 1 MiB: past that
// it is dropped, and shown to the delegate (stopping at the redirect, or no credential) only as
// the reply followed by error -1103.
//
// Nothing arrives after cancel(), from whatever thread it is called. The connection keeps
// itself and its delegate alive until it finishes, fails or is cancelled.
//
// Caching follows the request's policy with the shared URL cache: under the protocol policy a
// stored reply that is still fresh (Cache-Control max-age or Expires) is served without a
// request; one with validators (ETag, Last-Modified) is revalidated with If-None-Match /
// If-Modified-Since, and a 304 reaches the delegate as the stored reply (its status, its body)
// without willCacheResponse. A new cacheable reply (GET, status 200, 203, 300, 301 or 410, no
// no-store) is offered through willCacheResponse and stored as answered. The reload policies
// never read the cache; "return cache data" policies use whatever is stored.
//
// Errors (NSURLErrorDomain): -999 cancelled (the connection's own cancel never reports it;
// a cancelled server-trust challenge does), -1000 bad URL or a header field that would break
// the request (a line break in a value, a name that is not a token) — refused before anything
// is sent, -1001 nothing moved for timeoutInterval seconds, -1002 not http or https, -1003 host
// not found, -1004 connection refused, -1005 the connection was lost or the body ended short of
// its length, -1007 more than 16 redirects, -1008 nothing cached under "don't load", -1011 a
// reply that is not HTTP (a malformed status line, Content-Length values that disagree, a head
// over 256 KiB), -1012 an authentication challenge cancelled, -1015 a gzip or deflate body that
// is corrupt or ends before its stream does, or a content coding not supported, -1021 a body
// stream that failed or cannot be sent again, -1103 a collected body past
// NSURLMaximumInMemoryBodyLength (the collecting loads only) or a held redirect or challenge
// body past 1 MiB taken as the final reply, -1200 / -1202 TLS failures.
//
// Thread safety: start, cancel and the accessors may be called from any thread.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/NSOperationQueue.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSStream.h"
#include "network/NSURLAuthenticationChallenge.h"
#include "network/NSURLCache.h"
#include "network/NSURLRequest.h"
#include "network/NSURLResponse.h"
#include "network/NSURLTransport.h"

class NSURLConnection;

// The connection delegate protocol. Optional methods answer "not implemented" by default.
class NSURLConnectionDelegate {
  public:
    virtual ~NSURLConnectionDelegate() = default;
    // connection:didFailWithError:
    virtual void connectionDidFailWithError(const Ref<NSURLConnection>& connection,
                                            const Ref<NSError>& error) {}
    // connectionShouldUseCredentialStorage:
    virtual std::optional<bool> connectionShouldUseCredentialStorage(const Ref<NSURLConnection>& connection) {
        return std::nullopt;
    }
    // connection:willSendRequestForAuthenticationChallenge:; answer through challenge->sender().
    virtual void
    connectionWillSendRequestForAuthenticationChallenge(const Ref<NSURLConnection>& connection,
                                                        const Ref<NSURLAuthenticationChallenge>& challenge) {}
    virtual bool implementsWillSendRequestForAuthenticationChallenge() const { return false; }
};

class NSURLConnectionDataDelegate : public NSURLConnectionDelegate {
  public:
    // connection:willSendRequest:redirectResponse: — the request to send instead, or a null Ref
    // to stop at the redirect; nullopt (not implemented) follows it.
    virtual std::optional<Ref<NSURLRequest>>
    connectionWillSendRequest(const Ref<NSURLConnection>& connection, const Ref<NSURLRequest>& request,
                              const Ref<NSURLResponse>& redirectResponse) {
        return std::nullopt;
    }
    virtual void connectionDidReceiveResponse(const Ref<NSURLConnection>& connection,
                                              const Ref<NSURLResponse>& response) {}
    virtual void connectionDidReceiveData(const Ref<NSURLConnection>& connection, const NSData& data) {}
    // A body stream to send the body again (after a redirect that keeps the method, or an
    // authentication retry); nullopt when not implemented.
    virtual std::optional<Ref<NSInputStream>>
    connectionNeedNewBodyStream(const Ref<NSURLConnection>& connection, const Ref<NSURLRequest>& request) {
        return std::nullopt;
    }
    virtual void connectionDidSendBodyData(const Ref<NSURLConnection>& connection, NSInteger bytesWritten,
                                           NSInteger totalBytesWritten, NSInteger totalBytesExpectedToWrite) {
    }
    // The response to store (a null Ref stores nothing); nullopt stores the one offered.
    virtual std::optional<Ref<NSCachedURLResponse>>
    connectionWillCacheResponse(const Ref<NSURLConnection>& connection,
                                const Ref<NSCachedURLResponse>& cachedResponse) {
        return std::nullopt;
    }
    virtual void connectionDidFinishLoading(const Ref<NSURLConnection>& connection) {}
};

class NSURLConnection : public NSObject, public detail::TransferObserver {
  public:
    using CompletionHandler = std::function<void(
        const Ref<NSURLResponse>& response, const std::optional<NSData>& data, const Ref<NSError>& error)>;

    NSURLConnection(const Ref<NSURLRequest>& request, Ref<NSURLConnectionDelegate> delegate,
                    bool startImmediately = true);
    ~NSURLConnection() override;
    void didInit();
    std::string className() const override { return "NSURLConnection"; }

    static Ref<NSURLConnection> connectionWithRequest(const Ref<NSURLRequest>& request,
                                                      Ref<NSURLConnectionDelegate> delegate) {
        return make<NSURLConnection>(request, std::move(delegate), true);
    }
    // Whether a connection could load the request (an http or https URL).
    static bool canHandleRequest(const Ref<NSURLRequest>& request);

    void scheduleInRunLoop(const Ref<NSRunLoop>& runLoop, const std::string& mode);
    void unscheduleFromRunLoop(const Ref<NSRunLoop>& runLoop, const std::string& mode);
    // Callbacks go to the queue instead of a run loop.
    void setDelegateQueue(const Ref<NSOperationQueue>& queue);

    void start();
    void cancel();

    Ref<NSURLRequest> originalRequest() const;
    // The request being loaded: after redirects, the last one followed.
    Ref<NSURLRequest> currentRequest() const;

    // The server-trust seam: when set, this decides every TLS handshake of the connection on
    // the transport thread (chain as DER, leaf first, and the host), instead of a challenge to
    // the delegate.
    void setServerTrustEvaluator(detail::ServerTrustHook evaluator);

    // Loads on the calling thread and waits: the body (also for HTTP error statuses), or
    // nullopt with the error. The response is stored whenever one arrived.
    static std::optional<NSData> sendSynchronousRequest(const Ref<NSURLRequest>& request,
                                                        Ref<NSURLResponse>* response, Ref<NSError>* error);
    // Loads in the background and calls the handler on the queue (data nullopt on error).
    static void sendAsynchronousRequest(const Ref<NSURLRequest>& request, const Ref<NSOperationQueue>& queue,
                                        CompletionHandler handler);

    // Transport callbacks (transport thread); not for callers.
    void transferReceivedResponse(const detail::TransferResponseHead& head) override;
    void transferReceivedData(const detail::TransferHandle& transfer, const std::uint8_t* bytes,
                              std::size_t length) override;

    // For internal delegates that take body bytes later than connectionDidReceiveData returns
    // (a suspended session task): called within that callback, it keeps the bytes counted as
    // undelivered, for flow control, until the last copy of the answer is released. Null outside
    // such a callback.
    std::shared_ptr<void> holdDataAcknowledgement();
    void transferSentBodyData(std::int64_t totalSent, std::int64_t totalExpected) override;
    void transferCompleted(const Ref<NSError>& error) override;

  private:
    struct Event {
        std::function<void()> action;
        std::optional<NSData> data;                 // a run of body bytes, merged while waiting
        detail::TransferHandle transfer = nullptr;  // the transfer that brought the bytes
    };
    enum class Mode { Stream, Redirect, Challenge, NotModified };
    struct Target {
        Weak<NSRunLoop> runLoop;
        std::string mode;
    };
    struct TrustWait;
    class ChallengeSender;
    friend class ChallengeSender;

    // For internal delegates that only collect: callbacks run on whichever thread has news (the
    // transport thread, or the starter for failures found at once).
    void setDeliversInline();
    // Queues an event for the delegate. From the transport thread the hand-over waits for the
    // end of the transport's turn unless `immediately`.
    void enqueue(Event event, bool immediately = false);
    void schedulePump(std::unique_lock<std::mutex>& lock);
    void pump();
    Ref<NSURLConnectionDelegate> currentDelegate() const;
    Ref<NSURLConnectionDataDelegate> dataDelegate() const;
    Ref<NSURLConnection> me() { return selfAs<NSURLConnection>(); }

    void beginLoad(const Ref<NSURLRequest>& request);
    void launch(const Ref<NSURLRequest>& request, const Ref<NSURLCredential>& credential, bool digest);
    void serveCached(const Ref<NSCachedURLResponse>& cached);
    void deliverResponse(const Ref<NSURLResponse>& response);
    void deliverData(const NSData& data);
    // A held reply (redirect or challenge) that the delegate takes as the final one.
    void deliverHeldReply(const Ref<NSHTTPURLResponse>& response, const NSData& body, bool dropped);
    void completeTransfer(const Ref<NSError>& error);
    void finishStreamed(bool offerToCache);
    void followRedirect();
    void challengeHTTP();
    void answerHTTPChallenge(int answer, const Ref<NSURLCredential>& credential);
    bool serverTrustDecision(const std::vector<NSData>& chain, const std::string& host);
    void fail(const Ref<NSError>& error);
    // A failure found off the delegate's thread, delivered in order through the pump.
    void postFailure(const Ref<NSError>& error);
    void end();

    Ref<NSURLRequest> originalRequest_;
    Ref<NSURLRequest> currentRequest_;
    Ref<NSURLConnectionDelegate> delegate_;
    const bool startImmediately_;

    mutable std::mutex mutex_;  // guards everything below
    std::vector<Target> targets_;
    Ref<NSOperationQueue> delegateQueue_;
    bool deliversInline_ = false;
    std::deque<Event> events_;
    bool pumpScheduled_ = false;
    bool pumpRunning_ = false;
    bool flushDeferred_ = false;
    bool started_ = false;
    std::atomic<bool> cancelled_{false};
    bool ended_ = false;
    detail::TransferHandle transfer_;
    detail::ServerTrustHook trustEvaluator_;
    std::shared_ptr<TrustWait> trustWait_;
    bool trustCancelled_ = false;

    // Per transfer, set on the transport thread and read on the delegate's.
    Mode mode_ = Mode::Stream;
    Ref<NSHTTPURLResponse> pendingResponse_;
    NSData heldBody_;
    bool heldBodyDropped_ = false;
    bool offerToCache_ = false;
    NSData cacheBody_;
    std::int64_t lastSent_ = 0;
    Ref<NSCachedURLResponse> revalidating_;

    // Delegate thread only.
    std::shared_ptr<void> receipt_;  // for the bytes being handed to the delegate
    Ref<NSURLResponse> response_;
    int redirects_ = 0;
    std::optional<bool> shouldUseCredentialStorage_;
    Ref<NSURLProtectionSpace> lastSpace_;
    long authFailures_ = 0;
    Ref<NSURLAuthenticationChallenge> openChallenge_;
};
