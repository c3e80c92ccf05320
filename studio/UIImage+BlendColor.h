#pragma once
// UIImage(BlendColor): a picture recoloured by the GPU tint (GPXMonochromeFilter) with a colour's
// red, green and blue. Unlike an option's tint it takes pictures of any width and leaves the
// framebuffer cache alone. Synchronous; nil for a nil picture or colour, or when the GPU gives
// nothing back.

#include "graphics/UIColor.h"
#include "graphics/UIImage.h"

namespace UIImage_BlendColor {

Ref<UIImage> blendColor(const Ref<UIImage>& image, const Ref<UIColor>& color);

}  // namespace UIImage_BlendColor
