#pragma once
// What every remote-image load hands back: a handle whose only operation is cancel. Cancelling
// a handle stops the caller from hearing of the load again; it is safe from the main thread at
// any time, also after the load finished.
//
// Also the error domain of the remote-image library and the one "on the main thread" rule the
// library uses everywhere: run directly when already on the main thread, else wait for the main
// queue to run it, so that the step after it sees its effects.

#include <functional>

#include "foundation/NSError.h"
#include "foundation/NSObject.h"

inline constexpr char WIWebImageErrorDomain[] = "WIWebImageErrorDomain";

class WIWebImageOperation {
  public:
    virtual ~WIWebImageOperation() = default;
    virtual void cancel() = 0;
};

namespace detail {
// Runs block on the main thread and returns once it has run.
void wiRunOnMainThreadSync(const std::function<void()>& block);
// Runs block directly on the main thread, else queues it on the main queue and returns.
void wiRunOnMainThreadAsync(std::function<void()> block);
// What a view load of a nil URL answers: WIWebImageErrorDomain -1, "Trying to load a nil url".
Ref<NSError> wiNilURLError();
}  // namespace detail
