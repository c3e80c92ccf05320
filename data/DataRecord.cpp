#include "data/DataRecord.h"

#include <atomic>
#include <mutex>

#include "data/DataRecord+iCloud.h"
#include "data/NSManagedObjectContext+DataRecord.h"
#include "data/NSPersistentStoreCoordinator+DataRecord.h"
#include "foundation/NSBundle.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSString.h"

namespace {

struct Options {
    std::atomic<bool> autoCreateModel{true};
    std::atomic<bool> autoCreateCoordinator{false};
    std::atomic<bool> deleteOnMismatch{false};
    std::atomic<std::uint64_t> loggingLevel{1};
    std::mutex handlerMutex;
    Weak<NSObject> target;
    DataRecord::ErrorAction action;
};

Options& options() {
    static Options* o = new Options();
    return *o;
}

}  // namespace

bool DataRecord::shouldAutoCreateManagedObjectModel() {
    return options().autoCreateModel;
}
void DataRecord::setShouldAutoCreateManagedObjectModel(bool value) {
    options().autoCreateModel = value;
}
bool DataRecord::shouldAutoCreateDefaultPersistentStoreCoordinator() {
    return options().autoCreateCoordinator;
}
void DataRecord::setShouldAutoCreateDefaultPersistentStoreCoordinator(bool value) {
    options().autoCreateCoordinator = value;
}
bool DataRecord::shouldDeleteStoreOnModelMismatch() {
    return options().deleteOnMismatch;
}
void DataRecord::setShouldDeleteStoreOnModelMismatch(bool value) {
    options().deleteOnMismatch = value;
}
std::uint64_t DataRecord::loggingLevel() {
    return options().loggingLevel;
}
void DataRecord::setLoggingLevel(std::uint64_t level) {
    options().loggingLevel = level;
}

void DataRecord::resetOptionsForTesting() {
    setShouldAutoCreateManagedObjectModel(true);
    setShouldAutoCreateDefaultPersistentStoreCoordinator(false);
    setShouldDeleteStoreOnModelMismatch(false);
    setLoggingLevel(1);
    cleanUpErrorHanding();
}

void DataRecord::setErrorHandlerTarget(const Ref<NSObject>& target, ErrorAction action) {
    std::lock_guard<std::mutex> guard(options().handlerMutex);
    options().target = target;
    options().action = std::move(action);
}

Ref<NSObject> DataRecord::errorHandlerTarget() {
    std::lock_guard<std::mutex> guard(options().handlerMutex);
    return options().target.lock();
}

const DataRecord::ErrorAction& DataRecord::errorHandlerAction() {
    std::lock_guard<std::mutex> guard(options().handlerMutex);
    return options().action;
}

void DataRecord::cleanUpErrorHanding() {
    std::lock_guard<std::mutex> guard(options().handlerMutex);
    options().target.reset();
    options().action = nullptr;
}

void DataRecord::handleErrors(const Ref<NSError>& error) {
    if (!error) return;
    Ref<NSObject> target;
    ErrorAction action;
    {
        std::lock_guard<std::mutex> guard(options().handlerMutex);
        target = options().target.lock();
        action = options().action;
    }
    if (target && action) {
        action(*target, error);
        return;
    }
    defaultErrorHandler(error);
}

void DataRecord::defaultErrorHandler(const Ref<NSError>& error) {
    if (!error) return;
    for (const auto& [key, value] : error->userInfo()) {
        if (const Array* list = value.array()) {
            for (const Value& element : *list) {
                if (auto inner = element.objectAs<NSError>()) {
                    detail::drLog(DataRecordLogError, "Error Details: %@", Value(inner->userInfo()));
                } else {
                    detail::drLog(DataRecordLogError, "Error Details: %@", element);
                }
            }
        } else {
            detail::drLog(DataRecordLogError, "Error: %@", value);
        }
    }
    detail::drLog(DataRecordLogError, "Error Message: %@", error->localizedDescription());
    detail::drLog(DataRecordLogError, "Error Domain: %@", error->domain());
    detail::drLog(DataRecordLogError, "Recovery Suggestion: %@", Value(error->localizedRecoverySuggestion()));
}

void DataRecord::cleanUp() {
    cleanUpErrorHanding();
    cleanUpStack();
    NSNotificationCenter::defaultCenter()->postNotificationName(kDataRecordCleanedUpNotification);
}

