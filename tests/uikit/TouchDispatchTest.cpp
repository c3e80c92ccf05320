#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "dispatch/Clock.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSLog.h"
#include "tests/support/MainLoop.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UIApplication.h"
#include "uikit/UIEvent.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIPinchGestureRecognizer.h"
#include "uikit/UISwipeGestureRecognizer.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITouch.h"
#include "uikit/UIWindow.h"

namespace {

struct Heard {
    std::string phase;
    std::size_t count;
    Ref<UITouch> touch;
    Ref<UIEvent> event;
    double time;
};

// Records what reaches it; forwards along the responder chain when asked to.
class Listener : public UIView {
  public:
    using UIView::UIView;
    bool forward = false;
    std::vector<Heard> heard;

    // One entry per touch of the call.
    void note(const char* phase, const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
        for (const auto& touch : touches)
            heard.push_back({phase, touches.size(), touch, event, touch->timestamp()});
    }
    void touchesBegan(const std::set<Ref<UITouch>>& t, const Ref<UIEvent>& e) override {
        note("began", t, e);
        if (forward) UIView::touchesBegan(t, e);
    }
    void touchesMoved(const std::set<Ref<UITouch>>& t, const Ref<UIEvent>& e) override {
        note("moved", t, e);
        if (forward) UIView::touchesMoved(t, e);
    }
    void touchesEnded(const std::set<Ref<UITouch>>& t, const Ref<UIEvent>& e) override {
        note("ended", t, e);
        if (forward) UIView::touchesEnded(t, e);
    }
    void touchesCancelled(const std::set<Ref<UITouch>>& t, const Ref<UIEvent>& e) override {
        note("cancelled", t, e);
        if (forward) UIView::touchesCancelled(t, e);
    }
    std::vector<std::string> phases() const {
        std::vector<std::string> out;
        for (const auto& h : heard) out.push_back(h.phase);
        return out;
    }
};

using Phases = std::vector<std::string>;

class TouchDispatchTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        window->setHidden(false);
        window->addSubview(parent);
        parent->addSubview(child);
    }
    void TearDown() override {
        window->setHidden(true);
        UIKitTest::TearDown();
    }

    Ref<UIWindow> window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
    Ref<Listener> parent = make<Listener>(CGRectMake(20, 20, 200, 200));
    Ref<Listener> child = make<Listener>(CGRectMake(10, 10, 50, 50));
};

TEST_F(TouchDispatchTest, PhasesReachTheHitViewAndTravelUpTheChain) {
    child->forward = true;
    UITestDriver::drag(child, {5, 5}, {25, 5}, 2);
    ASSERT_EQ(child->phases(), (Phases{"began", "moved", "moved", "ended"}));
    EXPECT_EQ(parent->phases(), (Phases{"began", "moved", "moved", "ended"}));
    const auto& touch = child->heard.back().touch;
    EXPECT_EQ(touch->view(), child);
    EXPECT_EQ(touch->window(), window);
    EXPECT_EQ(touch->phase(), UITouchPhaseEnded);
    EXPECT_EQ(touch->locationInView(child), CGPointMake(25, 5));
    EXPECT_EQ(touch->previousLocationInView(child), CGPointMake(25, 5));
    EXPECT_EQ(touch->locationInView(nullptr), CGPointMake(55, 35));
    EXPECT_EQ(touch->locationInView(parent), CGPointMake(35, 15));
}

TEST_F(TouchDispatchTest, TouchesOutsideEveryViewGoNowhere) {
    UITestDriver::tapAt(window, {300, 400});
    UITestDriver::tapAt(window, {-10, -10});
    EXPECT_TRUE(parent->heard.empty());
    EXPECT_TRUE(child->heard.empty());
}

TEST_F(TouchDispatchTest, HiddenWindowTakesNoTouches) {
    std::vector<std::string> lines;
    NSLogSink previous = NSLogSetSink([&](const std::string& line) { lines.push_back(line); });
    window->setHidden(true);
    UITestDriver::tap(child);
    NSLogSetSink(previous);
    EXPECT_TRUE(child->heard.empty());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("hidden window"), std::string::npos);
}

TEST_F(TouchDispatchTest, IgnoredInteractionEventsAreDropped) {
    auto app = UIApplication::sharedApplication();
    app->beginIgnoringInteractionEvents();
    UITestDriver::tap(child);
    app->endIgnoringInteractionEvents();
    EXPECT_TRUE(child->heard.empty());
    UITestDriver::tap(child);
    EXPECT_EQ(child->phases(), (Phases{"began", "ended"}));
}

TEST_F(TouchDispatchTest, TreesOutsideAWindowTakeTouchesToo) {
    auto root = make<Listener>(CGRectMake(0, 0, 100, 100));
    auto leaf = make<Listener>(CGRectMake(50, 50, 10, 10));
    root->addSubview(leaf);
    EXPECT_EQ(UITestDriver::rootFor(leaf), root);
    UITestDriver::tap(leaf);
    ASSERT_EQ(leaf->phases(), (Phases{"began", "ended"}));
    EXPECT_EQ(leaf->heard[0].touch->window(), nullptr);
    EXPECT_EQ(leaf->heard[0].touch->rootView(), root);
}

