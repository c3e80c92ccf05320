#include "network/NSURLCredential.h"

namespace {
const NSCodableClass<NSURLCredential> credentialRegistration("NSURLCredential");
}

NSURLCredential::NSURLCredential(std::string user, std::string password,
                                 NSURLCredentialPersistence persistence)
    : user_(std::move(user)), password_(std::move(password)), persistence_(persistence) {}

NSURLCredential::NSURLCredential(Ref<NSObject> trust)
    : persistence_(NSURLCredentialPersistenceForSession), trust_(std::move(trust)) {}

NSURLCredential::NSURLCredential(NSCoder& coder) {
    user_ = coder.decodeObjectOfClass("NSString", "user").optionalString();
    password_ = coder.decodeObjectOfClass("NSString", "password").optionalString();
    auto p = coder.decodeInt64ForKey("persistence");
    if (p >= 0 && p <= 3) persistence_ = static_cast<NSURLCredentialPersistence>(p);
}

void NSURLCredential::encodeWithCoder(NSCoder& coder) const {
    if (user_) coder.encodeObject(*user_, "user");
    if (password_) coder.encodeObject(*password_, "password");
    coder.encodeInt64(static_cast<std::int64_t>(persistence_), "persistence");
}

std::string NSURLCredential::description() const {
    return "<NSURLCredential: " + (trust_ ? std::string("server trust") : user_.value_or("(null)")) + ">";
}

bool NSURLCredential::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSURLCredential*>(&other);
    return o && user_ == o->user_ && password_ == o->password_ && persistence_ == o->persistence_ &&
           trust_ == o->trust_;
}
