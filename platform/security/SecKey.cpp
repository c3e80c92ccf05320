#include "security/SecKey.h"

#include <openssl/core_names.h>
#include <openssl/decoder.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstring>
#include <vector>

#include "security/OpenSSLSupport.h"

namespace {

bool hasPrivatePart(EVP_PKEY* key) {
    BIGNUM* bn = nullptr;
    bool found = false;
    if (EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA) {
        found = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_D, &bn) == 1;
    } else if (EVP_PKEY_get_base_id(key) == EVP_PKEY_EC) {
        found = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &bn) == 1;
    }
    BN_clear_free(bn);
    detail::clearOpenSSLErrors();
    return found;
}

NSData toData(unsigned char* bytes, int length) {
    if (length <= 0 || !bytes) return {};
    NSData data(bytes, static_cast<std::size_t>(length));
    OPENSSL_free(bytes);
    return data;
}

const char* curveForPointLength(std::size_t length) {
    switch (length) {
        case 65:
            return "P-256";
        case 97:
            return "P-384";
        case 133:
            return "P-521";
        default:
            return nullptr;
    }
}

std::size_t scalarLengthForCurve(const char* curve) {
    if (std::strcmp(curve, "P-256") == 0) return 32;
    if (std::strcmp(curve, "P-384") == 0) return 48;
    return 66;
}

// An EC key from the X9.63 forms: 04 || X || Y, optionally followed by the scalar.
detail::EVPKeyPtr ecKeyFromX963(const NSData& data, bool isPrivate) {
    const char* curve = nullptr;
    std::size_t pointLength = 0;
    for (std::size_t candidate : {65u, 97u, 133u}) {
        const char* name = curveForPointLength(candidate);
        std::size_t expected = candidate + (isPrivate ? scalarLengthForCurve(name) : 0);
        if (data.length() == expected) {
            curve = name;
            pointLength = candidate;
        }
    }
    if (!curve || data.bytes()[0] != 0x04) return nullptr;

    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    if (!builder) return nullptr;
    BIGNUM* scalar = nullptr;
    bool ok =
        OSSL_PARAM_BLD_push_utf8_string(builder, OSSL_PKEY_PARAM_GROUP_NAME, curve, 0) == 1 &&
        OSSL_PARAM_BLD_push_octet_string(builder, OSSL_PKEY_PARAM_PUB_KEY, data.bytes(), pointLength) == 1;
    if (ok && isPrivate) {
        scalar =
            BN_bin2bn(data.bytes() + pointLength, static_cast<int>(data.length() - pointLength), nullptr);
        ok = scalar && OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_PRIV_KEY, scalar) == 1;
    }
    OSSL_PARAM* params = ok ? OSSL_PARAM_BLD_to_param(builder) : nullptr;
    EVP_PKEY* key = nullptr;
    if (params) {
        detail::EVPKeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
        if (ctx && EVP_PKEY_fromdata_init(ctx.get()) == 1) {
            EVP_PKEY_fromdata(ctx.get(), &key, isPrivate ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params);
        }
    }
    OSSL_PARAM_free(params);
    BN_clear_free(scalar);
    OSSL_PARAM_BLD_free(builder);
    detail::EVPKeyPtr result(key);
    if (result) {
        // The point must lie on the curve, and a private scalar must belong to it.
        detail::EVPKeyCtxPtr check(EVP_PKEY_CTX_new(result.get(), nullptr));
        bool valid = check && (isPrivate ? EVP_PKEY_pairwise_check(check.get()) == 1
                                         : EVP_PKEY_public_check(check.get()) == 1);
        if (!valid) result.reset();
    }
    detail::clearOpenSSLErrors();
    return result;
}

detail::EVPKeyPtr decodeKey(const unsigned char* bytes, std::size_t length, const char* format,
                            int selection) {
    EVP_PKEY* key = nullptr;
    OSSL_DECODER_CTX* ctx =
        OSSL_DECODER_CTX_new_for_pkey(&key, format, nullptr, nullptr, selection, nullptr, nullptr);
    if (!ctx) return nullptr;
    // Encrypted keys are refused rather than asked for a passphrase (never a terminal prompt).
    OSSL_DECODER_CTX_set_passphrase_cb(
        ctx, [](char*, std::size_t, std::size_t*, const OSSL_PARAM*, void*) { return 0; }, nullptr);
    const unsigned char* p = bytes;
    std::size_t remaining = length;
    if (OSSL_DECODER_from_data(ctx, &p, &remaining) != 1) {
        EVP_PKEY_free(key);
        key = nullptr;
    }
    OSSL_DECODER_CTX_free(ctx);
    detail::clearOpenSSLErrors();
    return detail::EVPKeyPtr(key);
}

