#pragma once
// A connection delegate that records what it is told, in order, for the network tests.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "foundation/NSThread.h"
#include "network/NSURLConnection.h"
#include "tests/support/LoopbackHTTPServer.h"
#include "tests/support/MainLoop.h"

namespace nettest {

class RecordingDelegate : public NSURLConnectionDataDelegate {
  public:
    std::vector<std::string> events;
    Ref<NSURLResponse> response;
    NSData body;
    Ref<NSError> error;
    std::atomic<bool> finished{false};
    std::atomic<bool> failed{false};
    int calls = 0;
    bool offThread = false;  // a callback arrived on an unexpected thread
    std::atomic<bool> expectMainThread{true};
    std::int64_t sentTotal = 0;
    std::int64_t sentExpected = 0;
    std::int64_t sentSum = 0;
    int cacheOffers = 0;
    int redirects = 0;
    int challenges = 0;

    std::function<std::optional<Ref<NSURLRequest>>(const Ref<NSURLRequest>&, const Ref<NSURLResponse>&)>
        onRedirect;
    std::function<std::optional<Ref<NSCachedURLResponse>>(const Ref<NSCachedURLResponse>&)> onCache;
    std::function<void(const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>&)> onChallenge;
    std::function<void(const Ref<NSURLConnection>&)> onFirstData;
    std::function<std::optional<Ref<NSInputStream>>(const Ref<NSURLRequest>&)> onNeedBodyStream;

    bool done() const { return finished || failed; }

    void note(const std::string& event) {
        ++calls;
        if (expectMainThread && !NSThread::isMainThread()) offThread = true;
        events.push_back(event);
    }

    void connectionDidFailWithError(const Ref<NSURLConnection>&, const Ref<NSError>& e) override {
        note("fail " + std::to_string(e ? e->code() : 0));
        error = e;
        failed = true;
    }
    void connectionWillSendRequestForAuthenticationChallenge(
        const Ref<NSURLConnection>& connection, const Ref<NSURLAuthenticationChallenge>& challenge) override {
        note("challenge " + challenge->protectionSpace()->authenticationMethod());
        ++challenges;
        if (onChallenge) {
            onChallenge(connection, challenge);
        } else {
            challenge->sender()->performDefaultHandlingForAuthenticationChallenge(challenge);
        }
    }
    bool implementsWillSendRequestForAuthenticationChallenge() const override { return true; }

    std::optional<Ref<NSURLRequest>>
    connectionWillSendRequest(const Ref<NSURLConnection>&, const Ref<NSURLRequest>& request,
                              const Ref<NSURLResponse>& redirectResponse) override {
        note("redirect " + (request && request->URL() ? request->URL()->path() : std::string("-")));
        ++redirects;
        if (onRedirect) return onRedirect(request, redirectResponse);
        return std::nullopt;
    }
    void connectionDidReceiveResponse(const Ref<NSURLConnection>&, const Ref<NSURLResponse>& r) override {
        auto http = asKind<NSHTTPURLResponse>(r);
        note("response " + std::to_string(http ? http->statusCode() : 0));
        response = r;
    }
    void connectionDidReceiveData(const Ref<NSURLConnection>& connection, const NSData& data) override {
        if (events.empty() || events.back() != "data")
            note("data");
        else
            ++calls;
        body.appendData(data);
        if (onFirstData) {
            auto f = std::move(onFirstData);
            onFirstData = nullptr;
            f(connection);
        }
    }
    void connectionDidSendBodyData(const Ref<NSURLConnection>&, NSInteger written, NSInteger total,
                                   NSInteger expected) override {
        if (events.empty() || events.back() != "send")
            note("send");
        else
            ++calls;
        sentSum += written;
        sentTotal = total;
        sentExpected = expected;
    }
    std::optional<Ref<NSCachedURLResponse>>
    connectionWillCacheResponse(const Ref<NSURLConnection>&,
                                const Ref<NSCachedURLResponse>& cached) override {
        note("cache");
        ++cacheOffers;
        if (onCache) return onCache(cached);
        return std::nullopt;
    }
    std::optional<Ref<NSInputStream>> connectionNeedNewBodyStream(const Ref<NSURLConnection>&,
                                                                  const Ref<NSURLRequest>& request) override {
        note("new body stream");
        if (onNeedBodyStream) return onNeedBodyStream(request);
        return std::nullopt;
    }
    void connectionDidFinishLoading(const Ref<NSURLConnection>&) override {
        note("finish");
        finished = true;
    }

    long status() const {
        auto http = asKind<NSHTTPURLResponse>(response);
        return http ? http->statusCode() : 0;
    }
};

inline Ref<NSMutableURLRequest> requestFor(const std::string& url, double timeout = 5) {
    auto r = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(url));
    r->setTimeoutInterval(timeout);
    return r;
}

// Starts a connection on the main run loop and pumps until it is done.
inline bool load(const Ref<NSURLRequest>& request, const std::shared_ptr<RecordingDelegate>& delegate,
                 double limit = 10) {
    auto connection = make<NSURLConnection>(request, delegate, true);
    return testsupport::pumpMainRunLoopUntil([&] { return delegate->done(); }, limit);
}

}  // namespace nettest
