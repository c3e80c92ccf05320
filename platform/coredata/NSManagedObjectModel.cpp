#include "coredata/NSManagedObjectModel.h"

#include <algorithm>
#include <set>

#include "coredata/NSManagedObject.h"
#include "coredata/NSManagedObjectContext.h"
#include "coredata/NSPersistentStoreCoordinator.h"
#include "foundation/NSFileManager.h"
#include "foundation/NSJSONSerialization.h"
#include "foundation/NSString.h"

namespace {

const std::pair<const char*, NSAttributeType> kTypeNames[] = {
    {"integer16", NSInteger16AttributeType},
    {"integer32", NSInteger32AttributeType},
    {"integer64", NSInteger64AttributeType},
    {"decimal", NSDecimalAttributeType},
    {"double", NSDoubleAttributeType},
    {"float", NSFloatAttributeType},
    {"string", NSStringAttributeType},
    {"boolean", NSBooleanAttributeType},
    {"date", NSDateAttributeType},
    {"binary", NSBinaryDataAttributeType},
    {"transformable", NSTransformableAttributeType},
};

const std::pair<const char*, NSDeleteRule> kDeleteRules[] = {
    {"noAction", NSNoActionDeleteRule},
    {"nullify", NSNullifyDeleteRule},
    {"cascade", NSCascadeDeleteRule},
    {"deny", NSDenyDeleteRule},
};

// Model files are small; anything this large is not one.
constexpr std::size_t kMaxEntities = 10000;
constexpr std::size_t kMaxProperties = 10000;

Ref<NSError> corrupt(const std::string& reason) {
    return NSError::errorWithDomain(
        NSCocoaErrorDomain, NSFileReadCorruptFileError,
        Dictionary{{NSLocalizedDescriptionKey, "The model file is not valid: " + reason}});
}

bool isName(const Value& v) {
    return v.isString() && !v.string()->empty();
}

// A model's default value, made of the attribute's kind; nil when it does not fit.
Value coerceDefault(NSAttributeType type, const Value& v) {
    if (!v.isSomething()) return Value();
    switch (type) {
        case NSInteger16AttributeType:
            return v.isNumber() ? Value(NSNumber::numberWithShort(static_cast<short>(v.longLongValue())))
                                : Value();
        case NSInteger32AttributeType:
            return v.isNumber() ? Value(NSNumber::numberWithInt(static_cast<int>(v.longLongValue())))
                                : Value();
        case NSInteger64AttributeType:
            return v.isNumber() ? Value(NSNumber::numberWithLongLong(v.longLongValue())) : Value();
        case NSDecimalAttributeType:
        case NSDoubleAttributeType:
            return v.isNumber() ? Value(v.doubleValue()) : Value();
        case NSFloatAttributeType:
            return v.isNumber() ? Value(v.floatValue()) : Value();
        case NSBooleanAttributeType:
            return v.isNumber() ? Value(v.boolValue()) : Value();
        case NSStringAttributeType:
            return v.isString() ? v : Value();
        case NSDateAttributeType:
            // Seconds since 1970.
            return v.isNumber() ? Value(NSDate::dateWithTimeIntervalSince1970(v.doubleValue())) : Value();
        default:
            return v;
    }
}

std::uint64_t fnv1a(const std::string& text) {
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

}  // namespace

std::optional<NSAttributeType> NSAttributeTypeFromName(const std::string& name) {
    for (auto [n, t] : kTypeNames) {
        if (name == n) return t;
    }
    return std::nullopt;
}

std::string NSAttributeTypeName(NSAttributeType type) {
    for (auto [n, t] : kTypeNames) {
        if (type == t) return n;
    }
    return "undefined";
}

std::string NSPropertyDescription::description() const {
    return "(<" + className() + ": " + name_ + ">)";
}

Ref<NSAttributeDescription> NSAttributeDescription::attribute(std::string name, NSAttributeType type,
                                                              Value defaultValue) {
    auto attribute = make<NSAttributeDescription>();
    attribute->name_ = std::move(name);
    attribute->type_ = type;
    attribute->defaultValue_ = coerceDefault(type, defaultValue);
    return attribute;
}

Ref<NSEntityDescription> NSEntityDescription::entityForName(const std::string& name,
                                                            const Ref<NSManagedObjectContext>& context) {
    if (!context) return nullptr;
    auto model = context->managedObjectModel();
    return model ? model->entitiesByName()[name] : nullptr;
}

Ref<NSManagedObject>
NSEntityDescription::insertNewObjectForEntityForName(const std::string& name,
                                                     const Ref<NSManagedObjectContext>& context) {
    auto entity = entityForName(name, context);
    if (!entity) return nullptr;
    return NSManagedObject::insertNewObject(entity, context);
}

Ref<NSManagedObjectModel> NSManagedObjectModel::modelWithContentsOfURL(const Ref<NSURL>& url,
                                                                       Ref<NSError>* error) {
    if (!url || !url->isFileURL()) {
        if (error) *error = NSError::errorWithDomain(NSCocoaErrorDomain, NSFileNoSuchFileError);
        return nullptr;
    }
    auto data = NSData::dataWithContentsOfFile(url->path());
    if (!data) {
        if (error)
            *error = NSError::errorWithDomain(NSCocoaErrorDomain, NSFileNoSuchFileError,
                                              Dictionary{{NSFilePathErrorKey, url->path()}});
        return nullptr;
    }
    return modelWithData(*data, error);
}

Ref<NSManagedObjectModel> NSManagedObjectModel::modelWithData(const NSData& data, Ref<NSError>* error) {
    Ref<NSError> parseError;
    Value document = NSJSONSerialization::JSONObjectWithData(data, 0, &parseError);
    if (!document.isDictionary()) {
        if (error) *error = corrupt("not a JSON object");
        return nullptr;
    }
    return fromDocument(*document.dictionary(), error);
}

Ref<NSManagedObjectModel> NSManagedObjectModel::fromDocument(const Dictionary& document,
                                                             Ref<NSError>* error) {
    auto fail = [&](const std::string& reason) -> Ref<NSManagedObjectModel> {
        if (error) *error = corrupt(reason);
        return nullptr;
    };
    const Value& entities = document["entities"];
    if (!entities.isArray()) return fail("\"entities\" is not an array");
    if (entities.array()->count() > kMaxEntities) return fail("too many entities");

    auto model = make<NSManagedObjectModel>();
    model->document_ = document;
    // Relationship ends are linked once every entity exists.
    struct Pending {
        Ref<NSRelationshipDescription> relationship;
        std::string destination, inverse;
    };
    std::vector<Pending> pending;

    for (const Value& e : *entities.array()) {
        if (!e.isDictionary()) return fail("an entity is not an object");
        if (!isName(e["name"])) return fail("an entity has no name");
        auto entity = make<NSEntityDescription>();
        entity->name_ = *e["name"].string();
        if (model->entitiesByName_[entity->name_])
            return fail("entity " + entity->name_ + " is defined twice");
        const Value& cls = e["representedClassName"];
        if (cls.isSomething() && !isName(cls)) return fail("entity " + entity->name_ + ": bad class name");
        if (isName(cls)) entity->className_ = *cls.string();
        const Value& info = e["userInfo"];
        if (info.isSomething() && !info.isDictionary())
            return fail("entity " + entity->name_ + ": bad userInfo");
        if (info.isDictionary()) entity->userInfo_ = info.dictionary()->copy();
        entity->model_ = model;
        entity->index_ = model->entities_.size();

        const Value& attributes = e["attributes"];
        const Value& relationships = e["relationships"];
        if (attributes.isSomething() && !attributes.isArray())
            return fail("entity " + entity->name_ + ": \"attributes\" is not an array");
        if (relationships.isSomething() && !relationships.isArray())
            return fail("entity " + entity->name_ + ": \"relationships\" is not an array");
        std::size_t total = (attributes.isArray() ? attributes.array()->count() : 0) +
                            (relationships.isArray() ? relationships.array()->count() : 0);
        if (total > kMaxProperties) return fail("entity " + entity->name_ + ": too many properties");

        auto addCommon = [&](NSPropertyDescription& p, const Value& d) -> std::optional<std::string> {
            if (!d.isDictionary()) return "a property is not an object";
            if (!isName(d["name"])) return "a property has no name";
            p.name_ = *d["name"].string();
            if (entity->properties_[p.name_]) return "property " + p.name_ + " is defined twice";
            const Value& pinfo = d["userInfo"];
            if (pinfo.isSomething() && !pinfo.isDictionary()) return "property " + p.name_ + ": bad userInfo";
            if (pinfo.isDictionary()) p.userInfo_ = pinfo.dictionary()->copy();
            const Value& optional = d["optional"];
            if (optional.isSomething() && !optional.isNumber())
                return "property " + p.name_ + ": bad \"optional\"";
            if (optional.isNumber()) p.optional_ = optional.boolValue();
            p.entity_ = entity;
            p.slot_ = entity->slots_.size();
            return std::nullopt;
        };

        if (attributes.isArray()) {
            for (const Value& a : *attributes.array()) {
                auto attribute = make<NSAttributeDescription>();
                if (auto problem = addCommon(*attribute, a))
                    return fail("entity " + entity->name_ + ": " + *problem);
                const Value& type = a["type"];
                auto t = type.isString() ? NSAttributeTypeFromName(*type.string()) : std::nullopt;
                if (!t) return fail("attribute " + attribute->name_ + " has no known type");
                attribute->type_ = *t;
                attribute->defaultValue_ = coerceDefault(*t, a["defaultValue"]);
                entity->attributes_.add(attribute->name_, attribute);
                entity->properties_.add(attribute->name_, attribute);
                entity->slots_.push_back(attribute);
            }
        }
        if (relationships.isArray()) {
            for (const Value& r : *relationships.array()) {
                auto relationship = make<NSRelationshipDescription>();
                if (auto problem = addCommon(*relationship, r))
                    return fail("entity " + entity->name_ + ": " + *problem);
                for (const char* flag : {"toMany", "ordered"}) {
                    const Value& f = r[flag];
                    if (f.isSomething() && !f.isNumber())
                        return fail("relationship " + relationship->name_ + ": bad \"" + flag + "\"");
                }
                relationship->toMany_ = r["toMany"].boolValue();
                relationship->ordered_ = relationship->toMany_ && r["ordered"].boolValue();
                const Value& rule = r["deleteRule"];
                if (rule.isSomething()) {
                    bool known = false;
                    for (auto [n, d] : kDeleteRules) {
                        if (rule.isString() && *rule.string() == n) {
                            relationship->deleteRule_ = d;
                            known = true;
                        }
                    }
                    if (!known) return fail("relationship " + relationship->name_ + ": unknown delete rule");
                }
                const Value& destination = r["destination"];
                const Value& inverse = r["inverse"];
                if (destination.isSomething() && !destination.isString())
                    return fail("relationship " + relationship->name_ + ": bad destination");
                if (inverse.isSomething() && !inverse.isString())
                    return fail("relationship " + relationship->name_ + ": bad inverse");
                pending.push_back({relationship, destination.stringValue(), inverse.stringValue()});
                entity->relationships_.add(relationship->name_, relationship);
                entity->properties_.add(relationship->name_, relationship);
                entity->slots_.push_back(relationship);
            }
        }
        model->entitiesByName_.add(entity->name_, entity);
        model->entities_.push_back(entity);
    }

    for (auto& p : pending) {
        // An unknown destination stays unset: importers report such relationships themselves.
        auto destination = model->entitiesByName_[p.destination];
        p.relationship->destination_ = destination;
        if (!p.inverse.empty()) {
            if (!destination)
                return fail("relationship " + p.relationship->name_ + " has an inverse but no destination");
            auto inverse = destination->relationships_[p.inverse];
            if (!inverse) return fail("relationship " + p.relationship->name_ + ": no inverse " + p.inverse);
            p.relationship->inverse_ = inverse;
        }
    }

    for (auto& entity : model->entities_) {
        std::vector<std::string> parts;
        for (const auto& [name, a] : entity->attributes_)
            parts.push_back("a:" + name + ":" + NSAttributeTypeName(a->type_));
        for (const auto& [name, r] : entity->relationships_) {
            auto d = r->destination_.lock();
            parts.push_back("r:" + name + ":" + (d ? d->name_ : std::string()) + ":" +
                            (r->toMany_ ? "n" : "1") + (r->ordered_ ? "o" : ""));
        }
        std::sort(parts.begin(), parts.end());
        std::string canonical = entity->name_;
        for (const auto& part : parts) canonical += "|" + part;
        std::uint64_t hash = fnv1a(canonical);
        std::uint8_t bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(hash >> (56 - 8 * i));
        entity->versionHash_ = NSData(bytes, 8);
    }
    return model;
}

Ref<NSManagedObjectModel>
NSManagedObjectModel::modelByMergingModels(const std::vector<Ref<NSManagedObjectModel>>& models) {
    Array entities = Array::mutableArray();
    for (const auto& m : models) {
        if (!m) continue;
        const Value& list = m->document_["entities"];
        if (const Array* a = list.array()) entities.addObjectsFromArray(*a);
    }
    Dictionary document = Dictionary::mutableDictionary();
    document.setObject("entities", entities);
    return fromDocument(document, nullptr);
}

Ref<NSManagedObjectModel>
NSManagedObjectModel::mergedModelFromBundles(const std::vector<Ref<NSBundle>>& bundles) {
    std::vector<Ref<NSBundle>> list = bundles;
    if (list.empty()) list.push_back(NSBundle::mainBundle());
    std::vector<Ref<NSManagedObjectModel>> models;
    for (const auto& bundle : list) {
        if (!bundle) continue;
        std::vector<std::string> files;
        auto names = NSFileManager::defaultManager()->contentsOfDirectoryAtPath(bundle->bundlePath());
        for (const auto& name : names ? *names : std::vector<std::string>()) {
            if (NSString::pathExtension(name) == "model") files.push_back(name);
        }
        std::sort(files.begin(), files.end());
        for (const auto& name : files) {
            auto model = modelWithContentsOfURL(NSURL::fileURLWithPath(bundle->bundlePath() + "/" + name));
            if (!model) return nullptr;
            models.push_back(model);
        }
    }
    return modelByMergingModels(models);
}

Dictionary NSManagedObjectModel::entityVersionHashesByName() const {
    Dictionary hashes = Dictionary::mutableDictionary();
    for (const auto& entity : entities_) hashes.setObject(entity->name(), entity->versionHash());
    return hashes;
}

std::string NSManagedObjectModel::description() const {
    std::string text = "(<NSManagedObjectModel: " + std::to_string(entities_.size()) + " entities:";
    for (const auto& e : entities_) text += " " + e->name();
    return text + ">)";
}
