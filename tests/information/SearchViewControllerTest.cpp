// The search screen inside a navigation controller against the stand-in server's second root: the
// parameters of both search types, the type drop-down, the pages (a new search and a pull-down
// start again from the first), the HUDs on the manual clock, stale replies, and opening a news or
// a question result; the search records and the shared-client search call.

#include <gtest/gtest.h>

#include "app/QVNQuestionScreens.h"
#include "controls/PullRefreshFooter.h"
#include "controls/PullRefreshHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "information/InformationScenes.h"
#include "information/NewsDetailViewController.h"
#include "information/QVNSearch.h"
#include "information/SearchViewController.h"
#include "tests/information/InformationTestSupport.h"
#include "tests/support/ScreenTestSupport.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"
#include "uikit/UIWindow.h"

using namespace infotest;

namespace {

// The forum's question detail as the search sees it: a scene adopting the hand-over.
class FakeQuestionDetail : public UIViewController, public QVNQuestionScreens::QuestionDetailHandOver {
  public:
    std::string className() const override { return "QuestionDetailController"; }
    void setQuestionId(const std::optional<NSNumber>& id) override { questionId = id; }
    void setIsFromMessafeVc(bool) override {}
    std::optional<NSNumber> questionId;
};

class SearchTest : public InformationServerTest, protected testsupport::NavigationWindow {
  protected:
    void SetUp() override {
        InformationServerTest::SetUp();
        InformationScenes::registerAll();
        UIStoryboard::registerScene(
            "MyRizUr", "QuestionDetailController",
            [](UIStoryboard&) -> Ref<UIViewController> { return make<FakeQuestionDetail>(); });
        UITextEntryDriver::reset();
        openWindow();
        search = std::dynamic_pointer_cast<SearchViewController>(
            UIStoryboard::storyboardWithName("MyInformation", nullptr)
                ->instantiateViewControllerWithIdentifier("SearchViewController"));
        ASSERT_TRUE(search);
        navigation->pushViewController(search, false);
        settle();
    }
    void TearDown() override {
        UITestDriver::reset();
        UITextEntryDriver::reset();
        search = nullptr;
        closeWindow();
        UIStoryboard::unregisterStoryboard("MyRizUr");
        InformationServerTest::TearDown();
    }

    void settle() { testsupport::settleInSteps(clock); }
    bool waitAdvancing(const std::function<bool()>& condition, double seconds = 10) {
        return testsupport::waitAdvancing(clock, condition, seconds);
    }

    std::vector<devserver::RecordedRequest> searches() { return server.requestsTo("search/search.do"); }
    // Types the keyword into the empty field and presses return; waits for the reply.
    void searchFor(const std::string& keyword) {
        auto field = search->searchField.lock();
        ASSERT_TRUE(field);
        field->setText(std::string());
        UITextEntryDriver::typeText(field, keyword);
        std::size_t before = searches().size();
        ASSERT_TRUE(UITextEntryDriver::pressReturn(field));
        ASSERT_TRUE(waitUntil([&] { return searches().size() == before + 1; }));
        // Answered: rows, or a message.
        ASSERT_TRUE(waitAdvancing([&] { return !search->resultList().empty() || hudText(); }));
        testsupport::drainMainRunLoop();
    }
    void chooseType(const std::string& title) {
        search->newsBtnClick(nullptr);
        Ref<UIButton> choice = title == SearchViewController::kNewsTitle ? search->btn1() : search->btn2();
        ASSERT_TRUE(choice);
        UITestDriver::tap(choice);
        settle();
    }
    // Runs the footer's load-more and waits until its request was answered.
    void loadMore() {
        auto footer = UIScrollView_PullRefresh::footer(*search->tableView.lock());
        ASSERT_TRUE(footer);
        std::size_t before = searches().size();
        footer->beginRefreshing();
        ASSERT_TRUE(
            waitAdvancing([&] { return searches().size() == before + 1 && !footer->isRefreshing(); }));
        settle();
    }
    void pullDown() {
        auto header = UIScrollView_PullRefresh::header(*search->tableView.lock());
        ASSERT_TRUE(header);
        std::size_t before = searches().size();
        header->beginRefreshing();
        ASSERT_TRUE(
            waitAdvancing([&] { return searches().size() == before + 1 && !header->isRefreshing(); }));
        settle();
    }
    std::optional<std::string> hudText() {
        const auto& subviews = search->view()->subviews();
        for (auto it = subviews.rbegin(); it != subviews.rend(); ++it) {
            auto hud = std::dynamic_pointer_cast<VHProgressHUD>(*it);
            if (hud && !hud->isHidden() && hud->alpha() > 0) return hud->labelText();
        }
        return std::nullopt;
    }
    Ref<QVNSearchCell> cellAt(long row) {
        Ref<UITableView> table = search->tableView.lock();
        return std::dynamic_pointer_cast<QVNSearchCell>(
            search->tableViewCellForRowAtIndexPath(*table, NSIndexPath::indexPathForRow(row, 0)));
    }

