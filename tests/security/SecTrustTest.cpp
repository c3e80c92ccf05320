// Trust evaluation over chains made in the test: verdicts for trusted, expired, not yet valid,
// wrong-host, self-signed and untrusted chains; anchors replacing the system roots; the calls
// certificate and public-key pinning build on.

#include "security/SecTrust.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "SecurityTestSupport.h"
#include "security/SecCertificate.h"
#include "security/SecKey.h"
#include "security/SecPolicy.h"
#include "security/SecurityTesting.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::TestCertificate;
using testsupport::testPKI;

SecCertificateRef cert(const TestCertificate& certificate) {
    auto made = SecCertificateCreateWithData(certificate.data());
    EXPECT_TRUE(made);
    return made;
}

std::vector<SecCertificateRef> certs(std::initializer_list<const TestCertificate*> list) {
    std::vector<SecCertificateRef> out;
    for (const auto* certificate : list) out.push_back(cert(*certificate));
    return out;
}

class SecTrustTest : public ::testing::Test {
  protected:
    void SetUp() override { security_testing::resetSystemAnchors(); }
    void TearDown() override { security_testing::resetSystemAnchors(); }

    static void trustTestRoot() { security_testing::addSystemAnchor(cert(testPKI().root)); }

    template <class Chain, class Policies>
    static SecTrustRef trustOver(const Chain& chain, const Policies& policies) {
        SecTrustRef trust;
        EXPECT_EQ(SecTrustCreateWithCertificates(chain, policies, &trust), errSecSuccess);
        return trust;
    }

    // A trust over leaf + intermediate with an SSL server policy for `host`.
    static SecTrustRef serverTrust(const TestCertificate& leaf,
                                   const std::optional<std::string>& host = "localhost") {
        return trustOver(certs({&leaf, &testPKI().intermediate}), SecPolicyCreateSSL(true, host));
    }

    static SecTrustResultType evaluate(const SecTrustRef& trust) {
        SecTrustResultType result = kSecTrustResultInvalid;
        EXPECT_EQ(SecTrustEvaluate(trust, &result), errSecSuccess);
        return result;
    }

    static long failureCode(const SecTrustRef& trust) {
        Ref<NSError> error;
        if (SecTrustEvaluateWithError(trust, &error)) return 0;
        EXPECT_TRUE(error);
        EXPECT_EQ(error->domain(), NSOSStatusErrorDomain);
        return error ? error->code() : 1;
    }
};

TEST_F(SecTrustTest, VerdictsForServerChains) {
    const auto& pki = testPKI();
    struct Case {
        const TestCertificate* leaf;
        std::optional<std::string> host;
        bool rootTrusted;
        long failure;  // 0: trusted
    } cases[] = {
        {&pki.leaf, "localhost", true, 0},
        {&pki.leaf, "localhost", false, errSecNotTrusted},
        {&pki.expiredLeaf, "localhost", true, errSecCertificateExpired},
        {&pki.notYetValidLeaf, "localhost", true, errSecCertificateNotValidYet},
        {&pki.wrongHostLeaf, "localhost", true, errSecHostNameMismatch},
        // The same chain passes for its own host and without a host.
        {&pki.wrongHostLeaf, "wrong-host.test", true, 0},
        {&pki.wrongHostLeaf, std::nullopt, true, 0},
        {&pki.emailLeaf, "localhost", true, errSecInvalidExtendedKeyUsage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "case " << (&c - cases));
        security_testing::resetSystemAnchors();
        if (c.rootTrusted) trustTestRoot();
        auto trust = serverTrust(*c.leaf, c.host);
        const auto verdict = c.failure ? kSecTrustResultRecoverableTrustFailure : kSecTrustResultUnspecified;
        EXPECT_EQ(evaluate(trust), verdict);
        EXPECT_EQ(failureCode(trust), c.failure);
        SecTrustResultType again;
        EXPECT_EQ(SecTrustGetTrustResult(trust, &again), errSecSuccess);
        EXPECT_EQ(again, verdict);
        // Host and purpose belong to the SSL policy only; a basic one passes whatever the host.
        if (c.failure == errSecHostNameMismatch || c.failure == errSecInvalidExtendedKeyUsage) {
            EXPECT_EQ(SecTrustSetPolicies(trust, SecPolicyCreateBasicX509()), errSecSuccess);
            EXPECT_EQ(evaluate(trust), kSecTrustResultUnspecified);
        }
    }
}

