#include "foundation/NSCalendar.h"

#include <unicode/calendar.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// The calendar systems a calendar identifier may name, as the date library calls them.
const char* icuCalendarType(const std::string& identifier) {
    static const std::pair<const char*, const char*> table[] = {
        {"gregorian", "gregorian"}, {"iso8601", "iso8601"},
        {"buddhist", "buddhist"},   {"chinese", "chinese"},
        {"japanese", "japanese"},   {"roc", "roc"},
        {"persian", "persian"},     {"hebrew", "hebrew"},
        {"islamic", "islamic"},     {"islamic-civil", "islamic-civil"},
        {"indian", "indian"},       {"coptic", "coptic"},
        {"ethiopic", "ethiopic"},
    };
    for (auto& [id, type] : table) {
        if (identifier == id) return type;
    }
    return nullptr;
}

bool fitsInt32(long v) {
    return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

double toMillis(const NSDate& date) {
    return date.timeIntervalSince1970() * 1000.0;
}
NSDate fromMillis(double ms) {
    return NSDate::dateWithTimeIntervalSince1970(ms / 1000.0);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

struct NSCalendar::Impl {
    mutable std::mutex lock;
    Ref<NSTimeZone> zone;
    Ref<NSLocale> locale;
    std::optional<long> firstWeekday;
    std::optional<long> minimumDays;
    std::unique_ptr<icu::Calendar> calendar;  // rebuilt when a setting changes

    icu::Calendar* get(const std::string& identifier) {
        if (!calendar) {
            UErrorCode status = U_ZERO_ERROR;
            std::string localeID = locale ? locale->localeIdentifier() : "";
            for (auto& c : localeID) {
                if (c == '-') c = '_';
            }
            localeID = localeID.substr(0, localeID.find('@')) + "@calendar=" + icuCalendarType(identifier);
            icu::TimeZone* tz = icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone->icuID()));
            calendar.reset(icu::Calendar::createInstance(tz, icu::Locale(localeID.c_str()), status));
            if (U_FAILURE(status) || !calendar) {
                status = U_ZERO_ERROR;
                calendar.reset(new icu::GregorianCalendar(status));
            }
            calendar->setLenient(true);
            if (firstWeekday) calendar->setFirstDayOfWeek(static_cast<UCalendarDaysOfWeek>(*firstWeekday));
            if (minimumDays) calendar->setMinimalDaysInFirstWeek(static_cast<uint8_t>(*minimumDays));
        }
        return calendar.get();
    }
};

NSCalendar::NSCalendar(std::string identifier)
    : identifier_(std::move(identifier)), impl_(std::make_unique<Impl>()) {
    if (!icuCalendarType(identifier_)) identifier_ = NSCalendarIdentifierGregorian;
    impl_->zone = NSTimeZone::defaultTimeZone();
    impl_->locale = NSLocale::currentLocale();
}

NSCalendar::~NSCalendar() = default;

Ref<NSCalendar> NSCalendar::currentCalendar() {
    return make<NSCalendar>(NSCalendarIdentifierGregorian);
}

Ref<NSCalendar> NSCalendar::calendarWithIdentifier(const std::string& identifier) {
    if (!icuCalendarType(identifier)) return nullptr;
    return make<NSCalendar>(identifier);
}

Ref<NSTimeZone> NSCalendar::timeZone() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->zone;
}

void NSCalendar::setTimeZone(const Ref<NSTimeZone>& zone) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->zone = zone ? zone : NSTimeZone::defaultTimeZone();
    impl_->calendar.reset();
}

Ref<NSLocale> NSCalendar::locale() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->locale;
}

void NSCalendar::setLocale(const Ref<NSLocale>& locale) {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->locale = locale ? locale : NSLocale::currentLocale();
    impl_->calendar.reset();
}

long NSCalendar::firstWeekday() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    UErrorCode status = U_ZERO_ERROR;
    return impl_->get(identifier_)->getFirstDayOfWeek(status);
}