TEST_F(TouchDispatchTest, SeveralFingersInOneEvent) {
    auto root = UITestDriver::rootFor(child);
    UITestDriver::touchesDown(root, {{0, {31, 31}}, {1, {40, 40}}});
    ASSERT_EQ(child->heard.size(), 2u);
    EXPECT_EQ(child->heard[0].count, 2u);
    auto event = child->heard[0].event;
    EXPECT_EQ(event->type(), UIEventTypeTouches);
    EXPECT_EQ(event->allTouches().size(), 2u);
    EXPECT_EQ(event->touchesForView(child).size(), 2u);
    EXPECT_EQ(event->touchesForWindow(window).size(), 2u);
    EXPECT_TRUE(event->touchesForView(parent).empty());
    // One finger moves: the other is stationary and only the mover is reported.
    UITestDriver::touchMove(root, {33, 33}, 0);
    ASSERT_EQ(child->heard.size(), 3u);
    EXPECT_EQ(child->heard[2].count, 1u);
    int stationary = 0;
    for (const auto& t : event->allTouches()) stationary += t->phase() == UITouchPhaseStationary;
    EXPECT_EQ(stationary, 1);
    EXPECT_EQ(UITestDriver::fingersDown(), 2u);
    UITestDriver::touchUp(root, {33, 33}, 0);
    EXPECT_EQ(UITestDriver::fingersDown(), 1u);
    EXPECT_EQ(event->allTouches().size(), 1u);
    UITestDriver::touchCancel(root, 1);
    EXPECT_EQ(child->phases(), (Phases{"began", "began", "moved", "ended", "cancelled"}));
    EXPECT_EQ(UITestDriver::fingersDown(), 0u);
    // Moving or lifting a finger that is not down does nothing.
    UITestDriver::touchMove(root, {1, 1}, 7);
    UITestDriver::touchUp(root, {1, 1}, 7);
    EXPECT_EQ(child->heard.size(), 5u);
}

TEST_F(TouchDispatchTest, PuttingDownAFingerThatIsDownLiftsItFirst) {
    auto root = UITestDriver::rootFor(child);
    UITestDriver::touchDown(root, {31, 31});
    UITestDriver::touchDown(root, {35, 35});
    EXPECT_EQ(child->phases(), (Phases{"began", "ended", "began"}));
    UITestDriver::reset();
    EXPECT_EQ(child->phases(), (Phases{"began", "ended", "began", "cancelled"}));
}

TEST_F(TouchDispatchTest, TapCountsAndTimestamps) {
    UITestDriver::tap(child, 3);
    ASSERT_EQ(child->heard.size(), 6u);
    EXPECT_EQ(child->heard[0].touch->tapCount(), 1u);
    EXPECT_EQ(child->heard[2].touch->tapCount(), 2u);
    EXPECT_EQ(child->heard[4].touch->tapCount(), 3u);
    double previous = 0;
    for (const auto& h : child->heard) {
        EXPECT_GT(h.touch->timestamp(), 0);
        EXPECT_GE(h.touch->timestamp(), previous);
        previous = h.touch->timestamp();
    }
    // Far away, it is a first tap again.
    UITestDriver::tapAt(parent, {190, 190});
    ASSERT_FALSE(parent->heard.empty());
    EXPECT_EQ(parent->heard.back().touch->tapCount(), 1u);
}

TEST_F(TouchDispatchTest, TheManualClockMovesWithTheEvents) {
    testsupport::ManualClock clock;
    double start = PlatformClock::monotonic();
    UITestDriver::setStepInterval(0.25);
    UITestDriver::drag(child, {5, 5}, {20, 5}, 2);  // four events
    UITestDriver::setStepInterval(1.0 / 60);
    EXPECT_NEAR(PlatformClock::monotonic() - start, 1.0, 1e-6);
    ASSERT_FALSE(child->heard.empty());
    EXPECT_NEAR(child->heard.back().time - child->heard.front().time, 0.75, 1e-6);
    // Work due on the main queue runs as the fingers move.
    bool ran = false;
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, 100'000'000), dispatch_get_main_queue(),
                   [&] { ran = true; });
    UITestDriver::wait(0.05);
    EXPECT_FALSE(ran);
    UITestDriver::tap(child);
    UITestDriver::wait(0.05);
    EXPECT_TRUE(ran);
}

