#include "security/SecPolicy.h"

SecPolicy::SecPolicy(Kind kind, bool server, std::optional<std::string> hostname)
    : kind_(kind), server_(server), hostname_(std::move(hostname)) {}

std::string SecPolicy::description() const {
    if (kind_ == Kind::BasicX509) return "<SecPolicy: basic X.509>";
    return std::string("<SecPolicy: SSL ") + (server_ ? "server" : "client") +
           (hostname_ ? ", host " + *hostname_ : std::string()) + ">";
}

bool SecPolicy::isEqual(const NSObject& other) const {
    auto policy = dynamic_cast<const SecPolicy*>(&other);
    return policy && policy->kind_ == kind_ && policy->server_ == server_ && policy->hostname_ == hostname_;
}

SecPolicyRef SecPolicyCreateSSL(bool server, const std::optional<std::string>& hostname) {
    std::optional<std::string> host;
    if (hostname && !hostname->empty()) host = *hostname;
    return make<SecPolicy>(SecPolicy::Kind::SSL, server, std::move(host));
}

SecPolicyRef SecPolicyCreateBasicX509() {
    return make<SecPolicy>(SecPolicy::Kind::BasicX509, true, std::nullopt);
}
