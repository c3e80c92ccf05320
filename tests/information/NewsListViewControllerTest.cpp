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

TEST_F(NewsListViewControllerTest, LinksOfFiveCharactersTakeTapsShorterOnesDoNotAndBadOnesOpenNothing) {
    information->setAdvertisements({
        {1, "有效", "http://127.0.0.1:1/none.png", "extra/ad1.html"},
        {2, "四个字符", "", "a.co"},
        {3, "五个字符", "", "a.com"},
        {4, "坏地址", "http://exa mple\x01/x.png", "http://exa mple\x01.com/"},
        {5, "无链接", "", ""},
    });
    auto list = pushNewsList(2);
    ASSERT_TRUE(waitAdvancing([&] { return list->advertisements().size() == 5; }));
    settle();
    auto carousel = list->scrollView.lock();
    std::vector<Ref<UIButton>> buttons;
    for (long tag = 100; tag < 105; ++tag) {
        auto button = std::dynamic_pointer_cast<UIButton>(carousel->viewWithTag(tag));
        ASSERT_TRUE(button) << tag;
        EXPECT_TRUE(CGRectEqualToRect(button->frame(), button->superview()->bounds()));
        buttons.push_back(button);
    }
    EXPECT_TRUE(buttons[0]->isUserInteractionEnabled());
    EXPECT_FALSE(buttons[1]->isUserInteractionEnabled());
    EXPECT_TRUE(buttons[2]->isUserInteractionEnabled());
    EXPECT_TRUE(buttons[3]->isUserInteractionEnabled());
    EXPECT_FALSE(buttons[4]->isUserInteractionEnabled());
    // The picture views show whole pictures and pass touches to their buttons.
    auto picture = std::dynamic_pointer_cast<UIImageView>(buttons[0]->superview());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->contentMode(), UIViewContentModeScaleAspectFit);
    EXPECT_TRUE(picture->isUserInteractionEnabled());
    EXPECT_DOUBLE_EQ(picture->frame().size.height, list->headVeiwheight());

    // A link that makes no URL: nothing opens, nothing breaks.
    list->jumpToAdDetailVC(buttons[3]);
    settle(0.6);
    EXPECT_EQ(navigation->topViewController(), list);
    EXPECT_EQ(list->adLink(), std::optional<std::string>("http://exa mple\x01.com/"));
    // A tag outside the entries is ignored.
    auto stray = UIButton::buttonWithType(UIButtonTypeCustom);
    stray->setTag(99);
    list->jumpToAdDetailVC(stray);
    stray->setTag(105);
    list->jumpToAdDetailVC(stray);
    settle(0.6);
    EXPECT_EQ(navigation->topViewController(), list);

    // The first entry, tapped where it shows: its page opens in the web page screen.
    UITestDriver::tap(buttons[0]);
    settle(0.6);
    auto page = std::dynamic_pointer_cast<WebViewController>(navigation->topViewController());
    ASSERT_TRUE(page);
    ASSERT_TRUE(page->advertisementURL());
    EXPECT_EQ(page->advertisementURL()->absoluteString(), server.baseURL() + "extra/ad1.html");
    // Covered by the page, the carousel stands still.
    EXPECT_FALSE(list->timer());
    navigation->popViewControllerAnimated(false);
    settle(0.6);
    EXPECT_TRUE(list->timer());

    list->jumpToAdDetailVC(buttons[2]);
    settle(0.6);
    page = std::dynamic_pointer_cast<WebViewController>(navigation->topViewController());
    ASSERT_TRUE(page);
    EXPECT_EQ(page->advertisementURL()->absoluteString(), "a.com");
}

TEST_F(NewsListViewControllerTest, TheTimerStopsWhileThePageIsAwayAndStartsAgainWhenItReturns) {
    auto list = pushNewsList(2);
    ASSERT_TRUE(waitAdvancing([&] { return list->timer() != nullptr; }));
    auto dots = list->pageControl.lock();
    auto first = list->timer();
    navigation->pushViewController(make<UIViewController>(), false);
    settle();
    EXPECT_FALSE(list->timer());
    EXPECT_FALSE(first->isValid());
    const long page = dots->currentPage();
    for (int i = 0; i < 10; ++i) clock.advance(1.0);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(dots->currentPage(), page);

    navigation->popViewControllerAnimated(false);
    settle();
    ASSERT_TRUE(list->timer());
    EXPECT_TRUE(list->timer()->isValid());
    clock.advance(2.5);
    testsupport::drainMainRunLoop();
    EXPECT_NE(dots->currentPage(), page);
}

