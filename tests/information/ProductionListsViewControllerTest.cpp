// The entry galleries inside a navigation controller against the stand-in server: both scenes,
// the cards, paging (a second page placed on either grid, a refresh dropping a page asked for the
// list it replaced), voting (signed out, counted once, refused twice, an expired token, an entry
// no longer held), "try this car" opening the studio on the entry's tuning list, the HUDs on the
// manual clock, and a golden picture of the waterfall gallery.

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>

#include "app/QVNAccountScreens.h"
#include "app/QVNCarScreens.h"
#include "app/QVNTuningList.h"
#include "app/UIColor+Extensions.h"
#include "controls/PullRefreshAutoNormalFooter.h"
#include "controls/PullRefreshNormalHeader.h"
#include "controls/UIScrollView+PullRefresh.h"
#include "information/InformationScenes.h"
#include "information/ProductionListViewController.h"
#include "information/ProductionListsViewController.h"
#include "tests/app/AreaStandIns.h"
#include "tests/information/InformationTestSupport.h"
#include "tests/support/GoldenImage.h"
#include "tests/support/ScreenTestSupport.h"
#include "uikit/UIApplication.h"
#include "uikit/UINavigationController.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

using namespace infotest;

namespace {

// The car studio as the galleries see it: the initial screen of "Car", taking a tuning list.
using standins::LoginStandIn;
using standins::StudioStandIn;

// Holds the next-page requests of the entry list until opened (at most five seconds).
struct PageGate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        opened.notify_all();
    }
};

class ProductionGalleryTest : public InformationServerTest, protected testsupport::NavigationWindow {
  protected:
    void SetUp() override {
        InformationServerTest::SetUp();
        InformationScenes::registerAll();
        UIStoryboard::registerScene(
            QVNAccountScreens::kStoryboard, QVNAccountScreens::kLoginIdentifier,
            [](UIStoryboard&) -> Ref<UIViewController> { return make<LoginStandIn>(); });
        openWindow();
        testsupport::drainMainRunLoop();
    }
    void TearDown() override {
        if (gate) gate->release();
        closeWindow();
        UIStoryboard::unregisterStoryboard(QVNAccountScreens::kStoryboard);
        UIStoryboard::unregisterStoryboard(QVNCarScreens::kStoryboard);
        InformationServerTest::TearDown();
    }

    bool waitAdvancing(const std::function<bool()>& condition, double seconds = 10) {
        return testsupport::waitAdvancing(clock, condition, seconds);
    }

    Ref<QVNActivity> event(const std::string& title) {
        for (const auto& item : information->events()) {
            if (item.event_title != title) continue;
            auto activity = make<QVNActivity>();
            activity->event_id = NSNumber::numberWithLong(item.event_id);
            activity->event_title = item.event_title;
            activity->category = NSNumber::numberWithLong(item.category);
            return activity;
        }
        ADD_FAILURE() << title;
        return nullptr;
    }
    Ref<QVNActivity> photoEvent() { return event("晒出你的爱车"); }
    Ref<QVNActivity> tuningEvent() { return event("改装方案大赛"); }

    // Instantiates a gallery scene, hands it the event and pushes it; waits for the first page.
    template <class T>
    Ref<T> open(const std::string& identifier, const Ref<QVNActivity>& activity, std::size_t expected) {
        auto screen = UIStoryboard::storyboardWithName("MyActivity", nullptr)
                          ->instantiateViewControllerWithIdentifier(identifier);
        auto handOver = std::dynamic_pointer_cast<InformationScreens::ActivityHandOver>(screen);
        EXPECT_TRUE(handOver) << identifier;
        if (!handOver) return nullptr;
        handOver->setActivity(activity);
        return push(std::dynamic_pointer_cast<T>(screen), expected);
    }
    template <class T>
    Ref<T> push(const Ref<T>& gallery, std::size_t expected) {
        EXPECT_TRUE(gallery);
        if (!gallery) return nullptr;
        navigation->pushViewController(gallery, false);
        EXPECT_TRUE(waitAdvancing([&] { return gallery->productions().size() == expected; }));
        gallery->view()->layoutIfNeeded();
        return gallery;
    }
    Ref<ProductionListsViewController> openWaterfall(const Ref<QVNActivity>& activity,
                                                     std::size_t expected = 10) {
        return open<ProductionListsViewController>("ProductionListsViewController", activity, expected);
    }

