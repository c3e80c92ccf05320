#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestRecords.h"
#include "app/NSObject+RMClass.h"
#include "app/NSObject+RMCoding.h"
#include "foundation/NSKeyedArchiver.h"
#include "tests/support/TestSupport.h"

namespace {

// A coder over a plain dictionary: records what is encoded, in order, and answers decodes from
// what it was given, so tests see exactly which keys the coding touches.
class DictionaryCoder : public NSCoder {
  public:
    explicit DictionaryCoder(Dictionary values = Dictionary::mutableDictionary(), bool secure = false)
        : values_(values.mutableCopy()), secure_(secure) {}

    void encodeObject(const Value& object, const std::string& key) override {
        order.push_back(key);
        values_.setObject(key, object);
    }
    void encodeBool(bool value, const std::string& key) override { encodeObject(Value(value), key); }
    void encodeInt64(std::int64_t value, const std::string& key) override {
        encodeObject(Value(static_cast<long long>(value)), key);
    }
    void encodeDouble(double value, const std::string& key) override { encodeObject(Value(value), key); }

    Value decodeObjectForKey(const std::string& key) override {
        asked.push_back(key);
        return values_.objectForKey(key);
    }
    Value decodeObjectOfClasses(const std::set<std::string>& classes, const std::string& key) override {
        askedClasses.push_back(*classes.begin());
        return decodeObjectForKey(key);
    }
    bool decodeBoolForKey(const std::string& key) override { return values_.objectForKey(key).boolValue(); }
    std::int64_t decodeInt64ForKey(const std::string& key) override {
        return values_.objectForKey(key).longLongValue();
    }
    double decodeDoubleForKey(const std::string& key) override {
        return values_.objectForKey(key).doubleValue();
    }
    bool containsValueForKey(const std::string& key) const override { return values_.containsKey(key); }
    bool requiresSecureCoding() const override { return secure_; }

    const Dictionary& values() const { return values_; }
    std::vector<std::string> order;
    std::vector<std::string> asked;
    std::vector<std::string> askedClasses;

  private:
    Dictionary values_;
    bool secure_;
};

Ref<TRCodable> sampleCodable() {
    auto record = make<TRCodable>();
    record->text = "文本";
    record->number = NSNumber::numberWithDouble(2.5);
    record->big = 9007199254740993LL;
    record->yes = true;
    record->ratio = 0.125;
    record->address = make<TRAddress>();
    record->address->city = "Chengdu";
    record->list = Array{"a", 1, Dictionary{{"k", "v"}}};
    record->skipped = "never archived";
    return record;
}

}  // namespace

TEST(RecordCoding, EncodesEveryNonNilPropertyUnderItsName) {
    auto record = make<TRCodable>();
    record->text = "t";
    DictionaryCoder coder;
    NSObject_RMCoding::encode(*record, coder);
    // Scalars are always there, as boxed numbers; nil properties are not written.
    EXPECT_EQ(coder.order, (std::vector<std::string>{"text", "big", "yes", "ratio"}));
    EXPECT_EQ(coder.values().objectForKey("big").number()->objCType(), 'q');
    EXPECT_TRUE(coder.values().objectForKey("yes").number()->isBoolean());
    EXPECT_FALSE(coder.values().containsKey("number"));
    EXPECT_FALSE(coder.values().containsKey("skipped"));
}

TEST(RecordCoding, DecodesByNameThenByInstanceVariableName) {
    DictionaryCoder coder(
        Dictionary{{"text", "plain"}, {"_number", 3}, {"_big", 4}, {"big", 5}, {"skipped", "x"}});
    auto record = make<TRCodable>();
    record->ratio = 7;
    NSObject_RMCoding::decode(*record, coder);
    EXPECT_EQ(record->text, "plain");
    EXPECT_EQ(record->number, NSNumber::numberWithInt(3));
    EXPECT_EQ(record->big, 5);           // the plain name wins
    EXPECT_DOUBLE_EQ(record->ratio, 7);  // missing: unchanged
    EXPECT_FALSE(record->skipped);       // ignored for coding
    for (const std::string& key : coder.asked) EXPECT_EQ(key.find("skipped"), std::string::npos) << key;
}

TEST(RecordCoding, ValuesOfAnotherKindAreLeftOut) {
    DictionaryCoder coder(Dictionary{{"text", 5}, {"big", "text"}, {"address", "x"}, {"list", Dictionary()}});
    auto record = make<TRCodable>();
    record->big = 1;
    NSObject_RMCoding::decode(*record, coder);
    EXPECT_FALSE(record->text);
    EXPECT_EQ(record->big, 1);
    EXPECT_FALSE(record->address);
    EXPECT_FALSE(record->list);
}

