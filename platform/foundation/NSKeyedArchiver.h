#pragma once
// Keyed archiving: object graphs to bytes and back, each object writing and reading its own state
// by key.
//
// A codable class derives from NSObject and NSCoding (encodeWithCoder), answers its archived name
// through className(), and is registered by that name with a factory that rebuilds it from a
// coder (the class's initWithCoder:). The template helper registers a class whose constructor
// takes an NSCoder&:
//
//     class QVNUser : public NSObject, public NSSecureCoding {
//     public:
//         explicit QVNUser(NSCoder& coder);
//         void encodeWithCoder(NSCoder& coder) const override;
//         static bool supportsSecureCoding() { return true; }
//         std::string className() const override { return "QVNUser"; }
//     };
//     static const NSCodableClass<QVNUser> registration("QVNUser");
//
// Values that are not objects (strings, numbers, data, dates, arrays, dictionaries, null) are
// archived natively; nil archives and reads back as nil, also as the root.
//
// Archive format (the project's own), an XML property list:
//
//     { "$format": "keyed-archive", "$version": 1,
//       "$top":     <field table of the archive's own keys; the root object is under "root">,
//       "$objects": [ "$null", entry, entry, ... ] }
//
//   field table  { "$refs": { key: object index, ... }, "$scalars": { key: number, ... } }
//                index 0 is nil; encodeBool/Int/Double values are scalars, objects are refs
//   entry        a string, number, date or data as itself;
//                { "$class": "NSNull" };
//                { "$class": "NSArray" | "NSMutableArray", "$items": [ index, ... ] };
//                { "$class": "NSDictionary" | "NSMutableDictionary", "$keys": [ string, ... ],
//                  "$values": [ index, ... ] };
//                { "$class": name, "$refs": {...}, "$scalars": {...} } for a coded object.
//
// An object or container encoded twice is stored once and decodes as one shared instance. A
// reference back to an object whose decoding is still under way (a cycle) decodes as nil. Equal
// strings are stored once.
//
// Failures never escape: a damaged archive, an unknown class, a wrong class under secure
// decoding, nesting deeper than kMaxDepth or an exception thrown by a class's coding gives nil
// (and an error of NSCocoaErrorDomain code 4864 where there is a slot); archiving a value that
// cannot be coded gives no data.
//
// Secure decoding: every decoded object is checked against the classes allowed by the call that
// asked for it (a class counts when it or one of its registered superclasses is listed; listing
// "NSObject" allows any). Native values answer to their platform names: NSString, NSNumber,
// NSData, NSDate, NSNull, NSArray and NSMutableArray, NSDictionary and NSMutableDictionary. The
// contents of an allowed array or dictionary are checked against the same classes, except that
// native values (strings, numbers, data, dates, null, arrays and dictionaries) are always allowed
// inside one: only coded objects need naming. Under secure decoding, decodeObjectForKey (no
// classes named) reads only native values.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class NSCoder;

// The coding protocol: an object writes its state into a coder.
class NSCoding {
  public:
    virtual ~NSCoding() = default;
    virtual void encodeWithCoder(NSCoder& coder) const = 0;
};

// The secure-coding protocol: a class that decodes safely by class says so with a static
// `supportsSecureCoding()` answering true, which its registration records.
class NSSecureCoding : public NSCoding {};

// ---------------------------------------------------------------------------------------------
// Codable classes by name. Thread-safe.
class NSCodingRegistry {
  public:
    // Rebuilds an object from a coder positioned on its fields; nullptr when it cannot.
    using Factory = std::function<Ref<NSObject>(NSCoder&)>;
    // Writes an object's fields, for classes that do not derive from NSCoding.
    using Encoder = std::function<void(const NSObject&, NSCoder&)>;

    // A later registration of the same name replaces the earlier one. An empty superclass name
    // means the class derives directly from NSObject.
    static void registerClass(const std::string& className, Factory factory,
                              bool supportsSecureCoding = false, const std::string& superclassName = "");
    static void registerClass(const std::string& className, Encoder encoder, Factory factory,
                              bool supportsSecureCoding, const std::string& superclassName = "");

    // For a class T with a constructor T(NSCoder&) and, optionally, static supportsSecureCoding().
    template <class T>
    static void registerCodable(const std::string& className, const std::string& superclassName = "") {
        bool secure = false;
        if constexpr (HasSecureFlag<T>::value) secure = T::supportsSecureCoding();
        registerClass(
            className, [](NSCoder& coder) -> Ref<NSObject> { return make<T>(coder); }, secure,
            superclassName);
    }

    static bool isRegistered(const std::string& className);
    static bool supportsSecureCoding(const std::string& className);
    // Whether className is ancestor or one of its registered subclasses ("NSObject" is the
    // ancestor of every class).
    static bool isKindOfClass(const std::string& className, const std::string& ancestor);

