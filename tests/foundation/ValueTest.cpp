#include "foundation/Value.h"

#include <gtest/gtest.h>

#include "foundation/NSError.h"

namespace {

TEST(NSNumberTest, KeepsKindAndComparesByValue) {
    EXPECT_EQ(NSNumber::numberWithInt(0), NSNumber::numberWithDouble(0.0));
    EXPECT_EQ(NSNumber::numberWithBool(true), NSNumber::numberWithInt(1));
    EXPECT_EQ(NSNumber::numberWithBool(true).objCType(), 'c');
    EXPECT_EQ(NSNumber::numberWithInteger(5).objCType(), 'q');
    EXPECT_EQ(NSNumber::numberWithDouble(1.5).objCType(), 'd');
    EXPECT_TRUE(NSNumber::numberWithBool(false).isBoolean());
    EXPECT_FALSE(NSNumber::numberWithChar(0).isBoolean());
    EXPECT_LT(NSNumber::numberWithInt(-1).compare(NSNumber::numberWithUnsignedLongLong(~0ull)), 0);
    EXPECT_EQ(NSNumber::numberWithUnsignedLongLong(~0ull).unsignedLongLongValue(), ~0ull);
    EXPECT_EQ(NSNumber::numberWithUnsignedLongLong(~0ull).stringValue(), "18446744073709551615");
}

TEST(NSNumberTest, DescriptionIsShortestDecimal) {
    EXPECT_EQ(NSNumber::numberWithDouble(127.5).stringValue(), "127.5");
    EXPECT_EQ(NSNumber::numberWithDouble(0.1).stringValue(), "0.1");
    EXPECT_EQ(NSNumber::numberWithDouble(3.0).stringValue(), "3");
    EXPECT_EQ(NSNumber::numberWithFloat(0.1f).stringValue(), "0.1");
    EXPECT_EQ(NSNumber::numberWithInt(-42).stringValue(), "-42");
}

TEST(NSNumberTest, EqualNumbersHashAlike) {
    EXPECT_EQ(NSNumber::numberWithInt(7).hash(), NSNumber::numberWithDouble(7.0).hash());
    EXPECT_EQ(Value(7).hash(), Value(7.0).hash());
}

TEST(ValueTest, KindsAndEquality) {
    EXPECT_TRUE(Value().isNil());
    EXPECT_TRUE(Value::null().isNull());
    EXPECT_FALSE(Value::null() == Value());
    EXPECT_NE(Value("0"), Value(0));
    EXPECT_EQ(Value(0), Value(0.0));
    EXPECT_EQ(Value("abc"), Value(std::string("abc")));
    EXPECT_TRUE(Value(NSData::fromString("x")).isData());
    Ref<NSError> noError;
    EXPECT_TRUE(Value(noError).isNil());
    EXPECT_TRUE(Value(NSError::errorWithDomain("d", 1)).isObject());
}

TEST(ValueTest, ReadingsFollowPlatformRules) {
    EXPECT_EQ(Value("0123").intValue(), 123);
    EXPECT_EQ(Value("abc").intValue(), 0);
    EXPECT_EQ(Value(" -17x").intValue(), -17);
    EXPECT_DOUBLE_EQ(Value("8.4").doubleValue(), 8.4);
    EXPECT_EQ(Value().intValue(), 0);
    EXPECT_TRUE(Value("YES").boolValue());
    EXPECT_TRUE(Value("1").boolValue());
    EXPECT_FALSE(Value("0").boolValue());
    EXPECT_EQ(Value(99999999999999999999.0).longLongValue(), std::numeric_limits<long long>::max());
    EXPECT_EQ(Value("99999999999999999999999").longLongValue(), std::numeric_limits<long long>::max());
}

TEST(ValueTest, ContainersAreSharedByReference) {
    Dictionary d;
    Value a = d;
    Value b = a;
    b.dictionary()->setObject("k", 1);
    EXPECT_EQ(a["k"], Value(1));
    Value c = a.mutableCopy();
    c.dictionary()->setObject("k", 2);
    EXPECT_EQ(a["k"], Value(1));
    EXPECT_FALSE(a.dictionary()->isSameDictionary(*c.dictionary()));
}

TEST(ValueTest, DictionaryKeepsInsertionOrderAndReplacesInPlace) {
    Dictionary d;
    d.setObject("b", 1);
    d.setObject("a", 2);
    d.setObject("c", 3);
    d.setObject("a", 4);
    EXPECT_EQ(d.allKeys(), (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(d["a"], Value(4));
    d.setObject("b", Value());
    EXPECT_EQ(d.allKeys(), (std::vector<std::string>{"a", "c"}));
    EXPECT_TRUE(d["missing"].isNil());
}

TEST(ValueTest, LargeDictionaryLookupsSurviveGrowthAndRemoval) {
    Dictionary d;
    for (int i = 0; i < 200; ++i) d.setObject("k" + std::to_string(i), i);
    EXPECT_EQ(d["k150"], Value(150));
    d.removeObjectForKey("k10");
    EXPECT_TRUE(d["k10"].isNil());
    EXPECT_EQ(d["k199"], Value(199));
    for (int i = 200; i < 400; ++i) d.setObject("k" + std::to_string(i), i);
    EXPECT_EQ(d["k399"], Value(399));
    EXPECT_EQ(d.count(), 399u);
}

TEST(ValueTest, ArrayBoundsAnswerNil) {
    Array a{1, "two", 3.0};
    EXPECT_EQ(a.count(), 3u);
    EXPECT_TRUE(a[3].isNil());
    EXPECT_FALSE(a.isMutable());
    EXPECT_TRUE(Array().isMutable());
    Value v = a;
    EXPECT_EQ(v[1], Value("two"));
    EXPECT_TRUE(v["key"].isNil());
    EXPECT_TRUE(Value(5)[0].isNil());
    EXPECT_EQ(a.indexOfObject(Value(3)), 2u);
    EXPECT_EQ(a.indexOfObject(Value("3")), NSNotFound);
}

TEST(ValueTest, AddingAnArrayToItself) {
    Array a = Array::mutableArray();
    a.addObject(1);
    a.addObject(2);
    a.addObjectsFromArray(a);
    EXPECT_EQ(a.count(), 4u);
}

TEST(ValueTest, DescriptionsInPlatformForm) {
    EXPECT_EQ(Value().description(), "(null)");
    EXPECT_EQ(Value::null().description(), "<null>");
    EXPECT_EQ(Value(12).description(), "12");
    Dictionary d{{"name", "car one"}, {"id", 7}, {"list", Array{1, "a"}}};
    EXPECT_EQ(Value(d).description(),
              "{\n    name = \"car one\";\n    id = 7;\n    list = (\n        1,\n        a\n    );\n}");
    EXPECT_EQ(NSData::fromString("Hello").description(), "<48656c6c 6f>");
}

TEST(ValueTest, DeepCopyMakesNewContainersAllTheWayDown) {
    Dictionary inner;
    inner.setObject("x", 1);
    Dictionary outer;
    outer.setObject("inner", inner);
    Value copy = Value(outer).deepCopy(false);
    inner.setObject("x", 2);
    EXPECT_EQ(copy["inner"]["x"], Value(1));
    EXPECT_FALSE(copy.dictionary()->isMutable());
    EXPECT_FALSE(copy["inner"].dictionary()->isMutable());
}

TEST(NSDataTest, CopiesDoNotSeeEachOthersEdits) {
    NSData a = NSData::fromString("abc");
    NSData b = a;
    b.appendBytes("d", 1);
    EXPECT_EQ(a.toString(), "abc");
    EXPECT_EQ(b.toString(), "abcd");
    b.appendBytes(b.bytes(), b.length());
    EXPECT_EQ(b.toString(), "abcdabcd");
    EXPECT_EQ(a.subdataWithRange(1, 100).toString(), "bc");
    EXPECT_TRUE(a.subdataWithRange(5, 1).empty());
}

TEST(NSErrorTest, DescriptionAndEquality) {
    auto e = NSError::errorWithDomain("QVNAPI", 10003, Dictionary{{"msg", "expired"}});
    EXPECT_EQ(e->domain(), "QVNAPI");
    EXPECT_EQ(e->code(), 10003);
    EXPECT_EQ(e->userInfo()["msg"], Value("expired"));
    EXPECT_TRUE(e->isEqual(*NSError::errorWithDomain("QVNAPI", 10003, Dictionary{{"msg", "expired"}})));
    EXPECT_NE(e->localizedDescription().find("QVNAPI"), std::string::npos);
}

struct Probe : NSObject {
    std::string className() const override { return "Probe"; }
    bool initialised = false;
    Weak<NSObject> mine;
    void didInit() {
        initialised = true;
        mine = weakSelf();
    }
};

TEST(NSObjectTest, MakeRunsDidInitWithAValidSelf) {
    auto p = make<Probe>();
    EXPECT_TRUE(p->initialised);
    EXPECT_EQ(p->mine.lock(), p);
    EXPECT_EQ(p->description().rfind("<Probe: 0x", 0), 0u);
}

TEST(NSObjectTest, AssociatedObjectsRetainCopyAndWeak) {
    static char strongKey, weakKey;
    auto host = make<Probe>();
    auto target = make<Probe>();
    host->setAssociatedObject(&strongKey, Value(target));
    host->setAssociatedObject(&weakKey, Value(target), AssociationPolicy::Weak);
    EXPECT_EQ(host->associatedObject(&weakKey).object(), target);
    Weak<Probe> watch = target;
    target.reset();
    EXPECT_FALSE(watch.expired());  // still retained by the strong association
    host->setAssociatedObject(&strongKey, Value());
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(host->associatedObject(&weakKey).isNil());
}

TEST(NSObjectTest, ClassLevelValues) {
    static char key;
    setClassAssociatedObject("QVNCar", &key, "x");
    EXPECT_EQ(classAssociatedObject("QVNCar", &key), Value("x"));
    EXPECT_TRUE(classAssociatedObject("QVNUser", &key).isNil());
}

}  // namespace
