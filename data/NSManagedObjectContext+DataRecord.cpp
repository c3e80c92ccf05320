#include "data/NSManagedObjectContext+DataRecord.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "data/DataRecord+iCloud.h"
#include "data/DataRecord.h"
#include "data/NSPersistentStoreCoordinator+DataRecord.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSException.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSOperationQueue.h"
#include "foundation/NSString.h"
#include "foundation/NSThread.h"

namespace {

constexpr char kWorkingNameKey[] = "DataRecordContextWorkingName";
constexpr char kThreadContextKey[] = "DataRecord_NSManagedObjectContextForThreadKey";
constexpr char kThreadGenerationKey[] = "DataRecord_CacheVersionOfNSManagedObjectContextForThreadKey";

struct ContextState {
    // The lock of the context class: the default context is read under it.
    std::recursive_mutex lock;
    Ref<NSManagedObjectContext> root;
    Ref<NSManagedObjectContext> defaultContext;
    Ref<NSObject> iCloudSetupToken;
    Ref<NSObject> rootDidSaveToken;
    std::atomic<std::int32_t> generation{0};
};

ContextState& contexts() {
    static ContextState* s = new ContextState();
    return *s;
}

std::string pointerText(const void* p) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%p", p);
    return buffer;
}

void onMainQueue(std::function<void()> block) {
    dispatch_async(dispatch_get_main_queue(), std::move(block));
}

}  // namespace

