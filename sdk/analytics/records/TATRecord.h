#pragma once
// The shape every analytics report record shares.
//
// A record is a plain data object: each field holds a value and a presence flag. A setter
// stores and sets the flag (also when given none); an unsetter clears the flag, releasing an
// object value but leaving a scalar's value in place. `write` emits the fields whose flag is
// set (object fields only when they also hold a value) in id order as a bare struct; `read`
// takes the fields it knows with the expected wire type and skips everything else, nested
// values included; neither checks required fields, which is `validate`'s job. A read that fails
// part way leaves the fields stored before the failure, and a failing nested value leaves its
// field as it was.
//
// A record class lists its fields once, in `fields`, as (id, name, required, value, flag); the
// operations here walk that list. The C++ type of a field's value gives its wire type:
//
//   bool            bool (2)          std::optional<std::string>   string (11), none allowed
//   std::int32_t    i32 (8)           std::optional<NSData>        binary, sent as string (11)
//   std::int64_t    i64 (10)          Ref<Record>                  struct (12), nullptr = none
//   double          double (4)        std::optional<TATList<R>>    list (15) of records
//   std::optional<TATMap<Ref<R>>>     map (13) from text to records
//   std::optional<Dictionary>         map (13) from text to numbers, sent as i32
//
// Setting a list field to `std::nullopt` (or to `{}`) sets it to none; an empty list is
// `TATList<R>{}`.

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <unordered_map>
#include <utility>
#include <vector>

#include "foundation/NSKeyedArchiver.h"
#include "sdk/analytics/records/TATBinaryProtocol.h"

// Reading and writing through a protocol: what every record offers.
class TATBase {
  public:
    virtual ~TATBase() = default;
    virtual void read(TATProtocol& protocol) = 0;
    virtual void write(TATProtocol& protocol) const = 0;
};

template <class R>
using TATList = std::vector<Ref<R>>;

// The records one read makes, in blocks taken from the allocator a few at a time, since a
// report holds tens of thousands of small records and making and freeing each on its own cost
// most of the read. Every record made here holds the arena: it lives as long as any of them (a
// record kept after the rest of its report keeps it alive) and goes, with all its blocks, when
// the last one goes. Only the reading thread makes records here, while the read is open;
// records are released from any thread.
class TATRecordArena {
  public:
    TATRecordArena(const TATRecordArena&) = delete;
    TATRecordArena& operator=(const TATRecordArena&) = delete;

    // A new arena, held by the read that opens it until close().
    static TATRecordArena* open();
    // The read's hold ends; the arena goes now if no record made in it is left.
    void close() noexcept;

    void* allocate(std::size_t bytes, std::size_t alignment) {
        std::size_t at = (used_ + alignment - 1) & ~(alignment - 1);
        if (at + bytes > size_) [[unlikely]]
            return allocateInNewBlock(bytes, alignment);
        used_ = at + bytes;
        ++made_;
        return block_ + at;
    }
    // One record made here has gone.
    void release() noexcept {
        if (live_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }

  private:
    // While the read is open, the count carries this much on top of the records released so
    // far, so that it cannot reach zero before close() settles it with the records made.
    static constexpr std::int64_t kOpenHold = std::int64_t{1} << 48;
    static constexpr std::size_t kFirstBlock = 2048;
    static constexpr std::size_t kLargestBlock = 256 * 1024;

    TATRecordArena() = default;
    ~TATRecordArena();
    void* allocateInNewBlock(std::size_t bytes, std::size_t alignment);

    std::uint8_t* block_ = nullptr;
    std::size_t used_ = 0;
    std::size_t size_ = 0;
    std::int64_t made_ = 0;
    std::vector<std::uint8_t*> blocks_;
    std::atomic<std::int64_t> live_{kOpenHold};
};

namespace detail {

// The allocator of the records made in an arena; giving one back releases it.
template <class T>
class TATArenaAllocator {
  public:
    using value_type = T;

