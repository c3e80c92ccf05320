// The waterfall layout and its collection view: placement in the shortest column, ties, the
// single-precision comparison, content size, sections other than 0, invalidation on bounds
// changes, column changes, hostile delegate answers and cell reuse while scrolling.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <tuple>
#include <vector>

#include "controls/WFCollectionView.h"
#include "controls/WFWaterFlowLayout.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UICollectionViewFlowLayout.h"

namespace {

Ref<NSIndexPath> item(long i, long section = 0) {
    return NSIndexPath::indexPathForItem(i, section);
}

// Items per section, heights per item of section 0 (default 50), and a record of the questions.
class Wall : public UICollectionViewDataSource, public WFCollectionViewDelegate {
  public:
    std::vector<long> items{3};
    std::map<long, CGFloat> heights;
    std::vector<CGFloat> widthsAsked;
    std::vector<WFCollectionView*> viewsAsked;
    int cellsRequested = 0;

    long numberOfSectionsInCollectionView(UICollectionView&) override { return long(items.size()); }
    long collectionViewNumberOfItemsInSection(UICollectionView&, long section) override {
        return section < long(items.size()) ? items[std::size_t(section)] : 0;
    }
    Ref<UICollectionViewCell> collectionViewCellForItemAtIndexPath(UICollectionView& view,
                                                                   const Ref<NSIndexPath>& path) override {
        ++cellsRequested;
        return view.dequeueReusableCellWithReuseIdentifier("tile", path);
    }
    CGFloat collectionViewHeightForWidth(WFCollectionView& view, CGFloat width,
                                         const Ref<NSIndexPath>& path) override {
        widthsAsked.push_back(width);
        viewsAsked.push_back(&view);
        auto it = heights.find(path->item());
        return it == heights.end() ? 50 : it->second;
    }
};

class WaterFlowLayoutTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        view = WFCollectionView::collectionViewWithFrame(CGRectMake(0, 0, 320, 480));
        view->registerClass<UICollectionViewCell>("tile");
        wall = make<Wall>();
        view->setDataSource(wall);
        view->setDelegate(wall);
    }

    // Lays out now and answers the frames of the pass, in item order.
    std::vector<CGRect> frames() {
        view->layoutVisibleItems();
        std::vector<CGRect> out;
        for (const auto& a : view->waterFlow()->attributeArray()) out.push_back(a->frame());
        return out;
    }

    double bottom(const std::string& column) {
        return view->waterFlow()->maxYDict().objectForKey(column).number()->doubleValue();
    }

    Ref<WFCollectionView> view;
    Ref<Wall> wall;
};

TEST_F(WaterFlowLayoutTest, DefaultsAndTheFirstRunningBottoms) {
    auto layout = make<WFWaterFlowLayout>();
    EXPECT_EQ(std::tuple(layout->columnCount(), layout->columnMargin(), layout->rowMargin()),
              std::tuple(2, 10.0, 10.0));
    EXPECT_EQ(layout->sectionInsets(), UIEdgeInsetsMake(10, 10, 10, 10));
    EXPECT_EQ(layout->delagate(), nullptr);
    layout->setSectionInsets(UIEdgeInsetsMake(4, 0, 0, 0));
    layout->setColumnCount(3);
    const Dictionary& bottoms = layout->maxYDict();
    ASSERT_EQ(bottoms.count(), 3u);
    EXPECT_EQ(bottoms.objectForKey("0").number()->doubleValue(), 4);
    EXPECT_EQ(bottoms.objectForKey("2").number()->doubleValue(), 4);
    EXPECT_TRUE(layout->attributeArray().empty());
    EXPECT_TRUE(layout->shouldInvalidateLayoutForBoundsChange(CGRectZero));
}

TEST_F(WaterFlowLayoutTest, WorkedExampleFillsTheShortestColumn) {
    wall->heights = {{0, 100}, {1, 80}, {2, 60}};
    auto f = frames();
    ASSERT_EQ(f.size(), 3u);
    EXPECT_RECT(f[0], 10, 20, 145, 100);
    EXPECT_RECT(f[1], 165, 20, 145, 80);
    EXPECT_RECT(f[2], 165, 110, 145, 60);
    EXPECT_EQ(bottom("0"), 120);
    EXPECT_EQ(bottom("1"), 170);
    EXPECT_EQ(view->waterFlow()->collectionViewContentSize(), CGSizeMake(0, 180));
    EXPECT_EQ(view->contentSize(), CGSizeMake(0, 180));
    EXPECT_EQ(wall->widthsAsked, (std::vector<CGFloat>{145, 145, 145}));
    EXPECT_EQ(wall->viewsAsked[0], view.get());
}

