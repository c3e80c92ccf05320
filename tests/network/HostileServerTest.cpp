// URL loading against servers that break the protocol on purpose: conflicting lengths, broken
// status lines, compressed bodies cut short, bodies that never end and heads with thousands of
// fields. Each must end in a clear error (never a success) with bounded memory.

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>

#include "network/NSURLConnection.h"
#include "network/NSURLSession.h"
#include "network/NetworkTesting.h"
#include "tests/network/NetworkTestSupport.h"
#include "tests/support/HostileHTTPServer.h"

namespace {

using testsupport::HostileHTTPServer;
using Compression = HostileHTTPServer::Compression;

struct Loaded {
    std::optional<NSData> data;
    Ref<NSURLResponse> response;
    Ref<NSError> error;
    long code() const { return error ? error->code() : 0; }
};

Loaded fetch(const HostileHTTPServer& server) {
    Loaded out;
    out.data = NSURLConnection::sendSynchronousRequest(nettest::requestFor(server.url("/x")), &out.response,
                                                       &out.error);
    return out;
}

std::string reply(const std::string& fields, const std::string& body) {
    return "HTTP/1.1 200 OK\r\n" + fields + "\r\n" + body;
}

std::string withLength(const std::string& body, const std::string& more = "") {
    return reply("Content-Length: " + std::to_string(body.size()) + "\r\n" + more, body);
}

const std::string kText = std::string(3000, 'a') + "the middle" + std::string(3000, 'b');

class InMemoryBound : public ::testing::Test {
  protected:
    void SetUp() override { network_testing::setMaximumInMemoryBodyLength(kBound); }
    void TearDown() override { network_testing::setMaximumInMemoryBodyLength(std::nullopt); }
    static constexpr std::size_t kBound = 1 << 20;
};

}  // namespace

// Replies that must fail, and how.
TEST(HostileServer, BrokenRepliesFailWithTheirError) {
    const std::string gzip = HostileHTTPServer::compress(kText, Compression::Gzip);
    const std::string cut = gzip.substr(0, gzip.size() / 2);
    std::string corrupt = gzip;
    corrupt[gzip.size() / 2] ^= 0x55;
    corrupt[gzip.size() / 2 + 1] ^= 0x55;
    struct Case {
        const char* what;
        std::string bytes;
        long code;
    } cases[] = {
        {"two lengths", reply("Content-Length: 3\r\nContent-Length: 6\r\n", "abcdef"),
         NSURLErrorBadServerResponse},
        {"a list of two lengths", reply("Content-Length: 6, 3\r\n", "abcdef"), NSURLErrorBadServerResponse},
        {"a length that is no number", reply("Content-Length: 6x\r\n", "abcdef"),
         NSURLErrorBadServerResponse},
        {"status with a letter", "HTTP/1.1 2x0 OK\r\nContent-Length: 0\r\n\r\n", NSURLErrorBadServerResponse},
        {"status of two digits", "HTTP/1.1 20 OK\r\nContent-Length: 0\r\n\r\n", NSURLErrorBadServerResponse},
        {"status of four digits", "HTTP/1.1 2000 OK\r\nContent-Length: 0\r\n\r\n",
         NSURLErrorBadServerResponse},
        {"no version", "HTTP/ 200 OK\r\nContent-Length: 0\r\n\r\n", NSURLErrorBadServerResponse},
        {"not HTTP at all", "SPDY/9 200 OK\r\nContent-Length: 0\r\n\r\n", NSURLErrorBadServerResponse},
        {"gzip cut short", withLength(cut, "Content-Encoding: gzip\r\n"), NSURLErrorCannotDecodeRawData},
        {"gzip cut short, no length", reply("Content-Encoding: gzip\r\n", cut),
         NSURLErrorCannotDecodeRawData},
        {"gzip corrupted", withLength(corrupt, "Content-Encoding: gzip\r\n"), NSURLErrorCannotDecodeRawData},
        {"an unknown coding", withLength("abc", "Content-Encoding: squash\r\n"),
         NSURLErrorCannotDecodeRawData},
    };
    for (const auto& c : cases) {
        HostileHTTPServer server(HostileHTTPServer::raw(c.bytes));
        Loaded loaded = fetch(server);
        EXPECT_FALSE(loaded.data) << c.what;
        EXPECT_EQ(loaded.code(), c.code) << c.what;
        EXPECT_EQ(loaded.error ? loaded.error->domain() : "", NSURLErrorDomain) << c.what;
    }
}

