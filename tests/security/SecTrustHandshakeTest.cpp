// Trust against real TLS handshakes on loopback: a plain OpenSSL client takes the chain the test
// server presents and hands it to SecTrust, the way the transport does, both after the
// handshake and from inside it (where refusing stops the request before a byte is sent).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>
#include <unistd.h>

#include "security/SecCertificate.h"
#include "security/SecTrust.h"
#include "security/SecurityTesting.h"
#include "tests/support/HTTPSTestServer.h"
#include "tests/support/TestCertificates.h"

namespace {

using testsupport::HTTPSTestServer;
using testsupport::testPKI;

std::vector<NSData> derChain(STACK_OF(X509) * stack) {
    std::vector<NSData> out;
    for (int i = 0; stack && i < sk_X509_num(stack); ++i) {
        unsigned char* der = nullptr;
        int length = i2d_X509(sk_X509_value(stack, i), &der);
        if (length > 0) out.emplace_back(der, static_cast<std::size_t>(length));
        OPENSSL_free(der);
    }
    return out;
}

// What the verify callback saw and decided.
struct Decision {
    explicit Decision(std::string h) : host(std::move(h)) {}
    std::string host;
    std::vector<NSData> chain;
    SecTrustResultType result = kSecTrustResultInvalid;
    bool called = false;
};

// The transport's seam: evaluate the presented chain during the handshake.
int verifyDuringHandshake(X509_STORE_CTX* ctx, void* arg) {
    auto* decision = static_cast<Decision*>(arg);
    decision->called = true;
    decision->chain = derChain(X509_STORE_CTX_get0_untrusted(ctx));
    auto trust = SecTrustCreateForServer(decision->chain, decision->host);
    if (!trust || SecTrustEvaluate(trust, &decision->result) != errSecSuccess) return 0;
    return decision->result == kSecTrustResultUnspecified || decision->result == kSecTrustResultProceed;
}

int connectLoopback(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

struct ClientResult {
    bool handshake = false;
    std::string response;
    std::vector<NSData> peerChain;
};

// Connects, sends one GET when the handshake succeeds, and reads the answer.
ClientResult fetch(std::uint16_t port, Decision* decision) {
    ClientResult out;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (decision) {
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_cert_verify_callback(ctx, verifyDuringHandshake, decision);
    } else {
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    }
    int fd = connectLoopback(port);
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    SSL_set_tlsext_host_name(ssl, "localhost");
    if (fd >= 0 && SSL_connect(ssl) == 1) {
        out.handshake = true;
        out.peerChain = derChain(SSL_get_peer_cert_chain(ssl));
        std::string request = "GET /probe HTTP/1.1\r\nHost: localhost\r\n\r\n";
        SSL_write(ssl, request.data(), static_cast<int>(request.size()));
        char buffer[1024];
        int n;
        while ((n = SSL_read(ssl, buffer, sizeof buffer)) > 0)
            out.response.append(buffer, static_cast<std::size_t>(n));
    }
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    if (fd >= 0) ::close(fd);
    ERR_clear_error();
    return out;
}

class SecTrustHandshakeTest : public ::testing::Test {
  protected:
    void SetUp() override { security_testing::resetSystemAnchors(); }
    void TearDown() override { security_testing::resetSystemAnchors(); }
};

TEST_F(SecTrustHandshakeTest, ThePresentedChainEvaluatesAfterTheHandshake) {
    const auto& pki = testPKI();
    HTTPSTestServer server(pki.chainPEM(pki.leaf), pki.leaf.keyPEM);
    server.setResponse(200, "hello");
    ASSERT_TRUE(server.start()) << server.lastError();

    ClientResult result = fetch(server.port(), nullptr);
    ASSERT_TRUE(result.handshake);
    EXPECT_NE(result.response.find("200 OK"), std::string::npos);
    EXPECT_NE(result.response.find("hello"), std::string::npos);
    ASSERT_EQ(result.peerChain.size(), 2u);
    EXPECT_EQ(result.peerChain[0], pki.leaf.data());
    EXPECT_EQ(result.peerChain[1], pki.intermediate.data());

    auto trust = SecTrustCreateForServer(result.peerChain, "localhost");
    SecTrustResultType verdict;
    ASSERT_EQ(SecTrustEvaluate(trust, &verdict), errSecSuccess);
    EXPECT_EQ(verdict, kSecTrustResultRecoverableTrustFailure);
    security_testing::addSystemAnchor(SecCertificateCreateWithData(pki.root.data()));
    ASSERT_EQ(SecTrustEvaluate(trust, &verdict), errSecSuccess);
    EXPECT_EQ(verdict, kSecTrustResultUnspecified);

    ASSERT_TRUE(server.waitUntilIdle());
    EXPECT_EQ(server.requestLines(), std::vector<std::string>{"GET /probe HTTP/1.1"});
}

TEST_F(SecTrustHandshakeTest, ATrustedChainLetsTheRequestThrough) {
    const auto& pki = testPKI();
    security_testing::addSystemAnchor(SecCertificateCreateWithData(pki.root.data()));
    HTTPSTestServer server(pki.chainPEM(pki.leaf), pki.leaf.keyPEM);
    ASSERT_TRUE(server.start()) << server.lastError();

    for (const char* host : {"localhost", "127.0.0.1"}) {
        Decision decision(host);
        ClientResult result = fetch(server.port(), &decision);
        EXPECT_TRUE(decision.called);
        EXPECT_EQ(decision.result, kSecTrustResultUnspecified) << host;
        EXPECT_TRUE(result.handshake) << host;
        EXPECT_NE(result.response.find("200 OK"), std::string::npos) << host;
        ASSERT_EQ(decision.chain.size(), 2u);
        EXPECT_EQ(decision.chain[0], pki.leaf.data());
    }
    ASSERT_TRUE(server.waitUntilIdle());
    EXPECT_EQ(server.handshakesCompleted(), 2);
    EXPECT_EQ(server.requestsAnswered(), 2);
}

TEST_F(SecTrustHandshakeTest, RefusingInTheHandshakeSendsNoRequestByte) {
    const auto& pki = testPKI();
    struct Case {
        const char* name;
        const testsupport::TestCertificate* leaf;
        bool trustRoot;
        SecTrustResultType expected;
    };
    const Case cases[] = {
        {"untrusted root", &pki.leaf, false, kSecTrustResultRecoverableTrustFailure},
        {"expired", &pki.expiredLeaf, true, kSecTrustResultRecoverableTrustFailure},
        {"wrong host", &pki.wrongHostLeaf, true, kSecTrustResultRecoverableTrustFailure},
        {"not yet valid", &pki.notYetValidLeaf, true, kSecTrustResultRecoverableTrustFailure},
    };
    for (const auto& c : cases) {
        security_testing::resetSystemAnchors();
        if (c.trustRoot) security_testing::addSystemAnchor(SecCertificateCreateWithData(pki.root.data()));
        HTTPSTestServer server(pki.chainPEM(*c.leaf), c.leaf->keyPEM);
        ASSERT_TRUE(server.start()) << server.lastError();
        Decision decision("localhost");
        ClientResult result = fetch(server.port(), &decision);
        EXPECT_TRUE(decision.called) << c.name;
        EXPECT_EQ(decision.result, c.expected) << c.name;
        EXPECT_FALSE(result.handshake) << c.name;
        ASSERT_TRUE(server.waitUntilIdle(1)) << c.name;
        EXPECT_EQ(server.connectionsAccepted(), 1) << c.name;
        EXPECT_EQ(server.handshakesFailed(), 1) << c.name;
        EXPECT_EQ(server.requestBytesReceived(), 0u) << c.name;
        EXPECT_EQ(server.requestsAnswered(), 0) << c.name;
    }
}

TEST_F(SecTrustHandshakeTest, ASelfSignedServerIsRefusedUnlessItsCertificateIsTheAnchor) {
    const auto& pki = testPKI();
    HTTPSTestServer server(pki.selfSignedLeaf.pem, pki.selfSignedLeaf.keyPEM);
    ASSERT_TRUE(server.start()) << server.lastError();
    Decision decision("localhost");
    EXPECT_FALSE(fetch(server.port(), &decision).handshake);
    EXPECT_EQ(decision.result, kSecTrustResultRecoverableTrustFailure);

    // Pinning by certificate: the pinned certificate becomes the anchor.
    ASSERT_EQ(decision.chain.size(), 1u);
    auto trust = SecTrustCreateForServer(decision.chain, "localhost");
    SecTrustSetAnchorCertificates(
        trust, std::vector<SecCertificateRef>{SecCertificateCreateWithData(pki.selfSignedLeaf.data())});
    SecTrustResultType verdict;
    ASSERT_EQ(SecTrustEvaluate(trust, &verdict), errSecSuccess);
    EXPECT_EQ(verdict, kSecTrustResultUnspecified);
}

TEST_F(SecTrustHandshakeTest, TheServerRefusesAKeyThatDoesNotMatch) {
    const auto& pki = testPKI();
    HTTPSTestServer mismatched(pki.leaf.pem, pki.otherLeaf.keyPEM);
    EXPECT_FALSE(mismatched.start());
    EXPECT_FALSE(mismatched.lastError().empty());
    HTTPSTestServer garbage("not a certificate", "not a key");
    EXPECT_FALSE(garbage.start());
}

TEST_F(SecTrustHandshakeTest, AClientThatHangsUpIsCountedAsAFailedHandshake) {
    const auto& pki = testPKI();
    HTTPSTestServer server(pki.chainPEM(pki.leaf), pki.leaf.keyPEM);
    ASSERT_TRUE(server.start()) << server.lastError();
    int fd = connectLoopback(server.port());
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_TRUE(server.waitUntilIdle(1));
    EXPECT_EQ(server.connectionsAccepted(), 1);
    EXPECT_EQ(server.handshakesFailed(), 1);
    EXPECT_EQ(server.requestBytesReceived(), 0u);
    server.stop();
    server.stop();  // twice is harmless
}

}  // namespace