    static Ref<QVNProductionSecondcell> card(const Ref<detail::ProductionGallery>& gallery, long item) {
        auto grid = gallery->collectionView.lock();
        grid->layoutVisibleItems();
        return std::dynamic_pointer_cast<QVNProductionSecondcell>(
            grid->cellForItemAtIndexPath(NSIndexPath::indexPathForItem(item, 0)));
    }
    static std::string countText(const Ref<QVNProductionSecondcell>& cell) {
        auto label = cell ? cell->VoteCountLabel.lock() : nullptr;
        return label ? label->text().value_or("") : "";
    }
    static void tap(const Weak<UIButton>& button) {
        auto strong = button.lock();
        ASSERT_TRUE(strong);
        strong->sendActionsForControlEvents(UIControlEventTouchUpInside);
    }
    // The texts of the HUDs showing over the view, back to front (a HUD without text gives "").
    static std::vector<std::string> huds(const Ref<UIView>& view) {
        std::vector<std::string> texts;
        for (const auto& subview : view->subviews()) {
            auto hud = std::dynamic_pointer_cast<VHProgressHUD>(subview);
            if (hud && !hud->isHidden() && hud->alpha() > 0) texts.push_back(hud->labelText().value_or(""));
        }
        return texts;
    }
    static bool showsHud(const Ref<UIView>& view, const std::string& text) {
        for (const auto& shown : huds(view))
            if (shown == text) return true;
        return false;
    }
    std::size_t votes(long productionId) {
        for (const auto& entry : information->entries(photoEvent()->event_id->integerValue()))
            if (entry.production_id == productionId) return entry.voters.size();
        return 0;
    }
    void registerStudio() {
        UIStoryboard::registerStoryboard(QVNCarScreens::kStoryboard, std::string("CarViewController"));
        UIStoryboard::registerScene(
            QVNCarScreens::kStoryboard, "CarViewController",
            [](UIStoryboard&) -> Ref<UIViewController> { return make<StudioStandIn>(); });
    }
    // A tuning list of the signed-in user, entered into the tuning event; answers the list's id.
    long joinWithNewTuningList(const std::string& name) {
        auto list = make<QVNTuningList>();
        list->car_id = NSNumber::numberWithLong(1);
        list->list_name = name;
        list->jsontxt = "{\"wheel\":\"sport\"}";
        auto stored = await<std::optional<NSNumber>>([&](auto done) {
            QVNTuningList::upLoadTuningList(
                list, [done](const std::optional<NSNumber>& id, const Ref<NSError>&) { done(id); });
        });
        EXPECT_TRUE(stored);
        if (!stored) return 0;
        auto production = make<QVNProduction>();
        production->pic_name = name;
        production->pic_url = server.pictureURL("entry");
        auto error = await<Ref<NSError>>([&](auto done) {
            QVNProduction::joinEventWithProduction(production, tuningEvent()->event_id, stored, done);
        });
        EXPECT_FALSE(error);
        return stored->integerValue();
    }
    // Next pages of the entry list wait for the gate.
    void gateNextPages() {
        gate = std::make_shared<PageGate>();
        auto previous =
            server.routes().find("GET", devserver::RouteRegistry::absolutePath("event/getproductionlist.do"));
        ASSERT_TRUE(previous);
        server.routes().get(
            "event/getproductionlist.do", [previous, gate = gate](const devserver::Request& request) {
                if (request.param("production_id").value_or("0") != "0") {
                    std::unique_lock lock(gate->mutex);
                    gate->opened.wait_for(lock, std::chrono::seconds(5), [&] { return gate->open; });
                }
                return previous(request);
            });
    }

    testsupport::ManualClock clock;
    std::shared_ptr<PageGate> gate;
};

// ---- the cards ----------------------------------------------------------------------------------

TEST_F(ProductionGalleryTest, TheTryCarButtonShowsOnlyForATuningList) {
    struct Case {
        std::optional<long> listId;
        bool shown;
    };
    const Case cases[] = {{std::nullopt, false}, {0, false}, {-3, false}, {1, true}, {1002, true}};
    auto first = make<QVNProductionCell>(CGRectMake(0, 0, 150, 202));
    auto nib = QVNProductionSecondcell::nib();
    ASSERT_TRUE(nib);
    auto second =
        std::dynamic_pointer_cast<QVNProductionSecondcell>(nib->instantiateWithOwner(nullptr).at(0));
    ASSERT_TRUE(second);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.listId.value_or(-99));
        auto production = make<QVNProduction>();
        if (c.listId) production->list_id = NSNumber::numberWithLong(*c.listId);
        first->setProduction(production);
        second->setProduction(production);
        EXPECT_EQ(first->experienceButton.lock()->isHidden(), !c.shown);
        EXPECT_EQ(second->ExperienceButton.lock()->isHidden(), !c.shown);
    }
}

