#pragma once
// Trust objects: a certificate chain (leaf first), the policies to check it against and the
// anchors it must lead to; evaluation gives a verdict.
//
// Anchors. By default the chain must lead to one of the system roots (the Debian CA bundle,
// /etc/ssl/certs/ca-certificates.crt, read once per process) or to a certificate a test added
// with security_testing::addSystemAnchor. SecTrustSetAnchorCertificates replaces those roots for
// this trust object's evaluations (unless SecTrustSetAnchorCertificatesOnly(false) adds them
// back). Any certificate may be an anchor, not only a self-signed root: a chain is trusted as
// soon as it reaches one.
//
// Verdicts. A chain that the anchors trust and that meets every policy gives
// kSecTrustResultUnspecified (nobody here confirms trust explicitly, so Proceed never comes
// from an evaluation). An expired or not yet valid certificate, a leaf issued for another host
// or unfit for the use, or a chain that reaches no anchor gives kSecTrustResultRecoverableTrustFailure;
// a broken signature, a revoked or malformed certificate gives kSecTrustResultFatalTrustFailure.
// SecTrustEvaluate itself answers errSecSuccess whatever the verdict; a non-zero status means
// the evaluation could not be made at all.
//
// Times. Validity windows are checked against the real time (certificates live in the real
// world, not on the platform's manual clock), or against SecTrustSetVerifyDate's date.
//
// The certificates of a trust are those it was made with, in that order, before and after
// evaluation. A trust object may be used from any thread; its calls are serialised.
//
// From a TLS handshake: the transport's OpenSSL verify callback takes the peer's chain as DER
// blobs (leaf first: i2d_X509 of each certificate of X509_STORE_CTX_get0_untrusted, or of
// SSL_get_peer_cert_chain) and the host it connected to, and calls SecTrustCreateForServer; the
// resulting trust is what an authentication challenge carries as its server trust.

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSDate.h"
#include "foundation/NSError.h"
#include "security/SecBase.h"

enum SecTrustResultType : std::uint32_t {
    kSecTrustResultInvalid = 0,
    kSecTrustResultProceed = 1,
    kSecTrustResultConfirm = 2,
    kSecTrustResultDeny = 3,
    kSecTrustResultUnspecified = 4,
    kSecTrustResultRecoverableTrustFailure = 5,
    kSecTrustResultFatalTrustFailure = 6,
    kSecTrustResultOtherError = 7,
};

class SecTrust : public NSObject {
  public:
    SecTrust(std::vector<SecCertificateRef> certificates, std::vector<SecPolicyRef> policies);

    std::string className() const override { return "SecTrust"; }
    std::string description() const override;

  private:
    friend OSStatus SecTrustSetPolicies(const SecTrustRef&, const std::vector<SecPolicyRef>&);
    friend OSStatus SecTrustCopyPolicies(const SecTrustRef&, std::vector<SecPolicyRef>*);
    friend OSStatus SecTrustSetAnchorCertificates(const SecTrustRef&,
                                                  const std::optional<std::vector<SecCertificateRef>>&);
    friend OSStatus SecTrustSetAnchorCertificatesOnly(const SecTrustRef&, bool);
    friend OSStatus SecTrustSetVerifyDate(const SecTrustRef&, const NSDate&);
    friend OSStatus SecTrustEvaluate(const SecTrustRef&, SecTrustResultType*);
    friend bool SecTrustEvaluateWithError(const SecTrustRef&, Ref<NSError>*);
    friend OSStatus SecTrustGetTrustResult(const SecTrustRef&, SecTrustResultType*);
    friend long SecTrustGetCertificateCount(const SecTrustRef&);
    friend SecCertificateRef SecTrustGetCertificateAtIndex(const SecTrustRef&, long);

    struct Verdict {
        SecTrustResultType result = kSecTrustResultInvalid;
        OSStatus status = errSecSuccess;
        std::string reason;
    };
    Verdict evaluateLocked();

    mutable std::mutex mutex_;
    std::vector<SecCertificateRef> certificates_;
    std::vector<SecPolicyRef> policies_;
    std::optional<std::vector<SecCertificateRef>> anchors_;
    bool anchorsOnly_ = true;
    std::optional<NSDate> verifyDate_;
    std::optional<Verdict> verdict_;
};

// A trust over `certificates` (leaf first; at least one, none null) with the given policies (none
// means basic X.509). errSecParam, and no trust, otherwise.
OSStatus SecTrustCreateWithCertificates(const std::vector<SecCertificateRef>& certificates,
                                        const std::vector<SecPolicyRef>& policies, SecTrustRef* trust);
OSStatus SecTrustCreateWithCertificates(const std::vector<SecCertificateRef>& certificates,
                                        const SecPolicyRef& policy, SecTrustRef* trust);
OSStatus SecTrustCreateWithCertificates(const SecCertificateRef& certificate, const SecPolicyRef& policy,
                                        SecTrustRef* trust);

// Replaces the policies (none means basic X.509); forgets any earlier verdict.
OSStatus SecTrustSetPolicies(const SecTrustRef& trust, const std::vector<SecPolicyRef>& policies);
OSStatus SecTrustSetPolicies(const SecTrustRef& trust, const SecPolicyRef& policy);
OSStatus SecTrustCopyPolicies(const SecTrustRef& trust, std::vector<SecPolicyRef>* policies);
// The anchors for this trust's evaluations, replacing the system roots; nullopt goes back to the
// system roots. An empty list trusts nothing. Also sets "anchors only" again.
OSStatus SecTrustSetAnchorCertificates(const SecTrustRef& trust,
                                       const std::optional<std::vector<SecCertificateRef>>& anchors);
// false: the system roots count as well as the anchors set above.
OSStatus SecTrustSetAnchorCertificatesOnly(const SecTrustRef& trust, bool anchorCertificatesOnly);
// Checks validity windows at `date` instead of now.
OSStatus SecTrustSetVerifyDate(const SecTrustRef& trust, const NSDate& date);

OSStatus SecTrustEvaluate(const SecTrustRef& trust, SecTrustResultType* result);
// true when the verdict is Proceed or Unspecified; otherwise false and an error of
// NSOSStatusErrorDomain whose code says why (errSecCertificateExpired, errSecHostNameMismatch,
// errSecNotTrusted...) and whose description gives the details.
bool SecTrustEvaluateWithError(const SecTrustRef& trust, Ref<NSError>* error);
// The verdict of the last evaluation (Invalid before any).
OSStatus SecTrustGetTrustResult(const SecTrustRef& trust, SecTrustResultType* result);

long SecTrustGetCertificateCount(const SecTrustRef& trust);
// nullptr out of range.
SecCertificateRef SecTrustGetCertificateAtIndex(const SecTrustRef& trust, long index);
// The leaf's public key.
SecKeyRef SecTrustCopyPublicKey(const SecTrustRef& trust);

// For the transport: a trust over a peer's DER chain (leaf first) with an SSL server policy for
// `host` (absent: no host check). nullptr when the chain is empty or a certificate does not parse.
SecTrustRef SecTrustCreateForServer(const std::vector<NSData>& derChain,
                                    const std::optional<std::string>& host);
