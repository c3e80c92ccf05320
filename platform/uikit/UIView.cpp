#include "uikit/UIView.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>

#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSRunLoop.h"
#include "graphics/NSValue+Geometry.h"
#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"
#include "uikit/CAAnimation.h"
#include "uikit/UIScreen.h"
#include "uikit/UIViewInternal.h"
#include "uikit/UIWindow.h"

namespace {

// Views waiting for drawRect, in the order they asked (raw pointers: a view takes itself out in
// its destructor).
std::vector<UIView*>& displayQueue() {
    static std::vector<UIView*> queue;
    return queue;
}
bool gLayoutPending = false;

std::map<std::uint64_t, std::function<void(UIView&)>>& layoutEngineHooks() {
    static std::map<std::uint64_t, std::function<void(UIView&)>> hooks;
    return hooks;
}
std::uint64_t gNextLayoutHook = 1;
UIView::GestureAttachHook& gestureAttachHook() {
    static UIView::GestureAttachHook hook;
    return hook;
}
UIView::FittingSizeHook& fittingSizeHook() {
    static UIView::FittingSizeHook hook;
    return hook;
}
UIView::IntrinsicSizeInvalidationHook& intrinsicInvalidationHook() {
    static UIView::IntrinsicSizeInvalidationHook hook;
    return hook;
}

const char* gravityForContentMode(UIViewContentMode mode) {
    switch (mode) {
        case UIViewContentModeScaleToFill:
        case UIViewContentModeRedraw:
            return kCAGravityResize;
        case UIViewContentModeScaleAspectFit:
            return kCAGravityResizeAspect;
        case UIViewContentModeScaleAspectFill:
            return kCAGravityResizeAspectFill;
        case UIViewContentModeCenter:
            return kCAGravityCenter;
        // Gravity names count y upwards (see CALayer.h): a view's top is the layer's bottom.
        case UIViewContentModeTop:
            return kCAGravityBottom;
        case UIViewContentModeBottom:
            return kCAGravityTop;
        case UIViewContentModeLeft:
            return kCAGravityLeft;
        case UIViewContentModeRight:
            return kCAGravityRight;
        case UIViewContentModeTopLeft:
            return kCAGravityBottomLeft;
        case UIViewContentModeTopRight:
            return kCAGravityBottomRight;
        case UIViewContentModeBottomLeft:
            return kCAGravityTopLeft;
        case UIViewContentModeBottomRight:
            return kCAGravityTopRight;
    }
    return kCAGravityResize;
}

// One axis of autoresizing: the change of the superview's size goes to the flexible parts (left
// margin, size, right margin) in proportion to their current lengths, or evenly when those add up
// to nothing.
void autoresizeAxis(bool flexLead, bool flexSize, bool flexTrail, CGFloat oldSuper, CGFloat newSuper,
                    CGFloat& origin, CGFloat& size) {
    const CGFloat delta = newSuper - oldSuper;
    if (delta == 0) return;
    const CGFloat lead = origin, trail = oldSuper - (origin + size);
    int count = int(flexLead) + int(flexSize) + int(flexTrail);
    if (count == 0) return;
    CGFloat sum = (flexLead ? lead : 0) + (flexSize ? size : 0) + (flexTrail ? trail : 0);
    auto share = [&](bool flexible, CGFloat part) -> CGFloat {
        if (!flexible) return 0;
        if (sum > 0 && part >= 0) return delta * part / sum;
        if (sum > 0) return 0;
        return delta / count;
    };
    CGFloat dLead = share(flexLead, lead), dSize = share(flexSize, size);
    origin += dLead;
    size = std::max<CGFloat>(0, size + dSize);
}

}  // namespace

// ---- private links ----------------------------------------------------------------------------

void detail::UIViewAccess::layerGeometryChanged(UIView& view, CGSize oldSize) {
    view.geometryChanged(oldSize);
}

void detail::ensureDisplayCycleHook() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    NSRunLoop::addEndOfTurnHook([] { UIView::runLayoutAndDisplayCycle(); });
}

// ---- life -------------------------------------------------------------------------------------

UIView::UIView() = default;

UIView::UIView(CGRect frame) : initialFrame_(frame) {}

UIView::~UIView() {
    auto& queue = displayQueue();
    queue.erase(std::remove(queue.begin(), queue.end(), this), queue.end());
    for (auto& sub : subviews_) sub->superview_ = nullptr;
    if (layer_) layer_->setOwningView(nullptr);
    for (auto& recognizer : gestureRecognizers_) {
        if (gestureAttachHook()) gestureAttachHook()(this, recognizer, false);
    }
}

