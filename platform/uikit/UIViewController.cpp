#include "uikit/UIViewController.h"

#include <algorithm>

#include "dispatch/Dispatch.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSNotificationCenter.h"
#include "uikit/UIBars.h"
#include "uikit/UIDevice.h"
#include "uikit/UILayoutSupport.h"
#include "uikit/UINavigationController.h"
#include "uikit/UINib.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UIWindow.h"

namespace detail {
struct UIViewControllerAccess {
    static void refreshLayoutGuides(UIViewController& controller) { controller.refreshLayoutGuides(); }
};
}  // namespace detail

namespace {

using State = UIViewControllerAppearanceState;

// Live controllers in creation order (each takes itself out in its destructor).
std::vector<UIViewController*>& liveControllers() {
    static std::vector<UIViewController*> controllers;
    return controllers;
}

Ref<UIViewController> refOf(UIViewController* controller) {
    return std::static_pointer_cast<UIViewController>(controller->weak_from_this().lock());
}

// Puts a window's root controller's view into the window and makes the chain of controllers that
// show in it appear.
void showRootOfWindow(UIWindow& window) {
    auto root = window.rootViewController();
    if (!root) return;
    if (!root->presentedViewController()) {
        const Ref<UIView>& view = root->view();
        if (view->superviewPointer() != &window) {
            view->setFrame(window.bounds());
            view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
            window.insertSubviewAtIndex(view, 0);
        }
    }
    for (auto controller = root; controller; controller = controller->presentedViewController()) {
        if (!controller->isViewLoaded() || controller->view()->windowPointer() != &window) continue;
        controller->beginAppearanceTransition(true, false);
        controller->view()->layoutIfNeeded();
        controller->endAppearanceTransition();
    }
    if (window.isKeyWindow() || !UIApplication::sharedApplication()->keyWindow()) {
        root->setNeedsStatusBarAppearanceUpdate();
    }
}

void hideControllersOfWindow(UIWindow& window) {
    std::vector<Ref<UIViewController>> chain;
    for (auto c = window.rootViewController(); c; c = c->presentedViewController()) {
        chain.push_back(c);
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) UIViewController::disappearNow(*it);
}

void rootViewControllerChanged(UIWindow& window, const Ref<UIViewController>& oldRoot,
                               const Ref<UIViewController>& newRoot) {
    if (oldRoot) {
        const bool shown =
            oldRoot->appearanceState() == State::Appeared || oldRoot->appearanceState() == State::Appearing;
        if (shown) oldRoot->beginAppearanceTransition(false, false);
        if (oldRoot->isViewLoaded() && oldRoot->view()->superviewPointer() == &window) {
            oldRoot->view()->removeFromSuperview();
        }
        if (shown) oldRoot->endAppearanceTransition();
    }
    if (newRoot && !window.isHidden()) showRootOfWindow(window);
}

void installControllerHooks() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    UIWindow::setRootViewControllerHook(rootViewControllerChanged);
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserverForName(UIWindowDidBecomeVisibleNotification, nullptr, nullptr,
                               [](const Ref<NSNotification>& note) {
                                   if (auto window = asKind<UIWindow>(note->object()))
                                       showRootOfWindow(*window);
                               });
    center->addObserverForName(UIWindowDidBecomeHiddenNotification, nullptr, nullptr,
                               [](const Ref<NSNotification>& note) {
                                   if (auto window = asKind<UIWindow>(note->object())) {
                                       hideControllersOfWindow(*window);
                                   }
                               });
    center->addObserverForName(UIApplicationDidReceiveMemoryWarningNotification, nullptr, nullptr,
                               [](const Ref<NSNotification>&) {
                                   std::vector<Ref<UIViewController>> controllers;
                                   for (UIViewController* c : liveControllers()) {
                                       if (auto ref = refOf(c)) controllers.push_back(ref);
                                   }
                                   for (auto& c : controllers) c->didReceiveMemoryWarning();
                               });
    UIView::addLayoutEngineHook([](UIView& view) {
        auto controller = std::dynamic_pointer_cast<UIViewController>(view.viewControllerForResponderChain());
        if (!controller || !controller->isViewLoaded() || controller->view().get() != &view) return;
        detail::UIViewControllerAccess::refreshLayoutGuides(*controller);
        controller->viewWillLayoutSubviews();
        controller->viewDidLayoutSubviews();
    });
}

