// The server API client: the envelope rules of each wrapper, the shared client's settings, the
// configured roots, transport failures and time-outs, and replies that are not what they claim.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/NSNumber+Extension.h"
#include "app/NSString+Extension.h"
#include "app/QVNAPIClient.h"
#include "app/QVNBaseURL.h"
#include "app/QVNConfiguration.h"
#include "foundation/NSJSONSerialization.h"
#include "network/NetworkTesting.h"
#include "tests/app/AppTestSupport.h"

using apptest::APIOutcome;
using apptest::json;
using testsupport::ScriptedReply;

namespace {

Dictionary parse(const std::string& text) {
    Value value = NSJSONSerialization::JSONObjectWithData(NSData::fromString(text), 0, nullptr);
    return value.isDictionary() ? *value.dictionary() : Dictionary();
}

std::string message(const Ref<NSError>& error) {
    return error ? error->userInfo().objectForKey(QVNAPIErrorMessageKey).stringValue()
                 : std::string("<none>");
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

// ---- the envelope rules on their own -------------------------------------------------------------

TEST(APIEnvelope, GetSucceedsWithCodeZeroOrWithoutACode) {
    for (const char* text : {R"({"resultCode":0,"data":[1,2]})", R"({"resultCode":0.0})",
                             R"({"data":{"x":1}})", R"({"frames":[]})"}) {
        auto outcome = QVNAPIEnvelope::readGETReply(parse(text));
        EXPECT_TRUE(outcome.reply.isDictionary()) << text;
        EXPECT_FALSE(outcome.error) << text;
    }
}

TEST(APIEnvelope, GetTurnsANonZeroCodeIntoAnError) {
    auto outcome = QVNAPIEnvelope::readGETReply(parse(R"({"resultCode":10003,"errmsg":"x"})"));
    EXPECT_TRUE(outcome.reply.isNil());
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), "QVNAPI");
    EXPECT_EQ(outcome.error->code(), 10003);
    EXPECT_EQ(message(outcome.error), "x");
    EXPECT_EQ(outcome.error->code(), NSNumber_Extension::invalidTokenResultCode().integerValue());
}

TEST(APIEnvelope, ACodeGivenAsTextIsNotZero) {
    auto get = QVNAPIEnvelope::readGETReply(parse(R"({"resultCode":"0"})"));
    ASSERT_TRUE(get.error);
    EXPECT_EQ(get.error->code(), 0);
    auto post = QVNAPIEnvelope::readPOSTReply(parse(R"({"resultCode":"10003","errmsg":"t"})"));
    ASSERT_TRUE(post.error);
    EXPECT_EQ(post.error->code(), 10003);
    EXPECT_EQ(message(post.error), "t");
}

TEST(APIEnvelope, PostFailsWithoutACode) {
    auto outcome = QVNAPIEnvelope::readPOSTReply(parse(R"({"data":[]})"));
    EXPECT_TRUE(outcome.reply.isNil());
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), 0);
    EXPECT_EQ(message(outcome.error), "");  // no "errmsg": an empty text
    EXPECT_TRUE(QVNAPIEnvelope::readPOSTReply(parse(R"({"resultCode":0})")).reply.isDictionary());
}

TEST(APIEnvelope, PicturePostMakesEveryFailureCode10000) {
    auto outcome = QVNAPIEnvelope::readPicturePOSTReply(parse(R"({"resultCode":12001,"errmsg":"x"})"));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), 10000);
    EXPECT_EQ(message(outcome.error), "x");
    EXPECT_EQ(QVNAPIEnvelope::readPicturePOSTReply(parse("{}")).error->code(), 10000);
    EXPECT_FALSE(QVNAPIEnvelope::readPicturePOSTReply(parse(R"({"resultCode":0})")).error);
}

