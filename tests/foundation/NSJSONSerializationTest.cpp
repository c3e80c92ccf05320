#include "foundation/NSJSONSerialization.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

Value read(const std::string& text, unsigned options = 0, Ref<NSError>* error = nullptr) {
    return NSJSONSerialization::JSONObjectWithData(NSData::fromString(text), options, error);
}

std::string write(const Value& v, unsigned options = 0, Ref<NSError>* error = nullptr) {
    auto data = NSJSONSerialization::dataWithJSONObject(v, options, error);
    return data ? data->toString() : std::string("<failed>");
}

// Reads text that must fail; returns the error.
Ref<NSError> readError(const std::string& text, unsigned options = 0) {
    Ref<NSError> error;
    Value v = read(text, options, &error);
    EXPECT_TRUE(v.isNil()) << text;
    EXPECT_TRUE(error) << text;
    return error;
}

class TestObject : public NSObject {
  public:
    std::string className() const override { return "TestObject"; }
};

// ---------------------------------------------------------------------------------------------
// Reading

TEST(JSONReadTest, ValueKindsMapToValues) {
    Value v = read(R"({"s":"text","i":1,"r":127.5,"t":true,"f":false,"n":null,"a":[1,"x"],"o":{"k":"v"}})");
    ASSERT_TRUE(v.isDictionary());
    EXPECT_EQ(v["s"], Value("text"));
    ASSERT_TRUE(v["i"].isNumber());
    EXPECT_FALSE(v["i"].number()->isReal());
    EXPECT_EQ(v["i"].number()->objCType(), 'q');
    ASSERT_TRUE(v["r"].isNumber());
    EXPECT_TRUE(v["r"].number()->isReal());
    EXPECT_EQ(v["r"].doubleValue(), 127.5);
    EXPECT_TRUE(v["t"].number()->isBoolean());
    EXPECT_TRUE(v["t"].boolValue());
    EXPECT_TRUE(v["f"].number()->isBoolean());
    EXPECT_FALSE(v["f"].boolValue());
    EXPECT_TRUE(v["n"].isNull());
    ASSERT_TRUE(v["a"].isArray());
    EXPECT_EQ(v["a"].array()->count(), 2u);
    EXPECT_EQ(v["o"]["k"], Value("v"));
}

TEST(JSONReadTest, KeysKeepDocumentOrder) {
    Value v = read(R"({"z":1,"a":2,"m":3})");
    std::vector<std::string> keys = v.dictionary()->allKeys();
    EXPECT_EQ(keys, (std::vector<std::string>{"z", "a", "m"}));
}

TEST(JSONReadTest, RealsAndIntegersStayApart) {
    Value v = read("[1, 1.0, 1e2, -0, 0.1, -5]");
    auto& a = *v.array();
    EXPECT_FALSE(a[0].number()->isReal());
    EXPECT_TRUE(a[1].number()->isReal());
    EXPECT_TRUE(a[2].number()->isReal());
    EXPECT_EQ(a[2].doubleValue(), 100.0);
    EXPECT_EQ(a[4].doubleValue(), 0.1);
    EXPECT_EQ(a[5].longLongValue(), -5);
}

TEST(JSONReadTest, IntegerBoundaries) {
    Value v = read("[9223372036854775807, -9223372036854775808, 9223372036854775808, 18446744073709551615, "
                   "18446744073709551616, 123456789012345678901234567890]");
    auto& a = *v.array();
    EXPECT_EQ(a[0].longLongValue(), std::numeric_limits<long long>::max());
    EXPECT_EQ(a[1].longLongValue(), std::numeric_limits<long long>::min());
    EXPECT_EQ(a[2].number()->type(), NSNumber::Type::ULongLong);
    EXPECT_EQ(a[2].unsignedLongLongValue(), 9223372036854775808ull);
    EXPECT_EQ(a[3].unsignedLongLongValue(), std::numeric_limits<unsigned long long>::max());
    EXPECT_TRUE(a[4].number()->isReal());
    EXPECT_DOUBLE_EQ(a[4].doubleValue(), 18446744073709551616.0);
    EXPECT_TRUE(a[5].number()->isReal());
}

