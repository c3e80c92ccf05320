#pragma once
// How tests drive the foundation layer: a fresh start for the per-process state (sandbox root,
// main bundle) and a fixed sequence of random numbers. Nothing here is part of the product;
// product code never calls it.

#include <cstdint>

namespace foundation_testing {

// Forgets the sandbox root, so that the next NSSandbox::root() chooses again from the
// environment; removes a per-process folder made earlier. For tests of the default choice.
void resetSandbox();
// Forgets the main bundle, its path and info values, the shared bundles and the languages.
void resetBundles();
// Keys the process's shared random source from a seed: the same seed gives the same numbers, and
// a forked child keeps the sequence. NSRandomReseedFromSystem returns to unpredictable numbers.
void seedRandom(std::uint64_t seed);

}  // namespace foundation_testing
