// A request whose connection dies after it went out: the server may already have acted on it, so
// only a request whose repetition does no harm is sent again (once); any other fails as a lost
// connection and is never doubled.

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>

#include "foundation/NSStream.h"
#include "network/NSURLConnection.h"
#include "network/NSURLSession.h"
#include "tests/network/NetworkTestSupport.h"
#include "tests/support/DroppingHTTPServer.h"

namespace {

using testsupport::DroppingHTTPServer;
using Drop = DroppingHTTPServer::Drop;

enum class Body { None, Data, Stream };

struct Loaded {
    std::optional<NSData> data;
    Ref<NSError> error;
    long code() const { return error ? error->code() : 0; }
};

Loaded send(const DroppingHTTPServer& server, const std::string& method, Body body,
            const std::string& path = "/register.do") {
    auto request = nettest::requestFor(server.url(path));
    request->setHTTPMethod(method);
    const NSData payload = NSData::fromString("name=driver&password=secret");
    if (body == Body::Data) request->setHTTPBody(payload);
    if (body == Body::Stream) request->setHTTPBodyStream(NSInputStream::inputStreamWithData(payload));
    Loaded out;
    Ref<NSURLResponse> response;
    out.data = NSURLConnection::sendSynchronousRequest(request, &response, &out.error);
    return out;
}

// A GET answered on a connection the transport keeps alive, so that the next request reuses it.
void warmUp(DroppingHTTPServer& server) {
    server.setAnswered(1);
    Loaded warm = send(server, "GET", Body::None, "/warm");
    ASSERT_FALSE(warm.error) << warm.code();
}

}  // namespace

TEST(RequestResend, ARequestOnADeadKeptAliveConnectionIsSentAgainOnlyWhenThatIsHarmless) {
    struct Case {
        const char* what;
        std::string method;
        Body body;
        Drop drop;
        int answeredAfterWarmUp;  // 1: a new connection answers; 0: it is dropped too
        int sends;
        bool loads;
    } cases[] = {
        {"POST with a body", "POST", Body::Data, Drop::Close, 1, 1, false},
        {"POST with a body, reset", "POST", Body::Data, Drop::Reset, 1, 1, false},
        {"POST without a body", "POST", Body::None, Drop::Close, 1, 1, false},
        {"POST of a stream", "POST", Body::Stream, Drop::Close, 1, 1, false},
        {"PATCH", "PATCH", Body::Data, Drop::Close, 1, 1, false},
        {"PUT of a stream", "PUT", Body::Stream, Drop::Close, 1, 1, false},
        {"GET", "GET", Body::None, Drop::Close, 1, 2, true},
        {"GET, reset", "GET", Body::None, Drop::Reset, 1, 2, true},
        {"GET dropped on the new connection too", "GET", Body::None, Drop::Close, 0, 2, false},
        {"HEAD", "HEAD", Body::None, Drop::Close, 1, 2, true},
        {"PUT with a body", "PUT", Body::Data, Drop::Close, 1, 2, true},
        {"DELETE", "DELETE", Body::None, Drop::Close, 1, 2, true},
        {"OPTIONS", "OPTIONS", Body::None, Drop::Close, 1, 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DroppingHTTPServer server(1, c.drop);
        warmUp(server);
        const int before = server.received(c.method);
        // The reused connection is dropped once the request arrived whole.
        server.setAnswered(c.answeredAfterWarmUp);
        Loaded loaded = send(server, c.method, c.body);
        EXPECT_EQ(server.received(c.method) - before, c.sends);
        if (c.loads) {
            EXPECT_FALSE(loaded.error) << loaded.code();
        } else {
            EXPECT_FALSE(loaded.data);
            EXPECT_EQ(loaded.code(), NSURLErrorNetworkConnectionLost);
        }
    }
}

TEST(RequestResend, APostOnANewConnectionThatDiesIsSentOnce) {
    for (Drop drop : {Drop::Close, Drop::Reset}) {
        DroppingHTTPServer server(0, drop);
        Loaded loaded = send(server, "POST", Body::Data);
        EXPECT_EQ(server.received("POST"), 1);
        EXPECT_EQ(loaded.code(), NSURLErrorNetworkConnectionLost);
    }
}

TEST(RequestResend, ASessionUploadOnADeadConnectionFailsOnceWithTheLostConnection) {
    DroppingHTTPServer server(1);
    warmUp(server);
    server.setAnswered(0);
    auto session =
        NSURLSession::sessionWithConfiguration(NSURLSessionConfiguration::defaultSessionConfiguration());
    auto request = nettest::requestFor(server.url("/upload"));
    request->setHTTPMethod("POST");
    std::atomic<bool> done{false};
    Ref<NSError> error;
    auto task = session->uploadTaskWithRequest(
        request, NSData::fromString(std::string(64 * 1024, 'u')),
        [&](const std::optional<NSData>&, const Ref<NSURLResponse>&, const Ref<NSError>& e) {
            error = e;
            done = true;
        });
    task->resume();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done.load(); }, 20));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSURLErrorNetworkConnectionLost);
    EXPECT_EQ(server.received("POST"), 1);
    session->invalidateAndCancel();
}
