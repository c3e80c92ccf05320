// The refresh component base: creation through the whole setState chain, attaching to and
// detaching from scroll views, the dispatch of observed changes, beginRefreshing in and out of a
// window, the callback on a later turn, and the alpha rules.

#include <gtest/gtest.h>

#include "PullRefreshTestSupport.h"
#include "controls/PullRefreshHeader.h"

using namespace pullrefreshtest;

namespace {

// Records every hook the base calls.
class ProbeComponent : public PullRefreshComponent {
  public:
    using PullRefreshComponent::PullRefreshComponent;
    void prepare() override {
        PullRefreshComponent::prepare();
        preparedBeforeFirstState = transitions.empty();
    }
    void setState(int newState) override {
        if (newState == state()) return;
        transitions.push_back({state(), newState});
        PullRefreshComponent::setState(newState);
    }
    void scrollViewContentOffsetDidChange(const Dictionary* change) override { ++offsetChanges; }
    void scrollViewContentSizeDidChange(const Dictionary* change) override { ++sizeChanges; }
    void scrollViewPanStateDidChange(const Dictionary* change) override { ++panChanges; }

    std::vector<std::pair<int, int>> transitions;
    bool preparedBeforeFirstState = false;
    int offsetChanges = 0, sizeChanges = 0, panChanges = 0;
};

class Receiver : public NSObject {
  public:
    std::vector<std::string>* log = nullptr;
    Ref<PullRefreshComponent> lastSender;
};

class PullRefreshComponentTest : public PullRefreshFixture {};

}  // namespace

TEST_F(PullRefreshComponentTest, CreationPreparesThenGoesIdleFromZero) {
    auto probe = make<ProbeComponent>();
    EXPECT_TRUE(probe->preparedBeforeFirstState);
    ASSERT_EQ(probe->transitions.size(), 1u);
    EXPECT_EQ(probe->transitions[0], std::make_pair(0, PullRefreshState::Idle));
    EXPECT_EQ(probe->state(), PullRefreshState::Idle);
    EXPECT_EQ(probe->autoresizingMask(), UIViewAutoresizingFlexibleWidth);
    EXPECT_FALSE(probe->isRefreshing());
    EXPECT_EQ(probe->scrollView(), nullptr);
}

TEST_F(PullRefreshComponentTest, AttachingTakesWidthInsetAndBouncesVertically) {
    auto scroll = make<UIScrollView>(CGRectMake(0, 0, 300, 500));
    scroll->setContentInset(UIEdgeInsetsMake(10, 0, 20, 0));
    auto probe = make<ProbeComponent>(CGRectMake(40, 7, 12, 30));
    scroll->addSubview(probe);
    EXPECT_EQ(probe->scrollView(), scroll);
    EXPECT_EQ(probe->frame().origin.x, 0);
    EXPECT_EQ(probe->frame().size.width, 300);
    EXPECT_TRUE(scroll->alwaysBounceVertical());
    EXPECT_EQ(probe->scrollViewOriginalInset().top, 10);
    EXPECT_EQ(probe->scrollViewOriginalInset().bottom, 20);
    EXPECT_EQ(probe->pan(), scroll->panGestureRecognizer());

    scroll->setContentOffset(CGPointMake(0, 30));
    scroll->setContentSize(CGSizeMake(300, 900));
    scroll->simulateBeginDragging();
    EXPECT_EQ(probe->offsetChanges, 1);
    EXPECT_EQ(probe->sizeChanges, 1);
    EXPECT_EQ(probe->panChanges, 1);
}

TEST_F(PullRefreshComponentTest, ViewThatIsNoScrollViewLeavesItInert) {
    auto plain = make<UIView>(CGRectMake(0, 0, 300, 500));
    auto probe = make<ProbeComponent>(CGRectMake(40, 7, 12, 30));
    plain->addSubview(probe);
    EXPECT_EQ(probe->scrollView(), nullptr);
    EXPECT_EQ(probe->pan(), nullptr);
    EXPECT_EQ(probe->frame().origin.x, 40);
}