    struct Entry {
        Factory factory;
        Encoder encoder;
        bool supportsSecureCoding = false;
        std::string superclassName;
    };
    static std::optional<Entry> entry(const std::string& className);

  private:
    template <class T, class = void>
    struct HasSecureFlag : std::false_type {};
    template <class T>
    struct HasSecureFlag<T, std::void_t<decltype(T::supportsSecureCoding())>> : std::true_type {};
};

// Registers T at static-initialisation time: `static const NSCodableClass<QVNUser> r("QVNUser");`
template <class T>
struct NSCodableClass {
    explicit NSCodableClass(const std::string& className, const std::string& superclassName = "") {
        NSCodingRegistry::registerCodable<T>(className, superclassName);
    }
};

// ---------------------------------------------------------------------------------------------
// A coder: writes (archiver) or reads (unarchiver) the fields of the object being coded. The
// reading methods of an archiver answer nil and zero; the writing methods of an unarchiver do
// nothing.
class NSCoder : public NSObject {
  public:
    virtual void encodeObject(const Value& object, const std::string& key) = 0;
    virtual void encodeBool(bool value, const std::string& key) = 0;
    virtual void encodeInt64(std::int64_t value, const std::string& key) = 0;
    virtual void encodeDouble(double value, const std::string& key) = 0;
    void encodeInt32(std::int32_t value, const std::string& key) { encodeInt64(value, key); }
    void encodeInt(int value, const std::string& key) { encodeInt64(value, key); }
    void encodeInteger(long value, const std::string& key) { encodeInt64(value, key); }
    void encodeFloat(float value, const std::string& key) { encodeDouble(value, key); }

    virtual Value decodeObjectForKey(const std::string& key) = 0;
    virtual Value decodeObjectOfClasses(const std::set<std::string>& classNames, const std::string& key) = 0;
    Value decodeObjectOfClass(const std::string& className, const std::string& key) {
        return decodeObjectOfClasses({className}, key);
    }
    // The decoded object as T, nullptr when absent or of another type.
    template <class T>
    Ref<T> decodeObjectOfClassAs(const std::string& className, const std::string& key) {
        return decodeObjectOfClass(className, key).template objectAs<T>();
    }
    virtual bool decodeBoolForKey(const std::string& key) = 0;
    virtual std::int64_t decodeInt64ForKey(const std::string& key) = 0;
    virtual double decodeDoubleForKey(const std::string& key) = 0;
    // Narrower readings cut the stored value, as the platform's do.
    std::int32_t decodeInt32ForKey(const std::string& key) {
        return static_cast<std::int32_t>(decodeInt64ForKey(key));
    }
    int decodeIntForKey(const std::string& key) { return static_cast<int>(decodeInt64ForKey(key)); }
    long decodeIntegerForKey(const std::string& key) { return static_cast<long>(decodeInt64ForKey(key)); }
    float decodeFloatForKey(const std::string& key) { return static_cast<float>(decodeDoubleForKey(key)); }
    virtual bool containsValueForKey(const std::string& key) const = 0;

    virtual bool requiresSecureCoding() const = 0;
    bool allowsKeyedCoding() const { return true; }

    // The first failure met, nullptr while all is well. A class's own decoding may report one.
    Ref<NSError> error() const { return error_; }
    void failWithError(Ref<NSError> error) {
        if (!error_) error_ = std::move(error);
    }

    std::string className() const override { return "NSCoder"; }

  protected:
    void fail(const std::string& reason, long code = NSCoderReadCorruptError);

  private:
    Ref<NSError> error_;
};

// ---------------------------------------------------------------------------------------------
class NSKeyedArchiver : public NSCoder {
  public:
    static constexpr unsigned kMaxDepth = 512;

    explicit NSKeyedArchiver(bool requiresSecureCoding = false);

    // The archive of root (nil included), no data when a value cannot be coded.
    static std::optional<NSData> archivedDataWithRootObject(const Value& root);
    static std::optional<NSData> archivedDataWithRootObject(const Value& root, bool requiringSecureCoding,
                                                            Ref<NSError>* error);
    // Writes the archive atomically; false when it cannot be made or written.
    static bool archiveRootObject(const Value& root, const std::string& path);

    void encodeObject(const Value& object, const std::string& key) override;
    void encodeBool(bool value, const std::string& key) override;
    void encodeInt64(std::int64_t value, const std::string& key) override;
    void encodeDouble(double value, const std::string& key) override;

