#include "foundation/Value.h"

#include "foundation/ValueDescriptionHook.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <mutex>

namespace detail {

// Containers nested deeper than this are not destroyed recursively: their elements go to the
// outermost teardown on the thread, which destroys them in a loop, so a document of a million
// nested arrays does not overflow the stack when it goes.
constexpr int kTeardownDepth = 128;
thread_local int teardownDepth = 0;
thread_local std::vector<Value>* teardownDeferred = nullptr;

void deferIfContainer(Value& v) {
    if (!v.isArray() && !v.isDictionary()) return;
    if (!teardownDeferred) teardownDeferred = new std::vector<Value>;
    teardownDeferred->push_back(std::move(v));
}

struct TeardownScope {
    bool deep = teardownDepth >= kTeardownDepth;
    TeardownScope() { ++teardownDepth; }
    ~TeardownScope() {
        if (--teardownDepth != 0 || !teardownDeferred) return;
        ++teardownDepth;
        while (!teardownDeferred->empty()) {
            Value last = std::move(teardownDeferred->back());
            teardownDeferred->pop_back();
        }
        --teardownDepth;
        delete teardownDeferred;
        teardownDeferred = nullptr;
    }
};

struct ArrayStorage {
    std::vector<Value> items;
    bool isMutable = true;

    ArrayStorage() = default;
    ArrayStorage(const ArrayStorage&) = default;
    ~ArrayStorage() {
        TeardownScope scope;
        if (scope.deep) {
            for (auto& v : items) deferIfContainer(v);
        }
        // Last first: in a chain where each element holds the one before it (an error trace),
        // every release then frees one link instead of the whole chain at once.
        while (!items.empty()) items.pop_back();
    }
};

// Small dictionaries (the common case: a record of a dozen keys) are searched linearly. From a
// threshold on, an open-addressed table of positions into `entries` is kept up to date by every
// change, so an insert costs amortised constant time whatever the order of calls. The table holds
// positions, not views of the keys, so moving the entries when the vector grows costs nothing.
//
// A dictionary handed over whole (by a reader, or as a copy) gets its table on the first lookup
// instead: most records a reader builds are only walked or read a few times, if at all. That
// first lookup may come from several threads reading one shared immutable dictionary at once, so
// it is built under a lock and published through `pending`; lookups after it never write.
std::mutex pendingIndexLock;

struct DictionaryStorage {
    static constexpr std::size_t kIndexThreshold = 12;
    static constexpr std::uint32_t kEmpty = 0;

    struct Slot {
        std::uint32_t position = kEmpty;  // entry position + 1; kEmpty when free
        std::uint32_t hash = 0;           // low bits of the key's hash
    };

    std::vector<Dictionary::Entry> entries;
    bool isMutable = true;
    // Set when the entries are past the threshold but the table is not built yet; cleared (with
    // release) once `slots` is complete.
    std::atomic<bool> pending{false};
    std::vector<Slot> slots;  // empty, or a power of two at most half full

    static std::uint32_t hashOf(std::string_view key) {
        return static_cast<std::uint32_t>(std::hash<std::string_view>()(key));
    }
    bool indexed() const { return !slots.empty(); }
    std::size_t mask() const { return slots.size() - 1; }

    // Entries handed over whole: the table comes with the first lookup or change.
    void deferIndex() { pending.store(entries.size() >= kIndexThreshold, std::memory_order_relaxed); }

    // For lookups, which may run on several threads at once.
    void buildPendingIndex() const {
        std::lock_guard<std::mutex> lock(pendingIndexLock);
        if (!pending.load(std::memory_order_relaxed)) return;
        // Every storage is made non-const; the lock keeps the build to one thread.
        auto& self = const_cast<DictionaryStorage&>(*this);
        self.rebuild(entries.size());
        self.pending.store(false, std::memory_order_release);
    }

    // For changes, which have the dictionary to themselves.
    void buildIndexForChange() {
        if (!pending.load(std::memory_order_relaxed)) return;
        rebuild(entries.size());
        pending.store(false, std::memory_order_relaxed);
    }