TEST_F(SecTrustTest, TheErrorSaysWhichCertificateFailed) {
    trustTestRoot();
    Ref<NSError> error;
    EXPECT_FALSE(SecTrustEvaluateWithError(serverTrust(testPKI().expiredLeaf), &error));
    ASSERT_TRUE(error);
    for (const char* word : {"expired", "localhost"})
        EXPECT_NE(error->localizedDescription().find(word), std::string::npos)
            << error->localizedDescription();
}

TEST_F(SecTrustTest, HostNamesAndAddresses) {
    trustTestRoot();
    const auto& leaf = testPKI().leaf;
    for (const char* good : {"localhost", "LOCALHOST", "localhost.", "127.0.0.1", "::1", "[::1]", ""})
        EXPECT_EQ(evaluate(serverTrust(leaf, good)), kSecTrustResultUnspecified) << good;
    for (const char* bad : {"127.0.0.2", "sub.localhost", "localhost.test", "::2", "local", "*"})
        EXPECT_EQ(evaluate(serverTrust(leaf, bad)), kSecTrustResultRecoverableTrustFailure) << bad;
}

TEST_F(SecTrustTest, ACommonNameCountsOnlyWithoutAlternativeNames) {
    trustTestRoot();
    testsupport::CertificateOptions options;
    options.commonName = "cn-only.test";
    auto cnOnly = testsupport::makeTestCertificate(options, &testPKI().intermediate);
    EXPECT_EQ(evaluate(serverTrust(cnOnly, "cn-only.test")), kSecTrustResultUnspecified);
    EXPECT_EQ(evaluate(serverTrust(cnOnly, "other.test")), kSecTrustResultRecoverableTrustFailure);
    // With alternative names the common name is not looked at.
    options.dnsNames = {"alt.test"};
    auto withNames = testsupport::makeTestCertificate(options, &testPKI().intermediate);
    EXPECT_EQ(evaluate(serverTrust(withNames, "alt.test")), kSecTrustResultUnspecified);
    EXPECT_EQ(evaluate(serverTrust(withNames, "cn-only.test")), kSecTrustResultRecoverableTrustFailure);
    // A client policy checks no host.
    auto trust =
        trustOver(certs({&withNames, &testPKI().intermediate}), SecPolicyCreateSSL(false, "elsewhere.test"));
    EXPECT_EQ(evaluate(trust), kSecTrustResultUnspecified);
}

TEST_F(SecTrustTest, UntrustedChainsPassOnceAnchored) {
    trustTestRoot();
    auto self = cert(testPKI().selfSignedLeaf);
    auto selfSigned = trustOver(self, SecPolicyCreateSSL(true, "localhost"));
    EXPECT_EQ(evaluate(selfSigned), kSecTrustResultRecoverableTrustFailure);
    ASSERT_EQ(SecTrustSetAnchorCertificates(selfSigned, std::vector<SecCertificateRef>{self}), errSecSuccess);
    EXPECT_EQ(evaluate(selfSigned), kSecTrustResultUnspecified);
    // An unrelated root does not vouch for a chain until it is a system anchor too.
    auto other = trustOver(certs({&testPKI().otherLeaf}), SecPolicyCreateSSL(true, "localhost"));
    EXPECT_EQ(evaluate(other), kSecTrustResultRecoverableTrustFailure);
    security_testing::addSystemAnchor(cert(testPKI().otherRoot));
    EXPECT_EQ(evaluate(other), kSecTrustResultUnspecified);
}

TEST_F(SecTrustTest, AnchorsReplaceTheSystemRoots) {
    trustTestRoot();
    auto trust = serverTrust(testPKI().leaf);
    ASSERT_EQ(evaluate(trust), kSecTrustResultUnspecified);

    // Only the other root counts now, though the test root is still a system anchor.
    ASSERT_EQ(SecTrustSetAnchorCertificates(trust, certs({&testPKI().otherRoot})), errSecSuccess);
    EXPECT_EQ(evaluate(trust), kSecTrustResultRecoverableTrustFailure);
    // ...unless the system roots are let back in,
    ASSERT_EQ(SecTrustSetAnchorCertificatesOnly(trust, false), errSecSuccess);
    EXPECT_EQ(evaluate(trust), kSecTrustResultUnspecified);
    // ...or the anchors are dropped.
    ASSERT_EQ(SecTrustSetAnchorCertificates(trust, certs({&testPKI().otherRoot})), errSecSuccess);
    EXPECT_EQ(evaluate(trust), kSecTrustResultRecoverableTrustFailure);
    ASSERT_EQ(SecTrustSetAnchorCertificates(trust, std::nullopt), errSecSuccess);
    EXPECT_EQ(evaluate(trust), kSecTrustResultUnspecified);
}

