#pragma once
// Class-level queries of managed-object classes: fetch requests from an entity, a predicate,
// sort terms and a batch size; finders that run them; results controllers; counts and
// aggregates; creating, deleting and moving objects between contexts.
//
// The receiving class is passed first (a registered NSManagedObjectClass); its entity is the one
// named by the class's entityName hook, else by the class name's last "."-separated part. Each
// operation that takes a context has a form without it that uses the current thread's context
// (NSManagedObjectContext_DataThreading::DR_contextForCurrentThread). Fetches run inside
// performBlockAndWait on their context, so finders may be called from any thread; failures go
// to DataRecord::handleErrors and give nothing (nullopt, nullptr).
//
// Sort terms are a text of keys separated by ","; a key may end in ":YES" or ":NO", which sets
// the direction for it and every later key (`name,age:NO,city` sorts name ascending, age and
// city descending when `ascending` is true).

#include <optional>
#include <string>
#include <vector>

#include "coredata/NSManagedObjectContext.h"

namespace NSManagedObject_DataRecord {
std::size_t DR_defaultBatchSize();
void DR_setDefaultBatchSize(std::size_t size);
std::string DR_entityName(const NSManagedObjectClass* cls);
Ref<NSEntityDescription> DR_entityDescriptionInContext(const NSManagedObjectClass* cls,
                                                       const Ref<NSManagedObjectContext>& context);
Ref<NSEntityDescription> DR_entityDescription(const NSManagedObjectClass* cls);

std::optional<Array> DR_executeFetchRequest(const Ref<NSFetchRequest>& request,
                                            const Ref<NSManagedObjectContext>& context);
std::optional<Array> DR_executeFetchRequest(const Ref<NSFetchRequest>& request);
// Sets the request's fetch limit to 1 (the caller's request changes).
Ref<NSManagedObject> DR_executeFetchRequestAndReturnFirstObject(const Ref<NSFetchRequest>& request,
                                                                const Ref<NSManagedObjectContext>& context);
Ref<NSManagedObject> DR_executeFetchRequestAndReturnFirstObject(const Ref<NSFetchRequest>& request);
bool DR_performFetch(const Ref<NSFetchedResultsController>& controller);

// nullptr when the class's entity is not in the model; a nil context uses the current thread's.
// A caller that has found the class's entity in the context already may pass it.
Ref<NSManagedObject> DR_createEntityInContext(const NSManagedObjectClass* cls,
                                              const Ref<NSManagedObjectContext>& context,
                                              const Ref<NSEntityDescription>& foundEntity = nullptr);
Ref<NSManagedObject> DR_createEntity(const NSManagedObjectClass* cls);
Ref<NSManagedObject> DR_createInContext(const NSManagedObjectClass* cls,
                                        const Ref<NSManagedObjectContext>& context);

// NO when the object cannot be found in the context (the lookup error goes to handleErrors).
bool DR_deleteEntityInContext(const Ref<NSManagedObject>& object, const Ref<NSManagedObjectContext>& context);
bool DR_deleteEntity(const Ref<NSManagedObject>& object);
bool DR_deleteInContext(const Ref<NSManagedObject>& object, const Ref<NSManagedObjectContext>& context);
// NO when the fetch failed or an object could not be deleted.
bool DR_deleteAllMatchingPredicate(const NSManagedObjectClass* cls, const Ref<NSPredicate>& predicate,
                                   const Ref<NSManagedObjectContext>& context);
bool DR_deleteAllMatchingPredicate(const NSManagedObjectClass* cls, const Ref<NSPredicate>& predicate);
bool DR_truncateAllInContext(const NSManagedObjectClass* cls, const Ref<NSManagedObjectContext>& context);
bool DR_truncateAll(const NSManagedObjectClass* cls);

Ref<NSManagedObject> DR_inContext(const Ref<NSManagedObject>& object,
                                  const Ref<NSManagedObjectContext>& context);
Ref<NSManagedObject> DR_inThreadContext(const Ref<NSManagedObject>& object);

std::vector<Ref<NSPropertyDescription>>
DR_propertiesNamed(const NSManagedObjectClass* cls, const std::optional<std::vector<std::string>>& names,
                   const Ref<NSManagedObjectContext>& context);
std::vector<Ref<NSPropertyDescription>>
DR_propertiesNamed(const NSManagedObjectClass* cls, const std::optional<std::vector<std::string>>& names);
std::vector<Ref<NSSortDescriptor>> DR_sortAscending(bool ascending, const std::vector<std::string>& keys);
std::vector<Ref<NSSortDescriptor>> DR_ascendingSortDescriptors(const std::vector<std::string>& keys);
std::vector<Ref<NSSortDescriptor>> DR_descendingSortDescriptors(const std::vector<std::string>& keys);
}  // namespace NSManagedObject_DataRecord

