#pragma once
// Calendars: turning moments into year, month, day... in a time zone, and back, and measuring
// the distance between two moments in calendar units.
//
// Gregorian by default (with the historical switch from the Julian calendar in 1582, as the
// platform has it). currentCalendar() is a new calendar in the default time zone and the current
// locale. "Today" is judged by the platform clock, so tests on the manual clock control it.
// A calendar may be used from any thread; its settings are guarded.
//
// Date components hold NSDateComponentUndefined for every unit not asked for or not set.

#include <climits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/NSDate.h"
#include "foundation/NSLocale.h"
#include "foundation/NSObject.h"
#include "foundation/NSTimeZone.h"

enum NSCalendarUnit : unsigned long {
    NSCalendarUnitEra = 1UL << 1,
    NSCalendarUnitYear = 1UL << 2,
    NSCalendarUnitMonth = 1UL << 3,
    NSCalendarUnitDay = 1UL << 4,
    NSCalendarUnitHour = 1UL << 5,
    NSCalendarUnitMinute = 1UL << 6,
    NSCalendarUnitSecond = 1UL << 7,
    NSCalendarUnitWeekday = 1UL << 9,
    NSCalendarUnitWeekdayOrdinal = 1UL << 10,
    NSCalendarUnitQuarter = 1UL << 11,
    NSCalendarUnitWeekOfMonth = 1UL << 12,
    NSCalendarUnitWeekOfYear = 1UL << 13,
    NSCalendarUnitYearForWeekOfYear = 1UL << 14,
    NSCalendarUnitNanosecond = 1UL << 15,
    NSCalendarUnitCalendar = 1UL << 20,
    NSCalendarUnitTimeZone = 1UL << 21,

    // The older names.
    NSEraCalendarUnit = NSCalendarUnitEra,
    NSYearCalendarUnit = NSCalendarUnitYear,
    NSMonthCalendarUnit = NSCalendarUnitMonth,
    NSDayCalendarUnit = NSCalendarUnitDay,
    NSHourCalendarUnit = NSCalendarUnitHour,
    NSMinuteCalendarUnit = NSCalendarUnitMinute,
    NSSecondCalendarUnit = NSCalendarUnitSecond,
    NSWeekdayCalendarUnit = NSCalendarUnitWeekday,
    NSWeekdayOrdinalCalendarUnit = NSCalendarUnitWeekdayOrdinal,
};

inline constexpr long NSDateComponentUndefined = LONG_MAX;

inline constexpr char NSCalendarIdentifierGregorian[] = "gregorian";
inline constexpr char NSCalendarIdentifierISO8601[] = "iso8601";
inline constexpr char NSCalendarIdentifierBuddhist[] = "buddhist";
inline constexpr char NSCalendarIdentifierChinese[] = "chinese";
inline constexpr char NSCalendarIdentifierJapanese[] = "japanese";
inline constexpr char NSCalendarIdentifierRepublicOfChina[] = "roc";
inline constexpr char NSGregorianCalendar[] = "gregorian";

class NSCalendar;

class NSDateComponents : public NSObject {
  public:
    long era() const { return era_; }
    long year() const { return year_; }
    long month() const { return month_; }
    long day() const { return day_; }
    long hour() const { return hour_; }
    long minute() const { return minute_; }
    long second() const { return second_; }
    long nanosecond() const { return nanosecond_; }
    // 1 is Sunday.
    long weekday() const { return weekday_; }
    long weekdayOrdinal() const { return weekdayOrdinal_; }
    long quarter() const { return quarter_; }
    long weekOfMonth() const { return weekOfMonth_; }
    long weekOfYear() const { return weekOfYear_; }
    long yearForWeekOfYear() const { return yearForWeekOfYear_; }
    const Ref<NSCalendar>& calendar() const { return calendar_; }
    const Ref<NSTimeZone>& timeZone() const { return timeZone_; }

