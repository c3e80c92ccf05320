#include "uikit/UIPanGestureRecognizer.h"

#include <cmath>

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIEvent.h"
#include "uikit/UITouch.h"
#include "uikit/UIView.h"

namespace {

// A vector of the root's space in the view's space (and back).
CGPoint vectorToView(CGPoint v, const Ref<UIView>& view) {
    if (!view) return v;
    CGPoint a = view->convertPointFromView(CGPointZero, nullptr);
    CGPoint b = view->convertPointFromView(v, nullptr);
    return {b.x - a.x, b.y - a.y};
}

CGPoint vectorFromView(CGPoint v, const Ref<UIView>& view) {
    if (!view) return v;
    CGPoint a = view->convertPointToView(CGPointZero, nullptr);
    CGPoint b = view->convertPointToView(v, nullptr);
    return {b.x - a.x, b.y - a.y};
}

}  // namespace

std::size_t UIPanGestureRecognizer::fingersDown() const {
    std::size_t count = 0;
    for (const auto& t : trackedTouches()) {
        if (t->phase() < UITouchPhaseEnded) ++count;
    }
    return count;
}

CGPoint UIPanGestureRecognizer::centroid() const {
    CGPoint sum{};
    std::size_t n = 0;
    for (const auto& t : trackedTouches()) {
        if (t->phase() >= UITouchPhaseEnded) continue;
        sum.x += t->location().x;
        sum.y += t->location().y;
        ++n;
    }
    if (n == 0) return last_;
    return {sum.x / n, sum.y / n};
}

void UIPanGestureRecognizer::refollow() {
    CGPoint c = centroid();
    if (!following_) {
        start_ = c;
        following_ = true;
    } else {
        start_.x += c.x - last_.x;
        start_.y += c.y - last_.y;
    }
    last_ = c;
}

CGPoint UIPanGestureRecognizer::translationInView(const Ref<UIView>& view) const {
    if (!following_) return CGPointZero;
    return vectorToView({last_.x - start_.x, last_.y - start_.y}, view);
}

void UIPanGestureRecognizer::setTranslation(CGPoint translation, const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    CGPoint t = vectorFromView(translation, view);
    start_ = {last_.x - t.x, last_.y - t.y};
    following_ = true;
}

CGPoint UIPanGestureRecognizer::velocityInView(const Ref<UIView>& view) const {
    return vectorToView(velocity_, view);
}

void UIPanGestureRecognizer::touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    if (fingersDown() > maximumTouches_) {
        if (state() == UIGestureRecognizerStatePossible) {
            setState(UIGestureRecognizerStateFailed);
            return;
        }
        for (const auto& t : touches) ignoreTouch(t, event);
    }
    if (event) lastTime_ = event->timestamp();
    refollow();
}

void UIPanGestureRecognizer::touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    CGPoint c = centroid();
    double now = event ? event->timestamp() : lastTime_;
    if (now > lastTime_) {
        velocity_ = {(c.x - last_.x) / (now - lastTime_), (c.y - last_.y) / (now - lastTime_)};
        lastTime_ = now;
    }
    last_ = c;
    if (state() == UIGestureRecognizerStatePossible) {
        if (fingersDown() < minimumTouches_) return;
        if (std::hypot(c.x - start_.x, c.y - start_.y) >= kMovementThreshold)
            setState(UIGestureRecognizerStateBegan);
    } else {
        setState(UIGestureRecognizerStateChanged);
    }
}

void UIPanGestureRecognizer::touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    std::size_t down = fingersDown();
    if (down == 0 || down < minimumTouches_) {
        auto s = state();
        setState(s == UIGestureRecognizerStateBegan || s == UIGestureRecognizerStateChanged
                     ? UIGestureRecognizerStateEnded
                     : UIGestureRecognizerStateFailed);
        return;
    }
    refollow();
}

void UIPanGestureRecognizer::touchesCancelled(const std::set<Ref<UITouch>>& touches,
                                              const Ref<UIEvent>& event) {
    auto s = state();
    setState(s == UIGestureRecognizerStateBegan || s == UIGestureRecognizerStateChanged
                 ? UIGestureRecognizerStateCancelled
                 : UIGestureRecognizerStateFailed);
}

void UIPanGestureRecognizer::reset() {
    following_ = false;
    start_ = last_ = velocity_ = CGPointZero;
    lastTime_ = 0;
}