OSStatus failWith(Ref<NSError>* error, OSStatus status, const std::string& text) {
    setError(error, detail::statusError(status, text));
    return status;
}

int opensslPadding(SecPadding padding) {
    switch (padding) {
        case kSecPaddingNone:
            return RSA_NO_PADDING;
        case kSecPaddingPKCS1:
            return RSA_PKCS1_PADDING;
        case kSecPaddingOAEP:
            return RSA_PKCS1_OAEP_PADDING;
    }
    return -1;
}

std::size_t paddingOverhead(SecPadding padding) {
    switch (padding) {
        case kSecPaddingNone:
            return 0;
        case kSecPaddingPKCS1:
            return 11;
        case kSecPaddingOAEP:
            return 42;
    }
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

SecKey::SecKey(evp_pkey_st* key, bool isPrivate)
    : key_(key), private_(isPrivate), publicInfo_(detail::publicKeyInfoDER(key)) {}

SecKey::~SecKey() {
    EVP_PKEY_free(key_);
}

SecKey::Type SecKey::type() const {
    switch (EVP_PKEY_get_base_id(key_)) {
        case EVP_PKEY_RSA:
            return Type::RSA;
        case EVP_PKEY_EC:
            return Type::EC;
        default:
            return Type::Other;
    }
}

int SecKey::bits() const {
    return EVP_PKEY_get_bits(key_);
}

std::string SecKey::description() const {
    std::string kind = type() == Type::RSA ? "RSA" : type() == Type::EC ? "EC" : "other";
    return "<SecKey: " + kind + " " + std::to_string(bits()) + " bits, " + (private_ ? "private" : "public") +
           ">";
}

bool SecKey::isEqual(const NSObject& other) const {
    auto key = dynamic_cast<const SecKey*>(&other);
    if (!key) return false;
    if (key == this) return true;
    return key->private_ == private_ && EVP_PKEY_eq(key->key_, key_) == 1;
}

namespace detail {
Ref<SecKey> makeKey(EVPKeyPtr key, bool isPrivate) {
    if (!key) return nullptr;
    return make<SecKey>(key.release(), isPrivate);
}
}  // namespace detail

// ---------------------------------------------------------------------------------------------

std::size_t SecKeyGetBlockSize(const SecKeyRef& key) {
    if (!key) return 0;
    int size = EVP_PKEY_get_size(key->pkey());
    return size > 0 ? static_cast<std::size_t>(size) : 0;
}

OSStatus SecKeyEncrypt(const SecKeyRef& key, SecPadding padding, const std::uint8_t* plainText,
                       std::size_t plainTextLen, std::uint8_t* cipherText, std::size_t* cipherTextLen) {
    if (!key || !cipherText || !cipherTextLen || (!plainText && plainTextLen > 0)) return errSecParam;
    if (key->type() != SecKey::Type::RSA) return errSecUnimplemented;
    int mode = opensslPadding(padding);
    if (mode < 0) return errSecParam;
    std::size_t k = SecKeyGetBlockSize(key);
    if (k < paddingOverhead(padding) || plainTextLen > k - paddingOverhead(padding) || *cipherTextLen < k) {
        return errSecParam;
    }

    // Without padding the block is the plaintext right-aligned in k bytes.
    std::vector<std::uint8_t> input;
    const std::uint8_t* in = plainText;
    std::size_t inLength = plainTextLen;
    if (padding == kSecPaddingNone) {
        input.assign(k, 0);
        if (plainTextLen) std::memcpy(input.data() + (k - plainTextLen), plainText, plainTextLen);
        in = input.data();
        inLength = k;
    }
    static const std::uint8_t kEmpty = 0;
    if (!in) in = &kEmpty;

    detail::EVPKeyCtxPtr ctx(EVP_PKEY_CTX_new(key->pkey(), nullptr));
    std::size_t outLength = *cipherTextLen;
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), mode) != 1 ||
        EVP_PKEY_encrypt(ctx.get(), cipherText, &outLength, in, inLength) != 1) {
        detail::clearOpenSSLErrors();
        // Without padding the only failure left is a block not below the modulus.
        return errSecParam;
    }
    *cipherTextLen = outLength;
    return errSecSuccess;
}

