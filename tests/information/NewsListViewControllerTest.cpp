// A news page against the stand-in server: when each page loads, the header sizes, paging, the
// carousel on the manual clock (paging, taps, links, the timer's life), the filters and how they
// combine, an empty filter result, late answers, the brand list failing, and opening an article.

#include <gtest/gtest.h>

#include "app/QVNBrandCell.h"
#include "app/WebViewController.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "tests/information/NewsScreensTestSupport.h"
#include "uikit/UIAlertTestDriver.h"

using namespace infotest;

namespace {

constexpr char kList[] = "news/getnewslist.do";

class NewsListViewControllerTest : public NewsScreenTest {
  protected:
    void TearDown() override {
        UIAlertTestDriver::reset();
        NewsScreenTest::TearDown();
    }

    // The car page as the tab shows it: pushed, then refreshNewsLists.
    Ref<NewsListViewController> carPage() {
        auto list = pushNewsList(1);
        if (!list) return nullptr;
        list->refreshNewsLists();
        EXPECT_TRUE(waitAdvancing([&] { return !newsIds(list).empty(); }));
        EXPECT_TRUE(waitAdvancing([&] { return list->advertisements().size() == 3; }));
        settleNetwork();
        return list;
    }

    // The catalogue's brands as the brand list shows them (the leading "所有" first).
    void openBrandList(const Ref<NewsListViewController>& list) {
        UITestDriver::tap(list->brandButton.lock());
        ASSERT_TRUE(waitAdvancing(
            [&] { return list->brandsDataSource() && list->brandsDataSource()->items().count() > 1; }));
        settle();
    }
    void pickRow(const Ref<UITableView>& table, long row) {
        auto list = std::dynamic_pointer_cast<NewsListViewController>(table->delegate());
        ASSERT_TRUE(list);
        list->tableViewDidSelectRowAtIndexPath(*table, NSIndexPath::indexPathForRow(row, 0));
    }
    Ref<QVNBrand> brandAt(const Ref<NewsListViewController>& list, long row) {
        return list->brandsDataSource()->items()[row].objectAs<QVNBrand>();
    }
    void pressReturn(const Ref<NewsListViewController>& list, const std::string& keyword) {
        auto field = list->textField.lock();
        field->setText(keyword);
        list->textFieldShouldReturn(*field);
    }
    devserver::RecordedRequest lastList() { return lastRequestTo(kList); }

