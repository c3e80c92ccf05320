#pragma once
// A group of builder constraints that passes every chaining operation on to its children, in
// order. Children may themselves be composites. The composite is the delegate of its children,
// so a child that turns into a composite (given an array target) takes its place in the list, and
// further attributes (left(), width()...) grow the composite and keep the chain on it.
// Main thread only.

#include <vector>

#include "controls/LKConstraint.h"

class LKCompositeConstraint : public LKConstraint, public LKConstraintDelegate {
  public:
    // initWithChildren: keeps its own copy of the list.
    explicit LKCompositeConstraint(std::vector<Ref<LKConstraint>> children);
    // Makes itself the delegate of every child.
    void didInit();
    std::string className() const override { return "LKCompositeConstraint"; }

    // ---- LKConstraintDelegate -----------------------------------------------------------------
    void constraintShouldBeReplacedWithConstraint(const Ref<LKConstraint>& constraint,
                                                  const Ref<LKConstraint>& replacement) override;
    // Asks its own delegate for the constraint, adopts it and appends it to the children.
    Ref<LKConstraint> constraintAddConstraintWithLayoutAttribute(const Ref<LKConstraint>& constraint,
                                                                 NSLayoutAttribute layoutAttribute) override;

    // ---- LKConstraint -------------------------------------------------------------------------
    FloatBlock multipliedBy() override;
    FloatBlock dividedBy() override;
    PriorityBlock priority() override;
    RelationBlock equalToWithRelation() override;
    // Answers the composite itself.
    Ref<LKConstraint> addConstraintWithLayoutAttribute(NSLayoutAttribute layoutAttribute) override;
    // The composite's key is the key; child i gets "<key>[i]".
    KeyBlock key() override;
    void setInsets(UIEdgeInsets insets) override;
    void setSizeOffset(CGSize sizeOffset) override;
    void setCenterOffset(CGPoint centerOffset) override;
    void setOffset(CGFloat offset) override;
    void activate() override;
    void deactivate() override;
    // Hands its updateExisting to each child before installing it.
    void install() override;
    void uninstall() override;

    const Value& lk_key() const { return key_; }
    void setMas_key(const Value& key) { key_ = key; }
    const std::vector<Ref<LKConstraint>>& childConstraints() const { return children_; }

  private:
    std::vector<Ref<LKConstraint>> children_;
    Value key_;
};
