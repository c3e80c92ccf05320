#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "TestRecords.h"
#include "app/NSObject+Property.h"
#include "app/NSObject+RMClass.h"
#include "app/NSObject+RMKeyValue.h"
#include "foundation/FoundationTesting.h"
#include "foundation/NSBundle.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSLog.h"
#include "foundation/NSPropertyListSerialization.h"
#include "tests/support/TestSupport.h"

using namespace NSObject_RMKeyValue;

namespace {

Value json(const std::string& text) {
    return NSJSONSerialization::JSONObjectWithData(NSData::fromString(text), 0, nullptr);
}

std::string domainOf(const Ref<NSError>& error) {
    return error ? error->domain() : std::string();
}

// Captures log lines for the length of a test.
class LogCapture {
  public:
    LogCapture() {
        previous_ = NSLogSetSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~LogCapture() { NSLogSetSink(previous_); }
    std::vector<std::string> lines;

  private:
    NSLogSink previous_;
};

}  // namespace

// ----- Conversions into properties -----

TEST(KeyValueMapping, FillsEveryKindOfProperty) {
    Ref<NSError> error;
    auto person = objectWithKeyValues<TRPerson>(
        json(R"({"name":"Ann","age":41,"height":1.75,"married":true,"flag":1,"uflag":0,"score":2.5,
                 "count":7,"homepage":"http://example.com/a","address":{"city":"Xi'an","zip":710000},
                 "tags":["a",1],"info":{"k":"v"},"idNumber":12,"extra":[1,2],"mutableText":"m"})"),
        &error);
    ASSERT_TRUE(person);
    EXPECT_FALSE(error);
    EXPECT_EQ(person->name, "Ann");
    EXPECT_EQ(person->age, 41);
    EXPECT_DOUBLE_EQ(person->height, 1.75);
    EXPECT_TRUE(person->married);
    EXPECT_EQ(person->flag, 1);
    EXPECT_EQ(person->uflag, 0);
    EXPECT_FLOAT_EQ(person->score, 2.5f);
    EXPECT_EQ(person->count, 7);
    ASSERT_TRUE(person->homepage);
    EXPECT_EQ(person->homepage->absoluteString(), "http://example.com/a");
    ASSERT_TRUE(person->address);
    EXPECT_EQ(person->address->city, "Xi'an");
    EXPECT_EQ(person->address->zip, NSNumber::numberWithInt(710000));
    ASSERT_TRUE(person->tags);
    EXPECT_EQ(*person->tags, (Array{"a", 1}));
    ASSERT_TRUE(person->info);
    EXPECT_EQ(person->info->objectForKey("k"), Value("v"));
    EXPECT_EQ(person->idNumber, NSNumber::numberWithInt(12));
    EXPECT_EQ(person->extra, Value(Array{1, 2}));
    EXPECT_EQ(person->mutableText, "m");
}

TEST(KeyValueMapping, TextBecomesNumbersWhereNumbersAreDeclared) {
    auto person = objectWithKeyValues<TRPerson>(
        Value(Dictionary{{"age", "25"}, {"height", "3.5"}, {"idNumber", "-12"}, {"score", "0.25"}}));
    EXPECT_EQ(person->age, 25);
    EXPECT_DOUBLE_EQ(person->height, 3.5);
    EXPECT_EQ(person->idNumber, NSNumber::numberWithInt(-12));
    EXPECT_FLOAT_EQ(person->score, 0.25f);

    auto unchanged = make<TRPerson>();
    unchanged->age = 9;
    unchanged->idNumber = NSNumber::numberWithInt(3);
    setKeyValues(*unchanged, Value(Dictionary{{"age", "abc"}, {"idNumber", "12abc"}, {"count", ""}}));
    EXPECT_EQ(unchanged->age, 9);
    EXPECT_EQ(unchanged->idNumber, NSNumber::numberWithInt(3));
    EXPECT_EQ(unchanged->count, 0);
}

TEST(KeyValueMapping, WordsAndNumbersBecomeBooleans) {
    struct Case {
        const char* text;
        bool expected;
    };
    for (Case c : {Case{"True", true}, Case{"YES", true}, Case{"yes", true}, Case{"1", true}, Case{"2", true},
                   Case{"false", false}, Case{"No", false}, Case{"0", false}}) {
        auto person = make<TRPerson>();
        person->married = !c.expected;
        setKeyValues(*person, Value(Dictionary{{"married", c.text}}));
        EXPECT_EQ(person->married, c.expected) << c.text;
    }
    auto person = make<TRPerson>();
    person->married = true;
    setKeyValues(*person, Value(Dictionary{{"married", "maybe"}}));
    EXPECT_TRUE(person->married);
    // A char is a bool too.
    setKeyValues(*person, Value(Dictionary{{"flag", "TRUE"}, {"uflag", "yes"}}));
    EXPECT_EQ(person->flag, 1);
    EXPECT_EQ(person->uflag, 1);
}

