#pragma once
// Error codes of the object store (domain NSCocoaErrorDomain), its notification names and the
// keys of their user info.

#include "foundation/NSError.h"

enum : long {
    NSValidationRelationshipDeniedDeleteError = 1600,
    NSManagedObjectReferentialIntegrityError = 133000,
    NSPersistentStoreInvalidTypeError = 134000,
    NSPersistentStoreIncompatibleSchemaError = 134020,
    NSPersistentStoreSaveError = 134030,
    NSPersistentStoreOperationError = 134070,
    NSPersistentStoreIncompatibleVersionHashError = 134100,
    NSMigrationError = 134110,
    NSMigrationMissingSourceModelError = 134130,
    NSEntityMigrationPolicyError = 134170,
    NSSQLiteError = 134180,
    NSManagedObjectContextLockingError = 132000,
    NSPersistentStoreCoordinatorLockingError = 132010,
    NSManagedObjectExternalRelationshipError = 133010,
    // A save met a change another context saved first (here: the object was deleted).
    NSManagedObjectMergeError = 133020,
    NSManagedObjectConstraintMergeError = 133021,
};

// Raised by key-value access to a key an object does not have.
inline constexpr char NSUndefinedKeyException[] = "NSUndefinedKeyException";

// The detailed SQLite result code, beside the Cocoa code.
inline constexpr char NSSQLiteErrorDomain[] = "NSSQLiteErrorDomain";
inline constexpr char NSAffectedStoresErrorKey[] = "NSAffectedStoresErrorKey";
inline constexpr char NSAffectedObjectsErrorKey[] = "NSAffectedObjectsErrorKey";

// Posted on the context's queue around every save; the did-save user info holds the saved
// objects (of the saving context) under the three keys, as arrays.
inline constexpr char NSManagedObjectContextWillSaveNotification[] =
    "NSManagedObjectContextWillSaveNotification";
inline constexpr char NSManagedObjectContextDidSaveNotification[] =
    "NSManagedObjectContextDidSaveNotification";
inline constexpr char NSInsertedObjectsKey[] = "inserted";
inline constexpr char NSUpdatedObjectsKey[] = "updated";
inline constexpr char NSDeletedObjectsKey[] = "deleted";
// Posted by ubiquitous stores, which do not exist here: declared so that observers can register.
inline constexpr char NSPersistentStoreDidImportUbiquitousContentChangesNotification[] =
    "NSPersistentStoreDidImportUbiquitousContentChangesNotification";