TEST_F(SecTrustTest, AnchorsTrustAChainTheSystemDoesNot) {
    auto trust = serverTrust(testPKI().leaf);
    ASSERT_EQ(evaluate(trust), kSecTrustResultRecoverableTrustFailure);
    SecTrustSetAnchorCertificates(trust, certs({&testPKI().root}));
    EXPECT_EQ(evaluate(trust), kSecTrustResultUnspecified);
    // An empty list trusts nothing.
    SecTrustSetAnchorCertificates(trust, std::vector<SecCertificateRef>{});
    EXPECT_EQ(evaluate(trust), kSecTrustResultRecoverableTrustFailure);
}

TEST_F(SecTrustTest, AnyCertificateOfTheChainCanBeTheAnchor) {
    const auto& pki = testPKI();
    auto trust =
        trustOver(certs({&pki.leaf, &pki.intermediate, &pki.root}), SecPolicyCreateSSL(true, "localhost"));
    for (const auto* anchor : {&pki.root, &pki.intermediate, &pki.leaf}) {
        SecTrustSetAnchorCertificates(trust, certs({anchor}));
        EXPECT_EQ(evaluate(trust), kSecTrustResultUnspecified);
    }
    SecTrustSetAnchorCertificates(trust, certs({&pki.leaf, &pki.intermediate, &pki.root}));
    EXPECT_EQ(evaluate(trust), kSecTrustResultUnspecified);
    // An anchored chain must still be in date and for the host.
    SecTrustSetPolicies(trust, SecPolicyCreateSSL(true, "wrong-host.test"));
    EXPECT_EQ(evaluate(trust), kSecTrustResultRecoverableTrustFailure);
}

TEST_F(SecTrustTest, TheVerifyDateMovesTheValidityCheck) {
    trustTestRoot();
    auto valid = serverTrust(testPKI().leaf);
    SecTrustSetVerifyDate(valid, NSDate::dateWithTimeIntervalSinceNow(2 * 365 * 86400.0));
    EXPECT_EQ(evaluate(valid), kSecTrustResultRecoverableTrustFailure);
    EXPECT_EQ(failureCode(valid), errSecCertificateExpired);
    auto expired = serverTrust(testPKI().expiredLeaf);
    SecTrustSetVerifyDate(expired, NSDate::dateWithTimeIntervalSinceNow(-10 * 86400.0));
    EXPECT_EQ(evaluate(expired), kSecTrustResultUnspecified);
}

TEST_F(SecTrustTest, EveryPolicyMustPass) {
    trustTestRoot();
    auto trust = trustOver(
        certs({&testPKI().leaf, &testPKI().intermediate}),
        std::vector<SecPolicyRef>{SecPolicyCreateBasicX509(), SecPolicyCreateSSL(true, "wrong-host.test")});
    EXPECT_EQ(evaluate(trust), kSecTrustResultRecoverableTrustFailure);
    std::vector<SecPolicyRef> policies;
    ASSERT_EQ(SecTrustCopyPolicies(trust, &policies), errSecSuccess);
    EXPECT_EQ(policies.size(), 2u);
    // No policy at all means a basic check.
    SecTrustSetPolicies(trust, std::vector<SecPolicyRef>{});
    EXPECT_EQ(evaluate(trust), kSecTrustResultUnspecified);
}

TEST_F(SecTrustTest, ChangingTheTrustForgetsTheVerdict) {
    trustTestRoot();
    auto trust = serverTrust(testPKI().leaf);
    SecTrustResultType result;
    SecTrustGetTrustResult(trust, &result);
    EXPECT_EQ(result, kSecTrustResultInvalid);
    evaluate(trust);
    SecTrustSetPolicies(trust, SecPolicyCreateSSL(true, "localhost"));
    SecTrustGetTrustResult(trust, &result);
    EXPECT_EQ(result, kSecTrustResultInvalid);
}

