// The Weibo SDK's JSON decoder against a conformance corpus: valid documents and what they become,
// invalid and borderline ones with the exact error texts, and hostile input (deep nesting, huge
// numbers, invalid UTF-8, truncations).

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/NSException.h"
#include "sdk/weibo/util/WBSDKJSONCodecCategories.h"
#include "sdk/weibo/util/WBSDKJSONDecoder.h"
#include "tests/support/TestSupport.h"

namespace {

struct Parsed {
    Value value;
    Ref<NSError> error;
    std::string message() const { return error ? error->localizedDescription() : std::string(); }
};

Parsed parse(const std::string& text, WBSDKJCParseOptionFlags options = 0, bool mutableCollections = false) {
    Parsed out;
    auto decoder = WBSDKJSONDecoder::decoderWithParseOptions(options);
    out.value = mutableCollections
                    ? decoder->mutableObjectWithUTF8String(text.data(), text.size(), &out.error)
                    : decoder->objectWithUTF8String(text.data(), text.size(), &out.error);
    return out;
}

// ---- valid documents --------------------------------------------------------------------------

struct ValidCase {
    const char* name;
    std::string text;
    Value expected;
};

class ValidDocuments : public ::testing::TestWithParam<ValidCase> {};

TEST_P(ValidDocuments, DecodeToTheirValues) {
    const auto& c = GetParam();
    auto parsed = parse(c.text);
    ASSERT_FALSE(parsed.error) << parsed.message();
    EXPECT_EQ(parsed.value, c.expected) << parsed.value.description();
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, ValidDocuments,
    ::testing::Values(
        ValidCase{"EmptyArray", "[]", Value(Array{})}, ValidCase{"EmptyObject", "{}", Value(Dictionary{})},
        ValidCase{"Scalars", "[1, -2, 3.5, true, false, null, \"x\"]",
                  Value(Array{1, -2, 3.5, true, false, Value::null(), "x"})},
        ValidCase{"Nested", "{\"a\":[{\"b\":{}}],\"c\":\"d\"}",
                  Value(Dictionary{{"a", Array{Dictionary{{"b", Dictionary{}}}}}, {"c", "d"}})},
        ValidCase{"Escapes", R"(["\"\\\/\b\f\n\r\t"])", Value(Array{"\"\\/\b\f\n\r\t"})},
        ValidCase{"UnicodeEscape", R"(["\u00e9\u4e2d"])", Value(Array{"é中"})},
        ValidCase{"SurrogatePair", R"(["\ud83d\ude00"])", Value(Array{"\xF0\x9F\x98\x80"})},
        ValidCase{"RawUTF8", "[\"中文 é \xF0\x9F\x98\x80\"]", Value(Array{"中文 é \xF0\x9F\x98\x80"})},
        ValidCase{"DuplicateKeyKeepsTheLast", "{\"a\":1,\"a\":2}", Value(Dictionary{{"a", 2}})},
        ValidCase{"Exponents", "[1e2, 1E-2, 2.5e+1, 0.0]", Value(Array{100.0, 0.01, 25.0, 0.0})},
        ValidCase{"TrailingWhitespace", "[1] \r\n\t", Value(Array{1})},
        ValidCase{"Subnormal", "[4.9406564584124654e-324]", Value(Array{4.9406564584124654e-324})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WBSDKJSONDecoderTest, NumbersKeepTheirKinds) {
    auto v = parse("[-0, 18446744073709551615, 9223372036854775807, -9223372036854775808, 0.1]").value;
    ASSERT_TRUE(v.isArray());
    ASSERT_TRUE(v[0].number()->isReal());
    EXPECT_TRUE(std::signbit(v[0].doubleValue()));
    EXPECT_EQ(v[1].number()->objCType(), 'Q');
    EXPECT_EQ(v[1].unsignedLongLongValue(), 18446744073709551615ull);
    EXPECT_EQ(v[2].number()->objCType(), 'q');
    EXPECT_EQ(v[3].longLongValue(), INT64_MIN);
    EXPECT_DOUBLE_EQ(v[4].doubleValue(), 0.1);
}

