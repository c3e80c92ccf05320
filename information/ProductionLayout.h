#pragma once
// ProductionLayout: the entry gallery's column layout. Items of section 0 go round the columns in
// turn (item i in column i mod numberOfColumns, not into the shortest column), each a card of the
// entry cell's height, so every row of cards lines up.
//
// The layout is computed in prepareLayout and kept while nothing it depends on changes: it is
// computed again when the number of items, the content width (the grid's width less its left and
// right content insets), the number of columns or the padding changes, so a gallery that appends
// a page places the new entries and a refresh to fewer entries gives back the height they took.
// A width change of the grid invalidates it.
//
// Fewer than one column places nothing. The delegate is held weakly and not consulted; it is
// there for a grid that wants to hear from its layout. Main thread only.

#include <string>
#include <vector>

#include "uikit/UICollectionView.h"
#include "uikit/UICollectionViewLayout.h"

class ProductionLayout;

class ProductionLayoutDelegate {
  public:
    virtual ~ProductionLayoutDelegate() = default;
};

// The attributes the layout hands out; nothing added to the platform's.
class ProductionLayoutAttributes : public UICollectionViewLayoutAttributes {
  public:
    ProductionLayoutAttributes() = default;
    std::string className() const override { return "ProductionLayoutAttributes"; }
    Ref<NSObject> copyObject() const override;
};

class ProductionLayout : public UICollectionViewLayout {
  public:
    // init and initWithCoder: alike: two columns, padding 1.0.
    ProductionLayout() = default;
    std::string className() const override { return "ProductionLayout"; }

    int numberOfColumns() const { return numberOfColumns_; }
    void setNumberOfColumns(int columns);
    double cellPadding() const { return cellPadding_; }
    void setCellPadding(double padding);
    Ref<ProductionLayoutDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<ProductionLayoutDelegate>& delegate) { delegate_ = delegate; }

    // The attributes of the last computation, in item order.
    const std::vector<Ref<UICollectionViewLayoutAttributes>>& cache() const { return cache_; }
    double contentHeight() const { return contentHeight_; }
    // The grid's bounds width less its left and right content insets, read anew on every call
    // (0 without a grid).
    double contentWidth() const;

    // ---- the layout hooks ---------------------------------------------------------------------
    Ref<UICollectionViewLayoutAttributes> makeLayoutAttributes() const override {
        return make<ProductionLayoutAttributes>();
    }
    void prepareLayout() override;
    CGSize collectionViewContentSize() override;
    std::vector<Ref<UICollectionViewLayoutAttributes>>
    layoutAttributesForElementsInRect(CGRect rect) override;
    Ref<UICollectionViewLayoutAttributes>
    layoutAttributesForItemAtIndexPath(const Ref<NSIndexPath>& indexPath) override;
    bool shouldInvalidateLayoutForBoundsChange(CGRect newBounds) override;

  private:
    // What the cache was computed for.
    struct Basis {
        long items = -1;
        double width = 0;
        int columns = 0;
        double padding = 0;
        bool operator==(const Basis&) const = default;
    };
    Basis currentBasis() const;

    int numberOfColumns_ = 2;
    double cellPadding_ = 1.0;
    Weak<ProductionLayoutDelegate> delegate_;
    std::vector<Ref<UICollectionViewLayoutAttributes>> cache_;
    double contentHeight_ = 0;
    Basis basis_;
};
