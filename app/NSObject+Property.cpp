#include "app/NSObject+Property.h"

#include <unordered_map>

#include "app/NSObject+RMClass.h"
#include "app/RMKeyValue.h"

namespace {

std::unordered_map<std::string, RMPropertyList>& propertiesCache() {
    static auto* cache = new std::unordered_map<std::string, RMPropertyList>();
    return *cache;
}

}  // namespace

namespace detail {

void rmClearPropertiesCache() {
    std::lock_guard<std::recursive_mutex> guard(rmLock());
    propertiesCache().clear();
}

const RMClass* rmClassFromValue(const Value& value) {
    if (const std::string* name = value.string()) return RMClass::classNamed(*name);
    if (auto cls = value.objectAs<RMClass>()) return cls.get();
    return nullptr;
}

}  // namespace detail

namespace NSObject_Property {

RMPropertyList properties(const RMClass* cls) {
    static const RMPropertyList empty = std::make_shared<const std::vector<Ref<RMProperty>>>();
    if (!cls) return empty;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    auto& cache = propertiesCache();
    auto it = cache.find(cls->name());
    if (it != cache.end()) return it->second;

    std::vector<Ref<RMProperty>> list;
    NSObject_RMClass::enumerateClasses(cls, [&](const RMClass* declaring, bool&) {
        for (const RMPropertyDecl& declaration : declaring->declaredProperties()) {
            Ref<RMProperty> property = RMProperty::cachedPropertyWithProperty(&declaration);
            property->setSrcClass(declaring);
            property->forgetClass(cls);
            if (auto key = propertyKey(cls, property->name())) property->setOriginKey(*key, cls);
            property->setObjectClassInArray(propertyObjectClassInArray(cls, property->name()), cls);
            list.push_back(std::move(property));
        }
    });
    auto result = std::make_shared<const std::vector<Ref<RMProperty>>>(std::move(list));
    cache[cls->name()] = result;
    return result;
}

void enumerateProperties(const RMClass* cls, const PropertyBlock& block) {
    if (!block) return;
    RMPropertyList list = properties(cls);
    bool stop = false;
    for (const auto& property : *list) {
        block(property, stop);
        if (stop) return;
    }
}

std::optional<std::string> propertyKey(const RMClass* cls, const std::string& propertyName) {
    if (propertyName.empty()) return std::nullopt;
    if (!cls) return propertyName;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());

    if (const auto& hook = cls->hooks().replacedKeyFromPropertyName121) {
        if (auto key = hook(propertyName); key && !key->empty()) return key;
    }
    std::optional<std::string> found;
    NSObject_RMClass::enumerateAllClasses(cls, [&](const RMClass* c, bool& stop) {
        if (const auto& block = c->attached().replacedKeyBlock) {
            if (auto key = block(propertyName); key && !key->empty()) {
                found = key;
                stop = true;
            }
        }
    });
    if (found) return found;
    if (const auto& hook = cls->hooks().replacedKeyFromPropertyName) {
        Dictionary map = hook();
        if (const std::string* key = map.objectForKey(propertyName).string()) return *key;
    }
    NSObject_RMClass::enumerateAllClasses(cls, [&](const RMClass* c, bool& stop) {
        if (const auto& map = c->attached().replacedKeyMap) {
            if (const std::string* key = map->objectForKey(propertyName).string()) {
                found = *key;
                stop = true;
            }
        }
    });
    if (found) return found;
    return propertyName;
}

const RMClass* propertyObjectClassInArray(const RMClass* cls, const std::string& propertyName) {
    if (!cls || propertyName.empty()) return nullptr;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    Value entry;
    if (const auto& hook = cls->hooks().objectClassInArray) {
        entry = hook().objectForKey(propertyName);
    } else {
        NSObject_RMClass::enumerateAllClasses(cls, [&](const RMClass* c, bool& stop) {
            if (const auto& map = c->attached().objectClassInArrayMap) {
                if (const Value* value = map->find(propertyName)) {
                    entry = *value;
                    stop = true;
                }
            }
        });
    }
    return detail::rmClassFromValue(entry);
}

void setupReplacedKeyFromPropertyName(const RMClass* cls, const DictionaryBlock& block) {
    if (!cls) return;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    if (block) {
        cls->attached().replacedKeyMap = block();
    } else {
        cls->attached().replacedKeyMap.reset();
    }
    propertiesCache().clear();
}

void setupObjectClassInArray(const RMClass* cls, const DictionaryBlock& block) {
    if (!cls) return;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    if (block) {
        cls->attached().objectClassInArrayMap = block();
    } else {
        cls->attached().objectClassInArrayMap.reset();
    }
    propertiesCache().clear();
}

void setupReplacedKeyFromPropertyName121(const RMClass* cls, RMClass::ReplacedKeyBlock block) {
    if (!cls) return;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    cls->attached().replacedKeyBlock = std::move(block);
    propertiesCache().clear();
}

void setupNewValueFromOldValue(const RMClass* cls, RMClass::NewValueBlock block) {
    if (!cls) return;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    cls->attached().newValueBlock = std::move(block);
}

Value getNewValueFromObject(const RMClass* cls, const Ref<NSObject>& object, const Value& oldValue,
                            const RMProperty& property) {
    if (auto hooks = std::dynamic_pointer_cast<RMKeyValue>(object)) {
        if (auto replacement = hooks->newValueFromOldValue(oldValue, property)) return *replacement;
    }
    RMClass::NewValueBlock block;
    {
        std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
        NSObject_RMClass::enumerateAllClasses(cls, [&](const RMClass* c, bool& stop) {
            if (c->attached().newValueBlock) {
                block = c->attached().newValueBlock;
                stop = true;
            }
        });
    }
    return block ? block(object, oldValue, property) : Value();
}

}  // namespace NSObject_Property
