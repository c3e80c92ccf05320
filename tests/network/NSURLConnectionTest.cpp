#include "network/NSURLConnection.h"

#include <gtest/gtest.h>

#include "NetworkTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace nettest;
using testsupport::LoopbackHTTPServer;
using testsupport::ScriptedReply;

namespace {

class NSURLConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override { NSURLCache::setSharedURLCache(make<NSURLCache>(1 << 20, 0, std::nullopt)); }
    void TearDown() override { NSURLCache::setSharedURLCache(nullptr); }
    LoopbackHTTPServer server;
};

TEST_F(NSURLConnectionTest, GetDeliversResponseDataAndFinishInOrderOnTheMainThread) {
    server.setReply("/hello", ScriptedReply::text("hello world", 200, "text/plain; charset=UTF-8"));
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/hello")), d));
    EXPECT_EQ(d->events, (std::vector<std::string>{"response 200", "data", "cache", "finish"}));
    EXPECT_FALSE(d->offThread);
    EXPECT_EQ(d->body.toString(), "hello world");
    auto http = asKind<NSHTTPURLResponse>(d->response);
    ASSERT_TRUE(http);
    EXPECT_EQ(http->MIMEType(), "text/plain");
    EXPECT_EQ(http->textEncodingName(), "utf-8");
    EXPECT_EQ(http->expectedContentLength(), 11);
    EXPECT_EQ(http->URL()->absoluteString(), server.url("/hello"));
    EXPECT_EQ(http->allHeaderFields()["Content-Type"].stringValue(), "text/plain; charset=UTF-8");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/hello");
}

TEST_F(NSURLConnectionTest, RequestHeadersAndQueryReachTheServer) {
    server.setReply("/q", ScriptedReply::text("ok"));
    auto r = requestFor(server.url("/q?a=1&b=%20"));
    r->setValue("yes", "X-Custom");
    r->addValue("two", "X-Custom");
    r->setValue("en", "Accept-Language");
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(r, d));
    auto req = server.requests().at(0);
    EXPECT_EQ(req.query, "a=1&b=%20");
    EXPECT_EQ(req.header("X-Custom"), "yes, two");
    EXPECT_EQ(req.header("Accept-Language"), "en");
    EXPECT_FALSE(req.header("Expect"));
}

TEST_F(NSURLConnectionTest, PostSendsTheBodyAndReportsUploadBeforeTheResponse) {
    server.setReply("POST", "/upload", ScriptedReply::text("stored", 201));
    std::string payload(200000, 'p');
    auto r = requestFor(server.url("/upload"));
    r->setHTTPMethod("POST");
    r->setHTTPBody(NSData::fromString(payload));
    r->setValue("application/octet-stream", "Content-Type");
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(r, d));
    EXPECT_EQ(d->events.front(), "send");
    EXPECT_EQ(d->events, (std::vector<std::string>{"send", "response 201", "data", "finish"}));
    EXPECT_EQ(d->sentSum, 200000);
    EXPECT_EQ(d->sentTotal, 200000);
    EXPECT_EQ(d->sentExpected, 200000);
    auto req = server.requests().at(0);
    EXPECT_EQ(req.body, payload);
    EXPECT_EQ(req.header("Content-Length"), "200000");
    EXPECT_EQ(req.header("Content-Type"), "application/octet-stream");
}

// A body made on demand, as a multipart body is.
class PatternStream : public NSInputStream {
  public:
    explicit PatternStream(std::size_t total, bool failHalfway = false) : total_(total), fail_(failHalfway) {}
    void open() override { setStreamStatus(NSStreamStatusOpen); }
    NSInteger read(std::uint8_t* buffer, NSUInteger maxLength) override {
        if (fail_ && produced_ >= total_ / 2) {
            failWithError(NSError::errorWithDomain("test", 7));
            return -1;
        }
        NSUInteger n = 0;
        while (n < maxLength && produced_ < total_)
            buffer[n++] = static_cast<std::uint8_t>('a' + produced_++ % 26);
        if (produced_ == total_) setStreamStatus(NSStreamStatusAtEnd);
        return static_cast<NSInteger>(n);
    }
    bool hasBytesAvailable() const override { return produced_ < total_; }