namespace NSManagedObject_DataRequests {
using Cls = const NSManagedObjectClass*;
using Ctx = Ref<NSManagedObjectContext>;
Ref<NSFetchRequest> DR_createFetchRequest(Cls cls, const Ctx& context);
Ref<NSFetchRequest> DR_createFetchRequest(Cls cls);
Ref<NSFetchRequest> DR_requestAll(Cls cls, const Ctx& context);
Ref<NSFetchRequest> DR_requestAll(Cls cls);
Ref<NSFetchRequest> DR_requestAllWithPredicate(Cls cls, const Ref<NSPredicate>& predicate,
                                               const Ctx& context);
Ref<NSFetchRequest> DR_requestAllWithPredicate(Cls cls, const Ref<NSPredicate>& predicate);
Ref<NSFetchRequest> DR_requestAllWhere(Cls cls, const std::string& attribute, const Value& value,
                                       const Ctx& context);
Ref<NSFetchRequest> DR_requestAllWhere(Cls cls, const std::string& attribute, const Value& value);
Ref<NSFetchRequest> DR_requestFirstWithPredicate(Cls cls, const Ref<NSPredicate>& predicate,
                                                 const Ctx& context);
Ref<NSFetchRequest> DR_requestFirstWithPredicate(Cls cls, const Ref<NSPredicate>& predicate);
Ref<NSFetchRequest> DR_requestFirstByAttribute(Cls cls, const std::string& attribute, const Value& value,
                                               const Ctx& context);
Ref<NSFetchRequest> DR_requestFirstByAttribute(Cls cls, const std::string& attribute, const Value& value);
Ref<NSFetchRequest> DR_requestAllSortedBy(Cls cls, const std::string& sortTerms, bool ascending,
                                          const Ctx& context);
Ref<NSFetchRequest> DR_requestAllSortedBy(Cls cls, const std::string& sortTerms, bool ascending);
Ref<NSFetchRequest> DR_requestAllSortedByWithPredicate(Cls cls, const std::string& sortTerms, bool ascending,
                                                       const Ref<NSPredicate>& predicate, const Ctx& context);
Ref<NSFetchRequest> DR_requestAllSortedByWithPredicate(Cls cls, const std::string& sortTerms, bool ascending,
                                                       const Ref<NSPredicate>& predicate);
}  // namespace NSManagedObject_DataRequests