    std::size_t indexOf(std::string_view key) const {
        if (pending.load(std::memory_order_acquire)) buildPendingIndex();
        if (!indexed()) {
            for (std::size_t i = 0; i < entries.size(); ++i) {
                if (entries[i].first == key) return i;
            }
            return NSNotFound;
        }
        std::uint32_t h = hashOf(key);
        for (std::size_t s = h & mask();; s = (s + 1) & mask()) {
            const Slot& slot = slots[s];
            if (slot.position == kEmpty) return NSNotFound;
            if (slot.hash == h && entries[slot.position - 1].first == key) return slot.position - 1;
        }
    }

    // Enters the entry at `position`; a key already present keeps its first slot, as a linear
    // search would find the first of two equal keys.
    void enter(std::size_t position) {
        std::string_view key = entries[position].first;
        std::uint32_t h = hashOf(key);
        std::size_t s = h & mask();
        for (; slots[s].position != kEmpty; s = (s + 1) & mask()) {
            if (slots[s].hash == h && entries[slots[s].position - 1].first == key) return;
        }
        slots[s] = {static_cast<std::uint32_t>(position + 1), h};
    }

    // Sizes the table for `count` entries and enters every entry again.
    void rebuild(std::size_t count) {
        std::size_t size = 32;
        while (size < count * 2) size *= 2;
        slots.assign(size, Slot{});
        for (std::size_t i = 0; i < entries.size(); ++i) enter(i);
    }

    // Doubles the table; the keys are distinct and their hashes kept, so no key is read.
    void grow() {
        std::vector<Slot> old = std::move(slots);
        slots.assign(old.size() * 2, Slot{});
        for (const Slot& o : old) {
            if (o.position == kEmpty) continue;
            std::size_t s = o.hash & mask();
            while (slots[s].position != kEmpty) s = (s + 1) & mask();
            slots[s] = o;
        }
    }

    // Called after an entry was appended.
    void didAppend() {
        std::size_t n = entries.size();
        if (pending.load(std::memory_order_relaxed)) {
            buildIndexForChange();
        } else if (indexed()) {
            if (n * 2 > slots.size()) grow();
            enter(n - 1);
        } else if (n >= kIndexThreshold) {
            rebuild(n);
        }
    }

    // Replaces the value of an existing key in place, or appends a new entry; one probe.
    void assign(std::string_view key, Value&& value) {
        buildIndexForChange();
        if (!indexed()) {
            for (auto& e : entries) {
                if (e.first == key) {
                    e.second = std::move(value);
                    return;
                }
            }
            entries.emplace_back(std::string(key), std::move(value));
            didAppend();
            return;
        }
        std::uint32_t h = hashOf(key);
        std::size_t s = h & mask();
        for (; slots[s].position != kEmpty; s = (s + 1) & mask()) {
            if (slots[s].hash == h && entries[slots[s].position - 1].first == key) {
                entries[slots[s].position - 1].second = std::move(value);
                return;
            }
        }
        entries.emplace_back(std::string(key), std::move(value));
        if (entries.size() * 2 > slots.size()) {
            grow();
            enter(entries.size() - 1);
        } else {
            slots[s] = {static_cast<std::uint32_t>(entries.size()), h};
        }
    }

    void erase(std::size_t position) {
        buildIndexForChange();
        if (indexed()) {
            // Backward-shift deletion keeps every probe chain unbroken without tombstones.
            std::uint32_t h = hashOf(entries[position].first);
            std::size_t s = h & mask();
            while (slots[s].position != position + 1) s = (s + 1) & mask();
            for (std::size_t next = (s + 1) & mask();; next = (next + 1) & mask()) {
                const Slot& candidate = slots[next];
                if (candidate.position == kEmpty) break;
                std::size_t home = candidate.hash & mask();
                // The candidate may move into the hole when its home is not in (s, next].
                if (((next - home) & mask()) >= ((next - s) & mask())) {
                    slots[s] = candidate;
                    s = next;
                }
            }
            slots[s] = Slot{};
            // Entries after the removed one move down by one place.
            if (position + 1 < entries.size()) {
                for (auto& slot : slots) {
                    if (slot.position > position + 1) --slot.position;
                }
            }
        }
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(position));
    }

