#pragma once
// NSObject(RMClass): class-level walks and the name lists of the record layer.
//
// The name lists are the allowed and ignored property names, for the mapping and for the
// archiving. A class's total list is the list its class hook answers (RMKeyValue.h), followed by
// the lists attached by the setup operations to the class and to each ancestor, nearest first;
// so a class inherits every ancestor's attached list. Totals are cached per class until a setup
// of the same kind runs.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/RMClass.h"

using RMNameList = std::shared_ptr<const std::vector<std::string>>;

enum class RMNameListKind { Allowed, Ignored, AllowedCoding, IgnoredCoding };

namespace NSObject_RMClass {

using ClassBlock = std::function<void(const RMClass* cls, bool& stop)>;
using NameListBlock = std::function<std::vector<std::string>()>;

// The class, then its superclasses, stopping when the block sets stop, at the root, or before the
// first superclass that is a platform class (RMFoundation); the class itself is always visited.
void enumerateClasses(const RMClass* cls, const ClassBlock& block);
// The same over the whole chain, platform classes included.
void enumerateAllClasses(const RMClass* cls, const ClassBlock& block);

// Evaluate the block now and attach its list to the class (an empty block removes the attached
// list); the totals of that kind are computed again on next use.
void setupAllowedPropertyNames(const RMClass* cls, const NameListBlock& block);
void setupIgnoredPropertyNames(const RMClass* cls, const NameListBlock& block);
void setupAllowedCodingPropertyNames(const RMClass* cls, const NameListBlock& block);
void setupIgnoredCodingPropertyNames(const RMClass* cls, const NameListBlock& block);

RMNameList totalAllowedPropertyNames(const RMClass* cls);
RMNameList totalIgnoredPropertyNames(const RMClass* cls);
RMNameList totalAllowedCodingPropertyNames(const RMClass* cls);
RMNameList totalIgnoredCodingPropertyNames(const RMClass* cls);

// The two mechanisms the operations above share.
void setupBlockReturnValue(const RMClass* cls, const NameListBlock& block, RMNameListKind kind);
RMNameList totalObjectsWithSelector(const RMClass* cls, RMNameListKind kind);

// The same for a registered record type: NSObject_RMClass::setupIgnoredPropertyNames<QVNUser>(...).
template <class T>
void setupAllowedPropertyNames(const NameListBlock& block) {
    setupAllowedPropertyNames(RMClass::of<T>(), block);
}
template <class T>
void setupIgnoredPropertyNames(const NameListBlock& block) {
    setupIgnoredPropertyNames(RMClass::of<T>(), block);
}
template <class T>
void setupAllowedCodingPropertyNames(const NameListBlock& block) {
    setupAllowedCodingPropertyNames(RMClass::of<T>(), block);
}
template <class T>
void setupIgnoredCodingPropertyNames(const NameListBlock& block) {
    setupIgnoredCodingPropertyNames(RMClass::of<T>(), block);
}

}  // namespace NSObject_RMClass

namespace detail {
// Whether a name list holds a name.
bool rmListContains(const RMNameList& list, const std::string& name);
}  // namespace detail
