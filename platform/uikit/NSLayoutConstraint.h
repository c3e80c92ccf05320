#pragma once
// Layout constraints: linear relations between attributes of two layout items (views or a view
// controller's layout guides), or between one attribute and a constant:
//
//     first.attribute  relation  multiplier × second.attribute + constant      @ priority
//
// A constraint takes part in layout while it is installed on a view (UIView::addConstraint, or
// setActive(true), which installs it on the closest common ancestor of its items). The layout pass
// solves the installed constraints of a view tree together (UIView+Layout.cpp) and sets the
// frames of the views they govern; a view that no constraint names keeps its frame.
//
// Changing the constant, the priority or the active flag marks the items' superviews for layout,
// so the next layout pass (or layoutIfNeeded) moves the views.
//
// Errors are never thrown: a visual format that cannot be parsed or resolved is logged and gives
// an empty array; required constraints that cannot hold together are logged at layout time and
// the later of them is left out. Items are held weakly; a constraint whose item is gone takes no
// part in layout.
//
// Constraints belong to the main thread, like views.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "graphics/CGGeometry.h"
#include "uikit/UIView.h"

enum NSLayoutAttribute : long {
    NSLayoutAttributeNotAnAttribute = 0,
    NSLayoutAttributeLeft = 1,
    NSLayoutAttributeRight = 2,
    NSLayoutAttributeTop = 3,
    NSLayoutAttributeBottom = 4,
    NSLayoutAttributeLeading = 5,
    NSLayoutAttributeTrailing = 6,
    NSLayoutAttributeWidth = 7,
    NSLayoutAttributeHeight = 8,
    NSLayoutAttributeCenterX = 9,
    NSLayoutAttributeCenterY = 10,
    NSLayoutAttributeBaseline = 11,
    NSLayoutAttributeLastBaseline = NSLayoutAttributeBaseline,
    NSLayoutAttributeFirstBaseline = 12,
    NSLayoutAttributeLeftMargin = 13,
    NSLayoutAttributeRightMargin = 14,
    NSLayoutAttributeTopMargin = 15,
    NSLayoutAttributeBottomMargin = 16,
    NSLayoutAttributeLeadingMargin = 17,
    NSLayoutAttributeTrailingMargin = 18,
    NSLayoutAttributeCenterXWithinMargins = 19,
    NSLayoutAttributeCenterYWithinMargins = 20,
};

enum NSLayoutRelation : long {
    NSLayoutRelationLessThanOrEqual = -1,
    NSLayoutRelationEqual = 0,
    NSLayoutRelationGreaterThanOrEqual = 1,
};

// Visual-format options: one alignment bit per attribute (1 << attribute), and the direction.
using NSLayoutFormatOptions = unsigned long;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllLeft = 1ul << NSLayoutAttributeLeft;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllRight = 1ul << NSLayoutAttributeRight;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllTop = 1ul << NSLayoutAttributeTop;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllBottom = 1ul << NSLayoutAttributeBottom;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllLeading = 1ul << NSLayoutAttributeLeading;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllTrailing = 1ul << NSLayoutAttributeTrailing;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllCenterX = 1ul << NSLayoutAttributeCenterX;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllCenterY = 1ul << NSLayoutAttributeCenterY;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllBaseline = 1ul << NSLayoutAttributeBaseline;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllLastBaseline = NSLayoutFormatAlignAllBaseline;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignAllFirstBaseline =
    1ul << NSLayoutAttributeFirstBaseline;
inline constexpr NSLayoutFormatOptions NSLayoutFormatAlignmentMask = 0xFFFF;
inline constexpr NSLayoutFormatOptions NSLayoutFormatDirectionLeadingToTrailing = 0ul << 16;
inline constexpr NSLayoutFormatOptions NSLayoutFormatDirectionLeftToRight = 1ul << 16;
inline constexpr NSLayoutFormatOptions NSLayoutFormatDirectionRightToLeft = 2ul << 16;
inline constexpr NSLayoutFormatOptions NSLayoutFormatDirectionMask = 0x3ul << 16;

// The spacing that "-" stands for in the visual format: between siblings, and between a view and
// the edge of its superview.
inline constexpr CGFloat NSLayoutStandardSiblingSpacing = 8;
inline constexpr CGFloat NSLayoutStandardSuperviewSpacing = 20;

class NSLayoutConstraint : public NSObject {
  public:
    // constraintWithItem:attribute:relatedBy:toItem:attribute:multiplier:constant:. A missing
    // second item goes with NSLayoutAttributeNotAnAttribute: the first attribute is then related
    // to the constant alone (a position attribute counts in its superview's space).
    NSLayoutConstraint(const Ref<NSObject>& firstItem, NSLayoutAttribute firstAttribute,
                       NSLayoutRelation relation, const Ref<NSObject>& secondItem,
                       NSLayoutAttribute secondAttribute, CGFloat multiplier, CGFloat constant);
    ~NSLayoutConstraint() override;
    std::string className() const override { return "NSLayoutConstraint"; }

