#pragma once
// Shared by the fuzz targets: the libFuzzer entry points and a check that stops the run on an
// inconsistent result (a reader that says it succeeded while its output contradicts itself).
//
// A failed check aborts, so libFuzzer keeps the input as a crash and the standalone driver
// writes it next to the run; both print the reason first.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/NSData.h"
#include "foundation/NSLog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n", __FILE__, __LINE__, #condition);        \
            std::fflush(stderr);                                                                             \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

namespace fuzz {

// Readers log what they refuse; at thousands of inputs a second that would drown the output.
inline void silenceLog() {
    NSLogSetSink([](const std::string&) {});
}

}  // namespace fuzz
