// Contexts and saves of the default stack: saving up the chain with and without waiting, the
// completions on the main queue, saves without changes, the save actions, thread contexts, and a
// background save reaching the default context on the main thread.

#include "data/NSManagedObjectContext+DataRecord.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "data/NSManagedObject+DataRecord.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSThread.h"
#include "tests/data/DataTestSupport.h"

namespace {

using datatest::carClass;
using datatest::DataStack;
using namespace NSManagedObjectContext_DataSaves;

class Saves : public DataStack {
  protected:
    void SetUp() override {
        DataStack::SetUp();
        DataRecord_Setup::setupCoreDataStackWithStoreNamed("Garage.sqlite");
        ASSERT_TRUE(defaultContext());
    }

    // What a fresh context on the coordinator reads from the store.
    std::size_t storedCars() {
        auto fresh = NSManagedObjectContext_DataRecord::DR_contextWithStoreCoordinator(
            NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator());
        return NSManagedObject_DataAggregation::DR_countOfEntitiesWithContext(carClass(), fresh);
    }

    static Ref<NSManagedObject> car(const Ref<NSManagedObjectContext>& context, const std::string& name) {
        Ref<NSManagedObject> object;
        context->performBlockAndWait([&] {
            object = NSManagedObject_DataRecord::DR_createEntityInContext(carClass(), context);
            object->setValueForKey(Value(name), "name");
        });
        return object;
    }
};

TEST_F(Saves, SaveToPersistentStoreAndWaitSavesEveryLevelBeforeReturning) {
    auto child = NSManagedObjectContext_DataRecord::DR_contextWithParent(
        NSManagedObjectContext_DataRecord::DR_rootSavingContext());
    car(child, "a");
    DR_saveToPersistentStoreAndWait(child);
    EXPECT_EQ(storedCars(), 1u);
    car(defaultContext(), "b");
    DR_saveToPersistentStoreAndWait(defaultContext());
    EXPECT_EQ(storedCars(), 2u);
}

TEST_F(Saves, CompletionsRunOnTheMainQueueWithTheResult) {
    car(defaultContext(), "a");
    std::atomic<int> calls{0};
    bool saved = false, onMain = false;
    DR_saveToPersistentStoreWithCompletion(defaultContext(), [&](bool s, const Ref<NSError>& e) {
        saved = s && !e;
        onMain = NSThread::isMainThread();
        ++calls;
    });
    EXPECT_EQ(calls.load(), 0);  // never inline
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return calls.load() == 1; }));
    EXPECT_TRUE(saved);
    EXPECT_TRUE(onMain);
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_EQ(calls.load(), 1);  // once, where the chain ends
    EXPECT_EQ(storedCars(), 1u);

    // Nothing to save: NO and no error, on the main queue, parents untouched.
    bool noChanges = true;
    Ref<NSError> error = NSError::errorWithDomain("x", 1);
    DR_saveToPersistentStoreWithCompletion(defaultContext(), [&](bool s, const Ref<NSError>& e) {
        noChanges = s;
        error = e;
        ++calls;
    });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return calls.load() == 2; }));
    EXPECT_FALSE(noChanges);
    EXPECT_FALSE(error);
}

TEST_F(Saves, SynchronousExceptRootWaitsForTheChildOnly) {
    auto root = NSManagedObjectContext_DataRecord::DR_rootSavingContext();
    auto child = NSManagedObjectContext_DataRecord::DR_contextWithParent(root);
    car(child, "a");
    std::atomic<bool> done{false};
    DR_saveWithOptions(child, DRSaveParentContexts | DRSaveSynchronouslyExceptRootContext,
                       [&](bool saved, const Ref<NSError>&) { done = saved; });
    EXPECT_FALSE(child->hasChanges());
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return done.load(); }));
    EXPECT_EQ(storedCars(), 1u);
}

TEST_F(Saves, TheDeprecatedErrorHandlerIsNotCalledOnSuccess) {
    car(defaultContext(), "a");
    int errors = 0, completions = 0;
    NSManagedObjectContext_DataSavesDeprecated::DR_saveInBackgroundErrorHandlerCompletion(
        defaultContext(), [&](const Ref<NSError>&) { ++errors; }, nullptr);
    car(defaultContext(), "b");
    NSManagedObjectContext_DataSavesDeprecated::DR_saveNestedContextsErrorHandlerCompletion(
        defaultContext(), [&](const Ref<NSError>&) { ++errors; }, [&] { ++completions; });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return completions == 1; }));
    testsupport::pumpMainRunLoop(0.05);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(storedCars(), 2u);
}

TEST_F(Saves, SaveActionsWorkInAChildOfTheRoot) {
    DataRecord_Actions::saveWithBlockAndWait([](const Ref<NSManagedObjectContext>& local) {
        EXPECT_EQ(NSManagedObjectContext_DataRecord::DR_workingName(local), "saveWithBlockAndWait:");
        EXPECT_EQ(local->parentContext(), NSManagedObjectContext_DataRecord::DR_rootSavingContext());
        NSManagedObject_DataRecord::DR_createEntityInContext(carClass(), local);
    });
    EXPECT_EQ(storedCars(), 1u);

    bool finished = false;
    DataRecord_Actions::saveWithBlock(
        [](const Ref<NSManagedObjectContext>& local) {
            NSManagedObject_DataRecord::DR_createEntityInContext(carClass(), local);
        },
        [&](bool saved, const Ref<NSError>&) { finished = saved; });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return finished; }));
    EXPECT_EQ(storedCars(), 2u);

    NSManagedObjectContext_DataRecord_ChainSave::DR_saveWithBlockAndWait(
        defaultContext(), [](const Ref<NSManagedObjectContext>& local) {
            NSManagedObject_DataRecord::DR_createEntityInContext(carClass(), local);
        });
    EXPECT_EQ(storedCars(), 3u);
}

