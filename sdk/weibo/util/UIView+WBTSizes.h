#pragma once
// The Weibo SDK's view helpers: frame accessors by edge, centre and size, positions on the
// screen, searches up and down the view tree, snapshots, and frame conversions.

#include "graphics/CGGeometry.h"
#include "graphics/UIImage.h"
#include "uikit/UIView.h"

class UIViewController;

namespace UIView_WBTSizes {

CGFloat wbsdkLeft(const Ref<UIView>& view);
void setWbsdkLeft(const Ref<UIView>& view, CGFloat value);
CGFloat wbsdkTop(const Ref<UIView>& view);
void setWbsdkTop(const Ref<UIView>& view, CGFloat value);
CGFloat wbsdkRight(const Ref<UIView>& view);
// Moves the view so its right edge is there; the size stays.
void setWbsdkRight(const Ref<UIView>& view, CGFloat value);
CGFloat wbsdkBottom(const Ref<UIView>& view);
void setWbsdkBottom(const Ref<UIView>& view, CGFloat value);
CGFloat wbsdkCenterX(const Ref<UIView>& view);
void setWbsdkCenterX(const Ref<UIView>& view, CGFloat value);
CGFloat wbsdkCenterY(const Ref<UIView>& view);
void setWbsdkCenterY(const Ref<UIView>& view, CGFloat value);
CGFloat wbsdkWidth(const Ref<UIView>& view);
void setWbsdkWidth(const Ref<UIView>& view, CGFloat value);
CGFloat wbsdkHeight(const Ref<UIView>& view);
void setWbsdkHeight(const Ref<UIView>& view, CGFloat value);
// The sum of the left (top) edges of the view and its ancestors; 0 for nil.
CGFloat wbsdkTTScreenX(const Ref<UIView>& view);
CGFloat wbsdkTTScreenY(const Ref<UIView>& view);
// The same, less the content offset of every scroll view on the way (the view included).
CGFloat wbsdkScreenViewX(const Ref<UIView>& view);
CGFloat wbsdkScreenViewY(const Ref<UIView>& view);
CGRect wbsdkScreenFrame(const Ref<UIView>& view);
CGPoint wbsdkOrigin(const Ref<UIView>& view);
void setWbsdkOrigin(const Ref<UIView>& view, CGPoint origin);
CGSize wbsdkSize(const Ref<UIView>& view);
void setWbsdkSize(const Ref<UIView>& view, CGSize size);

// The view or the first descendant (depth first) of the kind.
template <class T>
Ref<T> wbsdk_descendantOrSelfWithClass(const Ref<UIView>& view) {
    if (!view) return nullptr;
    if (auto match = std::dynamic_pointer_cast<T>(view)) return match;
    for (const auto& sub : view->subviews())
        if (auto match = wbsdk_descendantOrSelfWithClass<T>(sub)) return match;
    return nullptr;
}
// The view or its nearest ancestor of the kind.
template <class T>
Ref<T> wbsdk_ancestorOrSelfWithClass(const Ref<UIView>& view) {
    for (auto v = view; v; v = v->superview())
        if (auto match = std::dynamic_pointer_cast<T>(v)) return match;
    return nullptr;
}
void wbsdk_removeAllSubviews(const Ref<UIView>& view);
// The sum of edges from the view up to (not including) the other view, or to the top.
CGPoint wbsdk_offsetFromView(const Ref<UIView>& view, const Ref<UIView>& other);
// The first view controller met walking up from the superview; the view's own is not asked.
Ref<UIViewController> wbsdk_viewController(const Ref<UIView>& view);
// Snapshots of the layer: at the screen's scale, or at 0.5; nil for an empty view.
Ref<UIImage> wbsdk_imageFromView(const Ref<UIView>& view);
Ref<UIImage> wbsdk_imageFromViewWithLowResolution(const Ref<UIView>& view);
Ref<UIImage> wbsdk_imageFromViewInRect(const Ref<UIView>& view, CGRect rect);
Ref<UIImage> wbsdk_imageFromViewWithLowResolutionInRect(const Ref<UIView>& view, CGRect rect);
// The frame converted up through the superviews until the stop view.
CGRect wbsdk_convertFrameToWindow(const Ref<UIView>& view, const Ref<UIView>& stopView);
// The rect grown by the offset on every side (the zero rect for an empty rect).
CGRect wbsdk_expandedFrameWithOffset(CGRect rect, CGFloat offset);
CGRect wbsdk_expandedFrameWithVerticalOffset(CGRect rect, CGFloat offset);
CGRect wbsdk_expandedFrameWithHorizontalOffset(CGRect rect, CGFloat offset);
// Answers nil.
inline Ref<UIView> wbsdk_viewForAnimation(const Ref<UIView>&) {
    return nullptr;
}

}  // namespace UIView_WBTSizes
