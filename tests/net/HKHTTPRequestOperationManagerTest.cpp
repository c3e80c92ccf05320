// The operation manager end to end against a loopback server: verbs, bodies, replies decoded and
// refused, failures of the transport and of request building, coding and copying.

#include <gtest/gtest.h>

#include <thread>

#include "foundation/NSJSONSerialization.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSPropertyListSerialization.h"
#include "foundation/NSXMLParser.h"
#include "graphics/UIImage.h"
#include "net/HKHTTPRequestOperationManager.h"
#include "net/HKMultipartFormData.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/TestSupport.h"

using nettest::json;
using nettest::Outcome;
using testsupport::ScriptedReply;

namespace {

class ManagerTest : public nettest::NetTest {
  protected:
    Ref<HKHTTPRequestOperationManager> manager() {
        return make<HKHTTPRequestOperationManager>(NSURL::URLWithString(server.url("/api")));
    }
};

// ---- base URL ------------------------------------------------------------------------------------

TEST(ManagerBaseURL, PathWithoutTrailingSlashGetsOne) {
    auto m = make<HKHTTPRequestOperationManager>(NSURL::URLWithString("http://example.test/api"));
    EXPECT_EQ(m->baseURL()->absoluteString(), "http://example.test/api/");
}

TEST(ManagerBaseURL, NoPathOrTrailingSlashStaysAsItIs) {
    EXPECT_EQ(make<HKHTTPRequestOperationManager>(NSURL::URLWithString("http://example.test"))
                  ->baseURL()
                  ->absoluteString(),
              "http://example.test");
    EXPECT_EQ(make<HKHTTPRequestOperationManager>(NSURL::URLWithString("http://example.test/a/"))
                  ->baseURL()
                  ->absoluteString(),
              "http://example.test/a/");
    EXPECT_EQ(HKHTTPRequestOperationManager::manager()->baseURL(), nullptr);
}

TEST(ManagerBaseURL, DescriptionNamesTheBaseURL) {
    auto m = make<HKHTTPRequestOperationManager>(NSURL::URLWithString("http://example.test/api"));
    EXPECT_NE(m->description().find("baseURL: http://example.test/api/"), std::string::npos);
}

// ---- verbs -------------------------------------------------------------------------------------------

TEST_F(ManagerTest, GetResolvesRelativePathAndDecodesJSONOnTheMainQueue) {
    server.setReply("/api/user/info.do", json(R"({"code":0,"data":{"name":"車","n":3}})"));
    Outcome outcome;
    auto operation = manager()->GET("user/info.do", Dictionary{{"id", 7}, {"q", "a b"}}, outcome.success(),
                                    outcome.failure());
    ASSERT_NE(operation, nullptr);
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_EQ(outcome.failures, 0);
    EXPECT_FALSE(outcome.offMainThread);
    EXPECT_EQ(outcome.operation, operation);
    EXPECT_EQ(outcome.object["data"]["name"].stringValue(), "車");
    EXPECT_EQ(outcome.object["data"]["n"].intValue(), 3);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].query, "id=7&q=a%20b");
    EXPECT_TRUE(requests[0].header("User-Agent").has_value());
    EXPECT_TRUE(requests[0].header("Accept-Language").has_value());
}

TEST_F(ManagerTest, SlashPrefixedAndAbsoluteStringsReplaceTheBase) {
    server.setReply("/other", json("[1]"));
    Outcome a, b;
    manager()->GET("/other", Value(), a.success(), a.failure());
    manager()->GET(server.url("/other"), Value(), b.success(), b.failure());
    ASSERT_TRUE(a.wait());
    ASSERT_TRUE(b.wait());
    EXPECT_EQ(a.successes, 1);
    EXPECT_EQ(b.successes, 1);
}

