#include "foundation/NSCalendar.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "dispatch/Clock.h"
#include "foundation/NSLocale.h"
#include "foundation/NSTimeZone.h"

namespace {

// Every test here runs in a known zone and restores the process settings afterwards.
class CalendarFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        NSTimeZone::setDefaultTimeZone(NSTimeZone::timeZoneWithName("Asia/Shanghai"));
        NSLocale::setCurrentLocale(NSLocale::localeWithLocaleIdentifier("zh_CN"));
    }
    void TearDown() override {
        NSTimeZone::setDefaultTimeZone(nullptr);
        NSLocale::setCurrentLocale(nullptr);
        NSLocale::setPreferredLanguages(std::nullopt);
        PlatformClock::useRealClock();
    }
    // 2026-12-06 18:00:00 UTC = 2026-12-07 02:00:00 in Shanghai, a Monday there.
    static constexpr double kMoment = 1796580000.0;
};

// ---------------------------------------------------------------------------------------------

TEST_F(CalendarFixture, LocaleSettingsAndDefaults) {
    NSLocale::setPreferredLanguages(std::nullopt);
    if (!std::getenv("APP_PREFERRED_LANGUAGES")) {
        EXPECT_EQ(NSLocale::preferredLanguages(), (std::vector<std::string>{"zh-Hans", "en"}));
    }
    NSLocale::setPreferredLanguages(std::vector<std::string>{"en-US", "fr"});
    EXPECT_EQ(NSLocale::preferredLanguages(), (std::vector<std::string>{"en-US", "fr"}));
    auto current = NSLocale::currentLocale();
    EXPECT_EQ(current->localeIdentifier(), "zh_CN");
    EXPECT_EQ(current->countryCode(), "CN");
    EXPECT_EQ(current->languageCode(), "zh");
    EXPECT_FALSE(current->scriptCode());
    EXPECT_EQ(current->decimalSeparator(), ".");
    auto hans = NSLocale::localeWithLocaleIdentifier("zh-Hans_CN");
    EXPECT_EQ(hans->scriptCode(), "Hans");
    EXPECT_EQ(hans->countryCode(), "CN");
    auto german = NSLocale::localeWithLocaleIdentifier("de_DE");
    EXPECT_EQ(german->decimalSeparator(), ",");
    EXPECT_EQ(german->groupingSeparator(), ".");
    EXPECT_FALSE(NSLocale::localeWithLocaleIdentifier("en")->countryCode());
    EXPECT_FALSE(NSLocale::systemLocale()->languageCode());
    EXPECT_TRUE(current->isEqual(*NSLocale::localeWithLocaleIdentifier("zh_CN")));
    // Nonsense identifiers do not crash anything.
    auto junk = NSLocale::localeWithLocaleIdentifier("\xff\x01@@==;;__--");
    (void)junk->countryCode();
    (void)junk->decimalSeparator();
}

