#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>

#include "foundation/NSError.h"
#include "foundation/NSLog.h"
#include "foundation/NSString.h"
#include "tests/support/TestSupport.h"

namespace {

template <class... A>
std::string fmt(std::string_view f, const A&... args) {
    return NSString::stringWithFormat(f, args...);
}

class Described : public NSObject {
  public:
    std::string className() const override { return "Described"; }
    std::string description() const override { return "<described>"; }
};

enum class Small : std::uint8_t { A = 7 };

}  // namespace

TEST(StringFormat, PlainTextAndPercent) {
    EXPECT_EQ(fmt("plain"), "plain");
    EXPECT_EQ(fmt(""), "");
    EXPECT_EQ(fmt("100%%"), "100%");
    EXPECT_EQ(fmt("%%d", 5), "%d");
    EXPECT_EQ(fmt("\u4e2d\u6587%@", "!"), "\u4e2d\u6587!");
}

TEST(StringFormat, ObjectConversion) {
    EXPECT_EQ(fmt("%@", std::string("text")), "text");
    EXPECT_EQ(fmt("%@", "literal"), "literal");
    EXPECT_EQ(fmt("%@", std::string_view("view")), "view");
    EXPECT_EQ(fmt("%@", std::optional<std::string>()), "(null)");
    EXPECT_EQ(fmt("%@", std::optional<std::string>("x")), "x");
    EXPECT_EQ(fmt("%@", nullptr), "(null)");
    EXPECT_EQ(fmt("%@", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(fmt("%@", Value()), "(null)");
    EXPECT_EQ(fmt("%@", Value::null()), "<null>");
    EXPECT_EQ(fmt("%@", Value(42)), "42");
    EXPECT_EQ(fmt("%@", NSNumber::numberWithDouble(127.5)), "127.5");
    EXPECT_EQ(fmt("%@", NSNumber::numberWithBool(true)), "1");
    EXPECT_EQ(fmt("%@", NSData::fromString("Hello")), "<48656c6c 6f>");
    EXPECT_EQ(fmt("%@", Array{Value(1)}), Value(Array{Value(1)}).description());
    EXPECT_EQ(fmt("%@", make<Described>()), "<described>");
    EXPECT_EQ(fmt("%@", Ref<Described>()), "(null)");
    Described raw;  // a raw pointer to an object prints its description too
    EXPECT_EQ(fmt("%@", static_cast<const Described*>(&raw)), "<described>");
    auto error = NSError::errorWithDomain("D", 3);
    EXPECT_EQ(fmt("%@", error), error->description());
}

TEST(StringFormat, ObjectConversionOfScalarsPrintsTheirValue) {
    EXPECT_EQ(fmt("%@", 42), "42");
    EXPECT_EQ(fmt("%@", -7L), "-7");
    EXPECT_EQ(fmt("%@", 18446744073709551615ULL), "18446744073709551615");
    EXPECT_EQ(fmt("%@", 0.1), "0.1");
    EXPECT_EQ(fmt("%@", 0.1f), "0.1");
    EXPECT_EQ(fmt("%@", true), "1");
    EXPECT_EQ(fmt("%@", 'x'), "x");
    EXPECT_EQ(fmt("%@", Small::A), "7");
    EXPECT_EQ(fmt("%@", NSMakeRange(2, 3)), "{2, 3}");
}

TEST(StringFormat, Integers) {
    EXPECT_EQ(fmt("%d", 42), "42");
    EXPECT_EQ(fmt("%i", -42), "-42");
    EXPECT_EQ(fmt("%u", 42u), "42");
    EXPECT_EQ(fmt("%ld", 1234567890123L), "1234567890123");
    EXPECT_EQ(fmt("%lu", 18446744073709551615UL), "18446744073709551615");
    EXPECT_EQ(fmt("%lld", LLONG_MIN), "-9223372036854775808");
    EXPECT_EQ(fmt("%llu", ULLONG_MAX), "18446744073709551615");
    EXPECT_EQ(fmt("%qi", 5LL), "5");
    EXPECT_EQ(fmt("%qu", 5ULL), "5");
    EXPECT_EQ(fmt("%zd", static_cast<std::ptrdiff_t>(-3)), "-3");
    EXPECT_EQ(fmt("%zu", static_cast<std::size_t>(3)), "3");
    EXPECT_EQ(fmt("%02ld", 7L), "07");
    EXPECT_EQ(fmt("%02ld", 123L), "123");
    EXPECT_EQ(fmt("%.2d", 5), "05");
    EXPECT_EQ(fmt("%.2d", 65 % 60), "05");
    EXPECT_EQ(fmt("%5d|%-5d|%+d|% d", 1, 2, 3, 4), "    1|2    |+3| 4");
    EXPECT_EQ(fmt("%o", 8), "10");
    EXPECT_EQ(fmt("%#o %#x", 8, 255), "010 0xff");
    EXPECT_EQ(fmt("%D %U", 5, 6u), "5 6");
}

TEST(StringFormat, Hexadecimal) {
    EXPECT_EQ(fmt("%x", 255), "ff");
    EXPECT_EQ(fmt("%X", 255), "FF");
    EXPECT_EQ(fmt("%02x", 5), "05");
    EXPECT_EQ(fmt("%02X", 0xAB), "AB");
    EXPECT_EQ(fmt("%08x", 0xBEEF), "0000beef");
    EXPECT_EQ(fmt("%08X", 0xBEEF), "0000BEEF");
    EXPECT_EQ(fmt("%08lx", 0x1234UL), "00001234");
    EXPECT_EQ(fmt("%040x", 0), std::string(40, '0'));
    // A negative value prints at the width of its type, or of the length modifier.
    EXPECT_EQ(fmt("%x", -1), "ffffffff");
    EXPECT_EQ(fmt("%lx", -1L), "ffffffffffffffff");
    EXPECT_EQ(fmt("%hhx", -1), "ff");
    EXPECT_EQ(fmt("%x", static_cast<std::int8_t>(-1)), "ff");
    // The digest bytes as hexadecimal pairs.
    unsigned char digest[] = {0x00, 0x0f, 0xa0, 0xff};
    std::string hex;
    for (unsigned char b : digest) hex += fmt("%02x", b);
    EXPECT_EQ(hex, "000fa0ff");
}

TEST(StringFormat, LengthModifiersTruncate) {
    EXPECT_EQ(fmt("%hd", 70000), "4464");
    EXPECT_EQ(fmt("%hhd", 300), "44");
    EXPECT_EQ(fmt("%hhu", -1), "255");
    EXPECT_EQ(fmt("%d", 4000000000u), "-294967296");  // an unsigned 32-bit value read as signed
    EXPECT_EQ(fmt("%lld", ULLONG_MAX), "-1");
    EXPECT_EQ(fmt("%u", -1), "4294967295");
}

TEST(StringFormat, Reals) {
    EXPECT_EQ(fmt("%f", 1.5), "1.500000");
    EXPECT_EQ(fmt("%0.2f", 2.0), "2.00");
    EXPECT_EQ(fmt("%.1f", 0.05), "0.1");
    EXPECT_EQ(fmt("%.1fx%.1f", 640.0, 480.0), "640.0x480.0");
    EXPECT_EQ(fmt("%g", 0.0001), "0.0001");
    EXPECT_EQ(fmt("%g", 1e20), "1e+20");
    EXPECT_EQ(fmt("%0.1g", 0.25), "0.2");
    EXPECT_EQ(fmt("%.17g", 0.1), "0.10000000000000001");
    EXPECT_EQ(fmt("%e", 12345.678), "1.234568e+04");
    EXPECT_EQ(fmt("%E", 1.0), "1.000000E+00");
    EXPECT_EQ(fmt("%8.3f|%-8.3f|%+.1f|%08.2f", 3.14159, 2.5, 1.0, -1.5), "   3.142|2.500   |+1.0|-0001.50");
    EXPECT_EQ(fmt("%f", 1.5f), "1.500000");
    EXPECT_EQ(fmt("%f", std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(fmt("%f", -std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(fmt("%Lf", 2.5L), "2.500000");
    EXPECT_EQ(fmt("%a", 1.0), "0x1p+0");
    // Shader text is written with these.
    EXPECT_EQ(fmt("uniform float w[%d]; w[0] = %f;", 3, 0.25), "uniform float w[3]; w[0] = 0.250000;");
}

TEST(StringFormat, RealsIgnoreTheProcessLocale) {
    locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!utf8) GTEST_SKIP() << "no C.UTF-8 locale";
    locale_t previous = uselocale(utf8);
    EXPECT_EQ(fmt("%0.2f", 2.0), "2.00");
    EXPECT_EQ(NSString::doubleValue("2.5"), 2.5);
    uselocale(previous);
    freelocale(utf8);
}

TEST(StringFormat, CharactersStringsPointers) {
    EXPECT_EQ(fmt("%c", 'A'), "A");
    EXPECT_EQ(fmt("%c", 65), "A");
    EXPECT_EQ(fmt("%C", static_cast<unichar>(0x4E2D)), "\u4e2d");
    EXPECT_EQ(fmt("%C", U'\U0001F600'), "\U0001F600");
    EXPECT_EQ(fmt("[%3c]", 'x'), "[  x]");
    EXPECT_EQ(fmt("%c", 0), "");
    EXPECT_EQ(fmt("%s", "c string"), "c string");
    EXPECT_EQ(fmt("%s", std::string("std")), "std");
    EXPECT_EQ(fmt("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(fmt("[%5s|%-5s]", "ab", "cd"), "[   ab|cd   ]");
    EXPECT_EQ(fmt("%.3s", "abcdef"), "abc");
    EXPECT_EQ(fmt("%.2@", std::string("\u4e2d\u6587\u5b57")), "\u4e2d\u6587");
    EXPECT_EQ(fmt("%.1@", std::string("\U0001F600x")), "");         // a pair is never split
    EXPECT_EQ(fmt("[%4@]", std::string("\u4e2d")), "[   \u4e2d]");  // width counts characters
    int x = 0;
    std::string p = fmt("%p", &x);
    EXPECT_EQ(p.substr(0, 2), "0x");
    EXPECT_EQ(p, fmt("%p", static_cast<const void*>(&x)));
    EXPECT_EQ(fmt("%p", nullptr), "0x0");
    EXPECT_EQ(fmt("%p", static_cast<void*>(nullptr)), "0x0");
    auto object = make<Described>();
    EXPECT_EQ(fmt("%@:%p", std::string("Described"), object), "Described:" + fmt("%p", object.get()));
}

TEST(StringFormat, PositionalArguments) {
    EXPECT_EQ(fmt("%2$@ %1$@", std::string("world"), std::string("hello")), "hello world");
    EXPECT_EQ(fmt("%1$d-%1$d", 7), "7-7");
    EXPECT_EQ(fmt("%3$@", 1, 2), "");  // no third argument
    EXPECT_EQ(fmt("%*d|%-*d|%.*f", 4, 1, 3, 2, 2, 3.14159), "   1|2  |3.14");
    EXPECT_EQ(fmt("%*d", -4, 1), "1   ");
    EXPECT_EQ(fmt("%.*f", -1, 1.5), "1.500000");
}

TEST(StringFormat, MismatchedArgumentsConvertSensibly) {
    EXPECT_EQ(fmt("%d", 3.99), "3");
    EXPECT_EQ(fmt("%d", -3.99), "-3");
    EXPECT_EQ(fmt("%d", 1e300), "9223372036854775807");
    EXPECT_EQ(fmt("%d", std::nan("")), "0");
    EXPECT_EQ(fmt("%f", 3), "3.000000");
    EXPECT_EQ(fmt("%d", true), "1");
    EXPECT_EQ(fmt("%d", 'A'), "65");
    EXPECT_EQ(fmt("%d", std::string("0123")), "123");
    EXPECT_EQ(fmt("%d", std::string("abc")), "0");
    EXPECT_EQ(fmt("%f", std::string("2.5")), "2.500000");
    EXPECT_EQ(fmt("%d", Value(12.7)), "12");
    EXPECT_EQ(fmt("%ld", Value("42")), "42");
    EXPECT_EQ(fmt("%d", nullptr), "0");
    EXPECT_EQ(fmt("%s", 42), "42");
    EXPECT_EQ(fmt("%s", Value("v")), "v");
    EXPECT_EQ(fmt("%c", std::string("\u4e2dx")), "\u4e2d");
    EXPECT_EQ(fmt("%x", 255.9), "ff");
    EXPECT_EQ(fmt("%u", -1.0), "18446744073709551615");
}

TEST(StringFormat, MissingArgumentsPrintNothing) {
    EXPECT_EQ(fmt("a%db%@c%fd%se"), "abcde");
    EXPECT_EQ(fmt("%d and %d", 1), "1 and ");
    EXPECT_EQ(fmt("%*d"), "");
}

TEST(StringFormat, BrokenConversionsStayAsWritten) {
    EXPECT_EQ(fmt("50%"), "50%");
    EXPECT_EQ(fmt("%", 1), "%");
    EXPECT_EQ(fmt("%5", 1), "%5");
    EXPECT_EQ(fmt("%l", 1), "%l");
    EXPECT_EQ(fmt("%y", 1), "%y");
    EXPECT_EQ(fmt("%k%d", 1), "%k1");
    EXPECT_EQ(fmt("%n", 1), "");
    EXPECT_EQ(fmt("%0$d", 1), "%0$d");
}

TEST(StringFormat, HugeWidthsAreCapped) {
    std::string s = fmt("%999999999d", 1);
    EXPECT_LE(s.size(), 8193u);
    EXPECT_EQ(s.back(), '1');
    EXPECT_LE(fmt("%.999999999f", 1.0).size(), 8200u);
    EXPECT_LE(fmt("%99999999999999999999s", "x").size(), 8193u);
    EXPECT_LE(fmt("%*d", INT_MAX, 1).size(), 8193u);
    EXPECT_LE(fmt("%*d", LLONG_MIN, 1).size(), 8193u);
    EXPECT_LE(fmt("%.*s", INT_MAX, "abc").size(), 3u);
    EXPECT_EQ(fmt("%f", 1e308).size(), 316u);
}

TEST(StringFormat, VectorOverload) {
    std::vector<FormatArg> args = {FormatArg(std::string("k")), FormatArg(3)};
    EXPECT_EQ(NSString::stringWithFormatArgs("%@=%d", args), "k=3");
    EXPECT_EQ(NSString::stringWithFormatArgs("%@=%d", {}), "=");
    EXPECT_EQ(NSString::stringWithFormatArgs("x", nullptr, 0), "x");
}

TEST(StringFormat, FuzzFormatParser) {
    const std::string seed = "%@ %d %5.2f %-08lx %2$s %*d %.*s %% %c %p %qi %hhu %040x %0.1g";
    for (unsigned k = 0; k < 5000; ++k) {
        std::string f = testsupport::mutate(seed, k);
        std::string out = NSString::stringWithFormat(f, std::string("s"), 7, 2.5, -1L, "cs", nullptr, 'c');
        EXPECT_LT(out.size(), f.size() * 8200 + 100);
        std::string none = NSString::stringWithFormat(f);
        EXPECT_LT(none.size(), f.size() * 8200 + 100);
    }
}

TEST(StringFormat, FuzzRandomFormats) {
    // Formats made only of conversion characters, flags and digits.
    const char alphabet[] = "%%%%@dDiuUoxXcCsSpfFeEgGaAn$*.-+ #0123456789lhqzjtL'";
    unsigned state = 12345;
    for (int k = 0; k < 5000; ++k) {
        std::string f;
        int len = 1 + static_cast<int>(state % 24);
        for (int c = 0; c < len; ++c) {
            state = state * 1103515245u + 12345u;
            f.push_back(alphabet[(state >> 16) % (sizeof alphabet - 1)]);
        }
        std::string out = NSString::stringWithFormat(f, 1, -2.5, "x", Value(), ULLONG_MAX);
        EXPECT_LT(out.size(), f.size() * 8200 + 100);
    }
}

TEST(StringFormat, NSLogFormatsToTheSink) {
    std::vector<std::string> lines;
    auto previous = NSLogSetSink([&](const std::string& line) { lines.push_back(line); });
    NSLog("** %@ ** %d", std::string("cell"), 5);
    NSLog("plain");
    NSLogSetSink(previous);
    EXPECT_EQ(lines, (std::vector<std::string>{"** cell ** 5", "plain"}));
}
