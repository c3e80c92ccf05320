#include "coredata/NSManagedObjectContext.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "coredata/CoreDataErrors.h"
#include "coredata/CoreDataInternals.h"
#include "coredata/SQLiteStore.h"
#include "foundation/NSException.h"
#include "foundation/NSLog.h"
#include "foundation/NSPredicateNode.h"
#include "foundation/NSThread.h"

namespace {

// The queue-specific key that tells a private queue's blocks which context they serve.
const char kContextKey = 0;

using Guard = std::lock_guard<std::recursive_mutex>;

Ref<NSError> storeError(long code, const std::string& reason) {
    return NSError::errorWithDomain(NSCocoaErrorDomain, code,
                                    Dictionary{{NSLocalizedDescriptionKey, reason}});
}

// Row values (keys) -> object values (ids).
void rowToValues(NSPersistentStoreCoordinator& coordinator, const Ref<NSPersistentStore>& store,
                 const NSEntityDescription& entity, detail::StoredRow& row, std::vector<Value>& values) {
    const auto& properties = entity.properties();
    if (entity.relationshipsByName().empty()) {
        // Attributes only: the row's values are the object's.
        values = std::move(row.values);
        values.resize(properties.size());
        return;
    }
    values.resize(properties.size());
    for (std::size_t i = 0; i < properties.size(); ++i) {
        const auto* r = properties[i]->isRelationship()
                            ? static_cast<const NSRelationshipDescription*>(properties[i].get())
                            : nullptr;
        if (!r) {
            values[i] = std::move(row.values[i]);
            continue;
        }
        auto destination = r->destinationEntity();
        if (r->isToMany()) {
            Array ids = Array::mutableArray();
            if (const Array* keys = row.values[i].array(); keys && destination) {
                for (const Value& k : *keys)
                    ids.addObject(coordinator.objectIDFor(destination, store, k.longLongValue()));
            }
            values[i] = ids;
        } else if (row.values[i].isNumber() && destination) {
            values[i] = coordinator.objectIDFor(destination, store, row.values[i].longLongValue());
        } else {
            values[i] = Value();
        }
    }
}

// Object values (ids) -> row values (keys); ids that never reached a store are dropped.
detail::StoredRow valuesToRow(const NSEntityDescription& entity, std::int64_t key,
                              const std::vector<Value>& values) {
    detail::StoredRow row;
    row.key = key;
    const auto& properties = entity.properties();
    row.values.resize(properties.size());
    for (std::size_t i = 0; i < properties.size() && i < values.size(); ++i) {
        if (!properties[i]->isRelationship()) {
            row.values[i] = values[i];
            continue;
        }
        if (const Array* ids = values[i].array()) {
            Array keys = Array::mutableArray();
            for (const Value& v : *ids) {
                auto id = v.objectAs<NSManagedObjectID>();
                if (id && !id->isTemporaryID())
                    keys.addObject(Value(static_cast<long long>(id->referenceKey())));
            }
            row.values[i] = keys;
        } else if (auto id = values[i].objectAs<NSManagedObjectID>(); id && !id->isTemporaryID()) {
            row.values[i] = Value(static_cast<long long>(id->referenceKey()));
        }
    }
    return row;
}

std::vector<Value> relationshipTargets(const Value& stored) {
    std::vector<Value> ids;
    if (const Array* list = stored.array()) {
        ids.assign(list->begin(), list->end());
    } else if (stored.isObject()) {
        ids.push_back(stored);
    }
    return ids;
}

// ----- predicates into SQL --------------------------------------------------------------------

enum class Kind { Number, Text, Date, Data, Other };

Kind attributeKind(NSAttributeType type) {
    // The store keeps booleans as the integers 0 and 1.
    if (NSAttributeTypeIsNumeric(type) || type == NSBooleanAttributeType) return Kind::Number;
    switch (type) {
        case NSStringAttributeType:
            return Kind::Text;
        case NSDateAttributeType:
            return Kind::Date;
        case NSBinaryDataAttributeType:
            return Kind::Data;
        default:
            return Kind::Other;
    }
}

Kind valueKind(const Value& v) {
    if (v.isNumber()) return Kind::Number;
    if (v.isString()) return Kind::Text;
    if (v.isDate()) return Kind::Date;
    if (v.isData()) return Kind::Data;
    return Kind::Other;
}

class SQLTranslator {
  public:
    explicit SQLTranslator(const NSEntityDescription& entity) : entity_(entity) {}

    bool translate(const detail::PredicateNode& node, std::string& sql, std::vector<Value>& binds) {
        using K = detail::PredicateNode::Kind;
        switch (node.kind) {
            case K::True:
                sql += "1";
                return true;
            case K::False:
                sql += "0";
                return true;
            case K::And:
            case K::Or:
                sql += "(";
                if (!translate(*node.children[0], sql, binds)) return false;
                sql += node.kind == K::And ? " AND " : " OR ";
                if (!translate(*node.children[1], sql, binds)) return false;
                sql += ")";
                return true;
            case K::Not:
                sql += "(NOT ";
                if (!translate(*node.children[0], sql, binds)) return false;
                sql += ")";
                return true;
            case K::Compare:
                return compare(node, sql, binds);
            case K::Block:
                return false;
        }
        return false;
    }

  private:
    using Op = detail::Operator;
    using OK = detail::Operand::Kind;

    // The column a key-path or SELF operand reads, and the kind of values it holds.
    bool column(const detail::Operand& o, std::string& name, Kind& kind, bool& isObject) {
        if (o.kind == OK::Self) {
            name = "pk";
            kind = Kind::Other;
            isObject = true;
            return true;
        }
        if (o.kind != OK::KeyPath || o.path.size() != 1) return false;
        auto p = entity_.propertiesByName()[o.path[0]];
        if (!p) return false;
        name = detail::StoreBackend::columnName(*p);
        if (p->isRelationship()) {
            if (static_cast<const NSRelationshipDescription&>(*p).isToMany()) return false;
            kind = Kind::Other;
            isObject = true;
            return true;
        }
        kind = attributeKind(static_cast<const NSAttributeDescription&>(*p).attributeType());
        isObject = false;
        return kind != Kind::Other;
    }

    // A constant as a bind for the column; false when it can never match (another kind).
    static bool bindable(const Value& v, Kind kind, bool isObject, Value& bound) {
        if (isObject) {
            auto object = v.objectAs<NSManagedObject>();
            auto id = object ? object->objectID() : v.objectAs<NSManagedObjectID>();
            if (!id) return false;
            // Objects not yet stored match no stored row.
            bound = id->isTemporaryID() ? Value(-1LL) : Value(static_cast<long long>(id->referenceKey()));
            return true;
        }
        if (valueKind(v) != kind) return false;
        bound = v;
        return true;
    }

