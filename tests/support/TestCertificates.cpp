#include "TestCertificates.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace testsupport {

namespace {

struct Free {
    void operator()(X509* p) const { X509_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(BIO* p) const { BIO_free_all(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, Free>;

[[noreturn]] void fail(const std::string& what) {
    unsigned long code = ERR_get_error();
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    throw std::runtime_error("test certificate: " + what + ": " + text);
}

std::string bioText(BIO* bio) {
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    return length > 0 && data ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

Owned<EVP_PKEY> newKey(TestKeyKind kind) {
    EVP_PKEY* key = nullptr;
    switch (kind) {
        case TestKeyKind::EC256:
            key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
            break;
        case TestKeyKind::RSA1024:
            key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<std::size_t>(1024));
            break;
        case TestKeyKind::RSA2048:
            key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<std::size_t>(2048));
            break;
    }
    if (!key) fail("key generation");
    return Owned<EVP_PKEY>(key);
}

Owned<EVP_PKEY> readKey(const std::string& pem) {
    Owned<BIO> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    EVP_PKEY* key =
        bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, const_cast<char*>("")) : nullptr;
    if (!key) fail("reading a private key");
    return Owned<EVP_PKEY>(key);
}

Owned<X509> readCertificate(const std::string& der) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (!x509) fail("reading a certificate");
    return Owned<X509>(x509);
}

void addExtension(X509* x509, X509V3_CTX* ctx, int nid, const std::string& value) {
    Owned<X509_EXTENSION> extension(X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str()));
    if (!extension || X509_add_ext(x509, extension.get(), -1) != 1) fail("extension " + value);
}

}  // namespace