    void clear() {
        entries.clear();
        slots.clear();
        pending.store(false, std::memory_order_relaxed);
    }

    DictionaryStorage() = default;
    // The copy's table is left for its first lookup.
    DictionaryStorage(const DictionaryStorage& other) : entries(other.entries), isMutable(other.isMutable) {
        deferIndex();
    }
    ~DictionaryStorage() {
        TeardownScope scope;
        if (scope.deep) {
            for (auto& e : entries) deferIfContainer(e.second);
        }
        while (!entries.empty()) entries.pop_back();
    }

    void reserve(std::size_t capacity) {
        buildIndexForChange();
        entries.reserve(capacity);
        if (capacity < kIndexThreshold) return;
        if (!indexed()) {
            rebuild(capacity);
            return;
        }
        while (capacity * 2 > slots.size()) grow();
    }
};

}  // namespace detail

namespace {

const Value kNil;

std::atomic<ValueDescriptionHook::ContainerDescriber> installedDescriber{nullptr};

// The containers being described on this thread: one that holds itself prints "..." where it
// recurs instead of recursing without end.
thread_local std::vector<const void*> describing;

template <class Describe>
std::string describeOnce(const void* identity, Describe describe) {
    if (describing.size() >= 512 ||
        std::find(describing.begin(), describing.end(), identity) != describing.end()) {
        return "...";
    }
    describing.push_back(identity);
    struct Pop {
        ~Pop() { describing.pop_back(); }
    } pop;
    return describe();
}

std::string formatReal(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    if (d == 0) return std::signbit(d) ? "-0" : "0";
    // Shortest text that reads back to the same double, as the platform prints numbers.
    char buf[64];
    auto result = std::to_chars(buf, buf + sizeof buf, d);
    std::string text(buf, result.ptr);
    return text;
}

void appendIndent(std::string& out, int indent) {
    out.append(static_cast<std::size_t>(indent) * 4, ' ');
}

// Old-style property-list quoting: bare when the text is plain word characters.
std::string quoteForDescription(const std::string& s) {
    bool plain = !s.empty();
    for (unsigned char c : s) {
        if (!(std::isalnum(c) || c == '_' || c == '.' || c == '$' || c == '/' || c == ':' || c >= 0x80)) {
            plain = false;
            break;
        }
    }
    if (plain) return s;
    std::string out = "\"";
    for (char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    out += '"';
    return out;
}

std::string nestedDescription(const Value& v, int indent) {
    if (auto a = v.array()) return a->description(indent);
    if (auto d = v.dictionary()) return d->description(indent);
    if (auto s = v.string()) return quoteForDescription(*s);
    return v.description();
}

long long parseLeadingInteger(std::string_view s) {
    // Leading whitespace, optional sign, digits; anything else ends the number. Saturates.
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long value = 0;
    bool overflow = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        int digit = s[i] - '0';
        if (value > (std::numeric_limits<long long>::max() - digit) / 10) {
            overflow = true;
            break;
        }
        value = value * 10 + digit;
    }
    if (overflow)
        return negative ? std::numeric_limits<long long>::min() : std::numeric_limits<long long>::max();
    return negative ? -value : value;
}

double parseLeadingDouble(std::string_view s) {
    std::string text(s);
    char* end = nullptr;
    double d = std::strtod(text.c_str(), &end);
    return end == text.c_str() ? 0.0 : d;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// NSNumber

char NSNumber::objCType() const {
    switch (type_) {
        case Type::Bool:
        case Type::Char:
            return 'c';
        case Type::Short:
            return 's';
        case Type::Int:
            return 'i';
        case Type::Long:
        case Type::LongLong:
            return 'q';
        case Type::UChar:
            return 'C';
        case Type::UShort:
            return 'S';
        case Type::UInt:
            return 'I';
        case Type::ULong:
        case Type::ULongLong:
            return 'Q';
        case Type::Float:
            return 'f';
        case Type::Double:
            return 'd';
    }
    return 'i';
}

bool NSNumber::boolValue() const {
    if (isReal()) return d_ != 0.0;
    return i_ != 0;
}

long long NSNumber::longLongValue() const {
    if (isReal()) {
        if (std::isnan(d_)) return 0;
        if (d_ >= 9.2233720368547758e18) return std::numeric_limits<long long>::max();
        if (d_ <= -9.2233720368547758e18) return std::numeric_limits<long long>::min();
        return static_cast<long long>(d_);
    }
    return i_;  // unsigned values wrap as the platform's do
}

unsigned long long NSNumber::unsignedLongLongValue() const {
    if (isReal()) {
        if (std::isnan(d_) || d_ <= 0)
            return d_ < 0 ? static_cast<unsigned long long>(static_cast<long long>(d_)) : 0;
        if (d_ >= 1.8446744073709552e19) return std::numeric_limits<unsigned long long>::max();
        return static_cast<unsigned long long>(d_);
    }
    return u_;
}

double NSNumber::doubleValue() const {
    if (isReal()) return d_;
    if (isUnsigned()) return static_cast<double>(u_);
    return static_cast<double>(i_);
}

std::string NSNumber::stringValue() const {
    if (type_ == Type::Float) {
        float f = static_cast<float>(d_);
        if (std::isfinite(f) && f != 0) {
            char buf[64];
            auto result = std::to_chars(buf, buf + sizeof buf, f);
            return std::string(buf, result.ptr);
        }
        return formatReal(f);
    }
    if (type_ == Type::Double) return formatReal(d_);
    if (isUnsigned()) return std::to_string(u_);
    return std::to_string(i_);
}

int NSNumber::compare(const NSNumber& other) const {
    if (isReal() || other.isReal()) {
        double a = doubleValue(), b = other.doubleValue();
        if (a < b) return -1;
        if (a > b) return 1;
        if (a == b) return 0;
        // NaN sorts below everything and equals itself, so the order stays total.
        return std::isnan(a) ? (std::isnan(b) ? 0 : -1) : 1;
    }
    bool au = isUnsigned() && u_ > static_cast<unsigned long long>(std::numeric_limits<long long>::max());
    bool bu = other.isUnsigned() &&
              other.u_ > static_cast<unsigned long long>(std::numeric_limits<long long>::max());
    if (au || bu) {
        if (au && bu) return u_ < other.u_ ? -1 : (u_ > other.u_ ? 1 : 0);
        return au ? 1 : -1;
    }
    return i_ < other.i_ ? -1 : (i_ > other.i_ ? 1 : 0);
}

std::size_t NSNumber::hash() const {
    // Equal numbers must hash alike across kinds: hash integral values by their integer, others
    // by their double bits.
    double d = doubleValue();
    if (!isReal() || (d == std::floor(d) && std::fabs(d) < 9.2e18)) {
        long long i = isReal() ? static_cast<long long>(d) : longLongValue();
        return std::hash<long long>()(i);
    }
    return std::hash<double>()(d);
}

// ---------------------------------------------------------------------------------------------
// Array

Array::Array() : storage_(std::make_shared<detail::ArrayStorage>()) {}

Array::Array(std::initializer_list<Value> values) : storage_(std::make_shared<detail::ArrayStorage>()) {
    storage_->items.assign(values.begin(), values.end());
    storage_->isMutable = false;
}

Array::Array(std::vector<Value> values, bool isMutable) : storage_(std::make_shared<detail::ArrayStorage>()) {
    storage_->items = std::move(values);
    storage_->isMutable = isMutable;
}

Array Array::mutableArray(std::size_t capacity) {
    Array a;
    a.storage_->items.reserve(capacity);
    return a;
}

std::size_t Array::count() const {
    return storage_->items.size();
}

const Value& Array::operator[](std::size_t index) const {
    return index < storage_->items.size() ? storage_->items[index] : kNil;
}

const Value& Array::firstObject() const {
    return storage_->items.empty() ? kNil : storage_->items.front();
}
const Value& Array::lastObject() const {
    return storage_->items.empty() ? kNil : storage_->items.back();
}

bool Array::containsObject(const Value& value) const {
    return indexOfObject(value) != NSNotFound;
}

std::size_t Array::indexOfObject(const Value& value) const {
    auto& items = storage_->items;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].isEqual(value)) return i;
    }
    return NSNotFound;
}