TEST_F(PullRefreshComponentTest, MovingToAViewThatIsNoScrollViewStopsObservingTheOldOne) {
    auto scroll = make<UIScrollView>(CGRectMake(0, 0, 300, 500));
    auto probe = make<ProbeComponent>();
    scroll->addSubview(probe);
    auto plain = make<UIView>(CGRectMake(0, 0, 300, 500));
    plain->addSubview(probe);
    EXPECT_EQ(probe->pan(), nullptr);
    scroll->setContentOffset(CGPointMake(0, 30));
    scroll->setContentSize(CGSizeMake(300, 900));
    EXPECT_EQ(probe->offsetChanges, 0);
    EXPECT_EQ(probe->sizeChanges, 0);
    EXPECT_FALSE(KVO::hasObservers(*scroll, "contentOffset"));
}

TEST_F(PullRefreshComponentTest, RemovalAndMovingBetweenScrollViewsDetach) {
    auto first = make<UIScrollView>(CGRectMake(0, 0, 300, 500));
    auto second = make<UIScrollView>(CGRectMake(0, 0, 200, 500));
    auto probe = make<ProbeComponent>();
    first->addSubview(probe);
    second->addSubview(probe);
    EXPECT_EQ(probe->scrollView(), second);
    EXPECT_EQ(probe->frame().size.width, 200);
    first->setContentOffset(CGPointMake(0, 10));
    EXPECT_EQ(probe->offsetChanges, 0);
    second->setContentOffset(CGPointMake(0, 10));
    EXPECT_EQ(probe->offsetChanges, 1);

    probe->removeFromSuperview();
    second->setContentOffset(CGPointMake(0, 20));
    EXPECT_EQ(probe->offsetChanges, 1);
    EXPECT_FALSE(KVO::hasObservers(*second, "contentOffset"));
}

TEST_F(PullRefreshComponentTest, ScrollViewGoingFirstLeavesNothingDangling) {
    auto probe = make<ProbeComponent>();
    {
        auto scroll = make<UIScrollView>(CGRectMake(0, 0, 300, 500));
        scroll->addSubview(probe);
        probe->removeFromSuperview();
        scroll->addSubview(probe);
    }
    // The scroll view (and the probe's place in it) is gone; the probe outlives it safely.
    EXPECT_EQ(probe->scrollView(), nullptr);
    probe->beginRefreshing();
    probe->endRefreshing();
}

TEST_F(PullRefreshComponentTest, DisabledInteractionIgnoresEverythingHiddenStillHearsSize) {
    auto scroll = make<UIScrollView>(CGRectMake(0, 0, 300, 500));
    auto probe = make<ProbeComponent>();
    scroll->addSubview(probe);

    probe->setUserInteractionEnabled(false);
    scroll->setContentOffset(CGPointMake(0, 5));
    scroll->setContentSize(CGSizeMake(300, 800));
    EXPECT_EQ(probe->offsetChanges + probe->sizeChanges, 0);

    probe->setUserInteractionEnabled(true);
    probe->setHidden(true);
    scroll->setContentOffset(CGPointMake(0, 6));
    scroll->setContentSize(CGSizeMake(300, 900));
    scroll->simulateBeginDragging();
    EXPECT_EQ(probe->offsetChanges, 0);
    EXPECT_EQ(probe->panChanges, 0);
    EXPECT_EQ(probe->sizeChanges, 1);
}

TEST_F(PullRefreshComponentTest, BeginRefreshingInAWindowRefreshesAtOnceCallbackOnALaterTurn) {
    showTable({3});
    CallbackCounter counter;
    auto probe = make<ProbeComponent>();
    probe->setRefreshingBlock(counter.block());
    table->addSubview(probe);
    probe->beginRefreshing();
    EXPECT_EQ(probe->state(), PullRefreshState::Refreshing);
    EXPECT_DOUBLE_EQ(probe->pullingPercent(), 1.0);
    probe->executeRefreshingCallback();
    EXPECT_EQ(counter.calls, 0) << "never inside the call that asked for it";
    testsupport::drainMainRunLoop();
    EXPECT_EQ(counter.calls, 1);
}

TEST_F(PullRefreshComponentTest, BeginRefreshingOffscreenWaitsForTheFirstDraw) {
    offscreenTable({3});
    CallbackCounter counter;
    auto header = PullRefreshHeader::headerWithRefreshingBlock(counter.block());
    UIScrollView_PullRefresh::setHeader(table, header);
    header->beginRefreshing();
    EXPECT_EQ(header->state(), PullRefreshState::WillRefresh);
    EXPECT_TRUE(header->isRefreshing());
    clock.advance(1);
    EXPECT_EQ(counter.calls, 0);

    window = make<UIWindow>(CGRectMake(0, 0, 320, 600));
    window->makeKeyAndVisible();
    window->addSubview(table);
    testsupport::drainMainRunLoop();
    EXPECT_EQ(header->state(), PullRefreshState::Refreshing);
    clock.advance(0.3);
    EXPECT_EQ(counter.calls, 1);
    clock.advance(1);
    EXPECT_EQ(counter.calls, 1);
}

