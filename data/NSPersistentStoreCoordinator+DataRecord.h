#pragma once
// The store-building side of the default stack: where the store file lives, coordinators with
// SQLite or in-memory stores (recovering from a model mismatch when the option allows it), the
// default coordinator, store and model, and model files by name.
//
// A store identifier is a store file name (placed in the application storage directory) or a
// file URL, as a Value holding a string or an NSURL.

#include <optional>
#include <string>

#include "coredata/NSManagedObjectModel.h"
#include "coredata/NSPersistentStoreCoordinator.h"
#include "foundation/NSPathUtilities.h"
#include "foundation/Value.h"

namespace NSPersistentStore_DataRecord {
// The last user-domain search path of the directory, tilde expanded.
std::string DR_directory(NSSearchPathDirectory directory);
std::string DR_applicationDocumentsDirectory();
// Application Support plus the main bundle's name (no sub-folder when it has none).
std::string DR_applicationStorageDirectory();
Ref<NSURL> DR_urlForStoreName(const std::string& storeFileName);
Ref<NSURL> DR_defaultLocalStoreUrl();
Ref<NSPersistentStore> DR_defaultPersistentStore();
void DR_setDefaultPersistentStore(const Ref<NSPersistentStore>& store);
// The ubiquity container's URL, or nullptr (always here: there is no ubiquity container).
Ref<NSURL> DR_cloudURLForUbiqutiousContainer(const std::optional<std::string>& containerID);
}  // namespace NSPersistentStore_DataRecord

namespace NSPersistentStoreCoordinator_DataRecord {
Ref<NSPersistentStoreCoordinator> DR_defaultStoreCoordinator();
void DR_setDefaultStoreCoordinator(const Ref<NSPersistentStoreCoordinator>& coordinator);

Ref<NSPersistentStoreCoordinator>
DR_coordinatorWithSqliteStoreNamed(const Value& store,
                                   const std::optional<Dictionary>& options = std::nullopt);
Ref<NSPersistentStoreCoordinator>
DR_coordinatorWithSqliteStoreAtURL(const Ref<NSURL>& url,
                                   const std::optional<Dictionary>& options = std::nullopt);
Ref<NSPersistentStoreCoordinator>
DR_coordinatorWithAutoMigratingSqliteStoreNamed(const std::string& storeName);
Ref<NSPersistentStoreCoordinator> DR_coordinatorWithAutoMigratingSqliteStoreAtURL(const Ref<NSURL>& url);
Ref<NSPersistentStoreCoordinator> DR_coordinatorWithInMemoryStore();
Ref<NSPersistentStoreCoordinator> DR_coordinatorWithPersistentStore(const Ref<NSPersistentStore>& store);
Ref<NSPersistentStoreCoordinator> DR_newPersistentStoreCoordinator();

// Instance methods (the coordinator first).
Ref<NSPersistentStore> DR_addSqliteStoreNamed(const Ref<NSPersistentStoreCoordinator>& coordinator,
                                              const Value& store, const std::optional<Dictionary>& options);
Ref<NSPersistentStore>
DR_addSqliteStoreNamedConfiguration(const Ref<NSPersistentStoreCoordinator>& coordinator, const Value& store,
                                    const std::optional<std::string>& configuration,
                                    const std::optional<Dictionary>& options);
Ref<NSPersistentStore>
DR_addAutoMigratingSqliteStoreNamed(const Ref<NSPersistentStoreCoordinator>& coordinator,
                                    const std::string& storeName);
Ref<NSPersistentStore>
DR_addAutoMigratingSqliteStoreAtURL(const Ref<NSPersistentStoreCoordinator>& coordinator,
                                    const Ref<NSURL>& url);
Ref<NSPersistentStore> DR_addInMemoryStore(const Ref<NSPersistentStoreCoordinator>& coordinator);
void DR_createPathToStoreFileIfNeccessary(const Ref<NSURL>& url);
Dictionary DR_autoMigrationOptions();
}  // namespace NSPersistentStoreCoordinator_DataRecord

namespace NSManagedObjectModel_DataRecord {
Ref<NSManagedObjectModel> DR_defaultManagedObjectModel();
void DR_setDefaultManagedObjectModel(const Ref<NSManagedObjectModel>& model);
Ref<NSManagedObjectModel> DR_mergedObjectModelFromMainBundle();
// `name` is a file name with extension ("Garage.model").
Ref<NSManagedObjectModel> DR_newManagedObjectModelNamed(const std::string& name);
Ref<NSManagedObjectModel> DR_managedObjectModelNamed(const std::string& name);
Ref<NSManagedObjectModel> DR_newModelNamed(const std::string& name, const std::string& bundleDirectoryName);
Ref<NSManagedObjectModel> DR_newModelNamedInBundle(const std::string& name, const Ref<NSBundle>& bundle);
}  // namespace NSManagedObjectModel_DataRecord

namespace detail {
// Calls off the delayed second add of an auto-migrating store on the default coordinator, if one
// is pending: the stack is being taken down, and nothing of it may touch a store afterwards.
void cancelDefaultCoordinatorStoreRetry();
}  // namespace detail
