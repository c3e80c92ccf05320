#include "controls/UIView+LKAdditions.h"

#include "foundation/NSMainThreadCheck.h"

namespace UIView_LKAdditions {

namespace {

// The key of the debug key, as the operation's name is on the platform.
const char kDebugKey[] = "lk_key";

Ref<LKViewAttribute> attribute(const Ref<UIView>& view, NSLayoutAttribute layoutAttribute) {
    return make<LKViewAttribute>(view, layoutAttribute);
}

enum class Mode { Make, Update, Remake };

std::vector<Ref<LKConstraint>> run(const Ref<UIView>& view, const MakerBlock& block, Mode mode) {
    if (!view) return {};
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto maker = make<LKConstraintMaker>(view);
    maker->setUpdateExisting(mode == Mode::Update);
    maker->setRemoveExisting(mode == Mode::Remake);
    if (block) block(maker);
    return maker->install();
}

}  // namespace

Ref<LKViewAttribute> lk_left(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeLeft);
}
Ref<LKViewAttribute> lk_top(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeTop);
}
Ref<LKViewAttribute> lk_right(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeRight);
}
Ref<LKViewAttribute> lk_bottom(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeBottom);
}
Ref<LKViewAttribute> lk_leading(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeLeading);
}
Ref<LKViewAttribute> lk_trailing(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeTrailing);
}
Ref<LKViewAttribute> lk_width(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeWidth);
}
Ref<LKViewAttribute> lk_height(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeHeight);
}
Ref<LKViewAttribute> lk_centerX(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeCenterX);
}
Ref<LKViewAttribute> lk_centerY(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeCenterY);
}
Ref<LKViewAttribute> lk_baseline(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeBaseline);
}
Ref<LKViewAttribute> lk_leftMargin(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeLeftMargin);
}
Ref<LKViewAttribute> lk_rightMargin(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeRightMargin);
}
Ref<LKViewAttribute> lk_topMargin(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeTopMargin);
}
Ref<LKViewAttribute> lk_bottomMargin(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeBottomMargin);
}
Ref<LKViewAttribute> lk_leadingMargin(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeLeadingMargin);
}
Ref<LKViewAttribute> lk_trailingMargin(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeTrailingMargin);
}
Ref<LKViewAttribute> lk_centerXWithinMargins(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeCenterXWithinMargins);
}
Ref<LKViewAttribute> lk_centerYWithinMargins(const Ref<UIView>& v) {
    return attribute(v, NSLayoutAttributeCenterYWithinMargins);
}

std::function<Ref<LKViewAttribute>(NSLayoutAttribute)> lk_attribute(const Ref<UIView>& view) {
    Weak<UIView> weak = view;
    return [weak](NSLayoutAttribute layoutAttribute) { return attribute(weak.lock(), layoutAttribute); };
}

Value lk_key(const UIView& view) {
    return view.associatedObject(kDebugKey);
}

void setMas_key(UIView& view, const Value& key) {
    NS_ASSERT_MAIN_THREAD();
    view.setAssociatedObject(kDebugKey, key, AssociationPolicy::Retain);
}

Ref<UIView> lk_closestCommonSuperview(const Ref<UIView>& view, const Ref<UIView>& other) {
    if (!other) return nullptr;
    for (UIView* outer = other.get(); outer; outer = outer->superviewPointer()) {
        for (UIView* inner = view.get(); inner; inner = inner->superviewPointer()) {
            if (inner == outer) return inner->selfAs<UIView>();
        }
    }
    return nullptr;
}

std::vector<Ref<LKConstraint>> lk_makeConstraints(const Ref<UIView>& view, const MakerBlock& block) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return run(view, block, Mode::Make);
}

std::vector<Ref<LKConstraint>> lk_updateConstraints(const Ref<UIView>& view, const MakerBlock& block) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return run(view, block, Mode::Update);
}

std::vector<Ref<LKConstraint>> lk_remakeConstraints(const Ref<UIView>& view, const MakerBlock& block) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return run(view, block, Mode::Remake);
}

}  // namespace UIView_LKAdditions
