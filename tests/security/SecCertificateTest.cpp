// Certificates from DER: what parses, what does not, equality, summaries, keys, and hostile input.

#include "security/SecCertificate.h"

#include <gtest/gtest.h>

#include "SecurityTestSupport.h"
#include "security/SecKey.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::testPKI;

TEST(SecCertificate, RoundTripsItsDER) {
    const auto& leaf = testPKI().leaf;
    auto certificate = SecCertificateCreateWithData(leaf.data());
    ASSERT_TRUE(certificate);
    EXPECT_EQ(SecCertificateCopyData(certificate), leaf.data());
    EXPECT_EQ(certificate->className(), "SecCertificate");
    EXPECT_EQ(SecCertificateCopyData(nullptr), NSData());
}

TEST(SecCertificate, EqualityIsByBytes) {
    const auto& pki = testPKI();
    auto a = SecCertificateCreateWithData(pki.leaf.data());
    auto b = SecCertificateCreateWithData(pki.leaf.data());
    auto renewed = SecCertificateCreateWithData(pki.renewedLeaf.data());
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_FALSE(a->isEqual(*renewed));  // same subject and key, another certificate
    EXPECT_TRUE(objectsEqual(a, b));
}

TEST(SecCertificate, SummariesNameTheSubject) {
    const auto& pki = testPKI();
    EXPECT_EQ(SecCertificateCopySubjectSummary(SecCertificateCreateWithData(pki.leaf.data())), "localhost");
    EXPECT_EQ(SecCertificateCopySubjectSummary(SecCertificateCreateWithData(pki.root.data())),
              "Test Root CA");
    EXPECT_EQ(SecCertificateCopyCommonName(SecCertificateCreateWithData(pki.intermediate.data())),
              "Test Intermediate CA");
    EXPECT_EQ(SecCertificateCopySubjectSummary(nullptr), std::nullopt);

    testsupport::CertificateOptions unicode;
    unicode.commonName = "改装车 社区";
    auto certificate = SecCertificateCreateWithData(testsupport::makeTestCertificate(unicode).data());
    EXPECT_EQ(SecCertificateCopySubjectSummary(certificate), "改装车 社区");
    EXPECT_EQ(certificate->description(), "<SecCertificate: 改装车 社区>");
}

TEST(SecCertificate, GivesItsPublicKey) {
    const auto& pki = testPKI();
    auto key = SecCertificateCopyKey(SecCertificateCreateWithData(pki.rsaLeaf.data()));
    ASSERT_TRUE(key);
    EXPECT_EQ(key->type(), SecKey::Type::RSA);
    EXPECT_FALSE(key->isPrivate());
    EXPECT_EQ(key->publicKeyInfo(), sectest::dataOf(pki.rsaLeaf.publicKeyDER));
    EXPECT_FALSE(SecCertificateCopyKey(nullptr));
}

TEST(SecCertificate, RefusesWhatIsNotOneDERCertificate) {
    const auto& pki = testPKI();
    const std::string& der = pki.leaf.der;
    EXPECT_FALSE(SecCertificateCreateWithData(NSData()));
    EXPECT_FALSE(SecCertificateCreateWithData(sectest::dataOf(pki.leaf.pem)));  // PEM is text, not DER
    EXPECT_FALSE(SecCertificateCreateWithData(sectest::dataOf(der.substr(0, der.size() - 1))));
    EXPECT_FALSE(SecCertificateCreateWithData(sectest::dataOf(der.substr(0, 10))));
    EXPECT_FALSE(SecCertificateCreateWithData(sectest::dataOf(der + '\0')));
    EXPECT_FALSE(SecCertificateCreateWithData(sectest::dataOf(der + pki.root.der)));  // two of them
    EXPECT_FALSE(SecCertificateCreateWithData(sectest::dataOf("not a certificate")));
    EXPECT_FALSE(SecCertificateCreateWithData(sectest::dataOf(pki.leaf.publicKeyDER)));
}

TEST(SecCertificate, HostileDERNeverCrashes) {
    const auto& pki = testPKI();
    int parsed = 0;
    for (const auto* source : {&pki.leaf, &pki.root, &pki.rsaLeaf}) {
        for (unsigned seed = 0; seed < 1500; ++seed) {
            std::string mutated = testsupport::mutate(source->der, seed);
            auto certificate = SecCertificateCreateWithData(sectest::dataOf(mutated));
            if (!certificate) continue;
            ++parsed;
            // Whatever parses must answer every question without trouble.
            EXPECT_EQ(SecCertificateCopyData(certificate), sectest::dataOf(mutated));
            (void)SecCertificateCopySubjectSummary(certificate);
            (void)SecCertificateCopyKey(certificate);
            (void)certificate->description();
        }
    }
    SUCCEED() << parsed << " mutated certificates still parsed";
}

TEST(SecCertificate, ReadsEveryCertificateOfAPEMText) {
    const auto& pki = testPKI();
    auto certificates = detail::certificatesFromPEM(pki.chainPEM(pki.leaf, true));
    ASSERT_EQ(certificates.size(), 3u);
    EXPECT_EQ(SecCertificateCopyData(certificates[0]), pki.leaf.data());
    EXPECT_EQ(SecCertificateCopyData(certificates[2]), pki.root.data());
    EXPECT_TRUE(detail::certificatesFromPEM("").empty());
    for (unsigned seed = 0; seed < 300; ++seed) {
        (void)detail::certificatesFromPEM(testsupport::mutate(pki.chainPEM(pki.leaf), seed));
    }
}

}  // namespace
