#pragma once
// X.509 certificates, made from their DER encoding.
//
// A certificate is immutable once made. Two certificates are equal exactly when their DER bytes
// are; the bytes handed in are kept as they came, so SecCertificateCopyData gives back exactly
// what was parsed. Anything that is not one complete DER certificate (truncated, trailing bytes,
// PEM text, garbage) makes no certificate.

#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "security/SecBase.h"

struct x509_st;

class SecCertificate : public NSObject {
  public:
    // Made by SecCertificateCreateWithData; takes over `x509`.
    SecCertificate(NSData der, x509_st* x509);
    ~SecCertificate() override;

    const NSData& derData() const { return der_; }
    // The parsed certificate, for the security library's own use. Owned by this object.
    x509_st* x509() const { return x509_; }

    std::string className() const override { return "SecCertificate"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override { return der_.hash(); }

  private:
    NSData der_;
    x509_st* x509_;
};

// nullptr when the data is not exactly one DER certificate.
SecCertificateRef SecCertificateCreateWithData(const NSData& der);
// The DER bytes; empty for a null certificate.
NSData SecCertificateCopyData(const SecCertificateRef& certificate);
// A human-readable summary: the subject's common name, else its e-mail address, else the whole
// subject in one line. nullopt for a null certificate or an empty subject.
std::optional<std::string> SecCertificateCopySubjectSummary(const SecCertificateRef& certificate);
// The subject's common name, when it has one.
std::optional<std::string> SecCertificateCopyCommonName(const SecCertificateRef& certificate);
// The certificate's public key; nullptr when its key is of a kind this library cannot use.
SecKeyRef SecCertificateCopyKey(const SecCertificateRef& certificate);

namespace detail {
// Every certificate in a PEM text, in order; the ones that do not parse are skipped.
std::vector<SecCertificateRef> certificatesFromPEM(const std::string& pem);
}  // namespace detail
