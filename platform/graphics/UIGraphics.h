#pragma once
// The current graphics context and image contexts.
//
// Each thread has its own stack of contexts; UIGraphicsGetCurrentContext answers the top one
// (nullptr when the stack is empty). Drawing helpers that take no context (UIColor set,
// UIBezierPath fill, UIRectFill, string and image drawing) draw into it.
//
// An image context is a premultiplied BGRA bitmap context (opaque: no alpha, a skipped byte) of
// ceil(size x scale) pixels, initially transparent (black when opaque), whose user space is in
// points with a top-left origin: the CTM is pre-flipped and pre-scaled, so CGContextGetCTM
// answers (scale, 0, 0, -scale, 0, pixel height). A scale of 0 means the screen's scale
// (UIGraphicsSetDefaultScreenScale, 2 unless changed). An empty or invalid size pushes an entry
// with no context, so that the matching End still balances; drawing into it does nothing and its
// image is nil.

#include "graphics/CGContext.h"
#include "graphics/CGGeometry.h"

class UIImage;

CGContextRef UIGraphicsGetCurrentContext();
void UIGraphicsPushContext(const CGContextRef& context);
// Pops the top entry whatever it is (an image context too, which then cannot give its image).
void UIGraphicsPopContext();

void UIGraphicsBeginImageContext(CGSize size);
void UIGraphicsBeginImageContextWithOptions(CGSize size, bool opaque, CGFloat scale);
// The picture so far, with the context's scale and orientation up; nullptr when the top entry is
// not an image context.
Ref<UIImage> UIGraphicsGetImageFromCurrentImageContext();
// Pops the top entry when it is an image context.
void UIGraphicsEndImageContext();

// The scale that a scale of 0 stands for (the main screen's); must be positive.
void UIGraphicsSetDefaultScreenScale(CGFloat scale);
CGFloat UIGraphicsGetDefaultScreenScale();

// Fill and frame with the current context's fill colour. UIRectFill and UIRectFrame use the
// copy blend mode, as on the platform; the frame is one unit wide, inside the rectangle.
void UIRectFill(CGRect rect);
void UIRectFillUsingBlendMode(CGRect rect, CGBlendMode blendMode);
void UIRectFrame(CGRect rect);
void UIRectFrameUsingBlendMode(CGRect rect, CGBlendMode blendMode);
void UIRectClip(CGRect rect);

namespace detail {
// The scale of the top entry when it is an image context, otherwise 1.
CGFloat currentImageContextScale();
// UIGraphicsGetImageFromCurrentImageContext then UIGraphicsEndImageContext, where the picture
// takes the context's pixels without a copy when nothing else holds the context any more.
Ref<UIImage> endImageContextWithImage();
}  // namespace detail
