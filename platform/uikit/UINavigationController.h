#pragma once
// Navigation controllers: a stack of controllers of which the top one's view is shown, under a
// navigation bar.
//
// The stack is the controller's children (viewControllers() reads the new stack at once, also
// while a transition runs). Pushing and popping a visible (appeared) navigation controller moves
// the views over 0.35 s on the platform clock when animated, with the appearance calls in the
// platform's order:
//
//   push: new viewDidLoad (when not yet loaded), delegate willShow, old viewWillDisappear,
//         new viewWillAppear, (the slide), old viewDidDisappear, new viewDidAppear,
//         new didMoveToParentViewController(nav), delegate didShow;
//   pop:  delegate willShow, old viewWillDisappear, new viewWillAppear, (the slide),
//         old viewDidDisappear, new viewDidAppear, popped didMoveToParentViewController(nullptr),
//         delegate didShow.
//
// Not animated, the same happens within the call. When the navigation controller is not visible
// the stack and the views change without appearance calls (they come when it appears). A push or
// pop while a transition runs finishes the running one first (all of its calls), then starts.
// Pushing a controller already in the stack, or a navigation controller, is logged and dropped
// (the platform raises); popping the root answers nullptr.
//
// Layout: the bar sits under the status bar (y = 20, or 0 with the status bar hidden), 44 points
// high; the top controller's view fills the navigation controller's view when it extends under
// the top bar (edgesForExtendedLayout has Top, the default), else it starts below the bar.
//
// Rotation and the status bar: the platform's own answers (autorotate, all but upside down) unless
// the application installs autorotation hooks (setAutorotationHooks) that answer for every
// navigation controller, e.g. from the top controller. With the bar hidden the top controller
// decides the status bar style; it always decides whether the bar is hidden.
//
// Subclasses that declare didInit must call the base's. Main thread only.

#include <functional>
#include <optional>
#include <vector>

#include "uikit/UIViewController.h"

class UINavigationBar;
class UIToolbar;
class UIGestureRecognizer;
class UINavigationController;

inline constexpr double UINavigationControllerHideShowBarDuration = 0.2;

enum UINavigationControllerOperation : long {
    UINavigationControllerOperationNone = 0,
    UINavigationControllerOperationPush = 1,
    UINavigationControllerOperationPop = 2,
};

// UINavigationControllerDelegate: every method is optional.
class UINavigationControllerDelegate {
  public:
    virtual ~UINavigationControllerDelegate() = default;
    // navigationController:willShowViewController:animated:
    virtual void
    navigationControllerWillShowViewController(const Ref<UINavigationController>& navigationController,
                                               const Ref<UIViewController>& viewController, bool animated) {}
    // navigationController:didShowViewController:animated:
    virtual void
    navigationControllerDidShowViewController(const Ref<UINavigationController>& navigationController,
                                              const Ref<UIViewController>& viewController, bool animated) {}
};

class UINavigationController : public UIViewController {
  public:
    UINavigationController();
    // initWithRootViewController: (the root joins the stack in didInit).
    explicit UINavigationController(Ref<UIViewController> rootViewController);
    void didInit();
    std::string className() const override { return "UINavigationController"; }

    // ---- the stack ----------------------------------------------------------------------------
    const std::vector<Ref<UIViewController>>& viewControllers() const { return stack_; }
    void setViewControllers(const std::vector<Ref<UIViewController>>& controllers, bool animated = false);
    Ref<UIViewController> topViewController() const;
    // What the presented controller of the navigation controller, else the top.
    Ref<UIViewController> visibleViewController() const;
    virtual void pushViewController(const Ref<UIViewController>& controller, bool animated);
    // The popped controller; nullptr with only the root left.
    virtual Ref<UIViewController> popViewControllerAnimated(bool animated);
    // The popped controllers, bottom to top (empty when only the root was there).
    virtual std::vector<Ref<UIViewController>> popToRootViewControllerAnimated(bool animated);
    // The controller must be in the stack (else logged, empty answer).
    virtual std::vector<Ref<UIViewController>> popToViewController(const Ref<UIViewController>& controller,
                                                                   bool animated);
    // True while a push or pop animates.
    bool isTransitioning() const { return static_cast<bool>(pendingFinish_); }