TEST(KeyValueMapping, NumbersAndURLsBecomeText) {
    auto person = objectWithKeyValues<TRPerson>(Value(Dictionary{{"name", 12}}));
    EXPECT_EQ(person->name, "12");
    person = objectWithKeyValues<TRPerson>(Value(Dictionary{{"name", 2.5}}));
    EXPECT_EQ(person->name, "2.5");
    person = objectWithKeyValues<TRPerson>(Value(Dictionary{{"name", NSURL::URLWithString("http://h/p")}}));
    EXPECT_EQ(person->name, "http://h/p");
    // The exact class only: a mutable-string property keeps a number out.
    person = objectWithKeyValues<TRPerson>(Value(Dictionary{{"mutableText", 5}}));
    EXPECT_FALSE(person->mutableText);
}

TEST(KeyValueMapping, TextBecomesEscapedURLs) {
    auto person = objectWithKeyValues<TRPerson>(Value(Dictionary{{"homepage", "http://h/a b/中"}}));
    ASSERT_TRUE(person->homepage);
    EXPECT_EQ(person->homepage->absoluteString(), "http://h/a%20b/%E4%B8%AD");
    person = objectWithKeyValues<TRPerson>(Value(Dictionary{{"homepage", "http://h/q?a=1&b=[2]#f"}}));
    ASSERT_TRUE(person->homepage);
    EXPECT_EQ(person->homepage->absoluteString(), "http://h/q?a=1&b=[2]#f");
    // Text that is no URL even escaped leaves the property empty.
    person = objectWithKeyValues<TRPerson>(Value(Dictionary{{"homepage", "http://h/%zz"}}));
    EXPECT_FALSE(person->homepage);
}

TEST(KeyValueMapping, NullAndMissingKeysLeaveInitialValues) {
    auto person = make<TRPerson>();
    person->name = "kept";
    person->age = 3;
    setKeyValues(*person, json(R"({"name":null,"age":null,"other":1})"));
    EXPECT_EQ(person->name, "kept");
    EXPECT_EQ(person->age, 3);
}

TEST(KeyValueMapping, ValuesOfAnotherKindCountAsAbsent) {
    auto person = make<TRPerson>();
    person->name = "kept";
    person->age = 3;
    person->info = Dictionary{{"a", 1}};
    setKeyValues(*person, json(R"({"name":["x"],"age":{"a":1},"info":[1],"tags":"text","idNumber":[1],
                                   "homepage":5,"married":[true]})"));
    EXPECT_EQ(person->name, "kept");
    EXPECT_EQ(person->age, 3);
    EXPECT_EQ(person->info->objectForKey("a"), Value(1));
    EXPECT_FALSE(person->tags);
    EXPECT_FALSE(person->idNumber);
    EXPECT_FALSE(person->homepage);
    EXPECT_FALSE(person->married);
}

TEST(KeyValueMapping, NestedRecords) {
    Ref<NSError> error;
    auto person = objectWithKeyValues<TRPerson>(json(R"({"address":{"city":"Shanghai"}})"), &error);
    ASSERT_TRUE(person->address);
    EXPECT_EQ(person->address->city, "Shanghai");
    EXPECT_FALSE(error);

    // JSON text of an object is parsed; anything else gives an empty record and the error.
    person = objectWithKeyValues<TRPerson>(Value(Dictionary{{"address", R"({"city":"Beijing"})"}}));
    ASSERT_TRUE(person->address);
    EXPECT_EQ(person->address->city, "Beijing");
    person = objectWithKeyValues<TRPerson>(Value(Dictionary{{"address", Array{1}}}), &error);
    ASSERT_TRUE(person->address);
    EXPECT_FALSE(person->address->city);
    EXPECT_EQ(domainOf(error), "keyValues参数不是一个字典");
    EXPECT_EQ(error->code(), 250);
}

