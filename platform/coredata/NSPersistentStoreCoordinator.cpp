#include "coredata/NSPersistentStoreCoordinator.h"

#include <atomic>

#include "coredata/CoreDataErrors.h"
#include "coredata/NSManagedObject.h"
#include "coredata/SQLiteStore.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSString.h"

namespace {
std::atomic<std::uint64_t> nextSerial{1};
}

NSPersistentStore::NSPersistentStore(std::string type, std::optional<std::string> configuration,
                                     Ref<NSURL> url, std::optional<Dictionary> options,
                                     std::unique_ptr<detail::StoreBackend> backend)
    : type_(std::move(type)),
      configuration_(std::move(configuration)),
      url_(std::move(url)),
      options_(std::move(options)),
      backend_(std::move(backend)) {
    identifier_ = backend_ ? backend_->identifier() : std::string();
}

NSPersistentStore::~NSPersistentStore() = default;

std::string NSPersistentStore::description() const {
    return "<NSPersistentStore: " + type_ + " " + (url_ ? url_->absoluteString() : std::string("memory")) +
           ">";
}

NSPersistentStoreCoordinator::NSPersistentStoreCoordinator(Ref<NSManagedObjectModel> model)
    : model_(std::move(model)) {}

NSPersistentStoreCoordinator::~NSPersistentStoreCoordinator() = default;

std::vector<Ref<NSPersistentStore>> NSPersistentStoreCoordinator::persistentStores() const {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    return stores_;
}

Ref<NSPersistentStore> NSPersistentStoreCoordinator::addPersistentStoreWithType(
    const std::string& type, const std::optional<std::string>& configuration, const Ref<NSURL>& url,
    const std::optional<Dictionary>& options, Ref<NSError>* error) {
    auto invalid = [&](const std::string& reason) -> Ref<NSPersistentStore> {
        if (error)
            *error = NSError::errorWithDomain(NSCocoaErrorDomain, NSPersistentStoreInvalidTypeError,
                                              Dictionary{{NSLocalizedDescriptionKey, reason}});
        return nullptr;
    };
    if (!model_) return invalid("The coordinator has no model.");
    std::string path;
    if (type == NSSQLiteStoreType) {
        if (!url || !url->isFileURL()) return invalid("An SQLite store needs a file URL.");
        path = url->path();
        if (path.empty()) return invalid("An SQLite store needs a file URL.");
    } else if (type != NSInMemoryStoreType) {
        return invalid("Unknown store type " + type + ".");
    }
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (!path.empty()) {
        for (const auto& store : stores_) {
            if (store->URL() && store->URL()->path() == path) return invalid("The store is already added.");
        }
    }
    auto backend = detail::StoreBackend::open(path, model_, options, error);
    if (!backend) return nullptr;
    auto store = make<NSPersistentStore>(type, configuration, type == NSInMemoryStoreType ? nullptr : url,
                                         options, std::move(backend));
    store->coordinator_ = std::static_pointer_cast<NSPersistentStoreCoordinator>(self());
    stores_.push_back(store);
    return store;
}

bool NSPersistentStoreCoordinator::removePersistentStore(const Ref<NSPersistentStore>& store,
                                                         Ref<NSError>* error) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    for (auto it = stores_.begin(); it != stores_.end(); ++it) {
        if (*it == store) {
            stores_.erase(it);
            return true;
        }
    }
    if (error) *error = NSError::errorWithDomain(NSCocoaErrorDomain, NSPersistentStoreOperationError);
    return false;
}

Ref<NSPersistentStore> NSPersistentStoreCoordinator::persistentStoreForURL(const Ref<NSURL>& url) const {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    for (const auto& store : stores_) {
        if (url && store->URL() && store->URL()->path() == url->path()) return store;
    }
    return nullptr;
}

void NSPersistentStoreCoordinator::lock() {
    mutex_.lock();
}
void NSPersistentStoreCoordinator::unlock() {
    mutex_.unlock();
}
bool NSPersistentStoreCoordinator::tryLock() {
    return mutex_.try_lock();
}

void NSPersistentStoreCoordinator::performBlockAndWait(const std::function<void()>& block) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    if (block) block();
}

