#pragma once
// View controllers: the owners of screens. A controller has a view (made on first use), takes part
// in containment (parent and children), presents and dismisses other controllers modally, and
// hears its view appear and disappear in the platform's order.
//
// The view: view() loads it on first access through loadView(), then viewDidLoad() runs once.
// loadView() takes, in this order: the view loader a storyboard scene factory set
// (setViewLoader), the nib registered under nibName (UINib.h: the owner's view is the first
// top-level view when the nib did not set it), or a plain UIView of the screen's size. The view's
// next responder is the controller (UIView::setViewControllerForResponderChain); the controller's
// next responder is the view's superview, or for a presented controller without one, the
// presenting controller.
//
// Appearance: every controller is Disappeared, Appearing, Appeared or Disappearing.
// beginAppearanceTransition / endAppearanceTransition move it and call viewWillAppear,
// viewDidAppear, viewWillDisappear, viewDidDisappear; calls that would not change the state are
// dropped, so a controller never hears two viewWillAppear in a row. A parent forwards its own
// changes to its children whose views are in its view tree (after its own call; a navigation
// controller forwards only to its top controller). The transitions below drive them:
//
// - window root: a visible window's new root appears at once (willAppear, its view laid out,
//   didAppear); the root of a hidden window appears when the window becomes visible, so the
//   view of the storyboard's initial controller loads after the application delegate's launch
//   methods, as on the platform. The old root disappears.
// - containment: addChildViewController calls willMoveToParentViewController(parent);
//   removeFromParentViewController calls didMoveToParentViewController(nullptr). A child whose view
//   is in an appeared parent's tree, in a window, appears in didMoveToParentViewController (the
//   base implementation; overrides call it); an appeared child that left its parent or the window
//   disappears in removeFromParentViewController.
// - transitionFromViewController: to-view added beside the from-view, will-calls, the animations
//   over the duration on the clock, then the from-view removed, did-calls, completion.
// - presentation and navigation: old willDisappear, new willAppear, (the animation), old
//   didDisappear, new didAppear, completion. A new controller's viewDidLoad comes before all.
//
// Presentation (present / dismiss):
// - The presenting controller is the top of the receiver's parent chain (a screen inside a
//   navigation controller presents through it); presentingViewController and
//   presentedViewController walk up the parent chain the same way, so chains of several levels read
//   as on the platform. Presenting needs the presenter's view in a window, and nothing already
//   presented by it: otherwise the call is logged and dropped (no completion).
// - presentedViewController is set at once. The presented view goes into a new container view
//   that covers the window (on top of it). Animated: the transitioning delegate's animator runs
//   when it gives one; otherwise the view slides up from below the window over 0.5 s on the
//   platform clock (dismissal: slides down over 0.5 s). Not animated: the transition completes
//   on the next turn of the main run loop. The completion runs after the did-appearance calls.
// - Full-screen styles (FullScreen, PageSheet, FormSheet, CurrentContext) take the presenter's
//   view out of the window when the presentation completes and put it back when dismissal starts;
//   the presenter disappears and appears again. Custom and the "over" styles leave it in place
//   and send it no appearance calls.
// - A full-screen presentation of a controller that does not support the current interface
//   orientation turns the interface to its preferredInterfaceOrientationForPresentation first
//   (status bar orientation, screen and window bounds, rotation callbacks); dismissing turns it
//   back when the controller underneath does not support the current one.
// - dismissViewControllerAnimated on a controller that presents dismisses what it presents (and
//   everything that presents in turn, one animation for all); on a presented controller it asks
//   its presenter; with neither it does nothing (no completion).
// - Present or dismiss while a presentation transition of the same controllers runs waits for it to
//   finish, then goes ahead (the platform refuses with a warning instead).
// - completeTransition(false) from an animator cancels: a cancelled presentation removes the
//   presented controller again, a cancelled dismissal leaves it presented; completions do not run.
//
// Status bar and orientation: the defaults are the platform's (all but upside down, portrait for
// presentation, autorotate, default style, bar shown). setNeedsStatusBarAppearanceUpdate applies
// the style and hiddenness of the window's deciding controller (the top of the presentation chain,
// or a child named by childViewControllerForStatusBarStyle/Hidden) to UIApplication.
//
// Memory warnings: every live controller hears didReceiveMemoryWarning when the application posts
// UIApplicationDidReceiveMemoryWarningNotification, in the order the controllers were made.
//
// Layout: viewWillLayoutSubviews and viewDidLayoutSubviews run on every layout pass of the
// controller's view, both before the view's own layoutSubviews (the view layer offers one hook
// there). The layout guides' lengths are refreshed at the same time and whenever read.
//
// Subclasses: make<T>() runs didInit(); a subclass that declares didInit must call the base's.
// Controllers belong to the main thread.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSBundle.h"
#include "uikit/UIApplication.h"
#include "uikit/UIResponder.h"
#include "uikit/UIStoryboardSegue.h"
#include "uikit/UIView.h"
#include "uikit/UIViewAnimation.h"
#include "uikit/UIViewControllerTransitioning.h"

