// HTTP caching through a connection: storing, revalidating, policies.

#include <gtest/gtest.h>

#include <ctime>

#include "NetworkTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace nettest;
using testsupport::LoopbackHTTPServer;
using testsupport::ScriptedReply;

namespace {

class ConnectionCachingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cache = make<NSURLCache>(4 << 20, 20 << 20, dir.file("cache"));
        NSURLCache::setSharedURLCache(cache);
    }
    void TearDown() override { NSURLCache::setSharedURLCache(nullptr); }

    std::shared_ptr<RecordingDelegate>
    get(const std::string& path, NSURLRequestCachePolicy policy = NSURLRequestUseProtocolCachePolicy) {
        auto r = requestFor(server.url(path));
        r->setCachePolicy(policy);
        auto d = std::make_shared<RecordingDelegate>();
        EXPECT_TRUE(load(r, d));
        return d;
    }

    testsupport::TemporaryDirectory dir;
    Ref<NSURLCache> cache;
    LoopbackHTTPServer server;
};

TEST_F(ConnectionCachingTest, ETagReplyIsStoredThenRevalidatedAndServedFromTheCacheOn304) {
    auto reply = ScriptedReply::text("image bytes", 200, "image/png");
    reply.etag = "\"v1\"";
    server.setReply("/img", reply);

    auto first = get("/img");
    EXPECT_EQ(first->events, (std::vector<std::string>{"response 200", "data", "cache", "finish"}));
    auto stored = cache->cachedResponseForRequest(requestFor(server.url("/img")));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->data().toString(), "image bytes");

    auto second = get("/img");
    EXPECT_EQ(second->events, (std::vector<std::string>{"response 200", "data", "finish"}));
    EXPECT_EQ(second->body.toString(), "image bytes");
    EXPECT_EQ(second->cacheOffers, 0);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].header("If-None-Match"));
    EXPECT_EQ(requests[1].header("If-None-Match"), "\"v1\"");
    EXPECT_EQ(second->response->MIMEType(), "image/png");
}

TEST_F(ConnectionCachingTest, ChangedResourceIsOfferedAgain) {
    auto reply = ScriptedReply::text("old");
    reply.etag = "\"a\"";
    server.setReply("/r", reply);
    get("/r");
    reply.body = "new";
    reply.etag = "\"b\"";
    server.setReply("/r", reply);
    auto second = get("/r");
    EXPECT_EQ(second->body.toString(), "new");
    EXPECT_EQ(second->cacheOffers, 1);
    EXPECT_EQ(cache->cachedResponseForRequest(requestFor(server.url("/r")))->data().toString(), "new");
}

TEST_F(ConnectionCachingTest, LastModifiedRevalidatesWithIfModifiedSince) {
    auto reply = ScriptedReply::text("dated");
    reply.lastModified = "Tue, 15 Nov 1994 12:45:26 GMT";
    server.setReply("/d", reply);
    get("/d");
    auto second = get("/d");
    EXPECT_EQ(second->status(), 200);
    EXPECT_EQ(second->body.toString(), "dated");
    EXPECT_EQ(server.requests().at(1).header("If-Modified-Since"), "Tue, 15 Nov 1994 12:45:26 GMT");
}

TEST_F(ConnectionCachingTest, ReloadPoliciesNeverReadTheCache) {
    auto reply = ScriptedReply::text("fresh");
    reply.etag = "\"x\"";
    server.setReply("/p", reply);
    get("/p");
    for (auto policy :
         {NSURLRequestReloadIgnoringLocalCacheData, NSURLRequestReloadIgnoringLocalAndRemoteCacheData}) {
        auto d = get("/p", policy);
        EXPECT_EQ(d->status(), 200);
        EXPECT_FALSE(server.requests().back().header("If-None-Match"));
        EXPECT_EQ(d->cacheOffers, 1);
    }
}