    bool compare(const detail::PredicateNode& node, std::string& sql, std::vector<Value>& binds) {
        if (node.caseInsensitive || node.diacriticInsensitive) return false;
        const detail::Operand* keyOperand = &node.lhs;
        const detail::Operand* constant = &node.rhs;
        Op op = node.op;
        if (node.lhs.kind == OK::Constant && node.rhs.kind != OK::Constant) {
            if (op == Op::In) return false;
            std::swap(keyOperand, constant);
            switch (op) {
                case Op::Less:
                    op = Op::Greater;
                    break;
                case Op::LessEqual:
                    op = Op::GreaterEqual;
                    break;
                case Op::Greater:
                    op = Op::Less;
                    break;
                case Op::GreaterEqual:
                    op = Op::LessEqual;
                    break;
                case Op::Equal:
                case Op::NotEqual:
                    break;
                default:
                    return false;
            }
        }
        if (constant->kind != OK::Constant) return false;
        std::string name;
        Kind kind;
        bool isObject;
        if (!column(*keyOperand, name, kind, isObject)) return false;
        const Value& c = constant->constant;
        switch (op) {
            case Op::Equal:
            case Op::NotEqual: {
                const char* is = op == Op::Equal ? " IS " : " IS NOT ";
                if (!c.isSomething()) {
                    sql += "(" + name + is + "NULL)";
                    return true;
                }
                Value bound;
                if (!bindable(c, kind, isObject, bound)) {
                    sql += op == Op::Equal ? "0" : "1";
                    return true;
                }
                sql += "(" + name + is + "?)";
                binds.push_back(bound);
                return true;
            }
            case Op::Less:
            case Op::LessEqual:
            case Op::Greater:
            case Op::GreaterEqual: {
                Value bound;
                if (isObject || !c.isSomething() || !bindable(c, kind, isObject, bound) ||
                    (kind != Kind::Number && kind != Kind::Text && kind != Kind::Date)) {
                    if (isObject) return false;
                    sql += "0";
                    return true;
                }
                const char* symbol = op == Op::Less        ? " < "
                                     : op == Op::LessEqual ? " <= "
                                     : op == Op::Greater   ? " > "
                                                           : " >= ";
                sql += "(" + name + " IS NOT NULL AND " + name + symbol + "?)";
                binds.push_back(bound);
                return true;
            }
            case Op::In: {
                const Array* list = c.array();
                if (!list) return false;
                std::string items;
                for (const Value& v : *list) {
                    Value bound;
                    if (!v.isSomething() || !bindable(v, kind, isObject, bound)) continue;
                    items += items.empty() ? "?" : ", ?";
                    binds.push_back(bound);
                }
                sql += items.empty() ? std::string("0") : "(" + name + " IN (" + items + "))";
                return true;
            }
            default:
                return false;
        }
    }

    const NSEntityDescription& entity_;
};

// The attribute slot and value of a predicate "attribute == value" (either way round), or nothing.
std::optional<std::pair<std::size_t, Value>> equalityOf(const Ref<NSPredicate>& predicate,
                                                        const NSEntityDescription& entity) {
    if (!predicate) return std::nullopt;
    const detail::PredicateNode& node = predicate->rootNode();
    if (node.kind != detail::PredicateNode::Kind::Compare || node.op != detail::Operator::Equal ||
        node.caseInsensitive || node.diacriticInsensitive)
        return std::nullopt;
    const detail::Operand* key = &node.lhs;
    const detail::Operand* constant = &node.rhs;
    if (key->kind == detail::Operand::Kind::Constant) std::swap(key, constant);
    if (key->kind != detail::Operand::Kind::KeyPath || key->path.size() != 1 ||
        constant->kind != detail::Operand::Kind::Constant || !constant->constant.isSomething())
        return std::nullopt;
    const auto* attribute = entity.attributesByName().find(key->path[0]);
    if (!attribute) return std::nullopt;
    return std::make_pair((*attribute)->slot(), constant->constant);
}

// An ORDER BY list for the sorts, when each sorts by one attribute of the entity.
bool orderBySQL(const NSEntityDescription& entity, const std::vector<Ref<NSSortDescriptor>>& sorts,
                std::string& sql) {
    for (const auto& s : sorts) {
        if (!s) return false;
        auto a = entity.attributesByName()[s->key()];
        if (!a) return false;
        Kind k = attributeKind(a->attributeType());
        // Text compares by code unit here and by the platform's rules in memory.
        if (k != Kind::Number && k != Kind::Date) return false;
        if (!sql.empty()) sql += ", ";
        sql += detail::StoreBackend::columnName(*a) + (s->ascending() ? " ASC" : " DESC");
    }
    return true;
}

// Why a sort's key path cannot be followed from the entity, or nullopt when it can. Each key
// must be a property of the entity reached so far; a key before the last must be a to-one
// relationship, whose destination holds the next key: an attribute has no keys of its own, and a
// to-many relationship gives many values where a sort needs one. The last key must be an
// attribute: objects have no order among themselves, so a sort ending on a relationship would
// leave the results as they came, the same either way round.
std::optional<std::string> sortKeyPathProblem(const NSEntityDescription& entity, const std::string& keyPath) {
    const std::string unknown = "The entity " + entity.name() + " has no key \"" + keyPath + "\" to sort by.";
    const NSEntityDescription* current = &entity;
    Ref<NSEntityDescription> held;  // keeps a destination alive while its keys are looked up
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = keyPath.find('.', start);
        const std::string_view key = std::string_view(keyPath).substr(start, dot - start);
        const Ref<NSPropertyDescription>* property =
            current ? current->propertiesByName().find(key) : nullptr;
        if (!property) return unknown;
        if (dot == std::string::npos) {
            if (!(*property)->isRelationship()) return std::nullopt;
            return "The entity " + entity.name() + " cannot sort by \"" + keyPath + "\": \"" +
                   std::string(key) + "\" is a relationship, not an attribute.";
        }
        if (!(*property)->isRelationship()) return unknown;
        const auto& relationship = static_cast<const NSRelationshipDescription&>(**property);
        if (relationship.isToMany()) {
            return "The entity " + entity.name() + " cannot sort by \"" + keyPath + "\": \"" +
                   std::string(key) + "\" is a to-many relationship.";
        }
        held = relationship.destinationEntity();
        current = held.get();
        start = dot + 1;
    }
}

thread_local std::vector<const NSManagedObjectContext*> activeContexts;

// A short list kept in place (context chains are a few deep), moved to the heap past N items.
template <class T, std::size_t N>
class ShortList {
  public:
    void push_back(T value) {
        if (size_ < N && spill_.empty()) {
            inline_[size_++] = std::move(value);
            return;
        }
        if (spill_.empty()) {
            spill_.reserve(2 * N);
            for (auto& item : inline_) spill_.push_back(std::move(item));
        }
        spill_.push_back(std::move(value));
        ++size_;
    }
    T* begin() { return spill_.empty() ? inline_.data() : spill_.data(); }
    T* end() { return begin() + size_; }
    T& back() { return *(end() - 1); }
    // Items go in reverse order of their coming (locks open parent first).
    void clear() {
        while (size_ > 0) {
            --size_;
            begin()[size_] = T();
        }
        spill_.clear();
    }

