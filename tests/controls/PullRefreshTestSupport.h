#pragma once
// Shared set-up of the refresh-control tests: a window holding a table (or a collection view) of
// a chosen size and content, on the manual clock, with its own sandbox (user defaults) and
// resources folder (the arrow picture).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/PullRefreshComponent.h"
#include "controls/PullRefreshResources.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "foundation/NSSandbox.h"
#include "foundation/NSUserDefaults.h"
#include "graphics/GraphicsTesting.h"
#include "graphics/UIImage.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TestSupport.h"
#include "uikit/UICollectionView.h"
#include "uikit/UICollectionViewFlowLayout.h"
#include "uikit/UITableView.h"
#include "uikit/UIWindow.h"

namespace pullrefreshtest {

// Rows per section, each row `rowHeight` tall (set on the table).
class RowsDataSource : public UITableViewDataSource {
  public:
    explicit RowsDataSource(std::vector<long> rows) : rows(std::move(rows)) {}
    long numberOfSectionsInTableView(UITableView&) override { return static_cast<long>(rows.size()); }
    long tableViewNumberOfRowsInSection(UITableView&, long section) override {
        return section >= 0 && section < static_cast<long>(rows.size()) ? rows[section] : 0;
    }
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& table,
                                                        const Ref<NSIndexPath>&) override {
        auto cell = table.dequeueReusableCellWithIdentifier("row");
        return cell ? cell : make<UITableViewCell>(UITableViewCellStyleDefault, std::string("row"));
    }
    std::vector<long> rows;
};

class ItemsDataSource : public UICollectionViewDataSource {
  public:
    explicit ItemsDataSource(std::vector<long> items) : items(std::move(items)) {}
    long numberOfSectionsInCollectionView(UICollectionView&) override {
        return static_cast<long>(items.size());
    }
    long collectionViewNumberOfItemsInSection(UICollectionView&, long section) override {
        return section >= 0 && section < static_cast<long>(items.size()) ? items[section] : 0;
    }
    Ref<UICollectionViewCell>
    collectionViewCellForItemAtIndexPath(UICollectionView& view, const Ref<NSIndexPath>& indexPath) override {
        return view.dequeueReusableCellWithReuseIdentifier("item", indexPath);
    }
    std::vector<long> items;
};

// Counts the refresh callbacks of a control.
struct CallbackCounter {
    int calls = 0;
    PullRefreshComponent::RefreshingBlock block() {
        return [this] { ++calls; };
    }
};

class PullRefreshFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(NSSandbox::setRoot(sandbox.path()));
        NSUserDefaults::resetStandardUserDefaults();
        ASSERT_TRUE(PullRefreshResources::writeBundle(resources.path()));
        graphics_testing::setResourcesDirectory(resources.path());
    }
    void TearDown() override {
        // Delayed steps (callbacks, fades) run now, while what they refer to still exists.
        clock.advance(2);
        if (window) window->setHidden(true);
        window.reset();
        graphics_testing::setResourcesDirectory("");
        NSUserDefaults::resetStandardUserDefaults();
    }

    // A 320 x 600 window showing a table of `rows` rows of 44 points (880 points for 20 rows).
    Ref<UITableView> showTable(std::vector<long> rows, CGFloat height = 600) {
        window = make<UIWindow>(CGRectMake(0, 0, 320, height));
        window->makeKeyAndVisible();
        table = make<UITableView>(CGRectMake(0, 0, 320, height));
        dataSource = std::make_shared<RowsDataSource>(std::move(rows));
        table->setDataSource(dataSource);
        table->setRowHeight(44);
        window->addSubview(table);
        table->reloadData();
        testsupport::drainMainRunLoop();
        return table;
    }
    // The same table outside any window.
    Ref<UITableView> offscreenTable(std::vector<long> rows, CGFloat height = 600) {
        table = make<UITableView>(CGRectMake(0, 0, 320, height));
        dataSource = std::make_shared<RowsDataSource>(std::move(rows));
        table->setDataSource(dataSource);
        table->setRowHeight(44);
        table->reloadData();
        return table;
    }
    // A collection view of 320 x 100 items in one column.
    Ref<UICollectionView> showCollection(std::vector<long> items, CGFloat height = 600) {
        window = make<UIWindow>(CGRectMake(0, 0, 320, height));
        window->makeKeyAndVisible();
        auto layout = make<UICollectionViewFlowLayout>();
        layout->setItemSize(CGSizeMake(320, 100));
        layout->setMinimumLineSpacing(0);
        layout->setMinimumInteritemSpacing(0);
        collection = make<UICollectionView>(CGRectMake(0, 0, 320, height), layout);
        collection->registerClass([](const std::string&) { return make<UICollectionViewCell>(); }, "item");
        itemsSource = std::make_shared<ItemsDataSource>(std::move(items));
        collection->setDataSource(itemsSource);
        window->addSubview(collection);
        collection->reloadData();
        testsupport::drainMainRunLoop();
        return collection;
    }

    // Changes the rows and reloads.
    void reloadRows(std::vector<long> rows) {
        dataSource->rows = std::move(rows);
        table->reloadData();
    }

    // A drag with the finger kept down: begin, move to the offset.
    static void dragTo(const Ref<UIScrollView>& scroll, CGFloat offsetY) {
        if (!scroll->isDragging()) scroll->simulateBeginDragging();
        scroll->simulateDragTo(CGPointMake(0, offsetY));
    }
    // Lifts the finger where it is (the scroll view then springs back by decelerating).
    static void release(const Ref<UIScrollView>& scroll) { scroll->simulateEndDragging(); }

    testsupport::TemporaryDirectory sandbox;
    testsupport::TemporaryDirectory resources;
    testsupport::ManualClock clock;
    Ref<UIWindow> window;
    Ref<UITableView> table;
    Ref<RowsDataSource> dataSource;
    Ref<UICollectionView> collection;
    Ref<ItemsDataSource> itemsSource;
};

}  // namespace pullrefreshtest