TEST(APIEnvelope, UploadHandsOnTheURLOnlyWithCodeZero) {
    EXPECT_EQ(QVNAPIEnvelope::uploadedURL(parse(R"({"resultCode":0,"url":"http://p/1.png"})")),
              "http://p/1.png");
    EXPECT_EQ(QVNAPIEnvelope::uploadedURL(parse(R"({"resultCode":0})")), std::nullopt);
    EXPECT_EQ(QVNAPIEnvelope::uploadedURL(parse(R"({"resultCode":1,"url":"u"})")), std::nullopt);
    EXPECT_EQ(QVNAPIEnvelope::uploadedURL(parse(R"({"url":"u"})")), std::nullopt);
    EXPECT_EQ(QVNAPIEnvelope::uploadedURL(parse(R"({"resultCode":0,"url":[1]})")), std::nullopt);
}

TEST(APIEnvelope, OddKindsOfCodeAndMessage) {
    auto outcome = QVNAPIEnvelope::readGETReply(parse(R"({"resultCode":[0],"errmsg":{"a":1}})"));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), 0);
    EXPECT_EQ(message(outcome.error), "");
    auto huge = QVNAPIEnvelope::readPOSTReply(parse(R"({"resultCode":1e300,"errmsg":42})"));
    ASSERT_TRUE(huge.error);
    EXPECT_EQ(message(huge.error), "42");
    EXPECT_TRUE(QVNAPIEnvelope::readGETReply(parse(R"({"resultCode":false})")).reply.isDictionary());
}

TEST(APIEnvelope, OnlyObjectsAreReplies) {
    EXPECT_FALSE(QVNAPIEnvelope::errorForNonObjectReply(Value(Dictionary())));
    for (const Value& other : {Value(), Value::null(), Value(Array{1, 2}), Value(7), Value("text")}) {
        auto error = QVNAPIEnvelope::errorForNonObjectReply(other);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), HKURLResponseSerializationErrorDomain);
        EXPECT_EQ(error->code(), NSURLErrorCannotParseResponse);
    }
}

// Every wrapper rule meets mutated replies: each gives a reply or an error, never both or none.
TEST(APIEnvelope, MutatedRepliesGiveExactlyOneOutcome) {
    const std::string seed =
        R"({"resultCode":10003,"errmsg":"帐号","data":[{"a":null,"b":[1,2.5,"c"]}],"url":"u"})";
    for (unsigned i = 0; i < 3000; ++i) {
        std::string text = testsupport::mutate(seed, i);
        Value value = NSJSONSerialization::JSONObjectWithData(NSData::fromString(text), 0, nullptr);
        if (!value.isDictionary()) {
            EXPECT_TRUE(QVNAPIEnvelope::errorForNonObjectReply(value));
            continue;
        }
        for (auto read : {&QVNAPIEnvelope::readGETReply, &QVNAPIEnvelope::readPOSTReply,
                          &QVNAPIEnvelope::readPicturePOSTReply}) {
            auto outcome = read(*value.dictionary());
            EXPECT_NE(outcome.reply.isNil(), outcome.error == nullptr) << text;
        }
        QVNAPIEnvelope::uploadedURL(*value.dictionary());
    }
}

// ---- the wrappers end to end ---------------------------------------------------------------------

class APIClientTest : public apptest::ServerTest {};

TEST_F(APIClientTest, GetSendsTheQueryAndHandsTheReplyOnOnTheMainQueue) {
    server.setReply(apiPath("news/getnewslist.do"), json(R"({"resultCode":0,"data":[{"news_id":3}]})"));
    APIOutcome outcome;
    QVNAPIClient::getWithURL("news/getnewslist.do", Dictionary{{"news_id", 0}, {"news_category", 1}},
                             outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_EQ(outcome.failures, 0);
    EXPECT_FALSE(outcome.offMainThread);
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.reply["data"][0]["news_id"], Value(3));
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].query, "news_category=1&news_id=0");
}

TEST_F(APIClientTest, GetWithAServerCodeGivesTheErrorToTheSuccessBlock) {
    server.setReply(apiPath("user/getuser.do"), json(R"({"resultCode":10003,"errmsg":"x"})"));
    APIOutcome outcome;
    QVNAPIClient::getWithURL("user/getuser.do", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 0);
    EXPECT_TRUE(outcome.reply.isNil());
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), 10003);
    EXPECT_EQ(message(outcome.error), "x");
}

