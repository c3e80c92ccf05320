#include "uikit/UIScrollView.h"

#include <algorithm>
#include <cmath>

#include "dispatch/Clock.h"
#include "foundation/NSDate.h"
#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSRunLoop.h"
#include "graphics/NSValue+Geometry.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"

namespace {

double easeOut(double t) {
    return 1 - std::pow(1 - t, 3);
}

double easeInOut(double t) {
    return t < 0.5 ? 4 * t * t * t : 1 - std::pow(-2 * t + 2, 3) / 2;
}

}  // namespace

UIScrollView::UIScrollView() : UIScrollView(CGRectZero) {}

UIScrollView::UIScrollView(CGRect frame) : UIView(frame) {
    setClipsToBounds(true);
}

UIScrollView::~UIScrollView() {
    if (motionTimer_) motionTimer_->invalidate();
}

void UIScrollView::didInit() {
    ensurePan();
}

// ---- content ------------------------------------------------------------------------------------

void UIScrollView::setContentOffset(CGPoint offset) {
    NS_ASSERT_MAIN_THREAD();
    auto keepAlive = weak_from_this().lock();
    stopMotion();
    applyOffset(offset);
}

void UIScrollView::setContentOffset(CGPoint offset, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (!animated) {
        setContentOffset(offset);
        return;
    }
    stopMotion();
    if (offset == contentOffset()) return;
    animating_ = true;
    startMotion(offset, kScrollAnimationDuration, Motion::Animation);
}

void UIScrollView::applyOffset(CGPoint offset) {
    const CGPoint old = contentOffset();
    KVO::willChangeValueForKey(*this, "contentOffset");
    CGRect b = bounds();
    b.origin = offset;
    UIView::setBounds(b);
    KVO::didChangeValueForKey(*this, "contentOffset");
    if (old != offset) contentOffsetDidChange(old);
}

void UIScrollView::contentOffsetDidChange(CGPoint oldOffset) {
    setNeedsLayout();
    if (auto d = delegate()) d->scrollViewDidScroll(*this);
}

void UIScrollView::setBounds(CGRect newBounds) {
    if (newBounds.origin == bounds().origin) {
        UIView::setBounds(newBounds);
        return;
    }
    auto keepAlive = weak_from_this().lock();
    const CGPoint old = contentOffset();
    KVO::willChangeValueForKey(*this, "contentOffset");
    UIView::setBounds(newBounds);
    KVO::didChangeValueForKey(*this, "contentOffset");
    contentOffsetDidChange(old);
}

void UIScrollView::setContentSize(CGSize size) {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "contentSize", contentSize_, size);
    setNeedsLayout();
}

void UIScrollView::setContentInset(UIEdgeInsets inset) {
    NS_ASSERT_MAIN_THREAD();
    KVO::assign(*this, "contentInset", contentInset_, inset);
    setNeedsLayout();
}

CGPoint UIScrollView::minimumContentOffset() const {
    // 0 - x rather than -x: no negative zero for an inset of zero.
    return {0.0 - contentInset_.left, 0.0 - contentInset_.top};
}

CGPoint UIScrollView::maximumContentOffset() const {
    const CGSize size = bounds().size;
    const CGPoint min = minimumContentOffset();
    return {std::max(min.x, contentSize_.width - size.width + contentInset_.right),
            std::max(min.y, contentSize_.height - size.height + contentInset_.bottom)};
}

CGPoint UIScrollView::clampedOffset(CGPoint offset) const {
    const CGPoint min = minimumContentOffset(), max = maximumContentOffset();
    return {std::clamp(offset.x, min.x, max.x), std::clamp(offset.y, min.y, max.y)};
}

void UIScrollView::scrollRectToVisible(CGRect rect, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    rect = CGRectStandardize(rect);
    const CGRect visible = bounds();
    CGPoint offset = visible.origin;
    if (CGRectGetMaxX(rect) > CGRectGetMaxX(visible)) offset.x = CGRectGetMaxX(rect) - visible.size.width;
    if (rect.origin.x < offset.x) offset.x = rect.origin.x;
    if (CGRectGetMaxY(rect) > CGRectGetMaxY(visible)) offset.y = CGRectGetMaxY(rect) - visible.size.height;
    if (rect.origin.y < offset.y) offset.y = rect.origin.y;
    offset = clampedOffset(offset);
    if (offset != contentOffset()) setContentOffset(offset, animated);
}

