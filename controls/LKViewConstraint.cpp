#include "controls/LKViewConstraint.h"

#include <algorithm>

#include "controls/LKCompositeConstraint.h"
#include "controls/UIView+LKAdditions.h"
#include "controls/UIView+LKConstraints.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSValue.h"

LKViewConstraint::LKViewConstraint(Ref<LKViewAttribute> firstViewAttribute)
    : firstViewAttribute_(std::move(firstViewAttribute)) {}

Ref<LKViewConstraint> LKViewConstraint::copy() const {
    auto constraint = make<LKViewConstraint>(firstViewAttribute_);
    constraint->setLayoutConstant(layoutConstant_);
    constraint->setLayoutRelation(layoutRelation_);
    constraint->setLayoutPriority(layoutPriority_);
    constraint->setLayoutMultiplier(layoutMultiplier_);
    constraint->setDelegate(delegate());
    return constraint;
}

std::vector<Ref<LKViewConstraint>> LKViewConstraint::installedConstraintsForView(const Ref<UIView>& view) {
    if (!view) return {};
    return UIView_LKConstraints::lk_installedConstraints(*view)->allObjects();
}

// ---- state -------------------------------------------------------------------------------------

void LKViewConstraint::setLayoutConstant(double constant) {
    NS_ASSERT_MAIN_THREAD();
    layoutConstant_ = constant;
    if (layoutConstraint_) layoutConstraint_->setConstant(constant);
}

void LKViewConstraint::setLayoutRelation(NSLayoutRelation relation) {
    NS_ASSERT_MAIN_THREAD();
    layoutRelation_ = relation;
    hasLayoutRelation_ = true;
}

bool LKViewConstraint::isActive() const {
    if (!supportsActiveProperty()) return true;
    return layoutConstraint_->isActive();
}

bool LKViewConstraint::hasBeenInstalled() const {
    return layoutConstraint_ != nullptr && isActive();
}

void LKViewConstraint::setSecondViewAttribute(const Value& target) {
    NS_ASSERT_MAIN_THREAD();
    if (target.isNumber() || target.objectAs<NSValue>()) {
        setLayoutConstantWithValue(target);
    } else if (auto view = target.objectAs<UIView>()) {
        secondViewAttribute_ = make<LKViewAttribute>(view, firstViewAttribute_->layoutAttribute());
    } else if (auto attribute = target.objectAs<LKViewAttribute>()) {
        secondViewAttribute_ = attribute;
    }
}

// ---- chaining ----------------------------------------------------------------------------------

LKConstraint::FloatBlock LKViewConstraint::multipliedBy() {
    auto self = selfAs<LKViewConstraint>();
    return [self](CGFloat multiplier) -> Ref<LKConstraint> {
        self->layoutMultiplier_ = multiplier;
        return self;
    };
}

LKConstraint::FloatBlock LKViewConstraint::dividedBy() {
    auto self = selfAs<LKViewConstraint>();
    return [self](CGFloat divider) -> Ref<LKConstraint> {
        self->layoutMultiplier_ = 1.0 / divider;
        return self;
    };
}

LKConstraint::PriorityBlock LKViewConstraint::priority() {
    auto self = selfAs<LKViewConstraint>();
    return [self](float priority) -> Ref<LKConstraint> {
        self->layoutPriority_ = priority;
        return self;
    };
}

LKConstraint::RelationBlock LKViewConstraint::equalToWithRelation() {
    auto self = selfAs<LKViewConstraint>();
    return [self](const Value& target, NSLayoutRelation relation) -> Ref<LKConstraint> {
        if (const Array* targets = target.array()) {
            std::vector<Ref<LKConstraint>> children;
            for (const Value& element : *targets) {
                auto child = self->copy();
                child->setLayoutRelation(relation);
                child->setSecondViewAttribute(element);
                children.push_back(child);
            }
            auto composite = make<LKCompositeConstraint>(children);
            composite->setDelegate(self->delegate());
            if (auto delegate = self->delegate())
                delegate->constraintShouldBeReplacedWithConstraint(self, composite);
            return composite;
        }
        self->setLayoutRelation(relation);
        self->setSecondViewAttribute(target);
        return self;
    };
}

LKConstraint::KeyBlock LKViewConstraint::key() {
    auto self = selfAs<LKViewConstraint>();
    return [self](const Value& key) -> Ref<LKConstraint> {
        self->key_ = key;
        return self;
    };
}

Ref<LKConstraint> LKViewConstraint::addConstraintWithLayoutAttribute(NSLayoutAttribute layoutAttribute) {
    auto delegate = this->delegate();
    if (!delegate) return nullptr;
    return delegate->constraintAddConstraintWithLayoutAttribute(selfAs<LKConstraint>(), layoutAttribute);
}

// ---- constants ---------------------------------------------------------------------------------

void LKViewConstraint::setInsets(UIEdgeInsets insets) {
    switch (firstViewAttribute_->layoutAttribute()) {
        case NSLayoutAttributeLeft:
        case NSLayoutAttributeLeading:
            setLayoutConstant(insets.left);
            break;
        case NSLayoutAttributeRight:
        case NSLayoutAttributeTrailing:
            setLayoutConstant(-insets.right);
            break;
        case NSLayoutAttributeTop:
            setLayoutConstant(insets.top);
            break;
        case NSLayoutAttributeBottom:
            setLayoutConstant(-insets.bottom);
            break;
        default:
            break;
    }
}