class UIBarButtonItem;
class UILayoutSupport;
class UINavigationController;
class UINavigationItem;
class UIStoryboard;
namespace detail {
struct UIViewControllerPresentation;
struct UIViewControllerAccess;
}  // namespace detail

using UIRectEdge = unsigned long;
inline constexpr UIRectEdge UIRectEdgeNone = 0;
inline constexpr UIRectEdge UIRectEdgeTop = 1u << 0;
inline constexpr UIRectEdge UIRectEdgeLeft = 1u << 1;
inline constexpr UIRectEdge UIRectEdgeBottom = 1u << 2;
inline constexpr UIRectEdge UIRectEdgeRight = 1u << 3;
inline constexpr UIRectEdge UIRectEdgeAll =
    UIRectEdgeTop | UIRectEdgeLeft | UIRectEdgeBottom | UIRectEdgeRight;

// The appearance state of a controller (this system's own reading of the platform's bookkeeping).
enum class UIViewControllerAppearanceState {
    Disappeared,
    Appearing,
    Appeared,
    Disappearing,
};

class UIViewController : public UIResponder {
  public:
    UIViewController();
    // initWithNibName:bundle: (a nil name means "the nib named after the class, if registered").
    UIViewController(std::optional<std::string> nibName, Ref<NSBundle> nibBundle);
    ~UIViewController() override;
    std::string className() const override { return "UIViewController"; }

    // ---- the view -----------------------------------------------------------------------------
    // Loads the view when needed (loadView, then viewDidLoad).
    const Ref<UIView>& view();
    // Setting nullptr unloads the view (viewDidLoad runs again on the next access).
    void setView(const Ref<UIView>& view);
    bool isViewLoaded() const { return view_ != nullptr; }
    void loadViewIfNeeded();
    virtual void loadView();
    virtual void viewDidLoad() {}
    // Set by storyboard scene factories: builds the view tree, connects outlets (weakly) and
    // actions. It receives the controller whose view it builds.
    using ViewLoader = std::function<Ref<UIView>(UIViewController& controller)>;
    void setViewLoader(ViewLoader loader) { viewLoader_ = std::move(loader); }
    bool hasViewLoader() const { return static_cast<bool>(viewLoader_); }
    const std::optional<std::string>& nibName() const { return nibName_; }
    const Ref<NSBundle>& nibBundle() const { return nibBundle_; }

