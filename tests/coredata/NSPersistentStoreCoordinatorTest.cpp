// Store coordinators over SQLite files and memory: objects written and read back after a
// "restart" (a new coordinator on the same file), permanent ids, lightweight migration of added
// attributes, the mismatch and migration errors, and damaged files reported without harm.

#include "coredata/NSPersistentStoreCoordinator.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "coredata/CoreDataErrors.h"
#include "coredata/NSManagedObjectContext.h"
#include "tests/coredata/CoreDataTestModel.h"
#include "tests/support/TestSupport.h"

namespace {

Ref<NSManagedObjectContext> contextOn(const Ref<NSPersistentStoreCoordinator>& coordinator) {
    auto context = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
    context->setPersistentStoreCoordinator(coordinator);
    return context;
}

Ref<NSManagedObject> insert(const Ref<NSManagedObjectContext>& context, const std::string& entity,
                            std::initializer_list<std::pair<const char*, Value>> values) {
    auto object = NSEntityDescription::insertNewObjectForEntityForName(entity, context);
    for (const auto& [k, v] : values) object->setValueForKey(v, k);
    return object;
}

Array fetchAll(const Ref<NSManagedObjectContext>& context, const std::string& entity,
               const std::string& sortKey = "") {
    auto request = NSFetchRequest::fetchRequestWithEntityName(entity);
    if (!sortKey.empty())
        request->setSortDescriptors({NSSortDescriptor::sortDescriptorWithKey(sortKey, true)});
    Ref<NSError> error;
    auto result = context->executeFetchRequest(request, &error);
    EXPECT_TRUE(result) << (error ? error->localizedDescription() : "");
    return result ? *result : Array();
}

const Dictionary kMigrate{{NSMigratePersistentStoresAutomaticallyOption, true},
                          {NSInferMappingModelAutomaticallyOption, true}};

class StoreFile : public ::testing::Test {
  protected:
    testsupport::TemporaryDirectory dir;
    Ref<NSURL> url = NSURL::fileURLWithPath(dir.file("Garage.sqlite"));

    Ref<NSPersistentStoreCoordinator> open(Ref<NSManagedObjectModel> model, std::optional<Dictionary> options,
                                           Ref<NSError>* error = nullptr) {
        auto coordinator = make<NSPersistentStoreCoordinator>(model);
        if (!coordinator->addPersistentStoreWithType(NSSQLiteStoreType, std::nullopt, url, options, error))
            return nullptr;
        return coordinator;
    }
};

TEST_F(StoreFile, EverythingSavedIsReadBackAfterARestart) {
    {
        auto coordinator = open(coredatatest::model(), std::nullopt);
        ASSERT_TRUE(coordinator);
        auto context = contextOn(coordinator);
        auto owner = insert(context, "Owner", {{"ownerID", Value(7LL)}, {"name", Value("Ada")}});
        auto a = insert(context, "Car",
                        {{"name", Value("Alpha")},
                         {"price", Value(12.5)},
                         {"built", Value(NSDate::dateWithTimeIntervalSince1970(1.4e9))}});
        auto b = insert(context, "Car", {{"name", Value("Beta")}, {"sold", Value(true)}});
        owner->addObjectToRelationship(a, "cars");
        owner->addObjectToRelationship(b, "cars");
        auto part = insert(context, "Part", {{"label", Value("bumper")}, {"weight", Value(2.5f)}});
        part->setValueForKey(a, "car");
        EXPECT_TRUE(a->objectID()->isTemporaryID());
        Ref<NSError> error;
        ASSERT_TRUE(context->save(&error)) << (error ? error->localizedDescription() : "");
        EXPECT_FALSE(a->objectID()->isTemporaryID());
        EXPECT_FALSE(context->hasChanges());
    }
    auto coordinator = open(coredatatest::model(), std::nullopt);
    ASSERT_TRUE(coordinator);
    auto context = contextOn(coordinator);
    Array cars = fetchAll(context, "Car", "name");
    ASSERT_EQ(cars.count(), 2u);
    auto alpha = cars[0].objectAs<NSManagedObject>();
    EXPECT_EQ(alpha->valueForKey("name"), Value("Alpha"));
    EXPECT_EQ(alpha->valueForKey("price"), Value(12.5));
    EXPECT_EQ(alpha->valueForKey("year"), Value(2000));
    EXPECT_EQ(alpha->valueForKey("built"), Value(NSDate::dateWithTimeIntervalSince1970(1.4e9)));
    EXPECT_EQ(cars[1].objectAs<NSManagedObject>()->valueForKey("sold"), Value(true));
    auto owner = alpha->valueForKey("owner").objectAs<NSManagedObject>();
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner->valueForKey("name"), Value("Ada"));
    Value ownedCars = owner->valueForKey("cars");
    ASSERT_EQ(ownedCars.array()->count(), 2u);
    EXPECT_EQ((*ownedCars.array())[0].objectAs<NSManagedObject>(), alpha);
    Value parts = alpha->valueForKey("parts");
    ASSERT_EQ(parts.array()->count(), 1u);
    EXPECT_EQ((*parts.array())[0].objectAs<NSManagedObject>()->valueForKey("weight"), Value(2.5f));
}

