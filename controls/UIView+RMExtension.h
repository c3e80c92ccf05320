#pragma once
// UIView(RMExtension): shorthands for one field of a view's frame, used by the refresh controls
// to place themselves. Each getter reads one field; each setter reads the whole frame, changes
// that field and writes the frame back (so it goes through setFrame and its side effects).
// Main thread only, like the views.

#include "graphics/CGGeometry.h"
#include "uikit/UIView.h"

namespace UIView_RMExtension {

CGFloat pr_x(const UIView& view);
void setPr_x(UIView& view, CGFloat x);
CGFloat pr_y(const UIView& view);
void setPr_y(UIView& view, CGFloat y);
CGFloat pr_w(const UIView& view);
void setPr_w(UIView& view, CGFloat width);
CGFloat pr_h(const UIView& view);
void setPr_h(UIView& view, CGFloat height);
CGSize pr_size(const UIView& view);
void setPr_size(UIView& view, CGSize size);
CGPoint pr_origin(const UIView& view);
void setPr_origin(UIView& view, CGPoint origin);

}  // namespace UIView_RMExtension
