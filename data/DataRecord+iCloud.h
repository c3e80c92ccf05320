#pragma once
// The default store in an iCloud ubiquity container. This system has no ubiquity container, so
// every set-up reduces to the local store with automatic migration (logging "iCloud is not
// enabled" under bit 2), still calling its completion and posting
// kDataRecordPSCDidCompleteiCloudSetupNotification on the main queue. A test may give a local
// folder as the container to reach the enabled branch.

#include <functional>
#include <optional>
#include <string>

#include "coredata/NSPersistentStoreCoordinator.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"

namespace DataRecord_iCloud {

bool isICloudEnabled();
void setICloudEnabled(bool enabled);

// The ubiquity container's URL for an identifier; nullptr when there is none.
Ref<NSURL> ubiquityContainerURL(const std::optional<std::string>& containerID);
// Tests: the folder that stands for every container (nullptr: none, as on this system).
void setUbiquityContainerURLForTesting(Ref<NSURL> url);

using Completion = std::function<void()>;

void setupCoreDataStackWithiCloudContainer(const std::optional<std::string>& containerID,
                                           const std::string& localStoreName);
void setupCoreDataStackWithiCloudContainer(const std::optional<std::string>& containerID,
                                           const std::optional<std::string>& contentNameKey,
                                           const std::string& localStoreName,
                                           const std::optional<std::string>& cloudStorePathComponent,
                                           Completion completion = nullptr);
void setupCoreDataStackWithiCloudContainerLocalStoreAtURL(const std::optional<std::string>& containerID,
                                                          const Ref<NSURL>& storeURL);
void setupCoreDataStackWithiCloudContainerLocalStoreAtURL(
    const std::optional<std::string>& containerID, const std::optional<std::string>& contentNameKey,
    const Ref<NSURL>& storeURL, const std::optional<std::string>& cloudStorePathComponent,
    Completion completion = nullptr);

}  // namespace DataRecord_iCloud

namespace NSPersistentStoreCoordinator_DataRecord {
// Returned at once; the store is added later on a global queue.
Ref<NSPersistentStoreCoordinator> DR_coordinatorWithiCloudContainerID(
    const std::optional<std::string>& containerID, const std::optional<std::string>& contentNameKey,
    const Value& storeIdentifier, const std::optional<std::string>& cloudStorePathComponent,
    std::function<void()> completion = nullptr);
void DR_addiCloudContainerID(const Ref<NSPersistentStoreCoordinator>& coordinator,
                             const std::optional<std::string>& containerID,
                             const std::optional<std::string>& contentNameKey, const Value& storeIdentifier,
                             const std::optional<std::string>& cloudStorePathComponent,
                             std::function<void()> completion = nullptr);
}  // namespace NSPersistentStoreCoordinator_DataRecord
