#include "foundation/NSObject.h"

#include <cstdio>
#include <map>
#include <unordered_map>

#include "foundation/Value.h"

namespace detail {

struct AssociatedEntry {
    Value strong;
    Weak<NSObject> weak;
    bool isWeak = false;
};

struct AssociatedStore {
    std::mutex lock;
    std::unordered_map<const void*, AssociatedEntry> entries;
};

}  // namespace detail

NSObject::NSObject() = default;

NSObject::~NSObject() {
    if (auto info = observation_.load(std::memory_order_acquire)) detail::destroyObservationInfo(info);
    delete associated_.load(std::memory_order_acquire);
    delete lock_.load(std::memory_order_acquire);
}

std::string NSObject::description() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, ": %p>", static_cast<const void*>(this));
    return "<" + className() + buf;
}

Value NSObject::valueForKey(const std::string&) const {
    return Value();
}

detail::AssociatedStore& NSObject::associated() const {
    auto store = associated_.load(std::memory_order_acquire);
    if (store) return *store;
    auto fresh = new detail::AssociatedStore();
    if (associated_.compare_exchange_strong(store, fresh, std::memory_order_acq_rel)) return *fresh;
    delete fresh;  // another thread won the race
    return *store;
}

void NSObject::setAssociatedObject(const void* key, const Value& value, AssociationPolicy policy) {
    auto& store = associated();
    // The old value is released outside the lock: its destructor may touch this object.
    detail::AssociatedEntry old;
    {
        std::lock_guard guard(store.lock);
        auto it = store.entries.find(key);
        if (it != store.entries.end()) {
            old = std::move(it->second);
            store.entries.erase(it);
        }
        if (!value.isNil()) {
            detail::AssociatedEntry entry;
            if (policy == AssociationPolicy::Weak && value.isObject()) {
                entry.weak = value.object();
                entry.isWeak = true;
            } else if (policy == AssociationPolicy::Copy) {
                if (auto object = value.object()) {
                    auto copied = object->copyObject();
                    entry.strong = copied ? Value(copied) : value;
                } else {
                    entry.strong = value.copy();
                }
            } else {
                entry.strong = value;
            }
            store.entries.emplace(key, std::move(entry));
        }
    }
}

Value NSObject::associatedObject(const void* key) const {
    auto store = associated_.load(std::memory_order_acquire);
    if (!store) return Value();
    std::lock_guard guard(store->lock);
    auto it = store->entries.find(key);
    if (it == store->entries.end()) return Value();
    if (it->second.isWeak) return Value(it->second.weak.lock());
    return it->second.strong;
}

std::recursive_mutex& NSObject::synchronizedLock() const {
    auto lock = lock_.load(std::memory_order_acquire);
    if (lock) return *lock;
    auto fresh = new std::recursive_mutex();
    if (lock_.compare_exchange_strong(lock, fresh, std::memory_order_acq_rel)) return *fresh;
    delete fresh;
    return *lock;
}

namespace {
struct ClassStore {
    std::mutex lock;
    std::map<std::pair<std::string, const void*>, Value> values;
};
ClassStore& classStore() {
    static ClassStore store;
    return store;
}
}  // namespace

void setClassAssociatedObject(const std::string& className, const void* key, const Value& value) {
    Value old;
    std::lock_guard guard(classStore().lock);
    auto k = std::make_pair(className, key);
    auto it = classStore().values.find(k);
    if (it != classStore().values.end()) {
        old = std::move(it->second);
        classStore().values.erase(it);
    }
    if (!value.isNil()) classStore().values.emplace(k, value);
}

Value classAssociatedObject(const std::string& className, const void* key) {
    std::lock_guard guard(classStore().lock);
    auto it = classStore().values.find(std::make_pair(className, key));
    return it == classStore().values.end() ? Value() : it->second;
}

bool objectsEqual(const Ref<NSObject>& a, const Ref<NSObject>& b) {
    if (a == b) return true;
    if (!a || !b) return false;
    return a->isEqual(*b);
}