UIInterfaceOrientationMask maskOf(UIInterfaceOrientation orientation) {
    return UIInterfaceOrientationMask(1) << orientation;
}

UIInterfaceOrientation firstSupported(UIInterfaceOrientationMask mask) {
    for (auto o : {UIInterfaceOrientationPortrait, UIInterfaceOrientationLandscapeLeft,
                   UIInterfaceOrientationLandscapeRight, UIInterfaceOrientationPortraitUpsideDown}) {
        if (mask & maskOf(o)) return o;
    }
    return UIInterfaceOrientationPortrait;
}

bool isLandscape(UIInterfaceOrientation orientation) {
    return orientation == UIInterfaceOrientationLandscapeLeft ||
           orientation == UIInterfaceOrientationLandscapeRight;
}

// Every controller showing in visible windows: roots, their presentation chains and appeared
// children, parents before children.
void collectShowing(const Ref<UIViewController>& controller, std::vector<Ref<UIViewController>>& out) {
    if (!controller) return;
    out.push_back(controller);
    for (auto& child : controller->childViewControllers()) {
        if (child->appearanceState() != State::Disappeared) collectShowing(child, out);
    }
}

}  // namespace

// ---- construction -----------------------------------------------------------------------------

UIViewController::UIViewController() {
    installControllerHooks();
    liveControllers().push_back(this);
}

UIViewController::UIViewController(std::optional<std::string> nibName, Ref<NSBundle> nibBundle)
    : UIViewController() {
    nibName_ = std::move(nibName);
    nibBundle_ = std::move(nibBundle);
}

UIViewController::~UIViewController() {
    auto& all = liveControllers();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

// ---- the view ---------------------------------------------------------------------------------

const Ref<UIView>& UIViewController::view() {
    if (!view_ && !loadingView_) {
        loadingView_ = true;
        loadView();
        loadingView_ = false;
        if (!view_) {
            NSLog("%@ did not make a view in loadView; a plain view stands in", className());
            setViewInternal(make<UIView>(UIScreen::mainScreen()->bounds()));
        }
        viewDidLoad();
    }
    return view_;
}

void UIViewController::loadViewIfNeeded() {
    NS_ASSERT_MAIN_THREAD();
    view();
}

void UIViewController::setView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    setViewInternal(view);
}

void UIViewController::setViewInternal(const Ref<UIView>& view) {
    if (view == view_) return;
    if (view_ && view_->viewControllerForResponderChain().get() == this) {
        view_->setViewControllerForResponderChain({});
    }
    view_ = view;
    if (view_) {
        view_->setViewControllerForResponderChain(std::static_pointer_cast<UIResponder>(shared_from_this()));
    }
    if (topLayoutGuide_) topLayoutGuide_->setOwnerView(view_);
    if (bottomLayoutGuide_) bottomLayoutGuide_->setOwnerView(view_);
}

void UIViewController::loadView() {
    if (viewLoader_) {
        auto loader = viewLoader_;
        if (auto view = loader(*this)) {
            setViewInternal(view);
            return;
        }
        if (view_) return;
    }
    const std::string nibName = nibName_ ? *nibName_ : className();
    if (auto nib = UINib::nibWithNibName(nibName, nibBundle_)) {
        auto objects = nib->instantiateWithOwner(self(), Dictionary());
        if (!view_) {
            for (auto& object : objects) {
                if (auto view = asKind<UIView>(object)) {
                    setViewInternal(view);
                    break;
                }
            }
        }
        if (view_) return;
    } else if (nibName_) {
        NSLog("Could not load the nib \"%@\" for %@; a plain view stands in", *nibName_, className());
    }
    auto view = make<UIView>(UIScreen::mainScreen()->bounds());
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    setViewInternal(view);
}

// ---- appearance -------------------------------------------------------------------------------