    testsupport::ManualClock clock;
    Ref<SearchViewController> search;
};

// ---- the two types ------------------------------------------------------------------------------------

TEST_F(SearchTest, ANewsSearchSendsTypeOneToTheSecondRootAndShowsNewsRows) {
    searchFor("轮毂");
    auto request = searches().back();
    EXPECT_EQ(request.listener, devserver::Listener::Second);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.param("keyword"), std::optional<std::string>("轮毂"));
    EXPECT_EQ(request.param("page"), std::optional<std::string>("0"));
    EXPECT_EQ(request.param("type"), std::optional<std::string>("1"));
    EXPECT_FALSE(request.param("cars_brand"));
    EXPECT_FALSE(request.param("user_token"));
    EXPECT_EQ(search->typeIndex(), 1);
    ASSERT_EQ(search->resultList().count(), 2u);
    Ref<UITableView> table = search->tableView.lock();
    EXPECT_EQ(table->numberOfRowsInSection(0), 2);
    EXPECT_DOUBLE_EQ(table->rowHeight(), 85);
    auto news = search->resultList()[0].objectAs<QVNNews>();
    ASSERT_TRUE(news);
    auto cell = cellAt(0);
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->result(), news);
    EXPECT_EQ(cell->descTextView.lock()->text(), *news->news_title);
    EXPECT_EQ(cell->timeLabel.lock()->text(), news->news_time);
    EXPECT_EQ(cell->commentLabel.lock()->text(), std::optional(news->news_comment->stringValue() + "评论"));
}

TEST_F(SearchTest, AQuestionSearchSendsTypeFourOverEveryBrandAndShowsQuestionRows) {
    chooseType(SearchViewController::kQuestionTitle);
    EXPECT_EQ(search->newsBtn.lock()->titleForState(UIControlStateNormal),
              std::optional<std::string>(SearchViewController::kQuestionTitle));
    searchFor("原厂");
    auto request = searches().back();
    EXPECT_EQ(request.listener, devserver::Listener::Second);
    EXPECT_EQ(request.param("keyword"), std::optional<std::string>("原厂"));
    EXPECT_EQ(request.param("page"), std::optional<std::string>("0"));
    EXPECT_EQ(request.param("cars_brand"), std::optional<std::string>("0"));
    EXPECT_EQ(request.param("type"), std::optional<std::string>("4"));
    EXPECT_EQ(search->typeIndex(), 2);
    // Two titles and one body mention it.
    ASSERT_EQ(search->resultList().count(), 3u);
    auto question = search->resultList()[0].objectAs<detail::search::QuestionRow>();
    ASSERT_TRUE(question);
    auto cell = cellAt(0);
    EXPECT_EQ(cell->question(), question);
    EXPECT_EQ(cell->descTextView.lock()->text(), *question->question_title);
    EXPECT_EQ(cell->timeLabel.lock()->text(), question->addtime);
    EXPECT_EQ(cell->commentLabel.lock()->text(), std::optional(question->reply->stringValue() + "评论"));
}

