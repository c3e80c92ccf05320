#include "foundation/Value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <random>
#include <thread>

#include "foundation/NSError.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSPropertyListSerialization.h"

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

// A reader's dictionary gets its lookup table on first use; threads sharing an immutable one may
// all make that first lookup at once (and copy it meanwhile), and every one must find every key.
TEST(ValueTest, ThreadsShareTheFirstLookupOfAReadersDictionary) {
    for (std::size_t size : {11u, 12u, 300u}) {
        std::vector<Dictionary::Entry> entries;
        for (std::size_t i = 0; i < size; ++i)
            entries.emplace_back("key" + std::to_string(i), static_cast<int>(i));
        for (int round = 0; round < 20; ++round) {
            const Dictionary shared = Dictionary::withUniqueEntries(entries);
            std::atomic<int> ready{0}, wrong{0};
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t) {
                threads.emplace_back([&, t] {
                    ++ready;
                    while (ready.load() < 4) {
                    }
                    Dictionary copy = t == 3 ? shared.copy() : shared;
                    for (std::size_t k = 0; k < size; ++k) {
                        std::size_t i = (k * 7 + static_cast<std::size_t>(t)) % size;
                        if (copy["key" + std::to_string(i)] != Value(static_cast<int>(i))) ++wrong;
                    }
                    if (copy.containsKey("key-absent")) ++wrong;
                });
            }
            for (auto& thread : threads) thread.join();
            ASSERT_EQ(wrong.load(), 0) << size;
        }
    }
}

// The JSON reader takes strings and keys without escapes straight from the text: blanks around
// them, escapes anywhere in them and repeated keys must come out as when every one is unescaped.
TEST(ValueTest, JSONReaderStringsAndKeysWithAndWithoutEscapes) {
    const char* text =
        "{ \"plain\" : \"v\" ,\"e\\u00e9\":\"a\\\\b\"\n,\t\"q\\\"k\" :\"\\\"\" , \"plain\":\"again\","
        "\"\":\"\", \"list\":[ \"x\" , \"\\/y\"\r\n,\"\"] }";
    Value v = NSJSONSerialization::JSONObjectWithData(NSData::fromString(text), 0, nullptr);
    ASSERT_TRUE(v.isDictionary()) << text;
    EXPECT_EQ(v.dictionary()->allKeys(),
              (std::vector<std::string>{"plain", "e\xC3\xA9", "q\"k", "", "list"}));
    EXPECT_EQ(v["plain"], Value("again"));
    EXPECT_EQ(v["e\xC3\xA9"], Value("a\\b"));
    EXPECT_EQ(v["q\"k"], Value("\""));
    EXPECT_EQ(v[""], Value(""));
    EXPECT_EQ(v["list"], Value(Array{"x", "/y", ""}));
}

// A dictionary checked step by step against a model of what it must hold: a map and the order
// of first insertion.
class DictionaryModelTest : public ::testing::Test {
  protected:
    enum class Op { Set, SetNil, Remove, Lookup, Copy, MutableCopy, AddFromCopy, Reserve, Clear };

    void apply(Op op, const std::string& key, int value) {
        switch (op) {
            case Op::Set:
                dict.setObject(key, value);
                if (!model.count(key)) order.push_back(key);
                model[key] = value;
                break;
            case Op::SetNil:
            case Op::Remove:
                if (op == Op::SetNil)
                    dict.setObject(key, Value());
                else
                    dict.removeObjectForKey(key);
                if (model.erase(key)) order.erase(std::find(order.begin(), order.end(), key));
                break;
            case Op::Lookup:
                EXPECT_EQ(dict[key], model.count(key) ? Value(model[key]) : Value()) << key;
                break;
            case Op::Copy: {
                // Carries on with a copy; the original must not see later changes.
                Dictionary copy = dict.copy();
                Dictionary original = dict;
                dict = copy.mutableCopy();
                dict.setObject("\x01probe", 1);
                EXPECT_TRUE(original["\x01probe"].isNil());
                dict.removeObjectForKey("\x01probe");
                break;
            }
            case Op::MutableCopy:
                dict = dict.mutableCopy();
                break;
            case Op::AddFromCopy:
                dict.addEntriesFromDictionary(dict.copy());
                break;
            case Op::Reserve:
                dict.reserve(dict.count() + static_cast<std::size_t>(value));
                break;
            case Op::Clear:
                dict.removeAllObjects();
                model.clear();
                order.clear();
                break;
        }
    }

    void check() {
        ASSERT_EQ(dict.count(), order.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            ASSERT_EQ(dict.entries()[i].first, order[i]) << "position " << i;
            ASSERT_EQ(dict[order[i]], Value(model[order[i]])) << order[i];
        }
        EXPECT_TRUE(dict["never-set"].isNil());
        EXPECT_EQ(dict,
                  Dictionary::withUniqueEntries(std::vector<Dictionary::Entry>(dict.begin(), dict.end())));
    }

