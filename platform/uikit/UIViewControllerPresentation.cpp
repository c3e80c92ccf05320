// Modal presentation and dismissal of view controllers (see UIViewController.h for the rules).

#include <algorithm>

#include "dispatch/Dispatch.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIDevice.h"
#include "uikit/UIScreen.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"

namespace detail {

// The record a presented controller keeps of its presentation.
struct UIViewControllerPresentation {
    Ref<UIView> container;
    UIModalPresentationStyle style = UIModalPresentationFullScreen;
    bool fullScreen = true;
    Weak<UIWindow> window;
    // Where the presenter's view lives while it shows, to put it back there on dismissal.
    Weak<UIView> presenterHome;
    std::size_t presenterIndex = 0;
    bool presenterViewRemoved = false;
};

}  // namespace detail

namespace {

using State = UIViewControllerAppearanceState;
constexpr double kDefaultTransitionDuration = 0.5;

// The view that covers the window while a controller is presented.
class PresentationContainerView : public UIView {
  public:
    using UIView::UIView;
    std::string className() const override { return "UITransitionView"; }
};

bool takesPresenterAway(UIModalPresentationStyle style) {
    switch (style) {
        case UIModalPresentationCustom:
        case UIModalPresentationOverFullScreen:
        case UIModalPresentationOverCurrentContext:
            return false;
        default:
            return true;
    }
}

UIInterfaceOrientationMask maskOf(UIInterfaceOrientation orientation) {
    return UIInterfaceOrientationMask(1) << orientation;
}

class TransitionContext : public NSObject, public UIViewControllerContextTransitioning {
  public:
    std::string className() const override { return "_UIViewControllerTransitionContext"; }

    Ref<UIView> containerView() const override { return container; }
    bool isAnimated() const override { return animated; }
    bool transitionWasCancelled() const override { return cancelled; }
    UIModalPresentationStyle presentationStyle() const override { return style; }
    void completeTransition(bool didComplete) override {
        if (completed) return;
        completed = true;
        cancelled = !didComplete;
        auto finish = std::move(onComplete);
        onComplete = nullptr;
        if (finish) finish(didComplete);
    }
    Ref<UIViewController> viewControllerForKey(const std::string& key) const override {
        if (key == UITransitionContextFromViewControllerKey) return from;
        if (key == UITransitionContextToViewControllerKey) return to;
        return nullptr;
    }
    Ref<UIView> viewForKey(const std::string& key) const override {
        if (key == UITransitionContextFromViewKey) return fromView;
        if (key == UITransitionContextToViewKey) return toView;
        return nullptr;
    }
    CGRect initialFrameForViewController(const Ref<UIViewController>& controller) const override {
        if (controller && controller == from) return fromInitial;
        if (controller && controller == to) return toInitial;
        return CGRectZero;
    }
    CGRect finalFrameForViewController(const Ref<UIViewController>& controller) const override {
        if (controller && controller == from) return fromFinal;
        if (controller && controller == to) return toFinal;
        return CGRectZero;
    }

    Ref<UIView> container;
    Ref<UIViewController> from;
    Ref<UIViewController> to;
    Ref<UIView> fromView;
    Ref<UIView> toView;
    CGRect fromInitial = CGRectZero;
    CGRect fromFinal = CGRectZero;
    CGRect toInitial = CGRectZero;
    CGRect toFinal = CGRectZero;
    bool animated = true;
    UIModalPresentationStyle style = UIModalPresentationFullScreen;
    bool completed = false;
    bool cancelled = false;
    std::function<void(bool)> onComplete;
};

std::size_t indexInSuperview(const Ref<UIView>& view) {
    auto superview = view->superview();
    if (!superview) return 0;
    const auto& siblings = superview->subviews();
    auto it = std::find(siblings.begin(), siblings.end(), view);
    return static_cast<std::size_t>(it - siblings.begin());
}

// Puts a presenter's view back where it lived before it was presented over.
void restorePresenterView(const Ref<UIView>& view, const detail::UIViewControllerPresentation& record) {
    auto home = record.presenterHome.lock();
    if (!home || !view) return;
    if (view->superview() == home) return;
    view->setFrame(home->bounds());
    home->insertSubviewAtIndex(view, std::min(record.presenterIndex, home->subviews().size()));
}

void runEndOfTransitionWork(std::vector<std::function<void()>> work) {
    for (auto& block : work) {
        if (block) block();
    }
}

}  // namespace

