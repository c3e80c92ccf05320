#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestRecords.h"
#include "app/NSObject+Property.h"
#include "app/NSObject+RMClass.h"
#include "app/RMFoundation.h"
#include "app/RMProperty.h"
#include "app/RMPropertyKey.h"
#include "app/RMPropertyType.h"

namespace {

std::vector<std::string> namesOf(const RMPropertyList& list) {
    std::vector<std::string> names;
    for (const auto& property : *list) names.push_back(property->name());
    return names;
}

Ref<RMProperty> propertyNamed(const RMClass* cls, const std::string& name) {
    for (const auto& property : *NSObject_Property::properties(cls)) {
        if (property->name() == name) return property;
    }
    return nullptr;
}

std::vector<std::string> stepsOf(const RMPropertyKeyPath& path) {
    std::vector<std::string> steps;
    if (!path) return steps;
    for (const auto& step : *path) steps.push_back(step->description());
    return steps;
}

}  // namespace

// ----- Type codes -----

TEST(RecordPropertyType, ScalarCodesAreNumbersAndCharsAreBools) {
    for (const char* code : {"B", "c", "C", "b"}) {
        auto type = RMPropertyType::cachedTypeWithCode(code);
        EXPECT_TRUE(type->isNumberType()) << code;
        EXPECT_TRUE(type->isBoolType()) << code;
    }
    for (const char* code : {"q", "Q", "i", "I", "s", "S", "f", "d"}) {
        auto type = RMPropertyType::cachedTypeWithCode(code);
        EXPECT_TRUE(type->isNumberType()) << code;
        EXPECT_FALSE(type->isBoolType()) << code;
        EXPECT_FALSE(type->isIdType()) << code;
        EXPECT_EQ(type->typeClass(), nullptr) << code;
    }
    for (const char* code : {"l", "L", "*", "{CGPoint=dd}"}) {
        EXPECT_FALSE(RMPropertyType::cachedTypeWithCode(code)->isNumberType()) << code;
    }
}

TEST(RecordPropertyType, ObjectCodes) {
    auto untyped = RMPropertyType::cachedTypeWithCode("@");
    EXPECT_TRUE(untyped->isIdType());
    EXPECT_EQ(untyped->typeClass(), nullptr);

    auto mutableString = RMPropertyType::cachedTypeWithCode("@\"NSMutableString\"");
    EXPECT_EQ(mutableString->code(), "NSMutableString");
    EXPECT_EQ(mutableString->typeClass(), RMClass::classNamed("NSMutableString"));
    EXPECT_TRUE(mutableString->isFromFoundation());
    EXPECT_FALSE(mutableString->isNumberType());
    EXPECT_FALSE(mutableString->isIdType());

    auto record = RMPropertyType::cachedTypeWithCode("@\"TRAddress\"");
    EXPECT_EQ(record->typeClass(), RMClass::of<TRAddress>());
    EXPECT_FALSE(record->isFromFoundation());

    EXPECT_TRUE(RMPropertyType::cachedTypeWithCode("@\"NSNumber\"")->isNumberType());
    EXPECT_TRUE(RMPropertyType::cachedTypeWithCode("@\"NSDecimalNumber\"")->isNumberType());
    EXPECT_FALSE(RMPropertyType::cachedTypeWithCode("@\"NSString\"")->isNumberType());
}

TEST(RecordPropertyType, UnknownClassBehavesAsUntyped) {
    auto type = RMPropertyType::cachedTypeWithCode("@\"NoSuchClassAnywhere\"");
    EXPECT_EQ(type->code(), "NoSuchClassAnywhere");
    EXPECT_EQ(type->typeClass(), nullptr);
    EXPECT_FALSE(type->isFromFoundation());
    EXPECT_FALSE(type->isKVCDisabled());
}

