#pragma once
// Gesture recognisers: objects attached to a view that watch the touches going to it (and to its
// subviews) and turn them into a gesture with a state.
//
// States: a discrete gesture (tap, swipe) goes from possible to recognised (= ended) or to failed;
// a continuous one (pan, pinch) from possible to began, changed..., then ended or cancelled, or
// from possible to failed. Each move to began, changed, ended or cancelled sends the actions of
// every target (targets are held weakly: a gone target's action is skipped). The state is
// observable ("state", KVO with old and new values). Once the touches of the sequence are all up, a
// recogniser in a final state is reset to possible (observers see 0).
//
// Touches reach recognisers before views: each touch that goes down is offered to the recognisers
// of the hit view and of its ancestors (deepest first) that are enabled and whose delegate lets
// them receive it. When a recogniser begins (or recognises a discrete gesture):
// - it waits while a recogniser it must see fail (requireGestureRecognizerToFail, or a delegate
//   saying so) is still possible, and fails when that one recognises;
// - it fails when its delegate's gestureRecognizerShouldBegin answers false, or when another
//   recogniser already holds the gesture and neither delegate allows both at once;
// - the other recognisers still possible that may not recognise with it fail;
// - with cancelsTouchesInView (the default) the views get touchesCancelled for its touches and no
//   more of them.
// delaysTouchesEnded (the default) holds a view's touchesEnded while a recogniser of the touch is
// still deciding (a double tap waiting for its second tap), delaysTouchesBegan (off by default)
// holds touchesBegan likewise; they are delivered once the recognisers fail.
//
// Subclasses override touchesBegan/Moved/Ended/Cancelled and reset, and move the state with
// setState. Main thread only.

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/Value.h"
#include "graphics/CGGeometry.h"

class UIView;
class UITouch;
class UIEvent;
class UIGestureRecognizer;

enum UIGestureRecognizerState : long {
    UIGestureRecognizerStatePossible = 0,
    UIGestureRecognizerStateBegan = 1,
    UIGestureRecognizerStateChanged = 2,
    UIGestureRecognizerStateEnded = 3,
    UIGestureRecognizerStateCancelled = 4,
    UIGestureRecognizerStateFailed = 5,
    UIGestureRecognizerStateRecognized = UIGestureRecognizerStateEnded,
};

// The delegate protocol; every method is optional (std::nullopt: not implemented).
class UIGestureRecognizerDelegate {
  public:
    virtual ~UIGestureRecognizerDelegate() = default;
    // gestureRecognizerShouldBegin:
    virtual std::optional<bool> gestureRecognizerShouldBegin(UIGestureRecognizer& recognizer) {
        return std::nullopt;
    }
    // gestureRecognizer:shouldReceiveTouch:
    virtual std::optional<bool> gestureRecognizerShouldReceiveTouch(UIGestureRecognizer& recognizer,
                                                                    const Ref<UITouch>& touch) {
        return std::nullopt;
    }
    // gestureRecognizer:shouldRecognizeSimultaneouslyWithGestureRecognizer:
    virtual std::optional<bool>
    gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(UIGestureRecognizer& recognizer,
                                                                        UIGestureRecognizer& other) {
        return std::nullopt;
    }
    // gestureRecognizer:shouldRequireFailureOfGestureRecognizer:
    virtual std::optional<bool>
    gestureRecognizerShouldRequireFailureOfGestureRecognizer(UIGestureRecognizer& recognizer,
                                                             UIGestureRecognizer& other) {
        return std::nullopt;
    }
    // gestureRecognizer:shouldBeRequiredToFailByGestureRecognizer:
    virtual std::optional<bool>
    gestureRecognizerShouldBeRequiredToFailByGestureRecognizer(UIGestureRecognizer& recognizer,
                                                               UIGestureRecognizer& other) {
        return std::nullopt;
    }
};

namespace detail {
struct GestureArbiter;
struct GestureArbiterImpl;
}

class UIGestureRecognizer : public NSObject {
  public:
    // The action receives the recogniser that sent it.
    using Action = std::function<void(const Ref<UIGestureRecognizer>& sender)>;

    UIGestureRecognizer();
    // initWithTarget:action: — a null target means the action always runs.
    UIGestureRecognizer(const Ref<NSObject>& target, Action action);
    ~UIGestureRecognizer() override;
    std::string className() const override { return "UIGestureRecognizer"; }

    void addTarget(const Ref<NSObject>& target, Action action);
    // Removes every action of the target; a null target removes them all.
    void removeTarget(const Ref<NSObject>& target);

    UIGestureRecognizerState state() const { return state_; }
    bool isEnabled() const { return enabled_; }
    // Disabling cancels a gesture in progress (fails one that is still possible).
    void setEnabled(bool enabled);
    Ref<UIView> view() const { return view_.lock(); }