  private:
    std::size_t total_;
    bool fail_;
    std::size_t produced_ = 0;
};

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

TEST_F(NSURLConnectionTest, BodyStreamWithContentLengthIsSentWithThatLength) {
    server.setReply("POST", "/stream", ScriptedReply::text("ok"));
    auto r = requestFor(server.url("/stream"));
    r->setHTTPMethod("POST");
    r->setHTTPBodyStream(make<PatternStream>(70000));
    r->setValue("70000", "Content-Length");
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(r, d));
    ASSERT_TRUE(d->finished) << (d->error ? d->error->description() : "");
    auto req = server.requests().at(0);
    EXPECT_FALSE(req.chunkedBody);
    EXPECT_EQ(req.header("Content-Length"), "70000");
    EXPECT_EQ(req.body, pattern(70000));
    EXPECT_EQ(d->sentTotal, 70000);
    EXPECT_EQ(d->sentExpected, 70000);
}

TEST_F(NSURLConnectionTest, BodyStreamOfUnknownLengthIsChunked) {
    server.setReply("POST", "/stream", ScriptedReply::text("ok"));
    auto r = requestFor(server.url("/stream"));
    r->setHTTPMethod("POST");
    r->setHTTPBodyStream(make<PatternStream>(5000));
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(r, d));
    ASSERT_TRUE(d->finished);
    auto req = server.requests().at(0);
    EXPECT_TRUE(req.chunkedBody);
    EXPECT_EQ(req.body, pattern(5000));
    EXPECT_EQ(d->sentExpected, -1);
}

TEST_F(NSURLConnectionTest, FailingBodyStreamFailsTheConnection) {
    server.setReply("POST", "/stream", ScriptedReply::text("ok"));
    auto r = requestFor(server.url("/stream"));
    r->setHTTPMethod("POST");
    r->setHTTPBodyStream(make<PatternStream>(100000, true));
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(r, d));
    ASSERT_TRUE(d->failed);
    EXPECT_EQ(d->error->code(), -1021);
    auto underlying = d->error->userInfo()[NSUnderlyingErrorKey].objectAs<NSError>();
    ASSERT_TRUE(underlying);
    EXPECT_EQ(underlying->domain(), "test");
}

TEST_F(NSURLConnectionTest, ChunkedReplyIsReassembled) {
    auto reply = ScriptedReply::text(pattern(10000));
    reply.chunked = true;
    reply.chunkSize = 333;
    server.setReply("/chunked", reply);
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/chunked")), d));
    ASSERT_TRUE(d->finished);
    EXPECT_EQ(d->body.toString(), pattern(10000));
    EXPECT_EQ(d->response->expectedContentLength(), -1);
}

TEST_F(NSURLConnectionTest, LargeBodyArrivesIntact) {
    server.setReply("/big", ScriptedReply::text(pattern(3 << 20), 200, "application/octet-stream"));
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/big")), d, 30));
    ASSERT_TRUE(d->finished);
    EXPECT_EQ(d->body.length(), 3u << 20);
    EXPECT_TRUE(d->body.toString() == pattern(3 << 20));
}

TEST_F(NSURLConnectionTest, ReplyShorterThanItsLengthFailsAsConnectionLost) {
    auto reply = ScriptedReply::text(pattern(1000));
    reply.truncateAt = 400;
    server.setReply("/short", reply);
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/short")), d));
    EXPECT_TRUE(d->failed);
    EXPECT_FALSE(d->finished);
    EXPECT_EQ(d->error->code(), NSURLErrorNetworkConnectionLost);
    EXPECT_EQ(d->error->domain(), NSURLErrorDomain);
    EXPECT_EQ(d->error->userInfo()[NSURLErrorFailingURLStringErrorKey].stringValue(), server.url("/short"));
}

TEST_F(NSURLConnectionTest, ConnectionClosedMidChunkedBodyFails) {
    auto reply = ScriptedReply::text(pattern(5000));
    reply.closeMidBodyAt = 1500;
    reply.chunkSize = 500;
    server.setReply("/cut", reply);
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/cut")), d));
    EXPECT_TRUE(d->failed);
    EXPECT_EQ(d->error->code(), NSURLErrorNetworkConnectionLost);
}