TEST_F(ProductionGalleryTest, ACardShowsItsEntryAndHandsItToTheBlocks) {
    auto production = make<QVNProduction>();
    production->pic_name = "我的爱车";
    production->user_nickname = "阿杰";
    production->vote = NSNumber::numberWithLong(7);
    production->pic_url = "http://bad host/\x01";
    auto cell = make<QVNProductionCell>(CGRectMake(0, 0, 150, 202));
    cell->setProduction(production);
    EXPECT_EQ(cell->pictureNameLabel.lock()->text(), "我的爱车");
    EXPECT_EQ(cell->userNameLabel.lock()->text(), "阿杰");
    EXPECT_EQ(cell->voteCountLabel.lock()->text(), "投票数量: 7");
    // Without blocks a tap does nothing.
    tap(cell->voteButton);
    tap(cell->experienceButton);
    Ref<QVNProduction> voted, tried;
    cell->setVoteBlock([&](const Ref<QVNProduction>& p) { voted = p; });
    cell->setLookCarBlock([&](const Ref<QVNProduction>& p) { tried = p; });
    tap(cell->voteButton);
    EXPECT_EQ(voted, production);
    EXPECT_FALSE(tried);
    tap(cell->experienceButton);
    EXPECT_EQ(tried, production);
    production->vote.reset();
    cell->setProduction(production);
    EXPECT_EQ(cell->voteCountLabel.lock()->text(), "投票数量: 0");
    cell->setProduction(nullptr);
    EXPECT_TRUE(cell->experienceButton.lock()->isHidden());
}

// ---- the grids and paging -----------------------------------------------------------------------

TEST_F(ProductionGalleryTest, TheWaterfallStaggersItsSecondCardAndPagesToTheEnd) {
    auto gallery = openWaterfall(photoEvent());
    ASSERT_TRUE(gallery);
    auto grid = gallery->waterfall();
    ASSERT_TRUE(grid);
    // Below the title bar, which is below the status bar.
    EXPECT_EQ(grid->frame(), CGRectMake(0, 64, 375, 667 - 64));
    EXPECT_EQ(grid->delegate(), gallery);
    EXPECT_EQ(gallery->productionsDataSource()->cellIdentifier(), "QVNProductionSecondcell");
    for (long item : {0L, 1L, 2L, 5L}) {
        auto attributes = grid->layoutAttributesForItemAtIndexPath(NSIndexPath::indexPathForItem(item, 0));
        ASSERT_TRUE(attributes) << item;
        CGSize size = attributes->frame().size;
        EXPECT_NEAR(size.height, size.width * (item == 1 ? 1.3 : 1.09), 1e-9) << item;
    }
    ASSERT_TRUE(card(gallery, 0));
    // The second page after the last entry held, then the end.
    gallery->loadMoreProductions();
    ASSERT_TRUE(waitAdvancing([&] { return gallery->productions().size() == 14; }));
    EXPECT_EQ(lastRequestTo("event/getproductionlist.do").queryParam("production_id"),
              std::to_string(gallery->productions()[9]->production_id->integerValue()));
    for (long item = 0; item < 14; ++item)
        EXPECT_TRUE(grid->layoutAttributesForItemAtIndexPath(NSIndexPath::indexPathForItem(item, 0))) << item;
    gallery->loadMoreProductions();
    auto footer = UIScrollView_PullRefresh::footer(*grid);
    ASSERT_TRUE(footer);
    EXPECT_TRUE(waitAdvancing([&] { return footer->state() == PullRefreshState::NoMoreData; }));
    EXPECT_EQ(gallery->productions().size(), 14u);
}

TEST_F(ProductionGalleryTest, TheColumnGalleryPlacesEveryEntryOfASecondPage) {
    auto gallery = open<ProductionListViewController>("ProductionListViewController", photoEvent(), 10);
    ASSERT_TRUE(gallery);
    auto grid = gallery->collectionView.lock();
    auto layout = std::dynamic_pointer_cast<ProductionLayout>(grid->collectionViewLayout());
    ASSERT_TRUE(layout);
    EXPECT_EQ(gallery->productionsDataSource()->cellIdentifier(), "ProductionCell");
    EXPECT_EQ(layout->cache().size(), 10u);
    gallery->loadMoreProductions();
    ASSERT_TRUE(waitAdvancing([&] { return gallery->productions().size() == 14; }));
    ASSERT_EQ(layout->cache().size(), 14u);
    EXPECT_DOUBLE_EQ(layout->contentHeight(), 7 * 203);
    grid->setContentOffset(CGPointMake(0, grid->contentSize().height - grid->bounds().size.height));
    grid->layoutVisibleItems();
    auto last = std::dynamic_pointer_cast<QVNProductionCell>(
        grid->cellForItemAtIndexPath(NSIndexPath::indexPathForItem(13, 0)));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->production(), gallery->productions()[13]);
}

