#pragma once
// Generic passwords in the keychain for the Weibo SDK: account = user name, service and label =
// service name, value data = the password's UTF-8 bytes. Errors are in the domain
// "WBSDKKeychainUtilsErrorDomain": -2000 a required argument is missing, -1999 the item exists
// but its data cannot be read, any other code the keychain's status.

#include <optional>
#include <string>

#include "foundation/NSError.h"

inline constexpr char WBSDKKeychainUtilsErrorDomain[] = "WBSDKKeychainUtilsErrorDomain";

class WBSDKKeychainUtils {
  public:
    // Nil without an error for a missing item.
    static std::optional<std::string> getPasswordForUsername(const std::optional<std::string>& username,
                                                             const std::optional<std::string>& serviceName,
                                                             Ref<NSError>* error);
    // YES without writing when the stored password is the same, or differs and update is not
    // allowed.
    static bool storeUsername(const std::optional<std::string>& username,
                              const std::optional<std::string>& password,
                              const std::optional<std::string>& serviceName, bool updateExisting,
                              Ref<NSError>* error);
    static bool deleteItemForUsername(const std::optional<std::string>& username,
                                      const std::optional<std::string>& serviceName, Ref<NSError>* error);
};
