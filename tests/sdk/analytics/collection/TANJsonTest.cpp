#include "sdk/analytics/collection/TANJson.h"

#include <gtest/gtest.h>

#include <cmath>

#include "foundation/NSDecimalNumber.h"
#include "foundation/NSJSONSerialization.h"
#include "tests/support/TestSupport.h"

namespace {

struct ReadResult {
    Value value;
    std::vector<std::string> messages;
    std::vector<long> codes;
};

ReadResult readFragment(const std::string& text, unsigned maxDepth = 512) {
    auto parser = make<TANJsonParser>();
    parser->setMaxDepth(maxDepth);
    ReadResult r;
    r.value = parser->fragmentWithString(text);
    if (parser->errorTrace()) {
        for (const Value& e : *parser->errorTrace()) {
            auto error = e.objectAs<NSError>();
            r.messages.push_back(error->localizedDescription());
            r.codes.push_back(error->code());
        }
    }
    return r;
}

std::string firstMessage(const std::string& text) {
    auto r = readFragment(text);
    return r.messages.empty() ? std::string("<none>") : r.messages.front();
}

TEST(TANJsonParser, EmptyContainersWithBlanks) {
    EXPECT_TRUE(readFragment(" [ ] ").value.isArray());
    EXPECT_TRUE(readFragment("\t{\n}\r").value.isDictionary());
    EXPECT_TRUE(readFragment("[]").value.array()->empty());
}

TEST(TANJsonParser, LooseSeparatorsButNoTrailingComma) {
    auto two = readFragment("[1 2]");
    ASSERT_TRUE(two.value.isArray());
    EXPECT_EQ(two.value.array()->count(), 2u);
    auto members = readFragment("{\"a\":1 \"b\":2}");
    ASSERT_TRUE(members.value.isDictionary());
    EXPECT_EQ(members.value.dictionary()->count(), 2u);
    auto trailing = readFragment("[1,2,]");
    EXPECT_TRUE(trailing.value.isNil());
    EXPECT_EQ(trailing.codes.front(), 9);
    EXPECT_EQ(firstMessage("{\"a\":1,}"), "Trailing comma disallowed in object");
}

TEST(TANJsonParser, NumberErrors) {
    EXPECT_EQ(firstMessage("-"), "No digits after initial minus");
    EXPECT_EQ(firstMessage("01"), "Leading 0 disallowed in number");
    EXPECT_EQ(firstMessage("+1"), "Leading + disallowed in number");
    EXPECT_EQ(firstMessage("1."), "No digits after decimal point");
    EXPECT_EQ(firstMessage("1e"), "No digits after exponent");
    EXPECT_EQ(firstMessage("1E+"), "No digits after exponent");
}

TEST(TANJsonParser, NumbersAreExactDecimals) {
    auto r = readFragment("[0.1, -12.5e3, 123456789012345678901234567890]");
    ASSERT_TRUE(r.value.isArray());
    auto a = r.value[0].objectAs<NSDecimalNumber>();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->stringValue(), "0.1");
    EXPECT_EQ(r.value[1].objectAs<NSDecimalNumber>()->stringValue(), "-12500");
    EXPECT_EQ(r.value[2].objectAs<NSDecimalNumber>()->stringValue(), "123456789012345678901234567890");
}

TEST(TANJsonParser, GarbageUnterminatedAndFragments) {
    EXPECT_EQ(firstMessage("[1] x"), "Garbage after JSON");
    auto unterminated = readFragment("\"abc");
    EXPECT_EQ(unterminated.messages.front(), "Unescaped control character '0x0'");
    EXPECT_EQ(unterminated.codes.front(), 5);
    auto parser = make<TANJsonParser>();
    EXPECT_TRUE(parser->objectWithString(std::string("\"x\"")).isNil());
    EXPECT_EQ(parser->errorTrace()->lastObject().objectAs<NSError>()->localizedDescription(),
              "Valid fragment, but not JSON");
    EXPECT_EQ(*parser->fragmentWithString(std::string("\"x\"")).string(), "x");
    EXPECT_TRUE(parser->fragmentWithString(std::nullopt).isNil());
    EXPECT_EQ(parser->errorTrace()->firstObject().objectAs<NSError>()->code(), 12);
}