void LKViewConstraint::setSizeOffset(CGSize sizeOffset) {
    switch (firstViewAttribute_->layoutAttribute()) {
        case NSLayoutAttributeWidth:
            setLayoutConstant(sizeOffset.width);
            break;
        case NSLayoutAttributeHeight:
            setLayoutConstant(sizeOffset.height);
            break;
        default:
            break;
    }
}

void LKViewConstraint::setCenterOffset(CGPoint centerOffset) {
    switch (firstViewAttribute_->layoutAttribute()) {
        case NSLayoutAttributeCenterX:
            setLayoutConstant(centerOffset.x);
            break;
        case NSLayoutAttributeCenterY:
            setLayoutConstant(centerOffset.y);
            break;
        default:
            break;
    }
}

void LKViewConstraint::setOffset(CGFloat offset) {
    setLayoutConstant(offset);
}

// ---- installation ------------------------------------------------------------------------------

void LKViewConstraint::install() {
    installReportingSuccess();
}

bool LKViewConstraint::installReportingSuccess() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (hasBeenInstalled()) return true;

    auto firstView = firstViewAttribute_->view();
    if (!firstView) {
        NSLog("Constraint not installed: its view is gone.");
        return false;
    }
    Ref<NSObject> firstItem = firstViewAttribute_->item();
    NSLayoutAttribute firstAttribute = firstViewAttribute_->layoutAttribute();
    Ref<NSObject> secondItem = secondViewAttribute_ ? secondViewAttribute_->item() : nullptr;
    NSLayoutAttribute secondAttribute =
        secondViewAttribute_ ? secondViewAttribute_->layoutAttribute() : NSLayoutAttributeNotAnAttribute;

    // A position with only a constant relates to the superview's same edge or centre.
    if (!firstViewAttribute_->isSizeAttribute() && !secondViewAttribute_) {
        secondItem = firstView->superview();
        secondAttribute = firstAttribute;
        if (!secondItem) {
            NSLog("Constraint on %@ not installed: a position with only a constant needs a superview.",
                  Value(firstView));
            return false;
        }
    }

    auto layoutConstraint =
        LKLayoutConstraint::constraintWithItem(firstItem, firstAttribute, layoutRelation_, secondItem,
                                               secondAttribute, layoutMultiplier_, layoutConstant_);
    layoutConstraint->setPriority(layoutPriority_);
    layoutConstraint->setMas_key(key_);

    Ref<UIView> installedView;
    if (secondViewAttribute_ && secondViewAttribute_->view()) {
        installedView =
            UIView_LKAdditions::lk_closestCommonSuperview(firstView, secondViewAttribute_->view());
        if (!installedView) {
            NSLog("Constraint %@ not installed: its views have no common ancestor.", Value(layoutConstraint));
            return false;
        }
    } else if (firstViewAttribute_->isSizeAttribute()) {
        installedView = firstView;
    } else {
        installedView = firstView->superview();
    }
    installedView_ = installedView;

    if (updateExisting()) {
        if (auto existing = layoutConstraintSimilarTo(layoutConstraint)) {
            existing->setConstant(layoutConstant_);
            layoutConstraint_ = existing;
            return true;
        }
    }

    installedView->addConstraint(layoutConstraint);
    layoutConstraint_ = layoutConstraint;
    UIView_LKConstraints::lk_installedConstraints(*firstView)->addObject(selfAs<LKViewConstraint>());
    return true;
}

Ref<LKLayoutConstraint>
LKViewConstraint::layoutConstraintSimilarTo(const Ref<LKLayoutConstraint>& constraint) const {
    auto view = installedView();
    if (!view || !constraint) return nullptr;
    const auto& constraints = view->constraints();
    for (auto it = constraints.rbegin(); it != constraints.rend(); ++it) {
        auto existing = asKind<LKLayoutConstraint>(*it);
        if (!existing) continue;
        if (existing->firstItem() != constraint->firstItem()) continue;
        if (existing->secondItem() != constraint->secondItem()) continue;
        if (existing->firstAttribute() != constraint->firstAttribute()) continue;
        if (existing->secondAttribute() != constraint->secondAttribute()) continue;
        if (existing->relation() != constraint->relation()) continue;
        if (existing->multiplier() != constraint->multiplier()) continue;
        if (existing->priority() != constraint->priority()) continue;
        return existing;
    }
    return nullptr;
}

void LKViewConstraint::uninstall() {
    if (layoutConstraint_) {
        if (auto view = installedView()) view->removeConstraint(layoutConstraint_);
        // Activated again later by the platform, it may sit on another ancestor.
        if (layoutConstraint_->isActive()) layoutConstraint_->setActive(false);
    }
    layoutConstraint_ = nullptr;
    installedView_.reset();
    if (auto firstView = firstViewAttribute_->view()) {
        UIView_LKConstraints::lk_installedConstraints(*firstView)->removeObject(this);
    }
}

void LKViewConstraint::activate() {
    if (supportsActiveProperty() && layoutConstraint_) {
        if (hasBeenInstalled()) return;
        layoutConstraint_->setActive(true);
        if (!layoutConstraint_->isActive()) return;  // the platform refused (logged there)
        if (auto firstView = firstViewAttribute_->view()) {
            UIView_LKConstraints::lk_installedConstraints(*firstView)->addObject(selfAs<LKViewConstraint>());
        }
        return;
    }
    install();
}

void LKViewConstraint::deactivate() {
    if (supportsActiveProperty()) {
        layoutConstraint_->setActive(false);
        if (auto firstView = firstViewAttribute_->view()) {
            UIView_LKConstraints::lk_installedConstraints(*firstView)->removeObject(this);
        }
        return;
    }
    uninstall();
}