// Each number both inside an array and alone at the top: the two are read on different paths.
TEST(JSONReadTest, NumbersKeepTheirExactValues) {
    enum Kind { Signed, Unsigned, Real };
    struct Case {
        std::string text;
        Kind kind;
        double real;
        long long integer = 0;
    };
    const double tiny = std::numeric_limits<double>::denorm_min();
    const Case cases[] = {
        {"0.1", Real, 0.1},
        {"1e308", Real, 1e308},
        {"1.7976931348623157e308", Real, std::numeric_limits<double>::max()},
        {"5e-324", Real, tiny},
        {"2.4703282292062328e-324", Real, tiny},  // just above half the least double
        {"2.4703282292062327e-324", Real, 0.0},   // just below
        {"1e-400", Real, 0.0},
        {"-1e-400", Real, -0.0},
        {"-0.0", Real, -0.0},
        {"-0", Signed, 0, 0},
        {"9007199254740993", Signed, 0, 9007199254740993LL},  // 2^53 + 1 stays exact
        {"9007199254740993.0", Real, 9007199254740992.0},     // as a real, rounded to even
        {"-9223372036854775808", Signed, 0, std::numeric_limits<long long>::min()},
        {"-9223372036854775809", Real, -9223372036854775808.0},
        {"18446744073709551615", Unsigned, 0, -1},
        {"184467440737095516155", Real, 184467440737095516155.0},
        {"99999999999999999999", Real, 1e20},
        // Long fractions, long mantissas and long exponents.
        {"0." + std::string(350, '0') + "1", Real, 0.0},
        {"0." + std::string(5000, '0') + "1", Real, 0.0},
        {"0." + std::string(320, '0') + "1", Real, 1e-321},
        {"1" + std::string(400, '0') + ".5e-400", Real, 1.0},
        {"1e-0000000000000000000000001", Real, 0.1},
        {"1e-99999999999999999999999", Real, 0.0},
        {"0e99999999999999999999999", Real, 0.0},
    };
    for (const auto& c : cases) {
        for (bool top : {false, true}) {
            Value v = top ? read(c.text, NSJSONReadingAllowFragments) : read("[" + c.text + "]");
            Value n = top ? v : (v.isArray() ? v[0] : Value());
            ASSERT_TRUE(n.isNumber()) << c.text.substr(0, 40) << " top " << top;
            EXPECT_EQ(n.number()->isReal(), c.kind == Real) << c.text.substr(0, 40);
            if (c.kind == Real) {
                EXPECT_EQ(n.doubleValue(), c.real) << c.text.substr(0, 40);
                EXPECT_EQ(std::signbit(n.doubleValue()), std::signbit(c.real)) << c.text.substr(0, 40);
            } else if (c.kind == Unsigned) {
                EXPECT_EQ(n.number()->type(), NSNumber::Type::ULongLong) << c.text;
                EXPECT_EQ(n.unsignedLongLongValue(), static_cast<unsigned long long>(c.integer)) << c.text;
            } else {
                EXPECT_EQ(n.number()->objCType(), 'q') << c.text;
                EXPECT_EQ(n.longLongValue(), c.integer) << c.text;
            }
        }
    }
    for (const char* text : {"1e400", "-1e400", "1.8e308", "1e99999999999999999999999", "1e+0309"}) {
        Ref<NSError> error = readError(std::string("[") + text + "]");
        ASSERT_TRUE(error);
        EXPECT_NE(error->userInfo()[NSDebugDescriptionErrorKey].stringValue().find("too large"),
                  std::string::npos);
        readError(text, NSJSONReadingAllowFragments);
    }
}

TEST(JSONReadTest, ContainersImmutableUnlessAsked) {
    Value fixed = read(R"({"a":[1]})");
    EXPECT_FALSE(fixed.dictionary()->isMutable());
    EXPECT_FALSE(fixed["a"].array()->isMutable());
    Value changeable = read(R"({"a":[1,{"b":2}]})", NSJSONReadingMutableContainers);
    EXPECT_TRUE(changeable.dictionary()->isMutable());
    EXPECT_TRUE(changeable["a"].array()->isMutable());
    EXPECT_TRUE(changeable["a"][1].dictionary()->isMutable());
    changeable.dictionary()->setObject("c", 3);
    EXPECT_EQ(changeable["c"].intValue(), 3);
}

TEST(JSONReadTest, FragmentsNeedTheOption) {
    for (const char* text : {"\"x\"", "1", "true", "null", "-2.5"}) {
        Ref<NSError> error = readError(text);
        ASSERT_TRUE(error);
        EXPECT_NE(error->userInfo()[NSDebugDescriptionErrorKey].stringValue().find("fragments"),
                  std::string::npos);
        Value v = read(text, NSJSONReadingAllowFragments);
        EXPECT_TRUE(v.isSomething() || v.isNull()) << text;
    }
    EXPECT_EQ(read("\"x\"", NSJSONReadingAllowFragments), Value("x"));
    EXPECT_TRUE(read("null", NSJSONReadingAllowFragments).isNull());
}

