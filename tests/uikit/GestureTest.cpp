#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSLog.h"
#include "tests/support/MainLoop.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UIEvent.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIPinchGestureRecognizer.h"
#include "uikit/UISwipeGestureRecognizer.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UITestDriver.h"
#include "uikit/UITouch.h"
#include "uikit/UIWindow.h"

namespace {

using Touches = std::set<Ref<UITouch>>;
using Log = std::vector<std::string>;

// A view that records the touches it hears and keeps them to itself.
class RecordingView : public UIView {
  public:
    using UIView::UIView;
    void touchesBegan(const Touches&, const Ref<UIEvent>&) override { log.push_back("began"); }
    void touchesMoved(const Touches&, const Ref<UIEvent>&) override { log.push_back("moved"); }
    void touchesEnded(const Touches&, const Ref<UIEvent>&) override { log.push_back("ended"); }
    void touchesCancelled(const Touches&, const Ref<UIEvent>&) override { log.push_back("cancelled"); }
    std::vector<std::string> log;
    bool heard(const std::string& what) const { return std::find(log.begin(), log.end(), what) != log.end(); }
};

class Delegate : public NSObject, public UIGestureRecognizerDelegate {
  public:
    std::optional<bool> receive, begin, together;
    std::vector<Ref<UITouch>> offered;
    std::optional<bool> gestureRecognizerShouldReceiveTouch(UIGestureRecognizer&,
                                                            const Ref<UITouch>& touch) override {
        offered.push_back(touch);
        return receive;
    }
    std::optional<bool> gestureRecognizerShouldBegin(UIGestureRecognizer&) override { return begin; }
    std::optional<bool>
    gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(UIGestureRecognizer&,
                                                                        UIGestureRecognizer&) override {
        return together;
    }
};

class GestureTest : public uikittest::UIKitTest {
  protected:
    void SetUp() override {
        UIKitTest::SetUp();
        window->setHidden(false);
        window->addSubview(box);
    }
    void TearDown() override {
        window->setHidden(true);
        UIKitTest::TearDown();
    }

    template <class R>
    Ref<R> recognizer(std::vector<UIGestureRecognizerState>* states = nullptr) {
        return make<R>(nullptr, [states](const Ref<UIGestureRecognizer>& g) {
            if (states) states->push_back(g->state());
        });
    }

    Ref<UIWindow> window = make<UIWindow>(CGRectMake(0, 0, 320, 480));
    Ref<RecordingView> box = make<RecordingView>(CGRectMake(50, 50, 100, 100));
};

using S = std::vector<UIGestureRecognizerState>;

TEST_F(GestureTest, PanMovesTheViewAndItsStateIsObservable) {
    S states;
    auto pan = make<UIPanGestureRecognizer>(nullptr, [&](const Ref<UIGestureRecognizer>& g) {
        auto p = asKind<UIPanGestureRecognizer>(g);
        states.push_back(p->state());
        CGPoint t = p->translationInView(box->superview());
        box->setCenter({box->center().x + t.x, box->center().y + t.y});
        p->setTranslation(CGPointZero, box->superview());
    });
    box->addGestureRecognizer(pan);
    EXPECT_EQ(pan->view(), box);
    UITestDriver::drag(box, {50, 50}, {150, 110}, 10);
    EXPECT_EQ(box->center(), CGPointMake(200, 160));
    ASSERT_GE(states.size(), 3u);
    EXPECT_EQ(states.front(), UIGestureRecognizerStateBegan);
    EXPECT_EQ(states[1], UIGestureRecognizerStateChanged);
    EXPECT_EQ(states.back(), UIGestureRecognizerStateEnded);
    EXPECT_EQ(pan->state(), UIGestureRecognizerStatePossible);  // reset once the finger lifted
    // pan state is observable.
    std::vector<long> seen;
    auto token = KVO::observe(*pan, "state", NSKeyValueObservingOptionNew | NSKeyValueObservingOptionOld,
                              [&](const Ref<NSObject>&, const Dictionary& change) {
                                  seen.push_back(change[NSKeyValueChangeNewKey].integerValue());
                              });
    UITestDriver::drag(box, {10, 10}, {10, 80}, 4);
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen[0], 1);
    EXPECT_EQ(seen[1], 2);
    EXPECT_EQ(seen[seen.size() - 2], 3);
    EXPECT_EQ(seen.back(), 0);
}