TEST_F(ProductionGalleryTest, OnAFlowLayoutTheGallerySizesItsCards) {
    auto gallery = ProductionListViewController::withLayout(make<UICollectionViewFlowLayout>());
    gallery->setActivity(photoEvent());
    ASSERT_TRUE(push(gallery, 10));
    auto grid = gallery->collectionView.lock();
    EXPECT_EQ(gallery->numberOfColumns(), 2);
    EXPECT_DOUBLE_EQ(gallery->cellPadding(), 2.5);
    EXPECT_DOUBLE_EQ(gallery->collectionViewContentWidth(), 375 - 10);
    UIEdgeInsets inset = grid->contentInset();
    EXPECT_EQ(inset.top, 5);
    EXPECT_EQ(inset.left, 5);
    // The load-more footer adds its own height below.
    EXPECT_GE(inset.bottom, 5);
    EXPECT_EQ(inset.right, 5);
    auto size = gallery->collectionViewLayoutSizeForItemAtIndexPath(*grid, *grid->collectionViewLayout(),
                                                                    NSIndexPath::indexPathForItem(3, 0));
    ASSERT_TRUE(size);
    EXPECT_DOUBLE_EQ(size->width, 365.0 / 2 - 5);
    EXPECT_DOUBLE_EQ(size->height, 202);
    auto attributes = grid->layoutAttributesForItemAtIndexPath(NSIndexPath::indexPathForItem(1, 0));
    ASSERT_TRUE(attributes);
    EXPECT_DOUBLE_EQ(attributes->frame().size.width, 365.0 / 2 - 5);
}

TEST_F(ProductionGalleryTest, ARefreshDropsAPageAskedForTheListItReplaced) {
    auto gallery = openWaterfall(photoEvent());
    ASSERT_TRUE(gallery);
    gateNextPages();
    auto grid = gallery->collectionView.lock();
    auto footer = UIScrollView_PullRefresh::footer(*grid);
    auto header = UIScrollView_PullRefresh::header(*grid);
    Ref<ArrayDataSource> before = gallery->productionsDataSource();
    auto nextPages = [&] {
        std::size_t n = 0;
        for (const auto& request : server.requestsTo("event/getproductionlist.do"))
            n += request.queryParam("production_id").value_or("0") != "0";
        return n;
    };
    footer->beginRefreshing();
    ASSERT_TRUE(waitAdvancing([&] { return nextPages() == 1; }));
    gallery->loadNewProductions();
    ASSERT_TRUE(waitAdvancing([&] { return gallery->productionsDataSource() != before; }));
    EXPECT_EQ(grid->dataSource(), gallery->productionsDataSource());
    gate->release();
    ASSERT_TRUE(waitAdvancing([&] { return !footer->isRefreshing(); }));
    std::set<long> ids;
    for (const auto& production : gallery->productions())
        ids.insert(production->production_id->integerValue());
    EXPECT_EQ(gallery->productions().size(), 10u);
    EXPECT_EQ(ids.size(), 10u);
    EXPECT_FALSE(header->isRefreshing());
}

TEST_F(ProductionGalleryTest, AFailedFirstPageLeavesTheGridEmptyAndLoadMoreEnds) {
    auto activity = make<QVNActivity>();
    activity->event_id = NSNumber::numberWithLong(987654);
    auto gallery = openWaterfall(activity, 0);
    ASSERT_TRUE(gallery);
    ASSERT_TRUE(waitUntil([&] { return !server.requestsTo("event/getproductionlist.do").empty(); }));
    testsupport::pumpMainRunLoop(0.1);
    EXPECT_EQ(gallery->collectionView.lock()->numberOfItemsInSection(0), 0);
    server.clearRequests();
    gallery->loadMoreProductions();
    EXPECT_EQ(UIScrollView_PullRefresh::footer(*gallery->collectionView.lock())->state(),
              PullRefreshState::NoMoreData);
    EXPECT_TRUE(server.requestsTo("event/getproductionlist.do").empty());
}

// ---- voting -------------------------------------------------------------------------------------