void UIViewController::beginAppearanceTransition(bool isAppearing, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (isAppearing) {
        if (appearance_ == State::Appearing || appearance_ == State::Appeared) return;
        loadViewIfNeeded();
        appearance_ = State::Appearing;
        appearanceAnimated_ = animated;
        refreshLayoutGuides();
        viewWillAppear(animated);
    } else {
        if (appearance_ == State::Disappearing || appearance_ == State::Disappeared) return;
        appearance_ = State::Disappearing;
        appearanceAnimated_ = animated;
        viewWillDisappear(animated);
    }
    if (!shouldAutomaticallyForwardAppearanceMethods()) return;
    for (auto& child : std::vector<Ref<UIViewController>>(children_)) {
        if (child->parent_.lock().get() != this) continue;
        if (isAppearing) {
            if (child->isViewLoaded() && view_ && child->view_->isDescendantOfView(view_)) {
                child->beginAppearanceTransition(true, animated);
            }
        } else {
            child->beginAppearanceTransition(false, animated);
        }
    }
}

void UIViewController::endAppearanceTransition() {
    NS_ASSERT_MAIN_THREAD();
    State from = appearance_;
    if (from == State::Appearing) {
        appearance_ = State::Appeared;
        viewDidAppear(appearanceAnimated_);
    } else if (from == State::Disappearing) {
        appearance_ = State::Disappeared;
        viewDidDisappear(appearanceAnimated_);
    } else {
        return;
    }
    if (!shouldAutomaticallyForwardAppearanceMethods()) return;
    for (auto& child : std::vector<Ref<UIViewController>>(children_)) {
        if (child->parent_.lock().get() != this) continue;
        if (child->appearance_ == from) child->endAppearanceTransition();
    }
}

void UIViewController::appearNow(const Ref<UIViewController>& controller, bool animated) {
    if (!controller) return;
    controller->beginAppearanceTransition(true, animated);
    controller->endAppearanceTransition();
}

void UIViewController::disappearNow(const Ref<UIViewController>& controller, bool animated) {
    if (!controller) return;
    if (controller->appearance_ == State::Disappeared) return;
    controller->beginAppearanceTransition(false, animated);
    controller->endAppearanceTransition();
}

void UIViewController::forwardAppearance(const Ref<UIViewController>& child, bool begin, bool isAppearing,
                                         bool animated) {
    if (!child) return;
    if (begin) {
        child->beginAppearanceTransition(isAppearing, animated);
    } else {
        child->endAppearanceTransition();
    }
}

// ---- title and items --------------------------------------------------------------------------

void UIViewController::setTitle(const std::optional<std::string>& title) {
    NS_ASSERT_MAIN_THREAD();
    title_ = title;
    if (navigationItem_) navigationItem_->setTitle(title);
}

Ref<UINavigationItem> UIViewController::navigationItem() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!navigationItem_) navigationItem_ = make<UINavigationItem>(title_);
    return navigationItem_;
}

void UIViewController::setToolbarItems(std::vector<Ref<UIBarButtonItem>> items, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    toolbarItems_ = std::move(items);
    if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(parent_.lock())) {
        if (navigation->topViewController().get() == this) navigation->updateBars(animated);
    }
}

Ref<UINavigationController> UIViewController::navigationController() const {
    for (auto parent = parent_.lock(); parent; parent = parent->parent_.lock()) {
        if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(parent)) return navigation;
    }
    return nullptr;
}

// ---- containment ------------------------------------------------------------------------------

void UIViewController::addChildViewController(const Ref<UIViewController>& child) {
    NS_ASSERT_MAIN_THREAD();
    if (!child) return;
    for (const UIViewController* c = this; c; c = c->parent_.lock().get()) {
        if (c == child.get()) {
            NSLog("Refusing to add %@ as a child of itself or of its own descendant", child->className());
            return;
        }
    }
    if (child->parent_.lock().get() == this) return;
    if (child->parent_.lock()) child->removeFromParentViewController();
    child->willMoveToParentViewController(std::static_pointer_cast<UIViewController>(shared_from_this()));
    children_.push_back(child);
    child->parent_ = std::static_pointer_cast<UIViewController>(shared_from_this());
}

void UIViewController::removeFromParentViewController() {
    NS_ASSERT_MAIN_THREAD();
    auto parent = parent_.lock();
    if (!parent) return;
    auto self = std::static_pointer_cast<UIViewController>(shared_from_this());
    auto& siblings = parent->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), self), siblings.end());
    parent_.reset();
    if (appearance_ != State::Disappeared && !(view_ && view_->windowPointer())) disappearNow(self);
    didMoveToParentViewController(nullptr);
}

