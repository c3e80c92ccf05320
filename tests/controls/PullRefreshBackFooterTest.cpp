// Pull-up footers: placement below the content or at the bottom of the view, pull tracking, the
// bottom inset borrowed while loading and given back exactly, no-more-data, the collection-view
// delay, and the state, normal and gif variants.

#include <gtest/gtest.h>

#include <cmath>

#include "PullRefreshTestSupport.h"
#include "controls/PullRefreshBackGifFooter.h"
#include "controls/PullRefreshBackNormalFooter.h"
#include "foundation/NSKeyValueObserving.h"
#include "graphics/NSValue+Geometry.h"
#include "graphics/UIGraphics.h"

using namespace pullrefreshtest;

namespace {

constexpr double kFrame = 1.0 / 60;

bool isTurned(const Ref<UIView>& view) {
    return std::fabs(view->transform().a + 1) < 1e-3;
}
bool isUnturned(const Ref<UIView>& view) {
    return std::fabs(view->transform().a - 1) < 1e-9;
}

Ref<UIImage> frameImage() {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(10, 10), false, 1);
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

class PullRefreshBackFooterTest : public PullRefreshFixture {
  protected:
    Ref<PullRefreshBackNormalFooter> installFooter(std::vector<long> rows = {20}, CGFloat rowHeight = 44) {
        showTable({0});
        table->setRowHeight(rowHeight);
        reloadRows(std::move(rows));
        footer = PullRefreshBackNormalFooter::footerWithRefreshingBlock(counter.block());
        UIScrollView_PullRefresh::setFooter(table, footer);
        footer->layoutIfNeeded();
        return footer;
    }
    void pullAndRelease(CGFloat offsetY) {
        dragTo(table, offsetY);
        release(table);
        clock.advance(kFrame);
    }

    CallbackCounter counter;
    Ref<PullRefreshBackNormalFooter> footer;
};

}  // namespace

TEST_F(PullRefreshBackFooterTest, WaitsBelowOverflowingContentWithoutReservingSpace) {
    installFooter();
    EXPECT_EQ(footer->heightForContentBreakView(), 280);
    EXPECT_EQ(footer->happenOffsetY(), 280);
    EXPECT_EQ(footer->frame().origin.y, 880);
    EXPECT_EQ(table->contentInset().bottom, 0);
    EXPECT_EQ(footer->stateLabel()->text(), "上拉可以加载更多");
}

TEST_F(PullRefreshBackFooterTest, PullingPastItsHeightArmsAndLettingGoLoads) {
    installFooter();
    dragTo(table, 324);
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);
    EXPECT_DOUBLE_EQ(footer->pullingPercent(), 1.0);
    dragTo(table, 324.5);
    EXPECT_EQ(footer->state(), PullRefreshState::Pulling);
    EXPECT_EQ(footer->stateLabel()->text(), "松开立即加载更多");
    dragTo(table, 300);
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);
    EXPECT_NEAR(footer->pullingPercent(), 20.0 / 44, 1e-9);
    pullAndRelease(330);
    EXPECT_EQ(footer->state(), PullRefreshState::Refreshing);
    EXPECT_EQ(table->contentInset().bottom, 44);
    EXPECT_EQ(footer->lastBottomDelta(), 44);
    EXPECT_EQ(footer->lastRefreshCount(), 20);
    EXPECT_EQ(table->contentOffset().y, 324);
    EXPECT_EQ(footer->stateLabel()->text(), "正在加载更多的数据...");
    EXPECT_EQ(counter.calls, 0);
    clock.advance(0.26);
    EXPECT_EQ(counter.calls, 1);

    footer->endRefreshing();
    EXPECT_EQ(table->contentInset().bottom, 0);
    EXPECT_EQ(table->contentOffset().y, 280) << "springs back into the range";
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);
    clock.advance(0.41);
    EXPECT_DOUBLE_EQ(footer->pullingPercent(), 0);
}

