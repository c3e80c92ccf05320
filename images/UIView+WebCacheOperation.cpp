#include "images/UIView+WebCacheOperation.h"

#include "foundation/NSMainThreadCheck.h"
#include <map>

namespace {

const char kOperationsKey = 0;

class OperationRegistry : public NSObject {
  public:
    std::string className() const override { return "WIWebCacheOperationRegistry"; }
    std::map<std::string, std::vector<Ref<WIWebImageOperation>>> slots;
};

Ref<OperationRegistry> registryOf(UIView& view, bool create) {
    auto registry = view.associatedObject(&kOperationsKey).objectAs<OperationRegistry>();
    if (!registry && create) {
        registry = make<OperationRegistry>();
        view.setAssociatedObject(&kOperationsKey, Value(registry), AssociationPolicy::Retain);
    }
    return registry;
}

}  // namespace

namespace UIView_WebCacheOperation {

void wi_setImageLoadOperation(UIView& view, const Ref<WIWebImageOperation>& operation,
                              const std::string& key) {
    NS_ASSERT_MAIN_THREAD();
    wi_cancelImageLoadOperationWithKey(view, key);
    if (!operation) return;
    registryOf(view, true)->slots[key] = {operation};
}

void wi_setImageLoadOperations(UIView& view, const std::vector<Ref<WIWebImageOperation>>& operations,
                               const std::string& key) {
    NS_ASSERT_MAIN_THREAD();
    wi_cancelImageLoadOperationWithKey(view, key);
    registryOf(view, true)->slots[key] = operations;
}

void wi_cancelImageLoadOperationWithKey(UIView& view, const std::string& key) {
    NS_ASSERT_MAIN_THREAD();
    auto registry = registryOf(view, false);
    if (!registry) return;
    auto found = registry->slots.find(key);
    if (found == registry->slots.end()) return;
    // Taken out first: a cancel may start work that touches the registry again.
    auto operations = std::move(found->second);
    registry->slots.erase(found);
    for (const auto& operation : operations) {
        if (operation) operation->cancel();
    }
}

void wi_removeImageLoadOperationWithKey(UIView& view, const std::string& key) {
    NS_ASSERT_MAIN_THREAD();
    auto registry = registryOf(view, false);
    if (registry) registry->slots.erase(key);
}

std::vector<Ref<WIWebImageOperation>> wi_imageLoadOperationsForKey(UIView& view, const std::string& key) {
    auto registry = registryOf(view, false);
    if (!registry) return {};
    auto found = registry->slots.find(key);
    return found == registry->slots.end() ? std::vector<Ref<WIWebImageOperation>>{} : found->second;
}

}  // namespace UIView_WebCacheOperation
