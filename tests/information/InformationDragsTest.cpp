// A finger dragging across the information tab: the pager of the two news pages takes sideways
// drags that start on a page's list (to the brand page, and past it, which sends the home screen
// on to the next tab), the lists never take them (no load-more of their own), and an up or down
// drag that starts on a list's carousel moves the list.

#include <gtest/gtest.h>

#include "tests/information/NewsScreensTestSupport.h"
#include "uikit/UIPanGestureRecognizer.h"

using namespace infotest;

namespace {

constexpr char kList[] = "news/getnewslist.do";

class InformationDragsTest : public InformationTabTest {
  protected:
    // A finger drawn across the view by (dx, dy) from the point, then the pager and lists settle.
    void dragAcross(const Ref<UIView>& view, CGPoint from, CGFloat dx, CGFloat dy) {
        UITestDriver::drag(view, from, CGPointMake(from.x + dx, from.y + dy), 12);
        settle(1.0);
    }
    // The middle of the list's rows, clear of its header.
    CGPoint rowsPoint(const Ref<NewsListViewController>& list) {
        auto table = list->tableView();
        CGRect b = table->bounds();
        return CGPointMake(CGRectGetMidX(b), b.origin.y + b.size.height * 0.75);
    }
};

TEST_F(InformationDragsTest, SidewaysDragsOverTheListsTurnThePagerAndLeadToTheNextTab) {
    auto tab = showTab();
    ASSERT_TRUE(tab);
    auto pager = tab->mainScrollView.lock();
    const CGFloat W = pager->bounds().size.width;
    auto car = tab->newsList(0);
    auto carTable = car->tableView();
    const CGPoint carOffset = carTable->contentOffset();

    // Right to left over the car page's rows: the brand page comes in.
    dragAcross(carTable, rowsPoint(car), -0.7 * W, 0);
    EXPECT_DOUBLE_EQ(pager->contentOffset().x, W);
    EXPECT_EQ(carTable->contentOffset(), carOffset);
    auto brand = tab->newsList(1);
    ASSERT_TRUE(brand->isViewLoaded());
    EXPECT_EQ(brand->view()->superview(), pager);
    ASSERT_TRUE(waitAdvancing([&] { return !newsIds(brand).empty(); }));
    settleNetwork();
    EXPECT_TRUE(tab->informationRedLine.lock()->isHidden());
    EXPECT_EQ(delegate->calls, 0);

    // On the brand page's short list, a drag 0.3 of a page further (past 1.2 pages): the home
    // screen is told to move on, and the list asks for no more news of its own.
    server.clearRequests();
    dragAcross(brand->tableView(), rowsPoint(brand), -0.3 * W - UIPanGestureRecognizer::kMovementThreshold,
               0);
    EXPECT_GE(delegate->calls, 1);
    settleNetwork();
    for (const auto& request : server.requestsTo(kList)) {
        EXPECT_NE(request.queryParam("news_category"), std::optional<std::string>("2"))
            << "the brand list loaded more on a sideways drag";
    }
    EXPECT_DOUBLE_EQ(pager->contentOffset().x, W);

    // Left to right: back to the car page.
    dragAcross(brand->tableView(), rowsPoint(brand), 0.7 * W, 0);
    EXPECT_DOUBLE_EQ(pager->contentOffset().x, 0);
    EXPECT_FALSE(tab->informationRedLine.lock()->isHidden());
}

TEST_F(InformationDragsTest, AMostlySidewaysDiagonalDragIsThePagersAndAMostlyUpOneTheLists) {
    auto tab = showTab();
    ASSERT_TRUE(tab);
    auto pager = tab->mainScrollView.lock();
    const CGFloat W = pager->bounds().size.width;
    auto car = tab->newsList(0);
    auto table = car->tableView();
    const CGFloat top = table->contentOffset().y;

    dragAcross(table, rowsPoint(car), 40, -120);
    EXPECT_DOUBLE_EQ(pager->contentOffset().x, 0);
    EXPECT_GT(table->contentOffset().y, top + 60);
    EXPECT_EQ(table->contentOffset().x, 0);

    table->setContentOffset(CGPointMake(0, top));
    dragAcross(table, rowsPoint(car), -0.7 * W, 60);
    EXPECT_DOUBLE_EQ(pager->contentOffset().x, W);
    EXPECT_DOUBLE_EQ(table->contentOffset().y, top);
}

TEST_F(InformationDragsTest, UpAndDownDragsStartingOnTheCarouselMoveTheList) {
    auto tab = showTab();
    ASSERT_TRUE(tab);
    auto car = tab->newsList(0);
    ASSERT_TRUE(waitAdvancing([&] { return !car->advertisements().empty(); }));
    settleNetwork();
    auto table = car->tableView();
    auto carousel = car->scrollView.lock();
    ASSERT_TRUE(carousel);
    const CGFloat top = table->contentOffset().y;
    const CGPoint carouselOffset = carousel->contentOffset();
    // A point of the carousel at that height: its bounds move as it turns on its timer.
    auto onCarousel = [&](CGFloat fraction) {
        CGRect b = carousel->bounds();
        return CGPointMake(CGRectGetMidX(b), b.origin.y + b.size.height * fraction);
    };

    // Up: the list scrolls; the carousel does not move up or down.
    dragAcross(carousel, onCarousel(0.9), 0, -100);
    EXPECT_GT(table->contentOffset().y, top + 50);
    EXPECT_EQ(carousel->contentOffset().y, carouselOffset.y);
    table->setContentOffset(CGPointMake(0, top));
    settle(0.5);

    // Down far enough: the list's pull-to-refresh loads the first page again.
    server.clearRequests();
    dragAcross(carousel, onCarousel(0.25), 0, 160);
    ASSERT_TRUE(waitForRequests(kList, 1));
    EXPECT_EQ(server.requestsTo(kList).front().queryParam("news_id"), std::optional<std::string>("0"));
}

}  // namespace
