#include "data/NSManagedObject+DataImport.h"

#include "data/DataRecord.h"
#include "data/NSManagedObject+DataRecord.h"
#include "data/NSManagedObjectContext+DataRecord.h"
#include "foundation/NSDateFormatter.h"
#include "foundation/NSException.h"
#include "foundation/NSLocale.h"
#include "foundation/NSScanner.h"
#include "foundation/NSString.h"
#include "foundation/NSTimeZone.h"

namespace {

constexpr char kMappedKeyName[] = "mappedKeyName";
constexpr char kAttributeValueClassName[] = "attributeValueClassName";
constexpr char kDateFormat[] = "dateFormat";
constexpr char kUseDefault[] = "useDefaultValueWhenNotPresent";
constexpr char kRelatedByAttribute[] = "relatedByAttribute";
constexpr char kDefaultDateFormat[] = "yyyy-MM-dd'T'HH:mm:ssz";

std::optional<std::string> userInfoString(const Dictionary& info, const std::string& key) {
    const Value& v = info[key];
    if (v.isString()) return *v.string();
    return std::nullopt;
}

// The first object of an entity whose attribute equals the value (nil matches an unset one).
Ref<NSManagedObject> findFirst(const Ref<NSEntityDescription>& entity, const std::string& attribute,
                               const Value& value, const Ref<NSManagedObjectContext>& context) {
    if (!entity || !context) return nullptr;
    auto request = make<NSFetchRequest>();
    request->setEntity(entity);
    request->setPredicate(NSPredicate::predicateWithFormatArgs("%K = %@", {Value(attribute), value}));
    return NSManagedObject_DataRecord::DR_executeFetchRequestAndReturnFirstObject(request, context);
}

}  // namespace

std::string DRCapitalizeFirstLetter(const std::string& text) {
    return NSString_DataRecord_DataImport::DR_capitalizedFirstCharacterString(text);
}

std::string DRPrimaryKeyNameFromEntityName(const std::string& entityName) {
    std::string name = entityName;
    if (!name.empty() && name[0] >= 'A' && name[0] <= 'Z') name[0] = static_cast<char>(name[0] + 32);
    return name + "ID";
}

std::optional<NSDate> DRDateFromStringWithFormat(const std::string& text, const std::string& format) {
    auto formatter = make<NSDateFormatter>();
    formatter->setTimeZone(NSTimeZone::timeZoneForSecondsFromGMT(0));
    formatter->setLocale(NSLocale::currentLocale());
    formatter->setDateFormat(format);
    return formatter->dateFromString(text);
}

NSDate DRDateFromNumber(double number, bool isMilliseconds) {
    return NSDate::dateWithTimeIntervalSince1970(isMilliseconds ? number / 1000.0 : number);
}

Value DRNumberFromString(const std::string& text) {
    return Value(NSString::doubleValue(text));
}

DRColorComponents DRScanColorComponents(const std::string& text) {
    DRColorComponents result;
    auto open = text.find('(');
    std::string head = open == std::string::npos ? text : text.substr(0, open);
    if (head.rfind("rgba", 0) != 0) return result;
    result.valid = true;
    auto scanner =
        NSScanner::scannerWithString(open == std::string::npos ? std::string() : text.substr(open));
    auto separators = NSScanner::characterSetWithCharactersInString("(,)");
    while (!scanner->isAtEnd() && result.count < 4) {
        scanner->scanCharactersFromSet(separators, nullptr);
        int value = 0;
        if (!scanner->scanInt(&value)) break;
        result.slots[static_cast<std::size_t>(result.count++)] = value;
    }
    return result;
}

Ref<UIColor> DRColorFromString(const std::string& text) {
    auto c = DRScanColorComponents(text);
    if (!c.valid) return nullptr;
    return UIColor::colorWithRed(static_cast<float>(c.slots[0]) / 255.0f,
                                 static_cast<float>(c.slots[1]) / 255.0f,
                                 static_cast<float>(c.slots[2]) / 255.0f, static_cast<float>(c.slots[3]));
}