void NSCalendar::setFirstWeekday(long weekday) {
    if (weekday < 1 || weekday > 7) return;
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->firstWeekday = weekday;
    impl_->calendar.reset();
}

long NSCalendar::minimumDaysInFirstWeek() const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->get(identifier_)->getMinimalDaysInFirstWeek();
}

void NSCalendar::setMinimumDaysInFirstWeek(long days) {
    if (days < 1 || days > 7) return;
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->minimumDays = days;
    impl_->calendar.reset();
}

Ref<NSDateComponents> NSCalendar::components(unsigned long units, const NSDate& date) const {
    auto out = make<NSDateComponents>();
    std::lock_guard<std::mutex> guard(impl_->lock);
    icu::Calendar* cal = impl_->get(identifier_);
    UErrorCode status = U_ZERO_ERROR;
    // Whole milliseconds for the calendar; the nanoseconds come from the date itself.
    double seconds = date.timeIntervalSince1970();
    if (!std::isfinite(seconds)) return out;
    cal->setTime(std::floor(seconds * 1000.0), status);
    auto field = [&](UCalendarDateFields f) { return static_cast<long>(cal->get(f, status)); };
    if (units & NSCalendarUnitEra) out->setEra(field(UCAL_ERA));
    if (units & NSCalendarUnitYear) out->setYear(field(UCAL_YEAR));
    if (units & NSCalendarUnitMonth) out->setMonth(field(UCAL_MONTH) + 1);
    if (units & NSCalendarUnitDay) out->setDay(field(UCAL_DATE));
    if (units & NSCalendarUnitHour) out->setHour(field(UCAL_HOUR_OF_DAY));
    if (units & NSCalendarUnitMinute) out->setMinute(field(UCAL_MINUTE));
    if (units & NSCalendarUnitSecond) out->setSecond(field(UCAL_SECOND));
    if (units & NSCalendarUnitWeekday) out->setWeekday(field(UCAL_DAY_OF_WEEK));
    if (units & NSCalendarUnitWeekdayOrdinal) out->setWeekdayOrdinal(field(UCAL_DAY_OF_WEEK_IN_MONTH));
    if (units & NSCalendarUnitQuarter) out->setQuarter(field(UCAL_MONTH) / 3 + 1);
    if (units & NSCalendarUnitWeekOfMonth) out->setWeekOfMonth(field(UCAL_WEEK_OF_MONTH));
    if (units & NSCalendarUnitWeekOfYear) out->setWeekOfYear(field(UCAL_WEEK_OF_YEAR));
    if (units & NSCalendarUnitYearForWeekOfYear) out->setYearForWeekOfYear(field(UCAL_YEAR_WOY));
    if (units & NSCalendarUnitNanosecond) {
        double millis = seconds * 1000.0;
        double fraction = (millis - std::floor(millis / 1000.0) * 1000.0) / 1000.0;
        long ns = std::lround(fraction * 1e9);
        out->setNanosecond(ns >= 1000000000L ? 999999999L : ns);
    }
    if (units & NSCalendarUnitTimeZone) out->setTimeZone(impl_->zone);
    if (units & NSCalendarUnitCalendar) {
        auto copy = make<NSCalendar>(identifier_);
        copy->impl_->zone = impl_->zone;
        copy->impl_->locale = impl_->locale;
        copy->impl_->firstWeekday = impl_->firstWeekday;
        copy->impl_->minimumDays = impl_->minimumDays;
        out->setCalendar(copy);
    }
    return out;
}

