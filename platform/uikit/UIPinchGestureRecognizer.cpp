#include "uikit/UIPinchGestureRecognizer.h"

#include <cmath>

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIEvent.h"
#include "uikit/UITouch.h"

CGFloat UIPinchGestureRecognizer::distance() const {
    const UITouch* fingers[2] = {nullptr, nullptr};
    int n = 0;
    for (const auto& t : trackedTouches()) {
        if (t->phase() >= UITouchPhaseEnded) continue;
        if (n < 2) fingers[n] = t.get();
        ++n;
    }
    if (n < 2) return -1;
    CGPoint a = fingers[0]->location(), b = fingers[1]->location();
    return std::hypot(a.x - b.x, a.y - b.y);
}

void UIPinchGestureRecognizer::setScale(CGFloat scale) {
    NS_ASSERT_MAIN_THREAD();
    baseScale_ = scale;
    scale_ = scale;
    CGFloat d = distance();
    if (d > 0) baseDistance_ = d;
}

void UIPinchGestureRecognizer::touchesBegan(const std::set<Ref<UITouch>>& touches,
                                            const Ref<UIEvent>& event) {
    std::size_t down = 0;
    for (const auto& t : trackedTouches()) {
        if (t->phase() < UITouchPhaseEnded) ++down;
    }
    if (down > 2) {
        // Only the first two fingers pinch.
        for (const auto& t : touches) {
            if (down-- > 2) ignoreTouch(t, event);
        }
    }
    CGFloat d = distance();
    if (d >= 0 && baseDistance_ <= 0) baseDistance_ = d;
    if (event) lastTime_ = event->timestamp();
}

void UIPinchGestureRecognizer::touchesMoved(const std::set<Ref<UITouch>>& touches,
                                            const Ref<UIEvent>& event) {
    CGFloat d = distance();
    if (d < 0 || baseDistance_ <= 0) return;
    CGFloat scale = baseScale_ * d / baseDistance_;
    double now = event ? event->timestamp() : lastTime_;
    if (now > lastTime_) {
        velocity_ = (scale - scale_) / (now - lastTime_);
        lastTime_ = now;
    }
    if (state() == UIGestureRecognizerStatePossible) {
        if (std::fabs(d - baseDistance_) < kMovementThreshold) return;
        scale_ = scale;
        setState(UIGestureRecognizerStateBegan);
    } else {
        scale_ = scale;
        setState(UIGestureRecognizerStateChanged);
    }
}

void UIPinchGestureRecognizer::touchesEnded(const std::set<Ref<UITouch>>& touches,
                                            const Ref<UIEvent>& event) {
    auto s = state();
    if (s == UIGestureRecognizerStateBegan || s == UIGestureRecognizerStateChanged) {
        setState(UIGestureRecognizerStateEnded);
    } else if (distance() < 0) {
        setState(UIGestureRecognizerStateFailed);
    }
}

void UIPinchGestureRecognizer::touchesCancelled(const std::set<Ref<UITouch>>& touches,
                                                const Ref<UIEvent>& event) {
    auto s = state();
    setState(s == UIGestureRecognizerStateBegan || s == UIGestureRecognizerStateChanged
                 ? UIGestureRecognizerStateCancelled
                 : UIGestureRecognizerStateFailed);
}

void UIPinchGestureRecognizer::reset() {
    scale_ = baseScale_ = 1;
    baseDistance_ = 0;
    velocity_ = 0;
    lastTime_ = 0;
}
