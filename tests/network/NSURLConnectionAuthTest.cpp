// HTTP authentication challenges through a connection.

#include <gtest/gtest.h>

#include "NetworkTestSupport.h"

using namespace nettest;
using testsupport::LoopbackHTTPServer;
using testsupport::ScriptedReply;

namespace {

class ConnectionAuthTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
        // "user:secret" in Base64.
        server.setHandler("/private", [](const testsupport::RecordedRequest& r) {
            if (r.header("Authorization") == "Basic dXNlcjpzZWNyZXQ=") return ScriptedReply::text("welcome");
            auto reply = ScriptedReply::text("who are you", 401);
            reply.header("WWW-Authenticate", "Basic realm=\"members\"");
            return reply;
        });
    }
    void TearDown() override { NSURLCache::setSharedURLCache(nullptr); }
    LoopbackHTTPServer server;
};

TEST_F(ConnectionAuthTest, CredentialAnswersTheChallenge) {
    auto d = std::make_shared<RecordingDelegate>();
    Ref<NSURLAuthenticationChallenge> seen;
    d->onChallenge = [&](const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& c) {
        seen = c;
        c->sender()->useCredential(
            NSURLCredential::credentialWithUser("user", "secret", NSURLCredentialPersistenceNone), c);
    };
    ASSERT_TRUE(load(requestFor(server.url("/private")), d));
    EXPECT_EQ(d->events, (std::vector<std::string>{"challenge NSURLAuthenticationMethodHTTPBasic",
                                                   "response 200", "data", "cache", "finish"}));
    EXPECT_EQ(d->body.toString(), "welcome");
    ASSERT_TRUE(seen);
    auto space = seen->protectionSpace();
    EXPECT_EQ(space->host(), "127.0.0.1");
    EXPECT_EQ(space->port(), server.port());
    EXPECT_EQ(space->realm(), "members");
    EXPECT_EQ(space->protocol(), "http");
    EXPECT_EQ(seen->previousFailureCount(), 0);
    EXPECT_EQ(asKind<NSHTTPURLResponse>(seen->failureResponse())->statusCode(), 401);
}

TEST_F(ConnectionAuthTest, WrongCredentialIsChallengedAgainWithAFailureCount) {
    auto d = std::make_shared<RecordingDelegate>();
    std::vector<long> failures;
    d->onChallenge = [&](const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& c) {
        failures.push_back(c->previousFailureCount());
        if (c->previousFailureCount() == 0) {
            c->sender()->useCredential(
                NSURLCredential::credentialWithUser("user", "wrong", NSURLCredentialPersistenceNone), c);
        } else {
            c->sender()->continueWithoutCredentialForAuthenticationChallenge(c);
        }
    };
    ASSERT_TRUE(load(requestFor(server.url("/private")), d));
    EXPECT_EQ(failures, (std::vector<long>{0, 1}));
    EXPECT_EQ(d->status(), 401);
    EXPECT_EQ(d->body.toString(), "who are you");
    EXPECT_TRUE(d->finished);
}

TEST_F(ConnectionAuthTest, CancelledChallengeFailsTheConnection) {
    auto d = std::make_shared<RecordingDelegate>();
    d->onChallenge = [](const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& c) {
        c->sender()->cancelAuthenticationChallenge(c);
        c->sender()->continueWithoutCredentialForAuthenticationChallenge(c);  // only the first answer counts
    };
    ASSERT_TRUE(load(requestFor(server.url("/private")), d));
    EXPECT_TRUE(d->failed);
    EXPECT_EQ(d->error->code(), NSURLErrorUserCancelledAuthentication);
}

TEST_F(ConnectionAuthTest, ChallengeMayBeAnsweredLaterFromAnotherThread) {
    auto d = std::make_shared<RecordingDelegate>();
    std::thread answerer;
    d->onChallenge = [&](const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& c) {
        answerer = std::thread([c] {
            c->sender()->useCredential(
                NSURLCredential::credentialWithUser("user", "secret", NSURLCredentialPersistenceNone), c);
        });
    };
    ASSERT_TRUE(load(requestFor(server.url("/private")), d));
    answerer.join();
    EXPECT_EQ(d->body.toString(), "welcome");
    EXPECT_FALSE(d->offThread);
}

TEST_F(ConnectionAuthTest, SessionCredentialIsProposedNextTimeAndUsedByDefault) {
    auto d = std::make_shared<RecordingDelegate>();
    d->onChallenge = [](const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& c) {
        c->sender()->useCredential(
            NSURLCredential::credentialWithUser("user", "secret", NSURLCredentialPersistenceForSession), c);
    };
    ASSERT_TRUE(load(requestFor(server.url("/private")), d));
    auto d2 = std::make_shared<RecordingDelegate>();
    Ref<NSURLCredential> proposed;
    d2->onChallenge = [&](const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& c) {
        proposed = c->proposedCredential();
        c->sender()->performDefaultHandlingForAuthenticationChallenge(c);
    };
    ASSERT_TRUE(load(requestFor(server.url("/private")), d2));
    ASSERT_TRUE(proposed);
    EXPECT_EQ(proposed->user(), "user");
    EXPECT_EQ(d2->body.toString(), "welcome");
}

// A delegate that does not handle challenges.
class PlainDelegate : public NSURLConnectionDataDelegate {
  public:
    long status = 0;
    bool done = false;
    void connectionDidReceiveResponse(const Ref<NSURLConnection>&, const Ref<NSURLResponse>& r) override {
        status = asKind<NSHTTPURLResponse>(r)->statusCode();
    }
    void connectionDidFinishLoading(const Ref<NSURLConnection>&) override { done = true; }
    void connectionDidFailWithError(const Ref<NSURLConnection>&, const Ref<NSError>&) override {
        done = true;
    }
};

TEST_F(ConnectionAuthTest, WithoutAChallengeHandlerThe401IsTheAnswer) {
    server.setHandler("/other", [](const testsupport::RecordedRequest&) {
        auto reply = ScriptedReply::text("no", 401);
        reply.header("WWW-Authenticate", "Basic realm=\"elsewhere\"");
        return reply;
    });
    auto d = std::make_shared<PlainDelegate>();
    auto c = make<NSURLConnection>(requestFor(server.url("/other")), d, true);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return d->done; }, 10));
    EXPECT_EQ(d->status, 401);
}

TEST_F(ConnectionAuthTest, UnknownSchemeIsNotAChallenge) {
    server.setHandler("/token", [](const testsupport::RecordedRequest&) {
        auto reply = ScriptedReply::text("no", 401);
        reply.header("WWW-Authenticate", "Bearer realm=\"api\"");
        return reply;
    });
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/token")), d));
    EXPECT_EQ(d->challenges, 0);
    EXPECT_EQ(d->status(), 401);
}

}  // namespace