TEST(RecordPropertyType, CodesThatCannotBeReadByName) {
    for (const char* code : {"", ":", "^{objc_ivar=}", "^{objc_method=}"}) {
        EXPECT_TRUE(RMPropertyType::cachedTypeWithCode(code)->isKVCDisabled()) << code;
    }
    EXPECT_FALSE(RMPropertyType::cachedTypeWithCode("^{other=}")->isKVCDisabled());
    // Too short to name a class: no class, no failure.
    auto shortCode = RMPropertyType::cachedTypeWithCode("@\"");
    EXPECT_EQ(shortCode->typeClass(), nullptr);
}

TEST(RecordPropertyType, OneSharedTypePerCode) {
    EXPECT_EQ(RMPropertyType::cachedTypeWithCode("q"), RMPropertyType::cachedTypeWithCode("q"));
    EXPECT_NE(RMPropertyType::cachedTypeWithCode("q"), RMPropertyType::cachedTypeWithCode("Q"));
}

TEST(RecordPropertyType, MemberTypesGiveTheirCodes) {
    const RMClass* cls = RMClass::of<TRPerson>();
    auto code = [&](const char* name) { return propertyNamed(cls, name)->property()->attributes; };
    EXPECT_EQ(code("name"), "T@\"NSString\",N,V_name");
    EXPECT_EQ(propertyNamed(cls, "age")->type()->code(), "q");
    EXPECT_EQ(propertyNamed(cls, "height")->type()->code(), "d");
    EXPECT_EQ(propertyNamed(cls, "married")->type()->code(), "B");
    EXPECT_EQ(propertyNamed(cls, "flag")->type()->code(), "c");
    EXPECT_EQ(propertyNamed(cls, "uflag")->type()->code(), "C");
    EXPECT_EQ(propertyNamed(cls, "score")->type()->code(), "f");
    EXPECT_EQ(propertyNamed(cls, "count")->type()->code(), "i");
    EXPECT_EQ(propertyNamed(cls, "homepage")->type()->code(), "NSURL");
    EXPECT_EQ(propertyNamed(cls, "address")->type()->code(), "TRAddress");
    EXPECT_EQ(propertyNamed(cls, "tags")->type()->code(), "NSArray");
    EXPECT_EQ(propertyNamed(cls, "info")->type()->code(), "NSDictionary");
    EXPECT_EQ(propertyNamed(cls, "idNumber")->type()->code(), "NSNumber");
    EXPECT_TRUE(propertyNamed(cls, "extra")->type()->isIdType());
    EXPECT_EQ(propertyNamed(cls, "mutableText")->type()->code(), "NSMutableString");
}

// ----- Classes -----

TEST(RecordClass, FoundationClasses) {
    EXPECT_EQ(RMFoundation::foundationClasses().size(), 8u);
    for (const char* name :
         {"NSObject", "NSManagedObject", "NSString", "NSMutableString", "NSNumber", "NSDecimalNumber",
          "NSValue", "NSURL", "NSDate", "NSData", "NSMutableData", "NSArray", "NSMutableArray",
          "NSDictionary", "NSMutableDictionary", "NSAttributedString", "NSMutableAttributedString"}) {
        EXPECT_TRUE(RMFoundation::isClassFromFoundation(RMClass::classNamed(name))) << name;
    }
    EXPECT_FALSE(RMFoundation::isClassFromFoundation(RMClass::classNamed("NSSet")));
    EXPECT_FALSE(RMFoundation::isClassFromFoundation(RMClass::classNamed("NSNull")));
    EXPECT_FALSE(RMFoundation::isClassFromFoundation(RMClass::of<TRPerson>()));
    EXPECT_FALSE(RMFoundation::isClassFromFoundation(nullptr));
}

