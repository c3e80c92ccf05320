// Saves that meet other saves on one store file: two contexts directly on one coordinator keep
// each other's properties, an update of an object another context deleted is a conflict that
// writes nothing, a value that cannot be archived fails the save instead of storing nothing; and
// requests and files the store refuses: a sort by a key the entity lacks, a damaged file that is
// left byte for byte as it was.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "coredata/CoreDataErrors.h"
#include "coredata/NSManagedObjectContext.h"
#include "tests/coredata/CoreDataTestModel.h"
#include "tests/support/TestSupport.h"

namespace {

const Dictionary kWriteAhead{{NSSQLitePragmasOption, Dictionary{{"journal_mode", "WAL"}}}};

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class SharedStore : public ::testing::Test {
  protected:
    testsupport::TemporaryDirectory dir;
    Ref<NSURL> url = NSURL::fileURLWithPath(dir.file("Garage.sqlite"));

    Ref<NSPersistentStoreCoordinator> open(std::optional<Dictionary> options = std::nullopt,
                                           Ref<NSError>* error = nullptr,
                                           Ref<NSManagedObjectModel> model = coredatatest::model()) {
        auto coordinator = make<NSPersistentStoreCoordinator>(model);
        if (!coordinator->addPersistentStoreWithType(NSSQLiteStoreType, std::nullopt, url, options, error))
            return nullptr;
        return coordinator;
    }

    static Ref<NSManagedObjectContext> privateContext(const Ref<NSPersistentStoreCoordinator>& coordinator) {
        auto context = make<NSManagedObjectContext>(NSPrivateQueueConcurrencyType);
        context->setPersistentStoreCoordinator(coordinator);
        return context;
    }

    static Ref<NSManagedObject> fetchCar(const Ref<NSManagedObjectContext>& context,
                                         const std::string& name) {
        auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
        request->setPredicate(NSPredicate::predicateWithFormat("name = %@", name));
        auto result = context->executeFetchRequest(request);
        if (!result || result->count() != 1) return nullptr;
        return (*result)[0].objectAs<NSManagedObject>();
    }

    // The stored cars as "name price", read by a coordinator of their own.
    std::vector<std::string> storedCars() {
        auto coordinator = open();
        std::vector<std::string> out;
        if (!coordinator) return out;
        auto context = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
        context->setPersistentStoreCoordinator(coordinator);
        auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
        request->setSortDescriptors({NSSortDescriptor::sortDescriptorWithKey("carID", true)});
        auto result = context->executeFetchRequest(request);
        for (const Value& v : *result) {
            auto car = v.objectAs<NSManagedObject>();
            out.push_back(car->valueForKey("name").stringValue() + " " +
                          car->valueForKey("price").stringValue());
        }
        return out;
    }

    void storeCars(std::initializer_list<std::tuple<long long, const char*, double>> cars,
                   std::optional<Dictionary> options = kWriteAhead) {
        auto coordinator = open(options);
        ASSERT_TRUE(coordinator);
        auto context = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
        context->setPersistentStoreCoordinator(coordinator);
        for (const auto& [id, name, price] : cars) {
            auto car = NSEntityDescription::insertNewObjectForEntityForName("Car", context);
            car->setValueForKey(Value(id), "carID");
            car->setValueForKey(Value(name), "name");
            car->setValueForKey(Value(price), "price");
        }
        ASSERT_TRUE(context->save());
    }
};

using Strings = std::vector<std::string>;

TEST_F(SharedStore, TwoContextsOnOneCoordinatorKeepEachOthersProperties) {
    storeCars({{1, "Alpha", 10}, {2, "Beta", 20}});
    auto coordinator = open(kWriteAhead);
    ASSERT_TRUE(coordinator);
    auto a = privateContext(coordinator), b = privateContext(coordinator);
    Ref<NSManagedObject> inA, inB, betaInA, betaInB;
    a->performBlockAndWait([&] {
        inA = fetchCar(a, "Alpha");
        betaInA = fetchCar(a, "Beta");
    });
    b->performBlockAndWait([&] {
        inB = fetchCar(b, "Alpha");
        betaInB = fetchCar(b, "Beta");
    });
    ASSERT_TRUE(inA && inB && betaInA && betaInB);

    bool savedA = false, savedB = false;
    a->performBlockAndWait([&] {
        inA->setValueForKey(Value("Alpha Two"), "name");
        betaInA->setValueForKey(Value(21.0), "price");
        savedA = a->save();
    });
    b->performBlockAndWait([&] {
        // B still reads the old name; it changes only the price, and Beta's price too.
        EXPECT_EQ(inB->valueForKey("name"), Value("Alpha"));
        inB->setValueForKey(Value(11.0), "price");
        betaInB->setValueForKey(Value(22.0), "price");
        savedB = b->save();
    });
    EXPECT_TRUE(savedA);
    EXPECT_TRUE(savedB);
    // A's name stays; a property both changed goes to the later saver.
    EXPECT_EQ(storedCars(), (Strings{"Alpha Two 11", "Beta 22"}));
}

TEST_F(SharedStore, UpdatingAnObjectAnotherContextDeletedIsAConflictThatWritesNothing) {
    storeCars({{1, "Alpha", 10}, {2, "Beta", 20}});
    auto coordinator = open(kWriteAhead);
    ASSERT_TRUE(coordinator);
    auto a = privateContext(coordinator), b = privateContext(coordinator);
    Ref<NSManagedObject> alphaInB, betaInB;
    b->performBlockAndWait([&] {
        alphaInB = fetchCar(b, "Alpha");
        betaInB = fetchCar(b, "Beta");
    });
    ASSERT_TRUE(alphaInB && betaInB);
    a->performBlockAndWait([&] {
        a->deleteObject(fetchCar(a, "Alpha"));
        EXPECT_TRUE(a->save());
    });

    Ref<NSError> error;
    bool saved = true;
    b->performBlockAndWait([&] {
        alphaInB->setValueForKey(Value(99.0), "price");
        betaInB->setValueForKey(Value(25.0), "price");
        auto extra = NSEntityDescription::insertNewObjectForEntityForName("Car", b);
        extra->setValueForKey(Value(3LL), "carID");
        extra->setValueForKey(Value("Gamma"), "name");
        saved = b->save(&error);
    });
    EXPECT_FALSE(saved);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), NSManagedObjectMergeError);
    const Array* affected = error->userInfo()[NSAffectedObjectsErrorKey].array();
    ASSERT_TRUE(affected);
    ASSERT_EQ(affected->count(), 1u);
    EXPECT_EQ((*affected)[0].objectAs<NSManagedObjectID>(), alphaInB->objectID());
    EXPECT_NE(error->localizedDescription().find(alphaInB->objectID()->description()), std::string::npos);
    // Nothing of B's save reached the store, and B keeps its changes.
    EXPECT_EQ(storedCars(), (Strings{"Beta 20"}));
    b->performBlockAndWait([&] { EXPECT_TRUE(b->hasChanges()); });
}