namespace NSManagedObjectContext_DataRecord {

Ref<NSManagedObjectContext> DR_newMainQueueContext() {
    auto context = make<NSManagedObjectContext>(NSMainQueueConcurrencyType);
    detail::drLog(DataRecordLogInfo, "Created new main queue context: %@", context);
    return context;
}

Ref<NSManagedObjectContext> DR_newPrivateQueueContext() {
    auto context = make<NSManagedObjectContext>(NSPrivateQueueConcurrencyType);
    detail::drLog(DataRecordLogInfo, "Created new private queue context: %@", context);
    return context;
}

Ref<NSManagedObjectContext>
DR_contextWithStoreCoordinator(const Ref<NSPersistentStoreCoordinator>& coordinator) {
    if (!coordinator) return nullptr;
    auto context = DR_newPrivateQueueContext();
    context->performBlockAndWait([&] {
        context->setPersistentStoreCoordinator(coordinator);
        detail::drLog(DataRecordLogVerbose, "Created new context %@ with store coordinator: %@",
                      DR_workingName(context), coordinator);
    });
    return context;
}

Ref<NSManagedObjectContext> DR_contextWithParent(const Ref<NSManagedObjectContext>& parent) {
    auto context = DR_newPrivateQueueContext();
    context->setParentContext(parent);
    DR_obtainPermanentIDsBeforeSaving(context);
    return context;
}

Ref<NSManagedObjectContext> DR_context() {
    return DR_contextWithParent(DR_rootSavingContext());
}

void DR_initializeDefaultContextWithCoordinator(const Ref<NSPersistentStoreCoordinator>& coordinator) {
    if (DR_defaultContext()) return;
    auto root = DR_contextWithStoreCoordinator(coordinator);
    DR_setRootSavingContext(root);
    auto context = DR_newMainQueueContext();
    DR_setDefaultContext(context);
    context->setParentContext(root);
}

Ref<NSManagedObjectContext> DR_rootSavingContext() {
    std::lock_guard<std::recursive_mutex> guard(contexts().lock);
    return contexts().root;
}

Ref<NSManagedObjectContext> DR_defaultContext() {
    std::lock_guard<std::recursive_mutex> guard(contexts().lock);
    return contexts().defaultContext;
}

void DR_setRootSavingContext(const Ref<NSManagedObjectContext>& context) {
    Ref<NSManagedObjectContext> old;
    {
        std::lock_guard<std::recursive_mutex> guard(contexts().lock);
        old = contexts().root;
        contexts().root = context;
    }
    if (old) NSNotificationCenter::defaultCenter()->removeObserver(old);
    if (context) {
        context->performBlock([] {
            // Acts on whatever context is the root when this runs.
            auto root = DR_rootSavingContext();
            if (!root) return;
            DR_obtainPermanentIDsBeforeSaving(root);
            root->setMergePolicy(NSMergeByPropertyObjectTrumpMergePolicy);
            DR_setWorkingName(root, "DataRecord Root Saving Context");
        });
    }
    detail::drLog(DataRecordLogInfo, "Set root saving context: %@", context);
}

void DR_setDefaultContext(const Ref<NSManagedObjectContext>& context) {
    auto center = NSNotificationCenter::defaultCenter();
    Ref<NSManagedObjectContext> old;
    Ref<NSObject> oldToken, oldRootToken;
    {
        std::lock_guard<std::recursive_mutex> guard(contexts().lock);
        old = contexts().defaultContext;
        oldToken = std::move(contexts().iCloudSetupToken);
        oldRootToken = std::move(contexts().rootDidSaveToken);
    }
    if (old) center->removeObserver(old);
    if (oldRootToken) center->removeObserver(oldRootToken);
    auto coordinator = NSPersistentStoreCoordinator_DataRecord::DR_defaultStoreCoordinator();
    if (oldToken) center->removeObserver(oldToken);
    if (DataRecord_iCloud::isICloudEnabled() && old) {
        NSManagedObjectContext_DataObserving::DR_stopObservingiCloudChangesInCoordinator(old, coordinator);
    }
    {
        std::lock_guard<std::recursive_mutex> guard(contexts().lock);
        contexts().defaultContext = context;
    }
    if (context) DR_setWorkingName(context, "DataRecord Default Context");
    auto root = DR_rootSavingContext();
    if (context && root) {
        auto token = center->addObserverForName(NSManagedObjectContextDidSaveNotification, root, nullptr,
                                                [](const Ref<NSNotification>& n) { rootContextDidSave(n); });
        std::lock_guard<std::recursive_mutex> guard(contexts().lock);
        contexts().rootDidSaveToken = token;
    }
    if (context) {
        DR_obtainPermanentIDsBeforeSaving(context);
        if (DataRecord_iCloud::isICloudEnabled()) {
            NSManagedObjectContext_DataObserving::DR_observeiCloudChangesInCoordinator(context, coordinator);
        } else {
            auto token = center->addObserverForName(
                kDataRecordPSCDidCompleteiCloudSetupNotification, nullptr, NSOperationQueue::mainQueue(),
                [coordinator](const Ref<NSNotification>&) {
                    if (auto current = DR_defaultContext())
                        NSManagedObjectContext_DataObserving::DR_observeiCloudChangesInCoordinator(
                            current, coordinator);
                });
            std::lock_guard<std::recursive_mutex> guard(contexts().lock);
            contexts().iCloudSetupToken = token;
        }
    }
    detail::drLog(DataRecordLogInfo, "Set default context: %@", context);
}

void DR_resetDefaultContext() {
    if (!NSThread::isMainThread()) {
        onMainQueue([] { DR_resetDefaultContext(); });
        return;
    }
    if (auto context = DR_defaultContext()) context->reset();
}

void DR_cleanUp() {
    DR_setDefaultContext(nullptr);
    DR_setRootSavingContext(nullptr);
    NSManagedObjectContext_DataThreading::DR_clearNonMainThreadContextsCache();
}

void DR_setWorkingName(const Ref<NSManagedObjectContext>& context, const std::string& name) {
    if (!context) return;
    context->userInfo().setObject(kWorkingNameKey, name);
}

std::string DR_workingName(const Ref<NSManagedObjectContext>& context) {
    if (!context) return "Untitled Context";
    Value name = context->userInfo()[kWorkingNameKey];
    return name.isString() && !name.string()->empty() ? *name.string() : "Untitled Context";
}

std::string DR_description(const Ref<NSManagedObjectContext>& context) {
    if (!context) return "(null)";
    std::string name;
    context->performBlockAndWait([&] { name = DR_workingName(context); });
    return "<" + context->className() + " (" + pointerText(context.get()) + "): " + name + "> on " +
           (NSThread::isMainThread() ? "the main thread" : "a background thread");
}

std::string DR_parentChain(const Ref<NSManagedObjectContext>& context) {
    std::string chain = "\n";
    for (auto c = context; c; c = c->parentContext()) {
        chain += "- " + DR_workingName(c) + " (" + pointerText(c.get()) + ") " + (c == context ? "(*)" : "") +
                 "\n";
    }
    return chain;
}

void DR_deleteObjects(const Ref<NSManagedObjectContext>& context,
                      const std::vector<Ref<NSManagedObject>>& objects) {
    if (!context) return;
    for (const auto& o : objects) context->deleteObject(o);
}

void DR_obtainPermanentIDsBeforeSaving(const Ref<NSManagedObjectContext>& context) {
    if (!context) return;
    NSNotificationCenter::defaultCenter()->addObserver(
        context, "DR_contextWillSave:", [](const Ref<NSNotification>& n) { DR_contextWillSave(n); },
        std::string(NSManagedObjectContextWillSaveNotification), context);
}

void DR_contextWillSave(const Ref<NSNotification>& notification) {
    auto context = notification ? asKind<NSManagedObjectContext>(notification->object()) : nullptr;
    if (!context) return;
    auto inserted = context->insertedObjects();
    if (inserted.empty()) return;
    detail::drLog(DataRecordLogVerbose,
                  "Context '%@' is about to save: obtaining permanent IDs for %lu new inserted object(s).",
                  DR_workingName(context), static_cast<unsigned long>(inserted.size()));
    Ref<NSError> error;
    if (!context->obtainPermanentIDsForObjects(inserted, &error)) DataRecord::handleErrors(error);
}

void rootContextDidSave(const Ref<NSNotification>& notification) {
    if (!notification || notification->object() != DR_rootSavingContext()) return;
    if (!NSThread::isMainThread()) {
        onMainQueue([notification] { rootContextDidSave(notification); });
        return;
    }
    auto context = DR_defaultContext();
    if (!context) return;
    if (const Array* updated = notification->userInfoValue(NSUpdatedObjectsKey).array()) {
        for (const Value& v : *updated) {
            auto object = v.objectAs<NSManagedObject>();
            if (!object) continue;
            // Fired now, so that the merge finds it loaded.
            context->objectWithID(object->objectID())->willAccessValueForKey(std::nullopt);
        }
    }
    context->mergeChangesFromContextDidSaveNotification(notification);
}

}  // namespace NSManagedObjectContext_DataRecord

