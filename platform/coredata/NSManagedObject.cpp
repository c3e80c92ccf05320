#include "coredata/NSManagedObject.h"

#include <shared_mutex>

#include <algorithm>
#include <map>

#include "coredata/CoreDataErrors.h"
#include "coredata/CoreDataInternals.h"
#include "coredata/NSManagedObjectContext.h"
#include "coredata/NSPersistentStoreCoordinator.h"
#include "foundation/NSException.h"
#include "foundation/NSString.h"

// ----- ids -------------------------------------------------------------------------------------

NSManagedObjectID::NSManagedObjectID(Ref<NSEntityDescription> entity, std::uint64_t serial)
    : entity_(std::move(entity)), serial_(serial) {}

NSManagedObjectID::NSManagedObjectID(Ref<NSEntityDescription> entity, std::uint64_t serial,
                                     const Ref<NSPersistentStore>& store, std::int64_t key)
    : entity_(std::move(entity)), serial_(serial), key_(key), store_(store) {}

Ref<NSPersistentStore> NSManagedObjectID::persistentStore() const {
    // The store is written once, before the key that publishes it; a temporary id has none.
    if (key_.load(std::memory_order_acquire) == 0) return nullptr;
    return store_.lock();
}

void NSManagedObjectID::makePermanent(const Ref<NSPersistentStore>& store, std::int64_t key) {
    if (key_.load(std::memory_order_acquire) != 0) return;
    store_ = store;
    key_.store(key, std::memory_order_release);
}

Ref<NSURL> NSManagedObjectID::URIRepresentation() const {
    std::string entity = entity_ ? entity_->name() : std::string("?");
    if (isTemporaryID())
        return NSURL::URLWithString("x-coredata:///" + entity + "/t" + std::to_string(serial_));
    auto store = persistentStore();
    return NSURL::URLWithString("x-coredata://" + (store ? store->identifier() : std::string()) + "/" +
                                entity + "/p" + std::to_string(referenceKey()));
}

std::string NSManagedObjectID::description() const {
    auto uri = URIRepresentation();
    return "<" + (uri ? uri->absoluteString() : std::string("?")) + ">";
}

// ----- classes ---------------------------------------------------------------------------------

namespace {

std::shared_mutex& classMutex() {
    static std::shared_mutex m;
    return m;
}

std::map<std::string, std::unique_ptr<NSManagedObjectClass>>& classes() {
    static auto* map = [] {
        auto* m = new std::map<std::string, std::unique_ptr<NSManagedObjectClass>>();
        NSManagedObjectClassDefinition base;
        base.name = "NSManagedObject";
        base.superclassName = "";
        base.factory = [] { return make<NSManagedObject>(); };
        (*m)["NSManagedObject"] = std::make_unique<NSManagedObjectClass>(std::move(base));
        return m;
    }();
    return *map;
}

std::string capitalized(const std::string& s) {
    if (s.empty()) return s;
    std::string out = s;
    if (out[0] >= 'a' && out[0] <= 'z') out[0] = static_cast<char>(out[0] - 32);
    return out;
}

}  // namespace

const NSManagedObjectClass* NSManagedObjectClass::registerClass(NSManagedObjectClassDefinition definition) {
    std::unique_lock guard(classMutex());
    auto& map = classes();
    auto found = map.find(definition.name);
    if (found != map.end()) return found->second.get();
    std::string name = definition.name;
    auto cls = std::make_unique<NSManagedObjectClass>(std::move(definition));
    auto* raw = cls.get();
    map[name] = std::move(cls);
    return raw;
}

const NSManagedObjectClass* NSManagedObjectClass::classNamed(const std::string& name) {
    // Read on every object made; registrations are rare.
    std::shared_lock guard(classMutex());
    auto& map = classes();
    auto found = map.find(name);
    return found == map.end() ? nullptr : found->second.get();
}

const NSManagedObjectClass* NSManagedObjectClass::base() {
    return classNamed("NSManagedObject");
}

const NSManagedObjectClass* NSManagedObjectClass::superclass() const {
    if (definition_.superclassName.empty()) return nullptr;
    if (const auto* known = superclass_.load(std::memory_order_acquire)) return known;
    const auto* found = classNamed(definition_.superclassName);
    if (found) superclass_.store(found, std::memory_order_release);
    return found;
}

const std::function<std::optional<std::string>()>* NSManagedObjectClass::entityNameHook() const {
    for (const NSManagedObjectClass* c = this; c; c = c->superclass()) {
        if (c->definition_.entityName) return &c->definition_.entityName;
    }
    return nullptr;
}