OSStatus SecKeyDecrypt(const SecKeyRef& key, SecPadding padding, const std::uint8_t* cipherText,
                       std::size_t cipherTextLen, std::uint8_t* plainText, std::size_t* plainTextLen) {
    if (!key || !cipherText || !plainText || !plainTextLen) return errSecParam;
    if (key->type() != SecKey::Type::RSA) return errSecUnimplemented;
    if (!key->isPrivate()) return errSecParam;
    int mode = opensslPadding(padding);
    std::size_t k = SecKeyGetBlockSize(key);
    if (mode < 0 || cipherTextLen != k) return errSecParam;

    std::vector<std::uint8_t> out(k);
    std::size_t outLength = out.size();
    detail::EVPKeyCtxPtr ctx(EVP_PKEY_CTX_new(key->pkey(), nullptr));
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), mode) != 1) {
        detail::clearOpenSSLErrors();
        return errSecParam;
    }
    if (EVP_PKEY_decrypt(ctx.get(), out.data(), &outLength, cipherText, cipherTextLen) != 1) {
        detail::clearOpenSSLErrors();
        return errSecDecode;
    }
    if (outLength > *plainTextLen) return errSecParam;
    if (outLength) std::memcpy(plainText, out.data(), outLength);
    OPENSSL_cleanse(out.data(), out.size());
    *plainTextLen = outLength;
    return errSecSuccess;
}

SecKeyRef SecKeyCopyPublicKey(const SecKeyRef& key) {
    if (!key) return nullptr;
    if (!key->isPrivate()) return key;
    const NSData& info = key->publicKeyInfo();
    const unsigned char* p = info.bytes();
    EVP_PKEY* pub = info.empty() ? nullptr : d2i_PUBKEY(nullptr, &p, static_cast<long>(info.length()));
    detail::clearOpenSSLErrors();
    return detail::makeKey(detail::EVPKeyPtr(pub), false);
}

std::optional<NSData> SecKeyCopyExternalRepresentation(const SecKeyRef& key, Ref<NSError>* error) {
    if (!key) {
        failWith(error, errSecParam, "No key.");
        return std::nullopt;
    }
    EVP_PKEY* pkey = key->pkey();
    NSData out;
    if (key->type() == SecKey::Type::RSA) {
        unsigned char* bytes = nullptr;
        int length = key->isPrivate() ? i2d_PrivateKey(pkey, &bytes) : i2d_PublicKey(pkey, &bytes);
        out = toData(bytes, length);
    } else if (key->type() == SecKey::Type::EC) {
        std::size_t pointLength = 0;
        if (EVP_PKEY_get_octet_string_param(pkey, OSSL_PKEY_PARAM_PUB_KEY, nullptr, 0, &pointLength) == 1) {
            std::vector<unsigned char> point(pointLength);
            if (EVP_PKEY_get_octet_string_param(pkey, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(),
                                                &pointLength) == 1) {
                out = NSData(point.data(), pointLength);
            }
        }
        if (!out.empty() && key->isPrivate()) {
            BIGNUM* scalar = nullptr;
            std::size_t scalarLength = static_cast<std::size_t>((key->bits() + 7) / 8);
            std::vector<unsigned char> bytes(scalarLength);
            if (EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_PRIV_KEY, &scalar) == 1 &&
                BN_bn2binpad(scalar, bytes.data(), static_cast<int>(bytes.size())) > 0) {
                out.appendBytes(bytes.data(), bytes.size());
            } else {
                out = NSData();
            }
            BN_clear_free(scalar);
            OPENSSL_cleanse(bytes.data(), bytes.size());
        }
    }
    detail::clearOpenSSLErrors();
    if (out.empty()) {
        failWith(error, errSecUnimplemented, "The key has no external representation.");
        return std::nullopt;
    }
    return out;
}

