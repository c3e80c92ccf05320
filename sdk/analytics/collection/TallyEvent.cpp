#include "sdk/analytics/collection/TallyEvent.h"

#include "foundation/NSLog.h"
#include "foundation/NSString.h"
#include "sdk/analytics/collection/TANEvents.h"
#include "sdk/analytics/collection/TANUtil.h"
#include "sdk/analytics/collection/TAWorkDispatch.h"
#include "sdk/analytics/collection/TallyInternal.h"

namespace {

constexpr std::int64_t kMaxDuration = 7200000;
constexpr std::size_t kMaxEventIdBytes = 128;

bool notEmpty(const std::optional<std::string>& s) {
    return s && !s->empty();
}

// The attributes with "__ct__" (when present) first, then the others in order, 10 of them.
Dictionary limitAttributes(const Dictionary& attributes, bool keepCounter) {
    bool hasCounter = keepCounter && attributes.containsKey("__ct__");
    std::size_t limit = hasCounter ? 11 : 10;
    if (attributes.count() <= limit) return attributes;
    Dictionary out = Dictionary::mutableDictionary();
    if (hasCounter) out.setObject("__ct__", attributes.objectForKey("__ct__"));
    std::size_t taken = 0;
    for (const auto& [key, value] : attributes) {
        if (taken >= 10) break;
        if (hasCounter && key == "__ct__") continue;
        out.setObject(key, value);
        ++taken;
    }
    return out;
}

// Every item reaches the core through the dispatcher, which finds it through the link.
void send(const Value& object, int type) {
    TallyInternal::link();
    TAWorkDispatch::sendEvent(object, type);
}

}  // namespace

bool TallyEvent::validEventID(const std::optional<std::string>& eventId) {
    if (TANUtil::isEmptyString(eventId)) return false;
    if (eventId->size() > kMaxEventIdBytes) {
        NSLog("TALOG: (Warning) event_id (%@) max bytes length > %d", *eventId,
              static_cast<int>(kMaxEventIdBytes));
        return false;
    }
    return true;
}

void TallyEvent::eventJob(const std::optional<std::string>& eventId, const std::optional<std::string>& label,
                          std::int64_t acc, std::int64_t du) {
    if (!validEventID(eventId)) return;
    auto event = make<TANEvent>();
    event->event_id = eventId;
    if (notEmpty(label)) event->label = label;
    event->acc = acc;
    event->du = du;
    if (du < kMaxDuration) send(Value(event), 2);
}

void TallyEvent::event(const std::optional<std::string>& eventId) {
    eventJob(eventId, std::nullopt, 1, 0);
}

void TallyEvent::event(const std::optional<std::string>& eventId, const std::optional<std::string>& label) {
    eventJob(eventId, label, 1, 0);
}

void TallyEvent::event(const std::optional<std::string>& eventId, std::int64_t acc) {
    eventJob(eventId, std::nullopt, acc, 0);
}

void TallyEvent::event(const std::optional<std::string>& eventId, const std::optional<std::string>& label,
                       std::int64_t acc) {
    eventJob(eventId, label, acc, 0);
}

void TallyEvent::eventDurations(const std::optional<std::string>& eventId, int milliseconds) {
    eventJob(eventId, std::nullopt, 1, milliseconds);
}

void TallyEvent::eventDurations(const std::optional<std::string>& eventId,
                                const std::optional<std::string>& label, int milliseconds) {
    eventJob(eventId, label, 1, milliseconds);
}

void TallyEvent::beginEvent(const std::optional<std::string>& eventId) {
    beginEvent(eventId, std::optional<std::string>());
}

void TallyEvent::endEvent(const std::optional<std::string>& eventId) {
    endEvent(eventId, std::optional<std::string>());
}

void TallyEvent::beginEvent(const std::optional<std::string>& eventId,
                            const std::optional<std::string>& label) {
    if (!validEventID(eventId)) return;
    auto event = make<TANEvent>();
    event->event_id = eventId;
    if (!TANUtil::isEmptyString(label)) event->label = label;
    event->acc = 0;
    send(Value(event), 5);
}

void TallyEvent::endEvent(const std::optional<std::string>& eventId,
                          const std::optional<std::string>& label) {
    if (!validEventID(eventId)) return;
    auto event = make<TANEvent>();
    event->event_id = eventId;
    if (!TANUtil::isEmptyString(label)) event->label = label;
    send(Value(event), 6);
}

void TallyEvent::beginEvent(const std::optional<std::string>& eventId,
                            const std::optional<std::string>& primaryKey,
                            const std::optional<Dictionary>& attributes) {
    if (!validEventID(eventId)) return;
    if (TANUtil::isEmptyString(primaryKey) || !attributes || attributes->empty()) return;
    auto ekv = TANEkv::ekvWithId(eventId, primaryKey, attributes, false);
    send(Value(ekv), 7);
}

void TallyEvent::endEventPrimaryKey(const std::optional<std::string>& eventId,
                                    const std::optional<std::string>& primaryKey) {
    if (!validEventID(eventId)) return;
    auto ekv = TANEkv::ekvWithId(eventId, primaryKey, std::nullopt, false);
    send(Value(ekv), 8);
}

void TallyEvent::event(const std::optional<std::string>& eventId,
                       const std::optional<Dictionary>& attributes) {
    event(eventId, attributes, 0);
}

void TallyEvent::event(const std::optional<std::string>& eventId, const std::optional<Dictionary>& attributes,
                       int milliseconds) {
    if (!validEventID(eventId) || !attributes || attributes->empty()) return;
    Dictionary taken = limitAttributes(*attributes, true);
    auto ekv = TANEkv::ekvWithId(eventId, std::nullopt, taken, false);
    if (ekv && milliseconds >= 1) ekv->du = milliseconds;
    send(Value(ekv), 4);
}

void TallyEvent::gameEvent(const std::optional<std::string>& eventId,
                           const std::optional<Dictionary>& attributes) {
    gameEvent(eventId, attributes, 0);
}

void TallyEvent::gameEvent(const std::optional<std::string>& eventId,
                           const std::optional<Dictionary>& attributes, int milliseconds) {
    if (!validEventID(eventId) || !attributes || attributes->empty()) return;
    Dictionary taken = limitAttributes(*attributes, false);
    auto ekv = TANEkv::ekvWithId(eventId, std::nullopt, taken, true);
    if (ekv && milliseconds >= 1) ekv->du = milliseconds;
    send(Value(ekv), 4);
}

void TallyEvent::logPageView(const std::optional<std::string>& pageName, int seconds) {
    if (seconds < 1 || TANUtil::isEmptyString(pageName)) return;
    send(Value(Array{Value(*pageName), Value(seconds)}), 9);
}

void TallyEvent::beginLogPageView(const std::optional<std::string>& pageName) {
    if (TANUtil::isEmptyString(pageName)) return;
    send(Value(*pageName), 10);
}

void TallyEvent::endLogPageView(const std::optional<std::string>& pageName) {
    send(Value(pageName), 11);
}