TEST_F(WaterFlowLayoutTest, TiesGoToTheLowestColumnEvenInSinglePrecision) {
    // Equal columns give the next item to column zero.
    wall->items = {4};
    wall->heights = {{0, 70}, {1, 70}};
    auto f = frames();
    EXPECT_EQ(f[2].origin, CGPointMake(10, 100));
    EXPECT_EQ(f[3].origin.x, 165);
    // Column 0 ends a hair lower than column 1, too little for a float to tell: a tie, which
    // column 0 wins.
    wall->items = {3};
    wall->heights = {{0, 90.000001}, {1, 90}};
    view->reloadData();
    EXPECT_EQ(frames()[2].origin.x, 10);
}

TEST_F(WaterFlowLayoutTest, TiesAmongLaterColumnsGoToTheLowestIndex) {
    view->setColumnCount(3);
    wall->items = {4};
    wall->heights = {{0, 90}, {1, 30}, {2, 30}};
    auto f = frames();
    // Columns 1 and 2 tie at 50, above column 0 at 110: column 1 takes item 3.
    const CGFloat w = (320 - 20 - 20) / 3.0;
    EXPECT_NEAR(f[3].origin.x, 10 + (w + 10), 1e-9);
    EXPECT_EQ(f[3].origin.y, 60);
}

TEST_F(WaterFlowLayoutTest, EmptySectionsOrNoColumnsGiveNoAttributesAndTheInsetsAsHeight) {
    wall->items = {0};
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(view->waterFlow()->collectionViewContentSize(), CGSizeMake(0, 20));
    wall->items = {};
    view->reloadData();
    EXPECT_TRUE(frames().empty());
    wall->items = {3};
    for (int count : {0, -3}) {
        view->setColumnCount(count);
        view->reloadData();
        EXPECT_TRUE(frames().empty());
        EXPECT_EQ(view->waterFlow()->collectionViewContentSize(), CGSizeMake(0, 20));
    }
}

TEST_F(WaterFlowLayoutTest, OnlySectionZeroIsLaidOut) {
    wall->items = {2, 5};
    auto f = frames();
    EXPECT_EQ(f.size(), 2u);
    EXPECT_EQ(view->waterFlow()->layoutAttributesForItemAtIndexPath(item(0, 1)), nullptr);
    EXPECT_EQ(view->layoutAttributesForItemAtIndexPath(item(0, 1)), nullptr);
    EXPECT_EQ(view->cellForItemAtIndexPath(item(0, 1)), nullptr);
    EXPECT_NE(view->cellForItemAtIndexPath(item(1, 0)), nullptr);
}

TEST_F(WaterFlowLayoutTest, AskingForOneItemAnswersThePassWithoutMovingColumns) {
    wall->heights = {{0, 100}, {1, 80}, {2, 60}};
    frames();
    auto a = view->layoutAttributesForItemAtIndexPath(item(2));
    ASSERT_TRUE(a);
    EXPECT_RECT(a->frame(), 165, 110, 145, 60);
    EXPECT_EQ(view->waterFlow()->layoutAttributesForItemAtIndexPath(item(2)), a);
    EXPECT_EQ(bottom("1"), 170);
    EXPECT_EQ(view->waterFlow()->layoutAttributesForItemAtIndexPath(item(3)), nullptr);
    EXPECT_EQ(view->waterFlow()->layoutAttributesForItemAtIndexPath(nullptr), nullptr);
    EXPECT_EQ(view->waterFlow()->layoutAttributesForItemAtIndexPath(NSIndexPath::indexPathWithIndex(0)),
              nullptr);
    view->scrollToItemAtIndexPath(item(2), UICollectionViewScrollPositionTop, false);
    EXPECT_EQ(bottom("1"), 170);
}

TEST_F(WaterFlowLayoutTest, EveryBoundsChangeRunsANewPassAndAsksAgain) {
    wall->items = {30};
    frames();
    ASSERT_EQ(wall->widthsAsked.size(), 30u);
    view->setContentOffset(CGPointMake(0, 100));
    EXPECT_EQ(wall->widthsAsked.size(), 60u);
    view->setFrame(CGRectMake(0, 0, 200, 480));
    const std::size_t afterResize = wall->widthsAsked.size();
    EXPECT_EQ(afterResize, 90u);
    EXPECT_EQ(wall->widthsAsked.back(), (200 - 30) / 2.0);
}