TEST_F(CalendarFixture, TimeZones) {
    auto shanghai = NSTimeZone::timeZoneWithName("Asia/Shanghai");
    ASSERT_TRUE(shanghai);
    EXPECT_EQ(shanghai->name(), "Asia/Shanghai");
    EXPECT_EQ(shanghai->secondsFromGMTForDate(NSDate::dateWithTimeIntervalSince1970(kMoment)), 8 * 3600);
    EXPECT_EQ(shanghai->abbreviationForDate(NSDate()), "GMT+8");
    EXPECT_FALSE(NSTimeZone::timeZoneWithName("Nowhere/Land"));
    EXPECT_FALSE(NSTimeZone::timeZoneWithName(""));
    EXPECT_FALSE(NSTimeZone::timeZoneWithName(std::string(1000, 'A')));
    auto fixed = NSTimeZone::timeZoneForSecondsFromGMT(-(5 * 3600 + 30 * 60));
    ASSERT_TRUE(fixed);
    EXPECT_EQ(fixed->name(), "GMT-0530");
    EXPECT_EQ(fixed->secondsFromGMT(), -(5 * 3600 + 30 * 60));
    EXPECT_EQ(NSTimeZone::timeZoneForSecondsFromGMT(0)->name(), "GMT");
    EXPECT_FALSE(NSTimeZone::timeZoneForSecondsFromGMT(19 * 3600));
    EXPECT_EQ(NSTimeZone::timeZoneWithName("GMT+8")->name(), "GMT+0800");
    EXPECT_EQ(NSTimeZone::timeZoneWithName("GMT+08:00")->secondsFromGMT(), 8 * 3600);
    EXPECT_EQ(NSTimeZone::timeZoneWithAbbreviation("CST")->name(), "Asia/Shanghai");
    EXPECT_EQ(NSTimeZone::timeZoneWithAbbreviation("UTC+3")->secondsFromGMT(), 3 * 3600);
    EXPECT_FALSE(NSTimeZone::timeZoneWithAbbreviation("XYZ"));

    // Daylight saving: New York is an hour nearer GMT in July.
    auto ny = NSTimeZone::timeZoneWithName("America/New_York");
    auto january = NSDate::dateWithTimeIntervalSince1970(1767225600);  // 2026-01-01
    auto july = NSDate::dateWithTimeIntervalSince1970(1782864000);     // 2026-07-01
    EXPECT_EQ(ny->secondsFromGMTForDate(january), -5 * 3600);
    EXPECT_EQ(ny->secondsFromGMTForDate(july), -4 * 3600);
    EXPECT_TRUE(ny->isDaylightSavingTimeForDate(july));
    EXPECT_FALSE(ny->isDaylightSavingTimeForDate(january));

    // The default zone is settable and resettable.
    EXPECT_TRUE(NSTimeZone::localTimeZone()->isEqual(*shanghai));
    NSTimeZone::setDefaultTimeZone(nullptr);
    EXPECT_TRUE(NSTimeZone::localTimeZone()->isEqual(*NSTimeZone::systemTimeZone()));
    EXPECT_FALSE(NSTimeZone::systemTimeZone()->name().empty());
}

TEST_F(CalendarFixture, ComponentsInTheLocalZone) {
    auto cal = NSCalendar::currentCalendar();
    auto c =
        cal->components(NSCalendarUnitYear | NSCalendarUnitMonth | NSCalendarUnitDay | NSCalendarUnitHour |
                            NSCalendarUnitMinute | NSCalendarUnitSecond | NSCalendarUnitWeekday,
                        NSDate::dateWithTimeIntervalSince1970(kMoment + 61.5));
    EXPECT_EQ(c->year(), 2026);
    EXPECT_EQ(c->month(), 12);
    EXPECT_EQ(c->day(), 7);
    EXPECT_EQ(c->hour(), 2);
    EXPECT_EQ(c->minute(), 1);
    EXPECT_EQ(c->second(), 1);
    EXPECT_EQ(c->weekday(), 2);  // Monday
    EXPECT_EQ(c->era(), NSDateComponentUndefined);
    EXPECT_EQ(c->nanosecond(), NSDateComponentUndefined);

    cal->setTimeZone(NSTimeZone::timeZoneForSecondsFromGMT(0));
    auto utc = cal->components(NSDayCalendarUnit | NSHourCalendarUnit | NSCalendarUnitNanosecond |
                                   NSCalendarUnitQuarter | NSCalendarUnitTimeZone,
                               NSDate::dateWithTimeIntervalSince1970(kMoment + 0.25));
    EXPECT_EQ(utc->day(), 6);
    EXPECT_EQ(utc->hour(), 18);
    EXPECT_EQ(utc->nanosecond(), 250000000);
    EXPECT_EQ(utc->quarter(), 4);
    EXPECT_EQ(utc->timeZone()->name(), "GMT");
    EXPECT_EQ(cal->component(NSCalendarUnitMonth, NSDate::dateWithTimeIntervalSince1970(0)), 1);
    // Before 1970, and negative fractions.
    auto early = cal->components(NSCalendarUnitYear | NSCalendarUnitSecond | NSCalendarUnitNanosecond,
                                 NSDate::dateWithTimeIntervalSince1970(-0.5));
    EXPECT_EQ(early->year(), 1969);
    EXPECT_EQ(early->second(), 59);
    EXPECT_EQ(early->nanosecond(), 500000000);
}