TEST(JSONReadTest, DuplicateKeysLastWinsInFirstPlace) {
    Value v = read(R"({"a":1,"b":2,"a":3})");
    EXPECT_EQ(v.dictionary()->count(), 2u);
    EXPECT_EQ(v["a"].intValue(), 3);
    EXPECT_EQ(v.dictionary()->allKeys().front(), "a");

    Value nested = read(R"({"a":{"x":1},"a":[2]})");
    EXPECT_TRUE(nested["a"].isArray());

    // Large objects use an index for the check.
    std::string big = "{";
    for (int i = 0; i < 200; ++i) big += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    for (int i = 0; i < 200; i += 7) big += "\"k" + std::to_string(i) + "\":\"again\",";
    big += "\"last\":0}";
    Value b = read(big);
    ASSERT_TRUE(b.isDictionary());
    EXPECT_EQ(b.dictionary()->count(), 201u);
    EXPECT_EQ(b["k0"], Value("again"));
    EXPECT_EQ(b["k7"], Value("again"));
    EXPECT_EQ(b["k8"].intValue(), 8);
    EXPECT_EQ(b.dictionary()->allKeys()[7], "k7");
}

TEST(JSONReadTest, StringsAndEscapes) {
    Value v = read(R"(["a\"b\\c\/d\b\f\n\r\t", "\u00e9\u4e2d", "\ud83d\ude00", "中文", "\u0000x"])");
    auto& a = *v.array();
    EXPECT_EQ(a[0], Value("a\"b\\c/d\b\f\n\r\t"));
    EXPECT_EQ(a[1], Value("\xC3\xA9\xE4\xB8\xAD"));
    EXPECT_EQ(a[2], Value("\xF0\x9F\x98\x80"));
    EXPECT_EQ(a[3], Value("中文"));
    EXPECT_EQ(*a[4].string(), std::string("\0x", 2));
}

TEST(JSONReadTest, LoneLowSurrogateBecomesReplacementCharacter) {
    Value v = read(R"(["a\udc00b"])");
    ASSERT_TRUE(v.isArray());
    EXPECT_EQ(v[0], Value("a\xEF\xBF\xBD"
                          "b"));
    Value k = read(R"({"\udc00":1})");
    ASSERT_TRUE(k.isDictionary());
    EXPECT_TRUE(k.dictionary()->containsKey("\xEF\xBF\xBD"));
    // A high surrogate without its partner is an error.
    readError(R"(["\ud800"])");
}

TEST(JSONReadTest, InvalidUTF8IsAnError) {
    readError("[\"\xC3\"]");
    readError("[\"\xFF\"]");
    readError("[\"\xE0\x80\x80\"]");      // overlong
    readError("{\"\xC0\xAF\":1}");        // overlong key
    readError("[\"\xF4\x90\x80\x80\"]");  // beyond U+10FFFF
    EXPECT_TRUE(read("[\"\xF0\x9F\x98\x80\"]").isArray());
}

TEST(JSONReadTest, OtherEncodingsAndByteOrderMarks) {
    std::string utf8bom = "\xEF\xBB\xBF[1]";
    EXPECT_EQ(read(utf8bom), Value(Array{1}));

    auto encode16 = [](const std::u16string& s, bool big, bool bom) {
        std::string out;
        if (bom) out += big ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t c : s) {
            char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
            out += big ? hi : lo;
            out += big ? lo : hi;
        }
        return out;
    };
    std::u16string text = u"{\"k\":\"中\U0001F600\"}";
    for (bool big : {true, false}) {
        for (bool bom : {true, false}) {
            Value v = read(encode16(text, big, bom));
            ASSERT_TRUE(v.isDictionary()) << big << bom;
            EXPECT_EQ(v["k"], Value("中\xF0\x9F\x98\x80"));
        }
    }
    std::string utf32le;
    for (char c : std::string("[7]")) utf32le += std::string(1, c) + std::string(3, '\0');
    EXPECT_EQ(read(utf32le), Value(Array{7}));

    // A broken UTF-16 text (lone surrogate, odd length) is an error.
    readError(encode16(u"[\"\xD800\"]", false, true));
    readError(encode16(u"[1]", true, false) + "x");
}

TEST(JSONReadTest, SyntaxErrorsNameTheOffset) {
    Ref<NSError> error = readError("[1, 2, x]");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), 3840);
    EXPECT_EQ(error->userInfo()[NSJSONSerializationErrorIndex].intValue(), 7);
    EXPECT_NE(error->userInfo()[NSDebugDescriptionErrorKey].stringValue().find("character 7"),
              std::string::npos);
    EXPECT_FALSE(error->localizedDescription().empty());
}

