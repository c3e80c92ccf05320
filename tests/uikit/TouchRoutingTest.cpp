// Which of several interested parties a finger's tap or drag goes to: a control against a tap
// recogniser of an ancestor, and nested scroll views against each other.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "dispatch/Clock.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UIButton.h"
#include "uikit/UIPageControl.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIScrollView.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITextField.h"
#include "uikit/UIWindow.h"

namespace {

using testsupport::ManualClock;

class TouchRoutingTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        window->setHidden(false);
        window->addSubview(panel);
    }
    void TearDown() override {
        window->setHidden(true);
        UIKitTest::TearDown();
    }

    // A tap recogniser counting its recognitions.
    Ref<UITapGestureRecognizer> countingTap(int* count, unsigned long taps = 1) {
        auto tap = make<UITapGestureRecognizer>(nullptr, [count](const Ref<UIGestureRecognizer>& g) {
            if (g->state() == UIGestureRecognizerStateEnded) ++*count;
        });
        tap->setNumberOfTapsRequired(taps);
        return tap;
    }

    ManualClock clock;
    Ref<UIWindow> window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
    Ref<UIView> panel = make<UIView>(CGRectMake(0, 0, 320, 300));
};

// What a control's own tracking of a touch came to.
struct Tracked {
    int ended = 0;
    int cancelled = 0;
};

// A control of any kind that counts how its tracking ends, without registering actions (which
// would change whether it answers taps).
template <class C>
class Tallied : public C {
  public:
    using C::C;
    Tracked tracked;
    void endTrackingWithTouch(const Ref<UITouch>& touch, const Ref<UIEvent>& event) override {
        ++tracked.ended;
        C::endTrackingWithTouch(touch, event);
    }
    void cancelTrackingWithEvent(const Ref<UIEvent>& event) override {
        ++tracked.cancelled;
        C::cancelTrackingWithEvent(event);
    }
};

template <class C>
std::pair<Ref<UIControl>, Tracked*> tallied() {
    auto control = make<Tallied<C>>(CGRectMake(20, 20, 100, 44));
    if constexpr (std::is_same_v<C, UIPageControl>) control->setNumberOfPages(3);
    return {control, &control->tracked};
}

struct ControlCase {
    const char* name;
    std::function<std::pair<Ref<UIControl>, Tracked*>()> make;
    // The events the test registers an action for (none: 0).
    UIControlEvents events;
    // Whether the control (true) or the panel's tap recogniser (false) takes the tap.
    bool controlWins;
};