TEST_F(SearchTest, TheDropDownOpensUnderTheTypeButtonAndClosesAgain) {
    auto type = search->newsBtn.lock();
    search->newsBtnClick(nullptr);
    EXPECT_TRUE(type->isSelected());
    EXPECT_EQ(search->selectedBtn(), type);
    auto news = search->btn1(), questions = search->btn2();
    ASSERT_TRUE(news && questions);
    EXPECT_EQ(news->tag(), 1);
    EXPECT_EQ(questions->tag(), 2);
    EXPECT_EQ(news->titleForState(UIControlStateNormal), std::optional<std::string>("资讯"));
    EXPECT_EQ(questions->titleForState(UIControlStateNormal), std::optional<std::string>("问吧"));
    const CGRect anchor = type->frame();
    EXPECT_DOUBLE_EQ(news->frame().origin.x, anchor.origin.x + 10);
    EXPECT_DOUBLE_EQ(news->frame().origin.y, CGRectGetMaxY(anchor));
    EXPECT_DOUBLE_EQ(questions->frame().origin.y, CGRectGetMaxY(anchor) + 32);
    EXPECT_DOUBLE_EQ(news->frame().size.width, 60);
    EXPECT_DOUBLE_EQ(news->frame().size.height, 32);
    EXPECT_EQ(news->superview(), search->view());
    search->newsBtnClick(nullptr);
    EXPECT_FALSE(type->isSelected());
    EXPECT_FALSE(search->btn1());
    EXPECT_FALSE(news->superview());
    EXPECT_FALSE(questions->superview());
}

TEST_F(SearchTest, ChoosingAnotherTypeWithoutReturnKeepsTheResultsAndTheirRows) {
    searchFor("轮毂");
    std::size_t sent = searches().size();
    chooseType(SearchViewController::kQuestionTitle);
    EXPECT_EQ(search->typeIndex(), 1);
    EXPECT_EQ(search->resultList().count(), 2u);
    EXPECT_TRUE(cellAt(0)->result());
    EXPECT_FALSE(cellAt(0)->question());
    EXPECT_EQ(searches().size(), sent);
}

// ---- pages ------------------------------------------------------------------------------------------------

TEST_F(SearchTest, PullingDownAfterEditingSearchesTheNewTextWithTheLastType) {
    searchFor("轮毂");
    chooseType(SearchViewController::kQuestionTitle);
    auto field = search->searchField.lock();
    field->setText(std::string("前唇"));
    pullDown();
    auto request = searches().back();
    EXPECT_EQ(request.param("keyword"), std::optional<std::string>("前唇"));
    EXPECT_EQ(request.param("page"), std::optional<std::string>("0"));
    EXPECT_EQ(request.param("type"), std::optional<std::string>("1"));
    ASSERT_EQ(search->resultList().count(), 2u);
    for (const Value& row : search->resultList())
        EXPECT_NE(row.objectAs<QVNNews>()->news_title->find("前唇"), std::string::npos);
}

TEST_F(SearchTest, ANewSearchAndAPullDownStartAgainFromTheFirstPage) {
    // Every sample article's body mentions it: three pages.
    searchFor("改装");
    EXPECT_EQ(search->resultList().count(), 10u);
    loadMore();
    EXPECT_EQ(searches().back().param("page"), std::optional<std::string>("1"));
    loadMore();
    EXPECT_EQ(searches().back().param("page"), std::optional<std::string>("2"));
    EXPECT_EQ(search->resultList().count(), 24u);

    searchFor("改装");
    EXPECT_EQ(searches().back().param("page"), std::optional<std::string>("0"));
    EXPECT_EQ(search->page(), 0);
    loadMore();
    EXPECT_EQ(searches().back().param("page"), std::optional<std::string>("1"));
    EXPECT_EQ(search->resultList().count(), 20u);

    pullDown();
    EXPECT_EQ(searches().back().param("page"), std::optional<std::string>("0"));
    EXPECT_EQ(search->resultList().count(), 10u);
    loadMore();
    EXPECT_EQ(searches().back().param("page"), std::optional<std::string>("1"));
    EXPECT_EQ(search->resultList().count(), 20u);
}

