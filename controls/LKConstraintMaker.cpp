#include "controls/LKConstraintMaker.h"

#include <algorithm>

#include "controls/LKCompositeConstraint.h"
#include "controls/LKViewConstraint.h"
#include "foundation/NSMainThreadCheck.h"

namespace {

// The attributes of a mask, in the order they are made.
constexpr NSLayoutAttribute kMaskOrder[] = {
    NSLayoutAttributeLeft,
    NSLayoutAttributeRight,
    NSLayoutAttributeTop,
    NSLayoutAttributeBottom,
    NSLayoutAttributeLeading,
    NSLayoutAttributeTrailing,
    NSLayoutAttributeWidth,
    NSLayoutAttributeHeight,
    NSLayoutAttributeCenterX,
    NSLayoutAttributeCenterY,
    NSLayoutAttributeBaseline,
    NSLayoutAttributeLeftMargin,
    NSLayoutAttributeRightMargin,
    NSLayoutAttributeTopMargin,
    NSLayoutAttributeBottomMargin,
    NSLayoutAttributeLeadingMargin,
    NSLayoutAttributeTrailingMargin,
    NSLayoutAttributeCenterXWithinMargins,
    NSLayoutAttributeCenterYWithinMargins,
};

constexpr unsigned long bit(NSLayoutAttribute attribute) {
    return 1ul << attribute;
}

}  // namespace

LKConstraintMaker::LKConstraintMaker(const Ref<UIView>& view) : view_(view) {}

std::vector<Ref<LKConstraint>> LKConstraintMaker::install() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (removeExisting_) {
        for (const auto& installed : LKViewConstraint::installedConstraintsForView(view()))
            installed->uninstall();
    }
    std::vector<Ref<LKConstraint>> snapshot = constraints_;
    for (const auto& constraint : snapshot) {
        constraint->setUpdateExisting(updateExisting_);
        constraint->install();
    }
    constraints_.clear();
    return snapshot;
}

void LKConstraintMaker::constraintShouldBeReplacedWithConstraint(const Ref<LKConstraint>& constraint,
                                                                 const Ref<LKConstraint>& replacement) {
    auto it = std::find(constraints_.begin(), constraints_.end(), constraint);
    if (it != constraints_.end()) *it = replacement;
}

Ref<LKConstraint>
LKConstraintMaker::constraintAddConstraintWithLayoutAttribute(const Ref<LKConstraint>& constraint,
                                                              NSLayoutAttribute layoutAttribute) {
    auto attribute = make<LKViewAttribute>(view(), layoutAttribute);
    auto added = make<LKViewConstraint>(attribute);
    Ref<LKConstraintDelegate> self = selfAs<LKConstraintMaker>();
    if (isKindOf<LKViewConstraint>(constraint)) {
        auto composite = make<LKCompositeConstraint>(std::vector<Ref<LKConstraint>>{constraint, added});
        composite->setDelegate(self);
        constraintShouldBeReplacedWithConstraint(constraint, composite);
        return composite;
    }
    if (!constraint) {
        added->setDelegate(self);
        constraints_.push_back(added);
    }
    return added;
}

Ref<LKConstraint> LKConstraintMaker::addConstraintWithAttributes(unsigned long attributeMask) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    std::vector<Ref<LKConstraint>> children;
    for (NSLayoutAttribute attribute : kMaskOrder) {
        if (attributeMask & bit(attribute)) {
            children.push_back(make<LKViewConstraint>(make<LKViewAttribute>(view(), attribute)));
        }
    }
    auto composite = make<LKCompositeConstraint>(std::move(children));
    composite->setDelegate(selfAs<LKConstraintMaker>());
    constraints_.push_back(composite);
    return composite;
}

Ref<LKConstraint> LKConstraintMaker::addConstraintWithLayoutAttribute(NSLayoutAttribute layoutAttribute) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return constraintAddConstraintWithLayoutAttribute(nullptr, layoutAttribute);
}

LKConstraintMaker::AttributesBlock LKConstraintMaker::attributes() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKConstraintMaker>();
    return [self](unsigned long mask) { return self->addConstraintWithAttributes(mask); };
}

Ref<LKConstraint> LKConstraintMaker::edges() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return addConstraintWithAttributes(bit(NSLayoutAttributeLeft) | bit(NSLayoutAttributeRight) |
                                       bit(NSLayoutAttributeTop) | bit(NSLayoutAttributeBottom));
}

Ref<LKConstraint> LKConstraintMaker::size() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return addConstraintWithAttributes(bit(NSLayoutAttributeWidth) | bit(NSLayoutAttributeHeight));
}

Ref<LKConstraint> LKConstraintMaker::center() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return addConstraintWithAttributes(bit(NSLayoutAttributeCenterX) | bit(NSLayoutAttributeCenterY));
}

LKConstraintMaker::GroupBlock LKConstraintMaker::group() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKConstraintMaker>();
    return [self](const std::function<void()>& declarations) -> Ref<LKConstraint> {
        std::size_t before = self->constraints_.size();
        if (declarations) declarations();
        std::vector<Ref<LKConstraint>> added;
        if (self->constraints_.size() > before) {
            added.assign(self->constraints_.begin() + static_cast<std::ptrdiff_t>(before),
                         self->constraints_.end());
        }
        auto composite = make<LKCompositeConstraint>(std::move(added));
        composite->setDelegate(self);
        return composite;
    };
}
