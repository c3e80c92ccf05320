// AES through CCCrypt: the NIST SP 800-38A examples, padding, buffer rules and bad input.

#include "security/CommonCrypto.h"

#include <gtest/gtest.h>

#include <vector>

#include "SecurityTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using sectest::fromHex;
using sectest::toHex;
using Bytes = std::vector<std::uint8_t>;

const Bytes kKey128 = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
const Bytes kKey256 = fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const Bytes kIV = fromHex("000102030405060708090a0b0c0d0e0f");
const Bytes kPlain = fromHex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                             "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");

struct Outcome {
    CCCryptorStatus status;
    Bytes bytes;
    std::size_t moved;
};

Outcome crypt(CCOperation op, CCOptions options, const Bytes& key, const Bytes* iv, const Bytes& input,
              std::size_t room) {
    Bytes out(room);
    std::size_t moved = 12345;
    CCCryptorStatus status =
        CCCrypt(op, kCCAlgorithmAES128, options, key.data(), key.size(), iv ? iv->data() : nullptr,
                input.data(), input.size(), out.data(), out.size(), &moved);
    if (status == kCCSuccess) out.resize(moved);
    return {status, out, moved};
}

TEST(CCCrypt, AES128CBCMatchesTheStandardExample) {
    auto out = crypt(kCCEncrypt, 0, kKey128, &kIV, kPlain, kPlain.size());
    ASSERT_EQ(out.status, kCCSuccess);
    EXPECT_EQ(toHex(out.bytes), "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                                "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
    auto back = crypt(kCCDecrypt, 0, kKey128, &kIV, out.bytes, out.bytes.size());
    ASSERT_EQ(back.status, kCCSuccess);
    EXPECT_EQ(back.bytes, kPlain);
}

TEST(CCCrypt, AES128ECBMatchesTheStandardExample) {
    auto out = crypt(kCCEncrypt, kCCOptionECBMode, kKey128, nullptr, kPlain, kPlain.size());
    ASSERT_EQ(out.status, kCCSuccess);
    EXPECT_EQ(toHex(out.bytes), "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
                                "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4");
}

TEST(CCCrypt, AES256CBCIsChosenByKeyLength) {
    auto out = crypt(kCCEncrypt, 0, kKey256, &kIV, kPlain, kPlain.size());
    ASSERT_EQ(out.status, kCCSuccess);
    EXPECT_EQ(toHex(out.bytes), "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
                                "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b");
}

TEST(CCCrypt, PaddingAlwaysAddsUpToOneBlock) {
    for (std::size_t length : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 100u}) {
        Bytes input(length, 0x5A);
        auto out = crypt(kCCEncrypt, kCCOptionPKCS7Padding, kKey128, &kIV, input, length + 16);
        ASSERT_EQ(out.status, kCCSuccess) << length;
        EXPECT_EQ(out.bytes.size(), (length / 16 + 1) * 16) << length;
        auto back = crypt(kCCDecrypt, kCCOptionPKCS7Padding, kKey128, &kIV, out.bytes, out.bytes.size());
        ASSERT_EQ(back.status, kCCSuccess) << length;
        EXPECT_EQ(back.bytes, input) << length;
    }
}

TEST(CCCrypt, PaddedCipherTextOfWholeBlocksKeepsTheStandardPrefix) {
    auto out = crypt(kCCEncrypt, kCCOptionPKCS7Padding, kKey128, &kIV, kPlain, kPlain.size() + 16);
    ASSERT_EQ(out.status, kCCSuccess);
    ASSERT_EQ(out.bytes.size(), 80u);
    EXPECT_EQ(toHex(out.bytes).substr(0, 128),
              "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
              "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
}

TEST(CCCrypt, ReportTheRoomNeededWhenTheOutputIsTooSmall) {
    Bytes input(20, 1);
    auto out = crypt(kCCEncrypt, kCCOptionPKCS7Padding, kKey128, &kIV, input, 31);
    EXPECT_EQ(out.status, kCCBufferTooSmall);
    EXPECT_EQ(out.moved, 32u);

    std::size_t moved = 0;
    EXPECT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, kKey128.data(), 16, kIV.data(),
                      input.data(), input.size(), nullptr, 0, &moved),
              kCCBufferTooSmall);
    EXPECT_EQ(moved, 32u);
}

TEST(CCCrypt, MissingIVMeansZeros) {
    Bytes zeros(16, 0);
    auto withZeros = crypt(kCCEncrypt, kCCOptionPKCS7Padding, kKey128, &zeros, kPlain, 80);
    auto withNone = crypt(kCCEncrypt, kCCOptionPKCS7Padding, kKey128, nullptr, kPlain, 80);
    ASSERT_EQ(withNone.status, kCCSuccess);
    EXPECT_EQ(withZeros.bytes, withNone.bytes);
}

TEST(CCCrypt, WorksInPlace) {
    Bytes buffer = kPlain;
    buffer.resize(kPlain.size() + 16);
    std::size_t moved = 0;
    ASSERT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, kKey128.data(), 16, kIV.data(),
                      buffer.data(), kPlain.size(), buffer.data(), buffer.size(), &moved),
              kCCSuccess);
    ASSERT_EQ(moved, 80u);
    ASSERT_EQ(CCCrypt(kCCDecrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, kKey128.data(), 16, kIV.data(),
                      buffer.data(), moved, buffer.data(), buffer.size(), &moved),
              kCCSuccess);
    buffer.resize(moved);
    EXPECT_EQ(buffer, kPlain);
}

