#include "data/NSPersistentStoreCoordinator+DataRecord.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "coredata/CoreDataErrors.h"
#include "data/DataRecord+iCloud.h"
#include "data/DataRecord.h"
#include "foundation/NSBundle.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSObject+Perform.h"
#include "foundation/NSString.h"

namespace {

// The default stack's parts. Set-up and tear-down run on one thread; the lock only keeps a
// reader on another thread from seeing a half-replaced reference.
struct Defaults {
    std::recursive_mutex mutex;
    Ref<NSManagedObjectModel> model;
    Ref<NSPersistentStoreCoordinator> coordinator;
    Ref<NSPersistentStore> store;
};

Defaults& defaults() {
    static Defaults* d = new Defaults();
    return *d;
}

Ref<NSURL> storeURL(const Value& store) {
    if (auto url = store.objectAs<NSURL>()) return url;
    return NSPersistentStore_DataRecord::DR_urlForStoreName(store.stringValue());
}

void post(const char* name, std::optional<Dictionary> info = std::nullopt) {
    NSNotificationCenter::defaultCenter()->postNotificationName(name, nullptr, std::move(info));
}

}  // namespace

namespace NSPersistentStore_DataRecord {

std::string DR_directory(NSSearchPathDirectory directory) {
    auto paths = NSSearchPathForDirectoriesInDomains(directory, NSUserDomainMask, true);
    return paths.empty() ? std::string() : NSString::stringByExpandingTildeInPath(paths.back());
}

std::string DR_applicationDocumentsDirectory() {
    return DR_directory(NSDocumentDirectory);
}

std::string DR_applicationStorageDirectory() {
    std::string directory = DR_directory(NSApplicationSupportDirectory);
    Value name = NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleName");
    // Without a bundle name there is no folder to add; the store goes in Application Support.
    if (name.isString() && !name.string()->empty()) directory += "/" + *name.string();
    return directory;
}

Ref<NSURL> DR_urlForStoreName(const std::string& storeFileName) {
    return NSURL::fileURLWithPath(DR_applicationStorageDirectory() + "/" + storeFileName);
}

Ref<NSURL> DR_defaultLocalStoreUrl() {
    return DR_urlForStoreName("CoreDataStore.sqlite");
}

Ref<NSPersistentStore> DR_defaultPersistentStore() {
    std::lock_guard<std::recursive_mutex> guard(defaults().mutex);
    return defaults().store;
}

void DR_setDefaultPersistentStore(const Ref<NSPersistentStore>& store) {
    std::lock_guard<std::recursive_mutex> guard(defaults().mutex);
    defaults().store = store;
}

Ref<NSURL> DR_cloudURLForUbiqutiousContainer(const std::optional<std::string>& containerID) {
    return DataRecord_iCloud::ubiquityContainerURL(containerID);
}

}  // namespace NSPersistentStore_DataRecord