    explicit TATArenaAllocator(TATRecordArena* arena) noexcept : arena_(arena) {}
    template <class U>
    TATArenaAllocator(const TATArenaAllocator<U>& other) noexcept : arena_(other.arena()) {}

    T* allocate(std::size_t n) {
        static_assert(alignof(T) <= alignof(std::max_align_t),
                      "blocks are aligned for fundamental types only");
        return static_cast<T*>(arena_->allocate(n * sizeof(T), alignof(T)));
    }
    void deallocate(T*, std::size_t) noexcept { arena_->release(); }
    TATRecordArena* arena() const noexcept { return arena_; }
    template <class U>
    bool operator==(const TATArenaAllocator<U>& other) const noexcept {
        return arena_ == other.arena();
    }

  private:
    TATRecordArena* arena_;
};

// A new record for a read in progress: in the read's arena when reading binary, else on its own.
template <class R, class P>
Ref<R> tatMakeRecord(P& p) {
    if constexpr (std::is_same_v<P, TATBinaryProtocol>) {
        if (p.recordReadDepth() > 0) {
            if (!p.recordArena()) p.setRecordArena(TATRecordArena::open());
            return std::allocate_shared<R>(TATArenaAllocator<R>(p.recordArena()));
        }
    }
    return make<R>();
}

// Marks a record read on a binary protocol; the outermost one closes the arena its records
// were made in, also when the read fails.
class TATRecordReadScope {
  public:
    explicit TATRecordReadScope(TATBinaryProtocol& p) : p_(p) {
        p_.setRecordReadDepth(p_.recordReadDepth() + 1);
    }
    ~TATRecordReadScope() {
        int depth = p_.recordReadDepth() - 1;
        p_.setRecordReadDepth(depth);
        if (depth == 0 && p_.recordArena()) {
            p_.recordArena()->close();
            p_.setRecordArena(nullptr);
        }
    }
    TATRecordReadScope(const TATRecordReadScope&) = delete;
    TATRecordReadScope& operator=(const TATRecordReadScope&) = delete;

  private:
    TATBinaryProtocol& p_;
};

}  // namespace detail

// A map from text to values in insertion order, the order in which it is written. Setting an
// existing key replaces its value in place. Large maps keep a hash index, so that reading many
// entries stays linear.
template <class V>
class TATMap {
  public:
    using Entry = std::pair<std::string, V>;

    TATMap() = default;
    TATMap(std::initializer_list<Entry> entries) {
        for (auto& e : entries) setObject(e.first, e.second);
    }

    std::size_t count() const { return entries_.size(); }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    void reserve(std::size_t n) { entries_.reserve(n); }

    // The value of the key, V{} (nullptr for records) when absent.
    V objectForKey(std::string_view key) const {
        auto i = indexOf(key);
        return i == kAbsent ? V{} : entries_[i].second;
    }
    bool containsKey(std::string_view key) const { return indexOf(key) != kAbsent; }

    void setObject(std::string key, V value) {
        auto i = indexOf(key);
        if (i != kAbsent) {
            entries_[i].second = std::move(value);
            return;
        }
        if (!index_.empty()) index_.emplace(key, entries_.size());
        entries_.emplace_back(std::move(key), std::move(value));
    }
    void removeObjectForKey(std::string_view key) {
        auto i = indexOf(key);
        if (i == kAbsent) return;
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
        index_.clear();
    }
    void removeAllObjects() {
        entries_.clear();
        index_.clear();
    }

    std::vector<std::string> allKeys() const {
        std::vector<std::string> keys;
        keys.reserve(entries_.size());
        for (auto& e : entries_) keys.push_back(e.first);
        return keys;
    }
    typename std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
    typename std::vector<Entry>::const_iterator end() const { return entries_.end(); }
    typename std::vector<Entry>::iterator begin() { return entries_.begin(); }
    typename std::vector<Entry>::iterator end() { return entries_.end(); }