TEST_F(APIClientTest, NullsAreRemovedBeforeTheEnvelopeIsRead) {
    server.setReply(apiPath("a.do"), json(R"({"resultCode":0,"errmsg":null,"data":[{"k":null,"v":1}]})"));
    APIOutcome outcome;
    QVNAPIClient::getWithURL("a.do", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_TRUE(outcome.reply.isDictionary());
    EXPECT_FALSE(outcome.reply.dictionary()->objectForKey("errmsg").isSomething());
    EXPECT_FALSE(outcome.reply.dictionary()->objectForKey("errmsg").isNull());
    EXPECT_TRUE(outcome.reply["data"][0]["k"].isNil());
    EXPECT_EQ(outcome.reply["data"][0]["v"], Value(1));
}

TEST_F(APIClientTest, PostSendsAFormBodyAndFailsWithoutACode) {
    server.setReply(apiPath("friend/add.do"), json(R"({"data":[]})"));
    APIOutcome outcome;
    QVNAPIClient::postWithURL("friend/add.do", Dictionary{{"token", "t k"}, {"friend_uid", 9}},
                              outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), 0);
    auto request = server.requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, "friend_uid=9&token=t%20k");
    EXPECT_TRUE(contains(request.header("Content-Type").value_or(""), "application/x-www-form-urlencoded"));
}

TEST_F(APIClientTest, TextHTMLIsAcceptedAndOtherTypesAreNot) {
    server.setReply(apiPath("html.do"), ScriptedReply::text(R"({"resultCode":0})", 200, "text/html"));
    server.setReply(apiPath("plain.do"), ScriptedReply::text(R"({"resultCode":0})", 200, "text/plain"));
    APIOutcome html, plain;
    QVNAPIClient::getWithURL("html.do", Value(), html.success(), html.failure());
    QVNAPIClient::getWithURL("plain.do", Value(), plain.success(), plain.failure());
    ASSERT_TRUE(html.wait());
    ASSERT_TRUE(plain.wait());
    EXPECT_EQ(html.successes, 1);
    EXPECT_EQ(plain.failures, 1);
    EXPECT_EQ(plain.successes, 0);
    EXPECT_EQ(plain.failureError->code(), NSURLErrorCannotDecodeContentData);
}

TEST_F(APIClientTest, HTTPFailuresReachOnlyTheFailureBlockUnchanged) {
    server.setReply(apiPath("broken.do"), json(R"({"resultCode":0})", 500));
    APIOutcome outcome;
    QVNAPIClient::postWithURL("broken.do", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.successes, 0);
    ASSERT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.failureError->domain(), HKURLResponseSerializationErrorDomain);
    EXPECT_EQ(outcome.failureError->code(), NSURLErrorBadServerResponse);
}

TEST_F(APIClientTest, NoServerIsATransportFailure) {
    std::string root = server.baseURL();
    server.stop();
    QVNConfiguration::useServer(root);
    APIOutcome outcome;
    QVNAPIClient::getWithURL("a.do", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.failureError->domain(), NSURLErrorDomain);
}

TEST_F(APIClientTest, ASlowServerTimesOut) {
    auto serializer = QVNAPIClient::sharedClient()->requestSerializer();
    EXPECT_EQ(serializer->timeoutInterval(), 10.0);
    serializer->setTimeoutInterval(0.3);
    // The client is shared by every later test: give its setting back however this one ends.
    std::shared_ptr<void> restore(
        nullptr, [serializer](void*) { serializer->setTimeoutInterval(QVNAPIClient::kTimeoutInterval); });
    ScriptedReply slow = json(R"({"resultCode":0})");
    slow.delayBeforeHeaders = 3;
    server.setReply(apiPath("slow.do"), slow);
    APIOutcome outcome;
    QVNAPIClient::getWithURL("slow.do", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait(5));
    EXPECT_EQ(outcome.successes, 0);
    ASSERT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.failureError->code(), NSURLErrorTimedOut);
}

