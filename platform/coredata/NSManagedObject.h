#pragma once
// Managed objects and their identities.
//
// An NSManagedObjectID names one object of one entity in one store. It is temporary until the
// object is first saved to a store (or a permanent id is asked for ahead of that); the same id
// object then turns permanent in place, so every context holding it sees the change and ids
// taken before a save still name the object after it. A coordinator hands out one id object per
// stored object, so ids compare by identity.
//
// An NSManagedObject belongs to one context and is read and changed through it, on that
// context's queue. Its values are kept per property: attributes as values of the attribute's
// kind, relationships as the related objects of the same context (to-one: an object or nil;
// to-many: an array, in order for ordered relationships). Setting one end of a relationship
// that has an inverse sets the other end too. An object fetched or looked up by id may start as
// a fault: its values are read from the parent context or the store on first access.
//
// Subclasses: a class registers itself by name (the entity's representedClassName) with a
// factory, optional class-level hooks (entityName, insertInManagedObjectContext) and optional
// instance methods by selector name ("importColor:", "shouldImport:"...), which stand in for the
// platform runtime's method lookup:
//
//     class Car : public NSManagedObject {
//       public:
//         std::string className() const override { return "Car"; }
//     };
//     static const auto* carClass = NSManagedObjectClass::registerClass<Car>("Car");
//
// Besides the methods a class registers, every object answers the accessors the model implies:
// "<attribute>", "set<Name>:" for attributes and relationships, "add<Name>Object:" and
// "remove<Name>Object:" for to-many relationships, and "<name>Set" (the relationship as a
// mutable ordered set) for ordered ones.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "coredata/NSManagedObjectModel.h"
#include "foundation/NSObject.h"
#include "foundation/NSURL.h"
#include "foundation/Value.h"

class NSManagedObjectContext;
class NSPersistentStore;

class NSManagedObjectID : public NSObject {
  public:
    NSManagedObjectID(Ref<NSEntityDescription> entity, std::uint64_t serial);
    // A permanent id from the start.
    NSManagedObjectID(Ref<NSEntityDescription> entity, std::uint64_t serial,
                      const Ref<NSPersistentStore>& store, std::int64_t key);

    const Ref<NSEntityDescription>& entity() const { return entity_; }
    bool isTemporaryID() const { return key_.load(std::memory_order_acquire) == 0; }
    // The store the object lives in (nullptr while temporary).
    Ref<NSPersistentStore> persistentStore() const;
    // "x-coredata://<store id>/<entity>/p<key>", or ".../t<serial>" while temporary.
    Ref<NSURL> URIRepresentation() const;
    // The object's key in its store; 0 while temporary.
    std::int64_t referenceKey() const { return key_.load(std::memory_order_acquire); }
    // Ids are numbered as they are made: the order objects came into being.
    std::uint64_t serial() const { return serial_; }

    std::string className() const override { return "NSManagedObjectID"; }
    std::string description() const override;

    // Used by the store coordinator, under its lock, when the object gets its permanent key; an
    // id that is already permanent keeps its store and key.
    void makePermanent(const Ref<NSPersistentStore>& store, std::int64_t key);

  private:
    Ref<NSEntityDescription> entity_;
    std::uint64_t serial_;
    // Publishes store_: the store is written once, before the key turns non-zero, and only read
    // after the key is seen non-zero.
    std::atomic<std::int64_t> key_{0};
    Weak<NSPersistentStore> store_;
};

class NSManagedObject;
class NSRelationshipMutableSet;

// A registered managed-object class.
struct NSManagedObjectClassDefinition {
    using Method = std::function<Value(NSManagedObject& receiver, const Value& argument)>;
    std::string name;
    // Empty for a root class; otherwise the class whose hooks and methods this one inherits.
    std::string superclassName = "NSManagedObject";
    std::function<Ref<NSManagedObject>()> factory;
    // The class method `entityName`, when the class has one.
    std::function<std::optional<std::string>()> entityName;
    // The class method `insertInManagedObjectContext:`, when the class has one.
    std::function<Ref<NSManagedObject>(const Ref<NSManagedObjectContext>& context)>
        insertInManagedObjectContext;
    // Instance methods by selector name. A method "without result" answers nil.
    std::map<std::string, Method> methods;
};

class NSManagedObjectClass {
  public:
    explicit NSManagedObjectClass(NSManagedObjectClassDefinition definition)
        : definition_(std::move(definition)) {}

    // Registers a class (the first registration of a name wins).
    static const NSManagedObjectClass* registerClass(NSManagedObjectClassDefinition definition);
    template <class T>
    static const NSManagedObjectClass* registerClass(std::string name,
                                                     NSManagedObjectClassDefinition extra = {}) {
        extra.name = std::move(name);
        if (!extra.factory)
            extra.factory = [] { return std::static_pointer_cast<NSManagedObject>(make<T>()); };
        return registerClass(std::move(extra));
    }
    // nullptr for a name nobody registered.
    static const NSManagedObjectClass* classNamed(const std::string& name);
    // The base class, NSManagedObject itself.
    static const NSManagedObjectClass* base();