    void setEra(long v) { era_ = v; }
    void setYear(long v) { year_ = v; }
    void setMonth(long v) { month_ = v; }
    void setDay(long v) { day_ = v; }
    void setHour(long v) { hour_ = v; }
    void setMinute(long v) { minute_ = v; }
    void setSecond(long v) { second_ = v; }
    void setNanosecond(long v) { nanosecond_ = v; }
    void setWeekday(long v) { weekday_ = v; }
    void setWeekdayOrdinal(long v) { weekdayOrdinal_ = v; }
    void setQuarter(long v) { quarter_ = v; }
    void setWeekOfMonth(long v) { weekOfMonth_ = v; }
    void setWeekOfYear(long v) { weekOfYear_ = v; }
    void setYearForWeekOfYear(long v) { yearForWeekOfYear_ = v; }
    void setCalendar(Ref<NSCalendar> c) { calendar_ = std::move(c); }
    void setTimeZone(Ref<NSTimeZone> z) { timeZone_ = std::move(z); }

    // One unit's value; NSDateComponentUndefined for a unit without a number.
    long valueForComponent(NSCalendarUnit unit) const;
    void setValue(long value, NSCalendarUnit unit);
    // The moment the components name in their calendar (nullopt without a calendar).
    std::optional<NSDate> date() const;

    std::string className() const override { return "NSDateComponents"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override;
    Ref<NSObject> copyObject() const override;

  private:
    long era_ = NSDateComponentUndefined, year_ = NSDateComponentUndefined, month_ = NSDateComponentUndefined,
         day_ = NSDateComponentUndefined, hour_ = NSDateComponentUndefined,
         minute_ = NSDateComponentUndefined, second_ = NSDateComponentUndefined,
         nanosecond_ = NSDateComponentUndefined, weekday_ = NSDateComponentUndefined,
         weekdayOrdinal_ = NSDateComponentUndefined, quarter_ = NSDateComponentUndefined,
         weekOfMonth_ = NSDateComponentUndefined, weekOfYear_ = NSDateComponentUndefined,
         yearForWeekOfYear_ = NSDateComponentUndefined;
    Ref<NSCalendar> calendar_;
    Ref<NSTimeZone> timeZone_;
};

class NSCalendar : public NSObject {
  public:
    explicit NSCalendar(std::string identifier);
    ~NSCalendar() override;

    static Ref<NSCalendar> currentCalendar();
    static Ref<NSCalendar> autoupdatingCurrentCalendar() { return currentCalendar(); }
    // nullptr for an identifier that is not one of the NSCalendarIdentifier... values.
    static Ref<NSCalendar> calendarWithIdentifier(const std::string& identifier);

    const std::string& calendarIdentifier() const { return identifier_; }
    Ref<NSTimeZone> timeZone() const;
    // nullptr gives the default time zone.
    void setTimeZone(const Ref<NSTimeZone>& zone);
    Ref<NSLocale> locale() const;
    void setLocale(const Ref<NSLocale>& locale);
    // 1 is Sunday; from the locale until set.
    long firstWeekday() const;
    void setFirstWeekday(long weekday);
    long minimumDaysInFirstWeek() const;
    void setMinimumDaysInFirstWeek(long days);

    // The asked-for units of a moment, in the calendar's time zone.
    Ref<NSDateComponents> components(unsigned long units, const NSDate& date) const;
    // The difference from one moment to another, largest unit first (1 month 2 days...);
    // negative when `to` is earlier.
    Ref<NSDateComponents> components(unsigned long units, const NSDate& from, const NSDate& to) const;
    long component(NSCalendarUnit unit, const NSDate& date) const;
    // Unset units take their smallest values (year 1, January, day 1, midnight); values out of
    // range roll over (month 13 is January of the next year). nullopt when no moment results.
    std::optional<NSDate> dateFromComponents(const NSDateComponents& components) const;
    std::optional<NSDate> dateByAddingComponents(const NSDateComponents& components,
                                                 const NSDate& date) const;
    std::optional<NSDate> dateByAddingUnit(NSCalendarUnit unit, long value, const NSDate& date) const;
    NSDate startOfDayForDate(const NSDate& date) const;
    bool isDate(const NSDate& a, const NSDate& inSameDayAsDate) const;
    bool isDateInToday(const NSDate& date) const;
    bool isDateInYesterday(const NSDate& date) const;
    bool isDateInTomorrow(const NSDate& date) const;

    std::string className() const override { return "NSCalendar"; }
    std::string description() const override;
    bool isEqual(const NSObject& other) const override;
    std::size_t hash() const override { return std::hash<std::string>()(identifier_); }
    Ref<NSObject> copyObject() const override;

  private:
    struct Impl;
    std::string identifier_;
    std::unique_ptr<Impl> impl_;
};
