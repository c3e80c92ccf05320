#include "foundation/NSTimeZone.h"

#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <cstdio>
#include <mutex>

#include "dispatch/Clock.h"

// The library's zone objects are not safe to share across threads, so each NSTimeZone keeps
// its own behind a lock.
struct NSTimeZone::Impl {
    std::mutex lock;
    std::unique_ptr<icu::TimeZone> zone;
};

namespace {

std::unique_ptr<icu::TimeZone> createZone(const std::string& id) {
    return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(id)));
}

bool isUnknown(const icu::TimeZone& zone) {
    return zone == icu::TimeZone::getUnknown();
}

std::string fixedName(long seconds) {
    if (seconds == 0) return "GMT";
    long minutes = (seconds < 0 ? -seconds : seconds) / 60;
    char buf[32];
    std::snprintf(buf, sizeof buf, "GMT%c%02ld%02ld", seconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return buf;
}

std::string fixedICUID(long seconds) {
    if (seconds == 0) return "GMT";
    long minutes = (seconds < 0 ? -seconds : seconds) / 60;
    char buf[32];
    std::snprintf(buf, sizeof buf, "GMT%c%02ld:%02ld", seconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return buf;
}

std::string hostZoneID() {
    std::unique_ptr<icu::TimeZone> host(icu::TimeZone::detectHostTimeZone());
    if (!host || isUnknown(*host)) return "GMT";
    icu::UnicodeString id;
    host->getID(id);
    std::string out;
    id.toUTF8String(out);
    return out;
}

struct ZoneSettings {
    std::mutex lock;
    Ref<NSTimeZone> system;
    Ref<NSTimeZone> chosen;
};

ZoneSettings& zoneSettings() {
    static ZoneSettings s;
    return s;
}

Ref<NSTimeZone> systemZoneLocked(ZoneSettings& s) {
    if (!s.system) {
        std::string id = hostZoneID();
        s.system = make<NSTimeZone>(id, id);
    }
    return s.system;
}

}  // namespace

NSTimeZone::NSTimeZone(std::string name, std::string icuID)
    : name_(std::move(name)), icuID_(std::move(icuID)), impl_(std::make_unique<Impl>()) {
    impl_->zone = createZone(icuID_);
}

NSTimeZone::~NSTimeZone() = default;

Ref<NSTimeZone> NSTimeZone::timeZoneWithName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name.find('\0') != std::string::npos) return nullptr;
    auto zone = createZone(name);
    if (!zone || isUnknown(*zone)) return nullptr;
    icu::UnicodeString id;
    zone->getID(id);
    std::string canonical;
    id.toUTF8String(canonical);
    if (canonical.rfind("GMT+", 0) == 0 || canonical.rfind("GMT-", 0) == 0) {
        // An offset written any of the accepted ways is named one way.
        long seconds = zone->getRawOffset() / 1000;
        return make<NSTimeZone>(fixedName(seconds), fixedICUID(seconds));
    }
    return make<NSTimeZone>(name, name);
}

Ref<NSTimeZone> NSTimeZone::timeZoneWithAbbreviation(const std::string& abbreviation) {
    static const std::pair<const char*, const char*> table[] = {
        {"GMT", "GMT"},
        {"UTC", "UTC"},
        {"CST", "Asia/Shanghai"},
        {"HKT", "Asia/Hong_Kong"},
        {"JST", "Asia/Tokyo"},
        {"KST", "Asia/Seoul"},
        {"SGT", "Asia/Singapore"},
        {"IST", "Asia/Kolkata"},
        {"BST", "Europe/London"},
        {"CET", "Europe/Paris"},
        {"CEST", "Europe/Paris"},
        {"EET", "Europe/Athens"},
        {"MSK", "Europe/Moscow"},
        {"EST", "America/New_York"},
        {"EDT", "America/New_York"},
        {"CDT", "America/Chicago"},
        {"MST", "America/Denver"},
        {"MDT", "America/Denver"},
        {"PST", "America/Los_Angeles"},
        {"PDT", "America/Los_Angeles"},
    };
    for (auto& [abbr, id] : table) {
        if (abbreviation == abbr) return make<NSTimeZone>(id, id);
    }
    if (abbreviation.rfind("GMT", 0) == 0 || abbreviation.rfind("UTC", 0) == 0) {
        std::string gmt = "GMT" + abbreviation.substr(3);
        auto zone = timeZoneWithName(gmt);
        if (zone) return timeZoneForSecondsFromGMT(zone->secondsFromGMTForDate(NSDate()));
    }
    return nullptr;
}

Ref<NSTimeZone> NSTimeZone::timeZoneForSecondsFromGMT(long seconds) {
    if (seconds < -18 * 3600 || seconds > 18 * 3600) return nullptr;
    // Fixed zones keep whole minutes, as their names do.
    seconds = seconds / 60 * 60;
    return make<NSTimeZone>(fixedName(seconds), fixedICUID(seconds));
}

Ref<NSTimeZone> NSTimeZone::defaultTimeZone() {
    auto& s = zoneSettings();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.chosen ? s.chosen : systemZoneLocked(s);
}

Ref<NSTimeZone> NSTimeZone::systemTimeZone() {
    auto& s = zoneSettings();
    std::lock_guard<std::mutex> guard(s.lock);
    return systemZoneLocked(s);
}

void NSTimeZone::setDefaultTimeZone(const Ref<NSTimeZone>& zone) {
    auto& s = zoneSettings();
    std::lock_guard<std::mutex> guard(s.lock);
    s.chosen = zone;
}

void NSTimeZone::resetSystemTimeZone() {
    auto& s = zoneSettings();
    std::lock_guard<std::mutex> guard(s.lock);
    s.system = nullptr;
}

long NSTimeZone::secondsFromGMT() const {
    return secondsFromGMTForDate(NSDate::date());
}

long NSTimeZone::secondsFromGMTForDate(const NSDate& date) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    impl_->zone->getOffset(date.timeIntervalSince1970() * 1000.0, false, raw, dst, status);
    if (U_FAILURE(status)) return 0;
    return (static_cast<long>(raw) + dst) / 1000;
}

bool NSTimeZone::isDaylightSavingTimeForDate(const NSDate& date) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    int32_t raw = 0, dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    impl_->zone->getOffset(date.timeIntervalSince1970() * 1000.0, false, raw, dst, status);
    return U_SUCCESS(status) && dst != 0;
}

std::string NSTimeZone::abbreviationForDate(const NSDate& date) const {
    long offset = secondsFromGMTForDate(date);
    if (offset == 0) return "GMT";
    long minutes = (offset < 0 ? -offset : offset) / 60;
    char buf[32];
    if (minutes % 60 == 0) {
        std::snprintf(buf, sizeof buf, "GMT%c%ld", offset < 0 ? '-' : '+', minutes / 60);
    } else {
        std::snprintf(buf, sizeof buf, "GMT%c%ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    }
    return buf;
}

std::string NSTimeZone::abbreviation() const {
    return abbreviationForDate(NSDate::date());
}

std::string NSTimeZone::description() const {
    NSDate now = NSDate::date();
    return name_ + " (" + abbreviationForDate(now) + ") offset " + std::to_string(secondsFromGMTForDate(now));
}

bool NSTimeZone::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSTimeZone*>(&other);
    return o && o->name_ == name_ && o->icuID_ == icuID_;
}