    // ---- appearance ---------------------------------------------------------------------------
    virtual void viewWillAppear(bool animated) {}
    virtual void viewDidAppear(bool animated) {}
    virtual void viewWillDisappear(bool animated) {}
    virtual void viewDidDisappear(bool animated) {}
    virtual void viewWillLayoutSubviews() {}
    virtual void viewDidLayoutSubviews() {}
    virtual void didReceiveMemoryWarning() {}
    void beginAppearanceTransition(bool isAppearing, bool animated);
    void endAppearanceTransition();
    virtual bool shouldAutomaticallyForwardAppearanceMethods() const { return true; }
    UIViewControllerAppearanceState appearanceState() const { return appearance_; }
    bool isBeingPresented() const { return beingPresented_; }
    bool isBeingDismissed() const { return beingDismissed_; }
    bool isMovingToParentViewController() const { return movingToParent_; }
    bool isMovingFromParentViewController() const { return movingFromParent_; }

    // ---- title and items ----------------------------------------------------------------------
    const std::optional<std::string>& title() const { return title_; }
    virtual void setTitle(const std::optional<std::string>& title);
    // Made on first use, titled with the controller's title (setTitle also retitles it).
    Ref<UINavigationItem> navigationItem();
    // The items a navigation controller's toolbar shows while this controller is on top.
    const std::vector<Ref<UIBarButtonItem>>& toolbarItems() const { return toolbarItems_; }
    void setToolbarItems(std::vector<Ref<UIBarButtonItem>> items, bool animated = false);
    // The nearest navigation controller up the parent chain (nullptr when none).
    Ref<UINavigationController> navigationController() const;
    bool isEditing() const { return editing_; }
    virtual void setEditing(bool editing, bool animated) { editing_ = editing; }
    bool hidesBottomBarWhenPushed() const { return hidesBottomBarWhenPushed_; }
    void setHidesBottomBarWhenPushed(bool hides) { hidesBottomBarWhenPushed_ = hides; }

    // ---- containment --------------------------------------------------------------------------
    Ref<UIViewController> parentViewController() const { return parent_.lock(); }
    const std::vector<Ref<UIViewController>>& childViewControllers() const { return children_; }
    // Moves the child from its old parent first; adding self or an ancestor is refused (logged).
    virtual void addChildViewController(const Ref<UIViewController>& child);
    virtual void removeFromParentViewController();
    virtual void willMoveToParentViewController(const Ref<UIViewController>& parent) {}
    virtual void didMoveToParentViewController(const Ref<UIViewController>& parent);
    // Both must be children of the receiver (else logged and dropped, no completion).
    void transitionFromViewController(const Ref<UIViewController>& fromViewController,
                                      const Ref<UIViewController>& toViewController, double duration,
                                      UIViewAnimationOptions options, std::function<void()> animations,
                                      UIViewAnimationCompletion completion);

    // ---- presentation -------------------------------------------------------------------------
    virtual void presentViewController(const Ref<UIViewController>& controller, bool animated,
                                       std::function<void()> completion = {});
    virtual void dismissViewControllerAnimated(bool animated, std::function<void()> completion = {});
    Ref<UIViewController> presentingViewController() const;
    Ref<UIViewController> presentedViewController() const;
    UIModalPresentationStyle modalPresentationStyle() const { return modalPresentationStyle_; }
    void setModalPresentationStyle(UIModalPresentationStyle style) { modalPresentationStyle_ = style; }
    UIModalTransitionStyle modalTransitionStyle() const { return modalTransitionStyle_; }
    void setModalTransitionStyle(UIModalTransitionStyle style) { modalTransitionStyle_ = style; }
    // Held weakly.
    Ref<UIViewControllerTransitioningDelegate> transitioningDelegate() const {
        return transitioningDelegate_.lock();
    }
    void setTransitioningDelegate(const Ref<UIViewControllerTransitioningDelegate>& delegate) {
        transitioningDelegate_ = delegate;
    }
    bool definesPresentationContext() const { return definesPresentationContext_; }
    void setDefinesPresentationContext(bool defines) { definesPresentationContext_ = defines; }

