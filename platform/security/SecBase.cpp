#include "security/SecBase.h"

#include "security/OpenSSLSupport.h"

std::string SecCopyErrorMessageString(OSStatus status) {
    switch (status) {
        case errSecSuccess:
            return "No error.";
        case errSecUnimplemented:
            return "Function or operation not implemented.";
        case errSecIO:
            return "I/O error.";
        case errSecParam:
            return "One or more parameters passed to a function were not valid.";
        case errSecAllocate:
            return "Failed to allocate memory.";
        case errSecUserCanceled:
            return "User canceled the operation.";
        case errSecBadReq:
            return "Bad parameter or invalid state for operation.";
        case errSecNotAvailable:
            return "No keychain is available.";
        case errSecAuthFailed:
            return "The user name or passphrase you entered is not correct.";
        case errSecDuplicateItem:
            return "The specified item already exists in the keychain.";
        case errSecItemNotFound:
            return "The specified item could not be found in the keychain.";
        case errSecNoSuchAttr:
            return "The specified attribute does not exist.";
        case errSecInteractionNotAllowed:
            return "User interaction is not allowed.";
        case errSecDecode:
            return "Unable to decode the provided data.";
        case errSecMissingEntitlement:
            return "A required entitlement isn't present.";
        case errSecHostNameMismatch:
            return "The certificate was not issued for the requested host name.";
        case errSecInvalidSignature:
            return "A certificate's signature is not valid.";
        case errSecCertificateExpired:
            return "A certificate in the chain has expired.";
        case errSecCertificateNotValidYet:
            return "A certificate in the chain is not yet valid.";
        case errSecCertificateRevoked:
            return "A certificate in the chain has been revoked.";
        case errSecNotTrusted:
            return "The certificate chain is not trusted.";
        case errSecInvalidExtendedKeyUsage:
            return "A certificate does not allow the requested use.";
        default:
            return "OSStatus " + std::to_string(status);
    }
}

namespace detail {

NSData publicKeyInfoDER(EVP_PKEY* key) {
    if (!key) return {};
    unsigned char* out = nullptr;
    int length = i2d_PUBKEY(key, &out);
    if (length <= 0 || !out) {
        clearOpenSSLErrors();
        return {};
    }
    NSData data(out, static_cast<std::size_t>(length));
    OPENSSL_free(out);
    return data;
}

Ref<NSError> statusError(OSStatus status, const std::string& description) {
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject(NSLocalizedDescriptionKey,
                   description.empty() ? SecCopyErrorMessageString(status) : description);
    return NSError::errorWithDomain(NSOSStatusErrorDomain, status, info);
}

}  // namespace detail
