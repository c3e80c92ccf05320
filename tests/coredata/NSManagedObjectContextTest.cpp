// Contexts: inserting, relating and deleting objects (inverses and delete rules), saving up a
// chain of parents, fetches that see pending changes, merging another context's save, queues
// (perform, re-entrant perform-and-wait, the main queue) and concurrent saves that keep every
// object.

#include "coredata/NSManagedObjectContext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "coredata/CoreDataErrors.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSException.h"
#include "foundation/NSThread.h"
#include "tests/coredata/CoreDataTestModel.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"

namespace {

class Contexts : public ::testing::Test {
  protected:
    Ref<NSPersistentStoreCoordinator> coordinator = make<NSPersistentStoreCoordinator>(coredatatest::model());
    Ref<NSManagedObjectContext> root = make<NSManagedObjectContext>(NSPrivateQueueConcurrencyType);

    void SetUp() override {
        ASSERT_TRUE(coordinator->addPersistentStoreWithType(NSInMemoryStoreType, std::nullopt, nullptr,
                                                            std::nullopt));
        root->setPersistentStoreCoordinator(coordinator);
    }

    Ref<NSManagedObjectContext>
    child(const Ref<NSManagedObjectContext>& parent,
          NSManagedObjectContextConcurrencyType type = NSPrivateQueueConcurrencyType) {
        auto c = make<NSManagedObjectContext>(type);
        c->setParentContext(parent);
        return c;
    }

    static Ref<NSManagedObject> car(const Ref<NSManagedObjectContext>& context, const std::string& name) {
        auto object = NSEntityDescription::insertNewObjectForEntityForName("Car", context);
        object->setValueForKey(Value(name), "name");
        return object;
    }

    static std::vector<std::string> names(const Ref<NSManagedObjectContext>& context,
                                          const std::string& entity = "Car",
                                          const std::string& key = "name") {
        std::vector<std::string> out;
        context->performBlockAndWait([&] {
            auto request = NSFetchRequest::fetchRequestWithEntityName(entity);
            request->setSortDescriptors({NSSortDescriptor::sortDescriptorWithKey(key, true)});
            auto result = context->executeFetchRequest(request);
            for (const Value& v : *result)
                out.push_back(v.objectAs<NSManagedObject>()->valueForKey(key).stringValue());
        });
        return out;
    }