TEST_F(NewsListViewControllerTest, WithoutAdvertisementsNoTimerRunsAndAPullDownAsksForThemAgain) {
    information->setAdvertisements({});
    auto list = pushNewsList(2);
    ASSERT_TRUE(waitAdvancing([&] { return !newsIds(list).empty(); }));
    settleNetwork();
    EXPECT_FALSE(server.requestsTo("ad/get.do").empty());
    EXPECT_TRUE(list->advertisements().empty());
    EXPECT_FALSE(list->timer());
    EXPECT_EQ(list->pageControl.lock()->numberOfPages(), 0);
    list->nextImage();
    list->addTimer();
    EXPECT_FALSE(list->timer());
    clock.advance(5);
    testsupport::drainMainRunLoop();
    EXPECT_DOUBLE_EQ(list->scrollView.lock()->contentOffset().x, 0);

    // A failed fetch leaves the carousel empty too; the next pull-down tries again.
    devserver::RouteControl control;
    control.body = devserver::RouteControl::Body::NotJSON;
    server.setRouteControl("ad/get.do", control);
    server.clearRequests();
    UIScrollView_PullRefresh::header(*list->tableView())->beginRefreshing();
    ASSERT_TRUE(waitForRequests("ad/get.do", 1));
    EXPECT_FALSE(list->timer());
    server.clearRouteControls();
    information->setAdvertisements({{7, "回来了", "", "extra/ad1.html"}});
    settle(0.5);
    UIScrollView_PullRefresh::header(*list->tableView())->beginRefreshing();
    ASSERT_TRUE(waitAdvancing([&] { return list->advertisements().size() == 1; }));
    EXPECT_TRUE(list->timer());
}

TEST_F(NewsListViewControllerTest, DraggingTheCarouselPausesTheTimerButScrollingTheListDoesNot) {
    auto list = pushNewsList(2);
    ASSERT_TRUE(waitAdvancing([&] { return list->timer() != nullptr; }));
    auto carousel = list->scrollView.lock();
    auto before = list->timer();
    list->tableView()->simulateDrag(0, 40);
    settle(0.6);
    EXPECT_EQ(list->timer(), before);
    ASSERT_TRUE(carousel->simulateBeginDragging());
    EXPECT_FALSE(list->timer());
    EXPECT_FALSE(before->isValid());
    carousel->simulateDragBy(carousel->frame().size.width * 0.7, 0);
    carousel->simulateEndDragging();
    ASSERT_TRUE(list->timer());
    EXPECT_NE(list->timer(), before);
    settle(0.6);
    EXPECT_EQ(list->pageControl.lock()->currentPage(), 1);
}

// ---- filters --------------------------------------------------------------------------------------