TEST(WBSDKJSONDecoderTest, MutableFormsGiveMutableCollections) {
    auto immutable = parse("{\"a\":[1]}").value;
    EXPECT_FALSE(immutable.dictionary()->isMutable());
    EXPECT_FALSE(immutable["a"].array()->isMutable());
    auto mutableValue = parse("{\"a\":[1]}", 0, true).value;
    EXPECT_TRUE(mutableValue.dictionary()->isMutable());
    EXPECT_TRUE(mutableValue["a"].array()->isMutable());
}

TEST(WBSDKJSONDecoderTest, OneDecoderParsesManyDocuments) {
    auto decoder = WBSDKJSONDecoder::decoder();
    std::string text = "{\"k\":\"v\"}";
    auto a = decoder->objectWithUTF8String(text.data(), text.size());
    auto b = decoder->objectWithUTF8String(text.data(), text.size());
    EXPECT_EQ(a, b);
    std::string bad = "[";
    Ref<NSError> error;
    EXPECT_TRUE(decoder->objectWithUTF8String(bad.data(), bad.size(), &error).isNil());
    EXPECT_TRUE(error);
    EXPECT_EQ(decoder->objectWithUTF8String(text.data(), text.size()), a);  // still usable
}

// ---- invalid and borderline documents, with their exact messages ------------------------------

struct InvalidCase {
    const char* name;
    std::string text;
    WBSDKJCParseOptionFlags options;
    std::string message;
};

class InvalidDocuments : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(InvalidDocuments, FailWithTheFirstError) {
    const auto& c = GetParam();
    auto parsed = parse(c.text, c.options);
    EXPECT_TRUE(parsed.value.isNil()) << parsed.value.description();
    ASSERT_TRUE(parsed.error);
    EXPECT_EQ(parsed.error->domain(), "WBSDKJCErrorDomain");
    EXPECT_EQ(parsed.error->code(), -1);
    EXPECT_EQ(parsed.message(), c.message);
    EXPECT_TRUE(parsed.error->userInfo()["WBSDKJCAtIndexKey"].isNumber());
    EXPECT_TRUE(parsed.error->userInfo()["WBSDKJCLineNumberKey"].isNumber());
}

const std::string kUnexpectedToken =
    "Unexpected token, wanted '{', '}', '[', ']', ',', ':', 'true', 'false', 'null', '\"STRING\"', 'NUMBER'.";

