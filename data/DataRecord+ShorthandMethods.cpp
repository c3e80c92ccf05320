#include "data/DataRecord+ShorthandMethods.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>

namespace {

std::once_flag enableOnce;
std::atomic<bool> enabled{false};

std::mutex& installMutex() {
    static std::mutex m;
    return m;
}
std::set<std::string>& installed() {
    static auto* s = new std::set<std::string>();
    return *s;
}

// The DR_ methods each served class answers (class methods, instance methods).
struct Methods {
    std::set<std::string> classMethods;
    std::set<std::string> instanceMethods;
};

const std::map<std::string, Methods>& servedMethods() {
    static const std::map<std::string, Methods> methods = {
        {"NSManagedObject",
         {{"DR_findAll",
           "DR_findAllInContext:",
           "DR_findAllSortedBy:ascending:",
           "DR_findAllWithPredicate:",
           "DR_findByAttribute:withValue:",
           "DR_findFirst",
           "DR_findFirstInContext:",
           "DR_findFirstByAttribute:withValue:",
           "DR_findFirstWithPredicate:",
           "DR_findFirstOrCreateByAttribute:withValue:",
           "DR_requestAll",
           "DR_requestAllWithPredicate:",
           "DR_createEntity",
           "DR_createEntityInContext:",
           "DR_truncateAll",
           "DR_countOfEntities",
           "DR_countOfEntitiesWithContext:",
           "DR_importFromObject:",
           "DR_importFromArray:",
           "DR_entityName"},
          {"DR_inContext:", "DR_deleteEntity", "DR_init", "DR__privateImport:"}}},
        {"NSManagedObjectContext",
         {{"DR_defaultContext", "DR_rootSavingContext", "DR_context", "DR_contextForCurrentThread"},
          {"DR_saveToPersistentStoreAndWait", "DR_workingName"}}},
        {"NSManagedObjectModel", {{"DR_defaultManagedObjectModel"}, {}}},
        {"NSPersistentStore", {{"DR_defaultPersistentStore", "DR_defaultLocalStoreUrl"}, {}}},
        {"NSPersistentStoreCoordinator",
         {{"DR_defaultStoreCoordinator", "DR_newPersistentStoreCoordinator"}, {}}},
    };
    return methods;
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

namespace DataRecord_ShorthandMethods {

void enableShorthandMethods() {
    std::call_once(enableOnce, [] {
        for (const auto& name : classesToSwizzle()) updateResolveMethodsForClass(name);
        enabled = true;
    });
}

bool isEnabled() {
    return enabled.load();
}

std::vector<std::string> classesToSwizzle() {
    return {"NSManagedObject", "NSManagedObjectContext", "NSManagedObjectModel", "NSPersistentStore",
            "NSPersistentStoreCoordinator"};
}

std::vector<std::string> methodNameBlacklist() {
    return {"entityName"};
}

bool updateResolveMethodsForClass(const std::string& className) {
    std::lock_guard<std::mutex> guard(installMutex());
    return installed().insert(className).second;
}

std::optional<std::string> resolveClassMethod(const std::string& className, const std::string& selector) {
    if (!isEnabled()) return std::nullopt;
    if (selector.rfind("DR_", 0) == 0 || endsWith(selector, "entityName")) return std::nullopt;
    auto served = servedMethods().find(className);
    if (served == servedMethods().end()) return std::nullopt;
    std::string prefixed = "DR_" + selector;
    return served->second.classMethods.count(prefixed) ? std::optional<std::string>(prefixed) : std::nullopt;
}

std::optional<std::string> resolveInstanceMethod(const std::string& className, const std::string& selector) {
    if (!isEnabled()) return std::nullopt;
    if (selector.rfind("DR_", 0) == 0) return std::nullopt;
    if (selector.rfind("_", 0) != 0 && selector.rfind("init", 0) != 0) return std::nullopt;
    auto served = servedMethods().find(className);
    if (served == servedMethods().end()) return std::nullopt;
    std::string prefixed = "DR_" + selector;
    return served->second.instanceMethods.count(prefixed) ? std::optional<std::string>(prefixed)
                                                          : std::nullopt;
}

void requireEnabled(const char* selector) {
    if (!isEnabled())
        NSException::raise(NSInvalidArgumentException, std::string("+[NSManagedObject ") + selector +
                                                           "]: unrecognized selector sent to class");
}

}  // namespace DataRecord_ShorthandMethods
