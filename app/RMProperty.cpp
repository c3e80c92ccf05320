#include "app/RMProperty.h"

#include <unordered_map>

Ref<RMProperty> RMProperty::cachedPropertyWithProperty(const RMPropertyDecl* property) {
    if (!property) return nullptr;
    static auto* cache = new std::unordered_map<const RMPropertyDecl*, Ref<RMProperty>>();
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    auto it = cache->find(property);
    if (it != cache->end()) return it->second;
    auto descriptor = make<RMProperty>();
    descriptor->setProperty(property);
    cache->emplace(property, descriptor);
    return descriptor;
}

void RMProperty::setProperty(const RMPropertyDecl* property) {
    property_ = property;
    name_ = property ? property->name : std::string();
    std::string code;
    if (property && property->attributes.size() > 1) {
        std::size_t comma = property->attributes.find(',');
        std::size_t end = comma == std::string::npos ? property->attributes.size() : comma;
        if (end > 1) code = property->attributes.substr(1, end - 1);
    }
    type_ = RMPropertyType::cachedTypeWithCode(code);
}

Value RMProperty::valueForObject(const NSObject& object) const {
    if (!type_ || type_->isKVCDisabled()) return Value::null();
    if (!property_ || !property_->get) return Value::null();
    return property_->get(object);
}

void RMProperty::setValue(const Value& value, NSObject& object) const {
    if (value.isNil() || !type_ || type_->isKVCDisabled()) return;
    if (!property_ || !property_->set) return;
    property_->set(object, value);
}

void RMProperty::setOriginKey(const std::string& key, const RMClass* cls) {
    if (key.empty()) return;
    setPorpertyKeys(detail::rmParsedKeyPath(key), cls);
}

void RMProperty::setPorpertyKeys(const RMPropertyKeyPath& keys, const RMClass* cls) {
    if (!keys || keys->empty() || !cls) return;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    propertyKeysDict_[cls->name()] = keys;
}

RMPropertyKeyPath RMProperty::propertyKeysFromClass(const RMClass* cls) const {
    if (!cls) return nullptr;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    auto it = propertyKeysDict_.find(cls->name());
    return it == propertyKeysDict_.end() ? nullptr : it->second;
}

void RMProperty::setObjectClassInArray(const RMClass* elementClass, const RMClass* cls) {
    if (!elementClass || !cls) return;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    objectClassInArrayDict_[cls->name()] = elementClass;
}

const RMClass* RMProperty::objectClassInArrayFromClass(const RMClass* cls) const {
    if (!cls) return nullptr;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    auto it = objectClassInArrayDict_.find(cls->name());
    return it == objectClassInArrayDict_.end() ? nullptr : it->second;
}

void RMProperty::forgetClass(const RMClass* cls) {
    if (!cls) return;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    propertyKeysDict_.erase(cls->name());
    objectClassInArrayDict_.erase(cls->name());
}