    Dictionary dict;
    std::map<std::string, int> model;
    std::vector<std::string> order;
};

TEST_F(DictionaryModelTest, OrdersThatOnceRebuiltTheIndex) {
    using Step = std::vector<Op>;
    const std::vector<std::pair<const char*, Step>> table = {
        {"insert only", {Op::Set}},
        {"insert after lookup", {Op::Lookup, Op::Set, Op::Lookup}},
        {"overwrite", {Op::Set, Op::Set}},
        {"remove then insert", {Op::Set, Op::Remove, Op::Set}},
        {"set nil then insert", {Op::Set, Op::SetNil, Op::Set, Op::Lookup}},
        {"copy then insert", {Op::Copy, Op::Set}},
        {"mutable copy then insert", {Op::Set, Op::MutableCopy, Op::Lookup}},
        {"reserve between inserts", {Op::Reserve, Op::Set, Op::Lookup}},
        {"merge own copy", {Op::Set, Op::AddFromCopy}},
    };
    for (auto& [name, step] : table) {
        SCOPED_TRACE(name);
        dict = Dictionary();
        model.clear();
        order.clear();
        for (int i = 0; i < 300; ++i) {
            for (Op op : step) apply(op, "k" + std::to_string(i % 7 == 3 ? i - 1 : i), i);
            if (i % 37 == 0) check();
        }
        check();
    }
}

TEST_F(DictionaryModelTest, RandomOperationsMatchTheModel) {
    std::mt19937 random(20240521);
    for (int round = 0; round < 20000; ++round) {
        int r = static_cast<int>(random() % 100);
        // Few keys early, many later: the dictionary crosses its indexing threshold both ways.
        std::string key = "key" + std::to_string(random() % (round < 5000 ? 20 : 600));
        Op op = r < 45   ? Op::Set
                : r < 60 ? Op::Remove
                : r < 65 ? Op::SetNil
                : r < 90 ? Op::Lookup
                : r < 93 ? Op::Copy
                : r < 96 ? Op::MutableCopy
                : r < 98 ? Op::Reserve
                : r < 99 ? Op::AddFromCopy
                         : (random() % 10 == 0 ? Op::Clear : Op::Lookup);
        apply(op, key, static_cast<int>(random() % 1000));
        if (round % 500 == 0) {
            ASSERT_NO_FATAL_FAILURE(check());
        }
    }
    check();
}

// Readers build dictionaries one key at a time; 100,000 keys must come back whole and in order
// (speed is the benchmark's business, a quadratic reader would not finish here).
TEST(ValueTest, ReadersRebuildDictionariesOf100000Keys) {
    Dictionary big = Dictionary::mutableDictionary();
    for (int i = 0; i < 100000; ++i) big.setObject("key" + std::to_string(i * 7919 % 100003), i);
    auto sameInOrder = [&](const Value& v) {
        ASSERT_TRUE(v.isDictionary());
        ASSERT_EQ(v.dictionary()->count(), big.count());
        EXPECT_EQ(*v.dictionary(), big);
        EXPECT_EQ(v.dictionary()->entries().back().first, big.entries().back().first);
    };
    for (auto format : {NSPropertyListXMLFormat_v1_0, NSPropertyListBinaryFormat_v1_0}) {
        SCOPED_TRACE(format);
        auto data = NSPropertyListSerialization::dataWithPropertyList(big, format, 0, nullptr);
        ASSERT_TRUE(data);
        sameInOrder(NSPropertyListSerialization::propertyListWithData(*data, 0, nullptr, nullptr));
    }
    auto archive = NSKeyedArchiver::archivedDataWithRootObject(big);
    ASSERT_TRUE(archive);
    sameInOrder(NSKeyedUnarchiver::unarchiveObjectWithData(*archive));
}

TEST(ValueTest, DeeplyNestedContainersGoWithoutExhaustingTheStack) {
    Value v = Array::mutableArray();
    for (int i = 0; i < 1000000; ++i) v = i % 2 ? Value(Array{v}) : Value(Dictionary{{"k", v}});
    Value shared = v[0];
    v = Value();
    EXPECT_TRUE(shared.isDictionary());  // a container still held elsewhere survives the teardown
}

TEST(ValueTest, SelfContainingContainersDescribeWithoutEndlessRecursion) {
    Array loop = Array::mutableArray();
    loop.addObject(Value(loop));
    EXPECT_NE(Value(loop).description().find("..."), std::string::npos);
    loop.removeAllObjects();
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
