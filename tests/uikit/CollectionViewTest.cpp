// Collection views: custom layouts (a two-column staggered layout written here), the flow
// layout's line packing and content size, cell reuse while scrolling, the reload hook list,
// updates and selection.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "foundation/NSLog.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UICollectionViewController.h"
#include "uikit/UICollectionViewFlowLayout.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"

namespace {

Ref<NSIndexPath> item(long i, long section = 0) {
    return NSIndexPath::indexPathForItem(i, section);
}

std::vector<long> items(const std::vector<Ref<NSIndexPath>>& list) {
    std::vector<long> out;
    for (const auto& p : list) out.push_back(p->item());
    std::sort(out.begin(), out.end());
    return out;
}

// Items go to the shorter of two columns; heights come from a function of the item.
class StaggeredLayout : public UICollectionViewLayout {
  public:
    std::function<CGFloat(long)> heightOf = [](long i) { return 100 + CGFloat(i % 4) * 20; };
    CGFloat gap = 10;
    int prepares = 0;
    bool invalidateOnBounds = false;
    std::vector<Ref<UICollectionViewLayoutAttributes>> cache;
    CGFloat contentHeight = 0;

    void prepareLayout() override {
        ++prepares;
        cache.clear();
        auto cv = collectionView();
        if (!cv) return;
        const CGFloat width = (cv->bounds().size.width - 3 * gap) / 2;
        CGFloat bottoms[2] = {gap, gap};
        for (long i = 0; i < cv->numberOfItemsInSection(0); ++i) {
            const int column = bottoms[1] < bottoms[0] ? 1 : 0;
            auto a = layoutAttributesForCell(item(i));
            a->setFrame(CGRectMake(gap + column * (width + gap), bottoms[column], width, heightOf(i)));
            bottoms[column] += heightOf(i) + gap;
            cache.push_back(a);
        }
        contentHeight = std::max(bottoms[0], bottoms[1]);
    }
    CGSize collectionViewContentSize() override {
        auto cv = collectionView();
        return {cv ? cv->bounds().size.width : 0, contentHeight};
    }
    std::vector<Ref<UICollectionViewLayoutAttributes>>
    layoutAttributesForElementsInRect(CGRect rect) override {
        std::vector<Ref<UICollectionViewLayoutAttributes>> out;
        for (const auto& a : cache) {
            if (CGRectIntersectsRect(a->frame(), rect)) out.push_back(a);
        }
        return out;
    }
    Ref<UICollectionViewLayoutAttributes>
    layoutAttributesForItemAtIndexPath(const Ref<NSIndexPath>& p) override {
        return p && std::size_t(p->item()) < cache.size() ? cache[std::size_t(p->item())] : nullptr;
    }
    bool shouldInvalidateLayoutForBoundsChange(CGRect) override { return invalidateOnBounds; }
};

class TagCell : public UICollectionViewCell {
  public:
    using UICollectionViewCell::UICollectionViewCell;
    int reuses = 0;
    int applied = 0;
    long shows = -1;
    void prepareForReuse() override {
        UICollectionViewCell::prepareForReuse();
        ++reuses;
    }
    void applyLayoutAttributes(const Ref<UICollectionViewLayoutAttributes>&) override { ++applied; }
};

class Items : public UICollectionViewDataSource, public UICollectionViewDelegateFlowLayout {
  public:
    std::vector<long> counts{10};
    std::vector<std::string> requests;
    std::vector<std::string> events;
    std::function<std::optional<CGSize>(const Ref<NSIndexPath>&)> sizeFor;
    std::optional<bool> shouldSelect;