TEST_F(WaterFlowLayoutTest, ViewSettersReachTheLayoutForTheNextPass) {
    view->setColumnCount(3);
    view->setColumnMargin(5);
    view->setRowMargin(2);
    EXPECT_EQ(view->waterFlow()->columnCount(), 3);
    EXPECT_EQ(view->columnMargin(), 5);
    EXPECT_EQ(view->rowMargin(), 2);
    wall->items = {4};
    auto f = frames();
    const CGFloat w = (320 - 20 - 10) / 3.0;
    EXPECT_NEAR(f[0].size.width, w, 1e-9);
    EXPECT_NEAR(f[1].origin.x, 10 + w + 5, 1e-9);
    EXPECT_EQ(f[0].origin.y, 12);
    EXPECT_EQ(f[3].origin.y, 12 + 50 + 2);
}

TEST_F(WaterFlowLayoutTest, FewerColumnsAfterAPassLeaveNoStaleColumn) {
    view->setColumnCount(4);
    wall->items = {4};
    wall->heights = {{0, 300}, {1, 300}, {2, 300}, {3, 10}};
    frames();
    view->setColumnCount(2);
    wall->heights = {{0, 300}, {1, 300}};
    view->reloadData();
    auto f = frames();
    EXPECT_EQ(view->waterFlow()->maxYDict().count(), 2u);
    for (const auto& frame : f) EXPECT_LT(frame.origin.x, 320) << NSStringFromCGRect(frame);
}

TEST_F(WaterFlowLayoutTest, HostileHeightsDoNotBreakThePass) {
    wall->items = {6};
    wall->heights = {{0, -40},
                     {1, std::numeric_limits<CGFloat>::quiet_NaN()},
                     {2, std::numeric_limits<CGFloat>::infinity()},
                     {3, 1e30},
                     {4, 0}};
    auto f = frames();
    EXPECT_EQ(f.size(), 6u);
}

TEST_F(WaterFlowLayoutTest, LayoutWithoutDelegateOrViewPlacesZeroHighItems) {
    auto layout = make<WFWaterFlowLayout>();
    layout->prepareLayout();  // no collection view
    EXPECT_TRUE(layout->attributeArray().empty());
    auto plain = make<UICollectionView>(CGRectMake(0, 0, 320, 480), layout);
    plain->setDataSource(wall);
    plain->layoutVisibleItems();
    ASSERT_EQ(layout->attributeArray().size(), 3u);
    EXPECT_RECT(layout->attributeArray()[2]->frame(), 10, 30, 145, 0);
    // A delegate gone means zero heights.
    view->setDelegate(nullptr);
    auto f = frames();
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0].size.height, 0);
}

TEST_F(WaterFlowLayoutTest, TheGivenLayoutIsIgnoredTheViewStartsWhiteAndIsHeldWeakly) {
    auto flow = make<UICollectionViewFlowLayout>();
    auto other = make<WFCollectionView>(CGRectMake(0, 0, 100, 100), flow);
    EXPECT_EQ(other->collectionViewLayout(), other->waterFlow());
    EXPECT_EQ(flow->collectionView(), nullptr);
    EXPECT_EQ(other->waterFlow()->collectionView(), other);
    EXPECT_EQ(other->waterFlow()->delagate().get(), static_cast<WFWaterflowLayoutDelagate*>(other.get()));
    EXPECT_TRUE(other->backgroundColor()->isEqual(*UIColor::whiteColor()));
    // The layout holds its view weakly.
    Weak<WFCollectionView> weak = view;
    auto layout = view->waterFlow();
    view = nullptr;
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(layout->delagate(), nullptr);
    EXPECT_EQ(layout->collectionView(), nullptr);
}

TEST_F(WaterFlowLayoutTest, ScrollingALongWallReusesAFewCells) {
    wall->items = {400};
    view->layoutVisibleItems();
    const auto firstScreen = view->visibleCells().size();
    EXPECT_GT(firstScreen, 0u);
    EXPECT_LT(firstScreen, 30u);
    for (int step = 1; step <= 100; ++step) view->setContentOffset(CGPointMake(0, step * 100.0));
    EXPECT_LT(view->cellsCreatedFromRegistrations(), 60u);
    EXPECT_GT(wall->cellsRequested, 200);
    // Every visible cell sits where the pass put its item.
    for (const auto& cell : view->visibleCells()) {
        auto path = view->indexPathForCell(cell);
        ASSERT_TRUE(path);
        EXPECT_TRUE(
            uikittest::rectNear(cell->frame(), view->layoutAttributesForItemAtIndexPath(path)->frame()));
    }
    EXPECT_NEAR(view->contentSize().height, 400 / 2 * 60.0 + 10 + 10, 1e-6);
}

}  // namespace