TEST_F(SharedStore, AValueThatCannotBeArchivedFailsTheSave) {
    auto text = coredatatest::modelText();
    const std::string anchor = R"({"name": "label", "type": "string"})";
    text.replace(text.find(anchor), anchor.size(),
                 anchor + R"(, {"name": "finish", "type": "transformable"})");
    auto model = NSManagedObjectModel::modelWithData(NSData::fromString(text));
    ASSERT_TRUE(model);
    auto coordinator = open(std::nullopt, nullptr, model);
    ASSERT_TRUE(coordinator);
    auto context = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
    context->setPersistentStoreCoordinator(coordinator);

    auto kept = NSEntityDescription::insertNewObjectForEntityForName("Part", context);
    kept->setValueForKey(Value("bumper"), "label");
    kept->setValueForKey(Value(Array{Value("matte"), Value(2)}), "finish");
    ASSERT_TRUE(context->save());

    auto part = NSEntityDescription::insertNewObjectForEntityForName("Part", context);
    part->setValueForKey(Value("hood"), "label");
    // A plain object has no coding: storing nothing in its place would lose it.
    part->setValueForKey(Value(make<NSObject>()), "finish");
    Ref<NSError> error;
    EXPECT_FALSE(context->save(&error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSPersistentStoreSaveError);
    EXPECT_NE(error->localizedDescription().find("Part.finish"), std::string::npos);
    EXPECT_TRUE(context->hasChanges());

    auto reader = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
    reader->setPersistentStoreCoordinator(open(std::nullopt, nullptr, model));
    auto result = reader->executeFetchRequest(NSFetchRequest::fetchRequestWithEntityName("Part"));
    ASSERT_TRUE(result);
    ASSERT_EQ(result->count(), 1u);
    auto stored = (*result)[0].objectAs<NSManagedObject>();
    EXPECT_EQ(stored->valueForKey("label"), Value("bumper"));
    EXPECT_EQ(stored->valueForKey("finish"), Value(Array{Value("matte"), Value(2)}));
}

TEST_F(SharedStore, ASortByAKeyTheEntityDoesNotHaveFails) {
    storeCars({{1, "Alpha", 10}});
    auto coordinator = open();
    ASSERT_TRUE(coordinator);
    auto context = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
    context->setPersistentStoreCoordinator(coordinator);
    struct Case {
        const char* key;
        bool fails;
    };
    for (const Case& c : {Case{" price", true}, Case{"colour", true}, Case{"", true}, Case{"price ", true},
                          Case{"price", false}, Case{"name", false}}) {
        SCOPED_TRACE(c.key);
        auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
        request->setSortDescriptors({NSSortDescriptor::sortDescriptorWithKey(c.key, true)});
        Ref<NSError> error;
        auto result = context->executeFetchRequest(request, &error);
        EXPECT_EQ(!result, c.fails);
        EXPECT_EQ(static_cast<bool>(error), c.fails);
        // With pending changes the sort happens in memory: the same answer.
        NSEntityDescription::insertNewObjectForEntityForName("Car", context);
        error = nullptr;
        EXPECT_EQ(!context->executeFetchRequest(request, &error), c.fails);
        EXPECT_EQ(static_cast<bool>(error), c.fails);
        context->reset();
    }
}

TEST_F(SharedStore, AFileWhoseSecondPageIsDamagedIsRefusedAndLeftAsItWas) {
    // A file in the rollback journal mode, whose header a switch to write-ahead would change.
    storeCars({{1, "Alpha", 10}, {2, "Beta", 20}}, std::nullopt);
    std::string bytes = fileBytes(url->path());
    ASSERT_GE(bytes.size(), 8192u);
    for (std::size_t i = 4096; i < 8192; ++i) bytes[i] = static_cast<char>(0xA5 ^ (i & 0xff));
    std::ofstream(url->path(), std::ios::binary | std::ios::trunc) << bytes;

    for (const auto& options : {std::optional<Dictionary>(kWriteAhead), std::optional<Dictionary>()}) {
        Ref<NSError> error;
        EXPECT_FALSE(open(options, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), NSFileReadCorruptFileError);
        EXPECT_EQ(fileBytes(url->path()), bytes);
    }
}

}  // namespace

