// The shared list data source, the advertisement page and the rotation rule of navigation stacks.

#include <gtest/gtest.h>

#include <type_traits>

#include "app/ArrayDataSource.h"
#include "app/QVNNavigationController.h"
#include "app/UINavigationController+AutoRotate.h"
#include "app/WebViewController.h"
#include "tests/app/AppTestSupport.h"
#include "uikit/UIButton.h"
#include "uikit/UICollectionViewCell.h"
#include "uikit/UICollectionViewFlowLayout.h"
#include "uikit/UITableViewCell.h"
#include "uikit/UIWindow.h"

namespace {

Ref<NSIndexPath> row(long r, long section = 0) {
    return NSIndexPath::indexPathForRow(r, section);
}

struct Configured {
    std::vector<std::pair<Ref<UIView>, Value>> calls;
    ArrayDataSource::ConfigureCellBlock block() {
        return [this](const Ref<UIView>& cell, const Value& item) { calls.emplace_back(cell, item); };
    }
};

}  // namespace

// ---- ArrayDataSource -----------------------------------------------------------------------------

TEST(ArrayDataSourceTest, ThereIsNoPlainInitialiser) {
    static_assert(!std::is_default_constructible_v<ArrayDataSource>);
    SUCCEED();
}

TEST(ArrayDataSourceTest, NilItemsGiveAnEmptyMutableList) {
    auto source = make<ArrayDataSource>(std::nullopt, "Cell", nullptr);
    auto table = make<UITableView>(CGRectMake(0, 0, 320, 480));
    EXPECT_EQ(source->tableViewNumberOfRowsInSection(*table, 0), 0);
    source->addItem(Value("a"));
    source->addItems(Array{Value("b"), Value(3)});
    EXPECT_EQ(source->tableViewNumberOfRowsInSection(*table, 0), 3);
    EXPECT_EQ(source->tableViewNumberOfRowsInSection(*table, 7), 3);  // the section is ignored
    EXPECT_EQ(source->itemAtIndexPath(row(2, 5)), Value(3));
}

TEST(ArrayDataSourceTest, ItemsAreCopiedAndThenSharedWithTheClient) {
    Array original = Array::mutableArray();
    original.addObject(Value("x"));
    auto source = make<ArrayDataSource>(original, "Cell", nullptr);
    original.addObject(Value("y"));
    EXPECT_EQ(source->items().count(), 1u);
    EXPECT_FALSE(source->items().isSameArray(original));
    Array handle = source->items();
    handle.removeAllObjects();  // clients change the list directly
    EXPECT_EQ(source->items().count(), 0u);
}

TEST(ArrayDataSourceTest, RowsOutsideTheItemsAreNil) {
    auto source = make<ArrayDataSource>(Array{Value(1)}, "Cell", nullptr);
    EXPECT_TRUE(source->itemAtIndexPath(row(1)).isNil());
    EXPECT_TRUE(source->itemAtIndexPath(row(-1)).isNil());
    EXPECT_TRUE(source->itemAtIndexPath(nullptr).isNil());
}

TEST(ArrayDataSourceTest, TableCellsAreDequeuedConfiguredAndNeverHighlighted) {
    Configured configured;
    auto source =
        make<ArrayDataSource>(Array{Value("first"), Value("second")}, "CarCell", configured.block());
    auto table = make<UITableView>(CGRectMake(0, 0, 320, 480));
    table->registerClass<UITableViewCell>("CarCell");
    table->setDataSource(source);
    source->setTableView(table);
    EXPECT_EQ(source->tableView(), table);

    auto cell = source->tableViewCellForRowAtIndexPath(*table, row(1));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->reuseIdentifier(), "CarCell");
    EXPECT_EQ(cell->selectionStyle(), UITableViewCellSelectionStyleNone);
    ASSERT_EQ(configured.calls.size(), 1u);
    EXPECT_EQ(configured.calls[0].first, cell);
    EXPECT_EQ(configured.calls[0].second, Value("second"));
}

