#pragma once
// Controls: views that turn touches into control events and send actions to targets.
//
// Targets and actions: each registration is (target, action, selector name, events). The target
// is held weakly; an action whose target is gone is skipped. A registration made without a target
// (nullptr) sends its action anyway, or, when it has only a selector name, sends the selector
// along the responder chain through UIApplication::sendAction. Registering the same target and
// the same (non-empty) selector again adds the events to the existing registration, as the
// platform keeps one entry per target-action pair. Actions run in the order they were added.
//
// Tracking: a touch that goes down on an enabled control makes it track (TouchDown, highlighted);
// moves send TouchDragInside / TouchDragOutside and, when crossing the edge, TouchDragEnter /
// TouchDragExit; lifting sends TouchUpInside or TouchUpOutside; a cancelled touch sends
// TouchCancel. "Inside" is the bounds grown by 70 points on every side while tracking (the
// platform's tolerance for a finger that slides a little off a button); the first touch's place is
// the exact bounds. A disabled control tracks nothing and hit testing passes over it, so touches
// go to what lies behind.
//
// The points of a touch sequence come from the touch layer's UITouch objects; tracking can also
// be driven with points directly (trackTouchDownAt...), which is what the touch overrides use.
//
// Controls belong to the main thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "uikit/UIView.h"

class UITouch;
class UIEvent;

using UIControlEvents = std::uint64_t;
inline constexpr UIControlEvents UIControlEventTouchDown = 1u << 0;
inline constexpr UIControlEvents UIControlEventTouchDownRepeat = 1u << 1;
inline constexpr UIControlEvents UIControlEventTouchDragInside = 1u << 2;
inline constexpr UIControlEvents UIControlEventTouchDragOutside = 1u << 3;
inline constexpr UIControlEvents UIControlEventTouchDragEnter = 1u << 4;
inline constexpr UIControlEvents UIControlEventTouchDragExit = 1u << 5;
inline constexpr UIControlEvents UIControlEventTouchUpInside = 1u << 6;
inline constexpr UIControlEvents UIControlEventTouchUpOutside = 1u << 7;
inline constexpr UIControlEvents UIControlEventTouchCancel = 1u << 8;
inline constexpr UIControlEvents UIControlEventValueChanged = 1u << 12;
inline constexpr UIControlEvents UIControlEventPrimaryActionTriggered = 1u << 13;
inline constexpr UIControlEvents UIControlEventEditingDidBegin = 1u << 16;
inline constexpr UIControlEvents UIControlEventEditingChanged = 1u << 17;
inline constexpr UIControlEvents UIControlEventEditingDidEnd = 1u << 18;
inline constexpr UIControlEvents UIControlEventEditingDidEndOnExit = 1u << 19;
inline constexpr UIControlEvents UIControlEventAllTouchEvents = 0x00000FFFu;
inline constexpr UIControlEvents UIControlEventAllEditingEvents = 0x000F0000u;
inline constexpr UIControlEvents UIControlEventApplicationReserved = 0x0F000000u;
inline constexpr UIControlEvents UIControlEventSystemReserved = 0xF0000000u;
inline constexpr UIControlEvents UIControlEventAllEvents = 0xFFFFFFFFu;

using UIControlState = std::uint64_t;
inline constexpr UIControlState UIControlStateNormal = 0;
inline constexpr UIControlState UIControlStateHighlighted = 1u << 0;
inline constexpr UIControlState UIControlStateDisabled = 1u << 1;
inline constexpr UIControlState UIControlStateSelected = 1u << 2;
inline constexpr UIControlState UIControlStateFocused = 1u << 3;
inline constexpr UIControlState UIControlStateApplication = 0x00FF0000u;
inline constexpr UIControlState UIControlStateReserved = 0xFF000000u;

enum UIControlContentHorizontalAlignment : long {
    UIControlContentHorizontalAlignmentCenter = 0,
    UIControlContentHorizontalAlignmentLeft = 1,
    UIControlContentHorizontalAlignmentRight = 2,
    UIControlContentHorizontalAlignmentFill = 3,
};

enum UIControlContentVerticalAlignment : long {
    UIControlContentVerticalAlignmentCenter = 0,
    UIControlContentVerticalAlignmentTop = 1,
    UIControlContentVerticalAlignmentBottom = 2,
    UIControlContentVerticalAlignmentFill = 3,
};

class UIControl : public UIView {
  public:
    // The action: the sender (the control) and the event (nullptr for sendActionsForControlEvents).
    using Action = std::function<void(const Ref<NSObject>& sender, const Ref<UIEvent>& event)>;

    UIControl();
    explicit UIControl(CGRect frame);
    std::string className() const override { return "UIControl"; }