  private:
    static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);
    static constexpr std::size_t kIndexThreshold = 16;

    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };

    std::size_t indexOf(std::string_view key) const {
        if (entries_.size() < kIndexThreshold) {
            for (std::size_t i = 0; i < entries_.size(); ++i) {
                if (entries_[i].first == key) return i;
            }
            return kAbsent;
        }
        if (index_.empty()) {
            index_.reserve(entries_.size());
            for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].first, i);
        }
        auto it = index_.find(key);
        return it == index_.end() ? kAbsent : it->second;
    }

    std::vector<Entry> entries_;
    mutable std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>> index_;
};

namespace detail {

// What the C++ type of a field says about it on the wire.
template <class T>
struct TATFieldTraits;
template <>
struct TATFieldTraits<bool> {
    static constexpr int wireType = kTATTypeBool;
};
template <>
struct TATFieldTraits<std::int32_t> {
    static constexpr int wireType = kTATTypeI32;
};
template <>
struct TATFieldTraits<std::int64_t> {
    static constexpr int wireType = kTATTypeI64;
};
template <>
struct TATFieldTraits<double> {
    static constexpr int wireType = kTATTypeDouble;
};
template <>
struct TATFieldTraits<std::optional<std::string>> {
    static constexpr int wireType = kTATTypeString;
};
template <>
struct TATFieldTraits<std::optional<NSData>> {
    static constexpr int wireType = kTATTypeString;
};
template <class R>
struct TATFieldTraits<Ref<R>> {
    static constexpr int wireType = kTATTypeStruct;
};
template <class R>
struct TATFieldTraits<std::optional<TATList<R>>> {
    static constexpr int wireType = kTATTypeList;
};
template <class R>
struct TATFieldTraits<std::optional<TATMap<Ref<R>>>> {
    static constexpr int wireType = kTATTypeMap;
};
template <>
struct TATFieldTraits<std::optional<Dictionary>> {
    static constexpr int wireType = kTATTypeMap;
};

template <class T>
inline constexpr bool kTATIsScalar = std::is_same_v<T, bool> || std::is_same_v<T, std::int32_t> ||
                                     std::is_same_v<T, std::int64_t> || std::is_same_v<T, double>;

template <class T>
bool tatHoldsValue(const T& value) {
    if constexpr (kTATIsScalar<T>) {
        return true;
    } else {
        return static_cast<bool>(value);
    }
}

[[noreturn]] void tatRaiseProtocol(std::string reason);
std::string tatFormatDouble(double value);
// The platform's description of a list or map of records.
std::string tatDescribeObjects(const std::vector<Ref<NSObject>>& objects);
std::string tatDescribeObjects(const std::vector<std::pair<std::string, Ref<NSObject>>>& objects);
Dictionary tatReadNumberMap(TATProtocol& protocol);
void tatWriteNumberMap(TATProtocol& protocol, const Dictionary& map);

// ----- writing and reading, over any protocol P (TATBinaryProtocol is reached directly) -----
template <class P>
void tatWriteValue(P& p, bool v) {
    p.writeBool(v);
}
template <class P>
void tatWriteValue(P& p, std::int32_t v) {
    p.writeI32(v);
}
template <class P>
void tatWriteValue(P& p, std::int64_t v) {
    p.writeI64(v);
}
template <class P>
void tatWriteValue(P& p, double v) {
    p.writeDouble(v);
}
template <class P>
void tatWriteValue(P& p, const std::optional<std::string>& v) {
    p.writeString(std::string_view(*v));
}
template <class P>
void tatWriteValue(P& p, const std::optional<NSData>& v) {
    p.writeBinary(*v);
}
template <class P>
void tatWriteValue(P& p, const std::optional<Dictionary>& v) {
    tatWriteNumberMap(p, *v);
}
template <class P, class R>
void tatWriteValue(P& p, const Ref<R>& v) {
    v->write(p);
}
// A null element cannot be written as a record; it is left out, and the count says so.
template <class P, class R>
void tatWriteValue(P& p, const std::optional<TATList<R>>& v) {
    int count = 0;
    for (auto& e : *v) count += e != nullptr;
    p.writeListBegin(kTATTypeStruct, count);
    for (auto& e : *v) {
        if (e) e->write(p);
    }
    p.writeListEnd();
}
template <class P, class R>
void tatWriteValue(P& p, const std::optional<TATMap<Ref<R>>>& v) {
    int count = 0;
    for (auto& e : *v) count += e.second != nullptr;
    p.writeMapBegin(kTATTypeString, kTATTypeStruct, count);
    for (auto& e : *v) {
        if (!e.second) continue;
        p.writeString(std::string_view(e.first));
        e.second->write(p);
    }
    p.writeMapEnd();
}

// Reading makes a new value, stored only once it is complete.
template <class P>
void tatReadValue(P& p, bool& v) {
    v = p.readBool();
}
template <class P>
void tatReadValue(P& p, std::int32_t& v) {
    v = p.readI32();
}
template <class P>
void tatReadValue(P& p, std::int64_t& v) {
    v = p.readI64();
}
template <class P>
void tatReadValue(P& p, double& v) {
    v = p.readDouble();
}
template <class P>
void tatReadValue(P& p, std::optional<std::string>& v) {
    v = p.readString();
}
template <class P>
void tatReadValue(P& p, std::optional<NSData>& v) {
    v = p.readBinary();
}
template <class P>
void tatReadValue(P& p, std::optional<Dictionary>& v) {
    v = tatReadNumberMap(p);
}
template <class P, class R>
void tatReadValue(P& p, Ref<R>& v) {
    auto record = tatMakeRecord<R>(p);
    record->read(p);
    v = std::move(record);
}
// Room for the elements a count from the wire announces, as far as the unread bytes could hold
// them (a record takes at least its stop byte, a map entry also its key's length).
template <class P, class C>
void tatReserve(P& p, C& items, int size, std::size_t minimumBytes) {
    if constexpr (std::is_same_v<P, TATBinaryProtocol>) items.reserve(p.plausibleCount(size, minimumBytes));
}

// The element type on the wire is not looked at: elements are records of the field's type.
template <class P, class R>
void tatReadValue(P& p, std::optional<TATList<R>>& v) {
    int elementType = 0, size = 0;
    p.readListBegin(&elementType, &size);
    TATList<R> items;
    tatReserve(p, items, size, 1);
    for (int i = 0; i < size; ++i) {
        auto record = tatMakeRecord<R>(p);
        record->read(p);
        items.push_back(std::move(record));
    }
    p.readListEnd();
    v = std::move(items);
}
template <class P, class R>
void tatReadValue(P& p, std::optional<TATMap<Ref<R>>>& v) {
    int keyType = 0, valueType = 0, size = 0;
    p.readMapBegin(&keyType, &valueType, &size);
    TATMap<Ref<R>> map;
    tatReserve(p, map, size, 5);
    for (int i = 0; i < size; ++i) {
        auto key = p.readString();
        auto record = tatMakeRecord<R>(p);
        record->read(p);
        if (!key) tatRaiseProtocol("Map key is not valid UTF-8");
        map.setObject(std::move(*key), std::move(record));
    }
    p.readMapEnd();
    v = std::move(map);
}

// ----- text form -----
inline std::string tatDescribe(bool v) {
    return v ? "1" : "0";
}
inline std::string tatDescribe(std::int32_t v) {
    return std::to_string(v);
}
inline std::string tatDescribe(std::int64_t v) {
    return std::to_string(v);
}
inline std::string tatDescribe(double v) {
    return tatFormatDouble(v);
}
inline std::string tatDescribe(const std::optional<std::string>& v) {
    return "\"" + (v ? *v : "(null)") + "\"";
}
inline std::string tatDescribe(const std::optional<NSData>& v) {
    return "\"" + (v ? v->description() : std::string("(null)")) + "\"";
}
inline std::string tatDescribe(const std::optional<Dictionary>& v) {
    return v ? v->description() : "(null)";
}
template <class R>
std::string tatDescribe(const Ref<R>& v) {
    return v ? v->description() : "(null)";
}
template <class R>
std::string tatDescribe(const std::optional<TATList<R>>& v) {
    if (!v) return "(null)";
    return tatDescribeObjects(std::vector<Ref<NSObject>>(v->begin(), v->end()));
}
template <class R>
std::string tatDescribe(const std::optional<TATMap<Ref<R>>>& v) {
    if (!v) return "(null)";
    std::vector<std::pair<std::string, Ref<NSObject>>> entries(v->begin(), v->end());
    return tatDescribeObjects(entries);
}

// ----- keyed archiving -----
inline void tatEncode(NSCoder& c, const char* key, bool v) {
    c.encodeBool(v, key);
}
inline void tatEncode(NSCoder& c, const char* key, std::int32_t v) {
    c.encodeInt32(v, key);
}
inline void tatEncode(NSCoder& c, const char* key, std::int64_t v) {
    c.encodeInt64(v, key);
}
inline void tatEncode(NSCoder& c, const char* key, double v) {
    c.encodeDouble(v, key);
}
inline void tatEncode(NSCoder& c, const char* key, const std::optional<std::string>& v) {
    c.encodeObject(Value(v), key);
}
inline void tatEncode(NSCoder& c, const char* key, const std::optional<NSData>& v) {
    c.encodeObject(v ? Value(*v) : Value(), key);
}
inline void tatEncode(NSCoder& c, const char* key, const std::optional<Dictionary>& v) {
    c.encodeObject(v ? Value(*v) : Value(), key);
}
template <class R>
void tatEncode(NSCoder& c, const char* key, const Ref<R>& v) {
    c.encodeObject(Value(v), key);
}
template <class R>
void tatEncode(NSCoder& c, const char* key, const std::optional<TATList<R>>& v) {
    if (!v) return c.encodeObject(Value(), key);
    Array items = Array::mutableArray(v->size());
    for (auto& e : *v) {
        if (e) items.addObject(Value(e));
    }
    c.encodeObject(Value(items), key);
}
template <class R>
void tatEncode(NSCoder& c, const char* key, const std::optional<TATMap<Ref<R>>>& v) {
    if (!v) return c.encodeObject(Value(), key);
    Dictionary entries = Dictionary::mutableDictionary(v->size());
    for (auto& e : *v) {
        if (e.second) entries.setObject(e.first, Value(e.second));
    }
    c.encodeObject(Value(entries), key);
}

inline void tatDecode(NSCoder& c, const char* key, bool& v) {
    v = c.decodeBoolForKey(key);
}
inline void tatDecode(NSCoder& c, const char* key, std::int32_t& v) {
    v = c.decodeInt32ForKey(key);
}
inline void tatDecode(NSCoder& c, const char* key, std::int64_t& v) {
    v = c.decodeInt64ForKey(key);
}
inline void tatDecode(NSCoder& c, const char* key, double& v) {
    v = c.decodeDoubleForKey(key);
}
inline void tatDecode(NSCoder& c, const char* key, std::optional<std::string>& v) {
    v = c.decodeObjectForKey(key).optionalString();
}
inline void tatDecode(NSCoder& c, const char* key, std::optional<NSData>& v) {
    Value o = c.decodeObjectForKey(key);
    v = o.data() ? std::optional<NSData>(*o.data()) : std::nullopt;
}
inline void tatDecode(NSCoder& c, const char* key, std::optional<Dictionary>& v) {
    Value o = c.decodeObjectForKey(key);
    v = o.dictionary() ? std::optional<Dictionary>(o.dictionary()->mutableCopy()) : std::nullopt;
}
template <class R>
void tatDecode(NSCoder& c, const char* key, Ref<R>& v) {
    v = c.decodeObjectForKey(key).template objectAs<R>();
}
template <class R>
void tatDecode(NSCoder& c, const char* key, std::optional<TATList<R>>& v) {
    Value o = c.decodeObjectForKey(key);
    if (!o.array()) {
        v.reset();
        return;
    }
    TATList<R> items;
    for (auto& item : *o.array()) {
        if (auto record = item.template objectAs<R>()) items.push_back(std::move(record));
    }
    v = std::move(items);
}
template <class R>
void tatDecode(NSCoder& c, const char* key, std::optional<TATMap<Ref<R>>>& v) {
    Value o = c.decodeObjectForKey(key);
    if (!o.dictionary()) {
        v.reset();
        return;
    }
    TATMap<Ref<R>> map;
    for (auto& [k, item] : *o.dictionary()) {
        if (auto record = item.template objectAs<R>()) map.setObject(k, std::move(record));
    }
    v = std::move(map);
}

// ----- equality of contents -----
inline bool tatEqual(bool a, bool b) {
    return a == b;
}
inline bool tatEqual(std::int32_t a, std::int32_t b) {
    return a == b;
}
inline bool tatEqual(std::int64_t a, std::int64_t b) {
    return a == b;
}
inline bool tatEqual(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}
inline bool tatEqual(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    return a == b;
}
inline bool tatEqual(const std::optional<NSData>& a, const std::optional<NSData>& b) {
    return a == b;
}
inline bool tatEqual(const std::optional<Dictionary>& a, const std::optional<Dictionary>& b) {
    if (!a || !b) return !a && !b;
    return a->isEqualToDictionary(*b);
}
template <class R>
bool tatEqual(const Ref<R>& a, const Ref<R>& b) {
    if (!a || !b) return !a && !b;
    return a->isEqualToRecord(*b);
}
template <class R>
bool tatEqual(const std::optional<TATList<R>>& a, const std::optional<TATList<R>>& b) {
    if (!a || !b) return !a && !b;
    if (a->size() != b->size()) return false;
    for (std::size_t i = 0; i < a->size(); ++i) {
        if (!tatEqual((*a)[i], (*b)[i])) return false;
    }
    return true;
}
template <class R>
bool tatEqual(const std::optional<TATMap<Ref<R>>>& a, const std::optional<TATMap<Ref<R>>>& b) {
    if (!a || !b) return !a && !b;
    if (a->count() != b->count()) return false;
    for (auto& [key, value] : *a) {
        if (!b->containsKey(key) || !tatEqual(value, b->objectForKey(key))) return false;
    }
    return true;
}

}  // namespace detail

