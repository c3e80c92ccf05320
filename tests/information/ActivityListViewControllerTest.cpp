// The event tab against the stand-in server: the first page in cells, paging to the end, a
// sign-in reloading the list so that is_join follows the user, and the ways on from it (a row to
// the event's page, the header picture to the events web page).

#include <gtest/gtest.h>

#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "foundation/NSNotificationCenter.h"
#include "information/ActivityDetailViewController.h"
#include "information/ActivityListViewController.h"
#include "information/ActivvityHeaderViewController.h"
#include "information/InformationScenes.h"
#include "information/VideosViewController.h"
#include "tests/information/InformationTestSupport.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"

using namespace infotest;

namespace {

class ActivityListViewControllerTest : public InformationServerTest {
  protected:
    // In a navigation controller when asked, as the home screen holds it.
    Ref<ActivityListViewController> shown(bool inNavigation = false) {
        InformationScenes::registerAll();
        auto screen = std::dynamic_pointer_cast<ActivityListViewController>(
            UIStoryboard::storyboardWithName("MyActivity", nullptr)
                ->instantiateViewControllerWithIdentifier("ActivityListViewController"));
        EXPECT_TRUE(screen);
        if (!screen) return nullptr;
        window = make<UIWindow>(UIScreen::mainScreen()->bounds());
        if (inNavigation) {
            navigation = make<UINavigationController>(screen);
            // As the app's own: the screens draw their own title bars.
            navigation->setNavigationBarHidden(true, false);
            window->setRootViewController(navigation);
        } else {
            window->setRootViewController(screen);
        }
        window->makeKeyAndVisible();
        EXPECT_TRUE(waitUntil([&] { return !screen->dataProvider()->activities().empty(); }));
        return screen;
    }
    void TearDown() override {
        navigation = nullptr;
        window = nullptr;
        InformationServerTest::TearDown();
    }
    Ref<QVNActivityCell> cellAt(const Ref<ActivityListViewController>& screen, long row) {
        Ref<UITableView> table = screen->tableView();
        return std::dynamic_pointer_cast<QVNActivityCell>(
            screen->dataProvider()->tableViewCellForRowAtIndexPath(*table,
                                                                   NSIndexPath::indexPathForRow(row, 0)));
    }
    Ref<UIWindow> window;
    Ref<UINavigationController> navigation;
};

TEST_F(ActivityListViewControllerTest, CellsShowDateTitleCountAndSummary) {
    auto screen = shown();
    ASSERT_TRUE(screen);
    ASSERT_EQ(screen->tableView()->numberOfRowsInSection(0), 3);
    auto cell = cellAt(screen, 0);
    ASSERT_TRUE(cell);
    const Ref<QVNActivity>& activity = screen->dataProvider()->activities()[0];
    EXPECT_EQ(cell->activity(), activity);
    EXPECT_EQ(cell->dateButton.lock()->titleForState(UIControlStateNormal), activity->addtime->substr(0, 10));
    EXPECT_FALSE(cell->dateButton.lock()->isUserInteractionEnabled());
    EXPECT_EQ(cell->titleLabel.lock()->text(), *activity->event_title);
    EXPECT_EQ(cell->joinCountLabel.lock()->text(), "参与人数" + activity->rest->stringValue());
    EXPECT_EQ(cell->summaryLabel.lock()->text(), *activity->event_summary);
    EXPECT_FALSE(screen->dataProvider()->activityForIndexPath(NSIndexPath::indexPathForRow(3, 0)));
}

TEST_F(ActivityListViewControllerTest, LoadMoreEndsPagingOnAnEmptyPage) {
    auto screen = shown();
    ASSERT_TRUE(screen);
    server.clearRequests();
    screen->loadMore();
    ASSERT_TRUE(waitUntil([&] { return !server.requestsTo("event/geteventlist.do").empty(); }));
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(lastRequestTo("event/geteventlist.do").queryParam("event_id"),
              std::to_string(screen->dataProvider()->activities().back()->event_id->integerValue()));
    EXPECT_EQ(UIScrollView_PullRefresh::footer(*screen->tableView())->state(), PullRefreshState::NoMoreData);
    EXPECT_EQ(screen->dataProvider()->activities().size(), 3u);
}

TEST_F(ActivityListViewControllerTest, ASignInReloadsTheListWithTheToken) {
    auto screen = shown();
    ASSERT_TRUE(screen);
    std::string token = signIn(1);
    server.clearRequests();
    NSNotificationCenter::defaultCenter()->postNotificationName("LogoutSuccess", nullptr);
    ASSERT_TRUE(waitUntil([&] { return !server.requestsTo("event/geteventlist.do").empty(); }));
    EXPECT_EQ(lastRequestTo("event/geteventlist.do").queryParam("user_token"), token);
    EXPECT_TRUE(waitUntil([&] { return screen->dataProvider()->activities().size() == 3; }));
}

}  // namespace

