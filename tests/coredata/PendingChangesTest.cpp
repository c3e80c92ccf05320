// Pending changes at the edges of how they are kept: equality look-ups among many objects of one
// value and after a push into the parent, fetches through a long chain of contexts, changes of an
// entity with more than 64 properties, and store writes of to-one relationships that are unset.

#include <gtest/gtest.h>

#include "coredata/NSManagedObjectContext.h"
#include "tests/coredata/CoreDataTestModel.h"
#include "tests/support/TestSupport.h"

namespace {

using Strings = std::vector<std::string>;

Ref<NSPersistentStoreCoordinator> memoryCoordinator(const Ref<NSManagedObjectModel>& model) {
    auto coordinator = make<NSPersistentStoreCoordinator>(model);
    EXPECT_TRUE(
        coordinator->addPersistentStoreWithType(NSInMemoryStoreType, std::nullopt, nullptr, std::nullopt));
    return coordinator;
}

Ref<NSManagedObjectContext> contextOn(const Ref<NSPersistentStoreCoordinator>& coordinator) {
    auto context = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
    context->setPersistentStoreCoordinator(coordinator);
    return context;
}

Ref<NSManagedObjectContext> childOf(const Ref<NSManagedObjectContext>& parent) {
    auto context = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
    context->setParentContext(parent);
    return context;
}

Ref<NSManagedObject> insertCar(const Ref<NSManagedObjectContext>& context, const std::string& name,
                               Value id) {
    auto car = NSEntityDescription::insertNewObjectForEntityForName("Car", context);
    car->setValueForKey(Value(name), "name");
    car->setValueForKey(id, "carID");
    return car;
}

// The names of the cars whose `key` equals the value, sorted.
Strings carsWhere(const Ref<NSManagedObjectContext>& context, const std::string& key, const Value& value) {
    auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
    request->setPredicate(NSPredicate::predicateWithFormat("%K == %@", key, value));
    Ref<NSError> error;
    auto result = context->executeFetchRequest(request, &error);
    EXPECT_TRUE(result) << (error ? error->localizedDescription() : "");
    Strings out;
    if (!result) return out;
    for (const Value& v : *result)
        out.push_back(v.objectAs<NSManagedObject>()->valueForKey("name").stringValue());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(PendingChanges, EqualityLookUpsFindEveryObjectAmongManyOfOneValue) {
    auto root = contextOn(memoryCoordinator(coredatatest::model()));
    EXPECT_TRUE(carsWhere(root, "carID", Value(1LL)).empty());  // the index starts empty
    // Thousands of cars, most sharing one identifier and every one first indexed without a name.
    for (int i = 0; i < 3000; ++i) insertCar(root, "car " + std::to_string(i), Value(i % 10 == 0 ? i : 7));
    EXPECT_EQ(carsWhere(root, "carID", Value(7LL)).size(), 2700u);
    EXPECT_EQ(carsWhere(root, "carID", Value(2990LL)), (Strings{"car 2990"}));
    EXPECT_TRUE(carsWhere(root, "carID", Value(3LL)).empty());
    // Numbers that differ only in their high bits stay apart.
    for (double price : {1.0, 2.0, 4.0, 0.5, 1024.0}) {
        auto car = insertCar(root, "priced " + std::to_string(price), Value(99LL));
        car->setValueForKey(Value(price), "price");
    }
    for (double price : {1.0, 2.0, 4.0, 0.5, 1024.0})
        EXPECT_EQ(carsWhere(root, "price", Value(price)), (Strings{"priced " + std::to_string(price)}));
    EXPECT_TRUE(carsWhere(root, "price", Value(8.0)).empty());
}

TEST(PendingChanges, LookUpsSeeObjectsPushedIntoTheParentWhetherOrNotItKeptItsIndex) {
    auto root = contextOn(memoryCoordinator(coredatatest::model()));
    insertCar(root, "root's", Value(1LL));
    auto worker = childOf(root);
    EXPECT_EQ(carsWhere(worker, "carID", Value(1LL)), (Strings{"root's"}));  // indexes in both
    // A push larger than what the parent had pending: the parent's index goes and comes back.
    for (long long id = 10; id < 20; ++id) insertCar(worker, "pushed " + std::to_string(id), Value(id));
    ASSERT_TRUE(worker->save());
    auto reader = childOf(root);
    EXPECT_EQ(carsWhere(reader, "carID", Value(15LL)), (Strings{"pushed 15"}));
    EXPECT_EQ(carsWhere(reader, "carID", Value(1LL)), (Strings{"root's"}));
    // A smaller push: the parent keeps its index up to date.
    insertCar(worker, "late", Value(30LL));
    ASSERT_TRUE(worker->save());
    EXPECT_EQ(carsWhere(reader, "carID", Value(30LL)), (Strings{"late"}));
    // Values changed in the parent after the push are followed.
    auto inRoot = root->executeFetchRequest(NSFetchRequest::fetchRequestWithEntityName("Car"));
    ASSERT_TRUE(inRoot);
    for (const Value& v : *inRoot) {
        auto car = v.objectAs<NSManagedObject>();
        if (car->valueForKey("name") == Value("pushed 12")) car->setValueForKey(Value(40LL), "carID");
    }
    EXPECT_TRUE(carsWhere(reader, "carID", Value(12LL)).empty());
    EXPECT_EQ(carsWhere(reader, "carID", Value(40LL)), (Strings{"pushed 12"}));
    ASSERT_TRUE(root->save());
    EXPECT_EQ(carsWhere(contextOn(root->persistentStoreCoordinator()), "carID", Value(40LL)),
              (Strings{"pushed 12"}));
}

TEST(PendingChanges, FetchesThroughALongChainSeeTheChangesOfEveryContextInIt) {
    auto root = contextOn(memoryCoordinator(coredatatest::model()));
    insertCar(root, "at the root", Value(1LL));
    std::vector<Ref<NSManagedObjectContext>> chain{root};
    for (int depth = 1; depth <= 11; ++depth) {
        chain.push_back(childOf(chain.back()));
        insertCar(chain.back(), "at " + std::to_string(depth), Value(static_cast<long long>(depth)));
    }
    auto& deepest = chain.back();
    auto all = deepest->executeFetchRequest(NSFetchRequest::fetchRequestWithEntityName("Car"));
    ASSERT_TRUE(all);
    EXPECT_EQ(all->count(), 12u);
    EXPECT_EQ(carsWhere(deepest, "carID", Value(1LL)), (Strings{"at 1", "at the root"}));
    EXPECT_EQ(carsWhere(deepest, "carID", Value(11LL)), (Strings{"at 11"}));
    EXPECT_EQ(carsWhere(chain[4], "carID", Value(11LL)), Strings{});
}

// An entity of 70 attributes, "a0" to "a69".
Ref<NSManagedObjectModel> wideModel() {
    std::string attributes;
    for (int i = 0; i < 70; ++i)
        attributes += (i ? ", " : "") + std::string(R"({"name": "a)") + std::to_string(i) +
                      R"(", "type": "integer64"})";
    return NSManagedObjectModel::modelWithData(
        NSData::fromString(R"({"entities": [{"name": "Wide", "attributes": [)" + attributes + "]}]}"));
}

