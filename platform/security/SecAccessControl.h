#pragma once
// Access-control objects for keychain items: an accessibility class plus the conditions under
// which the item may be used. Nothing here can prompt or check a fingerprint, so the object is
// only validated and stored with the item (and read back with its attributes).

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/NSError.h"
#include "security/SecBase.h"

using SecAccessControlCreateFlags = std::uint64_t;
enum : SecAccessControlCreateFlags {
    kSecAccessControlUserPresence = 1u << 0,
    kSecAccessControlBiometryAny = 1u << 1,
    kSecAccessControlTouchIDAny = 1u << 1,
    kSecAccessControlBiometryCurrentSet = 1u << 3,
    kSecAccessControlTouchIDCurrentSet = 1u << 3,
    kSecAccessControlDevicePasscode = 1u << 4,
    kSecAccessControlWatch = 1u << 5,
    kSecAccessControlOr = 1u << 14,
    kSecAccessControlAnd = 1u << 15,
    kSecAccessControlPrivateKeyUsage = 1u << 30,
    kSecAccessControlApplicationPassword = 1ull << 31,
};

class SecAccessControl : public NSObject {
  public:
    SecAccessControl(std::string protection, SecAccessControlCreateFlags flags)
        : protection_(std::move(protection)), flags_(flags) {}

    // One of the kSecAttrAccessible... values.
    const std::string& protection() const { return protection_; }
    SecAccessControlCreateFlags flags() const { return flags_; }

    std::string className() const override { return "SecAccessControl"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;

  private:
    std::string protection_;
    SecAccessControlCreateFlags flags_;
};

// nullptr and an errSecParam error for an unknown protection, unknown flag bits, or both
// kSecAccessControlOr and kSecAccessControlAnd.
SecAccessControlRef SecAccessControlCreateWithFlags(const std::string& protection,
                                                    SecAccessControlCreateFlags flags, Ref<NSError>* error);

namespace detail {
// Whether `protection` is one of the kSecAttrAccessible... values.
bool isAccessibleValue(std::string_view protection);
}  // namespace detail