TEST_F(APIClientTest, RepliesThatAreNotObjectsFailCleanly) {
    server.setReply(apiPath("array.do"), json("[1,2,3]"));
    server.setReply(apiPath("empty.do"), json(""));
    server.setReply(apiPath("bare.do"), json("17"));
    server.setReply(apiPath("cut.do"), json(R"({"resultCode":0,"data":[1,2)"));
    for (const char* path : {"array.do", "empty.do", "bare.do", "cut.do"}) {
        for (bool post : {false, true}) {
            APIOutcome outcome;
            if (post) {
                QVNAPIClient::postWithURL(path, Value(), outcome.success(), outcome.failure());
            } else {
                QVNAPIClient::getWithURL(path, Value(), outcome.success(), outcome.failure());
            }
            ASSERT_TRUE(outcome.wait()) << path;
            EXPECT_EQ(outcome.successes, 0) << path;
            EXPECT_EQ(outcome.failures, 1) << path;
            EXPECT_TRUE(outcome.failureError) << path;
        }
    }
}

TEST_F(APIClientTest, ABodyCutShortIsAFailure) {
    ScriptedReply cut = json(R"({"resultCode":0,"data":"0123456789012345678901234567890123456789"})");
    cut.truncateAt = 20;
    server.setReply(apiPath("cut.do"), cut);
    APIOutcome outcome;
    QVNAPIClient::getWithURL("cut.do", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.successes, 0);
    EXPECT_EQ(outcome.failures, 1);
}

TEST_F(APIClientTest, ALargeReplyLoadsAndOnePastTheHTTPLayersBoundFails) {
    std::string large = R"({"resultCode":0,"data":")" + std::string(9 << 20, 'a') + "\"}";
    server.setReply(apiPath("large.do"), json(large));
    APIOutcome outcome;
    QVNAPIClient::getWithURL("large.do", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait(20));
    EXPECT_EQ(outcome.successes, 1);
    EXPECT_EQ(outcome.reply["data"].stringValue().size(), std::size_t{9} << 20);

    network_testing::setMaximumInMemoryBodyLength(64 * 1024);
    std::string big = R"({"resultCode":0,"data":")" + std::string(100 * 1024, 'a') + "\"}";
    server.setReply(apiPath("big.do"), json(big));
    APIOutcome refused;
    QVNAPIClient::getWithURL("big.do", Value(), refused.success(), refused.failure());
    bool waited = refused.wait();
    network_testing::setMaximumInMemoryBodyLength(std::nullopt);
    ASSERT_TRUE(waited);
    EXPECT_EQ(refused.successes, 0);
    ASSERT_EQ(refused.failures, 1);
    EXPECT_EQ(refused.failureError->domain(), NSURLErrorDomain);
    EXPECT_EQ(refused.failureError->code(), NSURLErrorDataLengthExceedsMaximum);
}

TEST_F(APIClientTest, MissingBlocksAreNotCalled) {
    server.setReply(apiPath("ok.do"), json(R"({"resultCode":0})"));
    server.setReply(apiPath("bad.do"), json("[]"));
    QVNAPIClient::getWithURL("ok.do", Value(), nullptr, nullptr);
    QVNAPIClient::postWithURL("ok.do", Value(), nullptr, nullptr);
    QVNAPIClient::getWithURL("bad.do", Value(), nullptr, nullptr);
    QVNAPIClient::postWithURLImage("ok.do", apptest::solidImage(), nullptr, nullptr);
    QVNAPIClient::uploadPicture(apptest::solidImage(), nullptr);
    QVNAPIClient::postWithURLImage("ok.do", nullptr, nullptr, nullptr);
    ASSERT_TRUE(server.waitForRequests(5, 10));
    testsupport::pumpMainRunLoop(0.2);
}

// ---- pictures ------------------------------------------------------------------------------------