TEST_F(StoreFile, IDsArePermanentAndFindTheirObjectAgain) {
    auto coordinator = open(coredatatest::model(), std::nullopt);
    auto context = contextOn(coordinator);
    auto car = insert(context, "Car", {{"name", Value("Gamma")}});
    ASSERT_TRUE(context->obtainPermanentIDsForObjects({car}));
    auto id = car->objectID();
    EXPECT_FALSE(id->isTemporaryID());
    ASSERT_TRUE(context->save());
    EXPECT_EQ(car->objectID(), id);
    std::string uri = id->URIRepresentation()->absoluteString();
    EXPECT_EQ(uri.rfind("x-coredata://", 0), 0u);

    auto other = contextOn(coordinator);
    auto again = other->existingObjectWithID(
        coordinator->managedObjectIDForURIRepresentation(NSURL::URLWithString(uri)));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->valueForKey("name"), Value("Gamma"));
}

TEST_F(StoreFile, AddedAttributesMigrateWithTheAutomaticOptions) {
    {
        auto coordinator = open(coredatatest::model(), std::nullopt);
        auto context = contextOn(coordinator);
        insert(context, "Car", {{"name", Value("Old")}});
        ASSERT_TRUE(context->save());
    }
    Ref<NSError> error;
    EXPECT_FALSE(open(coredatatest::model(true), std::nullopt, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSPersistentStoreIncompatibleVersionHashError);

    auto coordinator = open(coredatatest::model(true), kMigrate, &error);
    ASSERT_TRUE(coordinator) << error->localizedDescription();
    auto context = contextOn(coordinator);
    Array cars = fetchAll(context, "Car");
    ASSERT_EQ(cars.count(), 1u);
    EXPECT_EQ(cars[0].objectAs<NSManagedObject>()->valueForKey("name"), Value("Old"));
    EXPECT_EQ(cars[0].objectAs<NSManagedObject>()->valueForKey("colour"), Value("red"));
    // The migrated store now opens with the new model and no options.
    coordinator.reset();
    context.reset();
    EXPECT_TRUE(open(coredatatest::model(true), std::nullopt));
}

TEST_F(StoreFile, ChangesBeyondAddingAttributesDoNotMigrate) {
    ASSERT_TRUE(open(coredatatest::model(), std::nullopt));
    Ref<NSError> error;
    EXPECT_FALSE(open(coredatatest::model(false, /*dropPrice=*/true), kMigrate, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSMigrationError);
    // Nothing was changed: the old model still opens it.
    EXPECT_TRUE(open(coredatatest::model(), std::nullopt));
}

TEST_F(StoreFile, AStoreThatDoesNotNameItsModelCannotMigrate) {
    ASSERT_TRUE(open(coredatatest::model(), std::nullopt));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(url->path().c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "DELETE FROM store_meta WHERE key = 'model'", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    Ref<NSError> error;
    EXPECT_FALSE(open(coredatatest::model(true), kMigrate, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSMigrationMissingSourceModelError);
}

TEST_F(StoreFile, ADamagedFileIsReportedAndLeftAlone) {
    const std::string garbage(4096, 'x');
    std::ofstream(url->path(), std::ios::binary) << garbage;
    Ref<NSError> error;
    EXPECT_FALSE(open(coredatatest::model(), std::nullopt, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), NSFileReadCorruptFileError);
    std::ifstream in(url->path(), std::ios::binary);
    std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(after, garbage);

    // Another store beside it is unaffected.
    auto coordinator = make<NSPersistentStoreCoordinator>(coredatatest::model());
    EXPECT_TRUE(coordinator->addPersistentStoreWithType(
        NSSQLiteStoreType, std::nullopt, NSURL::fileURLWithPath(dir.file("Other.sqlite")), std::nullopt));
}

TEST_F(StoreFile, ADatabaseThatIsNotAStoreIsRefused) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(url->path().c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE mine (x INTEGER)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    Ref<NSError> error;
    EXPECT_FALSE(open(coredatatest::model(), std::nullopt, &error));
    EXPECT_EQ(error->code(), NSPersistentStoreIncompatibleSchemaError);
}

TEST_F(StoreFile, WriteAheadModeBringsItsSideFiles) {
    auto coordinator =
        open(coredatatest::model(), Dictionary{{NSSQLitePragmasOption, Dictionary{{"journal_mode", "WAL"}}}});
    ASSERT_TRUE(coordinator);
    auto context = contextOn(coordinator);
    insert(context, "Car", {{"name", Value("Delta")}});
    ASSERT_TRUE(context->save());
    EXPECT_TRUE(std::filesystem::exists(url->path() + "-wal"));
    EXPECT_TRUE(std::filesystem::exists(url->path() + "-shm"));
}

TEST(NSPersistentStoreCoordinator, RefusesUnknownTypesAndMissingURLs) {
    auto coordinator = make<NSPersistentStoreCoordinator>(coredatatest::model());
    Ref<NSError> error;
    EXPECT_FALSE(
        coordinator->addPersistentStoreWithType("Binary", std::nullopt, nullptr, std::nullopt, &error));
    EXPECT_EQ(error->code(), NSPersistentStoreInvalidTypeError);
    EXPECT_FALSE(coordinator->addPersistentStoreWithType(NSSQLiteStoreType, std::nullopt, nullptr,
                                                         std::nullopt, &error));
    EXPECT_EQ(error->code(), NSPersistentStoreInvalidTypeError);
    auto store = coordinator->addPersistentStoreWithType(NSInMemoryStoreType, std::nullopt, nullptr,
                                                         std::nullopt, &error);
    ASSERT_TRUE(store);
    EXPECT_EQ(coordinator->persistentStores().size(), 1u);
    EXPECT_FALSE(store->URL());
}

TEST(NSPersistentStoreCoordinator, SavingWithoutAStoreFailsAndKeepsTheChanges) {
    auto coordinator = make<NSPersistentStoreCoordinator>(coredatatest::model());
    auto context = contextOn(coordinator);
    insert(context, "Car", {{"name", Value("Lost?")}});
    Ref<NSError> error;
    EXPECT_FALSE(context->save(&error));
    ASSERT_TRUE(error);
    EXPECT_TRUE(context->hasChanges());
    ASSERT_TRUE(
        coordinator->addPersistentStoreWithType(NSInMemoryStoreType, std::nullopt, nullptr, std::nullopt));
    EXPECT_TRUE(context->save(&error));
    EXPECT_EQ(fetchAll(contextOn(coordinator), "Car").count(), 1u);
}

}  // namespace
