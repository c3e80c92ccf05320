#pragma once
// Authentication challenges: a connection asks its delegate how to authenticate against a
// protection space (a server's trust during the TLS handshake, or HTTP Basic or Digest after a
// 401), and the delegate answers through the challenge's sender — at once or later, from any
// thread. Exactly the first answer counts.
//
// The server's trust is an opaque object. The security library registers a factory that turns
// the presented chain (DER, leaf first) and host into its trust object; until one is registered
// the trust is an NSURLServerTrustChain, which carries the chain and the host as they came.
// Default handling of a server-trust challenge evaluates the chain with the registered default
// evaluator (OpenSSL with the system roots and a host-name check unless replaced).

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "network/NSURLCredential.h"
#include "network/NSURLResponse.h"

// Authentication methods.
inline constexpr char NSURLAuthenticationMethodDefault[] = "NSURLAuthenticationMethodDefault";
inline constexpr char NSURLAuthenticationMethodHTTPBasic[] = "NSURLAuthenticationMethodHTTPBasic";
inline constexpr char NSURLAuthenticationMethodHTTPDigest[] = "NSURLAuthenticationMethodHTTPDigest";
inline constexpr char NSURLAuthenticationMethodHTMLForm[] = "NSURLAuthenticationMethodHTMLForm";
inline constexpr char NSURLAuthenticationMethodServerTrust[] = "NSURLAuthenticationMethodServerTrust";
inline constexpr char NSURLAuthenticationMethodClientCertificate[] =
    "NSURLAuthenticationMethodClientCertificate";
inline constexpr char NSURLAuthenticationMethodNTLM[] = "NSURLAuthenticationMethodNTLM";

// Protocols of a protection space.
inline constexpr char NSURLProtectionSpaceHTTP[] = "http";
inline constexpr char NSURLProtectionSpaceHTTPS[] = "https";

// The trust object used until the security library registers its own: the chain as presented.
class NSURLServerTrustChain : public NSObject {
  public:
    NSURLServerTrustChain(std::vector<NSData> certificates, std::string host)
        : certificates_(std::move(certificates)), host_(std::move(host)) {}
    // DER, leaf first.
    const std::vector<NSData>& certificates() const { return certificates_; }
    const std::string& host() const { return host_; }
    std::string className() const override { return "NSURLServerTrustChain"; }

  private:
    std::vector<NSData> certificates_;
    std::string host_;
};

class NSURLProtectionSpace : public NSObject {
  public:
    // Makes a trust object from a presented chain (DER, leaf first) and the host.
    using ServerTrustFactory =
        std::function<Ref<NSObject>(const std::vector<NSData>& chain, const std::string& host)>;
    // Decides, as the platform would by default, whether a chain is trusted for the host.
    using DefaultTrustEvaluator =
        std::function<bool(const std::vector<NSData>& chain, const std::string& host)>;

    NSURLProtectionSpace(std::string host, long port, std::optional<std::string> protocol,
                         std::optional<std::string> realm, std::string authenticationMethod,
                         Ref<NSObject> serverTrust = nullptr, std::vector<NSData> certificateChain = {});

    const std::string& host() const { return host_; }
    long port() const { return port_; }
    const std::optional<std::string>& protocol() const { return protocol_; }
    const std::optional<std::string>& realm() const { return realm_; }
    const std::string& authenticationMethod() const { return method_; }
    bool receivesCredentialSecurely() const { return protocol_ && *protocol_ == NSURLProtectionSpaceHTTPS; }
    // The trust object of a server-trust space, nullptr otherwise.
    const Ref<NSObject>& serverTrust() const { return serverTrust_; }
    // The chain behind the trust (DER, leaf first); empty for other spaces.
    const std::vector<NSData>& certificateChain() const { return chain_; }

    // Hooks for the security library. Setting nullptr restores the built-in behaviour.
    static void setServerTrustFactory(ServerTrustFactory factory);
    static Ref<NSObject> makeServerTrust(const std::vector<NSData>& chain, const std::string& host);
    static void setDefaultTrustEvaluator(DefaultTrustEvaluator evaluator);
    static bool evaluateTrustByDefault(const std::vector<NSData>& chain, const std::string& host);

    std::string className() const override { return "NSURLProtectionSpace"; }
    std::string description() const override;
    // Same host (ignoring case), port, protocol, realm and method.
    bool isEqual(const NSObject& other) const override;

  private:
    std::string host_;
    long port_;
    std::optional<std::string> protocol_;
    std::optional<std::string> realm_;
    std::string method_;
    Ref<NSObject> serverTrust_;
    std::vector<NSData> chain_;
};

class NSURLAuthenticationChallenge;

// How a delegate answers a challenge.
class NSURLAuthenticationChallengeSender {
  public:
    virtual ~NSURLAuthenticationChallengeSender() = default;
    virtual void useCredential(const Ref<NSURLCredential>& credential,
                               const Ref<NSURLAuthenticationChallenge>& challenge) = 0;
    virtual void continueWithoutCredentialForAuthenticationChallenge(
        const Ref<NSURLAuthenticationChallenge>& challenge) = 0;
    virtual void cancelAuthenticationChallenge(const Ref<NSURLAuthenticationChallenge>& challenge) = 0;
    virtual void
    performDefaultHandlingForAuthenticationChallenge(const Ref<NSURLAuthenticationChallenge>& challenge) = 0;
    virtual void
    rejectProtectionSpaceAndContinueWithChallenge(const Ref<NSURLAuthenticationChallenge>& challenge) = 0;
};

class NSURLAuthenticationChallenge : public NSObject {
  public:
    NSURLAuthenticationChallenge(Ref<NSURLProtectionSpace> space, Ref<NSURLCredential> proposedCredential,
                                 long previousFailureCount, Ref<NSURLResponse> failureResponse,
                                 Ref<NSError> error,
                                 std::shared_ptr<NSURLAuthenticationChallengeSender> sender);

    const Ref<NSURLProtectionSpace>& protectionSpace() const { return space_; }
    const Ref<NSURLCredential>& proposedCredential() const { return proposed_; }
    long previousFailureCount() const { return previousFailureCount_; }
    const Ref<NSURLResponse>& failureResponse() const { return failureResponse_; }
    const Ref<NSError>& error() const { return error_; }
    const std::shared_ptr<NSURLAuthenticationChallengeSender>& sender() const { return sender_; }

    std::string className() const override { return "NSURLAuthenticationChallenge"; }

  private:
    Ref<NSURLProtectionSpace> space_;
    Ref<NSURLCredential> proposed_;
    long previousFailureCount_;
    Ref<NSURLResponse> failureResponse_;
    Ref<NSError> error_;
    std::shared_ptr<NSURLAuthenticationChallengeSender> sender_;
};