TEST_F(CalendarFixture, DateFromComponents) {
    auto cal = NSCalendar::currentCalendar();
    auto c = make<NSDateComponents>();
    c->setYear(2026);
    c->setMonth(12);
    c->setDay(7);
    c->setHour(2);
    auto date = cal->dateFromComponents(*c);
    ASSERT_TRUE(date);
    EXPECT_EQ(date->timeIntervalSince1970(), kMoment);
    // Rolling over: month 13 is January of the next year; day 0 is the last of the month before.
    c->setMonth(13);
    c->setDay(0);
    auto rolled = cal->components(NSCalendarUnitYear | NSCalendarUnitMonth | NSCalendarUnitDay,
                                  *cal->dateFromComponents(*c));
    EXPECT_EQ(rolled->year(), 2026);
    EXPECT_EQ(rolled->month(), 12);
    EXPECT_EQ(rolled->day(), 31);
    // A zone on the components wins over the calendar's.
    auto g = make<NSDateComponents>();
    g->setYear(1970);
    g->setTimeZone(NSTimeZone::timeZoneForSecondsFromGMT(0));
    EXPECT_EQ(cal->dateFromComponents(*g)->timeIntervalSince1970(), 0.0);
    // ...and does not stick to the calendar.
    auto h = make<NSDateComponents>();
    h->setYear(1970);
    EXPECT_EQ(cal->dateFromComponents(*h)->timeIntervalSince1970(), -8 * 3600.0);
    // Nothing set: year 1, January 1, midnight.
    auto origin = cal->dateFromComponents(*make<NSDateComponents>());
    ASSERT_TRUE(origin);
    EXPECT_EQ(cal->component(NSCalendarUnitYear, *origin), 1);
    // Values no field can hold.
    auto huge = make<NSDateComponents>();
    huge->setYear(1L << 40);
    EXPECT_FALSE(cal->dateFromComponents(*huge));
    // With a calendar attached, components know their date.
    auto withCalendar = cal->components(NSCalendarUnitYear | NSCalendarUnitMonth | NSCalendarUnitDay |
                                            NSCalendarUnitHour | NSCalendarUnitCalendar,
                                        NSDate::dateWithTimeIntervalSince1970(kMoment));
    ASSERT_TRUE(withCalendar->calendar());
    EXPECT_EQ(withCalendar->date()->timeIntervalSince1970(), kMoment);
    EXPECT_FALSE(make<NSDateComponents>()->date());
}

TEST_F(CalendarFixture, DifferencesLargestUnitFirst) {
    auto cal = NSCalendar::currentCalendar();
    NSDate from = NSDate::dateWithTimeIntervalSince1970(kMoment);
    NSDate to = from.dateByAddingTimeInterval(((31 + 2) * 24 + 3) * 3600.0 + 4 * 60 + 5);  // Jan 9 05:04:05
    auto d = cal->components(NSCalendarUnitMonth | NSCalendarUnitDay | NSCalendarUnitHour |
                                 NSCalendarUnitMinute | NSCalendarUnitSecond,
                             from, to);
    EXPECT_EQ(d->month(), 1);
    EXPECT_EQ(d->day(), 2);
    EXPECT_EQ(d->hour(), 3);
    EXPECT_EQ(d->minute(), 4);
    EXPECT_EQ(d->second(), 5);
    auto back = cal->components(NSCalendarUnitDay | NSCalendarUnitHour, to, from);
    EXPECT_EQ(back->day(), -33);
    EXPECT_EQ(back->hour(), -3);
    auto seconds = cal->components(NSCalendarUnitSecond, from, to);
    EXPECT_EQ(seconds->second(), static_cast<long>(to.timeIntervalSinceDate(from)));
    auto same = cal->components(NSCalendarUnitYear | NSCalendarUnitDay, from, from);
    EXPECT_EQ(same->year(), 0);
    EXPECT_EQ(same->day(), 0);
    auto weeks = cal->components(NSCalendarUnitWeekOfYear | NSCalendarUnitDay, from, to);
    EXPECT_EQ(weeks->weekOfYear(), 4);
    EXPECT_EQ(weeks->day(), 5);
    auto quarters = cal->components(NSCalendarUnitQuarter | NSCalendarUnitDay, from,
                                    *cal->dateByAddingUnit(NSCalendarUnitMonth, 7, from));
    EXPECT_EQ(quarters->quarter(), 2);
    EXPECT_EQ(quarters->day(), 30);  // June 7 to July 7, the month left over, in days
    // Distant dates: no crash, a large answer.
    auto far = cal->components(NSCalendarUnitYear, NSDate::distantPast(), NSDate::distantFuture());
    EXPECT_GT(far->year(), 3990);
}