TEST_F(ManagerTest, PostSendsAFormBody) {
    server.setReply("POST", "/api/login.do", json(R"({"ok":true})"));
    Outcome outcome;
    manager()->POST("login.do", Dictionary{{"user", "me"}, {"pass", "p&ss=1"}}, outcome.success(),
                    outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.successes, 1);
    auto request = server.requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, "pass=p%26ss%3D1&user=me");
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(ManagerTest, PostSendsJSONWithTheJSONSerializer) {
    server.setReply("POST", "/api/items", json("{}"));
    auto m = manager();
    m->setRequestSerializer(HKJSONRequestSerializer::serializer());
    Outcome outcome;
    m->POST("items", Dictionary{{"a", Array{1, 2}}, {"b", Value::null()}}, outcome.success(),
            outcome.failure());
    ASSERT_TRUE(outcome.wait());
    auto request = server.requests().at(0);
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    Ref<NSError> error;
    Value body = NSJSONSerialization::JSONObjectWithData(NSData::fromString(request.body), 0, &error);
    ASSERT_EQ(error, nullptr);
    EXPECT_EQ(body["a"][1].intValue(), 2);
    EXPECT_TRUE(body["b"].isNull());
}

TEST_F(ManagerTest, PostSendsAPropertyListAndReadsOneBack) {
    auto reply = ScriptedReply::text(R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>answer</key><integer>42</integer></dict></plist>)",
                                     200, "application/x-plist");
    server.setReply("POST", "/api/plist", reply);
    auto m = manager();
    m->setRequestSerializer(HKPropertyListRequestSerializer::serializer());
    m->setResponseSerializer(HKPropertyListResponseSerializer::serializer());
    Outcome outcome;
    m->POST("plist", Dictionary{{"k", "v"}}, outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_EQ(outcome.successes, 1) << (outcome.error ? outcome.error->description() : "");
    EXPECT_EQ(outcome.object["answer"].intValue(), 42);
    auto request = server.requests().at(0);
    EXPECT_EQ(request.header("Content-Type"), "application/x-plist");
    Value sent = NSPropertyListSerialization::propertyListWithData(NSData::fromString(request.body), 0,
                                                                   nullptr, nullptr);
    EXPECT_EQ(sent["k"].stringValue(), "v");
}

TEST_F(ManagerTest, XMLRepliesBecomeAParserReadyToRun) {
    server.setReply("/api/feed", ScriptedReply::text("<feed><item>1</item></feed>", 200, "text/xml"));
    auto m = manager();
    m->setResponseSerializer(HKXMLParserResponseSerializer::serializer());
    Outcome outcome;
    m->GET("feed", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    auto parser = outcome.object.objectAs<NSXMLParser>();
    ASSERT_NE(parser, nullptr);
    EXPECT_TRUE(parser->parse());
}

TEST_F(ManagerTest, ImageRepliesAreDecoded) {
    auto image = UIImage::imageWithCGImage(
        CGImageCreate(4, 3, 8, 32, 16, CGColorSpaceCreateDeviceRGB(),
                      kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst,
                      CGDataProviderCreateWithData(NSData(std::vector<std::uint8_t>(48, 0x80)))));
    auto png = UIImagePNGRepresentation(image);
    ASSERT_TRUE(png.has_value());
    ScriptedReply reply;
    reply.body = png->toString();
    reply.headers.emplace_back("Content-Type", "image/png");
    server.setReply("/api/pic.png", reply);
    auto m = manager();
    m->setResponseSerializer(HKImageResponseSerializer::serializer());
    Outcome outcome;
    m->GET("pic.png", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    auto decoded = outcome.object.objectAs<UIImage>();
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(CGImageGetWidth(decoded->CGImage()), 4u);
}

TEST_F(ManagerTest, CompoundSerializerTakesTheFirstThatDecodes) {
    server.setReply("/api/x", ScriptedReply::text("<a/>", 200, "application/xml"));
    auto m = manager();
    m->setResponseSerializer(HKCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
        {HKJSONResponseSerializer::serializer(), HKXMLParserResponseSerializer::serializer()}));
    Outcome outcome;
    m->GET("x", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_NE(outcome.object.objectAs<NSXMLParser>(), nullptr);
}

TEST_F(ManagerTest, NullRemovalAppliesToReplies) {
    server.setReply("/api/n", json(R"({"a":null,"b":{"c":null,"d":1},"e":[null,{"f":null}]})"));
    auto m = manager();
    auto serializer = HKJSONResponseSerializer::serializer();
    serializer->setRemovesKeysWithNullValues(true);
    m->setResponseSerializer(serializer);
    Outcome outcome;
    m->GET("n", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_FALSE(outcome.object.dictionary()->containsKey("a"));
    EXPECT_EQ(outcome.object["b"].dictionary()->count(), 1u);
    EXPECT_TRUE(outcome.object["e"][0].isNull());
    EXPECT_EQ(outcome.object["e"][1].dictionary()->count(), 0u);
}

TEST_F(ManagerTest, HeadCallsSuccessWithTheOperationOnly) {
    server.setReply("HEAD", "/api/h", json("{}"));
    bool called = false;
    Ref<HKHTTPRequestOperation> seen;
    auto op = manager()->HEAD(
        "h", Value(),
        [&](const Ref<HKHTTPRequestOperation>& operation) {
            called = true;
            seen = operation;
        },
        [&](const Ref<HKHTTPRequestOperation>&, const Ref<NSError>&) { ADD_FAILURE() << "failure"; });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return called; }, 10));
    EXPECT_EQ(seen, op);
    EXPECT_EQ(server.requests().at(0).method, "HEAD");
}