TEST(KeyValueMapping, ReplacedKeysPathsElementClassesAndIgnoredNames) {
    auto teacher = objectWithKeyValues<TRTeacher>(json(R"({
        "id": 7, "name": {"first": "Li"}, "scores": [1, 2, 3], "secret": "s",
        "students": [{"school": "No.1", "name": "Wang", "grade": "3"}, [{"school": "inner"}], "{\"grade\":5}"]
    })"));
    ASSERT_TRUE(teacher);
    EXPECT_EQ(teacher->teacherId, NSNumber::numberWithInt(7));
    EXPECT_EQ(teacher->firstName, "Li");
    EXPECT_EQ(teacher->thirdScore, NSNumber::numberWithInt(3));
    EXPECT_FALSE(teacher->secret);
    ASSERT_TRUE(teacher->students);
    const Array& students = *teacher->students;
    ASSERT_EQ(students.count(), 3u);
    auto first = students[0].objectAs<TRStudent>();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->school, "No.1");
    EXPECT_EQ(first->name, "Wang");
    EXPECT_EQ(first->grade, 3);
    ASSERT_TRUE(students[1].isArray());
    EXPECT_EQ(students[1].array()->firstObject().objectAs<TRStudent>()->school, "inner");
    EXPECT_EQ(students[2].objectAs<TRStudent>()->grade, 5);

    // Too short a list or the wrong container leaves the indexed property untouched.
    teacher = objectWithKeyValues<TRTeacher>(json(R"({"scores":[1],"name":"flat"})"));
    EXPECT_FALSE(teacher->thirdScore);
    EXPECT_FALSE(teacher->firstName);
}

TEST(KeyValueMapping, InheritedHooksApplyToSubclasses) {
    auto head =
        objectWithKeyValues<TRHeadTeacher>(json(R"({"id":1,"office":"A1","secret":"x","students":[{}]})"));
    EXPECT_EQ(head->teacherId, NSNumber::numberWithInt(1));
    EXPECT_EQ(head->office, "A1");
    EXPECT_FALSE(head->secret);
    ASSERT_TRUE(head->students);
    EXPECT_TRUE(isKindOf<TRStudent>((*head->students)[0].object()));
}

TEST(KeyValueMapping, AllowedNamesAndCamelKeys) {
    auto allowed = objectWithKeyValues<TRAllowed>(json(R"({"kept":"k","dropped":"d"})"));
    EXPECT_EQ(allowed->kept, "k");
    EXPECT_FALSE(allowed->dropped);

    auto camel = objectWithKeyValues<TRCamel>(
        json(R"({"user_name":"u","created_at":"c","plain":"p","userName":"x"})"));
    EXPECT_EQ(camel->userName, "u");
    EXPECT_EQ(camel->createdAt, "c");
    EXPECT_EQ(camel->plain, "p");
}

TEST(KeyValueMapping, InstanceHooks) {
    auto hooked = objectWithKeyValues<TRHooked>(json(R"({"amount":5})"));
    EXPECT_EQ(hooked->title, "untitled");
    EXPECT_EQ(hooked->amount, NSNumber::numberWithInt(5));
    EXPECT_EQ(hooked->filled, 1);
    hooked = objectWithKeyValues<TRHooked>(json(R"({"title":"t"})"));
    EXPECT_EQ(hooked->title, "<t>");

    Value dictionary = keyValues(hooked);
    EXPECT_EQ(hooked->dumped, 1);
    EXPECT_EQ(dictionary["title"], Value("<t>"));
}

TEST(KeyValueMapping, ExceptionsBecomeErrorsAndPartialRecords) {
    LogCapture log;
    Ref<NSError> error;
    auto record = objectWithKeyValues<TRThrowing>(json(R"({"first":"1","bomb":"b","last":"2"})"), &error);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->first, "1");
    EXPECT_FALSE(record->last);
    EXPECT_EQ(domainOf(error), "bomb went off");
    EXPECT_EQ(error->code(), 250);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_NE(log.lines.back().find("bomb went off"), std::string::npos);
}

// ----- Entry points -----

TEST(KeyValueMapping, ObjectFromTextDataAndWrongKinds) {
    auto fromText = objectWithKeyValues<TRAddress>(Value(R"({"city":"a"})"));
    EXPECT_EQ(fromText->city, "a");
    auto fromData = objectWithKeyValues<TRAddress>(Value(NSData::fromString(R"({"city":"b"})")));
    EXPECT_EQ(fromData->city, "b");

    Ref<NSError> error;
    auto fromArray = objectWithKeyValues<TRAddress>(Value(Array{1, 2}), &error);
    ASSERT_TRUE(fromArray);
    EXPECT_FALSE(fromArray->city);
    EXPECT_EQ(domainOf(error), "keyValues参数不是一个字典");

    EXPECT_FALSE(objectWithKeyValues<TRAddress>(Value()));
    EXPECT_FALSE(objectWithKeyValues(nullptr, Value(Dictionary())));
    EXPECT_FALSE(objectWithKeyValues(RMClass::classNamed("NSString"), Value(Dictionary())));
    error = nullptr;
    auto broken = objectWithKeyValues<TRAddress>(Value("{\"city\":"), &error);
    ASSERT_TRUE(broken);
    EXPECT_TRUE(error);
}