  private:
    std::array<T, N> inline_{};
    std::vector<T> spill_;
    std::size_t size_ = 0;
};

struct ActiveScope {
    explicit ActiveScope(const NSManagedObjectContext* c) { activeContexts.push_back(c); }
    ~ActiveScope() { activeContexts.pop_back(); }
    ActiveScope(const ActiveScope&) = delete;
    ActiveScope& operator=(const ActiveScope&) = delete;
};

}  // namespace

// ----- internals -------------------------------------------------------------------------------

Ref<NSPersistentStoreCoordinator> CoreDataInternals::rootCoordinator(const NSManagedObjectContext& context) {
    return context.persistentStoreCoordinator();
}

Ref<NSManagedObject> CoreDataInternals::instantiate(const Ref<NSEntityDescription>& entity,
                                                    const NSManagedObjectClass* cls) {
    if (!cls) cls = NSManagedObjectClass::classNamed(entity->managedObjectClassName());
    auto object = cls ? cls->newInstance() : make<NSManagedObject>();
    if (!object) object = make<NSManagedObject>();
    object->class_ = cls;
    object->entity_ = entity;
    object->values_.assign(entity->properties().size(), Value());
    return object;
}

void CoreDataInternals::registerObject(NSManagedObjectContext& context, const Ref<NSManagedObject>& object) {
    auto& self = context.state_->self;
    if (self.expired()) self = std::static_pointer_cast<NSManagedObjectContext>(context.self());
    object->context_ = self;
    object->lock_ = context.lock_;
    object->registered_ = true;
    context.state_->registered[object->objectID_.get()] = object;
}

Ref<NSManagedObject> CoreDataInternals::objectFor(NSManagedObjectContext& context,
                                                  const Ref<NSManagedObjectID>& id) {
    Guard guard(*context.lock_);
    auto& registered = context.state_->registered;
    auto found = registered.find(id.get());
    if (found != registered.end()) return found->second;
    auto object = instantiate(id->entity());
    object->objectID_ = id;
    object->fault_ = true;
    registerObject(context, object);
    return object;
}

CoreDataInternals::Lookup CoreDataInternals::snapshot(NSManagedObjectContext& context,
                                                      const Ref<NSManagedObjectID>& id,
                                                      std::vector<Value>& values, bool includeSelf) {
    Guard guard(*context.lock_);
    auto& state = *context.state_;
    if (includeSelf) {
        auto found = state.registered.find(id.get());
        if (found != state.registered.end() && !found->second->fault_) {
            if (found->second->deleted_) return Lookup::Missing;
            values = found->second->values_;
            return Lookup::Found;
        }
    }
    if (state.parent) return snapshot(*state.parent, id, values, true);
    if (!state.coordinator || id->isTemporaryID()) return Lookup::Missing;
    auto store = id->persistentStore();
    if (!store) return Lookup::Missing;
    std::lock_guard<std::recursive_mutex> storeGuard(state.coordinator->mutex());
    detail::StoredRow row;
    Ref<NSError> error;
    if (!store->backend().fetchRow(*id->entity(), id->referenceKey(), row, &error)) {
        if (error)
            NSLogLine("CoreData: cannot read an object from the store: " + error->localizedDescription());
        return Lookup::Missing;
    }
    rowToValues(*state.coordinator, store, *id->entity(), row, values);
    return Lookup::Found;
}

bool CoreDataInternals::fireFault(NSManagedObject& object) {
    auto context = object.context_.lock();
    if (!context) {
        object.fault_ = false;
        return false;
    }
    Guard guard(*context->lock_);
    if (!object.fault_) return true;
    std::vector<Value> values;
    object.fault_ = false;
    if (snapshot(*context, object.objectID_, values, false) == Lookup::Missing) {
        // The object is gone: it reads as empty rather than failing every access.
        object.values_.assign(object.entity_->properties().size(), Value());
        return false;
    }
    values.resize(object.entity_->properties().size());
    object.values_ = std::move(values);
    object.changed_.clear();
    return true;
}

void CoreDataInternals::markUpdated(NSManagedObject& object, std::size_t slot) {
    // No flags yet means nothing changed yet.
    if (object.changed_.size() < object.values_.size()) object.changed_.resize(object.values_.size());
    if (slot < object.changed_.size()) object.changed_.set(slot);
    if (!object.registered_) return;
    auto context = object.context_.lock();
    if (!context) return;
    if (auto& indexes = context->state_->indexes; !indexes.empty() && slot < object.values_.size()) {
        auto found = indexes.find({object.entity_.get(), slot});
        if (found != indexes.end()) found->second.add(object.values_[slot].hash(), &object);
    }
    if (object.inserted_ || object.updated_ || object.deleted_) return;
    object.updated_ = true;
    context->state_->updated.push_back(std::static_pointer_cast<NSManagedObject>(object.self()));
}

void CoreDataInternals::indexAll(NSManagedObject& object) {
    auto context = object.context_.lock();
    if (!context || context->state_->indexes.empty()) return;
    auto& indexes = context->state_->indexes;
    for (std::size_t slot = 0; slot < object.values_.size(); ++slot) {
        auto found = indexes.find({object.entity_.get(), slot});
        if (found != indexes.end()) found->second.add(object.values_[slot].hash(), &object);
    }
}

// ----- the context -----------------------------------------------------------------------------

NSManagedObjectContext::NSManagedObjectContext(NSManagedObjectContextConcurrencyType type)
    : type_(type), lock_(std::make_shared<std::recursive_mutex>()), state_(std::make_unique<State>()) {
    if (type_ == NSPrivateQueueConcurrencyType) {
        queue_ = dispatch_queue_create("NSManagedObjectContext");
        dispatch_queue_set_specific(queue_, &kContextKey, this);
    } else if (type_ == NSMainQueueConcurrencyType) {
        queue_ = dispatch_get_main_queue();
    }
}

NSManagedObjectContext::~NSManagedObjectContext() = default;

Ref<NSPersistentStoreCoordinator> NSManagedObjectContext::persistentStoreCoordinator() const {
    Guard guard(*lock_);
    if (state_->coordinator) return state_->coordinator;
    return state_->parent ? state_->parent->persistentStoreCoordinator() : nullptr;
}

void NSManagedObjectContext::setPersistentStoreCoordinator(
    const Ref<NSPersistentStoreCoordinator>& coordinator) {
    Guard guard(*lock_);
    state_->coordinator = coordinator;
    if (coordinator) state_->parent = nullptr;
}

Ref<NSManagedObjectContext> NSManagedObjectContext::parentContext() const {
    Guard guard(*lock_);
    return state_->parent;
}

void NSManagedObjectContext::setParentContext(const Ref<NSManagedObjectContext>& parent) {
    Guard guard(*lock_);
    // A context may not become its own ancestor.
    for (auto p = parent; p; p = p->parentContext()) {
        if (p.get() == this)
            NSException::raise(NSInvalidArgumentException, "a context cannot be its own ancestor");
    }
    state_->parent = parent;
    if (parent) state_->coordinator = nullptr;
}

