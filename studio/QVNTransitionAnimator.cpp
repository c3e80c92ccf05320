#include "studio/QVNTransitionAnimator.h"

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIScreen.h"
#include "uikit/UIView.h"
#include "uikit/UIViewController.h"

double QVNTransitionAnimator::transitionDuration(const Ref<UIViewControllerContextTransitioning>&) {
    return 0.5;
}

void QVNTransitionAnimator::animateTransition(const Ref<UIViewControllerContextTransitioning>& context) {
    NS_ASSERT_MAIN_THREAD();
    if (!context) return;
    Ref<UIView> container = context->containerView();
    Ref<UIViewController> from = context->viewControllerForKey(UITransitionContextFromViewControllerKey);
    Ref<UIViewController> to = context->viewControllerForKey(UITransitionContextToViewControllerKey);
    if (!container || !to) {
        context->completeTransition(true);
        return;
    }
    if (from) container->addSubview(from->view());
    Ref<UIView> toView = to->view();
    container->addSubview(toView);

    CGRect screen = UIScreen::mainScreen()->bounds();
    toView->setFrame(CGRectMake(-screen.size.width, 0, screen.size.width, screen.size.height));
    UIView::animateWithDuration(
        transitionDuration(context), [toView, screen] { toView->setFrame(screen); },
        [context](bool) { context->completeTransition(true); });
}