TEST(KeyValueMapping, ObjectArrays) {
    Ref<NSError> error;
    Value result = objectArrayWithKeyValuesArray<TRAddress>(
        json(R"([{"city":"a"},[{"city":"b"}],{"city":"c"}])"), &error);
    ASSERT_TRUE(result.isArray());
    EXPECT_FALSE(error);
    const Array& array = *result.array();
    ASSERT_EQ(array.count(), 3u);
    EXPECT_EQ(array[0].objectAs<TRAddress>()->city, "a");
    EXPECT_EQ(array[1].array()->firstObject().objectAs<TRAddress>()->city, "b");
    EXPECT_EQ(array[2].objectAs<TRAddress>()->city, "c");

    result = objectArrayWithKeyValuesArray<TRAddress>(Value(R"([{"city":"x"}])"));
    EXPECT_EQ(result.array()->firstObject().objectAs<TRAddress>()->city, "x");

    // Elements that are no dictionaries give empty records and the error.
    result = objectArrayWithKeyValuesArray<TRAddress>(Value(Array{1, "no json", Value::null()}), &error);
    ASSERT_EQ(result.array()->count(), 3u);
    EXPECT_EQ(domainOf(error), "keyValues参数不是一个字典");

    error = nullptr;
    EXPECT_TRUE(objectArrayWithKeyValuesArray<TRAddress>(Value(Dictionary{{"a", 1}}), &error).isNil());
    EXPECT_EQ(domainOf(error), "keyValuesArray参数不是一个数组");
    EXPECT_TRUE(objectArrayWithKeyValuesArray<TRAddress>(Value()).isNil());
    EXPECT_TRUE(objectArrayWithKeyValuesArray<TRAddress>(Value(Array())).isArray());

    // A platform class gives its input back as it is.
    Value strings(Array{"a", "b"});
    Value same = objectArrayWithKeyValuesArray(RMClass::classNamed("NSString"), strings);
    EXPECT_TRUE(same.array()->isSameArray(*strings.array()));
    EXPECT_EQ(objectArrayWithKeyValuesArray(RMClass::classNamed("NSString"), Value("text")), Value("text"));
}

TEST(KeyValueMapping, PropertyListFiles) {
    testsupport::TemporaryDirectory directory;
    auto write = [&](const std::string& name, const Value& plist) {
        auto data = NSPropertyListSerialization::dataWithPropertyList(plist, NSPropertyListXMLFormat_v1_0, 0,
                                                                      nullptr);
        ASSERT_TRUE(data);
        ASSERT_TRUE(data->writeToFile(directory.file(name)));
    };
    write("person.plist", Value(Dictionary{{"name", "Ann"}, {"age", 30}}));
    write("people.plist", Value(Array{Dictionary{{"name", "A"}}, Dictionary{{"name", "B"}}}));
    ASSERT_TRUE(NSData::fromString("not a property list").writeToFile(directory.file("junk.plist")));

    Ref<NSError> error;
    auto person = objectWithFile<TRPerson>(directory.file("person.plist"), &error);
    ASSERT_TRUE(person);
    EXPECT_EQ(person->name, "Ann");
    EXPECT_EQ(person->age, 30);
    Value people = objectArrayWithFile<TRPerson>(directory.file("people.plist"));
    ASSERT_EQ(people.array()->count(), 2u);
    EXPECT_EQ(people.array()->lastObject().objectAs<TRPerson>()->name, "B");

    EXPECT_FALSE(objectWithFile<TRPerson>(directory.file("junk.plist"), &error));
    EXPECT_FALSE(error);
    EXPECT_FALSE(objectWithFile<TRPerson>(directory.file("people.plist")));
    EXPECT_TRUE(objectArrayWithFile<TRPerson>(directory.file("person.plist")).isNil());
    EXPECT_FALSE(objectWithFile<TRPerson>(directory.file("missing.plist")));
    EXPECT_FALSE(objectWithFile<TRPerson>(std::nullopt, &error));
    EXPECT_EQ(domainOf(error), "file参数为nil");
    error = nullptr;
    EXPECT_TRUE(objectArrayWithFilename<TRPerson>(std::nullopt, &error).isNil());
    EXPECT_EQ(domainOf(error), "filename参数为nil");

    NSBundle::setMainBundlePath(directory.path());
    EXPECT_EQ(objectWithFilename<TRPerson>(std::string("person.plist"))->name, "Ann");
    EXPECT_EQ(objectArrayWithFilename<TRPerson>(std::string("people.plist")).array()->count(), 2u);
    error = nullptr;
    EXPECT_FALSE(objectWithFilename<TRPerson>(std::string("nowhere"), &error));
    EXPECT_EQ(domainOf(error), "file参数为nil");
    foundation_testing::resetBundles();
}