Ref<NSManagedObjectModel> NSManagedObjectContext::managedObjectModel() const {
    auto coordinator = persistentStoreCoordinator();
    return coordinator ? coordinator->managedObjectModel() : nullptr;
}

void NSManagedObjectContext::performBlock(std::function<void()> block) {
    if (!block) return;
    auto self = std::static_pointer_cast<NSManagedObjectContext>(this->self());
    if (type_ == NSConfinementConcurrencyType) {
        // A confinement context has no queue of its own; the platform refuses performBlock there.
        NSException::raise(NSInvalidArgumentException, "performBlock: needs a queue-based context");
    }
    dispatch_async(queue_, [self, block = std::move(block)] {
        ActiveScope scope(self.get());
        block();
    });
}

void NSManagedObjectContext::performBlockAndWait(const std::function<void()>& block) {
    if (!block) return;
    bool here = type_ == NSConfinementConcurrencyType ||
                std::find(activeContexts.begin(), activeContexts.end(), this) != activeContexts.end() ||
                (type_ == NSMainQueueConcurrencyType && dispatch_is_main_thread()) ||
                (type_ == NSPrivateQueueConcurrencyType && dispatch_get_specific(&kContextKey) == this);
    if (here) {
        ActiveScope scope(this);
        block();
        return;
    }
    auto self = std::static_pointer_cast<NSManagedObjectContext>(this->self());
    dispatch_sync(queue_, [&] {
        ActiveScope scope(self.get());
        block();
    });
}

NSMergePolicyType NSManagedObjectContext::mergePolicy() const {
    Guard guard(*lock_);
    return state_->mergePolicy;
}
void NSManagedObjectContext::setMergePolicy(NSMergePolicyType policy) {
    Guard guard(*lock_);
    state_->mergePolicy = policy;
}
std::optional<std::string> NSManagedObjectContext::name() const {
    Guard guard(*lock_);
    return state_->name;
}
void NSManagedObjectContext::setName(std::optional<std::string> name) {
    Guard guard(*lock_);
    state_->name = std::move(name);
}

bool NSManagedObjectContext::hasChanges() const {
    Guard guard(*lock_);
    return !state_->inserted.empty() || !state_->updated.empty() || !state_->deleted.empty();
}

std::vector<Ref<NSManagedObject>> NSManagedObjectContext::insertedObjects() const {
    Guard guard(*lock_);
    std::vector<Ref<NSManagedObject>> out;
    out.reserve(state_->inserted.size());
    for (const auto& o : state_->inserted) {
        if (!o->deleted_) out.push_back(o);
    }
    return out;
}
std::vector<Ref<NSManagedObject>> NSManagedObjectContext::updatedObjects() const {
    Guard guard(*lock_);
    std::vector<Ref<NSManagedObject>> out;
    out.reserve(state_->updated.size());
    for (const auto& o : state_->updated) {
        if (!o->deleted_) out.push_back(o);
    }
    return out;
}
std::vector<Ref<NSManagedObject>> NSManagedObjectContext::deletedObjects() const {
    Guard guard(*lock_);
    std::vector<Ref<NSManagedObject>> out;
    for (const auto& o : state_->deleted) {
        if (!o->inserted_) out.push_back(o);
    }
    return out;
}
std::vector<Ref<NSManagedObject>> NSManagedObjectContext::registeredObjects() const {
    Guard guard(*lock_);
    std::vector<Ref<NSManagedObject>> out;
    for (const auto& [id, o] : state_->registered) out.push_back(o);
    return out;
}

void NSManagedObjectContext::insertObject(const Ref<NSManagedObject>& object) {
    if (!object) return;
    Guard guard(*lock_);
    if (object->registered_) return;
    if (!object->objectID_) object->objectID_ = NSPersistentStoreCoordinator::newTemporaryID(object->entity_);
    CoreDataInternals::registerObject(*this, object);
    object->inserted_ = true;
    object->changed_.assign(object->values_.size(), true);
    state_->inserted.push_back(object);
    CoreDataInternals::indexAll(*object);
}

void NSManagedObjectContext::deleteObject(const Ref<NSManagedObject>& object) {
    if (!object) return;
    Guard guard(*lock_);
    if (object->managedObjectContext().get() != this || object->deleted_) return;
    if (object->fault_) CoreDataInternals::fireFault(*object);
    object->deleted_ = true;
    state_->deleted.push_back(object);
    for (const auto& [name, relationship] : object->entity_->relationshipsByName()) {
        auto rule = relationship->deleteRule();
        if (rule == NSNoActionDeleteRule || rule == NSDenyDeleteRule) continue;
        for (const Value& v : relationshipTargets(object->values_[relationship->slot()])) {
            auto id = v.objectAs<NSManagedObjectID>();
            if (!id) continue;
            auto other = CoreDataInternals::objectFor(*this, id);
            if (rule == NSCascadeDeleteRule) {
                deleteObject(other);
            } else if (relationship->inverseRelationship()) {
                RelationshipOps::linkInverse(*object, *relationship, *other, false);
            }
        }
    }
}

void NSManagedObjectContext::reset() {
    Guard guard(*lock_);
    for (auto& [id, o] : state_->registered) {
        o->registered_ = false;
        o->context_.reset();
    }
    state_->registered.clear();
    state_->inserted.clear();
    state_->updated.clear();
    state_->deleted.clear();
    state_->indexes.clear();
}

namespace {
template <class T>
void eraseObject(std::vector<T>& list, const NSManagedObject* o) {
    list.erase(std::remove_if(list.begin(), list.end(), [o](const T& x) { return x.get() == o; }),
               list.end());
}

// Room for `extra` more entries in one step, at least doubling: a parent that takes many small
// saves still grows geometrically.
template <class T>
void makeRoom(std::vector<T>& list, std::size_t extra) {
    const std::size_t needed = list.size() + extra;
    if (needed > list.capacity()) list.reserve(std::max(needed, list.capacity() * 2));
}
template <class K, class V>
void makeRoom(std::unordered_map<K, V>& map, std::size_t extra) {
    const std::size_t needed = map.size() + extra;
    if (static_cast<double>(needed) > static_cast<double>(map.bucket_count()) * map.max_load_factor())
        map.reserve(std::max(needed, map.size() * 2));
}
}  // namespace

void NSManagedObjectContext::refreshObject(const Ref<NSManagedObject>& object, bool mergeChanges) {
    if (!object) return;
    Guard guard(*lock_);
    if (object->managedObjectContext().get() != this || object->inserted_) return;
    if (!mergeChanges || object->fault_) {
        if (object->updated_) eraseObject(state_->updated, object.get());
        object->updated_ = false;
        object->fault_ = true;
        object->changed_.clear();
        return;
    }
    std::vector<Value> fresh;
    if (CoreDataInternals::snapshot(*this, object->objectID_, fresh, false) ==
        CoreDataInternals::Lookup::Missing)
        return;
    fresh.resize(object->values_.size());
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        if (i >= object->changed_.size() || !object->changed_[i]) object->values_[i] = fresh[i];
    }
    CoreDataInternals::indexAll(*object);
}