    std::vector<std::string> stored(const std::string& entity = "Car", const std::string& key = "name") {
        auto fresh = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
        fresh->setPersistentStoreCoordinator(coordinator);
        return names(fresh, entity, key);
    }
};

using Strings = std::vector<std::string>;

TEST_F(Contexts, AChildSavesIntoItsParentAndTheParentIntoTheStore) {
    auto worker = child(root);
    worker->performBlockAndWait([&] {
        car(worker, "A");
        car(worker, "B");
        EXPECT_TRUE(worker->save());
    });
    EXPECT_TRUE(stored().empty());
    EXPECT_EQ(names(root), (Strings{"A", "B"}));
    root->performBlockAndWait([&] {
        EXPECT_TRUE(root->hasChanges());
        EXPECT_TRUE(root->save());
    });
    EXPECT_EQ(stored(), (Strings{"A", "B"}));
}

TEST_F(Contexts, FetchesSeePendingInsertsUpdatesAndDeletes) {
    root->performBlockAndWait([&] {
        car(root, "kept");
        car(root, "renamed");
        car(root, "removed");
        ASSERT_TRUE(root->save());
    });
    auto worker = child(root);
    worker->performBlockAndWait([&] {
        auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
        request->setPredicate(NSPredicate::predicateWithFormat("name == %@", "renamed"));
        auto renamed = (*worker->executeFetchRequest(request))[0].objectAs<NSManagedObject>();
        renamed->setValueForKey(Value("zeta"), "name");
        request->setPredicate(NSPredicate::predicateWithFormat("name == %@", "removed"));
        worker->deleteObject((*worker->executeFetchRequest(request))[0].objectAs<NSManagedObject>());
        car(worker, "new");

        EXPECT_EQ(names(worker), (Strings{"kept", "new", "zeta"}));
        request->setPredicate(NSPredicate::predicateWithFormat("name BEGINSWITH %@", "z"));
        EXPECT_EQ(worker->executeFetchRequest(request)->count(), 1u);
        request->setPredicate(NSPredicate::predicateWithFormat("name == %@", "renamed"));
        EXPECT_EQ(worker->executeFetchRequest(request)->count(), 0u);
        EXPECT_EQ(worker->countForFetchRequest(NSFetchRequest::fetchRequestWithEntityName("Car")), 3u);
        ASSERT_TRUE(worker->save());
    });
    // The parent holds the changes unsaved and sees them too.
    EXPECT_EQ(names(root), (Strings{"kept", "new", "zeta"}));
    EXPECT_EQ(stored(), (Strings{"kept", "removed", "renamed"}));
    root->performBlockAndWait([&] { ASSERT_TRUE(root->save()); });
    EXPECT_EQ(stored(), (Strings{"kept", "new", "zeta"}));
}

TEST_F(Contexts, RelationshipsKeepBothEndsAndApplyDeleteRules) {
    root->performBlockAndWait([&] {
        auto owner = NSEntityDescription::insertNewObjectForEntityForName("Owner", root);
        auto a = car(root, "a"), b = car(root, "b");
        a->setValueForKey(owner, "owner");
        owner->addObjectToRelationship(b, "cars");
        EXPECT_EQ(b->valueForKey("owner").objectAs<NSManagedObject>(), owner);
        EXPECT_EQ(owner->valueForKey("cars").array()->count(), 2u);

        // Moving a car to another owner takes it from the first.
        auto other = NSEntityDescription::insertNewObjectForEntityForName("Owner", root);
        other->addObjectToRelationship(a, "cars");
        EXPECT_EQ(owner->valueForKey("cars").array()->count(), 1u);
        EXPECT_EQ(a->valueForKey("owner").objectAs<NSManagedObject>(), other);

        auto part = NSEntityDescription::insertNewObjectForEntityForName("Part", root);
        part->setValueForKey(b, "car");
        ASSERT_TRUE(root->save());

        // Deleting the owner cascades to its car; the car's part is nullified.
        root->deleteObject(owner);
        EXPECT_TRUE(b->isDeleted());
        EXPECT_FALSE(part->valueForKey("car").isSomething());
        ASSERT_TRUE(root->save());
    });
    EXPECT_EQ(stored(), (Strings{"a"}));
    EXPECT_EQ(stored("Part", "label").size(), 1u);
}

TEST_F(Contexts, ADenyRuleStopsTheSaveAndKeepsTheChanges) {
    root->performBlockAndWait([&] {
        auto garage = NSEntityDescription::insertNewObjectForEntityForName("Garage", root);
        garage->addObjectToRelationship(car(root, "parked"), "cars");
        ASSERT_TRUE(root->save());
        root->deleteObject(garage);
        Ref<NSError> error;
        EXPECT_FALSE(root->save(&error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), NSValidationRelationshipDeniedDeleteError);
        EXPECT_TRUE(root->hasChanges());
    });
    EXPECT_EQ(stored("Garage", "city").size(), 1u);
}

TEST_F(Contexts, UnknownKeysAndForeignObjectsAreRefused) {
    auto other = child(root);
    root->performBlockAndWait([&] {
        auto a = car(root, "a");
        EXPECT_THROW(a->setValueForKey(Value(1), "wings"), NSException);
        EXPECT_FALSE(a->valueForKey("wings").isSomething());
        Ref<NSManagedObject> foreign;
        other->performBlockAndWait(
            [&] { foreign = NSEntityDescription::insertNewObjectForEntityForName("Owner", other); });
        EXPECT_THROW(a->setValueForKey(foreign, "owner"), NSException);
        EXPECT_THROW(a->setValueForKey(a, "owner"), NSException);
    });
}

TEST_F(Contexts, ModelledAccessorsAnswerByName) {
    root->performBlockAndWait([&] {
        auto owner = NSEntityDescription::insertNewObjectForEntityForName("Owner", root);
        auto a = car(root, "a");
        EXPECT_TRUE(owner->respondsToSelector("addCarsObject:"));
        EXPECT_TRUE(owner->respondsToSelector("carsSet"));
        EXPECT_TRUE(a->respondsToSelector("setOwner:"));
        EXPECT_FALSE(a->respondsToSelector("addOwnerObject:"));
        EXPECT_FALSE(a->respondsToSelector("fly:"));
        owner->performSelector("addCarsObject:", a);
        EXPECT_EQ(a->valueForKey("owner").objectAs<NSManagedObject>(), owner);
        auto set = owner->performSelector("carsSet").objectAs<NSRelationshipMutableSet>();
        ASSERT_TRUE(set);
        set->addObject(car(root, "b"));
        EXPECT_EQ(set->count(), 2u);
        a->performSelector("setName:", Value("renamed"));
        EXPECT_EQ(a->performSelector("name"), Value("renamed"));
        EXPECT_THROW(a->performSelector("fly:"), NSException);
    });
}

TEST_F(Contexts, MergingADidSaveRefreshesObjectsAndKeepsLocalChanges) {
    auto main = child(root, NSMainQueueConcurrencyType);
    Ref<NSManagedObject> seen;
    root->performBlockAndWait([&] {
        auto a = car(root, "a");
        a->setValueForKey(Value(1.0), "price");
        ASSERT_TRUE(root->save());
    });
    auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
    seen = (*main->executeFetchRequest(request))[0].objectAs<NSManagedObject>();
    seen->setValueForKey(Value(1999), "year");  // a local change the merge keeps

    auto observer = NSNotificationCenter::defaultCenter()->addObserverForName(
        NSManagedObjectContextDidSaveNotification, root, nullptr,
        [&](const Ref<NSNotification>& n) { main->mergeChangesFromContextDidSaveNotification(n); });
    auto worker = child(root);
    worker->performBlockAndWait([&] {
        auto mine = (*worker->executeFetchRequest(request))[0].objectAs<NSManagedObject>();
        mine->setValueForKey(Value(2.0), "price");
        mine->setValueForKey(Value("b"), "name");
        ASSERT_TRUE(worker->save());
    });
    EXPECT_EQ(seen->valueForKey("price"), Value(1.0));  // not merged yet: the root has not saved
    root->performBlockAndWait([&] { ASSERT_TRUE(root->save()); });
    NSNotificationCenter::defaultCenter()->removeObserver(observer.get());
    EXPECT_EQ(seen->valueForKey("price"), Value(2.0));
    EXPECT_EQ(seen->valueForKey("name"), Value("b"));
    EXPECT_EQ(seen->valueForKey("year"), Value(1999));
    EXPECT_TRUE(seen->isUpdated());
}

TEST_F(Contexts, MergingADeletionForgetsTheObject) {
    auto viewer = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
    viewer->setPersistentStoreCoordinator(coordinator);
    root->performBlockAndWait([&] {
        car(root, "gone");
        ASSERT_TRUE(root->save());
    });
    auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
    auto seen = (*viewer->executeFetchRequest(request))[0].objectAs<NSManagedObject>();
    Ref<NSNotification> saved;
    auto observer = NSNotificationCenter::defaultCenter()->addObserverForName(
        NSManagedObjectContextDidSaveNotification, root, nullptr,
        [&](const Ref<NSNotification>& n) { saved = n; });
    root->performBlockAndWait([&] {
        root->deleteObject((*root->executeFetchRequest(request))[0].objectAs<NSManagedObject>());
        ASSERT_TRUE(root->save());
    });
    NSNotificationCenter::defaultCenter()->removeObserver(observer.get());
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->userInfoValue(NSDeletedObjectsKey).array()->count(), 1u);
    viewer->mergeChangesFromContextDidSaveNotification(saved);
    EXPECT_TRUE(seen->isDeleted());
    EXPECT_EQ(viewer->executeFetchRequest(request)->count(), 0u);
    EXPECT_FALSE(viewer->existingObjectWithID(seen->objectID()));
}