TEST_F(GestureTest, PanNeedsTheThresholdAndFailsWhenLiftedBefore) {
    S states;
    auto pan = recognizer<UIPanGestureRecognizer>(&states);
    box->addGestureRecognizer(pan);
    UITestDriver::drag(box, {10, 10}, {15, 17}, 3);  // under 10 points
    EXPECT_TRUE(states.empty());
    EXPECT_TRUE(box->heard("ended")) << "the view gets its touches when nothing recognised";
    UITestDriver::drag(box, {10, 10}, {16, 18}, 1);  // exactly 10 points
    EXPECT_EQ(states, (S{UIGestureRecognizerStateBegan, UIGestureRecognizerStateEnded}));
}

TEST_F(GestureTest, PanVelocityAndTranslationInAView) {
    testsupport::ManualClock clock;
    CGPoint velocity{}, translation{};
    auto pan = make<UIPanGestureRecognizer>(nullptr, [&](const Ref<UIGestureRecognizer>& g) {
        auto p = asKind<UIPanGestureRecognizer>(g);
        if (p->state() == UIGestureRecognizerStateChanged) {
            velocity = p->velocityInView(box);
            translation = p->translationInView(box);
        }
    });
    box->addGestureRecognizer(pan);
    box->setTransform(CGAffineTransformMakeScale(2, 2));
    UITestDriver::setStepInterval(0.01);
    UITestDriver::drag(box, {0, 0}, {30, 0}, 10);  // 60 window points: 6 per 0.01 s
    UITestDriver::setStepInterval(1.0 / 60);
    EXPECT_NEAR(velocity.x, 300, 0.05);  // in the scaled view: 3 points per 0.01 s
    EXPECT_NEAR(velocity.y, 0, 1e-9);
    EXPECT_NEAR(translation.x, 30, 1e-9);
}

TEST_F(GestureTest, PinchScalesTheViewCountingFromTheFirstDistance) {
    S states;
    auto pinch = make<UIPinchGestureRecognizer>(nullptr, [&](const Ref<UIGestureRecognizer>& g) {
        auto p = asKind<UIPinchGestureRecognizer>(g);
        states.push_back(p->state());
        box->setTransform(CGAffineTransformScale(box->transform(), p->scale(), p->scale()));
        p->setScale(1);
    });
    box->addGestureRecognizer(pinch);
    UITestDriver::pinch(box, {50, 50}, 40, 60, 8);
    EXPECT_NEAR(box->frame().size.width, 150, 1e-9);
    EXPECT_EQ(CGRectGetMidX(box->frame()), 100);
    EXPECT_EQ(states.front(), UIGestureRecognizerStateBegan);
    EXPECT_EQ(states.back(), UIGestureRecognizerStateEnded);
    // pinch scale counts from the first distance.
    std::vector<double> scales;
    box->removeGestureRecognizer(pinch);
    box->addGestureRecognizer(make<UIPinchGestureRecognizer>(nullptr, [&](const Ref<UIGestureRecognizer>& g) {
        scales.push_back(asKind<UIPinchGestureRecognizer>(g)->scale());
    }));
    UITestDriver::pinch(box, {50, 50}, 50, 60, 5);
    EXPECT_NEAR(scales.back(), 1.2, 1e-12);
    scales.clear();
    UITestDriver::pinch(box, {50, 50}, 80, 56, 4);
    EXPECT_NEAR(scales.back(), 0.7, 1e-12);
    // One finger never pinches.
    scales.clear();
    UITestDriver::drag(box, {10, 10}, {90, 90}, 5);
    EXPECT_TRUE(scales.empty());
}

TEST_F(GestureTest, TapReachesTheDeepestVisibleInteractiveView) {
    auto inner = make<RecordingView>(CGRectMake(10, 10, 50, 50));
    auto innermost = make<RecordingView>(CGRectMake(5, 5, 20, 20));
    box->addSubview(inner);
    inner->addSubview(innermost);
    UITestDriver::tapAt(box, {20, 20});
    EXPECT_EQ(innermost->log, (Log{"began", "ended"}));
    EXPECT_TRUE(inner->log.empty());
    EXPECT_TRUE(box->log.empty());

    innermost->setHidden(true);
    UITestDriver::tapAt(box, {20, 20});
    EXPECT_EQ(inner->log, (Log{"began", "ended"}));

    inner->setUserInteractionEnabled(false);
    UITestDriver::tapAt(box, {20, 20});
    EXPECT_EQ(box->log, (Log{"began", "ended"}));
}

