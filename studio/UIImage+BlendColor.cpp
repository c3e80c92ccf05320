#include "studio/UIImage+BlendColor.h"

#include "gpu/core/GPXMonochromeFilter.h"

namespace UIImage_BlendColor {

Ref<UIImage> blendColor(const Ref<UIImage>& image, const Ref<UIColor>& color) {
    if (!image || !color) return nullptr;
    CGFloat red = 0, green = 0, blue = 0, alpha = 0;
    color->getRed(&red, &green, &blue, &alpha);
    auto filter = make<GPXMonochromeFilter>();
    filter->setColor(
        {static_cast<GLfloat>(red), static_cast<GLfloat>(green), static_cast<GLfloat>(blue), 1.0f});
    return filter->imageByFilteringImage(image);
}

}  // namespace UIImage_BlendColor