void DataRecord::cleanUpStack() {
    // A store add still due on the old coordinator would otherwise open the store after the
    // stack is gone.
    detail::cancelDefaultCoordinatorStoreRetry();
    NSManagedObjectContext_DataRecord::DR_cleanUp();
    NSManagedObjectModel_DataRecord::DR_setDefaultManagedObjectModel(nullptr);
    NSPersistentStoreCoordinator_DataRecord::DR_setDefaultStoreCoordinator(nullptr);
    NSPersistentStore_DataRecord::DR_setDefaultPersistentStore(nullptr);
}

std::string DataRecord::currentStack() {
    auto model = NSManagedObjectModel_DataRecord::DR_defaultManagedObjectModel();
    auto coordinator = NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator();
    auto store = NSPersistentStore_DataRecord::DR_defaultPersistentStore();
    auto context = NSManagedObjectContext_DataRecord::DR_defaultContext();
    std::string text = "Current Default Core Data Stack: ---- \n";
    text += NSString::stringWithFormat("Model:           %@\n",
                                       model ? Value(model->entityVersionHashesByName()) : Value());
    text += NSString::stringWithFormat("Coordinator:     %@\n", coordinator);
    text += NSString::stringWithFormat("Store:           %@\n", store);
    text += NSString::stringWithFormat(
        "Default Context: %@\n",
        context ? Value(NSManagedObjectContext_DataRecord::DR_description(context)) : Value());
    text += NSString::stringWithFormat(
        "Context Chain:   \n%@\n",
        context ? Value(NSManagedObjectContext_DataRecord::DR_parentChain(context)) : Value());
    return text;
}

void DataRecord::setDefaultModelNamed(const std::string& modelFileName) {
    NSManagedObjectModel_DataRecord::DR_setDefaultManagedObjectModel(
        NSManagedObjectModel_DataRecord::DR_managedObjectModelNamed(modelFileName));
}

void DataRecord::setDefaultModelFromClass(const std::string& className) {
    auto bundle = NSBundle::bundleForClass(className);
    NSManagedObjectModel_DataRecord::DR_setDefaultManagedObjectModel(
        NSManagedObjectModel::mergedModelFromBundles({bundle ? bundle : NSBundle::mainBundle()}));
}

std::string DataRecord::defaultStoreName() {
    Value bundleName = NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleName");
    std::string name = bundleName.isString() && !bundleName.string()->empty() ? *bundleName.string()
                                                                              : "CoreDataStore.sqlite";
    const std::string suffix = "sqlite";
    if (name.size() < suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        name += ".sqlite";
    }
    return name;
}

namespace DataRecord_Setup {

namespace {
void setUpWith(const std::function<Ref<NSPersistentStoreCoordinator>()>& build) {
    if (NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator()) return;
    auto coordinator = build();
    NSPersistentStoreCoordinator_DataRecord::DR_setDefaultStoreCoordinator(coordinator);
    NSManagedObjectContext_DataRecord::DR_initializeDefaultContextWithCoordinator(coordinator);
}
}  // namespace

void setupCoreDataStack() {
    setupCoreDataStackWithStoreNamed(DataRecord::defaultStoreName());
}

void setupAutoMigratingCoreDataStack() {
    setupCoreDataStackWithAutoMigratingSqliteStoreNamed(DataRecord::defaultStoreName());
}

void setupCoreDataStackWithStoreNamed(const std::string& storeName) {
    setUpWith([&] {
        return NSPersistentStoreCoordinator_DataRecord::DR_coordinatorWithSqliteStoreNamed(Value(storeName));
    });
}

void setupCoreDataStackWithAutoMigratingSqliteStoreNamed(const std::string& storeName) {
    setUpWith([&] {
        return NSPersistentStoreCoordinator_DataRecord::DR_coordinatorWithAutoMigratingSqliteStoreNamed(
            storeName);
    });
}

void setupCoreDataStackWithStoreAtURL(const Ref<NSURL>& storeURL) {
    setUpWith([&] {
        return NSPersistentStoreCoordinator_DataRecord::DR_coordinatorWithSqliteStoreAtURL(storeURL);
    });
}

void setupCoreDataStackWithAutoMigratingSqliteStoreAtURL(const Ref<NSURL>& storeURL) {
    setUpWith([&] {
        return NSPersistentStoreCoordinator_DataRecord::DR_coordinatorWithAutoMigratingSqliteStoreAtURL(
            storeURL);
    });
}

void setupCoreDataStackWithInMemoryStore() {
    setUpWith([] { return NSPersistentStoreCoordinator_DataRecord::DR_coordinatorWithInMemoryStore(); });
}

}  // namespace DataRecord_Setup