std::string UIView::description() const {
    CGRect f = layer_ ? frame() : initialFrame_;
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "<%s: %p; frame = (%g %g; %g %g)>", className().c_str(),
                  static_cast<const void*>(this), f.origin.x, f.origin.y, f.size.width, f.size.height);
    return buffer;
}

const Ref<CALayer>& UIView::layer() const {
    if (!layer_) {
        Ref<CALayer> layer = makeLayer();
        if (!layer) layer = make<CALayer>();
        layer->setFrame(initialFrame_);
        layer->setContentsScale(contentScaleFactor());
        layer->setContentsGravity(gravityForContentMode(contentMode_));
        layer->setOpaque(opaque_);
        layer->setHidden(initiallyHidden_);
        layer_ = layer;
        layer_->setOwningView(const_cast<UIView*>(this));
    }
    return layer_;
}

// ---- geometry ---------------------------------------------------------------------------------

CGRect UIView::frame() const {
    return L().frame();
}

void UIView::setFrame(CGRect frame) {
    NS_ASSERT_MAIN_THREAD();
    if (detail::viewAnimationCaptureActive()) {
        CGRect oldBounds = bounds();
        CGPoint oldPosition = L().position();
        CGRect f = CGRectStandardize(frame);
        L().setFrame(f);
        recordAnimatableChange("position", NSValue_Geometry::valueWithCGPoint(oldPosition),
                               NSValue_Geometry::valueWithCGPoint(L().position()));
        recordAnimatableChange("bounds", NSValue_Geometry::valueWithCGRect(oldBounds),
                               NSValue_Geometry::valueWithCGRect(bounds()));
        return;
    }
    L().setFrame(frame);
}

CGRect UIView::bounds() const {
    return L().bounds();
}

void UIView::setBounds(CGRect bounds) {
    NS_ASSERT_MAIN_THREAD();
    CGRect old = L().bounds();
    bounds = CGRectStandardize(bounds);
    L().setBounds(bounds);
    recordAnimatableChange("bounds", NSValue_Geometry::valueWithCGRect(old),
                           NSValue_Geometry::valueWithCGRect(bounds));
}

CGPoint UIView::center() const {
    return L().position();
}

void UIView::setCenter(CGPoint center) {
    NS_ASSERT_MAIN_THREAD();
    CGPoint old = L().position();
    L().setPosition(center);
    recordAnimatableChange("position", NSValue_Geometry::valueWithCGPoint(old),
                           NSValue_Geometry::valueWithCGPoint(center));
}

CGAffineTransform UIView::transform() const {
    return L().affineTransform();
}

void UIView::setTransform(CGAffineTransform transform) {
    NS_ASSERT_MAIN_THREAD();
    CATransform3D old = L().transform();
    L().setAffineTransform(transform);
    recordAnimatableChange("transform", NSValue_CATransform3D::valueWithCATransform3D(old),
                           NSValue_CATransform3D::valueWithCATransform3D(L().transform()));
}

CGFloat UIView::contentScaleFactor() const {
    return contentScaleFactor_ ? *contentScaleFactor_ : UIScreen::mainScreen()->scale();
}

void UIView::setContentScaleFactor(CGFloat scale) {
    NS_ASSERT_MAIN_THREAD();
    if (scale <= 0) return;
    contentScaleFactor_ = scale;
    L().setContentsScale(scale);
    setNeedsDisplay();
}

// ---- appearance -------------------------------------------------------------------------------

CGFloat UIView::alpha() const {
    return L().opacity();
}

void UIView::setAlpha(CGFloat alpha) {
    NS_ASSERT_MAIN_THREAD();
    CGFloat old = L().opacity();
    L().setOpacity(float(alpha));
    recordAnimatableChange("opacity", Value(old), Value(double(L().opacity())));
}

bool UIView::isHidden() const {
    return L().isHidden();
}

void UIView::setHidden(bool hidden) {
    NS_ASSERT_MAIN_THREAD();
    if (hidden == L().isHidden()) return;
    L().setHidden(hidden);
    if (hidden) {
        // A hidden view cannot stay first responder.
        if (UIWindow* window = windowPointer()) {
            auto responder = window->firstResponder();
            if (auto* view = dynamic_cast<UIView*>(responder.get()); view && view->isDescendantOfView(this)) {
                responder->resignFirstResponder();
            }
        }
    }
}

