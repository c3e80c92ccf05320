// The default stack: store names and places, set-up and tear-down, the error channel and its
// logging, and recovery from a model mismatch.

#include "data/DataRecord.h"

#include <filesystem>

#include "coredata/CoreDataErrors.h"
#include "data/DataRecord+iCloud.h"
#include "data/NSManagedObject+DataRecord.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSThread.h"
#include "tests/data/DataTestSupport.h"

namespace {

using datatest::DataStack;

TEST_F(DataStack, TheStoreIsNamedAfterTheBundle) {
    const std::pair<Value, std::string> cases[] = {{Value("Garage"), "Garage.sqlite"},
                                                   {Value("Garage.sqlite"), "Garage.sqlite"},
                                                   {Value("Garagesqlite"), "Garagesqlite"},
                                                   {Value(), "CoreDataStore.sqlite"}};
    for (const auto& [bundleName, expected] : cases) {
        NSBundle::setInfoValue("CFBundleName", bundleName);
        EXPECT_EQ(DataRecord::defaultStoreName(), expected);
    }
    NSBundle::setInfoValue("CFBundleName", "Garage");
    EXPECT_EQ(NSPersistentStore_DataRecord::DR_urlForStoreName("x.sqlite")->path(),
              NSSandbox::applicationSupportPath() + "/Garage/x.sqlite");
    EXPECT_EQ(NSPersistentStore_DataRecord::DR_defaultLocalStoreUrl()->lastPathComponent(),
              "CoreDataStore.sqlite");
    EXPECT_EQ(NSPersistentStore_DataRecord::DR_applicationDocumentsDirectory(), NSSandbox::documentsPath());
    EXPECT_EQ(DataRecord::version(), 230u);
}

TEST_F(DataStack, SetUpBuildsTheStackOnceAndCleanUpTakesItDown) {
    DataRecord_Setup::setupAutoMigratingCoreDataStack();
    auto coordinator = NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator();
    ASSERT_TRUE(coordinator);
    ASSERT_EQ(coordinator->persistentStores().size(), 1u);
    EXPECT_EQ(NSPersistentStore_DataRecord::DR_defaultPersistentStore(),
              coordinator->persistentStores().front());
    EXPECT_TRUE(std::filesystem::exists(NSSandbox::applicationSupportPath() + "/Garage/Garage.sqlite"));
    auto context = defaultContext();
    ASSERT_TRUE(context);
    EXPECT_EQ(context->concurrencyType(), NSMainQueueConcurrencyType);
    auto root = NSManagedObjectContext_DataRecord::DR_rootSavingContext();
    EXPECT_EQ(context->parentContext(), root);
    EXPECT_EQ(root->persistentStoreCoordinator(), coordinator);
    EXPECT_EQ(NSManagedObjectContext_DataRecord::DR_workingName(context), "DataRecord Default Context");
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] {
        return NSManagedObjectContext_DataRecord::DR_workingName(root) == "DataRecord Root Saving Context";
    }));
    EXPECT_EQ(root->mergePolicy(), NSMergeByPropertyObjectTrumpMergePolicy);

    DataRecord_Setup::setupCoreDataStackWithInMemoryStore();
    EXPECT_EQ(NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator(), coordinator);
    EXPECT_EQ(defaultContext(), context);
    std::string stack = DataRecord::currentStack();
    EXPECT_EQ(stack.rfind("Current Default Core Data Stack: ---- \n", 0), 0u);
    EXPECT_NE(stack.find("Context Chain:   \n\n- DataRecord Default Context"), std::string::npos);

    bool announced = false;
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        kDataRecordCleanedUpNotification, nullptr, nullptr,
        [&](const Ref<NSNotification>&) { announced = true; });
    DataRecord::cleanUp();
    NSNotificationCenter::defaultCenter()->removeObserver(token.get());
    EXPECT_TRUE(announced);
    EXPECT_FALSE(defaultContext());
    EXPECT_FALSE(NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator());
    EXPECT_FALSE(NSPersistentStore_DataRecord::DR_defaultPersistentStore());
}

TEST_F(DataStack, AnAutoCreatedCoordinatorMakesSetUpDoNothing) {
    DataRecord::setShouldAutoCreateDefaultPersistentStoreCoordinator(true);
    DataRecord_Setup::setupCoreDataStackWithStoreNamed("Other.sqlite");
    EXPECT_TRUE(NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator());
    EXPECT_FALSE(defaultContext());
    EXPECT_FALSE(std::filesystem::exists(NSSandbox::applicationSupportPath() + "/Garage/Other.sqlite"));
}