TEST(ArrayDataSourceTest, TheTableSeesNewItemsOnlyAfterAReload) {
    Configured configured;
    auto source = make<ArrayDataSource>(Array{Value(1), Value(2)}, "Cell", configured.block());
    auto table = make<UITableView>(CGRectMake(0, 0, 320, 480));
    table->registerClass<UITableViewCell>("Cell");
    table->setDataSource(source);
    table->reloadData();
    EXPECT_EQ(table->numberOfRowsInSection(0), 2);
    source->addItem(Value(3));
    EXPECT_EQ(table->numberOfRowsInSection(0), 2);
    table->reloadData();
    EXPECT_EQ(table->numberOfRowsInSection(0), 3);
    table->layoutVisibleRows();
    EXPECT_GE(configured.calls.size(), 3u);
    EXPECT_TRUE(table->cellForRowAtIndexPath(row(2)));
}

TEST(ArrayDataSourceTest, ChangingTheIdentifierAndBlockTakesEffect) {
    auto source = make<ArrayDataSource>(Array{Value("a")}, "Old", nullptr);
    auto table = make<UITableView>(CGRectMake(0, 0, 320, 480));
    table->registerClass<UITableViewCell>("New");
    source->setCellIdentifier("New");
    EXPECT_EQ(source->tableViewCellForRowAtIndexPath(*table, row(0))->reuseIdentifier(),
              "New");  // no block: fine
    int calls = 0;
    source->setConfigureCellBlock([&](const Ref<UIView>&, const Value&) { ++calls; });
    source->tableViewCellForRowAtIndexPath(*table, row(0));
    EXPECT_EQ(calls, 1);
}

TEST(ArrayDataSourceTest, CollectionCells) {
    Configured configured;
    auto source =
        make<ArrayDataSource>(Array{Value("m1"), Value("m2"), Value("m3")}, "Mask", configured.block());
    auto collection = make<UICollectionView>(CGRectMake(0, 0, 320, 100), make<UICollectionViewFlowLayout>());
    collection->registerClass<UICollectionViewCell>("Mask");
    collection->setDataSource(source);
    EXPECT_EQ(source->collectionViewNumberOfItemsInSection(*collection, 0), 3);
    EXPECT_EQ(collection->numberOfItemsInSection(0), 3);
    auto cell =
        source->collectionViewCellForItemAtIndexPath(*collection, NSIndexPath::indexPathForItem(2, 0));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->reuseIdentifier(), "Mask");
    ASSERT_FALSE(configured.calls.empty());
    EXPECT_EQ(configured.calls.back().first, cell);
    EXPECT_EQ(configured.calls.back().second, Value("m3"));
}

// ---- WebViewController ---------------------------------------------------------------------------

class WebViewControllerTest : public apptest::ServerTest {};

TEST_F(WebViewControllerTest, LoadsTheAdvertisementScaledToFit) {
    server.setReply("/ad/1.html",
                    testsupport::ScriptedReply::text("<html><body>ad</body></html>", 200, "text/html"));
    auto page = make<WebViewController>();
    page->setAdvertisementURL(NSURL::URLWithString(server.url("/ad/1.html")));
    EXPECT_FALSE(page->isViewLoaded());
    page->loadViewIfNeeded();
    auto web = page->webView.lock();
    ASSERT_TRUE(web);
    EXPECT_TRUE(web->scalesPageToFit());
    ASSERT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return web->request() != nullptr; }, 10));
    EXPECT_EQ(web->request()->URL()->absoluteString(), server.url("/ad/1.html"));
    EXPECT_EQ(web->request()->cachePolicy(), NSURLRequestUseProtocolCachePolicy);
    EXPECT_EQ(web->request()->timeoutInterval(), 60.0);
    EXPECT_TRUE(testsupport::pumpMainRunLoopUntil([&] { return server.requestCount() >= 1; }, 10));
}

