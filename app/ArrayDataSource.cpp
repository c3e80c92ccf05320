#include "app/ArrayDataSource.h"

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UICollectionViewCell.h"
#include "uikit/UITableViewCell.h"

ArrayDataSource::ArrayDataSource(const std::optional<Array>& items, std::string cellIdentifier,
                                 ConfigureCellBlock configureCellBlock)
    : items_(items ? items->mutableCopy() : Array::mutableArray()),
      cellIdentifier_(std::move(cellIdentifier)),
      configureCellBlock_(std::move(configureCellBlock)) {}

void ArrayDataSource::addItems(const Array& items) {
    NS_ASSERT_MAIN_THREAD();
    items_.addObjectsFromArray(items);
}

void ArrayDataSource::addItem(const Value& item) {
    NS_ASSERT_MAIN_THREAD();
    items_.addObject(item);
}

Value ArrayDataSource::itemAtIndexPath(const Ref<NSIndexPath>& indexPath) const {
    if (!indexPath || indexPath->row() < 0) return Value();
    auto row = static_cast<std::size_t>(indexPath->row());
    return row < items_.count() ? items_.objectAtIndex(row) : Value();
}

long ArrayDataSource::tableViewNumberOfRowsInSection(UITableView&, long) {
    return static_cast<long>(items_.count());
}

Ref<UITableViewCell> ArrayDataSource::tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                                     const Ref<NSIndexPath>& indexPath) {
    Ref<UITableViewCell> cell = tableView.dequeueReusableCellWithIdentifier(cellIdentifier_, indexPath);
    if (!cell) return cell;
    cell->setSelectionStyle(UITableViewCellSelectionStyleNone);
    if (configureCellBlock_) configureCellBlock_(cell, itemAtIndexPath(indexPath));
    return cell;
}

long ArrayDataSource::collectionViewNumberOfItemsInSection(UICollectionView&, long) {
    return static_cast<long>(items_.count());
}

Ref<UICollectionViewCell>
ArrayDataSource::collectionViewCellForItemAtIndexPath(UICollectionView& collectionView,
                                                      const Ref<NSIndexPath>& indexPath) {
    Ref<UICollectionViewCell> cell =
        collectionView.dequeueReusableCellWithReuseIdentifier(cellIdentifier_, indexPath);
    if (cell && configureCellBlock_) configureCellBlock_(cell, itemAtIndexPath(indexPath));
    return cell;
}
