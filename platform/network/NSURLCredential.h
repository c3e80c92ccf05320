#pragma once
// Credentials: a user name and password with a persistence, or the acceptance of a server's
// trust object (credentialForTrust). Immutable; may be shared between threads.
//
// The trust is an opaque object made by whoever evaluates certificates (see
// NSURLProtectionSpace::serverTrust); a credential for it tells the connection to accept the
// chain it was made from.

#include <optional>
#include <string>

#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSObject.h"

enum NSURLCredentialPersistence : unsigned long {
    NSURLCredentialPersistenceNone = 0,
    NSURLCredentialPersistenceForSession = 1,
    NSURLCredentialPersistencePermanent = 2,
    NSURLCredentialPersistenceSynchronizable = 3,
};

class NSURLCredential : public NSObject, public NSSecureCoding {
  public:
    NSURLCredential(std::string user, std::string password, NSURLCredentialPersistence persistence);
    explicit NSURLCredential(Ref<NSObject> trust);
    explicit NSURLCredential(NSCoder& coder);
    static bool supportsSecureCoding() { return true; }

    static Ref<NSURLCredential> credentialWithUser(std::string user, std::string password,
                                                   NSURLCredentialPersistence persistence) {
        return make<NSURLCredential>(std::move(user), std::move(password), persistence);
    }
    static Ref<NSURLCredential> credentialForTrust(Ref<NSObject> trust) {
        return make<NSURLCredential>(std::move(trust));
    }

    const std::optional<std::string>& user() const { return user_; }
    const std::optional<std::string>& password() const { return password_; }
    bool hasPassword() const { return password_.has_value(); }
    NSURLCredentialPersistence persistence() const { return persistence_; }
    // The trust this credential accepts; nullptr for a password credential.
    const Ref<NSObject>& trust() const { return trust_; }

    std::string className() const override { return "NSURLCredential"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    // The trust is not archived.
    void encodeWithCoder(NSCoder& coder) const override;

  private:
    std::optional<std::string> user_;
    std::optional<std::string> password_;
    NSURLCredentialPersistence persistence_ = NSURLCredentialPersistenceNone;
    Ref<NSObject> trust_;
};