TEST_F(GestureTest, TapRecognizerOnTheDeepestViewWins) {
    auto inner = make<RecordingView>(CGRectMake(10, 10, 50, 50));
    box->addSubview(inner);
    S outerStates, innerStates;
    auto outerTap = recognizer<UITapGestureRecognizer>(&outerStates);
    auto innerTap = recognizer<UITapGestureRecognizer>(&innerStates);
    box->addGestureRecognizer(outerTap);
    inner->addGestureRecognizer(innerTap);
    UITestDriver::tapAt(box, {20, 20});
    EXPECT_EQ(innerStates, S{UIGestureRecognizerStateEnded});
    EXPECT_TRUE(outerStates.empty());
    EXPECT_EQ(inner->log, (Log{"began", "cancelled"}));
    UITestDriver::tapAt(box, {90, 90});
    EXPECT_EQ(outerStates, S{UIGestureRecognizerStateEnded});
}

TEST_F(GestureTest, DoubleTapRecognizer) {
    testsupport::ManualClock clock;
    S states;
    auto doubleTap = recognizer<UITapGestureRecognizer>(&states);
    doubleTap->setNumberOfTapsRequired(2);
    box->addGestureRecognizer(doubleTap);
    UITestDriver::tap(box, 2);
    EXPECT_EQ(states, S{UIGestureRecognizerStateEnded});
    // A single tap waits for the second, fails after the interval, and only then does the view
    // hear that the finger lifted.
    states.clear();
    box->log.clear();
    UITestDriver::tap(box, 1);
    EXPECT_EQ(doubleTap->state(), UIGestureRecognizerStatePossible);
    EXPECT_EQ(box->log, Log{"began"});
    UITestDriver::wait(0.5);
    EXPECT_TRUE(states.empty());
    EXPECT_EQ(box->log, (Log{"began", "ended"}));
    // Two taps too far apart in time are two single taps.
    UITestDriver::tap(box, 1);
    UITestDriver::wait(0.5);
    UITestDriver::tap(box, 1);
    UITestDriver::wait(0.5);
    EXPECT_TRUE(states.empty());
}

TEST_F(GestureTest, SingleTapWaitsForTheDoubleTapToFail) {
    testsupport::ManualClock clock;
    S single, twice;
    auto singleTap = recognizer<UITapGestureRecognizer>(&single);
    auto doubleTap = recognizer<UITapGestureRecognizer>(&twice);
    doubleTap->setNumberOfTapsRequired(2);
    singleTap->requireGestureRecognizerToFail(doubleTap);
    box->addGestureRecognizer(singleTap);
    box->addGestureRecognizer(doubleTap);
    UITestDriver::tap(box, 2);
    EXPECT_TRUE(single.empty());
    EXPECT_EQ(twice, S{UIGestureRecognizerStateEnded});
    UITestDriver::wait(0.5);
    EXPECT_TRUE(single.empty());
    UITestDriver::tap(box, 1);
    EXPECT_TRUE(single.empty());
    UITestDriver::wait(0.5);
    EXPECT_EQ(single, S{UIGestureRecognizerStateEnded});
    EXPECT_EQ(singleTap->state(), UIGestureRecognizerStatePossible);
}

TEST_F(GestureTest, TapFailsWhenTheFingerWanders) {
    S states;
    auto tap = recognizer<UITapGestureRecognizer>(&states);
    box->addGestureRecognizer(tap);
    UITestDriver::drag(box, {10, 10}, {30, 10}, 2);
    EXPECT_TRUE(states.empty());
    UITestDriver::drag(box, {10, 10}, {15, 10}, 2);
    EXPECT_EQ(states, S{UIGestureRecognizerStateEnded});
    // Two fingers for a one-finger tap.
    states.clear();
    auto root = UITestDriver::rootFor(box);
    UITestDriver::touchesDown(root, {{0, {60, 60}}, {1, {70, 70}}});
    UITestDriver::touchesUp(root, {{0, {60, 60}}, {1, {70, 70}}});
    EXPECT_TRUE(states.empty());
    tap->setNumberOfTouchesRequired(2);
    UITestDriver::touchesDown(root, {{0, {60, 60}}, {1, {70, 70}}});
    UITestDriver::touchesUp(root, {{0, {60, 60}}, {1, {70, 70}}});
    EXPECT_EQ(states, S{UIGestureRecognizerStateEnded});
}

