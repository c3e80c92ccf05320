// Controls: target-action registrations per event, removal, state bits, and tracking by points
// (the touch overrides feed the same path).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/NSKeyValueObserving.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UIControl.h"
#include "uikit/UIEvent.h"
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

TEST_F(ControlTest, StateIsObservableByName) {
    control->setSelected(true);
    EXPECT_TRUE(KVO::valueForKey(*control, "selected").boolValue());
    EXPECT_TRUE(KVO::valueForKey(*control, "enabled").boolValue());
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
    UITestDriver::reset();
    window->setHidden(true);
}

TEST_F(ControlTest, AnInjectedDragOffTheControlEndsOutside) {
    auto window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
    window->setHidden(false);
    window->addSubview(control);
    control->addTarget(target, log("up-in"), "upIn", UIControlEventTouchUpInside);
    control->addTarget(target, log("up-out"), "upOut", UIControlEventTouchUpOutside);
    UITestDriver::reset();
    UITestDriver::drag(control, CGPointMake(10, 10), CGPointMake(10, 300), 4);
    EXPECT_EQ(events, std::vector<std::string>{"up-out"});
    UITestDriver::reset();
    window->setHidden(true);
}

}  // namespace
