#pragma once
// What managed objects and contexts share inside the library.

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "coredata/NSManagedObject.h"
#include "coredata/NSManagedObjectContext.h"

// Objects by the hash of one of their values, any number per hash (an object comes again each
// time its value changes; readers check the object). Kept in two flat blocks, the distinct hashes
// in an open-addressed table and the objects in one list chained per hash: an import adds two
// entries for each object it makes, and a node per entry cost more than the look-ups it saves.
class ObjectIndex {
  public:
    void add(std::size_t hash, NSManagedObject* object) {
        if ((used_ + 1) * 2 > table_.size()) grow();
        std::size_t i = start(hash);
        while (table_[i].head != kNone && table_[i].hash != hash) i = (i + 1) & (table_.size() - 1);
        if (table_[i].head == kNone) {
            table_[i].hash = hash;
            ++used_;
        }
        entries_.push_back({object, table_[i].head});
        table_[i].head = entries_.size() - 1;
    }
    template <class Visit>
    void forEach(std::size_t hash, Visit&& visit) const {
        if (table_.empty()) return;
        std::size_t i = start(hash);
        while (table_[i].head != kNone && table_[i].hash != hash) i = (i + 1) & (table_.size() - 1);
        for (std::size_t e = table_[i].head; e != kNone; e = entries_[e].next) visit(entries_[e].object);
    }

  private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    struct Bucket {
        std::size_t hash = 0;
        std::size_t head = kNone;
    };
    struct Entry {
        NSManagedObject* object;
        std::size_t next;
    };
    // Hashes of numbers may differ only in their high bits: spread them over the table.
    std::size_t start(std::size_t hash) const {
        return static_cast<std::size_t>((static_cast<std::uint64_t>(hash) * 0x9E3779B97F4A7C15ull) >> shift_);
    }
    void grow() {
        std::vector<Bucket> old = std::move(table_);
        std::size_t size = old.empty() ? 16 : old.size() * 2;
        table_.assign(size, Bucket());
        shift_ = 64;
        for (std::size_t n = size; n > 1; n >>= 1) --shift_;
        for (const Bucket& b : old) {
            if (b.head == kNone) continue;
            std::size_t i = start(b.hash);
            while (table_[i].head != kNone) i = (i + 1) & (size - 1);
            table_[i] = b;
        }
    }

    std::vector<Bucket> table_;
    std::vector<Entry> entries_;
    std::size_t used_ = 0;
    unsigned shift_ = 64;
};

struct NSManagedObjectContext::State {
    // The context itself, for the objects it registers (made on the first).
    Weak<NSManagedObjectContext> self;
    Ref<NSPersistentStoreCoordinator> coordinator;
    Ref<NSManagedObjectContext> parent;
    std::unordered_map<const NSManagedObjectID*, Ref<NSManagedObject>> registered;
    // Objects with pending changes, in the order they changed (the flags in the objects keep
    // each list free of duplicates).
    std::vector<Ref<NSManagedObject>> inserted, updated, deleted;
    NSMergePolicyType mergePolicy = NSErrorMergePolicy;
    std::optional<std::string> name;
    // Changed objects by the value of one attribute, for fetches of "attribute == value" among
    // many pending changes (an import looking each record up by its identifying attribute).
    // Made on first use per entity and attribute, kept up as values change, and dropped after a
    // save or whenever objects leave the context. Entries may be stale: readers check the object.
    std::map<std::pair<const NSEntityDescription*, std::size_t>, ObjectIndex> indexes;
};

struct CoreDataInternals {
    enum class Lookup { Found, Missing };

