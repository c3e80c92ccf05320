#pragma once
// The layout-constraint builder's abstract constraint: a chaining vocabulary over platform layout
// constraints. Most operations answer a callback; invoking it applies the value and answers a
// constraint, so that calls chain:
//
//     maker->left()->equalTo()(superview)->offset()(10)->priorityHigh()();
//
// Each callback holds the constraint that produced it. The single-attribute constraint
// (LKViewConstraint) and the composite (LKCompositeConstraint) supply the operations marked
// "subclass" below; on this base class they raise NSInternalInconsistencyException with the
// reason "You must override <operation> in a subclass.".
//
// Targets of the relation callbacks are Values: a view, an LKViewAttribute, a number or an
// NSValue of a point, size or edge insets (a constant), or an array of these (one constraint per
// element, grouped in a composite).
//
// `and` is a reserved word of C++; the chaining no-op is `and_()`. Main thread only.

#include <functional>
#include <string>

#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "graphics/CGGeometry.h"
#include "uikit/NSLayoutConstraint.h"

class LKConstraint;

// Adopted by the composite and the maker: they keep lists of constraints in which a constraint
// can be replaced, and they make the constraints for further attributes of the same view.
class LKConstraintDelegate {
  public:
    virtual ~LKConstraintDelegate() = default;
    // constraint:shouldBeReplacedWithConstraint:
    virtual void constraintShouldBeReplacedWithConstraint(const Ref<LKConstraint>& constraint,
                                                          const Ref<LKConstraint>& replacement) = 0;
    // constraint:addConstraintWithLayoutAttribute: (the constraint may be null).
    virtual Ref<LKConstraint>
    constraintAddConstraintWithLayoutAttribute(const Ref<LKConstraint>& constraint,
                                               NSLayoutAttribute layoutAttribute) = 0;
};

class LKConstraint : public NSObject {
  public:
    using TargetBlock = std::function<Ref<LKConstraint>(const Value& target)>;
    using RelationBlock = std::function<Ref<LKConstraint>(const Value& target, NSLayoutRelation relation)>;
    using FloatBlock = std::function<Ref<LKConstraint>(CGFloat value)>;
    using PriorityBlock = std::function<Ref<LKConstraint>(float priority)>;
    using VoidBlock = std::function<Ref<LKConstraint>()>;
    using InsetsBlock = std::function<Ref<LKConstraint>(UIEdgeInsets insets)>;
    using SizeBlock = std::function<Ref<LKConstraint>(CGSize size)>;
    using PointBlock = std::function<Ref<LKConstraint>(CGPoint point)>;
    using KeyBlock = std::function<Ref<LKConstraint>(const Value& key)>;

    LKConstraint() = default;
    std::string className() const override { return "LKConstraint"; }

    // ---- relations (callbacks) ----------------------------------------------------------------
    // Each invokes equalToWithRelation() with the target and the relation (0, 1, -1).
    TargetBlock equalTo();
    TargetBlock lk_equalTo() { return equalTo(); }
    TargetBlock greaterThanOrEqualTo();
    TargetBlock lk_greaterThanOrEqualTo() { return greaterThanOrEqualTo(); }
    TargetBlock lessThanOrEqualTo();
    TargetBlock lk_lessThanOrEqualTo() { return lessThanOrEqualTo(); }

    // ---- priorities (callbacks): priority() with 250, 500, 750 ---------------------------------
    VoidBlock priorityLow();
    VoidBlock priorityMedium();
    VoidBlock priorityHigh();

    // ---- constants (callbacks) ----------------------------------------------------------------
    InsetsBlock insets();
    SizeBlock sizeOffset();
    PointBlock centerOffset();
    FloatBlock offset();
    // Applies a boxed value by setLayoutConstantWithValue.
    TargetBlock valueOffset();
    // Offers no callback (an empty function).
    FloatBlock lk_offset() { return {}; }

    // A number sets the offset; an NSValue of a point, a size or edge insets sets the centre
    // offset, the size offset or the insets; anything else is ignored.
    void setLayoutConstantWithValue(const Value& value);