TEST_F(NSURLConnectionTest, ServerClosingWithoutReplyFails) {
    ScriptedReply reply;
    reply.noReply = true;
    server.setReply("/nothing", reply);
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/nothing")), d));
    EXPECT_TRUE(d->failed);
    EXPECT_EQ(d->error->code(), NSURLErrorNetworkConnectionLost);
}

TEST_F(NSURLConnectionTest, BodyUntilCloseIsComplete) {
    auto reply = ScriptedReply::text("until the end");
    reply.omitContentLength = true;
    server.setReply("/eof", reply);
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/eof")), d));
    EXPECT_TRUE(d->finished);
    EXPECT_EQ(d->body.toString(), "until the end");
}

TEST_F(NSURLConnectionTest, SilentServerTimesOutAfterTheIdleInterval) {
    auto reply = ScriptedReply::text("late");
    reply.delayBeforeHeaders = 5;
    server.setReply("/slow", reply);
    auto d = std::make_shared<RecordingDelegate>();
    auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(load(requestFor(server.url("/slow"), 0.3), d));
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_TRUE(d->failed);
    EXPECT_EQ(d->error->code(), NSURLErrorTimedOut);
    EXPECT_GE(elapsed, 0.25);
    EXPECT_LT(elapsed, 2.0);
    EXPECT_EQ(d->events, (std::vector<std::string>{"fail -1001"}));
}

TEST_F(NSURLConnectionTest, TrickledBodyLongerThanTheTimeOutStillCompletes) {
    auto reply = ScriptedReply::text("0123456789");
    reply.trickleDelay = 0.08;
    reply.trickleBytes = 1;
    server.setReply("/trickle", reply);
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/trickle"), 0.4), d));
    EXPECT_TRUE(d->finished) << (d->error ? d->error->description() : "");
    EXPECT_EQ(d->body.toString(), "0123456789");
}

TEST_F(NSURLConnectionTest, StallInTheMiddleOfTheBodyTimesOut) {
    auto reply = ScriptedReply::text("ab");
    reply.trickleDelay = 3;
    server.setReply("/stall", reply);
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/stall"), 0.3), d));
    EXPECT_TRUE(d->failed);
    EXPECT_EQ(d->error->code(), NSURLErrorTimedOut);
    EXPECT_EQ(d->events.front(), "response 200");
}

TEST_F(NSURLConnectionTest, RefusedConnectionFailsWithCannotConnect) {
    int port;
    {
        LoopbackHTTPServer closed;
        port = closed.port();
    }
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor("http://127.0.0.1:" + std::to_string(port) + "/x"), d));
    EXPECT_TRUE(d->failed);
    EXPECT_EQ(d->error->code(), NSURLErrorCannotConnectToHost);
}

TEST_F(NSURLConnectionTest, UnsupportedSchemeAndMissingURLFailWithoutTraffic) {
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor("ftp://127.0.0.1/file"), d));
    EXPECT_EQ(d->error->code(), NSURLErrorUnsupportedURL);
    auto d2 = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(make<NSURLRequest>(), d2));
    EXPECT_EQ(d2->error->code(), NSURLErrorBadURL);
    EXPECT_FALSE(NSURLConnection::canHandleRequest(requestFor("ftp://127.0.0.1/file")));
    EXPECT_TRUE(NSURLConnection::canHandleRequest(requestFor(server.url("/"))));
}