TEST_F(PullRefreshComponentTest, EndingBeforeTheDrawCancelsThatRequest) {
    offscreenTable({3});
    CallbackCounter counter;
    auto header = PullRefreshHeader::headerWithRefreshingBlock(counter.block());
    UIScrollView_PullRefresh::setHeader(table, header);
    header->beginRefreshing();
    header->endRefreshing();
    EXPECT_EQ(header->state(), PullRefreshState::Idle);
    EXPECT_EQ(table->contentInset().top, 0) << "the inset was never borrowed";
    window = make<UIWindow>(CGRectMake(0, 0, 320, 600));
    window->makeKeyAndVisible();
    window->addSubview(table);
    clock.advance(1);
    EXPECT_EQ(counter.calls, 0);
    EXPECT_EQ(header->state(), PullRefreshState::Idle);
}

TEST_F(PullRefreshComponentTest, BlockThenTargetBothRunAndAGoneTargetIsSkipped) {
    showTable({3});
    std::vector<std::string> log;
    auto receiver = make<Receiver>();
    receiver->log = &log;
    auto probe = make<ProbeComponent>();
    probe->setRefreshingBlock([&] { log.push_back("block"); });
    probe->setRefreshingTarget(receiver,
                               [](const Ref<NSObject>& target, const Ref<PullRefreshComponent>& sender) {
                                   auto r = asKind<Receiver>(target);
                                   r->log->push_back("action");
                                   r->lastSender = sender;
                               });
    table->addSubview(probe);
    probe->executeRefreshingCallback();
    testsupport::drainMainRunLoop();
    EXPECT_EQ(log, (std::vector<std::string>{"block", "action"}));
    EXPECT_EQ(receiver->lastSender, probe);

    receiver->lastSender.reset();
    receiver.reset();
    probe->executeRefreshingCallback();
    testsupport::drainMainRunLoop();
    EXPECT_EQ(log.size(), 3u);
    EXPECT_EQ(log.back(), "block");

    // A target without the action (one that does not respond) is skipped too.
    auto other = make<Receiver>();
    probe->setRefreshingTarget(other, nullptr);
    probe->setRefreshingBlock(nullptr);
    probe->executeRefreshingCallback();
    testsupport::drainMainRunLoop();
    EXPECT_EQ(log.size(), 3u);
}

TEST_F(PullRefreshComponentTest, AlphaFollowsThePullOnlyWhenAskedAndNotWhileRefreshing) {
    auto probe = make<ProbeComponent>();
    probe->setPullingPercent(0.4);
    EXPECT_DOUBLE_EQ(probe->alpha(), 1.0);
    probe->setAutoChangeAlpha(true);
    EXPECT_TRUE(probe->isAutomaticallyChangeAlpha());
    EXPECT_NEAR(probe->alpha(), 0.4, 1e-6);
    probe->setPullingPercent(0.7);
    EXPECT_NEAR(probe->alpha(), 0.7, 1e-6);
    probe->setAutomaticallyChangeAlpha(false);
    EXPECT_FALSE(probe->isAutoChangeAlpha());
    EXPECT_DOUBLE_EQ(probe->alpha(), 1.0);

    probe->setAutomaticallyChangeAlpha(true);
    probe->setState(PullRefreshState::Refreshing);
    probe->setAlpha(0.5);
    probe->setPullingPercent(0.2);
    EXPECT_DOUBLE_EQ(probe->alpha(), 0.5);
    probe->setAutomaticallyChangeAlpha(false);
    EXPECT_DOUBLE_EQ(probe->alpha(), 0.5) << "left alone while refreshing";
}

TEST_F(PullRefreshComponentTest, RepeatedStateChangesAreIgnored) {
    auto probe = make<ProbeComponent>();
    probe->setState(PullRefreshState::Pulling);
    probe->setState(PullRefreshState::Pulling);
    probe->setState(PullRefreshState::Idle);
    EXPECT_EQ(probe->transitions.size(), 3u);
}