const std::function<Ref<NSManagedObject>(const Ref<NSManagedObjectContext>&)>*
NSManagedObjectClass::insertHook() const {
    for (const NSManagedObjectClass* c = this; c; c = c->superclass()) {
        if (c->definition_.insertInManagedObjectContext) return &c->definition_.insertInManagedObjectContext;
    }
    return nullptr;
}

const NSManagedObjectClassDefinition::Method*
NSManagedObjectClass::method(const std::string& selector) const {
    for (const NSManagedObjectClass* c = this; c; c = c->superclass()) {
        auto found = c->definition_.methods.find(selector);
        if (found != c->definition_.methods.end()) return &found->second;
    }
    return nullptr;
}

Ref<NSManagedObject> NSManagedObjectClass::newInstance() const {
    return definition_.factory ? definition_.factory() : make<NSManagedObject>();
}

// ----- objects ---------------------------------------------------------------------------------

namespace {
// Objects in no context share one lock until a context gives them its own.
const std::shared_ptr<std::recursive_mutex>& unattachedLock() {
    static auto* lock = new std::shared_ptr<std::recursive_mutex>(std::make_shared<std::recursive_mutex>());
    return *lock;
}
}  // namespace

NSManagedObject::NSManagedObject() : lock_(unattachedLock()) {}

NSManagedObject::~NSManagedObject() = default;

Ref<NSManagedObject> NSManagedObject::insertNewObject(const Ref<NSEntityDescription>& entity,
                                                      const Ref<NSManagedObjectContext>& context) {
    return insertNewObject(entity, context, nullptr);
}

Ref<NSManagedObject> NSManagedObject::insertNewObject(const Ref<NSEntityDescription>& entity,
                                                      const Ref<NSManagedObjectContext>& context,
                                                      const NSManagedObjectClass* cls) {
    if (!entity) return nullptr;
    auto object = CoreDataInternals::instantiate(entity, cls);
    for (const auto& p : entity->properties()) {
        if (p->isAttribute()) {
            object->values_[p->slot()] = static_cast<const NSAttributeDescription&>(*p).defaultValue();
        } else if (static_cast<const NSRelationshipDescription&>(*p).isToMany()) {
            object->values_[p->slot()] = Array::mutableArray();
        }
    }
    object->objectID_ = NSPersistentStoreCoordinator::newTemporaryID(entity);
    if (context) context->insertObject(object);
    return object;
}

const NSManagedObjectClass* NSManagedObject::managedObjectClass() const {
    if (class_) return class_;
    auto cls = NSManagedObjectClass::classNamed(className());
    return cls ? cls : NSManagedObjectClass::base();
}

bool NSManagedObject::isInserted() const {
    std::lock_guard<std::recursive_mutex> guard(*lock_);
    return inserted_;
}
bool NSManagedObject::isUpdated() const {
    std::lock_guard<std::recursive_mutex> guard(*lock_);
    return updated_;
}
bool NSManagedObject::isDeleted() const {
    std::lock_guard<std::recursive_mutex> guard(*lock_);
    return deleted_;
}
bool NSManagedObject::isFault() const {
    std::lock_guard<std::recursive_mutex> guard(*lock_);
    return fault_;
}
bool NSManagedObject::hasChanges() const {
    std::lock_guard<std::recursive_mutex> guard(*lock_);
    return inserted_ || updated_ || deleted_;
}

void NSManagedObject::willAccessValueForKey(const std::optional<std::string>&) const {
    std::lock_guard<std::recursive_mutex> guard(*lock_);
    if (fault_) CoreDataInternals::fireFault(const_cast<NSManagedObject&>(*this));
}

namespace {

Value objectsForIDs(NSManagedObjectContext* context, const Value& ids) {
    Array objects = Array::mutableArray();
    if (const Array* list = ids.array()) {
        for (const Value& id : *list) {
            auto oid = id.objectAs<NSManagedObjectID>();
            if (!oid) continue;
            if (context) {
                objects.addObject(CoreDataInternals::objectFor(*context, oid));
            }
        }
    }
    return objects;
}

}  // namespace

Value NSManagedObject::valueForKey(const std::string& key) const {
    std::lock_guard<std::recursive_mutex> guard(*lock_);
    if (!entity_) return Value();
    const Ref<NSPropertyDescription>* found = entity_->propertiesByName().find(key);
    if (!found) return Value();
    const Ref<NSPropertyDescription>& property = *found;
    if (fault_) CoreDataInternals::fireFault(const_cast<NSManagedObject&>(*this));
    const Value& stored = values_[property->slot()];
    if (!property->isRelationship()) return stored;
    auto context = context_.lock();
    if (static_cast<const NSRelationshipDescription&>(*property).isToMany())
        return objectsForIDs(context.get(), stored);
    auto id = stored.objectAs<NSManagedObjectID>();
    if (!id || !context) return Value();
    return CoreDataInternals::objectFor(*context, id);
}

