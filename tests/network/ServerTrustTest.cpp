// Server-trust challenges over TLS, against the loopback server wrapped in TLS with a
// certificate made by the test.

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "NetworkTestSupport.h"

using namespace nettest;
using testsupport::LoopbackHTTPServer;
using testsupport::ScriptedReply;

namespace {

// A self-signed certificate for 127.0.0.1 and its key.
struct TestIdentity {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    NSData der;

    TestIdentity() {
        key = EVP_EC_gen("P-256");
        cert = X509_new();
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
        if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "IP:127.0.0.1")) {
            X509_add_ext(cert, ext, -1);
            X509_EXTENSION_free(ext);
        }
        X509_sign(cert, key, EVP_sha256());
        unsigned char* buf = nullptr;
        int len = i2d_X509(cert, &buf);
        der = NSData(buf, static_cast<std::size_t>(len));
        OPENSSL_free(buf);
    }
    ~TestIdentity() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
};

class TLSConnectionIO final : public testsupport::ServerConnectionIO {
  public:
    explicit TLSConnectionIO(SSL* ssl) : ssl_(ssl) {}
    ~TLSConnectionIO() override { SSL_free(ssl_); }
    ssize_t read(void* buffer, std::size_t length) override {
        int n = SSL_read(ssl_, buffer, static_cast<int>(length));
        return n > 0 ? n : (SSL_get_error(ssl_, n) == SSL_ERROR_ZERO_RETURN ? 0 : -1);
    }
    ssize_t write(const void* buffer, std::size_t length) override {
        int n = SSL_write(ssl_, buffer, static_cast<int>(length));
        return n > 0 ? n : -1;
    }

  private:
    SSL* ssl_;
};

class ServerTrustTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NSURLCache::setSharedURLCache(make<NSURLCache>(0, 0, std::nullopt));
        tls = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(tls, identity.cert);
        SSL_CTX_use_PrivateKey(tls, identity.key);
        server.setScheme("https");
        server.setConnectionWrapper([this](int fd) -> std::unique_ptr<testsupport::ServerConnectionIO> {
            SSL* ssl = SSL_new(tls);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) != 1) {
                SSL_free(ssl);
                return nullptr;
            }
            return std::make_unique<TLSConnectionIO>(ssl);
        });
        server.setReply("/secure", ScriptedReply::text("over tls"));
    }
    void TearDown() override {
        server.stop();
        SSL_CTX_free(tls);
        NSURLCache::setSharedURLCache(nullptr);
        NSURLProtectionSpace::setServerTrustFactory(nullptr);
        NSURLProtectionSpace::setDefaultTrustEvaluator(nullptr);
    }

    TestIdentity identity;
    SSL_CTX* tls = nullptr;
    LoopbackHTTPServer server;
};

TEST_F(ServerTrustTest, DelegateSeesTheChainAndAcceptsIt) {
    auto d = std::make_shared<RecordingDelegate>();
    Ref<NSURLAuthenticationChallenge> seen;
    d->onChallenge = [&](const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& c) {
        seen = c;
        c->sender()->useCredential(NSURLCredential::credentialForTrust(c->protectionSpace()->serverTrust()),
                                   c);
    };
    ASSERT_TRUE(load(requestFor(server.url("/secure")), d));
    ASSERT_TRUE(d->finished) << (d->error ? d->error->description() : "");
    EXPECT_EQ(d->body.toString(), "over tls");
    EXPECT_EQ(d->events.front(), "challenge NSURLAuthenticationMethodServerTrust");
    ASSERT_TRUE(seen);
    auto space = seen->protectionSpace();
    EXPECT_EQ(space->host(), "127.0.0.1");
    EXPECT_EQ(space->port(), server.port());
    EXPECT_EQ(space->protocol(), "https");
    auto chain = asKind<NSURLServerTrustChain>(space->serverTrust());
    ASSERT_TRUE(chain);
    ASSERT_EQ(chain->certificates().size(), 1u);
    EXPECT_EQ(chain->certificates()[0], identity.der);
    EXPECT_EQ(space->certificateChain().size(), 1u);
}

TEST_F(ServerTrustTest, CancelledTrustChallengeFailsAsCancelled) {
    auto d = std::make_shared<RecordingDelegate>();
    d->onChallenge = [](const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& c) {
        c->sender()->cancelAuthenticationChallenge(c);
    };
    ASSERT_TRUE(load(requestFor(server.url("/secure")), d));
    EXPECT_TRUE(d->failed);
    EXPECT_EQ(d->error->code(), NSURLErrorCancelled);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(ServerTrustTest, DefaultHandlingRefusesASelfSignedChain) {
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/secure")), d));
    EXPECT_TRUE(d->failed);
    EXPECT_EQ(d->error->code(), NSURLErrorServerCertificateUntrusted);
}

TEST_F(ServerTrustTest, ReplacedDefaultEvaluatorDecidesDefaultHandling) {
    std::string hostSeen;
    NSURLProtectionSpace::setDefaultTrustEvaluator(
        [&](const std::vector<NSData>& chain, const std::string& host) {
            hostSeen = host;
            return chain.size() == 1 && chain[0] == identity.der;
        });
    auto d = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(server.url("/secure")), d));
    EXPECT_TRUE(d->finished);
    EXPECT_EQ(hostSeen, "127.0.0.1");
}

