#pragma once
// NSObject(RMKeyValue): decoded JSON (dictionaries, arrays, strings, numbers) into records of any
// registered class (app/RMRecord.h), and records back into dictionaries.
//
// A property reads the JSON value under its key (its name, unless the class replaces it; a key
// may be a path such as "data.list[0].name") and receives it converted to its declared type:
//
//   - a record-typed property gets a nested record made from a dictionary;
//   - an array property with an element class (a class hook or setupObjectClassInArray) gets an
//     array of records (an element that is itself an array gives a nested array); with NSURL as
//     element class, an array of URLs made from the strings;
//   - a text property gets a number's decimal text or a URL's absolute text;
//   - from text: a URL for a URL property; a number for a number property (decimal, as the shared
//     number formatter reads it; unparsable text leaves the property untouched); for a bool,
//     "yes"/"true" and "no"/"false" in any case as well;
//   - anything else as it is (an array without element class, a dictionary, a number).
// A value that still is not of the property's kind (an array for a text, an object for a number)
// counts as absent. JSON null and missing keys leave the property as it was.
//
// Nothing raises to the caller: wrong container kinds, missing files and exceptions raised while
// mapping become errors with code 250 whose domain is the message (when the caller passes an
// error slot) and partial results. Nesting deeper than kMaxNesting levels is refused the same way.
//
// Usage:
//
//     Ref<QVNUser> user = NSObject_RMKeyValue::objectWithKeyValues<QVNUser>(reply);
//     Value brands = NSObject_RMKeyValue::objectArrayWithKeyValuesArray<QVNBrand>(reply["data"]);
//     for (const Value& v : *brands.array()) { Ref<QVNBrand> brand = v.objectAs<QVNBrand>(); ... }
//     Value json = NSObject_RMKeyValue::keyValues(user);   // a dictionary

#include <optional>
#include <string>
#include <vector>

#include "app/RMClass.h"
#include "foundation/NSData.h"
#include "foundation/NSError.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class NSNumberFormatter;
class NSManagedObjectContext;

