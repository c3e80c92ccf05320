#include "gpu/core/GPXAssert.h"

#include <cstdlib>
#include <mutex>

#include "foundation/NSLog.h"

namespace detail {
namespace {
std::mutex& handlerMutex() {
    static std::mutex mutex;
    return mutex;
}
GPXAssertionHandler& handlerSlot() {
    static GPXAssertionHandler handler;
    return handler;
}
}  // namespace

GPXAssertionHandler setGPXAssertionHandler(GPXAssertionHandler handler) {
    std::lock_guard lock(handlerMutex());
    std::swap(handlerSlot(), handler);
    return handler;
}

void gpxAssertionFailure(const std::string& message) {
    GPXAssertionHandler handler;
    {
        std::lock_guard lock(handlerMutex());
        handler = handlerSlot();
    }
    if (handler) {
        handler(message);
        return;
    }
    NSLogLine("*** Assertion failure: " + message);
#ifndef NDEBUG
    std::abort();
#endif
}
}  // namespace detail