TEST_F(SecTrustTest, CertificatesStayAsGivenLeafFirst) {
    const auto& pki = testPKI();
    auto trust = trustOver(certs({&pki.leaf, &pki.intermediate, &pki.root}), SecPolicyCreateBasicX509());
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_EQ(SecTrustGetCertificateCount(trust), 3);
        EXPECT_EQ(SecCertificateCopyData(SecTrustGetCertificateAtIndex(trust, 0)), pki.leaf.data());
        EXPECT_EQ(SecCertificateCopyData(SecTrustGetCertificateAtIndex(trust, 1)), pki.intermediate.data());
        EXPECT_EQ(SecCertificateCopyData(SecTrustGetCertificateAtIndex(trust, 2)), pki.root.data());
        EXPECT_FALSE(SecTrustGetCertificateAtIndex(trust, 3));
        EXPECT_FALSE(SecTrustGetCertificateAtIndex(trust, -1));
        evaluate(trust);
    }
    EXPECT_EQ(SecTrustGetCertificateCount(nullptr), 0);
    EXPECT_FALSE(SecTrustGetCertificateAtIndex(nullptr, 0));
}

TEST_F(SecTrustTest, ThePublicKeyIsTheLeafs) {
    auto trust = serverTrust(testPKI().leaf);
    auto key = SecTrustCopyPublicKey(trust);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->isEqual(*SecCertificateCopyKey(cert(testPKI().leaf))));
    EXPECT_FALSE(key->isEqual(*SecCertificateCopyKey(cert(testPKI().intermediate))));
    EXPECT_FALSE(SecTrustCopyPublicKey(nullptr));
}

TEST_F(SecTrustTest, BadArgumentsAreRefused) {
    SecTrustRef trust = make<SecTrust>(std::vector<SecCertificateRef>{}, std::vector<SecPolicyRef>{});
    SecTrustRef out = trust;
    EXPECT_EQ(
        SecTrustCreateWithCertificates(std::vector<SecCertificateRef>{}, SecPolicyCreateBasicX509(), &out),
        errSecParam);
    EXPECT_FALSE(out);
    EXPECT_EQ(SecTrustCreateWithCertificates(std::vector<SecCertificateRef>{nullptr},
                                             SecPolicyCreateBasicX509(), &out),
              errSecParam);
    EXPECT_EQ(SecTrustCreateWithCertificates(cert(testPKI().leaf), SecPolicyCreateBasicX509(), nullptr),
              errSecParam);
    SecTrustResultType result;
    EXPECT_EQ(SecTrustEvaluate(nullptr, &result), errSecParam);
    EXPECT_EQ(SecTrustEvaluate(serverTrust(testPKI().leaf), nullptr), errSecParam);
    EXPECT_NE(SecTrustEvaluate(trust, &result), errSecSuccess);  // nothing to evaluate
    EXPECT_EQ(result, kSecTrustResultInvalid);
    EXPECT_EQ(SecTrustSetPolicies(nullptr, SecPolicyCreateBasicX509()), errSecParam);
    EXPECT_EQ(SecTrustSetAnchorCertificates(nullptr, std::nullopt), errSecParam);
    EXPECT_EQ(
        SecTrustSetAnchorCertificates(serverTrust(testPKI().leaf), std::vector<SecCertificateRef>{nullptr}),
        errSecParam);
    EXPECT_EQ(SecTrustSetAnchorCertificatesOnly(nullptr, true), errSecParam);
    EXPECT_EQ(SecTrustSetVerifyDate(nullptr, NSDate()), errSecParam);
    EXPECT_EQ(SecTrustGetTrustResult(nullptr, &result), errSecParam);
    Ref<NSError> error;
    EXPECT_FALSE(SecTrustEvaluateWithError(nullptr, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), errSecParam);
}

TEST_F(SecTrustTest, PinningBuildingBlocksAlwaysEvaluate) {
    // A trust over one certificate under a basic policy evaluates without error whatever the
    // verdict, and yields that certificate's key: public-key pinning collects keys this way.
    const auto& pki = testPKI();
    for (const auto* certificate :
         {&pki.leaf, &pki.intermediate, &pki.root, &pki.expiredLeaf, &pki.otherLeaf}) {
        auto trust = trustOver(cert(*certificate), SecPolicyCreateBasicX509());
        evaluate(trust);
        auto key = SecTrustCopyPublicKey(trust);
        ASSERT_TRUE(key);
        EXPECT_EQ(key->publicKeyInfo(), sectest::dataOf(certificate->publicKeyDER));
    }
}

