#include "controls/WFWaterFlowLayout.h"

#include <string>

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UICollectionView.h"

namespace {

std::string keyFor(int column) {
    return std::to_string(column);
}

}  // namespace

const Dictionary& WFWaterFlowLayout::maxYDict() {
    if (!maxYDictMade_) {
        maxYDict_ = Dictionary::mutableDictionary(std::size_t(std::max(columnCount_, 0)));
        for (int column = 0; column < columnCount_; ++column) {
            maxYDict_.setObject(keyFor(column), Value(double(sectionInsets_.top)));
        }
        maxYDictMade_ = true;
    }
    return maxYDict_;
}

void WFWaterFlowLayout::resetColumns() {
    maxYDict();
    // Rebuilt rather than overwritten: a column left over from a larger column count must not
    // take part in the search for the shortest column.
    maxYDict_.removeAllObjects();
    for (int column = 0; column < columnCount_; ++column) {
        maxYDict_.setObject(keyFor(column), Value(double(sectionInsets_.top)));
    }
}

float WFWaterFlowLayout::bottomOf(int column) {
    const Value& value = maxYDict().objectForKey(keyFor(column));
    return value.isNumber() ? static_cast<float>(value.number()->doubleValue())
                            : static_cast<float>(sectionInsets_.top);
}

void WFWaterFlowLayout::prepareLayout() {
    NS_ASSERT_MAIN_THREAD();
    UICollectionViewLayout::prepareLayout();
    resetColumns();
    attributeArray_.clear();
    auto collectionView = this->collectionView();
    if (!collectionView || columnCount_ < 1) return;
    const long count = collectionView->numberOfItemsInSection(0);
    attributeArray_.reserve(std::size_t(std::max(count, 0L)));
    for (long item = 0; item < count; ++item) {
        attributeArray_.push_back(placeItem(NSIndexPath::indexPathForItem(item, 0)));
    }
}

Ref<UICollectionViewLayoutAttributes> WFWaterFlowLayout::placeItem(const Ref<NSIndexPath>& indexPath) {
    int shortest = 0;
    for (int column = 1; column < columnCount_; ++column) {
        if (bottomOf(shortest) > bottomOf(column)) shortest = column;
    }
    auto collectionView = this->collectionView();
    const CGFloat frameWidth = collectionView ? collectionView->frame().size.width : 0;
    const CGFloat width =
        (frameWidth - sectionInsets_.left - sectionInsets_.right - (columnCount_ - 1) * columnMargin_) /
        columnCount_;
    CGFloat height = 0;
    if (auto delegate = delagate()) height = delegate->waterflowLayoutHeightForWidth(*this, width, indexPath);
    const CGFloat x = sectionInsets_.left + (width + columnMargin_) * shortest;
    const CGFloat y = bottomOf(shortest) + rowMargin_;
    maxYDict_.setObject(keyFor(shortest), Value(double(y + height)));

    auto attributes = layoutAttributesForCell(indexPath);
    attributes->setFrame(CGRectMake(x, y, width, height));
    return attributes;
}

CGSize WFWaterFlowLayout::collectionViewContentSize() {
    if (columnCount_ < 1) return CGSizeMake(0, sectionInsets_.top + sectionInsets_.bottom);
    int tallest = 0;
    for (int column = 1; column < columnCount_; ++column) {
        if (bottomOf(tallest) < bottomOf(column)) tallest = column;
    }
    return CGSizeMake(0, bottomOf(tallest) + sectionInsets_.bottom);
}

Ref<UICollectionViewLayoutAttributes>
WFWaterFlowLayout::layoutAttributesForItemAtIndexPath(const Ref<NSIndexPath>& indexPath) {
    if (!indexPath || indexPath->length() < 2 || indexPath->section() != 0) return nullptr;
    const long item = indexPath->item();
    if (item < 0 || std::size_t(item) >= attributeArray_.size()) return nullptr;
    return attributeArray_[std::size_t(item)];
}

std::vector<Ref<UICollectionViewLayoutAttributes>>
WFWaterFlowLayout::layoutAttributesForElementsInRect(CGRect) {
    return attributeArray_;
}

bool WFWaterFlowLayout::shouldInvalidateLayoutForBoundsChange(CGRect) {
    return true;
}