void NSPersistentStoreCoordinator::performBlock(std::function<void()> block) {
    auto self = std::static_pointer_cast<NSPersistentStoreCoordinator>(this->self());
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT),
                   [self, block = std::move(block)] {
                       std::lock_guard<std::recursive_mutex> guard(self->mutex_);
                       if (block) block();
                   });
}

Ref<NSManagedObjectID> NSPersistentStoreCoordinator::objectIDFor(const Ref<NSEntityDescription>& entity,
                                                                 const Ref<NSPersistentStore>& store,
                                                                 std::int64_t key) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    IDKey k{store.get(), entity->index(), key};
    auto found = ids_.find(k);
    if (found != ids_.end()) {
        if (auto id = found->second.lock()) return id;
    }
    auto id = make<NSManagedObjectID>(entity, nextSerial.fetch_add(1), store, key);
    ids_[k] = id;
    // Forget ids nobody holds any more, now and then.
    if (++idsSinceSweep_ > 4096 && idsSinceSweep_ > ids_.size()) {
        idsSinceSweep_ = 0;
        for (auto it = ids_.begin(); it != ids_.end();)
            it = it->second.expired() ? ids_.erase(it) : std::next(it);
    }
    return id;
}

Ref<NSManagedObjectID> NSPersistentStoreCoordinator::newTemporaryID(const Ref<NSEntityDescription>& entity) {
    return make<NSManagedObjectID>(entity, nextSerial.fetch_add(1));
}

bool NSPersistentStoreCoordinator::obtainPermanentIDs(const std::vector<Ref<NSManagedObjectID>>& ids,
                                                      Ref<NSError>* error) {
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    // The temporary ids by entity, each entity's in the order given (a batch is mostly of one).
    std::map<const NSEntityDescription*, std::vector<const Ref<NSManagedObjectID>*>> byEntity;
    const NSEntityDescription* lastEntity = nullptr;
    std::vector<const Ref<NSManagedObjectID>*>* lastList = nullptr;
    for (const auto& id : ids) {
        if (!id || !id->isTemporaryID()) continue;
        if (id->entity().get() != lastEntity || !lastList) {
            lastEntity = id->entity().get();
            lastList = &byEntity[lastEntity];
        }
        lastList->push_back(&id);
    }
    if (byEntity.empty()) return true;
    if (stores_.empty()) {
        if (error)
            *error = NSError::errorWithDomain(
                NSCocoaErrorDomain, NSPersistentStoreSaveError,
                Dictionary{{NSLocalizedDescriptionKey, "This coordinator has no persistent stores."}});
        return false;
    }
    const auto& store = stores_.front();
    ids_.reserve(ids_.size() + ids.size());
    for (auto& [entity, list] : byEntity) {
        std::int64_t first = store->backend().allocateKeys(*entity, list.size(), error);
        if (first == 0) return false;
        for (std::size_t i = 0; i < list.size(); ++i) {
            const Ref<NSManagedObjectID>& id = *list[i];
            // An id given twice takes its first key.
            if (!id->isTemporaryID()) continue;
            id->makePermanent(store, first + static_cast<std::int64_t>(i));
            ids_[IDKey{store.get(), entity->index(), first + static_cast<std::int64_t>(i)}] = id;
        }
    }
    return true;
}

Ref<NSManagedObjectID>
NSPersistentStoreCoordinator::managedObjectIDForURIRepresentation(const Ref<NSURL>& url) {
    if (!url) return nullptr;
    std::string text = url->absoluteString();
    const std::string scheme = "x-coredata://";
    if (text.rfind(scheme, 0) != 0) return nullptr;
    auto parts = NSString::componentsSeparatedByString(text.substr(scheme.size()), "/");
    if (parts.size() != 3 || parts[2].size() < 2 || parts[2][0] != 'p') return nullptr;
    auto entity = model_ ? model_->entitiesByName()[parts[1]] : nullptr;
    if (!entity) return nullptr;
    std::int64_t key = 0;
    try {
        key = std::stoll(parts[2].substr(1));
    } catch (...) {
        return nullptr;
    }
    for (const auto& store : persistentStores()) {
        if (store->identifier() == parts[0]) return objectIDFor(entity, store, key);
    }
    return nullptr;
}

std::string NSPersistentStoreCoordinator::description() const {
    return "<NSPersistentStoreCoordinator: " + std::to_string(persistentStores().size()) + " stores>";
}
