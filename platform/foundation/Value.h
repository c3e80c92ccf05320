#pragma once
// Value: what the platform would hold as an untyped object reference. JSON and property-list
// values, user info, defaults, archived values.
//
//   nil | null | number | string | data | date | array | dictionary | object (any Ref<NSObject>)
//
// Numbers keep their kind (Boolean, char, each integer width, float, double) and compare by
// numeric value; a string never equals a number. Arrays and dictionaries are shared by
// reference, as on the platform: two Values holding one dictionary see each other's changes;
// copy() and mutableCopy() make new containers. Dictionaries keep insertion order.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSDate.h"
#include "foundation/NSObject.h"

class Value;

// ---------------------------------------------------------------------------------------------
// NSNumber: a boxed number that remembers its C type.
class NSNumber {
  public:
    enum class Type : std::uint8_t {
        Bool,
        Char,
        Short,
        Int,
        Long,
        LongLong,
        UChar,
        UShort,
        UInt,
        ULong,
        ULongLong,
        Float,
        Double,
    };

    constexpr NSNumber() = default;
    static constexpr NSNumber numberWithBool(bool v) { return NSNumber(Type::Bool, v ? 1 : 0); }
    static constexpr NSNumber numberWithChar(signed char v) { return NSNumber(Type::Char, v); }
    static constexpr NSNumber numberWithShort(short v) { return NSNumber(Type::Short, v); }
    static constexpr NSNumber numberWithInt(int v) { return NSNumber(Type::Int, v); }
    static constexpr NSNumber numberWithLong(long v) { return NSNumber(Type::Long, v); }
    static constexpr NSNumber numberWithInteger(long v) { return NSNumber(Type::Long, v); }
    static constexpr NSNumber numberWithLongLong(long long v) { return NSNumber(Type::LongLong, v); }
    static constexpr NSNumber numberWithUnsignedChar(unsigned char v) { return fromUnsigned(Type::UChar, v); }
    static constexpr NSNumber numberWithUnsignedShort(unsigned short v) {
        return fromUnsigned(Type::UShort, v);
    }
    static constexpr NSNumber numberWithUnsignedInt(unsigned v) { return fromUnsigned(Type::UInt, v); }
    static constexpr NSNumber numberWithUnsignedLong(unsigned long v) { return fromUnsigned(Type::ULong, v); }
    static constexpr NSNumber numberWithUnsignedInteger(unsigned long v) {
        return fromUnsigned(Type::ULong, v);
    }
    static constexpr NSNumber numberWithUnsignedLongLong(unsigned long long v) {
        return fromUnsigned(Type::ULongLong, v);
    }
    static constexpr NSNumber numberWithFloat(float v) { return fromReal(Type::Float, v); }
    static constexpr NSNumber numberWithDouble(double v) { return fromReal(Type::Double, v); }

    constexpr Type type() const { return type_; }
    // The platform's objCType letter: c (Bool and char), s, i, q (long and long long), C, S, I,
    // Q (unsigned long and long long), f, d.
    char objCType() const;
    constexpr bool isBoolean() const { return type_ == Type::Bool; }
    constexpr bool isReal() const { return type_ == Type::Float || type_ == Type::Double; }
    constexpr bool isUnsigned() const {
        return type_ == Type::UChar || type_ == Type::UShort || type_ == Type::UInt || type_ == Type::ULong ||
               type_ == Type::ULongLong;
    }

    bool boolValue() const;
    int intValue() const { return static_cast<int>(longLongValue()); }
    long integerValue() const { return static_cast<long>(longLongValue()); }
    long long longLongValue() const;
    unsigned unsignedIntValue() const { return static_cast<unsigned>(unsignedLongLongValue()); }
    unsigned long unsignedIntegerValue() const { return static_cast<unsigned long>(unsignedLongLongValue()); }
    unsigned long long unsignedLongLongValue() const;
    float floatValue() const { return static_cast<float>(doubleValue()); }
    double doubleValue() const;