Value NSManagedObject::valueForKeyPath(const std::string& keyPath) const {
    Value current = std::const_pointer_cast<NSObject>(self());
    for (const auto& key : NSString::componentsSeparatedByString(keyPath, ".")) {
        auto object = current.object();
        if (object) {
            Value next = object->valueForKey(key);
            current = std::move(next);
        } else if (current.isDictionary()) {
            Value next = current[key];
            current = std::move(next);
        } else {
            return Value();
        }
    }
    return current;
}

Dictionary NSManagedObject::changedValues() const {
    std::lock_guard<std::recursive_mutex> guard(*lock_);
    Dictionary changes = Dictionary::mutableDictionary();
    if (!entity_) return changes;
    for (const auto& p : entity_->properties()) {
        if (p->slot() < changed_.size() && changed_[p->slot()])
            changes.setObject(p->name(), valueForKey(p->name()));
    }
    return changes;
}

namespace {

// The related object behind a value, checked against the relationship.
Ref<NSManagedObject> relatedObject(const NSManagedObject& owner,
                                   const NSRelationshipDescription& relationship, const Value& value) {
    if (!value.isSomething()) return nullptr;
    auto object = value.objectAs<NSManagedObject>();
    if (!object)
        NSException::raise(NSInvalidArgumentException,
                           "the value for " + relationship.name() + " is not a managed object");
    auto destination = relationship.destinationEntity();
    if (!destination || object->entity() != destination)
        NSException::raise(NSInvalidArgumentException,
                           "the object for " + relationship.name() + " is of the wrong entity");
    if (object->managedObjectContext() != owner.managedObjectContext())
        NSException::raise(NSInvalidArgumentException,
                           "illegal attempt to relate objects of different contexts through " +
                               relationship.name());
    return object;
}

}  // namespace

void NSManagedObject::setValueForKey(const Value& value, const std::string& key) {
    std::lock_guard<std::recursive_mutex> guard(*lock_);
    const Ref<NSPropertyDescription>* found = entity_ ? entity_->propertiesByName().find(key) : nullptr;
    if (!found) {
        NSException::raise(NSUndefinedKeyException,
                           "the entity " + (entity_ ? entity_->name() : std::string("?")) +
                               " is not key value coding-compliant for the key " + key);
    }
    // The entity keeps its properties for as long as the object lives.
    const Ref<NSPropertyDescription>& property = *found;
    if (fault_) CoreDataInternals::fireFault(*this);
    std::size_t slot = property->slot();
    if (!property->isRelationship()) {
        values_[slot] = value.isNull() ? Value() : value;
        CoreDataInternals::markUpdated(*this, slot);
        return;
    }
    auto& relationship = static_cast<const NSRelationshipDescription&>(*property);
    auto context = context_.lock();
    if (!relationship.isToMany()) {
        auto target = relatedObject(*this, relationship, value);
        auto oldID = values_[slot].objectAs<NSManagedObjectID>();
        if ((target ? target->objectID_.get() : nullptr) == oldID.get()) return;
        if (oldID && context) {
            auto old = CoreDataInternals::objectFor(*context, oldID);
            RelationshipOps::linkInverse(*this, relationship, *old, false);
        }
        RelationshipOps::setToOne(*this, relationship, target ? target->objectID_ : nullptr);
        if (target) RelationshipOps::linkInverse(*this, relationship, *target, true);
        return;
    }
    // A to-many relationship takes a whole collection.
    std::vector<Ref<NSManagedObject>> wanted;
    if (const Array* list = value.array()) {
        for (const Value& v : *list) {
            if (auto o = relatedObject(*this, relationship, v)) wanted.push_back(o);
        }
    } else if (value.isSomething()) {
        NSException::raise(NSInvalidArgumentException, "the value for " + key + " is not a collection");
    }
    Value current = valueForKey(key);
    if (const Array* existing = current.array()) {
        for (const Value& v : *existing) {
            auto o = v.objectAs<NSManagedObject>();
            if (o && std::find(wanted.begin(), wanted.end(), o) == wanted.end())
                removeObjectFromRelationship(o, key);
        }
    }
    for (const auto& o : wanted) addObjectToRelationship(o, key);
}

