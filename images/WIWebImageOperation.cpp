#include "images/WIWebImageOperation.h"

#include "dispatch/Dispatch.h"
#include "foundation/NSThread.h"

namespace detail {

void wiRunOnMainThreadSync(const std::function<void()>& block) {
    if (!block) return;
    if (NSThread::isMainThread()) {
        block();
    } else {
        dispatch_sync(dispatch_get_main_queue(), block);
    }
}

void wiRunOnMainThreadAsync(std::function<void()> block) {
    if (!block) return;
    if (NSThread::isMainThread()) {
        block();
    } else {
        dispatch_async(dispatch_get_main_queue(), std::move(block));
    }
}

Ref<NSError> wiNilURLError() {
    return NSError::errorWithDomain(WIWebImageErrorDomain, -1,
                                    Dictionary{{NSLocalizedDescriptionKey, "Trying to load a nil url"}});
}

}  // namespace detail
