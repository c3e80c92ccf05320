#include "network/NSURLAuthenticationChallenge.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <mutex>

#include "network/NetworkInternal.h"

namespace {

std::mutex hooksMutex;
NSURLProtectionSpace::ServerTrustFactory trustFactory;
NSURLProtectionSpace::DefaultTrustEvaluator trustEvaluator;

bool isIPAddress(const std::string& host) {
    return host.find(':') != std::string::npos || host.find_first_not_of("0123456789.") == std::string::npos;
}

// The system roots, the chain's intermediates, and the host name (or IP address) of the leaf.
bool evaluateWithOpenSSL(const std::vector<NSData>& chain, const std::string& host) {
    if (chain.empty()) return false;
    std::vector<X509*> certs;
    for (auto& der : chain) {
        const unsigned char* p = der.bytes();
        X509* c = d2i_X509(nullptr, &p, static_cast<long>(der.length()));
        if (!c) {
            for (auto x : certs) X509_free(x);
            return false;
        }
        certs.push_back(c);
    }
    bool ok = false;
    X509_STORE* store = X509_STORE_new();
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    if (store && untrusted && ctx && X509_STORE_set_default_paths(store) == 1) {
        for (std::size_t i = 1; i < certs.size(); ++i) sk_X509_push(untrusted, certs[i]);
        if (X509_STORE_CTX_init(ctx, store, certs[0], untrusted) == 1) {
            X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
            X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
            if (!host.empty()) {
                if (isIPAddress(host)) {
                    X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
                } else {
                    X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
                }
            }
            ok = X509_verify_cert(ctx) == 1;
        }
    }
    if (ctx) X509_STORE_CTX_free(ctx);
    if (untrusted) sk_X509_free(untrusted);
    if (store) X509_STORE_free(store);
    for (auto x : certs) X509_free(x);
    return ok;
}

}  // namespace

NSURLProtectionSpace::NSURLProtectionSpace(std::string host, long port, std::optional<std::string> protocol,
                                           std::optional<std::string> realm, std::string authenticationMethod,
                                           Ref<NSObject> serverTrust, std::vector<NSData> certificateChain)
    : host_(std::move(host)),
      port_(port),
      protocol_(std::move(protocol)),
      realm_(std::move(realm)),
      method_(std::move(authenticationMethod)),
      serverTrust_(std::move(serverTrust)),
      chain_(std::move(certificateChain)) {}

void NSURLProtectionSpace::setServerTrustFactory(ServerTrustFactory factory) {
    std::lock_guard<std::mutex> lock(hooksMutex);
    trustFactory = std::move(factory);
}

Ref<NSObject> NSURLProtectionSpace::makeServerTrust(const std::vector<NSData>& chain,
                                                    const std::string& host) {
    ServerTrustFactory factory;
    {
        std::lock_guard<std::mutex> lock(hooksMutex);
        factory = trustFactory;
    }
    if (factory) {
        if (auto trust = factory(chain, host)) return trust;
    }
    return make<NSURLServerTrustChain>(chain, host);
}

void NSURLProtectionSpace::setDefaultTrustEvaluator(DefaultTrustEvaluator evaluator) {
    std::lock_guard<std::mutex> lock(hooksMutex);
    trustEvaluator = std::move(evaluator);
}

bool NSURLProtectionSpace::evaluateTrustByDefault(const std::vector<NSData>& chain, const std::string& host) {
    DefaultTrustEvaluator evaluator;
    {
        std::lock_guard<std::mutex> lock(hooksMutex);
        evaluator = trustEvaluator;
    }
    return evaluator ? evaluator(chain, host) : evaluateWithOpenSSL(chain, host);
}

std::string NSURLProtectionSpace::description() const {
    return "<NSURLProtectionSpace: host " + host_ + ", port " + std::to_string(port_) + ", method " +
           method_ + ", realm " + realm_.value_or("(null)") + ">";
}

bool NSURLProtectionSpace::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSURLProtectionSpace*>(&other);
    return o && detail::equalsIgnoringCase(host_, o->host_) && port_ == o->port_ &&
           protocol_ == o->protocol_ && realm_ == o->realm_ && method_ == o->method_;
}

NSURLAuthenticationChallenge::NSURLAuthenticationChallenge(
    Ref<NSURLProtectionSpace> space, Ref<NSURLCredential> proposedCredential, long previousFailureCount,
    Ref<NSURLResponse> failureResponse, Ref<NSError> error,
    std::shared_ptr<NSURLAuthenticationChallengeSender> sender)
    : space_(std::move(space)),
      proposed_(std::move(proposedCredential)),
      previousFailureCount_(previousFailureCount),
      failureResponse_(std::move(failureResponse)),
      error_(std::move(error)),
      sender_(std::move(sender)) {}
