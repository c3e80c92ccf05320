#include "sdk/weibo/util/UIView+WBTSizes.h"

#include "graphics/UIGraphics.h"
#include "uikit/CALayer.h"
#include "uikit/UIScreen.h"
#include "uikit/UIScrollView.h"
#include "uikit/UIViewController.h"

namespace UIView_WBTSizes {

namespace {

void withFrame(const Ref<UIView>& view, const std::function<void(CGRect&)>& change) {
    if (!view) return;
    CGRect frame = view->frame();
    change(frame);
    view->setFrame(frame);
}

CGFloat contentOffsetX(const Ref<UIView>& v) {
    auto scroll = std::dynamic_pointer_cast<UIScrollView>(v);
    return scroll ? scroll->contentOffset().x : 0;
}

CGFloat contentOffsetY(const Ref<UIView>& v) {
    auto scroll = std::dynamic_pointer_cast<UIScrollView>(v);
    return scroll ? scroll->contentOffset().y : 0;
}

Ref<UIImage> snapshot(const Ref<UIView>& view, CGSize size, CGFloat scale, std::optional<CGPoint> translate) {
    if (!view || size.width == 0 || size.height == 0) return nullptr;
    UIGraphicsBeginImageContextWithOptions(size, false, scale);
    auto context = UIGraphicsGetCurrentContext();
    if (translate) CGContextTranslateCTM(context, -translate->x, -translate->y);
    view->layer()->renderInContext(context);
    auto drawn = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    if (!drawn || !drawn->CGImage()) return drawn;
    return UIImage::imageWithCGImage(drawn->CGImage(), scale, UIImageOrientation::Up);
}

CGFloat screenScale() {
    auto screen = UIScreen::mainScreen();
    return screen ? screen->scale() : 1;
}

}  // namespace

CGFloat wbsdkLeft(const Ref<UIView>& v) {
    return v ? v->frame().origin.x : 0;
}
void setWbsdkLeft(const Ref<UIView>& v, CGFloat value) {
    withFrame(v, [&](CGRect& f) { f.origin.x = value; });
}
CGFloat wbsdkTop(const Ref<UIView>& v) {
    return v ? v->frame().origin.y : 0;
}
void setWbsdkTop(const Ref<UIView>& v, CGFloat value) {
    withFrame(v, [&](CGRect& f) { f.origin.y = value; });
}
CGFloat wbsdkRight(const Ref<UIView>& v) {
    return v ? v->frame().origin.x + v->frame().size.width : 0;
}
void setWbsdkRight(const Ref<UIView>& v, CGFloat value) {
    withFrame(v, [&](CGRect& f) { f.origin.x = value - f.size.width; });
}
CGFloat wbsdkBottom(const Ref<UIView>& v) {
    return v ? v->frame().origin.y + v->frame().size.height : 0;
}
void setWbsdkBottom(const Ref<UIView>& v, CGFloat value) {
    withFrame(v, [&](CGRect& f) { f.origin.y = value - f.size.height; });
}
CGFloat wbsdkCenterX(const Ref<UIView>& v) {
    return v ? v->center().x : 0;
}
void setWbsdkCenterX(const Ref<UIView>& v, CGFloat value) {
    if (v) v->setCenter(CGPointMake(value, v->center().y));
}
CGFloat wbsdkCenterY(const Ref<UIView>& v) {
    return v ? v->center().y : 0;
}
void setWbsdkCenterY(const Ref<UIView>& v, CGFloat value) {
    if (v) v->setCenter(CGPointMake(v->center().x, value));
}
CGFloat wbsdkWidth(const Ref<UIView>& v) {
    return v ? v->frame().size.width : 0;
}
void setWbsdkWidth(const Ref<UIView>& v, CGFloat value) {
    withFrame(v, [&](CGRect& f) { f.size.width = value; });
}
CGFloat wbsdkHeight(const Ref<UIView>& v) {
    return v ? v->frame().size.height : 0;
}
void setWbsdkHeight(const Ref<UIView>& v, CGFloat value) {
    withFrame(v, [&](CGRect& f) { f.size.height = value; });
}

CGFloat wbsdkTTScreenX(const Ref<UIView>& view) {
    CGFloat x = 0;
    for (auto v = view; v; v = v->superview()) x += wbsdkLeft(v);
    return x;
}
CGFloat wbsdkTTScreenY(const Ref<UIView>& view) {
    CGFloat y = 0;
    for (auto v = view; v; v = v->superview()) y += wbsdkTop(v);
    return y;
}
CGFloat wbsdkScreenViewX(const Ref<UIView>& view) {
    CGFloat x = 0;
    for (auto v = view; v; v = v->superview()) x += wbsdkLeft(v) - contentOffsetX(v);
    return x;
}
CGFloat wbsdkScreenViewY(const Ref<UIView>& view) {
    CGFloat y = 0;
    for (auto v = view; v; v = v->superview()) y += wbsdkTop(v) - contentOffsetY(v);
    return y;
}
CGRect wbsdkScreenFrame(const Ref<UIView>& view) {
    return CGRectMake(wbsdkScreenViewX(view), wbsdkScreenViewY(view), wbsdkWidth(view), wbsdkHeight(view));
}
CGPoint wbsdkOrigin(const Ref<UIView>& v) {
    return v ? v->frame().origin : CGPointMake(0, 0);
}
void setWbsdkOrigin(const Ref<UIView>& v, CGPoint origin) {
    withFrame(v, [&](CGRect& f) { f.origin = origin; });
}
CGSize wbsdkSize(const Ref<UIView>& v) {
    return v ? v->frame().size : CGSizeMake(0, 0);
}
void setWbsdkSize(const Ref<UIView>& v, CGSize size) {
    withFrame(v, [&](CGRect& f) { f.size = size; });
}

void wbsdk_removeAllSubviews(const Ref<UIView>& view) {
    if (!view) return;
    while (!view->subviews().empty()) view->subviews().back()->removeFromSuperview();
}

CGPoint wbsdk_offsetFromView(const Ref<UIView>& view, const Ref<UIView>& other) {
    CGFloat x = 0, y = 0;
    for (auto v = view; v && v != other; v = v->superview()) {
        x += wbsdkLeft(v);
        y += wbsdkTop(v);
    }
    return CGPointMake(x, y);
}

Ref<UIViewController> wbsdk_viewController(const Ref<UIView>& view) {
    if (!view) return nullptr;
    for (auto v = view->superview(); v; v = v->superview()) {
        if (auto controller = std::dynamic_pointer_cast<UIViewController>(v->nextResponder()))
            return controller;
    }
    return nullptr;
}

Ref<UIImage> wbsdk_imageFromView(const Ref<UIView>& view) {
    return view ? snapshot(view, view->bounds().size, screenScale(), std::nullopt) : nullptr;
}
Ref<UIImage> wbsdk_imageFromViewWithLowResolution(const Ref<UIView>& view) {
    return view ? snapshot(view, view->bounds().size, 0.5, std::nullopt) : nullptr;
}
Ref<UIImage> wbsdk_imageFromViewInRect(const Ref<UIView>& view, CGRect rect) {
    return snapshot(view, rect.size, screenScale(), rect.origin);
}
Ref<UIImage> wbsdk_imageFromViewWithLowResolutionInRect(const Ref<UIView>& view, CGRect rect) {
    return snapshot(view, rect.size, 0.5, rect.origin);
}

CGRect wbsdk_convertFrameToWindow(const Ref<UIView>& view, const Ref<UIView>& stopView) {
    if (!view) return CGRectZero;
    CGRect rect = view->frame();
    for (auto v = view->superview(); v && v != stopView; v = v->superview()) {
        if (auto parent = v->superview()) rect = v->convertRectToView(rect, parent);
    }
    return rect;
}

CGRect wbsdk_expandedFrameWithOffset(CGRect rect, CGFloat offset) {
    if (CGRectIsEmpty(rect)) return CGRectZero;
    return CGRectInset(rect, -offset, -offset);
}
CGRect wbsdk_expandedFrameWithVerticalOffset(CGRect rect, CGFloat offset) {
    if (CGRectIsEmpty(rect)) return CGRectZero;
    return CGRectInset(rect, 0, -offset);
}
CGRect wbsdk_expandedFrameWithHorizontalOffset(CGRect rect, CGFloat offset) {
    if (CGRectIsEmpty(rect)) return CGRectZero;
    return CGRectInset(rect, -offset, 0);
}

}  // namespace UIView_WBTSizes
