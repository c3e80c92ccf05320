// Controls: target-action registrations per event, removal, state bits, and tracking by points
// (the touch overrides feed the same path).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/NSKeyValueObserving.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIControl.h"
#include "uikit/UIEvent.h"
#include "uikit/UIPageControl.h"
#include "uikit/UIProgressView.h"
#include "uikit/UIRefreshControl.h"
#include "uikit/UIScrollView.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITouch.h"
#include "uikit/UIWindow.h"

namespace {

struct Target : NSObject {
    std::vector<std::string> calls;
    Ref<NSObject> lastSender;
    void tapped(const Ref<NSObject>& sender) {
        calls.push_back("tapped");
        lastSender = sender;
    }
    void plain() { calls.push_back("plain"); }
};

class ControlTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        control = make<UIControl>(CGRectMake(0, 0, 100, 40));
        target = make<Target>();
    }
    UIControl::Action log(const std::string& name) {
        return [this, name](const Ref<NSObject>&, const Ref<UIEvent>&) { events.push_back(name); };
    }
    Ref<UIControl> control;
    Ref<Target> target;
    std::vector<std::string> events;
};

TEST_F(ControlTest, ActionsRunForTheirEventsInTheOrderAdded) {
    control->addTarget(target, log("a"), "a:", UIControlEventTouchUpInside);
    control->addTarget(target, log("b"), "b:", UIControlEventTouchUpInside | UIControlEventValueChanged);
    control->addTarget(nullptr, log("c"), UIControlEventValueChanged);
    control->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(events, (std::vector<std::string>{"a", "b"}));
    events.clear();
    control->sendActionsForControlEvents(UIControlEventValueChanged);
    EXPECT_EQ(events, (std::vector<std::string>{"b", "c"}));
    events.clear();
    control->sendActionsForControlEvents(UIControlEventEditingChanged);
    EXPECT_TRUE(events.empty());
}

TEST_F(ControlTest, MemberFunctionsReceiveTheSender) {
    control->addTarget(target, &Target::tapped, "tapped:", UIControlEventTouchUpInside);
    control->addTarget(target, &Target::plain, "plain", UIControlEventTouchUpInside);
    control->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(target->calls, (std::vector<std::string>{"tapped", "plain"}));
    EXPECT_EQ(target->lastSender, control);
}

TEST_F(ControlTest, TheSameTargetAndSelectorIsRegisteredOnce) {
    control->addTarget(target, log("a"), "a:", UIControlEventTouchUpInside);
    control->addTarget(target, log("a"), "a:", UIControlEventTouchUpInside | UIControlEventTouchDown);
    control->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(control->allControlEvents(), UIControlEventTouchUpInside | UIControlEventTouchDown);
    auto actions = control->actionsForTarget(target, UIControlEventTouchDown);
    ASSERT_TRUE(actions);
    EXPECT_EQ(*actions, std::vector<std::string>{"a:"});
    EXPECT_FALSE(control->actionsForTarget(target, UIControlEventValueChanged));
}

TEST_F(ControlTest, RemovingTakesEventsOffMatchingRegistrations) {
    auto other = make<Target>();
    control->addTarget(target, log("a"), "a:", UIControlEventTouchUpInside | UIControlEventTouchDown);
    control->addTarget(target, log("b"), "b:", UIControlEventTouchUpInside);
    control->addTarget(other, log("c"), "c:", UIControlEventTouchUpInside);
    control->removeTarget(target, std::string("a:"), UIControlEventTouchUpInside);
    control->sendActionsForControlEvents(UIControlEventTouchUpInside | UIControlEventTouchDown);
    EXPECT_EQ(events, (std::vector<std::string>{"a", "b", "c"}));  // a only for TouchDown now
    events.clear();
    control->removeTarget(target, std::nullopt, UIControlEventAllEvents);
    control->sendActionsForControlEvents(UIControlEventAllEvents);
    EXPECT_EQ(events, std::vector<std::string>{"c"});
    EXPECT_EQ(control->allTargets(), std::vector<Ref<NSObject>>{other});
    control->removeTarget(nullptr, std::nullopt, UIControlEventAllEvents);
    EXPECT_TRUE(control->allTargets().empty());
    EXPECT_EQ(control->allControlEvents(), 0u);
}

