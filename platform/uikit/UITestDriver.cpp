#include "uikit/UITestDriver.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "dispatch/Clock.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSRunLoop.h"
#include "uikit/UIApplication.h"
#include "uikit/UIEvent.h"
#include "uikit/UIEventDispatch.h"
#include "uikit/UITouch.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

namespace {

// Taps closer together than this, in time and place, count up in tapCount.
constexpr double kMultiTapInterval = 0.35;
constexpr CGFloat kMultiTapDistance = 45;

struct Driver {
    std::map<int, Ref<UITouch>> fingers;
    Ref<UIEvent> event;
    double interval = 1.0 / 60;
    double lastTime = 0;
    double lastTapTime = -1e9;
    CGPoint lastTapPoint{};
    unsigned long lastTapCount = 0;
    bool warnedHidden = false;
};

Driver& driver() {
    static Driver d;
    return d;
}

void drainMainRunLoop() {
    auto loop = NSRunLoop::mainRunLoop();
    for (int pass = 0; pass < 10000 && loop->runOnce(NSDefaultRunLoopMode, 0); ++pass) {
    }
}

// The timestamp of the next event: one step after the previous one.
double nextTimestamp() {
    Driver& d = driver();
    double t;
    if (PlatformClock::isManual()) {
        PlatformClock::advance(d.interval);
        drainMainRunLoop();
        t = PlatformClock::monotonic();
    } else {
        t = std::max(PlatformClock::monotonic(), d.lastTime + d.interval);
    }
    d.lastTime = t;
    return t;
}

Ref<UIEvent> sharedEvent() {
    Driver& d = driver();
    if (!d.event) d.event = make<UIEvent>();
    return d.event;
}

enum class Change { Down, Move, Up, Cancel };

void send(const Ref<UIView>& root, const UITestDriver::Fingers& fingers, Change change) {
    NS_ASSERT_MAIN_THREAD();
    if (!root && change == Change::Down) return;
    Driver& d = driver();
    if (change == Change::Down) {
        if (auto window = asKind<UIWindow>(root); window && window->isHidden() && !d.warnedHidden) {
            d.warnedHidden = true;
            NSLog("Touches on a hidden window reach no view; show the window first (makeKeyAndVisible).");
        }
        // A finger that is still down lifts first.
        UITestDriver::Fingers down;
        for (const auto& [finger, point] : fingers) {
            auto found = d.fingers.find(finger);
            if (found != d.fingers.end()) down.emplace_back(finger, found->second->location());
        }
        if (!down.empty()) send(nullptr, down, Change::Up);
    }

    double t = nextTimestamp();
    auto event = sharedEvent();
    for (const auto& touch : event->allTouches()) touch->setPhase(UITouchPhaseStationary);
    bool any = false;
    for (const auto& [finger, point] : fingers) {
        Ref<UITouch> touch;
        if (change == Change::Down) {
            touch = make<UITouch>();
            touch->setRootView(root);
            touch->moveTo(point, t);
            touch->moveTo(point, t);
            touch->setPhase(UITouchPhaseBegan);
            bool again =
                t >= d.lastTapTime && t - d.lastTapTime <= kMultiTapInterval &&
                std::hypot(point.x - d.lastTapPoint.x, point.y - d.lastTapPoint.y) <= kMultiTapDistance;
            touch->setTapCount(again ? d.lastTapCount + 1 : 1);
            d.fingers[finger] = touch;
            event->addTouch(touch);
        } else {
            auto found = d.fingers.find(finger);
            if (found == d.fingers.end()) continue;  // that finger is not down
            touch = found->second;
            if (change != Change::Cancel) touch->moveTo(point, t);
            touch->setTimestamp(t);
            touch->setPhase(change == Change::Move ? UITouchPhaseMoved
                            : change == Change::Up ? UITouchPhaseEnded
                                                   : UITouchPhaseCancelled);
            if (change == Change::Up) {
                d.lastTapTime = t;
                d.lastTapPoint = touch->location();
                d.lastTapCount = touch->tapCount();
            }
        }
        any = true;
    }
    if (!any) return;
    event->setTimestamp(t);
    UIApplication::sharedApplication()->sendEvent(event);
    if (change == Change::Up || change == Change::Cancel) {
        for (const auto& [finger, point] : fingers) {
            auto found = d.fingers.find(finger);
            if (found == d.fingers.end()) continue;
            event->removeTouch(found->second);
            d.fingers.erase(found);
        }
    }
}

CGPoint toRoot(const Ref<UIView>& view, CGPoint point) {
    return view->convertPointToView(point, nullptr);
}

CGPoint centreOf(const Ref<UIView>& view) {
    CGRect b = view->bounds();
    return {CGRectGetMidX(b), CGRectGetMidY(b)};
}

}  // namespace

Ref<UIView> UITestDriver::rootFor(const Ref<UIView>& view) {
    if (!view) return nullptr;
    if (auto window = view->window()) return window;
    UIView* root = view.get();
    while (root->superviewPointer()) root = root->superviewPointer();
    return root->selfAs<UIView>();
}