void UIView::setOpaque(bool opaque) {
    NS_ASSERT_MAIN_THREAD();
    opaque_ = opaque;
    L().setOpaque(opaque);
}

void UIView::setBackgroundColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    CGColorRef old = L().backgroundColor();
    backgroundColor_ = color;
    L().setBackgroundColor(color ? color->CGColor() : nullptr);
    recordAnimatableChange("backgroundColor", Value(old), Value(L().backgroundColor()));
}

bool UIView::clipsToBounds() const {
    return L().masksToBounds();
}

void UIView::setClipsToBounds(bool clips) {
    NS_ASSERT_MAIN_THREAD();
    L().setMasksToBounds(clips);
}

void UIView::setContentMode(UIViewContentMode mode) {
    NS_ASSERT_MAIN_THREAD();
    contentMode_ = mode;
    L().setContentsGravity(gravityForContentMode(mode));
}

Ref<UIColor> UIView::tintColor() const {
    for (const UIView* v = this; v; v = v->superview_) {
        if (v->tintColor_) return v->tintColor_;
    }
    static const Ref<UIColor> systemBlue = UIColor::colorWithRed(0, 122.0 / 255, 1, 1);
    return systemBlue;
}

void UIView::setTintColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    tintColor_ = color;
    tintChanged();
}

void UIView::tintChanged() {
    tintColorDidChange();
    for (auto& sub : std::vector<Ref<UIView>>(subviews_)) {
        if (!sub->tintColor_) sub->tintChanged();
    }
}

Ref<UIView> UIView::viewWithTag(long tag) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (tag_ == tag) return std::static_pointer_cast<UIView>(self());
    for (auto& sub : subviews_) {
        if (auto found = sub->viewWithTag(tag)) return found;
    }
    return nullptr;
}

// ---- hierarchy --------------------------------------------------------------------------------

Ref<UIView> UIView::superview() const {
    if (!superview_) return nullptr;
    return std::static_pointer_cast<UIView>(superview_->weak_from_this().lock());
}

UIWindow* UIView::windowPointer() const {
    return dynamic_cast<UIWindow*>(const_cast<UIView*>(rootView()));
}

Ref<UIWindow> UIView::window() const {
    UIWindow* window = windowPointer();
    if (!window) return nullptr;
    return std::static_pointer_cast<UIWindow>(window->weak_from_this().lock());
}

const UIView* UIView::rootView() const {
    const UIView* v = this;
    while (v->superview_) v = v->superview_;
    return v;
}

bool UIView::isDescendantOfView(const UIView* view) const {
    if (!view) return false;
    for (const UIView* v = this; v; v = v->superview_) {
        if (v == view) return true;
    }
    return false;
}

bool UIView::isDescendantOfView(const Ref<UIView>& view) const {
    return isDescendantOfView(view.get());
}

void UIView::moveToWindow(UIWindow* oldWindow, UIWindow* newWindow, bool will) {
    Ref<UIWindow> target =
        newWindow ? std::static_pointer_cast<UIWindow>(newWindow->weak_from_this().lock()) : nullptr;
    if (will) {
        willMoveToWindow(target);
    } else {
        didMoveToWindow();
        if (newWindow && needsDisplay_) detail::ensureDisplayCycleHook();
    }
    for (auto& sub : std::vector<Ref<UIView>>(subviews_)) sub->moveToWindow(oldWindow, newWindow, will);
}