    long numberOfSectionsInCollectionView(UICollectionView&) override { return long(counts.size()); }
    long collectionViewNumberOfItemsInSection(UICollectionView&, long section) override {
        return counts[std::size_t(section)];
    }
    Ref<UICollectionViewCell> collectionViewCellForItemAtIndexPath(UICollectionView& cv,
                                                                   const Ref<NSIndexPath>& p) override {
        requests.push_back(std::to_string(p->section()) + ":" + std::to_string(p->item()));
        auto cell = cv.dequeueReusableCellWithReuseIdentifier("tag", p);
        if (auto tag = std::dynamic_pointer_cast<TagCell>(cell)) tag->shows = p->item();
        return cell;
    }
    Ref<UICollectionReusableView>
    collectionViewViewForSupplementaryElementOfKind(UICollectionView& cv, const std::string& kind,
                                                    const Ref<NSIndexPath>& p) override {
        return cv.dequeueReusableSupplementaryViewOfKind(kind, "header", p);
    }
    std::optional<CGSize> collectionViewLayoutSizeForItemAtIndexPath(UICollectionView&,
                                                                     UICollectionViewLayout&,
                                                                     const Ref<NSIndexPath>& p) override {
        return sizeFor ? sizeFor(p) : std::nullopt;
    }
    std::optional<bool> collectionViewShouldSelectItemAtIndexPath(UICollectionView&,
                                                                  const Ref<NSIndexPath>& p) override {
        events.push_back("should " + std::to_string(p->item()));
        return shouldSelect;
    }
    void collectionViewDidSelectItemAtIndexPath(UICollectionView&, const Ref<NSIndexPath>& p) override {
        events.push_back("select " + std::to_string(p->item()));
    }
    void collectionViewDidDeselectItemAtIndexPath(UICollectionView&, const Ref<NSIndexPath>& p) override {
        events.push_back("deselect " + std::to_string(p->item()));
    }
};

class CollectionViewTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        source = std::make_shared<Items>();
    }
    void TearDown() override {
        if (window) window->setHidden(true);
        UITestDriver::reset();
        UIKitTest::TearDown();
    }
    Ref<UICollectionView> makeView(const Ref<UICollectionViewLayout>& layout,
                                   CGRect frame = CGRectMake(0, 0, 320, 480)) {
        auto cv = make<UICollectionView>(frame, layout);
        cv->registerClass(
            [this](const std::string&) -> Ref<UICollectionViewCell> {
                ++made;
                return make<TagCell>(CGRectZero);
            },
            "tag");
        cv->setDataSource(source);
        cv->setDelegate(source);
        return cv;
    }
    std::shared_ptr<Items> source;
    Ref<UIWindow> window;
    int made = 0;
};

// ---- custom layouts -----------------------------------------------------------------------------

TEST_F(CollectionViewTest, ACustomLayoutPlacesTheCells) {
    auto layout = make<StaggeredLayout>();
    auto cv = makeView(layout);
    EXPECT_EQ(layout->collectionView(), cv);
    source->counts = {6};
    cv->reloadData();
    EXPECT_EQ(layout->prepares, 1);
    // Width (320 - 30) / 2 = 145; heights 100, 120, 140, 160, 100, 120.
    EXPECT_RECT(cv->cellForItemAtIndexPath(item(0))->frame(), 10, 10, 145, 100);
    EXPECT_RECT(cv->cellForItemAtIndexPath(item(1))->frame(), 165, 10, 145, 120);
    EXPECT_RECT(cv->cellForItemAtIndexPath(item(2))->frame(), 10, 120, 145, 140);
    EXPECT_RECT(cv->cellForItemAtIndexPath(item(3))->frame(), 165, 140, 145, 160);
    EXPECT_RECT(cv->cellForItemAtIndexPath(item(4))->frame(), 10, 270, 145, 100);
    EXPECT_RECT(cv->cellForItemAtIndexPath(item(5))->frame(), 165, 310, 145, 120);
    EXPECT_DOUBLE_EQ(cv->contentSize().height, 440);
    auto tag = std::static_pointer_cast<TagCell>(cv->cellForItemAtIndexPath(item(2)));
    EXPECT_EQ(tag->shows, 2);
    EXPECT_GE(tag->applied, 1);
    auto hit = cv->indexPathForItemAtPoint(CGPointMake(200, 250));
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->item(), 3);
    EXPECT_FALSE(cv->indexPathForItemAtPoint(CGPointMake(160, 50))) << "the gap between columns";
    EXPECT_EQ(items(cv->indexPathsForVisibleItems()), (std::vector<long>{0, 1, 2, 3, 4, 5}));
}

