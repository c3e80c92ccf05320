#include "sdk/analytics/collection/TAWorkDispatch.h"

#include <mutex>

#include "foundation/NSObject+Perform.h"
#include "sdk/analytics/collection/TallyInternal.h"

namespace {
std::mutex gLock;
Ref<TAWorkDispatch> gShared;
}  // namespace

TAWorkDispatch::TAWorkDispatch() : workQueue_(dispatch_queue_create("serial.tally.sdk.queue")) {}

Ref<TAWorkDispatch> TAWorkDispatch::sharedInstance() {
    std::lock_guard<std::mutex> guard(gLock);
    if (!gShared) gShared = make<TAWorkDispatch>();
    return gShared;
}

void TAWorkDispatch::sendEvent(const Value& object, int type) {
    auto event = make<TADispatchEvent>(static_cast<std::int16_t>(type), object);
    auto dispatcher = sharedInstance();
    // Handing over under the dispatcher's lock keeps items from concurrent posters in one order.
    Synchronized guard(*dispatcher);
    dispatcher->dispatchEvent(event);
}

void TAWorkDispatch::dispatchEvent(const Ref<TADispatchEvent>& event) {
    Ref<TAWorkDispatch> self = selfAs<TAWorkDispatch>();
    performSelectorOnMainThread(
        self, [self, event] { self->workWithEvent(event); }, false);
}

void TAWorkDispatch::workWithEvent(const Ref<TADispatchEvent>& event) {
    TallyInternal::sharedInstance()->workEvent(event);
}

void TAWorkDispatch::resetForTesting() {
    std::lock_guard<std::mutex> guard(gLock);
    gShared.reset();
}
