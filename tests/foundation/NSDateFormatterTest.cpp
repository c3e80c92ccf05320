#include "foundation/NSDateFormatter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "foundation/NSNumberFormatter.h"
#include "tests/support/TestSupport.h"

namespace {

class FormatterFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        NSTimeZone::setDefaultTimeZone(NSTimeZone::timeZoneWithName("Asia/Shanghai"));
        NSLocale::setCurrentLocale(NSLocale::localeWithLocaleIdentifier("zh_CN"));
    }
    void TearDown() override {
        NSTimeZone::setDefaultTimeZone(nullptr);
        NSLocale::setCurrentLocale(nullptr);
    }
    // 2026-12-06 18:00:00.123 UTC, 2026-12-07 02:00:00.123 in Shanghai.
    static NSDate moment() { return NSDate::dateWithTimeIntervalSince1970(1796580000.123); }

    static std::string format(const char* pattern, NSDate date = moment()) {
        auto f = make<NSDateFormatter>();
        f->setDateFormat(pattern);
        return f->stringFromDate(date);
    }
};

TEST_F(FormatterFixture, PatternsTheAppUses) {
    EXPECT_EQ(format("今天 HH:mm"), "今天 02:00");
    EXPECT_EQ(format("MM-dd HH:mm"), "12-07 02:00");
    EXPECT_EQ(format("yyyy-MM-dd HH:mm"), "2026-12-07 02:00");
    EXPECT_EQ(format("yyyy-MM-dd HH:mm:ss"), "2026-12-07 02:00:00");
    EXPECT_EQ(format("yyyy-MM-dd"), "2026-12-07");
    EXPECT_EQ(format("HH:mm:ss"), "02:00:00");
    EXPECT_EQ(format("HH:mm:ss.SSS"), "02:00:00.123");
    EXPECT_EQ(format("yyyy年M月d日"), "2026年12月7日");
    EXPECT_EQ(format("'T'HH'h'"), "T02h");
    EXPECT_EQ(format(""), "");
}

TEST_F(FormatterFixture, TimeZoneAndLocaleAreSettable) {
    auto f = make<NSDateFormatter>();
    f->setDateFormat("yyyy-MM-dd HH:mm zzz");
    f->setTimeZone(NSTimeZone::timeZoneForSecondsFromGMT(0));
    EXPECT_EQ(f->stringFromDate(moment()), "2026-12-06 18:00 GMT");
    f->setTimeZone(nullptr);  // back to the default zone
    EXPECT_EQ(f->timeZone()->name(), "Asia/Shanghai");
    f->setDateFormat("EEEE MMMM");
    f->setLocale(NSLocale::localeWithLocaleIdentifier("en_US_POSIX"));
    EXPECT_EQ(f->stringFromDate(moment()), "Monday December");
    f->setLocale(NSLocale::localeWithLocaleIdentifier("zh_CN"));
    EXPECT_EQ(f->stringFromDate(moment()), "星期一 十二月");
    // A formatter keeps the zone it was made with when the default changes later.
    auto early = make<NSDateFormatter>();
    early->setDateFormat("HH");
    NSTimeZone::setDefaultTimeZone(NSTimeZone::timeZoneForSecondsFromGMT(0));
    EXPECT_EQ(early->stringFromDate(moment()), "02");
    EXPECT_EQ(make<NSDateFormatter>()->timeZone()->name(), "GMT");
}

TEST_F(FormatterFixture, ParsesISOTextInGMT) {
    auto f = make<NSDateFormatter>();
    f->setDateFormat("yyyy-MM-dd'T'HH:mm:ssz");
    f->setTimeZone(NSTimeZone::timeZoneForSecondsFromGMT(0));
    f->setLocale(NSLocale::currentLocale());
    auto gmt = f->dateFromString("2014-05-13T10:00:00GMT");
    ASSERT_TRUE(gmt);
    EXPECT_EQ(gmt->timeIntervalSince1970(), 1399975200.0);
    auto offset = f->dateFromString("2014-05-13T10:00:00+0800");
    ASSERT_TRUE(offset);
    EXPECT_EQ(offset->timeIntervalSince1970(), 1399975200.0 - 8 * 3600);
    EXPECT_EQ(f->dateFromString("2014-05-13T10:00:00GMT+08:00")->timeIntervalSince1970(),
              offset->timeIntervalSince1970());
    EXPECT_EQ(f->dateFromString("2014-05-13T10:00:00Z")->timeIntervalSince1970(), 1399975200.0);
    EXPECT_FALSE(f->dateFromString("2014-05-13T10:00:00"));  // no zone
    EXPECT_FALSE(f->dateFromString("2014-05-13 10:00:00GMT"));
    EXPECT_FALSE(f->dateFromString("2014-05-13T10:00:00GMTjunk"));
    EXPECT_FALSE(f->dateFromString(""));
}

