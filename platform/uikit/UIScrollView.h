#pragma once
// Scroll views: a window onto content larger than the view. The content offset is the bounds'
// origin: scrolling moves the bounds, so subviews placed in content coordinates move on screen.
//
// Observation: contentOffset, contentSize and contentInset are observable (KVO with old and new
// values, boxed as NSValue points, sizes and edge insets; NSValue+Geometry.h reads them). Every
// call that sets the offset (setContentOffset, setBounds, scrolling, dragging, deceleration)
// announces "contentOffset" even when the value does not change, then tells the delegate
// scrollViewDidScroll when it did change. "dragging", "tracking" and "decelerating" answer too.
//
// Dragging in the platform's order, driven by a finger (the pan recogniser, when the touch layer
// is present) or by the simulate... entries for tests:
//   simulateBeginDragging: tracking; pan state began; scrollViewWillBeginDragging; dragging.
//   simulateDragBy / simulateDragTo: the offset moves (exactly by the amount: no rubber band),
//     pan state changed, scrollViewDidScroll.
//   simulateEndDragging(velocity): tracking ends; pan state ended (its observers see it while
//     isDragging is still true); scrollViewWillEndDragging with the target offset the scroll view
//     means to settle at (the delegate may change it); dragging ends; scrollViewDidEndDragging
//     (willDecelerate = the target differs from the offset); then, when decelerating,
//     scrollViewWillBeginDecelerating, the offset moves to the target over kDecelerationDuration
//     on the platform clock (scrollViewDidScroll at each 1/60 s step, isDecelerating true), and
//     scrollViewDidEndDecelerating.
// The target: the offset plus velocity (points per second) × kVelocityProjection, kept inside the
// scrollable range (from -inset to contentSize - bounds + inset); with paging, the nearest page in
// the direction of the velocity. A drag past the range is allowed while bounces is on (it springs
// back by decelerating) and clamped when off; an axis whose content fits the view does not move
// unless alwaysBounce... is set for it; with directionalLockEnabled a drag moves along the axis of
// its first movement only. scrollEnabled off refuses drags.
//
// setContentOffset(offset, animated): the move takes kScrollAnimationDuration on the platform
// clock, with scrollViewDidScroll at each step, and ends with scrollViewDidEndScrollingAnimation.
// A non-animated set, a drag, or a new animated set stops a running animation or deceleration
// (the stopped one reports nothing). Timers run in the common run-loop modes.
//
// While a drag goes on the main run loop's mode should be UITrackingRunLoopMode; tests that care
// pump the loop in trackingRunLoopMode() while isTracking().
//
// The delegate is held weakly; it may be any object, the scroll view itself included. Main thread
// only.

#include <optional>
#include <string>

#include "foundation/NSTimer.h"
#include "uikit/UIView.h"

class UIScrollView;
class UIPanGestureRecognizer;
class UIPinchGestureRecognizer;
class UIGestureRecognizer;

enum UIScrollViewIndicatorStyle : long {
    UIScrollViewIndicatorStyleDefault = 0,
    UIScrollViewIndicatorStyleBlack = 1,
    UIScrollViewIndicatorStyleWhite = 2,
};

enum UIScrollViewKeyboardDismissMode : long {
    UIScrollViewKeyboardDismissModeNone = 0,
    UIScrollViewKeyboardDismissModeOnDrag = 1,
    UIScrollViewKeyboardDismissModeInteractive = 2,
};

enum UIScrollViewContentInsetAdjustmentBehavior : long {
    UIScrollViewContentInsetAdjustmentAutomatic = 0,
    UIScrollViewContentInsetAdjustmentScrollableAxes = 1,
    UIScrollViewContentInsetAdjustmentNever = 2,
    UIScrollViewContentInsetAdjustmentAlways = 3,
};

using UIScrollViewDecelerationRate = CGFloat;
inline constexpr UIScrollViewDecelerationRate UIScrollViewDecelerationRateNormal = 0.998;
inline constexpr UIScrollViewDecelerationRate UIScrollViewDecelerationRateFast = 0.99;

