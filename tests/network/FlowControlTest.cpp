// Flow control in URL loading: the transport reads no faster than the consumer takes the body.
// A reply that inflates to hundreds of MiB stops where its delegate cancels, a slow consumer
// gets every byte in order, a paused load ends at once on cancel and does not time out while
// its consumer is merely slow, and the bodies held or collected stay bounded.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "network/NSData+URL.h"
#include "network/NSURLConnection.h"
#include "network/NSURLSession.h"
#include "network/NSURLTransport.h"
#include "network/NetworkTesting.h"
#include "tests/network/NetworkTestSupport.h"
#include "tests/support/HostileHTTPServer.h"

namespace {

using testsupport::HostileHTTPServer;
using Compression = HostileHTTPServer::Compression;
constexpr std::size_t kMiB = 1024 * 1024;
// One block of libcurl's or of the decoder's output may pass the bound before the check.
constexpr std::size_t kSlack = 64 * 1024;

// Waits on real time without turning the main run loop, as a busy main thread would.
bool waitWithoutTurning(const std::function<bool()>& condition, double seconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool transfersEnd(double seconds = 5) {
    return waitWithoutTurning([] { return detail::URLTransport::shared().activeTransfers() == 0; }, seconds);
}

// A body whose bytes tell their place, so that a lost, doubled or swapped run shows.
std::string patterned(std::size_t length) {
    std::string out(length, '\0');
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<char>((i * 7 + i / 4093) & 0xff);
    return out;
}

// A 200 reply with the body, gzip-encoded or not, its length declared or sent in chunks.
std::string replyWith(const std::string& body, bool gzip, bool chunked = false) {
    std::string wire = gzip ? HostileHTTPServer::compress(body, Compression::Gzip) : body;
    std::string head = std::string("HTTP/1.1 200 OK\r\n") + (gzip ? "Content-Encoding: gzip\r\n" : "");
    if (!chunked) return head + "Content-Length: " + std::to_string(wire.size()) + "\r\n\r\n" + wire;
    std::string out = head + "Transfer-Encoding: chunked\r\n\r\n";
    char size[32];
    for (std::size_t at = 0; at < wire.size(); at += 10000) {
        std::string piece = wire.substr(at, 10000);
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        out += size + piece + "\r\n";
    }
    return out + "0\r\n\r\n";
}

class FlowControl : public ::testing::Test {
  protected:
    void SetUp() override { network_testing::resetLargestUndeliveredBytes(); }
    void TearDown() override {
        network_testing::setFlowControlBound(std::nullopt);
        EXPECT_TRUE(transfersEnd());
    }
    // A lower bound keeps the bodies that are several times it small.
    static void lowerBound() { network_testing::setFlowControlBound(kBound); }
    static constexpr std::size_t kBound = 256 * 1024;
};

// A connection delegate that cancels its connection once its body passes a cap.
class CappedConnectionDelegate : public nettest::RecordingDelegate {
  public:
    explicit CappedConnectionDelegate(std::size_t cap) : cap_(cap) {}
    std::size_t seenAtCancel = 0;

    void connectionDidReceiveData(const Ref<NSURLConnection>& connection, const NSData& data) override {
        RecordingDelegate::connectionDidReceiveData(connection, data);
        if (!seenAtCancel && body.length() > cap_) {
            seenAtCancel = body.length();
            connection->cancel();
        }
    }

  private:
    std::size_t cap_;
};

// A session delegate that counts the body and cancels its task past a cap.
class CappedSessionDelegate : public NSObject, public NSURLSessionDataDelegate {
  public:
    explicit CappedSessionDelegate(std::size_t cap) : cap_(cap) {}
    std::string className() const override { return "CappedSessionDelegate"; }

    std::atomic<std::size_t> received{0};
    std::atomic<std::size_t> afterCancel{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> completed{false};
    Ref<NSError> error;  // set before `completed`

    void URLSessionDataTaskDidReceiveData(const Ref<NSURLSession>&, const Ref<NSURLSessionDataTask>& task,
                                          const NSData& data) override {
        if (cancelled) afterCancel += data.length();
        received += data.length();
        if (received > cap_ && !cancelled.exchange(true)) task->cancel();
    }
    void URLSessionTaskDidCompleteWithError(const Ref<NSURLSession>&, const Ref<NSURLSessionTask>&,
                                            const Ref<NSError>& e) override {
        error = e;
        completed = true;
    }

  private:
    std::size_t cap_;
};

}  // namespace

// A reply of 40 MiB that inflates to 40 GiB, more than the socket buffers on both sides hold,
// read by a consumer that gives up at 16 MiB: the load stops there with the real bound,
// whoever consumes it, and the server finds the connection closed before its body's end.
TEST_F(FlowControl, AGzipBombStopsWhereItsConsumerCancels) {
    constexpr std::size_t kCap = 16 * kMiB;
    constexpr std::size_t kDecodedMiB = 40 * 1024;
    const std::size_t bound = detail::flowControlBound();
    ASSERT_EQ(bound, 4 * kMiB);
    enum class Consumer { Connection, SessionTask };
    for (Consumer consumer : {Consumer::Connection, Consumer::SessionTask}) {
        SCOPED_TRACE(consumer == Consumer::Connection ? "connection" : "session task");
        network_testing::resetLargestUndeliveredBytes();
        std::atomic<std::size_t> sent{0};
        std::atomic<bool> whole{false};
        HostileHTTPServer server(HostileHTTPServer::gzipBomb(kDecodedMiB, &sent, &whole));
        std::size_t seen = 0, seenAfterCancel = 0;
        bool succeeded = false;
        if (consumer == Consumer::Connection) {
            auto delegate = std::make_shared<CappedConnectionDelegate>(kCap);
            auto connection = make<NSURLConnection>(nettest::requestFor(server.url("/bomb")), delegate, true);
            ASSERT_TRUE(testsupport::pumpMainRunLoopUntil(
                [&] { return delegate->seenAtCancel || delegate->done(); }, 30));
            testsupport::pumpMainRunLoop(0.2);
            seen = delegate->seenAtCancel;
            seenAfterCancel = delegate->body.length() - seen;
            succeeded = delegate->finished;
            EXPECT_FALSE(delegate->done());
        } else {
            auto delegate = make<CappedSessionDelegate>(kCap);
            auto session = NSURLSession::sessionWithConfiguration(
                NSURLSessionConfiguration::defaultSessionConfiguration(), delegate, nullptr);
            session->dataTaskWithRequest(nettest::requestFor(server.url("/bomb")))->resume();
            ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return delegate->completed.load(); }, 30));
            seen = delegate->received - delegate->afterCancel;
            seenAfterCancel = delegate->afterCancel;
            ASSERT_TRUE(delegate->error);
            EXPECT_EQ(delegate->error->code(), NSURLErrorCancelled);
            session->invalidateAndCancel();
        }
        EXPECT_FALSE(succeeded);
        EXPECT_LE(seen, kCap + bound + kSlack);
        EXPECT_EQ(seenAfterCancel, 0u);
        EXPECT_LE(network_testing::largestUndeliveredBytes(), bound + kSlack);
        // The transfer stops: the server finds the connection closed well before its body's end.
        EXPECT_TRUE(transfersEnd());
        server.stop();
        EXPECT_FALSE(whole.load());
        EXPECT_LT(sent.load(), HostileHTTPServer::gzipBombLength(kDecodedMiB));
    }
}

