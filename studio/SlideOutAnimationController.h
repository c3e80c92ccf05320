#pragma once
// SlideOutAnimationController: dismisses a small screen by flying it up by the container's height
// while it shrinks to half size, over 0.3 s. The screen below is not touched (it never left). An
// interrupted animation reports the interruption to the context (completeTransition(false)).
//
// A new animator is made for every transition. Main thread only.

#include <string>

#include "foundation/NSObject.h"
#include "uikit/UIViewControllerTransitioning.h"

class SlideOutAnimationController : public NSObject, public UIViewControllerAnimatedTransitioning {
  public:
    std::string className() const override { return "SlideOutAnimationController"; }

    double transitionDuration(const Ref<UIViewControllerContextTransitioning>& transitionContext) override;
    void animateTransition(const Ref<UIViewControllerContextTransitioning>& transitionContext) override;
};
