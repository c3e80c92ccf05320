#include "security/CommonCrypto.h"

#include "security/OpenSSLSupport.h"
#include "security/SecurityTesting.h"
#include <atomic>
#include <climits>

namespace {

// Failures a test asked for (security_testing): how many calls still fail, and with what.
std::atomic<int> injectedFailures{0};
std::atomic<CCCryptorStatus> injectedStatus{kCCSuccess};

bool takeInjectedFailure() {
    int left = injectedFailures.load();
    while (left > 0 && !injectedFailures.compare_exchange_weak(left, left - 1)) {
    }
    return left > 0;
}

const EVP_CIPHER* aesCipher(std::size_t keyLength, bool ecb) {
    switch (keyLength) {
        case kCCKeySizeAES128:
            return ecb ? EVP_aes_128_ecb() : EVP_aes_128_cbc();
        case kCCKeySizeAES192:
            return ecb ? EVP_aes_192_ecb() : EVP_aes_192_cbc();
        case kCCKeySizeAES256:
            return ecb ? EVP_aes_256_ecb() : EVP_aes_256_cbc();
        default:
            return nullptr;
    }
}

}  // namespace

CCCryptorStatus CCCrypt(CCOperation op, CCAlgorithm alg, CCOptions options, const void* key,
                        std::size_t keyLength, const void* iv, const void* dataIn, std::size_t dataInLength,
                        void* dataOut, std::size_t dataOutAvailable, std::size_t* dataOutMoved) {
    if (dataOutMoved) *dataOutMoved = 0;
    if (takeInjectedFailure()) return injectedStatus.load();
    if (op != kCCEncrypt && op != kCCDecrypt) return kCCParamError;
    if (alg != kCCAlgorithmAES) return kCCUnimplemented;
    if ((options & ~(kCCOptionPKCS7Padding | kCCOptionECBMode)) != 0) return kCCParamError;
    const bool padding = options & kCCOptionPKCS7Padding;
    const bool ecb = options & kCCOptionECBMode;
    const EVP_CIPHER* cipher = aesCipher(keyLength, ecb);
    if (!cipher || !key) return kCCParamError;
    if (!dataIn && dataInLength > 0) return kCCParamError;
    if (dataInLength > static_cast<std::size_t>(INT_MAX) - kCCBlockSizeAES128) return kCCParamError;

    const std::size_t block = kCCBlockSizeAES128;
    const bool encrypt = op == kCCEncrypt;
    std::size_t needed;
    if (encrypt && padding) {
        needed = (dataInLength / block + 1) * block;
    } else {
        if (dataInLength % block != 0) return kCCAlignmentError;
        needed = dataInLength;
    }
    if (!encrypt && padding && dataInLength == 0) return kCCDecodeError;
    if (!dataOut || dataOutAvailable < needed) {
        if (dataOutMoved) *dataOutMoved = needed;
        return needed == 0 && dataOut ? kCCSuccess : kCCBufferTooSmall;
    }

    static const unsigned char kZeroIV[16] = {};
    detail::EVPCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return kCCMemoryFailure;
    const auto* ivBytes = static_cast<const unsigned char*>(iv ? iv : kZeroIV);
    if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, static_cast<const unsigned char*>(key),
                          ecb ? nullptr : ivBytes, encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0) != 1) {
        detail::clearOpenSSLErrors();
        return kCCParamError;
    }

    // Decryption writes at most the input length, encryption exactly `needed`: the room checked
    // above is enough for both steps.
    auto* out = static_cast<unsigned char*>(dataOut);
    int written = 0;
    int finalWritten = 0;
    static const unsigned char kEmpty = 0;
    const auto* in = static_cast<const unsigned char*>(dataIn ? dataIn : &kEmpty);
    if (EVP_CipherUpdate(ctx.get(), out, &written, in, static_cast<int>(dataInLength)) != 1) {
        detail::clearOpenSSLErrors();
        return kCCParamError;
    }
    if (EVP_CipherFinal_ex(ctx.get(), out + written, &finalWritten) != 1) {
        detail::clearOpenSSLErrors();
        return encrypt ? kCCAlignmentError : kCCDecodeError;
    }
    if (dataOutMoved) *dataOutMoved = static_cast<std::size_t>(written + finalWritten);
    return kCCSuccess;
}

namespace security_testing {

void injectCryptorStatus(CCCryptorStatus status, int count) {
    injectedStatus = status;
    injectedFailures = count;
}

void clearInjectedCryptorStatus() {
    injectedFailures = 0;
}

}  // namespace security_testing
