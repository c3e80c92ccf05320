// The information tab against the stand-in server: its two pages, the title buttons, the pager's
// callbacks (the delegate past 1.2 widths, the selected button, the brand page arriving only
// once the pager rests on it) and the carousels' timers following the tab on and off screen.

#include <gtest/gtest.h>

#include "app/UIColor+Extensions.h"
#include "tests/information/NewsScreensTestSupport.h"
#include "tests/support/GoldenImage.h"
#include "uikit/UIWindowRenderer.h"

using namespace infotest;

namespace {

constexpr char kList[] = "news/getnewslist.do";

class InformationRootViewControllerTest : public InformationTabTest {
  protected:
    // The accent a title on white is written in: its deeper shade, which reads there.
    bool isRed(const Weak<UIButton>& button) {
        auto colour = button.lock()->titleColorForState(UIControlStateNormal);
        return colour && colour->isEqual(*UIColor_Extensions::QVNDeepAccentColor());
    }
    bool isBlack(const Weak<UIButton>& button) {
        auto colour = button.lock()->titleColorForState(UIControlStateNormal);
        return colour && colour->isEqual(*UIColor_Extensions::QVNBlackColor());
    }
};

TEST_F(InformationRootViewControllerTest, BuildsTwoPagesAndShowsOnlyTheCarPage) {
    auto tab = showTab();
    ASSERT_TRUE(tab);
    ASSERT_EQ(tab->childViewControllers().size(), 2u);
    auto car = tab->newsList(0);
    auto brand = tab->newsList(1);
    ASSERT_TRUE(car && brand);
    EXPECT_EQ(car->category(), 1);
    EXPECT_EQ(brand->category(), 2);
    auto pager = tab->mainScrollView.lock();
    EXPECT_EQ(car->view()->superview(), pager);
    EXPECT_TRUE(CGRectEqualToRect(car->view()->frame(), pager->bounds()));
    EXPECT_FALSE(brand->isViewLoaded());
    EXPECT_DOUBLE_EQ(pager->contentSize().width, 2 * UIScreen::mainScreen()->bounds().size.width);
    EXPECT_DOUBLE_EQ(pager->contentSize().height, 0);
    EXPECT_TRUE(pager->isPagingEnabled());
    EXPECT_FALSE(pager->showsHorizontalScrollIndicator());
    EXPECT_EQ(pager->delegate().get(), static_cast<UIScrollViewDelegate*>(tab.get()));
    ASSERT_EQ(tab->buttons().size(), 2u);
    EXPECT_EQ(tab->buttons()[0], tab->carInfoButton.lock());
    EXPECT_EQ(tab->selectedButton(), tab->carInfoButton.lock());
    EXPECT_FALSE(tab->informationRedLine.lock()->isHidden());
    EXPECT_TRUE(tab->brandRedLine.lock()->isHidden());
    EXPECT_TRUE(isRed(tab->carInfoButton));
    EXPECT_TRUE(isBlack(tab->brandInfoButton));
    EXPECT_EQ(tab->delegate(), delegate);
    // Only the car page asked for news.
    for (const auto& request : server.requestsTo(kList)) EXPECT_EQ(request.queryParam("news_category"), "1");
}

TEST_F(InformationRootViewControllerTest, TheCarButtonReloadsTheCarPageEvenWhenItShows) {
    auto tab = showTab();
    ASSERT_TRUE(tab);
    auto car = tab->newsList(0);
    // A filter picked on the car page is dropped by the reload.
    car->textField.lock()->setText(std::string("轮毂"));
    server.clearRequests();
    UITestDriver::tap(tab->carInfoButton.lock());
    ASSERT_TRUE(waitForRequests(kList, 1));
    auto request = server.requestsTo(kList).back();
    EXPECT_EQ(request.queryParam("news_category"), "1");
    EXPECT_EQ(request.queryParam("news_id"), "0");
    EXPECT_FALSE(request.queryParam("keyword"));
    EXPECT_EQ(car->textField.lock()->text(), "");
    EXPECT_DOUBLE_EQ(tab->mainScrollView.lock()->contentOffset().x, 0);
}

TEST_F(InformationRootViewControllerTest, TheBrandButtonScrollsOverAndTheBrandPageArrivesWhenThePagerRests) {
    auto tab = showTab();
    ASSERT_TRUE(tab);
    auto pager = tab->mainScrollView.lock();
    auto brand = tab->newsList(1);
    server.clearRequests();
    UITestDriver::tap(tab->brandInfoButton.lock());
    EXPECT_TRUE(tab->informationRedLine.lock()->isHidden());
    EXPECT_FALSE(tab->brandRedLine.lock()->isHidden());
    EXPECT_TRUE(isRed(tab->brandInfoButton));
    EXPECT_TRUE(isBlack(tab->carInfoButton));
    EXPECT_EQ(tab->selectedButton(), tab->brandInfoButton.lock());
    // Still on its way: the brand page is not there yet.
    EXPECT_TRUE(!brand->isViewLoaded() || !brand->view()->superview());
    settle(0.5);
    EXPECT_DOUBLE_EQ(pager->contentOffset().x, pager->bounds().size.width);
    ASSERT_EQ(brand->view()->superview(), pager);
    EXPECT_TRUE(CGRectEqualToRect(brand->view()->frame(), pager->bounds()));
    // It loads its own list; the car page was not reloaded.
    ASSERT_TRUE(waitAdvancing([&] { return !newsIds(brand).empty(); }));
    for (const auto& request : server.requestsTo(kList)) EXPECT_EQ(request.queryParam("news_category"), "2");
    // Shown in a shown tab, its carousel turns.
    ASSERT_TRUE(waitAdvancing([&] { return brand->timer() != nullptr; }));

    // Again on the brand button: nothing more happens.
    server.clearRequests();
    UITestDriver::tap(tab->brandInfoButton.lock());
    settle(0.5);
    EXPECT_DOUBLE_EQ(pager->contentOffset().x, pager->bounds().size.width);
    EXPECT_TRUE(server.requestsTo(kList).empty());
    EXPECT_FALSE(tab->brandRedLine.lock()->isHidden());

    // Back to the car page through its button: the lines and colours follow.
    UITestDriver::tap(tab->carInfoButton.lock());
    settle(0.5);
    EXPECT_DOUBLE_EQ(pager->contentOffset().x, 0);
    EXPECT_FALSE(tab->informationRedLine.lock()->isHidden());
    EXPECT_TRUE(tab->brandRedLine.lock()->isHidden());
    EXPECT_TRUE(isRed(tab->carInfoButton));
}

// The chosen page's title is written in the accent on white: it reads there, whichever page a tap
// chose, as does the other's black.
TEST_F(InformationRootViewControllerTest, EitherPagesTitleReadsOnTheWhiteBar) {
    auto tab = showTab();
    ASSERT_TRUE(tab);
    for (const auto& chosen : {tab->brandInfoButton.lock(), tab->carInfoButton.lock()}) {
        SCOPED_TRACE(chosen->titleForState(UIControlStateNormal).value_or(""));
        UITestDriver::tap(chosen);
        settle(0.5);
        ASSERT_TRUE(isRed(chosen));
        EXPECT_TRUE(testsupport::reads(tab->carInfoButton.lock()));
        EXPECT_TRUE(testsupport::reads(tab->brandInfoButton.lock()));
    }
}

TEST_F(InformationRootViewControllerTest, DraggingPastTheLastPageTellsTheDelegateOnEveryStep) {
    auto tab = showTab();
    ASSERT_TRUE(tab);
    auto pager = tab->mainScrollView.lock();
    const CGFloat W = pager->frame().size.width;
    struct Step {
        CGFloat offset;
        bool tells;
        std::size_t selected;
    };
    const Step steps[] = {
        {0.0, false, 0},     {0.49 * W, false, 0}, {0.5 * W, false, 1},
        {1.0 * W, false, 1}, {1.2 * W, false, 1},  {1.21 * W, true, 1},
        {1.5 * W, true, 1},  {2.6 * W, true, 1},   {-0.4 * W, false, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.offset / W);
        const int before = delegate->calls;
        pager->setContentOffset(CGPointMake(step.offset, 0));
        EXPECT_EQ(delegate->calls - before, step.tells ? 1 : 0);
        EXPECT_EQ(tab->selectedButton(), tab->buttons()[step.selected]);
    }
    // A drag beyond the end sends it on each step while it stays there.
    pager->setContentOffset(CGPointMake(W, 0));
    const int before = delegate->calls;
    ASSERT_TRUE(pager->simulateBeginDragging());
    pager->setBounces(true);
    pager->simulateDragBy(0.1 * W, 0);
    pager->simulateDragBy(0.2 * W, 0);
    pager->simulateDragBy(0.1 * W, 0);
    pager->simulateDragBy(0.1 * W, 0);
    pager->simulateEndDragging(CGPointZero, false);
    EXPECT_GE(delegate->calls - before, 2);
    // Moving the offset changed no title colour.
    EXPECT_TRUE(isRed(tab->carInfoButton));
}

TEST_F(InformationRootViewControllerTest, TheBrandPageEntersOnlyAfterThePagerRestsOnIt) {
    auto tab = showTab();
    ASSERT_TRUE(tab);
    auto pager = tab->mainScrollView.lock();
    auto brand = tab->newsList(1);
    const CGFloat W = pager->frame().size.width;
    // Halfway and back: never rested on the brand page.
    pager->simulateDrag(0.6 * W, 0, 5);
    EXPECT_FALSE(brand->isViewLoaded() && brand->view()->superview());
    pager->setContentOffset(CGPointMake(0, 0), true);
    settle(0.5);
    EXPECT_FALSE(brand->isViewLoaded() && brand->view()->superview());
    EXPECT_FALSE(tab->informationRedLine.lock()->isHidden());
    // A drag that comes to rest on it.
    pager->simulateDrag(0.7 * W, 0, 5, CGPointMake(800, 0));
    settle(1.0);
    EXPECT_DOUBLE_EQ(pager->contentOffset().x, W);
    ASSERT_TRUE(brand->isViewLoaded());
    EXPECT_EQ(brand->view()->superview(), pager);
    EXPECT_TRUE(CGRectEqualToRect(brand->view()->frame(), pager->bounds()));
    EXPECT_TRUE(tab->informationRedLine.lock()->isHidden());
    EXPECT_FALSE(tab->brandRedLine.lock()->isHidden());
    EXPECT_TRUE(isRed(tab->brandInfoButton));
}

TEST_F(InformationRootViewControllerTest, BothCarouselsStopWhileTheTabIsAwayAndTurnAgainWhenItReturns) {
    auto tab = showTab();
    ASSERT_TRUE(tab);
    auto car = tab->newsList(0);
    auto brand = tab->newsList(1);
    ASSERT_TRUE(waitAdvancing([&] { return car->timer() != nullptr; }));
    UITestDriver::tap(tab->brandInfoButton.lock());
    settle(0.5);
    ASSERT_TRUE(waitAdvancing([&] { return brand->timer() != nullptr; }));

    navigation->pushViewController(make<UIViewController>(), false);
    settle();
    EXPECT_FALSE(car->timer());
    EXPECT_FALSE(brand->timer());
    navigation->popViewControllerAnimated(false);
    settle();
    EXPECT_TRUE(car->timer());
    EXPECT_TRUE(brand->timer());
}

TEST_F(InformationRootViewControllerTest, WithoutADelegateScrollingFarIsHarmless) {
    delegate = nullptr;
    auto tab = showTab();
    ASSERT_TRUE(tab);
    auto pager = tab->mainScrollView.lock();
    pager->setContentOffset(CGPointMake(pager->frame().size.width * 3, 0));
    EXPECT_EQ(tab->selectedButton(), tab->buttons()[1]);
}

// ---- the picture --------------------------------------------------------------------------------

TEST_F(InformationRootViewControllerTest, GoldenNewsListWithTheCarousel) {
    auto tab = showTab();
    ASSERT_TRUE(tab);
    auto car = tab->newsList(0);
    ASSERT_TRUE(waitAdvancing([&] { return car->advertisements().size() == 3; }));
    auto table = car->tableView();
    // Every picture in: the carousel's first entry and the visible rows' thumbnails.
    ASSERT_TRUE(waitAdvancing([&] {
        table->layoutVisibleRows();
        auto cells = table->visibleCells();
        if (cells.empty()) return false;
        for (const auto& cell : cells) {
            auto row = std::dynamic_pointer_cast<QVNNewsCell>(cell);
            if (!row || !row->newsImageView.lock()->image()) return false;
        }
        auto first =
            std::dynamic_pointer_cast<UIImageView>(car->scrollView.lock()->viewWithTag(100)->superview());
        return first && first->image() && first->image()->size().width == 375;
    }));
    // The carousel stands on its first entry for the picture.
    car->removeTimer();
    car->scrollView.lock()->setContentOffset(CGPointMake(0, 0));
    clock.advance(1.0);
    window->layoutIfNeeded();
    auto image = UIWindowRenderer::imageOfView(window, 1);
    testsupport::compareWithGolden(image, testsupport::goldenDirectory("information"), "news_list.png",
                                   "information", 24, 0.01);
}

}  // namespace
