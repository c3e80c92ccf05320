#pragma once
// PopAnimator: presents a small screen over the current one. A darkening radial backdrop
// (GradientView) goes in below everything in the container and fades in over 1.0 s, whatever the
// duration; the new view starts at 0.7 scale and pops through 1.2 and 0.7 to its own size in three
// key frames over `duration` (1.0 s unless changed). The presenting view is left in place behind
// the backdrop, which stays for as long as the presented screen shows. Always reports success.
//
// A new animator is made for every transition. Main thread only.

#include <string>

#include "foundation/NSObject.h"
#include "studio/GradientView.h"
#include "uikit/UIViewControllerTransitioning.h"

class PopAnimator : public NSObject, public UIViewControllerAnimatedTransitioning {
  public:
    std::string className() const override { return "PopAnimator"; }

    double duration() const { return duration_; }
    void setDuration(double seconds) { duration_ = seconds; }
    // Made on first use with a zero frame.
    const Ref<GradientView>& gradientView();

    double transitionDuration(const Ref<UIViewControllerContextTransitioning>& transitionContext) override;
    void animateTransition(const Ref<UIViewControllerContextTransitioning>& transitionContext) override;

  private:
    double duration_ = 1.0;
    Ref<GradientView> gradientView_;
};