    // The "%@" text: decimal integers; reals in the shortest form that reads back ("127.5",
    // "0.1"); Booleans as 1 and 0.
    std::string stringValue() const;
    std::string description() const { return stringValue(); }

    // Numeric comparison across kinds (0 == 0.0, YES == 1); -1, 0 or 1.
    int compare(const NSNumber& other) const;
    bool isEqualToNumber(const NSNumber& other) const { return compare(other) == 0; }
    bool operator==(const NSNumber& other) const { return compare(other) == 0; }
    std::size_t hash() const;

  private:
    constexpr NSNumber(Type type, long long v) : type_(type), i_(v) {}
    static constexpr NSNumber fromUnsigned(Type type, unsigned long long v) {
        NSNumber n;
        n.type_ = type;
        n.u_ = v;
        return n;
    }
    static constexpr NSNumber fromReal(Type type, double v) {
        NSNumber n;
        n.type_ = type;
        n.d_ = v;
        return n;
    }

    Type type_ = Type::Int;
    union {
        long long i_ = 0;
        unsigned long long u_;
        double d_;
    };
};

// ---------------------------------------------------------------------------------------------
namespace detail {
struct ArrayStorage;
struct DictionaryStorage;
}  // namespace detail

// An array of Values, shared by reference.
class Array {
  public:
    // A new, empty, mutable array.
    Array();
    // A new immutable array of the given values.
    Array(std::initializer_list<Value> values);
    explicit Array(std::vector<Value> values, bool isMutable = false);
    static Array mutableArray(std::size_t capacity = 0);

    std::size_t count() const;
    std::size_t size() const { return count(); }
    bool empty() const { return count() == 0; }
    // Out-of-range reads answer nil rather than fail; readers of outside data rely on that.
    const Value& operator[](std::size_t index) const;
    const Value& objectAtIndex(std::size_t index) const { return (*this)[index]; }
    const Value& firstObject() const;
    const Value& lastObject() const;
    bool containsObject(const Value& value) const;
    // NSNotFound when absent.
    std::size_t indexOfObject(const Value& value) const;

    void addObject(Value value);
    void insertObject(Value value, std::size_t index);
    void replaceObjectAtIndex(std::size_t index, Value value);
    void removeObjectAtIndex(std::size_t index);
    void removeObject(const Value& value);
    void removeLastObject();
    void removeAllObjects();
    void addObjectsFromArray(const Array& other);
    void reserve(std::size_t capacity);

    std::vector<Value>::const_iterator begin() const;
    std::vector<Value>::const_iterator end() const;
    const std::vector<Value>& items() const;
    // Direct access for code that builds arrays fast (readers).
    std::vector<Value>& mutableItems();

    // Shallow copies into a new container.
    Array copy() const;
    Array mutableCopy() const;
    bool isMutable() const;
    // Whether two handles share one container (identity, not equality).
    bool isSameArray(const Array& other) const { return storage_ == other.storage_; }
    // The shared container's identity, for writers that keep shared containers shared.
    const void* identity() const { return storage_.get(); }

    bool isEqualToArray(const Array& other) const;
    bool operator==(const Array& other) const { return isEqualToArray(other); }
    std::string description(int indent = 0) const;

  private:
    explicit Array(std::shared_ptr<detail::ArrayStorage> storage) : storage_(std::move(storage)) {}
    std::shared_ptr<detail::ArrayStorage> storage_;
};

// A dictionary from strings to Values, in insertion order, shared by reference.
class Dictionary {
  public:
    using Entry = std::pair<std::string, Value>;

    // A new, empty, mutable dictionary.
    Dictionary();
    // A new immutable dictionary; a later duplicate key replaces the earlier value in place.
    Dictionary(std::initializer_list<Entry> entries);
    static Dictionary mutableDictionary(std::size_t capacity = 0);
    // For readers that build dictionaries fast: takes over entries whose keys the caller
    // guarantees to be distinct.
    static Dictionary withUniqueEntries(std::vector<Entry> entries, bool isMutable = false);