TEST(RecordClass, RegistryByNameAndByValue) {
    EXPECT_EQ(RMClass::classNamed("TRPerson"), RMClass::of<TRPerson>());
    EXPECT_EQ(RMClass::classNamed("NoSuchClass"), nullptr);
    EXPECT_EQ(RMClass::classNamed(""), nullptr);
    EXPECT_EQ(RMClass::of<TRStudent>()->superclass(), RMClass::of<TRPerson>());
    EXPECT_EQ(RMClass::of<TRPerson>()->superclass(), RMClass::classNamed("NSObject"));
    EXPECT_EQ(RMClass::classNamed("NSObject")->superclass(), nullptr);
    EXPECT_TRUE(RMClass::of<TRStudent>()->isSubclassOfClass(RMClass::of<TRPerson>()));
    EXPECT_FALSE(RMClass::of<TRPerson>()->isSubclassOfClass(RMClass::of<TRStudent>()));

    EXPECT_EQ(RMClass::classOfValue(Value("x"))->name(), "NSString");
    EXPECT_EQ(RMClass::classOfValue(Value(1))->name(), "NSNumber");
    EXPECT_EQ(RMClass::classOfValue(Value(Array()))->name(), "NSMutableArray");
    EXPECT_EQ(RMClass::classOfValue(Value(Array{1}))->name(), "NSArray");
    EXPECT_EQ(RMClass::classOfValue(Value::null())->name(), "NSNull");
    EXPECT_EQ(RMClass::classOfValue(Value(make<TRStudent>()))->name(), "TRStudent");
    EXPECT_EQ(RMClass::classOfValue(Value()), nullptr);
    EXPECT_EQ(make<TRStudent>()->className(), "TRStudent");
}

TEST(RecordClass, ASecondRegistrationOfANameIsRefused) {
    RMClassDefinition definition;
    definition.name = "TRPerson";
    const RMClass* again = RMClass::registerClass(std::move(definition));
    EXPECT_EQ(again, RMClass::of<TRPerson>());
    EXPECT_FALSE(RMClass::of<TRPerson>()->declaredProperties().empty());
}

TEST(RecordClass, MakesInstancesOfRecordsOnly) {
    auto person = RMClass::of<TRPerson>()->newInstance();
    ASSERT_TRUE(person);
    EXPECT_TRUE(isKindOf<TRPerson>(person));
    EXPECT_EQ(RMClass::classNamed("NSString")->newInstance(), nullptr);
}

TEST(RecordClass, EnumerateClassesStopsBeforeThePlatform) {
    std::vector<std::string> visited;
    NSObject_RMClass::enumerateClasses(RMClass::of<TRStudent>(),
                                       [&](const RMClass* cls, bool&) { visited.push_back(cls->name()); });
    EXPECT_EQ(visited, (std::vector<std::string>{"TRStudent", "TRPerson"}));

    visited.clear();
    NSObject_RMClass::enumerateAllClasses(RMClass::of<TRStudent>(),
                                          [&](const RMClass* cls, bool&) { visited.push_back(cls->name()); });
    EXPECT_EQ(visited, (std::vector<std::string>{"TRStudent", "TRPerson", "NSObject"}));

    visited.clear();
    NSObject_RMClass::enumerateClasses(RMClass::of<TRStudent>(), [&](const RMClass* cls, bool& stop) {
        visited.push_back(cls->name());
        stop = true;
    });
    EXPECT_EQ(visited, (std::vector<std::string>{"TRStudent"}));

    // The receiver is always visited, even a platform class.
    visited.clear();
    NSObject_RMClass::enumerateClasses(RMClass::classNamed("NSMutableString"),
                                       [&](const RMClass* cls, bool&) { visited.push_back(cls->name()); });
    EXPECT_EQ(visited, (std::vector<std::string>{"NSMutableString"}));
    NSObject_RMClass::enumerateClasses(nullptr, [&](const RMClass*, bool&) { FAIL(); });
}

// ----- Property lists -----

TEST(RecordProperties, SubclassListsItsOwnFirstAndNeverThePlatforms) {
    auto names = namesOf(NSObject_Property::properties<TRStudent>());
    std::vector<std::string> expected = {"school", "grade", "name",     "age",   "height",     "married",
                                         "flag",   "uflag", "score",    "count", "homepage",   "address",
                                         "tags",   "info",  "idNumber", "extra", "mutableText"};
    EXPECT_EQ(names, expected);
    auto list = NSObject_Property::properties<TRStudent>();
    EXPECT_EQ((*list)[0]->srcClass(), RMClass::of<TRStudent>());
    EXPECT_EQ((*list)[2]->srcClass(), RMClass::of<TRPerson>());
}

