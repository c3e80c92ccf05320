// The Weibo SDK's JSON writer and the category entry points: compact and pretty text, escaping,
// numbers, unsupported kinds and their formatters, nesting bounds, and round trips through the
// decoder.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "foundation/NSException.h"
#include "foundation/NSURL.h"
#include "sdk/weibo/util/WBSDKJSONCodecCategories.h"
#include "tests/support/TestSupport.h"

using namespace NSArray_WBSDKJSONCodecSerializing;
using namespace NSArray_WBSDKJSONCodecSerializingBlockAdditions;
namespace StringWriter = NSString_WBSDKJSONCodecSerializing;
namespace StringReader = NSString_WBSDKJSONCodecDeserializing;
namespace DataReader = NSData_WBSDKJSONCodecDeserializing;

namespace {

std::string write(const Value& v, WBSDKJCSerializeOptionFlags options = 0, Ref<NSError>* error = nullptr) {
    return weibosdk_WBSDKJSONStringWithOptions(v, options, error).value_or("<nil>");
}

TEST(WBSDKJCSerializerTest, CompactTextHasNoWhiteSpace) {
    Dictionary d = Dictionary::mutableDictionary();
    d.setObject("b", 1);
    d.setObject("a", Array{true, Value::null()});
    EXPECT_EQ(write(Value(d)), "{\"b\":1,\"a\":[true,null]}");
    EXPECT_EQ(write(Value(Array{})), "[]");
    EXPECT_EQ(write(Value(Dictionary{})), "{}");
}

TEST(WBSDKJCSerializerTest, PrettyTextSortsKeysAndIndents) {
    Dictionary d = Dictionary::mutableDictionary();
    d.setObject("b", 1);
    d.setObject("a", Array{true, Value::null()});
    EXPECT_EQ(write(Value(d), WBSDKJCSerializeOptionPretty),
              "{\n  \"a\": [\n    true,\n    null\n  ],\n  \"b\": 1\n}");
    EXPECT_EQ(write(Value(Dictionary{}), WBSDKJCSerializeOptionPretty), "{\n  \n}");
    EXPECT_EQ(write(Value(Array{}), WBSDKJCSerializeOptionPretty), "[\n  \n]");
}

TEST(WBSDKJCSerializerTest, StringsAreEscaped) {
    struct Case {
        std::string in;
        WBSDKJCSerializeOptionFlags options;
        std::string out;
    };
    std::vector<Case> cases = {
        {"a/b", 0, "[\"a/b\"]"},
        {"a/b", WBSDKJCSerializeOptionEscapeSlash, "[\"a\\/b\"]"},
        {"\t\n\r\b\f", 0, "[\"\\t\\n\\r\\b\\f\"]"},
        {"\x0B\x01", 0, "[\"\\u000b\\u0001\"]"},
        {"\x7F", 0, "[\"\x7F\"]"},
        {"q\"b\\", 0, "[\"q\\\"b\\\\\"]"},
        {"é", 0, "[\"é\"]"},
        {"é", WBSDKJCSerializeOptionEscapeNonASCII, "[\"\\u00e9\"]"},
        {"\xF0\x9F\x98\x80", WBSDKJCSerializeOptionEscapeNonASCII, "[\"\\ud83d\\ude00\"]"},
    };
    for (const auto& c : cases) EXPECT_EQ(write(Value(Array{c.in}), c.options), c.out) << c.in;
}

TEST(WBSDKJCSerializerTest, TextThatIsNotUTF8Fails) {
    Ref<NSError> error;
    EXPECT_EQ(write(Value(Array{std::string("a\xFF")}), 0, &error), "<nil>");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(),
              "An error occurred converting the contents of a NSString to UTF8.");
    EXPECT_EQ(error->domain(), "WBSDKJCErrorDomain");
    EXPECT_EQ(error->code(), -1);
}

TEST(WBSDKJCSerializerTest, NumbersKeepTheirKinds) {
    EXPECT_EQ(write(Value(Array{NSNumber::numberWithLongLong(INT64_MIN)})), "[-9223372036854775808]");
    EXPECT_EQ(write(Value(Array{NSNumber::numberWithUnsignedLongLong(UINT64_MAX)})),
              "[18446744073709551615]");
    EXPECT_EQ(write(Value(Array{0.1})), "[0.10000000000000001]");
    EXPECT_EQ(write(Value(Array{true, false})), "[true,false]");
    EXPECT_EQ(write(Value(Array{NSNumber::numberWithChar(-3)})), "[-3]");
    EXPECT_EQ(write(Value(Array{NSNumber::numberWithFloat(1.5f)})), "[1.5]");
}

