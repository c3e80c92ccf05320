#pragma once
// NSObject(Property): a class's properties for the record layer, and the class-level setup of
// replaced keys, element classes and new-value blocks.
//
// properties(C) lists C's own declared properties first, then its superclass's, and so on up to
// (not including) the platform's classes, each in declaration order. Computing it records, per
// property, the key path by which C reads it and the element class of an array property, so it
// is done once per class and cached until a setup operation that changes keys or element
// classes empties the cache.
//
// The key of a property of C, first match wins: C's replacedKeyFromPropertyName121 hook (when it
// answers a non-empty key); the replaced-key blocks set up on C and its ancestors, nearest first
// (first non-empty answer); C's replacedKeyFromPropertyName hook; the replaced-key maps set up on
// C and its ancestors, nearest first; the property name itself.
//
// The element class of an array property of C: C's objectClassInArray hook entry, else the first
// entry in the maps set up on C and its ancestors, nearest first; a name is looked up as a class.
//
// Example, before mapping a catalogue (the element class of QVNBrand.cars):
//
//     NSObject_Property::setupObjectClassInArray<QVNBrand>([] { return Dictionary{{"cars", "QVNCar"}}; });

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/RMClass.h"
#include "app/RMProperty.h"

using RMPropertyList = std::shared_ptr<const std::vector<Ref<RMProperty>>>;

namespace NSObject_Property {

using PropertyBlock = std::function<void(const Ref<RMProperty>& property, bool& stop)>;
using DictionaryBlock = std::function<Dictionary()>;

// Never null; empty for no class.
RMPropertyList properties(const RMClass* cls);
void enumerateProperties(const RMClass* cls, const PropertyBlock& block);

// The JSON key (or key path text) of a property; nullopt for an empty name.
std::optional<std::string> propertyKey(const RMClass* cls, const std::string& propertyName);
// The element class of an array property, or nullptr.
const RMClass* propertyObjectClassInArray(const RMClass* cls, const std::string& propertyName);

// Evaluate the block now and attach the map it returns (property name -> key, or property name
// -> element class); an empty block removes the map. The property lists are computed again.
void setupReplacedKeyFromPropertyName(const RMClass* cls, const DictionaryBlock& block);
void setupObjectClassInArray(const RMClass* cls, const DictionaryBlock& block);
// Attach the block itself (an empty block removes it). The first also empties the property lists.
void setupReplacedKeyFromPropertyName121(const RMClass* cls, RMClass::ReplacedKeyBlock block);
void setupNewValueFromOldValue(const RMClass* cls, RMClass::NewValueBlock block);

// The replacement for a JSON value: the object's own newValueFromOldValue (RMKeyValue) when it
// implements it, otherwise the nearest new-value block on the class or an ancestor, otherwise nil.
Value getNewValueFromObject(const RMClass* cls, const Ref<NSObject>& object, const Value& oldValue,
                            const RMProperty& property);

// The same for a registered record type.
template <class T>
RMPropertyList properties() {
    return properties(RMClass::of<T>());
}
template <class T>
void setupReplacedKeyFromPropertyName(const DictionaryBlock& block) {
    setupReplacedKeyFromPropertyName(RMClass::of<T>(), block);
}
template <class T>
void setupObjectClassInArray(const DictionaryBlock& block) {
    setupObjectClassInArray(RMClass::of<T>(), block);
}
template <class T>
void setupReplacedKeyFromPropertyName121(RMClass::ReplacedKeyBlock block) {
    setupReplacedKeyFromPropertyName121(RMClass::of<T>(), std::move(block));
}
template <class T>
void setupNewValueFromOldValue(RMClass::NewValueBlock block) {
    setupNewValueFromOldValue(RMClass::of<T>(), std::move(block));
}

}  // namespace NSObject_Property

namespace detail {
// Empties the cache of property lists (the setup operations do it).
void rmClearPropertiesCache();
// The class a value names in an element-class map: a class object, or the name of one.
const RMClass* rmClassFromValue(const Value& value);
}  // namespace detail