TEST(RecordProperties, DescriptorsAreSharedAndListsCached) {
    auto person = NSObject_Property::properties<TRPerson>();
    auto student = NSObject_Property::properties<TRStudent>();
    EXPECT_EQ(person, NSObject_Property::properties<TRPerson>());
    EXPECT_EQ((*person)[0], (*student)[2]);  // one descriptor for TRPerson.name
    EXPECT_TRUE(NSObject_Property::properties(nullptr)->empty());
}

TEST(RecordProperties, EnumerateStopsOnRequest) {
    int seen = 0;
    NSObject_Property::enumerateProperties(RMClass::of<TRPerson>(), [&](const Ref<RMProperty>&, bool& stop) {
        ++seen;
        stop = seen == 3;
    });
    EXPECT_EQ(seen, 3);
}

TEST(RecordProperties, ReadAndWriteByName) {
    auto person = make<TRPerson>();
    auto name = propertyNamed(RMClass::of<TRPerson>(), "name");
    auto age = propertyNamed(RMClass::of<TRPerson>(), "age");
    EXPECT_TRUE(name->valueForObject(*person).isNil());
    name->setValue(Value("Ann"), *person);
    age->setValue(Value(41), *person);
    EXPECT_EQ(person->name, "Ann");
    EXPECT_EQ(person->age, 41);
    EXPECT_EQ(name->valueForObject(*person), Value("Ann"));
    EXPECT_EQ(age->valueForObject(*person), Value(41));
    EXPECT_EQ(age->valueForObject(*person).number()->objCType(), 'q');

    // nil and values of another kind change nothing.
    name->setValue(Value(), *person);
    name->setValue(Value(Array{1}), *person);
    age->setValue(Value("42"), *person);
    EXPECT_EQ(person->name, "Ann");
    EXPECT_EQ(person->age, 41);

    // An object of another class is not touched.
    auto address = make<TRAddress>();
    EXPECT_TRUE(name->valueForObject(*address).isNil());
    name->setValue(Value("x"), *address);
}

TEST(RecordProperties, ATypeThatCannotBeReadByNameReadsAsNull) {
    auto record = make<TRDisabled>();
    record->hidden = 5;
    auto hidden = propertyNamed(RMClass::of<TRDisabled>(), "hidden");
    ASSERT_TRUE(hidden);
    EXPECT_TRUE(hidden->type()->isKVCDisabled());
    EXPECT_TRUE(hidden->valueForObject(*record).isNull());
    hidden->setValue(Value(9), *record);
    EXPECT_EQ(record->hidden, 5);
}

// ----- Key paths -----

TEST(RecordPropertyKey, ParsesDottedPathsWithIndexes) {
    EXPECT_EQ(stepsOf(detail::rmParsedKeyPath("data.list[0][1].name")),
              (std::vector<std::string>{"data", "list", "[0]", "[1]", "name"}));
    EXPECT_EQ(stepsOf(detail::rmParsedKeyPath("a[2]")), (std::vector<std::string>{"a", "[2]"}));
    EXPECT_EQ(stepsOf(detail::rmParsedKeyPath("[3]")), (std::vector<std::string>{"[3]"}));
    EXPECT_EQ(stepsOf(detail::rmParsedKeyPath("plain")), (std::vector<std::string>{"plain"}));
    EXPECT_EQ(detail::rmParsedKeyPath(""), nullptr);
    // Odd texts parse into something without failing.
    for (const char* odd : {".", "a..b", "a[", "a]", "[[", "]]", "a[b]c[", "[]"}) {
        EXPECT_TRUE(detail::rmParsedKeyPath(odd)) << odd;
    }
    EXPECT_EQ(detail::rmParsedKeyPath("x.y[1]"), detail::rmParsedKeyPath("x.y[1]"));
}

