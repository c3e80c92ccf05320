#pragma once
// Certificates and keys made in the test process with OpenSSL, for trust, pinning and HTTPS
// tests: a root, an intermediate and leaves for "localhost" / 127.0.0.1 / ::1 that are valid,
// expired, not yet valid, issued for another host, self-signed or issued by an unrelated root.
//
// The standard set is made once per process (testPKI()) and is the same for every test in it;
// makeTestCertificate() makes others to order. Keys are P-256 unless a test needs RSA.

#include <string>
#include <vector>

#include "foundation/NSData.h"

namespace testsupport {

enum class TestKeyKind { EC256, RSA1024, RSA2048 };

struct TestCertificate {
    std::string der;           // the certificate, DER
    std::string pem;           // the certificate, PEM
    std::string keyPEM;        // its private key, PKCS#8 PEM
    std::string publicKeyDER;  // its public key, SubjectPublicKeyInfo DER

    NSData data() const { return NSData::fromString(der); }
};

struct CertificateOptions {
    std::string commonName = "localhost";
    std::vector<std::string> dnsNames;     // subject alternative names
    std::vector<std::string> ipAddresses;  // subject alternative names
    long notBeforeSeconds = -3600;         // relative to now
    long notAfterSeconds = 365L * 86400;   // relative to now
    bool isCA = false;
    TestKeyKind keyKind = TestKeyKind::EC256;
    // The leaf may serve TLS (extended key usage serverAuth and clientAuth). false: email only.
    bool serverAuth = true;
    // When set, the certificate reuses this private key (PEM) instead of making a new one.
    std::string keyPEM;
};

// Issued by `issuer` (signed with its key), or self-signed when there is none.
TestCertificate makeTestCertificate(const CertificateOptions& options,
                                    const TestCertificate* issuer = nullptr);

struct TestPKI {
    TestCertificate root;             // "Test Root CA", self-signed
    TestCertificate intermediate;     // "Test Intermediate CA", issued by root
    TestCertificate leaf;             // localhost, 127.0.0.1, ::1; issued by intermediate
    TestCertificate renewedLeaf;      // same names and key as leaf, another certificate
    TestCertificate expiredLeaf;      // localhost, ended a day ago
    TestCertificate notYetValidLeaf;  // localhost, starts tomorrow
    TestCertificate wrongHostLeaf;    // only "wrong-host.test"
    TestCertificate emailLeaf;        // localhost, but not for TLS servers
    TestCertificate selfSignedLeaf;   // localhost, its own issuer
    TestCertificate otherRoot;        // "Other Test Root CA", unrelated to root
    TestCertificate otherLeaf;        // localhost, issued directly by otherRoot
    TestCertificate rsaLeaf;          // localhost with an RSA-1024 key, issued by intermediate

    // A leaf issued by the intermediate with what a server sends: leaf, intermediate (and root
    // when asked).
    std::vector<NSData> chain(const TestCertificate& leaf, bool withRoot = false) const;
    // The same as PEM text, for a server's certificate file.
    std::string chainPEM(const TestCertificate& leaf, bool withRoot = false) const;
};

// The standard set, made at the first call.
const TestPKI& testPKI();

}  // namespace testsupport