TEST_F(ProductionGalleryTest, SignedOutVotingAndTryingAskForTheLogin) {
    auto gallery = openWaterfall(photoEvent());
    ASSERT_TRUE(gallery);
    tap(card(gallery, 0)->VoteButton);
    auto alert = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(alert);
    EXPECT_FALSE(alert->title);
    EXPECT_EQ(alert->message, "请先登录");
    EXPECT_EQ(alert->buttonTitles, std::vector<std::string>{"确定"});
    ASSERT_TRUE(UIAlertTestDriver::tapAlertButton("确定"));
    ASSERT_TRUE(waitAdvancing(
        [&] { return std::dynamic_pointer_cast<LoginStandIn>(navigation->topViewController()) != nullptr; }));
    navigation->popViewControllerAnimated(false);
    gallery->tryCarOfProduction(gallery->productions()[0]);
    ASSERT_TRUE(UIAlertTestDriver::frontmostAlert());
    EXPECT_EQ(UIAlertTestDriver::frontmostAlert()->message, "请先登录");
    EXPECT_TRUE(server.requestsTo("event/vote.do").empty());
    EXPECT_TRUE(server.requestsTo("car/gettuninglistbyid.do").empty());
}

TEST_F(ProductionGalleryTest, AVoteCountsOnceAndASecondIsRefused) {
    signIn(3);
    auto gallery = openWaterfall(photoEvent());
    ASSERT_TRUE(gallery);
    Ref<QVNProduction> first = gallery->productions()[0];
    const long before = first->vote->integerValue();
    EXPECT_EQ(countText(card(gallery, 0)), "投票数量: " + std::to_string(before));
    tap(card(gallery, 0)->VoteButton);
    ASSERT_TRUE(waitUntil([&] { return showsHud(gallery->view(), "投票成功"); }));
    EXPECT_EQ(gallery->hud()->mode(), VHProgressHUDModeSpinner);
    EXPECT_EQ(first->vote->integerValue(), before + 1);
    EXPECT_EQ(countText(card(gallery, 0)), "投票数量: " + std::to_string(before + 1));
    EXPECT_EQ(votes(first->production_id->integerValue()), static_cast<std::size_t>(before + 1));
    clock.advance(1.9);
    EXPECT_TRUE(showsHud(gallery->view(), "投票成功"));
    clock.advance(0.5);
    EXPECT_FALSE(showsHud(gallery->view(), "投票成功"));

    tap(card(gallery, 0)->VoteButton);
    ASSERT_TRUE(waitUntil([&] { return showsHud(gallery->view(), "您已投票"); }));
    EXPECT_EQ(first->vote->integerValue(), before + 1);
    EXPECT_EQ(countText(card(gallery, 0)), "投票数量: " + std::to_string(before + 1));
    EXPECT_EQ(votes(first->production_id->integerValue()), static_cast<std::size_t>(before + 1));
    clock.advance(1.4);
    EXPECT_TRUE(huds(gallery->view()).empty());
    EXPECT_TRUE(QVNUserManager::shareObject()->hasCurrentUser());
}

TEST_F(ProductionGalleryTest, AnExpiredTokenSignsOutAndOtherRefusalsSayTheVoteFailed) {
    std::string token = signIn(3);
    auto gallery = openWaterfall(photoEvent());
    ASSERT_TRUE(gallery);
    auto unknown = make<QVNProduction>();
    unknown->production_id = NSNumber::numberWithLong(999999);
    gallery->voteForProduction(unknown);
    ASSERT_TRUE(waitUntil([&] { return showsHud(gallery->view(), "投票失败"); }));
    EXPECT_FALSE(unknown->vote);
    clock.advance(1.4);

    server.expireToken(token);
    gallery->voteForProduction(gallery->productions()[1]);
    ASSERT_TRUE(waitUntil([&] { return UIAlertTestDriver::frontmostAlert().has_value(); }));
    auto alert = UIAlertTestDriver::frontmostAlert();
    EXPECT_EQ(alert->title, "帐号失效请重新登录");
    EXPECT_FALSE(alert->message);
    EXPECT_EQ(alert->buttonTitles, std::vector<std::string>{"确定"});
    EXPECT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
    EXPECT_EQ(huds(gallery->view()), std::vector<std::string>{""});
    clock.advance(1.4);
    EXPECT_TRUE(huds(gallery->view()).empty());
    // That alert leads nowhere.
    UIAlertTestDriver::tapAlertButton("确定");
    testsupport::drainMainRunLoop();
    EXPECT_EQ(navigation->topViewController(), gallery);
}

