// Array imports look up each document's identifying value once: stored objects are found and
// updated rather than duplicated, repeated values within one array meet one object, and a save
// that reaches the store during the import (a hook saving the chain) is still seen.

#include "data/NSManagedObject+DataImport.h"

#include "data/NSManagedObject+DataRecord.h"
#include "tests/data/DataTestSupport.h"

namespace {

using datatest::carClass;
using datatest::DataStack;
using datatest::json;
using namespace NSManagedObject_DataRecord_DataImport;

class ArrayImport : public DataStack {
  protected:
    void SetUp() override {
        DataStack::SetUp();
        DataRecord_Setup::setupAutoMigratingCoreDataStack();
    }

    // carID -> name of every stored car, read by a fresh context.
    static std::map<long long, std::string> storedCars() {
        auto context = NSManagedObjectContext_DataRecord::DR_contextWithStoreCoordinator(
            NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator());
        std::map<long long, std::string> out;
        std::size_t count = 0;
        context->performBlockAndWait([&] {
            auto result = context->executeFetchRequest(NSFetchRequest::fetchRequestWithEntityName("Car"));
            for (const Value& v : *result) {
                auto car = v.objectAs<NSManagedObject>();
                out[car->valueForKey("carID").longLongValue()] = car->valueForKey("name").stringValue();
                ++count;
            }
        });
        EXPECT_EQ(count, out.size()) << "two stored cars share an id";
        return out;
    }
};

using Cars = std::map<long long, std::string>;

TEST_F(ArrayImport, StoredObjectsAreUpdatedAndRepeatsMeetOneObject) {
    DataRecord_Actions::saveWithBlockAndWait([&](const Ref<NSManagedObjectContext>& local) {
        DR_importFromArray(carClass(), json(R"([{"carID": 1, "title": "A"}, {"carID": 2, "title": "B"}])"),
                           local);
    });
    ASSERT_EQ(storedCars(), (Cars{{1, "A"}, {2, "B"}}));

    Array imported;
    DataRecord_Actions::saveWithBlockAndWait([&](const Ref<NSManagedObjectContext>& local) {
        // 2.0 is the stored 2; 3 comes twice; 1 is changed in this context before the import.
        auto one = NSManagedObject_DataFinders::DR_findFirstByAttribute(carClass(), "carID", Value(1), local);
        ASSERT_TRUE(one);
        one->setValueForKey(Value(10LL), "carID");
        imported = DR_importFromArray(
            carClass(),
            json(R"([{"carID": 2.0, "title": "B2"}, {"carID": 3, "title": "C"}, {"carID": 3, "title": "C2"},
                     {"carID": 10, "title": "J"}, {"carID": 1, "title": "A2"}])"),
            local);
    });
    ASSERT_EQ(imported.count(), 5u);
    EXPECT_EQ(imported[1], imported[2]);
    EXPECT_NE(imported[3], imported[4]);
    EXPECT_EQ(storedCars(), (Cars{{1, "A2"}, {2, "B2"}, {3, "C2"}, {10, "J"}}));
}

TEST_F(ArrayImport, ASaveReachingTheStoreDuringTheImportIsSeen) {
    NSManagedObjectClassDefinition definition;
    definition.methods["didImport:"] = [](NSManagedObject& object, const Value&) {
        // Straight to the store, through every parent.
        NSManagedObjectContext_DataSaves::DR_saveToPersistentStoreAndWait(object.managedObjectContext());
        return Value();
    };
    definition.entityName = [] { return std::optional<std::string>("Car"); };
    static const auto* saving = NSManagedObjectClass::registerClass<NSManagedObject>("SavingCar", definition);

    auto local = NSManagedObjectContext_DataRecord::DR_contextWithParent(
        NSManagedObjectContext_DataRecord::DR_rootSavingContext());
    Array imported = DR_importFromArray(
        saving, json(R"([{"carID": 7, "title": "first"}, {"carID": 7, "title": "second"}])"), local);
    ASSERT_EQ(imported.count(), 2u);
    EXPECT_EQ(imported[0], imported[1]);
    EXPECT_EQ(storedCars(), (Cars{{7, "second"}}));
}

}  // namespace
