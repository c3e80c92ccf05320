#include "uikit/UIControl.h"

#include <algorithm>

#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIApplication.h"
#include "uikit/UITouch.h"

UIControl::UIControl() = default;
UIControl::UIControl(CGRect frame) : UIView(frame) {}

// ---- targets and actions ------------------------------------------------------------------------

void UIControl::addTarget(const Ref<NSObject>& target, Action action, const std::string& selector,
                          UIControlEvents events) {
    NS_ASSERT_MAIN_THREAD();
    if (events == 0 || (!action && selector.empty())) return;
    if (!selector.empty()) {
        for (auto& r : registrations_) {
            if (r.targetIdentity == target.get() && r.hasTarget == bool(target) && r.selector == selector &&
                (!target || !r.target.expired())) {
                r.events |= events;
                if (action) r.action = std::move(action);
                return;
            }
        }
    }
    Registration r;
    r.target = target;
    r.targetIdentity = target.get();
    r.hasTarget = bool(target);
    r.action = std::move(action);
    r.selector = selector;
    r.events = events;
    registrations_.push_back(std::move(r));
}

void UIControl::removeTarget(const Ref<NSObject>& target, const std::optional<std::string>& selector,
                             UIControlEvents events) {
    NS_ASSERT_MAIN_THREAD();
    for (auto& r : registrations_) {
        if (target && r.targetIdentity != target.get()) continue;
        if (selector && r.selector != *selector) continue;
        r.events &= ~events;
    }
    registrations_.erase(std::remove_if(registrations_.begin(), registrations_.end(),
                                        [](const Registration& r) {
                                            return r.events == 0 || (r.hasTarget && r.target.expired());
                                        }),
                         registrations_.end());
}

std::vector<Ref<NSObject>> UIControl::allTargets() const {
    std::vector<Ref<NSObject>> targets;
    bool sawNull = false;
    for (auto& r : registrations_) {
        if (!r.hasTarget) {
            if (!sawNull) targets.push_back(nullptr);
            sawNull = true;
            continue;
        }
        auto strong = r.target.lock();
        if (!strong) continue;
        if (std::find(targets.begin(), targets.end(), strong) == targets.end()) targets.push_back(strong);
    }
    return targets;
}

UIControlEvents UIControl::allControlEvents() const {
    UIControlEvents all = 0;
    for (auto& r : registrations_) {
        if (r.hasTarget && r.target.expired()) continue;
        all |= r.events;
    }
    return all;
}

std::optional<std::vector<std::string>> UIControl::actionsForTarget(const Ref<NSObject>& target,
                                                                    UIControlEvents event) const {
    std::vector<std::string> names;
    for (auto& r : registrations_) {
        if (r.targetIdentity != target.get() || r.hasTarget != bool(target)) continue;
        if (r.hasTarget && r.target.expired()) continue;
        if (!(r.events & event)) continue;
        names.push_back(r.selector);
    }
    if (names.empty()) return std::nullopt;
    return names;
}

void UIControl::sendActionsForControlEvents(UIControlEvents events) {
    NS_ASSERT_MAIN_THREAD();
    sendActionsForEvents(events, nullptr);
}

void UIControl::sendActionsForEvents(UIControlEvents events, const Ref<UIEvent>& event) {
    // A copy: an action may add or remove registrations (or release the control's owner).
    auto keepAlive = weak_from_this().lock();
    std::vector<Registration> snapshot;
    for (auto& r : registrations_) {
        if (r.events & events) snapshot.push_back(r);
    }
    for (auto& r : snapshot) {
        Ref<NSObject> target;
        if (r.hasTarget) {
            target = r.target.lock();
            if (!target) continue;
        }
        sendAction(r.selector, target, r.action, event);
    }
}

void UIControl::sendAction(const std::string& selector, const Ref<NSObject>& target, const Action& action,
                           const Ref<UIEvent>& event) {
    NS_ASSERT_MAIN_THREAD();
    auto me = weak_from_this().lock();
    if (action) {
        action(me, event);
        return;
    }
    if (!selector.empty()) UIApplication::sharedApplication()->sendAction(selector, target, me, event);
}

// ---- state --------------------------------------------------------------------------------------

void UIControl::setEnabled(bool enabled) {
    NS_ASSERT_MAIN_THREAD();
    if (enabled_ == enabled) return;
    KVO::assign(*this, "enabled", enabled_, enabled);
    if (!enabled) {
        if (tracking_) trackTouchCancelled(nullptr);
        if (highlighted_) setHighlighted(false);
    }
    stateDidChange();
    setNeedsDisplay();
}

void UIControl::setSelected(bool selected) {
    NS_ASSERT_MAIN_THREAD();
    if (selected_ == selected) return;
    KVO::assign(*this, "selected", selected_, selected);
    stateDidChange();
    setNeedsDisplay();
}

void UIControl::setHighlighted(bool highlighted) {
    NS_ASSERT_MAIN_THREAD();
    if (highlighted_ == highlighted) return;
    KVO::assign(*this, "highlighted", highlighted_, highlighted);
    stateDidChange();
    setNeedsDisplay();
}

UIControlState UIControl::state() const {
    UIControlState s = UIControlStateNormal;
    if (highlighted_) s |= UIControlStateHighlighted;
    if (!enabled_) s |= UIControlStateDisabled;
    if (selected_) s |= UIControlStateSelected;
    return s;
}

