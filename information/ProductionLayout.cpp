#include "information/ProductionLayout.h"

#include <algorithm>

#include "foundation/NSMainThreadCheck.h"
#include "information/QVNProductionCell.h"

Ref<NSObject> ProductionLayoutAttributes::copyObject() const {
    auto copy = make<ProductionLayoutAttributes>();
    copy->copyFieldsFrom(*this);
    return copy;
}

void ProductionLayout::setNumberOfColumns(int columns) {
    if (columns == numberOfColumns_) return;
    numberOfColumns_ = columns;
    invalidateLayout();
}

void ProductionLayout::setCellPadding(double padding) {
    if (padding == cellPadding_) return;
    cellPadding_ = padding;
    invalidateLayout();
}

double ProductionLayout::contentWidth() const {
    Ref<UICollectionView> grid = collectionView();
    if (!grid) return 0;
    UIEdgeInsets inset = grid->contentInset();
    return grid->bounds().size.width - (inset.left + inset.right);
}

ProductionLayout::Basis ProductionLayout::currentBasis() const {
    Basis basis;
    Ref<UICollectionView> grid = collectionView();
    basis.items = grid && grid->numberOfSections() > 0 ? grid->numberOfItemsInSection(0) : 0;
    basis.width = contentWidth();
    basis.columns = numberOfColumns_;
    basis.padding = cellPadding_;
    return basis;
}

void ProductionLayout::prepareLayout() {
    NS_ASSERT_MAIN_THREAD();
    // Computed once for as long as it fits: a page appended, a narrower grid or other settings
    // need every place again.
    Basis basis = currentBasis();
    if (!cache_.empty() && basis == basis_) return;
    cache_.clear();
    contentHeight_ = 0;
    basis_ = basis;
    if (numberOfColumns_ < 1 || basis.items <= 0) return;

    const double columnWidth = basis.width / numberOfColumns_;
    std::vector<double> xOffset(static_cast<std::size_t>(numberOfColumns_));
    std::vector<double> yOffset(static_cast<std::size_t>(numberOfColumns_), 0.0);
    for (int c = 0; c < numberOfColumns_; ++c) xOffset[static_cast<std::size_t>(c)] = columnWidth * c;

    int column = 0;
    for (long item = 0; item < basis.items; ++item) {
        const auto c = static_cast<std::size_t>(column);
        const double width = columnWidth - 2 * cellPadding_;
        const double height = cellPadding_ + QVNProductionCell::height();
        CGRect frame = CGRectMake(xOffset[c], yOffset[c], width, height);
        auto attributes = layoutAttributesForCell(NSIndexPath::indexPathForItem(item, 0));
        attributes->setFrame(CGRectInset(frame, cellPadding_, cellPadding_));
        cache_.push_back(attributes);
        contentHeight_ = std::max(contentHeight_, static_cast<double>(CGRectGetMaxY(frame)));
        yOffset[c] += height;
        column = column >= numberOfColumns_ - 1 ? 0 : column + 1;
    }
}

CGSize ProductionLayout::collectionViewContentSize() {
    return CGSizeMake(contentWidth(), contentHeight_);
}

std::vector<Ref<UICollectionViewLayoutAttributes>>
ProductionLayout::layoutAttributesForElementsInRect(CGRect rect) {
    std::vector<Ref<UICollectionViewLayoutAttributes>> found;
    for (const auto& attributes : cache_)
        if (CGRectIntersectsRect(attributes->frame(), rect)) found.push_back(attributes);
    return found;
}

Ref<UICollectionViewLayoutAttributes>
ProductionLayout::layoutAttributesForItemAtIndexPath(const Ref<NSIndexPath>& indexPath) {
    if (!indexPath || indexPath->section() != 0 || indexPath->item() < 0 ||
        indexPath->item() >= static_cast<long>(cache_.size()))
        return nullptr;
    return cache_[static_cast<std::size_t>(indexPath->item())];
}

bool ProductionLayout::shouldInvalidateLayoutForBoundsChange(CGRect newBounds) {
    Ref<UICollectionView> grid = collectionView();
    if (!grid) return false;
    UIEdgeInsets inset = grid->contentInset();
    return newBounds.size.width - (inset.left + inset.right) != basis_.width;
}