TEST_F(NSURLConnectionTest, HeaderValueWithLineBreakIsRefusedBeforeSending) {
    server.setReply("/h", ScriptedReply::text("ok"));
    for (std::string bad : std::vector<std::string>{"a\r\nX-Injected: 1", "a\nb", std::string("a\0b", 3)}) {
        auto r = requestFor(server.url("/h"));
        r->setValue(bad, "X-Value");
        auto d = std::make_shared<RecordingDelegate>();
        ASSERT_TRUE(load(r, d));
        EXPECT_TRUE(d->failed);
        EXPECT_EQ(d->error->code(), NSURLErrorBadURL);
    }
    auto r = requestFor(server.url("/h"));
    r->setValue("v", "Bad Name");
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(r, d));
    EXPECT_EQ(d->error->code(), NSURLErrorBadURL);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(NSURLConnectionTest, SequentialRequestsReuseOneConnection) {
    server.setReply("/k", ScriptedReply::text("ok"));
    for (int i = 0; i < 5; ++i) {
        auto d = std::make_shared<RecordingDelegate>();
        ASSERT_TRUE(load(requestFor(server.url("/k")), d));
        ASSERT_TRUE(d->finished);
    }
    EXPECT_EQ(server.requestCount(), 5u);
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST_F(NSURLConnectionTest, HeadRequestHasNoBody) {
    server.setReply("/head", ScriptedReply::text("twelve bytes"));
    auto r = requestFor(server.url("/head"));
    r->setHTTPMethod("HEAD");
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(r, d));
    EXPECT_EQ(d->events, (std::vector<std::string>{"response 200", "finish"}));
    EXPECT_EQ(d->response->expectedContentLength(), 12);
    EXPECT_EQ(server.requests().at(0).method, "HEAD");
}

TEST_F(NSURLConnectionTest, OtherMethodsAreSentAsWritten) {
    server.setDefaultHandler(
        [](const testsupport::RecordedRequest& r) { return ScriptedReply::text(r.method); });
    for (std::string method : {"PUT", "DELETE", "PATCH"}) {
        auto r = requestFor(server.url("/m"));
        r->setHTTPMethod(method);
        if (method != "DELETE") r->setHTTPBody(NSData::fromString("x=1"));
        auto d = std::make_shared<RecordingDelegate>();
        ASSERT_TRUE(load(r, d));
        EXPECT_EQ(d->body.toString(), method);
    }
    auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[0].body, "x=1");
    EXPECT_EQ(reqs[1].body, "");
}

TEST_F(NSURLConnectionTest, ErrorStatusesAreResponsesNotErrors) {
    server.setReply("/missing", ScriptedReply::text("nope", 404));
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/missing")), d));
    EXPECT_TRUE(d->finished);
    EXPECT_EQ(d->status(), 404);
    EXPECT_EQ(d->body.toString(), "nope");
}

// ---- redirects ----------------------------------------------------------------------------------
TEST_F(NSURLConnectionTest, RedirectIsOfferedToTheDelegateThenFollowed) {
    server.setReply("/start", ScriptedReply::redirect(302, "/final"));
    server.setReply("/final", ScriptedReply::text("arrived"));
    auto d = std::make_shared<RecordingDelegate>();
    Ref<NSURLResponse> redirectResponse;
    d->onRedirect = [&](const Ref<NSURLRequest>& r,
                        const Ref<NSURLResponse>& resp) -> std::optional<Ref<NSURLRequest>> {
        redirectResponse = resp;
        EXPECT_EQ(r->URL()->absoluteString(), server.url("/final"));
        return std::nullopt;
    };
    auto connection = make<NSURLConnection>(requestFor(server.url("/start")), d, true);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return d->done(); }, 10));
    EXPECT_EQ(d->events,
              (std::vector<std::string>{"redirect /final", "response 200", "data", "cache", "finish"}));
    ASSERT_TRUE(asKind<NSHTTPURLResponse>(redirectResponse));
    EXPECT_EQ(asKind<NSHTTPURLResponse>(redirectResponse)->statusCode(), 302);
    EXPECT_EQ(d->response->URL()->absoluteString(), server.url("/final"));
    EXPECT_EQ(connection->currentRequest()->URL()->absoluteString(), server.url("/final"));
    EXPECT_EQ(connection->originalRequest()->URL()->absoluteString(), server.url("/start"));
}

