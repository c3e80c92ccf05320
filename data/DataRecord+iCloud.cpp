#include "data/DataRecord+iCloud.h"

#include <atomic>
#include <mutex>

#include "coredata/CoreDataErrors.h"
#include "data/DataRecord.h"
#include "data/NSManagedObject+DataImport.h"
#include "data/NSManagedObjectContext+DataRecord.h"
#include "data/NSPersistentStoreCoordinator+DataRecord.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSBundle.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSThread.h"

namespace {

std::mutex& classLock() {
    static std::mutex m;
    return m;
}
std::atomic<bool> enabled{false};

std::mutex& containerMutex() {
    static std::mutex m;
    return m;
}
Ref<NSURL>& containerURL() {
    static Ref<NSURL>* url = new Ref<NSURL>();
    return *url;
}

}  // namespace

namespace DataRecord_iCloud {

bool isICloudEnabled() {
    return enabled.load();
}

void setICloudEnabled(bool value) {
    std::lock_guard<std::mutex> guard(classLock());
    enabled = value;
}

Ref<NSURL> ubiquityContainerURL(const std::optional<std::string>&) {
    std::lock_guard<std::mutex> guard(containerMutex());
    return containerURL();
}

void setUbiquityContainerURLForTesting(Ref<NSURL> url) {
    std::lock_guard<std::mutex> guard(containerMutex());
    containerURL() = std::move(url);
}

namespace {
void install(const Ref<NSPersistentStoreCoordinator>& coordinator) {
    NSPersistentStoreCoordinator_DataRecord::DR_setDefaultStoreCoordinator(coordinator);
    NSManagedObjectContext_DataRecord::DR_initializeDefaultContextWithCoordinator(coordinator);
}
}  // namespace

void setupCoreDataStackWithiCloudContainer(const std::optional<std::string>& containerID,
                                           const std::string& localStoreName) {
    setupCoreDataStackWithiCloudContainer(containerID, std::nullopt, localStoreName, std::nullopt, nullptr);
}

void setupCoreDataStackWithiCloudContainer(const std::optional<std::string>& containerID,
                                           const std::optional<std::string>& contentNameKey,
                                           const std::string& localStoreName,
                                           const std::optional<std::string>& cloudStorePathComponent,
                                           Completion completion) {
    install(NSPersistentStoreCoordinator_DataRecord::DR_coordinatorWithiCloudContainerID(
        containerID, contentNameKey, Value(localStoreName), cloudStorePathComponent, std::move(completion)));
}

void setupCoreDataStackWithiCloudContainerLocalStoreAtURL(const std::optional<std::string>& containerID,
                                                          const Ref<NSURL>& storeURL) {
    setupCoreDataStackWithiCloudContainerLocalStoreAtURL(
        containerID, NSBundle::mainBundle()->bundleIdentifier(), storeURL, std::nullopt, nullptr);
}

void setupCoreDataStackWithiCloudContainerLocalStoreAtURL(
    const std::optional<std::string>& containerID, const std::optional<std::string>& contentNameKey,
    const Ref<NSURL>& storeURL, const std::optional<std::string>& cloudStorePathComponent,
    Completion completion) {
    install(NSPersistentStoreCoordinator_DataRecord::DR_coordinatorWithiCloudContainerID(
        containerID, contentNameKey, Value(storeURL), cloudStorePathComponent, std::move(completion)));
}

}  // namespace DataRecord_iCloud

