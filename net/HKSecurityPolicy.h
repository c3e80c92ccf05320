#pragma once
// The HTTP client's judge of server trust: whether the certificate chain a TLS server presented
// is acceptable for a host.
//
// Three modes: ordinary validation against the system roots (HKPinningNone), or pinning to
// certificates shipped with the app, either by their public keys (HKPinningPublicKey) or by the
// certificates themselves (HKPinningCertificate). The connection operation asks the policy during
// the TLS handshake, before any byte of the request leaves; a NO refuses the handshake.
//
// Every failure (an evaluation error, a missing key, a certificate that does not parse) ends in
// NO or in a skipped key; the policy reports no errors. A policy is configured once by its owner
// and only read afterwards; reading it from several threads at once is safe, changing it while
// connections run is not.

#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "security/SecKey.h"
#include "security/SecTrust.h"

enum HKSSLPinningMode : unsigned long {
    HKPinningNone = 0,
    HKPinningPublicKey = 1,
    HKPinningCertificate = 2,
};

class HKSecurityPolicy : public NSObject {
  public:
    HKSecurityPolicy();
    std::string className() const override { return "HKSecurityPolicy"; }

    // The contents of every "cer" file directly in the app bundle, in the bundle's order; read
    // once per process.
    static std::vector<NSData> defaultPinnedCertificates();
    // Ordinary validation, nothing pinned.
    static Ref<HKSecurityPolicy> defaultPolicy();
    // The mode, with the bundle's certificates pinned.
    static Ref<HKSecurityPolicy> policyWithPinningMode(HKSSLPinningMode mode);

    bool validatesCertificateChain() const { return validatesCertificateChain_; }
    void setValidatesCertificateChain(bool value) { validatesCertificateChain_ = value; }
    bool allowInvalidCertificates() const { return allowInvalidCertificates_; }
    void setAllowInvalidCertificates(bool value) { allowInvalidCertificates_ = value; }
    bool validatesDomainName() const { return validatesDomainName_; }
    void setValidatesDomainName(bool value) { validatesDomainName_ = value; }
    HKSSLPinningMode SSLPinningMode() const { return pinningMode_; }
    void setSSLPinningMode(HKSSLPinningMode mode) { pinningMode_ = mode; }

    // DER certificates; nullopt when nothing is pinned.
    const std::optional<std::vector<NSData>>& pinnedCertificates() const { return pinnedCertificates_; }
    // Also recomputes pinnedPublicKeys: the key of each certificate that yields one, in order.
    void setPinnedCertificates(std::optional<std::vector<NSData>> certificates);
    const std::optional<std::vector<SecKeyRef>>& pinnedPublicKeys() const { return pinnedPublicKeys_; }

    bool evaluateServerTrust(const SecTrustRef& trust) { return evaluateServerTrust(trust, std::nullopt); }
    // Replaces the trust's policies with the one this policy checks, then decides.
    bool evaluateServerTrust(const SecTrustRef& trust, const std::optional<std::string>& domain);

    // "pinnedCertificates" and "pinnedPublicKeys" are observable; the keys follow the
    // certificates.
    Value valueForKey(const std::string& key) const override;
    std::vector<std::string> keyPathsForValuesAffectingValueForKey(const std::string& key) const override;

  private:
    bool validatesCertificateChain_ = true;
    bool allowInvalidCertificates_ = false;
    bool validatesDomainName_ = true;
    HKSSLPinningMode pinningMode_ = HKPinningNone;
    std::optional<std::vector<NSData>> pinnedCertificates_;
    std::optional<std::vector<SecKeyRef>> pinnedPublicKeys_;
};

namespace detail {
// Makes the URL loading system describe a TLS server's chain as a SecTrust (the object a
// server-trust challenge carries). Idempotent; the policy and the connection operation call it
// before their first use.
void HKRegisterServerTrustFactory();
// The SecTrust behind a challenge's server-trust object: the object itself, or one built from
// the chain it carries. nullptr when there is nothing to build from.
SecTrustRef HKServerTrustFromObject(const Ref<NSObject>& trustObject, const std::string& host);
}  // namespace detail