void UIViewController::didMoveToParentViewController(const Ref<UIViewController>& parent) {
    NS_ASSERT_MAIN_THREAD();
    if (!parent || appearance_ != State::Disappeared || !view_ || !parent->view_) return;
    if (parent->appearance_ != State::Appeared) return;
    if (!view_->windowPointer() || !view_->isDescendantOfView(parent->view_)) return;
    appearNow(std::static_pointer_cast<UIViewController>(shared_from_this()));
}

void UIViewController::transitionFromViewController(const Ref<UIViewController>& fromViewController,
                                                    const Ref<UIViewController>& toViewController,
                                                    double duration, UIViewAnimationOptions options,
                                                    std::function<void()> animations,
                                                    UIViewAnimationCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    if (!fromViewController || !toViewController || fromViewController == toViewController ||
        fromViewController->parent_.lock().get() != this || toViewController->parent_.lock().get() != this) {
        NSLog("transitionFromViewController needs two different children of %@", className());
        return;
    }
    const Ref<UIView>& fromView = fromViewController->view();
    const Ref<UIView>& toView = toViewController->view();
    if (auto container = fromView->superview()) {
        container->insertSubviewAbove(toView, fromView);
    } else {
        NSLog("transitionFromViewController: the view of %@ is in no superview",
              fromViewController->className());
    }
    const bool visible = appearance_ == State::Appeared || appearance_ == State::Appearing;
    const bool animated = duration > 0;
    if (visible) {
        fromViewController->beginAppearanceTransition(false, animated);
        toViewController->beginAppearanceTransition(true, animated);
    }
    Ref<UIViewController> from = fromViewController;
    Ref<UIViewController> to = toViewController;
    UIView::animateWithDuration(
        duration, 0, options, animations ? std::move(animations) : [] {},
        [from, to, visible, completion = std::move(completion)](bool finished) {
            if (from->isViewLoaded()) from->view()->removeFromSuperview();
            if (visible) {
                from->endAppearanceTransition();
                to->endAppearanceTransition();
            }
            if (completion) completion(finished);
        });
}

// ---- orientation and status bar ---------------------------------------------------------------

UIInterfaceOrientationMask UIViewController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskAllButUpsideDown;
}

UIInterfaceOrientation UIViewController::preferredInterfaceOrientationForPresentation() const {
    auto current = UIApplication::sharedApplication()->statusBarOrientation();
    auto mask = supportedInterfaceOrientations();
    if (mask & maskOf(current)) return current;
    return firstSupported(mask);
}

bool UIViewController::shouldAutorotateToInterfaceOrientation(UIInterfaceOrientation orientation) const {
    return (supportedInterfaceOrientations() & maskOf(orientation)) != 0;
}

UIInterfaceOrientation UIViewController::interfaceOrientation() const {
    return UIApplication::sharedApplication()->statusBarOrientation();
}

Ref<UIViewController> UIViewController::decidingControllerForWindow(const Ref<UIWindow>& window) {
    if (!window) return nullptr;
    auto controller = window->rootViewController();
    while (controller && controller->presented_) controller = controller->presented_;
    return controller;
}

void UIViewController::setNeedsStatusBarAppearanceUpdate() {
    NS_ASSERT_MAIN_THREAD();
    auto app = UIApplication::sharedApplication();
    app->setNeedsStatusBarAppearanceUpdate();
    Ref<UIWindow> window = view_ ? view_->window() : nullptr;
    if (!window) window = app->keyWindow();
    auto decider = decidingControllerForWindow(window);
    if (!decider) return;
    auto styleController = decider;
    for (int guard = 0; guard < 32; ++guard) {
        auto next = styleController->childViewControllerForStatusBarStyle();
        if (!next || next == styleController) break;
        styleController = next;
    }
    auto hiddenController = decider;
    for (int guard = 0; guard < 32; ++guard) {
        auto next = hiddenController->childViewControllerForStatusBarHidden();
        if (!next || next == hiddenController) break;
        hiddenController = next;
    }
    app->setStatusBarStyle(styleController->preferredStatusBarStyle());
    if (app->isStatusBarHidden() != hiddenController->prefersStatusBarHidden()) {
        app->setStatusBarHidden(hiddenController->prefersStatusBarHidden(),
                                hiddenController->preferredStatusBarUpdateAnimation());
    }
}