TEST_F(NewsListViewControllerTest, PickingACarAfterABrandAsksForTheCarAloneAndAKeywordThenForAllThree) {
    auto list = carPage();
    ASSERT_TRUE(list);
    openBrandList(list);
    EXPECT_FALSE(list->brandTableView()->isHidden());
    EXPECT_FALSE(list->backgroundMaskView()->isHidden());
    EXPECT_TRUE(list->brandButton.lock()->isSelected());
    EXPECT_FALSE(list->carModelButton.lock()->isEnabled());
    auto items = list->brandsDataSource()->items();
    ASSERT_GT(items.count(), 1u);
    EXPECT_EQ(brandAt(list, 0)->brand_name, std::optional<std::string>("所有"));
    EXPECT_FALSE(brandAt(list, 0)->cars);
    auto cell = std::dynamic_pointer_cast<QVNBrandCell>(
        list->brandTableView()->dataSource()->tableViewCellForRowAtIndexPath(
            *list->brandTableView(), NSIndexPath::indexPathForRow(1, 0)));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->brand(), brandAt(list, 1));

    auto brand = brandAt(list, 1);
    ASSERT_TRUE(brand->brand_id);
    server.clearRequests();
    list->textField.lock()->setText(std::string("旧词"));
    pickRow(list->brandTableView(), 1);
    ASSERT_TRUE(waitForRequests(kList, 1));
    auto byBrand = lastList();
    EXPECT_EQ(byBrand.queryParam("brand_id"), brand->brand_id->stringValue());
    EXPECT_FALSE(byBrand.queryParam("car_id"));
    EXPECT_FALSE(byBrand.queryParam("keyword"));
    EXPECT_EQ(byBrand.queryParam("news_category"), "1");
    EXPECT_EQ(byBrand.queryParam("news_id"), "0");
    EXPECT_EQ(list->selectedBrand(), brand);
    EXPECT_EQ(list->brandButton.lock()->titleForState(UIControlStateNormal), brand->brand_name);
    EXPECT_EQ(list->textField.lock()->text(), "");
    EXPECT_TRUE(list->brandTableView()->isHidden());
    EXPECT_TRUE(list->backgroundMaskView()->isHidden());
    EXPECT_TRUE(list->carModelButton.lock()->isEnabled());
    EXPECT_EQ(list->carModelButton.lock()->titleForState(UIControlStateNormal),
              std::optional<std::string>("车型"));
    // A filtered list is not pulled down.
    EXPECT_FALSE(UIScrollView_PullRefresh::header(*list->tableView()));

    UITestDriver::tap(list->carModelButton.lock());
    settle();
    EXPECT_FALSE(list->carTableView()->isHidden());
    EXPECT_FALSE(list->brandButton.lock()->isEnabled());
    EXPECT_EQ(list->carModelButton.lock()->titleForState(UIControlStateSelected),
              std::optional<std::string>("车型"));
    auto cars = brand->carList();
    ASSERT_FALSE(cars.empty());
    EXPECT_EQ(list->carTableView()->numberOfRowsInSection(0), static_cast<long>(cars.size()));
    server.clearRequests();
    pickRow(list->carTableView(), 0);
    ASSERT_TRUE(waitForRequests(kList, 1));
    auto byCar = lastList();
    EXPECT_EQ(byCar.queryParam("car_id"), cars[0]->cars_id->stringValue());
    EXPECT_FALSE(byCar.queryParam("brand_id"));
    EXPECT_FALSE(byCar.queryParam("keyword"));
    EXPECT_EQ(list->selectedCar(), cars[0]);
    EXPECT_EQ(list->carModelButton.lock()->titleForState(UIControlStateNormal), cars[0]->cars_name);
    EXPECT_TRUE(list->carTableView()->isHidden());
    EXPECT_TRUE(list->brandButton.lock()->isEnabled());

    server.clearRequests();
    pressReturn(list, "宽体");
    ASSERT_TRUE(waitForRequests(kList, 1));
    auto all = lastList();
    EXPECT_EQ(all.queryParam("brand_id"), brand->brand_id->stringValue());
    EXPECT_EQ(all.queryParam("car_id"), cars[0]->cars_id->stringValue());
    EXPECT_EQ(all.queryParam("keyword"), "宽体");
    EXPECT_TRUE(list->backgroundMaskView()->isHidden());
}

TEST_F(NewsListViewControllerTest, ABrandThenAKeywordWithoutACarSendsNoCarAndAllResetsEverything) {
    auto list = carPage();
    ASSERT_TRUE(list);
    openBrandList(list);
    auto brand = brandAt(list, 1);
    pickRow(list->brandTableView(), 1);
    ASSERT_TRUE(waitForRequests(kList, 2));
    server.clearRequests();
    pressReturn(list, "轮毂");
    ASSERT_TRUE(waitForRequests(kList, 1));
    EXPECT_EQ(lastList().queryParam("brand_id"), brand->brand_id->stringValue());
    EXPECT_EQ(lastList().queryParam("keyword"), "轮毂");
    EXPECT_FALSE(lastList().queryParam("car_id"));

    // The brand list opens again with the chosen brand as the selected title; "所有" resets.
    UITestDriver::tap(list->brandButton.lock());
    settle();
    EXPECT_EQ(list->brandButton.lock()->titleForState(UIControlStateSelected), brand->brand_name);
    EXPECT_FALSE(list->brandTableView()->isHidden());
    server.clearRequests();
    pickRow(list->brandTableView(), 0);
    ASSERT_TRUE(waitForRequests(kList, 1));
    EXPECT_FALSE(lastList().queryParam("brand_id"));
    EXPECT_FALSE(lastList().queryParam("keyword"));
    EXPECT_FALSE(list->selectedBrand());
    EXPECT_FALSE(list->selectedCar());
    EXPECT_FALSE(list->carModelButton.lock()->isEnabled());
    EXPECT_EQ(list->brandButton.lock()->titleForState(UIControlStateNormal),
              std::optional<std::string>("所有"));
    EXPECT_TRUE(UIScrollView_PullRefresh::header(*list->tableView()));
    // A keyword alone after "所有" sends no brand.
    server.clearRequests();
    pressReturn(list, "轮毂");
    ASSERT_TRUE(waitForRequests(kList, 1));
    EXPECT_FALSE(lastList().queryParam("brand_id"));
    EXPECT_EQ(lastList().queryParam("keyword"), "轮毂");
}