TEST_F(SearchTest, AnEmptyLoadMorePageAddsAndShowsNothing) {
    searchFor("轮毂");
    loadMore();
    EXPECT_EQ(searches().back().param("page"), std::optional<std::string>("1"));
    EXPECT_EQ(search->resultList().count(), 2u);
    EXPECT_EQ(hudText(), std::nullopt);
    auto footer = UIScrollView_PullRefresh::footer(*search->tableView.lock());
    EXPECT_NE(footer->state(), PullRefreshState::NoMoreData);
}

// ---- messages ------------------------------------------------------------------------------------------

TEST_F(SearchTest, NoResultShowsNoDataForASecond) {
    searchFor("不存在的关键词");
    EXPECT_TRUE(search->resultList().empty());
    EXPECT_EQ(hudText(), std::optional<std::string>("没有数据"));
    clock.advance(0.8);
    EXPECT_EQ(hudText(), std::optional<std::string>("没有数据"));
    clock.advance(0.6);
    EXPECT_EQ(hudText(), std::nullopt);
}

TEST_F(SearchTest, AFailedPageShowsSearchFailedKeepsTheListAndIsAskedAgain) {
    searchFor("改装");
    devserver::RouteControl control;
    control.status = 500;
    control.times = 1;
    server.setRouteControl("search/search.do", control);
    loadMore();
    EXPECT_EQ(searches().back().param("page"), std::optional<std::string>("1"));
    EXPECT_EQ(hudText(), std::optional<std::string>("搜索失败"));
    EXPECT_EQ(search->resultList().count(), 10u);
    clock.advance(1.5);
    EXPECT_EQ(hudText(), std::nullopt);
    loadMore();
    EXPECT_EQ(searches().back().param("page"), std::optional<std::string>("1"));
    EXPECT_EQ(search->resultList().count(), 20u);
}

TEST_F(SearchTest, AReplyThatIsNotSuccessIsAFailure) {
    server.routes().add("GET", "search/search.do",
                        [](const devserver::Request&) { return devserver::Reply::failure(0, "busy"); });
    searchFor("轮毂");
    EXPECT_EQ(hudText(), std::optional<std::string>("搜索失败"));
    EXPECT_TRUE(search->resultList().empty());
}

TEST_F(SearchTest, AReplyOfAnEarlierSearchIsDropped) {
    devserver::RouteControl control;
    control.delay = std::chrono::milliseconds(400);
    control.times = 1;
    server.setRouteControl("search/search.do", control);
    auto field = search->searchField.lock();
    UITextEntryDriver::typeText(field, "改装");
    UITextEntryDriver::pressReturn(field);
    field->setText(std::string("前唇"));
    UITextEntryDriver::focus(field);
    UITextEntryDriver::pressReturn(field);
    bool done = waitUntil([&] { return searches().size() == 2 && search->resultList().count() == 2; });
    ASSERT_TRUE(done) << searches().size() << " " << search->resultList().count();
    // The slow first reply arrives after the second and changes nothing.
    testsupport::pumpMainRunLoop(0.6);
    settle();
    ASSERT_EQ(search->resultList().count(), 2u);
    for (const Value& row : search->resultList())
        EXPECT_NE(row.objectAs<QVNNews>()->news_title->find("前唇"), std::string::npos);
}

// ---- opening a result ----------------------------------------------------------------------------------

TEST_F(SearchTest, ANewsResultOpensTheArticleScreen) {
    searchFor("轮毂");
    auto news = search->resultList()[1].objectAs<QVNNews>();
    Ref<UITableView> table = search->tableView.lock();
    search->tableViewDidSelectRowAtIndexPath(*table, NSIndexPath::indexPathForRow(1, 0));
    settle();
    auto detail = std::dynamic_pointer_cast<NewsDetailViewController>(navigation->topViewController());
    ASSERT_TRUE(detail);
    EXPECT_EQ(detail->news()->news_id->integerValue(), news->news_id->integerValue());
    EXPECT_TRUE(detail->titleTextPass().empty());
}

