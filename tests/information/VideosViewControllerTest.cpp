// The video tab against the stand-in server: the first page on load, load-more to the end, a
// failed refresh keeping the list, and the cells' texts.

#include <gtest/gtest.h>

#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "information/InformationScenes.h"
#include "information/VideosViewController.h"
#include "tests/information/InformationTestSupport.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UIWindow.h"

using namespace infotest;

namespace {

class VideosViewControllerTest : public InformationServerTest {
  protected:
    Ref<VideosViewController> loaded() {
        InformationScenes::registerAll();
        auto screen = std::dynamic_pointer_cast<VideosViewController>(
            UIStoryboard::storyboardWithName("MyVideo", nullptr)
                ->instantiateViewControllerWithIdentifier("VideosViewController"));
        EXPECT_TRUE(screen);
        if (!screen) return nullptr;
        // As on the home screen: the page is in a window, where its header's refresh runs.
        window = make<UIWindow>(UIScreen::mainScreen()->bounds());
        window->setRootViewController(screen);
        window->makeKeyAndVisible();
        EXPECT_TRUE(waitUntil([&] { return !screen->videoList().empty(); }));
        return screen;
    }
    void TearDown() override {
        window = nullptr;
        InformationServerTest::TearDown();
    }
    Ref<UIWindow> window;
};

TEST_F(VideosViewControllerTest, LoadsTheFirstPageAndFillsTheCells) {
    auto screen = loaded();
    ASSERT_TRUE(screen);
    Ref<UITableView> table = screen->tableView.lock();
    ASSERT_TRUE(table);
    EXPECT_EQ(table->numberOfRowsInSection(0), 10);
    auto cell = std::dynamic_pointer_cast<QVNVideoTableViewCell>(
        screen->tableViewCellForRowAtIndexPath(*table, NSIndexPath::indexPathForRow(0, 0)));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->title.lock()->text(), *screen->videoList()[0]->video_title());
    EXPECT_EQ(cell->view.lock()->text(), screen->videoList()[0]->video_view()->stringValue() + "条评论");
    EXPECT_EQ(cell->date.lock()->text(), *screen->videoList()[0]->video_time());
}

TEST_F(VideosViewControllerTest, LoadMoreAppendsThenEndsWithNoMoreData) {
    auto screen = loaded();
    ASSERT_TRUE(screen);
    screen->loadMore();
    ASSERT_TRUE(waitUntil([&] { return screen->videoList().size() == 15; }));
    server.clearRequests();
    screen->loadMore();
    ASSERT_TRUE(waitUntil([&] { return !server.requestsTo("video/getvideolist.do").empty(); }));
    testsupport::pumpMainRunLoop(0.2);
    auto footer = UIScrollView_PullRefresh::footer(*screen->tableView.lock());
    ASSERT_TRUE(footer);
    EXPECT_EQ(footer->state(), PullRefreshState::NoMoreData);
    EXPECT_EQ(screen->videoList().size(), 15u);
}

TEST_F(VideosViewControllerTest, AFailedRefreshKeepsWhatWasShown) {
    auto screen = loaded();
    ASSERT_TRUE(screen);
    devserver::RouteControl control;
    control.body = devserver::RouteControl::Body::NoResultCode;
    server.setRouteControl("video/getvideolist.do", control);
    server.clearRequests();
    screen->loadFirstPage();
    ASSERT_TRUE(waitUntil([&] { return !server.requestsTo("video/getvideolist.do").empty(); }));
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(screen->videoList().size(), 10u);
}

TEST_F(VideosViewControllerTest, AnInvalidPictureAddressKeepsThePlaceholderWithoutACrash) {
    auto screen = loaded();
    ASSERT_TRUE(screen);
    Dictionary row{{"video_id", 99}, {"video_title", "坏地址"}, {"video_pic", "ht tp://bad url\x01"}};
    screen->videoList().insert(screen->videoList().begin(), make<QVNVideo>(Value(row)));
    Ref<UITableView> table = screen->tableView.lock();
    auto cell = std::dynamic_pointer_cast<QVNVideoTableViewCell>(
        screen->tableViewCellForRowAtIndexPath(*table, NSIndexPath::indexPathForRow(0, 0)));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->title.lock()->text(), "坏地址");
    EXPECT_EQ(cell->view.lock()->text(), "0条评论");
}

}  // namespace
