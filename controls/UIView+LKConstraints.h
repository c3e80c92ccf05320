#pragma once
// UIView(LKConstraints): the set of builder constraints installed with a view as their first
// view, kept as an associated object of the view and made empty on first access. Main thread only.

#include <cstddef>
#include <vector>

#include "foundation/NSObject.h"
#include "uikit/UIView.h"

class LKViewConstraint;

namespace detail {
// A mutable set of constraints compared by identity, in the order they joined.
class LKConstraintSet : public NSObject {
  public:
    std::string className() const override { return "__NSSetM"; }
    void addObject(const Ref<LKViewConstraint>& constraint);
    void removeObject(const LKViewConstraint* constraint);
    bool containsObject(const LKViewConstraint* constraint) const;
    std::size_t count() const { return members_.size(); }
    // A snapshot.
    std::vector<Ref<LKViewConstraint>> allObjects() const { return members_; }

  private:
    std::vector<Ref<LKViewConstraint>> members_;
};
}  // namespace detail

namespace UIView_LKConstraints {
// The same set on every call for one view.
Ref<detail::LKConstraintSet> lk_installedConstraints(UIView& view);
}  // namespace UIView_LKConstraints