TEST(RecordPropertyKey, ReadsDictionariesAndArrays) {
    auto path = detail::rmParsedKeyPath("a[2]");
    auto read = [&](const Value& root) {
        Value value = root;
        for (const auto& step : *path) value = step->valueInObject(value);
        return value;
    };
    EXPECT_EQ(read(Value(Dictionary{{"a", Array{"x", "y", "z"}}})), Value("z"));
    EXPECT_TRUE(read(Value(Dictionary{{"a", Array{"x"}}})).isNil());
    EXPECT_TRUE(read(Value(Dictionary{{"a", Array()}})).isNil());
    EXPECT_TRUE(read(Value(Dictionary{{"a", Dictionary{{"2", "no"}}}})).isNil());
    EXPECT_TRUE(read(Value(Array{1, 2, 3})).isNil());

    RMPropertyKey negative("-1", RMPropertyKeyTypeArray);
    EXPECT_TRUE(negative.valueInObject(Value(Array{1, 2})).isNil());
    RMPropertyKey key("k", RMPropertyKeyTypeDictionary);
    EXPECT_TRUE(key.valueInObject(Value("text")).isNil());
    EXPECT_TRUE(key.valueInObject(Value()).isNil());
}

// ----- Keys, element classes and name lists -----

TEST(RecordKeys, ClassHooksGiveKeysAndElementClasses) {
    const RMClass* cls = RMClass::of<TRTeacher>();
    EXPECT_EQ(NSObject_Property::propertyKey(cls, "teacherId"), "id");
    EXPECT_EQ(NSObject_Property::propertyKey(cls, "secret"), "secret");
    EXPECT_EQ(NSObject_Property::propertyKey(cls, ""), std::nullopt);
    EXPECT_EQ(NSObject_Property::propertyObjectClassInArray(cls, "students"), RMClass::of<TRStudent>());
    EXPECT_EQ(NSObject_Property::propertyObjectClassInArray(cls, "firstName"), nullptr);
    EXPECT_EQ(stepsOf(propertyNamed(cls, "firstName")->propertyKeysFromClass(cls)),
              (std::vector<std::string>{"name", "first"}));
    EXPECT_EQ(propertyNamed(cls, "students")->objectClassInArrayFromClass(cls), RMClass::of<TRStudent>());
}

TEST(RecordKeys, HooksAreInherited) {
    const RMClass* cls = RMClass::of<TRHeadTeacher>();
    EXPECT_EQ(NSObject_Property::propertyKey(cls, "teacherId"), "id");
    EXPECT_EQ(NSObject_Property::propertyObjectClassInArray(cls, "students"), RMClass::of<TRStudent>());
    EXPECT_EQ(*NSObject_RMClass::totalIgnoredPropertyNames(cls), (std::vector<std::string>{"secret"}));
}

TEST(RecordKeys, PerNameHookFallsThroughOnNoAnswer) {
    const RMClass* cls = RMClass::of<TRCamel>();
    EXPECT_EQ(NSObject_Property::propertyKey(cls, "userName"), "user_name");
    EXPECT_EQ(NSObject_Property::propertyKey(cls, "createdAt"), "created_at");
    EXPECT_EQ(NSObject_Property::propertyKey(cls, "plain"), "plain");
}

class RecordSetupTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const RMClass* cls :
             {RMClass::of<TRSetupKeys>(), RMClass::of<TRSetupKeysSub>(), RMClass::of<TRSetupKeyBlock>(),
              RMClass::of<TRSetupElements>(), RMClass::of<TRSetupIgnored>(), RMClass::of<TRSetupIgnoredSub>(),
              RMClass::of<TRSetupCache>()}) {
            NSObject_Property::setupReplacedKeyFromPropertyName(cls, nullptr);
            NSObject_Property::setupReplacedKeyFromPropertyName121(cls, nullptr);
            NSObject_Property::setupObjectClassInArray(cls, nullptr);
            NSObject_RMClass::setupIgnoredPropertyNames(cls, nullptr);
            NSObject_RMClass::setupAllowedPropertyNames(cls, nullptr);
        }
    }
};