TEST(RecordCoding, SecureDecodingAsksForTheRecordClass) {
    DictionaryCoder coder(Dictionary{{"address", make<TRAddress>()}}, true);
    auto record = make<TRCodable>();
    NSObject_RMCoding::decode(*record, coder);
    EXPECT_EQ(coder.askedClasses, (std::vector<std::string>{"TRAddress"}));
    EXPECT_TRUE(record->address);
}

TEST(RecordCoding, AllowedCodingNames) {
    auto record = make<TRCodableAllowed>();
    record->a = "A";
    record->b = "B";
    DictionaryCoder coder;
    NSObject_RMCoding::encode(*record, coder);
    EXPECT_EQ(coder.order, (std::vector<std::string>{"b"}));
    DictionaryCoder reader(Dictionary{{"a", "x"}, {"b", "y"}});
    auto back = make<TRCodableAllowed>();
    NSObject_RMCoding::decode(*back, reader);
    EXPECT_FALSE(back->a);
    EXPECT_EQ(back->b, "y");
}

TEST(RecordCoding, IgnoredCodingNamesFromSetup) {
    const RMClass* cls = RMClass::of<TRSetupCoding>();
    NSObject_RMClass::setupIgnoredCodingPropertyNames(cls, [] { return std::vector<std::string>{"note"}; });
    auto record = make<TRSetupCodingSub>();
    record->title = "t";
    record->note = "n";
    record->extraNote = "e";
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(record));
    ASSERT_TRUE(data);
    auto back = NSKeyedUnarchiver::unarchiveObjectWithData(*data).objectAs<TRSetupCodingSub>();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->title, "t");
    EXPECT_EQ(back->extraNote, "e");
    EXPECT_FALSE(back->note);
    NSObject_RMClass::setupIgnoredCodingPropertyNames(cls, nullptr);
    EXPECT_TRUE(NSObject_RMClass::totalIgnoredCodingPropertyNames(RMClass::of<TRSetupCodingSub>())->empty());
}

TEST(RecordCoding, KeyedArchiveRoundTrip) {
    auto record = sampleCodable();
    testsupport::TemporaryDirectory directory;
    std::string path = directory.file("record.arc");
    ASSERT_TRUE(NSKeyedArchiver::archiveRootObject(Value(record), path));
    auto back = NSKeyedUnarchiver::unarchiveObjectWithFile(path).objectAs<TRCodable>();
    ASSERT_TRUE(back);
    EXPECT_NE(back, record);
    EXPECT_EQ(back->text, "文本");
    EXPECT_EQ(back->number, NSNumber::numberWithDouble(2.5));
    EXPECT_EQ(back->big, 9007199254740993LL);
    EXPECT_TRUE(back->yes);
    EXPECT_DOUBLE_EQ(back->ratio, 0.125);
    ASSERT_TRUE(back->address);
    EXPECT_EQ(back->address->city, "Chengdu");
    EXPECT_EQ(back->list, record->list);
    EXPECT_FALSE(back->skipped);
}

TEST(RecordCoding, SubclassChainRoundTrip) {
    auto child = make<TRCodableChild>();
    child->nickname = "kid";
    child->text = "inherited";
    child->big = -3;
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(Array{child, child}));
    ASSERT_TRUE(data);
    Value back = NSKeyedUnarchiver::unarchiveObjectWithData(*data);
    ASSERT_TRUE(back.isArray());
    auto first = back.array()->firstObject().objectAs<TRCodableChild>();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->nickname, "kid");
    EXPECT_EQ(first->text, "inherited");
    EXPECT_EQ(first->big, -3);
    // One object archived twice comes back as one object.
    EXPECT_EQ(first, back.array()->lastObject().objectAs<TRCodableChild>());
    EXPECT_TRUE(NSCodingRegistry::isKindOfClass("TRCodableChild", "TRCodable"));
}

TEST(RecordCoding, DamagedArchivesGiveNilNeverACrash) {
    auto data = NSKeyedArchiver::archivedDataWithRootObject(Value(sampleCodable()));
    ASSERT_TRUE(data);
    std::string bytes = data->toString();
    for (std::size_t length = 0; length < bytes.size(); length += 7) {
        Value value = NSKeyedUnarchiver::unarchiveObjectWithData(NSData::fromString(bytes.substr(0, length)));
        EXPECT_TRUE(value.isNil() || value.objectAs<TRCodable>()) << length;
    }
    for (unsigned seed = 0; seed < 300; ++seed) {
        Value value =
            NSKeyedUnarchiver::unarchiveObjectWithData(NSData::fromString(testsupport::mutate(bytes, seed)));
        if (auto record = value.objectAs<TRCodable>()) {
            // Whatever survived has the declared kinds.
            if (record->address) {
                EXPECT_TRUE(isKindOf<TRAddress>(record->address));
            }
        }
    }
}
