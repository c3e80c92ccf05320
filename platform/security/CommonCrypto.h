#pragma once
// Symmetric encryption in one call, with the platform's signature and status codes.
//
// AES only (kCCAlgorithmAES128 = kCCAlgorithmAES): the key length picks AES-128, -192 or -256;
// CBC mode with the given IV (none: zeros) unless kCCOptionECBMode; kCCOptionPKCS7Padding pads
// on encryption and checks and strips the padding on decryption. The output room must hold the
// whole result (on encryption with padding the input rounded up to the next whole block, always
// adding one; otherwise the input length): when it does not, kCCBufferTooSmall and
// `dataOutMoved` says how much is needed. Input and output may be the same buffer.
//
// Statuses: kCCParamError for a bad key length, missing key or data, or an unknown operation;
// kCCAlignmentError for input that is not whole blocks where it must be; kCCDecodeError when
// the padding does not check out; kCCUnimplemented for the other algorithms.

#include <cstddef>
#include <cstdint>

using CCCryptorStatus = std::int32_t;
enum : CCCryptorStatus {
    kCCSuccess = 0,
    kCCParamError = -4300,
    kCCBufferTooSmall = -4301,
    kCCMemoryFailure = -4302,
    kCCAlignmentError = -4303,
    kCCDecodeError = -4304,
    kCCUnimplemented = -4305,
};

using CCOperation = std::uint32_t;
enum : CCOperation { kCCEncrypt = 0, kCCDecrypt = 1 };

using CCAlgorithm = std::uint32_t;
enum : CCAlgorithm {
    kCCAlgorithmAES128 = 0,
    kCCAlgorithmAES = 0,
    kCCAlgorithmDES = 1,
    kCCAlgorithm3DES = 2,
    kCCAlgorithmCAST = 3,
    kCCAlgorithmRC4 = 4,
    kCCAlgorithmRC2 = 5,
    kCCAlgorithmBlowfish = 6,
};

using CCOptions = std::uint32_t;
enum : CCOptions { kCCOptionPKCS7Padding = 0x0001, kCCOptionECBMode = 0x0002 };

enum : std::size_t {
    kCCKeySizeAES128 = 16,
    kCCKeySizeAES192 = 24,
    kCCKeySizeAES256 = 32,
    kCCBlockSizeAES128 = 16,
};

CCCryptorStatus CCCrypt(CCOperation op, CCAlgorithm alg, CCOptions options, const void* key,
                        std::size_t keyLength, const void* iv, const void* dataIn, std::size_t dataInLength,
                        void* dataOut, std::size_t dataOutAvailable, std::size_t* dataOutMoved);