namespace NSManagedObjectContext_DataRecordDeprecated {
Ref<NSManagedObjectContext> DR_contextWithoutParent() {
    return make<NSManagedObjectContext>(NSPrivateQueueConcurrencyType);
}
Ref<NSManagedObjectContext> DR_newContext() {
    return NSManagedObjectContext_DataRecord::DR_context();
}
Ref<NSManagedObjectContext> DR_newContextWithParent(const Ref<NSManagedObjectContext>& parent) {
    return NSManagedObjectContext_DataRecord::DR_contextWithParent(parent);
}
Ref<NSManagedObjectContext>
DR_newContextWithStoreCoordinator(const Ref<NSPersistentStoreCoordinator>& coordinator) {
    return NSManagedObjectContext_DataRecord::DR_contextWithStoreCoordinator(coordinator);
}
}  // namespace NSManagedObjectContext_DataRecordDeprecated

namespace NSManagedObjectContext_DataThreading {

Ref<NSManagedObjectContext> DR_contextForCurrentThread() {
    if (NSThread::isMainThread()) return NSManagedObjectContext_DataRecord::DR_defaultContext();
    std::int32_t generation = contexts().generation.load();
    Dictionary dictionary = NSThread::currentThread()->threadDictionary();
    auto context = dictionary[kThreadContextKey].objectAs<NSManagedObjectContext>();
    const Value& stored = dictionary[kThreadGenerationKey];
    if (context && stored.isNumber() && static_cast<std::int32_t>(stored.intValue()) == generation)
        return context;
    context = NSManagedObjectContext_DataRecord::DR_contextWithParent(
        NSManagedObjectContext_DataRecord::DR_defaultContext());
    dictionary.setObject(kThreadContextKey, context);
    dictionary.setObject(kThreadGenerationKey, Value(generation));
    return context;
}

void DR_clearNonMainThreadContextsCache() {
    contexts().generation.fetch_add(1);
}

void DR_clearContextForCurrentThread() {
    Dictionary dictionary = NSThread::currentThread()->threadDictionary();
    dictionary.removeObjectForKey(kThreadContextKey);
    dictionary.removeObjectForKey(kThreadGenerationKey);
}

void DR_resetContextForCurrentThread() {
    if (auto context = DR_contextForCurrentThread()) context->reset();
}

}  // namespace NSManagedObjectContext_DataThreading