TestCertificate makeTestCertificate(const CertificateOptions& options, const TestCertificate* issuer) {
    Owned<EVP_PKEY> key = options.keyPEM.empty() ? newKey(options.keyKind) : readKey(options.keyPEM);
    Owned<X509> x509(X509_new());
    if (!x509 || X509_set_version(x509.get(), 2) != 1) fail("new certificate");

    std::uint64_t serial = 0;
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial) != 1) fail("serial");
    serial = (serial >> 2) | 1;  // positive, non-zero
    if (ASN1_INTEGER_set_uint64(X509_get_serialNumber(x509.get()), serial) != 1) fail("serial");
    if (!X509_gmtime_adj(X509_getm_notBefore(x509.get()), options.notBeforeSeconds) ||
        !X509_gmtime_adj(X509_getm_notAfter(x509.get()), options.notAfterSeconds)) {
        fail("validity");
    }
    if (X509_set_pubkey(x509.get(), key.get()) != 1) fail("public key");

    X509_NAME* subject = X509_get_subject_name(x509.get());
    auto addName = [&](const char* field, const std::string& value) {
        if (X509_NAME_add_entry_by_txt(subject, field, MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                       0) != 1) {
            fail("name");
        }
    };
    addName("O", "Test Certificates");
    addName("CN", options.commonName);

    Owned<X509> issuerCert;
    Owned<EVP_PKEY> issuerKey;
    if (issuer) {
        issuerCert = readCertificate(issuer->der);
        issuerKey = readKey(issuer->keyPEM);
        if (X509_set_issuer_name(x509.get(), X509_get_subject_name(issuerCert.get())) != 1) fail("issuer");
    } else if (X509_set_issuer_name(x509.get(), subject) != 1) {
        fail("issuer");
    }

    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer ? issuerCert.get() : x509.get(), x509.get(), nullptr, nullptr, 0);
    if (options.isCA) {
        addExtension(x509.get(), &ctx, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(x509.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign,digitalSignature");
    } else {
        addExtension(x509.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(x509.get(), &ctx, NID_key_usage,
                     options.keyKind == TestKeyKind::EC256 ? "critical,digitalSignature,keyAgreement"
                                                           : "critical,digitalSignature,keyEncipherment");
        addExtension(x509.get(), &ctx, NID_ext_key_usage,
                     options.serverAuth ? "serverAuth,clientAuth" : "emailProtection");
    }
    addExtension(x509.get(), &ctx, NID_subject_key_identifier, "hash");
    if (issuer) addExtension(x509.get(), &ctx, NID_authority_key_identifier, "keyid:always");
    std::string names;
    for (const auto& dns : options.dnsNames) names += (names.empty() ? "" : ",") + std::string("DNS:") + dns;
    for (const auto& ip : options.ipAddresses) names += (names.empty() ? "" : ",") + std::string("IP:") + ip;
    if (!names.empty()) addExtension(x509.get(), &ctx, NID_subject_alt_name, names);

    if (X509_sign(x509.get(), issuer ? issuerKey.get() : key.get(), EVP_sha256()) <= 0) fail("signing");

    TestCertificate out;
    unsigned char* der = nullptr;
    int length = i2d_X509(x509.get(), &der);
    if (length <= 0) fail("encoding");
    out.der.assign(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
    OPENSSL_free(der);

    unsigned char* spki = nullptr;
    length = i2d_PUBKEY(key.get(), &spki);
    if (length <= 0) fail("public key encoding");
    out.publicKeyDER.assign(reinterpret_cast<char*>(spki), static_cast<std::size_t>(length));
    OPENSSL_free(spki);

    Owned<BIO> certBio(BIO_new(BIO_s_mem()));
    Owned<BIO> keyBio(BIO_new(BIO_s_mem()));
    if (!certBio || !keyBio || PEM_write_bio_X509(certBio.get(), x509.get()) != 1 ||
        PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        fail("PEM");
    }
    out.pem = bioText(certBio.get());
    out.keyPEM = bioText(keyBio.get());
    return out;
}

std::vector<NSData> TestPKI::chain(const TestCertificate& leafCertificate, bool withRoot) const {
    std::vector<NSData> out{leafCertificate.data(), intermediate.data()};
    if (withRoot) out.push_back(root.data());
    return out;
}

std::string TestPKI::chainPEM(const TestCertificate& leafCertificate, bool withRoot) const {
    return leafCertificate.pem + intermediate.pem + (withRoot ? root.pem : std::string());
}

const TestPKI& testPKI() {
    static const TestPKI pki = [] {
        TestPKI p;
        const long day = 86400;
        CertificateOptions ca;
        ca.isCA = true;
        ca.commonName = "Test Root CA";
        ca.notBeforeSeconds = -30 * day;
        ca.notAfterSeconds = 3650 * day;
        p.root = makeTestCertificate(ca);
        ca.commonName = "Test Intermediate CA";
        p.intermediate = makeTestCertificate(ca, &p.root);
        ca.commonName = "Other Test Root CA";
        p.otherRoot = makeTestCertificate(ca);

        CertificateOptions host;
        host.dnsNames = {"localhost"};
        host.ipAddresses = {"127.0.0.1", "::1"};
        p.leaf = makeTestCertificate(host, &p.intermediate);

        CertificateOptions renewed = host;
        renewed.keyPEM = p.leaf.keyPEM;
        renewed.notBeforeSeconds = -60;
        p.renewedLeaf = makeTestCertificate(renewed, &p.intermediate);

        CertificateOptions expired = host;
        expired.notBeforeSeconds = -30 * day;
        expired.notAfterSeconds = -day;
        p.expiredLeaf = makeTestCertificate(expired, &p.intermediate);

        CertificateOptions future = host;
        future.notBeforeSeconds = day;
        future.notAfterSeconds = 30 * day;
        p.notYetValidLeaf = makeTestCertificate(future, &p.intermediate);

        CertificateOptions wrong;
        wrong.commonName = "wrong-host.test";
        wrong.dnsNames = {"wrong-host.test"};
        p.wrongHostLeaf = makeTestCertificate(wrong, &p.intermediate);

        CertificateOptions email = host;
        email.serverAuth = false;
        p.emailLeaf = makeTestCertificate(email, &p.intermediate);

        p.selfSignedLeaf = makeTestCertificate(host);
        p.otherLeaf = makeTestCertificate(host, &p.otherRoot);

        CertificateOptions rsa = host;
        rsa.keyKind = TestKeyKind::RSA1024;
        p.rsaLeaf = makeTestCertificate(rsa, &p.intermediate);
        return p;
    }();
    return pki;
}

}  // namespace testsupport