TEST(TANJsonParser, DepthLimit) {
    std::string ok(512, '['), deep(513, '[');
    ok += std::string(512, ']');
    deep += std::string(513, ']');
    EXPECT_TRUE(readFragment(ok).value.isArray());
    auto r = readFragment(deep);
    EXPECT_TRUE(r.value.isNil());
    EXPECT_EQ(r.messages.front(), "Nested too deep");
    EXPECT_TRUE(readFragment(deep, 0).value.isArray());
}

TEST(TANJsonParser, UnicodeEscapes) {
    EXPECT_EQ(*readFragment("\"\\u00e9\"").value.string(), "é");
    EXPECT_EQ(*readFragment("\"\\uD83D\\uDE00\"").value.string(), "\xF0\x9F\x98\x80");
    EXPECT_EQ(*readFragment("\"\\ud83d\\udfff\"").value.string(), "\xF0\x9F\x9F\xBF");
    EXPECT_EQ(firstMessage("\"\\uDC00\""), "Invalid high character in surrogate pair");
    EXPECT_EQ(firstMessage("\"\\uD83Dx\""), "Missing low character in surrogate pair");
    EXPECT_EQ(firstMessage("\"\\uD83D\\u0041\""), "Invalid low surrogate char");
    EXPECT_EQ(firstMessage("\"\\u12G4\""), "Missing hex digit in quad");
    EXPECT_EQ(firstMessage("\"\\q\""), "Illegal escape sequence '0x71'");
}

TEST(TANJsonParser, TraceChainsInnermostFirst) {
    auto r = readFragment("[\"\\q\"]");
    ASSERT_GE(r.messages.size(), 2u);
    EXPECT_EQ(r.messages.front(), "Illegal escape sequence '0x71'");
    EXPECT_EQ(r.messages.back(), "Expected value while parsing array");
    auto parser = make<TANJsonParser>();
    parser->fragmentWithString(std::string("[\"\\q\"]"));
    auto last = parser->errorTrace()->lastObject().objectAs<NSError>();
    auto underlying = last->userInfo().objectForKey(NSUnderlyingErrorKey).objectAs<NSError>();
    ASSERT_TRUE(underlying);
    EXPECT_EQ(underlying->code(), 8);
}

TEST(TANJsonParser, EndOfInputMessages) {
    EXPECT_EQ(readFragment("[").messages.back(), "End of input while parsing array");
    EXPECT_EQ(readFragment("{").messages.back(), "End of input while parsing object");
    EXPECT_EQ(readFragment("{ ").messages.back(), "Object key string expected");
    EXPECT_EQ(readFragment("[ ").messages.front(), "Unexpected end of string");
    EXPECT_EQ(readFragment("{\"a\" 1}").messages.back(), "Expected ':' separating key and value");
    EXPECT_EQ(readFragment("{\"a\":}").messages.back(), "Object value expected for key: a");
    EXPECT_EQ(firstMessage("tru"), "Expected 'true'");
    EXPECT_EQ(firstMessage("nul"), "Expected 'null'");
    EXPECT_EQ(firstMessage("@"), "Unrecognised leading character");
}

TEST(TANJsonParser, LiteralsAndDuplicateKeys) {
    auto r = readFragment("{\"a\":true,\"b\":false,\"c\":null,\"a\":2}");
    ASSERT_TRUE(r.value.isDictionary());
    const Dictionary& d = *r.value.dictionary();
    EXPECT_EQ(d.allKeys().front(), "a");
    EXPECT_EQ(d["a"].objectAs<NSDecimalNumber>()->stringValue(), "2");
    EXPECT_TRUE(d["b"].number()->isBoolean());
    EXPECT_TRUE(d["c"].isNull());
}

