#pragma once
// Work items: every recording call of the analytics library ends as a numbered item (type 0 to
// 13 and one payload) handed to the main thread. Items may be posted from any thread; each is
// applied later on the main thread by the core (TallyInternal), in posting order, without the
// poster waiting.
//
//   0 activation           5 timed event begin       10 page begin
//   1 resignation          6 timed event end         11 page end
//   2 counted event        7 timed key-value begin   12 profile sign-in
//   3 error                8 timed key-value end     13 profile sign-off
//   4 key-value event      9 page view with a length

#include <cstdint>

#include "dispatch/Dispatch.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class TADispatchEvent : public NSObject {
  public:
    TADispatchEvent(std::int16_t type, Value object) : eEventType(type), object(std::move(object)) {}
    std::string className() const override { return "TADispatchEvent"; }

    std::int16_t eEventType;
    Value object;
};

class TAWorkDispatch : public NSObject {
  public:
    TAWorkDispatch();
    static Ref<TAWorkDispatch> sharedInstance();
    // The way in, from any thread: the type is narrowed to 16 bits.
    static void sendEvent(const Value& object, int type);

    // Schedules workWithEvent on the main thread without waiting.
    void dispatchEvent(const Ref<TADispatchEvent>& event);
    // On the main thread: hands the item to the core.
    void workWithEvent(const Ref<TADispatchEvent>& event);

    // Labelled "serial.tally.sdk.queue"; nothing runs on it.
    const dispatch_queue_t& workQueue() const { return workQueue_; }
    std::string className() const override { return "TAWorkDispatch"; }

    static void resetForTesting();

  private:
    dispatch_queue_t workQueue_;
};