    static Ref<NSLayoutConstraint>
    constraintWithItem(const Ref<NSObject>& firstItem, NSLayoutAttribute firstAttribute,
                       NSLayoutRelation relation, const Ref<NSObject>& secondItem,
                       NSLayoutAttribute secondAttribute, CGFloat multiplier, CGFloat constant);
    // The constraints the visual format describes (not yet installed). Metrics map names to
    // numbers; views map names to views. Malformed formats, unknown names, a "|" for a view
    // without superview and alignment options along the format's own axis are logged (with the
    // position in the format) and give an empty array.
    static std::vector<Ref<NSLayoutConstraint>> constraintsWithVisualFormat(const std::string& format,
                                                                            NSLayoutFormatOptions options,
                                                                            const Dictionary& metrics,
                                                                            const Dictionary& views);
    // The same, answering the reason of a failure instead of logging it.
    static std::vector<Ref<NSLayoutConstraint>> constraintsWithVisualFormat(const std::string& format,
                                                                            NSLayoutFormatOptions options,
                                                                            const Dictionary& metrics,
                                                                            const Dictionary& views,
                                                                            std::string* errorMessage);
    static void activateConstraints(const std::vector<Ref<NSLayoutConstraint>>& constraints);
    static void deactivateConstraints(const std::vector<Ref<NSLayoutConstraint>>& constraints);

    Ref<NSObject> firstItem() const { return firstItem_.lock(); }
    NSLayoutAttribute firstAttribute() const { return firstAttribute_; }
    NSLayoutRelation relation() const { return relation_; }
    Ref<NSObject> secondItem() const { return secondItem_.lock(); }
    NSLayoutAttribute secondAttribute() const { return secondAttribute_; }
    CGFloat multiplier() const { return multiplier_; }
    bool hasSecondItem() const { return hasSecondItem_; }

    CGFloat constant() const { return constant_; }
    void setConstant(CGFloat constant);
    UILayoutPriority priority() const { return priority_; }
    void setPriority(UILayoutPriority priority);

    // Installed on a view. Activating installs it on the closest common ancestor of its items'
    // views (logged and refused when they have none); deactivating removes it from the view that
    // holds it.
    bool isActive() const;
    void setActive(bool active);
    // The view that holds the constraint, nullptr when it is not installed.
    Ref<UIView> installedView() const;

    const std::optional<std::string>& identifier() const { return identifier_; }
    void setIdentifier(std::optional<std::string> identifier) { identifier_ = std::move(identifier); }
    bool shouldBeArchived() const { return shouldBeArchived_; }
    void setShouldBeArchived(bool archived) { shouldBeArchived_ = archived; }

    // "<NSLayoutConstraint:0x… UIView:0x….left == UIView:0x….left + 10>", or what the description
    // hook answers (a process-wide replacement; nullopt from the hook keeps the standard text).
    std::string description() const override;
    std::string standardDescription() const;
    using DescriptionHook = std::function<std::optional<std::string>(const NSLayoutConstraint&)>;
    static void setDescriptionHook(DescriptionHook hook);

    // "constant", "priority", "multiplier", "active", "identifier", "firstAttribute",
    // "secondAttribute", "relation", "firstItem", "secondItem".
    Value valueForKey(const std::string& key) const override;

    // The view an item stands for when looking for ancestors: a view itself, a layout guide's
    // owning view; nullptr for anything else.
    static Ref<UIView> viewForItem(const Ref<NSObject>& item);
    // The nearest view that is an ancestor-or-self of both; nullptr when they share none. A null
    // second view answers the first.
    static Ref<UIView> closestCommonAncestor(const Ref<UIView>& a, const Ref<UIView>& b);

    // For the layout engine: logged once when this constraint was left out of a layout.
    bool reportedConflict() const { return reportedConflict_; }
    void setReportedConflict(bool reported) { reportedConflict_ = reported; }

  private:
    void needsLayout() const;

    Weak<NSObject> firstItem_;
    Weak<NSObject> secondItem_;
    bool hasSecondItem_ = false;
    NSLayoutAttribute firstAttribute_;
    NSLayoutAttribute secondAttribute_;
    NSLayoutRelation relation_;
    CGFloat multiplier_;
    CGFloat constant_;
    UILayoutPriority priority_ = UILayoutPriorityRequired;
    std::optional<std::string> identifier_;
    bool shouldBeArchived_ = false;
    bool reportedConflict_ = false;
};

namespace detail {
// The attribute's name as descriptions write it ("left", "centerX", "notAnAttribute").
std::string layoutAttributeName(NSLayoutAttribute attribute);

// Installs the layout engine's hooks into UIView (once; constraints call it when made).
void installLayoutEngine();
}  // namespace detail