void UIView::insertSubviewInternal(const Ref<UIView>& view, std::size_t index) {
    if (!view || view.get() == this || isDescendantOfView(view.get())) return;
    Ref<UIView> keep = view;
    if (view->superview_ == this) {
        // Only the order changes.
        auto it = std::find(subviews_.begin(), subviews_.end(), view);
        std::size_t old = std::size_t(it - subviews_.begin());
        subviews_.erase(it);
        if (index > old && index != std::numeric_limits<std::size_t>::max()) --index;
        index = std::min(index, subviews_.size());
        subviews_.insert(subviews_.begin() + long(index), view);
    } else {
        UIWindow* oldWindow = view->windowPointer();
        UIWindow* newWindow = windowPointer();
        Ref<UIView> me = std::static_pointer_cast<UIView>(weak_from_this().lock());
        view->willMoveToSuperview(me);
        if (UIView* old = view->superview_) {
            old->willRemoveSubview(view);
        }
        if (oldWindow != newWindow) {
            if (oldWindow) {
                auto responder = oldWindow->firstResponder();
                if (auto* fr = dynamic_cast<UIView*>(responder.get());
                    fr && fr->isDescendantOfView(view.get())) {
                    if (!responder->resignFirstResponder() || oldWindow->firstResponder() == responder) {
                        oldWindow->setFirstResponderInternal(nullptr);
                    }
                }
            }
            view->moveToWindow(oldWindow, newWindow, true);
        }
        if (UIView* old = view->superview_) {
            auto it = std::find(old->subviews_.begin(), old->subviews_.end(), view);
            if (it != old->subviews_.end()) old->subviews_.erase(it);
            old->setNeedsLayout();
        }
        index = std::min(index, subviews_.size());
        subviews_.insert(subviews_.begin() + long(index), view);
        view->superview_ = this;
        if (oldWindow != newWindow) view->moveToWindow(oldWindow, newWindow, false);
        view->didMoveToSuperview();
        didAddSubview(view);
        if (view->superview_ == this && !view->tintColor_) view->tintChanged();
    }
    // The layer tree follows: the view's layer goes just above its lower sibling's layer.
    if (view->superview_ == this) {
        auto it = std::find(subviews_.begin(), subviews_.end(), view);
        std::size_t pos = std::size_t(it - subviews_.begin());
        if (pos == 0) {
            // Below every other subview's layer, above free-standing layers that come first.
            if (subviews_.size() > 1) {
                L().insertSublayerBelow(view->layer(), subviews_[1]->layer());
            } else {
                L().addSublayer(view->layer());
            }
        } else {
            L().insertSublayerAbove(view->layer(), subviews_[pos - 1]->layer());
        }
        view->setNeedsLayout();
        if (view->subtreeNeedsLayout_) view->markSubtreeNeedsLayout();
        setNeedsLayout();
    }
}

void UIView::addSubview(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    insertSubviewInternal(view, std::numeric_limits<std::size_t>::max());
}

void UIView::insertSubviewAtIndex(const Ref<UIView>& view, std::size_t index) {
    NS_ASSERT_MAIN_THREAD();
    insertSubviewInternal(view, index);
}

void UIView::insertSubviewBelow(const Ref<UIView>& view, const Ref<UIView>& sibling) {
    NS_ASSERT_MAIN_THREAD();
    auto it = std::find(subviews_.begin(), subviews_.end(), sibling);
    if (!sibling || it == subviews_.end()) return addSubview(view);
    insertSubviewInternal(view, std::size_t(it - subviews_.begin()));
}

void UIView::insertSubviewAbove(const Ref<UIView>& view, const Ref<UIView>& sibling) {
    NS_ASSERT_MAIN_THREAD();
    auto it = std::find(subviews_.begin(), subviews_.end(), sibling);
    if (!sibling || it == subviews_.end()) return addSubview(view);
    insertSubviewInternal(view, std::size_t(it - subviews_.begin()) + 1);
}

void UIView::removeFromSuperview() {
    NS_ASSERT_MAIN_THREAD();
    UIView* parent = superview_;
    if (!parent) return;
    Ref<UIView> me = std::static_pointer_cast<UIView>(weak_from_this().lock());
    if (!me) return;
    UIWindow* oldWindow = windowPointer();
    parent->willRemoveSubview(me);
    willMoveToSuperview(nullptr);
    if (oldWindow) {
        auto responder = oldWindow->firstResponder();
        if (auto* fr = dynamic_cast<UIView*>(responder.get()); fr && fr->isDescendantOfView(this)) {
            if (!responder->resignFirstResponder() || oldWindow->firstResponder() == responder) {
                oldWindow->setFirstResponderInternal(nullptr);
            }
        }
        moveToWindow(oldWindow, nullptr, true);
    }
    if (superview_ == parent) {
        auto it = std::find(parent->subviews_.begin(), parent->subviews_.end(), me);
        if (it != parent->subviews_.end()) parent->subviews_.erase(it);
        superview_ = nullptr;
        L().removeFromSuperlayer();
        parent->setNeedsLayout();
    }
    if (oldWindow) moveToWindow(oldWindow, nullptr, false);
    didMoveToSuperview();
}

void UIView::bringSubviewToFront(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (!view || view->superview_ != this) return;
    insertSubviewInternal(view, std::numeric_limits<std::size_t>::max());
}

void UIView::sendSubviewToBack(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (!view || view->superview_ != this) return;
    insertSubviewInternal(view, 0);
}

