#pragma once
// Unprefixed names for the DR_ operations. The platform would add them lazily through dynamic
// method resolution; C++ has none, so this keeps the resolution rules as functions (which name a
// selector resolves to, for which served class) and offers the unprefixed finders as aliases
// that work once enableShorthandMethods() ran and raise NSInvalidArgumentException
// ("unrecognized selector") before, as an unresolved selector would.
//
// Rules: a class selector resolves to "DR_" + its name when the served class has that method,
// except names that begin with "DR_" or end with "entityName"; an instance selector only when its
// name begins with "_" or "init".

#include <optional>
#include <string>
#include <vector>

#include "data/NSManagedObject+DataImport.h"
#include "data/NSManagedObject+DataRecord.h"
#include "foundation/NSException.h"

namespace DataRecord_ShorthandMethods {

void enableShorthandMethods();
bool isEnabled();
// NSManagedObject, NSManagedObjectContext, NSManagedObjectModel, NSPersistentStore,
// NSPersistentStoreCoordinator.
std::vector<std::string> classesToSwizzle();
std::vector<std::string> methodNameBlacklist();
// Installs the resolvers on a served class; false when the class already had them (a class with
// its own resolver keeps it).
bool updateResolveMethodsForClass(const std::string& className);
// The DR_ selector an unprefixed one resolves to on a served class, or nullopt.
std::optional<std::string> resolveClassMethod(const std::string& className, const std::string& selector);
std::optional<std::string> resolveInstanceMethod(const std::string& className, const std::string& selector);

// Raises when the shorthand names are not enabled.
void requireEnabled(const char* selector);

}  // namespace DataRecord_ShorthandMethods

namespace DataRecordShorthand {

#define DR_SHORTHAND(name, ns)                                                                               \
    template <class... Args>                                                                                 \
    auto name(Args&&... args) {                                                                              \
        DataRecord_ShorthandMethods::requireEnabled(#name);                                                  \
        return ns::DR_##name(std::forward<Args>(args)...);                                                   \
    }

DR_SHORTHAND(findAll, NSManagedObject_DataFinders)
DR_SHORTHAND(findAllInContext, NSManagedObject_DataFinders)
DR_SHORTHAND(findAllSortedBy, NSManagedObject_DataFinders)
DR_SHORTHAND(findAllWithPredicate, NSManagedObject_DataFinders)
DR_SHORTHAND(findByAttribute, NSManagedObject_DataFinders)
DR_SHORTHAND(findFirst, NSManagedObject_DataFinders)
DR_SHORTHAND(findFirstInContext, NSManagedObject_DataFinders)
DR_SHORTHAND(findFirstByAttribute, NSManagedObject_DataFinders)
DR_SHORTHAND(findFirstWithPredicate, NSManagedObject_DataFinders)
DR_SHORTHAND(findFirstOrCreateByAttribute, NSManagedObject_DataFinders)
DR_SHORTHAND(requestAll, NSManagedObject_DataRequests)
DR_SHORTHAND(requestAllWithPredicate, NSManagedObject_DataRequests)
DR_SHORTHAND(createEntity, NSManagedObject_DataRecord)
DR_SHORTHAND(createEntityInContext, NSManagedObject_DataRecord)
DR_SHORTHAND(truncateAll, NSManagedObject_DataRecord)
DR_SHORTHAND(countOfEntities, NSManagedObject_DataAggregation)
DR_SHORTHAND(countOfEntitiesWithContext, NSManagedObject_DataAggregation)
DR_SHORTHAND(importFromObject, NSManagedObject_DataRecord_DataImport)
DR_SHORTHAND(importFromArray, NSManagedObject_DataRecord_DataImport)

#undef DR_SHORTHAND

}  // namespace DataRecordShorthand
