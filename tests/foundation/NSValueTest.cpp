#include "foundation/NSValue.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "foundation/NSDecimalNumber.h"
#include "foundation/NSUUID.h"
#include "tests/support/TestSupport.h"

namespace {

struct Point {
    double x, y;
};
struct Rect {
    double x, y, w, h;
};

TEST(NSValueTest, BoxesBytesWithTheirEncoding) {
    Point p{1.5, -2};
    auto v = NSValue::valueWithBytes(&p, sizeof p, "{CGPoint=dd}");
    EXPECT_EQ(v->objCType(), "{CGPoint=dd}");
    EXPECT_EQ(v->size(), sizeof p);
    Point out{};
    EXPECT_TRUE(v->getValue(&out, sizeof out));
    EXPECT_EQ(out.x, 1.5);
    EXPECT_EQ(out.y, -2);
    EXPECT_EQ(v->description(), "NSPoint: {1.5, -2}");
    // The wrong size copies nothing.
    Rect r{9, 9, 9, 9};
    EXPECT_FALSE(v->getValue(&r, sizeof r));
    EXPECT_EQ(r.x, 9);
    EXPECT_FALSE(v->getValue(nullptr, sizeof p));
    EXPECT_TRUE(v->valueAs<Point>("{CGPoint=dd}"));
    EXPECT_FALSE(v->valueAs<Point>("{CGSize=dd}"));
    EXPECT_FALSE(v->valueAs<Rect>("{CGPoint=dd}"));
}

TEST(NSValueTest, DescriptionsOfGeometry) {
    Rect r{1, 2, 3, 4.25};
    EXPECT_EQ(NSValue::valueWithValue(r, "{CGRect={CGPoint=dd}{CGSize=dd}}")->description(),
              "NSRect: {{1, 2}, {3, 4.25}}");
    EXPECT_EQ(NSValue::valueWithValue(r, "{UIEdgeInsets=dddd}")->description(),
              "UIEdgeInsets: {1, 2, 3, 4.25}");
    Point s{50, 60};
    EXPECT_EQ(NSValue::valueWithValue(s, "{CGSize=dd}")->description(), "NSSize: {50, 60}");
    int i = 10;
    EXPECT_EQ(NSValue::valueWithValue(i, "i")->description(), "<0a000000>");
    // A geometry encoding with the wrong byte count falls back to bytes.
    EXPECT_EQ(NSValue::valueWithValue(i, "{CGPoint=dd}")->description(), "<0a000000>");
    EXPECT_EQ(NSValue::valueWithBytes(nullptr, 0, "v")->description(), "<>");
}

TEST(NSValueTest, EqualityNeedsSameEncodingAndBytes) {
    Point p{50, 60};
    auto a = NSValue::valueWithValue(p, "{CGSize=dd}");
    auto b = NSValue::valueWithValue(p, "{CGSize=dd}");
    auto c = NSValue::valueWithValue(p, "{CGPoint=dd}");
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_FALSE(a->isEqual(*c));
    auto copy = asKind<NSValue>(a->copyObject());
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->isEqual(*a));
    int x = 0;
    auto ptr = NSValue::valueWithPointer(&x);
    EXPECT_EQ(ptr->pointerValue(), &x);
    EXPECT_EQ(a->pointerValue(), nullptr);
    EXPECT_EQ(a->className(), "NSValue");
}

// ---------------------------------------------------------------------------------------------

TEST(NSDecimalNumberTest, KeepsDigitsExactly) {
    auto d = NSDecimalNumber::decimalNumberWithString("19.99");
    EXPECT_EQ(d->stringValue(), "19.99");
    EXPECT_DOUBLE_EQ(d->doubleValue(), 19.99);
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("0.1000000000000000000000000000000001")->stringValue(),
              "0.1000000000000000000000000000000001");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("123456789012345678901234567890")->stringValue(),
              "123456789012345678901234567890");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("1.50")->stringValue(), "1.5");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("007")->stringValue(), "7");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString(".5")->stringValue(), "0.5");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("5.")->stringValue(), "5");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("-0.00")->stringValue(), "0");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("1.2e3")->stringValue(), "1200");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("-12E-4")->stringValue(), "-0.0012");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("  +3")->stringValue(), "3");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("12abc")->stringValue(), "12");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("1e")->stringValue(), "1");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithMantissa(125, -2, true)->stringValue(), "-1.25");
    EXPECT_EQ(NSDecimalNumber::zero()->stringValue(), "0");
    EXPECT_EQ(NSDecimalNumber::one()->intValue(), 1);
}

TEST(NSDecimalNumberTest, NotANumber) {
    for (auto text : {"", "abc", "-", ".", "+.", "e5", " ", "--1"}) {
        auto d = NSDecimalNumber::decimalNumberWithString(text);
        EXPECT_TRUE(d->isNaN()) << text;
        EXPECT_EQ(d->stringValue(), "NaN");
        EXPECT_TRUE(std::isnan(d->doubleValue()));
        EXPECT_EQ(d->longLongValue(), 0);
        EXPECT_FALSE(NSDecimalNumber::decimalNumberWithExactString(text)) << text;
    }
    EXPECT_FALSE(NSDecimalNumber::decimalNumberWithExactString("12abc"));
    EXPECT_TRUE(NSDecimalNumber::decimalNumberWithExactString(" 12.5 "));
    EXPECT_TRUE(NSDecimalNumber::notANumber()->isEqual(*NSDecimalNumber::decimalNumberWithString("x")));
}