    // The values of the object named by `id` as `context` sees them: its own loaded object, else
    // its parent's view, else the stored row. Called with the context locked (or not: it locks).
    static Lookup snapshot(NSManagedObjectContext& context, const Ref<NSManagedObjectID>& id,
                           std::vector<Value>& values, bool includeSelf = true);
    // Loads a fault's values; false when the object no longer exists.
    static bool fireFault(NSManagedObject& object);
    // The registered object or a new fault; `context` locked.
    static Ref<NSManagedObject> objectFor(NSManagedObjectContext& context, const Ref<NSManagedObjectID>& id);
    // A new object of the entity's class, not yet in any context.
    static Ref<NSManagedObject> instantiate(const Ref<NSEntityDescription>& entity,
                                            const NSManagedObjectClass* cls = nullptr);
    static void registerObject(NSManagedObjectContext& context, const Ref<NSManagedObject>& object);
    static void markUpdated(NSManagedObject& object, std::size_t slot);
    static NSManagedObjectContext::State& state(NSManagedObjectContext& context) { return *context.state_; }
    static Ref<NSPersistentStoreCoordinator> rootCoordinator(const NSManagedObjectContext& context);
    // Adds the object under its current value of every attribute slot to the indexes its context
    // keeps; the context is locked.
    static void indexAll(NSManagedObject& object);
};

// Changes of one end of a relationship, and of the other end through the inverse.
struct RelationshipOps {
    static void fire(NSManagedObject& o) {
        if (o.fault_) CoreDataInternals::fireFault(o);
    }
    static Array& list(NSManagedObject& o, std::size_t slot) {
        if (!o.values_[slot].isArray()) o.values_[slot] = Array::mutableArray();
        return *o.values_[slot].array();
    }
    // Primitive changes of one end; mark the object changed.
    static void addID(NSManagedObject& o, const NSRelationshipDescription& r,
                      const Ref<NSManagedObjectID>& id) {
        fire(o);
        Array& ids = list(o, r.slot());
        for (const Value& v : ids) {
            if (v.object().get() == id.get()) return;
        }
        Array copy = ids.mutableCopy();
        copy.addObject(id);
        o.values_[r.slot()] = copy;
        CoreDataInternals::markUpdated(o, r.slot());
    }
    static void removeID(NSManagedObject& o, const NSRelationshipDescription& r,
                         const NSManagedObjectID* id) {
        fire(o);
        Array& ids = list(o, r.slot());
        Array copy = Array::mutableArray();
        bool removed = false;
        for (const Value& v : ids) {
            if (v.object().get() == id) {
                removed = true;
            } else {
                copy.addObject(v);
            }
        }
        if (!removed) return;
        o.values_[r.slot()] = copy;
        CoreDataInternals::markUpdated(o, r.slot());
    }
    static void setToOne(NSManagedObject& o, const NSRelationshipDescription& r,
                         const Ref<NSManagedObjectID>& id) {
        fire(o);
        Value next = id ? Value(id) : Value();
        if (o.values_[r.slot()].object().get() == id.get()) return;
        o.values_[r.slot()] = next;
        CoreDataInternals::markUpdated(o, r.slot());
    }
    // Makes `other` point back at `o` through the inverse of `r` (or stop pointing).
    static void linkInverse(NSManagedObject& o, const NSRelationshipDescription& r, NSManagedObject& other,
                            bool link) {
        auto inverse = r.inverseRelationship();
        if (!inverse) return;
        fire(other);
        if (inverse->isToMany()) {
            if (link) {
                addID(other, *inverse, o.objectID_);
            } else {
                removeID(other, *inverse, o.objectID_.get());
            }
            return;
        }
        auto context = other.context_.lock();
        if (link) {
            // `other` leaves whatever it pointed at before.
            auto previous = other.values_[inverse->slot()].objectAs<NSManagedObjectID>();
            if (previous && previous.get() != o.objectID_.get() && context) {
                auto previousObject = CoreDataInternals::objectFor(*context, previous);
                fire(*previousObject);
                if (r.isToMany()) {
                    removeID(*previousObject, r, other.objectID_.get());
                } else if (previousObject->values_[r.slot()].object().get() == other.objectID_.get()) {
                    setToOne(*previousObject, r, nullptr);
                }
            }
            setToOne(other, *inverse, o.objectID_);
        } else if (other.values_[inverse->slot()].object().get() == o.objectID_.get()) {
            setToOne(other, *inverse, nullptr);
        }
    }
};
