// The entry gallery's round-robin column layout on a grid of its own: places, content size, the
// rectangle query, and computing again when the item count, the width or the settings change.

#include <gtest/gtest.h>

#include "information/ProductionLayout.h"
#include "information/QVNProductionCell.h"
#include "tests/support/MainLoop.h"

namespace {

// Plain cells, as many as asked.
class CountingSource : public NSObject, public UICollectionViewDataSource {
  public:
    long count = 0;
    long collectionViewNumberOfItemsInSection(UICollectionView&, long) override { return count; }
    Ref<UICollectionViewCell>
    collectionViewCellForItemAtIndexPath(UICollectionView& grid, const Ref<NSIndexPath>& indexPath) override {
        return grid.dequeueReusableCellWithReuseIdentifier("cell", indexPath);
    }
};

class ProductionLayoutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        layout = make<ProductionLayout>();
        grid = make<UICollectionView>(CGRectMake(0, 0, 320, 480), layout);
        grid->registerClass<UICollectionViewCell>("cell");
        grid->setDataSource(source);
    }
    void show(long items) {
        source->count = items;
        grid->reloadData();
    }
    CGRect frameOf(long item) {
        auto attributes = grid->layoutAttributesForItemAtIndexPath(NSIndexPath::indexPathForItem(item, 0));
        EXPECT_TRUE(attributes) << item;
        return attributes ? attributes->frame() : CGRectZero;
    }

    Ref<CountingSource> source = make<CountingSource>();
    Ref<ProductionLayout> layout;
    Ref<UICollectionView> grid;
};

TEST_F(ProductionLayoutTest, DefaultsAreTwoColumnsAndOnePointOfPadding) {
    EXPECT_EQ(layout->numberOfColumns(), 2);
    EXPECT_DOUBLE_EQ(layout->cellPadding(), 1.0);
    EXPECT_DOUBLE_EQ(layout->contentWidth(), 320);
    EXPECT_DOUBLE_EQ(make<ProductionLayout>()->contentWidth(), 0);  // no grid yet
}

TEST_F(ProductionLayoutTest, ThreeItemsGoRoundTheColumns) {
    show(3);
    ASSERT_EQ(layout->cache().size(), 3u);
    // Column width 160; a card is 160 - 2 wide and 1 + 202 high, inset by the padding.
    EXPECT_EQ(frameOf(0), CGRectMake(1, 1, 156, 201));
    EXPECT_EQ(frameOf(1), CGRectMake(161, 1, 156, 201));
    EXPECT_EQ(frameOf(2), CGRectMake(1, 204, 156, 201));
    EXPECT_DOUBLE_EQ(layout->contentHeight(), 2 * (1.0 + QVNProductionCell::height()));
    EXPECT_DOUBLE_EQ(layout->contentHeight(), 406);
    EXPECT_EQ(grid->contentSize(), CGSizeMake(320, 406));
    for (const auto& attributes : layout->cache())
        EXPECT_TRUE(std::dynamic_pointer_cast<ProductionLayoutAttributes>(attributes));
    auto copy = std::dynamic_pointer_cast<ProductionLayoutAttributes>(layout->cache()[2]->copyObject());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->frame(), frameOf(2));
}

TEST_F(ProductionLayoutTest, RoundRobinIgnoresColumnHeights) {
    struct Case {
        int columns;
        double padding;
        long items;
        std::vector<long> columnOfItem;
        double contentHeight;
    };
    const Case cases[] = {
        {1, 1.0, 3, {0, 0, 0}, 3 * 203.0},
        {2, 2.5, 5, {0, 1, 0, 1, 0}, 3 * 204.5},
        {3, 0.0, 4, {0, 1, 2, 0}, 2 * 202.0},
        {4, 1.0, 2, {0, 1}, 203.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.columns);
        layout->setNumberOfColumns(c.columns);
        layout->setCellPadding(c.padding);
        show(c.items);
        const double columnWidth = 320.0 / c.columns;
        for (long item = 0; item < c.items; ++item) {
            CGRect frame = frameOf(item);
            EXPECT_DOUBLE_EQ(frame.origin.x, columnWidth * c.columnOfItem[item] + c.padding) << item;
            EXPECT_DOUBLE_EQ(frame.size.width, columnWidth - 4 * c.padding) << item;
        }
        EXPECT_DOUBLE_EQ(layout->contentHeight(), c.contentHeight);
    }
}