Ref<NSDateComponents> NSCalendar::components(unsigned long units, const NSDate& from,
                                             const NSDate& to) const {
    auto out = make<NSDateComponents>();
    std::lock_guard<std::mutex> guard(impl_->lock);
    icu::Calendar* cal = impl_->get(identifier_);
    if (!std::isfinite(from.timeIntervalSince1970()) || !std::isfinite(to.timeIntervalSince1970()))
        return out;
    UErrorCode status = U_ZERO_ERROR;
    double target = std::floor(toMillis(to));
    cal->setTime(std::floor(toMillis(from)), status);
    // Each difference moves the calendar on by what it counted, so the next, smaller unit
    // measures only the rest.
    auto difference = [&](UCalendarDateFields f) -> long {
        UErrorCode s = U_ZERO_ERROR;
        long d = cal->fieldDifference(target, f, s);
        return U_FAILURE(s) ? 0 : d;
    };
    if (units & NSCalendarUnitEra) out->setEra(difference(UCAL_ERA));
    if (units & NSCalendarUnitYear) out->setYear(difference(UCAL_YEAR));
    if (units & (NSCalendarUnitQuarter | NSCalendarUnitMonth)) {
        long months = difference(UCAL_MONTH);
        if (units & NSCalendarUnitQuarter) {
            long quarters = months / 3;
            out->setQuarter(quarters);
            long rest = months - quarters * 3;
            if (units & NSCalendarUnitMonth) {
                out->setMonth(rest);
            } else {
                cal->add(UCAL_MONTH, static_cast<int32_t>(-rest), status);
            }
        } else {
            out->setMonth(months);
        }
    }
    if (units & (NSCalendarUnitWeekOfYear | NSCalendarUnitWeekOfMonth)) {
        long weeks = difference(UCAL_WEEK_OF_YEAR);
        if (units & NSCalendarUnitWeekOfYear) {
            out->setWeekOfYear(weeks);
            if (units & NSCalendarUnitWeekOfMonth) out->setWeekOfMonth(0);
        } else {
            out->setWeekOfMonth(weeks);
        }
    }
    if (units & NSCalendarUnitDay) out->setDay(difference(UCAL_DATE));
    if (units & NSCalendarUnitHour) out->setHour(difference(UCAL_HOUR_OF_DAY));
    if (units & NSCalendarUnitMinute) out->setMinute(difference(UCAL_MINUTE));
    if (units & NSCalendarUnitSecond) out->setSecond(difference(UCAL_SECOND));
    if (units & NSCalendarUnitNanosecond) {
        UErrorCode s = U_ZERO_ERROR;
        double reached = cal->getTime(s) / 1000.0;
        double rest = to.timeIntervalSince1970() - reached;
        out->setNanosecond(U_FAILURE(s) ? 0 : std::lround(rest * 1e9));
    }
    return out;
}

long NSCalendar::component(NSCalendarUnit unit, const NSDate& date) const {
    return components(unit, date)->valueForComponent(unit);
}

