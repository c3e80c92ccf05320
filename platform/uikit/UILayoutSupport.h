#pragma once
// Layout guides of a view controller: the top guide spans from the top of the controller's view
// down by its length (the bars above the content), the bottom guide from the bottom of the view
// up by its length. Constraints may name a guide as an item; its left, right, width and centre
// are those of the owning view, its top, bottom and height follow the length.
//
// The controller layer makes the two guides for each controller (owner = the controller's view)
// and sets their lengths; changing a length marks the owning view for layout.
//
// Guides belong to the main thread.

#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"
#include "uikit/UIView.h"

class UILayoutSupport : public NSObject {
  public:
    enum class Edge { Top, Bottom };

    UILayoutSupport(Edge edge, const Ref<UIView>& ownerView, CGFloat length = 0)
        : edge_(edge), owner_(ownerView), length_(length) {}
    std::string className() const override { return "_UILayoutGuide"; }

    CGFloat length() const { return length_; }
    void setLength(CGFloat length) {
        length_ = length;
        if (auto owner = owner_.lock()) owner->setNeedsLayout();
    }
    Edge edge() const { return edge_; }
    Ref<UIView> ownerView() const { return owner_.lock(); }
    void setOwnerView(const Ref<UIView>& view) { owner_ = view; }

    // The guide's rectangle in its owner's space.
    CGRect frameInOwner() const {
        auto owner = owner_.lock();
        CGSize size = owner ? owner->bounds().size : CGSize{};
        return edge_ == Edge::Top ? CGRect{{0, 0}, {size.width, length_}}
                                  : CGRect{{0, size.height - length_}, {size.width, length_}};
    }

  private:
    Edge edge_;
    Weak<UIView> owner_;
    CGFloat length_;
};