    Ref<UIGestureRecognizerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<UIGestureRecognizerDelegate>& delegate) { delegate_ = delegate; }

    bool cancelsTouchesInView() const { return cancelsTouchesInView_; }
    void setCancelsTouchesInView(bool cancels) { cancelsTouchesInView_ = cancels; }
    bool delaysTouchesBegan() const { return delaysTouchesBegan_; }
    void setDelaysTouchesBegan(bool delays) { delaysTouchesBegan_ = delays; }
    bool delaysTouchesEnded() const { return delaysTouchesEnded_; }
    void setDelaysTouchesEnded(bool delays) { delaysTouchesEnded_ = delays; }

    // This recogniser begins only once the other has failed.
    void requireGestureRecognizerToFail(const Ref<UIGestureRecognizer>& other);

    // The centroid of the gesture's touches in the view's space (nullptr: the window's).
    CGPoint locationInView(const Ref<UIView>& view) const;
    std::size_t numberOfTouches() const { return touches_.size(); }
    // The touch's location; CGPointZero (with a log line) for an index out of range.
    CGPoint locationOfTouch(std::size_t index, const Ref<UIView>& view) const;

    // Whether this recogniser, when it recognises, stops the other (and the reverse). Overridable
    // like the platform's subclass hooks.
    virtual bool canPreventGestureRecognizer(const UIGestureRecognizer& other) const { return true; }
    virtual bool canBePreventedByGestureRecognizer(const UIGestureRecognizer& other) const { return true; }
    virtual bool shouldRequireFailureOfGestureRecognizer(const UIGestureRecognizer& other) const {
        return false;
    }
    virtual bool shouldBeRequiredToFailByGestureRecognizer(const UIGestureRecognizer& other) const {
        return false;
    }

    // "state" (a number) and "enabled".
    Value valueForKey(const std::string& key) const override;

    // ---- for subclasses (and the dispatcher, which calls them) -----------------------------
    virtual void touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {}
    virtual void touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {}
    virtual void touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {}
    virtual void touchesCancelled(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {}
    // Back to the start, after the gesture's final state; the state is already possible.
    virtual void reset() {}
    // The touch is no longer delivered to this recogniser.
    void ignoreTouch(const Ref<UITouch>& touch, const Ref<UIEvent>& event);
    // The gesture's touches, in the order they went down.
    const std::vector<Ref<UITouch>>& trackedTouches() const { return touches_; }

  protected:
    // Moves the state; the arbitration above decides whether a begin or a recognition happens.
    void setState(UIGestureRecognizerState state);
    // True once a first touch went down on a fresh gesture (resets clear it).
    bool isTracking() const { return !touches_.empty(); }

  private:
    friend struct detail::GestureArbiter;
    friend struct detail::GestureArbiterImpl;
    struct Target {
        Weak<NSObject> target;
        bool hasTarget;
        Action action;
    };
    void sendActions();

    UIGestureRecognizerState state_ = UIGestureRecognizerStatePossible;
    bool enabled_ = true;
    bool cancelsTouchesInView_ = true;
    bool delaysTouchesBegan_ = false;
    bool delaysTouchesEnded_ = true;
    Weak<UIView> view_;
    Weak<UIGestureRecognizerDelegate> delegate_;
    std::vector<Target> targets_;
    std::vector<Weak<UIGestureRecognizer>> failureRequirements_;
    std::vector<Ref<UITouch>> touches_;
    // A begin or recognition waiting for required failures.
    std::optional<UIGestureRecognizerState> pending_;
    bool engaged_ = false;
};

namespace detail {

// The arbitration between recognisers and the links to the dispatcher; internal to the gesture
// layer, the dispatcher and the test driver.
struct GestureArbiter {
    // Requests a state change with the rules of the header comment.
    static void request(UIGestureRecognizer& recognizer, UIGestureRecognizerState state);
    // Sets the state without arbitration and sends the actions (the test driver uses it to walk a
    // recogniser through its states, like a scroll view's pan).
    static void force(UIGestureRecognizer& recognizer, UIGestureRecognizerState state);
    // The recognisers taking part in the current touch sequences.
    static std::vector<Ref<UIGestureRecognizer>> engaged();
    static void engage(UIGestureRecognizer& recognizer);
    static void track(UIGestureRecognizer& recognizer, const Ref<UITouch>& touch);
    static bool receives(const UIGestureRecognizer& recognizer, const UITouch* touch);
    // Resets recognisers in a final state whose touches are all up, and delivers held touches
    // whose recognisers have decided.
    static void settle();
    static void attach(UIView* view, const Ref<UIGestureRecognizer>& recognizer, bool attached);
    static bool isDeciding(const UIGestureRecognizer& recognizer);
};

void installGestureHooks();

}  // namespace detail
