// Both managers against servers that break the protocol: each failure reaches the failure block
// as the transport's error, never the success block; bodies collected for decoding are bounded;
// and an operation nobody starts is freed.

#include <gtest/gtest.h>

#include <filesystem>

#include "net/HKHTTPRequestOperationManager.h"
#include "net/HKHTTPSessionManager.h"
#include "network/NetworkTesting.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/HostileHTTPServer.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::HostileHTTPServer;

class HostileManagerTest : public nettest::NetTest {
  protected:
    void SetUp() override {
        NetTest::SetUp();
        network_testing::setMaximumInMemoryBodyLength(kBound);
    }
    void TearDown() override {
        network_testing::setMaximumInMemoryBodyLength(std::nullopt);
        NetTest::TearDown();
    }
    static constexpr std::size_t kBound = 1 << 20;
};

// What the session manager's blocks reported.
struct TaskOutcome {
    int successes = 0;
    int failures = 0;
    Ref<NSError> error;
    bool wait() {
        return testsupport::pumpMainRunLoopUntil([this] { return successes + failures > 0; }, 20);
    }
};

std::string withLength(const std::string& fields, const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + fields + "\r\n" + body;
}

}  // namespace

TEST_F(HostileManagerTest, BothManagersSeeEachFailure) {
    const std::string gzip = HostileHTTPServer::compress(R"({"a":")" + std::string(4000, 'x') + R"("})",
                                                         HostileHTTPServer::Compression::Gzip);
    struct Case {
        const char* what;
        HostileHTTPServer::Behaviour behaviour;
        long code;
    } cases[] = {
        {"two lengths", HostileHTTPServer::raw(withLength("Content-Length: 7\r\n", "{}")),
         NSURLErrorBadServerResponse},
        {"broken status line", HostileHTTPServer::raw("HTTP/1.1 2OO OK\r\nContent-Length: 2\r\n\r\n{}"),
         NSURLErrorBadServerResponse},
        {"gzip cut short",
         HostileHTTPServer::raw(withLength("Content-Encoding: gzip\r\n", gzip.substr(0, gzip.size() / 2))),
         NSURLErrorCannotDecodeRawData},
        {"endless body", HostileHTTPServer::endless("HTTP/1.1 200 OK\r\nContent-Type: application/json"),
         NSURLErrorDataLengthExceedsMaximum},
        {"declared too long",
         HostileHTTPServer::endless("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 9"
                                    "999999999"),
         NSURLErrorDataLengthExceedsMaximum},
    };
    auto operations = make<HKHTTPRequestOperationManager>();
    auto sessions = make<HKHTTPSessionManager>();
    for (auto& c : cases) {
        HostileHTTPServer server(c.behaviour);
        nettest::Outcome viaOperation;
        operations->GET(server.url("/x"), Value(), viaOperation.success(), viaOperation.failure());
        ASSERT_TRUE(viaOperation.wait(20)) << c.what;
        EXPECT_EQ(viaOperation.successes, 0) << c.what;
        ASSERT_TRUE(viaOperation.error) << c.what;
        EXPECT_EQ(viaOperation.error->code(), c.code) << c.what;

        TaskOutcome viaTask;
        sessions->GET(
            server.url("/x"), Value(),
            [&](const Ref<NSURLSessionDataTask>&, const Value&) { ++viaTask.successes; },
            [&](const Ref<NSURLSessionDataTask>&, const Ref<NSError>& e) {
                ++viaTask.failures;
                viaTask.error = e;
            });
        ASSERT_TRUE(viaTask.wait()) << c.what;
        EXPECT_EQ(viaTask.successes, 0) << c.what;
        ASSERT_TRUE(viaTask.error) << c.what;
        EXPECT_EQ(viaTask.error->code(), c.code) << c.what;
    }
    sessions->session()->invalidateAndCancel();
}

TEST_F(HostileManagerTest, ABodyWrittenToTheCallersStreamIsNotBounded) {
    testsupport::TemporaryDirectory directory;
    std::string body(3 * kBound, 'f');
    HostileHTTPServer server(HostileHTTPServer::raw(withLength("", body)));
    auto op =
        make<HKHTTPRequestOperation>(NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/f"))));
    op->setOutputStream(NSOutputStream::outputStreamToFileAtPath(directory.file("body"), false));
    nettest::Outcome outcome;
    op->setCompletionBlockWithSuccess(outcome.success(), outcome.failure());
    op->start();
    ASSERT_TRUE(outcome.wait(20));
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_EQ(std::filesystem::file_size(directory.file("body")), body.size());
}

TEST_F(HostileManagerTest, AnOperationNeverStartedIsFreedAndAStartedOneLivesUntilItsBlocksRan) {
    auto request = NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/j")));
    server.setReply("/j", nettest::json("{}"));
    Weak<HKHTTPRequestOperation> idle;
    {
        auto op = make<HKHTTPRequestOperation>(request);
        op->setCompletionBlockWithSuccess([](const Ref<HKHTTPRequestOperation>&, const Value&) {},
                                          [](const Ref<HKHTTPRequestOperation>&, const Ref<NSError>&) {});
        idle = op;
    }
    EXPECT_TRUE(idle.expired());

    Weak<HKHTTPRequestOperation> started;
    nettest::Outcome outcome;
    {
        auto op = make<HKHTTPRequestOperation>(request);
        op->setCompletionBlockWithSuccess(outcome.success(), outcome.failure());
        started = op;
        op->start();
    }
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_EQ(outcome.operation, started.lock());  // the block received the live operation
    outcome.operation.reset();
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return started.expired(); }, 5));
}