Ref<UIViewController> UIViewController::presentationHost() {
    auto host = std::static_pointer_cast<UIViewController>(shared_from_this());
    while (auto parent = host->parent_.lock()) host = parent;
    return host;
}

Ref<UIViewController> UIViewController::presentingViewController() const {
    for (const UIViewController* c = this; c; c = c->parent_.lock().get()) {
        if (auto presenting = c->presenting_.lock()) return presenting;
    }
    return nullptr;
}

Ref<UIViewController> UIViewController::presentedViewController() const {
    for (const UIViewController* c = this; c; c = c->parent_.lock().get()) {
        if (c->presented_) return c->presented_;
    }
    return nullptr;
}

void UIViewController::presentViewController(const Ref<UIViewController>& controller, bool animated,
                                             std::function<void()> completion) {
    NS_ASSERT_MAIN_THREAD();
    if (!controller) return;
    auto host = presentationHost();
    if (host->inTransition_) {
        auto source = std::static_pointer_cast<UIViewController>(shared_from_this());
        host->afterTransition_.push_back([source, controller, animated, completion]() mutable {
            source->presentViewController(controller, animated, std::move(completion));
        });
        return;
    }
    host->presentNow(controller, animated, std::move(completion));
}

void UIViewController::presentNow(const Ref<UIViewController>& controller, bool animated,
                                  std::function<void()> completion) {
    auto host = std::static_pointer_cast<UIViewController>(shared_from_this());
    if (controller == host) return;
    if (presented_) {
        NSLog("Attempt to present %@ on %@ which is already presenting %@", controller->className(),
              className(), presented_->className());
        return;
    }
    if (controller->presenting_.lock() || controller->parent_.lock()) {
        NSLog("Application tried to present modally an active controller %@", controller->className());
        return;
    }
    Ref<UIWindow> window = view_ ? view_->window() : nullptr;
    if (!window) {
        NSLog("Attempt to present %@ on %@ whose view is not in the window hierarchy!",
              controller->className(), className());
        return;
    }

    auto record = std::make_shared<detail::UIViewControllerPresentation>();
    record->style = controller->modalPresentationStyle_;
    record->fullScreen = takesPresenterAway(record->style);
    record->window = window;
    presented_ = controller;
    controller->presenting_ = host;
    controller->presentation_ = record;
    controller->beingPresented_ = true;
    inTransition_ = true;
    controller->inTransition_ = true;

    // A full-screen controller that cannot show in the current orientation turns the interface.
    if (record->fullScreen) {
        auto app = UIApplication::sharedApplication();
        const auto mask = controller->supportedInterfaceOrientations();
        if (mask && !(mask & maskOf(app->statusBarOrientation()))) {
            auto preferred = controller->preferredInterfaceOrientationForPresentation();
            if (!(mask & maskOf(preferred))) {
                for (auto o :
                     {UIInterfaceOrientationPortrait, UIInterfaceOrientationLandscapeLeft,
                      UIInterfaceOrientationLandscapeRight, UIInterfaceOrientationPortraitUpsideDown}) {
                    if (mask & maskOf(o)) {
                        preferred = o;
                        break;
                    }
                }
            }
            rotateInterface(preferred, 0);
        }
    }

    auto container = make<PresentationContainerView>(window->bounds());
    container->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    window->addSubview(container);
    record->container = container;
    record->presenterHome = view_->superview();
    record->presenterIndex = indexInSuperview(view_);

    const Ref<UIView>& presentedView = controller->view();  // viewDidLoad comes first
    const CGRect finalFrame = container->bounds();

    if (record->fullScreen) beginAppearanceTransition(false, animated);
    controller->beginAppearanceTransition(true, animated);

    auto finish = [host, controller, record](bool didComplete) {
        controller->beingPresented_ = false;
        if (didComplete) {
            if (record->fullScreen && host->view_) {
                host->view_->removeFromSuperview();
                record->presenterViewRemoved = true;
            }
            if (record->fullScreen) host->endAppearanceTransition();
            controller->endAppearanceTransition();
        } else {
            if (controller->view_) controller->view_->removeFromSuperview();
            record->container->removeFromSuperview();
            restorePresenterView(host->view_, *record);
            controller->beginAppearanceTransition(false, false);
            controller->endAppearanceTransition();
            if (record->fullScreen) {
                host->beginAppearanceTransition(true, false);
                host->endAppearanceTransition();
            }
            host->presented_ = nullptr;
            controller->presenting_.reset();
            controller->presentation_.reset();
        }
        host->inTransition_ = false;
        controller->inTransition_ = false;
        host->setNeedsStatusBarAppearanceUpdate();
    };
    auto afterwards = [host, controller, completion = std::move(completion)](bool didComplete) {
        if (didComplete && completion) completion();
        runEndOfTransitionWork(std::exchange(host->afterTransition_, {}));
        runEndOfTransitionWork(std::exchange(controller->afterTransition_, {}));
    };

    if (animated) {
        Ref<UIViewControllerAnimatedTransitioning> animator;
        if (auto delegate = controller->transitioningDelegate()) {
            animator = delegate->animationControllerForPresentedController(controller, host, host);
        }
        if (animator) {
            auto context = make<TransitionContext>();
            context->container = container;
            context->from = host;
            context->to = controller;
            context->fromView = record->fullScreen ? view_ : nullptr;
            context->toView = presentedView;
            context->fromInitial = view_->frame();
            context->fromFinal = record->fullScreen ? CGRectZero : view_->frame();
            context->toFinal = finalFrame;
            context->animated = true;
            context->style = record->style;
            context->onComplete = [finish, afterwards, animator](bool didComplete) {
                finish(didComplete);
                animator->animationEnded(didComplete);
                afterwards(didComplete);
            };
            animator->animateTransition(context);
            return;
        }
        presentedView->setFrame(CGRectOffset(finalFrame, 0, finalFrame.size.height));
        container->addSubview(presentedView);
        Ref<UIView> moving = presentedView;
        UIView::animateWithDuration(
            kDefaultTransitionDuration, 0, 0, [moving, finalFrame] { moving->setFrame(finalFrame); },
            [finish, afterwards](bool) {
                finish(true);
                afterwards(true);
            });
        return;
    }
    presentedView->setFrame(finalFrame);
    container->addSubview(presentedView);
    dispatch_async(dispatch_get_main_queue(), [finish, afterwards] {
        finish(true);
        afterwards(true);
    });
}