TEST_F(APIClientTest, UploadSendsOnePNGPartAndHandsOnTheURL) {
    server.setReply(apiPath("upload/upload.do"), json(R"({"resultCode":0,"url":"http://p/u.png"})"));
    std::optional<std::string> url;
    bool done = false;
    QVNAPIClient::uploadPicture(apptest::solidImage(), [&](const std::optional<std::string>& u) {
        url = u;
        done = true;
    });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done; }, 10));
    EXPECT_EQ(url, "http://p/u.png");
    auto request = server.requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_TRUE(
        contains(request.header("Content-Type").value_or(""), "multipart/form-data; boundary=Boundary+"));
    EXPECT_TRUE(
        contains(request.body, "Content-Disposition: form-data; name=\"file\"; filename=\"uploadImage\""));
    EXPECT_TRUE(contains(request.body, "Content-Type: image/png\r\n\r\n\x89PNG"));
}

TEST_F(APIClientTest, UploadWithoutAURLOrWithAFailureGivesNil) {
    server.setReply(apiPath("upload/upload.do"), json(R"({"resultCode":0})"));
    for (int round = 0; round < 3; ++round) {
        if (round == 1)
            server.setReply(apiPath("upload/upload.do"), json(R"({"resultCode":0,"url":"u"})", 503));
        if (round == 2) server.setReply(apiPath("upload/upload.do"), json(R"(["u"])"));
        std::optional<std::string> url = "unset";
        int calls = 0;
        QVNAPIClient::uploadPicture(apptest::solidImage(), [&](const std::optional<std::string>& u) {
            url = u;
            ++calls;
        });
        ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return calls > 0; }, 10));
        EXPECT_EQ(url, std::nullopt) << round;
        EXPECT_EQ(calls, 1);
    }
}

TEST_F(APIClientTest, UploadOfNoPictureGivesNilWithoutARequest) {
    bool done = false;
    std::optional<std::string> url = "unset";
    QVNAPIClient::uploadPicture(nullptr, [&](const std::optional<std::string>& u) {
        url = u;
        done = true;
    });
    EXPECT_FALSE(done);  // never inline
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done; }, 5));
    EXPECT_EQ(url, std::nullopt);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(APIClientTest, PicturePostSendsJPEGDeclaredAsPNGAndMakesFailures10000) {
    server.setReply(apiPath("question/addquestion.do"), json(R"({"resultCode":12001,"errmsg":"x"})"));
    APIOutcome outcome;
    QVNAPIClient::postWithURLImage("question/addquestion.do", apptest::solidImage(), outcome.success(),
                                   outcome.failure());
    ASSERT_TRUE(outcome.wait());
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), "QVNAPI");
    EXPECT_EQ(outcome.error->code(), 10000);
    EXPECT_EQ(message(outcome.error), "x");
    auto request = server.requests().at(0);
    EXPECT_TRUE(contains(request.body, "name=\"file\"; filename=\"question_image\""));
    EXPECT_TRUE(contains(request.body, "Content-Type: image/png\r\n\r\n\xFF\xD8\xFF"));
}

TEST_F(APIClientTest, PicturePostOfNoPictureFailsLater) {
    APIOutcome outcome;
    QVNAPIClient::postWithURLImage("x.do", nullptr, outcome.success(), outcome.failure());
    EXPECT_FALSE(outcome.done());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures, 1);
    EXPECT_EQ(server.requestCount(), 0u);
}

// ---- the shared client and the configured roots ---------------------------------------------------

TEST_F(APIClientTest, SharedClientSettings) {
    auto client = QVNAPIClient::sharedClient();
    EXPECT_EQ(client, QVNAPIClient::sharedClient());
    EXPECT_EQ(client->baseURL()->absoluteString(), server.baseURL() + "/trasselin/");
    EXPECT_EQ(client->securityPolicy()->SSLPinningMode(), HKPinningNone);
    auto serializer = std::dynamic_pointer_cast<HKJSONResponseSerializer>(client->responseSerializer());
    ASSERT_TRUE(serializer);
    EXPECT_TRUE(serializer->removesKeysWithNullValues());
    auto types = serializer->acceptableContentTypes().value();
    EXPECT_EQ(types,
              (std::set<std::string>{"application/json", "text/json", "text/javascript", "text/html"}));
}