TEST_F(TouchRoutingTest, AControlsOwnTapGoesAheadOfAnAncestorsTapRecogniser) {
    const std::vector<ControlCase> cases = {
        {"button with an action", tallied<UIButton>, UIControlEventTouchUpInside, true},
        {"button without actions", tallied<UIButton>, 0, true},
        {"page control", tallied<UIPageControl>, 0, true},
        {"plain control with a value action", tallied<UIControl>, UIControlEventValueChanged, true},
        {"plain control with a touch-down action", tallied<UIControl>, UIControlEventTouchDown, true},
        {"plain control with a primary action", tallied<UIControl>, UIControlEventPrimaryActionTriggered,
         true},
        // A control that does nothing with a tap leaves it to the recogniser.
        {"plain control without actions", tallied<UIControl>, 0, false},
        {"plain control with an editing action", tallied<UIControl>, UIControlEventEditingChanged, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int recognised = 0;
        auto tap = countingTap(&recognised);
        panel->addGestureRecognizer(tap);
        auto [control, tracked] = c.make();
        panel->addSubview(control);
        int actions = 0;
        if (c.events)
            control->addTarget(
                nullptr, [&](const auto&, const auto&) { ++actions; }, c.events);

        UITestDriver::tapAt(control, CGPointMake(80, 22));
        EXPECT_EQ(recognised, c.controlWins ? 0 : 1);
        EXPECT_EQ(tracked->ended, c.controlWins ? 1 : 0);
        EXPECT_EQ(tracked->cancelled, c.controlWins ? 0 : 1);
        if (c.controlWins && c.events && c.events != UIControlEventValueChanged) {
            EXPECT_EQ(actions, 1);
        }
        EXPECT_FALSE(control->isHighlighted());

        // Beside the control the panel's recogniser has the tap.
        UITestDriver::tapAt(panel, CGPointMake(200, 200));
        EXPECT_EQ(recognised, c.controlWins ? 1 : 2);

        control->removeFromSuperview();
        panel->removeGestureRecognizer(tap);
        UITestDriver::wait(1);
    }
}

TEST_F(TouchRoutingTest, ATextFieldInAViewThatClosesTheKeyboardLeavesTheTapToIt) {
    int recognised = 0;
    panel->addGestureRecognizer(countingTap(&recognised));
    auto field = make<UITextField>(CGRectMake(20, 20, 200, 44));
    panel->addSubview(field);
    UITestDriver::tap(field);
    EXPECT_EQ(recognised, 1);
}

TEST_F(TouchRoutingTest, ThePageControlTurnsItsPageUnderAnAncestorsTap) {
    int recognised = 0;
    panel->addGestureRecognizer(countingTap(&recognised));
    auto dots = make<UIPageControl>(CGRectMake(20, 20, 120, 40));
    dots->setNumberOfPages(3);
    panel->addSubview(dots);
    int changes = 0;
    dots->addTarget(
        nullptr, [&](const auto&, const auto&) { ++changes; }, UIControlEventValueChanged);
    UITestDriver::tapAt(dots, CGPointMake(110, 20));  // right of the current dot: the next page
    EXPECT_EQ(dots->currentPage(), 1);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(recognised, 0);
}

TEST_F(TouchRoutingTest, ARecogniserOfTheControlItselfStillTakesTheTap) {
    int panelTaps = 0;
    int ownTaps = 0;
    panel->addGestureRecognizer(countingTap(&panelTaps));
    auto button = make<UIButton>(CGRectMake(20, 20, 100, 44));
    panel->addSubview(button);
    button->addGestureRecognizer(countingTap(&ownTaps));
    int actions = 0;
    button->addTarget(
        nullptr, [&](const auto&, const auto&) { ++actions; }, UIControlEventTouchUpInside);

    UITestDriver::tap(button);
    EXPECT_EQ(ownTaps, 1);
    EXPECT_EQ(actions, 0);
    EXPECT_EQ(panelTaps, 0);

    // A recogniser of a view inside the control is the control's own too.
    button->removeGestureRecognizer(button->gestureRecognizers().front());
    auto badge = make<UIView>(CGRectMake(0, 0, 30, 44));
    button->addSubview(badge);
    badge->addGestureRecognizer(countingTap(&ownTaps));
    UITestDriver::wait(1);
    UITestDriver::tap(badge);
    EXPECT_EQ(ownTaps, 2);
    EXPECT_EQ(actions, 0);
    EXPECT_EQ(panelTaps, 0);
}

TEST_F(TouchRoutingTest, OtherGesturesOfAnAncestorAreNotHeldBack) {
    auto button = make<UIButton>(CGRectMake(20, 20, 100, 44));
    panel->addSubview(button);
    int actions = 0;
    int cancels = 0;
    button->addTarget(
        nullptr, [&](const auto&, const auto&) { ++actions; }, UIControlEventTouchUpInside);
    button->addTarget(
        nullptr, [&](const auto&, const auto&) { ++cancels; }, UIControlEventTouchCancel);

    // A pan that starts on the button is the panel's: the button's touch is cancelled.
    int pans = 0;
    auto pan = make<UIPanGestureRecognizer>(nullptr, [&](const Ref<UIGestureRecognizer>& g) {
        if (g->state() == UIGestureRecognizerStateEnded) ++pans;
    });
    panel->addGestureRecognizer(pan);
    UITestDriver::drag(button, CGPointMake(50, 22), CGPointMake(50, 200));
    EXPECT_EQ(pans, 1);
    EXPECT_EQ(actions, 0);
    EXPECT_EQ(cancels, 1);
    panel->removeGestureRecognizer(pan);

    // A double tap of the panel is not the button's single tap.
    int doubles = 0;
    panel->addGestureRecognizer(countingTap(&doubles, 2));
    UITestDriver::wait(1);
    UITestDriver::tap(button, 2);
    EXPECT_EQ(doubles, 1);

    // A disabled button is passed over: the panel's single tap has it.
    int singles = 0;
    panel->addGestureRecognizer(countingTap(&singles));
    button->setEnabled(false);
    UITestDriver::wait(1);
    UITestDriver::tapAt(panel, CGPointMake(50, 40));
    UITestDriver::wait(1);
    EXPECT_EQ(singles, 1);

    // So is one disabled while the finger is on it: the tap ends on a control that no longer
    // answers, and the panel has it.
    button->setEnabled(true);
    UITestDriver::touchDown(panel, CGPointMake(50, 40));
    button->setEnabled(false);
    UITestDriver::touchUp(panel, CGPointMake(50, 40));
    UITestDriver::wait(1);
    EXPECT_EQ(singles, 2);
    EXPECT_EQ(actions, 0);
}

// ---- nested scroll views --------------------------------------------------------------------------

class Heard : public NSObject, public UIScrollViewDelegate {
  public:
    int began = 0;
    void scrollViewWillBeginDragging(UIScrollView&) override { ++began; }
};

// A horizontal pager of three pages, each a vertical list much taller than the screen.
class NestedScrollTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        window->setHidden(false);
        window->addSubview(pager);
        pager->setPagingEnabled(true);
        pager->setContentSize(CGSizeMake(320 * 3, 400));
        pager->setDelegate(pagerHeard);
        for (int i = 0; i < 3; ++i) {
            auto list = make<UIScrollView>(CGRectMake(320 * i, 0, 320, 400));
            list->setContentSize(CGSizeMake(320, 2000));
            pager->addSubview(list);
            lists.push_back(list);
        }
        lists[0]->setDelegate(listHeard);
    }
    void TearDown() override {
        UITestDriver::wait(1);
        window->setHidden(true);
        UIKitTest::TearDown();
    }

    ManualClock clock;
    Ref<UIWindow> window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
    Ref<UIScrollView> pager = make<UIScrollView>(CGRectMake(0, 0, 320, 400));
    std::vector<Ref<UIScrollView>> lists;
    Ref<Heard> pagerHeard = make<Heard>();
    Ref<Heard> listHeard = make<Heard>();
};

