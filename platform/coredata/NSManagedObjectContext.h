#pragma once
// Managed object contexts: scratch pads of managed objects over a store coordinator or over a
// parent context.
//
// Concurrency: a context made with NSPrivateQueueConcurrencyType owns a serial queue;
// NSMainQueueConcurrencyType binds it to the main queue; NSConfinementConcurrencyType leaves it
// to the thread that uses it. performBlock() runs a block on the context's queue later;
// performBlockAndWait() runs it there and waits, and runs it at once when the caller already is
// on that queue (it is re-entrant). Objects and the context are used on the context's queue; the
// context's own state is also guarded by a lock, so a child may read and save into its parent
// from the child's queue, and a merge may arrive from any thread.
//
// Saving: a child's save pushes its inserted, updated and deleted objects into its parent (which
// then has those changes unsaved); a context over a coordinator writes them to the store in one
// transaction, giving new objects permanent ids first. Nothing is lost on failure: a failed save
// leaves the context's changes as they were. Changes meet other contexts' changes property by
// property, the saving context's values winning. Will-save and did-save notifications are
// posted on the saving thread, outside the context's lock.
//
// Fetches see the store as changed by the pending changes of the context and its ancestors:
// inserted objects that match are found, deleted ones are not, and updated objects match by
// their current values.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "coredata/CoreDataErrors.h"
#include "coredata/NSFetchRequest.h"
#include "coredata/NSManagedObject.h"
#include "coredata/NSPersistentStoreCoordinator.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/Value.h"

enum NSManagedObjectContextConcurrencyType : unsigned long {
    NSConfinementConcurrencyType = 0,
    NSPrivateQueueConcurrencyType = 1,
    NSMainQueueConcurrencyType = 2,
};

// Merge policies. This store always merges by property with the saving side winning; the
// policy is kept for callers that read it back.
enum class NSMergePolicyType {
    Error,
    MergeByPropertyStoreTrump,
    MergeByPropertyObjectTrump,
    Overwrite,
    Rollback,
};
inline constexpr NSMergePolicyType NSErrorMergePolicy = NSMergePolicyType::Error;
inline constexpr NSMergePolicyType NSMergeByPropertyObjectTrumpMergePolicy =
    NSMergePolicyType::MergeByPropertyObjectTrump;
inline constexpr NSMergePolicyType NSMergeByPropertyStoreTrumpMergePolicy =
    NSMergePolicyType::MergeByPropertyStoreTrump;
inline constexpr NSMergePolicyType NSOverwriteMergePolicy = NSMergePolicyType::Overwrite;
inline constexpr NSMergePolicyType NSRollbackMergePolicy = NSMergePolicyType::Rollback;

class NSManagedObjectContext : public NSObject {
  public:
    explicit NSManagedObjectContext(
        NSManagedObjectContextConcurrencyType type = NSConfinementConcurrencyType);
    ~NSManagedObjectContext() override;

    NSManagedObjectContextConcurrencyType concurrencyType() const { return type_; }

    Ref<NSPersistentStoreCoordinator> persistentStoreCoordinator() const;
    void setPersistentStoreCoordinator(const Ref<NSPersistentStoreCoordinator>& coordinator);
    Ref<NSManagedObjectContext> parentContext() const;
    void setParentContext(const Ref<NSManagedObjectContext>& parent);
    // The model of the coordinator at the root of the chain.
    Ref<NSManagedObjectModel> managedObjectModel() const;

    void performBlock(std::function<void()> block);
    void performBlockAndWait(const std::function<void()>& block);

    // A mutable dictionary for callers' own state.
    Dictionary userInfo() const { return userInfo_; }
    NSMergePolicyType mergePolicy() const;
    void setMergePolicy(NSMergePolicyType policy);
    std::optional<std::string> name() const;
    void setName(std::optional<std::string> name);

    bool hasChanges() const;
    std::vector<Ref<NSManagedObject>> insertedObjects() const;
    std::vector<Ref<NSManagedObject>> updatedObjects() const;
    std::vector<Ref<NSManagedObject>> deletedObjects() const;
    std::vector<Ref<NSManagedObject>> registeredObjects() const;

    void insertObject(const Ref<NSManagedObject>& object);
    // Marks the object deleted and applies its relationships' delete rules (nullify, cascade).
    void deleteObject(const Ref<NSManagedObject>& object);
    // Forgets every object and change.
    void reset();
    // Drops the object's values (refaults it); with mergeChanges, keeps its unsaved changes and
    // takes everything else afresh from the parent or the store.
    void refreshObject(const Ref<NSManagedObject>& object, bool mergeChanges);

    bool save(Ref<NSError>* error = nullptr);

    // The registered object, or a fault for it (never nullptr for a non-null id).
    Ref<NSManagedObject> objectWithID(const Ref<NSManagedObjectID>& objectID);
    // The object with its values, or nullptr and an error (NSManagedObjectReferentialIntegrityError)
    // when it does not exist.
    Ref<NSManagedObject> existingObjectWithID(const Ref<NSManagedObjectID>& objectID,
                                              Ref<NSError>* error = nullptr);
    Ref<NSManagedObject> objectRegisteredForID(const Ref<NSManagedObjectID>& objectID) const;
    bool obtainPermanentIDsForObjects(const std::vector<Ref<NSManagedObject>>& objects,
                                      Ref<NSError>* error = nullptr);

    // Managed objects (or ids, or dictionaries, as the request asks); nullopt and an error on
    // failure (no entity, a property the entity does not have, a store error).
    std::optional<Array> executeFetchRequest(const Ref<NSFetchRequest>& request,
                                             Ref<NSError>* error = nullptr);
    // NSNotFound and an error on failure.
    std::size_t countForFetchRequest(const Ref<NSFetchRequest>& request, Ref<NSError>* error = nullptr);

    // Takes in another context's did-save: objects it updated or inserted are refreshed here
    // (keeping this context's own unsaved changes), objects it deleted are forgotten.
    void mergeChangesFromContextDidSaveNotification(const Ref<NSNotification>& notification);

    std::string className() const override { return "NSManagedObjectContext"; }
    std::string description() const override;

  private:
    friend class NSManagedObject;
    friend struct CoreDataInternals;
    struct State;

    NSManagedObjectContextConcurrencyType type_;
    dispatch_queue_t queue_;
    std::shared_ptr<std::recursive_mutex> lock_;
    Dictionary userInfo_ = Dictionary::mutableDictionary();
    std::unique_ptr<State> state_;
};