void UIView::exchangeSubviewAtIndex(std::size_t index1, std::size_t index2) {
    NS_ASSERT_MAIN_THREAD();
    if (index1 >= subviews_.size() || index2 >= subviews_.size() || index1 == index2) return;
    Ref<UIView> a = subviews_[index1], b = subviews_[index2];
    std::swap(subviews_[index1], subviews_[index2]);
    // Exchange the layers' places too.
    auto& sublayers = L().sublayers();
    auto ia = std::find(sublayers.begin(), sublayers.end(), a->layer());
    auto ib = std::find(sublayers.begin(), sublayers.end(), b->layer());
    if (ia == sublayers.end() || ib == sublayers.end()) return;
    std::size_t pa = std::size_t(ia - sublayers.begin()), pb = std::size_t(ib - sublayers.begin());
    Ref<CALayer> la = a->layer(), lb = b->layer();
    if (pa < pb) {
        L().insertSublayerAtIndex(la, pb);  // la now after lb
        L().insertSublayerAtIndex(lb, pa);
    } else {
        L().insertSublayerAtIndex(lb, pa);
        L().insertSublayerAtIndex(la, pb);
    }
}

// ---- layout -----------------------------------------------------------------------------------

void UIView::geometryChanged(CGSize oldBoundsSize) {
    CGSize size = L().bounds().size;
    if (size == oldBoundsSize) return;
    boundsSizeDidChange(oldBoundsSize);
    if (autoresizesSubviews_) resizeSubviewsWithOldSize(oldBoundsSize);
    setNeedsLayout();
    if (superview_) superview_->setNeedsLayout();
    if (contentMode_ == UIViewContentModeRedraw) setNeedsDisplay();
}

void UIView::resizeSubviewsWithOldSize(CGSize oldSize) {
    CGSize newSize = L().bounds().size;
    for (auto& sub : std::vector<Ref<UIView>>(subviews_)) {
        if (sub->superview_ == this) sub->autoresizeWithOldSuperviewSize(oldSize, newSize);
    }
}

void UIView::autoresizeWithOldSuperviewSize(CGSize oldSize, CGSize newSize) {
    const UIViewAutoresizing m = autoresizingMask_;
    if (m == UIViewAutoresizingNone) return;
    CGRect f = frame();
    autoresizeAxis(m & UIViewAutoresizingFlexibleLeftMargin, m & UIViewAutoresizingFlexibleWidth,
                   m & UIViewAutoresizingFlexibleRightMargin, oldSize.width, newSize.width, f.origin.x,
                   f.size.width);
    autoresizeAxis(m & UIViewAutoresizingFlexibleTopMargin, m & UIViewAutoresizingFlexibleHeight,
                   m & UIViewAutoresizingFlexibleBottomMargin, oldSize.height, newSize.height, f.origin.y,
                   f.size.height);
    if (f != frame()) setFrame(f);
}

void UIView::markSubtreeNeedsLayout() {
    for (UIView* v = superview_; v && !v->subtreeNeedsLayout_; v = v->superview_)
        v->subtreeNeedsLayout_ = true;
    gLayoutPending = true;
    detail::ensureDisplayCycleHook();
}

void UIView::setNeedsLayout() {
    NS_ASSERT_MAIN_THREAD();
    needsLayout_ = true;
    markSubtreeNeedsLayout();
}

void UIView::layoutIfNeeded() {
    NS_ASSERT_MAIN_THREAD();
    UIView* top = this;
    for (UIView* v = superview_; v; v = v->superview_) {
        if (v->needsLayout_) top = v;
    }
    Ref<NSObject> keep = top->weak_from_this().lock();
    top->layoutSubtreeIfNeeded();
}

void UIView::layoutThisView() {
    needsLayout_ = false;
    inLayout_ = true;
    updateConstraintsIfNeeded();
    // The hooks may be changed by a hook; run over a copy.
    auto hooks = layoutEngineHooks();
    for (auto& [token, hook] : hooks) {
        if (hook) hook(*this);
    }
    layoutSubviews();
    inLayout_ = false;
}

void UIView::layoutSubtreeIfNeeded() {
    if (!needsLayout_ && !subtreeNeedsLayout_) return;
    subtreeNeedsLayout_ = false;
    if (needsLayout_) layoutThisView();
    for (auto& sub : std::vector<Ref<UIView>>(subviews_)) {
        if (sub->superview_ == this) sub->layoutSubtreeIfNeeded();
    }
}

CGSize UIView::sizeThatFits(CGSize size) const {
    return bounds().size;
}

void UIView::sizeToFit() {
    NS_ASSERT_MAIN_THREAD();
    CGRect f = frame();
    CGSize fitted = sizeThatFits(bounds().size);
    setFrame({f.origin, fitted});
}

