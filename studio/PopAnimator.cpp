#include "studio/PopAnimator.h"

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIViewController.h"

const Ref<GradientView>& PopAnimator::gradientView() {
    if (!gradientView_) gradientView_ = make<GradientView>(CGRectZero);
    return gradientView_;
}

double PopAnimator::transitionDuration(const Ref<UIViewControllerContextTransitioning>&) {
    return duration_;
}

void PopAnimator::animateTransition(const Ref<UIViewControllerContextTransitioning>& context) {
    NS_ASSERT_MAIN_THREAD();
    if (!context) return;
    Ref<UIView> container = context->containerView();
    Ref<UIViewController> to = context->viewControllerForKey(UITransitionContextToViewControllerKey);
    if (!container || !to) {
        context->completeTransition(true);
        return;
    }
    Ref<UIView> toView = to->view();
    toView->setFrame(context->finalFrameForViewController(to));

    Ref<GradientView> backdrop = gradientView();
    backdrop->setFrame(container->bounds());
    container->insertSubviewAtIndex(backdrop, 0);
    container->addSubview(toView);

    backdrop->setAlpha(0);
    UIView::animateWithDuration(1.0, [backdrop] { backdrop->setAlpha(1); });

    toView->setTransform(CGAffineTransformMakeScale(0.7, 0.7));
    UIView::animateKeyframesWithDuration(
        transitionDuration(context), 0, UIViewKeyframeAnimationOptionCalculationModeCubic,
        [toView] {
            UIView::addKeyframeWithRelativeStartTime(
                0.0, 0.334, [toView] { toView->setTransform(CGAffineTransformMakeScale(1.2, 1.2)); });
            UIView::addKeyframeWithRelativeStartTime(
                0.334, 0.333, [toView] { toView->setTransform(CGAffineTransformMakeScale(0.7, 0.7)); });
            UIView::addKeyframeWithRelativeStartTime(
                0.666, 0.333, [toView] { toView->setTransform(CGAffineTransformIdentity); });
        },
        [context](bool) { context->completeTransition(true); });
}