namespace {

TEST_F(SharedStore, AffectedStoresChooseWhatAFetchReads) {
    storeCars({{1, "Alpha", 10}});
    auto coordinator = open();
    ASSERT_TRUE(coordinator);
    auto context = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
    context->setPersistentStoreCoordinator(coordinator);
    auto pending = NSEntityDescription::insertNewObjectForEntityForName("Car", context);
    pending->setValueForKey(Value("Beta"), "name");

    auto names = [&](std::optional<std::vector<Ref<NSPersistentStore>>> stores) {
        auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
        request->setSortDescriptors({NSSortDescriptor::sortDescriptorWithKey("name", true)});
        request->setAffectedStores(std::move(stores));
        std::vector<std::string> out;
        auto result = context->executeFetchRequest(request);
        if (!result) return out;
        for (const Value& v : *result)
            out.push_back(v.objectAs<NSManagedObject>()->valueForKey("name").stringValue());
        return out;
    };
    EXPECT_EQ(names(std::nullopt), (Strings{"Alpha", "Beta"}));
    EXPECT_EQ(names(coordinator->persistentStores()), (Strings{"Alpha", "Beta"}));
    // No store: the pending changes alone.
    EXPECT_EQ(names(std::vector<Ref<NSPersistentStore>>()), (Strings{"Beta"}));
}

}  // namespace

namespace {

TEST_F(SharedStore, AStoreOfAnotherModelIsRefusedAndLeftAsItWas) {
    storeCars({{1, "Alpha", 10}}, std::nullopt);
    const std::string bytes = fileBytes(url->path());
    Ref<NSError> error;
    // No migration asked for: refused before the journal mode would change the header.
    EXPECT_FALSE(open(kWriteAhead, &error, coredatatest::model(/*withColour=*/true)));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSPersistentStoreIncompatibleVersionHashError);
    EXPECT_EQ(fileBytes(url->path()), bytes);
    // Accepted, the store takes the journal mode asked for.
    EXPECT_TRUE(open(kWriteAhead));
    EXPECT_NE(fileBytes(url->path()), bytes);
}

}  // namespace
