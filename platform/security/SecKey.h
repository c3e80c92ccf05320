#pragma once
// Public and private keys (RSA and elliptic-curve), and RSA encryption with them.
//
// Keys compare by value: two keys are equal when they are of the same class (public or private)
// and carry the same public key material, however they were made (from a certificate, from
// bytes, from a trust object). Keys are immutable and usable from any thread.
//
// SecKeyEncrypt and SecKeyDecrypt work on one RSA block: the plaintext of PKCS#1 v1.5 padding is
// at most k - 11 bytes and the ciphertext exactly k bytes, where k = SecKeyGetBlockSize(key);
// callers cut longer data into chunks themselves.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/Value.h"
#include "security/SecBase.h"

struct evp_pkey_st;

enum SecPadding : std::uint32_t {
    kSecPaddingNone = 0,
    kSecPaddingPKCS1 = 1,
    // OAEP with SHA-1 and MGF1-SHA-1.
    kSecPaddingOAEP = 2,
};

// Key attributes for SecKeyCreateWithData and SecKeyCreateRandomKey.
inline constexpr char kSecAttrKeyType[] = "type";
inline constexpr char kSecAttrKeyTypeRSA[] = "42";
inline constexpr char kSecAttrKeyTypeEC[] = "73";
inline constexpr char kSecAttrKeyTypeECSECPrimeRandom[] = "73";
inline constexpr char kSecAttrKeyClass[] = "kcls";
inline constexpr char kSecAttrKeyClassPublic[] = "0";
inline constexpr char kSecAttrKeyClassPrivate[] = "1";
inline constexpr char kSecAttrKeySizeInBits[] = "bsiz";

class SecKey : public NSObject {
  public:
    enum class Type { RSA, EC, Other };

    // Made by the key functions below; takes over `key`.
    SecKey(evp_pkey_st* key, bool isPrivate);
    ~SecKey() override;

    evp_pkey_st* pkey() const { return key_; }
    bool isPrivate() const { return private_; }
    Type type() const;
    // Size of the key in bits (the modulus for RSA, the field for EC).
    int bits() const;
    // The public half as DER SubjectPublicKeyInfo.
    const NSData& publicKeyInfo() const { return publicInfo_; }

    std::string className() const override { return "SecKey"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override { return publicInfo_.hash(); }

  private:
    evp_pkey_st* key_;
    bool private_;
    NSData publicInfo_;
};

// The RSA block size in bytes (the modulus length); for an EC key the largest signature size.
// 0 for a null key.
std::size_t SecKeyGetBlockSize(const SecKeyRef& key);

// Encrypts one block with the public half of `key`. `cipherTextLen` holds the room of
// `cipherText` on entry and the bytes written on return (k). errSecParam for a null key or
// buffer, too long a plaintext, too small an output, or an unknown padding; errSecUnimplemented
// for a key that is not RSA.
OSStatus SecKeyEncrypt(const SecKeyRef& key, SecPadding padding, const std::uint8_t* plainText,
                       std::size_t plainTextLen, std::uint8_t* cipherText, std::size_t* cipherTextLen);
// Decrypts one k-byte block with a private key. errSecParam for a public key, a ciphertext that
// is not k bytes or too small an output; errSecDecode when the padding does not check out.
OSStatus SecKeyDecrypt(const SecKeyRef& key, SecPadding padding, const std::uint8_t* cipherText,
                       std::size_t cipherTextLen, std::uint8_t* plainText, std::size_t* plainTextLen);

// The public half of a key (the key itself when it is public).
SecKeyRef SecKeyCopyPublicKey(const SecKeyRef& key);
// The platform's external forms: RSA keys as PKCS#1 (RSAPublicKey or RSAPrivateKey DER); EC
// public keys as the uncompressed point 04 || X || Y, private ones as that point followed by the
// secret scalar.
std::optional<NSData> SecKeyCopyExternalRepresentation(const SecKeyRef& key, Ref<NSError>* error);
// The inverse of the above: kSecAttrKeyType and kSecAttrKeyClass are required. Also accepts DER
// SubjectPublicKeyInfo for public keys and PKCS#8 for private keys.
SecKeyRef SecKeyCreateWithData(const NSData& keyData, const Dictionary& attributes, Ref<NSError>* error);
// A new private key: kSecAttrKeyType RSA (kSecAttrKeySizeInBits 1024 to 8192, default 2048) or
// EC (256, 384 or 521, default 256).
SecKeyRef SecKeyCreateRandomKey(const Dictionary& parameters, Ref<NSError>* error);

namespace detail {
// A key from PEM text: a private key (PKCS#8, PKCS#1 or SEC1) or a public key (SubjectPublicKeyInfo
// or PKCS#1). nullptr when nothing in the text parses.
SecKeyRef keyFromPEM(const std::string& pem);
// A key from DER: PKCS#8 or type-specific private keys, else SubjectPublicKeyInfo.
SecKeyRef keyFromDER(const NSData& der);
// PEM text of a key (PKCS#8 for private keys, SubjectPublicKeyInfo for public ones).
std::string keyToPEM(const SecKeyRef& key);
}  // namespace detail
