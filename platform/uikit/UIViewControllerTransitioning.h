#pragma once
// Custom transitions between view controllers: the protocols a presentation's transitioning
// delegate, its animators and the transition context speak.
//
// A presentation (or dismissal) that is animated asks the presented controller's transitioning
// delegate for an animator. When one is given, the animator gets a transition context: the
// container view the transition happens in, the "from" and "to" controllers and views, and their
// initial and final frames. The animator moves the views (usually with UIView animations, which
// run on the platform clock) and must call completeTransition() exactly once when done; the
// presentation then finishes (appearance calls, completion block) and the animator hears
// animationEnded(). completeTransition(false) cancels: the controllers go back to where they were.
//
// Which views the context offers:
// - presenting: to = the presented controller's view; from = the presenting controller's view for
//   the full-screen styles, nullptr for the custom and "over" styles (the presenter stays);
// - dismissing: from = the dismissed controller's view; to = the presenting controller's view for
//   the full-screen styles (already back in place under the container), nullptr otherwise.
// The animator adds the "to" view of a presentation to the container itself (the platform does not).
//
// Main thread only.

#include <functional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"

class UIView;
class UIViewController;

inline constexpr char UITransitionContextFromViewControllerKey[] = "UITransitionContextFromViewControllerKey";
inline constexpr char UITransitionContextToViewControllerKey[] = "UITransitionContextToViewControllerKey";
inline constexpr char UITransitionContextFromViewKey[] = "UITransitionContextFromViewKey";
inline constexpr char UITransitionContextToViewKey[] = "UITransitionContextToViewKey";

enum UIModalPresentationStyle : long {
    UIModalPresentationFullScreen = 0,
    UIModalPresentationPageSheet = 1,
    UIModalPresentationFormSheet = 2,
    UIModalPresentationCurrentContext = 3,
    UIModalPresentationCustom = 4,
    UIModalPresentationOverFullScreen = 5,
    UIModalPresentationOverCurrentContext = 6,
    UIModalPresentationPopover = 7,
    UIModalPresentationNone = -1,
};

enum UIModalTransitionStyle : long {
    UIModalTransitionStyleCoverVertical = 0,
    UIModalTransitionStyleFlipHorizontal = 1,
    UIModalTransitionStyleCrossDissolve = 2,
    UIModalTransitionStylePartialCurl = 3,
};

// UIViewControllerContextTransitioning: what an animator is told about the transition.
class UIViewControllerContextTransitioning {
  public:
    virtual ~UIViewControllerContextTransitioning() = default;

    // The view the transition takes place in; it covers the window.
    virtual Ref<UIView> containerView() const = 0;
    virtual bool isAnimated() const = 0;
    // Interactive transitions are not driven here: always false.
    virtual bool isInteractive() const { return false; }
    // True after completeTransition(false).
    virtual bool transitionWasCancelled() const = 0;
    virtual UIModalPresentationStyle presentationStyle() const = 0;
    // Ends the transition; calls after the first are ignored.
    virtual void completeTransition(bool didComplete) = 0;
    // UITransitionContextFrom/ToViewControllerKey; nullptr for another key.
    virtual Ref<UIViewController> viewControllerForKey(const std::string& key) const = 0;
    // UITransitionContextFrom/ToViewKey; nullptr where the style offers no view (see above).
    virtual Ref<UIView> viewForKey(const std::string& key) const = 0;
    // In the container's space; CGRectZero where the frame is not known or the view goes away.
    virtual CGRect initialFrameForViewController(const Ref<UIViewController>& controller) const = 0;
    virtual CGRect finalFrameForViewController(const Ref<UIViewController>& controller) const = 0;
};

// UIViewControllerAnimatedTransitioning: an animator.
class UIViewControllerAnimatedTransitioning {
  public:
    virtual ~UIViewControllerAnimatedTransitioning() = default;
    virtual double transitionDuration(const Ref<UIViewControllerContextTransitioning>& transitionContext) = 0;
    virtual void animateTransition(const Ref<UIViewControllerContextTransitioning>& transitionContext) = 0;
    // Optional: told after completeTransition, with its argument.
    virtual void animationEnded(bool transitionCompleted) {}
};

// UIViewControllerTransitioningDelegate: hands out animators. Both methods are optional; nullptr
// (the default) means the platform's own animation.
class UIViewControllerTransitioningDelegate {
  public:
    virtual ~UIViewControllerTransitioningDelegate() = default;
    // animationControllerForPresentedController:presentingController:sourceController:
    virtual Ref<UIViewControllerAnimatedTransitioning>
    animationControllerForPresentedController(const Ref<UIViewController>& presented,
                                              const Ref<UIViewController>& presenting,
                                              const Ref<UIViewController>& source) {
        return nullptr;
    }
    // animationControllerForDismissedController:
    virtual Ref<UIViewControllerAnimatedTransitioning>
    animationControllerForDismissedController(const Ref<UIViewController>& dismissed) {
        return nullptr;
    }
};

// The coordinator handed to viewWillTransitionToSize: alongside-animations run with the rotation
// (at once, inside an animation block of the rotation's duration) and their completions after it.
class UIViewControllerTransitionCoordinator : public NSObject {
  public:
    explicit UIViewControllerTransitionCoordinator(double duration) : duration_(duration) {}
    std::string className() const override { return "UIViewControllerTransitionCoordinator"; }

    using Block = std::function<void(const Ref<UIViewControllerTransitionCoordinator>& context)>;
    bool animateAlongsideTransition(Block animation, Block completion);
    double transitionDuration() const { return duration_; }
    bool isAnimated() const { return duration_ > 0; }
    bool isCancelled() const { return false; }

    // For the rotation machinery: runs the gathered animations and schedules the completions.
    void run();

  private:
    double duration_;
    std::vector<Block> animations_;
    std::vector<Block> completions_;
};
