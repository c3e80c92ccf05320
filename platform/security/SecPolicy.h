#pragma once
// Trust policies: what a certificate chain is checked for.
//
// - Basic X.509: the chain leads to a trusted anchor and every certificate in it is within its
//   validity window.
// - SSL: the same, plus the leaf must be fit for a TLS server (or client), and, for a server
//   policy with a host name, issued for that host (a DNS name or IP address among the subject
//   alternative names, or the common name when there are none).
// Policies are immutable.

#include <optional>
#include <string>

#include "security/SecBase.h"

class SecPolicy : public NSObject {
  public:
    enum class Kind { BasicX509, SSL };

    SecPolicy(Kind kind, bool server, std::optional<std::string> hostname);

    Kind kind() const { return kind_; }
    bool isServer() const { return server_; }
    // The host the leaf must be issued for; nullopt checks no host.
    const std::optional<std::string>& hostname() const { return hostname_; }

    std::string className() const override { return "SecPolicy"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;

  private:
    Kind kind_;
    bool server_;
    std::optional<std::string> hostname_;
};

// An SSL policy. `server` true checks a server's chain; `hostname` (absent or empty: no host
// check) is the name the client connected to, a DNS name or an IP address ("[::1]" is accepted).
SecPolicyRef SecPolicyCreateSSL(bool server, const std::optional<std::string>& hostname);
SecPolicyRef SecPolicyCreateBasicX509();