TEST(JSONReadTest, MalformedDocumentsFail) {
    for (const char* text : {"",           " ",          "  ",
                             "\n",         "[",          "]",
                             "{",          "{\"a\"}",    "{\"a\":}",
                             "{a:1}",      "[1,]",       "[1 2]",
                             "{\"a\":1,}", "[01]",       "[1.]",
                             "[.5]",       "[1e]",       "[+1]",
                             "[NaN]",      "[Infinity]", "[1e400]",
                             "[\"abc]",    "[\"\\x\"]",  "[\"\\u12G4\"]",
                             "[tru]",      "[nul]",      "[1]]",
                             "[1] [2]",    "[1]x",       "// c\n[1]",
                             "['a']",      "[\"a\tb\"]", "{\"a\":1 \"b\":2}"}) {
        readError(text);
    }
}

TEST(JSONReadTest, HostileAndTruncatedDocumentsNameReasonAndPlace) {
    struct Case {
        std::string text;
        const char* reason;
        long long offset;  // -1: anywhere in the text
        unsigned options = 0;
    };
    const Case cases[] = {
        {"[1, 2, x]", "Invalid value", 7},
        {"[1,2", "end of file", -1},
        {"{\"a\":", "end of file", -1},
        {"{\"a\":1", "end of file", -1},
        {"[{}", "end of file", -1},
        {"[1, \"abc", "Unterminated", 4},
        {"[\"a\\\"]", "Unterminated", 1},
        {"[\"ab\x01\"]", "control", 4},
        {"[\"ab\xFF\"]", "convert", 4},
        {"[\"\xED\xA0\x80\"]", "convert", 2},  // a surrogate written out in UTF-8
        {"[\"\\ud800x\"]", "low surrogate", 2},
        {"[\"a\\ud800\\u0041\"]", "low surrogate", 3},
        {"{\"\\ud800\":1}", "low surrogate", 2},
        {"[\"\\q\"]", "escape", -1},
        {"[\"\\u12\"]", "hex", -1},
        {"[1.5.5]", "Invalid number", 1},
        {"[1e5e5]", "Invalid number", 1},
        {"[0x10]", "Invalid number", 1},
        {"[1true]", "Invalid number", 1},
        {"[-01]", "Invalid number", 1},
        {"[1.e5]", "Invalid number", 1},
        {"[1e+]", "Invalid number", 1},
        {"[-]", "Invalid number", 1},
        {"[-", "", -1},
        {"[1.5e", "", -1},
        {"[tru", "", -1},
        {"{\"a", "", -1},
        {"{\"a\":1 \"b\":2}", "object", 7},
        {"[1 2]", "array", 3},
        {"[1] x", "Garbage", 4},
        {"{} {}", "Garbage", 3},
        {"[[1]] ]", "Garbage", 6},
        {"[\"]\"", "end of file", 4},
        {"1 2", "Garbage", 2, NSJSONReadingAllowFragments},
        {"\"a\" x", "Garbage", 4, NSJSONReadingAllowFragments},
        {"true false", "", -1, NSJSONReadingAllowFragments},
        {"nulll", "", -1, NSJSONReadingAllowFragments},
        {"null4", "", -1, NSJSONReadingAllowFragments},
        {"truex ", "", -1, NSJSONReadingAllowFragments},
        {"-", "Invalid number", 0, NSJSONReadingAllowFragments},
        {std::string(600, '[') + "1" + std::string(600, ']'), "nested", 512},
        {std::string(300, '{') + "\"a\":", "", -1},
    };
    for (const auto& c : cases) {
        Ref<NSError> error = readError(c.text, c.options);
        ASSERT_TRUE(error) << c.text;
        EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
        EXPECT_EQ(error->code(), 3840);
        std::string reason = error->userInfo()[NSDebugDescriptionErrorKey].stringValue();
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.text << ": " << reason;
        long long offset = error->userInfo()[NSJSONSerializationErrorIndex].longLongValue();
        if (c.offset >= 0) {
            EXPECT_EQ(offset, c.offset) << c.text << ": " << reason;
        } else {
            EXPECT_LE(offset, static_cast<long long>(c.text.size())) << c.text;
        }
    }
    // A lone low surrogate stays a replacement character at the top too.
    EXPECT_EQ(read("\"\\udc00\"", NSJSONReadingAllowFragments), Value("\xEF\xBF\xBD"));
    EXPECT_EQ(read(" 12 ", NSJSONReadingAllowFragments).intValue(), 12);
    EXPECT_TRUE(read("null\n", NSJSONReadingAllowFragments).isNull());
    EXPECT_FALSE(read(" false\t", NSJSONReadingAllowFragments).boolValue());
}

