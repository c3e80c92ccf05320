#include "sdk/analytics/collection/TANEvents.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "foundation/NSDate.h"
#include "foundation/NSLog.h"
#include "foundation/NSString.h"
#include "sdk/analytics/collection/TANUtil.h"

namespace {

const NSCodableClass<TANBaseEvent> kBaseRegistration("TANBaseEvent");
const NSCodableClass<TANEvent> kEventRegistration("TANEvent", "TANBaseEvent");
const NSCodableClass<TANEkv> kEkvRegistration("TANEkv", "TANBaseEvent");
const NSCodableClass<TANError> kErrorRegistration("TANError", "TANBaseEvent");
const NSCodableClass<TANTerminate> kTerminateRegistration("TANTerminate", "TANBaseEvent");

constexpr char kReservedKeyLine[] = "TALOG: (ERROR) 关键字id, ts, du是TallySDK保留字段，不能作为key使用。";
constexpr char kEkvPairLine[] =
    "TALOG: (ERROR) Tally event's keys and values must be string ,key's max length 128 and value's max "
    "length 256";
constexpr char kGkvPairLine[] =
    "TALOG: (ERROR) Tally event's keys and values must be string ,key's max length 64 and value's max length "
    "256";

std::optional<std::string> decodeString(NSCoder& coder, const char* key) {
    return coder.decodeObjectForKey(key).optionalString();
}

bool notEmpty(const std::optional<std::string>& s) {
    return s && !s->empty();
}

double nowSeconds() {
    return NSDate::date().timeIntervalSince1970();
}

// Whole milliseconds since `ts`, held to the range of the field: a begin time from long ago (or a
// stored one that is garbage) pins the duration at the limit instead of wrapping or worse. A span
// that is not a number reads as 0.
template <class Int>
Int millisecondsSince(double ts) {
    const double ms = std::trunc((nowSeconds() - ts) * 1000);
    if (std::isnan(ms)) return 0;
    // The largest double below 2^63 (2^63 itself does not fit in 64 bits).
    constexpr double top = std::numeric_limits<Int>::digits >= 63
                               ? 9223372036854774784.0
                               : static_cast<double>(std::numeric_limits<Int>::max());
    return static_cast<Int>(std::clamp(ms, static_cast<double>(std::numeric_limits<Int>::min()), top));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Base

TANBaseEvent::TANBaseEvent()
    : ts(nowSeconds()), date(TANProtocolData::dateString()), time(TANProtocolData::timeString()) {}

TANBaseEvent::TANBaseEvent(NSCoder& coder) {
    sendingFlag = coder.decodeBoolForKey("self.sendingFlag");
    ts = coder.decodeDoubleForKey("self.ts");
    type = decodeString(coder, "self.type");
    date = decodeString(coder, "self.date");
    time = decodeString(coder, "self.time");
    session_id = decodeString(coder, "self.session_id");
}

void TANBaseEvent::encodeWithCoder(NSCoder& coder) const {
    coder.encodeBool(sendingFlag, "self.sendingFlag");
    coder.encodeDouble(ts, "self.ts");
    coder.encodeObject(Value(type), "self.type");
    coder.encodeObject(Value(date), "self.date");
    coder.encodeObject(Value(time), "self.time");
    coder.encodeObject(Value(session_id), "self.session_id");
}

Dictionary TANBaseEvent::attributes() const {
    Dictionary d = Dictionary::mutableDictionary();
    d.setObject("date", Value(date));
    d.setObject("time", Value(time));
    if (session_id) d.setObject("session_id", *session_id);
    return d;
}

bool TANBaseEvent::isEqual(const NSObject& other) const {
    if (this == &other) return true;
    if (typeid(*this) != typeid(other)) return false;
    return static_cast<const TANBaseEvent&>(other).ts == ts;
}

// ---------------------------------------------------------------------------------------------
// Counted and timed events

TANEvent::TANEvent() {
    type = "event";
}

TANEvent::TANEvent(NSCoder& coder) : TANBaseEvent(coder) {
    event_id = decodeString(coder, "self.event_id");
    label = decodeString(coder, "self.label");
    acc = coder.decodeInt64ForKey("self.acc");
    du = coder.decodeInt64ForKey("self.du");
    Value v = coder.decodeObjectForKey("self.values");
    if (v.isDictionary()) values = v.dictionary()->mutableCopy();
}

void TANEvent::updateDu() {
    du = millisecondsSince<std::int64_t>(ts);
}

void TANEvent::encodeWithCoder(NSCoder& coder) const {
    TANBaseEvent::encodeWithCoder(coder);
    coder.encodeObject(Value(event_id), "self.event_id");
    coder.encodeObject(Value(label), "self.label");
    coder.encodeInt64(acc, "self.acc");
    coder.encodeInt64(du, "self.du");
    coder.encodeObject(values ? Value(*values) : Value(), "self.values");
}

void TANEvent::outputTALog() const {
    if (!analyticsLogEnabled()) return;
    std::string text = NSString::stringWithFormat("session_id=%@, event=%@", session_id, event_id);
    if (notEmpty(label)) text += NSString::stringWithFormat(", label=%@", label);
    if (du >= 1) text += NSString::stringWithFormat(", du=%ld", static_cast<long>(du));
    NSLog("TALOG: event: %@", text);
}

Dictionary TANEvent::attributes() const {
    Dictionary d = TANBaseEvent::attributes();
    if (notEmpty(label)) {
        std::string text = *label;
        if (text.size() > 256) {
            NSLog("(Warning) Tally event label (%@) max bytes length > %d", text, 256);
            text = TANUtil::getString(text, 256);
        }
        d.setObject("label", text);
    }
    if (values && !values->empty()) d.setObject("values", *values);
    if (ts != 0) d.setObject("ts", static_cast<long long>(ts));
    d.setObject("tag", Value(event_id));
    if (acc >= 1) d.setObject("acc", static_cast<long long>(acc));
    if (du >= 1) d.setObject("du", static_cast<long long>(du));
    if (session_id) d.setObject("session_id", *session_id);
    return d;
}

// ---------------------------------------------------------------------------------------------
// Key-value events

TANEkv::TANEkv() {
    type = "ekv";
}

TANEkv::TANEkv(NSCoder& coder) : TANBaseEvent(coder) {
    du = coder.decodeInt32ForKey("self.du");
    id = decodeString(coder, "self.id");
    key = decodeString(coder, "self.key");
    Value v = coder.decodeObjectForKey("self.values");
    if (v.isDictionary()) values = v.dictionary()->mutableCopy();
}

Ref<TANEkv> TANEkv::ekvWithId(const std::optional<std::string>& eventId,
                              const std::optional<std::string>& key,
                              const std::optional<Dictionary>& attributes, bool isGKV) {
    if (attributes) {
        for (const auto& [k, v] : *attributes) {
            if (k == "id" || k == "ts" || k == "du") {
                NSLog("%@", kReservedKeyLine);
                return nullptr;
            }
        }
    }
    auto ekv = make<TANEkv>();
    ekv->id = eventId;
    ekv->key = key;
    ekv->type = isGKV ? "gkv" : "ekv";
    ekv->values = attributes ? ekv->processDictionary(*attributes) : Dictionary::mutableDictionary();
    return ekv;
}

void TANEkv::updateDu() {
    du = millisecondsSince<std::int32_t>(ts);
}

Dictionary TANEkv::processDictionary(const Dictionary& attributes) const {
    Dictionary out = Dictionary::mutableDictionary();
    std::size_t limit = attributes.containsKey("__ct__") ? 11 : 10;
    bool game = type && *type == "gkv";
    for (const auto& [k, v] : attributes) {
        if (out.count() >= limit) break;
        std::string cutKey = k.size() > 128 ? TANUtil::getString(k, 128) : k;
        if (game) {
            if (v.isNil()) {
                NSLog("%@", kGkvPairLine);
                continue;
            }
            out.setObject(cutKey, v);
        } else {
            if (!v.isString()) {
                NSLog("%@", kEkvPairLine);
                continue;
            }
            const std::string& s = *v.string();
            out.setObject(cutKey, s.size() > 256 ? TANUtil::getString(s, 256) : s);
        }
    }
    return out;
}

void TANEkv::encodeWithCoder(NSCoder& coder) const {
    TANBaseEvent::encodeWithCoder(coder);
    coder.encodeInt32(du, "self.du");
    coder.encodeObject(Value(id), "self.id");
    coder.encodeObject(Value(key), "self.key");
    coder.encodeObject(Value(values), "self.values");
}

void TANEkv::outputTALog() const {
    if (!analyticsLogEnabled()) return;
    std::string text = NSString::stringWithFormat("session_id=%@, id=%@", session_id, id);
    if (du >= 1) text += NSString::stringWithFormat(", duration=%d", du);
    if (notEmpty(key)) text += NSString::stringWithFormat(",key=%@", key);
    if (!values.empty()) text += NSString::stringWithFormat(",values=%@", values);
    bool game = type && *type == "gkv";
    NSLog(game ? "TALOG: gkv: %@" : "TALOG: ekv: %@", text);
}

Dictionary TANEkv::attributes() const {
    Dictionary d = Dictionary::mutableDictionary();
    d.setObject("id", Value(id));
    Dictionary checked = processDictionary(values);
    std::size_t taken = 0;
    for (const auto& [k, v] : checked) {
        if (taken++ >= 10) break;
        d.setObject(k, v);
    }
    if (du >= 1) d.setObject("du", du);
    d.setObject("ts", static_cast<long long>(ts));
    return d;
}

// ---------------------------------------------------------------------------------------------
// Errors

TANError::TANError() {
    type = "error";
}

TANError::TANError(NSCoder& coder) : TANBaseEvent(coder) {
    context = decodeString(coder, "self.context");
}

void TANError::encodeWithCoder(NSCoder& coder) const {
    TANBaseEvent::encodeWithCoder(coder);
    coder.encodeObject(Value(context), "self.context");
}

void TANError::outputTALog() const {
    if (!analyticsLogEnabled()) return;
    NSLog("TALOG: error: %@", NSString::stringWithFormat("session_id=%@, context=%@", session_id, context));
}

Dictionary TANError::attributes() const {
    Dictionary d = TANBaseEvent::attributes();
    d.setObject("message_type", "error");
    d.setObject("context", Value(context));
    if (session_id) d.setObject("session_id", *session_id);
    return d;
}

// ---------------------------------------------------------------------------------------------
// Session ends

TANTerminate::TANTerminate(double duration) : duration(duration) {
    type = "terminate";
}

TANTerminate::TANTerminate(NSCoder& coder) : TANBaseEvent(coder) {
    duration = coder.decodeDoubleForKey("self.duration");
    Value pages = coder.decodeObjectForKey("self.pageViews");
    if (pages.isArray()) pageViews = pages.array()->mutableCopy();
    latitude = coder.decodeDoubleForKey("self.latitude");
    longitude = coder.decodeDoubleForKey("self.longitude");
    gps_time = coder.decodeInt64ForKey("self.gps_time");
}

void TANTerminate::encodeWithCoder(NSCoder& coder) const {
    TANBaseEvent::encodeWithCoder(coder);
    coder.encodeDouble(duration, "self.duration");
    coder.encodeObject(Value(pageViews), "self.pageViews");
    coder.encodeDouble(latitude, "self.latitude");
    coder.encodeDouble(longitude, "self.longitude");
    coder.encodeInt64(gps_time, "self.gps_time");
}

void TANTerminate::outputTALog() const {
    if (!analyticsLogEnabled()) return;
    std::string text = NSString::stringWithFormat("session_id=%@, duration=%f", session_id, duration);
    if (!pageViews.empty()) text += NSString::stringWithFormat(",pageViews=%@", pageViews);
    NSLog("TALOG: session: %@", text);
}

Dictionary TANTerminate::attributes() const {
    Dictionary d = TANBaseEvent::attributes();
    d.setObject("duration", duration);
    if (!pageViews.empty()) d.setObject("activities", pageViews);
    if (latitude != 0 && longitude != 0) {
        d.setObject("lat", latitude);
        d.setObject("lng", longitude);
    }
    if (gps_time >= 1) d.setObject("gps_time", static_cast<long long>(gps_time));
    return d;
}