namespace NSString_DataRecord_DataImport {
std::string DR_capitalizedFirstCharacterString(const std::string& text) {
    if (text.empty()) return text;
    std::string out = text;
    if (out[0] >= 'a' && out[0] <= 'z') out[0] = static_cast<char>(out[0] - 32);
    return out;
}
}  // namespace NSString_DataRecord_DataImport

namespace NSDictionary_Merging {
Dictionary DR_dictionaryByMergingDictionary(const Dictionary& receiver, const Dictionary& other) {
    Dictionary merged = receiver.mutableCopy();
    merged.addEntriesFromDictionary(other);
    return merged;
}
}  // namespace NSDictionary_Merging

namespace NSEntityDescription_DataRecord_DataImport {

Ref<NSAttributeDescription> DR_attributeDescriptionForName(const Ref<NSEntityDescription>& entity,
                                                           const std::string& name) {
    if (!entity) return nullptr;
    for (const auto& [n, attribute] : entity->attributesByName()) {
        if (n == name) return attribute;
    }
    return nullptr;
}

Ref<NSAttributeDescription> DR_primaryAttributeToRelateBy(const Ref<NSEntityDescription>& entity) {
    if (!entity) return nullptr;
    auto name = userInfoString(entity->userInfo(), kRelatedByAttribute);
    return DR_attributeDescriptionForName(entity,
                                          name ? *name : DRPrimaryKeyNameFromEntityName(entity->name()));
}

Ref<NSManagedObject> DR_createInstanceInContext(const Ref<NSEntityDescription>& entity,
                                                const Ref<NSManagedObjectContext>& context) {
    if (!entity) return nullptr;
    auto cls = NSManagedObjectClass::classNamed(entity->managedObjectClassName());
    if (cls && NSManagedObject_DataRecord::DR_entityName(cls) == entity->name()) {
        return NSManagedObject_DataRecord::DR_createEntityInContext(cls, context);
    }
    // A class that names another entity (or none, as the plain managed object does) could not
    // make this one: the entity makes its object itself.
    return NSManagedObject::insertNewObject(entity, context);
}

}  // namespace NSEntityDescription_DataRecord_DataImport

namespace NSAttributeDescription_DataRecord_DataImport {

std::optional<std::string> DR_primaryKey(const Ref<NSAttributeDescription>&) {
    return std::nullopt;
}

Value DR_valueForKeyPath(const Ref<NSAttributeDescription>& attribute, const std::string& keyPath,
                         const Value& document) {
    Value value = NSObject_DataRecord_DataImport::DR_valueForKeyPath(document, keyPath);
    if (!attribute) return value.isNull() ? Value() : value;
    const Dictionary& info = attribute->userInfo();
    if (auto className = userInfoString(info, kAttributeValueClassName)) {
        const std::string suffix = "Color";
        if (className->size() >= suffix.size() &&
            className->compare(className->size() - suffix.size(), suffix.size(), suffix) == 0) {
            auto colour = value.isString() ? DRColorFromString(*value.string()) : nullptr;
            value = colour ? Value(colour) : Value();
        }
    } else {
        switch (attribute->attributeType()) {
            case NSInteger16AttributeType:
            case NSInteger32AttributeType:
            case NSInteger64AttributeType:
            case NSDecimalAttributeType:
            case NSDoubleAttributeType:
            case NSFloatAttributeType:
                if (value.isSomething() && !value.isNumber()) value = DRNumberFromString(value.description());
                break;
            case NSStringAttributeType:
                if (value.isSomething() && !value.isString()) value = Value(value.description());
                break;
            case NSBooleanAttributeType:
                if (value.isSomething() && !value.isNumber()) value = Value(value.boolValue());
                break;
            case NSDateAttributeType: {
                if (!value.isSomething() || value.isDate()) break;
                auto format = userInfoString(info, kDateFormat);
                if (value.isNumber()) {
                    value = DRDateFromNumber(value.doubleValue(), format && *format == "UnixTime");
                } else {
                    auto date = DRDateFromStringWithFormat(value.description(),
                                                           format ? *format : kDefaultDateFormat);
                    value = date ? Value(*date) : Value();
                }
                break;
            }
            default:
                break;
        }
    }
    return value.isNull() ? Value() : value;
}

}  // namespace NSAttributeDescription_DataRecord_DataImport