Ref<NSManagedObject> NSManagedObjectContext::objectWithID(const Ref<NSManagedObjectID>& objectID) {
    if (!objectID) return nullptr;
    return CoreDataInternals::objectFor(*this, objectID);
}

Ref<NSManagedObject>
NSManagedObjectContext::objectRegisteredForID(const Ref<NSManagedObjectID>& objectID) const {
    Guard guard(*lock_);
    auto found = state_->registered.find(objectID.get());
    return found == state_->registered.end() ? nullptr : found->second;
}

Ref<NSManagedObject> NSManagedObjectContext::existingObjectWithID(const Ref<NSManagedObjectID>& objectID,
                                                                  Ref<NSError>* error) {
    auto missing = [&] {
        if (error)
            *error = storeError(NSManagedObjectReferentialIntegrityError,
                                "The object " + (objectID ? objectID->description() : std::string("(nil)")) +
                                    " does not exist.");
        return nullptr;
    };
    if (!objectID) return missing();
    Guard guard(*lock_);
    bool wasRegistered = objectRegisteredForID(objectID) != nullptr;
    auto object = objectWithID(objectID);
    if (object->deleted_) return missing();
    if (object->fault_ && !CoreDataInternals::fireFault(*object)) {
        if (!wasRegistered) {
            object->registered_ = false;
            state_->registered.erase(objectID.get());
        } else {
            object->fault_ = true;
        }
        return missing();
    }
    return object;
}

bool NSManagedObjectContext::obtainPermanentIDsForObjects(const std::vector<Ref<NSManagedObject>>& objects,
                                                          Ref<NSError>* error) {
    auto coordinator = persistentStoreCoordinator();
    if (!coordinator) {
        if (error) *error = storeError(NSPersistentStoreSaveError, "The context has no store coordinator.");
        return false;
    }
    // Ids already permanent stay as they are: only the others go to the coordinator.
    std::vector<Ref<NSManagedObjectID>> ids;
    for (const auto& o : objects) {
        if (o && o->objectID_ && o->objectID_->isTemporaryID()) ids.push_back(o->objectID_);
    }
    return coordinator->obtainPermanentIDs(ids, error);
}

bool NSManagedObjectContext::save(Ref<NSError>* error) {
    auto self = std::static_pointer_cast<NSManagedObjectContext>(this->self());
    if (!hasChanges()) return true;
    NSNotificationCenter::defaultCenter()->postNotificationName(NSManagedObjectContextWillSaveNotification,
                                                                self);

    // The notification's lists, made as arrays once they are whole.
    std::vector<Value> insertedValues, updatedValues, deletedValues;
    {
        Guard guard(*lock_);
        auto& state = *state_;
        std::vector<Ref<NSManagedObject>> updated, deleted, vanished;
        // Ids still temporary, gathered on the same pass (a store save makes them permanent).
        std::vector<Ref<NSManagedObjectID>> temporary;
        // The inserted objects that are not deleted: the context's own list unless some are
        // (the list stays as it is until the save is through).
        std::vector<Ref<NSManagedObject>> kept;
        for (const auto& o : state.inserted) {
            if (o->deleted_) {
                vanished.push_back(o);
                continue;
            }
            if (o->objectID_->isTemporaryID()) temporary.push_back(o->objectID_);
        }
        if (!vanished.empty()) {
            kept.reserve(state.inserted.size() - vanished.size());
            for (const auto& o : state.inserted) {
                if (!o->deleted_) kept.push_back(o);
            }
        }
        const std::vector<Ref<NSManagedObject>>& inserted = vanished.empty() ? state.inserted : kept;
        for (const auto& o : state.updated) {
            if (!o->deleted_ && !o->inserted_) updated.push_back(o);
        }
        for (const auto& o : state.deleted) {
            if (!o->inserted_) deleted.push_back(o);
        }
        for (const auto& o : deleted) {
            for (const auto& [name, r] : o->entity_->relationshipsByName()) {
                if (r->deleteRule() != NSDenyDeleteRule) continue;
                for (const Value& v : relationshipTargets(o->values_[r->slot()])) {
                    auto other = CoreDataInternals::objectFor(*this, v.objectAs<NSManagedObjectID>());
                    if (other && !other->deleted_) {
                        if (error)
                            *error = NSError::errorWithDomain(
                                NSCocoaErrorDomain, NSValidationRelationshipDeniedDeleteError,
                                Dictionary{{NSLocalizedDescriptionKey,
                                            "The relationship " + name + " denies the deletion."}});
                        return false;
                    }
                }
            }
        }

        if (state.parent) {
            auto& parent = *state.parent;
            Guard parentGuard(*parent.lock_);
            auto& ps = *parent.state_;
            // Keeping the parent's look-up indexes up costs an entry per object pushed; when the
            // push is at least as large as what the parent had pending, the indexes go instead
            // and are made again, from all its pending objects, on the next look-up.
            if (!ps.indexes.empty() && inserted.size() >= ps.inserted.size() + ps.updated.size())
                ps.indexes.clear();
            makeRoom(ps.registered, inserted.size());
            makeRoom(ps.inserted, inserted.size());
            // New objects of the parent are of their entity's class, found once per run of one
            // entity.
            const NSEntityDescription* lastEntity = nullptr;
            const NSManagedObjectClass* lastClass = nullptr;
            for (const auto& o : inserted) {
                Ref<NSManagedObject> p;
                if (auto found = ps.registered.find(o->objectID_.get()); found != ps.registered.end()) {
                    p = found->second;
                } else {
                    const auto& entity = o->objectID_->entity();
                    if (entity.get() != lastEntity) {
                        lastEntity = entity.get();
                        lastClass = NSManagedObjectClass::classNamed(entity->managedObjectClassName());
                    }
                    p = CoreDataInternals::instantiate(entity, lastClass);
                    p->objectID_ = o->objectID_;
                    CoreDataInternals::registerObject(parent, p);
                }
                p->fault_ = false;
                p->values_ = o->values_;
                p->changed_.assign(p->values_.size(), true);
                if (p->deleted_) {
                    p->deleted_ = false;
                    eraseObject(ps.deleted, p.get());
                }
                if (!p->inserted_) {
                    p->inserted_ = true;
                    ps.inserted.push_back(p);
                }
                if (!ps.indexes.empty()) CoreDataInternals::indexAll(*p);
            }
            for (const auto& o : updated) {
                auto p = CoreDataInternals::objectFor(parent, o->objectID_);
                if (p->fault_) CoreDataInternals::fireFault(*p);
                p->values_.resize(o->values_.size());
                for (std::size_t i = 0; i < o->values_.size(); ++i) {
                    if (i < o->changed_.size() && o->changed_[i]) {
                        p->values_[i] = o->values_[i];
                        CoreDataInternals::markUpdated(*p, i);
                    }
                }
            }
            for (const auto& o : deleted) {
                auto p = CoreDataInternals::objectFor(parent, o->objectID_);
                if (p->inserted_) {
                    // Never saved beyond the parent: it simply goes.
                    eraseObject(ps.inserted, p.get());
                    eraseObject(ps.updated, p.get());
                    ps.registered.erase(p->objectID_.get());
                    ps.indexes.clear();
                    p->registered_ = false;
                    p->inserted_ = false;
                    p->deleted_ = true;
                } else if (!p->deleted_) {
                    p->deleted_ = true;
                    ps.deleted.push_back(p);
                }
            }
        } else {
            auto coordinator = state.coordinator;
            if (!coordinator) {
                if (error)
                    *error = storeError(NSPersistentStoreSaveError, "The context has no store coordinator.");
                return false;
            }
            std::lock_guard<std::recursive_mutex> storeGuard(coordinator->mutex());
            if (!coordinator->obtainPermanentIDs(temporary, error)) return false;
            std::map<NSPersistentStore*, std::vector<detail::StoreChange>> changes;
            std::map<NSPersistentStore*, Ref<NSPersistentStore>> stores;
            // Objects of one store come in long runs: its list is looked up once per run.
            NSPersistentStore* lastStore = nullptr;
            std::vector<detail::StoreChange>* lastList = nullptr;
            const std::size_t total = inserted.size() + updated.size() + deleted.size();
            auto add = [&](detail::StoreChange::Kind kind, const Ref<NSManagedObject>& o) {
                auto store = o->objectID_->persistentStore();
                if (!store) return;
                if (store.get() != lastStore) {
                    stores[store.get()] = store;
                    lastStore = store.get();
                    lastList = &changes[lastStore];
                    if (lastList->capacity() < total) lastList->reserve(total);
                }
                detail::StoreChange& change = lastList->emplace_back();
                change.kind = kind;
                change.entity = o->entity_.get();
                if (kind == detail::StoreChange::Kind::Delete) {
                    change.row = detail::StoredRow{o->objectID_->referenceKey(), {}};
                } else if (o->entity_->relationshipsByName().empty()) {
                    // Attributes only: the object's values are the row's, written where they are
                    // (the object outlives the write).
                    change.row.key = o->objectID_->referenceKey();
                    change.values = &o->values_;
                } else {
                    change.row = valuesToRow(*o->entity_, o->objectID_->referenceKey(), o->values_);
                }
                if (kind == detail::StoreChange::Kind::Update) change.changed = &o->changed_;
                change.objectID = o->objectID_.get();
            };
            for (const auto& o : inserted) add(detail::StoreChange::Kind::Insert, o);
            for (const auto& o : updated) {
                if (o->fault_) continue;
                add(detail::StoreChange::Kind::Update, o);
            }
            for (const auto& o : deleted) {
                if (!o->objectID_->isTemporaryID()) add(detail::StoreChange::Kind::Delete, o);
            }
            for (auto& [raw, list] : changes) {
                // Stores are written one by one; with several stores a failure in a later one
                // leaves the earlier ones written (each is consistent on its own).
                if (!stores[raw]->backend().apply(list, error)) return false;
            }
        }

        insertedValues.reserve(inserted.size());
        for (const auto& o : inserted) {
            o->inserted_ = false;
            o->changed_.clear();
            insertedValues.emplace_back(o);
        }
        updatedValues.reserve(updated.size());
        for (const auto& o : updated) {
            o->updated_ = false;
            o->changed_.clear();
            updatedValues.emplace_back(o);
        }
        deletedValues.assign(deleted.begin(), deleted.end());
        for (const auto& o : state.deleted) {
            state.registered.erase(o->objectID_.get());
            o->registered_ = false;
        }
        for (const auto& o : vanished) {
            state.registered.erase(o->objectID_.get());
            o->registered_ = false;
            o->inserted_ = false;
        }
        for (const auto& o : state.updated) o->updated_ = false;
        state.inserted.clear();
        state.updated.clear();
        state.deleted.clear();
        state.indexes.clear();
    }
    Dictionary info = Dictionary::mutableDictionary();
    info.setObject(NSInsertedObjectsKey, Array(std::move(insertedValues), true));
    info.setObject(NSUpdatedObjectsKey, Array(std::move(updatedValues), true));
    info.setObject(NSDeletedObjectsKey, Array(std::move(deletedValues), true));
    NSNotificationCenter::defaultCenter()->postNotificationName(NSManagedObjectContextDidSaveNotification,
                                                                self, info);
    return true;
}

