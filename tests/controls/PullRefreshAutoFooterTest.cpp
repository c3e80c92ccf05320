// Automatic load-more footers: the reserved strip, the scroll, drag-end and tap triggers, the
// delayed callback, no-more-data, hiding by item count through the reload hooks, and the state,
// normal and gif variants.

#include <gtest/gtest.h>

#include "PullRefreshTestSupport.h"
#include "controls/PullRefreshAutoGifFooter.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "graphics/UIGraphics.h"
#include "uikit/UITestDriver.h"

using namespace pullrefreshtest;

namespace {

class PullRefreshAutoFooterTest : public PullRefreshFixture {
  protected:
    Ref<PullRefreshAutoNormalFooter> installFooter(std::vector<long> rows = {20}) {
        showTable(std::move(rows));
        footer = PullRefreshAutoNormalFooter::footerWithRefreshingBlock(counter.block());
        UIScrollView_PullRefresh::setFooter(table, footer);
        footer->layoutIfNeeded();
        return footer;
    }
    // Moves the list without triggering anything on the way, then lets the trigger look again.
    void jumpTo(CGFloat offsetY) {
        const bool automatic = footer->isAutomaticallyRefresh();
        footer->setAutomaticallyRefresh(false);
        table->setContentOffset(CGPointMake(0, offsetY));
        footer->setAutomaticallyRefresh(automatic);
    }

    CallbackCounter counter;
    Ref<PullRefreshAutoNormalFooter> footer;
};

Ref<UIImage> frameImage(CGFloat height) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(10, height), false, 1);
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

}  // namespace

TEST_F(PullRefreshAutoFooterTest, ReservesAStripBelowTheContent) {
    installFooter();
    EXPECT_EQ(footer->frame().size.height, 44);
    EXPECT_EQ(footer->frame().origin.y, 880);
    EXPECT_EQ(table->contentInset().bottom, 44);
    EXPECT_EQ(footer->stateLabel()->text(), "点击或上拉加载更多");
    EXPECT_EQ(footer->stateLabel()->frame(), footer->bounds());
    EXPECT_TRUE(footer->isAutomaticallyHidden());
    EXPECT_EQ(UIScrollView_PullRefresh::footer(*table), footer);

    reloadRows({25});
    EXPECT_EQ(footer->frame().origin.y, 1100) << "follows the content size";

    footer->removeFromSuperview();
    EXPECT_EQ(table->contentInset().bottom, 0) << "the strip is given back";
}

TEST_F(PullRefreshAutoFooterTest, ScrollingToTheVeryEndLoadsOnce) {
    installFooter();
    dragTo(table, 323.5);
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);
    dragTo(table, 324);
    EXPECT_EQ(footer->state(), PullRefreshState::Refreshing);
    EXPECT_EQ(footer->stateLabel()->text(), "正在加载更多的数据...");
    EXPECT_TRUE(footer->loadingView()->isAnimating());
    EXPECT_EQ(table->contentInset().bottom, 44) << "the strip is already reserved";
    dragTo(table, 340);
    release(table);
    clock.advance(0.49);
    EXPECT_EQ(counter.calls, 0);
    clock.advance(0.02);
    EXPECT_EQ(counter.calls, 1);
    clock.advance(2);
    EXPECT_EQ(counter.calls, 1);

    footer->endRefreshing();
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);
    EXPECT_FALSE(footer->loadingView()->isAnimating());
}

TEST_F(PullRefreshAutoFooterTest, ScrollingUpThroughTheEndDoesNotLoad) {
    installFooter();
    jumpTo(400);
    table->setContentOffset(CGPointMake(0, 330));
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);
    table->setContentOffset(CGPointMake(0, 330));
    EXPECT_EQ(footer->state(), PullRefreshState::Idle) << "no movement towards the end";
}

TEST_F(PullRefreshAutoFooterTest, TriggerPercentMovesTheThreshold) {
    installFooter();
    footer->setAppearencePercentTriggerAutoRefresh(0.5);
    EXPECT_DOUBLE_EQ(footer->triggerAutomaticallyRefreshPercent(), 0.5);
    table->setContentOffset(CGPointMake(0, 301.5));
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);
    table->setContentOffset(CGPointMake(0, 302));
    EXPECT_EQ(footer->state(), PullRefreshState::Refreshing);
}

TEST_F(PullRefreshAutoFooterTest, NoScrollTriggerWhenSwitchedOffOrAtTheEndOfTheList) {
    installFooter();
    footer->setAutomaticallyRefresh(false);
    table->setContentOffset(CGPointMake(0, 330));
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);
    footer->setAutomaticallyRefresh(true);
    table->setContentOffset(CGPointMake(0, 0));
    footer->endRefreshingWithNoMoreData();
    EXPECT_EQ(footer->stateLabel()->text(), "已经全部加载完毕");
    table->setContentOffset(CGPointMake(0, 330));
    EXPECT_EQ(footer->state(), PullRefreshState::NoMoreData);
    footer->noticeNoMoreData();
    EXPECT_EQ(footer->state(), PullRefreshState::NoMoreData);
    footer->resetNoMoreData();
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);
    EXPECT_EQ(footer->stateLabel()->text(), "点击或上拉加载更多");
}