TEST_F(Contexts, PerformAndWaitIsReentrantAndPerformRunsOnTheContextsQueue) {
    bool inner = false;
    root->performBlockAndWait([&] { root->performBlockAndWait([&] { inner = true; }); });
    EXPECT_TRUE(inner);

    std::atomic<bool> ran{false};
    std::atomic<bool> onMain{true};
    root->performBlock([&] {
        onMain = NSThread::isMainThread();
        ran = true;
    });
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return ran.load(); }));
    EXPECT_FALSE(onMain.load());

    auto main = child(root, NSMainQueueConcurrencyType);
    bool mainRan = false;
    main->performBlock([&] { mainRan = NSThread::isMainThread(); });
    EXPECT_FALSE(mainRan);
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return mainRan; }));
    // From another thread, perform-and-wait on a main-queue context waits for the main thread.
    std::atomic<bool> waited{false};
    std::thread other([&] { main->performBlockAndWait([&] { waited = NSThread::isMainThread(); }); });
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return waited.load(); }));
    other.join();
}

TEST_F(Contexts, ConcurrentSavesFromPrivateContextsKeepEveryObject) {
    constexpr int kWorkers = 6, kEach = 40;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int w = 0; w < kWorkers; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < kEach; ++i) {
                auto worker = child(root);
                worker->performBlockAndWait([&] {
                    auto object = NSEntityDescription::insertNewObjectForEntityForName("Car", worker);
                    object->setValueForKey(Value(static_cast<long long>(w * 1000 + i)), "carID");
                    if (!worker->save()) ++failures;
                });
                if (i % 10 == 9) {
                    root->performBlockAndWait([&] {
                        if (!root->save()) ++failures;
                    });
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    root->performBlockAndWait([&] { EXPECT_TRUE(root->save()); });
    EXPECT_EQ(failures.load(), 0);
    auto ids = stored("Car", "carID");
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(kWorkers * kEach));
    std::set<std::string> distinct(ids.begin(), ids.end());
    EXPECT_EQ(distinct.size(), ids.size());
}