namespace NSPersistentStoreCoordinator_DataRecord {

Ref<NSPersistentStoreCoordinator> DR_defaultStoreCoordinator() {
    std::lock_guard<std::recursive_mutex> guard(defaults().mutex);
    if (!defaults().coordinator && DataRecord::shouldAutoCreateDefaultPersistentStoreCoordinator()) {
        DR_setDefaultStoreCoordinator(DR_newPersistentStoreCoordinator());
    }
    return defaults().coordinator;
}

void DR_setDefaultStoreCoordinator(const Ref<NSPersistentStoreCoordinator>& coordinator) {
    std::lock_guard<std::recursive_mutex> guard(defaults().mutex);
    defaults().coordinator = coordinator;
    if (coordinator && !coordinator->persistentStores().empty() && !defaults().store) {
        defaults().store = coordinator->persistentStores().front();
    }
}

Ref<NSPersistentStoreCoordinator>
DR_coordinatorWithSqliteStoreNamed(const Value& store, const std::optional<Dictionary>& options) {
    auto coordinator =
        make<NSPersistentStoreCoordinator>(NSManagedObjectModel_DataRecord::DR_defaultManagedObjectModel());
    DR_addSqliteStoreNamed(coordinator, store, options);
    return coordinator;
}

Ref<NSPersistentStoreCoordinator>
DR_coordinatorWithSqliteStoreAtURL(const Ref<NSURL>& url, const std::optional<Dictionary>& options) {
    return DR_coordinatorWithSqliteStoreNamed(Value(url), options);
}

namespace {

// Second adds not yet run, by coordinator; each may be called off from any thread (the stack's
// clean-up need not run on the thread whose run loop holds the retry).
struct PendingRetries {
    std::mutex mutex;
    std::vector<std::pair<Weak<NSPersistentStoreCoordinator>, std::shared_ptr<std::atomic<bool>>>> entries;
};

PendingRetries& pendingRetries() {
    static auto* p = new PendingRetries();
    return *p;
}

void addStore(const Ref<NSPersistentStoreCoordinator>& coordinator, const Value& store) {
    if (auto url = store.objectAs<NSURL>()) {
        DR_addAutoMigratingSqliteStoreAtURL(coordinator, url);
    } else {
        DR_addAutoMigratingSqliteStoreNamed(coordinator, store.stringValue());
    }
}

Ref<NSPersistentStoreCoordinator> autoMigrating(const Value& store) {
    auto coordinator =
        make<NSPersistentStoreCoordinator>(NSManagedObjectModel_DataRecord::DR_defaultManagedObjectModel());
    addStore(coordinator, store);
    if (coordinator->persistentStores().empty()) {
        auto cancelled = std::make_shared<std::atomic<bool>>(false);
        {
            auto& p = pendingRetries();
            std::lock_guard<std::mutex> guard(p.mutex);
            // A coordinator that went before its retry ran leaves its entry behind: drop those.
            std::erase_if(p.entries, [](const auto& entry) { return entry.first.expired(); });
            p.entries.emplace_back(coordinator, cancelled);
        }
        // One more try, half a second later on this thread's run loop. The coordinator is held
        // weakly: one that nobody keeps needs no store.
        Weak<NSPersistentStoreCoordinator> weak = coordinator;
        performSelectorAfterDelay(
            coordinator, "DR_addAutoMigratingSqliteStoreNamed:", store,
            [weak, store, cancelled] {
                {
                    auto& p = pendingRetries();
                    std::lock_guard<std::mutex> guard(p.mutex);
                    std::erase_if(p.entries, [&](const auto& entry) { return entry.second == cancelled; });
                }
                auto strong = weak.lock();
                if (!strong || cancelled->load()) return;
                addStore(strong, store);
            },
            0.5);
    }
    return coordinator;
}

}  // namespace

Ref<NSPersistentStoreCoordinator>
DR_coordinatorWithAutoMigratingSqliteStoreNamed(const std::string& storeName) {
    return autoMigrating(Value(storeName));
}

Ref<NSPersistentStoreCoordinator> DR_coordinatorWithAutoMigratingSqliteStoreAtURL(const Ref<NSURL>& url) {
    return autoMigrating(Value(url));
}

Ref<NSPersistentStoreCoordinator> DR_coordinatorWithInMemoryStore() {
    auto coordinator =
        make<NSPersistentStoreCoordinator>(NSManagedObjectModel_DataRecord::DR_defaultManagedObjectModel());
    DR_addInMemoryStore(coordinator);
    return coordinator;
}

Ref<NSPersistentStoreCoordinator> DR_coordinatorWithPersistentStore(const Ref<NSPersistentStore>& store) {
    auto coordinator =
        make<NSPersistentStoreCoordinator>(NSManagedObjectModel_DataRecord::DR_defaultManagedObjectModel());
    DR_addSqliteStoreNamed(coordinator, store ? Value(store->URL()) : Value(), std::nullopt);
    return coordinator;
}

Ref<NSPersistentStoreCoordinator> DR_newPersistentStoreCoordinator() {
    return DR_coordinatorWithSqliteStoreNamed(Value(DataRecord::defaultStoreName()));
}

Ref<NSPersistentStore> DR_addSqliteStoreNamed(const Ref<NSPersistentStoreCoordinator>& coordinator,
                                              const Value& store, const std::optional<Dictionary>& options) {
    return DR_addSqliteStoreNamedConfiguration(coordinator, store, std::nullopt, options);
}

Ref<NSPersistentStore>
DR_addSqliteStoreNamedConfiguration(const Ref<NSPersistentStoreCoordinator>& coordinator, const Value& store,
                                    const std::optional<std::string>& configuration,
                                    const std::optional<Dictionary>& options) {
    if (!coordinator) return nullptr;
    Ref<NSURL> url = storeURL(store);
    DR_createPathToStoreFileIfNeccessary(url);
    Ref<NSError> error;
    auto added =
        coordinator->addPersistentStoreWithType(NSSQLiteStoreType, configuration, url, options, &error);
    if (!added && error && DataRecord::shouldDeleteStoreOnModelMismatch() &&
        error->domain() == NSCocoaErrorDomain &&
        (error->code() == NSPersistentStoreIncompatibleVersionHashError ||
         error->code() == NSMigrationMissingSourceModelError || error->code() == NSMigrationError)) {
        post(kDataRecordPSCMismatchWillDeleteStore);
        const std::string path = url->path();
        Ref<NSError> removeError;
        auto manager = NSFileManager::defaultManager();
        manager->removeItemAtPath(path, &removeError);
        manager->removeItemAtPath(path + "-shm", nullptr);
        manager->removeItemAtPath(path + "-wal", nullptr);
        detail::drLog(DataRecordLogWarn, "Removed incompatible model version: %@", url->lastPathComponent());
        if (removeError) {
            post(kDataRecordPSCMismatchCouldNotDeleteStore, Dictionary{{"Error", removeError}});
        } else {
            post(kDataRecordPSCMismatchDidDeleteStore);
        }
        post(kDataRecordPSCMismatchWillRecreateStore);
        Ref<NSError> again;
        added =
            coordinator->addPersistentStoreWithType(NSSQLiteStoreType, std::nullopt, url, options, &again);
        if (added) {
            post(kDataRecordPSCMismatchDidRecreateStore);
            error = nullptr;
        } else {
            post(kDataRecordPSCMismatchCouldNotRecreateStore, Dictionary{{"Error", again}});
            error = again;
        }
    }
    DataRecord::handleErrors(error);
    return added;
}

Ref<NSPersistentStore>
DR_addAutoMigratingSqliteStoreNamed(const Ref<NSPersistentStoreCoordinator>& coordinator,
                                    const std::string& storeName) {
    return DR_addSqliteStoreNamed(coordinator, Value(storeName), DR_autoMigrationOptions());
}

Ref<NSPersistentStore>
DR_addAutoMigratingSqliteStoreAtURL(const Ref<NSPersistentStoreCoordinator>& coordinator,
                                    const Ref<NSURL>& url) {
    return DR_addSqliteStoreNamed(coordinator, Value(url), DR_autoMigrationOptions());
}

Ref<NSPersistentStore> DR_addInMemoryStore(const Ref<NSPersistentStoreCoordinator>& coordinator) {
    if (!coordinator) return nullptr;
    Ref<NSError> error;
    auto store = coordinator->addPersistentStoreWithType(NSInMemoryStoreType, std::nullopt, nullptr,
                                                         std::nullopt, &error);
    if (!store) DataRecord::handleErrors(error);
    return store;
}

void DR_createPathToStoreFileIfNeccessary(const Ref<NSURL>& url) {
    if (!url) return;
    std::string directory = NSString::stringByDeletingLastPathComponent(url->path());
    Ref<NSError> error;
    if (!NSFileManager::defaultManager()->createDirectoryAtPath(directory, true, Dictionary(), &error)) {
        DataRecord::handleErrors(error);
    }
}

Dictionary DR_autoMigrationOptions() {
    Dictionary options = Dictionary::mutableDictionary();
    options.setObject(NSMigratePersistentStoresAutomaticallyOption, true);
    options.setObject(NSInferMappingModelAutomaticallyOption, true);
    options.setObject(NSSQLitePragmasOption, Dictionary{{"journal_mode", "WAL"}});
    return options;
}

}  // namespace NSPersistentStoreCoordinator_DataRecord

