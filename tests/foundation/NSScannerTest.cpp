#include "foundation/NSScanner.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "tests/support/TestSupport.h"

namespace {

TEST(NSScannerTest, IntegersSkippingWhiteSpace) {
    auto s = NSScanner::scannerWithString("  42 -17\n+8 x");
    int a = 0, b = 0, c = 0;
    EXPECT_TRUE(s->scanInt(&a));
    EXPECT_EQ(a, 42);
    EXPECT_EQ(s->scanLocation(), 4u);
    EXPECT_TRUE(s->scanInt(&b));
    EXPECT_EQ(b, -17);
    EXPECT_TRUE(s->scanInt(&c));
    EXPECT_EQ(c, 8);
    std::size_t before = s->scanLocation();
    EXPECT_FALSE(s->scanInt(&a));
    EXPECT_EQ(s->scanLocation(), before);  // a failed scan moves nothing
    EXPECT_EQ(a, 42);
    EXPECT_FALSE(s->isAtEnd());
    EXPECT_TRUE(s->scanString("X", nullptr));  // case ignored by default
    EXPECT_TRUE(s->isAtEnd());
    EXPECT_FALSE(s->scanInt(nullptr));
}

TEST(NSScannerTest, OverflowSaturatesAndStillScans) {
    auto s =
        NSScanner::scannerWithString("99999999999 -99999999999 99999999999999999999999 -9223372036854775808");
    int i = 0;
    EXPECT_TRUE(s->scanInt(&i));
    EXPECT_EQ(i, INT_MAX);
    EXPECT_TRUE(s->scanInt(&i));
    EXPECT_EQ(i, INT_MIN);
    long long ll = 0;
    EXPECT_TRUE(s->scanLongLong(&ll));
    EXPECT_EQ(ll, LLONG_MAX);
    EXPECT_TRUE(s->scanLongLong(&ll));
    EXPECT_EQ(ll, LLONG_MIN);
    EXPECT_TRUE(s->isAtEnd());
    auto u = NSScanner::scannerWithString("18446744073709551616 7");
    unsigned long long v = 0;
    EXPECT_TRUE(u->scanUnsignedLongLong(&v));
    EXPECT_EQ(v, ULLONG_MAX);
    long n = 0;
    EXPECT_TRUE(u->scanInteger(&n));
    EXPECT_EQ(n, 7);
}

TEST(NSScannerTest, SignsAloneAreNotNumbers) {
    for (auto text : {"-", "+", "- 1", "", "   ", "abc", "\xef\xbc\x91" /* fullwidth 1 */}) {
        auto s = NSScanner::scannerWithString(text);
        EXPECT_FALSE(s->scanInt(nullptr)) << text;
        EXPECT_FALSE(s->scanDouble(nullptr)) << text;
        EXPECT_EQ(s->scanLocation(), 0u);
    }
}

TEST(NSScannerTest, FloatingPoint) {
    auto s = NSScanner::scannerWithString("3.25 -.5 5. 1e3 2E-2 7e 1e+x .e1 1e99999 -1e99999 1e-99999");
    double d = 0;
    EXPECT_TRUE(s->scanDouble(&d));
    EXPECT_EQ(d, 3.25);
    EXPECT_TRUE(s->scanDouble(&d));
    EXPECT_EQ(d, -0.5);
    EXPECT_TRUE(s->scanDouble(&d));
    EXPECT_EQ(d, 5.0);
    EXPECT_TRUE(s->scanDouble(&d));
    EXPECT_EQ(d, 1000.0);
    float f = 0;
    EXPECT_TRUE(s->scanFloat(&f));
    EXPECT_FLOAT_EQ(f, 0.02f);
    EXPECT_TRUE(s->scanDouble(&d));  // "7", the "e" stays
    EXPECT_EQ(d, 7.0);
    EXPECT_TRUE(s->scanString("e", nullptr));
    EXPECT_TRUE(s->scanDouble(&d));  // "1", then "e+x" stays
    EXPECT_EQ(d, 1.0);
    EXPECT_TRUE(s->scanString("e+x", nullptr));
    EXPECT_FALSE(s->scanDouble(&d));  // ".e1"
    EXPECT_TRUE(s->scanString(".e1", nullptr));
    EXPECT_TRUE(s->scanDouble(&d));
    EXPECT_TRUE(std::isinf(d));
    EXPECT_TRUE(s->scanDouble(&d));
    EXPECT_TRUE(std::isinf(d) && d < 0);
    EXPECT_TRUE(s->scanDouble(&d));
    EXPECT_EQ(d, 0.0);
    EXPECT_TRUE(s->isAtEnd());
}

TEST(NSScannerTest, Hexadecimal) {
    auto s = NSScanner::scannerWithString("0xFF ff 0x 1FFFFFFFF 0xg");
    unsigned v = 0;
    EXPECT_TRUE(s->scanHexInt(&v));
    EXPECT_EQ(v, 255u);
    EXPECT_TRUE(s->scanHexInt(&v));
    EXPECT_EQ(v, 255u);
    EXPECT_TRUE(s->scanHexInt(&v));  // "0", then "x" stays
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(s->scanString("x", nullptr));
    EXPECT_TRUE(s->scanHexInt(&v));
    EXPECT_EQ(v, UINT_MAX);
    unsigned long long w = 0;
    EXPECT_TRUE(s->scanHexLongLong(&w));
    EXPECT_EQ(w, 0u);
}

TEST(NSScannerTest, StringsAndSets) {
    // The shape of a "(1,2,3,4)" reader.
    auto s = NSScanner::scannerWithString("(10, 20 ,30,40)");
    auto punctuation = NSScanner::characterSetWithCharactersInString("(),");
    std::vector<int> values;
    while (!s->isAtEnd()) {
        s->scanCharactersFromSet(punctuation, nullptr);
        int v;
        if (s->scanInt(&v)) values.push_back(v);
    }
    EXPECT_EQ(values, (std::vector<int>{10, 20, 30, 40}));

    auto t = NSScanner::scannerWithString("key = 值 ; next");
    std::string key, value;
    EXPECT_TRUE(t->scanUpToString("=", &key));
    EXPECT_EQ(key, "key ");  // the text up to the stop, trailing space included
    EXPECT_TRUE(t->scanString("=", nullptr));
    EXPECT_TRUE(t->scanUpToCharactersFromSet(NSScanner::characterSetWithCharactersInString(";"), &value));
    EXPECT_EQ(value, "值 ");
    EXPECT_FALSE(t->scanUpToString(";", &value));  // already at the stop
    EXPECT_TRUE(t->scanString(";", nullptr));
    EXPECT_TRUE(t->scanUpToString("missing", &value));
    EXPECT_EQ(value, "next");
    EXPECT_TRUE(t->isAtEnd());
    EXPECT_FALSE(t->scanUpToString("x", &value));
    EXPECT_FALSE(t->scanString("", nullptr));
}

TEST(NSScannerTest, CaseSensitivity) {
    auto s = NSScanner::scannerWithString("HELLO Straße");
    s->setCaseSensitive(true);
    EXPECT_FALSE(s->scanString("hello", nullptr));
    s->setCaseSensitive(false);
    std::string matched;
    EXPECT_TRUE(s->scanString("hello", &matched));
    EXPECT_EQ(matched, "HELLO");  // the scanned string's own text
    EXPECT_TRUE(s->scanString("STRASSE", nullptr) || s->scanString("STRAßE", nullptr));
}

TEST(NSScannerTest, LocationsCountUTF16Units) {
    auto s = NSScanner::scannerWithString("\xf0\x9f\x98\x80中 12");  // U+1F600 is two units
    std::string letters;
    EXPECT_TRUE(s->scanUpToCharactersFromSet(NSScanner::decimalDigitCharacters(), &letters));
    EXPECT_EQ(letters, "\xf0\x9f\x98\x80中 ");
    EXPECT_EQ(s->scanLocation(), 4u);
    EXPECT_EQ(s->length(), 6u);
    s->setScanLocation(100);
    EXPECT_EQ(s->scanLocation(), 6u);
    EXPECT_TRUE(s->isAtEnd());
    s->setScanLocation(0);
    EXPECT_TRUE(s->scanCharactersFromSet([](char32_t c) { return c == 0x1F600; }, &letters));
    EXPECT_EQ(s->scanLocation(), 2u);
    // A location inside a surrogate pair still reads safely.
    s->setScanLocation(1);
    EXPECT_TRUE(s->scanUpToString("1", &letters));
    EXPECT_EQ(letters, "\xef\xbf\xbd中 ");
}

TEST(NSScannerTest, SkipSetIsConfigurable) {
    auto s = NSScanner::scannerWithString(" 1");
    s->setCharactersToBeSkipped(nullptr);
    EXPECT_FALSE(s->scanInt(nullptr));
    EXPECT_FALSE(s->isAtEnd());
    s->setCharactersToBeSkipped(NSScanner::whitespaceCharacters());
    EXPECT_TRUE(s->scanInt(nullptr));
    auto n = NSScanner::scannerWithString("\n5");
    n->setCharactersToBeSkipped(NSScanner::whitespaceCharacters());
    EXPECT_FALSE(n->scanInt(nullptr));  // a newline is not white space alone
    n->setCharactersToBeSkipped(NSScanner::newlineCharacters());
    EXPECT_TRUE(n->scanInt(nullptr));
    auto copy = asKind<NSScanner>(n->copyObject());
    EXPECT_EQ(copy->scanLocation(), n->scanLocation());
    EXPECT_TRUE(NSScanner::letterCharacters()(U'中'));
    EXPECT_FALSE(NSScanner::letterCharacters()(U'1'));
}

TEST(NSScannerTest, MalformedUTF8ReadsAsReplacement) {
    auto s = NSScanner::scannerWithString("\xff\xc0\x80 7 \xed\xa0\x80 \xf4\x90\x80\x80");
    std::string junk;
    EXPECT_TRUE(s->scanUpToCharactersFromSet(NSScanner::decimalDigitCharacters(), &junk));
    EXPECT_EQ(junk, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd ");
    int v = 0;
    EXPECT_TRUE(s->scanInt(&v));
    EXPECT_EQ(v, 7);
}

TEST(NSScannerTest, MutatedInputNeverCrashesOrHangs) {
    const std::string seeds[] = {"(10, 20 ,30,40)", "  -1.5e3 0x1F key=值;",
                                 "\xf0\x9f\x98\x80 42 \xe4\xb8\xad"};
    for (unsigned seed = 0; seed < 3000; ++seed) {
        std::string text = testsupport::mutate(seeds[seed % 3], seed);
        auto s = NSScanner::scannerWithString(text);
        // Every loop must make progress or stop.
        for (int step = 0; step < 200 && !s->isAtEnd(); ++step) {
            std::size_t before = s->scanLocation();
            double d;
            int i;
            unsigned h;
            std::string out;
            bool any =
                s->scanDouble(&d) || s->scanInt(&i) || s->scanHexInt(&h) ||
                s->scanCharactersFromSet(NSScanner::characterSetWithCharactersInString("(),=;"), &out) ||
                s->scanUpToCharactersFromSet(NSScanner::whitespaceAndNewlineCharacters(), &out);
            ASSERT_TRUE(any) << text;
            ASSERT_GT(s->scanLocation(), before) << text;
            ASSERT_LE(s->scanLocation(), s->length());
        }
        EXPECT_TRUE(s->isAtEnd()) << text;
    }
}

}  // namespace