void NSManagedObject::addObjectToRelationship(const Ref<NSManagedObject>& object, const std::string& key) {
    std::lock_guard<std::recursive_mutex> guard(*lock_);
    auto relationship = entity_ ? entity_->relationshipsByName()[key] : nullptr;
    if (!relationship || !relationship->isToMany())
        NSException::raise(NSUndefinedKeyException, key + " is not a to-many relationship of " +
                                                        (entity_ ? entity_->name() : std::string("?")));
    auto target = relatedObject(*this, *relationship, object);
    if (!target) return;
    RelationshipOps::addID(*this, *relationship, target->objectID_);
    RelationshipOps::linkInverse(*this, *relationship, *target, true);
}

void NSManagedObject::removeObjectFromRelationship(const Ref<NSManagedObject>& object,
                                                   const std::string& key) {
    std::lock_guard<std::recursive_mutex> guard(*lock_);
    auto relationship = entity_ ? entity_->relationshipsByName()[key] : nullptr;
    if (!relationship || !relationship->isToMany())
        NSException::raise(NSUndefinedKeyException, key + " is not a to-many relationship of " +
                                                        (entity_ ? entity_->name() : std::string("?")));
    if (!object) return;
    RelationshipOps::removeID(*this, *relationship, object->objectID_.get());
    RelationshipOps::linkInverse(*this, *relationship, *object, false);
}

Ref<NSRelationshipMutableSet> NSManagedObject::mutableOrderedSetValueForKey(const std::string& key) {
    return make<NSRelationshipMutableSet>(std::static_pointer_cast<NSManagedObject>(self()), key);
}

Array NSRelationshipMutableSet::array() const {
    Value v = owner_->valueForKey(key_);
    return v.array() ? *v.array() : Array();
}

namespace {

enum class Accessor { None, Get, Set, Add, Remove, OrderedSet };

std::pair<Accessor, Ref<NSPropertyDescription>> modelAccessor(const NSEntityDescription* entity,
                                                              const std::string& selector) {
    if (!entity) return {Accessor::None, nullptr};
    // Every modelled accessor with an argument starts with one of these.
    if (!selector.empty() && selector.back() == ':' && selector.rfind("set", 0) != 0 &&
        selector.rfind("add", 0) != 0 && selector.rfind("remove", 0) != 0)
        return {Accessor::None, nullptr};
    for (const auto& p : entity->properties()) {
        const std::string name = p->name();
        const std::string cap = capitalized(name);
        bool toMany = p->isRelationship() && static_cast<const NSRelationshipDescription&>(*p).isToMany();
        bool ordered = toMany && static_cast<const NSRelationshipDescription&>(*p).isOrdered();
        if (selector == name) return {Accessor::Get, p};
        if (selector == "set" + cap + ":") return {Accessor::Set, p};
        if (toMany && selector == "add" + cap + "Object:") return {Accessor::Add, p};
        if (toMany && selector == "remove" + cap + "Object:") return {Accessor::Remove, p};
        if (ordered && selector == name + "Set") return {Accessor::OrderedSet, p};
    }
    return {Accessor::None, nullptr};
}

}  // namespace

bool NSManagedObject::respondsToSelector(const std::string& selector) const {
    if (managedObjectClass()->method(selector)) return true;
    return modelAccessor(entity_.get(), selector).first != Accessor::None;
}

Value NSManagedObject::performSelector(const std::string& selector, const Value& argument) {
    if (auto method = managedObjectClass()->method(selector)) return (*method)(*this, argument);
    auto [accessor, property] = modelAccessor(entity_.get(), selector);
    switch (accessor) {
        case Accessor::Get:
            return valueForKey(property->name());
        case Accessor::Set:
            setValueForKey(argument, property->name());
            return Value();
        case Accessor::Add:
            addObjectToRelationship(argument.objectAs<NSManagedObject>(), property->name());
            return Value();
        case Accessor::Remove:
            removeObjectFromRelationship(argument.objectAs<NSManagedObject>(), property->name());
            return Value();
        case Accessor::OrderedSet:
            return mutableOrderedSetValueForKey(property->name());
        case Accessor::None:
            break;
    }
    NSException::raise(NSInvalidArgumentException,
                       "-[" + className() + " " + selector + "]: unrecognized selector sent to instance");
    return Value();
}

std::string NSManagedObject::description() const {
    return "<" + className() + ": " + (entity_ ? entity_->name() : std::string("?")) + " " +
           (objectID_ ? objectID_->description() : std::string("(no id)")) + ">";
}