struct DragCase {
    const char* name;
    CGPoint from, to;
    // Which one moves: the pager sideways, or the first list up and down.
    bool pagerMoves;
};

TEST_F(NestedScrollTest, EachDragGoesToTheScrollViewThatCanFollowIt) {
    const std::vector<DragCase> cases = {
        {"sideways", {260, 200}, {60, 200}, true},
        {"up", {160, 350}, {160, 100}, false},
        {"mostly sideways", {260, 250}, {60, 170}, true},
        {"mostly up", {200, 350}, {120, 100}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pager->setContentOffset(CGPointZero);
        lists[0]->setContentOffset(CGPointZero);
        pagerHeard->began = listHeard->began = 0;

        UITestDriver::drag(lists[0], c.from, c.to);
        UITestDriver::wait(1);
        if (c.pagerMoves) {
            EXPECT_EQ(pagerHeard->began, 1);
            EXPECT_EQ(listHeard->began, 0);
            EXPECT_EQ(pager->contentOffset().x, 320);  // the next page
            EXPECT_EQ(pager->contentOffset().y, 0);
            EXPECT_EQ(lists[0]->contentOffset().y, 0);
        } else {
            EXPECT_EQ(pagerHeard->began, 0);
            EXPECT_EQ(listHeard->began, 1);
            EXPECT_EQ(pager->contentOffset().x, 0);
            EXPECT_GT(lists[0]->contentOffset().y, 200);
            EXPECT_EQ(lists[0]->contentOffset().x, 0);
        }
    }
}

TEST_F(NestedScrollTest, AListThatCanFollowTheDragKeepsIt) {
    // Bouncing asked for sideways: the list takes the sideways drag (and springs back).
    lists[0]->setAlwaysBounceHorizontal(true);
    UITestDriver::drag(lists[0], CGPointMake(260, 200), CGPointMake(60, 200));
    EXPECT_EQ(listHeard->began, 1);
    EXPECT_EQ(pagerHeard->began, 0);
    UITestDriver::wait(1);
    EXPECT_EQ(pager->contentOffset().x, 0);
    lists[0]->setAlwaysBounceHorizontal(false);

    // Content wider than the list: the list scrolls sideways itself.
    lists[0]->setContentSize(CGSizeMake(900, 2000));
    UITestDriver::drag(lists[0], CGPointMake(260, 200), CGPointMake(60, 200));
    UITestDriver::wait(1);
    EXPECT_EQ(listHeard->began, 2);
    EXPECT_EQ(pagerHeard->began, 0);
    EXPECT_GT(lists[0]->contentOffset().x, 100);
    EXPECT_EQ(pager->contentOffset().x, 0);

    // Scrolling turned off: the drag is the pager's.
    lists[0]->setScrollEnabled(false);
    lists[0]->setContentOffset(CGPointZero);
    UITestDriver::drag(lists[0], CGPointMake(260, 200), CGPointMake(60, 200));
    UITestDriver::wait(1);
    EXPECT_EQ(listHeard->began, 2);
    EXPECT_EQ(pagerHeard->began, 1);
    EXPECT_EQ(pager->contentOffset().x, 320);
}

TEST_F(NestedScrollTest, AShortListLeavesUpAndDownDragsToAVerticalParent) {
    // A vertical list holding a short horizontal strip (a carousel): a vertical drag that starts on
    // the strip scrolls the list.
    auto strip = make<UIScrollView>(CGRectMake(0, 0, 320, 120));
    strip->setContentSize(CGSizeMake(960, 120));
    auto stripHeard = make<Heard>();
    strip->setDelegate(stripHeard);
    lists[0]->addSubview(strip);
    UITestDriver::drag(strip, CGPointMake(160, 100), CGPointMake(160, 10), 9);
    UITestDriver::wait(1);
    EXPECT_EQ(stripHeard->began, 0);
    EXPECT_EQ(listHeard->began, 1);
    EXPECT_GT(lists[0]->contentOffset().y, 50);
    // Sideways on the strip: the strip's own.
    lists[0]->setContentOffset(CGPointZero);
    UITestDriver::drag(strip, CGPointMake(260, 60), CGPointMake(60, 60));
    UITestDriver::wait(1);
    EXPECT_EQ(stripHeard->began, 1);
    EXPECT_EQ(pagerHeard->began, 0);
}

}  // namespace