// The delegate protocol; every method is optional.
class UIScrollViewDelegate {
  public:
    virtual ~UIScrollViewDelegate() = default;
    virtual void scrollViewDidScroll(UIScrollView& scrollView) {}
    virtual void scrollViewWillBeginDragging(UIScrollView& scrollView) {}
    // The target may be changed to settle elsewhere.
    virtual void scrollViewWillEndDragging(UIScrollView& scrollView, CGPoint velocity,
                                           CGPoint* targetContentOffset) {}
    virtual void scrollViewDidEndDragging(UIScrollView& scrollView, bool willDecelerate) {}
    virtual void scrollViewWillBeginDecelerating(UIScrollView& scrollView) {}
    virtual void scrollViewDidEndDecelerating(UIScrollView& scrollView) {}
    virtual void scrollViewDidEndScrollingAnimation(UIScrollView& scrollView) {}
    // The view that zooming scales; nullptr (not implemented) disables zooming.
    virtual Ref<UIView> viewForZoomingInScrollView(UIScrollView& scrollView) { return nullptr; }
    virtual void scrollViewWillBeginZooming(UIScrollView& scrollView, const Ref<UIView>& view) {}
    virtual void scrollViewDidZoom(UIScrollView& scrollView) {}
    virtual void scrollViewDidEndZooming(UIScrollView& scrollView, const Ref<UIView>& view, CGFloat scale) {}
    virtual std::optional<bool> scrollViewShouldScrollToTop(UIScrollView& scrollView) { return std::nullopt; }
    virtual void scrollViewDidScrollToTop(UIScrollView& scrollView) {}
};

class UIScrollView : public UIView {
  public:
    UIScrollView();
    explicit UIScrollView(CGRect frame);
    ~UIScrollView() override;
    std::string className() const override { return "UIScrollView"; }
    // Attaches the pan recogniser. Subclasses with a didInit of their own call this one (it is
    // also done on first use of the recogniser, on hit testing and on entering a window).
    void didInit();

    static constexpr double kScrollAnimationDuration = 0.3;
    static constexpr double kDecelerationDuration = 0.5;
    static constexpr double kVelocityProjection = 0.3;
    static constexpr double kFrameInterval = 1.0 / 60;

    // ---- content ------------------------------------------------------------------------------
    CGPoint contentOffset() const { return bounds().origin; }
    virtual void setContentOffset(CGPoint offset);
    virtual void setContentOffset(CGPoint offset, bool animated);
    CGSize contentSize() const { return contentSize_; }
    virtual void setContentSize(CGSize size);
    UIEdgeInsets contentInset() const { return contentInset_; }
    virtual void setContentInset(UIEdgeInsets inset);
    // No automatic adjustment happens here (there are no bars to avoid): contentInset.
    UIEdgeInsets adjustedContentInset() const { return contentInset_; }
    UIScrollViewContentInsetAdjustmentBehavior contentInsetAdjustmentBehavior() const { return adjustment_; }
    void setContentInsetAdjustmentBehavior(UIScrollViewContentInsetAdjustmentBehavior behavior) {
        adjustment_ = behavior;
    }
    UIEdgeInsets scrollIndicatorInsets() const { return indicatorInsets_; }
    void setScrollIndicatorInsets(UIEdgeInsets insets) { indicatorInsets_ = insets; }
    // The offsets the content can rest at: from (-left, -top) to the larger of that and
    // contentSize - bounds size + (right, bottom).
    CGPoint minimumContentOffset() const;
    CGPoint maximumContentOffset() const;
    // Scrolls the least amount that shows the rectangle (content coordinates).
    void scrollRectToVisible(CGRect rect, bool animated);

    // Setting the bounds' origin scrolls (announced like setContentOffset).
    void setBounds(CGRect bounds) override;

