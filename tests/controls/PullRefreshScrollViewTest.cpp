// The scroll-view side of the refresh controls: the header and footer slots with their
// announcements, the item count, the reload-data block and its place among the reload hooks, the
// frame, inset, offset and size shorthands, and the label factory.

#include <gtest/gtest.h>

#include "PullRefreshTestSupport.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UICollectionView+PullRefresh.h"
#include "controls/UILabel+PullRefresh.h"
#include "controls/UIScrollView+RMExtension.h"
#include "controls/UITableView+PullRefresh.h"
#include "controls/UIView+RMExtension.h"
#include "foundation/NSKeyValueObserving.h"

using namespace pullrefreshtest;
using namespace UIScrollView_PullRefresh;

namespace {

class PullRefreshScrollViewTest : public PullRefreshFixture {
  protected:
    int announcements(const Ref<UIScrollView>& scroll, const std::string& key,
                      const std::function<void()>& action) {
        int count = 0;
        auto token = KVO::observe(*scroll, key, NSKeyValueObservingOptionNew,
                                  [&](const Ref<NSObject>&, const Dictionary&) { ++count; });
        action();
        return count;
    }
};

}  // namespace

TEST_F(PullRefreshScrollViewTest, SettingTheSameHeaderTwiceChangesNothing) {
    showTable({20});
    auto header = PullRefreshNormalHeader::headerWithRefreshingBlock([] {});
    EXPECT_EQ(announcements(table, "header", [&] { setHeader(table, header); }), 1);
    const auto subviews = table->subviews();
    EXPECT_EQ(announcements(table, "header", [&] { setHeader(table, header); }), 0);
    EXPECT_EQ(table->subviews(), subviews);
    EXPECT_EQ(UIScrollView_PullRefresh::header(*table), header);
}

TEST_F(PullRefreshScrollViewTest, ReplacingTheHeaderDetachesTheOldOne) {
    showTable({20});
    auto first = PullRefreshNormalHeader::headerWithRefreshingBlock([] {});
    auto second = PullRefreshNormalHeader::headerWithRefreshingBlock([] {});
    setHeader(table, first);
    setHeader(table, second);
    EXPECT_EQ(first->superview(), nullptr);
    EXPECT_EQ(second->superview(), table);
    dragTo(table, -80);
    EXPECT_EQ(first->state(), PullRefreshState::Idle);
    EXPECT_EQ(second->state(), PullRefreshState::Pulling);

    EXPECT_EQ(announcements(table, "header", [&] { setHeader(table, nullptr); }), 1);
    EXPECT_EQ(second->superview(), nullptr);
    EXPECT_EQ(UIScrollView_PullRefresh::header(*table), nullptr);
}

TEST_F(PullRefreshScrollViewTest, SlotsDoNotKeepTheirControlsAlive) {
    showTable({20});
    Weak<PullRefreshHeader> weak;
    {
        auto header = PullRefreshNormalHeader::headerWithRefreshingBlock([] {});
        setHeader(table, header);
        weak = header;
    }
    EXPECT_TRUE(weak.lock()) << "the scroll view's subview list keeps it";
    weak.lock()->removeFromSuperview();
    EXPECT_FALSE(weak.lock());
    EXPECT_EQ(UIScrollView_PullRefresh::header(*table), nullptr);
}

TEST_F(PullRefreshScrollViewTest, FooterAndBlockAreAnnounced) {
    showTable({20});
    auto footer = PullRefreshAutoNormalFooter::footerWithRefreshingBlock([] {});
    int blockAnnouncements = 0;
    auto token = KVO::observe(*table, "reloadDataBlock", NSKeyValueObservingOptionNew,
                              [&](const Ref<NSObject>&, const Dictionary&) { ++blockAnnouncements; });
    EXPECT_EQ(announcements(table, "footer", [&] { setFooter(table, footer); }), 1);
    EXPECT_EQ(blockAnnouncements, 1) << "the footer installs its block when it enters";
    EXPECT_TRUE(reloadDataBlock(*table));
    setReloadDataBlock(*table, nullptr);
    EXPECT_FALSE(reloadDataBlock(*table));
    EXPECT_EQ(blockAnnouncements, 2);
}

TEST_F(PullRefreshScrollViewTest, TotalDataCountPerKindOfScrollView) {
    offscreenTable({3, 0, 2});
    EXPECT_EQ(totalDataCount(*table), 5);
    offscreenTable({});
    EXPECT_EQ(totalDataCount(*table), 0);
    auto plain = make<UIScrollView>(CGRectMake(0, 0, 10, 10));
    EXPECT_EQ(totalDataCount(*plain), 0);
    showCollection({4, 0, 7});
    EXPECT_EQ(totalDataCount(*collection), 11);
}

TEST_F(PullRefreshScrollViewTest, ReloadReportsTheNewCountAfterThePlatformReload) {
    showTable({2});
    std::vector<long> reported;
    std::vector<CGFloat> heightsSeen;
    setReloadDataBlock(*table, [&](long count) {
        reported.push_back(count);
        heightsSeen.push_back(table->contentSize().height);
    });
    reloadRows({3, 4});
    EXPECT_EQ(reported, std::vector<long>{7});
    EXPECT_EQ(heightsSeen, std::vector<CGFloat>{308}) << "the block sees the reloaded table";

    setReloadDataBlock(*table, nullptr);
    reloadRows({1});
    EXPECT_EQ(reported.size(), 1u);
    EXPECT_EQ(table->numberOfRowsInSection(0), 1) << "without a block the reload still happens";

    showCollection({5});
    setReloadDataBlock(*collection, [&](long count) { reported.push_back(count); });
    itemsSource->items = {1, 1};
    collection->reloadData();
    EXPECT_EQ(reported.back(), 2);
    UICollectionView_PullRefresh::pr_reloadData(*collection);
    EXPECT_EQ(reported.size(), 3u);
}