    // ---- chaining -----------------------------------------------------------------------------
    Ref<LKConstraint> with() { return selfAs<LKConstraint>(); }
    Ref<LKConstraint> and_() { return selfAs<LKConstraint>(); }

    // ---- further attributes of the same view --------------------------------------------------
    Ref<LKConstraint> left() { return addConstraintWithLayoutAttribute(NSLayoutAttributeLeft); }
    Ref<LKConstraint> top() { return addConstraintWithLayoutAttribute(NSLayoutAttributeTop); }
    Ref<LKConstraint> right() { return addConstraintWithLayoutAttribute(NSLayoutAttributeRight); }
    Ref<LKConstraint> bottom() { return addConstraintWithLayoutAttribute(NSLayoutAttributeBottom); }
    Ref<LKConstraint> leading() { return addConstraintWithLayoutAttribute(NSLayoutAttributeLeading); }
    Ref<LKConstraint> trailing() { return addConstraintWithLayoutAttribute(NSLayoutAttributeTrailing); }
    Ref<LKConstraint> width() { return addConstraintWithLayoutAttribute(NSLayoutAttributeWidth); }
    Ref<LKConstraint> height() { return addConstraintWithLayoutAttribute(NSLayoutAttributeHeight); }
    Ref<LKConstraint> centerX() { return addConstraintWithLayoutAttribute(NSLayoutAttributeCenterX); }
    Ref<LKConstraint> centerY() { return addConstraintWithLayoutAttribute(NSLayoutAttributeCenterY); }
    Ref<LKConstraint> baseline() { return addConstraintWithLayoutAttribute(NSLayoutAttributeBaseline); }
    Ref<LKConstraint> leftMargin() { return addConstraintWithLayoutAttribute(NSLayoutAttributeLeftMargin); }
    Ref<LKConstraint> rightMargin() { return addConstraintWithLayoutAttribute(NSLayoutAttributeRightMargin); }
    Ref<LKConstraint> topMargin() { return addConstraintWithLayoutAttribute(NSLayoutAttributeTopMargin); }
    Ref<LKConstraint> bottomMargin() {
        return addConstraintWithLayoutAttribute(NSLayoutAttributeBottomMargin);
    }
    Ref<LKConstraint> leadingMargin() {
        return addConstraintWithLayoutAttribute(NSLayoutAttributeLeadingMargin);
    }
    Ref<LKConstraint> trailingMargin() {
        return addConstraintWithLayoutAttribute(NSLayoutAttributeTrailingMargin);
    }
    Ref<LKConstraint> centerXWithinMargins() {
        return addConstraintWithLayoutAttribute(NSLayoutAttributeCenterXWithinMargins);
    }
    Ref<LKConstraint> centerYWithinMargins() {
        return addConstraintWithLayoutAttribute(NSLayoutAttributeCenterYWithinMargins);
    }

    // ---- subclass operations ------------------------------------------------------------------
    virtual Ref<LKConstraint> addConstraintWithLayoutAttribute(NSLayoutAttribute layoutAttribute);
    virtual FloatBlock multipliedBy();
    virtual FloatBlock dividedBy();
    virtual PriorityBlock priority();
    virtual RelationBlock equalToWithRelation();
    virtual KeyBlock key();
    virtual void setInsets(UIEdgeInsets insets);
    virtual void setSizeOffset(CGSize sizeOffset);
    virtual void setCenterOffset(CGPoint centerOffset);
    virtual void setOffset(CGFloat offset);
    virtual void activate();
    virtual void deactivate();
    virtual void install();
    virtual void uninstall();

    // ---- state --------------------------------------------------------------------------------
    // Reuse a matching installed platform constraint when installing (set by the maker).
    bool updateExisting() const { return updateExisting_; }
    void setUpdateExisting(bool update) { updateExisting_ = update; }
    // Held weakly.
    Ref<LKConstraintDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<LKConstraintDelegate>& delegate) { delegate_ = delegate; }

  protected:
    [[noreturn]] static void methodNotImplemented(const std::string& operation);

  private:
    bool updateExisting_ = false;
    Weak<LKConstraintDelegate> delegate_;
};