// A consumer that does not turn its run loop for a while, then does: the load waits for it
// (paused, within the bound, not timed out although its time-out is far shorter than the wait)
// and then delivers the whole body, in order, once.
TEST_F(FlowControl, ASlowConsumerGetsEveryByteInOrder) {
    lowerBound();
    const std::string body = patterned(8 * kBound + 12345);
    struct Case {
        const char* what;
        bool gzip, chunked;
    } cases[] = {
        {"identity", false, false},
        {"gzip", true, false},
        {"identity, chunked", false, true},
        {"gzip, chunked", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        network_testing::resetLargestUndeliveredBytes();
        HostileHTTPServer server(HostileHTTPServer::raw(replyWith(body, c.gzip, c.chunked)));
        auto delegate = std::make_shared<nettest::RecordingDelegate>();
        auto connection =
            make<NSURLConnection>(nettest::requestFor(server.url("/slow"), 0.3), delegate, true);
        // The transport reaches the bound and stops there while the main thread is busy.
        EXPECT_TRUE(waitWithoutTurning(
            [] { return network_testing::largestUndeliveredBytes() >= FlowControl::kBound; }, 5));
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        EXPECT_LE(network_testing::largestUndeliveredBytes(), kBound + kSlack);
        EXPECT_EQ(delegate->calls, 0);
        ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return delegate->done(); }, 20));
        ASSERT_TRUE(delegate->finished) << (delegate->error ? delegate->error->code() : 0);
        EXPECT_EQ(delegate->body.length(), body.size());
        EXPECT_TRUE(delegate->body.toString() == body);
        EXPECT_EQ(delegate->events.front(), "response 200");
        EXPECT_EQ(delegate->events.back(), "finish");
        EXPECT_LE(network_testing::largestUndeliveredBytes(), kBound + kSlack);
    }
}