    // ---- targets and actions ------------------------------------------------------------------
    // addTarget:action:forControlEvents:. `selector` names the action (for actionsForTarget and
    // removeTarget); it may be empty when `action` is given.
    void addTarget(const Ref<NSObject>& target, Action action, const std::string& selector,
                   UIControlEvents events);
    void addTarget(const Ref<NSObject>& target, Action action, UIControlEvents events) {
        addTarget(target, std::move(action), std::string(), events);
    }
    // A member function of the target as the action: void f(), void f(sender) or
    // void f(sender, event).
    template <class T, class M>
    requires std::is_member_function_pointer_v<M>
    void addTarget(const Ref<T>& target, M member, const std::string& selector, UIControlEvents events) {
        Weak<T> weak = target;
        addTarget(std::static_pointer_cast<NSObject>(target),
                  Action([weak, member](const Ref<NSObject>& sender, const Ref<UIEvent>& event) {
                      auto strong = weak.lock();
                      if (!strong) return;
                      if constexpr (std::is_invocable_v<M, T&, const Ref<NSObject>&, const Ref<UIEvent>&>) {
                          ((*strong).*member)(sender, event);
                      } else if constexpr (std::is_invocable_v<M, T&, const Ref<NSObject>&>) {
                          ((*strong).*member)(sender);
                      } else {
                          ((*strong).*member)();
                      }
                  }),
                  selector, events);
    }
    // removeTarget:action:forControlEvents:. A null target matches every target; no selector
    // matches every action of the target. The events are taken off the matching registrations;
    // a registration left without events goes.
    void removeTarget(const Ref<NSObject>& target, const std::optional<std::string>& selector,
                      UIControlEvents events);
    // Every live target (nullptr stands for registrations made without a target), once each.
    std::vector<Ref<NSObject>> allTargets() const;
    UIControlEvents allControlEvents() const;
    // The selector names registered for the target and any of the events; nullopt when none.
    std::optional<std::vector<std::string>> actionsForTarget(const Ref<NSObject>& target,
                                                             UIControlEvents event) const;

    // Sends the actions of every registration for any of the events, in order, with a null event.
    void sendActionsForControlEvents(UIControlEvents events);
    // Sends one registration's action; overridable like the platform's sendAction:to:forEvent:.
    virtual void sendAction(const std::string& selector, const Ref<NSObject>& target, const Action& action,
                            const Ref<UIEvent>& event);

    // ---- state --------------------------------------------------------------------------------
    bool isEnabled() const { return enabled_; }
    virtual void setEnabled(bool enabled);
    bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected);
    bool isHighlighted() const { return highlighted_; }
    virtual void setHighlighted(bool highlighted);
    // Highlighted | Disabled | Selected bits.
    UIControlState state() const;

    UIControlContentHorizontalAlignment contentHorizontalAlignment() const { return horizontalAlignment_; }
    void setContentHorizontalAlignment(UIControlContentHorizontalAlignment alignment);
    UIControlContentVerticalAlignment contentVerticalAlignment() const { return verticalAlignment_; }
    void setContentVerticalAlignment(UIControlContentVerticalAlignment alignment);

    // ---- tracking -----------------------------------------------------------------------------
    bool isTracking() const { return tracking_; }
    bool isTouchInside() const { return touchInside_; }
    // Hooks of subclasses; beginTracking answering false stops the sequence's tracking (the
    // TouchDown has been sent already, as on the platform).
    virtual bool beginTrackingWithTouch(const Ref<UITouch>& touch, const Ref<UIEvent>& event) { return true; }
    virtual bool continueTrackingWithTouch(const Ref<UITouch>& touch, const Ref<UIEvent>& event) {
        return true;
    }
    virtual void endTrackingWithTouch(const Ref<UITouch>& touch, const Ref<UIEvent>& event) {}
    virtual void cancelTrackingWithEvent(const Ref<UIEvent>& event) {}

    // Tracking by points in the control's own space (the touch overrides feed these).
    void trackTouchDownAt(CGPoint point, const Ref<UIEvent>& event, const Ref<UITouch>& touch = nullptr,
                          unsigned long tapCount = 1);
    void trackTouchMovedTo(CGPoint point, const Ref<UIEvent>& event, const Ref<UITouch>& touch = nullptr);
    void trackTouchUpAt(CGPoint point, const Ref<UIEvent>& event, const Ref<UITouch>& touch = nullptr);
    void trackTouchCancelled(const Ref<UIEvent>& event);

    void touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesCancelled(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;

    // Disabled controls are passed over.
    Ref<UIView> hitTest(CGPoint point, const Ref<UIEvent>& event) override;

    // "enabled", "selected", "highlighted" (Booleans).
    Value valueForKey(const std::string& key) const override;

    // How far outside the bounds a tracked touch still counts as inside.
    static constexpr CGFloat kTrackingTolerance = 70;

  protected:
    // Called whenever enabled, selected or highlighted changes (subclasses refresh their look).
    virtual void stateDidChange() {}
    // Sends the actions registered for the events, with the event.
    void sendActionsForEvents(UIControlEvents events, const Ref<UIEvent>& event);
    // Where the tracked touch was last seen, in the control's space.
    CGPoint lastTrackingPoint() const { return lastTrackingPoint_; }

  private:
    struct Registration {
        Weak<NSObject> target;
        NSObject* targetIdentity = nullptr;
        bool hasTarget = false;
        Action action;
        std::string selector;
        UIControlEvents events = 0;
    };
    bool insideForTracking(CGPoint point) const;

    std::vector<Registration> registrations_;
    bool enabled_ = true;
    bool selected_ = false;
    bool highlighted_ = false;
    bool tracking_ = false;
    bool touchInside_ = false;
    CGPoint lastTrackingPoint_{};
    UIControlContentHorizontalAlignment horizontalAlignment_ = UIControlContentHorizontalAlignmentCenter;
    UIControlContentVerticalAlignment verticalAlignment_ = UIControlContentVerticalAlignmentCenter;
};
