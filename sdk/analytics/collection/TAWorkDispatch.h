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
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/Dispatch.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "sdk/analytics/collection/TANEvents.h"

class TADispatchEvent : public NSObject {
  public:
    TADispatchEvent(std::int16_t type, Value object) : eEventType(type), object(std::move(object)) {}
    std::string className() const override { return "TADispatchEvent"; }

    std::int16_t eEventType;
    Value object;
};

using TallyContainer = std::vector<Ref<TANBaseEvent>>;

// What the parts below the core (sessions, scheduling, report assembly, this dispatcher) need from
// it. The core sits on top of them and implements this; they reach it only through here, so no
// part of the library depends on one above it. The link is made explicitly: every entry of the
// public interface installs the core's maker (TallyInternal::link) before it reaches a part below
// the core, so an item recorded through it always finds the core.
class TallyCoreLink {
  public:
    virtual ~TallyCoreLink() = default;
    // The core, made on first use by the installed maker; nullptr while none is installed.
    static std::shared_ptr<TallyCoreLink> core();
    static bool linked();
    // An empty maker unlinks (a test then starts as a new process would).
    static void setCoreMaker(std::function<std::shared_ptr<TallyCoreLink>()> maker);

    virtual void workEvent(const Ref<TADispatchEvent>& event) = 0;
    virtual void setSessionID(const std::string& id) = 0;
    virtual void stopSession(double duration) = 0;
    virtual void saveAndCleanCache() = 0;
    virtual bool hasJob() const = 0;
    virtual void generateEnvelopeFile() = 0;
    virtual void beginPerformJob() = 0;
    virtual TallyContainer& terminates() = 0;
    virtual TallyContainer& events() = 0;
    virtual TallyContainer& errors() = 0;
    virtual TallyContainer& ekv() = 0;
    virtual void removeCacheData() = 0;
    virtual void removeSessions() = 0;
    virtual void removeInstanceMsgs() = 0;
    virtual void buildDummySession() = 0;
    virtual std::optional<std::string> wrapperType() const = 0;
    virtual std::optional<std::string> wrapperVersion() const = 0;
    // The session or its start changed: the crash note's head is formatted again.
    virtual void prepareCrashNote() = 0;
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

    // Forgets the dispatcher and unlinks the core.
    static void resetForTesting();

  private:
    dispatch_queue_t workQueue_;
};
