#include "uikit/UIGestureRecognizer.h"

#include <algorithm>
#include <mutex>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIEventDispatch.h"
#include "uikit/UITouch.h"
#include "uikit/UIView.h"

namespace {

std::vector<Ref<UIGestureRecognizer>>& engagedList() {
    static std::vector<Ref<UIGestureRecognizer>> list;
    return list;
}

bool isFinal(UIGestureRecognizerState s) {
    return s == UIGestureRecognizerStateEnded || s == UIGestureRecognizerStateCancelled ||
           s == UIGestureRecognizerStateFailed;
}

bool isActive(UIGestureRecognizerState s) {
    return s == UIGestureRecognizerStateBegan || s == UIGestureRecognizerStateChanged;
}

}  // namespace

// ----- the recogniser -----

UIGestureRecognizer::UIGestureRecognizer() {
    detail::installGestureHooks();
    detail::installEventDispatch();
}

UIGestureRecognizer::UIGestureRecognizer(const Ref<NSObject>& target, Action action) : UIGestureRecognizer() {
    addTarget(target, std::move(action));
}

UIGestureRecognizer::~UIGestureRecognizer() = default;

void UIGestureRecognizer::addTarget(const Ref<NSObject>& target, Action action) {
    NS_ASSERT_MAIN_THREAD();
    if (!action) return;
    targets_.push_back({target, target != nullptr, std::move(action)});
}

void UIGestureRecognizer::removeTarget(const Ref<NSObject>& target) {
    NS_ASSERT_MAIN_THREAD();
    targets_.erase(std::remove_if(targets_.begin(), targets_.end(),
                                  [&](const Target& t) { return !target || t.target.lock() == target; }),
                   targets_.end());
}

void UIGestureRecognizer::setEnabled(bool enabled) {
    NS_ASSERT_MAIN_THREAD();
    if (enabled == enabled_) return;
    KVO::assign(*this, "enabled", enabled_, enabled);
    if (!enabled && engaged_) {
        if (isActive(state_)) {
            detail::GestureArbiter::request(*this, UIGestureRecognizerStateCancelled);
        } else if (state_ == UIGestureRecognizerStatePossible) {
            detail::GestureArbiter::request(*this, UIGestureRecognizerStateFailed);
        }
        detail::GestureArbiter::settle();
    }
}

void UIGestureRecognizer::requireGestureRecognizerToFail(const Ref<UIGestureRecognizer>& other) {
    NS_ASSERT_MAIN_THREAD();
    if (other && other.get() != this) failureRequirements_.push_back(other);
}

CGPoint UIGestureRecognizer::locationInView(const Ref<UIView>& view) const {
    if (touches_.empty()) return CGPointZero;
    CGPoint sum{};
    for (const auto& touch : touches_) {
        CGPoint p = touch->locationInView(view);
        sum.x += p.x;
        sum.y += p.y;
    }
    return {sum.x / touches_.size(), sum.y / touches_.size()};
}

CGPoint UIGestureRecognizer::locationOfTouch(std::size_t index, const Ref<UIView>& view) const {
    if (index >= touches_.size()) {
        NSLog("-[%@ locationOfTouch:inView:]: index (%@) beyond bounds (%@).", className(),
              std::to_string(index), std::to_string(touches_.size()));
        return CGPointZero;
    }
    return touches_[index]->locationInView(view);
}

Value UIGestureRecognizer::valueForKey(const std::string& key) const {
    if (key == "state") return Value(static_cast<long>(state_));
    if (key == "enabled") return Value(enabled_);
    return NSObject::valueForKey(key);
}

void UIGestureRecognizer::ignoreTouch(const Ref<UITouch>& touch, const Ref<UIEvent>& event) {
    NS_ASSERT_MAIN_THREAD();
    if (!touch) return;
    touches_.erase(std::remove(touches_.begin(), touches_.end(), touch), touches_.end());
    touch->removeGestureRecognizer(this);
}

void UIGestureRecognizer::setState(UIGestureRecognizerState state) {
    detail::GestureArbiter::request(*this, state);
}

void UIGestureRecognizer::sendActions() {
    auto self = selfAs<UIGestureRecognizer>();
    auto targets = targets_;  // an action may add or remove targets
    for (const auto& t : targets) {
        if (t.hasTarget && !t.target.lock()) continue;
        if (t.action) t.action(self);
    }
}

// ----- arbitration -----

