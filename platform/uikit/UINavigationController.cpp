#include "uikit/UINavigationController.h"

#include <algorithm>

#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIBars.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIScreen.h"

namespace {

using State = UIViewControllerAppearanceState;
constexpr double kPushPopDuration = 0.35;
constexpr CGFloat kBarHeight = 44;
// How far the view underneath moves while the new one slides over it.
constexpr CGFloat kParallax = 0.3;

UINavigationController::AutorotationHooks& hooks() {
    static UINavigationController::AutorotationHooks instance;
    return instance;
}

// The navigation controller's own view: it lays out the bars and the top controller's view.
class NavigationContainerView : public UIView {
  public:
    using UIView::UIView;
    std::string className() const override { return "UILayoutContainerView"; }
    void layoutSubviews() override {
        if (auto navigation = owner.lock()) navigation->layoutNavigationViews();
    }
    Weak<UINavigationController> owner;
};

CGFloat statusBarHeight() {
    return UIApplication::sharedApplication()->isStatusBarHidden() ? 0 : 20;
}

}  // namespace

UINavigationController::UINavigationController() {
    makeBars();
}

UINavigationController::UINavigationController(Ref<UIViewController> rootViewController)
    : pendingRoot_(std::move(rootViewController)) {
    makeBars();
}

void UINavigationController::didInit() {
    if (auto root = std::move(pendingRoot_)) setViewControllers({root}, false);
    pendingRoot_ = nullptr;
}

// ---- the stack --------------------------------------------------------------------------------

Ref<UIViewController> UINavigationController::topViewController() const {
    return stack_.empty() ? nullptr : stack_.back();
}

Ref<UIViewController> UINavigationController::visibleViewController() const {
    if (auto presented = presentedViewController()) return presented;
    return topViewController();
}

bool UINavigationController::isVisible() const {
    return isViewLoaded() && appearanceState() == State::Appeared;
}

void UINavigationController::loadView() {
    auto container = make<NavigationContainerView>(UIScreen::mainScreen()->bounds());
    container->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    container->owner = std::static_pointer_cast<UINavigationController>(shared_from_this());
    setView(container);
    container->addSubview(navigationBar_);
    container->addSubview(toolbar_);
    layoutBars();
    installTopView();
}

void UINavigationController::makeBars() {
    interactivePopGestureRecognizer_ = make<UIPanGestureRecognizer>();
    const CGFloat width = UIScreen::mainScreen()->bounds().size.width;
    navigationBar_ = make<UINavigationBar>(CGRectMake(0, statusBarHeight(), width, kBarHeight));
    navigationBar_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    toolbar_ = make<UIToolbar>(CGRectMake(0, 0, width, kBarHeight));
    toolbar_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleTopMargin);
    toolbar_->setHidden(true);
}

void UINavigationController::layoutBars() {
    if (!isViewLoaded()) {
        navigationBar_->setHidden(navigationBarHidden_);
        toolbar_->setHidden(toolbarHidden_);
        return;
    }
    const CGRect bounds = view()->bounds();
    navigationBar_->setFrame(CGRectMake(0, statusBarHeight(), bounds.size.width, kBarHeight));
    navigationBar_->setHidden(navigationBarHidden_);
    toolbar_->setFrame(CGRectMake(0, bounds.size.height - kBarHeight, bounds.size.width, kBarHeight));
    toolbar_->setHidden(toolbarHidden_);
}

void UINavigationController::updateBars(bool animated) {
    NS_ASSERT_MAIN_THREAD();
    std::vector<Ref<UINavigationItem>> items;
    for (auto& controller : stack_) {
        if (auto item = controller->navigationItem()) items.push_back(item);
    }
    navigationBar_->setItems(std::move(items), animated);
    Weak<UINavigationController> weakSelf =
        std::static_pointer_cast<UINavigationController>(shared_from_this());
    navigationBar_->setBackAction([weakSelf](UINavigationBar&) {
        if (auto me = weakSelf.lock()) me->popViewControllerAnimated(true);
    });
    auto top = topViewController();
    toolbar_->setItems(top ? top->toolbarItems() : std::vector<Ref<UIBarButtonItem>>{});
}

