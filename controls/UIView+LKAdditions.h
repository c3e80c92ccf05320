#pragma once
// UIView(LKAdditions): attributes of a view for the constraint builder, the view's debug key, the
// nearest common ancestor of two views, and the make / update / remake entry points.
//
//     UIView_LKAdditions::lk_makeConstraints(box, [&](const Ref<LKConstraintMaker>& make) {
//         make->edges()->equalTo()(superview)->insets()(UIEdgeInsetsMake(10, 20, 30, 40));
//     });
//
// Main thread only.

#include <functional>
#include <vector>

#include "controls/LKConstraint.h"
#include "controls/LKConstraintMaker.h"
#include "controls/LKViewAttribute.h"
#include "foundation/Value.h"
#include "uikit/UIView.h"

namespace UIView_LKAdditions {

using MakerBlock = std::function<void(const Ref<LKConstraintMaker>& make)>;

// Each answers a new attribute of the view, with the view as item.
Ref<LKViewAttribute> lk_left(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_top(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_right(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_bottom(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_leading(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_trailing(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_width(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_height(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_centerX(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_centerY(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_baseline(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_leftMargin(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_rightMargin(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_topMargin(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_bottomMargin(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_leadingMargin(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_trailingMargin(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_centerXWithinMargins(const Ref<UIView>& view);
Ref<LKViewAttribute> lk_centerYWithinMargins(const Ref<UIView>& view);
// A callback answering the view's attribute of any number.
std::function<Ref<LKViewAttribute>(NSLayoutAttribute)> lk_attribute(const Ref<UIView>& view);

// The debug key (any object; nil when none).
Value lk_key(const UIView& view);
void setMas_key(UIView& view, const Value& key);

// The nearest ancestor-or-self of `other` that is also an ancestor-or-self of `view`; nullptr
// when `other` is null or the two share none.
Ref<UIView> lk_closestCommonSuperview(const Ref<UIView>& view, const Ref<UIView>& other);

// Turn off the view's autoresizing-mask translation, make a maker, run the block, install and
// answer what was installed. Update reuses matching installed constraints (changing only their
// constants); remake first removes every builder constraint of the view.
std::vector<Ref<LKConstraint>> lk_makeConstraints(const Ref<UIView>& view, const MakerBlock& block);
std::vector<Ref<LKConstraint>> lk_updateConstraints(const Ref<UIView>& view, const MakerBlock& block);
std::vector<Ref<LKConstraint>> lk_remakeConstraints(const Ref<UIView>& view, const MakerBlock& block);

}  // namespace UIView_LKAdditions
