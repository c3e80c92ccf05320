// The security policy: ordinary validation, host names, certificate and public-key pinning, and
// the verdicts over real TLS handshakes on loopback (pinned, mismatched, expired), where a refused
// chain must stop the connection before any byte of the request leaves.

#include "net/HKSecurityPolicy.h"
#include "foundation/FoundationTesting.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/NSBundle.h"
#include "foundation/NSKeyValueObserving.h"
#include "net/HKHTTPRequestOperationManager.h"
#include "security/SecCertificate.h"
#include "security/SecurityTesting.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/HTTPSTestServer.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TestSupport.h"

using testsupport::TestCertificate;
using testsupport::testPKI;

namespace {

SecTrustRef serverTrust(const std::vector<NSData>& chain, const std::string& host = "localhost") {
    return SecTrustCreateForServer(chain, host);
}

SecTrustRef trustFor(const TestCertificate& leaf, bool withRoot = false) {
    return serverTrust(testPKI().chain(leaf, withRoot));
}

Ref<HKSecurityPolicy> pinning(HKSSLPinningMode mode, std::vector<NSData> pinned) {
    auto policy = make<HKSecurityPolicy>();
    policy->setSSLPinningMode(mode);
    policy->setPinnedCertificates(std::move(pinned));
    return policy;
}

class SecurityPolicyTest : public ::testing::Test {
  protected:
    void TearDown() override { security_testing::resetSystemAnchors(); }
    // Makes the test root count as a system root: chains under it are "publicly" trusted.
    static void trustTestRoot() {
        security_testing::addSystemAnchor(SecCertificateCreateWithData(testPKI().root.data()));
    }
};

TEST_F(SecurityPolicyTest, DefaultsAreOrdinaryValidationWithHostNames) {
    auto policy = HKSecurityPolicy::defaultPolicy();
    EXPECT_EQ(policy->SSLPinningMode(), HKPinningNone);
    EXPECT_TRUE(policy->validatesCertificateChain());
    EXPECT_TRUE(policy->validatesDomainName());
    EXPECT_FALSE(policy->allowInvalidCertificates());
    EXPECT_FALSE(policy->pinnedCertificates().has_value());
    EXPECT_FALSE(policy->evaluateServerTrust(nullptr, std::string("localhost")));
}

TEST_F(SecurityPolicyTest, ModeNoneTrustsWhatThePlatformTrustsForTheHost) {
    auto policy = HKSecurityPolicy::defaultPolicy();
    EXPECT_FALSE(policy->evaluateServerTrust(trustFor(testPKI().leaf), std::string("localhost")));
    trustTestRoot();
    EXPECT_TRUE(policy->evaluateServerTrust(trustFor(testPKI().leaf), std::string("localhost")));
    EXPECT_TRUE(policy->evaluateServerTrust(trustFor(testPKI().leaf), std::string("127.0.0.1")));
    EXPECT_FALSE(policy->evaluateServerTrust(trustFor(testPKI().expiredLeaf), std::string("localhost")));
    EXPECT_FALSE(policy->evaluateServerTrust(trustFor(testPKI().notYetValidLeaf), std::string("localhost")));
    EXPECT_FALSE(policy->evaluateServerTrust(serverTrust({testPKI().selfSignedLeaf.data()}),
                                             std::string("localhost")));
}

TEST_F(SecurityPolicyTest, ModeNoneWithInvalidCertificatesAllowedSaysYesWithoutLooking) {
    auto policy = HKSecurityPolicy::defaultPolicy();
    policy->setAllowInvalidCertificates(true);
    EXPECT_TRUE(policy->evaluateServerTrust(serverTrust({testPKI().selfSignedLeaf.data()}),
                                            std::string("localhost")));
    EXPECT_TRUE(policy->evaluateServerTrust(trustFor(testPKI().expiredLeaf), std::string("elsewhere.test")));
}

TEST_F(SecurityPolicyTest, DomainNameCheckCanBeTurnedOff) {
    trustTestRoot();
    auto policy = HKSecurityPolicy::defaultPolicy();
    EXPECT_FALSE(policy->evaluateServerTrust(trustFor(testPKI().wrongHostLeaf), std::string("localhost")));
    policy->setValidatesDomainName(false);
    EXPECT_TRUE(policy->evaluateServerTrust(trustFor(testPKI().wrongHostLeaf), std::string("localhost")));
    // Without a domain the SSL policy checks no host.
    policy->setValidatesDomainName(true);
    EXPECT_TRUE(policy->evaluateServerTrust(trustFor(testPKI().wrongHostLeaf)));
}

TEST_F(SecurityPolicyTest, CertificatePinningWantsEveryCertificateOfTheChainPinned) {
    trustTestRoot();
    const auto& pki = testPKI();
    auto leafOnly = pinning(HKPinningCertificate, {pki.leaf.data()});
    EXPECT_FALSE(leafOnly->evaluateServerTrust(trustFor(pki.leaf, true), std::string("localhost")));
    auto all = pinning(HKPinningCertificate, {pki.root.data(), pki.intermediate.data(), pki.leaf.data()});
    EXPECT_TRUE(all->evaluateServerTrust(trustFor(pki.leaf, true), std::string("localhost")));
    EXPECT_FALSE(all->evaluateServerTrust(trustFor(pki.renewedLeaf, true), std::string("localhost")));
}

TEST_F(SecurityPolicyTest, CertificatePinningWithoutChainCheckNeedsOnlyAnAnchor) {
    trustTestRoot();
    const auto& pki = testPKI();
    auto rootOnly = pinning(HKPinningCertificate, {pki.root.data()});
    rootOnly->setValidatesCertificateChain(false);
    EXPECT_TRUE(rootOnly->evaluateServerTrust(trustFor(pki.leaf), std::string("localhost")));
    auto otherRoot = pinning(HKPinningCertificate, {pki.otherRoot.data()});
    otherRoot->setValidatesCertificateChain(false);
    EXPECT_FALSE(otherRoot->evaluateServerTrust(trustFor(pki.leaf), std::string("localhost")));
}

TEST_F(SecurityPolicyTest, PinningRequiresAValidChainUnlessInvalidIsAllowed) {
    const auto& pki = testPKI();
    // The test root is not a system root here.
    auto policy = pinning(HKPinningCertificate, {pki.root.data(), pki.intermediate.data(), pki.leaf.data()});
    EXPECT_FALSE(policy->evaluateServerTrust(trustFor(pki.leaf, true), std::string("localhost")));
    policy->setAllowInvalidCertificates(true);
    EXPECT_TRUE(policy->evaluateServerTrust(trustFor(pki.leaf, true), std::string("localhost")));
}

TEST_F(SecurityPolicyTest, PublicKeyPinningOfTheLeafAloneMatchesARenewedCertificate) {
    trustTestRoot();
    const auto& pki = testPKI();
    auto policy = pinning(HKPinningPublicKey, {pki.leaf.data()});
    policy->setValidatesCertificateChain(false);
    EXPECT_TRUE(policy->evaluateServerTrust(trustFor(pki.leaf), std::string("localhost")));
    EXPECT_TRUE(policy->evaluateServerTrust(trustFor(pki.renewedLeaf), std::string("localhost")));
    auto other = pinning(HKPinningPublicKey, {pki.rsaLeaf.data()});
    other->setValidatesCertificateChain(false);
    EXPECT_FALSE(other->evaluateServerTrust(trustFor(pki.leaf), std::string("localhost")));
}

TEST_F(SecurityPolicyTest, PublicKeyPinningOfTheChainNeedsEveryKey) {
    trustTestRoot();
    const auto& pki = testPKI();
    auto all = pinning(HKPinningPublicKey, {pki.leaf.data(), pki.intermediate.data(), pki.root.data()});
    EXPECT_TRUE(all->evaluateServerTrust(trustFor(pki.leaf, true), std::string("localhost")));
    auto leafOnly = pinning(HKPinningPublicKey, {pki.leaf.data()});
    EXPECT_FALSE(leafOnly->evaluateServerTrust(trustFor(pki.leaf, true), std::string("localhost")));
}

TEST_F(SecurityPolicyTest, APinnedKeyListedTwiceCannotVouchForAnUnpinnedCertificate) {
    trustTestRoot();
    const auto& pki = testPKI();
    // Chain: leaf and intermediate. Only the leaf is pinned, twice over.
    auto policy = pinning(HKPinningPublicKey, {pki.leaf.data(), pki.leaf.data()});
    EXPECT_EQ(policy->pinnedPublicKeys()->size(), 2u);
    EXPECT_FALSE(policy->evaluateServerTrust(trustFor(pki.leaf), std::string("localhost")));
}

TEST_F(SecurityPolicyTest, DataThatIsNotACertificateYieldsNoKeyAndIsPassedOver) {
    trustTestRoot();
    const auto& pki = testPKI();
    auto policy = pinning(HKPinningPublicKey, {NSData::fromString("not a certificate"), pki.leaf.data()});
    ASSERT_TRUE(policy->pinnedPublicKeys().has_value());
    EXPECT_EQ(policy->pinnedPublicKeys()->size(), 1u);
    policy->setValidatesCertificateChain(false);
    EXPECT_TRUE(policy->evaluateServerTrust(trustFor(pki.leaf), std::string("localhost")));

    auto certificates = pinning(HKPinningCertificate, {NSData::fromString("junk"), pki.root.data()});
    certificates->setValidatesCertificateChain(false);
    EXPECT_TRUE(certificates->evaluateServerTrust(trustFor(pki.leaf), std::string("localhost")));
}

TEST_F(SecurityPolicyTest, PinningModesWithNothingPinnedRefuseEverything) {
    trustTestRoot();
    for (auto mode : {HKPinningPublicKey, HKPinningCertificate}) {
        auto policy = pinning(mode, {});
        EXPECT_FALSE(policy->evaluateServerTrust(trustFor(testPKI().leaf), std::string("localhost")));
    }
    auto unknown = pinning(static_cast<HKSSLPinningMode>(7), {testPKI().leaf.data()});
    EXPECT_FALSE(unknown->evaluateServerTrust(trustFor(testPKI().leaf), std::string("localhost")));
}

TEST_F(SecurityPolicyTest, PinnedKeysFollowTheCertificatesForObservers) {
    auto policy = make<HKSecurityPolicy>();
    int told = 0;
    auto token = KVO::observe(*policy, "pinnedPublicKeys", 0,
                              [&](const Ref<NSObject>&, const Dictionary&) { ++told; });
    policy->setPinnedCertificates(std::vector<NSData>{testPKI().leaf.data()});
    EXPECT_EQ(told, 1);
    EXPECT_EQ(policy->pinnedPublicKeys()->size(), 1u);
    policy->setPinnedCertificates(std::nullopt);
    EXPECT_EQ(told, 2);
    EXPECT_FALSE(policy->pinnedPublicKeys().has_value());
}

TEST_F(SecurityPolicyTest, GarbageChainsNeverPass) {
    trustTestRoot();
    auto valid = testPKI().leaf.der;
    for (unsigned seed = 0; seed < 200; ++seed) {
        auto trust = serverTrust({NSData::fromString(testsupport::mutate(valid, seed))});
        for (auto mode : {HKPinningNone, HKPinningPublicKey, HKPinningCertificate}) {
            auto policy = pinning(mode, {testPKI().leaf.data()});
            if (trust) {
                EXPECT_FALSE(policy->evaluateServerTrust(trust, std::string("localhost"))) << seed;
            }
        }
    }
}

// ---- the bundle's certificates
// -----------------------------------------------------------------------------

// The bundle's certificates are read once per process, so the reading is checked in a process of
// its own: in this one another test may have read them already, from another bundle.
void checkTheBundlesCerFilesArePinned() {
    testsupport::TemporaryDirectory dir;
    ASSERT_TRUE(testPKI().leaf.data().writeToFile(dir.file("a.cer")));
    ASSERT_TRUE(testPKI().root.data().writeToFile(dir.file("b.cer")));
    ASSERT_TRUE(NSData::fromString("ignored").writeToFile(dir.file("c.pem")));
    NSBundle::setMainBundlePath(dir.path());
    auto policy = HKSecurityPolicy::policyWithPinningMode(HKPinningPublicKey);
    foundation_testing::resetBundles();
    EXPECT_EQ(policy->SSLPinningMode(), HKPinningPublicKey);
    ASSERT_TRUE(policy->pinnedCertificates().has_value());
    ASSERT_EQ(policy->pinnedCertificates()->size(), 2u);
    EXPECT_EQ((*policy->pinnedCertificates())[0], testPKI().leaf.data());
    EXPECT_EQ((*policy->pinnedCertificates())[1], testPKI().root.data());
    // Read once: a later bundle change does not matter.
    EXPECT_EQ(HKSecurityPolicy::defaultPinnedCertificates().size(), 2u);
}

TEST(SecurityPolicyBundleDeathTest, PolicyWithPinningModePinsTheBundlesCerFiles) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            checkTheBundlesCerFilesArePinned();
            std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

// ---- over real TLS ---------------------------------------------------------------------------------------

class PinnedTLSTest : public nettest::NetTest {
  protected:
    void TearDown() override {
        security_testing::resetSystemAnchors();
        nettest::NetTest::TearDown();
    }

