#include "app/NSObject+RMKeyValue.h"

#include <algorithm>
#include <exception>
#include <unordered_map>

#include "app/NSObject+Property.h"
#include "app/NSObject+RMClass.h"
#include "app/NSString+RMExtension.h"
#include "app/RMFoundation.h"
#include "app/RMKeyValue.h"
#include "app/RMProperty.h"
#include "coredata/NSManagedObjectContext.h"
#include "foundation/NSBundle.h"
#include "foundation/NSException.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSLocale.h"
#include "foundation/NSLog.h"
#include "foundation/NSNumberFormatter.h"
#include "foundation/NSPropertyListSerialization.h"
#include "foundation/NSString.h"

namespace {

constexpr char kNotDictionary[] = "keyValues参数不是一个字典";
constexpr char kNotArray[] = "keyValuesArray参数不是一个数组";
constexpr char kObjectArrayNotArray[] = "objectArray参数不是一个数组";
constexpr char kNoFilename[] = "filename参数为nil";
constexpr char kNoFile[] = "file参数为nil";
constexpr char kTooDeep[] = "keyValues嵌套层数过多";

// An index beyond this in a key path used for storing is refused rather than padded to.
constexpr long kMaxStoredIndex = 1 << 16;

void report(Ref<NSError>* error, const std::string& domain) {
    if (error) *error = NSError::errorWithDomain(domain, NSObject_RMKeyValue::kErrorCode);
}

// Counts the nesting of the mapping on this thread, so self-containing values and deep documents
// end with an error instead of exhausting the stack. Once the limit is hit the whole mapping
// call unwinds (every nested step refuses at once until the outermost one returns), so a value
// that holds itself in several places cannot make the work grow exponentially.
thread_local int nesting = 0;
thread_local bool unwinding = false;

class NestingGuard {
  public:
    NestingGuard() { ++nesting; }
    ~NestingGuard() {
        if (--nesting == 0) unwinding = false;
    }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
    bool tooDeep() const {
        if (nesting > NSObject_RMKeyValue::kMaxNesting) unwinding = true;
        return unwinding;
    }
};

// The platform classes the conversions test for, looked up once (they are registered with the
// registry itself, so they never change).
struct KnownClasses {
    const RMClass* string = RMClass::classNamed("NSString");
    const RMClass* value = RMClass::classNamed("NSValue");
    const RMClass* array = RMClass::classNamed("NSArray");
    const RMClass* dictionary = RMClass::classNamed("NSDictionary");
    const RMClass* data = RMClass::classNamed("NSData");
    const RMClass* date = RMClass::classNamed("NSDate");
    const RMClass* url = RMClass::classNamed("NSURL");
    const RMClass* null = RMClass::classNamed("NSNull");
    const RMClass* object = RMClass::classNamed("NSObject");
};

const KnownClasses& known() {
    static const KnownClasses classes;
    return classes;
}

// Reports an exception caught while mapping: logged with "%@" and turned into an error whose
// domain is its reason.
void reportException(Ref<NSError>* error, const std::string& reason) {
    NSLog("%@", reason);
    report(error, reason);
}

bool listHolds(const RMNameList& list, const std::string& name) {
    return detail::rmListContains(list, name);
}

bool skipProperty(const RMProperty& property, const RMNameList& allowed, const RMNameList& ignored) {
    if (!allowed->empty() && !listHolds(allowed, property.name())) return true;
    return listHolds(ignored, property.name());
}

// Whether a value is of the kind a property of this type holds; values of another kind count as
// absent, so no reader later meets an array where it expects text.
bool valueFitsType(const RMPropertyType& type, const Value& value) {
    if (value.isNil() || type.isKVCDisabled()) return true;
    const RMClass* expected = type.typeClass();
    if (!expected) return type.isNumberType() ? value.isNumber() : true;
    const KnownClasses& k = known();
    if (expected == k.object) return true;
    if (expected == k.null) return value.isNull();
    if (expected->isSubclassOfClass(k.string)) return value.isString();
    if (expected->isSubclassOfClass(k.value)) return value.isNumber();
    if (expected->isSubclassOfClass(k.array)) return value.isArray();
    if (expected->isSubclassOfClass(k.dictionary)) return value.isDictionary();
    if (expected->isSubclassOfClass(k.data)) return value.isData();
    if (expected->isSubclassOfClass(k.date)) return value.isDate();
    const RMClass* actual = RMClass::classOfValue(value);
    return actual && actual->isSubclassOfClass(expected);
}

Value numberFromText(const std::string& text, bool isBool) {
    Value number = NSObject_RMKeyValue::numberFormatter()->numberFromString(text);
    if (isBool) {
        std::string lower = NSString::lowercaseString(text);
        if (lower == "yes" || lower == "true") return Value(true);
        if (lower == "no" || lower == "false") return Value(false);
    }
    return number;
}

Value keyValuesImpl(const Value& object, const std::vector<std::string>& keys,
                    const std::vector<std::string>& ignoredKeys, Ref<NSError>* error);
Value keyValuesArrayImpl(const Value& objectArray, const std::vector<std::string>& keys,
                         const std::vector<std::string>& ignoredKeys, Ref<NSError>* error);

// Stores a value into a container along one key step.
void storeStep(Value& container, const RMPropertyKey& step, const Value& value) {
    if (step.type() == RMPropertyKeyTypeDictionary) {
        Dictionary* dictionary = container.dictionary();
        if (!dictionary || !dictionary->isMutable()) {
            NSException::raise(NSInvalidArgumentException, "cannot store the key " + step.name() + " here");
        }
        dictionary->setObject(step.name(), value);
        return;
    }
    Array* array = container.array();
    long index = step.index();
    if (!array || !array->isMutable()) {
        NSException::raise(NSInvalidArgumentException, "cannot store at the index " + step.name() + " here");
    }
    if (index < 0 || index > kMaxStoredIndex) {
        NSException::raise(NSRangeException, "index " + step.name() + " out of range");
    }
    while (array->count() < static_cast<std::size_t>(index)) array->addObject(Value::null());
    if (static_cast<std::size_t>(index) < array->count()) {
        array->replaceObjectAtIndex(static_cast<std::size_t>(index), value);
    } else {
        array->addObject(value);
    }
}

void storeAlongPath(Dictionary& root, const std::vector<Ref<RMPropertyKey>>& path, const Value& value) {
    Value current(root);
    for (std::size_t i = 0; i < path.size(); ++i) {
        const RMPropertyKey& step = *path[i];
        if (i + 1 == path.size()) {
            storeStep(current, step, value);
            return;
        }
        const RMPropertyKey& following = *path[i + 1];
        Value next = step.valueInObject(current);
        if (next.isNil() || next.isNull()) {
            next = following.type() == RMPropertyKeyTypeArray ? Value(Array::mutableArray())
                                                              : Value(Dictionary::mutableDictionary());
            storeStep(current, step, next);
        }
        if (Array* array = next.array();
            array && array->isMutable() && following.type() == RMPropertyKeyTypeArray) {
            long index = following.index();
            if (index < 0 || index > kMaxStoredIndex) {
                NSException::raise(NSRangeException, "index " + following.name() + " out of range");
            }
            while (array->count() <= static_cast<std::size_t>(index)) array->addObject(Value::null());
        }
        current = next;
    }
}

Value keyValuesImpl(const Value& object, const std::vector<std::string>& keys,
                    const std::vector<std::string>& ignoredKeys, Ref<NSError>* error) {
    Ref<NSObject> record = object.object();
    if (!record) return object;  // nil and every platform value give themselves
    const RMClass* cls = RMClass::classOfObject(*record);
    if (RMFoundation::isClassFromFoundation(cls)) return object;

    NestingGuard guard;
    if (guard.tooDeep()) {
        report(error, kTooDeep);
        return Value();
    }
    // Stored under the property names, the entries are gathered first and become the dictionary at
    // the end, so a long record does not rebuild the dictionary's lookup index on every insertion.
    // Along key paths, values go into the dictionary as they come.
    Dictionary result = Dictionary::mutableDictionary();
    std::vector<Dictionary::Entry> entries;
    std::unordered_map<std::string_view, std::size_t> positions;
    bool alongPath = false;
    auto finish = [&] {
        if (alongPath) {
            for (const char* key : {"superclass", "debugDescription", "description", "hash"}) {
                result.removeObjectForKey(key);
            }
            return;
        }
        std::vector<Dictionary::Entry> kept;
        kept.reserve(entries.size());
        for (auto& entry : entries) {
            const std::string& key = entry.first;
            if (key == "superclass" || key == "debugDescription" || key == "description" || key == "hash")
                continue;
            kept.push_back(std::move(entry));
        }
        entries.clear();
        positions.clear();
        result = Dictionary::withUniqueEntries(std::move(kept), true);
    };
    try {
        RMNameList allowed = NSObject_RMClass::totalAllowedPropertyNames(cls);
        RMNameList ignored = NSObject_RMClass::totalIgnoredPropertyNames(cls);
        alongPath = NSObject_RMKeyValue::isReferenceReplacedKeyWhenCreatingKeyValues(cls);
        RMPropertyList properties = NSObject_Property::properties(cls);
        entries.reserve(properties->size());
        for (const Ref<RMProperty>& property : *properties) {
            const std::string& name = property->name();
            if (skipProperty(*property, allowed, ignored)) continue;
            if (!keys.empty() && std::find(keys.begin(), keys.end(), name) == keys.end()) continue;
            if (std::find(ignoredKeys.begin(), ignoredKeys.end(), name) != ignoredKeys.end()) continue;

            Value value = property->valueForObject(*record);
            if (value.isNil()) continue;
            const RMClass* typeClass = property->type()->typeClass();
            if (typeClass && !property->type()->isFromFoundation()) {
                value = keyValuesImpl(value, {}, {}, error);
            } else if (value.isArray()) {
                value = keyValuesArrayImpl(value, {}, {}, error);
            } else if (typeClass == known().url) {
                if (auto url = value.objectAs<NSURL>()) value = Value(url->absoluteString());
            }
            if (value.isNil()) continue;

            if (alongPath) {
                RMPropertyKeyPath path = property->propertyKeysFromClass(cls);
                if (path && !path->empty()) {
                    storeAlongPath(result, *path, value);
                } else {
                    result.setObject(name, value);
                }
            } else if (auto it = positions.find(name); it != positions.end()) {
                entries[it->second].second = std::move(value);
            } else {
                positions.emplace(name, entries.size());  // the descriptor outlives the map
                entries.emplace_back(name, std::move(value));
            }
        }
        finish();
        if (auto hooks = std::dynamic_pointer_cast<RMKeyValue>(record))
            hooks->objectDidFinishConvertingToKeyValues();
    } catch (const NSException& exception) {
        if (!entries.empty()) finish();
        reportException(error, exception.reason());
    } catch (const std::exception& exception) {
        if (!entries.empty()) finish();
        reportException(error, exception.what());
    } catch (...) {
        if (!entries.empty()) finish();
        reportException(error, "unknown exception");
    }
    return Value(result);
}

Value keyValuesArrayImpl(const Value& objectArray, const std::vector<std::string>& keys,
                         const std::vector<std::string>& ignoredKeys, Ref<NSError>* error) {
    const Array* array = objectArray.array();
    if (!array) {
        report(error, kObjectArrayNotArray);
        return Value();
    }
    NestingGuard guard;
    if (guard.tooDeep()) {
        report(error, kTooDeep);
        return Value();
    }
    Array result = Array::mutableArray(array->count());
    for (const Value& element : *array) {
        Value converted = keys.empty() ? keyValuesImpl(element, {}, ignoredKeys, error)
                                       : keyValuesImpl(element, keys, {}, error);
        if (!converted.isNil()) result.addObject(std::move(converted));
    }
    return Value(result);
}

}  // namespace

