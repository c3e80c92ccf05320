#pragma once
// UIImage(ColorAtPixel): the colour of one pixel of a picture, as stored (premultiplied alpha), so
// that the studio can test a touch against a layer's visible pixels and read the colour wheel.
//
// The point is in picture points; a point outside (0, 0, width, height) gives nil. The pixel read
// is the one in column x and row y counted from the top, x and y times the picture's scale and
// truncated.

#include "graphics/CGGeometry.h"
#include "graphics/UIColor.h"
#include "graphics/UIImage.h"

namespace UIImage_ColorAtPixel {

Ref<UIColor> colorAtPixel(const Ref<UIImage>& image, CGPoint point);

}  // namespace UIImage_ColorAtPixel