TEST_F(NSURLConnectionTest, DelegateCanStopAtTheRedirect) {
    auto reply = ScriptedReply::redirect(301, "/elsewhere");
    reply.body = "moved";
    server.setReply("/start", reply);
    auto d = std::make_shared<RecordingDelegate>();
    d->onRedirect = [](const Ref<NSURLRequest>&,
                       const Ref<NSURLResponse>&) -> std::optional<Ref<NSURLRequest>> {
        return Ref<NSURLRequest>();
    };
    ASSERT_TRUE(load(requestFor(server.url("/start")), d));
    EXPECT_EQ(d->events, (std::vector<std::string>{"redirect /elsewhere", "response 301", "data", "finish"}));
    EXPECT_EQ(d->body.toString(), "moved");
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(NSURLConnectionTest, DelegateCanRewriteTheRedirectedRequest) {
    server.setReply("/start", ScriptedReply::redirect(302, "/a"));
    server.setReply("/b", ScriptedReply::text("b"));
    auto d = std::make_shared<RecordingDelegate>();
    d->onRedirect = [&](const Ref<NSURLRequest>& r,
                        const Ref<NSURLResponse>&) -> std::optional<Ref<NSURLRequest>> {
        auto m = r->mutableCopy();
        m->setURL(NSURL::URLWithString(server.url("/b")));
        return Ref<NSURLRequest>(m);
    };
    ASSERT_TRUE(load(requestFor(server.url("/start")), d));
    EXPECT_EQ(d->body.toString(), "b");
}

TEST_F(NSURLConnectionTest, SeeOtherTurnsAPostIntoAGetWithoutBody) {
    server.setReply("POST", "/form", ScriptedReply::redirect(303, "/result"));
    server.setReply("/result", ScriptedReply::text("done"));
    auto r = requestFor(server.url("/form"));
    r->setHTTPMethod("POST");
    r->setHTTPBody(NSData::fromString("a=1"));
    r->setValue("application/x-www-form-urlencoded", "Content-Type");
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(r, d));
    auto reqs = server.requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[1].method, "GET");
    EXPECT_EQ(reqs[1].body, "");
    EXPECT_FALSE(reqs[1].header("Content-Type"));
}

TEST_F(NSURLConnectionTest, TemporaryRedirectKeepsMethodAndBody) {
    server.setReply("POST", "/old", ScriptedReply::redirect(307, "/new"));
    server.setDefaultHandler(
        [](const testsupport::RecordedRequest& r) { return ScriptedReply::text(r.method + r.body); });
    auto r = requestFor(server.url("/old"));
    r->setHTTPMethod("POST");
    r->setHTTPBody(NSData::fromString("payload"));
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(r, d));
    EXPECT_EQ(d->body.toString(), "POSTpayload");
}

TEST_F(NSURLConnectionTest, TemporaryRedirectOfAStreamAsksForANewStream) {
    server.setReply("POST", "/old", ScriptedReply::redirect(307, "/new"));
    server.setDefaultHandler(
        [](const testsupport::RecordedRequest& r) { return ScriptedReply::text(r.body); });
    auto r = requestFor(server.url("/old"));
    r->setHTTPMethod("POST");
    r->setHTTPBodyStream(make<PatternStream>(100));
    auto d = std::make_shared<RecordingDelegate>();
    d->onNeedBodyStream = [](const Ref<NSURLRequest>&) -> std::optional<Ref<NSInputStream>> {
        return Ref<NSInputStream>(make<PatternStream>(100));
    };
    ASSERT_TRUE(load(r, d));
    EXPECT_TRUE(d->finished);
    EXPECT_EQ(d->body.toString(), pattern(100));
    auto d2 = std::make_shared<RecordingDelegate>();
    auto r2 = requestFor(server.url("/old"));
    r2->setHTTPMethod("POST");
    r2->setHTTPBodyStream(make<PatternStream>(100));
    ASSERT_TRUE(load(r2, d2));
    EXPECT_TRUE(d2->failed);
    EXPECT_EQ(d2->error->code(), -1021);
}

TEST_F(NSURLConnectionTest, EndlessRedirectsStopWithTooManyRedirects) {
    server.setReply("/loop", ScriptedReply::redirect(302, "/loop"));
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/loop")), d));
    EXPECT_TRUE(d->failed);
    EXPECT_EQ(d->error->code(), NSURLErrorHTTPTooManyRedirects);
    EXPECT_EQ(d->redirects, 16);
}

// ---- cancellation -------------------------------------------------------------------------------
TEST_F(NSURLConnectionTest, NothingArrivesAfterCancel) {
    auto reply = ScriptedReply::text(pattern(50));
    reply.trickleDelay = 0.02;
    reply.trickleBytes = 5;
    server.setReply("/slow", reply);
    auto d = std::make_shared<RecordingDelegate>();
    d->onFirstData = [](const Ref<NSURLConnection>& c) { c->cancel(); };
    auto connection = make<NSURLConnection>(requestFor(server.url("/slow")), d, true);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return d->calls >= 2; }, 5));
    int callsAtCancel = d->calls;
    testsupport::pumpMainRunLoop(0.4);
    EXPECT_EQ(d->calls, callsAtCancel);
    EXPECT_FALSE(d->done());
}