TEST_F(ProductionGalleryTest, AVoteForAnEntryNoLongerHeldTouchesNoCard) {
    signIn(3);
    auto gallery = openWaterfall(photoEvent());
    ASSERT_TRUE(gallery);
    Ref<QVNProduction> shown = gallery->productions()[3];
    auto detached = make<QVNProduction>();
    detached->production_id = shown->production_id;
    detached->vote = shown->vote;
    const std::string before = countText(card(gallery, 3));
    gallery->voteForProduction(detached);
    ASSERT_TRUE(waitUntil([&] { return showsHud(gallery->view(), "投票成功"); }));
    EXPECT_EQ(detached->vote->integerValue(), shown->vote->integerValue() + 1);
    EXPECT_EQ(countText(card(gallery, 3)), before);
}

TEST_F(ProductionGalleryTest, AfterAPullToRefreshTheCardButtonsStillWork) {
    signIn(3);
    registerStudio();
    long listId = joinWithNewTuningList("赛道方案");
    auto gallery = openWaterfall(tuningEvent(), 4);
    ASSERT_TRUE(gallery);
    auto grid = gallery->collectionView.lock();
    auto footer = UIScrollView_PullRefresh::footer(*grid);
    footer->endRefreshingWithNoMoreData();
    Ref<ArrayDataSource> before = gallery->productionsDataSource();
    auto header = UIScrollView_PullRefresh::header(*grid);
    header->beginRefreshing();
    ASSERT_TRUE(
        waitAdvancing([&] { return gallery->productionsDataSource() != before && !header->isRefreshing(); }));
    EXPECT_EQ(gallery->productions().size(), 4u);
    EXPECT_NE(footer->state(), PullRefreshState::NoMoreData);

    auto newest = card(gallery, 0);
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->production()->list_id->integerValue(), listId);
    EXPECT_FALSE(newest->ExperienceButton.lock()->isHidden());
    const long count = newest->production()->vote ? newest->production()->vote->integerValue() : 0;
    tap(newest->VoteButton);
    ASSERT_TRUE(
        waitUntil([&] { return countText(card(gallery, 0)) == "投票数量: " + std::to_string(count + 1); }));
    tap(card(gallery, 0)->ExperienceButton);
    ASSERT_TRUE(waitAdvancing([&] { return navigation->presentedViewController() != nullptr; }));
    auto studio = std::dynamic_pointer_cast<StudioStandIn>(navigation->presentedViewController());
    ASSERT_TRUE(studio);
    ASSERT_TRUE(studio->tuningList);
    EXPECT_EQ(studio->tuningList->tuninglist_id->integerValue(), listId);
    EXPECT_EQ(studio->tuningList->list_name, "赛道方案");
    EXPECT_EQ(lastRequestTo("car/gettuninglistbyid.do").queryParam("tuninglist_id"), std::to_string(listId));
}

TEST_F(ProductionGalleryTest, WithoutItsTuningListTheCarCannotBeTried) {
    signIn(1);
    registerStudio();
    auto gallery = openWaterfall(tuningEvent(), 3);
    ASSERT_TRUE(gallery);
    // The sample entries name lists the server does not have.
    auto cell = card(gallery, 0);
    ASSERT_TRUE(cell);
    EXPECT_FALSE(cell->ExperienceButton.lock()->isHidden());
    tap(cell->ExperienceButton);
    ASSERT_TRUE(waitUntil([&] { return showsHud(gallery->view(), "体验失败"); }));
    EXPECT_FALSE(navigation->presentedViewController());
    clock.advance(1.4);
    EXPECT_TRUE(showsHud(gallery->view(), "体验失败"));
    clock.advance(0.5);
    EXPECT_TRUE(huds(gallery->view()).empty());
    // Without the studio registered, a list found opens nothing.
    UIStoryboard::unregisterStoryboard(QVNCarScreens::kStoryboard);
    long listId = joinWithNewTuningList("街道方案");
    auto entry = make<QVNProduction>();
    entry->list_id = NSNumber::numberWithLong(listId);
    server.clearRequests();
    gallery->tryCarOfProduction(entry);
    ASSERT_TRUE(waitUntil([&] { return !server.requestsTo("car/gettuninglistbyid.do").empty(); }));
    testsupport::pumpMainRunLoop(0.1);
    EXPECT_FALSE(navigation->presentedViewController());
}