TEST(TANJsonParser, MutatedDocumentsNeverCrash) {
    std::string valid =
        "{\"appkey\":\"0123456789abcdef01234567\",\"list\":[1,2.5,-3e2,true,false,null,\"\\u00e9\\n\"],"
        "\"nested\":{\"a\":[{\"b\":\"c\"}]}}";
    ASSERT_TRUE(readFragment(valid).value.isDictionary());
    for (unsigned seed = 0; seed < 2000; ++seed) {
        auto r = readFragment(testsupport::mutate(valid, seed));
        EXPECT_TRUE(!r.value.isNil() || !r.messages.empty());
    }
}

TEST(TANJsonParser, ObjectOf100000KeysReadsWholeInOrder) {
    std::string text = "{";
    for (int i = 0; i < 100000; ++i)
        text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
    text += ",\"k5\":\"again\"}";
    auto r = readFragment(text);
    ASSERT_TRUE(r.value.isDictionary()) << (r.messages.empty() ? "" : r.messages.front());
    const Dictionary& d = *r.value.dictionary();
    ASSERT_EQ(d.count(), 100000u);
    EXPECT_EQ(d.entries()[5].first, "k5");
    EXPECT_EQ(d["k5"], Value("again"));
    EXPECT_EQ(d.entries().back().first, "k99999");
    EXPECT_EQ(d["k77777"].objectAs<NSDecimalNumber>()->stringValue(), "77777");
}

