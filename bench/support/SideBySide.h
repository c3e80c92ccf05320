#pragma once
// For programs that time our code against a reference in one run: the two take turns so that
// neither always runs first, on a heap or cache the other left behind.

#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

namespace benchsupport {

// benchmark::Initialize with random interleaving of the repetitions, unless the command line
// says otherwise.
inline void initializeInterleaved(int argc, char** argv) {
    static std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    bool told = false;
    for (char* a : args)
        told = told || std::string_view(a).starts_with("--benchmark_enable_random_interleaving");
    if (!told) args.insert(args.begin() + 1, interleave.data());
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
}

// One untimed run of each, the two taking turns at going last from one call to the next (each
// call site keeps its own turn): for a benchmark's Setup, so that no repetition of either is
// always measured on a heap the other shaped.
template <typename Ours, typename Reference>
void settleInTurn(Ours ours, Reference reference) {
    static bool referenceLast = false;
    referenceLast = !referenceLast;
    if (referenceLast) {
        ours();
        reference();
    } else {
        reference();
        ours();
    }
}

}  // namespace benchsupport
