#pragma once
// Shared ground of the security library: the status type, the status codes its calls answer,
// and the reference types of its objects.
//
// Every call reports through an OSStatus (0 = success) the way the platform's security services
// do; objects are NSObjects held in Refs, so there is nothing to release by hand. Where a call
// hands back an NSError, its domain is NSOSStatusErrorDomain and its code the status.

#include <cstdint>
#include <string>

#include "foundation/NSObject.h"

using OSStatus = std::int32_t;

enum : OSStatus {
    errSecSuccess = 0,
    errSecUnimplemented = -4,
    errSecIO = -36,
    errSecParam = -50,
    errSecAllocate = -108,
    errSecUserCanceled = -128,
    errSecBadReq = -909,
    errSecNotAvailable = -25291,
    errSecAuthFailed = -25293,
    errSecDuplicateItem = -25299,
    errSecItemNotFound = -25300,
    errSecNoSuchAttr = -25303,
    errSecInteractionNotAllowed = -25308,
    errSecDecode = -26275,
    errSecMissingEntitlement = -34018,
    // Trust verdicts reported by SecTrustEvaluateWithError.
    errSecHostNameMismatch = -67602,
    errSecInvalidSignature = -67688,
    errSecCertificateExpired = -67818,
    errSecCertificateNotValidYet = -67819,
    errSecCertificateRevoked = -67820,
    errSecNotTrusted = -67843,
    errSecInvalidExtendedKeyUsage = -67609,
};

// The error domain of statuses turned into NSErrors.
inline constexpr char NSOSStatusErrorDomain[] = "NSOSStatusErrorDomain";

// A short English sentence for a status ("The specified item could not be found in the
// keychain."), for logs and error descriptions.
std::string SecCopyErrorMessageString(OSStatus status);

class SecCertificate;
class SecPolicy;
class SecTrust;
class SecKey;
class SecAccessControl;
using SecCertificateRef = Ref<SecCertificate>;
using SecPolicyRef = Ref<SecPolicy>;
using SecTrustRef = Ref<SecTrust>;
using SecKeyRef = Ref<SecKey>;
using SecAccessControlRef = Ref<SecAccessControl>;