CGRect UINavigationController::contentFrameForViewController(const Ref<UIViewController>& controller) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    CGRect bounds = view()->bounds();
    CGFloat top = 0;
    CGFloat bottom = bounds.size.height;
    const UIRectEdge edges = controller ? controller->edgesForExtendedLayout() : UIRectEdgeAll;
    if (!navigationBarHidden_ && !(edges & UIRectEdgeTop)) top = statusBarHeight() + kBarHeight;
    if (!toolbarHidden_ && !(edges & UIRectEdgeBottom)) bottom -= kBarHeight;
    return CGRectMake(0, top, bounds.size.width, std::max<CGFloat>(0, bottom - top));
}

// Shows the top controller's view (and only it) in the container; no appearance calls.
void UINavigationController::installTopView() {
    if (!isViewLoaded()) return;
    auto top = topViewController();
    const Ref<UIView>& container = view();
    for (auto& controller : childViewControllers()) {
        if (controller == top || !controller->isViewLoaded()) continue;
        if (controller->view()->superviewPointer() == container.get())
            controller->view()->removeFromSuperview();
    }
    if (!top) return;
    const Ref<UIView>& topView = top->view();
    topView->setFrame(contentFrameForViewController(top));
    topView->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    if (topView->superviewPointer() != container.get()) container->insertSubviewAtIndex(topView, 0);
}

void UINavigationController::layoutNavigationViews() {
    NS_ASSERT_MAIN_THREAD();
    layoutBars();
    if (isTransitioning()) return;
    if (auto top = topViewController();
        top && top->isViewLoaded() && top->view()->superviewPointer() == view().get()) {
        top->view()->setFrame(contentFrameForViewController(top));
    }
}

void UINavigationController::finishRunningTransition() {
    if (!pendingFinish_) return;
    auto finish = std::move(pendingFinish_);
    pendingFinish_ = nullptr;
    ++transitionToken_;
    finish();
}

void UINavigationController::runTransition(bool animated, bool push, const Ref<UIViewController>& from,
                                           const Ref<UIViewController>& to, std::function<void()> finish) {
    pendingFinish_ = std::move(finish);
    const std::uint64_t token = ++transitionToken_;
    if (!animated || !from || !to) {
        finishRunningTransition();
        return;
    }
    const CGFloat width = view()->bounds().size.width;
    Ref<UIView> fromView = from->view();
    Ref<UIView> toView = to->view();
    const CGRect toFinal = contentFrameForViewController(to);
    const CGRect fromStart = fromView->frame();
    const CGRect fromEnd = CGRectOffset(fromStart, push ? -width * kParallax : width, 0);
    toView->setFrame(CGRectOffset(toFinal, push ? width : -width * kParallax, 0));
    Weak<UINavigationController> weakSelf =
        std::static_pointer_cast<UINavigationController>(shared_from_this());
    UIView::animateWithDuration(
        kPushPopDuration, 0, 0,
        [toView, fromView, toFinal, fromEnd] {
            toView->setFrame(toFinal);
            fromView->setFrame(fromEnd);
        },
        [weakSelf, token, fromView, fromStart](bool) {
            fromView->setFrame(fromStart);
            auto me = weakSelf.lock();
            if (me && me->transitionToken_ == token) me->finishRunningTransition();
        });
}

void UINavigationController::pushViewController(const Ref<UIViewController>& controller, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (!controller) return;
    if (isKindOf<UINavigationController>(controller)) {
        NSLog("Pushing a navigation controller is not supported");
        return;
    }
    if (std::find(stack_.begin(), stack_.end(), controller) != stack_.end()) {
        NSLog("Pushing the same view controller instance more than once is not supported (%@)",
              controller->className());
        return;
    }
    finishRunningTransition();
    auto me = std::static_pointer_cast<UINavigationController>(shared_from_this());
    auto old = topViewController();
    addChildViewController(controller);
    stack_.push_back(controller);
    updateBars(animated);
    if (!isVisible() || !old) {
        installTopView();
        if (isVisible()) appearNow(controller, false);
        controller->didMoveToParentViewController(me);
        return;
    }
    controller->loadViewIfNeeded();
    if (auto d = delegate()) d->navigationControllerWillShowViewController(me, controller, animated);
    controller->view()->setFrame(contentFrameForViewController(controller));
    controller->view()->setAutoresizingMask(UIViewAutoresizingFlexibleWidth |
                                            UIViewAutoresizingFlexibleHeight);
    view()->insertSubviewAbove(controller->view(), old->view());
    controller->setMovingToParentInternal(true);
    old->beginAppearanceTransition(false, animated);
    controller->beginAppearanceTransition(true, animated);
    runTransition(animated, true, old, controller, [me, old, controller, animated] {
        if (old->isViewLoaded()) old->view()->removeFromSuperview();
        old->endAppearanceTransition();
        controller->endAppearanceTransition();
        controller->setMovingToParentInternal(false);
        controller->didMoveToParentViewController(me);
        if (auto d = me->delegate()) d->navigationControllerDidShowViewController(me, controller, animated);
    });
}

