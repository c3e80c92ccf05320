#include "foundation/NSKeyedArchiver.h"

#include <exception>
#include <mutex>
#include <shared_mutex>

#include "foundation/NSPropertyListSerialization.h"

namespace {

constexpr char kFormatKey[] = "$format";
constexpr char kFormatName[] = "keyed-archive";
constexpr char kVersionKey[] = "$version";
constexpr long long kVersion = 1;
constexpr char kTopKey[] = "$top";
constexpr char kObjectsKey[] = "$objects";
constexpr char kClassKey[] = "$class";
constexpr char kRefsKey[] = "$refs";
constexpr char kScalarsKey[] = "$scalars";
constexpr char kItemsKey[] = "$items";
constexpr char kKeysKey[] = "$keys";
constexpr char kValuesKey[] = "$values";
constexpr char kRootKey[] = "root";

Ref<NSError> coderError(const std::string& reason, long code = NSCoderReadCorruptError) {
    return NSError::errorWithDomain(
        NSCocoaErrorDomain, code,
        Dictionary{{NSLocalizedDescriptionKey, reason}, {"NSDebugDescription", reason}});
}

// ---------------------------------------------------------------------------------------------
// The registry.

struct Registry {
    std::shared_mutex mutex;
    std::unordered_map<std::string, NSCodingRegistry::Entry> classes;
};

void registerBuiltIns(Registry& registry);

Registry& registry() {
    static Registry* r = [] {
        auto* created = new Registry();
        registerBuiltIns(*created);
        return created;
    }();
    return *r;
}

// NSError cannot derive from NSCoding (its header is the foundation core's), so it is coded
// from outside: domain, code and the codable part of its user info.
void registerBuiltIns(Registry& registry) {
    NSCodingRegistry::Entry e;
    e.supportsSecureCoding = true;
    e.encoder = [](const NSObject& object, NSCoder& coder) {
        const auto& error = static_cast<const NSError&>(object);
        coder.encodeObject(error.domain(), "NSDomain");
        coder.encodeInt64(error.code(), "NSCode");
        Dictionary info = Dictionary::mutableDictionary();
        for (auto& [key, value] : error.userInfo()) {
            if (value.isObject()) {
                auto obj = value.object();
                bool codable = dynamic_cast<const NSCoding*>(obj.get()) != nullptr ||
                               NSCodingRegistry::entry(obj->className()).has_value();
                if (!codable) continue;
            }
            info.setObject(key, value);
        }
        coder.encodeObject(info, "NSUserInfo");
    };
    e.factory = [](NSCoder& coder) -> Ref<NSObject> {
        Value domain = coder.decodeObjectOfClass("NSString", "NSDomain");
        if (!domain.isString()) return nullptr;
        Value info = coder.decodeObjectOfClasses(
            {"NSDictionary", "NSArray", "NSString", "NSNumber", "NSData", "NSDate", "NSError", "NSURL"},
            "NSUserInfo");
        return NSError::errorWithDomain(*domain.string(),
                                        static_cast<long>(coder.decodeInt64ForKey("NSCode")),
                                        info.isDictionary() ? *info.dictionary() : Dictionary());
    };
    registry.classes["NSError"] = std::move(e);
}

// The platform names a native value answers to under secure decoding.
std::vector<const char*> nativeNames(const Value& entry, const std::string& className) {
    switch (entry.kind()) {
        case Value::Kind::String:
            return {"NSString", "NSMutableString"};
        case Value::Kind::Number:
            return {"NSNumber", "NSValue"};
        case Value::Kind::Data:
            return {"NSData", "NSMutableData"};
        case Value::Kind::Date:
            return {"NSDate"};
        default:
            break;
    }
    if (className == "NSNull") return {"NSNull"};
    if (className == "NSArray" || className == "NSMutableArray") return {"NSArray", "NSMutableArray"};
    if (className == "NSDictionary" || className == "NSMutableDictionary") {
        return {"NSDictionary", "NSMutableDictionary"};
    }
    return {};
}

bool isNativeContainer(const std::string& className) {
    return className == "NSArray" || className == "NSMutableArray" || className == "NSDictionary" ||
           className == "NSMutableDictionary";
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// NSCodingRegistry

void NSCodingRegistry::registerClass(const std::string& className, Factory factory, bool supportsSecureCoding,
                                     const std::string& superclassName) {
    Entry e;
    e.factory = std::move(factory);
    e.supportsSecureCoding = supportsSecureCoding;
    e.superclassName = superclassName;
    auto& r = registry();
    std::unique_lock lock(r.mutex);
    r.classes[className] = std::move(e);
}

void NSCodingRegistry::registerClass(const std::string& className, Encoder encoder, Factory factory,
                                     bool supportsSecureCoding, const std::string& superclassName) {
    Entry e;
    e.factory = std::move(factory);
    e.encoder = std::move(encoder);
    e.supportsSecureCoding = supportsSecureCoding;
    e.superclassName = superclassName;
    auto& r = registry();
    std::unique_lock lock(r.mutex);
    r.classes[className] = std::move(e);
}

std::optional<NSCodingRegistry::Entry> NSCodingRegistry::entry(const std::string& className) {
    auto& r = registry();
    std::shared_lock lock(r.mutex);
    auto it = r.classes.find(className);
    if (it == r.classes.end()) return std::nullopt;
    return it->second;
}

bool NSCodingRegistry::isRegistered(const std::string& className) {
    return entry(className).has_value();
}

bool NSCodingRegistry::supportsSecureCoding(const std::string& className) {
    auto e = entry(className);
    return e && e->supportsSecureCoding;
}

bool NSCodingRegistry::isKindOfClass(const std::string& className, const std::string& ancestor) {
    if (ancestor == "NSObject" || className == ancestor) return true;
    auto& r = registry();
    std::shared_lock lock(r.mutex);
    std::string current = className;
    // Bounded walk: a registration mistake that makes a loop must not hang.
    for (std::size_t steps = 0; steps < r.classes.size() + 1; ++steps) {
        auto it = r.classes.find(current);
        if (it == r.classes.end() || it->second.superclassName.empty()) return false;
        current = it->second.superclassName;
        if (current == ancestor) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// NSCoder

void NSCoder::fail(const std::string& reason, long code) {
    failWithError(coderError(reason, code));
}

// ---------------------------------------------------------------------------------------------
// NSKeyedArchiver

NSKeyedArchiver::NSKeyedArchiver(bool requiresSecureCoding) : requiresSecureCoding_(requiresSecureCoding) {
    objects_.emplace_back("$null");
    stack_.push_back(&top_);
}

std::uint64_t NSKeyedArchiver::add(Value entry) {
    objects_.push_back(std::move(entry));
    return objects_.size() - 1;
}

void NSKeyedArchiver::setScalar(const std::string& key, Value number) {
    if (finished_ || stack_.empty()) return;
    Fields& f = *stack_.back();
    f.refs.removeObjectForKey(key);
    f.scalars.setObject(key, std::move(number));
}

void NSKeyedArchiver::encodeBool(bool value, const std::string& key) {
    setScalar(key, NSNumber::numberWithBool(value));
}

void NSKeyedArchiver::encodeInt64(std::int64_t value, const std::string& key) {
    setScalar(key, NSNumber::numberWithLongLong(value));
}

void NSKeyedArchiver::encodeDouble(double value, const std::string& key) {
    setScalar(key, NSNumber::numberWithDouble(value));
}

void NSKeyedArchiver::encodeObject(const Value& object, const std::string& key) {
    if (finished_ || stack_.empty()) return;
    std::uint64_t index = encodeValue(object, depth_);
    Fields& f = *stack_.back();
    f.scalars.removeObjectForKey(key);
    f.refs.setObject(key, NSNumber::numberWithUnsignedLongLong(index));
}

std::uint64_t NSKeyedArchiver::encodeValue(const Value& value, unsigned depth) {
    if (error()) return 0;
    if (depth > kMaxDepth) {
        fail("Archive nested too deeply", NSPropertyListWriteInvalidError);
        return 0;
    }
    switch (value.kind()) {
        case Value::Kind::Nil:
            return 0;
        case Value::Kind::Null:
            if (!nullIndex_) nullIndex_ = add(Dictionary{{kClassKey, "NSNull"}});
            return nullIndex_;
        case Value::Kind::String: {
            auto it = byString_.find(*value.string());
            if (it != byString_.end()) return it->second;
            std::uint64_t index = add(value);
            byString_.emplace(*value.string(), index);
            return index;
        }
        case Value::Kind::Number:
        case Value::Kind::Data:
        case Value::Kind::Date:
            return add(value);
        case Value::Kind::Array: {
            const Array& a = *value.array();
            auto it = byIdentity_.find(a.identity());
            if (it != byIdentity_.end()) return it->second;
            std::uint64_t index = add(Value());
            byIdentity_.emplace(a.identity(), index);
            std::vector<Value> items;
            items.reserve(a.count());
            for (auto& item : a) {
                items.emplace_back(NSNumber::numberWithUnsignedLongLong(encodeValue(item, depth + 1)));
            }
            objects_[index] = Dictionary{{kClassKey, a.isMutable() ? "NSMutableArray" : "NSArray"},
                                         {kItemsKey, Array(std::move(items))}};
            keepAlive_.push_back(value);
            return index;
        }
        case Value::Kind::Dictionary: {
            const Dictionary& d = *value.dictionary();
            auto it = byIdentity_.find(d.identity());
            if (it != byIdentity_.end()) return it->second;
            std::uint64_t index = add(Value());
            byIdentity_.emplace(d.identity(), index);
            std::vector<Value> keys, values;
            keys.reserve(d.count());
            values.reserve(d.count());
            for (auto& [key, v] : d) {
                keys.emplace_back(key);
                values.emplace_back(NSNumber::numberWithUnsignedLongLong(encodeValue(v, depth + 1)));
            }
            objects_[index] = Dictionary{{kClassKey, d.isMutable() ? "NSMutableDictionary" : "NSDictionary"},
                                         {kKeysKey, Array(std::move(keys))},
                                         {kValuesKey, Array(std::move(values))}};
            keepAlive_.push_back(value);
            return index;
        }
        case Value::Kind::Object:
            return encodeObjectEntry(value.object(), depth);
    }
    return 0;
}

std::uint64_t NSKeyedArchiver::encodeObjectEntry(const Ref<NSObject>& object, unsigned depth) {
    auto it = byIdentity_.find(object.get());
    if (it != byIdentity_.end()) return it->second;
    std::string name = object->className();
    auto registered = NSCodingRegistry::entry(name);
    const auto* coding = dynamic_cast<const NSCoding*>(object.get());
    if (!coding && !(registered && registered->encoder)) {
        fail("Object of class " + name + " cannot be archived", NSPropertyListWriteInvalidError);
        return 0;
    }
    if (requiresSecureCoding_ && !(registered && registered->supportsSecureCoding)) {
        fail("Class " + name + " does not support secure coding", NSPropertyListWriteInvalidError);
        return 0;
    }
    std::uint64_t index = add(Value());
    byIdentity_.emplace(object.get(), index);
    keepAlive_.push_back(object);

    Fields fields;
    stack_.push_back(&fields);
    unsigned savedDepth = depth_;
    depth_ = depth + 1;
    try {
        if (coding) {
            coding->encodeWithCoder(*this);
        } else {
            registered->encoder(*object, *this);
        }
    } catch (const std::exception& e) {
        fail("Archiving " + name + " failed: " + e.what(), NSPropertyListWriteInvalidError);
    } catch (...) {
        fail("Archiving " + name + " failed", NSPropertyListWriteInvalidError);
    }
    depth_ = savedDepth;
    stack_.pop_back();

    Dictionary entry = fieldTable(fields);
    entry.setObject(kClassKey, name);
    objects_[index] = entry.copy();
    return index;
}

Dictionary NSKeyedArchiver::fieldTable(Fields& fields) {
    Dictionary table = Dictionary::mutableDictionary(3);
    table.setObject(kRefsKey, fields.refs);
    table.setObject(kScalarsKey, fields.scalars);
    return table;
}

void NSKeyedArchiver::finishEncoding() {
    if (finished_) return;
    finished_ = true;
    if (error()) return;
    for (std::size_t i = 0; i < objects_.size(); ++i) {
        // A slot still empty belongs to an encoding that failed part way.
        if (objects_[i].isNil()) {
            fail("Incomplete archive", NSPropertyListWriteInvalidError);
            return;
        }
    }
    Dictionary plist{{kFormatKey, kFormatName},
                     {kVersionKey, kVersion},
                     {kTopKey, fieldTable(top_)},
                     {kObjectsKey, Array(std::move(objects_))}};
    objects_.clear();
    keepAlive_.clear();
    Ref<NSError> error;
    data_ = NSPropertyListSerialization::dataWithPropertyList(plist, NSPropertyListXMLFormat_v1_0, 0, &error);
    if (!data_)
        failWithError(error ? error
                            : coderError("Archive could not be written", NSPropertyListWriteInvalidError));
}

std::optional<NSData> NSKeyedArchiver::encodedData() {
    finishEncoding();
    if (error()) return std::nullopt;
    return data_;
}

std::optional<NSData> NSKeyedArchiver::archivedDataWithRootObject(const Value& root) {
    return archivedDataWithRootObject(root, false, nullptr);
}

std::optional<NSData> NSKeyedArchiver::archivedDataWithRootObject(const Value& root,
                                                                  bool requiringSecureCoding,
                                                                  Ref<NSError>* error) {
    auto archiver = make<NSKeyedArchiver>(requiringSecureCoding);
    archiver->encodeObject(root, kRootKey);
    auto data = archiver->encodedData();
    if (!data) setError(error, archiver->error());
    return data;
}

bool NSKeyedArchiver::archiveRootObject(const Value& root, const std::string& path) {
    auto data = archivedDataWithRootObject(root);
    return data && data->writeToFile(path, true);
}

// ---------------------------------------------------------------------------------------------
// NSKeyedUnarchiver

NSKeyedUnarchiver::NSKeyedUnarchiver(const NSData& data, bool requiresSecureCoding)
    : requiresSecureCoding_(requiresSecureCoding) {
    Ref<NSError> error;
    archive_ =
        NSPropertyListSerialization::propertyListWithData(data, NSPropertyListImmutable, nullptr, &error);
    if (!archive_.isDictionary()) {
        fail("The archive is not a keyed archive");
        archive_ = Value();
        return;
    }
    if (archive_[kFormatKey] != Value(kFormatName) || !archive_[kVersionKey].isNumber() ||
        archive_[kVersionKey].longLongValue() != kVersion) {
        fail("The archive is of an unknown format or version");
        return;
    }
    objects_ = archive_[kObjectsKey].array();
    if (!objects_ || objects_->empty() || !readFields(archive_[kTopKey], top_)) {
        objects_ = nullptr;
        fail("The archive has no object table or top level");
        return;
    }
    inProgress_.assign(objects_->count(), 0);
    stack_.push_back(top_);
}

bool NSKeyedUnarchiver::readFields(const Value& table, Fields& out) {
    if (!table.isDictionary()) return false;
    const Value& refs = table[kRefsKey];
    const Value& scalars = table[kScalarsKey];
    if (!(refs.isNil() || refs.isDictionary()) || !(scalars.isNil() || scalars.isDictionary())) return false;
    out.refs = refs.dictionary();
    out.scalars = scalars.dictionary();
    return true;
}

const Value* NSKeyedUnarchiver::scalarFor(const std::string& key) {
    if (stack_.empty() || finished_) return nullptr;
    const Fields& f = stack_.back();
    if (f.scalars) {
        if (const Value* v = f.scalars->find(key)) return v;
    }
    return nullptr;
}

bool NSKeyedUnarchiver::containsValueForKey(const std::string& key) const {
    if (stack_.empty() || finished_) return false;
    const Fields& f = stack_.back();
    return (f.refs && f.refs->containsKey(key)) || (f.scalars && f.scalars->containsKey(key));
}

Value NSKeyedUnarchiver::decodeObjectForKey(const std::string& key) {
    if (!requiresSecureCoding_) return decode(nullptr, key);
    // Secure decoding without named classes reads only native values.
    static const std::set<std::string> natives{"NSString", "NSNumber", "NSData",      "NSDate",
                                               "NSNull",   "NSArray",  "NSDictionary"};
    return decode(&natives, key);
}

Value NSKeyedUnarchiver::decodeObjectOfClasses(const std::set<std::string>& classNames,
                                               const std::string& key) {
    return decode(requiresSecureCoding_ ? &classNames : nullptr, key);
}

Value NSKeyedUnarchiver::decode(const std::set<std::string>* allowed, const std::string& key) {
    if (!objects_ || stack_.empty() || finished_) return Value();
    const Fields& f = stack_.back();
    if (f.refs) {
        if (const Value* ref = f.refs->find(key)) return decodeRef(*ref, allowed, false);
    }
    // A scalar asked for as an object arrives as a number.
    if (const Value* scalar = scalarFor(key)) {
        if (allowed && !allowedKind(*scalar, "", *allowed, false)) {
            fail("Value for key \"" + key + "\" is of unexpected class NSNumber");
            return Value();
        }
        return *scalar;
    }
    return Value();
}

bool NSKeyedUnarchiver::allowedKind(const Value& entry, const std::string& className,
                                    const std::set<std::string>& allowed, bool insideContainer) {
    if (allowed.count("NSObject")) return true;
    // Inside an allowed array or dictionary, every property-list kind is allowed.
    bool native = entry.isString() || entry.isNumber() || entry.isData() || entry.isDate() ||
                  className == "NSNull" || isNativeContainer(className);
    if (insideContainer && native) return true;
    for (const char* name : nativeNames(entry, className)) {
        if (allowed.count(name)) return true;
    }
    if (entry.isDictionary() && !className.empty() && !isNativeContainer(className) &&
        className != "NSNull") {
        for (auto& a : allowed) {
            if (NSCodingRegistry::isKindOfClass(className, a)) return true;
        }
    }
    return false;
}

Value NSKeyedUnarchiver::decodeRef(const Value& ref, const std::set<std::string>* allowed,
                                   bool insideContainer) {
    if (!ref.isNumber() || ref.number()->isReal() || ref.number()->isBoolean()) {
        fail("Damaged object reference");
        return Value();
    }
    unsigned long long index = ref.unsignedLongLongValue();
    if (index == 0) return Value();
    if (index >= objects_->count()) {
        fail("Object reference out of range");
        return Value();
    }
    return decodeEntry(index, allowed, insideContainer);
}

Value NSKeyedUnarchiver::decodeEntry(std::uint64_t index, const std::set<std::string>* allowed,
                                     bool insideContainer) {
    if (error()) return Value();
    const Value& entry = (*objects_)[index];
    std::string className;
    if (entry.isDictionary()) {
        const Value& c = entry[kClassKey];
        if (!c.isString()) {
            fail("Archived object without a class");
            return Value();
        }
        className = *c.string();
    } else if (!(entry.isString() || entry.isNumber() || entry.isData() || entry.isDate())) {
        fail("Damaged archive entry");
        return Value();
    }
    if (allowed && !allowedKind(entry, className, *allowed, insideContainer)) {
        // A plain value names its kind; an object its class, which a damaged archive can leave empty.
        const auto names = nativeNames(entry, className);
        fail("Value of unexpected class " + (!className.empty() ? className
                                             : names.empty()    ? std::string("(none)")
                                                                : std::string(names.front())));
        return Value();
    }
    if (!entry.isDictionary()) return entry;
    if (className == "NSNull") return Value::null();

    auto cached = decoded_.find(index);
    if (cached != decoded_.end()) {
        // A container read before was checked against the classes of that call; its contents
        // are checked again against these.
        if (allowed && isNativeContainer(className)) {
            ++depth_;
            bool ok = true;
            auto check = [&](const Value& refs) {
                if (!refs.isArray()) return;
                for (auto& r : *refs.array()) {
                    if (!ok) return;
                    unsigned long long i = r.unsignedLongLongValue();
                    if (i == 0 || i >= objects_->count()) continue;
                    decodeEntry(i, allowed, true);
                    ok = !error();
                }
            };
            if (depth_ > kMaxDepth) {
                fail("Archive nested too deeply");
                ok = false;
            } else {
                check(entry[kItemsKey]);
                check(entry[kValuesKey]);
            }
            --depth_;
            if (!ok) return Value();
        }
        return cached->second;
    }
    // A reference back into an object still being read: a cycle, read as nil.
    if (inProgress_[index]) return Value();
    if (depth_ >= kMaxDepth) {
        fail("Archive nested too deeply");
        return Value();
    }

    struct Guard {
        NSKeyedUnarchiver& u;
        std::uint64_t index;
        Guard(NSKeyedUnarchiver& u, std::uint64_t index) : u(u), index(index) {
            u.inProgress_[index] = 1;
            ++u.depth_;
        }
        ~Guard() {
            u.inProgress_[index] = 0;
            --u.depth_;
        }
    } guard(*this, index);

    Value result;
    if (className == "NSArray" || className == "NSMutableArray") {
        const Value& items = entry[kItemsKey];
        if (!items.isArray()) {
            fail("Damaged array entry");
            return Value();
        }
        std::vector<Value> values;
        values.reserve(items.array()->count());
        for (auto& item : *items.array()) {
            Value v = decodeRef(item, allowed, true);
            if (error()) return Value();
            if (!v.isNil()) values.push_back(std::move(v));
        }
        result = Array(std::move(values), className == "NSMutableArray");
    } else if (className == "NSDictionary" || className == "NSMutableDictionary") {
        const Value& keys = entry[kKeysKey];
        const Value& values = entry[kValuesKey];
        if (!keys.isArray() || !values.isArray() || keys.array()->count() != values.array()->count()) {
            fail("Damaged dictionary entry");
            return Value();
        }
        Dictionary d = Dictionary::mutableDictionary(keys.array()->count());
        for (std::size_t i = 0; i < keys.array()->count(); ++i) {
            const Value& key = (*keys.array())[i];
            if (!key.isString()) {
                fail("Damaged dictionary key");
                return Value();
            }
            Value v = decodeRef((*values.array())[i], allowed, true);
            if (error()) return Value();
            d.setObject(*key.string(), std::move(v));
        }
        result = className == "NSMutableDictionary" ? d : d.copy();
    } else {
        auto registered = NSCodingRegistry::entry(className);
        if (!registered || !registered->factory) {
            fail("Cannot decode object of class " + className);
            return Value();
        }
        if (requiresSecureCoding_ && !registered->supportsSecureCoding) {
            fail("Class " + className + " does not support secure coding");
            return Value();
        }
        Fields fields;
        if (!readFields(entry, fields)) {
            fail("Damaged object entry of class " + className);
            return Value();
        }
        stack_.push_back(fields);
        Ref<NSObject> object;
        try {
            object = registered->factory(*this);
        } catch (const std::exception& e) {
            fail("Decoding " + className + " failed: " + e.what());
        } catch (...) {
            fail("Decoding " + className + " failed");
        }
        stack_.pop_back();
        if (error()) return Value();
        result = object;
    }
    decoded_.emplace(index, result);
    return result;
}

const Value* NSKeyedUnarchiver::numberFor(const std::string& key) {
    if (const Value* v = scalarFor(key)) return v;
    if (!objects_ || stack_.empty() || finished_) return nullptr;
    const Fields& f = stack_.back();
    const Value* ref = f.refs ? f.refs->find(key) : nullptr;
    if (!ref || !ref->isNumber()) return nullptr;
    unsigned long long index = ref->unsignedLongLongValue();
    if (index == 0 || index >= objects_->count()) return nullptr;
    const Value& entry = (*objects_)[index];
    return entry.isNumber() ? &entry : nullptr;
}

bool NSKeyedUnarchiver::decodeBoolForKey(const std::string& key) {
    const Value* v = numberFor(key);
    return v && v->boolValue();
}

std::int64_t NSKeyedUnarchiver::decodeInt64ForKey(const std::string& key) {
    const Value* v = numberFor(key);
    return v ? v->longLongValue() : 0;
}

double NSKeyedUnarchiver::decodeDoubleForKey(const std::string& key) {
    const Value* v = numberFor(key);
    return v ? v->doubleValue() : 0;
}

Value NSKeyedUnarchiver::unarchiveTopLevelObjectWithData(const NSData& data, Ref<NSError>* error) {
    auto unarchiver = make<NSKeyedUnarchiver>(data, false);
    Value root = unarchiver->decodeObjectForKey(kRootKey);
    if (unarchiver->error()) {
        setError(error, unarchiver->error());
        return Value();
    }
    return root;
}

Value NSKeyedUnarchiver::unarchiveObjectWithData(const NSData& data) {
    return unarchiveTopLevelObjectWithData(data, nullptr);
}

Value NSKeyedUnarchiver::unarchiveObjectWithFile(const std::string& path) {
    auto data = NSData::dataWithContentsOfFile(path);
    if (!data) return Value();
    return unarchiveObjectWithData(*data);
}

Value NSKeyedUnarchiver::unarchivedObjectOfClasses(const std::set<std::string>& classNames,
                                                   const NSData& data, Ref<NSError>* error) {
    auto unarchiver = make<NSKeyedUnarchiver>(data, true);
    Value root = unarchiver->decodeObjectOfClasses(classNames, kRootKey);
    if (unarchiver->error()) {
        setError(error, unarchiver->error());
        return Value();
    }
    return root;
}
