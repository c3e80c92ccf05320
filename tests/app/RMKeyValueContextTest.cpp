// The JSON-to-record mapping with a managed-object context: records that extend NSManagedObject
// are made as objects of their entity in the context, nested records and arrays of records in
// the same context; other classes and calls without a context behave as before; a missing
// entity and wrong containers are reported.

#include <gtest/gtest.h>

#include "app/NSObject+RMKeyValue.h"
#include "app/RMRecord.h"
#include "coredata/NSManagedObjectContext.h"

namespace {

// Records kept in the object store: their properties read and write the object's values.
class RMGarageOwner : public NSManagedObject {
    RM_RECORD(RMGarageOwner, NSManagedObject)
};

class RMGarageCar : public NSManagedObject {
    RM_RECORD(RMGarageCar, NSManagedObject)
};

class RMGarage : public NSManagedObject {
    RM_RECORD(RMGarage, NSManagedObject)
    static Dictionary objectClassInArray() { return Dictionary{{"cars", "RMGarageCar"}}; }
};

// A plain record beside them.
class RMGarageNote : public NSObject {
    RM_RECORD(RMGarageNote, NSObject)
    std::optional<std::string> text;
};

template <class T>
RMPropertyDecl stored(const char* name, const char* code) {
    return ::detail::rmCustomProperty<T>(
        name, code, [name](const T& o) { return o.valueForKey(name); },
        [name](T& o, const Value& v) {
            o.setValueForKey(v, name);
            return true;
        });
}

}  // namespace

RM_PROPERTIES(RMGarageOwner, stored<RMGarageOwner>("name", "@\"NSString\""))
RM_PROPERTIES(RMGarageCar, stored<RMGarageCar>("title", "@\"NSString\""), stored<RMGarageCar>("year", "q"))
RM_PROPERTIES(RMGarage, stored<RMGarage>("city", "@\"NSString\""),
              stored<RMGarage>("owner", "@\"RMGarageOwner\""), stored<RMGarage>("cars", "@\"NSArray\""))
RM_PROPERTIES(RMGarageNote, RM_PROPERTY(text))

namespace {

const auto* ownerClass = NSManagedObjectClass::registerClass<RMGarageOwner>("RMGarageOwner");
const auto* carClass = NSManagedObjectClass::registerClass<RMGarageCar>("RMGarageCar");
const auto* garageClass = NSManagedObjectClass::registerClass<RMGarage>("RMGarage");

const char kModel[] = R"({"entities": [
  {"name": "RMGarage", "representedClassName": "RMGarage", "attributes": [{"name": "city", "type": "string"}],
   "relationships": [{"name": "owner", "destination": "RMGarageOwner"},
                     {"name": "cars", "destination": "RMGarageCar", "inverse": "garage", "toMany": true}]},
  {"name": "RMGarageOwner", "representedClassName": "RMGarageOwner", "attributes": [{"name": "name", "type": "string"}]},
  {"name": "RMGarageCar", "representedClassName": "RMGarageCar",
   "attributes": [{"name": "title", "type": "string"}, {"name": "year", "type": "integer64"}],
   "relationships": [{"name": "garage", "destination": "RMGarage", "inverse": "cars"}]}]})";

class RMKeyValueContext : public ::testing::Test {
  protected:
    Ref<NSManagedObjectContext> context = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
    void SetUp() override {
        (void)ownerClass;
        (void)carClass;
        (void)garageClass;
        auto coordinator = make<NSPersistentStoreCoordinator>(
            NSManagedObjectModel::modelWithData(NSData::fromString(kModel)));
        ASSERT_TRUE(coordinator->addPersistentStoreWithType(NSInMemoryStoreType, std::nullopt, nullptr,
                                                            std::nullopt));
        context->setPersistentStoreCoordinator(coordinator);
    }
};