void UIViewController::dismissViewControllerAnimated(bool animated, std::function<void()> completion) {
    NS_ASSERT_MAIN_THREAD();
    auto host = presentationHost();
    Ref<UIViewController> target;
    if (host->presented_) {
        target = host;
    } else if (auto presenting = host->presenting_.lock()) {
        target = presenting;
    } else {
        return;
    }
    Ref<UIViewController> busy;
    if (target->inTransition_) {
        busy = target;
    } else if (target->presented_->inTransition_) {
        busy = target->presented_;
    }
    if (busy) {
        busy->afterTransition_.push_back([target, animated, completion]() mutable {
            if (target->presented_) target->dismissNow(animated, std::move(completion));
        });
        return;
    }
    target->dismissNow(animated, std::move(completion));
}

void UIViewController::dismissNow(bool animated, std::function<void()> completion) {
    auto target = std::static_pointer_cast<UIViewController>(shared_from_this());
    auto dismissed = presented_;
    if (!dismissed) return;
    std::vector<Ref<UIViewController>> chain;
    for (auto c = dismissed; c; c = c->presented_) chain.push_back(c);
    auto top = chain.back();
    auto record = dismissed->presentation_;
    if (!record) return;

    for (auto& c : chain) {
        c->beingDismissed_ = true;
        c->inTransition_ = true;
    }
    inTransition_ = true;

    // Back to an orientation the controller underneath can show (the device's when it can).
    if (record->fullScreen) {
        auto app = UIApplication::sharedApplication();
        const auto mask = supportedInterfaceOrientations();
        const auto current = app->statusBarOrientation();
        const long device = UIDevice::currentDevice()->orientation();
        if (mask && !(mask & maskOf(current))) {
            rotateInterface(preferredInterfaceOrientationForPresentation(), 0);
        } else if (device >= UIInterfaceOrientationPortrait &&
                   device <= UIInterfaceOrientationLandscapeLeft && device != current &&
                   (mask & maskOf(static_cast<UIInterfaceOrientation>(device)))) {
            rotateInterface(static_cast<UIInterfaceOrientation>(device), 0);
        }
    }

    if (record->presenterViewRemoved) restorePresenterView(view_, *record);

    std::vector<Ref<UIViewController>> disappearing;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if ((*it)->appearance_ == State::Appeared || (*it)->appearance_ == State::Appearing) {
            (*it)->beginAppearanceTransition(false, animated);
            disappearing.push_back(*it);
        }
    }
    const bool targetAppears = appearance_ == State::Disappeared || appearance_ == State::Disappearing;
    if (targetAppears) beginAppearanceTransition(true, animated);

    auto finish = [target, chain, record, disappearing, targetAppears](bool didComplete) {
        if (didComplete) {
            for (auto& c : chain) {
                if (c->view_) c->view_->removeFromSuperview();
                if (c->presentation_ && c->presentation_->container)
                    c->presentation_->container->removeFromSuperview();
            }
            if (target->view_) restorePresenterView(target->view_, *record);
            for (auto& c : disappearing) c->endAppearanceTransition();
            if (targetAppears) target->endAppearanceTransition();
            Ref<UIViewController> below = target;
            for (auto& c : chain) {
                below->presented_ = nullptr;
                c->presenting_.reset();
                c->presentation_.reset();
                below = c;
            }
        } else {
            for (auto& c : disappearing) {
                c->beginAppearanceTransition(true, false);
                c->endAppearanceTransition();
            }
            if (targetAppears) {
                target->beginAppearanceTransition(false, false);
                target->endAppearanceTransition();
                if (record->presenterViewRemoved && target->view_) target->view_->removeFromSuperview();
            }
        }
        for (auto& c : chain) {
            c->beingDismissed_ = false;
            c->inTransition_ = false;
        }
        target->inTransition_ = false;
        target->setNeedsStatusBarAppearanceUpdate();
    };
    auto afterwards = [target, chain, completion = std::move(completion)](bool didComplete) {
        if (didComplete && completion) completion();
        runEndOfTransitionWork(std::exchange(target->afterTransition_, {}));
        for (auto& c : chain) runEndOfTransitionWork(std::exchange(c->afterTransition_, {}));
    };

    auto topRecord = top->presentation_;
    Ref<UIView> container = topRecord ? topRecord->container : record->container;
    if (animated) {
        Ref<UIViewControllerAnimatedTransitioning> animator;
        if (auto delegate = dismissed->transitioningDelegate()) {
            animator = delegate->animationControllerForDismissedController(dismissed);
        }
        if (animator) {
            auto context = make<TransitionContext>();
            context->container = container;
            context->from = top;
            context->to = target;
            context->fromView = top->view_;
            context->toView = record->fullScreen ? view_ : nullptr;
            context->fromInitial = top->view_ ? top->view_->frame() : CGRectZero;
            context->toInitial = record->fullScreen && view_ ? view_->frame() : CGRectZero;
            context->toFinal = view_ ? view_->frame() : CGRectZero;
            context->animated = true;
            context->style = record->style;
            context->onComplete = [finish, afterwards, animator](bool didComplete) {
                finish(didComplete);
                animator->animationEnded(didComplete);
                afterwards(didComplete);
            };
            animator->animateTransition(context);
            return;
        }
        std::vector<Ref<UIView>> containers;
        for (auto& c : chain) {
            if (c->presentation_ && c->presentation_->container)
                containers.push_back(c->presentation_->container);
        }
        UIView::animateWithDuration(
            kDefaultTransitionDuration, 0, 0,
            [containers] {
                for (auto& view : containers) {
                    CGRect frame = view->frame();
                    view->setFrame(CGRectOffset(frame, 0, frame.size.height));
                }
            },
            [finish, afterwards](bool) {
                finish(true);
                afterwards(true);
            });
        return;
    }
    dispatch_async(dispatch_get_main_queue(), [finish, afterwards] {
        finish(true);
        afterwards(true);
    });
}