Ref<UIViewController> UINavigationController::popViewControllerAnimated(bool animated) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    finishRunningTransition();
    if (stack_.size() < 2) return nullptr;
    auto popped = popToIndex(stack_.size() - 2, animated);
    return popped.empty() ? nullptr : popped.back();
}

std::vector<Ref<UIViewController>> UINavigationController::popToRootViewControllerAnimated(bool animated) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    finishRunningTransition();
    if (stack_.empty()) return {};
    return popToIndex(0, animated);
}

std::vector<Ref<UIViewController>>
UINavigationController::popToViewController(const Ref<UIViewController>& controller, bool animated) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    finishRunningTransition();
    auto it = std::find(stack_.begin(), stack_.end(), controller);
    if (!controller || it == stack_.end()) {
        NSLog("Tried to pop to a view controller that is not in the navigation stack");
        return {};
    }
    return popToIndex(static_cast<std::size_t>(it - stack_.begin()), animated);
}

std::vector<Ref<UIViewController>> UINavigationController::popToIndex(std::size_t index, bool animated) {
    if (index + 1 >= stack_.size()) return {};
    auto me = std::static_pointer_cast<UINavigationController>(shared_from_this());
    std::vector<Ref<UIViewController>> popped(stack_.begin() + static_cast<long>(index) + 1, stack_.end());
    auto top = popped.back();
    auto newTop = stack_[index];
    stack_.resize(index + 1);
    updateBars(animated);
    for (auto& c : popped) c->willMoveToParentViewController(nullptr);
    auto removeAll = [popped] {
        for (auto& c : popped) {
            if (c->isViewLoaded()) c->view()->removeFromSuperview();
            c->removeFromParentViewController();
        }
    };
    if (!isVisible()) {
        removeAll();
        installTopView();
        return popped;
    }
    if (auto d = delegate()) d->navigationControllerWillShowViewController(me, newTop, animated);
    const Ref<UIView>& newView = newTop->view();
    newView->setFrame(contentFrameForViewController(newTop));
    newView->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    if (top->isViewLoaded() && top->view()->superviewPointer() == view().get()) {
        view()->insertSubviewBelow(newView, top->view());
    } else {
        view()->insertSubviewAtIndex(newView, 0);
    }
    top->setMovingFromParentInternal(true);
    top->beginAppearanceTransition(false, animated);
    newTop->beginAppearanceTransition(true, animated);
    runTransition(animated, false, top, newTop, [me, top, newTop, animated, removeAll] {
        if (top->isViewLoaded()) top->view()->removeFromSuperview();
        top->endAppearanceTransition();
        newTop->endAppearanceTransition();
        removeAll();
        top->setMovingFromParentInternal(false);
        if (auto d = me->delegate()) d->navigationControllerDidShowViewController(me, newTop, animated);
    });
    return popped;
}

