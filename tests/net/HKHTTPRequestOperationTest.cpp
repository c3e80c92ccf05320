// The HTTP request operation: decoding with its serialiser, success and failure wiring, error
// precedence, the completion group, pausing with a byte range and resuming, coding and copying.

#include "net/HKHTTPRequestOperation.h"

#include <gtest/gtest.h>

#include <atomic>

#include "foundation/NSKeyedArchiver.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/TestSupport.h"

using nettest::Outcome;
using testsupport::ScriptedReply;

namespace {

// Counts how often it is asked to decode.
class CountingSerializer : public HKJSONResponseSerializer {
  public:
    std::atomic<int> calls{0};
    Value responseObjectForResponse(const Ref<NSURLResponse>& response, const std::optional<NSData>& data,
                                    Ref<NSError>* error) override {
        ++calls;
        return HKJSONResponseSerializer::responseObjectForResponse(response, data, error);
    }
};

class HTTPOperationTest : public nettest::NetTest {
  protected:
    Ref<HKHTTPRequestOperation> operation(const std::string& path) {
        return make<HKHTTPRequestOperation>(
            NSURLRequest::requestWithURL(NSURL::URLWithString(server.url(path))));
    }
};

TEST_F(HTTPOperationTest, DefaultsToThePlainSerializer) {
    auto op = operation("/x");
    EXPECT_EQ(op->responseSerializer()->className(), "HKHTTPResponseSerializer");
    EXPECT_TRUE(op->responseObject().isNil());  // not finished: nothing decoded
}

TEST_F(HTTPOperationTest, SuccessGetsTheDecodedObjectOnTheMainQueue) {
    server.setReply("/j", nettest::json(R"({"a":1})"));
    auto op = operation("/j");
    op->setResponseSerializer(HKJSONResponseSerializer::serializer());
    Outcome outcome;
    op->setCompletionBlockWithSuccess(outcome.success(), outcome.failure());
    op->start();
    ASSERT_TRUE(outcome.wait());
    testsupport::drainMainRunLoop();
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_EQ(outcome.failures, 0);
    EXPECT_FALSE(outcome.offMainThread);
    EXPECT_EQ(outcome.object["a"].intValue(), 1);
    EXPECT_EQ(op->HTTPResponse()->statusCode(), 200);
}

TEST_F(HTTPOperationTest, TransportErrorsNeverReachTheSerializer) {
    server.stop();
    auto op = operation("/j");
    auto serializer = make<CountingSerializer>();
    op->setResponseSerializer(serializer);
    Outcome outcome;
    op->setCompletionBlockWithSuccess(outcome.success(), outcome.failure());
    op->start();
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.error->domain(), NSURLErrorDomain);
    EXPECT_TRUE(op->responseObject().isNil());
    EXPECT_EQ(serializer->calls.load(), 0);
}

TEST_F(HTTPOperationTest, SerializerErrorBecomesTheOperationsError) {
    server.setReply("/j", nettest::json(R"({"a":1})", 500));
    auto op = operation("/j");
    op->setResponseSerializer(HKJSONResponseSerializer::serializer());
    Outcome outcome;
    op->setCompletionBlockWithSuccess(outcome.success(), outcome.failure());
    op->start();
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.error->code(), NSURLErrorBadServerResponse);
    EXPECT_EQ(op->error(), op->responseSerializationError());
    // The object decoded alongside the error stays readable.
    EXPECT_EQ(op->responseObject()["a"].intValue(), 1);
}

TEST_F(HTTPOperationTest, DecodesOnceAndAgainAfterTheSerializerChanges) {
    server.setReply("/j", nettest::json(R"({"a":1})"));
    auto op = operation("/j");
    auto counting = make<CountingSerializer>();
    op->setResponseSerializer(counting);
    op->start();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return op->isFinished(); }, 10));
    EXPECT_EQ(op->responseObject()["a"].intValue(), 1);
    op->responseObject();
    EXPECT_EQ(counting->calls.load(), 1);

    op->setResponseSerializer(HKHTTPResponseSerializer::serializer());
    EXPECT_EQ(op->responseObject().data()->toString(), R"({"a":1})");
    EXPECT_EQ(op->responseSerializationError(), nullptr);
}

TEST_F(HTTPOperationTest, ConcurrentReadersSeeOneDecode) {
    server.setReply("/j", nettest::json(R"([1,2,3])"));
    auto op = operation("/j");
    auto counting = make<CountingSerializer>();
    op->setResponseSerializer(counting);
    op->start();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return op->isFinished(); }, 10));
    std::vector<std::thread> readers;
    for (int i = 0; i < 8; ++i)
        readers.emplace_back([&] { EXPECT_EQ(op->responseObject()[2].intValue(), 3); });
    for (auto& r : readers) r.join();
    EXPECT_EQ(counting->calls.load(), 1);
}

TEST_F(HTTPOperationTest, WithoutBlocksTheCompletionStillEntersAndLeavesTheGroup) {
    server.setReply("/j", nettest::json("{}"));
    auto op = operation("/j");
    auto group = dispatch_group_create();
    op->setCompletionGroup(group);
    op->setCompletionBlockWithSuccess(nullptr, nullptr);
    bool emptied = false;
    op->start();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return op->isFinished(); }, 10));
    dispatch_group_notify(group, dispatch_get_main_queue(), [&] { emptied = true; });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return emptied; }, 10));
}