    const std::string& name() const { return definition_.name; }
    const NSManagedObjectClass* superclass() const;
    // The class's own hooks, or the nearest superclass's.
    const std::function<std::optional<std::string>()>* entityNameHook() const;
    const std::function<Ref<NSManagedObject>(const Ref<NSManagedObjectContext>&)>* insertHook() const;
    const NSManagedObjectClassDefinition::Method* method(const std::string& selector) const;
    Ref<NSManagedObject> newInstance() const;

  private:
    NSManagedObjectClassDefinition definition_;
    // Found on first use (classes are never replaced nor removed, so the pointer stays good);
    // a superclass registered later is looked up until it is there.
    mutable std::atomic<const NSManagedObjectClass*> superclass_{nullptr};
};

class NSManagedObject : public NSObject {
  public:
    NSManagedObject();
    ~NSManagedObject() override;

    // initWithEntity:insertIntoManagedObjectContext: — an object of the entity's class (a plain
    // NSManagedObject when the class is not registered), inserted into the context when one is
    // given. Attributes start at their model defaults.
    static Ref<NSManagedObject> insertNewObject(const Ref<NSEntityDescription>& entity,
                                                const Ref<NSManagedObjectContext>& context);
    // The same with an object of the given class, whatever the entity's class name says.
    static Ref<NSManagedObject> insertNewObject(const Ref<NSEntityDescription>& entity,
                                                const Ref<NSManagedObjectContext>& context,
                                                const NSManagedObjectClass* cls);

    const Ref<NSEntityDescription>& entity() const { return entity_; }
    Ref<NSManagedObjectContext> managedObjectContext() const { return context_.lock(); }
    const Ref<NSManagedObjectID>& objectID() const { return objectID_; }
    // The registered class the object was made as.
    const NSManagedObjectClass* managedObjectClass() const;

    bool isInserted() const;
    bool isUpdated() const;
    bool isDeleted() const;
    bool isFault() const;
    bool hasChanges() const;
    // Property name -> new value, for the properties changed since the last save.
    Dictionary changedValues() const;

    // Attributes: the value; to-one: the object or nil; to-many: an array of objects. nil for a
    // key the entity does not have.
    Value valueForKey(const std::string& key) const override;
    Value valueForKeyPath(const std::string& keyPath) const;
    // setValue:forKey: (nil clears). Raises NSUndefinedKeyException (NSException) for a key the
    // entity does not have, and NSInvalidArgumentException for a related object of another
    // context or entity.
    void setValueForKey(const Value& value, const std::string& key);
    // To-many relationships.
    void addObjectToRelationship(const Ref<NSManagedObject>& object, const std::string& key);
    void removeObjectFromRelationship(const Ref<NSManagedObject>& object, const std::string& key);
    Ref<NSRelationshipMutableSet> mutableOrderedSetValueForKey(const std::string& key);
    // Fires the fault (any key, or none).
    void willAccessValueForKey(const std::optional<std::string>& key = std::nullopt) const;

    // The runtime's method lookup over the registered methods and the modelled accessors.
    bool respondsToSelector(const std::string& selector) const;
    // Raises NSInvalidArgumentException ("unrecognized selector") when the object has no such
    // method.
    Value performSelector(const std::string& selector, const Value& argument = Value());

    std::string className() const override { return "NSManagedObject"; }
    std::string description() const override;

  private:
    friend class NSManagedObjectContext;
    friend struct CoreDataInternals;
    friend struct RelationshipOps;

    Ref<NSEntityDescription> entity_;
    // The registered class the object was made as (nullptr: found by className()).
    const NSManagedObjectClass* class_ = nullptr;
    Weak<NSManagedObjectContext> context_;
    Ref<NSManagedObjectID> objectID_;
    std::shared_ptr<std::recursive_mutex> lock_;

    // Guarded by lock_ (the context's lock).
    bool fault_ = false;
    bool inserted_ = false;
    bool updated_ = false;
    bool deleted_ = false;
    bool registered_ = false;
    // Per property slot: attribute values; relationship values as ids (to-one: an id or nil;
    // to-many: an Array of ids).
    std::vector<Value> values_;
    detail::PropertyFlags changed_;
};

// The live to-many set of an ordered relationship (what `<name>Set` answers): adding and
// removing go through the owning object.
class NSRelationshipMutableSet : public NSObject {
  public:
    NSRelationshipMutableSet(Ref<NSManagedObject> owner, std::string key)
        : owner_(std::move(owner)), key_(std::move(key)) {}
    void addObject(const Ref<NSManagedObject>& object) { owner_->addObjectToRelationship(object, key_); }
    void removeObject(const Ref<NSManagedObject>& object) {
        owner_->removeObjectFromRelationship(object, key_);
    }
    Array array() const;
    std::size_t count() const { return array().count(); }
    std::string className() const override { return "NSRelationshipMutableSet"; }

  private:
    Ref<NSManagedObject> owner_;
    std::string key_;
};
