#include "controls/LKCompositeConstraint.h"

#include <algorithm>

#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"

LKCompositeConstraint::LKCompositeConstraint(std::vector<Ref<LKConstraint>> children)
    : children_(std::move(children)) {}

void LKCompositeConstraint::didInit() {
    Ref<LKConstraintDelegate> self = selfAs<LKCompositeConstraint>();
    for (const auto& child : children_) {
        if (child) child->setDelegate(self);
    }
}

void LKCompositeConstraint::constraintShouldBeReplacedWithConstraint(const Ref<LKConstraint>& constraint,
                                                                     const Ref<LKConstraint>& replacement) {
    auto it = std::find(children_.begin(), children_.end(), constraint);
    if (it != children_.end()) *it = replacement;
}

Ref<LKConstraint>
LKCompositeConstraint::constraintAddConstraintWithLayoutAttribute(const Ref<LKConstraint>&,
                                                                  NSLayoutAttribute layoutAttribute) {
    auto delegate = this->delegate();
    if (!delegate) return nullptr;
    auto added =
        delegate->constraintAddConstraintWithLayoutAttribute(selfAs<LKConstraint>(), layoutAttribute);
    if (!added) return nullptr;
    added->setDelegate(selfAs<LKCompositeConstraint>());
    children_.push_back(added);
    return added;
}

Ref<LKConstraint> LKCompositeConstraint::addConstraintWithLayoutAttribute(NSLayoutAttribute layoutAttribute) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    constraintAddConstraintWithLayoutAttribute(selfAs<LKConstraint>(), layoutAttribute);
    return selfAs<LKConstraint>();
}

// ---- chaining ----------------------------------------------------------------------------------

LKConstraint::FloatBlock LKCompositeConstraint::multipliedBy() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKCompositeConstraint>();
    return [self](CGFloat multiplier) -> Ref<LKConstraint> {
        for (const auto& child : std::vector(self->children_)) child->multipliedBy()(multiplier);
        return self;
    };
}

LKConstraint::FloatBlock LKCompositeConstraint::dividedBy() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKCompositeConstraint>();
    return [self](CGFloat divider) -> Ref<LKConstraint> {
        for (const auto& child : std::vector(self->children_)) child->dividedBy()(divider);
        return self;
    };
}

LKConstraint::PriorityBlock LKCompositeConstraint::priority() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKCompositeConstraint>();
    return [self](float priority) -> Ref<LKConstraint> {
        for (const auto& child : std::vector(self->children_)) child->priority()(priority);
        return self;
    };
}

LKConstraint::RelationBlock LKCompositeConstraint::equalToWithRelation() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKCompositeConstraint>();
    return [self](const Value& target, NSLayoutRelation relation) -> Ref<LKConstraint> {
        // A child given an array replaces itself by a composite during the walk: walk a snapshot.
        for (const auto& child : std::vector(self->children_)) child->equalToWithRelation()(target, relation);
        return self;
    };
}

LKConstraint::KeyBlock LKCompositeConstraint::key() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto self = selfAs<LKCompositeConstraint>();
    return [self](const Value& key) -> Ref<LKConstraint> {
        self->key_ = key;
        int index = 0;
        for (const auto& child : std::vector(self->children_)) {
            child->key()(Value(NSString::stringWithFormat("%@[%d]", key, index++)));
        }
        return self;
    };
}

// ---- constants and installation ----------------------------------------------------------------

void LKCompositeConstraint::setInsets(UIEdgeInsets insets) {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& child : std::vector(children_)) child->setInsets(insets);
}

void LKCompositeConstraint::setSizeOffset(CGSize sizeOffset) {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& child : std::vector(children_)) child->setSizeOffset(sizeOffset);
}

void LKCompositeConstraint::setCenterOffset(CGPoint centerOffset) {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& child : std::vector(children_)) child->setCenterOffset(centerOffset);
}

void LKCompositeConstraint::setOffset(CGFloat offset) {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& child : std::vector(children_)) child->setOffset(offset);
}

void LKCompositeConstraint::activate() {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& child : std::vector(children_)) child->activate();
}

void LKCompositeConstraint::deactivate() {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& child : std::vector(children_)) child->deactivate();
}

void LKCompositeConstraint::install() {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& child : std::vector(children_)) {
        child->setUpdateExisting(updateExisting());
        child->install();
    }
}

void LKCompositeConstraint::uninstall() {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& child : std::vector(children_)) child->uninstall();
}