namespace NSPersistentStoreCoordinator_DataRecord {

Ref<NSPersistentStoreCoordinator> DR_coordinatorWithiCloudContainerID(
    const std::optional<std::string>& containerID, const std::optional<std::string>& contentNameKey,
    const Value& storeIdentifier, const std::optional<std::string>& cloudStorePathComponent,
    std::function<void()> completion) {
    auto coordinator =
        make<NSPersistentStoreCoordinator>(NSManagedObjectModel_DataRecord::DR_defaultManagedObjectModel());
    DR_addiCloudContainerID(coordinator, containerID, contentNameKey, storeIdentifier,
                            cloudStorePathComponent, std::move(completion));
    return coordinator;
}

void DR_addiCloudContainerID(const Ref<NSPersistentStoreCoordinator>& coordinator,
                             const std::optional<std::string>& containerID,
                             const std::optional<std::string>& contentNameKey, const Value& storeIdentifier,
                             const std::optional<std::string>& cloudStorePathComponent,
                             std::function<void()> completion) {
    if (!coordinator) return;
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT), [=] {
        auto cloudURL = NSPersistentStore_DataRecord::DR_cloudURLForUbiqutiousContainer(containerID);
        if (cloudURL && cloudStorePathComponent)
            cloudURL = cloudURL->URLByAppendingPathComponent(*cloudStorePathComponent);
        DataRecord_iCloud::setICloudEnabled(cloudURL != nullptr);
        Dictionary options = DR_autoMigrationOptions();
        if (cloudURL) {
            Dictionary cloud = Dictionary::mutableDictionary();
            cloud.setObject(NSPersistentStoreUbiquitousContentURLKey, cloudURL);
            if (contentNameKey && !contentNameKey->empty())
                cloud.setObject(NSPersistentStoreUbiquitousContentNameKey, *contentNameKey);
            options = NSDictionary_Merging::DR_dictionaryByMergingDictionary(options, cloud);
        } else {
            detail::drLog(DataRecordLogWarn, "iCloud is not enabled");
        }
        coordinator->performBlockAndWait(
            [&] { DR_addSqliteStoreNamed(coordinator, storeIdentifier, options); });
        dispatch_async(dispatch_get_main_queue(), [coordinator, completion] {
            if (!NSPersistentStore_DataRecord::DR_defaultPersistentStore() &&
                !coordinator->persistentStores().empty()) {
                NSPersistentStore_DataRecord::DR_setDefaultPersistentStore(
                    coordinator->persistentStores().front());
            }
            if (completion) completion();
            NSNotificationCenter::defaultCenter()->postNotificationName(
                kDataRecordPSCDidCompleteiCloudSetupNotification);
        });
    });
}

}  // namespace NSPersistentStoreCoordinator_DataRecord

namespace NSManagedObjectContext_DataObserving {

void DR_observeiCloudChangesInCoordinator(const Ref<NSManagedObjectContext>& receiver,
                                          const Ref<NSPersistentStoreCoordinator>& coordinator) {
    if (!DataRecord_iCloud::isICloudEnabled() || !receiver) return;
    Weak<NSManagedObjectContext> weak = receiver;
    NSNotificationCenter::defaultCenter()->addObserver(
        receiver, "DR_mergeChangesFromiCloud:",
        [weak](const Ref<NSNotification>& n) {
            if (auto r = weak.lock()) DR_mergeChangesFromiCloud(r, n);
        },
        std::string(NSPersistentStoreDidImportUbiquitousContentChangesNotification), coordinator);
}

void DR_stopObservingiCloudChangesInCoordinator(const Ref<NSManagedObjectContext>& receiver,
                                                const Ref<NSPersistentStoreCoordinator>& coordinator) {
    if (!DataRecord_iCloud::isICloudEnabled() || !receiver) return;
    NSNotificationCenter::defaultCenter()->removeObserver(
        receiver, std::string(NSPersistentStoreDidImportUbiquitousContentChangesNotification),
        coordinator.get());
}

void DR_mergeChangesFromiCloud(const Ref<NSManagedObjectContext>& receiver,
                               const Ref<NSNotification>& notification) {
    if (!receiver) return;
    receiver->performBlock([receiver, notification] {
        detail::drLog(DataRecordLogVerbose, "Merging changes From iCloud %@context%@",
                      receiver == NSManagedObjectContext_DataRecord::DR_defaultContext() ? "*** DEFAULT *** "
                                                                                         : "",
                      NSThread::isMainThread() ? " *** on Main Thread ***" : "");
        receiver->mergeChangesFromContextDidSaveNotification(notification);
        NSNotificationCenter::defaultCenter()->postNotificationName(
            kDataRecordDidMergeChangesFromiCloudNotification, receiver,
            notification ? notification->userInfo() : std::nullopt);
    });
}

}  // namespace NSManagedObjectContext_DataObserving