// Cancelling a paused load ends it at once; a server that goes silent still times out, paused
// or not.
TEST_F(FlowControl, CancelWhilePausedEndsAtOnceAndASilentServerStillTimesOut) {
    lowerBound();
    {
        HostileHTTPServer endless(HostileHTTPServer::endless("HTTP/1.1 200 OK"));
        auto delegate = std::make_shared<nettest::RecordingDelegate>();
        auto connection = make<NSURLConnection>(nettest::requestFor(endless.url("/endless")), delegate, true);
        ASSERT_TRUE(waitWithoutTurning(
            [] { return network_testing::largestUndeliveredBytes() >= FlowControl::kBound; }, 5));
        connection->cancel();
        EXPECT_TRUE(transfersEnd(1));
        testsupport::pumpMainRunLoop(0.1);
        EXPECT_EQ(delegate->calls, 0);
        EXPECT_LE(network_testing::largestUndeliveredBytes(), kBound + kSlack);
    }
    const std::string part = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nsome of it";
    HostileHTTPServer silent([&](HostileHTTPServer::Channel& channel) {
        if (channel.write(part)) channel.waitUntilClosed();
    });
    auto delegate = std::make_shared<nettest::RecordingDelegate>();
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(nettest::load(nettest::requestFor(silent.url("/silent"), 0.3), delegate, 10));
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_TRUE(delegate->error);
    EXPECT_EQ(delegate->error->code(), NSURLErrorTimedOut);
    EXPECT_EQ(delegate->body.toString(), "some of it");
    EXPECT_LT(took, 5);
}

// The loads that collect a whole body have it once: what waits to be handed over stays within
// the bound beside what they collected.
TEST_F(FlowControl, CollectingLoadsGetTheWholeBodyWithinTheBound) {
    lowerBound();
    const std::string body = patterned(6 * kBound + 777);
    HostileHTTPServer server(HostileHTTPServer::raw(replyWith(body, true)));
    auto url = NSURL::URLWithString(server.url("/whole"));
    struct Case {
        const char* what;
        std::function<std::optional<NSData>()> load;
    } cases[] = {
        {"synchronous",
         [&] {
             Ref<NSError> error;
             return NSURLConnection::sendSynchronousRequest(NSURLRequest::requestWithURL(url), nullptr,
                                                            &error);
         }},
        {"asynchronous",
         [&] {
             std::optional<NSData> data;
             std::atomic<bool> done{false};
             NSURLConnection::sendAsynchronousRequest(
                 NSURLRequest::requestWithURL(url), NSOperationQueue::mainQueue(),
                 [&](const Ref<NSURLResponse>&, const std::optional<NSData>& d, const Ref<NSError>&) {
                     data = d;
                     done = true;
                 });
             testsupport::pumpMainRunLoopUntil([&] { return done.load(); }, 20);
             return data;
         }},
        {"session task",
         [&] {
             std::optional<NSData> data;
             std::atomic<bool> done{false};
             auto session = NSURLSession::sharedSession();
             session
                 ->dataTaskWithRequest(
                     NSURLRequest::requestWithURL(url),
                     [&](const std::optional<NSData>& d, const Ref<NSURLResponse>&, const Ref<NSError>&) {
                         data = d;
                         done = true;
                     })
                 ->resume();
             testsupport::pumpMainRunLoopUntil([&] { return done.load(); }, 20);
             return data;
         }},
        {"contents of URL", [&] { return NSData_URL::dataWithContentsOfURL(url, nullptr); }},
    };
    for (const auto& c : cases) {
        network_testing::resetLargestUndeliveredBytes();
        auto data = c.load();
        ASSERT_TRUE(data) << c.what;
        EXPECT_TRUE(data->toString() == body) << c.what;
        EXPECT_LE(network_testing::largestUndeliveredBytes(), kBound + kSlack) << c.what;
    }
    // The bomb's stream is sound: read to its end it inflates to exactly its zeros.
    HostileHTTPServer bomb(HostileHTTPServer::gzipBomb(3));
    Ref<NSError> error;
    auto zeros =
        NSURLConnection::sendSynchronousRequest(nettest::requestFor(bomb.url("/zeros")), nullptr, &error);
    ASSERT_TRUE(zeros) << (error ? error->code() : 0);
    EXPECT_TRUE(zeros->toString() == std::string(3 * kMiB, '\0'));
}