    // ---- the delegate -------------------------------------------------------------------------
    Ref<UIScrollViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<UIScrollViewDelegate>& delegate) { delegate_ = delegate; }
    // For a delegate reached only through a weak reference (the view itself, from a constructor
    // that has no Ref yet, sets it in didInit).
    void setDelegateWeak(Weak<UIScrollViewDelegate> delegate) { delegate_ = std::move(delegate); }

    // ---- state --------------------------------------------------------------------------------
    bool isTracking() const { return tracking_; }
    bool isDragging() const { return dragging_; }
    bool isDecelerating() const { return decelerating_; }
    bool isScrollAnimating() const { return animating_; }
    bool isZooming() const { return false; }
    bool isZoomBouncing() const { return false; }

    // ---- behaviour ----------------------------------------------------------------------------
    bool isScrollEnabled() const { return scrollEnabled_; }
    void setScrollEnabled(bool on) { scrollEnabled_ = on; }
    bool isPagingEnabled() const { return pagingEnabled_; }
    void setPagingEnabled(bool on) { pagingEnabled_ = on; }
    bool bounces() const { return bounces_; }
    void setBounces(bool on) { bounces_ = on; }
    bool alwaysBounceVertical() const { return alwaysBounceVertical_; }
    void setAlwaysBounceVertical(bool on) { alwaysBounceVertical_ = on; }
    bool alwaysBounceHorizontal() const { return alwaysBounceHorizontal_; }
    void setAlwaysBounceHorizontal(bool on) { alwaysBounceHorizontal_ = on; }
    bool isDirectionalLockEnabled() const { return directionalLock_; }
    void setDirectionalLockEnabled(bool on) { directionalLock_ = on; }
    bool showsHorizontalScrollIndicator() const { return showsHorizontal_; }
    void setShowsHorizontalScrollIndicator(bool on) { showsHorizontal_ = on; }
    bool showsVerticalScrollIndicator() const { return showsVertical_; }
    void setShowsVerticalScrollIndicator(bool on) { showsVertical_ = on; }
    UIScrollViewIndicatorStyle indicatorStyle() const { return indicatorStyle_; }
    void setIndicatorStyle(UIScrollViewIndicatorStyle style) { indicatorStyle_ = style; }
    // Counted, for tests.
    void flashScrollIndicators() { ++indicatorFlashes_; }
    int indicatorFlashCount() const { return indicatorFlashes_; }
    bool scrollsToTop() const { return scrollsToTop_; }
    void setScrollsToTop(bool on) { scrollsToTop_ = on; }
    UIScrollViewDecelerationRate decelerationRate() const { return decelerationRate_; }
    void setDecelerationRate(UIScrollViewDecelerationRate rate) { decelerationRate_ = rate; }
    bool delaysContentTouches() const { return delaysContentTouches_; }
    void setDelaysContentTouches(bool on) { delaysContentTouches_ = on; }
    bool canCancelContentTouches() const { return canCancelContentTouches_; }
    void setCanCancelContentTouches(bool on) { canCancelContentTouches_ = on; }
    UIScrollViewKeyboardDismissMode keyboardDismissMode() const { return keyboardDismissMode_; }
    void setKeyboardDismissMode(UIScrollViewKeyboardDismissMode mode) { keyboardDismissMode_ = mode; }

    // ---- zooming ------------------------------------------------------------------------------
    CGFloat minimumZoomScale() const { return minimumZoomScale_; }
    void setMinimumZoomScale(CGFloat scale) { minimumZoomScale_ = scale; }
    CGFloat maximumZoomScale() const { return maximumZoomScale_; }
    void setMaximumZoomScale(CGFloat scale) { maximumZoomScale_ = scale; }
    CGFloat zoomScale() const { return zoomScale_; }
    // Clamped to the limits; needs the delegate's view for zooming (else nothing happens). The
    // view is scaled by a transform and the content size follows it; scrollViewDidZoom is told.
    void setZoomScale(CGFloat scale);
    void setZoomScale(CGFloat scale, bool animated);
    bool bouncesZoom() const { return bouncesZoom_; }
    void setBouncesZoom(bool on) { bouncesZoom_ = on; }

    // ---- recognisers --------------------------------------------------------------------------
    // The pan that drags the content (attached on first use); its "state" is observable.
    Ref<UIPanGestureRecognizer> panGestureRecognizer() const;
    Ref<UIPinchGestureRecognizer> pinchGestureRecognizer() const { return nullptr; }

    // ---- test driving -------------------------------------------------------------------------
    // See the header comment for the order of events. simulateBeginDragging answers false when
    // the scroll view refuses to drag (scrolling disabled). The drag entries take offset deltas:
    // simulateDragBy(0, -60) pulls the content 60 points down (a finger moving down).
    bool simulateBeginDragging();
    void simulateDragBy(CGFloat dx, CGFloat dy);
    void simulateDragTo(CGPoint offset);
    // Ends the drag; decelerate overrides whether the scroll view decelerates toward the target
    // (false: it stays where it is, even out of range).
    void simulateEndDragging(CGPoint velocity = CGPointZero, std::optional<bool> decelerate = std::nullopt);
    // Begin, `steps` equal moves adding up to (dx, dy), end with the velocity.
    void simulateDrag(CGFloat dx, CGFloat dy, int steps = 5, CGPoint velocity = CGPointZero);
    // A tap on the status bar: asks scrollViewShouldScrollToTop, animates to the top and tells
    // scrollViewDidScrollToTop when the animation ends. False when refused.
    bool simulateScrollToTop();
    // The run-loop mode the main loop runs in while this scroll view tracks a finger.
    static const char* trackingRunLoopMode();

    // "contentOffset", "contentSize", "contentInset", "dragging", "tracking", "decelerating",
    // "zoomScale".
    Value valueForKey(const std::string& key) const override;
    bool automaticallyNotifiesObserversForKey(const std::string& key) const override;

    Ref<UIView> hitTest(CGPoint point, const Ref<UIEvent>& event) override;
    void didMoveToWindow() override;

    // Whether a drag can move the content along that axis: content (with its insets) larger than
    // the bounds, or bouncing asked for always.
    bool canScrollVertically() const;
    bool canScrollHorizontally() const;

  protected:
    // Every offset change passes here (after the bounds moved): the announcement and the
    // delegate. Subclasses (tables) extend it to lay out their content; call the base.
    virtual void contentOffsetDidChange(CGPoint oldOffset);

  private:
    enum class Motion { None, Animation, Deceleration };
    void applyOffset(CGPoint offset);
    void startMotion(CGPoint target, double duration, Motion kind);
    void stopMotion();
    void motionStep();
    CGPoint clampedOffset(CGPoint offset) const;
    CGPoint targetForEndOfDrag(CGPoint velocity) const;
    void setPanState(long state);
    void ensurePan() const;
    void handlePan();
    bool beginDrag();
    void dragBy(CGFloat dx, CGFloat dy);
    void endDrag(CGPoint velocity, std::optional<bool> decelerate);

    Weak<UIScrollViewDelegate> delegate_;
    CGSize contentSize_{};
    UIEdgeInsets contentInset_{};
    UIEdgeInsets indicatorInsets_{};
    UIScrollViewContentInsetAdjustmentBehavior adjustment_ = UIScrollViewContentInsetAdjustmentAutomatic;

    bool tracking_ = false;
    bool dragging_ = false;
    bool decelerating_ = false;
    bool animating_ = false;
    bool scrollEnabled_ = true;
    bool pagingEnabled_ = false;
    bool bounces_ = true;
    bool alwaysBounceVertical_ = false;
    bool alwaysBounceHorizontal_ = false;
    bool directionalLock_ = false;
    bool showsHorizontal_ = true;
    bool showsVertical_ = true;
    bool scrollsToTop_ = true;
    bool delaysContentTouches_ = true;
    bool canCancelContentTouches_ = true;
    bool bouncesZoom_ = true;
    UIScrollViewIndicatorStyle indicatorStyle_ = UIScrollViewIndicatorStyleDefault;
    UIScrollViewKeyboardDismissMode keyboardDismissMode_ = UIScrollViewKeyboardDismissModeNone;
    UIScrollViewDecelerationRate decelerationRate_ = UIScrollViewDecelerationRateNormal;
    int indicatorFlashes_ = 0;
    CGFloat minimumZoomScale_ = 1;
    CGFloat maximumZoomScale_ = 1;
    CGFloat zoomScale_ = 1;

    // Directional lock of the current drag: 0 none yet, 1 horizontal, 2 vertical.
    int lockedAxis_ = 0;
    // A running animated move or deceleration.
    Motion motion_ = Motion::None;
    Ref<NSTimer> motionTimer_;
    Ref<NSTimer> endTimer_;
    CGPoint motionFrom_{};
    CGPoint motionTo_{};
    double motionStart_ = 0;
    double motionDuration_ = 0;
    bool scrollingToTop_ = false;
    // Set while the simulate entries move the pan, so its actions do not drag twice.
    bool drivingPan_ = false;
    CGPoint panLastTranslation_{};
    mutable Ref<UIPanGestureRecognizer> pan_;
};