namespace NSManagedObject_DataFinders {
using Cls = const NSManagedObjectClass*;
using Ctx = Ref<NSManagedObjectContext>;
using Found = std::optional<Array>;
Found DR_findAllInContext(Cls cls, const Ctx& context);
Found DR_findAll(Cls cls);
Found DR_findAllSortedBy(Cls cls, const std::string& sortTerms, bool ascending, const Ctx& context);
Found DR_findAllSortedBy(Cls cls, const std::string& sortTerms, bool ascending);
Found DR_findAllSortedByWithPredicate(Cls cls, const std::string& sortTerms, bool ascending,
                                      const Ref<NSPredicate>& predicate, const Ctx& context);
Found DR_findAllSortedByWithPredicate(Cls cls, const std::string& sortTerms, bool ascending,
                                      const Ref<NSPredicate>& predicate);
Found DR_findAllWithPredicate(Cls cls, const Ref<NSPredicate>& predicate, const Ctx& context);
Found DR_findAllWithPredicate(Cls cls, const Ref<NSPredicate>& predicate);
Found DR_findByAttribute(Cls cls, const std::string& attribute, const Value& value, const Ctx& context);
Found DR_findByAttribute(Cls cls, const std::string& attribute, const Value& value);
Found DR_findByAttributeAndOrderBy(Cls cls, const std::string& attribute, const Value& value,
                                   const std::string& orderBy, bool ascending, const Ctx& context);
Found DR_findByAttributeAndOrderBy(Cls cls, const std::string& attribute, const Value& value,
                                   const std::string& orderBy, bool ascending);
Ref<NSManagedObject> DR_findFirstInContext(Cls cls, const Ctx& context);
Ref<NSManagedObject> DR_findFirst(Cls cls);
Ref<NSManagedObject> DR_findFirstByAttribute(Cls cls, const std::string& attribute, const Value& value,
                                             const Ctx& context);
Ref<NSManagedObject> DR_findFirstByAttribute(Cls cls, const std::string& attribute, const Value& value);
Ref<NSManagedObject> DR_findFirstOrderedByAttribute(Cls cls, const std::string& attribute, bool ascending,
                                                    const Ctx& context);
Ref<NSManagedObject> DR_findFirstOrderedByAttribute(Cls cls, const std::string& attribute, bool ascending);
Ref<NSManagedObject> DR_findFirstWithPredicate(Cls cls, const Ref<NSPredicate>& predicate,
                                               const Ctx& context);
Ref<NSManagedObject> DR_findFirstWithPredicate(Cls cls, const Ref<NSPredicate>& predicate);
Ref<NSManagedObject> DR_findFirstWithPredicateSortedBy(Cls cls, const Ref<NSPredicate>& predicate,
                                                       const std::string& sortTerms, bool ascending,
                                                       const Ctx& context);
Ref<NSManagedObject> DR_findFirstWithPredicateSortedBy(Cls cls, const Ref<NSPredicate>& predicate,
                                                       const std::string& sortTerms, bool ascending);
// The found object (properties to fetch limit only dictionary fetches here).
Ref<NSManagedObject> DR_findFirstWithPredicateAndRetrieveAttributes(Cls cls,
                                                                    const Ref<NSPredicate>& predicate,
                                                                    const std::vector<Value>& attributes,
                                                                    const Ctx& context);
Ref<NSManagedObject> DR_findFirstWithPredicateAndRetrieveAttributes(Cls cls,
                                                                    const Ref<NSPredicate>& predicate,
                                                                    const std::vector<Value>& attributes);
Ref<NSManagedObject> DR_findFirstWithPredicateSortedByAndRetrieveAttributes(
    Cls cls, const Ref<NSPredicate>& predicate, const std::string& sortTerms, bool ascending,
    const Ctx& context, const std::vector<std::string>& attributes);
Ref<NSManagedObject>
DR_findFirstWithPredicateSortedByAndRetrieveAttributes(Cls cls, const Ref<NSPredicate>& predicate,
                                                       const std::string& sortTerms, bool ascending,
                                                       const std::vector<std::string>& attributes);
Ref<NSManagedObject> DR_findFirstOrCreateByAttribute(Cls cls, const std::string& attribute,
                                                     const Value& value, const Ctx& context);
Ref<NSManagedObject> DR_findFirstOrCreateByAttribute(Cls cls, const std::string& attribute,
                                                     const Value& value);

using Delegate = Weak<NSObject>;
using Controller = Ref<NSFetchedResultsController>;
Controller DR_fetchController(Cls cls, const Ref<NSFetchRequest>& request, const Delegate& delegate,
                              bool useFileCache, const std::optional<std::string>& groupBy,
                              const Ctx& context);
Controller DR_fetchAllWithDelegate(Cls cls, const Delegate& delegate, const Ctx& context);
Controller DR_fetchAllWithDelegate(Cls cls, const Delegate& delegate);
Controller DR_fetchAllGroupedBy(Cls cls, const std::optional<std::string>& group,
                                const Ref<NSPredicate>& predicate, const std::string& sortTerms,
                                bool ascending, const Delegate& delegate, const Ctx& context);
Controller DR_fetchAllGroupedBy(Cls cls, const std::optional<std::string>& group,
                                const Ref<NSPredicate>& predicate, const std::string& sortTerms,
                                bool ascending, const Delegate& delegate);
Controller DR_fetchAllGroupedByWithoutDelegate(Cls cls, const std::optional<std::string>& group,
                                               const Ref<NSPredicate>& predicate,
                                               const std::string& sortTerms, bool ascending,
                                               const Ctx& context);
Controller DR_fetchAllGroupedByWithoutDelegate(Cls cls, const std::optional<std::string>& group,
                                               const Ref<NSPredicate>& predicate,
                                               const std::string& sortTerms, bool ascending);
Controller DR_fetchAllSortedBy(Cls cls, const std::string& sortTerms, bool ascending,
                               const Ref<NSPredicate>& predicate, const std::optional<std::string>& groupBy,
                               const Ctx& context);
Controller DR_fetchAllSortedBy(Cls cls, const std::string& sortTerms, bool ascending,
                               const Ref<NSPredicate>& predicate, const std::optional<std::string>& groupBy);
Controller DR_fetchAllSortedByWithDelegate(Cls cls, const std::string& sortTerms, bool ascending,
                                           const Ref<NSPredicate>& predicate,
                                           const std::optional<std::string>& groupBy,
                                           const Delegate& delegate, const Ctx& context);
Controller DR_fetchAllSortedByWithDelegate(Cls cls, const std::string& sortTerms, bool ascending,
                                           const Ref<NSPredicate>& predicate,
                                           const std::optional<std::string>& groupBy,
                                           const Delegate& delegate);
}  // namespace NSManagedObject_DataFinders

