#include "uikit/UITapGestureRecognizer.h"

#include <cmath>

#include "dispatch/Dispatch.h"
#include "uikit/UITouch.h"

unsigned long UITapGestureRecognizer::fingersDown() const {
    unsigned long count = 0;
    for (const auto& t : trackedTouches()) {
        if (t->phase() < UITouchPhaseEnded) ++count;
    }
    return count;
}

void UITapGestureRecognizer::touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    ++timeout_;  // the next tap came in time
    for (const auto& t : touches) starts_[t.get()] = t->location();
    unsigned long down = fingersDown();
    mostFingers_ = std::max(mostFingers_, down);
    if (down > touchesRequired_) setState(UIGestureRecognizerStateFailed);
}

void UITapGestureRecognizer::touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    for (const auto& t : touches) {
        auto start = starts_.find(t.get());
        if (start == starts_.end()) continue;
        CGPoint p = t->location();
        if (std::hypot(p.x - start->second.x, p.y - start->second.y) > allowableMovement_) {
            setState(UIGestureRecognizerStateFailed);
            return;
        }
    }
}

void UITapGestureRecognizer::touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    touchesMoved(touches, event);
    if (state() != UIGestureRecognizerStatePossible || fingersDown() > 0) return;
    if (mostFingers_ != touchesRequired_) {
        setState(UIGestureRecognizerStateFailed);
        return;
    }
    mostFingers_ = 0;
    starts_.clear();
    if (++taps_ >= tapsRequired_) {
        setState(UIGestureRecognizerStateEnded);
        return;
    }
    // Wait for the next tap.
    std::uint64_t generation = ++timeout_;
    Weak<UITapGestureRecognizer> weak = selfAs<UITapGestureRecognizer>();
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(maximumTapInterval_ * 1e9)),
                   dispatch_get_main_queue(), [weak, generation] {
                       auto self = weak.lock();
                       if (!self || self->timeout_ != generation ||
                           self->state() != UIGestureRecognizerStatePossible) {
                           return;
                       }
                       self->setState(UIGestureRecognizerStateFailed);
                       detail::GestureArbiter::settle();
                   });
}

void UITapGestureRecognizer::touchesCancelled(const std::set<Ref<UITouch>>& touches,
                                              const Ref<UIEvent>& event) {
    setState(UIGestureRecognizerStateFailed);
}

void UITapGestureRecognizer::reset() {
    taps_ = 0;
    mostFingers_ = 0;
    starts_.clear();
    ++timeout_;
}