std::optional<NSDate> NSCalendar::dateFromComponents(const NSDateComponents& c) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    icu::Calendar* cal = impl_->get(identifier_);
    std::unique_ptr<icu::TimeZone> savedZone;
    if (c.timeZone()) {
        savedZone.reset(cal->getTimeZone().clone());
        cal->adoptTimeZone(
            icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(c.timeZone()->icuID())));
    }
    struct Restore {
        icu::Calendar* cal;
        std::unique_ptr<icu::TimeZone>& zone;
        ~Restore() {
            if (zone) cal->adoptTimeZone(zone.release());
        }
    } restore{cal, savedZone};

    const long undefined = NSDateComponentUndefined;
    // Every value goes into a 32-bit field.
    for (long v : {c.era(), c.year(), c.month(), c.day(), c.hour(), c.minute(), c.second(), c.weekday(),
                   c.weekdayOrdinal(), c.weekOfMonth(), c.weekOfYear(), c.yearForWeekOfYear()}) {
        if (v != undefined && !fitsInt32(v)) return std::nullopt;
    }
    cal->clear();
    bool gregorian =
        identifier_ == NSCalendarIdentifierGregorian || identifier_ == NSCalendarIdentifierISO8601;
    // Later settings win where fields disagree, so defaults go first and the day of the month
    // comes after the week-based fields.
    if (gregorian) {
        cal->set(UCAL_ERA, c.era() != undefined ? static_cast<int32_t>(c.era()) : 1);
        if (c.year() == undefined && c.yearForWeekOfYear() == undefined) cal->set(UCAL_YEAR, 1);
    } else if (c.era() != undefined) {
        cal->set(UCAL_ERA, static_cast<int32_t>(c.era()));
    }
    if (c.yearForWeekOfYear() != undefined)
        cal->set(UCAL_YEAR_WOY, static_cast<int32_t>(c.yearForWeekOfYear()));
    if (c.year() != undefined) cal->set(UCAL_YEAR, static_cast<int32_t>(c.year()));
    if (c.weekOfYear() != undefined) cal->set(UCAL_WEEK_OF_YEAR, static_cast<int32_t>(c.weekOfYear()));
    if (c.month() != undefined) cal->set(UCAL_MONTH, static_cast<int32_t>(c.month() - 1));
    if (c.weekOfMonth() != undefined) cal->set(UCAL_WEEK_OF_MONTH, static_cast<int32_t>(c.weekOfMonth()));
    if (c.weekdayOrdinal() != undefined)
        cal->set(UCAL_DAY_OF_WEEK_IN_MONTH, static_cast<int32_t>(c.weekdayOrdinal()));
    if (c.weekday() != undefined) cal->set(UCAL_DAY_OF_WEEK, static_cast<int32_t>(c.weekday()));
    if (c.day() != undefined) cal->set(UCAL_DATE, static_cast<int32_t>(c.day()));
    cal->set(UCAL_HOUR_OF_DAY, c.hour() != undefined ? static_cast<int32_t>(c.hour()) : 0);
    cal->set(UCAL_MINUTE, c.minute() != undefined ? static_cast<int32_t>(c.minute()) : 0);
    cal->set(UCAL_SECOND, c.second() != undefined ? static_cast<int32_t>(c.second()) : 0);
    cal->set(UCAL_MILLISECOND, 0);
    UErrorCode status = U_ZERO_ERROR;
    double ms = cal->getTime(status);
    if (U_FAILURE(status) || !std::isfinite(ms)) return std::nullopt;
    double seconds = ms / 1000.0;
    if (c.nanosecond() != undefined) seconds += static_cast<double>(c.nanosecond()) / 1e9;
    return NSDate::dateWithTimeIntervalSince1970(seconds);
}

std::optional<NSDate> NSCalendar::dateByAddingComponents(const NSDateComponents& c,
                                                         const NSDate& date) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    icu::Calendar* cal = impl_->get(identifier_);
    UErrorCode status = U_ZERO_ERROR;
    double seconds = date.timeIntervalSince1970();
    if (!std::isfinite(seconds)) return std::nullopt;
    double whole = std::floor(seconds * 1000.0);
    double fraction = seconds - whole / 1000.0;
    cal->setTime(whole, status);
    const long undefined = NSDateComponentUndefined;
    auto add = [&](UCalendarDateFields f, long v, long factor = 1) -> bool {
        if (v == undefined) return true;
        if (!fitsInt32(v) || !fitsInt32(v * factor)) return false;
        cal->add(f, static_cast<int32_t>(v * factor), status);
        return U_SUCCESS(status);
    };
    // Largest units first, so "one month and one day" from January 31 is March 1 (or 2).
    bool ok = add(UCAL_ERA, c.era()) && add(UCAL_YEAR, c.year()) && add(UCAL_MONTH, c.quarter(), 3) &&
              add(UCAL_MONTH, c.month()) && add(UCAL_WEEK_OF_YEAR, c.weekOfYear()) &&
              add(UCAL_WEEK_OF_YEAR, c.weekOfMonth()) && add(UCAL_DATE, c.day()) &&
              add(UCAL_DATE, c.weekday()) && add(UCAL_HOUR_OF_DAY, c.hour()) &&
              add(UCAL_MINUTE, c.minute()) && add(UCAL_SECOND, c.second());
    if (!ok) return std::nullopt;
    double ms = cal->getTime(status);
    if (U_FAILURE(status)) return std::nullopt;
    double result = ms / 1000.0 + fraction;
    if (c.nanosecond() != undefined) result += static_cast<double>(c.nanosecond()) / 1e9;
    return NSDate::dateWithTimeIntervalSince1970(result);
}

