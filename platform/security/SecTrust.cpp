#include "security/SecTrust.h"

#include <arpa/inet.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "security/OpenSSLSupport.h"
#include "security/SecCertificate.h"
#include "security/SecKey.h"
#include "security/SecPolicy.h"
#include "security/SecurityTesting.h"

namespace {

constexpr char kSystemRootsFile[] = "/etc/ssl/certs/ca-certificates.crt";

using SharedStore = std::shared_ptr<X509_STORE>;

// The system roots, read once; the test anchors; and a store of both, rebuilt when the test
// anchors change. Stores are shared: OpenSSL locks inside them, and evaluations only read.
struct SystemAnchors {
    std::mutex mutex;
    std::vector<detail::X509Ptr> roots;
    bool rootsLoaded = false;
    std::vector<SecCertificateRef> testAnchors;
    SharedStore store;

    void loadRootsLocked() {
        if (rootsLoaded) return;
        rootsLoaded = true;
        detail::BIOPtr bio(BIO_new_file(kSystemRootsFile, "r"));
        if (bio) {
            while (X509* x509 = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
                roots.emplace_back(x509);
            }
        }
        detail::clearOpenSSLErrors();
    }

    void addTo(X509_STORE* target) {
        std::lock_guard<std::mutex> lock(mutex);
        loadRootsLocked();
        for (auto& root : roots) X509_STORE_add_cert(target, root.get());
        for (auto& anchor : testAnchors) X509_STORE_add_cert(target, anchor->x509());
        detail::clearOpenSSLErrors();
    }

    SharedStore systemStore() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (store) return store;
        }
        SharedStore fresh(X509_STORE_new(), X509_STORE_free);
        if (!fresh) return nullptr;
        addTo(fresh.get());
        std::lock_guard<std::mutex> lock(mutex);
        if (!store) store = fresh;
        return store;
    }
};

SystemAnchors& systemAnchors() {
    static auto* anchors = new SystemAnchors;
    return *anchors;
}

struct Classified {
    SecTrustResultType result;
    OSStatus status;
};

Classified classify(int error) {
    switch (error) {
        case X509_V_OK:
            return {kSecTrustResultUnspecified, errSecSuccess};
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return {kSecTrustResultRecoverableTrustFailure, errSecCertificateExpired};
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return {kSecTrustResultRecoverableTrustFailure, errSecCertificateNotValidYet};
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return {kSecTrustResultRecoverableTrustFailure, errSecHostNameMismatch};
        case X509_V_ERR_INVALID_PURPOSE:
            return {kSecTrustResultRecoverableTrustFailure, errSecInvalidExtendedKeyUsage};
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
        case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
            return {kSecTrustResultFatalTrustFailure, errSecInvalidSignature};
        case X509_V_ERR_CERT_REVOKED:
            return {kSecTrustResultFatalTrustFailure, errSecCertificateRevoked};
        case X509_V_ERR_INVALID_CA:
        case X509_V_ERR_INVALID_NON_CA:
        case X509_V_ERR_PATH_LENGTH_EXCEEDED:
        case X509_V_ERR_INVALID_EXTENSION:
        case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
        case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
        case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
            return {kSecTrustResultFatalTrustFailure, errSecNotTrusted};
        case X509_V_ERR_OUT_OF_MEM:
            return {kSecTrustResultOtherError, errSecAllocate};
        default:
            // No path to an anchor, and whatever else a person could choose to accept.
            return {kSecTrustResultRecoverableTrustFailure, errSecNotTrusted};
    }
}

int severity(SecTrustResultType result) {
    switch (result) {
        case kSecTrustResultProceed:
        case kSecTrustResultUnspecified:
            return 0;
        case kSecTrustResultRecoverableTrustFailure:
            return 1;
        case kSecTrustResultDeny:
        case kSecTrustResultFatalTrustFailure:
            return 2;
        default:
            return 3;
    }
}