namespace NSRelationshipDescription_DataRecord_DataImport {
std::string DR_primaryKey(const Ref<NSRelationshipDescription>& relationship) {
    if (!relationship) return std::string();
    if (auto name = userInfoString(relationship->userInfo(), kRelatedByAttribute)) return *name;
    auto destination = relationship->destinationEntity();
    return DRPrimaryKeyNameFromEntityName(destination ? destination->name() : std::string());
}
}  // namespace NSRelationshipDescription_DataRecord_DataImport

namespace NSObject_DataRecord_DataImport {

Value DR_valueForKeyPath(const Value& document, const std::string& keyPath) {
    Value current = document;
    for (const auto& key : NSString::componentsSeparatedByString(keyPath, ".")) {
        if (!current.isDictionary()) return Value();
        Value next = current[key];
        current = std::move(next);
    }
    return current;
}

std::optional<std::string> DR_lookupKeyForAttribute(const Value& document,
                                                    const Ref<NSAttributeDescription>& attribute) {
    if (!attribute || document.isString() || document.isNumber()) return std::nullopt;
    const Dictionary& info = attribute->userInfo();
    auto mapped = userInfoString(info, kMappedKeyName);
    std::string keyPath = mapped ? *mapped : attribute->name();
    if (!DR_valueForKeyPath(document, keyPath).isNil()) return keyPath;
    for (unsigned long n = 1; n <= 9; ++n) {
        auto alternative = userInfoString(info, std::string(kMappedKeyName) + "." + std::to_string(n));
        if (!alternative) return std::nullopt;
        if (!DR_valueForKeyPath(document, *alternative).isNil()) return alternative;
    }
    return std::nullopt;
}

Value DR_valueForAttribute(const Value& document, const Ref<NSAttributeDescription>& attribute) {
    auto key = DR_lookupKeyForAttribute(document, attribute);
    return key ? DR_valueForKeyPath(document, *key) : Value();
}

std::optional<std::string> DR_lookupKeyForRelationship(const Value& document,
                                                       const Ref<NSRelationshipDescription>& relationship) {
    if (!relationship) return std::nullopt;
    auto destination = relationship->destinationEntity();
    if (!destination) {
        detail::drLog(DataRecordLogError, "Unable to find entity for type '%@'", document["type"]);
        return std::nullopt;
    }
    std::string primary = NSRelationshipDescription_DataRecord_DataImport::DR_primaryKey(relationship);
    auto attribute =
        NSEntityDescription_DataRecord_DataImport::DR_attributeDescriptionForName(destination, primary);
    if (auto key = DR_lookupKeyForAttribute(document, attribute)) return key;
    return attribute ? std::optional<std::string>(attribute->name()) : std::nullopt;
}

Value DR_relatedValueForRelationship(const Value& document,
                                     const Ref<NSRelationshipDescription>& relationship) {
    if (document.isString() || document.isNumber()) return document;
    auto key = DR_lookupKeyForRelationship(document, relationship);
    return key ? DR_valueForKeyPath(document, *key) : Value();
}

}  // namespace NSObject_DataRecord_DataImport

