#pragma once
// QVNTransitionAnimator: presents the car studio by sliding it in from the left edge. The new
// screen starts exactly one screen width to the left and ends covering the main screen's bounds
// (whatever frame the context proposes) over 0.5 s; the transition always reports success.
//
// A new animator is made for every transition; it keeps no state. Main thread only.

#include <string>

#include "foundation/NSObject.h"
#include "uikit/UIViewControllerTransitioning.h"

class QVNTransitionAnimator : public NSObject, public UIViewControllerAnimatedTransitioning {
  public:
    std::string className() const override { return "QVNTransitionAnimator"; }

    double transitionDuration(const Ref<UIViewControllerContextTransitioning>& transitionContext) override;
    void animateTransition(const Ref<UIViewControllerContextTransitioning>& transitionContext) override;
};