TEST_F(ProductionGalleryTest, AGalleryGoneBeforeTheRepliesIsLeftAlone) {
    signIn(3);
    Ref<QVNProduction> entry;
    {
        auto gallery = openWaterfall(photoEvent());
        ASSERT_TRUE(gallery);
        entry = gallery->productions()[2];
        gallery->voteForProduction(entry);
        gallery->loadMoreProductions();
        gallery->loadNewProductions();
        navigation->popViewControllerAnimated(false);
    }
    testsupport::drainMainRunLoop();
    ASSERT_TRUE(waitUntil([&] { return server.requestsTo("event/vote.do").size() == 1; }));
    testsupport::pumpMainRunLoop(0.2);
    EXPECT_EQ(navigation->topViewController(), navigation->viewControllers().front());
}

TEST_F(ProductionGalleryTest, BothScenesAreRegisteredAndPortraitOnly) {
    InformationScenes::registerAll();
    for (const char* identifier : {"ProductionListsViewController", "ProductionListViewController"}) {
        auto screen = UIStoryboard::storyboardWithName("MyActivity", nullptr)
                          ->instantiateViewControllerWithIdentifier(identifier);
        ASSERT_TRUE(screen) << identifier;
        EXPECT_EQ(screen->className(), identifier);
        EXPECT_TRUE(std::dynamic_pointer_cast<InformationScreens::ActivityHandOver>(screen));
        EXPECT_EQ(screen->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
        EXPECT_EQ(screen->preferredStatusBarStyle(), UIStatusBarStyleLightContent);
    }
}

TEST_F(ProductionGalleryTest, ASwipeRightOrTheBackButtonPopsWithTheBarHidden) {
    navigation->setNavigationBarHidden(false, false);
    auto gallery = openWaterfall(photoEvent());
    ASSERT_TRUE(gallery);
    EXPECT_TRUE(navigation->isNavigationBarHidden());
    UITestDriver::swipe(gallery->collectionView.lock(), UISwipeGestureRecognizerDirectionLeft);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(navigation->topViewController(), gallery);
    // On the grid, whose pan sees the stroke too.
    UITestDriver::swipe(gallery->collectionView.lock(), UISwipeGestureRecognizerDirectionRight);
    ASSERT_TRUE(waitAdvancing([&] { return navigation->topViewController() != gallery; }, 1));
    auto flow = open<ProductionListViewController>("ProductionListViewController", photoEvent(), 10);
    ASSERT_TRUE(flow);
    Ref<UIButton> back;
    for (const auto& view : flow->view()->subviews())
        for (const auto& inner : view->subviews())
            if (auto button = std::dynamic_pointer_cast<UIButton>(inner)) back = button;
    ASSERT_TRUE(back);
    back->sendActionsForControlEvents(UIControlEventTouchUpInside);
    ASSERT_TRUE(waitAdvancing([&] { return navigation->topViewController() != flow; }));
}

TEST_F(ProductionGalleryTest, AFirstPageLoadedApartIsKeptApartFromTheGrid) {
    auto gallery = openWaterfall(photoEvent());
    ASSERT_TRUE(gallery);
    EXPECT_EQ(gallery->productionsDataArr().count(), 0u);
    gallery->loadProductionsData();
    ASSERT_TRUE(waitUntil([&] { return gallery->productionsDataArr().count() == 10; }));
    EXPECT_EQ(gallery->collectionView.lock()->numberOfItemsInSection(0), 10);
    EXPECT_EQ(gallery->productions().size(), 10u);
}

// ---- the title bar ------------------------------------------------------------------------------

// Both galleries over the app's navigation (its bar hidden), the status bar shown or hidden: the
// title bar starts right below the status bar, the strip behind the status bar takes the bar's
// dark colour (the status bar's text is light), the grid starts below the bar, and the back button
// answers a tap where it now is.
TEST_F(ProductionGalleryTest, TheTitleBarStartsBelowTheStatusBar) {
    using testsupport::RenderedPixels;
    struct Case {
        const char* identifier;
        bool statusBarHidden;
        CGFloat barTop;
    };
    const Case cases[] = {{"ProductionListsViewController", false, 20},
                          {"ProductionListViewController", false, 20},
                          {"ProductionListsViewController", true, 0}};
    const RenderedPixels::RGB dark = testsupport::rgbOf(UIColor_Extensions::QVNBlackColor());
    const RenderedPixels::RGB white = testsupport::rgbOf(UIColor::whiteColor());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.identifier) + (c.statusBarHidden ? ", status bar hidden" : ""));
        application->setStatusBarHidden(c.statusBarHidden);
        auto gallery = open<detail::ProductionGallery>(c.identifier, photoEvent(), 10);
        ASSERT_TRUE(gallery);
        window->layoutIfNeeded();
        Ref<UIButton> back;
        Ref<UILabel> title;
        for (const auto& view : gallery->view()->subviews())
            for (const auto& inner : view->subviews()) {
                if (auto button = std::dynamic_pointer_cast<UIButton>(inner)) back = button;
                if (auto label = std::dynamic_pointer_cast<UILabel>(inner)) title = label;
            }
        ASSERT_TRUE(back && title);
        ASSERT_EQ(back->superview(), title->superview());
        const Ref<UIView> bar = back->superview();
        const CGRect barFrame = bar->convertRectToView(bar->bounds(), window);
        EXPECT_EQ(barFrame.origin.y, c.barTop);
        EXPECT_EQ(barFrame.size.height, 44);
        EXPECT_EQ(barFrame.size.width, window->bounds().size.width);
        for (const Ref<UIView>& item : {Ref<UIView>(back), Ref<UIView>(title)}) {
            CGRect frame = item->convertRectToView(item->bounds(), window);
            EXPECT_GE(frame.origin.y, c.barTop);
            EXPECT_LE(CGRectGetMaxY(frame), c.barTop + 44);
        }
        auto grid = gallery->collectionView.lock();
        const CGRect gridFrame = grid->superview()->convertRectToView(grid->frame(), window);
        EXPECT_EQ(gridFrame.origin.y, c.barTop + 44);
        EXPECT_EQ(CGRectGetMaxY(gridFrame), window->bounds().size.height);

        auto image = UIWindowRenderer::imageOfView(window, 1);
        UIWindowRenderer::writePNG(image, testsupport::goldenOutputFolder("information") + "/gallery-bar-" +
                                              c.identifier + (c.statusBarHidden ? "-no-status" : "") +
                                              ".png");
        RenderedPixels pixels(image);
        // Near the right edge, where the bar holds nothing.
        for (long y : {0L, 10L, static_cast<long>(c.barTop) + 1, static_cast<long>(c.barTop) + 42}) {
            RenderedPixels::RGB p = pixels.at(pixels.width() - 10, y);
            EXPECT_TRUE(std::abs(p.red - dark.red) <= 8 && std::abs(p.green - dark.green) <= 8 &&
                        std::abs(p.blue - dark.blue) <= 8)
                << "y " << y << ": " << p.red << "," << p.green << "," << p.blue;
        }
        EXPECT_TRUE(pixels.anyNear(title->convertRectToView(title->bounds(), window), white, 40));
        EXPECT_TRUE(pixels.anyNear(back->convertRectToView(back->bounds(), window), white, 40));

        UITestDriver::tap(back);
        ASSERT_TRUE(waitAdvancing([&] { return navigation->topViewController() != gallery; }));
        testsupport::settleInSteps(clock);
    }
    application->setStatusBarHidden(false);
}

