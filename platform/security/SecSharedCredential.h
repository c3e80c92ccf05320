#pragma once
// Shared web credentials: passwords the system would share between an app and the web sites
// associated with it. No web site can vouch for this app here, so there is never a shared
// credential: requests answer an empty list with errSecItemNotFound, additions fail with
// errSecMissingEntitlement. Completions run on a global dispatch queue, never inline, as the
// platform's do. Password generation works.

#include <functional>
#include <optional>
#include <string>

#include "foundation/NSError.h"
#include "foundation/Value.h"
#include "security/SecBase.h"

// The password entry of a shared credential (beside kSecAttrServer and kSecAttrAccount).
inline constexpr char kSecSharedPassword[] = "spwd";

// `fqdn` and `account` absent: any.
void SecRequestSharedWebCredential(
    const std::optional<std::string>& fqdn, const std::optional<std::string>& account,
    std::function<void(Array credentials, Ref<NSError> error)> completionHandler);
// An absent password removes the credential.
void SecAddSharedWebCredential(const std::string& fqdn, const std::string& account,
                               const std::optional<std::string>& password,
                               std::function<void(Ref<NSError> error)> completionHandler);
// A fresh strong password: four groups of three characters joined by "-" ("xK4-pq9-Tzm-2bd"),
// from letters and digits, with at least one digit, one lower-case and one upper-case letter.
std::optional<std::string> SecCreateSharedWebCredentialPassword();
