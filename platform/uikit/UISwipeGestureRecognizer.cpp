#include "uikit/UISwipeGestureRecognizer.h"

#include <cmath>

#include "uikit/UIEvent.h"
#include "uikit/UITouch.h"

CGPoint UISwipeGestureRecognizer::centroid(std::size_t* down) const {
    CGPoint sum{};
    std::size_t n = 0;
    for (const auto& t : trackedTouches()) {
        if (t->phase() >= UITouchPhaseEnded) continue;
        sum.x += t->location().x;
        sum.y += t->location().y;
        ++n;
    }
    if (down) *down = n;
    return n ? CGPoint{sum.x / n, sum.y / n} : CGPointZero;
}

void UISwipeGestureRecognizer::touchesBegan(const std::set<Ref<UITouch>>& touches,
                                            const Ref<UIEvent>& event) {
    std::size_t down = 0;
    CGPoint c = centroid(&down);
    if (down > touchesRequired_) {
        setState(UIGestureRecognizerStateFailed);
        return;
    }
    // The swipe counts from where all its fingers are down.
    start_ = c;
    startTime_ = event ? event->timestamp() : 0;
    started_ = true;
}

void UISwipeGestureRecognizer::touchesMoved(const std::set<Ref<UITouch>>& touches,
                                            const Ref<UIEvent>& event) {
    if (!started_) return;
    std::size_t down = 0;
    CGPoint c = centroid(&down);
    double now = event ? event->timestamp() : startTime_;
    if (now - startTime_ > kMaximumDuration) {
        setState(UIGestureRecognizerStateFailed);
        return;
    }
    CGFloat dx = c.x - start_.x, dy = c.y - start_.y;
    bool horizontal = std::fabs(dx) >= std::fabs(dy);
    CGFloat along = horizontal ? std::fabs(dx) : std::fabs(dy);
    CGFloat across = horizontal ? std::fabs(dy) : std::fabs(dx);
    if (across > kMinimumDistance / 2) {
        setState(UIGestureRecognizerStateFailed);
        return;
    }
    if (along < kMinimumDistance) return;
    UISwipeGestureRecognizerDirection went =
        horizontal ? (dx > 0 ? UISwipeGestureRecognizerDirectionRight : UISwipeGestureRecognizerDirectionLeft)
                   : (dy > 0 ? UISwipeGestureRecognizerDirectionDown : UISwipeGestureRecognizerDirectionUp);
    if ((direction_ & went) && down == touchesRequired_) {
        setState(UIGestureRecognizerStateEnded);
    } else {
        setState(UIGestureRecognizerStateFailed);
    }
}

void UISwipeGestureRecognizer::touchesEnded(const std::set<Ref<UITouch>>& touches,
                                            const Ref<UIEvent>& event) {
    if (state() == UIGestureRecognizerStatePossible) setState(UIGestureRecognizerStateFailed);
}

void UISwipeGestureRecognizer::touchesCancelled(const std::set<Ref<UITouch>>& touches,
                                                const Ref<UIEvent>& event) {
    setState(UIGestureRecognizerStateFailed);
}

void UISwipeGestureRecognizer::reset() {
    started_ = false;
    start_ = CGPointZero;
    startTime_ = 0;
}
