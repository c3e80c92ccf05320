#pragma once
// A collection view layout that places equally wide items in a fixed number of columns, each item
// below the column whose bottom is highest on the screen (the shortest column), with each item's
// height from the layout's delegate, so that tiles of different heights flow down the columns
// like a waterfall.
//
// Geometry, with the defaults (2 columns, 10-point gaps, 10-point insets): the column width is
// (the collection view's frame width - left and right insets - (columns - 1) x column gap) /
// columns; every item sits a row gap below its column's running bottom, which starts at the top
// inset, so the first row starts at top inset + row gap. Among columns of equal bottom the lowest
// index wins. Bottoms are compared in single precision. The content is as high as the tallest
// column plus the bottom inset; its width is 0 (the view scrolls vertically only).
//
// Every layout pass (prepareLayout) places every item of section 0 anew and asks the delegate for
// every height; items of other sections get no attributes. layoutAttributesForElementsInRect
// answers all of the pass's attributes whatever the rectangle, and a bounds change (scrolling
// included) always invalidates the layout.
//
// Questions for one item answer the attributes the last pass gave it (nullptr for an item that
// pass did not place), so asking does not move any column. A pass keeps exactly `columnCount`
// running bottoms; fewer than one column places nothing.
//
// The delegate (spelled `delagate`, as is its protocol) is held weakly. Main thread only.

#include <vector>

#include "foundation/Value.h"
#include "uikit/UICollectionViewLayout.h"

class WFWaterFlowLayout;

// Supplies item heights for a column width.
class WFWaterflowLayoutDelagate {
  public:
    virtual ~WFWaterflowLayoutDelagate() = default;
    virtual CGFloat waterflowLayoutHeightForWidth(WFWaterFlowLayout& layout, CGFloat width,
                                                  const Ref<NSIndexPath>& indexPath) = 0;
};

class WFWaterFlowLayout : public UICollectionViewLayout {
  public:
    WFWaterFlowLayout() = default;
    std::string className() const override { return "WFWaterFlowLayout"; }

    int columnCount() const { return columnCount_; }
    void setColumnCount(int count) { columnCount_ = count; }
    CGFloat columnMargin() const { return columnMargin_; }
    void setColumnMargin(CGFloat margin) { columnMargin_ = margin; }
    CGFloat rowMargin() const { return rowMargin_; }
    void setRowMargin(CGFloat margin) { rowMargin_ = margin; }
    UIEdgeInsets sectionInsets() const { return sectionInsets_; }
    void setSectionInsets(UIEdgeInsets insets) { sectionInsets_ = insets; }

    Ref<WFWaterflowLayoutDelagate> delagate() const { return delagate_.lock(); }
    void setDelagate(const Ref<WFWaterflowLayoutDelagate>& delagate) { delagate_ = delagate; }

    // The running bottom of each column: "0", "1", ... → a double. Made on first access with every
    // column at the top inset.
    const Dictionary& maxYDict();
    // The attributes of every item of the last pass, in item order.
    const std::vector<Ref<UICollectionViewLayoutAttributes>>& attributeArray() const {
        return attributeArray_;
    }

    // ---- the layout hooks ---------------------------------------------------------------------
    void prepareLayout() override;
    CGSize collectionViewContentSize() override;
    Ref<UICollectionViewLayoutAttributes>
    layoutAttributesForItemAtIndexPath(const Ref<NSIndexPath>& indexPath) override;
    std::vector<Ref<UICollectionViewLayoutAttributes>>
    layoutAttributesForElementsInRect(CGRect rect) override;
    bool shouldInvalidateLayoutForBoundsChange(CGRect newBounds) override;

  private:
    // Places one item below the shortest column and advances that column.
    Ref<UICollectionViewLayoutAttributes> placeItem(const Ref<NSIndexPath>& indexPath);
    // Every column back at the top inset, and only the current columns.
    void resetColumns();
    // The column's running bottom, read in single precision.
    float bottomOf(int column);

    int columnCount_ = 2;
    CGFloat columnMargin_ = 10;
    CGFloat rowMargin_ = 10;
    UIEdgeInsets sectionInsets_{10, 10, 10, 10};
    Weak<WFWaterflowLayoutDelagate> delagate_;
    Dictionary maxYDict_;
    bool maxYDictMade_ = false;
    std::vector<Ref<UICollectionViewLayoutAttributes>> attributeArray_;
};