TEST_F(APIClientTest, ANewRootRedirectsTheOneSharedClient) {
    auto first = QVNAPIClient::sharedClient();
    testsupport::LoopbackHTTPServer other;
    other.setReply("/trasselin/a.do", json(R"({"resultCode":0,"from":"other"})"));
    QVNConfiguration::useServer(other.baseURL());
    EXPECT_EQ(first, QVNAPIClient::sharedClient());
    EXPECT_EQ(first->baseURL()->absoluteString(), other.baseURL() + "/trasselin/");
    APIOutcome outcome;
    QVNAPIClient::getWithURL("a.do", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.reply["from"], Value("other"));
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(APIClientTest, AbsolutePathsReplaceTheRoot) {
    testsupport::LoopbackHTTPServer other;
    other.setReply("/static/frames.json", json(R"({"frames":[]})"));
    APIOutcome outcome;
    QVNAPIClient::getWithURL(other.url("/static/frames.json"), Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_TRUE(outcome.reply["frames"].isArray());
}

TEST(APIConfiguration, ProductionShapesByDefault) {
    QVNConfiguration::resetAll();
    EXPECT_EQ(QVNConfiguration::apiRoot(), "http://app.trasselin.example:8080/trasselin/");
    EXPECT_EQ(QVNBaseURL::sharedURL(), "http://share.trasselin.example:8080/trasselin/");
    EXPECT_NE(QVNBaseURL::sharedURL(), QVNConfiguration::apiRoot());
    EXPECT_EQ(NSString_Extension::carOptionURLPrefix(), "http://www.trasselin.example/static/model/");
    EXPECT_EQ(QVNConfiguration::watermarkURL(),
              "http://trasselin.example:8080/trasselin/watermark/getwatermarklist.do");
    EXPECT_EQ(QVNConfiguration::videoURLFormat(),
              "http://video.trasselin.example:8080/trasselin/video/getvideobyid.do?video_id=%d");
    EXPECT_EQ(QVNConfiguration::eventsPageURL(), "http://www.trasselin.example/extra/art1.html");
}

TEST(APIConfiguration, EnvironmentThenOverride) {
    QVNConfiguration::resetAll();
    ASSERT_EQ(setenv("QVN_API_ROOT", "http://127.0.0.1:9/root", 1), 0);
    ASSERT_EQ(setenv("QVN_MODEL_PREFIX", "http://127.0.0.1:9/m/", 1), 0);
    ASSERT_EQ(setenv("QVN_SECOND_ROOT", "", 1), 0);
    EXPECT_EQ(QVNConfiguration::apiRoot(), "http://127.0.0.1:9/root/");
    EXPECT_EQ(QVNConfiguration::modelPrefix(), "http://127.0.0.1:9/m/");
    EXPECT_EQ(QVNConfiguration::secondRoot(), "http://share.trasselin.example:8080/trasselin/");
    EXPECT_EQ(QVNConfiguration::watermarkURL(), "http://127.0.0.1:9/root/watermark/getwatermarklist.do");
    auto before = QVNConfiguration::generation();
    QVNConfiguration::set(QVNSetting::APIRoot, std::string("http://127.0.0.2:10/x/"));
    EXPECT_NE(QVNConfiguration::generation(), before);
    EXPECT_EQ(QVNConfiguration::apiRoot(), "http://127.0.0.2:10/x/");
    QVNConfiguration::set(QVNSetting::APIRoot, std::nullopt);
    EXPECT_EQ(QVNConfiguration::apiRoot(), "http://127.0.0.1:9/root/");
    unsetenv("QVN_API_ROOT");
    unsetenv("QVN_MODEL_PREFIX");
    unsetenv("QVN_SECOND_ROOT");
}

TEST(APIConfiguration, UseServerPointsEverythingAtLoopback) {
    QVNConfiguration::useServer("http://127.0.0.1:4321/", std::string("http://127.0.0.2:4322"));
    EXPECT_EQ(QVNConfiguration::apiRoot(), "http://127.0.0.1:4321/trasselin/");
    EXPECT_EQ(QVNBaseURL::sharedURL(), "http://127.0.0.2:4322/trasselin/");
    EXPECT_EQ(QVNConfiguration::webHost(), "127.0.0.1:4321");
    EXPECT_EQ(NSString_Extension::carOptionURLPrefix(), "http://127.0.0.1:4321/static/model/");
    EXPECT_EQ(QVNConfiguration::videoURLFormat(),
              "http://127.0.0.1:4321/trasselin/video/getvideobyid.do?video_id=%d");
    EXPECT_EQ(QVNConfiguration::eventsPageURL(), "http://127.0.0.1:4321/extra/art1.html");
    QVNConfiguration::resetAll();
}

// ---- hostile replies over the wire ----------------------------------------------------------------

TEST_F(APIClientTest, MutatedRepliesOverTheWireGiveOneOutcomeEach) {
    const std::string seed =
        R"({"resultCode":0,"errmsg":"ok","data":[{"user_id":7,"user_token":"t","x":null}]})";
    constexpr unsigned kRounds = 60;
    for (unsigned i = 0; i < kRounds; ++i) {
        server.setReply(apiPath("m" + std::to_string(i) + ".do"), json(testsupport::mutate(seed, i + 11)));
    }
    std::vector<APIOutcome> outcomes(kRounds);
    for (unsigned i = 0; i < kRounds; ++i) {
        std::string path = "m" + std::to_string(i) + ".do";
        if (i % 2) {
            QVNAPIClient::postWithURL(path, Value(), outcomes[i].success(), outcomes[i].failure());
        } else {
            QVNAPIClient::getWithURL(path, Value(), outcomes[i].success(), outcomes[i].failure());
        }
    }
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil(
        [&] {
            for (auto& o : outcomes)
                if (!o.done()) return false;
            return true;
        },
        30));
    for (auto& o : outcomes) EXPECT_EQ(o.successes + o.failures, 1);
}

// ---- threads --------------------------------------------------------------------------------------

TEST_F(APIClientTest, CallsFromManyThreadsAllCompleteOnTheMainQueue) {
    server.setReply(apiPath("t.do"), json(R"({"resultCode":0})"));
    constexpr int kThreads = 8;
    constexpr int kCallsEach = 5;
    std::vector<APIOutcome> outcomes(kThreads * kCallsEach);
    std::vector<std::thread> threads;
    std::vector<Ref<QVNAPIClient>> seen(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            seen[t] = QVNAPIClient::sharedClient();
            for (int i = 0; i < kCallsEach; ++i) {
                auto& outcome = outcomes[t * kCallsEach + i];
                if (i % 2) {
                    QVNAPIClient::postWithURL("t.do", Dictionary{{"i", i}}, outcome.success(),
                                              outcome.failure());
                } else {
                    QVNAPIClient::getWithURL("t.do", Dictionary{{"i", i}}, outcome.success(),
                                             outcome.failure());
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& client : seen) EXPECT_EQ(client, seen.front());  // one shared client
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil(
        [&] {
            for (auto& o : outcomes)
                if (!o.done()) return false;
            return true;
        },
        30));
    for (auto& o : outcomes) {
        EXPECT_EQ(o.successes, 1);
        EXPECT_FALSE(o.offMainThread);
    }
    EXPECT_EQ(server.requestCount(), static_cast<std::size_t>(kThreads * kCallsEach));
}

TEST(APIConfigurationThreads, ReadersAndWritersAtOnce) {
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 500; ++i) {
            QVNConfiguration::set(QVNSetting::APIRoot,
                                  "http://127.0.0.1:" + std::to_string(1000 + i % 7) + "/r/");
        }
        stop = true;
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back([&] {
            while (!stop) {
                auto client = QVNAPIClient::sharedClient();
                EXPECT_TRUE(client->baseURL());
                EXPECT_EQ(QVNConfiguration::apiRoot().rfind("http://", 0), 0u);
            }
        });
    }
    writer.join();
    for (auto& reader : readers) reader.join();
    QVNConfiguration::resetAll();
}