namespace NSObject_RMKeyValue {

inline constexpr long kErrorCode = 250;
inline constexpr int kMaxNesting = 128;

// ----- Records from JSON (a dictionary, or JSON text as a string or data) -----
// A new record filled from the value (also when filling reported an error); nil for nil, for no
// class, and for a class that cannot be made.
Ref<NSObject> objectWithKeyValues(const RMClass* cls, const Value& keyValues, Ref<NSError>* error = nullptr);
// An array of records (nil when the value is no array); a platform value class gives the value
// back unchanged.
Value objectArrayWithKeyValuesArray(const RMClass* cls, const Value& keyValuesArray,
                                    Ref<NSError>* error = nullptr);
// From a property-list file holding a dictionary (an array): by resource name in the main bundle
// (no extension given), or by path. A file that is no property list gives nil without an error.
Ref<NSObject> objectWithFilename(const RMClass* cls, const std::optional<std::string>& filename,
                                 Ref<NSError>* error = nullptr);
Ref<NSObject> objectWithFile(const RMClass* cls, const std::optional<std::string>& file,
                             Ref<NSError>* error = nullptr);
Value objectArrayWithFilename(const RMClass* cls, const std::optional<std::string>& filename,
                              Ref<NSError>* error = nullptr);
Value objectArrayWithFile(const RMClass* cls, const std::optional<std::string>& file,
                          Ref<NSError>* error = nullptr);

// Fills an existing record.
void setKeyValues(NSObject& object, const Value& keyValues, Ref<NSError>* error = nullptr);

// ----- The same with a managed-object context -----
// With a context, a record class that extends NSManagedObject is made as a new object of the
// entity named after the class, inserted into the context (nil and an error whose domain names
// the missing entity when the context's model has none); nested records and arrays of records
// are made in the same context. Other classes are made as without a context. Run them on the
// context's queue.
Ref<NSObject> objectWithKeyValuesContext(const RMClass* cls, const Value& keyValues,
                                         const Ref<NSManagedObjectContext>& context,
                                         Ref<NSError>* error = nullptr);
Value objectArrayWithKeyValuesArrayContext(const RMClass* cls, const Value& keyValuesArray,
                                           const Ref<NSManagedObjectContext>& context,
                                           Ref<NSError>* error = nullptr);
void setKeyValuesContext(NSObject& object, const Value& keyValues, const Ref<NSManagedObjectContext>& context,
                         Ref<NSError>* error = nullptr);

// ----- Records to JSON -----
// A mutable dictionary for a record (only the listed property names / all but the ignored ones);
// any platform value (text, number, array, dictionary, URL...) is given back as it is.
Value keyValues(const Value& object, Ref<NSError>* error = nullptr);
Value keyValuesWithKeys(const Value& object, const std::vector<std::string>& keys,
                        Ref<NSError>* error = nullptr);
Value keyValuesWithIgnoredKeys(const Value& object, const std::vector<std::string>& ignoredKeys,
                               Ref<NSError>* error = nullptr);
Value keyValuesWithKeysIgnoredKeys(const Value& object, const std::vector<std::string>& keys,
                                   const std::vector<std::string>& ignoredKeys,
                                   Ref<NSError>* error = nullptr);
// One dictionary per element, in order; nil when the value is no array.
Value keyValuesArrayWithObjectArray(const Value& objectArray, Ref<NSError>* error = nullptr);
Value keyValuesArrayWithObjectArrayKeys(const Value& objectArray, const std::vector<std::string>& keys,
                                        Ref<NSError>* error = nullptr);
Value keyValuesArrayWithObjectArrayIgnoredKeys(const Value& objectArray,
                                               const std::vector<std::string>& ignoredKeys,
                                               Ref<NSError>* error = nullptr);
Value keyValuesArrayWithObjectArrayKeysIgnoredKeys(const Value& objectArray,
                                                   const std::vector<std::string>& keys,
                                                   const std::vector<std::string>& ignoredKeys,
                                                   Ref<NSError>* error = nullptr);

// With the flag set, a record's dictionary stores each value along the property's key path
// (creating the dictionaries and arrays on the way) rather than under the property name. A class
// without its own setting inherits its nearest ancestor's; the default is NO.
void referenceReplacedKeyWhenCreatingKeyValues(const RMClass* cls, bool reference);
bool isReferenceReplacedKeyWhenCreatingKeyValues(const RMClass* cls);

// ----- JSON text -----
// Text and data are parsed (nil when they are not JSON); anything else gives its keyValues.
Value JSONObject(const Value& object);
// Text gives its UTF-8 bytes, data itself; anything else the JSON of its JSONObject.
std::optional<NSData> JSONData(const Value& object);
// Text gives itself, data its UTF-8 text; anything else the text of its JSONData.
std::optional<std::string> JSONString(const Value& object);

// The shared number formatter that reads numbers from text (decimal style, locale-independent).
const Ref<NSNumberFormatter>& numberFormatter();

// ----- The same for a registered record type -----
template <class T>
Ref<T> objectWithKeyValues(const Value& keyValues, Ref<NSError>* error = nullptr) {
    return asKind<T>(objectWithKeyValues(RMClass::of<T>(), keyValues, error));
}
template <class T>
Value objectArrayWithKeyValuesArray(const Value& keyValuesArray, Ref<NSError>* error = nullptr) {
    return objectArrayWithKeyValuesArray(RMClass::of<T>(), keyValuesArray, error);
}
template <class T>
Ref<T> objectWithFilename(const std::optional<std::string>& filename, Ref<NSError>* error = nullptr) {
    return asKind<T>(objectWithFilename(RMClass::of<T>(), filename, error));
}
template <class T>
Ref<T> objectWithFile(const std::optional<std::string>& file, Ref<NSError>* error = nullptr) {
    return asKind<T>(objectWithFile(RMClass::of<T>(), file, error));
}
template <class T>
Value objectArrayWithFilename(const std::optional<std::string>& filename, Ref<NSError>* error = nullptr) {
    return objectArrayWithFilename(RMClass::of<T>(), filename, error);
}
template <class T>
Value objectArrayWithFile(const std::optional<std::string>& file, Ref<NSError>* error = nullptr) {
    return objectArrayWithFile(RMClass::of<T>(), file, error);
}
template <class T>
Ref<T> objectWithKeyValuesContext(const Value& keyValues, const Ref<NSManagedObjectContext>& context,
                                  Ref<NSError>* error = nullptr) {
    return asKind<T>(objectWithKeyValuesContext(RMClass::of<T>(), keyValues, context, error));
}
template <class T>
Value objectArrayWithKeyValuesArrayContext(const Value& keyValuesArray,
                                           const Ref<NSManagedObjectContext>& context,
                                           Ref<NSError>* error = nullptr) {
    return objectArrayWithKeyValuesArrayContext(RMClass::of<T>(), keyValuesArray, context, error);
}
template <class T>
void referenceReplacedKeyWhenCreatingKeyValues(bool reference) {
    referenceReplacedKeyWhenCreatingKeyValues(RMClass::of<T>(), reference);
}

}  // namespace NSObject_RMKeyValue

class RMProperty;

namespace detail {
// The conversion a JSON value goes through on its way into a property of a record of class
// `cls`: nil when it does not fit the property.
Value rmConvertedValue(const RMProperty& property, const RMClass* cls, const Value& value,
                       Ref<NSError>* error);
// The same, making nested records in the context.
Value rmConvertedValue(const RMProperty& property, const RMClass* cls, const Value& value,
                       const Ref<NSManagedObjectContext>& context, Ref<NSError>* error);
}  // namespace detail
