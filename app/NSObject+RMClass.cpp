#include "app/NSObject+RMClass.h"

#include <algorithm>
#include <unordered_map>

#include "app/RMFoundation.h"

namespace {

// Deep enough for any real hierarchy; a loop in the registered superclass names cannot hang.
constexpr int kMaxChain = 256;

using NameCache = std::unordered_map<std::string, RMNameList>;

NameCache& cacheFor(RMNameListKind kind) {
    static auto* caches = new NameCache[4];
    return caches[static_cast<int>(kind)];
}

std::optional<std::vector<std::string>>& attachedList(const RMClass* cls, RMNameListKind kind) {
    RMClass::Attached& attached = cls->attached();
    switch (kind) {
        case RMNameListKind::Allowed:
            return attached.allowedPropertyNames;
        case RMNameListKind::Ignored:
            return attached.ignoredPropertyNames;
        case RMNameListKind::AllowedCoding:
            return attached.allowedCodingPropertyNames;
        case RMNameListKind::IgnoredCoding:
            break;
    }
    return attached.ignoredCodingPropertyNames;
}

const RMClassHooks::NameList& hookFor(const RMClass* cls, RMNameListKind kind) {
    const RMClassHooks& hooks = cls->hooks();
    switch (kind) {
        case RMNameListKind::Allowed:
            return hooks.allowedPropertyNames;
        case RMNameListKind::Ignored:
            return hooks.ignoredPropertyNames;
        case RMNameListKind::AllowedCoding:
            return hooks.allowedCodingPropertyNames;
        case RMNameListKind::IgnoredCoding:
            break;
    }
    return hooks.ignoredCodingPropertyNames;
}

}  // namespace

namespace NSObject_RMClass {

void enumerateClasses(const RMClass* cls, const ClassBlock& block) {
    if (!cls || !block) return;
    bool stop = false;
    const RMClass* walk = cls;
    for (int steps = 0; walk && steps < kMaxChain; ++steps) {
        block(walk, stop);
        if (stop) return;
        walk = walk->superclass();
        if (RMFoundation::isClassFromFoundation(walk)) return;
    }
}

void enumerateAllClasses(const RMClass* cls, const ClassBlock& block) {
    if (!cls || !block) return;
    bool stop = false;
    const RMClass* walk = cls;
    for (int steps = 0; walk && steps < kMaxChain; ++steps, walk = walk->superclass()) {
        block(walk, stop);
        if (stop) return;
    }
}

void setupBlockReturnValue(const RMClass* cls, const NameListBlock& block, RMNameListKind kind) {
    if (!cls) return;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    if (block) {
        attachedList(cls, kind) = block();
    } else {
        attachedList(cls, kind).reset();
    }
    cacheFor(kind).clear();
}

RMNameList totalObjectsWithSelector(const RMClass* cls, RMNameListKind kind) {
    static const RMNameList empty = std::make_shared<const std::vector<std::string>>();
    if (!cls) return empty;
    std::lock_guard<std::recursive_mutex> guard(detail::rmLock());
    NameCache& cache = cacheFor(kind);
    auto it = cache.find(cls->name());
    if (it != cache.end()) return it->second;

    // An empty list stands in while the total is built, so a hook that asks for it again does not
    // recurse.
    cache[cls->name()] = empty;
    std::vector<std::string> names;
    if (const auto& hook = hookFor(cls, kind)) {
        std::vector<std::string> own = hook();
        names.insert(names.end(), own.begin(), own.end());
    }
    enumerateAllClasses(cls, [&](const RMClass* c, bool&) {
        if (const auto& list = attachedList(c, kind)) names.insert(names.end(), list->begin(), list->end());
    });
    auto total = std::make_shared<const std::vector<std::string>>(std::move(names));
    cache[cls->name()] = total;
    return total;
}

void setupAllowedPropertyNames(const RMClass* cls, const NameListBlock& block) {
    setupBlockReturnValue(cls, block, RMNameListKind::Allowed);
}
void setupIgnoredPropertyNames(const RMClass* cls, const NameListBlock& block) {
    setupBlockReturnValue(cls, block, RMNameListKind::Ignored);
}
void setupAllowedCodingPropertyNames(const RMClass* cls, const NameListBlock& block) {
    setupBlockReturnValue(cls, block, RMNameListKind::AllowedCoding);
}
void setupIgnoredCodingPropertyNames(const RMClass* cls, const NameListBlock& block) {
    setupBlockReturnValue(cls, block, RMNameListKind::IgnoredCoding);
}

RMNameList totalAllowedPropertyNames(const RMClass* cls) {
    return totalObjectsWithSelector(cls, RMNameListKind::Allowed);
}
RMNameList totalIgnoredPropertyNames(const RMClass* cls) {
    return totalObjectsWithSelector(cls, RMNameListKind::Ignored);
}
RMNameList totalAllowedCodingPropertyNames(const RMClass* cls) {
    return totalObjectsWithSelector(cls, RMNameListKind::AllowedCoding);
}
RMNameList totalIgnoredCodingPropertyNames(const RMClass* cls) {
    return totalObjectsWithSelector(cls, RMNameListKind::IgnoredCoding);
}

}  // namespace NSObject_RMClass

namespace detail {
bool rmListContains(const RMNameList& list, const std::string& name) {
    return list && std::find(list->begin(), list->end(), name) != list->end();
}
}  // namespace detail
