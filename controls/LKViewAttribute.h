#pragma once
// One layout attribute of one layout item: the view it belongs to (for superview and common-
// ancestor searches) and the item handed to the platform constraint (the view itself, or a view
// controller's layout guide). Immutable once made.
//
// Equality compares the view (by identity) and the attribute, never the item, so an attribute of a
// view and the same attribute of one of its controller's guides are equal. Main thread only.

#include <cstddef>
#include <string>

#include "foundation/NSObject.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIView.h"

class LKViewAttribute : public NSObject {
  public:
    // initWithView:layoutAttribute: — the view is the item.
    LKViewAttribute(const Ref<UIView>& view, NSLayoutAttribute layoutAttribute);
    // initWithView:item:layoutAttribute:
    LKViewAttribute(const Ref<UIView>& view, const Ref<NSObject>& item, NSLayoutAttribute layoutAttribute);
    std::string className() const override { return "LKViewAttribute"; }

    // Width or height.
    bool isSizeAttribute() const;
    bool isEqual(const NSObject& other) const override;
    // The view's hash with its two 32-bit halves swapped, exclusive-or the attribute number.
    std::size_t hash() const override;

    Ref<UIView> view() const { return view_.lock(); }
    Ref<NSObject> item() const { return item_.lock(); }
    NSLayoutAttribute layoutAttribute() const { return layoutAttribute_; }

  private:
    Weak<UIView> view_;
    Weak<NSObject> item_;
    NSLayoutAttribute layoutAttribute_;
};
