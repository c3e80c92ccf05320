#pragma once
// Declaring a record class: the one header every record of the app includes.
//
// A record is a plain class whose public members carry the server's JSON key names. Two macros
// make it known to the JSON mapping (app/NSObject+RMKeyValue.h) and to the archiving by property
// (app/NSObject+RMCoding.h):
//
//     // QVNCar.h
//     class QVNCar : public NSObject {
//         RM_RECORD(QVNCar, NSObject)           // first in the class body; leaves it public
//         std::optional<NSNumber> cars_id;      // "@\"NSNumber\""
//         std::optional<std::string> cars_name; // "@\"NSString\""
//         long long rank = 0;                   // "q"
//         bool isColor = false;                 // "B"
//         Ref<QVNPart> part;                    // "@\"QVNPart\"": a nested record
//         std::optional<Array> parts;           // "@\"NSArray\"": of records when an element
//                                               // class is set up for it
//         Value extra;                          // "@": anything
//     };
//
//     // QVNCar.cpp
//     RM_PROPERTIES(QVNCar,
//                   RM_PROPERTY(cars_id),
//                   RM_PROPERTY(cars_name),
//                   RM_PROPERTY(rank),
//                   RM_PROPERTY(isColor),
//                   RM_PROPERTY(part),
//                   RM_PROPERTY(parts),
//                   RM_PROPERTY(extra))
//     RM_CODING(QVNCar)   // optional: archive and unarchive QVNCar by property
//
// RM_RECORD(Class, Superclass) declares the class's name (className() answers it), its
// superclass for the record layer (NSObject, another record, or NSManagedObject for records kept
// in an object store, whose properties are RM_PROPERTY_CUSTOM over the object's values) and the
// static rmClass(). A subclass of a record names that record as its superclass and lists only its
// own members; its property list is its own properties followed by its superclass's.
//
// RM_PROPERTIES(Class, ...) registers the class with its properties in declaration order
// (list them in the order the members are declared). RM_PROPERTY(member) infers the type code
// from the member's type; RM_PROPERTY_WITH_CODE(member, code) gives another one (for instance
// "@\"NSMutableString\""); RM_PROPERTY_CUSTOM(name, code, getter, setter) declares a property
// that is not a plain member (getter: Value(const Class&), setter: bool(Class&, const Value&)).
//
// Member types and their codes:
//   bool B; char, signed char c; unsigned char C; short s; unsigned short S; int i; unsigned I;
//   long, long long q; unsigned long, unsigned long long Q; float f; double d;
//   std::optional<std::string>, std::string @"NSString"; std::optional<NSNumber>, NSNumber
//   @"NSNumber"; std::optional<Array>, Array @"NSArray"; std::optional<Dictionary>, Dictionary
//   @"NSDictionary"; std::optional<NSDate> @"NSDate"; std::optional<NSData> @"NSData";
//   Ref<NSURL> @"NSURL"; Ref<R> and Weak<R> for a record R @"R"; std::vector<Ref<R>> @"NSArray";
//   Value @ (untyped). Ref<T> of another NSObject class is untyped too.
// A value of another kind than the member holds (text for a number member, an array for a text
// member) is refused: the member keeps its value.
//
// The optional class hooks (replaced keys, element classes, allowed and ignored names) are
// static member functions listed in app/RMKeyValue.h; RM_PROPERTIES finds them on the class:
//
//     class QVNBrand : public NSObject {
//         RM_RECORD(QVNBrand, NSObject)
//         std::optional<Array> cars;
//         static Dictionary objectClassInArray() { return Dictionary{{"cars", "QVNCar"}}; }
//     };
//
// The same can be set from outside, right before a mapping, with the setup operations of
// app/NSObject+Property.h and app/NSObject+RMClass.h. Mapping itself:
//
//     Value brands = NSObject_RMKeyValue::objectArrayWithKeyValuesArray<QVNBrand>(reply["data"]);
//     Ref<QVNCar> car = NSObject_RMKeyValue::objectWithKeyValues<QVNCar>(dictionary);
//
// Records need a default constructor to be made by the mapping and the unarchiver. The
// registry, the caches and the configuration are thread-safe; a record itself belongs to the
// thread that fills it.