TEST(JSONReadTest, WhitespaceAroundTheDocumentIsFine) {
    EXPECT_EQ(read(" \t\r\n[1] \n\t"), Value(Array{1}));
}

TEST(JSONReadTest, ZeroByteInsideOrAfterIsAnError) {
    readError(std::string("[1]\0", 4));
    readError(std::string("[1]\0[2]", 7));
    readError(std::string("[\"a\0b\"]", 7));
}

TEST(JSONReadTest, DepthLimit) {
    auto nested = [](unsigned depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_TRUE(read(nested(NSJSONSerialization::kMaxDepth)).isArray());
    Ref<NSError> error = readError(nested(NSJSONSerialization::kMaxDepth + 1));
    ASSERT_TRUE(error);
    EXPECT_NE(error->userInfo()[NSDebugDescriptionErrorKey].stringValue().find("nested"), std::string::npos);
    // Far deeper than any stack would take, and unbalanced.
    readError(std::string(1000000, '['));
    readError(std::string(200000, '{') + "\"a\":");
    std::string objects;
    for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
    readError(objects);
}

TEST(JSONReadTest, LargeArraysAndObjects) {
    std::string text = "[";
    for (int i = 0; i < 100000; ++i) text += (i ? "," : "") + std::to_string(i);
    text += "]";
    Value v = read(text);
    ASSERT_TRUE(v.isArray());
    EXPECT_EQ(v.array()->count(), 100000u);
    EXPECT_EQ(v[99999].intValue(), 99999);
}

TEST(JSONReadTest, SiblingRecordsOfDifferentSizes) {
    // The reader sizes a container from its previous sibling; a bigger or smaller one must still
    // come out whole.
    Value v = read(R"([{"a":1,"b":2,"c":3},{"a":1},{"a":1,"b":2,"c":3,"d":4,"e":5},[],[1,2,3]])");
    ASSERT_TRUE(v.isArray());
    EXPECT_EQ(v[0].dictionary()->count(), 3u);
    EXPECT_EQ(v[1].dictionary()->count(), 1u);
    EXPECT_EQ(v[2].dictionary()->count(), 5u);
    EXPECT_EQ(v[2]["e"].intValue(), 5);
    EXPECT_EQ(v[4].array()->count(), 3u);
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST(JSONWriteTest, CompactInDictionaryOrder) {
    Dictionary d = Dictionary::mutableDictionary();
    d.setObject("z", 1);
    d.setObject("a", "x");
    d.setObject("m", Array{true, false, Value::null()});
    EXPECT_EQ(write(d), R"({"z":1,"a":"x","m":[true,false,null]})");
}

TEST(JSONWriteTest, Escapes) {
    EXPECT_EQ(write(Array{"a/b"}), R"(["a\/b"])");
    EXPECT_EQ(write(Array{"a/b"}, NSJSONWritingWithoutEscapingSlashes), R"(["a/b"])");
    EXPECT_EQ(write(Array{"q\"b\\n\n\r\t\b\f"}), R"(["q\"b\\n\n\r\t\b\f"])");
    EXPECT_EQ(write(Array{std::string("\x01\x1f\0", 3)}), R"(["\u0001\u001f\u0000"])");
    EXPECT_EQ(write(Array{"中文 é \xF0\x9F\x98\x80"}), "[\"中文 é \xF0\x9F\x98\x80\"]");
    EXPECT_EQ(write(Dictionary{{"k/\"", 1}}), R"({"k\/\"":1})");
}

TEST(JSONWriteTest, Numbers) {
    EXPECT_EQ(write(Array{127.5, 0.1, 3.0, -0.25, 1e20, 1.5e-7}), "[127.5,0.1,3,-0.25,1e+20,1.5e-07]");
    EXPECT_EQ(write(Array{NSNumber::numberWithFloat(0.1f)}), "[0.1]");
    EXPECT_EQ(write(Array{NSNumber::numberWithBool(true), NSNumber::numberWithBool(false)}), "[true,false]");
    EXPECT_EQ(write(Array{NSNumber::numberWithChar(1), NSNumber::numberWithChar(0)}), "[1,0]");
    EXPECT_EQ(write(Array{NSNumber::numberWithUnsignedLongLong(~0ull),
                          NSNumber::numberWithLongLong(std::numeric_limits<long long>::min())}),
              "[18446744073709551615,-9223372036854775808]");
}