TEST_F(NSURLConnectionTest, CancelFromAnotherThreadBeforeDeliverySuppressesEverything) {
    server.setReply("/x", ScriptedReply::text("body"));
    auto d = std::make_shared<RecordingDelegate>();
    auto connection = make<NSURLConnection>(requestFor(server.url("/x")), d, true);
    // Let the reply arrive on the transport side without turning the main loop.
    ASSERT_TRUE(server.waitForRequests(1, 5));
    std::thread([&] { connection->cancel(); }).join();
    testsupport::pumpMainRunLoop(0.3);
    EXPECT_EQ(d->calls, 0);
    connection->cancel();  // a second cancel is harmless
}

TEST_F(NSURLConnectionTest, CancelledConnectionReleasesItsDelegate) {
    auto reply = ScriptedReply::text("x");
    reply.delayBeforeHeaders = 2;
    server.setReply("/hold", reply);
    auto d = std::make_shared<RecordingDelegate>();
    Weak<RecordingDelegate> weak = d;
    auto connection = make<NSURLConnection>(requestFor(server.url("/hold")), d, true);
    d.reset();
    EXPECT_FALSE(weak.expired());
    connection->cancel();
    EXPECT_TRUE(weak.expired());
}

TEST_F(NSURLConnectionTest, ManyConnectionsCancelledFromWorkersWhileLoading) {
    server.setDefaultHandler([](const testsupport::RecordedRequest& r) {
        auto reply = ScriptedReply::text(pattern(2000));
        if (r.path.size() % 2) {
            reply.trickleDelay = 0.001;
            reply.trickleBytes = 400;
        }
        return reply;
    });
    std::vector<Ref<NSURLConnection>> connections;
    std::vector<std::shared_ptr<RecordingDelegate>> delegates;
    for (int i = 0; i < 40; ++i) {
        auto d = std::make_shared<RecordingDelegate>();
        delegates.push_back(d);
        connections.push_back(
            make<NSURLConnection>(requestFor(server.url("/c" + std::to_string(i))), d, true));
    }
    std::vector<std::thread> cancellers;
    for (int t = 0; t < 4; ++t) {
        cancellers.emplace_back([&, t] {
            for (std::size_t i = t; i < connections.size(); i += 8) connections[i]->cancel();
        });
    }
    for (auto& c : cancellers) c.join();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil(
        [&] {
            for (std::size_t i = 0; i < delegates.size(); ++i) {
                if (i % 8 >= 4 && !delegates[i]->done()) return false;
            }
            return true;
        },
        20));
    for (std::size_t i = 0; i < delegates.size(); ++i) {
        if (i % 8 < 4) {
            EXPECT_EQ(delegates[i]->calls, 0) << i;
        } else {
            EXPECT_TRUE(delegates[i]->finished) << i;
            EXPECT_EQ(delegates[i]->body.toString(), pattern(2000));
        }
    }
}

TEST_F(NSURLConnectionTest, ManyConcurrentConnectionsEachGetTheirOwnBody) {
    server.setDefaultHandler(
        [](const testsupport::RecordedRequest& r) { return ScriptedReply::text(r.path + r.path); });
    std::vector<std::shared_ptr<RecordingDelegate>> delegates;
    std::vector<Ref<NSURLConnection>> connections;
    for (int i = 0; i < 60; ++i) {
        auto d = std::make_shared<RecordingDelegate>();
        delegates.push_back(d);
        connections.push_back(
            make<NSURLConnection>(requestFor(server.url("/p" + std::to_string(i))), d, true));
    }
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil(
        [&] { return std::all_of(delegates.begin(), delegates.end(), [](auto& d) { return d->done(); }); },
        20));
    for (int i = 0; i < 60; ++i) {
        std::string p = "/p" + std::to_string(i);
        EXPECT_EQ(delegates[i]->body.toString(), p + p);
        EXPECT_EQ(delegates[i]->events.back(), "finish");
    }
}