INSTANTIATE_TEST_SUITE_P(
    Corpus, InvalidDocuments,
    ::testing::Values(
        InvalidCase{"Empty", "", 0, "Reached the end of the buffer."},
        InvalidCase{"OnlyWhitespace", "  \n ", 0, kUnexpectedToken},
        InvalidCase{"BareTrue", "true ", 0, "Expected either '[' or '{'."},
        InvalidCase{"BareNumber", "123 ", 0, "Expected either '[' or '{'."},
        InvalidCase{"BareString", "\"s\"", 0, "Expected either '[' or '{'."},
        InvalidCase{"NumberEndingTheInput", "123", 0, "Invalid number."},
        InvalidCase{"LiteralEndingTheInput", "true", 0, kUnexpectedToken},
        InvalidCase{
            "TrailingText", "[1] x", 0,
            "A valid WBSDKJSON object was parsed but there were additional non-white-space characters "
            "remaining."},
        InvalidCase{"TrailingCommaInArray", "[1,]", 0, "Unexpected ']'."},
        InvalidCase{"TrailingCommaInObject", "{\"a\":1,}", 0, "Unexpected '}'."},
        InvalidCase{"TwoValuesWithoutAComma", "[1 2]", 0, "Unexpected value."},
        InvalidCase{"LeadingZero", "[01]", 0, "Unexpected value."},
        InvalidCase{"LeadingComma", "[,1]", 0, "Unexpected ','."},
        InvalidCase{"DoubleComma", "{\"a\":1,,}", 0, "Unexpected ','."},
        InvalidCase{"ColonInArray", "[1:2]", 0, "Expected a comma or a ']', not ':'"},
        InvalidCase{"BraceInEmptyArray", "[}", 0, "Expected a value or a ']', not '}'"},
        InvalidCase{"NumberAsKey", "{1:2}", 0, "Expected a \"STRING\" or a '}', not '1'"},
        InvalidCase{"KeyAfterValue", "{\"a\":1 \"b\":2}", 0, "Unexpected string."},
        InvalidCase{"NoColon", "{\"a\" 1}", 0, "Expected ':'."},
        InvalidCase{"NoValue", "{\"a\":}", 0, "Expected a value or a '}', not '}'"},
        InvalidCase{"BracketAfterKeyValue", "{\"a\":1]", 0, "Expected a comma or a '}', not ']'"},
        InvalidCase{"EndsAfterAToken", "[1,", 0, "Reached the end of the buffer."},
        InvalidCase{"EndsInWhitespace", "[1, ", 0, kUnexpectedToken},
        InvalidCase{"UnterminatedString", "[\"abc", 0, "Invalid string."},
        InvalidCase{"ControlCharacter", std::string("[\"a\x01\"]"), 0,
                    "Invalid character < 0x20 found in string: 0x01."},
        InvalidCase{"BadEscape", "[\"\\q\"]", 0, "Invalid escape sequence found in \"\" string."},
        InvalidCase{
            "BadHex", "[\"\\u12g4\"]", 0,
            "Unexpected character found in \\u Unicode escape sequence.  Found 'g', expected [0-9a-fA-F]."},
        InvalidCase{"NulEscape", "[\"\\u0000\"]", 0, "Illegal \\u Unicode escape sequence."},
        InvalidCase{"LoneLowSurrogate", "[\"\\udc00\"]", 0, "Illegal \\u Unicode escape sequence."},
        InvalidCase{"HighWithoutLow", "[\"\\ud83dx\"]", 0,
                    "Required a second \\u Unicode escape sequence following a surrogate \\u Unicode escape "
                    "sequence."},
        InvalidCase{"HighWithNonLow", "[\"\\ud83d\\u0041\"]", 0, "Illegal \\u Unicode escape sequence."},
        InvalidCase{"NonCharacterEscape", "[\"\\ufffe\"]", 0, "Illegal \\u Unicode escape sequence."},
        InvalidCase{"RawFF", std::string("[\"a\xFF\"]"), 0, "Illegal UTF8 sequence found in \"\" string."},
        InvalidCase{"Overlong", std::string("[\"\xC0\xAF\"]"), 0,
                    "Illegal UTF8 sequence found in \"\" string."},
        InvalidCase{"EncodedSurrogate", std::string("[\"\xED\xA0\x80\"]"), 0,
                    "Illegal UTF8 sequence found in \"\" string."},
        InvalidCase{"CutInsideUTF8", std::string("[\"\xE4\xB8"), 0,
                    "End of buffer reached while parsing UTF8 in \"\" string."},
        InvalidCase{"CutInsideUTF8Lenient", std::string("[\"\xE4\xB8"), WBSDKJCParseOptionLenientUnicode,
                    "End of buffer reached while parsing UTF8 in \"\" string."},
        InvalidCase{"MinusAlone", "[-]", 0, "Invalid number."},
        InvalidCase{"DotWithoutDigits", "[1.]", 0, "Invalid number."},
        InvalidCase{"ExponentWithoutDigits", "[1e+]", 0, "Invalid number."},
        InvalidCase{"UnsignedTooBig", "[18446744073709551616]", 0,
                    "The value '18446744073709551616' exceeded the maximum value that could be represented: "
                    "18446744073709551615."},
        InvalidCase{"SignedTooSmall", "[-9223372036854775809]", 0,
                    "The value '-9223372036854775809' exceeded the minimum value that could be represented: "
                    "-9223372036854775808."},
        InvalidCase{"DoubleOverflow", "[1e999]", 0,
                    "The value '1e999' could not be represented as a 'double' due to overflow."},
        InvalidCase{"DoubleUnderflow", "[1e-999]", 0,
                    "The value '1e-999' could not be represented as a 'double' due to underflow."},
        InvalidCase{"CommentWithoutOption", "[1 /* c */]", 0, kUnexpectedToken},
        InvalidCase{"LineSeparatorWithoutOption", "[1\xE2\x80\xA8]", 0, kUnexpectedToken},
        InvalidCase{
            "ScalarAfterTrailingText", "{} {}", 0,
            "A valid WBSDKJSON object was parsed but there were additional non-white-space characters "
            "remaining."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WBSDKJSONDecoderTest, OptionsWidenWhatIsAccepted) {
    EXPECT_EQ(parse("[1] x", WBSDKJCParseOptionAllowTrailingText).value, Value(Array{1}));
    EXPECT_EQ(parse("[1, // one\n /* two\n */ 2]", WBSDKJCParseOptionAllowComments).value,
              Value(Array{1, 2}));
    EXPECT_EQ(parse("[1\xE2\x80\xA8,\xC2\x85 2]", WBSDKJCParseOptionUnicodeLineBreaks).value,
              Value(Array{1, 2}));
    EXPECT_EQ(parse("[\"\\u0000\"]", WBSDKJCParseOptionLenientUnicode).value, Value(Array{"\xEF\xBF\xBD"}));
    EXPECT_EQ(parse(std::string("[\"a\xFF"
                                "b\"]"),
                    WBSDKJCParseOptionLenientUnicode)
                  .value,
              Value(Array{"a\xEF\xBF\xBD"
                          "b"}));
    EXPECT_EQ(parse("[\"\\ud83dx\"]", WBSDKJCParseOptionLenientUnicode).value, Value(Array{"\xEF\xBF\xBDx"}));
    EXPECT_EQ(parse("[\"\\ud83d\\u0041\"]", WBSDKJCParseOptionLenientUnicode).value,
              Value(Array{"\xEF\xBF\xBD"
                          "A"}));
}

TEST(WBSDKJSONDecoderTest, ErrorsCarryTheLineNumberCountingCRLFOnce) {
    auto parsed = parse("[1,\r\n2,\r3,\n x]");
    ASSERT_TRUE(parsed.error);
    EXPECT_EQ(parsed.error->userInfo()["WBSDKJCLineNumberKey"].integerValue(), 4);
}

TEST(WBSDKJSONDecoderTest, BadOptionsAndNullArgumentsRaise) {
    EXPECT_THROW(WBSDKJSONDecoder::decoderWithParseOptions(16), NSException);
    try {
        WBSDKJSONDecoder::decoderWithParseOptions(16);
    } catch (const NSException& e) {
        EXPECT_EQ(e.name(), NSInvalidArgumentException);
        EXPECT_EQ(e.reason(), "Invalid parse options.");
    }
    auto decoder = WBSDKJSONDecoder::decoder();
    EXPECT_THROW(decoder->objectWithUTF8String(nullptr, 0), NSException);
    EXPECT_THROW(decoder->objectWithData(std::nullopt), NSException);
}

// ---- hostile input ------------------------------------------------------------------------------

TEST(WBSDKJSONDecoderTest, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    std::string ok = std::string(512, '[') + std::string(512, ']');
    EXPECT_TRUE(parse(ok).value.isArray());
    std::string deep = std::string(513, '[') + std::string(513, ']');
    auto parsed = parse(deep);
    EXPECT_TRUE(parsed.value.isNil());
    EXPECT_EQ(parsed.message(), "The WBSDKJSON document is nested more than 512 levels deep.");
    std::string hostile(1 << 20, '[');
    EXPECT_TRUE(parse(hostile).value.isNil());
    std::string objects;
    for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
    EXPECT_TRUE(parse(objects).value.isNil());
}

TEST(WBSDKJSONDecoderTest, HugeNumbersFailCleanly) {
    std::string digits(100000, '9');
    EXPECT_TRUE(parse("[" + digits + "]").value.isNil());
    EXPECT_TRUE(parse("[0." + digits + "]").value.isArray());
    EXPECT_TRUE(parse("[1e" + digits + "]").value.isNil());
}

TEST(WBSDKJSONDecoderTest, EveryTruncationAndMutationFailsOrSucceedsWithoutHarm) {
    std::string doc =
        "{\"a\":[1,-2.5e3,\"x\\u00e9\\ud83d\\ude00\",true,false,null,{\"b\":\"\xE4\xB8\xAD\"}],\"c\":{}}";
    for (std::size_t n = 0; n < doc.size(); ++n) {
        auto parsed = parse(doc.substr(0, n));
        EXPECT_TRUE(parsed.value.isNil()) << n;
        EXPECT_TRUE(parsed.error) << n;
    }
    for (unsigned seed = 0; seed < 2000; ++seed) {
        auto text = testsupport::mutate(doc, seed);
        for (WBSDKJCParseOptionFlags options : {0ull, 15ull}) {
            auto parsed = parse(text, options);
            EXPECT_NE(parsed.value.isNil(), !parsed.error);
        }
    }
}

}  // namespace
