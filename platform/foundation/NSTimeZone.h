#pragma once
// Time zones: a name and the rules that give its offset from GMT at any moment.
//
// Named zones come from the time-zone database ("Asia/Shanghai"); fixed zones are made from an
// offset and named like "GMT+0800" ("GMT" for zero). The process has one default zone, which is
// what localTimeZone and systemTimeZone answer and what new calendars and formatters use; it
// starts as the host's zone (TZ, else /etc/localtime) and tests may replace it. Time zones are
// immutable and may be shared between threads.

#include <memory>
#include <string>

#include "foundation/NSDate.h"
#include "foundation/NSObject.h"

class NSTimeZone : public NSObject {
  public:
    // icuID is the identifier the time-zone library knows (for fixed zones "GMT+08:00").
    NSTimeZone(std::string name, std::string icuID);
    ~NSTimeZone() override;

    // nullptr for a name the database does not know. Accepts database names, "GMT", "UTC" and
    // offsets written "GMT+8", "GMT+0800" or "GMT+08:00".
    static Ref<NSTimeZone> timeZoneWithName(const std::string& name);
    // "GMT", "UTC", "GMT+8"...; a few common abbreviations ("CST" is China's, as for this app's
    // users; "PST", "EST", "JST"...); nullptr otherwise.
    static Ref<NSTimeZone> timeZoneWithAbbreviation(const std::string& abbreviation);
    // nullptr beyond eighteen hours either way.
    static Ref<NSTimeZone> timeZoneForSecondsFromGMT(long seconds);

    static Ref<NSTimeZone> defaultTimeZone();
    static Ref<NSTimeZone> localTimeZone() { return defaultTimeZone(); }
    static Ref<NSTimeZone> systemTimeZone();
    // nullptr goes back to the host's zone.
    static void setDefaultTimeZone(const Ref<NSTimeZone>& zone);
    // Reads the host's zone again (after TZ changed).
    static void resetSystemTimeZone();

    const std::string& name() const { return name_; }
    const std::string& icuID() const { return icuID_; }
    // The offset now (by the platform clock) and at a given moment, daylight saving included.
    long secondsFromGMT() const;
    long secondsFromGMTForDate(const NSDate& date) const;
    bool isDaylightSavingTimeForDate(const NSDate& date) const;
    // A short name for the zone at a date: "GMT+8" for Shanghai, "GMT" for GMT.
    std::string abbreviationForDate(const NSDate& date) const;
    std::string abbreviation() const;

    std::string className() const override { return "NSTimeZone"; }
    // "Asia/Shanghai (GMT+8) offset 28800"
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override { return std::hash<std::string>()(name_); }
    Ref<NSObject> copyObject() const override { return make<NSTimeZone>(name_, icuID_); }

  private:
    struct Impl;
    std::string name_;
    std::string icuID_;
    std::unique_ptr<Impl> impl_;
};
