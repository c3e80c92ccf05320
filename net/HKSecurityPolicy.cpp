#include "net/HKSecurityPolicy.h"

#include <algorithm>
#include <mutex>

#include "foundation/NSBundle.h"
#include "foundation/NSKeyValueObserving.h"
#include "network/NSURLAuthenticationChallenge.h"
#include "security/SecCertificate.h"
#include "security/SecPolicy.h"

namespace {

bool serverTrustPasses(const SecTrustRef& trust) {
    if (!trust) return false;
    SecTrustResultType result = kSecTrustResultInvalid;
    if (SecTrustEvaluate(trust, &result) != errSecSuccess) return false;
    return result == kSecTrustResultProceed || result == kSecTrustResultUnspecified;
}

std::vector<NSData> serverCertificateChainData(const SecTrustRef& trust) {
    std::vector<NSData> chain;
    long count = SecTrustGetCertificateCount(trust);
    for (long i = 0; i < count; ++i) {
        if (auto certificate = SecTrustGetCertificateAtIndex(trust, i)) {
            chain.push_back(SecCertificateCopyData(certificate));
        }
    }
    return chain;
}

// The key of each certificate of the chain, each judged on its own: whether it chains to an
// anchor does not matter here, only that a key can be taken from it.
std::vector<SecKeyRef> serverPublicKeyChain(const SecTrustRef& trust) {
    auto policy = SecPolicyCreateBasicX509();
    std::vector<SecKeyRef> keys;
    long count = SecTrustGetCertificateCount(trust);
    for (long i = 0; i < count; ++i) {
        auto certificate = SecTrustGetCertificateAtIndex(trust, i);
        if (!certificate) continue;
        SecTrustRef single;
        if (SecTrustCreateWithCertificates(certificate, policy, &single) != errSecSuccess || !single)
            continue;
        SecTrustResultType result;
        if (SecTrustEvaluate(single, &result) != errSecSuccess) continue;
        if (auto key = SecTrustCopyPublicKey(single)) keys.push_back(key);
    }
    return keys;
}

SecKeyRef publicKeyOfCertificateData(const NSData& data) {
    auto certificate = SecCertificateCreateWithData(data);
    if (!certificate) return nullptr;
    SecTrustRef trust;
    if (SecTrustCreateWithCertificates(certificate, SecPolicyCreateBasicX509(), &trust) != errSecSuccess ||
        !trust) {
        return nullptr;
    }
    SecTrustResultType result;
    if (SecTrustEvaluate(trust, &result) != errSecSuccess) return nullptr;
    return SecTrustCopyPublicKey(trust);
}

}  // namespace

namespace detail {

void HKRegisterServerTrustFactory() {
    static std::once_flag once;
    std::call_once(once, [] {
        NSURLProtectionSpace::setServerTrustFactory(
            [](const std::vector<NSData>& chain, const std::string& host) -> Ref<NSObject> {
                return SecTrustCreateForServer(chain, host);
            });
    });
}

SecTrustRef HKServerTrustFromObject(const Ref<NSObject>& trustObject, const std::string& host) {
    if (auto trust = asKind<SecTrust>(trustObject)) return trust;
    if (auto chain = asKind<NSURLServerTrustChain>(trustObject)) {
        return SecTrustCreateForServer(chain->certificates(), host);
    }
    return nullptr;
}

}  // namespace detail

HKSecurityPolicy::HKSecurityPolicy() {
    detail::HKRegisterServerTrustFactory();
}

std::vector<NSData> HKSecurityPolicy::defaultPinnedCertificates() {
    static const std::vector<NSData> certificates = [] {
        std::vector<NSData> found;
        for (const auto& path : NSBundle::mainBundle()->pathsForResourcesOfType("cer", ".")) {
            if (auto data = NSData::dataWithContentsOfFile(path)) found.push_back(*data);
        }
        return found;
    }();
    return certificates;
}

Ref<HKSecurityPolicy> HKSecurityPolicy::defaultPolicy() {
    auto policy = make<HKSecurityPolicy>();
    policy->setSSLPinningMode(HKPinningNone);
    return policy;
}

