#pragma once
// UIScrollView(RMExtension): shorthands for one field of a scroll view's content inset, content
// offset and content size. Each setter reads the whole value, changes the one field and writes it
// back, so observers of the value hear every change (an offset set this way is announced like any
// other). Main thread only.

#include "graphics/CGGeometry.h"
#include "uikit/UIScrollView.h"

namespace UIScrollView_RMExtension {

CGFloat pr_insetT(const UIScrollView& scrollView);
void setPr_insetT(UIScrollView& scrollView, CGFloat top);
CGFloat pr_insetL(const UIScrollView& scrollView);
void setPr_insetL(UIScrollView& scrollView, CGFloat left);
CGFloat pr_insetB(const UIScrollView& scrollView);
void setPr_insetB(UIScrollView& scrollView, CGFloat bottom);
CGFloat pr_insetR(const UIScrollView& scrollView);
void setPr_insetR(UIScrollView& scrollView, CGFloat right);

CGFloat pr_offsetX(const UIScrollView& scrollView);
void setPr_offsetX(UIScrollView& scrollView, CGFloat x);
CGFloat pr_offsetY(const UIScrollView& scrollView);
void setPr_offsetY(UIScrollView& scrollView, CGFloat y);

CGFloat pr_contentW(const UIScrollView& scrollView);
void setPr_contentW(UIScrollView& scrollView, CGFloat width);
CGFloat pr_contentH(const UIScrollView& scrollView);
void setPr_contentH(UIScrollView& scrollView, CGFloat height);

}  // namespace UIScrollView_RMExtension