    Value decodeObjectForKey(const std::string&) override { return Value(); }
    Value decodeObjectOfClasses(const std::set<std::string>&, const std::string&) override { return Value(); }
    bool decodeBoolForKey(const std::string&) override { return false; }
    std::int64_t decodeInt64ForKey(const std::string&) override { return 0; }
    double decodeDoubleForKey(const std::string&) override { return 0; }
    bool containsValueForKey(const std::string&) const override { return false; }

    bool requiresSecureCoding() const override { return requiresSecureCoding_; }

    // Ends encoding; later encodes are ignored.
    void finishEncoding();
    // The archive (finishing encoding first), no data when encoding failed.
    std::optional<NSData> encodedData();

    std::string className() const override { return "NSKeyedArchiver"; }

  private:
    struct Fields {
        Dictionary refs = Dictionary::mutableDictionary();
        Dictionary scalars = Dictionary::mutableDictionary();
    };

    std::uint64_t encodeValue(const Value& value, unsigned depth);
    std::uint64_t encodeObjectEntry(const Ref<NSObject>& object, unsigned depth);
    std::uint64_t add(Value entry);
    static Dictionary fieldTable(Fields& fields);
    void setScalar(const std::string& key, Value number);

    bool requiresSecureCoding_;
    bool finished_ = false;
    std::vector<Value> objects_;
    std::unordered_map<const void*, std::uint64_t> byIdentity_;
    std::unordered_map<std::string, std::uint64_t> byString_;
    // Everything stored by identity stays alive until the archive is finished, so no address is
    // reused by a later temporary.
    std::vector<Value> keepAlive_;
    std::uint64_t nullIndex_ = 0;
    Fields top_;
    std::vector<Fields*> stack_;
    unsigned depth_ = 0;
    std::optional<NSData> data_;
};

// ---------------------------------------------------------------------------------------------
class NSKeyedUnarchiver : public NSCoder {
  public:
    static constexpr unsigned kMaxDepth = 512;

    // A damaged archive gives an unarchiver whose error() is set and whose readings answer nil.
    explicit NSKeyedUnarchiver(const NSData& data, bool requiresSecureCoding = false);

    // The root object, nil when the archive is damaged or holds nil.
    static Value unarchiveObjectWithData(const NSData& data);
    // nil also when the file is missing.
    static Value unarchiveObjectWithFile(const std::string& path);
    // As above, with the reason in the slot.
    static Value unarchiveTopLevelObjectWithData(const NSData& data, Ref<NSError>* error);
    // Secure decoding: the root must be one of the classes, and so must everything it decodes.
    static Value unarchivedObjectOfClasses(const std::set<std::string>& classNames, const NSData& data,
                                           Ref<NSError>* error);
    static Value unarchivedObjectOfClass(const std::string& className, const NSData& data,
                                         Ref<NSError>* error) {
        return unarchivedObjectOfClasses({className}, data, error);
    }

    void encodeObject(const Value&, const std::string&) override {}
    void encodeBool(bool, const std::string&) override {}
    void encodeInt64(std::int64_t, const std::string&) override {}
    void encodeDouble(double, const std::string&) override {}

    Value decodeObjectForKey(const std::string& key) override;
    Value decodeObjectOfClasses(const std::set<std::string>& classNames, const std::string& key) override;
    bool decodeBoolForKey(const std::string& key) override;
    std::int64_t decodeInt64ForKey(const std::string& key) override;
    double decodeDoubleForKey(const std::string& key) override;
    bool containsValueForKey(const std::string& key) const override;

    bool requiresSecureCoding() const override { return requiresSecureCoding_; }
    void setRequiresSecureCoding(bool value) { requiresSecureCoding_ = value; }
    void finishDecoding() { finished_ = true; }

    std::string className() const override { return "NSKeyedUnarchiver"; }

  private:
    struct Fields {
        const Dictionary* refs = nullptr;
        const Dictionary* scalars = nullptr;
    };

    const Value* scalarFor(const std::string& key);
    // A scalar, or a number stored as an object, under the key.
    const Value* numberFor(const std::string& key);
    Value decode(const std::set<std::string>* allowed, const std::string& key);
    Value decodeRef(const Value& ref, const std::set<std::string>* allowed, bool insideContainer);
    Value decodeEntry(std::uint64_t index, const std::set<std::string>* allowed, bool insideContainer);
    bool readFields(const Value& table, Fields& out);
    bool allowedKind(const Value& entry, const std::string& className, const std::set<std::string>& allowed,
                     bool insideContainer);

    bool requiresSecureCoding_;
    bool finished_ = false;
    Value archive_;
    const Array* objects_ = nullptr;
    Fields top_;
    std::vector<Fields> stack_;
    std::unordered_map<std::uint64_t, Value> decoded_;
    std::vector<std::uint8_t> inProgress_;
    unsigned depth_ = 0;
};