TEST_F(RMKeyValueContext, ManagedRecordsAreMadeInTheContextWithTheirNestedRecords) {
    Value json = Dictionary{
        {"city", "Tartu"},
        {"owner", Dictionary{{"name", "Ada"}}},
        {"cars", Array{Dictionary{{"title", "Alpha"}, {"year", "1999"}}, Dictionary{{"title", 7}}}}};
    Ref<NSError> error;
    auto garage = NSObject_RMKeyValue::objectWithKeyValuesContext<RMGarage>(json, context, &error);
    ASSERT_TRUE(garage);
    EXPECT_FALSE(error);
    EXPECT_EQ(garage->managedObjectContext(), context);
    EXPECT_TRUE(garage->isInserted());
    EXPECT_EQ(garage->valueForKey("city"), Value("Tartu"));
    auto owner = garage->valueForKey("owner").objectAs<RMGarageOwner>();
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner->managedObjectContext(), context);
    EXPECT_EQ(owner->valueForKey("name"), Value("Ada"));
    Value cars = garage->valueForKey("cars");
    ASSERT_EQ(cars.array()->count(), 2u);
    auto alpha = (*cars.array())[0].objectAs<RMGarageCar>();
    ASSERT_TRUE(alpha);
    EXPECT_EQ(alpha->valueForKey("year"), Value(1999LL));
    EXPECT_EQ((*cars.array())[1].objectAs<NSManagedObject>()->valueForKey("title"), Value("7"));
    EXPECT_EQ(alpha->valueForKey("garage").objectAs<NSManagedObject>(), garage);
    EXPECT_TRUE(context->save());
    EXPECT_EQ(context->countForFetchRequest(NSFetchRequest::fetchRequestWithEntityName("RMGarageCar")), 2u);
}

TEST_F(RMKeyValueContext, ArraysAndExistingObjectsTakeTheContext) {
    Value list = NSObject_RMKeyValue::objectArrayWithKeyValuesArrayContext<RMGarageCar>(
        Array{Dictionary{{"title", "A"}}, Array{Dictionary{{"title", "B"}}}}, context);
    ASSERT_TRUE(list.isArray());
    ASSERT_EQ(list.array()->count(), 2u);
    EXPECT_EQ((*list.array())[0].objectAs<NSManagedObject>()->managedObjectContext(), context);
    EXPECT_TRUE((*list.array())[1].isArray());

    auto car = NSEntityDescription::insertNewObjectForEntityForName("RMGarageCar", context);
    NSObject_RMKeyValue::setKeyValuesContext(*car, Value(R"({"title": "Z", "year": 5})"), context);
    EXPECT_EQ(car->valueForKey("title"), Value("Z"));
    EXPECT_EQ(car->valueForKey("year"), Value(5LL));

    Ref<NSError> error;
    EXPECT_TRUE(
        NSObject_RMKeyValue::objectArrayWithKeyValuesArrayContext<RMGarageCar>(Value(3), context, &error)
            .isNil());
    EXPECT_EQ(error->domain(), "keyValuesArray参数不是一个数组");
}

TEST_F(RMKeyValueContext, OtherClassesAndMissingEntitiesAndNoContext) {
    auto note =
        NSObject_RMKeyValue::objectWithKeyValuesContext<RMGarageNote>(Dictionary{{"text", "hi"}}, context);
    ASSERT_TRUE(note);
    EXPECT_EQ(note->text, std::optional<std::string>("hi"));

    auto empty = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
    empty->setPersistentStoreCoordinator(make<NSPersistentStoreCoordinator>(
        NSManagedObjectModel::modelWithData(NSData::fromString(R"({"entities": []})"))));
    Ref<NSError> error;
    EXPECT_FALSE(
        NSObject_RMKeyValue::objectWithKeyValuesContext<RMGarage>(Dictionary{{"city", "x"}}, empty, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSObject_RMKeyValue::kErrorCode);
    EXPECT_EQ(error->domain(), "entity RMGarage not found");

    // Without a context a managed record has no entity: the values are refused with an error,
    // nothing crashes.
    error = nullptr;
    auto loose = NSObject_RMKeyValue::objectWithKeyValues<RMGarage>(Dictionary{{"city", "x"}}, &error);
    ASSERT_TRUE(loose);
    EXPECT_FALSE(loose->managedObjectContext());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSObject_RMKeyValue::kErrorCode);
}

}  // namespace