TEST_F(SearchTest, AQuestionResultOpensTheQuestionDetail) {
    chooseType(SearchViewController::kQuestionTitle);
    searchFor("原厂");
    auto question = search->resultList()[0].objectAs<detail::search::QuestionRow>();
    Ref<UITableView> table = search->tableView.lock();
    search->tableViewDidSelectRowAtIndexPath(*table, NSIndexPath::indexPathForRow(0, 0));
    settle();
    auto detail = std::dynamic_pointer_cast<FakeQuestionDetail>(navigation->topViewController());
    ASSERT_TRUE(detail);
    EXPECT_EQ(detail->questionId->integerValue(), question->question_id->integerValue());
}

TEST_F(SearchTest, WithoutTheForumAQuestionResultOpensNothing) {
    chooseType(SearchViewController::kQuestionTitle);
    searchFor("原厂");
    UIStoryboard::unregisterStoryboard("MyRizUr");
    Ref<UITableView> table = search->tableView.lock();
    search->tableViewDidSelectRowAtIndexPath(*table, NSIndexPath::indexPathForRow(0, 0));
    settle();
    EXPECT_EQ(navigation->topViewController(), search);
}

TEST_F(SearchTest, DraggingTheResultsEndsEditingAndAMissingCountShowsZero) {
    searchFor("轮毂");
    auto field = search->searchField.lock();
    ASSERT_TRUE(UITextEntryDriver::focus(field));
    search->scrollViewWillBeginDragging(*search->tableView.lock());
    EXPECT_FALSE(field->isFirstResponder());
    search->resultList()[0].objectAs<QVNNews>()->news_comment.reset();
    EXPECT_EQ(cellAt(0)->commentLabel.lock()->text(), std::optional<std::string>("0评论"));
}

TEST_F(SearchTest, CancelLeavesTheSearch) {
    search->cancelBtnClick(nullptr);
    settle();
    EXPECT_NE(navigation->topViewController(), search);
}

// ---- records and the shared-client call ---------------------------------------------------------------

TEST(QVNSeachResultTest, TakesEachFieldByNameAsText) {
    Dictionary row{{"news_id", 7},
                   {"news_title", "标题"},
                   {"news_comment", 3},
                   {"news_pic", "http://x/p.png"},
                   {"news_time", "2026-11-01"},
                   {"other", "ignored"}};
    auto result = QVNSeachResult::searchResultWithDict(row);
    EXPECT_EQ(result->news_id, std::optional<std::string>("7"));
    EXPECT_EQ(result->news_title, std::optional<std::string>("标题"));
    EXPECT_EQ(result->news_comment, std::optional<std::string>("3"));
    EXPECT_EQ(result->news_pic, std::optional<std::string>("http://x/p.png"));
    EXPECT_FALSE(result->news_status);
    EXPECT_FALSE(result->news_top);
}

TEST_F(SearchTest, TheSharedClientSearchGoesToTheAppRoot) {
    std::optional<std::optional<Dictionary>> reply;
    QVNSearch::searchForType(1, "轮毂", 0, [&](const std::optional<Dictionary>& r) { reply = r; });
    ASSERT_TRUE(waitUntil([&] { return reply.has_value(); }));
    ASSERT_TRUE(reply->has_value());
    EXPECT_EQ((*reply)->objectForKey("data").array()->count(), 2u);
    auto request = searches().back();
    EXPECT_EQ(request.listener, devserver::Listener::Main);
    EXPECT_EQ(request.param("type"), std::optional<std::string>("1"));
    EXPECT_EQ(request.param("page"), std::optional<std::string>("0"));

    reply.reset();
    QVNSearch::searchForType(9, "轮毂", 0, [&](const std::optional<Dictionary>& r) { reply = r; });
    ASSERT_TRUE(waitUntil([&] { return reply.has_value(); }));
    EXPECT_FALSE(reply->has_value());
}

}  // namespace
