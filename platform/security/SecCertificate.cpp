#include "security/SecCertificate.h"

#include <openssl/pem.h>

#include <vector>

#include "security/OpenSSLSupport.h"
#include "security/SecKey.h"

SecCertificate::SecCertificate(NSData der, x509_st* x509) : der_(std::move(der)), x509_(x509) {}

SecCertificate::~SecCertificate() {
    X509_free(x509_);
}

namespace {
std::optional<std::string> subjectSummary(X509* x509);
}  // namespace

std::string SecCertificate::description() const {
    return "<SecCertificate: " + subjectSummary(x509_).value_or("(no subject)") + ">";
}

bool SecCertificate::isEqual(const NSObject& other) const {
    auto cert = dynamic_cast<const SecCertificate*>(&other);
    return cert && cert->der_ == der_;
}

SecCertificateRef SecCertificateCreateWithData(const NSData& der) {
    if (der.empty() || der.length() > static_cast<std::size_t>(INT32_MAX)) return nullptr;
    const unsigned char* p = der.bytes();
    X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(der.length()));
    if (!x509) {
        detail::clearOpenSSLErrors();
        return nullptr;
    }
    // One certificate and nothing after it.
    if (p != der.bytes() + der.length()) {
        X509_free(x509);
        return nullptr;
    }
    return make<SecCertificate>(der, x509);
}

NSData SecCertificateCopyData(const SecCertificateRef& certificate) {
    return certificate ? certificate->derData() : NSData();
}

namespace {

std::optional<std::string> nameEntry(X509_NAME* name, int nid) {
    if (!name) return std::nullopt;
    int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) return std::nullopt;
    ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length < 0 || !utf8) {
        detail::clearOpenSSLErrors();
        return std::nullopt;
    }
    std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    return text;
}

}  // namespace

std::optional<std::string> SecCertificateCopyCommonName(const SecCertificateRef& certificate) {
    if (!certificate) return std::nullopt;
    return nameEntry(X509_get_subject_name(certificate->x509()), NID_commonName);
}

namespace {

std::optional<std::string> subjectSummary(X509* x509) {
    X509_NAME* subject = X509_get_subject_name(x509);
    if (auto cn = nameEntry(subject, NID_commonName)) return cn;
    if (auto email = nameEntry(subject, NID_pkcs9_emailAddress)) return email;
    if (!subject || X509_NAME_entry_count(subject) == 0) return std::nullopt;
    detail::BIOPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), subject, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB) < 0) {
        detail::clearOpenSSLErrors();
        return std::nullopt;
    }
    char* text = nullptr;
    long length = BIO_get_mem_data(bio.get(), &text);
    if (length <= 0 || !text) return std::nullopt;
    return std::string(text, static_cast<std::size_t>(length));
}

}  // namespace

std::optional<std::string> SecCertificateCopySubjectSummary(const SecCertificateRef& certificate) {
    if (!certificate) return std::nullopt;
    return subjectSummary(certificate->x509());
}

SecKeyRef SecCertificateCopyKey(const SecCertificateRef& certificate) {
    if (!certificate) return nullptr;
    EVP_PKEY* key = X509_get_pubkey(certificate->x509());
    if (!key) {
        detail::clearOpenSSLErrors();
        return nullptr;
    }
    return detail::makeKey(detail::EVPKeyPtr(key), false);
}

namespace detail {

std::vector<SecCertificateRef> certificatesFromPEM(const std::string& pem) {
    std::vector<SecCertificateRef> out;
    BIOPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return out;
    while (true) {
        X509* x509 = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
        if (!x509) break;
        unsigned char* der = nullptr;
        int length = i2d_X509(x509, &der);
        if (length > 0 && der) {
            out.push_back(make<SecCertificate>(NSData(der, static_cast<std::size_t>(length)), x509));
            OPENSSL_free(der);
        } else {
            X509_free(x509);
        }
    }
    clearOpenSSLErrors();
    return out;
}

}  // namespace detail