void UIControl::setContentHorizontalAlignment(UIControlContentHorizontalAlignment alignment) {
    NS_ASSERT_MAIN_THREAD();
    horizontalAlignment_ = alignment;
    setNeedsLayout();
}

void UIControl::setContentVerticalAlignment(UIControlContentVerticalAlignment alignment) {
    NS_ASSERT_MAIN_THREAD();
    verticalAlignment_ = alignment;
    setNeedsLayout();
}

Value UIControl::valueForKey(const std::string& key) const {
    if (key == "enabled") return Value(enabled_);
    if (key == "selected") return Value(selected_);
    if (key == "highlighted") return Value(highlighted_);
    return UIView::valueForKey(key);
}

// ---- tracking -----------------------------------------------------------------------------------

bool UIControl::insideForTracking(CGPoint point) const {
    return CGRectContainsPoint(CGRectInset(bounds(), -kTrackingTolerance, -kTrackingTolerance), point);
}

void UIControl::trackTouchDownAt(CGPoint point, const Ref<UIEvent>& event, const Ref<UITouch>& touch,
                                 unsigned long tapCount) {
    NS_ASSERT_MAIN_THREAD();
    if (!enabled_) return;
    auto keepAlive = weak_from_this().lock();
    lastTrackingPoint_ = point;
    touchInside_ = CGRectContainsPoint(bounds(), point);
    tracking_ = true;
    setHighlighted(true);
    UIControlEvents events = UIControlEventTouchDown;
    if (tapCount > 1) events |= UIControlEventTouchDownRepeat;
    sendActionsForEvents(events, event);
    if (tracking_ && !beginTrackingWithTouch(touch, event)) {
        tracking_ = false;
    }
}

void UIControl::trackTouchMovedTo(CGPoint point, const Ref<UIEvent>& event, const Ref<UITouch>& touch) {
    NS_ASSERT_MAIN_THREAD();
    if (!tracking_) return;
    auto keepAlive = weak_from_this().lock();
    lastTrackingPoint_ = point;
    const bool wasInside = touchInside_;
    touchInside_ = insideForTracking(point);
    setHighlighted(touchInside_);
    UIControlEvents events = touchInside_ ? UIControlEventTouchDragInside : UIControlEventTouchDragOutside;
    if (touchInside_ != wasInside)
        events |= touchInside_ ? UIControlEventTouchDragEnter : UIControlEventTouchDragExit;
    // The platform sends the edge crossing before the drag itself.
    if (events & (UIControlEventTouchDragEnter | UIControlEventTouchDragExit)) {
        sendActionsForEvents(events & (UIControlEventTouchDragEnter | UIControlEventTouchDragExit), event);
    }
    sendActionsForEvents(events & (UIControlEventTouchDragInside | UIControlEventTouchDragOutside), event);
    if (tracking_ && !continueTrackingWithTouch(touch, event)) {
        tracking_ = false;
        setHighlighted(false);
    }
}

void UIControl::trackTouchUpAt(CGPoint point, const Ref<UIEvent>& event, const Ref<UITouch>& touch) {
    NS_ASSERT_MAIN_THREAD();
    if (!tracking_) return;
    auto keepAlive = weak_from_this().lock();
    lastTrackingPoint_ = point;
    touchInside_ = insideForTracking(point);
    tracking_ = false;
    setHighlighted(false);
    endTrackingWithTouch(touch, event);
    sendActionsForEvents(touchInside_ ? UIControlEventTouchUpInside : UIControlEventTouchUpOutside, event);
    if (touchInside_) sendActionsForEvents(UIControlEventPrimaryActionTriggered, event);
    touchInside_ = false;
}

void UIControl::trackTouchCancelled(const Ref<UIEvent>& event) {
    NS_ASSERT_MAIN_THREAD();
    if (!tracking_) return;
    auto keepAlive = weak_from_this().lock();
    tracking_ = false;
    touchInside_ = false;
    setHighlighted(false);
    cancelTrackingWithEvent(event);
    sendActionsForEvents(UIControlEventTouchCancel, event);
}

namespace {
// The touch of the set that the control follows: the first (controls track one finger).
Ref<UITouch> firstTouch(const std::set<Ref<UITouch>>& touches) {
    Ref<UITouch> first;
    for (auto& t : touches) {
        if (!first || t->serial() < first->serial()) first = t;
    }
    return first;
}
}  // namespace

void UIControl::touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    auto touch = firstTouch(touches);
    if (!touch || !enabled_) return;
    auto me = std::static_pointer_cast<UIView>(shared_from_this());
    trackTouchDownAt(touch->locationInView(me), event, touch, touch->tapCount());
}

void UIControl::touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    auto touch = firstTouch(touches);
    if (!touch) return;
    auto me = std::static_pointer_cast<UIView>(shared_from_this());
    trackTouchMovedTo(touch->locationInView(me), event, touch);
}

void UIControl::touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    auto touch = firstTouch(touches);
    if (!touch) return;
    auto me = std::static_pointer_cast<UIView>(shared_from_this());
    trackTouchUpAt(touch->locationInView(me), event, touch);
}

void UIControl::touchesCancelled(const std::set<Ref<UITouch>>&, const Ref<UIEvent>& event) {
    trackTouchCancelled(event);
}

Ref<UIView> UIControl::hitTest(CGPoint point, const Ref<UIEvent>& event) {
    if (!enabled_) return nullptr;
    return UIView::hitTest(point, event);
}