TEST_F(PullRefreshBackFooterTest, ShortContentFillsTheEmptySpaceWhileLoading) {
    installFooter({6}, 50);  // 300 points in 600
    EXPECT_EQ(footer->heightForContentBreakView(), -300);
    EXPECT_EQ(footer->happenOffsetY(), 0);
    EXPECT_EQ(footer->frame().origin.y, 600);
    dragTo(table, 44);
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);
    pullAndRelease(44.5);
    EXPECT_EQ(footer->state(), PullRefreshState::Refreshing);
    EXPECT_EQ(table->contentInset().bottom, 344);
    EXPECT_EQ(table->contentOffset().y, 44);
    footer->endRefreshing();
    EXPECT_EQ(table->contentInset().bottom, 0);
}

TEST_F(PullRefreshBackFooterTest, EndingAfterNewRowsAnnouncesTheOffsetAgain) {
    installFooter();
    pullAndRelease(330);
    reloadRows({30});
    std::vector<std::pair<CGFloat, CGFloat>> announced;
    auto token = KVO::observe(
        *table, "contentOffset", NSKeyValueObservingOptionNew | NSKeyValueObservingOptionOld,
        [&](const Ref<NSObject>&, const Dictionary& change) {
            announced.push_back({NSValue_Geometry::CGPointValue(change["old"].objectAs<NSValue>()).y,
                                 NSValue_Geometry::CGPointValue(change["new"].objectAs<NSValue>()).y});
        });
    footer->endRefreshing();
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0], std::make_pair(CGFloat(324), CGFloat(324)));
    EXPECT_EQ(footer->frame().origin.y, 1320);
}

TEST_F(PullRefreshBackFooterTest, EndingWithTheSameRowsDoesNotAnnounceInPlace) {
    installFooter();
    pullAndRelease(330);
    std::vector<std::pair<CGFloat, CGFloat>> announced;
    auto token = KVO::observe(
        *table, "contentOffset", NSKeyValueObservingOptionNew | NSKeyValueObservingOptionOld,
        [&](const Ref<NSObject>&, const Dictionary& change) {
            announced.push_back({NSValue_Geometry::CGPointValue(change["old"].objectAs<NSValue>()).y,
                                 NSValue_Geometry::CGPointValue(change["new"].objectAs<NSValue>()).y});
        });
    footer->endRefreshing();
    for (const auto& [from, to] : announced) EXPECT_NE(from, to);
}

TEST_F(PullRefreshBackFooterTest, AtTheEndOfTheListPullingOnlyMovesThePercent) {
    installFooter();
    footer->endRefreshingWithNoMoreData();
    EXPECT_EQ(footer->stateLabel()->text(), "已经全部加载完毕");
    EXPECT_TRUE(footer->arrowView()->isHidden());
    pullAndRelease(400);
    EXPECT_EQ(footer->state(), PullRefreshState::NoMoreData);
    EXPECT_EQ(table->contentInset().bottom, 0);
    clock.advance(1);
    EXPECT_EQ(counter.calls, 0);
    dragTo(table, 302);
    EXPECT_NEAR(footer->pullingPercent(), 0.5, 1e-9);
    footer->resetNoMoreData();
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);
}

TEST_F(PullRefreshBackFooterTest, LoadingThatEndsInNoMoreDataGivesTheInsetBack) {
    installFooter();
    pullAndRelease(330);
    footer->endRefreshingWithNoMoreData();
    EXPECT_EQ(table->contentInset().bottom, 0);
    EXPECT_EQ(footer->state(), PullRefreshState::NoMoreData);
    clock.advance(0.5);
    EXPECT_FALSE(footer->loadingView()->isAnimating());
    EXPECT_TRUE(footer->arrowView()->isHidden()) << "the fade's end does not bring the arrow back at the end";
}

TEST_F(PullRefreshBackFooterTest, IgnoredBottomInsetLowersTheFooter) {
    showTable({20});
    footer = PullRefreshBackNormalFooter::footerWithRefreshingBlock(counter.block());
    footer->setIgnoredScrollViewContentInsetBottom(20);
    UIScrollView_PullRefresh::setFooter(table, footer);
    EXPECT_EQ(footer->frame().origin.y, 900);
}

