#include "uikit/UINib.h"

#include <map>
#include <mutex>

#include "foundation/NSLog.h"

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, UINib::Factory> nibs;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

UINib::Factory factoryNamed(const std::string& name) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.nibs.find(name);
    return it == r.nibs.end() ? UINib::Factory() : it->second;
}

}  // namespace

void UINib::registerNib(const std::string& name, Factory factory) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.nibs[name] = std::move(factory);
}

bool UINib::hasNibNamed(const std::string& name) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.nibs.count(name) != 0;
}

void UINib::unregisterNib(const std::string& name) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.nibs.erase(name);
}

Ref<UINib> UINib::nibWithNibName(const std::string& name, const Ref<NSBundle>&) {
    if (!hasNibNamed(name)) return nullptr;
    return make<UINib>(name);
}

std::vector<Ref<NSObject>> UINib::instantiateWithOwner(const Ref<NSObject>& owner,
                                                       const Dictionary& options) {
    auto factory = factoryNamed(name_);
    if (!factory) {
        NSLog("Could not load the nib named '%@'", name_);
        return {};
    }
    return factory(owner, options);
}

namespace NSBundle_UINibLoadingAdditions {

std::vector<Ref<NSObject>> loadNibNamed(const Ref<NSBundle>& bundle, const std::string& name,
                                        const Ref<NSObject>& owner, const Dictionary& options) {
    auto nib = UINib::nibWithNibName(name, bundle);
    if (!nib) {
        NSLog("Could not load NIB in bundle with name '%@'", name);
        return {};
    }
    return nib->instantiateWithOwner(owner, options);
}

}  // namespace NSBundle_UINibLoadingAdditions

std::vector<Ref<NSObject>> loadNibNamed(const std::string& name, const Ref<NSObject>& owner,
                                        const Dictionary& options) {
    return NSBundle_UINibLoadingAdditions::loadNibNamed(NSBundle::mainBundle(), name, owner, options);
}