namespace NSManagedObjectModel_DataRecord {

Ref<NSManagedObjectModel> DR_defaultManagedObjectModel() {
    std::lock_guard<std::recursive_mutex> guard(defaults().mutex);
    if (!defaults().model && DataRecord::shouldAutoCreateManagedObjectModel()) {
        defaults().model = DR_mergedObjectModelFromMainBundle();
    }
    return defaults().model;
}

void DR_setDefaultManagedObjectModel(const Ref<NSManagedObjectModel>& model) {
    std::lock_guard<std::recursive_mutex> guard(defaults().mutex);
    defaults().model = model;
}

Ref<NSManagedObjectModel> DR_mergedObjectModelFromMainBundle() {
    return NSManagedObjectModel::mergedModelFromBundles({});
}

namespace {
Ref<NSManagedObjectModel> modelIn(const Ref<NSBundle>& bundle, const std::string& name,
                                  const std::optional<std::string>& directory) {
    if (!bundle) return nullptr;
    std::string base = NSString::stringByDeletingPathExtension(name);
    std::string extension = NSString::pathExtension(name);
    auto url = directory ? bundle->URLForResource(base, extension, *directory)
                         : bundle->URLForResource(base, extension);
    return url ? NSManagedObjectModel::modelWithContentsOfURL(url) : nullptr;
}
}  // namespace

Ref<NSManagedObjectModel> DR_newManagedObjectModelNamed(const std::string& name) {
    return modelIn(NSBundle::mainBundle(), name, std::nullopt);
}

Ref<NSManagedObjectModel> DR_managedObjectModelNamed(const std::string& name) {
    return DR_newManagedObjectModelNamed(name);
}

Ref<NSManagedObjectModel> DR_newModelNamed(const std::string& name, const std::string& bundleDirectoryName) {
    return modelIn(NSBundle::mainBundle(), name, bundleDirectoryName);
}

Ref<NSManagedObjectModel> DR_newModelNamedInBundle(const std::string& name, const Ref<NSBundle>& bundle) {
    return modelIn(bundle, name, std::nullopt);
}

}  // namespace NSManagedObjectModel_DataRecord

void detail::cancelDefaultCoordinatorStoreRetry() {
    Ref<NSPersistentStoreCoordinator> coordinator;
    {
        std::lock_guard<std::recursive_mutex> guard(defaults().mutex);
        coordinator = defaults().coordinator;
    }
    if (!coordinator) return;
    auto& p = NSPersistentStoreCoordinator_DataRecord::pendingRetries();
    std::lock_guard<std::mutex> guard(p.mutex);
    std::erase_if(p.entries, [&](const auto& entry) {
        if (entry.first.lock() != coordinator) return false;
        entry.second->store(true);
        return true;
    });
}
