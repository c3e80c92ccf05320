#pragma once
// RMClass: a class as the record layer sees it. The mapping between JSON and records, and the
// archiving of records by property, work on any class by reflection; C++ has none, so every
// class they may meet is registered here by name with what reflection needs:
//
//   - its name and its superclass's name (the superclass chain is followed by name);
//   - a factory that makes a new instance with the plain initialiser (none for abstract and
//     platform value classes);
//   - its declared properties in declaration order, each with a name, an attribute string whose
//     characters from index 1 up to the first "," are the type code ("q", "B", "d", "@",
//     "@\"NSString\""...), and a getter and a setter through Value;
//   - the optional class hooks it answers (allowed and ignored names, replaced keys, element
//     classes of arrays), found on the C++ class at registration;
//   - the configuration that the setup operations attach to it later.
//
// Record classes register themselves with the macros of app/RMRecord.h; the platform's value
// classes that the mapping tells apart (NSString, NSNumber, NSURL, NSArray...) are registered
// here when the registry is first used. Classes are never unregistered, so `const RMClass*`
// handles stay valid for the life of the process; a null handle means "no class".
//
// Registration and lookup are thread-safe. The attached configuration is guarded by the record
// layer's lock (detail::rmLock()).

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"

class RMProperty;

// One declared property: the handle that the property descriptors are made from.
struct RMPropertyDecl {
    using Getter = std::function<Value(const NSObject& object)>;
    // False when the object or the value does not fit; the property is then left as it was.
    using Setter = std::function<bool(NSObject& object, const Value& value)>;

    std::string name;
    // "T" + type code + ",N,V_" + name, as the object runtime writes attribute strings.
    std::string attributes;
    Getter get;
    Setter set;
};

// The class hooks of the record protocols, each empty when the class does not answer it. A
// hook that a class inherits from its superclass counts as the class's own.
struct RMClassHooks {
    using NameList = std::function<std::vector<std::string>()>;
    NameList allowedPropertyNames;
    NameList ignoredPropertyNames;
    NameList allowedCodingPropertyNames;
    NameList ignoredCodingPropertyNames;
    // Property name -> key (text).
    std::function<Dictionary()> replacedKeyFromPropertyName;
    // Property name -> key; an empty answer means "no replacement".
    std::function<std::optional<std::string>(const std::string& propertyName)> replacedKeyFromPropertyName121;
    // Property name -> element class (its name as text, or the class as RMClass::classValue()).
    std::function<Dictionary()> objectClassInArray;
};

// What a class registers.
struct RMClassDefinition {
    std::string name;
    // Empty for a root class.
    std::string superclassName = "NSObject";
    // Makes a new instance with the plain initialiser; empty when the class cannot be made.
    std::function<Ref<NSObject>()> factory;
    std::vector<RMPropertyDecl> properties;
    RMClassHooks hooks;
};

class RMClass : public NSObject {
  public:
    // Blocks attached by the setup operations.
    using ReplacedKeyBlock = std::function<std::optional<std::string>(const std::string& propertyName)>;
    using NewValueBlock =
        std::function<Value(const Ref<NSObject>& object, const Value& oldValue, const RMProperty& property)>;
    using NameListBlock = std::function<std::vector<std::string>()>;

    // What the setup operations attach to a class (each under its own key on the platform).
    struct Attached {
        std::optional<Dictionary> replacedKeyMap;
        std::optional<Dictionary> objectClassInArrayMap;
        ReplacedKeyBlock replacedKeyBlock;
        NewValueBlock newValueBlock;
        std::optional<std::vector<std::string>> allowedPropertyNames;
        std::optional<std::vector<std::string>> ignoredPropertyNames;
        std::optional<std::vector<std::string>> allowedCodingPropertyNames;
        std::optional<std::vector<std::string>> ignoredCodingPropertyNames;
        std::optional<bool> referenceReplacedKey;
    };

    explicit RMClass(RMClassDefinition definition);

    // Registers a class; the first registration of a name wins (a later one is refused with a
    // log line and answers the class already there).
    static const RMClass* registerClass(RMClassDefinition definition);
    // The class of that name, or nullptr.
    static const RMClass* classNamed(std::string_view name);
    // The class an object belongs to, by its className(); nullptr when that class is unknown.
    static const RMClass* classOfObject(const NSObject& object);
    // The class of any value: NSString, NSNumber, NSArray, NSMutableArray, NSDictionary,
    // NSMutableDictionary, NSData, NSDate, NSNull, or the object's class. nullptr for nil.
    static const RMClass* classOfValue(const Value& value);
    // The class of a registered record type (see app/RMRecord.h).
    template <class T>
    static const RMClass* of() {
        return T::rmClass();
    }

    const std::string& name() const { return name_; }
    // The registered superclass; nullptr for a root class or a superclass nobody registered.
    const RMClass* superclass() const;
    // Whether this class is `other` or one of its subclasses.
    bool isSubclassOfClass(const RMClass* other) const;
    const std::vector<RMPropertyDecl>& declaredProperties() const { return properties_; }
    const RMClassHooks& hooks() const { return hooks_; }
    // A new instance, or nullptr for a class without factory.
    Ref<NSObject> newInstance() const;
    bool canMakeInstances() const { return static_cast<bool>(factory_); }
    // The class as a Value (an object), for the element-class maps.
    Value classValue() const;

    // The attached configuration. Read and change it only under detail::rmLock().
    Attached& attached() const { return attached_; }

    std::string className() const override { return "RMClass"; }
    std::string description() const override { return name_; }

  private:
    std::string name_;
    std::string superclassName_;
    std::function<Ref<NSObject>()> factory_;
    std::vector<RMPropertyDecl> properties_;
    RMClassHooks hooks_;
    mutable Attached attached_;
    // The superclass once found (registration only ever adds classes).
    mutable std::atomic<const RMClass*> superclass_{nullptr};
};

namespace detail {
// The one lock of the record layer's caches and attached configuration (recursive: hooks and
// blocks run under it and may reflect again).
std::recursive_mutex& rmLock();
}  // namespace detail