TEST_F(NewsListViewControllerTest, AFilteredLoadMoreKeepsTheFilterAndTheKeyword) {
    auto list = carPage();
    ASSERT_TRUE(list);
    openBrandList(list);
    auto brand = brandAt(list, 1);
    addArticles(brand->brand_id->integerValue(), 99, 14, "滤镜");
    pickRow(list->brandTableView(), 1);
    settle();
    server.clearRequests();
    pressReturn(list, "滤镜");
    ASSERT_TRUE(waitAdvancing([&] { return newsIds(list).size() == 10; }));
    settleNetwork();
    auto footer = UIScrollView_PullRefresh::footer(*list->tableView());
    ASSERT_TRUE(footer);
    auto stateFooter = std::dynamic_pointer_cast<PullRefreshAutoNormalFooter>(footer);
    ASSERT_TRUE(stateFooter);
    EXPECT_FALSE(stateFooter->stateLabel()->isHidden());
    const long last = newsIds(list).back();
    server.clearRequests();
    footer->beginRefreshing();
    ASSERT_TRUE(waitAdvancing([&] { return newsIds(list).size() == 14; }));
    auto more = lastList();
    EXPECT_EQ(more.queryParam("brand_id"), brand->brand_id->stringValue());
    EXPECT_EQ(more.queryParam("keyword"), "滤镜");
    EXPECT_EQ(more.queryParam("news_id"), std::to_string(last));
    EXPECT_EQ(more.queryParam("news_category"), "1");
    EXPECT_FALSE(more.queryParam("car_id"));
    for (const auto& news : list->dataProvider()->news())
        EXPECT_NE(news->news_title->find("滤镜"), std::string::npos) << *news->news_title;
    settle(0.5);
    footer->beginRefreshing();
    ASSERT_TRUE(waitAdvancing([&] { return footer->state() == PullRefreshState::NoMoreData; }));
}

TEST_F(NewsListViewControllerTest, AFilterThatFindsNothingSaysSoForASecondThenShowsTheWholeList) {
    auto list = carPage();
    ASSERT_TRUE(list);
    server.clearRequests();
    pressReturn(list, "没有这个词");
    ASSERT_TRUE(waitAdvancing([&] { return hudText(list->view()).has_value(); }));
    EXPECT_EQ(hudText(list->view()), std::optional<std::string>("无搜索结果"));
    EXPECT_TRUE(newsIds(list).empty());
    EXPECT_EQ(server.requestsTo(kList).size(), 1u);
    clock.advance(0.9);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(server.requestsTo(kList).size(), 1u);
    clock.advance(0.15);
    ASSERT_TRUE(waitAdvancing([&] { return newsIds(list).size() == 10; }));
    EXPECT_FALSE(lastList().queryParam("keyword"));
    EXPECT_TRUE(UIScrollView_PullRefresh::header(*list->tableView()));
    settle(1.0);
    EXPECT_FALSE(hudText(list->view()));
}