void NSManagedObjectContext::mergeChangesFromContextDidSaveNotification(
    const Ref<NSNotification>& notification) {
    if (!notification || !notification->userInfo()) return;
    const Dictionary& info = *notification->userInfo();
    Guard guard(*lock_);
    // Only objects registered here take anything in.
    if (state_->registered.empty()) return;
    for (const char* key : {NSInsertedObjectsKey, NSUpdatedObjectsKey}) {
        const Array* list = info[key].array();
        if (!list) continue;
        for (const Value& v : *list) {
            auto other = v.objectAs<NSManagedObject>();
            if (!other || other->managedObjectContext().get() == this) continue;
            auto mine = objectRegisteredForID(other->objectID());
            if (mine && !mine->fault_) refreshObject(mine, true);
        }
    }
    if (const Array* list = info[NSDeletedObjectsKey].array()) {
        for (const Value& v : *list) {
            auto other = v.objectAs<NSManagedObject>();
            if (!other) continue;
            auto mine = objectRegisteredForID(other->objectID());
            if (!mine || mine.get() == other.get()) continue;
            eraseObject(state_->inserted, mine.get());
            eraseObject(state_->updated, mine.get());
            eraseObject(state_->deleted, mine.get());
            state_->registered.erase(mine->objectID_.get());
            state_->indexes.clear();
            mine->registered_ = false;
            mine->updated_ = mine->inserted_ = false;
            mine->deleted_ = true;
        }
    }
}

// ----- fetching --------------------------------------------------------------------------------