namespace detail {

namespace {

bool simultaneous(UIGestureRecognizer& a, UIGestureRecognizer& b) {
    if (auto d = a.delegate()) {
        if (d->gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(a, b).value_or(false))
            return true;
    }
    if (auto d = b.delegate()) {
        if (d->gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(b, a).value_or(false))
            return true;
    }
    return false;
}

bool prevents(UIGestureRecognizer& winner, UIGestureRecognizer& other) {
    return !simultaneous(winner, other) && winner.canPreventGestureRecognizer(other) &&
           other.canBePreventedByGestureRecognizer(winner);
}

}  // namespace

struct GestureArbiterImpl {
    static bool requiresFailure(UIGestureRecognizer& a, UIGestureRecognizer& b) {
        for (const auto& weak : a.failureRequirements_) {
            if (weak.lock().get() == &b) return true;
        }
        if (a.shouldRequireFailureOfGestureRecognizer(b) || b.shouldBeRequiredToFailByGestureRecognizer(a))
            return true;
        if (auto d = a.delegate()) {
            if (d->gestureRecognizerShouldRequireFailureOfGestureRecognizer(a, b).value_or(false))
                return true;
        }
        if (auto d = b.delegate()) {
            if (d->gestureRecognizerShouldBeRequiredToFailByGestureRecognizer(b, a).value_or(false))
                return true;
        }
        return false;
    }

    static void apply(UIGestureRecognizer& r, UIGestureRecognizerState s) {
        Ref<NSObject> keep = r.self();
        KVO::assign(r, "state", r.state_, s);
        if (s != UIGestureRecognizerStatePossible && s != UIGestureRecognizerStateFailed) r.sendActions();
    }

    static void fail(UIGestureRecognizer& r) {
        if (isFinal(r.state_)) return;
        r.pending_.reset();
        apply(r, isActive(r.state_) ? UIGestureRecognizerStateCancelled : UIGestureRecognizerStateFailed);
        releaseWaiters();
    }

    // Recognisers waiting for failures go ahead once nothing they wait for is still possible.
    static void releaseWaiters() {
        for (const auto& other : GestureArbiter::engaged()) {
            if (!other->pending_ || other->state_ != UIGestureRecognizerStatePossible) continue;
            bool waiting = false;
            for (const auto& third : GestureArbiter::engaged()) {
                if (third == other || !requiresFailure(*other, *third)) continue;
                if (third->state_ == UIGestureRecognizerStatePossible) waiting = true;
            }
            if (!waiting) {
                auto target = *other->pending_;
                other->pending_.reset();
                attempt(*other, target);
            }
        }
    }