// Their sound neighbours still load.
TEST(HostileServer, SoundRepliesNextToTheBrokenOnesLoad) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string body;
    } cases[] = {
        {"one length twice", reply("Content-Length: 3\r\nContent-Length: 3\r\n", "abc"), "abc"},
        {"gzip",
         withLength(HostileHTTPServer::compress(kText, Compression::Gzip), "Content-Encoding: gzip\r\n"),
         kText},
        {"x-gzip",
         withLength(HostileHTTPServer::compress(kText, Compression::Gzip), "Content-Encoding: x-gzip\r\n"),
         kText},
        {"deflate",
         withLength(HostileHTTPServer::compress(kText, Compression::Zlib), "Content-Encoding: deflate\r\n"),
         kText},
        {"bare deflate",
         withLength(HostileHTTPServer::compress(kText, Compression::RawDeflate),
                    "Content-Encoding: deflate\r\n"),
         kText},
        {"two gzip members",
         withLength(HostileHTTPServer::compress("one ", Compression::Gzip) +
                        HostileHTTPServer::compress("two", Compression::Gzip),
                    "Content-Encoding: gzip\r\n"),
         "one two"},
        {"gzip with no body", withLength("", "Content-Encoding: gzip\r\n"), ""},
        {"HTTP/2 style version", "HTTP/1.0 204 No Content\r\n\r\n", ""},
    };
    for (const auto& c : cases) {
        HostileHTTPServer server(HostileHTTPServer::raw(c.bytes));
        Loaded loaded = fetch(server);
        EXPECT_FALSE(loaded.error) << c.what << ": " << loaded.code();
        EXPECT_EQ(loaded.data.value_or(NSData()).toString(), c.body) << c.what;
    }
}

TEST(HostileServer, TenThousandFieldsArriveWholeAndAnOversizedHeadFails) {
    HostileHTTPServer many(HostileHTTPServer::manyFields(10000, "ok"));
    Loaded loaded = fetch(many);
    ASSERT_FALSE(loaded.error) << loaded.code();
    auto http = asKind<NSHTTPURLResponse>(loaded.response);
    ASSERT_TRUE(http);
    EXPECT_EQ(http->allHeaderFields().count(), 10001u);  // and Content-Length
    EXPECT_EQ(http->valueForHTTPHeaderField("x-field-9999"), "9999");
    EXPECT_EQ(loaded.data->toString(), "ok");

    // Repeated names, whatever their case, are one field.
    HostileHTTPServer repeated(
        HostileHTTPServer::raw(withLength("", std::string("Via: a\r\nvia: b\r\nVIA: c\r\n"))));
    auto joined = asKind<NSHTTPURLResponse>(fetch(repeated).response);
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->valueForHTTPHeaderField("Via"), "a, b, c");

    // A head past any sane size is refused rather than collected.
    std::string huge = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; huge.size() < 300 * 1024; ++i)
        huge += "X-" + std::to_string(i) + ": " + std::string(60, 'v') + "\r\n";
    HostileHTTPServer oversized(HostileHTTPServer::raw(huge + "Content-Length: 0\r\n\r\n"));
    EXPECT_EQ(fetch(oversized).code(), NSURLErrorBadServerResponse);
}

TEST_F(InMemoryBound, AnEndlessBodyFailsTheCollectingLoadsAtTheBound) {
    HostileHTTPServer endless(HostileHTTPServer::endless("HTTP/1.1 200 OK"));
    Loaded loaded = fetch(endless);
    EXPECT_FALSE(loaded.data);
    EXPECT_EQ(loaded.code(), NSURLErrorDataLengthExceedsMaximum);
    // A declared length past the bound fails at the head.
    HostileHTTPServer declared(HostileHTTPServer::endless("HTTP/1.1 200 OK\r\nContent-Length: 999999999999"));
    EXPECT_EQ(fetch(declared).code(), NSURLErrorDataLengthExceedsMaximum);
    // A body of exactly the bound still fits.
    HostileHTTPServer exact(HostileHTTPServer::raw(withLength(std::string(kBound, 'e'))));
    Loaded fits = fetch(exact);
    ASSERT_TRUE(fits.data) << fits.code();
    EXPECT_EQ(fits.data->length(), kBound);
}

TEST_F(InMemoryBound, AnEndlessBodyFailsASessionTaskThatCollectsIt) {
    HostileHTTPServer server(HostileHTTPServer::endless("HTTP/1.1 200 OK"));
    auto session =
        NSURLSession::sessionWithConfiguration(NSURLSessionConfiguration::defaultSessionConfiguration());
    std::atomic<bool> done{false};
    Ref<NSError> error;
    bool hadData = true;
    auto task = session->dataTaskWithRequest(
        nettest::requestFor(server.url("/x")),
        [&](const std::optional<NSData>& data, const Ref<NSURLResponse>&, const Ref<NSError>& e) {
            hadData = data.has_value();
            error = e;
            done = true;
        });
    task->resume();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done.load(); }, 20));
    EXPECT_FALSE(hadData);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSURLErrorDataLengthExceedsMaximum);
    session->invalidateAndCancel();
}

TEST_F(InMemoryBound, AStreamingDelegateIsNotBounded) {
    HostileHTTPServer server(HostileHTTPServer::endless("HTTP/1.1 200 OK"));
    auto delegate = std::make_shared<nettest::RecordingDelegate>();
    delegate->expectMainThread = false;
    auto connection = make<NSURLConnection>(nettest::requestFor(server.url("/x")), delegate, true);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil(
        [&] { return delegate->body.length() > 3 * kBound || delegate->done(); }, 20));
    EXPECT_FALSE(delegate->done());
    connection->cancel();
}