TEST_F(ConnectionCachingTest, DeclinedOfferStoresNothing) {
    auto reply = ScriptedReply::text("private");
    reply.etag = "\"p\"";
    server.setReply("/n", reply);
    auto r = requestFor(server.url("/n"));
    auto d = std::make_shared<RecordingDelegate>();
    d->onCache = [](const Ref<NSCachedURLResponse>&) -> std::optional<Ref<NSCachedURLResponse>> {
        return Ref<NSCachedURLResponse>();
    };
    ASSERT_TRUE(load(r, d));
    EXPECT_EQ(d->cacheOffers, 1);
    EXPECT_FALSE(cache->cachedResponseForRequest(r));
}

TEST_F(ConnectionCachingTest, DelegateMayStoreSomethingElse) {
    server.setReply("/s", ScriptedReply::text("real"));
    auto r = requestFor(server.url("/s"));
    auto d = std::make_shared<RecordingDelegate>();
    d->onCache = [](const Ref<NSCachedURLResponse>& offered) -> std::optional<Ref<NSCachedURLResponse>> {
        return make<NSCachedURLResponse>(offered->response(), NSData::fromString("replaced"));
    };
    ASSERT_TRUE(load(r, d));
    EXPECT_EQ(cache->cachedResponseForRequest(r)->data().toString(), "replaced");
}

TEST_F(ConnectionCachingTest, FreshReplyIsServedWithoutAskingTheServer) {
    server.setHandler("/f", [&](const testsupport::RecordedRequest&) {
        char date[64];
        std::time_t now = std::time(nullptr);
        std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", std::gmtime(&now));
        auto r = ScriptedReply::text("fresh for a minute");
        r.header("Cache-Control", "max-age=60").header("Date", date);
        return r;
    });
    get("/f");
    auto second = get("/f");
    EXPECT_EQ(second->body.toString(), "fresh for a minute");
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(ConnectionCachingTest, NoStoreAndNonGetRepliesAreNotOffered) {
    auto reply = ScriptedReply::text("secret");
    reply.header("Cache-Control", "no-store");
    server.setReply("/secret", reply);
    EXPECT_EQ(get("/secret")->cacheOffers, 0);
    server.setReply("POST", "/post", ScriptedReply::text("posted"));
    auto r = requestFor(server.url("/post"));
    r->setHTTPMethod("POST");
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(r, d));
    EXPECT_EQ(d->cacheOffers, 0);
    server.setReply("/err", ScriptedReply::text("boom", 500));
    EXPECT_EQ(get("/err")->cacheOffers, 0);
}

TEST_F(ConnectionCachingTest, ReturnCacheDataPolicies) {
    auto empty = get("/none", NSURLRequestReturnCacheDataDontLoad);
    EXPECT_TRUE(empty->failed);
    EXPECT_EQ(empty->error->code(), NSURLErrorResourceUnavailable);
    EXPECT_EQ(server.requestCount(), 0u);

    server.setReply("/c", ScriptedReply::text("cached copy"));
    get("/c");
    auto offline = get("/c", NSURLRequestReturnCacheDataDontLoad);
    EXPECT_EQ(offline->body.toString(), "cached copy");
    auto elseLoad = get("/c", NSURLRequestReturnCacheDataElseLoad);
    EXPECT_EQ(elseLoad->body.toString(), "cached copy");
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(ConnectionCachingTest, CallerOwnConditionalRequestGetsThe304Itself) {
    auto reply = ScriptedReply::text("v");
    reply.etag = "\"e\"";
    server.setReply("/own", reply);
    get("/own");
    auto r = requestFor(server.url("/own"));
    r->setValue("\"e\"", "If-None-Match");
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(r, d));
    EXPECT_EQ(d->status(), 304);
}

TEST_F(ConnectionCachingTest, CacheSurvivesANewCacheObjectOnTheSameFolder) {
    auto reply = ScriptedReply::text("persisted");
    reply.etag = "\"z\"";
    server.setReply("/z", reply);
    get("/z");
    cache = make<NSURLCache>(0, 20 << 20, dir.file("cache"));
    NSURLCache::setSharedURLCache(cache);
    auto second = get("/z");
    EXPECT_EQ(second->body.toString(), "persisted");
    EXPECT_EQ(server.requests().back().header("If-None-Match"), "\"z\"");
}

}  // namespace