TEST_F(NewsListViewControllerTest, AFilterPickedWhileTheEmptyResultShowsIsNotUndone) {
    auto list = carPage();
    ASSERT_TRUE(list);
    pressReturn(list, "没有这个词");
    ASSERT_TRUE(waitAdvancing([&] { return hudText(list->view()).has_value(); }));
    server.clearRequests();
    pressReturn(list, "轮毂");
    ASSERT_TRUE(waitForRequests(kList, 1));
    settle(1.5);
    settleNetwork();
    // Only the keyword's list was asked for: the second's wait did not bring the whole list back.
    EXPECT_EQ(server.requestsTo(kList).size(), 1u);
    EXPECT_FALSE(UIScrollView_PullRefresh::header(*list->tableView()));
    ASSERT_FALSE(newsIds(list).empty());
    for (const auto& news : list->dataProvider()->news())
        EXPECT_NE(news->news_title->find("轮毂"), std::string::npos) << *news->news_title;
}

TEST_F(NewsListViewControllerTest, ALateAnswerToTheWholeListDoesNotReplaceAFilteredOne) {
    auto list = carPage();
    ASSERT_TRUE(list);
    devserver::RouteControl slow;
    slow.delay = std::chrono::milliseconds(600);
    slow.times = 1;
    server.setRouteControl(kList, slow);
    server.clearRequests();
    UIScrollView_PullRefresh::header(*list->tableView())->beginRefreshing();
    ASSERT_TRUE(waitAdvancing([&] { return server.requestsTo(kList).size() == 1; }));
    pressReturn(list, "轮毂");
    ASSERT_TRUE(waitAdvancing([&] { return server.requestsTo(kList).size() == 2; }));
    testsupport::pumpMainRunLoop(1.0);
    settle(0.5);
    ASSERT_FALSE(newsIds(list).empty());
    for (const auto& news : list->dataProvider()->news())
        EXPECT_NE(news->news_title->find("轮毂"), std::string::npos) << *news->news_title;
}

TEST_F(NewsListViewControllerTest, LoadMoreWaitsForTheFirstPageOfANewFilter) {
    auto list = carPage();
    ASSERT_TRUE(list);
    devserver::RouteControl slow;
    slow.delay = std::chrono::milliseconds(500);
    slow.times = 1;
    server.setRouteControl(kList, slow);
    server.clearRequests();
    pressReturn(list, "轮毂");
    auto footer = UIScrollView_PullRefresh::footer(*list->tableView());
    ASSERT_TRUE(footer);
    // Still showing the whole list: a next page now would follow its last article.
    footer->beginRefreshing();
    settle(0.5);
    EXPECT_FALSE(footer->isRefreshing());
    testsupport::pumpMainRunLoop(0.8);
    settle();
    ASSERT_EQ(server.requestsTo(kList).size(), 1u);
    ASSERT_FALSE(newsIds(list).empty());
    for (const auto& news : list->dataProvider()->news())
        EXPECT_NE(news->news_title->find("轮毂"), std::string::npos) << *news->news_title;
    // Once it is in, load-more asks again.
    footer->beginRefreshing();
    ASSERT_TRUE(waitForRequests(kList, 2));
    EXPECT_EQ(lastList().queryParam("keyword"), "轮毂");
    EXPECT_EQ(lastList().queryParam("news_id"), std::to_string(newsIds(list).back()));
}

TEST_F(NewsListViewControllerTest, TheBrandListFailingSaysSoAndStaysOpen) {
    auto list = carPage();
    ASSERT_TRUE(list);
    devserver::RouteControl control;
    control.body = devserver::RouteControl::Body::NotJSON;
    server.setRouteControl("car/getcarlist.do", control);
    UITestDriver::tap(list->brandButton.lock());
    ASSERT_TRUE(waitAdvancing([&] { return UIAlertTestDriver::frontmostAlert().has_value(); }));
    auto alert = UIAlertTestDriver::frontmostAlert();
    EXPECT_EQ(alert->title, std::optional<std::string>("品牌获取失败"));
    EXPECT_EQ(alert->buttonTitles, std::vector<std::string>{"确定"});
    EXPECT_FALSE(list->brandTableView()->isHidden());
    EXPECT_FALSE(list->backgroundMaskView()->isHidden());
    EXPECT_FALSE(list->brandsDataSource());
}