TEST_F(CalendarFixture, AddingUnits) {
    auto cal = NSCalendar::currentCalendar();
    auto start = make<NSDateComponents>();
    start->setYear(2026);
    start->setMonth(1);
    start->setDay(31);
    auto jan31 = cal->dateFromComponents(*start);
    ASSERT_TRUE(jan31);
    auto feb = cal->dateByAddingUnit(NSCalendarUnitMonth, 1, *jan31);
    EXPECT_EQ(cal->component(NSCalendarUnitDay, *feb), 28);  // clamped to the month's end
    auto step = make<NSDateComponents>();
    step->setDay(1);
    step->setHour(-2);
    auto next = cal->dateByAddingComponents(*step, *jan31);
    EXPECT_EQ(next->timeIntervalSinceDate(*jan31), 22 * 3600.0);
    auto tooBig = make<NSDateComponents>();
    tooBig->setDay(1L << 40);
    EXPECT_FALSE(cal->dateByAddingComponents(*tooBig, *jan31));
    EXPECT_EQ(cal->startOfDayForDate(jan31->dateByAddingTimeInterval(3 * 3600 + 5)).timeIntervalSince1970(),
              jan31->timeIntervalSince1970());
}

TEST_F(CalendarFixture, TodayFollowsThePlatformClock) {
    PlatformClock::useManualClock(kMoment);  // 02:00 on Monday in Shanghai
    auto cal = NSCalendar::currentCalendar();
    NSDate now = NSDate::date();
    EXPECT_TRUE(cal->isDateInToday(now));
    EXPECT_TRUE(cal->isDateInToday(now.dateByAddingTimeInterval(-2 * 3600)));       // midnight
    EXPECT_FALSE(cal->isDateInToday(now.dateByAddingTimeInterval(-2 * 3600 - 1)));  // Sunday
    EXPECT_TRUE(cal->isDateInYesterday(now.dateByAddingTimeInterval(-2 * 3600 - 1)));
    EXPECT_TRUE(cal->isDateInTomorrow(now.dateByAddingTimeInterval(22 * 3600)));
    PlatformClock::advance(22 * 3600);  // Tuesday begins
    EXPECT_FALSE(cal->isDateInToday(now));
    EXPECT_TRUE(cal->isDateInYesterday(now));
    // In another zone the same moments fall on other days.
    cal->setTimeZone(NSTimeZone::timeZoneWithName("America/Los_Angeles"));
    EXPECT_TRUE(cal->isDateInToday(now.dateByAddingTimeInterval(22 * 3600)));
}

TEST_F(CalendarFixture, IdentifiersEqualityAndCopies) {
    EXPECT_FALSE(NSCalendar::calendarWithIdentifier("martian"));
    auto buddhist = NSCalendar::calendarWithIdentifier(NSCalendarIdentifierBuddhist);
    ASSERT_TRUE(buddhist);
    EXPECT_EQ(buddhist->component(NSCalendarUnitYear, NSDate::dateWithTimeIntervalSince1970(kMoment)), 2569);
    auto a = NSCalendar::currentCalendar();
    auto b = NSCalendar::currentCalendar();
    EXPECT_TRUE(a->isEqual(*b));
    b->setFirstWeekday(3);
    EXPECT_EQ(b->firstWeekday(), 3);
    EXPECT_FALSE(a->isEqual(*b));
    b->setFirstWeekday(9);  // refused
    EXPECT_EQ(b->firstWeekday(), 3);
    auto copy = asKind<NSCalendar>(b->copyObject());
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->isEqual(*b));
    EXPECT_EQ(copy->timeZone()->name(), "Asia/Shanghai");

    auto x = make<NSDateComponents>();
    x->setYear(1);
    x->setValue(5, NSCalendarUnitMinute);
    EXPECT_EQ(x->valueForComponent(NSCalendarUnitMinute), 5);
    auto y = asKind<NSDateComponents>(x->copyObject());
    EXPECT_TRUE(y->isEqual(*x));
    EXPECT_EQ(y->hash(), x->hash());
    y->setMinute(6);
    EXPECT_FALSE(y->isEqual(*x));
    EXPECT_NE(x->description().find("Minute: 5"), std::string::npos);
    EXPECT_EQ(x->valueForComponent(NSCalendarUnitCalendar), NSDateComponentUndefined);
}

TEST_F(CalendarFixture, OneCalendarFromManyThreads) {
    auto cal = NSCalendar::currentCalendar();
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                NSDate d = NSDate::dateWithTimeIntervalSince1970(kMoment + t * 86400.0);
                if (cal->component(NSCalendarUnitDay, d) != 7 + t) ++wrong;
                if (t == 0 && i % 50 == 0) cal->setLocale(NSLocale::localeWithLocaleIdentifier("en_US"));
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
