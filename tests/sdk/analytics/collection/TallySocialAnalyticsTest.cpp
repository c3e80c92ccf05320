// Share-count reporting against a share-log service on 127.0.0.1.

#include <gtest/gtest.h>

#include "TallyTestSupport.h"
#include "foundation/NSThread.h"
#include "sdk/analytics/collection/TANSharedUDID.h"
#include "sdk/analytics/collection/TallySocialAnalytics.h"
#include "tests/support/LoopbackHTTPServer.h"

namespace {

using testsupport::LoopbackHTTPServer;
using testsupport::ScriptedReply;

class TallySocialTest : public tallytest::TallyTest {
  protected:
    void SetUp() override {
        TallyTest::SetUp();
        TallySocialAnalytics::setServiceURL(server_.baseURL());
        server_.setDefaultHandler([](const testsupport::RecordedRequest&) {
            return ScriptedReply::text("{\"st\":200,\"msg\":\"ok\"}", 200, "application/json");
        });
    }
    void TearDown() override {
        TallySocialAnalytics::sharedInstance()->operationQueue()->waitUntilAllOperationsAreFinished(10);
        TallySocialAnalytics::setServiceURL(std::nullopt);
        TallyTest::TearDown();
    }
    static Value weibo(const char* platform, std::optional<std::string> id, std::optional<std::string> user,
                       std::optional<Dictionary> param = std::nullopt) {
        return Value(
            make<TallySocialWeibo>(std::string(platform), std::move(id), std::move(user), std::move(param)));
    }
    // Posts and waits for the completion on the main thread.
    std::pair<Value, Ref<NSError>> post(const Array& weibos,
                                        std::optional<std::string> topic = std::nullopt) {
        bool done = false;
        std::pair<Value, Ref<NSError>> result;
        TallySocialAnalytics::postWeiboCounts(weibos, std::string("KEY"), topic,
                                              [&](const Value& reply, const Ref<NSError>& error) {
                                                  EXPECT_TRUE(NSThread::isMainThread());
                                                  result = {reply, error};
                                                  done = true;
                                              });
        EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done; }, 10));
        return result;
    }
    LoopbackHTTPServer server_;
};

TEST_F(TallySocialTest, OneRecordWithoutAPostIdIsAGetWithoutWeiboid) {
    auto [reply, error] = post(Array{weibo("microblog", std::string(""), std::nullopt)});
    EXPECT_FALSE(error);
    EXPECT_EQ(*reply["msg"].string(), "ok");
    ASSERT_EQ(server_.requestCount(), 1u);
    auto request = server_.requests()[0];
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, "/share/api/KEY/");
    std::string id = *TANSharedUDID::value();
    EXPECT_EQ(request.query.rfind("deviceid=" + id +
                                      ",02:00:00:00:00:00&idtype=sharedudid,mac&platform=microblog&channel=3"
                                      "&version=3.6.7&usid=&date=",
                                  0),
              0u)
        << request.query;
    EXPECT_EQ(request.query.find("weiboid"), std::string::npos);
}

TEST_F(TallySocialTest, ParametersMakeAPostAndListsAreJoined) {
    Array weibos{weibo("microblog", std::string("w1"), std::string("u1"), Dictionary{{"k", "v"}}),
                 weibo("wechat", std::nullopt, std::nullopt)};
    post(weibos, std::string("改装 car"));
    auto request = server_.requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, "data={\"microblog\":{\"k\":\"v\"}}");
    EXPECT_NE(request.query.find("&platform=microblog,wechat&"), std::string::npos);
    EXPECT_NE(request.query.find("&usid=u1,&weiboid=w1,&"), std::string::npos);
    EXPECT_NE(request.query.find("&topic=%E6%94%B9%E8%A3%85%20car&"), std::string::npos) << request.query;
}

TEST_F(TallySocialTest, AForeignElementStopsTheListButTheRequestGoes) {
    Array weibos{weibo("microblog", std::string("w1"), std::nullopt), Value("not a record"),
                 weibo("qq", std::string("w2"), std::nullopt)};
    post(weibos);
    EXPECT_TRUE(log_.contains("the element in weibos must be TallySocialWeibo object!"));
    EXPECT_NE(server_.requests().at(0).query.find("&platform=microblog&"), std::string::npos);
}

TEST_F(TallySocialTest, RefusedCallsSendNothing) {
    TallySocialAnalytics::postWeiboCounts(Array(), std::string("KEY"), std::nullopt, nullptr);
    TallySocialAnalytics::postWeiboCounts(Array{weibo("microblog", std::nullopt, std::nullopt)},
                                          std::string(""), std::nullopt, nullptr);
    EXPECT_TRUE(log_.contains("请提供分享平台名称"));
    EXPECT_TRUE(log_.contains("appKey 不能为空"));
    make<TallySocialWeibo>(std::nullopt, std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(server_.requestCount(), 0u);
    EXPECT_FALSE(TallySocialAnalytics::convertArrayToString({}));
}

TEST_F(TallySocialTest, EachRequestKeepsItsOwnCompletion) {
    server_.setDefaultHandler([](const testsupport::RecordedRequest& r) {
        bool first = r.query.find("platform=one") != std::string::npos;
        ScriptedReply reply = ScriptedReply::text(first ? "{\"who\":\"one\"}" : "{\"who\":\"two\"}");
        if (first) reply.delayBeforeHeaders = 0.3;
        return reply;
    });
    std::string one, two;
    TallySocialAnalytics::postWeiboCounts(
        Array{weibo("one", std::nullopt, std::nullopt)}, std::string("KEY"), std::nullopt,
        [&](const Value& v, const Ref<NSError>&) { one = *v["who"].string(); });
    TallySocialAnalytics::postWeiboCounts(
        Array{weibo("two", std::nullopt, std::nullopt)}, std::string("KEY"), std::nullopt,
        [&](const Value& v, const Ref<NSError>&) { two = *v["who"].string(); });
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return !one.empty() && !two.empty(); }, 10));
    EXPECT_EQ(one, "one");
    EXPECT_EQ(two, "two");
}

TEST_F(TallySocialTest, FailuresAndGarbageReachTheCompletion) {
    server_.setDefaultHandler([](const testsupport::RecordedRequest&) {
        ScriptedReply reply;
        reply.noReply = true;
        return reply;
    });
    auto [reply, error] = post(Array{weibo("microblog", std::nullopt, std::nullopt)});
    EXPECT_TRUE(error);
    EXPECT_TRUE(reply.isNil());
    server_.setDefaultHandler(
        [](const testsupport::RecordedRequest&) { return ScriptedReply::text("{broken"); });
    auto [garbage, noError] = post(Array{weibo("microblog", std::nullopt, std::nullopt)});
    EXPECT_FALSE(noError);
    EXPECT_TRUE(garbage.isNil());
}

}  // namespace