TEST_F(SecTrustTest, TheServerFactoryChecksTheHost) {
    trustTestRoot();
    const auto& pki = testPKI();
    auto trust = SecTrustCreateForServer(pki.chain(pki.leaf), "localhost");
    ASSERT_TRUE(trust);
    EXPECT_EQ(SecTrustGetCertificateCount(trust), 2);
    EXPECT_EQ(evaluate(trust), kSecTrustResultUnspecified);
    EXPECT_EQ(evaluate(SecTrustCreateForServer(pki.chain(pki.leaf), "wrong-host.test")),
              kSecTrustResultRecoverableTrustFailure);
    EXPECT_EQ(evaluate(SecTrustCreateForServer(pki.chain(pki.wrongHostLeaf), std::nullopt)),
              kSecTrustResultUnspecified);
    EXPECT_FALSE(SecTrustCreateForServer({}, "localhost"));
    EXPECT_FALSE(SecTrustCreateForServer({pki.leaf.data(), sectest::dataOf("junk")}, "localhost"));
    // A chain in the wrong order is checked as if the intermediate were the server's certificate.
    EXPECT_EQ(evaluate(SecTrustCreateForServer({pki.intermediate.data(), pki.leaf.data()}, "localhost")),
              kSecTrustResultRecoverableTrustFailure);
}

TEST_F(SecTrustTest, TheSystemRootsAreTheDebianBundle) {
    std::ifstream file("/etc/ssl/certs/ca-certificates.crt");
    if (!file) GTEST_SKIP() << "no CA bundle on this machine";
    std::stringstream text;
    text << file.rdbuf();
    auto roots = detail::certificatesFromPEM(text.str());
    ASSERT_FALSE(roots.empty());
    int trusted = 0;
    for (std::size_t i = 0; i < roots.size(); i += std::max<std::size_t>(1, roots.size() / 8)) {
        auto trust = trustOver(roots[i], SecPolicyCreateBasicX509());
        SecTrustResultType result;
        ASSERT_EQ(SecTrustEvaluate(trust, &result), errSecSuccess);
        // Every root in the bundle that is in date is trusted as it is.
        if (result == kSecTrustResultUnspecified) ++trusted;
    }
    EXPECT_GT(trusted, 0);
    // And none of them vouches for the test chain.
    EXPECT_EQ(evaluate(serverTrust(testPKI().leaf)), kSecTrustResultRecoverableTrustFailure);
}

TEST_F(SecTrustTest, HostileChainsNeverCrash) {
    trustTestRoot();
    const auto& pki = testPKI();
    for (unsigned seed = 0; seed < 600; ++seed) {
        std::vector<NSData> chain = pki.chain(pki.leaf, true);
        std::size_t victim = seed % chain.size();
        chain[victim] = sectest::dataOf(testsupport::mutate(chain[victim].toString(), seed));
        auto trust = SecTrustCreateForServer(chain, "localhost");
        if (!trust) continue;
        SecTrustResultType result;
        ASSERT_EQ(SecTrustEvaluate(trust, &result), errSecSuccess);
        EXPECT_NE(result, kSecTrustResultInvalid);
        (void)SecTrustCopyPublicKey(trust);
    }
}

TEST_F(SecTrustTest, ConcurrentEvaluationsAgree) {
    trustTestRoot();
    auto trust = serverTrust(testPKI().leaf);
    std::atomic<int> unexpected{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                if (t == 0) {
                    SecTrustSetPolicies(trust, SecPolicyCreateSSL(true, i % 2 ? "localhost" : "127.0.0.1"));
                    continue;
                }
                if (t == 1) {
                    security_testing::addSystemAnchor(cert(testPKI().otherRoot));
                    continue;
                }
                SecTrustResultType result;
                if (SecTrustEvaluate(trust, &result) != errSecSuccess ||
                    result != kSecTrustResultUnspecified) {
                    unexpected++;
                }
                auto other = serverTrust(testPKI().leaf);
                if (SecTrustEvaluate(other, &result) != errSecSuccess ||
                    result != kSecTrustResultUnspecified) {
                    unexpected++;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(unexpected.load(), 0);
}

TEST_F(SecTrustTest, Descriptions) {
    auto trust = serverTrust(testPKI().leaf);
    EXPECT_EQ(trust->description(), "<SecTrust: 2 certificates, 1 policies>");
    EXPECT_EQ(SecPolicyCreateSSL(true, "localhost")->description(),
              "<SecPolicy: SSL server, host localhost>");
    EXPECT_EQ(SecPolicyCreateBasicX509()->description(), "<SecPolicy: basic X.509>");
    EXPECT_FALSE(SecPolicyCreateSSL(true, "")->hostname());
    EXPECT_TRUE(SecPolicyCreateSSL(true, "a")->isEqual(*SecPolicyCreateSSL(true, "a")));
    EXPECT_FALSE(SecPolicyCreateSSL(true, "a")->isEqual(*SecPolicyCreateSSL(false, "a")));
}

}  // namespace
