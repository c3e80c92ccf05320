#pragma once
// ArrayDataSource: the one table and collection data source of the app's list screens. One
// section over a mutable array of items, one reuse identifier for every cell, and a block that
// fills a dequeued cell from its item.
//
// Clients change items() directly (append a page, remove a row, replace the contents) and reload
// the view themselves: the data source sends no updates, so rows added after a table was shown
// appear only after reloadData. The table and collection views hold their data source weakly; the
// client keeps it alive.
//
// There is no plain initialiser: a data source without an identifier and a configure block would
// serve no cells, so the only way to make one is the designated constructor.
//
// Main thread only, as the views it serves.

#include <functional>
#include <optional>
#include <string>

#include "foundation/NSIndexPath.h"
#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "uikit/UICollectionView.h"
#include "uikit/UITableView.h"

class ArrayDataSource : public NSObject, public UITableViewDataSource, public UICollectionViewDataSource {
  public:
    // Fills a cell (a UITableViewCell or a UICollectionViewCell) from its item.
    using ConfigureCellBlock = std::function<void(const Ref<UIView>& cell, const Value& item)>;

    ArrayDataSource() = delete;
    // initWithItems:cellIdentifier:configureCellBlock: — items is copied into a new mutable array
    // (nullopt gives an empty one).
    ArrayDataSource(const std::optional<Array>& items, std::string cellIdentifier,
                    ConfigureCellBlock configureCellBlock);
    std::string className() const override { return "ArrayDataSource"; }

    void addItems(const Array& items);
    void addItem(const Value& item);
    // items[indexPath.row], the section ignored; nil for a row outside the items.
    Value itemAtIndexPath(const Ref<NSIndexPath>& indexPath) const;

    // The rows, shared with the caller (changes through the handle are the data source's).
    Array& items() { return items_; }
    const Array& items() const { return items_; }
    Ref<UITableView> tableView() const { return tableView_.lock(); }
    void setTableView(const Ref<UITableView>& tableView) { tableView_ = tableView; }
    const std::string& cellIdentifier() const { return cellIdentifier_; }
    void setCellIdentifier(const std::string& identifier) { cellIdentifier_ = identifier; }
    const ConfigureCellBlock& configureCellBlock() const { return configureCellBlock_; }
    void setConfigureCellBlock(ConfigureCellBlock block) { configureCellBlock_ = std::move(block); }

    // ---- UITableViewDataSource -----------------------------------------------------------------
    long tableViewNumberOfRowsInSection(UITableView& tableView, long section) override;
    // Dequeues with the identifier for the index path, turns selection highlighting off and
    // configures the cell.
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                        const Ref<NSIndexPath>& indexPath) override;

    // ---- UICollectionViewDataSource ------------------------------------------------------------
    long collectionViewNumberOfItemsInSection(UICollectionView& collectionView, long section) override;
    Ref<UICollectionViewCell>
    collectionViewCellForItemAtIndexPath(UICollectionView& collectionView,
                                         const Ref<NSIndexPath>& indexPath) override;

  private:
    Array items_;
    Weak<UITableView> tableView_;
    std::string cellIdentifier_;
    ConfigureCellBlock configureCellBlock_;
};
