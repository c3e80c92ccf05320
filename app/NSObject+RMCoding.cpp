#include "app/NSObject+RMCoding.h"

#include <set>

#include "app/NSObject+Property.h"
#include "app/NSObject+RMClass.h"
#include "app/RMFoundation.h"
#include "foundation/NSKeyedArchiver.h"

namespace {

template <class Block>
void forEachEligible(const RMClass* cls, const Block& block) {
    RMNameList allowed = NSObject_RMClass::totalAllowedCodingPropertyNames(cls);
    RMNameList ignored = NSObject_RMClass::totalIgnoredCodingPropertyNames(cls);
    NSObject_Property::enumerateProperties(cls, [&](const Ref<RMProperty>& property, bool&) {
        if (!allowed->empty() && !detail::rmListContains(allowed, property->name())) return;
        if (detail::rmListContains(ignored, property->name())) return;
        block(*property);
    });
}

Value decodeProperty(NSCoder& coder, const RMProperty& property, const std::string& key) {
    if (!coder.requiresSecureCoding()) return coder.decodeObjectForKey(key);
    const RMClass* typeClass = property.type()->typeClass();
    if (typeClass && !RMFoundation::isClassFromFoundation(typeClass)) {
        return coder.decodeObjectOfClass(typeClass->name(), key);
    }
    return coder.decodeObjectForKey(key);
}

}  // namespace

namespace NSObject_RMCoding {

void encode(const NSObject& object, NSCoder& coder) {
    forEachEligible(RMClass::classOfObject(object), [&](const RMProperty& property) {
        Value value = property.valueForObject(object);
        if (!value.isNil()) coder.encodeObject(value, property.name());
    });
}

void decode(NSObject& object, NSCoder& coder) {
    forEachEligible(RMClass::classOfObject(object), [&](const RMProperty& property) {
        Value value = decodeProperty(coder, property, property.name());
        if (value.isNil()) value = decodeProperty(coder, property, "_" + property.name());
        if (!value.isNil()) property.setValue(value, object);
    });
}

}  // namespace NSObject_RMCoding