// ---- display ----------------------------------------------------------------------------------

void UIView::setNeedsDisplay() {
    NS_ASSERT_MAIN_THREAD();
    if (!needsDisplay_) {
        needsDisplay_ = true;
        displayQueue().push_back(this);
    }
    detail::ensureDisplayCycleHook();
}

void UIView::setNeedsDisplayInRect(CGRect rect) {
    NS_ASSERT_MAIN_THREAD();
    setNeedsDisplay();
}

void UIView::drawRect(CGRect rect) {}

void UIView::displayNow() {
    NS_ASSERT_MAIN_THREAD();
    needsDisplay_ = false;
    auto& queue = displayQueue();
    queue.erase(std::remove(queue.begin(), queue.end(), this), queue.end());
    CGRect b = bounds();
    if (b.size.width <= 0 || b.size.height <= 0) {
        L().setContents(nullptr);
        return;
    }
    Ref<NSObject> keep = weak_from_this().lock();
    const CGFloat scale = contentScaleFactor();
    UIGraphicsBeginImageContextWithOptions(b.size, false, scale);
    if (CGContextRef context = UIGraphicsGetCurrentContext()) {
        CGContextTranslateCTM(context, -b.origin.x, -b.origin.y);
        drawRect(b);
    }
    // The backing store takes the context's pixels: a view as large as the screen (a HUD) would
    // otherwise cost a screen-sized copy each time it is drawn.
    Ref<UIImage> image = detail::endImageContextWithImage();
    L().setContents(image ? image->CGImage() : nullptr);
    L().setContentsScale(scale);
}

void UIView::drawContentForRendering(const CGContextRef& context) {
    NS_ASSERT_MAIN_THREAD();
    CGRect b = bounds();
    CGContextSaveGState(context);
    CGContextClipToRect(context, b);
    UIGraphicsPushContext(context);
    drawRect(b);
    UIGraphicsPopContext();
    CGContextRestoreGState(context);
}

void UIView::runLayoutAndDisplayCycle() {
    if (gLayoutPending) {
        gLayoutPending = false;
        for (auto& window : UIWindow::allWindows()) {
            if (window->needsLayout_ || window->subtreeNeedsLayout_) window->layoutSubtreeIfNeeded();
        }
    }
    auto& queue = displayQueue();
    if (queue.empty()) return;
    std::vector<Ref<UIView>> due;
    for (UIView* view : queue) {
        if (view->needsDisplay_ && view->windowPointer()) {
            if (auto ref = std::static_pointer_cast<UIView>(view->weak_from_this().lock()))
                due.push_back(ref);
        }
    }
    for (auto& view : due) {
        if (view->needsDisplay_ && view->windowPointer()) view->displayNow();
    }
}

bool UIView::drawViewHierarchyInRect(CGRect rect, bool afterScreenUpdates) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context) return true;
    CGRect b = bounds();
    CGContextSaveGState(context);
    CGContextTranslateCTM(context, rect.origin.x, rect.origin.y);
    if (b.size.width > 0 && b.size.height > 0) {
        CGContextScaleCTM(context, rect.size.width / b.size.width, rect.size.height / b.size.height);
    }
    CGContextTranslateCTM(context, -b.origin.x, -b.origin.y);
    L().renderInContext(context);
    CGContextRestoreGState(context);
    return true;
}

// ---- hit testing and conversion ---------------------------------------------------------------

Ref<UIView> UIView::hitTest(CGPoint point, const Ref<UIEvent>& event) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (isHidden() || !userInteractionEnabled_ || L().opacity() < 0.01f || blockingAnimations_ > 0)
        return nullptr;
    if (!pointInside(point, event)) return nullptr;
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
        const Ref<UIView>& sub = *it;
        CGPoint local =
            CGPointApplyAffineTransform(point, CGAffineTransformInvert(sub->L().transformToSuperlayer()));
        if (auto hit = sub->hitTest(local, event)) return hit;
    }
    return std::static_pointer_cast<UIView>(self());
}

bool UIView::pointInside(CGPoint point, const Ref<UIEvent>& event) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return CGRectContainsPoint(bounds(), point);
}

CGAffineTransform UIView::transformToRoot(const UIView* stopAt) const {
    CGAffineTransform m = CGAffineTransformIdentity;
    for (const UIView* v = this; v && v != stopAt; v = v->superview_) {
        if (!v->superview_ && !stopAt) break;
        m = CGAffineTransformConcat(m, v->L().transformToSuperlayer());
    }
    return m;
}