TEST_F(TouchDispatchTest, RecognisersSeeTouchesBeforeTheView) {
    std::vector<std::string> order;
    struct Spy : UIGestureRecognizer {
        std::vector<std::string>* order;
        void touchesBegan(const std::set<Ref<UITouch>>&, const Ref<UIEvent>&) override {
            order->push_back("recogniser");
        }
    };
    struct Ordered : Listener {
        using Listener::Listener;
        std::vector<std::string>* order;
        void touchesBegan(const std::set<Ref<UITouch>>& t, const Ref<UIEvent>& e) override {
            order->push_back("view");
        }
    };
    auto view = make<Ordered>(CGRectMake(0, 0, 10, 10));
    view->order = &order;
    parent->addSubview(view);
    auto spy = make<Spy>();
    spy->order = &order;
    parent->addGestureRecognizer(spy);
    UITestDriver::tap(view);
    EXPECT_EQ(order, (std::vector<std::string>{"recogniser", "view"}));
    EXPECT_TRUE(make<UIEvent>()->allTouches().empty());
}

TEST_F(TouchDispatchTest, TouchAndEventKnowTheirRecognisers) {
    auto tap = make<UITapGestureRecognizer>();
    auto pan = make<UIPanGestureRecognizer>();
    child->addGestureRecognizer(tap);
    parent->addGestureRecognizer(pan);
    auto root = UITestDriver::rootFor(child);
    UITestDriver::touchDown(root, {31, 31});
    ASSERT_EQ(child->heard.size(), 1u);
    auto touch = child->heard[0].touch;
    auto recognizers = touch->gestureRecognizers();
    ASSERT_EQ(recognizers.size(), 2u);
    EXPECT_EQ(recognizers[0], tap);  // the hit view's first
    EXPECT_EQ(recognizers[1], pan);
    EXPECT_EQ(child->heard[0].event->touchesForGestureRecognizer(pan).size(), 1u);
    UITestDriver::touchUp(root, {31, 31});
}

// Random fingers on a tree full of recognisers: nothing crashes, and once every finger is up
// every recogniser is back to possible.
TEST_F(TouchDispatchTest, RandomTouchStormsSettle) {
    testsupport::ManualClock clock;
    NSLogSink quiet = NSLogSetSink([](const std::string&) {});
    std::vector<Ref<UIGestureRecognizer>> all;
    auto doubleTap = make<UITapGestureRecognizer>();
    doubleTap->setNumberOfTapsRequired(2);
    auto tap = make<UITapGestureRecognizer>();
    tap->requireGestureRecognizerToFail(doubleTap);
    auto swipe = make<UISwipeGestureRecognizer>();
    swipe->setDirection(UISwipeGestureRecognizerDirectionLeft | UISwipeGestureRecognizerDirectionUp);
    auto pan = make<UIPanGestureRecognizer>();
    pan->setDelaysTouchesBegan(true);
    auto pinch = make<UIPinchGestureRecognizer>();
    all = {doubleTap, tap, swipe, pan, pinch};
    child->addGestureRecognizer(doubleTap);
    child->addGestureRecognizer(tap);
    parent->addGestureRecognizer(swipe);
    parent->addGestureRecognizer(pan);
    window->addGestureRecognizer(pinch);
    int actions = 0;
    for (const auto& r : all) r->addTarget(nullptr, [&](const Ref<UIGestureRecognizer>&) { ++actions; });

    std::mt19937 rng(7);
    std::uniform_real_distribution<double> coordinate(-20, 260);
    auto root = UITestDriver::rootFor(child);
    for (int step = 0; step < 3000; ++step) {
        int finger = rng() % 3;
        CGPoint p{coordinate(rng), coordinate(rng)};
        switch (rng() % 6) {
            case 0:
                UITestDriver::touchDown(root, p, finger);
                break;
            case 1:
            case 2:
                UITestDriver::touchMove(root, p, finger);
                break;
            case 3:
                UITestDriver::touchUp(root, p, finger);
                break;
            case 4:
                UITestDriver::wait(0.2);
                break;
            case 5:
                if (rng() % 20 == 0) UITestDriver::touchCancel(root, finger);
                if (rng() % 50 == 0) all[rng() % all.size()]->setEnabled(rng() % 2);
                break;
        }
    }
    UITestDriver::reset();
    UITestDriver::wait(1.0);
    for (const auto& r : all) {
        EXPECT_EQ(r->state(), UIGestureRecognizerStatePossible) << r->className();
        r->setEnabled(true);
    }
    EXPECT_GT(actions, 0);
    // Views heard balanced sequences: every began is followed by exactly one end.
    for (const auto& listener : {parent, child}) {
        std::map<UITouch*, int> open;
        for (const auto& h : listener->heard) {
            if (h.phase == "began") ++open[h.touch.get()];
            if (h.phase == "ended" || h.phase == "cancelled") --open[h.touch.get()];
        }
        for (const auto& [touch, n] : open) {
            if (n != 0) {
                std::string history;
                for (const auto& h : listener->heard) {
                    if (h.touch.get() == touch) history += h.phase + " ";
                }
                ADD_FAILURE() << history << " final phase " << touch->phase() << " cancelledForView "
                              << touch->isCancelledForView() << " heardBegan " << touch->viewHeardBegan()
                              << " heardEnd " << touch->viewHeardEnd();
            }
        }
    }
    NSLogSetSink(quiet);
}

}  // namespace