// A literal address for the IP check, without the brackets a URL puts around IPv6.
std::optional<std::string> ipLiteral(const std::string& host) {
    std::string candidate = host;
    if (candidate.size() > 2 && candidate.front() == '[' && candidate.back() == ']') {
        candidate = candidate.substr(1, candidate.size() - 2);
    }
    unsigned char buffer[16];
    if (inet_pton(AF_INET, candidate.c_str(), buffer) == 1 ||
        inet_pton(AF_INET6, candidate.c_str(), buffer) == 1) {
        return candidate;
    }
    return std::nullopt;
}

bool applyPolicy(X509_STORE_CTX* ctx, const SecPolicy& policy) {
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
    if (policy.kind() != SecPolicy::Kind::SSL) return true;
    if (X509_STORE_CTX_set_purpose(ctx, policy.isServer() ? X509_PURPOSE_SSL_SERVER
                                                          : X509_PURPOSE_SSL_CLIENT) != 1) {
        return false;
    }
    if (!policy.isServer() || !policy.hostname()) return true;
    const std::string& host = *policy.hostname();
    if (auto ip = ipLiteral(host)) return X509_VERIFY_PARAM_set1_ip_asc(param, ip->c_str()) == 1;
    std::string name = host;
    if (name.size() > 1 && name.back() == '.') name.pop_back();
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    return X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size()) == 1;
}

std::string describeFailure(X509_STORE_CTX* ctx, int error) {
    std::string text = X509_verify_cert_error_string(error);
    X509* current = X509_STORE_CTX_get_current_cert(ctx);
    if (current) {
        char subject[256];
        if (X509_NAME_oneline(X509_get_subject_name(current), subject, sizeof subject)) {
            text += " (depth " + std::to_string(X509_STORE_CTX_get_error_depth(ctx)) + ", " + subject + ")";
        }
    }
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

SecTrust::SecTrust(std::vector<SecCertificateRef> certificates, std::vector<SecPolicyRef> policies)
    : certificates_(std::move(certificates)), policies_(std::move(policies)) {}

std::string SecTrust::description() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return "<SecTrust: " + std::to_string(certificates_.size()) + " certificates, " +
           std::to_string(policies_.size()) + " policies>";
}

SecTrust::Verdict SecTrust::evaluateLocked() {
    Verdict verdict;
    if (certificates_.empty()) {
        verdict.result = kSecTrustResultInvalid;
        verdict.status = errSecParam;
        return verdict;
    }

    SharedStore store;
    if (anchors_) {
        store.reset(X509_STORE_new(), X509_STORE_free);
        if (store) {
            for (auto& anchor : *anchors_) X509_STORE_add_cert(store.get(), anchor->x509());
            if (!anchorsOnly_) systemAnchors().addTo(store.get());
        }
    } else {
        store = systemAnchors().systemStore();
    }
    detail::clearOpenSSLErrors();
    // The rest of the chain is offered as untrusted intermediates; the stack does not own them.
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> untrusted(
        sk_X509_new_null(), [](STACK_OF(X509) * s) { sk_X509_free(s); });
    if (!store || !untrusted) {
        verdict.result = kSecTrustResultOtherError;
        verdict.status = errSecAllocate;
        return verdict;
    }
    for (std::size_t i = 1; i < certificates_.size(); ++i)
        sk_X509_push(untrusted.get(), certificates_[i]->x509());

    std::vector<SecPolicyRef> policies = policies_;
    if (policies.empty()) policies.push_back(SecPolicyCreateBasicX509());

    verdict.result = kSecTrustResultUnspecified;
    for (const auto& policy : policies) {
        detail::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
        if (!ctx ||
            X509_STORE_CTX_init(ctx.get(), store.get(), certificates_[0]->x509(), untrusted.get()) != 1) {
            detail::clearOpenSSLErrors();
            return Verdict{kSecTrustResultOtherError, errSecAllocate, "could not set up the evaluation"};
        }
        X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
        X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_PARTIAL_CHAIN);
        if (verifyDate_) {
            X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(verifyDate_->timeIntervalSince1970()));
        }
        if (!applyPolicy(ctx.get(), *policy)) {
            detail::clearOpenSSLErrors();
            return Verdict{kSecTrustResultOtherError, errSecParam, "could not apply the policy"};
        }
        int ok = X509_verify_cert(ctx.get());
        int error = X509_STORE_CTX_get_error(ctx.get());
        if (ok != 1 && error == X509_V_OK) error = X509_V_ERR_UNSPECIFIED;
        Classified c = classify(ok == 1 ? X509_V_OK : error);
        if (severity(c.result) > severity(verdict.result)) {
            verdict.result = c.result;
            verdict.status = c.status;
            verdict.reason = describeFailure(ctx.get(), error);
        }
        detail::clearOpenSSLErrors();
    }
    return verdict;
}

