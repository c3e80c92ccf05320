#pragma once
// Cryptographically strong random bytes from the system's generator.

#include <cstddef>

struct SecRandomSource;
using SecRandomRef = const SecRandomSource*;
inline constexpr SecRandomRef kSecRandomDefault = nullptr;

// Fills `bytes` with `count` random bytes: 0 on success, -1 when the generator fails (or there
// is nowhere to write a non-zero count).
int SecRandomCopyBytes(SecRandomRef rnd, std::size_t count, void* bytes);