// The operations every record shares, over the field list of the record class D. D names
// itself (kClassName) and its struct (kStructName), and lists its fields in id order in a
// static `fields(visit)` that calls visit(id, name, required, &D::value, &D::flag) for each.
template <class D>
class TATRecord : public NSObject, public TATBase, public NSCoding {
  public:
    void read(TATProtocol& protocol) override;
    void write(TATProtocol& protocol) const override;
    // Raises TAWireProtocolException "Required field 'x' is not set." for the first required
    // field whose flag is clear.
    void validate() const;
    // "StructName(field:value,...)", every field whether set or not.
    std::string description() const override;
    void encodeWithCoder(NSCoder& coder) const override;
    std::string className() const override { return D::kClassName; }
    // The same fields set, with equal values; nested records, lists and maps by content.
    bool isEqualToRecord(const D& other) const;

  protected:
    // The body of the keyed-archive initialiser: every field whose name the archive holds.
    void decodeWithCoder(NSCoder& coder);

  private:
    template <class P>
    void writeFields(P& protocol) const;
    template <class P>
    void readFields(P& protocol);
    const D& asDerived() const { return static_cast<const D&>(*this); }
    D& asDerived() { return static_cast<D&>(*this); }
};

// The binary protocol over a memory buffer is what every caller uses; reaching it directly lets
// the field writes and reads inline.
template <class D>
void TATRecord<D>::write(TATProtocol& protocol) const {
    if (typeid(protocol) == typeid(TATBinaryProtocol)) {
        writeFields(static_cast<TATBinaryProtocol&>(protocol));
    } else {
        writeFields(protocol);
    }
}