TEST_F(PullRefreshAutoFooterTest, ShortListLoadsOnlyWhenADragEndsAtRest) {
    installFooter({6});  // 264 points in 600
    table->setContentOffset(CGPointMake(0, 100));
    EXPECT_EQ(footer->state(), PullRefreshState::Idle) << "no scroll trigger without overflow";

    table->setContentOffset(CGPointMake(0, 0));
    table->simulateBeginDragging();
    table->simulateDragTo(CGPointMake(0, -10));
    table->simulateEndDragging();
    EXPECT_EQ(footer->state(), PullRefreshState::Idle) << "ended above the resting position";
    clock.advance(1);

    table->simulateBeginDragging();
    table->simulateDragTo(CGPointMake(0, 0));
    table->simulateEndDragging();
    EXPECT_EQ(footer->state(), PullRefreshState::Refreshing);
}

TEST_F(PullRefreshAutoFooterTest, DragEndingAtTheEndLoadsEvenWithAutomaticRefreshOff) {
    installFooter();
    footer->setAutomaticallyRefresh(false);
    dragTo(table, 330);
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);
    release(table);
    EXPECT_EQ(footer->state(), PullRefreshState::Refreshing);
}

TEST_F(PullRefreshAutoFooterTest, AnEmptyReloadHidesTheFooterAndGivesTheStripBack) {
    installFooter();
    footer->endRefreshingWithNoMoreData();
    reloadRows({0});
    EXPECT_TRUE(footer->isHidden());
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);
    EXPECT_EQ(table->contentInset().bottom, 0);
    table->setContentOffset(CGPointMake(0, 50));
    EXPECT_EQ(footer->state(), PullRefreshState::Idle);

    reloadRows({3, 0, 12});
    EXPECT_FALSE(footer->isHidden());
    EXPECT_EQ(table->contentInset().bottom, 44);
    EXPECT_EQ(footer->frame().origin.y, 660);

    // Hiding twice or showing twice changes the strip once.
    footer->setHidden(false);
    EXPECT_EQ(table->contentInset().bottom, 44);
}

TEST_F(PullRefreshAutoFooterTest, StaysForAnEmptyListWhenNotAutomaticallyHidden) {
    installFooter();
    footer->setAutomaticallyHidden(false);
    reloadRows({0});
    EXPECT_FALSE(footer->isHidden());
    EXPECT_EQ(table->contentInset().bottom, 44);
}

TEST_F(PullRefreshAutoFooterTest, ARemovedFooterNoLongerMovesTheInsets) {
    installFooter();
    UIScrollView_PullRefresh::setFooter(table, nullptr);
    EXPECT_EQ(table->contentInset().bottom, 0);
    EXPECT_EQ(UIScrollView_PullRefresh::footer(*table), nullptr);
    // Its reload block is still installed and still toggles it.
    reloadRows({0});
    EXPECT_TRUE(footer->isHidden());
    reloadRows({5});
    EXPECT_FALSE(footer->isHidden());
    EXPECT_EQ(table->contentInset().bottom, 0);
}

TEST_F(PullRefreshAutoFooterTest, ReplacingTheFooterMovesTheStripToTheNewOne) {
    installFooter();
    auto second = PullRefreshAutoNormalFooter::footerWithRefreshingBlock([] {});
    UIScrollView_PullRefresh::setFooter(table, second);
    EXPECT_EQ(footer->superview(), nullptr);
    EXPECT_EQ(table->contentInset().bottom, 44);
    reloadRows({0});
    EXPECT_TRUE(second->isHidden());
    EXPECT_FALSE(footer->isHidden()) << "the new footer's block replaced the old one";
}

TEST_F(PullRefreshAutoFooterTest, AFooterHiddenWhenInstalledReservesNothingUntilShown) {
    showTable({20});
    footer = PullRefreshAutoNormalFooter::footerWithRefreshingBlock(counter.block());
    footer->setHidden(true);
    UIScrollView_PullRefresh::setFooter(table, footer);
    EXPECT_EQ(table->contentInset().bottom, 0);
    footer->setHidden(false);
    EXPECT_EQ(table->contentInset().bottom, 44);
    EXPECT_EQ(footer->frame().origin.y, 880);
}

TEST_F(PullRefreshAutoFooterTest, TappingTheTextLoadsExceptAtTheEnd) {
    installFooter({6});
    testsupport::drainMainRunLoop();
    footer->endRefreshingWithNoMoreData();
    UITestDriver::tap(footer->stateLabel());
    EXPECT_EQ(footer->state(), PullRefreshState::NoMoreData);
    footer->resetNoMoreData();
    UITestDriver::tap(footer->stateLabel());
    EXPECT_EQ(footer->state(), PullRefreshState::Refreshing);
    clock.advance(0.6);
    EXPECT_EQ(counter.calls, 1);
}