TEST(JSONWriteTest, NumbersRoundTrip) {
    std::mt19937_64 rng(7);
    Array values = Array::mutableArray();
    for (int i = 0; i < 2000; ++i) {
        double d;
        std::uint64_t bits = rng();
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d)) continue;
        values.addObject(d);
        values.addObject(static_cast<long long>(rng()));
    }
    Value back = read(write(values));
    ASSERT_TRUE(back.isArray());
    ASSERT_EQ(back.array()->count(), values.count());
    for (std::size_t i = 0; i < values.count(); ++i) {
        EXPECT_EQ(back[i].doubleValue(), values[i].doubleValue()) << i;
    }
}

TEST(JSONWriteTest, InvalidValuesWriteNothing) {
    Ref<NSError> error;
    auto check = [&](const Value& inner) {
        error = nullptr;
        auto data = NSJSONSerialization::dataWithJSONObject(Array{1, inner}, 0, &error);
        EXPECT_FALSE(data.has_value());
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
        EXPECT_EQ(error->code(), 3852);
        EXPECT_FALSE(NSJSONSerialization::isValidJSONObject(Array{inner}));
    };
    check(std::nan(""));
    check(std::numeric_limits<double>::infinity());
    check(NSNumber::numberWithFloat(-std::numeric_limits<float>::infinity()));
    check(NSData::fromString("x"));
    check(NSDate::dateWithTimeIntervalSince1970(0));
    check(make<TestObject>());
    check(Value());
    check(Dictionary{{"deep", Array{NSData()}}});
    EXPECT_NE(error->userInfo()[NSDebugDescriptionErrorKey].stringValue().find("NSData"), std::string::npos);
}

TEST(JSONWriteTest, InvalidUTF8StringIsRefused) {
    Ref<NSError> error;
    EXPECT_FALSE(NSJSONSerialization::dataWithJSONObject(Array{"\xC3("}, 0, &error));
    EXPECT_TRUE(error);
    EXPECT_FALSE(NSJSONSerialization::dataWithJSONObject(Dictionary{{"\xFF", 1}}, 0, nullptr));
}

// The writer looks at strings a block of sixteen bytes at a time and checks UTF-8 in one pass
// from the first byte above 0x7F; these tables put every kind of byte that needs work at every
// place around the block edges and compare with a byte-at-a-time writing.
std::string escapedOneByOne(const std::string& s, bool escapeSlash) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '/':
                out += escapeSlash ? "\\/" : "/";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

TEST(JSONWriteTest, EveryByteNeedingWorkAtEveryPlaceAroundTheBlocks) {
    const std::vector<std::string> pieces = {"\"",
                                             "\\",
                                             "/",
                                             "\n",
                                             std::string(1, '\0'),
                                             "\x1f",
                                             "\x7f",
                                             "\xC3\xA9",
                                             "\xE4\xB8\xAD",
                                             "\xF0\x9F\x98\x80",
                                             "\xF4\x8F\xBF\xBF",
                                             "/\\\"",
                                             "\xE4\xB8\xAD/\x01"};
    for (unsigned options : {0u, unsigned(NSJSONWritingWithoutEscapingSlashes)}) {
        bool escapeSlash = options == 0;
        for (const std::string& piece : pieces) {
            for (std::size_t length = 0; length <= 40; ++length) {
                for (std::size_t at = 0; at <= length; ++at) {
                    std::string s(length, 'x');
                    s.insert(at, piece);
                    EXPECT_EQ(write(s, options | NSJSONWritingFragmentsAllowed),
                              escapedOneByOne(s, escapeSlash))
                        << "piece " << testing::PrintToString(piece) << " at " << at << " of " << length;
                }
            }
        }
    }
}

TEST(JSONWriteTest, TextOfManyBlocksWithWorkInEach) {
    std::string s;
    for (int i = 0; i < 300; ++i) {
        s += (i % 7 == 0) ? "中文" : "plain";
        s += (i % 5 == 0) ? "/" : (i % 11 == 0) ? "\"\t" : "";
        s += (i % 13 == 0) ? "\xF0\x9F\x98\x80" : "é";
    }
    EXPECT_EQ(write(s, NSJSONWritingFragmentsAllowed), escapedOneByOne(s, true));
    EXPECT_EQ(read(write(Array{s})), Value(Array{s}));
}

