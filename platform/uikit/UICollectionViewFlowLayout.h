#pragma once
// The flow layout: items packed in lines, line after line, in each section, with optional section
// headers and footers.
//
// Vertical scrolling (the default): a line runs left to right across the width left by the
// collection view's content inset and the section's inset; an item starts a new line when it
// does not fit after the minimum interitem spacing. Each line is as tall as its tallest item,
// items are centred on the line across it, and lines follow each other minimumLineSpacing apart.
// Along the line: a line of several items is justified (first item at the start, last at the end,
// equal gaps); a line of one item is centred; the last line of a section that has lines before it
// keeps the gap of the line before it, starting at the start. Horizontal scrolling is the same
// turned a quarter: lines run top to bottom and follow each other to the right.
//
// A section: header (headerReferenceSize: its height when vertical, its width when horizontal;
// 0 for none), the section's inset, the lines, the inset, the footer. Sizes, insets and spacings
// come from the delegate (UICollectionViewDelegateFlowLayout) when it answers, else from the
// layout's properties. The content size spans the available width (vertical) or height
// (horizontal) and the sections' total extent.
//
// The layout is recomputed on prepareLayout; it invalidates itself when its properties change and
// when the collection view's width (height, horizontally) changes.

#include "uikit/UICollectionView.h"
#include "uikit/UICollectionViewLayout.h"

enum UICollectionViewScrollDirection : long {
    UICollectionViewScrollDirectionVertical = 0,
    UICollectionViewScrollDirectionHorizontal = 1,
};

// The flow layout's questions to the collection view's delegate; nullopt: the layout's property.
class UICollectionViewDelegateFlowLayout : public virtual UICollectionViewDelegate {
  public:
    virtual std::optional<CGSize> collectionViewLayoutSizeForItemAtIndexPath(
        UICollectionView& collectionView, UICollectionViewLayout& layout, const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
    virtual std::optional<UIEdgeInsets>
    collectionViewLayoutInsetForSectionAtIndex(UICollectionView& collectionView,
                                               UICollectionViewLayout& layout, long section) {
        return std::nullopt;
    }
    virtual std::optional<CGFloat>
    collectionViewLayoutMinimumLineSpacingForSectionAtIndex(UICollectionView& collectionView,
                                                            UICollectionViewLayout& layout, long section) {
        return std::nullopt;
    }
    virtual std::optional<CGFloat> collectionViewLayoutMinimumInteritemSpacingForSectionAtIndex(
        UICollectionView& collectionView, UICollectionViewLayout& layout, long section) {
        return std::nullopt;
    }
    virtual std::optional<CGSize>
    collectionViewLayoutReferenceSizeForHeaderInSection(UICollectionView& collectionView,
                                                        UICollectionViewLayout& layout, long section) {
        return std::nullopt;
    }
    virtual std::optional<CGSize>
    collectionViewLayoutReferenceSizeForFooterInSection(UICollectionView& collectionView,
                                                        UICollectionViewLayout& layout, long section) {
        return std::nullopt;
    }
};

class UICollectionViewFlowLayout : public UICollectionViewLayout {
  public:
    UICollectionViewFlowLayout() = default;
    std::string className() const override { return "UICollectionViewFlowLayout"; }

    CGSize itemSize() const { return itemSize_; }
    void setItemSize(CGSize size);
    // Kept for callers; items are not self-sized (itemSize and the delegate decide).
    CGSize estimatedItemSize() const { return estimatedItemSize_; }
    void setEstimatedItemSize(CGSize size) { estimatedItemSize_ = size; }
    CGFloat minimumLineSpacing() const { return minimumLineSpacing_; }
    void setMinimumLineSpacing(CGFloat spacing);
    CGFloat minimumInteritemSpacing() const { return minimumInteritemSpacing_; }
    void setMinimumInteritemSpacing(CGFloat spacing);
    UIEdgeInsets sectionInset() const { return sectionInset_; }
    void setSectionInset(UIEdgeInsets inset);
    CGSize headerReferenceSize() const { return headerReferenceSize_; }
    void setHeaderReferenceSize(CGSize size);
    CGSize footerReferenceSize() const { return footerReferenceSize_; }
    void setFooterReferenceSize(CGSize size);
    UICollectionViewScrollDirection scrollDirection() const { return scrollDirection_; }
    void setScrollDirection(UICollectionViewScrollDirection direction);

    void prepareLayout() override;
    CGSize collectionViewContentSize() override { return contentSize_; }
    std::vector<Ref<UICollectionViewLayoutAttributes>>
    layoutAttributesForElementsInRect(CGRect rect) override;
    Ref<UICollectionViewLayoutAttributes>
    layoutAttributesForItemAtIndexPath(const Ref<NSIndexPath>& indexPath) override;
    Ref<UICollectionViewLayoutAttributes>
    layoutAttributesForSupplementaryViewOfKind(const std::string& kind,
                                               const Ref<NSIndexPath>& indexPath) override;
    bool shouldInvalidateLayoutForBoundsChange(CGRect newBounds) override;

  private:
    CGSize itemSize_{50, 50};
    CGSize estimatedItemSize_{0, 0};
    CGFloat minimumLineSpacing_ = 10;
    CGFloat minimumInteritemSpacing_ = 10;
    UIEdgeInsets sectionInset_{};
    CGSize headerReferenceSize_{0, 0};
    CGSize footerReferenceSize_{0, 0};
    UICollectionViewScrollDirection scrollDirection_ = UICollectionViewScrollDirectionVertical;

    // The last pass.
    std::vector<std::vector<Ref<UICollectionViewLayoutAttributes>>> items_;
    std::vector<Ref<UICollectionViewLayoutAttributes>> headers_;
    std::vector<Ref<UICollectionViewLayoutAttributes>> footers_;
    CGSize contentSize_{0, 0};
    CGSize preparedBoundsSize_{0, 0};
};