    // ---- bars ---------------------------------------------------------------------------------
    // The bars are made with the controller and join its view when it loads. The bar shows the
    // stack's navigation items; its back button pops (animated). The toolbar (hidden by default)
    // shows the top controller's toolbarItems.
    Ref<UINavigationBar> navigationBar() const { return navigationBar_; }
    bool isNavigationBarHidden() const { return navigationBarHidden_; }
    void setNavigationBarHidden(bool hidden) { setNavigationBarHidden(hidden, false); }
    void setNavigationBarHidden(bool hidden, bool animated);
    Ref<UIToolbar> toolbar() const { return toolbar_; }
    bool isToolbarHidden() const { return toolbarHidden_; }
    void setToolbarHidden(bool hidden) { setToolbarHidden(hidden, false); }
    void setToolbarHidden(bool hidden, bool animated);
    // A stored pan recogniser, attached to no view: nothing drives it here.
    Ref<UIGestureRecognizer> interactivePopGestureRecognizer() const {
        return interactivePopGestureRecognizer_;
    }
    // The frame the top controller's view gets, in the navigation controller's view.
    CGRect contentFrameForViewController(const Ref<UIViewController>& controller);

    // ---- delegate (weak) ----------------------------------------------------------------------
    Ref<UINavigationControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<UINavigationControllerDelegate>& delegate) { delegate_ = delegate; }

    // ---- rotation and the status bar ----------------------------------------------------------
    struct AutorotationHooks {
        std::function<bool(const UINavigationController&)> shouldAutorotate;
        std::function<UIInterfaceOrientationMask(const UINavigationController&)>
            supportedInterfaceOrientations;
        std::function<UIInterfaceOrientation(const UINavigationController&)>
            preferredInterfaceOrientationForPresentation;
        std::function<bool(const UINavigationController&, UIInterfaceOrientation)>
            shouldAutorotateToInterfaceOrientation;
    };
    // For every navigation controller; empty functions keep the platform's answer.
    static void setAutorotationHooks(AutorotationHooks hooks);
    bool shouldAutorotate() const override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override;
    bool shouldAutorotateToInterfaceOrientation(UIInterfaceOrientation orientation) const override;
    Ref<UIViewController> childViewControllerForStatusBarStyle() const override;
    Ref<UIViewController> childViewControllerForStatusBarHidden() const override;

    // ---- overrides ----------------------------------------------------------------------------
    void loadView() override;
    // Lays out the bars and the top controller's view (the container view calls it).
    void layoutNavigationViews();
    // Shows the stack's navigation items on the bar and the top's toolbar items on the toolbar.
    void updateBars(bool animated);

  private:
    void installTopView();
    void runTransition(bool animated, bool push, const Ref<UIViewController>& from,
                       const Ref<UIViewController>& to, std::function<void()> finish);
    void finishRunningTransition();
    std::vector<Ref<UIViewController>> popToIndex(std::size_t index, bool animated);
    bool isVisible() const;
    void makeBars();
    void layoutBars();

    Ref<UIViewController> pendingRoot_;
    std::vector<Ref<UIViewController>> stack_;
    std::function<void()> pendingFinish_;
    std::uint64_t transitionToken_ = 0;
    Weak<UINavigationControllerDelegate> delegate_;
    Ref<UINavigationBar> navigationBar_;
    Ref<UIToolbar> toolbar_;
    Ref<UIGestureRecognizer> interactivePopGestureRecognizer_;
    bool navigationBarHidden_ = false;
    bool toolbarHidden_ = true;
};
