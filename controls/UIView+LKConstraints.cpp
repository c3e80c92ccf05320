#include "controls/UIView+LKConstraints.h"

#include <algorithm>

#include "controls/LKViewConstraint.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/Value.h"

namespace detail {

void LKConstraintSet::addObject(const Ref<LKViewConstraint>& constraint) {
    NS_ASSERT_MAIN_THREAD();
    if (!constraint || containsObject(constraint.get())) return;
    members_.push_back(constraint);
}

void LKConstraintSet::removeObject(const LKViewConstraint* constraint) {
    NS_ASSERT_MAIN_THREAD();
    auto it =
        std::find_if(members_.begin(), members_.end(), [&](const auto& m) { return m.get() == constraint; });
    if (it != members_.end()) members_.erase(it);
}

bool LKConstraintSet::containsObject(const LKViewConstraint* constraint) const {
    return std::any_of(members_.begin(), members_.end(),
                       [&](const auto& m) { return m.get() == constraint; });
}

}  // namespace detail

namespace UIView_LKConstraints {

namespace {
const char kInstalledConstraintsKey = 0;
}

Ref<detail::LKConstraintSet> lk_installedConstraints(UIView& view) {
    if (auto set = view.associatedObject(&kInstalledConstraintsKey).objectAs<detail::LKConstraintSet>())
        return set;
    auto set = make<detail::LKConstraintSet>();
    view.setAssociatedObject(&kInstalledConstraintsKey, Value(set), AssociationPolicy::Retain);
    return set;
}

}  // namespace UIView_LKConstraints