namespace {

Value aggregate(const std::string& function, const std::vector<Value>& values, NSAttributeType resultType) {
    std::vector<Value> present;
    for (const Value& v : values) {
        if (v.isSomething()) present.push_back(v);
    }
    Value result;
    if (function == "count:") {
        result = Value(static_cast<long long>(present.size()));
    } else if (function == "min:" || function == "max:") {
        for (const Value& v : present) {
            if (!result.isSomething()) {
                result = v;
                continue;
            }
            int order = NSSortDescriptor::compareValues(v, result);
            if ((function == "min:" && order < 0) || (function == "max:" && order > 0)) result = v;
        }
    } else if (function == "sum:" || function == "average:") {
        bool integral = true;
        long long isum = 0;
        double dsum = 0;
        for (const Value& v : present) {
            const NSNumber* n = v.number();
            if (!n) continue;
            if (n->isReal()) integral = false;
            isum += n->longLongValue();
            dsum += n->doubleValue();
        }
        if (function == "average:") {
            result = present.empty() ? Value() : Value(dsum / static_cast<double>(present.size()));
        } else {
            result = integral ? Value(isum) : Value(dsum);
        }
    }
    if (!result.isNumber()) return result;
    switch (resultType) {
        case NSInteger16AttributeType:
            return NSNumber::numberWithShort(static_cast<short>(result.longLongValue()));
        case NSInteger32AttributeType:
            return NSNumber::numberWithInt(static_cast<int>(result.longLongValue()));
        case NSInteger64AttributeType:
            return Value(result.longLongValue());
        case NSBooleanAttributeType:
            return Value(result.boolValue());
        case NSDoubleAttributeType:
        case NSDecimalAttributeType:
            return Value(result.doubleValue());
        case NSFloatAttributeType:
            return Value(result.floatValue());
        default:
            return result;
    }
}

// The value of one property or expression of a dictionary fetch over a group of objects.
Value columnValue(const Value& property, const std::vector<Ref<NSManagedObject>>& group, std::string& name) {
    if (auto expression = property.objectAs<NSExpressionDescription>()) {
        name = expression->name();
        auto e = expression->expression();
        if (!e) return Value();
        if (e->kind() == NSExpression::Kind::Function) {
            std::vector<Value> values;
            std::string keyPath =
                e->arguments().empty() || !e->arguments()[0] ? std::string() : e->arguments()[0]->keyPath();
            for (const auto& o : group) values.push_back(o->valueForKeyPath(keyPath));
            return aggregate(e->function(), values, expression->expressionResultType());
        }
        if (e->kind() == NSExpression::Kind::KeyPath)
            return group.empty() ? Value() : group.front()->valueForKeyPath(e->keyPath());
        return e->constantValue();
    }
    if (auto description = property.objectAs<NSPropertyDescription>()) {
        name = description->name();
    } else {
        name = property.stringValue();
    }
    return group.empty() ? Value() : group.front()->valueForKeyPath(name);
}

}  // namespace

