#pragma once
// The context tree of the default stack and its save rules: a private-queue root saving context
// on the default coordinator, a main-queue default context below it, throw-away child contexts
// for background work, one cached child per background thread, merging between contexts, and
// one save operation with option bits from which every other save is made.
//
// Save completions are always called on the main queue, asynchronously, with (saved, error).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "coredata/NSManagedObjectContext.h"

namespace NSManagedObjectContext_DataRecord {
Ref<NSManagedObjectContext> DR_newMainQueueContext();
Ref<NSManagedObjectContext> DR_newPrivateQueueContext();
Ref<NSManagedObjectContext>
DR_contextWithStoreCoordinator(const Ref<NSPersistentStoreCoordinator>& coordinator);
Ref<NSManagedObjectContext> DR_contextWithParent(const Ref<NSManagedObjectContext>& parent);
Ref<NSManagedObjectContext> DR_context();

void DR_initializeDefaultContextWithCoordinator(const Ref<NSPersistentStoreCoordinator>& coordinator);
Ref<NSManagedObjectContext> DR_rootSavingContext();
Ref<NSManagedObjectContext> DR_defaultContext();
void DR_setRootSavingContext(const Ref<NSManagedObjectContext>& context);
void DR_setDefaultContext(const Ref<NSManagedObjectContext>& context);
void DR_resetDefaultContext();
void DR_cleanUp();

// The working name kept in the context's user info ("Untitled Context" when missing or empty).
void DR_setWorkingName(const Ref<NSManagedObjectContext>& context, const std::string& name);
std::string DR_workingName(const Ref<NSManagedObjectContext>& context);
std::string DR_description(const Ref<NSManagedObjectContext>& context);
std::string DR_parentChain(const Ref<NSManagedObjectContext>& context);
void DR_deleteObjects(const Ref<NSManagedObjectContext>& context,
                      const std::vector<Ref<NSManagedObject>>& objects);
void DR_obtainPermanentIDsBeforeSaving(const Ref<NSManagedObjectContext>& context);
void DR_contextWillSave(const Ref<NSNotification>& notification);
void rootContextDidSave(const Ref<NSNotification>& notification);
}  // namespace NSManagedObjectContext_DataRecord

namespace NSManagedObjectContext_DataRecordDeprecated {
Ref<NSManagedObjectContext> DR_contextWithoutParent();
Ref<NSManagedObjectContext> DR_newContext();
Ref<NSManagedObjectContext> DR_newContextWithParent(const Ref<NSManagedObjectContext>& parent);
Ref<NSManagedObjectContext>
DR_newContextWithStoreCoordinator(const Ref<NSPersistentStoreCoordinator>& coordinator);
}  // namespace NSManagedObjectContext_DataRecordDeprecated

namespace NSManagedObjectContext_DataThreading {
// The default context on the main thread; elsewhere the thread's own child of the default
// context, made again after DR_clearNonMainThreadContextsCache.
Ref<NSManagedObjectContext> DR_contextForCurrentThread();
void DR_clearNonMainThreadContextsCache();
void DR_clearContextForCurrentThread();
void DR_resetContextForCurrentThread();
}  // namespace NSManagedObjectContext_DataThreading

namespace NSManagedObjectContext_DataObserving {
void DR_observeContext(const Ref<NSManagedObjectContext>& receiver, const Ref<NSManagedObjectContext>& other);
void DR_observeContextOnMainThread(const Ref<NSManagedObjectContext>& receiver,
                                   const Ref<NSManagedObjectContext>& other);
void DR_stopObservingContext(const Ref<NSManagedObjectContext>& receiver,
                             const Ref<NSManagedObjectContext>& other);
void DR_mergeChangesFromNotification(const Ref<NSManagedObjectContext>& receiver,
                                     const Ref<NSNotification>& notification);
void DR_mergeChangesOnMainThread(const Ref<NSManagedObjectContext>& receiver,
                                 const Ref<NSNotification>& notification);
void DR_observeiCloudChangesInCoordinator(const Ref<NSManagedObjectContext>& receiver,
                                          const Ref<NSPersistentStoreCoordinator>& coordinator);
void DR_stopObservingiCloudChangesInCoordinator(const Ref<NSManagedObjectContext>& receiver,
                                                const Ref<NSPersistentStoreCoordinator>& coordinator);
void DR_mergeChangesFromiCloud(const Ref<NSManagedObjectContext>& receiver,
                               const Ref<NSNotification>& notification);
}  // namespace NSManagedObjectContext_DataObserving

