// The event tab against the stand-in server: the first page in cells, paging to the end, and a
// sign-in reloading the list so that is_join follows the user.

#include <gtest/gtest.h>

#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "foundation/NSNotificationCenter.h"
#include "information/ActivityListViewController.h"
#include "information/InformationScenes.h"
#include "information/VideosViewController.h"
#include "tests/information/InformationTestSupport.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UIWindow.h"

using namespace infotest;

namespace {

class ActivityListViewControllerTest : public InformationServerTest {
  protected:
    Ref<ActivityListViewController> shown() {
        InformationScenes::registerAll();
        auto screen = std::dynamic_pointer_cast<ActivityListViewController>(
            UIStoryboard::storyboardWithName("MyActivity", nullptr)
                ->instantiateViewControllerWithIdentifier("ActivityListViewController"));
        EXPECT_TRUE(screen);
        if (!screen) return nullptr;
        window = make<UIWindow>(UIScreen::mainScreen()->bounds());
        window->setRootViewController(screen);
        window->makeKeyAndVisible();
        EXPECT_TRUE(waitUntil([&] { return !screen->dataProvider()->activities().empty(); }));
        return screen;
    }
    void TearDown() override {
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