namespace NSManagedObjectContext_DataObserving {

void DR_observeContext(const Ref<NSManagedObjectContext>& receiver,
                       const Ref<NSManagedObjectContext>& other) {
    if (!receiver || !other) return;
    Weak<NSManagedObjectContext> weak = receiver;
    NSNotificationCenter::defaultCenter()->addObserver(
        receiver, "DR_mergeChangesFromNotification:",
        [weak](const Ref<NSNotification>& n) {
            if (auto r = weak.lock()) DR_mergeChangesFromNotification(r, n);
        },
        std::string(NSManagedObjectContextDidSaveNotification), other);
}

void DR_observeContextOnMainThread(const Ref<NSManagedObjectContext>& receiver,
                                   const Ref<NSManagedObjectContext>& other) {
    if (!receiver || !other) return;
    Weak<NSManagedObjectContext> weak = receiver;
    NSNotificationCenter::defaultCenter()->addObserver(
        receiver, "DR_mergeChangesOnMainThread:",
        [weak](const Ref<NSNotification>& n) {
            if (auto r = weak.lock()) DR_mergeChangesOnMainThread(r, n);
        },
        std::string(NSManagedObjectContextDidSaveNotification), other);
}

void DR_stopObservingContext(const Ref<NSManagedObjectContext>& receiver,
                             const Ref<NSManagedObjectContext>& other) {
    if (!receiver) return;
    NSNotificationCenter::defaultCenter()->removeObserver(
        receiver, std::string(NSManagedObjectContextDidSaveNotification), other.get());
}

void DR_mergeChangesFromNotification(const Ref<NSManagedObjectContext>& receiver,
                                     const Ref<NSNotification>& notification) {
    if (!receiver) return;
    detail::drLog(DataRecordLogVerbose, "Merging changes to %@context%@",
                  receiver == NSManagedObjectContext_DataRecord::DR_defaultContext() ? "*** DEFAULT *** "
                                                                                     : "",
                  NSThread::isMainThread() ? " *** on Main Thread ***" : "");
    receiver->mergeChangesFromContextDidSaveNotification(notification);
}

void DR_mergeChangesOnMainThread(const Ref<NSManagedObjectContext>& receiver,
                                 const Ref<NSNotification>& notification) {
    if (NSThread::isMainThread()) {
        DR_mergeChangesFromNotification(receiver, notification);
        return;
    }
    dispatch_sync(dispatch_get_main_queue(),
                  [&] { DR_mergeChangesFromNotification(receiver, notification); });
}

}  // namespace NSManagedObjectContext_DataObserving