TEST_F(DataStack, ErrorsGoToTheTargetWhileItLivesAndAreLoggedOtherwise) {
    auto target = make<NSObject>();
    std::vector<long> received;
    DataRecord::setErrorHandlerTarget(
        target, [&](NSObject&, const Ref<NSError>& e) { received.push_back(e->code()); });
    DataRecord::handleErrors(NSError::errorWithDomain("D", 7));
    DataRecord::handleErrors(nullptr);
    EXPECT_EQ(received, (std::vector<long>{7}));
    EXPECT_TRUE(logged.empty());

    DataRecord::setLoggingLevel(0);
    DataRecord::handleErrors(NSError::errorWithDomain("D", 8));
    EXPECT_EQ(received.size(), 2u);

    target.reset();
    DataRecord::handleErrors(NSError::errorWithDomain("D", 9));
    EXPECT_TRUE(logged.empty());  // level 0 writes nothing, not even errors
    DataRecord::setLoggingLevel(DataRecordLogError);
    auto inner = NSError::errorWithDomain("Inner", 1, Dictionary{{"why", "inner"}});
    DataRecord::handleErrors(
        NSError::errorWithDomain("Outer", 2,
                                 Dictionary{{NSLocalizedDescriptionKey, "It broke"},
                                            {"details", Array{Value(inner), Value("plain")}}}));
    std::vector<std::string> expected{"Error: It broke",      "Error Details: {\n    why = inner;\n}",
                                      "Error Details: plain", "Error Message: It broke",
                                      "Error Domain: Outer",  "Recovery Suggestion: (null)"};
    EXPECT_EQ(logged, expected);
    EXPECT_EQ(received.size(), 2u);
}

TEST_F(DataStack, AMismatchedStoreIsRecreatedWhenAllowed) {
    DataRecord_Setup::setupCoreDataStackWithStoreNamed("Garage.sqlite");
    auto context = defaultContext();
    NSManagedObject_DataRecord::DR_createEntityInContext(datatest::carClass(), context)
        ->setValueForKey(Value("old"), "name");
    NSManagedObjectContext_DataSaves::DR_saveToPersistentStoreAndWait(context);
    DataRecord::cleanUp();

    NSManagedObjectModel_DataRecord::DR_setDefaultManagedObjectModel(
        NSManagedObjectModel::modelWithData(NSData::fromString(datatest::modelText(true))));
    std::vector<std::string> posted;
    auto center = NSNotificationCenter::defaultCenter();
    std::vector<Ref<NSObject>> tokens;
    for (const char* name :
         {kDataRecordPSCMismatchWillDeleteStore, kDataRecordPSCMismatchDidDeleteStore,
          kDataRecordPSCMismatchCouldNotDeleteStore, kDataRecordPSCMismatchWillRecreateStore,
          kDataRecordPSCMismatchDidRecreateStore, kDataRecordPSCMismatchCouldNotRecreateStore}) {
        tokens.push_back(center->addObserverForName(
            name, nullptr, nullptr, [&](const Ref<NSNotification>& n) { posted.push_back(n->name()); }));
    }
    // Without the option the error is reported and the coordinator has no store.
    auto refused =
        NSPersistentStoreCoordinator_DataRecord::DR_coordinatorWithSqliteStoreNamed(Value("Garage.sqlite"));
    EXPECT_TRUE(refused->persistentStores().empty());
    EXPECT_TRUE(loggedContaining("incompatible"));
    EXPECT_TRUE(posted.empty());

    DataRecord::setShouldDeleteStoreOnModelMismatch(true);
    DataRecord::setLoggingLevel(DataRecordLogError | DataRecordLogWarn);
    auto recreated =
        NSPersistentStoreCoordinator_DataRecord::DR_coordinatorWithSqliteStoreNamed(Value("Garage.sqlite"));
    for (const auto& t : tokens) center->removeObserver(t.get());
    EXPECT_EQ(recreated->persistentStores().size(), 1u);
    EXPECT_EQ(posted, (std::vector<std::string>{
                          kDataRecordPSCMismatchWillDeleteStore, kDataRecordPSCMismatchDidDeleteStore,
                          kDataRecordPSCMismatchWillRecreateStore, kDataRecordPSCMismatchDidRecreateStore}));
    EXPECT_TRUE(loggedLine("Removed incompatible model version: Garage.sqlite"));
}