TEST_F(Contexts, EqualityFetchesFollowValuesAsTheyChange) {
    auto worker = child(root);
    auto byID = [&](const Ref<NSManagedObjectContext>& c, long long id) {
        auto request = NSFetchRequest::fetchRequestWithEntityName("Car");
        request->setPredicate(NSPredicate::predicateWithFormat("carID == %@", id));
        std::vector<std::string> out;
        Ref<NSError> error;
        auto result = c->executeFetchRequest(request, &error);
        EXPECT_TRUE(result) << (error ? error->localizedDescription() : "");
        if (!result) return std::vector<std::string>{"?"};
        for (const Value& v : *result)
            out.push_back(v.objectAs<NSManagedObject>()->valueForKey("name").stringValue());
        return out;
    };
    root->performBlockAndWait([&] {
        car(root, "stored")->setValueForKey(Value(1LL), "carID");
        ASSERT_TRUE(root->save());
        car(root, "parent")->setValueForKey(Value(2LL), "carID");
    });
    worker->performBlockAndWait([&] {
        EXPECT_EQ(byID(worker, 1), (Strings{"stored"}));  // the index is made here
        auto a = car(worker, "a");
        a->setValueForKey(Value(3LL), "carID");
        EXPECT_EQ(byID(worker, 3), (Strings{"a"}));
        a->setValueForKey(Value(4LL), "carID");
        EXPECT_TRUE(byID(worker, 3).empty());
        EXPECT_EQ(byID(worker, 4), (Strings{"a"}));
        EXPECT_EQ(byID(worker, 2), (Strings{"parent"}));
        auto stored = worker->executeFetchRequest(NSFetchRequest::fetchRequestWithEntityName("Car"));
        for (const Value& v : *stored) {
            auto o = v.objectAs<NSManagedObject>();
            if (o->valueForKey("name") == Value("stored")) o->setValueForKey(Value(5LL), "carID");
        }
        EXPECT_TRUE(byID(worker, 1).empty());
        EXPECT_EQ(byID(worker, 5), (Strings{"stored"}));
        worker->deleteObject(a);
        EXPECT_TRUE(byID(worker, 4).empty());
        ASSERT_TRUE(worker->save());
        EXPECT_EQ(byID(worker, 5), (Strings{"stored"}));
    });
    root->performBlockAndWait([&] {
        EXPECT_EQ(byID(root, 5), (Strings{"stored"}));
        EXPECT_TRUE(byID(root, 4).empty());
    });
}

TEST_F(Contexts, ExistingObjectWithIDReportsMissingObjects) {
    root->performBlockAndWait([&] {
        auto a = car(root, "a");
        ASSERT_TRUE(root->save());
        auto id = a->objectID();
        root->deleteObject(a);
        ASSERT_TRUE(root->save());
        Ref<NSError> error;
        EXPECT_FALSE(root->existingObjectWithID(id, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), NSManagedObjectReferentialIntegrityError);
    });
}

TEST_F(Contexts, ResetForgetsEverythingAndRefreshDropsChanges) {
    root->performBlockAndWait([&] {
        auto a = car(root, "a");
        ASSERT_TRUE(root->save());
        a->setValueForKey(Value("changed"), "name");
        EXPECT_TRUE(root->hasChanges());
        root->refreshObject(a, false);
        EXPECT_FALSE(root->hasChanges());
        EXPECT_EQ(a->valueForKey("name"), Value("a"));
        car(root, "b");
        root->reset();
        EXPECT_FALSE(root->hasChanges());
        EXPECT_TRUE(root->registeredObjects().empty());
    });
    EXPECT_EQ(stored(), (Strings{"a"}));
}

}  // namespace