namespace NSManagedObjectContext_DataSaves {

namespace {

void complete(const DRSaveCompletionHandler& completion, bool saved, const Ref<NSError>& error) {
    if (!completion) return;
    onMainQueue([completion, saved, error] { completion(saved, error); });
}

void saveStep(const Ref<NSManagedObjectContext>& context, DRSaveOptions options, bool wait,
              const DRSaveCompletionHandler& completion) {
    detail::drLog(DataRecordLogInfo, "→ Saving %@",
                  NSManagedObjectContext_DataRecord::DR_description(context));
    detail::drLog(DataRecordLogVerbose, "→ Save Parents? %@",
                  (options & DRSaveParentContexts) ? "YES" : "NO");
    detail::drLog(DataRecordLogVerbose, "→ Save Synchronously? %@", wait ? "YES" : "NO");
    bool saved = false;
    Ref<NSError> error;
    try {
        saved = context->save(&error);
    } catch (const NSException& exception) {
        detail::drLog(DataRecordLogError, "Unable to perform save: %@",
                      !exception.userInfo().empty() ? Value(exception.userInfo())
                                                    : Value(exception.reason()));
        saved = false;
        error = nullptr;
    }
    DataRecord::handleErrors(error);
    auto parent = context->parentContext();
    if (saved && (options & DRSaveParentContexts) && parent) {
        DRSaveOptions next =
            wait ? (options | DRSaveSynchronously) : (options & ~DRSaveOptions(DRSaveSynchronously));
        DR_saveWithOptions(parent, next, completion);
        return;
    }
    if (saved)
        detail::drLog(DataRecordLogVerbose, "→ Finished saving: %@",
                      NSManagedObjectContext_DataRecord::DR_description(context));
    complete(completion, saved, error);
}

}  // namespace

void DR_saveWithOptions(const Ref<NSManagedObjectContext>& context, DRSaveOptions options,
                        DRSaveCompletionHandler completion) {
    if (!context) return;
    bool hasChanges = false;
    if (context->concurrencyType() == NSConfinementConcurrencyType) {
        hasChanges = context->hasChanges();
    } else {
        context->performBlockAndWait([&] { hasChanges = context->hasChanges(); });
    }
    if (!hasChanges) {
        detail::drLog(DataRecordLogVerbose, "NO CHANGES IN ** %@ ** CONTEXT - NOT SAVING",
                      NSManagedObjectContext_DataRecord::DR_workingName(context));
        complete(completion, false, nullptr);
        return;
    }
    bool wait = (options & DRSaveSynchronouslyExceptRootContext)
                    ? context != NSManagedObjectContext_DataRecord::DR_rootSavingContext()
                    : (options & DRSaveSynchronously) != 0;
    if (wait || context->concurrencyType() == NSConfinementConcurrencyType) {
        // A confinement context has no queue to save on later: it saves now, on its own thread.
        context->performBlockAndWait([&] { saveStep(context, options, wait, completion); });
    } else {
        context->performBlock(
            [context, options, completion] { saveStep(context, options, false, completion); });
    }
}

void DR_saveOnlySelfWithCompletion(const Ref<NSManagedObjectContext>& context,
                                   DRSaveCompletionHandler completion) {
    DR_saveWithOptions(context, DRSaveWithoutOptions, std::move(completion));
}

void DR_saveOnlySelfAndWait(const Ref<NSManagedObjectContext>& context) {
    DR_saveWithOptions(context, DRSaveSynchronously, nullptr);
}

void DR_saveToPersistentStoreWithCompletion(const Ref<NSManagedObjectContext>& context,
                                            DRSaveCompletionHandler completion) {
    DR_saveWithOptions(context, DRSaveParentContexts, std::move(completion));
}

void DR_saveToPersistentStoreAndWait(const Ref<NSManagedObjectContext>& context) {
    DR_saveWithOptions(context, DRSaveParentContexts | DRSaveSynchronously, nullptr);
}

}  // namespace NSManagedObjectContext_DataSaves