TEST_F(PullRefreshScrollViewTest, TheRowHeightCacheWrapsTheRefreshStep) {
    showTable({2});
    std::vector<std::string> order;
    setReloadDataBlock(*table, [&](long) { order.push_back("refresh block"); });
    auto before = UITableView::addReloadDataHook(UITableView::ReloadStage::Before,
                                                 UITableView::kReloadHookOrderHeightCache,
                                                 [&](UITableView&) { order.push_back("invalidate"); });
    auto after = UITableView::addReloadDataHook(UITableView::ReloadStage::After,
                                                UITableView::kReloadHookOrderHeightCache,
                                                [&](UITableView&) { order.push_back("precompute"); });
    table->reloadData();
    UITableView::removeReloadDataHook(before);
    UITableView::removeReloadDataHook(after);
    EXPECT_EQ(order, (std::vector<std::string>{"invalidate", "refresh block", "precompute"}));

    order.clear();
    UITableView_PullRefresh::pr_reloadData(*table);
    EXPECT_EQ(order, std::vector<std::string>{"refresh block"});
    UITableView_PullRefresh::load();  // again: still one step per reload
    order.clear();
    table->reloadData();
    EXPECT_EQ(order, std::vector<std::string>{"refresh block"});
}

TEST_F(PullRefreshScrollViewTest, ABlockMayReplaceItselfWhileRunning) {
    showTable({2});
    int secondRuns = 0;
    setReloadDataBlock(*table, [&](long) { setReloadDataBlock(*table, [&](long) { ++secondRuns; }); });
    table->reloadData();
    EXPECT_EQ(secondRuns, 0);
    table->reloadData();
    EXPECT_EQ(secondRuns, 1);
}

TEST_F(PullRefreshScrollViewTest, FrameShorthandsChangeOneField) {
    using namespace UIView_RMExtension;
    auto view = make<UIView>(CGRectMake(1, 2, 3, 4));
    EXPECT_EQ(pr_x(*view), 1);
    EXPECT_EQ(pr_y(*view), 2);
    EXPECT_EQ(pr_w(*view), 3);
    EXPECT_EQ(pr_h(*view), 4);
    setPr_x(*view, 10);
    setPr_y(*view, 20);
    setPr_w(*view, 30);
    setPr_h(*view, 40);
    EXPECT_EQ(view->frame(), CGRectMake(10, 20, 30, 40));
    setPr_size(*view, CGSizeMake(5, 6));
    setPr_origin(*view, CGPointMake(7, 8));
    EXPECT_EQ(view->frame(), CGRectMake(7, 8, 5, 6));
    EXPECT_EQ(pr_size(*view), CGSizeMake(5, 6));
    EXPECT_EQ(pr_origin(*view), CGPointMake(7, 8));
}

TEST_F(PullRefreshScrollViewTest, ScrollShorthandsChangeOneFieldAndAnnounce) {
    using namespace UIScrollView_RMExtension;
    auto scroll = make<UIScrollView>(CGRectMake(0, 0, 100, 100));
    setPr_insetT(*scroll, 1);
    setPr_insetL(*scroll, 2);
    setPr_insetB(*scroll, 3);
    setPr_insetR(*scroll, 4);
    EXPECT_EQ(scroll->contentInset(), UIEdgeInsetsMake(1, 2, 3, 4));
    EXPECT_EQ(pr_insetT(*scroll) + pr_insetL(*scroll) + pr_insetB(*scroll) + pr_insetR(*scroll), 10);
    setPr_contentW(*scroll, 50);
    setPr_contentH(*scroll, 60);
    EXPECT_EQ(scroll->contentSize(), CGSizeMake(50, 60));
    EXPECT_EQ(pr_contentW(*scroll), 50);
    EXPECT_EQ(pr_contentH(*scroll), 60);
    EXPECT_EQ(announcements(scroll, "contentOffset",
                            [&] {
                                setPr_offsetX(*scroll, 5);
                                setPr_offsetY(*scroll, 6);
                                setPr_offsetY(*scroll, 6);
                            }),
              3);
    EXPECT_EQ(scroll->contentOffset(), CGPointMake(5, 6));
    EXPECT_EQ(pr_offsetX(*scroll), 5);
    EXPECT_EQ(pr_offsetY(*scroll), 6);
}

TEST_F(PullRefreshScrollViewTest, LabelFactoryStyle) {
    auto label = UILabel_PullRefresh::label();
    EXPECT_EQ(label->font()->pointSize(), 14);
    EXPECT_TRUE(label->font()->isEqual(*UIFont::boldSystemFontOfSize(14)));
    CGFloat r, g, b, a;
    label->textColor()->getRed(&r, &g, &b, &a);
    EXPECT_NEAR(r, 90 / 255.0, 1e-9);
    EXPECT_NEAR(g, 90 / 255.0, 1e-9);
    EXPECT_NEAR(b, 90 / 255.0, 1e-9);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(label->textAlignment(), NSTextAlignmentCenter);
    EXPECT_EQ(label->autoresizingMask(), UIViewAutoresizingFlexibleWidth);
    EXPECT_NE(UILabel_PullRefresh::label(), label);
}