// ----- Records to dictionaries -----

TEST(KeyValueMapping, RecordsToDictionaries) {
    auto person = make<TRPerson>();
    person->name = "Ann";
    person->age = 41;
    person->married = true;
    person->homepage = NSURL::URLWithString("http://h/p");
    person->address = make<TRAddress>();
    person->address->city = "Xi'an";
    auto friendAddress = make<TRAddress>();
    friendAddress->zip = NSNumber::numberWithInt(1);
    person->tags = Array{"t", friendAddress};

    Value value = keyValues(person);
    ASSERT_TRUE(value.isDictionary());
    const Dictionary& d = *value.dictionary();
    EXPECT_TRUE(d.isMutable());
    EXPECT_EQ(d["name"], Value("Ann"));
    EXPECT_EQ(d["age"], Value(41));
    EXPECT_EQ(d["married"], Value(true));
    EXPECT_EQ(d["homepage"], Value("http://h/p"));
    EXPECT_EQ(d["address"], Value(Dictionary{{"city", "Xi'an"}}));
    EXPECT_EQ(d["tags"], Value(Array{"t", Dictionary{{"zip", 1}}}));
    EXPECT_FALSE(d.containsKey("idNumber"));
    EXPECT_FALSE(d.containsKey("description"));
    EXPECT_FALSE(d.containsKey("hash"));
    // Scalars are always there.
    EXPECT_EQ(d["count"], Value(0));

    Value some = keyValuesWithKeys(person, {"name", "age"});
    EXPECT_EQ(some.dictionary()->count(), 2u);
    Value most = keyValuesWithIgnoredKeys(person, {"name"});
    EXPECT_FALSE(most.dictionary()->containsKey("name"));
    EXPECT_TRUE(most.dictionary()->containsKey("age"));
    Value both = keyValuesWithKeysIgnoredKeys(person, {"name", "age"}, {"age"});
    EXPECT_EQ(both, Value(Dictionary{{"name", "Ann"}}));

    // Ignored names of the class apply too.
    auto teacher = make<TRTeacher>();
    teacher->secret = "s";
    teacher->firstName = "f";
    EXPECT_EQ(keyValues(teacher), Value(Dictionary{{"firstName", "f"}}));
}

TEST(KeyValueMapping, PlatformValuesGiveThemselves) {
    EXPECT_EQ(keyValues(Value("x")), Value("x"));
    EXPECT_EQ(keyValues(Value(5)), Value(5));
    Value array(Array{1});
    EXPECT_TRUE(keyValues(array).array()->isSameArray(*array.array()));
    auto url = NSURL::URLWithString("http://h/");
    EXPECT_EQ(keyValues(url).object(), url);
    EXPECT_TRUE(keyValues(Value()).isNil());
}

TEST(KeyValueMapping, ArraysOfRecordsToArraysOfDictionaries) {
    auto a = make<TRAddress>();
    a->city = "a";
    auto b = make<TRAddress>();
    b->city = "b";
    b->zip = NSNumber::numberWithInt(2);
    Value result = keyValuesArrayWithObjectArray(Value(Array{a, b, "text"}));
    EXPECT_EQ(result, Value(Array{Dictionary{{"city", "a"}}, Dictionary{{"city", "b"}, {"zip", 2}}, "text"}));
    result = keyValuesArrayWithObjectArrayKeys(Value(Array{b}), {"zip"});
    EXPECT_EQ(result, Value(Array{Dictionary{{"zip", 2}}}));
    result = keyValuesArrayWithObjectArrayIgnoredKeys(Value(Array{b}), {"zip"});
    EXPECT_EQ(result, Value(Array{Dictionary{{"city", "b"}}}));

    Ref<NSError> error;
    EXPECT_TRUE(keyValuesArrayWithObjectArray(Value(Dictionary()), &error).isNil());
    EXPECT_EQ(domainOf(error), "objectArray参数不是一个数组");
}

TEST(KeyValueMapping, RoundTrip) {
    auto original = objectWithKeyValues<TRStudent>(
        json(R"({"name":"N","age":3,"height":1.5,"school":"S","grade":2,"address":{"city":"C","zip":9},
                 "tags":[1,"x"],"homepage":"http://h/x"})"));
    auto copy = objectWithKeyValues<TRStudent>(keyValues(original));
    EXPECT_EQ(keyValues(copy), keyValues(original));
    EXPECT_EQ(copy->address->city, "C");
    EXPECT_EQ(copy->homepage->absoluteString(), "http://h/x");
}

class KeyValueSetupTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const RMClass* cls :
             {RMClass::of<TRSetupReference>(), RMClass::of<TRSetupReferenceSub>(), RMClass::of<TRSetupUrls>(),
              RMClass::of<TRSetupNewValue>(), RMClass::of<TRSetupIgnored>(), RMClass::of<TRSetupAllowed>(),
              RMClass::of<TRSetupElements>()}) {
            NSObject_Property::setupReplacedKeyFromPropertyName(cls, nullptr);
            NSObject_Property::setupObjectClassInArray(cls, nullptr);
            NSObject_Property::setupNewValueFromOldValue(cls, nullptr);
            NSObject_RMClass::setupIgnoredPropertyNames(cls, nullptr);
            NSObject_RMClass::setupAllowedPropertyNames(cls, nullptr);
            cls->attached().referenceReplacedKey.reset();
        }
    }
};

TEST_F(KeyValueSetupTest, StoresAlongReplacedKeyPathsWhenAsked) {
    NSObject_Property::setupReplacedKeyFromPropertyName<TRSetupReference>([] {
        return Dictionary{{"title", "head.text"}, {"amount", "list[1]"}, {"note", "list[0].x"}};
    });
    auto record = make<TRSetupReference>();
    record->title = "T";
    record->amount = NSNumber::numberWithInt(5);
    record->note = "N";
    EXPECT_FALSE(isReferenceReplacedKeyWhenCreatingKeyValues(RMClass::of<TRSetupReference>()));
    EXPECT_EQ(keyValues(record), Value(Dictionary{{"title", "T"}, {"amount", 5}, {"note", "N"}}));

    referenceReplacedKeyWhenCreatingKeyValues<TRSetupReference>(true);
    EXPECT_EQ(keyValues(record), Value(Dictionary{{"head", Dictionary{{"text", "T"}}},
                                                  {"list", Array{Dictionary{{"x", "N"}}, 5}}}));

    // The subclass inherits the flag; its own setting wins.
    auto sub = make<TRSetupReferenceSub>();
    sub->title = "S";
    EXPECT_TRUE(isReferenceReplacedKeyWhenCreatingKeyValues(RMClass::of<TRSetupReferenceSub>()));
    EXPECT_EQ(keyValues(sub), Value(Dictionary{{"head", Dictionary{{"text", "S"}}}}));
    referenceReplacedKeyWhenCreatingKeyValues<TRSetupReferenceSub>(false);
    EXPECT_EQ(keyValues(sub), Value(Dictionary{{"title", "S"}}));

    // A stored value reads back through the same paths.
    Value stored = keyValues(record);
    auto back = objectWithKeyValues<TRSetupReference>(stored);
    EXPECT_EQ(back->title, "T");
    EXPECT_EQ(back->amount, NSNumber::numberWithInt(5));
    EXPECT_EQ(back->note, "N");
}

TEST_F(KeyValueSetupTest, ConflictingPathsBecomeAnError) {
    LogCapture log;
    NSObject_Property::setupReplacedKeyFromPropertyName<TRSetupReference>([] {
        return Dictionary{{"title", "a"}, {"note", "a.b"}, {"amount", "big[99999999]"}};
    });
    referenceReplacedKeyWhenCreatingKeyValues<TRSetupReference>(true);
    auto record = make<TRSetupReference>();
    record->title = "text";
    record->note = "N";
    Ref<NSError> error;
    Value partial = keyValues(record, &error);
    EXPECT_TRUE(error);
    EXPECT_EQ(partial.dictionary()->objectForKey("a"), Value("text"));

    NSObject_Property::setupReplacedKeyFromPropertyName<TRSetupReference>([] {
        return Dictionary{{"amount", "big[99999999]"}};
    });
    record = make<TRSetupReference>();
    record->amount = NSNumber::numberWithInt(1);
    error = nullptr;
    keyValues(record, &error);
    EXPECT_TRUE(error);
}

