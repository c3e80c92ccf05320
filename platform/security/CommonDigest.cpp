#include "security/CommonDigest.h"

#include <openssl/evp.h>

namespace {

unsigned char* digest(const EVP_MD* type, const void* data, CC_LONG len, unsigned char* md) {
    if (!md || (!data && len > 0)) return nullptr;
    static const unsigned char kEmpty = 0;
    if (!data) data = &kEmpty;
    if (EVP_Digest(data, len, md, nullptr, type, nullptr) != 1) return nullptr;
    return md;
}

}  // namespace

unsigned char* CC_MD5(const void* data, CC_LONG len, unsigned char* md) {
    return digest(EVP_md5(), data, len, md);
}
unsigned char* CC_SHA1(const void* data, CC_LONG len, unsigned char* md) {
    return digest(EVP_sha1(), data, len, md);
}
unsigned char* CC_SHA224(const void* data, CC_LONG len, unsigned char* md) {
    return digest(EVP_sha224(), data, len, md);
}
unsigned char* CC_SHA256(const void* data, CC_LONG len, unsigned char* md) {
    return digest(EVP_sha256(), data, len, md);
}
unsigned char* CC_SHA384(const void* data, CC_LONG len, unsigned char* md) {
    return digest(EVP_sha384(), data, len, md);
}
unsigned char* CC_SHA512(const void* data, CC_LONG len, unsigned char* md) {
    return digest(EVP_sha512(), data, len, md);
}