// ---- animated moves and deceleration ------------------------------------------------------------

void UIScrollView::startMotion(CGPoint target, double duration, Motion kind) {
    auto me = weak_from_this().lock();
    if (!me) return;
    motion_ = kind;
    motionFrom_ = contentOffset();
    motionTo_ = target;
    motionStart_ = PlatformClock::monotonic();
    motionDuration_ = duration;
    Weak<UIScrollView> weak = std::static_pointer_cast<UIScrollView>(me);
    // Steps at the frame rate, and the end exactly at the duration.
    motionTimer_ = NSTimer::timerWithTimeInterval(kFrameInterval, true, [weak](const Ref<NSTimer>&) {
        if (auto view = weak.lock()) view->motionStep();
    });
    auto endTimer = NSTimer::timerWithTimeInterval(duration, false, [weak, kind](const Ref<NSTimer>& timer) {
        auto view = weak.lock();
        if (!view || view->motion_ != kind || !view->motionTimer_) return;
        view->motionStart_ = -1;  // marks the end
        view->motionStep();
    });
    // The end a microsecond early, so that advancing a manual clock by exactly the duration
    // reaches it whatever the rounding of the wall-clock seconds.
    endTimer->setFireDate(NSDate::dateWithTimeIntervalSince1970(PlatformClock::now() + duration - 1e-6));
    auto runLoop = NSRunLoop::mainRunLoop();
    runLoop->addTimer(motionTimer_, NSRunLoopCommonModes);
    runLoop->addTimer(endTimer, NSRunLoopCommonModes);
    // The end timer dies with the motion: it checks that its motion still runs.
    endTimer_ = endTimer;
}

void UIScrollView::stopMotion() {
    if (motionTimer_) motionTimer_->invalidate();
    if (endTimer_) endTimer_->invalidate();
    motionTimer_ = nullptr;
    endTimer_ = nullptr;
    motion_ = Motion::None;
    animating_ = false;
    decelerating_ = false;
    scrollingToTop_ = false;
}

void UIScrollView::motionStep() {
    if (motion_ == Motion::None) return;
    auto keepAlive = weak_from_this().lock();
    const bool finished = motionStart_ < 0;
    double t = finished ? 1 : (PlatformClock::monotonic() - motionStart_) / motionDuration_;
    if (!finished) t = std::clamp(t, 0.0, 0.999);
    const double p = motion_ == Motion::Deceleration ? easeOut(t) : easeInOut(t);
    CGPoint offset = finished ? motionTo_
                              : CGPoint{motionFrom_.x + (motionTo_.x - motionFrom_.x) * p,
                                        motionFrom_.y + (motionTo_.y - motionFrom_.y) * p};
    applyOffset(offset);
    if (!finished || motion_ == Motion::None) return;
    const Motion kind = motion_;
    const bool toTop = scrollingToTop_;
    stopMotion();
    auto d = delegate();
    if (kind == Motion::Deceleration) {
        if (d) d->scrollViewDidEndDecelerating(*this);
    } else {
        if (d) d->scrollViewDidEndScrollingAnimation(*this);
        if (toTop && d) d->scrollViewDidScrollToTop(*this);
    }
}

// ---- dragging -----------------------------------------------------------------------------------

bool UIScrollView::canScrollVertically() const {
    return alwaysBounceVertical_ ||
           contentSize_.height + contentInset_.top + contentInset_.bottom > bounds().size.height;
}

bool UIScrollView::canScrollHorizontally() const {
    return alwaysBounceHorizontal_ ||
           contentSize_.width + contentInset_.left + contentInset_.right > bounds().size.width;
}

CGPoint UIScrollView::targetForEndOfDrag(CGPoint velocity) const {
    const CGPoint offset = contentOffset();
    if (pagingEnabled_) {
        const CGSize page = bounds().size;
        auto snap = [](CGFloat position, CGFloat pageSize, CGFloat v) -> CGFloat {
            if (pageSize <= 0) return position;
            const CGFloat pages = position / pageSize;
            CGFloat index = std::round(pages);
            if (v > 0) index = std::floor(pages + 1e-9) + 1;
            if (v < 0) index = std::ceil(pages - 1e-9) - 1;
            return index * pageSize;
        };
        return clampedOffset(
            {snap(offset.x, page.width, velocity.x), snap(offset.y, page.height, velocity.y)});
    }
    return clampedOffset(
        {offset.x + velocity.x * kVelocityProjection, offset.y + velocity.y * kVelocityProjection});
}