TEST_F(KeyValueSetupTest, URLElementClass) {
    NSObject_Property::setupObjectClassInArray<TRSetupUrls>([] { return Dictionary{{"items", "NSURL"}}; });
    auto record =
        objectWithKeyValues<TRSetupUrls>(json(R"({"items":["http://a/1", 5, "http://b/2 3", {"x":1}]})"));
    ASSERT_TRUE(record->items);
    ASSERT_EQ(record->items->count(), 2u);
    EXPECT_EQ((*record->items)[0].objectAs<NSURL>()->absoluteString(), "http://a/1");
    EXPECT_EQ((*record->items)[1].objectAs<NSURL>()->absoluteString(), "http://b/2%203");
    // An array of URLs stays an array of URLs (only a URL-typed property turns into text).
    Value back = keyValues(record)["items"];
    ASSERT_TRUE(back.isArray());
    EXPECT_EQ(back.array()->firstObject().objectAs<NSURL>()->absoluteString(), "http://a/1");
}

TEST_F(KeyValueSetupTest, ElementClassFromSetupAndWithoutOne) {
    auto plain = objectWithKeyValues<TRSetupElements>(json(R"({"items":[{"city":"x"}]})"));
    EXPECT_TRUE((*plain->items)[0].isDictionary());
    NSObject_Property::setupObjectClassInArray<TRSetupElements>([] {
        return Dictionary{{"items", "TRAddress"}};
    });
    auto records = objectWithKeyValues<TRSetupElements>(json(R"({"items":[{"city":"x"}]})"));
    EXPECT_EQ((*records->items)[0].objectAs<TRAddress>()->city, "x");
    // A non-array for an array property with an element class is no array: absent.
    Ref<NSError> error;
    auto wrong = objectWithKeyValues<TRSetupElements>(json(R"({"items":{"city":"x"}})"), &error);
    EXPECT_FALSE(wrong->items);
    EXPECT_EQ(domainOf(error), "keyValuesArray参数不是一个数组");
}

TEST_F(KeyValueSetupTest, NewValueBlock) {
    NSObject_Property::setupNewValueFromOldValue<TRSetupNewValue>(
        [](const Ref<NSObject>& object, const Value& old, const RMProperty& property) -> Value {
            EXPECT_TRUE(isKindOf<TRSetupNewValue>(object));
            if (property.name() == "note" && old.isNil()) return Value("default");
            if (property.name() == "amount" && old.isString())
                return Value(static_cast<int>(old.string()->size()));
            return Value();
        });
    auto record = objectWithKeyValues<TRSetupNewValue>(json(R"({"amount":"four","title":"t"})"));
    EXPECT_EQ(record->note, "default");
    EXPECT_EQ(record->amount, NSNumber::numberWithInt(4));
    EXPECT_EQ(record->title, "t");
    auto sub = objectWithKeyValues<TRSetupNewValueSub>(json(R"({})"));
    EXPECT_EQ(sub->note, "default");
}

TEST_F(KeyValueSetupTest, IgnoredAndAllowedSetups) {
    NSObject_RMClass::setupIgnoredPropertyNames<TRSetupIgnored>(
        [] { return std::vector<std::string>{"title"}; });
    auto ignored =
        objectWithKeyValues<TRSetupIgnoredSub>(json(R"({"title":"t","note":"n","extraNote":"e"})"));
    EXPECT_FALSE(ignored->title);
    EXPECT_EQ(ignored->note, "n");
    EXPECT_EQ(ignored->extraNote, "e");
    ignored->title = "set by hand";
    EXPECT_FALSE(keyValues(ignored).dictionary()->containsKey("title"));

    NSObject_RMClass::setupAllowedPropertyNames<TRSetupAllowed>(
        [] { return std::vector<std::string>{"note"}; });
    auto allowed = objectWithKeyValues<TRSetupAllowed>(json(R"({"title":"t","note":"n"})"));
    EXPECT_FALSE(allowed->title);
    EXPECT_EQ(allowed->note, "n");
}

// ----- JSON text -----

TEST(KeyValueJSON, TextDataAndObjects) {
    EXPECT_EQ(JSONObject(Value(R"({"a":[1,2]})")), Value(Dictionary{{"a", Array{1, 2}}}));
    EXPECT_EQ(JSONObject(Value(NSData::fromString("[true]"))), Value(Array{true}));
    EXPECT_TRUE(JSONObject(Value("not json")).isNil());
    EXPECT_TRUE(JSONObject(Value(NSData())).isNil());
    auto address = make<TRAddress>();
    address->city = "中";
    EXPECT_EQ(JSONObject(address), Value(Dictionary{{"city", "中"}}));

    EXPECT_EQ(JSONData(Value("x"))->toString(), "x");
    EXPECT_EQ(JSONData(Value(Dictionary{{"k", 1}}))->toString(), R"({"k":1})");
    EXPECT_EQ(JSONData(address)->toString(), R"({"city":"中"})");
    EXPECT_FALSE(JSONData(Value(5)));

    EXPECT_EQ(JSONString(Value("t")), "t");
    EXPECT_EQ(JSONString(Value(NSData::fromString("raw"))), "raw");
    EXPECT_EQ(JSONString(Value(Array{1, "a"})), R"([1,"a"])");
    EXPECT_FALSE(JSONString(Value(NSData::fromString("\xff\xfe\xfd"))));
}

// ----- Hostile input -----

TEST(KeyValueHostile, DeepDocumentsEndWithAnError) {
    std::string deep;
    for (int i = 0; i < 300; ++i) deep += R"({"next":)";
    deep += "{}";
    for (int i = 0; i < 300; ++i) deep += "}";
    Ref<NSError> error;
    auto node = objectWithKeyValues<TRNode>(Value(deep), &error);
    ASSERT_TRUE(node);
    EXPECT_EQ(domainOf(error), "keyValues嵌套层数过多");
    int depth = 0;
    for (auto n = node; n; n = n->next) ++depth;
    EXPECT_GT(depth, 10);
    EXPECT_LE(depth, kMaxNesting);

    std::string nested(400, '[');
    nested += std::string(400, ']');
    error = nullptr;
    Value arrays = objectArrayWithKeyValuesArray<TRNode>(Value(nested), &error);
    EXPECT_TRUE(arrays.isArray());
    EXPECT_EQ(domainOf(error), "keyValues嵌套层数过多");
}

TEST(KeyValueHostile, SelfContainingValuesAndCyclicRecords) {
    Array loop = Array::mutableArray();
    loop.addObject(Value(loop));
    Ref<NSError> error;
    Value result = objectArrayWithKeyValuesArray<TRNode>(Value(loop), &error);
    EXPECT_EQ(domainOf(error), "keyValues嵌套层数过多");
    loop.removeAllObjects();  // breaks the cycle so the test does not leak it

    Dictionary self = Dictionary::mutableDictionary();
    self.setObject("next", Value(self));
    self.setObject("children", Value(Array{Value(self), Value(self), Value(self)}));
    error = nullptr;
    auto node = objectWithKeyValues<TRNode>(Value(self), &error);
    EXPECT_TRUE(node);
    EXPECT_EQ(domainOf(error), "keyValues嵌套层数过多");
    self.removeAllObjects();

    auto a = make<TRNode>();
    auto b = make<TRNode>();
    a->next = b;
    b->next = a;
    a->children = Array{Value(a), Value(b), Value(a)};
    error = nullptr;
    Value dictionary = keyValues(a, &error);
    EXPECT_TRUE(dictionary.isDictionary());
    EXPECT_EQ(domainOf(error), "keyValues嵌套层数过多");
    b->next = nullptr;
    a->children.reset();
}

TEST(KeyValueHostile, MutatedDocumentsNeverCrash) {
    const std::string valid = R"({"name":"Ann","age":"41","married":"yes","homepage":"http://h/a b",
        "address":{"city":"c","zip":"7"},"tags":[1,{"a":[]}],"info":{"k":null},"idNumber":3.5,
        "extra":[[[]]],"students":[{"school":"s"},[{"grade":1}]],"id":1,"name2":{"first":"x"},
        "scores":[1,2,3],"next":{"label":"l","next":{"children":[{"label":"c"}]}}})";
    for (unsigned seed = 0; seed < 400; ++seed) {
        std::string text = testsupport::mutate(valid, seed);
        Ref<NSError> error;
        objectWithKeyValues<TRPerson>(Value(text), &error);
        objectWithKeyValues<TRTeacher>(Value(NSData::fromString(text)), &error);
        objectWithKeyValues<TRNode>(Value(text), &error);
        Value parsed = JSONObject(Value(text));
        if (parsed.isSomething()) {
            auto person = objectWithKeyValues<TRPerson>(parsed, &error);
            if (person) keyValues(person, &error);
            objectArrayWithKeyValuesArray<TRStudent>(Value(Array{parsed, parsed}), &error);
        }
    }
}