TEST_F(CollectionViewTest, ScrollingAManyItemGridReusesCells) {
    auto layout = make<StaggeredLayout>();
    auto cv = makeView(layout);
    source->counts = {500};
    cv->reloadData();
    const auto firstScreen = cv->visibleCells().size();
    EXPECT_GT(firstScreen, 4u);
    for (CGFloat y = 0; y < cv->contentSize().height - 480; y += 53) {
        cv->setContentOffset(CGPointMake(0, y));
        const CGRect visibleRect = CGRectMake(0, y, 320, 480);
        for (const auto& cell : cv->visibleCells()) {
            EXPECT_TRUE(CGRectIntersectsRect(cell->frame(), visibleRect));
            auto path = cv->indexPathForCell(cell);
            ASSERT_TRUE(path);
            EXPECT_EQ(static_cast<TagCell&>(*cell).shows, path->item());
        }
        // Every item whose frame meets the view has a cell.
        std::size_t expected = 0;
        for (const auto& a : layout->cache) expected += CGRectIntersectsRect(a->frame(), visibleRect) ? 1 : 0;
        EXPECT_EQ(cv->visibleCells().size(), expected) << "at " << y;
    }
    EXPECT_LE(made, int(firstScreen) + 6);
    EXPECT_EQ(layout->prepares, 1) << "this layout does not ask to be invalidated by scrolling";
    EXPECT_GE(source->requests.size(), 490u);
}

TEST_F(CollectionViewTest, BoundsChangesInvalidateWhenTheLayoutSaysSo) {
    auto layout = make<StaggeredLayout>();
    layout->invalidateOnBounds = true;
    auto cv = makeView(layout);
    source->counts = {40};
    cv->reloadData();
    EXPECT_EQ(layout->prepares, 1);
    cv->setContentOffset(CGPointMake(0, 100));
    cv->setContentOffset(CGPointMake(0, 200));
    EXPECT_EQ(layout->prepares, 3);
    // A new width re-lays the columns.
    cv->setFrame(CGRectMake(0, 0, 210, 480));
    EXPECT_EQ(layout->prepares, 4);
    EXPECT_DOUBLE_EQ(layout->cache[0]->frame().size.width, 90);
    layout->invalidateLayout();
    EXPECT_EQ(layout->prepares, 4) << "an invalidation waits for the next layout";
    cv->layoutIfNeeded();
    EXPECT_EQ(layout->prepares, 5);
}

TEST_F(CollectionViewTest, ItemsBeyondTheCountsGetNoCells) {
    class Overreaching : public StaggeredLayout {
      public:
        void prepareLayout() override {
            StaggeredLayout::prepareLayout();
            auto extra = layoutAttributesForCell(item(99));
            extra->setFrame(CGRectMake(0, 0, 50, 50));
            cache.push_back(extra);
            auto otherSection = layoutAttributesForCell(item(0, 3));
            otherSection->setFrame(CGRectMake(0, 0, 50, 50));
            cache.push_back(otherSection);
        }
    };
    auto cv = makeView(make<Overreaching>());
    source->counts = {2};
    cv->reloadData();
    EXPECT_EQ(items(cv->indexPathsForVisibleItems()), (std::vector<long>{0, 1}));
}

// ---- the flow layout ----------------------------------------------------------------------------