    static void attempt(UIGestureRecognizer& r, UIGestureRecognizerState target) {
        if (r.pending_) {
            r.pending_ = target;
            return;
        }
        if (auto d = r.delegate()) {
            if (!d->gestureRecognizerShouldBegin(r).value_or(true)) return fail(r);
        }
        // A control keeping its own tap, or a scroll view a drag it cannot follow.
        if (!viewsLetBegin(r, r.touches_)) return fail(r);
        bool wait = false;
        for (const auto& other : GestureArbiter::engaged()) {
            if (other.get() == &r || !requiresFailure(r, *other)) continue;
            if (isActive(other->state_) || other->state_ == UIGestureRecognizerStateEnded) return fail(r);
            if (other->state_ == UIGestureRecognizerStatePossible) wait = true;
        }
        if (wait) {
            r.pending_ = target;
            return;
        }
        for (const auto& other : GestureArbiter::engaged()) {
            if (other.get() == &r) continue;
            bool holds = isActive(other->state_) || other->state_ == UIGestureRecognizerStateEnded;
            if (holds && prevents(*other, r)) return fail(r);
        }
        apply(r, target);
        for (const auto& other : GestureArbiter::engaged()) {
            if (other.get() == &r || other->state_ != UIGestureRecognizerStatePossible) continue;
            if (prevents(r, *other) || (other->pending_ && requiresFailure(*other, r))) fail(*other);
        }
        if (r.cancelsTouchesInView_) cancelTouchesInViews(r.touches_);
    }
};

void GestureArbiter::request(UIGestureRecognizer& r, UIGestureRecognizerState s) {
    const UIGestureRecognizerState from = r.state_;
    if (isFinal(from) || s == UIGestureRecognizerStatePossible) return;
    if (from == UIGestureRecognizerStatePossible) {
        switch (s) {
            case UIGestureRecognizerStateBegan:
            case UIGestureRecognizerStateEnded:
                GestureArbiterImpl::attempt(r, s);
                return;
            case UIGestureRecognizerStateChanged:
                // Still waiting to begin: the change is folded into the begin.
                if (r.pending_) return;
                GestureArbiterImpl::attempt(r, UIGestureRecognizerStateBegan);
                return;
            default:
                GestureArbiterImpl::fail(r);
                return;
        }
    }
    // Began or changed.
    switch (s) {
        case UIGestureRecognizerStateBegan:
        case UIGestureRecognizerStateChanged:
            GestureArbiterImpl::apply(r, UIGestureRecognizerStateChanged);
            return;
        case UIGestureRecognizerStateEnded:
        case UIGestureRecognizerStateCancelled:
            GestureArbiterImpl::apply(r, s);
            return;
        default:
            GestureArbiterImpl::fail(r);
            return;
    }
}

void GestureArbiter::force(UIGestureRecognizer& r, UIGestureRecognizerState s) {
    r.pending_.reset();
    if (s == UIGestureRecognizerStatePossible) {
        if (r.state_ != UIGestureRecognizerStatePossible) GestureArbiterImpl::apply(r, s);
        return;
    }
    GestureArbiterImpl::apply(r, s);
    if (s == UIGestureRecognizerStateFailed) GestureArbiterImpl::releaseWaiters();
}

std::vector<Ref<UIGestureRecognizer>> GestureArbiter::engaged() {
    return engagedList();
}

void GestureArbiter::engage(UIGestureRecognizer& r) {
    if (r.engaged_) return;
    r.engaged_ = true;
    engagedList().push_back(r.selfAs<UIGestureRecognizer>());
}

void GestureArbiter::track(UIGestureRecognizer& r, const Ref<UITouch>& touch) {
    // A new touch after the previous ones lifted starts a new stroke of the same gesture (the
    // second tap of a double tap): the lifted ones are forgotten.
    bool allUp = std::all_of(r.touches_.begin(), r.touches_.end(),
                             [](const Ref<UITouch>& t) { return t->phase() >= UITouchPhaseEnded; });
    if (allUp) r.touches_.clear();
    if (std::find(r.touches_.begin(), r.touches_.end(), touch) == r.touches_.end())
        r.touches_.push_back(touch);
}

bool GestureArbiter::receives(const UIGestureRecognizer& r, const UITouch* touch) {
    for (const auto& t : r.touches_) {
        if (t.get() == touch) return true;
    }
    return false;
}

bool GestureArbiter::isDeciding(const UIGestureRecognizer& r) {
    return r.engaged_ && r.state_ == UIGestureRecognizerStatePossible;
}

void GestureArbiter::settle() {
    bool changed = true;
    while (changed) {
        changed = false;
        for (const auto& r : engaged()) {
            bool down = std::any_of(r->touches_.begin(), r->touches_.end(),
                                    [](const Ref<UITouch>& t) { return t->phase() < UITouchPhaseEnded; });
            if (!isFinal(r->state_) || down) continue;
            auto& list = engagedList();
            list.erase(std::remove(list.begin(), list.end(), r), list.end());
            r->engaged_ = false;
            r->touches_.clear();
            r->pending_.reset();
            GestureArbiterImpl::apply(*r, UIGestureRecognizerStatePossible);
            r->reset();
            changed = true;
        }
    }
    flushHeldTouches();
}

void GestureArbiter::attach(UIView* view, const Ref<UIGestureRecognizer>& r, bool attached) {
    if (!r) return;
    if (attached) {
        r->view_ = view ? view->selfAs<UIView>() : nullptr;
        return;
    }
    if (r->view_.lock().get() == view) r->view_.reset();
    if (r->engaged_) {
        if (isActive(r->state_)) {
            request(*r, UIGestureRecognizerStateCancelled);
        } else if (r->state_ == UIGestureRecognizerStatePossible) {
            request(*r, UIGestureRecognizerStateFailed);
        }
        for (const auto& t : r->touches_) t->removeGestureRecognizer(r.get());
        r->touches_.clear();
        settle();
    }
}

void installGestureHooks() {
    static std::once_flag once;
    std::call_once(once, [] {
        UIView::setGestureRecognizerAttachHook(
            [](UIView* view, const Ref<UIGestureRecognizer>& r, bool attached) {
                GestureArbiter::attach(view, r, attached);
            });
    });
}

}  // namespace detail