TEST(KeyValueHostile, EveryKindIntoEveryProperty) {
    std::vector<Value> kinds = {Value(),
                                Value::null(),
                                Value(true),
                                Value(-1),
                                Value(1e300),
                                Value(NSNumber::numberWithUnsignedLongLong(~0ULL)),
                                Value(""),
                                Value("text"),
                                Value("12"),
                                Value("{\"city\":\"x\"}"),
                                Value(NSData::fromString("[1]")),
                                Value(NSDate::dateWithTimeIntervalSince1970(0)),
                                Value(Array()),
                                Value(Array{Dictionary(), "x", Array{1}}),
                                Value(Dictionary()),
                                Value(Dictionary{{"city", 1}}),
                                Value(NSURL::URLWithString("http://h/")),
                                Value(make<TRAddress>()),
                                Value(make<TRPerson>())};
    std::vector<std::string> keys;
    for (const auto& property : *NSObject_Property::properties<TRStudent>()) keys.push_back(property->name());
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        Dictionary d = Dictionary::mutableDictionary();
        for (const std::string& key : keys) d.setObject(key, kinds[random() % kinds.size()]);
        Ref<NSError> error;
        auto student = objectWithKeyValues<TRStudent>(Value(d), &error);
        ASSERT_TRUE(student);
        Value back = keyValues(student, &error);
        EXPECT_TRUE(back.isDictionary());
    }
}