TEST_F(ManagerTest, PutPatchAndDeleteUseTheirMethods) {
    server.setDefaultHandler([](const testsupport::RecordedRequest&) { return json("{}"); });
    Outcome put, patch, del;
    auto m = manager();
    m->PUT("r", Dictionary{{"a", 1}}, put.success(), put.failure());
    m->PATCH("r", Dictionary{{"a", 2}}, patch.success(), patch.failure());
    m->DELETE("r", Dictionary{{"a", 3}}, del.success(), del.failure());
    ASSERT_TRUE(put.wait() && patch.wait() && del.wait());
    std::map<std::string, testsupport::RecordedRequest> byMethod;
    for (auto& r : server.requests()) byMethod[r.method] = r;
    EXPECT_EQ(byMethod["PUT"].body, "a=1");
    EXPECT_EQ(byMethod["PATCH"].body, "a=2");
    EXPECT_EQ(byMethod["DELETE"].query, "a=3");
    EXPECT_EQ(byMethod["DELETE"].body, "");
}

// ---- failures -------------------------------------------------------------------------------------------

TEST_F(ManagerTest, SerializerErrorFailsLaterWithoutAnOperation) {
    auto m = manager();
    m->requestSerializer()->setQueryStringSerializationWithBlock(
        [](const Ref<NSURLRequest>&, const Value&, Ref<NSError>* error) -> std::optional<std::string> {
            *error = NSError::errorWithDomain("test", 5);
            return std::nullopt;
        });
    Outcome outcome;
    auto op = m->GET("x", Dictionary{{"a", 1}}, outcome.success(), outcome.failure());
    EXPECT_EQ(op, nullptr);
    EXPECT_EQ(outcome.failures, 0);  // never inside the call
    EXPECT_EQ(m->operationQueue()->operationCount(), 0u);
    ASSERT_TRUE(outcome.wait());
    testsupport::drainMainRunLoop();
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.operation, nullptr);
    EXPECT_EQ(outcome.error->code(), 5);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(ManagerTest, UnacceptableStatusFailsWithBadServerResponse) {
    server.setReply("/api/missing", json(R"({"msg":"nope"})", 404));
    Outcome outcome;
    manager()->GET("missing", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.error->domain(), HKURLResponseSerializationErrorDomain);
    EXPECT_EQ(outcome.error->code(), NSURLErrorBadServerResponse);
    EXPECT_EQ(outcome.operation->HTTPResponse()->statusCode(), 404);
}

TEST_F(ManagerTest, WrongContentTypeFailsWithCannotDecode) {
    server.setReply("/api/page", ScriptedReply::text("<html></html>", 200, "text/html"));
    Outcome outcome;
    manager()->GET("page", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.error->code(), NSURLErrorCannotDecodeContentData);
    EXPECT_TRUE(outcome.operation->responseObject().isNil());
}