namespace NSManagedObject_DataRecord_DataImport {

using NSObject_DataRecord_DataImport::DR_valueForKeyPath;

Ref<NSManagedObject> DR_importFromObject(const NSManagedObjectClass* cls, const Value& document,
                                         const Ref<NSManagedObjectContext>& context) {
    if (!cls || !context) return nullptr;
    Ref<NSManagedObject> object;
    context->performBlockAndWait([&] {
        auto entity = NSManagedObject_DataRecord::DR_entityDescriptionInContext(cls, context);
        if (!entity) {
            detail::drLog(DataRecordLogError, "Unable to find entity for type '%@'",
                          NSManagedObject_DataRecord::DR_entityName(cls));
            return;
        }
        auto primary = NSEntityDescription_DataRecord_DataImport::DR_primaryAttributeToRelateBy(entity);
        if (primary) {
            Value value = NSObject_DataRecord_DataImport::DR_valueForAttribute(document, primary);
            object =
                NSManagedObject_DataFinders::DR_findFirstByAttribute(cls, primary->name(), value, context);
        }
        if (!object) object = NSManagedObject_DataRecord::DR_createEntityInContext(cls, context);
        if (object) DR_importValuesForKeysWithObject(object, document);
    });
    return object;
}

Ref<NSManagedObject> DR_importFromObject(const NSManagedObjectClass* cls, const Value& document) {
    return DR_importFromObject(cls, document,
                               NSManagedObjectContext_DataThreading::DR_contextForCurrentThread());
}

Array DR_importFromArray(const NSManagedObjectClass* cls, const Value& documents,
                         const Ref<NSManagedObjectContext>& context) {
    Array imported = Array::mutableArray();
    if (const Array* list = documents.array()) {
        for (const Value& document : *list) imported.addObject(DR_importFromObject(cls, document, context));
    }
    return imported;
}

Array DR_importFromArray(const NSManagedObjectClass* cls, const Value& documents) {
    return DR_importFromArray(cls, documents,
                              NSManagedObjectContext_DataThreading::DR_contextForCurrentThread());
}

bool DR_importValuesForKeysWithObject(const Ref<NSManagedObject>& object, const Value& document) {
    Weak<NSManagedObject> weak = object;
    return DR_performDataImportFromObject(
        object, document, [weak](const Ref<NSRelationshipDescription>& relationship, const Value& data) {
            auto self = weak.lock();
            if (!self) return;
            auto related = DR_findObjectForRelationship(self, relationship, data);
            if (!related) {
                related = NSEntityDescription_DataRecord_DataImport::DR_createInstanceInContext(
                    relationship->destinationEntity(), self->managedObjectContext());
            }
            if (!related) return;
            if (data.isDictionary()) {
                DR_importValuesForKeysWithObject(related, data);
            } else if (data.isSomething()) {
                std::string key =
                    NSRelationshipDescription_DataRecord_DataImport::DR_primaryKey(relationship);
                if (!DR_importValue(related, data, key)) {
                    try {
                        related->setValueForKey(data, key);
                    } catch (const NSException& exception) {
                        detail::drLog(DataRecordLogWarn,
                                      "Looking up a key for relationship failed while importing: %@\n",
                                      relationship);
                    }
                }
            }
            DR_addObject(self, related, relationship);
        });
}

bool DR_performDataImportFromObject(const Ref<NSManagedObject>& object, const Value& document,
                                    const RelationshipBlock& relationshipBlock) {
    if (!object) return false;
    if (!DR_preImport(object, document)) return false;
    DR_setAttributes(object, object->entity()->attributesByName(), document);
    DR_setRelationships(object, object->entity()->relationshipsByName(), document, relationshipBlock);
    DR_postImport(object, document);
    return true;
}

bool DR_preImport(const Ref<NSManagedObject>& object, const Value& document) {
    if (object->respondsToSelector("shouldImport:")) {
        Value answer = object->performSelector("shouldImport:", document);
        if (answer.isSomething() && !answer.boolValue()) return false;
    }
    if (object->respondsToSelector("willImport:")) object->performSelector("willImport:", document);
    return true;
}

bool DR_postImport(const Ref<NSManagedObject>& object, const Value& document) {
    if (object->respondsToSelector("didImport:")) object->performSelector("didImport:", document);
    return true;
}

bool DR_importValue(const Ref<NSManagedObject>& object, const Value& value, const std::string& key) {
    if (!object) return false;
    std::string selector = "import" + DRCapitalizeFirstLetter(key) + ":";
    if (!object->respondsToSelector(selector)) return false;
    Value answer = object->performSelector(selector, value);
    // A hook without a result counts as having handled the key.
    return !answer.isSomething() || answer.boolValue();
}

void DR_setAttributes(const Ref<NSManagedObject>& object,
                      const NSDescriptionMap<NSAttributeDescription>& attributes, const Value& document) {
    for (const auto& [name, attribute] : attributes) {
        auto keyPath = NSObject_DataRecord_DataImport::DR_lookupKeyForAttribute(document, attribute);
        Value value;
        if (!keyPath) {
            if (!attribute->userInfo()[kUseDefault].boolValue()) continue;
            value = attribute->defaultValue();
        } else {
            value = NSAttributeDescription_DataRecord_DataImport::DR_valueForKeyPath(attribute, *keyPath,
                                                                                     document);
        }
        if (!DR_importValue(object, value, name)) object->setValueForKey(value, name);
    }
}

void DR_setRelationships(const Ref<NSManagedObject>& object,
                         const NSDescriptionMap<NSRelationshipDescription>& relationships,
                         const Value& document, const RelationshipBlock& block) {
    for (const auto& [name, relationship] : relationships) {
        std::string shouldImport = "shouldImport" + DRCapitalizeFirstLetter(name) + ":";
        bool hasHook = object->respondsToSelector(shouldImport);
        auto mapped = userInfoString(relationship->userInfo(), kMappedKeyName);
        std::string keyPath = mapped ? *mapped : name;
        Value data = DR_valueForKeyPath(document, keyPath);
        if (!data.isSomething()) continue;
        if (hasHook) {
            Value answer = object->performSelector(shouldImport, data);
            if (answer.isSomething() && !answer.boolValue()) continue;
        }
        if (DR_importValue(object, document, name)) continue;
        if (!block) continue;
        if (relationship->isToMany() && data.isArray()) {
            for (const Value& element : *data.array()) block(relationship, element);
        } else {
            block(relationship, data);
        }
    }
}

Ref<NSManagedObject> DR_findObjectForRelationship(const Ref<NSManagedObject>& object,
                                                  const Ref<NSRelationshipDescription>& relationship,
                                                  const Value& data) {
    if (!object || !relationship) return nullptr;
    Value identifying =
        data.isDictionary()
            ? NSObject_DataRecord_DataImport::DR_relatedValueForRelationship(data, relationship)
            : data;
    if (!identifying.isSomething()) return nullptr;
    return findFirst(relationship->destinationEntity(),
                     NSRelationshipDescription_DataRecord_DataImport::DR_primaryKey(relationship),
                     identifying, object->managedObjectContext());
}

void DR_addObject(const Ref<NSManagedObject>& object, const Ref<NSManagedObject>& related,
                  const Ref<NSRelationshipDescription>& relationship) {
    if (!object || !related || !relationship) return;
    std::string name = relationship->name();
    std::string selector;
    try {
        if (!relationship->isToMany()) {
            selector = "set" + DRCapitalizeFirstLetter(name) + ":";
            object->performSelector(selector, related);
        } else if (relationship->isOrdered()) {
            selector = "addObject:";
            auto set = object->performSelector(name + "Set").objectAs<NSRelationshipMutableSet>();
            if (!set) NSException::raise(NSInvalidArgumentException, "no ordered set for " + name);
            set->addObject(related);
        } else {
            selector = "add" + DRCapitalizeFirstLetter(name) + "Object:";
            object->performSelector(selector, related);
        }
    } catch (const NSException& exception) {
        detail::drLog(DataRecordLogError, "Adding object for relationship failed: %@\n", relationship);
        detail::drLog(DataRecordLogError, "relatedObject.entity %@", related->entity());
        detail::drLog(DataRecordLogError, "relationshipInfo.destinationEntity %@",
                      relationship->destinationEntity());
        detail::drLog(DataRecordLogError, "Add Relationship Selector: %@", selector);
        detail::drLog(DataRecordLogError, "perform selector error: %@", exception.reason());
    }
}

}  // namespace NSManagedObject_DataRecord_DataImport