TEST_F(CollectionViewTest, TheFlowLayoutPacksLinesAndJustifiesThem) {
    auto flow = make<UICollectionViewFlowLayout>();
    flow->setItemSize(CGSizeMake(90, 50));
    flow->setSectionInset(UIEdgeInsetsMake(10, 10, 10, 10));
    auto cv = makeView(flow);
    source->counts = {7};
    cv->reloadData();
    // 300 points across: three items of 90 with gaps of 15 (at least the minimum 10).
    auto frame = [&](long i) { return cv->layoutAttributesForItemAtIndexPath(item(i))->frame(); };
    EXPECT_RECT(frame(0), 10, 10, 90, 50);
    EXPECT_RECT(frame(1), 115, 10, 90, 50);
    EXPECT_RECT(frame(2), 220, 10, 90, 50);
    EXPECT_RECT(frame(3), 10, 70, 90, 50);
    // The last line keeps the gap of the line before it.
    EXPECT_RECT(frame(6), 10, 130, 90, 50);
    EXPECT_DOUBLE_EQ(cv->contentSize().width, 320);
    EXPECT_DOUBLE_EQ(cv->contentSize().height, 10 + 3 * 50 + 2 * 10 + 10);
    EXPECT_EQ(flow->minimumLineSpacing(), 10);
    EXPECT_EQ(flow->minimumInteritemSpacing(), 10);
    // A single item on a line of its own is centred.
    source->counts = {1};
    cv->reloadData();
    EXPECT_RECT(frame(0), 115, 10, 90, 50);
    // Two items on the only line are pushed to the ends.
    source->counts = {2};
    cv->reloadData();
    EXPECT_RECT(frame(0), 10, 10, 90, 50);
    EXPECT_RECT(frame(1), 220, 10, 90, 50);
}

TEST_F(CollectionViewTest, TheFlowLayoutAsksTheDelegateForSizesAndCentresItemsOnTheLine) {
    auto flow = make<UICollectionViewFlowLayout>();
    flow->setMinimumInteritemSpacing(0);
    flow->setMinimumLineSpacing(5);
    auto cv = makeView(flow);
    source->counts = {4};
    source->sizeFor = [](const Ref<NSIndexPath>& p) -> std::optional<CGSize> {
        if (p->item() == 1) return CGSizeMake(160, 80);
        if (p->item() == 3) return std::nullopt;  // the layout's item size, 50 x 50
        return CGSizeMake(160, 40);
    };
    cv->reloadData();
    auto frame = [&](long i) { return cv->layoutAttributesForItemAtIndexPath(item(i))->frame(); };
    EXPECT_RECT(frame(0), 0, 20, 160, 40);
    EXPECT_RECT(frame(1), 160, 0, 160, 80);
    // The last line keeps the previous line's gap (0) from the start; items centre on its 50 points.
    EXPECT_RECT(frame(2), 0, 90, 160, 40);
    EXPECT_RECT(frame(3), 160, 85, 50, 50);
    EXPECT_DOUBLE_EQ(cv->contentSize().height, 80 + 5 + 50);
}

TEST_F(CollectionViewTest, FlowHeadersFootersAndSections) {
    auto flow = make<UICollectionViewFlowLayout>();
    flow->setItemSize(CGSizeMake(100, 100));
    flow->setHeaderReferenceSize(CGSizeMake(0, 30));
    flow->setFooterReferenceSize(CGSizeMake(0, 20));
    auto cv = makeView(flow);
    cv->registerClassForSupplementaryViewOfKind(
        [](const std::string&) { return make<UICollectionReusableView>(CGRectZero); },
        UICollectionElementKindSectionHeader, "header");
    source->counts = {3, 1};
    cv->reloadData();
    // Section 0: header 0-30, a line of three (100 + 10 + 100 + 10 + 100 = 320), footer 130-150.
    EXPECT_RECT(
        cv->layoutAttributesForSupplementaryElementOfKind(UICollectionElementKindSectionHeader, item(0, 1))
            ->frame(),
        0, 150, 320, 30);
    EXPECT_RECT(cv->layoutAttributesForItemAtIndexPath(item(0, 1))->frame(), 110, 180, 100, 100);
    EXPECT_DOUBLE_EQ(cv->contentSize().height, 150 + 30 + 100 + 20);
    auto header = cv->supplementaryViewForElementKind(UICollectionElementKindSectionHeader, item(0, 1));
    ASSERT_TRUE(header);
    EXPECT_RECT(header->frame(), 0, 150, 320, 30);
    EXPECT_EQ(header->reuseIdentifier(), "header");
    EXPECT_EQ(header->superview(), cv);
    // No footer view is registered: the data source's dequeue logs and stands in a plain view.
    EXPECT_TRUE(cv->supplementaryViewForElementKind(UICollectionElementKindSectionFooter, item(0, 0)));
}

