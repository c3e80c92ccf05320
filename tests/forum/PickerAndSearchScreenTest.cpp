// Two forum screens as a user's finger meets them: the photo picker's album list, whose first row
// must lie wholly below the picker's bar, and the question list's keyword search, whose short first
// page ends the list instead of being asked for again (checked in the stand-in server's log).

#include <gtest/gtest.h>

#include "controls/PullRefreshFooter.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "forum/ForumScenes.h"
#include "forum/PKAssetPickerController.h"
#include "forum/RizUrListViewController.h"
#include "system/SystemTesting.h"
#include "tests/app/AreaStandIns.h"
#include "tests/forum/ForumTestSupport.h"
#include "tests/forum/ForumWindowTest.h"
#include "tests/support/ScreenTestSupport.h"
#include "uikit/UIApplication.h"
#include "uikit/UIBars.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextEntryDriver.h"
#include "uikit/UIWindow.h"

using namespace forumtest;

namespace {

class PickerAndSearchScreenTest : public ForumWindowTest {
  protected:
    void show(const Ref<UIViewController>& root) {
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        testsupport::drainMainRunLoop();
    }
};

}  // namespace

TEST_F(PickerAndSearchScreenTest, ATapOnTheTopHalfOfTheFirstAlbumOpensIt) {
    std::string album = system_testing::addPhotoGroup("改装", ALAssetsGroupAlbum);
    system_testing::addPhoto(album, testsupport::solidImage(CGSizeMake(60, 40), 0.2, 0.5, 0.5));
    auto picker = make<PKAssetPickerController>();
    show(picker);
    auto groups = std::dynamic_pointer_cast<PKAssetGroupViewController>(picker->topViewController());
    ASSERT_TRUE(groups);
    ASSERT_TRUE(waitUntil([&] { return !groups->groups.empty(); }));
    auto table = groups->tableView();
    table->layoutIfNeeded();

    // The first row begins where the bar ends, not under it.
    const CGRect row = table->rectForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0));
    const CGRect bar = picker->navigationBar()->convertRectToView(picker->navigationBar()->bounds(), nullptr);
    const CGRect shown = table->convertRectToView(row, nullptr);
    EXPECT_GE(shown.origin.y, CGRectGetMaxY(bar));

    // A quarter of the way down the row, where a thumb reaching for the top of the list lands.
    UITestDriver::tapAt(table, CGPointMake(CGRectGetMidX(row), row.origin.y + row.size.height / 4));
    ASSERT_TRUE(waitUntil(
        [&] {
            return std::dynamic_pointer_cast<PKAssetViewController>(picker->topViewController()) != nullptr;
        },
        5));
    auto grid = std::dynamic_pointer_cast<PKAssetViewController>(picker->topViewController());
    EXPECT_EQ(grid->assetsGroup, groups->groups.front());
}

TEST_F(PickerAndSearchScreenTest, AShortKeywordPageEndsTheListWithoutAskingAgain) {
    auto list = scene<RizUrListViewController>("RizUrListViewController");
    ASSERT_TRUE(list);
    navigation = make<UINavigationController>(list);
    // As in the app, whose navigation controller hides its bar: the screens draw their own.
    navigation->setNavigationBarHidden(true, false);
    show(navigation);
    ASSERT_TRUE(waitUntil([&] { return list->questions().size() == 10; }));

    auto field = list->seachfieldd.lock();
    ASSERT_TRUE(field);
    UITestDriver::tap(field);
    UITextEntryDriver::typeText(field, "尾翼");
    UITextEntryDriver::pressReturn(field);
    ASSERT_TRUE(waitUntil([&] { return list->questions().size() == 2; }));
    ASSERT_EQ(server.requestsTo("search/search.do").size(), 1u);
    const std::size_t plainPages = server.requestsTo("question/getquestionlist.do").size();

    // The user pushes the short list up to reach its footer.
    auto table = list->tableView.lock();
    auto footer = UIScrollView_PullRefresh::footer(*table);
    ASSERT_TRUE(footer);
    const CGRect bounds = table->bounds();
    const CGPoint from = CGPointMake(bounds.size.width / 2, bounds.size.height * 0.7);
    const CGPoint to = CGPointMake(bounds.size.width / 2, bounds.size.height * 0.3);
    // A finger finds the list only once the header's closing animation is over.
    const CGPoint onScreen = table->convertPointToView(from, nullptr);
    ASSERT_TRUE(waitUntil(
        [&] {
            auto hit = window->hitTest(onScreen, nullptr);
            return hit && hit->isDescendantOfView(table);
        },
        5));
    UITestDriver::drag(table, from, to);
    ASSERT_TRUE(waitUntil([&] { return footer->state() == PullRefreshState::NoMoreData; }, 5));
    testsupport::pumpMainRunLoop(0.3);
    // No page 0 again, and not the plain list either; the rows stay the search's.
    EXPECT_EQ(server.requestsTo("search/search.do").size(), 1u);
    EXPECT_EQ(server.requestsTo("question/getquestionlist.do").size(), plainPages);
    EXPECT_EQ(list->questions().size(), 2u);
}