namespace {
// This view's space into the screen (or whatever space the root's frame is in).
CGAffineTransform toOuterSpace(const UIView* view) {
    CGAffineTransform m = CGAffineTransformIdentity;
    for (const UIView* v = view; v; v = v->superviewPointer()) {
        m = CGAffineTransformConcat(m, v->layer()->transformToSuperlayer());
    }
    return m;
}
}  // namespace

CGPoint UIView::convertPointToView(CGPoint point, const Ref<UIView>& view) const {
    return convertRectToView({point, {0, 0}}, view).origin;
}

CGPoint UIView::convertPointFromView(CGPoint point, const Ref<UIView>& view) const {
    return convertRectFromView({point, {0, 0}}, view).origin;
}

CGRect UIView::convertRectToView(CGRect rect, const Ref<UIView>& view) const {
    const UIView* myRoot = rootView();
    CGAffineTransform m;
    if (!view) {
        m = transformToRoot(myRoot);
    } else if (view->rootView() == myRoot) {
        m = CGAffineTransformConcat(transformToRoot(myRoot),
                                    CGAffineTransformInvert(view->transformToRoot(myRoot)));
    } else {
        m = CGAffineTransformConcat(toOuterSpace(this), CGAffineTransformInvert(toOuterSpace(view.get())));
    }
    if (rect.size.width == 0 && rect.size.height == 0) {
        return {CGPointApplyAffineTransform(rect.origin, m), {0, 0}};
    }
    return CGRectApplyAffineTransform(rect, m);
}

CGRect UIView::convertRectFromView(CGRect rect, const Ref<UIView>& view) const {
    const UIView* myRoot = rootView();
    CGAffineTransform m;
    if (!view) {
        m = CGAffineTransformInvert(transformToRoot(myRoot));
    } else if (view->rootView() == myRoot) {
        m = CGAffineTransformConcat(view->transformToRoot(myRoot),
                                    CGAffineTransformInvert(transformToRoot(myRoot)));
    } else {
        m = CGAffineTransformConcat(toOuterSpace(view.get()), CGAffineTransformInvert(toOuterSpace(this)));
    }
    if (rect.size.width == 0 && rect.size.height == 0) {
        return {CGPointApplyAffineTransform(rect.origin, m), {0, 0}};
    }
    return CGRectApplyAffineTransform(rect, m);
}

// ---- input and responders ---------------------------------------------------------------------

bool UIView::endEditing(bool force) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    UIWindow* window = windowPointer();
    if (!window) return true;
    auto responder = window->firstResponder();
    auto* view = dynamic_cast<UIView*>(responder.get());
    if (!view || !view->isDescendantOfView(this)) return true;
    if (force) {
        responder->resignFirstResponder();
        if (window->firstResponder() == responder) window->setFirstResponderInternal(nullptr);
        return true;
    }
    if (!responder->canResignFirstResponder()) return false;
    return responder->resignFirstResponder();
}

Ref<UIResponder> UIView::nextResponder() const {
    if (auto controller = controller_.lock()) return controller;
    return superview();
}

// ---- gesture recognisers ----------------------------------------------------------------------

void UIView::addGestureRecognizer(const Ref<UIGestureRecognizer>& recognizer) {
    NS_ASSERT_MAIN_THREAD();
    if (!recognizer) return;
    if (std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer) !=
        gestureRecognizers_.end()) {
        return;
    }
    gestureRecognizers_.push_back(recognizer);
    if (gestureAttachHook()) gestureAttachHook()(this, recognizer, true);
}

void UIView::removeGestureRecognizer(const Ref<UIGestureRecognizer>& recognizer) {
    NS_ASSERT_MAIN_THREAD();
    auto it = std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer);
    if (it == gestureRecognizers_.end()) return;
    Ref<UIGestureRecognizer> keep = *it;
    gestureRecognizers_.erase(it);
    if (gestureAttachHook()) gestureAttachHook()(this, keep, false);
}

void UIView::setGestureRecognizerAttachHook(GestureAttachHook hook) {
    gestureAttachHook() = std::move(hook);
}

// ---- constraints ------------------------------------------------------------------------------

void UIView::addConstraint(const Ref<NSLayoutConstraint>& constraint) {
    NS_ASSERT_MAIN_THREAD();
    if (!constraint) return;
    if (std::find(constraints_.begin(), constraints_.end(), constraint) != constraints_.end()) return;
    constraints_.push_back(constraint);
    setNeedsLayout();
}

