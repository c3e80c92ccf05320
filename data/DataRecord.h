#pragma once
// DataRecord: the process-wide default Core Data stack — one model, one store coordinator with
// its default store, a private-queue root saving context and a main-queue default context —
// with its options, its one error channel and its logging.
//
// Errors of every helper go to DataRecord::handleErrors(): to the registered target and action
// while the target lives, else to the default handler, which logs the error's details under
// logging bit 1. Messages are logged under a bit mask (loggingLevel): 1 errors, 2 warnings,
// 4 information, 16 verbose. Set-up and tear-down belong on one thread (normally the main thread
// at launch); the options are plain process-wide values.
//
//     DataRecord_Setup::setupAutoMigratingCoreDataStack();
//     auto car = NSManagedObject_DataRecord::DR_createEntity(carClass);
//     NSManagedObjectContext_DataSaves::DR_saveToPersistentStoreAndWait(
//         NSManagedObjectContext_DataRecord::DR_defaultContext());

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "coredata/NSManagedObjectContext.h"
#include "foundation/NSError.h"
#include "foundation/NSLog.h"
#include "foundation/NSObject.h"

// Notifications of the stack (default centre, object nil).
inline constexpr char kDataRecordCleanedUpNotification[] = "kDataRecordCleanedUpNotification";
inline constexpr char kDataRecordPSCMismatchWillDeleteStore[] = "kDataRecordPSCMismatchWillDeleteStore";
inline constexpr char kDataRecordPSCMismatchDidDeleteStore[] = "kDataRecordPSCMismatchDidDeleteStore";
inline constexpr char kDataRecordPSCMismatchCouldNotDeleteStore[] =
    "kDataRecordPSCMismatchCouldNotDeleteStore";
inline constexpr char kDataRecordPSCMismatchWillRecreateStore[] = "kDataRecordPSCMismatchWillRecreateStore";
inline constexpr char kDataRecordPSCMismatchDidRecreateStore[] = "kDataRecordPSCMismatchDidRecreateStore";
inline constexpr char kDataRecordPSCMismatchCouldNotRecreateStore[] =
    "kDataRecordPSCMismatchCouldNotRecreateStore";
inline constexpr char kDataRecordPSCDidCompleteiCloudSetupNotification[] =
    "kDataRecordPSCDidCompleteiCloudSetupNotification";
inline constexpr char kDataRecordDidMergeChangesFromiCloudNotification[] =
    "kDataRecordDidMergeChangesFromiCloudNotification";

// Logging level bits.
enum : std::uint64_t {
    DataRecordLogError = 1,
    DataRecordLogWarn = 2,
    DataRecordLogInfo = 4,
    DataRecordLogVerbose = 16,
};

class DataRecord {
  public:
    // The action of an error handler target: called with the target and the error.
    using ErrorAction = std::function<void(NSObject& target, const Ref<NSError>& error)>;

    static unsigned long version() { return 230; }

    static bool shouldAutoCreateManagedObjectModel();
    static void setShouldAutoCreateManagedObjectModel(bool value);
    static bool shouldAutoCreateDefaultPersistentStoreCoordinator();
    static void setShouldAutoCreateDefaultPersistentStoreCoordinator(bool value);
    static bool shouldDeleteStoreOnModelMismatch();
    static void setShouldDeleteStoreOnModelMismatch(bool value);
    static std::uint64_t loggingLevel();
    static void setLoggingLevel(std::uint64_t level);

    // The target is held weakly.
    static void setErrorHandlerTarget(const Ref<NSObject>& target, ErrorAction action);
    static Ref<NSObject> errorHandlerTarget();
    static const ErrorAction& errorHandlerAction();
    static void cleanUpErrorHanding();
    static void handleErrors(const Ref<NSError>& error);
    static void defaultErrorHandler(const Ref<NSError>& error);

    static void cleanUp();
    static void cleanUpStack();
    static std::string currentStack();
    static void setDefaultModelNamed(const std::string& modelFileName);
    // The models of the bundle that holds the named class.
    static void setDefaultModelFromClass(const std::string& className);
    // The main bundle's name with the extension "sqlite", or "CoreDataStore.sqlite".
    static std::string defaultStoreName();

    // Restores every option to its initial value (a fresh process); for tests.
    static void resetOptionsForTesting();
};

namespace detail {
// Writes a line when its bit is set in the logging level.
template <class... Args>
void drLog(std::uint64_t bit, std::string_view format, const Args&... args) {
    if (DataRecord::loggingLevel() & bit) NSLog(format, args...);
}
}  // namespace detail

namespace DataRecord_Setup {
// Each builds the default coordinator (unless one exists already) and the default contexts.
void setupCoreDataStack();
void setupAutoMigratingCoreDataStack();
void setupCoreDataStackWithStoreNamed(const std::string& storeName);
void setupCoreDataStackWithAutoMigratingSqliteStoreNamed(const std::string& storeName);
void setupCoreDataStackWithStoreAtURL(const Ref<NSURL>& storeURL);
void setupCoreDataStackWithAutoMigratingSqliteStoreAtURL(const Ref<NSURL>& storeURL);
void setupCoreDataStackWithInMemoryStore();
}  // namespace DataRecord_Setup