TEST_F(DataStack, AnInMemoryStackWorks) {
    DataRecord_Setup::setupCoreDataStackWithInMemoryStore();
    auto context = defaultContext();
    ASSERT_TRUE(context);
    auto coordinator = NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator();
    EXPECT_EQ(coordinator->persistentStores().front()->type(), NSInMemoryStoreType);
    EXPECT_EQ(NSPersistentStoreCoordinator_DataRecord::DR_autoMigrationOptions()[NSSQLitePragmasOption]
                                                                                ["journal_mode"],
              Value("WAL"));
}

TEST_F(DataStack, ModelsAreFoundByFileName) {
    EXPECT_TRUE(NSManagedObjectModel_DataRecord::DR_managedObjectModelNamed("Garage.model"));
    EXPECT_FALSE(NSManagedObjectModel_DataRecord::DR_managedObjectModelNamed("Nothing.model"));
    EXPECT_TRUE(
        NSManagedObjectModel_DataRecord::DR_newModelNamedInBundle("Garage.model", NSBundle::mainBundle()));
    DataRecord::setDefaultModelNamed("Garage.model");
    EXPECT_EQ(NSManagedObjectModel_DataRecord::DR_defaultManagedObjectModel()->entities().size(), 3u);
}

}  // namespace

namespace {

TEST_F(DataStack, WithoutAUbiquityContainerTheICloudSetUpEndsWithTheLocalStore) {
    DataRecord::setLoggingLevel(DataRecordLogWarn);
    bool completed = false, onMain = false, announced = false;
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        kDataRecordPSCDidCompleteiCloudSetupNotification, nullptr, nullptr,
        [&](const Ref<NSNotification>&) { announced = true; });
    DataRecord_iCloud::setupCoreDataStackWithiCloudContainer("iCloud.garage", std::nullopt, "Garage.sqlite",
                                                             std::nullopt, [&] {
                                                                 completed = true;
                                                                 onMain = NSThread::isMainThread();
                                                             });
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return announced; }));
    NSNotificationCenter::defaultCenter()->removeObserver(token.get());
    EXPECT_TRUE(completed);
    EXPECT_TRUE(onMain);
    EXPECT_FALSE(DataRecord_iCloud::isICloudEnabled());
    EXPECT_TRUE(loggedLine("iCloud is not enabled"));
    auto store = NSPersistentStore_DataRecord::DR_defaultPersistentStore();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->URL()->path(), NSSandbox::applicationSupportPath() + "/Garage/Garage.sqlite");
    EXPECT_FALSE((*store->options())[NSPersistentStoreUbiquitousContentURLKey].isSomething());
    EXPECT_TRUE(defaultContext());
}

TEST_F(DataStack, AContainerFolderEnablesICloudAndNamesTheContent) {
    testsupport::TemporaryDirectory cloud;
    DataRecord_iCloud::setUbiquityContainerURLForTesting(NSURL::fileURLWithPath(cloud.path(), true));
    bool announced = false;
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        kDataRecordPSCDidCompleteiCloudSetupNotification, nullptr, nullptr,
        [&](const Ref<NSNotification>&) { announced = true; });
    DataRecord_iCloud::setupCoreDataStackWithiCloudContainerLocalStoreAtURL(
        "iCloud.garage", NSURL::fileURLWithPath(sandbox.file("Cloudy.sqlite")));
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return announced; }));
    NSNotificationCenter::defaultCenter()->removeObserver(token.get());
    DataRecord_iCloud::setUbiquityContainerURLForTesting(nullptr);
    EXPECT_TRUE(DataRecord_iCloud::isICloudEnabled());
    auto store = NSPersistentStore_DataRecord::DR_defaultPersistentStore();
    ASSERT_TRUE(store);
    EXPECT_TRUE((*store->options())[NSPersistentStoreUbiquitousContentURLKey].isSomething());
    EXPECT_EQ((*store->options())[NSPersistentStoreUbiquitousContentNameKey], Value("com.example.garage"));
    DataRecord_iCloud::setICloudEnabled(false);
}

}  // namespace