TEST_F(HTTPOperationTest, GroupIsHeldUntilTheResultIsDispatched) {
    server.setReply("/j", nettest::json("{}"));
    auto op = operation("/j");
    op->setResponseSerializer(HKJSONResponseSerializer::serializer());
    auto group = dispatch_group_create();
    op->setCompletionGroup(group);
    bool succeeded = false, successSeenWhenEmptied = false;
    op->setCompletionBlockWithSuccess(
        [&](const Ref<HKHTTPRequestOperation>&, const Value&) { succeeded = true; }, nullptr);
    op->start();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return op->isFinished(); }, 10));
    bool emptied = false;
    dispatch_group_notify(group, dispatch_get_main_queue(), [&] {
        successSeenWhenEmptied = succeeded;
        emptied = true;
    });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return emptied; }, 10));
    EXPECT_TRUE(successSeenWhenEmptied);
}

// ---- pause with a byte range --------------------------------------------------------------------------

TEST_F(HTTPOperationTest, PauseSetsTheRangeFromTheBytesReceived) {
    auto op = operation("/d");
    auto stream = op->outputStream();
    stream->open();
    std::vector<std::uint8_t> bytes(1000, 1);
    ASSERT_EQ(stream->write(bytes.data(), bytes.size()), 1000);
    op->pause();
    EXPECT_EQ(op->request()->valueForHTTPHeaderField("Range"), "bytes=1000-");
    EXPECT_FALSE(op->request()->valueForHTTPHeaderField("If-Range").has_value());
}

TEST_F(HTTPOperationTest, PauseSendsIfRangeOnlyWithAnETag) {
    auto op = operation("/d");
    op->connectionDidReceiveResponse(nullptr, make<NSHTTPURLResponse>(NSURL::URLWithString(server.url("/d")),
                                                                      200, std::string("HTTP/1.1"),
                                                                      Dictionary{{"etag", "\"v1\""}}));
    op->pause();
    EXPECT_EQ(op->request()->valueForHTTPHeaderField("If-Range"), "\"v1\"");
    EXPECT_EQ(op->request()->valueForHTTPHeaderField("Range"), "bytes=0-");
}

TEST_F(HTTPOperationTest, PauseAfterFinishingChangesNothing) {
    server.setReply("/j", nettest::json("{}"));
    auto op = operation("/j");
    op->start();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return op->isFinished(); }, 10));
    op->pause();
    EXPECT_TRUE(op->isFinished());
    EXPECT_FALSE(op->request()->valueForHTTPHeaderField("Range").has_value());
}

TEST_F(HTTPOperationTest, PausedDownloadResumesWhereItStopped) {
    std::string body;
    for (int i = 0; i < 3000; ++i) body += static_cast<char>('a' + i % 26);
    server.setHandler("/big", [body](const testsupport::RecordedRequest& r) {
        if (auto range = r.header("Range")) {
            auto from = std::stoul(range->substr(6));
            auto reply = ScriptedReply::text(body.substr(from), 206, "application/octet-stream");
            reply.header("Content-Range", "bytes " + std::to_string(from) + "-" +
                                              std::to_string(body.size() - 1) + "/" +
                                              std::to_string(body.size()));
            return reply;
        }
        // The first 1000 bytes at once, then a long pause before the rest.
        auto reply = ScriptedReply::text(body, 200, "application/octet-stream");
        reply.header("ETag", "\"big-1\"");
        reply.trickleBytes = 1000;
        reply.trickleDelay = 3;
        return reply;
    });
    auto op = operation("/big");
    Outcome outcome;
    op->setCompletionBlockWithSuccess(outcome.success(), outcome.failure());
    std::atomic<std::int64_t> received{0};
    op->setDownloadProgressBlock([&](std::uint64_t, std::int64_t total, std::int64_t) { received = total; });
    op->start();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return received.load() >= 1000; }, 10));
    op->pause();
    EXPECT_EQ(op->request()->valueForHTTPHeaderField("Range"), "bytes=1000-");
    EXPECT_EQ(op->request()->valueForHTTPHeaderField("If-Range"), "\"big-1\"");
    testsupport::pumpMainRunLoop(0.1);
    EXPECT_EQ(outcome.successes + outcome.failures, 0);

    op->resume();
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_EQ(op->responseData()->toString(), body);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].header("Range"), "bytes=1000-");
}

// ---- coding and copying ----------------------------------------------------------------------------------

TEST_F(HTTPOperationTest, ArchiveKeepsTheSerializer) {
    auto op = operation("/x");
    auto serializer = HKJSONResponseSerializer::serializer();
    serializer->setRemovesKeysWithNullValues(true);
    op->setResponseSerializer(serializer);
    auto archive = NSKeyedArchiver::archivedDataWithRootObject(Value(op));
    ASSERT_TRUE(archive.has_value());
    auto decoded = NSKeyedUnarchiver::unarchivedObjectOfClass("HKURLConnectionOperation", *archive, nullptr)
                       .objectAs<HKHTTPRequestOperation>();
    ASSERT_NE(decoded, nullptr);
    auto json = asKind<HKJSONResponseSerializer>(decoded->responseSerializer());
    ASSERT_NE(json, nullptr);
    EXPECT_TRUE(json->removesKeysWithNullValues());
}

TEST_F(HTTPOperationTest, CopyHasItsOwnSerializerOfTheSameKind) {
    auto op = operation("/x");
    op->setResponseSerializer(HKImageResponseSerializer::serializer());
    auto queue = dispatch_queue_create("q");
    op->setCompletionQueue(queue);
    auto copy = asKind<HKHTTPRequestOperation>(op->copyObject());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->responseSerializer(), op->responseSerializer());
    EXPECT_NE(asKind<HKImageResponseSerializer>(copy->responseSerializer()), nullptr);
    EXPECT_EQ(copy->completionQueue(), queue);
}

}  // namespace
