#pragma once
// Collection view layouts: the objects that decide where every item and supplementary view of a
// collection view goes. Subclasses override the hooks; the collection view calls them.
//
// The collection view's layout pass: when the layout is invalid (new data, invalidateLayout, a new
// layout, or a bounds change for which shouldInvalidateLayoutForBoundsChange answers true) it
// calls prepareLayout, then takes collectionViewContentSize as its contentSize; then it asks
// layoutAttributesForElementsInRect for its visible rectangle and shows a view for each element
// (of an existing item) whose frame meets that rectangle. The default answers are the platform's:
// no content, no elements, no invalidation on bounds changes.
//
// The layout holds its collection view weakly. A layout made by a storyboard factory is made with
// the plain constructor (the initWithCoder: of the platform). Main thread only.

#include <string>
#include <vector>

#include "foundation/NSIndexPath.h"
#include "graphics/CGGeometry.h"
#include "uikit/UICollectionViewLayoutAttributes.h"

class UICollectionView;

class UICollectionViewLayout : public NSObject {
  public:
    UICollectionViewLayout() = default;
    std::string className() const override { return "UICollectionViewLayout"; }

    // The collection view using the layout, nullptr when none.
    Ref<UICollectionView> collectionView() const { return collectionView_.lock(); }

    // ---- the hooks ----------------------------------------------------------------------------
    virtual void prepareLayout() {}
    virtual CGSize collectionViewContentSize() { return CGSizeZero; }
    virtual std::vector<Ref<UICollectionViewLayoutAttributes>>
    layoutAttributesForElementsInRect(CGRect rect) {
        return {};
    }
    virtual Ref<UICollectionViewLayoutAttributes>
    layoutAttributesForItemAtIndexPath(const Ref<NSIndexPath>& indexPath) {
        return nullptr;
    }
    virtual Ref<UICollectionViewLayoutAttributes>
    layoutAttributesForSupplementaryViewOfKind(const std::string& kind, const Ref<NSIndexPath>& indexPath) {
        return nullptr;
    }
    virtual bool shouldInvalidateLayoutForBoundsChange(CGRect newBounds) { return false; }
    virtual CGPoint targetContentOffsetForProposedContentOffset(CGPoint proposedContentOffset) {
        return proposedContentOffset;
    }
    virtual CGPoint targetContentOffsetForProposedContentOffset(CGPoint proposedContentOffset,
                                                                CGPoint velocity) {
        return targetContentOffsetForProposedContentOffset(proposedContentOffset);
    }
    // The layoutAttributesClass: the attributes object this layout's elements use.
    virtual Ref<UICollectionViewLayoutAttributes> makeLayoutAttributes() const {
        return make<UICollectionViewLayoutAttributes>();
    }
    // New attributes of the layout's class for a cell or a supplementary view.
    Ref<UICollectionViewLayoutAttributes> layoutAttributesForCell(const Ref<NSIndexPath>& indexPath) const;
    Ref<UICollectionViewLayoutAttributes>
    layoutAttributesForSupplementary(const std::string& kind, const Ref<NSIndexPath>& indexPath) const;

    // Marks the layout for a new pass (prepareLayout again) at the collection view's next layout.
    virtual void invalidateLayout();
    bool isInvalid() const { return invalid_; }

    // ---- for the collection view --------------------------------------------------------------
    void attachToCollectionView(const Weak<UICollectionView>& collectionView);
    void markValid() { invalid_ = false; }

  private:
    Weak<UICollectionView> collectionView_;
    bool invalid_ = true;
};