TEST_F(GestureTest, SwipeInEachDirectionDefaultRightOnly) {
    int count = 0;
    auto swipe = make<UISwipeGestureRecognizer>(nullptr, [&](const Ref<UIGestureRecognizer>&) { ++count; });
    window->addGestureRecognizer(swipe);
    UITestDriver::swipe(window, UISwipeGestureRecognizerDirectionLeft);
    EXPECT_EQ(count, 0);
    UITestDriver::swipe(window, UISwipeGestureRecognizerDirectionRight);
    EXPECT_EQ(count, 1);
    window->removeGestureRecognizer(swipe);
    std::vector<UISwipeGestureRecognizerDirection> seen;
    const UISwipeGestureRecognizerDirection all[] = {
        UISwipeGestureRecognizerDirectionRight, UISwipeGestureRecognizerDirectionLeft,
        UISwipeGestureRecognizerDirectionUp, UISwipeGestureRecognizerDirectionDown};
    for (auto direction : all) {
        auto swipe = make<UISwipeGestureRecognizer>(nullptr, [&seen](const Ref<UIGestureRecognizer>& g) {
            seen.push_back(asKind<UISwipeGestureRecognizer>(g)->direction());
        });
        swipe->setDirection(direction);
        window->addGestureRecognizer(swipe);
    }
    for (auto direction : all) {
        seen.clear();
        UITestDriver::swipe(window, direction);
        EXPECT_EQ(seen, std::vector<UISwipeGestureRecognizerDirection>{direction}) << direction;
    }
    // Too slow is no swipe.
    seen.clear();
    UITestDriver::setStepInterval(0.2);
    UITestDriver::swipe(window, UISwipeGestureRecognizerDirectionLeft);
    UITestDriver::setStepInterval(1.0 / 60);
    EXPECT_TRUE(seen.empty());
    // Too short is no swipe.
    UITestDriver::drag(window, {100, 100}, {130, 100}, 3);
    EXPECT_TRUE(seen.empty());
}

TEST_F(GestureTest, DelegateRefusingATouchOrTheBeginningStopsRecognition) {
    S states;
    auto tap = recognizer<UITapGestureRecognizer>(&states);
    auto delegate = make<Delegate>();
    delegate->receive = false;
    tap->setDelegate(delegate);
    box->addGestureRecognizer(tap);
    UITestDriver::tap(box);
    EXPECT_TRUE(states.empty());
    EXPECT_EQ(delegate->offered.size(), 1u);
    EXPECT_EQ(delegate->offered[0]->view(), box);
    EXPECT_EQ(box->log, (Log{"began", "ended"}));
    // Only touches on the screen's own view count: a subview's touches are refused.
    auto inner = make<RecordingView>(CGRectMake(0, 0, 10, 10));
    box->addSubview(inner);
    struct OwnViewOnly : NSObject, UIGestureRecognizerDelegate {
        Weak<UIView> own;
        std::optional<bool> gestureRecognizerShouldReceiveTouch(UIGestureRecognizer&,
                                                                const Ref<UITouch>& t) override {
            return t->view() == own.lock();
        }
    };
    auto own = make<OwnViewOnly>();
    own->own = box;
    tap->setDelegate(own);
    UITestDriver::tapAt(box, {5, 5});
    EXPECT_TRUE(states.empty());
    UITestDriver::tapAt(box, {50, 50});
    EXPECT_EQ(states, S{UIGestureRecognizerStateEnded});
    // The delegate is held weakly.
    own.reset();
    delegate.reset();
    EXPECT_EQ(tap->delegate(), nullptr);
    // A delegate refusing to begin.
    box->removeGestureRecognizer(tap);
    inner->removeFromSuperview();
    box->log.clear();
    states.clear();
    auto pan = recognizer<UIPanGestureRecognizer>(&states);
    delegate = make<Delegate>();
    delegate->begin = false;
    pan->setDelegate(delegate);
    box->addGestureRecognizer(pan);
    UITestDriver::drag(box, {10, 10}, {90, 90}, 4);
    EXPECT_TRUE(states.empty());
    EXPECT_TRUE(box->heard("ended"));
}