TEST_F(RecordSetupTest, ElementClassFromAName) {
    NSObject_Property::setupObjectClassInArray<TRSetupElements>([] {
        return Dictionary{{"items", "TRAddress"}};
    });
    const RMClass* cls = RMClass::of<TRSetupElements>();
    EXPECT_EQ(propertyNamed(cls, "items")->objectClassInArrayFromClass(cls), RMClass::of<TRAddress>());
    // The subclass inherits the map.
    const RMClass* sub = RMClass::of<TRSetupElementsSub>();
    EXPECT_EQ(propertyNamed(sub, "items")->objectClassInArrayFromClass(sub), RMClass::of<TRAddress>());

    // A class object works as well as its name; an unknown name gives no class.
    NSObject_Property::setupObjectClassInArray<TRSetupElements>([] {
        return Dictionary{{"items", RMClass::of<TRStudent>()->classValue()}, {"note", "Nope"}};
    });
    EXPECT_EQ(propertyNamed(cls, "items")->objectClassInArrayFromClass(cls), RMClass::of<TRStudent>());
    EXPECT_EQ(propertyNamed(cls, "note")->objectClassInArrayFromClass(cls), nullptr);

    // Removing the map leaves no element class behind.
    NSObject_Property::setupObjectClassInArray<TRSetupElements>(nullptr);
    EXPECT_EQ(propertyNamed(cls, "items")->objectClassInArrayFromClass(cls), nullptr);
}

TEST_F(RecordSetupTest, ReplacedKeysRecomputeTheKeyPaths) {
    const RMClass* cls = RMClass::of<TRSetupKeys>();
    EXPECT_EQ(stepsOf(propertyNamed(cls, "title")->propertyKeysFromClass(cls)),
              (std::vector<std::string>{"title"}));
    NSObject_Property::setupReplacedKeyFromPropertyName<TRSetupKeys>([] {
        return Dictionary{{"title", "head.text"}};
    });
    EXPECT_EQ(stepsOf(propertyNamed(cls, "title")->propertyKeysFromClass(cls)),
              (std::vector<std::string>{"head", "text"}));
    const RMClass* sub = RMClass::of<TRSetupKeysSub>();
    EXPECT_EQ(NSObject_Property::propertyKey(sub, "title"), "head.text");
    // The subclass's own map comes first.
    NSObject_Property::setupReplacedKeyFromPropertyName<TRSetupKeysSub>([] {
        return Dictionary{{"title", "t"}};
    });
    EXPECT_EQ(NSObject_Property::propertyKey(sub, "title"), "t");
    EXPECT_EQ(NSObject_Property::propertyKey(cls, "title"), "head.text");
    // The same inherited descriptor reads by a different path per class.
    EXPECT_EQ(stepsOf(propertyNamed(sub, "title")->propertyKeysFromClass(sub)),
              (std::vector<std::string>{"t"}));
    EXPECT_EQ(stepsOf(propertyNamed(cls, "title")->propertyKeysFromClass(cls)),
              (std::vector<std::string>{"head", "text"}));
}

TEST_F(RecordSetupTest, KeyBlocksComeBeforeKeyMaps) {
    const RMClass* cls = RMClass::of<TRSetupKeyBlock>();
    NSObject_Property::setupReplacedKeyFromPropertyName(cls, [] { return Dictionary{{"title", "fromMap"}}; });
    NSObject_Property::setupReplacedKeyFromPropertyName121(
        cls, [](const std::string& name) -> std::optional<std::string> {
            if (name == "title") return "fromBlock";
            if (name == "note") return std::string();  // empty: no answer
            return std::nullopt;
        });
    EXPECT_EQ(NSObject_Property::propertyKey(cls, "title"), "fromBlock");
    EXPECT_EQ(NSObject_Property::propertyKey(cls, "note"), "note");
}