TEST_F(NewsListViewControllerTest, TheMaskClosesThePickListsAndTheKeywordFieldOpensIt) {
    auto list = carPage();
    ASSERT_TRUE(list);
    openBrandList(list);
    auto mask = list->backgroundMaskView();
    ASSERT_FALSE(mask->isHidden());
    // The mask and the list sit above the rows.
    auto& siblings = list->tableView()->subviews();
    auto position = [&](const Ref<UIView>& view) {
        return std::find(siblings.begin(), siblings.end(), view) - siblings.begin();
    };
    EXPECT_GT(position(list->brandTableView()), position(mask));
    for (const auto& cell : list->tableView()->visibleCells()) EXPECT_GT(position(mask), position(cell));
    list->backgroundMaskViewTapped();
    EXPECT_TRUE(mask->isHidden());
    EXPECT_TRUE(list->brandTableView()->isHidden());
    EXPECT_FALSE(list->brandButton.lock()->isSelected());
    EXPECT_TRUE(list->brandButton.lock()->isEnabled());
    // A second tap on the brand button with the list loaded closes it again.
    UITestDriver::tap(list->brandButton.lock());
    EXPECT_FALSE(mask->isHidden());
    UITestDriver::tap(list->brandButton.lock());
    EXPECT_TRUE(mask->isHidden());
    EXPECT_TRUE(list->brandTableView()->isHidden());

    auto field = list->textField.lock();
    list->textFieldDidBeginEditing(*field);
    EXPECT_FALSE(mask->isHidden());
    list->textFieldDidBeginEditing(*field);
    EXPECT_TRUE(mask->isHidden());
    EXPECT_TRUE(list->gestureRecognizerShouldReceiveTouch(*mask->gestureRecognizers().front(), nullptr)
                    .value_or(false));
}

TEST_F(NewsListViewControllerTest, WithoutTheStudioTheCarsOfTheBrandListAreCatalogueRecords) {
    EXPECT_EQ(QVNBrand::carRecordClass(), QVNCatalogueCar::rmClass());
    std::optional<std::optional<Array>> brands;
    QVNBrand::getBrandsAndCars([&](const std::optional<Array>& list) { brands = list; });
    ASSERT_TRUE(waitUntil([&] { return brands.has_value(); }));
    ASSERT_TRUE(*brands && !(*brands)->empty());
    auto brand = (**brands)[0].objectAs<QVNBrand>();
    ASSERT_TRUE(brand);
    auto cars = brand->carList();
    ASSERT_FALSE(cars.empty());
    EXPECT_EQ(cars[0]->className(), "QVNCatalogueCar");
    EXPECT_TRUE(cars[0]->cars_id && cars[0]->cars_name);
}

// ---- opening an article -------------------------------------------------------------------------

TEST_F(NewsListViewControllerTest, ARowOpensItsArticleWithThePagesTitle) {
    registerArticleStandIn();
    for (long category : {1L, 2L}) {
        SCOPED_TRACE(category);
        auto list = category == 1 ? carPage() : pushNewsList(2);
        ASSERT_TRUE(list);
        ASSERT_TRUE(waitAdvancing([&] { return !newsIds(list).empty(); }));
        settle();
        list->tableViewDidSelectRowAtIndexPath(*list->tableView(), NSIndexPath::indexPathForRow(1, 0));
        settle(0.6);
        auto article = std::dynamic_pointer_cast<ArticleStandIn>(navigation->topViewController());
        ASSERT_TRUE(article);
        EXPECT_EQ(article->news, list->dataProvider()->news()[1]);
        EXPECT_EQ(article->title, std::optional<std::string>(category == 1 ? "资讯详情" : "品牌详情"));
        navigation->popToRootViewControllerAnimated(false);
        settle();
    }
}

TEST_F(NewsListViewControllerTest, WithoutAnArticleScreenARowOpensNothing) {
    UIStoryboard::registerScene(InformationScreens::kInformationStoryboard,
                                InformationScreens::kNewsDetailIdentifier,
                                [](UIStoryboard&) -> Ref<UIViewController> { return nullptr; });
    auto list = pushNewsList(2);
    ASSERT_TRUE(waitAdvancing([&] { return !newsIds(list).empty(); }));
    list->tableViewDidSelectRowAtIndexPath(*list->tableView(), NSIndexPath::indexPathForRow(0, 0));
    settle(0.6);
    EXPECT_EQ(navigation->topViewController(), list);
    // A row past the list opens nothing either.
    list->tableViewDidSelectRowAtIndexPath(*list->tableView(), NSIndexPath::indexPathForRow(99, 0));
    settle(0.6);
    EXPECT_EQ(navigation->topViewController(), list);
}

}  // namespace
