#include "sdk/weibo/util/WBSDKJCCollections.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "foundation/NSException.h"
#include "foundation/NSString.h"

namespace {

constexpr std::size_t kCapacities[] = {
    0,       3,        7,        13,       23,       41,       71,        127,       191,       251,
    383,     631,      1087,     1723,     2803,     4523,     7351,      11959,     19447,     31231,
    50683,   81919,    132607,   214519,   346607,   561109,   907759,    1468927,   2376191,   3845119,
    6221311, 10066421, 16287743, 26354171, 42641881, 68996069, 111638519, 180634607, 292272623, 472907251};

// Every failure is one out-of-line call that builds its text and throws, so that the callers keep
// no temporaries to destroy on the way out: a clean-up in a caller's split-off cold section made
// this toolchain's unwinder abort.
__attribute__((noinline)) void raiseException(const char* name, const std::string& reason) {
    throw NSException(name, reason);
}

__attribute__((noinline)) void raiseMessage(const char* name, const char* className, const char* selector,
                                            const char* text) {
    throw NSException(
        name, NSString::stringWithFormat("*** -[%@ %@]: ", std::string(className), std::string(selector)) +
                  std::string(text));
}

__attribute__((noinline)) void raiseMalloc() {
    throw NSException(NSMallocException, "Unable to allocate memory for hash table.");
}

__attribute__((noinline)) void raiseNullBuffer(std::size_t end) {
    throw NSException(
        NSRangeException,
        NSString::stringWithFormat("*** -[%@ %@]: pointer to objects array is NULL but range length is %lu",
                                   std::string("WBSDKJCArray"), std::string("getObjects:range:"),
                                   static_cast<unsigned long>(end)));
}

__attribute__((noinline)) void raiseNilValue(const std::string& key) {
    throw NSException(NSInvalidArgumentException,
                      NSString::stringWithFormat("*** -[%@ %@]: attempt to insert nil value (key: %@)",
                                                 std::string("WBSDKJCDictionary"),
                                                 std::string("setObject:forKey:"), key));
}

__attribute__((noinline)) void raiseBeyondBounds(const char* className, const char* selector,
                                                 std::size_t index, std::size_t count) {
    throw NSException(NSRangeException,
                      NSString::stringWithFormat("*** -[%@ %@]: index (%lu) beyond bounds (%lu)",
                                                 std::string(className), std::string(selector),
                                                 static_cast<unsigned long>(index),
                                                 static_cast<unsigned long>(count)));
}

__attribute__((noinline)) void privateClass(const char* className) {
    raiseException(NSInvalidArgumentException,
                   NSString::stringWithFormat(
                       "*** - [%@ %@]: The %@ class is private to WBSDKJSONCodec and should not be used "
                       "in this fashion.",
                       std::string(className), std::string("allocWithZone:"), std::string(className)));
}

}  // namespace

// ---- WBSDKJCArray -------------------------------------------------------------------------------

WBSDKJCArray::WBSDKJCArray(std::vector<Value> objects, bool isMutable, int)
    : objects_(std::move(objects)), mutations_(isMutable ? 1 : 0) {}

Ref<WBSDKJCArray> WBSDKJCArray::allocWithZone() {
    privateClass("WBSDKJCArray");
    return nullptr;
}

const Value& WBSDKJCArray::objectAtIndex(std::size_t index) const {
    if (index >= objects_.size()) raiseBeyondBounds("WBSDKJCArray", "objectAtIndex:", index, objects_.size());
    return objects_[index];
}

void WBSDKJCArray::getObjects(const Value** buffer, std::size_t location, std::size_t length) const {
    std::size_t end = location + length;
    if (!buffer && end > 0) raiseNullBuffer(end);
    if (location > objects_.size() || end > objects_.size())
        raiseBeyondBounds("WBSDKJCArray", "getObjects:range:", end, objects_.size());
    for (std::size_t i = location; i < end; ++i) buffer[i - location] = &objects_[i];
}

void WBSDKJCArray::checkMutable(const char* selector) const {
    if (!isMutable())
        raiseMessage(NSInternalInconsistencyException, "WBSDKJCArray", selector,
                     "mutating method sent to immutable object");
}

