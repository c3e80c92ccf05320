#pragma once
// The builder's concrete constraint: one attribute of one view, related to another view's
// attribute, to the superview's same attribute, or to a constant. It collects relation, target,
// multiplier, constant, priority and debug key through the chaining operations, makes the
// platform constraint when installed, and can later update, deactivate, reactivate or remove it.
//
// Installation refuses what cannot be installed: a position attribute with only a constant on a
// view without a superview, and two views with no common ancestor. The refusal is logged, no
// platform constraint is added and the constraint does not enter the installed set; install()
// answers false then.
//
// The platform constraint in force is held strongly (the installed view holds it too), so that a
// deactivated constraint can be activated again with the same platform constraint.
//
// Ownership: before installation the maker's list holds the constraint; after it, the first view's
// installed-constraint set (UIView+LKConstraints.h). Main thread only.

#include <vector>

#include "controls/LKConstraint.h"
#include "controls/LKLayoutConstraint.h"
#include "controls/LKViewAttribute.h"

class LKViewConstraint : public LKConstraint {
  public:
    // initWithFirstViewAttribute: — priority 1000, multiplier 1.
    explicit LKViewConstraint(Ref<LKViewAttribute> firstViewAttribute);
    std::string className() const override { return "LKViewConstraint"; }

    // copyWithZone: the first attribute, constant, relation, priority, multiplier and delegate;
    // never the target, the key, updateExisting or the installation.
    Ref<LKViewConstraint> copy() const;
    Ref<NSObject> copyObject() const override { return copy(); }

    // A snapshot of the view's installed builder constraints, safe to walk while they uninstall.
    static std::vector<Ref<LKViewConstraint>> installedConstraintsForView(const Ref<UIView>& view);

    // ---- the platform constraint ---------------------------------------------------------------
    // The platform's active flag exists wherever a platform constraint is in force.
    bool supportsActiveProperty() const { return layoutConstraint_ != nullptr; }
    // The platform constraint's active flag; true when there is none to ask.
    bool isActive() const;
    // A platform constraint is in force and active.
    bool hasBeenInstalled() const;

    // ---- LKConstraint -------------------------------------------------------------------------
    FloatBlock multipliedBy() override;
    FloatBlock dividedBy() override;
    PriorityBlock priority() override;
    RelationBlock equalToWithRelation() override;
    KeyBlock key() override;
    Ref<LKConstraint> addConstraintWithLayoutAttribute(NSLayoutAttribute layoutAttribute) override;
    void setInsets(UIEdgeInsets insets) override;
    void setSizeOffset(CGSize sizeOffset) override;
    void setCenterOffset(CGPoint centerOffset) override;
    void setOffset(CGFloat offset) override;
    void activate() override;
    void deactivate() override;
    void install() override;
    void uninstall() override;

    // install(), answering whether a platform constraint is in force afterwards.
    bool installReportingSuccess();
    // The newest builder-made platform constraint on the installed view with the same items,
    // attributes, relation, multiplier and priority (the constant is not compared); nullptr when
    // none.
    Ref<LKLayoutConstraint> layoutConstraintSimilarTo(const Ref<LKLayoutConstraint>& constraint) const;

    // ---- fields -------------------------------------------------------------------------------
    const Ref<LKViewAttribute>& firstViewAttribute() const { return firstViewAttribute_; }
    const Ref<LKViewAttribute>& secondViewAttribute() const { return secondViewAttribute_; }
    // An NSValue (a number included) becomes the constant; a view becomes that view's attribute of
    // the first attribute's number; an LKViewAttribute is kept; anything else is ignored.
    void setSecondViewAttribute(const Value& target);
    Ref<UIView> installedView() const { return installedView_.lock(); }
    const Ref<LKLayoutConstraint>& layoutConstraint() const { return layoutConstraint_; }
    NSLayoutRelation layoutRelation() const { return layoutRelation_; }
    void setLayoutRelation(NSLayoutRelation relation);
    bool hasLayoutRelation() const { return hasLayoutRelation_; }
    float layoutPriority() const { return layoutPriority_; }
    void setLayoutPriority(float priority) { layoutPriority_ = priority; }
    double layoutMultiplier() const { return layoutMultiplier_; }
    void setLayoutMultiplier(double multiplier) { layoutMultiplier_ = multiplier; }
    double layoutConstant() const { return layoutConstant_; }
    // Also moves the platform constraint in force.
    void setLayoutConstant(double constant);
    const Value& lk_key() const { return key_; }
    void setMas_key(const Value& key) { key_ = key; }
    bool useAnimator() const { return useAnimator_; }
    void setUseAnimator(bool use) { useAnimator_ = use; }

  private:
    Ref<LKViewAttribute> firstViewAttribute_;
    Ref<LKViewAttribute> secondViewAttribute_;
    Weak<UIView> installedView_;
    Ref<LKLayoutConstraint> layoutConstraint_;
    NSLayoutRelation layoutRelation_ = NSLayoutRelationEqual;
    float layoutPriority_ = UILayoutPriorityRequired;
    double layoutMultiplier_ = 1.0;
    double layoutConstant_ = 0;
    bool hasLayoutRelation_ = false;
    Value key_;
    bool useAnimator_ = false;
};