void Array::addObject(Value value) {
    storage_->items.push_back(std::move(value));
}

void Array::insertObject(Value value, std::size_t index) {
    auto& items = storage_->items;
    if (index > items.size()) index = items.size();
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(index), std::move(value));
}

void Array::replaceObjectAtIndex(std::size_t index, Value value) {
    if (index < storage_->items.size()) storage_->items[index] = std::move(value);
}

void Array::removeObjectAtIndex(std::size_t index) {
    auto& items = storage_->items;
    if (index < items.size()) items.erase(items.begin() + static_cast<std::ptrdiff_t>(index));
}

void Array::removeObject(const Value& value) {
    auto& items = storage_->items;
    items.erase(std::remove_if(items.begin(), items.end(), [&](const Value& v) { return v.isEqual(value); }),
                items.end());
}

void Array::removeLastObject() {
    if (!storage_->items.empty()) storage_->items.pop_back();
}

void Array::removeAllObjects() {
    storage_->items.clear();
}

void Array::addObjectsFromArray(const Array& other) {
    // Copy first: other may be this very array.
    std::vector<Value> add = other.storage_->items;
    storage_->items.insert(storage_->items.end(), std::make_move_iterator(add.begin()),
                           std::make_move_iterator(add.end()));
}

void Array::reserve(std::size_t capacity) {
    storage_->items.reserve(capacity);
}