void WBSDKJCArray::mutated() {
    if (++mutations_ == 0) mutations_ = 1;
}

void WBSDKJCArray::insertObject(const Value& object, std::size_t index) {
    checkMutable("insertObject:atIndex:");
    if (object.isNil())
        raiseMessage(NSInvalidArgumentException, "WBSDKJCArray",
                     "insertObject:atIndex:", "attempt to insert nil");
    if (index > objects_.size())
        raiseBeyondBounds("WBSDKJCArray", "insertObject:atIndex:", index, objects_.size() + 1);
    objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(index), object);
    mutated();
}

void WBSDKJCArray::removeObjectAtIndex(std::size_t index) {
    checkMutable("removeObjectAtIndex:");
    if (index >= objects_.size())
        raiseBeyondBounds("WBSDKJCArray", "removeObjectAtIndex:", index, objects_.size());
    objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(index));
    mutated();
}

void WBSDKJCArray::replaceObjectAtIndex(std::size_t index, const Value& object) {
    checkMutable("replaceObjectAtIndex:withObject:");
    if (object.isNil())
        raiseMessage(NSInvalidArgumentException, "WBSDKJCArray",
                     "replaceObjectAtIndex:withObject:", "attempt to insert nil");
    if (index >= objects_.size())
        raiseBeyondBounds("WBSDKJCArray", "replaceObjectAtIndex:withObject:", index, objects_.size());
    objects_[index] = object;
    mutated();
}

Value WBSDKJCArray::copy() {
    if (!isMutable()) return Value(std::static_pointer_cast<WBSDKJCArray>(self()));
    return Value(Array(objects_, false));
}

Array WBSDKJCArray::mutableCopy() const {
    return Array(objects_, true);
}

// ---- WBSDKJCDictionary --------------------------------------------------------------------------

WBSDKJCDictionary::WBSDKJCDictionary(std::size_t count, bool isMutable, int)
    : entries_(capacityForCount(count)), mutations_(isMutable ? 1 : 0) {}

Ref<WBSDKJCDictionary> WBSDKJCDictionary::allocWithZone() {
    privateClass("WBSDKJCDictionary");
    return nullptr;
}

std::size_t WBSDKJCDictionary::capacityForCount(std::size_t count) {
    auto wanted = static_cast<std::size_t>(std::lround(std::floor(static_cast<double>(count) * 1.33)));
    // Past the last entry the table cannot grow: such a count is refused.
    const std::size_t* end = std::end(kCapacities);
    const std::size_t* it = std::lower_bound(std::begin(kCapacities), end, wanted);
    if (it == end) raiseMalloc();
    return *it;
}

std::uint64_t WBSDKJCDictionary::hashOf(const std::string& key) {
    return std::hash<std::string>()(key);
}

std::size_t WBSDKJCDictionary::find(const std::string& key, std::uint64_t hash) const {
    std::size_t capacity = entries_.size();
    if (capacity == 0) return capacity;
    for (std::size_t i = 0; i < capacity; ++i) {
        std::size_t slot = (hash % capacity + i) % capacity;
        const Entry& e = entries_[slot];
        if (!e.key) return capacity;  // a free entry ends the search
        if (e.keyHash == hash && *e.key == key) return slot;
    }
    return capacity;
}

const Value& WBSDKJCDictionary::objectForKey(const std::optional<std::string>& key) const {
    if (!key) return Value::nil();
    std::size_t slot = find(*key, hashOf(*key));
    return slot < entries_.size() ? entries_[slot].object : Value::nil();
}

void WBSDKJCDictionary::removeEntry(std::size_t index) {
    std::size_t capacity = entries_.size();
    entries_[index] = Entry();
    --count_;
    // Re-seat the rest of the cluster so that no lookup stops early.
    for (std::size_t i = 1; i < capacity; ++i) {
        std::size_t slot = (index + i) % capacity;
        if (!entries_[slot].key) break;
        Entry moved = std::move(entries_[slot]);
        entries_[slot] = Entry();
        for (std::size_t j = 0; j < capacity; ++j) {
            std::size_t target = (moved.keyHash % capacity + j) % capacity;
            if (!entries_[target].key) {
                entries_[target] = std::move(moved);
                break;
            }
        }
    }
}