TEST_F(ManagerTest, MalformedJSONFailsWithTheParseError) {
    server.setReply("/api/bad", json(R"({"a": [1, 2)"));
    Outcome outcome;
    manager()->GET("bad", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(outcome.error->code(), 3840);
}

TEST_F(ManagerTest, BodyShorterThanItsLengthFailsAsALostConnection) {
    auto reply = json(R"({"a":"0123456789012345678901234567890123456789"})");
    reply.truncateAt = 10;
    server.setReply("/api/short", reply);
    Outcome outcome;
    manager()->GET("short", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.error->domain(), NSURLErrorDomain);
    EXPECT_EQ(outcome.error->code(), NSURLErrorNetworkConnectionLost);
}

TEST_F(ManagerTest, ConnectionClosedMidBodyFails) {
    auto reply = json(std::string(4000, ' ') + "{}");
    reply.chunked = true;
    reply.chunkSize = 500;
    reply.closeMidBodyAt = 1200;
    server.setReply("/api/cut", reply);
    Outcome outcome;
    auto op = manager()->GET("cut", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.error->domain(), NSURLErrorDomain);
    EXPECT_TRUE(op->isFinished());
}

TEST_F(ManagerTest, NoReplyAtAllFails) {
    ScriptedReply reply;
    reply.noReply = true;
    server.setReply("/api/silent", reply);
    Outcome outcome;
    manager()->GET("silent", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.error->domain(), NSURLErrorDomain);
}

TEST_F(ManagerTest, GarbageInsteadOfAReplyFails) {
    ScriptedReply reply;
    reply.raw = std::string("\x00\x01garbage\r\n\r\n", 13);
    server.setReply("/api/garbage", reply);
    Outcome outcome;
    manager()->GET("garbage", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
}

TEST_F(ManagerTest, IdleTimeOutFailsOnRealTime) {
    auto reply = json("{}");
    reply.delayBeforeHeaders = 3;
    server.setReply("/api/slow", reply);
    auto m = manager();
    m->requestSerializer()->setTimeoutInterval(0.3);
    Outcome outcome;
    auto started = std::chrono::steady_clock::now();
    m->GET("slow", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait(5));
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.error->code(), NSURLErrorTimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST_F(ManagerTest, HeaderValueWithALineBreakIsRefusedBeforeAnythingIsSent) {
    server.setReply("/api/h", json("{}"));
    auto m = manager();
    m->requestSerializer()->setValue(std::string("x\r\nX-Injected: yes"), "X-Token");
    Outcome outcome;
    m->GET("h", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.error->domain(), NSURLErrorDomain);
    EXPECT_EQ(outcome.error->code(), NSURLErrorBadURL);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(ManagerTest, UnparsableURLStringFailsWithoutCrashing) {
    Outcome outcome;
    auto op = manager()->GET("http://bad host/with space", Value(), outcome.success(), outcome.failure());
    ASSERT_NE(op, nullptr);
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
}

TEST_F(ManagerTest, ConnectionRefusedFails) {
    server.stop();
    Outcome outcome;
    manager()->GET("x", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.error->code(), NSURLErrorCannotConnectToHost);
}

// ---- multipart
// ----------------------------------------------------------------------------------------------

// The parts of a multipart body: headers and body of each.
struct Part {
    std::string headers;
    std::string body;
};

std::vector<Part> splitMultipart(const std::string& body, const std::string& contentType) {
    std::vector<Part> parts;
    auto at = contentType.find("boundary=");
    if (at == std::string::npos) return parts;
    std::string delimiter = "--" + contentType.substr(at + 9);
    std::size_t pos = body.find(delimiter);
    while (pos != std::string::npos) {
        pos += delimiter.size();
        if (body.compare(pos, 2, "--") == 0) break;
        pos += 2;  // CRLF
        std::size_t next = body.find("\r\n" + delimiter, pos);
        if (next == std::string::npos) break;
        std::string part = body.substr(pos, next - pos);
        auto split = part.find("\r\n\r\n");
        parts.push_back({part.substr(0, split), part.substr(split + 4)});
        pos = next + 2;
    }
    return parts;
}

TEST_F(ManagerTest, MultipartUploadFromMemoryAndFile) {
    server.setReply("POST", "/api/upload", json(R"({"url":"x"})"));
    testsupport::TemporaryDirectory dir;
    std::string fileContents(70000, 'f');
    fileContents[0] = 'F';
    ASSERT_TRUE(NSData::fromString(fileContents).writeToFile(dir.file("photo.jpg")));

    Outcome outcome;
    auto op = manager()->POST(
        "upload", Dictionary{{"token", "abc"}},
        [&](const Ref<HKMultipartFormData>& form) {
            form->appendPartWithFileData(NSData::fromString("JPEGDATA"), "file", "a.png", "image/png");
            Ref<NSError> error;
            EXPECT_TRUE(
                form->appendPartWithFileURL(NSURL::fileURLWithPath(dir.file("photo.jpg")), "photo", &error));
        },
        outcome.success(), outcome.failure());
    ASSERT_NE(op, nullptr);
    ASSERT_TRUE(outcome.wait());
    ASSERT_EQ(outcome.successes, 1) << (outcome.error ? outcome.error->description() : "");
    auto request = server.requests().at(0);
    auto contentType = request.header("Content-Type").value_or("");
    EXPECT_EQ(contentType.rfind("multipart/form-data; boundary=Boundary+", 0), 0u);
    EXPECT_EQ(request.header("Content-Length"), std::to_string(request.body.size()));
    auto parts = splitMultipart(request.body, contentType);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].headers, "Content-Disposition: form-data; name=\"token\"");
    EXPECT_EQ(parts[0].body, "abc");
    EXPECT_EQ(parts[1].body, "JPEGDATA");
    EXPECT_NE(parts[2].headers.find("filename=\"photo.jpg\""), std::string::npos);
    EXPECT_NE(parts[2].headers.find("Content-Type: image/jpeg"), std::string::npos);
    EXPECT_EQ(parts[2].body, fileContents);
}

TEST_F(ManagerTest, MultipartUploadReportsProgressOnTheMainQueue) {
    server.setReply("POST", "/api/upload", json("{}"));
    Outcome outcome;
    std::int64_t lastTotal = 0, expected = 0;
    bool offMain = false;
    // The queue holds the operation until its progress block is set: a quick upload could
    // otherwise be sent whole before the block is there.
    manager()->operationQueue()->setSuspended(true);
    auto op = manager()->POST(
        "upload", Value(),
        [&](const Ref<HKMultipartFormData>& form) {
            form->appendPartWithFileData(NSData(std::vector<std::uint8_t>(200000, 7)), "file", "b.bin",
                                         "application/octet-stream");
        },
        outcome.success(), outcome.failure());
    op->setUploadProgressBlock([&](std::int64_t, std::int64_t total, std::int64_t totalExpected) {
        if (!NSThread::isMainThread()) offMain = true;
        lastTotal = total;
        expected = totalExpected;
    });
    manager()->operationQueue()->setSuspended(false);
    ASSERT_TRUE(outcome.wait());
    testsupport::drainMainRunLoop();
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_FALSE(offMain);
    EXPECT_GT(lastTotal, 200000);
    EXPECT_EQ(lastTotal, expected);
}

TEST_F(ManagerTest, MultipartNamesCannotInjectHeaders) {
    server.setReply("POST", "/api/upload", json("{}"));
    Outcome outcome;
    manager()->POST(
        "upload", Value(),
        [&](const Ref<HKMultipartFormData>& form) {
            form->appendPartWithFileData(NSData::fromString("x"), "a\"\r\nContent-Type: text/evil",
                                         "f\"; name=\"other\r\n\r\nbody", "text/plain");
        },
        outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    auto request = server.requests().at(0);
    auto parts = splitMultipart(request.body, request.header("Content-Type").value_or(""));
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].headers,
              "Content-Disposition: form-data; name=\"a%22%0D%0AContent-Type: text/evil\"; "
              "filename=\"f%22; name=%22other%0D%0A%0D%0Abody\"\r\nContent-Type: text/plain");
    EXPECT_EQ(parts[0].body, "x");
}

// ---- coding and copying
// -------------------------------------------------------------------------------------

TEST(ManagerCoding, ArchiveKeepsBaseURLAndSerializers) {
    auto m = make<HKHTTPRequestOperationManager>(NSURL::URLWithString("http://example.test/v1/"));
    m->setRequestSerializer(HKJSONRequestSerializer::serializerWithWritingOptions(2));
    auto response = HKJSONResponseSerializer::serializer();
    response->setRemovesKeysWithNullValues(true);
    m->setResponseSerializer(response);
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(m));
    ASSERT_TRUE(data.has_value());
    Ref<NSError> error;
    auto decoded = NSKeyedUnarchiver::unarchivedObjectOfClass("HKHTTPRequestOperationManager", *data, &error)
                       .objectAs<HKHTTPRequestOperationManager>();
    ASSERT_NE(decoded, nullptr) << (error ? error->description() : "");
    EXPECT_EQ(decoded->baseURL()->absoluteString(), "http://example.test/v1/");
    auto json = asKind<HKJSONRequestSerializer>(decoded->requestSerializer());
    ASSERT_NE(json, nullptr);
    EXPECT_EQ(json->writingOptions(), 2u);
    auto decodedResponse = asKind<HKJSONResponseSerializer>(decoded->responseSerializer());
    ASSERT_NE(decodedResponse, nullptr);
    EXPECT_TRUE(decodedResponse->removesKeysWithNullValues());
}

