#pragma once
// The process's one source of random numbers.
//
// arc4random, arc4random_uniform and arc4random_buf draw from a single ChaCha20 keystream shared
// by every thread (a lock guards it). The stream is keyed from the kernel (getrandom) on first
// use. A test can key it from a 64-bit seed instead (foundation_testing::seedRandom), after which
// every draw in the process follows a fixed sequence; reseeding from the kernel returns to
// unpredictable numbers. A forked child rekeys itself (unless seeded for a test), so it never
// repeats its parent's numbers.
//
// The C library declares the same three functions; these definitions replace them for the
// program, with the same C signatures, so code written against either sees one source.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" {
std::uint32_t arc4random(void) noexcept;
// A number in [0, upperBound), without modulo bias; 0 when upperBound is below 2.
std::uint32_t arc4random_uniform(std::uint32_t upperBound) noexcept;
void arc4random_buf(void* buffer, std::size_t length) noexcept;
}

// Keys the shared source from the kernel again.
void NSRandomReseedFromSystem();