TEST_F(RecordSetupTest, TotalNameListsGatherTheAncestors) {
    NSObject_RMClass::setupIgnoredPropertyNames<TRSetupIgnored>(
        [] { return std::vector<std::string>{"note"}; });
    NSObject_RMClass::setupIgnoredPropertyNames<TRSetupIgnoredSub>(
        [] { return std::vector<std::string>{"title"}; });
    EXPECT_EQ(*NSObject_RMClass::totalIgnoredPropertyNames(RMClass::of<TRSetupIgnoredSub>()),
              (std::vector<std::string>{"title", "note"}));
    EXPECT_EQ(*NSObject_RMClass::totalIgnoredPropertyNames(RMClass::of<TRSetupIgnored>()),
              (std::vector<std::string>{"note"}));
    EXPECT_TRUE(NSObject_RMClass::totalAllowedPropertyNames(RMClass::of<TRSetupIgnored>())->empty());
    // The hook's list comes first, then the attached lists.
    EXPECT_EQ(*NSObject_RMClass::totalAllowedPropertyNames(RMClass::of<TRAllowed>()),
              (std::vector<std::string>{"kept"}));
    // A removed list is gone from the totals of the subclass too.
    NSObject_RMClass::setupIgnoredPropertyNames<TRSetupIgnored>(nullptr);
    EXPECT_EQ(*NSObject_RMClass::totalIgnoredPropertyNames(RMClass::of<TRSetupIgnoredSub>()),
              (std::vector<std::string>{"title"}));
}

TEST_F(RecordSetupTest, TotalsAreCachedUntilTheNextSetup) {
    const RMClass* cls = RMClass::of<TRSetupCache>();
    auto first = NSObject_RMClass::totalIgnoredPropertyNames(cls);
    EXPECT_EQ(first, NSObject_RMClass::totalIgnoredPropertyNames(cls));
    NSObject_RMClass::setupIgnoredPropertyNames(cls, [] { return std::vector<std::string>{"x"}; });
    EXPECT_NE(first, NSObject_RMClass::totalIgnoredPropertyNames(cls));
    auto list = NSObject_Property::properties(cls);
    NSObject_Property::setupReplacedKeyFromPropertyName(cls, [] { return Dictionary(); });
    EXPECT_NE(list, NSObject_Property::properties(cls));
}

TEST(RecordNewValue, TheObjectsOwnHookComesFirst) {
    auto hooked = make<TRHooked>();
    auto title = propertyNamed(RMClass::of<TRHooked>(), "title");
    EXPECT_EQ(NSObject_Property::getNewValueFromObject(RMClass::of<TRHooked>(), hooked, Value("a"), *title),
              Value("<a>"));
    auto amount = propertyNamed(RMClass::of<TRHooked>(), "amount");
    EXPECT_TRUE(
        NSObject_Property::getNewValueFromObject(RMClass::of<TRHooked>(), hooked, Value(1), *amount).isNil());
}

TEST(RecordNewValue, NearestBlockAnswers) {
    const RMClass* cls = RMClass::of<TRSetupNewValue>();
    const RMClass* sub = RMClass::of<TRSetupNewValueSub>();
    NSObject_Property::setupNewValueFromOldValue(
        cls, [](const Ref<NSObject>&, const Value&, const RMProperty&) { return Value("parent"); });
    auto title = propertyNamed(sub, "title");
    auto object = make<TRSetupNewValueSub>();
    EXPECT_EQ(NSObject_Property::getNewValueFromObject(sub, object, Value(), *title), Value("parent"));
    NSObject_Property::setupNewValueFromOldValue(
        sub, [](const Ref<NSObject>&, const Value&, const RMProperty&) { return Value("child"); });
    EXPECT_EQ(NSObject_Property::getNewValueFromObject(sub, object, Value(), *title), Value("child"));
    NSObject_Property::setupNewValueFromOldValue(sub, nullptr);
    NSObject_Property::setupNewValueFromOldValue(cls, nullptr);
    EXPECT_TRUE(NSObject_Property::getNewValueFromObject(sub, object, Value(), *title).isNil());
}