template <class D>
void TATRecord<D>::read(TATProtocol& protocol) {
    if (typeid(protocol) == typeid(TATBinaryProtocol)) {
        auto& binary = static_cast<TATBinaryProtocol&>(protocol);
        detail::TATRecordReadScope scope(binary);
        readFields(binary);
    } else {
        readFields(protocol);
    }
}

template <class D>
template <class P>
void TATRecord<D>::writeFields(P& protocol) const {
    const D& record = asDerived();
    protocol.writeStructBegin(D::kStructName);
    D::fields([&](int id, const char* name, bool, auto value, bool D::*flag) {
        const auto& v = record.*value;
        using T = std::decay_t<decltype(v)>;
        if (!(record.*flag) || !detail::tatHoldsValue(v)) return;
        protocol.writeFieldBegin(name, detail::TATFieldTraits<T>::wireType, id);
        detail::tatWriteValue(protocol, v);
        protocol.writeFieldEnd();
    });
    protocol.writeFieldStop();
    protocol.writeStructEnd();
}

template <class D>
template <class P>
void TATRecord<D>::readFields(P& protocol) {
    D& record = asDerived();
    protocol.readStructBegin(nullptr);
    for (;;) {
        int fieldType = detail::kTATTypeStop;
        int fieldID = 0;
        protocol.readFieldBegin(nullptr, &fieldType, &fieldID);
        if (fieldType == detail::kTATTypeStop) break;
        bool taken = false;
        D::fields([&](int id, const char*, bool, auto value, bool D::*flag) {
            using T = std::decay_t<decltype(record.*value)>;
            if (id != fieldID || fieldType != detail::TATFieldTraits<T>::wireType) return;
            if constexpr (detail::kTATIsScalar<T> || std::is_same_v<T, std::optional<std::string>>) {
                // These are read whole before they are stored: a failing read leaves the field.
                detail::tatReadValue(protocol, record.*value);
            } else {
                T fresh{};
                detail::tatReadValue(protocol, fresh);
                record.*value = std::move(fresh);
            }
            record.*flag = true;
            taken = true;
        });
        if (!taken) TATProtocolUtil::skipType(fieldType, protocol);
        protocol.readFieldEnd();
    }
    protocol.readStructEnd();
}

