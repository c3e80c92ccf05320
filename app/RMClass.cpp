#include "app/RMClass.h"

#include <unordered_map>

#include "foundation/NSLog.h"

namespace detail {
std::recursive_mutex& rmLock() {
    static std::recursive_mutex lock;
    return lock;
}
}  // namespace detail

namespace {

struct Registry {
    std::mutex lock;
    std::unordered_map<std::string, Ref<RMClass>> byName;

    Registry() {
        // The platform classes the record layer tells apart. Only NSObject can be made: the
        // value classes are never mapped into.
        add("NSObject", "", [] { return make<NSObject>(); });
        add("NSManagedObject", "NSObject");
        add("NSValue", "NSObject");
        add("NSNumber", "NSValue");
        add("NSDecimalNumber", "NSNumber");
        add("NSString", "NSObject");
        add("NSMutableString", "NSString");
        add("NSAttributedString", "NSObject");
        add("NSMutableAttributedString", "NSAttributedString");
        add("NSURL", "NSObject");
        add("NSDate", "NSObject");
        add("NSData", "NSObject");
        add("NSMutableData", "NSData");
        add("NSArray", "NSObject");
        add("NSMutableArray", "NSArray");
        add("NSDictionary", "NSObject");
        add("NSMutableDictionary", "NSDictionary");
        add("NSSet", "NSObject");
        add("NSMutableSet", "NSSet");
        add("NSNull", "NSObject");
    }

    void add(const std::string& name, const std::string& superclassName,
             std::function<Ref<NSObject>()> factory = nullptr) {
        RMClassDefinition definition;
        definition.name = name;
        definition.superclassName = superclassName;
        definition.factory = std::move(factory);
        byName.emplace(name, make<RMClass>(std::move(definition)));
    }
};

Registry& registry() {
    static Registry* instance = new Registry();  // never destroyed: handles outlive static objects
    return *instance;
}

}  // namespace

RMClass::RMClass(RMClassDefinition definition)
    : name_(std::move(definition.name)),
      superclassName_(std::move(definition.superclassName)),
      factory_(std::move(definition.factory)),
      properties_(std::move(definition.properties)),
      hooks_(std::move(definition.hooks)) {}

const RMClass* RMClass::registerClass(RMClassDefinition definition) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.byName.find(definition.name);
    if (it != r.byName.end()) {
        NSLog("RMClass: class %@ is registered already; the later registration is ignored", definition.name);
        return it->second.get();
    }
    std::string name = definition.name;
    auto cls = make<RMClass>(std::move(definition));
    r.byName.emplace(name, cls);
    return cls.get();
}

const RMClass* RMClass::classNamed(std::string_view name) {
    if (name.empty()) return nullptr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.byName.find(std::string(name));
    return it == r.byName.end() ? nullptr : it->second.get();
}

const RMClass* RMClass::classOfObject(const NSObject& object) {
    return classNamed(object.className());
}

const RMClass* RMClass::classOfValue(const Value& value) {
    switch (value.kind()) {
        case Value::Kind::Nil:
            return nullptr;
        case Value::Kind::Null:
            return classNamed("NSNull");
        case Value::Kind::Number:
            return classNamed("NSNumber");
        case Value::Kind::String:
            return classNamed("NSString");
        case Value::Kind::Data:
            return classNamed("NSData");
        case Value::Kind::Date:
            return classNamed("NSDate");
        case Value::Kind::Array:
            return classNamed(value.array()->isMutable() ? "NSMutableArray" : "NSArray");
        case Value::Kind::Dictionary:
            return classNamed(value.dictionary()->isMutable() ? "NSMutableDictionary" : "NSDictionary");
        case Value::Kind::Object:
            return classOfObject(*value.object());
    }
    return nullptr;
}

const RMClass* RMClass::superclass() const {
    if (superclassName_.empty()) return nullptr;
    if (const RMClass* known = superclass_.load(std::memory_order_acquire)) return known;
    const RMClass* found = classNamed(superclassName_);
    if (found) superclass_.store(found, std::memory_order_release);
    return found;
}

bool RMClass::isSubclassOfClass(const RMClass* other) const {
    if (!other) return false;
    // Bounded walk: a registration mistake that makes a loop must not hang the caller.
    const RMClass* cls = this;
    for (int steps = 0; cls && steps < 256; ++steps, cls = cls->superclass()) {
        if (cls == other) return true;
    }
    return false;
}

Ref<NSObject> RMClass::newInstance() const {
    return factory_ ? factory_() : nullptr;
}

Value RMClass::classValue() const {
    return Value(std::const_pointer_cast<NSObject>(self()));
}
