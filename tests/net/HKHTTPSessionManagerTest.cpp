#include "net/HKHTTPSessionManager.h"

#include <gtest/gtest.h>

#include <atomic>

#include "foundation/NSKeyedArchiver.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::ScriptedReply;

// Invalidates the manager's session and waits until the session has let go of it, so that the
// caller's reference is the last one.
inline void retire(const Ref<HKURLSessionManager>& m) {
    if (!m) return;
    m->session()->invalidateAndCancel();
    testsupport::pumpMainRunLoopUntil([&] { return m->session()->delegate() == nullptr; }, 5);
    m->operationQueue()->waitUntilAllOperationsAreFinished();
}

struct VerbOutcome {
    std::atomic<int> successes{0};
    std::atomic<int> failures{0};
    Ref<NSURLSessionDataTask> task;
    bool taskGiven = false;
    Value object;
    Ref<NSError> error;

    HKHTTPSessionManager::SuccessBlock success() {
        return [this](const Ref<NSURLSessionDataTask>& t, const Value& o) {
            task = t;
            taskGiven = t != nullptr;
            object = o;
            ++successes;
        };
    }
    HKHTTPSessionManager::FailureBlock failure() {
        return [this](const Ref<NSURLSessionDataTask>& t, const Ref<NSError>& e) {
            task = t;
            taskGiven = t != nullptr;
            error = e;
            ++failures;
        };
    }
    bool wait() {
        return testsupport::pumpMainRunLoopUntil([this] { return successes + failures > 0; }, 10);
    }
};

class HTTPSessionManagerTest : public nettest::NetTest {
  protected:
    void SetUp() override {
        NetTest::SetUp();
        manager = make<HKHTTPSessionManager>(NSURL::URLWithString(server.url("/api")));
    }
    void TearDown() override {
        retire(manager);
        NetTest::TearDown();
    }
    Ref<HKHTTPSessionManager> manager;
};

}  // namespace

TEST_F(HTTPSessionManagerTest, BaseURLGetsItsSlash) {
    EXPECT_EQ(manager->baseURL()->absoluteString(), server.url("/api/"));
    auto bare = make<HKHTTPSessionManager>(NSURL::URLWithString("http://127.0.0.1:9"));
    EXPECT_EQ(bare->baseURL()->absoluteString(), "http://127.0.0.1:9");
    EXPECT_NE(manager->description().find("baseURL: " + server.url("/api/")), std::string::npos);
    EXPECT_NE(asKind<HKJSONResponseSerializer>(manager->responseSerializer()), nullptr);
    retire(bare);
    auto fresh = HKHTTPSessionManager::manager();
    EXPECT_EQ(fresh->baseURL(), nullptr);
    retire(fresh);
}

TEST_F(HTTPSessionManagerTest, GETResolvesRelativeAndAbsoluteStrings) {
    server.setReply("/api/items", nettest::json(R"({"ok":true})"));
    server.setReply("/elsewhere", nettest::json("[1]"));
    VerbOutcome relative;
    auto task = manager->GET("items", Dictionary{{"q", "a b"}}, relative.success(), relative.failure());
    ASSERT_NE(task, nullptr);
    EXPECT_NE(task->state(), NSURLSessionTaskStateSuspended);
    ASSERT_TRUE(relative.wait());
    EXPECT_EQ(relative.successes.load(), 1);
    EXPECT_EQ(relative.task, task);
    EXPECT_TRUE(relative.object["ok"].boolValue());
    EXPECT_EQ(server.requests().at(0).query, "q=a%20b");

    VerbOutcome absolute;
    manager->GET(server.url("/elsewhere"), Value(), absolute.success(), absolute.failure());
    ASSERT_TRUE(absolute.wait());
    EXPECT_EQ(absolute.object[0].intValue(), 1);
}

TEST_F(HTTPSessionManagerTest, EachVerbSendsItsMethod) {
    server.setDefaultHandler([](const testsupport::RecordedRequest& r) {
        return nettest::json("{\"method\":\"" + r.method + "\",\"body\":\"" + r.body + "\"}");
    });
    Dictionary params{{"k", "v"}};
    for (const std::string verb : {"POST", "PUT", "PATCH", "DELETE"}) {
        VerbOutcome outcome;
        Ref<NSURLSessionDataTask> task;
        if (verb == "POST") task = manager->POST("v", params, outcome.success(), outcome.failure());
        if (verb == "PUT") task = manager->PUT("v", params, outcome.success(), outcome.failure());
        if (verb == "PATCH") task = manager->PATCH("v", params, outcome.success(), outcome.failure());
        if (verb == "DELETE") task = manager->DELETE("v", params, outcome.success(), outcome.failure());
        ASSERT_TRUE(outcome.wait()) << verb;
        EXPECT_EQ(outcome.object["method"].stringValue(), verb);
        EXPECT_EQ(outcome.object["body"].stringValue(), verb == "DELETE" ? "" : "k=v");
    }
    EXPECT_EQ(server.requests().back().query, "k=v");
}

TEST_F(HTTPSessionManagerTest, HEADSuccessSeesOnlyTheTask) {
    server.setReply("/api/h", nettest::json("{}"));
    std::atomic<bool> done{false};
    Ref<NSURLSessionDataTask> seen;
    auto task = manager->HEAD(
        "h", Value(),
        [&](const Ref<NSURLSessionDataTask>& t) {
            seen = t;
            done = true;
        },
        nullptr);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done.load(); }));
    EXPECT_EQ(seen, task);
    EXPECT_EQ(server.requests().at(0).method, "HEAD");
}