TEST_F(CollectionViewTest, HorizontalFlowRunsColumnsToTheRight) {
    auto flow = make<UICollectionViewFlowLayout>();
    flow->setScrollDirection(UICollectionViewScrollDirectionHorizontal);
    flow->setItemSize(CGSizeMake(60, 40));
    auto cv = makeView(flow, CGRectMake(0, 0, 320, 90));
    source->counts = {5};
    cv->reloadData();
    // Two items fit down a 90-point column (40 + 10 + 40).
    auto frame = [&](long i) { return cv->layoutAttributesForItemAtIndexPath(item(i))->frame(); };
    EXPECT_RECT(frame(0), 0, 0, 60, 40);
    EXPECT_RECT(frame(1), 0, 50, 60, 40);
    EXPECT_RECT(frame(2), 70, 0, 60, 40);
    EXPECT_RECT(frame(4), 140, 0, 60, 40);
    EXPECT_DOUBLE_EQ(cv->contentSize().width, 200);
    EXPECT_DOUBLE_EQ(cv->contentSize().height, 90);
}

TEST_F(CollectionViewTest, TheFlowLayoutFollowsWidthChangesOnly) {
    auto flow = make<UICollectionViewFlowLayout>();
    auto cv = makeView(flow);
    source->counts = {30};
    cv->reloadData();
    EXPECT_FALSE(flow->shouldInvalidateLayoutForBoundsChange(CGRectMake(0, 100, 320, 480)));
    EXPECT_TRUE(flow->shouldInvalidateLayoutForBoundsChange(CGRectMake(0, 0, 200, 480)));
    cv->setFrame(CGRectMake(0, 0, 160, 480));
    // 160 across: two 50-point items per line.
    EXPECT_RECT(cv->layoutAttributesForItemAtIndexPath(item(2))->frame(), 0, 60, 50, 50);
}

// ---- the model, reload hooks and updates --------------------------------------------------------

TEST_F(CollectionViewTest, ReloadHooksRunAroundThePlatformReload) {
    auto cv = makeView(make<StaggeredLayout>());
    source->counts = {3};
    cv->reloadData();
    source->counts = {4, 2};
    std::vector<std::string> order;
    long totalAfter = -1;
    auto after = UICollectionView::addReloadDataHook(UICollectionView::ReloadStage::After,
                                                     UICollectionView::kReloadHookOrderRefreshControls,
                                                     [&](UICollectionView& v) {
                                                         order.push_back("after");
                                                         totalAfter = 0;
                                                         for (long s = 0; s < v.numberOfSections(); ++s) {
                                                             totalAfter += v.numberOfItemsInSection(s);
                                                         }
                                                     });
    auto before = UICollectionView::addReloadDataHook(
        UICollectionView::ReloadStage::Before, 0, [&](UICollectionView& v) {
            order.push_back("before " + std::to_string(v.numberOfItemsInSection(0)));
        });
    cv->reloadData();
    EXPECT_EQ(order, (std::vector<std::string>{"before 3", "after"}));
    EXPECT_EQ(totalAfter, 6);
    UICollectionView::removeReloadDataHook(after);
    UICollectionView::removeReloadDataHook(before);
    order.clear();
    cv->reloadData();
    EXPECT_TRUE(order.empty());
}

TEST_F(CollectionViewTest, CountsAnswerAsOfTheLastReload) {
    auto cv = makeView(make<StaggeredLayout>());
    source->counts = {5};
    EXPECT_EQ(cv->numberOfItemsInSection(0), 5);
    source->counts = {8};
    EXPECT_EQ(cv->numberOfItemsInSection(0), 5);
    EXPECT_EQ(cv->numberOfItemsInSection(4), 0);
    cv->reloadData();
    EXPECT_EQ(cv->numberOfItemsInSection(0), 8);
    EXPECT_EQ(cv->numberOfSections(), 1);
}