TEST_F(PullRefreshBackFooterTest, ArrowPointsUpAtRestAndDownWhenArmed) {
    installFooter();
    auto arrow = footer->arrowView();
    auto loading = footer->loadingView();
    EXPECT_TRUE(isTurned(arrow));
    EXPECT_EQ(arrow->center(), CGPointMake(60, 22));
    dragTo(table, 330);
    EXPECT_TRUE(isUnturned(arrow));
    dragTo(table, 300);
    EXPECT_TRUE(isTurned(arrow));
    pullAndRelease(330);
    EXPECT_TRUE(arrow->isHidden());
    EXPECT_TRUE(loading->isAnimating());
    footer->endRefreshing();
    EXPECT_TRUE(isTurned(arrow));
    EXPECT_DOUBLE_EQ(loading->alpha(), 0);
    clock.advance(0.41);
    EXPECT_DOUBLE_EQ(loading->alpha(), 1);
    EXPECT_FALSE(loading->isAnimating());
    EXPECT_FALSE(arrow->isHidden());

    footer->stateLabel()->setHidden(true);
    footer->setNeedsLayout();
    footer->layoutIfNeeded();
    EXPECT_EQ(arrow->center(), CGPointMake(160, 22));
}

TEST_F(PullRefreshBackFooterTest, CollectionViewsEndATenthOfASecondLater) {
    showCollection({12});
    auto back = PullRefreshBackNormalFooter::footerWithRefreshingBlock(counter.block());
    UIScrollView_PullRefresh::setFooter(collection, back);
    back->beginRefreshing();
    clock.advance(0.3);
    EXPECT_EQ(counter.calls, 1);
    EXPECT_EQ(collection->contentInset().bottom, 44);
    back->endRefreshing();
    EXPECT_EQ(back->state(), PullRefreshState::Refreshing);
    clock.advance(0.11);
    EXPECT_EQ(back->state(), PullRefreshState::Idle);
    EXPECT_EQ(collection->contentInset().bottom, 0);

    back->noticeNoMoreData();
    EXPECT_EQ(back->state(), PullRefreshState::Idle);
    clock.advance(0.11);
    EXPECT_EQ(back->state(), PullRefreshState::NoMoreData);
    back->resetNoMoreData();
    back->endRefreshingWithNoMoreData();
    EXPECT_EQ(back->state(), PullRefreshState::NoMoreData) << "not delayed";
}

TEST_F(PullRefreshBackFooterTest, NoticeOnATableIsImmediate) {
    installFooter();
    footer->noticeNoMoreData();
    EXPECT_EQ(footer->state(), PullRefreshState::NoMoreData);
}

TEST_F(PullRefreshBackFooterTest, GifFooterFollowsThePullAndPlaysWhileArmedAndLoading) {
    showTable({20});
    auto gif = PullRefreshBackGifFooter::footerWithRefreshingBlock(counter.block());
    UIScrollView_PullRefresh::setFooter(table, gif);
    std::vector<Ref<UIImage>> idle;
    for (int i = 0; i < 4; ++i) idle.push_back(frameImage());
    gif->setImages(idle, PullRefreshState::Idle);
    gif->setImages(std::vector<Ref<UIImage>>{frameImage(), frameImage()}, 0.6, PullRefreshState::Pulling);
    gif->setImages(std::vector<Ref<UIImage>>{frameImage()}, PullRefreshState::Refreshing);
    EXPECT_NEAR(gif->stateDurations()[PullRefreshState::Refreshing], 0.1, 1e-9);

    dragTo(table, 302);
    EXPECT_EQ(gif->gifView()->image(), idle[2]);
    dragTo(table, 330);
    EXPECT_TRUE(gif->gifView()->isAnimating());
    EXPECT_NEAR(gif->gifView()->animationDuration(), 0.6, 1e-9);
    release(table);
    clock.advance(kFrame);
    EXPECT_EQ(gif->state(), PullRefreshState::Refreshing);
    EXPECT_FALSE(gif->gifView()->isAnimating());
    EXPECT_EQ(gif->gifView()->image(), gif->stateImages()[PullRefreshState::Refreshing][0]);
    gif->endRefreshingWithNoMoreData();
    EXPECT_TRUE(gif->gifView()->isHidden());
    gif->resetNoMoreData();
    EXPECT_FALSE(gif->gifView()->isHidden());

    gif->layoutIfNeeded();
    EXPECT_EQ(gif->gifView()->contentMode(), UIViewContentModeRight);
    gif->stateLabel()->setHidden(true);
    gif->setNeedsLayout();
    gif->layoutIfNeeded();
    EXPECT_EQ(gif->gifView()->contentMode(), UIViewContentModeCenter);
}