// ---------------------------------------------------------------------------------------------

OSStatus SecTrustCreateWithCertificates(const std::vector<SecCertificateRef>& certificates,
                                        const std::vector<SecPolicyRef>& policies, SecTrustRef* trust) {
    if (!trust) return errSecParam;
    *trust = nullptr;
    if (certificates.empty()) return errSecParam;
    for (auto& certificate : certificates) {
        if (!certificate) return errSecParam;
    }
    std::vector<SecPolicyRef> kept;
    for (auto& policy : policies) {
        if (policy) kept.push_back(policy);
    }
    *trust = make<SecTrust>(certificates, std::move(kept));
    return errSecSuccess;
}

OSStatus SecTrustCreateWithCertificates(const std::vector<SecCertificateRef>& certificates,
                                        const SecPolicyRef& policy, SecTrustRef* trust) {
    return SecTrustCreateWithCertificates(certificates, std::vector<SecPolicyRef>{policy}, trust);
}

OSStatus SecTrustCreateWithCertificates(const SecCertificateRef& certificate, const SecPolicyRef& policy,
                                        SecTrustRef* trust) {
    return SecTrustCreateWithCertificates(std::vector<SecCertificateRef>{certificate},
                                          std::vector<SecPolicyRef>{policy}, trust);
}

OSStatus SecTrustSetPolicies(const SecTrustRef& trust, const std::vector<SecPolicyRef>& policies) {
    if (!trust) return errSecParam;
    std::vector<SecPolicyRef> kept;
    for (auto& policy : policies) {
        if (policy) kept.push_back(policy);
    }
    std::lock_guard<std::mutex> lock(trust->mutex_);
    trust->policies_ = std::move(kept);
    trust->verdict_.reset();
    return errSecSuccess;
}

OSStatus SecTrustSetPolicies(const SecTrustRef& trust, const SecPolicyRef& policy) {
    return SecTrustSetPolicies(trust, std::vector<SecPolicyRef>{policy});
}

OSStatus SecTrustCopyPolicies(const SecTrustRef& trust, std::vector<SecPolicyRef>* policies) {
    if (!trust || !policies) return errSecParam;
    std::lock_guard<std::mutex> lock(trust->mutex_);
    *policies = trust->policies_;
    return errSecSuccess;
}

OSStatus SecTrustSetAnchorCertificates(const SecTrustRef& trust,
                                       const std::optional<std::vector<SecCertificateRef>>& anchors) {
    if (!trust) return errSecParam;
    std::optional<std::vector<SecCertificateRef>> kept;
    if (anchors) {
        kept.emplace();
        for (auto& anchor : *anchors) {
            if (!anchor) return errSecParam;
            kept->push_back(anchor);
        }
    }
    std::lock_guard<std::mutex> lock(trust->mutex_);
    trust->anchors_ = std::move(kept);
    trust->anchorsOnly_ = true;
    trust->verdict_.reset();
    return errSecSuccess;
}