TEST_F(CollectionViewTest, ReloadingItemsAsksOnlyForThem) {
    auto cv = makeView(make<StaggeredLayout>());
    source->counts = {6};
    cv->reloadData();
    auto cell0 = cv->cellForItemAtIndexPath(item(0));
    auto cell3 = cv->cellForItemAtIndexPath(item(3));
    source->requests.clear();
    cv->reloadItemsAtIndexPaths({item(3)});
    EXPECT_EQ(source->requests, (std::vector<std::string>{"0:3"}));
    EXPECT_EQ(cv->cellForItemAtIndexPath(item(0)), cell0);
    EXPECT_EQ(cv->cellForItemAtIndexPath(item(3)), cell3) << "dequeue prefers the cell that showed the item";
    // Inserting an item moves the others along.
    source->counts = {7};
    source->requests.clear();
    cv->insertItemsAtIndexPaths({item(0)});
    EXPECT_EQ(source->requests, (std::vector<std::string>{"0:0"}));
    EXPECT_EQ(cv->cellForItemAtIndexPath(item(1)), cell0);
    EXPECT_EQ(cv->numberOfItemsInSection(0), 7);
}

TEST_F(CollectionViewTest, BatchUpdatesApplyTogetherAndCompleteLater) {
    auto cv = makeView(make<StaggeredLayout>());
    source->counts = {4};
    cv->reloadData();
    auto cell3 = cv->cellForItemAtIndexPath(item(3));
    bool completed = false;
    cv->performBatchUpdates(
        [&] {
            source->counts = {4};
            cv->deleteItemsAtIndexPaths({item(0)});
            cv->insertItemsAtIndexPaths({item(3)});
            EXPECT_EQ(cv->cellForItemAtIndexPath(item(3)), cell3);
        },
        [&](bool finished) { completed = finished; });
    EXPECT_EQ(cv->cellForItemAtIndexPath(item(2)), cell3);
    EXPECT_FALSE(completed) << "the completion comes on a later turn";
    testsupport::drainMainRunLoop();
    EXPECT_TRUE(completed);
}

TEST_F(CollectionViewTest, AnInconsistentBatchBecomesAReload) {
    std::vector<std::string> lines;
    auto old = NSLogSetSink([&](const std::string& line) { lines.push_back(line); });
    auto cv = makeView(make<StaggeredLayout>());
    source->counts = {4};
    cv->reloadData();
    source->counts = {6};
    cv->insertItemsAtIndexPaths({item(0)});
    cv->deleteSections(NSIndexSet::indexSetWithIndex(3));
    NSLogSetSink(old);
    EXPECT_EQ(cv->inconsistentUpdateCount(), 2u);
    EXPECT_EQ(cv->numberOfItemsInSection(0), 6);
    EXPECT_EQ(cv->visibleCells().size(), 6u);
    ASSERT_EQ(lines.size(), 2u);
}

TEST_F(CollectionViewTest, NibCellsAndMissingRegistrations) {
    class NibItem : public UICollectionViewCell {
      public:
        NibItem() : UICollectionViewCell(CGRectMake(0, 0, 80, 80)) {}
        bool awoken = false;
        void awakeFromNib() override { awoken = true; }
    };
    const std::string name = "CollectionViewTestItem";
    UINib::registerNib(name, [](const Ref<NSObject>&, const Dictionary&) {
        auto cell = make<NibItem>();
        cell->awakeFromNib();
        return std::vector<Ref<NSObject>>{cell};
    });
    auto cv = makeView(make<StaggeredLayout>());
    cv->registerNib(UINib::nibWithNibName(name, nullptr), "tag");
    auto cell =
        std::dynamic_pointer_cast<NibItem>(cv->dequeueReusableCellWithReuseIdentifier("tag", item(0)));
    ASSERT_TRUE(cell);
    EXPECT_TRUE(cell->awoken);
    EXPECT_EQ(cell->reuseIdentifier(), "tag");
    std::vector<std::string> lines;
    auto old = NSLogSetSink([&](const std::string& line) { lines.push_back(line); });
    auto plain = cv->dequeueReusableCellWithReuseIdentifier("unknown", item(0));
    NSLogSetSink(old);
    ASSERT_TRUE(plain);
    EXPECT_EQ(lines.size(), 1u);
    UINib::unregisterNib(name);
}

// ---- selection and scrolling --------------------------------------------------------------------

