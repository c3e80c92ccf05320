#pragma once
// Store coordinators and persistent stores.
//
// A coordinator joins a model to its stores: SQLite files (NSSQLiteStoreType) and in-memory
// stores (NSInMemoryStoreType, an SQLite database that lives in memory and goes with the
// store). A store file remembers the model it was made with (its entity version hashes and the
// model document). Opening a store made with another model:
//   - without NSMigratePersistentStoresAutomaticallyOption and
//     NSInferMappingModelAutomaticallyOption: NSPersistentStoreIncompatibleVersionHashError;
//   - with both: a lightweight migration in place when the new model only adds attributes
//     (optional or with a default) and entities; NSMigrationError when it changes more;
//     NSMigrationMissingSourceModelError when the file does not say which model made it.
// A file that is not a store (or a damaged one) gives NSFileReadCorruptFileError with the SQLite
// message; it is left as it is. NSSQLitePragmasOption {"journal_mode": "WAL"} puts the file in
// write-ahead mode, with its "-wal" and "-shm" side files. Ubiquitous-content options are
// accepted and have no effect.
//
// Contexts reach the stores only through the coordinator, which serialises every store access
// under its own lock; lock()/unlock() and performBlockAndWait() take that lock for callers.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "coredata/NSManagedObjectModel.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"

inline constexpr char NSSQLiteStoreType[] = "SQLite";
inline constexpr char NSInMemoryStoreType[] = "InMemory";
inline constexpr char NSMigratePersistentStoresAutomaticallyOption[] =
    "NSMigratePersistentStoresAutomaticallyOption";
inline constexpr char NSInferMappingModelAutomaticallyOption[] = "NSInferMappingModelAutomaticallyOption";
inline constexpr char NSSQLitePragmasOption[] = "NSSQLitePragmasOption";
inline constexpr char NSPersistentStoreUbiquitousContentNameKey[] =
    "NSPersistentStoreUbiquitousContentNameKey";
inline constexpr char NSPersistentStoreUbiquitousContentURLKey[] = "NSPersistentStoreUbiquitousContentURLKey";

namespace detail {
class StoreBackend;
}
class NSPersistentStoreCoordinator;
class NSManagedObjectID;

class NSPersistentStore : public NSObject {
  public:
    NSPersistentStore(std::string type, std::optional<std::string> configuration, Ref<NSURL> url,
                      std::optional<Dictionary> options, std::unique_ptr<detail::StoreBackend> backend);
    ~NSPersistentStore() override;

    const std::string& type() const { return type_; }
    const std::optional<std::string>& configurationName() const { return configuration_; }
    // nullptr for an in-memory store.
    const Ref<NSURL>& URL() const { return url_; }
    const std::optional<Dictionary>& options() const { return options_; }
    // A unique id, kept in the store file.
    const std::string& identifier() const { return identifier_; }
    Ref<NSPersistentStoreCoordinator> persistentStoreCoordinator() const { return coordinator_.lock(); }

    std::string className() const override { return "NSPersistentStore"; }
    std::string description() const override;

    detail::StoreBackend& backend() { return *backend_; }

  private:
    friend class NSPersistentStoreCoordinator;
    std::string type_;
    std::optional<std::string> configuration_;
    Ref<NSURL> url_;
    std::optional<Dictionary> options_;
    std::string identifier_;
    Weak<NSPersistentStoreCoordinator> coordinator_;
    std::unique_ptr<detail::StoreBackend> backend_;
};

class NSPersistentStoreCoordinator : public NSObject {
  public:
    explicit NSPersistentStoreCoordinator(Ref<NSManagedObjectModel> model);
    ~NSPersistentStoreCoordinator() override;

    const Ref<NSManagedObjectModel>& managedObjectModel() const { return model_; }
    std::vector<Ref<NSPersistentStore>> persistentStores() const;

    // nullptr and the reason in `error` on failure (see above); NSPersistentStoreInvalidTypeError
    // for an unknown type or a SQLite store without a file URL.
    Ref<NSPersistentStore> addPersistentStoreWithType(const std::string& type,
                                                      const std::optional<std::string>& configuration,
                                                      const Ref<NSURL>& url,
                                                      const std::optional<Dictionary>& options,
                                                      Ref<NSError>* error = nullptr);
    bool removePersistentStore(const Ref<NSPersistentStore>& store, Ref<NSError>* error = nullptr);
    Ref<NSPersistentStore> persistentStoreForURL(const Ref<NSURL>& url) const;

    // The coordinator's lock (recursive).
    void lock();
    void unlock();
    bool tryLock();
    void performBlockAndWait(const std::function<void()>& block);
    void performBlock(std::function<void()> block);

    // The object id of a stored object (one id object per stored object).
    Ref<NSManagedObjectID> objectIDFor(const Ref<NSEntityDescription>& entity,
                                       const Ref<NSPersistentStore>& store, std::int64_t key);
    // A temporary id for a new object.
    static Ref<NSManagedObjectID> newTemporaryID(const Ref<NSEntityDescription>& entity);
    // Gives the ids permanent keys in the first store; false and an error when there is none.
    bool obtainPermanentIDs(const std::vector<Ref<NSManagedObjectID>>& ids, Ref<NSError>* error);
    // The managed object id named by a URIRepresentation, or nullptr.
    Ref<NSManagedObjectID> managedObjectIDForURIRepresentation(const Ref<NSURL>& url);

    std::string className() const override { return "NSPersistentStoreCoordinator"; }
    std::string description() const override;

    std::recursive_mutex& mutex() const { return mutex_; }

  private:
    Ref<NSManagedObjectModel> model_;
    mutable std::recursive_mutex mutex_;
    std::vector<Ref<NSPersistentStore>> stores_;
    struct IDKey {
        const void* store;
        std::size_t entity;
        std::int64_t key;
        bool operator==(const IDKey& o) const = default;
    };
    struct IDKeyHash {
        std::size_t operator()(const IDKey& k) const {
            return std::hash<std::int64_t>()(k.key) ^ (std::hash<const void*>()(k.store) << 1) ^
                   (k.entity << 7);
        }
    };
    std::unordered_map<IDKey, Weak<NSManagedObjectID>, IDKeyHash> ids_;
    std::size_t idsSinceSweep_ = 0;
};
