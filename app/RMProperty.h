#pragma once
// RMProperty: the descriptor of one declared property, shared by every class that inherits it.
// It knows the property's name and type, the class that declares it, and, per class that reads
// it, the key path of its JSON value and the element class of an array property (a subclass may
// configure the same inherited property differently from its superclass).
//
// Descriptors are made once per declaration and kept for the life of the process. Reading and
// writing go through the declaration's getter and setter; a type that cannot be read by name
// reads as null and is never written.

#include <string>
#include <unordered_map>

#include "app/RMClass.h"
#include "app/RMPropertyKey.h"
#include "app/RMPropertyType.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"

class RMProperty : public NSObject {
  public:
    // The shared descriptor of a declaration, made on first request.
    static Ref<RMProperty> cachedPropertyWithProperty(const RMPropertyDecl* property);

    // Takes the name and decodes the type from the attribute string (characters 1 up to the
    // first ",").
    void setProperty(const RMPropertyDecl* property);

    const RMPropertyDecl* property() const { return property_; }
    const std::string& name() const { return name_; }
    const Ref<RMPropertyType>& type() const { return type_; }
    const RMClass* srcClass() const { return srcClass_; }
    void setSrcClass(const RMClass* cls) { srcClass_ = cls; }

    // The object's value; null for a type that cannot be read by name; nil when the object is
    // not of the declaring class.
    Value valueForObject(const NSObject& object) const;
    // Sets the property unless the value is nil or the type cannot be written by name. A value
    // the property cannot hold leaves it as it was.
    void setValue(const Value& value, NSObject& object) const;

    // Parses a key text (through the shared cache) and records the path for the class. An
    // empty key records nothing.
    void setOriginKey(const std::string& key, const RMClass* cls);
    // Records a non-empty path for the class.
    void setPorpertyKeys(const RMPropertyKeyPath& keys, const RMClass* cls);
    // The path recorded for the class, or nullptr.
    RMPropertyKeyPath propertyKeysFromClass(const RMClass* cls) const;
    // Records a non-null element class for the class.
    void setObjectClassInArray(const RMClass* elementClass, const RMClass* cls);
    // The element class recorded for the class, or nullptr.
    const RMClass* objectClassInArrayFromClass(const RMClass* cls) const;
    // Drops what was recorded for the class, before its property list is computed again (so an
    // element class removed by a later setup does not linger).
    void forgetClass(const RMClass* cls);

    std::string className() const override { return "RMProperty"; }
    std::string description() const override { return name_; }

  private:
    const RMPropertyDecl* property_ = nullptr;
    std::string name_;
    Ref<RMPropertyType> type_;
    const RMClass* srcClass_ = nullptr;
    // Made on first use; guarded by detail::rmLock().
    std::unordered_map<std::string, RMPropertyKeyPath> propertyKeysDict_;
    std::unordered_map<std::string, const RMClass*> objectClassInArrayDict_;
};
