#pragma once
// How tests drive the security services: which roots the platform trusts, which keychain file it
// uses, and failures a locked device would give. Nothing here is part of the product; product
// code never calls it.

#include <optional>
#include <string>

#include "security/CommonCrypto.h"
#include "security/SecItem.h"
#include "security/SecTrust.h"

namespace security_testing {

// Extra certificates the platform trusts as if they were system roots (so a test's own root can
// stand for a public one on loopback), for the whole process.
void addSystemAnchor(const SecCertificateRef& anchor);
void resetSystemAnchors();

enum class SecItemOperation { Add, CopyMatching, Update, Delete };
// The next `count` calls of `operation` (every call when count < 0) answer `status` without
// touching the items, as a locked device answers errSecInteractionNotAllowed.
void injectKeychainStatus(SecItemOperation operation, OSStatus status, int count = 1);
void clearInjectedKeychainStatuses();
// Uses `path` as the keychain file from now on (nullopt: back to the file under the sandbox
// root) and forgets what was read before, so the next call reads the file afresh; calling it
// again with the same path is how a test "restarts" the keychain.
void setKeychainFile(const std::optional<std::string>& path);

// The next `count` calls of CCCrypt answer `status` without running the cipher, as a failing
// cipher would.
void injectCryptorStatus(CCCryptorStatus status, int count = 1);
void clearInjectedCryptorStatus();

}  // namespace security_testing