    std::size_t count() const;
    std::size_t size() const { return count(); }
    bool empty() const { return count() == 0; }
    // nil when absent.
    const Value& objectForKey(std::string_view key) const;
    const Value& operator[](std::string_view key) const { return objectForKey(key); }
    // nullptr when absent.
    const Value* find(std::string_view key) const;
    bool containsKey(std::string_view key) const { return find(key) != nullptr; }

    // Setting nil removes the key (setValue:forKey: semantics). A new key goes last; an existing
    // key keeps its place.
    void setObject(std::string_view key, Value value);
    void removeObjectForKey(std::string_view key);
    void removeAllObjects();
    void addEntriesFromDictionary(const Dictionary& other);
    void reserve(std::size_t capacity);

    std::vector<std::string> allKeys() const;
    std::vector<Value> allValues() const;
    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;
    const std::vector<Entry>& entries() const;
    // For readers that build dictionaries fast: appends without checking for a duplicate key.
    // The caller guarantees the key is new.
    void appendUnchecked(std::string key, Value value);

    Dictionary copy() const;
    Dictionary mutableCopy() const;
    bool isMutable() const;
    bool isSameDictionary(const Dictionary& other) const { return storage_ == other.storage_; }
    const void* identity() const { return storage_.get(); }

    // Same keys with equal values, whatever the order.
    bool isEqualToDictionary(const Dictionary& other) const;
    bool operator==(const Dictionary& other) const { return isEqualToDictionary(other); }
    std::string description(int indent = 0) const;

  private:
    explicit Dictionary(std::shared_ptr<detail::DictionaryStorage> storage) : storage_(std::move(storage)) {}
    std::shared_ptr<detail::DictionaryStorage> storage_;
};

inline constexpr std::size_t NSNotFound = static_cast<std::size_t>(-1) >> 1;

// ---------------------------------------------------------------------------------------------
class Value {
  public:
    enum class Kind : std::uint8_t { Nil, Null, Number, String, Data, Date, Array, Dictionary, Object };
    struct NullTag {
        bool operator==(const NullTag&) const = default;
    };

    Value() = default;
    Value(std::nullptr_t) {}
    static Value null() {
        Value v;
        v.storage_ = NullTag{};
        return v;
    }

    Value(NSNumber n) : storage_(n) {}
    Value(bool v) : storage_(NSNumber::numberWithBool(v)) {}
    Value(int v) : storage_(NSNumber::numberWithInt(v)) {}
    Value(long v) : storage_(NSNumber::numberWithLong(v)) {}
    Value(long long v) : storage_(NSNumber::numberWithLongLong(v)) {}
    Value(unsigned v) : storage_(NSNumber::numberWithUnsignedInt(v)) {}
    Value(unsigned long v) : storage_(NSNumber::numberWithUnsignedLong(v)) {}
    Value(unsigned long long v) : storage_(NSNumber::numberWithUnsignedLongLong(v)) {}
    Value(float v) : storage_(NSNumber::numberWithFloat(v)) {}
    Value(double v) : storage_(NSNumber::numberWithDouble(v)) {}

    Value(std::string s) : storage_(std::move(s)) {}
    Value(std::string_view s) : storage_(std::string(s)) {}
    Value(const char* s) {
        if (s) storage_ = std::string(s);
    }
    // An absent optional string is nil.
    Value(const std::optional<std::string>& s) {
        if (s) storage_ = *s;
    }

    Value(NSData d) : storage_(std::move(d)) {}
    Value(NSDate d) : storage_(d) {}
    Value(Array a) : storage_(std::move(a)) {}
    Value(Dictionary d) : storage_(std::move(d)) {}

    // Any object; a null Ref is nil.
    template <class T, class = std::enable_if_t<std::is_base_of_v<NSObject, T>>>
    Value(const Ref<T>& object) {
        if (object) storage_ = Ref<NSObject>(object);
    }