TEST_F(FormatterFixture, ParsingRoundTripsAndDefaults) {
    auto f = make<NSDateFormatter>();
    f->setDateFormat("yyyy-MM-dd HH:mm:ss");
    auto parsed = f->dateFromString("2026-12-07 02:00:00");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->timeIntervalSince1970(), 1796580000.0);
    EXPECT_EQ(f->stringFromDate(*parsed), "2026-12-07 02:00:00");
    // What the pattern leaves out comes from 2000-01-01 00:00:00 in the formatter's zone.
    f->setDateFormat("HH:mm");
    auto time = f->dateFromString("10:30");
    ASSERT_TRUE(time);
    f->setDateFormat("yyyy-MM-dd HH:mm:ss");
    EXPECT_EQ(f->stringFromDate(*time), "2000-01-01 10:30:00");
    f->setDateFormat("今天 HH:mm");
    EXPECT_TRUE(f->dateFromString("今天 10:30"));
    EXPECT_FALSE(f->dateFromString("明天 10:30"));
    // Strict by default; lenient on request.
    f->setDateFormat("yyyy-MM-dd");
    EXPECT_FALSE(f->isLenient());
    EXPECT_FALSE(f->dateFromString("2014-13-03"));
    f->setLenient(true);
    auto rolled = f->dateFromString("2014-13-03");
    ASSERT_TRUE(rolled);
    EXPECT_EQ(f->stringFromDate(*rolled), "2015-01-03");
}

TEST_F(FormatterFixture, StylesAndCopies) {
    auto f = make<NSDateFormatter>();
    f->setLocale(NSLocale::localeWithLocaleIdentifier("en_US_POSIX"));
    f->setDateStyle(NSDateFormatterShortStyle);
    EXPECT_FALSE(f->dateFormat().empty());
    EXPECT_EQ(f->dateStyle(), NSDateFormatterShortStyle);
    std::string shortText = f->stringFromDate(moment());
    EXPECT_NE(shortText.find("26"), std::string::npos) << shortText;
    f->setTimeStyle(NSDateFormatterShortStyle);
    EXPECT_GT(f->stringFromDate(moment()).size(), shortText.size());
    auto copy = asKind<NSDateFormatter>(f->copyObject());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->dateFormat(), f->dateFormat());
    EXPECT_EQ(copy->stringFromDate(moment()), f->stringFromDate(moment()));
    EXPECT_FALSE(
        NSDateFormatter::localizedStringFromDate(moment(), NSDateFormatterMediumStyle, NSDateFormatterNoStyle)
            .empty());
    f->setDateStyle(NSDateFormatterNoStyle);
    f->setTimeStyle(NSDateFormatterNoStyle);
    EXPECT_EQ(f->dateFormat(), "");
}

TEST_F(FormatterFixture, BadPatternsAndDates) {
    auto f = make<NSDateFormatter>();
    // An unclosed quote runs to the end of the pattern.
    f->setDateFormat("yyyy-MM-dd 'unclosed");
    EXPECT_EQ(f->stringFromDate(moment()), "2026-12-07 unclosed");
    EXPECT_TRUE(f->dateFromString("2026-12-07 unclosed"));
    // Letters that name no field write nothing and match nothing.
    f->setDateFormat("yyyy-MM-dd jj");
    EXPECT_EQ(f->stringFromDate(moment()), "2026-12-07 ");
    EXPECT_FALSE(f->dateFromString("2026-12-07 "));
    f->setDateFormat("yyyy");
    EXPECT_EQ(f->stringFromDate(NSDate::dateWithTimeIntervalSince1970(std::nan(""))), "");
    EXPECT_EQ(f->stringFromDate(NSDate::distantFuture()), "4001");
}

TEST_F(FormatterFixture, MutatedDateTextIsRefusedOrReadable) {
    auto f = make<NSDateFormatter>();
    f->setDateFormat("yyyy-MM-dd'T'HH:mm:ssz");
    f->setTimeZone(NSTimeZone::timeZoneForSecondsFromGMT(0));
    auto plain = make<NSDateFormatter>();
    plain->setDateFormat("yyyy-MM-dd HH:mm:ss.SSS");
    const std::string seeds[] = {"2014-05-13T10:00:00GMT", "2014-05-13T10:00:00+0800",
                                 "1999-12-31T23:59:59GMT-01:30"};
    int parsed = 0;
    for (unsigned seed = 0; seed < 3000; ++seed) {
        std::string text = testsupport::mutate(seeds[seed % 3], seed);
        auto d = f->dateFromString(text);
        if (d) {
            ++parsed;
            EXPECT_TRUE(std::isfinite(d->timeIntervalSince1970())) << text;
        }
        (void)plain->dateFromString(text);
    }
    EXPECT_GT(parsed, 10);
    // Long hostile text.
    EXPECT_FALSE(f->dateFromString(std::string(100000, '9')));
    EXPECT_FALSE(f->dateFromString(std::string("2014-05-13T10:00:00GMT\0x", 24)));
    EXPECT_FALSE(f->dateFromString("\xff\xfe\xfd"));
}