void UINavigationController::setViewControllers(const std::vector<Ref<UIViewController>>& controllers,
                                                bool animated) {
    NS_ASSERT_MAIN_THREAD();
    finishRunningTransition();
    std::vector<Ref<UIViewController>> fresh;
    for (auto& c : controllers) {
        if (!c || isKindOf<UINavigationController>(c)) continue;
        if (std::find(fresh.begin(), fresh.end(), c) != fresh.end()) continue;
        fresh.push_back(c);
    }
    auto me = std::static_pointer_cast<UINavigationController>(shared_from_this());
    auto oldTop = topViewController();
    auto newTop = fresh.empty() ? nullptr : fresh.back();
    std::vector<Ref<UIViewController>> leaving;
    for (auto& c : stack_) {
        if (std::find(fresh.begin(), fresh.end(), c) == fresh.end()) leaving.push_back(c);
    }
    std::vector<Ref<UIViewController>> arriving;
    for (auto& c : fresh) {
        if (std::find(stack_.begin(), stack_.end(), c) == stack_.end()) arriving.push_back(c);
    }
    const bool wasInStack = newTop && std::find(stack_.begin(), stack_.end(), newTop) != stack_.end();
    for (auto& c : leaving) c->willMoveToParentViewController(nullptr);
    for (auto& c : arriving) addChildViewController(c);
    stack_ = fresh;
    updateBars(animated);
    // Children keep the stack's order.
    auto finishMembership = [me, leaving, arriving] {
        for (auto& c : leaving) {
            if (c->isViewLoaded() && c->view()->superviewPointer() == me->view().get())
                c->view()->removeFromSuperview();
            c->removeFromParentViewController();
        }
        for (auto& c : arriving) c->didMoveToParentViewController(me);
    };
    if (!isVisible() || oldTop == newTop || !oldTop || !newTop) {
        if (isVisible() && oldTop != newTop) disappearNow(oldTop);
        installTopView();
        if (isVisible() && newTop) appearNow(newTop);
        finishMembership();
        return;
    }
    if (auto d = delegate()) d->navigationControllerWillShowViewController(me, newTop, animated);
    const Ref<UIView>& newView = newTop->view();
    newView->setFrame(contentFrameForViewController(newTop));
    newView->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    if (wasInStack) {
        view()->insertSubviewBelow(newView, oldTop->view());
    } else {
        view()->insertSubviewAbove(newView, oldTop->view());
    }
    oldTop->beginAppearanceTransition(false, animated);
    newTop->beginAppearanceTransition(true, animated);
    runTransition(animated, !wasInStack, oldTop, newTop, [me, oldTop, newTop, animated, finishMembership] {
        if (oldTop->isViewLoaded() && oldTop != me->topViewController())
            oldTop->view()->removeFromSuperview();
        oldTop->endAppearanceTransition();
        newTop->endAppearanceTransition();
        finishMembership();
        if (auto d = me->delegate()) d->navigationControllerDidShowViewController(me, newTop, animated);
    });
}

// ---- bars -------------------------------------------------------------------------------------

void UINavigationController::setNavigationBarHidden(bool hidden, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (hidden == navigationBarHidden_) return;
    navigationBarHidden_ = hidden;
    auto relayout = [this] {
        if (!isViewLoaded()) return;
        layoutNavigationViews();
    };
    if (animated && isViewLoaded()) {
        UIView::animateWithDuration(UINavigationControllerHideShowBarDuration, relayout);
    } else {
        relayout();
    }
    if (auto top = topViewController(); top && top->isViewLoaded()) top->view()->setNeedsLayout();
}

void UINavigationController::setToolbarHidden(bool hidden, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (hidden == toolbarHidden_) return;
    toolbarHidden_ = hidden;
    if (!isViewLoaded()) return;
    if (animated) {
        UIView::animateWithDuration(UINavigationControllerHideShowBarDuration,
                                    [this] { layoutNavigationViews(); });
    } else {
        layoutNavigationViews();
    }
}

// ---- rotation and the status bar --------------------------------------------------------------

void UINavigationController::setAutorotationHooks(AutorotationHooks newHooks) {
    hooks() = std::move(newHooks);
}

bool UINavigationController::shouldAutorotate() const {
    if (hooks().shouldAutorotate) return hooks().shouldAutorotate(*this);
    return UIViewController::shouldAutorotate();
}

UIInterfaceOrientationMask UINavigationController::supportedInterfaceOrientations() const {
    if (hooks().supportedInterfaceOrientations) return hooks().supportedInterfaceOrientations(*this);
    return UIViewController::supportedInterfaceOrientations();
}

UIInterfaceOrientation UINavigationController::preferredInterfaceOrientationForPresentation() const {
    if (hooks().preferredInterfaceOrientationForPresentation) {
        return hooks().preferredInterfaceOrientationForPresentation(*this);
    }
    return UIViewController::preferredInterfaceOrientationForPresentation();
}

bool UINavigationController::shouldAutorotateToInterfaceOrientation(
    UIInterfaceOrientation orientation) const {
    if (hooks().shouldAutorotateToInterfaceOrientation) {
        return hooks().shouldAutorotateToInterfaceOrientation(*this, orientation);
    }
    return UIViewController::shouldAutorotateToInterfaceOrientation(orientation);
}

Ref<UIViewController> UINavigationController::childViewControllerForStatusBarStyle() const {
    return navigationBarHidden_ ? topViewController() : nullptr;
}

Ref<UIViewController> UINavigationController::childViewControllerForStatusBarHidden() const {
    return topViewController();
}