TEST_F(WebViewControllerTest, WithoutAURLNothingLoads) {
    auto page = make<WebViewController>();
    page->loadViewIfNeeded();
    testsupport::pumpMainRunLoop(0.1);
    ASSERT_TRUE(page->webView.lock());
    EXPECT_FALSE(page->webView.lock()->request());
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(WebViewControllerTest, PortraitWithALightStatusBar) {
    auto page = make<WebViewController>();
    EXPECT_EQ(page->supportedInterfaceOrientations(), 2u);
    EXPECT_EQ(page->preferredInterfaceOrientationForPresentation(), 1);
    EXPECT_EQ(page->preferredStatusBarStyle(), 1);
}

TEST_F(WebViewControllerTest, TheBackButtonPopsAnimated) {
    testsupport::ManualClock clock;
    auto root = make<UIViewController>();
    auto navigation = make<QVNNavigationController>(root);
    auto window = make<UIWindow>(CGRectMake(0, 0, 375, 667));
    window->setRootViewController(navigation);
    window->makeKeyAndVisible();
    auto page = make<WebViewController>();
    page->setAdvertisementURL(NSURL::URLWithString(server.url("/a")));
    navigation->pushViewController(page, false);
    ASSERT_EQ(navigation->viewControllers().size(), 2u);
    auto back = page->backButton.lock();
    ASSERT_TRUE(back);
    back->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(navigation->viewControllers().size(), 1u);
    EXPECT_TRUE(navigation->isTransitioning());  // animated
    clock.advance(1);
    EXPECT_FALSE(navigation->isTransitioning());
    window->setHidden(true);
}

// ---- navigation stacks ask their top screen --------------------------------------------------------

namespace {

class FixedScreen : public UIViewController {
  public:
    FixedScreen(bool rotates, UIInterfaceOrientationMask mask) : rotates_(rotates), mask_(mask) {}
    bool shouldAutorotate() const override { return rotates_; }
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override { return mask_; }
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override {
        return UIInterfaceOrientationLandscapeLeft;
    }

  private:
    bool rotates_;
    UIInterfaceOrientationMask mask_;
};

class AutoRotateTest : public ::testing::Test {
  protected:
    void SetUp() override { UINavigationController_AutoRotate::install(); }
    void TearDown() override { UINavigationController::setAutorotationHooks({}); }
};

}  // namespace

TEST_F(AutoRotateTest, TheTopScreenDecides) {
    auto home = make<FixedScreen>(false, UIInterfaceOrientationMaskPortrait);
    auto navigation = make<QVNNavigationController>(home);
    EXPECT_FALSE(navigation->shouldAutorotate());
    EXPECT_EQ(navigation->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
    EXPECT_EQ(navigation->preferredInterfaceOrientationForPresentation(),
              UIInterfaceOrientationLandscapeLeft);
    EXPECT_FALSE(navigation->shouldAutorotateToInterfaceOrientation(UIInterfaceOrientationLandscapeLeft));
    EXPECT_TRUE(navigation->shouldAutorotateToInterfaceOrientation(UIInterfaceOrientationPortrait));

    navigation->pushViewController(make<FixedScreen>(true, UIInterfaceOrientationMaskAll), false);
    EXPECT_TRUE(navigation->shouldAutorotate());
    EXPECT_EQ(navigation->supportedInterfaceOrientations(), UIInterfaceOrientationMaskAll);
}

TEST_F(AutoRotateTest, PlainNavigationControllersToo) {
    auto navigation = make<UINavigationController>(make<WebViewController>());
    EXPECT_EQ(navigation->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
    EXPECT_EQ(navigation->preferredInterfaceOrientationForPresentation(), UIInterfaceOrientationPortrait);
}

TEST_F(AutoRotateTest, AnEmptyStackSaysNo) {
    auto navigation = make<UINavigationController>();
    ASSERT_TRUE(navigation->viewControllers().empty());
    EXPECT_FALSE(navigation->shouldAutorotate());
    EXPECT_EQ(navigation->supportedInterfaceOrientations(), 0u);
    EXPECT_EQ(navigation->preferredInterfaceOrientationForPresentation(), 0);
    EXPECT_FALSE(navigation->shouldAutorotateToInterfaceOrientation(UIInterfaceOrientationPortrait));
    EXPECT_EQ(make<QVNNavigationController>()->className(), "QVNNavigationController");
}
