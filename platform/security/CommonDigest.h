#pragma once
// One-shot message digests with the platform's signatures: each takes the data, its length and a
// buffer of the digest's length, fills the buffer and returns it (nullptr when there is no
// buffer, or no data but a non-zero length).

#include <cstdint>

using CC_LONG = std::uint32_t;

inline constexpr int CC_MD5_DIGEST_LENGTH = 16;
inline constexpr int CC_SHA1_DIGEST_LENGTH = 20;
inline constexpr int CC_SHA224_DIGEST_LENGTH = 28;
inline constexpr int CC_SHA256_DIGEST_LENGTH = 32;
inline constexpr int CC_SHA384_DIGEST_LENGTH = 48;
inline constexpr int CC_SHA512_DIGEST_LENGTH = 64;

unsigned char* CC_MD5(const void* data, CC_LONG len, unsigned char* md);
unsigned char* CC_SHA1(const void* data, CC_LONG len, unsigned char* md);
unsigned char* CC_SHA224(const void* data, CC_LONG len, unsigned char* md);
unsigned char* CC_SHA256(const void* data, CC_LONG len, unsigned char* md);
unsigned char* CC_SHA384(const void* data, CC_LONG len, unsigned char* md);
unsigned char* CC_SHA512(const void* data, CC_LONG len, unsigned char* md);
