// Turning the car by dragging, zooming by pinching or double-tapping, picking a part by tapping
// its visible pixels, and the timed turn to a part's best angle.

#include "foundation/NSMainThreadCheck.h"
#include "studio/CarViewController.h"
#include "studio/CarViewControllerInternal.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIPinchGestureRecognizer.h"

void CarViewController::panOnContainer(const Ref<UIGestureRecognizer>& recognizer) {
    NS_ASSERT_MAIN_THREAD();
    auto pan = asKind<UIPanGestureRecognizer>(recognizer);
    if (!pan || pan->state() != UIGestureRecognizerStateChanged) return;
    auto showcase = showcaseView.lock();
    const double tx = pan->translationInView(showcase).x;
    if (tx > 20) {
        setCurrentAngle(currentAngle_ - 1);
        pan->setTranslation(CGPoint{0, 0}, showcase);
    } else if (tx < -20) {
        setCurrentAngle(currentAngle_ + 1);
        pan->setTranslation(CGPoint{0, 0}, showcase);
    }
}

void CarViewController::pinchShowcase(const Ref<UIGestureRecognizer>& recognizer) {
    NS_ASSERT_MAIN_THREAD();
    auto pinch = asKind<UIPinchGestureRecognizer>(recognizer);
    if (!pinch) return;
    const double s = pinch->scale();
    auto grow = [&] {
        if (s > 1)
            showcaseScale_ = detail::carstudio::pinchStartScale + s / 6;
        else
            showcaseScale_ = detail::carstudio::pinchStartScale - (1 - s) / 3;
    };
    switch (pinch->state()) {
        case UIGestureRecognizerStateBegan:
            detail::carstudio::pinchStartScale = showcaseScale_;
            grow();
            break;
        case UIGestureRecognizerStateChanged:
            grow();
            break;
        case UIGestureRecognizerStateEnded:
        case UIGestureRecognizerStateCancelled:
        case UIGestureRecognizerStateFailed:
            if (showcaseScale_ > 1.5) showcaseScale_ = 1.5;
            if (showcaseScale_ < 0.5) showcaseScale_ = 0.5;
            break;
        default:
            break;
    }
    refreshShowcaseWithAngle(currentAngle_);
}

void CarViewController::doubleTappedOnCarCantainer(const Ref<UIGestureRecognizer>&) {
    NS_ASSERT_MAIN_THREAD();
    showcaseScale_ = showcaseScale_ == 0.5 ? 1.5 : 0.5;
    refreshShowcaseWithAngle(currentAngle_);
}

void CarViewController::tapOnShowcaseView(const Ref<UIGestureRecognizer>& recognizer) {
    NS_ASSERT_MAIN_THREAD();
    if (showcaseState_ == CarShowcaseStateChooseCar || !recognizer) return;
    for (auto i = carContainerSubviews_.size(); i-- > 0;) {
        const Ref<UIImageView>& layer = carContainerSubviews_[i];
        CGPoint p = recognizer->locationInView(layer);
        if (!isAlphaVisibleAtPoint(p, layer)) continue;
        Ref<QVNPart> part = getPartWithImageView(layer);
        if (!part || !part->active()) continue;
        setSelectedPart(part);
        layer->setAlpha(0.6);
        Weak<UIImageView> weakLayer = layer;
        UIView::animateWithDuration(0.14, [weakLayer] {
            if (auto l = weakLayer.lock()) l->setAlpha(1.0);
        });
        return;
    }
    setShowcaseState(CarShowcaseStatePlain);
}

void CarViewController::showcaseAnimateToAngle(long angle) {
    NS_ASSERT_MAIN_THREAD();
    if (currentAngle_ == angle) return;
    view()->setUserInteractionEnabled(false);
    long count;
    bool increase;
    if (currentAngle_ >= angle) {
        count = currentAngle_ - angle;
        increase = false;
    } else {
        count = angle - currentAngle_;
        increase = true;
    }
    NSTimer::scheduledTimerWithTimeInterval(
        0.02, strongSelf(), &CarViewController::showcaseAnimeteWithTimer,
        Value(Dictionary{{"count", Value(count)}, {"increase", Value(increase)}}), true);
}

void CarViewController::showcaseAnimeteWithTimer(const Ref<NSTimer>& timer) {
    NS_ASSERT_MAIN_THREAD();
    if (!timer) return;
    Value info = timer->userInfo();
    const Dictionary* dict = info.dictionary();
    bool increase = false;
    long count = 0;
    if (dict) {
        increase = dict->objectForKey("increase").boolValue();
        count = dict->objectForKey("count").integerValue();
    }
    long& steps = detail::carstudio::timedTurnSteps;
    if (steps == -1) steps = count;
    steps -= 1;
    if (steps <= 0) {
        view()->setUserInteractionEnabled(true);
        timer->invalidate();
        steps = -1;
    }
    setCurrentAngle(increase ? currentAngle_ + 1 : currentAngle_ - 1);
}
