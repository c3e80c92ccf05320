// Touch delivery: the application hands each event to the windows its touches belong to; a window
// hit-tests new touches, gives every changed touch to its recognisers first and then to the
// touch's view (whose default passes it along the responder chain).

#include "uikit/UIEventDispatch.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <set>

#include "uikit/UIApplication.h"
#include "uikit/UIButton.h"
#include "uikit/UIControl.h"
#include "uikit/UIEvent.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UIPageControl.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIScrollView.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UITouch.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

namespace detail {

namespace {

// A phase a view has not heard yet because a recogniser of the touch is still deciding.
struct Held {
    Ref<UITouch> touch;
    Weak<UIView> view;
    UITouchPhase phase;
    Ref<UIEvent> event;
};

std::vector<Held>& heldPhases() {
    static std::vector<Held> held;
    return held;
}

Ref<UIEvent>& inFlight() {
    static Ref<UIEvent> event;
    return event;
}

const UITouchPhase kOrder[] = {UITouchPhaseBegan, UITouchPhaseMoved, UITouchPhaseEnded,
                               UITouchPhaseCancelled};

void tell(UIResponder& view, UITouchPhase phase, const std::set<Ref<UITouch>>& touches,
          const Ref<UIEvent>& event) {
    switch (phase) {
        case UITouchPhaseBegan:
            view.touchesBegan(touches, event);
            break;
        case UITouchPhaseMoved:
            view.touchesMoved(touches, event);
            break;
        case UITouchPhaseEnded:
            view.touchesEnded(touches, event);
            break;
        case UITouchPhaseCancelled:
            view.touchesCancelled(touches, event);
            break;
        case UITouchPhaseStationary:
            break;
    }
}

void tell(UIGestureRecognizer& r, UITouchPhase phase, const std::set<Ref<UITouch>>& touches,
          const Ref<UIEvent>& event) {
    switch (phase) {
        case UITouchPhaseBegan:
            r.touchesBegan(touches, event);
            break;
        case UITouchPhaseMoved:
            r.touchesMoved(touches, event);
            break;
        case UITouchPhaseEnded:
            r.touchesEnded(touches, event);
            break;
        case UITouchPhaseCancelled:
            r.touchesCancelled(touches, event);
            break;
        case UITouchPhaseStationary:
            break;
    }
}

// Whether a recogniser of the touch that delays this phase is still deciding.
bool delayed(const UITouch& touch, UITouchPhase phase) {
    for (const auto& r : touch.gestureRecognizers()) {
        if (!GestureArbiter::isDeciding(*r)) continue;
        if (phase == UITouchPhaseBegan && r->delaysTouchesBegan()) return true;
        if (phase == UITouchPhaseEnded && r->delaysTouchesEnded()) return true;
    }
    return false;
}

bool hasHeld(const UITouch* touch) {
    for (const auto& h : heldPhases()) {
        if (h.touch.get() == touch) return true;
    }
    return false;
}

void deliverToView(const Ref<UITouch>& touch, const Ref<UIView>& view, UITouchPhase phase,
                   const Ref<UIEvent>& event) {
    if (phase == UITouchPhaseBegan) touch->setViewHeardBegan(true);
    if (phase == UITouchPhaseEnded || phase == UITouchPhaseCancelled) touch->setViewHeardEnd(true);
    tell(*view, phase, {touch}, event);
}

std::vector<Ref<UIGestureRecognizer>> candidates(UIView* hit, const Ref<UITouch>& touch) {
    std::vector<Ref<UIGestureRecognizer>> result;
    for (UIView* v = hit; v; v = v->superviewPointer()) {
        for (const auto& r : v->gestureRecognizers()) {
            if (!r->isEnabled()) continue;
            auto s = r->state();
            if (s != UIGestureRecognizerStatePossible && s != UIGestureRecognizerStateBegan &&
                s != UIGestureRecognizerStateChanged) {
                continue;
            }
            if (auto d = r->delegate()) {
                if (!d->gestureRecognizerShouldReceiveTouch(*r, touch).value_or(true)) continue;
            }
            result.push_back(r);
        }
    }
    return result;
}

bool answersTapsItself(const UIControl& control) {
    // A button highlights and a page control turns its page on a tap, with or without actions.
    if (dynamic_cast<const UIButton*>(&control) || dynamic_cast<const UIPageControl*>(&control)) return true;
    constexpr UIControlEvents taps =
        UIControlEventAllTouchEvents | UIControlEventValueChanged | UIControlEventPrimaryActionTriggered;
    return (control.allControlEvents() & taps) != 0;
}

bool controlLets(const UIControl& control, UIGestureRecognizer& recognizer) {
    auto tap = dynamic_cast<UITapGestureRecognizer*>(&recognizer);
    if (!tap || tap->numberOfTapsRequired() != 1 || tap->numberOfTouchesRequired() != 1) return true;
    // The walk stops at the recogniser's view: a control met is inside it, or is it.
    if (recognizer.view().get() == &control) return true;  // the control's own recogniser
    return !(control.isEnabled() && answersTapsItself(control));
}

bool scrollViewLets(UIScrollView& scroll, UIGestureRecognizer& recognizer) {
    auto pan = scroll.panGestureRecognizer();
    if (pan.get() != &recognizer) return true;
    if (!scroll.isScrollEnabled()) return false;
    const bool sideways = scroll.canScrollHorizontally();
    const bool upDown = scroll.canScrollVertically();
    const CGPoint t = pan->translationInView(scroll.selfAs<UIView>());
    if (std::fabs(t.x) > std::fabs(t.y)) return sideways;
    if (std::fabs(t.y) > std::fabs(t.x)) return upDown;
    return sideways || upDown;
}

}  // namespace

bool viewsLetBegin(UIGestureRecognizer& recognizer, const std::vector<Ref<UITouch>>& touches) {
    Ref<UIView> own = recognizer.view();
    for (const auto& touch : touches) {
        for (Ref<UIView> v = touch->view(); v; v = v->superview()) {
            if (auto control = dynamic_cast<UIControl*>(v.get())) {
                if (!controlLets(*control, recognizer)) return false;
            } else if (auto scroll = dynamic_cast<UIScrollView*>(v.get())) {
                if (!scrollViewLets(*scroll, recognizer)) return false;
            }
            if (v == own) break;
        }
    }
    return true;
}

Ref<UIEvent> currentTouchEvent() {
    return inFlight();
}

void cancelTouchesInViews(const std::vector<Ref<UITouch>>& touches) {
    std::map<UIView*, std::pair<Ref<UIView>, std::set<Ref<UITouch>>>> byView;
    for (const auto& touch : touches) {
        if (touch->isCancelledForView()) continue;
        touch->setCancelledForView(true);
        auto& held = heldPhases();
        held.erase(std::remove_if(held.begin(), held.end(), [&](const Held& h) { return h.touch == touch; }),
                   held.end());
        auto view = touch->view();
        if (!view || !touch->viewHeardBegan() || touch->viewHeardEnd()) continue;
        touch->setViewHeardEnd(true);
        auto& entry = byView[view.get()];
        entry.first = view;
        entry.second.insert(touch);
    }
    Ref<UIEvent> event = inFlight();
    for (auto& [raw, entry] : byView) tell(*entry.first, UITouchPhaseCancelled, entry.second, event);
}

void flushHeldTouches() {
    auto& held = heldPhases();
    std::set<const UITouch*> blocked;
    for (std::size_t i = 0; i < held.size();) {
        Held h = held[i];
        if (blocked.count(h.touch.get())) {
            ++i;
            continue;
        }
        if (h.touch->isCancelledForView()) {
            held.erase(held.begin() + i);
            continue;
        }
        if (delayed(*h.touch, h.phase)) {
            blocked.insert(h.touch.get());
            ++i;
            continue;
        }
        held.erase(held.begin() + i);
        if (auto view = h.view.lock()) deliverToView(h.touch, view, h.phase, h.event);
        i = 0;  // delivery may have changed anything; start again
        blocked.clear();
    }
}

void deliverTouchEvent(UIView& root, const Ref<UIEvent>& event) {
    if (!event) return;
    Ref<NSObject> keepRoot = root.self();
    Ref<UIEvent> previous = inFlight();
    inFlight() = event;

    std::vector<Ref<UITouch>> changed;
    for (const auto& touch : event->allTouches()) {
        if (touch->rootView().get() == &root && touch->phase() != UITouchPhaseStationary)
            changed.push_back(touch);
    }
    std::sort(changed.begin(), changed.end(),
              [](const auto& a, const auto& b) { return a->serial() < b->serial(); });

    // New touches: the view under the finger, and the recognisers that take the touch.
    for (const auto& touch : changed) {
        if (touch->phase() != UITouchPhaseBegan) continue;
        Ref<UIView> hit = root.hitTest(touch->location(), event);
        touch->setView(hit);
        std::vector<Weak<UIGestureRecognizer>> taken;
        for (const auto& r : candidates(hit.get(), touch)) {
            GestureArbiter::engage(*r);
            GestureArbiter::track(*r, touch);
            taken.push_back(r);
        }
        touch->setGestureRecognizers(std::move(taken));
    }

    // Recognisers first, deepest first, phase by phase.
    std::vector<Ref<UIGestureRecognizer>> recognizers;
    for (const auto& touch : changed) {
        for (const auto& r : touch->gestureRecognizers()) {
            if (std::find(recognizers.begin(), recognizers.end(), r) == recognizers.end())
                recognizers.push_back(r);
        }
    }
    for (UITouchPhase phase : kOrder) {
        for (const auto& r : recognizers) {
            auto s = r->state();
            if (s == UIGestureRecognizerStateFailed || s == UIGestureRecognizerStateCancelled ||
                s == UIGestureRecognizerStateEnded || !r->isEnabled()) {
                continue;
            }
            std::set<Ref<UITouch>> mine;
            for (const auto& touch : changed) {
                if (touch->phase() == phase && GestureArbiter::receives(*r, touch.get())) mine.insert(touch);
            }
            if (!mine.empty()) tell(*r, phase, mine, event);
        }
    }

    // Then the views, unless a recogniser cancelled the touch there or holds the phase back.
    for (UITouchPhase phase : kOrder) {
        std::map<UIView*, std::pair<Ref<UIView>, std::set<Ref<UITouch>>>> byView;
        for (const auto& touch : changed) {
            if (touch->phase() != phase || touch->isCancelledForView()) continue;
            auto view = touch->view();
            if (!view) continue;
            if (phase == UITouchPhaseCancelled) {
                auto& held = heldPhases();
                held.erase(
                    std::remove_if(held.begin(), held.end(), [&](const Held& h) { return h.touch == touch; }),
                    held.end());
                if (!touch->viewHeardBegan() || touch->viewHeardEnd()) continue;
            } else if (hasHeld(touch.get()) || delayed(*touch, phase)) {
                heldPhases().push_back({touch, view, phase, event});
                continue;
            }
            if (phase == UITouchPhaseBegan) touch->setViewHeardBegan(true);
            if (phase == UITouchPhaseEnded || phase == UITouchPhaseCancelled) touch->setViewHeardEnd(true);
            auto& entry = byView[view.get()];
            entry.first = view;
            entry.second.insert(touch);
        }
        for (auto& [raw, entry] : byView) tell(*entry.first, phase, entry.second, event);
    }

    GestureArbiter::settle();
    inFlight() = previous;
}

void installEventDispatch() {
    static std::once_flag once;
    std::call_once(once, [] {
        UIApplication::setEventDispatcher([](UIApplication& application, const Ref<UIEvent>& event) {
            if (!event || application.isIgnoringInteractionEvents()) return;
            std::vector<Ref<UIView>> roots;
            for (const auto& touch : event->allTouches()) {
                auto root = touch->rootView();
                if (root && std::find(roots.begin(), roots.end(), root) == roots.end()) roots.push_back(root);
            }
            for (const auto& root : roots) {
                if (auto window = asKind<UIWindow>(root)) {
                    window->sendEvent(event);
                } else {
                    deliverTouchEvent(*root, event);
                }
            }
        });
        UIWindow::setEventDispatcher(
            [](UIWindow& window, const Ref<UIEvent>& event) { deliverTouchEvent(window, event); });
    });
}

}  // namespace detail