TEST_F(ProductionLayoutTest, ASecondPageGetsPlacesToo) {
    show(10);
    ASSERT_EQ(layout->cache().size(), 10u);
    show(14);
    ASSERT_EQ(layout->cache().size(), 14u);
    EXPECT_EQ(frameOf(13), CGRectMake(161, 6 * 203 + 1, 156, 201));
    EXPECT_DOUBLE_EQ(layout->contentHeight(), 7 * 203);
    // Every entry is shown when the grid scrolls down to it.
    grid->setContentOffset(CGPointMake(0, layout->contentHeight() - 480));
    grid->layoutVisibleItems();
    EXPECT_TRUE(grid->cellForItemAtIndexPath(NSIndexPath::indexPathForItem(13, 0)));
}

TEST_F(ProductionLayoutTest, FewerItemsGiveBackTheirHeight) {
    show(6);
    EXPECT_DOUBLE_EQ(layout->contentHeight(), 3 * 203);
    show(2);
    EXPECT_EQ(layout->cache().size(), 2u);
    EXPECT_DOUBLE_EQ(layout->contentHeight(), 203);
    show(0);
    EXPECT_TRUE(layout->cache().empty());
    EXPECT_DOUBLE_EQ(layout->contentHeight(), 0);
    EXPECT_FALSE(grid->layoutAttributesForItemAtIndexPath(NSIndexPath::indexPathForItem(0, 0)));
}

TEST_F(ProductionLayoutTest, AWidthChangeOrInsetPlacesTheCardsAgain) {
    show(3);
    EXPECT_FALSE(layout->shouldInvalidateLayoutForBoundsChange(CGRectMake(0, 300, 320, 480)));
    EXPECT_TRUE(layout->shouldInvalidateLayoutForBoundsChange(CGRectMake(0, 0, 200, 480)));
    grid->setFrame(CGRectMake(0, 0, 200, 480));
    grid->layoutVisibleItems();
    EXPECT_EQ(frameOf(1), CGRectMake(101, 1, 96, 201));
    grid->setContentInset(UIEdgeInsetsMake(5, 5, 5, 5));
    EXPECT_DOUBLE_EQ(layout->contentWidth(), 190);
    layout->invalidateLayout();
    grid->layoutVisibleItems();
    EXPECT_EQ(frameOf(1), CGRectMake(96, 1, 91, 201));
    EXPECT_EQ(grid->contentSize().width, 190);
}

TEST_F(ProductionLayoutTest, TheRectangleQueryKeepsCacheOrder) {
    show(6);
    auto top = layout->layoutAttributesForElementsInRect(CGRectMake(0, 0, 320, 100));
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[0]->indexPath()->item(), 0);
    EXPECT_EQ(top[1]->indexPath()->item(), 1);
    auto right = layout->layoutAttributesForElementsInRect(CGRectMake(200, 0, 10, 1000));
    ASSERT_EQ(right.size(), 3u);
    EXPECT_EQ(right[0]->indexPath()->item(), 1);
    EXPECT_EQ(right[2]->indexPath()->item(), 5);
    EXPECT_TRUE(layout->layoutAttributesForElementsInRect(CGRectMake(0, 2000, 320, 100)).empty());
}

TEST_F(ProductionLayoutTest, NoColumnsPlaceNothing) {
    layout->setNumberOfColumns(0);
    show(3);
    EXPECT_TRUE(layout->cache().empty());
    layout->setNumberOfColumns(-2);
    show(3);
    EXPECT_TRUE(layout->cache().empty());
    EXPECT_FALSE(layout->layoutAttributesForItemAtIndexPath(nullptr));
    EXPECT_FALSE(layout->layoutAttributesForItemAtIndexPath(NSIndexPath::indexPathForItem(0, 1)));
}

}  // namespace