TEST(TANJsonParser, HostileInputFailsCleanly) {
    const std::string deepOpen(200000, '['), deepClose(200000, ']');
    std::string deepObjects;
    for (int i = 0; i < 100000; ++i) deepObjects += "{\"a\":";
    struct Case {
        const char* name;
        std::string text;
        unsigned maxDepth;
        const char* firstMessage;  // nullptr: reads
        std::size_t traceLength;   // 0: not checked
    };
    const Case cases[] = {
        {"deep, default limit", deepOpen + deepClose, 512, "Nested too deep", 513},
        {"deep, no limit", deepOpen + deepClose, 0, nullptr, 0},
        {"deep and truncated, no limit", deepOpen, 0, "End of input while parsing array", 200000},
        {"deep objects truncated, no limit", deepObjects, 0, "Unexpected end of string", 100001},
        {"deep objects, default limit", deepObjects, 512, "Nested too deep", 513},
        {"unbalanced closer", "[1]]", 512, "Garbage after JSON", 1},
        {"wrong closer", "[1}", 512, "Unrecognised leading character", 2},
        {"zero byte inside", std::string("[\"a\0\"]", 6), 512, "Unescaped control character '0x0'", 2},
        {"escape at end", "\"\\", 512, "Illegal escape sequence '0x0'", 1},
        {"key without value at end", "{\"a\":", 512, "Unexpected end of string", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = readFragment(c.text, c.maxDepth);
        if (!c.firstMessage) {
            EXPECT_FALSE(r.value.isNil());
            EXPECT_TRUE(r.messages.empty());
            continue;
        }
        EXPECT_TRUE(r.value.isNil());
        ASSERT_FALSE(r.messages.empty());
        EXPECT_EQ(r.messages.front(), c.firstMessage);
        if (c.traceLength) {
            EXPECT_EQ(r.messages.size(), c.traceLength);
        }
    }
    // Every prefix of a valid document is an error, never a crash or a value.
    const std::string valid = "{\"a\":[1,{\"b\":\"\\u00e9\\n\"},true,null,-2.5e3],\"c\":{}}";
    for (std::size_t n = 0; n < valid.size(); ++n) {
        auto r = readFragment(valid.substr(0, n));
        EXPECT_TRUE(r.value.isNil()) << n;
        EXPECT_FALSE(r.messages.empty()) << n;
    }
}

TEST(TANJsonWriter, EscapesAndLiterals) {
    auto writer = make<TANJsonWriter>();
    EXPECT_EQ(*writer->stringWithFragment(Value("a\tb")), "\"a\\tb\"");
    EXPECT_EQ(*writer->stringWithFragment(Value(std::string("\x01", 1))), "\"\\u0001\"");
    EXPECT_EQ(*writer->stringWithFragment(Value("a/b é")), "\"a/b é\"");
    EXPECT_EQ(*writer->stringWithFragment(Value("q\"\\")), "\"q\\\"\\\\\"");
    EXPECT_EQ(*writer->stringWithFragment(Value(true)), "true");
    EXPECT_EQ(*writer->stringWithFragment(Value(1)), "1");
    EXPECT_EQ(*writer->stringWithFragment(Value::null()), "null");
    EXPECT_EQ(*writer->stringWithFragment(Value(NSDecimalNumber::decimalNumberWithString("12.50"))), "12.5");
}

TEST(TANJsonWriter, HumanReadableSortedLayout) {
    auto writer = make<TANJsonWriter>();
    writer->setSortKeys(true);
    writer->setHumanReadable(true);
    Dictionary d = Dictionary::mutableDictionary();
    d.setObject("b", Array{Value(1), Value(2)});
    d.setObject("a", 1);
    EXPECT_EQ(*writer->stringWithObject(Value(d)), "{\n  \"a\" : 1,\n  \"b\" : [\n    1,\n    2\n  ]\n}");
    writer->setHumanReadable(false);
    EXPECT_EQ(*writer->stringWithObject(Value(d)), "{\"a\":1,\"b\":[1,2]}");
}

TEST(TANJsonWriter, RefusedValues) {
    auto writer = make<TANJsonWriter>();
    EXPECT_FALSE(writer->stringWithObject(Value("plain")));
    EXPECT_EQ(writer->errorTrace()->lastObject().objectAs<NSError>()->localizedDescription(),
              "Not valid type for JSON");
    EXPECT_FALSE(writer->stringWithFragment(Value(NSData::fromString("x"))));
    EXPECT_EQ(writer->errorTrace()->firstObject().objectAs<NSError>()->code(), 1);
    EXPECT_FALSE(writer->stringWithFragment(Value(Array{Value(std::nan(""))})));
    EXPECT_FALSE(writer->stringWithFragment(Value(1.0 / 0.0)));
    Dictionary d{{"k", Value(NSData())}};
    EXPECT_FALSE(writer->stringWithFragment(Value(d)));
    EXPECT_EQ(writer->errorTrace()->lastObject().objectAs<NSError>()->localizedDescription(),
              "Unsupported value for key k in object");
}

class Proxy : public NSObject, public TANJsonProxy {
  public:
    Value proxyForJson() const override { return Value(Array{Value("p")}); }
};

TEST(TANJsonWriter, ProxiesStandIn) {
    auto writer = make<TANJsonWriter>();
    EXPECT_EQ(*writer->stringWithObject(Value(make<Proxy>())), "[\"p\"]");
    EXPECT_EQ(*writer->stringWithFragment(Value(Array{Value(make<Proxy>())})), "[[\"p\"]]");
}

TEST(TANJsonWriter, OutputReadsBackWithThePlatformReader) {
    auto writer = make<TANJsonWriter>();
    Dictionary d = Dictionary::mutableDictionary();
    d.setObject("s", "改装\n\"car\"");
    d.setObject("n", -2.5);
    d.setObject("list", Array{Value(true), Value::null(), Value(7)});
    auto text = writer->stringWithObject(Value(d));
    ASSERT_TRUE(text);
    Value back = NSJSONSerialization::JSONObjectWithData(NSData::fromString(*text), 0, nullptr);
    ASSERT_TRUE(back.isDictionary());
    EXPECT_EQ(*back["s"].string(), "改装\n\"car\"");
    EXPECT_DOUBLE_EQ(back["n"].doubleValue(), -2.5);
    EXPECT_EQ(back["list"].array()->count(), 3u);
}

}  // namespace