std::vector<Value>::const_iterator Array::begin() const {
    return storage_->items.begin();
}
std::vector<Value>::const_iterator Array::end() const {
    return storage_->items.end();
}
const std::vector<Value>& Array::items() const {
    return storage_->items;
}
std::vector<Value>& Array::mutableItems() {
    return storage_->items;
}

Array Array::copy() const {
    return Array(storage_->items, false);
}
Array Array::mutableCopy() const {
    return Array(storage_->items, true);
}
bool Array::isMutable() const {
    return storage_->isMutable;
}

bool Array::isEqualToArray(const Array& other) const {
    if (storage_ == other.storage_) return true;
    auto& a = storage_->items;
    auto& b = other.storage_->items;
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!a[i].isEqual(b[i])) return false;
    }
    return true;
}

std::string Array::description(int indent) const {
    if (auto describer = installedDescriber.load(std::memory_order_acquire)) return describer(Value(*this));
    return describeOnce(identity(), [&] {
        auto& items = storage_->items;
        if (items.empty()) return "(\n" + std::string(static_cast<std::size_t>(indent) * 4, ' ') + ")";
        std::string out = "(\n";
        for (std::size_t i = 0; i < items.size(); ++i) {
            appendIndent(out, indent + 1);
            out += nestedDescription(items[i], indent + 1);
            if (i + 1 < items.size()) out += ",";
            out += "\n";
        }
        appendIndent(out, indent);
        out += ")";
        return out;
    });
}

// ---------------------------------------------------------------------------------------------
// Dictionary

Dictionary::Dictionary() : storage_(std::make_shared<detail::DictionaryStorage>()) {}

Dictionary::Dictionary(std::initializer_list<Entry> entries) : Dictionary() {
    for (auto& e : entries) setObject(e.first, e.second);
    storage_->isMutable = false;
}

Dictionary Dictionary::mutableDictionary(std::size_t capacity) {
    Dictionary d;
    d.storage_->reserve(capacity);
    return d;
}

Dictionary Dictionary::withUniqueEntries(std::vector<Entry> entries, bool isMutable) {
    auto s = std::make_shared<detail::DictionaryStorage>();
    s->entries = std::move(entries);
    s->isMutable = isMutable;
    s->deferIndex();
    return Dictionary(std::move(s));
}

std::size_t Dictionary::count() const {
    return storage_->entries.size();
}