TEST_F(GestureTest, TouchesInTheViewAreCancelledOrDelayed) {
    auto pan = make<UIPanGestureRecognizer>();
    box->addGestureRecognizer(pan);
    UITestDriver::drag(box, {10, 10}, {90, 10}, 8);
    EXPECT_EQ(box->log, (Log{"began", "cancelled"}));
    box->log.clear();
    pan->setCancelsTouchesInView(false);
    UITestDriver::drag(box, {10, 10}, {90, 10}, 2);
    EXPECT_EQ(box->log, (Log{"began", "moved", "moved", "ended"}));
    // Delaying touches began holds the view back.
    box->removeGestureRecognizer(pan);
    box->log.clear();
    pan = make<UIPanGestureRecognizer>();
    pan->setDelaysTouchesBegan(true);
    box->addGestureRecognizer(pan);
    UITestDriver::drag(box, {10, 10}, {90, 10}, 4);
    EXPECT_TRUE(box->log.empty()) << "the view never heard of a touch the pan took";
    UITestDriver::tap(box);
    EXPECT_EQ(box->log, (Log{"began", "ended"}));
}

TEST_F(GestureTest, SimultaneousRecognitionNeedsADelegate) {
    auto inner = make<RecordingView>(CGRectMake(0, 0, 100, 100));
    box->addSubview(inner);
    S outer, innerStates;
    auto outerPan = recognizer<UIPanGestureRecognizer>(&outer);
    auto innerPan = recognizer<UIPanGestureRecognizer>(&innerStates);
    box->addGestureRecognizer(outerPan);
    inner->addGestureRecognizer(innerPan);
    UITestDriver::drag(inner, {10, 10}, {60, 10}, 5);
    EXPECT_FALSE(innerStates.empty());
    EXPECT_TRUE(outer.empty());
    auto delegate = make<Delegate>();
    delegate->together = true;
    outerPan->setDelegate(delegate);
    outer.clear();
    innerStates.clear();
    UITestDriver::drag(inner, {10, 10}, {60, 10}, 5);
    EXPECT_EQ(innerStates.back(), UIGestureRecognizerStateEnded);
    EXPECT_EQ(outer.back(), UIGestureRecognizerStateEnded);
}

TEST_F(GestureTest, TargetsAreHeldWeaklyAndCanBeRemoved) {
    int calls = 0, blockCalls = 0;
    auto target = make<NSObject>();
    auto tap = make<UITapGestureRecognizer>(target, [&](const Ref<UIGestureRecognizer>&) { ++calls; });
    tap->addTarget(nullptr, [&](const Ref<UIGestureRecognizer>&) { ++blockCalls; });
    tap->addTarget(target, {});  // an empty action is ignored
    box->addGestureRecognizer(tap);
    UITestDriver::tap(box);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(blockCalls, 1);
    target.reset();
    UITestDriver::tap(box);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(blockCalls, 2);
    tap->removeTarget(nullptr);
    UITestDriver::tap(box);
    EXPECT_EQ(blockCalls, 2);
}

TEST_F(GestureTest, DisablingOrRemovingCancelsAGestureInProgress) {
    S states;
    auto pan = recognizer<UIPanGestureRecognizer>(&states);
    box->addGestureRecognizer(pan);
    auto root = UITestDriver::rootFor(box);
    UITestDriver::touchDown(root, {60, 60});
    UITestDriver::touchMove(root, {100, 60});
    EXPECT_EQ(states, S{UIGestureRecognizerStateBegan});
    pan->setEnabled(false);
    EXPECT_EQ(states.back(), UIGestureRecognizerStateCancelled);
    UITestDriver::touchMove(root, {120, 60});
    UITestDriver::touchUp(root, {120, 60});
    EXPECT_EQ(states.size(), 2u);
    EXPECT_EQ(pan->state(), UIGestureRecognizerStatePossible);
    // A disabled recogniser is never offered touches.
    UITestDriver::drag(box, {10, 10}, {90, 90}, 3);
    EXPECT_EQ(states.size(), 2u);
    pan->setEnabled(true);
    UITestDriver::drag(box, {10, 10}, {90, 90}, 3);
    EXPECT_EQ(states.back(), UIGestureRecognizerStateEnded);
    // Removing the recognizer mid-gesture cancels it.
    UITestDriver::touchDown(root, {60, 60});
    UITestDriver::touchMove(root, {100, 60});
    box->removeGestureRecognizer(pan);
    EXPECT_EQ(pan->view(), nullptr);
    EXPECT_EQ(states.back(), UIGestureRecognizerStateCancelled);
    UITestDriver::touchUp(root, {100, 60});
    EXPECT_EQ(pan->state(), UIGestureRecognizerStatePossible);
}