namespace detail {

Value rmConvertedValue(const RMProperty& property, const RMClass* cls, const Value& input,
                       Ref<NSError>* error) {
    return rmConvertedValue(property, cls, input, nullptr, error);
}

Value rmConvertedValue(const RMProperty& property, const RMClass* cls, const Value& input,
                       const Ref<NSManagedObjectContext>& context, Ref<NSError>* error) {
    const RMPropertyType& type = *property.type();
    const RMClass* typeClass = type.typeClass();
    const RMClass* elementClass = property.objectClassInArrayFromClass(cls);
    Value value = input;

    if (typeClass && !type.isFromFoundation()) {
        value = Value(NSObject_RMKeyValue::objectWithKeyValuesContext(typeClass, value, context, error));
    } else if (elementClass) {
        if (elementClass == known().url && value.isArray()) {
            Array urls = Array::mutableArray();
            for (const Value& element : *value.array()) {
                if (const std::string* text = element.string()) {
                    if (auto url = NSString_RMExtension::url(*text)) urls.addObject(Value(url));
                }
            }
            value = Value(urls);
        } else {
            value = NSObject_RMKeyValue::objectArrayWithKeyValuesArrayContext(elementClass, value, context,
                                                                              error);
        }
    } else if (typeClass && typeClass == known().string) {
        if (const NSNumber* number = value.number()) {
            value = Value(number->stringValue());
        } else if (auto url = value.objectAs<NSURL>()) {
            value = Value(url->absoluteString());
        }
    } else if (const std::string* text = value.string()) {
        if (typeClass && typeClass == known().url) {
            value = Value(NSString_RMExtension::url(*text));
        } else if (type.isNumberType()) {
            value = numberFromText(*text, type.isBoolType());
        }
    }
    return valueFitsType(type, value) ? value : Value();
}

}  // namespace detail