    // ---- orientation and status bar -----------------------------------------------------------
    virtual UIInterfaceOrientationMask supportedInterfaceOrientations() const;
    virtual UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const;
    virtual bool shouldAutorotate() const { return true; }
    // The older question: true for the orientations in supportedInterfaceOrientations().
    virtual bool shouldAutorotateToInterfaceOrientation(UIInterfaceOrientation orientation) const;
    // The application's status bar orientation.
    UIInterfaceOrientation interfaceOrientation() const;
    virtual UIStatusBarStyle preferredStatusBarStyle() const { return UIStatusBarStyleDefault; }
    virtual bool prefersStatusBarHidden() const { return false; }
    virtual UIStatusBarAnimation preferredStatusBarUpdateAnimation() const {
        return UIStatusBarAnimationFade;
    }
    virtual Ref<UIViewController> childViewControllerForStatusBarStyle() const { return nullptr; }
    virtual Ref<UIViewController> childViewControllerForStatusBarHidden() const { return nullptr; }
    void setNeedsStatusBarAppearanceUpdate();
    virtual void willRotateToInterfaceOrientation(UIInterfaceOrientation orientation, double duration) {}
    virtual void willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation orientation,
                                                           double duration) {}
    virtual void didRotateFromInterfaceOrientation(UIInterfaceOrientation fromOrientation) {}
    virtual void viewWillTransitionToSize(CGSize size,
                                          const Ref<UIViewControllerTransitionCoordinator>& coordinator) {}
    // Turns the interface of every visible window to the device's orientation when the window's
    // deciding controller (the top of its presentation chain) allows it: shouldAutorotate and the
    // orientation in supportedInterfaceOrientations.
    static void attemptRotationToDeviceOrientation();

    // ---- layout -------------------------------------------------------------------------------
    // The guides' lengths: the status bar (20, unless hidden) plus a visible navigation bar (44)
    // above a view that extends under it; a visible toolbar (44) below. nullptr until the layout
    // guide class is available.
    Ref<UILayoutSupport> topLayoutGuide();
    Ref<UILayoutSupport> bottomLayoutGuide();
    CGFloat topLayoutGuideLength() const;
    CGFloat bottomLayoutGuideLength() const;
    UIRectEdge edgesForExtendedLayout() const { return edgesForExtendedLayout_; }
    void setEdgesForExtendedLayout(UIRectEdge edges) { edgesForExtendedLayout_ = edges; }
    bool extendedLayoutIncludesOpaqueBars() const { return extendedLayoutIncludesOpaqueBars_; }
    void setExtendedLayoutIncludesOpaqueBars(bool on) { extendedLayoutIncludesOpaqueBars_ = on; }
    bool automaticallyAdjustsScrollViewInsets() const { return automaticallyAdjustsScrollViewInsets_; }
    void setAutomaticallyAdjustsScrollViewInsets(bool on) { automaticallyAdjustsScrollViewInsets_ = on; }
    CGSize preferredContentSize() const { return preferredContentSize_; }
    void setPreferredContentSize(CGSize size) { preferredContentSize_ = size; }

    // ---- storyboard and segues ----------------------------------------------------------------
    // The storyboard this controller was instantiated from (nullptr for controllers made in code).
    const Ref<UIStoryboard>& storyboard() const { return storyboard_; }
    void setStoryboard(const Ref<UIStoryboard>& storyboard) { storyboard_ = storyboard; }
    // Scene factories declare the controller's segues; a later declaration of an identifier
    // replaces the earlier.
    void declareSegue(UIStoryboardSegueDeclaration declaration);
    // The common case: a segue to a scene of the controller's storyboard (or of another one).
    void declareSegue(const std::string& identifier, UIStoryboardSegueKind kind,
                      const std::string& destinationIdentifier,
                      const std::optional<std::string>& destinationStoryboard = std::nullopt);
    const UIStoryboardSegueDeclaration* segueDeclaration(const std::string& identifier) const;
    // Makes the destination, calls prepareForSegue, performs. An identifier the controller does
    // not declare (or whose destination cannot be made) is logged and nothing happens: the
    // platform raises instead.
    virtual void performSegueWithIdentifier(const std::string& identifier, const Ref<NSObject>& sender);
    virtual bool shouldPerformSegueWithIdentifier(const std::string& identifier,
                                                  const Ref<NSObject>& sender) {
        return true;
    }
    virtual void prepareForSegue(const Ref<UIStoryboardSegue>& segue, const Ref<NSObject>& sender) {}

    // ---- responder chain ----------------------------------------------------------------------
    Ref<UIResponder> nextResponder() const override;
    UIWindow* windowForFirstResponder() const override;

    // ---- internal -----------------------------------------------------------------------------
    // Sends `controller` will/did disappear or appear as one step (not animated), when that
    // changes its state.
    static void appearNow(const Ref<UIViewController>& controller, bool animated = false);
    static void disappearNow(const Ref<UIViewController>& controller, bool animated = false);
    // The controller that decides for a window: its root's presentation chain's top.
    static Ref<UIViewController> decidingControllerForWindow(const Ref<UIWindow>& window);
    // Turns the interface (for presentations and attemptRotationToDeviceOrientation).
    static void rotateInterface(UIInterfaceOrientation orientation, double duration);
    // For containers: what isMovingTo/FromParentViewController answer during their transitions.
    void setMovingToParentInternal(bool on) { movingToParent_ = on; }
    void setMovingFromParentInternal(bool on) { movingFromParent_ = on; }

  protected:
    // For containers that manage their children's appearance (navigation): the raw forwarding.
    void forwardAppearance(const Ref<UIViewController>& child, bool begin, bool isAppearing, bool animated);

  private:
    friend struct detail::UIViewControllerAccess;

    void setViewInternal(const Ref<UIView>& view);
    void refreshLayoutGuides();
    Ref<UIViewController> presentationHost();
    void presentNow(const Ref<UIViewController>& controller, bool animated, std::function<void()> completion);
    void dismissNow(bool animated, std::function<void()> completion);

    Ref<UIView> view_;
    ViewLoader viewLoader_;
    std::optional<std::string> nibName_;
    Ref<NSBundle> nibBundle_;
    bool loadingView_ = false;

    UIViewControllerAppearanceState appearance_ = UIViewControllerAppearanceState::Disappeared;
    bool appearanceAnimated_ = false;
    bool beingPresented_ = false;
    bool beingDismissed_ = false;
    bool movingToParent_ = false;
    bool movingFromParent_ = false;

    std::optional<std::string> title_;
    Ref<UINavigationItem> navigationItem_;
    std::vector<Ref<UIBarButtonItem>> toolbarItems_;
    bool editing_ = false;
    bool hidesBottomBarWhenPushed_ = false;

    Weak<UIViewController> parent_;
    std::vector<Ref<UIViewController>> children_;

    // Presentation: the host keeps what it presents; the presented one keeps the record of its
    // presentation (container, style, where the presenter's view lives).
    Ref<UIViewController> presented_;
    Weak<UIViewController> presenting_;
    std::shared_ptr<detail::UIViewControllerPresentation> presentation_;
    // Work waiting for a running presentation transition in which this controller takes part.
    std::vector<std::function<void()>> afterTransition_;
    bool inTransition_ = false;
    UIModalPresentationStyle modalPresentationStyle_ = UIModalPresentationFullScreen;
    UIModalTransitionStyle modalTransitionStyle_ = UIModalTransitionStyleCoverVertical;
    Weak<UIViewControllerTransitioningDelegate> transitioningDelegate_;
    bool definesPresentationContext_ = false;

    Ref<UILayoutSupport> topLayoutGuide_;
    Ref<UILayoutSupport> bottomLayoutGuide_;
    UIRectEdge edgesForExtendedLayout_ = UIRectEdgeAll;
    bool extendedLayoutIncludesOpaqueBars_ = false;
    bool automaticallyAdjustsScrollViewInsets_ = true;
    CGSize preferredContentSize_{0, 0};

    Ref<UIStoryboard> storyboard_;
    std::map<std::string, UIStoryboardSegueDeclaration> segues_;
};