void UIViewController::rotateInterface(UIInterfaceOrientation orientation, double duration) {
    auto app = UIApplication::sharedApplication();
    const UIInterfaceOrientation old = app->statusBarOrientation();
    if (orientation == old || orientation == UIInterfaceOrientationUnknown) return;

    std::vector<Ref<UIViewController>> controllers;
    std::vector<Ref<UIWindow>> windows = app->windows();
    for (auto& window : windows) {
        if (window->isHidden()) continue;
        for (auto c = window->rootViewController(); c; c = c->presented_) collectShowing(c, controllers);
    }
    for (auto& c : controllers) c->willRotateToInterfaceOrientation(orientation, duration);

    auto screen = UIScreen::mainScreen();
    const CGRect oldBounds = screen->bounds();
    const CGFloat shortSide = std::min(oldBounds.size.width, oldBounds.size.height);
    const CGFloat longSide = std::max(oldBounds.size.width, oldBounds.size.height);
    const CGSize size = isLandscape(orientation) ? CGSize{longSide, shortSide} : CGSize{shortSide, longSide};
    screen->setBoundsSize(size);
    app->setStatusBarOrientation(orientation);
    for (auto& window : UIWindow::allWindows()) {
        if (CGRectEqualToRect(window->frame(), oldBounds)) window->setFrame(screen->bounds());
    }

    auto coordinator = make<UIViewControllerTransitionCoordinator>(duration);
    for (auto& c : controllers) {
        c->viewWillTransitionToSize(size, coordinator);
        c->willAnimateRotationToInterfaceOrientation(orientation, duration);
    }
    coordinator->run();
    for (auto& c : controllers) c->didRotateFromInterfaceOrientation(old);
}

void UIViewController::attemptRotationToDeviceOrientation() {
    const long device = UIDevice::currentDevice()->orientation();
    if (device < UIInterfaceOrientationPortrait || device > UIInterfaceOrientationLandscapeLeft) return;
    // The device's landscape-left is the interface's landscape-right and back: the numbers match.
    const auto orientation = static_cast<UIInterfaceOrientation>(device);
    auto app = UIApplication::sharedApplication();
    if (orientation == app->statusBarOrientation()) return;
    Ref<UIWindow> window = app->keyWindow();
    if (!window) {
        for (auto& w : app->windows()) {
            if (!w->isHidden()) window = w;
        }
    }
    auto decider = decidingControllerForWindow(window);
    if (!decider || !decider->shouldAutorotate()) return;
    if (!(decider->supportedInterfaceOrientations() & maskOf(orientation))) return;
    rotateInterface(orientation, app->statusBarOrientationAnimationDuration());
}

bool UIViewControllerTransitionCoordinator::animateAlongsideTransition(Block animation, Block completion) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (animation) animations_.push_back(std::move(animation));
    if (completion) completions_.push_back(std::move(completion));
    return true;
}

void UIViewControllerTransitionCoordinator::run() {
    NS_ASSERT_MAIN_THREAD();
    auto me = std::static_pointer_cast<UIViewControllerTransitionCoordinator>(shared_from_this());
    auto animations = std::move(animations_);
    auto completions = std::move(completions_);
    UIView::animateWithDuration(
        duration_, 0, 0,
        [&] {
            for (auto& a : animations) a(me);
        },
        [me, completions](bool) {
            for (auto& c : completions) c(me);
        });
}

// ---- layout guides ----------------------------------------------------------------------------

CGFloat UIViewController::topLayoutGuideLength() const {
    auto app = UIApplication::sharedApplication();
    CGFloat length = app->isStatusBarHidden() ? 0 : 20;
    auto parent = parent_.lock();
    if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(parent)) {
        if (!navigation->isNavigationBarHidden()) {
            if (!(edgesForExtendedLayout_ & UIRectEdgeTop)) return 0;
            length += 44;
        }
    } else if (parent) {
        return 0;  // a child's view lies inside its parent's content, under no bar
    }
    return length;
}

CGFloat UIViewController::bottomLayoutGuideLength() const {
    auto navigation = std::dynamic_pointer_cast<UINavigationController>(parent_.lock());
    if (navigation && !navigation->isToolbarHidden() && (edgesForExtendedLayout_ & UIRectEdgeBottom))
        return 44;
    return 0;
}

