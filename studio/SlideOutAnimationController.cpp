#include "studio/SlideOutAnimationController.h"

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIView.h"

double SlideOutAnimationController::transitionDuration(const Ref<UIViewControllerContextTransitioning>&) {
    return 0.3;
}

void SlideOutAnimationController::animateTransition(
    const Ref<UIViewControllerContextTransitioning>& context) {
    NS_ASSERT_MAIN_THREAD();
    if (!context) return;
    Ref<UIView> fromView = context->viewForKey(UITransitionContextFromViewKey);
    Ref<UIView> container = context->containerView();
    if (!fromView || !container) {
        context->completeTransition(true);
        return;
    }
    CGFloat rise = container->bounds().size.height;
    UIView::animateWithDuration(
        transitionDuration(context),
        [fromView, rise] {
            CGPoint centre = fromView->center();
            centre.y -= rise;
            fromView->setCenter(centre);
            fromView->setTransform(CGAffineTransformMakeScale(0.5, 0.5));
        },
        [context](bool finished) { context->completeTransition(finished); });
}