TEST_F(ControlTest, AGoneTargetIsSkipped) {
    {
        auto shortLived = make<Target>();
        control->addTarget(shortLived, &Target::plain, "plain", UIControlEventTouchUpInside);
    }
    control->addTarget(target, &Target::plain, "plain", UIControlEventTouchUpInside);
    control->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(target->calls.size(), 1u);
    EXPECT_EQ(control->allTargets().size(), 1u);
}

TEST_F(ControlTest, ANilTargetWithOnlyASelectorGoesUpTheResponderChain) {
    std::vector<std::string> sent;
    UIApplication::setActionSender([&](const std::string& action, const Ref<NSObject>& t,
                                       const Ref<NSObject>& sender, const Ref<UIEvent>&) {
        sent.push_back(action + (t ? " to target" : " to chain") +
                       (sender == control ? " from control" : ""));
        return true;
    });
    control->addTarget(nullptr, UIControl::Action(), "doSomething:", UIControlEventTouchUpInside);
    control->sendActionsForControlEvents(UIControlEventTouchUpInside);
    UIApplication::setActionSender(nullptr);
    EXPECT_EQ(sent, std::vector<std::string>{"doSomething: to chain from control"});
}

TEST_F(ControlTest, AnActionMayRemoveRegistrationsWhileSending) {
    control->addTarget(
        target,
        [&](const Ref<NSObject>&, const Ref<UIEvent>&) {
            events.push_back("first");
            control->removeTarget(nullptr, std::nullopt, UIControlEventAllEvents);
        },
        "first", UIControlEventTouchUpInside);
    control->addTarget(target, log("second"), "second", UIControlEventTouchUpInside);
    control->sendActionsForControlEvents(UIControlEventTouchUpInside);
    // The snapshot taken before sending still runs; the next send finds nothing.
    EXPECT_EQ(events, (std::vector<std::string>{"first", "second"}));
    control->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(ControlTest, StateBitsCombine) {
    EXPECT_EQ(control->state(), UIControlStateNormal);
    control->setSelected(true);
    control->setHighlighted(true);
    EXPECT_EQ(control->state(), UIControlStateSelected | UIControlStateHighlighted);
    EXPECT_TRUE(KVO::valueForKey(*control, "selected").boolValue()) << "observable by name";
    EXPECT_TRUE(KVO::valueForKey(*control, "enabled").boolValue());
    control->setEnabled(false);
    EXPECT_EQ(control->state(), UIControlStateSelected | UIControlStateDisabled);  // disabling unhighlights
}

TEST_F(ControlTest, TapInsideSendsDownThenUpInside) {
    control->addTarget(target, log("down"), "down", UIControlEventTouchDown);
    control->addTarget(target, log("up-in"), "upIn", UIControlEventTouchUpInside);
    control->addTarget(target, log("up-out"), "upOut", UIControlEventTouchUpOutside);
    control->trackTouchDownAt(CGPointMake(10, 10), nullptr);
    EXPECT_TRUE(control->isTracking());
    EXPECT_TRUE(control->isHighlighted());
    control->trackTouchUpAt(CGPointMake(12, 12), nullptr);
    EXPECT_FALSE(control->isTracking());
    EXPECT_FALSE(control->isHighlighted());
    EXPECT_EQ(events, (std::vector<std::string>{"down", "up-in"}));
}

TEST_F(ControlTest, DraggingFarOutsideExitsAndEndsOutside) {
    control->addTarget(target, log("exit"), "exit", UIControlEventTouchDragExit);
    control->addTarget(target, log("enter"), "enter", UIControlEventTouchDragEnter);
    control->addTarget(target, log("in"), "in", UIControlEventTouchDragInside);
    control->addTarget(target, log("out"), "out", UIControlEventTouchDragOutside);
    control->addTarget(target, log("up-in"), "upIn", UIControlEventTouchUpInside);
    control->addTarget(target, log("up-out"), "upOut", UIControlEventTouchUpOutside);
    control->trackTouchDownAt(CGPointMake(50, 20), nullptr);
    control->trackTouchMovedTo(CGPointMake(150, 20), nullptr);  // 50 past the edge: within the tolerance
    control->trackTouchMovedTo(CGPointMake(200, 20), nullptr);  // 100 past: outside
    EXPECT_FALSE(control->isHighlighted());
    control->trackTouchMovedTo(CGPointMake(60, 20), nullptr);
    control->trackTouchMovedTo(CGPointMake(60, 200), nullptr);
    control->trackTouchUpAt(CGPointMake(60, 200), nullptr);
    EXPECT_EQ(events,
              (std::vector<std::string>{"in", "exit", "out", "enter", "in", "exit", "out", "up-out"}));
}

TEST_F(ControlTest, CancelSendsTouchCancel) {
    control->addTarget(target, log("cancel"), "cancel", UIControlEventTouchCancel);
    control->addTarget(target, log("up"), "up",
                       UIControlEventAllTouchEvents & ~UIControlEventTouchCancel & ~UIControlEventTouchDown);
    control->trackTouchDownAt(CGPointMake(5, 5), nullptr);
    control->trackTouchCancelled(nullptr);
    control->trackTouchUpAt(CGPointMake(5, 5), nullptr);  // no longer tracking: ignored
    EXPECT_EQ(events, std::vector<std::string>{"cancel"});
}

TEST_F(ControlTest, DisabledControlsDoNotTrackAndAreNotHit) {
    control->addTarget(target, log("down"), "down", UIControlEventAllTouchEvents);
    control->setEnabled(false);
    control->trackTouchDownAt(CGPointMake(5, 5), nullptr);
    control->trackTouchUpAt(CGPointMake(5, 5), nullptr);
    EXPECT_TRUE(events.empty());
    auto parent = make<UIView>(CGRectMake(0, 0, 200, 200));
    parent->addSubview(control);
    EXPECT_EQ(parent->hitTest(CGPointMake(5, 5), nullptr), parent);
    control->setEnabled(true);
    EXPECT_EQ(parent->hitTest(CGPointMake(5, 5), nullptr), control);
}

TEST_F(ControlTest, DisablingWhileTrackingCancels) {
    control->addTarget(target, log("cancel"), "cancel", UIControlEventTouchCancel);
    control->trackTouchDownAt(CGPointMake(5, 5), nullptr);
    control->setEnabled(false);
    EXPECT_FALSE(control->isTracking());
    EXPECT_EQ(events, std::vector<std::string>{"cancel"});
}

TEST_F(ControlTest, SubclassesCanStopTracking) {
    struct OneShot : UIControl {
        bool continueTrackingWithTouch(const Ref<UITouch>&, const Ref<UIEvent>&) override { return false; }
    };
    auto shot = make<OneShot>();
    shot->setFrame(CGRectMake(0, 0, 50, 50));
    shot->addTarget(target, log("up"), "up", UIControlEventTouchUpInside);
    shot->trackTouchDownAt(CGPointMake(1, 1), nullptr);
    shot->trackTouchMovedTo(CGPointMake(2, 2), nullptr);
    EXPECT_FALSE(shot->isTracking());
    shot->trackTouchUpAt(CGPointMake(2, 2), nullptr);
    EXPECT_TRUE(events.empty());
}

TEST_F(ControlTest, AnInjectedTapFiresTheAction) {
    auto window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
    window->setHidden(false);
    window->addSubview(control);
    control->setFrame(CGRectMake(50, 50, 100, 40));
    std::size_t touchesSeen = 0;
    control->addTarget(target, log("down"), "down", UIControlEventTouchDown);
    control->addTarget(
        target,
        [&](const Ref<NSObject>& sender, const Ref<UIEvent>& event) {
            events.push_back("up-in");
            touchesSeen = event ? event->allTouches().size() : 0;
            EXPECT_EQ(sender, control);
        },
        "upIn", UIControlEventTouchUpInside);
    UITestDriver::reset();
    UITestDriver::tap(control);
    EXPECT_EQ(events, (std::vector<std::string>{"down", "up-in"}));
    EXPECT_EQ(touchesSeen, 1u);
    // A tap that lands on a disabled control goes to what lies behind.
    control->setEnabled(false);
    UITestDriver::tap(control);
    EXPECT_EQ(events.size(), 2u);
    // A drag off the control ends outside.
    control->setEnabled(true);
    control->addTarget(target, log("up-out"), "upOut", UIControlEventTouchUpOutside);
    events.clear();
    UITestDriver::reset();
    UITestDriver::drag(control, CGPointMake(10, 10), CGPointMake(10, 300), 4);
    EXPECT_EQ(events, (std::vector<std::string>{"down", "up-out"}));
    UITestDriver::reset();
    window->setHidden(true);
}

// ---- indicators, progress, pages, refresh ------------------------------------------------------

TEST_F(ControlTest, ActivityIndicatorStylesSizesAndHiding) {
    auto large = make<UIActivityIndicatorView>(UIActivityIndicatorViewStyleWhiteLarge);
    EXPECT_RECT(large->frame(), 0, 0, 37, 37);
    auto gray = make<UIActivityIndicatorView>(UIActivityIndicatorViewStyleGray);
    EXPECT_RECT(gray->frame(), 0, 0, 20, 20);
    EXPECT_TRUE(gray->color()->isEqual(*UIColor::grayColor()));
    EXPECT_TRUE(large->color()->isEqual(*UIColor::whiteColor()));
    gray->setColor(UIColor::redColor());
    EXPECT_TRUE(gray->color()->isEqual(*UIColor::redColor()));

    EXPECT_TRUE(gray->isHidden());  // stopped and hiding from the start
    gray->startAnimating();
    EXPECT_TRUE(gray->isAnimating());
    EXPECT_FALSE(gray->isHidden());
    gray->stopAnimating();
    EXPECT_TRUE(gray->isHidden());
    gray->setHidesWhenStopped(false);
    EXPECT_FALSE(gray->isHidden());
    gray->startAnimating();
    gray->stopAnimating();
    EXPECT_FALSE(gray->isHidden());

    large->setCenter(CGPointMake(100, 100));
    large->setActivityIndicatorViewStyle(UIActivityIndicatorViewStyleWhite);
    EXPECT_RECT(large->frame(), 90, 90, 20, 20);
}

TEST_F(ControlTest, ProgressIsClampedAndObservable) {
    auto bar = make<UIProgressView>(UIProgressViewStyleDefault);
    std::vector<double> seen;
    auto token = KVO::observe(*bar, "progress", NSKeyValueObservingOptionNew,
                              [&](const Ref<NSObject>&, const Dictionary& change) {
                                  seen.push_back(change[NSKeyValueChangeNewKey].doubleValue());
                              });
    bar->setProgress(0.5f, true);
    EXPECT_FLOAT_EQ(bar->progress(), 0.5f);  // at once, even animated
    EXPECT_TRUE(bar->lastChangeAnimated());
    bar->setProgress(7);
    EXPECT_FLOAT_EQ(bar->progress(), 1);
    bar->setProgress(-1);
    EXPECT_FLOAT_EQ(bar->progress(), 0);
    bar->setProgress(std::nanf(""));
    EXPECT_FLOAT_EQ(bar->progress(), 0);
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_DOUBLE_EQ(bar->intrinsicContentSize().height, 2);
}

TEST_F(ControlTest, PageControlTapsMoveOnePageAndReport) {
    auto pages = make<UIPageControl>(CGRectMake(0, 0, 200, 37));
    pages->setNumberOfPages(3);
    EXPECT_EQ(pages->sizeThatFits(CGSizeZero), CGSizeMake(3 * 7 + 2 * 9, 37));
    std::vector<long> reported;
    pages->addTarget(
        nullptr, [&](const Ref<NSObject>&, const Ref<UIEvent>&) { reported.push_back(pages->currentPage()); },
        UIControlEventValueChanged);
    auto tapAt = [&](CGFloat x) {
        pages->trackTouchDownAt(CGPointMake(x, 10), nullptr);
        pages->trackTouchUpAt(CGPointMake(x, 10), nullptr);
    };
    for (CGFloat x : {150, 150, 150 /* already on the last page */, 20}) tapAt(x);
    EXPECT_EQ(reported, (std::vector<long>{1, 2, 1}));
    pages->setCurrentPage(10);
    EXPECT_EQ(pages->currentPage(), 2);
    pages->setNumberOfPages(1);
    EXPECT_EQ(pages->currentPage(), 0);
    pages->setHidesForSinglePage(true);
    EXPECT_TRUE(pages->isHidden());
    pages->setNumberOfPages(4);
    EXPECT_FALSE(pages->isHidden());
    // A deferred display follows only when told.
    pages->setCurrentPage(0);
    pages->setDefersCurrentPageDisplay(true);
    tapAt(150);
    EXPECT_EQ(pages->currentPage(), 1);
    EXPECT_EQ(pages->displayedPage(), 0);
    pages->updateCurrentPageDisplay();
    EXPECT_EQ(pages->displayedPage(), 1);
}

TEST_F(ControlTest, RefreshControlFiresOncePerPullPastTheThreshold) {
    auto scroll = make<UIScrollView>(CGRectMake(0, 0, 320, 480));
    scroll->setContentSize(CGSizeMake(320, 1000));
    auto refresh = make<UIRefreshControl>();
    int pulls = 0;
    refresh->addTarget(
        nullptr, [&](const Ref<NSObject>&, const Ref<UIEvent>&) { ++pulls; }, UIControlEventValueChanged);
    scroll->addSubview(refresh);
    EXPECT_EQ(refresh->scrollView(), scroll);
    EXPECT_RECT(refresh->frame(), 0, -60, 320, 60);

    scroll->setContentOffset(CGPointMake(0, -100));  // not dragging: nothing
    EXPECT_EQ(pulls, 0);
    scroll->setContentOffset(CGPointZero);
    scroll->simulateBeginDragging();
    scroll->simulateDragBy(0, -40);
    EXPECT_FALSE(refresh->isRefreshing());
    scroll->simulateDragBy(0, -30);
    EXPECT_TRUE(refresh->isRefreshing());
    scroll->simulateDragBy(0, -30);
    EXPECT_EQ(pulls, 1);
    scroll->simulateEndDragging(CGPointZero, false);
    refresh->endRefreshing();
    EXPECT_FALSE(refresh->isRefreshing());
    // Pulling again without returning to rest does not fire.
    scroll->simulateBeginDragging();
    scroll->simulateDragBy(0, 10);
    scroll->simulateDragBy(0, -10);
    EXPECT_EQ(pulls, 1);
    scroll->simulateDragTo(CGPointZero);
    scroll->simulateDragBy(0, -80);
    EXPECT_EQ(pulls, 2);
    scroll->simulateEndDragging(CGPointZero, false);

    refresh->removeFromSuperview();
    EXPECT_EQ(refresh->scrollView(), nullptr);
    refresh->endRefreshing();
    scroll->simulateDrag(0, -200);
    EXPECT_EQ(pulls, 2);
    // Beginning and ending from code sends nothing.
    refresh->beginRefreshing();
    EXPECT_TRUE(refresh->isRefreshing());
    refresh->endRefreshing();
    EXPECT_EQ(pulls, 2);
}

}  // namespace