const Value* Dictionary::find(std::string_view key) const {
    auto i = storage_->indexOf(key);
    return i == NSNotFound ? nullptr : &storage_->entries[i].second;
}

const Value& Dictionary::objectForKey(std::string_view key) const {
    auto v = find(key);
    return v ? *v : kNil;
}

void Dictionary::setObject(std::string_view key, Value value) {
    if (value.isNil()) {
        removeObjectForKey(key);
        return;
    }
    storage_->assign(key, std::move(value));
}

void Dictionary::appendUnchecked(std::string key, Value value) {
    auto& s = *storage_;
    s.entries.emplace_back(std::move(key), std::move(value));
    s.didAppend();
}

void Dictionary::removeObjectForKey(std::string_view key) {
    auto i = storage_->indexOf(key);
    if (i == NSNotFound) return;
    storage_->erase(i);
}

void Dictionary::removeAllObjects() {
    storage_->clear();
}

void Dictionary::addEntriesFromDictionary(const Dictionary& other) {
    if (other.storage_ == storage_) return;
    for (auto& [k, v] : other.storage_->entries) setObject(k, v);
}

void Dictionary::reserve(std::size_t capacity) {
    storage_->reserve(capacity);
}

std::vector<std::string> Dictionary::allKeys() const {
    std::vector<std::string> keys;
    keys.reserve(storage_->entries.size());
    for (auto& e : storage_->entries) keys.push_back(e.first);
    return keys;
}

std::vector<Value> Dictionary::allValues() const {
    std::vector<Value> values;
    values.reserve(storage_->entries.size());
    for (auto& e : storage_->entries) values.push_back(e.second);
    return values;
}

std::vector<Dictionary::Entry>::const_iterator Dictionary::begin() const {
    return storage_->entries.begin();
}
std::vector<Dictionary::Entry>::const_iterator Dictionary::end() const {
    return storage_->entries.end();
}
const std::vector<Dictionary::Entry>& Dictionary::entries() const {
    return storage_->entries;
}

Dictionary Dictionary::copy() const {
    auto s = std::make_shared<detail::DictionaryStorage>(*storage_);
    s->isMutable = false;
    return Dictionary(std::move(s));
}

Dictionary Dictionary::mutableCopy() const {
    auto s = std::make_shared<detail::DictionaryStorage>(*storage_);
    s->isMutable = true;
    return Dictionary(std::move(s));
}

bool Dictionary::isMutable() const {
    return storage_->isMutable;
}

bool Dictionary::isEqualToDictionary(const Dictionary& other) const {
    if (storage_ == other.storage_) return true;
    if (count() != other.count()) return false;
    for (auto& [k, v] : storage_->entries) {
        auto o = other.find(k);
        if (!o || !o->isEqual(v)) return false;
    }
    return true;
}

std::string Dictionary::description(int indent) const {
    if (auto describer = installedDescriber.load(std::memory_order_acquire)) return describer(Value(*this));
    return describeOnce(identity(), [&] {
        std::string out = "{\n";
        for (auto& [k, v] : storage_->entries) {
            appendIndent(out, indent + 1);
            out += quoteForDescription(k);
            out += " = ";
            out += nestedDescription(v, indent + 1);
            out += ";\n";
        }
        appendIndent(out, indent);
        out += "}";
        return out;
    });
}

// ---------------------------------------------------------------------------------------------
// Value

const Value& Value::nil() {
    return kNil;
}

void ValueDescriptionHook::setContainerDescriber(ContainerDescriber describer) {
    installedDescriber.store(describer, std::memory_order_release);
}

ValueDescriptionHook::ContainerDescriber ValueDescriptionHook::containerDescriber() {
    return installedDescriber.load(std::memory_order_acquire);
}

bool Value::boolValue() const {
    if (auto n = number()) return n->boolValue();
    if (auto s = string()) {
        // The platform reads "YES", "true" and non-zero numbers as true.
        std::string_view t = *s;
        while (!t.empty() && (t.front() == ' ' || t.front() == '\t' || t.front() == '\n')) t.remove_prefix(1);
        if (t.empty()) return false;
        char c = t.front();
        if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
        if (c == '+' || c == '-') t.remove_prefix(1);
        while (!t.empty() && t.front() == '0') t.remove_prefix(1);
        return !t.empty() && t.front() >= '1' && t.front() <= '9';
    }
    return false;
}