using DRSaveOptions = std::uint64_t;
enum : DRSaveOptions {
    DRSaveWithoutOptions = 0,
    // After this context saved, save its parent too, up the chain.
    DRSaveParentContexts = 2,
    // Save synchronously (the caller waits).
    DRSaveSynchronously = 4,
    // Save synchronously unless the context is the root saving context.
    DRSaveSynchronouslyExceptRootContext = 8,
};
using DRSaveCompletionHandler = std::function<void(bool saved, const Ref<NSError>& error)>;

namespace NSManagedObjectContext_DataSaves {
void DR_saveWithOptions(const Ref<NSManagedObjectContext>& context, DRSaveOptions options,
                        DRSaveCompletionHandler completion);
void DR_saveOnlySelfWithCompletion(const Ref<NSManagedObjectContext>& context,
                                   DRSaveCompletionHandler completion);
void DR_saveOnlySelfAndWait(const Ref<NSManagedObjectContext>& context);
void DR_saveToPersistentStoreWithCompletion(const Ref<NSManagedObjectContext>& context,
                                            DRSaveCompletionHandler completion);
void DR_saveToPersistentStoreAndWait(const Ref<NSManagedObjectContext>& context);
}  // namespace NSManagedObjectContext_DataSaves

namespace NSManagedObjectContext_DataSavesDeprecated {
using ErrorBlock = std::function<void(const Ref<NSError>& error)>;
using Block = std::function<void()>;
void DR_save(const Ref<NSManagedObjectContext>& context);
void DR_saveWithErrorCallback(const Ref<NSManagedObjectContext>& context, ErrorBlock errorCallback);
void DR_saveInBackgroundCompletion(const Ref<NSManagedObjectContext>& context, Block completion);
void DR_saveInBackgroundErrorHandler(const Ref<NSManagedObjectContext>& context, ErrorBlock errorHandler);
void DR_saveInBackgroundErrorHandlerCompletion(const Ref<NSManagedObjectContext>& context,
                                               ErrorBlock errorHandler, Block completion);
void DR_saveNestedContexts(const Ref<NSManagedObjectContext>& context);
void DR_saveNestedContextsErrorHandler(const Ref<NSManagedObjectContext>& context, ErrorBlock errorHandler);
void DR_saveNestedContextsErrorHandlerCompletion(const Ref<NSManagedObjectContext>& context,
                                                 ErrorBlock errorHandler, Block completion);
}  // namespace NSManagedObjectContext_DataSavesDeprecated

// The caller's block receives the working context and makes its changes there.
using DRSaveBlock = std::function<void(const Ref<NSManagedObjectContext>& localContext)>;

namespace NSManagedObjectContext_DataRecord_ChainSave {
void DR_saveWithBlock(const Ref<NSManagedObjectContext>& context, DRSaveBlock block,
                      DRSaveCompletionHandler completion = nullptr);
void DR_saveWithBlockAndWait(const Ref<NSManagedObjectContext>& context, DRSaveBlock block);
}  // namespace NSManagedObjectContext_DataRecord_ChainSave

namespace DataRecord_Actions {
void saveWithBlock(DRSaveBlock block, DRSaveCompletionHandler completion = nullptr);
void saveWithBlockAndWait(DRSaveBlock block);
void saveUsingCurrentThreadContextWithBlock(DRSaveBlock block, DRSaveCompletionHandler completion);
void saveUsingCurrentThreadContextWithBlockAndWait(DRSaveBlock block);
}  // namespace DataRecord_Actions

namespace DataRecord_ActionsDeprecated {
void saveInBackgroundWithBlock(DRSaveBlock block);
void saveInBackgroundWithBlockCompletion(DRSaveBlock block, std::function<void()> completion);
void saveInBackgroundUsingCurrentContextWithBlock(
    DRSaveBlock block, std::function<void()> completion,
    std::function<void(const Ref<NSError>& error)> errorHandler);
}  // namespace DataRecord_ActionsDeprecated
