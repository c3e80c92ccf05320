#pragma once
// Fetch requests: an entity, a predicate (foundation/NSPredicate.h), sort descriptors, a limit
// and an offset, a batch size (kept, with no visible effect: results come whole), and the result
// kind: managed objects, or dictionaries of chosen properties and expressions (aggregates),
// optionally grouped by properties.
//
// NSExpression covers what dictionary fetches need: a key path, a constant, and the functions
// "sum:", "min:", "max:", "average:" and "count:" over a key path.

#include <optional>
#include <string>
#include <vector>

#include "coredata/NSManagedObjectModel.h"
#include "foundation/NSPredicate.h"
#include "foundation/NSSortDescriptor.h"
#include "foundation/Value.h"

class NSExpression : public NSObject {
  public:
    enum class Kind { KeyPath, Constant, Function };

    static Ref<NSExpression> expressionForKeyPath(std::string keyPath);
    static Ref<NSExpression> expressionForConstantValue(Value value);
    // nullptr for a function this platform does not know.
    static Ref<NSExpression> expressionForFunction(const std::string& function,
                                                   std::vector<Ref<NSExpression>> arguments);

    Kind kind() const { return kind_; }
    const std::string& keyPath() const { return keyPath_; }
    const Value& constantValue() const { return constant_; }
    const std::string& function() const { return function_; }
    const std::vector<Ref<NSExpression>>& arguments() const { return arguments_; }

    std::string className() const override { return "NSExpression"; }
    std::string description() const override;

  private:
    Kind kind_ = Kind::Constant;
    std::string keyPath_;
    Value constant_;
    std::string function_;
    std::vector<Ref<NSExpression>> arguments_;
};

enum NSFetchRequestResultType : unsigned long {
    NSManagedObjectResultType = 0x00,
    NSManagedObjectIDResultType = 0x01,
    NSDictionaryResultType = 0x02,
    NSCountResultType = 0x04,
};

class NSPersistentStore;

class NSFetchRequest : public NSObject {
  public:
    NSFetchRequest() = default;
    static Ref<NSFetchRequest> fetchRequestWithEntityName(const std::string& entityName);

    const Ref<NSEntityDescription>& entity() const { return entity_; }
    void setEntity(Ref<NSEntityDescription> entity);
    // The entity's name, or the name the request was made with.
    const std::string& entityName() const { return entityName_; }

    const Ref<NSPredicate>& predicate() const { return predicate_; }
    void setPredicate(Ref<NSPredicate> predicate) { predicate_ = std::move(predicate); }
    const std::vector<Ref<NSSortDescriptor>>& sortDescriptors() const { return sortDescriptors_; }
    void setSortDescriptors(std::vector<Ref<NSSortDescriptor>> sorts) { sortDescriptors_ = std::move(sorts); }
    // 0: no limit.
    std::size_t fetchLimit() const { return fetchLimit_; }
    void setFetchLimit(std::size_t limit) { fetchLimit_ = limit; }
    std::size_t fetchOffset() const { return fetchOffset_; }
    void setFetchOffset(std::size_t offset) { fetchOffset_ = offset; }
    std::size_t fetchBatchSize() const { return fetchBatchSize_; }
    void setFetchBatchSize(std::size_t size) { fetchBatchSize_ = size; }
    NSFetchRequestResultType resultType() const { return resultType_; }
    void setResultType(NSFetchRequestResultType type) { resultType_ = type; }
    // Attribute names (strings), property descriptions or expression descriptions; for
    // dictionary results. Empty: every attribute.
    const std::vector<Value>& propertiesToFetch() const { return propertiesToFetch_; }
    void setPropertiesToFetch(std::vector<Value> properties) { propertiesToFetch_ = std::move(properties); }
    const std::vector<Value>& propertiesToGroupBy() const { return propertiesToGroupBy_; }
    void setPropertiesToGroupBy(std::vector<Value> properties) {
        propertiesToGroupBy_ = std::move(properties);
    }
    // The stores the request reads; nullopt (the default) for all of the coordinator's. An empty
    // list reads no store: only the pending changes of the context and its ancestors answer.
    const std::optional<std::vector<Ref<NSPersistentStore>>>& affectedStores() const {
        return affectedStores_;
    }
    void setAffectedStores(std::optional<std::vector<Ref<NSPersistentStore>>> stores) {
        affectedStores_ = std::move(stores);
    }

    // Faulting hints, kept and not acted upon.
    bool returnsObjectsAsFaults() const { return returnsObjectsAsFaults_; }
    void setReturnsObjectsAsFaults(bool v) { returnsObjectsAsFaults_ = v; }
    bool includesPropertyValues() const { return includesPropertyValues_; }
    void setIncludesPropertyValues(bool v) { includesPropertyValues_ = v; }

    std::string className() const override { return "NSFetchRequest"; }
    std::string description() const override;

  private:
    Ref<NSEntityDescription> entity_;
    std::string entityName_;
    Ref<NSPredicate> predicate_;
    std::vector<Ref<NSSortDescriptor>> sortDescriptors_;
    std::size_t fetchLimit_ = 0;
    std::size_t fetchOffset_ = 0;
    std::size_t fetchBatchSize_ = 0;
    NSFetchRequestResultType resultType_ = NSManagedObjectResultType;
    std::vector<Value> propertiesToFetch_;
    std::vector<Value> propertiesToGroupBy_;
    std::optional<std::vector<Ref<NSPersistentStore>>> affectedStores_;
    bool returnsObjectsAsFaults_ = true;
    bool includesPropertyValues_ = true;
};

class NSManagedObjectContext;

// The delegate of a results controller (kept weakly; this platform tracks no changes, so it is
// never called).
class NSFetchedResultsControllerDelegate {
  public:
    virtual ~NSFetchedResultsControllerDelegate() = default;
};

// The results of one request in one context, split into sections by a key path.
class NSFetchedResultsController : public NSObject {
  public:
    struct Section {
        std::string name;
        Array objects;
    };

    NSFetchedResultsController(Ref<NSFetchRequest> request, Ref<NSManagedObjectContext> context,
                               std::optional<std::string> sectionNameKeyPath,
                               std::optional<std::string> cacheName);

    const Ref<NSFetchRequest>& fetchRequest() const { return request_; }
    const Ref<NSManagedObjectContext>& managedObjectContext() const { return context_; }
    const std::optional<std::string>& sectionNameKeyPath() const { return sectionNameKeyPath_; }
    const std::optional<std::string>& cacheName() const { return cacheName_; }
    Weak<NSObject> delegate() const { return delegate_; }
    void setDelegate(Weak<NSObject> delegate) { delegate_ = std::move(delegate); }

    bool performFetch(Ref<NSError>* error = nullptr);
    // Empty before the first fetch.
    const Array& fetchedObjects() const { return fetched_; }
    const std::vector<Section>& sections() const { return sections_; }

    std::string className() const override { return "NSFetchedResultsController"; }

  private:
    Ref<NSFetchRequest> request_;
    Ref<NSManagedObjectContext> context_;
    std::optional<std::string> sectionNameKeyPath_;
    std::optional<std::string> cacheName_;
    Weak<NSObject> delegate_;
    Array fetched_;
    std::vector<Section> sections_;
};