TEST(JSONWriteTest, BytesPastAStringsEndAreNotWritten) {
    // A string whose buffer still holds quotes, control bytes and broken UTF-8 past its end, as
    // one cut short keeps them.
    for (std::size_t length = 0; length <= 40; ++length) {
        std::string s;
        s.reserve(80);
        s.assign(length, 'a');
        s.append("\"\\\x01\xFF\xC3/");
        s.append(30, '\x80');
        s.resize(length);
        std::string expected = escapedOneByOne(s, true);
        EXPECT_EQ(write(Value(std::move(s)), NSJSONWritingFragmentsAllowed), expected) << length;
    }
}

TEST(JSONWriteTest, InvalidUTF8AtEveryPlaceAroundTheBlocksIsRefused) {
    const std::vector<std::string> broken = {
        "\x80",              // continuation byte alone
        "\xBF\xBF",          // continuation bytes alone
        "\xC3",              // sequence cut short by the end or by a plain byte
        "\xE4\xB8",          // three-byte sequence cut short
        "\xF0\x9F\x98",      // four-byte sequence cut short
        "\xC0\x80",          // overlong NUL
        "\xC1\xBF",          // overlong
        "\xE0\x80\xAF",      // overlong slash
        "\xED\xA0\x80",      // surrogate
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xF5\x80\x80\x80",  // lead byte never used
        "\xFF",
    };
    for (const std::string& bad : broken) {
        for (std::size_t length = 0; length <= 36; ++length) {
            for (std::size_t at = 0; at <= length; ++at) {
                // Plain text around it, or valid multi-byte text and escapes before it (after
                // which the writer no longer looks at each byte above 0x7F).
                for (const char* before : {"", "\xC3\xA9", "\"\xE4\xB8\xAD"}) {
                    std::string s(length, 'x');
                    s.insert(at, bad);
                    s.insert(0, before);
                    Ref<NSError> error;
                    auto data = NSJSONSerialization::dataWithJSONObject(Dictionary{{"k", s}}, 0, &error);
                    EXPECT_FALSE(data.has_value()) << testing::PrintToString(s);
                    ASSERT_TRUE(error);
                    EXPECT_EQ(error->code(), 3852);
                    data = NSJSONSerialization::dataWithJSONObject(Dictionary{{s, 1}}, 0, nullptr);
                    EXPECT_FALSE(data.has_value()) << testing::PrintToString(s);
                }
            }
        }
    }
}

TEST(JSONWriteTest, TopLevelMustBeAContainer) {
    Ref<NSError> error;
    EXPECT_FALSE(NSJSONSerialization::dataWithJSONObject("text", 0, &error));
    EXPECT_TRUE(error);
    EXPECT_FALSE(NSJSONSerialization::isValidJSONObject(Value(1)));
    EXPECT_FALSE(NSJSONSerialization::isValidJSONObject(Value::null()));
    EXPECT_EQ(write("text", NSJSONWritingFragmentsAllowed), "\"text\"");
    EXPECT_EQ(write(Value::null(), NSJSONWritingFragmentsAllowed), "null");
    EXPECT_TRUE(NSJSONSerialization::isValidJSONObject(Array{}));
    EXPECT_TRUE(NSJSONSerialization::isValidJSONObject(Dictionary{{"a", Array{Value::null(), 1.5, "x"}}}));
}

TEST(JSONWriteTest, ContainerHoldingItselfFailsCleanly) {
    Array a = Array::mutableArray();
    a.addObject(1);
    a.addObject(a);
    Ref<NSError> error;
    EXPECT_FALSE(NSJSONSerialization::dataWithJSONObject(a, 0, &error));
    EXPECT_TRUE(error);
    EXPECT_FALSE(NSJSONSerialization::isValidJSONObject(a));
    a.removeAllObjects();  // break the cycle so the array can go
}

TEST(JSONWriteTest, PrettyPrintedAndSorted) {
    Dictionary d{{"b", Array{1, 2}}, {"a", Dictionary{}}, {"c", Array{}}};
    EXPECT_EQ(write(d, NSJSONWritingPrettyPrinted),
              "{\n  \"b\" : [\n    1,\n    2\n  ],\n  \"a\" : {\n\n  },\n  \"c\" : [\n\n  ]\n}");
    EXPECT_EQ(write(d, NSJSONWritingSortedKeys), R"({"a":{},"b":[1,2],"c":[]})");
    // Pretty text reads back to the same value.
    EXPECT_EQ(read(write(d, NSJSONWritingPrettyPrinted | NSJSONWritingSortedKeys)), Value(d));
}