TEST_F(GestureTest, LocationsOfTheGesture) {
    CGPoint location{}, first{}, second{}, outOfRange{1, 1};
    std::size_t count = 0;
    auto pinch = make<UIPinchGestureRecognizer>(nullptr, [&](const Ref<UIGestureRecognizer>& g) {
        location = g->locationInView(box);
        count = g->numberOfTouches();
        first = g->locationOfTouch(0, box);
        second = g->locationOfTouch(1, nullptr);
        uikittest::LogCapture quiet;
        outOfRange = g->locationOfTouch(5, box);
    });
    box->addGestureRecognizer(pinch);
    UITestDriver::pinch(box, {50, 40}, 20, 40, 2);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(location, CGPointMake(50, 40));
    EXPECT_EQ(first, CGPointMake(30, 40));
    EXPECT_EQ(second, CGPointMake(120, 90));
    EXPECT_EQ(outOfRange, CGPointZero);
}

// A tap recogniser subclass that carries the sticker it belongs to, and one that decides itself.
class StickerTap : public UITapGestureRecognizer {
  public:
    using UITapGestureRecognizer::UITapGestureRecognizer;
    Ref<UIView> stickerView;
};

class TouchDownRecognizer : public UIGestureRecognizer {
  public:
    using UIGestureRecognizer::UIGestureRecognizer;
    void touchesBegan(const std::set<Ref<UITouch>>&, const Ref<UIEvent>&) override {
        setState(UIGestureRecognizerStateEnded);
    }
    void reset() override { ++resets; }
    int resets = 0;
};

TEST_F(GestureTest, SubclassesWork) {
    Ref<UIView> selected;
    auto tap = make<StickerTap>(
        nullptr, [&](const Ref<UIGestureRecognizer>& g) { selected = asKind<StickerTap>(g)->stickerView; });
    tap->stickerView = box;
    box->addGestureRecognizer(tap);
    UITestDriver::tap(box);
    EXPECT_EQ(selected, box);

    EXPECT_EQ(box->log, (Log{"began", "cancelled"}));
    box->log.clear();
    box->removeGestureRecognizer(tap);
    S states;
    auto down = recognizer<TouchDownRecognizer>(&states);
    box->addGestureRecognizer(down);
    UITestDriver::touchDown(UITestDriver::rootFor(box), {60, 60});
    EXPECT_EQ(states, S{UIGestureRecognizerStateEnded});
    EXPECT_EQ(down->resets, 0);
    UITestDriver::touchUp(UITestDriver::rootFor(box), {60, 60});
    EXPECT_EQ(down->resets, 1);
    EXPECT_TRUE(box->log.empty()) << "recognised before the view heard the touch begin";
}

TEST_F(GestureTest, DriverWalksARecognizerThroughItsStates) {
    S states;
    std::vector<long> observed;
    auto pan = recognizer<UIPanGestureRecognizer>(&states);
    auto token = KVO::observe(*pan, "state", NSKeyValueObservingOptionNew,
                              [&](const Ref<NSObject>&, const Dictionary& change) {
                                  observed.push_back(change[NSKeyValueChangeNewKey].integerValue());
                              });
    for (auto s : {UIGestureRecognizerStateBegan, UIGestureRecognizerStateChanged,
                   UIGestureRecognizerStateEnded, UIGestureRecognizerStatePossible}) {
        UITestDriver::setGestureRecognizerState(pan, s);
    }
    EXPECT_EQ(states, (S{UIGestureRecognizerStateBegan, UIGestureRecognizerStateChanged,
                         UIGestureRecognizerStateEnded}));
    EXPECT_EQ(observed, (std::vector<long>{1, 2, 3, 0}));
    EXPECT_EQ(pan->valueForKey("state").integerValue(), 0);
}

}  // namespace