namespace NSManagedObject_DataAggregation {
using Cls = const NSManagedObjectClass*;
using Ctx = Ref<NSManagedObjectContext>;
std::size_t DR_countOfEntities(Cls cls);
std::size_t DR_countOfEntitiesWithContext(Cls cls, const Ctx& context);
std::size_t DR_countOfEntitiesWithPredicate(Cls cls, const Ref<NSPredicate>& predicate, const Ctx& context);
std::size_t DR_countOfEntitiesWithPredicate(Cls cls, const Ref<NSPredicate>& predicate);
Value DR_numberOfEntities(Cls cls);
Value DR_numberOfEntitiesWithContext(Cls cls, const Ctx& context);
Value DR_numberOfEntitiesWithPredicate(Cls cls, const Ref<NSPredicate>& predicate, const Ctx& context);
Value DR_numberOfEntitiesWithPredicate(Cls cls, const Ref<NSPredicate>& predicate);
bool DR_hasAtLeastOneEntity(Cls cls);
bool DR_hasAtLeastOneEntityInContext(Cls cls, const Ctx& context);
// `function` is "sum:", "min:", "max:", "average:" or "count:".
Value DR_aggregateOperation(Cls cls, const std::string& function, const std::string& attribute,
                            const Ref<NSPredicate>& predicate, const Ctx& context);
Value DR_aggregateOperation(Cls cls, const std::string& function, const std::string& attribute,
                            const Ref<NSPredicate>& predicate);
std::optional<Array> DR_aggregateOperationGroupBy(Cls cls, const std::string& function,
                                                  const std::string& attribute,
                                                  const Ref<NSPredicate>& predicate,
                                                  const std::string& groupBy, const Ctx& context);
std::optional<Array> DR_aggregateOperationGroupBy(Cls cls, const std::string& function,
                                                  const std::string& attribute,
                                                  const Ref<NSPredicate>& predicate,
                                                  const std::string& groupBy);
Ref<NSManagedObject> DR_objectWithMinValueFor(const Ref<NSManagedObject>& object,
                                              const std::string& attribute, const Ctx& context);
Ref<NSManagedObject> DR_objectWithMinValueFor(const Ref<NSManagedObject>& object,
                                              const std::string& attribute);
// The smallest and largest value of the attribute among the objects of the receiver's entity.
Value DR_minValueFor(const Ref<NSManagedObject>& object, const std::string& attribute);
Value DR_maxValueFor(const Ref<NSManagedObject>& object, const std::string& attribute);
}  // namespace NSManagedObject_DataAggregation