void UIView::addConstraints(const std::vector<Ref<NSLayoutConstraint>>& constraints) {
    NS_ASSERT_MAIN_THREAD();
    for (auto& c : constraints) addConstraint(c);
}

void UIView::removeConstraint(const Ref<NSLayoutConstraint>& constraint) {
    NS_ASSERT_MAIN_THREAD();
    auto it = std::find(constraints_.begin(), constraints_.end(), constraint);
    if (it == constraints_.end()) return;
    constraints_.erase(it);
    setNeedsLayout();
}

void UIView::removeConstraints(const std::vector<Ref<NSLayoutConstraint>>& constraints) {
    NS_ASSERT_MAIN_THREAD();
    for (auto& c : constraints) removeConstraint(c);
}

void UIView::setNeedsUpdateConstraints() {
    NS_ASSERT_MAIN_THREAD();
    needsUpdateConstraints_ = true;
    setNeedsLayout();
}

void UIView::updateConstraintsIfNeeded() {
    NS_ASSERT_MAIN_THREAD();
    if (!needsUpdateConstraints_) return;
    needsUpdateConstraints_ = false;
    updateConstraints();
}

std::uint64_t UIView::addLayoutEngineHook(std::function<void(UIView&)> hook) {
    std::uint64_t token = gNextLayoutHook++;
    layoutEngineHooks()[token] = std::move(hook);
    return token;
}

void UIView::removeLayoutEngineHook(std::uint64_t token) {
    layoutEngineHooks().erase(token);
}

void UIView::invalidateIntrinsicContentSize() {
    NS_ASSERT_MAIN_THREAD();
    if (intrinsicInvalidationHook()) intrinsicInvalidationHook()(*this);
    setNeedsLayout();
    if (superview_) superview_->setNeedsLayout();
}

CGSize UIView::systemLayoutSizeFittingSize(CGSize targetSize) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    return systemLayoutSizeFittingSize(targetSize, UILayoutPriorityFittingSizeLevel,
                                       UILayoutPriorityFittingSizeLevel);
}

CGSize UIView::systemLayoutSizeFittingSize(CGSize targetSize, UILayoutPriority horizontal,
                                           UILayoutPriority vertical) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (fittingSizeHook()) return fittingSizeHook()(*this, targetSize, horizontal, vertical);
    return bounds().size;
}

void UIView::setSystemLayoutSizeFittingHook(FittingSizeHook hook) {
    fittingSizeHook() = std::move(hook);
}

void UIView::setIntrinsicContentSizeInvalidationHook(IntrinsicSizeInvalidationHook hook) {
    intrinsicInvalidationHook() = std::move(hook);
}

UILayoutPriority UIView::contentHuggingPriorityForAxis(UILayoutConstraintAxis axis) const {
    return hugging_[axis == UILayoutConstraintAxisVertical ? 1 : 0];
}
void UIView::setContentHuggingPriority(UILayoutPriority priority, UILayoutConstraintAxis axis) {
    NS_ASSERT_MAIN_THREAD();
    hugging_[axis == UILayoutConstraintAxisVertical ? 1 : 0] = priority;
}
UILayoutPriority UIView::contentCompressionResistancePriorityForAxis(UILayoutConstraintAxis axis) const {
    return compression_[axis == UILayoutConstraintAxisVertical ? 1 : 0];
}
void UIView::setContentCompressionResistancePriority(UILayoutPriority priority, UILayoutConstraintAxis axis) {
    NS_ASSERT_MAIN_THREAD();
    compression_[axis == UILayoutConstraintAxisVertical ? 1 : 0] = priority;
}

// ---- motion effects ---------------------------------------------------------------------------

void UIView::addMotionEffect(const Ref<NSObject>& effect) {
    NS_ASSERT_MAIN_THREAD();
    if (effect) motionEffects_.push_back(effect);
}

void UIView::removeMotionEffect(const Ref<NSObject>& effect) {
    NS_ASSERT_MAIN_THREAD();
    motionEffects_.erase(std::remove(motionEffects_.begin(), motionEffects_.end(), effect),
                         motionEffects_.end());
}

// ---- animations -------------------------------------------------------------------------------

void UIView::recordAnimatableChange(const std::string& layerKey, const Value& fromValue,
                                    const Value& toValue) {
    if (detail::viewAnimationCaptureActive())
        detail::recordViewAnimatableChange(*this, layerKey, fromValue, toValue);
}

std::size_t UIView::runningAnimationCount() const {
    return L().animationCount();
}