void WBSDKJCDictionary::add(std::uint64_t hash, std::string key, Value object) {
    std::size_t capacity = entries_.size();
    for (std::size_t i = 0; i < capacity; ++i) {
        std::size_t slot = (hash % capacity + i) % capacity;
        Entry& e = entries_[slot];
        if (e.key && e.keyHash == hash && *e.key == key) {
            removeEntry(slot);
            add(hash, std::move(key), std::move(object));
            return;
        }
        if (!e.key) {
            e.keyHash = hash;
            e.key = std::move(key);
            e.object = std::move(object);
            ++count_;
            return;
        }
    }
    // A full table takes nothing (the decoder sizes tables so this cannot happen).
}

void WBSDKJCDictionary::addEntry(std::string key, Value object) {
    std::uint64_t hash = hashOf(key);
    add(hash, std::move(key), std::move(object));
}

void WBSDKJCDictionary::resizeIfNecessary() {
    std::size_t capacity = capacityForCount(count_ + 1);
    if (capacity <= entries_.size()) return;
    std::vector<Entry> old = std::move(entries_);
    entries_.assign(capacity, Entry());
    count_ = 0;
    for (auto& e : old)
        if (e.key) add(e.keyHash, std::move(*e.key), std::move(e.object));
}

void WBSDKJCDictionary::checkMutable(const char* selector) const {
    if (!isMutable())
        raiseMessage(NSInternalInconsistencyException, "WBSDKJCDictionary", selector,
                     "mutating method sent to immutable object");
}

void WBSDKJCDictionary::mutated() {
    if (++mutations_ == 0) mutations_ = 1;
}

void WBSDKJCDictionary::setObject(const Value& object, const std::optional<std::string>& key) {
    checkMutable("setObject:forKey:");
    if (!key)
        raiseMessage(NSInvalidArgumentException, "WBSDKJCDictionary",
                     "setObject:forKey:", "attempt to insert nil key");
    if (object.isNil()) raiseNilValue(*key);
    resizeIfNecessary();
    addEntry(*key, object);
    mutated();
}

void WBSDKJCDictionary::removeObjectForKey(const std::optional<std::string>& key) {
    checkMutable("removeObjectForKey:");
    if (!key)
        raiseMessage(NSInvalidArgumentException, "WBSDKJCDictionary",
                     "removeObjectForKey:", "attempt to remove nil key");
    std::size_t slot = find(*key, hashOf(*key));
    if (slot >= entries_.size()) return;
    removeEntry(slot);
    mutated();
}

std::vector<std::string> WBSDKJCDictionary::allKeys() const {
    std::vector<std::string> keys;
    getObjectsAndKeys(nullptr, &keys);
    return keys;
}

void WBSDKJCDictionary::getObjectsAndKeys(std::vector<Value>* objects, std::vector<std::string>* keys) const {
    for (const auto& e : entries_) {
        if (!e.key) continue;
        if (objects) objects->push_back(e.object);
        if (keys) keys->push_back(*e.key);
    }
}

Value WBSDKJCDictionary::copy() {
    if (!isMutable()) return Value(std::static_pointer_cast<WBSDKJCDictionary>(self()));
    Dictionary d = mutableCopy();
    return Value(d.copy());
}

Dictionary WBSDKJCDictionary::mutableCopy() const {
    Dictionary d = Dictionary::mutableDictionary(count_);
    for (const auto& e : entries_)
        if (e.key) d.setObject(*e.key, e.object);
    return d;
}

WBSDKJCDictionary::KeyEnumerator WBSDKJCDictionary::keyEnumerator() {
    return KeyEnumerator(std::static_pointer_cast<WBSDKJCDictionary>(self()));
}

std::optional<std::string> WBSDKJCDictionary::KeyEnumerator::nextObject() {
    if (!collection_) return std::nullopt;
    const auto& entries = collection_->entries_;
    while (next_ < entries.size()) {
        const auto& e = entries[next_++];
        if (e.key) return *e.key;
    }
    return std::nullopt;
}

std::vector<std::string> WBSDKJCDictionary::KeyEnumerator::allObjects() {
    std::vector<std::string> out;
    while (auto key = nextObject()) out.push_back(*key);
    return out;
}