    Kind kind() const { return static_cast<Kind>(storage_.index()); }
    bool isNil() const { return kind() == Kind::Nil; }
    bool isNull() const { return kind() == Kind::Null; }
    // Neither nil nor null.
    bool isSomething() const { return kind() > Kind::Null; }
    bool isNumber() const { return kind() == Kind::Number; }
    bool isString() const { return kind() == Kind::String; }
    bool isData() const { return kind() == Kind::Data; }
    bool isDate() const { return kind() == Kind::Date; }
    bool isArray() const { return kind() == Kind::Array; }
    bool isDictionary() const { return kind() == Kind::Dictionary; }
    bool isObject() const { return kind() == Kind::Object; }
    explicit operator bool() const { return !isNil(); }

    // Typed access: nullptr when the value is of another kind.
    const NSNumber* number() const { return std::get_if<NSNumber>(&storage_); }
    const std::string* string() const { return std::get_if<std::string>(&storage_); }
    const NSData* data() const { return std::get_if<NSData>(&storage_); }
    const NSDate* date() const { return std::get_if<NSDate>(&storage_); }
    // Containers are handles: the copy shares the container.
    const Array* array() const { return std::get_if<Array>(&storage_); }
    const Dictionary* dictionary() const { return std::get_if<Dictionary>(&storage_); }
    Array* array() { return std::get_if<Array>(&storage_); }
    Dictionary* dictionary() { return std::get_if<Dictionary>(&storage_); }
    Ref<NSObject> object() const {
        auto p = std::get_if<Ref<NSObject>>(&storage_);
        return p ? *p : nullptr;
    }
    template <class T>
    Ref<T> objectAs() const {
        return std::dynamic_pointer_cast<T>(object());
    }

    // Readings with the platform's messages-to-anything semantics: a number gives its value, a
    // string is read as text ("0123" gives 123, "abc" gives 0), everything else gives zero.
    bool boolValue() const;
    int intValue() const { return static_cast<int>(longLongValue()); }
    long integerValue() const { return static_cast<long>(longLongValue()); }
    long long longLongValue() const;
    unsigned long long unsignedLongLongValue() const;
    double doubleValue() const;
    float floatValue() const { return static_cast<float>(doubleValue()); }
    // The string itself, a number's decimal text, otherwise the description; nil gives "".
    std::string stringValue() const;
    // The string when this is one.
    std::optional<std::string> optionalString() const;

    // Lookups that answer nil on any other kind, for reading outside data.
    const Value& operator[](std::string_view key) const;
    const Value& operator[](const char* key) const { return (*this)[std::string_view(key)]; }
    const Value& operator[](std::size_t index) const;
    const Value& operator[](int index) const { return (*this)[static_cast<std::size_t>(index)]; }

    // The "%@" text: strings bare, numbers in decimal, nil as "(null)", null as "<null>",
    // containers in the platform's old-style property-list form, objects by description().
    std::string description() const;

    bool isEqual(const Value& other) const;
    bool operator==(const Value& other) const { return isEqual(other); }
    std::size_t hash() const;

    // Shallow copies of containers (new container, same elements); other kinds are returned as
    // they are.
    Value copy() const;
    Value mutableCopy() const;
    // Copies every container down the tree, as mutable or immutable containers.
    Value deepCopy(bool mutableContainers) const;

    static const Value& nil();

  private:
    using Storage = std::variant<std::monostate, NullTag, NSNumber, std::string, NSData, NSDate, Array,
                                 Dictionary, Ref<NSObject>>;
    Storage storage_;
};

// Boxes a value for use in collections: Value(...) converts implicitly, this reads better in
// initialiser lists of mixed kinds.
template <class T>
Value box(T&& v) {
    return Value(std::forward<T>(v));
}

namespace std {
template <>
struct hash<Value> {
    size_t operator()(const Value& v) const { return v.hash(); }
};
}  // namespace std