Ref<HKSecurityPolicy> HKSecurityPolicy::policyWithPinningMode(HKSSLPinningMode mode) {
    auto policy = make<HKSecurityPolicy>();
    policy->setSSLPinningMode(mode);
    policy->setPinnedCertificates(defaultPinnedCertificates());
    return policy;
}

void HKSecurityPolicy::setPinnedCertificates(std::optional<std::vector<NSData>> certificates) {
    KVO::ChangeScope scope(*this, "pinnedCertificates");
    pinnedCertificates_ = std::move(certificates);
    if (!pinnedCertificates_) {
        pinnedPublicKeys_.reset();
        return;
    }
    std::vector<SecKeyRef> keys;
    for (const auto& data : *pinnedCertificates_) {
        if (auto key = publicKeyOfCertificateData(data)) keys.push_back(key);
    }
    pinnedPublicKeys_ = std::move(keys);
}

bool HKSecurityPolicy::evaluateServerTrust(const SecTrustRef& trust,
                                           const std::optional<std::string>& domain) {
    if (!trust) return false;
    SecTrustSetPolicies(trust,
                        validatesDomainName_ ? SecPolicyCreateSSL(true, domain) : SecPolicyCreateBasicX509());

    if (pinningMode_ == HKPinningNone) return allowInvalidCertificates_ || serverTrustPasses(trust);
    if (!serverTrustPasses(trust) && !allowInvalidCertificates_) return false;

    auto serverCertificates = serverCertificateChainData(trust);
    switch (pinningMode_) {
        case HKPinningCertificate: {
            std::vector<SecCertificateRef> anchors;
            for (const auto& data : pinnedCertificates_.value_or(std::vector<NSData>())) {
                // Data that is not a certificate cannot anchor anything; it is passed over.
                if (auto certificate = SecCertificateCreateWithData(data)) anchors.push_back(certificate);
            }
            SecTrustSetAnchorCertificates(trust, anchors);
            if (!serverTrustPasses(trust)) return false;
            if (!validatesCertificateChain_) return true;
            const auto& pinned = pinnedCertificates_.value_or(std::vector<NSData>());
            std::size_t trusted = std::count_if(
                serverCertificates.begin(), serverCertificates.end(), [&](const NSData& certificate) {
                    return std::find(pinned.begin(), pinned.end(), certificate) != pinned.end();
                });
            return trusted == serverCertificates.size();
        }
        case HKPinningPublicKey: {
            auto chainKeys = serverPublicKeyChain(trust);
            if (!validatesCertificateChain_ && !chainKeys.empty()) chainKeys.resize(1);
            const auto& pinned = pinnedPublicKeys_.value_or(std::vector<SecKeyRef>());
            // Each key of the chain counts once, however many pinned keys equal it: otherwise
            // one pinned certificate listed twice would vouch for an unpinned one in the chain.
            std::size_t trusted =
                std::count_if(chainKeys.begin(), chainKeys.end(), [&](const SecKeyRef& key) {
                    return std::any_of(pinned.begin(), pinned.end(),
                                       [&](const SecKeyRef& p) { return p && key->isEqual(*p); });
                });
            return trusted > 0 && (!validatesCertificateChain_ || trusted == serverCertificates.size());
        }
        default:
            return false;
    }
}

Value HKSecurityPolicy::valueForKey(const std::string& key) const {
    if (key == "pinnedCertificates") {
        if (!pinnedCertificates_) return Value();
        Array array = Array::mutableArray(pinnedCertificates_->size());
        for (const auto& data : *pinnedCertificates_) array.addObject(data);
        return array;
    }
    if (key == "pinnedPublicKeys") {
        if (!pinnedPublicKeys_) return Value();
        Array array = Array::mutableArray(pinnedPublicKeys_->size());
        for (const auto& k : *pinnedPublicKeys_) array.addObject(Value(k));
        return array;
    }
    return NSObject::valueForKey(key);
}

std::vector<std::string>
HKSecurityPolicy::keyPathsForValuesAffectingValueForKey(const std::string& key) const {
    if (key == "pinnedPublicKeys") return {"pinnedCertificates"};
    return NSObject::keyPathsForValuesAffectingValueForKey(key);
}