TEST_F(PullRefreshAutoFooterTest, IndicatorPlaceDependsOnTheLoadingTitleOnly) {
    installFooter();
    EXPECT_EQ(footer->loadingView()->center(), CGPointMake(60, 22));
    footer->stateLabel()->setHidden(true);
    footer->setNeedsLayout();
    footer->layoutIfNeeded();
    EXPECT_EQ(footer->loadingView()->center(), CGPointMake(60, 22));

    footer->setRefreshingTitleHidden(true);
    footer->setNeedsLayout();
    footer->layoutIfNeeded();
    EXPECT_EQ(footer->loadingView()->center(), CGPointMake(160, 22));
    footer->beginRefreshing();
    EXPECT_FALSE(footer->stateLabel()->text().has_value());
}

TEST_F(PullRefreshAutoFooterTest, OffscreenBeginWaitsForTheDraw) {
    offscreenTable({20});
    footer = PullRefreshAutoNormalFooter::footerWithRefreshingBlock(counter.block());
    UIScrollView_PullRefresh::setFooter(table, footer);
    footer->beginRefreshing();
    EXPECT_EQ(footer->state(), PullRefreshState::WillRefresh);
    EXPECT_FALSE(footer->stateLabel()->text().has_value());
    clock.advance(1);
    EXPECT_EQ(counter.calls, 0);
    window = make<UIWindow>(CGRectMake(0, 0, 320, 600));
    window->makeKeyAndVisible();
    window->addSubview(table);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(footer->state(), PullRefreshState::Refreshing);
    clock.advance(0.6);
    EXPECT_EQ(counter.calls, 1);
}

TEST_F(PullRefreshAutoFooterTest, CollectionViewReloadsHideAndShowToo) {
    showCollection({12});
    footer = PullRefreshAutoNormalFooter::footerWithRefreshingBlock(counter.block());
    UIScrollView_PullRefresh::setFooter(collection, footer);
    EXPECT_EQ(footer->frame().origin.y, 1200);
    EXPECT_EQ(collection->contentInset().bottom, 44);
    itemsSource->items = {0, 0};
    collection->reloadData();
    EXPECT_TRUE(footer->isHidden());
    EXPECT_EQ(collection->contentInset().bottom, 0);
    itemsSource->items = {2, 1};
    collection->reloadData();
    EXPECT_FALSE(footer->isHidden());
    EXPECT_EQ(UIScrollView_PullRefresh::totalDataCount(*collection), 3);
}

TEST_F(PullRefreshAutoFooterTest, GifFooterPlaysOnlyWhileLoading) {
    showTable({20});
    auto gif = PullRefreshAutoGifFooter::footerWithRefreshingBlock(counter.block());
    UIScrollView_PullRefresh::setFooter(table, gif);
    gif->layoutIfNeeded();
    EXPECT_TRUE(gif->gifView()->isHidden());
    EXPECT_EQ(gif->gifView()->contentMode(), UIViewContentModeRight);
    EXPECT_EQ(gif->gifView()->frame().size.width, 70);
    std::vector<Ref<UIImage>> frames = {frameImage(30), frameImage(50), frameImage(30)};
    gif->setImages(frames, PullRefreshState::Refreshing);
    EXPECT_EQ(gif->frame().size.height, 44) << "a first frame of 30 points does not grow it";
    gif->setImages(std::vector<Ref<UIImage>>{frameImage(50)}, PullRefreshState::Idle);
    EXPECT_EQ(gif->frame().size.height, 50);

    gif->beginRefreshing();
    EXPECT_FALSE(gif->gifView()->isHidden());
    EXPECT_TRUE(gif->gifView()->isAnimating());
    EXPECT_NEAR(gif->gifView()->animationDuration(), 0.3, 1e-9);
    gif->endRefreshingWithNoMoreData();
    EXPECT_TRUE(gif->gifView()->isHidden());
    EXPECT_FALSE(gif->gifView()->isAnimating());

    gif->setRefreshingTitleHidden(true);
    gif->setNeedsLayout();
    gif->layoutIfNeeded();
    EXPECT_EQ(gif->gifView()->contentMode(), UIViewContentModeCenter);
}

TEST_F(PullRefreshAutoFooterTest, GifFooterWithoutLoadingImagesChangesNothing) {
    showTable({20});
    auto gif = PullRefreshAutoGifFooter::footerWithRefreshingBlock(counter.block());
    UIScrollView_PullRefresh::setFooter(table, gif);
    gif->setImages(std::nullopt, 1.0, PullRefreshState::Refreshing);
    gif->beginRefreshing();
    EXPECT_TRUE(gif->gifView()->isHidden());
    EXPECT_FALSE(gif->gifView()->isAnimating());
}

TEST_F(PullRefreshAutoFooterTest, FooterInAViewThatIsNoScrollViewInstallsNothing) {
    auto plain = make<UIView>(CGRectMake(0, 0, 320, 600));
    auto loose = PullRefreshAutoNormalFooter::footerWithRefreshingBlock(counter.block());
    plain->addSubview(loose);
    EXPECT_EQ(loose->scrollView(), nullptr);
    loose->setHidden(true);
    loose->setHidden(false);
    loose->beginRefreshing();
    EXPECT_EQ(loose->state(), PullRefreshState::WillRefresh);
}
