#pragma once
// Internal to the security library: owning handles for OpenSSL objects and small conversions.
// Never included by the library's public headers, so callers do not see OpenSSL.

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "security/SecBase.h"

namespace detail {

template <auto Free>
struct OpenSSLDeleter {
    template <class T>
    void operator()(T* p) const {
        if (p) Free(p);
    }
};

using X509Ptr = std::unique_ptr<X509, OpenSSLDeleter<X509_free>>;
using EVPKeyPtr = std::unique_ptr<EVP_PKEY, OpenSSLDeleter<EVP_PKEY_free>>;
using EVPKeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSSLDeleter<EVP_PKEY_CTX_free>>;
using EVPCipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OpenSSLDeleter<EVP_CIPHER_CTX_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OpenSSLDeleter<X509_STORE_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OpenSSLDeleter<X509_STORE_CTX_free>>;
using BIOPtr = std::unique_ptr<BIO, OpenSSLDeleter<BIO_free_all>>;

inline void freeX509Stack(STACK_OF(X509) * stack) {
    sk_X509_pop_free(stack, X509_free);
}
using X509StackPtr = std::unique_ptr<STACK_OF(X509), OpenSSLDeleter<freeX509Stack>>;

// Drops whatever OpenSSL queued on this thread's error stack, so one failed parse does not
// leak its messages into an unrelated later call.
inline void clearOpenSSLErrors() {
    ERR_clear_error();
}

// The DER form of a public key (SubjectPublicKeyInfo); empty on failure.
NSData publicKeyInfoDER(EVP_PKEY* key);

// An NSError of NSOSStatusErrorDomain for a status, with a description.
Ref<NSError> statusError(OSStatus status, const std::string& description = {});

}  // namespace detail

class SecKey;
namespace detail {
// Wraps an OpenSSL key; `isPrivate` says whether it carries the private half.
Ref<SecKey> makeKey(EVPKeyPtr key, bool isPrivate);
}  // namespace detail