TEST(ManagerCoding, DecodingAppliesTheTrailingSlashRuleAgain) {
    auto m = make<HKHTTPRequestOperationManager>(NSURL::URLWithString("http://example.test/v1"));
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(m));
    ASSERT_TRUE(data.has_value());
    // An archive written by an older version, with the base URL as it was given.
    std::string text = data->toString();
    auto at = text.find("http://example.test/v1/");
    ASSERT_NE(at, std::string::npos);
    text.erase(at + std::string("http://example.test/v1").size(), 1);
    auto decoded = NSKeyedUnarchiver::unarchivedObjectOfClass("HKHTTPRequestOperationManager",
                                                              NSData::fromString(text), nullptr)
                       .objectAs<HKHTTPRequestOperationManager>();
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->baseURL()->absoluteString(), "http://example.test/v1/");
}

TEST(ManagerCoding, DamagedArchiveGivesNothing) {
    auto m = make<HKHTTPRequestOperationManager>(NSURL::URLWithString("http://example.test/v1"));
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(m));
    ASSERT_TRUE(data.has_value());
    for (unsigned seed = 0; seed < 200; ++seed) {
        auto mutated = testsupport::mutate(data->toString(), seed);
        Ref<NSError> error;
        // Whatever comes back, nothing crashes and anything returned is a manager.
        Value v = NSKeyedUnarchiver::unarchivedObjectOfClass("HKHTTPRequestOperationManager",
                                                             NSData::fromString(mutated), &error);
        if (!v.isNil()) {
            EXPECT_NE(v.objectAs<HKHTTPRequestOperationManager>(), nullptr);
        }
    }
}