// ---- the picture --------------------------------------------------------------------------------

TEST_F(ProductionGalleryTest, GoldenWaterfallGallery) {
    auto gallery = openWaterfall(photoEvent());
    ASSERT_TRUE(gallery);
    auto grid = gallery->collectionView.lock();
    ASSERT_TRUE(waitAdvancing([&] {
        grid->layoutVisibleItems();
        auto cells = grid->visibleCells();
        if (cells.empty()) return false;
        for (const auto& cell : cells) {
            auto card = std::dynamic_pointer_cast<QVNProductionSecondcell>(cell);
            if (!card || !card->CarImageView.lock()->image() || !card->UserImageView.lock()->image())
                return false;
        }
        return true;
    }));
    clock.advance(1.0);
    window->layoutIfNeeded();
    auto image = UIWindowRenderer::imageOfView(window, 1);
    testsupport::compareWithGolden(image, testsupport::goldenDirectory("information"), "gallery.png",
                                   "information", 24, 0.01);
}

// The cards' vote buttons: their white titles read on their fill, on the first cards of the gallery as
// it opens.
TEST_F(ProductionGalleryTest, TheVoteButtonsWhiteTitlesReadOnTheirFill) {
    auto gallery = openWaterfall(photoEvent());
    ASSERT_TRUE(gallery);
    testsupport::drainMainRunLoop();
    for (long item : {0L, 1L}) {
        SCOPED_TRACE(item);
        auto shown = card(gallery, item);
        ASSERT_TRUE(shown);
        auto vote = shown->VoteButton.lock();
        ASSERT_TRUE(vote && !vote->isHidden());
        EXPECT_EQ(vote->titleForState(UIControlStateNormal), std::optional<std::string>("投票"));
        EXPECT_TRUE(testsupport::readsWhite(vote));
    }
}

}  // namespace
