// HTTP authentication challenges through a connection.

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <algorithm>

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

namespace {

std::string md5hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::string param(const std::string& header, const std::string& name) {
    auto pos = header.find(name + "=");
    if (pos == std::string::npos) return "";
    pos += name.size() + 1;
    if (header[pos] == '"') {
        auto end = header.find('"', pos + 1);
        return header.substr(pos + 1, end - pos - 1);
    }
    auto end = header.find_first_of(", ", pos);
    return header.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
}

TEST_F(ConnectionAuthTest, DigestChallengeIsAnsweredWithADigest) {
    const std::string realm = "digest-realm", nonce = "abc123";
    server.setHandler("/digest", [&](const testsupport::RecordedRequest& r) {
        auto auth = r.header("Authorization").value_or("");
        if (auth.rfind("Digest ", 0) == 0) {
            std::string ha1 = md5hex("user:" + realm + ":secret");
            std::string ha2 = md5hex(r.method + ":" + param(auth, "uri"));
            std::string expected = param(auth, "qop").empty()
                                       ? md5hex(ha1 + ":" + nonce + ":" + ha2)
                                       : md5hex(ha1 + ":" + nonce + ":" + param(auth, "nc") + ":" +
                                                param(auth, "cnonce") + ":" + param(auth, "qop") + ":" + ha2);
            if (param(auth, "response") == expected && param(auth, "username") == "user") {
                return ScriptedReply::text("digest ok");
            }
        }
        auto reply = ScriptedReply::text("digest needed", 401);
        reply.header("WWW-Authenticate",
                     "Digest realm=\"" + realm + "\", nonce=\"" + nonce + "\", qop=\"auth\"");
        return reply;
    });
    auto d = std::make_shared<RecordingDelegate>();
    std::string method;
    d->onChallenge = [&](const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& c) {
        method = c->protectionSpace()->authenticationMethod();
        c->sender()->useCredential(
            NSURLCredential::credentialWithUser("user", "secret", NSURLCredentialPersistenceNone), c);
    };
    ASSERT_TRUE(load(requestFor(server.url("/digest")), d));
    EXPECT_EQ(method, NSURLAuthenticationMethodHTTPDigest);
    EXPECT_EQ(d->status(), 200);
    EXPECT_EQ(d->body.toString(), "digest ok");
    EXPECT_EQ(d->challenges, 1);
    EXPECT_EQ(d->events, (std::vector<std::string>{"challenge NSURLAuthenticationMethodHTTPDigest",
                                                   "response 200", "data", "cache", "finish"}));
}

}  // namespace