TEST(PendingChanges, ChangesPastTheSixtyFourthPropertyAreTrackedAndWrittenAlone) {
    testsupport::TemporaryDirectory dir;
    auto url = NSURL::fileURLWithPath(dir.file("Wide.sqlite"));
    auto open = [&] {
        auto coordinator = make<NSPersistentStoreCoordinator>(wideModel());
        EXPECT_TRUE(
            coordinator->addPersistentStoreWithType(NSSQLiteStoreType, std::nullopt, url, std::nullopt));
        return coordinator;
    };
    auto coordinator = open();
    auto writer = contextOn(coordinator);
    auto wide = NSEntityDescription::insertNewObjectForEntityForName("Wide", writer);
    for (int i = 0; i < 70; ++i) wide->setValueForKey(Value(0LL), "a" + std::to_string(i));
    ASSERT_TRUE(writer->save());
    auto fetchOne = [](const Ref<NSManagedObjectContext>& context) {
        auto result = context->executeFetchRequest(NSFetchRequest::fetchRequestWithEntityName("Wide"));
        return result && result->count() == 1 ? (*result)[0].objectAs<NSManagedObject>() : nullptr;
    };
    auto a = contextOn(coordinator), b = contextOn(coordinator);
    auto inA = fetchOne(a), inB = fetchOne(b);
    ASSERT_TRUE(inA && inB);
    inA->setValueForKey(Value(65LL), "a65");
    inB->setValueForKey(Value(2LL), "a2");
    inB->setValueForKey(Value(69LL), "a69");
    auto changed = inB->changedValues();
    EXPECT_EQ(changed.count(), 2u);
    EXPECT_EQ(changed["a69"], Value(69LL));
    EXPECT_TRUE(changed["a65"].isNil());
    ASSERT_TRUE(a->save());
    ASSERT_TRUE(b->save());
    auto stored = fetchOne(contextOn(open()));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->valueForKey("a65"), Value(65LL));  // B wrote only what it changed
    EXPECT_EQ(stored->valueForKey("a2"), Value(2LL));
    EXPECT_EQ(stored->valueForKey("a69"), Value(69LL));
    EXPECT_EQ(stored->valueForKey("a64"), Value(0LL));
}

TEST(PendingChanges, OneSaveWritesAnUnsetToOneAsNothingAfterOneThatIsSet) {
    testsupport::TemporaryDirectory dir;
    auto url = NSURL::fileURLWithPath(dir.file("Owners.sqlite"));
    auto open = [&] {
        auto coordinator = make<NSPersistentStoreCoordinator>(coredatatest::model());
        EXPECT_TRUE(
            coordinator->addPersistentStoreWithType(NSSQLiteStoreType, std::nullopt, url, std::nullopt));
        return coordinator;
    };
    auto context = contextOn(open());
    auto owner = NSEntityDescription::insertNewObjectForEntityForName("Owner", context);
    ASSERT_TRUE(context->save());
    // Both cars go through one statement: the second must not keep the first one's owner.
    insertCar(context, "owned", Value(1LL))->setValueForKey(owner, "owner");
    insertCar(context, "free", Value(2LL));
    ASSERT_TRUE(context->save());
    auto reader = contextOn(open());
    auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
    request->setSortDescriptors({NSSortDescriptor::sortDescriptorWithKey("carID", true)});
    auto cars = reader->executeFetchRequest(request);
    ASSERT_TRUE(cars && cars->count() == 2);
    EXPECT_TRUE((*cars)[0].objectAs<NSManagedObject>()->valueForKey("owner").isSomething());
    EXPECT_TRUE((*cars)[1].objectAs<NSManagedObject>()->valueForKey("owner").isNil());
}

}  // namespace