namespace NSManagedObjectContext_DataSavesDeprecated {

using namespace NSManagedObjectContext_DataSaves;

namespace {
// Completion when saved (if given); otherwise the error handler with the error. A successful
// save without a completion calls nothing: an error handler is for errors.
DRSaveCompletionHandler either(ErrorBlock errorHandler, Block completion) {
    return [errorHandler, completion](bool saved, const Ref<NSError>& error) {
        if (saved) {
            if (completion) completion();
            return;
        }
        if (errorHandler) errorHandler(error);
    };
}
}  // namespace

void DR_save(const Ref<NSManagedObjectContext>& context) {
    DR_saveToPersistentStoreAndWait(context);
}

void DR_saveWithErrorCallback(const Ref<NSManagedObjectContext>& context, ErrorBlock errorCallback) {
    DR_saveWithOptions(context, DRSaveParentContexts | DRSaveSynchronously,
                       [errorCallback](bool saved, const Ref<NSError>& error) {
                           if (!saved && errorCallback) errorCallback(error);
                       });
}

void DR_saveInBackgroundCompletion(const Ref<NSManagedObjectContext>& context, Block completion) {
    DR_saveOnlySelfWithCompletion(context, [completion](bool saved, const Ref<NSError>&) {
        if (saved && completion) completion();
    });
}

void DR_saveInBackgroundErrorHandler(const Ref<NSManagedObjectContext>& context, ErrorBlock errorHandler) {
    DR_saveOnlySelfWithCompletion(context, [errorHandler](bool saved, const Ref<NSError>& error) {
        if (!saved && errorHandler) errorHandler(error);
    });
}

void DR_saveInBackgroundErrorHandlerCompletion(const Ref<NSManagedObjectContext>& context,
                                               ErrorBlock errorHandler, Block completion) {
    DR_saveOnlySelfWithCompletion(context, either(std::move(errorHandler), std::move(completion)));
}

void DR_saveNestedContexts(const Ref<NSManagedObjectContext>& context) {
    DR_saveToPersistentStoreWithCompletion(context, nullptr);
}

void DR_saveNestedContextsErrorHandler(const Ref<NSManagedObjectContext>& context, ErrorBlock errorHandler) {
    DR_saveToPersistentStoreWithCompletion(context, [errorHandler](bool saved, const Ref<NSError>& error) {
        if (!saved && errorHandler) errorHandler(error);
    });
}

void DR_saveNestedContextsErrorHandlerCompletion(const Ref<NSManagedObjectContext>& context,
                                                 ErrorBlock errorHandler, Block completion) {
    DR_saveToPersistentStoreWithCompletion(context, either(std::move(errorHandler), std::move(completion)));
}

}  // namespace NSManagedObjectContext_DataSavesDeprecated

namespace {

Ref<NSManagedObjectContext> workingContext(const Ref<NSManagedObjectContext>& parent, const char* name) {
    auto context = NSManagedObjectContext_DataRecord::DR_contextWithParent(parent);
    NSManagedObjectContext_DataRecord::DR_setWorkingName(context, name);
    return context;
}

}  // namespace

namespace NSManagedObjectContext_DataRecord_ChainSave {

void DR_saveWithBlock(const Ref<NSManagedObjectContext>& context, DRSaveBlock block,
                      DRSaveCompletionHandler completion) {
    auto local = workingContext(context, "DR_saveWithBlock:completion:");
    local->performBlock([local, block, completion] {
        if (block) block(local);
        NSManagedObjectContext_DataSaves::DR_saveWithOptions(local, DRSaveParentContexts, completion);
    });
}

void DR_saveWithBlockAndWait(const Ref<NSManagedObjectContext>& context, DRSaveBlock block) {
    auto local = workingContext(context, "DR_saveWithBlockAndWait:");
    local->performBlockAndWait([&] {
        if (block) block(local);
        NSManagedObjectContext_DataSaves::DR_saveWithOptions(
            local, DRSaveParentContexts | DRSaveSynchronously, nullptr);
    });
}

}  // namespace NSManagedObjectContext_DataRecord_ChainSave