TEST_F(ActivityListViewControllerTest, ADateShorterThanTenCharactersShowsWhole) {
    auto cell = make<QVNActivityCell>(UITableViewCellStyleDefault, std::string("ActivityCell"));
    auto activity = make<QVNActivity>();
    for (const auto& [addtime, shown] : std::vector<std::pair<std::optional<std::string>, std::string>>{
             {"2026-1", "2026-1"},
             {"2026-11-20", "2026-11-20"},
             {"2026-11-20 10:00:00", "2026-11-20"},
             {std::string(), ""},
             {std::nullopt, ""}}) {
        activity->addtime = addtime;
        cell->setActivity(activity);
        EXPECT_EQ(cell->dateButton.lock()->titleForState(UIControlStateNormal).value_or(""), shown);
    }
}

TEST_F(ActivityListViewControllerTest, RowsAreAsHighAsTheTemplateCellMeasures) {
    auto screen = shown();
    ASSERT_TRUE(screen);
    Ref<UITableView> table = screen->tableView();
    auto height = screen->tableViewHeightForRowAtIndexPath(*table, NSIndexPath::indexPathForRow(0, 0));
    ASSERT_TRUE(height);
    // The cell's height and the separator's pixel.
    EXPECT_NEAR(*height, QVNActivityCell::kHeight, 1.0);
    EXPECT_GE(*height, QVNActivityCell::kHeight);
    EXPECT_FALSE(screen->automaticallyAdjustsScrollViewInsets());
}

TEST_F(ActivityListViewControllerTest, ARowOpensThatEventsPage) {
    auto screen = shown(true);
    ASSERT_TRUE(screen);
    Ref<UITableView> table = screen->tableView();
    screen->tableViewDidSelectRowAtIndexPath(*table, NSIndexPath::indexPathForRow(1, 0));
    ASSERT_TRUE(waitUntil([&] { return navigation->topViewController() != screen; }));
    auto detail = std::dynamic_pointer_cast<ActivityDetailViewController>(navigation->topViewController());
    ASSERT_TRUE(detail);
    EXPECT_EQ(detail->activity(), screen->dataProvider()->activities()[1]);
}

TEST_F(ActivityListViewControllerTest, ARowPastTheEndOpensNothing) {
    auto screen = shown(true);
    ASSERT_TRUE(screen);
    Ref<UITableView> table = screen->tableView();
    screen->tableViewDidSelectRowAtIndexPath(*table, NSIndexPath::indexPathForRow(9, 0));
    testsupport::pumpMainRunLoop(0.1);
    EXPECT_EQ(navigation->topViewController(), screen);
}

TEST_F(ActivityListViewControllerTest, TheHeaderPictureOpensTheEventsPage) {
    auto screen = shown(true);
    ASSERT_TRUE(screen);
    auto picture = screen->headerImageView.lock();
    ASSERT_TRUE(picture);
    EXPECT_EQ(screen->tableView()->tableHeaderView(), picture);
    // The refresh control's closing animation takes no touches while it runs.
    testsupport::pumpMainRunLoop(0.6);
    UITestDriver::tap(picture);
    ASSERT_TRUE(waitUntil([&] { return navigation->topViewController() != screen; }, 5));
    EXPECT_TRUE(std::dynamic_pointer_cast<ActivvityHeaderViewController>(navigation->topViewController()));
}

TEST_F(ActivityListViewControllerTest, ARefreshAfterTheEndLetsPagingGoOnAgain) {
    auto screen = shown();
    ASSERT_TRUE(screen);
    auto footer = UIScrollView_PullRefresh::footer(*screen->tableView());
    screen->loadMore();
    ASSERT_TRUE(waitUntil([&] { return footer->state() == PullRefreshState::NoMoreData; }));
    information->addEvent(devserver::EventItem{});
    server.clearRequests();
    screen->loadFirstPage();
    ASSERT_TRUE(waitUntil([&] { return screen->dataProvider()->activities().size() == 4; }));
    EXPECT_NE(footer->state(), PullRefreshState::NoMoreData);
}
