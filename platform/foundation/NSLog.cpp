#include "foundation/NSLog.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "foundation/NSException.h"

namespace {
std::mutex& sinkLock() {
    static std::mutex m;
    return m;
}
NSLogSink& sink() {
    static NSLogSink s;
    return s;
}
}  // namespace

NSLogSink NSLogSetSink(NSLogSink newSink) {
    std::lock_guard guard(sinkLock());
    auto old = std::move(sink());
    sink() = std::move(newSink);
    return old;
}

void NSLogLine(const std::string& line) {
    NSLogSink current;
    {
        std::lock_guard guard(sinkLock());
        current = sink();
    }
    if (current) {
        current(line);
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

void detail::assertionFailed(const char* condition, const std::string& message, const char* file, int line) {
    NSLogLine(std::string("*** Assertion failure (") + condition + ") at " + file + ":" +
              std::to_string(line) + ": " + message);
#ifndef NDEBUG
    std::abort();
#endif
}
