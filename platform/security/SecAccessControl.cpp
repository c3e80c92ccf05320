#include "security/SecAccessControl.h"

#include <cstring>
#include <functional>

#include "security/OpenSSLSupport.h"
#include "security/SecItem.h"

namespace detail {

bool isAccessibleValue(std::string_view protection) {
    for (const char* value :
         {kSecAttrAccessibleWhenUnlocked, kSecAttrAccessibleAfterFirstUnlock, kSecAttrAccessibleAlways,
          kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly, kSecAttrAccessibleWhenUnlockedThisDeviceOnly,
          kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly, kSecAttrAccessibleAlwaysThisDeviceOnly}) {
        if (protection == value) return true;
    }
    return false;
}

}  // namespace detail

namespace {

constexpr SecAccessControlCreateFlags kKnownFlags =
    kSecAccessControlUserPresence | kSecAccessControlBiometryAny | kSecAccessControlBiometryCurrentSet |
    kSecAccessControlDevicePasscode | kSecAccessControlWatch | kSecAccessControlOr | kSecAccessControlAnd |
    kSecAccessControlPrivateKeyUsage | kSecAccessControlApplicationPassword;

}  // namespace

std::string SecAccessControl::description() const {
    return "<SecAccessControl: " + protection_ + ", flags " + std::to_string(flags_) + ">";
}

bool SecAccessControl::isEqual(const NSObject& other) const {
    auto control = dynamic_cast<const SecAccessControl*>(&other);
    return control && control->protection_ == protection_ && control->flags_ == flags_;
}

std::size_t SecAccessControl::hash() const {
    return std::hash<std::string>()(protection_) ^ std::hash<std::uint64_t>()(flags_);
}

SecAccessControlRef SecAccessControlCreateWithFlags(const std::string& protection,
                                                    SecAccessControlCreateFlags flags, Ref<NSError>* error) {
    if (!detail::isAccessibleValue(protection)) {
        setError(error, detail::statusError(errSecParam, "Unknown accessibility \"" + protection + "\"."));
        return nullptr;
    }
    if ((flags & ~kKnownFlags) != 0 || ((flags & kSecAccessControlOr) && (flags & kSecAccessControlAnd))) {
        setError(error, detail::statusError(errSecParam, "Invalid access-control flags."));
        return nullptr;
    }
    return make<SecAccessControl>(protection, flags);
}