SecKeyRef SecKeyCreateWithData(const NSData& keyData, const Dictionary& attributes, Ref<NSError>* error) {
    std::string type = attributes[kSecAttrKeyType].stringValue();
    std::string keyClass = attributes[kSecAttrKeyClass].stringValue();
    bool isRSA = type == kSecAttrKeyTypeRSA;
    bool isEC = type == kSecAttrKeyTypeEC;
    if ((!isRSA && !isEC) || (keyClass != kSecAttrKeyClassPublic && keyClass != kSecAttrKeyClassPrivate)) {
        failWith(error, errSecParam, "Unsupported key type or class.");
        return nullptr;
    }
    bool isPrivate = keyClass == kSecAttrKeyClassPrivate;
    if (keyData.empty() || keyData.length() > (1u << 20)) {
        failWith(error, errSecDecode, "The key data is empty or too large.");
        return nullptr;
    }
    detail::EVPKeyPtr key;
    const unsigned char* p = keyData.bytes();
    const long length = static_cast<long>(keyData.length());
    auto consumedAll = [&] { return p == keyData.bytes() + keyData.length(); };
    if (isRSA && !isPrivate) {
        key.reset(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, length));
        if (!key || !consumedAll()) {
            p = keyData.bytes();
            key.reset(d2i_PUBKEY(nullptr, &p, length));
        }
    } else if (isRSA) {
        key.reset(d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, length));
        if (!key || !consumedAll()) {
            p = keyData.bytes();
            key.reset(d2i_AutoPrivateKey(nullptr, &p, length));
        }
    } else {
        key = ecKeyFromX963(keyData, isPrivate);
        if (!key) {
            p = keyData.bytes();
            key.reset(isPrivate ? d2i_AutoPrivateKey(nullptr, &p, length) : d2i_PUBKEY(nullptr, &p, length));
        }
    }
    detail::clearOpenSSLErrors();
    if (key && !consumedAll() && p != keyData.bytes()) key.reset();
    int wantedId = isRSA ? EVP_PKEY_RSA : EVP_PKEY_EC;
    if (!key || EVP_PKEY_get_base_id(key.get()) != wantedId || (isPrivate && !hasPrivatePart(key.get()))) {
        failWith(error, errSecDecode, "The key data could not be decoded.");
        return nullptr;
    }
    return detail::makeKey(std::move(key), isPrivate);
}

SecKeyRef SecKeyCreateRandomKey(const Dictionary& parameters, Ref<NSError>* error) {
    std::string type = parameters[kSecAttrKeyType].stringValue();
    const Value& sizeValue = parameters[kSecAttrKeySizeInBits];
    EVP_PKEY* key = nullptr;
    if (type == kSecAttrKeyTypeRSA) {
        long bits = sizeValue.isNil() ? 2048 : sizeValue.integerValue();
        if (bits < 1024 || bits > 8192 || bits % 8 != 0) {
            failWith(error, errSecParam, "Unsupported RSA key size.");
            return nullptr;
        }
        key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<std::size_t>(bits));
    } else if (type == kSecAttrKeyTypeEC) {
        long bits = sizeValue.isNil() ? 256 : sizeValue.integerValue();
        const char* curve = bits == 256 ? "P-256" : bits == 384 ? "P-384" : bits == 521 ? "P-521" : nullptr;
        if (!curve) {
            failWith(error, errSecParam, "Unsupported elliptic-curve key size.");
            return nullptr;
        }
        key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve);
    } else {
        failWith(error, errSecParam, "Unsupported key type.");
        return nullptr;
    }
    detail::clearOpenSSLErrors();
    if (!key) {
        failWith(error, errSecAllocate, "Key generation failed.");
        return nullptr;
    }
    return detail::makeKey(detail::EVPKeyPtr(key), true);
}

namespace detail {

SecKeyRef keyFromPEM(const std::string& pem) {
    if (pem.empty()) return nullptr;
    auto bytes = reinterpret_cast<const unsigned char*>(pem.data());
    if (auto key = decodeKey(bytes, pem.size(), "PEM", EVP_PKEY_KEYPAIR)) {
        bool isPrivate = hasPrivatePart(key.get());
        return makeKey(std::move(key), isPrivate);
    }
    if (auto key = decodeKey(bytes, pem.size(), "PEM", EVP_PKEY_PUBLIC_KEY))
        return makeKey(std::move(key), false);
    return nullptr;
}

SecKeyRef keyFromDER(const NSData& der) {
    if (der.empty()) return nullptr;
    if (auto key = decodeKey(der.bytes(), der.length(), "DER", EVP_PKEY_KEYPAIR)) {
        bool isPrivate = hasPrivatePart(key.get());
        return makeKey(std::move(key), isPrivate);
    }
    if (auto key = decodeKey(der.bytes(), der.length(), "DER", EVP_PKEY_PUBLIC_KEY)) {
        return makeKey(std::move(key), false);
    }
    return nullptr;
}

std::string keyToPEM(const SecKeyRef& key) {
    if (!key) return {};
    BIOPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) return {};
    int ok = key->isPrivate()
                 ? PEM_write_bio_PrivateKey(bio.get(), key->pkey(), nullptr, nullptr, 0, nullptr, nullptr)
                 : PEM_write_bio_PUBKEY(bio.get(), key->pkey());
    clearOpenSSLErrors();
    if (ok != 1) return {};
    char* text = nullptr;
    long length = BIO_get_mem_data(bio.get(), &text);
    return length > 0 && text ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace detail