#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/RMClass.h"
#include "app/RMKeyValue.h"
#include "foundation/NSData.h"
#include "foundation/NSDate.h"
#include "foundation/NSKeyedArchiver.h"
#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"

#define RM_RECORD(Class, Superclass)                                                                         \
  public:                                                                                                    \
    using RMSuperclass = Superclass;                                                                         \
    static constexpr const char* kRMClassName = #Class;                                                      \
    static const RMClass* rmClass();                                                                         \
    std::string className() const override;

#define RM_PROPERTIES(Class, ...)                                                                            \
    std::string Class::className() const {                                                                   \
        return #Class;                                                                                       \
    }                                                                                                        \
    const RMClass* Class::rmClass() {                                                                        \
        using RMSelf = Class;                                                                                \
        static const RMClass* cls = ::detail::rmRegisterRecord<RMSelf>({__VA_ARGS__});                       \
        return cls;                                                                                          \
    }                                                                                                        \
    [[maybe_unused]] static const RMClass* const rmRegistered_##Class = Class::rmClass();

#define RM_PROPERTY(member) ::detail::rmMemberProperty<RMSelf>(#member, &RMSelf::member)
#define RM_PROPERTY_WITH_CODE(member, code) ::detail::rmMemberProperty<RMSelf>(#member, &RMSelf::member, code)
#define RM_PROPERTY_CUSTOM(name, code, getter, setter)                                                       \
    ::detail::rmCustomProperty<RMSelf>(name, code, getter, setter)

// Archiving by property: registers the class with the keyed archiver under its name. Encoding
// writes every eligible property under its name; decoding makes a new instance and reads them
// back (NSObject_RMCoding::encode / decode).
#define RM_CODING(Class)                                                                                     \
    [[maybe_unused]] static const bool rmCodingRegistered_##Class = ::detail::rmRegisterCoding<Class>();

class NSCoder;
class NSManagedObject;

namespace NSObject_RMCoding {
void encode(const NSObject& object, NSCoder& coder);
void decode(NSObject& object, NSCoder& coder);
}  // namespace NSObject_RMCoding