TEST_F(ServerTrustTest, RegisteredFactoryMakesTheTrustObject) {
    class Marker : public NSObject {};
    NSURLProtectionSpace::setServerTrustFactory(
        [](const std::vector<NSData>&, const std::string&) -> Ref<NSObject> { return make<Marker>(); });
    auto d = std::make_shared<RecordingDelegate>();
    bool wasMarker = false;
    d->onChallenge = [&](const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& c) {
        wasMarker = isKindOf<Marker>(c->protectionSpace()->serverTrust());
        c->sender()->useCredential(NSURLCredential::credentialForTrust(c->protectionSpace()->serverTrust()),
                                   c);
    };
    ASSERT_TRUE(load(requestFor(server.url("/secure")), d));
    EXPECT_TRUE(wasMarker);
    EXPECT_TRUE(d->finished);
}

TEST_F(ServerTrustTest, EveryConnectionIsChallengedAfresh) {
    for (int i = 0; i < 2; ++i) {
        auto d = std::make_shared<RecordingDelegate>();
        d->onChallenge = [](const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& c) {
            c->sender()->useCredential(
                NSURLCredential::credentialForTrust(c->protectionSpace()->serverTrust()), c);
        };
        ASSERT_TRUE(load(requestFor(server.url("/secure")), d));
        EXPECT_EQ(d->challenges, 1);
        EXPECT_TRUE(d->finished);
    }
}

class PlainDelegate : public NSURLConnectionDataDelegate {
  public:
    Ref<NSError> error;
    bool done = false;
    void connectionDidFinishLoading(const Ref<NSURLConnection>&) override { done = true; }
    void connectionDidFailWithError(const Ref<NSURLConnection>&, const Ref<NSError>& e) override {
        error = e;
        done = true;
    }
};

TEST_F(ServerTrustTest, WithoutAChallengeHandlerTheSystemRootsDecide) {
    auto d = std::make_shared<PlainDelegate>();
    auto c = make<NSURLConnection>(requestFor(server.url("/secure")), d, true);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return d->done; }, 10));
    ASSERT_TRUE(d->error);
    EXPECT_TRUE(d->error->code() == NSURLErrorServerCertificateUntrusted ||
                d->error->code() == NSURLErrorSecureConnectionFailed)
        << d->error->code();
}

TEST_F(ServerTrustTest, EvaluatorHookDecidesWithoutAChallenge) {
    for (bool accept : {true, false}) {
        auto d = std::make_shared<RecordingDelegate>();
        auto c = make<NSURLConnection>(requestFor(server.url("/secure")), d, false);
        int calls = 0;
        c->setServerTrustEvaluator([&, accept](const std::vector<NSData>& chain, const std::string& host) {
            ++calls;
            EXPECT_EQ(host, "127.0.0.1");
            EXPECT_EQ(chain.size(), 1u);
            return accept;
        });
        c->start();
        ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return d->done(); }, 10));
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(d->challenges, 0);
        if (accept) {
            EXPECT_TRUE(d->finished);
        } else {
            EXPECT_EQ(d->error->code(), NSURLErrorServerCertificateUntrusted);
        }
    }
}

TEST_F(ServerTrustTest, CancellingWhileTheTransportWaitsForTheAnswerFreesIt) {
    auto d = std::make_shared<RecordingDelegate>();
    Ref<NSURLConnection> connection;
    d->onChallenge = [&](const Ref<NSURLConnection>& c, const Ref<NSURLAuthenticationChallenge>&) {
        c->cancel();
    };
    connection = make<NSURLConnection>(requestFor(server.url("/secure")), d, true);
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return d->challenges == 1; }, 10));
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(d->calls, 1);
    // The transport is free again: a plain request goes through.
    LoopbackHTTPServer plain;
    plain.setReply("/after", ScriptedReply::text("free"));
    auto d2 = std::make_shared<RecordingDelegate>();
    ASSERT_TRUE(load(requestFor(plain.url("/after")), d2));
    EXPECT_EQ(d2->body.toString(), "free");
}

TEST_F(ServerTrustTest, DefaultOpenSSLEvaluationRefusesGarbageAndWrongHosts) {
    EXPECT_FALSE(NSURLProtectionSpace::evaluateTrustByDefault({}, "127.0.0.1"));
    EXPECT_FALSE(
        NSURLProtectionSpace::evaluateTrustByDefault({NSData::fromString("not a certificate")}, "h"));
    EXPECT_FALSE(NSURLProtectionSpace::evaluateTrustByDefault({identity.der}, "127.0.0.1"));  // not rooted
    NSData truncated = identity.der.subdataWithRange(0, identity.der.length() / 2);
    EXPECT_FALSE(NSURLProtectionSpace::evaluateTrustByDefault({truncated}, "127.0.0.1"));
}

}  // namespace