void UITestDriver::tap(const Ref<UIView>& view, unsigned taps) {
    if (!view) return;
    tapAt(view, centreOf(view), taps);
}

void UITestDriver::tapAt(const Ref<UIView>& view, CGPoint point, unsigned taps) {
    if (!view) return;
    auto root = rootFor(view);
    CGPoint p = toRoot(view, point);
    for (unsigned i = 0; i < taps; ++i) {
        touchDown(root, p);
        touchUp(root, p);
    }
}

void UITestDriver::drag(const Ref<UIView>& view, CGPoint from, CGPoint to, int steps) {
    if (!view) return;
    auto root = rootFor(view);
    steps = std::max(steps, 1);
    // The path is fixed in the root's space when the finger goes down: the view may move under it.
    CGPoint a = toRoot(view, from), b = toRoot(view, to);
    touchDown(root, a);
    for (int i = 1; i <= steps; ++i) {
        double f = double(i) / steps;
        touchMove(root, {a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f});
    }
    touchUp(root, b);
}

void UITestDriver::pinch(const Ref<UIView>& view, CGPoint centre, CGFloat fromSpan, CGFloat toSpan,
                         int steps) {
    if (!view) return;
    auto root = rootFor(view);
    steps = std::max(steps, 1);
    CGPoint c = toRoot(view, centre);
    // The span is measured in the root's space, horizontally.
    auto fingersAt = [&](CGFloat span) {
        return Fingers{{0, {c.x - span / 2, c.y}}, {1, {c.x + span / 2, c.y}}};
    };
    touchesDown(root, fingersAt(fromSpan));
    for (int i = 1; i <= steps; ++i) touchesMove(root, fingersAt(fromSpan + (toSpan - fromSpan) * i / steps));
    touchesUp(root, fingersAt(toSpan));
}

void UITestDriver::swipe(const Ref<UIView>& view, UISwipeGestureRecognizerDirection direction) {
    if (!view) return;
    CGPoint from = centreOf(view);
    CGPoint delta{};
    if (direction & UISwipeGestureRecognizerDirectionRight) delta.x += 120;
    if (direction & UISwipeGestureRecognizerDirectionLeft) delta.x -= 120;
    if (direction & UISwipeGestureRecognizerDirectionDown) delta.y += 120;
    if (direction & UISwipeGestureRecognizerDirectionUp) delta.y -= 120;
    drag(view, from, {from.x + delta.x, from.y + delta.y}, 5);
}

void UITestDriver::touchDown(const Ref<UIView>& root, CGPoint point, int finger) {
    send(root, {{finger, point}}, Change::Down);
}

void UITestDriver::touchMove(const Ref<UIView>& root, CGPoint point, int finger) {
    send(root, {{finger, point}}, Change::Move);
}

void UITestDriver::touchUp(const Ref<UIView>& root, CGPoint point, int finger) {
    send(root, {{finger, point}}, Change::Up);
}

void UITestDriver::touchCancel(const Ref<UIView>& root, int finger) {
    send(root, {{finger, CGPointZero}}, Change::Cancel);
}

void UITestDriver::touchesDown(const Ref<UIView>& root, const Fingers& fingers) {
    send(root, fingers, Change::Down);
}

void UITestDriver::touchesMove(const Ref<UIView>& root, const Fingers& fingers) {
    send(root, fingers, Change::Move);
}

void UITestDriver::touchesUp(const Ref<UIView>& root, const Fingers& fingers) {
    send(root, fingers, Change::Up);
}

void UITestDriver::reset() {
    Driver& d = driver();
    Fingers down;
    for (const auto& [finger, touch] : d.fingers) down.emplace_back(finger, touch->location());
    if (!down.empty()) send(nullptr, down, Change::Cancel);
    d.fingers.clear();
    d.event.reset();
    d.lastTapTime = -1e9;
    d.lastTapCount = 0;
    d.lastTime = 0;
    d.warnedHidden = false;
}

std::size_t UITestDriver::fingersDown() {
    return driver().fingers.size();
}

double UITestDriver::stepInterval() {
    return driver().interval;
}

void UITestDriver::setStepInterval(double seconds) {
    if (seconds > 0 && std::isfinite(seconds)) driver().interval = seconds;
}

void UITestDriver::wait(double seconds) {
    if (!(seconds > 0) || !std::isfinite(seconds)) return;
    Driver& d = driver();
    if (!PlatformClock::isManual()) {
        d.lastTime += seconds;
        return;
    }
    // In steps, so that what falls due runs in order.
    double left = seconds;
    for (int i = 0; i < 1000000 && left > 0; ++i) {
        double step = std::min(left, d.interval);
        PlatformClock::advance(step);
        drainMainRunLoop();
        left -= step;
    }
}

void UITestDriver::setGestureRecognizerState(const Ref<UIGestureRecognizer>& recognizer,
                                             UIGestureRecognizerState state) {
    if (!recognizer) return;
    detail::GestureArbiter::force(*recognizer, state);
    if (state == UIGestureRecognizerStatePossible) recognizer->reset();
}