    // One GET through a manager with the policy; the outcome of the request.
    nettest::Outcome get(testsupport::HTTPSTestServer& https, const Ref<HKSecurityPolicy>& policy) {
        auto manager = HKHTTPRequestOperationManager::manager();
        manager->setSecurityPolicy(policy);
        manager->setResponseSerializer(HKHTTPResponseSerializer::serializer());
        manager->requestSerializer()->setTimeoutInterval(5);
        nettest::Outcome outcome;
        manager->GET(https.url("/pinned"), Value(), outcome.success(), outcome.failure());
        EXPECT_TRUE(outcome.wait(10));
        return outcome;
    }
};

TEST_F(PinnedTLSTest, MatchingPinsLoad) {
    const auto& pki = testPKI();
    security_testing::addSystemAnchor(SecCertificateCreateWithData(pki.root.data()));
    testsupport::HTTPSTestServer https(pki.chainPEM(pki.leaf), pki.leaf.keyPEM);
    https.setResponse(200, "pinned body");
    ASSERT_TRUE(https.start()) << https.lastError();
    auto outcome = get(https, pinning(HKPinningCertificate, {pki.leaf.data(), pki.intermediate.data()}));
    ASSERT_EQ(outcome.successes, 1) << (outcome.error ? outcome.error->description() : "");
    EXPECT_EQ(outcome.object.data()->toString(), "pinned body");
    EXPECT_EQ(https.requestsAnswered(), 1);

    auto keys = pinning(HKPinningPublicKey, {pki.renewedLeaf.data()});
    keys->setValidatesCertificateChain(false);
    auto byKey = get(https, keys);
    EXPECT_EQ(byKey.successes, 1);
}

TEST_F(PinnedTLSTest, MismatchedPinsStopTheHandshakeBeforeTheRequestLeaves) {
    const auto& pki = testPKI();
    security_testing::addSystemAnchor(SecCertificateCreateWithData(pki.root.data()));
    testsupport::HTTPSTestServer https(pki.chainPEM(pki.leaf), pki.leaf.keyPEM);
    ASSERT_TRUE(https.start()) << https.lastError();
    auto outcome = get(https, pinning(HKPinningCertificate, {pki.otherLeaf.data(), pki.otherRoot.data()}));
    EXPECT_EQ(outcome.failures, 1);
    ASSERT_NE(outcome.error, nullptr);
    EXPECT_EQ(outcome.error->domain(), NSURLErrorDomain);
    EXPECT_EQ(outcome.error->code(), NSURLErrorCancelled);
    https.waitUntilIdle(1);
    EXPECT_EQ(https.requestBytesReceived(), 0u);
    EXPECT_EQ(https.requestsAnswered(), 0);
}

TEST_F(PinnedTLSTest, ExpiredCertificatesAreRefusedEvenWhenPinned) {
    const auto& pki = testPKI();
    security_testing::addSystemAnchor(SecCertificateCreateWithData(pki.root.data()));
    testsupport::HTTPSTestServer https(pki.chainPEM(pki.expiredLeaf), pki.expiredLeaf.keyPEM);
    ASSERT_TRUE(https.start()) << https.lastError();
    auto outcome =
        get(https, pinning(HKPinningCertificate, {pki.expiredLeaf.data(), pki.intermediate.data()}));
    EXPECT_EQ(outcome.failures, 1);
    https.waitUntilIdle(1);
    EXPECT_EQ(https.requestBytesReceived(), 0u);
}

TEST_F(PinnedTLSTest, DefaultPolicyFollowsThePlatformsRoots) {
    const auto& pki = testPKI();
    testsupport::HTTPSTestServer https(pki.chainPEM(pki.leaf), pki.leaf.keyPEM);
    ASSERT_TRUE(https.start()) << https.lastError();
    auto refused = get(https, HKSecurityPolicy::defaultPolicy());
    EXPECT_EQ(refused.failures, 1);
    security_testing::addSystemAnchor(SecCertificateCreateWithData(pki.root.data()));
    auto accepted = get(https, HKSecurityPolicy::defaultPolicy());
    EXPECT_EQ(accepted.successes, 1) << (accepted.error ? accepted.error->description() : "");
}

TEST_F(PinnedTLSTest, ChallengeCarriesASecTrust) {
    const auto& pki = testPKI();
    testsupport::HTTPSTestServer https(pki.chainPEM(pki.leaf), pki.leaf.keyPEM);
    ASSERT_TRUE(https.start()) << https.lastError();
    auto op =
        make<HKHTTPRequestOperation>(NSURLRequest::requestWithURL(NSURL::URLWithString(https.url("/x"))));
    Ref<NSObject> trust;
    std::size_t certificates = 0;
    op->setWillSendRequestForAuthenticationChallengeBlock(
        [&](const Ref<NSURLConnection>&, const Ref<NSURLAuthenticationChallenge>& challenge) {
            trust = challenge->protectionSpace()->serverTrust();
            if (auto secTrust = asKind<SecTrust>(trust)) certificates = SecTrustGetCertificateCount(secTrust);
            challenge->sender()->cancelAuthenticationChallenge(challenge);
        });
    op->start();
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return op->isFinished(); }, 10));
    EXPECT_NE(asKind<SecTrust>(trust), nullptr);
    EXPECT_EQ(certificates, 2u);
}

}  // namespace