namespace detail {

template <class T>
struct RMIsOptional : std::false_type {};
template <class T>
struct RMIsOptional<std::optional<T>> : std::true_type {
    using type = T;
};
template <class T>
struct RMIsRef : std::false_type {};
template <class T>
struct RMIsRef<std::shared_ptr<T>> : std::true_type {
    using type = T;
};
template <class T>
struct RMIsWeak : std::false_type {};
template <class T>
struct RMIsWeak<std::weak_ptr<T>> : std::true_type {
    using type = T;
};
template <class T>
struct RMIsRefVector : std::false_type {};
template <class T>
struct RMIsRefVector<std::vector<std::shared_ptr<T>>> : std::true_type {
    using type = T;
};

template <class T>
constexpr bool rmIsRecord = requires {
    T::kRMClassName;
};

// The class name a Ref<T> member is typed with; empty for untyped.
template <class T>
std::string rmObjectClassName() {
    if constexpr (rmIsRecord<T>) {
        return T::kRMClassName;
    } else if constexpr (std::is_same_v<T, NSURL>) {
        return "NSURL";
    } else {
        return std::string();
    }
}

template <class T>
std::string rmObjectCode(const std::string& className) {
    return className.empty() ? std::string("@") : "@\"" + className + "\"";
}

template <class M>
std::string rmTypeCodeFor() {
    if constexpr (std::is_same_v<M, bool>) {
        return "B";
    } else if constexpr (std::is_same_v<M, char> || std::is_same_v<M, signed char>) {
        return "c";
    } else if constexpr (std::is_same_v<M, unsigned char>) {
        return "C";
    } else if constexpr (std::is_same_v<M, short>) {
        return "s";
    } else if constexpr (std::is_same_v<M, unsigned short>) {
        return "S";
    } else if constexpr (std::is_same_v<M, int>) {
        return "i";
    } else if constexpr (std::is_same_v<M, unsigned>) {
        return "I";
    } else if constexpr (std::is_same_v<M, long> || std::is_same_v<M, long long>) {
        return "q";
    } else if constexpr (std::is_same_v<M, unsigned long> || std::is_same_v<M, unsigned long long>) {
        return "Q";
    } else if constexpr (std::is_same_v<M, float>) {
        return "f";
    } else if constexpr (std::is_same_v<M, double>) {
        return "d";
    } else if constexpr (std::is_same_v<M, Value>) {
        return "@";
    } else if constexpr (RMIsOptional<M>::value) {
        return rmTypeCodeFor<typename RMIsOptional<M>::type>();
    } else if constexpr (std::is_same_v<M, std::string>) {
        return "@\"NSString\"";
    } else if constexpr (std::is_same_v<M, NSNumber>) {
        return "@\"NSNumber\"";
    } else if constexpr (std::is_same_v<M, Array> || RMIsRefVector<M>::value) {
        return "@\"NSArray\"";
    } else if constexpr (std::is_same_v<M, Dictionary>) {
        return "@\"NSDictionary\"";
    } else if constexpr (std::is_same_v<M, NSDate>) {
        return "@\"NSDate\"";
    } else if constexpr (std::is_same_v<M, NSData>) {
        return "@\"NSData\"";
    } else if constexpr (RMIsRef<M>::value) {
        using T = typename RMIsRef<M>::type;
        return rmObjectCode<T>(rmObjectClassName<T>());
    } else if constexpr (RMIsWeak<M>::value) {
        using T = typename RMIsWeak<M>::type;
        return rmObjectCode<T>(rmObjectClassName<T>());
    } else {
        static_assert(sizeof(M) == 0, "RM_PROPERTY: unsupported member type; use RM_PROPERTY_CUSTOM");
        return std::string();
    }
}

template <class M>
Value rmGet(const M& member) {
    if constexpr (std::is_same_v<M, bool>) {
        return Value(NSNumber::numberWithBool(member));
    } else if constexpr (std::is_same_v<M, char> || std::is_same_v<M, signed char>) {
        return Value(NSNumber::numberWithChar(static_cast<signed char>(member)));
    } else if constexpr (std::is_same_v<M, unsigned char>) {
        return Value(NSNumber::numberWithUnsignedChar(member));
    } else if constexpr (std::is_same_v<M, short>) {
        return Value(NSNumber::numberWithShort(member));
    } else if constexpr (std::is_same_v<M, unsigned short>) {
        return Value(NSNumber::numberWithUnsignedShort(member));
    } else if constexpr (std::is_arithmetic_v<M>) {
        return Value(member);
    } else if constexpr (std::is_same_v<M, Value>) {
        return member;
    } else if constexpr (RMIsOptional<M>::value) {
        return member ? rmGet(*member) : Value();
    } else if constexpr (RMIsRef<M>::value) {
        if constexpr (std::is_base_of_v<NSObject, typename RMIsRef<M>::type>) {
            return Value(member);
        } else {
            static_assert(sizeof(M) == 0, "RM_PROPERTY: Ref of a class that is not an NSObject");
        }
    } else if constexpr (RMIsWeak<M>::value) {
        return Value(member.lock());
    } else if constexpr (RMIsRefVector<M>::value) {
        Array array = Array::mutableArray(member.size());
        for (const auto& element : member) {
            if (element) array.addObject(Value(element));
        }
        return Value(std::move(array));
    } else {
        return Value(member);
    }
}

// Scalars accept numbers; the other kinds accept their own kind; nil clears what can be empty.
template <class M>
bool rmSet(M& member, const Value& value) {
    if constexpr (std::is_same_v<M, bool>) {
        if (!value.isNumber()) return false;
        member = value.number()->boolValue();
        return true;
    } else if constexpr (std::is_integral_v<M> && std::is_unsigned_v<M>) {
        if (!value.isNumber()) return false;
        member = static_cast<M>(value.number()->unsignedLongLongValue());
        return true;
    } else if constexpr (std::is_integral_v<M>) {
        if (!value.isNumber()) return false;
        member = static_cast<M>(value.number()->longLongValue());
        return true;
    } else if constexpr (std::is_floating_point_v<M>) {
        if (!value.isNumber()) return false;
        member = static_cast<M>(value.number()->doubleValue());
        return true;
    } else if constexpr (std::is_same_v<M, Value>) {
        member = value;
        return true;
    } else if constexpr (RMIsOptional<M>::value) {
        if (value.isNil()) {
            member.reset();
            return true;
        }
        typename RMIsOptional<M>::type inner{};
        if (!rmSet(inner, value)) return false;
        member = std::move(inner);
        return true;
    } else if constexpr (std::is_same_v<M, std::string>) {
        if (value.isNil()) {
            member.clear();
            return true;
        }
        if (!value.isString()) return false;
        member = *value.string();
        return true;
    } else if constexpr (std::is_same_v<M, NSNumber>) {
        if (!value.isNumber()) return false;
        member = *value.number();
        return true;
    } else if constexpr (std::is_same_v<M, Array>) {
        if (!value.isArray()) return false;
        member = *value.array();
        return true;
    } else if constexpr (std::is_same_v<M, Dictionary>) {
        if (!value.isDictionary()) return false;
        member = *value.dictionary();
        return true;
    } else if constexpr (std::is_same_v<M, NSDate>) {
        if (!value.isDate()) return false;
        member = *value.date();
        return true;
    } else if constexpr (std::is_same_v<M, NSData>) {
        if (!value.isData()) return false;
        member = *value.data();
        return true;
    } else if constexpr (RMIsRef<M>::value || RMIsWeak<M>::value) {
        using T =
            std::conditional_t<RMIsRef<M>::value, typename RMIsRef<M>::type, typename RMIsWeak<M>::type>;
        if (value.isNil()) {
            member = {};
            return true;
        }
        auto object = value.objectAs<T>();
        if (!object) return false;
        member = object;
        return true;
    } else if constexpr (RMIsRefVector<M>::value) {
        using T = typename RMIsRefVector<M>::type;
        if (value.isNil()) {
            member.clear();
            return true;
        }
        if (!value.isArray()) return false;
        M elements;
        for (const Value& element : *value.array()) {
            if (auto object = element.objectAs<T>()) elements.push_back(std::move(object));
        }
        member = std::move(elements);
        return true;
    } else {
        return false;
    }
}

template <class C, class M, class Owner>
RMPropertyDecl rmMemberProperty(const char* name, M Owner::*member, std::string code = rmTypeCodeFor<M>()) {
    static_assert(std::is_base_of_v<Owner, C>, "RM_PROPERTY: member of another class");
    RMPropertyDecl declaration;
    declaration.name = name;
    declaration.attributes = "T" + code + ",N,V_" + name;
    declaration.get = [member](const NSObject& object) -> Value {
        const auto* record = dynamic_cast<const C*>(&object);
        return record ? rmGet(record->*member) : Value();
    };
    declaration.set = [member](NSObject& object, const Value& value) -> bool {
        auto* record = dynamic_cast<C*>(&object);
        return record && rmSet(record->*member, value);
    };
    return declaration;
}

template <class C, class Getter, class Setter>
RMPropertyDecl rmCustomProperty(std::string name, std::string code, Getter getter, Setter setter) {
    RMPropertyDecl declaration;
    declaration.attributes = "T" + code + ",N,V_" + name;
    declaration.name = std::move(name);
    if constexpr (!std::is_same_v<Getter, std::nullptr_t>) {
        declaration.get = [getter](const NSObject& object) -> Value {
            const auto* record = dynamic_cast<const C*>(&object);
            return record ? Value(getter(*record)) : Value();
        };
    }
    if constexpr (!std::is_same_v<Setter, std::nullptr_t>) {
        declaration.set = [setter](NSObject& object, const Value& value) -> bool {
            auto* record = dynamic_cast<C*>(&object);
            return record && setter(*record, value);
        };
    }
    return declaration;
}

template <class T>
RMClassHooks rmHooksOf() {
    RMClassHooks hooks;
    if constexpr (requires { T::allowedPropertyNames(); })
        hooks.allowedPropertyNames = [] { return T::allowedPropertyNames(); };
    if constexpr (requires { T::ignoredPropertyNames(); })
        hooks.ignoredPropertyNames = [] { return T::ignoredPropertyNames(); };
    if constexpr (requires { T::allowedCodingPropertyNames(); })
        hooks.allowedCodingPropertyNames = [] { return T::allowedCodingPropertyNames(); };
    if constexpr (requires { T::ignoredCodingPropertyNames(); })
        hooks.ignoredCodingPropertyNames = [] { return T::ignoredCodingPropertyNames(); };
    if constexpr (requires { T::replacedKeyFromPropertyName(); })
        hooks.replacedKeyFromPropertyName = [] { return Dictionary(T::replacedKeyFromPropertyName()); };
    if constexpr (requires(const std::string& name) { T::replacedKeyFromPropertyName121(name); })
        hooks.replacedKeyFromPropertyName121 = [](const std::string& name) -> std::optional<std::string> {
            return T::replacedKeyFromPropertyName121(name);
        };
    if constexpr (requires { T::objectClassInArray(); })
        hooks.objectClassInArray = [] { return Dictionary(T::objectClassInArray()); };
    return hooks;
}

// Platform classes a record may name as its superclass besides NSObject.
template <class T>
struct RMPlatformSuperclass {
    static constexpr const char* name = nullptr;
};
template <>
struct RMPlatformSuperclass<NSManagedObject> {
    static constexpr const char* name = "NSManagedObject";
};

template <class T>
const RMClass* rmRegisterRecord(std::vector<RMPropertyDecl> properties) {
    using Super = typename T::RMSuperclass;
    RMClassDefinition definition;
    definition.name = T::kRMClassName;
    if constexpr (rmIsRecord<Super>) {
        Super::rmClass();  // registers the superclass first (and links its file in)
        definition.superclassName = Super::kRMClassName;
    } else if constexpr (RMPlatformSuperclass<Super>::name != nullptr) {
        // A platform class that records may extend (managed objects): known to the registry by
        // name, with no factory of its own.
        definition.superclassName = RMPlatformSuperclass<Super>::name;
        if (!RMClass::classNamed(definition.superclassName)) {
            RMClassDefinition platform;
            platform.name = definition.superclassName;
            RMClass::registerClass(std::move(platform));
        }
    } else {
        static_assert(std::is_same_v<Super, NSObject>, "RM_RECORD: the superclass is NSObject or a record");
        definition.superclassName = "NSObject";
    }
    if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>) {
        definition.factory = [] { return Ref<NSObject>(make<T>()); };
    }
    definition.properties = std::move(properties);
    definition.hooks = rmHooksOf<T>();
    return RMClass::registerClass(std::move(definition));
}

template <class T>
bool rmRegisterCoding() {
    static_assert(std::is_default_constructible_v<T>, "RM_CODING: the record needs a default constructor");
    std::string superclassName;
    if constexpr (rmIsRecord<typename T::RMSuperclass>) superclassName = T::RMSuperclass::kRMClassName;
    NSCodingRegistry::registerClass(
        T::kRMClassName,
        [](const NSObject& object, NSCoder& coder) { NSObject_RMCoding::encode(object, coder); },
        [](NSCoder& coder) -> Ref<NSObject> {
            auto object = make<T>();
            NSObject_RMCoding::decode(*object, coder);
            return object;
        },
        false, superclassName);
    return true;
}

}  // namespace detail
