#include "data/NSManagedObject+DataImport.h"

#include <atomic>
#include <unordered_map>
#include <unordered_set>

#include "data/DataRecord.h"
#include "data/NSManagedObject+DataRecord.h"
#include "data/NSManagedObjectContext+DataRecord.h"
#include "foundation/NSDateFormatter.h"
#include "foundation/NSException.h"
#include "foundation/NSLocale.h"
#include "foundation/NSNotificationCenter.h"
#include "foundation/NSPredicateNode.h"
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

std::optional<std::string> userInfoString(const Dictionary& info, std::string_view key) {
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

// The identifying values of an array import that the store holds no object for, found with a
// few store queries before the first document, so that those documents look only through the
// pending changes of their context and its ancestors instead of querying the store once each.
// The import thus sees the store as it was when it began, with every change of its own context
// chain on top (as if it had run before any concurrent save). A save that reaches the store
// while the import runs (a hook saving the chain) ends the shortcut: from then on every lookup
// reads the store again.
class AbsentFromStore {
  public:
    AbsentFromStore(const Ref<NSEntityDescription>& entity, const Ref<NSAttributeDescription>& attribute,
                    const Array& documents, const Ref<NSManagedObjectContext>& context)
        : entity_(entity), attribute_(attribute) {
        if (!entity_ || !attribute_ || !context) return;
        kind_ = kindOf(attribute_->attributeType());
        auto coordinator = context->persistentStoreCoordinator();
        if (kind_ == Kind::None || !coordinator) return;
        std::vector<Value> candidates;
        candidates.reserve(documents.count());
        probed_.reserve(documents.count());
        for (const Value& document : documents) {
            Value value = NSObject_DataRecord_DataImport::DR_valueForAttribute(document, attribute_);
            if (eligible(value) && probed_.insert(key(value)).second) candidates.push_back(value);
        }
        // Listening before the store is read: a save landing between the queries and the first
        // document would otherwise go unseen and its objects be inserted again.
        auto stale = storeChanged_;
        observer_ = NSNotificationCenter::defaultCenter()->addObserverForName(
            std::string(NSManagedObjectContextDidSaveNotification), nullptr, nullptr,
            [stale](const Ref<NSNotification>& notification) {
                auto saver = std::dynamic_pointer_cast<NSManagedObjectContext>(notification->object());
                if (!saver || !saver->parentContext()) stale->store(true);
            });
        // A context of its own sees the store alone, without the pending changes of the chain.
        auto probe = make<NSManagedObjectContext>(NSConfinementConcurrencyType);
        probe->setPersistentStoreCoordinator(coordinator);
        constexpr std::size_t kChunk = 500;
        for (std::size_t first = 0; first < candidates.size(); first += kChunk) {
            std::size_t last = std::min(candidates.size(), first + kChunk);
            auto request = make<NSFetchRequest>();
            request->setEntity(entity_);
            request->setPredicate(NSPredicate::predicateWithFormatArgs(
                "%K IN %@",
                {Value(attribute_->name()),
                 Value(Array(std::vector<Value>(candidates.begin() + static_cast<long>(first),
                                                candidates.begin() + static_cast<long>(last))))}));
            request->setResultType(NSDictionaryResultType);
            request->setPropertiesToFetch({Value(attribute_->name())});
            Ref<NSError> error;
            auto rows = probe->executeFetchRequest(request, &error);
            if (!rows) return;
            for (const Value& row : *rows) {
                const Value& stored = row[attribute_->name()];
                if (stored.isSomething()) present_.insert(key(stored));
            }
        }
        ready_ = true;
    }

    ~AbsentFromStore() {
        if (observer_) NSNotificationCenter::defaultCenter()->removeObserver(observer_.get());
    }
    AbsentFromStore(const AbsentFromStore&) = delete;
    AbsentFromStore& operator=(const AbsentFromStore&) = delete;

    const Ref<NSEntityDescription>& entity() const { return entity_; }
    const Ref<NSAttributeDescription>& attribute() const { return attribute_; }

    // The first object with the identifying value among the pending changes of the context and
    // its ancestors. One request serves every document: its predicate "attribute == value" is
    // this import's own, never handed out, and takes each document's value in turn.
    Ref<NSManagedObject> findPending(const Value& value, const Ref<NSManagedObjectContext>& context) {
        if (!pending_) {
            lookupNode_ = std::make_shared<detail::PredicateNode>();
            lookupNode_->kind = detail::PredicateNode::Kind::Compare;
            lookupNode_->op = detail::Operator::Equal;
            lookupNode_->lhs.kind = detail::Operand::Kind::KeyPath;
            lookupNode_->lhs.path = {attribute_->name()};
            lookupNode_->rhs.kind = detail::Operand::Kind::Constant;
            pending_ = make<NSFetchRequest>();
            pending_->setEntity(entity_);
            pending_->setPredicate(make<NSPredicate>(lookupNode_, attribute_->name() + " == %@"));
            pending_->setFetchLimit(1);
            pending_->setAffectedStores(std::vector<Ref<NSPersistentStore>>());
        }
        lookupNode_->rhs.constant = value;
        Ref<NSError> error;
        auto result = context->executeFetchRequest(pending_, &error);
        lookupNode_->rhs.constant = Value();
        if (!result) {
            DataRecord::handleErrors(error);
            return nullptr;
        }
        return result->empty() ? nullptr : (*result)[0].objectAs<NSManagedObject>();
    }

    // Whether the store held no object with this value when the import began, and still
    // answers for it.
    bool covers(const Ref<NSEntityDescription>& entity, const Ref<NSAttributeDescription>& attribute,
                const Value& value) const {
        if (!ready_ || storeChanged_->load() || entity != entity_ || attribute != attribute_ ||
            !eligible(value))
            return false;
        Value k = key(value);
        return probed_.count(k) && !present_.count(k);
    }

  private:
    enum class Kind { None, Number, Text };

    static Kind kindOf(NSAttributeType type) {
        if (NSAttributeTypeIsNumeric(type)) return Kind::Number;
        return type == NSStringAttributeType ? Kind::Text : Kind::None;
    }
    // Values the store compares as the attribute's own kind; the others take the usual road.
    bool eligible(const Value& value) const {
        return (kind_ == Kind::Number && value.isNumber() && !value.number()->isBoolean()) ||
               (kind_ == Kind::Text && value.isString());
    }
    // Numbers the store finds equal are equal as doubles; texts compare by their bytes.
    static Value key(const Value& value) { return value.isNumber() ? Value(value.doubleValue()) : value; }

    struct Hash {
        std::size_t operator()(const Value& v) const { return v.hash(); }
    };
    Ref<NSEntityDescription> entity_;
    Ref<NSAttributeDescription> attribute_;
    Kind kind_ = Kind::None;
    bool ready_ = false;
    std::unordered_set<Value, Hash> probed_, present_;
    std::shared_ptr<std::atomic<bool>> storeChanged_ = std::make_shared<std::atomic<bool>>(false);
    Ref<NSObject> observer_;
    std::shared_ptr<detail::PredicateNode> lookupNode_;
    Ref<NSFetchRequest> pending_;
};

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
    // The first user-perceived character, whatever its script or plane (a letter with its
    // combining marks, a pair of UTF-16 units), title-cased; the rest as it was.
    NSRange first = NSString::rangeOfComposedCharacterSequenceAtIndex(text, 0);
    if (first.location == NSNotFound || first.length == 0) return text;
    return NSString::capitalizedString(NSString::substringWithRange(text, first)) +
           NSString::substringFromIndex(text, first.location + first.length);
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

namespace {

// A document's value as the attribute takes it (nil for JSON null).
Value convertForAttribute(const NSAttributeDescription* attribute, Value value) {
    if (!attribute) return value.isNull() ? Value() : value;
    const Dictionary& info = attribute->userInfo();
    if (auto className = userInfoString(info, kAttributeValueClassName)) {
        const std::string suffix = "Color";
        if (className->size() >= suffix.size() &&
            className->compare(className->size() - suffix.size(), suffix.size(), suffix) == 0) {
            auto colour = value.isString() ? DRColorFromString(*value.string()) : nullptr;
            value = colour ? Value(colour) : Value();
        }
    } else if (NSAttributeTypeIsNumeric(attribute->attributeType())) {
        if (value.isSomething() && !value.isNumber()) value = DRNumberFromString(value.description());
    } else {
        switch (attribute->attributeType()) {
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

}  // namespace

Value DR_valueForKeyPath(const Ref<NSAttributeDescription>& attribute, const std::string& keyPath,
                         const Value& document) {
    return convertForAttribute(attribute.get(),
                               NSObject_DataRecord_DataImport::DR_valueForKeyPath(document, keyPath));
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

namespace {

// The value at a "."-separated key path through dictionaries, in place; nullptr when there is
// none. Runs for every attribute of every imported document.
const Value* valueAtKeyPath(const Value& document, std::string_view keyPath) {
    const Value* current = &document;
    std::size_t start = 0;
    while (true) {
        if (!current->isDictionary()) return nullptr;
        std::size_t dot = keyPath.find('.', start);
        std::string_view key =
            keyPath.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        const Value* next = current->dictionary()->find(key);
        if (!next || dot == std::string_view::npos) return next;
        current = next;
        start = dot + 1;
    }
}

// The key path of the attribute's value in the document (its mapped key path, else its name,
// then the numbered alternatives in turn) and the value there; nullopt when none holds one.
std::optional<std::string_view>
findAttributeValue(const Value& document, const NSAttributeDescription* attribute, const Value*& value) {
    value = nullptr;
    if (!attribute || document.isString() || document.isNumber()) return std::nullopt;
    const Dictionary& info = attribute->userInfo();
    const Value& mapped = info[kMappedKeyName];
    std::string_view keyPath = mapped.isString() ? std::string_view(*mapped.string()) : attribute->name();
    value = valueAtKeyPath(document, keyPath);
    if (value && !value->isNil()) return keyPath;
    for (unsigned long n = 1; n <= 9; ++n) {
        const Value& alternative = info[std::string(kMappedKeyName) + "." + std::to_string(n)];
        if (!alternative.isString()) break;
        value = valueAtKeyPath(document, *alternative.string());
        if (value && !value->isNil()) return std::string_view(*alternative.string());
    }
    value = nullptr;
    return std::nullopt;
}

}  // namespace

Value DR_valueForKeyPath(const Value& document, const std::string& keyPath) {
    const Value* found = valueAtKeyPath(document, keyPath);
    return found ? *found : Value();
}

std::optional<std::string> DR_lookupKeyForAttribute(const Value& document,
                                                    const Ref<NSAttributeDescription>& attribute) {
    const Value* value;
    auto keyPath = findAttributeValue(document, attribute.get(), value);
    return keyPath ? std::optional<std::string>(std::string(*keyPath)) : std::nullopt;
}

Value DR_valueForAttribute(const Value& document, const Ref<NSAttributeDescription>& attribute) {
    const Value* value;
    return findAttributeValue(document, attribute.get(), value) ? *value : Value();
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

namespace {

// One document on the context's queue.
Ref<NSManagedObject> importHere(const NSManagedObjectClass* cls, const Value& document,
                                const Ref<NSManagedObjectContext>& context, AbsentFromStore* absent) {
    // An array import found the entity and its identifying attribute once for all documents.
    auto entity =
        absent ? absent->entity() : NSManagedObject_DataRecord::DR_entityDescriptionInContext(cls, context);
    if (!entity) {
        detail::drLog(DataRecordLogError, "Unable to find entity for type '%@'",
                      NSManagedObject_DataRecord::DR_entityName(cls));
        return nullptr;
    }
    auto primary = absent ? absent->attribute()
                          : NSEntityDescription_DataRecord_DataImport::DR_primaryAttributeToRelateBy(entity);
    Ref<NSManagedObject> object;
    if (primary) {
        Value value = NSObject_DataRecord_DataImport::DR_valueForAttribute(document, primary);
        if (absent && absent->covers(entity, primary, value)) {
            object = absent->findPending(value, context);
        } else {
            object =
                NSManagedObject_DataFinders::DR_findFirstByAttribute(cls, primary->name(), value, context);
        }
    }
    if (!object) object = NSManagedObject_DataRecord::DR_createEntityInContext(cls, context, entity);
    if (object) DR_importValuesForKeysWithObject(object, document);
    return object;
}

Ref<NSManagedObject> importOne(const NSManagedObjectClass* cls, const Value& document,
                               const Ref<NSManagedObjectContext>& context, AbsentFromStore* absent) {
    if (!cls || !context) return nullptr;
    struct Frame {
        const NSManagedObjectClass* cls;
        const Value& document;
        const Ref<NSManagedObjectContext>& context;
        AbsentFromStore* absent;
        Ref<NSManagedObject> object;
    } frame{cls, document, context, absent, nullptr};
    // The block holds one reference, small enough to need no allocation per document.
    context->performBlockAndWait(
        [&frame] { frame.object = importHere(frame.cls, frame.document, frame.context, frame.absent); });
    return std::move(frame.object);
}

}  // namespace

Ref<NSManagedObject> DR_importFromObject(const NSManagedObjectClass* cls, const Value& document,
                                         const Ref<NSManagedObjectContext>& context) {
    return importOne(cls, document, context, nullptr);
}

Ref<NSManagedObject> DR_importFromObject(const NSManagedObjectClass* cls, const Value& document) {
    return DR_importFromObject(cls, document,
                               NSManagedObjectContext_DataThreading::DR_contextForCurrentThread());
}

Array DR_importFromArray(const NSManagedObjectClass* cls, const Value& documents,
                         const Ref<NSManagedObjectContext>& context) {
    Array imported = Array::mutableArray();
    const Array* list = documents.array();
    if (!list) return imported;
    std::unique_ptr<AbsentFromStore> absent;
    if (cls && context && list->count() > 1) {
        context->performBlockAndWait([&] {
            auto entity = NSManagedObject_DataRecord::DR_entityDescriptionInContext(cls, context);
            auto primary = NSEntityDescription_DataRecord_DataImport::DR_primaryAttributeToRelateBy(entity);
            if (entity && primary)
                absent = std::make_unique<AbsentFromStore>(entity, primary, *list, context);
        });
    }
    for (const Value& document : *list) imported.addObject(importOne(cls, document, context, absent.get()));
    return imported;
}

Array DR_importFromArray(const NSManagedObjectClass* cls, const Value& documents) {
    return DR_importFromArray(cls, documents,
                              NSManagedObjectContext_DataThreading::DR_contextForCurrentThread());
}

bool DR_importValuesForKeysWithObject(const Ref<NSManagedObject>& object, const Value& document) {
    // Without relationships the block would never be called.
    if (object && object->entity() && object->entity()->relationshipsByName().empty())
        return DR_performDataImportFromObject(object, document, nullptr);
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

namespace {
// "import<Key>:" for a key, made once per key and thread: an import asks for it for every
// attribute of every document. Selectors stay for the thread's life, so a reference to one stays
// good whatever a hook imports meanwhile; keys come from models, and past 4096 of them a thread
// makes each further selector anew (nullptr here).
const std::string* importSelector(const std::string& key) {
    thread_local std::unordered_map<std::string, std::string> selectors;
    auto found = selectors.find(key);
    if (found != selectors.end()) return &found->second;
    if (selectors.size() >= 4096) return nullptr;
    return &selectors.emplace(key, "import" + DRCapitalizeFirstLetter(key) + ":").first->second;
}
}  // namespace

bool DR_importValue(const Ref<NSManagedObject>& object, const Value& value, const std::string& key) {
    if (!object) return false;
    std::string made;
    const std::string* found = importSelector(key);
    if (!found) made = "import" + DRCapitalizeFirstLetter(key) + ":";
    const std::string& selector = found ? *found : made;
    if (!object->respondsToSelector(selector)) return false;
    Value answer = object->performSelector(selector, value);
    // A hook without a result counts as having handled the key.
    return !answer.isSomething() || answer.boolValue();
}

void DR_setAttributes(const Ref<NSManagedObject>& object,
                      const NSDescriptionMap<NSAttributeDescription>& attributes, const Value& document) {
    for (const auto& [name, attribute] : attributes) {
        // The value found while looking for its key path, read once.
        const Value* found;
        Value value;
        if (!NSObject_DataRecord_DataImport::findAttributeValue(document, attribute.get(), found)) {
            if (!attribute->userInfo()[kUseDefault].boolValue()) continue;
            value = attribute->defaultValue();
        } else {
            value =
                NSAttributeDescription_DataRecord_DataImport::convertForAttribute(attribute.get(), *found);
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