bool UIScrollView::beginDrag() {
    if (!scrollEnabled_) return false;
    auto keepAlive = weak_from_this().lock();
    stopMotion();
    lockedAxis_ = 0;
    tracking_ = true;
    dragging_ = true;
    if (keyboardDismissMode_ != UIScrollViewKeyboardDismissModeNone) {
        if (auto w = window()) w->endEditing(true);
    }
    if (auto d = delegate()) d->scrollViewWillBeginDragging(*this);
    return true;
}

void UIScrollView::dragBy(CGFloat dx, CGFloat dy) {
    if (!dragging_) return;
    if (directionalLock_) {
        if (lockedAxis_ == 0 && (dx != 0 || dy != 0)) lockedAxis_ = std::fabs(dx) >= std::fabs(dy) ? 1 : 2;
        if (lockedAxis_ == 1) dy = 0;
        if (lockedAxis_ == 2) dx = 0;
    }
    if (!canScrollHorizontally()) dx = 0;
    if (!canScrollVertically()) dy = 0;
    CGPoint offset = contentOffset();
    offset.x += dx;
    offset.y += dy;
    if (!bounces_) offset = clampedOffset(offset);
    applyOffset(offset);
}

void UIScrollView::endDrag(CGPoint velocity, std::optional<bool> decelerate) {
    if (!dragging_) return;
    auto keepAlive = weak_from_this().lock();
    tracking_ = false;
    CGPoint target = targetForEndOfDrag(velocity);
    auto d = delegate();
    // The delegate hears the platform's unit: points per millisecond.
    if (d) d->scrollViewWillEndDragging(*this, {velocity.x / 1000, velocity.y / 1000}, &target);
    const bool willDecelerate = decelerate.value_or(target != contentOffset());
    dragging_ = false;
    if (d) d->scrollViewDidEndDragging(*this, willDecelerate);
    if (!willDecelerate) return;
    decelerating_ = true;
    if (auto d2 = delegate()) d2->scrollViewWillBeginDecelerating(*this);
    if (!decelerating_) return;  // the delegate moved the offset itself
    startMotion(target, kDecelerationDuration, Motion::Deceleration);
    decelerating_ = true;
}

bool UIScrollView::simulateBeginDragging() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!scrollEnabled_ || dragging_) return dragging_;
    auto keepAlive = weak_from_this().lock();
    ensurePan();
    // The finger lands: the pan begins (its observers hear it), then the drag starts.
    tracking_ = true;
    setPanState(1);
    return beginDrag();
}

void UIScrollView::simulateDragBy(CGFloat dx, CGFloat dy) {
    NS_ASSERT_MAIN_THREAD();
    if (!dragging_) return;
    auto keepAlive = weak_from_this().lock();
    setPanState(2);
    dragBy(dx, dy);
}

void UIScrollView::simulateDragTo(CGPoint offset) {
    NS_ASSERT_MAIN_THREAD();
    const CGPoint current = contentOffset();
    simulateDragBy(offset.x - current.x, offset.y - current.y);
}

void UIScrollView::simulateEndDragging(CGPoint velocity, std::optional<bool> decelerate) {
    NS_ASSERT_MAIN_THREAD();
    if (!dragging_) return;
    auto keepAlive = weak_from_this().lock();
    tracking_ = false;
    setPanState(3);
    endDrag(velocity, decelerate);
    setPanState(0);
}

void UIScrollView::simulateDrag(CGFloat dx, CGFloat dy, int steps, CGPoint velocity) {
    NS_ASSERT_MAIN_THREAD();
    if (!simulateBeginDragging()) return;
    steps = std::max(1, steps);
    for (int i = 0; i < steps; ++i) simulateDragBy(dx / steps, dy / steps);
    simulateEndDragging(velocity);
}

bool UIScrollView::simulateScrollToTop() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!scrollsToTop_) return false;
    auto keepAlive = weak_from_this().lock();
    auto d = delegate();
    if (d && !d->scrollViewShouldScrollToTop(*this).value_or(true)) return false;
    const CGPoint top{contentOffset().x, -contentInset_.top};
    if (top == contentOffset()) {
        if (d) d->scrollViewDidScrollToTop(*this);
        return true;
    }
    setContentOffset(top, true);
    scrollingToTop_ = true;
    return true;
}

const char* UIScrollView::trackingRunLoopMode() {
    return UITrackingRunLoopMode;
}