TEST(ManagerCoding, CopyHasSameClassBaseAndSerializerCopies) {
    auto m = make<HKHTTPRequestOperationManager>(NSURL::URLWithString("http://example.test/v1"));
    m->requestSerializer()->setValue(std::string("t"), "X-T");
    auto copy = asKind<HKHTTPRequestOperationManager>(m->copyObject());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->baseURL()->absoluteString(), "http://example.test/v1/");
    EXPECT_NE(copy->requestSerializer(), m->requestSerializer());
    EXPECT_EQ(copy->requestSerializer()->valueForHTTPHeaderField("X-T"), "t");
    EXPECT_NE(copy->operationQueue(), m->operationQueue());
}

// ---- concurrency
// --------------------------------------------------------------------------------------------

TEST_F(ManagerTest, ManyRequestsFromManyThreadsAllCompleteOnTheMainQueue) {
    server.setHandler("/api/echo", [](const testsupport::RecordedRequest& r) {
        return json("{\"q\":\"" + r.query + "\"}");
    });
    auto m = manager();
    constexpr int kThreads = 4, kEach = 15;
    std::vector<Outcome> outcomes(kThreads * kEach);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                auto& o = outcomes[t * kEach + i];
                m->GET("echo", Dictionary{{"i", t * kEach + i}}, o.success(), o.failure());
            }
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil(
        [&] {
            return std::all_of(outcomes.begin(), outcomes.end(), [](const Outcome& o) { return o.done(); });
        },
        20));
    for (int i = 0; i < kThreads * kEach; ++i) {
        EXPECT_EQ(outcomes[i].successes, 1);
        EXPECT_FALSE(outcomes[i].offMainThread);
        EXPECT_EQ(outcomes[i].object["q"].stringValue(), "i=" + std::to_string(i));
    }
}

TEST_F(ManagerTest, CustomCompletionQueueRunsBlocksThere) {
    server.setReply("/api/q", json("{}"));
    auto m = manager();
    auto queue = dispatch_queue_create("test.completion");
    static int key;
    dispatch_queue_set_specific(queue, &key, &key);
    m->setCompletionQueue(queue);
    std::atomic<bool> onQueue{false}, done{false};
    m->GET(
        "q", Value(),
        [&](const Ref<HKHTTPRequestOperation>&, const Value&) {
            onQueue = dispatch_get_specific(&key) == &key;
            done = true;
        },
        nullptr);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done.load(); }, 10));
    EXPECT_TRUE(onQueue);
}

}  // namespace