OSStatus SecTrustSetAnchorCertificatesOnly(const SecTrustRef& trust, bool anchorCertificatesOnly) {
    if (!trust) return errSecParam;
    std::lock_guard<std::mutex> lock(trust->mutex_);
    trust->anchorsOnly_ = anchorCertificatesOnly;
    trust->verdict_.reset();
    return errSecSuccess;
}

OSStatus SecTrustSetVerifyDate(const SecTrustRef& trust, const NSDate& date) {
    if (!trust) return errSecParam;
    std::lock_guard<std::mutex> lock(trust->mutex_);
    trust->verifyDate_ = date;
    trust->verdict_.reset();
    return errSecSuccess;
}

OSStatus SecTrustEvaluate(const SecTrustRef& trust, SecTrustResultType* result) {
    if (!trust || !result) return errSecParam;
    std::lock_guard<std::mutex> lock(trust->mutex_);
    trust->verdict_ = trust->evaluateLocked();
    *result = trust->verdict_->result;
    return trust->verdict_->result == kSecTrustResultInvalid ? trust->verdict_->status : errSecSuccess;
}

bool SecTrustEvaluateWithError(const SecTrustRef& trust, Ref<NSError>* error) {
    if (!trust) {
        setError(error, detail::statusError(errSecParam));
        return false;
    }
    std::lock_guard<std::mutex> lock(trust->mutex_);
    trust->verdict_ = trust->evaluateLocked();
    const SecTrust::Verdict& verdict = *trust->verdict_;
    if (verdict.result == kSecTrustResultProceed || verdict.result == kSecTrustResultUnspecified) return true;
    std::string text = SecCopyErrorMessageString(verdict.status);
    if (!verdict.reason.empty()) text += " " + verdict.reason;
    setError(error, detail::statusError(verdict.status, text));
    return false;
}

OSStatus SecTrustGetTrustResult(const SecTrustRef& trust, SecTrustResultType* result) {
    if (!trust || !result) return errSecParam;
    std::lock_guard<std::mutex> lock(trust->mutex_);
    *result = trust->verdict_ ? trust->verdict_->result : kSecTrustResultInvalid;
    return errSecSuccess;
}

long SecTrustGetCertificateCount(const SecTrustRef& trust) {
    if (!trust) return 0;
    std::lock_guard<std::mutex> lock(trust->mutex_);
    return static_cast<long>(trust->certificates_.size());
}

SecCertificateRef SecTrustGetCertificateAtIndex(const SecTrustRef& trust, long index) {
    if (!trust || index < 0) return nullptr;
    std::lock_guard<std::mutex> lock(trust->mutex_);
    if (static_cast<std::size_t>(index) >= trust->certificates_.size()) return nullptr;
    return trust->certificates_[static_cast<std::size_t>(index)];
}

SecKeyRef SecTrustCopyPublicKey(const SecTrustRef& trust) {
    return SecCertificateCopyKey(SecTrustGetCertificateAtIndex(trust, 0));
}

SecTrustRef SecTrustCreateForServer(const std::vector<NSData>& derChain,
                                    const std::optional<std::string>& host) {
    std::vector<SecCertificateRef> certificates;
    for (const NSData& der : derChain) {
        auto certificate = SecCertificateCreateWithData(der);
        if (!certificate) return nullptr;
        certificates.push_back(std::move(certificate));
    }
    SecTrustRef trust;
    if (SecTrustCreateWithCertificates(certificates, SecPolicyCreateSSL(true, host), &trust) !=
        errSecSuccess) {
        return nullptr;
    }
    return trust;
}

namespace security_testing {

void addSystemAnchor(const SecCertificateRef& anchor) {
    if (!anchor) return;
    auto& anchors = systemAnchors();
    std::lock_guard<std::mutex> lock(anchors.mutex);
    anchors.testAnchors.push_back(anchor);
    anchors.store.reset();
}

void resetSystemAnchors() {
    auto& anchors = systemAnchors();
    std::lock_guard<std::mutex> lock(anchors.mutex);
    anchors.testAnchors.clear();
    anchors.store.reset();
}

}  // namespace security_testing