// A suspended session task holds its callbacks: its load pauses at the bound meanwhile, and
// resumed it completes whole.
TEST_F(FlowControl, ASuspendedSessionTaskPausesItsLoad) {
    lowerBound();
    const std::string body = patterned(8 * kBound + 99);
    HostileHTTPServer server(HostileHTTPServer::raw(replyWith(body, false)));
    auto delegate = make<CappedSessionDelegate>(SIZE_MAX);
    auto session = NSURLSession::sessionWithConfiguration(
        NSURLSessionConfiguration::defaultSessionConfiguration(), delegate, nullptr);
    auto task = session->dataTaskWithRequest(nettest::requestFor(server.url("/held"), 0.3));
    task->resume();
    task->suspend();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil(
        [] { return network_testing::largestUndeliveredBytes() >= FlowControl::kBound; }, 5));
    testsupport::pumpMainRunLoop(0.6);
    EXPECT_LE(network_testing::largestUndeliveredBytes(), kBound + kSlack);
    EXPECT_FALSE(delegate->completed.load());
    task->resume();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return delegate->completed.load(); }, 20));
    EXPECT_FALSE(delegate->error) << delegate->error->code();
    EXPECT_EQ(delegate->received.load(), body.size());
    session->invalidateAndCancel();
}

// The body of a redirect is held until the delegate decides, and only up to a bound: followed,
// the load goes on; stopped at, a body past the bound is not passed off as whole.
TEST_F(FlowControl, AHeldRedirectBodyIsBounded) {
    const std::string big(3 * kMiB, 'r');
    auto served = std::make_shared<std::atomic<int>>(0);
    HostileHTTPServer server([&, served](HostileHTTPServer::Channel& channel) {
        if ((*served)++ % 2 == 0) {
            channel.write("HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: " +
                          std::to_string(big.size()) + "\r\n\r\n" + big);
        } else {
            channel.write("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone");
        }
    });
    for (bool follow : {true, false}) {
        SCOPED_TRACE(follow ? "followed" : "stopped at");
        auto delegate = std::make_shared<nettest::RecordingDelegate>();
        if (!follow)
            delegate->onRedirect = [](auto&, auto&) { return std::optional<Ref<NSURLRequest>>(nullptr); };
        ASSERT_TRUE(nettest::load(nettest::requestFor(server.url("/moved")), delegate, 20));
        if (follow) {
            EXPECT_TRUE(delegate->finished);
            EXPECT_EQ(delegate->body.toString(), "done");
        } else {
            EXPECT_EQ(delegate->status(), 302);
            ASSERT_TRUE(delegate->error);
            EXPECT_EQ(delegate->error->code(), NSURLErrorDataLengthExceedsMaximum);
            EXPECT_TRUE(delegate->body.empty());
        }
        *served = 0;
    }
}