TEST_F(HTTPSessionManagerTest, MultipartPOSTStreamsTheForm) {
    server.setReply("/api/upload", nettest::json("{}"));
    VerbOutcome outcome;
    auto task = manager->POST(
        "upload", Dictionary{{"name", "car"}},
        [](const Ref<HKMultipartFormData>& form) {
            form->appendPartWithFileData(NSData::fromString("PNGDATA"), "file", "a.png", "image/png");
        },
        outcome.success(), outcome.failure());
    ASSERT_NE(asKind<NSURLSessionUploadTask>(task), nullptr);
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.successes.load(), 1);
    auto recorded = server.requests().at(0);
    EXPECT_NE(recorded.header("Content-Type")->find("multipart/form-data; boundary="), std::string::npos);
    EXPECT_NE(recorded.body.find("PNGDATA"), std::string::npos);
    EXPECT_NE(recorded.body.find("name=\"name\""), std::string::npos);
}

TEST_F(HTTPSessionManagerTest, UnbuildableRequestFailsLaterWithoutATask) {
    VerbOutcome outcome;
    manager->requestSerializer()->setQueryStringSerializationWithBlock(
        [](const Ref<NSURLRequest>&, const Value&, Ref<NSError>* error) -> std::optional<std::string> {
            setError(error, NSError::errorWithDomain(HKURLRequestSerializationErrorDomain, 42));
            return std::nullopt;
        });
    auto task = manager->GET("x", Dictionary{{"a", "b"}}, outcome.success(), outcome.failure());
    EXPECT_EQ(task, nullptr);
    EXPECT_EQ(outcome.failures.load(), 0);  // later, not inside the call
    ASSERT_TRUE(outcome.wait());
    EXPECT_FALSE(outcome.taskGiven);
    EXPECT_EQ(outcome.error->code(), 42);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(HTTPSessionManagerTest, ServerErrorsGoToFailureWithTheTask) {
    server.setReply("/api/bad", nettest::json(R"({"error":"no"})", 500));
    VerbOutcome outcome;
    auto task = manager->GET("bad", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failures.load(), 1);
    EXPECT_EQ(outcome.task, task);
    EXPECT_EQ(outcome.error->code(), NSURLErrorBadServerResponse);
}

TEST_F(HTTPSessionManagerTest, TruncatedAndMutatedBodiesFailCleanly) {
    std::string valid = R"({"data":{"list":[{"id":1,"name":"x"}]},"code":0})";
    for (unsigned seed = 0; seed < 30; ++seed) {
        auto reply = nettest::json(seed % 3 == 0 ? valid.substr(0, seed) : testsupport::mutate(valid, seed));
        if (seed == 1) reply.truncateAt = 5;
        server.setReply("/api/f", reply);
        VerbOutcome outcome;
        manager->GET("f", Value(), outcome.success(), outcome.failure());
        ASSERT_TRUE(outcome.wait()) << seed;
        EXPECT_EQ(outcome.successes + outcome.failures, 1);
    }
}

TEST_F(HTTPSessionManagerTest, CopyAndArchiveKeepBaseURLAndSerializers) {
    auto serializer = HKJSONRequestSerializer::serializer();
    serializer->setValue("token", "X-Auth");
    manager->setRequestSerializer(serializer);
    manager->setCompletionQueue(dispatch_queue_create("q", DISPATCH_QUEUE_SERIAL));
    auto copy = asKind<HKHTTPSessionManager>(manager->copyObject());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->baseURL()->absoluteString(), manager->baseURL()->absoluteString());
    EXPECT_NE(copy->requestSerializer(), serializer);
    EXPECT_EQ(copy->requestSerializer()->valueForHTTPHeaderField("X-Auth"),
              std::optional<std::string>("token"));
    EXPECT_EQ(copy->completionQueue(), nullptr);

    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(manager), true, nullptr);
    ASSERT_TRUE(data);
    Ref<NSError> decodeError;
    auto decoded = NSKeyedUnarchiver::unarchivedObjectOfClass("HKHTTPSessionManager", *data, &decodeError)
                       .objectAs<HKHTTPSessionManager>();
    ASSERT_NE(decoded, nullptr) << (decodeError ? decodeError->description() : "") << data->toString();
    EXPECT_EQ(decoded->baseURL()->absoluteString(), server.url("/api/"));
    EXPECT_EQ(decoded->requestSerializer()->valueForHTTPHeaderField("X-Auth"),
              std::optional<std::string>("token"));
    retire(copy);
    retire(decoded);

    auto text = data->toString();
    for (unsigned seed = 0; seed < 60; ++seed) {
        auto mutated =
            NSKeyedUnarchiver::unarchivedObjectOfClass(
                "HKHTTPSessionManager", NSData::fromString(testsupport::mutate(text, seed)), nullptr)
                .objectAs<HKHTTPSessionManager>();
        if (mutated) retire(mutated);
    }
}

TEST_F(HTTPSessionManagerTest, BackgroundIdentifierSurvivesArchiving) {
    auto background = make<HKHTTPSessionManager>(
        nullptr, NSURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier("com.test.bg"));
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(background), true, nullptr);
    ASSERT_TRUE(data);
    auto decoded = NSKeyedUnarchiver::unarchivedObjectOfClass("HKHTTPSessionManager", *data, nullptr)
                       .objectAs<HKHTTPSessionManager>();
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->session()->configuration()->identifier(), std::optional<std::string>("com.test.bg"));
    retire(background);
    retire(decoded);
}