std::optional<NSDate> NSCalendar::dateByAddingUnit(NSCalendarUnit unit, long value,
                                                   const NSDate& date) const {
    auto c = make<NSDateComponents>();
    c->setValue(value, unit);
    return dateByAddingComponents(*c, date);
}

NSDate NSCalendar::startOfDayForDate(const NSDate& date) const {
    std::lock_guard<std::mutex> guard(impl_->lock);
    icu::Calendar* cal = impl_->get(identifier_);
    UErrorCode status = U_ZERO_ERROR;
    cal->setTime(std::floor(toMillis(date)), status);
    cal->set(UCAL_HOUR_OF_DAY, 0);
    cal->set(UCAL_MINUTE, 0);
    cal->set(UCAL_SECOND, 0);
    cal->set(UCAL_MILLISECOND, 0);
    double ms = cal->getTime(status);
    return U_FAILURE(status) ? date : fromMillis(ms);
}

bool NSCalendar::isDate(const NSDate& a, const NSDate& b) const {
    const unsigned long units =
        NSCalendarUnitEra | NSCalendarUnitYear | NSCalendarUnitMonth | NSCalendarUnitDay;
    auto x = components(units, a), y = components(units, b);
    return x->era() == y->era() && x->year() == y->year() && x->month() == y->month() && x->day() == y->day();
}

bool NSCalendar::isDateInToday(const NSDate& date) const {
    return isDate(date, NSDate::date());
}

bool NSCalendar::isDateInYesterday(const NSDate& date) const {
    auto yesterday = dateByAddingUnit(NSCalendarUnitDay, -1, NSDate::date());
    return yesterday && isDate(date, *yesterday);
}

bool NSCalendar::isDateInTomorrow(const NSDate& date) const {
    auto tomorrow = dateByAddingUnit(NSCalendarUnitDay, 1, NSDate::date());
    return tomorrow && isDate(date, *tomorrow);
}

std::string NSCalendar::description() const {
    auto zone = timeZone();
    auto loc = locale();
    return "<NSCalendar " + identifier_ + ", " + (zone ? zone->name() : "") + ", " +
           (loc ? loc->localeIdentifier() : "") + ">";
}

bool NSCalendar::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSCalendar*>(&other);
    if (!o) return false;
    if (o == this) return true;
    return o->identifier_ == identifier_ && objectsEqual(o->timeZone(), timeZone()) &&
           objectsEqual(o->locale(), locale()) && o->firstWeekday() == firstWeekday() &&
           o->minimumDaysInFirstWeek() == minimumDaysInFirstWeek();
}

Ref<NSObject> NSCalendar::copyObject() const {
    auto copy = make<NSCalendar>(identifier_);
    std::lock_guard<std::mutex> guard(impl_->lock);
    copy->impl_->zone = impl_->zone;
    copy->impl_->locale = impl_->locale;
    copy->impl_->firstWeekday = impl_->firstWeekday;
    copy->impl_->minimumDays = impl_->minimumDays;
    return copy;
}

// ---------------------------------------------------------------------------------------------

long NSDateComponents::valueForComponent(NSCalendarUnit unit) const {
    switch (unit) {
        case NSCalendarUnitEra:
            return era_;
        case NSCalendarUnitYear:
            return year_;
        case NSCalendarUnitMonth:
            return month_;
        case NSCalendarUnitDay:
            return day_;
        case NSCalendarUnitHour:
            return hour_;
        case NSCalendarUnitMinute:
            return minute_;
        case NSCalendarUnitSecond:
            return second_;
        case NSCalendarUnitNanosecond:
            return nanosecond_;
        case NSCalendarUnitWeekday:
            return weekday_;
        case NSCalendarUnitWeekdayOrdinal:
            return weekdayOrdinal_;
        case NSCalendarUnitQuarter:
            return quarter_;
        case NSCalendarUnitWeekOfMonth:
            return weekOfMonth_;
        case NSCalendarUnitWeekOfYear:
            return weekOfYear_;
        case NSCalendarUnitYearForWeekOfYear:
            return yearForWeekOfYear_;
        default:
            return NSDateComponentUndefined;
    }
}