std::optional<Array> NSManagedObjectContext::executeFetchRequest(const Ref<NSFetchRequest>& request,
                                                                 Ref<NSError>* error) {
    if (!request) {
        if (error) *error = storeError(NSPersistentStoreOperationError, "No fetch request.");
        return std::nullopt;
    }
    Guard guard(*lock_);
    // Objects changed anywhere up the chain are judged by their current values, not the store's.
    // The chain stays locked (child before parent, as everywhere) until the stores are read.
    ShortList<NSManagedObjectContext*, 8> chain;
    ShortList<std::unique_lock<std::recursive_mutex>, 8> chainLocks;
    bool anyChanges = false;
    for (NSManagedObjectContext* c = this; c; c = c->state_->parent.get()) {
        if (c != this) chainLocks.push_back(std::unique_lock<std::recursive_mutex>(*c->lock_));
        chain.push_back(c);
        const auto& st = *c->state_;
        anyChanges = anyChanges || !st.inserted.empty() || !st.updated.empty() || !st.deleted.empty();
    }
    // The chain's root is the context with the coordinator, if any has one.
    Ref<NSPersistentStoreCoordinator> coordinator = chain.back()->state_->coordinator;
    Ref<NSEntityDescription> entity = request->entity();
    if (!entity && coordinator) {
        if (auto model = coordinator->managedObjectModel())
            entity = model->entitiesByName()[request->entityName()];
    }
    if (!entity || !coordinator) {
        if (error)
            *error = storeError(NSPersistentStoreOperationError, "The fetch request has no entity \"" +
                                                                     request->entityName() +
                                                                     "\" in this context.");
        return std::nullopt;
    }
    for (const auto* list : {&request->propertiesToFetch(), &request->propertiesToGroupBy()}) {
        for (const Value& p : *list) {
            if (p.isString() && !entity->propertiesByName().find(*p.string())) {
                if (error)
                    *error =
                        storeError(NSPersistentStoreOperationError,
                                   "The entity " + entity->name() + " has no property " + *p.string() + ".");
                return std::nullopt;
            }
        }
    }

    // A sort by a key path the model cannot follow would quietly come back unsorted.
    for (const auto& sort : request->sortDescriptors()) {
        if (!sort) continue;
        if (auto problem = sortKeyPathProblem(*entity, sort->key())) {
            if (error) *error = storeError(NSPersistentStoreOperationError, *problem);
            return std::nullopt;
        }
    }

    auto changedInChain = [&](const NSManagedObjectID* id) {
        for (auto* c : chain) {
            const auto& registered = c->state_->registered;
            auto found = registered.find(id);
            if (found != registered.end() &&
                (found->second->inserted_ || found->second->updated_ || found->second->deleted_))
                return true;
        }
        return false;
    };
    std::vector<Ref<NSManagedObjectID>> dirty;
    std::set<const NSManagedObjectID*> dirtySet;
    if (anyChanges) {
        auto equality = equalityOf(request->predicate(), *entity);
        for (auto* c : chain) {
            auto& st = *c->state_;
            if (equality) {
                // Only the changed objects holding the value, through the context's index.
                const std::size_t slot = equality->first;
                auto key = std::make_pair(static_cast<const NSEntityDescription*>(entity.get()), slot);
                auto index = st.indexes.find(key);
                if (index == st.indexes.end()) {
                    index = st.indexes.emplace(key, ObjectIndex()).first;
                    for (const auto* list : {&st.inserted, &st.updated}) {
                        for (const auto& o : *list) {
                            if (o->entity_ == entity) index->second.add(o->values_[slot].hash(), o.get());
                        }
                    }
                }
                index->second.forEach(equality->second.hash(), [&](NSManagedObject* o) {
                    if (!o->registered_ || o->deleted_ || !(o->inserted_ || o->updated_)) return;
                    if (!(o->values_[slot] == equality->second)) return;
                    if (dirtySet.insert(o->objectID_.get()).second) dirty.push_back(o->objectID_);
                });
                continue;
            }
            for (const auto* list : {&st.inserted, &st.updated, &st.deleted}) {
                for (const auto& o : *list) {
                    if (o->entity_ == entity && dirtySet.insert(o->objectID_.get()).second)
                        dirty.push_back(o->objectID_);
                }
            }
        }
        // Pending objects come in the order they were made.
        std::stable_sort(dirty.begin(), dirty.end(),
                         [](const auto& a, const auto& b) { return a->serial() < b->serial(); });
    }

    const Ref<NSPredicate>& predicate = request->predicate();
    std::vector<Ref<NSPersistentStore>> stores;
    // A request for no store at all (pending changes only) reads none.
    if (const auto& affected = request->affectedStores(); !affected || !affected->empty()) {
        stores = coordinator->persistentStores();
        if (affected) {
            std::erase_if(stores, [&](const Ref<NSPersistentStore>& store) {
                return std::find(affected->begin(), affected->end(), store) == affected->end();
            });
        }
    }
    detail::StoreQuery query;
    bool filterInMemory = false;
    if (predicate && !stores.empty()) {
        std::string where;
        if (SQLTranslator(*entity).translate(predicate->rootNode(), where, query.binds)) {
            query.where = where;
        } else {
            query.binds.clear();
            filterInMemory = true;
        }
    }
    std::string orderBy;
    bool sortInSQL = orderBySQL(*entity, request->sortDescriptors(), orderBy);
    bool pageInSQL = !anyChanges && !filterInMemory && sortInSQL && stores.size() == 1 &&
                     request->resultType() != NSDictionaryResultType;
    if (sortInSQL) query.orderBy = orderBy;
    if (pageInSQL) {
        query.limit = request->fetchLimit();
        query.offset = request->fetchOffset();
    }

    std::vector<Ref<NSManagedObject>> objects;
    if (!stores.empty()) {
        std::lock_guard<std::recursive_mutex> storeGuard(coordinator->mutex());
        for (const auto& store : stores) {
            std::vector<detail::StoredRow> rows;
            if (!store->backend().fetch(*entity, query, rows, error)) return std::nullopt;
            if (rows.empty()) continue;
            objects.reserve(objects.size() + rows.size());
            auto& registered = state_->registered;
            // Growing only: a reserve below the table's size would rehash it on every fetch.
            makeRoom(registered, rows.size());
            // The entity's class, looked up once for all its rows.
            const NSManagedObjectClass* cls =
                NSManagedObjectClass::classNamed(entity->managedObjectClassName());
            for (auto& row : rows) {
                auto id = coordinator->objectIDFor(entity, store, row.key);
                if (anyChanges && changedInChain(id.get())) continue;
                auto found = registered.find(id.get());
                Ref<NSManagedObject> object;
                if (found != registered.end()) {
                    object = found->second;
                    if (object->fault_) {
                        rowToValues(*coordinator, store, *entity, row, object->values_);
                        object->fault_ = false;
                        object->changed_.clear();
                    }
                } else {
                    object = CoreDataInternals::instantiate(entity, cls);
                    object->objectID_ = id;
                    rowToValues(*coordinator, store, *entity, row, object->values_);
                    CoreDataInternals::registerObject(*this, object);
                }
                objects.push_back(std::move(object));
            }
        }
    }
    chainLocks.clear();
    for (const auto& id : dirty) {
        auto object = CoreDataInternals::objectFor(*this, id);
        if (object->fault_ && !CoreDataInternals::fireFault(*object)) continue;
        // Registered here, with its values and not deleted: it exists for this context.
        if (object->deleted_) continue;
        if (predicate && !predicate->evaluateWithObject(Value(object))) continue;
        objects.push_back(object);
    }
    if (filterInMemory) {
        std::vector<Ref<NSManagedObject>> kept;
        for (auto& o : objects) {
            if (dirtySet.count(o->objectID_.get()) || predicate->evaluateWithObject(Value(o)))
                kept.push_back(std::move(o));
        }
        objects = std::move(kept);
    }
    if (!pageInSQL) {
        if (!request->sortDescriptors().empty() && (!sortInSQL || anyChanges || stores.size() > 1)) {
            Array list(std::vector<Value>(objects.begin(), objects.end()));
            Array sorted = NSSortDescriptor::sortedArrayUsingDescriptors(list, request->sortDescriptors());
            objects.clear();
            for (const Value& v : sorted) objects.push_back(v.objectAs<NSManagedObject>());
        }
        if (request->resultType() != NSDictionaryResultType) {
            std::size_t offset = std::min(request->fetchOffset(), objects.size());
            objects.erase(objects.begin(), objects.begin() + static_cast<long>(offset));
            if (request->fetchLimit() && objects.size() > request->fetchLimit())
                objects.resize(request->fetchLimit());
        }
    }

    std::vector<Value> result;
    switch (request->resultType()) {
        case NSManagedObjectIDResultType:
            for (const auto& o : objects) result.push_back(o->objectID_);
            break;
        case NSCountResultType:
            result.push_back(Value(static_cast<unsigned long>(objects.size())));
            break;
        case NSDictionaryResultType: {
            std::vector<Value> properties = request->propertiesToFetch();
            if (properties.empty()) {
                for (const auto& [name, a] : entity->attributesByName()) properties.push_back(Value(name));
            }
            bool aggregates = false;
            for (const Value& p : properties) {
                if (auto e = p.objectAs<NSExpressionDescription>();
                    e && e->expression() && e->expression()->kind() == NSExpression::Kind::Function)
                    aggregates = true;
            }
            const auto& groupBy = request->propertiesToGroupBy();
            std::vector<std::vector<Ref<NSManagedObject>>> groups;
            if (!groupBy.empty()) {
                std::vector<std::vector<Value>> groupKeys;
                for (const auto& o : objects) {
                    std::vector<Value> key;
                    for (const Value& g : groupBy) {
                        std::string name;
                        key.push_back(columnValue(g, {o}, name));
                    }
                    std::size_t i = 0;
                    for (; i < groupKeys.size(); ++i) {
                        if (groupKeys[i] == key) break;
                    }
                    if (i == groupKeys.size()) {
                        groupKeys.push_back(key);
                        groups.emplace_back();
                    }
                    groups[i].push_back(o);
                }
            } else if (aggregates) {
                groups.push_back(objects);
            } else {
                for (const auto& o : objects) groups.push_back({o});
            }
            for (const auto& group : groups) {
                Dictionary row = Dictionary::mutableDictionary();
                for (const Value& p : properties) {
                    std::string name;
                    Value v = columnValue(p, group, name);
                    if (auto o = v.objectAs<NSManagedObject>()) v = o->objectID();
                    row.setObject(name, v);
                }
                result.push_back(row);
            }
            std::size_t offset = std::min(request->fetchOffset(), result.size());
            result.erase(result.begin(), result.begin() + static_cast<long>(offset));
            if (request->fetchLimit() && result.size() > request->fetchLimit())
                result.resize(request->fetchLimit());
            break;
        }
        default:
            result.assign(objects.begin(), objects.end());
            break;
    }
    return Array(std::move(result), true);
}

std::size_t NSManagedObjectContext::countForFetchRequest(const Ref<NSFetchRequest>& request,
                                                         Ref<NSError>* error) {
    if (!request) return NSNotFound;
    auto counting = NSFetchRequest::fetchRequestWithEntityName(request->entityName());
    if (request->entity()) counting->setEntity(request->entity());
    counting->setPredicate(request->predicate());
    counting->setFetchLimit(request->fetchLimit());
    counting->setFetchOffset(request->fetchOffset());
    auto result = executeFetchRequest(counting, error);
    return result ? result->count() : NSNotFound;
}

std::string NSManagedObjectContext::description() const {
    const char* kind = type_ == NSMainQueueConcurrencyType      ? "main queue"
                       : type_ == NSPrivateQueueConcurrencyType ? "private queue"
                                                                : "confinement";
    return "<NSManagedObjectContext: " + std::string(kind) + ">";
}