template <class D>
void TATRecord<D>::validate() const {
    const D& record = asDerived();
    const char* missing = nullptr;
    D::fields([&](int, const char* name, bool required, auto, bool D::*flag) {
        if (!missing && required && !(record.*flag)) missing = name;
    });
    if (missing) detail::tatRaiseProtocol(std::string("Required field '") + missing + "' is not set.");
}

template <class D>
std::string TATRecord<D>::description() const {
    const D& record = asDerived();
    std::string text = D::kStructName;
    text += '(';
    bool first = true;
    D::fields([&](int, const char* name, bool, auto value, bool D::*) {
        if (!first) text += ',';
        first = false;
        text += name;
        text += ':';
        text += detail::tatDescribe(record.*value);
    });
    text += ')';
    return text;
}

template <class D>
void TATRecord<D>::encodeWithCoder(NSCoder& coder) const {
    const D& record = asDerived();
    D::fields([&](int, const char* name, bool, auto value, bool D::*flag) {
        if (record.*flag) detail::tatEncode(coder, name, record.*value);
    });
}

template <class D>
void TATRecord<D>::decodeWithCoder(NSCoder& coder) {
    D& record = asDerived();
    D::fields([&](int, const char* name, bool, auto value, bool D::*flag) {
        if (!coder.containsValueForKey(name)) return;
        detail::tatDecode(coder, name, record.*value);
        record.*flag = true;
    });
}

template <class D>
bool TATRecord<D>::isEqualToRecord(const D& other) const {
    const D& record = asDerived();
    bool equal = true;
    D::fields([&](int, const char*, bool, auto value, bool D::*flag) {
        if (!equal) return;
        bool set = record.*flag;
        if (set != other.*flag || (set && !detail::tatEqual(record.*value, other.*value))) equal = false;
    });
    return equal;
}