TEST(WBSDKJCSerializerTest, NonFiniteNumbersFail) {
    for (double d :
         {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        Ref<NSError> error;
        EXPECT_FALSE(weibosdk_WBSDKJSONStringWithOptions(Value(Array{d}), 0, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->localizedDescription(),
                  "Floating point values must be finite.  WBSDKJSON does not support NaN or Infinity.");
    }
}

TEST(WBSDKJCSerializerTest, UnsupportedKindsNeedAFormatter) {
    Value date = Value(NSDate::dateWithTimeIntervalSince1970(5));
    Ref<NSError> error;
    EXPECT_FALSE(weibosdk_WBSDKJSONString(Value(Array{date})));
    EXPECT_FALSE(weibosdk_WBSDKJSONStringWithOptions(Value(Array{date}), 0, &error));
    EXPECT_EQ(error->localizedDescription(), "Unable to serialize object class NSDate.");
    auto text = weibosdk_WBSDKJSONStringWithOptionsSerializeUnsupportedClassesUsingBlock(
        Value(Array{date}), 0, [](const Value& v) { return Value(v.description()); }, &error);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "[\"" + date.description() + "\"]");
    EXPECT_FALSE(error);
    // A replacement that is itself unsupported fails with both kinds named.
    EXPECT_FALSE(weibosdk_WBSDKJSONStringWithOptionsSerializeUnsupportedClassesUsingBlock(
        Value(Array{date}), 0, [](const Value&) { return Value(NSData::fromString("x")); }, &error));
    EXPECT_EQ(
        error->localizedDescription(),
        "Unable to serialize object class NSData that was returned by the unsupported class formatter.  "
        "Original object class was NSDate.");
    auto url = NSURL::URLWithString("https://h/p");
    auto delegate = make<NSObject>();
    auto viaDelegate = weibosdk_WBSDKJSONStringWithOptionsSerializeUnsupportedClassesUsingDelegate(
        Value(Dictionary{{"u", url}}), 0, delegate, [](const Value& v) { return Value(v.description()); });
    EXPECT_EQ(viaDelegate, "{\"u\":\"https://h/p\"}");
    EXPECT_THROW(weibosdk_WBSDKJSONStringWithOptionsSerializeUnsupportedClassesUsingDelegate(
                     Value(Array{1}), 0, delegate, nullptr),
                 NSException);
}

TEST(WBSDKJCSerializerTest, TheTopLevelKindIsChecked) {
    Ref<NSError> error;
    EXPECT_FALSE(weibosdk_WBSDKJSONStringWithOptions(Value("text"), 0, &error));
    EXPECT_EQ(error->localizedDescription(),
              "Unable to serialize object class NSString, expected a NSArray or NSDictionary.");
    EXPECT_FALSE(weibosdk_WBSDKJSONData(Value(3)));
}

TEST(WBSDKJCSerializerTest, AStringWithAndWithoutQuotes) {
    std::string s = "a\"b";
    EXPECT_EQ(StringWriter::weibosdk_WBSDKJSONString(s), "\"a\\\"b\"");
    EXPECT_EQ(StringWriter::weibosdk_WBSDKJSONStringWithOptions(s, 0, false), "a\\\"b");
    EXPECT_EQ(StringWriter::weibosdk_WBSDKJSONData(s)->toString(), "\"a\\\"b\"");
    EXPECT_EQ(StringWriter::weibosdk_WBSDKJSONDataWithOptions(s, 0, false)->toString(), "a\\\"b");
}

TEST(WBSDKJCSerializerTest, ASelfContainingArrayIsRefusedByDepth) {
    Array a = Array::mutableArray();
    a.addObject(1);
    a.addObject(Value(a));
    Ref<NSError> error;
    EXPECT_FALSE(weibosdk_WBSDKJSONStringWithOptions(Value(a), 0, &error));
    EXPECT_EQ(error->localizedDescription(), "The object is nested more than 512 levels deep.");
    a.removeLastObject();  // break the cycle so the array can go
}

TEST(WBSDKJCSerializerTest, WhatTheDecoderReadsWritesBackToTheSameValues) {
    std::vector<std::string> docs = {
        "{\"a\":[1,-2,3.25,true,false,null,\"x\\u00e9\\ud83d\\ude00\\n\"],\"b\":{\"c\":{}},\"d\":[]}",
        "[18446744073709551615,-9223372036854775808,1e-300,0.1,\"\\u001f\"]",
        "[[[[[[[[[[\"deep\"]]]]]]]]]]",
    };
    for (const auto& doc : docs) {
        Value first = StringReader::weibosdk_objectFromWBSDKJSONString(doc);
        ASSERT_FALSE(first.isNil()) << doc;
        for (WBSDKJCSerializeOptionFlags options : {0ull, 1ull, 2ull, 16ull, 19ull}) {
            auto text = weibosdk_WBSDKJSONStringWithOptions(first, options);
            ASSERT_TRUE(text) << doc;
            EXPECT_EQ(StringReader::weibosdk_objectFromWBSDKJSONString(*text), first) << *text;
        }
    }
}

TEST(WBSDKJSONCodecCategoriesTest, EmptyInputs) {
    Ref<NSError> error = NSError::errorWithDomain("untouched", 1);
    EXPECT_TRUE(DataReader::weibosdk_objectFromWBSDKJSONDataWithParseOptions(NSData(), 0, &error).isNil());
    EXPECT_EQ(error->domain(), "untouched");
    EXPECT_TRUE(
        DataReader::weibosdk_mutableObjectFromWBSDKJSONDataWithParseOptions(NSData(), 0, &error).isNil());
    EXPECT_EQ(error->localizedDescription(), "Reached the end of the buffer.");
    error = nullptr;
    EXPECT_TRUE(StringReader::weibosdk_objectFromWBSDKJSONStringWithParseOptions("", 0, &error).isNil());
    EXPECT_EQ(error->localizedDescription(), "Reached the end of the buffer.");
    EXPECT_THROW(StringReader::weibosdk_objectFromWBSDKJSONStringWithParseOptions("[]", 32), NSException);
}

TEST(WBSDKJSONCodecCategoriesTest, ReadersGiveTheirCollectionKinds) {
    auto d = DataReader::weibosdk_objectFromWBSDKJSONData(NSData::fromString("{\"a\":1}"));
    EXPECT_FALSE(d.dictionary()->isMutable());
    auto m = DataReader::weibosdk_mutableObjectFromWBSDKJSONData(NSData::fromString("{\"a\":1}"));
    EXPECT_TRUE(m.dictionary()->isMutable());
    auto s = StringReader::weibosdk_mutableObjectFromWBSDKJSONString("[1]");
    EXPECT_TRUE(s.array()->isMutable());
    EXPECT_EQ(weibosdk_WBSDKJSONData(m)->toString(), "{\"a\":1}");
}

}  // namespace