void UIViewController::refreshLayoutGuides() {
    if (topLayoutGuide_ && topLayoutGuide_->length() != topLayoutGuideLength()) {
        topLayoutGuide_->setLength(topLayoutGuideLength());
    }
    if (bottomLayoutGuide_ && bottomLayoutGuide_->length() != bottomLayoutGuideLength()) {
        bottomLayoutGuide_->setLength(bottomLayoutGuideLength());
    }
}

Ref<UILayoutSupport> UIViewController::topLayoutGuide() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!topLayoutGuide_) {
        topLayoutGuide_ = make<UILayoutSupport>(UILayoutSupport::Edge::Top, view(), topLayoutGuideLength());
    }
    refreshLayoutGuides();
    return topLayoutGuide_;
}

Ref<UILayoutSupport> UIViewController::bottomLayoutGuide() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!bottomLayoutGuide_) {
        bottomLayoutGuide_ =
            make<UILayoutSupport>(UILayoutSupport::Edge::Bottom, view(), bottomLayoutGuideLength());
    }
    refreshLayoutGuides();
    return bottomLayoutGuide_;
}

// ---- segues -----------------------------------------------------------------------------------

void UIViewController::declareSegue(UIStoryboardSegueDeclaration declaration) {
    NS_ASSERT_MAIN_THREAD();
    std::string identifier = declaration.identifier;
    segues_[identifier] = std::move(declaration);
}

void UIViewController::declareSegue(const std::string& identifier, UIStoryboardSegueKind kind,
                                    const std::string& destinationIdentifier,
                                    const std::optional<std::string>& destinationStoryboard) {
    NS_ASSERT_MAIN_THREAD();
    UIStoryboardSegueDeclaration declaration;
    declaration.identifier = identifier;
    declaration.kind = kind;
    declaration.destinationIdentifier = destinationIdentifier;
    declaration.destinationStoryboard = destinationStoryboard;
    declareSegue(std::move(declaration));
}

const UIStoryboardSegueDeclaration* UIViewController::segueDeclaration(const std::string& identifier) const {
    auto it = segues_.find(identifier);
    return it == segues_.end() ? nullptr : &it->second;
}

void UIViewController::performSegueWithIdentifier(const std::string& identifier,
                                                  const Ref<NSObject>& sender) {
    NS_ASSERT_MAIN_THREAD();
    const UIStoryboardSegueDeclaration* found = segueDeclaration(identifier);
    if (!found) {
        NSLog("%@ has no segue with identifier '%@'", className(), identifier);
        return;
    }
    UIStoryboardSegueDeclaration declaration = *found;  // the controller may declare again meanwhile
    Ref<UIViewController> destination;
    if (declaration.destinationFactory) {
        destination = declaration.destinationFactory();
    } else {
        Ref<UIStoryboard> board = storyboard_;
        if (declaration.destinationStoryboard) {
            board = UIStoryboard::storyboardWithName(*declaration.destinationStoryboard, nullptr);
        }
        if (board)
            destination = board->instantiateViewControllerWithIdentifier(declaration.destinationIdentifier);
    }
    if (!destination) {
        NSLog("The destination of segue '%@' of %@ could not be made", identifier, className());
        return;
    }
    auto source = std::static_pointer_cast<UIViewController>(shared_from_this());
    Ref<UIStoryboardSegue> segue;
    if (declaration.kind == UIStoryboardSegueKind::Custom && declaration.segueFactory) {
        segue = declaration.segueFactory(identifier, source, destination);
    }
    if (!segue) segue = make<UIStoryboardSegue>(identifier, source, destination);
    segue->setKind(declaration.kind);
    segue->setAnimated(declaration.animated);
    prepareForSegue(segue, sender);
    segue->perform();
}

// ---- responder chain --------------------------------------------------------------------------

Ref<UIResponder> UIViewController::nextResponder() const {
    if (view_) {
        if (auto superview = view_->superview()) {
            if (!presenting_.lock() || superview->viewControllerForResponderChain()) return superview;
        }
    }
    if (auto presenting = presenting_.lock()) return presenting;
    if (view_) {
        if (auto superview = view_->superview()) return superview;
    }
    return parent_.lock();
}

UIWindow* UIViewController::windowForFirstResponder() const {
    if (view_) return view_->windowPointer();
    return UIResponder::windowForFirstResponder();
}