// ---- scheduling ---------------------------------------------------------------------------------
TEST_F(NSURLConnectionTest, CallbacksWaitForTheScheduledMode) {
    server.setReply("/m", ScriptedReply::text("moded"));
    auto d = std::make_shared<RecordingDelegate>();
    auto connection = make<NSURLConnection>(requestFor(server.url("/m")), d, false);
    connection->scheduleInRunLoop(NSRunLoop::currentRunLoop(), "CustomMode");
    connection->start();
    ASSERT_TRUE(server.waitForRequests(1, 5));
    testsupport::pumpMainRunLoop(0.2, NSDefaultRunLoopMode);
    EXPECT_EQ(d->calls, 0);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return d->done(); }, 5, "CustomMode"));
    EXPECT_EQ(d->body.toString(), "moded");
}

TEST_F(NSURLConnectionTest, UnscheduledConnectionHoldsItsCallbacksUntilRescheduled) {
    server.setReply("/u", ScriptedReply::text("held"));
    auto d = std::make_shared<RecordingDelegate>();
    auto loop = NSRunLoop::currentRunLoop();
    auto connection = make<NSURLConnection>(requestFor(server.url("/u")), d, false);
    connection->scheduleInRunLoop(loop, NSDefaultRunLoopMode);
    connection->unscheduleFromRunLoop(loop, NSDefaultRunLoopMode);
    connection->scheduleInRunLoop(loop, "Elsewhere");
    connection->start();
    ASSERT_TRUE(server.waitForRequests(1, 5));
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(d->calls, 0);
    connection->scheduleInRunLoop(loop, NSDefaultRunLoopMode);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return d->done(); }, 5));
    EXPECT_EQ(d->body.toString(), "held");
}

TEST_F(NSURLConnectionTest, ConnectionOnAnotherThreadsRunLoop) {
    server.setReply("/t", ScriptedReply::text("thread"));
    auto d = std::make_shared<RecordingDelegate>();
    d->expectMainThread = false;
    std::atomic<bool> done{false};
    std::thread::id callbackThread;
    auto worker = NSThread::detachNewThreadWithBlock([&] {
        auto connection = make<NSURLConnection>(requestFor(server.url("/t")), d, true);
        auto loop = NSRunLoop::currentRunLoop();
        while (!d->done()) loop->runMode(NSDefaultRunLoopMode, NSDate::dateWithTimeIntervalSinceNow(0.05));
        callbackThread = std::this_thread::get_id();
        done = true;
    });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done.load(); }, 10));
    EXPECT_EQ(d->body.toString(), "thread");
    EXPECT_NE(callbackThread, std::this_thread::get_id());
}

TEST_F(NSURLConnectionTest, DelegateQueueReceivesTheCallbacks) {
    server.setReply("/q", ScriptedReply::text("queued"));
    auto d = std::make_shared<RecordingDelegate>();
    d->expectMainThread = false;
    auto queue = make<NSOperationQueue>();
    auto connection = make<NSURLConnection>(requestFor(server.url("/q")), d, false);
    connection->setDelegateQueue(queue);
    connection->start();
    ASSERT_TRUE(
        testsupport::pumpMainRunLoopUntil([&] { return queue->operationCount() == 0 && d->done(); }, 10));
    queue->waitUntilAllOperationsAreFinished(5);
    EXPECT_EQ(d->body.toString(), "queued");
}

// ---- convenience loading ------------------------------------------------------------------------
TEST_F(NSURLConnectionTest, SynchronousRequestReturnsBodyAndResponse) {
    server.setReply("/sync", ScriptedReply::text("synchronous"));
    server.setReply("/gone", ScriptedReply::text("gone", 404));
    Ref<NSURLResponse> response;
    Ref<NSError> error;
    auto data = NSURLConnection::sendSynchronousRequest(requestFor(server.url("/sync")), &response, &error);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->toString(), "synchronous");
    EXPECT_EQ(asKind<NSHTTPURLResponse>(response)->statusCode(), 200);
    EXPECT_FALSE(error);
    data = NSURLConnection::sendSynchronousRequest(requestFor(server.url("/gone")), &response, &error);
    ASSERT_TRUE(data);
    EXPECT_EQ(asKind<NSHTTPURLResponse>(response)->statusCode(), 404);
    data = NSURLConnection::sendSynchronousRequest(requestFor("ftp://127.0.0.1/"), &response, &error);
    EXPECT_FALSE(data);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSURLErrorUnsupportedURL);
    EXPECT_FALSE(NSURLConnection::sendSynchronousRequest(requestFor("ftp://127.0.0.1/"), nullptr, nullptr));
}

