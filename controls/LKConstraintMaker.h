#pragma once
// The entry side of the constraint builder: a view's make, update and remake operations create a
// maker for the view, hand it to the caller's callback, and install what the callback declared.
//
// The maker hands out single-attribute constraints; a chain of attributes (left then right)
// becomes a composite in the place of its first constraint. Attribute masks name several
// attributes at once: bit (1 << attribute number) for each of the nineteen attributes (left 2,
// right 4, top 8 ... centerYWithinMargins 1 << 20); other bits are ignored.
//
// A maker lives for one entry call and refers to its view weakly. Main thread only.

#include <functional>
#include <vector>

#include "controls/LKConstraint.h"
#include "uikit/UIView.h"

class LKConstraintMaker : public NSObject, public LKConstraintDelegate {
  public:
    using AttributesBlock = std::function<Ref<LKConstraint>(unsigned long attributeMask)>;
    using GroupBlock = std::function<Ref<LKConstraint>(const std::function<void()>& declarations)>;

    // initWithView:
    explicit LKConstraintMaker(const Ref<UIView>& view);
    std::string className() const override { return "LKConstraintMaker"; }

    // Uninstalls the view's builder constraints first when removeExisting is set; then installs
    // every declared constraint (handing it updateExisting), empties the list and answers what it
    // installed.
    std::vector<Ref<LKConstraint>> install();

    // ---- LKConstraintDelegate -----------------------------------------------------------------
    void constraintShouldBeReplacedWithConstraint(const Ref<LKConstraint>& constraint,
                                                  const Ref<LKConstraint>& replacement) override;
    // A new constraint on the view's attribute: with a single constraint given, a composite of the
    // two takes the given one's place; with none, the new one joins the list; with a composite
    // given, the new one is only answered (the composite adopts it).
    Ref<LKConstraint> constraintAddConstraintWithLayoutAttribute(const Ref<LKConstraint>& constraint,
                                                                 NSLayoutAttribute layoutAttribute) override;

    // A composite of one constraint per set bit (in attribute order), joined to the list.
    Ref<LKConstraint> addConstraintWithAttributes(unsigned long attributeMask);
    Ref<LKConstraint> addConstraintWithLayoutAttribute(NSLayoutAttribute layoutAttribute);

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
    AttributesBlock attributes();
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
    // Left, right, top and bottom.
    Ref<LKConstraint> edges();
    // Width and height.
    Ref<LKConstraint> size();
    // CenterX and centerY.
    Ref<LKConstraint> center();
    // Runs the declarations and answers a composite of the constraints they added to the list;
    // the constraints stay in the list as top-level entries.
    GroupBlock group();

    Ref<UIView> view() const { return view_.lock(); }
    const std::vector<Ref<LKConstraint>>& constraints() const { return constraints_; }
    bool updateExisting() const { return updateExisting_; }
    void setUpdateExisting(bool update) { updateExisting_ = update; }
    bool removeExisting() const { return removeExisting_; }
    void setRemoveExisting(bool remove) { removeExisting_ = remove; }

  private:
    Weak<UIView> view_;
    std::vector<Ref<LKConstraint>> constraints_;
    bool updateExisting_ = false;
    bool removeExisting_ = false;
};
