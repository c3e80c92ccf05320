#include "data/NSManagedObject+DataRecord.h"

#include <atomic>
#include <mutex>

#include "data/DataRecord.h"
#include "data/NSManagedObject+DataImport.h"
#include "data/NSManagedObjectContext+DataRecord.h"
#include "foundation/NSString.h"

namespace {
std::mutex& batchLock() {
    static std::mutex m;
    return m;
}
std::atomic<std::size_t> batchSize{20};

Ref<NSManagedObjectContext> threadContext() {
    return NSManagedObjectContext_DataThreading::DR_contextForCurrentThread();
}
}  // namespace

namespace NSManagedObject_DataRecord {

std::size_t DR_defaultBatchSize() {
    return batchSize.load();
}

void DR_setDefaultBatchSize(std::size_t size) {
    std::lock_guard<std::mutex> guard(batchLock());
    batchSize = size;
}

std::string DR_entityName(const NSManagedObjectClass* cls) {
    if (!cls) return std::string();
    if (auto hook = cls->entityNameHook()) {
        auto name = (*hook)();
        if (name && !name->empty()) return *name;
    }
    const std::string& name = cls->name();
    auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

Ref<NSEntityDescription> DR_entityDescriptionInContext(const NSManagedObjectClass* cls,
                                                       const Ref<NSManagedObjectContext>& context) {
    return NSEntityDescription::entityForName(DR_entityName(cls), context);
}

Ref<NSEntityDescription> DR_entityDescription(const NSManagedObjectClass* cls) {
    return DR_entityDescriptionInContext(cls, threadContext());
}

std::optional<Array> DR_executeFetchRequest(const Ref<NSFetchRequest>& request,
                                            const Ref<NSManagedObjectContext>& context) {
    if (!context) return std::nullopt;
    std::optional<Array> result;
    Ref<NSError> error;
    context->performBlockAndWait([&] { result = context->executeFetchRequest(request, &error); });
    if (!result) DataRecord::handleErrors(error);
    return result;
}

std::optional<Array> DR_executeFetchRequest(const Ref<NSFetchRequest>& request) {
    return DR_executeFetchRequest(request, threadContext());
}

Ref<NSManagedObject> DR_executeFetchRequestAndReturnFirstObject(const Ref<NSFetchRequest>& request,
                                                                const Ref<NSManagedObjectContext>& context) {
    if (!request) return nullptr;
    request->setFetchLimit(1);
    auto result = DR_executeFetchRequest(request, context);
    if (!result || result->empty()) return nullptr;
    return (*result)[0].objectAs<NSManagedObject>();
}

Ref<NSManagedObject> DR_executeFetchRequestAndReturnFirstObject(const Ref<NSFetchRequest>& request) {
    return DR_executeFetchRequestAndReturnFirstObject(request, threadContext());
}

bool DR_performFetch(const Ref<NSFetchedResultsController>& controller) {
    if (!controller) return false;
    Ref<NSError> error;
    bool ok = controller->performFetch(&error);
    if (!ok) DataRecord::handleErrors(error);
    return ok;
}

Ref<NSManagedObject> DR_createEntityInContext(const NSManagedObjectClass* cls,
                                              const Ref<NSManagedObjectContext>& context,
                                              const Ref<NSEntityDescription>& foundEntity) {
    if (!cls) return nullptr;
    if (context) {
        if (auto insert = cls->insertHook()) return (*insert)(context);
    }
    auto entity = foundEntity ? foundEntity
                  : context   ? DR_entityDescriptionInContext(cls, context)
                              : DR_entityDescription(cls);
    if (!entity) return nullptr;
    // An object of the receiving class, whatever the model names for the entity.
    return NSManagedObject::insertNewObject(entity, context ? context : threadContext(), cls);
}

Ref<NSManagedObject> DR_createEntity(const NSManagedObjectClass* cls) {
    return DR_createEntityInContext(cls, threadContext());
}

Ref<NSManagedObject> DR_createInContext(const NSManagedObjectClass* cls,
                                        const Ref<NSManagedObjectContext>& context) {
    return DR_createEntityInContext(cls, context);
}

bool DR_deleteEntityInContext(const Ref<NSManagedObject>& object,
                              const Ref<NSManagedObjectContext>& context) {
    if (!object || !context) return false;
    Ref<NSError> error;
    Ref<NSManagedObject> found;
    context->performBlockAndWait([&] {
        found = context->existingObjectWithID(object->objectID(), &error);
        DataRecord::handleErrors(error);
        if (found) context->deleteObject(found);
    });
    return found != nullptr;
}

bool DR_deleteEntity(const Ref<NSManagedObject>& object) {
    return object && DR_deleteEntityInContext(object, object->managedObjectContext());
}

bool DR_deleteInContext(const Ref<NSManagedObject>& object, const Ref<NSManagedObjectContext>& context) {
    return DR_deleteEntityInContext(object, context);
}

namespace {
bool deleteAll(const Ref<NSFetchRequest>& request, const Ref<NSManagedObjectContext>& context) {
    if (!request) return false;
    request->setReturnsObjectsAsFaults(true);
    request->setIncludesPropertyValues(false);
    auto found = DR_executeFetchRequest(request, context);
    if (!found) return false;
    bool all = true;
    for (const Value& v : *found)
        all = DR_deleteEntityInContext(v.objectAs<NSManagedObject>(), context) && all;
    return all;
}
}  // namespace

bool DR_deleteAllMatchingPredicate(const NSManagedObjectClass* cls, const Ref<NSPredicate>& predicate,
                                   const Ref<NSManagedObjectContext>& context) {
    return deleteAll(NSManagedObject_DataRequests::DR_requestAllWithPredicate(cls, predicate, context),
                     context);
}

bool DR_deleteAllMatchingPredicate(const NSManagedObjectClass* cls, const Ref<NSPredicate>& predicate) {
    return DR_deleteAllMatchingPredicate(cls, predicate, threadContext());
}

bool DR_truncateAllInContext(const NSManagedObjectClass* cls, const Ref<NSManagedObjectContext>& context) {
    return deleteAll(NSManagedObject_DataRequests::DR_requestAll(cls, context), context);
}

bool DR_truncateAll(const NSManagedObjectClass* cls) {
    return DR_truncateAllInContext(cls, threadContext());
}

Ref<NSManagedObject> DR_inContext(const Ref<NSManagedObject>& object,
                                  const Ref<NSManagedObjectContext>& context) {
    if (!object || !context) return nullptr;
    if (object->objectID()->isTemporaryID()) {
        auto own = object->managedObjectContext();
        Ref<NSError> error;
        if (!own || !own->obtainPermanentIDsForObjects({object}, &error)) {
            DataRecord::handleErrors(error);
            return nullptr;
        }
    }
    Ref<NSError> error;
    Ref<NSManagedObject> found;
    context->performBlockAndWait([&] { found = context->existingObjectWithID(object->objectID(), &error); });
    DataRecord::handleErrors(error);
    return found;
}

Ref<NSManagedObject> DR_inThreadContext(const Ref<NSManagedObject>& object) {
    return DR_inContext(object, threadContext());
}

std::vector<Ref<NSPropertyDescription>>
DR_propertiesNamed(const NSManagedObjectClass* cls, const std::optional<std::vector<std::string>>& names,
                   const Ref<NSManagedObjectContext>& context) {
    std::vector<Ref<NSPropertyDescription>> found;
    if (!names) return found;
    auto entity = DR_entityDescriptionInContext(cls, context);
    if (!entity) return found;
    const auto& properties = entity->propertiesByName();
    for (const auto& name : *names) {
        if (auto p = properties[name]) {
            found.push_back(p);
        } else {
            detail::drLog(DataRecordLogWarn, "Property '%@' not found in %lx properties for %@", name,
                          static_cast<unsigned long>(properties.count()), cls ? cls->name() : std::string());
        }
    }
    return found;
}

std::vector<Ref<NSPropertyDescription>>
DR_propertiesNamed(const NSManagedObjectClass* cls, const std::optional<std::vector<std::string>>& names) {
    return DR_propertiesNamed(cls, names, threadContext());
}

std::vector<Ref<NSSortDescriptor>> DR_sortAscending(bool ascending, const std::vector<std::string>& keys) {
    std::vector<Ref<NSSortDescriptor>> sorts;
    for (const auto& key : keys) sorts.push_back(NSSortDescriptor::sortDescriptorWithKey(key, ascending));
    return sorts;
}

std::vector<Ref<NSSortDescriptor>> DR_ascendingSortDescriptors(const std::vector<std::string>& keys) {
    return DR_sortAscending(true, keys);
}

std::vector<Ref<NSSortDescriptor>> DR_descendingSortDescriptors(const std::vector<std::string>& keys) {
    return DR_sortAscending(false, keys);
}

}  // namespace NSManagedObject_DataRecord

namespace NSManagedObject_DataRequests {

using NSManagedObject_DataRecord::DR_entityDescriptionInContext;

Ref<NSFetchRequest> DR_createFetchRequest(Cls cls, const Ctx& context) {
    auto request = make<NSFetchRequest>();
    request->setEntity(DR_entityDescriptionInContext(cls, context));
    return request;
}
Ref<NSFetchRequest> DR_createFetchRequest(Cls cls) {
    return DR_createFetchRequest(cls, threadContext());
}
Ref<NSFetchRequest> DR_requestAll(Cls cls, const Ctx& context) {
    return DR_createFetchRequest(cls, context);
}
Ref<NSFetchRequest> DR_requestAll(Cls cls) {
    return DR_requestAll(cls, threadContext());
}
Ref<NSFetchRequest> DR_requestAllWithPredicate(Cls cls, const Ref<NSPredicate>& predicate,
                                               const Ctx& context) {
    auto request = DR_createFetchRequest(cls, context);
    request->setPredicate(predicate);
    return request;
}
Ref<NSFetchRequest> DR_requestAllWithPredicate(Cls cls, const Ref<NSPredicate>& predicate) {
    return DR_requestAllWithPredicate(cls, predicate, threadContext());
}
Ref<NSFetchRequest> DR_requestAllWhere(Cls cls, const std::string& attribute, const Value& value,
                                       const Ctx& context) {
    return DR_requestAllWithPredicate(
        cls, NSPredicate::predicateWithFormatArgs("%K = %@", {Value(attribute), value}), context);
}
Ref<NSFetchRequest> DR_requestAllWhere(Cls cls, const std::string& attribute, const Value& value) {
    return DR_requestAllWhere(cls, attribute, value, threadContext());
}
Ref<NSFetchRequest> DR_requestFirstWithPredicate(Cls cls, const Ref<NSPredicate>& predicate,
                                                 const Ctx& context) {
    auto request = DR_requestAllWithPredicate(cls, predicate, context);
    request->setFetchLimit(1);
    return request;
}
Ref<NSFetchRequest> DR_requestFirstWithPredicate(Cls cls, const Ref<NSPredicate>& predicate) {
    return DR_requestFirstWithPredicate(cls, predicate, threadContext());
}
Ref<NSFetchRequest> DR_requestFirstByAttribute(Cls cls, const std::string& attribute, const Value& value,
                                               const Ctx& context) {
    auto request = DR_requestAllWhere(cls, attribute, value, context);
    request->setFetchLimit(1);
    return request;
}
Ref<NSFetchRequest> DR_requestFirstByAttribute(Cls cls, const std::string& attribute, const Value& value) {
    return DR_requestFirstByAttribute(cls, attribute, value, threadContext());
}
Ref<NSFetchRequest> DR_requestAllSortedBy(Cls cls, const std::string& sortTerms, bool ascending,
                                          const Ctx& context) {
    return DR_requestAllSortedByWithPredicate(cls, sortTerms, ascending, nullptr, context);
}
Ref<NSFetchRequest> DR_requestAllSortedBy(Cls cls, const std::string& sortTerms, bool ascending) {
    return DR_requestAllSortedBy(cls, sortTerms, ascending, threadContext());
}

Ref<NSFetchRequest> DR_requestAllSortedByWithPredicate(Cls cls, const std::string& sortTerms, bool ascending,
                                                       const Ref<NSPredicate>& predicate,
                                                       const Ctx& context) {
    auto request = DR_requestAll(cls, context);
    if (predicate) request->setPredicate(predicate);
    request->setFetchBatchSize(NSManagedObject_DataRecord::DR_defaultBatchSize());
    std::vector<Ref<NSSortDescriptor>> sorts;
    bool direction = ascending;
    for (const auto& part : NSString::componentsSeparatedByString(sortTerms, ",")) {
        auto pieces = NSString::componentsSeparatedByString(part, ":");
        std::string key = part;
        if (pieces.size() >= 2) {
            key = pieces.front();
            direction = Value(pieces.back()).boolValue();
        }
        sorts.push_back(NSSortDescriptor::sortDescriptorWithKey(key, direction));
    }
    request->setSortDescriptors(std::move(sorts));
    return request;
}

Ref<NSFetchRequest> DR_requestAllSortedByWithPredicate(Cls cls, const std::string& sortTerms, bool ascending,
                                                       const Ref<NSPredicate>& predicate) {
    return DR_requestAllSortedByWithPredicate(cls, sortTerms, ascending, predicate, threadContext());
}

}  // namespace NSManagedObject_DataRequests

namespace NSManagedObject_DataFinders {

using namespace NSManagedObject_DataRequests;
using NSManagedObject_DataRecord::DR_executeFetchRequest;
using NSManagedObject_DataRecord::DR_executeFetchRequestAndReturnFirstObject;

Found DR_findAllInContext(Cls cls, const Ctx& context) {
    return DR_executeFetchRequest(DR_requestAll(cls, context), context);
}
Found DR_findAll(Cls cls) {
    return DR_findAllInContext(cls, threadContext());
}
Found DR_findAllSortedBy(Cls cls, const std::string& sortTerms, bool ascending, const Ctx& context) {
    return DR_executeFetchRequest(DR_requestAllSortedBy(cls, sortTerms, ascending, context), context);
}
Found DR_findAllSortedBy(Cls cls, const std::string& sortTerms, bool ascending) {
    return DR_findAllSortedBy(cls, sortTerms, ascending, threadContext());
}
Found DR_findAllSortedByWithPredicate(Cls cls, const std::string& sortTerms, bool ascending,
                                      const Ref<NSPredicate>& predicate, const Ctx& context) {
    return DR_executeFetchRequest(
        DR_requestAllSortedByWithPredicate(cls, sortTerms, ascending, predicate, context), context);
}
Found DR_findAllSortedByWithPredicate(Cls cls, const std::string& sortTerms, bool ascending,
                                      const Ref<NSPredicate>& predicate) {
    return DR_findAllSortedByWithPredicate(cls, sortTerms, ascending, predicate, threadContext());
}
Found DR_findAllWithPredicate(Cls cls, const Ref<NSPredicate>& predicate, const Ctx& context) {
    auto request = DR_createFetchRequest(cls, context);
    request->setPredicate(predicate);
    return DR_executeFetchRequest(request, context);
}
Found DR_findAllWithPredicate(Cls cls, const Ref<NSPredicate>& predicate) {
    return DR_findAllWithPredicate(cls, predicate, threadContext());
}
Found DR_findByAttribute(Cls cls, const std::string& attribute, const Value& value, const Ctx& context) {
    return DR_executeFetchRequest(DR_requestAllWhere(cls, attribute, value, context), context);
}
Found DR_findByAttribute(Cls cls, const std::string& attribute, const Value& value) {
    return DR_findByAttribute(cls, attribute, value, threadContext());
}
Found DR_findByAttributeAndOrderBy(Cls cls, const std::string& attribute, const Value& value,
                                   const std::string& orderBy, bool ascending, const Ctx& context) {
    auto predicate = NSPredicate::predicateWithFormatArgs("%K = %@", {Value(attribute), value});
    return DR_executeFetchRequest(
        DR_requestAllSortedByWithPredicate(cls, orderBy, ascending, predicate, context), context);
}
Found DR_findByAttributeAndOrderBy(Cls cls, const std::string& attribute, const Value& value,
                                   const std::string& orderBy, bool ascending) {
    return DR_findByAttributeAndOrderBy(cls, attribute, value, orderBy, ascending, threadContext());
}
Ref<NSManagedObject> DR_findFirstInContext(Cls cls, const Ctx& context) {
    return DR_executeFetchRequestAndReturnFirstObject(DR_createFetchRequest(cls, context), context);
}
Ref<NSManagedObject> DR_findFirst(Cls cls) {
    return DR_findFirstInContext(cls, threadContext());
}
Ref<NSManagedObject> DR_findFirstByAttribute(Cls cls, const std::string& attribute, const Value& value,
                                             const Ctx& context) {
    return DR_executeFetchRequestAndReturnFirstObject(
        DR_requestFirstByAttribute(cls, attribute, value, context), context);
}
Ref<NSManagedObject> DR_findFirstByAttribute(Cls cls, const std::string& attribute, const Value& value) {
    return DR_findFirstByAttribute(cls, attribute, value, threadContext());
}
Ref<NSManagedObject> DR_findFirstOrderedByAttribute(Cls cls, const std::string& attribute, bool ascending,
                                                    const Ctx& context) {
    auto request = DR_requestAllSortedBy(cls, attribute, ascending, context);
    request->setFetchLimit(1);
    return DR_executeFetchRequestAndReturnFirstObject(request, context);
}
Ref<NSManagedObject> DR_findFirstOrderedByAttribute(Cls cls, const std::string& attribute, bool ascending) {
    return DR_findFirstOrderedByAttribute(cls, attribute, ascending, threadContext());
}
Ref<NSManagedObject> DR_findFirstWithPredicate(Cls cls, const Ref<NSPredicate>& predicate,
                                               const Ctx& context) {
    return DR_executeFetchRequestAndReturnFirstObject(DR_requestFirstWithPredicate(cls, predicate, context),
                                                      context);
}
Ref<NSManagedObject> DR_findFirstWithPredicate(Cls cls, const Ref<NSPredicate>& predicate) {
    return DR_findFirstWithPredicate(cls, predicate, threadContext());
}
Ref<NSManagedObject> DR_findFirstWithPredicateSortedBy(Cls cls, const Ref<NSPredicate>& predicate,
                                                       const std::string& sortTerms, bool ascending,
                                                       const Ctx& context) {
    return DR_executeFetchRequestAndReturnFirstObject(
        DR_requestAllSortedByWithPredicate(cls, sortTerms, ascending, predicate, context), context);
}
Ref<NSManagedObject> DR_findFirstWithPredicateSortedBy(Cls cls, const Ref<NSPredicate>& predicate,
                                                       const std::string& sortTerms, bool ascending) {
    return DR_findFirstWithPredicateSortedBy(cls, predicate, sortTerms, ascending, threadContext());
}
Ref<NSManagedObject> DR_findFirstWithPredicateAndRetrieveAttributes(Cls cls,
                                                                    const Ref<NSPredicate>& predicate,
                                                                    const std::vector<Value>& attributes,
                                                                    const Ctx& context) {
    auto request = DR_createFetchRequest(cls, context);
    request->setPredicate(predicate);
    request->setPropertiesToFetch(attributes);
    return DR_executeFetchRequestAndReturnFirstObject(request, context);
}
Ref<NSManagedObject> DR_findFirstWithPredicateAndRetrieveAttributes(Cls cls,
                                                                    const Ref<NSPredicate>& predicate,
                                                                    const std::vector<Value>& attributes) {
    return DR_findFirstWithPredicateAndRetrieveAttributes(cls, predicate, attributes, threadContext());
}
Ref<NSManagedObject> DR_findFirstWithPredicateSortedByAndRetrieveAttributes(
    Cls cls, const Ref<NSPredicate>& predicate, const std::string& sortTerms, bool ascending,
    const Ctx& context, const std::vector<std::string>& attributes) {
    auto request = DR_requestAllSortedByWithPredicate(cls, sortTerms, ascending, predicate, context);
    std::vector<Value> properties;
    for (const auto& p : NSManagedObject_DataRecord::DR_propertiesNamed(cls, attributes, context))
        properties.push_back(p);
    request->setPropertiesToFetch(properties);
    return DR_executeFetchRequestAndReturnFirstObject(request, context);
}
Ref<NSManagedObject>
DR_findFirstWithPredicateSortedByAndRetrieveAttributes(Cls cls, const Ref<NSPredicate>& predicate,
                                                       const std::string& sortTerms, bool ascending,
                                                       const std::vector<std::string>& attributes) {
    return DR_findFirstWithPredicateSortedByAndRetrieveAttributes(cls, predicate, sortTerms, ascending,
                                                                  threadContext(), attributes);
}
Ref<NSManagedObject> DR_findFirstOrCreateByAttribute(Cls cls, const std::string& attribute,
                                                     const Value& value, const Ctx& context) {
    if (auto found = DR_findFirstByAttribute(cls, attribute, value, context)) return found;
    auto created = NSManagedObject_DataRecord::DR_createEntityInContext(cls, context);
    if (created) created->setValueForKey(value, attribute);
    return created;
}
Ref<NSManagedObject> DR_findFirstOrCreateByAttribute(Cls cls, const std::string& attribute,
                                                     const Value& value) {
    return DR_findFirstOrCreateByAttribute(cls, attribute, value, threadContext());
}

Controller DR_fetchController(Cls cls, const Ref<NSFetchRequest>& request, const Delegate& delegate,
                              bool useFileCache, const std::optional<std::string>& groupBy,
                              const Ctx& context) {
    std::optional<std::string> cacheName;
    if (useFileCache) cacheName = "DataRecord-Cache-" + (cls ? cls->name() : std::string());
    auto controller = make<NSFetchedResultsController>(request, context, groupBy, cacheName);
    controller->setDelegate(delegate);
    return controller;
}
Controller DR_fetchAllWithDelegate(Cls cls, const Delegate& delegate, const Ctx& context) {
    auto controller =
        DR_fetchController(cls, DR_requestAll(cls, context), delegate, false, std::nullopt, context);
    NSManagedObject_DataRecord::DR_performFetch(controller);
    return controller;
}
Controller DR_fetchAllWithDelegate(Cls cls, const Delegate& delegate) {
    return DR_fetchAllWithDelegate(cls, delegate, threadContext());
}
Controller DR_fetchAllGroupedBy(Cls cls, const std::optional<std::string>& group,
                                const Ref<NSPredicate>& predicate, const std::string& sortTerms,
                                bool ascending, const Delegate& delegate, const Ctx& context) {
    auto request = DR_requestAllSortedByWithPredicate(cls, sortTerms, ascending, predicate, context);
    auto controller = DR_fetchController(cls, request, delegate, false, group, context);
    NSManagedObject_DataRecord::DR_performFetch(controller);
    return controller;
}
Controller DR_fetchAllGroupedBy(Cls cls, const std::optional<std::string>& group,
                                const Ref<NSPredicate>& predicate, const std::string& sortTerms,
                                bool ascending, const Delegate& delegate) {
    return DR_fetchAllGroupedBy(cls, group, predicate, sortTerms, ascending, delegate, threadContext());
}
Controller DR_fetchAllGroupedByWithoutDelegate(Cls cls, const std::optional<std::string>& group,
                                               const Ref<NSPredicate>& predicate,
                                               const std::string& sortTerms, bool ascending,
                                               const Ctx& context) {
    return DR_fetchAllGroupedBy(cls, group, predicate, sortTerms, ascending, Delegate(), context);
}
Controller DR_fetchAllGroupedByWithoutDelegate(Cls cls, const std::optional<std::string>& group,
                                               const Ref<NSPredicate>& predicate,
                                               const std::string& sortTerms, bool ascending) {
    return DR_fetchAllGroupedByWithoutDelegate(cls, group, predicate, sortTerms, ascending, threadContext());
}
Controller DR_fetchAllSortedBy(Cls cls, const std::string& sortTerms, bool ascending,
                               const Ref<NSPredicate>& predicate, const std::optional<std::string>& groupBy,
                               const Ctx& context) {
    auto request = DR_requestAllSortedByWithPredicate(cls, sortTerms, ascending, predicate, context);
    auto controller = DR_fetchController(cls, request, Delegate(), false, groupBy, context);
    NSManagedObject_DataRecord::DR_performFetch(controller);
    return controller;
}
Controller DR_fetchAllSortedBy(Cls cls, const std::string& sortTerms, bool ascending,
                               const Ref<NSPredicate>& predicate, const std::optional<std::string>& groupBy) {
    return DR_fetchAllSortedBy(cls, sortTerms, ascending, predicate, groupBy, threadContext());
}
Controller DR_fetchAllSortedByWithDelegate(Cls cls, const std::string& sortTerms, bool ascending,
                                           const Ref<NSPredicate>& predicate,
                                           const std::optional<std::string>& groupBy,
                                           const Delegate& delegate, const Ctx& context) {
    return DR_fetchAllGroupedBy(cls, groupBy, predicate, sortTerms, ascending, delegate, context);
}
Controller DR_fetchAllSortedByWithDelegate(Cls cls, const std::string& sortTerms, bool ascending,
                                           const Ref<NSPredicate>& predicate,
                                           const std::optional<std::string>& groupBy,
                                           const Delegate& delegate) {
    return DR_fetchAllSortedByWithDelegate(cls, sortTerms, ascending, predicate, groupBy, delegate,
                                           threadContext());
}

}  // namespace NSManagedObject_DataFinders

namespace NSManagedObject_DataAggregation {

using namespace NSManagedObject_DataRequests;

std::size_t DR_countOfEntitiesWithPredicate(Cls cls, const Ref<NSPredicate>& predicate, const Ctx& context) {
    if (!context) return 0;
    auto request = DR_createFetchRequest(cls, context);
    if (predicate) request->setPredicate(predicate);
    Ref<NSError> error;
    std::size_t count = context->countForFetchRequest(request, &error);
    DataRecord::handleErrors(error);
    return count;
}
std::size_t DR_countOfEntitiesWithPredicate(Cls cls, const Ref<NSPredicate>& predicate) {
    return DR_countOfEntitiesWithPredicate(cls, predicate, threadContext());
}
std::size_t DR_countOfEntitiesWithContext(Cls cls, const Ctx& context) {
    return DR_countOfEntitiesWithPredicate(cls, nullptr, context);
}
std::size_t DR_countOfEntities(Cls cls) {
    return DR_countOfEntitiesWithContext(cls, threadContext());
}
Value DR_numberOfEntitiesWithContext(Cls cls, const Ctx& context) {
    return Value(static_cast<unsigned long>(DR_countOfEntitiesWithContext(cls, context)));
}
Value DR_numberOfEntities(Cls cls) {
    return DR_numberOfEntitiesWithContext(cls, threadContext());
}
Value DR_numberOfEntitiesWithPredicate(Cls cls, const Ref<NSPredicate>& predicate, const Ctx& context) {
    return Value(static_cast<unsigned long>(DR_countOfEntitiesWithPredicate(cls, predicate, context)));
}
Value DR_numberOfEntitiesWithPredicate(Cls cls, const Ref<NSPredicate>& predicate) {
    return DR_numberOfEntitiesWithPredicate(cls, predicate, threadContext());
}
bool DR_hasAtLeastOneEntityInContext(Cls cls, const Ctx& context) {
    return DR_numberOfEntitiesWithContext(cls, context).intValue() > 0;
}
bool DR_hasAtLeastOneEntity(Cls cls) {
    return DR_hasAtLeastOneEntityInContext(cls, threadContext());
}

namespace {
Ref<NSExpressionDescription> resultDescription(Cls cls, const std::string& function,
                                               const std::string& attribute, const Ctx& context) {
    auto description = make<NSExpressionDescription>();
    description->setName("result");
    description->setExpression(
        NSExpression::expressionForFunction(function, {NSExpression::expressionForKeyPath(attribute)}));
    auto entity = NSManagedObject_DataRecord::DR_entityDescriptionInContext(cls, context);
    auto a =
        entity ? NSEntityDescription_DataRecord_DataImport::DR_attributeDescriptionForName(entity, attribute)
               : nullptr;
    description->setExpressionResultType(a ? a->attributeType() : NSUndefinedAttributeType);
    return description;
}
}  // namespace

Value DR_aggregateOperation(Cls cls, const std::string& function, const std::string& attribute,
                            const Ref<NSPredicate>& predicate, const Ctx& context) {
    auto request = DR_requestAllWithPredicate(cls, predicate, context);
    request->setPropertiesToFetch({resultDescription(cls, function, attribute, context)});
    request->setResultType(NSDictionaryResultType);
    request->setFetchLimit(1);
    auto found = NSManagedObject_DataRecord::DR_executeFetchRequest(request, context);
    if (!found || found->empty()) return Value();
    return (*found)[0]["result"];
}
Value DR_aggregateOperation(Cls cls, const std::string& function, const std::string& attribute,
                            const Ref<NSPredicate>& predicate) {
    return DR_aggregateOperation(cls, function, attribute, predicate, threadContext());
}

std::optional<Array> DR_aggregateOperationGroupBy(Cls cls, const std::string& function,
                                                  const std::string& attribute,
                                                  const Ref<NSPredicate>& predicate,
                                                  const std::string& groupBy, const Ctx& context) {
    auto request = DR_requestAllWithPredicate(cls, predicate, context);
    request->setPropertiesToFetch({Value(groupBy), resultDescription(cls, function, attribute, context)});
    request->setResultType(NSDictionaryResultType);
    request->setPropertiesToGroupBy({Value(groupBy)});
    return NSManagedObject_DataRecord::DR_executeFetchRequest(request, context);
}
std::optional<Array> DR_aggregateOperationGroupBy(Cls cls, const std::string& function,
                                                  const std::string& attribute,
                                                  const Ref<NSPredicate>& predicate,
                                                  const std::string& groupBy) {
    return DR_aggregateOperationGroupBy(cls, function, attribute, predicate, groupBy, threadContext());
}

Ref<NSManagedObject> DR_objectWithMinValueFor(const Ref<NSManagedObject>& object,
                                              const std::string& attribute, const Ctx& context) {
    if (!object) return nullptr;
    // The receiver's own entity: a plain managed object's class names no entity.
    auto request = make<NSFetchRequest>();
    request->setEntity(object->entity());
    request->setPredicate(NSPredicate::predicateWithFormatArgs(
        "SELF = %@ AND %K = min(%@)", {Value(object), Value(attribute), Value(attribute)}));
    return NSManagedObject_DataRecord::DR_executeFetchRequestAndReturnFirstObject(request, context);
}
Ref<NSManagedObject> DR_objectWithMinValueFor(const Ref<NSManagedObject>& object,
                                              const std::string& attribute) {
    return object ? DR_objectWithMinValueFor(object, attribute, object->managedObjectContext()) : nullptr;
}

namespace {
Value extreme(const Ref<NSManagedObject>& object, const char* function, const std::string& attribute) {
    if (!object) return Value();
    auto context = object->managedObjectContext();
    auto request = make<NSFetchRequest>();
    request->setEntity(object->entity());
    auto description = make<NSExpressionDescription>();
    description->setName("result");
    description->setExpression(
        NSExpression::expressionForFunction(function, {NSExpression::expressionForKeyPath(attribute)}));
    auto a = object->entity()->attributesByName()[attribute];
    description->setExpressionResultType(a ? a->attributeType() : NSUndefinedAttributeType);
    request->setPropertiesToFetch({description});
    request->setResultType(NSDictionaryResultType);
    auto found = NSManagedObject_DataRecord::DR_executeFetchRequest(request, context);
    if (!found || found->empty()) return Value();
    return (*found)[0]["result"];
}
}  // namespace

Value DR_minValueFor(const Ref<NSManagedObject>& object, const std::string& attribute) {
    return extreme(object, "min:", attribute);
}
Value DR_maxValueFor(const Ref<NSManagedObject>& object, const std::string& attribute) {
    return extreme(object, "max:", attribute);
}

}  // namespace NSManagedObject_DataAggregation