namespace DataRecord_Actions {

void saveWithBlock(DRSaveBlock block, DRSaveCompletionHandler completion) {
    auto local = workingContext(NSManagedObjectContext_DataRecord::DR_rootSavingContext(),
                                "saveWithBlock:completion:");
    local->performBlock([local, block, completion] {
        if (block) block(local);
        NSManagedObjectContext_DataSaves::DR_saveWithOptions(local, DRSaveParentContexts, completion);
    });
}

void saveWithBlockAndWait(DRSaveBlock block) {
    auto local =
        workingContext(NSManagedObjectContext_DataRecord::DR_rootSavingContext(), "saveWithBlockAndWait:");
    local->performBlockAndWait([&] {
        if (block) block(local);
        NSManagedObjectContext_DataSaves::DR_saveWithOptions(
            local, DRSaveParentContexts | DRSaveSynchronously, nullptr);
    });
}

void saveUsingCurrentThreadContextWithBlock(DRSaveBlock block, DRSaveCompletionHandler completion) {
    auto local = NSManagedObjectContext_DataThreading::DR_contextForCurrentThread();
    if (!local) return;
    NSManagedObjectContext_DataRecord::DR_setWorkingName(
        local, "saveUsingCurrentThreadContextWithBlock:completion:");
    auto run = [local, block, completion] {
        if (block) block(local);
        NSManagedObjectContext_DataSaves::DR_saveWithOptions(local, DRSaveParentContexts, completion);
    };
    if (local->concurrencyType() == NSConfinementConcurrencyType) {
        run();
    } else {
        local->performBlock(run);
    }
}

void saveUsingCurrentThreadContextWithBlockAndWait(DRSaveBlock block) {
    auto local = NSManagedObjectContext_DataThreading::DR_contextForCurrentThread();
    if (!local) return;
    NSManagedObjectContext_DataRecord::DR_setWorkingName(local,
                                                         "saveUsingCurrentThreadContextWithBlockAndWait:");
    local->performBlockAndWait([&] {
        if (block) block(local);
        NSManagedObjectContext_DataSaves::DR_saveWithOptions(
            local, DRSaveParentContexts | DRSaveSynchronously, nullptr);
    });
}

}  // namespace DataRecord_Actions

namespace DataRecord_ActionsDeprecated {

void saveInBackgroundWithBlock(DRSaveBlock block) {
    DataRecord_Actions::saveWithBlock(std::move(block), nullptr);
}

void saveInBackgroundWithBlockCompletion(DRSaveBlock block, std::function<void()> completion) {
    auto local = workingContext(NSManagedObjectContext_DataRecord::DR_rootSavingContext(),
                                "saveInBackgroundWithBlock:completion:");
    local->performBlock([local, block, completion] {
        if (block) block(local);
        NSManagedObjectContext_DataSaves::DR_saveToPersistentStoreAndWait(local);
        if (completion) completion();
    });
}

void saveInBackgroundUsingCurrentContextWithBlock(
    DRSaveBlock block, std::function<void()> completion,
    std::function<void(const Ref<NSError>& error)> errorHandler) {
    auto local = NSManagedObjectContext_DataThreading::DR_contextForCurrentThread();
    if (!local) return;
    NSManagedObjectContext_DataRecord::DR_setWorkingName(
        local, "saveInBackgroundUsingCurrentContextWithBlock:completion:errorHandler:");
    local->performBlock([local, block, completion, errorHandler] {
        if (block) block(local);
        NSManagedObjectContext_DataSaves::DR_saveToPersistentStoreWithCompletion(
            local, [completion, errorHandler](bool saved, const Ref<NSError>& error) {
                if (saved) {
                    if (completion) completion();
                } else if (errorHandler) {
                    errorHandler(error);
                }
            });
    });
}

}  // namespace DataRecord_ActionsDeprecated