    // Articles of one brand and car, enough for two pages.
    void addArticles(long brand, long car, int count, const std::string& title = "滤镜测试") {
        for (int i = 0; i < count; ++i) {
            devserver::NewsItem item;
            item.news_category = 1;
            item.car_brand = brand;
            item.car_id = car;
            item.news_title = title + std::to_string(i);
            item.news_time = "2026-12-01 08:00:00";
            item.news_content = "<p>" + item.news_title + "</p>";
            information->addNews(item);
        }
    }
};

// ---- loading --------------------------------------------------------------------------------------

TEST_F(NewsListViewControllerTest, TheBrandPageLoadsAtOnceTheCarPageOnlyWhenTheTabAsks) {
    auto brand = pushNewsList(2);
    ASSERT_TRUE(waitAdvancing([&] { return !newsIds(brand).empty(); }));
    auto first = server.requestsTo(kList).front();
    EXPECT_EQ(first.queryParam("news_category"), "2");
    EXPECT_EQ(first.queryParam("news_id"), "0");
    EXPECT_FALSE(brand->brandButton.lock());
    EXPECT_FALSE(brand->backgroundMaskView());
    EXPECT_EQ(brand->tableView()->tableHeaderView(), brand->brandHeaderView());
    for (const auto& news : brand->dataProvider()->news()) EXPECT_EQ(news->news_category->integerValue(), 2);

    server.clearRequests();
    auto car = pushNewsList(1);
    settleNetwork();
    EXPECT_TRUE(server.requestsTo(kList).empty());
    EXPECT_FALSE(car->carModelButton.lock()->isEnabled());
    car->refreshNewsLists();
    ASSERT_TRUE(waitAdvancing([&] { return !newsIds(car).empty(); }));
    EXPECT_EQ(lastList().queryParam("news_category"), "1");
    EXPECT_EQ(car->tableView()->rowHeight(), 94.0);
    EXPECT_EQ(car->tableView()->tableHeaderView(), car->carHeaderView());
}

TEST_F(NewsListViewControllerTest, OnA320WideScreenTheCarouselIs112AndAHalfAndTheCarHeader148AndAHalf) {
    UIScreen::mainScreen()->setBoundsSize(CGSizeMake(320, 568));
    for (long category : {1L, 2L}) {
        SCOPED_TRACE(category);
        auto list = std::dynamic_pointer_cast<NewsListViewController>(
            UIStoryboard::storyboardWithName("MyInformation", nullptr)
                ->instantiateViewControllerWithIdentifier("NewsListViewController"));
        ASSERT_TRUE(list);
        list->setCategory(category);
        list->view();
        EXPECT_DOUBLE_EQ(list->headVeiwheight(), 112.5);
        auto header = list->tableView()->tableHeaderView();
        ASSERT_TRUE(header);
        EXPECT_DOUBLE_EQ(header->frame().size.height, category == 1 ? 148.5 : 112.5);
        EXPECT_DOUBLE_EQ(header->frame().size.width, 320);
        EXPECT_DOUBLE_EQ(list->scrollView.lock()->frame().size.width, list->tableView()->frame().size.width);
        if (category == 1) {
            // The pick lists hang just below the header.
            EXPECT_DOUBLE_EQ(list->brandTableView()->frame().origin.y, 148.5);
            EXPECT_TRUE(CGSizeEqualToSize(list->brandTableView()->frame().size, CGSizeMake(100, 200)));
            EXPECT_DOUBLE_EQ(list->carTableView()->frame().origin.x, 100);
            EXPECT_TRUE(CGSizeEqualToSize(list->carTableView()->frame().size, CGSizeMake(200, 200)));
            EXPECT_DOUBLE_EQ(list->backgroundMaskView()->frame().origin.y, 148.5);
            EXPECT_DOUBLE_EQ(CGRectGetMaxY(list->backgroundMaskView()->frame()), 568);
            EXPECT_TRUE(list->backgroundMaskView()->isHidden());
        }
    }
}

TEST_F(NewsListViewControllerTest, LoadMorePagesAfterTheLastArticleAndEndsWithNoMoreData) {
    auto list = carPage();
    ASSERT_TRUE(list);
    const auto firstPage = newsIds(list);
    ASSERT_EQ(firstPage.size(), 10u);
    auto footer = UIScrollView_PullRefresh::footer(*list->tableView());
    ASSERT_TRUE(footer);
    server.clearRequests();
    footer->beginRefreshing();
    ASSERT_TRUE(waitAdvancing([&] { return newsIds(list).size() > 10; }));
    EXPECT_EQ(lastList().queryParam("news_id"), std::to_string(firstPage.back()));
    EXPECT_EQ(lastList().queryParam("news_category"), "1");
    settle(0.5);
    // Sixteen car articles: the next ask finds nothing more.
    footer->beginRefreshing();
    ASSERT_TRUE(waitAdvancing([&] { return footer->state() == PullRefreshState::NoMoreData; }));
    EXPECT_EQ(newsIds(list).size(), 16u);

    // Pulling down starts again from the first page.
    server.clearRequests();
    UIScrollView_PullRefresh::header(*list->tableView())->beginRefreshing();
    ASSERT_TRUE(waitAdvancing([&] { return newsIds(list).size() == 10; }));
    EXPECT_EQ(lastList().queryParam("news_id"), "0");
    settle(0.5);
    EXPECT_NE(footer->state(), PullRefreshState::NoMoreData);
    // The carousel had entries: the pull-down did not ask for them again.
    EXPECT_TRUE(server.requestsTo("ad/get.do").empty());
}

// ---- the carousel ---------------------------------------------------------------------------------

TEST_F(NewsListViewControllerTest, ThreeAdvertisementsTurnOneTwoZeroOneEveryTwoSeconds) {
    auto list = pushNewsList(2);
    ASSERT_TRUE(waitAdvancing([&] { return list->advertisements().size() == 3; }));
    settle();
    auto carousel = list->scrollView.lock();
    auto dots = list->pageControl.lock();
    const CGFloat W = carousel->frame().size.width;
    EXPECT_DOUBLE_EQ(carousel->contentSize().width, 3 * W);
    EXPECT_TRUE(carousel->isPagingEnabled());
    EXPECT_FALSE(carousel->showsHorizontalScrollIndicator());
    EXPECT_EQ(dots->numberOfPages(), 3);
    ASSERT_TRUE(list->timer());
    EXPECT_EQ(dots->currentPage(), 0);
    // Watch the page in small steps: the changes come every two seconds, wrapping after the last.
    std::vector<long> pages;
    std::vector<double> times;
    for (int step = 0; step < 170; ++step) {
        clock.advance(0.05);
        testsupport::drainMainRunLoop();
        // At rest (the way back from the last entry passes the middle one on the way).
        if (!carousel->isScrollAnimating() && dots->currentPage() != (pages.empty() ? 0 : pages.back())) {
            pages.push_back(dots->currentPage());
            times.push_back(clock.now());
        }
    }
    ASSERT_EQ(pages, (std::vector<long>{1, 2, 0, 1}));
    for (std::size_t i = 1; i < times.size(); ++i) EXPECT_NEAR(times[i] - times[i - 1], 2.0, 0.06);
    clock.advance(0.5);
    testsupport::drainMainRunLoop();
    EXPECT_DOUBLE_EQ(carousel->contentOffset().x, W);
}

}  // namespace