// ---- the pan recogniser -------------------------------------------------------------------------

void UIScrollView::ensurePan() const {
    if (pan_) return;
    auto me = std::const_pointer_cast<NSObject>(weak_from_this().lock());
    if (!me) return;  // not yet in a Ref: done on first use later
    auto view = std::static_pointer_cast<UIScrollView>(me);
    Weak<UIScrollView> weak = view;
    pan_ = make<UIPanGestureRecognizer>(nullptr, [weak](const Ref<UIGestureRecognizer>&) {
        if (auto v = weak.lock()) v->handlePan();
    });
    view->addGestureRecognizer(pan_);
}

Ref<UIPanGestureRecognizer> UIScrollView::panGestureRecognizer() const {
    ensurePan();
    return pan_;
}

void UIScrollView::setPanState(long state) {
    if (!pan_) return;
    drivingPan_ = true;
    UITestDriver::setGestureRecognizerState(pan_, static_cast<UIGestureRecognizerState>(state));
    drivingPan_ = false;
}

void UIScrollView::handlePan() {
    if (drivingPan_ || !pan_) return;
    auto me = std::static_pointer_cast<UIView>(shared_from_this());
    switch (pan_->state()) {
        case UIGestureRecognizerStateBegan:
            panLastTranslation_ = pan_->translationInView(me);
            beginDrag();
            break;
        case UIGestureRecognizerStateChanged: {
            const CGPoint t = pan_->translationInView(me);
            // The content follows the finger: the offset moves against it.
            dragBy(-(t.x - panLastTranslation_.x), -(t.y - panLastTranslation_.y));
            panLastTranslation_ = t;
            break;
        }
        case UIGestureRecognizerStateEnded: {
            const CGPoint v = pan_->velocityInView(me);
            endDrag({-v.x, -v.y}, std::nullopt);
            break;
        }
        case UIGestureRecognizerStateCancelled:
            endDrag(CGPointZero, std::nullopt);
            break;
        default:
            break;
    }
}

Ref<UIView> UIScrollView::hitTest(CGPoint point, const Ref<UIEvent>& event) {
    ensurePan();
    return UIView::hitTest(point, event);
}

void UIScrollView::didMoveToWindow() {
    ensurePan();
    UIView::didMoveToWindow();
}

// ---- zooming ------------------------------------------------------------------------------------

void UIScrollView::setZoomScale(CGFloat scale) {
    NS_ASSERT_MAIN_THREAD();
    auto d = delegate();
    Ref<UIView> view = d ? d->viewForZoomingInScrollView(*this) : nullptr;
    if (!view) return;
    scale = std::clamp(scale, std::min(minimumZoomScale_, maximumZoomScale_), maximumZoomScale_);
    KVO::willChangeValueForKey(*this, "zoomScale");
    zoomScale_ = scale;
    KVO::didChangeValueForKey(*this, "zoomScale");
    view->setTransform(CGAffineTransformMakeScale(scale, scale));
    CGRect frame = view->frame();
    frame.origin = CGPointZero;
    view->setFrame(frame);
    setContentSize(frame.size);
    if (d) d->scrollViewDidZoom(*this);
}

void UIScrollView::setZoomScale(CGFloat scale, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    setZoomScale(scale);
    if (animated) {
        if (auto d = delegate()) {
            if (auto view = d->viewForZoomingInScrollView(*this))
                d->scrollViewDidEndZooming(*this, view, zoomScale_);
        }
    }
}

// ---- observation --------------------------------------------------------------------------------

Value UIScrollView::valueForKey(const std::string& key) const {
    if (key == "contentOffset") return Value(NSValue_Geometry::valueWithCGPoint(contentOffset()));
    if (key == "contentSize") return Value(NSValue_Geometry::valueWithCGSize(contentSize_));
    if (key == "contentInset") return Value(NSValue_Geometry::valueWithUIEdgeInsets(contentInset_));
    if (key == "dragging") return Value(dragging_);
    if (key == "tracking") return Value(tracking_);
    if (key == "decelerating") return Value(decelerating_);
    if (key == "zoomScale") return Value(zoomScale_);
    return UIView::valueForKey(key);
}

bool UIScrollView::automaticallyNotifiesObserversForKey(const std::string& key) const {
    if (KVO::isAnyOf(key, {"contentOffset", "zoomScale"})) return false;
    return UIView::automaticallyNotifiesObserversForKey(key);
}