namespace NSObject_RMKeyValue {

const Ref<NSNumberFormatter>& numberFormatter() {
    static const Ref<NSNumberFormatter> formatter = [] {
        auto f = make<NSNumberFormatter>();
        f->setNumberStyle(NSNumberFormatterDecimalStyle);
        f->setLocale(NSLocale::localeWithLocaleIdentifier("en_US_POSIX"));
        return f;
    }();
    return formatter;
}

Ref<NSObject> objectWithKeyValues(const RMClass* cls, const Value& keyValues, Ref<NSError>* error) {
    return objectWithKeyValuesContext(cls, keyValues, nullptr, error);
}

Ref<NSObject> objectWithKeyValuesContext(const RMClass* cls, const Value& keyValues,
                                         const Ref<NSManagedObjectContext>& context, Ref<NSError>* error) {
    if (keyValues.isNil() || !cls) return nullptr;
    NestingGuard guard;
    if (guard.tooDeep()) {
        report(error, kTooDeep);
        return nullptr;
    }
    const RMClass* managed = RMClass::classNamed("NSManagedObject");
    if (context && managed && cls->isSubclassOfClass(managed)) {
        auto object = NSEntityDescription::insertNewObjectForEntityForName(cls->name(), context);
        if (!object) {
            report(error, "entity " + cls->name() + " not found");
            return nullptr;
        }
        setKeyValuesContext(*object, keyValues, context, error);
        return object;
    }
    // Without a context (or for any other class) nothing is passed on.
    Ref<NSObject> object = cls->newInstance();
    if (!object) return nullptr;
    setKeyValuesContext(*object, keyValues, nullptr, error);
    return object;
}

Value objectArrayWithKeyValuesArray(const RMClass* cls, const Value& keyValuesArray, Ref<NSError>* error) {
    return objectArrayWithKeyValuesArrayContext(cls, keyValuesArray, nullptr, error);
}

Value objectArrayWithKeyValuesArrayContext(const RMClass* cls, const Value& keyValuesArray,
                                           const Ref<NSManagedObjectContext>& context, Ref<NSError>* error) {
    if (RMFoundation::isClassFromFoundation(cls)) return keyValuesArray;
    NestingGuard guard;
    if (guard.tooDeep()) {
        report(error, kTooDeep);
        return Value();
    }
    Value json = JSONObject(keyValuesArray);
    const Array* array = json.array();
    if (!array) {
        report(error, kNotArray);
        return Value();
    }
    Array result = Array::mutableArray(array->count());
    for (const Value& element : *array) {
        if (element.isArray()) {
            Value nested = objectArrayWithKeyValuesArrayContext(cls, element, context, error);
            if (!nested.isNil()) result.addObject(std::move(nested));
        } else if (Ref<NSObject> object = objectWithKeyValuesContext(cls, element, context, error)) {
            result.addObject(Value(object));
        }
    }
    return Value(result);
}

void setKeyValues(NSObject& object, const Value& keyValues, Ref<NSError>* error) {
    setKeyValuesContext(object, keyValues, nullptr, error);
}

void setKeyValuesContext(NSObject& object, const Value& keyValues, const Ref<NSManagedObjectContext>& context,
                         Ref<NSError>* error) {
    Value json = JSONObject(keyValues);
    if (!json.isDictionary()) {
        report(error, kNotDictionary);
        return;
    }
    NestingGuard guard;
    if (guard.tooDeep()) {
        report(error, kTooDeep);
        return;
    }
    const RMClass* cls = RMClass::classOfObject(object);
    Ref<NSObject> self = object.weakSelf().lock();
    try {
        RMNameList allowed = NSObject_RMClass::totalAllowedPropertyNames(cls);
        RMNameList ignored = NSObject_RMClass::totalIgnoredPropertyNames(cls);
        RMPropertyList properties = NSObject_Property::properties(cls);
        for (const Ref<RMProperty>& property : *properties) {
            if (skipProperty(*property, allowed, ignored)) continue;
            Value value = json;
            if (RMPropertyKeyPath path = property->propertyKeysFromClass(cls)) {
                for (const Ref<RMPropertyKey>& step : *path) value = step->valueInObject(value);
            }
            Value replacement = NSObject_Property::getNewValueFromObject(cls, self, value, *property);
            if (!replacement.isNil()) {
                value = replacement;
            } else if (value.isNil()) {
                continue;
            }
            if (value.isNull()) continue;
            value = detail::rmConvertedValue(*property, cls, value, context, error);
            property->setValue(value, object);
        }
        if (auto hooks = dynamic_cast<RMKeyValue*>(&object)) hooks->keyValuesDidFinishConvertingToObject();
    } catch (const NSException& exception) {
        reportException(error, exception.reason());
    } catch (const std::exception& exception) {
        reportException(error, exception.what());
    } catch (...) {
        reportException(error, "unknown exception");
    }
}

Ref<NSObject> objectWithFilename(const RMClass* cls, const std::optional<std::string>& filename,
                                 Ref<NSError>* error) {
    if (!filename) {
        report(error, kNoFilename);
        return nullptr;
    }
    return objectWithFile(cls, NSBundle::mainBundle()->pathForResource(*filename, ""), error);
}

namespace {
Value propertyListAt(const std::string& path) {
    auto data = NSData::dataWithContentsOfFile(path);
    if (!data) return Value();
    return NSPropertyListSerialization::propertyListWithData(*data, NSPropertyListImmutable, nullptr,
                                                             nullptr);
}
}  // namespace

Ref<NSObject> objectWithFile(const RMClass* cls, const std::optional<std::string>& file,
                             Ref<NSError>* error) {
    if (!file) {
        report(error, kNoFile);
        return nullptr;
    }
    Value plist = propertyListAt(*file);
    if (!plist.isDictionary()) return nullptr;
    return objectWithKeyValues(cls, plist, error);
}

Value objectArrayWithFilename(const RMClass* cls, const std::optional<std::string>& filename,
                              Ref<NSError>* error) {
    if (!filename) {
        report(error, kNoFilename);
        return Value();
    }
    return objectArrayWithFile(cls, NSBundle::mainBundle()->pathForResource(*filename, ""), error);
}

Value objectArrayWithFile(const RMClass* cls, const std::optional<std::string>& file, Ref<NSError>* error) {
    if (!file) {
        report(error, kNoFile);
        return Value();
    }
    Value plist = propertyListAt(*file);
    if (!plist.isArray()) return Value();
    return objectArrayWithKeyValuesArray(cls, plist, error);
}

Value keyValues(const Value& object, Ref<NSError>* error) {
    return keyValuesImpl(object, {}, {}, error);
}

Value keyValuesWithKeys(const Value& object, const std::vector<std::string>& keys, Ref<NSError>* error) {
    return keyValuesImpl(object, keys, {}, error);
}

Value keyValuesWithIgnoredKeys(const Value& object, const std::vector<std::string>& ignoredKeys,
                               Ref<NSError>* error) {
    return keyValuesImpl(object, {}, ignoredKeys, error);
}

Value keyValuesWithKeysIgnoredKeys(const Value& object, const std::vector<std::string>& keys,
                                   const std::vector<std::string>& ignoredKeys, Ref<NSError>* error) {
    return keyValuesImpl(object, keys, ignoredKeys, error);
}

Value keyValuesArrayWithObjectArray(const Value& objectArray, Ref<NSError>* error) {
    return keyValuesArrayImpl(objectArray, {}, {}, error);
}

Value keyValuesArrayWithObjectArrayKeys(const Value& objectArray, const std::vector<std::string>& keys,
                                        Ref<NSError>* error) {
    return keyValuesArrayImpl(objectArray, keys, {}, error);
}

Value keyValuesArrayWithObjectArrayIgnoredKeys(const Value& objectArray,
                                               const std::vector<std::string>& ignoredKeys,
                                               Ref<NSError>* error) {
    return keyValuesArrayImpl(objectArray, {}, ignoredKeys, error);
}

Value keyValuesArrayWithObjectArrayKeysIgnoredKeys(const Value& objectArray,
                                                   const std::vector<std::string>& keys,
                                                   const std::vector<std::string>& ignoredKeys,
                                                   Ref<NSError>* error) {
    return keyValuesArrayImpl(objectArray, keys, ignoredKeys, error);
}

void referenceReplacedKeyWhenCreatingKeyValues(const RMClass* cls, bool reference) {
    if (!cls) return;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    cls->attached().referenceReplacedKey = reference;
}

bool isReferenceReplacedKeyWhenCreatingKeyValues(const RMClass* cls) {
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    bool result = false;
    NSObject_RMClass::enumerateAllClasses(cls, [&](const RMClass* c, bool& stop) {
        if (auto flag = c->attached().referenceReplacedKey) {
            result = *flag;
            stop = true;
        }
    });
    return result;
}

Value JSONObject(const Value& object) {
    if (const std::string* text = object.string()) {
        return NSJSONSerialization::JSONObjectWithData(NSData::fromString(*text), 0, nullptr);
    }
    if (const NSData* data = object.data()) return NSJSONSerialization::JSONObjectWithData(*data, 0, nullptr);
    return keyValues(object);
}

std::optional<NSData> JSONData(const Value& object) {
    if (const std::string* text = object.string()) return NSData::fromString(*text);
    if (const NSData* data = object.data()) return *data;
    return NSJSONSerialization::dataWithJSONObject(JSONObject(object), 0, nullptr);
}

std::optional<std::string> JSONString(const Value& object) {
    if (const std::string* text = object.string()) return *text;
    if (const NSData* data = object.data()) return NSString::initWithData(*data, NSUTF8StringEncoding);
    auto data = JSONData(object);
    if (!data) return std::nullopt;
    return NSString::initWithData(*data, NSUTF8StringEncoding);
}

}  // namespace NSObject_RMKeyValue
