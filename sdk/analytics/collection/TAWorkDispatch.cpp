#include "sdk/analytics/collection/TAWorkDispatch.h"

#include <atomic>
#include <mutex>

#include "foundation/NSObject+Perform.h"

namespace {
std::mutex gLock;
Ref<TAWorkDispatch> gShared;

std::mutex gCoreLock;
std::function<std::shared_ptr<TallyCoreLink>()> gCoreMaker;
std::atomic<bool> gCoreLinked{false};
}  // namespace

std::shared_ptr<TallyCoreLink> TallyCoreLink::core() {
    std::function<std::shared_ptr<TallyCoreLink>()> maker;
    {
        std::lock_guard<std::mutex> guard(gCoreLock);
        maker = gCoreMaker;
    }
    return maker ? maker() : nullptr;
}

bool TallyCoreLink::linked() {
    return gCoreLinked.load(std::memory_order_acquire);
}

void TallyCoreLink::setCoreMaker(std::function<std::shared_ptr<TallyCoreLink>()> maker) {
    std::lock_guard<std::mutex> guard(gCoreLock);
    gCoreLinked.store(static_cast<bool>(maker), std::memory_order_release);
    gCoreMaker = std::move(maker);
}

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
    if (auto core = TallyCoreLink::core()) core->workEvent(event);
}

void TAWorkDispatch::resetForTesting() {
    {
        std::lock_guard<std::mutex> guard(gLock);
        gShared.reset();
    }
    TallyCoreLink::setCoreMaker(nullptr);
}