void NSDateComponents::setValue(long value, NSCalendarUnit unit) {
    switch (unit) {
        case NSCalendarUnitEra:
            era_ = value;
            break;
        case NSCalendarUnitYear:
            year_ = value;
            break;
        case NSCalendarUnitMonth:
            month_ = value;
            break;
        case NSCalendarUnitDay:
            day_ = value;
            break;
        case NSCalendarUnitHour:
            hour_ = value;
            break;
        case NSCalendarUnitMinute:
            minute_ = value;
            break;
        case NSCalendarUnitSecond:
            second_ = value;
            break;
        case NSCalendarUnitNanosecond:
            nanosecond_ = value;
            break;
        case NSCalendarUnitWeekday:
            weekday_ = value;
            break;
        case NSCalendarUnitWeekdayOrdinal:
            weekdayOrdinal_ = value;
            break;
        case NSCalendarUnitQuarter:
            quarter_ = value;
            break;
        case NSCalendarUnitWeekOfMonth:
            weekOfMonth_ = value;
            break;
        case NSCalendarUnitWeekOfYear:
            weekOfYear_ = value;
            break;
        case NSCalendarUnitYearForWeekOfYear:
            yearForWeekOfYear_ = value;
            break;
        default:
            break;
    }
}

std::optional<NSDate> NSDateComponents::date() const {
    if (!calendar_) return std::nullopt;
    return calendar_->dateFromComponents(*this);
}

std::string NSDateComponents::description() const {
    static const std::pair<NSCalendarUnit, const char*> names[] = {
        {NSCalendarUnitEra, "Era"},
        {NSCalendarUnitYear, "Calendar Year"},
        {NSCalendarUnitMonth, "Month"},
        {NSCalendarUnitDay, "Day"},
        {NSCalendarUnitHour, "Hour"},
        {NSCalendarUnitMinute, "Minute"},
        {NSCalendarUnitSecond, "Second"},
        {NSCalendarUnitNanosecond, "Nanosecond"},
        {NSCalendarUnitWeekday, "Weekday"},
        {NSCalendarUnitWeekdayOrdinal, "Weekday Ordinal"},
        {NSCalendarUnitQuarter, "Quarter"},
        {NSCalendarUnitWeekOfMonth, "Week of Month"},
        {NSCalendarUnitWeekOfYear, "Week of Year"},
        {NSCalendarUnitYearForWeekOfYear, "Year for Week of Year"},
    };
    std::string out = "<NSDateComponents>";
    for (auto& [unit, name] : names) {
        long v = valueForComponent(unit);
        if (v != NSDateComponentUndefined) out += std::string("\n    ") + name + ": " + std::to_string(v);
    }
    return out;
}

bool NSDateComponents::isEqual(const NSObject& other) const {
    auto o = dynamic_cast<const NSDateComponents*>(&other);
    if (!o) return false;
    for (unsigned long bit = 1; bit <= NSCalendarUnitNanosecond; bit <<= 1) {
        auto unit = static_cast<NSCalendarUnit>(bit);
        if (valueForComponent(unit) != o->valueForComponent(unit)) return false;
    }
    return objectsEqual(calendar_, o->calendar_) && objectsEqual(timeZone_, o->timeZone_);
}

std::size_t NSDateComponents::hash() const {
    std::size_t h = 0;
    for (unsigned long bit = 1; bit <= NSCalendarUnitNanosecond; bit <<= 1) {
        h = h * 31 + static_cast<std::size_t>(valueForComponent(static_cast<NSCalendarUnit>(bit)));
    }
    return h;
}

Ref<NSObject> NSDateComponents::copyObject() const {
    auto c = make<NSDateComponents>();
    for (unsigned long bit = 1; bit <= NSCalendarUnitNanosecond; bit <<= 1) {
        auto unit = static_cast<NSCalendarUnit>(bit);
        c->setValue(valueForComponent(unit), unit);
    }
    c->calendar_ = calendar_;
    c->timeZone_ = timeZone_;
    return c;
}