TEST(JSONWriteTest, LargeDocumentRoundTrips) {
    Array records = Array::mutableArray();
    for (int i = 0; i < 5000; ++i) {
        records.addObject(Dictionary{{"id", i},
                                     {"name", "用户" + std::to_string(i)},
                                     {"url", "http://example.com/a/" + std::to_string(i) + ".jpg"},
                                     {"score", i / 8.0},
                                     {"vip", i % 2 == 0},
                                     {"none", Value::null()},
                                     {"tags", Array{"x", i}}});
    }
    Value doc = Dictionary{{"resultCode", 0}, {"data", records}};
    Value back = read(write(doc));
    EXPECT_EQ(back, doc);
    // Written twice in a row gives the same bytes (the writer's buffer is reused).
    EXPECT_EQ(write(doc), write(back));
}

TEST(JSONThreadTest, ReadersAndWritersOnManyThreadsAgree) {
    // Each thread keeps its own scratch buffers; results must not bleed between threads.
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &mismatches] {
            for (int i = 0; i < 200; ++i) {
                Value doc = Dictionary{
                    {"thread", t}, {"i", i}, {"text", std::string(static_cast<std::size_t>(i * 7), 'a' + t)}};
                Value back = read(write(doc));
                if (back != doc) ++mismatches[static_cast<std::size_t>(t)];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches, (std::vector<int>{0, 0, 0, 0}));
}

// ---------------------------------------------------------------------------------------------
// Hostile input

TEST(JSONFuzzTest, MutatedDocumentsNeverCrash) {
    const std::string seeds[] = {
        R"({"resultCode":0,"errmsg":"","data":[{"id":1,"name":"改装","url":"http:\/\/x.com\/a.png","r":127.5,"b":true,"n":null,"t":[1,"x",{"k":[]}]}]})",
        R"([[[[[[1,2,3],{"a":{"b":{"c":"\u4e2d\ud83d\ude00"}}}]]]],-1.5e-3,18446744073709551616])",
        R"({"a":"\\\"\/\b\f\n\r\t","b":[true,false,null],"a":0})",
    };
    int parsed = 0, failed = 0;
    for (const auto& seed : seeds) {
        for (unsigned i = 0; i < 3000; ++i) {
            std::string text = testsupport::mutate(seed, i);
            Ref<NSError> error;
            Value v = NSJSONSerialization::JSONObjectWithData(NSData::fromString(text), i % 8, &error);
            if (v.isNil()) {
                ASSERT_TRUE(error) << text;
                EXPECT_EQ(error->code(), 3840);
                ++failed;
            } else {
                EXPECT_FALSE(error);
                ++parsed;
                // Whatever was read can be written again.
                if (v.isArray() || v.isDictionary()) {
                    EXPECT_TRUE(NSJSONSerialization::dataWithJSONObject(v, 0, nullptr).has_value()) << text;
                }
            }
        }
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(parsed, 0);
}

TEST(JSONFuzzTest, RandomBytesNeverCrash) {
    std::mt19937 rng(99);
    for (int i = 0; i < 2000; ++i) {
        std::string text(rng() % 64, '\0');
        for (auto& c : text) c = static_cast<char>(rng());
        if (i % 3 == 0 && !text.empty()) text[0] = '[';
        Ref<NSError> error;
        Value v = NSJSONSerialization::JSONObjectWithData(NSData::fromString(text),
                                                          NSJSONReadingAllowFragments, &error);
        EXPECT_EQ(v.isNil(), error != nullptr);
    }
}

TEST(JSONFuzzTest, HostileShapes) {
    // Very long strings and keys, many tiny objects, long runs of escapes.
    std::string longString = "[\"" + std::string(1 << 20, 'a') + "\"]";
    EXPECT_EQ(read(longString)[0].string()->size(), std::size_t(1) << 20);
    std::string escapes = "[\"";
    for (int i = 0; i < 50000; ++i) escapes += "\\u00e9";
    escapes += "\"]";
    EXPECT_EQ(read(escapes)[0].string()->size(), 100000u);
    std::string manyKeys = "{";
    for (int i = 0; i < 50000; ++i)
        manyKeys += "\"" + std::to_string(i % 1000) + "\":" + std::to_string(i) + ",";
    manyKeys += "\"end\":1}";
    Value v = read(manyKeys);
    ASSERT_TRUE(v.isDictionary());
    EXPECT_EQ(v.dictionary()->count(), 1001u);
    EXPECT_EQ(v["999"].intValue(), 49999);
    // A document big enough that the reader lets go of its buffers afterwards, then a small one.
    EXPECT_EQ(read("[\"" + std::string(5 << 20, 'b') + "\"]")[0].string()->size(), std::size_t(5) << 20);
    EXPECT_EQ(read("[1]"), Value(Array{1}));
}

}  // namespace