TEST(CCCrypt, TheAnalyticsEnvelopeSetting) {
    // AES-128-CBC with PKCS#7 padding, a fixed IV, and room of the input length + 16.
    const Bytes iv = fromHex("3e910c57a26b14d829f07a05c348b61d");
    Bytes key(16);
    for (int i = 0; i < 16; ++i) key[i] = static_cast<std::uint8_t>(i * 7 + 1);
    Bytes report(1000);
    for (std::size_t i = 0; i < report.size(); ++i) report[i] = static_cast<std::uint8_t>(i * 31);
    auto sealed = crypt(kCCEncrypt, kCCOptionPKCS7Padding, key, &iv, report, report.size() + 16);
    ASSERT_EQ(sealed.status, kCCSuccess);
    EXPECT_EQ(sealed.bytes.size(), 1008u);
    auto opened = crypt(kCCDecrypt, kCCOptionPKCS7Padding, key, &iv, sealed.bytes, sealed.bytes.size() + 16);
    ASSERT_EQ(opened.status, kCCSuccess);
    EXPECT_EQ(opened.bytes, report);
}

TEST(CCCrypt, UnalignedInputWithoutPaddingIsRefused) {
    Bytes input(17, 1);
    EXPECT_EQ(crypt(kCCEncrypt, 0, kKey128, &kIV, input, 64).status, kCCAlignmentError);
    EXPECT_EQ(crypt(kCCDecrypt, 0, kKey128, &kIV, input, 64).status, kCCAlignmentError);
    EXPECT_EQ(crypt(kCCDecrypt, kCCOptionPKCS7Padding, kKey128, &kIV, input, 64).status, kCCAlignmentError);
}

TEST(CCCrypt, WrongKeyOrDamagedPaddingGivesDecodeError) {
    auto sealed = crypt(kCCEncrypt, kCCOptionPKCS7Padding, kKey128, &kIV, Bytes(5, 9), 32);
    ASSERT_EQ(sealed.status, kCCSuccess);
    Bytes otherKey = kKey128;
    otherKey[0] ^= 1;
    EXPECT_EQ(crypt(kCCDecrypt, kCCOptionPKCS7Padding, otherKey, &kIV, sealed.bytes, 32).status,
              kCCDecodeError);
    // The last byte of the plaintext block becomes 0x00 after flipping the IV-side bits in the
    // previous block: for a single block the IV plays that role.
    Bytes iv = kIV;
    iv[15] ^= 0x0B ^ 0x00;  // padding byte 0x0B becomes 0x00
    EXPECT_EQ(crypt(kCCDecrypt, kCCOptionPKCS7Padding, kKey128, &iv, sealed.bytes, 32).status,
              kCCDecodeError);
    EXPECT_EQ(crypt(kCCDecrypt, kCCOptionPKCS7Padding, kKey128, &kIV, Bytes(), 32).status, kCCDecodeError);
}

TEST(CCCrypt, BadParametersAreRefused) {
    Bytes input(16, 1);
    Bytes out(32);
    std::size_t moved = 0;
    for (std::size_t keyLength : {0u, 8u, 15u, 17u, 64u}) {
        EXPECT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, 0, kKey256.data(), keyLength, nullptr, input.data(),
                          input.size(), out.data(), out.size(), &moved),
                  kCCParamError)
            << keyLength;
    }
    EXPECT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, 0, nullptr, 16, nullptr, input.data(), 16, out.data(), 32,
                      &moved),
              kCCParamError);
    EXPECT_EQ(
        CCCrypt(7, kCCAlgorithmAES, 0, kKey128.data(), 16, nullptr, input.data(), 16, out.data(), 32, &moved),
        kCCParamError);
    EXPECT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, 0x80, kKey128.data(), 16, nullptr, input.data(), 16,
                      out.data(), 32, &moved),
              kCCParamError);
    EXPECT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, 0, kKey128.data(), 16, nullptr, nullptr, 16, out.data(),
                      32, &moved),
              kCCParamError);
    EXPECT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmDES, 0, kKey128.data(), 8, nullptr, input.data(), 16,
                      out.data(), 32, &moved),
              kCCUnimplemented);
    EXPECT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmRC4, 0, kKey128.data(), 16, nullptr, input.data(), 16,
                      out.data(), 32, &moved),
              kCCUnimplemented);
    // A null moved-count slot is allowed.
    EXPECT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, 0, kKey128.data(), 16, nullptr, input.data(), 16,
                      out.data(), 32, nullptr),
              kCCSuccess);
}

TEST(CCCrypt, HostileCipherTextNeverCrashes) {
    auto sealed = crypt(kCCEncrypt, kCCOptionPKCS7Padding, kKey128, &kIV, kPlain, 80);
    ASSERT_EQ(sealed.status, kCCSuccess);
    std::string original(sealed.bytes.begin(), sealed.bytes.end());
    for (unsigned seed = 0; seed < 2000; ++seed) {
        std::string mutated = testsupport::mutate(original, seed);
        Bytes input(mutated.begin(), mutated.end());
        auto out = crypt(kCCDecrypt, kCCOptionPKCS7Padding, kKey128, &kIV, input, input.size() + 16);
        ASSERT_TRUE(out.status == kCCSuccess || out.status == kCCDecodeError ||
                    out.status == kCCAlignmentError)
            << out.status;
        if (out.status == kCCSuccess) {
            EXPECT_LE(out.bytes.size(), input.size());
        }
    }
}

}  // namespace