TEST_F(Saves, BackgroundSavesReachTheDefaultContextOnTheMainThread) {
    auto seen = car(defaultContext(), "before");
    DR_saveToPersistentStoreAndWait(defaultContext());
    auto id = seen->objectID();
    EXPECT_FALSE(id->isTemporaryID());

    std::thread worker([&] {
        DataRecord_Actions::saveWithBlockAndWait([&](const Ref<NSManagedObjectContext>& local) {
            local->existingObjectWithID(id)->setValueForKey(Value("after"), "name");
        });
    });
    worker.join();
    ASSERT_TRUE(
        testsupport::pumpMainRunLoopUntil([&] { return seen->valueForKey("name") == Value("after"); }));
}

TEST_F(Saves, ThreadContextsAreCachedPerThreadUntilTheGenerationChanges) {
    EXPECT_EQ(NSManagedObjectContext_DataThreading::DR_contextForCurrentThread(), defaultContext());
    Ref<NSManagedObjectContext> first, again, afterClear;
    std::thread([&] {
        first = NSManagedObjectContext_DataThreading::DR_contextForCurrentThread();
        again = NSManagedObjectContext_DataThreading::DR_contextForCurrentThread();
        NSManagedObjectContext_DataThreading::DR_clearNonMainThreadContextsCache();
        afterClear = NSManagedObjectContext_DataThreading::DR_contextForCurrentThread();
    }).join();
    ASSERT_TRUE(first);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, afterClear);
    EXPECT_EQ(afterClear->parentContext(), defaultContext());
}

TEST_F(Saves, DescriptionsNameTheContextsAndTheirChain) {
    auto child = NSManagedObjectContext_DataRecord::DR_contextWithParent(defaultContext());
    EXPECT_EQ(NSManagedObjectContext_DataRecord::DR_workingName(child), "Untitled Context");
    NSManagedObjectContext_DataRecord::DR_setWorkingName(child, "");
    EXPECT_EQ(NSManagedObjectContext_DataRecord::DR_workingName(child), "Untitled Context");
    std::string description = NSManagedObjectContext_DataRecord::DR_description(defaultContext());
    EXPECT_NE(description.find("DataRecord Default Context> on the main thread"), std::string::npos);
    std::string chain = NSManagedObjectContext_DataRecord::DR_parentChain(child);
    EXPECT_EQ(chain.rfind("\n- Untitled Context (", 0), 0u);
    EXPECT_NE(chain.find(") (*)\n- DataRecord Default Context ("), std::string::npos);
}

TEST_F(Saves, ObservedContextsMergeEachOthersSaves) {
    auto coordinator = NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator();
    auto a = NSManagedObjectContext_DataRecord::DR_contextWithStoreCoordinator(coordinator);
    auto b = NSManagedObjectContext_DataRecord::DR_contextWithStoreCoordinator(coordinator);
    auto object = car(a, "one");
    DR_saveOnlySelfAndWait(a);
    Ref<NSManagedObject> inB;
    b->performBlockAndWait([&] { inB = b->existingObjectWithID(object->objectID()); });
    ASSERT_TRUE(inB);
    NSManagedObjectContext_DataObserving::DR_observeContext(b, a);
    a->performBlockAndWait([&] { object->setValueForKey(Value("two"), "name"); });
    DR_saveOnlySelfAndWait(a);
    b->performBlockAndWait([&] { EXPECT_EQ(inB->valueForKey("name"), Value("two")); });
    NSManagedObjectContext_DataObserving::DR_stopObservingContext(b, a);
    a->performBlockAndWait([&] { object->setValueForKey(Value("three"), "name"); });
    DR_saveOnlySelfAndWait(a);
    b->performBlockAndWait([&] { EXPECT_EQ(inB->valueForKey("name"), Value("two")); });
}

}  // namespace

namespace {

TEST_F(Saves, AConfinementContextSavesAtOnceWhateverTheOptions) {
    auto confined = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
    confined->setParentContext(defaultContext());
    NSManagedObject_DataRecord::DR_createEntityInContext(carClass(), confined);
    bool saved = false;
    DR_saveOnlySelfWithCompletion(confined, [&](bool s, const Ref<NSError>&) { saved = s; });
    EXPECT_FALSE(confined->hasChanges());
    EXPECT_TRUE(defaultContext()->hasChanges());
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return saved; }));
}

TEST_F(DataStack, AnAutoMigratingStoreThatCannotBeAddedIsTriedOnceMoreHalfASecondLater) {
    testsupport::ManualClock clock;
    const std::string path = sandbox.file("Retry.sqlite");
    std::ofstream(path) << std::string(4096, 'x');
    auto coordinator =
        NSPersistentStoreCoordinator_DataRecord::DR_coordinatorWithAutoMigratingSqliteStoreAtURL(
            NSURL::fileURLWithPath(path));
    EXPECT_TRUE(coordinator->persistentStores().empty());
    EXPECT_TRUE(loggedContaining("Error Domain: NSCocoaErrorDomain"));
    std::filesystem::remove(path);
    clock.advance(0.4);
    EXPECT_TRUE(coordinator->persistentStores().empty());
    clock.advance(0.2);
    EXPECT_EQ(coordinator->persistentStores().size(), 1u);
}

}  // namespace
