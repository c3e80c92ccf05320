// Known-answer tests of the one-shot digests (RFC 1321 for MD5, FIPS 180 examples for SHA).

#include "security/CommonDigest.h"

#include <gtest/gtest.h>

#include <string>

#include "SecurityTestSupport.h"

namespace {

using Digest = unsigned char* (*)(const void*, CC_LONG, unsigned char*);

std::string hexDigest(Digest function, int length, const std::string& input) {
    unsigned char out[64] = {};
    unsigned char* returned = function(input.data(), static_cast<CC_LONG>(input.size()), out);
    EXPECT_EQ(returned, out);
    return sectest::toHex(out, static_cast<std::size_t>(length));
}

TEST(CommonDigest, MD5MatchesTheReferenceSuite) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(hexDigest(CC_MD5, CC_MD5_DIGEST_LENGTH, input), expected) << '"' << input << '"';
    }
}

TEST(CommonDigest, SHA1MatchesTheStandardExamples) {
    EXPECT_EQ(hexDigest(CC_SHA1, CC_SHA1_DIGEST_LENGTH, ""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(hexDigest(CC_SHA1, CC_SHA1_DIGEST_LENGTH, "abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(
        hexDigest(CC_SHA1, CC_SHA1_DIGEST_LENGTH, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
        "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(hexDigest(CC_SHA1, CC_SHA1_DIGEST_LENGTH, std::string(1000000, 'a')),
              "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(CommonDigest, SHA2FamilyMatchesTheStandardExamples) {
    EXPECT_EQ(hexDigest(CC_SHA256, CC_SHA256_DIGEST_LENGTH, "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hexDigest(CC_SHA256, CC_SHA256_DIGEST_LENGTH, ""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hexDigest(CC_SHA256, CC_SHA256_DIGEST_LENGTH,
                        "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(hexDigest(CC_SHA224, CC_SHA224_DIGEST_LENGTH, "abc"),
              "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7");
    EXPECT_EQ(
        hexDigest(CC_SHA384, CC_SHA384_DIGEST_LENGTH, "abc"),
        "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7");
    EXPECT_EQ(hexDigest(CC_SHA512, CC_SHA512_DIGEST_LENGTH, "abc"),
              "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
              "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
}

TEST(CommonDigest, WritesExactlyTheDigestLength) {
    unsigned char out[CC_MD5_DIGEST_LENGTH + 4];
    std::fill(std::begin(out), std::end(out), 0xEE);
    CC_MD5("abc", 3, out);
    for (int i = CC_MD5_DIGEST_LENGTH; i < CC_MD5_DIGEST_LENGTH + 4; ++i) EXPECT_EQ(out[i], 0xEE);
}

TEST(CommonDigest, DigestsBytesNotText) {
    // Embedded zero bytes and high bytes take part like any other.
    const std::string withZero("a\0b\xff", 4);
    EXPECT_NE(hexDigest(CC_MD5, CC_MD5_DIGEST_LENGTH, withZero),
              hexDigest(CC_MD5, CC_MD5_DIGEST_LENGTH, "a"));
    EXPECT_EQ(hexDigest(CC_MD5, CC_MD5_DIGEST_LENGTH, withZero),
              hexDigest(CC_MD5, CC_MD5_DIGEST_LENGTH, withZero));
}

TEST(CommonDigest, NullDataOfZeroLengthIsTheEmptyMessage) {
    unsigned char out[CC_MD5_DIGEST_LENGTH];
    ASSERT_EQ(CC_MD5(nullptr, 0, out), out);
    EXPECT_EQ(sectest::toHex(out, sizeof out), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(CommonDigest, MissingBuffersAreRefused) {
    unsigned char out[CC_SHA1_DIGEST_LENGTH];
    EXPECT_EQ(CC_SHA1("abc", 3, nullptr), nullptr);
    EXPECT_EQ(CC_SHA1(nullptr, 3, out), nullptr);
    EXPECT_EQ(CC_MD5(nullptr, 1, out), nullptr);
}

}  // namespace