TEST_F(NSURLConnectionTest, SynchronousRequestsFromManyThreadsAtOnce) {
    server.setDefaultHandler(
        [](const testsupport::RecordedRequest& r) { return ScriptedReply::text(r.path); });
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                std::string path = "/s" + std::to_string(t) + "-" + std::to_string(i);
                auto data =
                    NSURLConnection::sendSynchronousRequest(requestFor(server.url(path)), nullptr, nullptr);
                if (data && data->toString() == path) ++good;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(good.load(), 80);
}

TEST_F(NSURLConnectionTest, AsynchronousRequestCompletesOnTheGivenQueue) {
    server.setReply("/async", ScriptedReply::text("later"));
    bool called = false;
    bool onMain = false;
    std::string text;
    NSURLConnection::sendAsynchronousRequest(
        requestFor(server.url("/async")), NSOperationQueue::mainQueue(),
        [&](const Ref<NSURLResponse>& r, const std::optional<NSData>& data, const Ref<NSError>& e) {
            called = true;
            onMain = NSThread::isMainThread();
            if (data) text = data->toString();
            EXPECT_FALSE(e);
            EXPECT_TRUE(r);
        });
    EXPECT_FALSE(called);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return called; }, 10));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(text, "later");

    bool failedCalled = false;
    NSURLConnection::sendAsynchronousRequest(
        requestFor("ftp://127.0.0.1/"), NSOperationQueue::mainQueue(),
        [&](const Ref<NSURLResponse>&, const std::optional<NSData>& data, const Ref<NSError>& e) {
            failedCalled = true;
            EXPECT_FALSE(data);
            EXPECT_TRUE(e);
        });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return failedCalled; }, 10));
}

// ---- hostile replies ----------------------------------------------------------------------------
TEST_F(NSURLConnectionTest, MalformedRepliesEndInAnErrorOrAResponseNeverACrash) {
    const std::string valid =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 5\r\nETag: \"x\"\r\n"
        "Cache-Control: max-age=60\r\nLocation: /y\r\n\r\nhello";
    std::vector<std::string> replies = {
        "",
        "garbage\r\n\r\n",
        "HTTP/1.1\r\n\r\n",
        "HTTP/1.1 999999999999 Huge\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc",
        "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nabc",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffffff\r\nabc",
        "HTTP/1.1 200 OK\r\nContent-Type: ;;;charset=\"\r\nContent-Length: 0\r\n\r\n",
        "HTTP/1.1 200 OK\r\nX: " + std::string(200000, 'a') + "\r\n\r\n",
        "HTTP/1.1 302 Found\r\nLocation: http://[bad\r\nContent-Length: 0\r\n\r\n",
        "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"\r\nContent-Length: 0\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 4\r\n\r\nabcd",
    };
    for (unsigned seed = 0; seed < 120; ++seed) replies.push_back(testsupport::mutate(valid, seed));
    int index = 0;
    for (auto& raw : replies) {
        ScriptedReply reply;
        reply.raw = raw;
        std::string path = "/raw" + std::to_string(index++);
        server.setReply(path, reply);
        auto d = std::make_shared<RecordingDelegate>();
        d->onRedirect = [](const Ref<NSURLRequest>&,
                           const Ref<NSURLResponse>&) -> std::optional<Ref<NSURLRequest>> {
            return Ref<NSURLRequest>();
        };
        ASSERT_TRUE(load(requestFor(server.url(path), 2), d, 10)) << path;
        EXPECT_TRUE(d->finished != d->failed) << path;
        if (d->failed) {
            EXPECT_EQ(d->error->domain(), NSURLErrorDomain);
        }
    }
}

}  // namespace