TEST_F(CollectionViewTest, ATapSelectsTheItemUnderTheFinger) {
    auto cv = makeView(make<StaggeredLayout>());
    source->counts = {6};
    window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
    window->addSubview(cv);
    window->setHidden(false);
    cv->layoutIfNeeded();
    UITestDriver::reset();
    UITestDriver::tap(cv->cellForItemAtIndexPath(item(2)));
    EXPECT_EQ(source->events, (std::vector<std::string>{"should 2", "select 2"}));
    EXPECT_TRUE(cv->cellForItemAtIndexPath(item(2))->isSelected());
    UITestDriver::tap(cv->cellForItemAtIndexPath(item(3)));
    EXPECT_EQ(source->events.back(), "select 3");
    EXPECT_EQ(source->events[source->events.size() - 2], "deselect 2");
    EXPECT_EQ(items(cv->indexPathsForSelectedItems()), (std::vector<long>{3}));
    source->shouldSelect = false;
    UITestDriver::tap(cv->cellForItemAtIndexPath(item(4)));
    EXPECT_EQ(items(cv->indexPathsForSelectedItems()), (std::vector<long>{3}));
    // A tap in the gap selects nothing.
    source->shouldSelect.reset();
    source->events.clear();
    UITestDriver::tapAt(cv, CGPointMake(160, 50));
    EXPECT_TRUE(source->events.empty());
    cv->setAllowsMultipleSelection(true);
    UITestDriver::tap(cv->cellForItemAtIndexPath(item(0)));
    UITestDriver::tap(cv->cellForItemAtIndexPath(item(3)));
    EXPECT_EQ(items(cv->indexPathsForSelectedItems()), (std::vector<long>{0}));
}

TEST_F(CollectionViewTest, ScrollToItemPositions) {
    auto flow = make<UICollectionViewFlowLayout>();
    flow->setItemSize(CGSizeMake(300, 100));
    auto cv = makeView(flow);
    source->counts = {30};
    cv->reloadData();
    // Item i starts at 110 i.
    cv->scrollToItemAtIndexPath(item(10), UICollectionViewScrollPositionTop, false);
    EXPECT_DOUBLE_EQ(cv->contentOffset().y, 1100);
    cv->scrollToItemAtIndexPath(item(10), UICollectionViewScrollPositionCenteredVertically, false);
    EXPECT_DOUBLE_EQ(cv->contentOffset().y, 1150 - 240);
    cv->scrollToItemAtIndexPath(item(10), UICollectionViewScrollPositionBottom, false);
    EXPECT_DOUBLE_EQ(cv->contentOffset().y, 1200 - 480);
    cv->scrollToItemAtIndexPath(item(29), UICollectionViewScrollPositionTop, false);
    EXPECT_DOUBLE_EQ(cv->contentOffset().y, cv->contentSize().height - 480);
    EXPECT_EQ(items(cv->indexPathsForVisibleItems()).back(), 29);
    cv->scrollToItemAtIndexPath(item(0), UICollectionViewScrollPositionNone, false);
    EXPECT_DOUBLE_EQ(cv->contentOffset().y, 0);
}

TEST_F(CollectionViewTest, AControllerMakesItsCollectionView) {
    class Grid : public UICollectionViewController {
      public:
        using UICollectionViewController::UICollectionViewController;
        long collectionViewNumberOfItemsInSection(UICollectionView&, long) override { return 3; }
        Ref<UICollectionViewCell> collectionViewCellForItemAtIndexPath(UICollectionView&,
                                                                       const Ref<NSIndexPath>&) override {
            return make<UICollectionViewCell>(CGRectZero);
        }
    };
    auto controller = make<Grid>();
    auto cv = controller->collectionView();
    ASSERT_TRUE(cv);
    EXPECT_TRUE(std::dynamic_pointer_cast<UICollectionViewFlowLayout>(controller->collectionViewLayout()));
    controller->beginAppearanceTransition(true, false);
    controller->endAppearanceTransition();
    EXPECT_TRUE(cv->hasLoadedData());
    EXPECT_EQ(cv->visibleCells().size(), 3u);
}

}  // namespace