TEST(NSDecimalNumberTest, ComparesByValue) {
    auto n = [](const char* t) { return NSDecimalNumber::decimalNumberWithString(t); };
    EXPECT_EQ(n("1.5")->compare(*n("1.50")), 0);
    EXPECT_TRUE(n("1.5")->isEqual(*n("15e-1")));
    EXPECT_EQ(n("1.5")->hash(), n("15e-1")->hash());
    EXPECT_EQ(n("0.1")->compare(*n("0.09999999999999999999")), 1);
    EXPECT_EQ(n("-2")->compare(*n("-10")), 1);
    EXPECT_EQ(n("-2")->compare(*n("1")), -1);
    EXPECT_EQ(n("0")->compare(*n("-0")), 0);
    EXPECT_EQ(n("100")->compare(*n("99.999")), 1);
    EXPECT_EQ(n("x")->compare(*n("-1e100")), -1);
    EXPECT_EQ(n("1")->compare(*n("x")), 1);
}

TEST(NSDecimalNumberTest, ExtremeValues) {
    auto big = NSDecimalNumber::decimalNumberWithString("1e999999999999999999999");
    EXPECT_TRUE(std::isinf(big->doubleValue()));
    EXPECT_EQ(big->longLongValue(), LLONG_MAX);
    auto tiny = NSDecimalNumber::decimalNumberWithString("-1e-999999999999");
    EXPECT_EQ(tiny->doubleValue(), 0.0);
    EXPECT_EQ(tiny->longLongValue(), 0);
    EXPECT_LT(tiny->stringValue().size(), 64u);  // no gigabyte of zeros
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("9223372036854775807")->longLongValue(), LLONG_MAX);
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("-9223372036854775808")->longLongValue(), LLONG_MIN);
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("-9223372036854775809")->longLongValue(), LLONG_MIN);
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("12.99")->longLongValue(), 12);
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("0.5")->longLongValue(), 0);
}

TEST(NSDecimalNumberTest, MutatedTextNeverCrashes) {
    const std::string seeds[] = {"19.99", "-1.25e-7", "  123456789012345678901234567890.000", "0"};
    for (unsigned seed = 0; seed < 3000; ++seed) {
        std::string text = testsupport::mutate(seeds[seed % 4], seed);
        auto d = NSDecimalNumber::decimalNumberWithString(text);
        ASSERT_TRUE(d);
        std::string s = d->stringValue();
        if (d->isNaN()) continue;
        // The printed form reads back as the same value.
        auto back = NSDecimalNumber::decimalNumberWithExactString(s);
        ASSERT_TRUE(back) << text << " -> " << s;
        EXPECT_EQ(back->compare(*d), 0) << text;
        (void)d->doubleValue();
        (void)d->longLongValue();
    }
}

// ---------------------------------------------------------------------------------------------

TEST(NSUUIDTest, RandomIdentifiersInUpperCaseText) {
    auto a = NSUUID::UUID();
    auto b = NSUUID::UUID();
    std::string text = a->UUIDString();
    ASSERT_EQ(text.size(), 36u);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            EXPECT_EQ(text[i], '-');
        } else {
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text[i])) ||
                        (text[i] >= 'A' && text[i] <= 'F'))
                << text;
        }
    }
    EXPECT_EQ(text[14], '4');  // version 4
    EXPECT_FALSE(a->isEqual(*b));
    auto parsed = NSUUID::initWithUUIDString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->UUIDString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_TRUE(parsed->isEqual(*NSUUID::initWithUUIDString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F")));
    EXPECT_EQ(parsed->hash(), NSUUID::initWithUUIDString(parsed->UUIDString())->hash());
    EXPECT_EQ(parsed->getUUIDBytes()[0], 0xe6);
    EXPECT_EQ(parsed->compare(*NSUUID::initWithUUIDBytes(parsed->getUUIDBytes())), 0);
    EXPECT_TRUE(asKind<NSUUID>(parsed->copyObject())->isEqual(*parsed));
}

TEST(NSUUIDTest, RefusesMalformedText) {
    const std::string bad[] = {
        "",
        "E621E1F8C36C495A93FC0C247A3E6E5F",
        "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
        "E621E1F8-C36C-495A-93FC-0C247A3E6E5FF",
        "G621E1F8-C36C-495A-93FC-0C247A3E6E5F",
        "E621E1F8_C36C-495A-93FC-0C247A3E6E5F",
        std::string("E621E1F8-C36C-495A-93FC-0C247A3E6E5\0", 36),
    };
    for (auto& t : bad) EXPECT_FALSE(NSUUID::initWithUUIDString(t)) << t;
    for (unsigned seed = 0; seed < 2000; ++seed) {
        std::string text = testsupport::mutate("E621E1F8-C36C-495A-93FC-0C247A3E6E5F", seed);
        auto u = NSUUID::initWithUUIDString(text);
        if (u) {
            EXPECT_EQ(text.size(), 36u);
        }
    }
}

}  // namespace