TEST_F(FormatterFixture, OneFormatterFromManyThreads) {
    auto f = make<NSDateFormatter>();
    f->setDateFormat("yyyy-MM-dd HH:mm:ss");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                NSDate d = NSDate::dateWithTimeIntervalSince1970(1796580000.0 + t * 3600);
                auto back = f->dateFromString(f->stringFromDate(d));
                if (!back || back->timeIntervalSince1970() != d.timeIntervalSince1970()) ++wrong;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

// ---------------------------------------------------------------------------------------------

TEST_F(FormatterFixture, NumberFormatterReadsDecimalText) {
    auto f = make<NSNumberFormatter>();
    f->setNumberStyle(NSNumberFormatterDecimalStyle);
    Value twelve = f->numberFromString("12");
    ASSERT_TRUE(twelve.isNumber());
    EXPECT_FALSE(twelve.number()->isReal());
    EXPECT_EQ(twelve.intValue(), 12);
    Value half = f->numberFromString("-12.5");
    ASSERT_TRUE(half.isNumber());
    EXPECT_TRUE(half.number()->isReal());
    EXPECT_EQ(half.doubleValue(), -12.5);
    EXPECT_EQ(f->numberFromString("1,234.5").doubleValue(), 1234.5);
    EXPECT_EQ(f->numberFromString("9223372036854775807").number()->longLongValue(), 9223372036854775807LL);
    for (auto bad : {"", "abc", "12abc", "1.2.3", "--1", " ", "\xff", "12 "}) {
        EXPECT_TRUE(f->numberFromString(bad).isNil()) << bad;
    }
    EXPECT_EQ(f->numberFromString("0").intValue(), 0);
}

TEST_F(FormatterFixture, NumberFormatterWritesNumbers) {
    auto f = make<NSNumberFormatter>();
    EXPECT_EQ(f->stringFromNumber(NSNumber::numberWithDouble(1234.5)), "1234");  // no style rounds half even
    EXPECT_EQ(f->stringFromNumber(NSNumber::numberWithDouble(1235.5)), "1236");
    f->setNumberStyle(NSNumberFormatterDecimalStyle);
    EXPECT_EQ(f->stringFromNumber(NSNumber::numberWithDouble(1234.56789)), "1,234.568");
    EXPECT_EQ(f->stringFromNumber(NSNumber::numberWithInt(-7)), "-7");
    EXPECT_EQ(f->stringFromNumber(NSNumber::numberWithUnsignedLongLong(18446744073709551615ull)),
              "18,446,744,073,709,551,615");
    f->setUsesGroupingSeparator(false);
    f->setMinimumFractionDigits(2);
    EXPECT_EQ(f->stringFromNumber(NSNumber::numberWithInt(5)), "5.00");
    f->setMaximumFractionDigits(-3);  // clamped
    f->setMinimumFractionDigits(0);
    EXPECT_EQ(f->stringFromNumber(NSNumber::numberWithDouble(2.4)), "2");
    f->setLocale(NSLocale::localeWithLocaleIdentifier("de_DE"));
    f->setNumberStyle(NSNumberFormatterDecimalStyle);
    EXPECT_EQ(f->stringFromNumber(NSNumber::numberWithDouble(1234.5)), "1.234,5");
    EXPECT_EQ(f->numberFromString("1.234,5").doubleValue(), 1234.5);
    EXPECT_EQ(NSNumberFormatter::localizedStringFromNumber(NSNumber::numberWithDouble(0.25),
                                                           NSNumberFormatterPercentStyle),
              "25%");
    auto copy = asKind<NSNumberFormatter>(f->copyObject());
    EXPECT_EQ(copy->numberStyle(), NSNumberFormatterDecimalStyle);
    EXPECT_EQ(copy->locale()->localeIdentifier(), "de_DE");
}

TEST_F(FormatterFixture, MutatedNumberTextIsNilOrANumber) {
    auto f = make<NSNumberFormatter>();
    f->setNumberStyle(NSNumberFormatterDecimalStyle);
    const std::string seeds[] = {"1,234.5", "-0.000123", "9223372036854775807", "42"};
    for (unsigned seed = 0; seed < 3000; ++seed) {
        std::string text = testsupport::mutate(seeds[seed % 4], seed);
        Value v = f->numberFromString(text);
        EXPECT_TRUE(v.isNil() || v.isNumber()) << text;
    }
    EXPECT_TRUE(f->numberFromString(std::string(100000, '9')).isNumber());
}

}  // namespace