long long Value::longLongValue() const {
    if (auto n = number()) return n->longLongValue();
    if (auto s = string()) return parseLeadingInteger(*s);
    return 0;
}

unsigned long long Value::unsignedLongLongValue() const {
    if (auto n = number()) return n->unsignedLongLongValue();
    if (auto s = string()) return static_cast<unsigned long long>(parseLeadingInteger(*s));
    return 0;
}

double Value::doubleValue() const {
    if (auto n = number()) return n->doubleValue();
    if (auto s = string()) return parseLeadingDouble(*s);
    return 0;
}

std::string Value::stringValue() const {
    switch (kind()) {
        case Kind::Nil:
            return "";
        case Kind::String:
            return *string();
        case Kind::Number:
            return number()->stringValue();
        default:
            return description();
    }
}

std::optional<std::string> Value::optionalString() const {
    if (auto s = string()) return *s;
    return std::nullopt;
}

const Value& Value::operator[](std::string_view key) const {
    if (auto d = dictionary()) return d->objectForKey(key);
    return kNil;
}

const Value& Value::operator[](std::size_t index) const {
    if (auto a = array()) return (*a)[index];
    return kNil;
}

std::string Value::description() const {
    switch (kind()) {
        case Kind::Nil:
            return "(null)";
        case Kind::Null:
            return "<null>";
        case Kind::Number:
            return number()->stringValue();
        case Kind::String:
            return *string();
        case Kind::Data:
            return data()->description();
        case Kind::Date:
            return date()->description();
        case Kind::Array:
            return array()->description(0);
        case Kind::Dictionary:
            return dictionary()->description(0);
        case Kind::Object:
            return object()->description();
    }
    return "";
}

bool Value::isEqual(const Value& other) const {
    if (kind() != other.kind()) return false;
    switch (kind()) {
        case Kind::Nil:
        case Kind::Null:
            return true;
        case Kind::Number:
            return *number() == *other.number();
        case Kind::String:
            return *string() == *other.string();
        case Kind::Data:
            return *data() == *other.data();
        case Kind::Date:
            return *date() == *other.date();
        case Kind::Array:
            return *array() == *other.array();
        case Kind::Dictionary:
            return *dictionary() == *other.dictionary();
        case Kind::Object:
            return objectsEqual(object(), other.object());
    }
    return false;
}

std::size_t Value::hash() const {
    switch (kind()) {
        case Kind::Nil:
            return 0;
        case Kind::Null:
            return 1;
        case Kind::Number:
            return number()->hash();
        case Kind::String:
            return std::hash<std::string>()(*string());
        case Kind::Data:
            return data()->hash();
        case Kind::Date:
            return std::hash<double>()(date()->timeIntervalSince1970());
        case Kind::Array:
            return array()->count();
        case Kind::Dictionary:
            return dictionary()->count();
        case Kind::Object:
            return object()->hash();
    }
    return 0;
}

Value Value::copy() const {
    if (auto a = array()) return a->copy();
    if (auto d = dictionary()) return d->copy();
    return *this;
}

Value Value::mutableCopy() const {
    if (auto a = array()) return a->mutableCopy();
    if (auto d = dictionary()) return d->mutableCopy();
    return *this;
}

Value Value::deepCopy(bool mutableContainers) const {
    if (auto a = array()) {
        std::vector<Value> items;
        items.reserve(a->count());
        for (auto& v : *a) items.push_back(v.deepCopy(mutableContainers));
        return Array(std::move(items), mutableContainers);
    }
    if (auto d = dictionary()) {
        Dictionary out = Dictionary::mutableDictionary(d->count());
        for (auto& [k, v] : *d) out.appendUnchecked(k, v.deepCopy(mutableContainers));
        return mutableContainers ? out : out.copy();
    }
    return *this;
}
